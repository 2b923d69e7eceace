#pragma once
// A form with a viewport drawing through the legacy renderer on llvmpipe, a test control that
// fills its size box with one colour, and pixel probes of the frame bitmap.
#include <gtest/gtest.h>

#include "framework/gui/Form.h"
#include "framework/rtl/Stopwatch.h"
#include "framework/rtl/Object.h"
#include "lib/context/Context.h"
#include "lib/context/windows/ContextGLESWindows.h"
#include "lib/scene/Camera.h"
#include "lib/scene/Control.h"
#include "lib/scene/Viewport.h"

namespace quorvel::testkit {

// Fills its size box with Fill through the context's colour helper.
class TFilledCube : public TQuorvelControl {
public:
  explicit TFilledCube(TComponent* AOwner) : TQuorvelControl(AOwner) {}
  TAlphaColor Fill = claRed;
  int Renders = 0;
  std::function<void()> OnDraw;
  void Render() override {
    TQuorvelControl::Render();
    ++Renders;
    if (OnDraw) OnDraw();
    GetContext()->FillCube({0, 0, 0}, {GetWidth(), GetHeight(), GetDepth()}, GetOpacity(), Fill);
  }
};

// BGRA bytes of the pixel (x, y), top row first.
inline TAlphaColor PixelOf(const TBitmap* ABitmap, int32_t x, int32_t y) {
  const uint8_t* p = ABitmap->Pixels().data() + (size_t(y) * ABitmap->GetWidth() + x) * 4;
  return MakeAlphaColor(p[2], p[1], p[0], p[3]);
}

inline bool NearColor(TAlphaColor a, TAlphaColor b, int tol = 3) {
  auto ch = [](TAlphaColor c, int s) { return int((uint32_t(c) >> s) & 0xFF); };
  for (int s : {0, 8, 16, 24})
    if (std::abs(ch(a, s) - ch(b, s)) > tol) return false;
  return true;
}

class TViewportTest : public ::testing::Test {
protected:
  static constexpr int32_t W = 64, H = 48;

  void SetUp() override {
    // The shared GL context lives on the platform's hidden window, not on a form that a test
    // frees again.
    TCustomContextWindows::SetWindowHandle(nullptr);
    TCustomContextWindows::CreateSharedContext();
    // On a manual clock the started frame timer never ticks by itself: the tests drive each
    // tick, and paints in between only draw the last frame, as in the running program.
    if (ManualTime) Scoped = std::make_unique<TScopedClock>(Time);
    Form.reset(New<TForm>(nullptr));
    Form->SetClientWidth(W);
    Form->SetClientHeight(H);
    Form->Show();
    Viewport = New<TQuorvelViewport>(Form.get());
    Viewport->SetRendererType(TRendererType::LegacyRenderer);
    Viewport->SetColor(claBlue);
    Viewport->SetUseFixedFrameRate(true);
  }
  void TearDown() override {
    Form.reset();
    Scoped.reset();
  }

  TFilledCube* AddCube(TAlphaColor AFill, float ASize = 2) {
    auto* cube = New<TFilledCube>(Form.get());
    cube->Fill = AFill;
    cube->SetWidth(ASize);
    cube->SetHeight(ASize);
    cube->SetDepth(ASize);
    cube->SetParent(Viewport);
    return cube;
  }
  // One frame through the timer's handler, called directly on the main thread.
  void Tick() { Viewport->DoFixedIntervalTimer(nullptr); }
  TAlphaColor Probe(int32_t x, int32_t y) const { return PixelOf(Viewport->GetFrameBitmap(), x, y); }

  bool ManualTime = true;
  TManualClock Time;
  std::unique_ptr<TScopedClock> Scoped;
  TOwned<TForm> Form;
  TQuorvelViewport* Viewport = nullptr;  // owned by the form
};

}  // namespace quorvel::testkit
