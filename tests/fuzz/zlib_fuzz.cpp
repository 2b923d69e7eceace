// libFuzzer target for zlib and gzip streams: the one-shot decompressor and the
// decompression stream (read to the end, seek back and forward) agree, and corrupt data
// raises EZDecompressionError in both. Data that inflates compresses and inflates back unchanged.
#include <cstdlib>
#include <memory>

#include "FuzzSupport.h"
#include "framework/io/Stream.h"
#include "framework/io/ZLib.h"
#include "framework/rtl/Exceptions.h"

using namespace quorvel;

namespace {
constexpr int64_t kMaxOut = 256 << 10;  // inflating past this is a bomb; stop reading there
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TBytes streamed;
  bool streamFailed = false;
  try {
    TBytesStream source(TBytes(data, data + size));
    TZDecompressionStream z(&source);
    uint8_t buffer[4096];
    for (;;) {
      const int64_t n = z.Read(buffer, sizeof buffer);
      if (n < 0 || n > int64_t(sizeof buffer)) std::abort();
      if (n == 0) break;
      streamed.insert(streamed.end(), buffer, buffer + n);
      if (int64_t(streamed.size()) > kMaxOut) return 0;
    }
    if (z.GetPosition() != int64_t(streamed.size())) std::abort();
    // Backwards restarts from the first byte: the same data comes again.
    if (!streamed.empty()) {
      const int64_t middle = int64_t(streamed.size()) / 2;
      z.SetPosition(middle);
      uint8_t b = 0;
      if (z.Read(&b, 1) != 1 || b != streamed[size_t(middle)]) std::abort();
    }
  } catch (const EZDecompressionError&) {
    streamFailed = true;
  }

  bool wholeFailed = false;
  try {
    const TBytes whole = ZDecompress(data, size);
    if (!streamFailed && whole != streamed) std::abort();
  } catch (const EZDecompressionError&) {
    wholeFailed = true;
  }
  if (wholeFailed != streamFailed) std::abort();

  if (!streamFailed && !streamed.empty() && streamed.size() <= 65536) {
    const TBytes packed = ZCompress(streamed, clFastest);
    if (ZDecompress(packed) != streamed) std::abort();
  }
  return 0;
}
