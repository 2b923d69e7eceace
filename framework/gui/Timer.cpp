#include "framework/gui/Timer.h"

#include <algorithm>
#include <vector>

#include "framework/rtl/Stopwatch.h"
#include "framework/rtl/Thread.h"
#include "framework/rtl/Units.h"

namespace quorvel {

namespace {

// The timers that exist; touched on the main thread only.
std::vector<TTimer*>& TimerList() {
  static std::vector<TTimer*> list;
  return list;
}

bool IsListed(TTimer* timer) {
  const auto& list = TimerList();
  return std::find(list.begin(), list.end(), timer) != list.end();
}

constexpr int64_t TicksPerMs = 10'000;

void InitTimerUnit() { RegisterClass(TTimer::StaticClass()); }
void FinTimerUnit() { UnRegisterClass(TTimer::StaticClass()); }
const TUnitRegistration TimerUnit{{"Fw.Types", {}, &InitTimerUnit, &FinTimerUnit}};

}  // namespace

FW_CLASS_IMPL(TTimer, "Fw.Types")
void TTimer::Register(ClassBuilder<TTimer>& b) {
  b.Prop("Enabled", &Self::GetEnabled, &Self::SetEnabled)
      .Prop("Interval", &Self::GetInterval, &Self::SetInterval)
      .Prop("OnTimer", &Self::GetOnTimer, &Self::SetOnTimer);
}

TTimer::TTimer(TComponent* AOwner) : TFwObject(AOwner) { TimerList().push_back(this); }

TTimer::~TTimer() { std::erase(TimerList(), this); }

bool TTimer::Running() const {
  return FEnabled && FInterval > 0 && FOnTimer.Assigned() && !GetComponentState().Contains(csDesigning) &&
         !GetComponentState().Contains(csDestroying);
}

void TTimer::UpdateTimer() { FDue = Running() ? Clock().Now100ns() + int64_t(FInterval) * TicksPerMs : -1; }

void TTimer::SetEnabled(bool Value) {
  if (Value == FEnabled) return;
  FEnabled = Value;
  UpdateTimer();
}

void TTimer::SetInterval(uint32_t Value) {
  if (Value == FInterval) return;
  FInterval = Value;
  UpdateTimer();
}

void TTimer::SetOnTimer(const TNotifyEvent& Value) {
  FOnTimer = Value;
  UpdateTimer();
}

void TTimer::Loaded() {
  TFwObject::Loaded();
  UpdateTimer();
}

bool TTimer::ProcessTimers() {
  if (!IsMainThread()) throw EThread("Timers are served on the main thread only");
  // A handler may create or free timers: work on a snapshot, and skip the freed ones.
  const std::vector<TTimer*> snapshot = TimerList();
  bool fired = false;
  for (TTimer* timer : snapshot) {
    if (!IsListed(timer) || timer->FFiring || timer->FDue < 0 || !timer->Running()) continue;
    const int64_t now = Clock().Now100ns();
    if (now < timer->FDue) continue;
    timer->FDue = now + int64_t(timer->FInterval) * TicksPerMs;
    timer->FFiring = true;
    struct TDone {
      TTimer* Timer;
      ~TDone() {
        if (IsListed(Timer)) Timer->FFiring = false;
      }
    } done{timer};
    fired = true;
    timer->DoOnTimer();
  }
  return fired;
}

int64_t TTimer::NextDueTime() {
  int64_t due = -1;
  for (TTimer* timer : TimerList())
    if (timer->FDue >= 0 && !timer->FFiring && (due < 0 || timer->FDue < due)) due = timer->FDue;
  return due;
}

}  // namespace quorvel
