#pragma once
// TControl3D: the 3D node of a scene (position, rotation, scale, size, flags, rendering and
// picking hooks), the interface IViewport3D, and the published position object.
//
// IControl (framework/gui/Control.h) is the mouse interface of 2D and 3D controls alike: a
// 3D control answers ObjectAtPoint by a pick ray through its viewport and fires its 3D mouse
// events with that ray.
//
// Transform rules:
// - The rotation is held as a quaternion. Setting an angle of RotationAngle multiplies the
//   quaternion by the turn about that axis by the normalised delta from the angle saved at the
//   last turn (q := q x Create(axis, delta)), so rotations compose about the control's axes as
//   turned so far, and setting an angle back does not undo a turn unless the deltas cancel.
// - Local matrix (row vectors, first factor acts first): scaling(Scale) when a component
//   differs from 1 by more than 1e-4; the quaternion's rotation, about RotationCenter when a
//   component of it differs from 0 by more than 0.001; translation(Position) when a component
//   differs from 0 by more than 0.001. With all three angles within 1e-4 of 0 the quaternion
//   and the saved angles are reset and no rotation applies.
// - The quaternion's matrix turns row vectors by +angle about the axis, as
//   TMatrix3D::CreateRotation does (QuaternionToRotationMatrix).
// - AbsoluteMatrix = LocalMatrix x parent's AbsoluteMatrix (3D parents only), cached; a change
//   marks the control and its 3D descendants for recomputation.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "framework/classes/Events.h"
#include "framework/classes/FwObject.h"
#include "framework/gui/Control.h"
#include "framework/math/BoundingBox.h"
#include "framework/math/Matrix3D.h"
#include "framework/math/Point.h"
#include "framework/math/Point3D.h"
#include "framework/math/Position3D.h"
#include <functional>

#include "framework/math/Quaternion3D.h"
#include "framework/rtl/Enum.h"

namespace quorvel {

class TContext3D;
class TCamera;
class TLight;
class TControl3D;
class TProxyObject;

// Ordinals are streamed: keep them.
enum class TProjection : uint8_t { Camera = 0, Screen = 1 };
FW_ENUM(TProjection, Camera, Screen)

// What a 3D control asks of the 2D control that hosts its scene.
class IViewport3D {
public:
  virtual ~IViewport3D() = default;
  virtual TFwObject* GetObject() = 0;
  virtual TContext3D* GetContext() = 0;
  virtual bool GetUsingDesignCamera() = 0;
  virtual TCamera* GetViewportCamera() = 0;
  virtual float GetViewportScale() = 0;
  virtual int GetLightCount() = 0;
  virtual TLight* GetLight(int AIndex) = 0;
  virtual TCamera* GetCurrentCamera() = 0;
  virtual void SetViewportCamera(TCamera* AValue) = 0;
  virtual void AddLight(TLight* ALight) = 0;
  virtual void RemoveLight(TLight* ALight) = 0;
  virtual TPointF ScreenToLocal(const TPointF& P) = 0;
  virtual TPointF LocalToScreen(const TPointF& P) = 0;
  // A redraw request.
  virtual void NeedRender() = 0;
};

// The position objects of 3D controls, registered so that property paths such as
// "Position.X" reach the point's components.
class TControlPosition3D : public TPosition3D {
  FW_CLASS(TControlPosition3D, TPosition3D)

public:
  explicit TControlPosition3D(const TPoint3D& ADefaultValue = {}) : TPosition3D(ADefaultValue) {}
};

// "(x,y,z,w)" with the run-time's float text, as the "Quanternion" stream value holds it.
std::string QuaternionToText(const TQuaternion3D& AValue);
// Raises EConvertError for text that is not four finite numbers in parentheses. A zero
// quaternion reads as the identity.
TQuaternion3D TextToQuaternion(std::string_view AText);
// The row-vector rotation matrix of a quaternion: Create(axis, a) turns by +a about axis.
TMatrix3D QuaternionToRotationMatrix(const TQuaternion3D& AValue);

// The rotation step of RotationAngle: the change of an angle since ASaved, wrapped into
// [0, 360), turns AQuaternion about that axis (composed in the order applied); the angle is
// then read back wrapped. A whole-point change turns X, Y, Z in this order and calls
// AMatrixChanged once at the end. False when nothing turned.
bool AccumulateAxisRotation(TQuaternion3D& AQuaternion, TPoint3D& ASaved, TPosition3D& AAngles, int AAxis,
                            const std::function<void()>& AMatrixChanged);
bool AccumulateRotation(TQuaternion3D& AQuaternion, TPoint3D& ASaved, TPosition3D& AAngles,
                        const std::function<void()>& AMatrixChanged);

using TRenderEvent = TEvent<void(TObject* Sender, TContext3D* Context)>;
// Mouse events of 3D controls: X, Y local to the viewport, and the absolute pick ray.
using TMouseEvent3D = TEvent<void(TObject* Sender, TMouseButton Button, TShiftState Shift, float X, float Y,
                                  TVector3D RayPos, TVector3D RayDir)>;
using TMouseMoveEvent3D =
    TEvent<void(TObject* Sender, TShiftState Shift, float X, float Y, TVector3D RayPos, TVector3D RayDir)>;

class TControl3D : public TFwObject, public IControl {
  FW_CLASS(TControl3D, TFwObject)

public:
  explicit TControl3D(TComponent* AOwner);
  ~TControl3D() override;

  void BeforeDestruction() override;
  void DefineProperties(TFiler* Filer) override;

  // IControl. ObjectAtPoint: the children, last first (every one is asked; the lowest index
  // that answers wins), else this control when its pick ray through P hits it nearer than
  // the global pick distance, for the global pick projection. ScreenToLocal: the viewport's.
  TFwObject* GetObject() override { return this; }
  bool GetVisible() const override { return FVisible; }
  IControl* ObjectAtPoint(const TPointF& P) override;
  // As ObjectAtPoint, asking the children for their drop targets.
  IControl* FindTarget(const TPointF& P, const TDragObject& AData) override;
  TPointF ScreenToLocal(const TPointF& P) const override;
  void MouseDown(TMouseButton Button, TShiftState Shift, float X, float Y) override;
  void MouseMove(TShiftState Shift, float X, float Y) override;
  void MouseUp(TMouseButton Button, TShiftState Shift, float X, float Y) override;
  void MouseWheel(TShiftState Shift, int32_t WheelDelta, bool& Handled) override {}
  void MouseClick(TMouseButton Button, TShiftState Shift, float X, float Y) override {}

  TMouseEvent3D OnMouseDown;
  TMouseMoveEvent3D OnMouseMove;
  TMouseEvent3D OnMouseUp;

  // Transform objects, owned by the control; setting copies the point (with notification).
  TPosition3D* GetPosition() const { return FPosition.get(); }
  void SetPosition(TPosition3D* Value);
  TPosition3D* GetRotationAngle() const { return FRotationAngle.get(); }
  void SetRotationAngle(TPosition3D* Value);
  TPosition3D* GetScale() const { return FScale.get(); }
  void SetScale(TPosition3D* Value);
  TPosition3D* GetRotationCenter() const { return FRotationCenter.get(); }
  void SetRotationCenter(TPosition3D* Value);

  // The stored rotation. SetQuaternion stores it as given and rebuilds the local matrix (the
  // reset rule still applies when all angles are near zero).
  const TQuaternion3D& GetQuaternion() const { return FQuaternion; }
  void SetQuaternion(const TQuaternion3D& Value);
  // For the engine's own matrix routines, which write these without any rebuild.
  void SetQuaternionNoChange(const TQuaternion3D& Value) { FQuaternion = Value; }
  const TPoint3D& GetSavedRotationAngle() const { return FSavedRotationAngle; }
  void SetSavedRotationAngle(const TPoint3D& Value) { FSavedRotationAngle = Value; }
  const TMatrix3D& GetLocalMatrix() const { return FLocalMatrix; }
  // Stores the matrix as it is and marks the absolute matrices (no repaint, no list rebuild).
  void SetLocalMatrix(const TMatrix3D& Value);

  // Rebuilds the local matrix from Position, the quaternion (with RotationCenter) and Scale,
  // marks the absolute matrices, rebuilds the rendering list and repaints. Nothing while the
  // control is being destroyed.
  virtual void MatrixChanged(TObject* Sender);
  // No rotation: identity quaternion, zero saved and shown angles, then MatrixChanged.
  virtual void ResetRotationAngle();
  // Marks the absolute matrices of this control and of its 3D descendants.
  void RecalcAbsolute();

  const TMatrix3D& GetAbsoluteMatrix() const;
  const TMatrix3D& GetInvertAbsoluteMatrix() const;
  // The control's origin in absolute space (W = 1).
  TVector3D GetAbsolutePosition() const;
  // Moves the control so that its origin lies at the absolute point AValue (divided by W).
  void SetAbsolutePosition(const TVector3D& AValue);
  // Unit directions of the local X, Y and Z axes in absolute space (W = 0).
  TVector3D GetAbsoluteLeft() const;
  TVector3D GetAbsoluteUp() const;
  TVector3D GetAbsoluteDirection() const;
  // Homogeneous transforms with W as given (W = 1 for points, 0 for directions).
  TVector3D AbsoluteToLocalVector(const TVector3D& AValue) const;
  TVector3D LocalToAbsoluteVector(const TVector3D& AValue) const;
  // Directions: W is taken as 0.
  TVector3D AbsoluteToLocalDirection(const TVector3D& AValue) const;
  TVector3D LocalToAbsoluteDirection(const TVector3D& AValue) const;
  TPoint3D AbsoluteToLocal(const TPoint3D& AValue) const;
  TPoint3D LocalToAbsolute(const TPoint3D& AValue) const;
  // The size box (±Width/2, ±Height/2, ±Depth/2) and the box around its eight corners in
  // absolute space.
  TBoundingBox GetLocalBounds() const;
  TBoundingBox GetGlobalBounds() const;

  // Size. The setters call Resize3D and repaint when the value changes.
  float GetWidth() const { return FWidth; }
  virtual void SetWidth(float Value);
  float GetHeight() const { return FHeight; }
  virtual void SetHeight(float Value);
  float GetDepth() const { return FDepth; }
  virtual void SetDepth(float Value);

  bool GetOpaque() const { return FOpaque; }
  void SetOpaque(bool Value);
  float GetOpacity() const { return FOpacity; }
  // Clamped to [0, 1]; NaN reads as 1.
  void SetOpacity(float Value);
  // Opacity times the absolute opacity of the 3D parent.
  float GetAbsoluteOpacity() const;
  virtual void SetVisible(bool Value);
  bool GetHitTest() const { return FHitTest; }
  void SetHitTest(bool Value) { FHitTest = Value; }
  bool GetLocked() const { return FLocked; }
  void SetLocked(bool Value) { FLocked = Value; }
  bool GetDesignLocked() const { return FDesignLocked; }
  void SetDesignLocked(bool Value) { FDesignLocked = Value; }
  TProjection GetProjection() const { return FProjection; }
  virtual void SetProjection(TProjection Value);
  bool GetTwoSide() const { return FTwoSide; }
  void SetTwoSide(bool Value);
  bool GetZWrite() const { return FZWrite; }
  void SetZWrite(bool Value);

  // The viewport the control lies in (through its parents) and that viewport's context.
  IViewport3D* GetViewport() const { return FViewport; }
  TContext3D* GetContext() const;
  // Sets the viewport of this control and of its 3D descendants.
  virtual void SetNewViewport(IViewport3D* AViewport);

  // Repaint requests are held back while updating.
  void BeginUpdate() { ++FUpdating; }
  void EndUpdate();
  bool IsUpdating() const { return FUpdating > 0; }
  // Asks the viewport for a redraw.
  void Repaint();

  // Draws the control with its context: Render, OnRender, then the children (RenderChildren).
  // Nothing without a context.
  void RenderInternal();
  // The control's own drawing; nothing here.
  virtual void Render() {}
  const TRenderEvent& GetOnRender() const { return FOnRender; }
  void SetOnRender(const TRenderEvent& Value) { FOnRender = Value; }

  // The direct 3D children to draw in RenderChildren: opaque ones first, each group in child
  // order.
  const std::vector<TControl3D*>& GetRenderingList() const { return FRenderingList; }
  void RebuildRenderingList();
  void ClearRenderingList() { FRenderingList.clear(); }

  // Ray cast in local space; the hit is answered in absolute space. The default hits the size
  // box (the nearest face in front of the ray start, or the exit face from inside).
  bool RayCastIntersect(const TPoint3D& RayPos, const TPoint3D& RayDir, TPoint3D& Intersection);
  // Whether the control takes hits: at run time AHitTest; at design time when it is visible,
  // not locked and not design-locked.
  virtual bool CheckHitTest(bool AHitTest) const;

  // Shared by one pick pass over a scene: the nearest hit distance so far and the projection
  // being picked.
  static float GetGlobalDistance();
  static void SetGlobalDistance(float Value);
  static TProjection GetGlobalProjection();
  static void SetGlobalProjection(TProjection Value);

protected:
  // Rotation handlers of RotationAngle: the whole point, and one axis.
  virtual void RotationChanged(TObject* Sender);
  virtual void RotationXChanged(TObject* Sender);
  virtual void RotationYChanged(TObject* Sender);
  virtual void RotationZChanged(TObject* Sender);
  // After Width, Height or Depth changed.
  virtual void Resize3D() {}
  virtual void RenderChildren();
  virtual bool DoRayCastIntersect(const TPoint3D& RayPos, const TPoint3D& RayDir, TPoint3D& Intersection);
  // Fills the absolute pick ray through the viewport point P (local to the viewport).
  // False when there is no context to ask.
  virtual bool PickRay(const TPointF& P, TVector3D& RayPos, TVector3D& RayDir);

  void DoAddObject(TFwObject* AObject) override;
  void DoInsertObject(int Index, TFwObject* AObject) override;
  void DoRemoveObject(TFwObject* AObject) override;
  void ParentChanged() override;

  TControl3D* ParentControl3D() const;
  bool IsDesigning() const { return GetComponentState().Contains(csDesigning); }

  IViewport3D* FViewport = nullptr;

private:
  friend class TProxyObject;

  TMatrix3D BuildLocalMatrix();
  IControl* PickChildrenOrSelf(const TPointF& P, const std::function<IControl*(IControl*)>& AAskChild);
  void RotateAxis(int AAxis);
  void ChildAdded(TFwObject* AObject);

  TOwned<TControlPosition3D> FPosition;
  TOwned<TControlPosition3D> FRotationAngle;
  TOwned<TControlPosition3D> FScale;
  TOwned<TControlPosition3D> FRotationCenter;
  TQuaternion3D FQuaternion;
  TPoint3D FSavedRotationAngle;
  TMatrix3D FLocalMatrix = TMatrix3D::Identity();
  mutable TMatrix3D FAbsoluteMatrix = TMatrix3D::Identity();
  mutable TMatrix3D FInvAbsoluteMatrix = TMatrix3D::Identity();
  mutable bool FRecalcAbsolute = true;

  float FWidth = 1;
  float FHeight = 1;
  float FDepth = 1;
  bool FOpaque = false;
  float FOpacity = 1;
  bool FVisible = true;
  bool FHitTest = true;
  bool FLocked = false;
  bool FDesignLocked = false;
  TProjection FProjection = TProjection::Camera;
  bool FTwoSide = false;
  bool FZWrite = true;
  int FUpdating = 0;
  TRenderEvent FOnRender;
  std::vector<TControl3D*> FRenderingList;
};

}  // namespace quorvel
