#pragma once
// Unit Quorvel.DefTypes, textures: TSamplerDef (sampler settings), TTextureDef (one texture slot
// of a material: channel, flips, tiling, shader stage, sampler and the texture asset holding the
// image) and TShaderDef (one shader source of a material).
//
// The image of a texture is a texture asset of the asset layer: one of the model's package, or
// a stand-alone one that the model's texture assets hold.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "framework/gui/Bitmap.h"
#include "framework/gui3d/Shader.h"
#include "framework/gui3d/Texture.h"
#include "framework/math/AlphaColor.h"
#include "framework/math/Point.h"
#include "framework/rtl/Enum.h"
#include "framework/rtl/StringList.h"
#include "lib/context/ContextTexturing.h"
#include "lib/context/ContextTypes.h"
#include "framework/rtl/Guid.h"
#include "lib/defs/DefTypesBase.h"
#include "lib/defs/DefTypesProperties.h"
#include "lib/defs/DefTypesText.h"

namespace quorvel {

class TMaterialDef;
class TQuorvelAssetsPackage;
class TTextureDef;

// Stored as ordinals: keep the values.
enum class TColorChannelDef : uint8_t {
  Diffuse = 0, Ambient = 1, Emissive = 2, Specular = 3, Normal = 4, Opacity = 5, Reflection = 6, Refraction = 7,
  Environment = 8, Lightmap = 9, Displacement = 10, Metalness = 11, Roughness = 12, AO = 13, HeightMap = 14,
  POM = 15, Depth = 16, UserSpecific = 17
};
FW_ENUM(TColorChannelDef, Diffuse, Ambient, Emissive, Specular, Normal, Opacity, Reflection, Refraction, Environment,
        Lightmap, Displacement, Metalness, Roughness, AO, HeightMap, POM, Depth, UserSpecific)

enum class TShaderLanguage : uint8_t { GLSL = 0, HLSL = 1, MSL = 2 };
FW_ENUM(TShaderLanguage, GLSL, HLSL, MSL)

class TSamplerDef : public TCustomDef {
  QUORVEL_DEF_CLASS(TSamplerDef, TCustomDef)

public:
  TJSONObject* ToJSON() const override;
  void FromJSON(TModelDef* AModel, const TJSONObject* AValue) override;

  TQuorvelTextureKind GetTextureKind() const noexcept { return FTextureKind; }
  void SetTextureKind(TQuorvelTextureKind AValue) { FTextureKind = AValue; }
  TPixelFormatEx GetInternalFormat() const noexcept { return FInternalFormat; }
  void SetInternalFormat(TPixelFormatEx AValue) { FInternalFormat = AValue; }
  TPixelFormatEx GetFormat() const noexcept { return FFormat; }
  void SetFormat(TPixelFormatEx AValue) { FFormat = AValue; }
  TQuorvelTextureDataType GetDataType() const noexcept { return FDataType; }
  void SetDataType(TQuorvelTextureDataType AValue) { FDataType = AValue; }
  const TAlphaColorF& GetBorderColor() const noexcept { return FBorderColor; }
  void SetBorderColor(const TAlphaColorF& AValue) { FBorderColor = AValue; }
  TTextureFilter GetMinFilter() const noexcept { return FMinFilter; }
  void SetMinFilter(TTextureFilter AValue) { FMinFilter = AValue; }
  TTextureFilter GetMagFilter() const noexcept { return FMagFilter; }
  void SetMagFilter(TTextureFilter AValue) { FMagFilter = AValue; }
  TQuorvelTextureWrap GetWrapS() const noexcept { return FWrapS; }
  void SetWrapS(TQuorvelTextureWrap AValue) { FWrapS = AValue; }
  TQuorvelTextureWrap GetWrapT() const noexcept { return FWrapT; }
  void SetWrapT(TQuorvelTextureWrap AValue) { FWrapT = AValue; }
  TQuorvelTextureWrap GetWrapR() const noexcept { return FWrapR; }
  void SetWrapR(TQuorvelTextureWrap AValue) { FWrapR = AValue; }

private:
  TQuorvelTextureKind FTextureKind = TQuorvelTextureKind::Texture2D;
  TPixelFormatEx FInternalFormat = TPixelFormatEx::RGBA8;
  TPixelFormatEx FFormat = TPixelFormatEx::BGRA;
  TQuorvelTextureDataType FDataType = TQuorvelTextureDataType::dtUnsignedByte;
  TAlphaColorF FBorderColor{0, 0, 0, 0};
  TTextureFilter FMinFilter = TTextureFilter::Linear;
  TTextureFilter FMagFilter = TTextureFilter::Linear;
  TQuorvelTextureWrap FWrapS = TQuorvelTextureWrap::ClampToEdge;
  TQuorvelTextureWrap FWrapT = TQuorvelTextureWrap::ClampToEdge;
  TQuorvelTextureWrap FWrapR = TQuorvelTextureWrap::ClampToEdge;
};

class TTextureDef : public TCustomDef {
  QUORVEL_DEF_CLASS(TTextureDef, TCustomDef)

public:
  // AIsAssetOwner: the texture brought its own asset and frees it, unless the model's texture
  // assets free it (see SetAssetRef). AAsset: a texture asset (TQuorvelTextureAsset) or null.
  explicit TTextureDef(TMaterialDef* AMaterial = nullptr, TColorChannelDef AChannel = TColorChannelDef::Diffuse,
                       TObject* AAsset = nullptr, bool AIsAssetOwner = false);
  ~TTextureDef() override;

  int64_t GetSize() const override;
  // The package of the material's model; raises without a material.
  TObject* GetAssetsPackage() const override;
  TJSONObject* ToJSON() const override;
  void FromJSON(TModelDef* AModel, const TJSONObject* AValue) override;

  // Null without asset. ADoClone (forced for a cached stand-alone asset): a new texture bitmap
  // the caller owns, a plain copy without wraps or flips. Otherwise the asset's own bitmap with
  // the sampler's wraps and the wanted flips applied (each at most once).
  TBitmap* GetAssetBitmapInstance(bool ADoClone);

  TExtensionDef* AddExtension(const std::string& AId);
  // The first extension with that id; null when none.
  TExtensionDef* GetExtension(std::string_view AId) const;
  // Removes the first match only.
  void RemoveExtension(std::string_view AId);
  void ClearExtensions();

  const TTextureFlippings& GetFlipState() const noexcept { return FFlipState; }
  TMaterialDef* GetMaterial() const noexcept { return FMaterial; }
  TColorChannelDef GetChannel() const noexcept { return FChannel; }
  void SetChannel(TColorChannelDef AValue) { FChannel = AValue; }
  TSamplerDef* GetSampler() const noexcept { return FSampler.get(); }
  bool GetIsAssetOwner() const noexcept { return FIsAssetOwner; }
  void SetIsAssetOwner(bool AValue) { FIsAssetOwner = AValue; }
  TObject* GetAssetRef() const noexcept { return FAssetRef; }
  // With a material of a model: an owned asset is marked stand-alone, then the asset is entered
  // in the model's texture assets (RegisterTextureAsset). An owned asset is freed once: by the
  // model when it holds it as a stand-alone asset, else by this texture when it lets go of it
  // (taken out of the model's texture assets first).
  void SetAssetRef(TObject* AValue);
  const TTextureFlippings& GetFlipping() const noexcept { return FFlipping; }
  void SetFlipping(const TTextureFlippings& AValue) { FFlipping = AValue; }
  const TPointF& GetTiling() const noexcept { return FTiling; }
  void SetTiling(const TPointF& AValue) { FTiling = AValue; }
  bool GetIsDynamic() const noexcept { return FIsDynamic; }
  void SetIsDynamic(bool AValue) { FIsDynamic = AValue; }
  bool GetIgnoreInArray() const noexcept { return FIgnoreInArray; }
  void SetIgnoreInArray(bool AValue) { FIgnoreInArray = AValue; }
  TContextShaderKind GetDestination() const noexcept { return FDestination; }
  void SetDestination(TContextShaderKind AValue) { FDestination = AValue; }
  TExtensionDefList* GetExtensions() const noexcept { return FExtensions.get(); }
  TQuorvelTextureWrap GetWrapS() const noexcept { return FSampler->GetWrapS(); }
  void SetWrapS(TQuorvelTextureWrap AValue) { FSampler->SetWrapS(AValue); }
  TQuorvelTextureWrap GetWrapT() const noexcept { return FSampler->GetWrapT(); }
  void SetWrapT(TQuorvelTextureWrap AValue) { FSampler->SetWrapT(AValue); }
  TQuorvelTextureWrap GetWrapR() const noexcept { return FSampler->GetWrapR(); }
  void SetWrapR(TQuorvelTextureWrap AValue) { FSampler->SetWrapR(AValue); }

private:
  void ReleaseAsset();
  // The two ways of reading an "Asset" object: from the model's package, or stand-alone.
  void ReadPackageAsset(TQuorvelAssetsPackage* APackage, const TGUID& AId, const TJSONObject* AAsset);
  void ReadStandaloneAsset(const TJSONObject* AAsset);

  TTextureFlippings FFlipState;
  TMaterialDef* FMaterial = nullptr;  // not owned
  TColorChannelDef FChannel = TColorChannelDef::Diffuse;
  TOwned<TSamplerDef> FSampler;
  bool FIsAssetOwner = false;
  TObject* FAssetRef = nullptr;  // freed here only when owned and not the model's to free
  TTextureFlippings FFlipping{TTextureFlipping::Vertical};
  TPointF FTiling{1, 1};
  bool FIsDynamic = false;
  bool FIgnoreInArray = false;
  TContextShaderKind FDestination = TContextShaderKind::PixelShader;
  TOwned<TExtensionDefList> FExtensions;
};

class TShaderDef : public TCustomDef {
  QUORVEL_DEF_CLASS(TShaderDef, TCustomDef)

public:
  TShaderDef();

  TJSONObject* ToJSON() const override;
  void FromJSON(TModelDef* AModel, const TJSONObject* AValue) override;

  TContextShaderKindEx GetKind() const noexcept { return FKind; }
  void SetKind(TContextShaderKindEx AValue) { FKind = AValue; }
  TShaderLanguage GetLanguage() const noexcept { return FLanguage; }
  void SetLanguage(TShaderLanguage AValue) { FLanguage = AValue; }
  TStringList* GetSourceCode() const noexcept { return FSourceCode.get(); }
  // Copies the lines.
  void SetSourceCode(const TStrings* AValue);

private:
  TContextShaderKindEx FKind = TContextShaderKindEx::VertexShader;
  TShaderLanguage FLanguage = TShaderLanguage::GLSL;
  TOwned<TStringList> FSourceCode;
};

}  // namespace quorvel
