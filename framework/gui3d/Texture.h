#pragma once
// Textures of the 3D layer. A TTexture describes a GPU texture (size, pixel format, styles,
// filters) and holds the handle that the default context class gives it; the class-level
// operations of the context create, fill and release the GPU object:
//
//   TOwned<TTexture> tex(New<TTexture>());
//   tex->SetSize(256, 256);
//   tex->Initialize();                    // TContext3D::InitializeTexture
//   tex->UpdateTexture(bits, 256 * 4);    // TContext3D::UpdateTexture
//
// A TTextureBitmap is a bitmap with a texture behind it, made on first use through the
// default context class's bitmap-to-texture operation and kept up to date with the pixels.
#include <cstdint>

#include "framework/gui/Bitmap.h"
#include "framework/gui/PixelFormat.h"
#include "framework/rtl/Enum.h"
#include "framework/rtl/Set.h"

namespace quorvel {

enum class TTextureStyle : uint8_t { MipMaps = 0, Dynamic = 1, RenderTarget = 2, Volatile = 3 };
FW_ENUM(TTextureStyle, MipMaps, Dynamic, RenderTarget, Volatile)
using TTextureStyles = TSet<TTextureStyle>;

enum class TTextureFilter : uint8_t { Nearest = 0, Linear = 1 };
FW_ENUM(TTextureFilter, Nearest, Linear)

// The GPU name of a texture (0: none).
using TTextureHandle = uintptr_t;

// What the context classes write back into a texture. Found with dynamic_cast.
class ITextureAccess {
public:
  virtual void SetHandle(TTextureHandle AHandle) = 0;
  virtual float GetTextureScale() const = 0;
  virtual void SetTextureScale(float AScale) = 0;

protected:
  ~ITextureAccess() = default;
};

class TTexture : public TPersistent, public ITextureAccess {
  FW_CLASS(TTexture, TPersistent)

public:
  TTexture() = default;
  // Releases the GPU object through the default context class; a failure is logged.
  ~TTexture() override;

  // From a TTexture: size, pixel format, styles, filters and scale (not the GPU object).
  // From a TBitmap: its size, pixel format and scale, then the pixels are uploaded when the
  // texture gets a GPU object.
  void Assign(TPersistent* Source) override;

  int32_t GetWidth() const { return FWidth; }
  int32_t GetHeight() const { return FHeight; }
  void SetWidth(int32_t Value) { SetSize(Value, FHeight); }
  void SetHeight(int32_t Value) { SetSize(FWidth, Value); }
  // A changed size releases the GPU object (it no longer matches). Negative sizes raise
  // EArgumentOutOfRangeException.
  void SetSize(int32_t AWidth, int32_t AHeight);
  bool IsEmpty() const { return FWidth == 0 || FHeight == 0; }

  TPixelFormat GetPixelFormat() const { return FPixelFormat; }
  // A changed format releases the GPU object.
  void SetPixelFormat(TPixelFormat Value);
  int32_t GetBytesPerPixel() const { return PixelFormatBytes(FPixelFormat); }

  TTextureStyles GetStyle() const { return FStyle; }
  void SetStyle(const TTextureStyles& Value) { FStyle = Value; }
  TTextureFilter GetMinFilter() const { return FMinFilter; }
  void SetMinFilter(TTextureFilter Value) { FMinFilter = Value; }
  TTextureFilter GetMagFilter() const { return FMagFilter; }
  void SetMagFilter(TTextureFilter Value) { FMagFilter = Value; }

  TTextureHandle GetHandle() const { return FHandle; }
  // ITextureAccess
  void SetHandle(TTextureHandle AHandle) override { FHandle = AHandle; }
  float GetTextureScale() const override { return FTextureScale; }
  // Values <= 0 or not finite raise EArgumentOutOfRangeException.
  void SetTextureScale(float AScale) override;

  // Makes the GPU object (TContext3D::InitializeTexture).
  void Initialize();
  // Releases it (TContext3D::FinalizeTexture); nothing without a GPU object.
  void Finalize();
  // Uploads pixels (TContext3D::UpdateTexture): Pitch bytes from one row to the next.
  void UpdateTexture(const void* Bits, int32_t Pitch);

protected:
  void AssignFromBitmap(TBitmap* ABitmap);

  int32_t FWidth = 0;
  int32_t FHeight = 0;
  TPixelFormat FPixelFormat = TPixelFormat::BGRA;
  TTextureStyles FStyle;
  TTextureFilter FMinFilter = TTextureFilter::Linear;
  TTextureFilter FMagFilter = TTextureFilter::Linear;
  TTextureHandle FHandle = 0;
  float FTextureScale = 1;
};

class TTextureBitmap : public TBitmap {
  FW_CLASS(TTextureBitmap, TBitmap)

public:
  TTextureBitmap() = default;
  TTextureBitmap(int32_t AWidth, int32_t AHeight);
  ~TTextureBitmap() override;

  // The texture behind the bitmap, made on first use through TContext3D::BitmapToTexture
  // (owned by the bitmap).
  TTexture* GetTexture();
  // The texture in the slot, without making one.
  TTexture* GetTextureSlot() const { return FTexture.get(); }
  // Frees the bitmap's texture (when it owns it) and empties the slot; the next GetTexture
  // makes a new one.
  virtual void DestroyResources();

protected:
  // Puts a texture into the slot after emptying it. A texture put here from outside is
  // referenced, not owned: freeing the bitmap leaves it alone.
  void SetTextureSlot(TTexture* ATexture, bool AOwned = false);
  // Keeps an owned texture in step with the pixels: size and scale follow, and the pixels
  // are uploaded when the texture has a GPU object and is not a render target.
  void BitmapChanged() override;

private:
  void ReleaseTexture() noexcept;

  TMaybeOwned<TTexture> FTexture;
};

}  // namespace quorvel
