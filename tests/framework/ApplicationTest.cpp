// TApplication: the message pass serves workers' Synchronize/Queue, timers and tick
// handlers; Run waits without spinning and ends on Terminate; exceptions go to the handler
// (EAbort silently, headless ShowMessage to the log); a whole program's life - Initialize,
// CreateForm, Run until the main window closes, Finalize - runs in a child process.
#include <SDL2/SDL.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "framework/gui/Application.h"
#include "framework/gui/Dialogs.h"
#include "framework/gui/Form.h"
#include "framework/gui/Timer.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/Stopwatch.h"
#include "framework/rtl/Units.h"
#include "tests/support/ChildRun.h"

namespace quorvel {
namespace {

TEST(Application, MessagePassServesWorkerSynchronizeAndQueue) {
  Application->Initialize();  // again: harmless, and it (re)connects the wake-up
  const std::thread::id mainId = std::this_thread::get_id();
  std::atomic<bool> finished{false};
  std::thread::id synchronizedOn, queuedOn;
  int queued = 0;
  std::thread worker([&] {
    TThread::Synchronize(nullptr, [&] { synchronizedOn = std::this_thread::get_id(); });
    TThread::Queue(nullptr, [&] {
      queuedOn = std::this_thread::get_id();
      ++queued;
    });
    finished = true;
  });
  // HandleMessage waits for the worker's wake-up event; no sleeping here.
  while (!finished || queued == 0) Application->HandleMessage();
  worker.join();
  EXPECT_EQ(synchronizedOn, mainId);
  EXPECT_EQ(queuedOn, mainId);
  EXPECT_EQ(queued, 1);

  std::thread([] { EXPECT_THROW(Application->ProcessMessages(), EThread); }).join();
}

TEST(Application, RunServesTimersAndTicksOnTheInjectedClockUntilTerminate) {
  TManualClock clock;
  TScopedClock scoped(clock);
  TOwned<TApplication> app(New<TApplication>(nullptr));
  TOwned<TTimer> timer(New<TTimer>(nullptr));
  int ticks = 0, passes = 0;
  std::vector<int64_t> tickTimes;
  timer->SetInterval(16);
  timer->SetOnTimer(TNotifyEvent([&](TObject*) {
    tickTimes.push_back(clock.Now100ns());
    if (++ticks == 3) app->Terminate();
  }));
  const int64_t start = clock.Now100ns();
  // The tick handler stands for the animation clock; here it moves time 4 ms a pass.
  const int32_t handle = app->AddTickHandler([&] {
    ++passes;
    clock.AdvanceMs(4);
  });
  app->Run();
  app->RemoveTickHandler(handle);
  EXPECT_EQ(ticks, 3);
  ASSERT_EQ(tickTimes.size(), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(tickTimes[i] - start, (i + 1) * 16 * 10'000) << i;
  EXPECT_EQ(passes, 13) << "the 13th pass finds 48 ms gone; its tick handlers still run";
  EXPECT_TRUE(app->GetTerminated());
  EXPECT_FALSE(app->GetRunning());
  // Terminated stays terminated: Run returns at once.
  app->Run();
  EXPECT_EQ(ticks, 3);
}

TEST(Application, TickHandlersMayRemoveThemselvesAndOthers) {
  TOwned<TApplication> app(New<TApplication>(nullptr));
  std::vector<std::string> calls;
  int32_t second = 0;
  int32_t first = 0;
  first = app->AddTickHandler([&] {
    calls.push_back("first");
    app->RemoveTickHandler(first);
    app->RemoveTickHandler(second);
  });
  second = app->AddTickHandler([&] { calls.push_back("second"); });
  app->AddTickHandler([&] { calls.push_back("third"); });
  app->ProcessMessages();
  app->ProcessMessages();
  EXPECT_EQ(calls, (std::vector<std::string>{"first", "third", "third"}));
}

TEST(Application, ExceptionsGoToTheHandlerAndHeadlessMessagesToTheLog) {
  TOwned<TApplication> app(New<TApplication>(nullptr));
  std::vector<std::string> seen;
  app->OnException = [&](TObject* sender, const std::exception& e) {
    EXPECT_EQ(sender, app.get());
    seen.push_back(e.what());
  };
  TThread::Queue(nullptr, [] {});  // runs inline on the main thread
  std::thread([] {
    TThread::Queue(nullptr, [] { throw EConvertError("queued failure"); });
    TThread::Queue(nullptr, [] { throw EAbort("silent"); });
  }).join();
  app->ProcessMessages();
  app->ProcessMessages();
  EXPECT_EQ(seen, (std::vector<std::string>{"queued failure"}));

  // Without a handler the message is shown, which headless means logged.
  app->OnException = nullptr;
  ASSERT_TRUE(IsHeadless());
  TLogCapture log;
  app->HandleException(app.get(), EConvertError("shown failure"));
  ShowMessage("plain message");
  EXPECT_TRUE(log.Contains("shown failure.")) << "the run-time adds the full stop";
  EXPECT_TRUE(log.Contains("plain message"));
}

// ---- A whole program in a child process -------------------------------------------------

void LifecycleInit() { std::printf("<unit init>\n"); }
void LifecycleFin() { std::printf("<unit final>\n"); }

TEST(ApplicationLifecycleChild, InitializeCreateFormRunUntilClosedFinalize) {
  if (std::getenv("QUORVEL_APP_LIFECYCLE") == nullptr) GTEST_SKIP() << "run by ApplicationLifecycle";
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  RegisterUnit({"Test.Lifecycle", {"Fw.Application"}, &LifecycleInit, &LifecycleFin});
  Application->Initialize();
  TForm* form = nullptr;
  Application->CreateForm(form);
  form->OnDestroy = [](TObject*) { std::printf("<form destroyed>\n"); };
  // The user closes the main window.
  SDL_Event close{};
  close.type = SDL_WINDOWEVENT;
  close.window.event = SDL_WINDOWEVENT_CLOSE;
  close.window.windowID = form->GetWindow()->WindowID();
  ASSERT_EQ(SDL_PushEvent(&close), 1);
  Application->Run();
  std::printf("<run ended>\n");
  TApplication::Finalize();
  std::printf("<finalized>\n");
}

TEST(ApplicationLifecycle, FinalisationsRunAtExitAfterTheMainFormCloses) {
  const testkit::TChildRun run =
      testkit::RunSelf("QUORVEL_APP_LIFECYCLE=1 SDL_VIDEODRIVER=offscreen", "ApplicationLifecycleChild.*");
  const std::string& output = run.Output;
  ASSERT_TRUE(WIFEXITED(run.Status)) << output;
  EXPECT_EQ(WEXITSTATUS(run.Status), 0) << output;
  // The test main initialised the units before the test, so the test's own unit comes up
  // in Initialize; Finalize then frees the form before the unit finalisations.
  const char* order[] = {"<unit init>", "<run ended>", "<form destroyed>", "<unit final>", "<finalized>"};
  size_t at = 0;
  for (const char* step : order) {
    const size_t found = output.find(step, at);
    EXPECT_NE(found, std::string::npos) << step << " missing or out of order:\n" << output;
    if (found != std::string::npos) at = found;
  }
  EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
}

}  // namespace
}  // namespace quorvel
