// 4×4 block formats: DXT1/3/5, BTC, ATI1N and ATI2N.
#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

#include "lib/formats/ImagingFormats.h"

namespace quorvel {

namespace {

using F = TImageFormat;
using Block = std::array<TColor32Rec, 16>;

uint16_t Load16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t Load32(const uint8_t* p) { return uint32_t(p[0] | (p[1] << 8) | (p[2] << 16)) | (uint32_t(p[3]) << 24); }
void Store16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
void Store32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

TColor32Rec Expand565(uint16_t c) {
  TColor32Rec r;
  r.R = uint8_t(((c >> 11) & 31) * 255 / 31);
  r.G = uint8_t(((c >> 5) & 63) * 255 / 63);
  r.B = uint8_t((c & 31) * 255 / 31);
  r.A = 255;
  return r;
}

// The four palette colours; threeColour: DXT1 with colour 0 not above colour 1.
std::array<TColor32Rec, 4> ColourPalette(uint16_t c0, uint16_t c1, bool threeColour) {
  std::array<TColor32Rec, 4> p;
  p[0] = Expand565(c0);
  p[1] = Expand565(c1);
  auto mix = [&](int w0, int w1, int div, int add) {
    TColor32Rec r;
    r.R = uint8_t((w0 * p[0].R + w1 * p[1].R + add) / div);
    r.G = uint8_t((w0 * p[0].G + w1 * p[1].G + add) / div);
    r.B = uint8_t((w0 * p[0].B + w1 * p[1].B + add) / div);
    r.A = 255;
    return r;
  };
  if (threeColour) {
    p[2] = mix(1, 1, 2, 0);
    p[3].Color = 0;
  } else {
    p[2] = mix(2, 1, 3, 1);
    p[3] = mix(1, 2, 3, 1);
  }
  return p;
}

void DecodeColourBlock(const uint8_t* b, bool dxt1, Block& out) {
  const uint16_t c0 = Load16(b), c1 = Load16(b + 2);
  const auto pal = ColourPalette(c0, c1, dxt1 && c0 <= c1);
  const uint32_t idx = Load32(b + 4);
  for (int k = 0; k < 16; ++k) out[size_t(k)] = pal[(idx >> (2 * k)) & 3];
}

std::array<uint8_t, 8> ChannelValues(uint8_t e0, uint8_t e1, bool forceEightValues) {
  std::array<uint8_t, 8> e{e0, e1};
  if (e0 > e1 || forceEightValues) {
    for (int k = 1; k <= 6; ++k) e[size_t(k + 1)] = uint8_t(((7 - k) * e0 + k * e1 + 3) / 7);
  } else {
    for (int k = 1; k <= 4; ++k) e[size_t(k + 1)] = uint8_t(((5 - k) * e0 + k * e1 + 2) / 5);
    e[6] = 0;
    e[7] = 255;
  }
  return e;
}

void DecodeChannelBlock(const uint8_t* b, std::array<uint8_t, 16>& out) {
  const auto e = ChannelValues(b[0], b[1], false);
  uint64_t bits = 0;
  for (int i = 0; i < 6; ++i) bits |= uint64_t(b[2 + i]) << (8 * i);
  for (int k = 0; k < 16; ++k) out[size_t(k)] = e[(bits >> (3 * k)) & 7];
}

void EncodeChannelBlock(const std::array<uint8_t, 16>& v, uint8_t* b) {
  const uint8_t e0 = *std::max_element(v.begin(), v.end());
  const uint8_t e1 = *std::min_element(v.begin(), v.end());
  const auto e = ChannelValues(e0, e1, true);
  uint64_t bits = 0;
  for (int k = 0; k < 16; ++k) {
    int best = 0, bestDiff = 256;
    for (int j = 0; j < 8; ++j) {
      const int d = std::abs(int(e[size_t(j)]) - int(v[size_t(k)]));
      if (d < bestDiff) {
        bestDiff = d;
        best = j;
      }
    }
    bits |= uint64_t(best) << (3 * k);
  }
  b[0] = e0;
  b[1] = e1;
  for (int i = 0; i < 6; ++i) b[2 + i] = uint8_t(bits >> (8 * i));
}

uint16_t To565(const TColor32Rec& c) { return uint16_t(((c.R >> 3) << 11) | ((c.G >> 2) << 5) | (c.B >> 3)); }

void EncodeColourBlock(const Block& px, bool dxt1, uint8_t* b) {
  int bi = 0, bj = 0, bestDist = -1;
  for (int i = 0; i < 16; ++i) {
    for (int j = i + 1; j < 16; ++j) {
      const int dr = px[size_t(i)].R - px[size_t(j)].R, dg = px[size_t(i)].G - px[size_t(j)].G,
                db = px[size_t(i)].B - px[size_t(j)].B;
      const int d = dr * dr + dg * dg + db * db;
      if (d > bestDist) {
        bestDist = d;
        bi = i;
        bj = j;
      }
    }
  }
  uint16_t c0 = To565(px[size_t(bi)]), c1 = To565(px[size_t(bj)]);
  bool threeColour = false;
  if (dxt1)
    for (const TColor32Rec& p : px) threeColour = threeColour || p.A < 128;
  if (threeColour ? c0 > c1 : c0 < c1) std::swap(c0, c1);
  const auto pal = ColourPalette(c0, c1, threeColour);
  const int colours = threeColour ? 3 : 4;
  uint32_t idx = 0;
  for (int k = 0; k < 16; ++k) {
    const TColor32Rec& p = px[size_t(k)];
    int best = 0;
    if (threeColour && p.A < 128) {
      best = 3;
    } else {
      int bd = -1;
      for (int j = 0; j < colours; ++j) {
        const int dr = p.R - pal[size_t(j)].R, dg = p.G - pal[size_t(j)].G, db = p.B - pal[size_t(j)].B;
        const int d = dr * dr + dg * dg + db * db;
        if (bd < 0 || d < bd) {
          bd = d;
          best = j;
        }
      }
    }
    idx |= uint32_t(best) << (2 * k);
  }
  Store16(b, c0);
  Store16(b + 2, c1);
  Store32(b + 4, idx);
}

int32_t BlockBytes(F f) {
  switch (f) {
    case F::DXT1:
    case F::ATI1N: return 8;
    case F::BTC: return 4;
    default: return 16;
  }
}

}  // namespace

void DecodeBlockImage(TImageFormat AFormat, const void* ASrc, int32_t AWidth, int32_t AHeight, void* ADst) {
  const auto* src = static_cast<const uint8_t*>(ASrc);
  auto* dst = static_cast<uint8_t*>(ADst);
  const int32_t bb = BlockBytes(AFormat);
  const bool gray = AFormat == F::BTC || AFormat == F::ATI1N;
  const int64_t ps = gray ? 1 : 4;
  for (int32_t by = 0; by < AHeight / 4; ++by) {
    for (int32_t bx = 0; bx < AWidth / 4; ++bx, src += bb) {
      Block px{};
      std::array<uint8_t, 16> g{}, g2{};
      switch (AFormat) {
        case F::DXT1: DecodeColourBlock(src, true, px); break;
        case F::DXT3:
          DecodeColourBlock(src + 8, false, px);
          for (int k = 0; k < 16; ++k) px[size_t(k)].A = uint8_t(((src[k / 2] >> (4 * (k & 1))) & 15) * 17);
          break;
        case F::DXT5:
          DecodeColourBlock(src + 8, false, px);
          DecodeChannelBlock(src, g);
          for (int k = 0; k < 16; ++k) px[size_t(k)].A = g[size_t(k)];
          break;
        case F::BTC: {
          const uint16_t mask = Load16(src + 2);
          for (int k = 0; k < 16; ++k) g[size_t(k)] = (mask >> k) & 1 ? src[1] : src[0];
          break;
        }
        case F::ATI1N: DecodeChannelBlock(src, g); break;
        case F::ATI2N:
          DecodeChannelBlock(src, g);
          DecodeChannelBlock(src + 8, g2);
          for (int k = 0; k < 16; ++k) {
            px[size_t(k)].R = g[size_t(k)];
            px[size_t(k)].G = g2[size_t(k)];
            px[size_t(k)].B = 0;
            px[size_t(k)].A = 255;
          }
          break;
        default: return;
      }
      for (int k = 0; k < 16; ++k) {
        uint8_t* p = dst + ((int64_t(by) * 4 + k / 4) * AWidth + int64_t(bx) * 4 + k % 4) * ps;
        if (gray)
          *p = g[size_t(k)];
        else
          std::memcpy(p, &px[size_t(k)], 4);
      }
    }
  }
}

void EncodeBlockImage(TImageFormat AFormat, const void* ASrc, int32_t AWidth, int32_t AHeight, void* ADst) {
  const auto* src = static_cast<const uint8_t*>(ASrc);
  auto* dst = static_cast<uint8_t*>(ADst);
  const int32_t bb = BlockBytes(AFormat);
  const bool gray = AFormat == F::BTC || AFormat == F::ATI1N;
  const int64_t ps = gray ? 1 : 4;
  for (int32_t by = 0; by < AHeight / 4; ++by) {
    for (int32_t bx = 0; bx < AWidth / 4; ++bx, dst += bb) {
      Block px{};
      std::array<uint8_t, 16> g{};
      for (int k = 0; k < 16; ++k) {
        const uint8_t* p = src + ((int64_t(by) * 4 + k / 4) * AWidth + int64_t(bx) * 4 + k % 4) * ps;
        if (gray)
          g[size_t(k)] = *p;
        else
          std::memcpy(&px[size_t(k)], p, 4);
      }
      switch (AFormat) {
        case F::DXT1: EncodeColourBlock(px, true, dst); break;
        case F::DXT3:
          EncodeColourBlock(px, false, dst + 8);
          std::memset(dst, 0, 8);
          for (int k = 0; k < 16; ++k) dst[k / 2] |= uint8_t((px[size_t(k)].A >> 4) << (4 * (k & 1)));
          break;
        case F::DXT5:
          EncodeColourBlock(px, false, dst + 8);
          for (int k = 0; k < 16; ++k) g[size_t(k)] = px[size_t(k)].A;
          EncodeChannelBlock(g, dst);
          break;
        case F::BTC: {
          int sum = 0;
          for (uint8_t v : g) sum += v;
          const int mean = sum / 16;
          int hiSum = 0, hiN = 0, loSum = 0, loN = 0;
          uint16_t mask = 0;
          for (int k = 0; k < 16; ++k) {
            if (g[size_t(k)] > mean) {
              mask = uint16_t(mask | (1u << k));
              hiSum += g[size_t(k)];
              ++hiN;
            } else {
              loSum += g[size_t(k)];
              ++loN;
            }
          }
          dst[0] = uint8_t(std::clamp(loN ? loSum / loN : 0, 0, 255));
          dst[1] = uint8_t(std::clamp(hiN ? hiSum / hiN : 0, 0, 255));
          Store16(dst + 2, mask);
          break;
        }
        case F::ATI1N: EncodeChannelBlock(g, dst); break;
        case F::ATI2N: {
          std::array<uint8_t, 16> r{}, gr{};
          for (int k = 0; k < 16; ++k) {
            r[size_t(k)] = px[size_t(k)].R;
            gr[size_t(k)] = px[size_t(k)].G;
          }
          EncodeChannelBlock(r, dst);
          EncodeChannelBlock(gr, dst + 8);
          break;
        }
        default: return;
      }
    }
  }
}

}  // namespace quorvel
