#include "lib/passes/Controller.h"

#include <algorithm>
#include <cmath>

#include "framework/gui3d/Camera.h"
#include "framework/gui3d/Control3D.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/SysUtils.h"
#include "framework/rtl/Units.h"
#include "lib/context/Context.h"
#include "lib/context/ContextTexturing.h"
#include "lib/passes/PassShaders.h"
#include "lib/scene/ControlComponents.h"
#include "lib/scene/Mesh.h"
#include "lib/scene/Viewport.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelController, "Quorvel.Controller")
void TQuorvelController::Register(ClassBuilder<TQuorvelController>& b) {
  b.Prop("Enabled", &Self::GetEnabled, &Self::SetEnabled);
}
FW_CLASS_IMPL(TQuorvelRenderPassMaterial, "Quorvel.Controller")
FW_CLASS_NO_MEMBERS(TQuorvelRenderPassMaterial)
FW_CLASS_IMPL(TQuorvelRenderPassMaterialSource, "Quorvel.Controller")
FW_CLASS_NO_MEMBERS(TQuorvelRenderPassMaterialSource)
FW_CLASS_IMPL(TQuorvelManagedControl, "Quorvel.Controller")
void TQuorvelManagedControl::Register(ClassBuilder<TQuorvelManagedControl>& b) {
  b.Prop("DisplayName", &Self::GetDisplayName, &Self::SetDisplayName)
      .Prop("Control", &Self::GetControl, &Self::SetControl);
}
FW_CLASS_IMPL(TQuorvelManagedControls, "Quorvel.Controller")
FW_CLASS_NO_MEMBERS(TQuorvelManagedControls)
FW_CLASS_IMPL(TQuorvelRenderPassController, "Quorvel.Controller")
void TQuorvelRenderPassController::Register(ClassBuilder<TQuorvelRenderPassController>& b) {
  b.Prop("Id", &Self::GetId, &Self::SetId)
      .Prop("_Type", &Self::GetType, &Self::SetType)
      .Prop("Method", &Self::GetMethod, &Self::SetMethod)
      .Prop("RenderProc", &Self::GetRenderProc, &Self::SetRenderProc)
      .Prop("Viewport", &Self::GetViewport, &Self::SetViewport)
      .Prop("OutputTexture", [](const Self* s) { return const_cast<Self*>(s)->GetOutputTexture(); })
      .Prop("Iterations", &Self::GetIterations, &Self::SetIterations)
      // Read without the width getter's renderer resize: writing a form changes nothing.
      .Prop("ViewportWidth", [](const Self* s) { return s->GetViewportSize().X; },
            [](Self* s, int32_t v) { s->SetViewportWidth(v); })
      .Prop("ViewportHeight", [](const Self* s) { return s->GetViewportSize().Y; },
            [](Self* s, int32_t v) { s->SetViewportHeight(v); })
      .Prop("OverwriteViewportSize", &Self::GetOverwriteViewportSize, &Self::SetOverwriteViewportSize)
      .Prop("ScaleViewportSize", &Self::GetScaleViewportSize, &Self::SetScaleViewportSize)
      .Prop("ViewportScale", &Self::GetViewportScale, &Self::SetViewportScale)
      .Prop("OverwriteColor", &Self::GetOverwriteColor, &Self::SetOverwriteColor)
      .Prop("BackgroundColor", &Self::GetBackgroundColor, &Self::SetBackgroundColor)
      .Prop("AllowedControls", [](const Self* s) { return const_cast<Self*>(s)->GetAllowedControls(); },
            &Self::SetAllowedControls)
      .Prop("IgnoredControls", [](const Self* s) { return const_cast<Self*>(s)->GetIgnoredControls(); },
            &Self::SetIgnoredControls)
      .Prop("OnBeginSetup", [](const Self* s) { return s->OnBeginSetup; },
            [](Self* s, const TRenderPassEvent& e) { s->OnBeginSetup = e; })
      .Prop("OnEndSetup", [](const Self* s) { return s->OnEndSetup; },
            [](Self* s, const TRenderPassEvent& e) { s->OnEndSetup = e; })
      .Prop("OnBeginRender", [](const Self* s) { return s->OnBeginRender; },
            [](Self* s, const TRenderPassEvent& e) { s->OnBeginRender = e; })
      .Prop("OnEndRender", [](const Self* s) { return s->OnEndRender; },
            [](Self* s, const TRenderPassEvent& e) { s->OnEndRender = e; });
}

namespace {

const TMatrix3D kBiasMatrix{0.5f, 0, 0, 0, 0, 0.5f, 0, 0, 0, 0, 0.5f, 0, 0.5f, 0.5f, 0.5f, 1};

bool IsDesigning(const TComponent* AComponent) { return AComponent->GetComponentState().Contains(csDesigning); }

}  // namespace

// ---- TQuorvelController ---------------------------------------------------------------------

TQuorvelController::TQuorvelController(TComponent* AOwner) : TFwObject(AOwner) {}

// ---- materials ------------------------------------------------------------------------------

void TQuorvelRenderPassMaterial::DoApply(TContext3D* AContext) {
  SharePassShaders({FVertexShader, FPixelShader});
  TCustomMaterial::DoApply(AContext);
  RememberPassShaders({FVertexShader, FPixelShader});
}

void TQuorvelRenderPassMaterial::BeforeDestruction() {
  ReleasePassShaders(this);
  FVertexShader = nullptr;
  FPixelShader = nullptr;
  TCustomMaterial::BeforeDestruction();
}

TTexture* TQuorvelRenderPassMaterial::GetPreviousRenderTexture(TContext3D* AContext) {
  auto* ctx = dynamic_cast<TQuorvelContext*>(AContext);
  if (!ctx) throw EInvalidCast("Invalid class typecast");
  if (!FSource || !FSource->GetOwnerPass()) return nullptr;
  TQuorvelRenderPassController* pass = FSource->GetOwnerPass();
  if (TQuorvelViewport* viewport = pass->GetViewport()) {
    TRenderer* renderer = pass->GetPreviousRenderer();
    if (!renderer) renderer = viewport->GetMainPassRenderer();
    if (!renderer) return nullptr;
    TRenderer* source = renderer->GetAttachedRenderer() ? renderer->GetAttachedRenderer() : renderer;
    return source->GetCompositeTexture() ? source->GetCompositeTexture()->GetTexture() : nullptr;
  }
  return ctx->GetCurrentTexture();
}

TQuorvelRenderPassMaterialSource::TQuorvelRenderPassMaterialSource(TQuorvelRenderPassController* AOwnerPass)
    : TMaterialSource(nullptr), FOwnerPass(AOwnerPass) {}

void TQuorvelRenderPassMaterialSource::SetInputPass(TQuorvelRenderPassController* Value) {
  if (Value == FInputPass) return;
  FInputPass = Value;
  DoPassesChanged(this);
}

// ---- managed controls -----------------------------------------------------------------------

void TQuorvelManagedControl::AssignTo(TPersistent* Dest) {
  if (auto* other = dynamic_cast<TQuorvelManagedControl*>(Dest)) {
    other->SetControl(FControl);
    return;
  }
  TCollectionItem::AssignTo(Dest);
}

void TQuorvelManagedControl::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == opRemove && AComponent == FControl) FControl = nullptr;
}

TQuorvelManagedControls::TQuorvelManagedControls(TPersistent* AOwner)
    : TOwnedCollection(AOwner, TQuorvelManagedControl::StaticClass()) {}

int TQuorvelManagedControls::IndexOf(const TControl3D* ACtrl) const {
  for (int i = 0; i < GetCount(); ++i)
    if (Item(i)->GetControl() == ACtrl) return i;
  return -1;
}

TQuorvelManagedControl* TQuorvelManagedControls::GetManagedControl(const TControl3D* ACtrl) const {
  const int i = IndexOf(ACtrl);
  return i >= 0 ? Item(i) : nullptr;
}

void TQuorvelManagedControls::Remove(const TControl3D* ACtrl) {
  const int i = IndexOf(ACtrl);
  if (i >= 0) Delete(i);
}

void TQuorvelManagedControls::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation != opRemove) return;
  for (int i = 0; i < GetCount(); ++i) Item(i)->Notification(AComponent, Operation);
}

// ---- TQuorvelRenderPassController: construction ---------------------------------------------

TQuorvelRenderPassController::TQuorvelRenderPassController(TComponent* AOwner, const std::string& AId)
    : TQuorvelController(AOwner), FId(AId) {}

TQuorvelRenderPassController::~TQuorvelRenderPassController() = default;

void TQuorvelRenderPassController::AfterConstruction() {
  TQuorvelController::AfterConstruction();
  SetupRenderPass();
}

void TQuorvelRenderPassController::SetupRenderPass() {
  InitializeRenderPass();
  CreateRenderer();
  ResetRenderer();
  InvalidateMatrices();
  FTextureMatrix = TMatrix3D::Identity();
  FBiasMatrix = kBiasMatrix;
  CreateAllowedControls();
  CreateIgnoredControls();
}

void TQuorvelRenderPassController::InitializeRenderPass() {
  FType = TRenderPassType::Pre;
  FMethod = TRenderPassMethod::RenderListToFBO;
  FBlendings = TBlendSettings{};
  FRendererType = TRendererType::ForwardRenderer;
  FRendererFlags = TRendererFlags{TRendererFlag::IgnoreEmissiveBlur, TRendererFlag::IgnoreGlobalIllum};
  FIterations = 1;
  LinkViewport(FindViewport());
}

void TQuorvelRenderPassController::BeforeDestruction() {
  SetEnabled(false);
  Quietly("render pass registration", [&] { SetViewport(nullptr); });
  FreeQuietlyAndNil(FIgnoredControls, "ignored controls");
  FreeQuietlyAndNil(FAllowedControls, "allowed controls");
  FreeQuietlyAndNil(FRenderer, "pass renderer");
  FreeQuietlyAndNil(FRectVBuffer, "rectangle vertices");
  FreeQuietlyAndNil(FRectIBuffer, "rectangle indices");
  TQuorvelController::BeforeDestruction();
}

void TQuorvelRenderPassController::Notification(TComponent* AComponent, TOperation Operation) {
  TQuorvelController::Notification(AComponent, Operation);
  if (Operation != opRemove) return;
  if (AComponent && AComponent == FViewport) {
    if (GetComponentState().Contains(csDestroying))
      FViewport = nullptr;
    else
      SetViewport(nullptr);
  }
  if (AComponent && AComponent == FShader) FShader = nullptr;
  if (AComponent && AComponent == GetInputPass()) SetInputPass(nullptr);
  if (FAllowedControls) FAllowedControls->Notification(AComponent, Operation);
  if (FIgnoredControls) FIgnoredControls->Notification(AComponent, Operation);
}

void TQuorvelRenderPassController::Loaded() {
  TQuorvelController::Loaded();
  TQuorvelViewport* viewport = FViewport ? FViewport : FindViewport();
  if (!viewport) return;
  const std::vector<TObject*>& listed = viewport->GetRenderPasses();
  if (std::find(listed.begin(), listed.end(), this) == listed.end()) SetViewport(viewport);
}

void TQuorvelRenderPassController::SetName(const std::string& NewName) {
  TQuorvelController::SetName(NewName);
  if (IsDesigning(this)) SetId(NewName);
}

// ---- viewport and registration ----------------------------------------------------------------

TQuorvelViewport* TQuorvelRenderPassController::FindViewport() {
  return dynamic_cast<TQuorvelViewport*>(quorvel::FindViewport(this));
}

void TQuorvelRenderPassController::LinkViewport(TQuorvelViewport* AViewport) {
  if (!AViewport) return;
  FViewport = AViewport;
  FViewport->FreeNotification(this);
  FViewportSize = TPoint(int32_t(Round(AViewport->GetWidth())), int32_t(Round(AViewport->GetHeight())));
  FViewportScale = AViewport->GetViewportScale();
}

void TQuorvelRenderPassController::SetViewport(TQuorvelViewport* Value) {
  if (FViewport && Value != FViewport) FViewport->RemoveRenderPass(this);
  UnregisterViewportRenderPass(FId, FId);
  if (FViewport && Value != FViewport) FViewport->RemoveFreeNotification(this);
  FViewport = Value;
  if (!Value) return;
  Value->FreeNotification(this);
  if (FViewportSize.X == 0 || FViewportSize.Y == 0 || FViewportScale == 0) LinkViewport(Value);
  if (!FRenderer) CreateRenderer();
  if (FRenderer) ResizeRenderer(FViewportSize, FViewportScale);
  ResetRenderer();
  Value->AddRenderPass(this);
}

void TQuorvelRenderPassController::SetId(const std::string& Value) {
  const std::string old = FId;
  FId = Value;
  if (old != Value) UnregisterViewportRenderPass(old, Value);
  // An empty id is never registered: the registry would neither free nor tell such entries apart.
  if (!FId.empty() && FViewport) FViewport->UpdateRenderPasses();
}

void TQuorvelRenderPassController::SetType(TRenderPassType Value) {
  FType = Value;
  if (!FId.empty() && FViewport) FViewport->UpdateRenderPasses();
}

void TQuorvelRenderPassController::UnregisterRenderPass(TContext3D* AContext, const std::string& AOldId,
                                                        const std::string& ANewId) {
  auto* ctx = dynamic_cast<TQuorvelContext*>(AContext);
  if (!ctx || !ctx->GetRenderPasses()) return;
  TRenderPasses* passes = ctx->GetRenderPasses();
  // Only this controller's entries: another pass may hold the new id.
  for (const std::string& id : {AOldId, ANewId}) {
    TRenderPass* pass = passes->Find(id);
    if (pass && pass->GetController() == this) passes->Remove(id);
  }
}

void TQuorvelRenderPassController::UnregisterViewportRenderPass(const std::string& AOldId,
                                                                const std::string& ANewId) {
  if (FViewport) UnregisterRenderPass(FViewport->GetContext(), AOldId, ANewId);
}

void TQuorvelRenderPassController::ConfigureInstance(TRenderPass* APass) {
  APass->SetId(FId);
  APass->SetPassType(FType);
  APass->SetMethod(FMethod);
  APass->FOnBeginRendering = [this](TContext3D* c, int32_t n, TRenderPass* p) { DoOnBeginRendering(c, n, p); };
  APass->FOnEndRendering = [this](TContext3D* c, int32_t n, TRenderPass* p) { DoOnEndRendering(c, n, p); };
}

void TQuorvelRenderPassController::UpdateRenderPass() {
  if (!FViewport) {
    TQuorvelViewport* viewport = FindViewport();
    if (!viewport) return;
    SetViewport(viewport);
  }
  auto* ctx = dynamic_cast<TQuorvelContext*>(FViewport->GetContext());
  if (!ctx || !ctx->GetRenderPasses() || !RendererContext()) return;
  if (IsInternalRenderPass() || FId.empty()) return;
  TRenderPasses* passes = ctx->GetRenderPasses();
  TRenderPass* pass = passes->Find(FId);
  // The entry of another pass under the same id stays that pass's: its run handlers would
  // otherwise call this one, and call freed memory once this one is gone.
  if (pass && pass->GetController() != this) {
    Log::d(Format("<WARNING> %s - render pass id \"%s\" is taken by another pass, not registered",
                  {ClassName(), FId}));
    return;
  }
  // A renderer made again (a new size) has a new context: the instance made for the old one
  // would draw on a freed context.
  if (pass && (FEntryGeneration != FContextGeneration || pass->GetContext() != RendererContext())) {
    passes->Remove(FId);
    pass = nullptr;
  }
  if (!pass) {
    pass = New<TRenderPass>(RendererContext(), this);
    pass->SetId(FId);
    passes->Add(pass);
    FEntryGeneration = FContextGeneration;
    if (FType == TRenderPassType::Intermediate) ctx->AddIntermediatePass(pass);
  }
  ConfigureInstance(pass);
  ConfigureRenderPass(pass);
}

void TQuorvelRenderPassController::RenewRenderPass() {
  if (!FViewport || IsInternalRenderPass() || FId.empty() || FEntryGeneration == FContextGeneration) return;
  // Only a pass that is registered: one merely linked (built under a viewport) waits for
  // the viewport to add it.
  const std::vector<TObject*>& listed = FViewport->GetRenderPasses();
  bool registered = std::find(listed.begin(), listed.end(), this) != listed.end();
  if (!registered)
    if (auto* ctx = dynamic_cast<TQuorvelContext*>(FViewport->GetContext()); ctx && ctx->GetRenderPasses())
      if (TRenderPass* pass = ctx->GetRenderPasses()->Find(FId)) registered = pass->GetController() == this;
  if (registered) UpdateRenderPass();
}

TRenderPass* TQuorvelRenderPassController::CreateRenderPassInstance(TContext3D* /*AContext*/) {
  TContext3D* ctx = RendererContext();
  if (!ctx) return nullptr;
  TRenderPass* pass = New<TRenderPass>(ctx, this);
  ConfigureInstance(pass);
  return pass;
}

void TQuorvelRenderPassController::UpdateOnResize() {
  InvalidateMatrices();
  if (!FViewport) return;
  // A pass with a size of its own (a shadow map, an environment map) keeps it.
  if (!FOverwriteViewportSize)
    FViewportSize = TPoint(int32_t(Round(FViewport->GetWidth())), int32_t(Round(FViewport->GetHeight())));
  FViewportScale = FViewport->GetViewportScale();
  ResetRenderer();
}

// ---- renderer -------------------------------------------------------------------------------

TContext3D* TQuorvelRenderPassController::RendererContext() const {
  return FRenderer ? FRenderer->GetSharedContext() : nullptr;
}

void TQuorvelRenderPassController::CreateRenderer() {
  if (!FViewport) return;
  if (FRenderer.Owns()) FRenderer.Reset();
  // The renderer asks for a composite texture each time it makes a new context.
  auto callback = [this](TObject* ASender, TPoint ASize, float AScale, TQuorvelTextureBitmap*& ATexture) {
    ++FContextGeneration;
    DoOnCreateCompositeTexture(ASender, ASize, AScale, ATexture);
  };
  switch (FRendererType) {
    case TRendererType::ForwardRenderer:
      FRenderer.ResetOwned(New<TForwardRenderer>(FId, this, FRendererFlags, callback));
      break;
    case TRendererType::LegacyRenderer:
      FRenderer.ResetOwned(New<TLegacyRenderer>(FId, this, FRendererFlags, callback));
      break;
    default:
      throw Exception("renderer type not supported in render-pass " + FId);
  }
}

void TQuorvelRenderPassController::ApplyRenderer() { FRenderer->Apply(); }
void TQuorvelRenderPassController::ResizeRenderer(const TPoint& ASize, float AScale) {
  FRenderer->Resize(ASize, AScale);
  RenewRenderPass();
}

void TQuorvelRenderPassController::SetRenderer(TRenderer* Value) {
  if (Value == FRenderer.get()) return;
  FRenderer.ResetBorrowed(Value);
  ++FContextGeneration;
  RenewRenderPass();
}
void TQuorvelRenderPassController::SetRendererColor(const TAlphaColorF& AColor) { FRenderer->SetColor(AColor); }

void TQuorvelRenderPassController::RebuildRenderer(TContext3D* /*AContext*/, int32_t /*AWidth*/,
                                                   int32_t /*AHeight*/) {
  if (!FRenderer || FRenderer.Owns()) {
    FRenderer.Reset();
    CreateRenderer();
  }
  if (FRenderer) ApplyRenderer();
  RenewRenderPass();
}

void TQuorvelRenderPassController::ResetRenderer() {
  if (!FViewport) return;
  if (FRenderer) FRenderer->Reset();
  if (FRenderer) {
    const float scale = FViewport->GetViewportScale();
    RebuildRenderer(RendererContext(), int32_t(Round(FViewport->GetWidth() * scale)),
                    int32_t(Round(FViewport->GetHeight() * scale)));
  }
}

void TQuorvelRenderPassController::SetRendererType(TRendererType Value) {
  FRendererType = Value;
  if (FRenderer.Owns()) FRenderer.Reset();
  CreateRenderer();
  RenewRenderPass();
}

TFrameBufferObject* TQuorvelRenderPassController::GetFBO() {
  return FRenderer ? FRenderer->GetDefaultFrameBuf() : nullptr;
}

TQuorvelTextureBitmap* TQuorvelRenderPassController::GetFBOTexture() {
  return FRenderer ? FRenderer->GetCompositeTexture() : nullptr;
}

// ---- material -------------------------------------------------------------------------------

void TQuorvelRenderPassController::SetInputPass(TQuorvelRenderPassController* APass) {
  if (!FShader) return;
  if (TQuorvelRenderPassController* old = FShader->GetInputPass()) old->RemoveFreeNotification(this);
  FShader->SetInputPass(APass);
  if (APass) APass->FreeNotification(this);
}

void TQuorvelRenderPassController::SetShader(TQuorvelRenderPassMaterialSource* Value) {
  if (FShader == Value) return;
  if (FShader) FShader->RemoveFreeNotification(this);
  FShader = Value;
  if (FShader) FShader->FreeNotification(this);
}

TQuorvelRenderPassController* TQuorvelRenderPassController::GetInputPass() const {
  return FShader ? FShader->GetInputPass() : nullptr;
}

// ---- run ------------------------------------------------------------------------------------

void TQuorvelRenderPassController::DoOnBeginRendering(TContext3D* /*AContext*/, int32_t ACount, TRenderPass* APass) {
  if (OnBeginRender && FRenderer) OnBeginRender(this, RendererContext(), ACount, APass);
  DoOnRenderPass(ACount, APass);
}

void TQuorvelRenderPassController::DoOnRenderPass(int32_t ACount, TRenderPass* APass) {
  FRecalcViewMatrix = true;
  TContext3D* ctx = RendererContext();
  if (!ctx) return;
  FPrevViewMatrix = ctx->GetCurrentCameraMatrix();
  FPrevProjMatrix = ctx->GetCurrentProjectionMatrix();
  ApplyBackgroundColor();
  if (OnBeginSetup) OnBeginSetup(this, ctx, ACount, APass);
}

void TQuorvelRenderPassController::DoOnEndRendering(TContext3D* /*AContext*/, int32_t ACount, TRenderPass* APass) {
  DoOnEndRenderPass(ACount, APass);
  if (OnEndRender && FRenderer) OnEndRender(this, RendererContext(), ACount, APass);
}

void TQuorvelRenderPassController::DoOnEndRenderPass(int32_t ACount, TRenderPass* APass) {
  if (OnEndSetup && FRenderer) OnEndSetup(this, RendererContext(), ACount, APass);
  FRecalcViewMatrix = true;
  if (TContext3D* ctx = RendererContext()) ctx->SetCameraMatrix(FPrevViewMatrix);
}

void TQuorvelRenderPassController::BeginRenderPassRendering(TContext3D* /*AContext*/, TAlphaColor /*AFill*/,
                                                            float /*ADepth*/, uint32_t /*AStencil*/) {
  if (!FViewport || !RendererContext()) return;
  FPreviousRenderer = FViewport->GetCurrentRenderer();
  FViewport->SetCurrentRenderer(FRenderer.get());
  FViewport->ApplyLightSettings(RendererContext());
  BindRenderer();
}

void TQuorvelRenderPassController::EndRenderPassRendering(TContext3D* /*AContext*/) {
  if (!RendererContext()) return;
  UnbindRenderer();
  if (FViewport) FViewport->SetCurrentRenderer(FPreviousRenderer);
  if (FType == TRenderPassType::Post && FPreviousRenderer) FPreviousRenderer->SetAttachedRenderer(FRenderer.get());
}

void TQuorvelRenderPassController::BindRenderer() {
  if (auto* ctx = dynamic_cast<TQuorvelContext*>(RendererContext())) {
    ctx->BindDefaultBuffer();
    ctx->BeginSceneRendering();
  }
}

void TQuorvelRenderPassController::UnbindRenderer() {
  if (auto* ctx = dynamic_cast<TQuorvelContext*>(RendererContext())) {
    ctx->EndSceneRendering();
    ctx->UnbindDefaultBuffer();
  }
}

TPoint TQuorvelRenderPassController::ComputeRenderingSize(TContext3D* /*AContext*/, int32_t AWidth, int32_t AHeight) {
  TContext3D* ctx = RendererContext();
  if (!ctx) return TPoint(0, 0);
  TPoint size;
  if (FOverwriteViewportSize)
    size = FViewportSize;
  else if (AWidth > 0 && AHeight > 0)
    size = TPoint(AWidth, AHeight);
  else
    size = TPoint(ctx->GetWidth(), ctx->GetHeight());
  if (FScaleViewportSize)
    size = TPoint(int32_t(Round(double(size.X) * FViewportScale)), int32_t(Round(double(size.Y) * FViewportScale)));
  const double scale = ctx->GetScale();
  return TPoint(int32_t(Round(size.X * scale)), int32_t(Round(size.Y * scale)));
}

void TQuorvelRenderPassController::RenderToContext(TContext3D* /*AContext*/, TTexture* ATexture, const TRect& ARect,
                                                   const TPoint& /*ADstPos*/) {
  auto* ctx = dynamic_cast<TQuorvelContext*>(RendererContext());
  if (!ctx) return;
  const bool designing = IsDesigning(this);
  if (FMethod != TRenderPassMethod::RectToFBO) {
    if (designing) return;
    if (FMethod == TRenderPassMethod::RenderListToFBO)
      throw Exception("TRenderPassMethod.RenderListToFBO failed - unsupported for rendering branch");
    throw Exception("TRenderPassMethod.<unknown> failed - unsupported for rendering branch");
  }
  if (!ATexture) {
    if (designing) return;
    throw Exception("RenderToContext failed - invalid destination texture");
  }
  if (!ctx->BeginSceneRendering()) return;
  auto end = Finally([&] { ctx->EndSceneRendering(); });
  const int32_t w = ARect.Width(), h = ARect.Height();
  if (!FRectVBuffer || !FRectIBuffer || w != FRectLastSize.X || h != FRectLastSize.Y) {
    FRectVBuffer.reset(New<TVertexBuffer>(TVertexFormats{TVertexFormat::Vertex, TVertexFormat::TexCoord0}, 4));
    const float l = float(ARect.Left), t = float(ARect.Top), r = float(ARect.Right), b = float(ARect.Bottom);
    const TPoint3D corners[4] = {{l, t, 0}, {r, t, 0}, {l, b, 0}, {r, b, 0}};
    const TPointF coords[4] = {{0, 1}, {1, 1}, {0, 0}, {1, 0}};
    for (int32_t i = 0; i < 4; ++i) {
      FRectVBuffer->SetVertices(i, corners[i]);
      FRectVBuffer->SetTexCoord0(i, coords[i]);
    }
    FRectIBuffer.reset(New<TIndexBuffer>(0, TIndexFormat::UInt16));
    FRectLastSize = TPoint(w, h);
  }
  auto* material = dynamic_cast<TQuorvelRenderPassMaterial*>(TMaterialSource::ValidMaterial(FShader));
  if (!material) {
    if (designing) return;
    throw Exception("pass-controller: failed to render to context - missing material shader");
  }
  ctx->SetMatrix(TMatrix3D::Identity());
  ctx->SetContextStates({TContextState::cs2DScene, TContextState::csZTestOff, TContextState::csZWriteOff,
                         TContextState::csScissorOff, TContextState::csFrontFace});
  const TBlendSettings saved = ctx->GetBlendings();
  ctx->SetBlendings(FBlendings);
  auto restore = Finally([&] { ctx->SetBlendings(saved); });
  ctx->ApplyMaterial(material);
  ctx->DirectDrawPrimitives(TQuorvelPrimitivesKind::TriangleStrip, FRectVBuffer->Buffer(), FRectIBuffer->Buffer(),
                            FRectVBuffer->GetVertexDeclarations(), FRectVBuffer->VertexSize(), 4,
                            FRectIBuffer->IndexSize(), 0);
  ctx->ResetMaterial(material);
}

TTexture* TQuorvelRenderPassController::GetOutputTexture() {
  if (!FViewport) return nullptr;
  if (FRenderer && FRenderer->GetCompositeTexture()) return FRenderer->GetCompositeTexture()->GetTexture();
  Log::d(Format("<WARNING> %s - Output-Texture not assigned, maybe because Viewport not linked", {ClassName()}));
  return nullptr;
}

// ---- size and colour ------------------------------------------------------------------------

void TQuorvelRenderPassController::SetViewportSize(const TPoint& Value) {
  FViewportSize = Value;
  InvalidateMatrices();
  if (FRenderer) ResizeRenderer(FViewportSize, FViewportScale);
}

int32_t TQuorvelRenderPassController::GetViewportWidth() {
  InvalidateMatrices();
  if (FRenderer) ResizeRenderer(FViewportSize, FViewportScale);
  return FViewportSize.X;
}

void TQuorvelRenderPassController::SetViewportWidth(int32_t Value) {
  FViewportSize.X = Value;
  InvalidateMatrices();
}

int32_t TQuorvelRenderPassController::GetViewportHeight() {
  InvalidateMatrices();
  return FViewportSize.Y;
}

void TQuorvelRenderPassController::SetViewportHeight(int32_t Value) {
  FViewportSize.Y = Value;
  InvalidateMatrices();
}

void TQuorvelRenderPassController::SetViewportSizeAndScaleWithoutResize(TComponent* AViewport, const TPoint& ASize,
                                                                        float AScale) {
  FViewportSize = ASize;
  FViewportScale = AScale;
  if (auto* viewport = dynamic_cast<TQuorvelViewport*>(AViewport)) {
    FViewport = viewport;
    viewport->FreeNotification(this);
  }
  InvalidateMatrices();
}

void TQuorvelRenderPassController::ApplyBackgroundColor() {
  if (!FRenderer) return;
  if (FOverwriteColor)
    SetRendererColor(TAlphaColorF(FBackgroundColor));
  else if (FViewport)
    SetRendererColor(TAlphaColorF(FViewport->GetColor()));
  else
    SetRendererColor(TAlphaColorF(0, 0, 0, 1));
}

void TQuorvelRenderPassController::SetOverwriteColor(bool Value) {
  FOverwriteColor = Value;
  ApplyBackgroundColor();
}

void TQuorvelRenderPassController::SetBackgroundColor(TAlphaColor Value) {
  FBackgroundColor = Value;
  ApplyBackgroundColor();
}

// ---- matrices -------------------------------------------------------------------------------

TMatrix3D TQuorvelRenderPassController::GetViewMatrix(TContext3D* AContext) {
  if (!FRecalcViewMatrix) return FViewMatrix;
  TCamera* camera = FViewport ? FViewport->GetCurrentCamera() : nullptr;
  if (camera)
    FViewMatrix = camera->GetCameraMatrix();
  else if (TContext3D* ctx = RendererContext())
    FViewMatrix = ctx->GetCurrentCameraMatrix();
  else if (AContext)
    FViewMatrix = AContext->GetCurrentCameraMatrix();
  else
    FViewMatrix = TMatrix3D::Identity();
  FRecalcViewMatrix = false;
  return FViewMatrix;
}

TMatrix3D TQuorvelRenderPassController::GetViewMatrix() {
  return FRenderer ? GetViewMatrix(RendererContext()) : TMatrix3D::Identity();
}

TMatrix3D TQuorvelRenderPassController::GetProjectionMatrix(TContext3D* /*AContext*/) {
  if (!FRecalcProjMatrix) return FProjMatrix;
  auto* ctx = dynamic_cast<TQuorvelContext*>(RendererContext());
  if (FOverwriteViewportSize) {
    TCamera* camera = FViewport ? FViewport->GetCurrentCamera() : nullptr;
    const float angle = camera ? camera->GetAngleOfView() : 45.0f;
    const float aspect =
        std::fabs(float(FViewportSize.Y)) < 1e-6f ? 1.0f : float(FViewportSize.X) / float(FViewportSize.Y);
    const float nearPlane = ctx ? ctx->GetNearPlane() : 0.1f;
    const float farPlane = ctx ? ctx->GetFarPlane() : 10000.0f;
    FProjMatrix = TMatrix3D::CreatePerspectiveFovRH(float(angle * M_PI / 180.0), aspect, nearPlane, farPlane);
  } else {
    TContext3D* rc = RendererContext();
    if (!rc) return FProjMatrix;
    FProjMatrix = rc->GetCurrentProjectionMatrix();
  }
  FRecalcProjMatrix = false;
  return FProjMatrix;
}

TMatrix3D TQuorvelRenderPassController::GetProjectionMatrix() {
  return FRenderer ? GetProjectionMatrix(RendererContext()) : TMatrix3D::Identity();
}

TMatrix3D TQuorvelRenderPassController::GetCurrentModelViewProjectionMatrix() {
  TContext3D* ctx = RendererContext();
  return ctx ? ctx->GetCurrentModelViewProjectionMatrix() : TMatrix3D::Identity();
}

TMatrix3D TQuorvelRenderPassController::GetTextureMatrix(TContext3D* /*AContext*/, bool AUseBias) {
  return AUseBias ? FTextureMatrix * FBiasMatrix : FTextureMatrix;
}

// ---- control filters ------------------------------------------------------------------------

void TQuorvelRenderPassController::CreateAllowedControls() {
  if (!FAllowedControls) FAllowedControls.reset(New<TQuorvelManagedControls>(this));
}

void TQuorvelRenderPassController::CreateIgnoredControls() {
  if (!FIgnoredControls) FIgnoredControls.reset(New<TQuorvelManagedControls>(this));
}

TQuorvelManagedControls* TQuorvelRenderPassController::GetAllowedControls() {
  CreateAllowedControls();
  return FAllowedControls.get();
}

void TQuorvelRenderPassController::SetAllowedControls(TQuorvelManagedControls* Value) {
  CreateAllowedControls();
  FAllowedControls->Assign(Value);
}

TQuorvelManagedControls* TQuorvelRenderPassController::GetIgnoredControls() {
  CreateIgnoredControls();
  return FIgnoredControls.get();
}

void TQuorvelRenderPassController::SetIgnoredControls(TQuorvelManagedControls* Value) {
  CreateIgnoredControls();
  FIgnoredControls->Assign(Value);
}

namespace {

// Adds ACtrl and, once each, a mesh's sub-meshes and every 3D control ACtrl owns. Sub-meshes
// are the mesh's children, usually owned by the form that streamed them, not by the mesh.
void ManageControl(TQuorvelManagedControls* AList, TComponent* AListener, TControl3D* ACtrl) {
  if (!ACtrl || AList->Contains(ACtrl)) return;
  AList->Add()->As<TQuorvelManagedControl>()->SetControl(ACtrl);
  ACtrl->FreeNotification(AListener);
  if (auto* mesh = dynamic_cast<TQuorvelMesh*>(ACtrl))
    for (TQuorvelMesh* sub : mesh->GetMeshes()) ManageControl(AList, AListener, sub);
  for (TComponent* owned : ACtrl->ComponentList())
    if (auto* ctrl = dynamic_cast<TControl3D*>(owned)) ManageControl(AList, AListener, ctrl);
}

}  // namespace

void TQuorvelRenderPassController::AllowControl(TControl3D* ACtrl) { ManageControl(GetAllowedControls(), this, ACtrl); }

void TQuorvelRenderPassController::IgnoreControl(TControl3D* ACtrl) { ManageControl(GetIgnoredControls(), this, ACtrl); }

bool TQuorvelRenderPassController::IsControlIgnored(TControl3D* ACtrl) {
  if (!ACtrl) return true;
  const bool ignored = FIgnoredControls && FIgnoredControls->Contains(ACtrl);
  if (FAllowedControls && FAllowedControls->GetCount() > 0) return !FAllowedControls->Contains(ACtrl) || ignored;
  return ignored;
}

namespace {

void InitControllerUnit() {
  RegisterFwClasses({TQuorvelController::StaticClass(), TQuorvelRenderPassController::StaticClass()});
}
void FinControllerUnit() {
  UnRegisterClasses({TQuorvelController::StaticClass(), TQuorvelRenderPassController::StaticClass()});
}

const TUnitRegistration ControllerUnit{{"Quorvel.Controller", {}, &InitControllerUnit, &FinControllerUnit}};

}  // namespace

}  // namespace quorvel
