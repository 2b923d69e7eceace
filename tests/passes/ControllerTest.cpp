// The render-pass controller: defaults, matrices, registration with the viewport's context,
// the control filters and the runs the context makes of a registered pass.
#include <gtest/gtest.h>

#include "lib/passes/ControllerPassesCustomDepth.h"
#include "lib/passes/ControllerPassesEnvironment.h"
#include "lib/passes/ControllerPassesReflection.h"
#include "lib/passes/ControllerPassesRefraction.h"
#include "lib/passes/ControllerPassesSMStoreDepth.h"
#include "lib/passes/ControllerPassesVSMBlur.h"
#include "lib/passes/ControllerPassesVSMStoreDepth.h"
#include "tests/passes/PassTestSupport.h"

namespace quorvel {
namespace {

using testing::TCountingPass;
using testing::TViewportTest;

void ExpectMatrix(const TMatrix3D& AActual, const TMatrix3D& AExpected) {
  static_assert(sizeof(TMatrix3D) == 16 * sizeof(float));
  const auto* a = reinterpret_cast<const float*>(&AActual);
  const auto* e = reinterpret_cast<const float*>(&AExpected);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(a[i], e[i], 1e-6) << "entry " << i;
}

TEST(ControllerDetached, DefaultsAndTheBiasedTextureMatrix) {
  TOwned<TCountingPass> pass(New<TCountingPass>(nullptr, "shadow"));
  EXPECT_TRUE(pass->GetEnabled());
  EXPECT_EQ(pass->GetId(), "shadow");
  EXPECT_EQ(pass->GetType(), TRenderPassType::Pre);
  EXPECT_EQ(pass->GetMethod(), TRenderPassMethod::RenderListToFBO);
  EXPECT_EQ(pass->GetIterations(), 1);
  EXPECT_EQ(pass->GetRendererFlags(),
            (TRendererFlags{TRendererFlag::IgnoreEmissiveBlur, TRendererFlag::IgnoreGlobalIllum}));
  // Without a viewport there is neither renderer nor output, and no warning is due.
  EXPECT_EQ(pass->GetViewport(), nullptr);
  EXPECT_EQ(pass->GetRenderer(), nullptr);
  EXPECT_EQ(pass->GetOutputTexture(), nullptr);
  EXPECT_EQ(pass->GetFBO(), nullptr);
  ExpectMatrix(pass->GetTextureMatrix(nullptr, false), TMatrix3D::Identity());
  const TMatrix3D bias{0.5f, 0, 0, 0, 0, 0.5f, 0, 0, 0, 0, 0.5f, 0, 0.5f, 0.5f, 0.5f, 1};
  ExpectMatrix(pass->GetTextureMatrix(nullptr, true), bias);
  // Clip space corners land on texture space corners.
  const TPoint3D low = TPoint3D(-1, -1, -1) * pass->GetTextureMatrix(nullptr, true);
  const TPoint3D high = TPoint3D(1, 1, 1) * pass->GetTextureMatrix(nullptr, true);
  EXPECT_EQ(low, TPoint3D(0, 0, 0));
  EXPECT_EQ(high, TPoint3D(1, 1, 1));
  ExpectMatrix(pass->GetViewMatrix(), TMatrix3D::Identity());
  ExpectMatrix(pass->GetProjectionMatrix(), TMatrix3D::Identity());
  ExpectMatrix(pass->GetCurrentModelViewProjectionMatrix(), TMatrix3D::Identity());
}

TEST(ControllerDetached, TheInputPassIsTheSourcesAndForgottenWhenFreed) {
  TOwned<TCountingPass> pass(New<TCountingPass>(nullptr, "blur"));
  auto* input = New<TCountingPass>(nullptr, "store");
  pass->SetInputPass(input);
  EXPECT_EQ(pass->GetInputPass(), input);
  EXPECT_EQ(pass->Source()->GetInputPass(), input);
  Free(input);
  EXPECT_EQ(pass->GetInputPass(), nullptr);
}

TEST(ControllerDetached, ThePassClassesTheMaterialsReadExist) {
  // The classes are built one by one later; they are controllers already.
  std::vector<TOwned<TQuorvelRenderPassController>> passes;
  passes.emplace_back(New<TQuorvelRenderPassCustomDepth>(nullptr, "depth"));
  passes.emplace_back(New<TQuorvelRenderPassSMStoreDepth>(nullptr, "sm"));
  passes.emplace_back(New<TQuorvelRenderPassVSMStoreDepth>(nullptr, "vsm"));
  passes.emplace_back(New<TQuorvelRenderPassVSMBlur>(nullptr, "vsmblur"));
  passes.emplace_back(New<TQuorvelRenderPassReflection>(nullptr, "reflection"));
  passes.emplace_back(New<TQuorvelRenderPassRefraction>(nullptr, "refraction"));
  passes.emplace_back(New<TQuorvelRenderPassEnvironment>(nullptr, "environment"));
  for (auto& pass : passes) {
    EXPECT_TRUE(pass->GetEnabled()) << pass->ClassName();
    ExpectMatrix(pass->GetTextureMatrix(nullptr, false), TMatrix3D::Identity());
    EXPECT_EQ(pass->GetInputPass(), nullptr);
  }
  EXPECT_TRUE(passes[1]->InheritsFrom(TQuorvelRenderPassCustomDepth::StaticClass()));
  EXPECT_TRUE(passes[2]->InheritsFrom(TQuorvelRenderPassCustomDepth::StaticClass()));
}

// ---- with a viewport ------------------------------------------------------------------------

class ControllerTest : public TViewportTest {
protected:
  TRenderPasses* Registry() const {
    auto* ctx = dynamic_cast<TQuorvelContext*>(Viewport->GetContext());
    return ctx ? ctx->GetRenderPasses() : nullptr;
  }
  bool Registered(const std::string& AId) const { return Registry() && Registry()->Find(AId) != nullptr; }
};

TEST_F(ControllerTest, APassOwnedByTheViewportFindsItAndRegistersUnderItsId) {
  ASSERT_NE(Registry(), nullptr);
  auto* pass = New<TCountingPass>(Viewport, "shadow");
  // No parent: the owner's chain leads to the viewport.
  EXPECT_EQ(pass->FindViewport(), Viewport);
  EXPECT_EQ(pass->GetViewport(), Viewport);
  // Linked, not yet on the viewport's list: setting the viewport puts it there and registers.
  EXPECT_FALSE(Registered("shadow"));
  pass->SetViewport(Viewport);
  EXPECT_EQ(Viewport->GetRenderPasses(), (std::vector<TObject*>{pass}));
  ASSERT_NE(pass->GetRenderer(), nullptr);
  ASSERT_NE(pass->GetRenderer()->GetSharedContext(), nullptr);
  EXPECT_EQ(pass->GetRenderer()->GetOwner(), pass);
  EXPECT_EQ(pass->GetRenderer()->GetSize(), TPoint(W, H));
  ASSERT_TRUE(Registered("shadow"));
  EXPECT_EQ(Registry()->Find("shadow")->GetController(), pass);
  EXPECT_NE(pass->GetOutputTexture(), nullptr);

  pass->SetId("shadow");  // the same id keeps the entry
  EXPECT_TRUE(Registered("shadow"));
  pass->SetId("other");
  EXPECT_FALSE(Registered("shadow"));
  EXPECT_TRUE(Registered("other"));
  // An empty id only unregisters: "" would be shared and never freed.
  pass->SetId("");
  EXPECT_EQ(Registry()->Count(), 0);
  pass->UpdateRenderPass();
  EXPECT_EQ(Registry()->Count(), 0);
  pass->SetId("back");
  EXPECT_TRUE(Registered("back"));
  Free(pass);
  EXPECT_EQ(Registry()->Count(), 0);
  EXPECT_TRUE(Viewport->GetRenderPasses().empty());
}

}  // namespace
}  // namespace quorvel
