#include "lib/utils/UtilsMatrices.h"

#include <cmath>
#include <string>

#include "framework/rtl/Exceptions.h"

namespace quorvel {

void TMat3::_Set(const TPoint3D& axis, float angle) {
  const float x = axis.X, y = axis.Y, z = axis.Z;
  const float c = std::cos(angle), s = std::sin(angle), t = 1 - c;
  ex = {x * x * t + c, x * y * t + z * s, z * x * t - y * s};
  ey = {x * y * t - z * s, y * y * t + c, y * z * t + x * s};
  ez = {z * x * t + y * s, y * z * t - x * s, z * z * t + c};
}

TPoint3D& TMat3::GetRow(int32_t AIndex) {
  switch (AIndex) {
    case 0: return ex;
    case 1: return ey;
    case 2: return ez;
  }
  throw EAssertionFailed("TMat3.GetRow: row index " + std::to_string(AIndex) + " out of range");
}

TMat3 TMat3::Inverse() const {
  const TPoint3D r0 = ey.CrossProduct(ez);
  const TPoint3D r1 = ez.CrossProduct(ex);
  const TPoint3D r2 = ex.CrossProduct(ey);
  const float inv = 1 / ez.DotProduct(r2);
  return {TPoint3D(r0.X, r1.X, r2.X) * inv, TPoint3D(r0.Y, r1.Y, r2.Y) * inv, TPoint3D(r0.Z, r1.Z, r2.Z) * inv};
}

TMatrix TMat3::ToMatrix() const {
  TMatrix m;
  m.m11 = ex.X; m.m12 = ex.Y; m.m13 = ex.Z;
  m.m21 = ey.X; m.m22 = ey.Y; m.m23 = ey.Z;
  m.m31 = ez.X; m.m32 = ez.Y; m.m33 = ez.Z;
  return m;
}

TMatrix3D TMat3::ToMatrix3D() const { return TMatrix3D::Create(ToMatrix()); }

}  // namespace quorvel
