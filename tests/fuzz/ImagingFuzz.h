// One body for the image codecs' libFuzzer targets: every input either loads (and its first
// image imports into a bitmap) or raises EImagingError; anything else (a crash, a sanitizer
// report, another exception) is a finding. The first byte picks the I/O set (even: memory
// block, odd: stream), so both readers are covered.
#pragma once

#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "framework/gui/Bitmap.h"
#include "framework/io/Stream.h"
#include "lib/formats/ImagingImport.h"

namespace quorvel::fuzz {

template <class TCodec>
int FuzzImageCodec(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  InitializeOnce();
  // Keeps hostile headers within what a fuzzer's memory limit allows.
  static const bool limited = (TBitmap::SetDecodeLimits(4096, int64_t(64) << 20), true);
  (void)limited;
  TOwned<TCodec> codec(New<TCodec>());
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

}  // namespace quorvel::fuzz
