#include "lib/materials/MaterialBlinn.h"

#include "lib/materials/MaterialPresetProperties.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelBlinnMaterial, "Quorvel.Material.Blinn")
FW_CLASS_NO_MEMBERS(TQuorvelBlinnMaterial)
FW_CLASS_IMPL(TQuorvelBlinnMaterialSource, "Quorvel.Material.Blinn")

void TQuorvelBlinnMaterialSource::Register(ClassBuilder<TQuorvelBlinnMaterialSource>& b) { RegisterTexturedProperties(b); }

void TQuorvelBlinnMaterial::AfterConstruction() {
  TQuorvelDefaultMaterial::AfterConstruction();
  FShaderData.ShadingModel = 2;
  SetShininess(50.0f);
  SetUseLighting(true);
  SetUseSpecular(true);
  SetUseTexturing(true);
  SetUseTexture0(true);
}

TMaterial* TQuorvelBlinnMaterialSource::CreateMaterial() { return New<TQuorvelBlinnMaterial>(this); }

namespace {
const TUnitRegistration MaterialBlinnUnit{StreamedClassUnit("Quorvel.Material.Blinn", &TQuorvelBlinnMaterialSource::StaticClass)};
}  // namespace

}  // namespace quorvel
