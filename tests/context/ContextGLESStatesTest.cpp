#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <array>

#include "framework/rtl/Log.h"
#include "tests/context/ContextTestFixture.h"

namespace quorvel {
namespace {

using testkit::GLEnabled;
using testkit::GLInt;
using testkit::TFakeGLErrors;
using testkit::TSharedGLTest;
using S = TContextState;

// Every state the set can touch, back to GL's defaults.
void ResetGLStates() {
  glDisable(GL_DEPTH_TEST);
  glDepthFunc(GL_LESS);
  glDepthMask(GL_TRUE);
  glDisable(GL_BLEND);
  glDisable(GL_STENCIL_TEST);
  glColorMask(1, 1, 1, 1);
  glDisable(GL_SCISSOR_TEST);
  glDisable(GL_CULL_FACE);
  glCullFace(GL_BACK);
  glFrontFace(GL_CCW);
  glUseProgram(0);
}

TRGBA8 Rgba(uint8_t R, uint8_t G, uint8_t B, uint8_t A = 255) { return {R, G, B, A}; }

using ContextStates = TSharedGLTest;

TEST_F(ContextStates, StateSetsReachGLWithTheOffMemberWinning) {
  struct TCase {
    const char* Name;
    TFwContextStates States;
    void (*Check)();
  };
  const TCase cases[] = {
      {"depth test on", {S::csZTestOn},
       [] {
         EXPECT_TRUE(GLEnabled(GL_DEPTH_TEST));
         EXPECT_EQ(GLInt(GL_DEPTH_FUNC), GL_LEQUAL);
       }},
      {"depth test on+off", {S::csZTestOn, S::csZTestOff}, [] { EXPECT_FALSE(GLEnabled(GL_DEPTH_TEST)); }},
      {"depth write on+off", {S::csZWriteOn, S::csZWriteOff}, [] { EXPECT_EQ(GLInt(GL_DEPTH_WRITEMASK), GL_FALSE); }},
      {"blend on", {S::csAlphaBlendOn}, [] { EXPECT_TRUE(GLEnabled(GL_BLEND)); }},
      {"blend on+off", {S::csAlphaBlendOn, S::csAlphaBlendOff}, [] { EXPECT_FALSE(GLEnabled(GL_BLEND)); }},
      {"stencil on", {S::csStencilOn}, [] { EXPECT_TRUE(GLEnabled(GL_STENCIL_TEST)); }},
      {"colour write off",
       {S::csColorWriteOff, S::csColorWriteOn},
       [] {
         GLboolean mask[4];
         glGetBooleanv(GL_COLOR_WRITEMASK, mask);
         EXPECT_EQ(mask[0] | mask[1] | mask[2] | mask[3], GL_FALSE);
       }},
      {"scissor on", {S::csScissorOn}, [] { EXPECT_TRUE(GLEnabled(GL_SCISSOR_TEST)); }},
      {"front+back face culls back faces",
       {S::csFrontFace, S::csBackFace},
       [] {
         EXPECT_TRUE(GLEnabled(GL_CULL_FACE));
         EXPECT_EQ(GLInt(GL_CULL_FACE_MODE), GL_BACK);
         EXPECT_EQ(GLInt(GL_FRONT_FACE), GL_CW);
       }},
      {"all+back face culls front faces",
       {S::csAllFace, S::csBackFace},
       [] {
         EXPECT_TRUE(GLEnabled(GL_CULL_FACE));
         EXPECT_EQ(GLInt(GL_CULL_FACE_MODE), GL_FRONT);
       }},
      {"all faces", {S::csAllFace}, [] { EXPECT_FALSE(GLEnabled(GL_CULL_FACE)); }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    ResetGLStates();
    if (c.States.Contains(S::csAllFace)) glEnable(GL_CULL_FACE);
    TContext3D::ResetCurrentStates();
    Context->SetContextStates(c.States);
    c.Check();
    // Absent members stay untouched: the set leaves the rest at GL's defaults.
    if (!c.States.Contains(S::csScissorOn)) {
      EXPECT_FALSE(GLEnabled(GL_SCISSOR_TEST));
    }
  }
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(ContextStates, SingleStatesReachGLOnlyOutsideAStateSet) {
  ResetGLStates();
  Context->RaiseSetCount(1);
  Context->SetContextState(S::csZTestOn);
  EXPECT_FALSE(GLEnabled(GL_DEPTH_TEST));
  Context->RaiseSetCount(-1);
  TContext3D::ResetCurrentStates();
  Context->SetContextState(S::csZTestOn);
  EXPECT_TRUE(GLEnabled(GL_DEPTH_TEST));
  Context->SetContextState(S::csFrontFace);
  EXPECT_EQ(GLInt(GL_CULL_FACE_MODE), GL_BACK);
  EXPECT_EQ(Context->SetCount(), 0);
  // The empty set still applies (nothing).
  const int before = Context->SetStatesCalls;
  Context->SetContextStates({});
  EXPECT_EQ(Context->SetStatesCalls, before + 1);
}

TEST_F(ContextStates, ClearsReadBackFromTheFrameBuffer) {
  ResetGLStates();
  glDepthMask(GL_FALSE);  // a clear must open and restore it
  Context->Clear({TClearTarget::Color, TClearTarget::Depth, TClearTarget::Stencil}, MakeAlphaColor(0x80402010),
                 0.25f, 0x5A);
  EXPECT_TRUE(NearColor(Target->Pixel(3, 3), Rgba(0x40, 0x20, 0x10, 0x80)));
  float depth = 0;
  glReadPixels(3, 3, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
  EXPECT_NEAR(depth, 0.25f, 1e-4f);
  uint8_t stencil = 0;
  glReadPixels(3, 3, 1, 1, GL_STENCIL_INDEX, GL_UNSIGNED_BYTE, &stencil);
  EXPECT_EQ(stencil, 0x5A);
  EXPECT_EQ(GLInt(GL_DEPTH_WRITEMASK), GL_FALSE);

  // Extended clear: Color_0, depth and stencil; other colour targets are ignored.
  Context->ClearEx({TRenderTarget::Color_0, TRenderTarget::Depth, TRenderTarget::Color_3}, MakeAlphaColor(0xFF00FF00),
                   0.75f, 0);
  EXPECT_TRUE(NearColor(Target->Pixel(0, 0), Rgba(0, 255, 0)));
  glReadPixels(3, 3, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
  EXPECT_NEAR(depth, 0.75f, 1e-4f);
  glReadPixels(3, 3, 1, 1, GL_STENCIL_INDEX, GL_UNSIGNED_BYTE, &stencil);
  EXPECT_EQ(stencil, 0x5A);  // not asked for
  EXPECT_EQ(GLInt(GL_DEPTH_WRITEMASK), GL_FALSE);

  const float red[4] = {1, 0, 0, 1};
  Context->ClearBufferFloat(0, red);
  EXPECT_TRUE(NearColor(Target->Pixel(15, 15), Rgba(255, 0, 0)));
  glDepthMask(GL_TRUE);
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(ContextStates, ClearsWithoutDepthStencilOrTargetsLeaveThoseAlone) {
  TOwned<testkit::TProbeContext> plain(New<testkit::TProbeContext>(nullptr, 16, 16, TMultisample::None, false));
  Context->Clear({TClearTarget::Color, TClearTarget::Depth}, MakeAlphaColor(0xFF0000FF), 0.5f, 0);
  plain->Clear({TClearTarget::Color, TClearTarget::Depth}, MakeAlphaColor(0xFFFF0000), 1.0f, 0);
  EXPECT_TRUE(NearColor(Target->Pixel(1, 1), Rgba(255, 0, 0)));
  float depth = 0;
  glReadPixels(1, 1, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
  EXPECT_NEAR(depth, 0.5f, 1e-4f);  // the plain context has no depth buffer to clear
  Context->Clear({}, MakeAlphaColor(0xFFFFFFFF), 1.0f, 0);
  EXPECT_TRUE(NearColor(Target->Pixel(1, 1), Rgba(255, 0, 0)));
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(ContextStates, ClearErrorsRaiseTheirMessages) {
  glDepthMask(GL_FALSE);
  {
    TFakeGLErrors fake;
    TFakeGLErrors::Queue = {GL_INVALID_OPERATION};
    TLogCapture log;
    try {
      Context->Clear({TClearTarget::Depth}, MakeAlphaColor(0), 1.0f, 0);
      ADD_FAILURE();
    } catch (const EContext3DException& e) {
      EXPECT_EQ(e.Message(), "Fehler im Kontext: Methode='DoClear (Error = 1282)'.");
    }
    // The failed clear left the depth mask open.
    EXPECT_EQ(GLInt(GL_DEPTH_WRITEMASK), GL_TRUE);
    TFakeGLErrors::Queue = {GL_INVALID_VALUE};
    try {
      Context->ClearEx({TRenderTarget::Color_0}, MakeAlphaColor(0), 1.0f, 0);
      ADD_FAILURE();
    } catch (const EContext3DException& e) {
      EXPECT_EQ(e.Message(), "error in context method \"DoClearEx\" (error = 1281)");
    }
    EXPECT_TRUE(log.Contains("[Context Exception]: error in context method"));
  }
}

TEST_F(ContextStates, StencilOperationsAndFunctionsReachGL) {
  struct TOpCase {
    TStencilOp Op;
    GLint GL;
  };
  const TOpCase ops[] = {{TStencilOp::Keep, GL_KEEP},       {TStencilOp::Zero, GL_ZERO},
                         {TStencilOp::Replace, GL_REPLACE}, {TStencilOp::Increase, GL_INCR},
                         {TStencilOp::Decrease, GL_DECR},   {TStencilOp::Invert, GL_INVERT},
                         {TStencilOp(42), GL_INVERT}};
  for (const TOpCase& c : ops) {
    Context->SetStencilOp(TStencilOp::Keep, c.Op, TStencilOp::Zero);
    EXPECT_EQ(GLInt(GL_STENCIL_PASS_DEPTH_FAIL), c.GL) << int(c.Op);
    EXPECT_EQ(GLInt(GL_STENCIL_FAIL), GL_KEEP);
    EXPECT_EQ(GLInt(GL_STENCIL_PASS_DEPTH_PASS), GL_ZERO);
  }
  const std::pair<TStencilFunc, GLint> funcs[] = {
      {TStencilFunc::Never, GL_NEVER},     {TStencilFunc::Less, GL_LESS},     {TStencilFunc::Lequal, GL_LEQUAL},
      {TStencilFunc::Greater, GL_GREATER}, {TStencilFunc::Gequal, GL_GEQUAL}, {TStencilFunc::Equal, GL_EQUAL},
      {TStencilFunc::NotEqual, GL_NOTEQUAL}, {TStencilFunc::Always, GL_ALWAYS}, {TStencilFunc(99), GL_ALWAYS}};
  for (const auto& [func, gl] : funcs) {
    Context->SetStencilFunc(func, 3, 0x0F);
    EXPECT_EQ(GLInt(GL_STENCIL_FUNC), gl);
    EXPECT_EQ(GLInt(GL_STENCIL_REF), 3);
    EXPECT_EQ(GLInt(GL_STENCIL_VALUE_MASK), 0x0F);
  }
  EXPECT_EQ(StencilOpExToGL(TStencilOpEx(50)), uint32_t(GL_KEEP));
  EXPECT_EQ(StencilOpExToGL(TStencilOpEx::IncreaseWrap), uint32_t(GL_INCR_WRAP));
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(ContextStates, TwoSidedStencilTreatsFrontAndBackFacesApart) {
  ResetGLStates();
  Context->Clear({TClearTarget::Stencil}, MakeAlphaColor(0), 1.0f, 0);
  glEnable(GL_STENCIL_TEST);
  glStencilFunc(GL_ALWAYS, 0, 0xFF);
  // Front faces increment, back faces invert.
  Context->SetTwoSidedRendering(TStencilOpEx::Keep, TStencilOpEx::Keep, TStencilOpEx::Increase, TStencilOpEx::Keep,
                                TStencilOpEx::Keep, TStencilOpEx::Invert, 0xFF, 0xFF);
  uint8_t stencil = 0;
  // The screen rectangle winds counter-clockwise on screen: a front face by default.
  Context->DrawScreenRectangle(MakeAlphaColor(0xFFFFFFFF));
  glReadPixels(5, 5, 1, 1, GL_STENCIL_INDEX, GL_UNSIGNED_BYTE, &stencil);
  EXPECT_EQ(stencil, 1);
  glFrontFace(GL_CW);
  Context->DrawScreenRectangle(MakeAlphaColor(0xFFFFFFFF));
  glReadPixels(5, 5, 1, 1, GL_STENCIL_INDEX, GL_UNSIGNED_BYTE, &stencil);
  EXPECT_EQ(stencil, 0xFE);
  glDisable(GL_STENCIL_TEST_TWO_SIDE_EXT);
  glActiveStencilFaceEXT(GL_FRONT);
  glStencilOp(GL_KEEP, GL_KEEP, GL_KEEP);
  ResetGLStates();
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(ContextStates, GlobalBlendingBlendsTheScreenRectangle) {
  EXPECT_EQ(Context->GetGlobalBlending(), TBlendSetting::CreateForFramework());
  ResetGLStates();
  Context->Clear({TClearTarget::Color}, MakeAlphaColor(0xFF0000FF), 1.0f, 0);
  using F = TBlendFactor;
  Context->SetGlobalBlending(TBlendSetting::Create(true, TBlendEquationFunc::befAdd, F::bfSrcAlpha,
                                                   F::bfOneMinusSrcAlpha, F::bfOne, F::bfZero));
  EXPECT_TRUE(GLEnabled(GL_BLEND));
  EXPECT_EQ(GLInt(GL_BLEND_SRC_RGB), GL_SRC_ALPHA);
  EXPECT_EQ(GLInt(GL_BLEND_DST_RGB), GL_ONE_MINUS_SRC_ALPHA);
  EXPECT_EQ(GLInt(GL_BLEND_DST_ALPHA), GL_ZERO);
  Context->DrawScreenRectangle(TAlphaColorF(1, 0, 0, 0.5f));
  EXPECT_TRUE(NearColor(Target->Pixel(8, 8), Rgba(128, 0, 128, 128))) << int(Target->Pixel(8, 8).R);

  // A disabled setting still sets the equations and factors.
  Context->SetGlobalBlending(TBlendSetting::Create(false, TBlendEquationFunc::befMax, F::bfDstColor, F::bfZero));
  EXPECT_FALSE(GLEnabled(GL_BLEND));
  EXPECT_EQ(GLInt(GL_BLEND_EQUATION_RGB), GL_MAX);
  EXPECT_EQ(GLInt(GL_BLEND_SRC_ALPHA), GL_DST_COLOR);
  EXPECT_FALSE(Context->GetBlendings()[0].Enabled);
  ResetGLStates();
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(ContextStates, BlendTableFollowsTheDrawBufferMaximum) {
  const int32_t n = TQuorvelContextOpenGLES::BlendingBufferLimit();
  ASSERT_GT(n, 1);
  using F = TBlendFactor;
  const TBlendSetting add = TBlendSetting::Create(true, TBlendEquationFunc::befSubtract, F::bfSrcColor, F::bfOne);
  Context->SetBlendingByIndex(1, add);
  EXPECT_TRUE(glIsEnabledi(GL_BLEND, 1));
  GLint value = 0;
  glGetIntegeri_v(GL_BLEND_EQUATION_RGB, 1, &value);
  EXPECT_EQ(value, GL_FUNC_SUBTRACT);
  glGetIntegeri_v(GL_BLEND_SRC_RGB, 1, &value);
  EXPECT_EQ(value, GL_SRC_COLOR);
  EXPECT_EQ(Context->GetBlendingByIndex(1), add);

  // At or above the maximum: a disabled default is stored and GL is not touched.
  Context->SetBlendingByIndex(uint32_t(n), add);
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
  EXPECT_EQ(Context->GetBlendings()[size_t(n)], TBlendSetting::Create(false));
  EXPECT_EQ(Context->GetBlendingByIndex(uint32_t(n)), TBlendSetting::Create(false));

  Context->EnableBlendingBuffers();
  const TBlendSettings table = Context->GetBlendings();
  for (int32_t i = 0; i < BlendingBufferCount; ++i)
    EXPECT_EQ(table[size_t(i)], i < n ? TBlendSetting::Create(true) : TBlendSetting{}) << i;
  EXPECT_TRUE(GLEnabled(GL_BLEND));

  Context->DisableBlendingBuffers();
  EXPECT_FALSE(GLEnabled(GL_BLEND));
  EXPECT_FALSE(glIsEnabledi(GL_BLEND, 1));

  // Before a GL context has reported its maximum, every entry answers the disabled default.
  const int32_t saved = ContextMaxDrawBuffers;
  ContextMaxDrawBuffers = 0;
  Context->SetBlendingByIndex(0, add);
  EXPECT_EQ(Context->GetBlendingByIndex(0), TBlendSetting::Create(false));
  ContextMaxDrawBuffers = saved;
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(ContextStates, OffsetSmoothingAndPointSpritesReachGL) {
  Context->SetPolygonOffsetFill(TPolygonOffsetFill::pofOffsetFillOn, 2.0f, 3.0f);
  EXPECT_TRUE(GLEnabled(GL_POLYGON_OFFSET_FILL));
  float v = 0;
  glGetFloatv(GL_POLYGON_OFFSET_FACTOR, &v);
  EXPECT_FLOAT_EQ(v, 2.0f);
  Context->SetPolygonOffsetFill(TPolygonOffsetFill::pofOffsetFillOff, 0, 0);
  EXPECT_FALSE(GLEnabled(GL_POLYGON_OFFSET_FILL));

  Context->SetSmoothMode({TSmoothTargets{TSmoothTarget::stLines}});
  EXPECT_FALSE(GLEnabled(GL_POINT_SMOOTH));
  EXPECT_TRUE(GLEnabled(GL_LINE_SMOOTH));
  EXPECT_FALSE(GLEnabled(GL_POLYGON_SMOOTH));
  EXPECT_EQ(Context->GetSmoothTargets(), TSmoothTargets{TSmoothTarget::stLines});
  Context->SetSmoothMode({});
  EXPECT_FALSE(GLEnabled(GL_LINE_SMOOTH));

  Context->SetPointSprites(true);
  EXPECT_TRUE(GLEnabled(GL_PROGRAM_POINT_SIZE));
  EXPECT_TRUE(GLEnabled(GL_POINT_SPRITE));
  EXPECT_EQ(GLInt(GL_POINT_SPRITE_COORD_ORIGIN), GL_UPPER_LEFT);
  glGetFloatv(GL_POINT_SIZE_MAX, &v);
  EXPECT_FLOAT_EQ(v, 512.0f);
  glGetFloatv(GL_POINT_FADE_THRESHOLD_SIZE, &v);
  EXPECT_FLOAT_EQ(v, 5.0f);
  Context->SetPointSprites(false);
  EXPECT_FALSE(GLEnabled(GL_POINT_SPRITE));
  glDisable(GL_PROGRAM_POINT_SIZE);
  glPointParameteri(GL_POINT_SPRITE_COORD_ORIGIN, GL_UPPER_LEFT);
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(ContextStates, ViewportOrthoShadingAndBarriers) {
  Context->SetContextSize(1, 2, 10, 12);
  TQuorvelContextSize size{};
  Context->GetContextSize(size);
  EXPECT_EQ(size, (TQuorvelContextSize{1, 2, 10, 12}));
  Context->StorePreviousContextSize();
  EXPECT_EQ(Context->GetOldViewport(), (TQuorvelContextSize{1, 2, 10, 12}));
  Context->SetContextSize(TQuorvelContextSize{0, 0, 16, 16});

  // Two orthographic projections compose.
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  Context->BeginOrtho(0, 0, 2, 2, -1, 1);  // x scale 1
  Context->BeginOrtho(TOrthographicData::Create(0, 0, 4, 4, -1, 1));
  float m[16];
  glGetFloatv(GL_PROJECTION_MATRIX, m);
  EXPECT_FLOAT_EQ(m[0], 1.0f * 0.5f);
  glLoadIdentity();
  glMatrixMode(GL_MODELVIEW);

  // Scissor rectangles set through the framework have no effect.
  glScissor(1, 2, 3, 4);
  Context->SetScissorRect(TRect(5, 5, 10, 10));
  std::array<GLint, 4> box{};
  glGetIntegerv(GL_SCISSOR_BOX, box.data());
  EXPECT_EQ(box, (std::array<GLint, 4>{1, 2, 3, 4}));

  Context->SetFlatShading();
  EXPECT_EQ(GLInt(GL_SHADE_MODEL), GL_FLAT);
  Context->SetSmoothShading();
  EXPECT_EQ(GLInt(GL_SHADE_MODEL), GL_SMOOTH);

  using M = TMemoryBarrierFlag;
  EXPECT_EQ(Context->MemoryBarrierFlagToValue(M::ShaderImageAccessBarrierBit), 0x20u);
  EXPECT_EQ(Context->MemoryBarrierFlagToValue(M::ShaderStorageBarrierBit), 0x2000u);
  EXPECT_EQ(Context->MemoryBarrierFlagsToValue({}), 0u);
  EXPECT_EQ(Context->MemoryBarrierFlagsToValue({M::VertexAttribArrayBarrierBit, M::CommandBarrierBit}), 0x41u);
  Context->SetMemoryBarrierBits({M::UniformBarrierBit});
  Context->FetchMemoryBarrierBit();
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(ContextStates, ScreenRectangleFillsTheTargetWithItsColour) {
  ResetGLStates();
  Context->Clear({TClearTarget::Color}, MakeAlphaColor(0xFF000000), 1.0f, 0);
  Context->DrawScreenRectangle(MakeAlphaColor(0xFF20C040));
  for (auto [x, y] : {std::pair{0, 0}, {15, 15}, {8, 3}}) EXPECT_TRUE(NearColor(Target->Pixel(x, y), Rgba(0x20, 0xC0, 0x40)));
  // Both matrix stacks are back where they were.
  EXPECT_EQ(GLInt(GL_MATRIX_MODE), GL_MODELVIEW);
  EXPECT_EQ(GLInt(GL_PROJECTION_STACK_DEPTH), 1);
  EXPECT_EQ(GLInt(GL_MODELVIEW_STACK_DEPTH), 1);
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

}  // namespace
}  // namespace quorvel
