#pragma once
// Start-up and shutdown of the window system (SDL2 video), the display's refresh rate,
// the high-resolution counter and sleeping. The Windows-shaped calls over these live in
// framework/platform/Windows.h.
#include <cstdint>

namespace quorvel {

// Starts SDL's video subsystem once per process (until PlatformShutdown). Sets
// SDL_HINT_FRAMEBUFFER_ACCELERATION to "0" first: otherwise SDL makes a GL context of its
// own for window surfaces and the engine's context stops being current. Without a display
// and without SDL_VIDEODRIVER, falls back to the "offscreen" driver. Raises EOSError
// carrying SDL's text when no video driver starts. Thread-safe.
void PlatformInitialize();
bool PlatformInitialized();

// Deletes every rendering context and device context still alive, destroys the native
// windows (the hidden one included; TSdlWindow objects stay valid but windowless) and
// stops SDL's video subsystem. The application and the test main call it at exit;
// PlatformInitialize may start it again afterwards.
void PlatformShutdown();

// Keeps the GL driver's libraries loaded for the rest of the process once they are. The
// loader unloads them at exit (and SDL at PlatformShutdown) before LeakSanitizer looks, and
// the driver's leftovers then show as "<unknown module>", which no suppression by library
// name can match; it also spares reloading LLVM when the platform starts again. Called
// whenever a GL window or context has been made.
void KeepGLDriverResident();

// The refresh rate in Hz of a display's current mode, 0 when unknown (or no such display).
int32_t DisplayRefreshRate(int32_t displayIndex = 0);

// Monotonic high-resolution counter and its ticks per second (constant, never 0).
int64_t PerformanceCounter();
int64_t PerformanceFrequency();
// Replaces the counter's source (tests: a deterministic clock); nullptr restores the real one.
using TPerformanceCounterSource = int64_t (*)();
void SetPerformanceCounterSource(TPerformanceCounterSource source);

// Blocks the calling thread for at least the given milliseconds; 0 yields the time slice.
void SleepMilliseconds(uint32_t milliseconds);

}  // namespace quorvel
