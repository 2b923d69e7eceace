#include "lib/utils/UtilsQuaternions.h"

#include <algorithm>
#include <cmath>

namespace quorvel {

TQuat TQuat::FromMatrix(const TMatrix3D& m) {
  TQuat q;
  const float trace = m.m11 + m.m22 + m.m33;
  if (trace > 1e-40f) {
    const float s = 0.5f / std::sqrt(trace + 1);
    q = {(m.m32 - m.m23) * s, (m.m13 - m.m31) * s, (m.m21 - m.m12) * s, 0.25f / s};
  } else if (m.m11 > m.m22 && m.m11 > m.m33) {
    const float h = 2 * std::sqrt(1 + m.m11 - m.m22 - m.m33);
    q = {h / 4, (m.m12 + m.m21) / h, (m.m13 + m.m31) / h, (m.m32 - m.m23) / h};
  } else if (m.m22 > m.m33) {
    const float h = 2 * std::sqrt(1 + m.m22 - m.m11 - m.m33);
    q = {(m.m12 + m.m21) / h, h / 4, (m.m23 + m.m32) / h, (m.m13 - m.m31) / h};
  } else {
    const float h = 2 * std::sqrt(1 + m.m33 - m.m11 - m.m22);
    q = {(m.m13 + m.m31) / h, (m.m23 + m.m32) / h, h / 4, (m.m21 - m.m12) / h};
  }
  return q.Normalize();
}

float TQuat::Length() const { return std::sqrt(X * X + Y * Y + Z * Z + W * W); }

TQuat TQuat::Normalize() const {
  const float len = Length();
  if (!(len > 1e-30f)) return Identity();
  return {X / len, Y / len, Z / len, W / len};
}

TQuat TQuat::Slerp(float T, const TQuat& A, const TQuat& B) {
  const float c = A.X * B.X + A.Y * B.Y + A.Z * B.Z + A.W * B.W;
  const float sign = c < 0 ? -1.0f : 1.0f;
  const float angle = std::acos(std::min(std::fabs(c), 1.0f));
  const float s = std::sin(angle);
  float wA, wB;
  if (s > 0.001f) {
    wA = sign * std::sin((1 - T) * angle) / s;
    wB = std::sin(T * angle) / s;
  } else {
    wA = sign * (1 - T);
    wB = T;
  }
  return {A.X * wA + B.X * wB, A.Y * wA + B.Y * wB, A.Z * wA + B.Z * wB, A.W * wA + B.W * wB};
}

}  // namespace quorvel
