#include "framework/gui/Canvas.h"

#include <SDL2/SDL.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include "framework/platform/SdlWindow.h"
#include "framework/rtl/Exceptions.h"
#include "framework/rtl/Finally.h"

namespace quorvel {

// ---- Canvas classes -----------------------------------------------------------------------

int32_t TCanvasClass::GetAttribute(TCanvasAttribute Attribute) const {
  switch (Attribute) {
    case TCanvasAttribute::MaxBitmapSize:
      return 8192;
  }
  return 0;
}

TBitmapHandle TCanvasClass::InitializeBitmap(int32_t, int32_t, float, TPixelFormat&) const {
  // Software bitmaps keep their pixels in the TBitmap; the handle only tells that one exists.
  static std::atomic<TBitmapHandle> next{1};
  return next.fetch_add(1, std::memory_order_relaxed);
}

namespace {

const TCanvasClass& SoftwareCanvasClass() {
  static const TCanvasClass instance;
  return instance;
}

std::atomic<const TCanvasClass*> GDefaultCanvasClass{nullptr};

std::recursive_mutex& CanvasMutex() {
  static std::recursive_mutex mutex;
  return mutex;
}

}  // namespace

const TCanvasClass& DefaultCanvasClass() {
  const TCanvasClass* cls = GDefaultCanvasClass.load(std::memory_order_acquire);
  return cls != nullptr ? *cls : SoftwareCanvasClass();
}

void SetDefaultCanvasClass(const TCanvasClass* Value) { GDefaultCanvasClass.store(Value, std::memory_order_release); }

// ---- TCanvas ------------------------------------------------------------------------------

TCanvas::~TCanvas() = default;

void TCanvas::Lock() { CanvasMutex().lock(); }
void TCanvas::Unlock() { CanvasMutex().unlock(); }
bool TCanvas::TryLock() { return CanvasMutex().try_lock(); }

bool TCanvas::BeginScene() {
  Lock();
  // Held from here to EndScene unless the begin fails.
  auto unlock = Finally([&] { Unlock(); });
  if (FBeginSceneCount == 0) {
    TBitmapData target;
    if (!DoBeginScene(target)) return false;
    FTarget = target;
  }
  ++FBeginSceneCount;
  unlock.Dismiss();
  return true;
}

void TCanvas::EndScene() {
  if (FBeginSceneCount == 0) return;
  struct TUnlock {
    ~TUnlock() { TCanvas::Unlock(); }
  } unlock;
  if (--FBeginSceneCount == 0) {
    FTarget = TBitmapData();
    DoEndScene();
  }
}

void TCanvas::CheckScene() const {
  if (FBeginSceneCount == 0 || FTarget.Data == nullptr)
    throw EInvalidOperation("Canvas drawing needs an open scene (BeginScene)");
}

namespace {

struct TPixelRange {
  int32_t X0, Y0, X1, Y1;  // X1, Y1 exclusive
  bool Empty() const { return X1 <= X0 || Y1 <= Y0; }
};

// floor(v) clamped to lo..hi; NaN gives lo. Coordinates come from callers unchecked, and a
// float-to-int conversion out of range would be undefined.
int32_t FloorClamped(double v, int32_t lo, int32_t hi) {
  v = std::floor(v);
  if (!(v >= lo)) return lo;
  if (!(v <= hi)) return hi;
  return int32_t(v);
}

// The target pixels whose centres lie inside r.
TPixelRange CoveredPixels(const TRectF& r, int32_t width, int32_t height) {
  // First pixel whose centre is at or right of the edge: ceil(edge - 0.5) = floor(edge + 0.5).
  auto first = [](float edge, int32_t limit) { return FloorClamped(double(edge) + 0.5, 0, limit); };
  TPixelRange p;
  p.X0 = first(r.Left, width);
  p.Y0 = first(r.Top, height);
  p.X1 = first(r.Right, width);
  p.Y1 = first(r.Bottom, height);
  return p;
}

bool IsFinite(const TRectF& r) {
  return std::isfinite(r.Left) && std::isfinite(r.Top) && std::isfinite(r.Right) && std::isfinite(r.Bottom);
}

float Clamp01(float v) { return v > 0 ? (v < 1 ? v : 1) : 0; }  // NaN gives 0

// The fractional part of v in 0..1 (0 for NaN and infinities).
float Fraction(double v) {
  const double f = v - std::floor(v);
  return f > 0 ? (f < 1 ? float(f) : 1.0f) : 0.0f;
}

// Straight-alpha "over": src (BGRA bytes, alpha as 0..1 already scaled by opacity) onto dst.
inline void BlendOver(uint8_t* dst, float b, float g, float r, float sa) {
  if (sa <= 0) return;
  if (sa >= 1) {
    dst[0] = uint8_t(b + 0.5f);
    dst[1] = uint8_t(g + 0.5f);
    dst[2] = uint8_t(r + 0.5f);
    dst[3] = 255;
    return;
  }
  const float da = dst[3] * (1.0f / 255);
  const float keep = da * (1 - sa);
  const float oa = sa + keep;
  const float inv = 1 / oa;
  dst[0] = uint8_t(std::min(255.0f, (b * sa + dst[0] * keep) * inv + 0.5f));
  dst[1] = uint8_t(std::min(255.0f, (g * sa + dst[1] * keep) * inv + 0.5f));
  dst[2] = uint8_t(std::min(255.0f, (r * sa + dst[2] * keep) * inv + 0.5f));
  dst[3] = uint8_t(std::min(255.0f, oa * 255 + 0.5f));
}

}  // namespace

void TCanvas::Clear(TAlphaColor Color) {
  CheckScene();
  const uint8_t bytes[4] = {BlueOf(Color), GreenOf(Color), RedOf(Color), AlphaOf(Color)};
  for (int32_t y = 0; y < FTarget.Height; ++y) {
    uint8_t* row = static_cast<uint8_t*>(FTarget.GetScanline(y));
    for (int32_t x = 0; x < FTarget.Width; ++x) std::memcpy(row + x * 4, bytes, 4);
  }
}

void TCanvas::FillRect(const TRectF& ARect, TAlphaColor Color, float AOpacity) {
  CheckScene();
  const float sa = AlphaOf(Color) * Clamp01(AOpacity) * (1.0f / 255);
  if (sa <= 0) return;
  TRectF r = ARect;
  r.Offset(FOffset.X, FOffset.Y);
  r = TRectF(r.Left * FScale, r.Top * FScale, r.Right * FScale, r.Bottom * FScale);
  if (!IsFinite(r)) return;
  const TPixelRange p = CoveredPixels(r, FTarget.Width, FTarget.Height);
  if (p.Empty()) return;
  for (int32_t y = p.Y0; y < p.Y1; ++y) {
    uint8_t* row = static_cast<uint8_t*>(FTarget.GetScanline(y));
    for (int32_t x = p.X0; x < p.X1; ++x) BlendOver(row + x * 4, BlueOf(Color), GreenOf(Color), RedOf(Color), sa);
  }
}

void TCanvas::BlendPixel(int32_t x, int32_t y, TAlphaColor AColor, float ACover) {
  if (x < 0 || y < 0 || x >= FTarget.Width || y >= FTarget.Height) return;
  uint8_t* px = static_cast<uint8_t*>(FTarget.GetScanline(y)) + x * 4;
  BlendOver(px, BlueOf(AColor), GreenOf(AColor), RedOf(AColor), AlphaOf(AColor) * Clamp01(ACover) * (1.0f / 255));
}

void TCanvas::DrawBitmap(const TBitmap* ABitmap, const TRectF& SrcRect, const TRectF& DstRect, float AOpacity,
                         bool HighSpeed) {
  CheckScene();
  if (ABitmap == nullptr || ABitmap->IsEmpty()) return;
  const float opacity = Clamp01(AOpacity);
  if (opacity <= 0 || !(SrcRect.Width() > 0) || !(SrcRect.Height() > 0) || !(DstRect.Width() > 0) ||
      !(DstRect.Height() > 0))
    return;
  TRectF d = DstRect;
  d.Offset(FOffset.X, FOffset.Y);
  d = TRectF(d.Left * FScale, d.Top * FScale, d.Right * FScale, d.Bottom * FScale);
  // Infinite or NaN rectangles draw nothing (they would make every sample position NaN).
  if (!IsFinite(d) || !IsFinite(SrcRect) || !(d.Width() > 0) || !(d.Height() > 0)) return;
  const TPixelRange p = CoveredPixels(d, FTarget.Width, FTarget.Height);
  if (p.Empty()) return;

  const int32_t bw = ABitmap->GetWidth(), bh = ABitmap->GetHeight();
  const uint8_t* src = ABitmap->Pixels().data();
  // Samples stay inside the source rectangle (and the bitmap).
  const int32_t sx0 = FloorClamped(SrcRect.Left, 0, bw - 1);
  const int32_t sy0 = FloorClamped(SrcRect.Top, 0, bh - 1);
  const int32_t sx1 = FloorClamped(std::ceil(double(SrcRect.Right)) - 1, sx0, bw - 1);
  const int32_t sy1 = FloorClamped(std::ceil(double(SrcRect.Bottom)) - 1, sy0, bh - 1);
  const double kx = (double(SrcRect.Right) - SrcRect.Left) / (double(d.Right) - d.Left);
  const double ky = (double(SrcRect.Bottom) - SrcRect.Top) / (double(d.Bottom) - d.Top);
  const size_t pitch = size_t(bw) * 4;
  // Unscaled and pixel-aligned, bilinear samples fall on pixel centres: nearest is exact.
  if (kx == 1 && ky == 1 && SrcRect.Left - d.Left == std::floor(SrcRect.Left - d.Left) &&
      SrcRect.Top - d.Top == std::floor(SrcRect.Top - d.Top))
    HighSpeed = true;

  // The source columns (and bilinear weights) are the same for every row: computed once.
  const int32_t columns = p.X1 - p.X0;
  FColumnA.resize(size_t(columns));
  FColumnB.resize(size_t(columns));
  FColumnF.resize(size_t(columns));
  for (int32_t i = 0; i < columns; ++i) {
    const double u = SrcRect.Left + (p.X0 + i + 0.5 - d.Left) * kx;
    if (HighSpeed) {
      FColumnA[i] = FloorClamped(u, sx0, sx1) * 4;
    } else {
      const double uf = u - 0.5;
      FColumnA[i] = FloorClamped(uf, sx0, sx1) * 4;
      FColumnB[i] = FloorClamped(uf + 1, sx0, sx1) * 4;
      FColumnF[i] = Fraction(uf);
    }
  }

  for (int32_t y = p.Y0; y < p.Y1; ++y) {
    uint8_t* row = static_cast<uint8_t*>(FTarget.GetScanline(y)) + size_t(p.X0) * 4;
    const double v = SrcRect.Top + (y + 0.5 - d.Top) * ky;
    if (HighSpeed) {
      const int32_t sy = FloorClamped(v, sy0, sy1);
      const uint8_t* srow = src + sy * pitch;
      for (int32_t i = 0; i < columns; ++i) {
        const uint8_t* s = srow + FColumnA[i];
        uint8_t* t = row + size_t(i) * 4;
        if (s[3] == 255 && opacity >= 1) {
          std::memcpy(t, s, 4);
        } else {
          BlendOver(t, s[0], s[1], s[2], s[3] * opacity * (1.0f / 255));
        }
      }
      continue;
    }
    const double vf = v - 0.5;
    const uint8_t* rowA = src + FloorClamped(vf, sy0, sy1) * pitch;
    const uint8_t* rowB = src + FloorClamped(vf + 1, sy0, sy1) * pitch;
    const float fy = Fraction(vf);
    for (int32_t i = 0; i < columns; ++i) {
      const float fx = FColumnF[i];
      const uint8_t* taps[4] = {rowA + FColumnA[i], rowA + FColumnB[i], rowB + FColumnA[i], rowB + FColumnB[i]};
      const float w[4] = {(1 - fx) * (1 - fy), fx * (1 - fy), (1 - fx) * fy, fx * fy};
      // Weighted by alpha, so transparent neighbours do not darken the edge.
      float a = 0, b = 0, g = 0, r = 0;
      for (int k = 0; k < 4; ++k) {
        const float wa = w[k] * taps[k][3];
        a += wa;
        b += wa * taps[k][0];
        g += wa * taps[k][1];
        r += wa * taps[k][2];
      }
      if (a <= 0) continue;
      BlendOver(row + size_t(i) * 4, b / a, g / a, r / a, a * opacity * (1.0f / 255));
    }
  }
}

// ---- TBitmapCanvas ------------------------------------------------------------------------

TBitmapCanvas::TBitmapCanvas(TBitmap* ABitmap) : FBitmap(ABitmap) {}

bool TBitmapCanvas::DoBeginScene(TBitmapData& Target) {
  if (FBitmap == nullptr || !FBitmap->Map(TMapAccess::ReadWrite, FData)) return false;
  Target = FData;
  SetSize(FBitmap->GetWidth(), FBitmap->GetHeight(), FBitmap->GetBitmapScale());
  return true;
}

void TBitmapCanvas::DoEndScene() { FBitmap->Unmap(FData); }

// ---- TWindowCanvas ------------------------------------------------------------------------

TWindowCanvas::TWindowCanvas(TSdlWindow* AWindow) : FWindow(AWindow) {}

bool TWindowCanvas::DoBeginScene(TBitmapData& Target) {
  SDL_Window* window = FWindow != nullptr ? FWindow->Window() : nullptr;
  if (window == nullptr) return false;
  int w = 0, h = 0;
  SDL_GetWindowSize(window, &w, &h);
  if (w <= 0 || h <= 0) return false;
  if (w != FBufferWidth || h != FBufferHeight) {
    FBuffer.assign(size_t(w) * size_t(h) * 4, 0);
    FBufferWidth = w;
    FBufferHeight = h;
  }
  Target = TBitmapData(w, h, TPixelFormat::BGRA);
  Target.Data = FBuffer.data();
  Target.Pitch = w * 4;
  Target.Access = TMapAccess::ReadWrite;
  SetSize(w, h, 1);
  return true;
}

void TWindowCanvas::DoEndScene() {
  SDL_Window* window = FWindow != nullptr ? FWindow->Window() : nullptr;
  if (window == nullptr) return;
  SDL_Surface* surface = SDL_GetWindowSurface(window);
  if (surface == nullptr) return;
  const int w = std::min(surface->w, FBufferWidth), h = std::min(surface->h, FBufferHeight);
  if (w <= 0 || h <= 0) return;
  if (SDL_MUSTLOCK(surface) && SDL_LockSurface(surface) != 0) return;
  // ARGB8888 is B, G, R, A in memory on this little-endian platform.
  SDL_ConvertPixels(w, h, SDL_PIXELFORMAT_ARGB8888, FBuffer.data(), FBufferWidth * 4, surface->format->format,
                    surface->pixels, surface->pitch);
  if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
  SDL_UpdateWindowSurface(window);
}

bool TWindowCanvas::ReadWindowPixels(TBitmap* ABitmap) const {
  SDL_Window* window = FWindow != nullptr ? FWindow->Window() : nullptr;
  if (window == nullptr || ABitmap == nullptr) return false;
  SDL_Surface* surface = SDL_GetWindowSurface(window);
  if (surface == nullptr || surface->w <= 0 || surface->h <= 0) return false;
  ABitmap->SetSize(surface->w, surface->h);
  TBitmapData data;
  if (!ABitmap->Map(TMapAccess::Write, data)) return false;
  bool ok = !SDL_MUSTLOCK(surface) || SDL_LockSurface(surface) == 0;
  if (ok) {
    ok = SDL_ConvertPixels(surface->w, surface->h, surface->format->format, surface->pixels, surface->pitch,
                           SDL_PIXELFORMAT_ARGB8888, data.Data, data.Pitch) == 0;
    if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
  }
  if (ok && !SDL_ISPIXELFORMAT_ALPHA(surface->format->format)) {
    for (int32_t y = 0; y < data.Height; ++y) {
      uint8_t* row = static_cast<uint8_t*>(data.GetScanline(y));
      for (int32_t x = 0; x < data.Width; ++x) row[x * 4 + 3] = 255;
    }
  }
  ABitmap->Unmap(data);
  return ok;
}

}  // namespace quorvel
