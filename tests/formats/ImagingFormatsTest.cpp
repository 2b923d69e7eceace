// Pixel formats, block formats, resampling, I/O sets and the image-record routines.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "framework/io/Stream.h"
#include "lib/formats/Imaging.h"
#include "lib/formats/ImagingFormats.h"
#include "lib/formats/ImagingIO.h"
#include "lib/formats/ImagingUtility.h"

using namespace quorvel;
using F = TImageFormat;

namespace {

const TImageFormatDescriptor& Descriptor(F f) { return *ImageFormatDescriptor(f); }

TImageData Make(int32_t w, int32_t h, F f) {
  TImageData img{};
  EXPECT_TRUE(AllocateImageData(w, h, f, img));
  return img;
}

struct ImageGuard {
  TImageData& Image;
  ~ImageGuard() { ReleaseImageData(Image); }
};

uint32_t Pixel32(const TImageData& img, int32_t x, int32_t y) {
  return ReadPixel32(static_cast<uint8_t*>(img.Bits) + (int64_t(y) * img.Width + x) * Descriptor(img.Format).PixelSize,
                     Descriptor(img.Format), img.Palette);
}

const F Ordinary[] = {F::Gray8,     F::A8Gray8,   F::Gray16,       F::Gray32,        F::Gray64,       F::A16Gray16,
                      F::X5R1G1B1,  F::R3G3B2,    F::R5G6B5,       F::A1R5G5B5,      F::A4R4G4B4,     F::X1R5G5B5,
                      F::X4R4G4B4,  F::R8G8B8,    F::A8R8G8B8,     F::X8R8G8B8,      F::R16G16B16,    F::A16R16G16B16,
                      F::B16G16R16, F::A16B16G16R16, F::R32F,      F::A32R32G32B32F, F::A32B32G32R32F, F::R16F,
                      F::A16R16G16B16F, F::A16B16G16R16F, F::Index8};

// Pairs whose second conversion is exact on the first one's results. Left out: the one-channel
// float formats with anything else (they keep red only, and gray reads them through the
// luminance), gray with the packed colours (the luminance of channels of unequal depth
// lands between their steps), and indexed with gray-and-alpha (the gray ramp is opaque).
bool RoundTripHolds(F a, F b) {
  const bool redOnlyA = a == F::R32F || a == F::R16F, redOnlyB = b == F::R32F || b == F::R16F;
  if (redOnlyA != redOnlyB) return false;
  if ((Descriptor(a).IsGray && Descriptor(b).IsPacked) || (Descriptor(b).IsGray && Descriptor(a).IsPacked)) return false;
  if ((a == F::Index8 && Descriptor(b).IsGray && Descriptor(b).HasAlpha) || (b == F::Index8 && Descriptor(a).IsGray && Descriptor(a).HasAlpha))
    return false;
  return true;
}

}  // namespace

TEST(ImagingFormats, PackedChannelsReachFullRangeAndConversionCases) {
  struct Case {
    F From;
    std::vector<uint8_t> Pixel;
    uint32_t Expected;  // A8R8G8B8
  } cases[] = {
      {F::R5G6B5, {0xFF, 0xFF}, 0xFFFFFFFF},     // white stays white
      {F::A1R5G5B5, {0x00, 0xFC}, 0xFFFF0000},   // opaque red
      {F::A4R4G4B4, {0x0F, 0xF0}, 0xFF0000FF},   // opaque blue
      {F::X1R5G5B5, {0xE0, 0x03}, 0xFF00FF00},   // green, alpha from nothing
      {F::R8G8B8, {1, 2, 3}, 0xFF030201},
      {F::Gray8, {0x80}, 0xFF808080},
      {F::A8Gray8, {0x40, 0x20}, 0x20404040},
  };
  for (const Case& c : cases) {
    TImageData img = Make(1, 1, c.From);
    ImageGuard g{img};
    std::memcpy(img.Bits, c.Pixel.data(), c.Pixel.size());
    ASSERT_TRUE(ChangeImageFormat(img, F::A8R8G8B8));
    uint32_t v;
    std::memcpy(&v, img.Bits, 4);
    EXPECT_EQ(v, c.Expected) << ImageFormatName(c.From);
  }
}

TEST(ImagingFormats, NamedConversions) {
  {  // X8R8G8B8 keeps the alpha byte
    TImageData img = Make(1, 1, F::A8R8G8B8);
    ImageGuard g{img};
    const uint32_t v = 0x80112233;
    std::memcpy(img.Bits, &v, 4);
    ChangeImageFormat(img, F::X8R8G8B8);
    EXPECT_EQ(static_cast<uint8_t*>(img.Bits)[3], 0x80);
  }
  {  // swapped twins exchange red and blue words only
    TImageData img = Make(1, 1, F::A16R16G16B16);
    ImageGuard g{img};
    const uint16_t w[4] = {1, 2, 3, 4};
    std::memcpy(img.Bits, w, 8);
    void* before = img.Bits;
    ChangeImageFormat(img, F::A16B16G16R16);
    const uint16_t* r = static_cast<uint16_t*>(img.Bits);
    EXPECT_EQ(img.Bits, before);
    EXPECT_EQ(r[0], 3);
    EXPECT_EQ(r[1], 2);
    EXPECT_EQ(r[2], 1);
    EXPECT_EQ(r[3], 4);
  }
  {  // Gray16 0x1234 -> 0x12 -> 0x1200
    TImageData img = Make(1, 1, F::Gray16);
    ImageGuard g{img};
    *static_cast<uint16_t*>(img.Bits) = 0x1234;
    ChangeImageFormat(img, F::Gray8);
    EXPECT_EQ(*static_cast<uint8_t*>(img.Bits), 0x12);
    ChangeImageFormat(img, F::Gray16);
    EXPECT_EQ(*static_cast<uint16_t*>(img.Bits), 0x1200);
  }
  {  // the same format: True, buffers untouched
    TImageData img = Make(2, 2, F::R8G8B8);
    ImageGuard g{img};
    void* bits = img.Bits;
    EXPECT_TRUE(ChangeImageFormat(img, F::R8G8B8));
    EXPECT_EQ(img.Bits, bits);
  }
}

TEST(ImagingFormats, HalfFloats) {
  EXPECT_EQ(HalfToSingle(0x3C00), 1.0f);
  EXPECT_EQ(SingleToHalf(1.0f), 0x3C00);
  EXPECT_EQ(SingleToHalf(65520.0f), 0x7C00);  // halfway to the next step rounds up to infinity
  EXPECT_EQ(SingleToHalf(65504.0f), 0x7BFF);
  EXPECT_EQ(SingleToHalf(1.0e-8f), 0x0000);
  EXPECT_EQ(SingleToHalf(-1.0e-8f), 0x8000);
  EXPECT_TRUE(std::isnan(HalfToSingle(SingleToHalf(NAN))));
  EXPECT_EQ(HalfToSingle(0x0001), std::ldexp(1.0f, -24));
  for (uint32_t h = 0; h < 0x10000; ++h) {
    if ((h & 0x7C00) == 0x7C00 && (h & 0x3FF)) continue;  // NaN payloads
    ASSERT_EQ(SingleToHalf(HalfToSingle(uint16_t(h))), h) << h;
  }
}

TEST(ImagingFormats, MedianCutKeepsFewColoursExactly) {
  TImageData img = Make(4, 4, F::A8R8G8B8);
  ImageGuard g{img};
  const uint32_t colours[3] = {0xFFFF0000, 0xFF00FF00, 0x800000FF};
  auto* p = static_cast<uint32_t*>(img.Bits);
  for (int i = 0; i < 16; ++i) p[i] = colours[i % 3];
  ASSERT_TRUE(ChangeImageFormat(img, F::Index8));
  for (int i = 0; i < 16; ++i) EXPECT_EQ(Pixel32(img, i % 4, i / 4), colours[i % 3]) << i;
  int black = 0;
  for (int i = 0; i < 256; ++i) black += img.Palette[i].Color == 0xFF000000;
  EXPECT_EQ(black, 253);
}

TEST(ImagingFormats, NearestPaletteIndex) {
  TColor32Rec pal[2];
  pal[0].Color = 0xFF000000;
  pal[1].Color = 0x00FFFFFF;
  EXPECT_EQ(NearestPaletteIndex(pal, 2, 0x00FFFFFF), 1);
  EXPECT_EQ(NearestPaletteIndex(pal, 2, 0xFF101010), 0);
  TColor32Rec far[1];
  far[0].Color = 0;
  EXPECT_EQ(NearestPaletteIndex(far, 1, 0xFFFFFFFF), -1);  // every entry at distance 1020
}

// A -> B -> A -> B reads the same colours as A -> B, for every pair of ordinary formats.
TEST(ImagingFormats, ConversionsAreStableAfterOneRoundTrip) {
  std::mt19937 rng(5);
  for (F a : Ordinary) {
    for (F b : Ordinary) {
      if (a == b || !RoundTripHolds(a, b)) continue;
      TImageData src = Make(8, 2, a);
      ImageGuard gs{src};
      auto* bytes = static_cast<uint8_t*>(src.Bits);
      for (int32_t i = 0; i < src.Size; ++i) bytes[i] = uint8_t(rng());
      if (Descriptor(a).IsFloat) {  // finite values in 0..1
        for (int32_t i = 0; i < 16; ++i) {
          TColorFPRec c{float(rng() % 256) / 255, float(rng() % 256) / 255, float(rng() % 256) / 255,
                        float(rng() % 256) / 255};
          WritePixelFloat(bytes + i * Descriptor(a).PixelSize, Descriptor(a), nullptr, c);
        }
      }
      if (src.Palette)
        for (int i = 0; i < 256; ++i) src.Palette[i].Color = uint32_t(rng());
      TImageData once{}, thrice{};
      ImageGuard g1{once}, g3{thrice};
      DuplicateImageData(src, once);
      ChangeImageFormat(once, b);
      DuplicateImageData(once, thrice);
      ChangeImageFormat(thrice, a);
      ChangeImageFormat(thrice, b);
      const int tolerance = 1;
      for (int32_t i = 0; i < 16; ++i) {
        const uint32_t x = Pixel32(once, i % 8, i / 8), y = Pixel32(thrice, i % 8, i / 8);
        int worst = 0;
        for (int ch = 0; ch < 4; ++ch)
          worst = std::max(worst, std::abs(int((x >> (8 * ch)) & 255) - int((y >> (8 * ch)) & 255)));
        if (worst > tolerance) {
          ADD_FAILURE() << ImageFormatName(a) << " -> " << ImageFormatName(b) << " pixel " << i << std::hex << " "
                        << x << " " << y;
          break;
        }
      }
    }
  }
}

// ---------------------------------------------------------------------------------------
// Blocks, checked against the test's own use of the decoding formulas.

namespace {

std::array<uint32_t, 16> DecodeOne(F f, const std::vector<uint8_t>& block) {
  std::array<uint32_t, 16> out{};
  if (f == F::BTC || f == F::ATI1N) {
    uint8_t g[16];
    DecodeBlockImage(f, block.data(), 4, 4, g);
    for (int i = 0; i < 16; ++i) out[size_t(i)] = g[i];
  } else {
    DecodeBlockImage(f, block.data(), 4, 4, out.data());
  }
  return out;
}

uint32_t Rgb565(uint16_t c) {
  const uint32_t r = ((c >> 11) & 31) * 255 / 31, g = ((c >> 5) & 63) * 255 / 63, b = (c & 31) * 255 / 31;
  return 0xFF000000 | r << 16 | g << 8 | b;
}

}  // namespace

TEST(ImagingBlocks, HandWrittenBlocks) {
  // DXT1 with equal endpoints 0xF800: index 3 is transparent black, index 0 opaque red.
  auto a = DecodeOne(F::DXT1, {0x00, 0xF8, 0x00, 0xF8, 0xFF, 0xFF, 0xFF, 0xFF});
  for (uint32_t p : a) EXPECT_EQ(p, 0u);
  a = DecodeOne(F::DXT1, {0x00, 0xF8, 0x00, 0xF8, 0, 0, 0, 0});
  for (uint32_t p : a) EXPECT_EQ(p, 0xFFFF0000u);
  // DXT1 four-colour block: colour 2 = (2 c0 + c1 + 1) / 3.
  const uint16_t c0 = 0xF81F, c1 = 0x07E0;
  a = DecodeOne(F::DXT1, {uint8_t(c0), uint8_t(c0 >> 8), uint8_t(c1), uint8_t(c1 >> 8), 0x02, 0, 0, 0});
  const uint32_t e0 = Rgb565(c0), e1 = Rgb565(c1);
  auto mix = [&](int s) { return ((2 * ((e0 >> s) & 255) + ((e1 >> s) & 255) + 1) / 3) << s; };
  EXPECT_EQ(a[0], 0xFF000000 | mix(16) | mix(8) | mix(0));
  EXPECT_EQ(a[1], e0);
  // DXT3 alpha nibbles ×17.
  a = DecodeOne(F::DXT3, {0x1F, 0, 0, 0, 0, 0, 0, 0, 0, 0xF8, 0, 0xF8, 0, 0, 0, 0});
  EXPECT_EQ(a[0] >> 24, 0xFFu);
  EXPECT_EQ(a[1] >> 24, 0x11u);
  EXPECT_EQ(a[2] >> 24, 0u);
  // DXT5 with E0 = E1: every index gives E0 except 6 (0) and 7 (255).
  std::vector<uint8_t> dxt5 = {100, 100, 0, 0, 0, 0, 0, 0, 0, 0xF8, 0, 0xF8, 0, 0, 0, 0};
  uint64_t bits = 0;
  for (int k = 0; k < 16; ++k) bits |= uint64_t(k % 8) << (3 * k);
  for (int i = 0; i < 6; ++i) dxt5[size_t(2 + i)] = uint8_t(bits >> (8 * i));
  a = DecodeOne(F::DXT5, dxt5);
  for (int k = 0; k < 16; ++k) EXPECT_EQ(a[size_t(k)] >> 24, k % 8 == 6 ? 0u : k % 8 == 7 ? 255u : 100u) << k;
  // ATI1N with E0 > E1: seven-step interpolation.
  std::vector<uint8_t> ati = dxt5;
  ati.resize(8);
  ati[0] = 200;
  ati[1] = 10;
  a = DecodeOne(F::ATI1N, ati);
  for (int k = 0; k < 16; ++k) {
    const int i = k % 8;
    const uint32_t expect = i == 0 ? 200 : i == 1 ? 10 : uint32_t(((8 - i) * 200 + (i - 1) * 10 + 3) / 7);
    EXPECT_EQ(a[size_t(k)], expect) << k;
  }
  // BTC: mask bit set takes the high value.
  a = DecodeOne(F::BTC, {10, 200, 0x01, 0x80});
  EXPECT_EQ(a[0], 200u);
  EXPECT_EQ(a[1], 10u);
  EXPECT_EQ(a[15], 200u);
}

TEST(ImagingBlocks, EncoderCases) {
  uint32_t px[16];
  for (uint32_t& p : px) p = 0xFF336699;
  uint8_t out[16];
  EncodeBlockImage(F::DXT1, px, 4, 4, out);
  EXPECT_EQ(out[0] | out[1] << 8, out[2] | out[3] << 8);
  EXPECT_EQ(out[4] | out[5] | out[6] | out[7], 0);
  px[5] = 0x64FFFFFF;  // alpha 100: three-colour mode, index 3
  EncodeBlockImage(F::DXT1, px, 4, 4, out);
  EXPECT_LE(out[0] | out[1] << 8, out[2] | out[3] << 8);
  EXPECT_EQ((out[4 + 5 / 4] >> (2 * (5 % 4))) & 3, 3);
  uint8_t gray[16];
  std::memset(gray, 77, 16);
  EncodeBlockImage(F::BTC, gray, 4, 4, out);
  EXPECT_EQ(out[0], 77);
  EXPECT_EQ(out[1], 0);
  EXPECT_EQ(out[2] | out[3], 0);
}

TEST(ImagingBlocks, EncodeDecodeWithinFormatError) {
  std::mt19937 rng(9);
  struct Case {
    F Format;
    bool Noisy;
    int MaxError;
  } cases[] = {{F::DXT1, false, 24}, {F::DXT3, false, 24}, {F::DXT5, false, 24}, {F::ATI2N, false, 6},
               {F::ATI1N, false, 6}, {F::BTC, false, 12},  {F::DXT1, true, 255}, {F::ATI1N, true, 40}};
  for (const Case& c : cases) {
    const F dec = Descriptor(c.Format).DecodedFormat;
    TImageData img = Make(16, 16, dec);
    ImageGuard g{img};
    const int ps = Descriptor(dec).PixelSize;
    auto* b = static_cast<uint8_t*>(img.Bits);
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x)
        for (int ch = 0; ch < ps; ++ch)
          b[(y * 16 + x) * ps + ch] =
              c.Noisy ? uint8_t(rng()) : uint8_t(std::min(255, x * 4 + y * 3 + ch * 20 + (ch == 3 ? 150 : 0)));
    TImageData enc{};
    ImageGuard ge{enc};
    DuplicateImageData(img, enc);
    ChangeImageFormat(enc, c.Format);
    ChangeImageFormat(enc, dec);
    int worst = 0;
    for (int i = 0; i < 16 * 16 * ps; ++i) {
      if (c.Format == F::ATI2N && (i % 4 == 0 || i % 4 == 3)) continue;  // blue 0, alpha 255
      if (c.Format == F::DXT1 && i % 4 == 3) continue;
      worst = std::max(worst, std::abs(int(b[i]) - int(static_cast<uint8_t*>(enc.Bits)[i])));
    }
    EXPECT_LE(worst, c.MaxError) << ImageFormatName(c.Format) << (c.Noisy ? " noisy" : " smooth");
  }
}

TEST(ImagingBlocks, BlockImagesKeepTheirRoundedSize) {
  TImageData img{};
  ASSERT_TRUE(AllocateImageData(5, 3, F::DXT1, img));
  ImageGuard g{img};
  EXPECT_EQ(img.Width, 8);
  EXPECT_EQ(img.Height, 4);
  EXPECT_EQ(img.Size, 16);
}

// ---------------------------------------------------------------------------------------
// Resampling

TEST(ImagingResample, KernelValuesAndTables) {
  EXPECT_FLOAT_EQ(KernelValue(TSamplingKernel::Triangle, 0.25f), 0.75f);
  EXPECT_FLOAT_EQ(KernelValue(TSamplingKernel::CatmullRom, 0.0f), 1.0f);
  EXPECT_FLOAT_EQ(KernelValue(TSamplingKernel::CatmullRom, 1.5f), -0.0625f);
  EXPECT_FLOAT_EQ(KernelValue(TSamplingKernel::Box, 0.5f), 1.0f);
  EXPECT_FLOAT_EQ(KernelValue(TSamplingKernel::Box, -0.5f), 0.0f);
  EXPECT_FLOAT_EQ(KernelValue(TSamplingKernel::Lanczos, 0.0f), 1.0f);
  EXPECT_NEAR(KernelValue(TSamplingKernel::Mitchell, 0.0f), 16.0f / 18.0f, 1e-6);
  EXPECT_NEAR(KernelValue(TSamplingKernel::BSpline, 1.0f), 1.0f / 6.0f, 1e-6);
  const auto table = BuildMappingTable(0, 2, 0, 4, TSamplingKernel::Box);
  ASSERT_EQ(table.size(), 2u);
  for (const auto& cluster : table) {
    float sum = 0;
    for (const TPointRec& p : cluster) sum += p.Weight;
    EXPECT_FLOAT_EQ(sum, 1.0f);
  }
}

TEST(ImagingResample, ByteCases) {
  {  // bilinear 2x1 (0, 255) -> 4x1
    TImageData img = Make(2, 1, F::Gray8);
    ImageGuard g{img};
    static_cast<uint8_t*>(img.Bits)[1] = 255;
    ScaleImageData(img, 4, 1, TImageStretchMode::Bilinear);
    const uint8_t* p = static_cast<uint8_t*>(img.Bits);
    EXPECT_EQ(p[0], 0);
    EXPECT_EQ(p[1], 63);
    EXPECT_EQ(p[2], 191);
    EXPECT_EQ(p[3], 255);
  }
  {  // nearest 3 -> 2 takes columns 0 and 1
    TImageData img = Make(3, 1, F::Gray8);
    ImageGuard g{img};
    const uint8_t v[3] = {10, 20, 30};
    std::memcpy(img.Bits, v, 3);
    ScaleImageData(img, 2, 1, TImageStretchMode::NearestPixel);
    EXPECT_EQ(static_cast<uint8_t*>(img.Bits)[0], 10);
    EXPECT_EQ(static_cast<uint8_t*>(img.Bits)[1], 20);
  }
  {  // a flat image stays flat at large reductions
    for (auto [side, mode] : {std::pair{2, TImageStretchMode::Bilinear}, std::pair{8, TImageStretchMode::Bicubic}}) {
      TImageData img = Make(1024, 1024, F::Gray8);
      ImageGuard g{img};
      std::memset(img.Bits, 100, size_t(img.Size));
      ScaleImageData(img, side, side, mode);
      for (int i = 0; i < side * side; ++i) ASSERT_EQ(static_cast<uint8_t*>(img.Bits)[i], 100) << side;
    }
  }
  {  // box 4x4 -> 2x2 averages 2x2 blocks
    uint8_t src[16];
    for (int i = 0; i < 16; ++i) src[i] = uint8_t(i * 10);
    uint8_t dst[4] = {};
    TStretchImage s{src, 4, 4, &Descriptor(F::Gray8)}, t{dst, 2, 2, &Descriptor(F::Gray8)};
    StretchFiltered(s, 0, 0, 4, 4, t, 0, 0, 2, 2, TSamplingKernel::Box);
    EXPECT_EQ(dst[0], (0 + 10 + 40 + 50) / 4);
    EXPECT_EQ(dst[3], (100 + 110 + 140 + 150) / 4);
  }
  {  // a one-pixel column enlarged with any kernel copies that column, also not the first
    uint8_t src[3] = {1, 2, 3};
    for (int k = 0; k < 10; ++k) {
      uint8_t dst[8] = {};
      TStretchImage s{src, 3, 1, &Descriptor(F::Gray8)}, t{dst, 8, 1, &Descriptor(F::Gray8)};
      StretchFiltered(s, 1, 0, 1, 1, t, 0, 0, 8, 1, TSamplingKernel(k));
      for (int x = 0; x < 8; ++x) ASSERT_EQ(dst[x], 2) << k;
    }
  }
  {  // Catmull-Rom overshoot is clamped
    TImageData img = Make(4, 1, F::Gray8);
    ImageGuard g{img};
    const uint8_t v[4] = {0, 0, 255, 255};
    std::memcpy(img.Bits, v, 4);
    ScaleImageData(img, 16, 1, TImageStretchMode::Bicubic);
    EXPECT_EQ(static_cast<uint8_t*>(img.Bits)[0], 0);
    EXPECT_EQ(static_cast<uint8_t*>(img.Bits)[15], 255);
  }
}

TEST(ImagingResample, ByteAndFloatPathsAgree) {
  std::mt19937 rng(3);
  TImageData bytes = Make(37, 23, F::A8R8G8B8);
  ImageGuard gb{bytes};
  for (int32_t i = 0; i < bytes.Size; ++i) static_cast<uint8_t*>(bytes.Bits)[i] = uint8_t(rng());
  for (auto mode : {TImageStretchMode::Bilinear, TImageStretchMode::Bicubic}) {
    for (auto [w, h] : {std::pair{11, 7}, std::pair{80, 50}}) {
      TImageData a{}, b{};
      ImageGuard ga{a}, gbb{b};
      DuplicateImageData(bytes, a);
      DuplicateImageData(bytes, b);
      ChangeImageFormat(b, F::A32R32G32B32F);
      ScaleImageData(a, w, h, mode);
      ScaleImageData(b, w, h, mode);
      ChangeImageFormat(b, F::A8R8G8B8);
      for (int32_t i = 0; i < a.Size; ++i)
        ASSERT_LE(std::abs(int(static_cast<uint8_t*>(a.Bits)[i]) - int(static_cast<uint8_t*>(b.Bits)[i])), 1) << i;
    }
  }
}

TEST(ImagingResample, SidesBelowOneAnswerFalse) {
  uint8_t px[4] = {};
  TStretchImage s{px, 2, 2, &Descriptor(F::Gray8)}, t{px, 2, 2, &Descriptor(F::Gray8)};
  EXPECT_FALSE(StretchNearest(s, 0, 0, 2, 2, t, 0, 0, 0, 2));
  EXPECT_FALSE(StretchFiltered(s, 0, 0, 0, 2, t, 0, 0, 2, 2, TSamplingKernel::Triangle));
}

// ---------------------------------------------------------------------------------------
// I/O and utilities

TEST(ImagingIO, BufferedStreamCases) {
  const std::string path = ::testing::TempDir() + "imaging_buffered.bin";
  {
    TFileStream f(path, fmCreate);
    std::vector<uint8_t> data(30000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i);
    f.WriteBuffer(data.data(), int64_t(data.size()));
  }
  {
    TFileStream f(path, fmOpenReadWrite);
    TOwned<TBufferedStream> b(New<TBufferedStream>(&f));
    std::vector<uint8_t> out(20000);
    EXPECT_EQ(b->Read(out.data(), 20000), 20000);
    EXPECT_EQ(b->GetBufPos(), 3616);
    EXPECT_EQ(out[19999], uint8_t(19999));
    b->Seek(100, 0);
    const uint8_t ten[10] = {9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
    b->Write(ten, 10);
    b->Seek(16384, 0);  // flushes the dirty cache and empties it
    EXPECT_EQ(b->GetBytesInBuf(), 0);
    EXPECT_THROW(b->Seek(0, 7), Exception);
  }
  TFileStream f(path, fmOpenRead);
  std::vector<uint8_t> all(30000);
  f.ReadBuffer(all.data(), 30000);
  EXPECT_EQ(all[99], 99);
  EXPECT_EQ(all[100], 9);
  EXPECT_EQ(all[109], 9);
  EXPECT_EQ(all[110], 110);
  EXPECT_EQ(all[29999], uint8_t(29999));
}

TEST(ImagingIO, MemorySetWritesAtMostTheBlock) {
  uint8_t block[4] = {};
  TMemoryBlockRec rec{block, 2, 4};
  TImagingIO io{&MemoryIO, MemoryIO.OpenWriter(&rec)};
  const uint8_t data[3] = {1, 2, 3};
  EXPECT_EQ(io.Write(data, 3), 2);
  EXPECT_TRUE(io.AtEnd());
  EXPECT_THROW(io.WriteExact(data, 1), EImagingError);
}

TEST(ImagingUtility, MasksMipsAndClipping) {
  EXPECT_TRUE(MatchFileMask("Texture.DDS", "*.dds", false));
  EXPECT_FALSE(MatchFileMask("Texture.DDS", "*.dds", true));
  EXPECT_TRUE(MatchFileMask("a", "a*?", false));
  EXPECT_TRUE(MatchFileMask("abc", "a*?", false));
  EXPECT_TRUE(MatchFileMask("anything", "", false));
  EXPECT_FALSE(MatchFileMask("abc", "a?", false));
  EXPECT_TRUE(MatchFileMask("sky001.tga", "sky*1.*", false));
  EXPECT_EQ(MipLevelCount(1, 1), 1);
  EXPECT_EQ(MipLevelCount(0, 5), 0);
  EXPECT_EQ(MipLevelCount(256, 64), 9);
  EXPECT_EQ(VolumeSliceCount(4, 3), 4 + 2 + 1);
  EXPECT_EQ(VolumeSliceCount(5, 5), 5 + 2 + 1 + 1 + 1);
  EXPECT_EQ(VolumeSliceCount(16384, INT32_MAX), 16384 + 16382 + int64_t(INT32_MAX) - 14);  // at once
  int32_t sx = -10, sy = 0, w = 20, h = 5, dx = -3, dy = 0;
  ClipCopyRectangle(sx, sy, w, h, dx, dy, 100, 100, TRect(0, 0, 100, 100));
  EXPECT_EQ(sx, 0);
  EXPECT_EQ(dx, 7);
  EXPECT_EQ(w, 10);
}

// ---------------------------------------------------------------------------------------
// Image records and options

TEST(ImagingData, RecordsAndMessages) {
  TImageData img = Make(2, 2, F::Gray8);
  void* first = img.Bits;
  ASSERT_TRUE(AllocateImageData(3, 3, F::R8G8B8, img));  // frees the old image first (ASan)
  EXPECT_NE(img.Bits, nullptr);
  (void)first;
  EXPECT_EQ(DescribeImageData(img).find("Width = 3px, Height = 3px, Format = R8G8B8, Size = 27 B,"), 30u);
  ReleaseImageData(img);
  EXPECT_EQ(img.Bits, nullptr);
  EXPECT_FALSE(AreImagesValid({}));
  EXPECT_THROW(AllocateImageData(0, 1, F::Gray8, img), EAssertionFailed);
  TImageData big = Make(100, 100, F::A8R8G8B8);
  EXPECT_NE(DescribeImageData(big).find("Size = 39 KiB"), std::string::npos);
  ReleaseImageData(big);
  EXPECT_EQ(ImageFormatName(F(7)), "Unknown and unsupported format");
}

TEST(ImagingData, OptionsAndStack) {
  EXPECT_EQ(GetImagingOption(ImagingColorReductionMask), 255);
  EXPECT_EQ(GetImagingOption(77), int32_t(0x80000001));
  EXPECT_EQ(GetImagingOption(100000), int32_t(0x80000001));
  ASSERT_TRUE(PushImagingOptions());
  SetImagingOption(ImagingColorReductionMask, 0xF0);
  EXPECT_EQ(GetImagingOption(ImagingColorReductionMask), 0xF0);
  ASSERT_TRUE(PopImagingOptions());
  EXPECT_EQ(GetImagingOption(ImagingColorReductionMask), 255);
  EXPECT_FALSE(PopImagingOptions());
  for (int i = 0; i < 8; ++i) ASSERT_TRUE(PushImagingOptions());
  EXPECT_FALSE(PushImagingOptions());
  for (int i = 0; i < 8; ++i) ASSERT_TRUE(PopImagingOptions());
  EXPECT_FALSE(RegisterImagingOption(-1, &GColorReductionMask));
}
