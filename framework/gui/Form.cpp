#include "framework/gui/Form.h"

#include <SDL2/SDL.h>

#include <algorithm>
#include <cmath>

#include "framework/classes/FormText.h"
#include "framework/gui/Application.h"
#include "framework/gui/Canvas.h"
#include "framework/classes/Filer.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/Thread.h"
#include "framework/rtl/Units.h"

namespace quorvel {

namespace {

std::vector<TForm*>& FormList() {
  static std::vector<TForm*> list;
  return list;
}

TShiftState ShiftFromSdl(uint32_t buttons) {
  TShiftState shift;
  const SDL_Keymod mod = SDL_GetModState();
  if (mod & KMOD_SHIFT) shift.Include(ssShift);
  if (mod & KMOD_ALT) shift.Include(ssAlt);
  if (mod & KMOD_CTRL) shift.Include(ssCtrl);
  if (mod & KMOD_GUI) shift.Include(ssCommand);
  if (buttons & SDL_BUTTON_LMASK) shift.Include(ssLeft);
  if (buttons & SDL_BUTTON_RMASK) shift.Include(ssRight);
  if (buttons & SDL_BUTTON_MMASK) shift.Include(ssMiddle);
  return shift;
}

bool ButtonFromSdl(uint8_t button, TMouseButton& result) {
  switch (button) {
    case SDL_BUTTON_LEFT:
      result = mbLeft;
      return true;
    case SDL_BUTTON_RIGHT:
      result = mbRight;
      return true;
    case SDL_BUTTON_MIDDLE:
      result = mbMiddle;
      return true;
  }
  return false;
}

void InitFormUnit() {
  RegisterSetPropertyType<TDeviceKind>();
  RegisterSetPropertyType<TBorderIcon>();
  RegisterClasses({TFormFactor::StaticClass(), TForm::StaticClass()});
}
void FinFormUnit() { UnRegisterClasses({TFormFactor::StaticClass(), TForm::StaticClass()}); }
const TUnitRegistration FormUnit{{"Fw.Forms", {"Fw.Controls", "Fw.Graphics"}, &InitFormUnit, &FinFormUnit}};

}  // namespace

FW_CLASS_IMPL(TFormFactor, "Fw.Forms")
void TFormFactor::Register(ClassBuilder<TFormFactor>& b) {
  b.PropField("Width", &Self::Width).PropField("Height", &Self::Height).PropField("Devices", &Self::Devices);
}

FW_CLASS_IMPL(TForm, "Fw.Forms")
void TForm::Register(ClassBuilder<TForm>& b) {
  b.Prop("Caption", &Self::GetCaption, &Self::SetCaption)
      .Prop("Left", &Self::GetLeft, &Self::SetLeft)
      .Prop("Top", &Self::GetTop, &Self::SetTop)
      .Prop("ClientWidth", &Self::GetClientWidth, &Self::SetClientWidth)
      .Prop("ClientHeight", &Self::GetClientHeight, &Self::SetClientHeight)
      .Prop("FormFactor", &Self::GetFormFactor)
      .Prop("DesignerMasterStyle", &Self::GetDesignerMasterStyle, &Self::SetDesignerMasterStyle)
      .Prop("Fill", &Self::GetFill, &Self::SetFill)
      .Prop("BorderStyle", &Self::GetBorderStyle, &Self::SetBorderStyle)
      .Prop("BorderIcons", &Self::GetBorderIcons, &Self::SetBorderIcons)
      .Prop("Position", &Self::GetFormPosition, &Self::SetFormPosition)
      .Prop("OnCreate", &Self::GetOnCreate, &Self::SetOnCreate)
      .Prop("OnDestroy", &Self::GetOnDestroy, &Self::SetOnDestroy);
}

TForm::TForm(TComponent* AOwner) : TControl(AOwner) {
  TSdlWindow::TOptions options;
  options.Width = DefaultClientWidth;
  options.Height = DefaultClientHeight;
  options.Visible = false;
  options.Resizable = true;
  options.OpenGL = true;
  FWindow = std::make_unique<TSdlWindow>(options);
  FWindow->OnEvent = [this](const SDL_Event& e) { HandleEvent(e); };
  FCanvas.reset(New<TWindowCanvas>(FWindow.get()));
  FFormFactor.reset(New<TFormFactor>());
  TControl::SetVisible(false);
  TForm::SetBounds(0, 0, DefaultClientWidth, DefaultClientHeight);
  FormList().push_back(this);
}

TForm::~TForm() {
  std::erase(FormList(), this);
  if (FWindow) FWindow->OnEvent = nullptr;
  FCanvas.reset();
  FWindow.reset();
}

void TForm::AfterConstruction() {
  TControl::AfterConstruction();
  // The window exists already: components read from the resource (the 3D viewport) need
  // its handle for the GL context.
  ReadFormResource(this);
  DoCreate();
}

void TForm::BeforeDestruction() {
  try {
    DoDestroy();
  } catch (const std::exception& e) {
    // Destruction goes on: a failing handler must not leave a half-freed form behind.
    Log::d("OnDestroy of " + GetName() + " failed: " + e.what());
  }
  SetCaptured(nullptr);
  FPressed = nullptr;
  TControl::BeforeDestruction();
}

void TForm::SetCaption(const std::string& Value) {
  FCaption = Value;
  if (FWindow) FWindow->SetTitle(Value);
}

void TForm::SetBounds(float X, float Y, float AWidth, float AHeight) {
  // Window coordinates are integers of a limited range: keep the conversions defined.
  auto whole = [](float v, float lo, float hi, float fallback) {
    return std::isfinite(v) ? std::clamp(std::round(v), lo, hi) : fallback;
  };
  X = whole(X, -32768, 32767, 0);
  Y = whole(Y, -32768, 32767, 0);
  AWidth = whole(AWidth, 1, 16384, 1);
  AHeight = whole(AHeight, 1, 16384, 1);
  if (FWindow && FWindow->Window() != nullptr) {
    if (FWindow->Width() != int32_t(AWidth) || FWindow->Height() != int32_t(AHeight))
      FWindow->SetSize(int32_t(AWidth), int32_t(AHeight));
    if (X != FX || Y != FY) SDL_SetWindowPosition(FWindow->Window(), int(X), int(Y));
  }
  TControl::SetBounds(X, Y, AWidth, AHeight);
}

void TForm::SetFill(TAlphaColor Value) {
  if (Value == FFill) return;
  FFill = Value;
  Repaint();
}

void TForm::SetBorderStyle(TFmxFormBorderStyle Value) {
  FBorderStyle = Value;
  if (!FWindow || FWindow->Window() == nullptr) return;
  SDL_SetWindowResizable(FWindow->Window(), Value == TFmxFormBorderStyle::Sizeable ||
                                                    Value == TFmxFormBorderStyle::SizeToolWin
                                                ? SDL_TRUE
                                                : SDL_FALSE);
  SDL_SetWindowBordered(FWindow->Window(), Value == TFmxFormBorderStyle::None ? SDL_FALSE : SDL_TRUE);
}

void TForm::PlaceOnScreen() {
  if (FFormPosition != TFormPosition::ScreenCenter && FFormPosition != TFormPosition::DesktopCenter &&
      FFormPosition != TFormPosition::MainFormCenter && FFormPosition != TFormPosition::OwnerFormCenter)
    return;
  if (!FWindow || FWindow->Window() == nullptr) return;
  const int display = std::max(0, SDL_GetWindowDisplayIndex(FWindow->Window()));
  SDL_Rect screen{};
  if (SDL_GetDisplayBounds(display, &screen) != 0) return;
  SetBounds(float(screen.x + (screen.w - GetClientWidth()) / 2), float(screen.y + (screen.h - GetClientHeight()) / 2),
            FWidth, FHeight);
}

void TForm::SetVisible(bool Value) {
  const bool showing = Value && !GetVisible();
  if (showing) PlaceOnScreen();
  TControl::SetVisible(Value);
  if (!FWindow) return;
  if (Value) {
    FWindow->Show();
    FNeedsPaint = true;
  } else {
    FWindow->Hide();
  }
  if (showing) DoShow();
}

void TForm::BringToFront() {
  if (FWindow && FWindow->Window() != nullptr) SDL_RaiseWindow(FWindow->Window());
}

TModalResult TForm::ShowModal() {
  if (!IsMainThread()) throw EThread("ShowModal must be called on the main thread");
  if (FModal) throw EInvalidOperation("Cannot make a visible window modal");
  FModal = true;
  struct TDone {
    bool& Modal;
    ~TDone() { Modal = false; }
  } done{FModal};
  FModalResult = mrNone;
  TApplication& app = GetApplication();
  Show();
  BringToFront();
  for (;;) {
    if (FModalResult == mrNone) {
      if (app.GetTerminated()) FModalResult = mrCancel;
      else app.HandleMessage();
    }
    if (FModalResult == mrNone) continue;
    TCloseAction action = caHide;
    DoClose(action);
    if (action == caNone) {
      FModalResult = mrNone;
      if (app.GetTerminated()) break;
      continue;
    }
    if (action == caFree) FFreeRequested = true;
    break;
  }
  Hide();
  return FModalResult;
}

void TForm::Close() {
  if (FModal) {
    FModalResult = mrCancel;
    return;
  }
  TCloseAction action = caHide;
  DoClose(action);
  if (action == caNone) return;
  // The application that owns the form, else the global one.
  TApplication* app = dynamic_cast<TApplication*>(Owner());
  if (app == nullptr) app = &GetApplication();
  if (app->GetMainForm() == this) {
    app->Terminate();
    return;
  }
  if (action == caFree) {
    Hide();
    // Freed outside the handler that asked for it (the caller may still be on its stack).
    FFreeRequested = true;
    return;
  }
  Hide();
}

TCanvas* TForm::GetSceneCanvas() { return FCanvas.get(); }

void TForm::AddUpdateRect(const TRectF&) { FNeedsPaint = true; }

void TForm::PaintIfNeeded() {
  if (!FNeedsPaint || !GetVisible()) return;
  PaintScene();
}

void TForm::PaintScene() {
  FNeedsPaint = false;
  if (!FCanvas || !FCanvas->BeginScene()) return;
  struct TEnd {
    TCanvas* Canvas;
    ~TEnd() { Canvas->EndScene(); }
  } end{FCanvas.get()};
  FCanvas->Clear(FFill);
  PaintInternal(FCanvas.get(), TPointF(0, 0));
}

void TForm::SetCaptured(IControl* Value) {
  if (Value == FCaptured) return;
  FCaptured = Value;
  if (Value != nullptr && Value->GetObject() != this) Value->GetObject()->FreeNotification(this);
}

void TForm::Notification(TComponent* AComponent, TOperation Operation) {
  TControl::Notification(AComponent, Operation);
  if (Operation != opRemove) return;
  if (FCaptured != nullptr && FCaptured->GetObject() == AComponent) FCaptured = nullptr;
  if (FPressed != nullptr && FPressed->GetObject() == AComponent) FPressed = nullptr;
}

void TForm::HandleMouse(const SDL_Event& Event) {
  switch (Event.type) {
    case SDL_MOUSEBUTTONDOWN: {
      TMouseButton button;
      if (!ButtonFromSdl(Event.button.button, button)) return;
      FMousePos = TPointF(float(Event.button.x), float(Event.button.y));
      IControl* target = FCaptured != nullptr ? FCaptured : ObjectAtPoint(FMousePos);
      if (target == nullptr) return;
      SetCaptured(target);
      FPressed = target;
      const TPointF p = target->ScreenToLocal(FMousePos);
      TShiftState shift = ShiftFromSdl(SDL_GetMouseState(nullptr, nullptr));
      if (Event.button.clicks >= 2) shift.Include(ssDouble);
      target->MouseDown(button, shift, p.X, p.Y);
      break;
    }
    case SDL_MOUSEMOTION: {
      FMousePos = TPointF(float(Event.motion.x), float(Event.motion.y));
      IControl* target = FCaptured != nullptr ? FCaptured : ObjectAtPoint(FMousePos);
      if (target == nullptr) return;
      const TPointF p = target->ScreenToLocal(FMousePos);
      target->MouseMove(ShiftFromSdl(Event.motion.state), p.X, p.Y);
      break;
    }
    case SDL_MOUSEBUTTONUP: {
      TMouseButton button;
      if (!ButtonFromSdl(Event.button.button, button)) return;
      FMousePos = TPointF(float(Event.button.x), float(Event.button.y));
      IControl* target = FCaptured != nullptr ? FCaptured : ObjectAtPoint(FMousePos);
      IControl* pressed = FPressed;
      SetCaptured(nullptr);
      FPressed = nullptr;
      if (target == nullptr) return;
      const TPointF p = target->ScreenToLocal(FMousePos);
      const TShiftState shift = ShiftFromSdl(SDL_GetMouseState(nullptr, nullptr));
      target->MouseUp(button, shift, p.X, p.Y);
      // The handler may have freed the control; the form's notifications cleared FPressed.
      if (pressed != nullptr && pressed == target && ObjectAtPoint(FMousePos) == target)
        target->MouseClick(button, shift, p.X, p.Y);
      break;
    }
    case SDL_MOUSEWHEEL: {
      IControl* target = ObjectAtPoint(FMousePos);
      if (target == nullptr) return;
      // Unhandled, the wheel goes on to the parents (a list scrolls when its item does not).
      const TShiftState shift = ShiftFromSdl(SDL_GetMouseState(nullptr, nullptr));
      bool handled = false;
      for (TFwObject* o = target->GetObject(); o != nullptr && !handled; o = o->GetParent())
        if (auto* control = dynamic_cast<IControl*>(o)) control->MouseWheel(shift, Event.wheel.y * 120, handled);
      break;
    }
  }
}

void TForm::HandleEvent(const SDL_Event& Event) {
  if (Event.type == SDL_WINDOWEVENT) {
    switch (Event.window.event) {
      case SDL_WINDOWEVENT_CLOSE:
        Close();
        break;
      case SDL_WINDOWEVENT_SIZE_CHANGED:
      case SDL_WINDOWEVENT_RESIZED:
        TControl::SetBounds(FX, FY, float(std::max(1, Event.window.data1)), float(std::max(1, Event.window.data2)));
        FNeedsPaint = true;
        break;
      case SDL_WINDOWEVENT_EXPOSED:
      case SDL_WINDOWEVENT_SHOWN:
        FNeedsPaint = true;
        break;
    }
    return;
  }
  HandleMouse(Event);
}

const std::vector<TForm*>& TForm::Forms() { return FormList(); }

void TForm::PaintAll() {
  const std::vector<TForm*> forms = FormList();
  for (TForm* form : forms) {
    const auto& list = FormList();
    if (std::find(list.begin(), list.end(), form) == list.end()) continue;
    if (form->FFreeRequested) {
      Free(form);
      continue;
    }
    form->PaintIfNeeded();
  }
}

}  // namespace quorvel
