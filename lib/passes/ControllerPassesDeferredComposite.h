#pragma once
// The deferred composition: merges the targets a composite renderer filled (opaque albedo,
// translucent accumulation and coverage, emissive) and an optional global illumination into
// the renderer's composite texture, with three optional saturation adjustments. It draws one
// screen rectangle with the renderer's own context and is run by that renderer only.
#include <cstddef>
#include <cstdint>
#include <string>

#include "framework/math/Point3D.h"
#include "lib/context/ContextTypesLights.h"
#include "lib/passes/Controller.h"

namespace quorvel {

class TDeferredCompositeMaterialSource;

// The std140 image of the uniform block "CompositeShaderData".
struct TCompositeShaderData {
  TPoint3D VoxelCenter;
  int32_t GlobalIllum = 0;
  TPoint3D Saturation;
  int32_t EmissiveBlur = 0;
  int32_t VoxelSize = 0;
  float ShadowLimit = 0;
  float Reflection = 0;
  int32_t NumberOfLights = 0;
  TQuorvelShaderLight Lights[8];
};
static_assert(sizeof(TCompositeShaderData) == 1200);
static_assert(offsetof(TCompositeShaderData, GlobalIllum) == 12 && offsetof(TCompositeShaderData, Saturation) == 16 &&
              offsetof(TCompositeShaderData, EmissiveBlur) == 28 && offsetof(TCompositeShaderData, VoxelSize) == 32 &&
              offsetof(TCompositeShaderData, ShadowLimit) == 36 && offsetof(TCompositeShaderData, Reflection) == 40 &&
              offsetof(TCompositeShaderData, NumberOfLights) == 44 && offsetof(TCompositeShaderData, Lights) == 48);

class TDeferredCompositeMaterial : public TQuorvelRenderPassMaterial {
  FW_CLASS(TDeferredCompositeMaterial, TQuorvelRenderPassMaterial)

public:
  explicit TDeferredCompositeMaterial(TQuorvelRenderPassMaterialSource* ASource);
  ~TDeferredCompositeMaterial() override;

  // The GLSL texts (vertex, fragment).
  static const char* const VertexShaderText;
  static const char* const PixelShaderText;

  TTexture* GetAlbedoTexture() const { return FAlbedoTexture; }
  virtual void SetAlbedoTexture(TTexture* Value);
  TTexture* GetTranslucentAlbedoTexture() const { return FTranslucentAlbedoTexture; }
  virtual void SetTranslucentAlbedoTexture(TTexture* Value);
  TTexture* GetAlphaTexture() const { return FAlphaTexture; }
  virtual void SetAlphaTexture(TTexture* Value);
  TTexture* GetPositionTexture() const { return FPositionTexture; }
  virtual void SetPositionTexture(TTexture* Value);
  TTexture* GetNormalsTexture() const { return FNormalsTexture; }
  virtual void SetNormalsTexture(TTexture* Value);
  TTexture* GetEmissiveTexture() const { return FEmissiveTexture; }
  virtual void SetEmissiveTexture(TTexture* Value);
  const TPoint3D& GetSaturation() const { return FShaderData.Saturation; }
  void SetSaturation(const TPoint3D& Value) { FShaderData.Saturation = Value; }
  int32_t GetEmissiveBlur() const { return FShaderData.EmissiveBlur; }
  void SetEmissiveBlur(int32_t Value) { FShaderData.EmissiveBlur = Value; }
  const TCompositeShaderData& GetShaderData() const { return FShaderData; }

protected:
  void DoInitialize() override;
  void DoApply(TContext3D* AContext) override;

private:
  void Store(TTexture*& AField, TTexture* Value);

  TTexture* FAlbedoTexture = nullptr;  // none of the six is owned
  TTexture* FTranslucentAlbedoTexture = nullptr;
  TTexture* FAlphaTexture = nullptr;
  TTexture* FPositionTexture = nullptr;
  TTexture* FNormalsTexture = nullptr;
  TTexture* FEmissiveTexture = nullptr;
  TCompositeShaderData FShaderData{};
  bool FShaderDataRegistered = false;
};

class TDeferredCompositeMaterialSource : public TQuorvelRenderPassMaterialSource {
  FW_CLASS(TDeferredCompositeMaterialSource, TQuorvelRenderPassMaterialSource)

public:
  using TQuorvelRenderPassMaterialSource::TQuorvelRenderPassMaterialSource;
  TDeferredCompositeMaterial* Composite() const { return static_cast<TDeferredCompositeMaterial*>(GetMaterial()); }

protected:
  TMaterial* CreateMaterial() override;
  void DoPassesChanged(TObject*) override {}
};

class TQuorvelRenderPassDeferredComposite : public TQuorvelRenderPassController {
  FW_CLASS(TQuorvelRenderPassDeferredComposite, TQuorvelRenderPassController)

public:
  explicit TQuorvelRenderPassDeferredComposite(TComponent* AOwner, const std::string& AId = "");
  void BeforeDestruction() override;
  void Notification(TComponent* AComponent, TOperation Operation) override;
  bool IsInternalRenderPass() const override { return true; }

  TTexture* GetAlbedo() const { return Material()->GetAlbedoTexture(); }
  void SetAlbedo(TTexture* Value) { Material()->SetAlbedoTexture(Value); }
  TTexture* GetTranslucentAlbedo() const { return Material()->GetTranslucentAlbedoTexture(); }
  void SetTranslucentAlbedo(TTexture* Value) { Material()->SetTranslucentAlbedoTexture(Value); }
  TTexture* GetAlpha() const { return Material()->GetAlphaTexture(); }
  void SetAlpha(TTexture* Value) { Material()->SetAlphaTexture(Value); }
  TTexture* GetPosition() const { return Material()->GetPositionTexture(); }
  void SetPosition(TTexture* Value) { Material()->SetPositionTexture(Value); }
  TTexture* GetNormals() const { return Material()->GetNormalsTexture(); }
  void SetNormals(TTexture* Value) { Material()->SetNormalsTexture(Value); }
  TTexture* GetEmissive() const { return Material()->GetEmissiveTexture(); }
  void SetEmissive(TTexture* Value) { Material()->SetEmissiveTexture(Value); }
  TPoint3D GetSaturation() const { return Material()->GetSaturation(); }
  void SetSaturation(const TPoint3D& Value) { Material()->SetSaturation(Value); }
  int32_t GetEmissiveBlur() const { return Material()->GetEmissiveBlur(); }
  // Clamped to 0 .. 15.
  void SetEmissiveBlur(int32_t Value);
  TQuorvelRenderPassController* GetGlobalIllumPass() const { return FGlobalIllumPass; }
  void SetGlobalIllumPass(TQuorvelRenderPassController* Value);
  TDeferredCompositeMaterial* Material() const;

protected:
  void InitializeRenderPass() override;
  void CreateRenderer() override;
  TQuorvelRenderPassMaterialSource* CreateMaterialSource() override;
  void DoOnRenderPass(int32_t ACount, TRenderPass* APass) override;

private:
  TQuorvelRenderPassController* FGlobalIllumPass = nullptr;  // not owned
};

}  // namespace quorvel
