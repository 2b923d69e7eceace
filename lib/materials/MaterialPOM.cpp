#include "lib/materials/MaterialPOM.h"

#include "lib/materials/MaterialPresetProperties.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelPOMMaterial, "Quorvel.Material.POM")
FW_CLASS_NO_MEMBERS(TQuorvelPOMMaterial)
FW_CLASS_IMPL(TQuorvelPOMMaterialSource, "Quorvel.Material.POM")

void TQuorvelPOMMaterialSource::Register(ClassBuilder<TQuorvelPOMMaterialSource>& b) {
  b.Prop("UseLighting", &Self::GetUseLighting, &Self::SetUseLighting)
      .Prop("UseSpecular", &Self::GetUseSpecular, &Self::SetUseSpecular)
      .Prop("UseTexturing", &Self::GetUseTexturing, &Self::SetUseTexturing)
      .Prop("UseTexture0", &Self::GetUseTexture0, &Self::SetUseTexture0)
      .Prop("ParallaxDiscardEdges", &Self::GetParallaxDiscardEdges, &Self::SetParallaxDiscardEdges);
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
  AddBitmap("POMTexture", TPixelFormatEx::RGBA8, TPixelFormatEx::RGBA, TQuorvelTextureDataType::dtUnsignedByte, false,
            true, true, TContextShaderKind::PixelShader, TQuorvelTextureKind::Texture2D);
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

}  // namespace quorvel
