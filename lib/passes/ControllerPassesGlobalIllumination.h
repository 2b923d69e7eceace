#pragma once
// Global illumination from the voxels: for every pixel of the main pass's position and normal
// textures, cones traced through the voxelization pass's cascades give a reflected colour and
// the occlusion towards each light; the lights' screen-space scattering is added to the colour.
// One screen rectangle; run by a composite renderer, or placed by itself.
#include <cstddef>
#include <cstdint>
#include <string>

#include "framework/math/Point3D.h"
#include "lib/context/ContextTypesLights.h"
#include "lib/passes/Controller.h"

namespace quorvel {

// The std140 image of the uniform block "GlobalIllumShaderData".
struct TGlobalIllumShaderData {
  TMatrix3D ViewMatrix;
  TMatrix3D ProjMatrix;
  TVector3D CanvasSize{0, 0, 0, 0};
  TPoint3D VoxelCenter;
  int32_t GlobalIllum = 0;
  int32_t VoxelSize = 0;
  float ShadowStrength = 0;
  float Reflection = 0;
  int32_t NumberOfLights = 0;
  TQuorvelShaderLight Lights[8];
};
static_assert(sizeof(TGlobalIllumShaderData) == 1328);
static_assert(offsetof(TGlobalIllumShaderData, CanvasSize) == 128 &&
              offsetof(TGlobalIllumShaderData, VoxelCenter) == 144 &&
              offsetof(TGlobalIllumShaderData, GlobalIllum) == 156 &&
              offsetof(TGlobalIllumShaderData, NumberOfLights) == 172 &&
              offsetof(TGlobalIllumShaderData, Lights) == 176);

class TGlobalIllumMaterial : public TQuorvelRenderPassMaterial {
  FW_CLASS(TGlobalIllumMaterial, TQuorvelRenderPassMaterial)

public:
  explicit TGlobalIllumMaterial(TQuorvelRenderPassMaterialSource* ASource);
  ~TGlobalIllumMaterial() override;

  static const char* const VertexShaderText;
  static const char* const PixelShaderText;

  TTexture* GetPositionTexture() const { return FPositionTexture; }
  virtual void SetPositionTexture(TTexture* Value);
  TTexture* GetNormalsTexture() const { return FNormalsTexture; }
  virtual void SetNormalsTexture(TTexture* Value);
  TGlobalIllumShaderData& ShaderData() { return FShaderData; }

protected:
  void DoInitialize() override;
  void DoApply(TContext3D* AContext) override;

private:
  TTexture* FPositionTexture = nullptr;  // not owned
  TTexture* FNormalsTexture = nullptr;   // not owned
  TGlobalIllumShaderData FShaderData;
  bool FShaderDataRegistered = false;
};

class TGlobalIllumMaterialSource : public TQuorvelRenderPassMaterialSource {
  FW_CLASS(TGlobalIllumMaterialSource, TQuorvelRenderPassMaterialSource)

public:
  using TQuorvelRenderPassMaterialSource::TQuorvelRenderPassMaterialSource;
  TGlobalIllumMaterial* GlobalIllum() const { return static_cast<TGlobalIllumMaterial*>(GetMaterial()); }

protected:
  TMaterial* CreateMaterial() override;
  void DoPassesChanged(TObject*) override {}
};

class TQuorvelRenderPassGlobalIllum : public TQuorvelRenderPassController {
  FW_CLASS(TQuorvelRenderPassGlobalIllum, TQuorvelRenderPassController)

public:
  explicit TQuorvelRenderPassGlobalIllum(TComponent* AOwner, const std::string& AId = "");
  void BeforeDestruction() override;
  void Notification(TComponent* AComponent, TOperation Operation) override;
  bool IsInternalRenderPass() const override { return true; }

  TGlobalIllumMaterial* Material() const;
  TTexture* GetPosition() const;
  void SetPosition(TTexture* Value);
  TTexture* GetNormals() const;
  void SetNormals(TTexture* Value);
  TQuorvelRenderPassController* GetVoxelGeometry() const { return FVoxelGeometryPass; }
  // Anything but a voxelization pass is stored as nil.
  void SetVoxelGeometry(TQuorvelRenderPassController* Value);
  // Stored without limits here (the composite renderer clamps to 0..10).
  float GetShadowStrength() const;
  void SetShadowStrength(float Value);
  float GetReflectionStrength() const;
  void SetReflectionStrength(float Value);

protected:
  void InitializeRenderPass() override;
  void CreateRenderer() override;
  TQuorvelRenderPassMaterialSource* CreateMaterialSource() override { return GetShader(); }
  void DoOnRenderPass(int32_t ACount, TRenderPass* APass) override;

private:
  TQuorvelRenderPassController* FVoxelGeometryPass = nullptr;  // not owned
};

class TQuorvelRenderPassEmbeddedGlobalIllum : public TQuorvelRenderPassGlobalIllum {
  FW_CLASS(TQuorvelRenderPassEmbeddedGlobalIllum, TQuorvelRenderPassGlobalIllum)

public:
  using TQuorvelRenderPassGlobalIllum::TQuorvelRenderPassGlobalIllum;
};

}  // namespace quorvel
