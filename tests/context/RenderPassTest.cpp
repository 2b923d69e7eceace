#include <functional>
#include <string>
#include <vector>

#include "framework/gui3d/Material.h"
#include "framework/rtl/Exceptions.h"
#include "lib/context/ContextShader.h"
#include "lib/passes/Controller.h"
#include "tests/context/ContextTestFixture.h"

namespace quorvel {

// A flat colour, the position optionally mirrored so that a redraw of the same primitives
// lands somewhere else than the first draw.
class TPassColorMaterial : public TCustomMaterial {
  FW_CLASS(TPassColorMaterial, TCustomMaterial)

protected:
  virtual const char* Name() const { return "Red"; }
  virtual const char* Color() const { return "vec4(1.0, 0.0, 0.0, 1.0)"; }
  virtual const char* Mirror() const { return "vec2(1.0, 1.0)"; }

  void DoInitialize() override {
    const std::string name = std::string("Tests.Pass.") + Name();
    FVertexShader = TShaderManager::RegisterShaderFromData(
        name + ".fvs", TContextShaderKind::VertexShader, "",
        {TContextShaderSource(TContextShaderArch::GLSL,
                              TContextShaderSource::CodeFromText(
                                  std::string("#version 430\nin vec3 a_Position;\n"
                                              "void main() { gl_Position = vec4(a_Position.xy * ") +
                                  Mirror() + ", a_Position.z, 1.0); }\n"))});
    FPixelShader = TShaderManager::RegisterShaderFromData(
        name + ".fps", TContextShaderKind::PixelShader, "",
        {TContextShaderSource(TContextShaderArch::GLSL,
                              TContextShaderSource::CodeFromText(std::string("#version 430\nout vec4 o_Color;\n"
                                                                             "void main() { o_Color = ") +
                                                                 Color() + "; }\n"))});
  }
};
FW_CLASS_IMPL(TPassColorMaterial, "Tests.Context")
FW_CLASS_NO_MEMBERS(TPassColorMaterial)

// Green, mirrored through the origin.
class TPassGreenMaterial : public TPassColorMaterial {
  FW_CLASS(TPassGreenMaterial, TPassColorMaterial)

protected:
  const char* Name() const override { return "Green"; }
  const char* Color() const override { return "vec4(0.0, 1.0, 0.0, 1.0)"; }
  const char* Mirror() const override { return "vec2(-1.0, -1.0)"; }
};
FW_CLASS_IMPL(TPassGreenMaterial, "Tests.Context")
FW_CLASS_NO_MEMBERS(TPassGreenMaterial)

// Blue, mirrored left to right.
class TPassBlueMaterial : public TPassColorMaterial {
  FW_CLASS(TPassBlueMaterial, TPassColorMaterial)

protected:
  const char* Name() const override { return "Blue"; }
  const char* Color() const override { return "vec4(0.0, 0.0, 1.0, 1.0)"; }
  const char* Mirror() const override { return "vec2(-1.0, 1.0)"; }
};
FW_CLASS_IMPL(TPassBlueMaterial, "Tests.Context")
FW_CLASS_NO_MEMBERS(TPassBlueMaterial)

template <class M>
class TPassMaterialSource : public TQuorvelRenderPassMaterialSource {
public:
  using TQuorvelRenderPassMaterialSource::TQuorvelRenderPassMaterialSource;

protected:
  TMaterial* CreateMaterial() override { return New<M>(); }
  void DoPassesChanged(TObject*) override {}
};

namespace {

// A controller that takes only the kinds it is told to. Without a viewport it has no renderer,
// so it renders at the context's size.
class TTestController : public TQuorvelRenderPassController {
public:
  explicit TTestController(TComponent* AOwner = nullptr) : TQuorvelRenderPassController(AOwner, "") {}
  bool TakesTriangles = true;
  bool IsPrimitivesKindSupported(TPrimitivesKind AKind) const override {
    return AKind != TPrimitivesKind::Triangles || TakesTriangles;
  }
  TPoint ComputeRenderingSize(TContext3D*, int32_t AWidth, int32_t AHeight) override { return TPoint(AWidth, AHeight); }

protected:
  TQuorvelRenderPassMaterialSource* CreateMaterialSource() override { return nullptr; }
};

// A pass that counts how often its scene is ended.
class TTestPass : public TRenderPass {
public:
  TTestPass(TContext3D* AContext, const std::string& AId, TRenderPassType AType) : TRenderPass(AContext, nullptr) {
    SetId(AId);
    SetPassType(AType);
  }
  int Ends = 0;

  void EndScene() override {
    ++Ends;
    TRenderPass::EndScene();
  }
};

// A probe context with a pass registry, as a texture context has.
class TPassContext : public testkit::TProbeContext {
public:
  using TProbeContext::TProbeContext;
  void MakeRegistry() { CreateRenderPasses(); }
};

struct TVertex {
  float X, Y, Z;
};
const TVertexDeclaration PositionDeclaration{{TVertexFormat::Vertex, 0}};
// The lower-left half of the target.
const TVertex LowerLeft[3] = {{-1, -1, 0}, {1, -1, 0}, {-1, 1, 0}};
const TVertex FullScreen[6] = {{-1, -1, 0}, {1, -1, 0}, {1, 1, 0}, {-1, -1, 0}, {1, 1, 0}, {-1, 1, 0}};

constexpr TRGBA8 kPassBlack{0, 0, 0, 255};
constexpr TRGBA8 kPassRed{255, 0, 0, 255};
constexpr TRGBA8 Green{0, 255, 0, 255};
constexpr TRGBA8 Blue{0, 0, 255, 255};

class RenderPassTest : public ::testing::Test, protected TGLErrorCheck {
protected:
  void SetUp() override {
    testkit::UseSharedContext();
    if (HasFatalFailure()) return;
    Context.reset(New<TPassContext>(nullptr, 16, 16, TMultisample::None, true));
    Context->MakeRegistry();
    Target = std::make_unique<TGLTestFramebuffer>(16, 16);
    TContext3D::ResetCurrentStates();
    Red_.reset(New<TPassColorMaterial>());
    GreenSource.reset(New<TPassMaterialSource<TPassGreenMaterial>>(nullptr));
    BlueSource.reset(New<TPassMaterialSource<TPassBlueMaterial>>(nullptr));
    glClearColor(0, 0, 0, 1);
    glClearDepth(1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  }
  void TearDown() override {
    while (Context && Context->GetCurrentRenderPass()) Context->EndRenderPass();
    Context.reset();
    Red_.reset();
    GreenSource.reset();
    BlueSource.reset();
    Target.reset();
    TContext3D::ResetCurrentStates();
    glUseProgram(0);
    CheckGLErrorsLeft();
  }
  static void TearDownTestSuite() { TShaderProgramCache::Clear(); }

  // A pass owned by the registry, with its own controller.
  TTestPass* AddPass(const std::string& AId, TRenderPassType AType, TTestController** AController = nullptr) {
    auto* pass = New<TTestPass>(Context.get(), AId, AType);
    Controllers.emplace_back(New<TTestController>());
    pass->FController = Controllers.back().get();
    if (AController) *AController = Controllers.back().get();
    Context->GetRenderPasses()->Add(pass);
    return pass;
  }
  void Draw(const TVertex* AVertices, int32_t ACount, TMaterial* AMaterial) {
    Context->DrawPrimitives(TPrimitivesKind::Triangles, AVertices, nullptr, PositionDeclaration, sizeof(TVertex),
                            ACount, 2, 0, AMaterial, 1.0f);
  }
  TRGBA8 At(int32_t X, int32_t Y) const { return Target->Pixel(X, Y); }

  TOwned<TPassContext> Context;
  std::unique_ptr<TGLTestFramebuffer> Target;
  TOwned<TPassColorMaterial> Red_;
  TOwned<TQuorvelRenderPassMaterialSource> GreenSource;
  TOwned<TQuorvelRenderPassMaterialSource> BlueSource;
  std::vector<TOwned<TTestController>> Controllers;
};

// --- the draw path ---------------------------------------------------------------------------

TEST_F(RenderPassTest, ACurrentPassThatRejectsTheKindVetoesTheDrawAndTouchesNoMaterial) {
  TTestController* controller = nullptr;
  TTestPass* pass = AddPass("veto", TRenderPassType::Pre, &controller);
  controller->TakesTriangles = false;
  controller->SetShader(GreenSource.get());
  int applied = 0;
  pass->FOnApplyMaterial = [&](TMaterial*, TMaterial*) { ++applied; };
  Context->BeginRenderPass(pass);
  const int64_t calls = GlobalDrawCalls.load();
  Draw(LowerLeft, 3, Red_.get());
  EXPECT_EQ(GlobalDrawCalls.load(), calls);
  EXPECT_EQ(applied, 0);
  EXPECT_TRUE(NearColor(At(2, 2), kPassBlack));
  EXPECT_TRUE(NearColor(At(13, 13), kPassBlack));
  // Another kind passes the same filter.
  controller->TakesTriangles = true;
  Draw(LowerLeft, 3, Red_.get());
  EXPECT_EQ(GlobalDrawCalls.load(), calls + 1);
}

TEST_F(RenderPassTest, ACurrentPassWithAMaterialDrawsWithItAndAnnouncesIt) {
  TTestController* controller = nullptr;
  TTestPass* pass = AddPass("green", TRenderPassType::Pre, &controller);
  controller->SetShader(GreenSource.get());
  std::vector<std::pair<TMaterial*, TMaterial*>> announced;
  pass->FOnApplyMaterial = [&](TMaterial* AOld, TMaterial* ANew) { announced.emplace_back(AOld, ANew); };
  Context->BeginRenderPass(pass);
  Draw(LowerLeft, 3, Red_.get());
  // The pass's material (mirrored, green) replaces the red one.
  EXPECT_TRUE(NearColor(At(13, 13), Green));
  EXPECT_TRUE(NearColor(At(2, 2), kPassBlack));
  ASSERT_EQ(announced.size(), 1u);
  EXPECT_EQ(announced[0].first, nullptr);
  EXPECT_EQ(announced[0].second, TMaterialSource::ValidMaterial(GreenSource.get()));
  // After the draw the default program is current again.
  EXPECT_EQ(testkit::GLInt(GL_CURRENT_PROGRAM), 0);
  // Without a current pass the draw's own material counts.
  Context->EndRenderPass();
  glClear(GL_COLOR_BUFFER_BIT);
  Draw(LowerLeft, 3, Red_.get());
  EXPECT_TRUE(NearColor(At(2, 2), kPassRed));
  EXPECT_TRUE(NearColor(At(13, 13), kPassBlack));
}

TEST_F(RenderPassTest, EveryIntermediatePassRedrawsThePrimitivesWithItsMaterial) {
  TTestController* green = nullptr;
  TTestController* blue = nullptr;
  TTestController* none = nullptr;
  TTestPass* greenPass = AddPass("green", TRenderPassType::Intermediate, &green);
  TTestPass* bluePass = AddPass("blue", TRenderPassType::Intermediate, &blue);
  TTestPass* nonePass = AddPass("none", TRenderPassType::Intermediate, &none);
  green->SetShader(GreenSource.get());
  blue->SetShader(BlueSource.get());
  // Intermediate passes are not asked about the kind.
  green->TakesTriangles = false;
  Context->AddIntermediatePass(greenPass);
  Context->AddIntermediatePass(bluePass);
  Context->AddIntermediatePass(nonePass);
  Context->AddIntermediatePass(greenPass);
  ASSERT_EQ(Context->GetIntermediatePasses().size(), 3u);

  const int64_t calls = GlobalDrawCalls.load();
  Draw(LowerLeft, 3, Red_.get());
  // Once as drawn, once mirrored through the origin (green), once left to right (blue); the
  // pass without a material does not draw.
  EXPECT_EQ(GlobalDrawCalls.load(), calls + 3);
  EXPECT_TRUE(NearColor(At(1, 5), kPassRed));
  EXPECT_TRUE(NearColor(At(12, 14), Green));
  EXPECT_TRUE(NearColor(At(14, 1), Blue));
}

TEST_F(RenderPassTest, ADirectDrawSkipsTheFrameworkMaterialButKeepsThePassFilter) {
  TTestController* controller = nullptr;
  TTestPass* pass = AddPass("green", TRenderPassType::Pre, &controller);
  controller->SetShader(GreenSource.get());
  Context->BeginRenderPass(pass);
  Context->DirectDrawPrimitives(TPrimitivesKind::Triangles, LowerLeft, nullptr, PositionDeclaration, sizeof(TVertex),
                                3, 2, 0);
  EXPECT_TRUE(NearColor(At(13, 13), Green));
  controller->TakesTriangles = false;
  glClear(GL_COLOR_BUFFER_BIT);
  Context->DirectDrawPrimitives(TPrimitivesKind::Triangles, LowerLeft, nullptr, PositionDeclaration, sizeof(TVertex),
                                3, 2, 0);
  EXPECT_TRUE(NearColor(At(13, 13), kPassBlack));
}

TEST_F(RenderPassTest, ADirectDrawWithAnEngineKindDrawsThatKind) {
  TTestController* controller = nullptr;
  TTestPass* pass = AddPass("green", TRenderPassType::Pre, &controller);
  controller->SetShader(GreenSource.get());
  Context->BeginRenderPass(pass);
  // Four corners: as a fan they fill the target; read as triangles they would make one.
  const TVertex quad[4] = {{-1, -1, 0}, {1, -1, 0}, {1, 1, 0}, {-1, 1, 0}};
  Context->DirectDrawPrimitives(TQuorvelPrimitivesKind::TriangleFan, quad, nullptr, PositionDeclaration,
                                sizeof(TVertex), 4, 2, 0);
  EXPECT_TRUE(NearColor(At(2, 2), Green));
  EXPECT_TRUE(NearColor(At(13, 13), Green));
  EXPECT_TRUE(NearColor(At(2, 13), Green));
  // The engine's first three kinds are the framework's.
  glClear(GL_COLOR_BUFFER_BIT);
  Context->DirectDrawPrimitives(TQuorvelPrimitivesKind::Triangles, quad, nullptr, PositionDeclaration,
                                sizeof(TVertex), 3, 2, 0);
  // (The pass's material mirrors through the origin: the lower-right half lands upper left.)
  EXPECT_TRUE(NearColor(At(2, 13), Green));
  EXPECT_TRUE(NearColor(At(13, 2), kPassBlack));
}

// --- pass execution --------------------------------------------------------------------------

TEST_F(RenderPassTest, PreAndPostPassesRunAroundTheSceneAndOnlyEnabledOnes) {
  // Post first in the registry: the type, not the registry order, puts it after the scene.
  TTestPass* post = AddPass("post", TRenderPassType::Post);
  TTestPass* pre = AddPass("pre", TRenderPassType::Pre);
  TTestPass* disabled = AddPass("disabled", TRenderPassType::Pre);
  disabled->SetEnabled(false);
  std::vector<std::string> events;
  for (TTestPass* pass : {post, pre, disabled})
    pass->FOnBeginRendering = [&events](TContext3D*, int32_t, TRenderPass* APass) {
      events.push_back(APass->GetId());
    };

  TRenderContext frame;
  // Pre: red over everything; scene (below): green upper-right half; post: blue lower-right half.
  frame.DefaultRenderingProc = [&](PRenderContext) {
    TRenderPass* current = Context->GetCurrentRenderPass();
    ASSERT_NE(current, nullptr);
    if (current == pre) Draw(FullScreen, 6, Red_.get());
    if (current == post) Draw(LowerLeft, 3, TMaterialSource::ValidMaterial(BlueSource.get()));
  };
  EXPECT_TRUE(Context->PreProcessing(&frame));
  EXPECT_EQ(Context->GetCurrentRenderPass(), nullptr);
  events.push_back("scene");
  Draw(LowerLeft, 3, TMaterialSource::ValidMaterial(GreenSource.get()));  // lands upper right
  EXPECT_TRUE(Context->PostProcessing(&frame));
  EXPECT_EQ(events, (std::vector<std::string>{"pre", "scene", "post"}));

  EXPECT_TRUE(NearColor(At(1, 8), kPassRed));     // only the pre pass covers it
  EXPECT_TRUE(NearColor(At(8, 14), Green));  // the scene over the pre pass
  EXPECT_TRUE(NearColor(At(14, 1), Blue));   // the post pass over the pre pass
  EXPECT_EQ(pre->Ends, 1);
  EXPECT_EQ(post->Ends, 1);
  EXPECT_EQ(disabled->Ends, 0);
}

TEST_F(RenderPassTest, AVetoedPassDrawsNothingAndIsNotEnded) {
  TTestController* controller = nullptr;
  TTestPass* pass = AddPass("pre", TRenderPassType::Pre, &controller);
  controller->SkipRendering();
  int began = 0;
  pass->FOnBeginRendering = [&](TContext3D*, int32_t, TRenderPass*) { ++began; };
  TRenderContext frame;
  frame.DefaultRenderingProc = [&](PRenderContext) { Draw(FullScreen, 6, Red_.get()); };
  EXPECT_TRUE(Context->PreProcessing(&frame));
  EXPECT_EQ(began, 0);
  EXPECT_EQ(pass->Ends, 0);
  EXPECT_TRUE(NearColor(At(8, 8), kPassBlack));
  // The veto holds once: the next frame renders. Both frames count.
  EXPECT_TRUE(Context->PreProcessing(&frame));
  EXPECT_EQ(began, 1);
  EXPECT_EQ(pass->Ends, 1);
  EXPECT_TRUE(NearColor(At(8, 8), kPassRed));
  EXPECT_EQ(controller->GetFrameCount(), 2u);
  EXPECT_FALSE(controller->GetRenderingSkipped());
}

// Records the calls of the scene bracket and renders at a size of its own.
class TBracketController : public TTestController {
public:
  std::vector<std::string> Calls;
  TAlphaColor Fill{};
  void BeginRenderPassRendering(TContext3D*, TAlphaColor AFill, float ADepth, uint32_t AStencil) override {
    Fill = AFill;
    Calls.push_back("begin " + FloatToStr(ADepth) + " " + std::to_string(AStencil));
  }
  void EndRenderPassRendering(TContext3D*) override { Calls.push_back("end"); }
};

TEST_F(RenderPassTest, TheSceneBracketBindsThePassAndRestoresTheViewport) {
  auto* pass = New<TTestPass>(Context.get(), "bracket", TRenderPassType::Pre);
  TOwned<TBracketController> controller(New<TBracketController>());
  pass->FController = controller.get();
  Context->GetRenderPasses()->Add(pass);
  Context->SetContextSize(1, 2, 11, 12);

  ASSERT_TRUE(pass->BeginScene());
  EXPECT_EQ(Context->GetCurrentRenderPass(), pass);
  EXPECT_EQ(controller->Calls, (std::vector<std::string>{"begin 1 0"}));
  EXPECT_EQ(controller->Fill, claBlue);
  TQuorvelContextSize viewport{};
  Context->GetContextSize(viewport);
  EXPECT_EQ(viewport, (TQuorvelContextSize{0, 0, 16, 16}));
  // A handler that disables the pass during its run does not leave it open.
  pass->SetEnabled(false);
  pass->EndScene();
  EXPECT_EQ(Context->GetCurrentRenderPass(), nullptr);
  EXPECT_EQ(controller->Calls.back(), "end");
  Context->GetContextSize(viewport);
  EXPECT_EQ(viewport, (TQuorvelContextSize{1, 2, 11, 12}));
  // Disabled: not begun, and an end without a begin does nothing.
  EXPECT_FALSE(pass->BeginScene());
  pass->EndScene();
  EXPECT_EQ(controller->Calls.size(), 2u);
}

TEST_F(RenderPassTest, PendingGLErrorsFailTheBracketWithoutLeavingItOpen) {
  auto* pass = New<TTestPass>(Context.get(), "bracket", TRenderPassType::Pre);
  TOwned<TBracketController> controller(New<TBracketController>());
  pass->FController = controller.get();
  Context->GetRenderPasses()->Add(pass);
  Context->SetContextSize(1, 2, 11, 12);
  // The step fails on a pending GL error, and leaves the pass not current and the viewport back.
  auto failsCleanly = [&](const std::function<void()>& AStep, const std::string& AMessage) {
    SCOPED_TRACE(AMessage);
    try {
      testkit::TFakeGLErrors errors;
      errors.Queue = {GL_INVALID_OPERATION};
      AStep();
      ADD_FAILURE() << "no exception";
    } catch (const EContext3DException& e) {
      EXPECT_EQ(e.Message(), AMessage);
    }
    EXPECT_EQ(Context->GetCurrentRenderPass(), nullptr);
    EXPECT_EQ(controller->Calls.back(), "end");
    TQuorvelContextSize viewport{};
    Context->GetContextSize(viewport);
    EXPECT_EQ(viewport, (TQuorvelContextSize{1, 2, 11, 12}));
  };
  failsCleanly([&] { pass->BeginScene(); }, "Cannot begin with rendering scene: TTestPass");
  ASSERT_TRUE(pass->BeginScene());
  failsCleanly([&] { pass->EndScene(); }, "Failed to end rendering scene: TTestPass");
}

TEST_F(RenderPassTest, IterationsRepeatTheRenderingAndZeroCountsAsOne) {
  TTestController* controller = nullptr;
  TTestPass* pass = AddPass("pre", TRenderPassType::Pre, &controller);
  controller->SetRenderProc(TRenderPassRenderingProc::ListRendering);
  std::vector<int32_t> begun, ended;
  pass->FOnBeginRendering = [&](TContext3D* AContext, int32_t I, TRenderPass* APass) {
    EXPECT_EQ(AContext, Context.get());
    EXPECT_EQ(APass, pass);
    begun.push_back(I);
  };
  pass->FOnEndRendering = [&](TContext3D*, int32_t I, TRenderPass*) { ended.push_back(I); };
  TRenderContext frame;
  int defaults = 0;
  frame.DefaultRenderingProc = [&](PRenderContext) { ++defaults; };
  // Iteration i fills column block i (four pixels wide) in red.
  frame.ListRenderingProc = [&](PRenderContext AFrame) {
    EXPECT_EQ(AFrame, &frame);
    const float x0 = -1.0f + 0.5f * float(begun.back());
    const float x1 = x0 + 0.5f;
    const TVertex quad[6] = {{x0, -1, 0}, {x1, -1, 0}, {x1, 1, 0}, {x0, -1, 0}, {x1, 1, 0}, {x0, 1, 0}};
    Draw(quad, 6, Red_.get());
  };

  controller->SetIterations(3);
  Context->ExecuteRenderPass(pass, &frame);
  EXPECT_EQ(begun, (std::vector<int32_t>{0, 1, 2}));
  EXPECT_EQ(ended, (std::vector<int32_t>{0, 1, 2}));
  EXPECT_EQ(defaults, 0);
  EXPECT_TRUE(NearColor(At(2, 8), kPassRed));
  EXPECT_TRUE(NearColor(At(6, 8), kPassRed));
  EXPECT_TRUE(NearColor(At(10, 8), kPassRed));
  EXPECT_TRUE(NearColor(At(14, 8), kPassBlack));
  EXPECT_EQ(pass->Ends, 1);

  // Zero iterations run once; without an end handler the iterations still run.
  begun.clear();
  ended.clear();
  pass->FOnEndRendering = nullptr;
  controller->SetIterations(0);
  glClear(GL_COLOR_BUFFER_BIT);
  Context->ExecuteRenderPass(pass, &frame);
  EXPECT_EQ(begun, (std::vector<int32_t>{0}));
  EXPECT_TRUE(NearColor(At(2, 8), kPassRed));
  EXPECT_TRUE(NearColor(At(6, 8), kPassBlack));

  // A negative count runs nothing, but the scene is still begun and ended.
  begun.clear();
  controller->SetIterations(-2);
  Context->ExecuteRenderPass(pass, &frame);
  EXPECT_TRUE(begun.empty());
  EXPECT_EQ(pass->Ends, 3);
}

TEST_F(RenderPassTest, ARectPassRendersItsOutputOverTheWholeContext) {
  struct TRectController : TTestController {
    std::vector<std::pair<TRect, TPoint>> Calls;
    void RenderToContext(TContext3D*, TTexture*, const TRect& ARect, const TPoint& ADst) override {
      Calls.emplace_back(ARect, ADst);
    }
  };
  auto* pass = New<TTestPass>(Context.get(), "rect", TRenderPassType::Post);
  TOwned<TRectController> controller(New<TRectController>());
  controller->SetMethod(TRenderPassMethod::RectToFBO);
  pass->FController = controller.get();
  Context->GetRenderPasses()->Add(pass);
  pass->FOnBeginRendering = [](TContext3D*, int32_t, TRenderPass*) {};
  TRenderContext frame;
  int lists = 0;
  frame.DefaultRenderingProc = [&](PRenderContext) { ++lists; };
  EXPECT_TRUE(Context->PostProcessing(&frame));
  ASSERT_EQ(controller->Calls.size(), 1u);
  EXPECT_EQ(controller->Calls[0].first, TRect(0, 0, 16, 16));
  EXPECT_EQ(controller->Calls[0].second, TPoint(0, 0));
  EXPECT_EQ(lists, 0);
}

TEST_F(RenderPassTest, AFailingIterationEndsThePassAndStopsTheLaterPasses) {
  TTestPass* first = AddPass("first", TRenderPassType::Pre);
  TTestPass* second = AddPass("second", TRenderPassType::Pre);
  int secondBegan = 0;
  first->FOnBeginRendering = [](TContext3D*, int32_t, TRenderPass*) { throw Exception("iteration failed"); };
  second->FOnBeginRendering = [&](TContext3D*, int32_t, TRenderPass*) { ++secondBegan; };
  TRenderContext frame;
  EXPECT_THROW(Context->PreProcessing(&frame), Exception);
  EXPECT_EQ(first->Ends, 1);
  EXPECT_EQ(Context->GetCurrentRenderPass(), nullptr);
  EXPECT_EQ(secondBegan, 0);
}

TEST_F(RenderPassTest, MissingPiecesMakeExecutionANoOp) {
  TRenderContext frame;
  // No passes in the registry.
  EXPECT_FALSE(Context->PreProcessing(&frame));
  TTestPass* pass = AddPass("pre", TRenderPassType::Pre);
  EXPECT_FALSE(Context->PreProcessing(nullptr));
  // No begin handler: not begun.
  EXPECT_TRUE(Context->PreProcessing(&frame));
  EXPECT_EQ(pass->Ends, 0);
  // No controller: nothing to render with, not begun.
  pass->FOnBeginRendering = [](TContext3D*, int32_t, TRenderPass*) {};
  pass->FController = nullptr;
  Context->ExecuteRenderPass(pass, &frame);
  EXPECT_EQ(pass->Ends, 0);
  // A controller of another class is a bad cast.
  TOwned<TObject> other(New<TObject>());
  pass->FController = other.get();
  EXPECT_THROW(Context->ExecuteRenderPass(pass, &frame), EInvalidCast);
  EXPECT_EQ(pass->Ends, 0);
}

TEST_F(RenderPassTest, APassFreedByTheRegistryIsNoLongerDrawnWithOrCurrent) {
  TTestController* outer = nullptr;
  TTestController* green = nullptr;
  TTestPass* outerPass = AddPass("outer", TRenderPassType::Pre, &outer);
  TTestPass* greenPass = AddPass("green", TRenderPassType::Intermediate, &green);
  green->SetShader(GreenSource.get());
  Context->AddIntermediatePass(greenPass);
  Context->BeginRenderPass(outerPass);
  Context->BeginRenderPass(greenPass);
  ASSERT_TRUE(Context->GetRenderPasses()->Remove("green"));
  EXPECT_TRUE(Context->GetIntermediatePasses().empty());
  EXPECT_EQ(Context->GetCurrentRenderPass(), outerPass);
  const int64_t calls = GlobalDrawCalls.load();
  Draw(LowerLeft, 3, Red_.get());
  EXPECT_EQ(GlobalDrawCalls.load(), calls + 1);
  EXPECT_TRUE(NearColor(At(2, 2), kPassRed));
  EXPECT_TRUE(NearColor(At(13, 13), kPassBlack));
  Context->EndRenderPass();
  EXPECT_EQ(Context->GetCurrentRenderPass(), nullptr);
}

TEST(RenderPassWindow, AWindowContextHasNoPassesToProcess) {
  testkit::UseSharedContext();
  if (::testing::Test::HasFatalFailure()) return;
  TOwned<testkit::TProbeContext> context(New<testkit::TProbeContext>(nullptr, 16, 16, TMultisample::None, true));
  TRenderContext frame;
  EXPECT_EQ(context->GetRenderPasses(), nullptr);
  EXPECT_FALSE(context->PreProcessing(&frame));
  EXPECT_FALSE(context->PostProcessing(&frame));
}

TEST(RenderPassStack, NestedPassesRestoreTheOuterOneAndResetLeavesTheStack) {
  testkit::UseSharedContext();
  if (::testing::Test::HasFatalFailure()) return;
  TOwned<testkit::TProbeContext> context(New<testkit::TProbeContext>(nullptr, 16, 16, TMultisample::None, true));
  TRenderPass a(context.get(), nullptr);
  TRenderPass b(context.get(), nullptr);
  context->BeginRenderPass(&a);
  context->BeginRenderPass(&b);
  EXPECT_EQ(context->GetCurrentRenderPass(), &b);
  context->EndRenderPass();
  EXPECT_EQ(context->GetCurrentRenderPass(), &a);
  context->ResetRenderPasses();
  EXPECT_EQ(context->GetCurrentRenderPass(), nullptr);
  context->EndRenderPass();  // pops a
  EXPECT_EQ(context->GetCurrentRenderPass(), nullptr);
  // An unbalanced end is harmless.
  context->EndRenderPass();
  EXPECT_EQ(context->GetCurrentRenderPass(), nullptr);
}

}  // namespace
}  // namespace quorvel
