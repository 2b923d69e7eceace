#include "framework/gui/StdCtrls.h"

#include <algorithm>
#include <cmath>

#include "framework/rtl/Units.h"

namespace quorvel {

namespace {

void InitStdCtrlsUnit() {
  RegisterClasses({TTextControl::StaticClass(), TLabel::StaticClass(), TButton::StaticClass(), TCheckBox::StaticClass(),
                   TGroupBox::StaticClass(), TEdit::StaticClass(), TMemo::StaticClass()});
}
void FinStdCtrlsUnit() {
  UnRegisterClasses({TTextControl::StaticClass(), TLabel::StaticClass(), TButton::StaticClass(),
                     TCheckBox::StaticClass(), TGroupBox::StaticClass(), TEdit::StaticClass(), TMemo::StaticClass()});
}
const TUnitRegistration StdCtrlsUnit{{"Fw.StdCtrls", {"Fw.Controls", "Fw.Forms"}, &InitStdCtrlsUnit, &FinStdCtrlsUnit}};

}  // namespace

void PaintBox(TCanvas* ACanvas, const TRectF& ARect, TAlphaColor AFill) {
  ACanvas->FillRect(ARect, AFill);
  ACanvas->Stroke().Color = ControlColors::Frame;
  ACanvas->Stroke().Thickness = 1;
  // Half-pixel inset: a one-pixel line centred on the edge would fall half outside.
  ACanvas->DrawRect(TRectF(ARect.Left + 0.5f, ARect.Top + 0.5f, ARect.Right - 0.5f, ARect.Bottom - 0.5f), 0, 0,
                    AllCorners(), 1);
}

// ---- TTextControl --------------------------------------------------------------------------

FW_CLASS_IMPL(TTextControl, "Fw.StdCtrls")
void TTextControl::Register(ClassBuilder<TTextControl>& b) {
  b.Prop("Text", &Self::GetText, &Self::SetText)
      .Prop("FontSize", &Self::GetFontSize, &Self::SetFontSize)
      .Prop("FontFamily", &Self::GetFontFamily, &Self::SetFontFamily)
      .Prop("TextAlign", &Self::GetTextAlign, &Self::SetTextAlign)
      .Prop("VertTextAlign", &Self::GetVertTextAlign, &Self::SetVertTextAlign)
      .Prop("WordWrap", &Self::GetWordWrap, &Self::SetWordWrap);
}

TTextControl::TTextControl(TComponent* AOwner) : TControl(AOwner) {}

void TTextControl::SetText(const std::string& Value) {
  if (Value == FText) return;
  FText = Value;
  Repaint();
}

void TTextControl::SetFontSize(float Value) {
  Value = std::isfinite(Value) ? std::clamp(Value, 1.0f, 512.0f) : 12.0f;
  if (Value == FFontSize) return;
  FFontSize = Value;
  Repaint();
}

void TTextControl::SetTextAlign(TTextAlign Value) {
  FTextAlign = Value;
  Repaint();
}

void TTextControl::SetVertTextAlign(TTextAlign Value) {
  FVertTextAlign = Value;
  Repaint();
}

void TTextControl::SetWordWrap(bool Value) {
  FWordWrap = Value;
  Repaint();
}

void TTextControl::PaintText(const TRectF& ARect, const std::string& AText, TAlphaColor AColor, TTextAlign AAlign,
                             TTextAlign AVertAlign, bool AWordWrap) {
  TCanvas* canvas = GetCanvas();
  if (canvas == nullptr) return;
  const float previous = canvas->GetFontSize();
  canvas->SetFontSize(FFontSize);
  canvas->Fill().Color = AColor;
  canvas->FillText(ARect, AText, AWordWrap, GetAbsoluteOpacity(), {}, AAlign, AVertAlign);
  canvas->SetFontSize(previous);
}

// ---- TLabel --------------------------------------------------------------------------------

FW_CLASS_NO_MEMBERS(TLabel)
FW_CLASS_IMPL(TLabel, "Fw.StdCtrls")

TLabel::TLabel(TComponent* AOwner) : TTextControl(AOwner) {
  SetHitTest(false);
  DoSetBounds(0, 0, DefaultWidth, DefaultHeight);
}

void TLabel::Paint() { PaintText(GetLocalRect(), ControlColors::Text); }

// ---- TButton -------------------------------------------------------------------------------

FW_CLASS_IMPL(TButton, "Fw.StdCtrls")
void TButton::Register(ClassBuilder<TButton>& b) {
  b.Prop("ModalResult", &Self::GetModalResult, &Self::SetModalResult);
}

TButton::TButton(TComponent* AOwner) : TTextControl(AOwner) {
  SetTextAlign(TTextAlign::Center);
  DoSetBounds(0, 0, DefaultWidth, DefaultHeight);
}

void TButton::Click() {
  TTextControl::Click();
  if (FModalResult == mrNone) return;
  if (TForm* form = GetParentForm()) form->SetModalResult(FModalResult);
}

void TButton::Paint() {
  PaintBox(GetCanvas(), GetLocalRect(), ControlColors::Face);
  PaintText(GetLocalRect(), ControlColors::Text);
}

// ---- TCheckBox -----------------------------------------------------------------------------

FW_CLASS_IMPL(TCheckBox, "Fw.StdCtrls")
void TCheckBox::Register(ClassBuilder<TCheckBox>& b) {
  b.Prop("IsChecked", &Self::GetIsChecked, &Self::SetIsChecked).Prop("OnChange", &Self::GetOnChange, &Self::SetOnChange);
}

TCheckBox::TCheckBox(TComponent* AOwner) : TTextControl(AOwner) { DoSetBounds(0, 0, DefaultWidth, DefaultHeight); }

void TCheckBox::SetIsChecked(bool Value) {
  if (Value == FIsChecked) return;
  FIsChecked = Value;
  Repaint();
  OnChange(this);
}

void TCheckBox::Click() {
  SetIsChecked(!FIsChecked);
  TTextControl::Click();
}

void TCheckBox::Paint() {
  TCanvas* canvas = GetCanvas();
  const float top = std::round((GetHeight() - BoxSize) / 2);
  const TRectF box(0, top, BoxSize, top + BoxSize);
  PaintBox(canvas, box, ControlColors::Window);
  if (FIsChecked) canvas->FillRect(TRectF(box.Left + 4, box.Top + 4, box.Right - 4, box.Bottom - 4), ControlColors::Text);
  PaintText(TRectF(BoxSize + 6, 0, GetWidth(), GetHeight()), ControlColors::Text);
}

// ---- TGroupBox -----------------------------------------------------------------------------

FW_CLASS_NO_MEMBERS(TGroupBox)
FW_CLASS_IMPL(TGroupBox, "Fw.StdCtrls")

TGroupBox::TGroupBox(TComponent* AOwner) : TTextControl(AOwner) {
  SetFontSize(11);
  DoSetBounds(0, 0, DefaultWidth, DefaultHeight);
}

TRectF TGroupBox::GetContentRect() const {
  return TRectF(0, std::min(CaptionBand, GetHeight()), GetWidth(), GetHeight());
}

void TGroupBox::Paint() {
  TCanvas* canvas = GetCanvas();
  const float line = std::round(GetFontSize() / 2);
  canvas->Stroke().Color = ControlColors::Frame;
  canvas->Stroke().Thickness = 1;
  canvas->DrawRect(TRectF(0.5f, line + 0.5f, GetWidth() - 0.5f, GetHeight() - 0.5f), 0, 0, AllCorners(), 1);
  if (GetText().empty()) return;
  // The caption interrupts the top edge.
  TForm* form = GetParentForm();
  const TAlphaColor back = form != nullptr ? form->GetFill() : ControlColors::Window;
  float width = 0;
  {
    const float previous = canvas->GetFontSize();
    canvas->SetFontSize(GetFontSize());
    width = std::ceil(canvas->TextExtent(GetText()).Width);
    canvas->SetFontSize(previous);
  }
  const TRectF caption(8, 0, std::min(GetWidth(), 8 + width + 6), std::round(GetFontSize() * 1.2f));
  canvas->FillRect(caption, back);
  PaintText(TRectF(caption.Left + 3, caption.Top, caption.Right, caption.Bottom), GetText(), ControlColors::Text,
            TTextAlign::Leading, TTextAlign::Center, false);
}

// ---- TEdit ---------------------------------------------------------------------------------

FW_CLASS_IMPL(TEdit, "Fw.StdCtrls")
void TEdit::Register(ClassBuilder<TEdit>& b) { b.Prop("ReadOnly", &Self::GetReadOnly, &Self::SetReadOnly); }

TEdit::TEdit(TComponent* AOwner) : TTextControl(AOwner) { DoSetBounds(0, 0, DefaultWidth, DefaultHeight); }

void TEdit::Paint() {
  PaintBox(GetCanvas(), GetLocalRect(), ControlColors::Window);
  PaintText(TRectF(4, 1, GetWidth() - 4, GetHeight() - 1), ControlColors::Text);
}

// ---- TMemo ---------------------------------------------------------------------------------

FW_CLASS_IMPL(TMemo, "Fw.StdCtrls")
void TMemo::Register(ClassBuilder<TMemo>& b) {
  b.Prop("Lines", &Self::GetLines).Prop("ReadOnly", &Self::GetReadOnly, &Self::SetReadOnly);
}

TMemo::TMemo(TComponent* AOwner) : TTextControl(AOwner) {
  FLines.reset(New<TStringList>());
  DoSetBounds(0, 0, DefaultWidth, DefaultHeight);
}

void TMemo::SetText(const std::string& Value) {
  FLines->SetText(Value);
  TTextControl::SetText(FLines->GetText());
  SetFirstVisibleLine(FFirstLine);
  Repaint();
}

void TMemo::Append(const std::string& ALine) {
  FLines->Add(ALine);
  TTextControl::SetText(FLines->GetText());
  SetFirstVisibleLine(FLines->Count());
  Repaint();
}

float TMemo::GetLineHeight() const { return std::ceil(GetFontSize() * 1.17f); }

int32_t TMemo::GetVisibleLineCount() const {
  return std::max(1, int32_t(std::floor((GetHeight() - 2 * Padding) / GetLineHeight())));
}

void TMemo::SetFirstVisibleLine(int32_t Value) {
  const int32_t last = std::max(0, FLines->Count() - GetVisibleLineCount());
  Value = std::clamp(Value, 0, last);
  if (Value == FFirstLine) return;
  FFirstLine = Value;
  Repaint();
}

void TMemo::MouseWheel(TShiftState, int32_t WheelDelta, bool& Handled) {
  // A notch is 120; up (positive) shows earlier lines.
  const int32_t notches = WheelDelta / 120;
  if (notches == 0) return;
  SetFirstVisibleLine(FFirstLine - notches * WheelLines);
  Handled = true;
}

void TMemo::Resize() {
  TTextControl::Resize();
  SetFirstVisibleLine(FFirstLine);
}

void TMemo::Paint() {
  PaintBox(GetCanvas(), GetLocalRect(), ControlColors::Window);
  const float lineHeight = GetLineHeight();
  const int32_t count = std::min(FLines->Count() - FFirstLine, GetVisibleLineCount() + 1);
  for (int32_t i = 0; i < count; ++i) {
    const float top = Padding + float(i) * lineHeight;
    const float bottom = std::min(top + lineHeight, GetHeight() - Padding);
    if (bottom <= top) break;
    PaintText(TRectF(Padding + 1, top, GetWidth() - Padding, bottom), FLines->Get(FFirstLine + i), ControlColors::Text,
              TTextAlign::Leading, TTextAlign::Leading, false);
  }
}

}  // namespace quorvel
