#include "lib/defs/DefTypesTexture.h"

#include <algorithm>
#include <iterator>
#include <memory>

#include "framework/io/Path.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/SysUtils.h"
#include "lib/defs/DefTypesMaterial.h"
#include "lib/defs/DefTypesModel.h"
#include "lib/formats/assets/AssetsManager.h"

namespace quorvel {

FW_CLASS_IMPL(TSamplerDef, "Quorvel.DefTypes")
FW_CLASS_NO_MEMBERS(TSamplerDef)
FW_CLASS_IMPL(TTextureDef, "Quorvel.DefTypes")
FW_CLASS_NO_MEMBERS(TTextureDef)
FW_CLASS_IMPL(TShaderDef, "Quorvel.DefTypes")
FW_CLASS_NO_MEMBERS(TShaderDef)

namespace {

// The lower-cased text of a pair that is present and not empty; empty otherwise.
std::string LowerValue(const TJSONObject* AValue, std::string_view AName) {
  return LowerCase(TCustomDef::ReadJSONString(AValue, AName, ""));
}

TQuorvelTextureWrap SamplerWrap(const std::string& ALower, TQuorvelTextureWrap ACurrent) {
  if (ALower.empty()) return ACurrent;
  if (ALower == "clamp") return TQuorvelTextureWrap::Clamp;
  if (ALower == "clamptoborder") return TQuorvelTextureWrap::ClampToBorder;
  if (ALower == "repeated") return TQuorvelTextureWrap::Repeated;
  if (ALower == "mirroredrepeat") return TQuorvelTextureWrap::MirroredRepeat;
  return TQuorvelTextureWrap::ClampToEdge;
}

TTextureFilter SamplerFilter(const std::string& ALower, TTextureFilter ACurrent) {
  if (ALower.empty()) return ACurrent;
  return ALower == "nearest" ? TTextureFilter::Nearest : TTextureFilter::Linear;
}

// An integer ordinal as an enumeration of one byte (its low byte, as stored files expect).
template <class E>
E ByteOrdinal(int32_t AValue) {
  return static_cast<E>(static_cast<uint8_t>(AValue));
}

}  // namespace

// ---------------------------------------------------------------------------------------
// TSamplerDef

TJSONObject* TSamplerDef::ToJSON() const {
  std::unique_ptr<TJSONObject> obj(TCustomDef::ToJSON());
  obj->AddPair("Kind", EnumToString(FTextureKind));
  obj->AddPair("InternalFormat", static_cast<int32_t>(FInternalFormat));
  obj->AddPair("Format", static_cast<int32_t>(FFormat));
  obj->AddPair("DataType", static_cast<int32_t>(FDataType));
  obj->AddPair("BorderColor", AlphaColorFToStr(FBorderColor, true, ' '));
  obj->AddPair("MinFilter", EnumToString(FMinFilter));
  obj->AddPair("MagFilter", EnumToString(FMagFilter));
  obj->AddPair("WrapS", EnumToString(FWrapS));
  obj->AddPair("WrapT", EnumToString(FWrapT));
  obj->AddPair("WrapR", EnumToString(FWrapR));
  return obj.release();
}

void TSamplerDef::FromJSON(TModelDef* AModel, const TJSONObject* AValue) {
  TCustomDef::FromJSON(AModel, AValue);
  const std::string kind = LowerCase(ReadJSONString(AValue, "Kind", "Texture2D"));
  if (kind == "texture3d")
    FTextureKind = TQuorvelTextureKind::Texture3D;
  else if (kind == "cubemap")
    FTextureKind = TQuorvelTextureKind::CubeMap;
  else if (kind == "imagetexture3d")
    FTextureKind = TQuorvelTextureKind::ImageTexture3D;
  else if (kind == "array2d")
    FTextureKind = TQuorvelTextureKind::Array2D;
  else
    FTextureKind = TQuorvelTextureKind::Texture2D;
  FInternalFormat = ByteOrdinal<TPixelFormatEx>(ReadJSONInteger(AValue, "InternalFormat", 59));
  FFormat = ByteOrdinal<TPixelFormatEx>(ReadJSONInteger(AValue, "Format", 4));
  FDataType = ByteOrdinal<TQuorvelTextureDataType>(ReadJSONInteger(AValue, "DataType", 1));
  if (!ReadJSONString(AValue, "BorderColor", "").empty())
    FBorderColor = ReadJSONAlphaColorF(AValue, "BorderColor", FBorderColor);
  FMinFilter = SamplerFilter(LowerValue(AValue, "MinFilter"), FMinFilter);
  FMagFilter = SamplerFilter(LowerValue(AValue, "MagFilter"), FMagFilter);
  FWrapS = SamplerWrap(LowerValue(AValue, "WrapS"), FWrapS);
  FWrapT = SamplerWrap(LowerValue(AValue, "WrapT"), FWrapT);
  FWrapR = SamplerWrap(LowerValue(AValue, "WrapR"), FWrapR);
}

// ---------------------------------------------------------------------------------------
// TTextureDef

TTextureDef::TTextureDef(TMaterialDef* AMaterial, TColorChannelDef AChannel, TObject* AAsset, bool AIsAssetOwner)
    : FMaterial(AMaterial), FChannel(AChannel), FSampler(New<TSamplerDef>()) {
  // Set while IsAssetOwner is still False: a handed-in asset keeps its own stand-alone mark.
  SetAssetRef(AAsset);
  FIsAssetOwner = AIsAssetOwner;
}

TTextureDef::~TTextureDef() { ReleaseAsset(); }

void TTextureDef::ReleaseAsset() {
  TObject* asset = FAssetRef;
  FAssetRef = nullptr;
  if (!asset || !FIsAssetOwner) return;
  TModelDef* model = FMaterial ? FMaterial->GetModel() : nullptr;
  if (model) {
    const auto& held = model->GetTextureAssets();
    const auto it = std::find(held.begin(), held.end(), asset);
    if (it != held.end()) {
      // The model frees the stand-alone assets it holds; any other stays this texture's.
      if ((*it)->GetIsStandalone()) return;
      model->UnregisterTextureAsset(asset);
    }
  }
  FreeQuietly(asset, "texture asset");
}

void TTextureDef::SetAssetRef(TObject* AValue) {
  if (AValue == FAssetRef) return;
  ReleaseAsset();
  FAssetRef = AValue;
  TModelDef* model = FMaterial ? FMaterial->GetModel() : nullptr;
  if (!AValue || !model) return;
  if (FIsAssetOwner)
    if (auto* asset = dynamic_cast<TQuorvelAsset*>(AValue)) asset->SetIsStandalone(true);
  model->RegisterTextureAsset(AValue);
}

int64_t TTextureDef::GetSize() const {
  int64_t size = TCustomDef::GetSize();
  if (FExtensions) {
    size += static_cast<int64_t>(sizeof(TExtensionDefList));
    for (const TExtensionDef* ext : *FExtensions) size += ext->GetSize();
  }
  return size;
}

TObject* TTextureDef::GetAssetsPackage() const {
  if (!FMaterial) throw Exception("failed to get package - material of TTextureDef not assigned");
  return FMaterial->GetModel() ? FMaterial->GetModel()->GetPackage() : nullptr;
}

TJSONObject* TTextureDef::ToJSON() const {
  std::unique_ptr<TJSONObject> obj(TCustomDef::ToJSON());
  obj->AddPair("Channel", static_cast<int32_t>(FChannel));
  obj->AddPair("Flipping", TextureFlippingsToStr(FFlipping));
  obj->AddPair("Tiling", PointFToStr(FTiling, ' '));
  obj->AddPair("IsDynamic", FIsDynamic);
  obj->AddPair("IgnoreInArray", FIgnoreInArray);
  obj->AddPair("Destination", FDestination == TContextShaderKind::VertexShader ? "VertexShader" : "PixelShader");
  obj->AddPair("Sampler", FSampler->ToJSON());
  if (const auto* asset = dynamic_cast<const TQuorvelAsset*>(FAssetRef))
    obj->AddPair("Asset", asset->ToJSON());
  else
    obj->AddPair("Asset", new TJSONNull);
  if (FExtensions) {
    auto* arr = new TJSONArray;
    obj->AddPair("Extensions", arr);
    for (const TExtensionDef* ext : *FExtensions) arr->AddElement(ext->ToJSON());
  }
  return obj.release();
}

void TTextureDef::FromJSON(TModelDef* AModel, const TJSONObject* AValue) {
  TCustomDef::FromJSON(AModel, AValue);
  FChannel = ByteOrdinal<TColorChannelDef>(ReadJSONInteger(AValue, "Channel", 0));
  const std::string flipping = ReadJSONString(AValue, "Flipping", "");
  FFlipping = flipping.empty() ? TTextureFlippings{} : StrToTextureFlippings(flipping);
  // Older files kept the wraps at texture level; the sampler below is read after them.
  if (const std::string s = ReadJSONString(AValue, "WrapS", ""); !s.empty()) FSampler->SetWrapS(StrToTextureWrap(s));
  if (const std::string t = ReadJSONString(AValue, "WrapT", ""); !t.empty()) FSampler->SetWrapT(StrToTextureWrap(t));
  if (const std::string tiling = ReadJSONString(AValue, "Tiling", ""); !tiling.empty())
    FTiling = StrToPointF(tiling);
  FIsDynamic = ReadJSONBoolean(AValue, "IsDynamic", false);
  FIgnoreInArray = ReadJSONBoolean(AValue, "IgnoreInArray", false);
  FDestination = LowerCase(ReadJSONString(AValue, "Destination", "PixelShader")) == "vertexshader"
                     ? TContextShaderKind::VertexShader
                     : TContextShaderKind::PixelShader;
  if (JSONValueIs<TJSONObject>(AValue, "Sampler"))
    FSampler->FromJSON(AModel, static_cast<const TJSONObject*>(AValue->GetValue("Sampler")));
  if (JSONValueIs<TJSONObject>(AValue, "Asset")) {
    const auto* asset = static_cast<const TJSONObject*>(AValue->GetValue("Asset"));
    if (!JSONValueExists(asset, "Type")) throw Exception("failed to load asset - type not set");
    const std::string type = ReadJSONValue(asset, "Type", "");
    if (type != "Quorvel.AssetsManager.TQuorvelTextureAsset" && type != "TQuorvelTextureAsset")
      throw Exception(Format("TextureDef contains a not compatible asset: %s", {type}));
    const TGUID id = ReadJSONGUID(asset, "Id", TGUID::Empty());
    if (TObject* package = GetAssetsPackage())
      ReadPackageAsset(package->As<TQuorvelAssetsPackage>(), id, asset);
    else
      ReadStandaloneAsset(asset);
  }
  if (const TJSONValue* exts = AValue ? AValue->GetValue("Extensions") : nullptr) {
    const auto* arr = exts->As<TJSONArray>();
    if (!FExtensions) FExtensions.reset(New<TExtensionDefList>());
    for (const TJSONValue* element : *arr) {
      const TJSONObject* item = element->As<TJSONObject>();
      TOwned<TExtensionDef> ext(New<TExtensionDef>());
      ext->FromJSON(AModel, item);
      FExtensions->Add(ext.release());
    }
  }
}

void TTextureDef::ReadPackageAsset(TQuorvelAssetsPackage* APackage, const TGUID& AId, const TJSONObject* AAsset) {
  TModelDef* model = FMaterial->GetModel();
  TQuorvelAsset* owner = model && model->GetAsset() ? model->GetAsset()->As<TQuorvelAsset>() : nullptr;
  const int32_t group = TQuorvelTextureAsset::GetGroupId();
  // A package (or package asset) whose group there holds no textures can neither hold this
  // asset nor take a new one: it is refused before anything is searched or added.
  TQuorvelAssetsGroup* assets = owner ? owner->GetSubGroup(group) : APackage->GetGroup(group);
  if (!assets || assets->GetAssetClassName() != TQuorvelTextureAsset::StaticClass()->ClassName())
    throw EQuorvelAssetsException(Format("invalid group name \"%d\" for asset \"%s\"", {group, AId.ToString()}));
  if (TQuorvelAsset* found = APackage->GetOwnerAssetFromId(owner, group, AId)) {
    SetAssetRef(found);
    return;
  }
  // Not in the package yet: an empty one is added (the package owns it) and reads its names.
  auto* asset = assets->AddEmptyAsset(AId)->As<TQuorvelTextureAsset>();
  SetAssetRef(asset);
  asset->FromJSON(AAsset);
  std::string name = asset->GetFilename();
  // A package moved with its model keeps its images beside the model file.
  if (!TFile::Exists(name) && model)
    name = TPath::Combine(TPath::GetDirectoryName(model->GetFilename()), TPath::GetFileName(name));
  if (TFile::Exists(name))
    asset->ImportFromFile(name, {});
  else
    asset->ImportFromStream(name, nullptr, {});
}

void TTextureDef::ReadStandaloneAsset(const TJSONObject* AAsset) {
  TModelDef* model = FMaterial->GetModel();
  TOwned<TQuorvelTextureAsset> asset(New<TQuorvelTextureAsset>(nullptr));
  asset->FromJSON(AAsset);
  // Whatever the texture held goes first, under the ownership it had.
  ReleaseAsset();
  if (TQuorvelTextureAsset* existing = model ? model->TryGetTextureAsset(asset.get()) : nullptr) {
    FIsAssetOwner = false;
    FAssetRef = existing;  // already registered
    return;
  }
  FIsAssetOwner = true;
  TQuorvelTextureAsset* own = asset.get();
  SetAssetRef(asset.release());
  std::string name = own->GetFilename();
  if (model && !TPath::IsPathRooted(name)) name = TPath::Combine(TPath::GetDirectoryName(model->GetFilename()), name);
  own->ImportFromStream(name, nullptr, {});
}

TBitmap* TTextureDef::GetAssetBitmapInstance(bool ADoClone) {
  if (!FAssetRef) return nullptr;
  auto* asset = dynamic_cast<TQuorvelTextureAsset*>(FAssetRef);
  TBitmap* bitmap = asset ? asset->GetBitmap() : nullptr;
  if (!bitmap || bitmap->IsEmpty())
    throw Exception("failed to request bitmap instance of texture asset - texture was not loaded physically yet");
  if (asset->GetCached() && asset->GetIsStandalone()) ADoClone = true;
  if (ADoClone) {
    TOwned<TQuorvelTextureBitmap> copy(TQuorvelTextureBitmap::Create());
    copy->Assign(bitmap);
    return copy.release();
  }
  if (auto* texture = dynamic_cast<TQuorvelTextureBitmap*>(bitmap)) {
    texture->SetWrapS(FSampler->GetWrapS());
    texture->SetWrapT(FSampler->GetWrapT());
    texture->SetWrapR(FSampler->GetWrapR());
  }
  auto align = [&](TTextureFlipping AAxis, auto AFlip) {
    const bool wanted = FFlipping.Contains(AAxis);
    if (wanted == FFlipState.Contains(AAxis)) return;
    AFlip();
    if (wanted)
      FFlipState.Include(AAxis);
    else
      FFlipState.Exclude(AAxis);
  };
  align(TTextureFlipping::Vertical, [&] { bitmap->FlipVertical(); });
  align(TTextureFlipping::Horizontal, [&] { bitmap->FlipHorizontal(); });
  return bitmap;
}

TExtensionDef* TTextureDef::AddExtension(const std::string& AId) {
  if (!FExtensions) FExtensions.reset(New<TExtensionDefList>());
  auto* ext = New<TExtensionDef>();
  ext->SetId(AId);
  FExtensions->Add(ext);
  return ext;
}

TExtensionDef* TTextureDef::GetExtension(std::string_view AId) const {
  if (!FExtensions) return nullptr;
  for (TExtensionDef* ext : *FExtensions)
    if (ext->GetId() == AId) return ext;
  return nullptr;
}

void TTextureDef::RemoveExtension(std::string_view AId) {
  if (!FExtensions) return;
  for (int32_t i = 0; i < FExtensions->Count(); ++i)
    if (FExtensions->Items(i)->GetId() == AId) {
      FExtensions->Delete(i);
      return;
    }
}

void TTextureDef::ClearExtensions() {
  if (FExtensions) FExtensions->Clear();
}

// ---------------------------------------------------------------------------------------
// TShaderDef

namespace {

// In the order of TContextShaderKindEx.
constexpr const char* ShaderKindNames[] = {"VertexShader", "PixelShader", "GeometryShader", "TessEvalShader",
                                           "TessCtrlShader"};

}  // namespace

TShaderDef::TShaderDef() : FSourceCode(New<TStringList>()) {}

void TShaderDef::SetSourceCode(const TStrings* AValue) {
  if (AValue)
    FSourceCode->Assign(*AValue);
  else
    FSourceCode->Clear();
}

TJSONObject* TShaderDef::ToJSON() const {
  std::unique_ptr<TJSONObject> obj(TCustomDef::ToJSON());
  // Every kind is stored: older readers leave a kind they do not know as it was.
  if (size_t(FKind) < std::size(ShaderKindNames)) obj->AddPair("Kind", ShaderKindNames[size_t(FKind)]);
  obj->AddPair("Language", EnumToString(FLanguage));
  obj->AddPair("SourceCode", FSourceCode->GetText());
  return obj.release();
}

void TShaderDef::FromJSON(TModelDef* AModel, const TJSONObject* AValue) {
  TCustomDef::FromJSON(AModel, AValue);
  const std::string kind = UpperCase(ReadJSONString(AValue, "Kind", ""));
  for (size_t i = 0; i < std::size(ShaderKindNames); ++i)
    if (kind == UpperCase(ShaderKindNames[i])) FKind = TContextShaderKindEx(i);
  const std::string language = UpperCase(ReadJSONString(AValue, "Language", "GLSL"));
  if (language == "GLSL")
    FLanguage = TShaderLanguage::GLSL;
  else if (language == "HLSL")
    FLanguage = TShaderLanguage::HLSL;
  else if (language == "MSL")
    FLanguage = TShaderLanguage::MSL;
  FSourceCode->SetText(ReadJSONString(AValue, "SourceCode", ""));
}

}  // namespace quorvel
