#pragma once
// The scene around a point into the six faces of a cube map, one face per iteration, before
// the main pass; materials reflect their surroundings with it. The pass turns its own 90°
// camera towards each face and can light the map with an embedded point light. A dynamic map
// is drawn every frame; a static one once, after which the pass disables itself until it is
// invalidated. Objects draw with their own materials.
#include <array>
#include <cstdint>
#include <string>

#include "framework/math/Point3D.h"
#include "lib/context/ContextTexturing.h"
#include "lib/context/ContextTypesLights.h"
#include "lib/passes/Controller.h"

namespace quorvel {

class TQuorvelCamera;
class TQuorvelContext;
class TQuorvelLight;
class TQuorvelTextureBitmap;

class TQuorvelRenderPassEnvironment : public TQuorvelRenderPassController {
  FW_CLASS(TQuorvelRenderPassEnvironment, TQuorvelRenderPassController)

public:
  explicit TQuorvelRenderPassEnvironment(TComponent* AOwner, const std::string& AId = "");
  void BeforeDestruction() override;
  void Notification(TComponent* AComponent, TOperation Operation) override;
  // The position as the point string "PositionPoint".
  void DefineProperties(TFiler* Filer) override;

  // The camera's absolute position; setting it moves the camera and invalidates the map.
  TPoint3D GetPosition() const;
  void SetPosition(const TPoint3D& Value);
  bool GetIsDynamic() const { return FIsDynamic; }
  void SetIsDynamic(bool Value) { FIsDynamic = Value; }
  TControl3D* GetTarget() const { return FTarget; }
  // The object whose position is the centre of the map; it is left out of its own map.
  void SetTarget(TControl3D* Value);
  bool GetUseEmbeddedLight() const { return FUseEmbeddedLight; }
  void SetUseEmbeddedLight(bool Value) { FUseEmbeddedLight = Value; }
  // Offsets from the centre: front, back, left, right, top, bottom.
  float GetCenterOffset(int32_t AIndex) const { return FCenterOffset[size_t(AIndex)]; }
  void SetCenterOffset(int32_t AIndex, float Value) { FCenterOffset[size_t(AIndex)] = Value; }
  // One offset each, in the order front, back, left, right, top, bottom.
  template <int32_t I>
  float GetCenterOffsetAt() const {
    return FCenterOffset[size_t(I)];
  }
  template <int32_t I>
  void SetCenterOffsetAt(float Value) {
    FCenterOffset[size_t(I)] = Value;
  }
  void SetCenterOffsets(float AFront, float ABack, float ALeft, float ARight, float ATop, float ABottom);
  void SetCenterOffsets(float AOffset);

  TQuorvelCamera* GetCamera() const { return FCamera; }
  TQuorvelLight* GetEmbeddedLight() const { return FLight; }
  int32_t GetMapSize() const { return FMapSize; }
  // Raised to the next power of two.
  void SetMapSize(int32_t Value);
  TQuorvelTextureBitmap* GetCubeMap() const { return FCubeMap; }
  int32_t GetLightIndex() const { return FLightIndex; }

  // A disabled pass with renderer and viewport is enabled again: the map is drawn once more.
  void InvalidateEnvironment();

  // The larger component, raised to a power of two, for both.
  void SetViewportSize(const TPoint& Value) override;
  void SetViewportWidth(int32_t Value) override;
  void SetViewportHeight(int32_t Value) override;
  TTexture* GetOutputTexture() override;
  TMatrix3D GetViewMatrix(TContext3D* AContext) override;
  TMatrix3D GetProjectionMatrix(TContext3D* AContext) override;
  using TQuorvelRenderPassController::GetProjectionMatrix;
  using TQuorvelRenderPassController::GetViewMatrix;
  virtual void SetupMatrices(TContext3D* AContext);
  void BeginRenderPassRendering(TContext3D* AContext, TAlphaColor AFill, float ADepth, uint32_t AStencil) override;
  void EndRenderPassRendering(TContext3D* AContext) override;

  // The face and camera turn of an iteration (the cube map's own convention).
  static TQuorvelCubeMapFace FaceOfIteration(int32_t AIteration);

protected:
  void InitializeRenderPass() override;
  void CreateRenderer() override;
  void ResizeRenderer(const TPoint& ASize, float AScale) override;
  void DoOnCreateCompositeTexture(TObject* ASender, TPoint ASize, float AScale,
                                  TQuorvelTextureBitmap*& ATexture) override;
  TQuorvelRenderPassMaterialSource* CreateMaterialSource() override { return nullptr; }
  void DoOnRenderPass(int32_t ACount, TRenderPass* APass) override;
  void DoOnEndRenderPass(int32_t ACount, TRenderPass* APass) override;

private:
  // Whether the context's light at FLightIndex is still the one this pass added.
  bool HoldsEmbeddedLight(TQuorvelContext* AContext) const;

  TQuorvelCamera* FCamera = nullptr;  // owned by the pass as a component
  TQuorvelLight* FLight = nullptr;    // owned by the camera
  int32_t FLightIndex = -1;
  TQuorvelShaderLight FAddedLight;    // what was added at FLightIndex
  bool FUseEmbeddedLight = true;
  int32_t FMapSize = 128;
  TQuorvelTextureBitmap* FCubeMap = nullptr;  // the renderer's composite texture
  bool FIsDynamic = true;
  TPoint3D FStoredCameraPos{0, 0, 0};
  TPoint3D FStoredTargetPos{0, 0, 0};
  std::array<float, 6> FCenterOffset{};
  TControl3D* FTarget = nullptr;  // not owned
};

}  // namespace quorvel
