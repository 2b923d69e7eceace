// libFuzzer target for the skill system file reader. Whatever the input, loading either fails
// with an exception or fills the system, and a loaded system saves and loads again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FuzzSupport.h"
#include "framework/io/Stream.h"
#include "lib/game/SkillSystem.h"
#include "lib/game/XmlDocument.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::InitializeOnce();
  TOwned<TQuorvelSkillSystem> system(New<TQuorvelSkillSystem>(nullptr));
  TOwned<TBytesStream> in(New<TBytesStream>(TBytes(data, data + size)));
  try {
    system->LoadFromStream(in.get());
  } catch (const Exception&) {
    return 0;
  }
  TOwned<TBytesStream> out(New<TBytesStream>());
  try {
    system->SaveToStream(out.get());
  } catch (const EMz_XmlStoringError&) {
    return 0;  // texts no XML form can hold are refused, not written
  }
  out->SetPosition(0);
  TOwned<TQuorvelSkillSystem> again(New<TQuorvelSkillSystem>(nullptr));
  try {
    again->LoadFromStream(out.get());
  } catch (const Exception&) {
    std::abort();  // what was saved must load
  }
  return 0;
}
