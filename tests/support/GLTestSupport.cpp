#include "tests/support/GLTestSupport.h"

#include <epoxy/gl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "framework/platform/Platform.h"
#include "framework/rtl/Exceptions.h"

namespace quorvel {

TGLTestContext::TGLTestContext() {
  PlatformInitialize();
  FDC = GetDC(nullptr);
  if (FDC == nullptr) RaiseLastOSError();
  PIXELFORMATDESCRIPTOR pfd{};
  pfd.nSize = sizeof(pfd);
  pfd.nVersion = 1;
  pfd.dwFlags = PFD_SUPPORT_OPENGL | PFD_DRAW_TO_WINDOW | PFD_DOUBLEBUFFER;
  pfd.iPixelType = PFD_TYPE_RGBA;
  pfd.cColorBits = 24;
  pfd.cDepthBits = 16;
  int format = ChoosePixelFormat(FDC, &pfd);
  if (format == 0 || (GetPixelFormat(FDC) != format && !SetPixelFormat(FDC, format, &pfd))) {
    int code = GetLastError();
    ReleaseDC(nullptr, FDC);
    RaiseLastOSError(code);
  }
  const int attributes[] = {WGL_CONTEXT_MAJOR_VERSION_ARB, 4, WGL_CONTEXT_MINOR_VERSION_ARB, 3,
                            WGL_CONTEXT_PROFILE_MASK_ARB, WGL_CONTEXT_COMPATIBILITY_PROFILE_BIT_ARB, 0};
  FContext = wglCreateContextAttribsARB(FDC, nullptr, attributes);
  if (FContext == nullptr || !wglMakeCurrent(FDC, FContext)) {
    int code = GetLastError();
    if (FContext != nullptr) wglDeleteContext(FContext);
    ReleaseDC(nullptr, FDC);
    RaiseLastOSError(code);
  }
}

TGLTestContext::~TGLTestContext() {
  if (wglGetCurrentContext() == FContext) wglMakeCurrent(nullptr, nullptr);
  wglDeleteContext(FContext);
  ReleaseDC(nullptr, FDC);
}

TGLTestFramebuffer::TGLTestFramebuffer(int32_t width, int32_t height) : FWidth(width), FHeight(height) {
  glGenRenderbuffers(1, &FColor);
  glBindRenderbuffer(GL_RENDERBUFFER, FColor);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
  glGenRenderbuffers(1, &FDepthStencil);
  glBindRenderbuffer(GL_RENDERBUFFER, FDepthStencil);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, width, height);
  glBindRenderbuffer(GL_RENDERBUFFER, 0);
  glGenFramebuffers(1, &FFramebuffer);
  glBindFramebuffer(GL_FRAMEBUFFER, FFramebuffer);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, FColor);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, FDepthStencil);
  if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
    throw Exception("test frame buffer is incomplete");
  glViewport(0, 0, width, height);
}

TGLTestFramebuffer::~TGLTestFramebuffer() {
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  glDeleteFramebuffers(1, &FFramebuffer);
  glDeleteRenderbuffers(1, &FColor);
  glDeleteRenderbuffers(1, &FDepthStencil);
}

std::vector<TRGBA8> TGLTestFramebuffer::ReadPixels() const {
  std::vector<TRGBA8> pixels(static_cast<size_t>(FWidth) * static_cast<size_t>(FHeight));
  glBindFramebuffer(GL_READ_FRAMEBUFFER, FFramebuffer);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, FWidth, FHeight, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
  return pixels;
}

TRGBA8 TGLTestFramebuffer::Pixel(int32_t x, int32_t y) const {
  TRGBA8 pixel{};
  glBindFramebuffer(GL_READ_FRAMEBUFFER, FFramebuffer);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, &pixel);
  return pixel;
}

void TGLErrorCheck::CheckGLErrorsLeft() {
  std::string codes;
  // Bounded: a lost context can answer an error on every call.
  for (int i = 0; i < 32; ++i) {
    const GLenum e = glGetError();
    if (e == GL_NO_ERROR) break;
    char text[16];
    std::snprintf(text, sizeof text, " 0x%04X", e);
    codes += text;
  }
  if (!codes.empty() && !FAllowed) ADD_FAILURE() << "GL error(s) left at teardown:" << codes;
  FAllowed = false;
}

bool NearColor(TRGBA8 a, TRGBA8 b, int tolerance) {
  return std::abs(a.R - b.R) <= tolerance && std::abs(a.G - b.G) <= tolerance &&
         std::abs(a.B - b.B) <= tolerance && std::abs(a.A - b.A) <= tolerance;
}

}  // namespace quorvel
