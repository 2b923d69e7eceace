#include "lib/materials/MaterialPOM.h"

#include "lib/defs/DefTypesMaterial.h"
#include "lib/materials/MaterialPresetProperties.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelPOMMaterial, "Quorvel.Material.POM")
FW_CLASS_NO_MEMBERS(TQuorvelPOMMaterial)
FW_CLASS_IMPL(TQuorvelPOMMaterialSource, "Quorvel.Material.POM")

void TQuorvelPOMMaterialSource::Register(ClassBuilder<TQuorvelPOMMaterialSource>& b) {
  b.Prop("UseLighting", &Self::GetUseLighting, &Self::SetUseLighting)
      .Prop("UseSpecular", &Self::GetUseSpecular, &Self::SetUseSpecular)
      .Prop("UseTexturing", &Self::GetUseTexturing, &Self::SetUseTexturing)
      .Prop("UseTexture0", &Self::GetUseTexture0, &Self::SetUseTexture0);
  RegisterPoolBitmap(b, "Texture", &Self::GetTexture, &Self::SetTexture);
  RegisterPoolBitmap(b, "NormalMap", &Self::GetNormalMap, &Self::SetNormalMap);
  RegisterPoolBitmap(b, "ParallaxOcclusionMap", &Self::GetParallaxOcclusionMap, &Self::SetParallaxOcclusionMap);
  b.Prop("ParallaxDiscardEdges", &Self::GetParallaxDiscardEdges, &Self::SetParallaxDiscardEdges);
  RegisterPoolBitmap(b, "DisplacementMap", &Self::GetDisplacementMap, &Self::SetDisplacementMap);
  RegisterDisplacementComponents(b);
}

void TQuorvelPOMMaterial::AfterConstruction() {
  TQuorvelDefaultMaterial::AfterConstruction();
  SetNormalIntensity(0.1f);
  SetUseLighting(true);
  SetUseSpecular(true);
  SetUseTexturing(true);
  SetUseTexture0(true);
}

void TQuorvelPOMMaterial::DoCreateVertexShaderNode() {
  TQuorvelDefaultMaterial::DoCreateVertexShaderNode();
  AddNormalMapDefines(FVSNode.get());
  FVSNode->AddDefine("POM");
  FVSNode->AddDefine("POM_DISCARD");
}

void TQuorvelPOMMaterial::DoCreateFragmentShaderNode() {
  TQuorvelDefaultMaterial::DoCreateFragmentShaderNode();
  AddNormalMapDefines(FFSNode.get());
  FFSNode->AddDefine("POM");
  FFSNode->AddDefine("POM_DISCARD");
}

bool TQuorvelPOMMaterial::GetParallaxDiscardEdges() const { return FFSNode && FFSNode->Defined("POM_DISCARD"); }

void TQuorvelPOMMaterial::SetParallaxDiscardEdges(bool Value) {
  if (Value)
    AddDefineBoth("POM_DISCARD");
  else
    RemoveDefineBoth("POM_DISCARD");
  DoChange();
}

TMaterial* TQuorvelPOMMaterialSource::CreateMaterial() { return New<TQuorvelPOMMaterial>(this); }

void TQuorvelPOMMaterialSource::UpdateDefaultBitmapEntries() {
  TQuorvelDefaultMaterialSource::UpdateDefaultBitmapEntries();
  AddMapEntry("POMTexture", TPixelFormatEx::RGBA, true);
}

TBitmap* TQuorvelPOMMaterialSource::GetParallaxOcclusionMap() const {
  return GetEntryBitmap("POMTexture", "TQuorvelPOMMaterialSource.ParallaxOcclusionMap not activated in material");
}

void TQuorvelPOMMaterialSource::SetParallaxOcclusionMap(TBitmap* Value) {
  if (TBitmap* bitmap = GetParallaxOcclusionMap()) bitmap->Assign(Value);
}

bool TQuorvelPOMMaterialSource::GetParallaxDiscardEdges() const {
  auto* m = dynamic_cast<TQuorvelPOMMaterial*>(FMaterial);
  return m && m->GetParallaxDiscardEdges();
}

void TQuorvelPOMMaterialSource::SetParallaxDiscardEdges(bool Value) {
  if (auto* m = dynamic_cast<TQuorvelPOMMaterial*>(FMaterial)) m->SetParallaxDiscardEdges(Value);
}

void TQuorvelPOMMaterialSource::LoadFromDefinition(TCustomDef* ADef) {
  TQuorvelDefaultMaterialSource::LoadFromDefinition(ADef);
  auto* def = dynamic_cast<TMaterialDef*>(ADef);
  TExtensionDef* e = def ? def->GetExtension("ParallaxOcclusionMapping") : nullptr;
  if (!e) return;
  TValue v;
  if (e->GetProperties()->TryGetValue("ParallaxLevels", v)) SetParallaxLevels(v.AsInteger());
  if (e->GetProperties()->TryGetValue("UseParallaxOcclusion", v)) SetUseParallaxOcclusion(v.AsBoolean());
}

void TQuorvelPOMMaterialSource::StoreToDefinition(TCustomDef* ADef) {
  TQuorvelDefaultMaterialSource::StoreToDefinition(ADef);
  auto* def = dynamic_cast<TMaterialDef*>(ADef);
  if (!def) return;
  TExtensionDef* e = def->GetExtension("ParallaxOcclusionMapping");
  if (!e) e = def->AddExtension("ParallaxOcclusionMapping");
  TProperties* p = e->GetProperties();
  p->AddOrSetValue("UseParallaxOcclusion", TValue::From(GetUseParallaxOcclusion()));
  p->AddOrSetValue("ParallaxLevels", TValue::From(GetParallaxLevels()));
  if (TBitmap* map = FindBitmapByName("POMTexture")) p->AddOrSetValue("ParallaxOcclusionMap", TValue::From(!map->IsEmpty()));
}

namespace {
const TUnitRegistration MaterialPOMUnit{StreamedClassUnit("Quorvel.Material.POM", &TQuorvelPOMMaterialSource::StaticClass)};
}  // namespace

}  // namespace quorvel
