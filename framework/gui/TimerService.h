#pragma once
// The platform services the engine asks for by interface, and the timer service among them.
// GetTick reads Clock(), so a test's manual clock drives every figure that uses it.
#include "framework/rtl/Object.h"

namespace quorvel {

class IFwTimerService {
public:
  virtual ~IFwTimerService() = default;
  // Seconds on Clock() from an arbitrary origin.
  virtual double GetTick() = 0;
};

class TPlatformServices {
public:
  static TPlatformServices& Current();
  // Null when the platform offers none (a test may take it away).
  IFwTimerService* GetTimerService() const { return FTimerService; }
  // Installs a service (the caller keeps it alive); nullptr removes it, DefaultTimerService
  // restores the platform's own.
  void SetTimerService(IFwTimerService* AService) { FTimerService = AService; }
  static IFwTimerService* DefaultTimerService();

private:
  TPlatformServices();
  IFwTimerService* FTimerService;
};

}  // namespace quorvel
