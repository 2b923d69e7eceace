// libFuzzer target for the model file reader: whatever the bytes, reading delivers a model or
// raises one of the engine's exceptions. The inflate cap is lowered so that a small input
// cannot ask for gigabytes.
#include <cstddef>
#include <cstdint>

#include "framework/io/Stream.h"
#include "framework/rtl/Exceptions.h"
#include "framework/rtl/Log.h"
#include "lib/defs/DefTypesModel.h"
#include "lib/formats/q3m/Q3MLoader.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool setup = (Log::SetQuiet(true), TQuorvelLoaderQ3M::SetMaxInflatedSize(uint64_t(16) << 20), true);
  (void)setup;
  TBytesStream stream(TBytes(data, data + size));
  TQuorvelLoaderQ3M loader;
  try {
    TOwned<TModelDef> model(loader.LoadModelDefFromStream(&stream, TQuorvelLoadOptions::Create("fuzz.q3m", nullptr, nullptr)));
  } catch (const Exception&) {
  }
  return 0;
}
