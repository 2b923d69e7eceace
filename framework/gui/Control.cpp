#include "framework/gui/Control.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "framework/gui/Canvas.h"
#include "framework/gui/Form.h"
#include "framework/rtl/Units.h"

namespace quorvel {

namespace {

void InitControlUnit() {
  RegisterClasses({TPosition::StaticClass(), TControlSize::StaticClass(), TBounds::StaticClass(), TControl::StaticClass()});
}
void FinControlUnit() {
  UnRegisterClasses({TPosition::StaticClass(), TControlSize::StaticClass(), TBounds::StaticClass(), TControl::StaticClass()});
}

bool StacksTop(TAlignLayout A) { return A == TAlignLayout::Top || A == TAlignLayout::MostTop; }
bool StacksBottom(TAlignLayout A) { return A == TAlignLayout::Bottom || A == TAlignLayout::MostBottom; }
bool StacksLeft(TAlignLayout A) { return A == TAlignLayout::Left || A == TAlignLayout::MostLeft; }
bool StacksRight(TAlignLayout A) { return A == TAlignLayout::Right || A == TAlignLayout::MostRight; }
bool IsPlaced(TAlignLayout A) {
  return StacksTop(A) || StacksBottom(A) || StacksLeft(A) || StacksRight(A) || A == TAlignLayout::Client ||
         A == TAlignLayout::Contents;
}
const TUnitRegistration ControlUnit{{"Fw.Controls", {}, &InitControlUnit, &FinControlUnit}};

}  // namespace

// ---- TPosition, TControlSize --------------------------------------------------------------

FW_CLASS_IMPL(TPosition, "Fw.Controls")
void TPosition::Register(ClassBuilder<TPosition>& b) {
  b.Prop("X", &Self::GetX, &Self::SetX).Prop("Y", &Self::GetY, &Self::SetY);
}

void TPosition::Assign(TPersistent* Source) {
  if (auto* source = dynamic_cast<TPosition*>(Source)) {
    SetPoint(source->FPoint);
    return;
  }
  TPersistent::Assign(Source);
}

void TPosition::SetPoint(const TPointF& Value) {
  if (Value.X == FPoint.X && Value.Y == FPoint.Y) return;
  FPoint = Value;
  if (OnChange) OnChange();
}

FW_CLASS_IMPL(TBounds, "Fw.Controls")
void TBounds::Register(ClassBuilder<TBounds>& b) {
  b.Prop("Left", &Self::GetLeft, &Self::SetLeft)
      .Prop("Top", &Self::GetTop, &Self::SetTop)
      .Prop("Right", &Self::GetRight, &Self::SetRight)
      .Prop("Bottom", &Self::GetBottom, &Self::SetBottom);
}

void TBounds::Assign(TPersistent* Source) {
  if (auto* source = dynamic_cast<TBounds*>(Source)) {
    SetRect(source->FRect);
    return;
  }
  TPersistent::Assign(Source);
}

void TBounds::SetRect(const TRectF& Value) {
  // A distance that is not a finite number would carry into every bound of the layout.
  auto fix = [](float v) { return std::isfinite(v) ? v : 0.0f; };
  const TRectF v(fix(Value.Left), fix(Value.Top), fix(Value.Right), fix(Value.Bottom));
  if (v.Left == FRect.Left && v.Top == FRect.Top && v.Right == FRect.Right && v.Bottom == FRect.Bottom) return;
  FRect = v;
  if (OnChange) OnChange();
}

FW_CLASS_IMPL(TControlSize, "Fw.Controls")
void TControlSize::Register(ClassBuilder<TControlSize>& b) {
  b.Prop("Width", &Self::GetWidth, &Self::SetWidth)
      .Prop("Height", &Self::GetHeight, &Self::SetHeight)
      .Prop("PlatformDefault", &Self::GetPlatformDefault, &Self::SetPlatformDefault);
}

void TControlSize::Assign(TPersistent* Source) {
  if (auto* source = dynamic_cast<TControlSize*>(Source)) {
    FPlatformDefault = source->FPlatformDefault;
    SetSize(source->FSize);
    return;
  }
  TPersistent::Assign(Source);
}

void TControlSize::SetSize(const TSizeF& Value) {
  if (Value.Width == FSize.Width && Value.Height == FSize.Height) return;
  FSize = Value;
  if (OnChange) OnChange();
}

// ---- TControl -----------------------------------------------------------------------------

FW_CLASS_IMPL(TControl, "Fw.Controls")
void TControl::Register(ClassBuilder<TControl>& b) {
  b.Prop("Align", &Self::GetAlign, &Self::SetAlign)
      .Prop("Position", &Self::GetPosition)
      .Prop("Size", &Self::GetSize)
      .Prop("Margins", &Self::GetMargins)
      .Prop("Width", &Self::GetWidth, &Self::SetWidth)
      .Prop("Height", &Self::GetHeight, &Self::SetHeight)
      .Prop("Visible", &Self::GetVisible, &Self::SetVisible)
      .Prop("Enabled", &Self::GetEnabled, &Self::SetEnabled)
      .Prop("HitTest", &Self::GetHitTest, &Self::SetHitTest)
      .Prop("Locked", &Self::GetLocked, &Self::SetLocked)
      .Prop("Opacity", &Self::GetOpacity, &Self::SetOpacity)
      .Prop("OnResize", &Self::GetOnResize, &Self::SetOnResize)
      .Prop("OnClick", &Self::GetOnClick, &Self::SetOnClick)
      .Prop("OnMouseDown", &Self::GetOnMouseDown, &Self::SetOnMouseDown)
      .Prop("OnMouseMove", &Self::GetOnMouseMove, &Self::SetOnMouseMove)
      .Prop("OnMouseUp", &Self::GetOnMouseUp, &Self::SetOnMouseUp)
      .Prop("OnMouseWheel", &Self::GetOnMouseWheel, &Self::SetOnMouseWheel);
}

TControl::TControl(TComponent* AOwner) : TFwObject(AOwner) {
  FPosition.reset(New<TPosition>());
  FSize.reset(New<TControlSize>());
  FMargins.reset(New<TBounds>());
  FMargins->OnChange = [this] { ApplyAlign(); };
  FPosition->OnChange = [this] { PositionChanged(); };
  FSize->OnChange = [this] { SizeChanged(); };
}

TControl::~TControl() = default;

void TControl::PositionChanged() {
  if (FSettingBounds) return;
  SetBounds(FPosition->GetX(), FPosition->GetY(), FWidth, FHeight);
}

void TControl::SizeChanged() {
  if (FSettingBounds) return;
  SetBounds(FX, FY, FSize->GetWidth(), FSize->GetHeight());
}

TControl* TControl::GetParentControl() const { return dynamic_cast<TControl*>(GetParent()); }

bool TControl::IsAlignedInParent() const {
  return IsPlaced(FAlign) && GetParentControl() != nullptr && dynamic_cast<const IScene*>(this) == nullptr;
}

void TControl::SetBounds(float X, float Y, float AWidth, float AHeight) {
  DoSetBounds(X, Y, AWidth, AHeight);
  ApplyAlign();
}

void TControl::DoSetBounds(float X, float Y, float AWidth, float AHeight) {
  if (!(AWidth > 0)) AWidth = 0;
  if (!(AHeight > 0)) AHeight = 0;
  const bool moved = X != FX || Y != FY;
  const bool resized = AWidth != FWidth || AHeight != FHeight;
  FX = X;
  FY = Y;
  FWidth = AWidth;
  FHeight = AHeight;
  // The sub-objects follow without calling back.
  FSettingBounds = true;
  FPosition->SetPoint(TPointF(X, Y));
  FSize->SetSize(TSizeF(AWidth, AHeight));
  FSettingBounds = false;
  if (!moved && !resized) return;
  if (resized) {
    Resize();
    Realign();
  }
  Repaint();
}

TPointF TControl::GetAbsolutePosition() const {
  TPointF p(0, 0);
  for (const TControl* c = this; c != nullptr; c = c->GetParentControl()) {
    if (dynamic_cast<const IScene*>(c) != nullptr) break;  // the form's client area is the origin
    p = p + TPointF(c->FX, c->FY);
  }
  return p;
}

TRectF TControl::GetAbsoluteRect() const {
  const TPointF p = GetAbsolutePosition();
  return TRectF(p.X, p.Y, p.X + FWidth, p.Y + FHeight);
}

void TControl::Realign() {
  // A child's Resize handler may move a sibling: one pass at a time.
  if (FRealigning) return;
  FRealigning = true;
  struct TDone {
    bool& Flag;
    ~TDone() { Flag = false; }
  } done{FRealigning};
  TRectF free = GetContentRect();
  std::vector<TControl*> clients;
  const std::vector<TFwObject*> children = Children();
  for (TFwObject* child : children) {
    auto* c = dynamic_cast<TControl*>(child);
    if (c == nullptr || !IsPlaced(c->FAlign)) continue;
    const TRectF m = c->FMargins->GetRect();
    const float width = std::max(0.0f, free.Right - free.Left - m.Left - m.Right);
    const float height = std::max(0.0f, free.Bottom - free.Top - m.Top - m.Bottom);
    if (StacksTop(c->FAlign)) {
      c->DoSetBounds(free.Left + m.Left, free.Top + m.Top, width, c->FHeight);
      free.Top += m.Top + c->FHeight + m.Bottom;
    } else if (StacksBottom(c->FAlign)) {
      c->DoSetBounds(free.Left + m.Left, free.Bottom - m.Bottom - c->FHeight, width, c->FHeight);
      free.Bottom -= m.Top + c->FHeight + m.Bottom;
    } else if (StacksLeft(c->FAlign)) {
      c->DoSetBounds(free.Left + m.Left, free.Top + m.Top, c->FWidth, height);
      free.Left += m.Left + c->FWidth + m.Right;
    } else if (StacksRight(c->FAlign)) {
      c->DoSetBounds(free.Right - m.Right - c->FWidth, free.Top + m.Top, c->FWidth, height);
      free.Right -= m.Left + c->FWidth + m.Right;
    } else if (c->FAlign == TAlignLayout::Contents) {
      c->DoSetBounds(0, 0, FWidth, FHeight);
    } else {
      clients.push_back(c);
    }
  }
  for (TControl* c : clients) {
    const TRectF m = c->FMargins->GetRect();
    c->DoSetBounds(free.Left + m.Left, free.Top + m.Top, free.Right - free.Left - m.Left - m.Right,
                   free.Bottom - free.Top - m.Top - m.Bottom);
  }
}

void TControl::ApplyAlign() {
  if (IsAlignedInParent()) GetParentControl()->Realign();
}

TForm* TControl::GetParentForm() const {
  for (TFwObject* o = GetParent(); o != nullptr; o = o->GetParent())
    if (auto* scene = dynamic_cast<IScene*>(o)) return dynamic_cast<TForm*>(scene);
  return nullptr;
}

void TControl::SetAlign(TAlignLayout Value) {
  if (Value == FAlign) return;
  FAlign = Value;
  ApplyAlign();
}

void TControl::ParentChanged() {
  TFwObject::ParentChanged();
  ApplyAlign();
  Repaint();
}

void TControl::SetVisible(bool Value) {
  if (Value == FVisible) return;
  // Repaint while visible, so that the area it leaves is painted too.
  if (FVisible) Repaint();
  FVisible = Value;
  Repaint();
}

bool TControl::GetParentedVisible() const {
  for (const TControl* c = this; c != nullptr; c = c->GetParentControl()) {
    if (dynamic_cast<const IScene*>(c) != nullptr) break;
    if (!c->FVisible) return false;
  }
  return true;
}

void TControl::SetOpacity(float Value) {
  Value = std::isfinite(Value) ? std::clamp(Value, 0.0f, 1.0f) : 1.0f;
  if (Value == FOpacity) return;
  FOpacity = Value;
  Repaint();
}

float TControl::GetAbsoluteOpacity() const {
  float opacity = 1;
  for (const TControl* c = this; c != nullptr; c = c->GetParentControl()) {
    if (dynamic_cast<const IScene*>(c) != nullptr) break;
    opacity *= c->FOpacity;
  }
  return opacity;
}

IScene* TControl::GetScene() const {
  for (TFwObject* o = const_cast<TControl*>(this); o != nullptr; o = o->GetParent())
    if (auto* scene = dynamic_cast<IScene*>(o)) return scene;
  return nullptr;
}

TCanvas* TControl::GetCanvas() const {
  if (FPaintCanvas != nullptr) return FPaintCanvas;
  IScene* scene = GetScene();
  return scene != nullptr ? scene->GetSceneCanvas() : nullptr;
}

void TControl::Repaint() {
  if (GetComponentState().Contains(csDestroying)) return;
  if (IScene* scene = GetScene()) scene->AddUpdateRect(GetAbsoluteRect());
}

void TControl::RepaintRect(const TRectF& ARect) {
  if (IScene* scene = GetScene()) {
    const TPointF p = GetAbsolutePosition();
    scene->AddUpdateRect(TRectF(ARect.Left + p.X, ARect.Top + p.Y, ARect.Right + p.X, ARect.Bottom + p.Y));
  }
}

void TControl::PaintInternal(TCanvas* ACanvas, const TPointF& AOrigin) {
  if (ACanvas == nullptr || !FVisible) return;
  TCanvas* previousCanvas = FPaintCanvas;
  const TPointF previousOffset = ACanvas->GetOffset();
  struct TRestore {
    TControl* Self;
    TCanvas* Canvas;
    TCanvas* PreviousCanvas;
    TPointF PreviousOffset;
    ~TRestore() {
      Self->FPaintCanvas = PreviousCanvas;
      Canvas->SetOffset(PreviousOffset);
    }
  } restore{this, ACanvas, previousCanvas, previousOffset};
  FPaintCanvas = ACanvas;
  ACanvas->SetOffset(AOrigin);
  Paint();
  for (TFwObject* child : Children()) {
    if (auto* control = dynamic_cast<TControl*>(child))
      control->PaintInternal(ACanvas, AOrigin + TPointF(control->FX, control->FY));
  }
}

void TControl::PaintTo(TCanvas* ACanvas, const TRectF& ARect, TFwObject*) {
  if (ACanvas == nullptr || !ACanvas->BeginScene()) return;
  struct TEnd {
    TCanvas* Canvas;
    ~TEnd() { Canvas->EndScene(); }
  } end{ACanvas};
  PaintInternal(ACanvas, ARect.TopLeft());
}

IControl* TControl::ObjectAtPoint(const TPointF& AScreenPoint) {
  if (!FVisible && !GetComponentState().Contains(csDesigning)) return nullptr;
  const auto& children = Children();
  for (auto it = children.rbegin(); it != children.rend(); ++it) {
    if (auto* control = dynamic_cast<TControl*>(*it))
      if (IControl* hit = control->ObjectAtPoint(AScreenPoint)) return hit;
  }
  if (CheckHitTest(FHitTest) && GetAbsoluteRect().Contains(AScreenPoint)) return this;
  return nullptr;
}

IControl* TControl::FindTarget(const TPointF& AScreenPoint, const TDragObject& AData) {
  if (!FVisible) return nullptr;
  const auto& children = Children();
  for (auto it = children.rbegin(); it != children.rend(); ++it) {
    if (auto* control = dynamic_cast<TControl*>(*it))
      if (IControl* hit = control->FindTarget(AScreenPoint, AData)) return hit;
  }
  if (CheckHitTest(FHitTest) && GetAbsoluteRect().Contains(AScreenPoint)) return this;
  return nullptr;
}

void TControl::MouseDown(TMouseButton Button, TShiftState Shift, float X, float Y) {
  OnMouseDown(this, Button, Shift, X, Y);
}

void TControl::MouseMove(TShiftState Shift, float X, float Y) { OnMouseMove(this, Shift, X, Y); }

void TControl::MouseUp(TMouseButton Button, TShiftState Shift, float X, float Y) {
  OnMouseUp(this, Button, Shift, X, Y);
}

void TControl::MouseWheel(TShiftState Shift, int32_t WheelDelta, bool& Handled) {
  OnMouseWheel(this, Shift, WheelDelta, Handled);
}

void TControl::MouseClick(TMouseButton Button, TShiftState, float, float) {
  if (Button == mbLeft) Click();
}

}  // namespace quorvel
