#include "tests/support/GoldenImage.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "framework/gui/Bitmap.h"
#include "framework/io/Path.h"
#include "framework/rtl/Exceptions.h"

namespace quorvel {

namespace {

bool UpdateRequested() {
  const char* v = std::getenv("QUORVEL_UPDATE_GOLDEN");
  return v && std::string(v) == "1";
}

std::string ActualPath(const std::string& goldenPath) {
  return TPath::Combine(TPath::GetTempPath(), std::filesystem::path(goldenPath).stem().string() + ".actual.png");
}

}  // namespace

void SavePng(const std::vector<TRGBA8>& pixels, int32_t width, int32_t height, const std::string& path) {
  if (width <= 0 || height <= 0 || pixels.size() != size_t(width) * size_t(height))
    throw EArgumentException("SavePng: pixel count does not match the size");
  TOwned<TBitmap> bitmap(New<TBitmap>(width, height));
  TBitmapData data;
  if (!bitmap->Map(TMapAccess::Write, data)) throw EInvalidOperation("SavePng: cannot map the bitmap");
  for (int32_t y = 0; y < height; ++y) {
    auto* row = static_cast<uint32_t*>(data.GetScanline(y));
    for (int32_t x = 0; x < width; ++x) {
      const TRGBA8 p = pixels[size_t(height - 1 - y) * size_t(width) + size_t(x)];
      row[x] = uint32_t(p.A) << 24 | uint32_t(p.R) << 16 | uint32_t(p.G) << 8 | uint32_t(p.B);
    }
  }
  bitmap->Unmap(data);
  bitmap->SaveToFile(path);
}

std::vector<TRGBA8> LoadPng(const std::string& path, int32_t& width, int32_t& height) {
  TOwned<TBitmap> bitmap(New<TBitmap>());
  bitmap->LoadFromFile(path);
  width = bitmap->GetWidth();
  height = bitmap->GetHeight();
  const std::vector<uint8_t>& bgra = bitmap->Pixels();
  std::vector<TRGBA8> pixels(size_t(width) * size_t(height));
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      const uint8_t* s = &bgra[(size_t(y) * size_t(width) + size_t(x)) * 4];
      pixels[size_t(height - 1 - y) * size_t(width) + size_t(x)] = {s[2], s[1], s[0], s[3]};
    }
  return pixels;
}

::testing::AssertionResult MatchesGoldenImage(const std::vector<TRGBA8>& pixels, int32_t width, int32_t height,
                                              const std::string& goldenPath, TGoldenTolerance tolerance) {
  if (pixels.size() != size_t(width) * size_t(height))
    return ::testing::AssertionFailure() << "the frame holds " << pixels.size() << " pixels, not " << width << "x"
                                         << height;
  auto update = [&] {
    SavePng(pixels, width, height, goldenPath);
    return ::testing::AssertionSuccess() << "golden image written: " << goldenPath;
  };
  if (!std::filesystem::exists(goldenPath)) {
    if (UpdateRequested()) return update();
    return ::testing::AssertionFailure() << "no golden image " << goldenPath
                                         << " (QUORVEL_UPDATE_GOLDEN=1 writes it from this frame)";
  }
  int32_t gw = 0, gh = 0;
  const std::vector<TRGBA8> golden = LoadPng(goldenPath, gw, gh);
  std::ostringstream why;
  if (gw != width || gh != height) {
    why << "size " << width << "x" << height << " differs from the golden " << gw << "x" << gh;
  } else {
    size_t off = 0;
    int worst = 0;
    int32_t worstX = 0, worstY = 0;
    for (int32_t y = 0; y < height; ++y)
      for (int32_t x = 0; x < width; ++x) {
        const size_t i = size_t(y) * size_t(width) + size_t(x);
        const TRGBA8 a = pixels[i], g = golden[i];
        const int d = std::max({std::abs(a.R - g.R), std::abs(a.G - g.G), std::abs(a.B - g.B), std::abs(a.A - g.A)});
        if (d <= tolerance.Channel) continue;
        ++off;
        if (d > worst) {
          worst = d;
          worstX = x;
          worstY = y;
        }
      }
    if (off <= tolerance.OffPixels) return ::testing::AssertionSuccess();
    const TRGBA8 a = pixels[size_t(worstY) * size_t(width) + size_t(worstX)];
    const TRGBA8 g = golden[size_t(worstY) * size_t(width) + size_t(worstX)];
    why << off << " pixel(s) differ by more than " << tolerance.Channel << " (" << tolerance.OffPixels
        << " allowed); the worst at (" << worstX << "," << worstY << ") from the bottom left: rgba(" << int(a.R) << ","
        << int(a.G) << "," << int(a.B) << "," << int(a.A) << ") against rgba(" << int(g.R) << "," << int(g.G) << ","
        << int(g.B) << "," << int(g.A) << ")";
  }
  if (UpdateRequested()) return update();
  const std::string actual = ActualPath(goldenPath);
  SavePng(pixels, width, height, actual);
  return ::testing::AssertionFailure() << goldenPath << ": " << why.str() << "; the frame is in " << actual;
}

}  // namespace quorvel
