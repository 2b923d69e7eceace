#include "lib/passes/ControllerPassesSMStoreDepth.h"

#include "framework/rtl/Units.h"

namespace quorvel {

FW_CLASS_IMPL(TSMStoreDepthMaterial, "Quorvel.Controller.Passes.SMStoreDepth")
FW_CLASS_NO_MEMBERS(TSMStoreDepthMaterial)
FW_CLASS_IMPL(TSMStoreDepthMaterialSource, "Quorvel.Controller.Passes.SMStoreDepth")
FW_CLASS_NO_MEMBERS(TSMStoreDepthMaterialSource)
FW_CLASS_IMPL(TQuorvelRenderPassSMStoreDepth, "Quorvel.Controller.Passes.SMStoreDepth")
void TQuorvelRenderPassSMStoreDepth::Register(ClassBuilder<TQuorvelRenderPassSMStoreDepth>& b) {
  b.Prop("Light", &Self::GetLight, &Self::SetLight);
}

TMaterial* TSMStoreDepthMaterialSource::CreateMaterial() {
  FHasMaterial = true;
  return New<TSMStoreDepthMaterial>(this);
}

void TQuorvelRenderPassSMStoreDepth::InitializeRenderPass() {
  TQuorvelRenderPassCustomDepth::InitializeRenderPass();
  FType = TRenderPassType::Pre;
  FViewportSize = TPoint(1024, 1024);
  FOverwriteViewportSize = true;
}

TQuorvelRenderPassMaterialSource* TQuorvelRenderPassSMStoreDepth::CreateMaterialSource() {
  return New<TSMStoreDepthMaterialSource>(this);
}

TMatrix3D TQuorvelRenderPassSMStoreDepth::GetViewMatrix(TContext3D* AContext) { return LightView(GetLight(), AContext); }

namespace {

// Forms name these passes like every other pass.
void InitControllerPassesSMStoreDepthUnit() { RegisterClasses({TQuorvelRenderPassSMStoreDepth::StaticClass()}); }
void FinControllerPassesSMStoreDepthUnit() { UnRegisterClasses({TQuorvelRenderPassSMStoreDepth::StaticClass()}); }
const TUnitRegistration ControllerPassesSMStoreDepthUnit{{"Quorvel.Controller.Passes.SMStoreDepth", {}, &InitControllerPassesSMStoreDepthUnit, &FinControllerPassesSMStoreDepthUnit}};

}  // namespace

}  // namespace quorvel
