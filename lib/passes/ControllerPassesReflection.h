#pragma once
// The scene as seen in a planar mirror, before the main pass: a private camera stands at the
// mirrored place of the viewing camera, everything behind the mirror plane is clipped, and a
// reflective material samples the output through the pass's texture matrix. Objects draw
// with their own materials.
#include <string>

#include "framework/math/Position3D.h"
#include "lib/passes/Controller.h"

namespace quorvel {

class TCamera;
class TQuorvelCamera;

class TQuorvelRenderPassReflection : public TQuorvelRenderPassController {
  FW_CLASS(TQuorvelRenderPassReflection, TQuorvelRenderPassController)

public:
  explicit TQuorvelRenderPassReflection(TComponent* AOwner, const std::string& AId = "");
  void BeforeDestruction() override;
  void Notification(TComponent* AComponent, TOperation Operation) override;
  // "MirrorPositionPoint" and "MirrorNormalVector" of older form data: read, never written.
  void DefineProperties(TFiler* Filer) override;

  // The camera mirrored; taken from the viewport on the first run and kept.
  TCamera* GetCamera() const { return FOrigCamera; }
  void SetCamera(TCamera* Value);
  TControl3D* GetTarget() const { return FTarget; }
  // The mirror follows the target's position.
  void SetTarget(TControl3D* Value);
  TPosition3D* GetMirrorPosition() const { return FMirrorPosition.get(); }
  void SetMirrorPosition(TPosition3D* Value);
  TPosition3D* GetMirrorNormal() const { return FMirrorNormal.get(); }
  // Takes the given vector normalised.
  void SetMirrorNormal(TPosition3D* Value);
  void SetMirrorNormal(const TPoint3D& Value);
  float GetMirrorSize() const { return FMirrorSize; }
  void SetMirrorSize(float Value) { FMirrorSize = Value; }
  float GetAngleOfView() const { return FAngleOfView; }
  TQuorvelCamera* GetPassCamera() const { return FPassCamera; }

  virtual void SetupMatrices(TContext3D* AContext);
  // The mirror camera's view, computed on every request (with its angle of view).
  TMatrix3D GetViewMatrix(TContext3D* AContext) override;
  // The projection the last SetupMatrices took.
  TMatrix3D GetProjectionMatrix(TContext3D* AContext) override;
  using TQuorvelRenderPassController::GetProjectionMatrix;
  using TQuorvelRenderPassController::GetViewMatrix;
  TMatrix3D GetCurrentModelViewProjectionMatrix() override;

protected:
  void InitializeRenderPass() override;
  TQuorvelRenderPassMaterialSource* CreateMaterialSource() override { return nullptr; }
  void DoOnRenderPass(int32_t ACount, TRenderPass* APass) override;
  void DoOnEndRenderPass(int32_t ACount, TRenderPass* APass) override;

private:
  // The view without a mirror camera: the frame's main camera mirrored in the world.
  TMatrix3D FlippedMainView(TContext3D* AContext);

  TQuorvelCamera* FPassCamera = nullptr;  // owned
  TCamera* FOrigCamera = nullptr;         // not owned
  TControl3D* FTarget = nullptr;          // not owned
  float FAngleOfView = 45;
  TOwned<TPosition3D> FMirrorPosition;
  TOwned<TPosition3D> FMirrorNormal;
  float FMirrorSize = 10;
  // The viewport's camera before the iteration switched it to the pass camera.
  TCamera* FViewportCamera = nullptr;
  bool FSwitchedCamera = false;
};

}  // namespace quorvel
