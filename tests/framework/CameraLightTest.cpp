// TCamera (view matrix, target) and TLight (description, viewport light list).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "framework/classes/FwObject.h"
#include "framework/gui3d/Camera.h"
#include "framework/gui3d/Dummy.h"
#include "framework/gui3d/Light.h"
#include "tests/framework/Viewport3DDouble.h"

using namespace quorvel;
using quorvel::testing3d::TC3dViewport;

namespace {

class CameraLightTest : public ::testing::Test {
protected:
  template <class T>
  T* Make(TFwObject* parent) {
    T* c = New<T>(Root.get());
    c->SetParent(parent);
    return c;
  }
  TOwned<TC3dViewport> Root{New<TC3dViewport>(nullptr)};
};

// The point in view space (right-handed: the camera looks down -Z).
TPoint3D InView(const TCamera* camera, const TPoint3D& absolute) { return absolute * camera->GetCameraMatrix(); }

TEST_F(CameraLightTest, NewCameraStandsAtMinusFiveAndLooksAlongPlusZWithMinusYUp) {
  auto* camera = Make<TCamera>(Root.get());
  EXPECT_EQ(camera->GetPosition()->GetPoint(), TPoint3D(0, 0, -5));
  EXPECT_TRUE(camera->GetPosition()->IsDefault());
  EXPECT_EQ(camera->GetAbsolutePosition(), TVector3D(0, 0, -5, 1));
  EXPECT_EQ(camera->GetAngleOfView(), 45.0f);
  EXPECT_EQ(InView(camera, {0, 0, 0}), TPoint3D(0, 0, -5));
  // Screen up (+Y in view space) is absolute -Y.
  const TPoint3D up = InView(camera, {0, -1, 0});
  EXPECT_GT(up.Y, 0.9f);
  EXPECT_EQ(camera->GetCameraMatrix().EyePosition(), TPoint3D(0, 0, -5));
}

TEST_F(CameraLightTest, CameraWithATargetLooksAtItWherever) {
  struct Case {
    TPoint3D CameraPos, TargetPos;
  };
  const Case cases[] = {
      {{0, -5, -10}, {0, 0, 0}},   // the demo's camera
      {{3, 4, 5}, {-1, 2, 0.5f}},
      {{0, -10, 0}, {0, 0, 0}},    // straight above: no ceiling to keep
      {{0, 7, 0}, {0, 0, 0}},      // straight below
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << k.CameraPos.X << "," << k.CameraPos.Y << "," << k.CameraPos.Z);
    auto* dummy = Make<TDummy>(Root.get());
    dummy->GetPosition()->SetPoint(k.TargetPos);
    auto* camera = Make<TCamera>(Root.get());
    camera->GetPosition()->SetPoint(k.CameraPos);
    camera->SetTarget(dummy);
    const TPoint3D v = InView(camera, k.TargetPos);
    const float distance = k.CameraPos.Distance(k.TargetPos);
    EXPECT_NEAR(v.X, 0, 1e-4f);
    EXPECT_NEAR(v.Y, 0, 1e-4f);
    EXPECT_NEAR(v.Z, -distance, 1e-4f);
    const TMatrix3D m = camera->GetCameraMatrix();
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 4; ++c) EXPECT_TRUE(std::isfinite(m.Get(r, c)));
    EXPECT_NEAR(std::fabs(m.Determinant()), 1, 1e-4f);
  }
}

TEST_F(CameraLightTest, DemoCameraUnderATurningDummyKeepsLookingAtIt) {
  // The demo's camera hangs from its target.
  auto* dummy = Make<TDummy>(Root.get());
  auto* camera = Make<TCamera>(dummy);
  camera->GetPosition()->SetPoint({0, -5, -10});
  camera->SetTarget(dummy);
  dummy->GetPosition()->SetPoint({1, 2, 3});
  dummy->GetRotationAngle()->SetY(40);
  const TPoint3D v = InView(camera, {1, 2, 3});
  EXPECT_NEAR(v.X, 0, 1e-4f);
  EXPECT_NEAR(v.Y, 0, 1e-4f);
  EXPECT_NEAR(v.Z, -std::sqrt(125.0f), 1e-4f);
  // Screen up stays on the -Y side.
  EXPECT_GT(InView(camera, {1, 1, 3}).Y, 0);
}

TEST_F(CameraLightTest, TargetIsClearedWhenItIsFreed) {
  auto* dummy = Make<TDummy>(Root.get());
  auto* camera = Make<TCamera>(Root.get());
  camera->SetTarget(dummy);
  Free(dummy);
  EXPECT_EQ(camera->GetTarget(), nullptr);
  // Without a target the camera looks along its own +Z again.
  EXPECT_EQ(InView(camera, {0, 0, 1}), TPoint3D(0, 0, -6));
}

TEST_F(CameraLightTest, CameraWithoutTargetFollowsItsOwnTurn) {
  auto* camera = Make<TCamera>(Root.get());
  camera->GetPosition()->SetPoint({0, 0, 0});
  camera->GetRotationAngle()->SetY(90);  // +Z turns to +X
  EXPECT_EQ(InView(camera, {2, 0, 0}), TPoint3D(0, 0, -2));
}

TEST_F(CameraLightTest, LightDescriptionCarriesSettingsAndAbsolutePlacement) {
  auto* parent = Make<TDummy>(Root.get());
  parent->GetPosition()->SetPoint({0, 0, 4});
  auto* light = Make<TLight>(parent);
  light->SetLightType(TLightType::Spot);
  light->SetColor(claTomato);
  light->SetSpotCutOff(60);
  light->SetSpotExponent(10);
  light->SetEnabled(false);
  light->GetPosition()->SetPoint({-5, -10, 0});
  light->GetRotationAngle()->SetX(270);
  const TLightDescription d = light->GetLightDescription();
  EXPECT_FALSE(d.Enabled);
  EXPECT_EQ(d.Color, claTomato);
  EXPECT_EQ(d.LightType, TLightType::Spot);
  EXPECT_EQ(d.SpotCutOff, 60.0f);
  EXPECT_EQ(d.SpotExponent, 10.0f);
  EXPECT_EQ(d.Position, TPoint3D(-5, -10, 4));
  EXPECT_EQ(d.Direction, TPoint3D(0, 1, 0));
  // Defaults of a new light.
  const TLightDescription n = Make<TLight>(Root.get())->GetLightDescription();
  EXPECT_TRUE(n.Enabled);
  EXPECT_EQ(n.Color, claWhite);
  EXPECT_EQ(n.LightType, TLightType::Directional);
  EXPECT_EQ(n.Direction, TPoint3D(0, 0, 1));
  EXPECT_EQ(static_cast<int>(TLightType::Spot), 2);
}

TEST_F(CameraLightTest, ViewportNeverHoldsAFreedLight) {
  auto* a = Make<TLight>(Root.get());
  auto* b = Make<TLight>(Root.get());
  ASSERT_EQ(Root->Lights, (std::vector<TLight*>{a, b}));
  // Freed while placed: gone from the list before the memory goes.
  Free(a);
  EXPECT_EQ(Root->Lights, std::vector<TLight*>{b});
  // Taken out of the viewport, then freed: no second removal reaches a stale list.
  b->SetParent(nullptr);
  EXPECT_TRUE(Root->Lights.empty());
  Free(b);
  // Freeing the whole scene: every light leaves as it goes.
  auto* group = Make<TDummy>(Root.get());
  Make<TLight>(group);
  Make<TLight>(group);
  EXPECT_EQ(Root->Lights.size(), 2u);
  Root.reset();  // frees the owned components while the list object still exists
}

}  // namespace
