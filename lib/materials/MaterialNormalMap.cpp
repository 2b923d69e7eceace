#include "lib/materials/MaterialNormalMap.h"

#include "lib/materials/MaterialPresetProperties.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelNormalMapMaterial, "Quorvel.Material.NormalMap")
FW_CLASS_NO_MEMBERS(TQuorvelNormalMapMaterial)
FW_CLASS_IMPL(TQuorvelNormalMapMaterialSource, "Quorvel.Material.NormalMap")

void TQuorvelNormalMapMaterialSource::Register(ClassBuilder<TQuorvelNormalMapMaterialSource>& b) {
  RegisterTexturedProperties(b);
  RegisterPoolBitmap(b, "NormalMap", &Self::GetNormalMap, &Self::SetNormalMap);
  RegisterPoolBitmap(b, "DisplacementMap", &Self::GetDisplacementMap, &Self::SetDisplacementMap);
  RegisterDisplacementComponents(b);
}

void AddNormalMapDefines(TQuorvelNodeBuilder* ABuilder) {
  for (const char* d : {"LIGHTING", "USE_TEXTURE", "USE_TEXTURE0", "DISPLACEMENT", "NORMALMAP", "BUMP"})
    ABuilder->AddDefine(d);
}

void TQuorvelNormalMapMaterial::AfterConstruction() {
  TQuorvelDefaultMaterial::AfterConstruction();
  SetShadingModel(TQuorvelShadingModel::smBlinnPhong);
  SetUseLighting(true);
  SetUseSpecular(true);
  SetUseTexturing(true);
  SetUseTexture0(true);
}

void TQuorvelNormalMapMaterial::DoCreateVertexShaderNode() {
  TQuorvelDefaultMaterial::DoCreateVertexShaderNode();
  AddNormalMapDefines(FVSNode.get());
}

void TQuorvelNormalMapMaterial::DoCreateFragmentShaderNode() {
  TQuorvelDefaultMaterial::DoCreateFragmentShaderNode();
  AddNormalMapDefines(FFSNode.get());
}

TMaterial* TQuorvelNormalMapMaterialSource::CreateMaterial() { return New<TQuorvelNormalMapMaterial>(this); }

namespace {
const TUnitRegistration MaterialNormalMapUnit{
    StreamedClassUnit("Quorvel.Material.NormalMap", &TQuorvelNormalMapMaterialSource::StaticClass)};
}  // namespace

}  // namespace quorvel
