#include "lib/materials/MaterialBumpMap.h"

#include "lib/materials/MaterialPresetProperties.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelBumpMapMaterial, "Quorvel.Material.BumpMap")
FW_CLASS_NO_MEMBERS(TQuorvelBumpMapMaterial)
FW_CLASS_IMPL(TQuorvelBumpMapMaterialSource, "Quorvel.Material.BumpMap")

void TQuorvelBumpMapMaterialSource::Register(ClassBuilder<TQuorvelBumpMapMaterialSource>& b) {
  RegisterPoolBitmap(b, "SpecularMap", &Self::GetSpecularMap, &Self::SetSpecularMap);
}

void TQuorvelBumpMapMaterial::DoCreateVertexShaderNode() {
  TQuorvelNormalMapMaterial::DoCreateVertexShaderNode();
  FVSNode->AddDefine("SPECULARMAP");
}

void TQuorvelBumpMapMaterial::DoCreateFragmentShaderNode() {
  TQuorvelNormalMapMaterial::DoCreateFragmentShaderNode();
  FFSNode->AddDefine("SPECULARMAP");
}

TMaterial* TQuorvelBumpMapMaterialSource::CreateMaterial() { return New<TQuorvelBumpMapMaterial>(this); }

void TQuorvelBumpMapMaterialSource::UpdateDefaultBitmapEntries() {
  AddMapEntry("SpecularMapTexture", TPixelFormatEx::BGRA, true);
  TQuorvelNormalMapMaterialSource::UpdateDefaultBitmapEntries();
}

TBitmap* TQuorvelBumpMapMaterialSource::GetSpecularMap() const {
  return GetEntryBitmap("SpecularMapTexture", "TQuorvelBumpMapMaterialSource.GetSpecularMap not activated in material");
}

void TQuorvelBumpMapMaterialSource::SetSpecularMap(TBitmap* Value) {
  if (TBitmap* bitmap = GetSpecularMap()) bitmap->Assign(Value);
}

namespace {
const TUnitRegistration MaterialBumpMapUnit{StreamedClassUnit("Quorvel.Material.BumpMap", &TQuorvelBumpMapMaterialSource::StaticClass)};
}  // namespace

}  // namespace quorvel
