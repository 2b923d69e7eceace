// Real frames on llvmpipe: the viewport renders through its legacy renderer into its bitmap,
// paints it on the form and hands it out as a screenshot.
#include <gtest/gtest.h>

#include "framework/gui/Application.h"
#include "framework/gui/Canvas.h"
#include "framework/rtl/Log.h"
#include "lib/scene/Light.h"
#include "lib/scene/Transform.h"

#include <cstring>
#include <functional>
#include "tests/scene/SceneTestSupport.h"

namespace quorvel {
namespace {

using testkit::NearColor;
using testkit::TViewportTest;

TEST_F(TViewportTest, AFrameShowsTheClearColourAndTheCubeThroughTheDesignCamera) {
  AddCube(claRed);
  ASSERT_NE(Viewport->GetFrameBitmap(), nullptr);
  Tick();
  const TBitmap* frame = Viewport->GetFrameBitmap();
  ASSERT_EQ(frame->GetWidth(), W);
  ASSERT_EQ(frame->GetHeight(), H);
  EXPECT_TRUE(NearColor(Probe(W / 2, H / 2), claRed)) << std::hex << uint32_t(Probe(W / 2, H / 2));
  EXPECT_TRUE(NearColor(Probe(1, 1), claBlue)) << std::hex << uint32_t(Probe(1, 1));
  EXPECT_TRUE(NearColor(Probe(W - 2, H - 2), claBlue));

  // The screenshot is the last frame; the form's window shows it too.
  TOwned<TBitmap> shot(Viewport->MakeScreenshot());
  ASSERT_EQ(shot->GetWidth(), W);
  EXPECT_TRUE(NearColor(testkit::PixelOf(shot.get(), W / 2, H / 2), claRed)) << std::hex << uint32_t(testkit::PixelOf(shot.get(), W / 2, H / 2));
  EXPECT_TRUE(NearColor(testkit::PixelOf(shot.get(), 1, 1), claBlue));
  // The handler asked for a repaint of its rectangle: the next message pass shows the frame.
  Application->ProcessMessages();
  TOwned<TBitmap> window(New<TBitmap>());
  ASSERT_TRUE(Form->GetWindowCanvas()->ReadWindowPixels(window.get()));
  EXPECT_TRUE(NearColor(testkit::PixelOf(window.get(), W / 2, H / 2), claRed));
  EXPECT_TRUE(NearColor(testkit::PixelOf(window.get(), 1, 1), claBlue));
}

// Several viewports in one program: what one leaves on the process-wide context state must
// not reach the next one's frame (before, a forward viewport's FXAA rectangle left the 2D
// scene kind set and every later scene drew through the screen matrix: clear colour only).
TEST_F(TViewportTest, ASecondViewportDrawsItsSceneWhateverTheFirstLeftBehind) {
  Viewport->SetRendererType(TRendererType::ForwardRenderer);
  AddCube(claGreen);
  TOwned<TForm> form(New<TForm>(nullptr));
  form->SetClientWidth(W);
  form->SetClientHeight(H);
  form->Show();
  auto* second = New<TQuorvelViewport>(form.get());
  second->SetRendererType(TRendererType::LegacyRenderer);
  second->SetColor(claBlue);
  second->SetUseFixedFrameRate(true);
  auto* cube = New<testkit::TFilledCube>(form.get());
  cube->SetParent(second);
  auto probe = [&](int32_t x, int32_t y) { return testkit::PixelOf(second->GetFrameBitmap(), x, y); };
  const auto forwardFrame = [&] { Tick(); };
  struct Case {
    const char* Before;
    std::function<void()> Run;
  } cases[] = {
      {"a frame of the forward viewport", forwardFrame},
      {"2D drawing left behind", [&] { Viewport->GetContext()->SetContextState(TContextState::cs2DScene); }},
      {"another forward frame", forwardFrame},
  };
  for (const Case& c : cases) {
    c.Run();
    second->DoFixedIntervalTimer(nullptr);
    EXPECT_TRUE(NearColor(probe(W / 2, H / 2), claRed)) << c.Before << " " << std::hex << uint32_t(probe(W / 2, H / 2));
    EXPECT_TRUE(NearColor(probe(1, 1), claBlue)) << c.Before;
  }
}

TEST_F(TViewportTest, ThePictureFollowsTheChosenCameraElseTheDesignCamera) {
  AddCube(claRed);
  auto* cam = New<TQuorvelCamera>(Form.get());
  cam->SetParent(Viewport);
  cam->GetPosition()->SetPoint({20, 0, -5});  // looks along +Z, past the cube
  Viewport->SetCamera(cam);
  Tick();
  // A new viewport still uses the design camera.
  EXPECT_EQ(Viewport->GetCurrentCamera(), Viewport->GetDesignCamera());
  EXPECT_TRUE(NearColor(Probe(W / 2, H / 2), claRed));
  Viewport->SetUsingDesignCamera(false);
  EXPECT_EQ(Viewport->GetCurrentCamera(), cam);
  Tick();
  EXPECT_TRUE(NearColor(Probe(W / 2, H / 2), claBlue));
  // Setting the design camera as Camera stores nil.
  Viewport->SetCamera(Viewport->GetDesignCamera());
  EXPECT_EQ(Viewport->GetCamera(), nullptr);
  EXPECT_EQ(Viewport->GetCurrentCamera(), Viewport->GetDesignCamera());
}

TEST_F(TViewportTest, AFrameThatRaisesRestoresEverythingAndTheNextTickDraws) {
  auto* cube = AddCube(claRed);
  auto* ctx = dynamic_cast<TQuorvelContext*>(Viewport->GetContext());
  ASSERT_NE(ctx, nullptr);
  const TBlendSetting blending = ctx->GetGlobalBlending();
  cube->OnDraw = [] { throw Exception("draw failed"); };
  EXPECT_THROW(Tick(), Exception);
  EXPECT_EQ(Viewport->GetLockDepth(), 0);
  EXPECT_EQ(Viewport->GetFixedRendering(), 0);
  EXPECT_FALSE(Viewport->GetDrawing());
  EXPECT_EQ(Viewport->GetCanvas()->GetBeginSceneCount(), 0);
  EXPECT_EQ(TContext3D::GlobalBeginSceneCount(), 0);
  EXPECT_EQ(ctx->GetGlobalBlending().Enabled, blending.Enabled);
  cube->OnDraw = nullptr;
  Tick();
  EXPECT_TRUE(NearColor(Probe(W / 2, H / 2), claRed));
}

TEST_F(TViewportTest, RenderListIsDepthFirstAndOpaqueObjectsDrawBeforeTranslucentOnes) {
  auto* a = AddCube(claRed);
  auto* b = AddCube(claGreen, 1);
  auto* child = New<testkit::TFilledCube>(Form.get());
  child->SetParent(a);
  auto* hiddenParent = AddCube(claRed);
  hiddenParent->SetVisible(false);
  auto* hiddenChild = New<testkit::TFilledCube>(Form.get());
  hiddenChild->SetParent(hiddenParent);
  b->SetOpaque(false);
  std::vector<TObject*> order;
  for (auto* c : {a, b, child, hiddenParent, hiddenChild}) c->OnDraw = [&order, c] { order.push_back(c); };
  Tick();
  const auto& list = Viewport->GetRenderingList();
  // Design objects first (they are the viewport's first child), then the tree depth first; an
  // invisible control is listed, its children are not.
  std::vector<TControl3D*> scene;
  for (TControl3D* c : list)
    if (c->GetTag() != 0xFFFE) scene.push_back(c);
  EXPECT_EQ(scene, (std::vector<TControl3D*>{a, child, b, hiddenParent}));
  EXPECT_EQ(order, (std::vector<TObject*>{a, child, b}));
  // RenderedObjects holds the translucent phase's count: b and the design camera and its
  // target (framework 3D controls are not opaque).
  EXPECT_EQ(Viewport->GetDiagnostics().RenderedObjects, 3);
  // Between BeginUpdate and EndUpdate the list stays empty and no object is drawn.
  order.clear();
  Viewport->BeginUpdate();
  Tick();
  EXPECT_TRUE(order.empty());
  Viewport->EndUpdate();
}

TEST_F(TViewportTest, ARenderThatShrinksTheListNeverReadsPastIt) {
  auto* a = AddCube(claRed);
  auto* b = AddCube(claGreen);
  a->OnDraw = [&] { Free(b); };
  Tick();
  EXPECT_EQ(a->Renders, 1);
  EXPECT_TRUE(std::find(Viewport->GetRenderingList().begin(), Viewport->GetRenderingList().end(), b) ==
              Viewport->GetRenderingList().end());
}

TEST_F(TViewportTest, RenderableRules) {
  auto* qc = AddCube(claRed);
  qc->GetPosition()->SetPoint({1000, 0, 0});  // far outside the view
  auto* plain = New<TControl3D>(Form.get());
  plain->SetParent(Viewport);
  plain->GetPosition()->SetPoint({1000, 0, 0});
  Tick();
  const TQuorvelFrustum frustum = Viewport->GetCurrentFrustum();
  struct Case {
    const char* Name;
    TControl3D* Ctrl;
    bool Culling, CheckFlag, Designing, Expected;
  } cases[] = {
      {"engine object outside, culling", qc, true, true, false, false},
      {"engine object outside, no culling", qc, false, true, false, true},
      {"engine object without its check", qc, true, false, false, true},
      {"engine object at design time", qc, true, true, true, true},
      {"plain control always tested", plain, false, true, false, false},
      {"plain control at design time", plain, false, true, true, false},
      {"the design camera", Viewport->GetDesignCamera(), true, true, false, true},
      {"nil", nullptr, true, true, false, false},
  };
  for (const Case& c : cases) {
    qc->SetFrustumCullingCheck(c.CheckFlag);
    TComponentState state;
    if (c.Designing) state.Include(csDesigning);
    TBoundingBox bounds;
    EXPECT_EQ(TQuorvelRenderingHelper::Renderable(c.Ctrl, frustum, state, bounds, c.Culling, true), c.Expected)
        << c.Name;
  }
  // Invisible: false at run time; at design time only when locked.
  qc->SetFrustumCullingCheck(false);
  qc->SetVisible(false);
  TBoundingBox bounds;
  TComponentState design;
  design.Include(csDesigning);
  EXPECT_FALSE(TQuorvelRenderingHelper::Renderable(qc, frustum, {}, bounds, true, true));
  EXPECT_TRUE(TQuorvelRenderingHelper::Renderable(qc, frustum, design, bounds, true, true));
  qc->SetLocked(true);
  EXPECT_FALSE(TQuorvelRenderingHelper::Renderable(qc, frustum, design, bounds, true, true));
}

TEST_F(TViewportTest, SettingsClampAndSurviveARendererChange) {
  struct Case {
    const char* Name;
    std::function<void()> Set;
    std::function<double()> Get;
    double Expected;
  } cases[] = {
      {"EmissiveBlur 20", [&] { Viewport->SetEmissiveBlur(20); }, [&] { return Viewport->GetEmissiveBlur(); }, 15},
      {"EmissiveBlur -3", [&] { Viewport->SetEmissiveBlur(-3); }, [&] { return Viewport->GetEmissiveBlur(); }, 0},
      {"FXAA 9", [&] { Viewport->SetFXAA(9); }, [&] { return Viewport->GetFXAA(); }, 8},
      {"GlobalIllumSoftness 7", [&] { Viewport->SetGlobalIllumSoftness(7); },
       [&] { return Viewport->GetGlobalIllumSoftness(); }, 5},
      {"ShadowStrength -1", [&] { Viewport->SetShadowStrength(-1); }, [&] { return Viewport->GetShadowStrength(); }, 0},
      {"GlobalIllumDetail 9 unclamped", [&] { Viewport->SetGlobalIllumDetail(9); },
       [&] { return Viewport->GetGlobalIllumDetail(); }, 9},
      {"FixedFrameRate 0 stored as 1", [&] { Viewport->SetFixedFrameRate(0); },
       [&] { return Viewport->GetFixedFrameRate(); }, 1},
  };
  for (const Case& c : cases) {
    c.Set();
    EXPECT_DOUBLE_EQ(c.Get(), c.Expected) << c.Name;
  }
  Viewport->SetMultisample(TMultisample::FourSamples);
  EXPECT_EQ(Viewport->GetMultisample(), TMultisample::TwoSamples);
  Viewport->SetGlobalIllumSoftness(2.5f);
  Viewport->SetShadowStrength(3);
  Viewport->SetSaturation({0.5f, 1, 2});
  Viewport->SetRendererType(TRendererType::ForwardRenderer);
  auto* fwd = dynamic_cast<TForwardRenderer*>(Viewport->GetMainPassRenderer());
  ASSERT_NE(fwd, nullptr);
  EXPECT_FLOAT_EQ(fwd->GetGlobalIllumSoftness(), 2.5f);
  EXPECT_FLOAT_EQ(fwd->GetShadowStrength(), 3);
  EXPECT_EQ(fwd->GetSaturation(), TPoint3D(0.5f, 1, 2));
  EXPECT_EQ(fwd->GetGlobalIllumDetail(), 7);  // the renderer clamps
  EXPECT_EQ(fwd->GetFXAA(), 8);
  EXPECT_EQ(fwd->GetId().rfind("Viewport@", 0), 0u);
}

TEST_F(TViewportTest, AResizeBelowOnePixelIsLoggedAndChangesNothing) {
  TRenderer* renderer = Viewport->GetMainPassRenderer();
  const TBitmap* bitmap = Viewport->GetFrameBitmap();
  TLogCapture log;
  Viewport->SetAlign(TAlignLayout::None);
  Viewport->SetBounds(0, 0, 0, H);
  EXPECT_TRUE(log.Contains("ERROR: Illegal viewport resize(0, 48)")) << ::testing::PrintToString(log.Lines());
  EXPECT_EQ(Viewport->GetMainPassRenderer(), renderer);
  EXPECT_EQ(Viewport->GetFrameBitmap(), bitmap);
  EXPECT_EQ(renderer->GetSize(), TPoint(W, H));
}

TEST_F(TViewportTest, WithoutAContextTheFrameIsSkippedWithItsLogLine) {
  // A viewport of a form too small to render has a renderer but no bitmap before a resize;
  // with the renderer taken away there is no context.
  TOwned<TForm> form(New<TForm>(nullptr));
  auto* vp = New<TQuorvelViewport>(form.get());
  TLogCapture log;
  // Rendering happens only inside a canvas scene; outside one RenderFrame is silent, but the
  // context test comes first.
  vp->SetLockRendering(false);
  if (vp->GetContext() == nullptr) {
    vp->RenderFrame();
    EXPECT_TRUE(log.Contains("rendering aborted - context not assigned"));
  }
  EXPECT_THROW(New<TQuorvelViewport>(nullptr), Exception);
  try {
    New<TQuorvelViewport>(nullptr);
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "owner component not set");
  }
}

TEST_F(TViewportTest, FindParentViewport) {
  auto* cube = AddCube(claRed);
  auto* inner = New<testkit::TFilledCube>(Form.get());
  inner->SetParent(cube);
  EXPECT_EQ(FindParentViewport(cube), Viewport);
  EXPECT_EQ(FindParentViewport(inner), Viewport);
  TOwned<TControl3D> loose(New<TControl3D>(nullptr));
  EXPECT_EQ(FindParentViewport(loose.get()), nullptr);
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

using testkit::NearColor;
using testkit::TViewportTest;

TEST_F(TViewportTest, LightsReachTheContextInRegistrationOrder) {
  TQuorvelLight* lights[3];
  const TAlphaColor colours[3] = {claTomato, claLimegreen, claSlateblue};
  for (int i = 0; i < 3; ++i) {
    lights[i] = New<TQuorvelLight>(Form.get());
    lights[i]->SetColor(colours[i]);
    lights[i]->SetLightType(TLightType::Spot);
    lights[i]->SetSpotCutOff(60);
    lights[i]->SetParent(Viewport);
  }
  auto* plain = New<TLight>(Form.get());
  plain->SetParent(Viewport);
  Tick();
  auto* ctx = dynamic_cast<TQuorvelContext*>(Viewport->GetContext());
  ASSERT_NE(ctx, nullptr);
  const auto& records = ctx->GetShaderLights();
  ASSERT_EQ(records.size(), 4u);
  for (int i = 0; i < 3; ++i) {
    const TQuorvelShaderLight want = lights[i]->GetLightDescriptionEx();
    EXPECT_EQ(std::memcmp(&records[size_t(i)], &want, sizeof want), 0) << i;
  }
  EXPECT_EQ(records[3].Intensity, 1);  // the plain light's description with the record's defaults
  // A freed light leaves the list.
  Free(lights[1]);
  EXPECT_EQ(Viewport->GetLightCount(), 3);
  Tick();
  EXPECT_EQ(ctx->GetShaderLights().size(), 3u);
}

TEST_F(TViewportTest, EditModeSwapsCameraAndCullingAndRestoresThem) {
  auto* cam = New<TQuorvelCamera>(Form.get());
  cam->SetParent(Viewport);
  Viewport->SetCamera(cam);
  Viewport->SetUsingDesignCamera(false);
  Viewport->SetFrustumCulling(true);
  Viewport->ToggleEditMode();
  EXPECT_TRUE(Viewport->GetEditMode());
  EXPECT_TRUE(Viewport->IsUsingDesignCamera());
  EXPECT_FALSE(Viewport->GetFrustumCulling());
  EXPECT_FALSE(Viewport->GetDesignCamera()->GetLocked());
  // Assigning the present value again restores the stored values while the mode stays on.
  Viewport->SetEditMode(true);
  EXPECT_TRUE(Viewport->GetEditMode());
  EXPECT_FALSE(Viewport->IsUsingDesignCamera());
  EXPECT_TRUE(Viewport->GetFrustumCulling());
  Viewport->SetEditMode(false);
  Viewport->ToggleEditMode();
  Viewport->ToggleEditMode();
  EXPECT_FALSE(Viewport->GetEditMode());
  EXPECT_FALSE(Viewport->IsUsingDesignCamera());
  EXPECT_TRUE(Viewport->GetFrustumCulling());
  EXPECT_TRUE(Viewport->GetDesignCamera()->GetLocked());
  // Outside edit mode ResetDesignCamera does nothing; inside it moves the design camera.
  Viewport->GetDesignCamera()->GetPosition()->SetPoint({1, 1, 1});
  Viewport->ResetDesignCamera();
  EXPECT_EQ(Viewport->GetDesignCamera()->GetPosition()->GetPoint(), TPoint3D(1, 1, 1));
  Viewport->SetEditMode(true);
  Viewport->ResetDesignCamera();
  EXPECT_EQ(Viewport->GetDesignCamera()->GetPosition()->GetPoint(), TPoint3D(0, -5, -20));
  EXPECT_EQ(Viewport->GetDesignCamera()->GetName(), "DesignCamera");
  EXPECT_EQ(Viewport->GetDesignCameraController()->GetName(), "DesignCameraTarget");
  EXPECT_EQ(Viewport->GetDesignCameraController()->GetTag(), 0xFFFE);
  EXPECT_FALSE(Viewport->GetDesignCameraController()->GetStored());
}

TEST_F(TViewportTest, TheOverlaysDrawTextOverTheFrame) {
  Viewport->SetColor(claBlack);
  Tick();
  Application->ProcessMessages();
  TOwned<TBitmap> plain(New<TBitmap>());
  ASSERT_TRUE(Form->GetWindowCanvas()->ReadWindowPixels(plain.get()));
  Viewport->SetDiagnosticsActive(true);
  Form->GetWindowCanvas()->Fill().Color = claWhite;  // text in white on the black frame
  Viewport->Repaint();
  Application->ProcessMessages();
  TOwned<TBitmap> withText(New<TBitmap>());
  ASSERT_TRUE(Form->GetWindowCanvas()->ReadWindowPixels(withText.get()));
  // The diagnostics block starts at (16, 16): some of its pixels changed, none above it.
  int changed = 0, changedAbove = 0;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      if (testkit::PixelOf(plain.get(), x, y) != testkit::PixelOf(withText.get(), x, y)) {
        ++changed;
        if (y < 16 || x < 16) ++changedAbove;
      }
  EXPECT_GT(changed, 20);
  EXPECT_EQ(changedAbove, 0);
  EXPECT_EQ(Viewport->GetDiagnostics().DrawCycles, 1);
}

TEST_F(TViewportTest, PaintDrivenAndManualRendering) {
  auto* cube = AddCube(claRed);
  Viewport->SetUseFixedFrameRate(false);
  Viewport->RenderManual();
  EXPECT_EQ(cube->Renders, 1);
  EXPECT_TRUE(NearColor(Probe(W / 2, H / 2), claRed));
  // Manual rendering: ordinary paints render nothing, RenderManual does.
  Viewport->SetManualRendering(true);
  Viewport->Repaint();
  Application->ProcessMessages();
  EXPECT_EQ(cube->Renders, 1);
  Viewport->RenderManual();
  EXPECT_EQ(cube->Renders, 2);
  // LockRendering skips frames silently.
  Viewport->SetLockRendering(true);
  Viewport->RenderManual();
  EXPECT_EQ(cube->Renders, 2);
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

using PickTest = testkit::TViewportTest;

TEST_F(PickTest, TheLowestIndexedChildThatAnswersWinsAndTheRayIsFilled) {
  auto* group = New<TQuorvelTransform>(Form.get());
  group->SetParent(Viewport);
  group->SetHitTest(true);
  testkit::TFilledCube* cubes[2];
  for (auto*& c : cubes) {
    c = New<testkit::TFilledCube>(Form.get());
    c->SetWidth(2);
    c->SetHeight(2);
    c->SetDepth(2);
    c->SetParent(group);
  }
  // Children are asked from the last: the nearer cube at index 0 answers after the one at
  // index 1 and replaces it.
  cubes[0]->GetPosition()->SetZ(-0.5f);
  Tick();
  TControl3D::SetGlobalDistance(65535);
  TControl3D::SetGlobalProjection(TProjection::Camera);
  IControl* result = nullptr;
  TVector3D pos, dir;
  TPoint3D hit;
  const TPointF centre = Viewport->LocalToScreen(TPointF(W / 2.0f, H / 2.0f));
  PickObject(group, result, centre, pos, dir, hit);
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(result->GetObject(), cubes[0]);
  // A control without children is picked itself and fills the ray: the design camera looks
  // along +Z.
  TControl3D::SetGlobalDistance(65535);
  PickObject(cubes[1], result, centre, pos, dir, hit);
  EXPECT_EQ(result ? result->GetObject() : nullptr, cubes[1]);
  EXPECT_NEAR(dir.Z, 1, 0.05);
}

}  // namespace
}  // namespace quorvel
