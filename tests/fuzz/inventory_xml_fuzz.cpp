// libFuzzer target for the inventory file reader. Whatever the input, loading either fails
// with an exception or fills the inventory; a loaded inventory saves, and from the second save
// on saving and loading again give the same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FuzzSupport.h"
#include "framework/io/Stream.h"
#include "lib/game/Inventory.h"
#include "lib/game/XmlDocument.h"

using namespace quorvel;

namespace {

bool Read(const std::string& AText, TQuorvelInventory* AInventory) {
  TOwned<TBytesStream> in(New<TBytesStream>(TBytes(AText.begin(), AText.end())));
  try {
    AInventory->LoadFromStream(in.get());
  } catch (const Exception&) {
    return false;
  }
  return true;
}

bool Write(TQuorvelInventory* AInventory, std::string& AText) {
  TOwned<TBytesStream> out(New<TBytesStream>());
  try {
    AInventory->SaveToStream(out.get());
  } catch (const EMz_XmlStoringError&) {
    return false;  // texts no XML form can hold are refused, not written
  }
  const TBytes& bytes = out->GetBytes();
  AText.assign(bytes.begin(), bytes.begin() + out->GetSize());
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::InitializeOnce();
  const std::string text(reinterpret_cast<const char*>(data), size);
  TOwned<TQuorvelInventory> first(New<TQuorvelInventory>(nullptr));
  if (!Read(text, first.get())) return 0;
  std::string saved1, saved2, saved3;
  if (!Write(first.get(), saved1)) return 0;
  TOwned<TQuorvelInventory> second(New<TQuorvelInventory>(nullptr));
  if (!Read(saved1, second.get()) || !Write(second.get(), saved2)) std::abort();
  TOwned<TQuorvelInventory> third(New<TQuorvelInventory>(nullptr));
  if (!Read(saved2, third.get()) || !Write(third.get(), saved3) || saved2 != saved3) std::abort();
  return 0;
}
