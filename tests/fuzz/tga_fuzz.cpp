// libFuzzer target for the TGA codec and the import of its first image into a bitmap.
#include "ImagingFuzz.h"
#include "lib/formats/ImagingTGA.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return quorvel::fuzz::FuzzImageCodec<quorvel::TTargaFileFormat>(data, size);
}
