#pragma once
// The process's one source of time (TClock, swappable for tests) and TStopwatch.
// Every time reading in the framework and the engine goes through Clock(), so a test can
// install a TManualClock and drive time by hand instead of sleeping.
#include <atomic>
#include <cstdint>
#include <functional>

namespace quorvel {

class TClock {
public:
  virtual ~TClock() = default;
  // Monotonic time in 100-ns units from an arbitrary origin; never goes backwards.
  virtual int64_t Now100ns() const = 0;
  // Wall-clock time in 100-ns units since 1970-01-01 00:00 UTC.
  virtual int64_t UnixTime100ns() const = 0;
  // True when the clock follows real time, so that waits for it may be timed waits.
  virtual bool IsRealTime() const { return true; }
};

// The operating system's clocks (steady and system clock).
class TSystemClock final : public TClock {
public:
  int64_t Now100ns() const override;
  int64_t UnixTime100ns() const override;
};

// A clock that moves only when told to. Thread-safe. It starts well above zero because
// callers treat a tick count of 0 as "not started".
class TManualClock final : public TClock {
public:
  static constexpr int64_t DefaultStart = 1000LL * 10'000'000;        // 1000 s
  static constexpr int64_t DefaultUnixStart = 1'700'000'000LL * 10'000'000;  // Nov 2023

  explicit TManualClock(int64_t start100ns = DefaultStart, int64_t unixStart100ns = DefaultUnixStart)
      : FStart(start100ns), FNow(start100ns), FUnixStart(unixStart100ns) {}

  int64_t Now100ns() const override { return FNow.load(std::memory_order_acquire); }
  int64_t UnixTime100ns() const override { return FUnixStart + (Now100ns() - FStart); }
  bool IsRealTime() const override { return false; }

  // Moves time forwards (negative amounts are ignored: the clock is monotonic) and wakes
  // threads waiting for it.
  void Advance(int64_t delta100ns);
  void AdvanceMs(int64_t ms) { Advance(ms * 10'000); }

private:
  int64_t FStart;
  std::atomic<int64_t> FNow;
  int64_t FUnixStart;
};

// The current clock (the system clock unless a test installed another).
TClock& Clock();
// Installs a clock; the caller keeps ownership and must keep it alive while installed.
// nullptr restores the system clock.
void SetClock(TClock* clock);
void ResetClock();

// Installs a clock for the lifetime of the guard and restores the previous one after.
class TScopedClock {
public:
  explicit TScopedClock(TClock& clock);
  ~TScopedClock();
  TScopedClock(const TScopedClock&) = delete;
  TScopedClock& operator=(const TScopedClock&) = delete;

private:
  TClock* FPrevious;
};

// Blocks until Clock() reaches `deadline100ns` or `stop()` returns true. `stop` is checked
// on entry and again after every NotifyClockWaiters(); it runs under an internal lock and
// must not block.
void WaitForClock(int64_t deadline100ns, const std::function<bool()>& stop);
// Wakes WaitForClock callers to re-check time and their stop condition.
void NotifyClockWaiters();

// A length of time in 100-ns ticks.
struct TTimeSpan {
  static constexpr int64_t TicksPerMillisecond = 10'000;
  static constexpr int64_t TicksPerSecond = 10'000'000;

  int64_t Ticks = 0;

  int64_t GetTicks() const { return Ticks; }
  double GetTotalMilliseconds() const { return double(Ticks) / TicksPerMillisecond; }
  double GetTotalSeconds() const { return double(Ticks) / TicksPerSecond; }
};

// Measures elapsed time on Clock(). A value type; not thread-safe.
class TStopwatch {
public:
  // Ticks per second of GetTimeStamp and GetElapsedTicks: stamps count 100-ns units.
  static constexpr int64_t Frequency = 10'000'000;
  static constexpr bool IsHighResolution = true;

  static TStopwatch Create() { return TStopwatch(); }  // not running
  static TStopwatch StartNew();
  static int64_t GetTimeStamp();

  void Start();
  void Stop();
  void Reset();

  bool GetIsRunning() const { return FRunning; }
  int64_t GetElapsedTicks() const;
  int64_t GetElapsedMilliseconds() const { return GetElapsedTicks() / (Frequency / 1000); }
  TTimeSpan GetElapsed() const { return TTimeSpan{GetElapsedTicks()}; }

private:
  int64_t FElapsed = 0;
  int64_t FStartTimeStamp = 0;
  bool FRunning = false;
};

}  // namespace quorvel
