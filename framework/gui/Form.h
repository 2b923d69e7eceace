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

  void SetVisible(bool Value) override;
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  // OnClose decides (caHide by default); the main form's close terminates the application;
  // caFree frees the form at the next message pass.
  void Close();

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
  TCloseEvent OnClose;

  const TNotifyEvent& GetOnCreate() const { return OnCreate; }
  void SetOnCreate(const TNotifyEvent& Value) { OnCreate = Value; }
  const TNotifyEvent& GetOnDestroy() const { return OnDestroy; }
  void SetOnDestroy(const TNotifyEvent& Value) { OnDestroy = Value; }

  void Notification(TComponent* AComponent, TOperation Operation) override;

protected:
  virtual void DoCreate() { OnCreate(this); }
  virtual void DoDestroy() { OnDestroy(this); }

private:
  void SetCaptured(IControl* Value);
  void HandleMouse(const SDL_Event& Event);

  std::unique_ptr<TSdlWindow> FWindow;
  TOwned<TWindowCanvas> FCanvas;
  TOwned<TFormFactor> FFormFactor;
  std::string FCaption;
  int32_t FDesignerMasterStyle = 0;
  TAlphaColor FFill = claWhite;
  bool FNeedsPaint = true;
  bool FFreeRequested = false;
  IControl* FCaptured = nullptr;   // receives the mouse between button down and up
  IControl* FPressed = nullptr;    // where the button went down (for MouseClick)
  TPointF FMousePos;
};

}  // namespace quorvel
