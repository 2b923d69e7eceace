#pragma once
// Driving forms as a user would, headless: synthetic mouse and window events go through the
// window system's queue to the form, and a script runs one step per message pass (inside a
// modal loop too). Also paints a control alone for a golden-image compare.
//
//   TFormScript script({[&] { ClickOn(dialog->GetOKButton()); }});
//   form->ShowModal();   // the step runs in the first pass, the click arrives in the next
#include <functional>
#include <vector>

#include "framework/gui/Control.h"
#include "framework/gui/Form.h"
#include "tests/support/GLTestSupport.h"

namespace quorvel::testkit {

// A left click (button down, then up) at a point of the form's client area.
void ClickAt(TForm* AForm, const TPointF& APoint);
// A left click in the middle of a control (of the form it lives in).
void ClickOn(TControl* AControl);
// The mouse moves to the point, then the wheel turns ANotches (positive: away from the user).
void WheelAt(TForm* AForm, const TPointF& APoint, int ANotches);
// The window's close box.
void PressCloseBox(TForm* AForm);

// Runs the steps one per message pass of the application, from the next pass on; removes
// itself after the last step or when destroyed.
class TFormScript {
public:
  explicit TFormScript(std::vector<std::function<void()>> ASteps);
  ~TFormScript();
  TFormScript(const TFormScript&) = delete;
  TFormScript& operator=(const TFormScript&) = delete;
  bool Done() const { return FNext >= FSteps.size(); }

private:
  std::vector<std::function<void()>> FSteps;
  size_t FNext = 0;
  int32_t FHandle = 0;
};

// The newest live form of class T, or null.
template <class T>
T* NewestForm() {
  const auto& forms = TForm::Forms();
  for (auto it = forms.rbegin(); it != forms.rend(); ++it)
    if (auto* form = dynamic_cast<T*>(*it)) return form;
  return nullptr;
}

// The form painted now and read back from its window (shown first when hidden).
std::vector<TRGBA8> PaintForm(TForm* AForm);

// AControl (and its children) painted alone on AFill: RGBA rows bottom-up, as the golden
// compare takes them.
std::vector<TRGBA8> PaintControl(TControl* AControl, TAlphaColor AFill = TAlphaColor(0xFFF0F0F0));

}  // namespace quorvel::testkit
