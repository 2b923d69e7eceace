// libFuzzer target for the OBJ and MTL readers. The first byte picks the reader (even: OBJ
// text, odd: an MTL library); the rest is the text. Every input either loads or raises one of
// the engine's exceptions; anything else (a crash, a sanitizer report, another exception)
// is a finding. Material libraries and textures named by the text are looked up in the
// current folder, so run it in an empty one.
#include <cstddef>
#include <cstdint>

#include "framework/io/Stream.h"
#include "framework/rtl/Exceptions.h"
#include "framework/rtl/Log.h"
#include "lib/formats/obj/OBJModel.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const bool quiet = (Log::SetQuiet(true), true);
  (void)quiet;
  TBytesStream stream(TBytes(data + 1, data + size));
  TOwned<TOBJModel> model(New<TOBJModel>(nullptr, nullptr));
  try {
    if (data[0] & 1)
      model->LoadMaterialLibrary(&stream);
    else
      model->LoadFromStream(&stream, "fuzz.obj");
  } catch (const Exception&) {
  }
  return 0;
}
