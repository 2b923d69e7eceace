#pragma once
// TQuorvelTimer: a thread that hands OnTimer to the main thread every Interval milliseconds,
// synchronously (the thread waits for the call) or queued. It waits on the clock for the next
// due tick instead of polling, so it takes no processor between ticks; cadence and counting
// are those of a polling loop: the next interval is counted from the moment a tick fired
// (the handler's time belongs to the next interval), and FPS is the number of ticks of each
// completed 1000 ms window (0 until the first window completes).
//
// A handler that raises is logged with its message on the main thread and the timer goes on.
#include <atomic>
#include <cstdint>

#include "framework/classes/Events.h"
#include "framework/rtl/Thread.h"

namespace quorvel {

enum class TQuorvelTimerMode : uint8_t { Synchronized = 0, Enqueued = 1 };

using TOnTimerEvent = TEvent<void(TObject* ASender)>;

// The counting of the timer without the thread: Step(now) answers whether a tick is due at
// `now` (100-ns stamps) and keeps the tick count and FPS figure.
struct TTimerCadence {
  int64_t LastTick = 0;     // stamp the current interval is counted from
  int64_t WindowStart = 0;  // stamp of the current FPS window
  int64_t FrameCount = 0;   // ticks in the current window
  float LastFPS = 0;

  void Start(int64_t ANow) {
    LastTick = ANow;
    WindowStart = ANow;
    FrameCount = 0;
  }
  bool Step(int64_t ANow, int32_t AIntervalMs);
  // The stamp at which the next tick is due.
  int64_t NextDue(int32_t AIntervalMs) const { return LastTick + int64_t(AIntervalMs) * 10'000; }
};

class TQuorvelTimer : public TThread {
public:
  TQuorvelTimer();
  ~TQuorvelTimer() override;

  TQuorvelTimerMode GetMode() const { return FMode.load(); }
  void SetMode(TQuorvelTimerMode Value);
  int32_t GetInterval() const { return FInterval.load(); }
  void SetInterval(int32_t Value);
  const TOnTimerEvent& GetOnTimer() const { return FOnTimer; }
  // Main thread; the handler runs on the main thread.
  void SetOnTimer(const TOnTimerEvent& Value);
  // Started and not suspended. Setting True the first time starts the thread.
  bool GetActive() const { return GetStarted() && !GetSuspended(); }
  void SetActive(bool Value);
  float GetFPS() const { return FLastFPS.load(); }
  // Ticks handed to the main thread so far.
  int64_t GetTickCount() const { return FTicks.load(); }

protected:
  void Execute() override;
  void TerminatedSet() override;

private:
  void Fire();

  std::atomic<TQuorvelTimerMode> FMode{TQuorvelTimerMode::Synchronized};
  std::atomic<int32_t> FInterval{1000};
  std::atomic<float> FLastFPS{0};
  std::atomic<int64_t> FTicks{0};
  TOnTimerEvent FOnTimer;  // read and written on the main thread only
};

}  // namespace quorvel
