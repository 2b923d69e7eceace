#pragma once
// Renderers: the off-screen context a view (or a render pass) draws through, made on a
// composite texture, and the brackets of a frame's main pass and of its opaque and
// translucent phases. TLegacyRenderer draws straight into the composite texture;
// TCompositeRenderer (and TForwardRenderer) keep the settings of the composite step and
// clamp them.
//
// Two phases: the constructor stores its arguments; AfterConstruction sizes the renderer from
// its owner (a viewport or a pass controller) and makes the context.
#include <cstdint>
#include <functional>
#include <string>

#include "framework/classes/Component.h"
#include "framework/gui3d/Context3D.h"
#include "framework/math/AlphaColor.h"
#include "framework/math/Matrix3D.h"
#include "framework/math/Point.h"
#include "framework/math/Point3D.h"
#include "framework/rtl/Set.h"
#include "lib/context/ContextTypes.h"
#include "lib/passes/ContextRendering.h"

namespace quorvel {

class TFrameBufferObject;
class TQuorvelTextureBitmap;
class TQuorvelContext;
class TQuorvelRenderPassController;
class TQuorvelRenderPassDeferredComposite;
class TQuorvelRenderPassEmissiveBlur;
class TQuorvelRenderPassFXAA;
class TQuorvelRenderPassEmbeddedGlobalIllum;
class TQuorvelRenderPassEmbeddedVoxelize;
class TQuorvelRenderPassGlobalIllumBlur;

// The alpha the position target keeps where the main pass drew nothing. Geometry writes its
// depth there (at least minus the near plane); translucent layers add theirs on top and stay
// far below -30000, the threshold the passes that read positions test against.
constexpr float kNoGeometryPositionAlpha = -60000.0f;

// Ordinals are streamed: keep them.
enum class TRendererType : uint8_t { ForwardRenderer = 0, LegacyRenderer = 1 };
FW_ENUM(TRendererType, ForwardRenderer, LegacyRenderer)

enum class TRendererFlag : uint8_t { IgnoreRenderTargets, IgnoreCompositeCtrl, IgnoreEmissiveBlur, IgnoreGlobalIllum };
using TRendererFlags = TSet<TRendererFlag>;
// Every flag: what a pass that draws only its own picture sets.
inline const TRendererFlags kAllRendererFlags{TRendererFlag::IgnoreRenderTargets, TRendererFlag::IgnoreCompositeCtrl,
                                              TRendererFlag::IgnoreEmissiveBlur, TRendererFlag::IgnoreGlobalIllum};

// Lets a renderer's owner supply the composite texture (stored into ATexture).
using TOnRendererCreateCompositeTexture =
    std::function<void(TObject* ASender, TPoint ASize, float AScale, TQuorvelTextureBitmap*& ATexture)>;

class TRenderer : public TObject {
  FW_CLASS(TRenderer, TObject)

public:
  TRenderer(const std::string& AId, TComponent* AOwner, const TRendererFlags& AFlags,
            TOnRendererCreateCompositeTexture ACompositeTextureEvent);
  ~TRenderer() override;
  void AfterConstruction() override;
  void BeforeDestruction() override;

  const std::string& GetId() const { return FId; }
  const TRendererFlags& GetFlags() const { return FFlags; }
  TMultisample GetMultisample() const { return FMultisample; }
  TContext3D* GetSharedContext() const { return FSharedContext; }
  const TRenderTargets& GetRenderTargets() const { return FRenderTargets; }
  void SetRenderTargets(const TRenderTargets& Value) { FRenderTargets = Value; }
  TQuorvelTextureBitmap* GetCompositeTexture() const { return FCompositeTexture; }
  TComponent* GetOwner() const { return FOwner; }
  TPoint GetSize() const { return FSize; }
  virtual void SetSize(const TPoint& Value);
  float GetScale() const { return FScale; }
  virtual void SetScale(float Value);
  const TAlphaColorF& GetColor() const { return FColor; }
  virtual void SetColor(const TAlphaColorF& Value) { FColor = Value; }
  TRenderer* GetAttachedRenderer() const { return FAttachedRenderer; }
  void SetAttachedRenderer(TRenderer* Value) { FAttachedRenderer = Value; }
  // The context's default and translucent frame buffers; null without an engine context.
  TFrameBufferObject* GetDefaultFrameBuf() const;
  TFrameBufferObject* GetTranslucentBuf() const;

  void Resize(const TPoint& ASize, float AScale) { DoResize(ASize, AScale); }
  virtual void Apply();
  virtual void Reset();
  virtual void BeginMainRenderPass(const TMatrix3D& ACamera, float AAngleOfView);
  virtual void EndMainRenderPass();
  virtual bool BeginOpaqueRendering();
  virtual void EndOpaqueRendering();
  virtual bool BeginTranslucentRendering();
  virtual void EndTranslucentRendering();

protected:
  virtual void DoResize(const TPoint& ASize, float AScale);
  virtual void RecreateContext();
  virtual TTexture* CreateCompositeTexture();
  virtual void CreateResources();
  virtual void ReleaseResources(bool ADestroying) {}
  virtual void PrepareRenderTargets() {}
  // The shared context as an engine context, or null.
  TQuorvelContext* EngineContext() const;
  void FreeContextAndTexture() noexcept;

  std::string FId;
  TRendererFlags FFlags;
  TMultisample FMultisample = TMultisample::TwoSamples;
  TContext3D* FSharedContext = nullptr;             // owned
  TRenderTargets FRenderTargets{TRenderTarget::Color_0};
  TQuorvelTextureBitmap* FCompositeTexture = nullptr;  // owned
  TComponent* FOwner = nullptr;
  TPoint FSize{64, 64};
  float FScale = 1;
  TAlphaColorF FColor{0, 0, 0, 0};
  TRenderer* FAttachedRenderer = nullptr;
  TOnRendererCreateCompositeTexture FOnCreateCompositeTexture;
};

class TLegacyRenderer : public TRenderer {
  FW_CLASS(TLegacyRenderer, TRenderer)

public:
  TLegacyRenderer(const std::string& AId, TComponent* AOwner, const TRendererFlags& AFlags,
                  TOnRendererCreateCompositeTexture ACompositeTextureEvent);

  bool BeginOpaqueRendering() override;
  void EndOpaqueRendering() override;
  bool BeginTranslucentRendering() override;
  void EndTranslucentRendering() override;
};

// Draws the opaque objects into five targets (albedo, alpha, position, normals, emissive) and
// the translucent ones, accumulated, into a second frame buffer; its composite step merges
// them into the composite texture (deferred composition) and smooths the edges (FXAA). The
// passes of that step are embedded controllers owned by the renderer's owner and run by the
// renderer only. With a global-illumination detail above 0 it voxelizes the scene, traces the
// global illumination from the voxels and blurs it before the composition; at detail 0 none of
// those passes, renderers or voxel textures exists.
class TCompositeRenderer : public TRenderer {
  FW_CLASS(TCompositeRenderer, TRenderer)

public:
  TCompositeRenderer(const std::string& AId, TComponent* AOwner, const TRendererFlags& AFlags,
                     TOnRendererCreateCompositeTexture ACompositeTextureEvent);

  float GetTranslucentDistance() const { return FTranslucentDistance; }
  void SetTranslucentDistance(float Value);
  const TPoint3D& GetSaturation() const { return FSaturation; }
  void SetSaturation(const TPoint3D& Value);
  int32_t GetEmissiveBlur() const { return FEmissiveBlur; }
  void SetEmissiveBlur(int32_t Value);
  int32_t GetGlobalIllumDetail() const { return FGlobalIllumDetail; }
  void SetGlobalIllumDetail(int32_t Value);
  float GetGlobalIllumSoftness() const { return FGlobalIllumSoftness; }
  void SetGlobalIllumSoftness(float Value);
  float GetShadowStrength() const { return FShadowStrength; }
  void SetShadowStrength(float Value);
  float GetReflectionStrength() const { return FReflectionStrength; }
  void SetReflectionStrength(float Value);
  int32_t GetFXAA() const { return FXAASteps; }
  void SetFXAA(int32_t Value);

  TTexture* GetAlbedoTexture() const { return FAlbedoTexture.get(); }
  TTexture* GetTranslucentAlbedoTexture() const { return FTranslucentAlbedoTexture.get(); }
  TTexture* GetAlphaTexture() const { return FAlphaTexture.get(); }
  TTexture* GetPositionTexture() const { return FPositionTexture.get(); }
  TTexture* GetNormalsTexture() const { return FNormalsTexture.get(); }
  TTexture* GetEmissiveTexture() const { return FEmissiveTexture.get(); }
  TQuorvelRenderPassDeferredComposite* GetDeferredCompositeCtrl() const { return FDeferredCompositeCtrl; }
  TQuorvelRenderPassFXAA* GetFXAACtrl() const { return FFXAACtrl; }
  TQuorvelRenderPassEmissiveBlur* GetEmissiveBlurCtrl() const { return FEmissiveBlurCtrl; }
  TQuorvelRenderPassEmbeddedGlobalIllum* GetGlobalIllumCtrl() const { return FGlobalIllumCtrl; }
  TQuorvelRenderPassEmbeddedVoxelize* GetVoxelizeCtrl() const { return FVoxelizeCtrl; }
  TQuorvelRenderPassGlobalIllumBlur* GetGlobalIllumBlurCtrl() const { return FGlobalIllumBlurCtrl; }

  bool BeginOpaqueRendering() override;
  void EndOpaqueRendering() override;
  bool BeginTranslucentRendering() override;
  void EndTranslucentRendering() override;
  // The composite step: deferred composition into the composite texture, then FXAA.
  virtual void Composite(PRenderContext ARenderContext);

protected:
  void RecreateContext() override;
  void CreateResources() override;
  void ReleaseResources(bool ADestroying) override;
  void CreateDeferredCompositePass();
  void CreateEmissiveBlurPass();
  // Only at a detail above 0: at 0 nothing of the global illumination is allocated.
  void CreateGlobalIllumPasses();
  void CreateFXAAPass();
  void DestroyDeferredCompositePass(bool ADestroying);
  void DestroyEmissiveBlurPass(bool ADestroying);
  void DestroyGlobalIllumPasses(bool ADestroying);
  void DestroyFXAAPass(bool ADestroying);
  // A controller of this renderer's composite step, sized and linked like the renderer.
  void Embed(TQuorvelRenderPassController* AController);
  void FreeEmbedded(TQuorvelRenderPassController* AController, bool ADestroying);
  TTexture* RenderEmissiveBlur(PRenderContext ARenderContext);
  void RenderGlobalIllumination(PRenderContext ARenderContext);
  void RenderFXAA(PRenderContext ARenderContext);

  TOwned<TTexture> FAlbedoTexture;
  TOwned<TTexture> FTranslucentAlbedoTexture;
  TOwned<TTexture> FAlphaTexture;
  TOwned<TTexture> FPositionTexture;
  TOwned<TTexture> FNormalsTexture;
  TOwned<TTexture> FEmissiveTexture;
  TQuorvelRenderPassDeferredComposite* FDeferredCompositeCtrl = nullptr;  // owned by FOwner
  TOwned<TRenderPass> FDeferredCompositePass;
  TQuorvelRenderPassEmissiveBlur* FEmissiveBlurCtrl = nullptr;  // owned by FOwner
  TOwned<TRenderPass> FEmissiveBlurPass;
  TQuorvelRenderPassEmbeddedVoxelize* FVoxelizeCtrl = nullptr;  // owned by FOwner
  TOwned<TRenderPass> FVoxelizePass;
  TQuorvelRenderPassEmbeddedGlobalIllum* FGlobalIllumCtrl = nullptr;  // owned by FOwner
  TOwned<TRenderPass> FGlobalIllumPass;
  TQuorvelRenderPassGlobalIllumBlur* FGlobalIllumBlurCtrl = nullptr;  // owned by FOwner
  TOwned<TRenderPass> FGlobalIllumBlurPass;
  TQuorvelRenderPassFXAA* FFXAACtrl = nullptr;  // owned by FOwner
  TOwned<TRenderPass> FFXAAPass;
  float FTranslucentDistance = 10;
  TPoint3D FSaturation;
  int32_t FEmissiveBlur = 0;
  int32_t FGlobalIllumDetail = 0;
  float FGlobalIllumSoftness = 1;
  float FShadowStrength = 0.4f;
  float FReflectionStrength = 0;
  int32_t FXAASteps = 1;
};

class TForwardRenderer : public TCompositeRenderer {
  FW_CLASS(TForwardRenderer, TCompositeRenderer)

public:
  TForwardRenderer(const std::string& AId, TComponent* AOwner, const TRendererFlags& AFlags,
                   TOnRendererCreateCompositeTexture ACompositeTextureEvent);

protected:
  void PrepareRenderTargets() override;
};

}  // namespace quorvel
