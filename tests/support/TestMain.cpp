// Test main shared by every test executable: the test thread is the main thread, and the
// unit initialisations run before the tests and the finalisations after them.
#include <gtest/gtest.h>

#include <cstdio>

#include "framework/platform/Platform.h"
#include "framework/rtl/Exceptions.h"
#include "framework/rtl/Thread.h"
#include "framework/rtl/Units.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  quorvel::SetMainThread();
  try {
    quorvel::InitializeUnits();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Unit initialisation failed: %s\n", e.what());
    return 1;
  }
  const int result = RUN_ALL_TESTS();
  try {
    quorvel::FinalizeUnits();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Unit finalisation failed: %s\n", e.what());
    return result ? result : 1;
  }
  // Windows and GL contexts go before exit, so leak checks see only what was really lost.
  if (quorvel::PlatformInitialized()) quorvel::PlatformShutdown();
  return result;
}
