#pragma once
// The standard controls of dialogs: TLabel, TButton, TCheckBox, TGroupBox, TEdit and TMemo.
// They are ordinary controls (streamed properties, owner and parent rules of TControl)
// painted on the form's canvas with rectangles and text; the one face is DejaVu Sans, so a
// FontFamily is stored and answered but every family paints in it. Nothing takes the
// keyboard: edits and memos show text, the mouse clicks, checks and scrolls.
#include <cstdint>
#include <string>

#include "framework/gui/Canvas.h"
#include "framework/gui/Control.h"
#include "framework/gui/Form.h"
#include "framework/rtl/StringList.h"

namespace quorvel {

// The look every standard control shares.
namespace ControlColors {
inline constexpr TAlphaColor Text = TAlphaColor(0xFF000000);
inline constexpr TAlphaColor Frame = TAlphaColor(0xFF8C8C8C);
inline constexpr TAlphaColor Face = TAlphaColor(0xFFE6E6E6);
inline constexpr TAlphaColor Window = TAlphaColor(0xFFFFFFFF);
inline constexpr TAlphaColor Selection = TAlphaColor(0xFF3C78D2);
inline constexpr TAlphaColor SelectionText = TAlphaColor(0xFFFFFFFF);
}  // namespace ControlColors

// A control that shows a text in a font: the base of the standard controls.
class TTextControl : public TControl {
  FW_CLASS(TTextControl, TControl)

public:
  explicit TTextControl(TComponent* AOwner);

  const std::string& GetText() const { return FText; }
  virtual void SetText(const std::string& Value);
  float GetFontSize() const { return FFontSize; }
  void SetFontSize(float Value);
  const std::string& GetFontFamily() const { return FFontFamily; }
  void SetFontFamily(const std::string& Value) { FFontFamily = Value; }
  TTextAlign GetTextAlign() const { return FTextAlign; }
  void SetTextAlign(TTextAlign Value);
  TTextAlign GetVertTextAlign() const { return FVertTextAlign; }
  void SetVertTextAlign(TTextAlign Value);
  bool GetWordWrap() const { return FWordWrap; }
  void SetWordWrap(bool Value);

protected:
  // Fills AText into ARect (local coordinates) in the control's font and alignment.
  void PaintText(const TRectF& ARect, const std::string& AText, TAlphaColor AColor, TTextAlign AAlign,
                 TTextAlign AVertAlign, bool AWordWrap);
  void PaintText(const TRectF& ARect, TAlphaColor AColor) {
    PaintText(ARect, FText, AColor, FTextAlign, FVertTextAlign, FWordWrap);
  }

private:
  std::string FText;
  std::string FFontFamily;
  float FFontSize = 12;
  TTextAlign FTextAlign = TTextAlign::Leading;
  TTextAlign FVertTextAlign = TTextAlign::Center;
  bool FWordWrap = false;
};

// A text that takes no mouse (HitTest off).
class TLabel : public TTextControl {
  FW_CLASS(TLabel, TTextControl)

public:
  static constexpr float DefaultWidth = 120;
  static constexpr float DefaultHeight = 17;
  explicit TLabel(TComponent* AOwner);

protected:
  void Paint() override;
};

// A push button; a click runs OnClick and then, when ModalResult is set, hands it to the
// form (which ends that form's modal loop).
class TButton : public TTextControl {
  FW_CLASS(TButton, TTextControl)

public:
  static constexpr float DefaultWidth = 80;
  static constexpr float DefaultHeight = 22;
  explicit TButton(TComponent* AOwner);
  TModalResult GetModalResult() const { return FModalResult; }
  void SetModalResult(TModalResult Value) { FModalResult = Value; }
  void Click() override;

protected:
  void Paint() override;

private:
  TModalResult FModalResult = mrNone;
};

// A box with a tick and its text; a click toggles IsChecked (OnChange after each change).
class TCheckBox : public TTextControl {
  FW_CLASS(TCheckBox, TTextControl)

public:
  static constexpr float DefaultWidth = 120;
  static constexpr float DefaultHeight = 19;
  static constexpr float BoxSize = 16;
  explicit TCheckBox(TComponent* AOwner);
  bool GetIsChecked() const { return FIsChecked; }
  void SetIsChecked(bool Value);
  void Click() override;
  TNotifyEvent OnChange;
  const TNotifyEvent& GetOnChange() const { return OnChange; }
  void SetOnChange(const TNotifyEvent& Value) { OnChange = Value; }

protected:
  void Paint() override;

private:
  bool FIsChecked = false;
};

// A frame with a caption on its top edge; aligned children stay below the caption's middle.
class TGroupBox : public TTextControl {
  FW_CLASS(TGroupBox, TTextControl)

public:
  static constexpr float DefaultWidth = 120;
  static constexpr float DefaultHeight = 100;
  static constexpr float CaptionBand = 4;
  explicit TGroupBox(TComponent* AOwner);
  TRectF GetContentRect() const override;

protected:
  void Paint() override;
};

// One line of text in a white box. ReadOnly is stored: there is no keyboard input.
class TEdit : public TTextControl {
  FW_CLASS(TEdit, TTextControl)

public:
  static constexpr float DefaultWidth = 100;
  static constexpr float DefaultHeight = 22;
  explicit TEdit(TComponent* AOwner);
  bool GetReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool Value) { FReadOnly = Value; }

protected:
  void Paint() override;

private:
  bool FReadOnly = false;
};

// Lines of text in a white box, scrolled by the mouse wheel (three lines a notch). Text is
// the lines joined with CR LF; setting it splits at CR LF, CR or LF. Changing Lines directly
// asks for Repaint from the caller.
class TMemo : public TTextControl {
  FW_CLASS(TMemo, TTextControl)

public:
  static constexpr float DefaultWidth = 100;
  static constexpr float DefaultHeight = 100;
  static constexpr float Padding = 3;
  static constexpr int32_t WheelLines = 3;
  explicit TMemo(TComponent* AOwner);
  TStrings* GetLines() const { return FLines.get(); }
  void SetText(const std::string& Value) override;
  bool GetReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool Value) { FReadOnly = Value; }
  // Adds a line at the end and scrolls so that it shows.
  void Append(const std::string& ALine);
  // The first line shown; kept within 0..(lines - visible lines).
  int32_t GetFirstVisibleLine() const { return FFirstLine; }
  void SetFirstVisibleLine(int32_t Value);
  int32_t GetVisibleLineCount() const;
  float GetLineHeight() const;
  void MouseWheel(TShiftState Shift, int32_t WheelDelta, bool& Handled) override;

protected:
  void Paint() override;
  void Resize() override;

private:
  TOwned<TStringList> FLines;
  bool FReadOnly = false;
  int32_t FFirstLine = 0;
};

// The frame of a box control: AFill inside a one-pixel Frame-coloured outline.
void PaintBox(TCanvas* ACanvas, const TRectF& ARect, TAlphaColor AFill);

}  // namespace quorvel
