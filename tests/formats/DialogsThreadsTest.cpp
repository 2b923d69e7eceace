// The modal progress window on a manual clock: the job waits its delay on a pool thread,
// runs on the main thread with the window shown, and every way it ends closes the window.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "framework/gui/Application.h"
#include "framework/gui/Dialogs.h"
#include "framework/platform/Platform.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/Stopwatch.h"
#include "lib/formats/UtilsDialogs.h"
#include "tests/support/FormScript.h"

namespace quorvel {
namespace {

class ProgressForm : public ::testing::Test {
protected:
  void SetUp() override {
    PlatformInitialize();
    FPrevious = SetShowMessageHandler([this](const std::string& AMsg) { Boxes.push_back(AMsg); });
    // Each pass moves the clock on until the job ran, so the wait ends whenever the worker
    // started it; the job's own reading tells how long it waited.
    FTicker = GetApplication().AddTickHandler([this] {
      if (Advance && JobClock < 0) Clock.AdvanceMs(100);
      TForm* form = testkit::NewestForm<TProgressForm>();
      if (form != nullptr && form != FWatched) {
        FWatched = form;
        form->OnClose = [this, form](TObject*, TCloseAction& Action) {
          ClosedWith = form->GetModalResult();
          LabelAtClose = static_cast<TProgressForm*>(form)->GetText();
          Action = caHide;
          Closed = true;
        };
      }
    });
  }
  void TearDown() override {
    GetApplication().RemoveTickHandler(FTicker);
    SetShowMessageHandler(FPrevious);
  }

  TManualClock Clock;
  TScopedClock FUse{Clock};
  std::vector<std::string> Boxes;
  int64_t JobClock = -1;
  TModalResult ClosedWith = -1;
  std::atomic<bool> Closed{false};
  bool Advance = true;
  std::string LabelAtClose;

private:
  TShowMessageHandler FPrevious;
  int32_t FTicker = 0;
  TForm* FWatched = nullptr;
};

TEST_F(ProgressForm, JobRunsOnTheMainThreadAfterTheDelayWithTheWindowShown) {
  const int64_t opened = Clock.Now100ns();
  TProgressForm* seen = nullptr;
  TProgressForm::Open("Loading model ...", [&](TProgressForm* AForm) {
    JobClock = Clock.Now100ns();
    seen = AForm;
    EXPECT_TRUE(IsMainThread());
    EXPECT_TRUE(AForm->GetVisible());
    EXPECT_TRUE(AForm->GetIsModal());
    EXPECT_EQ(AForm->GetCaption(), "Loading model ...");
    EXPECT_EQ(AForm->GetText(), "Loading model ...");
    EXPECT_EQ(AForm->GetClientWidth(), 400);
    EXPECT_EQ(AForm->GetClientHeight(), 168);
    EXPECT_EQ(AForm->GetBorderStyle(), TFmxFormBorderStyle::Single);
    EXPECT_EQ(AForm->GetBorderIcons(), TBorderIcons{});
    EXPECT_EQ(AForm->GetFormPosition(), TFormPosition::ScreenCenter);
    TLabel* label = AForm->GetLabel();
    EXPECT_EQ(label->GetAlign(), TAlignLayout::Client);
    EXPECT_EQ(label->GetWidth(), 400);
    EXPECT_EQ(label->GetTextAlign(), TTextAlign::Center);
    EXPECT_EQ(label->GetVertTextAlign(), TTextAlign::Center);
  });
  ASSERT_GE(JobClock, 0) << "the job ran";
  EXPECT_GE(JobClock - opened, int64_t(TProgressForm::JobDelayMs) * 10'000) << "nothing before 1000 ms";
  EXPECT_EQ(ClosedWith, mrOk);
  EXPECT_EQ(LabelAtClose, "Done");
  EXPECT_TRUE(Boxes.empty());
  const auto& forms = TForm::Forms();
  EXPECT_EQ(std::find(forms.begin(), forms.end(), static_cast<TForm*>(seen)), forms.end()) << "freed by Open";
}

TEST_F(ProgressForm, FailingJobIsLoggedAndShownOnceAndTheWindowStillEndsDone) {
  TLogCapture log;
  EXPECT_NO_THROW(TProgressForm::Open("Loading model ...", [&](TProgressForm*) {
    JobClock = Clock.Now100ns();
    throw EConvertError("disk on fire");
  }));
  EXPECT_TRUE(log.Contains("<ERROR> disk on fire"));
  EXPECT_EQ(Boxes, (std::vector<std::string>{"<ERROR> disk on fire"}));
  EXPECT_EQ(LabelAtClose, "Done");
  EXPECT_EQ(ClosedWith, mrOk);
}

TEST_F(ProgressForm, OtherErrorsCloseTheWindowAndReachTheCaller) {
  try {
    TProgressForm::Open("Loading model ...", [&](TProgressForm*) {
      JobClock = Clock.Now100ns();
      throw std::runtime_error("not a framework error");
    });
    ADD_FAILURE() << "Open did not raise";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "not a framework error");
  }
  EXPECT_EQ(ClosedWith, mrAbort);
  EXPECT_TRUE(Boxes.empty());
  EXPECT_EQ(testkit::NewestForm<TProgressForm>(), nullptr);
}

TEST_F(ProgressForm, ClosedEarlyTheWindowStillWaitsForItsJob) {
  // The close box before the delay ends the loop; Open returns only once the job ran. The
  // clock stands still until the window closed.
  Advance = false;
  bool closed = false;
  const int32_t closer = GetApplication().AddTickHandler([&] {
    if (closed) return;
    if (TProgressForm* form = testkit::NewestForm<TProgressForm>()) {
      testkit::PressCloseBox(form);
      closed = true;
    }
  });
  std::atomic<bool> ran{false};
  // Waiting for the job runs no passes, so the ticker stops: the clock moves from here.
  std::thread mover([&] {
    while (!Closed) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    while (!ran) {
      Clock.AdvanceMs(100);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  TProgressForm::Open("Loading model ...", [&](TProgressForm*) { ran = true; });
  mover.join();
  GetApplication().RemoveTickHandler(closer);
  EXPECT_TRUE(ran);
  EXPECT_EQ(ClosedWith, mrCancel);
}

// Workers' messages reach the window on the main thread, in the order each worker sent them.
TEST(LogWindowThreads, MessagesFromWorkersAreShownOnTheMainThread) {
  PlatformInitialize();
  TLogCapture quiet;
  TLoggingForm::FreeAll();
  TLoggingForm::ResetHistory();
  constexpr int Workers = 4, Each = 25;
  std::vector<std::thread> threads;
  for (int w = 0; w < Workers; ++w)
    threads.emplace_back([w] {
      for (int i = 0; i < Each; ++i) TLoggingForm::Open("worker " + std::to_string(w), std::to_string(i), true);
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(TLoggingForm::KeptInstance(), nullptr) << "nothing shown off the main thread";
  EXPECT_EQ(TLoggingForm::OpenCount(), 0);
  while (CheckSynchronize()) {
  }
  EXPECT_EQ(TLoggingForm::OpenCount(), Workers * Each);
  TLoggingForm* form = TLoggingForm::KeptInstance();
  ASSERT_NE(form, nullptr);
  EXPECT_EQ(TLoggingForm::LiveCount(), 1);
  // The last call served was some worker's last message.
  EXPECT_EQ(form->GetMemo()->GetLines()->ToStringArray(), (std::vector<std::string>{std::to_string(Each - 1)}));
  EXPECT_EQ(form->GetCaption().rfind("worker ", 0), 0u);

  // One worker's lines, one after the other, as the memo shows them.
  std::thread one([] {
    for (int i = 0; i < Each; ++i) TLoggingForm::Open("one", "line " + std::to_string(i), true);
  });
  std::vector<std::string> shown;
  while (shown.size() < size_t(Each)) {
    if (!CheckSynchronize()) {
      std::this_thread::yield();
      continue;
    }
    // Several calls may be served in one go: the memo holds the newest.
    shown.push_back(form->GetMemo()->GetLines()->Get(0));
    if (shown.back() == "line " + std::to_string(Each - 1)) break;
  }
  one.join();
  for (size_t i = 1; i < shown.size(); ++i) {
    const int previous = std::stoi(shown[i - 1].substr(5)), now = std::stoi(shown[i].substr(5));
    EXPECT_LT(previous, now) << "never back to an older line";
  }
  TLoggingForm::FreeAll();
}

}  // namespace
}  // namespace quorvel
