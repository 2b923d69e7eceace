// libFuzzer target for the XML document parser: any bytes either load or raise
// EMz_XmlParseError; a loaded tree either saves or raises EMz_XmlStoringError, and what it
// saves loads again and saves to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "FuzzSupport.h"
#include "lib/game/XmlDocument.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::InitializeOnce();
  TMz_XmlDocument doc;
  try {
    doc.loadFromBytes(TBytes(data, data + size));
  } catch (const EMz_XmlParseError&) {
    if (doc.root()) std::abort();  // a failed first load leaves no root
    return 0;
  }
  for (bool pretty : {false, true}) {
    TBytes saved;
    try {
      saved = doc.saveToBytes(pretty);
    } catch (const EMz_XmlStoringError&) {
      return 0;
    }
    if (saved.empty()) continue;
    TMz_XmlDocument again;
    again.loadFromBytes(saved);
    if (again.saveToBytes(pretty) != saved) std::abort();
  }
  return 0;
}
