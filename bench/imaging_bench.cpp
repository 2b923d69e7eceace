// TGA decoding from memory against stb_image's stbi_load_from_memory on the same bytes (native
// channels, so neither side converts), plain and run-length encoded, 4096² 32-bit; block
// decoding (DXT1, DXT5) in pixels per second; and 4096² → 1024² resampling with the bilinear
// and bicubic kernels.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_NO_STDIO
#define STBI_ONLY_TGA
#include <stb/stb_image.h>

#include "framework/io/Stream.h"
#include "framework/rtl/Thread.h"
#include "framework/rtl/Units.h"
#include "lib/formats/ImagingTGA.h"

namespace {

using namespace quorvel;

constexpr int kSide = 4096;

void InitOnce() {
  static bool initialized = [] {
    SetMainThread();
    InitializeUnits();
    return true;
  }();
  (void)initialized;
}

// Photo-like content with flat stretches, so that run-length encoding has runs to find.
TImageData Source(int side) {
  InitOnce();
  TImageData img{};
  AllocateImageData(side, side, TImageFormat::A8R8G8B8, img);
  std::mt19937 rng(7);
  auto* p = static_cast<uint32_t*>(img.Bits);
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x)
      p[size_t(y) * side + x] = ((x / 64 + y / 64) & 1) ? 0xFF336699u : 0xFF000000u | uint32_t(rng() & 0xFFFFFF);
  return img;
}

const std::vector<uint8_t>& TgaFile(bool rle) {
  static std::vector<uint8_t> files[2];
  std::vector<uint8_t>& f = files[rle];
  if (f.empty()) {
    TDynImageDataArray images{Source(kSide)};
    TOwned<TTargaFileFormat> tga(New<TTargaFileFormat>());
    tga->SetUseRLE(rle);
    TBytesStream s;
    tga->SaveToStream(&s, images);
    f = s.GetBytes();
    ReleaseImageArray(images);
  }
  return f;
}

void BM_TgaDecode_Ours(benchmark::State& state) {
  const auto& file = TgaFile(state.range(0) != 0);
  TOwned<TTargaFileFormat> tga(New<TTargaFileFormat>());
  for (auto _ : state) {
    TDynImageDataArray images;
    tga->LoadFromMemory(file.data(), int64_t(file.size()), images);
    benchmark::DoNotOptimize(images[0].Bits);
    ReleaseImageArray(images);
  }
  state.SetItemsProcessed(state.iterations() * int64_t(kSide) * kSide);
}
BENCHMARK(BM_TgaDecode_Ours)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_TgaDecode_StbImage(benchmark::State& state) {
  const auto& file = TgaFile(state.range(0) != 0);
  for (auto _ : state) {
    int w, h, n;
    uint8_t* p = stbi_load_from_memory(file.data(), int(file.size()), &w, &h, &n, 0);
    benchmark::DoNotOptimize(p);
    stbi_image_free(p);
  }
  state.SetItemsProcessed(state.iterations() * int64_t(kSide) * kSide);
}
BENCHMARK(BM_TgaDecode_StbImage)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_BlockDecode(benchmark::State& state) {
  const TImageFormat format = state.range(0) == 1 ? TImageFormat::DXT1 : TImageFormat::DXT5;
  static TImageData source = Source(2048);
  TImageData blocks{};
  DuplicateImageData(source, blocks);
  ChangeImageFormat(blocks, format);
  std::vector<uint8_t> out(size_t(2048) * 2048 * 4);
  for (auto _ : state) {
    DecodeBlockImage(format, blocks.Bits, 2048, 2048, out.data());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * 2048 * 2048);
  state.SetLabel(format == TImageFormat::DXT1 ? "DXT1" : "DXT5");
  ReleaseImageData(blocks);
}
BENCHMARK(BM_BlockDecode)->Arg(1)->Arg(5)->Unit(benchmark::kMillisecond);

void BM_Resample4096To1024(benchmark::State& state) {
  static TImageData source = Source(kSide);
  const auto mode = state.range(0) == 1 ? TImageStretchMode::Bilinear : TImageStretchMode::Bicubic;
  for (auto _ : state) {
    TImageData img{};
    AllocateImageData(1024, 1024, TImageFormat::A8R8G8B8, img);
    StretchImageArea(source, 0, 0, kSide, kSide, img, 0, 0, 1024, 1024, mode);
    benchmark::DoNotOptimize(img.Bits);
    ReleaseImageData(img);
  }
  state.SetLabel(mode == TImageStretchMode::Bilinear ? "Bilinear" : "Bicubic");
}
BENCHMARK(BM_Resample4096To1024)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
