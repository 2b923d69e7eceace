#include "framework/platform/Platform.h"

#include <SDL2/SDL.h>
#include <dlfcn.h>
#include <link.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <set>
#include <string>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "framework/platform/SdlWindow.h"
#include "framework/platform/Windows.h"
#include "framework/rtl/Exceptions.h"

namespace quorvel {

namespace {

std::mutex gStartLock;
std::atomic<bool> gStarted{false};
std::atomic<TPerformanceCounterSource> gCounterSource{nullptr};

int64_t SteadyNanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

void PlatformInitialize() {
  if (gStarted.load(std::memory_order_acquire)) return;
  std::lock_guard<std::mutex> guard(gStartLock);
  if (gStarted.load(std::memory_order_relaxed)) return;
  // Override: an SDL_FRAMEBUFFER_ACCELERATION in the environment would beat a normal hint.
  SDL_SetHintWithPriority(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0", SDL_HINT_OVERRIDE);
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    std::string text = SDL_GetError();
    // SDL never picks the offscreen driver by itself; a display-less machine without
    // SDL_VIDEODRIVER would otherwise have no video at all.
    const char* requested = std::getenv("SDL_VIDEODRIVER");
    bool started = false;
    if (requested == nullptr || *requested == '\0') {
      SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
      started = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
    }
    if (!started) {
      SetLastError(ERROR_GEN_FAILURE, "SDL video could not start: " + text);
      RaiseLastOSError();
    }
  }
  gStarted.store(true, std::memory_order_release);
}

bool PlatformInitialized() { return gStarted.load(std::memory_order_acquire); }

void PlatformShutdown() {
  std::lock_guard<std::mutex> guard(gStartLock);
  if (!gStarted.load(std::memory_order_relaxed)) return;
  ShutdownRenderingContexts();
  TSdlWindow::ShutdownAll();
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
  gStarted.store(false, std::memory_order_release);
}

void KeepGLDriverResident() {
  static std::mutex lock;
  static std::set<std::string> kept;
  std::lock_guard<std::mutex> guard(lock);
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void*) -> int {
        static constexpr const char* names[] = {"_dri.so", "libEGL_mesa", "libGLX_mesa", "libglapi",
                                                "libgallium", "libLLVM", "libEGL.so", "libGLX.so",
                                                "libGLdispatch", "libGL.so"};
        const char* path = info->dlpi_name;
        if (path == nullptr || *path == '\0' || kept.count(path) != 0) return 0;
        for (const char* name : names)
          if (std::strstr(path, name) != nullptr) {
            // The reference is never dropped, on purpose.
            if (dlopen(path, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE) != nullptr) kept.insert(path);
            break;
          }
        return 0;
      },
      nullptr);
}

int32_t DisplayRefreshRate(int32_t displayIndex) {
  if (!PlatformInitialized()) return 0;
  SDL_DisplayMode mode;
  if (SDL_GetCurrentDisplayMode(displayIndex, &mode) != 0) return 0;
  return mode.refresh_rate > 0 ? mode.refresh_rate : 0;
}

int64_t PerformanceCounter() {
  TPerformanceCounterSource source = gCounterSource.load(std::memory_order_acquire);
  return source != nullptr ? source() : SteadyNanoseconds();
}

int64_t PerformanceFrequency() { return 1000000000; }

void SetPerformanceCounterSource(TPerformanceCounterSource source) {
  gCounterSource.store(source, std::memory_order_release);
}

void SleepMilliseconds(uint32_t milliseconds) {
  if (milliseconds == 0)
    std::this_thread::yield();
  else
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace quorvel
