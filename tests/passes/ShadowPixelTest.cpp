// Shadows seen through a lit Blinn floor: a cube between a light and the floor darkens the floor
// where the light's projection puts the cube, and nowhere else; with variance maps the edge of
// that shadow is a gradient.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include <epoxy/gl.h>

#include "lib/materials/MaterialBlinn.h"
#include "lib/passes/ControllerPassesSMStoreDepth.h"
#include "lib/passes/ControllerPassesVSMBlur.h"
#include "lib/passes/ControllerPassesVSMStoreDepth.h"
#include "lib/scene/Camera.h"
#include "lib/scene/Light.h"
#include "lib/scene/Plane.h"
#include "tests/passes/PassTestSupport.h"

namespace quorvel {
namespace {

using testkit::TViewportTest;

// The scene, in world units: the floor is the plane z = 0 facing the camera at (0, 0, -20); a
// unit cube centred at (2.5, 0, -5), near enough to the light for
// the map's window depths of cube and floor to lie well over the 0.005 bias apart, stands between it and a point light at (4, 0, -8), which looks
// at the origin and lies inside the camera's frustum.
constexpr TPoint3D kLight{4, 0, -8}, kCube{2.5f, 0, -5};
constexpr float kHalf = 0.5f;

// Whether the segment from the light to a floor point passes through the cube (slab test).
bool InShadow(const TPoint3D& AFloor) {
  const float from[3] = {kLight.X, kLight.Y, kLight.Z}, to[3] = {AFloor.X, AFloor.Y, AFloor.Z};
  const float centre[3] = {kCube.X, kCube.Y, kCube.Z};
  float t0 = 0, t1 = 1;
  for (int a = 0; a < 3; ++a) {
    const float d = to[a] - from[a], lo = centre[a] - kHalf, hi = centre[a] + kHalf;
    if (std::abs(d) < 1e-9f) {
      if (from[a] < lo || from[a] > hi) return false;
      continue;
    }
    float ta = (lo - from[a]) / d, tb = (hi - from[a]) / d;
    if (ta > tb) std::swap(ta, tb);
    t0 = std::max(t0, ta);
    t1 = std::min(t1, tb);
    if (t0 > t1) return false;
  }
  return true;
}

class ShadowPixelTest : public TViewportTest {
protected:
  static constexpr int32_t SW = 640, SH = 480;

  void SetUp() override {
    TViewportTest::SetUp();
    Form->SetClientWidth(SW);
    Form->SetClientHeight(SH);
    Viewport->SetWidth(SW);
    Viewport->SetHeight(SH);
    Viewport->SetColor(claBlack);
    Viewport->SetFXAA(0);
    auto* cam = New<TQuorvelCamera>(Form.get());
    cam->SetParent(Viewport);
    cam->GetPosition()->SetPoint({0, 0, -20});  // looks along +Z at the floor
    Viewport->SetCamera(cam);
    Viewport->SetUsingDesignCamera(false);
    FloorSource = New<TQuorvelBlinnMaterialSource>(Form.get());
    FloorSource->SetDiffuse(claWhite);
    FloorSource->SetAmbient(claBlack);
    FloorSource->SetEmissive(claBlack);
    FloorSource->SetShininess(0);
    auto* floor = New<TQuorvelPlane>(Form.get());
    floor->SetWrapMode(TMeshWrapMode::Resize);
    floor->GetScale()->SetPoint({30, 30, 1});
    floor->SetMaterialSource(FloorSource);
    floor->SetParent(Viewport);
    testkit::AddMaterialCube(Form.get(), Viewport, claRed, kCube, 2 * kHalf);
    Light = New<TQuorvelLight>(Form.get());
    Light->SetLightType(TLightType::Point);
    Light->SetColor(claWhite);
    Light->GetPosition()->SetPoint(kLight);
    Light->SetParent(Viewport);
  }
  void Frame() {
    Viewport->SetUseFixedFrameRate(false);
    Viewport->SetManualRendering(true);
    Viewport->RenderManual();
  }
  // Grey level of the floor at a world point, and the screen pixel it was read at.
  int Grey(const TPoint3D& AWorld) {
    const TPointF p = Viewport->WorldToScreen(AWorld);
    const TAlphaColorRec rgb(Probe(int32_t(std::lround(p.X)), int32_t(std::lround(p.Y))));
    return (int(rgb.R) + rgb.G + rgb.B) / 3;
  }
  // Pixels per world unit on the floor near a point.
  float Scale(const TPoint3D& AWorld) {
    const TPointF a = Viewport->WorldToScreen(AWorld), b = Viewport->WorldToScreen(AWorld + TPoint3D(1, 0, 0));
    return std::hypot(b.X - a.X, b.Y - a.Y);
  }
  // True when every floor point within APixels screen pixels of AWorld has AWorld's shadow state.
  bool Uniform(const TPoint3D& AWorld, float APixels) {
    const float r = APixels / Scale(AWorld);
    const bool state = InShadow(AWorld);
    for (int i = 0; i < 32; ++i)
      for (float k : {0.5f, 1.0f}) {
        const float a = float(i) * float(M_PI) / 16;
        if (InShadow(AWorld + TPoint3D(std::cos(a), std::sin(a), 0) * (r * k)) != state) return false;
      }
    return true;
  }

  // Floor pixels along y = 0 from the shadow's centre out to a lit point, inside first (the
  // shadow's edge lies near x = -2.4).
  std::vector<TPoint> Row() {
    const TPointF a = Viewport->WorldToScreen({0, 0, 0}), b = Viewport->WorldToScreen({-3.5f, 0, 0});
    const int32_t y = int32_t(std::lround(a.Y)), x0 = int32_t(std::lround(a.X)), x1 = int32_t(std::lround(b.X));
    std::vector<TPoint> row;
    for (int32_t x = x0; x != x1; x += x1 > x0 ? 1 : -1) row.push_back(TPoint(x, y));
    return row;
  }
  std::vector<int> Greys(const std::vector<TPoint>& ARow) {
    std::vector<int> out;
    for (const TPoint& p : ARow) {
      const TAlphaColorRec rgb(Probe(p.X, p.Y));
      out.push_back((int(rgb.R) + rgb.G + rgb.B) / 3);
    }
    return out;
  }

  TQuorvelBlinnMaterialSource* FloorSource = nullptr;
  TQuorvelLight* Light = nullptr;
};

TEST_F(ShadowPixelTest, TheFloorIsHalfAsBrightWhereTheCubeHidesTheLight) {
  // Probes: inside the shadow and beside it on each side.
  const TPoint3D inside{0, 0, 0}, insideToo{0.4f, -0.5f, 0};
  const TPoint3D beside[] = {{0, 2.5f, 0}, {0, -2.5f, 0}, {-2.5f, 0, 0}, {2.2f, 1.5f, 0}};
  for (const TPoint3D& p : {inside, insideToo}) {
    EXPECT_TRUE(InShadow(p));
    EXPECT_TRUE(Uniform(p, 3));
  }
  for (const TPoint3D& p : beside) {
    EXPECT_FALSE(InShadow(p));
    EXPECT_TRUE(Uniform(p, 3));
  }
  Frame();
  int lit[2], litBeside[std::size(beside)];
  lit[0] = Grey(inside);
  lit[1] = Grey(insideToo);
  for (size_t i = 0; i < std::size(beside); ++i) litBeside[i] = Grey(beside[i]);
  ASSERT_GT(lit[0], 30) << "the floor is not lit";

  auto* map = New<TQuorvelRenderPassSMStoreDepth>(Viewport, "map");
  map->SetLight(Light);
  map->SetViewport(Viewport);
  FloorSource->SetShadows(true);
  FloorSource->SetShadowMapPass(0, map);
  Frame();
  // Where cube and floor overlap in the light's view the map holds the cube's (nearer) depth.
  {
    TTexture* t = map->GetOutputTexture();
    std::vector<float> d(size_t(t->GetWidth()) * t->GetHeight());
    glBindTexture(GL_TEXTURE_2D, GLuint(t->GetHandle()));
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RED, GL_FLOAT, d.data());
    glBindTexture(GL_TEXTURE_2D, 0);
    const TVector3D c = TVector3D(kCube.X, kCube.Y, kCube.Z, 1) * map->GetTextureMatrix(nullptr, true);
    const float u = c.X / c.W, v = c.Y / c.W;
    ASSERT_TRUE(u > 0 && u < 1 && v > 0 && v < 1) << u << "," << v;
    const float stored = d[size_t(v * t->GetHeight()) * t->GetWidth() + size_t(u * t->GetWidth())];
    EXPECT_LT(stored, c.Z / c.W);
    EXPECT_GT(stored, c.Z / c.W - 0.02f);
  }
  const TPoint3D insides[] = {inside, insideToo};
  for (size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(::testing::Message() << "inside " << insides[i].X << "," << insides[i].Y);
    EXPECT_NEAR(Grey(insides[i]), lit[i] * 0.5, 3.0) << "lit " << lit[i];
  }
  for (size_t i = 0; i < std::size(beside); ++i) {
    SCOPED_TRACE(::testing::Message() << "beside " << beside[i].X << "," << beside[i].Y);
    EXPECT_NEAR(Grey(beside[i]), litBeside[i], 3.0);
  }
  // Freeing the pass empties the floor's slot; the next frame reads no freed map (ASan).
  Free(map);
  EXPECT_EQ(FloorSource->GetShadowMapPass(0), nullptr);
  Frame();
}

// Across the shadow's edge the plain map steps from half to full brightness within two
// pixels. A variance map blurred by a pass registered on the viewport the usual way rises from
// a dark umbra monotonically over several pixels; the store's own moments step like the plain
// map. Both once banded the floor: their half-float moments near a window depth of 1 gave
// variances of rounding noise, and shares of 0.03 .. 0.6 alternated along the row. A blur in
// the floor's shadow slot once stopped the frame ("Invalid class typecast").
TEST_F(ShadowPixelTest, APlainMapStepsAtTheEdgeAndABlurredVarianceMapRisesSoftly) {
  Frame();
  const std::vector<TPoint> row = Row();
  ASSERT_GT(row.size(), 80u);
  const std::vector<int> lit = Greys(row);
  ASSERT_GT(lit.back(), 100);
  // The floor's brightness with the map, as a share of its brightness without.
  auto ratios = [&] {
    Frame();
    const std::vector<int> shadowed = Greys(row);
    std::vector<float> out;
    for (size_t i = 0; i < row.size(); ++i) out.push_back(float(shadowed[i]) / float(std::max(lit[i], 1)));
    return out;
  };
  auto between = [](const std::vector<float>& ARatios, float ALow, float AHigh) {
    return std::count_if(ARatios.begin(), ARatios.end(), [&](float r) { return r > ALow && r < AHigh; });
  };
  // Never darker further out, but for the rounding of the 8-bit greys the shares come from.
  auto expectRising = [&](const std::vector<float>& ARatios) {
    for (size_t i = 1; i < ARatios.size(); ++i)
      EXPECT_GE(ARatios[i], ARatios[i - 1] - 2.0f / float(lit[i])) << "pixel " << i << " of " << ARatios.size();
  };

  auto* map = New<TQuorvelRenderPassSMStoreDepth>(Viewport, "map");
  map->SetLight(Light);
  map->SetViewport(Viewport);
  FloorSource->SetShadows(true);
  FloorSource->SetShadowMapPass(0, map);
  const std::vector<float> plain = ratios();
  EXPECT_NEAR(plain.front(), 0.5f, 0.03f);
  EXPECT_NEAR(plain.back(), 1.0f, 0.03f);
  EXPECT_LE(between(plain, 0.55f, 0.95f), 2);
  Free(map);

  auto* store = New<TQuorvelRenderPassVSMStoreDepth>(Viewport, "store");
  store->SetLight(Light);
  store->SetViewport(Viewport);
  auto* blur = New<TQuorvelRenderPassVSMBlur>(Viewport, "blur");
  blur->SetVSMStoreDepth(store);
  blur->SetViewport(Viewport);
  FloorSource->SetShadowMethod(TQuorvelShadowMethod::VarianceShadowMapping);
  FloorSource->SetShadowMapPass(0, blur);
  // Two frames: pre passes run in the registry's order, which may put the blur first.
  Frame();
  {
    SCOPED_TRACE("blurred");
    const std::vector<float> soft = ratios();
    EXPECT_LE(soft.front(), 0.5f);
    EXPECT_NEAR(soft.back(), 1.0f, 0.03f);
    expectRising(soft);
    EXPECT_GE(between(soft, soft.front() + 0.05f, 0.95f), 4);
  }
  {
    SCOPED_TRACE("the store's moments, unblurred");
    FloorSource->SetShadowMapPass(0, store);
    const std::vector<float> stored = ratios();
    EXPECT_LE(stored.front(), 0.5f);
    EXPECT_NEAR(stored.back(), 1.0f, 0.03f);
    expectRising(stored);
    EXPECT_LE(between(stored, stored.front() + 0.05f, 0.95f), 2);
  }
  // Freeing the light, then the blur's input (the store), then the blur in the floor's slot
  // leaves no reference to any of them behind for the next frames (ASan).
  FloorSource->SetShadowMapPass(0, blur);
  Free(Light);
  EXPECT_EQ(store->GetLight(), nullptr);
  Frame();
  Free(store);
  EXPECT_EQ(blur->GetVSMStoreDepth(), nullptr);
  EXPECT_NO_THROW(Frame());
  Free(blur);
  EXPECT_EQ(FloorSource->GetShadowMapPass(0), nullptr);
  Frame();
}

}  // namespace
}  // namespace quorvel
