// The emissive and global-illumination blurs: inputs handed in by their owner, and the
// composite renderer's emissive glow.
#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <cmath>

#include "lib/context/ContextBuffersFrameBuffers.h"
#include "lib/context/ContextTexturing.h"
#include "lib/passes/ControllerPassesEmissiveBlur.h"
#include "lib/passes/ControllerPassesGlobalIllumBlur.h"
#include "tests/passes/PassTestSupport.h"

namespace quorvel {
namespace {

using testkit::PixelOf;
using testkit::TCountingPass;
using testkit::TViewportTest;

class TEmissivePicturePass : public TCountingPass {
public:
  using TCountingPass::TCountingPass;
  TTexture* Picture = nullptr;
  TTexture* GetOutputTexture() override { return Picture; }
};

TOwned<TQuorvelTexture> FlatTexture(int32_t AW, int32_t AH, uint32_t AColor) {
  TOwned<TQuorvelTexture> t(TQuorvelTexture::Create());
  t->SetSize(AW, AH);
  t->Initialize();
  std::vector<uint32_t> pixels(size_t(AW) * AH, AColor);
  t->UpdateTexture(pixels.data(), AW * 4);
  return t;
}

uint32_t Read8(TContext3D* AContext, int32_t x, int32_t y, int32_t w, int32_t h) {
  TOwned<TBitmap> bitmap(New<TBitmap>(w, h));
  AContext->CopyToBitmap(bitmap.get(), TRect(0, 0, w, h));
  return uint32_t(PixelOf(bitmap.get(), x, y));
}

class BlurInputsTest : public TViewportTest {};

TEST_F(BlurInputsTest, DefaultsAndInputsHandedIn) {
  TOwned<TQuorvelRenderPassEmissiveBlur> emissive(New<TQuorvelRenderPassEmissiveBlur>(nullptr, "e"));
  TOwned<TQuorvelRenderPassGlobalIllumBlur> gi(New<TQuorvelRenderPassGlobalIllumBlur>(nullptr, "g"));
  EXPECT_EQ(emissive->GetBlurAmount(), 3.0f);
  EXPECT_EQ(gi->GetBlurAmount(), 1.0f);
  for (TQuorvelRenderPassBlur* p : {static_cast<TQuorvelRenderPassBlur*>(emissive.get()),
                                    static_cast<TQuorvelRenderPassBlur*>(gi.get())}) {
    EXPECT_TRUE(p->IsInternalRenderPass());
    EXPECT_EQ(p->GetBlurType(), TPassBlurType::RadialBlur);
    EXPECT_EQ(p->GetExposure(), 1.0f);
  }
  TOwned<TQuorvelTexture> a = FlatTexture(4, 4, 0xFF000000u), b = FlatTexture(4, 4, 0xFFFFFFFFu);
  emissive->SetEmissiveTexture(a.get());
  EXPECT_EQ(emissive->GetEmissiveTexture(), a.get());

  // The global-illumination pass's output becomes the input, at once or at the next run.
  auto* giPass = New<TEmissivePicturePass>(nullptr, "gi");
  giPass->Picture = a.get();
  gi->SetGlobalIllumPass(giPass);
  EXPECT_EQ(gi->Material()->GetInputTexture(), a.get());
  giPass->Picture = b.get();
  EXPECT_EQ(gi->Material()->GetInputTexture(), a.get());
  gi->UpdateTexture();
  EXPECT_EQ(gi->Material()->GetInputTexture(), a.get());  // not before the next iteration
  Free(giPass);
  EXPECT_EQ(gi->GetGlobalIllumPass(), nullptr);
  EXPECT_EQ(gi->Material()->GetInputTexture(), a.get());
  gi->SetGlobalIllumPass(nullptr);
  EXPECT_EQ(gi->Material()->GetInputTexture(), a.get());
}

// Runs a pass on its own context, as the composite renderer does.
void RunOnOwnContext(TQuorvelRenderPassController* APass, TQuorvelViewport* AViewport, TOwned<TRenderPass>& AInstance) {
  auto* own = dynamic_cast<TQuorvelContext*>(APass->GetRenderer()->GetSharedContext());
  if (!AInstance) AInstance.reset(APass->CreateRenderPassInstance(own));
  TRenderContext frame;
  frame.Viewport = AViewport;
  own->ExecuteRenderPass(AInstance.get(), &frame);
}

TEST_F(BlurInputsTest, RunsBlurWhatTheyWereGiven) {
  auto* gi = New<TQuorvelRenderPassGlobalIllumBlur>(Viewport, "");
  auto* giPass = New<TEmissivePicturePass>(Viewport, "");
  // Flat grey: the radial blur's tone map of it everywhere.
  TOwned<TQuorvelTexture> grey = FlatTexture(W, H, 0xFF404040u), white = FlatTexture(W, H, 0xFFFFFFFFu);
  giPass->Picture = grey.get();
  gi->SetGlobalIllumPass(giPass);
  TOwned<TRenderPass> instance;
  RunOnOwnContext(gi, Viewport, instance);
  auto tone = [](double c) {
    c *= 257.0 / 241.0;
    return std::pow(std::clamp(c * (2.51 * c + 0.03) / (c * (2.43 * c + 0.59) + 0.14), 0.0, 1.0), 1 / 2.2);
  };
  TContext3D* ctx = gi->GetRenderer()->GetSharedContext();
  const double expected = tone(0x40 / 255.0);
  for (int32_t x : {0, W / 2, W - 1}) {
    const uint32_t p = Read8(ctx, x, H / 2, W, H);
    EXPECT_NEAR(((p >> 16) & 0xFF) / 255.0, expected, 2.0 / 255) << x;
  }
  // A new output of the GI pass is taken at the next run once asked for.
  giPass->Picture = white.get();
  gi->UpdateTexture();
  RunOnOwnContext(gi, Viewport, instance);
  EXPECT_EQ(gi->Material()->GetInputTexture(), white.get());
  EXPECT_NEAR(((Read8(ctx, W / 2, H / 2, W, H) >> 16) & 0xFF) / 255.0, tone(1.0), 2.0 / 255);

  // A separable emissive blur: each frame's pair starts from the picture last handed in.
  auto* emissive = New<TQuorvelRenderPassEmissiveBlur>(Viewport, "");
  emissive->SetBlurType(TPassBlurType::GaussianBlur);
  TOwned<TRenderPass> e;
  emissive->SetEmissiveTexture(grey.get());
  RunOnOwnContext(emissive, Viewport, e);
  RunOnOwnContext(emissive, Viewport, e);
  TContext3D* ectx = emissive->GetRenderer()->GetSharedContext();
  EXPECT_NEAR(int((Read8(ectx, W / 2, H / 2, W, H) >> 16) & 0xFF), 0x40, 1);
  emissive->SetEmissiveTexture(white.get());
  RunOnOwnContext(emissive, Viewport, e);
  EXPECT_NEAR(int((Read8(ectx, W / 2, H / 2, W, H) >> 16) & 0xFF), 0xFF, 1);
}

// ---- the composite renderer's glow ------------------------------------------------------------

class EmissiveGlowTest : public TViewportTest {
protected:
  void SetUp() override {
    TViewportTest::SetUp();
    Viewport->SetColor(claBlack);
    Renderer = testkit::UseForwardRenderer(Viewport);
    ASSERT_NE(Renderer, nullptr);
    Context = dynamic_cast<TQuorvelContext*>(Renderer->GetSharedContext());
    ASSERT_NE(Context, nullptr);
    Renderer->SetFXAA(0);
  }
  // A black frame whose emissive target holds a white square (x 28..35, y 20..27).
  void Compose(int32_t AEmissiveBlur) {
    Renderer->SetEmissiveBlur(AEmissiveBlur);
    TFrameBufferObject* fbo = Context->GetDefaultFrameBuf();
    Context->AttachTextureToDefaultBuffer(Renderer->GetAlbedoTexture(), TRenderTarget::Color_0);
    Context->BindDefaultBuffer();
    fbo->Clear(TRenderTarget::Color_0, TAlphaColorF(0, 0, 0, 1), 1, 0, true);
    fbo->Clear(TRenderTarget::Color_1, TAlphaColorF(1, 0, 0, 0), 1, 0, true);
    fbo->Clear(TRenderTarget::Color_4, TAlphaColorF(0, 0, 0, 1), 1, 0, true);
    glEnable(GL_SCISSOR_TEST);
    glScissor(28, 20, 8, 8);
    fbo->Clear(TRenderTarget::Color_4, TAlphaColorF(1, 1, 1, 1), 1, 0, true);
    glDisable(GL_SCISSOR_TEST);
    Context->UnbindDefaultBuffer();
    Context->GetTranslucentBuf()->Bind(Context);
    Context->GetTranslucentBuf()->Clear(TRenderTarget::Color_0, TAlphaColorF(0, 0, 0, 0), 1, 0, true);
    Context->GetTranslucentBuf()->Unbind(Context);
    TRenderContext frame;
    frame.Viewport = Viewport;
    Renderer->Composite(&frame);
  }
  // The brightest channel of the composed pixel (bitmap rows run top down: flip).
  int32_t Lit(int32_t x, int32_t y) {
    const uint32_t p = Read8(Context, x, H - 1 - y, W, H);
    return int32_t(std::max({(p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF}));
  }
  TForwardRenderer* Renderer = nullptr;
  TQuorvelContext* Context = nullptr;
};

TEST_F(EmissiveGlowTest, AnEmissiveSquareGlowsAsFarAsTheBlurRadius) {
  Compose(3);
  ASSERT_NE(Renderer->GetEmissiveBlurCtrl(), nullptr);
  EXPECT_EQ(Renderer->GetEmissiveBlurCtrl()->GetBlurAmount(), 3.0f);
  EXPECT_EQ(Renderer->GetEmissiveBlurCtrl()->GetEmissiveTexture(), Renderer->GetEmissiveTexture());
  EXPECT_GT(Lit(31, 23), 100);
  // Radius 3 x 4 = 12 texels: light up to 12 px beyond the square's sides, none 20 px away.
  EXPECT_GT(Lit(28 - 11, 23), 0);
  EXPECT_GT(Lit(35 + 11, 23), 0);
  EXPECT_GT(Lit(31, 20 - 11), 0);
  EXPECT_EQ(Lit(28 - 20, 23), 0);
  EXPECT_EQ(Lit(35 + 20, 23), 0);
  Compose(0);
  EXPECT_EQ(Lit(28 - 11, 23), 0);
  EXPECT_EQ(Lit(35 + 11, 23), 0);
  EXPECT_EQ(Lit(31, 23), 0);  // nor is the unblurred target added
}

TEST_F(EmissiveGlowTest, AResizeMakesTheBlurAgainUnderItsId) {
  ASSERT_NE(Renderer->GetEmissiveBlurCtrl(), nullptr);
  const std::string id = Renderer->GetEmissiveBlurCtrl()->GetId();
  EXPECT_EQ(id.rfind(Renderer->GetId() + "_EmissiveBlur_", 0), 0u) << id;
  EXPECT_EQ(Renderer->GetEmissiveBlurCtrl()->Owner(), Viewport);
  Form->SetClientWidth(W + 8);
  Viewport->SetWidth(W + 8);
  ASSERT_NE(Renderer->GetEmissiveBlurCtrl(), nullptr);
  EXPECT_EQ(Renderer->GetEmissiveBlurCtrl()->GetId(), id);
  TOwned<TForwardRenderer> plain(
      New<TForwardRenderer>("plain", Viewport, TRendererFlags{TRendererFlag::IgnoreEmissiveBlur}, nullptr));
  plain->Apply();
  EXPECT_EQ(plain->GetEmissiveBlurCtrl(), nullptr);
}

}  // namespace
}  // namespace quorvel
