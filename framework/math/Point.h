#pragma once
// Two-dimensional points and sizes.
#include <cmath>
#include <cstdint>

#include "framework/rtl/Exceptions.h"
#include "framework/rtl/TypeName.h"

namespace quorvel {

// Rounded half to even; a value beyond the 32-bit range (or NaN) raises.
inline int32_t RoundToInt32(float AValue) {
  if (!(AValue > -2147483648.5f && AValue < 2147483647.5f))
    throw EArgumentOutOfRangeException("value out of the 32-bit integer range");
  return int32_t(std::nearbyint(double(AValue)));
}

struct TPoint {
  int32_t X = 0;
  int32_t Y = 0;

  constexpr TPoint() = default;
  constexpr TPoint(int32_t x, int32_t y) : X(x), Y(y) {}

  friend constexpr bool operator==(const TPoint&, const TPoint&) = default;
  friend constexpr TPoint operator+(const TPoint& a, const TPoint& b) { return {a.X + b.X, a.Y + b.Y}; }
  friend constexpr TPoint operator-(const TPoint& a, const TPoint& b) { return {a.X - b.X, a.Y - b.Y}; }
};

// The run-time's default tolerance for single-precision comparisons.
inline bool SameSingle(float a, float b) {
  const float res = 1e-4f;
  const float eps = std::fmax(std::fmin(std::fabs(a), std::fabs(b)) * res, res);
  return a > b ? (a - b) <= eps : (b - a) <= eps;
}

struct TPointF {
  float X = 0;
  float Y = 0;

  constexpr TPointF() = default;
  constexpr TPointF(float x, float y) : X(x), Y(y) {}
  constexpr explicit TPointF(const TPoint& p) : X(float(p.X)), Y(float(p.Y)) {}

  float Length() const { return std::sqrt(X * X + Y * Y); }
  float Distance(const TPointF& p) const { return (*this - p).Length(); }
  constexpr float DotProduct(const TPointF& p) const { return X * p.X + Y * p.Y; }
  TPoint Round() const { return {RoundToInt32(X), RoundToInt32(Y)}; }

  friend bool operator==(const TPointF& a, const TPointF& b) {
    return SameSingle(a.X, b.X) && SameSingle(a.Y, b.Y);
  }
  friend constexpr TPointF operator+(const TPointF& a, const TPointF& b) { return {a.X + b.X, a.Y + b.Y}; }
  friend constexpr TPointF operator-(const TPointF& a, const TPointF& b) { return {a.X - b.X, a.Y - b.Y}; }
  friend constexpr TPointF operator-(const TPointF& a) { return {-a.X, -a.Y}; }
  friend constexpr TPointF operator*(const TPointF& a, float s) { return {a.X * s, a.Y * s}; }
  friend constexpr TPointF operator*(float s, const TPointF& a) { return {a.X * s, a.Y * s}; }
  friend constexpr TPointF operator/(const TPointF& a, float s) { return {a.X / s, a.Y / s}; }
};

struct TSize {
  int32_t Width = 0;
  int32_t Height = 0;

  constexpr TSize() = default;
  constexpr TSize(int32_t w, int32_t h) : Width(w), Height(h) {}
  friend constexpr bool operator==(const TSize&, const TSize&) = default;
};

struct TSizeF {
  float Width = 0;
  float Height = 0;

  constexpr TSizeF() = default;
  constexpr TSizeF(float w, float h) : Width(w), Height(h) {}
  friend bool operator==(const TSizeF& a, const TSizeF& b) {
    return SameSingle(a.Width, b.Width) && SameSingle(a.Height, b.Height);
  }
};

QUORVEL_TYPE_NAME(TPoint)
QUORVEL_TYPE_NAME(TPointF)
QUORVEL_TYPE_NAME(TSize)
QUORVEL_TYPE_NAME(TSizeF)

static_assert(sizeof(TPoint) == 8 && sizeof(TPointF) == 8);
static_assert(sizeof(TSize) == 8 && sizeof(TSizeF) == 8);

}  // namespace quorvel
