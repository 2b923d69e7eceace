#pragma once
// Comparisons of points, matrices and quaternions within a tolerance, entry by entry, so a
// failure names the entry that is off.
#include <gtest/gtest.h>

#include "framework/math/Matrix3D.h"
#include "framework/math/Point3D.h"
#include "framework/math/Quaternion3D.h"

namespace quorvel {

inline void ExpectPointNear(const TPoint3D& actual, const TPoint3D& expected, float tol = 1e-5f) {
  EXPECT_NEAR(actual.X, expected.X, tol);
  EXPECT_NEAR(actual.Y, expected.Y, tol);
  EXPECT_NEAR(actual.Z, expected.Z, tol);
}

inline void ExpectMatrixNear(const TMatrix3D& actual, const TMatrix3D& expected, float tol = 1e-5f) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(actual.Get(r, c), expected.Get(r, c), tol) << "m" << r + 1 << c + 1;
}

inline void ExpectMatrixNear(const TMatrix& actual, const TMatrix& expected, float tol = 1e-5f) {
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(actual.Get(r, c), expected.Get(r, c), tol) << "m" << r + 1 << c + 1;
}

inline void ExpectQuaternionNear(const TQuaternion3D& actual, const TQuaternion3D& expected, float tol = 1e-6f) {
  EXPECT_NEAR(actual.ImagPart.X, expected.ImagPart.X, tol);
  EXPECT_NEAR(actual.ImagPart.Y, expected.ImagPart.Y, tol);
  EXPECT_NEAR(actual.ImagPart.Z, expected.ImagPart.Z, tol);
  EXPECT_NEAR(actual.RealPart, expected.RealPart, tol);
}

}  // namespace quorvel
