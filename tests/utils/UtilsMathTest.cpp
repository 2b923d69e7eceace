#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "framework/rtl/Exceptions.h"
#include "lib/utils/UtilsMath.h"
#include "lib/utils/UtilsMatrices.h"
#include "lib/utils/UtilsQuaternions.h"
#include "lib/utils/UtilsVectors.h"
#include "tests/support/MathExpect.h"

using namespace quorvel;

namespace {

constexpr float kMathPi = std::numbers::pi_v<float>;

}  // namespace

TEST(UtilsMath, ToleranceTestsAndClamps) {
  struct ZeroCase {
    float Value, Eps;
    bool Zero;
  } zeros[] = {{0, 0, true}, {1e-8f, 0, false}, {1e-7f, 1e-7f, false}, {-5e-8f, 1e-7f, true}};
  for (const ZeroCase& c : zeros) EXPECT_EQ(SingleIsZero(c.Value, c.Eps), c.Zero) << c.Value << " " << c.Eps;
  EXPECT_TRUE(Point3DIsZero({5e-8f, -5e-8f, 0}, 1e-7f));
  EXPECT_FALSE(Point3DIsZero({5e-8f, 2e-7f, 0}, 1e-7f));

  // The two integer clamps disagree when the bounds are crossed.
  EXPECT_EQ(ClampInt(5, 10, 0), 10);
  EXPECT_EQ(MinMaxInt(5, 10, 0), 0);
  EXPECT_EQ(ClampInt(-3, 0, 10), 0);
  EXPECT_EQ(ClampInt(13, 0, 10), 10);
  EXPECT_FLOAT_EQ(ClampSingle(5, 10, 0), 10);
  EXPECT_FLOAT_EQ(MinMaxSingle(5, 10, 0), 0);
  EXPECT_TRUE(std::isnan(ClampSingle(std::nanf(""), 0, 1)));
  EXPECT_FLOAT_EQ(ClampSingle(0.5f, 0, 1), 0.5f);
}

TEST(UtilsMath, AngleWrappingTable) {
  struct Case {
    float In, Out;
  } normalize[] = {{540, 180}, {-540, -180}, {190, -170}, {-190, 170}, {360, 0}, {725, 5}, {180, 180}, {-180, -180}};
  for (const Case& c : normalize) EXPECT_FLOAT_EQ(NormalizeAngle(c.In), c.Out) << c.In;

  struct WrapCase {
    float Value, Low, High, Out;
  } wraps[] = {{-30, 0, 360, 330}, {360, 0, 360, 0}, {390, 0, 360, 30}, {-330, 0, 360, 30}, {5, -1, 1, -1}};
  for (const WrapCase& c : wraps) EXPECT_NEAR(WrapValue(c.Value, c.Low, c.High), c.Out, 1e-4) << c.Value;
}

TEST(UtilsMath, NextPowerOfIsExactWhereverTheResultFitsAndRaisesBeyond) {
  struct Case {
    int32_t Value, Base, Power;
  } cases[] = {{100, 2, 128},          {64, 2, 64},
               {1, 2, 1},              {2, 2, 2},
               {2097152, 2, 2097152},  {2097153, 2, 4194304},  // single-precision logarithms fail here
               {1 << 30, 2, 1 << 30},  {(1 << 29) + 1, 2, 1 << 30},
               {10, 3, 27},            {244, 3, 729},
               {1162261467, 3, 1162261467}};
  for (const Case& c : cases) EXPECT_EQ(NextPowerOf(c.Value, c.Base), c.Power) << c.Value << " base " << c.Base;

  struct Bad {
    int32_t Value, Base;
  } bad[] = {{(1 << 30) + 1, 2}, {1162261468, 3}, {0, 2}, {-5, 2}, {10, 1}, {10, 0}};
  for (const Bad& b : bad) EXPECT_THROW(NextPowerOf(b.Value, b.Base), EArgumentOutOfRangeException) << b.Value;
}

TEST(UtilsMath, MatrixIsZeroWithinTolerance) {
  TMatrix3D m;
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) m.At(r, c) = ((r + c) % 2 ? 5e-5f : -5e-5f);
  EXPECT_TRUE(MatrixIsZero(m));
  m.m32 = 0.001f;
  EXPECT_FALSE(MatrixIsZero(m));
  EXPECT_FALSE(MatrixIsZero(TMatrix3D::Identity()));
}

TEST(UtilsMath, Size3DViews) {
  TSize3D s = TSize3D::Create(1, 2, 3);
  s.Y() = 7;
  EXPECT_EQ(s.Height, 7);
  s.Data(2) = 9;
  EXPECT_EQ(s.Depth, 9);
  EXPECT_EQ(TSize3D::Create(4), TSize3D(4, 4, 4));
  EXPECT_EQ(s.ToPoint3D(), TPoint3D(1, 7, 9));
  EXPECT_EQ(s.ToVector3D().W, 0);
  EXPECT_THROW(s.Data(3), EArgumentOutOfRangeException);
}

TEST(UtilsMath, OrthonormalBasisAndViewVectors) {
  TPoint3D right, up;
  // Direction parallel to the hint takes the first fallback.
  MakeOrthonormalBasis({0, 1, 0}, {0, -1, 0}, right, up);
  ExpectPointNear(right, {0, 0, -1});
  ExpectPointNear(up, {1, 0, 0});

  TPoint3D pos, dir;
  GetViewVectors(TMatrix3D::Identity(), pos, dir, up, right);
  ExpectPointNear(pos, {0, 0, 0});
  ExpectPointNear(dir, {0, 0, -1});
  ExpectPointNear(right, {-1, 0, 0});
  ExpectPointNear(up, {0, -1, 0});

  const TMatrix3D view = TMatrix3D::CreateLookAtRH({3, 4, 5}, {3, 4, 0}, {0, -1, 0});
  GetViewVectors(view, pos, dir, up, right);
  ExpectPointNear(pos, {3, 4, 5});
  ExpectPointNear(dir, {0, 0, -1});
  ExpectPointNear(GetViewDirection(TMatrix3D::CreateScaling({1, 1, 2})), {0, 0, -2});
}

TEST(UtilsMath, DecompositionOfATransform) {
  const TMatrix3D rot = TQuaternion3D({0, 1, 1}, 0.8f).ToMatrix3D();
  const TMatrix3D m = TMatrix3D::CreateScaling({2, 3, 4}) * rot * TMatrix3D::CreateTranslation({5, 6, 7});
  ExpectPointNear(ExtractTranslation(m), {5, 6, 7});
  ExpectPointNear(ExtractScale(m), {2, 3, 4});
  const TQuaternion3D q = ExtractRotation(m), expected({0, 1, 1}, 0.8f);
  ExpectPointNear(q.ImagPart, expected.ImagPart);
  EXPECT_NEAR(q.RealPart, expected.RealPart, 1e-5);

  TMatrix3D row;
  row.m11 = 2;
  EXPECT_FLOAT_EQ(ExtractScale(row).X, 2);
  row.m14 = 1;  // the fourth column enters the scale
  EXPECT_FLOAT_EQ(ExtractScale(row).X, std::sqrt(5.0f));
  EXPECT_EQ(MatrixToMatrix3D(rot.ToMatrix()), rot);
}

TEST(UtilsQuat, FromMatrixNormalizeAndSlerp) {
  const TQuat id = TQuat::FromMatrix(TMatrix3D::Identity());
  EXPECT_FLOAT_EQ(id.W, 1);
  EXPECT_FLOAT_EQ(id.X, 0);
  const TQuat x180 = TQuat::FromMatrix(TMatrix3D::CreateScaling({1, -1, -1}));
  EXPECT_FLOAT_EQ(x180.X, 1);
  EXPECT_FLOAT_EQ(x180.W, 0);
  // Of a platform quaternion's (row-vector) matrix it gives the conjugate: it reads the
  // column layout, and its callers transpose where they need the quaternion itself.
  const TQuaternion3D q({1, -2, 0.5f}, 1.1f);
  const TQuat back = TQuat::FromMatrix(q.ToMatrix3D());
  ExpectPointNear({back.X, back.Y, back.Z}, -q.ImagPart);
  const TQuat direct = TQuat::FromMatrix(q.ToMatrix3D().Transpose());
  ExpectPointNear({direct.X, direct.Y, direct.Z}, q.ImagPart);
  EXPECT_NEAR(back.W, q.RealPart, 1e-5);

  const TQuat zero = TQuat(0, 0, 0, 0).Normalize();
  EXPECT_EQ(zero.W, 1);
  EXPECT_NEAR(TQuat(0, 3, 0, 4).Normalize().Y, 0.6f, 1e-6);

  // Opposite quaternions: the signed linear branch, the same rotation throughout.
  for (float t : {0.0f, 0.3f, 1.0f}) {
    const TQuat s = TQuat::Slerp(t, TQuat::Identity(), TQuat(0, 0, 0, -1));
    EXPECT_FLOAT_EQ(s.W, -1) << t;
  }
  const TQuat n = TQuat(0.1f, 0.2f, 0.3f, 0.9f).Normalize();
  const TQuat same = TQuat::Slerp(0.4f, n, n);
  EXPECT_NEAR(same.X, n.X, 1e-6);
  EXPECT_NEAR(same.W, n.W, 1e-6);
  // Half-way about Y between identity and 90°.
  const TQuat half = TQuat::Slerp(0.5f, TQuat::Identity(), TQuat(0, 0.70710677f, 0, 0.70710677f));
  EXPECT_NEAR(half.Y, std::sin(kMathPi / 8), 1e-5);
  EXPECT_NEAR(half.W, std::cos(kMathPi / 8), 1e-5);
}

TEST(UtilsVectors, ComponentOperations) {
  EXPECT_EQ(VectorCross({1, 0, 0}, {0, 1, 0}), TPoint3D(0, 0, 1));
  EXPECT_FLOAT_EQ(VectorDot({1, 2, 3}, {4, 5, 6}), 32);
  EXPECT_EQ(VectorNormalize({0, 0, 0}), TPoint3D(0, 0, 0));
  EXPECT_EQ(VectorDirection({1, 1, 1}, {1, 4, 1}), TPoint3D(0, 1, 0));
  EXPECT_EQ(VectorAbs({-1, 2, -3}), TPoint3D(1, 2, 3));
  EXPECT_EQ(ComponentMin({1, 5, -2}, {2, 4, -3}), TPoint3D(1, 4, -3));
  EXPECT_EQ(ComponentMax({1, 5, -2}, {2, 4, -3}), TPoint3D(2, 5, -2));
  EXPECT_FLOAT_EQ(VectorLengthSq({1, 2, 2}), 9);
  EXPECT_FLOAT_EQ(VectorLength({1, 2, 2}), 3);
}

TEST(Mat3, RowsProductsAndInverse) {
  EXPECT_EQ(TMat3(42).ex, TPoint3D(0, 0, 0));
  TMat3 rz;
  rz._Set({0, 0, 1}, kMathPi / 2);
  ExpectPointNear(rz.ex, {0, 1, 0});
  ExpectPointNear(rz.ey, {-1, 0, 0});
  ExpectPointNear(rz.ez, {0, 0, 1});
  // A · B is B's rows times A: the conventional B x A.
  const TMat3 scaleX(2, 0, 0, 0, 1, 0, 0, 0, 1);
  ExpectPointNear((rz * scaleX).ex, {0, 2, 0});
  ExpectPointNear(TPoint3D(1, 0, 0) * rz, rz * TPoint3D(1, 0, 0));

  const TMat3 inv = rz.Inverse();
  ExpectPointNear(inv.ex, rz.Column0());
  ExpectPointNear(inv.ey, rz.Column1());
  const TMat3 diag = TMat3(2, 0, 0, 0, 4, 0, 0, 0, 8).Inverse();
  ExpectPointNear({diag.ex.X, diag.ey.Y, diag.ez.Z}, {0.5f, 0.25f, 0.125f});

  TMat3 twice;
  twice._Set({0, 0, 2}, kMathPi / 2);  // the axis is not normalised: no rotation
  EXPECT_NEAR(twice.ez.Z, 4, 1e-5);

  EXPECT_EQ(&rz.GetRow(1), &rz.ey);
  EXPECT_THROW(rz.GetRow(3), EAssertionFailed);
  EXPECT_THROW(rz.GetRow(-1), EAssertionFailed);
  const TMatrix3D m4 = rz.ToMatrix3D();
  EXPECT_FLOAT_EQ(m4.m44, 1);
  EXPECT_NEAR(m4.m12, 1, 1e-6);
  const TMat3 copy = TMat3(rz.ToMatrix());
  EXPECT_EQ(copy.ey, rz.ey);
}

// ---- Euler angles ----

namespace {

// The run-time's yaw/pitch/roll matrix composed from plain axis turns (row vectors): the roll
// turns about Y, then the pitch about X, then the yaw about -Z.
TMatrix ComposedYawPitchRoll(float yaw, float pitch, float roll) {
  return (TMatrix3D::CreateRotationY(roll) * TMatrix3D::CreateRotationX(pitch) * TMatrix3D::CreateRotationZ(-yaw))
      .ToMatrix();
}

// Which of the (wrapped) angles X, Y, Z become yaw, pitch and roll, per order.
constexpr int kYawPitchRoll[6][3] = {{0, 1, 2}, {1, 0, 2}, {2, 0, 1}, {2, 1, 0}, {1, 2, 0}, {0, 2, 1}};
// Which of (R0, R1, R2) go to X, Y, Z, per order.
constexpr int kOutput[6][3] = {{0, 1, 2}, {1, 0, 2}, {2, 0, 1}, {2, 1, 0}, {1, 2, 0}, {0, 2, 1}};

float Component(const TPoint3D& p, int i) { return i == 0 ? p.X : (i == 1 ? p.Y : p.Z); }

}  // namespace

TEST(Euler, EulerToMatrixFollowsTheOrderTable) {
  const TPoint3D angles[] = {{10, 20, 30}, {-45, 100, 370}, {0, 0, 0}, {90, -90, 180}};
  for (uint8_t order = 0; order < 6; ++order)
    for (const TPoint3D& a : angles) {
      const TPoint3D rad = TPoint3D(WrapValue(a.X, 0, 360), WrapValue(a.Y, 0, 360), WrapValue(a.Z, 0, 360)) * (kMathPi / 180);
      const TMatrix expected = ComposedYawPitchRoll(Component(rad, kYawPitchRoll[order][0]),
                                                    Component(rad, kYawPitchRoll[order][1]),
                                                    Component(rad, kYawPitchRoll[order][2]));
      SCOPED_TRACE(testing::Message() << "order " << int(order) << " angles " << a.X << "," << a.Y << "," << a.Z);
      ExpectMatrixNear(EulerToMatrix(a, order), expected);
    }
  ExpectMatrixNear(EulerToMatrix({0, 0, 0}, 3), TMatrix::Identity());
  // Angles are wrapped first.
  ExpectMatrixNear(EulerToMatrix({0, -330, 0}, 0), EulerToMatrix({0, 30, 0}, 0));
  ExpectMatrixNear(EulerToMatrix({0, 390, 0}, 0), EulerToMatrix({0, 30, 0}, 0));
}

TEST(Euler, MatrixToEulerTableOfKnownResults) {
  struct Case {
    TPoint3D In;
    uint8_t Order;
    TPoint3D Out;
  } cases[] = {
      {{0, 30, 0}, 0, {0, 30, 0}},  {{30, 0, 0}, 0, {0, 0, -30}}, {{0, 0, 30}, 0, {30, 0, 0}},
      {{30, 0, 0}, 1, {30, 0, 0}},  {{0, 30, 0}, 1, {0, 0, -30}}, {{30, 0, 0}, 5, {0, -30, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "order " << int(c.Order) << " in " << c.In.X << "," << c.In.Y << "," << c.In.Z);
    ExpectPointNear(MatrixToEuler(EulerToMatrix(c.In, c.Order), c.Order), c.Out, 1e-3f);
  }
}

TEST(Euler, MatrixToEulerPermutesOneDecompositionPerOrder) {
  const TMatrix m = EulerToMatrix({10, 20, 30}, 0);
  const TPoint3D r = MatrixToEuler(m, 0);  // (R0, R1, R2) in degrees
  // The decomposition: R0 = -asin(m13) (or pi minus it), R1 from m23/m33, R2 from m12/m11.
  const float x1 = -std::asin(m.m13);
  EXPECT_NEAR(r.X, x1 * 180 / kMathPi, 1e-3);
  EXPECT_NEAR(r.Y, std::atan2(m.m23, m.m33) * 180 / kMathPi, 1e-3);
  EXPECT_NEAR(r.Z, std::atan2(m.m12, m.m11) * 180 / kMathPi, 1e-3);
  for (uint8_t order = 0; order < 6; ++order) {
    const TPoint3D e = MatrixToEuler(m, order);
    EXPECT_NEAR(e.X, Component(r, kOutput[order][0]), 1e-4) << int(order);
    EXPECT_NEAR(e.Y, Component(r, kOutput[order][1]), 1e-4) << int(order);
    EXPECT_NEAR(e.Z, Component(r, kOutput[order][2]), 1e-4) << int(order);
  }
}

TEST(Euler, PlusMinusNinetyDegreesTakeTheSpecialCases) {
  const TMatrix down = EulerToMatrix({0, 0, 90}, 0);
  EXPECT_EQ(down.m13, -1.0f);
  ExpectPointNear(MatrixToEuler(down, 0), {90, 0, 0}, 1e-4f);
  const TMatrix up = EulerToMatrix({0, 0, -90}, 0);
  EXPECT_EQ(up.m13, 1.0f);
  ExpectPointNear(MatrixToEuler(up, 0), {-90, 0, 0}, 1e-4f);
}

TEST(Euler, RoundingBeyondPlusMinusOneGivesNoNaN) {
  // m13 nudged just past -1 and +1 by rounding: clamped, then the special cases apply.
  for (float m13 : {std::nextafter(-1.0f, -2.0f), -1.0000002f, std::nextafter(1.0f, 2.0f)}) {
    TMatrix m;
    m.m13 = m13;
    m.m21 = 0.3f;
    m.m31 = -0.7f;
    const TPoint3D e = MatrixToEuler(m, 0);
    EXPECT_TRUE(std::isfinite(e.X) && std::isfinite(e.Y) && std::isfinite(e.Z)) << m13;
    EXPECT_FLOAT_EQ(std::fabs(e.X), 90) << m13;
    EXPECT_FLOAT_EQ(e.Z, 0);
  }
}

TEST(Euler, OutputStaysWithinHalfTurnsAndQuaternionFormsAgree) {
  for (uint8_t order = 0; order < 6; ++order)
    for (float a = -400; a <= 400; a += 37) {
      const TPoint3D in(a, 0.5f * a + 11, 200 - a);
      const TPoint3D e = MatrixToEuler(EulerToMatrix(in, order), order);
      for (float v : {e.X, e.Y, e.Z}) {
        EXPECT_GE(v, -180);
        EXPECT_LE(v, 180);
      }
      // Through a quaternion the same angles come back (the same matrix, up to rounding).
      const TPoint3D viaQ = QuaternionToEuler(EulerToQuaternion(in, order), order);
      ExpectPointNear(TPoint3D(std::sin(viaQ.X / 57.29578f), std::sin(viaQ.Y / 57.29578f), std::sin(viaQ.Z / 57.29578f)),
                      TPoint3D(std::sin(e.X / 57.29578f), std::sin(e.Y / 57.29578f), std::sin(e.Z / 57.29578f)), 2e-3f);
    }
}

TEST(Euler, AnInvalidOrderRaises) {
  for (uint8_t order : {6, 7, 255}) {
    try {
      EulerToMatrix({1, 2, 3}, order);
      FAIL() << "no exception for order " << int(order);
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), "unknown or spheric rotation is not supported");
    }
    EXPECT_THROW(MatrixToEuler(TMatrix::Identity(), order), Exception);
    EXPECT_THROW(EulerToQuaternion({0, 0, 0}, order), Exception);
    EXPECT_THROW(QuaternionToAngles(TQuaternion3D::Identity(), order), Exception);
  }
  ExpectPointNear(QuaternionToAngles(AnglesToQuaternion({0, 30, 0}, 0), 0), {0, 30, 0}, 1e-3f);
}
