// The views the passes draw from (look-at with a fallback up, light views) and the size a pass
// of its own size keeps through viewport resizes.
#include <gtest/gtest.h>

#include <cmath>

#include "lib/passes/PassViews.h"
#include "lib/utils/ContextFrustum.h"
#include "tests/passes/PassTestSupport.h"

namespace quorvel {
namespace {

bool Finite(const TMatrix3D& M) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c)
      if (!std::isfinite(M.Get(r, c))) return false;
  return true;
}

// A view takes the eye to the origin and looks down its -Z.
void ExpectLooks(const TMatrix3D& AView, const TPoint3D& AEye, const TPoint3D& ADirection) {
  ASSERT_TRUE(Finite(AView));
  EXPECT_EQ(AEye * AView, TPoint3D(0, 0, 0));
  const TPoint3D ahead = (AEye + ADirection.Normalize() * 3) * AView;
  EXPECT_EQ(ahead, TPoint3D(0, 0, -3));
}

TEST(PassViews, LookAtFallsBackToAnotherUpAlongTheVertical) {
  const TPoint3D eye{1, -10, 2};
  for (const TPoint3D& dir : {TPoint3D(0, 1, 0), TPoint3D(0, -1, 0), TPoint3D(0.0001f, 1, 0), TPoint3D(1, 0, 0),
                              TPoint3D(0, 0, 1), TPoint3D(0.3f, 0.9f, -0.2f)}) {
    SCOPED_TRACE(::testing::PrintToString(std::vector<float>{dir.X, dir.Y, dir.Z}));
    ExpectLooks(PassLookAtDirRH(eye, dir), eye, dir);
  }
  // Away from the vertical the up is the one asked for, as the framework's own look-at.
  EXPECT_EQ(PassLookAtDirRH(eye, {1, 0, 0}), TMatrix3D::CreateLookAtDirRH(eye, {1, 0, 0}, {0, -1, 0}));
  EXPECT_EQ(PassViewCeiling({0, 2, 0}, {0, -1, 0}), TPoint3D(0, 0, 1));
  EXPECT_EQ(PassViewCeiling({0, 0, 1}, {0, 0, 1}), TPoint3D(0, -1, 0));
  // A point light straight below the origin, looking at it.
  ExpectLooks(PassLookAtRH({0, -10, 0}, {0, 0, 0}), {0, -10, 0}, {0, 1, 0});
}

TEST(PassViews, LightsLookAlongTheirDirectionOrTowardsTheOrigin) {
  struct Case {
    TLightType Type;
    TPoint3D Position, Direction, ExpectedDirection;
  };
  const Case cases[] = {
      {TLightType::Directional, {0, -10, 0}, {0, 1, 0}, {0, 1, 0}},
      {TLightType::Spot, {3, -10, 1}, {0, 2, 0}, {0, 1, 0}},  // the demo's spots: straight along y
      {TLightType::Spot, {3, -10, 1}, {1, 0, 0}, {1, 0, 0}},
      {TLightType::Point, {0, -10, 0}, {1, 0, 0}, {0, 1, 0}},  // the direction plays no part
      {TLightType::Point, {4, 0, 3}, {0, 0, 0}, {-0.8f, 0, -0.6f}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.Type));
    TLightDescription light;
    light.LightType = c.Type;
    light.Position = c.Position;
    light.Direction = c.Direction;
    const TLightView view = LightView(light, nullptr);
    EXPECT_EQ(view.Eye, c.Position);
    EXPECT_EQ(view.Direction, c.ExpectedDirection);
    ExpectLooks(view.Matrix, c.Position, c.ExpectedDirection);
  }
}

TEST(PassViews, ALightOutsideTheFrustumMovesOntoTheFirstPlaneItFails) {
  // A camera at z = 10 looking down -Z, 45 degrees, near 1, far 100.
  const TQuorvelFrustum frustum(45, 1, 1, 100, {0, 0, 10}, {0, 0, -1}, {0, 1, 0}, {1, 0, 0});
  TLightDescription light;
  light.LightType = TLightType::Directional;
  light.Direction = {0, 0, -1};
  // Inside: stays.
  light.Position = {0, 0, 0};
  EXPECT_EQ(LightView(light, &frustum).Eye, light.Position);
  // Behind the camera, shining forward: moved to where its ray enters the failing plane.
  light.Position = {0.5f, 0, 30};
  TVector3D plane;
  ASSERT_FALSE(frustum.IsPointInFrustum(light.Position, plane));
  const TLightView moved = LightView(light, &frustum);
  const TPoint3D n{plane.X, plane.Y, plane.Z};
  EXPECT_NEAR(n.DotProduct(moved.Eye) + plane.W, 0, 1e-3);
  EXPECT_NEAR(moved.Eye.X, 0.5f, 1e-4);
  EXPECT_NEAR(moved.Eye.Y, 0, 1e-4);
  EXPECT_LT(moved.Eye.Z, 30);
  ExpectLooks(moved.Matrix, moved.Eye, light.Direction);
  // Shining away from that plane: the ray misses it and the light stays.
  light.Direction = {0, 0, 1};
  EXPECT_EQ(LightView(light, &frustum).Eye, light.Position);
  // A point light moved keeps looking at the origin.
  light.LightType = TLightType::Point;
  light.Position = {0, 0, 30};
  const TLightView point = LightView(light, &frustum);
  EXPECT_LT(point.Eye.Z, 30);
  ExpectLooks(point.Matrix, point.Eye, -point.Eye);
}

class PassSizeTest : public testkit::TViewportTest {};

TEST_F(PassSizeTest, APassOfItsOwnSizeKeepsItThroughViewportResizes) {
  auto* own = New<testkit::TCountingPass>(Viewport, "map");
  own->SetOverwriteViewportSize(true);
  own->SetViewportSize(TPoint(256, 128));
  auto* follows = New<testkit::TCountingPass>(Viewport, "screen");
  Form->SetClientWidth(W + 8);
  Viewport->SetWidth(W + 8);
  own->UpdateOnResize();
  follows->UpdateOnResize();
  EXPECT_EQ(own->GetViewportSize(), TPoint(256, 128));
  ASSERT_NE(own->GetRenderer(), nullptr);
  EXPECT_EQ(own->GetRenderer()->GetSize(), TPoint(256, 128));
  EXPECT_EQ(own->GetOutputTexture()->GetWidth(), 256);
  EXPECT_EQ(follows->GetViewportSize(),
            TPoint(int32_t(std::lround(Viewport->GetWidth())), int32_t(std::lround(Viewport->GetHeight()))));
}

}  // namespace
}  // namespace quorvel
