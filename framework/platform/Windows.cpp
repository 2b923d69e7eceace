#include "framework/platform/Windows.h"

#include <SDL2/SDL.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "framework/platform/Platform.h"
#include "framework/platform/SdlWindow.h"
#include "framework/rtl/Exceptions.h"

namespace quorvel {

namespace {

// ---- Handle tables ----------------------------------------------------------------------

struct TDeviceContext {
  HWND Window;        // 0: the hidden window
  uint32_t WindowID;  // the native window it draws on
  DWORD ObjectType;
};

struct TRenderingContext {
  SDL_GLContext Context = nullptr;
  int PixelFormat = 0;
  bool Current = false;
  std::thread::id Thread;  // where it is current
  uint32_t CurrentWindowID = 0;
};

struct TOpenFile {
  int Descriptor;
  std::string Path;
  bool DeleteOnClose;
};

// Guards the tables and every SDL GL call made here (SDL's GL attributes are global).
std::mutex gLock;
uintptr_t gNextHandle = 0x1000;
std::unordered_map<uintptr_t, TDeviceContext> gDCs;
std::unordered_map<uintptr_t, TRenderingContext> gContexts;
std::unordered_map<uintptr_t, TOpenFile> gFiles;
thread_local HGLRC tCurrentContext = nullptr;
thread_local HDC tCurrentDC = nullptr;

constexpr int kPixelFormatCount = 1;
bool gAchievedRead = false;
PIXELFORMATDESCRIPTOR gFormat{};

uintptr_t Key(const void* handle) { return reinterpret_cast<uintptr_t>(handle); }
template <typename T>
T NewHandle() {
  return reinterpret_cast<T>(gNextHandle++);
}

void Fail(int code, const std::string& text) { SetLastError(code, text); }
void FailSdl(int code, const std::string& what) { SetLastError(code, what + ": " + SDL_GetError()); }

void FillFormat(PIXELFORMATDESCRIPTOR& pfd, int red, int green, int blue, int alpha, int depth,
                int stencil, bool doubleBuffer) {
  pfd = PIXELFORMATDESCRIPTOR{};
  pfd.nSize = sizeof(PIXELFORMATDESCRIPTOR);
  pfd.nVersion = 1;
  pfd.dwFlags = PFD_DRAW_TO_WINDOW | PFD_DRAW_TO_BITMAP | PFD_SUPPORT_OPENGL;
  if (doubleBuffer) pfd.dwFlags |= PFD_DOUBLEBUFFER;
  pfd.iPixelType = PFD_TYPE_RGBA;
  pfd.cRedBits = static_cast<BYTE>(red);
  pfd.cGreenBits = static_cast<BYTE>(green);
  pfd.cBlueBits = static_cast<BYTE>(blue);
  pfd.cAlphaBits = static_cast<BYTE>(alpha);
  pfd.cColorBits = static_cast<BYTE>(red + green + blue);
  pfd.cBlueShift = 0;
  pfd.cGreenShift = static_cast<BYTE>(blue);
  pfd.cRedShift = static_cast<BYTE>(blue + green);
  pfd.cAlphaShift = static_cast<BYTE>(alpha > 0 ? red + green + blue : 0);
  pfd.cDepthBits = static_cast<BYTE>(depth);
  pfd.cStencilBits = static_cast<BYTE>(stencil);
  pfd.iLayerType = PFD_MAIN_PLANE;
}

const PIXELFORMATDESCRIPTOR& Format() {
  if (gFormat.nSize == 0) {
    const auto& c = TSdlWindow::GLConfig;
    FillFormat(gFormat, c.Red, c.Green, c.Blue, c.Alpha, c.Depth, c.Stencil, c.DoubleBuffer);
  }
  return gFormat;
}

// Once a context of the format is current, the description takes the sizes the driver
// actually gave (they may exceed what was asked).
void ReadAchievedSizes() {
  if (gAchievedRead) return;
  int r = 0, g = 0, b = 0, a = 0, d = 0, s = 0, db = 0;
  if (SDL_GL_GetAttribute(SDL_GL_RED_SIZE, &r) != 0 || SDL_GL_GetAttribute(SDL_GL_GREEN_SIZE, &g) != 0 ||
      SDL_GL_GetAttribute(SDL_GL_BLUE_SIZE, &b) != 0 || SDL_GL_GetAttribute(SDL_GL_ALPHA_SIZE, &a) != 0 ||
      SDL_GL_GetAttribute(SDL_GL_DEPTH_SIZE, &d) != 0 || SDL_GL_GetAttribute(SDL_GL_STENCIL_SIZE, &s) != 0 ||
      SDL_GL_GetAttribute(SDL_GL_DOUBLEBUFFER, &db) != 0)
    return;
  gAchievedRead = true;
  FillFormat(gFormat, r, g, b, a, d, s, db != 0);
}

TDeviceContext* FindDC(HDC dc) {
  auto it = gDCs.find(Key(dc));
  if (it == gDCs.end()) {
    Fail(ERROR_INVALID_HANDLE, "Invalid device context handle");
    return nullptr;
  }
  return &it->second;
}

// The live GL-capable window under a DC; null (and the last error) otherwise.
TSdlWindow* DCWindow(const TDeviceContext& dc) {
  TSdlWindow* window = TSdlWindow::FromID(dc.WindowID);
  if (window == nullptr || window->Window() == nullptr) {
    Fail(ERROR_INVALID_HANDLE, "The device context's window no longer exists");
    return nullptr;
  }
  if (!window->IsOpenGL()) {
    Fail(ERROR_INVALID_PIXEL_FORMAT, "The window was made without OpenGL");
    return nullptr;
  }
  return window;
}

TRenderingContext* FindContext(HGLRC context) {
  auto it = gContexts.find(Key(context));
  if (it == gContexts.end()) {
    Fail(ERROR_INVALID_HANDLE, "Invalid rendering context handle");
    return nullptr;
  }
  return &it->second;
}

bool CurrentElsewhere(const TRenderingContext& rc) {
  return rc.Current && rc.Thread != std::this_thread::get_id();
}

void ForgetCurrent() {
  if (tCurrentContext != nullptr) {
    auto it = gContexts.find(Key(tCurrentContext));
    if (it != gContexts.end()) it->second.Current = false;
  }
  tCurrentContext = nullptr;
  tCurrentDC = nullptr;
}

struct TContextRequest {
  int Major = 1;
  int Minor = 0;
  int Flags = 0;
  int Profile = 0;  // SDL_GLprofile, 0 = whatever the driver gives a legacy request
};

// Makes an SDL context for the window's configuration and leaves SDL's current context
// as it was, since the WGL calls never change it.
SDL_GLContext CreateSdlContext(TSdlWindow& window, const TContextRequest& request, SDL_GLContext share) {
  SDL_Window* previousWindow = SDL_GL_GetCurrentWindow();
  SDL_GLContext previousContext = SDL_GL_GetCurrentContext();
  TSdlWindow::ApplyGLConfig();
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, request.Major);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, request.Minor);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_FLAGS, request.Flags);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, request.Profile);
  SDL_GL_SetAttribute(SDL_GL_SHARE_WITH_CURRENT_CONTEXT, share != nullptr ? 1 : 0);
  SDL_GLContext context = nullptr;
  if (share == nullptr || SDL_GL_MakeCurrent(window.Window(), share) == 0) {
    context = SDL_GL_CreateContext(window.Window());
    if (context != nullptr) {
      ReadAchievedSizes();
      KeepGLDriverResident();
    }
  }
  std::string error = context == nullptr ? SDL_GetError() : "";
  SDL_GL_SetAttribute(SDL_GL_SHARE_WITH_CURRENT_CONTEXT, 0);
  SDL_GL_MakeCurrent(previousContext != nullptr ? previousWindow : nullptr, previousContext);
  if (context == nullptr) SDL_SetError("%s", error.c_str());
  return context;
}

HGLRC RegisterContext(SDL_GLContext context, int pixelFormat) {
  HGLRC handle = NewHandle<HGLRC>();
  TRenderingContext record;
  record.Context = context;
  record.PixelFormat = pixelFormat;
  gContexts.emplace(Key(handle), record);
  return handle;
}

// The context and window a DC needs for creating a context; null and the last error when
// the DC has no pixel format yet.
TSdlWindow* WindowForNewContext(HDC dc) {
  TDeviceContext* record = FindDC(dc);
  if (record == nullptr) return nullptr;
  TSdlWindow* window = DCWindow(*record);
  if (window == nullptr) return nullptr;
  if (window->PixelFormat() == 0) {
    Fail(ERROR_INVALID_PIXEL_FORMAT, "The device context has no pixel format");
    return nullptr;
  }
  return window;
}

bool ValidDesktopVersion(int major, int minor) {
  switch (major) {
    case 1: return minor >= 0 && minor <= 5;
    case 2: return minor >= 0 && minor <= 1;
    case 3: return minor >= 0 && minor <= 3;
    case 4: return minor >= 0 && minor <= 6;
    default: return false;
  }
}

// Reads the attribute pairs into an SDL request; false (and the last error) for a bad list.
bool ParseAttributes(const int* attributes, TContextRequest& request) {
  int profileMask = WGL_CONTEXT_CORE_PROFILE_BIT_ARB;
  for (const int* a = attributes; a != nullptr && a[0] != 0; a += 2) {
    switch (a[0]) {
      case WGL_CONTEXT_MAJOR_VERSION_ARB: request.Major = a[1]; break;
      case WGL_CONTEXT_MINOR_VERSION_ARB: request.Minor = a[1]; break;
      case WGL_CONTEXT_FLAGS_ARB: request.Flags = a[1]; break;
      case WGL_CONTEXT_PROFILE_MASK_ARB: profileMask = a[1]; break;
      case WGL_CONTEXT_LAYER_PLANE_ARB:
        if (a[1] != 0) {
          Fail(ERROR_INVALID_PARAMETER, "Layer planes are not supported");
          return false;
        }
        break;
      default:
        Fail(ERROR_INVALID_PARAMETER, "Unknown context attribute " + std::to_string(a[0]));
        return false;
    }
  }
  constexpr int knownFlags = WGL_CONTEXT_DEBUG_BIT_ARB | WGL_CONTEXT_FORWARD_COMPATIBLE_BIT_ARB |
                             WGL_CONTEXT_ROBUST_ACCESS_BIT_ARB;
  if ((request.Flags & ~knownFlags) != 0) {
    Fail(ERROR_INVALID_PARAMETER, "Unknown context flags " + std::to_string(request.Flags));
    return false;
  }
  switch (profileMask) {
    case WGL_CONTEXT_CORE_PROFILE_BIT_ARB: request.Profile = SDL_GL_CONTEXT_PROFILE_CORE; break;
    case WGL_CONTEXT_COMPATIBILITY_PROFILE_BIT_ARB: request.Profile = SDL_GL_CONTEXT_PROFILE_COMPATIBILITY; break;
    case WGL_CONTEXT_ES2_PROFILE_BIT_EXT:
      // SDL binds one client API for all its EGL contexts, so an ES context would break
      // making the desktop GL contexts current again.
      Fail(ERROR_INVALID_PROFILE_ARB, "OpenGL ES contexts are not supported");
      return false;
    default:
      Fail(ERROR_INVALID_PROFILE_ARB, "Invalid context profile mask " + std::to_string(profileMask));
      return false;
  }
  if (!ValidDesktopVersion(request.Major, request.Minor)) {
    Fail(ERROR_INVALID_VERSION_ARB,
         "Invalid OpenGL version " + std::to_string(request.Major) + "." + std::to_string(request.Minor));
    return false;
  }
  // Profiles exist from 3.2 on; below it the request is an old-style context.
  if (request.Major < 3 || (request.Major == 3 && request.Minor < 2)) request.Profile = 0;
  return true;
}

int MapFileError(int err) {
  switch (err) {
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return ERROR_ACCESS_DENIED;
    default: return err;
  }
}

}  // namespace

// ---- Device contexts -------------------------------------------------------------------

HDC GetDC(HWND window) {
  uint32_t windowID = 0;
  if (window == nullptr) {
    try {
      windowID = TSdlWindow::Hidden()->WindowID();
    } catch (const Exception&) {
      return nullptr;  // the last error says why
    }
  } else {
    TSdlWindow* w = TSdlWindow::FromHandle(window);
    if (w == nullptr || w->Window() == nullptr) {
      Fail(ERROR_INVALID_WINDOW_HANDLE, "Invalid window handle");
      return nullptr;
    }
    windowID = w->WindowID();
  }
  std::lock_guard<std::mutex> guard(gLock);
  HDC dc = NewHandle<HDC>();
  gDCs.emplace(Key(dc), TDeviceContext{window, windowID, OBJ_DC});
  return dc;
}

int ReleaseDC(HWND window, HDC dc) {
  std::lock_guard<std::mutex> guard(gLock);
  auto it = gDCs.find(Key(dc));
  if (it == gDCs.end() || it->second.Window != window || it->second.ObjectType != OBJ_DC) return 0;
  if (tCurrentDC == dc) tCurrentDC = nullptr;
  gDCs.erase(it);
  return 1;
}

HDC CreateCompatibleDC(HDC dc) {
  uint32_t windowID = 0;
  HWND window = nullptr;
  if (dc == nullptr) {
    try {
      windowID = TSdlWindow::Hidden()->WindowID();
    } catch (const Exception&) {
      return nullptr;
    }
  }
  std::lock_guard<std::mutex> guard(gLock);
  if (dc != nullptr) {
    TDeviceContext* record = FindDC(dc);
    if (record == nullptr) return nullptr;
    windowID = record->WindowID;
    window = record->Window;
  }
  HDC memoryDC = NewHandle<HDC>();
  gDCs.emplace(Key(memoryDC), TDeviceContext{window, windowID, OBJ_MEMDC});
  return memoryDC;
}

BOOL DeleteDC(HDC dc) {
  std::lock_guard<std::mutex> guard(gLock);
  if (FindDC(dc) == nullptr) return FALSE;
  if (tCurrentDC == dc) tCurrentDC = nullptr;
  gDCs.erase(Key(dc));
  return TRUE;
}

DWORD GetObjectType(HDC object) {
  std::lock_guard<std::mutex> guard(gLock);
  TDeviceContext* record = FindDC(object);
  return record != nullptr ? record->ObjectType : 0;
}

// ---- Pixel formats ---------------------------------------------------------------------

int ChoosePixelFormat(HDC dc, const PIXELFORMATDESCRIPTOR* descriptor) {
  std::lock_guard<std::mutex> guard(gLock);
  TDeviceContext* record = FindDC(dc);
  if (record == nullptr) return 0;
  if (descriptor == nullptr || descriptor->nSize != sizeof(PIXELFORMATDESCRIPTOR) ||
      descriptor->nVersion != 1) {
    Fail(ERROR_INVALID_PARAMETER, "Invalid pixel format descriptor");
    return 0;
  }
  if (descriptor->iPixelType != PFD_TYPE_RGBA) {
    Fail(ERROR_INVALID_PIXEL_FORMAT, "Colour-index pixel formats are not supported");
    return 0;
  }
  if (DCWindow(*record) == nullptr) return 0;
  // One format: it is the closest match to every RGBA request.
  return 1;
}

int DescribePixelFormat(HDC dc, int format, UINT bytes, PIXELFORMATDESCRIPTOR* descriptor) {
  std::lock_guard<std::mutex> guard(gLock);
  if (FindDC(dc) == nullptr) return 0;
  if (descriptor == nullptr) return kPixelFormatCount;
  if (format < 1 || format > kPixelFormatCount) {
    Fail(ERROR_INVALID_PARAMETER, "Pixel format " + std::to_string(format) + " does not exist");
    return 0;
  }
  std::memcpy(descriptor, &Format(), std::min<size_t>(bytes, sizeof(PIXELFORMATDESCRIPTOR)));
  return kPixelFormatCount;
}

int GetPixelFormat(HDC dc) {
  std::lock_guard<std::mutex> guard(gLock);
  TDeviceContext* record = FindDC(dc);
  if (record == nullptr) return 0;
  TSdlWindow* window = DCWindow(*record);
  if (window == nullptr) return 0;
  if (window->PixelFormat() == 0) Fail(ERROR_INVALID_PIXEL_FORMAT, "No pixel format set");
  return window->PixelFormat();
}

BOOL SetPixelFormat(HDC dc, int format, const PIXELFORMATDESCRIPTOR* descriptor) {
  std::lock_guard<std::mutex> guard(gLock);
  TDeviceContext* record = FindDC(dc);
  if (record == nullptr) return FALSE;
  TSdlWindow* window = DCWindow(*record);
  if (window == nullptr) return FALSE;
  if (format < 1 || format > kPixelFormatCount) {
    Fail(ERROR_INVALID_PIXEL_FORMAT, "Pixel format " + std::to_string(format) + " does not exist");
    return FALSE;
  }
  if (window->PixelFormat() != 0 && window->PixelFormat() != format) {
    Fail(ERROR_INVALID_PIXEL_FORMAT, "The window's pixel format is already set");
    return FALSE;
  }
  window->SetPixelFormatIndex(format);
  return TRUE;
}

// ---- Rendering contexts ----------------------------------------------------------------

HGLRC wglCreateContext(HDC dc) {
  std::lock_guard<std::mutex> guard(gLock);
  TSdlWindow* window = WindowForNewContext(dc);
  if (window == nullptr) return nullptr;
  SDL_GLContext context = CreateSdlContext(*window, TContextRequest{}, nullptr);
  if (context == nullptr) {
    FailSdl(ERROR_INVALID_PIXEL_FORMAT, "Cannot create an OpenGL context");
    return nullptr;
  }
  return RegisterContext(context, window->PixelFormat());
}

HGLRC wglCreateContextAttribsARB(HDC dc, HGLRC share, const int* attributes) {
  std::lock_guard<std::mutex> guard(gLock);
  TSdlWindow* window = WindowForNewContext(dc);
  if (window == nullptr) return nullptr;
  SDL_GLContext shareContext = nullptr;
  if (share != nullptr) {
    TRenderingContext* shared = FindContext(share);
    if (shared == nullptr) return nullptr;
    // SDL shares with the current context, so `share` must be made current here briefly.
    if (CurrentElsewhere(*shared)) {
      Fail(ERROR_BUSY, "The share context is current on another thread");
      return nullptr;
    }
    shareContext = shared->Context;
  }
  TContextRequest request;
  if (!ParseAttributes(attributes, request)) return nullptr;
  SDL_GLContext context = CreateSdlContext(*window, request, shareContext);
  if (context == nullptr) {
    FailSdl(ERROR_INVALID_VERSION_ARB, "Cannot create an OpenGL " + std::to_string(request.Major) + "." +
                                           std::to_string(request.Minor) + " context");
    return nullptr;
  }
  return RegisterContext(context, window->PixelFormat());
}

BOOL wglMakeCurrent(HDC dc, HGLRC context) {
  std::lock_guard<std::mutex> guard(gLock);
  if (context == nullptr) {
    if (tCurrentContext != nullptr && SDL_GL_MakeCurrent(nullptr, nullptr) != 0) {
      FailSdl(ERROR_GEN_FAILURE, "Cannot release the OpenGL context");
      return FALSE;
    }
    ForgetCurrent();
    return TRUE;
  }
  TRenderingContext* rc = FindContext(context);
  if (rc == nullptr) return FALSE;
  TDeviceContext* record = FindDC(dc);
  if (record == nullptr) return FALSE;
  TSdlWindow* window = DCWindow(*record);
  if (window == nullptr) return FALSE;
  if (window->PixelFormat() != rc->PixelFormat) {
    Fail(ERROR_INVALID_PIXEL_FORMAT, "The device context's pixel format differs from the context's");
    return FALSE;
  }
  if (CurrentElsewhere(*rc)) {
    Fail(ERROR_BUSY, "The OpenGL context is current on another thread");
    return FALSE;
  }
  if (SDL_GL_MakeCurrent(window->Window(), rc->Context) != 0) {
    FailSdl(ERROR_GEN_FAILURE, "Cannot make the OpenGL context current");
    return FALSE;
  }
  ForgetCurrent();
  rc->Current = true;
  rc->Thread = std::this_thread::get_id();
  rc->CurrentWindowID = window->WindowID();
  tCurrentContext = context;
  tCurrentDC = dc;
  return TRUE;
}

BOOL wglDeleteContext(HGLRC context) {
  std::lock_guard<std::mutex> guard(gLock);
  TRenderingContext* rc = FindContext(context);
  if (rc == nullptr) return FALSE;
  if (CurrentElsewhere(*rc)) {
    Fail(ERROR_BUSY, "The OpenGL context is current on another thread");
    return FALSE;
  }
  if (tCurrentContext == context) {
    SDL_GL_MakeCurrent(nullptr, nullptr);
    ForgetCurrent();
  }
  SDL_GL_DeleteContext(rc->Context);
  gContexts.erase(Key(context));
  return TRUE;
}

HGLRC wglGetCurrentContext() { return tCurrentContext; }

HDC wglGetCurrentDC() { return tCurrentDC; }

PROC wglGetProcAddress(LPCSTR name) {
  if (name == nullptr || tCurrentContext == nullptr) {
    Fail(ERROR_INVALID_HANDLE, name == nullptr ? "No function name" : "No current OpenGL context");
    return nullptr;
  }
  if (std::strcmp(name, "wglCreateContextAttribsARB") == 0)
    return reinterpret_cast<PROC>(&wglCreateContextAttribsARB);
  PROC proc = reinterpret_cast<PROC>(SDL_GL_GetProcAddress(name));
  if (proc == nullptr) Fail(ERROR_GEN_FAILURE, std::string("No OpenGL function ") + name);
  return proc;
}

void ShutdownRenderingContexts() {
  std::lock_guard<std::mutex> guard(gLock);
  if (SDL_GL_GetCurrentContext() != nullptr) SDL_GL_MakeCurrent(nullptr, nullptr);
  for (auto& entry : gContexts) SDL_GL_DeleteContext(entry.second.Context);
  gContexts.clear();
  gDCs.clear();
  tCurrentContext = nullptr;
  tCurrentDC = nullptr;
  gAchievedRead = false;
  gFormat = PIXELFORMATDESCRIPTOR{};
}

void ReleaseWindowDeviceContexts(HWND window) {
  // A window's handle is its SDL window id.
  uintptr_t windowID = reinterpret_cast<uintptr_t>(window);
  if (windowID == 0) return;
  std::lock_guard<std::mutex> guard(gLock);
  // A context stays usable on other windows of its format; only its binding to this
  // window's surface must go before the surface does.
  for (auto& entry : gContexts) {
    TRenderingContext& rc = entry.second;
    if (!rc.Current || rc.CurrentWindowID != windowID) continue;
    if (rc.Thread == std::this_thread::get_id()) {
      SDL_GL_MakeCurrent(nullptr, nullptr);
      ForgetCurrent();
    }
  }
  std::erase_if(gDCs, [&](const auto& entry) {
    if (entry.second.WindowID != windowID) return false;
    if (tCurrentDC == reinterpret_cast<HDC>(entry.first)) tCurrentDC = nullptr;
    return true;
  });
}

// ---- Display -----------------------------------------------------------------------------

BOOL EnumDisplaySettingsW(LPCWSTR deviceName, DWORD mode, DEVMODEW* devMode) {
  if (devMode == nullptr) {
    Fail(ERROR_INVALID_PARAMETER, "No display-mode record");
    return FALSE;
  }
  int display = 0;
  if (deviceName != nullptr) {
    // "\\.\DISPLAYn", n from 1.
    static constexpr char16_t prefix[] = u"\\\\.\\DISPLAY";
    size_t i = 0;
    for (; prefix[i] != 0; ++i)
      if (deviceName[i] != prefix[i]) break;
    int n = 0;
    bool digits = prefix[i] == 0 && deviceName[i] != 0;
    for (size_t j = i; digits && deviceName[j] != 0; ++j) {
      if (deviceName[j] < u'0' || deviceName[j] > u'9' || n > 1000) digits = false;
      else n = n * 10 + (deviceName[j] - u'0');
    }
    if (!digits || n < 1) {
      Fail(ERROR_INVALID_PARAMETER, "Unknown display device");
      return FALSE;
    }
    display = n - 1;
  }
  try {
    PlatformInitialize();
  } catch (const Exception&) {
    return FALSE;
  }
  SDL_DisplayMode sdlMode;
  int result;
  if (mode == ENUM_CURRENT_SETTINGS)
    result = SDL_GetCurrentDisplayMode(display, &sdlMode);
  else if (mode == ENUM_REGISTRY_SETTINGS)
    result = SDL_GetDesktopDisplayMode(display, &sdlMode);
  else if (mode <= static_cast<DWORD>(INT32_MAX))
    result = SDL_GetDisplayMode(display, static_cast<int>(mode), &sdlMode);
  else
    result = SDL_SetError("Unknown display mode number");
  if (result != 0) {
    FailSdl(ERROR_INVALID_PARAMETER, "No such display mode");
    return FALSE;
  }
  devMode->dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT | DM_DISPLAYFREQUENCY;
  devMode->dmBitsPerPel = SDL_BITSPERPIXEL(sdlMode.format);
  devMode->dmPelsWidth = static_cast<DWORD>(std::max(sdlMode.w, 0));
  devMode->dmPelsHeight = static_cast<DWORD>(std::max(sdlMode.h, 0));
  devMode->dmDisplayFrequency = static_cast<DWORD>(std::max(sdlMode.refresh_rate, 0));
  return TRUE;
}

// ---- Keyboard ------------------------------------------------------------------------------

SHORT GetKeyState(int virtualKey) {
  constexpr SHORT down = static_cast<SHORT>(0x8000);
  SDL_Keymod mods = SDL_GetModState();
  auto modifier = [&](int mask) -> SHORT { return (mods & mask) != 0 ? down : 0; };
  auto toggle = [&](int mask) -> SHORT { return (mods & mask) != 0 ? 1 : 0; };
  switch (virtualKey) {
    case VK_SHIFT: return modifier(KMOD_SHIFT);
    case VK_LSHIFT: return modifier(KMOD_LSHIFT);
    case VK_RSHIFT: return modifier(KMOD_RSHIFT);
    case VK_CONTROL: return modifier(KMOD_CTRL);
    case VK_LCONTROL: return modifier(KMOD_LCTRL);
    case VK_RCONTROL: return modifier(KMOD_RCTRL);
    case VK_MENU: return modifier(KMOD_ALT);
    case VK_LMENU: return modifier(KMOD_LALT);
    case VK_RMENU: return modifier(KMOD_RALT);
    case VK_LWIN: return modifier(KMOD_LGUI);
    case VK_RWIN: return modifier(KMOD_RGUI);
    case VK_CAPITAL: return toggle(KMOD_CAPS);
    case VK_NUMLOCK: return toggle(KMOD_NUM);
    case VK_SCROLL: return toggle(KMOD_SCROLL);
    default: break;
  }
  if (virtualKey == VK_LBUTTON || virtualKey == VK_RBUTTON || virtualKey == VK_MBUTTON) {
    Uint32 buttons = SDL_GetMouseState(nullptr, nullptr);
    int button = virtualKey == VK_LBUTTON ? SDL_BUTTON_LEFT
                 : virtualKey == VK_RBUTTON ? SDL_BUTTON_RIGHT
                                            : SDL_BUTTON_MIDDLE;
    return (buttons & SDL_BUTTON(button)) != 0 ? down : 0;
  }
  SDL_Scancode scancode = SDL_SCANCODE_UNKNOWN;
  if (virtualKey >= 'A' && virtualKey <= 'Z')
    scancode = SDL_GetScancodeFromKey(SDLK_a + (virtualKey - 'A'));
  else if (virtualKey >= '0' && virtualKey <= '9')
    scancode = SDL_GetScancodeFromKey(SDLK_0 + (virtualKey - '0'));
  else if (virtualKey >= VK_F1 && virtualKey < VK_F1 + 12)
    scancode = static_cast<SDL_Scancode>(SDL_SCANCODE_F1 + (virtualKey - VK_F1));
  else if (virtualKey >= VK_NUMPAD0 && virtualKey < VK_NUMPAD0 + 10)
    scancode = virtualKey == VK_NUMPAD0 ? SDL_SCANCODE_KP_0
                                        : static_cast<SDL_Scancode>(SDL_SCANCODE_KP_1 + (virtualKey - VK_NUMPAD0 - 1));
  else {
    switch (virtualKey) {
      case VK_BACK: scancode = SDL_SCANCODE_BACKSPACE; break;
      case VK_TAB: scancode = SDL_SCANCODE_TAB; break;
      case VK_RETURN: scancode = SDL_SCANCODE_RETURN; break;
      case VK_PAUSE: scancode = SDL_SCANCODE_PAUSE; break;
      case VK_ESCAPE: scancode = SDL_SCANCODE_ESCAPE; break;
      case VK_SPACE: scancode = SDL_SCANCODE_SPACE; break;
      case VK_PRIOR: scancode = SDL_SCANCODE_PAGEUP; break;
      case VK_NEXT: scancode = SDL_SCANCODE_PAGEDOWN; break;
      case VK_END: scancode = SDL_SCANCODE_END; break;
      case VK_HOME: scancode = SDL_SCANCODE_HOME; break;
      case VK_LEFT: scancode = SDL_SCANCODE_LEFT; break;
      case VK_UP: scancode = SDL_SCANCODE_UP; break;
      case VK_RIGHT: scancode = SDL_SCANCODE_RIGHT; break;
      case VK_DOWN: scancode = SDL_SCANCODE_DOWN; break;
      case VK_INSERT: scancode = SDL_SCANCODE_INSERT; break;
      case VK_DELETE: scancode = SDL_SCANCODE_DELETE; break;
      default: return 0;
    }
  }
  if (scancode <= SDL_SCANCODE_UNKNOWN || scancode >= SDL_NUM_SCANCODES) return 0;
  int count = 0;
  const Uint8* state = SDL_GetKeyboardState(&count);
  return scancode < count && state[scancode] != 0 ? down : 0;
}

// ---- Time ------------------------------------------------------------------------------------

BOOL QueryPerformanceCounter(int64_t* counter) {
  if (counter == nullptr) {
    Fail(ERROR_INVALID_PARAMETER, "No counter");
    return FALSE;
  }
  *counter = PerformanceCounter();
  return TRUE;
}

BOOL QueryPerformanceFrequency(int64_t* frequency) {
  if (frequency == nullptr) {
    Fail(ERROR_INVALID_PARAMETER, "No frequency");
    return FALSE;
  }
  *frequency = PerformanceFrequency();
  return TRUE;
}

void Sleep(DWORD milliseconds) { SleepMilliseconds(milliseconds); }

// ---- Files ---------------------------------------------------------------------------------

HANDLE CreateFileW(const std::string& path, DWORD access, DWORD shareMode, void* security,
                   DWORD creation, DWORD flags, HANDLE templateFile) {
  int mode;
  if ((access & GENERIC_READ) != 0 && (access & GENERIC_WRITE) != 0) mode = O_RDWR;
  else if ((access & GENERIC_WRITE) != 0) mode = O_WRONLY;
  else mode = O_RDONLY;
  switch (creation) {
    case CREATE_NEW: mode |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: mode |= O_CREAT | O_TRUNC; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: mode |= O_CREAT; break;
    case TRUNCATE_EXISTING: mode |= O_TRUNC; break;
    default:
      Fail(ERROR_INVALID_PARAMETER, "Invalid creation disposition");
      return INVALID_HANDLE_VALUE;
  }
  int fd = ::open(path.c_str(), mode | O_CLOEXEC, 0666);
  if (fd < 0) {
    int err = errno;
    Fail(MapFileError(err), std::string(std::strerror(err)) + ": " + path);
    return INVALID_HANDLE_VALUE;
  }
  std::lock_guard<std::mutex> guard(gLock);
  HANDLE handle = NewHandle<HANDLE>();
  gFiles.emplace(Key(handle), TOpenFile{fd, path, (flags & FILE_FLAG_DELETE_ON_CLOSE) != 0});
  return handle;
}

BOOL CloseHandle(HANDLE handle) {
  TOpenFile file;
  {
    std::lock_guard<std::mutex> guard(gLock);
    auto it = gFiles.find(Key(handle));
    if (it == gFiles.end()) {
      Fail(ERROR_INVALID_HANDLE, "Invalid handle");
      return FALSE;
    }
    file = std::move(it->second);
    gFiles.erase(it);
  }
  if (file.DeleteOnClose) ::unlink(file.Path.c_str());
  return ::close(file.Descriptor) == 0 ? TRUE : FALSE;
}

}  // namespace quorvel
