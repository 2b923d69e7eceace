// Image decoding into BGRA through TBitmap (libjpeg-turbo, libpng) against stb_image's
// decoder on the same bytes, as the peer: stb decodes to RGBA only, so its figure leaves
// out the swizzle to BGRA that the bitmap's result includes. Photo-like 1024x768 content
// (gradients and noise), JPEG at quality 90 and PNG, both written by the bitmap's encoder.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_NO_STDIO
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#include <stb/stb_image.h>

#include "framework/gui/Bitmap.h"
#include "framework/rtl/Thread.h"
#include "framework/rtl/Units.h"

namespace {

using namespace quorvel;

constexpr int kWidth = 1024, kHeight = 768;

std::vector<uint8_t> EncodedImage(const char* extension) {
  static bool initialized = [] {
    SetMainThread();
    InitializeUnits();
    return true;
  }();
  (void)initialized;
  TOwned<TBitmap> image(New<TBitmap>(kWidth, kHeight));
  TBitmapData data;
  image->Map(TMapAccess::Write, data);
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> noise(-12, 12);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      auto clamp = [](int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); };
      data.SetPixel(x, y, MakeAlphaColor(clamp(x / 4 + noise(rng)), clamp(y / 3 + noise(rng)),
                                         clamp(((x ^ y) & 63) * 3 + noise(rng)), 255));
    }
  image->Unmap(data);
  const auto path = std::filesystem::temp_directory_path() / (std::string("quorvel-bitmap-bench") + extension);
  image->SaveToFile(path.string());
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::filesystem::remove(path);
  return bytes;
}

const std::vector<uint8_t>& Jpeg() {
  static const std::vector<uint8_t> bytes = EncodedImage(".jpg");
  return bytes;
}
const std::vector<uint8_t>& Png() {
  static const std::vector<uint8_t> bytes = EncodedImage(".png");
  return bytes;
}

void DecodeBitmap(benchmark::State& state, const std::vector<uint8_t>& bytes) {
  TOwned<TBitmap> bitmap(New<TBitmap>());
  for (auto _ : state) {
    bitmap->LoadFromBytes(bytes);
    benchmark::DoNotOptimize(bitmap->Pixels().data());
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
  state.counters["file_KiB"] = double(bytes.size()) / 1024;
}

void DecodeStb(benchmark::State& state, const std::vector<uint8_t>& bytes) {
  for (auto _ : state) {
    int w = 0, h = 0, comp = 0;
    stbi_uc* pixels = stbi_load_from_memory(bytes.data(), int(bytes.size()), &w, &h, &comp, 4);
    if (pixels == nullptr || w != kWidth) state.SkipWithError("stb failed");
    benchmark::DoNotOptimize(pixels);
    stbi_image_free(pixels);
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

void BM_JpegDecodeBitmap(benchmark::State& state) { DecodeBitmap(state, Jpeg()); }
void BM_PeerJpegDecodeStb(benchmark::State& state) { DecodeStb(state, Jpeg()); }
void BM_PngDecodeBitmap(benchmark::State& state) { DecodeBitmap(state, Png()); }
void BM_PeerPngDecodeStb(benchmark::State& state) { DecodeStb(state, Png()); }

BENCHMARK(BM_JpegDecodeBitmap)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PeerJpegDecodeStb)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngDecodeBitmap)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PeerPngDecodeStb)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
