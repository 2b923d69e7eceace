#pragma once
// The lit scene around the camera as eight cascades of voxels in one 3D texture, for the cone
// tracing of the global illumination pass. Each iteration draws the render list once: a
// geometry stage projects every triangle onto its dominant axis and the fragment stage lights
// it with one fixed white material and stores it into its cascade's slices with an image
// store. Nothing reaches a colour buffer.
#include <cstddef>
#include <cstdint>
#include <string>

#include "framework/math/Point3D.h"
#include "lib/context/ContextTypesLights.h"
#include "lib/passes/Controller.h"

namespace quorvel {

class TQuorvelTextureBitmap;

// The fixed surface of every voxel (std140 image of the GLSL struct "VoxelMaterial").
struct TVoxelMaterial {
  TVector3D DiffuseColor{1, 1, 1, 1};
  TVector3D SpecularColor{0.5f, 0.5f, 0.5f, 1};
  float DiffuseReflectivity = 0.75f;
  float SpecularReflectivity = 0.5f;
  float Emissivity = 0.1f;
  float Transparency = 0;
};
static_assert(sizeof(TVoxelMaterial) == 48);

// The std140 image of the uniform block "VoxelizeShaderData".
struct TVoxelizeShaderData {
  TVoxelMaterial Material;
  TPoint3D TextureOffset;
  int32_t NumberOfLights = 0;
  TQuorvelShaderLight Lights[8];
};
static_assert(sizeof(TVoxelizeShaderData) == 1216);
static_assert(offsetof(TVoxelizeShaderData, TextureOffset) == 48 &&
              offsetof(TVoxelizeShaderData, NumberOfLights) == 60 && offsetof(TVoxelizeShaderData, Lights) == 64);

class TVoxelizeMaterial : public TQuorvelRenderPassMaterial {
  FW_CLASS(TVoxelizeMaterial, TQuorvelRenderPassMaterial)

public:
  explicit TVoxelizeMaterial(TQuorvelRenderPassMaterialSource* ASource);

  static const char* const VertexShaderText;
  static const char* const GeometryShaderText;
  static const char* const PixelShaderText;

  float GetSceneScale() const { return FSceneScale; }
  void SetSceneScale(float Value) { FSceneScale = Value; }
  const TPoint3D& GetTextureOffset() const { return FVoxelizeParams.TextureOffset; }
  void SetTextureOffset(const TPoint3D& Value) { FVoxelizeParams.TextureOffset = Value; }
  const TPoint3D& GetVoxelCenter() const { return FVoxelCenter; }
  float GetFocalLength() const { return FFocalLength; }
  void SetFocalLength(float Value) { FFocalLength = Value; }
  const TVoxelizeShaderData& GetParams() const { return FVoxelizeParams; }
  TContextShader* GetGeometryShader() const { return FGeometryShader; }

protected:
  void DoInitialize() override;
  void DoApply(TContext3D* AContext) override;

private:
  TContextShader* FGeometryShader = nullptr;  // owned by the shader manager
  TContextShader* FTessEvalShader = nullptr;  // never made
  float FSceneScale = 64;
  TPoint3D FVoxelCenter{0, 0, 0};
  float FFocalLength = 10;
  bool FParamsInitialized = false;
  TVoxelizeShaderData FVoxelizeParams;
};

class TVoxelizeMaterialSource : public TQuorvelRenderPassMaterialSource {
  FW_CLASS(TVoxelizeMaterialSource, TQuorvelRenderPassMaterialSource)

public:
  using TQuorvelRenderPassMaterialSource::TQuorvelRenderPassMaterialSource;
  TVoxelizeMaterial* Voxelize() const { return static_cast<TVoxelizeMaterial*>(GetMaterial()); }

protected:
  TMaterial* CreateMaterial() override;
  void DoPassesChanged(TObject*) override {}
};

class TQuorvelRenderPassVoxelize : public TQuorvelRenderPassController {
  FW_CLASS(TQuorvelRenderPassVoxelize, TQuorvelRenderPassController)

public:
  explicit TQuorvelRenderPassVoxelize(TComponent* AOwner, const std::string& AId = "");
  void BeforeDestruction() override;

  // The voxel size of a global illumination detail level; with a context, lowers ADetail in
  // place while the device cannot hold 8 cascades of that size (32 and detail 0 when none fits).
  static int32_t GetVoxelSizeFromDetail(TContext3D* AContext, int32_t& ADetail);
  // The same against a given 3D limit (what the device answers).
  static int32_t GetVoxelSizeFromDetail(int32_t AMaxTexture3DSize, int32_t& ADetail);
  // The half-width of cascade AIteration (its slices start at AIteration × VoxelSize).
  static float CascadeSceneScale(int32_t AIteration);

  int32_t GetVoxelSize() const { return FVoxelSize; }
  // Truncated to a multiple of 32 within 32..512; rebuilds the renderer and the voxels.
  void SetVoxelSize(int32_t Value);
  float GetFocalLength() const;
  // Clamped to 1..50.
  void SetFocalLength(float Value);
  TPoint3D GetVoxelCenter() const;
  TVoxelizeMaterial* Material() const;

  TQuorvelTextureBitmap* GetVoxels() const { return FVoxels.get(); }
  TTexture* GetTexture3D() const;
  TTexture* GetOutputTexture() override;
  bool IsPrimitivesKindSupported(TPrimitivesKind AKind) const override;
  TMatrix3D GetProjectionMatrix(TContext3D* AContext) override;
  using TQuorvelRenderPassController::GetProjectionMatrix;
  virtual void SetupMatrices(TContext3D* AContext);
  void EndRenderPassRendering(TContext3D* AContext) override;

protected:
  void InitializeRenderPass() override;
  void CreateRenderer() override;
  void DoOnCreateCompositeTexture(TObject* ASender, TPoint ASize, float AScale,
                                  TQuorvelTextureBitmap*& ATexture) override;
  TQuorvelRenderPassMaterialSource* CreateMaterialSource() override;
  void ConfigureRenderPass(TRenderPass* APass) override;
  void DoOnRenderPass(int32_t ACount, TRenderPass* APass) override;

private:
  TOwned<TQuorvelTextureBitmap> FVoxels;
  int32_t FVoxelSize = 128;
};

// The instance a composite renderer runs; never registered with a context.
class TQuorvelRenderPassEmbeddedVoxelize : public TQuorvelRenderPassVoxelize {
  FW_CLASS(TQuorvelRenderPassEmbeddedVoxelize, TQuorvelRenderPassVoxelize)

public:
  using TQuorvelRenderPassVoxelize::TQuorvelRenderPassVoxelize;
  bool IsInternalRenderPass() const override { return true; }
};

}  // namespace quorvel
