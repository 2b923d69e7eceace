#include "lib/scene/CameraController.h"

#include "framework/rtl/Units.h"

#include <cmath>

#include "framework/classes/Filer.h"
#include "framework/gui3d/Context3D.h"
#include "framework/rtl/Finally.h"
#include "lib/scene/Viewport.h"
#include "lib/utils/UtilsMath.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelSmoothCameraController, "Quorvel.Camera")
void TQuorvelSmoothCameraController::Register(ClassBuilder<TQuorvelSmoothCameraController>& b) {
  b.Prop("Types", &Self::GetTypes, &Self::SetTypes)
      .Prop("ImpulseLimitRotate", &Self::GetAxis<&Self::FImpulseLimit, 0>, &Self::SetAxis<&Self::FImpulseLimit, 0>)
      .Prop("ImpulseLimitUpAndDown", &Self::GetAxis<&Self::FImpulseLimit, 1>, &Self::SetAxis<&Self::FImpulseLimit, 1>)
      .Prop("ImpulseLimitZoom", &Self::GetAxis<&Self::FImpulseLimit, 2>, &Self::SetAxis<&Self::FImpulseLimit, 2>)
      .Prop("IntensityRotate", &Self::GetAxis<&Self::FIntensity, 0>, &Self::SetAxis<&Self::FIntensity, 0>)
      .Prop("IntensityUpAndDown", &Self::GetAxis<&Self::FIntensity, 1>, &Self::SetAxis<&Self::FIntensity, 1>)
      .Prop("IntensityZoom", &Self::GetAxis<&Self::FIntensity, 2>, &Self::SetAxis<&Self::FIntensity, 2>)
      .Prop("DampingRotate", &Self::GetAxis<&Self::FDamping, 0>, &Self::SetAxis<&Self::FDamping, 0>)
      .Prop("DampingUpAndDown", &Self::GetAxis<&Self::FDamping, 1>, &Self::SetAxis<&Self::FDamping, 1>)
      .Prop("DampingZoom", &Self::GetAxis<&Self::FDamping, 2>, &Self::SetAxis<&Self::FDamping, 2>)
      .Prop("LimitRotationMin", &Self::GetBound<&Self::FLimitX, false>, &Self::SetBound<&Self::FLimitX, false>)
      .Prop("LimitRotationMax", &Self::GetBound<&Self::FLimitX, true>, &Self::SetBound<&Self::FLimitX, true>)
      .Prop("LimitUpAndDownMin", &Self::GetBound<&Self::FLimitY, false>, &Self::SetBound<&Self::FLimitY, false>)
      .Prop("LimitUpAndDownMax", &Self::GetBound<&Self::FLimitY, true>, &Self::SetBound<&Self::FLimitY, true>)
      .Prop("LimitZoomMin", &Self::GetBound<&Self::FLimitZ, false>, &Self::SetBound<&Self::FLimitZ, false>)
      .Prop("LimitZoomMax", &Self::GetBound<&Self::FLimitZ, true>, &Self::SetBound<&Self::FLimitZ, true>)
      .Prop("ShiftImpulseLimit", &Self::GetShiftImpulseLimit, &Self::SetShiftImpulseLimit)
      .Prop("ShiftDamping", &Self::GetShiftDamping, &Self::SetShiftDamping)
      .Prop("ShiftIntensity", &Self::GetShiftIntensity, &Self::SetShiftIntensity)
      .Prop("Camera", &Self::GetCamera, &Self::SetCamera)
      .Prop("Viewport", &Self::GetViewport3D, &Self::SetViewport3D)
      .Prop("ShowController", &Self::GetShowController, &Self::SetShowController)
      .Prop("Interval", &Self::GetInterval, &Self::SetInterval)
      .Prop("Enabled", &Self::GetEnabled, &Self::SetEnabled)
      .Prop("OnBeforeModify", [](const Self* c) { return c->OnBeforeModify; },
            [](Self* c, const TOnCameraControllerEvent& e) { c->OnBeforeModify = e; })
      .Prop("OnAfterModify", [](const Self* c) { return c->OnAfterModify; },
            [](Self* c, const TOnCameraControllerEvent& e) { c->OnAfterModify = e; });
}

TQuorvelSmoothCameraController::TQuorvelSmoothCameraController(TComponent* AOwner) : TDummy(AOwner) {
  FOnInternalMouseDown = TMouseEvent::Method(this, &Self::DoMouseDown);
  FOnInternalMouseUp = TMouseEvent::Method(this, &Self::DoMouseUp);
  FOnInternalMouseMove = TMouseMoveEvent::Method(this, &Self::DoMouseMove);
  FOnInternalMouseWheel = TMouseWheelEvent::Method(this, &Self::DoMouseWheel);
  FTimer = New<TTimer>(this);
  FTimer->SetStored(false);
  FTimer->SetInterval(33);
  FTimer->SetOnTimer(TNotifyEvent::Method(this, &Self::DoTimerStep));
  FStopWatch = TStopwatch::StartNew();
}

TQuorvelSmoothCameraController::~TQuorvelSmoothCameraController() = default;

void TQuorvelSmoothCameraController::BeforeDestruction() {
  if (FViewport) {
    Release(FViewport);
    FViewport->RemoveFreeNotification(this);
    FViewport = nullptr;
  }
  if (FCamera) FCamera->RemoveFreeNotification(this);
  FCamera = nullptr;
  if (FTimer) {
    FTimer->SetEnabled(false);
    FreeQuietlyAndNil(FTimer, "camera controller timer");
  }
  TDummy::BeforeDestruction();
}

void TQuorvelSmoothCameraController::Notification(TComponent* AComponent, TOperation Operation) {
  TDummy::Notification(AComponent, Operation);
  if (Operation != opRemove) return;
  if (AComponent == FCamera) FCamera = nullptr;
  if (AComponent == FTimer) FTimer = nullptr;
  if (FViewport && AComponent == FViewport) SetViewport3D(nullptr);
}

void TQuorvelSmoothCameraController::SetCamera(TCamera* Value) {
  if (FCamera && FCamera != Value) FCamera->RemoveFreeNotification(this);
  FCamera = Value;
  if (!Value) return;
  Value->FreeNotification(this);
  Value->SetParent(this);
  Value->SetTarget(this);
  if (Point3DIsZero(Value->GetPosition()->GetPoint(), 1e-7f)) Value->GetPosition()->SetPoint({0, -10, -25});
}

void TQuorvelSmoothCameraController::SetViewport3D(TControl* Value) {
  if (Value && !Value->Is<TQuorvelViewport>()) return;
  if (Value == FViewport) return;
  if (FViewport) {
    Release(FViewport);
    FViewport->RemoveFreeNotification(this);
  }
  FViewport = Value;
  if (FViewport) {
    FViewport->FreeNotification(this);
    TakeOver(FViewport);
  }
}

void TQuorvelSmoothCameraController::TakeOver(TControl* AViewport) {
  FOnStoredMouseDown = AViewport->OnMouseDown;
  FOnStoredMouseUp = AViewport->OnMouseUp;
  FOnStoredMouseMove = AViewport->OnMouseMove;
  FOnStoredMouseWheel = AViewport->OnMouseWheel;
  AViewport->OnMouseDown = FOnInternalMouseDown;
  AViewport->OnMouseUp = FOnInternalMouseUp;
  AViewport->OnMouseMove = FOnInternalMouseMove;
  AViewport->OnMouseWheel = FOnInternalMouseWheel;
}

void TQuorvelSmoothCameraController::Release(TControl* AViewport) {
  // A handler the application put in place after the take-over stays.
  if (AViewport->OnMouseDown.SameMethod(FOnInternalMouseDown)) AViewport->OnMouseDown = FOnStoredMouseDown;
  if (AViewport->OnMouseUp.SameMethod(FOnInternalMouseUp)) AViewport->OnMouseUp = FOnStoredMouseUp;
  if (AViewport->OnMouseMove.SameMethod(FOnInternalMouseMove)) AViewport->OnMouseMove = FOnStoredMouseMove;
  if (AViewport->OnMouseWheel.SameMethod(FOnInternalMouseWheel)) AViewport->OnMouseWheel = FOnStoredMouseWheel;
  FOnStoredMouseDown.Clear();
  FOnStoredMouseUp.Clear();
  FOnStoredMouseMove.Clear();
  FOnStoredMouseWheel.Clear();
}

uint32_t TQuorvelSmoothCameraController::GetInterval() const { return FTimer ? FTimer->GetInterval() : 0; }

void TQuorvelSmoothCameraController::SetInterval(uint32_t Value) {
  if (FTimer) FTimer->SetInterval(Value);
}

bool TQuorvelSmoothCameraController::GetEnabled() const { return FTimer && FTimer->GetEnabled(); }

void TQuorvelSmoothCameraController::SetEnabled(bool Value) {
  if (!FTimer || FTimer->GetEnabled() == Value) return;
  FTimer->SetEnabled(Value);
  if (Value) {
    FStopWatch.Reset();
    FStopWatch.Start();
  }
}

void TQuorvelSmoothCameraController::AddImpulse(const TPointF& AOfs) {
  FImpulse.X += AOfs.X;
  FImpulse.Y -= AOfs.Y;
}

void TQuorvelSmoothCameraController::AddXImpulse(float AAngle) { FImpulse.X += AAngle; }

void TQuorvelSmoothCameraController::AddYImpulse(float AAngle) { FImpulse.Y -= AAngle; }

void TQuorvelSmoothCameraController::Zoom(float AStrength) { FImpulse.Z += AStrength; }

void TQuorvelSmoothCameraController::Shift(const TPoint3D& AOfs) { FShiftImpulse = FShiftImpulse + AOfs; }

float TQuorvelSmoothCameraController::StepAxis(TQuorvelSmoothCameraControlType AType, float& AImpulse, float AValue,
                                               float ALimit, float ADamping, float AIntensity, const TPointF& ARange,
                                               bool AWrap) {
  OnBeforeModify(this, AType, AValue);
  const float s = AImpulse > 0 ? 1.0f : AImpulse < 0 ? -1.0f : 0.0f;
  if (std::fabs(AImpulse) > ALimit) AImpulse = s * ALimit;
  // ln 0 is -inf, and 0 × -inf is NaN.
  const float dec = AImpulse == 0 ? 0.0f : s * std::log(std::fabs(AImpulse)) * ADamping;
  AImpulse -= dec;
  float value = AValue + s * AIntensity * std::sqrt(std::fabs(dec));
  if (AWrap) {
    value -= std::trunc(value / 360) * 360;
    if (value < 0) value += 360;
  }
  float result = ClampSingle(value, ARange.X, ARange.Y);
  OnAfterModify(this, AType, result);
  return result;
}

void TQuorvelSmoothCameraController::DoTimerStep(TObject*) {
  if (!FCamera || FIsUpdating) return;
  TControl* viewport = FViewport;
  if (viewport) viewport->BeginUpdate();
  BeginUpdate();
  FIsUpdating = true;
  auto done = Finally([&] {
    FIsUpdating = false;
    EndUpdate();
    if (viewport) viewport->EndUpdate();
  });
  const float dt = float(FStopWatch.GetElapsedMilliseconds()) / 1000.0f;
  FStopWatch.Reset();
  FStopWatch.Start();

  TPoint3D shift;
  const TQuorvelSmoothCameraControlType shiftTypes[3] = {scctShiftX, scctShiftY, scctShiftZ};
  float* impulses[3] = {&FShiftImpulse.X, &FShiftImpulse.Y, &FShiftImpulse.Z};
  float* shifts[3] = {&shift.X, &shift.Y, &shift.Z};
  for (int i = 0; i < 3; ++i)
    if (FTypes.Contains(shiftTypes[i]) && std::fabs(*impulses[i]) >= FShiftDamping + 0.01f)
      *shifts[i] = StepAxis(shiftTypes[i], *impulses[i], 0, FShiftImpulseLimit, FShiftDamping, FShiftIntensity * dt,
                            {-1000, 1000}, false);
  const TVector3D offset =
      FCamera->GetAbsoluteLeft() * shift.X + FCamera->GetAbsoluteDirection() * shift.Z + FCamera->GetAbsoluteUp() * shift.Y;
  GetPosition()->SetPoint(GetPosition()->GetPoint() + TPoint3D(offset.X, offset.Y, offset.Z));

  if (FTypes.Contains(scctRotateY) && std::fabs(FImpulse.X) >= FDamping.X * 2 + 0.01f)
    GetRotationAngle()->SetY(StepAxis(scctRotateY, FImpulse.X, GetRotationAngle()->GetY(), FImpulseLimit.X,
                                      FDamping.X, FIntensity.X * dt, FLimitX, true));
  if (FTypes.Contains(scctMoveY) && std::fabs(FImpulse.Y) >= FDamping.Y + 0.01f)
    FCamera->GetPosition()->SetY(StepAxis(scctMoveY, FImpulse.Y, FCamera->GetPosition()->GetY(), FImpulseLimit.Y,
                                          FDamping.Y, FIntensity.Y * dt, FLimitY, false));
  if (FTypes.Contains(scctZoom) && std::fabs(FImpulse.Z) >= FDamping.Z + 0.01f)
    FCamera->GetPosition()->SetZ(StepAxis(scctZoom, FImpulse.Z, FCamera->GetPosition()->GetZ(), FImpulseLimit.Z,
                                          FDamping.Z, FIntensity.Z * dt, FLimitZ, false));
}

void TQuorvelSmoothCameraController::DoMouseDown(TObject* Sender, TMouseButton Button, TShiftState Shift, float X,
                                                 float Y) {
  FMouseMove = true;
  FLastMousePos = TPointF(X, Y);
  FOnStoredMouseDown(Sender, Button, Shift, X, Y);
}

void TQuorvelSmoothCameraController::DoMouseUp(TObject* Sender, TMouseButton Button, TShiftState Shift, float X,
                                               float Y) {
  FMouseMove = false;
  FOnStoredMouseUp(Sender, Button, Shift, X, Y);
}

void TQuorvelSmoothCameraController::DoMouseMove(TObject* Sender, TShiftState AShift, float X, float Y) {
  if (FMouseMove) {
    const TPointF delta(X - FLastMousePos.X, Y - FLastMousePos.Y);
    if (AShift.Contains(ssLeft))
      AddImpulse(delta);
    else if (AShift.Contains(ssRight))
      Shift(AShift.Contains(ssShift) ? TPoint3D(delta.X, delta.Y, 0) : TPoint3D(delta.X, 0, -delta.Y));
  }
  FLastMousePos = TPointF(X, Y);
  FOnStoredMouseMove(Sender, AShift, X, Y);
}

void TQuorvelSmoothCameraController::DoMouseWheel(TObject* Sender, TShiftState AShift, int32_t WheelDelta,
                                                  bool& Handled) {
  Zoom(float(WheelDelta) * (AShift.Contains(ssShift) ? 2.0f : 0.15f));
  Handled = true;
  FOnStoredMouseWheel(Sender, AShift, WheelDelta, Handled);
}

void TQuorvelSmoothCameraController::Render() {
  if (!FShowController && !IsDesigning()) return;
  TContext3D* ctx = GetContext();
  if (!ctx || !ctx->Valid()) return;
  // A broken gizmo must not stop the frame.
  try {
    ctx->DrawCube({0, 0, 0}, {GetWidth() / 8, GetHeight() / 8, GetDepth() / 8}, 1, TAlphaColor(0xFFFFFFFF));
    ctx->DrawCube({0, 0, 0}, {GetWidth() / 4, GetHeight() / 4, GetDepth() / 4}, 1, TAlphaColor(0xFFFF0000));
  } catch (const std::exception&) {
  }
}

}  // namespace quorvel
