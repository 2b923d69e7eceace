#pragma once
// Softens the output of a global-illumination pass before the deferred composition reads it.
// Run by a composite renderer only.
#include <string>

#include "lib/passes/ControllerPassesCustomBlur.h"

namespace quorvel {

// Blurs the texture it is given, never an input pass's output or the context's target.
class TGlobalIllumBlurMaterial : public TBlurMaterial {
  FW_CLASS(TGlobalIllumBlurMaterial, TBlurMaterial)

public:
  explicit TGlobalIllumBlurMaterial(TQuorvelRenderPassMaterialSource* ASource) : TBlurMaterial(ASource) {
    FBlurAmount = 1.0f;
  }
  TTexture* GetInputTexture(TContext3D* AContext) override { return FInputTexture; }
};

class TGlobalIllumBlurMaterialSource : public TBlurMaterialSource {
  FW_CLASS(TGlobalIllumBlurMaterialSource, TBlurMaterialSource)

public:
  using TBlurMaterialSource::TBlurMaterialSource;

protected:
  TMaterial* CreateMaterial() override;
};

class TQuorvelRenderPassGlobalIllumBlur : public TQuorvelRenderPassBlur {
  FW_CLASS(TQuorvelRenderPassGlobalIllumBlur, TQuorvelRenderPassBlur)

public:
  explicit TQuorvelRenderPassGlobalIllumBlur(TComponent* AOwner, const std::string& AId = "")
      : TQuorvelRenderPassBlur(AOwner, AId) {}
  bool IsInternalRenderPass() const override { return true; }
  void Notification(TComponent* AComponent, TOperation Operation) override;

  TQuorvelRenderPassController* GetGlobalIllumPass() const { return FGlobalIllumPass; }
  // Stores the pass and takes its output as the new input at once.
  void SetGlobalIllumPass(TQuorvelRenderPassController* Value);
  // The input is fetched again from the global-illumination pass at the next iteration.
  void UpdateTexture() { FDoUpdateTexture = true; }

protected:
  TQuorvelRenderPassMaterialSource* CreateMaterialSource() override;
  void DoOnRenderPass(int32_t ACount, TRenderPass* APass) override;

private:
  void FetchTexture();

  TQuorvelRenderPassController* FGlobalIllumPass = nullptr;  // not owned
  bool FDoUpdateTexture = false;
};

}  // namespace quorvel
