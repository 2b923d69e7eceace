#include "framework/gui/Dialogs.h"

#include <SDL2/SDL.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "framework/platform/Platform.h"
#include "framework/rtl/Log.h"

namespace quorvel {

namespace {

std::mutex& HandlerMutex() {
  static std::mutex mutex;
  return mutex;
}

TShowMessageHandler& Handler() {
  static TShowMessageHandler handler;
  return handler;
}

}  // namespace

bool IsHeadless() {
  // A CI run may have a display (xvfb-run) but nobody to close a message box.
  if (!PlatformInitialized() || std::getenv("CI") != nullptr) return true;
  const char* driver = SDL_GetCurrentVideoDriver();
  return driver == nullptr || std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0;
}

TShowMessageHandler SetShowMessageHandler(TShowMessageHandler Handler_) {
  std::lock_guard lock(HandlerMutex());
  TShowMessageHandler previous = std::move(Handler());
  Handler() = std::move(Handler_);
  return previous;
}

void ShowMessage(const std::string& Msg) {
  TShowMessageHandler handler;
  {
    std::lock_guard lock(HandlerMutex());
    handler = Handler();
  }
  if (handler) {
    handler(Msg);
    return;
  }
  if (IsHeadless() || SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_INFORMATION, "", Msg.c_str(), nullptr) != 0)
    Log::d("ShowMessage: " + Msg);
}

}  // namespace quorvel
