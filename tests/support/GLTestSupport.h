#pragma once
// Real OpenGL for tests: a current 4.3 compatibility context made through the platform's
// WGL calls on the hidden window, and an offscreen framebuffer with pixel read-back.
#include <cstdint>
#include <vector>

#include "framework/platform/Windows.h"

namespace quorvel {

// Current on the calling thread from construction to destruction (which also releases it).
// Raises EOSError with the last error when the context cannot be made.
class TGLTestContext {
public:
  TGLTestContext();
  TGLTestContext(const TGLTestContext&) = delete;
  TGLTestContext& operator=(const TGLTestContext&) = delete;
  ~TGLTestContext();

  HDC DC() const { return FDC; }
  HGLRC Context() const { return FContext; }

private:
  HDC FDC = nullptr;
  HGLRC FContext = nullptr;
};

struct TRGBA8 {
  uint8_t R, G, B, A;
  bool operator==(const TRGBA8&) const = default;
};

// An RGBA8 colour + depth24/stencil8 frame buffer object, bound for drawing and reading
// with its viewport set while it lives (needs a current context).
class TGLTestFramebuffer {
public:
  TGLTestFramebuffer(int32_t width, int32_t height);
  TGLTestFramebuffer(const TGLTestFramebuffer&) = delete;
  TGLTestFramebuffer& operator=(const TGLTestFramebuffer&) = delete;
  ~TGLTestFramebuffer();

  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }
  // Rows bottom-up, as GL stores them.
  std::vector<TRGBA8> ReadPixels() const;
  TRGBA8 Pixel(int32_t x, int32_t y) const;

private:
  int32_t FWidth, FHeight;
  uint32_t FFramebuffer = 0, FColor = 0, FDepthStencil = 0;
};

// GL errors a test leaves behind fail it at teardown. A test of an error path that leaves
// errors on purpose says so with AllowGLErrorsLeft(). Fixtures call CheckGLErrorsLeft() last
// in TearDown; it also clears the errors, so the next test starts clean.
class TGLErrorCheck {
public:
  void AllowGLErrorsLeft() { FAllowed = true; }
  void CheckGLErrorsLeft();

private:
  bool FAllowed = false;
};

// True when every channel differs by at most `tolerance`.
bool NearColor(TRGBA8 a, TRGBA8 b, int tolerance = 2);

}  // namespace quorvel
