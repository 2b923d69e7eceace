#pragma once
// The scene from the viewing camera clipped at a surface plane, before the main pass: what
// lies behind or below a refracting surface such as water, for the materials that show it.
// Objects draw with their own materials.
#include <set>
#include <string>

#include "framework/math/Position3D.h"
#include "lib/passes/Controller.h"

namespace quorvel {

class TQuorvelRenderPassRefraction : public TQuorvelRenderPassController {
  FW_CLASS(TQuorvelRenderPassRefraction, TQuorvelRenderPassController)

public:
  explicit TQuorvelRenderPassRefraction(TComponent* AOwner, const std::string& AId = "");
  void BeforeDestruction() override;
  // "SurfacePositionPoint" and "SurfaceNormalVector" of older form data: read, never written.
  void DefineProperties(TFiler* Filer) override;

  TPosition3D* GetSurfacePosition() const { return FSurfacePosition.get(); }
  // Takes the given point; the object stays its owner's.
  void SetSurfacePosition(TPosition3D* Value);
  TPosition3D* GetSurfaceNormal() const { return FSurfaceNormal.get(); }
  // Takes the given vector normalised.
  void SetSurfaceNormal(TPosition3D* Value);
  void SetSurfaceNormal(const TPoint3D& Value);
  float GetSurfaceCutOff() const { return FSurfaceCutOff; }
  void SetSurfaceCutOff(float Value) { FSurfaceCutOff = Value; }
  bool GetClippingEnabled() const { return FClippingEnabled; }
  void SetClippingEnabled(bool Value) { FClippingEnabled = Value; }
  // The position texture of the pass's composite renderer; nil without renderer. Another
  // renderer raises EInvalidCast.
  virtual TTexture* GetOutputDepthTexture();
  virtual void SetupMatrices(TContext3D* AContext);
  // The bias matrix whatever AUseBias.
  TMatrix3D GetTextureMatrix(TContext3D* AContext, bool AUseBias) override;

protected:
  void InitializeRenderPass() override;
  TQuorvelRenderPassMaterialSource* CreateMaterialSource() override { return nullptr; }
  void DoOnRenderPass(int32_t ACount, TRenderPass* APass) override;
  void DoOnEndRenderPass(int32_t ACount, TRenderPass* APass) override;

private:
  bool FClippingEnabled = true;
  TOwned<TPosition3D> FSurfacePosition;
  TOwned<TPosition3D> FSurfaceNormal;
  float FSurfaceCutOff = 0;
  // Texts already shown: a failing set-up fails every frame, and a box per frame would block.
  std::set<std::string> FShownErrors;
};

}  // namespace quorvel
