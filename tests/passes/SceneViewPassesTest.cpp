// The passes that draw the scene again from another view before the main pass: refraction
// (clipped at a surface) and the environment cube map (six faces around a point).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "framework/classes/Filer.h"
#include "framework/gui/Dialogs.h"
#include "lib/context/ContextTexturing.h"
#include "lib/passes/ControllerPassesEnvironment.h"
#include "lib/passes/ControllerPassesRefraction.h"
#include "lib/materials/MaterialDefault.h"
#include "lib/scene/Light.h"
#include "tests/passes/PassTestSupport.h"

namespace quorvel {
namespace {

using testkit::AddMaterialCube;
using testkit::NearColor;
using testkit::TFilledCube;
using testkit::TViewportTest;

// ---- refraction -----------------------------------------------------------------------------

class RefractionTest : public TViewportTest {
protected:
  void SetUp() override {
    TViewportTest::SetUp();
    Pass = New<TQuorvelRenderPassRefraction>(Viewport, "refraction");
    Pass->SetViewport(Viewport);
    Cube = AddCube(claRed);
    // What the context holds while the pass draws the cube.
    Cube->OnDraw = [this] {
      auto* ctx = dynamic_cast<TQuorvelContext*>(Cube->GetContext());
      if (!ctx || ctx != Pass->RendererContext()) return;
      ++PassDraws;
      PlaneActive = ctx->IsClippingPlaneActive(0);
      Plane = ctx->GetClippingPlane(0)->Plane;
    };
  }
  TQuorvelRenderPassRefraction* Pass = nullptr;
  TFilledCube* Cube = nullptr;
  int PassDraws = 0;
  bool PlaneActive = false;
  TPlaneF Plane;
};

TEST_F(RefractionTest, DefaultsAndSetters) {
  EXPECT_TRUE(Pass->GetClippingEnabled());
  EXPECT_EQ(Pass->GetSurfacePosition()->GetPoint(), TPoint3D(0, 0, 0));
  EXPECT_EQ(Pass->GetSurfaceNormal()->GetPoint(), TPoint3D(0, 1, 0));
  EXPECT_FLOAT_EQ(Pass->GetSurfaceCutOff(), 0);
  EXPECT_EQ(Pass->GetType(), TRenderPassType::Pre);
  EXPECT_EQ(Pass->GetShader(), nullptr);
  TPosition3D normal(TPoint3D(0, 5, 0));
  Pass->SetSurfaceNormal(&normal);
  EXPECT_EQ(Pass->GetSurfaceNormal()->GetPoint(), TPoint3D(0, 1, 0));
  EXPECT_EQ(normal.GetPoint(), TPoint3D(0, 5, 0));  // the given object stays as it was
  // The texture matrix is the bias matrix, with or without bias asked.
  EXPECT_EQ(Pass->GetTextureMatrix(nullptr, false), Pass->GetBiasMatrix());
  EXPECT_NE(Pass->GetOutputDepthTexture(), nullptr);
}

TEST_F(RefractionTest, TheSurfacePlaneClipsWhileThePassDrawsAndIsDroppedAfterwards) {
  Pass->GetSurfacePosition()->SetPoint({0, 2, 0});
  Pass->SetSurfaceCutOff(0.5f);
  Tick();
  ASSERT_GT(PassDraws, 0);
  EXPECT_TRUE(PlaneActive);
  EXPECT_EQ(Plane, TPlaneF::Create(TPoint3D(0, 1, 0), -2 + 0.5f));
  auto* ctx = dynamic_cast<TQuorvelContext*>(Pass->RendererContext());
  EXPECT_FALSE(ctx->IsClippingPlaneActive(0));

  // Without clipping no plane is active, and a plane set by someone else stays.
  Pass->SetClippingEnabled(false);
  ctx->ActivateClipPlane(1, TPlaneF::Create(TPoint3D(1, 0, 0), 3));
  PassDraws = 0;
  Tick();
  ASSERT_GT(PassDraws, 0);
  EXPECT_FALSE(PlaneActive);
  EXPECT_TRUE(ctx->IsClippingPlaneActive(1));
}

// Pixels of AColor in the pass's output.
int CountColor(TQuorvelRenderPassController* APass, TAlphaColor AColor) {
  auto* texture = dynamic_cast<TQuorvelTexture*>(APass->GetOutputTexture());
  if (!texture) return -1;
  std::vector<uint8_t> bytes;
  int64_t size = 0;
  texture->RequestTextureData(bytes, size, 0);
  int count = 0;
  for (size_t i = 0; i + 3 < bytes.size(); i += 4)  // BGRA
    count += NearColor(MakeAlphaColor(bytes[i + 2], bytes[i + 1], bytes[i], bytes[i + 3]), AColor) ? 1 : 0;
  return count;
}

TEST_F(RefractionTest, WithClippingOnlyWhatLiesBelowTheSurfaceIsDrawn) {
  // y points down: the red cube is above the surface y = 0, the blue one below it.
  Viewport->SetColor(claBlack);
  Cube->SetVisible(false);
  AddMaterialCube(Form.get(), Viewport, claRed, {-2, -2, 0}, 2);
  AddMaterialCube(Form.get(), Viewport, claBlue, {2, 2, 0}, 2);
  Tick();
  EXPECT_EQ(CountColor(Pass, claRed), 0);
  EXPECT_GT(CountColor(Pass, claBlue), 0);
  // The main view has both.
  Pass->SetClippingEnabled(false);
  Tick();
  EXPECT_GT(CountColor(Pass, claRed), 0);
  EXPECT_GT(CountColor(Pass, claBlue), 0);
}

TEST_F(RefractionTest, ALegacyRendererHasNoDepthTexture) {
  Pass->SetRendererType(TRendererType::LegacyRenderer);
  EXPECT_THROW(Pass->GetOutputDepthTexture(), EInvalidCast);
  TOwned<TQuorvelRenderPassRefraction> alone(New<TQuorvelRenderPassRefraction>(nullptr, ""));
  EXPECT_EQ(alone->GetOutputDepthTexture(), nullptr);
}

TEST(RefractionStreaming, OlderFormsPointStringsAreRead) {
  TOwned<TComponent> root(New<TComponent>(nullptr));
  ReadComponentResource(root.get(),
                        "object Root: TComponent\n"
                        "  object Refraction1: TQuorvelRenderPassRefraction\n"
                        "    SurfacePositionPoint = '(1,2.5,-3)'\n"
                        "    SurfaceNormalVector = '(0,0,4)'\n"
                        "    SurfaceCutOff = 0.25\n"
                        "  end\n"
                        "end\n");
  auto* pass = dynamic_cast<TQuorvelRenderPassRefraction*>(root->FindComponent("Refraction1"));
  ASSERT_NE(pass, nullptr);
  EXPECT_EQ(pass->GetSurfacePosition()->GetPoint(), TPoint3D(1, 2.5f, -3));
  EXPECT_EQ(pass->GetSurfaceNormal()->GetPoint(), TPoint3D(0, 0, 1));
  EXPECT_FLOAT_EQ(pass->GetSurfaceCutOff(), 0.25f);
  const std::string written = WriteComponentResource(root.get());
  EXPECT_EQ(written.find("SurfacePositionPoint"), std::string::npos) << written;
}

// A set-up that fails every frame.
class TFailingRefraction : public TQuorvelRenderPassRefraction {
public:
  using TQuorvelRenderPassRefraction::TQuorvelRenderPassRefraction;
  void SetupMatrices(TContext3D*) override { throw Exception("no camera"); }
};

TEST_F(RefractionTest, AFailingSetUpIsShownOnceAndDrawingGoesOn) {
  Pass->SetEnabled(false);
  auto* failing = New<TFailingRefraction>(Viewport, "failing");
  failing->SetViewport(Viewport);
  std::vector<std::string> shown;
  TShowMessageHandler old = SetShowMessageHandler([&](const std::string& m) { shown.push_back(m); });
  for (int i = 0; i < 3; ++i) Tick();
  SetShowMessageHandler(old);
  // Before, a box every frame: a modal one would block the program.
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], "TQuorvelRenderPassRefraction.DoOnRenderPass: no camera");
  // Drawing went on: the pass drew the cube in each frame.
  EXPECT_EQ(failing->GetFrameCount(), 3u);
}

// ---- environment ----------------------------------------------------------------------------

class EnvironmentTest : public TViewportTest {
protected:
  void SetUp() override {
    TViewportTest::SetUp();
    Pass = New<TQuorvelRenderPassEnvironment>(Viewport, "environment");
    Pass->SetViewport(Viewport);
  }
  TQuorvelRenderPassEnvironment* Pass = nullptr;
};

TEST_F(EnvironmentTest, SizesArePowersOfTwoAndSurviveAResize) {
  TOwned<TQuorvelRenderPassEnvironment> alone(New<TQuorvelRenderPassEnvironment>(nullptr, ""));
  EXPECT_EQ(alone->GetMapSize(), 128);
  alone->SetMapSize(100);
  EXPECT_EQ(alone->GetMapSize(), 128);
  alone->SetMapSize(256);
  EXPECT_EQ(alone->GetMapSize(), 256);
  alone->SetViewportWidth(300);
  EXPECT_EQ(alone->GetMapSize(), 512);
  EXPECT_EQ(alone->GetViewportSize(), TPoint(512, 512));
  EXPECT_EQ(alone->GetIterations(), 6);
  EXPECT_TRUE(alone->GetIsDynamic());
  EXPECT_TRUE(alone->GetUseEmbeddedLight());
  EXPECT_FLOAT_EQ(alone->GetCamera()->GetAngleOfView(), 90);
  EXPECT_FALSE(alone->GetEmbeddedLight()->GetEnabled());
  EXPECT_EQ(alone->GetLightIndex(), -1);

  ASSERT_NE(Pass->GetCubeMap(), nullptr);
  EXPECT_EQ(Pass->GetOutputTexture()->GetWidth(), 128);
  Form->SetClientWidth(W + 8);
  Viewport->SetWidth(W + 8);
  Tick();
  EXPECT_EQ(Pass->GetMapSize(), 128);
  EXPECT_EQ(Pass->GetOutputTexture()->GetWidth(), 128);
  EXPECT_EQ(Pass->GetOutputTexture()->GetHeight(), 128);
}

TEST_F(EnvironmentTest, AStaticMapIsDrawnOnceThenLeavesThePreListUntilInvalidated) {
  Pass->SetMapSize(16);
  Pass->SetIsDynamic(false);
  int runs = 0;
  Pass->OnBeginSetup = [&](TObject*, TContext3D*, int32_t, TRenderPass*) { ++runs; };
  AddCube(claRed);
  Tick();
  EXPECT_EQ(runs, 6);
  EXPECT_FALSE(Pass->GetEnabled());
  auto* ctx = dynamic_cast<TQuorvelContext*>(Viewport->GetContext());
  ASSERT_NE(ctx, nullptr);
  for (TRenderPass* p : ctx->GetRenderPasses()->GetPreProcessingPasses()) EXPECT_NE(p->GetId(), "environment");
  // The next frame is right: the main pass draws with the viewport's own renderer, not the map's.
  Tick();
  EXPECT_EQ(runs, 6);
  EXPECT_EQ(Viewport->GetCurrentRenderer(), Viewport->GetMainPassRenderer());
  EXPECT_TRUE(NearColor(Probe(1, 1), claBlue));
  Pass->InvalidateEnvironment();
  EXPECT_TRUE(Pass->GetEnabled());
  Tick();
  EXPECT_EQ(runs, 12);
  // Moving the point invalidates too.
  Pass->SetPosition({0, 1, 0});
  Tick();
  EXPECT_EQ(runs, 18);
}

TEST_F(EnvironmentTest, FacesAreDrawnAroundTheTargetWithTheirOffsetsAndTheCameraComesBack) {
  Pass->SetMapSize(16);
  auto* target = AddCube(claRed, 1);
  target->GetPosition()->SetPoint({10, 0, 0});
  Pass->SetTarget(target);
  EXPECT_TRUE(Pass->GetIgnoredControls()->Contains(target));
  Pass->SetPosition({0, 2, 0});
  Pass->SetCenterOffsets(1);
  std::vector<TPoint3D> at;
  Pass->OnBeginSetup = [&](TObject*, TContext3D*, int32_t, TRenderPass*) {};
  Pass->OnEndSetup = [&](TObject*, TContext3D*, int32_t, TRenderPass*) { at.push_back(Pass->GetPosition()); };
  Tick();
  ASSERT_EQ(at.size(), 6u);
  const TPoint3D centre(10, 2, 0);
  const TPoint3D offsets[6] = {{0, 0, -1}, {0, 0, 1}, {-1, 0, 0}, {1, 0, 0}, {0, -1, 0}, {0, 1, 0}};
  for (int i = 0; i < 6; ++i) {
    EXPECT_NEAR(at[size_t(i)].X, centre.X + offsets[i].X, 1e-5) << i;
    EXPECT_NEAR(at[size_t(i)].Y, centre.Y + offsets[i].Y, 1e-5) << i;
    EXPECT_NEAR(at[size_t(i)].Z, centre.Z + offsets[i].Z, 1e-5) << i;
  }
  EXPECT_EQ(Pass->GetPosition(), TPoint3D(0, 2, 0));
  // Another target: the first one is drawn in the map again.
  Pass->SetTarget(nullptr);
  EXPECT_FALSE(Pass->GetIgnoredControls()->Contains(target));
  Pass->SetTarget(target);
  // Freeing the target clears it.
  Free(target);
  EXPECT_EQ(Pass->GetTarget(), nullptr);
}

TEST_F(EnvironmentTest, TheEmbeddedLightTakesPartInTheDrawingAndIsRemovedAfterwards) {
  Pass->SetMapSize(16);
  auto* lamp = New<TQuorvelLight>(Form.get());
  lamp->SetParent(Viewport);
  lamp->SetLightType(TLightType::Directional);
  auto* cube = AddCube(claRed);
  int drawsWithLight = 0, passDraws = 0;
  cube->OnDraw = [&] {
    auto* ctx = dynamic_cast<TQuorvelContext*>(cube->GetContext());
    if (ctx != Pass->RendererContext()) return;
    ++passDraws;
    // Before, the viewport's lights replaced the list after the light was added.
    const auto& lights = ctx->GetShaderLights();
    if (lights.size() == 2 && lights[1].LightType == int32_t(TLightType::Point) && lights[1].IsEnabled())
      ++drawsWithLight;
  };
  Tick();
  EXPECT_GT(passDraws, 0);
  EXPECT_EQ(drawsWithLight, passDraws);
  auto* ctx = dynamic_cast<TQuorvelContext*>(Pass->RendererContext());
  EXPECT_EQ(ctx->GetShaderLights().size(), 1u);  // the viewport's own light stays
  EXPECT_EQ(Pass->GetLightIndex(), -1);
  EXPECT_FALSE(Pass->GetEmbeddedLight()->GetEnabled());
  // Without the embedded light nothing is added.
  Pass->SetUseEmbeddedLight(false);
  drawsWithLight = passDraws = 0;
  Tick();
  EXPECT_GT(passDraws, 0);
  EXPECT_EQ(drawsWithLight, 0);
}

// The face and texel GL's cube-map convention gives a direction (rows from t = 0, as read).
struct TCubeTexel {
  int Face, X, Y;
};
TCubeTexel CubeTexelOf(const TPoint3D& d, int32_t ASize) {
  const float ax = std::fabs(d.X), ay = std::fabs(d.Y), az = std::fabs(d.Z);
  int face;
  float sc, tc, ma;
  if (ax >= ay && ax >= az) {
    face = d.X > 0 ? 0 : 1, ma = ax, sc = d.X > 0 ? -d.Z : d.Z, tc = -d.Y;
  } else if (ay >= az) {
    face = d.Y > 0 ? 2 : 3, ma = ay, sc = d.X, tc = d.Y > 0 ? d.Z : -d.Z;
  } else {
    face = d.Z > 0 ? 4 : 5, ma = az, sc = d.Z > 0 ? d.X : -d.X, tc = -d.Y;
  }
  const auto texel = [&](float c) { return std::clamp(int((c / ma + 1) / 2 * float(ASize)), 0, ASize - 1); };
  return {face, texel(sc), texel(tc)};
}

TEST_F(EnvironmentTest, EachFaceShowsTheSceneInItsDirectionAsGLAddressesIt) {
  constexpr int32_t N = 32;
  Pass->SetMapSize(N);
  // A cube in each axis direction (the clear colour, blue, is none of them) and a small black
  // marker off each face's centre.
  struct TCase {
    TPoint3D Direction, MarkerOffset;
    TAlphaColor Fill;
  };
  const TCase cases[6] = {{{1, 0, 0}, {0, 2, 0}, claRed},     {{-1, 0, 0}, {0, 0, 2}, claLime},
                          {{0, 1, 0}, {2, 0, 0}, claWhite},   {{0, -1, 0}, {0, 0, 2}, claYellow},
                          {{0, 0, 1}, {2, 0, 0}, claFuchsia}, {{0, 0, -1}, {2, 0, 0}, claAqua}};
  for (const TCase& c : cases) {
    AddCube(c.Fill, 2)->GetPosition()->SetPoint(c.Direction * 5);
    AddCube(claBlack, 1)->GetPosition()->SetPoint(c.Direction * 4 + c.MarkerOffset);
  }
  Tick();
  auto* cube = dynamic_cast<TQuorvelTexture*>(Pass->GetOutputTexture());
  ASSERT_NE(cube, nullptr);
  std::vector<uint8_t> level0, level1;
  int64_t size = 0;
  cube->RequestTextureData(level0, size, 0);
  cube->RequestTextureData(level1, size, 1);
  // Each face's image starts where the base level's would (the read sizes faces by it).
  const auto texelOf = [](const std::vector<uint8_t>& bytes, int32_t n, int face, int x, int y) {
    const uint8_t* p = bytes.data() + (size_t(face) * N * N + size_t(y) * size_t(n) + size_t(x)) * 4;
    return MakeAlphaColor(p[2], p[1], p[0], p[3]);  // BGRA
  };
  for (const TCase& c : cases) {
    const TCubeTexel centre = CubeTexelOf(c.Direction, N);
    EXPECT_TRUE(NearColor(texelOf(level0, N, centre.Face, centre.X, centre.Y), c.Fill)) << centre.Face;
    // Before, only the first face drawn had the scene: a screen rectangle of its composition
    // left the later faces' objects in 2D.
    const TCubeTexel half = CubeTexelOf(c.Direction, N / 2);
    EXPECT_TRUE(NearColor(texelOf(level1, N / 2, half.Face, half.X, half.Y), c.Fill)) << "mip 1, face " << half.Face;
    const TCubeTexel marker = CubeTexelOf(c.Direction * 4 + c.MarkerOffset, N);
    EXPECT_EQ(marker.Face, centre.Face);
    EXPECT_TRUE(NearColor(texelOf(level0, N, marker.Face, marker.X, marker.Y), claBlack))
        << "marker of face " << marker.Face << " at " << marker.X << "," << marker.Y;
  }
  // The main frame is the viewport's own again.
  EXPECT_EQ(Viewport->GetCurrentRenderer(), Viewport->GetMainPassRenderer());
}

TEST_F(EnvironmentTest, AStaticMapShowsTheSceneFromItsFirstFrame) {
  constexpr int32_t N = 128;
  testkit::UseForwardRenderer(Viewport);
  Pass->SetIsDynamic(false);
  AddMaterialCube(Form.get(), Viewport, claRed, {5, 0, 0}, 2);
  AddCube(claLime, 2)->GetPosition()->SetPoint({0, 0, 5});
  Tick();
  // Drawn once, in this frame; the pass is off from now on and the map must hold the scene.
  EXPECT_FALSE(Pass->GetEnabled());
  const auto texel = [&](const TPoint3D& ADirection) {
    auto* map = dynamic_cast<TQuorvelTexture*>(Pass->GetOutputTexture());
    std::vector<uint8_t> bytes;
    int64_t size = 0;
    map->RequestTextureData(bytes, size, 0);
    const TCubeTexel t = CubeTexelOf(ADirection, N);
    const uint8_t* p = bytes.data() + (size_t(t.Face) * N * N + size_t(t.Y) * N + size_t(t.X)) * 4;
    return MakeAlphaColor(p[2], p[1], p[0], p[3]);  // BGRA
  };
  for (int frame = 0; frame < 2; ++frame) {
    SCOPED_TRACE(frame);
    EXPECT_TRUE(NearColor(texel({1, 0, 0}), claRed, 8)) << std::hex << uint32_t(texel({1, 0, 0}));
    EXPECT_TRUE(NearColor(texel({0, 0, 1}), claLime, 8)) << std::hex << uint32_t(texel({0, 0, 1}));
    EXPECT_TRUE(NearColor(texel({0, -1, 0}), claBlue, 8)) << std::hex << uint32_t(texel({0, -1, 0}));
    Tick();
  }
}

TEST_F(EnvironmentTest, TheEmbeddedLightLightsAnUnlitScene) {
  constexpr int32_t N = 16;
  Pass->SetMapSize(N);
  Viewport->SetColor(claBlack);
  auto* cube = AddMaterialCube(Form.get(), Viewport, claWhite, {5, 0, 0}, 2);
  static_cast<TQuorvelDefaultMaterialSource*>(cube->GetMaterialSource())->SetUseLighting(true);
  // The red of the +X face's centre (BGRA), where the cube is.
  const auto redAtCentre = [&] {
    Tick();
    auto* map = dynamic_cast<TQuorvelTexture*>(Pass->GetOutputTexture());
    std::vector<uint8_t> bytes;
    int64_t size = 0;
    map->RequestTextureData(bytes, size, 0);
    return int(bytes[(size_t(N / 2) * N + N / 2) * 4 + 2]);
  };
  Pass->SetUseEmbeddedLight(false);
  const int dark = redAtCentre();
  Pass->SetUseEmbeddedLight(true);
  const int lit = redAtCentre();
  EXPECT_GT(lit, dark + 40) << dark << " " << lit;
}

TEST(EnvironmentStreaming, ThePositionStreamsAsAPointString) {
  TOwned<TComponent> root(New<TComponent>(nullptr));
  ReadComponentResource(root.get(),
                        "object Root: TComponent\n"
                        "  object Environment1: TQuorvelRenderPassEnvironment\n"
                        "    PositionPoint = '(1,2,3)'\n"
                        "    IsDynamic = False\n"
                        "    CenterOffsetFront = 1.5\n"
                        "    CenterOffsetBottom = -2\n"
                        "  end\n"
                        "end\n");
  auto* pass = dynamic_cast<TQuorvelRenderPassEnvironment*>(root->FindComponent("Environment1"));
  ASSERT_NE(pass, nullptr);
  EXPECT_EQ(pass->GetPosition(), TPoint3D(1, 2, 3));
  EXPECT_FALSE(pass->GetIsDynamic());
  const float offsets[6] = {1.5f, 0, 0, 0, 0, -2};
  for (int32_t i = 0; i < 6; ++i) EXPECT_FLOAT_EQ(pass->GetCenterOffset(i), offsets[i]) << i;
  const std::string written = WriteComponentResource(root.get());
  EXPECT_NE(written.find("PositionPoint"), std::string::npos) << written;
  EXPECT_NE(written.find("CenterOffsetFront = 1.5"), std::string::npos) << written;
  EXPECT_NE(written.find("CenterOffsetBottom = -2"), std::string::npos) << written;
}

}  // namespace
}  // namespace quorvel
