#include "lib/passes/ControllerPassesEmissiveBlur.h"

namespace quorvel {

FW_CLASS_IMPL(TEmissiveBlurMaterial, "Quorvel.Controller.Passes.EmissiveBlur")
FW_CLASS_NO_MEMBERS(TEmissiveBlurMaterial)
FW_CLASS_IMPL(TEmissiveBlurMaterialSource, "Quorvel.Controller.Passes.EmissiveBlur")
FW_CLASS_NO_MEMBERS(TEmissiveBlurMaterialSource)
FW_CLASS_IMPL(TQuorvelRenderPassEmissiveBlur, "Quorvel.Controller.Passes.EmissiveBlur")
FW_CLASS_NO_MEMBERS(TQuorvelRenderPassEmissiveBlur)

TMaterial* TEmissiveBlurMaterialSource::CreateMaterial() {
  FHasMaterial = true;
  return New<TEmissiveBlurMaterial>(this);
}

TTexture* TQuorvelRenderPassEmissiveBlur::GetEmissiveTexture() const {
  return Material() ? Material()->GetInputTexture() : nullptr;
}

void TQuorvelRenderPassEmissiveBlur::SetEmissiveTexture(TTexture* Value) {
  if (!Material()) return;
  FBaseTexture = nullptr;
  Material()->SetInputTexture(Value);
}

TQuorvelRenderPassMaterialSource* TQuorvelRenderPassEmissiveBlur::CreateMaterialSource() {
  return New<TEmissiveBlurMaterialSource>(this);
}

}  // namespace quorvel
