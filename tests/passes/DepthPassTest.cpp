// Depth and shadow-map passes: settings, the depth each method stores for a cube at a known
// distance, the light's view and the map's size.
#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <cmath>

#include "framework/gui3d/Light.h"
#include "lib/context/ContextTexturing.h"
#include "lib/passes/ControllerPassesSMStoreDepth.h"
#include "lib/passes/PassViews.h"
#include "lib/scene/Camera.h"
#include "tests/passes/PassTestSupport.h"

namespace quorvel {
namespace {

using testkit::ReadRed;
using testkit::TViewportTest;

void ExpectNearMatrix(const TMatrix3D& A, const TMatrix3D& B, float ATolerance) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(A.Get(r, c), B.Get(r, c), ATolerance) << r << "," << c;
}

// Frames through RenderManual with the fixed-rate loop off: its timer thread races the ticks.
class DepthPassTest : public TViewportTest {
protected:
  void Frame() {
    Viewport->SetUseFixedFrameRate(false);
    Viewport->SetManualRendering(true);
    Viewport->RenderManual();
  }
};

TEST_F(DepthPassTest, DefaultsSizesAndReferences) {
  auto* depth = New<TQuorvelRenderPassCustomDepth>(Viewport, "depth");
  EXPECT_EQ(depth->GetType(), TRenderPassType::Pre);
  EXPECT_EQ(depth->GetMethod(), TRenderPassMethod::RenderListToFBO);
  EXPECT_EQ(depth->GetRenderProc(), TRenderPassRenderingProc::ListRendering);
  EXPECT_EQ(depth->GetDefaultColor(), claBlack);
  EXPECT_EQ(depth->GetDefaultDepth(), 1.0f);
  EXPECT_EQ(depth->GetDepthMethod(), TDepthMethod::dmDefault);
  EXPECT_EQ(depth->GetRenderer()->GetRenderTargets(), TRenderTargets{TRenderTarget::Color_0});
  auto* output = dynamic_cast<TQuorvelTexture*>(depth->GetOutputTexture());
  ASSERT_NE(output, nullptr);
  EXPECT_EQ(output->GetComponents(), TPixelFormatEx::R16F);
  EXPECT_EQ(output->GetWrapS(), TQuorvelTextureWrap::ClampToBorder);
  EXPECT_EQ(output->GetBorderColor(), TAlphaColorF(1, 1, 1, 1));
  depth->SetMapSize(TPoint(512, 512));
  EXPECT_EQ(depth->GetViewportSize(), TPoint(512, 512));
  EXPECT_EQ(depth->GetOutputTexture()->GetWidth(), 512);

  auto* map = New<TQuorvelRenderPassSMStoreDepth>(Viewport, "map");
  EXPECT_EQ(map->GetViewportSize(), TPoint(1024, 1024));
  EXPECT_TRUE(map->GetOverwriteViewportSize());
  map->SetInputPass(depth);
  EXPECT_EQ(map->GetInputPass(), nullptr);
  // Every depth material shares the one view-z pixel shader.
  auto* a = static_cast<TCustomDepthMaterial*>(depth->GetShader()->GetMaterial());
  auto* b = static_cast<TCustomDepthMaterial*>(map->GetShader()->GetMaterial());
  EXPECT_NE(a, b);
  EXPECT_NE(a->GetPixelShaderZ(), nullptr);
  EXPECT_EQ(a->GetPixelShaderZ(), b->GetPixelShaderZ());
  EXPECT_NE(a->GetPixelShader(), b->GetPixelShader());
  // The light is a reference: freeing it empties the pass's.
  auto* light = New<TLight>(Form.get());
  map->SetLight(light);
  EXPECT_EQ(map->GetLight(), light);
  Free(light);
  EXPECT_EQ(map->GetLight(), nullptr);
  // Maps keep their size through viewport resizes.
  Form->SetClientWidth(W + 8);
  Viewport->SetWidth(W + 8);
  map->UpdateOnResize();
  EXPECT_EQ(map->GetOutputTexture()->GetWidth(), 1024);
  EXPECT_EQ(map->GetOutputTexture()->GetHeight(), 1024);
}

TEST_F(DepthPassTest, EachMethodStoresTheDepthOfTheSurface) {
  AddCube(claRed, 2);
  // A camera of the test's own, 6 units from the cube's centre.
  testkit::UseOwnCamera(Form.get(), Viewport, {0, 0, -6});
  auto* depth = New<TQuorvelRenderPassCustomDepth>(Viewport, "depth");
  depth->SetViewport(Viewport);  // registered: it runs before each frame
  TMatrix3D drawnProjection;
  depth->OnEndSetup = [&](TObject*, TContext3D* AContext, int32_t, TRenderPass*) {
    drawnProjection = AContext->GetCurrentProjectionMatrix();
  };
  Frame();
  // A rectangle pass drawn earlier in the process once left the viewport drawing nothing.
  ASSERT_TRUE(testkit::NearColor(Probe(W / 2, H / 2), claRed));
  float stored[3] = {0, 0, 0};
  for (TDepthMethod method : {TDepthMethod::dmDefault, TDepthMethod::dmMVPPosZ, TDepthMethod::dmModelViewPosZ}) {
    depth->SetDepthMethod(method);
    Frame();
    const std::vector<float> map = ReadRed(depth->GetOutputTexture());
    const int32_t w = depth->GetOutputTexture()->GetWidth(), h = depth->GetOutputTexture()->GetHeight();
    stored[int(method)] = map[size_t(h / 2) * w + w / 2];
    // Outside the cube the clear depth stays (black: 0).
    EXPECT_EQ(map[0], 0.0f);
  }
  ExpectNearMatrix(drawnProjection, depth->GetProjMatrix(), 1e-5f);
  // A face of the cube, one unit nearer or further than its centre (which one the context's
  // culling keeps is its own matter), stored as view z, clip z and window depth alike.
  const TMatrix3D view = depth->GetViewMatrixField(), proj = depth->GetProjMatrix();
  const float distance = view.EyePosition().Length();
  SCOPED_TRACE(::testing::Message() << "camera distance " << distance);
  const float viewZ = std::abs(stored[2] + (distance - 1)) < std::abs(stored[2] + (distance + 1)) ? -(distance - 1)
                                                                                                  : -(distance + 1);
  const float clipZ = viewZ * proj.m33 + proj.m43, clipW = viewZ * proj.m34 + proj.m44;
  const float window = clipZ / clipW * 0.5f + 0.5f;
  EXPECT_NEAR(stored[2], viewZ, std::abs(viewZ) * 1e-3 + 1e-3);
  EXPECT_NEAR(stored[1], clipZ, std::abs(clipZ) * 1e-3 + 1e-3);
  EXPECT_NEAR(stored[0], window, 1e-3);
}

TEST_F(DepthPassTest, ALightsMapLooksFromTheLight) {
  auto* map = New<TQuorvelRenderPassSMStoreDepth>(Viewport, "map");
  auto* light = New<TLight>(Form.get());
  light->SetParent(Viewport);
  light->SetLightType(TLightType::Point);
  light->GetPosition()->SetPoint(TPoint3D(0, -10, 0));
  map->SetLight(light);
  const TLightDescription d = light->GetLightDescription();
  const TQuorvelFrustum* frustum = &Viewport->GetCurrentFrustum();
  const TMatrix3D expected = LightView(d, frustum).Matrix;
  EXPECT_EQ(map->GetViewMatrix(nullptr), expected);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_TRUE(std::isfinite(expected.Get(r, c)));
  // Computed anew: a moved light moves the view.
  light->GetPosition()->SetPoint(TPoint3D(3, -10, 1));
  EXPECT_EQ(map->GetViewMatrix(nullptr), LightView(light->GetLightDescription(), frustum).Matrix);
  // Without a light: the camera's view.
  map->SetLight(nullptr);
  auto* plain = New<TQuorvelRenderPassCustomDepth>(Viewport, "plain");
  EXPECT_EQ(map->GetViewMatrix(nullptr), plain->GetViewMatrix(nullptr));
}

}  // namespace
}  // namespace quorvel
