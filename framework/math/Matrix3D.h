#pragma once
// 3x3 and 4x4 single-precision matrices, row-major (m<row><column>). Points are row vectors:
// p' = p x M, the translation sits in m41..m43, and A * B applies A first, then B.
// Projections follow OpenGL's clip space (depth -1 at the near plane, +1 at the far plane).
#include "framework/math/Point3D.h"

namespace quorvel {

struct TMatrix {
  float m11 = 0, m12 = 0, m13 = 0;
  float m21 = 0, m22 = 0, m23 = 0;
  float m31 = 0, m32 = 0, m33 = 0;

  static constexpr TMatrix Identity() {
    TMatrix m;
    m.m11 = m.m22 = m.m33 = 1;
    return m;
  }
  // Entry at row r, column c (both 0-based).
  float Get(int r, int c) const { return this->*Entries[r][c]; }
  float& At(int r, int c) { return this->*Entries[r][c]; }
  TPoint3D Row(int r) const { return {Get(r, 0), Get(r, 1), Get(r, 2)}; }

  TMatrix Transpose() const;
  float Determinant() const;

  friend TMatrix operator*(const TMatrix& a, const TMatrix& b);
  friend TPoint3D operator*(const TPoint3D& p, const TMatrix& m) {
    return {p.X * m.m11 + p.Y * m.m21 + p.Z * m.m31, p.X * m.m12 + p.Y * m.m22 + p.Z * m.m32,
            p.X * m.m13 + p.Y * m.m23 + p.Z * m.m33};
  }
  friend bool operator==(const TMatrix& a, const TMatrix& b);

 private:
  static constexpr float TMatrix::* Entries[3][3] = {
      {&TMatrix::m11, &TMatrix::m12, &TMatrix::m13},
      {&TMatrix::m21, &TMatrix::m22, &TMatrix::m23},
      {&TMatrix::m31, &TMatrix::m32, &TMatrix::m33}};
};

struct TMatrix3D {
  float m11 = 0, m12 = 0, m13 = 0, m14 = 0;
  float m21 = 0, m22 = 0, m23 = 0, m24 = 0;
  float m31 = 0, m32 = 0, m33 = 0, m34 = 0;
  float m41 = 0, m42 = 0, m43 = 0, m44 = 0;

  constexpr TMatrix3D() = default;
  // Row by row.
  constexpr TMatrix3D(float a11, float a12, float a13, float a14, float a21, float a22, float a23, float a24,
                      float a31, float a32, float a33, float a34, float a41, float a42, float a43, float a44)
      : m11(a11), m12(a12), m13(a13), m14(a14), m21(a21), m22(a22), m23(a23), m24(a24),
        m31(a31), m32(a32), m33(a33), m34(a34), m41(a41), m42(a42), m43(a43), m44(a44) {}
  static constexpr TMatrix3D Identity() { return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}; }
  // The identity with its upper-left 3x3 replaced.
  static TMatrix3D Create(const TMatrix& AMatrix);

  float Get(int r, int c) const { return this->*Entries[r][c]; }
  float& At(int r, int c) { return this->*Entries[r][c]; }
  TVector3D Row(int r) const { return {Get(r, 0), Get(r, 1), Get(r, 2), Get(r, 3)}; }
  void SetRow(int r, const TVector3D& v) { At(r, 0) = v.X; At(r, 1) = v.Y; At(r, 2) = v.Z; At(r, 3) = v.W; }

  static TMatrix3D CreateTranslation(const TPoint3D& ATranslation);
  static TMatrix3D CreateScaling(const TPoint3D& AScale);
  // Right-handed turns of row vectors: CreateRotationZ(pi/2) takes +X to +Y.
  static TMatrix3D CreateRotationX(float AAngle);
  static TMatrix3D CreateRotationY(float AAngle);
  static TMatrix3D CreateRotationZ(float AAngle);
  static TMatrix3D CreateRotation(const TPoint3D& AAxis, float AAngle);
  // The yaw, pitch and roll matrix of the run-time library (angles in radians).
  static TMatrix3D CreateRotationYawPitchRoll(float AYaw, float APitch, float ARoll);
  static TMatrix3D CreateLookAtRH(const TPoint3D& ASource, const TPoint3D& ATarget, const TPoint3D& ACeiling);
  static TMatrix3D CreateLookAtDirRH(const TPoint3D& ASource, const TPoint3D& ADirection, const TPoint3D& ACeiling);
  // AFOV in radians: vertical, or horizontal when AHorizontalFOV.
  static TMatrix3D CreatePerspectiveFovRH(float AFOV, float AAspect, float ANearPlane, float AFarPlane,
                                          bool AHorizontalFOV = false);
  static TMatrix3D CreateOrthoRH(float AWidth, float AHeight, float ANearPlane, float AFarPlane);
  static TMatrix3D CreateOrthoOffCenterRH(float ALeft, float ATop, float ARight, float ABottom, float ANearPlane,
                                          float AFarPlane);

  float Determinant() const;
  // The inverse; the identity for a singular matrix.
  TMatrix3D Inverse() const;
  TMatrix3D Transpose() const;
  // The camera position of a view matrix.
  TPoint3D EyePosition() const;
  // The upper-left 3x3.
  TMatrix ToMatrix() const;

  friend TMatrix3D operator*(const TMatrix3D& a, const TMatrix3D& b);
  friend TMatrix3D operator*(const TMatrix3D& a, float s);
  friend TMatrix3D operator+(const TMatrix3D& a, const TMatrix3D& b);
  // (x, y, z, 1) x M, without division by the fourth component.
  friend TPoint3D operator*(const TPoint3D& p, const TMatrix3D& m) {
    return {p.X * m.m11 + p.Y * m.m21 + p.Z * m.m31 + m.m41, p.X * m.m12 + p.Y * m.m22 + p.Z * m.m32 + m.m42,
            p.X * m.m13 + p.Y * m.m23 + p.Z * m.m33 + m.m43};
  }
  friend TVector3D operator*(const TVector3D& v, const TMatrix3D& m) {
    return {v.X * m.m11 + v.Y * m.m21 + v.Z * m.m31 + v.W * m.m41,
            v.X * m.m12 + v.Y * m.m22 + v.Z * m.m32 + v.W * m.m42,
            v.X * m.m13 + v.Y * m.m23 + v.Z * m.m33 + v.W * m.m43,
            v.X * m.m14 + v.Y * m.m24 + v.Z * m.m34 + v.W * m.m44};
  }
  // Exact comparison of the sixteen entries.
  friend bool operator==(const TMatrix3D& a, const TMatrix3D& b);

 private:
  static constexpr float TMatrix3D::* Entries[4][4] = {
      {&TMatrix3D::m11, &TMatrix3D::m12, &TMatrix3D::m13, &TMatrix3D::m14},
      {&TMatrix3D::m21, &TMatrix3D::m22, &TMatrix3D::m23, &TMatrix3D::m24},
      {&TMatrix3D::m31, &TMatrix3D::m32, &TMatrix3D::m33, &TMatrix3D::m34},
      {&TMatrix3D::m41, &TMatrix3D::m42, &TMatrix3D::m43, &TMatrix3D::m44}};
};

QUORVEL_TYPE_NAME(TMatrix)
QUORVEL_TYPE_NAME(TMatrix3D)

static_assert(sizeof(TMatrix) == 36 && alignof(TMatrix) == 4);
static_assert(sizeof(TMatrix3D) == 64 && alignof(TMatrix3D) == 4);

}  // namespace quorvel
