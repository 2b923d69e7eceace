#pragma once
// Component-wise operations on TPoint3D.
#include "framework/math/Point3D.h"

namespace quorvel {

inline constexpr float VectorDot(const TPoint3D& A, const TPoint3D& B) { return A.X * B.X + A.Y * B.Y + A.Z * B.Z; }
inline constexpr TPoint3D VectorCross(const TPoint3D& A, const TPoint3D& B) {
  return {A.Y * B.Z - A.Z * B.Y, A.Z * B.X - A.X * B.Z, A.X * B.Y - A.Y * B.X};
}
inline constexpr float VectorLengthSq(const TPoint3D& A) { return A.X * A.X + A.Y * A.Y + A.Z * A.Z; }
float VectorLength(const TPoint3D& A);
// A zero vector stays zero.
TPoint3D VectorNormalize(const TPoint3D& A);
// Normalize(B - A).
TPoint3D VectorDirection(const TPoint3D& A, const TPoint3D& B);
TPoint3D VectorAbs(const TPoint3D& A);

// Min(a, b) = a when a < b else b; Max(a, b) = a when a > b else b (per component).
inline constexpr TPoint3D ComponentMin(const TPoint3D& A, const TPoint3D& B) {
  return {A.X < B.X ? A.X : B.X, A.Y < B.Y ? A.Y : B.Y, A.Z < B.Z ? A.Z : B.Z};
}
inline constexpr TPoint3D ComponentMax(const TPoint3D& A, const TPoint3D& B) {
  return {A.X > B.X ? A.X : B.X, A.Y > B.Y ? A.Y : B.Y, A.Z > B.Z ? A.Z : B.Z};
}

}  // namespace quorvel
