#pragma once
// Rotation quaternion: imaginary part X, Y, Z, then the real part.
//
// One rotation convention with TMatrix3D: row vectors, right hand, positive angle. The matrix
// of Create(axis, a) equals TMatrix3D::CreateRotation(axis, a), the matrix constructor is its
// exact inverse, and since a row vector meets the left factor first,
//   (A * B).ToMatrix3D() == B.ToMatrix3D() * A.ToMatrix3D().
#include "framework/math/Matrix3D.h"

namespace quorvel {

struct TQuaternion3D {
  TPoint3D ImagPart;
  float RealPart = 1;

  constexpr TQuaternion3D() = default;
  constexpr TQuaternion3D(float x, float y, float z, float w) : ImagPart(x, y, z), RealPart(w) {}
  // Rotation by AAngle radians about AAxis (normalised here; a zero axis gives no turn part).
  TQuaternion3D(const TPoint3D& AAxis, float AAngle);
  // The rotation held by the upper-left 3x3 of AMatrix (the exact inverse of ToMatrix3D).
  explicit TQuaternion3D(const TMatrix3D& AMatrix);

  static constexpr TQuaternion3D Identity() { return {0, 0, 0, 1}; }
  static constexpr TQuaternion3D FromParts(const TPoint3D& AImag, float AReal) {
    return {AImag.X, AImag.Y, AImag.Z, AReal};
  }

  float Length() const;
  TQuaternion3D Normalize() const;
  constexpr TQuaternion3D Conjugate() const { return {-ImagPart.X, -ImagPart.Y, -ImagPart.Z, RealPart}; }
  TMatrix3D ToMatrix3D() const;

  // Hamilton product.
  friend TQuaternion3D operator*(const TQuaternion3D& a, const TQuaternion3D& b);
  friend constexpr bool operator==(const TQuaternion3D& a, const TQuaternion3D& b) {
    return a.ImagPart == b.ImagPart && (a.RealPart > b.RealPart ? a.RealPart - b.RealPart : b.RealPart - a.RealPart) <= 1e-4f;
  }
};

QUORVEL_TYPE_NAME(TQuaternion3D)

static_assert(sizeof(TQuaternion3D) == 16 && alignof(TQuaternion3D) == 4);

}  // namespace quorvel
