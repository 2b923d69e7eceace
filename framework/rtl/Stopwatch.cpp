#include "framework/rtl/Stopwatch.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace quorvel {

namespace {

TSystemClock& SystemClock() {
  static TSystemClock clock;
  return clock;
}

std::atomic<TClock*> GClock{nullptr};

// Guards nothing but the hand-over between NotifyClockWaiters and WaitForClock, so that a
// notification between a waiter's check and its wait is not lost.
std::mutex& WaitMutex() {
  static std::mutex m;
  return m;
}

std::condition_variable& WaitCondition() {
  static std::condition_variable cv;
  return cv;
}

}  // namespace

int64_t TSystemClock::Now100ns() const {
  using namespace std::chrono;
  return duration_cast<duration<int64_t, std::ratio<1, 10'000'000>>>(
             steady_clock::now().time_since_epoch())
      .count();
}

int64_t TSystemClock::UnixTime100ns() const {
  using namespace std::chrono;
  return duration_cast<duration<int64_t, std::ratio<1, 10'000'000>>>(
             system_clock::now().time_since_epoch())
      .count();
}

void TManualClock::Advance(int64_t delta100ns) {
  if (delta100ns > 0) FNow.fetch_add(delta100ns, std::memory_order_acq_rel);
  NotifyClockWaiters();
}

TClock& Clock() {
  TClock* c = GClock.load(std::memory_order_acquire);
  return c ? *c : SystemClock();
}

void SetClock(TClock* clock) {
  GClock.store(clock, std::memory_order_release);
  NotifyClockWaiters();
}

void ResetClock() { SetClock(nullptr); }

TScopedClock::TScopedClock(TClock& clock) : FPrevious(GClock.load(std::memory_order_acquire)) {
  SetClock(&clock);
}

TScopedClock::~TScopedClock() { SetClock(FPrevious); }

void WaitForClock(int64_t deadline100ns, const std::function<bool()>& stop) {
  std::unique_lock lock(WaitMutex());
  for (;;) {
    if (stop && stop()) return;
    TClock& clock = Clock();
    const int64_t now = clock.Now100ns();
    if (now >= deadline100ns) return;
    if (clock.IsRealTime())
      WaitCondition().wait_for(lock, std::chrono::nanoseconds((deadline100ns - now) * 100));
    else
      WaitCondition().wait(lock);
  }
}

void NotifyClockWaiters() {
  { std::lock_guard lock(WaitMutex()); }
  WaitCondition().notify_all();
}

TStopwatch TStopwatch::StartNew() {
  TStopwatch s;
  s.Start();
  return s;
}

int64_t TStopwatch::GetTimeStamp() { return Clock().Now100ns(); }

void TStopwatch::Start() {
  if (FRunning) return;
  FStartTimeStamp = GetTimeStamp();
  FRunning = true;
}

void TStopwatch::Stop() {
  if (!FRunning) return;
  FElapsed += GetTimeStamp() - FStartTimeStamp;
  FRunning = false;
}

void TStopwatch::Reset() {
  FElapsed = 0;
  FStartTimeStamp = 0;
  FRunning = false;
}

int64_t TStopwatch::GetElapsedTicks() const {
  return FRunning ? FElapsed + (GetTimeStamp() - FStartTimeStamp) : FElapsed;
}

}  // namespace quorvel
