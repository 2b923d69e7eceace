#pragma once
// A native window on SDL2. Forms own one each; the platform layer owns one more, hidden and
// 1x1, that window handle 0 stands for (GetDC(0)). Every window made here can carry the
// process's one OpenGL pixel format, so a rendering context made on one window's DC can be
// made current on any other.
#include <SDL2/SDL.h>

#include <cstdint>
#include <functional>
#include <string>

#include "framework/platform/Windows.h"

namespace quorvel {

struct TGLFramebufferConfig {
  int32_t Red = 8, Green = 8, Blue = 8, Alpha = 8, Depth = 24, Stencil = 8;
  bool DoubleBuffer = true;
};

class TSdlWindow {
public:
  struct TOptions {
    std::string Title;
    int32_t Width = 1;
    int32_t Height = 1;
    bool Visible = false;    // windows are hidden unless asked otherwise
    bool Resizable = false;
    bool OpenGL = true;      // can take a pixel format and rendering contexts
  };

  // Starts the platform when needed; raises EOSError with SDL's text when the native
  // window cannot be made. Width and height below 1 become 1.
  explicit TSdlWindow(const TOptions& options);
  TSdlWindow(const TSdlWindow&) = delete;
  TSdlWindow& operator=(const TSdlWindow&) = delete;
  // Destroys the native window; its device contexts become invalid and a rendering
  // context current on it (on this thread) is released first.
  ~TSdlWindow();

  // The native window, nullptr once PlatformShutdown destroyed it.
  SDL_Window* Window() const { return FWindow; }
  // The handle for the WGL/GDI calls: SDL's window id, never reused in a process.
  HWND Handle() const { return FHandle; }
  uint32_t WindowID() const { return FWindowID; }
  bool IsOpenGL() const { return FOpenGL; }

  void Show();
  void Hide();
  bool Visible() const;
  void SetSize(int32_t width, int32_t height);
  int32_t Width() const;
  int32_t Height() const;
  void SetTitle(const std::string& title);
  std::string Title() const;

  // The framebuffer configuration of every GL-capable window: SDL fixes it when the window
  // is made (the EGL surface or X visual), and a context only goes with surfaces of the
  // configuration it was made for.
  static constexpr TGLFramebufferConfig GLConfig{};
  // Sets SDL's framebuffer attributes to GLConfig (before a GL window or context is made).
  static void ApplyGLConfig();

  // The pixel format set by SetPixelFormat (0 = none yet).
  int32_t PixelFormat() const { return FPixelFormat; }
  void SetPixelFormatIndex(int32_t format) { FPixelFormat = format; }

  // Receives the events DispatchEvent routes to this window.
  std::function<void(const SDL_Event&)> OnEvent;

  // The live window with this handle or id, else nullptr. Handle 0 is not resolved here.
  static TSdlWindow* FromHandle(HWND handle);
  static TSdlWindow* FromID(uint32_t windowID);
  // Hands an event that names a window (window, key, text, mouse, drop events) to that
  // window's OnEvent; false when the event names no live window or it has no handler.
  static bool DispatchEvent(const SDL_Event& event);

  // The internal hidden 1x1 window that handle 0 stands for, made on first use.
  static TSdlWindow* Hidden();
  // Frees the hidden window and destroys every remaining native window (PlatformShutdown).
  static void ShutdownAll();

private:
  void DestroyNative();

  SDL_Window* FWindow = nullptr;
  HWND FHandle = nullptr;
  uint32_t FWindowID = 0;
  bool FOpenGL = false;
  int32_t FPixelFormat = 0;
};

}  // namespace quorvel
