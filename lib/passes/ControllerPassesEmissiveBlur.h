#pragma once
// Softens the emissive target of a composite renderer before the composition adds it. The
// renderer hands the texture in; the pass runs only inside that renderer's composite step.
#include <string>

#include "lib/passes/ControllerPassesCustomBlur.h"

namespace quorvel {

// Blurs the texture it is given, never an input pass's output or the context's target.
class TEmissiveBlurMaterial : public TBlurMaterial {
  FW_CLASS(TEmissiveBlurMaterial, TBlurMaterial)

public:
  using TBlurMaterial::TBlurMaterial;
  TTexture* GetInputTexture(TContext3D* AContext) override { return FInputTexture; }
};

class TEmissiveBlurMaterialSource : public TBlurMaterialSource {
  FW_CLASS(TEmissiveBlurMaterialSource, TBlurMaterialSource)

public:
  using TBlurMaterialSource::TBlurMaterialSource;

protected:
  TMaterial* CreateMaterial() override;
};

class TQuorvelRenderPassEmissiveBlur : public TQuorvelRenderPassBlur {
  FW_CLASS(TQuorvelRenderPassEmissiveBlur, TQuorvelRenderPassBlur)

public:
  explicit TQuorvelRenderPassEmissiveBlur(TComponent* AOwner, const std::string& AId = "")
      : TQuorvelRenderPassBlur(AOwner, AId) {}
  bool IsInternalRenderPass() const override { return true; }

  TTexture* GetEmissiveTexture() const;
  // A new picture: the next ping-pong pair starts from it.
  void SetEmissiveTexture(TTexture* Value);

protected:
  TQuorvelRenderPassMaterialSource* CreateMaterialSource() override;
};

}  // namespace quorvel
