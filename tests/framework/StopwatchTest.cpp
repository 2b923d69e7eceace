#include "framework/rtl/Stopwatch.h"

#include <gtest/gtest.h>

#include <ctime>

using namespace quorvel;

namespace {

class StopwatchTest : public ::testing::Test {
protected:
  TManualClock FClock;
  TScopedClock FUse{FClock};
};

}  // namespace

TEST_F(StopwatchTest, TimeStampsCountHundredNanosecondUnitsOfTheClock) {
  EXPECT_EQ(TStopwatch::Frequency, 10'000'000);
  EXPECT_EQ(TStopwatch::GetTimeStamp(), TManualClock::DefaultStart);
  FClock.AdvanceMs(1);
  EXPECT_EQ(TStopwatch::GetTimeStamp(), TManualClock::DefaultStart + 10'000);
}

TEST_F(StopwatchTest, ElapsedAccumulatesOnlyWhileRunning) {
  TStopwatch sw = TStopwatch::Create();
  EXPECT_FALSE(sw.GetIsRunning());
  FClock.AdvanceMs(100);
  EXPECT_EQ(sw.GetElapsedTicks(), 0);

  sw.Start();
  FClock.AdvanceMs(15);
  EXPECT_EQ(sw.GetElapsedMilliseconds(), 15);
  EXPECT_EQ(sw.GetElapsedTicks(), 150'000);
  sw.Start();  // starting a running watch keeps its start
  FClock.AdvanceMs(5);
  sw.Stop();
  EXPECT_FALSE(sw.GetIsRunning());
  FClock.AdvanceMs(1000);
  EXPECT_EQ(sw.GetElapsedMilliseconds(), 20);

  sw.Start();
  FClock.Advance(12'345);
  EXPECT_EQ(sw.GetElapsedTicks(), 200'000 + 12'345);
  EXPECT_EQ(sw.GetElapsedMilliseconds(), 21);  // ticks div 10000
  EXPECT_DOUBLE_EQ(sw.GetElapsed().GetTotalSeconds(), 0.0212345);
  EXPECT_DOUBLE_EQ(sw.GetElapsed().GetTotalMilliseconds(), 21.2345);

  sw.Reset();
  EXPECT_FALSE(sw.GetIsRunning());
  EXPECT_EQ(sw.GetElapsedTicks(), 0);
}

TEST_F(StopwatchTest, ResetAndStartCountsTheNextIntervalFromThere) {
  TStopwatch sw = TStopwatch::StartNew();
  EXPECT_TRUE(sw.GetIsRunning());
  FClock.AdvanceMs(17);
  sw.Reset();
  sw.Start();
  FClock.AdvanceMs(3);
  EXPECT_EQ(sw.GetElapsedMilliseconds(), 3);
}

TEST_F(StopwatchTest, ManualClockNeverGoesBackwards) {
  const int64_t t0 = FClock.Now100ns();
  const int64_t u0 = FClock.UnixTime100ns();
  FClock.Advance(-50);
  EXPECT_EQ(FClock.Now100ns(), t0);
  FClock.Advance(70);
  EXPECT_EQ(FClock.Now100ns(), t0 + 70);
  EXPECT_EQ(FClock.UnixTime100ns(), u0 + 70);
}

TEST(ClockTest, ScopedClocksNestAndRestoreTheSystemClock) {
  TManualClock a(1'000'000), b(2'000'000);
  {
    TScopedClock useA(a);
    EXPECT_EQ(Clock().Now100ns(), 1'000'000);
    {
      TScopedClock useB(b);
      EXPECT_EQ(Clock().Now100ns(), 2'000'000);
    }
    EXPECT_EQ(Clock().Now100ns(), 1'000'000);
  }
  EXPECT_TRUE(Clock().IsRealTime());
  EXPECT_EQ(&Clock(), &Clock());
}

TEST(ClockTest, SystemClockIsMonotonicAndItsWallTimeCountsFrom1970) {
  const int64_t a = Clock().Now100ns();
  const int64_t b = Clock().Now100ns();
  EXPECT_LE(a, b);
  EXPECT_GT(a, 0);
  // Unit check only: seconds since 1970 agree with time() to within a generous margin.
  const int64_t seconds = Clock().UnixTime100ns() / 10'000'000;
  EXPECT_NEAR(double(seconds), double(std::time(nullptr)), 60.0);
}

TEST(ClockTest, WaitForClockReturnsAtTheDeadlineOrWhenStopped) {
  TManualClock clock;
  TScopedClock use(clock);
  // Already due, and already stopped: neither waits.
  WaitForClock(clock.Now100ns(), nullptr);
  WaitForClock(clock.Now100ns() + 1'000'000'000, [] { return true; });
  // Real time: a short deadline on the system clock passes without any notification.
  ResetClock();
  const int64_t deadline = Clock().Now100ns() + 10'000;
  WaitForClock(deadline, nullptr);
  EXPECT_GE(Clock().Now100ns(), deadline);
  SetClock(&clock);
}
