#pragma once
// The engine's own rotation quaternion (X, Y, Z imaginary, W real) with slerp.
#include "framework/math/Matrix3D.h"
#include "framework/math/Quaternion3D.h"

namespace quorvel {

struct TQuat {
  float X = 0;
  float Y = 0;
  float Z = 0;
  float W = 0;

  constexpr TQuat() = default;
  constexpr TQuat(float x, float y, float z, float w) : X(x), Y(y), Z(z), W(w) {}

  static constexpr TQuat Create(const TVector3D& AVector) { return {AVector.X, AVector.Y, AVector.Z, AVector.W}; }
  static constexpr TQuat Identity() { return {0, 0, 0, 1}; }
  // The rotation of the upper-left 3x3 (trace method), normalised.
  static TQuat FromMatrix(const TMatrix3D& AMatrix);
  // The quaternion whose ToMatrix3D (the framework's convention) is AMatrix, up to sign:
  // FromMatrix reads that matrix as the opposite turn, so it gets the transpose.
  static TQuat FromRotationMatrix(const TMatrix3D& AMatrix) { return FromMatrix(AMatrix.Transpose()); }
  // From A (T = 0) to B (T = 1); not renormalised.
  static TQuat Slerp(float T, const TQuat& A, const TQuat& B);

  float Length() const;
  // Divided by its length, or the identity when the length is at most 1e-30.
  TQuat Normalize() const;
  constexpr TVector3D ToVector3D() const { return {X, Y, Z, W}; }
  constexpr TQuaternion3D ToQuaternion3D() const { return {X, Y, Z, W}; }
};

static_assert(sizeof(TQuat) == sizeof(TVector3D));

}  // namespace quorvel
