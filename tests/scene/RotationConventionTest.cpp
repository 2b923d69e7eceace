// One rotation convention (row vectors, right hand, positive angle) through every path that
// turns a point: (1, 0, 0) turned by +90 degrees about Z is (0, 1, 0).
#include <gtest/gtest.h>

#include <functional>
#include <numbers>

#include "lib/defs/DefTypesTransform.h"
#include "lib/scene/Light.h"
#include "lib/scene/Transform.h"
#include "lib/utils/UtilsMath.h"

namespace quorvel {
namespace {

constexpr float kQuarter = std::numbers::pi_v<float> / 2;

TPoint3D Turned(const TMatrix3D& m) { return TPoint3D(1, 0, 0) * m; }

void ExpectNear(const TPoint3D& a, const TPoint3D& b, const char* name) {
  EXPECT_NEAR(a.X, b.X, 1e-5) << name;
  EXPECT_NEAR(a.Y, b.Y, 1e-5) << name;
  EXPECT_NEAR(a.Z, b.Z, 1e-5) << name;
}

TEST(RotationConvention, EveryPathTurnsXToYByPlusNinetyAboutZ) {
  const TQuaternion3D q({0, 0, 1}, kQuarter);
  struct Case {
    const char* Name;
    std::function<TPoint3D()> Turn;
  } cases[] = {
      {"CreateRotation", [] { return Turned(TMatrix3D::CreateRotation({0, 0, 1}, kQuarter)); }},
      {"the quaternion's matrix", [&] { return Turned(q.ToMatrix3D()); }},
      {"TPoint3D::Rotate by the quaternion", [&] { return TPoint3D(1, 0, 0).Rotate(q); }},
      {"RotationAngle.Z", [] {
         TOwned<TControl3D> c(New<TControl3D>(nullptr));
         c->GetRotationAngle()->SetZ(90);
         return Turned(c->GetLocalMatrix());
       }},
      {"SetQuaternion", [&] {
         TOwned<TControl3D> c(New<TControl3D>(nullptr));
         c->GetRotationAngle()->SetPointNoChange({0, 0, 90});
         c->SetQuaternion(q);
         return Turned(c->GetLocalMatrix());
       }},
      {"SetLocalMatrixEx then a move", [&] {
         TOwned<TControl3D> c(New<TControl3D>(nullptr));
         SetLocalMatrixEx(c.get(), TMatrix3D::CreateRotation({0, 0, 1}, kQuarter), true, true, true, false);
         c->GetPosition()->SetX(3);  // rebuilt from the extracted quaternion
         const TMatrix3D m = c->GetLocalMatrix();
         return Turned(m) - TPoint3D(3, 0, 0);
       }},
      {"the transform's matrix", [&] {
         TOwned<TQuorvelTransform> t(New<TQuorvelTransform>(nullptr));
         t->SetTransformMatrix(TMatrix3D::CreateRotation({0, 0, 1}, kQuarter));
         t->GetPosition()->SetX(3);
         return Turned(t->GetLocalMatrix()) - TPoint3D(3, 0, 0);
       }},
      {"Rotation", [&] {
         TOwned<TQuorvelTransform> t(New<TQuorvelTransform>(nullptr));
         t->SetRotation({q.ImagPart.X, q.ImagPart.Y, q.ImagPart.Z, q.RealPart});
         return Turned(t->GetLocalMatrix());
       }},
      {"a transform definition", [&] {
         TOwned<TTransformDef> def(New<TTransformDef>(nullptr));
         def->SetTransform(q.ToMatrix3D());
         TOwned<TQuorvelTransform> t(New<TQuorvelTransform>(nullptr));
         t->LoadFromDefinition(def.get());
         t->GetPosition()->SetX(3);
         return Turned(t->GetLocalMatrix()) - TPoint3D(3, 0, 0);
       }},
  };
  for (const Case& c : cases) ExpectNear(c.Turn(), {0, 1, 0}, c.Name);
}

TEST(RotationConvention, ExtractedRotationGivesBackTheQuaternionAndProductsComposeRightFirst) {
  const TQuaternion3D p({1, 2, 3}, 0.7f), q({-1, 0.5f, 2}, 1.9f);
  const TQuaternion3D back = ExtractRotation(p.ToMatrix3D() * TMatrix3D::CreateTranslation({4, 5, 6}));
  EXPECT_NEAR(back.ImagPart.X, p.ImagPart.X, 1e-5);
  EXPECT_NEAR(back.ImagPart.Y, p.ImagPart.Y, 1e-5);
  EXPECT_NEAR(back.ImagPart.Z, p.ImagPart.Z, 1e-5);
  EXPECT_NEAR(back.RealPart, p.RealPart, 1e-5);
  const TMatrix3D pq = (p * q).ToMatrix3D(), qp = q.ToMatrix3D() * p.ToMatrix3D();
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(pq.Get(i, j), qp.Get(i, j), 1e-5);
  // A control placed by a matrix keeps turning the same way after its position changes.
  TOwned<TControl3D> c(New<TControl3D>(nullptr));
  SetLocalMatrixEx(c.get(), p.ToMatrix3D(), true, true, true, false);
  const TPoint3D before = TPoint3D(1, 2, 3) * c->GetLocalMatrix();
  c->GetPosition()->SetY(1);
  const TPoint3D after = TPoint3D(1, 2, 3) * c->GetLocalMatrix() - TPoint3D(0, 1, 0);
  ExpectNear(after, before, "matrix-placed control after a move");
}

TEST(RotationConvention, ALightTurnedTo270AboutXPointsAlongPlusY) {
  TOwned<TQuorvelLight> light(New<TQuorvelLight>(nullptr));
  light->GetRotationAngle()->SetX(270);
  ExpectNear(light->GetLightDescription().Direction, {0, 1, 0}, "light direction");
}

}  // namespace
}  // namespace quorvel
