// The frame timer's counting on a manual clock, the viewport's frame-rate steps, the
// diagnostics figures and overlay, and one threaded run per timer mode.
#include <gtest/gtest.h>

#include "framework/gui/Application.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/Stopwatch.h"
#include "lib/utils/UtilsTimer.h"
#include "tests/scene/SceneTestSupport.h"

namespace quorvel {
namespace {

constexpr int64_t Ms = 10'000;

TEST(TimerCadence, TicksEveryIntervalCountedFromTheLastTick) {
  struct Case {
    int32_t Interval;
    int64_t ElapsedMs;  // since the last tick
    bool Due;
  } cases[] = {{16, 15, false}, {16, 16, true}, {33, 32, false}, {33, 33, true},
               {1, 1, true},    {0, 0, true},   {1000, 999, false}};
  for (const Case& c : cases) {
    TTimerCadence cad;
    cad.Start(1000 * Ms);
    EXPECT_EQ(cad.Step(1000 * Ms + c.ElapsedMs * Ms, c.Interval), c.Due) << c.Interval << " " << c.ElapsedMs;
  }
}

TEST(TimerCadence, FPSIsZeroInTheFirstSecondThenTicksPerWindow) {
  TTimerCadence cad;
  int64_t now = 5000 * Ms;
  cad.Start(now);
  int ticks = 0;
  for (int i = 1; i <= 62; ++i) {
    now += 16 * Ms;
    ticks += cad.Step(now, 16) ? 1 : 0;
    EXPECT_EQ(cad.LastFPS, 0) << i;  // 62 x 16 = 992 ms: the window is still open
  }
  EXPECT_EQ(ticks, 62);
  now += 16 * Ms;  // 1008 ms
  EXPECT_TRUE(cad.Step(now, 16));
  EXPECT_NEAR(cad.LastFPS, 63 / 1.008, 1e-3);
}

class TFrameRateTest : public testkit::TViewportTest {};

TEST_F(TFrameRateTest, StepsFollowTheRateAndTheDisplayWithVSync) {
  struct Case {
    int32_t Rate;
    bool VSync;
    int32_t Display;
    int32_t Step;
  } cases[] = {{60, false, 0, 16},  {30, false, 0, 33},  {1000, false, 0, 1}, {2000, false, 0, 0},
               {60, true, 144, 16}, {60, true, 50, 20}, {60, true, 0, 16},   {0, false, 0, 1000}};
  for (const Case& c : cases) {
    Viewport->GetDiagnostics().DisplayRefreshRate = c.Display;
    Viewport->SetVSync(c.VSync);
    Viewport->SetFixedFrameRate(c.Rate);
    EXPECT_EQ(Viewport->GetFrameRateStep(), c.Step) << c.Rate << " " << c.VSync << " " << c.Display;
    EXPECT_EQ(Viewport->GetFrameTimer()->GetInterval(), c.Step);
  }
}

TEST_F(TFrameRateTest, DiagnosticsAverageEveryThirtyFramesAndShowTheirOverlay) {
  Viewport->SetDiagnosticsActive(true);
  Viewport->SetRendererType(TRendererType::ForwardRenderer);
  Form->SetClientWidth(W);  // the forward renderer has the size already; no change
  for (int i = 1; i <= 30; ++i) {
    Tick();
    if (i < 30) {
      EXPECT_EQ(Viewport->GetDiagnostics().AverageFrameTime, 0) << i;
    }
  }
  const TRenderingDiagnostics& d = Viewport->GetDiagnostics();
  EXPECT_EQ(d.TotalFrames, 30);
  EXPECT_EQ(d.MeasureFrameCount, 0);
  // No time passed on the manual clock: 0 ms per frame gives 0 frames per second.
  EXPECT_EQ(d.AverageFrameTime, 0);
  EXPECT_EQ(d.AverageFramesPerSecond, 0);
  // Forward renderer at defaults (FXAA 1): 2 + 1.
  EXPECT_EQ(d.RenderPasses, 3);
  EXPECT_GT(d.RenderListSize, 0);
  const std::string text = d.OverlayText();
  EXPECT_EQ(text.rfind("TotalFrames: 30\r\nTotalFrameTimeInMS: 0\r\nTotalFrameTimeInTicks: 0\r\n"
                       "---------------------------------------\r\nMeasureFrameCount: 0\r\nAverageFrameTime: 0.00\r\n",
                       0),
            0u)
      << text;
  EXPECT_NE(text.find("\r\nDisplayRefreshRate: "), std::string::npos);
  int lines = 1;
  for (char c : text) lines += c == '\n';
  EXPECT_EQ(lines, 26);
}

TEST(RenderingDiagnostics, DrawCycleAveragesEveryThousandPaints) {
  TManualClock clock;
  TScopedClock scoped(clock);
  TRenderingDiagnostics d = TRenderingDiagnostics::Create(true);
  EXPECT_EQ(d.AverageFrameTimeClip, 30);
  for (int i = 1; i <= 1000; ++i) {
    d.DrawCycleWatch.Reset();
    d.DrawCycleWatch.Start();
    clock.AdvanceMs(2);
    d.AccountDrawCycle();
    if (i < 1000) {
      EXPECT_EQ(d.AverageDrawCycleTime, 0);
    }
  }
  EXPECT_FLOAT_EQ(d.AverageDrawCycleTime, 2);
  EXPECT_FLOAT_EQ(d.AverageDrawCycleTicks, 20000);
  EXPECT_EQ(d.MeasureDrawCycles, 0);
}

TEST_F(TFrameRateTest, ATickWhileAFrameRunsIsDropped) {
  auto* cube = AddCube(claRed);
  int nested = 0;
  cube->OnDraw = [&] {
    Tick();  // reaches the handler while the frame runs
    ++nested;
  };
  Tick();
  EXPECT_EQ(nested, 1);
  EXPECT_EQ(cube->Renders, 1);
}

// One threaded run per mode: the timer thread hands ticks to the main thread, which renders.
class TimerThreadsTest : public testkit::TViewportTest, public ::testing::WithParamInterface<TQuorvelTimerMode> {
protected:
  TimerThreadsTest() { ManualTime = false; }
};

TEST_P(TimerThreadsTest, TicksReachTheMainThreadAndRenderUntilTheViewportGoes) {
  auto* cube = AddCube(claRed);
  Viewport->GetFrameTimer()->SetMode(GetParam());
  Viewport->SetFixedFrameRate(200);
  ASSERT_TRUE(Viewport->GetFrameTimer()->GetActive());
  const TStopwatch watch = TStopwatch::StartNew();
  while (cube->Renders < 3 && watch.GetElapsedMilliseconds() < 20000) {
    CheckSynchronize();
    TThread::Sleep(1);
  }
  EXPECT_GE(cube->Renders, 3);
  EXPECT_TRUE(testkit::NearColor(Probe(W / 2, H / 2), claRed));
  // A frame that raises is logged and the loop goes on.
  TLogCapture log;
  const int before = cube->Renders;
  cube->OnDraw = [] { throw Exception("broken frame"); };
  while (!log.Contains("broken frame") && watch.GetElapsedMilliseconds() < 20000) {
    CheckSynchronize();
    TThread::Sleep(1);
  }
  EXPECT_TRUE(log.Contains("frame timer: broken frame"));
  cube->OnDraw = nullptr;
  while (cube->Renders < before + 3 && watch.GetElapsedMilliseconds() < 20000) {
    CheckSynchronize();
    TThread::Sleep(1);
  }
  EXPECT_GE(cube->Renders, before + 3);
  // Destroying the viewport while ticks are pending ends the thread cleanly.
  Form.reset();
  CheckSynchronize();
}

INSTANTIATE_TEST_SUITE_P(Modes, TimerThreadsTest,
                         ::testing::Values(TQuorvelTimerMode::Synchronized, TQuorvelTimerMode::Enqueued));

}  // namespace
}  // namespace quorvel
