#include "lib/passes/Renderer.h"

#include <algorithm>

#include "framework/rtl/Finally.h"
#include "framework/rtl/SysUtils.h"
#include "lib/context/Context.h"
#include "lib/context/ContextBuffersFrameBuffers.h"
#include "lib/context/ContextTexturing.h"
#include "lib/passes/Controller.h"
#include "lib/passes/ControllerPassesDeferredComposite.h"
#include "lib/passes/ControllerPassesEmissiveBlur.h"
#include "lib/passes/ControllerPassesFXAA.h"
#include "lib/passes/ControllerPassesGlobalIllumBlur.h"
#include "lib/passes/ControllerPassesGlobalIllumination.h"
#include "lib/passes/ControllerPassesVoxelize.h"
#include "lib/scene/Viewport.h"

namespace quorvel {

FW_CLASS_IMPL(TRenderer, "Quorvel.Renderer")
FW_CLASS_NO_MEMBERS(TRenderer)
FW_CLASS_IMPL(TLegacyRenderer, "Quorvel.Renderer")
FW_CLASS_NO_MEMBERS(TLegacyRenderer)
FW_CLASS_IMPL(TCompositeRenderer, "Quorvel.Renderer")
FW_CLASS_NO_MEMBERS(TCompositeRenderer)
FW_CLASS_IMPL(TForwardRenderer, "Quorvel.Renderer")
FW_CLASS_NO_MEMBERS(TForwardRenderer)

namespace {

// Runs AStep; any exception leaves as a new one whose message has APrefix in front.
template <class F>
void Guarded(const char* APrefix, F&& AStep) {
  try {
    AStep();
  } catch (const std::exception& e) {
    throw Exception(std::string(APrefix) + e.what());
  }
}

const TRenderTargets kColor0{TRenderTarget::Color_0};

}  // namespace

// ---- TRenderer ------------------------------------------------------------------------------

TRenderer::TRenderer(const std::string& AId, TComponent* AOwner, const TRendererFlags& AFlags,
                     TOnRendererCreateCompositeTexture ACompositeTextureEvent)
    : FId(AId), FFlags(AFlags), FOwner(AOwner), FOnCreateCompositeTexture(std::move(ACompositeTextureEvent)) {}

TRenderer::~TRenderer() { FreeContextAndTexture(); }

void TRenderer::AfterConstruction() {
  TObject::AfterConstruction();
  if (auto* viewport = dynamic_cast<TQuorvelViewport*>(FOwner)) {
    FSize = TPoint(int32_t(Round(viewport->GetWidth())), int32_t(Round(viewport->GetHeight())));
    FScale = viewport->GetViewportScale();
    RecreateContext();
  } else if (auto* pass = dynamic_cast<TQuorvelRenderPassController*>(FOwner)) {
    FSize = pass->GetViewportSize();
    FScale = pass->GetViewportScale();
    RecreateContext();
  }
}

void TRenderer::BeforeDestruction() {
  Quietly("renderer resources", [&] { ReleaseResources(true); });
  FreeContextAndTexture();
  TObject::BeforeDestruction();
}

void TRenderer::FreeContextAndTexture() noexcept {
  // The context renders into the texture: it goes first.
  FreeQuietlyAndNil(FSharedContext, "renderer context");
  FreeQuietlyAndNil(FCompositeTexture, "renderer composite texture");
}

TQuorvelContext* TRenderer::EngineContext() const { return dynamic_cast<TQuorvelContext*>(FSharedContext); }

TFrameBufferObject* TRenderer::GetDefaultFrameBuf() const {
  TQuorvelContext* ctx = EngineContext();
  return ctx ? ctx->GetDefaultFrameBuf() : nullptr;
}

TFrameBufferObject* TRenderer::GetTranslucentBuf() const {
  TQuorvelContext* ctx = EngineContext();
  return ctx ? ctx->GetTranslucentBuf() : nullptr;
}

void TRenderer::SetSize(const TPoint& Value) {
  if (Value != FSize) DoResize(Value, FScale);
}

void TRenderer::SetScale(float Value) {
  if (Value != FScale) DoResize(FSize, Value);
}

void TRenderer::DoResize(const TPoint& ASize, float AScale) {
  if (FSharedContext && FSharedContext->GetWidth() == ASize.X && FSharedContext->GetHeight() == ASize.Y &&
      FSharedContext->GetScale() == AScale)
    return;
  FSize = ASize;
  FScale = AScale;
  RecreateContext();
  CreateResources();
}

void TRenderer::RecreateContext() {
  Guarded("Failed to destroy renderer context, before creating a new one - ", [&] {
    ReleaseResources(false);
    FreeAndNil(FSharedContext);
    FreeAndNil(FCompositeTexture);
  });
  TTexture* texture = nullptr;
  Guarded("Failed to create renderer composite texture - ", [&] { texture = CreateCompositeTexture(); });
  Guarded("Failed to create renderer context - ",
          [&] { FSharedContext = TContextManager::CreateFromTexture(texture, FMultisample, true); });
}

TTexture* TRenderer::CreateCompositeTexture() {
  FreeAndNil(FCompositeTexture);
  if (FOnCreateCompositeTexture) {
    FOnCreateCompositeTexture(this, FSize, FScale, FCompositeTexture);
    if (FCompositeTexture) return FCompositeTexture->GetTexture();
  }
  FCompositeTexture = TQuorvelTextureBitmap::Create();
  FCompositeTexture->BeginSetup();
  {
    auto done = Finally([&] { FCompositeTexture->EndSetup(); });
    FCompositeTexture->SetStyle({TTextureStyle::RenderTarget});
    FCompositeTexture->SetComponents(TPixelFormatEx::RGBA8);
    FCompositeTexture->SetFormat(TPixelFormatEx::BGRA);
    FCompositeTexture->SetDataType(TQuorvelTextureDataType::dtUnsignedByte);
    FCompositeTexture->SetSize(std::max(FSize.X, 1), std::max(FSize.Y, 1));
    FCompositeTexture->SetBitmapScale(FScale);
  }
  TTexture* texture = FCompositeTexture->GetTexture();
  texture->SetTextureScale(FScale);
  return texture;
}

void TRenderer::CreateResources() { ReleaseResources(false); }

void TRenderer::Apply() {
  if (TQuorvelContext* ctx = EngineContext()) {
    PrepareRenderTargets();
    ctx->LinkDepthBufferToTranslucentBuffer();
  }
}

void TRenderer::Reset() {
  if (TQuorvelContext* ctx = EngineContext()) {
    if (ctx->GetDefaultFrameBuf()) ctx->GetDefaultFrameBuf()->Reset();
    if (ctx->GetTranslucentBuf()) ctx->GetTranslucentBuf()->Reset();
  }
}

void TRenderer::BeginMainRenderPass(const TMatrix3D& ACamera, float AAngleOfView) {
  TQuorvelContext* ctx = EngineContext();
  if (!ctx) return;
  ctx->BeginSceneRendering();
  ctx->SetContextState(TContextState::csScissorOff);
  // The scene is 3D whatever screen rectangle another renderer drew last.
  ctx->SetContextState(TContextState::cs3DScene);
  ctx->SetCameraMatrix(ACamera);
  ctx->SetCameraAngleOfView(AAngleOfView);
}

void TRenderer::EndMainRenderPass() {
  if (TQuorvelContext* ctx = EngineContext()) ctx->EndSceneRendering();
}

bool TRenderer::BeginOpaqueRendering() {
  TQuorvelContext* ctx = EngineContext();
  if (!ctx) return false;
  ctx->SetContextStates({TContextState::csZTestOn, TContextState::csZWriteOn, TContextState::csFrontFace});
  ctx->BindDefaultBuffer();
  // A refused begin leaves nothing bound: the viewport skips the phase's end.
  if (!ctx->BeginSceneRendering()) {
    ctx->UnbindDefaultBuffer();
    return false;
  }
  ctx->DisableBlendingBuffers();
  TFrameBufferObject* fbo = ctx->GetDefaultFrameBuf();
  // Draw buffers first: a clear reaches only the targets that are drawn to.
  fbo->Prepare(FRenderTargets);
  // Position, normals and emission start empty, the others at the background: each target is
  // cleared once (a full-frame clear of a wide target is not free on a software rasteriser).
  constexpr TRenderTarget empty[] = {TRenderTarget::Color_2, TRenderTarget::Color_3, TRenderTarget::Color_4};
  TRenderTargets targets = FRenderTargets;
  targets.Include(TRenderTarget::Depth);
  for (TRenderTarget t : empty) targets.Exclude(t);
  fbo->Clear(targets, FColor, 1.0f, 0, false);
  // The position target marks "no geometry" for the passes that read positions.
  fbo->Clear(TRenderTarget::Color_2, TAlphaColorF(0, 0, 0, kNoGeometryPositionAlpha), 1.0f, 0, false);
  for (TRenderTarget t : {TRenderTarget::Color_3, TRenderTarget::Color_4})
    fbo->Clear(t, TAlphaColorF(0, 0, 0, 0), 1.0f, 0, false);
  return true;
}

void TRenderer::EndOpaqueRendering() {
  if (TQuorvelContext* ctx = EngineContext()) {
    ctx->UnbindDefaultBuffer();
    ctx->EndSceneRendering();
  }
}

bool TRenderer::BeginTranslucentRendering() {
  TQuorvelContext* ctx = EngineContext();
  if (!ctx) return false;
  ctx->SetTranslucentRendering(true);
  ctx->SetContextState(TContextState::csZTestOn);
  TFrameBufferObject* fbo = ctx->GetTranslucentBuf();
  // Bound in GL too: pushing it alone would leave the draws in whatever frame buffer is bound.
  fbo->Bind(ctx);
  fbo->Clear(TRenderTargets{TRenderTarget::Color_0, TRenderTarget::Color_1}, TAlphaColorF(0, 0, 0, 0), 1.0f, 0, true);
  if (!ctx->BeginSceneRendering()) {
    fbo->Unbind(ctx);
    ctx->SetTranslucentRendering(false);
    return false;
  }
  ctx->SetMemoryBarrierBit(TMemoryBarrierFlag::FrameBufferBarrierBit);
  ctx->EnableBlendingBuffers();
  using F = TBlendFactor;
  const auto add = TBlendEquationFunc::befAdd;
  ctx->SetBlendingByIndex(0, TBlendSetting::Create(true, add, F::bfOne, F::bfOne, F::bfOne, F::bfOne));
  ctx->SetBlendingByIndex(
      1, TBlendSetting::Create(true, add, F::bfOne, F::bfOneMinusSrcColor, F::bfOne, F::bfOneMinusSrcAlpha));
  for (uint32_t i = 2; i <= 4; ++i)
    ctx->SetBlendingByIndex(i, TBlendSetting::Create(true, add, F::bfOne, F::bfOne, F::bfOne, F::bfOne));
  fbo->Prepare(FRenderTargets);
  return true;
}

void TRenderer::EndTranslucentRendering() {
  TQuorvelContext* ctx = EngineContext();
  if (!ctx) return;
  ctx->EndSceneRendering();
  if (TFrameBufferObject* fbo = ctx->GetTranslucentBuf()) fbo->Unbind(ctx);
  ctx->SetTranslucentRendering(false);
  ctx->SetMemoryBarrierBit(TMemoryBarrierFlag::TextureFetchBarrierBit);
  ctx->SetContextState(TContextState::csAlphaBlendOff);
}

// ---- TLegacyRenderer ------------------------------------------------------------------------

TLegacyRenderer::TLegacyRenderer(const std::string& AId, TComponent* AOwner, const TRendererFlags& AFlags,
                                 TOnRendererCreateCompositeTexture ACompositeTextureEvent)
    : TRenderer(AId, AOwner, AFlags, std::move(ACompositeTextureEvent)) {
  FRenderTargets = kColor0;
}

namespace {

// The phases of a renderer that draws straight into its composite texture.
bool DirectBeginOpaque(TRenderer& R) {
  auto* ctx = dynamic_cast<TQuorvelContext*>(R.GetSharedContext());
  if (!ctx) return false;
  ctx->SetContextStates({TContextState::csZTestOn, TContextState::csZWriteOn, TContextState::csFrontFace});
  ctx->BindDefaultBuffer();
  if (!ctx->BeginSceneRendering()) {
    ctx->UnbindDefaultBuffer();
    return false;
  }
  ctx->DisableBlendingBuffers();
  TFrameBufferObject* fbo = ctx->GetDefaultFrameBuf();
  // The target is attached before it is cleared: a cube map draws one face per run, and a
  // clear before the attachment would wipe the face drawn in the run before.
  if (R.GetCompositeTexture())
    ctx->AttachTextureToDefaultBuffer(R.GetCompositeTexture()->GetTexture(), TRenderTarget::Color_0);
  TRenderTargets targets = R.GetRenderTargets();
  targets.Include(TRenderTarget::Depth);
  fbo->Clear(targets, R.GetColor(), 1.0f, 0, false);
  fbo->Prepare(R.GetRenderTargets());
  return true;
}

void DirectEndOpaque(TRenderer& R) {
  if (auto* ctx = dynamic_cast<TQuorvelContext*>(R.GetSharedContext())) {
    ctx->UnbindDefaultBuffer();
    ctx->EndSceneRendering();
  }
}

bool DirectBeginTranslucent(TRenderer& R) {
  auto* ctx = dynamic_cast<TQuorvelContext*>(R.GetSharedContext());
  if (!ctx) return false;
  ctx->SetTranslucentRendering(true);
  ctx->SetContextStates({TContextState::csZTestOn, TContextState::csZWriteOn, TContextState::csFrontFace});
  ctx->BindDefaultBuffer();
  if (!ctx->BeginSceneRendering()) {
    ctx->UnbindDefaultBuffer();
    ctx->SetTranslucentRendering(false);
    return false;
  }
  ctx->EnableBlendingBuffers();
  using F = TBlendFactor;
  ctx->SetBlendingByIndex(0, TBlendSetting::Create(true, TBlendEquationFunc::befAdd, F::bfOne, F::bfOneMinusSrcColor,
                                                   F::bfOne, F::bfOneMinusSrcAlpha));
  ctx->GetDefaultFrameBuf()->Prepare(R.GetRenderTargets());
  return true;
}

void DirectEndTranslucent(TRenderer& R) {
  auto* ctx = dynamic_cast<TQuorvelContext*>(R.GetSharedContext());
  if (!ctx) return;
  ctx->UnbindDefaultBuffer();
  ctx->EndSceneRendering();
  ctx->SetTranslucentRendering(false);
}

}  // namespace

bool TLegacyRenderer::BeginOpaqueRendering() { return DirectBeginOpaque(*this); }
void TLegacyRenderer::EndOpaqueRendering() { DirectEndOpaque(*this); }
bool TLegacyRenderer::BeginTranslucentRendering() { return DirectBeginTranslucent(*this); }
void TLegacyRenderer::EndTranslucentRendering() { DirectEndTranslucent(*this); }

// ---- TCompositeRenderer ---------------------------------------------------------------------

TCompositeRenderer::TCompositeRenderer(const std::string& AId, TComponent* AOwner, const TRendererFlags& AFlags,
                                       TOnRendererCreateCompositeTexture ACompositeTextureEvent)
    : TRenderer(AId, AOwner, AFlags, std::move(ACompositeTextureEvent)) {
  FRenderTargets = TRenderTargets{TRenderTarget::Color_0, TRenderTarget::Color_1, TRenderTarget::Color_2,
                                  TRenderTarget::Color_3, TRenderTarget::Color_4};
}

void TCompositeRenderer::RecreateContext() {
  TRenderer::RecreateContext();
  if (TQuorvelContext* ctx = EngineContext()) ctx->SetTranslucentDistance(FTranslucentDistance);
}

void TCompositeRenderer::SetTranslucentDistance(float Value) {
  FTranslucentDistance = std::clamp(Value, 1.0f, 10000.0f);
  if (TQuorvelContext* ctx = EngineContext()) ctx->SetTranslucentDistance(FTranslucentDistance);
}

void TCompositeRenderer::SetSaturation(const TPoint3D& Value) {
  FSaturation = TPoint3D(std::clamp(Value.X, 0.0f, 10.0f), std::clamp(Value.Y, 0.0f, 10.0f),
                         std::clamp(Value.Z, 0.0f, 10.0f));
  if (FDeferredCompositeCtrl) FDeferredCompositeCtrl->SetSaturation(FSaturation);
}

void TCompositeRenderer::SetEmissiveBlur(int32_t Value) {
  FEmissiveBlur = std::clamp(Value, 0, 15);
  if (FDeferredCompositeCtrl) FDeferredCompositeCtrl->SetEmissiveBlur(FEmissiveBlur);
  if (FEmissiveBlurCtrl) FEmissiveBlurCtrl->SetBlurAmount(float(FEmissiveBlur));
}

void TCompositeRenderer::SetGlobalIllumDetail(int32_t Value) {
  int32_t detail = std::clamp(Value, 0, 7);
  if (detail == 0) {
    FGlobalIllumDetail = 0;
    DestroyGlobalIllumPasses(false);
    return;
  }
  // The passes exist from the next composite step on; existing ones take the new size, with
  // the detail lowered while the device cannot hold the cascades.
  if (FVoxelizeCtrl) {
    const int32_t size = TQuorvelRenderPassVoxelize::GetVoxelSizeFromDetail(FSharedContext, detail);
    if (FVoxelizeCtrl->GetVoxelSize() != size) {
      FreeQuietlyAndNil(FVoxelizePass, "voxelize run");
      FVoxelizeCtrl->SetVoxelSize(size);
    }
  }
  FGlobalIllumDetail = detail;
}

void TCompositeRenderer::SetGlobalIllumSoftness(float Value) {
  FGlobalIllumSoftness = std::clamp(Value, 0.0f, 5.0f);
  if (FGlobalIllumBlurCtrl) FGlobalIllumBlurCtrl->SetBlurAmount(FGlobalIllumSoftness);
}

void TCompositeRenderer::SetShadowStrength(float Value) {
  FShadowStrength = std::clamp(Value, 0.0f, 10.0f);
  if (FGlobalIllumCtrl) FGlobalIllumCtrl->SetShadowStrength(FShadowStrength);
}

void TCompositeRenderer::SetReflectionStrength(float Value) {
  FReflectionStrength = std::clamp(Value, 0.0f, 10.0f);
  if (FGlobalIllumCtrl) FGlobalIllumCtrl->SetReflectionStrength(FReflectionStrength);
}

void TCompositeRenderer::SetFXAA(int32_t Value) {
  FXAASteps = std::clamp(Value, 0, 8);
  if (FFXAACtrl) FFXAACtrl->SetIterations(FXAASteps);
}

namespace {

TQuorvelTexture* MakeTarget(const TPoint& ASize, TPixelFormatEx AComponents, TPixelFormatEx AFormat,
                     TQuorvelTextureDataType AType, float ATextureScale) {
  TQuorvelTexture* texture = TQuorvelTexture::Create();
  texture->SetStyle({TTextureStyle::RenderTarget});
  texture->SetComponents(AComponents);
  texture->SetFormat(AFormat);
  texture->SetDataType(AType);
  texture->SetSize(std::max(ASize.X, 1), std::max(ASize.Y, 1));
  texture->SetTextureScale(ATextureScale);
  return texture;
}

}  // namespace

void TCompositeRenderer::CreateResources() {
  TRenderer::CreateResources();
  CreateDeferredCompositePass();
  CreateEmissiveBlurPass();
  CreateGlobalIllumPasses();
  CreateFXAAPass();
  if (FFlags.Contains(TRendererFlag::IgnoreRenderTargets)) return;
  using P = TPixelFormatEx;
  using D = TQuorvelTextureDataType;
  FAlbedoTexture.reset(MakeTarget(FSize, P::RGBA8, P::BGRA, D::dtUnsignedByte, FScale));
  FTranslucentAlbedoTexture.reset(MakeTarget(FSize, P::RGBA16F, P::BGRA, D::dtHalfFloat, FScale));
  FAlphaTexture.reset(MakeTarget(FSize, P::R16F, P::Alpha, D::dtHalfFloat, FScale));
  TQuorvelTexture* position = MakeTarget(FSize, P::RGBA16F, P::BGRA, D::dtHalfFloat, FScale);
  FPositionTexture.reset(position);
  position->SetWrapS(TQuorvelTextureWrap::ClampToEdge);
  position->SetWrapT(TQuorvelTextureWrap::ClampToEdge);
  FNormalsTexture.reset(MakeTarget(FSize, P::RGB16F, P::BGR, D::dtHalfFloat, FScale));
  FEmissiveTexture.reset(MakeTarget(FSize, P::RGB8, P::BGR, D::dtUnsignedByte, 0.25f));
}

void TCompositeRenderer::ReleaseResources(bool ADestroying) {
  TRenderer::ReleaseResources(ADestroying);
  DestroyDeferredCompositePass(ADestroying);
  DestroyEmissiveBlurPass(ADestroying);
  DestroyGlobalIllumPasses(ADestroying);
  DestroyFXAAPass(ADestroying);
  FreeQuietlyAndNil(FEmissiveTexture, "emissive target");
  FreeQuietlyAndNil(FNormalsTexture, "normals target");
  FreeQuietlyAndNil(FPositionTexture, "position target");
  FreeQuietlyAndNil(FAlphaTexture, "alpha target");
  FreeQuietlyAndNil(FAlbedoTexture, "albedo target");
  FreeQuietlyAndNil(FTranslucentAlbedoTexture, "translucent albedo target");
}

void TCompositeRenderer::Embed(TQuorvelRenderPassController* AController) {
  TComponent* viewport = dynamic_cast<TQuorvelViewport*>(FOwner);
  if (!viewport)
    if (auto* pass = dynamic_cast<TQuorvelRenderPassController*>(FOwner)) viewport = pass->GetViewport();
  AController->SetViewportSizeAndScaleWithoutResize(viewport, FSize, FScale);
}

void TCompositeRenderer::FreeEmbedded(TQuorvelRenderPassController* AController, bool ADestroying) {
  if (!AController) return;
  // An owner being destroyed frees its components itself (some may be gone already). A
  // renderer replaced while its owner lives frees them here: left behind, they would pile up
  // on the owner with a dangling renderer that a context reset still reaches.
  if (ADestroying && FOwner && FOwner->GetComponentState().Contains(csDestroying)) return;
  if (TQuorvelViewport* viewport = AController->GetViewport())
    if (!viewport->GetComponentState().Contains(csDestroying)) viewport->RemoveRenderPass(AController);
  Free(AController);
}

namespace {
std::string EmbeddedId(const std::string& ARendererId, const char* AKind, const void* ARenderer) {
  return ARendererId + AKind + std::to_string(uint64_t(reinterpret_cast<uintptr_t>(ARenderer)));
}
}  // namespace

void TCompositeRenderer::CreateDeferredCompositePass() {
  if (FFlags.Contains(TRendererFlag::IgnoreCompositeCtrl)) return;
  DestroyDeferredCompositePass(false);
  FDeferredCompositeCtrl =
      New<TQuorvelRenderPassDeferredComposite>(FOwner, EmbeddedId(FId, "_DeferredComposite_", this));
  FDeferredCompositeCtrl->SetRenderer(this);
  FDeferredCompositeCtrl->SetSaturation(FSaturation);
  FDeferredCompositeCtrl->SetEmissiveBlur(FEmissiveBlur);
  Embed(FDeferredCompositeCtrl);
}

void TCompositeRenderer::CreateEmissiveBlurPass() {
  if (FFlags.Contains(TRendererFlag::IgnoreEmissiveBlur)) return;
  DestroyEmissiveBlurPass(false);
  FEmissiveBlurCtrl = New<TQuorvelRenderPassEmissiveBlur>(FOwner, EmbeddedId(FId, "_EmissiveBlur_", this));
  FEmissiveBlurCtrl->SetBlurAmount(float(FEmissiveBlur));
  Embed(FEmissiveBlurCtrl);
}

void TCompositeRenderer::CreateGlobalIllumPasses() {
  if (FFlags.Contains(TRendererFlag::IgnoreGlobalIllum)) return;
  DestroyGlobalIllumPasses(false);
  if (FGlobalIllumDetail == 0) return;
  int32_t detail = FGlobalIllumDetail;
  const int32_t size = TQuorvelRenderPassVoxelize::GetVoxelSizeFromDetail(FSharedContext, detail);
  FGlobalIllumDetail = detail;
  if (detail == 0) return;
  FVoxelizeCtrl = New<TQuorvelRenderPassEmbeddedVoxelize>(FOwner, EmbeddedId(FId, "_Voxelize_", this));
  Embed(FVoxelizeCtrl);
  FVoxelizeCtrl->SetVoxelSize(size);
  // Linked through its viewport, as a pass of the viewport's list (it rasterises at its own size).
  FVoxelizeCtrl->SetViewport(FVoxelizeCtrl->GetViewport());
  FGlobalIllumCtrl = New<TQuorvelRenderPassEmbeddedGlobalIllum>(FOwner, EmbeddedId(FId, "_GlobalIllum_", this));
  Embed(FGlobalIllumCtrl);
  FGlobalIllumCtrl->SetVoxelGeometry(FVoxelizeCtrl);
  FGlobalIllumCtrl->SetShadowStrength(FShadowStrength);
  FGlobalIllumCtrl->SetReflectionStrength(FReflectionStrength);
  FGlobalIllumBlurCtrl = New<TQuorvelRenderPassGlobalIllumBlur>(FOwner, EmbeddedId(FId, "_GlobalIllumBlur_", this));
  Embed(FGlobalIllumBlurCtrl);
  FGlobalIllumBlurCtrl->SetBlurAmount(FGlobalIllumSoftness);
  FGlobalIllumBlurCtrl->SetGlobalIllumPass(FGlobalIllumCtrl);
}

void TCompositeRenderer::DestroyGlobalIllumPasses(bool ADestroying) {
  FreeQuietlyAndNil(FGlobalIllumBlurPass, "global illumination blur run");
  FreeQuietlyAndNil(FGlobalIllumPass, "global illumination run");
  FreeQuietlyAndNil(FVoxelizePass, "voxelize run");
  // The readers first: each holds the one before it.
  TQuorvelRenderPassController* blur = FGlobalIllumBlurCtrl;
  TQuorvelRenderPassController* gi = FGlobalIllumCtrl;
  TQuorvelRenderPassController* voxels = FVoxelizeCtrl;
  FGlobalIllumBlurCtrl = nullptr;
  FGlobalIllumCtrl = nullptr;
  FVoxelizeCtrl = nullptr;
  if (FDeferredCompositeCtrl && !ADestroying) FDeferredCompositeCtrl->SetGlobalIllumPass(nullptr);
  FreeEmbedded(blur, ADestroying);
  FreeEmbedded(gi, ADestroying);
  FreeEmbedded(voxels, ADestroying);
}

void TCompositeRenderer::CreateFXAAPass() {
  DestroyFXAAPass(false);
  if (!FDeferredCompositeCtrl) return;
  FFXAACtrl = New<TQuorvelRenderPassFXAA>(FOwner, EmbeddedId(FId, "_FXAA_", this));
  FFXAACtrl->SetIterations(FXAASteps);
  FFXAACtrl->SetInputPass(FDeferredCompositeCtrl);
  Embed(FFXAACtrl);
}

void TCompositeRenderer::DestroyDeferredCompositePass(bool ADestroying) {
  FreeQuietlyAndNil(FDeferredCompositePass, "composition run");
  TQuorvelRenderPassController* ctrl = FDeferredCompositeCtrl;
  FDeferredCompositeCtrl = nullptr;
  FreeEmbedded(ctrl, ADestroying);
}

void TCompositeRenderer::DestroyEmissiveBlurPass(bool ADestroying) {
  FreeQuietlyAndNil(FEmissiveBlurPass, "emissive blur run");
  TQuorvelRenderPassController* ctrl = FEmissiveBlurCtrl;
  FEmissiveBlurCtrl = nullptr;
  FreeEmbedded(ctrl, ADestroying);
}

void TCompositeRenderer::DestroyFXAAPass(bool ADestroying) {
  FreeQuietlyAndNil(FFXAAPass, "FXAA run");
  TQuorvelRenderPassController* ctrl = FFXAACtrl;
  FFXAACtrl = nullptr;
  FreeEmbedded(ctrl, ADestroying);
}

bool TCompositeRenderer::BeginOpaqueRendering() {
  TQuorvelContext* ctx = EngineContext();
  if (!ctx) return false;
  // A renderer made again without a resize after it (a renderer type read from a form) has no
  // targets yet: drawn without them, its frame would be black.
  if (!FAlbedoTexture && !FFlags.Contains(TRendererFlag::IgnoreRenderTargets)) Apply();
  if (FAlbedoTexture) ctx->AttachTextureToDefaultBuffer(FAlbedoTexture.get(), TRenderTarget::Color_0);
  return TRenderer::BeginOpaqueRendering();
}

void TCompositeRenderer::EndOpaqueRendering() {
  TRenderer::EndOpaqueRendering();
}

bool TCompositeRenderer::BeginTranslucentRendering() {
  return TRenderer::BeginTranslucentRendering();
}

void TCompositeRenderer::EndTranslucentRendering() {
  TRenderer::EndTranslucentRendering();
}

TTexture* TCompositeRenderer::RenderEmissiveBlur(PRenderContext ARenderContext) {
  TQuorvelContext* ctx = EngineContext();
  if (!ctx) return nullptr;
  if (FFlags.Contains(TRendererFlag::IgnoreEmissiveBlur) || FEmissiveBlur < 1) return FEmissiveTexture.get();
  if (!FEmissiveBlurPass) {
    // Made again after a reset of the embedded passes, as the composition is.
    if (!FEmissiveBlurCtrl) CreateEmissiveBlurPass();
    if (!FEmissiveBlurCtrl) throw Exception("renderer do not contain emissive blur render-pass");
    FEmissiveBlurPass.reset(FEmissiveBlurCtrl->CreateRenderPassInstance(ctx));
    FEmissiveBlurCtrl->SetBlurAmount(float(FEmissiveBlur));
    FEmissiveBlurCtrl->SetEmissiveTexture(FEmissiveTexture.get());
  }
  ctx->ExecuteRenderPass(FEmissiveBlurPass.get(), ARenderContext);
  return FEmissiveBlurCtrl->GetFinalOutputTexture();
}

void TCompositeRenderer::RenderGlobalIllumination(PRenderContext ARenderContext) {
  TQuorvelContext* ctx = EngineContext();
  if (!ctx || FFlags.Contains(TRendererFlag::IgnoreGlobalIllum) || FGlobalIllumDetail == 0) return;
  // Made on first use after the detail rose above 0, and again after a reset of the embedded
  // passes, as the composition is.
  if (!FVoxelizeCtrl) CreateGlobalIllumPasses();
  if (FGlobalIllumDetail == 0) return;  // the device holds no cascades
  if (!FVoxelizePass) {
    if (!FVoxelizeCtrl) throw Exception("renderer do not contain global illumination voxelize render-pass");
    FVoxelizePass.reset(FVoxelizeCtrl->CreateRenderPassInstance(ctx));
  }
  ctx->ExecuteRenderPass(FVoxelizePass.get(), ARenderContext);
  if (!FGlobalIllumPass) {
    if (!FGlobalIllumCtrl) throw Exception("renderer do not contain global illumination render-pass");
    FGlobalIllumPass.reset(FGlobalIllumCtrl->CreateRenderPassInstance(ctx));
    FGlobalIllumCtrl->SetPosition(FPositionTexture.get());
    FGlobalIllumCtrl->SetNormals(FNormalsTexture.get());
    FGlobalIllumCtrl->SetVoxelGeometry(FVoxelizeCtrl);
  }
  ctx->ExecuteRenderPass(FGlobalIllumPass.get(), ARenderContext);
  if (FGlobalIllumSoftness <= 0) return;
  if (!FGlobalIllumBlurPass) {
    if (!FGlobalIllumBlurCtrl) throw Exception("renderer do not contain global illumination blurring render-pass");
    FGlobalIllumBlurPass.reset(FGlobalIllumBlurCtrl->CreateRenderPassInstance(ctx));
    FGlobalIllumBlurCtrl->SetGlobalIllumPass(FGlobalIllumCtrl);
  }
  ctx->ExecuteRenderPass(FGlobalIllumBlurPass.get(), ARenderContext);
}

void TCompositeRenderer::Composite(PRenderContext ARenderContext) {
  TQuorvelContext* ctx = EngineContext();
  if (!ctx) return;
  ctx->SetMemoryBarrierBits(TMemoryBarrierFlags::FromBits((uint64_t(1) << (int(TMemoryBarrierFlag::ShaderStorageBarrierBit) + 1)) - 1));
  RenderGlobalIllumination(ARenderContext);
  TTexture* emissive = RenderEmissiveBlur(ARenderContext);
  if (!FDeferredCompositePass) {
    // The embedded passes come with the targets; a renderer whose targets were made before a
    // reset of its passes makes them again here, like PrepareRenderTargets does the targets.
    if (!FDeferredCompositeCtrl && !FFlags.Contains(TRendererFlag::IgnoreCompositeCtrl)) {
      CreateDeferredCompositePass();
      CreateFXAAPass();
    }
    if (!FDeferredCompositeCtrl) throw Exception("renderer do not contain composite render-pass");
    FDeferredCompositePass.reset(FDeferredCompositeCtrl->CreateRenderPassInstance(ctx));
  }
  if (FCompositeTexture) ctx->AttachTextureToDefaultBuffer(FCompositeTexture->GetTexture(), TRenderTarget::Color_0);
  TQuorvelRenderPassDeferredComposite* c = FDeferredCompositeCtrl;
  c->SetAlbedo(FAlbedoTexture.get());
  c->SetTranslucentAlbedo(FTranslucentAlbedoTexture.get());
  c->SetAlpha(FAlphaTexture.get());
  c->SetPosition(FPositionTexture.get());
  c->SetNormals(FNormalsTexture.get());
  c->SetEmissive(emissive);
  c->SetEmissiveBlur(FEmissiveBlur);
  TQuorvelRenderPassController* gi = nullptr;
  if (FGlobalIllumDetail > 0 && FGlobalIllumCtrl)
    gi = FGlobalIllumSoftness > 0 && FGlobalIllumBlurCtrl ? static_cast<TQuorvelRenderPassController*>(FGlobalIllumBlurCtrl)
                                                          : FGlobalIllumCtrl;
  c->SetGlobalIllumPass(gi);
  ctx->ExecuteRenderPass(FDeferredCompositePass.get(), ARenderContext);
  RenderFXAA(ARenderContext);
}

void TCompositeRenderer::RenderFXAA(PRenderContext ARenderContext) {
  TQuorvelContext* ctx = EngineContext();
  if (!ctx || FXAASteps == 0) return;
  if (!FFXAAPass) {
    if (!FFXAACtrl) throw Exception("renderer do not contain fxaa render-pass");
    FFXAAPass.reset(FFXAACtrl->CreateRenderPassInstance(ctx));
    FFXAACtrl->SetIterations(FXAASteps);
    FFXAACtrl->SetCompositeInputTexture(FDeferredCompositeCtrl->GetOutputTexture());
  }
  if (FFXAAPass) ctx->ExecuteRenderPass(FFXAAPass.get(), ARenderContext);
}

// ---- TForwardRenderer -----------------------------------------------------------------------

TForwardRenderer::TForwardRenderer(const std::string& AId, TComponent* AOwner, const TRendererFlags& AFlags,
                                   TOnRendererCreateCompositeTexture ACompositeTextureEvent)
    : TCompositeRenderer(AId, AOwner, AFlags, std::move(ACompositeTextureEvent)) {}

void TForwardRenderer::PrepareRenderTargets() {
  if (!FSharedContext) RecreateContext();
  TQuorvelContext* ctx = EngineContext();
  if (!ctx) return;
  if (!FAlphaTexture || !FAlbedoTexture || !FTranslucentAlbedoTexture) CreateResources();
  if (FFlags.Contains(TRendererFlag::IgnoreRenderTargets) && FFlags.Contains(TRendererFlag::IgnoreCompositeCtrl)) {
    TTexture* composite = FCompositeTexture ? FCompositeTexture->GetTexture() : nullptr;
    ctx->AttachTextureToDefaultBuffer(composite, TRenderTarget::Color_0);
    ctx->AttachTextureToTranslucentBuffer(composite, TRenderTarget::Color_0);
    return;
  }
  ctx->AttachTextureToDefaultBuffer(FAlbedoTexture.get(), TRenderTarget::Color_0);
  ctx->AttachTextureToDefaultBuffer(FAlphaTexture.get(), TRenderTarget::Color_1);
  ctx->AttachTextureToDefaultBuffer(FPositionTexture.get(), TRenderTarget::Color_2);
  ctx->AttachTextureToDefaultBuffer(FNormalsTexture.get(), TRenderTarget::Color_3);
  ctx->AttachTextureToDefaultBuffer(FEmissiveTexture.get(), TRenderTarget::Color_4);
  ctx->AttachTextureToTranslucentBuffer(FTranslucentAlbedoTexture.get(), TRenderTarget::Color_0);
  ctx->AttachTextureToTranslucentBuffer(FAlphaTexture.get(), TRenderTarget::Color_1);
  ctx->AttachTextureToTranslucentBuffer(FPositionTexture.get(), TRenderTarget::Color_2);
  ctx->AttachTextureToTranslucentBuffer(FNormalsTexture.get(), TRenderTarget::Color_3);
  ctx->AttachTextureToTranslucentBuffer(FEmissiveTexture.get(), TRenderTarget::Color_4);
}

}  // namespace quorvel
