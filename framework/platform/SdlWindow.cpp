#include "framework/platform/SdlWindow.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "framework/platform/Platform.h"
#include "framework/rtl/Exceptions.h"

namespace quorvel {

namespace {

// Lock order: gHiddenLock, then the rendering-context lock (Windows.cpp), then gWindowsLock.
std::mutex gWindowsLock;
std::unordered_map<uint32_t, TSdlWindow*> gWindows;
std::mutex gHiddenLock;
std::unique_ptr<TSdlWindow> gHidden;

uint32_t EventWindowID(const SDL_Event& event) {
  switch (event.type) {
    case SDL_WINDOWEVENT: return event.window.windowID;
    case SDL_KEYDOWN:
    case SDL_KEYUP: return event.key.windowID;
    case SDL_TEXTEDITING: return event.edit.windowID;
    case SDL_TEXTINPUT: return event.text.windowID;
    case SDL_MOUSEMOTION: return event.motion.windowID;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: return event.button.windowID;
    case SDL_MOUSEWHEEL: return event.wheel.windowID;
    case SDL_DROPFILE:
    case SDL_DROPTEXT:
    case SDL_DROPBEGIN:
    case SDL_DROPCOMPLETE: return event.drop.windowID;
    default: return 0;
  }
}

}  // namespace

TSdlWindow::TSdlWindow(const TOptions& options) {
  PlatformInitialize();
  Uint32 flags = options.Visible ? SDL_WINDOW_SHOWN : SDL_WINDOW_HIDDEN;
  if (options.Resizable) flags |= SDL_WINDOW_RESIZABLE;
  if (options.OpenGL) {
    flags |= SDL_WINDOW_OPENGL;
    ApplyGLConfig();
  }
  FWindow = SDL_CreateWindow(options.Title.c_str(), SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED,
                             std::max(options.Width, 1), std::max(options.Height, 1), flags);
  if (FWindow == nullptr) {
    SetLastError(ERROR_GEN_FAILURE, std::string("Cannot create a window: ") + SDL_GetError());
    RaiseLastOSError();
  }
  if (options.OpenGL) KeepGLDriverResident();
  FWindowID = SDL_GetWindowID(FWindow);
  FHandle = reinterpret_cast<HWND>(static_cast<uintptr_t>(FWindowID));
  FOpenGL = options.OpenGL;
  std::lock_guard<std::mutex> guard(gWindowsLock);
  gWindows[FWindowID] = this;
}

TSdlWindow::~TSdlWindow() { DestroyNative(); }

void TSdlWindow::DestroyNative() {
  if (FWindow == nullptr) return;
  ReleaseWindowDeviceContexts(FHandle);
  {
    std::lock_guard<std::mutex> guard(gWindowsLock);
    gWindows.erase(FWindowID);
  }
  SDL_DestroyWindow(FWindow);
  FWindow = nullptr;
}

void TSdlWindow::ApplyGLConfig() {
  SDL_GL_SetAttribute(SDL_GL_RED_SIZE, GLConfig.Red);
  SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, GLConfig.Green);
  SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, GLConfig.Blue);
  SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, GLConfig.Alpha);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, GLConfig.Depth);
  SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, GLConfig.Stencil);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, GLConfig.DoubleBuffer ? 1 : 0);
  SDL_GL_SetAttribute(SDL_GL_MULTISAMPLEBUFFERS, 0);
  SDL_GL_SetAttribute(SDL_GL_MULTISAMPLESAMPLES, 0);
  SDL_GL_SetAttribute(SDL_GL_STEREO, 0);
}

void TSdlWindow::Show() {
  if (FWindow != nullptr) SDL_ShowWindow(FWindow);
}

void TSdlWindow::Hide() {
  if (FWindow != nullptr) SDL_HideWindow(FWindow);
}

bool TSdlWindow::Visible() const {
  return FWindow != nullptr && (SDL_GetWindowFlags(FWindow) & SDL_WINDOW_SHOWN) != 0;
}

void TSdlWindow::SetSize(int32_t width, int32_t height) {
  if (FWindow != nullptr) SDL_SetWindowSize(FWindow, std::max(width, 1), std::max(height, 1));
}

int32_t TSdlWindow::Width() const {
  int w = 0;
  if (FWindow != nullptr) SDL_GetWindowSize(FWindow, &w, nullptr);
  return w;
}

int32_t TSdlWindow::Height() const {
  int h = 0;
  if (FWindow != nullptr) SDL_GetWindowSize(FWindow, nullptr, &h);
  return h;
}

void TSdlWindow::SetTitle(const std::string& title) {
  if (FWindow != nullptr) SDL_SetWindowTitle(FWindow, title.c_str());
}

std::string TSdlWindow::Title() const {
  return FWindow != nullptr ? std::string(SDL_GetWindowTitle(FWindow)) : std::string();
}

TSdlWindow* TSdlWindow::FromHandle(HWND handle) {
  uintptr_t id = reinterpret_cast<uintptr_t>(handle);
  if (id == 0 || id > UINT32_MAX) return nullptr;
  return FromID(static_cast<uint32_t>(id));
}

TSdlWindow* TSdlWindow::FromID(uint32_t windowID) {
  std::lock_guard<std::mutex> guard(gWindowsLock);
  auto it = gWindows.find(windowID);
  return it != gWindows.end() ? it->second : nullptr;
}

bool TSdlWindow::DispatchEvent(const SDL_Event& event) {
  uint32_t id = EventWindowID(event);
  if (id == 0) return false;
  std::function<void(const SDL_Event&)> handler;
  {
    std::lock_guard<std::mutex> guard(gWindowsLock);
    auto it = gWindows.find(id);
    if (it == gWindows.end()) return false;
    handler = it->second->OnEvent;
  }
  // Called outside the lock: a handler may close (destroy) its own window.
  if (!handler) return false;
  handler(event);
  return true;
}

TSdlWindow* TSdlWindow::Hidden() {
  std::lock_guard<std::mutex> guard(gHiddenLock);
  if (gHidden == nullptr || gHidden->Window() == nullptr) {
    TOptions options;
    options.Title = "Quorvel3D";
    gHidden = std::make_unique<TSdlWindow>(options);
  }
  return gHidden.get();
}

void TSdlWindow::ShutdownAll() {
  {
    std::lock_guard<std::mutex> guard(gHiddenLock);
    gHidden.reset();
  }
  std::vector<TSdlWindow*> remaining;
  {
    std::lock_guard<std::mutex> guard(gWindowsLock);
    for (auto& entry : gWindows) remaining.push_back(entry.second);
  }
  for (TSdlWindow* window : remaining) window->DestroyNative();
}

}  // namespace quorvel
