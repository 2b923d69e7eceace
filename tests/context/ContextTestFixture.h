#pragma once
// The engine's own shared GL context for the context tests: made current, a window context
// with a depth-stencil buffer to drive, and a frame buffer to read pixels back from.
#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <deque>
#include <memory>

#include "lib/context/windows/ContextGLESWindows.h"
#include "tests/support/GLTestSupport.h"

namespace quorvel::testkit {

// Exposes what the tests look into.
class TProbeContext : public TContextOpenGLWindows {
public:
  using TContextOpenGLWindows::TContextOpenGLWindows;
  using TQuorvelContext::MemoryBarrierFlagsToValue;
  using TQuorvelContextOpenGLES::MemoryBarrierFlagToValue;

  int32_t SetCount() const { return FMultipleSetContextState.load(); }
  void RaiseSetCount(int32_t ADelta) { FMultipleSetContextState.fetch_add(ADelta); }

  int CanBeginCalls = 0;
  bool AllowBegin = true;
  int SetStatesCalls = 0;

protected:
  bool CanBeginScene() override {
    ++CanBeginCalls;
    return AllowBegin;
  }
  void DoSetContextStates(const TFwContextStates& AStates) override {
    ++SetStatesCalls;
    TContextOpenGLWindows::DoSetContextStates(AStates);
  }
};

// A glGetError that answers queued codes, then 0, and counts its calls.
struct TFakeGLErrors {
  static inline std::deque<uint32_t> Queue;
  static inline int Calls = 0;
  static uint32_t Get() {
    ++Calls;
    if (Queue.empty()) return 0;
    const uint32_t e = Queue.front();
    Queue.pop_front();
    return e;
  }
  TFakeGLErrors() {
    Queue.clear();
    Calls = 0;
    FPrevious = SetGLGetErrorFunc(&Get);
  }
  ~TFakeGLErrors() { SetGLGetErrorFunc(FPrevious); }
  TGLGetErrorFunc FPrevious;
};

// Makes sure the shared context exists and is current on this thread.
inline void UseSharedContext() {
  ASSERT_TRUE(TContextOpenGLWindows::StaticMeta()->Valid());
  TCustomContextWindows* shared = TCustomContextWindows::SharedContext();
  ASSERT_NE(shared, nullptr);
  if (wglGetCurrentContext() != shared->GetGLContext()) {
    ASSERT_TRUE(wglMakeCurrent(shared->GetHDC(), shared->GetGLContext()));
  }
  // The list is made once per process: never while no context is current.
  (void)SharedExtensions();
  while (glGetError() != GL_NO_ERROR) {
  }
}

class TSharedGLTest : public ::testing::Test, protected TGLErrorCheck {
protected:
  void SetUp() override {
    UseSharedContext();
    if (HasFatalFailure()) return;
    Context.reset(New<TProbeContext>(nullptr, 16, 16, TMultisample::None, true));
    Target = std::make_unique<TGLTestFramebuffer>(16, 16);
    TContext3D::ResetCurrentStates();
  }
  void TearDown() override {
    Target.reset();
    Context.reset();
    TContext3D::ResetCurrentStates();
    CheckGLErrorsLeft();
  }

  TOwned<TProbeContext> Context;
  std::unique_ptr<TGLTestFramebuffer> Target;
};

inline bool GLEnabled(GLenum ACap) { return glIsEnabled(ACap) == GL_TRUE; }
inline GLint GLInt(GLenum AName) {
  GLint v = 0;
  glGetIntegerv(AName, &v);
  return v;
}

}  // namespace quorvel::testkit
