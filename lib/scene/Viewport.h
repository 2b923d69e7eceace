#pragma once
// TQuorvelViewport: the 2D control that hosts a 3D scene on a form. It draws through the
// context of its current renderer into off-screen frame buffers, copies each frame into its
// bitmap and draws that bitmap in Paint. Frames come from the frame timer (fixed rate, the
// default), from paints (UseFixedFrameRate False, and at design time) or from RenderManual.
//
// Threads: everything runs on the main thread; the timer thread only hands ticks over. A
// frame holds the viewport lock (re-entrant) for its whole length.
//
// Faults mended here: the list renderers re-read the list's count on every step (a render
// that shrinks the list never reads past it); a frame before the first Resize (no bitmap)
// skips the copy; FixedFrameRate below 1 is stored as 1.
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "framework/gui/Bitmap.h"
#include "framework/gui/Control.h"
#include "framework/gui/Timer.h"
#include "framework/gui/TimerService.h"
#include "framework/gui3d/Camera.h"
#include "framework/gui3d/Control3D.h"
#include "framework/gui3d/Light.h"
#include "framework/math/BoundingBox.h"
#include "framework/math/Position3D.h"
#include "lib/passes/ContextRendering.h"
#include "lib/passes/Renderer.h"
#include "lib/scene/ViewportDiagnostics.h"
#include "lib/utils/ContextFrustum.h"

namespace quorvel {

class TQuorvelContext;
class TQuorvelSmoothCameraController;
class TQuorvelTextureBitmap;
class TQuorvelTimer;

class TQuorvelRenderingHelper {
public:
  static bool Renderable(TControl3D* ACtrl, const TQuorvelFrustum& AFrustum, const TComponentState& AComponentState,
                         TBoundingBox& ASceneBounds, bool AFrustumCulling, bool ACheckVisibility);
  static void UpdateSceneBounds(TControl3D* ACtrl, const TComponentState& AComponentState,
                                TBoundingBox& ASceneBounds);
};

class TQuorvelViewport : public TControl, public IViewport3D {
  FW_CLASS(TQuorvelViewport, TControl)

public:
  // Raises "owner component not set" without owner.
  explicit TQuorvelViewport(TComponent* AOwner);
  ~TQuorvelViewport() override;
  void AfterConstruction() override;
  void BeforeDestruction() override;
  void Notification(TComponent* AComponent, TOperation Operation) override;

  // ---- frame loop
  void BeginUpdate() override;
  void EndUpdate() override;
  void EndUpdateWithoutInvalidate() { TControl::EndUpdate(); }
  virtual void UpdateRenderingList();
  virtual void DoDefaultRendering(PRenderContext ARenderContext);
  virtual void RenderFrame();
  virtual void RenderManual();
  virtual void RebuildRenderingList();
  void RenderRenderList(PRenderContext ARenderContext);
  void RenderRenderListByMode(bool AOpaque);
  // One tick of the fixed-rate loop (the timer's handler).
  void DoFixedIntervalTimer(TObject* ASender);
  void Lock();
  void Unlock();
  // How deep the lock is held by the main thread (0 when free).
  int32_t GetLockDepth() const { return FLockDepth; }
  void Invalidate() { Repaint(); }
  const std::vector<TControl3D*>& GetRenderingList() const { return FRenderingList; }
  bool GetDrawing() const { return FDrawing; }
  int32_t GetFixedRendering() const { return FFixedRendering; }
  bool GetLockRendering() const { return FLockRendering; }
  void SetLockRendering(bool Value) { FLockRendering = Value; }
  bool GetManualRendering() const { return FManualRendering; }
  void SetManualRendering(bool Value) { FManualRendering = Value; }
  bool GetFrustumCulling() const { return FFrustumCulling; }
  void SetFrustumCulling(bool Value) { FFrustumCulling = Value; }
  const TBoundingBox& GetSceneBounds() const { return FSceneBounds; }
  void SetSceneBounds(const TBoundingBox& Value) { FSceneBounds = Value; }
  const TQuorvelFrustum& GetCurrentFrustum() const { return FFrustum; }
  TBitmap* GetFrameBitmap() const;
  TRenderingDiagnostics& GetDiagnostics() { return FDiagnostics; }
  bool GetDiagnosticsActive() const { return FDiagnostics.Enabled; }
  void SetDiagnosticsActive(bool Value) { FDiagnostics.Enabled = Value; }

  // ---- frame rate
  bool GetUseFixedFrameRate() const { return FUseFixedFrameRate; }
  virtual void SetUseFixedFrameRate(bool Value);
  int32_t GetFixedFrameRate() const { return FFixedFrameRate; }
  void SetFixedFrameRate(int32_t Value);
  bool GetVSync() const { return FVSync; }
  void SetVSync(bool Value);
  int32_t GetFrameRateStep() const { return FFrameRateStep; }
  void UpdateFrameRateStep();
  virtual void UpdateDisplayRefreshRate();
  double GetFPS() const;
  TQuorvelTimer* GetFrameTimer() const { return FFixedInterval; }

  // ---- settings and renderer
  TRendererType GetRendererType() const { return FRendererType; }
  void SetRendererType(TRendererType Value);
  TRenderer* GetCurrentRenderer();
  void SetCurrentRenderer(TRenderer* Value);
  TRenderer* GetMainPassRenderer() const { return FRenderer; }
  TContext3D* GetContext() override;
  TAlphaColor GetColor() const { return FFill; }
  void SetColor(TAlphaColor Value);
  TMultisample GetMultisample() const { return TMultisample::TwoSamples; }
  void SetMultisample(TMultisample) {}
  bool GetHighRes() const { return FHighRes; }
  // Anti-aliased points, lines and polygons in the context: True turns all three on, False
  // off; reads whether any is on. False without an engine context.
  bool GetSmooth();
  void SetSmooth(bool Value);
  void SetHighRes(bool Value);
  float GetNearPlane() const { return FNearPlane; }
  void SetNearPlane(float Value);
  float GetFarPlane() const { return FFarPlane; }
  void SetFarPlane(float Value);
  bool GetFog() const { return FFog.Enabled; }
  void SetFog(bool Value);
  // The fog mode bits of the context's fog settings; no published property.
  virtual uint8_t GetFogMode() const { return FFog.Mode; }
  virtual void SetFogMode(uint8_t Value);
  float GetFogDensity() const { return FFog.Density; }
  void SetFogDensity(float Value);
  float GetFogStart() const { return FFog.FogStart; }
  void SetFogStart(float Value);
  float GetFogEnd() const { return FFog.FogEnd; }
  void SetFogEnd(float Value);
  TAlphaColorF GetFogColorF() const { return FFog.Color; }
  TAlphaColor GetFogColor() const { return FFog.Color.ToAlphaColor(); }
  void SetFogColor(TAlphaColor Value) { SetFogColorF(TAlphaColorF(Value)); }
  void SetFogColorF(const TAlphaColorF& Value);
  const TPoint3D& GetSaturation() const { return FSaturation; }
  void SetSaturation(const TPoint3D& Value);
  float GetSaturationValue(int32_t AIndex) const;
  void SetSaturationValue(int32_t AIndex, float AValue);
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
  virtual void ApplyRenderSettings(TContext3D* AContext);
  virtual void ApplyLightSettings(TContext3D* AContext);
  virtual void UpdateRenderSettings();
  virtual void UpdateSharedRenderSettings();
  virtual void UpdateLightSettings();
  virtual void ResizeEffectContext();
  void ForceUpdateEffects() { Resize(); }
  const std::vector<TLight*>& GetLights() const { return FLights; }

  // ---- render-pass controllers (not owned)
  virtual void AddRenderPass(TObject* AController);
  virtual void RemoveRenderPass(TObject* AController);
  virtual void UpdateRenderPasses();
  virtual void UpdateRenderPassesOnResize();
  virtual void CleanupRenderPasses(TObject* AController);
  const std::vector<TObject*>& GetRenderPasses() const { return FRenderPasses; }

  // ---- cameras
  TCamera* GetCamera() const { return FCamera; }
  void SetCamera(TCamera* Value);
  TCamera* GetDesignCamera() const { return FDesignCamera; }
  TQuorvelSmoothCameraController* GetDesignCameraController() const { return FDesignCameraX; }
  bool GetUsingDesignCamera() override { return FUsingDesignCamera; }
  bool IsUsingDesignCamera() const { return FUsingDesignCamera; }
  void SetUsingDesignCamera(bool Value);
  bool GetEditMode() const { return FEditMode; }
  void SetEditMode(bool Value);
  virtual void ToggleEditMode();
  virtual void ResetDesignCamera();
  TPosition3D* GetDesignPosition() const { return FDesignPosition.get(); }
  TPosition3D* GetDesignRotationAngle() const { return FDesignRotationAngle.get(); }
  // Copies the value (its change events move the design camera's target).
  void SetDesignPosition(TPosition3D* Value) {
    if (Value) FDesignPosition->Assign(*Value);
  }
  void SetDesignRotationAngle(TPosition3D* Value) {
    if (Value) FDesignRotationAngle->Assign(*Value);
  }

  // ---- picking (points in form coordinates, as the form's mouse routing gives them)
  // The object of the rendering list nearest along the camera ray through P among those that
  // take hits and have a 3D mouse event; it alone gets OnMouseMove with the ray. Nil when
  // nothing is hit.
  virtual TControl3D* RayCastIntersect(const TPointF& P);
  // The 3D children under P (screen-projected ones first, then camera-projected, the nearest
  // of a pass winning), else the viewport; nil off the viewport. In the designer a part of a
  // model answers the model.
  IControl* ObjectAtPoint(const TPointF& P) override;
  // As ObjectAtPoint with the children's drop targets (visible children only).
  IControl* FindTarget(const TPointF& P, const TDragObject& AData) override;

  // ---- conversions and pictures
  virtual TPoint3D ScreenToWorld(const TPointF& APoint2D);
  virtual TPointF WorldToScreen(const TPoint3D& APoint3D);
  // The last rendered frame in a new bitmap the caller owns (no frame is rendered for it).
  TBitmap* MakeScreenshot();

  // ---- IViewport3D
  TFwObject* GetObject() override { return this; }
  TCamera* GetViewportCamera() override { return FCamera; }
  float GetViewportScale() override;
  int GetLightCount() override { return int(FLights.size()); }
  TLight* GetLight(int AIndex) override { return FLights.at(size_t(AIndex)); }
  TCamera* GetCurrentCamera() override;
  void SetViewportCamera(TCamera* AValue) override { SetCamera(AValue); }
  void AddLight(TLight* ALight) override { FLights.push_back(ALight); }
  void RemoveLight(TLight* ALight) override;
  TPointF ScreenToLocal(const TPointF& P) override { return TControl::ScreenToLocal(P); }
  TPointF LocalToScreen(const TPointF& P) override { return TControl::LocalToScreen(P); }
  void NeedRender() override {
    Repaint();
    UpdateEffects();
  }
  bool GetVisible() const override { return TControl::GetVisible(); }

protected:
  void Paint() override;
  void Resize() override;
  TRectF DoGetUpdateRect() const override;
  void DoAddObject(TFwObject* AObject) override;
  void DoRemoveObject(TFwObject* AObject) override;
  // No hits in edit mode, nor in the designer while the left Alt key is down.
  bool CheckHitTest(bool AHitTest) const override;
  // Whether an object of the rendering list is asked by RayCastIntersect: visible (in the
  // designer unless locked), taking hits, with a 3D mouse event, and inside AFrustumBox unless
  // it is a light, dummy, camera or skybox.
  virtual bool RayCastCandidate(TControl3D* AObject, const TBoundingBox& AFrustumBox);
  virtual void RecreateRenderer();
  virtual void DoScaleChanged();

private:
  void CollectRenderingList(TFwObject* AObject);
  void AddToRenderingList(TControl3D* AControl);
  void RenderList(bool AFilter, bool AOpaque);
  void DrawFrameBitmap();
  void PushCompositeSettings();
  bool Designing() const { return GetComponentState().Contains(csDesigning); }
  // The two passes of ObjectAtPoint and FindTarget over the children, last first.
  IControl* PickChildren(const std::function<IControl*(IControl*)>& AAsk, bool AInvisibleToo);
  // In the designer a mesh of a model stands for the model.
  IControl* ModelOfMesh(IControl* AResult) const;

  // frame loop
  std::vector<TControl3D*> FRenderingList;
  std::recursive_mutex FLock;
  int32_t FLockDepth = 0;
  TQuorvelTextureBitmap* FBitmap = nullptr;  // owned
  bool FDrawing = false;
  std::atomic<int32_t> FFixedRendering{0};
  bool FLockRendering = false;
  bool FManualRendering = false;
  bool FDoManualRender = false;
  bool FUseFixedFrameRate = true;
  double FRenderTime = 0;
  int32_t FRenderCycles = 0;
  double FFPS = 0;
  TQuorvelFrustum FFrustum;
  bool FUpdateFrustum = true;
  bool FFrustumCulling = true;
  TBoundingBox FSceneBounds{0, 0, 0, 128, 128, 128};
  IFwTimerService* FTimerService = nullptr;
  TRenderingDiagnostics FDiagnostics = TRenderingDiagnostics::Create(false);

  // frame rate
  int32_t FFixedFrameRate = 60;
  bool FVSync = false;
  int32_t FFrameRateStep = 16;
  TQuorvelTimer* FFixedInterval = nullptr;  // owned
  int FDisplayChangedId = 0;

  // settings
  TRendererType FRendererType = TRendererType::ForwardRenderer;
  TRenderer* FRenderer = nullptr;  // owned
  TRenderer* FCurrentRenderer = nullptr;
  TCamera* FCamera = nullptr;
  TAlphaColor FFill = TAlphaColor(0xFF000000);
  bool FUsingDesignCamera = true;
  std::vector<TLight*> FLights;
  std::vector<TObject*> FRenderPasses;
  int FScaleChangedId = 0;
  bool FHighRes = false;
  float FNearPlane = 0.1f;
  float FFarPlane = 10000;
  TQuorvelFogSettings FFog;
  TPoint3D FSaturation{0, 1.5f, 0};
  int32_t FEmissiveBlur = 0;
  int32_t FGlobalIllumDetail = 0;
  int32_t FXAASteps = 1;
  float FGlobalIllumSoftness = 1;
  float FShadowStrength = 0.4f;
  float FReflectionStrength = 0;

  // design camera
  TQuorvelSmoothCameraController* FDesignCameraX = nullptr;  // owned (component)
  TCamera* FDesignCamera = nullptr;                          // owned by the target
  TTimer* FDesignTimer = nullptr;
  // The framework's control kind, whose axes stream with the form.
  TOwned<TControlPosition3D> FDesignPosition;
  TOwned<TControlPosition3D> FDesignRotationAngle;
  bool FEditMode = false;
  bool FStoredUsingDesignCamera = true;
  bool FStoredFrustumCulling = true;
};

// The first parent of AObject (from its parent up) that is an AClass; nil when none.
TFwObject* FindParentOfClass(TFwObject* AObject, const TClass* AClass);
TFwObject* FindParentViewport(TFwObject* AObject);

}  // namespace quorvel
