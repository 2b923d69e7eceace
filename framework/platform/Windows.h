#pragma once
// The Windows, GDI and WGL calls the engine makes, under their names, over SDL2.
// Handles are opaque numbers that are never reused, so a stale handle is refused
// (0/FALSE and the last error) instead of touching freed memory. Failures report like the
// originals: a 0/FALSE/null result and the thread's last error (GetLastError, with SDL's
// text where SDL refused).
//
// There is one pixel format (index 1): RGB 8-8-8, alpha 8, depth 24, stencil 8, double
// buffered. SDL fixes a window's GL configuration when the window is made, not when a
// pixel format is set, so every GL-capable window is made with it; ChoosePixelFormat
// answers it as the closest match and DescribePixelFormat reports the sizes the driver
// actually gave once a context exists.
#include <cstddef>
#include <cstdint>
#include <string>

namespace quorvel {

using BOOL = int32_t;
using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using SHORT = int16_t;
using UINT = uint32_t;
using WCHAR = char16_t;
using LPCWSTR = const WCHAR*;
using LPCSTR = const char*;
constexpr BOOL FALSE = 0;
constexpr BOOL TRUE = 1;

struct HWND__;
struct HDC__;
struct HGLRC__;
using HWND = HWND__*;
using HDC = HDC__*;
using HGLRC = HGLRC__*;
using HANDLE = void*;
inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~uintptr_t(0));
using PROC = void (*)();

// Last-error codes set by these calls.
constexpr int ERROR_FILE_NOT_FOUND = 2;
constexpr int ERROR_PATH_NOT_FOUND = 3;
constexpr int ERROR_ACCESS_DENIED = 5;
constexpr int ERROR_INVALID_HANDLE = 6;
constexpr int ERROR_GEN_FAILURE = 31;
constexpr int ERROR_FILE_EXISTS = 80;
constexpr int ERROR_INVALID_PARAMETER = 87;
constexpr int ERROR_BUSY = 170;
constexpr int ERROR_INVALID_WINDOW_HANDLE = 1400;
constexpr int ERROR_INVALID_PIXEL_FORMAT = 2000;
constexpr int ERROR_INVALID_VERSION_ARB = 0x2095;
constexpr int ERROR_INVALID_PROFILE_ARB = 0x2096;

// ---- Device contexts -------------------------------------------------------------------

constexpr DWORD OBJ_DC = 3;
constexpr DWORD OBJ_METADC = 4;
constexpr DWORD OBJ_MEMDC = 10;
constexpr DWORD OBJ_ENHMETADC = 12;

// The DC of a window; window 0 is the platform's hidden 1x1 window. Each call gives a new
// DC. Null with ERROR_INVALID_WINDOW_HANDLE for a window that does not exist.
HDC GetDC(HWND window);
// 1 when the DC was got by GetDC for that window and is now freed, else 0.
int ReleaseDC(HWND window, HDC dc);
// A memory DC (OBJ_MEMDC) on the same window as `dc` (0: the hidden window); DeleteDC frees it.
HDC CreateCompatibleDC(HDC dc);
BOOL DeleteDC(HDC dc);
// OBJ_DC or OBJ_MEMDC; 0 with ERROR_INVALID_HANDLE for anything else.
DWORD GetObjectType(HDC object);

// ---- Pixel formats ---------------------------------------------------------------------

struct PIXELFORMATDESCRIPTOR {
  WORD nSize;
  WORD nVersion;
  DWORD dwFlags;
  BYTE iPixelType;
  BYTE cColorBits;
  BYTE cRedBits;
  BYTE cRedShift;
  BYTE cGreenBits;
  BYTE cGreenShift;
  BYTE cBlueBits;
  BYTE cBlueShift;
  BYTE cAlphaBits;
  BYTE cAlphaShift;
  BYTE cAccumBits;
  BYTE cAccumRedBits;
  BYTE cAccumGreenBits;
  BYTE cAccumBlueBits;
  BYTE cAccumAlphaBits;
  BYTE cDepthBits;
  BYTE cStencilBits;
  BYTE cAuxBuffers;
  BYTE iLayerType;
  BYTE bReserved;
  DWORD dwLayerMask;
  DWORD dwVisibleMask;
  DWORD dwDamageMask;
};
static_assert(sizeof(PIXELFORMATDESCRIPTOR) == 40, "callers fill nSize with 40");

constexpr DWORD PFD_DOUBLEBUFFER = 0x00000001;
constexpr DWORD PFD_STEREO = 0x00000002;
constexpr DWORD PFD_DRAW_TO_WINDOW = 0x00000004;
constexpr DWORD PFD_DRAW_TO_BITMAP = 0x00000008;
constexpr DWORD PFD_SUPPORT_GDI = 0x00000010;
constexpr DWORD PFD_SUPPORT_OPENGL = 0x00000020;
constexpr DWORD PFD_GENERIC_FORMAT = 0x00000040;
constexpr DWORD PFD_DEPTH_DONTCARE = 0x20000000;
constexpr DWORD PFD_DOUBLEBUFFER_DONTCARE = 0x40000000;
constexpr DWORD PFD_STEREO_DONTCARE = 0x80000000;
constexpr BYTE PFD_TYPE_RGBA = 0;
constexpr BYTE PFD_TYPE_COLORINDEX = 1;
constexpr BYTE PFD_MAIN_PLANE = 0;
constexpr BYTE PFD_OVERLAY_PLANE = 1;
constexpr BYTE PFD_UNDERLAY_PLANE = 0xFF;  // -1 as a byte

// The format closest to the descriptor (1..n); 0 with ERROR_INVALID_PARAMETER for a null
// descriptor or one whose nSize is not 40 / nVersion not 1, with ERROR_INVALID_PIXEL_FORMAT
// for colour-index formats or a window made without OpenGL.
int ChoosePixelFormat(HDC dc, const PIXELFORMATDESCRIPTOR* descriptor);
// The count of formats; copies at most `bytes` of format `format`'s description when
// `descriptor` is set. 0 with ERROR_INVALID_PARAMETER for a format out of range.
int DescribePixelFormat(HDC dc, int format, UINT bytes, PIXELFORMATDESCRIPTOR* descriptor);
// The window's format; 0 (ERROR_INVALID_PIXEL_FORMAT) before SetPixelFormat.
int GetPixelFormat(HDC dc);
// A window's format is set once; setting another one later fails.
BOOL SetPixelFormat(HDC dc, int format, const PIXELFORMATDESCRIPTOR* descriptor);

// ---- Rendering contexts ----------------------------------------------------------------

constexpr int WGL_CONTEXT_MAJOR_VERSION_ARB = 0x2091;
constexpr int WGL_CONTEXT_MINOR_VERSION_ARB = 0x2092;
constexpr int WGL_CONTEXT_LAYER_PLANE_ARB = 0x2093;
constexpr int WGL_CONTEXT_FLAGS_ARB = 0x2094;
constexpr int WGL_CONTEXT_PROFILE_MASK_ARB = 0x9126;
constexpr int WGL_CONTEXT_DEBUG_BIT_ARB = 0x0001;
constexpr int WGL_CONTEXT_FORWARD_COMPATIBLE_BIT_ARB = 0x0002;
constexpr int WGL_CONTEXT_ROBUST_ACCESS_BIT_ARB = 0x0004;
constexpr int WGL_CONTEXT_CORE_PROFILE_BIT_ARB = 0x0001;
constexpr int WGL_CONTEXT_COMPATIBILITY_PROFILE_BIT_ARB = 0x0002;
constexpr int WGL_CONTEXT_ES2_PROFILE_BIT_EXT = 0x0004;

// A legacy context for the DC's pixel format (set first). Does not change the current
// context.
HGLRC wglCreateContext(HDC dc);
// Version, flags and profile from the 0-terminated attribute pairs (null: defaults 1.0;
// the ES profile is refused: the engine never asks for it and SDL cannot mix it with GL);
// shares objects with `share` when given. Does not change the current context. 0 with
// ERROR_INVALID_VERSION_ARB / ERROR_INVALID_PROFILE_ARB / ERROR_INVALID_PARAMETER for
// bad attributes, and with ERROR_INVALID_VERSION_ARB plus SDL's text when the driver
// refuses the context.
HGLRC wglCreateContextAttribsARB(HDC dc, HGLRC share, const int* attributes);
using PFNWGLCREATECONTEXTATTRIBSARBPROC = HGLRC (*)(HDC, HGLRC, const int*);
// Makes the context current on this thread with the DC's window; (any, 0) releases the
// current one. Fails with ERROR_BUSY when the context is current on another thread.
BOOL wglMakeCurrent(HDC dc, HGLRC context);
// Releases it first when current on this thread; ERROR_BUSY when current on another.
BOOL wglDeleteContext(HGLRC context);
HGLRC wglGetCurrentContext();
// Whether the calling thread has a current GL context.
inline bool IsGLContextCurrent() { return wglGetCurrentContext() != nullptr; }
HDC wglGetCurrentDC();
// Needs a current context (null otherwise). "wglCreateContextAttribsARB" answers the
// function above; other names go to the GL driver.
PROC wglGetProcAddress(LPCSTR name);

// Deletes every rendering context and frees every DC (PlatformShutdown).
void ShutdownRenderingContexts();
// A window is going away: release a context current on it and invalidate its DCs.
void ReleaseWindowDeviceContexts(HWND window);

// ---- Display -----------------------------------------------------------------------------

constexpr DWORD ENUM_CURRENT_SETTINGS = 0xFFFFFFFF;
constexpr DWORD ENUM_REGISTRY_SETTINGS = 0xFFFFFFFE;

// The display-mode record, 220 bytes as callers size it; only the fields below are filled.
struct DEVMODEW {
  WCHAR dmDeviceName[32];
  WORD dmSpecVersion;
  WORD dmDriverVersion;
  WORD dmSize;
  WORD dmDriverExtra;
  DWORD dmFields;
  BYTE dmUnusedA[90];
  WORD dmLogPixels;
  DWORD dmBitsPerPel;
  DWORD dmPelsWidth;
  DWORD dmPelsHeight;
  DWORD dmDisplayFlags;
  DWORD dmDisplayFrequency;
  BYTE dmUnusedB[32];
};
static_assert(sizeof(DEVMODEW) == 220, "callers fill dmSize with 220");
static_assert(offsetof(DEVMODEW, dmBitsPerPel) == 168 && offsetof(DEVMODEW, dmDisplayFrequency) == 184);

constexpr DWORD DM_BITSPERPEL = 0x00040000;
constexpr DWORD DM_PELSWIDTH = 0x00080000;
constexpr DWORD DM_PELSHEIGHT = 0x00100000;
constexpr DWORD DM_DISPLAYFREQUENCY = 0x00400000;

// Display `deviceName` (null: the primary display; "\\.\DISPLAYn": display n, from 1),
// mode ENUM_CURRENT_SETTINGS, ENUM_REGISTRY_SETTINGS (the desktop mode) or a mode index.
// dmDisplayFrequency is 0 when the driver does not know the rate. FALSE for a missing
// display or mode (the record is left alone).
BOOL EnumDisplaySettingsW(LPCWSTR deviceName, DWORD mode, DEVMODEW* devMode);

// ---- Keyboard ------------------------------------------------------------------------------

constexpr int VK_LBUTTON = 0x01;
constexpr int VK_RBUTTON = 0x02;
constexpr int VK_MBUTTON = 0x04;
constexpr int VK_BACK = 0x08;
constexpr int VK_TAB = 0x09;
constexpr int VK_RETURN = 0x0D;
constexpr int VK_SHIFT = 0x10;
constexpr int VK_CONTROL = 0x11;
constexpr int VK_MENU = 0x12;
constexpr int VK_PAUSE = 0x13;
constexpr int VK_CAPITAL = 0x14;
constexpr int VK_ESCAPE = 0x1B;
constexpr int VK_SPACE = 0x20;
constexpr int VK_PRIOR = 0x21;
constexpr int VK_NEXT = 0x22;
constexpr int VK_END = 0x23;
constexpr int VK_HOME = 0x24;
constexpr int VK_LEFT = 0x25;
constexpr int VK_UP = 0x26;
constexpr int VK_RIGHT = 0x27;
constexpr int VK_DOWN = 0x28;
constexpr int VK_INSERT = 0x2D;
constexpr int VK_DELETE = 0x2E;
// '0'..'9' and 'A'..'Z' are their ASCII codes.
constexpr int VK_LWIN = 0x5B;
constexpr int VK_RWIN = 0x5C;
constexpr int VK_NUMPAD0 = 0x60;  // .. VK_NUMPAD0 + 9
constexpr int VK_F1 = 0x70;       // .. VK_F1 + 11
constexpr int VK_NUMLOCK = 0x90;
constexpr int VK_SCROLL = 0x91;
constexpr int VK_LSHIFT = 0xA0;
constexpr int VK_RSHIFT = 0xA1;
constexpr int VK_LCONTROL = 0xA2;
constexpr int VK_RCONTROL = 0xA3;
constexpr int VK_LMENU = 0xA4;
constexpr int VK_RMENU = 0xA5;

// Negative (high bit) while the key is down; low bit set while a lock key is toggled on.
// Unknown keys answer 0.
SHORT GetKeyState(int virtualKey);

// ---- Time ------------------------------------------------------------------------------------

// FALSE with ERROR_INVALID_PARAMETER for a null pointer.
BOOL QueryPerformanceCounter(int64_t* counter);
BOOL QueryPerformanceFrequency(int64_t* frequency);
void Sleep(DWORD milliseconds);

// ---- Files (the write probe) -----------------------------------------------------------------

constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x00000080;
constexpr DWORD FILE_ATTRIBUTE_TEMPORARY = 0x00000100;
constexpr DWORD FILE_FLAG_DELETE_ON_CLOSE = 0x04000000;

// The path is UTF-8 like every string here. Sharing modes, security attributes and the
// template are not supported (ignored). INVALID_HANDLE_VALUE and the last error on failure
// (ERROR_FILE_EXISTS for CREATE_NEW on an existing file).
HANDLE CreateFileW(const std::string& path, DWORD access, DWORD shareMode, void* security,
                   DWORD creation, DWORD flags, HANDLE templateFile);
// Closes a file handle; FILE_FLAG_DELETE_ON_CLOSE files are deleted here.
BOOL CloseHandle(HANDLE handle);

}  // namespace quorvel
