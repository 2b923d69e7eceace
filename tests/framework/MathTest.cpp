#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <type_traits>

#include "framework/math/Position3D.h"
#include "framework/math/Vector.h"
#include "tests/support/MathExpect.h"

using namespace quorvel;

namespace {

constexpr float kMathTestPi = std::numbers::pi_v<float>;

}  // namespace

static_assert(!std::is_same_v<TAlphaColor, uint32_t>);
static_assert(!std::is_convertible_v<uint32_t, TAlphaColor>);
static_assert(std::is_standard_layout_v<TMatrix3D> && std::is_trivially_copyable_v<TMatrix3D>);
static_assert(offsetof(TMatrix3D, m41) == 48 && offsetof(TMatrix3D, m34) == 44);
static_assert(offsetof(TQuaternion3D, RealPart) == 12);
static_assert(offsetof(TBoundingBox, Right) == 12 && offsetof(TBoundingBox, Far) == 20);
static_assert(std::string_view(TypeNameOf<TMatrix3D>()) == "TMatrix3D");

TEST(Matrix3D, ProductAppliesTheLeftOperandFirst) {
  const TMatrix3D t = TMatrix3D::CreateTranslation({1, 2, 3});
  const TMatrix3D s = TMatrix3D::CreateScaling({2, 3, 4});
  ExpectPointNear(TPoint3D(1, 1, 1) * (t * s), {4, 9, 16});   // translate, then scale
  ExpectPointNear(TPoint3D(1, 1, 1) * (s * t), {3, 5, 7});     // scale, then translate
}

TEST(Matrix3D, ProductMatchesHandComputedEntries) {
  const TMatrix3D a(1, 2, 0, 0, 0, 1, 0, 0, 3, 0, 1, 0, 0, 0, 2, 1);
  const TMatrix3D b(2, 0, 0, 0, 1, 1, 0, 0, 0, 0, 1, 5, 0, 4, 0, 1);
  // Row i of a times column j of b, written out by hand.
  const TMatrix3D expected(4, 2, 0, 0, 1, 1, 0, 0, 6, 0, 1, 5, 0, 4, 2, 11);
  EXPECT_EQ(a * b, expected);
}

TEST(Matrix3D, PointTransformIgnoresTheFourthColumn) {
  TMatrix3D m = TMatrix3D::Identity();
  m.m14 = 7;  // would change W, but a point is never divided by it
  m.m41 = 10;
  ExpectPointNear(TPoint3D(1, 2, 3) * m, {11, 2, 3});
  const TVector3D v = TVector3D(1, 2, 3, 1) * m;
  EXPECT_FLOAT_EQ(v.W, 8);
}

TEST(Matrix3D, InverseMatchesHandComputedValuesAndUndoesTheMatrix) {
  const TMatrix3D m = TMatrix3D::CreateScaling({2, 4, 8}) * TMatrix3D::CreateTranslation({1, 2, 3});
  const TMatrix3D expected(0.5f, 0, 0, 0, 0, 0.25f, 0, 0, 0, 0, 0.125f, 0, -0.5f, -0.5f, -0.375f, 1);
  ExpectMatrixNear(m.Inverse(), expected);

  const TMatrix3D general = TMatrix3D::CreateRotation({1, 2, 3}, 0.7f) * TMatrix3D::CreateTranslation({4, -5, 6}) *
                            TMatrix3D::CreatePerspectiveFovRH(1.0f, 1.5f, 0.5f, 50);
  ExpectMatrixNear(general * general.Inverse(), TMatrix3D::Identity(), 1e-4f);
  EXPECT_NEAR(TMatrix3D::CreateScaling({2, 4, 8}).Determinant(), 64, 1e-4);
}

TEST(Matrix3D, InverseOfASingularMatrixIsTheIdentity) {
  EXPECT_EQ(TMatrix3D::CreateScaling({1, 0, 1}).Inverse(), TMatrix3D::Identity());
  EXPECT_EQ(TMatrix3D().Inverse(), TMatrix3D::Identity());
}

TEST(Matrix3D, LookAtMatchesHandComputedValues) {
  // Eye (0, 0, 5) looking at the origin with +Y up: the view's Z axis is +Z, X is +X.
  const TMatrix3D v = TMatrix3D::CreateLookAtRH({0, 0, 5}, {0, 0, 0}, {0, 1, 0});
  ExpectMatrixNear(v, TMatrix3D(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, -5, 1));

  // Eye (1, 2, 3) looking along +X with the framework's up (0, -1, 0).
  const TMatrix3D w = TMatrix3D::CreateLookAtDirRH({1, 2, 3}, {3, 0, 0}, {0, -1, 0});
  // z = (-1, 0, 0); x = up x z = (0, 0, -1); y = z x x = (0, -1, 0).
  ExpectMatrixNear(w, TMatrix3D(0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, 0, 3, 2, 1, 1));
  ExpectPointNear(w.EyePosition(), {1, 2, 3});
  ExpectPointNear(TPoint3D(5, 2, 3) * w, {0, 0, -4});  // the target lies straight ahead
  ExpectMatrixNear(TMatrix3D::CreateLookAtRH({1, 2, 3}, {9, 2, 3}, {0, -1, 0}), w);
}

TEST(Matrix3D, PerspectiveIsOpenGLStyle) {
  const float fov = 45 * kMathTestPi / 180;
  const TMatrix3D p = TMatrix3D::CreatePerspectiveFovRH(fov, 4.0f / 3, 1, 100);
  const float cot = 1 / std::tan(fov / 2);  // 2.4142137
  ExpectMatrixNear(p, TMatrix3D(cot * 3 / 4, 0, 0, 0, 0, cot, 0, 0, 0, 0, -101.0f / 99, -1, 0, 0, -200.0f / 99, 0));
  EXPECT_NEAR(p.m22, 2.4142137f, 1e-6);
  // Depth runs from -1 at the near plane to +1 at the far plane.
  for (auto [z, ndc] : {std::pair{-1.0f, -1.0f}, {-100.0f, 1.0f}}) {
    const TVector3D clip = TVector3D(0, 0, z, 1) * p;
    EXPECT_NEAR(clip.Z / clip.W, ndc, 1e-5);
  }
  const TMatrix3D h = TMatrix3D::CreatePerspectiveFovRH(fov, 2, 1, 100, true);
  EXPECT_NEAR(h.m11, cot, 1e-6);
  EXPECT_NEAR(h.m22, cot * 2, 1e-5);
}

TEST(Matrix3D, OrthographicMapsTheBoxToClipSpace) {
  const TMatrix3D o = TMatrix3D::CreateOrthoOffCenterRH(0, 480, 640, 0, 1, 101);
  ExpectPointNear(TPoint3D(0, 0, -1) * o, {-1, -1, -1});
  ExpectPointNear(TPoint3D(640, 480, -101) * o, {1, 1, 1});
  EXPECT_FLOAT_EQ(o.m11, 2.0f / 640);
  ExpectPointNear(TPoint3D(2, 1, -1) * TMatrix3D::CreateOrthoRH(4, 2, 1, 3), {1, 1, -1});
}

TEST(Matrix3D, RotationsAreRightHandedForRowVectors) {
  ExpectPointNear(TPoint3D(1, 0, 0) * TMatrix3D::CreateRotationZ(kMathTestPi / 2), {0, 1, 0});
  ExpectPointNear(TPoint3D(0, 1, 0) * TMatrix3D::CreateRotationX(kMathTestPi / 2), {0, 0, 1});
  ExpectPointNear(TPoint3D(0, 0, 1) * TMatrix3D::CreateRotationY(kMathTestPi / 2), {1, 0, 0});
  ExpectMatrixNear(TMatrix3D::CreateRotation({0, 0, 5}, 0.3f), TMatrix3D::CreateRotationZ(0.3f));
  // Turning about (0, -1, 0) carries +X towards +Z.
  const float a = 0.4f;
  ExpectPointNear(TPoint3D(2, 0, 0).Rotate({0, -1, 0}, a), {2 * std::cos(a), 0, 2 * std::sin(a)});
}

TEST(Matrix3D, YawPitchRollFollowsTheRunTimeTable) {
  // Alone, the yaw turns about -Z, the pitch about X and the roll about Y.
  ExpectMatrixNear(TMatrix3D::CreateRotationYawPitchRoll(0.5f, 0, 0), TMatrix3D::CreateRotationZ(-0.5f));
  ExpectMatrixNear(TMatrix3D::CreateRotationYawPitchRoll(0, 0.5f, 0), TMatrix3D::CreateRotationX(0.5f));
  ExpectMatrixNear(TMatrix3D::CreateRotationYawPitchRoll(0, 0, 0.5f), TMatrix3D::CreateRotationY(0.5f));
  const TMatrix3D r = TMatrix3D::CreateRotationYawPitchRoll(0, 0, kMathTestPi / 2);
  EXPECT_NEAR(r.m13, -1, 1e-6);
  // Yaw 90° and pitch 90°, entries worked out by hand from the table.
  const TMatrix3D q = TMatrix3D::CreateRotationYawPitchRoll(kMathTestPi / 2, kMathTestPi / 2, 0);
  ExpectPointNear({q.m11, q.m12, q.m13}, {0, -1, 0});
  ExpectPointNear({q.m21, q.m22, q.m23}, {0, 0, 1});
  ExpectPointNear({q.m31, q.m32, q.m33}, {-1, 0, 0});
}

TEST(Matrix3D, TransposeAndUpperLeftConversions) {
  const TMatrix3D a(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16);
  EXPECT_EQ(a.Transpose().m12, 5);
  EXPECT_EQ(a.Transpose().Transpose(), a);
  const TMatrix m = a.ToMatrix();
  EXPECT_EQ(m.m23, 7);
  EXPECT_EQ(m.m33, 11);
  const TMatrix3D back = TMatrix3D::Create(m);
  EXPECT_EQ(back.m14, 0);
  EXPECT_EQ(back.m44, 1);
  EXPECT_EQ(back.m32, 10);
}

TEST(Quaternion3D, AxisAngleGivesTheHalfAngleComponents) {
  // 270° about X, as a stored control rotation.
  const TQuaternion3D q({1, 0, 0}, 270 * kMathTestPi / 180);
  EXPECT_NEAR(q.ImagPart.X, 0.70710677f, 1e-6);
  EXPECT_NEAR(q.RealPart, -0.70710677f, 1e-6);
  // A zero axis gives the identity at angle 0.
  EXPECT_EQ(TQuaternion3D({0, 0, 0}, 0), TQuaternion3D::Identity());
  // The axis is normalised.
  EXPECT_NEAR(TQuaternion3D({0, 0, 4}, kMathTestPi).ImagPart.Z, 1, 1e-6);
}

TEST(Quaternion3D, MatrixConversionsRoundTripAndProductsFollowMatrixProducts) {
  const TQuaternion3D a = TQuaternion3D({1, 2, 3}, 0.9f);
  const TQuaternion3D b = TQuaternion3D({-2, 0.5f, 1}, 2.5f);
  const TQuaternion3D back(a.ToMatrix3D());
  EXPECT_NEAR(back.ImagPart.X, a.ImagPart.X, 1e-6);
  EXPECT_NEAR(back.ImagPart.Y, a.ImagPart.Y, 1e-6);
  EXPECT_NEAR(back.ImagPart.Z, a.ImagPart.Z, 1e-6);
  EXPECT_NEAR(back.RealPart, a.RealPart, 1e-6);
  // Row vectors meet the left factor first: the right quaternion acts first.
  ExpectMatrixNear((a * b).ToMatrix3D(), b.ToMatrix3D() * a.ToMatrix3D());
  // A quaternion's matrix turns row vectors the same way as CreateRotation.
  ExpectMatrixNear(TQuaternion3D({0, 1, 0}, 0.6f).ToMatrix3D(), TMatrix3D::CreateRotationY(0.6f));
  ExpectMatrixNear(TQuaternion3D({1, 2, 3}, 0.9f).ToMatrix3D(), TMatrix3D::CreateRotation({1, 2, 3}, 0.9f));
  ExpectPointNear(TPoint3D(1, 0, 0).Rotate(TQuaternion3D({0, 0, 1}, kMathTestPi / 2)), {0, 1, 0});
}

TEST(Quaternion3D, FromMatrixTakesEachTraceBranch) {
  struct Case {
    TMatrix3D M;
    TQuaternion3D Expected;
  } cases[] = {
      {TMatrix3D::Identity(), {0, 0, 0, 1}},
      {TMatrix3D::CreateScaling({1, -1, -1}), {1, 0, 0, 0}},  // 180° about X
      {TMatrix3D::CreateScaling({-1, 1, -1}), {0, 1, 0, 0}},
      {TMatrix3D::CreateScaling({-1, -1, 1}), {0, 0, 1, 0}},
  };
  for (const Case& c : cases) EXPECT_EQ(TQuaternion3D(c.M), c.Expected);
}

TEST(Point3D, VectorOperations) {
  const TPoint3D a(1, 2, 3), b(4, 5, 6);
  EXPECT_EQ(a.CrossProduct(b), TPoint3D(-3, 6, -3));
  EXPECT_FLOAT_EQ(a.DotProduct(b), 32);
  EXPECT_FLOAT_EQ(TPoint3D(3, 4, 0).Length(), 5);
  EXPECT_FLOAT_EQ(a.Distance(b), std::sqrt(27.0f));
  EXPECT_EQ(TPoint3D(0, 0, 0).Normalize(), TPoint3D(0, 0, 0));
  EXPECT_EQ(TPoint3D(0, 0, -2).Normalize(), TPoint3D(0, 0, -1));
  EXPECT_EQ((a + b) * 2 - b / 2, TPoint3D(8, 11.5f, 15));
  EXPECT_EQ(TPoint3D(1, 1, 1), TPoint3D(1.00005f, 1, 1));  // platform equality: within 1e-4
  EXPECT_FALSE(TPoint3D(1, 1, 1) == TPoint3D(1.001f, 1, 1));
}

TEST(Point3D, VectorToPointDividesByWUnlessWIsNearZero) {
  struct Case {
    TVector3D V;
    TPoint3D Expected;
  } cases[] = {
      {{2, 4, 6, 2}, {1, 2, 3}},
      {{2, 4, 6, -0.5f}, {-4, -8, -12}},
      {{2, 4, 6, 1e-4f}, {2, 4, 6}},
      {{2, 4, 6, -5e-5f}, {2, 4, 6}},
      {{2, 4, 6, 0}, {2, 4, 6}},
  };
  for (const Case& c : cases) EXPECT_EQ(c.V.ToPoint3D(), c.Expected) << c.V.W;
}

TEST(BoundingBox, CreateNormalizeUnionAndOffset) {
  const TPoint3D pts[] = {{1, -2, 3}, {-1, 5, 0}, {0, 0, 7}};
  EXPECT_EQ(TBoundingBox::Create(pts), TBoundingBox(-1, -2, 0, 1, 5, 7));
  EXPECT_EQ(TBoundingBox::Create(std::span<const TPoint3D>()), TBoundingBox::Empty());
  EXPECT_EQ(TBoundingBox(1, 2, 3, -1, -2, -3).Normalize(), TBoundingBox(-1, -2, -3, 1, 2, 3));
  EXPECT_EQ(TBoundingBox(0, 0, 0, 1, 1, 1).Union({2, -1, 0, 3, 0, 0.5f}), TBoundingBox(0, -1, 0, 3, 1, 1));
  EXPECT_EQ(TBoundingBox(0, 0, 0, 1, 2, 3).Offset(0, 1, 0), TBoundingBox(0, 1, 0, 1, 3, 3));
}

TEST(BoundingBox, IsEmptyWithATolerance) {
  struct Case {
    TBoundingBox Box;
    float Eps;
    bool Empty;
  } cases[] = {
      {{0, 0, 0, 1, 1, 1}, 1e-4f, false},
      {{0, 0, 0, 1, 1, 0}, 0, true},            // flat on Z
      {{0, 0, 0, 1, 1, 5e-5f}, 1e-4f, true},     // extent within the tolerance
      {{0, 0, 0, 1, 1, 5e-5f}, 0, false},
      {{0, 0, 0, 1, 1, 2e-4f}, 1e-4f, false},
      {{2, 0, 0, 1, 1, 1}, 1e-4f, true},         // inverted on X
      {TBoundingBox::Empty(), 1e-4f, true},
  };
  for (const Case& c : cases) EXPECT_EQ(c.Box.IsEmpty(c.Eps), c.Empty) << c.Box.Far << " eps " << c.Eps;
}

TEST(BoundingBox, FitIntoScalesAndCentresKeepingProportions) {
  float ratio = 0;
  const TBoundingBox fitted = TBoundingBox(0, 0, 0, 4, 2, 1).FitInto({-1, -1, -1, 1, 1, 1}, ratio);
  EXPECT_FLOAT_EQ(ratio, 2);
  EXPECT_EQ(fitted, TBoundingBox(-1, -0.5f, -0.25f, 1, 0.5f, 0.25f));
}

TEST(AlphaColor, NamedColoursAndByteAccess) {
  EXPECT_EQ(ToCardinal(claTomato), 0xFFFF6347u);
  EXPECT_EQ(ToCardinal(claGray), 0xFF808080u);
  EXPECT_EQ(ToCardinal(claNull), 0u);
  const TAlphaColorRec rec(claSlateblue);
  EXPECT_EQ(rec.A, 0xFF);
  EXPECT_EQ(rec.R, 0x6A);
  EXPECT_EQ(rec.G, 0x5A);
  EXPECT_EQ(rec.B, 0xCD);
  EXPECT_EQ(rec.Color(), claSlateblue);
  static_assert(sizeof(rec) == 4);
  uint32_t raw = 0;
  std::memcpy(&raw, &rec, 4);
  EXPECT_EQ(raw, 0xFF6A5ACDu);  // memory order B, G, R, A

  TAlphaColor c{};
  EXPECT_TRUE(IdentToAlphaColor("claLimegreen", c));
  EXPECT_EQ(c, claLimegreen);
  EXPECT_TRUE(IdentToAlphaColor("tomato", c));
  EXPECT_EQ(c, claTomato);
  EXPECT_FALSE(IdentToAlphaColor("claNoSuchColour", c));
  std::string name;
  EXPECT_TRUE(AlphaColorToIdent(MakeAlphaColor(0xFFFFFFFF), name));
  EXPECT_EQ(name, "claWhite");
  EXPECT_FALSE(AlphaColorToIdent(MakeAlphaColor(0xFF123456), name));
}

TEST(AlphaColor, FloatColourConvertsAndRoundsToBytes) {
  EXPECT_EQ(TAlphaColorF(claTomato).ToAlphaColor(), claTomato);
  const TAlphaColorF f(claGray);
  EXPECT_FLOAT_EQ(f.R, 128.0f / 255);
  EXPECT_FLOAT_EQ(f.A, 1);
  struct Case {
    float V;
    uint8_t Byte;
  } cases[] = {{0, 0}, {1, 255}, {0.5f, 128}, {0.75f, 191}, {0.2f, 51}, {0.498f, 127}, {-0.5f, 0}, {2, 255}};
  for (const Case& c : cases)
    EXPECT_EQ(RedOf(TAlphaColorF(c.V, 0, 0, 1).ToAlphaColor()), c.Byte) << c.V;
  EXPECT_EQ(TAlphaColorF(0, 0, 0, 1).ToAlphaColor(), claBlack);
}

TEST(RectF, PlaceIntoCentresAndShrinksOnlyWhenLarger) {
  EXPECT_EQ(TRectF(0, 0, 10, 20).PlaceInto({0, 0, 100, 100}), TRectF(45, 40, 55, 60));
  EXPECT_EQ(TRectF(0, 0, 400, 100).PlaceInto({0, 0, 100, 100}), TRectF(0, 37.5f, 100, 62.5f));
}

TEST(PointF, RoundsHalfToEvenAndRaisesOutOfRange) {
  EXPECT_EQ(TPointF(2.5f, -1.5f).Round(), TPoint(2, -2));
  EXPECT_EQ(TRectF(0.5f, 1.5f, 2.4f, 2.6f).Round(), TRect(0, 2, 2, 3));
  EXPECT_THROW(TPointF(3e9f, 0).Round(), EArgumentOutOfRangeException);
  EXPECT_THROW(TPointF(0, std::nanf("")).Round(), EArgumentOutOfRangeException);
}

TEST(Position3D, AxisEventsFallBackToTheWholeChangeEvent) {
  TPosition3D pos({1, 2, 3});
  int whole = 0, x = 0;
  pos.OnChange = [&](TObject* sender) {
    EXPECT_EQ(sender, &pos);
    ++whole;
  };
  pos.SetY(5);
  EXPECT_EQ(whole, 1);
  pos.OnChangeX = [&](TObject*) { ++x; };
  pos.SetX(7);
  EXPECT_EQ(x, 1);
  EXPECT_EQ(whole, 1);  // the axis event replaces the whole one
  pos.SetX(7);          // unchanged: no event
  pos.SetPoint({7, 5, 3});
  EXPECT_EQ(whole, 1);
  pos.SetPoint({0, 0, 0});
  EXPECT_EQ(whole, 2);
  pos.SetPointNoChange({9, 9, 9});
  EXPECT_EQ(whole, 2);
  EXPECT_EQ(pos.GetPoint(), TPoint3D(9, 9, 9));
  EXPECT_FLOAT_EQ(pos.GetVector().W, 1);
  EXPECT_FALSE(pos.IsDefault());
  pos.SetPointNoChange({1, 2, 3});
  EXPECT_TRUE(pos.IsDefault());
}

TEST(RayCastPlaneIntersect, MeetsThePlaneAheadAndRefusesParallelOrBehind) {
  struct Case {
    TPoint3D Pos, Dir, PlanePoint, Normal;
    bool Hit;
    TPoint3D Expected;
  };
  const Case cases[] = {
      {{0, 5, 0}, {0, -1, 0}, {0, 0, 0}, {0, 1, 0}, true, {0, 0, 0}},
      {{1, 5, 2}, {0, -2, 0}, {7, 1, 9}, {0, -1, 0}, true, {1, 1, 2}},  // either side of the normal
      {{0, 0, 0}, {1, 1, 0}, {3, 0, 0}, {1, 0, 0}, true, {3, 3, 0}},
      {{0, 5, 0}, {1, 0, 0}, {0, 0, 0}, {0, 1, 0}, false, {}},          // parallel
      {{0, 5, 0}, {0, 1, 0}, {0, 0, 0}, {0, 1, 0}, false, {}},          // plane behind
      {{0, 0, 0}, {0, 0, 1}, {0, 0, 0}, {0, 0, 1}, true, {0, 0, 0}},    // starts on the plane
  };
  for (const Case& c : cases) {
    TPoint3D hit{-9, -9, -9};
    EXPECT_EQ(RayCastPlaneIntersect(c.Pos, c.Dir, c.PlanePoint, c.Normal, hit), c.Hit);
    if (c.Hit) {
      EXPECT_EQ(hit, c.Expected);
    } else {
      EXPECT_EQ(hit, TPoint3D(-9, -9, -9));
    }
  }
}
