// Frame buffers: colour attachments, render buffers and shared depth buffers rendered into
// and read back, the frame-buffer stack of the engine context, and texture contexts.
#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <cstring>
#include <vector>

#include "framework/gui/Bitmap.h"
#include "framework/math/AlphaColor.h"
#include "framework/rtl/Log.h"
#include "lib/context/ContextBuffersFrameBuffers.h"
#include "lib/context/ContextTexturing.h"
#include "lib/context/opengl/ContextBuffersOpenGL.h"
#include "tests/context/ContextTestFixture.h"

namespace quorvel {
namespace {

using testkit::GLInt;

TOwned<TFrameBufferObject> NewFBO(TContext3D* AContext) {
  return TOwned<TFrameBufferObject>(FrameBufferObjectClass->Create(AContext, false, TMultisample::None, nullptr));
}

TOwned<TQuorvelTexture> NewTarget(int32_t W, int32_t H, TPixelFormatEx AComponents = TPixelFormatEx::RGBA8) {
  TOwned<TQuorvelTexture> tex(TQuorvelTexture::Create());
  tex->SetSize(W, H);
  tex->SetComponents(AComponents);
  tex->SetStyle({TTextureStyle::RenderTarget});
  return tex;
}

// Fixed-function drawing in clip coordinates.
void PrepareFixedFunction(int32_t W, int32_t H) {
  glUseProgram(0);
  glDisable(GL_BLEND);
  glDisable(GL_CULL_FACE);
  glDisable(GL_SCISSOR_TEST);
  glDisable(GL_STENCIL_TEST);
  glDisable(GL_TEXTURE_2D);
  glDepthMask(GL_TRUE);
  glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
  glViewport(0, 0, W, H);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
}

void Quad(float x0, float x1, float z, float r, float g, float b) {
  glColor4f(r, g, b, 1);
  glBegin(GL_QUADS);
  glVertex3f(x0, -1, z);
  glVertex3f(x1, -1, z);
  glVertex3f(x1, 1, z);
  glVertex3f(x0, 1, z);
  glEnd();
}

struct TPixel {
  uint8_t R, G, B, A;
};

TPixel TexturePixel(TQuorvelTexture* ATexture, int32_t x, int32_t y) {
  std::vector<uint8_t> bytes;
  int64_t size = 0;
  ATexture->RequestTextureData(bytes, size, 0);  // BGRA
  const size_t i = (size_t(y) * size_t(ATexture->GetWidth()) + size_t(x)) * 4;
  return {bytes[i + 2], bytes[i + 1], bytes[i], bytes[i + 3]};
}

bool Near(TPixel p, int r, int g, int b) {
  return std::abs(p.R - r) <= 2 && std::abs(p.G - g) <= 2 && std::abs(p.B - b) <= 2;
}

class FrameBufferTest : public testkit::TSharedGLTest {
protected:
  void TearDown() override {
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    testkit::TSharedGLTest::TearDown();
  }
};

TEST_F(FrameBufferTest, ColourAttachmentsAreDrawnIntoAndCleared) {
  TOwned<TQuorvelTexture> first = NewTarget(8, 8), third = NewTarget(8, 8);
  TOwned<TFrameBufferObject> fbo = NewFBO(Context.get());
  fbo->AttachTexture(Context.get(), first.get(), TRenderTarget::Color_0);
  fbo->AttachTexture(Context.get(), third.get(), TRenderTarget::Color_2);
  ASSERT_NE(first->GetHandle(), 0u);
  EXPECT_EQ(fbo->GetSize().Width, 8);
  fbo->Bind(Context.get());
  fbo->Prepare({TRenderTarget::Color_0, TRenderTarget::Depth, TRenderTarget::Color_2});
  EXPECT_EQ(GLInt(GL_DRAW_BUFFER0), GL_COLOR_ATTACHMENT0);
  EXPECT_EQ(GLInt(GL_DRAW_BUFFER1), GL_COLOR_ATTACHMENT2);
  fbo->Prepare({TRenderTarget::Depth});  // no colour target: the list stays
  EXPECT_EQ(GLInt(GL_DRAW_BUFFER1), GL_COLOR_ATTACHMENT2);
  fbo->Clear(TRenderTarget::Color_0, TAlphaColorF(1, 0, 0, 1), 1, 0, false);
  // Color_2 sits in draw-buffer slot 1: the clear finds it there.
  fbo->Clear(TRenderTarget::Color_2, TAlphaColorF(0, 1, 0, 1), 1, 0, false);
  PrepareFixedFunction(8, 8);
  glDisable(GL_DEPTH_TEST);
  Quad(-1, 0, 0, 0, 0, 1);  // left half blue in both targets
  fbo->Unbind(Context.get());
  EXPECT_TRUE(Near(TexturePixel(first.get(), 1, 4), 0, 0, 255));
  EXPECT_TRUE(Near(TexturePixel(first.get(), 6, 4), 255, 0, 0));
  EXPECT_TRUE(Near(TexturePixel(third.get(), 1, 4), 0, 0, 255));
  EXPECT_TRUE(Near(TexturePixel(third.get(), 6, 4), 0, 255, 0));
  // Forcing the draw buffer clears Color_2 as draw buffer 2 alone.
  fbo->Bind(Context.get());
  fbo->Clear(TRenderTarget::Color_2, TAlphaColorF(0, 1, 0, 1), 1, 0, true);
  EXPECT_EQ(GLInt(GL_DRAW_BUFFER0), GL_COLOR_ATTACHMENT2);
  fbo->Unbind(Context.get());
  EXPECT_TRUE(Near(TexturePixel(third.get(), 1, 4), 0, 255, 0));
  EXPECT_TRUE(Near(TexturePixel(first.get(), 1, 4), 0, 0, 255));
}

TEST_F(FrameBufferTest, ClearingATargetThatIsNotDrawnToLeavesTheOthersAlone) {
  TOwned<TQuorvelTexture> first = NewTarget(8, 8), fifth = NewTarget(8, 8);
  TOwned<TFrameBufferObject> fbo = NewFBO(Context.get());
  fbo->AttachTexture(Context.get(), first.get(), TRenderTarget::Color_0);
  fbo->AttachTexture(Context.get(), fifth.get(), TRenderTarget::Color_4);
  fbo->Bind(Context.get());
  fbo->Clear(TRenderTarget::Color_0, TAlphaColorF(0, 0, 1, 1), 1, 0, true);
  fbo->Clear(TRenderTarget::Color_4, TAlphaColorF(0, 1, 0, 1), 1, 0, true);
  // Only Color_4 is drawn to, in slot 0: clearing Color_0 must not reach it.
  fbo->Prepare({TRenderTarget::Color_4});
  fbo->Clear(TRenderTarget::Color_0, TAlphaColorF(1, 0, 0, 1), 1, 0, false);
  EXPECT_EQ(GLInt(GL_DRAW_BUFFER0), GL_COLOR_ATTACHMENT4);
  EXPECT_EQ(GLInt(GL_DRAW_BUFFER1), GL_NONE);
  fbo->Unbind(Context.get());
  EXPECT_TRUE(Near(TexturePixel(first.get(), 4, 4), 255, 0, 0));
  EXPECT_TRUE(Near(TexturePixel(fifth.get(), 4, 4), 0, 255, 0));
}

TEST_F(FrameBufferTest, RenderAndDepthBuffersKeepTheNearerSurface) {
  TOwned<TFrameBufferObject> fbo = NewFBO(Context.get());
  fbo->Resize(8, 8);
  ASSERT_NE(fbo->GetRenderBuf(), 0u);
  ASSERT_NE(fbo->GetDepthBuf(), 0u);
  fbo->Bind(Context.get());
  fbo->Clear({TRenderTarget::Color_0, TRenderTarget::Depth}, TAlphaColorF(0, 0, 0, 1), 1, 0, false);
  PrepareFixedFunction(8, 8);
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LESS);
  Quad(-1, 1, 0.0f, 1, 0, 0);   // nearer, red
  Quad(-1, 1, 0.5f, 0, 1, 0);   // behind, green: hidden
  Quad(0, 1, -0.5f, 0, 0, 1);   // in front on the right, blue
  uint8_t left[4], right[4];
  glReadBuffer(GL_COLOR_ATTACHMENT0);
  glReadPixels(1, 4, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, left);
  glReadPixels(6, 4, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, right);
  glDisable(GL_DEPTH_TEST);
  fbo->Unbind(Context.get());
  EXPECT_TRUE(Near({left[0], left[1], left[2], left[3]}, 255, 0, 0));
  EXPECT_TRUE(Near({right[0], right[1], right[2], right[3]}, 0, 0, 255));
}

TEST_F(FrameBufferTest, MultisampleBufferGetsMultisampledRenderBuffers) {
  TOwned<TFrameBufferObject> fbo(FrameBufferObjectClass->Create(Context.get(), true, TMultisample::FourSamples, nullptr));
  EXPECT_EQ(fbo->GetMSValue(), 4);
  fbo->Resize(8, 8);
  ASSERT_NE(fbo->GetRenderBuf(), 0u);
  ASSERT_NE(fbo->GetDepthBuf(), 0u);
  for (uint32_t buffer : {fbo->GetRenderBuf(), fbo->GetDepthBuf()}) {
    GLint samples = 0;
    glBindRenderbuffer(GL_RENDERBUFFER, buffer);
    glGetRenderbufferParameteriv(GL_RENDERBUFFER, GL_RENDERBUFFER_SAMPLES, &samples);
    glBindRenderbuffer(GL_RENDERBUFFER, 0);
    EXPECT_GE(samples, 4);
  }
  fbo->Bind(Context.get());
  EXPECT_TRUE(fbo->CheckStatus());
  fbo->Unbind(Context.get());
  fbo->Resize(16, 4);
  EXPECT_EQ(fbo->GetSize().Width, 16);
  GLint width = 0;
  glBindRenderbuffer(GL_RENDERBUFFER, fbo->GetRenderBuf());
  glGetRenderbufferParameteriv(GL_RENDERBUFFER, GL_RENDERBUFFER_WIDTH, &width);
  glBindRenderbuffer(GL_RENDERBUFFER, 0);
  EXPECT_EQ(width, 16);
}

TEST_F(FrameBufferTest, ResizeKeepsAnAttachedColourTexture) {
  TOwned<TQuorvelTexture> colour = NewTarget(8, 8);
  TOwned<TFrameBufferObject> fbo = NewFBO(Context.get());
  fbo->AttachTexture(Context.get(), colour.get(), TRenderTarget::Color_0);
  fbo->Resize(8, 8);
  EXPECT_EQ(fbo->GetRenderBuf(), 0u);
  EXPECT_NE(fbo->GetDepthBuf(), 0u);
  fbo->Bind(Context.get());
  GLint type = 0, name = 0;
  glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_TYPE,
                                        &type);
  glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME,
                                        &name);
  fbo->Clear(TRenderTarget::Color_0, TAlphaColorF(0, 1, 0, 1), 1, 0, true);
  fbo->Unbind(Context.get());
  EXPECT_EQ(type, GL_TEXTURE);
  EXPECT_EQ(GLuint(name), GLuint(colour->GetHandle()));
  EXPECT_TRUE(Near(TexturePixel(colour.get(), 3, 3), 0, 255, 0));
}

TEST_F(FrameBufferTest, UnbindReturnsToTheFrameBufferBelow) {
  TOwned<TFrameBufferObject> a = NewFBO(Context.get()), b = NewFBO(Context.get());
  a->Bind(Context.get());
  b->Bind(Context.get());
  EXPECT_EQ(GLInt(GL_FRAMEBUFFER_BINDING), GLint(b->GetHandle()));
  b->Unbind(Context.get());
  EXPECT_EQ(GLInt(GL_FRAMEBUFFER_BINDING), GLint(a->GetHandle()));
  EXPECT_EQ(Context->GetCurrentlyBoundBuffer(), a.get());
  a->Unbind(Context.get());
  EXPECT_EQ(GLInt(GL_FRAMEBUFFER_BINDING), 0);
  EXPECT_TRUE(Context->GetFBOStack().empty());
  // Without a handle nothing is bound or pushed; without a context Unbind binds 0.
  b->DestroyHandle();
  b->Bind(Context.get());
  EXPECT_TRUE(Context->GetFBOStack().empty());
  a->Bind(nullptr);
  EXPECT_EQ(GLInt(GL_FRAMEBUFFER_BINDING), GLint(a->GetHandle()));
  a->Unbind(nullptr);
  EXPECT_EQ(GLInt(GL_FRAMEBUFFER_BINDING), 0);
}

TEST_F(FrameBufferTest, SharedDepthBufferKeepsItsOwnersStorageAndDepth) {
  TOwned<TFrameBufferObject> owner = NewFBO(Context.get()), borrower = NewFBO(Context.get());
  TOwned<TQuorvelTexture> colour = NewTarget(8, 8), other = NewTarget(8, 8);
  owner->AttachTexture(Context.get(), colour.get(), TRenderTarget::Color_0);
  owner->CreateDepthBuffer(8, 8);
  owner->Bind(Context.get());
  owner->Clear(TRenderTarget::Depth, TAlphaColorF(), 0.25f, 0, false);
  owner->Unbind(Context.get());
  borrower->AttachTexture(Context.get(), other.get(), TRenderTarget::Color_0);
  borrower->AttachDepthBuffer(owner->GetDepthBuf(), TPoint(4, 4));
  EXPECT_EQ(borrower->GetDepthBuf(), 0u);
  EXPECT_FALSE(borrower->GetOwnsDepthBuf());
  GLint width = 0;
  glBindRenderbuffer(GL_RENDERBUFFER, owner->GetDepthBuf());
  glGetRenderbufferParameteriv(GL_RENDERBUFFER, GL_RENDERBUFFER_WIDTH, &width);
  glBindRenderbuffer(GL_RENDERBUFFER, 0);
  EXPECT_EQ(width, 8);
  owner->Bind(Context.get());
  float depth = 0;
  glReadPixels(3, 3, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
  owner->Unbind(Context.get());
  EXPECT_NEAR(depth, 0.25f, 1e-4);
}

TEST_F(FrameBufferTest, AttachmentsBeyondTheLimitRaise) {
  TOwned<TFrameBufferObject> fbo = NewFBO(Context.get());
  TOwned<TQuorvelTexture> tex = NewTarget(4, 4);
  const GLint limit = GLInt(GL_MAX_COLOR_ATTACHMENTS);
  ASSERT_LE(limit, 15);
  const auto beyond = static_cast<TRenderTarget>(limit + 2);  // Color_limit needs limit + 1
  try {
    fbo->AttachTexture(Context.get(), tex.get(), beyond);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "failed to attach texture to FBO - not enough attachments available");
  }
  EXPECT_EQ(fbo->GetTextures()->Count(), 0);
  fbo->AttachTexture(Context.get(), tex.get(), static_cast<TRenderTarget>(limit + 1));  // Color_(limit-1)
  EXPECT_EQ(fbo->GetTextures()->Count(), 1);
}

TEST_F(FrameBufferTest, TextureMapAttachesOnceAndDetachesTheLowestTarget) {
  TOwned<TFrameBufferObject> fbo = NewFBO(Context.get());
  TOwned<TQuorvelTexture> tex = NewTarget(4, 4);
  fbo->AttachTexture(Context.get(), tex.get(), TRenderTarget::Color_1);
  fbo->AttachTexture(Context.get(), tex.get(), TRenderTarget::Color_1);
  EXPECT_EQ(fbo->GetTextures()->Count(), 1);
  fbo->AttachTexture(Context.get(), tex.get(), TRenderTarget::Color_0);
  EXPECT_EQ(fbo->GetTextures()->Count(), 2);
  fbo->Bind(Context.get());
  fbo->DetachTexture(tex.get());
  EXPECT_EQ(fbo->GetTextureByRenderTarget(TRenderTarget::Color_0), nullptr);
  EXPECT_EQ(fbo->GetTextureByRenderTarget(TRenderTarget::Color_1), tex.get());
  GLint attached = -1;
  glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_TYPE,
                                        &attached);
  EXPECT_EQ(attached, GL_NONE);
  fbo->Unbind(Context.get());
  fbo->Reset();
  EXPECT_EQ(fbo->GetTextures()->Count(), 0);
}

TEST_F(FrameBufferTest, StatusWithoutAttachmentsIsFalseAndBadAttachmentsRaise) {
  TOwned<TFrameBufferObject> fbo = NewFBO(Context.get());
  fbo->Bind(Context.get());
  EXPECT_FALSE(fbo->CheckStatus());
  const GLint before = GLInt(GL_DRAW_BUFFER0);
  fbo->Prepare({TRenderTarget::Color_3});
  EXPECT_EQ(GLInt(GL_DRAW_BUFFER0), before);
  fbo->Unbind(Context.get());
  // A depth texture is not colour-renderable.
  TOwned<TQuorvelTexture> depth = NewTarget(4, 4, TPixelFormatEx::Depth24);
  depth->SetFormat(TPixelFormatEx::Depth);
  depth->SetDataType(TQuorvelTextureDataType::dtUnsignedInt);
  try {
    fbo->AttachTexture(Context.get(), depth.get(), TRenderTarget::Color_0);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message().rfind(Format("error #36054: failed to use framebuffer-object #%d\r\nNot all framebuffer "
                                       "attachment points are framebuffer attachment complete.",
                                       int32_t(fbo->GetHandle())),
                                0),
              0u)
        << e.Message();
  }
  EXPECT_EQ(GLInt(GL_FRAMEBUFFER_BINDING), 0);
}

// The default frame buffer of a texture context red, its bottom GL row blue.
void PaintRedWithABlueBottomRow(TContext3D* AContext) {
  TFrameBufferObject* fbo = dynamic_cast<TQuorvelContext*>(AContext)->GetDefaultFrameBuf();
  fbo->Bind(AContext);
  glDisable(GL_SCISSOR_TEST);
  glClearColor(1, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  glEnable(GL_SCISSOR_TEST);
  glScissor(0, 0, fbo->GetSize().Width, 1);
  glClearColor(0, 0, 1, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  glDisable(GL_SCISSOR_TEST);
  fbo->Unbind(AContext);
}

TEST_F(FrameBufferTest, TextureContextGetsItsFrameBuffersAndCopiesTopRowFirst) {
  TOwned<TQuorvelTexture> target = NewTarget(8, 4);
  TOwned<TContext3D> ctx(TContextManager::CreateFromTexture(target.get(), TMultisample::None, true));
  auto* engine = dynamic_cast<TQuorvelContext*>(ctx.get());
  ASSERT_NE(engine, nullptr);
  TFrameBufferObject* fbo = engine->GetDefaultFrameBuf();
  ASSERT_NE(fbo, nullptr);
  EXPECT_EQ(fbo->GetTextureByRenderTarget(TRenderTarget::Color_0), target.get());
  EXPECT_NE(fbo->GetDepthBuf(), 0u);
  ASSERT_NE(engine->GetTranslucentBuf(), nullptr);
  EXPECT_EQ(engine->GetTranslucentBuf()->GetTextures()->Count(), 0);

  PaintRedWithABlueBottomRow(ctx.get());
  std::vector<uint8_t> bits(8 * 4 * 4, 0);
  ctx->CopyToBits(bits.data(), 32, TRect(0, 0, 8, 4));
  // BGRA rows, top first: the bottom GL row arrives last.
  EXPECT_EQ(bits[0], 0);
  EXPECT_EQ(bits[2], 255);
  EXPECT_EQ(bits[3 * 32 + 0], 255);
  EXPECT_EQ(bits[3 * 32 + 2], 0);
  // Another size than the frame buffer's copies nothing and says why in the log.
  std::vector<uint8_t> small(4 * 4 * 4, 7);
  TLogCapture log;
  ctx->CopyToBits(small.data(), 16, TRect(0, 0, 4, 4));
  EXPECT_TRUE(log.Contains("TQuorvelContextOpenGLES.DoCopyToBits: context default framebuffer size is not equal to "
                           "destination render size: width=8<>4, height=4<>4"));
  EXPECT_EQ(small, std::vector<uint8_t>(64, 7));
}

TEST_F(FrameBufferTest, TextureContextCopiesIntoABitmapTopRowFirstAtTheRectangleClipped) {
  TOwned<TQuorvelTexture> target = NewTarget(8, 4);
  TOwned<TContext3D> ctx(TContextManager::CreateFromTexture(target.get(), TMultisample::None, true));
  auto* engine = dynamic_cast<TQuorvelContext*>(ctx.get());
  ASSERT_NE(engine, nullptr);
  PaintRedWithABlueBottomRow(engine);

  TBitmap whole(8, 4);
  ctx->CopyToBitmap(&whole, TRect(0, 0, 8, 4));
  TBitmapData data;
  ASSERT_TRUE(whole.Map(TMapAccess::Read, data));
  for (int32_t x : {0, 7}) {
    EXPECT_EQ(uint32_t(data.GetPixel(x, 0)), 0xFFFF0000u);
    EXPECT_EQ(uint32_t(data.GetPixel(x, 3)), 0xFF0000FFu);
  }
  whole.Unmap(data);

  // A rectangle reaching past the frame and the bitmap: only its inside is written, at its place.
  TBitmap part(6, 6);
  part.Clear(claBlack);
  ctx->CopyToBitmap(&part, TRect(4, 1, 12, 9));
  ASSERT_TRUE(part.Map(TMapAccess::Read, data));
  EXPECT_EQ(uint32_t(data.GetPixel(4, 1)), 0xFFFF0000u);
  EXPECT_EQ(uint32_t(data.GetPixel(5, 3)), 0xFF0000FFu);
  EXPECT_EQ(data.GetPixel(4, 0), claBlack);
  EXPECT_EQ(data.GetPixel(3, 2), claBlack);
  EXPECT_EQ(data.GetPixel(5, 4), claBlack);
  part.Unmap(data);
  ctx->CopyToBitmap(&part, TRect(2, 2, 2, 4));  // empty: nothing read, nothing written
}

}  // namespace
}  // namespace quorvel
