#pragma once
// TForm: a top-level window (a TSdlWindow) holding controls and every component it owns.
//
// Creation: the constructor makes the native window (hidden, GL-capable, so the engine can
// make its context on it while the form's resource is read); AfterConstruction reads the
// form resource registered under the form's class name (if any) and then fires OnCreate.
// The form is the scene of its controls: it paints them on its window canvas at the next
// message pass after a Repaint, and routes the window's mouse events to them. Closing the
// main form ends Application's Run.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/gui/Control.h"
#include "framework/math/AlphaColor.h"
#include "framework/platform/SdlWindow.h"

union SDL_Event;

namespace quorvel {

class TWindowCanvas;

enum TDeviceKind : uint8_t { Desktop, iPhone, iPad };
FW_ENUM(TDeviceKind, Desktop, iPhone, iPad)
using TDeviceKinds = TSet<TDeviceKind>;

enum TCloseAction : uint8_t { caNone, caHide, caFree, caMinimize };
FW_ENUM(TCloseAction, caNone, caHide, caFree, caMinimize)
using TCloseEvent = std::function<void(TObject* Sender, TCloseAction& Action)>;

enum class TFmxFormBorderStyle : uint8_t { None = 0, Single = 1, Sizeable = 2, ToolWindow = 3, SizeToolWin = 4 };
FW_ENUM(TFmxFormBorderStyle, None, Single, Sizeable, ToolWindow, SizeToolWin)

enum TBorderIcon : uint8_t { biSystemMenu, biMinimize, biMaximize, biHelp };
FW_ENUM(TBorderIcon, biSystemMenu, biMinimize, biMaximize, biHelp)
using TBorderIcons = TSet<TBorderIcon>;

enum class TFormPosition : uint8_t {
  Designed = 0,
  Default = 1,
  DefaultPosOnly = 2,
  DefaultSizeOnly = 3,
  ScreenCenter = 4,
  DesktopCenter = 5,
  MainFormCenter = 6,
  OwnerFormCenter = 7
};
FW_ENUM(TFormPosition, Designed, Default, DefaultPosOnly, DefaultSizeOnly, ScreenCenter, DesktopCenter,
        MainFormCenter, OwnerFormCenter)

// What a modal form answers; any other value is the caller's own.
using TModalResult = int32_t;
inline constexpr TModalResult mrNone = 0;
inline constexpr TModalResult mrOk = 1;
inline constexpr TModalResult mrCancel = 2;
inline constexpr TModalResult mrAbort = 3;
inline constexpr TModalResult mrRetry = 4;
inline constexpr TModalResult mrIgnore = 5;
inline constexpr TModalResult mrYes = 6;
inline constexpr TModalResult mrNo = 7;

// Design-time layout hints; stored only.
class TFormFactor : public TPersistent {
  FW_CLASS(TFormFactor, TPersistent)

public:
  TFormFactor() = default;
  int32_t Width = 0;
  int32_t Height = 0;
  TDeviceKinds Devices;
};

class TForm : public TControl, public IScene {
  FW_CLASS(TForm, TControl)

public:
  static constexpr int32_t DefaultClientWidth = 640;
  static constexpr int32_t DefaultClientHeight = 480;

  explicit TForm(TComponent* AOwner);
  ~TForm() override;

  void AfterConstruction() override;
  void BeforeDestruction() override;

  const std::string& GetCaption() const { return FCaption; }
  void SetCaption(const std::string& Value);
  int32_t GetLeft() const { return int32_t(FX); }
  void SetLeft(int32_t Value) { SetBounds(float(Value), FY, FWidth, FHeight); }
  int32_t GetTop() const { return int32_t(FY); }
  void SetTop(int32_t Value) { SetBounds(FX, float(Value), FWidth, FHeight); }
  int32_t GetClientWidth() const { return int32_t(FWidth); }
  void SetClientWidth(int32_t Value) { SetBounds(FX, FY, float(Value), FHeight); }
  int32_t GetClientHeight() const { return int32_t(FHeight); }
  void SetClientHeight(int32_t Value) { SetBounds(FX, FY, FWidth, float(Value)); }
  // Position and client size, rounded to whole pixels; the native window follows. Sizes
  // are kept within 1..16384, positions within -32768..32767.
  void SetBounds(float X, float Y, float AWidth, float AHeight) override;
  TFormFactor* GetFormFactor() const { return FFormFactor.get(); }
  int32_t GetDesignerMasterStyle() const { return FDesignerMasterStyle; }
  void SetDesignerMasterStyle(int32_t Value) { FDesignerMasterStyle = Value; }
  // The colour the form clears to before painting its controls.
  TAlphaColor GetFill() const { return FFill; }
  void SetFill(TAlphaColor Value);

  // Sizeable and SizeToolWin windows can be resized by the user; None has no frame. The
  // window system draws the frame, so the icons are stored only.
  TFmxFormBorderStyle GetBorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TFmxFormBorderStyle Value);
  TBorderIcons GetBorderIcons() const { return FBorderIcons; }
  void SetBorderIcons(TBorderIcons Value) { FBorderIcons = Value; }
  // The published "Position" (named apart from the control's Position object in C++): where
  // Show puts the window. The centred ones use the display's middle (the screen is the
  // desktop here, and forms have no owner form to centre on).
  TFormPosition GetFormPosition() const { return FFormPosition; }
  void SetFormPosition(TFormPosition Value) { FFormPosition = Value; }

  // Showing a hidden form places it (Position) and then runs OnShow.
  void SetVisible(bool Value) override;
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  // Raises the window above the others.
  void BringToFront();
  // OnClose decides (caHide by default); the main form's close terminates the application;
  // caFree frees the form at the next message pass. A modal form only ends its loop with
  // mrCancel: OnClose runs when the loop ends.
  void Close();

  // Shows the form and runs a nested message loop until ModalResult is set (or the
  // application terminates: mrCancel). Then OnClose runs with caHide as the default action:
  // caNone continues the loop, caFree frees the form at the next message pass (or when its
  // owner frees it). Answers the modal result. Main thread only; not re-entrant per form.
  TModalResult ShowModal();
  TModalResult GetModalResult() const { return FModalResult; }
  void SetModalResult(TModalResult Value) { FModalResult = Value; }
  bool GetIsModal() const { return FModal; }
  // Whether a close asked for the form to be freed and it has not been yet.
  bool GetFreeRequested() const { return FFreeRequested; }

  TSdlWindow* GetWindow() const { return FWindow.get(); }
  HWND GetHandle() const { return FWindow ? FWindow->Handle() : nullptr; }
  TWindowCanvas* GetWindowCanvas() const { return FCanvas.get(); }

  // IScene
  TCanvas* GetSceneCanvas() override;
  float GetSceneScale() const override { return 1; }
  void AddUpdateRect(const TRectF& R) override;
  TFwObject* GetSceneObject() override { return this; }

  // Paints now when something asked for it (Repaint) and the form is visible.
  void PaintIfNeeded();
  bool GetNeedsPaint() const { return FNeedsPaint; }
  // Paints the whole form now (clear to Fill, then the controls) and shows it.
  void PaintScene();
  // The window's events (DispatchEvent routes them here).
  void HandleEvent(const SDL_Event& Event);

  // Every form alive, in creation order; PaintAll paints those that need it and frees the
  // forms whose close asked for it.
  static const std::vector<TForm*>& Forms();
  static void PaintAll();

  TNotifyEvent OnCreate;
  TNotifyEvent OnDestroy;
  TNotifyEvent OnShow;
  TCloseEvent OnClose;

  const TNotifyEvent& GetOnCreate() const { return OnCreate; }
  void SetOnCreate(const TNotifyEvent& Value) { OnCreate = Value; }
  const TNotifyEvent& GetOnDestroy() const { return OnDestroy; }
  void SetOnDestroy(const TNotifyEvent& Value) { OnDestroy = Value; }

  void Notification(TComponent* AComponent, TOperation Operation) override;

protected:
  virtual void DoCreate() { OnCreate(this); }
  virtual void DoDestroy() { OnDestroy(this); }
  virtual void DoShow() { OnShow(this); }
  virtual void DoClose(TCloseAction& Action) {
    if (OnClose) OnClose(this, Action);
  }

private:
  void SetCaptured(IControl* Value);
  void HandleMouse(const SDL_Event& Event);
  void PlaceOnScreen();

  std::unique_ptr<TSdlWindow> FWindow;
  TOwned<TWindowCanvas> FCanvas;
  TOwned<TFormFactor> FFormFactor;
  std::string FCaption;
  int32_t FDesignerMasterStyle = 0;
  TAlphaColor FFill = claWhite;
  bool FNeedsPaint = true;
  bool FFreeRequested = false;
  bool FModal = false;
  TModalResult FModalResult = mrNone;
  TFmxFormBorderStyle FBorderStyle = TFmxFormBorderStyle::Sizeable;
  TBorderIcons FBorderIcons{biSystemMenu, biMinimize, biMaximize};
  TFormPosition FFormPosition = TFormPosition::DefaultPosOnly;
  IControl* FCaptured = nullptr;   // receives the mouse between button down and up
  IControl* FPressed = nullptr;    // where the button went down (for MouseClick)
  TPointF FMousePos;
};

}  // namespace quorvel
