#include "lib/scene/Viewport.h"

#include "framework/rtl/Units.h"

#include <algorithm>
#include <cmath>

#include "framework/classes/Messages.h"
#include "framework/gui/Application.h"
#include "framework/gui/Canvas.h"
#include "framework/gui/Form.h"
#include "framework/gui3d/Dummy.h"
#include "framework/gui3d/Filter.h"
#include "framework/platform/Platform.h"
#include "framework/platform/Windows.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/SysUtils.h"
#include "lib/context/Context.h"
#include "lib/context/ContextTexturing.h"
#include "lib/context/windows/ContextGLESWindows.h"
#include "lib/passes/Controller.h"
#include "lib/scene/Camera.h"
#include "lib/scene/CameraController.h"
#include "lib/scene/Control.h"
#include "lib/scene/Light.h"
#include "lib/scene/Mesh.h"
#include "lib/scene/SkyBox.h"
#include "lib/utils/UtilsTimer.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelViewport, "Quorvel.Viewport")
void TQuorvelViewport::Register(ClassBuilder<TQuorvelViewport>& b) {
  b.Prop("DesignPosition", &Self::GetDesignPosition, &Self::SetDesignPosition)
      .Prop("DesignRotationAngle", &Self::GetDesignRotationAngle, &Self::SetDesignRotationAngle)
      .Prop("RendererType", &Self::GetRendererType, &Self::SetRendererType)
      .Prop("ManualRendering", &Self::GetManualRendering, &Self::SetManualRendering)
      .Prop("UseFixedFrameRate", &Self::GetUseFixedFrameRate, &Self::SetUseFixedFrameRate)
      .Prop("FixedFrameRate", &Self::GetFixedFrameRate, &Self::SetFixedFrameRate)
      .Prop("VSync", &Self::GetVSync, &Self::SetVSync)
      .Prop("FrustumCulling", &Self::GetFrustumCulling, &Self::SetFrustumCulling)
      .Prop("HighRes", &Self::GetHighRes, &Self::SetHighRes)
      .Prop("NearPlane", &Self::GetNearPlane, &Self::SetNearPlane)
      .Prop("FarPlane", &Self::GetFarPlane, &Self::SetFarPlane)
      .Prop("Fog", &Self::GetFog, &Self::SetFog)
      .Prop("FogDensity", &Self::GetFogDensity, &Self::SetFogDensity)
      .Prop("FogStart", &Self::GetFogStart, &Self::SetFogStart)
      .Prop("FogEnd", &Self::GetFogEnd, &Self::SetFogEnd)
      .Prop("FogColorF", &Self::GetFogColorF, &Self::SetFogColorF)
      .Prop("FogColor", &Self::GetFogColor, &Self::SetFogColor)
      .Prop("OpaqueSaturation", [](const Self* v) { return v->GetSaturationValue(0); },
            [](Self* v, float a) { v->SetSaturationValue(0, a); })
      .Prop("TranslucentSaturation", [](const Self* v) { return v->GetSaturationValue(1); },
            [](Self* v, float a) { v->SetSaturationValue(1, a); })
      .Prop("CompositeSaturation", [](const Self* v) { return v->GetSaturationValue(2); },
            [](Self* v, float a) { v->SetSaturationValue(2, a); })
      .Prop("EmissiveBlur", &Self::GetEmissiveBlur, &Self::SetEmissiveBlur)
      .Prop("GlobalIllumDetail", &Self::GetGlobalIllumDetail, &Self::SetGlobalIllumDetail)
      .Prop("GlobalIllumSoftness", &Self::GetGlobalIllumSoftness, &Self::SetGlobalIllumSoftness)
      .Prop("ShadowStrength", &Self::GetShadowStrength, &Self::SetShadowStrength)
      .Prop("ReflectionStrength", &Self::GetReflectionStrength, &Self::SetReflectionStrength)
      .Prop("FXAA", &Self::GetFXAA, &Self::SetFXAA)
      .Prop("DiagnosticsActive", &Self::GetDiagnosticsActive, &Self::SetDiagnosticsActive)
      .Prop("Color", &Self::GetColor, &Self::SetColor)
      .Prop("Camera", &Self::GetCamera, &Self::SetCamera)
      .Prop("Multisample", &Self::GetMultisample, &Self::SetMultisample)
      .Prop("UsingDesignCamera", &Self::IsUsingDesignCamera, &Self::SetUsingDesignCamera);
}

namespace {

constexpr int64_t kDesignTag = 0xFFFE;

TComponent* CheckedOwner(TComponent* AOwner) {
  RegisterContextOpenGLWindows();
  if (AOwner == nullptr) throw Exception("owner component not set");
  return AOwner;
}

TForm* FormOf(TComponent* AOwner) {
  for (TComponent* c = AOwner; c; c = c->Owner())
    if (auto* form = dynamic_cast<TForm*>(c)) return form;
  return nullptr;
}

TQuorvelContext* AsEngine(TContext3D* AContext) { return dynamic_cast<TQuorvelContext*>(AContext); }

}  // namespace

// ---- TQuorvelRenderingHelper ---------------------------------------------------------------

namespace {

bool Exempt(TControl3D* ACtrl) {
  // The skybox is far outside any scene: it would swell the bounds and is never culled.
  // One walk up the class chain: four failed dynamic casts per control and pass showed in the
  // frame's profile.
  static const TClass* const exempt[] = {TLight::StaticClass(), TDummy::StaticClass(), TCamera::StaticClass(),
                                         TQuorvelSkyBox::StaticClass()};
  for (const TClass* c = ACtrl->ClassType(); c; c = c->ClassParent())
    if (std::find(std::begin(exempt), std::end(exempt), c) != std::end(exempt)) return true;
  return false;
}

// The visibility rule of both helpers.
bool PassesVisibility(TControl3D* ACtrl, const TComponentState& AState, bool ACheckVisibility) {
  if (!ACheckVisibility || ACtrl->GetVisible()) return true;
  return AState.Contains(csDesigning) && !ACtrl->GetLocked();
}

}  // namespace

bool TQuorvelRenderingHelper::Renderable(TControl3D* ACtrl, const TQuorvelFrustum& AFrustum,
                                         const TComponentState& AComponentState, TBoundingBox& ASceneBounds,
                                         bool AFrustumCulling, bool ACheckVisibility) {
  if (!ACtrl || !PassesVisibility(ACtrl, AComponentState, ACheckVisibility)) return false;
  if (Exempt(ACtrl)) return true;
  TBoundingBox box;
  if (auto* qc = dynamic_cast<TQuorvelControl*>(ACtrl)) {
    box = qc->GetAbsoluteBoundingBox();
    if (AComponentState.Contains(csDesigning) || !AFrustumCulling || !qc->GetFrustumCullingCheck()) {
      ASceneBounds = ASceneBounds.Union(box);
      return true;
    }
  } else {
    box = ACtrl->GetGlobalBounds();
  }
  if (!AFrustum.IsAABBInFrustum(box)) return false;
  ASceneBounds = ASceneBounds.Union(box);
  return true;
}

void TQuorvelRenderingHelper::UpdateSceneBounds(TControl3D* ACtrl, const TComponentState& AComponentState,
                                                TBoundingBox& ASceneBounds) {
  if (!ACtrl || !PassesVisibility(ACtrl, AComponentState, true) || Exempt(ACtrl)) return;
  if (auto* qc = dynamic_cast<TQuorvelControl*>(ACtrl))
    ASceneBounds = ASceneBounds.Union(qc->GetAbsoluteBoundingBox());
  else
    ASceneBounds = ASceneBounds.Union(ACtrl->GetGlobalBounds());
}

// ---- construction ---------------------------------------------------------------------------

TQuorvelViewport::TQuorvelViewport(TComponent* AOwner) : TControl(CheckedOwner(AOwner)) {
  // The window matters only until the shared GL context exists: it is made on it once.
  if (TForm* form = FormOf(AOwner); form && !TCustomContextWindows::SharedContext())
    TCustomContextWindows::SetWindowHandle(form->GetHandle());
  ContextDesignTime = GetComponentState().Contains(csDesigning);
  FFog.Enabled = false;
  FFog.Mode = 2;
  FFog.Density = 0.001f;
  FFog.FogStart = 100;
  FFog.FogEnd = 500;
  FFog.Color = TAlphaColorF(0, 0, 0, 1);
  FNearPlane = DefaultNearPlane;
  FFarPlane = DefaultFarPlane;
  FDesignPosition.reset(New<TControlPosition3D>());
  FDesignRotationAngle.reset(New<TControlPosition3D>());
}

void TQuorvelViewport::AfterConstruction() {
  TControl::AfterConstruction();
  SetBounds(FX, FY, 100, 100);

  // The design camera orbits its target; both belong to the viewport, not to the form.
  FDesignCameraX = New<TQuorvelSmoothCameraController>(this);
  FDesignCameraX->SetName("DesignCameraTarget");
  FDesignCameraX->SetTag(kDesignTag);
  FDesignCameraX->SetStored(false);
  FDesignCameraX->SetParent(this);
  FDesignCameraX->GetPosition()->SetPoint(FDesignPosition->GetPoint());
  FDesignCameraX->GetRotationAngle()->SetPoint(FDesignRotationAngle->GetPoint());
  FDesignCameraX->SetEnabled(false);
  FDesignCamera = New<TCamera>(FDesignCameraX);
  FDesignCamera->SetName("DesignCamera");
  FDesignCamera->SetTag(kDesignTag);
  FDesignCamera->SetStored(false);
  FDesignCamera->SetParent(FDesignCameraX);
  FDesignCamera->SetTarget(FDesignCameraX);
  FDesignCameraX->SetCamera(FDesignCamera);
  for (TControl3D* c : {static_cast<TControl3D*>(FDesignCameraX), static_cast<TControl3D*>(FDesignCamera)}) {
    c->SetLocked(true);
    c->SetDesignLocked(true);
    // The camera sits inside its own size box and the target at the origin: taking hits, they
    // would answer every pick at run time before the scene.
    c->SetHitTest(false);
  }
  FDesignPosition->OnChange = [this](TObject*) {
    if (FDesignCameraX) FDesignCameraX->GetPosition()->SetPoint(FDesignPosition->GetPoint());
  };
  FDesignRotationAngle->OnChange = [this](TObject*) {
    if (!FDesignCameraX) return;
    FDesignCameraX->ResetRotationAngle();
    FDesignCameraX->GetRotationAngle()->SetPoint(FDesignRotationAngle->GetPoint());
  };
  FDesignRotationAngle->OnChangeX = [this](TObject*) {
    if (FDesignCameraX) FDesignCameraX->GetRotationAngle()->SetX(FDesignRotationAngle->GetPoint().X);
  };
  FDesignRotationAngle->OnChangeY = [this](TObject*) {
    if (FDesignCameraX) FDesignCameraX->GetRotationAngle()->SetY(FDesignRotationAngle->GetPoint().Y);
  };
  FDesignRotationAngle->OnChangeZ = [this](TObject*) {
    if (FDesignCameraX) FDesignCameraX->GetRotationAngle()->SetZ(FDesignRotationAngle->GetPoint().Z);
  };
  if (Designing()) {
    FDesignTimer = New<TTimer>(this);
    FDesignTimer->SetStored(false);
    FDesignTimer->SetInterval(250);
    FDesignTimer->SetOnTimer(TNotifyEvent([this](TObject*) {
      if (GetVisible() && GetParentedVisible()) Invalidate();
    }));
  }

  FScaleChangedId = TMessageManager::DefaultManager().SubscribeToMessage<TScaleChangedMessage>(
      [this](TObject*, const TMessage&) { DoScaleChanged(); });
  FDisplayChangedId = TMessageManager::DefaultManager().SubscribeToMessage<TDisplayChangedMessage>(
      [this](TObject*, const TMessage&) { UpdateDisplayRefreshRate(); });

  SetAlign(TAlignLayout::Client);
  if (auto* parent = dynamic_cast<TFwObject*>(Owner())) SetParent(parent);

  SetColor(TAlphaColor(0xFF000000));
  FUseFixedFrameRate = true;
  SetFixedFrameRate(60);
  FFixedInterval = New<TQuorvelTimer>();
  FFixedInterval->SetInterval(FFrameRateStep);
  FFixedInterval->SetOnTimer(TOnTimerEvent([this](TObject* s) { DoFixedIntervalTimer(s); }));
  UpdateDisplayRefreshRate();

  FTimerService = TPlatformServices::Current().GetTimerService();
  if (!FTimerService) throw EUnsupportedPlatformService("IFwTimerService");

  // The design camera's target steers for this viewport only while its camera is in use.
  FDesignCameraX->SetViewport3D(FUsingDesignCamera ? this : nullptr);
  FDesignCameraX->SetEnabled(true);
  Invalidate();
}

TQuorvelViewport::~TQuorvelViewport() = default;

void TQuorvelViewport::BeforeDestruction() {
  // The camera goes before its target (which owns it).
  FreeQuietlyAndNil(FDesignCamera, "design camera");
  FreeQuietlyAndNil(FDesignCameraX, "design camera target");
  if (FFixedInterval) {
    FFixedInterval->Terminate();
    // Freeing waits for the thread, serving its pending synchronized call, which finds the
    // viewport being destroyed and returns at once.
    FreeQuietlyAndNil(FFixedInterval, "frame timer");
  }
  FRenderPasses.clear();
  TMessageManager::DefaultManager().Unsubscribe<TScaleChangedMessage>(FScaleChangedId);
  TMessageManager::DefaultManager().Unsubscribe<TDisplayChangedMessage>(FDisplayChangedId);
  DeleteChildren();
  FCurrentRenderer = nullptr;
  FreeQuietlyAndNil(FRenderer, "viewport renderer");
  FreeQuietlyAndNil(FBitmap, "frame bitmap");
  FLights.clear();
  FRenderingList.clear();
  FTimerService = nullptr;
  TControl::BeforeDestruction();
}

void TQuorvelViewport::Notification(TComponent* AComponent, TOperation Operation) {
  TControl::Notification(AComponent, Operation);
  if (Operation != opRemove) return;
  if (AComponent == FCamera) FCamera = nullptr;
  if (AComponent == FDesignCamera) FDesignCamera = nullptr;
  if (AComponent == FDesignCameraX) FDesignCameraX = nullptr;
  if (AComponent == FDesignTimer) FDesignTimer = nullptr;
  CleanupRenderPasses(AComponent);
  if (auto* light = dynamic_cast<TLight*>(AComponent)) RemoveLight(light);
  auto it = std::find(FRenderingList.begin(), FRenderingList.end(), AComponent);
  if (it != FRenderingList.end()) FRenderingList.erase(it);
}

// ---- frame loop ------------------------------------------------------------------------------

void TQuorvelViewport::Lock() {
  FLock.lock();
  ++FLockDepth;
}

void TQuorvelViewport::Unlock() {
  --FLockDepth;
  FLock.unlock();
}

void TQuorvelViewport::BeginUpdate() { TControl::BeginUpdate(); }

void TQuorvelViewport::EndUpdate() {
  TControl::EndUpdate();
  if (auto* cam = dynamic_cast<TQuorvelCamera*>(FCamera))
    if (cam->GetUpdateNeeded()) cam->Update();
  Invalidate();
}

void TQuorvelViewport::CollectRenderingList(TFwObject* AObject) {
  if (AObject->GetChildrenCount() == 0 || GetUpdateCount() != 0) return;
  for (TFwObject* child : std::vector<TFwObject*>(AObject->Children())) {
    auto* c3 = dynamic_cast<TControl3D*>(child);
    if (!c3) continue;
    AddToRenderingList(c3);
    c3->ClearRenderingList();
    if (c3->GetVisible()) CollectRenderingList(c3);
  }
}

void TQuorvelViewport::UpdateRenderingList() {
  Lock();
  auto unlock = Finally([&] { Unlock(); });
  FRenderingList.clear();
  CollectRenderingList(this);
}

void TQuorvelViewport::RebuildRenderingList() {
  Lock();
  auto unlock = Finally([&] { Unlock(); });
  if (GetChildrenCount() == 0 || GetUpdateCount() != 0) return;
  FRenderingList.clear();
  for (TFwObject* child : Children())
    if (auto* c3 = dynamic_cast<TControl3D*>(child)) AddToRenderingList(c3);
}

void TQuorvelViewport::AddToRenderingList(TControl3D* AControl) {
  // A skybox is drawn before everything else; the last one met goes first.
  if (AControl->Is<TQuorvelSkyBox>())
    FRenderingList.insert(FRenderingList.begin(), AControl);
  else
    FRenderingList.push_back(AControl);
}

void TQuorvelViewport::RenderList(bool AFilter, bool AOpaque) {
  Lock();
  auto unlock = Finally([&] { Unlock(); });
  if (FRenderingList.empty()) return;
  TContext3D* ctx = GetContext();
  // The pass being drawn decides which controls take part in it (an environment map leaves
  // out the object it is made for).
  TQuorvelRenderPassController* controller = nullptr;
  if (ctx) {
    const TMatrix3D view = ctx->GetCurrentCameraMatrix();
    const TPoint3D eye = view.EyePosition();
    FFrustum = TQuorvelFrustum(ctx->GetCurrentProjectionMatrix(), view, eye);
    FUpdateFrustum = false;
    if (TQuorvelContext* q = AsEngine(ctx)) {
      q->SetFrustum(FFrustum);
      q->SetSceneBoundary(FSceneBounds);
      if (TRenderPass* pass = q->GetCurrentRenderPass())
        controller = dynamic_cast<TQuorvelRenderPassController*>(pass->GetController());
    }
  }
  TBoundingBox bounds = TBoundingBox::Empty();
  FDiagnostics.RenderedObjects = 0;
  // The count is read again on every step: a render may shrink the list.
  for (size_t i = 0; i < FRenderingList.size(); ++i) {
    TControl3D* item = FRenderingList[i];
    if (AFilter && item->GetOpaque() != AOpaque) continue;
    if (controller && controller->IsControlIgnored(item)) continue;
    if (!TQuorvelRenderingHelper::Renderable(item, FFrustum, GetComponentState(), bounds, FFrustumCulling, true))
      continue;
    item->RenderInternal();
    ++FDiagnostics.RenderedObjects;
  }
}

void TQuorvelViewport::RenderRenderList(PRenderContext) { RenderList(false, false); }

void TQuorvelViewport::RenderRenderListByMode(bool AOpaque) { RenderList(true, AOpaque); }

void TQuorvelViewport::DoDefaultRendering(PRenderContext ARenderContext) {
  TRenderer* r = GetCurrentRenderer();
  if (!r) return;
  if (r->BeginOpaqueRendering()) {
    auto end = Finally([&] { r->EndOpaqueRendering(); });
    RenderRenderListByMode(true);
  }
  if (r->BeginTranslucentRendering()) {
    auto end = Finally([&] { r->EndTranslucentRendering(); });
    RenderRenderListByMode(false);
  }
  if (auto* composite = dynamic_cast<TCompositeRenderer*>(r)) composite->Composite(ARenderContext);
}

void TQuorvelViewport::RenderFrame() {
  if (GetContext() == nullptr) {
    Log::d("rendering aborted - context not assigned");
    return;
  }
  if (FLockRendering) return;
  Lock();
  auto unlock = Finally([&] { Unlock(); });
  TCanvas* canvas = GetCanvas();
  if (canvas == nullptr || canvas->GetBeginSceneCount() == 0) return;
  canvas->Flush();
  TQuorvelContext* ctx = AsEngine(GetContext());
  if (ctx && (!ctx->GetRenderPasses() || ctx->GetRenderPasses()->Count() == 0)) UpdateRenderPasses();
  // The shader-light list comes with an initialised context: without one there is nothing to
  // light a frame with.
  if (!ctx || !ctx->Valid()) return;

  const TBlendSetting blending = ctx->GetGlobalBlending();
  {
    auto restore = Finally([&] { ctx->SetGlobalBlending(blending); });
    const double start = FTimerService->GetTick();
    ApplyLightSettings(ctx);
    ctx->ResetRenderPasses();
    TQuorvelContext::ResetDrawCallDiagnostics();
    TRenderContext rc;
    rc.Viewport = this;
    rc.DefaultRenderingProc = [this](PRenderContext r) { DoDefaultRendering(r); };
    rc.ListRenderingProc = [this](PRenderContext r) { RenderRenderList(r); };
    UpdateRenderingList();
    TCamera* cam = GetCurrentCamera();
    const TMatrix3D camMatrix = cam ? cam->GetCameraMatrix() : TMatrix3D::Identity();
    const float angle = cam ? cam->GetAngleOfView() : 45;
    ctx->SetOriginalCameraMatrix(camMatrix);
    ctx->PreProcessing(&rc);
    SetCurrentRenderer(FRenderer);
    if (FRenderer) {
      FRenderer->BeginMainRenderPass(camMatrix, angle);
      auto end = Finally([&] { FRenderer->EndMainRenderPass(); });
      DoDefaultRendering(&rc);
    }
    ctx->PostProcessing(&rc);
    FRenderTime += FTimerService->GetTick() - start;
    FRenderCycles += 1;
  }
  if (FRenderTime >= 0.05) {
    FFPS = 1000 / ((FRenderTime / FRenderCycles) * 1000);
    if (FDiagnostics.Enabled) {
      FDiagnostics.PaintingTime = FRenderTime;
      FDiagnostics.PaintingCycles = FRenderCycles;
      FDiagnostics.PaintingFPS = FFPS;
      FDiagnostics.DrawCalls = GlobalDrawCalls;
      FDiagnostics.DrawInstances = GlobalDrawInstances;
      FDiagnostics.TotalVertexCount = GlobalVertexCount;
      FDiagnostics.TotalIndexCount = GlobalIndexCount;
    }
    FRenderCycles = 0;
    FRenderTime = 0;
  }
  TRenderer* current = GetCurrentRenderer();
  TContext3D* source = nullptr;
  if (current && current->GetAttachedRenderer()) {
    source = current->GetAttachedRenderer()->GetSharedContext();
    current->SetAttachedRenderer(nullptr);
  } else if (current) {
    source = current->GetSharedContext();
  }
  // Before the first Resize there is no bitmap to copy into.
  if (source && FBitmap) source->CopyToBitmap(FBitmap, TRect(0, 0, FBitmap->GetWidth(), FBitmap->GetHeight()));
}

void TQuorvelViewport::DoFixedIntervalTimer(TObject*) {
  if (GetComponentState().Contains(csDestroying) || !GetVisible() || !GetParentedVisible() || FFixedRendering > 0)
    return;
  if (FDiagnostics.Enabled) {
    FDiagnostics.FrameTimeWatch.Reset();
    FDiagnostics.FrameTimeWatch.Start();
  }
  Application->ProcessMessages();
  ++FFixedRendering;
  auto done = Finally([&] {
    --FFixedRendering;
    if (FDiagnostics.Enabled && FDiagnostics.AccountFrame()) {
      int32_t passes = 0;
      if (auto* fwd = dynamic_cast<TForwardRenderer*>(FRenderer)) {
        passes += 2;
        if (fwd->GetGlobalIllumDetail() > 0) passes += 2 + (fwd->GetGlobalIllumSoftness() > 0 ? 1 : 0);
        if (fwd->GetEmissiveBlur() > 0) passes += 1;
        if (fwd->GetFXAA() > 0) passes += 1;
      }
      passes += int32_t(FRenderPasses.size());
      FDiagnostics.RenderPasses = passes;
      FDiagnostics.RenderListSize = int32_t(FRenderingList.size());
    }
  });
  TCanvas* canvas = GetCanvas();
  if (!canvas || !canvas->BeginScene()) return;
  auto endScene = Finally([&] { canvas->EndScene(); });
  if (FDrawing) return;
  {
    FDrawing = true;
    auto reset = Finally([&] { FDrawing = false; });
    RenderFrame();
  }
  RecalcUpdateRect();
  TRectF r = GetUpdateRect();
  if (!dynamic_cast<TForm*>(GetParent())) r = GetClipRect();
  RepaintRect(r);
  PaintTo(canvas, r, GetParent());
}

TRectF TQuorvelViewport::DoGetUpdateRect() const {
  return FUseFixedFrameRate ? GetAbsoluteRect() : TControl::DoGetUpdateRect();
}

void TQuorvelViewport::Paint() {
  if (!GetVisible() || !GetParentedVisible() || FDrawing || !AsEngine(GetContext()) || !FRenderer ||
      !FRenderer->GetSharedContext())
    return;
  if (FDiagnostics.Enabled) {
    FDiagnostics.DrawCycleWatch.Reset();
    FDiagnostics.DrawCycleWatch.Start();
  }
  if (FUseFixedFrameRate && !Designing()) {
    if (FFixedInterval && !FFixedInterval->GetActive()) FFixedInterval->SetActive(true);
    if (FFixedRendering > 0) return;
    if (FFixedInterval && FFixedInterval->GetActive()) {
      DrawFrameBitmap();
      return;
    }
  }
  TCanvas* canvas = GetCanvas();
  if (Designing()) {
    TRectF r = GetLocalRect();
    r.Inflate(-0.5f, -0.5f);
    canvas->DrawDashRect(r, 0, 0, AllCorners(), GetAbsoluteOpacity(), TAlphaColor(0xA0909090));
  } else if (FManualRendering && !FDoManualRender) {
    return;
  }
  if (FDrawing || FLockRendering) return;
  {
    FDrawing = true;
    auto reset = Finally([&] { FDrawing = false; });
    RenderFrame();
  }
  DrawFrameBitmap();
}

void TQuorvelViewport::DrawFrameBitmap() {
  TCanvas* canvas = GetCanvas();
  if (!canvas) return;
  if (FBitmap) canvas->DrawBitmap(FBitmap, FBitmap->GetBoundsF(), GetLocalRect(), GetAbsoluteOpacity(), true);
  if (FEditMode) {
    TRectF r = GetLocalRect();
    r.Inflate(-1.5f, -1.5f);
    canvas->DrawRect(r, 0, 0, AllCorners(), GetAbsoluteOpacity(), TCanvasBrush{TAlphaColor(0xFFFFFF00), 3});
    canvas->Stroke().Color = TAlphaColor(0xFFFFFF00);
    if (FDesignCamera && FDesignCameraX) {
      const TVector3D p = FDesignCamera->GetAbsolutePosition();
      const TPoint3D a = FDesignCameraX->GetRotationAngle()->GetPoint();
      const std::string text = Format("Pos=(%n, %n, %n), Rotation=(%n, %n, %n)",
                                      {double(p.X), double(p.Y), double(p.Z), double(a.X), double(a.Y), double(a.Z)});
      canvas->FillText(TRectF(0, 0, GetWidth(), GetHeight()), text, true, 0.5f, {}, TTextAlign::Leading,
                       TTextAlign::Center);
    }
  }
  if (FDiagnostics.Enabled) {
    FDiagnostics.AccountDrawCycle();
    canvas->Stroke().Color = TAlphaColor(0xFFFFFF00);
    canvas->FillText(TRectF(16, 16, 240, 16 + 16 * 26), FDiagnostics.OverlayText(), true, 1.0f, {},
                     TTextAlign::Leading, TTextAlign::Leading);
  }
}

void TQuorvelViewport::RenderManual() {
  FDoManualRender = true;
  auto reset = Finally([&] { FDoManualRender = false; });
  Invalidate();
  TCanvas* canvas = GetCanvas();
  if (!canvas || !canvas->BeginScene()) return;
  auto endScene = Finally([&] { canvas->EndScene(); });
  PaintTo(canvas, GetAbsoluteRect(), GetParent());
}

// ---- frame rate --------------------------------------------------------------------------------

void TQuorvelViewport::SetUseFixedFrameRate(bool Value) {
  FUseFixedFrameRate = Value;
  if (FFixedInterval && !Designing()) FFixedInterval->SetActive(Value);
}

void TQuorvelViewport::SetFixedFrameRate(int32_t Value) {
  // No step exists for a rate of 0 or below.
  FFixedFrameRate = std::max(Value, 1);
  UpdateFrameRateStep();
}

void TQuorvelViewport::SetVSync(bool Value) {
  FVSync = Value;
  UpdateFrameRateStep();
}

void TQuorvelViewport::UpdateFrameRateStep() {
  int32_t rate = FFixedFrameRate;
  if (FVSync && !Designing()) rate = std::min(FFixedFrameRate, FDiagnostics.DisplayRefreshRate);
  FFrameRateStep = rate <= 0 ? 1000 / FFixedFrameRate : 1000 / rate;
  if (FFixedInterval) FFixedInterval->SetInterval(FFrameRateStep);
}

void TQuorvelViewport::UpdateDisplayRefreshRate() { FDiagnostics.DisplayRefreshRate = DisplayRefreshRate(0); }

double TQuorvelViewport::GetFPS() const {
  if (const_cast<TQuorvelViewport*>(this)->GetContext() == nullptr) return 0;
  if (FUseFixedFrameRate && FFixedInterval) return FFixedInterval->GetFPS();
  return FFPS;
}

// ---- settings and renderer --------------------------------------------------------------------

TRenderer* TQuorvelViewport::GetCurrentRenderer() {
  if (!FCurrentRenderer) FCurrentRenderer = FRenderer;
  return FCurrentRenderer;
}

void TQuorvelViewport::SetCurrentRenderer(TRenderer* Value) {
  if (Value == FCurrentRenderer) return;
  FCurrentRenderer = Value;
  // A pass's renderer needs no copy of the main context's states: the render-state record
  // is process-wide, all contexts drawing through one GL context.
  if (Value && Value == FRenderer) UpdateLightSettings();
  UpdateRenderSettings();
}

TContext3D* TQuorvelViewport::GetContext() {
  TRenderer* r = GetCurrentRenderer();
  return r ? r->GetSharedContext() : nullptr;
}

void TQuorvelViewport::SetRendererType(TRendererType Value) {
  FRendererType = Value;
  RecreateRenderer();
}

void TQuorvelViewport::RecreateRenderer() {
  FCurrentRenderer = nullptr;
  FreeAndNil(FRenderer);
  const std::string name = Format("Viewport@%d", {int64_t(reinterpret_cast<intptr_t>(this))});
  switch (FRendererType) {
    case TRendererType::ForwardRenderer: FRenderer = New<TForwardRenderer>(name, this, TRendererFlags{}, nullptr); break;
    case TRendererType::LegacyRenderer: FRenderer = New<TLegacyRenderer>(name, this, TRendererFlags{}, nullptr); break;
    default: throw Exception("unsupported renderer type set");
  }
  FRenderer->SetColor(TAlphaColorF(FFill));
  // A renderer is made at the logical size; the frame bitmap keeps the size and scale of the
  // last resize, and the new renderer draws at those (else a high-resolution frame would be
  // drawn coarse and stretched until the next resize).
  if (FBitmap)
    FRenderer->Resize(TPoint(FBitmap->GetWidth(), FBitmap->GetHeight()), FBitmap->GetBitmapScale());
  UpdateSharedRenderSettings();
  UpdateLightSettings();
  PushCompositeSettings();
  SetCurrentRenderer(FRenderer);
}

void TQuorvelViewport::PushCompositeSettings() {
  if (auto* c = dynamic_cast<TCompositeRenderer*>(FRenderer)) {
    c->SetSaturation(FSaturation);
    c->SetEmissiveBlur(FEmissiveBlur);
    c->SetGlobalIllumDetail(FGlobalIllumDetail);
    c->SetGlobalIllumSoftness(FGlobalIllumSoftness);
    c->SetShadowStrength(FShadowStrength);
    c->SetReflectionStrength(FReflectionStrength);
    c->SetFXAA(FXAASteps);
  }
}

void TQuorvelViewport::SetColor(TAlphaColor Value) {
  FFill = Value;
  if (FRenderer) FRenderer->SetColor(TAlphaColorF(Value));
  Repaint();
}

bool TQuorvelViewport::GetSmooth() {
  TQuorvelContext* ctx = AsEngine(GetContext());
  return ctx && !ctx->GetSmoothTargets().IsEmpty();
}

void TQuorvelViewport::SetSmooth(bool Value) {
  TQuorvelContext* ctx = AsEngine(GetContext());
  if (!ctx) return;
  ctx->SetSmoothMode(Value ? TSmoothSetting::Create() : TSmoothSetting{});
}

void TQuorvelViewport::SetHighRes(bool Value) {
  FHighRes = Value;
  Resize();
}

void TQuorvelViewport::SetNearPlane(float Value) {
  FNearPlane = Value;
  UpdateRenderSettings();
}
void TQuorvelViewport::SetFarPlane(float Value) {
  FFarPlane = Value;
  UpdateRenderSettings();
}
void TQuorvelViewport::SetFog(bool Value) {
  FFog.Enabled = Value;
  UpdateRenderSettings();
}
void TQuorvelViewport::SetFogMode(uint8_t Value) {
  FFog.Mode = Value;
  UpdateRenderSettings();
}
void TQuorvelViewport::SetFogDensity(float Value) {
  FFog.Density = Value;
  UpdateRenderSettings();
}
void TQuorvelViewport::SetFogStart(float Value) {
  FFog.FogStart = Value;
  UpdateRenderSettings();
}
void TQuorvelViewport::SetFogEnd(float Value) {
  FFog.FogEnd = Value;
  UpdateRenderSettings();
}
void TQuorvelViewport::SetFogColorF(const TAlphaColorF& Value) {
  FFog.Color = Value;
  UpdateRenderSettings();
}

void TQuorvelViewport::SetSaturation(const TPoint3D& Value) {
  FSaturation = Value;
  if (auto* c = dynamic_cast<TCompositeRenderer*>(FRenderer)) c->SetSaturation(FSaturation);
}

float TQuorvelViewport::GetSaturationValue(int32_t AIndex) const {
  switch (AIndex) {
    case 0: return FSaturation.X;
    case 1: return FSaturation.Y;
    case 2: return FSaturation.Z;
    default: return 0;
  }
}

void TQuorvelViewport::SetSaturationValue(int32_t AIndex, float AValue) {
  TPoint3D s = FSaturation;
  switch (AIndex) {
    case 0: s.X = AValue; break;
    case 1: s.Y = AValue; break;
    case 2: s.Z = AValue; break;
    default: return;
  }
  SetSaturation(s);
}

void TQuorvelViewport::SetEmissiveBlur(int32_t Value) {
  FEmissiveBlur = std::clamp(Value, 0, 15);
  if (auto* c = dynamic_cast<TCompositeRenderer*>(FRenderer)) c->SetEmissiveBlur(FEmissiveBlur);
}
void TQuorvelViewport::SetGlobalIllumDetail(int32_t Value) {
  FGlobalIllumDetail = Value;  // the renderer clamps
  if (auto* c = dynamic_cast<TCompositeRenderer*>(FRenderer)) c->SetGlobalIllumDetail(Value);
}
void TQuorvelViewport::SetGlobalIllumSoftness(float Value) {
  FGlobalIllumSoftness = std::clamp(Value, 0.0f, 5.0f);
  if (auto* c = dynamic_cast<TCompositeRenderer*>(FRenderer)) c->SetGlobalIllumSoftness(FGlobalIllumSoftness);
}
void TQuorvelViewport::SetShadowStrength(float Value) {
  FShadowStrength = std::clamp(Value, 0.0f, 10.0f);
  if (auto* c = dynamic_cast<TCompositeRenderer*>(FRenderer)) c->SetShadowStrength(FShadowStrength);
}
void TQuorvelViewport::SetReflectionStrength(float Value) {
  FReflectionStrength = std::clamp(Value, 0.0f, 10.0f);
  if (auto* c = dynamic_cast<TCompositeRenderer*>(FRenderer)) c->SetReflectionStrength(FReflectionStrength);
}
void TQuorvelViewport::SetFXAA(int32_t Value) {
  FXAASteps = std::clamp(Value, 0, 8);
  if (auto* c = dynamic_cast<TCompositeRenderer*>(FRenderer)) c->SetFXAA(FXAASteps);
}

void TQuorvelViewport::ApplyRenderSettings(TContext3D* AContext) {
  if (TQuorvelContext* ctx = AsEngine(AContext)) {
    ctx->SetNearPlane(FNearPlane);
    ctx->SetFarPlane(FFarPlane);
    ctx->SetFog(FFog);
  }
}

void TQuorvelViewport::UpdateRenderSettings() {
  TContext3D* ctx = GetContext();
  ApplyRenderSettings(ctx);
  if (FRenderer && FRenderer->GetSharedContext() && FRenderer->GetSharedContext() != ctx)
    ApplyRenderSettings(FRenderer->GetSharedContext());
}

void TQuorvelViewport::UpdateSharedRenderSettings() {
  if (FRenderer && FRenderer->GetSharedContext()) ApplyRenderSettings(FRenderer->GetSharedContext());
}

void TQuorvelViewport::ApplyLightSettings(TContext3D* AContext) {
  TQuorvelContext* ctx = AsEngine(AContext);
  if (!ctx) return;
  ctx->ClearLights();
  for (TLight* light : FLights) {
    if (auto* ql = dynamic_cast<TQuorvelLight*>(light))
      ctx->AddLight(ql->GetLightDescriptionEx());
    else
      ctx->AddLight(light->GetLightDescription());
  }
}

void TQuorvelViewport::UpdateLightSettings() {
  if (FRenderer) ApplyLightSettings(FRenderer->GetSharedContext());
}

void TQuorvelViewport::RemoveLight(TLight* ALight) {
  Lock();
  auto unlock = Finally([&] { Unlock(); });
  auto it = std::find(FLights.begin(), FLights.end(), ALight);
  if (it != FLights.end()) FLights.erase(it);
}

void TQuorvelViewport::AddRenderPass(TObject* AController) {
  {
    Lock();
    auto unlock = Finally([&] { Unlock(); });
    if (std::find(FRenderPasses.begin(), FRenderPasses.end(), AController) == FRenderPasses.end())
      FRenderPasses.push_back(AController);
  }
  UpdateRenderPasses();
}

void TQuorvelViewport::RemoveRenderPass(TObject* AController) {
  Lock();
  auto unlock = Finally([&] { Unlock(); });
  auto it = std::find(FRenderPasses.begin(), FRenderPasses.end(), AController);
  if (it != FRenderPasses.end()) FRenderPasses.erase(it);
}

void TQuorvelViewport::UpdateRenderPasses() {
  // A pass's update may add or remove passes: walk a copy.
  const std::vector<TObject*> passes = FRenderPasses;
  for (TObject* pass : passes)
    if (auto* controller = dynamic_cast<TQuorvelRenderPassController*>(pass)) controller->UpdateRenderPass();
}

void TQuorvelViewport::UpdateRenderPassesOnResize() {
  const std::vector<TObject*> passes = FRenderPasses;
  for (TObject* pass : passes)
    if (auto* controller = dynamic_cast<TQuorvelRenderPassController*>(pass)) controller->UpdateOnResize();
}

void TQuorvelViewport::CleanupRenderPasses(TObject* AController) {
  if (!FRenderPasses.empty()) RemoveRenderPass(AController);
}

// ---- cameras --------------------------------------------------------------------------------

TCamera* TQuorvelViewport::GetCurrentCamera() {
  if (FCamera == nullptr || FUsingDesignCamera || Designing()) return FDesignCamera;
  return FCamera;
}

void TQuorvelViewport::SetCamera(TCamera* Value) {
  if (Value == FCamera) return;
  if (FCamera) FCamera->RemoveFreeNotification(this);
  FCamera = Value == FDesignCamera ? nullptr : Value;
  if (FCamera) FCamera->FreeNotification(this);
  FUpdateFrustum = true;
  if (GetContext() && !FUsingDesignCamera && !Designing()) {
    Repaint();
    UpdateEffects();
  }
}

void TQuorvelViewport::SetUsingDesignCamera(bool Value) {
  if (Value == FUsingDesignCamera) return;
  FUsingDesignCamera = Value;
  if (FDesignCameraX) {
    FDesignCameraX->SetViewport3D(Value ? this : nullptr);
    FDesignCameraX->SetEnabled(Value);
  }
  if (GetContext()) {
    Repaint();
    UpdateEffects();
  }
}

void TQuorvelViewport::SetEditMode(bool Value) {
  if (FEditMode) {
    SetUsingDesignCamera(FStoredUsingDesignCamera);
    FFrustumCulling = FStoredFrustumCulling;
  } else {
    FStoredUsingDesignCamera = FUsingDesignCamera;
    FStoredFrustumCulling = FFrustumCulling;
    SetUsingDesignCamera(true);
    FFrustumCulling = false;
  }
  FEditMode = Value;
  for (TControl3D* c : {static_cast<TControl3D*>(FDesignCameraX), static_cast<TControl3D*>(FDesignCamera)}) {
    if (!c) continue;
    c->SetLocked(!FEditMode);
    c->SetDesignLocked(!FEditMode);
  }
  if (FDesignCameraX) {
    FDesignCameraX->SetViewport3D(FUsingDesignCamera ? this : nullptr);
    FDesignCameraX->SetEnabled(true);
  }
  Invalidate();
}

void TQuorvelViewport::ToggleEditMode() {
  SetEditMode(!FEditMode);
  Invalidate();
}

void TQuorvelViewport::ResetDesignCamera() {
  if (!FEditMode || !FDesignCameraX || !FDesignCamera) return;
  BeginUpdate();
  auto end = Finally([&] {
    EndUpdate();
    Invalidate();
  });
  FDesignCameraX->SetAbsolutePosition(TVector3D(0, 0, 0, 1));
  FDesignCameraX->ResetRotationAngle();
  FDesignCameraX->GetRotationAngle()->SetPoint({0, 0, 0});
  FDesignCamera->ResetRotationAngle();
  FDesignCamera->GetRotationAngle()->SetPoint({0, 0, 0});
  FDesignCamera->GetPosition()->SetPoint({0, -5, -20});
}

// ---- size, children, conversions --------------------------------------------------------------

float TQuorvelViewport::GetViewportScale() {
  IScene* scene = GetScene();
  return FHighRes && scene ? scene->GetSceneScale() : 1.0f;
}

void TQuorvelViewport::Resize() {
  TControl::Resize();
  const float scale = GetViewportScale();
  const int32_t w = int32_t(Round(double(GetWidth()) * scale)), h = int32_t(Round(double(GetHeight()) * scale));
  if (w < 1 || h < 1) {
    Log::d(Format("ERROR: Illegal viewport resize(%d, %d)", {w, h}));
    return;
  }
  FCurrentRenderer = nullptr;
  if (!FRenderer) RecreateRenderer();
  FRenderer->Resize(TPoint(w, h), scale);
  UpdateLightSettings();
  ApplyRenderSettings(FRenderer->GetSharedContext());
  FRenderer->Apply();
  FreeAndNil(FBitmap);
  FBitmap = TQuorvelTextureBitmap::Create();
  FBitmap->BeginSetup();
  {
    auto done = Finally([&] { FBitmap->EndSetup(); });
    FBitmap->SetStyle({TTextureStyle::RenderTarget});
    FBitmap->SetComponents(TPixelFormatEx::RGBA8);
    FBitmap->SetFormat(TPixelFormatEx::BGRA);
    FBitmap->SetDataType(TQuorvelTextureDataType::dtUnsignedByte);
    FBitmap->SetSize(w, h);
    FBitmap->SetBitmapScale(scale);
  }
  UpdateRenderPassesOnResize();
  ResizeEffectContext();
  Invalidate();
}

TBitmap* TQuorvelViewport::GetFrameBitmap() const { return FBitmap; }

void TQuorvelViewport::ResizeEffectContext() {
  TRenderer* r = GetCurrentRenderer();
  int32_t w = 0, h = 0;
  if (r && r->GetCompositeTexture()) {
    w = r->GetCompositeTexture()->GetWidth();
    h = r->GetCompositeTexture()->GetHeight();
  }
  TFilterManager::ResetContexts();
  TFilterManager::ResizeContext(w, h);
}

void TQuorvelViewport::DoScaleChanged() { Resize(); }

void TQuorvelViewport::DoAddObject(TFwObject* AObject) {
  TControl::DoAddObject(AObject);
  if (auto* c3 = dynamic_cast<TControl3D*>(AObject)) {
    c3->SetNewViewport(this);
    RebuildRenderingList();
    if (Designing())
      if (auto* cam = dynamic_cast<TCamera*>(AObject); cam && cam->GetTag() != kDesignTag) SetCamera(cam);
  }
}

void TQuorvelViewport::DoRemoveObject(TFwObject* AObject) {
  TControl::DoRemoveObject(AObject);
  if (auto* c3 = dynamic_cast<TControl3D*>(AObject)) {
    c3->SetNewViewport(nullptr);
    auto it = std::find(FRenderingList.begin(), FRenderingList.end(), c3);
    if (it != FRenderingList.end()) FRenderingList.erase(it);
    RebuildRenderingList();
    Repaint();
  }
}

// ---- picking -----------------------------------------------------------------------------------

bool TQuorvelViewport::CheckHitTest(bool AHitTest) const {
  if (FEditMode) return false;
  if (Designing() && GetKeyState(VK_LMENU) < 0) return false;
  return TControl::CheckHitTest(AHitTest);
}

IControl* TQuorvelViewport::PickChildren(const std::function<IControl*(IControl*)>& AAsk, bool AInvisibleToo) {
  // Screen-projected objects lie over the scene: they are asked first. Within a pass every
  // child is asked; the shared pick distance keeps the nearest hit.
  for (TProjection projection : {TProjection::Screen, TProjection::Camera}) {
    TControl3D::SetGlobalDistance(65535);
    TControl3D::SetGlobalProjection(projection);
    IControl* result = nullptr;
    const std::vector<TFwObject*> children = Children();
    for (size_t i = children.size(); i-- > 0;) {
      auto* control = dynamic_cast<IControl*>(children[i]);
      if (!control || (!control->GetVisible() && !AInvisibleToo)) continue;
      if (IControl* hit = AAsk(control)) result = hit;
    }
    if (result) return result;
  }
  return nullptr;
}

IControl* TQuorvelViewport::ModelOfMesh(IControl* AResult) const {
  if (!AResult || !Designing()) return AResult;
  if (auto* mesh = dynamic_cast<TQuorvelMesh*>(AResult->GetObject()))
    if (TQuorvelControl* model = mesh->GetModel()) return model;
  return AResult;
}

IControl* TQuorvelViewport::ObjectAtPoint(const TPointF& P) {
  if (!TControl::ObjectAtPoint(P)) return nullptr;
  IControl* result = PickChildren([&P](IControl* c) { return c->ObjectAtPoint(P); }, Designing());
  if (!result) result = TControl::ObjectAtPoint(P);
  return ModelOfMesh(result);
}

IControl* TQuorvelViewport::FindTarget(const TPointF& P, const TDragObject& AData) {
  if (!TControl::FindTarget(P, AData)) return nullptr;
  IControl* result = PickChildren([&P, &AData](IControl* c) { return c->FindTarget(P, AData); }, false);
  if (!result) result = TControl::FindTarget(P, AData);
  return ModelOfMesh(result);
}

bool TQuorvelViewport::RayCastCandidate(TControl3D* AObject, const TBoundingBox& AFrustumBox) {
  if (!PassesVisibility(AObject, GetComponentState(), true) || !AObject->GetHitTest()) return false;
  if (!AObject->OnMouseUp && !AObject->OnMouseDown && !AObject->OnMouseMove) return false;
  if (Exempt(AObject)) return true;
  TBoundingBox box;
  if (auto* qc = dynamic_cast<TQuorvelControl*>(AObject))
    box = qc->GetAbsoluteBoundingBox();
  else
    box = AObject->GetGlobalBounds();
  // Touching counts as overlapping.
  return box.Left <= AFrustumBox.Right && box.Right >= AFrustumBox.Left && box.Top <= AFrustumBox.Bottom &&
         box.Bottom >= AFrustumBox.Top && box.Near <= AFrustumBox.Far && box.Far >= AFrustumBox.Near;
}

TControl3D* TQuorvelViewport::RayCastIntersect(const TPointF& P) {
  const TBoundingBox frustumBox = FFrustum.ToBoundingBox();
  // Every candidate is asked from one start: the shared distance lets only a nearer hit
  // replace the one found so far, whatever the order of the list.
  TControl3D::SetGlobalDistance(65535);
  TControl3D::SetGlobalProjection(TProjection::Camera);
  TControl3D* result = nullptr;
  const std::vector<TControl3D*> list = FRenderingList;
  for (TControl3D* object : list) {
    if (!RayCastCandidate(object, frustumBox)) continue;
    IControl* hit = nullptr;
    TVector3D rayPos, rayDir;
    TPoint3D at;
    PickObject(object, hit, P, rayPos, rayDir, at);
    if (hit) result = object;
  }
  if (result && result->OnMouseMove) {
    TVector3D rayPos, rayDir;
    if (TContext3D* ctx = result->GetContext()) {
      const TPointF local = ScreenToLocal(P);
      ctx->Pick(local.X, local.Y, TProjection::Camera, rayPos, rayDir);
    }
    result->OnMouseMove(result, TShiftState{}, P.X, P.Y, rayPos, rayDir);
  }
  return result;
}

TPoint3D TQuorvelViewport::ScreenToWorld(const TPointF& APoint2D) {
  TCamera* cam = FUsingDesignCamera ? FDesignCamera : FCamera;
  TQuorvelContext* ctx = AsEngine(GetContext());
  if (!cam || !ctx) return {};
  return ctx->ScreenToWorld(APoint2D, cam->GetProjection());
}

TPointF TQuorvelViewport::WorldToScreen(const TPoint3D& APoint3D) {
  TCamera* cam = FUsingDesignCamera ? FDesignCamera : FCamera;
  TQuorvelContext* ctx = AsEngine(GetContext());
  if (!cam || !ctx) return {};
  const TPoint3D p = ctx->WorldToScreen(cam->GetProjection(), APoint3D);
  return {p.X, p.Y};
}

TBitmap* TQuorvelViewport::MakeScreenshot() {
  Lock();
  auto unlock = Finally([&] { Unlock(); });
  IScene* scene = GetScene();
  const float scale = scene ? scene->GetSceneScale() : 1.0f;
  TRectF r(0, 0, GetWidth() * scale, GetHeight() * scale);
  const float m = float(TCanvas::GetAttribute(TCanvasAttribute::MaxBitmapSize));
  r = r.PlaceInto(TRectF(0, 0, m, m));
  // PlaceInto centres the rectangle in the square; drawn there, the picture would miss the
  // screenshot's own bounds (an empty screenshot). Drawn at its origin it fills them.
  r.Offset(-r.Left, -r.Top);
  TOwned<TBitmap> bmp(New<TBitmap>());
  bmp->SetSize(int32_t(Round(r.Width())), int32_t(Round(r.Height())));
  bmp->SetBitmapScale(scale);
  bmp->Clear(TAlphaColor(0));
  if (FBitmap && bmp->GetWidth() > 0 && bmp->GetHeight() > 0) {
    TBitmapCanvas canvas(bmp.get());
    if (canvas.BeginScene()) {
      auto end = Finally([&] { canvas.EndScene(); });
      // The canvas scales logical units by the bitmap's scale: the whole frame goes into the
      // screenshot's logical rectangle, so the scale applies once.
      const TRectF logical(0, 0, r.Width() / scale, r.Height() / scale);
      canvas.DrawBitmap(FBitmap, TRectF(0, 0, FBitmap->GetWidth(), FBitmap->GetHeight()), logical, 1, false);
    }
  }
  return bmp.release();
}

TFwObject* FindParentOfClass(TFwObject* AObject, const TClass* AClass) {
  for (TFwObject* p = AObject ? AObject->GetParent() : nullptr; p; p = p->GetParent())
    if (p->InheritsFrom(AClass)) return p;
  return nullptr;
}

TFwObject* FindParentViewport(TFwObject* AObject) {
  return FindParentOfClass(AObject, TQuorvelViewport::StaticClass());
}


namespace {

void InitViewportUnit() {
  RegisterClasses({TQuorvelViewport::StaticClass()});
  RegisterContextOpenGLWindows();
}

void FinViewportUnit() { UnRegisterClasses({TQuorvelViewport::StaticClass()}); }

const TUnitRegistration ViewportUnit{{"Quorvel.Viewport", {"Quorvel.Context.GLES.Windows"}, &InitViewportUnit, &FinViewportUnit}};

}  // namespace

}  // namespace quorvel
