// libFuzzer target for the dialogue file reader (the shared XML round trip).
#include "XmlRoundTripFuzz.h"
#include "lib/game/DialogueXml.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A file with dialogues always reads back; one without them fails as the original did.
  return fuzz::XmlRoundTrip<TQuorvelDialogueSystem>(
      data, size, [](TQuorvelDialogueSystem* AFirst) { return AFirst->Dialogues()->Count() > 0; });
}
