#include "lib/defs/DefTypesMaterial.h"

#include <cmath>
#include <limits>
#include <memory>

#include "framework/rtl/Finally.h"
#include "framework/rtl/SysUtils.h"
#include "lib/defs/DefTypesModel.h"
#include "lib/defs/DefTypesText.h"

namespace quorvel {

FW_CLASS_IMPL(TMaterialRefDef, "Quorvel.DefTypes")
FW_CLASS_NO_MEMBERS(TMaterialRefDef)
FW_CLASS_IMPL(TBehaviourRefDef, "Quorvel.DefTypes")
FW_CLASS_NO_MEMBERS(TBehaviourRefDef)
FW_CLASS_IMPL(TMaterialDef, "Quorvel.DefTypes")
FW_CLASS_NO_MEMBERS(TMaterialDef)

namespace {

// The list's items from the last to the first (searches that answer the last match).
template <class T, class P>
T* FindLast(const TObjectList<T>* AList, P&& APredicate) {
  if (!AList) return nullptr;
  for (int32_t i = AList->Count() - 1; i >= 0; --i)
    if (APredicate(AList->Items(i))) return AList->Items(i);
  return nullptr;
}

template <class T, class P>
void RemoveAll(TObjectList<T>* AList, P&& APredicate) {
  if (!AList) return;
  for (int32_t i = AList->Count() - 1; i >= 0; --i)
    if (APredicate(AList->Items(i))) AList->Delete(i);
}

template <class L>
int64_t ListSize(const L* AList) {
  if (!AList) return 0;
  int64_t size = static_cast<int64_t>(sizeof(L));
  for (const auto* item : *AList) size += item->GetSize();
  return size;
}

template <class L>
void WriteList(TJSONObject* AObject, const char* AName, const L* AList) {
  if (!AList) return;
  auto* arr = new TJSONArray;
  AObject->AddPair(AName, arr);
  arr->Reserve(static_cast<size_t>(AList->Count()));
  for (const auto* item : *AList) arr->AddElement(item->ToJSON());
}

// The elements of a list pair, or null when the pair is absent; a pair of another kind, or an
// element that is not an object, raises EInvalidCast.
const TJSONArray* ListPair(const TJSONObject* AValue, std::string_view AName) {
  const TJSONValue* v = AValue ? AValue->GetValue(AName) : nullptr;
  if (!v) return nullptr;
  return v->As<TJSONArray>();
}

}  // namespace

// ---------------------------------------------------------------------------------------
// TMaterialRefDef

int64_t TMaterialRefDef::GetSize() const { return TCustomDef::GetSize(); }

TJSONObject* TMaterialRefDef::ToJSON() const {
  TJSONObject* obj = TCustomDef::ToJSON();
  if (FReference) obj->AddPair("Reference", FReference->GetId());
  return obj;
}

bool TMaterialRefDef::LateResolveFromJSON(TModelDef* AModel, const TJSONObject* /*AValue*/) {
  if (!FReference && AModel) FReference = AModel->FindMaterialById(GetId());
  return true;
}

// ---------------------------------------------------------------------------------------
// TBehaviourRefDef

int64_t TBehaviourRefDef::GetSize() const { return TCustomDef::GetSize(); }

TJSONObject* TBehaviourRefDef::ToJSON() const {
  TJSONObject* obj = TCustomDef::ToJSON();
  obj->AddPair("Name", FDisplayName);
  if (FReference) obj->AddPair("Reference", FReference->GetId());
  return obj;
}

void TBehaviourRefDef::FromJSON(TModelDef* AModel, const TJSONObject* AValue) {
  TCustomDef::FromJSON(AModel, AValue);
  FDisplayName = ReadJSONString(AValue, "Name", "");
  FReference = AModel ? AModel->FindBehaviourById(GetId()) : nullptr;
}

bool TBehaviourRefDef::LateResolveFromJSON(TModelDef* AModel, const TJSONObject* /*AValue*/) {
  if (!FReference && AModel) FReference = AModel->FindBehaviourById(GetId());
  return true;
}

// ---------------------------------------------------------------------------------------
// TMaterialDef

TMaterialDef::TMaterialDef(TModelDef* AModel, std::string AId) : FModel(AModel) {
  SetId(std::move(AId));
  RegisterWithModel();
}

TMaterialDef::~TMaterialDef() {
  FreeQuietly(FTextures, "material textures");
  FreeQuietly(FShaders, "material shaders");
  FreeQuietly(FBehaviourRefs, "material behaviour references");
  FreeQuietly(FExtensions, "material extensions");
  Quietly("layered materials", [this] { ClearLayeredMaterials(); });
  // A material freed by someone else leaves the dictionary that would free it again.
  if (FRegisteredIn && FRegisteredIn->GetMaterial(FRegisteredKey) == this)
    FRegisteredIn->ExtractMaterial(FRegisteredKey);
}

void TMaterialDef::RegisterWithModel() {
  if (!FModel || GetId().empty()) return;
  if (FRegisteredIn == FModel && FRegisteredKey == GetId() && FModel->GetMaterial(GetId()) == this) return;
  FModel->AddMaterial(GetId(), this);
}

int64_t TMaterialDef::GetSize() const {
  return TCustomDef::GetSize() + ListSize(FTextures) + ListSize(FShaders) + ListSize(FBehaviourRefs) +
         ListSize(FExtensions) + ListSize(FMaterials);
}

TJSONObject* TMaterialDef::ToJSON() const {
  std::unique_ptr<TJSONObject> obj(TCustomDef::ToJSON());
  auto color = [&](const char* AName, const TAlphaColorF& AColor) {
    obj->AddPair(AName, AlphaColorFToStr(AColor, true, ' '));
  };
  auto number = [&](const char* AName, float AValue) { obj->AddPair(AName, static_cast<double>(AValue)); };
  obj->AddPair("Type", FTypeName);
  obj->AddPair("Model", FModel ? FModel->GetId() : std::string());
  obj->AddPair("Kind", static_cast<int32_t>(FKind));
  if (FKind == TMaterialDefKind::mkCustom) {
    obj->AddPair("ShadingModel", static_cast<int32_t>(FShadingModel));
    obj->AddPair("UseTexturing", FUseTexturing);
    obj->AddPair("UseTexture0", FUseTexture0);
    obj->AddPair("UseLighting", FUseLighting);
    obj->AddPair("UseVertexColor", FUseVertexColor);
    obj->AddPair("UseSpecular", FUseSpecular);
  }
  obj->AddPair("UseOpacity", FUseOpacity);
  number("Opacity", FOpacity);
  obj->AddPair("DoubleSided", FDoubleSided);
  color("Diffuse", FDiffuse);
  color("Ambient", FAmbient);
  color("Emissive", FEmissive);
  color("Specular", FSpecular);
  number("SpecPow", FSpecPow);
  number("Brightness", FBrightness);
  color("ReflectionColor", FReflectionColor);
  number("ReflectionPower", FReflectionPower);
  obj->AddPair("UseReflection", FUseReflection);
  color("RefractionColor", FRefractionColor);
  number("RefractionPower", FRefractionPower);
  obj->AddPair("UseRefraction", FUseRefraction);
  number("Metallic", FMetallic);
  number("Roughness", FRoughness);
  number("AO", FAO);
  obj->AddPair("UseClipping", FUseClipping);
  color("Clipping", FClipping);
  obj->AddPair("UseAlphaCutoff", FUseAlphaCutoff);
  number("AlphaCutoff", FAlphaCutoff);
  obj->AddPair("ParallaxOcclusionMapping", FParallaxOcclusionMapping);
  obj->AddPair("ParallaxLevels", FParallaxLevels);
  number("NormalIntensity", FNormalIntensity);
  obj->AddPair("Tonemapping", static_cast<int32_t>(FTonemapping));
  number("TonemappingExposure", FTonemappingExposure);
  WriteList(obj.get(), "Textures", FTextures);
  WriteList(obj.get(), "Shaders", FShaders);
  WriteList(obj.get(), "BehaviourRefs", FBehaviourRefs);
  WriteList(obj.get(), "Extensions", FExtensions);
  WriteList(obj.get(), "Materials", FMaterials);
  return obj.release();
}

void TMaterialDef::FromJSON(TModelDef* AModel, const TJSONObject* AValue) {
  TCustomDef::FromJSON(AModel, AValue);
  // The last "Type" pair: the second one that ToJSON writes, or the only one.
  FTypeName.clear();
  if (AValue) {
    for (const TJSONPair* pair : *AValue)
      if (pair->GetName() == "Type") {
        const auto* s = dynamic_cast<const TJSONString*>(pair->GetJsonValue());
        FTypeName = s ? std::string(s->Text()) : std::string();
      }
  }
  RegisterWithModel();

  FKind = static_cast<TMaterialDefKind>(static_cast<uint8_t>(ReadJSONInteger(AValue, "Kind", 0)));
  if (FKind == TMaterialDefKind::mkCustom) {
    FShadingModel = static_cast<TQuorvelShadingModel>(static_cast<uint8_t>(ReadJSONInteger(AValue, "ShadingModel", 0)));
    FUseTexturing = ReadJSONBoolean(AValue, "UseTexturing", false);
    FUseTexture0 = ReadJSONBoolean(AValue, "UseTexture0", false);
    FUseLighting = ReadJSONBoolean(AValue, "UseLighting", false);
    FUseVertexColor = ReadJSONBoolean(AValue, "UseVertexColor", false);
    FUseSpecular = ReadJSONBoolean(AValue, "UseSpecular", false);
  }
  auto single = [AValue](const char* AName, float ADefault) { return ReadJSONSingle(AValue, AName, ADefault); };
  FUseOpacity = ReadJSONBoolean(AValue, "UseOpacity", false);
  FOpacity = single("Opacity", 1.0f);
  FDoubleSided = ReadJSONBoolean(AValue, "DoubleSided", false);
  FDiffuse = ReadJSONAlphaColorF(AValue, "Diffuse", FDiffuse);
  FAmbient = ReadJSONAlphaColorF(AValue, "Ambient", FAmbient);
  FEmissive = ReadJSONAlphaColorF(AValue, "Emissive", FEmissive);
  FSpecular = ReadJSONAlphaColorF(AValue, "Specular", FSpecular);
  FSpecPow = single("SpecPow", FSpecPow);
  FBrightness = single("Brightness", FBrightness);
  FReflectionColor = ReadJSONAlphaColorF(AValue, "ReflectionColor", FReflectionColor);
  FReflectionPower = single("ReflectionPower", FReflectionPower);
  FUseReflection = ReadJSONBoolean(AValue, "UseReflection", false);
  FRefractionColor = ReadJSONAlphaColorF(AValue, "RefractionColor", FRefractionColor);
  FRefractionPower = single("RefractionPower", FRefractionPower);
  FUseRefraction = ReadJSONBoolean(AValue, "UseRefraction", false);
  FMetallic = single("Metallic", FMetallic);
  FRoughness = single("Roughness", FRoughness);
  FAO = single("AO", FAO);
  FClipping = ReadJSONAlphaColorF(AValue, "Clipping", FClipping);
  FUseClipping = JSONValueExists(AValue, "UseClipping") ? ReadJSONBoolean(AValue, "UseClipping", false)
                                                        : FClipping.A > 0;
  FAlphaCutoff = single("AlphaCutoff", 0);
  FUseAlphaCutoff = ReadJSONBoolean(AValue, "UseAlphaCutoff", false);
  FParallaxOcclusionMapping = ReadJSONBoolean(AValue, "ParallaxOcclusionMapping", false);
  FParallaxLevels = ReadJSONInteger(AValue, "ParallaxLevels", 16);
  FNormalIntensity = single("NormalIntensity", 0);
  FTonemapping = static_cast<TQuorvelTonemapping>(static_cast<uint8_t>(ReadJSONInteger(AValue, "Tonemapping", 0)));
  FTonemappingExposure = single("TonemappingExposure", 0);

  if (const TJSONArray* textures = ListPair(AValue, "Textures")) {
    if (!FTextures) FTextures = new TTextureList(true);
    for (const TJSONValue* element : *textures) {
      const TJSONObject* item = element->As<TJSONObject>();
      TOwned<TTextureDef> texture(New<TTextureDef>(this, TColorChannelDef::Diffuse, nullptr, false));
      texture->FromJSON(AModel, item);
      FTextures->Add(texture.release());
    }
  }
  if (const TJSONArray* shaders = ListPair(AValue, "Shaders")) {
    if (!FShaders) FShaders = new TShaderList(true);
    for (const TJSONValue* element : *shaders) {
      const TJSONObject* item = element->As<TJSONObject>();
      TOwned<TShaderDef> shader(New<TShaderDef>());
      shader->FromJSON(AModel, item);
      FShaders->Add(shader.release());
    }
  }
  if (const TJSONArray* refs = ListPair(AValue, "BehaviourRefs")) {
    if (!FBehaviourRefs) FBehaviourRefs = new TBehaviourRefList(true);
    for (const TJSONValue* element : *refs) {
      const TJSONObject* item = element->As<TJSONObject>();
      TOwned<TBehaviourRefDef> ref(New<TBehaviourRefDef>());
      ref->FromJSON(AModel, item);
      FBehaviourRefs->Add(ref.release());
    }
  }
  if (const TJSONArray* exts = ListPair(AValue, "Extensions")) {
    if (!FExtensions) FExtensions = new TExtensionDefList;
    for (const TJSONValue* element : *exts) {
      const TJSONObject* item = element->As<TJSONObject>();
      TOwned<TExtensionDef> ext(New<TExtensionDef>());
      ext->FromJSON(AModel, item);
      FExtensions->Add(ext.release());
    }
  }
  if (const TJSONArray* subs = ListPair(AValue, "Materials")) {
    for (const TJSONValue* element : *subs) {
      const TJSONObject* item = element->As<TJSONObject>();
      TOwned<TMaterialDef> sub(New<TMaterialDef>(FModel, std::string()));
      sub->FromJSON(AModel, item);
      // Registered under its id, it is the dictionary's until a parent takes it (also when this
      // parent refuses it below); otherwise nobody else holds it.
      TMaterialDef* material = sub->FRegisteredIn ? sub.release() : sub.get();
      AddLayeredMaterial(material);
      sub.release();
    }
  }
}

// ---- textures ----

TTextureDef* TMaterialDef::AddTexture(TTextureDef* ATexDef) {
  if (!FTextures) FTextures = new TTextureList(true);
  FTextures->Add(ATexDef);
  return ATexDef;
}

TTextureDef* TMaterialDef::AddTexture(TColorChannelDef AChannel, TObject* AAsset, bool AIsAssetOwner) {
  return AddTexture(New<TTextureDef>(this, AChannel, AAsset, AIsAssetOwner));
}

TTextureDef* TMaterialDef::GetTexture(TColorChannelDef AChannel) const {
  if (!FTextures) return nullptr;
  for (TTextureDef* texture : *FTextures)
    if (texture->GetChannel() == AChannel) return texture;
  return nullptr;
}

void TMaterialDef::ClearTextures() {
  if (FTextures) FTextures->Clear();
}

// ---- shaders ----

TShaderDef* TMaterialDef::AddShader(const std::string& AId, TContextShaderKindEx AKind, const std::string& ASourceCode,
                                    TShaderLanguage ALanguage) {
  TOwned<TShaderDef> shader(New<TShaderDef>());
  shader->SetId(AId);
  shader->SetKind(AKind);
  shader->SetLanguage(ALanguage);
  shader->GetSourceCode()->SetText(ASourceCode);
  if (!FShaders) FShaders = new TShaderList(true);
  FShaders->Add(shader.get());
  return shader.release();
}

TShaderDef* TMaterialDef::GetShader(std::string_view AId) const {
  if (!FShaders) return nullptr;
  for (TShaderDef* shader : *FShaders)
    if (shader->GetId() == AId) return shader;
  return nullptr;
}

TShaderDef* TMaterialDef::GetShader(TContextShaderKindEx AKind) const {
  if (!FShaders) return nullptr;
  for (TShaderDef* shader : *FShaders)
    if (shader->GetKind() == AKind) return shader;
  return nullptr;
}

void TMaterialDef::RemoveShader(std::string_view AId) {
  RemoveAll(FShaders, [&](const TShaderDef* s) { return s->GetId() == AId; });
}

void TMaterialDef::RemoveShaders(TContextShaderKindEx AKind) {
  RemoveAll(FShaders, [&](const TShaderDef* s) { return s->GetKind() == AKind; });
}

void TMaterialDef::ClearShaders() {
  if (FShaders) FShaders->Clear();
}

// ---- layered materials ----

namespace {
constexpr const char* SCannotAddSubmaterial =
    "cannot add submaterial to none layered material - set \"<TMaterialDef>.Kind\" at first to "
    "\"TMaterialDefKind.Layered\"";
constexpr const char* SCannotGetSubmaterial =
    "cannot get submaterial of none layered material - set \"<TMaterialDef>.Kind\" at first to "
    "\"TMaterialDefKind.Layered\"";
}  // namespace

void TMaterialDef::AddLayeredMaterial(TMaterialDef* AMaterial) {
  if (FKind != TMaterialDefKind::mkLayered) throw Exception(SCannotAddSubmaterial);
  if (!FMaterials) FMaterials = new TMaterialList(true);
  FMaterials->Add(AMaterial);
  if (AMaterial) AMaterial->FLayeredParent = this;
}

TMaterialDef* TMaterialDef::GetLayeredMaterial(std::string_view AId) const {
  if (FKind != TMaterialDefKind::mkLayered) throw Exception(SCannotGetSubmaterial);
  if (!FMaterials) return nullptr;
  for (TMaterialDef* m : *FMaterials)
    if (m && m->GetId() == AId) return m;
  return nullptr;
}

TMaterialDef* TMaterialDef::GetLayeredMaterialByIndex(int32_t AIdx) const {
  if (FKind != TMaterialDefKind::mkLayered) throw Exception(SCannotGetSubmaterial);
  if (!FMaterials || AIdx < 0 || AIdx >= FMaterials->Count()) return nullptr;
  return FMaterials->Items(AIdx);
}

void TMaterialDef::ClearLayeredMaterials() { FreeAndNil(FMaterials); }

// ---- behaviour references ----

TBehaviourRefDef* TMaterialDef::AddMaterialBehaviourRef(const std::string& ADisplayName, TBehaviourDef* ABehaviour) {
  if (ADisplayName.empty() || !ABehaviour) return nullptr;
  auto* ref = New<TBehaviourRefDef>();
  ref->SetId(ABehaviour->GetId());
  ref->SetDisplayName(ADisplayName);
  ref->SetReference(ABehaviour);
  if (!FBehaviourRefs) FBehaviourRefs = new TBehaviourRefList(true);
  FBehaviourRefs->Add(ref);
  return ref;
}

TBehaviourRefDef* TMaterialDef::GetMaterialBehaviourRef(std::string_view AUniqueID) const {
  return FindLast(FBehaviourRefs, [&](const TBehaviourRefDef* r) { return r->GetId() == AUniqueID; });
}

TBehaviourRefDef* TMaterialDef::GetMaterialBehaviourRef(const TBehaviourDef* ABehaviour) const {
  return FindLast(FBehaviourRefs, [&](const TBehaviourRefDef* r) { return r->GetReference() == ABehaviour; });
}

TBehaviourRefDef* TMaterialDef::GetMaterialBehaviourRefByDisplayName(std::string_view ADisplayName) const {
  return FindLast(FBehaviourRefs, [&](const TBehaviourRefDef* r) { return r->GetDisplayName() == ADisplayName; });
}

void TMaterialDef::RemoveMaterialBehaviourRef(std::string_view AId) {
  RemoveAll(FBehaviourRefs, [&](const TBehaviourRefDef* r) { return r->GetId() == AId; });
}

void TMaterialDef::RemoveMaterialBehaviourRef(const TBehaviourDef* ABehaviour) {
  RemoveAll(FBehaviourRefs, [&](const TBehaviourRefDef* r) { return r->GetReference() == ABehaviour; });
}

void TMaterialDef::ClearMaterialBehaviourRefs() {
  if (FBehaviourRefs) FBehaviourRefs->Clear();
}

// ---- extensions ----

TExtensionDef* TMaterialDef::AddExtension(const std::string& AId) {
  auto* ext = New<TExtensionDef>();
  ext->SetId(AId);
  if (!FExtensions) FExtensions = new TExtensionDefList;
  FExtensions->Add(ext);
  return ext;
}

TExtensionDef* TMaterialDef::GetExtension(std::string_view AId) const {
  return FindLast<TExtensionDef>(FExtensions, [&](const TExtensionDef* e) { return e->GetId() == AId; });
}

void TMaterialDef::RemoveExtension(std::string_view AId) {
  RemoveAll<TExtensionDef>(FExtensions, [&](const TExtensionDef* e) { return e->GetId() == AId; });
}

void TMaterialDef::ClearExtensions() {
  if (FExtensions) FExtensions->Clear();
}

}  // namespace quorvel
