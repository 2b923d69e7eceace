#include "lib/passes/ControllerPassesGlobalIllumBlur.h"

namespace quorvel {

FW_CLASS_IMPL(TGlobalIllumBlurMaterial, "Quorvel.Controller.Passes.GlobalIllumBlur")
FW_CLASS_NO_MEMBERS(TGlobalIllumBlurMaterial)
FW_CLASS_IMPL(TGlobalIllumBlurMaterialSource, "Quorvel.Controller.Passes.GlobalIllumBlur")
FW_CLASS_NO_MEMBERS(TGlobalIllumBlurMaterialSource)
FW_CLASS_IMPL(TQuorvelRenderPassGlobalIllumBlur, "Quorvel.Controller.Passes.GlobalIllumBlur")
FW_CLASS_NO_MEMBERS(TQuorvelRenderPassGlobalIllumBlur)

TMaterial* TGlobalIllumBlurMaterialSource::CreateMaterial() {
  FHasMaterial = true;
  return New<TGlobalIllumBlurMaterial>(this);
}

TQuorvelRenderPassMaterialSource* TQuorvelRenderPassGlobalIllumBlur::CreateMaterialSource() {
  return New<TGlobalIllumBlurMaterialSource>(this);
}

void TQuorvelRenderPassGlobalIllumBlur::SetGlobalIllumPass(TQuorvelRenderPassController* Value) {
  if (FGlobalIllumPass && FGlobalIllumPass != Value) FGlobalIllumPass->RemoveFreeNotification(this);
  FGlobalIllumPass = Value;
  if (Value) Value->FreeNotification(this);
  FetchTexture();
}

void TQuorvelRenderPassGlobalIllumBlur::FetchTexture() {
  FDoUpdateTexture = false;
  if (!Material() || !FGlobalIllumPass) return;
  FBaseTexture = nullptr;
  Material()->SetInputTexture(FGlobalIllumPass->GetOutputTexture());
}

void TQuorvelRenderPassGlobalIllumBlur::DoOnRenderPass(int32_t ACount, TRenderPass* APass) {
  // Before the blur's own steps: the first step then takes the new input as its base, where
  // after them a later frame would take the second step's source (the scratch) instead.
  if (FDoUpdateTexture) FetchTexture();
  TQuorvelRenderPassBlur::DoOnRenderPass(ACount, APass);
}

void TQuorvelRenderPassGlobalIllumBlur::Notification(TComponent* AComponent, TOperation Operation) {
  TQuorvelRenderPassBlur::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent && AComponent == FGlobalIllumPass) SetGlobalIllumPass(nullptr);
}

}  // namespace quorvel
