#pragma once
// Depth of the render list into a single-channel half-float texture: window depth, clip-space
// z or view-space z. The base of the shadow-map passes, which draw from a light.
#include <cstdint>
#include <string>

#include "framework/gui3d/Light.h"
#include "lib/context/ContextTexturing.h"
#include "lib/passes/Controller.h"

namespace quorvel {

// Ordinals are streamed: keep them.
enum class TDepthMethod : uint8_t { dmDefault = 0, dmMVPPosZ = 1, dmModelViewPosZ = 2 };
FW_ENUM(TDepthMethod, dmDefault, dmMVPPosZ, dmModelViewPosZ)

// A half-float render target with linear filters and a white border (farthest depth), for
// depth and moment maps.
TQuorvelTextureBitmap* CreateDepthTexture(const TPoint& ASize, float AScale, TPixelFormatEx AComponents,
                                          TPixelFormatEx AFormat);

// The material source of a pass that draws from a light keeps the light.
class IDepthLightSource {
public:
  virtual ~IDepthLightSource() = default;
  virtual TLight*& LightField() = 0;
};

class TCustomDepthMaterial : public TQuorvelRenderPassMaterial {
  FW_CLASS(TCustomDepthMaterial, TQuorvelRenderPassMaterial)

public:
  explicit TCustomDepthMaterial(TQuorvelRenderPassMaterialSource* ASource) : TQuorvelRenderPassMaterial(ASource) {}
  TDepthMethod GetDepthMethod() const { return FDepthMethod; }
  void SetDepthMethod(TDepthMethod Value) { FDepthMethod = Value; }
  TContextShader* GetPixelShaderZ() const { return FPixelShaderZ; }

protected:
  void DoInitialize() override;
  void DoApply(TContext3D* AContext) override;
  // The owning pass's model-view-projection matrix as a 4x4 matrix, after the depth states.
  void ApplyDepthStates(TContext3D* AContext);

  TDepthMethod FDepthMethod = TDepthMethod::dmDefault;
  TContextShader* FVertexShaderMVZ = nullptr;  // owned by the shader manager
  TContextShader* FVertexShaderMVPZ = nullptr;
  TContextShader* FPixelShaderZ = nullptr;
};

class TCustomDepthMaterialSource : public TQuorvelRenderPassMaterialSource {
  FW_CLASS(TCustomDepthMaterialSource, TQuorvelRenderPassMaterialSource)

public:
  using TQuorvelRenderPassMaterialSource::TQuorvelRenderPassMaterialSource;
  TDepthMethod GetDepthMethod() const;
  void SetDepthMethod(TDepthMethod Value);

protected:
  TMaterial* CreateMaterial() override;
  void DoPassesChanged(TObject*) override {}
};

class TQuorvelRenderPassCustomDepth : public TQuorvelRenderPassController {
  FW_CLASS(TQuorvelRenderPassCustomDepth, TQuorvelRenderPassController)

public:
  explicit TQuorvelRenderPassCustomDepth(TComponent* AOwner, const std::string& AId = "");
  void BeforeDestruction() override;
  // A removed light leaves the material source that kept it.
  void Notification(TComponent* AComponent, TOperation Operation) override;

  // dmDefault while there is no material source, which also ignores writes.
  TDepthMethod GetDepthMethod() const;
  void SetDepthMethod(TDepthMethod Value);
  TPoint GetMapSize() const { return FViewportSize; }
  void SetMapSize(const TPoint& Value);
  float GetDefaultDepth() const { return FDefaultDepth; }
  void SetDefaultDepth(float Value) { FDefaultDepth = Value; }
  TAlphaColor GetDefaultColor() const { return FDefaultColor; }
  const TMatrix3D& GetProjMatrix() const { return FProjMatrix; }
  const TMatrix3D& GetViewMatrixField() const { return FViewMatrix; }
  // View and projection of this run; the texture matrix becomes their product and AContext
  // draws from that view.
  virtual void SetupMatrices(TContext3D* AContext);

protected:
  void InitializeRenderPass() override;
  void CreateRenderer() override;
  TQuorvelRenderPassMaterialSource* CreateMaterialSource() override;
  void DoOnCreateCompositeTexture(TObject* ASender, TPoint ASize, float AScale,
                                  TQuorvelTextureBitmap*& ATexture) override;
  void DoOnRenderPass(int32_t ACount, TRenderPass* APass) override;
  // The components of the depth texture (R16F here, RG16F for moments).
  virtual void DepthTextureFormat(TPixelFormatEx& AComponents, TPixelFormatEx& AFormat) const;

  // For the passes that draw from a light: the light's view (moved onto the camera's frustum
  // when outside it), or this pass's own without a light.
  TMatrix3D LightView(TLight* ALight, TContext3D* AContext);
  // The light kept by the material source (null without one; writes then ignored).
  TLight* SourceLight() const;
  void SetSourceLight(TLight* Value);

  TAlphaColor FDefaultColor = claBlack;
  float FDefaultDepth = 1.0f;
};

}  // namespace quorvel
