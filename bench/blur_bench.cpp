// The blur pass at 640x480: the Gaussian and the fixed-kernel pair (horizontal into the scratch
// texture, vertical into the output) and the radial blur, each run on the pass's own context as
// a composite renderer runs it, against raw GL compiling the very shader text the pass
// registers and drawing the same rectangles from the same input texture into targets of the
// output's format. Every run waits for the GPU; both sides' outputs are compared afterwards.
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench/EngineGL.h"
#include "bench/RawGL.h"
#include "framework/gui/Form.h"
#include "framework/rtl/Stopwatch.h"
#include "lib/context/ContextTexturing.h"
#include "lib/passes/ControllerPassesCustomBlur.h"
#include "lib/passes/Renderer.h"
#include "lib/scene/Viewport.h"

namespace quorvel {
namespace {

constexpr int W = 640, H = 480;

// Hands the blur a picture of the benchmark's as its input pass's output.
class TPicturePass : public TQuorvelRenderPassController {
public:
  using TQuorvelRenderPassController::TQuorvelRenderPassController;
  TTexture* Picture = nullptr;
  TTexture* GetOutputTexture() override { return Picture; }

protected:
  TQuorvelRenderPassMaterialSource* CreateMaterialSource() override { return nullptr; }
};

// Edges in every direction and at every scale, so no kernel sums a flat field.
TQuorvelTexture* Input() {
  static TOwned<TQuorvelTexture> texture = [] {
    TOwned<TQuorvelTexture> t(TQuorvelTexture::Create());
    t->SetSize(W, H);
    t->Initialize();
    std::vector<uint32_t> pixels(size_t(W) * H);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x)
        pixels[size_t(y) * W + x] = 0xFF000000u | uint32_t(x & 0xFF) << 16 | uint32_t(y & 0xFF) << 8 | uint32_t((x ^ y) & 0xFF);
    t->UpdateTexture(pixels.data(), W * 4);
    return t;
  }();
  return texture.get();
}

// What a run leaves in a texture, to compare the two sides: BGRA bytes.
std::vector<uint8_t> ReadBack(GLuint ATexture) {
  std::vector<uint8_t> out(size_t(W) * H * 4);
  glBindTexture(GL_TEXTURE_2D, ATexture);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_BGRA, GL_UNSIGNED_BYTE, out.data());
  glBindTexture(GL_TEXTURE_2D, 0);
  return out;
}

std::string GLSLOf(TContextShader* AShader) { return AShader->GetSourceByArch(TContextShaderArch::GLSL).CodeAsText(); }

constexpr GLenum TextureParameters[4] = {GL_TEXTURE_MIN_FILTER, GL_TEXTURE_MAG_FILTER, GL_TEXTURE_WRAP_S,
                                         GL_TEXTURE_WRAP_T};

// A blur of one kind on a form of its own, made once and kept for both sides: the raw side
// compiles the shader text this pass registered and compares its picture with this one's.
struct TEngineBlur {
  TOwned<TForm> Form;
  TQuorvelRenderPassBlur* Pass = nullptr;  // owned by the viewport
  TQuorvelContext* Own = nullptr;
  TOwned<TRenderPass> Instance;
  TRenderContext Frame;

  explicit TEngineBlur(TPassBlurType AType) {
    Form.reset(New<TForm>(nullptr));
    Form->SetClientWidth(W);
    Form->SetClientHeight(H);
    Form->Show();
    auto* viewport = New<TQuorvelViewport>(Form.get());
    viewport->SetUseFixedFrameRate(true);
    // Empty ids: neither pass is registered with the viewport; the benchmark runs the blur on
    // the pass's own context, as a composite renderer runs it.
    auto* source = New<TPicturePass>(viewport, "");
    source->Picture = Input();
    Pass = New<TQuorvelRenderPassBlur>(viewport, "");
    Pass->SetViewportSize(TPoint(W, H));
    Pass->SetBlurType(AType);
    Pass->SetInputPass(source);
    Own = Pass->GetRenderer() ? dynamic_cast<TQuorvelContext*>(Pass->GetRenderer()->GetSharedContext()) : nullptr;
    if (!Own) throw Exception("the blur has no engine context");
    Instance.reset(Pass->CreateRenderPassInstance(Own));
    Frame.Viewport = viewport;
    Run();  // programs and the scratch texture made before any timing
    glFinish();
  }
  void Run() { Own->ExecuteRenderPass(Instance.get(), &Frame); }
  TTexture* Output() const { return Pass->GetFinalOutputTexture(); }
  // The pixel shaders of the draws, in order.
  std::vector<std::string> PixelShaders() const {
    TBlurMaterial* m = Pass->Material();
    switch (Pass->GetBlurType()) {
      case TPassBlurType::FastBlur: return {GLSLOf(m->GetFastBlurH()), GLSLOf(m->GetFastBlurV())};
      case TPassBlurType::GaussianBlur: return {GLSLOf(m->GetGaussBlurH()), GLSLOf(m->GetGaussBlurV())};
      default: return {GLSLOf(m->GetPixelShader())};
    }
  }
  // Filters and wrap modes of the scratch texture (AIndex 0) or the output (1): an unclamped
  // tap past the edge reads what the wrap mode says.
  std::vector<GLint> Parameters(int AIndex) const {
    TTexture* t = AIndex == 0 && Pass->GetScratchTexture() ? Pass->GetScratchTexture() : Output();
    std::vector<GLint> out(4);
    glBindTexture(GL_TEXTURE_2D, GLuint(t->GetHandle()));
    for (int i = 0; i < 4; ++i) glGetTexParameteriv(GL_TEXTURE_2D, TextureParameters[i], &out[i]);
    glBindTexture(GL_TEXTURE_2D, 0);
    return out;
  }
  GLint InternalFormat() const {
    GLint format = 0;
    glBindTexture(GL_TEXTURE_2D, GLuint(Output()->GetHandle()));
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &format);
    glBindTexture(GL_TEXTURE_2D, 0);
    return format;
  }
};

std::unique_ptr<TEngineBlur> Engines[3];

TEngineBlur& Engine(TPassBlurType AType) {
  bench::SetupEngineGL();
  std::unique_ptr<TEngineBlur>& e = Engines[int(AType)];
  if (!e) e = std::make_unique<TEngineBlur>(AType);
  return *e;
}

void BM_EngineBlur(benchmark::State& state) {
  TEngineBlur& engine = Engine(TPassBlurType(state.range(0)));
  for (auto _ : state) {
    engine.Run();
    glFinish();
  }
  state.counters["draws"] = double(engine.Pass->GetIterations());
}

// The rectangles as the pass draws them, in clip space already: the matrix is the identity.
void BM_RawGLBlur(benchmark::State& state) {
  TEngineBlur& engine = Engine(TPassBlurType(state.range(0)));
  const std::string vertex = GLSLOf(engine.Pass->Material()->GetVertexShader());
  const std::vector<std::string> pixel = engine.PixelShaders();
  TCustomContextWindows* shared = TCustomContextWindows::SharedContext();
  wglMakeCurrent(shared->GetHDC(), shared->GetGLContext());
  const bool pair = pixel.size() == 2;
  GLuint programs[2] = {};
  for (size_t i = 0; i < pixel.size(); ++i)
    programs[i] = bench::LinkProgram(vertex, pixel[i], {{0, "a_Position"}, {1, "a_TexCoord0"}});
  // The scratch texture (used by a pair) and the output, of the engine's output format.
  GLuint textures[2], fbos[2];
  glGenTextures(2, textures);
  glGenFramebuffers(2, fbos);
  const GLint format = engine.InternalFormat();
  for (int i = 0; i < 2; ++i) {
    const std::vector<GLint> parameters = engine.Parameters(i);
    glBindTexture(GL_TEXTURE_2D, textures[i]);
    glTexImage2D(GL_TEXTURE_2D, 0, format, W, H, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
    for (int p = 0; p < 4; ++p) glTexParameteri(GL_TEXTURE_2D, TextureParameters[p], parameters[p]);
    glBindFramebuffer(GL_FRAMEBUFFER, fbos[i]);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, textures[i], 0);
  }
  const bench::TScreenQuad screen(W, H);
  const GLuint input = GLuint(Input()->GetHandle());
  // The sizes the material sets: a step of BlurAmount texels along the width, for both
  // directions; the radial radius is four times that in each axis.
  const float amount = engine.Pass->GetBlurAmount();
  const float width = float(W) / amount;
  const float radius[2] = {amount * 4 / float(W), amount * 4 / float(H)};
  for (auto _ : state) {
    // As the pass: the first draw clears its target; a pair draws H into the scratch texture,
    // then V from it into the output.
    const int draws = pair ? 2 : 1;
    for (int i = 0; i < draws; ++i) {
      const bool last = i == draws - 1;
      glBindFramebuffer(GL_FRAMEBUFFER, last ? fbos[1] : fbos[0]);
      if (i == 0) {
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
      }
      const GLuint prog = programs[i];
      glUseProgram(prog);
      glUniform4fv(glGetUniformLocation(prog, "_ModelViewProjMatrix"), 4, bench::TScreenQuad::Identity);
      glActiveTexture(GL_TEXTURE0);
      glBindTexture(GL_TEXTURE_2D, i == 0 ? input : textures[0]);
      glUniform1i(glGetUniformLocation(prog, "_Input"), 0);
      if (pair) {
        glUniform1f(glGetUniformLocation(prog, "_Width"), width);
      } else {
        glUniform2fv(glGetUniformLocation(prog, "_Radius"), 1, radius);
        glUniform1f(glGetUniformLocation(prog, "_Exposure"), 1.0f);
      }
      glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    }
    glFinish();
  }
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  const std::vector<uint8_t> pixels = ReadBack(textures[1]);
  glBindVertexArray(0);
  glDeleteFramebuffers(2, fbos);
  glDeleteTextures(2, textures);
  for (GLuint p : programs)
    if (p) glDeleteProgram(p);
  // The same picture on both sides, or the ratio compares different work.
  const std::vector<uint8_t> expected = ReadBack(GLuint(engine.Output()->GetHandle()));
  int worst = 0;
  for (size_t i = 0; i < pixels.size(); ++i) worst = std::max(worst, std::abs(int(pixels[i]) - int(expected[i])));
  state.counters["max_diff"] = worst;
  if (worst > 2) state.SkipWithError(("the raw picture differs from the engine's by " + std::to_string(worst)).c_str());
}

void Kinds(benchmark::internal::Benchmark* b) {
  b->ArgName("type")->Arg(int(TPassBlurType::GaussianBlur))->Arg(int(TPassBlurType::FastBlur))->Arg(int(TPassBlurType::RadialBlur));
}
BENCHMARK(BM_EngineBlur)->Apply(Kinds)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RawGLBlur)->Apply(Kinds)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace quorvel

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  // The forms go while the units that made them are still there.
  for (auto& e : quorvel::Engines) e.reset();
  benchmark::Shutdown();
  return 0;
}
