#include "lib/passes/ControllerPassesSMStoreDepth.h"

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

TLight* TQuorvelRenderPassSMStoreDepth::GetLight() const {
  auto* source = dynamic_cast<TSMStoreDepthMaterialSource*>(GetShader());
  return source ? source->GetLight() : nullptr;
}

void TQuorvelRenderPassSMStoreDepth::SetLight(TLight* Value) {
  if (auto* source = dynamic_cast<TSMStoreDepthMaterialSource*>(GetShader())) StoreLight(source->LightField(), Value);
}

TMatrix3D TQuorvelRenderPassSMStoreDepth::GetViewMatrix(TContext3D* AContext) { return LightView(GetLight(), AContext); }

void TQuorvelRenderPassSMStoreDepth::Notification(TComponent* AComponent, TOperation Operation) {
  TQuorvelRenderPassCustomDepth::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent && AComponent == GetLight())
    static_cast<TSMStoreDepthMaterialSource*>(GetShader())->LightField() = nullptr;
}

}  // namespace quorvel
