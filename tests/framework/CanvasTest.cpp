// TCanvas: scenes and the global lock, bitmap drawing with opacity and straight alpha, the
// canvas-class hooks, and a form's window canvas that reads back through SDL's window
// surface while the engine's GL context stays current (headless, and under xvfb-run).
#include <SDL2/SDL.h>
#include <epoxy/gl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <limits>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <vector>

#include "framework/gui/Application.h"
#include "framework/gui/Canvas.h"
#include "framework/gui/Form.h"
#include "framework/platform/Platform.h"
#include "tests/support/ChildRun.h"
#include "tests/support/GLTestSupport.h"

namespace quorvel {
namespace {

struct TBgra {
  int B, G, R, A;
};

TBgra PixelAt(const TBitmap& bitmap, int x, int y) {
  const uint8_t* p = bitmap.Pixels().data() + (size_t(y) * bitmap.GetWidth() + x) * 4;
  return {p[0], p[1], p[2], p[3]};
}

void ExpectPixel(const TBitmap& bitmap, int x, int y, TBgra e, int tolerance = 1) {
  const TBgra p = PixelAt(bitmap, x, y);
  EXPECT_TRUE(std::abs(p.B - e.B) <= tolerance && std::abs(p.G - e.G) <= tolerance &&
              std::abs(p.R - e.R) <= tolerance && std::abs(p.A - e.A) <= tolerance)
      << "at " << x << "," << y << ": got BGRA " << p.B << "," << p.G << "," << p.R << "," << p.A << " expected "
      << e.B << "," << e.G << "," << e.R << "," << e.A;
}

// 2x1: opaque red | blue with alpha 128.
TOwned<TBitmap> RedAndHalfBlue() {
  TOwned<TBitmap> bitmap(New<TBitmap>(2, 1));
  TBitmapData data;
  bitmap->Map(TMapAccess::Write, data);
  data.SetPixel(0, 0, MakeAlphaColor(255, 0, 0, 255));
  data.SetPixel(1, 0, MakeAlphaColor(0, 0, 255, 128));
  bitmap->Unmap(data);
  return bitmap;
}

TEST(Canvas, DrawBitmapCopiesBlendsAndScalesWithStraightAlpha) {
  TOwned<TBitmap> source = RedAndHalfBlue();
  TOwned<TBitmap> target(New<TBitmap>(8, 4));
  TCanvas* canvas = target->GetCanvas();
  ASSERT_TRUE(canvas->BeginScene());
  canvas->Clear(MakeAlphaColor(255, 255, 255, 255));
  // Row 0, 1:1 at full opacity: red copied exactly, half blue blended over white.
  canvas->DrawBitmap(source.get(), source->GetBoundsF(), TRectF(0, 0, 2, 1), 1, true);
  // Row 1 at half opacity: red over white at 50 %.
  canvas->DrawBitmap(source.get(), TRectF(0, 0, 1, 1), TRectF(0, 1, 1, 2), 0.5f, true);
  // Rows 2-3, columns 4-7: stretched 2x in both directions, nearest sampling.
  canvas->DrawBitmap(source.get(), source->GetBoundsF(), TRectF(4, 2, 8, 4), 1, true);
  // Opacity outside 0..1 is clamped; a null bitmap draws nothing.
  canvas->DrawBitmap(source.get(), TRectF(0, 0, 1, 1), TRectF(2, 0, 3, 1), 7, true);
  canvas->DrawBitmap(nullptr, TRectF(0, 0, 1, 1), TRectF(3, 0, 4, 1), 1, true);
  canvas->EndScene();

  ExpectPixel(*target, 0, 0, {0, 0, 255, 255}, 0);
  ExpectPixel(*target, 1, 0, {255, 127, 127, 255});
  ExpectPixel(*target, 0, 1, {128, 128, 255, 255});
  ExpectPixel(*target, 1, 1, {255, 255, 255, 255}, 0);
  for (int y = 2; y < 4; ++y) {
    ExpectPixel(*target, 4, y, {0, 0, 255, 255}, 0);
    ExpectPixel(*target, 5, y, {0, 0, 255, 255}, 0);
    ExpectPixel(*target, 6, y, {255, 127, 127, 255});
    ExpectPixel(*target, 7, y, {255, 127, 127, 255});
  }
  ExpectPixel(*target, 2, 0, {0, 0, 255, 255}, 0);
  ExpectPixel(*target, 3, 0, {255, 255, 255, 255}, 0);
}

TEST(Canvas, TransparentTargetKeepsStraightColoursAndClipsSafely) {
  TOwned<TBitmap> source = RedAndHalfBlue();
  // Over transparent pixels the colour stays blue (no darkening); only alpha is partial.
  TOwned<TBitmap> fresh(New<TBitmap>(2, 1));
  ASSERT_TRUE(fresh->GetCanvas()->BeginScene());
  fresh->GetCanvas()->DrawBitmap(source.get(), source->GetBoundsF(), fresh->GetBoundsF(), 1, true);
  fresh->GetCanvas()->EndScene();
  ExpectPixel(*fresh, 1, 0, {255, 0, 0, 128}, 0);

  // Rectangles reaching past the target and the source are clipped: no overrun (ASan).
  TOwned<TBitmap> target(New<TBitmap>(4, 4));
  TCanvas* canvas = target->GetCanvas();
  ASSERT_TRUE(canvas->BeginScene());
  canvas->DrawBitmap(source.get(), TRectF(-5, -5, 10, 10), TRectF(-100, -100, 3, 3), 1, false);
  canvas->DrawBitmap(source.get(), TRectF(-5, -5, 10, 10), TRectF(-100, -100, 3, 3), 1, true);
  canvas->DrawBitmap(source.get(), source->GetBoundsF(), TRectF(3, 3, 1000, 1000), 1, false);
  canvas->DrawBitmap(source.get(), source->GetBoundsF(), TRectF(2, 2, 2, 9), 1, false);  // empty
  canvas->DrawBitmap(source.get(), TRectF(1, 0, 1, 1), TRectF(0, 0, 4, 4), 1, false);    // empty source
  // Absurd coordinates draw nothing rather than converting out of range.
  const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
  canvas->DrawBitmap(source.get(), TRectF(-inf, 0, 2, 1), TRectF(0, 0, 4, 4), 1, false);
  canvas->DrawBitmap(source.get(), source->GetBoundsF(), TRectF(-inf, 0, 4, 4), 1, true);
  canvas->DrawBitmap(source.get(), source->GetBoundsF(), TRectF(nan, 0, 4, 4), 1, true);
  canvas->DrawBitmap(source.get(), TRectF(0, 0, 2, 1), TRectF(-3e38f, -3e38f, 3e38f, 3e38f), nan, false);
  canvas->DrawBitmap(source.get(), TRectF(-3e38f, 0, 3e38f, 1), TRectF(1, 3, 2, 4), 1, false);
  canvas->FillRect(TRectF(-inf, -inf, inf, inf), claRed);
  canvas->EndScene();
  ExpectPixel(*target, 3, 3, {0, 0, 255, 255}, 0);  // the red left half lands in the corner
  ExpectPixel(*target, 0, 3, {0, 0, 0, 0}, 0);      // the empty draws left the rest alone
}

TEST(Canvas, BilinearScalingWeighsByAlpha) {
  // Opaque green next to fully transparent red: the blend towards the edge must fade alpha
  // while the colour stays green (a premultiplication fault would bring in red or black).
  TOwned<TBitmap> source(New<TBitmap>(2, 1));
  TBitmapData data;
  source->Map(TMapAccess::Write, data);
  data.SetPixel(0, 0, MakeAlphaColor(0, 255, 0, 255));
  data.SetPixel(1, 0, MakeAlphaColor(255, 0, 0, 0));
  source->Unmap(data);
  TOwned<TBitmap> target(New<TBitmap>(8, 1));
  ASSERT_TRUE(target->GetCanvas()->BeginScene());
  target->GetCanvas()->DrawBitmap(source.get(), source->GetBoundsF(), target->GetBoundsF(), 1, false);
  target->GetCanvas()->EndScene();
  int previousAlpha = 256;
  for (int x = 0; x < 8; ++x) {
    const TBgra p = PixelAt(*target, x, 0);
    if (p.A > 0) {
      EXPECT_EQ(p.G, 255) << x;
      EXPECT_EQ(p.R, 0) << x;
    }
    EXPECT_LE(p.A, previousAlpha) << x;
    previousAlpha = p.A;
  }
  EXPECT_EQ(PixelAt(*target, 0, 0).A, 255);
  EXPECT_EQ(PixelAt(*target, 7, 0).A, 0);
}

TEST(Canvas, ScenesNestHoldTheGlobalLockAndGuardDrawing) {
  TOwned<TBitmap> target(New<TBitmap>(2, 2));
  int changes = 0;
  target->OnChange = [&](TObject*) { ++changes; };
  TCanvas* canvas = target->GetCanvas();
  EXPECT_THROW(canvas->Clear(claRed), EInvalidOperation) << "drawing needs a scene";
  canvas->EndScene();  // without a scene: nothing
  EXPECT_EQ(canvas->GetBeginSceneCount(), 0);

  ASSERT_TRUE(canvas->BeginScene());
  ASSERT_TRUE(canvas->BeginScene());
  EXPECT_EQ(canvas->GetBeginSceneCount(), 2);
  // Another thread cannot take the canvas lock while a scene is open.
  EXPECT_FALSE(std::async(std::launch::async, [] {
                 const bool locked = TCanvas::TryLock();
                 if (locked) TCanvas::Unlock();
                 return locked;
               }).get());
  canvas->Clear(claRed);
  canvas->EndScene();
  EXPECT_EQ(changes, 0) << "the bitmap changes when the outermost scene ends";
  canvas->EndScene();
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(canvas->GetBeginSceneCount(), 0);
  EXPECT_TRUE(std::async(std::launch::async, [] {
                const bool locked = TCanvas::TryLock();
                if (locked) TCanvas::Unlock();
                return locked;
              }).get());
  ExpectPixel(*target, 1, 1, {0, 0, 255, 255}, 0);

  // An empty bitmap gives no scene and holds no lock.
  TOwned<TBitmap> empty(New<TBitmap>());
  EXPECT_FALSE(empty->GetCanvas()->BeginScene());
  EXPECT_TRUE(std::async(std::launch::async, [] {
                const bool locked = TCanvas::TryLock();
                if (locked) TCanvas::Unlock();
                return locked;
              }).get());
}

class TRecordingCanvasClass : public TCanvasClass {
public:
  TCanvasStyles GetCanvasStyle() const override { return {TCanvasStyle::NeedGPUSurface}; }
  TBitmapHandle InitializeBitmap(int32_t Width, int32_t Height, float Scale, TPixelFormat& PixelFormat) const override {
    Made.push_back({Width, Height, Scale});
    PixelFormat = TPixelFormat::RGBA;
    return 0x1000 + Made.size();
  }
  void FinalizeBitmap(TBitmapHandle& Handle) const override {
    Freed.push_back(Handle);
    Handle = 0;
  }
  struct TMade {
    int32_t Width, Height;
    float Scale;
  };
  mutable std::vector<TMade> Made;
  mutable std::vector<TBitmapHandle> Freed;
};

TEST(Canvas, CanvasClassMakesAndFreesBitmapHandles) {
  EXPECT_FALSE(TCanvas::GetCanvasStyle().Contains(TCanvasStyle::NeedGPUSurface)) << "the software canvas";
  EXPECT_GE(TCanvas::GetAttribute(TCanvasAttribute::MaxBitmapSize), 4096);
  TRecordingCanvasClass recording;
  SetDefaultCanvasClass(&recording);
  {
    TOwned<TBitmap> bitmap(New<TBitmap>(5, 3));
    EXPECT_TRUE(TCanvas::GetCanvasStyle().Contains(TCanvasStyle::NeedGPUSurface));
    ASSERT_EQ(recording.Made.size(), 1u);
    EXPECT_EQ(recording.Made[0].Width, 5);
    EXPECT_EQ(recording.Made[0].Height, 3);
    EXPECT_EQ(bitmap->GetHandle(), 0x1001u);
    EXPECT_EQ(bitmap->GetPixelFormat(), TPixelFormat::RGBA) << "the canvas class may adjust the format";
    bitmap->SetSize(6, 3);  // a new size, a new handle
    EXPECT_EQ(recording.Freed, (std::vector<TBitmapHandle>{0x1001}));
    EXPECT_EQ(bitmap->GetHandle(), 0x1002u);
  }
  EXPECT_EQ(recording.Freed, (std::vector<TBitmapHandle>{0x1001, 0x1002}));
  SetDefaultCanvasClass(nullptr);
  EXPECT_FALSE(TCanvas::GetCanvasStyle().Contains(TCanvasStyle::NeedGPUSurface));
}

// ---- A form's window canvas --------------------------------------------------------------

// Paints a bitmap over its whole local rectangle.
class TBitmapControl : public TControl {
public:
  using TControl::TControl;
  TBitmap* Picture = nullptr;
  int Paints = 0;

protected:
  void Paint() override {
    ++Paints;
    GetCanvas()->DrawBitmap(Picture, Picture->GetBoundsF(), GetLocalRect(), GetAbsoluteOpacity(), true);
  }
};

// The window surface as BGRA, read through SDL directly (not through the canvas).
TOwned<TBitmap> ReadSurface(TForm& form) {
  SDL_Surface* surface = SDL_GetWindowSurface(form.GetWindow()->Window());
  EXPECT_NE(surface, nullptr) << SDL_GetError();
  TOwned<TBitmap> result(New<TBitmap>());
  if (surface == nullptr) return result;
  std::vector<uint8_t> pixels(size_t(surface->w) * surface->h * 4);
  EXPECT_EQ(SDL_ConvertPixels(surface->w, surface->h, surface->format->format, surface->pixels, surface->pitch,
                              SDL_PIXELFORMAT_ARGB8888, pixels.data(), surface->w * 4),
            0);
  result->SetSize(surface->w, surface->h);
  TBitmapData data;
  result->Map(TMapAccess::Write, data);
  std::copy(pixels.begin(), pixels.end(), static_cast<uint8_t*>(data.Data));
  result->Unmap(data);
  return result;
}

void ExpectFormCanvasDrawsAndKeepsContext() {
  TGLTestContext gl;
  const HGLRC before = wglGetCurrentContext();
  const SDL_GLContext sdlBefore = SDL_GL_GetCurrentContext();
  ASSERT_NE(before, nullptr);

  TOwned<TForm> form(New<TForm>(nullptr));
  form->SetClientWidth(64);
  form->SetClientHeight(48);
  form->SetFill(claWhite);
  TOwned<TBitmap> picture = RedAndHalfBlue();
  auto* control = New<TBitmapControl>(form.get());
  control->Picture = picture.get();
  control->SetParent(form.get());
  control->SetBounds(8, 8, 32, 16);
  form->Show();
  Application->ProcessMessages();  // the form paints at the message pass
  EXPECT_GE(control->Paints, 1);
  EXPECT_FALSE(form->GetNeedsPaint());

  TOwned<TBitmap> shown = ReadSurface(*form);
  ASSERT_EQ(shown->GetWidth(), 64);
  ASSERT_EQ(shown->GetHeight(), 48);
  ExpectPixel(*shown, 2, 2, {255, 255, 255, 255}, 0);   // the form's fill
  ExpectPixel(*shown, 10, 12, {0, 0, 255, 255}, 0);     // red half of the picture
  ExpectPixel(*shown, 38, 20, {255, 127, 127, 255});    // blue at alpha 128 over white
  ExpectPixel(*shown, 45, 30, {255, 255, 255, 255}, 0);
  // The canvas's own read-back agrees.
  TOwned<TBitmap> readBack(New<TBitmap>());
  ASSERT_TRUE(form->GetWindowCanvas()->ReadWindowPixels(readBack.get()));
  EXPECT_EQ(readBack->Pixels(), shown->Pixels());

  // Repaint with a lower opacity shows at the next pass.
  control->SetOpacity(0.5f);
  EXPECT_TRUE(form->GetNeedsPaint());
  Application->ProcessMessages();
  ExpectPixel(*ReadSurface(*form), 10, 12, {128, 128, 255, 255});

  // The engine's context is still current, and still draws.
  EXPECT_EQ(wglGetCurrentContext(), before);
  EXPECT_EQ(SDL_GL_GetCurrentContext(), sdlBefore);
  TGLTestFramebuffer fbo(4, 4);
  glClearColor(0, 1, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  EXPECT_TRUE(NearColor(fbo.Pixel(1, 1), TRGBA8{0, 255, 0, 255}));
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(FormCanvas, DrawsBitmapsThatReadBackAndLeavesTheGLContextCurrent) {
  PlatformInitialize();
  ExpectFormCanvasDrawsAndKeepsContext();
}

// Runs only inside the X server that the next test starts.
TEST(FormCanvasXvfbChild, RealX11Window) {
  if (std::getenv("QUORVEL_IN_XVFB") == nullptr) GTEST_SKIP() << "run by FormCanvasXvfb";
  PlatformInitialize();
  ASSERT_STREQ(SDL_GetCurrentVideoDriver(), "x11");
  ExpectFormCanvasDrawsAndKeepsContext();
  PlatformShutdown();
}

TEST(FormCanvasXvfb, SameUnderXvfbRun) {
  if (!testkit::HasCommand("xvfb-run")) GTEST_SKIP() << "xvfb-run is not installed";
  const testkit::TChildRun run = testkit::RunSelf("QUORVEL_IN_XVFB=1 SDL_VIDEODRIVER=x11 xvfb-run -a", "FormCanvasXvfbChild.*");
  const std::string& output = run.Output;
  ASSERT_TRUE(WIFEXITED(run.Status)) << output;
  EXPECT_EQ(WEXITSTATUS(run.Status), 0) << output;
  EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
}

}  // namespace
}  // namespace quorvel
