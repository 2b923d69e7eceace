#include "framework/gui/TimerService.h"

#include "framework/rtl/Stopwatch.h"

namespace quorvel {

namespace {

class TClockTimerService final : public IFwTimerService {
public:
  double GetTick() override { return double(Clock().Now100ns()) / TTimeSpan::TicksPerSecond; }
};

}  // namespace

IFwTimerService* TPlatformServices::DefaultTimerService() {
  static TClockTimerService service;
  return &service;
}

TPlatformServices::TPlatformServices() : FTimerService(DefaultTimerService()) {}

TPlatformServices& TPlatformServices::Current() {
  static TPlatformServices services;
  return services;
}

}  // namespace quorvel
