#include "lib/materials/MaterialPhong.h"

#include "lib/materials/MaterialPresetProperties.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelPhongMaterial, "Quorvel.Material.Phong")
FW_CLASS_NO_MEMBERS(TQuorvelPhongMaterial)
FW_CLASS_IMPL(TQuorvelPhongMaterialSource, "Quorvel.Material.Phong")

void TQuorvelPhongMaterialSource::Register(ClassBuilder<TQuorvelPhongMaterialSource>& b) { RegisterTexturedProperties(b); }

void TQuorvelPhongMaterial::AfterConstruction() {
  TQuorvelDefaultMaterial::AfterConstruction();
  FShaderData.ShadingModel = 1;
  SetShininess(50.0f);
  SetUseLighting(true);
  SetUseSpecular(true);
  SetUseTexturing(true);
  SetUseTexture0(true);
}

TMaterial* TQuorvelPhongMaterialSource::CreateMaterial() { return New<TQuorvelPhongMaterial>(this); }

namespace {
const TUnitRegistration MaterialPhongUnit{StreamedClassUnit("Quorvel.Material.Phong", &TQuorvelPhongMaterialSource::StaticClass)};
}  // namespace

}  // namespace quorvel
