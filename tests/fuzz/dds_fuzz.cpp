// libFuzzer target for the DDS codec and the import of its first image into a bitmap.
#include "ImagingFuzz.h"
#include "lib/formats/ImagingDDS.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return quorvel::fuzz::FuzzImageCodec<quorvel::TDDSFileFormat>(data, size);
}
