#include <SDL2/SDL.h>
#include <epoxy/gl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "framework/platform/Platform.h"
#include "framework/platform/SdlWindow.h"
#include "framework/platform/Windows.h"
#include "framework/rtl/Exceptions.h"
#include "tests/support/ChildRun.h"
#include "tests/support/GLTestSupport.h"

namespace quorvel {
namespace {

const int kCompat43[] = {WGL_CONTEXT_MAJOR_VERSION_ARB, 4, WGL_CONTEXT_MINOR_VERSION_ARB, 3,
                         WGL_CONTEXT_PROFILE_MASK_ARB, WGL_CONTEXT_COMPATIBILITY_PROFILE_BIT_ARB, 0};

PIXELFORMATDESCRIPTOR EngineDescriptor(HDC dc) {
  PIXELFORMATDESCRIPTOR pfd{};
  pfd.nSize = 40;
  pfd.nVersion = 1;
  pfd.dwFlags = PFD_SUPPORT_OPENGL;
  DWORD type = GetObjectType(dc);
  pfd.dwFlags |= (type == OBJ_MEMDC || type == OBJ_METADC || type == OBJ_ENHMETADC) ? PFD_DRAW_TO_BITMAP
                                                                                    : PFD_DRAW_TO_WINDOW;
  pfd.dwFlags |= PFD_DOUBLEBUFFER;
  pfd.iPixelType = PFD_TYPE_RGBA;
  pfd.cColorBits = 24;
  pfd.cDepthBits = 16;
  pfd.iLayerType = PFD_MAIN_PLANE;
  return pfd;
}

std::string GLText(GLenum name) {
  const GLubyte* text = glGetString(name);
  return text != nullptr ? reinterpret_cast<const char*>(text) : "";
}

// The engine's way to its shared context, step by step: pixel format on the DC, a
// temporary legacy context made current, wglCreateContextAttribsARB fetched through it,
// the 4.3 compatibility context made, the temporary one deleted, the new one made current.
// Leaves that context current; the caller deletes it.
HGLRC MakeEngineContext(HDC dc) {
  EXPECT_EQ(GetObjectType(dc), OBJ_DC);
  PIXELFORMATDESCRIPTOR pfd = EngineDescriptor(dc);
  int format = ChoosePixelFormat(dc, &pfd);
  EXPECT_GT(format, 0) << GetLastError();
  if (GetPixelFormat(dc) != format) {
    EXPECT_TRUE(SetPixelFormat(dc, format, &pfd));
  }
  EXPECT_EQ(GetPixelFormat(dc), format);
  EXPECT_GE(DescribePixelFormat(dc, format, sizeof(pfd), &pfd), 1);
  EXPECT_TRUE(pfd.dwFlags & PFD_SUPPORT_OPENGL);

  HGLRC temporary = wglCreateContext(dc);
  EXPECT_NE(temporary, nullptr) << GetLastError();
  EXPECT_TRUE(wglMakeCurrent(dc, temporary));
  auto create = reinterpret_cast<PFNWGLCREATECONTEXTATTRIBSARBPROC>(wglGetProcAddress("wglCreateContextAttribsARB"));
  EXPECT_NE(create, nullptr);
  if (create == nullptr) return nullptr;
  HGLRC context = create(dc, nullptr, kCompat43);
  EXPECT_NE(context, nullptr) << GetLastError();
  EXPECT_EQ(wglGetCurrentContext(), temporary) << "creating a context must not change the current one";
  EXPECT_TRUE(wglDeleteContext(temporary));
  EXPECT_EQ(wglGetCurrentContext(), nullptr);
  EXPECT_TRUE(wglMakeCurrent(dc, context));
  return context;
}

void ExpectCompatibility43Current() {
  std::string version = GLText(GL_VERSION);
  EXPECT_NE(version.find("Compatibility Profile"), std::string::npos) << version;
  EXPECT_GE(epoxy_gl_version(), 43) << version;
  GLint mask = 0;
  glGetIntegerv(GL_CONTEXT_PROFILE_MASK, &mask);
  EXPECT_TRUE(mask & GL_CONTEXT_COMPATIBILITY_PROFILE_BIT) << mask;
  GLint drawBuffers = 0;
  glGetIntegerv(GL_MAX_DRAW_BUFFERS, &drawBuffers);
  EXPECT_GE(drawBuffers, 1);
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// Draws with the fixed-function pipeline (compatibility only) and reads the pixel back.
void ExpectImmediateModeDraws() {
  TGLTestFramebuffer fbo(8, 8);
  glClearColor(0, 0, 1, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, 8, 0, 8, -1, 1);
  glBegin(GL_QUADS);
  glColor3f(1, 0, 0);
  glVertex2f(0, 0);
  glVertex2f(4, 0);
  glVertex2f(4, 8);
  glVertex2f(0, 8);
  glEnd();
  EXPECT_TRUE(NearColor(fbo.Pixel(1, 4), TRGBA8{255, 0, 0, 255}));
  EXPECT_TRUE(NearColor(fbo.Pixel(6, 4), TRGBA8{0, 0, 255, 255}));
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// A form paints its window through SDL's window surface; that must leave the engine's
// context current (SDL would otherwise make a GL context of its own for the surface).
void ExpectSurfacePaintKeepsContextCurrent(TSdlWindow& window) {
  HGLRC before = wglGetCurrentContext();
  SDL_GLContext sdlBefore = SDL_GL_GetCurrentContext();
  SDL_Surface* surface = SDL_GetWindowSurface(window.Window());
  ASSERT_NE(surface, nullptr) << SDL_GetError();
  EXPECT_EQ(SDL_FillRect(surface, nullptr, SDL_MapRGB(surface->format, 0, 128, 0)), 0);
  EXPECT_EQ(SDL_UpdateWindowSurface(window.Window()), 0) << SDL_GetError();
  EXPECT_EQ(wglGetCurrentContext(), before);
  EXPECT_EQ(SDL_GL_GetCurrentContext(), sdlBefore);
  ExpectCompatibility43Current();
}

std::unique_ptr<TSdlWindow> NewWindow(bool visible = false, bool openGL = true) {
  TSdlWindow::TOptions options;
  options.Title = "test";
  options.Width = 32;
  options.Height = 24;
  options.Visible = visible;
  options.OpenGL = openGL;
  return std::make_unique<TSdlWindow>(options);
}

class PlatformWgl : public ::testing::Test {
protected:
  void SetUp() override { PlatformInitialize(); }
  void TearDown() override {
    wglMakeCurrent(nullptr, nullptr);
    EXPECT_EQ(SDL_GL_GetCurrentContext(), nullptr);
  }
};

TEST_F(PlatformWgl, EngineContextPathOnWindowZeroGivesCurrentCompatibility43) {
  HDC dc = GetDC(nullptr);
  ASSERT_NE(dc, nullptr);
  HGLRC context = MakeEngineContext(dc);
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(wglGetCurrentContext(), context);
  EXPECT_EQ(wglGetCurrentDC(), dc);
  ExpectCompatibility43Current();
  ExpectImmediateModeDraws();

  // The description reports what the driver gave, at least what was asked.
  PIXELFORMATDESCRIPTOR achieved{};
  ASSERT_EQ(DescribePixelFormat(dc, GetPixelFormat(dc), sizeof(achieved), &achieved), 1);
  GLint depthBits = 0, redBits = 0;
  glGetIntegerv(GL_DEPTH_BITS, &depthBits);
  glGetIntegerv(GL_RED_BITS, &redBits);
  EXPECT_EQ(achieved.cDepthBits, depthBits);
  EXPECT_GE(achieved.cDepthBits, 16);
  EXPECT_EQ(achieved.cRedBits, redBits);
  EXPECT_EQ(achieved.cColorBits, 24);

  EXPECT_TRUE(wglMakeCurrent(nullptr, nullptr));
  EXPECT_EQ(wglGetCurrentContext(), nullptr);
  EXPECT_EQ(SDL_GL_GetCurrentContext(), nullptr);
  EXPECT_TRUE(wglDeleteContext(context));
  EXPECT_EQ(ReleaseDC(nullptr, dc), 1);
}

TEST_F(PlatformWgl, CreatingContextsNeverChangesTheCurrentContext) {
  HDC dc = GetDC(nullptr);
  PIXELFORMATDESCRIPTOR pfd = EngineDescriptor(dc);
  ASSERT_TRUE(SetPixelFormat(dc, ChoosePixelFormat(dc, &pfd), &pfd));

  // Nothing current before: nothing current after.
  HGLRC a = wglCreateContextAttribsARB(dc, nullptr, kCompat43);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(SDL_GL_GetCurrentContext(), nullptr);
  EXPECT_EQ(wglGetCurrentContext(), nullptr);

  // One current before: the same one after, still drawing.
  ASSERT_TRUE(wglMakeCurrent(dc, a));
  SDL_GLContext sdlCurrent = SDL_GL_GetCurrentContext();
  HGLRC legacy = wglCreateContext(dc);
  HGLRC b = wglCreateContextAttribsARB(dc, nullptr, kCompat43);
  ASSERT_NE(legacy, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(wglGetCurrentContext(), a);
  EXPECT_EQ(SDL_GL_GetCurrentContext(), sdlCurrent);
  ExpectCompatibility43Current();

  EXPECT_TRUE(wglDeleteContext(a));  // current: released first
  EXPECT_EQ(wglGetCurrentContext(), nullptr);
  EXPECT_EQ(SDL_GL_GetCurrentContext(), nullptr);
  EXPECT_TRUE(wglDeleteContext(b));
  EXPECT_TRUE(wglDeleteContext(legacy));
  ReleaseDC(nullptr, dc);
}

TEST_F(PlatformWgl, ContextAttributesThatCannotBeMetReturnNullWithTheirError) {
  struct Case {
    const char* name;
    std::vector<int> attributes;
    int error;
  };
  const Case cases[] = {
      {"no such version 3.4", {WGL_CONTEXT_MAJOR_VERSION_ARB, 3, WGL_CONTEXT_MINOR_VERSION_ARB, 4, 0},
       ERROR_INVALID_VERSION_ARB},
      {"no such version 5.0", {WGL_CONTEXT_MAJOR_VERSION_ARB, 5, 0}, ERROR_INVALID_VERSION_ARB},
      {"two profiles", {WGL_CONTEXT_PROFILE_MASK_ARB, 3, 0}, ERROR_INVALID_PROFILE_ARB},
      {"ES profile", {WGL_CONTEXT_PROFILE_MASK_ARB, WGL_CONTEXT_ES2_PROFILE_BIT_EXT, 0}, ERROR_INVALID_PROFILE_ARB},
      {"unknown attribute", {0x1234, 1, 0}, ERROR_INVALID_PARAMETER},
      {"unknown flag", {WGL_CONTEXT_FLAGS_ARB, 0x10, 0}, ERROR_INVALID_PARAMETER},
      {"overlay plane", {WGL_CONTEXT_LAYER_PLANE_ARB, 1, 0}, ERROR_INVALID_PARAMETER},
  };
  HDC dc = GetDC(nullptr);
  PIXELFORMATDESCRIPTOR pfd = EngineDescriptor(dc);
  ASSERT_TRUE(SetPixelFormat(dc, ChoosePixelFormat(dc, &pfd), &pfd));
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_EQ(wglCreateContextAttribsARB(dc, nullptr, c.attributes.data()), nullptr) << c.name;
    EXPECT_EQ(GetLastError(), c.error) << c.name;
  }
  // A valid version the driver refuses: null, and the error raised carries SDL's reason.
  const int compat46[] = {WGL_CONTEXT_MAJOR_VERSION_ARB, 4, WGL_CONTEXT_MINOR_VERSION_ARB, 6,
                          WGL_CONTEXT_PROFILE_MASK_ARB, WGL_CONTEXT_COMPATIBILITY_PROFILE_BIT_ARB, 0};
  HGLRC refused = wglCreateContextAttribsARB(dc, nullptr, compat46);
  if (refused != nullptr) {
    wglDeleteContext(refused);
    ReleaseDC(nullptr, dc);
    GTEST_SKIP() << "this driver makes 4.6 contexts";
  }
  EXPECT_EQ(GetLastError(), ERROR_INVALID_VERSION_ARB);
  try {
    RaiseLastOSError();
  } catch (const EOSError& e) {
    EXPECT_EQ(e.ErrorCode(), ERROR_INVALID_VERSION_ARB);
    EXPECT_NE(e.Message().find("Cannot create an OpenGL 4.6 context: "), std::string::npos) << e.Message();
    EXPECT_GT(e.Message().size(), std::strlen("System Error.  Code: 8341.\nCannot create an OpenGL 4.6 context: "));
  }
  EXPECT_EQ(SDL_GL_GetCurrentContext(), nullptr);
  ReleaseDC(nullptr, dc);
}

TEST_F(PlatformWgl, PixelFormatCallsRefuseBadInputWithTheLastError) {
  auto window = NewWindow();
  HDC dc = GetDC(window->Handle());
  ASSERT_NE(dc, nullptr);
  PIXELFORMATDESCRIPTOR good = EngineDescriptor(dc);

  // A fresh window has no format: contexts cannot be made on it yet.
  EXPECT_EQ(GetPixelFormat(dc), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PIXEL_FORMAT);
  EXPECT_EQ(wglCreateContext(dc), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PIXEL_FORMAT);
  EXPECT_EQ(wglCreateContextAttribsARB(dc, nullptr, kCompat43), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PIXEL_FORMAT);

  struct Case {
    const char* name;
    PIXELFORMATDESCRIPTOR pfd;
    int error;
  };
  PIXELFORMATDESCRIPTOR shortSize = good, badVersion = good, colourIndex = good;
  shortSize.nSize = 36;
  badVersion.nVersion = 2;
  colourIndex.iPixelType = PFD_TYPE_COLORINDEX;
  const Case cases[] = {{"size not 40", shortSize, ERROR_INVALID_PARAMETER},
                        {"version not 1", badVersion, ERROR_INVALID_PARAMETER},
                        {"colour index", colourIndex, ERROR_INVALID_PIXEL_FORMAT}};
  for (const Case& c : cases) {
    EXPECT_EQ(ChoosePixelFormat(dc, &c.pfd), 0) << c.name;
    EXPECT_EQ(GetLastError(), c.error) << c.name;
  }
  EXPECT_EQ(ChoosePixelFormat(dc, nullptr), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  // Odd requests still get the closest format, as the real call does.
  PIXELFORMATDESCRIPTOR odd = good;
  odd.cDepthBits = 32;
  odd.dwFlags |= PFD_STEREO | PFD_SUPPORT_GDI;
  odd.iLayerType = PFD_OVERLAY_PLANE;
  EXPECT_EQ(ChoosePixelFormat(dc, &odd), 1);

  int count = DescribePixelFormat(dc, 1, 0, nullptr);
  EXPECT_EQ(count, 1);
  for (int format : {0, -1, count + 1}) {
    EXPECT_FALSE(SetPixelFormat(dc, format, &good)) << format;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PIXEL_FORMAT);
    PIXELFORMATDESCRIPTOR out{};
    EXPECT_EQ(DescribePixelFormat(dc, format, sizeof(out), &out), 0) << format;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  }
  // Only as many bytes as the caller says are written.
  unsigned char buffer[sizeof(PIXELFORMATDESCRIPTOR)];
  std::memset(buffer, 0xAB, sizeof(buffer));
  EXPECT_EQ(DescribePixelFormat(dc, 1, 8, reinterpret_cast<PIXELFORMATDESCRIPTOR*>(buffer)), count);
  EXPECT_EQ(buffer[0], 40);
  EXPECT_EQ(buffer[8], 0xAB);

  ASSERT_TRUE(SetPixelFormat(dc, 1, &good));
  EXPECT_TRUE(SetPixelFormat(dc, 1, &good)) << "setting the same format again is harmless";
  // The format belongs to the window: another DC of it sees it.
  HDC second = GetDC(window->Handle());
  EXPECT_EQ(GetPixelFormat(second), 1);
  ReleaseDC(window->Handle(), second);
  ReleaseDC(window->Handle(), dc);

  // A window made without OpenGL takes no pixel format.
  auto plain = NewWindow(false, false);
  HDC plainDC = GetDC(plain->Handle());
  EXPECT_EQ(ChoosePixelFormat(plainDC, &good), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PIXEL_FORMAT);
  EXPECT_FALSE(SetPixelFormat(plainDC, 1, &good));
  ReleaseDC(plain->Handle(), plainDC);
}

TEST_F(PlatformWgl, DeviceContextHandlesHaveTypesAndGoStaleSafely) {
  auto window = NewWindow();
  HDC dc = GetDC(window->Handle());
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(dc);
  ASSERT_NE(dc, nullptr);
  ASSERT_NE(screen, nullptr);
  ASSERT_NE(memory, nullptr);
  EXPECT_NE(dc, screen);
  EXPECT_EQ(GetObjectType(dc), OBJ_DC);
  EXPECT_EQ(GetObjectType(screen), OBJ_DC);
  EXPECT_EQ(GetObjectType(memory), OBJ_MEMDC);
  // The engine's descriptor for a memory DC asks for drawing to a bitmap.
  EXPECT_TRUE(EngineDescriptor(memory).dwFlags & PFD_DRAW_TO_BITMAP);
  EXPECT_TRUE(EngineDescriptor(dc).dwFlags & PFD_DRAW_TO_WINDOW);

  EXPECT_EQ(ReleaseDC(window->Handle(), memory), 0) << "memory DCs are deleted, not released";
  EXPECT_TRUE(DeleteDC(memory));
  EXPECT_EQ(GetObjectType(memory), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(ReleaseDC(window->Handle(), screen), 0) << "screen DC released for the wrong window";
  EXPECT_EQ(ReleaseDC(nullptr, screen), 1);
  EXPECT_EQ(ReleaseDC(nullptr, screen), 0);

  EXPECT_EQ(GetDC(reinterpret_cast<HWND>(uintptr_t{0xFFFFFF})), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);

  // Destroying the window invalidates its DCs and handle.
  HWND handle = window->Handle();
  window.reset();
  EXPECT_EQ(GetObjectType(dc), 0u);
  EXPECT_EQ(ReleaseDC(handle, dc), 0);
  EXPECT_EQ(GetDC(handle), nullptr);
  EXPECT_EQ(TSdlWindow::FromHandle(handle), nullptr);
}

TEST_F(PlatformWgl, ContextIsCurrentOnAnyWindowOfItsFormatAndSurvivesThatWindow) {
  TGLTestContext made;  // made on window 0's DC
  auto window = NewWindow();
  HDC dc = GetDC(window->Handle());
  PIXELFORMATDESCRIPTOR pfd = EngineDescriptor(dc);
  ASSERT_TRUE(SetPixelFormat(dc, ChoosePixelFormat(dc, &pfd), &pfd));
  ASSERT_TRUE(wglMakeCurrent(dc, made.Context()));
  EXPECT_EQ(wglGetCurrentDC(), dc);
  ExpectCompatibility43Current();
  ExpectSurfacePaintKeepsContextCurrent(*window);

  window.reset();  // destroys the surface the context was current on
  EXPECT_EQ(wglGetCurrentContext(), nullptr);
  EXPECT_EQ(wglGetCurrentDC(), nullptr);
  EXPECT_EQ(SDL_GL_GetCurrentContext(), nullptr);
  ASSERT_TRUE(wglMakeCurrent(made.DC(), made.Context()));
  ExpectCompatibility43Current();
}

TEST_F(PlatformWgl, ShareContextSeesTheOthersObjects) {
  TGLTestContext first;
  GLuint texture = 0;
  glGenTextures(1, &texture);
  glBindTexture(GL_TEXTURE_2D, texture);
  glBindTexture(GL_TEXTURE_2D, 0);
  HGLRC shared = wglCreateContextAttribsARB(first.DC(), first.Context(), kCompat43);
  HGLRC alone = wglCreateContextAttribsARB(first.DC(), nullptr, kCompat43);
  ASSERT_NE(shared, nullptr);
  ASSERT_NE(alone, nullptr);
  EXPECT_EQ(wglGetCurrentContext(), first.Context());

  ASSERT_TRUE(wglMakeCurrent(first.DC(), shared));
  EXPECT_TRUE(glIsTexture(texture));
  ASSERT_TRUE(wglMakeCurrent(first.DC(), alone));
  EXPECT_FALSE(glIsTexture(texture));

  ASSERT_TRUE(wglMakeCurrent(first.DC(), first.Context()));
  glDeleteTextures(1, &texture);
  EXPECT_TRUE(wglDeleteContext(shared));
  EXPECT_TRUE(wglDeleteContext(alone));
}

TEST_F(PlatformWgl, ContextCurrentOnAnotherThreadIsBusy) {
  TGLTestContext made;
  ASSERT_TRUE(wglMakeCurrent(nullptr, nullptr));
  std::promise<bool> current;
  std::promise<void> release;
  std::thread worker([&] {
    bool ok = wglMakeCurrent(made.DC(), made.Context()) == TRUE && !GLText(GL_VERSION).empty();
    current.set_value(ok);
    release.get_future().wait();
    wglMakeCurrent(nullptr, nullptr);
  });
  EXPECT_TRUE(current.get_future().get());
  EXPECT_FALSE(wglMakeCurrent(made.DC(), made.Context()));
  EXPECT_EQ(GetLastError(), ERROR_BUSY);
  EXPECT_FALSE(wglDeleteContext(made.Context()));
  EXPECT_EQ(GetLastError(), ERROR_BUSY);
  EXPECT_EQ(wglCreateContextAttribsARB(made.DC(), made.Context(), kCompat43), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_BUSY);
  release.set_value();
  worker.join();
  EXPECT_TRUE(wglMakeCurrent(made.DC(), made.Context()));
}

TEST_F(PlatformWgl, StaleContextsAndMissingCurrentContextAreRefused) {
  EXPECT_EQ(wglGetProcAddress("glGetString"), nullptr) << "no current context";
  HGLRC deleted;
  {
    TGLTestContext made;
    EXPECT_EQ(wglGetProcAddress("wglCreateContextAttribsARB"),
              reinterpret_cast<PROC>(&wglCreateContextAttribsARB));
    EXPECT_NE(wglGetProcAddress("glGetString"), nullptr);
    EXPECT_EQ(wglGetProcAddress(nullptr), nullptr);
    deleted = made.Context();
  }
  HDC dc = GetDC(nullptr);
  EXPECT_FALSE(wglMakeCurrent(dc, deleted));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(wglDeleteContext(deleted));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(wglCreateContextAttribsARB(dc, deleted, kCompat43), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_TRUE(wglMakeCurrent(dc, nullptr)) << "releasing with nothing current succeeds";
  ReleaseDC(nullptr, dc);
}

// ---- Windows ----------------------------------------------------------------------------

TEST(PlatformWindow, WindowsAreHiddenUnlessAskedAndClampTheirSize) {
  auto hidden = NewWindow();
  EXPECT_FALSE(hidden->Visible());
  EXPECT_TRUE(SDL_GetWindowFlags(hidden->Window()) & SDL_WINDOW_HIDDEN);
  EXPECT_EQ(hidden->Width(), 32);
  EXPECT_EQ(hidden->Height(), 24);
  EXPECT_EQ(TSdlWindow::FromHandle(hidden->Handle()), hidden.get());
  EXPECT_EQ(TSdlWindow::FromID(SDL_GetWindowID(hidden->Window())), hidden.get());
  hidden->Show();
  EXPECT_TRUE(hidden->Visible());
  hidden->Hide();
  EXPECT_FALSE(hidden->Visible());
  hidden->SetSize(0, -5);
  EXPECT_EQ(hidden->Width(), 1);
  EXPECT_EQ(hidden->Height(), 1);
  hidden->SetTitle("Zwölf Boxkämpfer");
  EXPECT_EQ(hidden->Title(), "Zwölf Boxkämpfer");

  auto shown = NewWindow(true);
  EXPECT_TRUE(shown->Visible());

  TSdlWindow* zero = TSdlWindow::Hidden();
  EXPECT_EQ(TSdlWindow::Hidden(), zero);
  EXPECT_FALSE(zero->Visible());
  EXPECT_EQ(zero->Width(), 1);
  EXPECT_TRUE(zero->IsOpenGL());
}

TEST(PlatformWindow, DispatchEventReachesOnlyTheNamedLiveWindow) {
  auto first = NewWindow();
  auto second = NewWindow();
  int firstCount = 0, secondKeys = 0;
  first->OnEvent = [&](const SDL_Event& e) { firstCount += e.type == SDL_WINDOWEVENT ? 1 : 0; };
  second->OnEvent = [&](const SDL_Event& e) {
    secondKeys += e.type == SDL_KEYDOWN ? 1 : 0;
    second.reset();  // a handler may close its own window
  };
  SDL_Event windowEvent{};
  windowEvent.type = SDL_WINDOWEVENT;
  windowEvent.window.event = SDL_WINDOWEVENT_EXPOSED;
  windowEvent.window.windowID = first->WindowID();
  SDL_Event keyEvent{};
  keyEvent.type = SDL_KEYDOWN;
  keyEvent.key.windowID = second->WindowID();
  SDL_Event strayEvent = windowEvent;
  strayEvent.window.windowID = 0xFFFFFF;
  SDL_Event quitEvent{};
  quitEvent.type = SDL_QUIT;

  SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
  for (SDL_Event* e : {&windowEvent, &keyEvent, &strayEvent, &quitEvent}) ASSERT_EQ(SDL_PushEvent(e), 1);
  int delivered = 0;
  SDL_Event e;
  while (SDL_PollEvent(&e)) delivered += TSdlWindow::DispatchEvent(e) ? 1 : 0;
  EXPECT_EQ(delivered, 2);
  EXPECT_EQ(firstCount, 1);
  EXPECT_EQ(secondKeys, 1);
  EXPECT_EQ(second, nullptr);
  EXPECT_FALSE(TSdlWindow::DispatchEvent(keyEvent)) << "the window is gone";
}

TEST(PlatformLifecycle, ShutdownFreesContextsAndWindowsAndCanRestart) {
  PlatformInitialize();
  PlatformInitialize();
  EXPECT_TRUE(PlatformInitialized());
  auto window = NewWindow();
  HGLRC context;
  HDC dc;
  {
    TGLTestContext made;
    dc = GetDC(nullptr);
    context = wglCreateContextAttribsARB(dc, nullptr, kCompat43);
    ASSERT_NE(context, nullptr);
  }
  ASSERT_TRUE(wglMakeCurrent(dc, context));
  PlatformShutdown();
  EXPECT_FALSE(PlatformInitialized());
  EXPECT_EQ(wglGetCurrentContext(), nullptr);
  EXPECT_EQ(window->Window(), nullptr) << "the object stays, its native window is gone";
  EXPECT_EQ(window->Width(), 0);
  EXPECT_FALSE(wglDeleteContext(context));
  EXPECT_EQ(GetObjectType(dc), 0u);
  window.reset();

  // Up again: a new hidden window and a working context.
  TGLTestContext again;
  ExpectCompatibility43Current();
}

// ---- Display, keys, time, files -------------------------------------------------------------

TEST(PlatformDisplay, EnumDisplaySettingsReportsTheCurrentModeAndItsRate) {
  PlatformInitialize();
  DEVMODEW mode{};
  mode.dmSize = sizeof(DEVMODEW);
  ASSERT_TRUE(EnumDisplaySettingsW(nullptr, ENUM_CURRENT_SETTINGS, &mode));
  SDL_DisplayMode sdl;
  ASSERT_EQ(SDL_GetCurrentDisplayMode(0, &sdl), 0);
  EXPECT_EQ(mode.dmSize, 220);
  EXPECT_EQ(mode.dmPelsWidth, static_cast<DWORD>(sdl.w));
  EXPECT_EQ(mode.dmPelsHeight, static_cast<DWORD>(sdl.h));
  EXPECT_EQ(mode.dmDisplayFrequency, static_cast<DWORD>(std::max(sdl.refresh_rate, 0)));
  EXPECT_EQ(static_cast<int32_t>(mode.dmDisplayFrequency), DisplayRefreshRate());

  DEVMODEW named{};
  EXPECT_TRUE(EnumDisplaySettingsW(u"\\\\.\\DISPLAY1", ENUM_REGISTRY_SETTINGS, &named));
  EXPECT_EQ(named.dmPelsWidth, mode.dmPelsWidth);

  struct Case {
    const char* name;
    const char16_t* device;
    DWORD mode;
  };
  const Case failures[] = {{"display 9", u"\\\\.\\DISPLAY9", ENUM_CURRENT_SETTINGS},
                           {"display 0", u"\\\\.\\DISPLAY0", ENUM_CURRENT_SETTINGS},
                           {"not a display", u"PRINTER", ENUM_CURRENT_SETTINGS},
                           {"prefix only", u"\\\\.\\DISPLAY", ENUM_CURRENT_SETTINGS},
                           {"huge number", u"\\\\.\\DISPLAY99999999999999999999", ENUM_CURRENT_SETTINGS},
                           {"mode 100000", nullptr, 100000}};
  for (const Case& c : failures) {
    DEVMODEW untouched{};
    untouched.dmDisplayFrequency = 77;
    EXPECT_FALSE(EnumDisplaySettingsW(c.device, c.mode, &untouched)) << c.name;
    EXPECT_EQ(untouched.dmDisplayFrequency, 77u) << c.name;
    EXPECT_NE(GetLastError(), 0) << c.name;
  }
  EXPECT_FALSE(EnumDisplaySettingsW(nullptr, ENUM_CURRENT_SETTINGS, nullptr));
  EXPECT_EQ(DisplayRefreshRate(9), 0);
}

TEST(PlatformKeys, GetKeyStateFollowsTheModifierState) {
  struct Case {
    SDL_Keymod mods;
    int key;
    SHORT expected;
  };
  const SHORT down = static_cast<SHORT>(0x8000);
  const Case cases[] = {
      {KMOD_LALT, VK_LMENU, down},   {KMOD_LALT, VK_MENU, down},    {KMOD_LALT, VK_RMENU, 0},
      {KMOD_RALT, VK_LMENU, 0},      {KMOD_RALT, VK_MENU, down},    {KMOD_NONE, VK_LMENU, 0},
      {KMOD_LSHIFT, VK_SHIFT, down}, {KMOD_RCTRL, VK_RCONTROL, down}, {KMOD_RCTRL, VK_LCONTROL, 0},
      {KMOD_CAPS, VK_CAPITAL, 1},    {KMOD_NONE, VK_CAPITAL, 0},    {KMOD_NUM, VK_NUMLOCK, 1},
      {KMOD_LALT, 0x07, 0},          {KMOD_LALT, -5, 0},            {KMOD_LALT, 100000, 0},
  };
  for (const Case& c : cases) {
    SDL_SetModState(c.mods);
    EXPECT_EQ(GetKeyState(c.key), c.expected) << "mods " << c.mods << " key " << c.key;
  }
  SDL_SetModState(KMOD_LALT);
  EXPECT_LT(GetKeyState(VK_LMENU), 0) << "callers test for a negative value";
  SDL_SetModState(KMOD_NONE);
  for (int key : {int('A'), int('Z'), int('0'), VK_F1 + 11, VK_NUMPAD0, VK_NUMPAD0 + 9, VK_ESCAPE, VK_LBUTTON})
    EXPECT_EQ(GetKeyState(key), 0) << key;
}

int64_t FixedCounter() { return 123456789; }

TEST(PlatformTime, PerformanceCounterIsMonotonicNanosecondsAndReplaceable) {
  int64_t frequency = 0, first = 0, second = 0;
  ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
  EXPECT_EQ(frequency, 1000000000);
  ASSERT_TRUE(QueryPerformanceCounter(&first));
  Sleep(5);
  ASSERT_TRUE(QueryPerformanceCounter(&second));
  EXPECT_GE((second - first) * 1000 / frequency, 5) << "Sleep waits at least its time";
  Sleep(0);

  SetPerformanceCounterSource(&FixedCounter);
  EXPECT_TRUE(QueryPerformanceCounter(&first));
  EXPECT_EQ(first, 123456789);
  SetPerformanceCounterSource(nullptr);
  EXPECT_TRUE(QueryPerformanceCounter(&first));
  EXPECT_GE(first, second);

  EXPECT_FALSE(QueryPerformanceCounter(nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(QueryPerformanceFrequency(nullptr));
}

TEST(PlatformFiles, CreateNewProbeFailsOnAnExistingFileAndDeletesOnClose) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("quorvel-probe-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::string probe = (dir / "chk.tmp").string();
  const DWORD access = GENERIC_READ | GENERIC_WRITE;
  const DWORD flags = FILE_FLAG_DELETE_ON_CLOSE | FILE_ATTRIBUTE_TEMPORARY;

  HANDLE handle = CreateFileW(probe, access, 0, nullptr, CREATE_NEW, flags, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE) << GetLastError();
  EXPECT_TRUE(fs::exists(probe));
  EXPECT_EQ(CreateFileW(probe, access, 0, nullptr, CREATE_NEW, flags, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  EXPECT_TRUE(CloseHandle(handle));
  EXPECT_FALSE(fs::exists(probe));
  EXPECT_FALSE(CloseHandle(handle));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

  // Without the flag the file stays.
  handle = CreateFileW(probe, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CloseHandle(handle));
  EXPECT_TRUE(fs::exists(probe));

  EXPECT_EQ(CreateFileW((dir / "missing" / "chk.tmp").string(), access, 0, nullptr, CREATE_NEW, flags, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(CreateFileW(probe, access, 0, nullptr, 99, flags, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  fs::remove_all(dir);
}

// ---- The same under X11 ---------------------------------------------------------------------

// Runs only inside the X server the next test starts.
TEST(PlatformXvfbChild, EngineContextInARealX11Window) {
  if (std::getenv("QUORVEL_IN_XVFB") == nullptr) GTEST_SKIP() << "run by PlatformXvfb";
  PlatformInitialize();
  ASSERT_STREQ(SDL_GetCurrentVideoDriver(), "x11");
  auto window = NewWindow(true);
  HDC dc = GetDC(window->Handle());
  ASSERT_NE(dc, nullptr);
  HGLRC context = MakeEngineContext(dc);
  ASSERT_NE(context, nullptr);
  ExpectCompatibility43Current();
  ExpectImmediateModeDraws();
  ExpectSurfacePaintKeepsContextCurrent(*window);
  // The same context on window 0's DC.
  HDC zero = GetDC(nullptr);
  PIXELFORMATDESCRIPTOR pfd = EngineDescriptor(zero);
  ASSERT_TRUE(SetPixelFormat(zero, ChoosePixelFormat(zero, &pfd), &pfd));
  ASSERT_TRUE(wglMakeCurrent(zero, context));
  ExpectCompatibility43Current();
  EXPECT_TRUE(wglMakeCurrent(nullptr, nullptr));
  EXPECT_TRUE(wglDeleteContext(context));
  ReleaseDC(nullptr, zero);
  ReleaseDC(window->Handle(), dc);
  window.reset();
  PlatformShutdown();
}

TEST(PlatformXvfb, EngineContextWorksUnderXvfbRun) {
  if (!testkit::HasCommand("xvfb-run")) GTEST_SKIP() << "xvfb-run is not installed";
  const testkit::TChildRun run = testkit::RunSelf("QUORVEL_IN_XVFB=1 SDL_VIDEODRIVER=x11 xvfb-run -a", "PlatformXvfbChild.*");
  const std::string& output = run.Output;
  ASSERT_TRUE(WIFEXITED(run.Status)) << output;
  EXPECT_EQ(WEXITSTATUS(run.Status), 0) << output;
  EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
}

}  // namespace
}  // namespace quorvel
