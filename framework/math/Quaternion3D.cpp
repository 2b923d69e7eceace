#include "framework/math/Quaternion3D.h"

#include <cmath>

namespace quorvel {

TQuaternion3D::TQuaternion3D(const TPoint3D& AAxis, float AAngle) {
  const float half = AAngle * 0.5f;
  ImagPart = AAxis.Normalize() * std::sin(half);
  RealPart = std::cos(half);
}

TQuaternion3D::TQuaternion3D(const TMatrix3D& AMatrix) {
  // The trace method below reads the column-vector layout: the transpose of a row matrix.
  const TMatrix3D m = AMatrix.Transpose();
  const float trace = m.m11 + m.m22 + m.m33;
  float x, y, z, w;
  if (trace > 0) {
    const float s = 0.5f / std::sqrt(trace + 1);
    x = (m.m32 - m.m23) * s;
    y = (m.m13 - m.m31) * s;
    z = (m.m21 - m.m12) * s;
    w = 0.25f / s;
  } else if (m.m11 > m.m22 && m.m11 > m.m33) {
    const float h = 2 * std::sqrt(1 + m.m11 - m.m22 - m.m33);
    x = h / 4;
    y = (m.m12 + m.m21) / h;
    z = (m.m13 + m.m31) / h;
    w = (m.m32 - m.m23) / h;
  } else if (m.m22 > m.m33) {
    const float h = 2 * std::sqrt(1 + m.m22 - m.m11 - m.m33);
    x = (m.m12 + m.m21) / h;
    y = h / 4;
    z = (m.m23 + m.m32) / h;
    w = (m.m13 - m.m31) / h;
  } else {
    const float h = 2 * std::sqrt(1 + m.m33 - m.m11 - m.m22);
    x = (m.m13 + m.m31) / h;
    y = (m.m23 + m.m32) / h;
    z = h / 4;
    w = (m.m21 - m.m12) / h;
  }
  *this = TQuaternion3D(x, y, z, w).Normalize();
}

float TQuaternion3D::Length() const {
  return std::sqrt(ImagPart.X * ImagPart.X + ImagPart.Y * ImagPart.Y + ImagPart.Z * ImagPart.Z +
                   RealPart * RealPart);
}

TQuaternion3D TQuaternion3D::Normalize() const {
  const float len = Length();
  if (!(len > 0)) return Identity();
  return FromParts(ImagPart / len, RealPart / len);
}

TMatrix3D TQuaternion3D::ToMatrix3D() const {
  const float x = ImagPart.X, y = ImagPart.Y, z = ImagPart.Z, w = RealPart;
  const float xx = x * x, yy = y * y, zz = z * z;
  const float xy = x * y, xz = x * z, yz = y * z, xw = x * w, yw = y * w, zw = z * w;
  return {1 - 2 * (yy + zz), 2 * (xy + zw),     2 * (xz - yw),     0,
          2 * (xy - zw),     1 - 2 * (xx + zz), 2 * (yz + xw),     0,
          2 * (xz + yw),     2 * (yz - xw),     1 - 2 * (xx + yy), 0,
          0,                 0,                 0,                 1};
}

TQuaternion3D operator*(const TQuaternion3D& a, const TQuaternion3D& b) {
  const TPoint3D& u = a.ImagPart;
  const TPoint3D& v = b.ImagPart;
  return TQuaternion3D::FromParts(v * a.RealPart + u * b.RealPart + u.CrossProduct(v),
                                 a.RealPart * b.RealPart - u.DotProduct(v));
}

}  // namespace quorvel
