#pragma once
// Scalar helpers, TSize3D, the orthonormal basis and view vectors, decomposition of transform
// matrices and the Euler-angle conversions in six rotation orders (a byte 0..5).
#include <cstdint>

#include "framework/math/Matrix3D.h"
#include "framework/math/Quaternion3D.h"

namespace quorvel {

// AEpsilon 0 means exact zero; otherwise |AValue| < AEpsilon.
bool SingleIsZero(float AValue, float AEpsilon);
bool Point3DIsZero(const TPoint3D& P, float AEpsilon);
// The lower bound is tested first: AMin wins when AMin > AMax.
int32_t ClampInt(int32_t AValue, int32_t AMin, int32_t AMax);
// A NaN AValue comes back unchanged.
float ClampSingle(float AValue, float AMin, float AMax);
// Min(Max(AValue, ALow), AHigh): AHigh wins when ALow > AHigh.
int32_t MinMaxInt(int32_t AValue, int32_t ALow, int32_t AHigh);
float MinMaxSingle(float AValue, float ALow, float AHigh);
float Point3DLengthSq(const TPoint3D& P);
// Every entry within 1e-4 of zero.
bool MatrixIsZero(const TMatrix3D& AMatrix);
// AValue wrapped into [ALow, AHigh).
float WrapValue(float AValue, float ALow, float AHigh);
// Degrees reduced to [-180, 180].
float NormalizeAngle(float ADegrees);
// The smallest power of ABase (>= 2) not below AValue (>= 1). Raises
// EArgumentOutOfRangeException outside that domain and when the power exceeds a 32-bit integer.
int32_t NextPowerOf(int32_t AValue, int32_t ABase);

struct TSize3D {
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t Depth = 0;

  constexpr TSize3D() = default;
  constexpr TSize3D(int32_t AX, int32_t AY, int32_t AZ) : Width(AX), Height(AY), Depth(AZ) {}
  static constexpr TSize3D Create(int32_t AX, int32_t AY, int32_t AZ) { return {AX, AY, AZ}; }
  static constexpr TSize3D Create(int32_t AVal) { return {AVal, AVal, AVal}; }

  // The same storage read as X, Y, Z and as Data[0..2].
  constexpr int32_t& X() { return Width; }
  constexpr int32_t& Y() { return Height; }
  constexpr int32_t& Z() { return Depth; }
  constexpr int32_t X() const { return Width; }
  constexpr int32_t Y() const { return Height; }
  constexpr int32_t Z() const { return Depth; }
  int32_t& Data(int AIndex);
  int32_t Data(int AIndex) const { return const_cast<TSize3D*>(this)->Data(AIndex); }

  constexpr TPoint3D ToPoint3D() const { return {float(Width), float(Height), float(Depth)}; }
  constexpr TVector3D ToVector3D() const { return {float(Width), float(Height), float(Depth), 0}; }
  friend constexpr bool operator==(const TSize3D&, const TSize3D&) = default;
};
static_assert(sizeof(TSize3D) == 12);

void MakeOrthonormalBasis(const TPoint3D& ADir, const TPoint3D& AHint, TPoint3D& ARight, TPoint3D& AUp);
void GetViewVectors(const TMatrix3D& AView, TPoint3D& APos, TPoint3D& ADir, TPoint3D& AUp, TPoint3D& ARight);
// -(m13, m23, m33), not normalised.
TPoint3D GetViewDirection(const TMatrix3D& AView);

TMatrix3D MatrixToMatrix3D(const TMatrix& AMatrix);
TPoint3D ExtractTranslation(const TMatrix3D& AMatrix);
// The four-component lengths of rows 1, 2 and 3.
TPoint3D ExtractScale(const TMatrix3D& AMatrix);
TQuaternion3D ExtractRotation(const TMatrix3D& AMatrix);
TQuaternion3D MatrixToQuaternion(const TMatrix& AMatrix);

// Euler angles in degrees; AOrder 0..5, anything else raises Exception.
TMatrix EulerToMatrix(const TPoint3D& AAngles, uint8_t AOrder);
// Angles in degrees within [-180, 180]. Not the inverse of EulerToMatrix.
TPoint3D MatrixToEuler(const TMatrix& AMatrix, uint8_t AOrder);
TQuaternion3D EulerToQuaternion(const TPoint3D& AAngles, uint8_t AOrder);
TPoint3D QuaternionToEuler(const TQuaternion3D& AQuat, uint8_t AOrder);
TQuaternion3D AnglesToQuaternion(const TPoint3D& AAngles, uint8_t AOrder);
TPoint3D QuaternionToAngles(const TQuaternion3D& AQuat, uint8_t AOrder);

}  // namespace quorvel
