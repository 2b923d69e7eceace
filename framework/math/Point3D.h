#pragma once
// Three-dimensional points (X, Y, Z) and homogeneous vectors (X, Y, Z, W).
#include <cmath>

#include "framework/rtl/TypeName.h"

namespace quorvel {

struct TVector3D;
struct TQuaternion3D;

struct TPoint3D {
  float X = 0;
  float Y = 0;
  float Z = 0;

  constexpr TPoint3D() = default;
  constexpr TPoint3D(float x, float y, float z) : X(x), Y(y), Z(z) {}
  // A vector becomes a point by dividing by W, unless W is within 1e-4 of zero.
  constexpr explicit TPoint3D(const TVector3D& v);

  static constexpr TPoint3D Create(float x, float y, float z) { return {x, y, z}; }
  static constexpr TPoint3D Zero() { return {}; }

  constexpr float DotProduct(const TPoint3D& p) const { return X * p.X + Y * p.Y + Z * p.Z; }
  constexpr TPoint3D CrossProduct(const TPoint3D& p) const {
    return {Y * p.Z - Z * p.Y, Z * p.X - X * p.Z, X * p.Y - Y * p.X};
  }
  float Length() const { return std::sqrt(X * X + Y * Y + Z * Z); }
  constexpr float LengthSquared() const { return X * X + Y * Y + Z * Z; }
  float Distance(const TPoint3D& p) const {
    const float dx = X - p.X, dy = Y - p.Y, dz = Z - p.Z;
    return std::sqrt(dx * dx + dy * dy + dz * dz);
  }
  // A zero vector stays zero.
  TPoint3D Normalize() const {
    const float len = Length();
    return len > 0 ? TPoint3D{X / len, Y / len, Z / len} : *this;
  }
  // Turned about AAxis by AAngle radians (the point times TMatrix3D::CreateRotation).
  TPoint3D Rotate(const TPoint3D& AAxis, float AAngle) const;
  // Turned by the rotation of a quaternion (the point times the quaternion's matrix).
  TPoint3D Rotate(const TQuaternion3D& AQuaternion) const;

  constexpr TPoint3D& operator+=(const TPoint3D& p) { X += p.X; Y += p.Y; Z += p.Z; return *this; }
  constexpr TPoint3D& operator-=(const TPoint3D& p) { X -= p.X; Y -= p.Y; Z -= p.Z; return *this; }
  constexpr TPoint3D& operator*=(float s) { X *= s; Y *= s; Z *= s; return *this; }

  friend constexpr TPoint3D operator+(const TPoint3D& a, const TPoint3D& b) { return {a.X + b.X, a.Y + b.Y, a.Z + b.Z}; }
  friend constexpr TPoint3D operator-(const TPoint3D& a, const TPoint3D& b) { return {a.X - b.X, a.Y - b.Y, a.Z - b.Z}; }
  friend constexpr TPoint3D operator-(const TPoint3D& a) { return {-a.X, -a.Y, -a.Z}; }
  friend constexpr TPoint3D operator*(const TPoint3D& a, float s) { return {a.X * s, a.Y * s, a.Z * s}; }
  friend constexpr TPoint3D operator*(float s, const TPoint3D& a) { return {a.X * s, a.Y * s, a.Z * s}; }
  friend constexpr TPoint3D operator/(const TPoint3D& a, float s) { return {a.X / s, a.Y / s, a.Z / s}; }
  // Equality within 1e-4 per component, as the platform compares points.
  friend constexpr bool operator==(const TPoint3D& a, const TPoint3D& b) {
    auto near = [](float u, float v) { return (u > v ? u - v : v - u) <= 1e-4f; };
    return near(a.X, b.X) && near(a.Y, b.Y) && near(a.Z, b.Z);
  }
};

struct TVector3D {
  float X = 0;
  float Y = 0;
  float Z = 0;
  float W = 0;

  constexpr TVector3D() = default;
  constexpr TVector3D(float x, float y, float z, float w = 1.0f) : X(x), Y(y), Z(z), W(w) {}
  constexpr explicit TVector3D(const TPoint3D& p, float w = 1.0f) : X(p.X), Y(p.Y), Z(p.Z), W(w) {}

  static constexpr TVector3D Create(float x, float y, float z, float w = 1.0f) { return {x, y, z, w}; }

  constexpr TPoint3D ToPoint3D() const { return TPoint3D(*this); }
  float Length() const { return std::sqrt(X * X + Y * Y + Z * Z + W * W); }
  // Normalised over all four components; a zero vector stays zero.
  TVector3D Normalize() const {
    const float len = Length();
    return len > 0 ? TVector3D{X / len, Y / len, Z / len, W / len} : *this;
  }
  constexpr float DotProduct(const TVector3D& v) const { return X * v.X + Y * v.Y + Z * v.Z + W * v.W; }

  friend constexpr TVector3D operator+(const TVector3D& a, const TVector3D& b) {
    return {a.X + b.X, a.Y + b.Y, a.Z + b.Z, a.W + b.W};
  }
  friend constexpr TVector3D operator-(const TVector3D& a, const TVector3D& b) {
    return {a.X - b.X, a.Y - b.Y, a.Z - b.Z, a.W - b.W};
  }
  friend constexpr TVector3D operator*(const TVector3D& a, float s) { return {a.X * s, a.Y * s, a.Z * s, a.W * s}; }
  friend constexpr TVector3D operator*(float s, const TVector3D& a) { return a * s; }
  friend constexpr bool operator==(const TVector3D& a, const TVector3D& b) {
    auto near = [](float u, float v) { return (u > v ? u - v : v - u) <= 1e-4f; };
    return near(a.X, b.X) && near(a.Y, b.Y) && near(a.Z, b.Z) && near(a.W, b.W);
  }
};

constexpr TPoint3D::TPoint3D(const TVector3D& v) : X(v.X), Y(v.Y), Z(v.Z) {
  if (v.W > 1e-4f || v.W < -1e-4f) {
    X /= v.W;
    Y /= v.W;
    Z /= v.W;
  }
}

// Where the ray from RayPos along RayDir meets the plane through PlanePoint with normal
// PlaneNormal. False for a ray parallel to the plane or a plane behind the ray's start.
inline bool RayCastPlaneIntersect(const TPoint3D& RayPos, const TPoint3D& RayDir, const TPoint3D& PlanePoint,
                                  const TPoint3D& PlaneNormal, TPoint3D& Intersection) {
  const float facing = RayDir.DotProduct(PlaneNormal);
  if (std::fabs(facing) < 1e-6f) return false;
  const float t = (PlanePoint - RayPos).DotProduct(PlaneNormal) / facing;
  if (!(t >= 0)) return false;
  Intersection = RayPos + RayDir * t;
  return true;
}

QUORVEL_TYPE_NAME(TPoint3D)
QUORVEL_TYPE_NAME(TVector3D)

static_assert(sizeof(TPoint3D) == 12 && alignof(TPoint3D) == 4);
static_assert(sizeof(TVector3D) == 16 && alignof(TVector3D) == 4);

}  // namespace quorvel
