#pragma once
// TControl: a 2D control placed in its parent (a form or another control), painted on the
// form's canvas and fed the form's mouse events.
//
// Coordinates: Position is relative to the parent control; "absolute" and "screen"
// coordinates are the form's client coordinates (the form's window is the screen here).
// Alignment: the parent places its aligned children in child order, each inside its
// Margins: Top/MostTop stack from the top, Bottom/MostBottom from the bottom, Left/Right
// (and their Most variants) from the sides, then Client fills what is left; Contents fills
// the whole parent. The other layouts are stored and leave the bounds alone.
// Painting: Repaint asks the scene (the form) to paint again; the form paints every
// visible control inside one canvas scene, parents before children, each in its own local
// coordinates (the canvas offset is set to the control's absolute position).
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "framework/classes/Events.h"
#include "framework/classes/FwObject.h"
#include "framework/math/Point.h"
#include "framework/math/Rect.h"
#include "framework/rtl/Set.h"
#include "framework/rtl/Value.h"

namespace quorvel {

class TCanvas;
class TControl;
class TForm;

enum class TAlignLayout : uint8_t {
  None = 0,
  Top = 1,
  Left = 2,
  Right = 3,
  Bottom = 4,
  MostTop = 5,
  MostBottom = 6,
  MostLeft = 7,
  MostRight = 8,
  Client = 9,
  Contents = 10,
  Center = 11,
  VertCenter = 12,
  HorzCenter = 13,
  Horizontal = 14,
  Vertical = 15,
  Scale = 16,
  Fit = 17,
  FitLeft = 18,
  FitRight = 19
};
FW_ENUM(TAlignLayout, None, Top, Left, Right, Bottom, MostTop, MostBottom, MostLeft, MostRight, Client, Contents,
        Center, VertCenter, HorzCenter, Horizontal, Vertical, Scale, Fit, FitLeft, FitRight)

enum TMouseButton : uint8_t { mbLeft, mbRight, mbMiddle };
FW_ENUM(TMouseButton, mbLeft, mbRight, mbMiddle)

enum TShiftStateItem : uint8_t { ssShift, ssAlt, ssCtrl, ssLeft, ssRight, ssMiddle, ssDouble, ssTouch, ssPen, ssCommand };
FW_ENUM(TShiftStateItem, ssShift, ssAlt, ssCtrl, ssLeft, ssRight, ssMiddle, ssDouble, ssTouch, ssPen, ssCommand)
using TShiftState = TSet<TShiftStateItem>;

using TMouseEvent = TEvent<void(TObject* Sender, TMouseButton Button, TShiftState Shift, float X, float Y)>;
using TMouseMoveEvent = TEvent<void(TObject* Sender, TShiftState Shift, float X, float Y)>;
// WheelDelta: 120 per notch, positive away from the user. A handler sets Handled to keep the
// wheel from the control's parents.
using TMouseWheelEvent = TEvent<void(TObject* Sender, TShiftState Shift, int32_t WheelDelta, bool& Handled)>;

// What is being dragged: the object it comes from, files, and any data.
struct TDragObject {
  TObject* Source = nullptr;
  std::vector<std::string> Files;
  TValue Data;
};

// What receives the mouse: 2D controls and (in the 3D layer) 3D controls. Not reference
// counted; found with dynamic_cast.
class IControl {
public:
  virtual ~IControl() = default;
  virtual TFwObject* GetObject() = 0;
  virtual bool GetVisible() const = 0;
  // The control under the point (form client coordinates), or null.
  virtual IControl* ObjectAtPoint(const TPointF& AScreenPoint) = 0;
  // The control a drag of AData would drop on at the point, or null.
  virtual IControl* FindTarget(const TPointF& AScreenPoint, const TDragObject& AData) = 0;
  virtual TPointF ScreenToLocal(const TPointF& AScreenPoint) const = 0;
  virtual void MouseDown(TMouseButton Button, TShiftState Shift, float X, float Y) = 0;
  virtual void MouseMove(TShiftState Shift, float X, float Y) = 0;
  virtual void MouseUp(TMouseButton Button, TShiftState Shift, float X, float Y) = 0;
  virtual void MouseWheel(TShiftState Shift, int32_t WheelDelta, bool& Handled) = 0;
  virtual void MouseClick(TMouseButton Button, TShiftState Shift, float X, float Y) = 0;
};

// The form a control lives in: its canvas, scale and repainting.
class IScene {
public:
  virtual ~IScene() = default;
  virtual TCanvas* GetSceneCanvas() = 0;
  virtual float GetSceneScale() const = 0;
  // Marks a rectangle (form client coordinates) for painting at the next message pass.
  virtual void AddUpdateRect(const TRectF& R) = 0;
  virtual TFwObject* GetSceneObject() = 0;
};

// X, Y of a control; OnChange runs after either changed.
class TPosition : public TPersistent {
  FW_CLASS(TPosition, TPersistent)

public:
  TPosition() = default;
  void Assign(TPersistent* Source) override;
  float GetX() const { return FPoint.X; }
  float GetY() const { return FPoint.Y; }
  void SetX(float Value) { SetPoint(TPointF(Value, FPoint.Y)); }
  void SetY(float Value) { SetPoint(TPointF(FPoint.X, Value)); }
  TPointF GetPoint() const { return FPoint; }
  void SetPoint(const TPointF& Value);
  std::function<void()> OnChange;

private:
  TPointF FPoint;
};

// Four distances around a control (its Margins): where alignment keeps it from its
// neighbours and its parent's edges. OnChange runs after any of them changed.
class TBounds : public TPersistent {
  FW_CLASS(TBounds, TPersistent)

public:
  TBounds() = default;
  void Assign(TPersistent* Source) override;
  float GetLeft() const { return FRect.Left; }
  float GetTop() const { return FRect.Top; }
  float GetRight() const { return FRect.Right; }
  float GetBottom() const { return FRect.Bottom; }
  void SetLeft(float Value) { SetRect(TRectF(Value, FRect.Top, FRect.Right, FRect.Bottom)); }
  void SetTop(float Value) { SetRect(TRectF(FRect.Left, Value, FRect.Right, FRect.Bottom)); }
  void SetRight(float Value) { SetRect(TRectF(FRect.Left, FRect.Top, Value, FRect.Bottom)); }
  void SetBottom(float Value) { SetRect(TRectF(FRect.Left, FRect.Top, FRect.Right, Value)); }
  // The same distance on every side.
  void SetAll(float Value) { SetRect(TRectF(Value, Value, Value, Value)); }
  TRectF GetRect() const { return FRect; }
  void SetRect(const TRectF& Value);
  std::function<void()> OnChange;

private:
  TRectF FRect;
};

// Width, Height of a control; PlatformDefault is stored only.
class TControlSize : public TPersistent {
  FW_CLASS(TControlSize, TPersistent)

public:
  TControlSize() = default;
  void Assign(TPersistent* Source) override;
  float GetWidth() const { return FSize.Width; }
  float GetHeight() const { return FSize.Height; }
  void SetWidth(float Value) { SetSize(TSizeF(Value, FSize.Height)); }
  void SetHeight(float Value) { SetSize(TSizeF(FSize.Width, Value)); }
  TSizeF GetSize() const { return FSize; }
  void SetSize(const TSizeF& Value);
  bool GetPlatformDefault() const { return FPlatformDefault; }
  void SetPlatformDefault(bool Value) { FPlatformDefault = Value; }
  std::function<void()> OnChange;

private:
  TSizeF FSize;
  bool FPlatformDefault = false;
};

class TControl : public TFwObject, public IControl {
  FW_CLASS(TControl, TFwObject)

public:
  explicit TControl(TComponent* AOwner);
  ~TControl() override;

  // ---- Place and size
  TAlignLayout GetAlign() const { return FAlign; }
  virtual void SetAlign(TAlignLayout Value);
  TPosition* GetPosition() const { return FPosition.get(); }
  TControlSize* GetSize() const { return FSize.get(); }
  TBounds* GetMargins() const { return FMargins.get(); }
  float GetWidth() const { return FWidth; }
  float GetHeight() const { return FHeight; }
  void SetWidth(float Value) { SetBounds(FX, FY, Value, FHeight); }
  void SetHeight(float Value) { SetBounds(FX, FY, FWidth, Value); }
  // Negative sizes become 0. A changed size runs Resize, then realigns the children. An
  // aligned control inside a parent control is placed again by its parent: it keeps only
  // the size its layout leaves free (the height of a Top control, the width of a Left one).
  virtual void SetBounds(float X, float Y, float AWidth, float AHeight);
  TRectF GetLocalRect() const { return TRectF(0, 0, FWidth, FHeight); }
  TRectF GetBoundsRect() const { return TRectF(FX, FY, FX + FWidth, FY + FHeight); }
  TPointF GetAbsolutePosition() const;
  TRectF GetAbsoluteRect() const;
  TPointF LocalToAbsolute(const TPointF& P) const { return P + GetAbsolutePosition(); }
  TPointF AbsoluteToLocal(const TPointF& P) const { return P - GetAbsolutePosition(); }
  TPointF ScreenToLocal(const TPointF& P) const override { return AbsoluteToLocal(P); }
  TPointF LocalToScreen(const TPointF& P) const { return LocalToAbsolute(P); }
  // Places the aligned children again (after a size change of this control).
  void Realign();
  // Where this control places its aligned children (local coordinates); the default is
  // the whole control.
  virtual TRectF GetContentRect() const { return GetLocalRect(); }
  // The form this control lives in, or null.
  TForm* GetParentForm() const;

  // ---- State
  bool GetVisible() const override { return FVisible; }
  virtual void SetVisible(bool Value);
  // Visible, and every parent control up to the form visible as well.
  bool GetParentedVisible() const;
  bool GetEnabled() const { return FEnabled; }
  void SetEnabled(bool Value) { FEnabled = Value; }
  bool GetHitTest() const { return FHitTest; }
  void SetHitTest(bool Value) { FHitTest = Value; }
  bool GetLocked() const { return FLocked; }
  void SetLocked(bool Value) { FLocked = Value; }
  float GetOpacity() const { return FOpacity; }
  void SetOpacity(float Value);
  // Opacity times that of every parent control.
  float GetAbsoluteOpacity() const;

  // ---- Updates: a counter only (nested brackets)
  virtual void BeginUpdate() { ++FUpdating; }
  virtual void EndUpdate() {
    if (FUpdating > 0) --FUpdating;
  }
  bool GetIsUpdating() const { return FUpdating > 0; }
  int32_t GetUpdateCount() const { return FUpdating; }

  // ---- Painting
  // The form (scene) this control lives in, or null.
  IScene* GetScene() const;
  // The canvas to paint on: the one of a running PaintTo, else the form's; null without form.
  TCanvas* GetCanvas() const;
  // Asks the form to paint this control again at the next message pass.
  virtual void Repaint();
  void RepaintRect(const TRectF& ARect);
  // The rectangle (form coordinates) to repaint, computed by DoGetUpdateRect.
  void RecalcUpdateRect() { FUpdateRect = DoGetUpdateRect(); }
  TRectF GetUpdateRect() const { return FUpdateRect; }
  TRectF GetClipRect() const { return GetLocalRect(); }
  // Paints this control and its children into ACanvas with its top-left corner at
  // ARect's top-left, inside a scene of that canvas. AParent is accepted for symmetry.
  void PaintTo(TCanvas* ACanvas, const TRectF& ARect, TFwObject* AParent = nullptr);
  // Paints with the canvas offset at AOrigin (the form's paint and PaintTo use it).
  void PaintInternal(TCanvas* ACanvas, const TPointF& AOrigin);
  virtual void UpdateEffects() {}

  // ---- Mouse
  TFwObject* GetObject() override { return this; }
  IControl* ObjectAtPoint(const TPointF& AScreenPoint) override;
  // The visible children, last first, then this control as ObjectAtPoint would hit it.
  IControl* FindTarget(const TPointF& AScreenPoint, const TDragObject& AData) override;
  void MouseDown(TMouseButton Button, TShiftState Shift, float X, float Y) override;
  void MouseMove(TShiftState Shift, float X, float Y) override;
  void MouseUp(TMouseButton Button, TShiftState Shift, float X, float Y) override;
  void MouseWheel(TShiftState Shift, int32_t WheelDelta, bool& Handled) override;
  void MouseClick(TMouseButton Button, TShiftState Shift, float X, float Y) override;
  virtual void Click() { OnClick(this); }

  TNotifyEvent OnResize;
  TNotifyEvent OnClick;
  TMouseEvent OnMouseDown;
  TMouseMoveEvent OnMouseMove;
  TMouseEvent OnMouseUp;
  TMouseWheelEvent OnMouseWheel;

  const TNotifyEvent& GetOnResize() const { return OnResize; }
  void SetOnResize(const TNotifyEvent& Value) { OnResize = Value; }
  const TNotifyEvent& GetOnClick() const { return OnClick; }
  void SetOnClick(const TNotifyEvent& Value) { OnClick = Value; }
  const TMouseEvent& GetOnMouseDown() const { return OnMouseDown; }
  void SetOnMouseDown(const TMouseEvent& Value) { OnMouseDown = Value; }
  const TMouseMoveEvent& GetOnMouseMove() const { return OnMouseMove; }
  void SetOnMouseMove(const TMouseMoveEvent& Value) { OnMouseMove = Value; }
  const TMouseEvent& GetOnMouseUp() const { return OnMouseUp; }
  void SetOnMouseUp(const TMouseEvent& Value) { OnMouseUp = Value; }
  const TMouseWheelEvent& GetOnMouseWheel() const { return OnMouseWheel; }
  void SetOnMouseWheel(const TMouseWheelEvent& Value) { OnMouseWheel = Value; }

protected:
  // Draws the control on GetCanvas() in local coordinates; the default draws nothing.
  virtual void Paint() {}
  // After the size changed; the default fires OnResize.
  virtual void Resize() { OnResize(this); }
  // Whether the control takes the mouse (ObjectAtPoint asks); the default answers AHitTest.
  virtual bool CheckHitTest(bool AHitTest) const { return AHitTest; }
  // The update rectangle; the default is the absolute rectangle.
  virtual TRectF DoGetUpdateRect() const { return GetAbsoluteRect(); }
  void ParentChanged() override;
  TControl* GetParentControl() const;
  // Lets the parent control place this control when it is aligned.
  void ApplyAlign();
  // Sets the bounds without asking the parent to place the control (alignment uses it).
  void DoSetBounds(float X, float Y, float AWidth, float AHeight);
  bool IsAlignedInParent() const;

  float FX = 0;
  float FY = 0;
  float FWidth = 0;
  float FHeight = 0;

private:
  void PositionChanged();
  void SizeChanged();

  TOwned<TPosition> FPosition;
  TOwned<TControlSize> FSize;
  TOwned<TBounds> FMargins;
  TAlignLayout FAlign = TAlignLayout::None;
  bool FVisible = true;
  bool FEnabled = true;
  bool FHitTest = true;
  bool FLocked = false;
  bool FSettingBounds = false;
  bool FRealigning = false;
  float FOpacity = 1;
  int32_t FUpdating = 0;
  TRectF FUpdateRect;
  TCanvas* FPaintCanvas = nullptr;
};

}  // namespace quorvel
