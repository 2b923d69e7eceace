// The viewport's projection of world points, its high-resolution frame size and its smoothing
// switch, on real frames (llvmpipe).
#include <gtest/gtest.h>

#include <cmath>

#include "tests/scene/SceneTestSupport.h"

namespace quorvel {
namespace {

using testkit::NearColor;
using testkit::TViewportTest;

TEST_F(TViewportTest, WorldToScreenFollowsTheCameraInUseAndMatchesThePicture) {
  auto* cube = AddCube(claRed, 1);
  cube->GetPosition()->SetPoint({2, 0, 0});
  Tick();
  // The cube's centre, projected through the design camera, is where the picture shows it.
  const TPointF design = Viewport->WorldToScreen({2, 0, 0});
  ASSERT_GT(design.X, W / 2 + 2);  // +X is to the right of the centre
  EXPECT_NEAR(design.Y, H / 2, 1);
  EXPECT_TRUE(NearColor(Probe(int32_t(std::lround(design.X)), int32_t(std::lround(design.Y))), claRed))
      << design.X << "," << design.Y;
  EXPECT_TRUE(NearColor(Probe(W / 2, H / 2), claBlue));
  const TPointF origin = Viewport->WorldToScreen({0, 0, 0});
  EXPECT_NEAR(origin.X, W / 2, 0.5);
  EXPECT_NEAR(origin.Y, H / 2, 0.5);

  // A camera of its own: used only once the design camera is off.
  auto* cam = New<TQuorvelCamera>(Form.get());
  cam->SetParent(Viewport);
  cam->GetPosition()->SetPoint({2, 0, -10});  // looks along +Z at the cube
  Viewport->SetCamera(cam);
  const TPointF still = Viewport->WorldToScreen({2, 0, 0});
  EXPECT_FLOAT_EQ(still.X, design.X);
  EXPECT_FLOAT_EQ(still.Y, design.Y);
  Viewport->SetUsingDesignCamera(false);
  Tick();
  const TPointF own = Viewport->WorldToScreen({2, 0, 0});
  EXPECT_NEAR(own.X, W / 2, 0.5);
  EXPECT_NEAR(own.Y, H / 2, 0.5);
  EXPECT_TRUE(NearColor(Probe(W / 2, H / 2), claRed));

  // Without the camera it needs: (0, 0).
  Viewport->SetCamera(nullptr);
  const TPointF none = Viewport->WorldToScreen({2, 0, 0});
  EXPECT_EQ(none.X, 0);
  EXPECT_EQ(none.Y, 0);
}

// A form whose scene is drawn at twice its logical size (a high-density display).
class TScaledForm : public TForm {
public:
  explicit TScaledForm(TComponent* AOwner) : TForm(AOwner) {}
  float GetSceneScale() const override { return 2; }
};

// A W x H legacy viewport clearing to blue on a scaled form, with a red cube in it.
struct TScaledScene {
  TOwned<TScaledForm> Form{New<TScaledForm>(nullptr)};
  TQuorvelViewport* Viewport = nullptr;
  testkit::TFilledCube* Cube = nullptr;
  TScaledScene(int32_t AWidth, int32_t AHeight) {
    Form->SetClientWidth(AWidth);
    Form->SetClientHeight(AHeight);
    Viewport = New<TQuorvelViewport>(Form.get());
    Viewport->SetRendererType(TRendererType::LegacyRenderer);
    Viewport->SetColor(claBlue);
    Viewport->SetWidth(AWidth);
    Viewport->SetHeight(AHeight);
    Cube = New<testkit::TFilledCube>(Form.get());
    Cube->SetParent(Viewport);
  }
};

TEST_F(TViewportTest, AHighResViewportRendersAtTheFormsScale) {
  TScaledScene scene(W, H);
  TQuorvelViewport* viewport = scene.Viewport;
  EXPECT_FLOAT_EQ(viewport->GetViewportScale(), 1);
  viewport->DoFixedIntervalTimer(nullptr);
  EXPECT_EQ(viewport->GetFrameBitmap()->GetWidth(), W);

  viewport->SetHighRes(true);
  EXPECT_TRUE(viewport->GetHighRes());
  EXPECT_FLOAT_EQ(viewport->GetViewportScale(), 2);
  viewport->DoFixedIntervalTimer(nullptr);
  const TBitmap* frame = viewport->GetFrameBitmap();
  ASSERT_EQ(frame->GetWidth(), 2 * W);
  ASSERT_EQ(frame->GetHeight(), 2 * H);
  // The same picture, twice as fine: the cube in the middle, the clear colour at the corners.
  EXPECT_TRUE(NearColor(testkit::PixelOf(frame, W, H), claRed));
  EXPECT_TRUE(NearColor(testkit::PixelOf(frame, 2, 2), claBlue));
  EXPECT_TRUE(NearColor(testkit::PixelOf(frame, 2 * W - 3, 2 * H - 3), claBlue));

  viewport->SetHighRes(false);
  viewport->DoFixedIntervalTimer(nullptr);
  EXPECT_EQ(viewport->GetFrameBitmap()->GetWidth(), W);
}

// A renderer made again at run time draws at once (it prepares its targets itself) and at the
// size and scale of the frame it fills: made at the logical size, a high-resolution viewport
// would show a coarse picture stretched over its frame until the next resize.
TEST_F(TViewportTest, ARendererMadeAgainAtRunTimeDrawsAtTheSizeOfTheFrame) {
  TScaledScene scene(W, H);
  TQuorvelViewport* viewport = scene.Viewport;
  viewport->SetHighRes(true);
  viewport->DoFixedIntervalTimer(nullptr);
  for (TRendererType type : {TRendererType::ForwardRenderer, TRendererType::LegacyRenderer}) {
    viewport->SetRendererType(type);
    EXPECT_EQ(viewport->GetMainPassRenderer()->GetSize(), TPoint(2 * W, 2 * H)) << int(type);
    EXPECT_FLOAT_EQ(viewport->GetMainPassRenderer()->GetScale(), 2) << int(type);
    viewport->DoFixedIntervalTimer(nullptr);
    const TBitmap* frame = viewport->GetFrameBitmap();
    ASSERT_EQ(frame->GetWidth(), 2 * W);
    EXPECT_TRUE(NearColor(testkit::PixelOf(frame, W, H), claRed)) << int(type);
    for (const TPoint& p : {TPoint(2, 2), TPoint(2 * W - 3, 2 * H - 3), TPoint(2 * W - 3, 2)})
      EXPECT_TRUE(NearColor(testkit::PixelOf(frame, p.X, p.Y), claBlue))
          << int(type) << " at " << p.X << "," << p.Y << ": " << std::hex << uint32_t(testkit::PixelOf(frame, p.X, p.Y));
  }
}

TEST_F(TViewportTest, AScreenshotOfAScaledFormIsTheFrame) {
  TScaledScene scene(W, H);
  TQuorvelViewport* viewport = scene.Viewport;
  viewport->SetHighRes(true);
  // A cube off the middle, so that a shifted or cropped copy shows.
  scene.Cube->GetPosition()->SetPoint({0.5f, 0, 0});
  viewport->DoFixedIntervalTimer(nullptr);
  const TBitmap* frame = viewport->GetFrameBitmap();
  ASSERT_EQ(frame->GetWidth(), 2 * W);
  TOwned<TBitmap> shot(viewport->MakeScreenshot());
  ASSERT_EQ(shot->GetWidth(), 2 * W);
  ASSERT_EQ(shot->GetHeight(), 2 * H);
  EXPECT_FLOAT_EQ(shot->GetBitmapScale(), 2);
  const struct {
    int32_t X, Y;
  } probes[] = {{W, H}, {2, 2}, {2 * W - 3, 2}, {2, 2 * H - 3}, {2 * W - 3, 2 * H - 3}, {W + W / 2, H}};
  for (const auto& p : probes)
    EXPECT_TRUE(NearColor(testkit::PixelOf(shot.get(), p.X, p.Y), testkit::PixelOf(frame, p.X, p.Y), 8))
        << p.X << "," << p.Y << ": " << std::hex << uint32_t(testkit::PixelOf(shot.get(), p.X, p.Y)) << " vs "
        << uint32_t(testkit::PixelOf(frame, p.X, p.Y));
  EXPECT_TRUE(NearColor(testkit::PixelOf(shot.get(), W, H), claRed));
}

TEST_F(TViewportTest, SmoothSwitchesTheContextsSmoothingOnAndOff) {
  Tick();
  auto* ctx = dynamic_cast<TQuorvelContext*>(Viewport->GetContext());
  ASSERT_NE(ctx, nullptr);
  EXPECT_FALSE(Viewport->GetSmooth());
  Viewport->SetSmooth(true);
  EXPECT_TRUE(Viewport->GetSmooth());
  EXPECT_EQ(ctx->GetSmoothTargets(), TSmoothSetting::Create().Targets);
  Tick();  // a frame with smoothing on still draws
  EXPECT_TRUE(NearColor(Probe(1, 1), claBlue));
  Viewport->SetSmooth(false);
  EXPECT_FALSE(Viewport->GetSmooth());
  EXPECT_TRUE(ctx->GetSmoothTargets().IsEmpty());
}

}  // namespace
}  // namespace quorvel
