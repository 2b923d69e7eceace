#include "lib/materials/MaterialLambert.h"

#include "lib/materials/MaterialPresetProperties.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelLambertMaterial, "Quorvel.Material.Lambert")
FW_CLASS_NO_MEMBERS(TQuorvelLambertMaterial)
FW_CLASS_IMPL(TQuorvelLambertMaterialSource, "Quorvel.Material.Lambert")

void TQuorvelLambertMaterialSource::Register(ClassBuilder<TQuorvelLambertMaterialSource>& b) { RegisterTexturedProperties(b); }

void TQuorvelLambertMaterial::AfterConstruction() {
  TQuorvelDefaultMaterial::AfterConstruction();
  FShaderData.ShadingModel = 0;
  SetUseLighting(true);
  SetUseSpecular(false);
  SetUseTexturing(true);
  SetUseTexture0(true);
}

TMaterial* TQuorvelLambertMaterialSource::CreateMaterial() { return New<TQuorvelLambertMaterial>(this); }

namespace {
const TUnitRegistration MaterialLambertUnit{StreamedClassUnit("Quorvel.Material.Lambert", &TQuorvelLambertMaterialSource::StaticClass)};
}  // namespace

}  // namespace quorvel
