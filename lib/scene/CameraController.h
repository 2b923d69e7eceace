#pragma once
// TQuorvelSmoothCameraController: a dummy a camera hangs from and looks at. Mouse input on a
// viewport adds impulses (left drag turns, right drag shifts, the wheel zooms); a timer step
// turns them into damped movements: the controller turns about its Y axis, the camera moves
// up and down and in and out relative to it, and the controller shifts along the camera's
// axes. Each step an impulse shrinks by damping × ln |impulse| and its value moves by the
// square root of that decrement.
//
// While attached to a viewport the controller holds its four mouse events; handlers the
// viewport had before still run after the controller's own handling, and releasing puts back
// only events that still hold the controller's handlers.
//
// Fault mended: a zero impulse takes no logarithm (a damping of 0 or below let it through to
// ln 0, and every value became NaN). Kept: impulses under 1 grow towards 1 (their logarithm is
// negative).
#include <cstdint>

#include "framework/gui/Control.h"
#include "framework/gui/Timer.h"
#include "framework/gui3d/Camera.h"
#include "framework/gui3d/Dummy.h"
#include "framework/rtl/Enum.h"
#include "framework/rtl/Set.h"
#include "framework/rtl/Stopwatch.h"

namespace quorvel {

enum TQuorvelSmoothCameraControlType : uint8_t { scctRotateY, scctMoveY, scctZoom, scctShiftX, scctShiftY, scctShiftZ };
FW_ENUM(TQuorvelSmoothCameraControlType, scctRotateY, scctMoveY, scctZoom, scctShiftX, scctShiftY, scctShiftZ)
using TQuorvelSmoothCameraControlTypes = TSet<TQuorvelSmoothCameraControlType>;

using TOnCameraControllerEvent =
    TEvent<void(TObject* ASender, TQuorvelSmoothCameraControlType AType, float& AValue)>;

class TQuorvelSmoothCameraController : public TDummy {
  FW_CLASS(TQuorvelSmoothCameraController, TDummy)

public:
  // Starts its 33 ms step timer and its stopwatch.
  explicit TQuorvelSmoothCameraController(TComponent* AOwner);
  ~TQuorvelSmoothCameraController() override;
  void BeforeDestruction() override;
  void Notification(TComponent* AComponent, TOperation Operation) override;
  // The gizmo: at run time only with ShowController.
  void Render() override;

  // One step; the timer's handler. Nothing without a camera or while a step runs.
  virtual void DoTimerStep(TObject* Sender);

  TCamera* GetCamera() const { return FCamera; }
  // Hangs the camera from the controller and aims it there; a camera at the origin moves to
  // (0, -10, -25).
  virtual void SetCamera(TCamera* Value);
  // The viewport whose mouse steers (only a TQuorvelViewport is taken; anything else is
  // ignored). Named apart from the 3D viewport every 3D control lies in.
  TControl* GetViewport3D() const { return FViewport; }
  virtual void SetViewport3D(TControl* Value);
  virtual uint32_t GetInterval() const;
  virtual void SetInterval(uint32_t Value);
  virtual bool GetEnabled() const;
  // Enabling restarts the stopwatch: the first step sees only the time since then.
  virtual void SetEnabled(bool Value);

  // X turn, Y up and down (a drag upwards is negative Y on screen: subtracted).
  virtual void AddImpulse(const TPointF& AOfs);
  virtual void AddXImpulse(float AAngle);
  virtual void AddYImpulse(float AAngle);
  virtual void Zoom(float AStrength);
  virtual void Shift(const TPoint3D& AOfs);

  const TPoint3D& GetImpulse() const { return FImpulse; }
  void SetImpulse(const TPoint3D& Value) { FImpulse = Value; }
  const TPoint3D& GetShiftImpulse() const { return FShiftImpulse; }
  void SetShiftImpulse(const TPoint3D& Value) { FShiftImpulse = Value; }

  TQuorvelSmoothCameraControlTypes GetTypes() const { return FTypes; }
  void SetTypes(TQuorvelSmoothCameraControlTypes Value) { FTypes = Value; }
  bool GetShowController() const { return FShowController; }
  void SetShowController(bool Value) { FShowController = Value; }
  // Per movement: X turn, Y up and down, Z zoom.
  const TPoint3D& GetImpulseLimit() const { return FImpulseLimit; }
  void SetImpulseLimit(const TPoint3D& Value) { FImpulseLimit = Value; }
  const TPoint3D& GetIntensity() const { return FIntensity; }
  void SetIntensity(const TPoint3D& Value) { FIntensity = Value; }
  const TPoint3D& GetDamping() const { return FDamping; }
  void SetDamping(const TPoint3D& Value) { FDamping = Value; }
  // (minimum, maximum) of the turn angle, the camera's Y and the camera's Z.
  const TPointF& GetLimitX() const { return FLimitX; }
  void SetLimitX(const TPointF& Value) { FLimitX = Value; }
  const TPointF& GetLimitY() const { return FLimitY; }
  void SetLimitY(const TPointF& Value) { FLimitY = Value; }
  const TPointF& GetLimitZ() const { return FLimitZ; }
  void SetLimitZ(const TPointF& Value) { FLimitZ = Value; }
  float GetShiftImpulseLimit() const { return FShiftImpulseLimit; }
  void SetShiftImpulseLimit(float Value) { FShiftImpulseLimit = Value; }
  float GetShiftDamping() const { return FShiftDamping; }
  void SetShiftDamping(float Value) { FShiftDamping = Value; }
  float GetShiftIntensity() const { return FShiftIntensity; }
  void SetShiftIntensity(float Value) { FShiftIntensity = Value; }

  TOnCameraControllerEvent OnBeforeModify;
  TOnCameraControllerEvent OnAfterModify;

protected:
  // The axis step: the new value of one movement; AImpulse decays in place.
  float StepAxis(TQuorvelSmoothCameraControlType AType, float& AImpulse, float AValue, float ALimit, float ADamping,
                 float AIntensity, const TPointF& ARange, bool AWrap);

  void DoMouseDown(TObject* Sender, TMouseButton Button, TShiftState Shift, float X, float Y);
  void DoMouseUp(TObject* Sender, TMouseButton Button, TShiftState Shift, float X, float Y);
  void DoMouseMove(TObject* Sender, TShiftState Shift, float X, float Y);
  void DoMouseWheel(TObject* Sender, TShiftState Shift, int32_t WheelDelta, bool& Handled);

private:
  // Published per-axis and per-bound views of the point fields.
  template <TPoint3D TQuorvelSmoothCameraController::*F, int A>
  float GetAxis() const {
    return A == 0 ? (this->*F).X : A == 1 ? (this->*F).Y : (this->*F).Z;
  }
  template <TPoint3D TQuorvelSmoothCameraController::*F, int A>
  void SetAxis(float Value) {
    (A == 0 ? (this->*F).X : A == 1 ? (this->*F).Y : (this->*F).Z) = Value;
  }
  template <TPointF TQuorvelSmoothCameraController::*F, bool AMax>
  float GetBound() const {
    return AMax ? (this->*F).Y : (this->*F).X;
  }
  template <TPointF TQuorvelSmoothCameraController::*F, bool AMax>
  void SetBound(float Value) {
    (AMax ? (this->*F).Y : (this->*F).X) = Value;
  }

  void TakeOver(TControl* AViewport);
  void Release(TControl* AViewport);

  TCamera* FCamera = nullptr;    // not owned
  TControl* FViewport = nullptr;  // not owned
  TTimer* FTimer = nullptr;       // owned
  TStopwatch FStopWatch;
  bool FShowController = false;
  TQuorvelSmoothCameraControlTypes FTypes{scctRotateY, scctMoveY, scctZoom, scctShiftX, scctShiftY, scctShiftZ};
  TPoint3D FImpulse;
  TPoint3D FImpulseLimit{75, 50, 50};
  TPoint3D FIntensity{15, 1, 1};
  TPoint3D FDamping{1.5f, 1.5f, 1};
  TPointF FLimitX{0, 360};
  TPointF FLimitY{-10, 10};
  TPointF FLimitZ{-100, -1};
  TPoint3D FShiftImpulse;
  float FShiftImpulseLimit = 65;
  float FShiftDamping = 1.5f;
  float FShiftIntensity = 0.5f;
  bool FIsUpdating = false;
  bool FMouseMove = false;
  TPointF FLastMousePos;
  TMouseEvent FOnInternalMouseUp, FOnInternalMouseDown;
  TMouseMoveEvent FOnInternalMouseMove;
  TMouseWheelEvent FOnInternalMouseWheel;
  TMouseEvent FOnStoredMouseUp, FOnStoredMouseDown;
  TMouseMoveEvent FOnStoredMouseMove;
  TMouseWheelEvent FOnStoredMouseWheel;
};

}  // namespace quorvel
