// The load-options dialog driven as a user would (clicks queued into its modal loop), its
// controls against the texts and sizes it must have, and the log window.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "framework/gui/Application.h"
#include "framework/gui/Dialogs.h"
#include "framework/platform/Platform.h"
#include "lib/formats/UtilsDialogs.h"
#include "tests/support/ChildRun.h"
#include "tests/support/FormScript.h"
#include "tests/support/GoldenImage.h"

namespace quorvel {
namespace {

using testkit::ClickAt;
using testkit::ClickOn;
using testkit::NewestForm;
using testkit::PressCloseBox;
using testkit::TFormScript;

const std::string DialogsDataDir = std::string(QUORVEL_TEST_DATA_DIR);
const std::string GoldenDir = DialogsDataDir + "/golden/dialogs/";

using TStep = std::function<void(TLoadOptionsForm*)>;

// Runs Execute with the steps queued into its modal loop, one per pass, each given the dialog.
TQuorvelLoadOptions RunDialog(const TQuorvelLoadOptions& AOpts, const std::vector<TStep>& ASteps) {
  std::vector<std::function<void()>> steps;
  for (const TStep& step : ASteps)
    steps.push_back([step] {
      TLoadOptionsForm* dialog = NewestForm<TLoadOptionsForm>();
      ASSERT_NE(dialog, nullptr);
      step(dialog);
    });
  TFormScript script(steps);
  TQuorvelLoadOptions result = TLoadOptionsForm::Execute(AOpts);
  EXPECT_TRUE(script.Done()) << "the dialog closed before the script ended";
  return result;
}

// A click on item AIndex of a dropped combo box.
void ChooseItem(TComboBox* ACombo, int32_t AIndex) {
  const TRectF list = ACombo->GetDropDownRect();
  ClickAt(ACombo->GetParentForm(), TPointF(list.Left + 20, list.Top + 1 + ACombo->GetItemHeight() * (float(AIndex) + 0.5f)));
}

std::vector<TStep> Choose(std::function<TComboBox*(TLoadOptionsForm*)> ACombo, int32_t AIndex) {
  return {[=](TLoadOptionsForm* d) { ClickOn(ACombo(d)); }, [=](TLoadOptionsForm* d) { ChooseItem(ACombo(d), AIndex); }};
}

std::vector<TStep> operator+(std::vector<TStep> A, const std::vector<TStep>& B) {
  A.insert(A.end(), B.begin(), B.end());
  return A;
}

const std::vector<TStep> ClickOK = {[](TLoadOptionsForm* d) { ClickOn(d->GetOKButton()); }};
const std::vector<TStep> CloseBox = {[](TLoadOptionsForm* d) { PressCloseBox(d); }};

class LoadOptionsDialog : public ::testing::Test {
protected:
  void SetUp() override {
    PlatformInitialize();
    FPrevious = SetOpenDialogHandler([this](TOpenDialog& d) {
      Asked.push_back(d.GetTitle() + "|" + d.GetDefaultExt() + "|" + std::to_string(d.GetOptions().Contains(ofAllowMultiSelect)) +
                      std::to_string(d.GetOptions().Contains(ofPathMustExist)) +
                      std::to_string(d.GetOptions().Contains(ofFileMustExist)));
      d.Files() = Chosen;
      return !Chosen.empty();
    });
    Opts = TQuorvelLoadOptions::Create("/models/monkey.obj", ".obj", &Package, nullptr);
    Opts.TextureLimits = TPoint(512, 512);
    Opts.Caching = {TAnimationCachingFlag::VertexPosition};
    Opts.ImportCameras = false;
    Opts.AdditionalAnimations = {"given.dae"};
    Opts.ExtractDirectory = "/tmp/extract";
  }
  void TearDown() override { SetOpenDialogHandler(FPrevious); }

  TObject Package;
  TQuorvelLoadOptions Opts;
  std::vector<std::string> Chosen;
  std::vector<std::string> Asked;

private:
  TOpenDialogHandler FPrevious;
};

TEST_F(LoadOptionsDialog, ControlsHaveTheirTextsAndPlaces) {
  TOwned<TLoadOptionsForm> dialog(New<TLoadOptionsForm>(nullptr));
  EXPECT_EQ(dialog->GetCaption(), "Load Options ...");
  EXPECT_EQ(dialog->GetClientWidth(), 640);
  EXPECT_EQ(dialog->GetClientHeight(), 860);
  EXPECT_EQ(dialog->GetBorderStyle(), TFmxFormBorderStyle::Single);
  EXPECT_EQ(dialog->GetBorderIcons(), TBorderIcons{});
  EXPECT_EQ(dialog->GetFormPosition(), TFormPosition::ScreenCenter);

  // Depth first: class, name, parent, text, bounds in the parent.
  std::vector<std::string> tree;
  std::function<void(TFwObject*, const std::string&)> walk = [&](TFwObject* parent, const std::string& indent) {
    for (TFwObject* child : parent->Children()) {
      auto* c = dynamic_cast<TControl*>(child);
      if (c == nullptr) continue;
      auto* text = dynamic_cast<TTextControl*>(c);
      const TRectF b = c->GetBoundsRect();
      tree.push_back(indent + c->ClassName() + " " + c->GetName() + " \"" + (text ? text->GetText() : "") + "\" " +
                     std::to_string(int(b.Left)) + "," + std::to_string(int(b.Top)) + "," + std::to_string(int(b.Right)) +
                     "," + std::to_string(int(b.Bottom)));
      walk(c, indent + "  ");
    }
  };
  walk(dialog.get(), "");
  const std::vector<std::string> expected = {
      "TGroupBox FileGroup \"File\" 8,8,632,88",
      "  TEdit Filename \"\" 8,12,616,44",
      "TGroupBox TexGroup \"Textures\" 8,104,632,184",
      "  TComboBox TextureLimits \"\" 8,12,616,44",
      "TGroupBox ImportGroup \"Import\" 8,200,632,328",
      "  TCheckBox ImportLights \"Import Lights\" 8,12,616,44",
      "  TCheckBox ImportCameras \"Import Cameras\" 8,60,616,92",
      "TGroupBox AnimGroup \"Animations\" 8,344,632,764",
      "  TCheckBox ImportAnims \"Import Animations\" 8,12,616,44",
      "  TComboBox Caching \"\" 8,60,616,92",
      "  TCheckBox CompressedCache \"Compressed Cache\" 8,108,616,140",
      "  TGroupBox AnimSubGroup \"Additional Animations\" 8,156,616,412",
      "    TButton RemAnimBtn \"Remove Animation\" 8,216,600,248",
      "    TButton AddAnimBtn \"Add Animation\" 8,168,600,200",
      "    TListBox AnimationList \"\" 8,12,600,152",
      "TButton OKButton \"OK\" 8,820,632,852",
  };
  EXPECT_EQ(tree, expected);
  EXPECT_EQ(dialog->GetTextureLimits()->GetItems()->ToStringArray(),
            (std::vector<std::string>{"Unlimited", "128 x 128 px", "256 x 256 px", "512 x 512 px", "1024 x 1024 px",
                                      "2048 x 2048 px", "4096 x 4096 px"}));
  EXPECT_EQ(dialog->GetCaching()->GetItems()->ToStringArray(),
            (std::vector<std::string>{"No Caching", "All Attributes", "VertexPosition Only"}));
  EXPECT_TRUE(dialog->GetFilename()->GetReadOnly());
  EXPECT_EQ(dialog->GetOKButton()->GetModalResult(), mrOk);

  // What it shows of the options.
  dialog->LoadFrom(Opts);
  EXPECT_EQ(dialog->GetFilename()->GetText(), "/models/monkey.obj");
  EXPECT_EQ(dialog->GetTextureLimits()->GetItemIndex(), 0) << "the first item whatever the options hold";
  EXPECT_TRUE(dialog->GetImportLights()->GetIsChecked());
  EXPECT_FALSE(dialog->GetImportCameras()->GetIsChecked());
  EXPECT_EQ(dialog->GetCaching()->GetSelected(), "VertexPosition Only");
  EXPECT_FALSE(dialog->GetCompressedCache()->GetIsChecked());
  EXPECT_EQ(dialog->GetAnimationList()->GetCount(), 0) << "empty whatever the options hold";
  EXPECT_TRUE(MatchesGoldenImage(testkit::PaintForm(dialog.get()), 640, 860, GoldenDir + "load-options.png", {2, 40}));
}

TEST_F(LoadOptionsDialog, ClickedPathsGiveTheirOptions) {
  const std::string anim = DialogsDataDir + "/BitmapRgba4x3.png";  // any file that exists
  struct Case {
    const char* Name;
    std::vector<TStep> Steps;
    std::vector<std::string> Chosen;  // what the open dialog answers
    std::function<void(const TQuorvelLoadOptions&)> Expect;
  } cases[] = {
      {"OK as shown: limits back to unlimited, the rest as passed in", ClickOK, {},
       [](const TQuorvelLoadOptions& o) {
         EXPECT_EQ(o.TextureLimits, TPoint(0, 0));
         EXPECT_EQ(o.Caching, TAnimationCachingFlags{TAnimationCachingFlag::VertexPosition});
         EXPECT_TRUE(o.ImportLights);
         EXPECT_FALSE(o.ImportCameras);
         EXPECT_TRUE(o.ImportAnimations);
         EXPECT_TRUE(o.AdditionalAnimations.empty()) << "the (empty) list replaces them";
       }},
      {"No Caching with Compressed Cache",
       Choose([](TLoadOptionsForm* d) { return d->GetCaching(); }, 0) +
           std::vector<TStep>{[](TLoadOptionsForm* d) { ClickOn(d->GetCompressedCache()); }} + ClickOK,
       {},
       [](const TQuorvelLoadOptions& o) { EXPECT_EQ(o.Caching, TAnimationCachingFlags{TAnimationCachingFlag::Compressed}); }},
      {"All Attributes compressed",
       Choose([](TLoadOptionsForm* d) { return d->GetCaching(); }, 1) +
           std::vector<TStep>{[](TLoadOptionsForm* d) { ClickOn(d->GetCompressedCache()); }} + ClickOK,
       {},
       [](const TQuorvelLoadOptions& o) {
         EXPECT_EQ(o.Caching, (TAnimationCachingFlags{TAnimationCachingFlag::AllAttributes, TAnimationCachingFlag::Compressed}));
       }},
      {"a size picked again", Choose([](TLoadOptionsForm* d) { return d->GetTextureLimits(); }, 3) + ClickOK, {},
       [](const TQuorvelLoadOptions& o) { EXPECT_EQ(o.TextureLimits, TPoint(512, 512)); }},
      {"the largest size", Choose([](TLoadOptionsForm* d) { return d->GetTextureLimits(); }, 6) + ClickOK, {},
       [](const TQuorvelLoadOptions& o) { EXPECT_EQ(o.TextureLimits, TPoint(4096, 4096)); }},
      {"the close box answers as OK, with the edited values",
       std::vector<TStep>{[](TLoadOptionsForm* d) { ClickOn(d->GetImportLights()); },
                          [](TLoadOptionsForm* d) { ClickOn(d->GetImportCameras()); }} +
           CloseBox,
       {},
       [](const TQuorvelLoadOptions& o) {
         EXPECT_FALSE(o.ImportLights);
         EXPECT_TRUE(o.ImportCameras);
         EXPECT_EQ(o.TextureLimits, TPoint(0, 0));
       }},
      {"added animations in list order",
       std::vector<TStep>{[](TLoadOptionsForm* d) { ClickOn(d->GetAddAnimBtn()); },
                          [](TLoadOptionsForm* d) { ClickOn(d->GetAddAnimBtn()); }} +
           ClickOK,
       {anim, anim},
       [&](const TQuorvelLoadOptions& o) {
         EXPECT_EQ(o.AdditionalAnimations, (std::vector<std::string>{anim, anim, anim, anim}));
       }},
      {"a removed animation; remove without a selection does nothing",
       std::vector<TStep>{[](TLoadOptionsForm* d) { ClickOn(d->GetAddAnimBtn()); },
                          [](TLoadOptionsForm* d) { ClickOn(d->GetRemAnimBtn()); },
                          [](TLoadOptionsForm* d) {
                            TListBox* list = d->GetAnimationList();
                            ClickAt(d, list->LocalToAbsolute(TPointF(20, 1 + list->GetItemHeight() * 0.5f)));
                          },
                          [](TLoadOptionsForm* d) { ClickOn(d->GetRemAnimBtn()); }} +
           ClickOK,
       {anim, DialogsDataDir + "/missing.dae"},
       [](const TQuorvelLoadOptions& o) { EXPECT_TRUE(o.AdditionalAnimations.empty()); }},
      {"animations off keep those passed in",
       std::vector<TStep>{[](TLoadOptionsForm* d) { ClickOn(d->GetAddAnimBtn()); },
                          [](TLoadOptionsForm* d) { ClickOn(d->GetImportAnims()); }} +
           ClickOK,
       {anim},
       [](const TQuorvelLoadOptions& o) {
         EXPECT_FALSE(o.ImportAnimations);
         EXPECT_EQ(o.AdditionalAnimations, (std::vector<std::string>{"given.dae"}));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Chosen = c.Chosen;
    Asked.clear();
    const TQuorvelLoadOptions result = RunDialog(Opts, c.Steps);
    c.Expect(result);
    // What the dialog does not show comes back untouched.
    EXPECT_EQ(result.FileInfo.PathOrUID, "/models/monkey.obj");
    EXPECT_EQ(result.FileInfo.Ext, ".obj");
    EXPECT_EQ(result.Package, &Package);
    EXPECT_EQ(result.ExtractDirectory, "/tmp/extract");
    EXPECT_EQ(NewestForm<TLoadOptionsForm>(), nullptr) << "the dialog freed itself";
    for (const std::string& asked : Asked) EXPECT_EQ(asked, "Select an animation file ...|.dae|111");
  }
}

TEST_F(LoadOptionsDialog, WithoutAChooserAddAnimationAddsNothing) {
  SetOpenDialogHandler(nullptr);
  const TQuorvelLoadOptions result =
      RunDialog(Opts, std::vector<TStep>{[](TLoadOptionsForm* d) { ClickOn(d->GetAddAnimBtn()); }} + ClickOK);
  EXPECT_TRUE(result.AdditionalAnimations.empty());
}

// ---- Under a real X server -----------------------------------------------------------------

TEST(LoadOptionsXvfbChild, RealWindowClickedThrough) {
  if (std::getenv("QUORVEL_IN_XVFB") == nullptr) GTEST_SKIP() << "run by LoadOptionsXvfb";
  PlatformInitialize();
  ASSERT_STREQ(SDL_GetCurrentVideoDriver(), "x11");
  TQuorvelLoadOptions opts = TQuorvelLoadOptions::Create("/models/monkey.obj", nullptr, nullptr);
  opts.Caching = {TAnimationCachingFlag::AllAttributes};
  const TQuorvelLoadOptions result =
      RunDialog(opts, Choose([](TLoadOptionsForm* d) { return d->GetCaching(); }, 0) +
                          std::vector<TStep>{[](TLoadOptionsForm* d) {
                                               EXPECT_NE(SDL_GetWindowFlags(d->GetWindow()->Window()) & SDL_WINDOW_SHOWN, 0u);
                                               ClickOn(d->GetCompressedCache());
                                             },
                                             [](TLoadOptionsForm* d) { ClickOn(d->GetImportCameras()); }} +
                          CloseBox);
  EXPECT_EQ(result.Caching, TAnimationCachingFlags{TAnimationCachingFlag::Compressed});
  EXPECT_FALSE(result.ImportCameras);
  EXPECT_EQ(result.TextureLimits, TPoint(0, 0));
  PlatformShutdown();
}

TEST(LoadOptionsXvfb, SameUnderXvfbRun) {
  if (!testkit::HasCommand("xvfb-run")) GTEST_SKIP() << "xvfb-run is not installed";
  const testkit::TChildRun run =
      testkit::RunSelf("QUORVEL_IN_XVFB=1 SDL_VIDEODRIVER=x11 xvfb-run -a", "LoadOptionsXvfbChild.*");
  ASSERT_TRUE(WIFEXITED(run.Status)) << run.Output;
  EXPECT_EQ(WEXITSTATUS(run.Status), 0) << run.Output;
  EXPECT_NE(run.Output.find("[  PASSED  ] 1 test"), std::string::npos) << run.Output;
}

// ---- The log window ------------------------------------------------------------------------

class LogWindow : public ::testing::Test {
protected:
  void SetUp() override {
    PlatformInitialize();
    TLoggingForm::FreeAll();
    TLoggingForm::ResetHistory();
  }
  void TearDown() override { TLoggingForm::FreeAll(); }
};

TEST_F(LogWindow, ShowsTheTextInAReadOnlyMemoOfItsOwnWindow) {
  TLoggingForm::Open("Panel - failed to compile shader ...", "0:1(1): error: syntax error\n0:2(7): error: x", true);
  TLoggingForm* form = TLoggingForm::KeptInstance();
  ASSERT_NE(form, nullptr);
  EXPECT_TRUE(form->GetVisible());
  EXPECT_EQ(form->GetCaption(), "Panel - failed to compile shader ...");
  EXPECT_EQ(form->GetClientWidth(), 640);
  EXPECT_EQ(form->GetClientHeight(), 280);
  EXPECT_EQ(form->GetBorderStyle(), TFmxFormBorderStyle::SizeToolWin);
  EXPECT_EQ(form->GetFormPosition(), TFormPosition::ScreenCenter);
  EXPECT_EQ(form->GetOwner(), nullptr);
  TMemo* memo = form->GetMemo();
  EXPECT_EQ(memo->GetAlign(), TAlignLayout::Client);
  EXPECT_EQ(memo->GetBoundsRect().Left, 4);
  EXPECT_EQ(memo->GetBoundsRect().Top, 4);
  EXPECT_EQ(memo->GetBoundsRect().Right, 636);
  EXPECT_EQ(memo->GetBoundsRect().Bottom, 276);
  EXPECT_TRUE(memo->GetReadOnly());
  EXPECT_EQ(memo->GetFontSize(), 10);
  EXPECT_EQ(memo->GetFontFamily(), "Consolas");
  EXPECT_EQ(memo->GetLines()->ToStringArray(),
            (std::vector<std::string>{"0:1(1): error: syntax error", "0:2(7): error: x"}));
  EXPECT_TRUE(MatchesGoldenImage(testkit::PaintForm(form), 640, 280, GoldenDir + "log-window.png", {2, 20}));
}

TEST_F(LogWindow, ReuseShowsEachTextInTheSameWindowAndOtherwiseOpensMore) {
  TLoggingForm::Open("A", "first", true);
  TLoggingForm* kept = TLoggingForm::KeptInstance();
  TLoggingForm::Open("B", "second", true);
  EXPECT_EQ(TLoggingForm::KeptInstance(), kept);
  EXPECT_EQ(kept->GetCaption(), "B");
  EXPECT_EQ(kept->GetMemo()->GetText(), "second\r\n");
  EXPECT_EQ(TLoggingForm::LiveCount(), 1);
  TLoggingForm::Open("C", "third", false);
  TLoggingForm::Open("D", "fourth", false);
  EXPECT_EQ(TLoggingForm::LiveCount(), 3);
  EXPECT_EQ(TLoggingForm::OpenCount(), 4);
  EXPECT_EQ(TLoggingForm::LastTitle(), "D");
  EXPECT_EQ(TLoggingForm::LastMessage(), "fourth");

  // Closing: the kept window only hides; the others go at the next pass.
  for (TForm* form : std::vector<TForm*>(TForm::Forms())) {
    if (dynamic_cast<TLoggingForm*>(form)) PressCloseBox(form);
  }
  GetApplication().ProcessMessages();
  GetApplication().ProcessMessages();
  EXPECT_EQ(TLoggingForm::LiveCount(), 1);
  EXPECT_EQ(TLoggingForm::KeptInstance(), kept);
  EXPECT_FALSE(kept->GetVisible());
  TLoggingForm::Open("E", "fifth", true);
  EXPECT_TRUE(kept->GetVisible());
}

}  // namespace
}  // namespace quorvel
