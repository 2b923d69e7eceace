// TTimer: ticks on Clock() served by the message loop, driven here by a manual clock (no
// sleeping): due times, no burst after a late pass, restarts, re-entrance and removal.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "framework/gui/Application.h"
#include "framework/gui/Timer.h"
#include "framework/rtl/Stopwatch.h"

namespace quorvel {
namespace {

class TimerTest : public ::testing::Test {
protected:
  void SetUp() override {
    Application->OnException = [this](TObject*, const std::exception& e) { Errors.push_back(e.what()); };
  }
  void TearDown() override { Application->OnException = nullptr; }

  TManualClock TestClock;
  TScopedClock Scoped{TestClock};
  std::vector<std::string> Errors;
};

TEST_F(TimerTest, FiresWhenTheIntervalHasPassedAndNotInBursts) {
  TOwned<TTimer> timer(New<TTimer>(nullptr));
  EXPECT_TRUE(timer->GetEnabled()) << "enabled by default";
  EXPECT_EQ(timer->GetInterval(), 1000u);
  int ticks = 0;
  timer->SetInterval(16);
  timer->SetOnTimer(TNotifyEvent([&](TObject* sender) {
    EXPECT_EQ(sender, timer.get());
    ++ticks;
  }));

  TestClock.AdvanceMs(15);
  Application->ProcessMessages();
  EXPECT_EQ(ticks, 0);
  TestClock.AdvanceMs(1);
  Application->ProcessMessages();
  EXPECT_EQ(ticks, 1);
  Application->ProcessMessages();
  EXPECT_EQ(ticks, 1) << "once per interval";

  // A late loop fires once, and the next interval counts from then.
  TestClock.AdvanceMs(100);
  Application->ProcessMessages();
  EXPECT_EQ(ticks, 2);
  TestClock.AdvanceMs(15);
  Application->ProcessMessages();
  EXPECT_EQ(ticks, 2);
  TestClock.AdvanceMs(1);
  Application->ProcessMessages();
  EXPECT_EQ(ticks, 3);
  EXPECT_TRUE(Errors.empty());
}

TEST_F(TimerTest, RunsOnlyWhenEnabledWithIntervalAndHandlerAndRestartsOnChange) {
  TOwned<TTimer> timer(New<TTimer>(nullptr));
  int ticks = 0;
  timer->SetInterval(10);
  TestClock.AdvanceMs(50);
  EXPECT_FALSE(TTimer::ProcessTimers()) << "no handler, no timer";
  timer->SetOnTimer(TNotifyEvent([&](TObject*) { ++ticks; }));
  EXPECT_GE(TTimer::NextDueTime(), TestClock.Now100ns() + 10 * 10'000 - 1) << "assigning the handler starts it";

  timer->SetEnabled(false);
  EXPECT_EQ(TTimer::NextDueTime(), -1);
  TestClock.AdvanceMs(50);
  EXPECT_FALSE(TTimer::ProcessTimers());
  timer->SetEnabled(true);
  TestClock.AdvanceMs(9);
  EXPECT_FALSE(TTimer::ProcessTimers()) << "re-enabling restarts the interval";
  TestClock.AdvanceMs(1);
  EXPECT_TRUE(TTimer::ProcessTimers());
  EXPECT_EQ(ticks, 1);

  TestClock.AdvanceMs(5);
  timer->SetInterval(20);
  TestClock.AdvanceMs(15);
  EXPECT_FALSE(TTimer::ProcessTimers()) << "a new interval restarts the count";
  TestClock.AdvanceMs(5);
  EXPECT_TRUE(TTimer::ProcessTimers());

  timer->SetInterval(0);
  TestClock.AdvanceMs(1000);
  EXPECT_FALSE(TTimer::ProcessTimers()) << "interval 0 never fires";
  EXPECT_EQ(ticks, 2);
}

TEST_F(TimerTest, HandlerThatProcessesMessagesOrFreesTimersIsSafe) {
  TTimer* self = New<TTimer>(nullptr);
  TTimer* other = New<TTimer>(nullptr);
  int selfTicks = 0, otherTicks = 0;
  self->SetInterval(10);
  other->SetInterval(10);
  // Processing messages inside the handler (as the viewport's frame does) does not re-enter
  // this timer; freeing another due timer and then itself is safe.
  self->SetOnTimer(TNotifyEvent([&](TObject*) {
    ++selfTicks;
    TestClock.AdvanceMs(10);
    Application->ProcessMessages();
    FreeAndNil(other);
    Free(self);
  }));
  other->SetOnTimer(TNotifyEvent([&](TObject*) { ++otherTicks; }));
  TestClock.AdvanceMs(10);
  Application->ProcessMessages();
  EXPECT_EQ(selfTicks, 1);
  EXPECT_LE(otherTicks, 1) << "served at most once, by the nested pass";
  EXPECT_EQ(other, nullptr);
  EXPECT_EQ(TTimer::NextDueTime(), -1);
  TestClock.AdvanceMs(100);
  EXPECT_FALSE(TTimer::ProcessTimers());
}

TEST_F(TimerTest, FailingHandlerIsReportedAndKeepsTicking) {
  TOwned<TTimer> timer(New<TTimer>(nullptr));
  int ticks = 0;
  timer->SetInterval(10);
  timer->SetOnTimer(TNotifyEvent([&](TObject*) {
    ++ticks;
    throw EConvertError("tick failed");
  }));
  TestClock.AdvanceMs(10);
  Application->ProcessMessages();
  ASSERT_EQ(Errors.size(), 1u);
  EXPECT_EQ(Errors[0], "tick failed");
  TestClock.AdvanceMs(10);
  Application->ProcessMessages();
  EXPECT_EQ(ticks, 2);
  // EAbort is silent.
  timer->SetOnTimer(TNotifyEvent([&](TObject*) { throw EAbort("quiet"); }));
  TestClock.AdvanceMs(10);
  Application->ProcessMessages();
  EXPECT_EQ(Errors.size(), 2u);
}

}  // namespace
}  // namespace quorvel
