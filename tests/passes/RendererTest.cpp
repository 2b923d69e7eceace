// Renderers on their own: how they size themselves from their owner, when a resize rebuilds
// the context, what a failing context creation says, and that a phase whose scene begin is
// refused leaves the GL state as it found it.
#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <string>

#include "framework/rtl/SysUtils.h"
#include "lib/context/ContextTexturing.h"
#include "lib/context/windows/ContextGLESWindows.h"
#include "tests/passes/PassTestSupport.h"

namespace quorvel {
namespace {

using testkit::TCountingPass;
using testkit::TViewportTest;

// A texture context whose scene begin can be refused, as an invalid or lost context refuses it.
class TRefusingContext : public TContextOpenGLWindows {
public:
  using TContextOpenGLWindows::TContextOpenGLWindows;
  bool AllowBegin = true;

protected:
  bool CanBeginScene() override { return AllowBegin; }
};

// Counts what a context rebuild makes; each step can be made to fail.
template <class R>
class TProbeRenderer : public R {
public:
  using R::R;
  int Textures = 0, Resources = 0;
  bool FailRelease = false, NoTexture = false, Refusing = false;
  TRefusingContext* Context() const { return dynamic_cast<TRefusingContext*>(this->FSharedContext); }

protected:
  void RecreateContext() override {
    R::RecreateContext();
    if (!Refusing || !this->FCompositeTexture) return;
    FreeAndNil(this->FSharedContext);
    this->FSharedContext = New<TRefusingContext>(this->FCompositeTexture->GetTexture(), this->FMultisample, true);
  }
  TTexture* CreateCompositeTexture() override {
    ++Textures;
    return NoTexture ? nullptr : R::CreateCompositeTexture();
  }
  void CreateResources() override {
    ++Resources;
    R::CreateResources();
  }
  void ReleaseResources(bool ADestroying) override {
    if (FailRelease && !ADestroying) throw Exception("resources still in use");
    R::ReleaseResources(ADestroying);
  }
};

using TLegacyProbe = TProbeRenderer<TLegacyRenderer>;
using TForwardProbe = TProbeRenderer<TForwardRenderer>;

class RendererTest : public TViewportTest {};

TEST_F(RendererTest, OwnersSizeTheRendererAndOnlyTheirKindsMakeAContextAtOnce) {
  // A viewport: its size unscaled and its scale.
  TOwned<TLegacyProbe> byViewport(New<TLegacyProbe>("v", Viewport, TRendererFlags{}, nullptr));
  EXPECT_EQ(byViewport->GetSize(), TPoint(W, H));
  EXPECT_EQ(byViewport->GetScale(), Viewport->GetViewportScale());
  ASSERT_NE(byViewport->GetSharedContext(), nullptr);
  EXPECT_EQ(byViewport->GetSharedContext()->GetWidth(), W);
  EXPECT_EQ(byViewport->GetSharedContext()->GetHeight(), H);
  EXPECT_EQ(byViewport->Textures, 1);
  EXPECT_EQ(byViewport->Resources, 0) << "resources come with the first resize, not the constructor";

  // A pass controller: its own size and scale.
  TOwned<TCountingPass> pass(New<TCountingPass>(nullptr, "alone"));
  pass->SetViewportSize(TPoint(96, 32));
  pass->SetViewportScale(2);
  TOwned<TLegacyProbe> byPass(New<TLegacyProbe>("p", pass.get(), TRendererFlags{}, nullptr));
  EXPECT_EQ(byPass->GetSize(), TPoint(96, 32));
  EXPECT_EQ(byPass->GetScale(), 2.0f);
  ASSERT_NE(byPass->GetSharedContext(), nullptr);
  EXPECT_EQ(byPass->GetSharedContext()->GetWidth(), 96);
  EXPECT_EQ(byPass->GetSharedContext()->GetScale(), 2.0f);
  EXPECT_EQ(byPass->GetRenderTargets(), TRenderTargets{TRenderTarget::Color_0});
  EXPECT_EQ(byPass->GetMultisample(), TMultisample::TwoSamples);

  // Anything else: the defaults, and nothing to draw into until a resize.
  for (TComponent* owner : {static_cast<TComponent*>(nullptr), static_cast<TComponent*>(Form.get())}) {
    TOwned<TForwardProbe> plain(New<TForwardProbe>("x", owner, TRendererFlags{}, nullptr));
    EXPECT_EQ(plain->GetSize(), TPoint(64, 64));
    EXPECT_EQ(plain->GetScale(), 1.0f);
    EXPECT_EQ(plain->GetSharedContext(), nullptr);
    EXPECT_EQ(plain->GetCompositeTexture(), nullptr);
    EXPECT_EQ(plain->GetDefaultFrameBuf(), nullptr);
    EXPECT_FALSE(plain->BeginOpaqueRendering());
    EXPECT_FALSE(plain->BeginTranslucentRendering());
    plain->EndOpaqueRendering();
    plain->EndTranslucentRendering();
    plain->Apply();
    plain->Reset();
    EXPECT_EQ(TContext3D::GlobalBeginSceneCount(), 0);
    plain->Resize(TPoint(32, 16), 1);
    ASSERT_NE(plain->GetSharedContext(), nullptr);
    EXPECT_EQ(plain->GetSharedContext()->GetWidth(), 32);
    EXPECT_EQ(plain->GetSharedContext()->GetHeight(), 16);
    EXPECT_EQ(plain->Resources, 1);
  }
}

TEST_F(RendererTest, OnlyADifferentSizeOrScaleRebuildsContextTextureAndResources) {
  TOwned<TCountingPass> pass(New<TCountingPass>(nullptr, "alone"));
  pass->SetViewportSize(TPoint(40, 24));
  pass->SetViewportScale(2);
  TOwned<TForwardProbe> r(New<TForwardProbe>("p", pass.get(), TRendererFlags{}, nullptr));
  r->Resize(TPoint(40, 24), 2);
  EXPECT_EQ(r->Textures, 1) << "the same size and scale keep the context";
  EXPECT_EQ(r->Resources, 0);
  TContext3D* context = r->GetSharedContext();
  TQuorvelTextureBitmap* texture = r->GetCompositeTexture();

  struct TStep {
    const char* Name;
    std::function<void(TForwardProbe&)> Do;
    bool Rebuilds;
    TPoint Size;
    float Scale;
  };
  const TStep steps[] = {
      {"new size", [](auto& x) { x.Resize(TPoint(48, 24), 2); }, true, {48, 24}, 2},
      {"same again", [](auto& x) { x.Resize(TPoint(48, 24), 2); }, false, {48, 24}, 2},
      {"new scale", [](auto& x) { x.SetScale(1); }, true, {48, 24}, 1},
      {"same scale", [](auto& x) { x.SetScale(1); }, false, {48, 24}, 1},
      {"same size", [](auto& x) { x.SetSize(TPoint(48, 24)); }, false, {48, 24}, 1},
      {"new height", [](auto& x) { x.SetSize(TPoint(48, 20)); }, true, {48, 20}, 1},
      {"colour only", [](auto& x) { x.SetColor(TAlphaColorF(1, 0, 0, 1)); }, false, {48, 20}, 1},
  };
  for (const TStep& step : steps) {
    SCOPED_TRACE(step.Name);
    const int textures = r->Textures, resources = r->Resources;
    step.Do(*r);
    EXPECT_EQ(r->Textures - textures, step.Rebuilds ? 1 : 0);
    EXPECT_EQ(r->Resources - resources, step.Rebuilds ? 1 : 0);
    if (!step.Rebuilds) {
      EXPECT_EQ(r->GetSharedContext(), context);
      EXPECT_EQ(r->GetCompositeTexture(), texture);
    }
    context = r->GetSharedContext();
    texture = r->GetCompositeTexture();
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(r->GetSize(), step.Size);
    EXPECT_EQ(r->GetScale(), step.Scale);
    EXPECT_EQ(context->GetWidth(), step.Size.X);
    EXPECT_EQ(context->GetHeight(), step.Size.Y);
    EXPECT_EQ(context->GetScale(), step.Scale);
    EXPECT_EQ(context->GetTexture(), texture->GetTexture());
    EXPECT_NE(r->GetAlbedoTexture(), nullptr) << "the targets exist after every resize";
  }
}

TEST_F(RendererTest, ASuppliedCompositeTextureIsTheContextsTarget) {
  TQuorvelTextureBitmap* supplied = nullptr;
  int calls = 0;
  auto supply = [&](TObject* ASender, TPoint ASize, float AScale, TQuorvelTextureBitmap*& ATexture) {
    ++calls;
    EXPECT_EQ(ASize, TPoint(20, 10));
    EXPECT_EQ(AScale, 1.0f);
    supplied = TQuorvelTextureBitmap::Create();
    supplied->BeginSetup();
    supplied->SetStyle({TTextureStyle::RenderTarget});
    supplied->SetSize(ASize.X, ASize.Y);
    supplied->EndSetup();
    ATexture = supplied;
  };
  TOwned<TLegacyRenderer> r(New<TLegacyRenderer>("s", nullptr, TRendererFlags{}, supply));
  r->Resize(TPoint(20, 10), 1);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(r->GetCompositeTexture(), supplied);
  ASSERT_NE(r->GetSharedContext(), nullptr);
  EXPECT_EQ(r->GetSharedContext()->GetTexture(), supplied->GetTexture());
}

TEST_F(RendererTest, EachFailingCreationStepSaysWhichAndARetryRecovers) {
  const std::string nilTexture = "TContext3D.CreateFromTexture: no texture";
  struct TCase {
    const char* Name;
    std::function<void(TLegacyProbe&)> Break, Mend;
    std::string Message;
  };
  bool throwing = false;
  const TCase cases[] = {
      {"release", [](auto& r) { r.FailRelease = true; }, [](auto& r) { r.FailRelease = false; },
       "Failed to destroy renderer context, before creating a new one - resources still in use"},
      {"texture", [&](auto&) { throwing = true; }, [&](auto&) { throwing = false; },
       "Failed to create renderer composite texture - no texture today"},
      {"context", [](auto& r) { r.NoTexture = true; }, [](auto& r) { r.NoTexture = false; },
       "Failed to create renderer context - " + nilTexture},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    auto maybeThrow = [&](TObject*, TPoint, float, TQuorvelTextureBitmap*&) {
      if (throwing) throw Exception("no texture today");
    };
    TOwned<TLegacyProbe> r(New<TLegacyProbe>("e", Viewport, TRendererFlags{}, maybeThrow));
    ASSERT_NE(r->GetSharedContext(), nullptr);
    c.Break(*r);
    try {
      r->Resize(TPoint(30, 20), 1);
      ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
      EXPECT_EQ(std::string(e.what()), c.Message);
    }
    EXPECT_EQ(TContext3D::GlobalBeginSceneCount(), 0);
    // Whatever is left answers the phases without drawing or raising.
    if (r->BeginOpaqueRendering()) r->EndOpaqueRendering();
    EXPECT_EQ(TContext3D::GlobalBeginSceneCount(), 0);
    c.Mend(*r);
    r->Resize(TPoint(30, 20), 1);
    ASSERT_NE(r->GetSharedContext(), nullptr);
    EXPECT_EQ(r->GetSharedContext()->GetWidth(), 30);
    ASSERT_TRUE(r->BeginOpaqueRendering());
    r->EndOpaqueRendering();
  }
}

struct TGLBindings {
  GLint Draw = 0, Read = 0, Program = 0, Renderbuffer = 0;
  GLboolean Blend0 = GL_FALSE;
  static TGLBindings Now() {
    TGLBindings b;
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &b.Draw);
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &b.Read);
    glGetIntegerv(GL_CURRENT_PROGRAM, &b.Program);
    glGetIntegerv(GL_RENDERBUFFER_BINDING, &b.Renderbuffer);
    b.Blend0 = glIsEnabledi(GL_BLEND, 0);
    return b;
  }
  bool operator==(const TGLBindings&) const = default;
};

void PrintTo(const TGLBindings& b, std::ostream* os) {
  *os << "draw " << b.Draw << " read " << b.Read << " program " << b.Program << " renderbuffer " << b.Renderbuffer
      << " blend " << int(b.Blend0);
}

template <class R>
void ExpectRefusedPhasesLeaveNothingBound(TQuorvelViewport* AViewport) {
  TOwned<R> r(New<R>("refusing", AViewport, TRendererFlags{}, nullptr));
  r->Refusing = true;
  r->Resize(TPoint(24, 16), 1);
  r->Apply();
  TRefusingContext* ctx = r->Context();
  ASSERT_NE(ctx, nullptr);
  struct TPhase {
    const char* Name;
    bool (TRenderer::*Begin)();
    void (TRenderer::*End)();
  };
  const TPhase phases[] = {{"opaque", &TRenderer::BeginOpaqueRendering, &TRenderer::EndOpaqueRendering},
                           {"translucent", &TRenderer::BeginTranslucentRendering, &TRenderer::EndTranslucentRendering}};
  for (const TPhase& phase : phases) {
    SCOPED_TRACE(phase.Name);
    const TGLBindings before = TGLBindings::Now();
    ctx->AllowBegin = false;
    EXPECT_FALSE((r.get()->*phase.Begin)());
    EXPECT_EQ(TGLBindings::Now(), before);
    EXPECT_TRUE(ctx->GetFBOStack().empty());
    EXPECT_EQ(ctx->GetBeginSceneCount(), 0);
    EXPECT_EQ(TContext3D::GlobalBeginSceneCount(), 0);
    EXPECT_EQ(TContext3D::CurrentSceneContext(), nullptr);
    EXPECT_FALSE(ctx->IsTranslucentRendering());
    // The canvas lock is free again: another scene can begin and end.
    ctx->AllowBegin = true;
    ASSERT_TRUE((r.get()->*phase.Begin)());
    EXPECT_NE(TGLBindings::Now().Draw, before.Draw) << "an accepted begin draws into the renderer";
    (r.get()->*phase.End)();
    EXPECT_EQ(TGLBindings::Now().Draw, before.Draw);
    EXPECT_TRUE(ctx->GetFBOStack().empty());
    EXPECT_EQ(TContext3D::GlobalBeginSceneCount(), 0);
    EXPECT_FALSE(ctx->IsTranslucentRendering());
  }
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(RendererTest, ARefusedPhaseBeginLeavesNothingBoundOnTheLegacyRenderer) {
  ExpectRefusedPhasesLeaveNothingBound<TLegacyProbe>(Viewport);
}

TEST_F(RendererTest, ARefusedPhaseBeginLeavesNothingBoundOnTheForwardRenderer) {
  ExpectRefusedPhasesLeaveNothingBound<TForwardProbe>(Viewport);
}

TEST_F(RendererTest, ARefusedMainPassBeginLeavesNoSceneOpen) {
  TOwned<TLegacyProbe> r(New<TLegacyProbe>("refusing", Viewport, TRendererFlags{}, nullptr));
  r->Refusing = true;
  r->Resize(TPoint(24, 16), 1);
  const TGLBindings before = TGLBindings::Now();
  r->Context()->AllowBegin = false;
  r->BeginMainRenderPass(TMatrix3D::Identity(), 45);
  EXPECT_EQ(r->Context()->GetBeginSceneCount(), 0);
  r->EndMainRenderPass();
  EXPECT_EQ(TContext3D::GlobalBeginSceneCount(), 0);
  EXPECT_EQ(TGLBindings::Now(), before);
}

}  // namespace
}  // namespace quorvel
