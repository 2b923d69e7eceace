#include "lib/formats/ImagingFormats.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <mutex>

#include "framework/rtl/SysUtils.h"

namespace quorvel {

namespace {

constexpr TChannelMaskSet MakeMasks(uint8_t a, uint8_t r, uint8_t g, uint8_t b) {
  TChannelMaskSet m{};
  m.ABits = a;
  m.RBits = r;
  m.GBits = g;
  m.BBits = b;
  m.BShift = 0;
  m.GShift = b;
  m.RShift = uint8_t(g + b);
  m.AShift = uint8_t(r + g + b);
  m.AMask = ((1u << a) - 1) << m.AShift;
  m.RMask = ((1u << r) - 1) << m.RShift;
  m.GMask = ((1u << g) - 1) << m.GShift;
  m.BMask = ((1u << b) - 1) << m.BShift;
  m.AMax = a ? uint8_t((1u << a) - 1) : 1;
  m.RMax = r ? uint8_t((1u << r) - 1) : 1;
  m.GMax = g ? uint8_t((1u << g) - 1) : 1;
  m.BMax = b ? uint8_t((1u << b) - 1) : 1;
  return m;
}

constexpr TChannelMaskSet MasksR3G3B2 = MakeMasks(0, 3, 3, 2);
constexpr TChannelMaskSet MasksX5R1G1B1 = MakeMasks(0, 1, 1, 1);
constexpr TChannelMaskSet MasksR5G6B5 = MakeMasks(0, 5, 6, 5);
constexpr TChannelMaskSet MasksA1R5G5B5 = MakeMasks(1, 5, 5, 5);
constexpr TChannelMaskSet MasksA4R4G4B4 = MakeMasks(4, 4, 4, 4);
constexpr TChannelMaskSet MasksX1R5G5B5 = MakeMasks(0, 5, 5, 5);
constexpr TChannelMaskSet MasksX4R4G4B4 = MakeMasks(0, 4, 4, 4);

using F = TImageFormat;
struct TImageFormatRow {
  F Id;
  const char* Name;
  int32_t PixelSize, Channels, PaletteSize;
  char Kind;  // i indexed, g gray, c colour, f float, b block
  bool Alpha, Packed, Swapped;
  F Twin;
  const TChannelMaskSet* Masks;
  F Decoded;
};
constexpr F N = F::Unknown;
const TImageFormatRow Rows[] = {
    {F::Index8, "Index8", 1, 1, 256, 'i', true, false, false, N, nullptr, N},
    {F::Gray8, "Gray8", 1, 1, 0, 'g', false, false, false, N, nullptr, N},
    {F::A8Gray8, "A8Gray8", 2, 2, 0, 'g', true, false, false, N, nullptr, N},
    {F::Gray16, "Gray16", 2, 1, 0, 'g', false, false, false, N, nullptr, N},
    {F::Gray32, "Gray32", 4, 1, 0, 'g', false, false, false, N, nullptr, N},
    {F::Gray64, "Gray64", 8, 1, 0, 'g', false, false, false, N, nullptr, N},
    {F::A16Gray16, "A16Gray16", 4, 2, 0, 'g', true, false, false, N, nullptr, N},
    {F::X5R1G1B1, "X5R1G1B1", 1, 3, 0, 'c', false, true, false, N, &MasksX5R1G1B1, N},
    {F::R3G3B2, "R3G3B2", 1, 3, 0, 'c', false, true, false, N, &MasksR3G3B2, N},
    {F::R5G6B5, "R5G6B5", 2, 3, 0, 'c', false, true, false, N, &MasksR5G6B5, N},
    {F::A1R5G5B5, "A1R5G5B5", 2, 4, 0, 'c', true, true, false, N, &MasksA1R5G5B5, N},
    {F::A4R4G4B4, "A4R4G4B4", 2, 4, 0, 'c', true, true, false, N, &MasksA4R4G4B4, N},
    {F::X1R5G5B5, "X1R5G5B5", 2, 3, 0, 'c', false, true, false, N, &MasksX1R5G5B5, N},
    {F::X4R4G4B4, "X4R4G4B4", 2, 3, 0, 'c', false, true, false, N, &MasksX4R4G4B4, N},
    {F::R8G8B8, "R8G8B8", 3, 3, 0, 'c', false, false, false, N, nullptr, N},
    {F::A8R8G8B8, "A8R8G8B8", 4, 4, 0, 'c', true, false, false, N, nullptr, N},
    {F::X8R8G8B8, "X8R8G8B8", 4, 3, 0, 'c', false, false, false, N, nullptr, N},
    {F::R16G16B16, "R16G16B16", 6, 3, 0, 'c', false, false, false, F::B16G16R16, nullptr, N},
    {F::A16R16G16B16, "A16R16G16B16", 8, 4, 0, 'c', true, false, false, F::A16B16G16R16, nullptr, N},
    {F::B16G16R16, "B16G16R16", 6, 3, 0, 'c', false, false, true, F::R16G16B16, nullptr, N},
    {F::A16B16G16R16, "A16B16G16R16", 8, 4, 0, 'c', true, false, true, F::A16R16G16B16, nullptr, N},
    {F::R32F, "R32F", 4, 1, 0, 'f', false, false, false, N, nullptr, N},
    {F::A32R32G32B32F, "A32R32G32B32F", 16, 4, 0, 'f', true, false, false, F::A32B32G32R32F, nullptr, N},
    {F::A32B32G32R32F, "A32B32G32R32F", 16, 4, 0, 'f', true, false, true, F::A32R32G32B32F, nullptr, N},
    {F::R16F, "R16F", 2, 1, 0, 'f', false, false, false, N, nullptr, N},
    {F::A16R16G16B16F, "A16R16G16B16F", 8, 4, 0, 'f', true, false, false, F::A16B16G16R16F, nullptr, N},
    {F::A16B16G16R16F, "A16B16G16R16F", 8, 4, 0, 'f', true, false, true, F::A16R16G16B16F, nullptr, N},
    {F::DXT1, "DXT1", 0, 4, 0, 'b', true, false, false, N, nullptr, F::A8R8G8B8},
    {F::DXT3, "DXT3", 0, 4, 0, 'b', true, false, false, N, nullptr, F::A8R8G8B8},
    {F::DXT5, "DXT5", 0, 4, 0, 'b', true, false, false, N, nullptr, F::A8R8G8B8},
    {F::BTC, "BTC", 0, 1, 0, 'b', false, false, false, N, nullptr, F::Gray8},
    {F::ATI1N, "ATI1N", 0, 1, 0, 'b', false, false, false, N, nullptr, F::Gray8},
    {F::ATI2N, "ATI2N", 0, 2, 0, 'b', false, false, false, N, nullptr, F::A8R8G8B8},
};

struct TImageFormatTable {
  std::array<TImageFormatDescriptor, ImageFormatSlots> Slots{};
  std::array<bool, ImageFormatSlots> Filled{};
  TImageFormatTable() {
    for (const TImageFormatRow& r : Rows) {
      TImageFormatDescriptor& d = Slots[size_t(r.Id)];
      d = TImageFormatDescriptor{r.Id,        r.Name,      r.PixelSize,   r.Channels,   r.PaletteSize,
                                 r.Kind == 'g', r.Alpha,   r.Kind == 'f', r.Packed,     r.Swapped,
                                 r.Twin,      r.Kind == 'i', r.Kind == 'b', r.Masks,    r.Decoded};
      Filled[size_t(r.Id)] = true;
    }
    // Default shares A8R8G8B8's descriptor.
    Slots[size_t(F::Default)] = Slots[size_t(F::A8R8G8B8)];
    Filled[size_t(F::Default)] = true;
  }
};
const TImageFormatTable& ImageFormatTable() {
  static const TImageFormatTable table;
  return table;
}

inline uint16_t B2W(uint8_t b) { return uint16_t(b * 257); }
inline uint8_t W2B(uint32_t w) { return uint8_t(w * 255 / 65535); }
inline uint8_t F2B(float f) { return uint8_t(std::clamp(std::lround(f * 255.0f), 0L, 255L)); }
inline uint16_t F2W(float f) { return uint16_t(std::clamp(std::lround(f * 65535.0f), 0L, 65535L)); }
constexpr float Inv255 = 1.0f / 255.0f;
constexpr float Inv65535 = 1.0f / 65535.0f;
constexpr float LumR = 0.299f, LumG = 0.587f, LumB = 0.114f;

inline uint8_t Lum8(uint8_t r, uint8_t g, uint8_t b) {
  return uint8_t(std::clamp(std::lround(LumR * r + LumG * g + LumB * b), 0L, 255L));
}
inline uint16_t Lum16(uint32_t r, uint32_t g, uint32_t b) {
  return uint16_t(std::clamp(std::lround(LumR * float(r) + LumG * float(g) + LumB * float(b)), 0L, 65535L));
}

uint32_t LoadPacked(const uint8_t* p, int32_t size) { return size == 1 ? p[0] : uint32_t(p[0] | (p[1] << 8)); }

void StorePacked(uint8_t* p, int32_t size, uint32_t v) {
  p[0] = uint8_t(v);
  if (size == 2) p[1] = uint8_t(v >> 8);
}

uint16_t LoadWord(const uint8_t* p, int i) {
  uint16_t w;
  std::memcpy(&w, p + 2 * i, 2);
  return w;
}
void StoreWord(uint8_t* p, int i, uint16_t w) { std::memcpy(p + 2 * i, &w, 2); }
float LoadFloat(const uint8_t* p, int i) {
  float f;
  std::memcpy(&f, p + 4 * i, 4);
  return f;
}
void StoreFloat(uint8_t* p, int i, float f) { std::memcpy(p + 4 * i, &f, 4); }

void ReadGray(const uint8_t* p, const TImageFormatDescriptor& d, uint16_t& gray, uint16_t& alpha) {
  alpha = 65535;
  switch (d.FormatId) {
    case F::Gray8: gray = B2W(p[0]); break;
    case F::A8Gray8: gray = B2W(p[0]); alpha = B2W(p[1]); break;
    case F::Gray16: gray = LoadWord(p, 0); break;
    case F::A16Gray16: gray = LoadWord(p, 0); alpha = LoadWord(p, 1); break;
    case F::Gray32: gray = LoadWord(p, 1); break;
    case F::Gray64: gray = LoadWord(p, 3); break;
    default: gray = 0; break;
  }
}

void WriteGray(uint8_t* p, const TImageFormatDescriptor& d, uint16_t gray, uint16_t alpha) {
  switch (d.FormatId) {
    case F::Gray8: p[0] = W2B(gray); break;
    case F::A8Gray8: p[0] = W2B(gray); p[1] = W2B(alpha); break;
    case F::Gray16: StoreWord(p, 0, gray); break;
    case F::A16Gray16: StoreWord(p, 0, gray); StoreWord(p, 1, alpha); break;
    // The wider gray formats carry 16 significant bits; the lower words repeat them so that
    // white stays all ones.
    case F::Gray32: StoreWord(p, 0, gray); StoreWord(p, 1, gray); break;
    case F::Gray64: for (int i = 0; i < 4; ++i) StoreWord(p, i, gray); break;
    default: break;
  }
}

TColorFPRec ReadFloatRaw(const uint8_t* p, const TImageFormatDescriptor& d) {
  TColorFPRec c{0, 0, 0, 1};
  switch (d.FormatId) {
    case F::R32F: c.R = LoadFloat(p, 0); break;
    case F::R16F: c.R = HalfToSingle(LoadWord(p, 0)); break;
    case F::A32R32G32B32F:
    case F::A32B32G32R32F: c = {LoadFloat(p, 0), LoadFloat(p, 1), LoadFloat(p, 2), LoadFloat(p, 3)}; break;
    case F::A16R16G16B16F:
    case F::A16B16G16R16F:
      c = {HalfToSingle(LoadWord(p, 0)), HalfToSingle(LoadWord(p, 1)), HalfToSingle(LoadWord(p, 2)),
           HalfToSingle(LoadWord(p, 3))};
      break;
    default: break;
  }
  if (d.IsSwappedOrder) std::swap(c.R, c.B);
  return c;
}

void WriteFloatRaw(uint8_t* p, const TImageFormatDescriptor& d, TColorFPRec c) {
  if (d.IsSwappedOrder) std::swap(c.R, c.B);
  switch (d.FormatId) {
    case F::R32F: StoreFloat(p, 0, c.R); break;
    case F::R16F: StoreWord(p, 0, SingleToHalf(c.R)); break;
    case F::A32R32G32B32F:
    case F::A32B32G32R32F:
      StoreFloat(p, 0, c.B); StoreFloat(p, 1, c.G); StoreFloat(p, 2, c.R); StoreFloat(p, 3, c.A);
      break;
    case F::A16R16G16B16F:
    case F::A16B16G16R16F:
      StoreWord(p, 0, SingleToHalf(c.B)); StoreWord(p, 1, SingleToHalf(c.G));
      StoreWord(p, 2, SingleToHalf(c.R)); StoreWord(p, 3, SingleToHalf(c.A));
      break;
    default: break;
  }
}

TColor64Rec FloatTo64(TColorFPRec c) {
  auto ch = [](float v) { return F2W(std::clamp(v, 0.0f, 1.0f)); };
  return {ch(c.B), ch(c.G), ch(c.R), ch(c.A)};
}

}  // namespace

const TImageFormatDescriptor* ImageFormatDescriptor(TImageFormat AFormat) {
  const int32_t i = int32_t(AFormat);
  if (i < 0 || i >= ImageFormatSlots || !ImageFormatTable().Filled[size_t(i)]) return nullptr;
  return &ImageFormatTable().Slots[size_t(i)];
}

bool ImageFormatExists(TImageFormat AFormat) { return ImageFormatDescriptor(AFormat) != nullptr; }

int64_t DataSizeOf(TImageFormat AFormat, int64_t AWidth, int64_t AHeight) {
  const TImageFormatDescriptor* d = ImageFormatDescriptor(AFormat);
  if (!d || AWidth <= 0 || AHeight <= 0) return 0;
  if (!d->IsBlockCompressed) return AWidth * AHeight * d->PixelSize;
  const int64_t w = (AWidth + 3) / 4 * 4, h = (AHeight + 3) / 4 * 4;
  switch (AFormat) {
    case F::DXT1:
    case F::ATI1N: return w * h / 2;
    case F::BTC: return w * h / 4;
    default: return w * h;
  }
}

void AdjustDimensions(TImageFormat AFormat, int32_t& AWidth, int32_t& AHeight) {
  const TImageFormatDescriptor* d = ImageFormatDescriptor(AFormat);
  if (!d || !d->IsBlockCompressed) return;
  if (AWidth > 0) AWidth = int32_t((int64_t(AWidth) + 3) / 4 * 4);
  if (AHeight > 0) AHeight = int32_t((int64_t(AHeight) + 3) / 4 * 4);
}

TColor64Rec ReadColor64(const uint8_t* p, const TImageFormatDescriptor& d) {
  TColor64Rec c{0, 0, 0, 65535};
  if (d.IsPacked) {
    const TChannelMaskSet& m = *d.ChannelMasks;
    const uint32_t v = LoadPacked(p, d.PixelSize);
    // Full channels reach 65535, so white stays white and opaque alpha stays opaque.
    auto ch = [v](uint32_t mask, uint8_t shift, uint8_t max) {
      return uint16_t(((v & mask) >> shift) * 65535u / max);
    };
    c.R = ch(m.RMask, m.RShift, m.RMax);
    c.G = ch(m.GMask, m.GShift, m.GMax);
    c.B = ch(m.BMask, m.BShift, m.BMax);
    if (m.ABits) c.A = ch(m.AMask, m.AShift, m.AMax);
  } else if (d.PixelSize == 3 || d.PixelSize == 4) {
    c.B = B2W(p[0]);
    c.G = B2W(p[1]);
    c.R = B2W(p[2]);
    // X8R8G8B8's fourth byte is padding: whatever a file left there, the pixel is opaque.
    if (d.PixelSize == 4 && d.HasAlpha) c.A = B2W(p[3]);
  } else {
    c.B = LoadWord(p, 0);
    c.G = LoadWord(p, 1);
    c.R = LoadWord(p, 2);
    if (d.PixelSize == 8) c.A = LoadWord(p, 3);
  }
  if (d.IsSwappedOrder) std::swap(c.R, c.B);
  return c;
}

void WriteColor64(uint8_t* p, const TImageFormatDescriptor& d, TColor64Rec c) {
  if (d.IsSwappedOrder) std::swap(c.R, c.B);
  if (d.IsPacked) {
    const TChannelMaskSet& m = *d.ChannelMasks;
    auto ch = [](uint16_t v, uint8_t bits, uint8_t shift) {
      return ((uint32_t(v >> 8) << bits) >> 8) << shift;
    };
    StorePacked(p, d.PixelSize,
                ch(c.A, m.ABits, m.AShift) | ch(c.R, m.RBits, m.RShift) | ch(c.G, m.GBits, m.GShift) |
                    ch(c.B, m.BBits, m.BShift));
  } else if (d.PixelSize == 3 || d.PixelSize == 4) {
    p[0] = W2B(c.B);
    p[1] = W2B(c.G);
    p[2] = W2B(c.R);
    if (d.PixelSize == 4) p[3] = W2B(c.A);
  } else {
    StoreWord(p, 0, c.B);
    StoreWord(p, 1, c.G);
    StoreWord(p, 2, c.R);
    if (d.PixelSize == 8) StoreWord(p, 3, c.A);
  }
}

uint32_t ReadPixel32(const void* APixel, const TImageFormatDescriptor& d, const TColor32Rec* APalette) {
  const auto* p = static_cast<const uint8_t*>(APixel);
  TColor32Rec c;
  if (d.IsPaletted) return APalette ? APalette[p[0]].Color : 0;
  if (d.IsGray) {
    uint16_t g, a;
    ReadGray(p, d, g, a);
    c.B = c.G = c.R = W2B(g);
    c.A = W2B(a);
  } else if (d.IsFloat) {
    const TColorFPRec f = ReadFloatRaw(p, d);
    c.B = F2B(f.B);
    c.G = F2B(f.G);
    c.R = F2B(f.R);
    c.A = F2B(f.A);
  } else if (d.FormatId == F::A8R8G8B8 || d.FormatId == F::Default) {
    std::memcpy(&c.Color, p, 4);
  } else if (d.FormatId == F::R8G8B8 || d.FormatId == F::X8R8G8B8) {
    c.B = p[0];
    c.G = p[1];
    c.R = p[2];
    c.A = 255;
  } else {
    const TColor64Rec w = ReadColor64(p, d);
    c.B = W2B(w.B);
    c.G = W2B(w.G);
    c.R = W2B(w.R);
    c.A = W2B(w.A);
  }
  return c.Color;
}

void WritePixel32(void* APixel, const TImageFormatDescriptor& d, const TColor32Rec* APalette, uint32_t AColor) {
  auto* p = static_cast<uint8_t*>(APixel);
  TColor32Rec c;
  c.Color = AColor;
  if (d.IsPaletted) {
    p[0] = APalette ? uint8_t(std::max(NearestPaletteIndex(APalette, d.PaletteSize, AColor), 0)) : 0;
  } else if (d.IsGray) {
    WriteGray(p, d, B2W(Lum8(c.R, c.G, c.B)), B2W(c.A));
  } else if (d.IsFloat) {
    WriteFloatRaw(p, d, {c.B * Inv255, c.G * Inv255, c.R * Inv255, c.A * Inv255});
  } else if (d.FormatId == F::A8R8G8B8 || d.FormatId == F::X8R8G8B8 || d.FormatId == F::Default) {
    std::memcpy(p, &c.Color, 4);
  } else if (d.FormatId == F::R8G8B8) {
    std::memcpy(p, &c.Color, 3);
  } else {
    WriteColor64(p, d, {B2W(c.B), B2W(c.G), B2W(c.R), B2W(c.A)});
  }
}

TColorFPRec ReadPixelFloat(const void* APixel, const TImageFormatDescriptor& d, const TColor32Rec* APalette) {
  const auto* p = static_cast<const uint8_t*>(APixel);
  if (d.IsFloat) return ReadFloatRaw(p, d);
  if (d.IsPaletted) {
    TColor32Rec c;
    c.Color = APalette ? APalette[p[0]].Color : 0;
    return {c.B * Inv255, c.G * Inv255, c.R * Inv255, c.A * Inv255};
  }
  if (d.IsGray) {
    uint16_t g, a;
    ReadGray(p, d, g, a);
    const float gf = g * Inv65535;
    return {gf, gf, gf, a * Inv65535};
  }
  const TColor64Rec w = ReadColor64(p, d);
  return {w.B * Inv65535, w.G * Inv65535, w.R * Inv65535, w.A * Inv65535};
}

void WritePixelFloat(void* APixel, const TImageFormatDescriptor& d, const TColor32Rec* APalette,
                     const TColorFPRec& c) {
  auto* p = static_cast<uint8_t*>(APixel);
  if (d.IsFloat) {
    WriteFloatRaw(p, d, c);
  } else if (d.IsPaletted) {
    TColor32Rec b;
    b.B = F2B(c.B);
    b.G = F2B(c.G);
    b.R = F2B(c.R);
    b.A = F2B(c.A);
    WritePixel32(p, d, APalette, b.Color);
  } else if (d.IsGray) {
    WriteGray(p, d, F2W(LumR * c.R + LumG * c.G + LumB * c.B), F2W(c.A));
  } else {
    WriteColor64(p, d, {F2W(c.B), F2W(c.G), F2W(c.R), F2W(c.A)});
  }
}

void ConvertPixelRun(int64_t ACount, const void* ASrc, void* ADst, const TImageFormatDescriptor& s,
                     const TImageFormatDescriptor& t, const TColor32Rec* ASrcPal, TColor32Rec* ADstPal) {
  const auto* sp = static_cast<const uint8_t*>(ASrc);
  auto* dp = static_cast<uint8_t*>(ADst);
  const int32_t ss = s.PixelSize, ts = t.PixelSize;
  auto kind = [](const TImageFormatDescriptor& d) { return d.IsPaletted ? 'i' : d.IsGray ? 'g' : d.IsFloat ? 'f' : 'c'; };
  const char sk = kind(s), tk = kind(t);
  if (tk == 'i' && (sk == 'c' || sk == 'f')) {
    ReducePaletteColors(ACount, ASrc, ADst, s, t, t.PaletteSize, uint8_t(GColorReductionMask), ADstPal);
    return;
  }
  if (tk == 'i' && sk == 'i') {
    for (int64_t i = 0; i < ACount; ++i) dp[i * ts] = sp[i * ss];
    if (ASrcPal && ADstPal)
      std::memcpy(ADstPal, ASrcPal, size_t(std::min(s.PaletteSize, t.PaletteSize)) * 4);
    return;
  }
  if (tk == 'i' && sk == 'g') {
    FillGrayPalette(ADstPal, t.PaletteSize);
    const int shift = 16 - std::bit_width(uint32_t(std::max(t.PaletteSize, 1))) + 1;
    for (int64_t i = 0; i < ACount; ++i, sp += ss, dp += ts) {
      if (s.FormatId == F::Gray8) {
        dp[0] = sp[0];
      } else {
        uint16_t g, a;
        ReadGray(sp, s, g, a);
        dp[0] = uint8_t(g >> std::clamp(shift, 0, 16));
      }
    }
    return;
  }
  for (int64_t i = 0; i < ACount; ++i, sp += ss, dp += ts) {
    switch (sk) {
      case 'c': {
        if (tk == 'c') {
          if (ss == 3 && ts == 4) {
            std::memcpy(dp, sp, 3);
            if (t.HasAlpha) dp[3] = 255;
          } else if (ss == 4 && ts == 3) {
            std::memcpy(dp, sp, 3);
          } else {
            WriteColor64(dp, t, ReadColor64(sp, s));
          }
        } else if (tk == 'g') {
          if ((ss == 3 || ss == 4) && !s.IsPacked && t.FormatId == F::Gray8) {
            dp[0] = Lum8(sp[2], sp[1], sp[0]);
          } else {
            const TColor64Rec c = ReadColor64(sp, s);
            WriteGray(dp, t, Lum16(c.R, c.G, c.B), c.A);
          }
        } else {
          const TColor64Rec c = ReadColor64(sp, s);
          WriteFloatRaw(dp, t, {c.B * Inv65535, c.G * Inv65535, c.R * Inv65535, c.A * Inv65535});
        }
        break;
      }
      case 'g': {
        if (tk == 'g') {
          if (s.FormatId == F::Gray8 && t.FormatId == F::Gray16) {
            StoreWord(dp, 0, uint16_t(sp[0] * 256));
          } else if (s.FormatId == F::Gray16 && t.FormatId == F::Gray8) {
            dp[0] = uint8_t(LoadWord(sp, 0) >> 8);
          } else {
            uint16_t g, a;
            ReadGray(sp, s, g, a);
            WriteGray(dp, t, g, a);
          }
        } else if (tk == 'c') {
          if (s.FormatId == F::Gray8 && (ts == 3 || ts == 4) && !t.IsPacked) {
            dp[0] = dp[1] = dp[2] = sp[0];
            if (t.HasAlpha) dp[3] = 255;
          } else {
            uint16_t g, a;
            ReadGray(sp, s, g, a);
            WriteColor64(dp, t, {g, g, g, a});
          }
        } else {
          uint16_t g, a;
          ReadGray(sp, s, g, a);
          const float gf = g * Inv65535;
          WriteFloatRaw(dp, t, {gf, gf, gf, a * Inv65535});
        }
        break;
      }
      case 'f': {
        const TColorFPRec c = ReadFloatRaw(sp, s);
        if (tk == 'f') {
          WriteFloatRaw(dp, t, c);
        } else if (tk == 'c') {
          WriteColor64(dp, t, FloatTo64(c));
        } else {
          auto cl = [](float v) { return std::clamp(v, 0.0f, 1.0f); };
          WriteGray(dp, t, F2W(LumR * cl(c.R) + LumG * cl(c.G) + LumB * cl(c.B)), F2W(cl(c.A)));
        }
        break;
      }
      case 'i': {
        TColor32Rec pc;
        pc.Color = ASrcPal ? ASrcPal[sp[0]].Color : 0;
        if (tk == 'c') {
          if (t.FormatId == F::R8G8B8 || t.FormatId == F::A8R8G8B8) {
            dp[0] = pc.B;
            dp[1] = pc.G;
            dp[2] = pc.R;
            if (ts == 4) dp[3] = pc.A;
          } else {
            // Bytes widen by 257 (not 256) so that 255 comes back as 255.
            WriteColor64(dp, t, {B2W(pc.B), B2W(pc.G), B2W(pc.R), B2W(pc.A)});
          }
        } else if (tk == 'g') {
          const uint8_t l = Lum8(pc.R, pc.G, pc.B);
          if (t.FormatId == F::Gray8)
            dp[0] = l;
          else
            WriteGray(dp, t, B2W(l), B2W(pc.A));
        } else {
          WriteFloatRaw(dp, t, {pc.B * Inv255, pc.G * Inv255, pc.R * Inv255, pc.A * Inv255});
        }
        break;
      }
    }
  }
}

float HalfToSingle(uint16_t h) {
  const uint32_t sign = uint32_t(h & 0x8000) << 16;
  uint32_t exp = (h >> 10) & 0x1F;
  uint32_t mant = h & 0x3FF;
  uint32_t bits;
  if (exp == 0) {
    if (mant == 0) {
      bits = sign;
    } else {
      int e = -1;
      do {
        ++e;
        mant <<= 1;
      } while (!(mant & 0x400));
      bits = sign | (uint32_t(127 - 15 - e) << 23) | ((mant & 0x3FF) << 13);
    }
  } else if (exp == 31) {
    bits = sign | 0x7F800000 | (mant << 13);
  } else {
    bits = sign | ((exp + 112) << 23) | (mant << 13);
  }
  return std::bit_cast<float>(bits);
}

uint16_t SingleToHalf(float AValue) {
  const uint32_t x = std::bit_cast<uint32_t>(AValue);
  const uint16_t sign = uint16_t((x >> 16) & 0x8000);
  const int32_t fexp = int32_t((x >> 23) & 0xFF);
  uint32_t mant = x & 0x7FFFFF;
  if (fexp == 0xFF) return uint16_t(sign | 0x7C00 | (mant ? 0x200 : 0));
  int32_t exp = fexp - 127 + 15;
  if (exp <= 0) {
    if (exp < -10) return sign;
    mant |= 0x800000;
    const int shift = 14 - exp;
    return uint16_t(sign | ((mant + (1u << (shift - 1))) >> shift));
  }
  mant += 0x1000;
  if (mant & 0x800000) {
    mant = 0;
    ++exp;
  }
  if (exp > 30) return uint16_t(sign | 0x7C00);
  return uint16_t(sign | (exp << 10) | (mant >> 13));
}

void FillGrayPalette(TColor32Rec* APalette, int32_t ACount) {
  if (!APalette) throw EAssertionFailed("gray palette not assigned");
  try {
    for (int32_t i = 0; i < ACount; ++i) {
      APalette[i].B = APalette[i].G = APalette[i].R = uint8_t(i);
      APalette[i].A = 255;
    }
  } catch (const Exception& e) {
    throw EImagingError(Format("Error while filling grayscale palette @%p with %d entries.",
                               {static_cast<void*>(APalette), ACount}) +
                        " Exception Message: " + e.Message());
  }
}

int32_t NearestPaletteIndex(const TColor32Rec* APalette, int32_t ACount, uint32_t AColor) {
  if (!APalette) throw EAssertionFailed("palette not assigned");
  TColor32Rec c;
  c.Color = AColor;
  int32_t best = -1, min = 1020;
  for (int32_t i = 0; i < ACount; ++i) {
    const TColor32Rec& e = APalette[i];
    if (e.Color == AColor) return i;
    const int32_t d = std::abs(e.R - c.R) + std::abs(e.G - c.G) + std::abs(e.B - c.B) + std::abs(e.A - c.A);
    if (d < min) {
      min = d;
      best = i;
    }
  }
  return best;
}

// ---------------------------------------------------------------------------------------
// Median cut. The colour table and boxes live between the stages of one reduction, so they
// are shared and locked: two conversions to an indexed format may run at once.

int32_t GColorReductionMask = 255;

namespace {

struct ReductionColor {
  uint32_t Color;
  int64_t Count;
};
struct ReductionBox {
  std::array<uint8_t, 4> Min{}, Max{};  // B, G, R, A
  int64_t Total = 0;
  std::vector<uint32_t> Members;        // indices into the colour list
  TColor32Rec Colour{};
};
struct ReductionState {
  std::mutex Lock;
  std::vector<std::vector<uint32_t>> Chains;  // indices into Colors
  std::vector<ReductionColor> Colors;
  std::vector<ReductionBox> Boxes;
};
ReductionState& Reduction() {
  static ReductionState state;
  return state;
}

uint8_t Channel(uint32_t c, int ch) { return uint8_t(c >> (8 * ch)); }

void Measure(ReductionBox& box, const std::vector<ReductionColor>& colors) {
  box.Min.fill(255);
  box.Max.fill(0);
  box.Total = 0;
  for (uint32_t m : box.Members) {
    for (int ch = 0; ch < 4; ++ch) {
      box.Min[ch] = std::min(box.Min[ch], Channel(colors[m].Color, ch));
      box.Max[ch] = std::max(box.Max[ch], Channel(colors[m].Color, ch));
    }
    box.Total += colors[m].Count;
  }
}

// Weights per channel in the order the split tests them: alpha, red, green, blue.
constexpr int SplitOrder[4] = {3, 2, 1, 0};
constexpr int64_t SplitWeight[4] = {1024, 612, 1202, 234};

int64_t Extent(const ReductionBox& b) {
  int64_t e = 0;
  for (int k = 0; k < 4; ++k) e = std::max(e, (b.Max[SplitOrder[k]] - b.Min[SplitOrder[k]]) * SplitWeight[k]);
  return e;
}

}  // namespace

void ReducePaletteColors(int64_t ACount, const void* ASrc, void* ADst, const TImageFormatDescriptor& s,
                         const TImageFormatDescriptor& t, int32_t AMaxColors, uint8_t AMask, TColor32Rec* APalette,
                         uint8_t AStages) {
  if (s.IsPaletted || s.IsBlockCompressed) throw EAssertionFailed("colour reduction needs a colour source");
  ReductionState& st = Reduction();
  std::lock_guard<std::mutex> guard(st.Lock);
  const auto* sp = static_cast<const uint8_t*>(ASrc);
  const uint32_t maskAll = uint32_t(AMask) * 0x01010101u;
  if (AStages & 1) {
    st.Chains.assign(32768, {});
    st.Colors.clear();
    st.Boxes.clear();
  }
  if (st.Chains.empty()) st.Chains.assign(32768, {});
  if (AStages & 2) {
    for (int64_t i = 0; i < ACount; ++i) {
      const uint32_t c = ReadPixel32(sp + i * s.PixelSize, s, nullptr) & maskAll;
      const uint32_t key = (Channel(c, 0) * 11 + Channel(c, 3) + Channel(c, 2) * 59 + Channel(c, 1) * 119) & 0x7FFF;
      auto& chain = st.Chains[key];
      bool found = false;
      for (uint32_t idx : chain) {
        if (st.Colors[idx].Color == c) {
          ++st.Colors[idx].Count;
          found = true;
          break;
        }
      }
      if (!found) {
        chain.insert(chain.begin(), uint32_t(st.Colors.size()));
        st.Colors.push_back({c, 1});
      }
    }
  }
  if (AStages & 4) {
    const int32_t maxColors = std::clamp(AMaxColors, 2, 4096);
    st.Boxes.assign(1, {});
    for (uint32_t i = 0; i < st.Colors.size(); ++i) st.Boxes[0].Members.push_back(i);
    Measure(st.Boxes[0], st.Colors);
    while (int32_t(st.Boxes.size()) < maxColors) {
      size_t pick = 0;
      int64_t best = -1;
      for (size_t b = 0; b < st.Boxes.size(); ++b) {
        const int64_t e = Extent(st.Boxes[b]);
        if (e > best) {
          best = e;
          pick = b;
        }
      }
      if (best <= 0) break;
      ReductionBox& box = st.Boxes[pick];
      int ch = 0;
      for (int k = 0; k < 4; ++k) {
        if ((box.Max[SplitOrder[k]] - box.Min[SplitOrder[k]]) * SplitWeight[k] == best) {
          ch = SplitOrder[k];
          break;
        }
      }
      const int threshold = (box.Min[ch] + box.Max[ch]) >> 1;
      ReductionBox other;
      std::vector<uint32_t> stay;
      for (uint32_t m : box.Members)
        (Channel(st.Colors[m].Color, ch) <= threshold ? stay : other.Members).push_back(m);
      box.Members = std::move(stay);
      Measure(box, st.Colors);
      Measure(other, st.Colors);
      st.Boxes.push_back(std::move(other));
    }
    for (ReductionBox& box : st.Boxes) {
      std::array<int64_t, 4> sum{};
      for (uint32_t m : box.Members)
        for (int ch = 0; ch < 4; ++ch) sum[ch] += int64_t(Channel(st.Colors[m].Color, ch)) * st.Colors[m].Count;
      for (int ch = 0; ch < 4; ++ch) {
        const uint8_t v = box.Total ? uint8_t(sum[ch] / box.Total) : 0;
        (&box.Colour.B)[ch] = v;
        box.Min[ch] = box.Min[ch] & AMask;
        box.Max[ch] = uint8_t((box.Max[ch] & AMask) + (255 ^ AMask));
      }
    }
    std::stable_sort(st.Boxes.begin(), st.Boxes.end(),
                     [](const ReductionBox& a, const ReductionBox& b) { return a.Total > b.Total; });
    if (APalette) {
      for (int32_t i = 0; i < maxColors; ++i)
        APalette[i].Color = i < int32_t(st.Boxes.size()) ? st.Boxes[size_t(i)].Colour.Color : 0xFF000000u;
    }
  }
  if (AStages & 8) {
    auto* dp = static_cast<uint8_t*>(ADst);
    for (int64_t i = 0; i < ACount; ++i, dp += t.PixelSize) {
      const uint32_t c = ReadPixel32(sp + i * s.PixelSize, s, nullptr);
      uint32_t index = 0;
      for (size_t b = 0; b < st.Boxes.size(); ++b) {
        const ReductionBox& box = st.Boxes[b];
        bool inside = true;
        for (int ch = 0; ch < 4 && inside; ++ch)
          inside = Channel(c, ch) >= box.Min[ch] && Channel(c, ch) <= box.Max[ch];
        if (inside) {
          index = uint32_t(b);
          break;
        }
      }
      if (t.PixelSize == 1)
        dp[0] = uint8_t(index);
      else if (t.PixelSize == 2)
        StoreWord(dp, 0, uint16_t(index));
      else
        std::memcpy(dp, &index, 4);
    }
  }
}

}  // namespace quorvel
