#include "lib/materials/MaterialPBR.h"

#include "lib/defs/DefTypesMaterial.h"
#include "lib/materials/MaterialPresetProperties.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelPBRMaterial, "Quorvel.Material.PBR")
FW_CLASS_NO_MEMBERS(TQuorvelPBRMaterial)
FW_CLASS_IMPL(TQuorvelPBRMaterialSource, "Quorvel.Material.PBR")

void TQuorvelPBRMaterialSource::Register(ClassBuilder<TQuorvelPBRMaterialSource>& b) {
  RegisterPoolBitmap(b, "MetalnessTexture", &Self::GetMetalnessTexture, &Self::SetMetalnessTexture);
  RegisterPoolBitmap(b, "RoughnessTexture", &Self::GetRoughnessTexture, &Self::SetRoughnessTexture);
  RegisterPoolBitmap(b, "AmbientOcclusionTexture", &Self::GetAmbientOcclusionTexture,
                     &Self::SetAmbientOcclusionTexture);
  RegisterPoolBitmap(b, "EmissiveTexture", &Self::GetEmissiveTexture, &Self::SetEmissiveTexture);
  RegisterPoolBitmap(b, "SpecularMap", &Self::GetSpecularMap, &Self::SetSpecularMap);
  b.Prop("UseParallaxOcclusion", &Self::GetUseParallaxOcclusion, &Self::SetUseParallaxOcclusion)
      .Prop("UsePBRAlbedoTexture", &Self::GetUsePBRAlbedoTexture, &Self::SetUsePBRAlbedoTexture)
      .Prop("UsePBRMetallicTexture", &Self::GetUsePBRMetallicTexture, &Self::SetUsePBRMetallicTexture)
      .Prop("UsePBRRoughnessTexture", &Self::GetUsePBRRoughnessTexture, &Self::SetUsePBRRoughnessTexture)
      .Prop("UsePBRAOTexture", &Self::GetUsePBRAOTexture, &Self::SetUsePBRAOTexture)
      .Prop("UsePBREmissiveTexture", &Self::GetUsePBREmissiveTexture, &Self::SetUsePBREmissiveTexture)
      .Prop("UsePBRSpecularTexture", &Self::GetUsePBRSpecularTexture, &Self::SetUsePBRSpecularTexture);
}

void TQuorvelPBRMaterial::AfterConstruction() {
  TQuorvelPOMMaterial::AfterConstruction();
  FShaderData.Material.Ambient = TAlphaColorF(0.03f, 0.03f, 0.03f, 1.0f);
  TVector3D& d = FShaderData.Material.Displacement;
  d = TVector3D(d.X * 0.5f, d.Y * 0.5f, d.Z * 0.5f, d.W * 0.5f);
  FShaderData.ShadingModel = 3;
  SetNormalIntensity(0.1f);
  SetUseLighting(true);
  SetUseSpecular(true);
  SetUseTexturing(true);
  SetUseTexture0(true);
  SetUsePBRAlbedoTexture(true);
  SetUsePBRMetallicTexture(true);
  SetUsePBRRoughnessTexture(true);
  SetUsePBRAOTexture(true);
}

void TQuorvelPBRMaterial::DoCreateVertexShaderNode() {
  TQuorvelPOMMaterial::DoCreateVertexShaderNode();
  AddNormalMapDefines(FVSNode.get());
  FVSNode->AddDefine("PBR");
}

void TQuorvelPBRMaterial::DoCreateFragmentShaderNode() {
  TQuorvelPOMMaterial::DoCreateFragmentShaderNode();
  AddNormalMapDefines(FFSNode.get());
  for (const char* d : {"PBR", "PBR_TEX", "PBR_TEX_ALBEDO", "PBR_TEX_METALLIC", "PBR_TEX_ROUGHNESS", "PBR_TEX_AO"})
    FFSNode->AddDefine(d);
}

TMaterial* TQuorvelPBRMaterialSource::CreateMaterial() { return New<TQuorvelPBRMaterial>(this); }

void TQuorvelPBRMaterialSource::UpdateDefaultBitmapEntries() {
  TQuorvelPOMMaterialSource::UpdateDefaultBitmapEntries();
  for (const char* name :
       {"MetalnessTexture", "RoughnessTexture", "AmbientOcclusionTexture", "EmissiveTexture", "SpecularMapTexture"})
    AddMapEntry(name, TPixelFormatEx::BGRA, false);
}

#define QUORVEL_PBR_BITMAP(Prop, Entry, Message)                              \
  TBitmap* TQuorvelPBRMaterialSource::Get##Prop() const {                     \
    return GetEntryBitmap(Entry, "TQuorvelPBRMaterialSource." Message " not activated in material"); \
  }                                                                           \
  void TQuorvelPBRMaterialSource::Set##Prop(TBitmap* Value) {                 \
    if (TBitmap* bitmap = Get##Prop()) bitmap->Assign(Value);                 \
  }
QUORVEL_PBR_BITMAP(MetalnessTexture, "MetalnessTexture", "MetalnessTexture")
QUORVEL_PBR_BITMAP(RoughnessTexture, "RoughnessTexture", "RoughnessTexture")
QUORVEL_PBR_BITMAP(AmbientOcclusionTexture, "AmbientOcclusionTexture", "AmbientOcclusionTexture")
QUORVEL_PBR_BITMAP(EmissiveTexture, "EmissiveTexture", "EmissiveTexture")
QUORVEL_PBR_BITMAP(SpecularMap, "SpecularMapTexture", "GetSpecularMap")
#undef QUORVEL_PBR_BITMAP

namespace {

using TSwitchSet = void (TQuorvelDefaultMaterialSource::*)(bool);
using TSwitchGet = bool (TQuorvelDefaultMaterialSource::*)() const;
const struct {
  const char* Key;
  TSwitchGet Get;
  TSwitchSet Set;
} PBRSwitches[] = {
    {"UsePBRAlbedoTexture", &TQuorvelDefaultMaterialSource::GetUsePBRAlbedoTexture,
     &TQuorvelDefaultMaterialSource::SetUsePBRAlbedoTexture},
    {"UsePBRMetallicTexture", &TQuorvelDefaultMaterialSource::GetUsePBRMetallicTexture,
     &TQuorvelDefaultMaterialSource::SetUsePBRMetallicTexture},
    {"UsePBRRoughnessTexture", &TQuorvelDefaultMaterialSource::GetUsePBRRoughnessTexture,
     &TQuorvelDefaultMaterialSource::SetUsePBRRoughnessTexture},
    {"UsePBRAOTexture", &TQuorvelDefaultMaterialSource::GetUsePBRAOTexture,
     &TQuorvelDefaultMaterialSource::SetUsePBRAOTexture},
    {"UsePBREmissiveTexture", &TQuorvelDefaultMaterialSource::GetUsePBREmissiveTexture,
     &TQuorvelDefaultMaterialSource::SetUsePBREmissiveTexture},
    {"UsePBRSpecularTexture", &TQuorvelDefaultMaterialSource::GetUsePBRSpecularTexture,
     &TQuorvelDefaultMaterialSource::SetUsePBRSpecularTexture},
};

}  // namespace

void TQuorvelPBRMaterialSource::LoadFromDefinition(TCustomDef* ADef) {
  TQuorvelPOMMaterialSource::LoadFromDefinition(ADef);
  auto* def = dynamic_cast<TMaterialDef*>(ADef);
  TExtensionDef* e = def ? def->GetExtension("PBR") : nullptr;
  if (!e) return;
  TValue v;
  for (const auto& s : PBRSwitches)
    if (e->GetProperties()->TryGetValue(s.Key, v)) (this->*s.Set)(v.AsBoolean());
}

void TQuorvelPBRMaterialSource::StoreToDefinition(TCustomDef* ADef) {
  TQuorvelPOMMaterialSource::StoreToDefinition(ADef);
  auto* def = dynamic_cast<TMaterialDef*>(ADef);
  if (!def) return;
  TExtensionDef* e = def->GetExtension("PBR");
  if (!e) e = def->AddExtension("PBR");
  TProperties* p = e->GetProperties();
  for (const auto& s : PBRSwitches) p->AddOrSetValue(s.Key, TValue::From((this->*s.Get)()));
  // By name: a missing entry is left out rather than raising at run time.
  const std::pair<const char*, const char*> maps[] = {{"NormalMap", "NormalMapTexture"},
                                                      {"SpecularMap", "SpecularMapTexture"},
                                                      {"MetalnessTexture", "MetalnessTexture"},
                                                      {"RoughnessTexture", "RoughnessTexture"},
                                                      {"AmbientOcclusionTexture", "AmbientOcclusionTexture"},
                                                      {"EmissiveTexture", "EmissiveTexture"}};
  for (const auto& [key, entry] : maps)
    if (TBitmap* map = FindBitmapByName(entry)) p->AddOrSetValue(key, TValue::From(!map->IsEmpty()));
}

namespace {
const TUnitRegistration MaterialPBRUnit{StreamedClassUnit("Quorvel.Material.PBR", &TQuorvelPBRMaterialSource::StaticClass)};
}  // namespace

}  // namespace quorvel
