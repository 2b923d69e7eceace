#pragma once
// What the engine-side benchmarks share: the units initialised once on the main thread and the
// shared GL context on the platform's hidden window, quietly.
#include "framework/platform/Platform.h"
#include "framework/rtl/Exceptions.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/Thread.h"
#include "framework/rtl/Units.h"
#include "lib/context/windows/ContextGLESWindows.h"

namespace quorvel::bench {

// Raises when there is no GL context: a benchmark drawing nothing times nothing.
inline void SetupEngineGL() {
  static bool done = [] {
    SetMainThread();
    InitializeUnits();
    Log::SetQuiet(true);
    TCustomContextWindows::SetWindowHandle(nullptr);
    TCustomContextWindows::CreateSharedContext();
    if (!TContextOpenGLWindows::StaticMeta()->Valid()) throw Exception("no GL context");
    return true;
  }();
  (void)done;
}

}  // namespace quorvel::bench
