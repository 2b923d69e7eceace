// The reflection pass: the mirror camera's place, angle of view and fallbacks, the viewport's
// camera around each iteration, and the projection the picture and the texture matrix share.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <vector>

#include "framework/classes/Filer.h"
#include "lib/passes/ControllerPassesReflection.h"
#include "tests/passes/PassTestSupport.h"

namespace quorvel {
namespace {

using testkit::AddMaterialCube;
using testkit::NearColor;
using testkit::TFilledCube;
using testkit::TViewportTest;

void ExpectReflectionMatrix(const TMatrix3D& a, const TMatrix3D& b, float tol = 1e-5f) {
  const float* x = &a.m11;
  const float* y = &b.m11;
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(x[i], y[i], tol) << i;
}

class ReflectionTest : public TViewportTest {
protected:
  void SetUp() override {
    TViewportTest::SetUp();
    Pass = New<TQuorvelRenderPassReflection>(Viewport, "mirror");
    Pass->SetViewport(Viewport);
    Cube = AddCube(claRed, 1);
    Camera = New<TQuorvelCamera>(Form.get());
    Camera->SetParent(Viewport);
    Camera->SetTarget(Cube);  // looks at the origin, where the mirror is
    Viewport->SetCamera(Camera);
    Viewport->SetUsingDesignCamera(false);
  }
  TQuorvelRenderPassReflection* Pass = nullptr;
  TFilledCube* Cube = nullptr;
  TQuorvelCamera* Camera = nullptr;
};

TEST_F(ReflectionTest, Defaults) {
  EXPECT_EQ(Pass->GetMirrorNormal()->GetPoint(), TPoint3D(0, -1, 0));
  EXPECT_EQ(Pass->GetMirrorPosition()->GetPoint(), TPoint3D(0, 0, 0));
  EXPECT_FLOAT_EQ(Pass->GetMirrorSize(), 10);
  EXPECT_FLOAT_EQ(Pass->GetAngleOfView(), 45);
  EXPECT_EQ(Pass->GetType(), TRenderPassType::Pre);
  EXPECT_EQ(Pass->GetShader(), nullptr);
  ASSERT_NE(Pass->GetPassCamera(), nullptr);
  Pass->SetMirrorNormal(TPoint3D(0, -3, 0));
  EXPECT_EQ(Pass->GetMirrorNormal()->GetPoint(), TPoint3D(0, -1, 0));
}

TEST_F(ReflectionTest, TheMirrorCameraStandsAtTheMirroredPlaceWithTheMirrorsAngleOfView) {
  // Above the mirror (y points down), looking at it from 10 units straight on: the mirrored
  // camera stands 10 below and looks straight up, the vertical look-at keeps finite.
  Camera->GetPosition()->SetPoint({0, -10, 0});
  Tick();
  EXPECT_NEAR(Pass->GetAngleOfView(), 2 * std::atan(0.5) * 180 / M_PI, 1e-3);
  const TPoint3D eye(Pass->GetPassCamera()->GetAbsolutePosition());
  EXPECT_NEAR(eye.X, 0, 1e-4);
  EXPECT_NEAR(eye.Y, 10, 1e-4);
  EXPECT_NEAR(eye.Z, 0, 1e-4);
  // The view (asked again it would mirror the moved pass camera once more): the texture matrix
  // holds it, finite although it looks straight along the vertical.
  const TMatrix3D texture = Pass->GetTextureMatrix(nullptr, false);
  for (const float* v = &texture.m11; v != &texture.m11 + 16; ++v) EXPECT_TRUE(std::isfinite(*v));

  // Obliquely: mirrored in the plane y = 0.
  Camera->GetPosition()->SetPoint({0, -10, -10});
  Tick();
  const TPoint3D oblique(Pass->GetPassCamera()->GetAbsolutePosition());
  EXPECT_NEAR(oblique.Y, 10, 1e-3);
  EXPECT_NEAR(oblique.Z, -10, 1e-3);
  EXPECT_NEAR(Pass->GetAngleOfView(), 2 * std::atan(5 / std::sqrt(200.0)) * 180 / M_PI, 1e-3);
}

TEST_F(ReflectionTest, ACameraLookingAwayFallsBackToTheFlippedMainView) {
  Camera->GetPosition()->SetPoint({0, 10, 0});  // below the mirror, facing its back
  Camera->SetAngleOfView(30);
  TMatrix3D original;
  Cube->OnDraw = [&] {
    if (auto* ctx = dynamic_cast<TQuorvelContext*>(Cube->GetContext()); ctx == Pass->RendererContext())
      original = ctx->GetOriginalCameraMatrix();
  };
  Tick();
  EXPECT_FLOAT_EQ(Pass->GetAngleOfView(), 30);
  ExpectReflectionMatrix(Pass->GetViewMatrix(nullptr), TMatrix3D::CreateScaling(TPoint3D(1, -1, 1)) * original);
}

TEST_F(ReflectionTest, WhileDrawingTheProjectionIsTheOneTheTextureMatrixUses) {
  Camera->GetPosition()->SetPoint({0, -10, -4});
  int draws = 0;
  TMatrix3D view;
  Cube->OnDraw = [&] {
    auto* ctx = dynamic_cast<TQuorvelContext*>(Cube->GetContext());
    if (ctx != Pass->RendererContext()) return;
    ++draws;
    view = ctx->GetCurrentCameraMatrix();
    // Before, ProjMatrix was taken with the camera's angle of view and the picture drawn with
    // the mirror's.
    ExpectReflectionMatrix(ctx->GetCurrentProjectionMatrix(), Pass->GetProjectionMatrix(nullptr));
    EXPECT_TRUE(ctx->IsClippingPlaneActive(0));
  };
  Tick();
  EXPECT_GT(draws, 0);
  const TMatrix3D texture = Pass->GetTextureMatrix(nullptr, false);
  ExpectReflectionMatrix(texture, view * Pass->GetProjectionMatrix(nullptr), 1e-4f);
  EXPECT_FALSE(dynamic_cast<TQuorvelContext*>(Pass->RendererContext())->IsClippingPlaneActive(0));
}

TEST_F(ReflectionTest, TheViewportsCameraIsRestoredAlsoAfterASwitch) {
  Camera->GetPosition()->SetPoint({0, -10, -4});
  TCamera* during = nullptr;
  Cube->OnDraw = [&] {
    if (Cube->GetContext() == Pass->RendererContext()) during = Viewport->GetCamera();
  };
  Tick();
  EXPECT_EQ(during, Pass->GetPassCamera());
  EXPECT_EQ(Viewport->GetCamera(), Camera);
  EXPECT_EQ(Pass->GetCamera(), Camera);
  // Another camera: the pass keeps mirroring the first, and the viewport keeps the second
  // (before, the stored camera was put back and undid the switch).
  auto* other = New<TQuorvelCamera>(Form.get());
  other->SetParent(Viewport);
  other->GetPosition()->SetPoint({0, -5, -5});
  Viewport->SetCamera(other);
  Tick();
  EXPECT_EQ(Viewport->GetCamera(), other);
  EXPECT_EQ(Pass->GetCamera(), Camera);
  // Removing cameras and targets clears the references.
  Pass->SetTarget(Cube);
  Free(Camera);
  EXPECT_EQ(Pass->GetCamera(), nullptr);
  Free(Cube);
  EXPECT_EQ(Pass->GetTarget(), nullptr);
  Tick();
}

TEST_F(ReflectionTest, TheMirrorFollowsItsTarget) {
  auto* target = AddCube(claBlue, 1);
  target->GetPosition()->SetPoint({0, 2, 0});
  Pass->SetTarget(target);
  Camera->GetPosition()->SetPoint({0, -10, 0});
  Tick();
  EXPECT_EQ(Pass->GetMirrorPosition()->GetPoint(), TPoint3D(0, 2, 0));
  target->GetPosition()->SetPoint({0, 3, 0});
  Tick();
  EXPECT_EQ(Pass->GetMirrorPosition()->GetPoint(), TPoint3D(0, 3, 0));
}

class MirrorPixels : public ReflectionTest {
protected:
  void SetUp() override {
    ReflectionTest::SetUp();
    Viewport->SetColor(claBlack);
    Cube->SetVisible(false);  // the camera's target only
    Camera->GetPosition()->SetPoint({0, -10, -4});
    // y points down: the red cube is above the mirror plane y = 0, the blue one below it.
    AddMaterialCube(Form.get(), Viewport, claRed, Above);
    AddMaterialCube(Form.get(), Viewport, claBlue, {-2, 2, 0});
  }
  const TPoint3D Above{2, -1.5f, 0};
};

TEST_F(MirrorPixels, TheTextureMatrixFindsTheCubeAboveAndTheCubeBelowIsClipped) {
  Tick();
  auto* texture = dynamic_cast<TQuorvelTexture*>(Pass->GetOutputTexture());
  ASSERT_NE(texture, nullptr);
  std::vector<uint8_t> bytes;
  int64_t size = 0;
  texture->RequestTextureData(bytes, size, 0);
  const int32_t w = texture->GetWidth(), h = texture->GetHeight();
  const auto texel = [&](int32_t x, int32_t y) {
    const uint8_t* p = bytes.data() + (size_t(y) * size_t(w) + size_t(x)) * 4;  // BGRA
    return MakeAlphaColor(p[2], p[1], p[0], p[3]);
  };
  // Where a material sampling through the texture matrix (with bias) reads the cube's centre.
  const TVector3D t = TVector3D(Above, 1) * Pass->GetTextureMatrix(nullptr, true);
  ASSERT_GT(t.W, 0);
  const int32_t x = int32_t(t.X / t.W * float(w)), y = int32_t(t.Y / t.W * float(h));
  ASSERT_TRUE(x >= 0 && x < w && y >= 0 && y < h) << x << "," << y;
  EXPECT_TRUE(NearColor(texel(x, y), claRed, 8)) << std::hex << uint32_t(texel(x, y)) << " at " << std::dec << x
                                                 << "," << y;
  int blue = 0;
  for (int32_t j = 0; j < h; ++j)
    for (int32_t i = 0; i < w; ++i) blue += NearColor(texel(i, j), claBlue, 8) ? 1 : 0;
  EXPECT_EQ(blue, 0);
}

TEST_F(MirrorPixels, AReflectiveFloorShowsTheCubeWhereItsMirrorImageProjects) {
  // A thin slab whose top face is the mirror plane, showing only the reflection; the blue cube
  // below it is hidden by the slab.
  auto* floor = AddMaterialCube(Form.get(), Viewport, claGray, {0, 0.01f, 0});
  floor->SetWidth(12);
  floor->SetHeight(0.02f);
  floor->SetDepth(12);
  auto* source = dynamic_cast<TQuorvelDefaultMaterialSource*>(floor->GetMaterialSource());
  ASSERT_NE(source, nullptr);
  source->SetReflections(true);
  source->SetReflectionPass(Pass);
  source->SetReflectionPower(1);
  Pass->SetMirrorSize(12);
  // Drawn directly and through the deferred composition alike.
  for (TRendererType type : {TRendererType::LegacyRenderer, TRendererType::ForwardRenderer}) {
    SCOPED_TRACE(int(type));
    Viewport->SetRendererType(type);
    if (auto* renderer = Viewport->GetMainPassRenderer()) renderer->Apply();
    source->SetReflectionPower(1);
    Tick();
    Tick();
    const TPointF image = Viewport->WorldToScreen({Above.X, -Above.Y, Above.Z});
    const int32_t x = int32_t(std::lround(image.X)), y = int32_t(std::lround(image.Y));
    ASSERT_TRUE(x >= 0 && x < W && y >= 0 && y < H) << x << "," << y;
    EXPECT_TRUE(NearColor(Probe(x, y), claRed, 24)) << std::hex << uint32_t(Probe(x, y)) << " at " << std::dec << x
                                                    << "," << y;
    // Without power the floor's own colour; half the power mixes the two halfway.
    source->SetReflectionPower(0);
    Tick();
    const TAlphaColor own = Probe(x, y);
    EXPECT_FALSE(NearColor(own, claRed, 24)) << std::hex << uint32_t(own);
    source->SetReflectionPower(0.5f);
    Tick();
    // The material scales its colour after the mix, so red may clip: green and blue, which the
    // red reflection lacks, fall to half the floor's, and red rises above the floor's.
    const TAlphaColor mixed = Probe(x, y);
    const auto channel = [](TAlphaColor c, int shift) { return int((uint32_t(c) >> shift) & 0xFF); };
    EXPECT_NEAR(channel(mixed, 8), channel(own, 8) / 2, 3) << std::hex << uint32_t(mixed) << " " << uint32_t(own);
    EXPECT_NEAR(channel(mixed, 0), channel(own, 0) / 2, 3) << std::hex << uint32_t(mixed) << " " << uint32_t(own);
    EXPECT_GT(channel(mixed, 16), channel(own, 16)) << std::hex << uint32_t(mixed) << " " << uint32_t(own);
  }
}

// A pass streamed from a form text: nested in the viewport, with its viewport, size and colour.
class ReflectionFormTest : public testkit::TFormTextTest<> {
protected:
  static constexpr const char* Text =
      "object Form1: TForm\n"
      "  ClientWidth = 64\n"
      "  ClientHeight = 48\n"
      "  object QuorvelViewport1: TQuorvelViewport\n"
      "    RendererType = LegacyRenderer\n"
      "    UseFixedFrameRate = True\n"
      "    Color = claBlack\n"
      "    object Mirror1: TQuorvelRenderPassReflection\n"
      "      Id = 'mirror'\n"
      "      Viewport = QuorvelViewport1\n"
      "      ViewportWidth = 64\n"
      "      ViewportHeight = 48\n"
      "      OverwriteColor = True\n"
      "      BackgroundColor = claGreen\n"
      "      MirrorSize = 12\n"
      "    end\n"
      "  end\n"
      "end\n";

  // Reads AText; the pass and the viewport it names or sits in.
  void Read(const std::string& AText) {
    ReadComponentResource(Form.get(), AText);
    Form->Show();
    Viewport = dynamic_cast<TQuorvelViewport*>(Form->FindComponent("QuorvelViewport1"));
    Pass = dynamic_cast<TQuorvelRenderPassReflection*>(Form->FindComponent("Mirror1"));
    ASSERT_NE(Viewport, nullptr);
    ASSERT_NE(Pass, nullptr);
  }
  // A camera looking down at the mirror plane y = 0 and a red cube above it (y points down).
  void Scene() {
    auto* camera = New<TQuorvelCamera>(Form.get());
    camera->SetParent(Viewport);
    auto* target = New<TQuorvelCamera>(Form.get());  // only a point to look at
    target->SetParent(Viewport);
    camera->SetTarget(target);
    camera->GetPosition()->SetPoint({0, -10, -4});
    Viewport->SetCamera(camera);
    Viewport->SetUsingDesignCamera(false);
    AddMaterialCube(Form.get(), Viewport, claRed, Above);
  }
  TAlphaColor OutputTexel(const TPoint3D& APoint, TPoint* AAt = nullptr) {
    auto* texture = dynamic_cast<TQuorvelTexture*>(Pass->GetOutputTexture());
    if (!texture) return TAlphaColor(0);
    std::vector<uint8_t> bytes;
    int64_t size = 0;
    texture->RequestTextureData(bytes, size, 0);
    const int32_t w = texture->GetWidth(), h = texture->GetHeight();
    const TVector3D t = TVector3D(APoint, 1) * Pass->GetTextureMatrix(nullptr, true);
    const int32_t x = std::clamp(int32_t(t.X / t.W * float(w)), 0, w - 1);
    const int32_t y = std::clamp(int32_t(t.Y / t.W * float(h)), 0, h - 1);
    if (AAt) *AAt = TPoint(x, y);
    const uint8_t* p = bytes.data() + (size_t(y) * size_t(w) + size_t(x)) * 4;  // BGRA
    return MakeAlphaColor(p[2], p[1], p[0], p[3]);
  }
  void Tick() { Viewport->DoFixedIntervalTimer(nullptr); }

  const TPoint3D Above{2, -1.5f, 0};
  TQuorvelViewport* Viewport = nullptr;
  TQuorvelRenderPassReflection* Pass = nullptr;
};

TEST_F(ReflectionFormTest, APassReadFromAFormLinksRegistersDrawsAndIsWrittenBack) {
  Read(Text);
  EXPECT_EQ(Pass->GetViewport(), Viewport);
  EXPECT_EQ(Pass->GetViewportSize(), TPoint(64, 48));
  EXPECT_EQ(Pass->GetBackgroundColor(), claGreen);
  EXPECT_EQ(Viewport->GetRenderPasses(), (std::vector<TObject*>{Pass}));
  Scene();
  Tick();
  auto* ctx = dynamic_cast<TQuorvelContext*>(Viewport->GetContext());
  ASSERT_NE(ctx, nullptr);
  ASSERT_NE(ctx->GetRenderPasses()->Find("mirror"), nullptr);
  EXPECT_EQ(ctx->GetRenderPasses()->Find("mirror")->GetController(), Pass);
  // The mirror image: the cube where the texture matrix finds it, the pass's own colour around.
  TPoint at;
  const TAlphaColor cube = OutputTexel(Above, &at);
  EXPECT_TRUE(NearColor(cube, claRed, 8)) << std::hex << uint32_t(cube) << std::dec << " at " << at.X << "," << at.Y;
  const TAlphaColor around = OutputTexel({-40, 0, 40});
  EXPECT_TRUE(NearColor(around, claGreen, 8)) << std::hex << uint32_t(around);

  const std::string written = WriteComponentResource(Form.get());
  std::istringstream lines(Text);
  for (std::string line; std::getline(lines, line);) {
    line.erase(0, line.find_first_not_of(' '));
    EXPECT_NE(written.find(line), std::string::npos) << line << "\n" << written;
  }
}

TEST_F(ReflectionFormTest, APassNestedInTheViewportWithoutAViewportLineFindsItOnceLoaded) {
  std::string text = Text;
  text.erase(text.find("      Viewport = QuorvelViewport1\n"), std::string("      Viewport = QuorvelViewport1\n").size());
  Read(text);
  EXPECT_EQ(Pass->GetViewport(), Viewport);
  EXPECT_EQ(Viewport->GetRenderPasses(), (std::vector<TObject*>{Pass}));
  Scene();
  Tick();
  EXPECT_TRUE(NearColor(OutputTexel(Above), claRed, 8));
}

TEST(ControllerStreaming, EventsAndControlListsAreReadAndWritten) {
  // Unknown names would raise "Property ... does not exist".
  TOwned<TComponent> root(New<TComponent>(nullptr));
  ReadComponentResource(root.get(),
                        "object Root: TComponent\n"
                        "  object Mirror1: TQuorvelRenderPassReflection\n"
                        "    Enabled = False\n"
                        "    ViewportWidth = 20\n"
                        "    ViewportHeight = 10\n"
                        "    AllowedControls = <\n"
                        "      item\n"
                        "        DisplayName = 'floor'\n"
                        "      end>\n"
                        "  end\n"
                        "end\n");
  auto* pass = dynamic_cast<TQuorvelRenderPassReflection*>(root->FindComponent("Mirror1"));
  ASSERT_NE(pass, nullptr);
  EXPECT_FALSE(pass->GetEnabled());
  EXPECT_EQ(pass->GetViewportSize(), TPoint(20, 10));
  ASSERT_EQ(pass->GetAllowedControls()->GetCount(), 1);
  EXPECT_EQ(pass->GetAllowedControls()->Item(0)->GetDisplayName(), "floor");
  const TClass* cls = pass->ClassType();
  for (const char* name : {"Viewport", "OutputTexture", "IgnoredControls", "OnBeginSetup", "OnEndSetup",
                           "OnBeginRender", "OnEndRender"})
    EXPECT_NE(cls->FindProperty(name), nullptr) << name;
  EXPECT_FALSE(cls->FindProperty("OutputTexture")->IsWritable());
  EXPECT_NE(GetClass("TQuorvelRenderPassController"), nullptr);
  EXPECT_NE(GetClass("TQuorvelController"), nullptr);
}

TEST(ReflectionStreaming, OlderFormsPointStringsAreRead) {
  TOwned<TComponent> root(New<TComponent>(nullptr));
  ReadComponentResource(root.get(),
                        "object Root: TComponent\n"
                        "  object Mirror1: TQuorvelRenderPassReflection\n"
                        "    MirrorPositionPoint = '(1,2,3)'\n"
                        "    MirrorNormalVector = '(0,-2,0)'\n"
                        "    MirrorSize = 4\n"
                        "  end\n"
                        "end\n");
  auto* pass = dynamic_cast<TQuorvelRenderPassReflection*>(root->FindComponent("Mirror1"));
  ASSERT_NE(pass, nullptr);
  EXPECT_EQ(pass->GetMirrorPosition()->GetPoint(), TPoint3D(1, 2, 3));
  EXPECT_EQ(pass->GetMirrorNormal()->GetPoint(), TPoint3D(0, -1, 0));
  EXPECT_FLOAT_EQ(pass->GetMirrorSize(), 4);
}

}  // namespace
}  // namespace quorvel
