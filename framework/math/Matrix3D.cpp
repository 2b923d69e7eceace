#include "framework/math/Matrix3D.h"

#include <cmath>

#include "framework/math/Quaternion3D.h"

namespace quorvel {

TMatrix TMatrix::Transpose() const {
  TMatrix r;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r.At(i, j) = Get(j, i);
  return r;
}

float TMatrix::Determinant() const {
  return m11 * (m22 * m33 - m23 * m32) - m12 * (m21 * m33 - m23 * m31) + m13 * (m21 * m32 - m22 * m31);
}

TMatrix operator*(const TMatrix& a, const TMatrix& b) {
  TMatrix r;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r.At(i, j) = a.Get(i, 0) * b.Get(0, j) + a.Get(i, 1) * b.Get(1, j) + a.Get(i, 2) * b.Get(2, j);
  return r;
}

bool operator==(const TMatrix& a, const TMatrix& b) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      if (a.Get(i, j) != b.Get(i, j)) return false;
  return true;
}

TMatrix3D TMatrix3D::Create(const TMatrix& AMatrix) {
  TMatrix3D r = Identity();
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r.At(i, j) = AMatrix.Get(i, j);
  return r;
}

TMatrix3D TMatrix3D::CreateTranslation(const TPoint3D& t) {
  TMatrix3D r = Identity();
  r.m41 = t.X;
  r.m42 = t.Y;
  r.m43 = t.Z;
  return r;
}

TMatrix3D TMatrix3D::CreateScaling(const TPoint3D& s) {
  TMatrix3D r = Identity();
  r.m11 = s.X;
  r.m22 = s.Y;
  r.m33 = s.Z;
  return r;
}

TMatrix3D TMatrix3D::CreateRotationX(float a) {
  const float c = std::cos(a), s = std::sin(a);
  return {1, 0, 0, 0, 0, c, s, 0, 0, -s, c, 0, 0, 0, 0, 1};
}

TMatrix3D TMatrix3D::CreateRotationY(float a) {
  const float c = std::cos(a), s = std::sin(a);
  return {c, 0, -s, 0, 0, 1, 0, 0, s, 0, c, 0, 0, 0, 0, 1};
}

TMatrix3D TMatrix3D::CreateRotationZ(float a) {
  const float c = std::cos(a), s = std::sin(a);
  return {c, s, 0, 0, -s, c, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
}

TMatrix3D TMatrix3D::CreateRotation(const TPoint3D& AAxis, float AAngle) {
  const TPoint3D n = AAxis.Normalize();
  const float x = n.X, y = n.Y, z = n.Z;
  const float c = std::cos(AAngle), s = std::sin(AAngle), t = 1 - c;
  return {x * x * t + c,     x * y * t + z * s, z * x * t - y * s, 0,
          x * y * t - z * s, y * y * t + c,     y * z * t + x * s, 0,
          z * x * t + y * s, y * z * t - x * s, z * z * t + c,     0,
          0,                 0,                 0,                 1};
}

TMatrix3D TMatrix3D::CreateRotationYawPitchRoll(float AYaw, float APitch, float ARoll) {
  const float sY = std::sin(AYaw), cY = std::cos(AYaw);
  const float sP = std::sin(APitch), cP = std::cos(APitch);
  const float sR = std::sin(ARoll), cR = std::cos(ARoll);
  return {cR * cY + sP * sR * sY, cY * sP * sR - cR * sY,       -cP * sR, 0,
          cP * sY,                cP * cY,                      sP,       0,
          cY * sR - cR * sP * sY, -cR * cY * sP - sR * sY,      cP * cR,  0,
          0,                      0,                            0,        1};
}

TMatrix3D TMatrix3D::CreateLookAtDirRH(const TPoint3D& ASource, const TPoint3D& ADirection,
                                       const TPoint3D& ACeiling) {
  const TPoint3D z = (-ADirection).Normalize();
  const TPoint3D x = ACeiling.CrossProduct(z).Normalize();
  const TPoint3D y = z.CrossProduct(x);
  return {x.X, y.X, z.X, 0,
          x.Y, y.Y, z.Y, 0,
          x.Z, y.Z, z.Z, 0,
          -x.DotProduct(ASource), -y.DotProduct(ASource), -z.DotProduct(ASource), 1};
}

TMatrix3D TMatrix3D::CreateLookAtRH(const TPoint3D& ASource, const TPoint3D& ATarget, const TPoint3D& ACeiling) {
  return CreateLookAtDirRH(ASource, ATarget - ASource, ACeiling);
}

TMatrix3D TMatrix3D::CreatePerspectiveFovRH(float AFOV, float AAspect, float ANearPlane, float AFarPlane,
                                            bool AHorizontalFOV) {
  const float cot = 1.0f / std::tan(AFOV * 0.5f);
  float xs, ys;
  if (AHorizontalFOV) {
    xs = cot;
    ys = cot * AAspect;
  } else {
    ys = cot;
    xs = cot / AAspect;
  }
  const float range = AFarPlane - ANearPlane;
  TMatrix3D r;
  r.m11 = xs;
  r.m22 = ys;
  r.m33 = -(AFarPlane + ANearPlane) / range;
  r.m34 = -1;
  r.m43 = -2 * AFarPlane * ANearPlane / range;
  return r;
}

TMatrix3D TMatrix3D::CreateOrthoOffCenterRH(float ALeft, float ATop, float ARight, float ABottom,
                                            float ANearPlane, float AFarPlane) {
  TMatrix3D r = Identity();
  r.m11 = 2 / (ARight - ALeft);
  r.m22 = 2 / (ATop - ABottom);
  r.m33 = -2 / (AFarPlane - ANearPlane);
  r.m41 = -(ARight + ALeft) / (ARight - ALeft);
  r.m42 = -(ATop + ABottom) / (ATop - ABottom);
  r.m43 = -(AFarPlane + ANearPlane) / (AFarPlane - ANearPlane);
  return r;
}

TMatrix3D TMatrix3D::CreateOrthoRH(float AWidth, float AHeight, float ANearPlane, float AFarPlane) {
  return CreateOrthoOffCenterRH(-AWidth / 2, AHeight / 2, AWidth / 2, -AHeight / 2, ANearPlane, AFarPlane);
}

namespace {
// Cofactor expansion in double precision: a[r][c].
struct Inv4 {
  double a[4][4];
  double inv[4][4];
  double det;
  explicit Inv4(const TMatrix3D& m) {
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j) a[i][j] = m.Get(i, j);
    const double s0 = a[0][0] * a[1][1] - a[1][0] * a[0][1];
    const double s1 = a[0][0] * a[1][2] - a[1][0] * a[0][2];
    const double s2 = a[0][0] * a[1][3] - a[1][0] * a[0][3];
    const double s3 = a[0][1] * a[1][2] - a[1][1] * a[0][2];
    const double s4 = a[0][1] * a[1][3] - a[1][1] * a[0][3];
    const double s5 = a[0][2] * a[1][3] - a[1][2] * a[0][3];
    const double c5 = a[2][2] * a[3][3] - a[3][2] * a[2][3];
    const double c4 = a[2][1] * a[3][3] - a[3][1] * a[2][3];
    const double c3 = a[2][1] * a[3][2] - a[3][1] * a[2][2];
    const double c2 = a[2][0] * a[3][3] - a[3][0] * a[2][3];
    const double c1 = a[2][0] * a[3][2] - a[3][0] * a[2][2];
    const double c0 = a[2][0] * a[3][1] - a[3][0] * a[2][1];
    det = s0 * c5 - s1 * c4 + s2 * c3 + s3 * c2 - s4 * c1 + s5 * c0;
    inv[0][0] = a[1][1] * c5 - a[1][2] * c4 + a[1][3] * c3;
    inv[0][1] = -a[0][1] * c5 + a[0][2] * c4 - a[0][3] * c3;
    inv[0][2] = a[3][1] * s5 - a[3][2] * s4 + a[3][3] * s3;
    inv[0][3] = -a[2][1] * s5 + a[2][2] * s4 - a[2][3] * s3;
    inv[1][0] = -a[1][0] * c5 + a[1][2] * c2 - a[1][3] * c1;
    inv[1][1] = a[0][0] * c5 - a[0][2] * c2 + a[0][3] * c1;
    inv[1][2] = -a[3][0] * s5 + a[3][2] * s2 - a[3][3] * s1;
    inv[1][3] = a[2][0] * s5 - a[2][2] * s2 + a[2][3] * s1;
    inv[2][0] = a[1][0] * c4 - a[1][1] * c2 + a[1][3] * c0;
    inv[2][1] = -a[0][0] * c4 + a[0][1] * c2 - a[0][3] * c0;
    inv[2][2] = a[3][0] * s4 - a[3][1] * s2 + a[3][3] * s0;
    inv[2][3] = -a[2][0] * s4 + a[2][1] * s2 - a[2][3] * s0;
    inv[3][0] = -a[1][0] * c3 + a[1][1] * c1 - a[1][2] * c0;
    inv[3][1] = a[0][0] * c3 - a[0][1] * c1 + a[0][2] * c0;
    inv[3][2] = -a[3][0] * s3 + a[3][1] * s1 - a[3][2] * s0;
    inv[3][3] = a[2][0] * s3 - a[2][1] * s1 + a[2][2] * s0;
  }
};
}  // namespace

float TMatrix3D::Determinant() const { return float(Inv4(*this).det); }

TMatrix3D TMatrix3D::Inverse() const {
  const Inv4 k(*this);
  if (k.det == 0 || !std::isfinite(k.det)) return Identity();
  TMatrix3D r;
  const double f = 1.0 / k.det;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) r.At(i, j) = float(k.inv[i][j] * f);
  return r;
}

TMatrix3D TMatrix3D::Transpose() const {
  TMatrix3D r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) r.At(i, j) = Get(j, i);
  return r;
}

TPoint3D TMatrix3D::EyePosition() const {
  return {-(m11 * m41 + m12 * m42 + m13 * m43), -(m21 * m41 + m22 * m42 + m23 * m43),
          -(m31 * m41 + m32 * m42 + m33 * m43)};
}

TMatrix TMatrix3D::ToMatrix() const {
  TMatrix r;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r.At(i, j) = Get(i, j);
  return r;
}

TMatrix3D operator*(const TMatrix3D& a, const TMatrix3D& b) {
  TMatrix3D r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      r.At(i, j) = a.Get(i, 0) * b.Get(0, j) + a.Get(i, 1) * b.Get(1, j) + a.Get(i, 2) * b.Get(2, j) +
                   a.Get(i, 3) * b.Get(3, j);
  return r;
}

TMatrix3D operator*(const TMatrix3D& a, float s) {
  TMatrix3D r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) r.At(i, j) = a.Get(i, j) * s;
  return r;
}

TMatrix3D operator+(const TMatrix3D& a, const TMatrix3D& b) {
  TMatrix3D r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) r.At(i, j) = a.Get(i, j) + b.Get(i, j);
  return r;
}

bool operator==(const TMatrix3D& a, const TMatrix3D& b) {
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      if (a.Get(i, j) != b.Get(i, j)) return false;
  return true;
}

TPoint3D TPoint3D::Rotate(const TPoint3D& AAxis, float AAngle) const {
  return *this * TMatrix3D::CreateRotation(AAxis, AAngle);
}

TPoint3D TPoint3D::Rotate(const TQuaternion3D& AQuaternion) const {
  return *this * AQuaternion.ToMatrix3D();
}

}  // namespace quorvel
