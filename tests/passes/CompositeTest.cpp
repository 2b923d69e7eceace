// The composite step of the forward renderer: the deferred composition from targets filled
// here, FXAA on a synthetic edge, and whole frames through a headless viewport.
#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <algorithm>
#include <cmath>

#include "framework/classes/Messages.h"
#include "lib/context/ContextBuffersFrameBuffers.h"
#include "lib/context/ContextShader.h"
#include "lib/context/ContextTexturing.h"
#include "lib/passes/ControllerPassesDeferredComposite.h"
#include "lib/passes/ControllerPassesFXAA.h"
#include "lib/passes/ControllerPassesGlobalIllumBlur.h"
#include "lib/passes/ControllerPassesGlobalIllumination.h"
#include "lib/passes/ControllerPassesVoxelize.h"
#include "lib/scene/Light.h"
#include "tests/passes/PassTestSupport.h"

namespace quorvel {
namespace {

using testkit::NearColor;
using testkit::PixelOf;
using testkit::TViewportTest;

struct TRGB {
  double R, G, B;
};

class CompositeTest : public TViewportTest {
protected:
  void SetUp() override {
    TViewportTest::SetUp();
    Renderer = testkit::UseForwardRenderer(Viewport);
    ASSERT_NE(Renderer, nullptr);
    Context = dynamic_cast<TQuorvelContext*>(Renderer->GetSharedContext());
    ASSERT_NE(Context, nullptr);
    ASSERT_NE(Renderer->GetDeferredCompositeCtrl(), nullptr);
  }
  // Fills the targets with one value each and runs the composition alone.
  void Compose(const TAlphaColorF& AAlbedo, const TAlphaColorF& AAccum, float AAlpha, const TAlphaColorF& AEmissive) {
    Renderer->SetFXAA(0);
    TFrameBufferObject* fbo = Context->GetDefaultFrameBuf();
    Context->AttachTextureToDefaultBuffer(Renderer->GetAlbedoTexture(), TRenderTarget::Color_0);
    Context->BindDefaultBuffer();
        fbo->Clear(TRenderTarget::Color_0, AAlbedo, 1, 0, true);
    fbo->Clear(TRenderTarget::Color_1, TAlphaColorF(AAlpha, 0, 0, 0), 1, 0, true);
    fbo->Clear(TRenderTarget::Color_4, AEmissive, 1, 0, true);
    Context->UnbindDefaultBuffer();
    Context->GetTranslucentBuf()->Bind(Context);
    Context->GetTranslucentBuf()->Clear(TRenderTarget::Color_0, AAccum, 1, 0, true);
    Context->GetTranslucentBuf()->Unbind(Context);
    TRenderContext frame;
    frame.Viewport = Viewport;
    Renderer->Composite(&frame);
  }
  TRGB Read(int32_t x, int32_t y) {
    TOwned<TBitmap> bitmap(New<TBitmap>(W, H));
    Context->CopyToBitmap(bitmap.get(), TRect(0, 0, W, H));
    const TAlphaColor c = PixelOf(bitmap.get(), x, y);
    auto ch = [&](int s) { return ((uint32_t(c) >> s) & 0xFF) / 255.0; };
    return {ch(16), ch(8), ch(0)};
  }
  static TRGB Saturate(TRGB c, double s) {
    const double luma = c.R * 0.2125 + c.G * 0.7154 + c.B * 0.0721;
    return {luma + (c.R - luma) * s, luma + (c.G - luma) * s, luma + (c.B - luma) * s};
  }
  static void ExpectRGB(TRGB AActual, TRGB AExpected) {
    const double tol = 2.0 / 255 + 1e-9;
    EXPECT_NEAR(AActual.R, AExpected.R, tol);
    EXPECT_NEAR(AActual.G, AExpected.G, tol);
    EXPECT_NEAR(AActual.B, AExpected.B, tol);
  }

  TForwardRenderer* Renderer = nullptr;
  TQuorvelContext* Context = nullptr;
};




TEST_F(CompositeTest, SaturationZeroAndOneKeepTheAlbedoAndAHalfMixesWithTheLuma) {
  const TRGB albedo{0.8, 0.4, 0.2};
  for (double s : {0.0, 1.0, 0.5}) {
    SCOPED_TRACE(s);
    Renderer->SetSaturation(TPoint3D(float(s), float(s), float(s)));
    Compose(TAlphaColorF(0.8f, 0.4f, 0.2f, 1), TAlphaColorF(0, 0, 0, 0), 1, TAlphaColorF(0, 0, 0, 0));
    ExpectRGB(Read(W / 2, H / 2), s == 0 ? albedo : Saturate(albedo, s));
  }
}

TEST_F(CompositeTest, TranslucencyMergesByItsCoverageAndWeightZeroKeepsTheOpaqueColour) {
  const TRGB albedo{0.8, 0.4, 0.2};
  // Accumulated (0.4, 0.2, 1.0) over a weight of 2: the average translucent colour is
  // (0.2, 0.1, 0.5); a coverage of 0.25 lays a quarter of it over the albedo.
  const TRGB average{0.2, 0.1, 0.5};
  auto merge = [](TRGB c, TRGB t, double a) {
    return TRGB{c.R * (1 - a) + t.R * a, c.G * (1 - a) + t.G * a, c.B * (1 - a) + t.B * a};
  };
  struct TCase {
    TPoint3D Saturation;
    float Weight;
    TRGB Expected;
  };
  const TCase cases[] = {
      {TPoint3D(0, 0, 0), 2, merge(albedo, average, 0.25)},
      // Translucent, then composed saturation.
      {TPoint3D(0, 0.5f, 0), 2, merge(albedo, Saturate(average, 0.5), 0.25)},
      {TPoint3D(0, 0, 0.5f), 2, Saturate(merge(albedo, average, 0.25), 0.5)},
      {TPoint3D(0.5f, 0.5f, 0.5f), 2, Saturate(merge(Saturate(albedo, 0.5), Saturate(average, 0.5), 0.25), 0.5)},
      // No weight: the opaque colour, however much was accumulated and covered; the
      // composed saturation belongs to the merge and stays away too.
      {TPoint3D(0, 0, 0), 0, albedo},
      {TPoint3D(0, 0, 0.5f), 0, albedo},
      {TPoint3D(0.5f, 0, 0), 0, Saturate(albedo, 0.5)},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.Saturation.X << "," << c.Saturation.Y << "," << c.Saturation.Z
                                      << " weight " << c.Weight);
    Renderer->SetSaturation(c.Saturation);
    Compose(TAlphaColorF(0.8f, 0.4f, 0.2f, 1), TAlphaColorF(0.4f, 0.2f, 1.0f, c.Weight), c.Weight > 0 ? 0.25f : 1.0f,
            TAlphaColorF(0, 0, 0, 0));
    ExpectRGB(Read(W / 2, H / 2), c.Expected);
  }
}

TEST_F(CompositeTest, TheEmissiveTargetCountsOnlyWithAnEmissiveBlur) {
  const TAlphaColorF emissive(0.4f, 0.2f, 0, 1);
  Renderer->SetEmissiveBlur(0);
  Compose(TAlphaColorF(0.2f, 0.4f, 0.2f, 1), TAlphaColorF(0, 0, 0, 0), 0, emissive);
  ExpectRGB(Read(W / 2, H / 2), {0.2, 0.4, 0.2});
  // With a blur the emissive blur pass's radial blur of the flat target is added: each
  // channel tone-mapped (ACES of c * 257 / 241) and gamma-corrected.
  Renderer->SetEmissiveBlur(3);
  Compose(TAlphaColorF(0.2f, 0.4f, 0.2f, 1), TAlphaColorF(0, 0, 0, 0), 0, emissive);
  const auto blurred = [](double c) {
    const double x = c * 257 / 241;
    return std::pow(x * (2.51 * x + 0.03) / (x * (2.43 * x + 0.59) + 0.14), 1 / 2.2);
  };
  ExpectRGB(Read(W / 2, H / 2), {0.2 + blurred(0.4), 0.4 + blurred(0.2), 0.2});
}

TEST_F(CompositeTest, TheShaderBlockHasTheRecordsLayoutAndTakesTheFirstEightEnabledLights) {
  TDeferredCompositeMaterial* material = Renderer->GetDeferredCompositeCtrl()->Material();
  ASSERT_NE(material, nullptr);
  Context->ClearLights();
  for (int i = 0; i < 10; ++i) {
    TQuorvelShaderLight light;
    light.Enabled = i == 3 ? 0 : 1;  // the fourth is off
    light.Intensity = float(i);
    Context->AddLight(light);
  }
  ASSERT_TRUE(Context->BeginSceneRendering());
  material->Apply(Context);
  const TCompositeShaderData& data = material->GetShaderData();
  EXPECT_EQ(data.NumberOfLights, 8);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(data.Lights[i].Intensity, float(i < 3 ? i : i + 1)) << i;
  EXPECT_FLOAT_EQ(data.ShadowLimit, 0.1f);
  EXPECT_FLOAT_EQ(data.Reflection, 1.0f);
  EXPECT_EQ(data.GlobalIllum, 0);

  // GL's own layout of the block.
  GLint program = 0;
  glGetIntegerv(GL_CURRENT_PROGRAM, &program);
  ASSERT_NE(program, 0);
  const GLuint block = glGetUniformBlockIndex(GLuint(program), "CompositeShaderData");
  ASSERT_NE(block, GL_INVALID_INDEX);
  GLint size = 0;
  glGetActiveUniformBlockiv(GLuint(program), block, GL_UNIFORM_BLOCK_DATA_SIZE, &size);
  EXPECT_EQ(size, GLint(sizeof(TCompositeShaderData)));
  const char* names[] = {"_VoxelCenter", "_GlobalIllum", "_Saturation", "_EmissiveBlur", "_VoxelSize",
                         "_ShadowLimit", "_Reflection", "_NumberOfLights", "_Lights[0]._LightType",
                         "_Lights[0]._Enabled", "_Lights[1]._LightType"};
  const GLint expected[] = {0, 12, 16, 28, 32, 36, 40, 44, 48, 48 + 140, 48 + 144};
  GLuint indices[11];
  glGetUniformIndices(GLuint(program), 11, names, indices);
  GLint offsets[11];
  glGetActiveUniformsiv(GLuint(program), 11, indices, GL_UNIFORM_OFFSET, offsets);
  for (int i = 0; i < 11; ++i) EXPECT_EQ(offsets[i], expected[i]) << names[i];
  material->Reset(Context);
  Context->EndSceneRendering();
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

// ---- FXAA -----------------------------------------------------------------------------------

class FXAATest : public TViewportTest {
protected:
  void SetUp() override {
    TViewportTest::SetUp();
    Context = dynamic_cast<TQuorvelContext*>(Viewport->GetContext());
    ASSERT_NE(Context, nullptr);
    Pass = New<TQuorvelRenderPassFXAA>(Viewport, "fxaa");
    ASSERT_NE(Pass->GetRenderer(), nullptr);
    Input.reset(TQuorvelTexture::Create());
    Input->SetSize(W, H);
    // Clamped: a repeating texture would carry the far border's edge into rows 0 and H - 1.
    Input->SetWrapS(TQuorvelTextureWrap::ClampToEdge);
    Input->SetWrapT(TQuorvelTextureWrap::ClampToEdge);
    Input->Initialize();
    // Black on the left of a slanted edge (x < y / 2 + 16), white on the right, no blending.
    Pixels.resize(size_t(W) * H);
    for (int32_t y = 0; y < H; ++y)
      for (int32_t x = 0; x < W; ++x) Pixels[size_t(y) * W + x] = x < y / 2 + 16 ? 0xFF000000u : 0xFFFFFFFFu;
    Input->UpdateTexture(Pixels.data(), W * 4);
  }
  void TearDown() override {
    Instance.reset();
    Input.reset();
    TViewportTest::TearDown();
  }
  void Run() {
    if (!Instance) Instance.reset(Pass->CreateRenderPassInstance(Context));
    TRenderContext frame;
    frame.Viewport = Viewport;
    Context->ExecuteRenderPass(Instance.get(), &frame);
  }
  std::vector<uint32_t> Output() {
    TOwned<TBitmap> bitmap(New<TBitmap>(W, H));
    Pass->GetRenderer()->GetSharedContext()->CopyToBitmap(bitmap.get(), TRect(0, 0, W, H));
    std::vector<uint32_t> out(size_t(W) * H);
    for (int32_t y = 0; y < H; ++y)
      // The input's first row is the texture's bottom one, the bitmap's last.
      for (int32_t x = 0; x < W; ++x) out[size_t(y) * W + x] = uint32_t(PixelOf(bitmap.get(), x, H - 1 - y));
    return out;
  }
  TQuorvelContext* Context = nullptr;
  TQuorvelRenderPassFXAA* Pass = nullptr;  // owned by the viewport
  TOwned<TQuorvelTexture> Input;
  TOwned<TRenderPass> Instance;
  std::vector<uint32_t> Pixels;
};





TEST_F(FXAATest, ASlantedEdgeIsSmoothedOnlyNearTheEdge) {
  Pass->SetCompositeInputTexture(Input.get());
  Pass->SetIterations(1);
  Run();
  const std::vector<uint32_t> once = Output();
  int32_t changed = 0;
  for (int32_t y = 0; y < H; ++y)
    for (int32_t x = 0; x < W; ++x) {
      const uint32_t in = Pixels[size_t(y) * W + x], out = once[size_t(y) * W + x];
      const double edge = y / 2 + 15.5;  // between the last black and the first white pixel
      if (std::abs(x - edge) > 2) {
        EXPECT_EQ(out & 0xFFFFFF, in & 0xFFFFFF) << x << "," << y;
      } else if ((out & 0xFFFFFF) != (in & 0xFFFFFF)) {
        ++changed;
        // Between both sides: a grey, never a colour cast.
        const uint32_t r = (out >> 16) & 0xFF, g = (out >> 8) & 0xFF, b = out & 0xFF;
        EXPECT_LE(std::max({r, g, b}) - std::min({r, g, b}), 2u) << x << "," << y;
      }
    }
  EXPECT_GT(changed, 0);
  Pass->SetIterations(2);
  Run();
  EXPECT_NE(Output(), once);
  // The next frame starts from the input again.
  Pass->SetIterations(1);
  Run();
  EXPECT_EQ(Output(), once);
}

TEST_F(FXAATest, AContextResetHandsTheInputPasssOutputToTheMaterialAgain) {
  auto* input = New<testkit::TCountingPass>(Viewport, "input");
  input->SetViewport(Viewport);
  ASSERT_NE(input->GetOutputTexture(), nullptr);
  const int32_t listeners = TMessageManager::DefaultManager().ListenerCount(typeid(TContextResetMessage));
  Pass->SetInputPass(input);
  EXPECT_EQ(Pass->Material()->GetInputTexture(), input->GetOutputTexture());
  Pass->SetCompositeInputTexture(Input.get());
  TMessageManager::DefaultManager().SendMessage(nullptr, TContextResetMessage());
  EXPECT_EQ(Pass->Material()->GetInputTexture(), input->GetOutputTexture());
  // A freed pass hears no more resets (its source unsubscribed).
  Free(Pass);
  Pass = nullptr;
  EXPECT_EQ(TMessageManager::DefaultManager().ListenerCount(typeid(TContextResetMessage)), listeners - 1);
  TMessageManager::DefaultManager().SendMessage(nullptr, TContextResetMessage());
  Free(input);
}

TEST_F(FXAATest, WithoutInputItRefusesToDraw) {
  auto* source = New<testkit::TCountingPass>(nullptr, "nothing");  // no viewport: no output
  Pass->SetInputPass(source);
  Pass->SetCompositeInputTexture(nullptr);
  try {
    Run();
    ADD_FAILURE() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "fxaa pass - input texture empty");
  }
  EXPECT_EQ(Pass->GetRenderer()->GetSharedContext()->GetBeginSceneCount(), 0);
  Free(source);
}

// ---- whole frames -----------------------------------------------------------------------------


TEST_F(CompositeTest, AnEmptySceneComposesToTheViewportColourEverywhere) {
  for (int32_t fxaa : {1, 0}) {
    SCOPED_TRACE(fxaa);
    Renderer->SetFXAA(fxaa);
    Tick();
    Tick();
    int32_t wrong = 0;
    for (int32_t y = 0; y < H; ++y)
      for (int32_t x = 0; x < W; ++x) wrong += Probe(x, y) != claBlue;
    EXPECT_EQ(wrong, 0) << std::hex << uint32_t(Probe(W / 2, H / 2));
  }
}

// Whatever the targets held before, a frame's opaque phase leaves the albedo at the background
// and the positions, normals and emission empty (the composition and the passes read them).
TEST_F(CompositeTest, AFrameStartsFromTheBackgroundAndEmptyPositionsNormalsAndEmission) {
  Viewport->SetColor(TAlphaColor(0xFF336699));
  TFrameBufferObject* fbo = Context->GetDefaultFrameBuf();
  Context->BindDefaultBuffer();
  for (TRenderTarget t : {TRenderTarget::Color_0, TRenderTarget::Color_2, TRenderTarget::Color_3, TRenderTarget::Color_4})
    fbo->Clear(t, TAlphaColorF(0.5f, 0.5f, 0.5f, 0.5f), 1, 0, true);
  Context->UnbindDefaultBuffer();
  Tick();
  auto texel = [](TTexture* ATexture) {
    std::vector<float> rgba(size_t(W) * H * 4);
    glBindTexture(GL_TEXTURE_2D, GLuint(ATexture->GetHandle()));
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_FLOAT, rgba.data());
    glBindTexture(GL_TEXTURE_2D, 0);
    const size_t centre = (size_t(H / 2) * W + W / 2) * 4;
    return std::vector<float>(rgba.begin() + centre, rgba.begin() + centre + 4);
  };
  const std::vector<float> albedo = texel(Renderer->GetAlbedoTexture());
  EXPECT_NEAR(albedo[0], 0x33 / 255.0, 1e-3);
  EXPECT_NEAR(albedo[1], 0x66 / 255.0, 1e-3);
  EXPECT_NEAR(albedo[2], 0x99 / 255.0, 1e-3);
  for (TTexture* target : {Renderer->GetPositionTexture(), Renderer->GetNormalsTexture(), Renderer->GetEmissiveTexture()}) {
    const std::vector<float> v = texel(target);
    EXPECT_EQ(v[0], 0.0f);
    EXPECT_EQ(v[1], 0.0f);
    EXPECT_EQ(v[2], 0.0f);
  }
}

TEST_F(CompositeTest, SettingsAreClampedAndReachTheEmbeddedPasses) {
  Renderer->SetFXAA(9);
  EXPECT_EQ(Renderer->GetFXAA(), 8);
  EXPECT_EQ(Renderer->GetFXAACtrl()->GetIterations(), 8);
  Renderer->SetGlobalIllumDetail(9);
  EXPECT_EQ(Renderer->GetGlobalIllumDetail(), 7);
  Renderer->SetGlobalIllumDetail(-1);
  EXPECT_EQ(Renderer->GetGlobalIllumDetail(), 0);
  Renderer->SetShadowStrength(25);
  EXPECT_EQ(Renderer->GetShadowStrength(), 10);
  Renderer->SetEmissiveBlur(20);
  EXPECT_EQ(Renderer->GetDeferredCompositeCtrl()->GetEmissiveBlur(), 15);
  // Embedded passes are internal and owned by the viewport, never registered.
  EXPECT_EQ(Renderer->GetDeferredCompositeCtrl()->Owner(), Viewport);
  EXPECT_EQ(Context->GetRenderPasses()->Count(), 0);
}

TEST_F(CompositeTest, GlobalIlluminationPassesExistOnlyAboveDetailZeroAndFeedTheComposition) {
  const auto none = [&] {
    return !Renderer->GetVoxelizeCtrl() && !Renderer->GetGlobalIllumCtrl() && !Renderer->GetGlobalIllumBlurCtrl();
  };
  Tick();
  EXPECT_TRUE(none());
  EXPECT_EQ(Renderer->GetDeferredCompositeCtrl()->GetGlobalIllumPass(), nullptr);

  AddCube(claRed);
  Renderer->SetShadowStrength(25);
  Renderer->SetReflectionStrength(25);
  Renderer->SetGlobalIllumDetail(1);
  EXPECT_TRUE(none());  // made by the next composite step
  Tick();
  ASSERT_FALSE(none());
  EXPECT_EQ(Renderer->GetVoxelizeCtrl()->GetVoxelSize(), 32);
  EXPECT_EQ(Renderer->GetVoxelizeCtrl()->GetId().rfind(Renderer->GetId() + "_Voxelize_", 0), 0u);
  EXPECT_EQ(Renderer->GetGlobalIllumCtrl()->GetVoxelGeometry(), Renderer->GetVoxelizeCtrl());
  EXPECT_FLOAT_EQ(Renderer->GetGlobalIllumCtrl()->GetShadowStrength(), 10);
  EXPECT_FLOAT_EQ(Renderer->GetGlobalIllumCtrl()->GetReflectionStrength(), 10);
  EXPECT_EQ(Renderer->GetGlobalIllumCtrl()->GetPosition(), Renderer->GetPositionTexture());
  EXPECT_EQ(Renderer->GetGlobalIllumBlurCtrl()->GetGlobalIllumPass(), Renderer->GetGlobalIllumCtrl());
  // Softened by default; softness 0 composes the unblurred result.
  EXPECT_EQ(Renderer->GetDeferredCompositeCtrl()->GetGlobalIllumPass(), Renderer->GetGlobalIllumBlurCtrl());
  EXPECT_EQ(Renderer->GetDeferredCompositeCtrl()->Material()->GetShaderData().GlobalIllum, 1);
  Renderer->SetGlobalIllumSoftness(0);
  Tick();
  EXPECT_EQ(Renderer->GetDeferredCompositeCtrl()->GetGlobalIllumPass(), Renderer->GetGlobalIllumCtrl());
  // A new detail gives the voxels a new size.
  Renderer->SetGlobalIllumDetail(2);
  EXPECT_EQ(Renderer->GetVoxelizeCtrl()->GetVoxelSize(), 64);
  Tick();
  // Back at 0 everything goes, and the composition no longer refers to it.
  Renderer->SetGlobalIllumDetail(0);
  EXPECT_TRUE(none());
  EXPECT_EQ(Renderer->GetDeferredCompositeCtrl()->GetGlobalIllumPass(), nullptr);
  Tick();
  EXPECT_EQ(Renderer->GetDeferredCompositeCtrl()->Material()->GetShaderData().GlobalIllum, 0);
}

// A whole frame: the illumination pass reads the frame's positions and normals and the voxels
// of the same frame, and its alpha darkens the floor where the cube stands between it and the light.
TEST_F(CompositeTest, InAWholeFrameTheCubesShadowOnTheFloorHasGlobalIlluminationAlpha) {
  auto* camera = New<TQuorvelCamera>(Form.get());
  camera->SetParent(Viewport);
  camera->GetPosition()->SetPoint({0, -3, -6});
  auto* target = AddCube(claRed, 0.01f);
  target->SetVisible(false);
  target->GetPosition()->SetPoint({0, 1, 0});
  camera->SetTarget(target);
  Viewport->SetCamera(camera);
  Viewport->SetUsingDesignCamera(false);
  // y points down: the floor's top face is the plane y = 1, the cube stands above it.
  auto* floor = testkit::AddMaterialCube(Form.get(), Viewport, claWhite, {0, 1.1f, 0}, 1);
  floor->SetWidth(8);
  floor->SetHeight(0.2f);
  floor->SetDepth(8);
  testkit::AddMaterialCube(Form.get(), Viewport, claWhite, {0, 0, 0}, 1);
  auto* light = New<TQuorvelLight>(Form.get());
  light->SetParent(Viewport);
  light->SetLightType(TLightType::Point);
  light->GetPosition()->SetPoint({-3, -3, 0});
  Renderer->SetShadowStrength(1);
  Renderer->SetGlobalIllumSoftness(0);
  Renderer->SetGlobalIllumDetail(1);
  Renderer->SetFXAA(0);
  Tick();
  Tick();
  TTexture* output = Renderer->GetGlobalIllumCtrl()->GetOutputTexture();
  ASSERT_NE(output, nullptr);
  ASSERT_EQ(output->GetWidth(), W);
  ASSERT_EQ(output->GetHeight(), H);
  std::vector<uint8_t> texels(size_t(W) * H * 4);
  glBindTexture(GL_TEXTURE_2D, GLuint(output->GetHandle()));
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
  glBindTexture(GL_TEXTURE_2D, 0);
  const auto alphaAt = [&](const TPoint3D& AWorld) {
    const TPointF p = Viewport->WorldToScreen(AWorld);
    const int32_t x = int32_t(std::lround(p.X)), y = H - 1 - int32_t(std::lround(p.Y));  // rows bottom-up
    EXPECT_TRUE(x >= 0 && x < W && y >= 0 && y < H) << x << "," << y;
    return int(texels[(size_t(std::clamp(y, 0, H - 1)) * W + size_t(std::clamp(x, 0, W - 1))) * 4 + 3]);
  };
  // The segment from (1.5, 1, 0) to the light crosses the cube; from (1.5, 1, 2.5) it passes by.
  const int blocked = alphaAt({1.5f, 1, 0}), open = alphaAt({1.5f, 1, 2.5f});
  EXPECT_GT(blocked, open + 20);
}

TEST_F(CompositeTest, AResizeRecreatesTheEmbeddedPassesUnderTheSameIds) {
  const std::string composite = Renderer->GetDeferredCompositeCtrl()->GetId();
  const std::string fxaa = Renderer->GetFXAACtrl()->GetId();
  EXPECT_EQ(composite.rfind(Renderer->GetId() + "_DeferredComposite_", 0), 0u) << composite;
  EXPECT_EQ(fxaa.rfind(Renderer->GetId() + "_FXAA_", 0), 0u) << fxaa;
  Tick();
  const int32_t programs = TShaderProgramCache::Count();
  const size_t shaders = TShaderManager::ShaderCount();
  TDeferredCompositeMaterial* before = Renderer->GetDeferredCompositeCtrl()->Material();
  const TContextShaderHandle vs = before->GetVertexShader()->GetHandle(), ps = before->GetPixelShader()->GetHandle();
  ASSERT_NE(vs, 0u);
  for (int32_t width : {W + 8, W + 16}) {
    Form->SetClientWidth(width);
    Viewport->SetWidth(width);
    EXPECT_EQ(Renderer->GetDeferredCompositeCtrl()->GetId(), composite);
    EXPECT_EQ(Renderer->GetFXAACtrl()->GetId(), fxaa);
    Tick();
    EXPECT_EQ(Probe(width / 2, H / 2), claBlue);
    // Equal texts reached GL once: the new materials use the same shaders and program, and
    // the freed ones took their registrations along.
    TDeferredCompositeMaterial* after = Renderer->GetDeferredCompositeCtrl()->Material();
    EXPECT_EQ(after->GetVertexShader()->GetHandle(), vs);
    EXPECT_EQ(after->GetPixelShader()->GetHandle(), ps);
    EXPECT_EQ(TShaderProgramCache::Count(), programs);
    EXPECT_EQ(TShaderManager::ShaderCount(), shaders);
  }
}

TEST_F(CompositeTest, AReplacedRendererTakesItsEmbeddedPassesAlong) {
  auto embedded = [&] {
    int32_t n = 0;
    for (TComponent* c : Viewport->ComponentList()) n += dynamic_cast<TQuorvelRenderPassController*>(c) != nullptr;
    return n;
  };
  EXPECT_EQ(embedded(), 3);  // composition, FXAA and the emissive blur
  Viewport->SetRendererType(TRendererType::ForwardRenderer);
  Viewport->GetMainPassRenderer()->Apply();
  EXPECT_EQ(embedded(), 3);
  Viewport->SetRendererType(TRendererType::LegacyRenderer);
  EXPECT_EQ(embedded(), 0);
  // What a left-behind FXAA pass would hear, reaching its freed renderer.
  TMessageManager::DefaultManager().SendMessage(nullptr, TContextResetMessage());
}

TEST_F(CompositeTest, WithoutACompositionControllerTheStepFails) {
  TOwned<TForwardRenderer> plain(
      New<TForwardRenderer>("plain", Viewport, TRendererFlags{TRendererFlag::IgnoreCompositeCtrl}, nullptr));
  plain->Apply();
  EXPECT_EQ(plain->GetDeferredCompositeCtrl(), nullptr);
  EXPECT_EQ(plain->GetFXAACtrl(), nullptr);
  TRenderContext frame;
  try {
    plain->Composite(&frame);
    ADD_FAILURE() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "renderer do not contain composite render-pass");
  }
}

}  // namespace
}  // namespace quorvel
