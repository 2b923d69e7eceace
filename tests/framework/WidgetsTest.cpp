// The standard controls on a real form: their default sizes and pictures (golden images),
// what synthetic clicks and wheel turns do to them through the window system's queue, the
// aligned layout with margins, streaming, and modal forms with their results.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "framework/classes/FormText.h"
#include "framework/gui/Application.h"
#include "framework/gui/Dialogs.h"
#include "framework/gui/Form.h"
#include "framework/gui/ListBox.h"
#include "framework/gui/StdCtrls.h"
#include "framework/platform/Platform.h"
#include "framework/rtl/Log.h"
#include "tests/support/FormScript.h"
#include "tests/support/GoldenImage.h"

namespace quorvel {
namespace {

using testkit::ClickAt;
using testkit::ClickOn;
using testkit::TFormScript;
using testkit::WheelAt;

const std::string GoldenDir = std::string(QUORVEL_TEST_DATA_DIR) + "/golden/widgets/";

class Widgets : public ::testing::Test {
protected:
  void SetUp() override {
    PlatformInitialize();
    Form.reset(New<TForm>(nullptr));
    Form->SetBounds(0, 0, 400, 300);
    Form->Show();
  }
  // Runs message passes until the events pushed so far are handled.
  void Pump(int APasses = 2) {
    for (int i = 0; i < APasses; ++i) GetApplication().ProcessMessages();
  }
  template <class T>
  T* Add(float X, float Y, float W = 0, float H = 0) {
    T* control = New<T>(Form.get());
    control->SetParent(Form.get());
    control->SetBounds(X, Y, W > 0 ? W : control->GetWidth(), H > 0 ? H : control->GetHeight());
    return control;
  }
  TOwned<TForm> Form;
};

// ---- Default sizes and pictures ------------------------------------------------------------

TEST_F(Widgets, DefaultSizesAndPicturesMatchTheGoldenImages) {
  struct Case {
    const char* Name;
    std::function<TControl*(TComponent*)> Make;
    float Width, Height;                       // the default size
    std::function<void(TControl*)> Dress;      // what the picture shows
    float PictureWidth, PictureHeight;
  } cases[] = {
      {"label", [](TComponent* o) { return New<TLabel>(o); }, 120, 17,
       [](TControl* c) { static_cast<TLabel*>(c)->SetText("Loading model ..."); }, 160, 24},
      {"button", [](TComponent* o) { return New<TButton>(o); }, 80, 22,
       [](TControl* c) { static_cast<TButton*>(c)->SetText("OK"); }, 120, 32},
      {"checkbox", [](TComponent* o) { return New<TCheckBox>(o); }, 120, 19,
       [](TControl* c) {
         static_cast<TCheckBox*>(c)->SetText("Import Lights");
         static_cast<TCheckBox*>(c)->SetIsChecked(true);
       },
       160, 32},
      {"groupbox", [](TComponent* o) { return New<TGroupBox>(o); }, 120, 100,
       [](TControl* c) { static_cast<TGroupBox*>(c)->SetText("Textures"); }, 160, 60},
      {"edit", [](TComponent* o) { return New<TEdit>(o); }, 100, 22,
       [](TControl* c) { static_cast<TEdit*>(c)->SetText("/models/monkey.obj"); }, 160, 32},
      {"memo", [](TComponent* o) { return New<TMemo>(o); }, 100, 100,
       [](TControl* c) {
         auto* memo = static_cast<TMemo*>(c);
         memo->SetFontSize(10);
         memo->SetText("first line\nsecond line\nthird line");
       },
       160, 60},
      {"listbox", [](TComponent* o) { return New<TListBox>(o); }, 200, 200,
       [](TControl* c) {
         auto* list = static_cast<TListBox*>(c);
         list->GetItems()->SetText("walk.dae\nrun.dae\njump.dae");
         list->SetItemIndex(1);
       },
       160, 80},
      {"combobox", [](TComponent* o) { return New<TComboBox>(o); }, 100, 22,
       [](TControl* c) {
         auto* combo = static_cast<TComboBox*>(c);
         combo->GetItems()->SetText("No Caching\nAll Attributes");
         combo->SetItemIndex(1);
       },
       160, 32},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TOwned<TControl> control(c.Make(nullptr));
    EXPECT_EQ(control->GetWidth(), c.Width);
    EXPECT_EQ(control->GetHeight(), c.Height);
    c.Dress(control.get());
    control->SetBounds(0, 0, c.PictureWidth, c.PictureHeight);
    EXPECT_TRUE(MatchesGoldenImage(testkit::PaintControl(control.get()), int32_t(c.PictureWidth),
                                   int32_t(c.PictureHeight), GoldenDir + c.Name + ".png", {2, 8}));
  }
}

// ---- Mouse ---------------------------------------------------------------------------------

TEST_F(Widgets, ClicksAndWheelTurnsReachTheControlUnderTheMouse) {
  std::vector<std::string> events;
  auto* check = Add<TCheckBox>(10, 10);
  check->OnChange = [&](TObject*) { events.push_back("check " + std::to_string(check->GetIsChecked())); };
  auto* label = Add<TLabel>(10, 40);
  label->SetText("not a target");
  auto* button = Add<TButton>(10, 70);
  button->OnClick = [&](TObject*) { events.push_back("button"); };
  auto* list = Add<TListBox>(200, 10, 150, 68);  // three rows of 22 show
  list->GetItems()->SetText("a\nb\nc\nd\ne\nf");
  list->OnChange = [&](TObject*) { events.push_back("list " + std::to_string(list->GetItemIndex())); };
  auto* memo = Add<TMemo>(200, 100, 150, 60);
  for (int i = 0; i < 20; ++i) memo->GetLines()->Add("line " + std::to_string(i));

  ClickOn(check);
  ClickOn(check);
  ClickOn(label);  // takes no mouse: the form's empty area gets it
  ClickOn(button);
  ClickAt(Form.get(), TPointF(210, 10 + 1 + 22 + 5));  // second row
  Pump();
  EXPECT_EQ(events, (std::vector<std::string>{"check 1", "check 0", "button", "list 1"}));

  struct WheelCase {
    const char* Name;
    TControl* Target;
    int Notches;
    int32_t First;  // first visible line / item after the turn
  } wheel[] = {
      {"memo down three lines a notch", memo, -2, 6},
      {"memo up past the top stops at 0", memo, 5, 0},
      {"memo down past the end stops at the last page", memo, -20, 20 - memo->GetVisibleLineCount()},
      {"list down one item a notch", list, -1, 1},
      {"list down past the end", list, -10, 3},
  };
  for (const WheelCase& c : wheel) {
    SCOPED_TRACE(c.Name);
    const TRectF r = c.Target->GetAbsoluteRect();
    WheelAt(Form.get(), TPointF(r.Left + 5, r.Top + 5), c.Notches);
    Pump();
    EXPECT_EQ(c.Target == memo ? memo->GetFirstVisibleLine() : list->GetFirstVisibleItem(), c.First);
  }
  // A click on a scrolled list picks the row shown there.
  ClickAt(Form.get(), TPointF(210, 10 + 1 + 5));
  Pump();
  EXPECT_EQ(list->GetItemIndex(), 3);
}

TEST_F(Widgets, ComboBoxDropsItsListOverTheFormAndAClickChooses) {
  auto* combo = Add<TComboBox>(20, 20, 160, 32);
  combo->GetItems()->SetText("Unlimited\n128 x 128 px\n256 x 256 px");
  combo->SetItemIndex(0);
  auto* below = Add<TButton>(20, 60, 160, 40);  // under the dropped list
  int belowClicks = 0;
  below->OnClick = [&](TObject*) { ++belowClicks; };

  ClickOn(combo);
  Pump();
  ASSERT_TRUE(combo->GetDroppedDown());
  const TRectF list = combo->GetDropDownRect();
  EXPECT_EQ(list.Top, 52);
  EXPECT_EQ(list.Bottom, 52 + 3 * 22 + 2);
  // The list is above the button: a click on its third row chooses and does not reach it.
  ClickAt(Form.get(), TPointF(40, list.Top + 1 + 2 * 22 + 5));
  Pump();
  EXPECT_FALSE(combo->GetDroppedDown());
  EXPECT_EQ(combo->GetItemIndex(), 2);
  EXPECT_EQ(combo->GetSelected(), "256 x 256 px");
  EXPECT_EQ(belowClicks, 0);

  // A click outside the list closes it and changes nothing.
  ClickOn(combo);
  Pump();
  ASSERT_TRUE(combo->GetDroppedDown());
  ClickAt(Form.get(), TPointF(350, 250));
  Pump();
  EXPECT_FALSE(combo->GetDroppedDown());
  EXPECT_EQ(combo->GetItemIndex(), 2);

  // Near the bottom of the form the list opens upwards.
  combo->SetBounds(20, 250, 160, 32);
  EXPECT_EQ(combo->GetDropDownRect().Bottom, 250);
}

TEST_F(Widgets, ListDeletesKeepTheSelectionOnItsItem) {
  auto* list = Add<TListBox>(0, 0);
  list->GetItems()->SetText("a\nb\nc");
  list->SetItemIndex(2);
  list->DeleteItem(0);
  EXPECT_EQ(list->GetItemIndex(), 1) << "still on c";
  list->DeleteItem(1);
  EXPECT_EQ(list->GetItemIndex(), -1);
  list->DeleteItem(5);  // out of range: nothing
  EXPECT_EQ(list->GetCount(), 1);
  list->SetItemIndex(7);
  EXPECT_EQ(list->GetItemIndex(), -1);
}

// ---- Layout --------------------------------------------------------------------------------

TEST_F(Widgets, AlignedChildrenStackInsideTheirMargins) {
  Form->SetBounds(0, 0, 200, 300);
  auto make = [&](TControl* parent, TAlignLayout align, float size, float margin) {
    auto* c = New<TButton>(Form.get());
    c->GetMargins()->SetAll(margin);
    c->SetBounds(0, 0, size, size);
    c->SetParent(parent);
    c->SetAlign(align);
    return c;
  };
  auto* top1 = make(Form.get(), TAlignLayout::Top, 40, 8);
  auto* top2 = make(Form.get(), TAlignLayout::Top, 20, 0);
  auto* bottom = make(Form.get(), TAlignLayout::Bottom, 30, 8);
  auto* left = make(Form.get(), TAlignLayout::Left, 50, 0);
  auto* client = make(Form.get(), TAlignLayout::Client, 1, 4);
  auto* group = New<TGroupBox>(Form.get());
  group->SetParent(client);
  group->SetAlign(TAlignLayout::Client);
  auto* inner = make(group, TAlignLayout::Top, 32, 8);
  struct Case {
    const char* Name;
    TControl* Control;
    TRectF Bounds;
  } cases[] = {
      {"top with margins", top1, TRectF(8, 8, 192, 48)},
      {"second top below the first's bottom margin", top2, TRectF(0, 56, 200, 76)},
      {"bottom", bottom, TRectF(8, 262, 192, 292)},
      {"left in what is left", left, TRectF(0, 76, 50, 254)},
      {"client fills the rest inside its margins", client, TRectF(54, 80, 196, 250)},
      {"group fills its parent", group, TRectF(0, 0, 142, 170)},
      {"top inside a group starts below the caption band", inner, TRectF(8, 12, 134, 44)},
  };
  auto check = [&](const char* when) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(when) + ": " + c.Name);
      const TRectF b = c.Control->GetBoundsRect();
      EXPECT_EQ(b.Left, c.Bounds.Left);
      EXPECT_EQ(b.Top, c.Bounds.Top);
      EXPECT_EQ(b.Right, c.Bounds.Right);
      EXPECT_EQ(b.Bottom, c.Bounds.Bottom);
    }
  };
  check("built");
  // Moving an aligned control by hand is undone; a resize of the form places everything again.
  top1->SetBounds(50, 50, 10, 40);
  Form->SetBounds(0, 0, 100, 100);
  Form->SetBounds(0, 0, 200, 300);
  check("after moves and resizes");
  // A top control keeps a new height, and the controls below it move.
  top1->SetHeight(50);
  EXPECT_EQ(top2->GetBoundsRect().Top, 66);
}

TEST_F(Widgets, ControlsStreamWithTheirProperties) {
  TOwned<TForm> form(New<TForm>(nullptr));
  form->SetName("Dialog");
  auto* group = New<TGroupBox>(form.get());
  group->SetName("Group");
  group->SetParent(form.get());
  group->SetText("Animations");
  group->GetMargins()->SetAll(8);
  group->SetAlign(TAlignLayout::Top);
  auto* combo = New<TComboBox>(form.get());
  combo->SetName("Caching");
  combo->SetParent(group);
  combo->GetItems()->SetText("No Caching\nAll Attributes");
  combo->SetItemIndex(1);
  auto* button = New<TButton>(form.get());
  button->SetName("OK");
  button->SetParent(form.get());
  button->SetModalResult(mrOk);
  auto* check = New<TCheckBox>(form.get());
  check->SetName("Check");
  check->SetParent(group);
  check->SetIsChecked(true);
  const std::string text = WriteComponentResource(form.get());

  TOwned<TForm> copy(New<TForm>(nullptr));
  ReadComponentResource(copy.get(), text);
  auto* group2 = dynamic_cast<TGroupBox*>(copy->FindComponent("Group"));
  auto* combo2 = dynamic_cast<TComboBox*>(copy->FindComponent("Caching"));
  auto* button2 = dynamic_cast<TButton*>(copy->FindComponent("OK"));
  auto* check2 = dynamic_cast<TCheckBox*>(copy->FindComponent("Check"));
  ASSERT_TRUE(group2 && combo2 && button2 && check2) << text;
  EXPECT_EQ(group2->GetText(), "Animations");
  EXPECT_EQ(group2->GetMargins()->GetLeft(), 8);
  EXPECT_EQ(group2->GetAlign(), TAlignLayout::Top);
  EXPECT_EQ(combo2->GetParent(), group2);
  EXPECT_EQ(combo2->GetItems()->Count(), 2);
  EXPECT_EQ(combo2->GetItemIndex(), 1) << text;
  EXPECT_EQ(button2->GetModalResult(), mrOk);
  EXPECT_TRUE(check2->GetIsChecked());
}

// ---- Modal forms ---------------------------------------------------------------------------

TEST_F(Widgets, ModalLoopEndsWithTheResultOfAButtonOrTheCloseBox) {
  TOwned<TForm> dialog(New<TForm>(nullptr));
  dialog->SetBorderStyle(TFmxFormBorderStyle::Single);
  dialog->SetFormPosition(TFormPosition::ScreenCenter);
  dialog->SetBounds(0, 0, 300, 200);
  auto* ok = New<TButton>(dialog.get());
  ok->SetParent(dialog.get());
  ok->SetBounds(10, 10, 80, 30);
  ok->SetModalResult(mrOk);
  std::vector<std::string> closes;
  TCloseAction answer = caHide;
  dialog->OnClose = [&](TObject*, TCloseAction& Action) {
    closes.push_back("close " + std::to_string(dialog->GetModalResult()));
    Action = answer;
    answer = caHide;
  };
  int shows = 0;
  dialog->OnShow = [&](TObject*) { ++shows; };

  {
    TFormScript script({[&] { ClickOn(ok); }});
    EXPECT_EQ(dialog->ShowModal(), mrOk);
    EXPECT_TRUE(script.Done());
  }
  EXPECT_FALSE(dialog->GetVisible());
  EXPECT_FALSE(dialog->GetIsModal());
  // Centred on the display.
  SDL_Rect screen{};
  ASSERT_EQ(SDL_GetDisplayBounds(0, &screen), 0);
  EXPECT_EQ(dialog->GetLeft(), screen.x + (screen.w - 300) / 2);
  EXPECT_EQ(dialog->GetTop(), screen.y + (screen.h - 200) / 2);

  // The close box ends the loop with mrCancel; an OnClose answering caNone keeps it going.
  answer = caNone;
  {
    TFormScript script({[&] { testkit::PressCloseBox(dialog.get()); }, [] {},
                        [&] { testkit::PressCloseBox(dialog.get()); }});
    EXPECT_EQ(dialog->ShowModal(), mrCancel);
  }
  EXPECT_EQ(closes, (std::vector<std::string>{"close 1", "close 2", "close 2"}));
  EXPECT_EQ(shows, 2);

  // caFree asks for the form to go at the next pass.
  TForm* freed = New<TForm>(nullptr);
  freed->OnClose = [](TObject*, TCloseAction& Action) { Action = caFree; };
  freed->SetModalResult(mrNone);
  {
    TFormScript script({[&] { freed->SetModalResult(mrYes); }});
    EXPECT_EQ(freed->ShowModal(), mrYes);
  }
  EXPECT_TRUE(freed->GetFreeRequested());
  Pump(1);
  const auto& forms = TForm::Forms();
  EXPECT_EQ(std::find(forms.begin(), forms.end(), freed), forms.end());
}

// ---- The open dialog -----------------------------------------------------------------------

TEST_F(Widgets, OpenDialogAsksTheInstalledChooser) {
  const std::string dir = std::string(QUORVEL_TEST_DATA_DIR);
  const std::string real = dir + "/BitmapRgba4x3.png";
  TOwned<TOpenDialog> dialog(New<TOpenDialog>(nullptr));
  dialog->SetTitle("Select an animation file ...");

  TOpenDialogHandler previous = SetOpenDialogHandler(nullptr);
  {
    TLogCapture log;
    EXPECT_FALSE(dialog->Execute());
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_NE(log.Lines()[0].find("Select an animation file ..."), std::string::npos) << log.Lines()[0];
  }
  struct Case {
    const char* Name;
    TOpenOptions Options;
    std::vector<std::string> Chosen;
    bool Answer;
    std::vector<std::string> Files;
  } cases[] = {
      {"several files", {ofAllowMultiSelect}, {real, dir + "/missing.dae"}, true, {real, dir + "/missing.dae"}},
      {"files must exist", {ofAllowMultiSelect, ofFileMustExist}, {real, dir + "/missing.dae"}, true, {real}},
      {"paths must exist", {ofPathMustExist}, {dir + "/nowhere/a.dae"}, false, {}},
      {"one file without multi-select", {}, {real, real}, true, {real}},
      {"cancelled", {}, {}, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    dialog->SetOptions(c.Options);
    SetOpenDialogHandler([&](TOpenDialog& d) {
      EXPECT_EQ(d.GetTitle(), "Select an animation file ...");
      d.Files() = c.Chosen;
      return !c.Chosen.empty();
    });
    EXPECT_EQ(dialog->Execute(), c.Answer);
    EXPECT_EQ(dialog->Files(), c.Files);
    if (c.Answer) {
      EXPECT_EQ(dialog->GetFileName(), c.Files[0]);
    }
  }
  SetOpenDialogHandler(previous);
}

}  // namespace
}  // namespace quorvel
