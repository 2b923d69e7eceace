#include "FuzzSupport.h"

#include <cstdio>
#include <cstdlib>
#include <exception>

#include "framework/rtl/Thread.h"
#include "framework/rtl/Units.h"

namespace quorvel::fuzz {

namespace {
bool GInitialized = false;
}

void InitializeOnce() {
  if (GInitialized) return;
  GInitialized = true;
  SetMainThread();
  try {
    InitializeUnits();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Unit initialisation failed: %s\n", e.what());
    std::abort();
  }
}

void FinalizeIfInitialized() {
  if (!GInitialized) return;
  GInitialized = false;
  FinalizeUnits();
}

}  // namespace quorvel::fuzz
