// libFuzzer target for the dialogue file reader. Whatever the input, reading either fails with
// an exception or fills the system; a system that was read saves, and from the second save on
// saving and reading again give the same text (the first save may still change typed values).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FuzzSupport.h"
#include "framework/io/Stream.h"
#include "lib/game/DialogueXml.h"
#include "lib/game/XmlDocument.h"

using namespace quorvel;

namespace {

bool Read(const std::string& AText, TQuorvelDialogueSystem* ASystem) {
  TOwned<TBytesStream> in(New<TBytesStream>(TBytes(AText.begin(), AText.end())));
  try {
    ASystem->LoadFromStream(in.get());
  } catch (const Exception&) {
    return false;
  }
  return true;
}

bool Write(TQuorvelDialogueSystem* ASystem, std::string& AText) {
  TOwned<TBytesStream> out(New<TBytesStream>());
  try {
    ASystem->SaveToStream(out.get());
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
  TOwned<TQuorvelDialogueSystem> first(New<TQuorvelDialogueSystem>(nullptr));
  if (!Read(text, first.get())) return 0;
  std::string saved1, saved2, saved3;
  if (!Write(first.get(), saved1)) return 0;
  TOwned<TQuorvelDialogueSystem> second(New<TQuorvelDialogueSystem>(nullptr));
  // A file with dialogues always reads back; one without them fails as the original did.
  if (!Read(saved1, second.get())) {
    if (first->Dialogues()->Count() > 0) std::abort();
    return 0;
  }
  if (!Write(second.get(), saved2)) std::abort();
  TOwned<TQuorvelDialogueSystem> third(New<TQuorvelDialogueSystem>(nullptr));
  if (!Read(saved2, third.get()) || !Write(third.get(), saved3) || saved2 != saved3) std::abort();
  return 0;
}
