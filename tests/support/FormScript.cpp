#include "tests/support/FormScript.h"

#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <cmath>

#include "framework/gui/Application.h"
#include "framework/gui/Bitmap.h"
#include "framework/gui/Canvas.h"

namespace quorvel::testkit {

namespace {

void Push(SDL_Event AEvent) { EXPECT_EQ(SDL_PushEvent(&AEvent), 1) << SDL_GetError(); }

SDL_Event Button(TForm* AForm, bool ADown, const TPointF& P) {
  SDL_Event e{};
  e.type = ADown ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
  e.button.windowID = AForm->GetWindow()->WindowID();
  e.button.button = SDL_BUTTON_LEFT;
  e.button.state = ADown ? SDL_PRESSED : SDL_RELEASED;
  e.button.clicks = 1;
  e.button.x = int(std::lround(P.X));
  e.button.y = int(std::lround(P.Y));
  return e;
}

}  // namespace

void ClickAt(TForm* AForm, const TPointF& APoint) {
  Push(Button(AForm, true, APoint));
  Push(Button(AForm, false, APoint));
}

void ClickOn(TControl* AControl) {
  TForm* form = AControl->GetParentForm();
  ASSERT_NE(form, nullptr) << AControl->GetName() << " is on no form";
  const TRectF r = AControl->GetAbsoluteRect();
  ClickAt(form, TPointF(std::floor((r.Left + r.Right) / 2), std::floor((r.Top + r.Bottom) / 2)));
}

void WheelAt(TForm* AForm, const TPointF& APoint, int ANotches) {
  SDL_Event motion{};
  motion.type = SDL_MOUSEMOTION;
  motion.motion.windowID = AForm->GetWindow()->WindowID();
  motion.motion.x = int(std::lround(APoint.X));
  motion.motion.y = int(std::lround(APoint.Y));
  Push(motion);
  SDL_Event wheel{};
  wheel.type = SDL_MOUSEWHEEL;
  wheel.wheel.windowID = AForm->GetWindow()->WindowID();
  wheel.wheel.y = ANotches;
  Push(wheel);
}

void PressCloseBox(TForm* AForm) {
  SDL_Event e{};
  e.type = SDL_WINDOWEVENT;
  e.window.windowID = AForm->GetWindow()->WindowID();
  e.window.event = SDL_WINDOWEVENT_CLOSE;
  Push(e);
}

TFormScript::TFormScript(std::vector<std::function<void()>> ASteps) : FSteps(std::move(ASteps)) {
  FHandle = GetApplication().AddTickHandler([this] {
    if (FNext < FSteps.size()) FSteps[FNext++]();
  });
}

TFormScript::~TFormScript() { GetApplication().RemoveTickHandler(FHandle); }

namespace {

// BGRA rows top-down into RGBA rows bottom-up.
std::vector<TRGBA8> BottomUp(const TBitmap& ABitmap, bool AOpaque) {
  const int32_t w = ABitmap.GetWidth(), h = ABitmap.GetHeight();
  std::vector<TRGBA8> pixels(size_t(w) * size_t(h));
  const uint8_t* p = ABitmap.Pixels().data();
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const uint8_t* s = p + (size_t(y) * size_t(w) + size_t(x)) * 4;
      pixels[size_t(h - 1 - y) * size_t(w) + size_t(x)] = TRGBA8{s[2], s[1], s[0], AOpaque ? uint8_t(255) : s[3]};
    }
  return pixels;
}

}  // namespace

std::vector<TRGBA8> PaintForm(TForm* AForm) {
  AForm->Show();
  AForm->PaintScene();
  TOwned<TBitmap> shot(New<TBitmap>());
  EXPECT_TRUE(AForm->GetWindowCanvas()->ReadWindowPixels(shot.get()));
  return BottomUp(*shot, true);
}

std::vector<TRGBA8> PaintControl(TControl* AControl, TAlphaColor AFill) {
  const int32_t w = int32_t(std::ceil(AControl->GetWidth())), h = int32_t(std::ceil(AControl->GetHeight()));
  TOwned<TBitmap> bitmap(New<TBitmap>(w, h));
  TCanvas* canvas = bitmap->GetCanvas();
  if (canvas->BeginScene()) {
    canvas->Clear(AFill);
    canvas->EndScene();
  }
  AControl->PaintTo(canvas, TRectF(0, 0, float(w), float(h)));
  return BottomUp(*bitmap, false);
}

}  // namespace quorvel::testkit
