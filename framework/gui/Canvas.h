#pragma once
// 2D canvases. A canvas draws into 32-bit BGRA pixels (straight alpha) in software, so the
// engine's OpenGL context stays the only GL context of the process and drawing never
// changes which context is current.
//
//   if (canvas->BeginScene()) {          // takes the global canvas lock until EndScene
//     canvas->DrawBitmap(bmp, bmp->GetBoundsF(), dest, 0.5f, true);
//     canvas->EndScene();                // a window canvas shows the picture here
//   }
//
// TBitmapCanvas draws into a TBitmap; TWindowCanvas into a back buffer that EndScene copies
// to an SDL window's surface. The canvas class (TCanvasClass) answers the class-level
// questions: styles, attributes, bitmap handles.
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "framework/gui/Bitmap.h"
#include "framework/math/AlphaColor.h"
#include "framework/math/Point.h"
#include "framework/math/Rect.h"
#include "framework/rtl/Object.h"
#include "framework/rtl/Set.h"

namespace quorvel {

class TSdlWindow;

enum class TCanvasStyle : uint8_t { NeedGPUSurface = 0, SupportClipRects = 1, SupportModulation = 2, DisableGlobalLock = 3 };
FW_ENUM(TCanvasStyle, NeedGPUSurface, SupportClipRects, SupportModulation, DisableGlobalLock)
using TCanvasStyles = TSet<TCanvasStyle>;

enum class TCanvasAttribute : uint8_t { MaxBitmapSize = 0 };
FW_ENUM(TCanvasAttribute, MaxBitmapSize)

enum class TTextAlign : uint8_t { Center = 0, Leading = 1, Trailing = 2 };
FW_ENUM(TTextAlign, Center, Leading, Trailing)

enum class TFillTextFlag : uint8_t { RightToLeft = 0 };
FW_ENUM(TFillTextFlag, RightToLeft)
using TFillTextFlags = TSet<TFillTextFlag>;

enum class TCorner : uint8_t { TopLeft = 0, TopRight = 1, BottomLeft = 2, BottomRight = 3 };
FW_ENUM(TCorner, TopLeft, TopRight, BottomLeft, BottomRight)
using TCorners = TSet<TCorner>;
inline TCorners AllCorners() { return {TCorner::TopLeft, TCorner::TopRight, TCorner::BottomLeft, TCorner::BottomRight}; }

// What outlines are stroked with (DrawRect) and what text is filled with (FillText).
struct TCanvasBrush {
  TAlphaColor Color = TAlphaColor(0xFF000000);
  float Thickness = 1;
};

// The class-level side of a canvas implementation. The software canvas is the default; a
// GPU canvas would answer NeedGPUSurface and make real bitmap handles.
class TCanvasClass {
public:
  virtual ~TCanvasClass() = default;
  virtual TCanvasStyles GetCanvasStyle() const { return {}; }
  virtual int32_t GetAttribute(TCanvasAttribute Attribute) const;
  // Makes the handle of a bitmap's image; may adjust the pixel format it is given.
  virtual TBitmapHandle InitializeBitmap(int32_t Width, int32_t Height, float Scale, TPixelFormat& PixelFormat) const;
  virtual void FinalizeBitmap(TBitmapHandle& Handle) const { Handle = 0; }
};

// The canvas class of new bitmaps and canvases.
const TCanvasClass& DefaultCanvasClass();
// Installs another default (nullptr restores the software canvas class); the caller keeps
// it alive while installed.
void SetDefaultCanvasClass(const TCanvasClass* Value);

class TCanvas : public TObject {
public:
  ~TCanvas() override;

  // One re-entrant lock shared by every canvas and 3D context: a scene holds it from a
  // successful BeginScene to the matching EndScene.
  static void Lock();
  static void Unlock();
  static bool TryLock();
  static TCanvasStyles GetCanvasStyle() { return DefaultCanvasClass().GetCanvasStyle(); }
  static int32_t GetAttribute(TCanvasAttribute Attribute) { return DefaultCanvasClass().GetAttribute(Attribute); }

  // Answers False (and holds no lock) when the canvas has nothing to draw into.
  bool BeginScene();
  // Ends one scene; the outermost one finishes the picture (DoEndScene). Without an open
  // scene it does nothing.
  void EndScene();
  int32_t GetBeginSceneCount() const { return FBeginSceneCount; }
  // Drawing is immediate here: nothing to flush.
  void Flush() {}

  int32_t GetWidth() const { return FWidth; }
  int32_t GetHeight() const { return FHeight; }
  float GetScale() const { return FScale; }

  // Added to every destination coordinate (controls paint in their local coordinates).
  TPointF GetOffset() const { return FOffset; }
  void SetOffset(const TPointF& Value) { FOffset = Value; }

  // Drawing operations need an open scene (EInvalidOperation otherwise).
  void Clear(TAlphaColor Color);
  // Fills a rectangle with Color blended over the pixels (straight-alpha "over").
  void FillRect(const TRectF& ARect, TAlphaColor Color, float AOpacity = 1);
  // Draws the SrcRect part of ABitmap (bitmap pixels) into DstRect (canvas units), blended
  // over the pixels with its alpha times AOpacity (clamped to 0..1). HighSpeed samples the
  // nearest pixel; otherwise bilinear. A null or empty bitmap draws nothing.
  void DrawBitmap(const TBitmap* ABitmap, const TRectF& SrcRect, const TRectF& DstRect, float AOpacity,
                  bool HighSpeed = false);

  // Outlines and text (CanvasText.cpp). Corners are square: the radii are accepted only.
  TCanvasBrush& Stroke() { return FStroke; }
  TCanvasBrush& Fill() { return FFill; }
  // The rectangle's outline, Stroke().Thickness wide, centred on its edges, in Stroke().Color.
  void DrawRect(const TRectF& ARect, float XRadius, float YRadius, const TCorners& ACorners, float AOpacity);
  // The same with a brush of its own: the canvas's stroke stays as it is.
  void DrawRect(const TRectF& ARect, float XRadius, float YRadius, const TCorners& ACorners, float AOpacity,
                const TCanvasBrush& ABrush);
  // A one-unit outline of dashes (3 on, 3 off) in AColor.
  void DrawDashRect(const TRectF& ARect, float XRadius, float YRadius, const TCorners& ACorners, float AOpacity,
                    TAlphaColor AColor);
  // UTF-8 text in DejaVu Sans of FontSize, filled with Fill().Color. Lines break at CR LF or
  // LF and, with WordWrap, between words that would pass the rectangle's right edge. Text
  // outside the rectangle is clipped. Without the font file nothing is drawn (logged once).
  void FillText(const TRectF& ARect, const std::string& AText, bool WordWrap, float AOpacity,
                const TFillTextFlags& AFlags, TTextAlign ATextAlign, TTextAlign AVTextAlign = TTextAlign::Center);
  float GetFontSize() const { return FFontSize; }
  void SetFontSize(float Value) { FFontSize = Value > 1 ? (Value < 512 ? Value : 512) : 1; }
  // Width and height of the text laid out on one line per paragraph (canvas units).
  TSizeF TextExtent(const std::string& AText);

protected:
  TCanvas() = default;

  // The target pixels for this scene (BGRA, straight alpha); False when there are none.
  virtual bool DoBeginScene(TBitmapData& Target) = 0;
  virtual void DoEndScene() {}
  void SetSize(int32_t AWidth, int32_t AHeight, float AScale) {
    FWidth = AWidth;
    FHeight = AHeight;
    FScale = AScale;
  }

private:
  void CheckScene() const;
  // Blends AColor with coverage ACover (0..1) over the target pixel (x, y) in target pixels.
  void BlendPixel(int32_t x, int32_t y, TAlphaColor AColor, float ACover);
  void StrokeLine(const TRectF& ARect, TAlphaColor AColor, float AOpacity, float AThickness, bool ADashed);

  TCanvasBrush FStroke;
  TCanvasBrush FFill;
  float FFontSize = 12;
  TBitmapData FTarget;
  std::vector<int32_t> FColumnA, FColumnB;  // DrawBitmap's per-column source offsets, reused
  std::vector<float> FColumnF;
  int32_t FBeginSceneCount = 0;
  int32_t FWidth = 0;
  int32_t FHeight = 0;
  float FScale = 1;
  TPointF FOffset;
};

// Draws into a bitmap; EndScene announces the change to the bitmap.
class TBitmapCanvas final : public TCanvas {
public:
  explicit TBitmapCanvas(TBitmap* ABitmap);
  TBitmap* GetBitmap() const { return FBitmap; }

protected:
  bool DoBeginScene(TBitmapData& Target) override;
  void DoEndScene() override;

private:
  TBitmap* FBitmap;
  TBitmapData FData;
};

// Draws into a back buffer of the window's client size; EndScene copies it to the window
// surface and shows it. The back buffer keeps its pixels between scenes. A window whose
// native side is gone (platform shut down) gives no scene.
class TWindowCanvas final : public TCanvas {
public:
  explicit TWindowCanvas(TSdlWindow* AWindow);
  TSdlWindow* GetWindow() const { return FWindow; }
  // Copies the window surface into ABitmap (BGRA, alpha 255); False without a surface.
  bool ReadWindowPixels(TBitmap* ABitmap) const;

protected:
  bool DoBeginScene(TBitmapData& Target) override;
  void DoEndScene() override;

private:
  TSdlWindow* FWindow;
  int32_t FBufferWidth = 0;
  int32_t FBufferHeight = 0;
  std::vector<uint8_t> FBuffer;
};

}  // namespace quorvel
