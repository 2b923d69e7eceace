#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <cmath>
#include <thread>

#include "framework/gui/Canvas.h"
#include "framework/rtl/Log.h"
#include "lib/passes/Controller.h"
#include "tests/context/ContextTestFixture.h"

namespace quorvel {
namespace {

// A controller with nothing of its own: no viewport, no renderer, no material.
class TPlainController : public TQuorvelRenderPassController {
public:
  TPlainController() : TQuorvelRenderPassController(nullptr, "") {}

protected:
  TQuorvelRenderPassMaterialSource* CreateMaterialSource() override { return nullptr; }
};

using testkit::GLInt;
using testkit::TFakeGLErrors;
using testkit::TProbeContext;
using testkit::TSharedGLTest;

// Whether another thread could take the canvas lock now.
bool CanvasLockFree() {
  bool taken = false;
  std::thread other([&] {
    taken = TCanvas::TryLock();
    if (taken) TCanvas::Unlock();
  });
  other.join();
  return taken;
}

TQuorvelContextSize Viewport() {
  TQuorvelContextSize v{};
  glGetIntegerv(GL_VIEWPORT, v.data());
  return v;
}

using ContextScenes = TSharedGLTest;

TEST_F(ContextScenes, NestedScenesBeginAndEndOnceAndHoldTheLockUntilTheLast) {
  Context->SetContextSize(1, 1, 5, 5);
  ASSERT_TRUE(Context->BeginSceneRendering());
  EXPECT_EQ(Viewport(), (TQuorvelContextSize{0, 0, 16, 16}));
  ASSERT_TRUE(Context->BeginSceneRendering());
  EXPECT_EQ(Context->CanBeginCalls, 1);
  EXPECT_EQ(Context->GetBeginSceneCount(), 2);
  EXPECT_EQ(TContext3D::GlobalBeginSceneCount(), 1);
  EXPECT_FALSE(CanvasLockFree());
  Context->EndSceneRendering();
  EXPECT_EQ(Context->GetBeginSceneCount(), 1);
  EXPECT_FALSE(CanvasLockFree());
  EXPECT_EQ(Viewport(), (TQuorvelContextSize{0, 0, 16, 16}));
  Context->EndSceneRendering();
  EXPECT_EQ(Context->GetBeginSceneCount(), 0);
  EXPECT_EQ(TContext3D::GlobalBeginSceneCount(), 0);
  EXPECT_TRUE(CanvasLockFree());
  EXPECT_EQ(Viewport(), (TQuorvelContextSize{1, 1, 5, 5}));
}

TEST_F(ContextScenes, EndWithoutBeginReleasesNothing) {
  Context->EndSceneRendering();
  Context->EndSceneRendering();
  EXPECT_EQ(Context->GetBeginSceneCount(), 0);
  EXPECT_TRUE(CanvasLockFree());
  // A real scene afterwards still pairs up.
  ASSERT_TRUE(Context->BeginSceneRendering());
  Context->EndSceneRendering();
  EXPECT_TRUE(CanvasLockFree());
}

TEST_F(ContextScenes, ARefusedBeginLeavesCountAndLockAlone) {
  Context->AllowBegin = false;
  EXPECT_FALSE(Context->BeginSceneRendering());
  EXPECT_EQ(Context->GetBeginSceneCount(), 0);
  EXPECT_EQ(TContext3D::GlobalBeginSceneCount(), 0);
  EXPECT_TRUE(CanvasLockFree());
}

TEST_F(ContextScenes, PendingGLErrorsAtBeginOrEndRaiseAndReleaseTheScene) {
  TFakeGLErrors fake;
  TLogCapture log;
  const std::string name = Context->ClassName();
  TFakeGLErrors::Queue = {GL_INVALID_OPERATION};
  try {
    Context->BeginSceneRendering();
    ADD_FAILURE() << "begin did not raise";
  } catch (const EContext3DException& e) {
    EXPECT_EQ(e.Message(), "cannot begin rendering scene for " + name + ": 1282");
  }
  EXPECT_EQ(Context->GetBeginSceneCount(), 0);
  EXPECT_EQ(TContext3D::GlobalBeginSceneCount(), 0);
  EXPECT_TRUE(CanvasLockFree());

  Context->SetContextSize(2, 2, 6, 6);
  ASSERT_TRUE(Context->BeginSceneRendering());
  TFakeGLErrors::Queue = {GL_OUT_OF_MEMORY};
  try {
    Context->EndSceneRendering();
    ADD_FAILURE() << "end did not raise";
  } catch (const EContext3DException& e) {
    EXPECT_EQ(e.Message(), "cannot end rendering scene for " + name + ": 1285");
  }
  // Never left "in scene".
  EXPECT_EQ(Context->GetBeginSceneCount(), 0);
  EXPECT_EQ(TContext3D::GlobalBeginSceneCount(), 0);
  EXPECT_EQ(TContext3D::CurrentSceneContext(), nullptr);
  EXPECT_FALSE(Context->GetDefaultBufferFallbackBind());
  EXPECT_TRUE(CanvasLockFree());
  EXPECT_EQ(Viewport(), (TQuorvelContextSize{2, 2, 6, 6}));
  EXPECT_TRUE(log.Contains("[Context Exception]: cannot end rendering scene for "));
}

TEST_F(ContextScenes, ATextureContextBindsItsDefaultBufferOnlyWhenNothingElseIsBound) {
  TOwned<TTexture> texture(New<TTexture>());
  texture->SetSize(8, 4);
  TOwned<TQuorvelContext> context(New<TContextOpenGLWindows>(texture.get(), TMultisample::None, true));
  EXPECT_EQ(context->GetCurrentTexture(), texture.get());
  if (!context->GetDefaultFrameBuf()) GTEST_SKIP() << "frame buffers are not built yet";
  ASSERT_TRUE(context->BeginSceneRendering());
  EXPECT_EQ(context->GetCurrentlyBoundBuffer(), context->GetDefaultFrameBuf());
  EXPECT_TRUE(context->GetDefaultBufferFallbackBind());
  EXPECT_EQ(Viewport(), (TQuorvelContextSize{0, 0, 8, 4}));
  context->EndSceneRendering();
  EXPECT_EQ(context->GetCurrentlyBoundBuffer(), nullptr);

  // With a frame buffer bound already, the scene leaves the stack alone.
  context->PushFBO(context->GetTranslucentBuf());
  ASSERT_TRUE(context->BeginSceneRendering());
  EXPECT_FALSE(context->GetDefaultBufferFallbackBind());
  context->EndSceneRendering();
  EXPECT_EQ(context->PopFBO(), context->GetTranslucentBuf());
}

TEST_F(ContextScenes, ATextureContextDrawsIntoItsTextureAndUnbindsAfterAFailedEnd) {
  TOwned<TTexture> texture(New<TTexture>());
  texture->SetSize(4, 4);
  TOwned<TQuorvelContext> context(New<TContextOpenGLWindows>(texture.get(), TMultisample::None, true));
  ASSERT_NE(context->GetDefaultFrameBuf(), nullptr);
  EXPECT_EQ(context->GetDefaultTexture(), texture.get());
  ASSERT_TRUE(context->BeginSceneRendering());
  context->Clear({TClearTarget::Color, TClearTarget::Depth}, MakeAlphaColor(0xFF3060C0), 1.0f, 0);
  {
    TFakeGLErrors fake;
    TFakeGLErrors::Queue = {GL_INVALID_ENUM};
    EXPECT_THROW(context->EndSceneRendering(), EContext3DException);
  }
  // The fallback bind was undone although the end raised.
  EXPECT_EQ(context->GetCurrentlyBoundBuffer(), nullptr);
  EXPECT_EQ(context->GetBeginSceneCount(), 0);
  EXPECT_TRUE(CanvasLockFree());

  std::vector<uint8_t> pixels(4 * 4 * 4);
  GLint previous = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &previous);
  glBindTexture(GL_TEXTURE_2D, GLuint(texture->GetHandle()));
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
  glBindTexture(GL_TEXTURE_2D, GLuint(previous));
  for (size_t i : {size_t(0), size_t(15)}) {
    EXPECT_NEAR(pixels[i * 4 + 0], 0x30, 1) << i;
    EXPECT_NEAR(pixels[i * 4 + 1], 0x60, 1) << i;
    EXPECT_NEAR(pixels[i * 4 + 2], 0xC0, 1) << i;
  }
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(ContextScenes, ATextureContextOwnsItsRenderPassRegistry) {
  TOwned<TTexture> texture(New<TTexture>());
  texture->SetSize(4, 4);
  TOwned<TQuorvelContext> context(New<TContextOpenGLWindows>(texture.get(), TMultisample::None, false));
  TRenderPasses* passes = context->GetRenderPasses();
  ASSERT_NE(passes, nullptr);
  EXPECT_EQ(passes->GetContext(), context.get());
  // Each pass has its own controller, whose Enabled the pass reports.
  std::vector<TOwned<TPlainController>> controllers;
  auto add = [&](const std::string& AId, TRenderPassType AType) {
    controllers.emplace_back(New<TPlainController>());
    auto* pass = New<TRenderPass>(context.get(), controllers.back().get());
    pass->SetId(AId);
    pass->SetPassType(AType);
    return pass;
  };
  auto* post = add("post", TRenderPassType::Post);
  auto* pre1 = add("shadow", TRenderPassType::Pre);
  auto* pre2 = add("reflection", TRenderPassType::Pre);
  auto* off = add("off", TRenderPassType::Pre);
  off->SetEnabled(false);
  EXPECT_FALSE(controllers.back()->GetEnabled());
  for (TRenderPass* pass : {post, pre1, pre2, off}) passes->Add(pass);
  EXPECT_EQ(passes->GetPreProcessingPasses(), (std::vector<TRenderPass*>{pre1, pre2}));
  EXPECT_EQ(passes->GetPostProcessingPasses(), (std::vector<TRenderPass*>{post}));
  // Enabled again, it is back in its list without registering anew.
  off->SetEnabled(true);
  EXPECT_EQ(passes->GetPreProcessingPasses(), (std::vector<TRenderPass*>{pre1, pre2, off}));
  // Replacing a pass frees the old one; the rest go with the context (LeakSanitizer checks).
  passes->Add(add("post", TRenderPassType::Post));
  EXPECT_EQ(passes->Count(), 4);
  EXPECT_TRUE(passes->Remove("shadow"));
  EXPECT_FALSE(passes->Remove("shadow"));
  // A pass without an id stays its caller's: replaced or removed, it is not freed (these two
  // live on the stack, so freeing either would be caught at once).
  TRenderPass first(context.get(), nullptr);
  TRenderPass second(context.get(), nullptr);
  passes->Add(&first);
  passes->Add(&second);
  EXPECT_EQ(passes->Find(""), &second);
  EXPECT_EQ(passes->Count(), 4);
  EXPECT_TRUE(passes->Remove(""));
  EXPECT_EQ(passes->Count(), 3);
  // Without a controller a pass is disabled, and enabling it does nothing.
  TRenderPass bare(context.get(), nullptr);
  bare.SetEnabled(true);
  EXPECT_FALSE(bare.GetEnabled());

  TRenderPass orphan(nullptr, nullptr);
  try {
    orphan.BeginScene();
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Cannot begin with rendering scene: TRenderPass");
  }
}

TEST_F(ContextScenes, FrameBufferStackIsLastInFirstOut) {
  auto* a = reinterpret_cast<TFrameBufferObject*>(uintptr_t(0x1000));
  auto* b = reinterpret_cast<TFrameBufferObject*>(uintptr_t(0x2000));
  EXPECT_EQ(Context->PopFBO(), nullptr);
  EXPECT_EQ(Context->GetCurrentlyBoundBuffer(), nullptr);
  EXPECT_EQ(Context->GetCurrentTexture(), nullptr);  // a window context has no target
  Context->PushFBO(a);
  Context->PushFBO(b);
  EXPECT_EQ(Context->GetCurrentlyBoundBuffer(), b);
  EXPECT_EQ(Context->PopFBO(), b);
  EXPECT_EQ(Context->PopFBO(), a);
  EXPECT_EQ(Context->PopFBO(), nullptr);
}

TEST_F(ContextScenes, ClipPlaneIndicesAreClamped) {
  struct TCase {
    int32_t Index;
    int32_t Entry;
  };
  const TCase cases[] = {{-3, 0}, {0, 0}, {3, 3}, {7, 7}, {9, 7}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Index);
    const TPlaneF plane = TPlaneF::Create(TPoint3D(0, 1, 0), float(c.Index));
    Context->ActivateClipPlane(c.Index, plane);
    EXPECT_TRUE(Context->IsClippingPlaneActive(c.Entry));
    EXPECT_EQ(Context->GetClippingPlane(c.Entry)->Plane, plane);
    EXPECT_EQ(Context->GetClippingPlane(c.Index), Context->GetClippingPlane(c.Entry));
    Context->DeactivateClipPlane(c.Index);
    EXPECT_FALSE(Context->IsClippingPlaneActive(c.Entry));
    EXPECT_EQ(Context->GetClippingPlane(c.Entry)->Plane, TPlaneF{});
  }
}

TEST_F(ContextScenes, ProjectionAndScreenMatrices) {
  // Zero height: aspect 1.
  TOwned<TProbeContext> flat(New<TProbeContext>(nullptr, 16, 0, TMultisample::None, false));
  const TMatrix3D p = flat->GetCurrentProjectionMatrix();
  EXPECT_FLOAT_EQ(p.m11, p.m22);
  const TMatrix3D s = flat->GetCurrentScreenMatrix();
  EXPECT_TRUE(std::isfinite(s.m11) && std::isfinite(s.m22) && std::isfinite(s.m41));

  TMatrix3D stored = TMatrix3D::CreateScaling(TPoint3D(2, 3, 4));
  Context->SetProjectionMatrix(stored);
  EXPECT_EQ(Context->GetCurrentProjectionMatrix().m22, 3.0f);
  EXPECT_EQ(Context->GetCurrentProjectionMatrix().m33, 4.0f);

  // The screen matrix takes the context's corners to the corners of clip space.
  TOwned<TProbeContext> wide(New<TProbeContext>(nullptr, 40, 20, TMultisample::None, false));
  const TMatrix3D m = wide->GetCurrentScreenMatrix();
  struct TCase {
    float X, Y, ClipX, ClipY;
  };
  for (const TCase& c : {TCase{0, 0, -1, 1}, TCase{40, 20, 1, -1}, TCase{20, 10, 0, 0}}) {
    const TVector3D v = TVector3D(c.X, c.Y, 0, 1) * m;
    EXPECT_NEAR(v.X / v.W, c.ClipX, 1e-4) << c.X;
    EXPECT_NEAR(v.Y / v.W, c.ClipY, 1e-4) << c.Y;
  }
}

// A buffer that records what the instancing code does with it.
class TRecordingBuffer : public TBufferObject {
public:
  using TBufferObject::TBufferObject;
  static inline std::vector<std::string> Calls;
  static inline bool FailPush = false;
  intptr_t Bind() override {
    Calls.push_back("Bind");
    return 0;
  }
  void Unbind() override { Calls.push_back("Unbind"); }
  void Push(const void*, intptr_t ASize) override {
    Calls.push_back("Push " + std::to_string(ASize));
    if (FailPush) throw Exception("push failed");
  }
};

struct TRecordingBufferClass : TBufferObjectClass {
  using TBufferObjectClass::TBufferObjectClass;
  TBufferObject* Create(TBufferUsage AUsage, TBufferBindingTarget ATarget, void* AContext) const override {
    return New<TRecordingBuffer>(AUsage, ATarget, AContext);
  }
};

TEST_F(ContextScenes, InstancesPushOneMatrixEachAndAlwaysUnbind) {
  TClassInit init;
  init.Name = "TRecordingBuffer";
  init.Unit = "Test";
  init.Parent = TBufferObject::StaticClass();
  init.Type = &typeid(TRecordingBuffer);
  static const TRecordingBufferClass recording(init);
  const TBufferObjectClass* installed = SetBufferObjectClass(&recording);
  TRecordingBuffer::Calls.clear();

  Context->SetInstances(0, nullptr);
  EXPECT_EQ(Context->GetInstanceCount(), 0);
  EXPECT_EQ(Context->GetInstanceBuffer(), nullptr);
  EXPECT_TRUE(TRecordingBuffer::Calls.empty());

  const TMatrix3D matrices[2] = {TMatrix3D::Identity(), TMatrix3D::Identity()};
  Context->SetInstances(2, matrices);
  EXPECT_EQ(Context->GetInstanceCount(), 2);
  EXPECT_EQ(TRecordingBuffer::Calls, (std::vector<std::string>{"Bind", "Push 128", "Unbind"}));

  TRecordingBuffer::Calls.clear();
  TRecordingBuffer::FailPush = true;
  EXPECT_THROW(Context->SetInstances(1, matrices), Exception);
  TRecordingBuffer::FailPush = false;
  EXPECT_EQ(TRecordingBuffer::Calls, (std::vector<std::string>{"Bind", "Push 64", "Unbind"}));
  Context->UnsetInstances();
  EXPECT_EQ(Context->GetInstanceCount(), 0);
  Context.reset();  // frees the recording buffer while its class is installed
  SetBufferObjectClass(installed);
}

TEST_F(ContextScenes, TheReadBackBufferIsFreedWithAContextAndKeptOtherwise) {
  ASSERT_NE(ReadBackBuffer(4096), nullptr);
  TOwned<TProbeContext> other(New<TProbeContext>(nullptr, 4, 4, TMultisample::None, false));
  EXPECT_GE(ReadBackBufferSize(), 4096u);  // a new context does not drop it
  other.reset();
  EXPECT_EQ(ReadBackBufferSize(), 0u);
}

TEST_F(ContextScenes, DrawCountersResetToZero) {
  GlobalDrawCalls += 3;
  GlobalIndexCount += 9;
  TQuorvelContext::ResetDrawCallDiagnostics();
  EXPECT_EQ(GlobalDrawCalls.load(), 0);
  EXPECT_EQ(GlobalIndexCount.load(), 0);
}

}  // namespace
}  // namespace quorvel
