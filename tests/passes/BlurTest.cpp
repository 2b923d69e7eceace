// The blur pass: its settings, the shader and sizes each rectangle is drawn with, and the
// kernels measured at half-float precision on impulses and flat inputs.
#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "lib/context/ContextTexturing.h"
#include "lib/passes/ControllerPassesCustomBlur.h"
#include "tests/passes/PassTestSupport.h"

namespace quorvel {
namespace {

using testkit::TCountingPass;
using testkit::TViewportTest;

constexpr int32_t S = 64;  // a square input: BlurMode's width serves both directions

// An input pass showing a picture of the test's (render targets take no uploads).
class TPicturePass : public TCountingPass {
public:
  using TCountingPass::TCountingPass;
  TTexture* Picture = nullptr;
  TTexture* GetOutputTexture() override { return Picture; }
};

// A blur whose output (and so its scratch texture) holds half floats.
class THalfFloatBlur : public TQuorvelRenderPassBlur {
public:
  using TQuorvelRenderPassBlur::TQuorvelRenderPassBlur;

protected:
  void DoOnCreateCompositeTexture(TObject*, TPoint ASize, float AScale, TQuorvelTextureBitmap*& ATexture) override {
    ATexture = TQuorvelTextureBitmap::Create();
    ATexture->BeginSetup();
    ATexture->SetStyle({TTextureStyle::RenderTarget});
    ATexture->SetComponents(TPixelFormatEx::RGBA16F);
    ATexture->SetFormat(TPixelFormatEx::RGBA);
    ATexture->SetDataType(TQuorvelTextureDataType::dtHalfFloat);
    ATexture->SetSize(std::max(ASize.X, 1), std::max(ASize.Y, 1));
    ATexture->EndSetup();
    ATexture->GetTexture()->SetTextureScale(AScale);
  }
};

struct TRGBA {
  float R = 0, G = 0, B = 0, A = 0;
};

std::vector<TRGBA> ReadTexture(TTexture* ATexture) {
  std::vector<TRGBA> out(size_t(ATexture->GetWidth()) * ATexture->GetHeight());
  glBindTexture(GL_TEXTURE_2D, GLuint(ATexture->GetHandle()));
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_FLOAT, out.data());
  glBindTexture(GL_TEXTURE_2D, 0);
  return out;
}

double ACES(double c) {
  return std::clamp(c * (2.51 * c + 0.03) / (c * (2.43 * c + 0.59) + 0.14), 0.0, 1.0);
}

class BlurTest : public TViewportTest {
protected:
  void SetUp() override {
    TViewportTest::SetUp();
    Context = dynamic_cast<TQuorvelContext*>(Viewport->GetContext());
    ASSERT_NE(Context, nullptr);
    // Empty ids: neither pass is registered, the tests run them.
    Source = New<TPicturePass>(Viewport, "");
    Picture.reset(TQuorvelTexture::Create());
    Picture->SetSize(S, S);
    Picture->Initialize();
    Source->Picture = Picture.get();
    Pass = New<THalfFloatBlur>(Viewport, "");
    Pass->SetViewportSize(TPoint(S, S));
    Pass->SetInputPass(Source);
    ASSERT_NE(Pass->GetRenderer(), nullptr);
  }
  void TearDown() override {
    Instance.reset();
    TViewportTest::TearDown();
    Picture.reset();
  }
  // The input pass's picture: BGRA pixels, row 0 first.
  void SetInput(const std::vector<uint32_t>& APixels) {
    Picture->UpdateTexture(APixels.data(), S * 4);
  }
  void Impulse(int32_t x, int32_t y) {
    std::vector<uint32_t> pixels(size_t(S) * S, 0);
    pixels[size_t(y) * S + x] = 0xFFFFFFFFu;
    SetInput(pixels);
  }
  // On the pass's own context, as a composite renderer runs its passes: the rectangle is then
  // the whole output.
  void Run() {
    auto* own = dynamic_cast<TQuorvelContext*>(Pass->GetRenderer()->GetSharedContext());
    if (!Instance) Instance.reset(Pass->CreateRenderPassInstance(own));
    TRenderContext frame;
    frame.Viewport = Viewport;
    own->ExecuteRenderPass(Instance.get(), &frame);
  }
  std::vector<TRGBA> Output() { return ReadTexture(Pass->GetFinalOutputTexture()); }
  // The uniform of the program a direct Apply of the material leaves current.
  std::vector<float> AppliedUniform(const char* AName, int32_t AIteration) {
    Pass->BlurSource()->SetIteration(AIteration);
    EXPECT_TRUE(Context->BeginSceneRendering());
    Pass->Material()->Apply(Context);
    GLint program = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    std::vector<float> value(2, -1);
    const GLint location = glGetUniformLocation(GLuint(program), AName);
    if (location >= 0) glGetUniformfv(GLuint(program), location, value.data());
    Pass->Material()->Reset(Context);
    Context->EndSceneRendering();
    return value;
  }

  TQuorvelContext* Context = nullptr;
  TPicturePass* Source = nullptr;  // owned by the viewport
  TOwned<TQuorvelTexture> Picture;
  THalfFloatBlur* Pass = nullptr;   // owned by the viewport
  TOwned<TRenderPass> Instance;
};

TEST_F(BlurTest, TypesSetIterationsAndAmountsAreClamped) {
  TOwned<TQuorvelRenderPassBlur> blur(New<TQuorvelRenderPassBlur>(nullptr, "blur"));
  EXPECT_EQ(blur->GetType(), TRenderPassType::Post);
  EXPECT_EQ(blur->GetMethod(), TRenderPassMethod::RectToFBO);
  EXPECT_EQ(blur->GetRendererFlags(),
            (TRendererFlags{TRendererFlag::IgnoreRenderTargets, TRendererFlag::IgnoreCompositeCtrl,
                            TRendererFlag::IgnoreEmissiveBlur, TRendererFlag::IgnoreGlobalIllum}));
  EXPECT_FALSE(blur->GetBlendings()[0].Enabled);
  EXPECT_TRUE(blur->GetPingPongMode());
  EXPECT_EQ(blur->GetBlurType(), TPassBlurType::RadialBlur);
  EXPECT_EQ(blur->GetBlurMode(), TPassBlurMode::Horizontal);
  EXPECT_EQ(blur->GetBlurAmount(), 3.0f);
  EXPECT_EQ(blur->GetExposure(), 1.0f);
  EXPECT_EQ(blur->GetIterations(), 1);
  EXPECT_TRUE(blur->BlurSource()->GetHasMaterial());
  struct Step {
    TPassBlurType Type;
    int32_t Asked, Iterations;
  };
  for (const Step& s : {Step{TPassBlurType::GaussianBlur, 0, 2}, Step{TPassBlurType::GaussianBlur, 4, 4},
                        Step{TPassBlurType::FastBlur, 0, 2}, Step{TPassBlurType::RadialBlur, 0, 1},
                        Step{TPassBlurType::RadialBlur, 4, 1}}) {
    blur->SetBlurType(s.Type);
    if (s.Asked) blur->SetIterations(s.Asked);
    EXPECT_EQ(blur->GetIterations(), s.Iterations) << int(s.Type) << " " << s.Asked;
  }
  for (auto [asked, stored] : {std::pair{-2.0f, 0.0f}, {20.0f, 15.0f}, {7.5f, 7.5f}}) {
    blur->SetBlurAmount(asked);
    EXPECT_EQ(blur->GetBlurAmount(), stored);
  }
  // Without a viewport there is no output; a renderer handed in still gives the final one.
  EXPECT_EQ(blur->GetOutputTexture(), nullptr);
  EXPECT_EQ(blur->GetFinalOutputTexture(), nullptr);
  TRenderer* main = Viewport->GetMainPassRenderer();
  ASSERT_NE(main, nullptr);
  blur->SetRenderer(main);
  EXPECT_EQ(blur->GetOutputTexture(), nullptr);
  EXPECT_EQ(blur->GetFinalOutputTexture(), main->GetCompositeTexture()->GetTexture());
  blur->SetPingPongMode(false);
  EXPECT_EQ(blur->GetFinalOutputTexture(), nullptr);
  blur->SetRenderer(nullptr);
}

TEST_F(BlurTest, EachIterationDrawsWithItsShaderAndSizes) {
  TBlurMaterial* m = Pass->Material();
  Picture->SetSize(512, 256);
  struct Case {
    TPassBlurType Type;
    bool PingPong;
    TPassBlurMode Mode;
    TContextShader* Shaders[4];
  };
  const Case cases[] = {
      {TPassBlurType::FastBlur, true, TPassBlurMode::Vertical,
       {m->GetFastBlurH(), m->GetFastBlurV(), m->GetFastBlurH(), m->GetFastBlurV()}},
      {TPassBlurType::GaussianBlur, true, TPassBlurMode::Horizontal,
       {m->GetGaussBlurH(), m->GetGaussBlurV(), m->GetGaussBlurH(), m->GetGaussBlurV()}},
      {TPassBlurType::FastBlur, false, TPassBlurMode::Vertical,
       {m->GetFastBlurV(), m->GetFastBlurV(), m->GetFastBlurV(), m->GetFastBlurV()}},
      {TPassBlurType::GaussianBlur, false, TPassBlurMode::Horizontal,
       {m->GetGaussBlurH(), m->GetGaussBlurH(), m->GetGaussBlurH(), m->GetGaussBlurH()}},
      {TPassBlurType::RadialBlur, true, TPassBlurMode::Vertical,
       {m->GetPixelShader(), m->GetPixelShader(), m->GetPixelShader(), m->GetPixelShader()}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.Type) * 10 + c.PingPong);
    Pass->SetBlurType(c.Type);
    Pass->SetPingPongMode(c.PingPong);
    Pass->SetBlurMode(c.Mode);
    for (int32_t i = 0; i < 4; ++i) {
      ASSERT_NE(c.Shaders[i], nullptr);
      Pass->BlurSource()->SetIteration(i);
      EXPECT_EQ(m->ChoosePixelShader(), c.Shaders[i]) << i;
    }
  }
  Pass->SetPingPongMode(true);
  // A 512 x 256 input, Vertical, amount 2: "Width" 128 in both steps of the pair.
  Pass->SetBlurType(TPassBlurType::FastBlur);
  Pass->SetBlurMode(TPassBlurMode::Vertical);
  Pass->SetBlurAmount(2);
  EXPECT_FLOAT_EQ(AppliedUniform("_Width", 0)[0], 128);
  Pass->SetBlurType(TPassBlurType::GaussianBlur);
  Pass->SetBlurMode(TPassBlurMode::Horizontal);
  EXPECT_FLOAT_EQ(AppliedUniform("_Width", 0)[0], 256);
  Pass->SetBlurAmount(0);
  EXPECT_FLOAT_EQ(AppliedUniform("_Width", 0)[0], 32);
  Pass->SetBlurType(TPassBlurType::RadialBlur);
  std::vector<float> radius = AppliedUniform("_Radius", 0);
  EXPECT_FLOAT_EQ(radius[0], 0);
  EXPECT_FLOAT_EQ(radius[1], 0);
  Pass->SetBlurAmount(2);
  radius = AppliedUniform("_Radius", 0);
  EXPECT_FLOAT_EQ(radius[0], 8.0f / 512);
  EXPECT_FLOAT_EQ(radius[1], 8.0f / 256);
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(BlurTest, WithoutInputItRefusesToDrawUnlessDesigning) {
  auto* empty = New<TCountingPass>(nullptr, "nothing");  // no viewport: no output
  Pass->SetInputPass(empty);
  try {
    Run();
    ADD_FAILURE() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "blur pass - input texture empty");
  }
  EXPECT_EQ(Pass->GetRenderer()->GetSharedContext()->GetBeginSceneCount(), 0);
  Pass->BlurSource()->SetDesigning(true);
  EXPECT_NO_THROW(Run());
  Pass->BlurSource()->SetDesigning(false);
  Free(empty);
  EXPECT_EQ(Pass->GetInputPass(), nullptr);
}

// The output around an impulse at (X, Y) along one row, as the blur sees it: texel x of the
// output holds the weight of the tap that reached it.
std::vector<double> Row(const std::vector<TRGBA>& AOut, int32_t AY) {
  std::vector<double> row(S);
  for (int32_t x = 0; x < S; ++x) row[size_t(x)] = AOut[size_t(AY) * S + x].R;
  return row;
}

std::vector<double> GaussWeights() {
  auto g = [](double x) { return 1 / (2 * 3.14159265 * 49) * std::exp(-x * x / (2 * 49)); };
  std::vector<double> w;
  double total = 0;
  for (int k = -17; k <= 17; ++k) total += g(k) + g(k + 1);
  for (int k = -17; k <= 17; ++k) w.push_back((g(k) + g(k + 1)) / total);
  return w;
}

TEST_F(BlurTest, SeparableKernelsSpreadAnImpulseByTheirWeights) {
  const int32_t cx = 30, cy = 33;
  Impulse(cx, cy);
  Pass->SetBlurAmount(1);
  Pass->SetPingPongMode(false);  // one horizontal step
  Pass->SetBlurType(TPassBlurType::FastBlur);
  Pass->SetIterations(1);
  Run();
  std::vector<TRGBA> out = Output();
  // The output's rows may run either way up.
  auto total = [&](int32_t y) {
    const std::vector<double> r = Row(out, y);
    double t = 0;
    for (double v : r) t += v;
    return t;
  };
  const int32_t oy = total(cy) >= total(S - 1 - cy) ? cy : S - 1 - cy;
  // Output texel x reads input x + k: the impulse reaches x = cx - k with the weight of tap k.
  std::vector<double> row = Row(out, oy);
  for (int32_t x = 0; x < S; ++x) {
    const int32_t k = cx - x;
    const double expected = std::abs(k) <= 9 ? TBlurMaterial::FastBlurWeights[k + 9] : 0;
    EXPECT_NEAR(row[size_t(x)], expected, 1e-3) << "tap " << k;
  }
  for (int32_t y = 0; y < S; ++y)
    if (y != oy) {
      EXPECT_EQ(Row(out, y), std::vector<double>(S, 0)) << "row " << y;
    }

  Pass->SetBlurType(TPassBlurType::GaussianBlur);
  Pass->SetIterations(1);
  Run();
  row = Row(Output(), oy);
  const std::vector<double> gauss = GaussWeights();
  for (int32_t x = 0; x < S; ++x) {
    const int32_t k = cx - x;
    EXPECT_NEAR(row[size_t(x)], std::abs(k) <= 17 ? gauss[size_t(k + 17)] : 0, 1e-3) << "tap " << k;
  }
}

TEST_F(BlurTest, APingPongPairBlursHorizontallyThenVerticallyAndKeepsTheSum) {
  const int32_t cx = 30, cy = 33;
  Impulse(cx, cy);
  Pass->SetBlurAmount(1);
  for (TPassBlurType type : {TPassBlurType::FastBlur, TPassBlurType::GaussianBlur}) {
    SCOPED_TRACE(int(type));
    Pass->SetBlurType(type);
    ASSERT_EQ(Pass->GetIterations(), 2);
    Run();
    ASSERT_NE(Pass->GetScratchTexture(), nullptr);
    EXPECT_NE(Pass->GetScratchTexture(), Pass->GetFinalOutputTexture());
    const std::vector<TRGBA> out = Output();
    auto weight = [&](int32_t d) -> double {
      if (type == TPassBlurType::FastBlur) return std::abs(d) <= 9 ? TBlurMaterial::FastBlurWeights[d + 9] : 0;
      static const std::vector<double> gauss = GaussWeights();
      return std::abs(d) <= 17 ? gauss[size_t(d + 17)] : 0;
    };
    double sum = 0, worst = 0;
    for (int32_t y = 0; y < S; ++y)
      for (int32_t x = 0; x < S; ++x) {
        const double v = out[size_t(y) * S + x].R;
        sum += v;
        // The output's rows may run either way up: the vertical weights are checked on both.
        const double expected = weight(cx - x) * std::max(weight(cy - y), 0.0);
        const double flipped = weight(cx - x) * weight((S - 1 - cy) - y);
        worst = std::max(worst, std::min(std::abs(v - expected), std::abs(v - flipped)));
      }
    EXPECT_LT(worst, 1e-3);
    EXPECT_NEAR(sum, 1.0, 5e-3);
    // Not a column: the horizontal step survived.
    EXPECT_GT(out[size_t(cy) * S + cx - 2].R + out[size_t(S - 1 - cy) * S + cx - 2].R, 1e-3);
  }
}

TEST_F(BlurTest, TheRadialBlurToneMapsAFlatInputAndIsRoundAroundAPoint) {
  // A flat colour: every sample equal, so the result is ACES(c * 257 / 241) ^ (1 / 2.2).
  const uint32_t flat = 0x80336699u;  // A 0x80, R 0x33, G 0x66, B 0x99
  SetInput(std::vector<uint32_t>(size_t(S) * S, flat));
  Pass->SetBlurType(TPassBlurType::RadialBlur);
  Pass->SetBlurAmount(1);
  Run();
  std::vector<TRGBA> out = Output();
  const double k = 257.0 / 241.0;
  auto tone = [&](uint32_t shift) { return std::pow(ACES(((flat >> shift) & 0xFF) / 255.0 * k), 1 / 2.2); };
  for (int32_t i : {0, S * S / 2 + S / 2, S * S - 1}) {
    EXPECT_NEAR(out[size_t(i)].R, tone(16), 2e-3);
    EXPECT_NEAR(out[size_t(i)].G, tone(8), 2e-3);
    EXPECT_NEAR(out[size_t(i)].B, tone(0), 2e-3);
    EXPECT_NEAR(out[size_t(i)].A, 0x80 / 255.0 * k, 2e-3);
  }
  // A point: the same under quarter turns about it.
  const int32_t c = S / 2;
  Impulse(c, c);
  Pass->SetBlurAmount(2);
  Run();
  out = Output();
  double worst = 0, peak = 0;
  int32_t lit = 0;
  for (int32_t dy = -10; dy <= 10; ++dy)
    for (int32_t dx = -10; dx <= 10; ++dx) {
      auto at = [&](int32_t x, int32_t y) { return double(out[size_t(c + y) * S + c + x].A); };
      // Under the flip of rows a quarter turn is still a quarter turn.
      worst = std::max(worst, std::abs(at(dx, dy) - at(-dy, dx)));
      peak = std::max(peak, at(dx, dy));
      lit += at(dx, dy) > 1e-3;
    }
  EXPECT_LT(worst, 1e-3);
  EXPECT_GT(lit, 8);
  EXPECT_LE(peak, 1.0);
}

}  // namespace
}  // namespace quorvel
