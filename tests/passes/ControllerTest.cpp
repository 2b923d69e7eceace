// The render-pass controller: defaults, matrices, registration with the viewport's context,
// the control filters and the runs the context makes of a registered pass.
#include <gtest/gtest.h>

#include "framework/rtl/Log.h"
#include "lib/passes/ControllerPassesCustomDepth.h"
#include "lib/passes/ControllerPassesEnvironment.h"
#include "lib/passes/ControllerPassesReflection.h"
#include "lib/passes/ControllerPassesRefraction.h"
#include "lib/passes/ControllerPassesSMStoreDepth.h"
#include "lib/passes/ControllerPassesVSMBlur.h"
#include "lib/passes/ControllerPassesVSMStoreDepth.h"
#include "lib/scene/Mesh.h"
#include "tests/passes/PassTestSupport.h"

namespace quorvel {
namespace {

using testkit::TCountingPass;
using testkit::TViewportTest;

void ExpectMatrix(const TMatrix3D& AActual, const TMatrix3D& AExpected) {
  static_assert(sizeof(TMatrix3D) == 16 * sizeof(float));
  const auto* a = reinterpret_cast<const float*>(&AActual);
  const auto* e = reinterpret_cast<const float*>(&AExpected);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(a[i], e[i], 1e-6) << "entry " << i;
}

// A controller that keeps every default of its base.
class TDefaultsPass : public TQuorvelRenderPassController {
public:
  using TQuorvelRenderPassController::TQuorvelRenderPassController;

protected:
  TQuorvelRenderPassMaterialSource* CreateMaterialSource() override { return nullptr; }
};

TEST(ControllerDetached, DefaultsAndTheBiasedTextureMatrix) {
  TOwned<TCountingPass> pass(New<TCountingPass>(nullptr, "shadow"));
  EXPECT_TRUE(pass->GetEnabled());
  EXPECT_EQ(pass->GetId(), "shadow");
  EXPECT_EQ(pass->GetType(), TRenderPassType::Pre);
  EXPECT_EQ(pass->GetMethod(), TRenderPassMethod::RenderListToFBO);
  EXPECT_EQ(pass->GetIterations(), 1);
  TOwned<TDefaultsPass> plain(New<TDefaultsPass>(nullptr, "plain"));
  EXPECT_EQ(plain->GetRendererFlags(),
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
    // Refraction is looked up through the bias matrix alone.
    ExpectMatrix(pass->GetTextureMatrix(nullptr, false),
                 pass->Is<TQuorvelRenderPassRefraction>() ? pass->GetBiasMatrix() : TMatrix3D::Identity());
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

namespace quorvel {
namespace {

using testkit::NearColor;
using testkit::TCountingPass;
using testkit::TFilledCube;
using testkit::TViewportTest;

class PassRunTest : public TViewportTest {
protected:
  void SetUp() override {
    TViewportTest::SetUp();
    Context = dynamic_cast<TQuorvelContext*>(Viewport->GetContext());
    ASSERT_NE(Context, nullptr);
  }
  TCountingPass* AddPass(const std::string& AId) {
    auto* pass = New<TCountingPass>(Viewport, AId);
    pass->SetViewport(Viewport);
    return pass;
  }
  TRenderPass* Registered(const std::string& AId) const { return Context->GetRenderPasses()->Find(AId); }
  TQuorvelContext* Context = nullptr;
};

TEST_F(PassRunTest, IterationsRunInOneSceneAndASkippedRunStillCounts) {
  TCountingPass* pass = AddPass("pre");
  pass->SetIterations(3);
  Tick();
  EXPECT_EQ(pass->Begins, (std::vector<int32_t>{0, 1, 2}));
  EXPECT_EQ(pass->Ends, (std::vector<int32_t>{0, 1, 2}));
  EXPECT_EQ(pass->GetFrameCount(), 1u);
  // The main pass drew into the viewport's renderer again: the pass did not stay current.
  EXPECT_EQ(Viewport->GetCurrentRenderer(), Viewport->GetMainPassRenderer());
  EXPECT_EQ(Context->GetCurrentRenderPass(), nullptr);

  pass->SkipRendering();
  EXPECT_TRUE(pass->GetRenderingSkipped());
  Tick();
  EXPECT_EQ(pass->Begins.size(), 3u);
  EXPECT_EQ(pass->GetFrameCount(), 2u);
  EXPECT_FALSE(pass->GetRenderingSkipped());
  Tick();
  EXPECT_EQ(pass->Begins.size(), 6u);
  EXPECT_EQ(pass->GetFrameCount(), 3u);

  // Iterations 0 is kept as 0 and runs once.
  pass->SetIterations(0);
  EXPECT_EQ(pass->GetIterations(), 0);
  Tick();
  EXPECT_EQ(pass->Begins.size(), 7u);
}

TEST_F(PassRunTest, AThrowingIterationStillEndsTheSceneAndRestoresTheRectangle) {
  TCountingPass* pass = AddPass("pre");
  pass->SetIterations(3);
  pass->OnIteration = [](int32_t ACount) {
    if (ACount == 1) throw Exception("iteration failed");
  };
  TRenderPass* instance = Registered("pre");
  ASSERT_NE(instance, nullptr);
  TContext3D* passContext = pass->GetRenderer()->GetSharedContext();
  auto* engine = dynamic_cast<TQuorvelContext*>(passContext);
  ASSERT_NE(engine, nullptr);
  engine->SetContextSize(1, 2, 30, 20);
  TRenderContext frame;
  frame.Viewport = Viewport;
  frame.DefaultRenderingProc = [](PRenderContext) {};
  try {
    Context->ExecuteRenderPass(instance, &frame);
    ADD_FAILURE() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "iteration failed");
  }
  EXPECT_EQ(pass->Begins, (std::vector<int32_t>{0, 1}));
  EXPECT_EQ(engine->GetCurrentRenderPass(), nullptr);
  EXPECT_EQ(Viewport->GetCurrentRenderer(), pass->GetPreviousRenderer());
  TQuorvelContextSize size{};
  engine->GetContextSize(size);
  EXPECT_EQ(size, (TQuorvelContextSize{1, 2, 30, 20}));
  EXPECT_EQ(engine->GetBeginSceneCount(), 0);
}

TEST_F(PassRunTest, RegistrationFollowsEnabledTypeAndRemoval) {
  TCountingPass* pre = AddPass("pre");
  TCountingPass* post = AddPass("post");
  post->SetType(TRenderPassType::Post);
  TRenderPasses* passes = Context->GetRenderPasses();
  EXPECT_EQ(passes->GetPreProcessingPasses(), (std::vector<TRenderPass*>{Registered("pre")}));
  EXPECT_EQ(passes->GetPostProcessingPasses(), (std::vector<TRenderPass*>{Registered("post")}));
  pre->SetEnabled(false);
  post->SetEnabled(false);
  EXPECT_TRUE(passes->GetPreProcessingPasses().empty());
  EXPECT_TRUE(passes->GetPostProcessingPasses().empty());
  Tick();
  EXPECT_TRUE(pre->Begins.empty());
  pre->SetEnabled(true);
  EXPECT_EQ(passes->GetPreProcessingPasses(), (std::vector<TRenderPass*>{Registered("pre")}));
  // Removing the id frees the instance (LeakSanitizer and ASan watch); the next update makes a new one.
  EXPECT_TRUE(passes->Remove("pre"));
  EXPECT_EQ(Registered("pre"), nullptr);
  Viewport->UpdateRenderPasses();
  ASSERT_NE(Registered("pre"), nullptr);
  EXPECT_EQ(Registered("pre")->GetController(), pre);
  // An internal pass is never entered.
  auto* internal = New<TCountingPass>(Viewport, "internal");
  internal->Internal = true;
  internal->SetViewport(Viewport);
  internal->UpdateRenderPass();
  EXPECT_EQ(Registered("internal"), nullptr);
}

TEST_F(PassRunTest, ASecondPassUnderATakenIdIsRefusedAndFreeingItLeavesTheFirstRunning) {
  TCountingPass* first = AddPass("shared");
  TCountingPass* second = nullptr;
  {
    TLogCapture log;
    second = AddPass("shared");
    EXPECT_TRUE(log.Contains("render pass id \"shared\" is taken by another pass")) << ::testing::PrintToString(log.Lines());
  }
  ASSERT_NE(Registered("shared"), nullptr);
  EXPECT_EQ(Registered("shared")->GetController(), first);
  Tick();
  EXPECT_EQ(first->Begins.size(), 1u);
  EXPECT_TRUE(second->Begins.empty());
  // Before, the second pass took over the first's entry: its handlers ran, and after it was
  // freed the next frame called freed memory (ASan watches the ten frames).
  Free(second);
  ASSERT_NE(Registered("shared"), nullptr);
  for (int i = 0; i < 10; ++i) Tick();
  EXPECT_EQ(first->Begins.size(), 11u);
  EXPECT_EQ(first->GetFrameCount(), 11u);
}

TEST_F(PassRunTest, ARectPassFillsItsTargetAndBecomesTheFrameThroughThePreviousRenderer) {
  TCountingPass* pass = AddPass("post");
  pass->SetType(TRenderPassType::Post);
  pass->SetMethod(TRenderPassMethod::RectToFBO);
  pass->Source()->Solid()->Color = TAlphaColorF(0, 1, 0, 1);
  AddCube(claRed);
  Tick();
  // The viewport copied the pass's picture: green everywhere, the cube drawn under it.
  for (auto [x, y] : {std::pair{1, 1}, {W / 2, H / 2}, {W - 2, H - 2}})
    EXPECT_TRUE(NearColor(Probe(x, y), claLime)) << x << "," << y << " " << std::hex << uint32_t(Probe(x, y));
  EXPECT_EQ(Viewport->GetMainPassRenderer()->GetAttachedRenderer(), nullptr);  // cleared by the copy
  const TVertexBuffer* rect = pass->RectVertices();
  ASSERT_NE(rect, nullptr);
  // A rectangle of the same size, elsewhere, reuses the buffers.
  pass->RenderToContext(Context, pass->GetOutputTexture(), TRect(5, 5, 5 + W, 5 + H), TPoint(0, 0));
  EXPECT_EQ(pass->RectVertices(), rect);
  pass->RenderToContext(Context, pass->GetOutputTexture(), TRect(0, 0, 8, 8), TPoint(0, 0));
  EXPECT_NE(pass->RectVertices(), rect);
}

TEST_F(PassRunTest, RenderToContextRefusesWrongCallsExceptWhileDesigning) {
  TCountingPass* pass = AddPass("post");
  TTexture* out = pass->GetOutputTexture();
  ASSERT_NE(out, nullptr);
  const TRect rect(0, 0, W, H);
  auto message = [&](const std::function<void()>& AStep) -> std::string {
    try {
      AStep();
    } catch (const Exception& e) {
      return e.Message();
    }
    return "";
  };
  EXPECT_EQ(message([&] { pass->RenderToContext(Context, out, rect, {}); }),
            "TRenderPassMethod.RenderListToFBO failed - unsupported for rendering branch");
  pass->SetMethod(TRenderPassMethod(7));
  EXPECT_EQ(message([&] { pass->RenderToContext(Context, out, rect, {}); }),
            "TRenderPassMethod.<unknown> failed - unsupported for rendering branch");
  pass->SetMethod(TRenderPassMethod::RectToFBO);
  EXPECT_EQ(message([&] { pass->RenderToContext(Context, nullptr, rect, {}); }),
            "RenderToContext failed - invalid destination texture");
  TQuorvelRenderPassMaterialSource* source = pass->GetShader();
  pass->SetShader(nullptr);
  EXPECT_EQ(message([&] { pass->RenderToContext(Context, out, rect, {}); }),
            "pass-controller: failed to render to context - missing material shader");
  // Nothing stays open after the failures.
  EXPECT_EQ(pass->GetRenderer()->GetSharedContext()->GetBeginSceneCount(), 0);
  pass->SetDesigning(true);
  EXPECT_EQ(message([&] { pass->RenderToContext(Context, out, rect, {}); }), "");
  pass->SetMethod(TRenderPassMethod::RenderListToFBO);
  EXPECT_EQ(message([&] { pass->RenderToContext(Context, nullptr, rect, {}); }), "");
  pass->SetShader(source);
}

TEST_F(PassRunTest, ControlFilters) {
  TCountingPass* pass = AddPass("pre");
  TFilledCube* a = AddCube(claRed);
  TFilledCube* b = AddCube(claRed);
  // A control owning another brings it along, once.
  auto* child = New<TFilledCube>(a);
  child->SetParent(a);
  EXPECT_FALSE(pass->IsControlIgnored(a));
  EXPECT_TRUE(pass->IsControlIgnored(nullptr));
  pass->IgnoreControl(b);
  EXPECT_TRUE(pass->IsControlIgnored(b));
  EXPECT_FALSE(pass->IsControlIgnored(a));
  pass->AllowControl(a);
  pass->AllowControl(a);
  EXPECT_EQ(pass->GetAllowedControls()->Count(), 2);
  EXPECT_TRUE(pass->GetAllowedControls()->Contains(child));
  struct TCase {
    TFilledCube* Control;
    bool Ignored;
  };
  for (const TCase& c : {TCase{a, false}, TCase{child, false}, TCase{b, true}})
    EXPECT_EQ(pass->IsControlIgnored(c.Control), c.Ignored);
  // Allowed and ignored at once: ignored.
  pass->IgnoreControl(child);
  EXPECT_TRUE(pass->IsControlIgnored(child));
  // A freed control leaves an empty item.
  Free(child);
  EXPECT_EQ(pass->GetAllowedControls()->Item(1)->GetControl(), nullptr);
  EXPECT_EQ(pass->GetIgnoredControls()->Item(1)->GetControl(), nullptr);
}

TEST_F(PassRunTest, AllowingAMeshBringsItsSubMeshesOnce) {
  TCountingPass* pass = AddPass("pre");
  // Streamed models own their meshes through the form; the tree is the parent relation.
  auto* mesh = New<TQuorvelMesh>(Form.get());
  mesh->SetParent(Viewport);
  auto* sub = New<TQuorvelMesh>(Form.get());
  sub->SetParent(mesh);
  auto* leaf = New<TQuorvelMesh>(Form.get());
  leaf->SetParent(sub);
  auto* owned = New<TQuorvelMesh>(sub);  // owned by and under sub: reached both ways, added once
  owned->SetParent(sub);
  auto* other = New<TQuorvelMesh>(Form.get());
  other->SetParent(Viewport);
  ASSERT_EQ(mesh->GetMeshes(), std::vector<TQuorvelMesh*>{sub});
  pass->AllowControl(mesh);
  EXPECT_EQ(pass->GetAllowedControls()->Count(), 4);
  for (TQuorvelMesh* m : {mesh, sub, leaf, owned}) EXPECT_FALSE(pass->IsControlIgnored(m));
  EXPECT_TRUE(pass->IsControlIgnored(other));
  // Ignoring a sub-mesh ignores its own sub-meshes, not the mesh above.
  pass->IgnoreControl(sub);
  EXPECT_EQ(pass->GetIgnoredControls()->Count(), 3);
  EXPECT_FALSE(pass->IsControlIgnored(mesh));
  EXPECT_TRUE(pass->IsControlIgnored(leaf));
}

}  // namespace
}  // namespace quorvel
