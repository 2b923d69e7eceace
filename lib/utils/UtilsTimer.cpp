#include "lib/utils/UtilsTimer.h"

#include "framework/rtl/Log.h"
#include "framework/rtl/Monitor.h"
#include "framework/rtl/Stopwatch.h"

namespace quorvel {

bool TTimerCadence::Step(int64_t ANow, int32_t AIntervalMs) {
  bool due = false;
  if ((ANow - LastTick) / 10'000 >= AIntervalMs) {
    ++FrameCount;
    LastTick = ANow;
    due = true;
  }
  const int64_t window = (ANow - WindowStart) / 10'000;
  if (window >= 1000) {
    if (FrameCount > 0) LastFPS = float(double(FrameCount) / (double(window) / 1000));
    FrameCount = 0;
    WindowStart = ANow;
  }
  return due;
}

TQuorvelTimer::TQuorvelTimer() : TThread(true) { SetPriority(TThreadPriority::tpHigher); }

TQuorvelTimer::~TQuorvelTimer() = default;

void TQuorvelTimer::SetMode(TQuorvelTimerMode Value) {
  TMonitorGuard guard(this);
  FMode = Value;
}

void TQuorvelTimer::SetInterval(int32_t Value) {
  TMonitorGuard guard(this);
  FInterval = Value;
  NotifyClockWaiters();
}

void TQuorvelTimer::SetOnTimer(const TOnTimerEvent& Value) {
  TMonitorGuard guard(this);
  FOnTimer = Value;
}

void TQuorvelTimer::SetActive(bool Value) {
  TMonitorGuard guard(this);
  if (Value && !GetStarted())
    Start();
  else
    SetSuspended(!Value);
  NotifyClockWaiters();
}

void TQuorvelTimer::TerminatedSet() { NotifyClockWaiters(); }

void TQuorvelTimer::Fire() {
  ++FTicks;
  // Runs on the main thread. A frame that raises must not end the loop: it is reported there
  // and the next tick renders again.
  auto call = [this] {
    if (!FOnTimer) return;
    try {
      FOnTimer(this);
    } catch (const std::exception& e) {
      Log::d(std::string("frame timer: ") + e.what());
    }
  };
  if (FMode.load() == TQuorvelTimerMode::Synchronized)
    TThread::Synchronize(this, call);
  else
    TThread::Queue(this, call);
}

void TQuorvelTimer::Execute() {
  TTimerCadence cadence;
  cadence.Start(TStopwatch::GetTimeStamp());
  while (!GetTerminated()) {
    TThread::Yield();  // a suspended timer waits here
    if (GetTerminated()) break;
    const bool due = cadence.Step(TStopwatch::GetTimeStamp(), FInterval.load());
    FLastFPS = cadence.LastFPS;
    if (due) Fire();
    // Sleep until the next tick or the end of the FPS window, whichever comes first.
    const int64_t wake = std::min(cadence.NextDue(FInterval.load()), cadence.WindowStart + 1000 * 10'000);
    WaitForClock(wake, [this] { return GetTerminated() || GetSuspended(); });
  }
}

}  // namespace quorvel
