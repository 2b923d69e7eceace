// Variance shadow maps: the moments stored for a surface, and the blur that averages them
// without tone mapping.
#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <cmath>

#include "framework/gui3d/Light.h"
#include "lib/context/ContextTexturing.h"
#include "lib/passes/ControllerPassesVSMBlur.h"
#include "lib/passes/ControllerPassesVSMStoreDepth.h"
#include "lib/scene/Camera.h"
#include "lib/scene/Plane.h"
#include "tests/passes/PassTestSupport.h"

namespace quorvel {
namespace {

using testkit::TCountingPass;
using testkit::TViewportTest;

struct TRG {
  float R, G;
};

std::vector<TRG> ReadRG(TTexture* ATexture) {
  std::vector<TRG> out(size_t(ATexture->GetWidth()) * ATexture->GetHeight());
  glBindTexture(GL_TEXTURE_2D, GLuint(ATexture->GetHandle()));
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RG, GL_FLOAT, out.data());
  glBindTexture(GL_TEXTURE_2D, 0);
  return out;
}

class TVSMPicturePass : public TCountingPass {
public:
  using TCountingPass::TCountingPass;
  TTexture* Picture = nullptr;
  TTexture* GetOutputTexture() override { return Picture; }
};

// Frames through RenderManual with the fixed-rate loop off: its timer thread races the ticks.
class VSMTest : public TViewportTest {
protected:
  void Frame() {
    Viewport->SetUseFixedFrameRate(false);
    Viewport->SetManualRendering(true);
    Viewport->RenderManual();
  }
};

TEST_F(VSMTest, MapsKeepTheirSizeAndTheBlurFollowsItsStorePass) {
  auto* store = New<TQuorvelRenderPassVSMStoreDepth>(Viewport, "store");
  auto* blur = New<TQuorvelRenderPassVSMBlur>(Viewport, "blur");
  for (TQuorvelRenderPassController* p : {static_cast<TQuorvelRenderPassController*>(store),
                                          static_cast<TQuorvelRenderPassController*>(blur)}) {
    EXPECT_EQ(p->GetType(), TRenderPassType::Pre);
    auto* out = dynamic_cast<TQuorvelTexture*>(p->GetOutputTexture());
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->GetWidth(), 1024);
    EXPECT_EQ(out->GetHeight(), 1024);
    EXPECT_EQ(out->GetComponents(), TPixelFormatEx::RG16F);
    EXPECT_EQ(out->GetBorderColor(), TAlphaColorF(1, 1, 1, 1));
  }
  EXPECT_EQ(blur->GetIterations(), 2);
  EXPECT_EQ(blur->GetBlurType(), TPassBlurType::RadialBlur);
  EXPECT_EQ(blur->GetBlurAmount(), 5.0f);
  ASSERT_NE(blur->GetShader()->GetMaterial(), nullptr);
  EXPECT_FALSE(blur->GetShader()->GetHasMaterial());
  blur->SetVSMStoreDepth(store);
  EXPECT_EQ(blur->GetVSMStoreDepth(), store);
  blur->SetVSMStoreDepth(nullptr);
  EXPECT_EQ(blur->GetVSMStoreDepth(), nullptr);
  blur->SetVSMStoreDepth(store);
  store->SetInputPass(blur);
  EXPECT_EQ(store->GetInputPass(), nullptr);
  auto* light = New<TLight>(Form.get());
  store->SetLight(light);
  EXPECT_EQ(store->GetLight(), light);
  Free(light);
  EXPECT_EQ(store->GetLight(), nullptr);
  Free(store);
  EXPECT_EQ(blur->GetVSMStoreDepth(), nullptr);
  Form->SetClientWidth(W + 8);
  Viewport->SetWidth(W + 8);
  blur->UpdateOnResize();
  EXPECT_EQ(blur->GetOutputTexture()->GetWidth(), 1024);
}

// Run on its own context, as an owning renderer runs it, and registered on the viewport as a
// pre pass: there the context once handed it the viewport's 640 x 480 rectangle, which covered
// part of its 1024 x 1024 target and left the rest zero.
TEST_F(VSMTest, TheBlurLeavesFlatMomentsAsTheyAre) {
  TOwned<TQuorvelTexture> flat(TQuorvelTexture::Create());
  flat->SetSize(64, 64);
  flat->Initialize();
  const std::vector<uint32_t> pixels(64 * 64, 0xFF66B3FFu);  // R 0.4, G 0.7
  flat->UpdateTexture(pixels.data(), 64 * 4);
  for (bool registered : {false, true}) {
    SCOPED_TRACE(registered ? "registered on the viewport" : "on its own context");
    auto* blur = New<TQuorvelRenderPassVSMBlur>(Viewport, "blur");
    auto* input = New<TVSMPicturePass>(Viewport, "");
    input->Picture = flat.get();
    blur->SetVSMStoreDepth(input);
    if (registered) {
      blur->SetViewport(Viewport);
      Frame();
    } else {
      auto* own = dynamic_cast<TQuorvelContext*>(blur->GetRenderer()->GetSharedContext());
      TOwned<TRenderPass> instance(blur->CreateRenderPassInstance(own));
      TRenderContext frame;
      frame.Viewport = Viewport;
      own->ExecuteRenderPass(instance.get(), &frame);
    }
    const std::vector<TRG> out = ReadRG(blur->GetFinalOutputTexture());
    for (size_t i : {size_t(0), size_t(1023), size_t(512 * 1024 + 512), size_t(1023 * 1024), out.size() - 1}) {
      EXPECT_NEAR(out[i].R, 0x66 / 255.0, 1e-3) << i;
      EXPECT_NEAR(out[i].G, 0xB3 / 255.0, 1e-3) << i;
    }
    Free(blur);
    Free(input);
  }
}

TEST_F(VSMTest, TheStoredMomentsAreTheWindowDepthAndItsSquare) {
  AddCube(claRed, 2);
  auto* cam = New<TQuorvelCamera>(Form.get());
  cam->SetParent(Viewport);
  cam->GetPosition()->SetPoint({0, 0, -6});
  Viewport->SetCamera(cam);
  Viewport->SetUsingDesignCamera(false);
  // Both from the camera (no light), both 1024 x 1024.
  auto* store = New<TQuorvelRenderPassVSMStoreDepth>(Viewport, "store");
  auto* depth = New<TQuorvelRenderPassCustomDepth>(Viewport, "depth");
  depth->SetOverwriteViewportSize(true);
  depth->SetMapSize(TPoint(1024, 1024));
  store->SetViewport(Viewport);
  depth->SetViewport(Viewport);
  Frame();
  // A rectangle pass drawn earlier in the process once left the viewport drawing nothing.
  ASSERT_TRUE(testkit::NearColor(Probe(W / 2, H / 2), claRed));
  const std::vector<TRG> moments = ReadRG(store->GetOutputTexture());
  std::vector<float> d(1024 * 1024);
  glBindTexture(GL_TEXTURE_2D, GLuint(depth->GetOutputTexture()->GetHandle()));
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RED, GL_FLOAT, d.data());
  glBindTexture(GL_TEXTURE_2D, 0);
  const size_t centre = 512 * 1024 + 512;
  ASSERT_GT(d[centre], 0.5f);
  EXPECT_NEAR(moments[centre].R, d[centre], 1e-3);
  // A flat face: the slope term is tiny.
  EXPECT_NEAR(moments[centre].G, d[centre] * d[centre], 2e-3);
  EXPECT_GE(moments[centre].G + 1e-3, moments[centre].R * moments[centre].R);
}

// A quad facing the camera has one depth: its moments are (d, d^2), the slope term being 0,
// to a step of the half floats (2^-10 of the value: llvmpipe rounds towards zero). A quad at
// z/w = 0 stores (0.5, 0.25).
TEST_F(VSMTest, AQuadAtAKnownDepthStoresItsWindowDepthAndItsSquare) {
  auto* cam = New<TQuorvelCamera>(Form.get());
  cam->SetParent(Viewport);
  cam->GetPosition()->SetPoint({0, 0, -6});  // looks along +Z
  Viewport->SetCamera(cam);
  Viewport->SetUsingDesignCamera(false);
  auto* quad = New<TQuorvelPlane>(Form.get());
  quad->SetWrapMode(TMeshWrapMode::Resize);
  quad->GetScale()->SetPoint({8, 8, 1});
  quad->SetParent(Viewport);
  auto* store = New<TQuorvelRenderPassVSMStoreDepth>(Viewport, "store");
  store->SetViewport(Viewport);
  Frame();
  const TMatrix3D proj = store->GetProjMatrix();
  // clip z = view z * m33 + m43 and clip w = view z * m34 + m44 (points are row vectors).
  const float zeroDistance = proj.m43 / proj.m33;
  ASSERT_GT(zeroDistance, 0.0f);
  for (float distance : {zeroDistance, 1.5f, 6.0f, 40.0f}) {
    SCOPED_TRACE(::testing::Message() << "distance " << distance);
    quad->GetPosition()->SetPoint({0, 0, -6 + distance});
    Frame();
    const float viewZ = -distance;
    const float d = (viewZ * proj.m33 + proj.m43) / (viewZ * proj.m34 + proj.m44) * 0.5f + 0.5f;
    const TRG m = ReadRG(store->GetOutputTexture())[512 * 1024 + 512];
    if (distance == zeroDistance) {
      EXPECT_NEAR(d, 0.5f, 1e-5);
    }
    EXPECT_NEAR(m.R, d, d / 1024 + 1e-5);
    EXPECT_NEAR(m.G, d * d, d * d / 1024 + 1e-5);
  }
}

}  // namespace
}  // namespace quorvel
