#include "lib/utils/UtilsMath.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <string>

#include "framework/rtl/Exceptions.h"

namespace quorvel {

bool SingleIsZero(float AValue, float AEpsilon) {
  if (AEpsilon == 0) return AValue == 0;
  return std::fabs(AValue) < AEpsilon;
}

bool Point3DIsZero(const TPoint3D& P, float AEpsilon) {
  return SingleIsZero(P.X, AEpsilon) && SingleIsZero(P.Y, AEpsilon) && SingleIsZero(P.Z, AEpsilon);
}

int32_t ClampInt(int32_t AValue, int32_t AMin, int32_t AMax) {
  if (AValue < AMin) return AMin;
  if (AValue > AMax) return AMax;
  return AValue;
}

float ClampSingle(float AValue, float AMin, float AMax) {
  if (AMin > AValue) return AMin;
  if (AValue > AMax) return AMax;
  return AValue;
}

int32_t MinMaxInt(int32_t AValue, int32_t ALow, int32_t AHigh) { return std::min(std::max(AValue, ALow), AHigh); }

float MinMaxSingle(float AValue, float ALow, float AHigh) {
  const float hi = AValue > ALow ? AValue : ALow;
  return hi < AHigh ? hi : AHigh;
}

float Point3DLengthSq(const TPoint3D& P) { return P.X * P.X + P.Y * P.Y + P.Z * P.Z; }

bool MatrixIsZero(const TMatrix3D& AMatrix) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c)
      if (!(std::fabs(AMatrix.Get(r, c)) <= 1e-4f)) return false;
  return true;
}

float WrapValue(float AValue, float ALow, float AHigh) {
  const float d = AValue - ALow;
  const float r = AHigh - ALow;
  return d - std::floor(d / r) * r + ALow;
}

float NormalizeAngle(float ADegrees) {
  const float inv360 = 0.0027777778f;
  float a = ADegrees - std::trunc(ADegrees * inv360) * 360.0f;
  if (a > 180) a -= 360;
  else if (a < -180) a += 360;
  return a;
}

int32_t NextPowerOf(int32_t AValue, int32_t ABase) {
  if (AValue < 1 || ABase < 2)
    throw EArgumentOutOfRangeException("NextPowerOf(" + std::to_string(AValue) + ", " + std::to_string(ABase) +
                                       "): the value must be at least 1 and the base at least 2");
  // An integer loop: the logarithm in single precision goes wrong from 2^21 + 1 on.
  int64_t p = 1;
  while (p < AValue) p *= ABase;
  if (p > std::numeric_limits<int32_t>::max())
    throw EArgumentOutOfRangeException("NextPowerOf(" + std::to_string(AValue) + ", " + std::to_string(ABase) +
                                       "): the power does not fit a 32-bit integer");
  return int32_t(p);
}

int32_t& TSize3D::Data(int AIndex) {
  switch (AIndex) {
    case 0: return Width;
    case 1: return Height;
    case 2: return Depth;
  }
  throw EArgumentOutOfRangeException("TSize3D.Data index " + std::to_string(AIndex) + " out of range");
}

void MakeOrthonormalBasis(const TPoint3D& ADir, const TPoint3D& AHint, TPoint3D& ARight, TPoint3D& AUp) {
  const TPoint3D n = ADir.Normalize();
  ARight = n.CrossProduct(AHint).Normalize();
  if (Point3DIsZero(ARight, 1e-7f)) ARight = n.CrossProduct({1, 0, 0}).Normalize();
  AUp = ARight.CrossProduct(n).Normalize();
  if (Point3DIsZero(AUp, 1e-7f)) AUp = ARight.CrossProduct({0, 0, -1}).Normalize();
}

void GetViewVectors(const TMatrix3D& AView, TPoint3D& APos, TPoint3D& ADir, TPoint3D& AUp, TPoint3D& ARight) {
  APos = AView.EyePosition();
  ADir = -TPoint3D(AView.m13, AView.m23, AView.m33).Normalize();
  MakeOrthonormalBasis(ADir, {0, -1, 0}, ARight, AUp);
}

TPoint3D GetViewDirection(const TMatrix3D& AView) { return -TPoint3D(AView.m13, AView.m23, AView.m33); }

TMatrix3D MatrixToMatrix3D(const TMatrix& AMatrix) { return TMatrix3D::Create(AMatrix); }

TPoint3D ExtractTranslation(const TMatrix3D& m) { return {m.m41, m.m42, m.m43}; }

TPoint3D ExtractScale(const TMatrix3D& m) {
  auto len = [](const TVector3D& r) { return std::sqrt(r.X * r.X + r.Y * r.Y + r.Z * r.Z + r.W * r.W); };
  return {len(m.Row(0)), len(m.Row(1)), len(m.Row(2))};
}

TQuaternion3D ExtractRotation(const TMatrix3D& AMatrix) {
  return TQuaternion3D(TMatrix3D::CreateScaling(ExtractScale(AMatrix)).Inverse() * AMatrix);
}

TQuaternion3D MatrixToQuaternion(const TMatrix& AMatrix) { return TQuaternion3D(MatrixToMatrix3D(AMatrix)); }

namespace {

[[noreturn]] void RaiseUnknownOrder() { throw Exception("unknown or spheric rotation is not supported"); }

constexpr float kDegToRad = std::numbers::pi_v<float> / 180;
constexpr float kRadToDeg = 180 / std::numbers::pi_v<float>;

}  // namespace

TMatrix EulerToMatrix(const TPoint3D& AAngles, uint8_t AOrder) {
  const float a = WrapValue(AAngles.X, 0, 360) * kDegToRad;
  const float b = WrapValue(AAngles.Y, 0, 360) * kDegToRad;
  const float c = WrapValue(AAngles.Z, 0, 360) * kDegToRad;
  float yaw, pitch, roll;
  switch (AOrder) {
    case 0: yaw = a; pitch = b; roll = c; break;
    case 1: yaw = b; pitch = a; roll = c; break;
    case 2: yaw = c; pitch = a; roll = b; break;
    case 3: yaw = c; pitch = b; roll = a; break;
    case 4: yaw = b; pitch = c; roll = a; break;
    case 5: yaw = a; pitch = c; roll = b; break;
    default: RaiseUnknownOrder();
  }
  return TMatrix3D::CreateRotationYawPitchRoll(yaw, pitch, roll).ToMatrix();
}

TPoint3D MatrixToEuler(const TMatrix& m, uint8_t AOrder) {
  constexpr float kPi = std::numbers::pi_v<float>;
  // Rounding can push m13 just outside [-1, 1], where the arc sine is NaN.
  const float s = std::clamp(m.m13, -1.0f, 1.0f);
  float r0, r1, r2;
  if (std::fabs(-1 - s) < 1e-40f) {
    r0 = kPi / 2;
    r1 = std::atan2(m.m21, m.m31);
    r2 = 0;
  } else if (std::fabs(1 - s) < 1e-40f) {
    r0 = -kPi / 2;
    r1 = std::atan2(-m.m21, -m.m31);
    r2 = 0;
  } else {
    const float x1 = -std::asin(s);
    const float x2 = kPi - x1;
    const float c1 = std::cos(x1), c2 = std::cos(x2);
    const float y1 = std::atan2(m.m23 / c1, m.m33 / c1), z1 = std::atan2(m.m12 / c1, m.m11 / c1);
    const float y2 = std::atan2(m.m23 / c2, m.m33 / c2), z2 = std::atan2(m.m12 / c2, m.m11 / c2);
    const float sum1 = x1 * x1 + y1 * y1 + z1 * z1;
    const float sum2 = x2 * x2 + y2 * y2 + z2 * z2;
    if (sum2 <= sum1) {
      r0 = x2; r1 = y2; r2 = z2;
    } else {
      r0 = x1; r1 = y1; r2 = z1;
    }
  }
  TPoint3D e;
  switch (AOrder) {
    case 0: e = {r0, r1, r2}; break;
    case 1: e = {r1, r0, r2}; break;
    case 2: e = {r2, r0, r1}; break;
    case 3: e = {r2, r1, r0}; break;
    case 4: e = {r1, r2, r0}; break;
    case 5: e = {r0, r2, r1}; break;
    default: RaiseUnknownOrder();
  }
  return {NormalizeAngle(e.X * kRadToDeg), NormalizeAngle(e.Y * kRadToDeg), NormalizeAngle(e.Z * kRadToDeg)};
}

TQuaternion3D EulerToQuaternion(const TPoint3D& AAngles, uint8_t AOrder) {
  return MatrixToQuaternion(EulerToMatrix(AAngles, AOrder));
}

TPoint3D QuaternionToEuler(const TQuaternion3D& AQuat, uint8_t AOrder) {
  return MatrixToEuler(AQuat.ToMatrix3D().ToMatrix(), AOrder);
}

TQuaternion3D AnglesToQuaternion(const TPoint3D& AAngles, uint8_t AOrder) { return EulerToQuaternion(AAngles, AOrder); }

TPoint3D QuaternionToAngles(const TQuaternion3D& AQuat, uint8_t AOrder) { return QuaternionToEuler(AQuat, AOrder); }

}  // namespace quorvel
