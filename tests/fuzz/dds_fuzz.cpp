// libFuzzer target for the DDS codec and the import of its first image into a
// bitmap. Every input either loads (and imports) or raises EImagingError; anything else (a
// crash, a sanitizer report, another exception) is a finding. The first byte picks the I/O
// set (even: memory block, odd: stream), so both readers are covered.
#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "framework/gui/Bitmap.h"
#include "framework/io/Stream.h"
#include "lib/formats/ImagingImport.h"
#include "lib/formats/ImagingDDS.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  quorvel::fuzz::InitializeOnce();
  // Keeps hostile headers within what a fuzzer's memory limit allows.
  static const bool limited = (TBitmap::SetDecodeLimits(4096, int64_t(64) << 20), true);
  (void)limited;
  TOwned<TDDSFileFormat> codec(New<TDDSFileFormat>());
  TDynImageDataArray images;
  try {
    bool loaded;
    if (data[0] & 1) {
      TBytesStream stream(TBytes(data + 1, data + size));
      loaded = codec->LoadFromStream(&stream, images);
    } else {
      loaded = codec->LoadFromMemory(data + 1, int64_t(size - 1), images);
    }
    if (loaded && !images.empty()) {
      TOwned<TBitmap> bitmap(New<TBitmap>());
      ImportImageToBitmap(images[0], bitmap.get());
    }
  } catch (const EImagingError&) {
  }
  ReleaseImageArray(images);
  return 0;
}
