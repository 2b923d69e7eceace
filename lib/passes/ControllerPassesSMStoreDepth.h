#pragma once
// Depth seen from one light into a 1024 x 1024 map: the shadow map that materials read under a
// shadow slot ("ShadowMapTexture0" .. "ShadowMapTexture7").
#include <string>

#include "lib/passes/ControllerPassesCustomDepth.h"

namespace quorvel {

class TSMStoreDepthMaterial : public TCustomDepthMaterial {
  FW_CLASS(TSMStoreDepthMaterial, TCustomDepthMaterial)

public:
  using TCustomDepthMaterial::TCustomDepthMaterial;
};

class TSMStoreDepthMaterialSource : public TCustomDepthMaterialSource, public IDepthLightSource {
  FW_CLASS(TSMStoreDepthMaterialSource, TCustomDepthMaterialSource)

public:
  using TCustomDepthMaterialSource::TCustomDepthMaterialSource;
  TLight* GetLight() const { return FLight; }
  TLight*& LightField() override { return FLight; }

protected:
  TMaterial* CreateMaterial() override;

private:
  TLight* FLight = nullptr;  // not owned
};

class TQuorvelRenderPassSMStoreDepth : public TQuorvelRenderPassCustomDepth {
  FW_CLASS(TQuorvelRenderPassSMStoreDepth, TQuorvelRenderPassCustomDepth)

public:
  explicit TQuorvelRenderPassSMStoreDepth(TComponent* AOwner, const std::string& AId = "")
      : TQuorvelRenderPassCustomDepth(AOwner, AId) {}
  // Null, and writes ignored, while there is no material source.
  TLight* GetLight() const { return SourceLight(); }
  void SetLight(TLight* Value) { SetSourceLight(Value); }
  // A shadow map has no input pass.
  void SetInputPass(TQuorvelRenderPassController* APass) override {}
  // The light's view, computed anew at every call; the camera's without a light.
  TMatrix3D GetViewMatrix(TContext3D* AContext) override;
  using TQuorvelRenderPassCustomDepth::GetViewMatrix;

protected:
  void InitializeRenderPass() override;
  TQuorvelRenderPassMaterialSource* CreateMaterialSource() override;
};

}  // namespace quorvel
