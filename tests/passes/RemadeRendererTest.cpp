// A registered pass whose renderer is made again (a new map size, a resize, another renderer)
// keeps drawing, into the new renderer's map: the context's entry for it follows the new
// context. It once kept the entry of the freed one and the next frame crashed in BeginScene.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "lib/context/Context.h"
#include "lib/passes/ControllerPassesSMStoreDepth.h"
#include "tests/passes/PassTestSupport.h"

namespace quorvel {
namespace {

using testkit::ReadRed;
using testkit::TViewportTest;

class RemadeRendererTest : public TViewportTest {
protected:
  void SetUp() override {
    TViewportTest::SetUp();
    AddCube(claRed, 2);
    testkit::UseOwnCamera(Form.get(), Viewport, {0, 0, -6});
    Viewport->SetUseFixedFrameRate(false);
    Viewport->SetManualRendering(true);
    // Without a light the map looks through the camera: the cube fills its middle.
    Map = New<TQuorvelRenderPassSMStoreDepth>(Viewport, "map");
    Map->SetViewport(Viewport);
    Map->OnEndSetup = [this](TObject*, TContext3D* AContext, int32_t, TRenderPass*) { DrawnOn.push_back(AContext); };
  }

  TRenderPass* Entry() const {
    auto* ctx = dynamic_cast<TQuorvelContext*>(Viewport->GetContext());
    return ctx && ctx->GetRenderPasses() ? ctx->GetRenderPasses()->Find("map") : nullptr;
  }

  TQuorvelRenderPassSMStoreDepth* Map = nullptr;  // owned by the viewport
  std::vector<TContext3D*> DrawnOn;
};

struct TRemakeCase {
  const char* Name;
  std::function<void(TQuorvelRenderPassSMStoreDepth*, TQuorvelViewport*)> Change;
  TPoint Size;  // of the map drawn afterwards
};

TEST_F(RemadeRendererTest, ARegisteredPassDrawsIntoItsNewMap) {
  constexpr int32_t W2 = TViewportTest::W + 8;
  const TRemakeCase cases[] = {
      {"map size", [](auto* p, auto*) { p->SetMapSize(TPoint(512, 512)); }, {512, 512}},
      {"map size again", [](auto* p, auto*) { p->SetMapSize(TPoint(256, 256)); }, {256, 256}},
      {"viewport size", [](auto* p, auto*) { p->SetViewportSize(TPoint(128, 64)); }, {128, 64}},
      {"width, then read",
       [](auto* p, auto*) {
         p->SetViewportWidth(96);
         p->GetViewportWidth();
       },
       {96, 64}},
      {"renderer type", [](auto* p, auto*) { p->SetRendererType(TRendererType::ForwardRenderer); }, {96, 64}},
      {"viewport resize keeps the map's size",
       [this](auto*, auto* v) {
         Form->SetClientWidth(W2);
         v->SetWidth(W2);
       },
       {96, 64}},
      {"own size off, then resize",
       [this](auto* p, auto* v) {
         p->SetOverwriteViewportSize(false);
         Form->SetClientWidth(TViewportTest::W);
         v->SetWidth(TViewportTest::W);
       },
       {TViewportTest::W, TViewportTest::H}},
      {"own size again", [](auto* p, auto*) {
         p->SetOverwriteViewportSize(true);
         p->SetMapSize(TPoint(1024, 1024));
       },
       {1024, 1024}},
  };
  Viewport->RenderManual();
  ASSERT_EQ(DrawnOn.size(), 1u);
  for (const TRemakeCase& c : cases) {
    SCOPED_TRACE(c.Name);
    c.Change(Map, Viewport);
    DrawnOn.clear();
    Viewport->RenderManual();
    Viewport->RenderManual();
    ASSERT_EQ(DrawnOn.size(), 2u);
    TContext3D* ctx = Map->RendererContext();
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(DrawnOn[0], ctx);
    EXPECT_EQ(DrawnOn[1], ctx);
    ASSERT_NE(Entry(), nullptr);
    EXPECT_EQ(Entry()->GetContext(), ctx);
    EXPECT_EQ(Entry()->GetController(), Map);
    TTexture* out = Map->GetOutputTexture();
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(TPoint(out->GetWidth(), out->GetHeight()), c.Size);
    // The cube's depth in the middle, the clear value at the corner.
    const std::vector<float> depths = ReadRed(out);
    EXPECT_GT(depths[size_t(c.Size.Y / 2) * c.Size.X + c.Size.X / 2], 0.0f);
    EXPECT_EQ(depths[0], 0.0f);
  }
}

// A pass only built under the viewport is linked, not registered: a new map leaves it so.
TEST_F(RemadeRendererTest, ALinkedPassStaysUnregistered) {
  auto* linked = New<TQuorvelRenderPassSMStoreDepth>(Viewport, "linked");
  ASSERT_EQ(linked->GetViewport(), Viewport);
  linked->SetMapSize(TPoint(256, 256));
  linked->SetRendererType(TRendererType::ForwardRenderer);
  Viewport->RenderManual();
  auto* ctx = dynamic_cast<TQuorvelContext*>(Viewport->GetContext());
  ASSERT_NE(ctx, nullptr);
  EXPECT_EQ(ctx->GetRenderPasses()->Find("linked"), nullptr);
  EXPECT_NE(Entry(), nullptr);
}

}  // namespace
}  // namespace quorvel
