#include "framework/gui/ListBox.h"

#include <algorithm>
#include <cmath>

#include "framework/rtl/Units.h"

namespace quorvel {

namespace {

void InitListBoxUnit() {
  RegisterClasses({TListBox::StaticClass(), TComboBox::StaticClass(), TComboListPopup::StaticClass()});
}
void FinListBoxUnit() {
  UnRegisterClasses({TListBox::StaticClass(), TComboBox::StaticClass(), TComboListPopup::StaticClass()});
}
const TUnitRegistration ListBoxUnit{{"Fw.ListBox", {"Fw.StdCtrls"}, &InitListBoxUnit, &FinListBoxUnit}};

float ValidItemHeight(float Value, float Fallback) {
  return std::isfinite(Value) && Value >= 1 ? std::min(Value, 4096.0f) : Fallback;
}

// Rows of AItems from AFirst, each AItemHeight high, inside ARect; ASelected highlighted.
void PaintRows(TCanvas* ACanvas, const TRectF& ARect, const TStrings& AItems, int32_t AFirst,
               float AItemHeight, int32_t ASelected,
               const std::function<void(const TRectF&, const std::string&, TAlphaColor)>& AText) {
  PaintBox(ACanvas, ARect, ControlColors::Window);
  for (int32_t i = AFirst; i < AItems.Count(); ++i) {
    const float top = ARect.Top + 1 + float(i - AFirst) * AItemHeight;
    if (top >= ARect.Bottom - 1) break;
    const TRectF row(ARect.Left + 1, top, ARect.Right - 1, std::min(top + AItemHeight, ARect.Bottom - 1));
    const bool selected = i == ASelected;
    if (selected) ACanvas->FillRect(row, ControlColors::Selection);
    AText(TRectF(row.Left + 4, row.Top, row.Right - 2, row.Bottom), AItems.Get(i),
          selected ? ControlColors::SelectionText : ControlColors::Text);
  }
}

}  // namespace

// ---- TListBox ------------------------------------------------------------------------------

FW_CLASS_IMPL(TListBox, "Fw.ListBox")
void TListBox::Register(ClassBuilder<TListBox>& b) {
  b.Prop("Items", &Self::GetItems)
      .Prop("ItemIndex", &Self::GetItemIndex, &Self::SetItemIndex)
      .Prop("ItemHeight", &Self::GetItemHeight, &Self::SetItemHeight)
      .Prop("OnChange", &Self::GetOnChange, &Self::SetOnChange);
}

TListBox::TListBox(TComponent* AOwner) : TTextControl(AOwner) {
  FItems.reset(New<TStringList>());
  DoSetBounds(0, 0, DefaultWidth, DefaultHeight);
}

int32_t TListBox::GetItemIndex() const { return FItemIndex < FItems->Count() ? FItemIndex : -1; }

void TListBox::SetItemIndex(int32_t Value) {
  if (Value < 0 || Value >= FItems->Count()) Value = -1;
  if (Value == FItemIndex) return;
  FItemIndex = Value;
  Repaint();
  OnChange(this);
}

void TListBox::SetItemHeight(float Value) {
  FItemHeight = ValidItemHeight(Value, DefaultItemHeight);
  Repaint();
}

int32_t TListBox::VisibleRows() const { return std::max(1, int32_t(std::floor((GetHeight() - 2) / FItemHeight))); }

void TListBox::SetFirstVisibleItem(int32_t Value) {
  Value = std::clamp(Value, 0, std::max(0, FItems->Count() - VisibleRows()));
  if (Value == FFirstItem) return;
  FFirstItem = Value;
  Repaint();
}

int32_t TListBox::ItemAtPoint(float X, float Y) const {
  if (!(X >= 1 && X < GetWidth() - 1 && Y >= 1 && Y < GetHeight() - 1)) return -1;
  const int32_t index = FFirstItem + int32_t(std::floor((Y - 1) / FItemHeight));
  return index < FItems->Count() ? index : -1;
}

void TListBox::DeleteItem(int32_t Index) {
  if (Index < 0 || Index >= FItems->Count()) return;
  const int32_t selected = GetItemIndex();
  FItems->Delete(Index);
  if (selected == Index) {
    FItemIndex = -1;
    OnChange(this);
  } else if (selected > Index) {
    FItemIndex = selected - 1;
  }
  SetFirstVisibleItem(FFirstItem);
  Repaint();
}

void TListBox::MouseClick(TMouseButton Button, TShiftState Shift, float X, float Y) {
  if (Button == mbLeft) {
    const int32_t index = ItemAtPoint(X, Y);
    if (index >= 0) SetItemIndex(index);
  }
  TTextControl::MouseClick(Button, Shift, X, Y);
}

void TListBox::MouseWheel(TShiftState, int32_t WheelDelta, bool& Handled) {
  const int32_t notches = WheelDelta / 120;
  if (notches == 0) return;
  SetFirstVisibleItem(FFirstItem - notches);
  Handled = true;
}

void TListBox::Paint() {
  PaintRows(GetCanvas(), GetLocalRect(), *FItems, FFirstItem, FItemHeight, GetItemIndex(),
            [this](const TRectF& r, const std::string& t, TAlphaColor c) {
              PaintText(r, t, c, TTextAlign::Leading, TTextAlign::Center, false);
            });
}

// ---- TComboBox -----------------------------------------------------------------------------

FW_CLASS_IMPL(TComboBox, "Fw.ListBox")
void TComboBox::Register(ClassBuilder<TComboBox>& b) {
  b.Prop("Items", &Self::GetItems)
      .Prop("ItemIndex", &Self::GetItemIndex, &Self::SetItemIndex)
      .Prop("ItemHeight", &Self::GetItemHeight, &Self::SetItemHeight)
      .Prop("OnChange", &Self::GetOnChange, &Self::SetOnChange);
}

TComboBox::TComboBox(TComponent* AOwner) : TTextControl(AOwner) {
  FItems.reset(New<TStringList>());
  DoSetBounds(0, 0, DefaultWidth, DefaultHeight);
}

int32_t TComboBox::GetItemIndex() const { return FItemIndex < FItems->Count() ? FItemIndex : -1; }

void TComboBox::SetItemIndex(int32_t Value) {
  if (Value < 0 || Value >= FItems->Count()) Value = -1;
  if (Value == FItemIndex) return;
  FItemIndex = Value;
  Repaint();
  OnChange(this);
}

std::string TComboBox::GetSelected() const {
  const int32_t index = GetItemIndex();
  return index >= 0 ? FItems->Get(index) : std::string();
}

void TComboBox::SetItemHeight(float Value) {
  FItemHeight = ValidItemHeight(Value, DefaultItemHeight);
  Repaint();
}

TRectF TComboBox::GetDropDownRect() const {
  const TRectF box = GetAbsoluteRect();
  const float height = float(std::max(1, FItems->Count())) * FItemHeight + 2;
  const TForm* form = GetParentForm();
  const float formHeight = form != nullptr ? form->GetHeight() : box.Bottom + height;
  if (box.Bottom + height > formHeight && box.Top - height >= 0)
    return TRectF(box.Left, box.Top - height, box.Right, box.Top);
  return TRectF(box.Left, box.Bottom, box.Right, box.Bottom + height);
}

bool TComboBox::GetDroppedDown() const { return FPopup != nullptr && FPopup->GetParent() != nullptr; }

void TComboBox::DropDown() {
  TForm* form = GetParentForm();
  if (form == nullptr || GetDroppedDown()) return;
  if (FPopup == nullptr) {
    FPopup = New<TComboListPopup>(this, this);
    FPopup->FreeNotification(this);
  }
  FPopup->SetAlign(TAlignLayout::None);
  form->AddObject(FPopup);
  FPopup->SetAlign(TAlignLayout::Contents);
  FPopup->Repaint();
}

void TComboBox::CloseDropDown() {
  if (!GetDroppedDown()) return;
  FPopup->Repaint();
  FPopup->SetParent(nullptr);
}

void TComboBox::Click() {
  TTextControl::Click();
  DropDown();
}

void TComboBox::Notification(TComponent* AComponent, TOperation Operation) {
  TTextControl::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == FPopup) FPopup = nullptr;
}

void TComboBox::Paint() {
  TCanvas* canvas = GetCanvas();
  PaintBox(canvas, GetLocalRect(), ControlColors::Window);
  const float arrow = std::min(GetHeight(), 20.0f);
  PaintText(TRectF(4, 1, GetWidth() - arrow - 2, GetHeight() - 1), GetSelected(), ControlColors::Text,
            TTextAlign::Leading, TTextAlign::Center, false);
  // The drop arrow: a small downward wedge made of shrinking rows.
  const float cx = std::round(GetWidth() - arrow / 2);
  const float cy = std::round(GetHeight() / 2) - 2;
  for (int i = 0; i < 4; ++i)
    canvas->FillRect(TRectF(cx - 4 + float(i), cy + float(i), cx + 4 - float(i), cy + float(i) + 1), ControlColors::Text);
}

// ---- TComboListPopup ----------------------------------------------------------------------

FW_CLASS_NO_MEMBERS(TComboListPopup)
FW_CLASS_IMPL(TComboListPopup, "Fw.ListBox")

TComboListPopup::TComboListPopup(TComponent* AOwner, TComboBox* ACombo) : TControl(AOwner), FCombo(ACombo) {
  SetStored(false);
}

void TComboListPopup::MouseClick(TMouseButton Button, TShiftState, float X, float Y) {
  if (Button != mbLeft) return;
  const TRectF list = FCombo->GetDropDownRect();
  const TPointF p = LocalToAbsolute(TPointF(X, Y));
  if (p.X >= list.Left && p.X < list.Right && p.Y >= list.Top + 1 && p.Y < list.Bottom - 1) {
    const int32_t index = int32_t(std::floor((p.Y - list.Top - 1) / FCombo->GetItemHeight()));
    if (index < FCombo->GetCount()) FCombo->SetItemIndex(index);
  }
  FCombo->CloseDropDown();
}

void TComboListPopup::Paint() {
  TRectF list = FCombo->GetDropDownRect();
  const TPointF origin = GetAbsolutePosition();
  list = TRectF(list.Left - origin.X, list.Top - origin.Y, list.Right - origin.X, list.Bottom - origin.Y);
  PaintRows(GetCanvas(), list, *FCombo->GetItems(), 0, FCombo->GetItemHeight(), FCombo->GetItemIndex(),
            [this](const TRectF& r, const std::string& t, TAlphaColor c) {
              TCanvas* canvas = GetCanvas();
              const float previous = canvas->GetFontSize();
              canvas->SetFontSize(FCombo->GetFontSize());
              canvas->Fill().Color = c;
              canvas->FillText(r, t, false, 1, {}, TTextAlign::Leading, TTextAlign::Center);
              canvas->SetFontSize(previous);
            });
}

}  // namespace quorvel
