#pragma once
// Axis-aligned box: Left/Right on X, Top/Bottom on Y, Near/Far on Z (minimum first).
#include <span>

#include "framework/math/Point3D.h"

namespace quorvel {

struct TBoundingBox {
  float Left = 0;
  float Top = 0;
  float Near = 0;
  float Right = 0;
  float Bottom = 0;
  float Far = 0;

  constexpr TBoundingBox() = default;
  constexpr TBoundingBox(float l, float t, float n, float r, float b, float f)
      : Left(l), Top(t), Near(n), Right(r), Bottom(b), Far(f) {}
  constexpr TBoundingBox(const TPoint3D& AMin, const TPoint3D& AMax)
      : Left(AMin.X), Top(AMin.Y), Near(AMin.Z), Right(AMax.X), Bottom(AMax.Y), Far(AMax.Z) {}

  static constexpr TBoundingBox Create(const TPoint3D& AMin, const TPoint3D& AMax) { return {AMin, AMax}; }
  // The smallest box holding the points; the empty box for no points.
  static TBoundingBox Create(std::span<const TPoint3D> APoints);
  static constexpr TBoundingBox Empty() { return {}; }

  constexpr TPoint3D MinPoint() const { return {Left, Top, Near}; }
  constexpr TPoint3D MaxPoint() const { return {Right, Bottom, Far}; }
  constexpr float Width() const { return Right - Left; }
  constexpr float Height() const { return Bottom - Top; }
  constexpr float Depth() const { return Far - Near; }
  constexpr TPoint3D CenterPoint() const { return {(Left + Right) / 2, (Top + Bottom) / 2, (Near + Far) / 2}; }

  // Inverted on some axis, or an extent within AEpsilon of zero.
  bool IsEmpty(float AEpsilon = 0) const;
  // Minimum and maximum swapped where inverted.
  TBoundingBox Normalize() const;
  TBoundingBox Union(const TBoundingBox& ABox) const;
  TBoundingBox Offset(float dx, float dy, float dz) const { return {Left + dx, Top + dy, Near + dz, Right + dx, Bottom + dy, Far + dz}; }
  TBoundingBox Offset(const TPoint3D& d) const { return Offset(d.X, d.Y, d.Z); }
  // This box scaled about its centre to fit ADest (keeping proportions) and centred in it; ARatio
  // is the scale divisor (above 1 when the box shrank).
  TBoundingBox FitInto(const TBoundingBox& ADest, float& ARatio) const;
  bool Contains(const TPoint3D& p) const {
    return p.X >= Left && p.X <= Right && p.Y >= Top && p.Y <= Bottom && p.Z >= Near && p.Z <= Far;
  }

  friend constexpr bool operator==(const TBoundingBox&, const TBoundingBox&) = default;
};

QUORVEL_TYPE_NAME(TBoundingBox)

static_assert(sizeof(TBoundingBox) == 24 && alignof(TBoundingBox) == 4);

}  // namespace quorvel
