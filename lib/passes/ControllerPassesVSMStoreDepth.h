#pragma once
// The first two moments of depth seen from one light (depth and depth squared, widened by the
// depth's slope) in a two-channel half-float 1024 x 1024 map: the variance shadow map.
#include <string>

#include "lib/passes/ControllerPassesCustomDepth.h"

namespace quorvel {

// DepthMethod plays no part: the map always holds the moments of window depth.
class TVSMStoreDepthMaterial : public TCustomDepthMaterial {
  FW_CLASS(TVSMStoreDepthMaterial, TCustomDepthMaterial)

public:
  using TCustomDepthMaterial::TCustomDepthMaterial;

protected:
  void DoInitialize() override;
  void DoApply(TContext3D* AContext) override;
};

class TVSMStoreDepthMaterialSource : public TCustomDepthMaterialSource, public IDepthLightSource {
  FW_CLASS(TVSMStoreDepthMaterialSource, TCustomDepthMaterialSource)

public:
  using TCustomDepthMaterialSource::TCustomDepthMaterialSource;
  TLight* GetLight() const { return FLight; }
  TLight*& LightField() override { return FLight; }

protected:
  TMaterial* CreateMaterial() override;

private:
  TLight* FLight = nullptr;  // not owned
};

class TQuorvelRenderPassVSMStoreDepth : public TQuorvelRenderPassCustomDepth {
  FW_CLASS(TQuorvelRenderPassVSMStoreDepth, TQuorvelRenderPassCustomDepth)

public:
  explicit TQuorvelRenderPassVSMStoreDepth(TComponent* AOwner, const std::string& AId = "")
      : TQuorvelRenderPassCustomDepth(AOwner, AId) {}

  TLight* GetLight() const { return SourceLight(); }
  void SetLight(TLight* Value) { SetSourceLight(Value); }
  void SetInputPass(TQuorvelRenderPassController* APass) override {}
  TMatrix3D GetViewMatrix(TContext3D* AContext) override { return LightView(GetLight(), AContext); }
  using TQuorvelRenderPassCustomDepth::GetViewMatrix;

protected:
  void InitializeRenderPass() override;
  TQuorvelRenderPassMaterialSource* CreateMaterialSource() override;
  void DepthTextureFormat(TPixelFormatEx& AComponents, TPixelFormatEx& AFormat) const override;
  void DoOnRenderPass(int32_t ACount, TRenderPass* APass) override;
  void DoOnEndRenderPass(int32_t ACount, TRenderPass* APass) override;
};

}  // namespace quorvel
