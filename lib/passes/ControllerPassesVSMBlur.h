#pragma once
// Blurs a variance shadow map (its input pass, the store pass) into a 1024 x 1024 map of the
// same two half-float moments; materials take the texture matrix from the input pass.
#include <string>

#include "lib/passes/ControllerPassesCustomBlur.h"

namespace quorvel {

// Moments are averaged, never tone-mapped: its radial kind is the plain mean of the samples.
class TVSMBlurMaterial : public TBlurMaterial {
  FW_CLASS(TVSMBlurMaterial, TBlurMaterial)

public:
  explicit TVSMBlurMaterial(TQuorvelRenderPassMaterialSource* ASource) : TBlurMaterial(ASource) { FBlurAmount = 5.0f; }

protected:
  void DoInitialize() override;
};

class TVSMBlurMaterialSource : public TBlurMaterialSource {
  FW_CLASS(TVSMBlurMaterialSource, TBlurMaterialSource)

public:
  using TBlurMaterialSource::TBlurMaterialSource;

protected:
  // Unlike the other blur sources it leaves HasMaterial False.
  TMaterial* CreateMaterial() override;
};

class TQuorvelRenderPassVSMBlur : public TQuorvelRenderPassBlur {
  FW_CLASS(TQuorvelRenderPassVSMBlur, TQuorvelRenderPassBlur)

public:
  explicit TQuorvelRenderPassVSMBlur(TComponent* AOwner, const std::string& AId = "")
      : TQuorvelRenderPassBlur(AOwner, AId) {}

  TQuorvelRenderPassController* GetVSMStoreDepth() const { return GetInputPass(); }
  void SetVSMStoreDepth(TQuorvelRenderPassController* Value) { SetInputPass(Value); }

protected:
  void InitializeRenderPass() override;
  TQuorvelRenderPassMaterialSource* CreateMaterialSource() override;
  // RG16F like the moments it blurs (an 8-bit colour target lost the variance).
  void DoOnCreateCompositeTexture(TObject* ASender, TPoint ASize, float AScale,
                                  TQuorvelTextureBitmap*& ATexture) override;
};

}  // namespace quorvel
