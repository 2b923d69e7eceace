#include "lib/materials/MaterialVertexColor.h"

#include "lib/materials/MaterialPresetProperties.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelVertexColorMaterial, "Quorvel.Material.VertexColor")
FW_CLASS_NO_MEMBERS(TQuorvelVertexColorMaterial)
FW_CLASS_IMPL(TQuorvelVertexColorMaterialSource, "Quorvel.Material.VertexColor")

void TQuorvelVertexColorMaterialSource::Register(ClassBuilder<TQuorvelVertexColorMaterialSource>& b) {
  b.Prop("UseLighting", &Self::GetUseLighting, &Self::SetUseLighting)
      .Prop("UseSpecular", &Self::GetUseSpecular, &Self::SetUseSpecular)
      .Prop("UseVertexColor", &Self::GetUseVertexColor, &Self::SetUseVertexColor)
      .Prop("UseColorClipping", &Self::GetUseColorClipping, &Self::SetUseColorClipping);
}

void TQuorvelVertexColorMaterial::AfterConstruction() {
  TQuorvelDefaultMaterial::AfterConstruction();
  SetUseLighting(true);
  SetUseSpecular(true);
  SetUseTexturing(false);
  SetUseTexture0(false);
  SetUseVertexColor(true);
}

namespace {

void VertexColorDefines(TQuorvelNodeBuilder* ABuilder) {
  if (!ABuilder) return;
  ABuilder->AddDefine("USE_VERTEXCOLOR");
  ABuilder->AddDefine("LIGHTING");
  ABuilder->RemoveDefine("USE_TEXTURE");
  ABuilder->RemoveDefine("USE_TEXTURE0");
}

}  // namespace

void TQuorvelVertexColorMaterial::DoBuildVertexShaderSource() {
  TQuorvelDefaultMaterial::DoBuildVertexShaderSource();
  VertexColorDefines(GetVertexShaderNode());
}

void TQuorvelVertexColorMaterial::DoBuildFragmentShaderSource() {
  TQuorvelDefaultMaterial::DoBuildFragmentShaderSource();
  VertexColorDefines(GetFragmentShaderNode());
}

TMaterial* TQuorvelVertexColorMaterialSource::CreateMaterial() { return New<TQuorvelVertexColorMaterial>(this); }

namespace {
const TUnitRegistration MaterialVertexColorUnit{
    StreamedClassUnit("Quorvel.Material.VertexColor", &TQuorvelVertexColorMaterialSource::StaticClass)};
}  // namespace

}  // namespace quorvel
