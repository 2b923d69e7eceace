// Stretching: nearest pixel and the separable filtered resampler.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "lib/formats/ImagingFormats.h"

namespace quorvel {

namespace {

float Sinc(float t) {
  if (t == 0.0f) return 1.0f;
  const float x = std::numbers::pi_v<float> * t;
  return std::sin(x) / x;
}

bool BytePath(const TImageFormatDescriptor& d) {
  return !d.IsPacked && !d.IsFloat && d.Channels > 0 && d.PixelSize / d.Channels == 1 &&
         d.PixelSize % d.Channels == 0 && !d.IsPaletted && !d.IsBlockCompressed;
}

uint8_t* PixelAt(const TStretchImage& img, int64_t x, int64_t y) {
  return static_cast<uint8_t*>(img.Bits) + (y * img.Width + x) * img.Info->PixelSize;
}

}  // namespace

float KernelValue(TSamplingKernel AKernel, float x) {
  const float ax = std::fabs(x);
  switch (AKernel) {
    case TSamplingKernel::Box: return (x > -0.5f && x <= 0.5f) ? 1.0f : 0.0f;
    case TSamplingKernel::Triangle: return ax < 1.0f ? 1.0f - ax : 0.0f;
    case TSamplingKernel::Cosine:
      return ax < 1.0f ? (std::cos(std::numbers::pi_v<float> * x) + 1.0f) / 2.0f : 0.0f;
    case TSamplingKernel::Hermite: return ax < 1.0f ? (2.0f * ax - 3.0f) * x * x + 1.0f : 0.0f;
    case TSamplingKernel::Quadratic:
      if (ax < 0.5f) return 0.75f - x * x;
      if (ax < 1.5f) return 0.5f * (ax - 1.5f) * (ax - 1.5f);
      return 0.0f;
    case TSamplingKernel::Gaussian: return std::exp(-2.0f * x * x) * std::sqrt(2.0f / std::numbers::pi_v<float>);
    case TSamplingKernel::BSpline:
      if (ax < 1.0f) return 0.5f * ax * ax * ax - x * x + 2.0f / 3.0f;
      if (ax < 2.0f) return (2.0f - ax) * (2.0f - ax) * (2.0f - ax) / 6.0f;
      return 0.0f;
    case TSamplingKernel::Lanczos: return ax < 3.0f ? Sinc(x) * Sinc(x / 3.0f) : 0.0f;
    case TSamplingKernel::Mitchell:
      if (ax < 1.0f) return (7.0f * ax * ax * ax - 12.0f * x * x + 16.0f / 3.0f) / 6.0f;
      if (ax < 2.0f) return (-7.0f / 3.0f * ax * ax * ax + 12.0f * x * x - 20.0f * ax + 32.0f / 3.0f) / 6.0f;
      return 0.0f;
    case TSamplingKernel::CatmullRom:
      if (ax < 1.0f) return 0.5f * (3.0f * ax * ax * ax - 5.0f * x * x + 2.0f);
      if (ax < 2.0f) return 0.5f * (-ax * ax * ax + 5.0f * x * x - 8.0f * ax + 4.0f);
      return 0.0f;
  }
  return 0.0f;
}

float KernelRadius(TSamplingKernel AKernel) {
  static constexpr float Radii[] = {1.0f, 1.0f, 1.0f, 1.0f, 1.5f, 1.25f, 2.0f, 3.0f, 2.0f, 2.0f};
  const int i = int(AKernel);
  return i >= 0 && i < 10 ? Radii[i] : 1.0f;
}

std::vector<std::vector<TPointRec>> BuildMappingTable(int32_t a, int32_t b, int32_t s, int32_t e,
                                                      TSamplingKernel AKernel) {
  const int32_t n = b - a;
  std::vector<std::vector<TPointRec>> table(size_t(std::max(n, 0)));
  if (n <= 0 || e <= s) return table;
  if (e - s == 1) {
    for (auto& cluster : table) cluster.push_back({s, 1.0f});
    return table;
  }
  const float f = float(n) / float(e - s);
  const float radius = KernelRadius(AKernel);
  for (int32_t i = 0; i < n; ++i) {
    auto& cluster = table[size_t(i)];
    float c, support, scale;
    if (f < 1.0f) {
      c = float(s) - 0.5f + (float(i) + 0.5f) / f;
      support = radius / f;
      scale = f;
    } else {
      c = float(s) - 0.5f + (float(i) + 0.5f) * (1.0f / f);
      support = radius;
      scale = 1.0f;
    }
    const int32_t lo = int32_t(std::floor(c - support)), hi = int32_t(std::ceil(c + support));
    float sum = 0.0f;
    for (int32_t j = lo; j <= hi; ++j) {
      const float w = KernelValue(AKernel, (c - float(j)) * scale) * scale;
      if (w == 0.0f) continue;
      cluster.push_back({std::clamp(j, s, e - 1), w});
      sum += w;
    }
    if (cluster.empty()) {
      if (f < 1.0f) cluster.push_back({std::clamp(int32_t(std::floor(c)), s, e - 1), 1.0f});
      continue;
    }
    const float excess = sum - 1.0f;
    if (excess != 0.0f) cluster[(cluster.size() - 1) / 2].Weight -= excess;
  }
  return table;
}

bool StretchNearest(const TStretchImage& src, int32_t sx, int32_t sy, int32_t sw, int32_t sh, TStretchImage& dst,
                    int32_t dx, int32_t dy, int32_t dw, int32_t dh) {
  if (sw < 1 || sh < 1 || dw < 1 || dh < 1) return false;
  const int64_t ps = src.Info->PixelSize;
  // 16.16 steps in 64 bits: sides up to 2^31 cannot overflow the accumulated positions.
  const int64_t xStep = (int64_t(sw) << 16) / dw, yStep = (int64_t(sh) << 16) / dh;
  int64_t yAcc = 0;
  for (int32_t r = 0; r < dh; ++r, yAcc += yStep) {
    const int64_t srow = sy + (yAcc >> 16);
    const uint8_t* sline = PixelAt(src, 0, srow);
    uint8_t* d = PixelAt(dst, dx, dy + int64_t(r));
    int64_t xAcc = 0;
    for (int32_t t = 0; t < dw; ++t, xAcc += xStep, d += ps) std::memcpy(d, sline + (sx + (xAcc >> 16)) * ps, size_t(ps));
  }
  return true;
}

bool StretchFiltered(const TStretchImage& src, int32_t sx, int32_t sy, int32_t sw, int32_t sh, TStretchImage& dst,
                     int32_t dx, int32_t dy, int32_t dw, int32_t dh, TSamplingKernel AKernel) {
  if (sw < 1 || sh < 1 || dw < 1 || dh < 1) return false;
  const auto cols = BuildMappingTable(0, dw, sx, sx + sw, AKernel);
  const auto rows = BuildMappingTable(0, dh, sy, sy + sh, AKernel);
  int32_t minX = sx + sw - 1, maxX = sx;
  for (const auto& c : cols)
    for (const TPointRec& p : c) {
      minX = std::min(minX, p.Pos);
      maxX = std::max(maxX, p.Pos);
    }
  if (maxX < minX) return false;
  const size_t span = size_t(maxX - minX + 1);
  const TImageFormatDescriptor& info = *src.Info;
  const int32_t ps = info.PixelSize;
  if (BytePath(info)) {
    // Integer weights with 16 fraction bits that sum exactly to one per target pixel, and
    // 64-bit sums: a flat image stays flat at any reduction.
    auto toFixed = [](const std::vector<std::vector<TPointRec>>& table) {
      std::vector<std::vector<std::pair<int32_t, int64_t>>> out(table.size());
      for (size_t i = 0; i < table.size(); ++i) {
        int64_t sum = 0;
        for (const TPointRec& p : table[i]) {
          out[i].push_back({p.Pos, std::llround(double(p.Weight) * 65536.0)});
          sum += out[i].back().second;
        }
        if (!out[i].empty()) out[i][(out[i].size() - 1) / 2].second += 65536 - sum;
      }
      return out;
    };
    const auto icols = toFixed(cols), irows = toFixed(rows);
    std::vector<int64_t> buffer(span * size_t(ps));
    for (int32_t r = 0; r < dh; ++r) {
      std::fill(buffer.begin(), buffer.end(), 0);
      for (const auto& [pos, w] : irows[size_t(r)]) {
        const uint8_t* line = PixelAt(src, minX, pos);
        for (size_t k = 0; k < span * size_t(ps); ++k) buffer[k] += int64_t(line[k]) * w;
      }
      uint8_t* d = PixelAt(dst, dx, int64_t(dy) + r);
      for (int32_t t = 0; t < dw; ++t, d += ps) {
        int64_t acc[4] = {0, 0, 0, 0};
        for (const auto& [pos, w] : icols[size_t(t)]) {
          const int64_t* b = &buffer[size_t(pos - minX) * size_t(ps)];
          for (int32_t c = 0; c < ps; ++c) acc[c] += b[c] * w;
        }
        for (int32_t c = 0; c < ps; ++c) d[c] = uint8_t(std::clamp<int64_t>(acc[c], 0, int64_t(0xFF) << 32) >> 32);
      }
    }
    return true;
  }
  std::vector<TColorFPRec> buffer(span);
  for (int32_t r = 0; r < dh; ++r) {
    std::fill(buffer.begin(), buffer.end(), TColorFPRec{0, 0, 0, 0});
    for (const TPointRec& p : rows[size_t(r)]) {
      for (size_t x = 0; x < span; ++x) {
        const TColorFPRec c = ReadPixelFloat(PixelAt(src, minX + int64_t(x), p.Pos), info, nullptr);
        buffer[x].B += c.B * p.Weight;
        buffer[x].G += c.G * p.Weight;
        buffer[x].R += c.R * p.Weight;
        buffer[x].A += c.A * p.Weight;
      }
    }
    for (int32_t t = 0; t < dw; ++t) {
      TColorFPRec acc{0, 0, 0, 0};
      for (const TPointRec& p : cols[size_t(t)]) {
        const TColorFPRec& c = buffer[size_t(p.Pos - minX)];
        acc.B += c.B * p.Weight;
        acc.G += c.G * p.Weight;
        acc.R += c.R * p.Weight;
        acc.A += c.A * p.Weight;
      }
      WritePixelFloat(PixelAt(dst, int64_t(dx) + t, int64_t(dy) + r), info, nullptr, acc);
    }
  }
  return true;
}

}  // namespace quorvel
