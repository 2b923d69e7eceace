// Text and outlines of the software canvas: FreeType glyphs from DejaVu Sans, aligned and
// wrapped in their rectangle, clipped to it; dashed and stroked rectangles.
#include <gtest/gtest.h>

#include "framework/gui/Canvas.h"
#include "framework/gui/TimerService.h"
#include "framework/rtl/Stopwatch.h"

namespace quorvel {
namespace {

// The bounding box of the pixels that differ from ABackground (empty: Right < Left).
TRect Inked(const TBitmap& ABitmap, TAlphaColor ABackground) {
  TRect r(ABitmap.GetWidth(), ABitmap.GetHeight(), -1, -1);
  const uint8_t* px = ABitmap.Pixels().data();
  for (int y = 0; y < ABitmap.GetHeight(); ++y)
    for (int x = 0; x < ABitmap.GetWidth(); ++x) {
      const uint8_t* p = px + (size_t(y) * ABitmap.GetWidth() + x) * 4;
      if (MakeAlphaColor(p[2], p[1], p[0], p[3]) == ABackground) continue;
      r.Left = std::min(r.Left, x);
      r.Top = std::min(r.Top, y);
      r.Right = std::max(r.Right, x);
      r.Bottom = std::max(r.Bottom, y);
    }
  return r;
}

TOwned<TBitmap> Blank(int W, int H) {
  TOwned<TBitmap> b(New<TBitmap>());
  b->SetSize(W, H);
  b->Clear(claBlack);
  return b;
}

TEST(CanvasText, AlignsWrapsAndClipsInItsRectangle) {
  struct Case {
    const char* Name;
    TTextAlign H, V;
    bool Wrap;
    const char* Text;
    // Expectations on the inked box within the rectangle (10, 10, 190, 90).
    std::function<void(const TRect&)> Check;
  } cases[] = {
      {"leading/leading", TTextAlign::Leading, TTextAlign::Leading, false, "Hello",
       [](const TRect& r) {
         EXPECT_LE(r.Left, 13);
         EXPECT_LE(r.Top, 16);
       }},
      {"trailing/trailing", TTextAlign::Trailing, TTextAlign::Trailing, false, "Hello",
       [](const TRect& r) {
         EXPECT_GE(r.Right, 185);
         EXPECT_GE(r.Bottom, 80);
       }},
      {"centre/centre", TTextAlign::Center, TTextAlign::Center, false, "Hello",
       [](const TRect& r) {
         EXPECT_NEAR((r.Left + r.Right) / 2.0, 100, 3);
         EXPECT_NEAR((r.Top + r.Bottom) / 2.0, 50, 4);
       }},
      {"two lines by CR LF", TTextAlign::Leading, TTextAlign::Leading, false, "Hello\r\nWorld",
       [](const TRect& r) { EXPECT_GE(r.Height(), 20); }},
      {"word wrap", TTextAlign::Leading, TTextAlign::Leading, true,
       "one two three four five six seven eight nine ten",
       [](const TRect& r) {
         EXPECT_LE(r.Right, 190);
         EXPECT_GE(r.Height(), 20);
       }},
      {"clipped without wrap", TTextAlign::Leading, TTextAlign::Leading, false,
       "one two three four five six seven eight nine ten",
       [](const TRect& r) { EXPECT_LE(r.Right, 190); }},
  };
  for (const Case& c : cases) {
    TOwned<TBitmap> b = Blank(200, 100);
    TBitmapCanvas canvas(b.get());
    ASSERT_TRUE(canvas.BeginScene());
    canvas.Fill().Color = claWhite;
    canvas.FillText(TRectF(10, 10, 190, 90), c.Text, c.Wrap, 1, {}, c.H, c.V);
    canvas.EndScene();
    const TRect r = Inked(*b, claBlack);
    ASSERT_LE(r.Left, r.Right) << c.Name << ": nothing drawn";
    EXPECT_GE(r.Left, 10) << c.Name;
    EXPECT_GE(r.Top, 10) << c.Name;
    EXPECT_LT(r.Bottom, 90) << c.Name;
    SCOPED_TRACE(c.Name);
    c.Check(r);
  }
}

TEST(CanvasText, OpacityNothingAndOutsideTheTarget) {
  TOwned<TBitmap> b = Blank(40, 20);
  TBitmapCanvas canvas(b.get());
  ASSERT_TRUE(canvas.BeginScene());
  canvas.Fill().Color = claWhite;
  canvas.FillText(TRectF(0, 0, 40, 20), "X", false, 0, {}, TTextAlign::Center, TTextAlign::Center);
  canvas.FillText(TRectF(0, 0, 40, 20), "", false, 1, {}, TTextAlign::Center, TTextAlign::Center);
  canvas.FillText(TRectF(-1000, -1000, -900, -900), "far away", false, 1, {}, TTextAlign::Leading);
  canvas.FillText(TRectF(0, 0, std::nanf(""), 20), "nan", false, 1, {}, TTextAlign::Leading);
  canvas.EndScene();
  const TRect r = Inked(*b, claBlack);
  EXPECT_GT(r.Left, r.Right);  // nothing drawn
  EXPECT_THROW(canvas.FillText(TRectF(0, 0, 40, 20), "X", false, 1, {}, TTextAlign::Leading), EInvalidOperation);
  // Half opacity gives half-bright full-coverage pixels (a full block glyph).
  ASSERT_TRUE(canvas.BeginScene());
  canvas.Fill().Color = claWhite;
  canvas.FillText(TRectF(0, 0, 40, 20), "\xE2\x96\x88", false, 0.5f, {}, TTextAlign::Center, TTextAlign::Center);
  canvas.EndScene();
  int brightest = 0;
  for (size_t i = 0; i < b->Pixels().size(); i += 4) brightest = std::max<int>(brightest, b->Pixels()[i]);
  EXPECT_NEAR(brightest, 128, 3);
  EXPECT_GT(canvas.TextExtent("IIII").Width, 0);
}

TEST(CanvasOutlines, DashedAndStrokedRectangles) {
  TOwned<TBitmap> b = Blank(20, 20);
  TBitmapCanvas canvas(b.get());
  ASSERT_TRUE(canvas.BeginScene());
  canvas.DrawDashRect(TRectF(2.5f, 2.5f, 17.5f, 17.5f), 0, 0, AllCorners(), 1, claRed);
  canvas.EndScene();
  auto at = [&](int x, int y) {
    const uint8_t* p = b->Pixels().data() + (size_t(y) * 20 + x) * 4;
    return MakeAlphaColor(p[2], p[1], p[0], p[3]);
  };
  EXPECT_EQ(at(2, 2), claRed);    // dashes of three pixels on the top edge,
  EXPECT_EQ(at(4, 2), claBlack);  // gaps of three
  EXPECT_EQ(at(6, 2), claRed);
  EXPECT_EQ(at(10, 10), claBlack);
  ASSERT_TRUE(canvas.BeginScene());
  canvas.Stroke().Color = claLime;
  canvas.Stroke().Thickness = 3;
  canvas.DrawRect(TRectF(5, 5, 15, 15), 0, 0, AllCorners(), 1);
  canvas.EndScene();
  EXPECT_EQ(at(4, 10), claLime);
  EXPECT_EQ(at(6, 10), claLime);
  EXPECT_EQ(at(10, 10), claBlack);
  // A brush of its own: five pixels wide around x = 10, the canvas's stroke untouched.
  ASSERT_TRUE(canvas.BeginScene());
  canvas.Clear(claBlack);
  canvas.DrawRect(TRectF(10, 10, 18, 18), 0, 0, AllCorners(), 1, TCanvasBrush{claRed, 5});
  canvas.EndScene();
  EXPECT_EQ(at(7, 14), claBlack);
  EXPECT_EQ(at(8, 14), claRed);
  EXPECT_EQ(at(12, 14), claRed);
  EXPECT_EQ(at(13, 14), claBlack);
  EXPECT_EQ(canvas.Stroke().Color, claLime);
  EXPECT_EQ(canvas.Stroke().Thickness, 3);
}

TEST(TimerService, TicksInSecondsOnTheInstalledClock) {
  TManualClock clock;
  TScopedClock scoped(clock);
  IFwTimerService* service = TPlatformServices::Current().GetTimerService();
  ASSERT_NE(service, nullptr);
  const double t0 = service->GetTick();
  clock.AdvanceMs(1500);
  EXPECT_DOUBLE_EQ(service->GetTick() - t0, 1.5);
}

}  // namespace
}  // namespace quorvel
