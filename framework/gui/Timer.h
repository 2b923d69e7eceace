#pragma once
// TTimer: calls OnTimer on the main thread every Interval milliseconds, served by the
// message loop (Application's ProcessMessages and Run). Time comes from Clock(), so a test
// with a TManualClock drives ticks by advancing the clock and processing messages.
//
// A timer runs while Enabled (the default), Interval > 0 and OnTimer is assigned, outside
// design mode. Changing any of them restarts the interval. When the loop comes late, a
// timer fires once and counts its next interval from then (no burst of catch-up ticks).
// A handler that processes messages does not re-enter its own timer.
#include <cstdint>

#include "framework/classes/Events.h"
#include "framework/classes/FwObject.h"

namespace quorvel {

class TTimer : public TFwObject {
  FW_CLASS(TTimer, TFwObject)

public:
  explicit TTimer(TComponent* AOwner);
  ~TTimer() override;

  bool GetEnabled() const { return FEnabled; }
  void SetEnabled(bool Value);
  // Milliseconds; 0 stops the timer.
  uint32_t GetInterval() const { return FInterval; }
  void SetInterval(uint32_t Value);
  const TNotifyEvent& GetOnTimer() const { return FOnTimer; }
  void SetOnTimer(const TNotifyEvent& Value);

  void Loaded() override;

  // Fires every running timer whose interval has passed on Clock(). Main thread only.
  // Answers whether any fired. An exception of a handler propagates after its timer has
  // been rescheduled.
  static bool ProcessTimers();
  // 100-ns stamp (Clock()) of the earliest due timer, or -1 when none runs.
  static int64_t NextDueTime();

protected:
  virtual void DoOnTimer() { FOnTimer(this); }

private:
  void UpdateTimer();
  bool Running() const;

  bool FEnabled = true;
  uint32_t FInterval = 1000;
  TNotifyEvent FOnTimer;
  int64_t FDue = -1;  // Clock() stamp of the next tick; -1 when not running
  bool FFiring = false;
};

}  // namespace quorvel
