#pragma once
// Integer and float rectangles (Left, Top, Right, Bottom; Right and Bottom exclusive).
#include <algorithm>
#include <cmath>

#include "framework/math/Point.h"

namespace quorvel {

struct TRect {
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Right = 0;
  int32_t Bottom = 0;

  constexpr TRect() = default;
  constexpr TRect(int32_t l, int32_t t, int32_t r, int32_t b) : Left(l), Top(t), Right(r), Bottom(b) {}

  constexpr int32_t Width() const { return Right - Left; }
  constexpr int32_t Height() const { return Bottom - Top; }
  constexpr bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
  constexpr bool Contains(const TPoint& p) const {
    return p.X >= Left && p.X < Right && p.Y >= Top && p.Y < Bottom;
  }
  friend constexpr bool operator==(const TRect&, const TRect&) = default;
};

struct TRectF {
  float Left = 0;
  float Top = 0;
  float Right = 0;
  float Bottom = 0;

  constexpr TRectF() = default;
  constexpr TRectF(float l, float t, float r, float b) : Left(l), Top(t), Right(r), Bottom(b) {}
  constexpr explicit TRectF(const TRect& r)
      : Left(float(r.Left)), Top(float(r.Top)), Right(float(r.Right)), Bottom(float(r.Bottom)) {}

  constexpr float Width() const { return Right - Left; }
  constexpr float Height() const { return Bottom - Top; }
  constexpr TPointF TopLeft() const { return {Left, Top}; }
  constexpr TPointF CenterPoint() const { return {(Left + Right) / 2, (Top + Bottom) / 2}; }
  constexpr bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
  constexpr bool Contains(const TPointF& p) const {
    return p.X >= Left && p.X < Right && p.Y >= Top && p.Y < Bottom;
  }
  constexpr void Offset(float dx, float dy) { Left += dx; Right += dx; Top += dy; Bottom += dy; }
  // Grows by dx on the left and right and dy on the top and bottom (negative: shrinks).
  constexpr void Inflate(float dx, float dy) { Left -= dx; Right += dx; Top -= dy; Bottom += dy; }
  TRect Round() const {
    return {RoundToInt32(Left), RoundToInt32(Top), RoundToInt32(Right), RoundToInt32(Bottom)};
  }

  // This rectangle centred in ADest, scaled down (keeping its aspect) only when it does not fit.
  TRectF PlaceInto(const TRectF& ADest) const {
    float w = Width(), h = Height();
    if (w > ADest.Width() || h > ADest.Height()) {
      const float k = std::min(w > 0 ? ADest.Width() / w : 1.0f, h > 0 ? ADest.Height() / h : 1.0f);
      w *= k;
      h *= k;
    }
    const float l = ADest.Left + (ADest.Width() - w) / 2;
    const float t = ADest.Top + (ADest.Height() - h) / 2;
    return {l, t, l + w, t + h};
  }

  friend bool operator==(const TRectF& a, const TRectF& b) {
    return SameSingle(a.Left, b.Left) && SameSingle(a.Top, b.Top) && SameSingle(a.Right, b.Right) &&
           SameSingle(a.Bottom, b.Bottom);
  }
};

QUORVEL_TYPE_NAME(TRect)
QUORVEL_TYPE_NAME(TRectF)

static_assert(sizeof(TRect) == 16 && sizeof(TRectF) == 16);

}  // namespace quorvel
