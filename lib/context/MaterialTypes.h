#pragma once
// Unit Quorvel.Material.Types: the texture and bitmap pools of a material.
//
// A texture pool holds named references to existing textures with the settings a shader needs
// to sample them. A bitmap pool holds entries that each own a texture bitmap and keep its kind,
// formats, wraps, filters and border colour in step with their own properties; the owning
// material sets the pool's OnUpdate, which hears of every change of an entry (with the entry as
// sender). Bulk sampler settings (SetTextureWrapping, SetTextureMinMagFilter,
// SetExtendedProperties) and SetPixelFormatNoUpdate stay silent.
#include <cstdint>
#include <string>

#include "framework/classes/Collection.h"
#include "framework/classes/Events.h"
#include "framework/gui3d/Shader.h"
#include "framework/gui3d/Texture.h"
#include "framework/math/AlphaColor.h"
#include "framework/math/Point.h"
#include "framework/rtl/Enum.h"
#include "lib/context/ContextTexturing.h"

namespace quorvel {

class TCustomDef;

enum class TQuorvelShadowMethod : uint8_t { ShadowMapping = 0, VarianceShadowMapping = 1 };
FW_ENUM(TQuorvelShadowMethod, ShadowMapping, VarianceShadowMapping)

// The wraps S, T, R and the filters min, mag of a pool entry.
struct TQuorvelTextureWrapping {
  TQuorvelTextureWrap S = TQuorvelTextureWrap::Clamp;
  TQuorvelTextureWrap T = TQuorvelTextureWrap::Clamp;
  TQuorvelTextureWrap R = TQuorvelTextureWrap::Clamp;
};
struct TQuorvelTextureMinMagFilter {
  TTextureFilter Min = TTextureFilter::Linear;
  TTextureFilter Mag = TTextureFilter::Linear;
};

class TQuorvelTexturePoolEntry : public TCollectionItem {
  FW_CLASS(TQuorvelTexturePoolEntry, TCollectionItem)

public:
  explicit TQuorvelTexturePoolEntry(TCollection* ACollection);

  void AssignTo(TPersistent* Dest) override;
  std::string GetDisplayName() const override { return FName; }
  void SetDisplayName(const std::string& Value) override;

  // Stores the four values, nothing else.
  void SetPixelFormat(TQuorvelTextureKind ATextureKind, TPixelFormatEx AComps, TPixelFormatEx AFormat,
                      TQuorvelTextureDataType ADataType);

  const std::string& GetName() const noexcept { return FName; }
  void SetName(const std::string& Value) { SetDisplayName(Value); }
  TPointF GetTiling() const noexcept { return FTiling; }
  void SetTiling(const TPointF& Value) { FTiling = Value; }
  // Not owned.
  TTexture* GetTexture() const noexcept { return FTexture; }
  void SetTexture(TTexture* Value) { FTexture = Value; }
  bool GetIsDynamic() const noexcept { return FIsDynamic; }
  void SetIsDynamic(bool Value) { FIsDynamic = Value; }
  bool GetIgnoreInArray() const noexcept { return FIgnoreInArray; }
  void SetIgnoreInArray(bool Value) { FIgnoreInArray = Value; }
  TContextShaderKind GetShaderKind() const noexcept { return FShaderKind; }
  void SetShaderKind(TContextShaderKind Value) { FShaderKind = Value; }
  TQuorvelTextureKind GetTextureKind() const noexcept { return FTextureKind; }
  TPixelFormatEx GetInternalFormat() const noexcept { return FInternalFormat; }
  TPixelFormatEx GetFormat() const noexcept { return FFormat; }
  TQuorvelTextureDataType GetDataType() const noexcept { return FDataType; }
  const TQuorvelTextureWrapping& GetWrapping() const noexcept { return FWrapping; }
  const TQuorvelTextureMinMagFilter& GetMinMagFilter() const noexcept { return FMinMagFilter; }
  TAlphaColor GetBorderColor() const { return FBorderColor.ToAlphaColor(); }
  void SetBorderColor(TAlphaColor Value) { FBorderColor = TAlphaColorF(Value); }
  const TAlphaColorF& GetBorderColorF() const noexcept { return FBorderColor; }

private:
  friend class TQuorvelBitmapPoolEntry;
  std::string FName;
  TPointF FTiling{1, 1};
  TTexture* FTexture = nullptr;  // not owned
  bool FIsDynamic = false;
  bool FIgnoreInArray = false;
  TContextShaderKind FShaderKind = TContextShaderKind::PixelShader;
  TQuorvelTextureKind FTextureKind = TQuorvelTextureKind::Texture2D;
  TPixelFormatEx FInternalFormat = TPixelFormatEx::None;
  TPixelFormatEx FFormat = TPixelFormatEx::None;
  TQuorvelTextureDataType FDataType = TQuorvelTextureDataType::dtByte;
  TQuorvelTextureWrapping FWrapping;
  TQuorvelTextureMinMagFilter FMinMagFilter;
  TAlphaColorF FBorderColor{0, 0, 0, 0};
};

class TQuorvelTexturePool : public TOwnedCollection {
  FW_CLASS(TQuorvelTexturePool, TOwnedCollection)

public:
  explicit TQuorvelTexturePool(TPersistent* AOwner);

  TQuorvelTexturePoolEntry* Items(int AIndex) const { return GetItem(AIndex)->As<TQuorvelTexturePoolEntry>(); }
  TQuorvelTexturePoolEntry* Add() { return TCollection::Add()->As<TQuorvelTexturePoolEntry>(); }
  // The first entry whose Texture is ATexture (the same object; null finds the first entry
  // without texture); -1 when none.
  int IndexOfTexture(const TTexture* ATexture) const;

  bool GetDeclareAsArray() const noexcept { return FDeclareAsArray; }
  void SetDeclareAsArray(bool Value) { FDeclareAsArray = Value; }

private:
  bool FDeclareAsArray = false;
};

class TQuorvelBitmapPoolEntry : public TCollectionItem {
  FW_CLASS(TQuorvelBitmapPoolEntry, TCollectionItem)

public:
  explicit TQuorvelBitmapPoolEntry(TCollection* ACollection);
  ~TQuorvelBitmapPoolEntry() override;
  void AfterConstruction() override;
  void BeforeDestruction() override;

  void AssignTo(TPersistent* Dest) override;
  std::string GetDisplayName() const override { return FName; }
  void SetDisplayName(const std::string& Value) override;

  void GetPixelFormat(TPixelFormatEx& AComps, TPixelFormatEx& AFormat, TQuorvelTextureDataType& ADataType) const;
  // Nothing changes when the bitmap holds an image and the three formats are the current ones
  // (whatever ATextureKind and AProtectFormatSettings say).
  void SetPixelFormat(TQuorvelTextureKind ATextureKind, TPixelFormatEx AComps, TPixelFormatEx AFormat,
                      TQuorvelTextureDataType ADataType, bool AProtectFormatSettings);
  // The same test; stores the five values only.
  void SetPixelFormatNoUpdate(TQuorvelTextureKind ATextureKind, TPixelFormatEx AComps, TPixelFormatEx AFormat,
                              TQuorvelTextureDataType ADataType, bool AProtectFormatSettings);
  // The bitmap's WrapR follows for 3D kinds and Array2D.
  void SetTextureWrapping(TQuorvelTextureWrap AWrap);
  // The bitmap's WrapR follows for 3D kinds only.
  void SetTextureWrapping(TQuorvelTextureWrap AWrapS, TQuorvelTextureWrap AWrapT, TQuorvelTextureWrap AWrapR);
  void SetTextureMinMagFilter(TTextureFilter AMin, TTextureFilter AMag);
  void SetExtendedProperties(TQuorvelTextureWrap AWrapS, TQuorvelTextureWrap AWrapT, TQuorvelTextureWrap AWrapR,
                             TTextureFilter AMin, TTextureFilter AMag, TAlphaColor ABorder,
                             const TTextureStyles& AStyles);
  void LoadFromDefinition(TCustomDef* ADef);
  // ADef must be a TTextureDef (EInvalidCast before anything changes).
  void StoreToDefinition(TCustomDef* ADef);

  const std::string& GetName() const noexcept { return FName; }
  void SetName(const std::string& Value) { SetDisplayName(Value); }
  TPointF GetTiling() const noexcept { return FTiling; }
  void SetTiling(const TPointF& Value);
  float GetTilingX() const noexcept { return FTiling.X; }
  void SetTilingX(float Value);
  float GetTilingY() const noexcept { return FTiling.Y; }
  void SetTilingY(float Value);
  bool GetIsDynamic() const noexcept { return FIsDynamic; }
  void SetIsDynamic(bool Value) { FIsDynamic = Value; }
  bool GetIgnoreInArray() const noexcept { return FIgnoreInArray; }
  void SetIgnoreInArray(bool Value) { FIgnoreInArray = Value; }
  TContextShaderKind GetShaderKind() const noexcept { return FShaderKind; }
  void SetShaderKind(TContextShaderKind Value) { FShaderKind = Value; }
  TQuorvelTextureKind GetTextureKind() const noexcept { return FTextureKind; }
  void SetTextureKind(TQuorvelTextureKind Value);
  TPixelFormatEx GetFormat() const noexcept { return FFormat; }
  void SetFormat(TPixelFormatEx Value);
  TPixelFormatEx GetInternalFormat() const noexcept { return FInternalFormat; }
  void SetInternalFormat(TPixelFormatEx Value);
  TQuorvelTextureDataType GetDataType() const noexcept { return FDataType; }
  void SetDataType(TQuorvelTextureDataType Value);
  TQuorvelTextureWrap GetWrapS() const noexcept { return FWrapping.S; }
  void SetWrapS(TQuorvelTextureWrap Value);
  TQuorvelTextureWrap GetWrapT() const noexcept { return FWrapping.T; }
  void SetWrapT(TQuorvelTextureWrap Value);
  TQuorvelTextureWrap GetWrapR() const noexcept { return FWrapping.R; }
  void SetWrapR(TQuorvelTextureWrap Value);
  TTextureFilter GetMinFilter() const noexcept { return FMinMagFilter.Min; }
  void SetMinFilter(TTextureFilter Value);
  TTextureFilter GetMagFilter() const noexcept { return FMinMagFilter.Mag; }
  void SetMagFilter(TTextureFilter Value);
  TAlphaColor GetBorderColor() const { return FBorderColor.ToAlphaColor(); }
  void SetBorderColor(TAlphaColor Value);
  const TAlphaColorF& GetBorderColorF() const noexcept { return FBorderColor; }
  bool GetProtectFormatSettings() const noexcept { return FProtectFormatSettings; }
  void SetProtectFormatSettings(bool Value) { FProtectFormatSettings = Value; }
  // Owned by the entry for its whole life; writing assigns into it.
  TQuorvelTextureBitmap* GetBitmap() const noexcept { return FBitmap.get(); }
  void SetBitmap(TQuorvelTextureBitmap* Value);

protected:
  // Tells the pool's OnUpdate (when set) that this entry changed.
  virtual void DoUpdate();

private:
  friend class TQuorvelTexturePoolEntry;
  bool SameFormats(TPixelFormatEx AComps, TPixelFormatEx AFormat, TQuorvelTextureDataType ADataType) const;
  void StorePixelFormat(TQuorvelTextureKind ATextureKind, TPixelFormatEx AComps, TPixelFormatEx AFormat,
                        TQuorvelTextureDataType ADataType, bool AProtectFormatSettings);
  // Runs AChange on the bitmap between BeginSetup and EndSetup (EndSetup also on failure).
  template <class F>
  void Setup(F&& AChange);
  void PushFormats();
  bool KindHasDepth(bool AWithArray) const;

  std::string FName;
  TPointF FTiling{1, 1};
  TOwned<TQuorvelTextureBitmap> FBitmap;
  bool FIsDynamic = false;
  bool FIgnoreInArray = false;
  TContextShaderKind FShaderKind = TContextShaderKind::PixelShader;
  TQuorvelTextureKind FTextureKind = TQuorvelTextureKind::Texture2D;
  TPixelFormatEx FInternalFormat = TPixelFormatEx::RGBA8;
  TPixelFormatEx FFormat = TPixelFormatEx::BGRA;
  TQuorvelTextureDataType FDataType = TQuorvelTextureDataType::dtUnsignedByte;
  TQuorvelTextureWrapping FWrapping;
  TQuorvelTextureMinMagFilter FMinMagFilter;
  TAlphaColorF FBorderColor{0, 0, 0, 0};
  bool FProtectFormatSettings = false;
};

class TQuorvelBitmapPool : public TOwnedCollection {
  FW_CLASS(TQuorvelBitmapPool, TOwnedCollection)

public:
  explicit TQuorvelBitmapPool(TPersistent* AOwner);

  TQuorvelBitmapPoolEntry* Items(int AIndex) const { return GetItem(AIndex)->As<TQuorvelBitmapPoolEntry>(); }
  TQuorvelBitmapPoolEntry* Add() { return TCollection::Add()->As<TQuorvelBitmapPoolEntry>(); }

  bool GetDeclareAsArray() const noexcept { return FDeclareAsArray; }
  void SetDeclareAsArray(bool Value) { FDeclareAsArray = Value; }
  const TNotifyEvent& GetOnUpdate() const noexcept { return FOnUpdate; }
  void SetOnUpdate(const TNotifyEvent& Value) { FOnUpdate = Value; }

private:
  bool FDeclareAsArray = false;
  TNotifyEvent FOnUpdate;
};

}  // namespace quorvel
