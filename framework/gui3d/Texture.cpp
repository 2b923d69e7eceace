#include "framework/gui3d/Texture.h"

#include <cmath>

#include "framework/gui3d/Context3D.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/Log.h"

namespace quorvel {

FW_CLASS_IMPL(TTexture, "Fw.Types3D")
FW_CLASS_IMPL(TTextureBitmap, "Fw.Types3D")

FW_CLASS_NO_MEMBERS(TTexture)
FW_CLASS_NO_MEMBERS(TTextureBitmap)

TTexture::~TTexture() {
  if (FHandle == 0) return;
  Quietly("TTexture: releasing the texture", [&] { TContext3D::FinalizeTexture(this); });
}

void TTexture::Assign(TPersistent* Source) {
  if (Source == this) return;
  if (auto* tex = dynamic_cast<TTexture*>(Source)) {
    SetSize(tex->FWidth, tex->FHeight);
    SetPixelFormat(tex->FPixelFormat);
    FStyle = tex->FStyle;
    FMinFilter = tex->FMinFilter;
    FMagFilter = tex->FMagFilter;
    FTextureScale = tex->FTextureScale;
    return;
  }
  if (auto* bmp = dynamic_cast<TBitmap*>(Source)) {
    AssignFromBitmap(bmp);
    return;
  }
  TPersistent::Assign(Source);
}

void TTexture::AssignFromBitmap(TBitmap* ABitmap) {
  SetSize(ABitmap->GetWidth(), ABitmap->GetHeight());
  SetPixelFormat(ABitmap->GetPixelFormat());
  FTextureScale = ABitmap->GetBitmapScale();
  if (IsEmpty()) return;
  if (FHandle == 0) Initialize();
  if (FHandle == 0 || FStyle.Contains(TTextureStyle::RenderTarget)) return;
  TBitmapData data;
  if (!ABitmap->Map(TMapAccess::Read, data)) return;
  auto unmap = Finally([&] { ABitmap->Unmap(data); });
  UpdateTexture(data.Data, data.Pitch);
}

void TTexture::SetSize(int32_t AWidth, int32_t AHeight) {
  if (AWidth < 0 || AHeight < 0)
    throw EArgumentOutOfRangeException("TTexture.SetSize: negative size");
  if (AWidth == FWidth && AHeight == FHeight) return;
  Finalize();
  FWidth = AWidth;
  FHeight = AHeight;
}

void TTexture::SetPixelFormat(TPixelFormat Value) {
  if (Value == FPixelFormat) return;
  Finalize();
  FPixelFormat = Value;
}

void TTexture::SetTextureScale(float AScale) {
  if (!(AScale > 0) || !std::isfinite(AScale))
    throw EArgumentOutOfRangeException("TTexture.SetTextureScale: scale must be positive");
  FTextureScale = AScale;
}

void TTexture::Initialize() { TContext3D::InitializeTexture(this); }

void TTexture::Finalize() {
  if (FHandle != 0) TContext3D::FinalizeTexture(this);
}

void TTexture::UpdateTexture(const void* Bits, int32_t Pitch) { TContext3D::UpdateTexture(this, Bits, Pitch); }

// --- TTextureBitmap ------------------------------------------------------------------------

TTextureBitmap::TTextureBitmap(int32_t AWidth, int32_t AHeight) : TBitmap(AWidth, AHeight) {}

TTextureBitmap::~TTextureBitmap() { ReleaseTexture(); }

TTexture* TTextureBitmap::GetTexture() {
  if (!FTexture) {
    if (TTexture* made = TContext3D::BitmapToTexture(this)) FTexture.ResetOwned(made);
  }
  return FTexture.get();
}

void TTextureBitmap::DestroyResources() { ReleaseTexture(); }

void TTextureBitmap::SetTextureSlot(TTexture* ATexture, bool AOwned) {
  if (ATexture != FTexture.get()) ReleaseTexture();
  FTexture.Release();
  if (!ATexture) return;
  if (AOwned)
    FTexture.ResetOwned(ATexture);
  else
    FTexture.ResetBorrowed(ATexture);
}

void TTextureBitmap::ReleaseTexture() noexcept {
  const bool owned = FTexture.Owns();
  TTexture* tex = FTexture.Release();
  if (owned) FreeQuietly(tex, "TTextureBitmap: texture");
}

void TTextureBitmap::BitmapChanged() {
  if (FTexture.Owns()) {
    FTexture->SetSize(FWidth, FHeight);
    FTexture->SetTextureScale(FBitmapScale);
    if (!IsEmpty() && !FTexture->GetStyle().Contains(TTextureStyle::RenderTarget)) {
      if (FTexture->GetHandle() == 0) FTexture->Initialize();
      if (FTexture->GetHandle() != 0) FTexture->UpdateTexture(FData.data(), FWidth * 4);
    }
  }
  TBitmap::BitmapChanged();
}

}  // namespace quorvel
