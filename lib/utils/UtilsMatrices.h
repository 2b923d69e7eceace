#pragma once
// TMat3: a 3x3 orientation matrix held as its rows ex, ey, ez (row vectors, like TMatrix).
#include "framework/math/Matrix3D.h"

namespace quorvel {

struct TMat3 {
  TPoint3D ex;
  TPoint3D ey;
  TPoint3D ez;

  constexpr TMat3() = default;
  // The zero matrix; the argument is ignored.
  constexpr explicit TMat3(int32_t /*ADummy*/) {}
  constexpr TMat3(float a, float b, float c, float d, float e, float f, float g, float h, float i)
      : ex(a, b, c), ey(d, e, f), ez(g, h, i) {}
  constexpr TMat3(const TPoint3D& _x, const TPoint3D& _y, const TPoint3D& _z) : ex(_x), ey(_y), ez(_z) {}
  constexpr TMat3(const TMatrix& m) : ex(m.m11, m.m12, m.m13), ey(m.m21, m.m22, m.m23), ez(m.m31, m.m32, m.m33) {}

  void _Set(float a, float b, float c, float d, float e, float f, float g, float h, float i) {
    *this = TMat3(a, b, c, d, e, f, g, h, i);
  }
  // Rotation by angle (radians) about axis, taken as passed (not normalised).
  void _Set(const TPoint3D& axis, float angle);
  void SetRows(const TPoint3D& x, const TPoint3D& y, const TPoint3D& z) { ex = x; ey = y; ez = z; }

  constexpr TPoint3D Column0() const { return {ex.X, ey.X, ez.X}; }
  constexpr TPoint3D Column1() const { return {ex.Y, ey.Y, ez.Y}; }
  constexpr TPoint3D Column2() const { return {ex.Z, ey.Z, ez.Z}; }
  // Row 0, 1 or 2; any other index fails an assertion (EAssertionFailed).
  TPoint3D& GetRow(int32_t AIndex);
  const TPoint3D& GetRow(int32_t AIndex) const { return const_cast<TMat3*>(this)->GetRow(AIndex); }

  // No test for a zero determinant is made.
  TMat3 Inverse() const;
  TMatrix ToMatrix() const;
  TMatrix3D ToMatrix3D() const;
  operator TMatrix() const { return ToMatrix(); }

  // The point as a row vector times the matrix; the operand order makes no difference.
  friend constexpr TPoint3D operator*(const TMat3& m, const TPoint3D& v) { return m.ex * v.X + m.ey * v.Y + m.ez * v.Z; }
  friend constexpr TPoint3D operator*(const TPoint3D& v, const TMat3& m) { return m * v; }
  // Row k of the result is B's row k times A: the conventional product B x A.
  friend constexpr TMat3 operator*(const TMat3& A, const TMat3& B) { return {A * B.ex, A * B.ey, A * B.ez}; }
  friend constexpr TMat3 operator*(const TMat3& m, float s) { return {m.ex * s, m.ey * s, m.ez * s}; }
  friend constexpr TMat3 operator+(const TMat3& a, const TMat3& b) { return {a.ex + b.ex, a.ey + b.ey, a.ez + b.ez}; }
  friend constexpr TMat3 operator-(const TMat3& a, const TMat3& b) { return {a.ex - b.ex, a.ey - b.ey, a.ez - b.ez}; }
};
static_assert(sizeof(TMat3) == sizeof(TMatrix));

}  // namespace quorvel
