#include "lib/formats/ImagingUtility.h"

#include <algorithm>
#include <cmath>

namespace quorvel {

namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : c; }

void ClipCopyAxis(int32_t& s, int32_t& d, int32_t& n, int32_t size, int32_t lo, int32_t hi) {
  int64_t S = s, D = d, Nn = n;
  if (D < lo) {
    Nn -= lo - D;
    S += lo - D;
    D = lo;
  }
  if (S < 0) {
    Nn += S;
    D -= S;
    S = 0;
  }
  if (S + Nn > size) Nn = size - S;
  if (D + Nn > hi) Nn = hi - D;
  s = int32_t(std::clamp<int64_t>(S, INT32_MIN, INT32_MAX));
  d = int32_t(std::clamp<int64_t>(D, INT32_MIN, INT32_MAX));
  n = int32_t(std::clamp<int64_t>(Nn, INT32_MIN, INT32_MAX));
}

int32_t RoundEven(double v) { return int32_t(std::clamp(std::nearbyint(v), -2147483648.0, 2147483647.0)); }

void ClipStretchAxis(int32_t& s, int32_t& m, int32_t& d, int32_t& n, int32_t size, int32_t lo, int32_t hi) {
  if (m < 1 || n < 1) return;
  const float k = float(n) / float(m);
  if (d < lo) {
    n -= lo - d;
    const int32_t g = RoundEven(float(lo - d) / k);
    s += g;
    m -= g;
    d = lo;
  }
  if (s < 0) {
    m += s;
    const int32_t g = RoundEven(float(s) * k);
    d -= g;
    n += g;
    s = 0;
  }
  if (m >= 1 && s + m > size) {
    n = RoundEven(float(n) * (float(size - s) / float(m)));
    m = size - s;
  }
  if (n >= 1 && d + n > hi) {
    m = RoundEven(float(m) * (float(hi - d) / float(n)));
    n = hi - d;
  }
}

}  // namespace

bool MatchFileMask(std::string_view text, std::string_view mask, bool caseSensitive) {
  if (mask.empty()) return true;
  auto eq = [caseSensitive](char a, char b) { return caseSensitive ? a == b : Upper(a) == Upper(b); };
  size_t t = 0, m = 0, starM = std::string_view::npos, starT = 0;
  while (t < text.size()) {
    if (m < mask.size() && mask[m] == '*') {
      while (m < mask.size() && mask[m] == '*') ++m;
      if (m == mask.size()) return true;
      starM = m;
      starT = t;
    } else if (m < mask.size() && (mask[m] == '?' || eq(mask[m], text[t]))) {
      ++m;
      ++t;
    } else if (starM != std::string_view::npos) {
      m = starM;
      t = ++starT;
    } else {
      return false;
    }
  }
  while (m < mask.size() && (mask[m] == '*' || mask[m] == '?')) ++m;
  return m == mask.size();
}

int32_t MipLevelCount(int32_t w, int32_t h) {
  if (w <= 0 || h <= 0) return 0;
  int32_t n = 1;
  while (w > 1 || h > 1) {
    w = std::max(w / 2, 1);
    h = std::max(h / 2, 1);
    ++n;
  }
  return n;
}

int64_t VolumeSliceCount(int32_t depth, int32_t levels) {
  int64_t n = depth;
  // Levels whose slice count has reached 1 are counted at once: a header may declare
  // billions of levels.
  int32_t k = 1;
  for (; k < levels && k < 31 && (depth >> k) > 1; ++k) n += depth >> k;
  if (k < levels) n += levels - k;
  return n;
}

void ClipCopyRectangle(int32_t& sx, int32_t& sy, int32_t& w, int32_t& h, int32_t& dx, int32_t& dy, int32_t srcW,
                       int32_t srcH, const TRect& clip) {
  ClipCopyAxis(sx, dx, w, srcW, clip.Left, clip.Right);
  ClipCopyAxis(sy, dy, h, srcH, clip.Top, clip.Bottom);
}

void ClipStretchRectangles(int32_t& sx, int32_t& sy, int32_t& sw, int32_t& sh, int32_t& dx, int32_t& dy, int32_t& dw,
                           int32_t& dh, int32_t srcW, int32_t srcH, const TRect& clip) {
  ClipStretchAxis(sx, sw, dx, dw, srcW, clip.Left, clip.Right);
  ClipStretchAxis(sy, sh, dy, dh, srcH, clip.Top, clip.Bottom);
}

}  // namespace quorvel
