#include "lib/passes/Renderer.h"

#include <algorithm>

#include "framework/rtl/Finally.h"
#include "framework/rtl/SysUtils.h"
#include "lib/context/Context.h"
#include "lib/context/ContextBuffersFrameBuffers.h"
#include "lib/context/ContextTexturing.h"
#include "lib/passes/Controller.h"
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
  const bool result = ctx->BeginSceneRendering();
  ctx->DisableBlendingBuffers();
  TFrameBufferObject* fbo = ctx->GetDefaultFrameBuf();
  TRenderTargets targets = FRenderTargets;
  targets.Include(TRenderTarget::Depth);
  fbo->Clear(targets, FColor, 1.0f, 0, false);
  for (TRenderTarget t : {TRenderTarget::Color_2, TRenderTarget::Color_3, TRenderTarget::Color_4})
    fbo->Clear(t, TAlphaColorF(0, 0, 0, 0), 1.0f, 0, false);
  fbo->Prepare(FRenderTargets);
  return result;
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
  ctx->PushFBO(fbo);
  fbo->Clear(TRenderTargets{TRenderTarget::Color_0, TRenderTarget::Color_1}, TAlphaColorF(0, 0, 0, 0), 1.0f, 0, false);
  const bool result = ctx->BeginSceneRendering();
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
  return result;
}

void TRenderer::EndTranslucentRendering() {
  TQuorvelContext* ctx = EngineContext();
  if (!ctx) return;
  ctx->EndSceneRendering();
  ctx->PopFBO();
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
  const bool result = ctx->BeginSceneRendering();
  ctx->DisableBlendingBuffers();
  TFrameBufferObject* fbo = ctx->GetDefaultFrameBuf();
  TRenderTargets targets = R.GetRenderTargets();
  targets.Include(TRenderTarget::Depth);
  fbo->Clear(targets, R.GetColor(), 1.0f, 0, false);
  if (R.GetCompositeTexture())
    ctx->AttachTextureToDefaultBuffer(R.GetCompositeTexture()->GetTexture(), TRenderTarget::Color_0);
  fbo->Prepare(R.GetRenderTargets());
  return result;
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
  const bool result = ctx->BeginSceneRendering();
  ctx->EnableBlendingBuffers();
  using F = TBlendFactor;
  ctx->SetBlendingByIndex(0, TBlendSetting::Create(true, TBlendEquationFunc::befAdd, F::bfOne, F::bfOneMinusSrcColor,
                                                   F::bfOne, F::bfOneMinusSrcAlpha));
  ctx->GetDefaultFrameBuf()->Prepare(R.GetRenderTargets());
  return result;
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
  // One colour target until the five-target composition is in: the opaque and translucent
  // phases then draw straight into the composite texture.
  FRenderTargets = kColor0;
}

bool TCompositeRenderer::BeginOpaqueRendering() { return DirectBeginOpaque(*this); }
void TCompositeRenderer::EndOpaqueRendering() { DirectEndOpaque(*this); }
bool TCompositeRenderer::BeginTranslucentRendering() { return DirectBeginTranslucent(*this); }
void TCompositeRenderer::EndTranslucentRendering() { DirectEndTranslucent(*this); }

void TCompositeRenderer::RecreateContext() {
  TRenderer::RecreateContext();
  if (TQuorvelContext* ctx = EngineContext()) ctx->SetTranslucentDistance(FTranslucentDistance);
}

void TCompositeRenderer::SetTranslucentDistance(float Value) {
  FTranslucentDistance = std::clamp(Value, 1.0f, 10000.0f);
  if (TQuorvelContext* ctx = EngineContext()) ctx->SetTranslucentDistance(FTranslucentDistance);
}

void TCompositeRenderer::SetEmissiveBlur(int32_t Value) { FEmissiveBlur = std::clamp(Value, 0, 15); }
void TCompositeRenderer::SetGlobalIllumDetail(int32_t Value) { FGlobalIllumDetail = std::clamp(Value, 0, 7); }
void TCompositeRenderer::SetGlobalIllumSoftness(float Value) { FGlobalIllumSoftness = std::clamp(Value, 0.0f, 5.0f); }
void TCompositeRenderer::SetShadowStrength(float Value) { FShadowStrength = std::clamp(Value, 0.0f, 10.0f); }
void TCompositeRenderer::SetReflectionStrength(float Value) { FReflectionStrength = std::clamp(Value, 0.0f, 10.0f); }
void TCompositeRenderer::SetFXAA(int32_t Value) { FXAASteps = std::clamp(Value, 0, 8); }

TForwardRenderer::TForwardRenderer(const std::string& AId, TComponent* AOwner, const TRendererFlags& AFlags,
                                   TOnRendererCreateCompositeTexture ACompositeTextureEvent)
    : TCompositeRenderer(AId, AOwner, AFlags, std::move(ACompositeTextureEvent)) {}

}  // namespace quorvel
