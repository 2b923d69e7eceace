// libFuzzer target for the inventory file reader (the shared XML round trip).
#include "XmlRoundTripFuzz.h"
#include "lib/game/Inventory.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz::XmlRoundTrip<TQuorvelInventory>(data, size, [](TQuorvelInventory*) { return true; });
}
