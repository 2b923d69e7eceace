// The default source to and from material definitions.
#include <cmath>

#include "framework/rtl/Exceptions.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/SysUtils.h"
#include "lib/defs/DefTypesMaterial.h"
#include "lib/formats/assets/AssetsManager.h"
#include "lib/materials/MaterialDefault.h"
#include "lib/scene/ControlComponents.h"

namespace quorvel {

namespace {

const char* const ChannelNames[] = {"Texture0",          "AmbientTexture",    "EmissiveTexture",
                                    "SpecularMapTexture", "NormalMapTexture", "OpacityTexture",
                                    "ReflectionTexture", "RefractionTexture", "EnvironmentTexture",
                                    "LightMap",          "DisplacementMapTexture", "MetalnessTexture",
                                    "RoughnessTexture",  "AmbientOcclusionTexture", "HeightMap",
                                    "POMTexture",        "DepthTexture",      "UserTexture"};
static_assert(std::size(ChannelNames) == 18);

// The extension of that id, added when missing.
TExtensionDef* Extension(TMaterialDef* ADef, const char* AId) {
  if (TExtensionDef* e = ADef->GetExtension(AId)) return e;
  return ADef->AddExtension(AId);
}

const char* const MapKeys[] = {"UseNormalMapping",      "UseSpecularMapping",     "UseEmissiveTexture",
                               "UseDepthMap",           "UseDisplacementMapping", "UsePBRAlbedoTexture",
                               "UsePBRMetallicTexture", "UsePBRRoughnessTexture", "UsePBRAOTexture",
                               "UsePBREmissiveTexture", "UsePBRSpecularTexture"};

using TSwitchGet = bool (TQuorvelDefaultMaterialSource::*)() const;
using TSwitchSet = void (TQuorvelDefaultMaterialSource::*)(bool);
struct TMapSwitch {
  TSwitchGet Get;
  TSwitchSet Set;
};
const TMapSwitch MapSwitches[] = {
    {&TQuorvelDefaultMaterialSource::GetUseNormalMapping, &TQuorvelDefaultMaterialSource::SetUseNormalMapping},
    {&TQuorvelDefaultMaterialSource::GetUseSpecularMapping, &TQuorvelDefaultMaterialSource::SetUseSpecularMapping},
    {&TQuorvelDefaultMaterialSource::GetUseEmissiveTexture, &TQuorvelDefaultMaterialSource::SetUseEmissiveTexture},
    {&TQuorvelDefaultMaterialSource::GetUseDepthMap, &TQuorvelDefaultMaterialSource::SetUseDepthMap},
    {&TQuorvelDefaultMaterialSource::GetUseDisplacementMapping,
     &TQuorvelDefaultMaterialSource::SetUseDisplacementMapping},
    {&TQuorvelDefaultMaterialSource::GetUsePBRAlbedoTexture, &TQuorvelDefaultMaterialSource::SetUsePBRAlbedoTexture},
    {&TQuorvelDefaultMaterialSource::GetUsePBRMetallicTexture,
     &TQuorvelDefaultMaterialSource::SetUsePBRMetallicTexture},
    {&TQuorvelDefaultMaterialSource::GetUsePBRRoughnessTexture,
     &TQuorvelDefaultMaterialSource::SetUsePBRRoughnessTexture},
    {&TQuorvelDefaultMaterialSource::GetUsePBRAOTexture, &TQuorvelDefaultMaterialSource::SetUsePBRAOTexture},
    {&TQuorvelDefaultMaterialSource::GetUsePBREmissiveTexture,
     &TQuorvelDefaultMaterialSource::SetUsePBREmissiveTexture},
    {&TQuorvelDefaultMaterialSource::GetUsePBRSpecularTexture,
     &TQuorvelDefaultMaterialSource::SetUsePBRSpecularTexture},
};
static_assert(std::size(MapSwitches) == std::size(MapKeys));

}  // namespace

std::string TQuorvelDefaultMaterialSource::ChannelEntryName(TColorChannelDef AChannel, int32_t AIndex) {
  const auto c = static_cast<size_t>(AChannel);
  if (c <= static_cast<size_t>(TColorChannelDef::Depth)) return ChannelNames[c];
  return Format("Texture%d", {AIndex + 1});
}

TColorChannelDef TQuorvelDefaultMaterialSource::EntryChannel(const std::string& AName) {
  for (size_t i = 0; i < std::size(ChannelNames); ++i)
    if (AName == ChannelNames[i]) return static_cast<TColorChannelDef>(i);
  return TColorChannelDef::UserSpecific;
}

TQuorvelDefaultMaterialSource* TQuorvelDefaultMaterialSource::CreateFromDefinition(TComponent* AOwner,
                                                                                   TCustomDef* ADef) {
  if (!dynamic_cast<TMaterialDef*>(ADef)) return nullptr;
  // Held until the load succeeds: a failed load returns nothing, and the caller cannot free
  // what it never got (with or without an owner).
  TOwned<TQuorvelDefaultMaterialSource> source(New<TQuorvelDefaultMaterialSource>(AOwner));
  source->LoadFromDefinition(ADef);
  return source.release();
}

void TQuorvelDefaultMaterialSource::LoadFromDefinition(TCustomDef* ADef) {
  auto* def = dynamic_cast<TMaterialDef*>(ADef);
  if (!def) return;
  SetTagObject(def);
  SetShadingModel(def->GetShadingModel());
  SetUseTexturing(def->GetUseTexturing());
  SetUseTexture0(def->GetUseTexture0());
  SetUseLighting(def->GetUseLighting());
  SetUseVertexColor(def->GetUseVertexColor());
  SetUseSpecular(def->GetUseSpecular());
  SetUseColorClipping(def->GetUseClipping());
  SetClippingColorF(def->GetClipping());
  SetUseAlphaCutoff(def->GetUseAlphaCutoff());
  SetAlphaCutoff(def->GetAlphaCutoff());
  SetParallaxLevels(def->GetParallaxLevels());
  SetNormalIntensity(def->GetNormalIntensity());
  SetTonemapping(def->GetTonemapping());
  SetTonemappingExposure(def->GetTonemappingExposure());
  SetDiffuseF(def->GetDiffuse());
  SetAmbientF(def->GetAmbient());
  SetEmissiveF(def->GetEmissive());
  SetSpecularF(def->GetSpecular());
  const float specPow = def->GetSpecPow();
  if (specPow < 1.0f)
    SetShininess(specPow);
  else
    SetShininess(std::clamp(std::ceil(specPow), 1.0f, 100.0f));
  SetBrightness(def->GetBrightness());
  SetReflectionPower(def->GetReflectionPower());
  SetReflections(def->GetUseReflection());
  SetRefractionPower(def->GetRefractionPower());
  SetRefractions(def->GetUseRefraction());
  SetMetallicBias(def->GetMetallic());
  SetRoughnessBias(def->GetRoughness());
  SetAOBias(def->GetAO());

  if (const TMaterialDef::TShaderList* shaders = def->GetShaders())
    for (TShaderDef* shader : *shaders) {
      if (!shader) continue;
      TStrings* lines = nullptr;
      if (shader->GetKind() == TContextShaderKindEx::VertexShader)
        lines = GetVertexShader();
      else if (shader->GetKind() == TContextShaderKindEx::PixelShader)
        lines = GetSurfaceShader();
      if (lines) lines->Assign(shader->GetSourceCode());
    }

  if (const TMaterialDef::TTextureList* textures = def->GetTextures(); textures && textures->Count() > 0) {
    SetUseTexturing(true);
    SetUseDisplacementMapping(false);
    SetUseNormalMapping(false);
    SetUseSpecularMapping(false);
    SetUseEmissiveTexture(false);
    SetUseDepthMap(false);
    SetUseParallaxOcclusion(false);
    SetUsePBRAlbedoTexture(false);
    SetUsePBRMetallicTexture(false);
    SetUsePBRRoughnessTexture(false);
    SetUsePBRAOTexture(false);
    SetUsePBREmissiveTexture(false);
    SetUsePBRSpecularTexture(false);
    const bool pbr = def->GetShadingModel() == TQuorvelShadingModel::smPBR;
    for (int32_t i = 0; i < textures->Count(); ++i) {
      TTextureDef* texture = (*textures)[i];
      if (!texture) continue;
      TColorChannelDef channel = texture->GetChannel();
      const std::string name = ChannelEntryName(channel, i);
      if (static_cast<size_t>(channel) > static_cast<size_t>(TColorChannelDef::Depth))
        channel = TColorChannelDef::UserSpecific;
      const TSamplerDef* sampler = texture->GetSampler();
      TQuorvelBitmapPoolEntry* entry =
          AddBitmap(name, sampler->GetInternalFormat(), sampler->GetFormat(), sampler->GetDataType(),
                    texture->GetIsDynamic(), texture->GetIgnoreInArray(), true, texture->GetDestination(),
                    sampler->GetTextureKind());
      using enum TColorChannelDef;
      switch (channel) {
        case Diffuse:
          if (pbr) SetUsePBRAlbedoTexture(true);
          break;
        case Emissive:
          if (pbr)
            SetUsePBREmissiveTexture(true);
          else
            SetUseEmissiveTexture(true);
          break;
        case Specular:
          if (pbr) {
            SetUsePBRSpecularTexture(true);
          } else {
            SetUseSpecular(true);
            SetUseSpecularMapping(true);
          }
          break;
        case Normal:
          SetUseNormalMapping(true);
          break;
        case Environment:
          SetEnvironment(true);
          break;
        case Displacement:
          SetUseDisplacementMapping(true);
          break;
        case Metalness:
          SetUsePBRMetallicTexture(true);
          break;
        case Roughness:
          SetUsePBRRoughnessTexture(true);
          break;
        case AO:
          SetUsePBRAOTexture(true);
          break;
        case POM:
          SetUseParallaxOcclusion(true);
          break;
        case Depth:
          SetUseDepthMap(true);
          break;
        default:
          break;
      }
      entry->LoadFromDefinition(texture);
    }
    UpdateDefaultBitmaps();
  }

  if (const TMaterialDef::TBehaviourRefList* refs = def->GetBehaviourRefs())
    if (TFwObject* model = FindModel())
      for (TBehaviourRefDef* ref : *refs) {
        if (!ref) continue;
        if (!ref->GetReference())
          Log::d("failed to find material behaviour reference \"%s\" (\"%s\") on loading material from definition",
                 ref->GetId(), ref->GetDisplayName());
        const std::string id = ref->GetId();
        TComponent* found = FindComponentDeepSearchByFilter(model, [&](TComponent* c) {
          auto* behaviour = dynamic_cast<TQuorvelMaterialBehaviour*>(c);
          return behaviour && behaviour->GetDef() && behaviour->GetDef()->GetId() == id;
        });
        if (found) AttachMaterialBehaviour(static_cast<TQuorvelMaterialBehaviour*>(found));
      }

  if (TExtensionDef* e = def->GetExtension("Shading")) {
    TProperties* p = e->GetProperties();
    TValue v;
    if (p->TryGetValue("ShadingIntensity", v)) SetShadingIntensity(static_cast<float>(v.AsExtended()));
    if (p->TryGetValue("Shadows", v)) SetShadows(v.AsBoolean());
    if (p->TryGetValue("ShadowMethod", v)) SetShadowMethod(static_cast<TQuorvelShadowMethod>(v.AsOrdinal()));
    if (p->TryGetValue("Environment", v)) SetEnvironment(v.AsBoolean());
  }
  if (TExtensionDef* e = def->GetExtension("Maps")) {
    TProperties* p = e->GetProperties();
    TValue v;
    for (size_t i = 0; i < std::size(MapKeys); ++i)
      if (p->TryGetValue(MapKeys[i], v)) {
        const TSwitchSet set = MapSwitches[i].Set;
        (this->*set)(v.AsBoolean());
      }
  }
  if (TExtensionDef* e = def->GetExtension("Displacement")) {
    TProperties* p = e->GetProperties();
    TValue v;
    if (p->TryGetValue("UseDisplacementMapping", v)) SetUseDisplacementMapping(v.AsBoolean());
    if (p->TryGetValue("Displacement", v)) SetDisplacement(v.AsType<TVector3D>());
  }
}

void TQuorvelDefaultMaterialSource::StoreToDefinition(TCustomDef* ADef) {
  auto* def = dynamic_cast<TMaterialDef*>(ADef);
  if (!def) return;
  def->SetTypeName(QualifiedClassName());
  def->SetShadingModel(GetShadingModel());
  def->SetUseTexturing(GetUseTexturing());
  def->SetUseTexture0(GetUseTexture0());
  def->SetUseLighting(GetUseLighting());
  def->SetUseVertexColor(GetUseVertexColor());
  def->SetUseSpecular(GetUseSpecular());
  def->SetUseClipping(GetUseColorClipping());
  def->SetClipping(GetClippingColorF());
  def->SetUseAlphaCutoff(GetUseAlphaCutoff());
  def->SetAlphaCutoff(GetAlphaCutoff());
  def->SetParallaxLevels(GetParallaxLevels());
  def->SetNormalIntensity(GetNormalIntensity());
  def->SetTonemapping(GetTonemapping());
  def->SetTonemappingExposure(GetTonemappingExposure());
  def->SetDiffuse(GetDiffuseF());
  def->SetAmbient(GetAmbientF());
  def->SetEmissive(GetEmissiveF());
  def->SetSpecular(GetSpecularF());
  def->SetSpecPow(GetShininess());
  def->SetBrightness(GetBrightness());
  def->SetReflectionPower(GetReflectionPower());
  def->SetUseReflection(GetReflections());
  def->SetRefractionPower(GetRefractionPower());
  def->SetUseRefraction(GetRefractions());
  def->SetMetallic(GetMetallicBias());
  def->SetRoughness(GetRoughnessBias());
  def->SetAO(GetAOBias());

  const std::pair<TStrings*, TContextShaderKindEx> snippets[] = {
      {GetVertexShader(), TContextShaderKindEx::VertexShader}, {GetSurfaceShader(), TContextShaderKindEx::PixelShader}};
  for (const auto& [lines, kind] : snippets) {
    if (!lines || lines->GetText().empty()) continue;
    if (TShaderDef* shader = def->GetShader(kind))
      shader->SetSourceCode(lines);
    else
      def->AddShader(kind == TContextShaderKindEx::VertexShader ? "VertexShader" : "PixelShader", kind,
                     lines->GetText(), TShaderLanguage::GLSL);
  }

  def->ClearTextures();
  if (FBitmaps)
    for (int i = 0; i < FBitmaps->GetCount(); ++i) {
      TQuorvelBitmapPoolEntry* entry = FBitmaps->Items(i);
      // A pass fills these at every frame; loaded back as textures they would take pool
      // places of their own beside the ones their switch makes again.
      if (IsPassEntry(entry->GetDisplayName())) continue;
      // The asset owns what it is given: a copy, so that the entry keeps its own bitmap.
      auto* asset = New<TQuorvelTextureAsset>(nullptr);
      TBitmap* copy = New<TBitmap>();
      copy->Assign(entry->GetBitmap());
      asset->ImportFromCachedBitmap(entry->GetDisplayName(), copy);
      asset->SetIsStandalone(true);
      TTextureDef* texture = def->AddTexture(EntryChannel(entry->GetDisplayName()), asset, true);
      entry->StoreToDefinition(texture);
    }

  if (TQuorvelMaterialBehaviourCollection* behaviours = GetBehaviours())
    for (int i = 0; i < behaviours->GetCount(); ++i) {
      TQuorvelMaterialBehaviourItem* item = behaviours->Items(i);
      if (TQuorvelMaterialBehaviour* behaviour = item->GetBehaviour())
        def->AddMaterialBehaviourRef(item->GetDisplayName(), behaviour->GetDef());
    }

  TProperties* shading = Extension(def, "Shading")->GetProperties();
  shading->AddOrSetValue("ShadingIntensity", TValue::From(static_cast<double>(GetShadingIntensity())));
  shading->AddOrSetValue("Shadows", TValue::From(GetShadows()));
  shading->AddOrSetValue("ShadowMethod", TValue::From(static_cast<int32_t>(GetShadowMethod())));
  // The environment entry is not stored, so its switch is.
  shading->AddOrSetValue("Environment", TValue::From(GetEnvironment()));
  TProperties* maps = Extension(def, "Maps")->GetProperties();
  for (size_t i = 0; i < std::size(MapKeys); ++i) {
    const TSwitchGet get = MapSwitches[i].Get;
    const bool value = (this->*get)();
    maps->AddOrSetValue(MapKeys[i], TValue::From(value));
  }
  TProperties* displacement = Extension(def, "Displacement")->GetProperties();
  displacement->AddOrSetValue("UseDisplacementMapping", TValue::From(GetUseDisplacementMapping()));
  displacement->AddOrSetValue("Displacement", TValue::From(GetDisplacement()));
  // Found by name: a material without the entry has no displacement map (False), where the
  // raising getter would fail every such export.
  TBitmap* map = FindBitmapByName("DisplacementMapTexture");
  displacement->AddOrSetValue("DisplacementMap", TValue::From(map != nullptr && !map->IsEmpty()));
}

}  // namespace quorvel
