// TForm and TControl: the window exists before the form resource is read, form properties
// reach the window, Client alignment and Resize, painting on demand, mouse routing with
// capture and click, and closing (the main form ends Run).
#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/classes/FormText.h"
#include "framework/gui/Application.h"
#include "framework/gui/Form.h"
#include "framework/gui/Timer.h"
#include "framework/platform/Platform.h"

namespace quorvel {
namespace form_test {

std::vector<std::string> GEvents;

// Records what it sees while the form is built and used.
class TGuiProbe : public TControl {
  FW_CLASS(TGuiProbe, TControl)

public:
  explicit TGuiProbe(TComponent* AOwner) : TControl(AOwner) {
    auto* form = dynamic_cast<TForm*>(AOwner);
    WindowAtCreation = form != nullptr && form->GetWindow() != nullptr && form->GetWindow()->Window() != nullptr;
  }
  void Loaded() override {
    TControl::Loaded();
    GEvents.push_back("Probe.Loaded");
  }

  bool WindowAtCreation = false;
  int Resizes = 0;
  int Paints = 0;
  TSizeF LastResize;
  std::vector<std::string> Mouse;

protected:
  void Resize() override {
    ++Resizes;
    LastResize = TSizeF(GetWidth(), GetHeight());
    TControl::Resize();
  }
  void Paint() override { ++Paints; }
};
FW_CLASS_IMPL(TGuiProbe, "Quorvel.Test.Gui")
FW_CLASS_NO_MEMBERS(TGuiProbe)

class TGuiTestForm1 : public TForm {
  FW_CLASS(TGuiTestForm1, TForm)

public:
  using TForm::TForm;
  void FormCreate(TObject* Sender) {
    GEvents.push_back(std::string("FormCreate ") + (Sender == this ? "self" : "other"));
    if (FailCreate) throw EConvertError("FormCreate failed");
  }
  static inline bool FailCreate = false;
  void Timer1Timer(TObject*) { ++Ticks; }

  TGuiProbe* Probe1 = nullptr;
  TTimer* Timer1 = nullptr;
  int Ticks = 0;
};
FW_CLASS_IMPL(TGuiTestForm1, "Quorvel.Test.Gui")
void TGuiTestForm1::Register(ClassBuilder<TGuiTestForm1>& b) {
  b.Method("FormCreate", &Self::FormCreate)
      .Method("Timer1Timer", &Self::Timer1Timer)
      .Field("Probe1", &Self::Probe1, Reference)
      .Field("Timer1", &Self::Timer1, Reference);
}

const char* const KGuiForm = R"(object GuiTestForm1: TGuiTestForm1
  Left = 0
  Top = 0
  Caption = 'Gui test'
  ClientHeight = 200
  ClientWidth = 320
  FormFactor.Width = 320
  FormFactor.Height = 480
  FormFactor.Devices = [Desktop]
  OnCreate = FormCreate
  DesignerMasterStyle = 0
  object Probe1: TGuiProbe
    Align = Client
    Size.Width = 640.000000000000000000
    Size.Height = 480.000000000000000000
    Size.PlatformDefault = False
  end
  object Timer1: TTimer
    Interval = 16
    OnTimer = Timer1Timer
  end
end
)";

class FormTest : public ::testing::Test {
protected:
  void SetUp() override {
    PlatformInitialize();
    RegisterClasses({TGuiProbe::StaticClass(), TGuiTestForm1::StaticClass()});
    GEvents.clear();
  }
  void TearDown() override {
    UnregisterFormResource("TGuiTestForm1");
    UnRegisterClasses({TGuiProbe::StaticClass(), TGuiTestForm1::StaticClass()});
  }
  static void Push(SDL_Event event) { ASSERT_EQ(SDL_PushEvent(&event), 1) << SDL_GetError(); }
  static SDL_Event Button(TForm& form, bool down, int x, int y) {
    SDL_Event e{};
    e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    e.button.windowID = form.GetWindow()->WindowID();
    e.button.button = SDL_BUTTON_LEFT;
    e.button.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.button.clicks = 1;
    e.button.x = x;
    e.button.y = y;
    return e;
  }
  static SDL_Event Motion(TForm& form, int x, int y) {
    SDL_Event e{};
    e.type = SDL_MOUSEMOTION;
    e.motion.windowID = form.GetWindow()->WindowID();
    e.motion.x = x;
    e.motion.y = y;
    return e;
  }
  static SDL_Event WindowEvent(TForm& form, SDL_WindowEventID id, int data1 = 0, int data2 = 0) {
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.windowID = form.GetWindow()->WindowID();
    e.window.event = id;
    e.window.data1 = data1;
    e.window.data2 = data2;
    return e;
  }
};

TEST_F(FormTest, ResourceIsReadIntoTheWindowedFormBeforeOnCreate) {
  RegisterFormResource("TGuiTestForm1", KGuiForm);
  TOwned<TApplication> app(New<TApplication>(nullptr));
  TGuiTestForm1* form = nullptr;
  app->CreateForm(form);
  ASSERT_NE(form, nullptr);
  EXPECT_EQ(app->GetMainForm(), form);

  ASSERT_NE(form->Probe1, nullptr);
  EXPECT_TRUE(form->Probe1->WindowAtCreation) << "the window exists while the resource is read";
  EXPECT_EQ(GEvents, (std::vector<std::string>{"Probe.Loaded", "FormCreate self"})) << "OnCreate comes last";
  EXPECT_EQ(form->GetCaption(), "Gui test");
  EXPECT_EQ(form->GetWindow()->Title(), "Gui test");
  EXPECT_EQ(form->GetWindow()->Width(), 320);
  EXPECT_EQ(form->GetWindow()->Height(), 200);
  EXPECT_EQ(form->GetFormFactor()->Devices, TDeviceKinds{Desktop});
  EXPECT_EQ(form->GetHandle(), form->GetWindow()->Handle());
  EXPECT_FALSE(form->GetVisible()) << "shown by Run or Show";

  // Client alignment wins over the streamed size; Resize saw the final size.
  EXPECT_EQ(form->Probe1->GetBoundsRect(), TRectF(0, 0, 320, 200));
  EXPECT_GE(form->Probe1->Resizes, 1);
  EXPECT_EQ(form->Probe1->LastResize, TSizeF(320, 200));

  ASSERT_NE(form->Timer1, nullptr);
  EXPECT_EQ(form->Timer1->GetInterval(), 16u);
  EXPECT_TRUE(form->Timer1->GetEnabled());
  EXPECT_EQ(form->Timer1->GetOnTimer().MethodName(), "Timer1Timer");
  form->Timer1->GetOnTimer()(form->Timer1);
  EXPECT_EQ(form->Ticks, 1);

  // OnCreate failing after the tree was read: the exception reaches CreateForm, the form and
  // everything it read are freed (ASan watches the teardown), the reference is cleared.
  TOwned<TApplication> other(New<TApplication>(nullptr));  // form names are unique per owner
  TGuiTestForm1* failing = nullptr;
  TGuiTestForm1::FailCreate = true;
  EXPECT_THROW(other->CreateForm(failing), EConvertError);
  TGuiTestForm1::FailCreate = false;
  EXPECT_EQ(failing, nullptr);
  EXPECT_EQ(other->GetComponentCount(), 0);
  EXPECT_EQ(other->GetMainForm(), nullptr);
}

TForm** GFormRef = nullptr;  // the reference CreateForm fills
TForm* GSeenInCreate = nullptr;

class TSeeingForm : public TForm {
public:
  using TForm::TForm;

protected:
  void DoCreate() override { GSeenInCreate = *GFormRef; }
};

class TFailingForm : public TForm {
public:
  using TForm::TForm;

protected:
  void DoCreate() override {
    GSeenInCreate = *GFormRef;
    throw EConvertError("no form today");
  }
};

TEST_F(FormTest, CreateFormSetsTheReferenceEarlyAndClearsItWhenCreationFails) {
  TOwned<TApplication> app(New<TApplication>(nullptr));
  TSeeingForm* form = nullptr;
  GFormRef = reinterpret_cast<TForm**>(&form);
  app->CreateForm(form);
  EXPECT_EQ(GSeenInCreate, form) << "OnCreate sees the reference";
  EXPECT_EQ(app->GetComponentCount(), 1);

  TFailingForm* failing = nullptr;
  GFormRef = reinterpret_cast<TForm**>(&failing);
  GSeenInCreate = nullptr;
  EXPECT_THROW(app->CreateForm(failing), EConvertError);
  EXPECT_NE(GSeenInCreate, nullptr);
  EXPECT_EQ(failing, nullptr) << "cleared again";
  EXPECT_EQ(app->GetComponentCount(), 1) << "the failed form left its owner";
  EXPECT_EQ(app->GetMainForm(), form);
  GFormRef = nullptr;
}

TEST_F(FormTest, WindowResizeRealignsAndClientSizeResizesTheWindow) {
  TOwned<TForm> form(New<TForm>(nullptr));
  EXPECT_EQ(form->GetClientWidth(), TForm::DefaultClientWidth);
  auto* client = New<TGuiProbe>(form.get());
  client->SetParent(form.get());
  client->SetAlign(TAlignLayout::Client);
  auto* fixed = New<TGuiProbe>(form.get());
  fixed->SetParent(form.get());
  fixed->SetBounds(5, 6, 30, 40);
  EXPECT_EQ(client->GetBoundsRect(), TRectF(0, 0, 640, 480));

  form->SetClientWidth(300);
  form->SetClientHeight(100);
  EXPECT_EQ(form->GetWindow()->Width(), 300);
  EXPECT_EQ(form->GetWindow()->Height(), 100);
  EXPECT_EQ(client->LastResize, TSizeF(300, 100));
  // Explicit sizes of a Client-aligned control do not stick.
  client->SetWidth(10);
  EXPECT_EQ(client->GetWidth(), 300);

  // The user resizes the window.
  Push(WindowEvent(*form, SDL_WINDOWEVENT_SIZE_CHANGED, 200, 150));
  Application->ProcessMessages();
  EXPECT_EQ(form->GetClientWidth(), 200);
  EXPECT_EQ(client->LastResize, TSizeF(200, 150));
  EXPECT_EQ(fixed->GetBoundsRect(), TRectF(5, 6, 35, 46)) << "unaligned controls keep their bounds";
  EXPECT_EQ(fixed->Resizes, 1);
  // Negative sizes become empty.
  fixed->SetBounds(0, 0, -3, 4);
  EXPECT_EQ(fixed->GetWidth(), 0);
}

TEST_F(FormTest, PaintsOnlyWhenAskedAndOnlyVisibleControls) {
  TOwned<TForm> form(New<TForm>(nullptr));
  auto* probe = New<TGuiProbe>(form.get());
  probe->SetParent(form.get());
  probe->SetBounds(0, 0, 10, 10);
  Application->ProcessMessages();
  EXPECT_EQ(probe->Paints, 0) << "a hidden form does not paint";
  form->Show();
  Application->ProcessMessages();
  EXPECT_EQ(probe->Paints, 1);
  Application->ProcessMessages();
  EXPECT_EQ(probe->Paints, 1) << "nothing asked for a repaint";
  probe->Repaint();
  Application->ProcessMessages();
  EXPECT_EQ(probe->Paints, 2);
  probe->SetVisible(false);
  Application->ProcessMessages();
  EXPECT_EQ(probe->Paints, 2);
  EXPECT_FALSE(probe->GetParentedVisible());
  probe->SetVisible(true);
  EXPECT_TRUE(probe->GetParentedVisible()) << "a form's own visibility does not count";
}

TEST_F(FormTest, MouseGoesToTheControlUnderItWithCaptureAndClick) {
  TOwned<TForm> form(New<TForm>(nullptr));
  form->SetClientWidth(100);
  form->SetClientHeight(100);
  form->Show();
  auto* panel = New<TGuiProbe>(form.get());
  panel->SetParent(form.get());
  panel->SetBounds(10, 10, 60, 60);
  auto* button = New<TGuiProbe>(form.get());
  button->SetParent(panel);
  button->SetBounds(20, 20, 20, 10);
  auto record = [](TGuiProbe* p, const std::string& name) {
    p->OnMouseDown = [p, name](TObject*, TMouseButton b, TShiftState, float x, float y) {
      p->Mouse.push_back(name + " down " + std::to_string(int(b)) + " " + std::to_string(int(x)) + "," +
                         std::to_string(int(y)));
    };
    p->OnMouseMove = [p, name](TObject*, TShiftState, float x, float y) {
      p->Mouse.push_back(name + " move " + std::to_string(int(x)) + "," + std::to_string(int(y)));
    };
    p->OnMouseUp = [p, name](TObject*, TMouseButton, TShiftState, float x, float y) {
      p->Mouse.push_back(name + " up " + std::to_string(int(x)) + "," + std::to_string(int(y)));
    };
    p->OnClick = [p, name](TObject*) { p->Mouse.push_back(name + " click"); };
  };
  record(panel, "panel");
  record(button, "button");

  // Press and release on the button: local coordinates, then a click.
  Push(Button(*form, true, 35, 35));
  Push(Button(*form, false, 36, 36));
  Application->ProcessMessages();
  EXPECT_EQ(button->Mouse, (std::vector<std::string>{"button down 0 5,5", "button up 6,6", "button click"}));
  EXPECT_TRUE(panel->Mouse.empty());

  // Pressed on the button, dragged and released outside: the button keeps the mouse, no click.
  button->Mouse.clear();
  Push(Button(*form, true, 35, 35));
  Push(Motion(*form, 80, 90));
  Push(Button(*form, false, 80, 90));
  Push(Motion(*form, 15, 15));
  Application->ProcessMessages();
  EXPECT_EQ(button->Mouse, (std::vector<std::string>{"button down 0 5,5", "button move 50,60", "button up 50,60"}));
  EXPECT_EQ(panel->Mouse, (std::vector<std::string>{"panel move 5,5"})) << "capture ends with the release";

  // HitTest off passes the mouse to the control below; invisible controls are not hit.
  panel->Mouse.clear();
  button->SetHitTest(false);
  Push(Button(*form, true, 35, 35));
  Push(Button(*form, false, 35, 35));
  Application->ProcessMessages();
  EXPECT_EQ(panel->Mouse, (std::vector<std::string>{"panel down 0 25,25", "panel up 25,25", "panel click"}));
  // A drop target is found the same way.
  EXPECT_EQ(form->FindTarget(TPointF(35, 35), TDragObject{}), static_cast<IControl*>(panel));
  button->SetHitTest(true);
  EXPECT_EQ(form->FindTarget(TPointF(35, 35), TDragObject{}), static_cast<IControl*>(button));
  button->SetHitTest(false);
  panel->SetVisible(false);
  EXPECT_EQ(form->ObjectAtPoint(TPointF(35, 35)), static_cast<IControl*>(form.get()));
  EXPECT_EQ(form->FindTarget(TPointF(35, 35), TDragObject{}), static_cast<IControl*>(form.get()));

  // A control freed while it holds the mouse is forgotten.
  panel->SetVisible(true);
  Push(Button(*form, true, 15, 15));
  Application->ProcessMessages();
  Free(panel);
  Push(Motion(*form, 20, 20));
  Push(Button(*form, false, 20, 20));
  Application->ProcessMessages();
}

TEST_F(FormTest, TheWheelGoesToTheControlUnderTheMouseAndUpItsParentsUntilHandled) {
  TOwned<TForm> form(New<TForm>(nullptr));
  form->SetClientWidth(100);
  form->SetClientHeight(100);
  form->Show();
  auto* panel = New<TGuiProbe>(form.get());
  panel->SetParent(form.get());
  panel->SetBounds(10, 10, 60, 60);
  auto* button = New<TGuiProbe>(form.get());
  button->SetParent(panel);
  button->SetBounds(20, 20, 20, 10);
  bool buttonHandles = false;
  auto record = [&buttonHandles](TGuiProbe* p, const std::string& name) {
    p->OnMouseWheel = [p, name, &buttonHandles](TObject* sender, TShiftState shift, int32_t delta, bool& handled) {
      p->Mouse.push_back(name + " wheel " + std::to_string(delta) + (shift.Contains(ssShift) ? " shift" : "") +
                         (sender == p ? "" : " (other sender)"));
      if (name == "button") handled = buttonHandles;
    };
  };
  record(panel, "panel");
  record(button, "button");
  auto wheel = [&](int notches) {
    SDL_Event e{};
    e.type = SDL_MOUSEWHEEL;
    e.wheel.windowID = form->GetWindow()->WindowID();
    e.wheel.y = notches;
    Push(e);
  };

  struct Case {
    bool handles;
    SDL_Keymod mod;
    int notches;
    std::vector<std::string> button, panel;
  };
  const Case cases[] = {
      {false, KMOD_NONE, 1, {"button wheel 120"}, {"panel wheel 120"}},
      {true, KMOD_NONE, -2, {"button wheel -240"}, {}},
      {true, KMOD_LSHIFT, 1, {"button wheel 120 shift"}, {}},
  };
  Push(Motion(*form, 35, 35));
  for (const Case& c : cases) {
    button->Mouse.clear();
    panel->Mouse.clear();
    buttonHandles = c.handles;
    SDL_SetModState(c.mod);
    wheel(c.notches);
    Application->ProcessMessages();
    SDL_SetModState(KMOD_NONE);
    EXPECT_EQ(button->Mouse, c.button) << c.notches;
    EXPECT_EQ(panel->Mouse, c.panel) << c.notches;
  }
}

TEST_F(FormTest, ClosingTheMainFormEndsRunAndOtherFormsFollowOnClose) {
  TOwned<TApplication> app(New<TApplication>(nullptr));
  TForm* main = nullptr;
  TForm* second = nullptr;
  app->CreateForm(main);
  app->CreateForm(second);
  second->Show();

  // caNone keeps a form open; caFree frees it at the next pass.
  second->OnClose = [](TObject*, TCloseAction& action) { action = caNone; };
  Push(WindowEvent(*second, SDL_WINDOWEVENT_CLOSE));
  app->ProcessMessages();
  EXPECT_TRUE(second->GetVisible());
  second->OnClose = [](TObject*, TCloseAction& action) { action = caFree; };
  second->Close();
  EXPECT_FALSE(second->GetVisible());
  EXPECT_EQ(app->GetComponentCount(), 2);
  app->ProcessMessages();
  EXPECT_EQ(app->GetComponentCount(), 1) << "freed at the next pass";

  // The window system's close of the main form ends Run.
  Push(WindowEvent(*main, SDL_WINDOWEVENT_CLOSE));
  app->Run();
  EXPECT_TRUE(app->GetTerminated());
  EXPECT_FALSE(app->GetRunning());
  EXPECT_TRUE(main->GetVisible()) << "Run showed the main form";
}

}  // namespace form_test
}  // namespace quorvel
