#pragma once
// Turning directions by a matrix when baking it into vertices: normals are directions
// perpendicular to the surface, so they turn by the inverse transpose of the matrix's 3x3
// part (a non-uniform scale would otherwise tilt them); tangents and binormals lie in the
// surface and turn by the 3x3 part itself. The translation never moves a direction.
#include <cmath>

#include "framework/math/Matrix3D.h"
#include "framework/math/Point3D.h"

namespace quorvel {

// The matrix that turns normals: the inverse transpose of AMatrix's 3x3 part, as a 3x3
// matrix in a TMatrix3D (row vectors, no translation). For a singular 3x3 part the cofactor
// matrix (the inverse transpose up to the vanishing determinant), so nothing divides by zero.
inline TMatrix3D NormalMatrixOf(const TMatrix3D& AMatrix) {
  const float a = AMatrix.m11, b = AMatrix.m12, c = AMatrix.m13;
  const float d = AMatrix.m21, e = AMatrix.m22, f = AMatrix.m23;
  const float g = AMatrix.m31, h = AMatrix.m32, i = AMatrix.m33;
  // Cofactors C[r][c]; the inverse transpose is C / det.
  TMatrix3D n = TMatrix3D::Identity();
  n.m11 = e * i - f * h;
  n.m12 = -(d * i - f * g);
  n.m13 = d * h - e * g;
  n.m21 = -(b * i - c * h);
  n.m22 = a * i - c * g;
  n.m23 = -(a * h - b * g);
  n.m31 = b * f - c * e;
  n.m32 = -(a * f - c * d);
  n.m33 = a * e - b * d;
  const float det = a * n.m11 + b * n.m12 + c * n.m13;
  if (det != 0 && std::isfinite(det)) {
    const float r = 1.0f / det;
    n.m11 *= r, n.m12 *= r, n.m13 *= r;
    n.m21 *= r, n.m22 *= r, n.m23 *= r;
    n.m31 *= r, n.m32 *= r, n.m33 *= r;
  }
  return n;
}

// ADirection times the 3x3 part of AMatrix (W = 0), not normalised.
inline TPoint3D TurnDirection(const TPoint3D& ADirection, const TMatrix3D& AMatrix) {
  return TPoint3D(ADirection.X * AMatrix.m11 + ADirection.Y * AMatrix.m21 + ADirection.Z * AMatrix.m31,
                  ADirection.X * AMatrix.m12 + ADirection.Y * AMatrix.m22 + ADirection.Z * AMatrix.m32,
                  ADirection.X * AMatrix.m13 + ADirection.Y * AMatrix.m23 + ADirection.Z * AMatrix.m33);
}

// A normal turned by a matrix made with NormalMatrixOf, normalised.
inline TPoint3D TurnNormal(const TPoint3D& ANormal, const TMatrix3D& ANormalMatrix) {
  return TurnDirection(ANormal, ANormalMatrix).Normalize();
}

}  // namespace quorvel
