// libFuzzer target for image decoding (PNG, JPEG, GIF, BMP and whatever is registered):
// any input loads or raises EBitmapLoadingFailed, and a failed load leaves the bitmap as
// it was. QUORVEL_FUZZ_PREFIX=BM (for instance) skips inputs that do not start with it, to
// spend a run on one format's reader.
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>

#include "FuzzSupport.h"
#include "framework/gui/Bitmap.h"
#include "framework/rtl/Exceptions.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::InitializeOnce();
  static const std::string prefix = std::getenv("QUORVEL_FUZZ_PREFIX") ? std::getenv("QUORVEL_FUZZ_PREFIX") : "";
  if (size < prefix.size() || std::memcmp(data, prefix.data(), prefix.size()) != 0) return 0;
  // Small limits keep each run fast; the checks are the same at any limit.
  TBitmap::SetDecodeLimits(2048, int64_t(16) << 20);
  TOwned<TBitmap> bitmap(New<TBitmap>(3, 2));
  bitmap->Clear(MakeAlphaColor(1, 2, 3, 4));
  const std::vector<uint8_t> before = bitmap->Pixels();
  try {
    bitmap->LoadFromBytes(std::span<const uint8_t>(data, size));
  } catch (const EBitmapLoadingFailed&) {
    if (bitmap->GetWidth() != 3 || bitmap->GetHeight() != 2 || bitmap->Pixels() != before) std::abort();
    return 0;
  }
  const int64_t w = bitmap->GetWidth(), h = bitmap->GetHeight();
  if (w <= 0 || h <= 0 || w > 2048 || h > 2048 || bitmap->Pixels().size() != size_t(w * h * 4)) std::abort();
  return 0;
}
