// One 640x480 frame of a viewport showing only the procedural sky (render list, the legacy
// renderer's phases, the skybox material's apply and block upload, the cube's draw and the
// read-back into the frame bitmap), against raw GL running the same two shaders with the same
// block into a target of the same size, then glReadPixels.
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "bench/EngineGL.h"
#include "bench/RawGL.h"
#include "framework/gui/Canvas.h"
#include "framework/gui/Form.h"
#include "framework/platform/Platform.h"
#include "framework/rtl/Stopwatch.h"
#include "framework/rtl/Thread.h"
#include "framework/rtl/Units.h"
#include "lib/context/windows/ContextGLESWindows.h"
#include "lib/scene/SkyBox.h"
#include "lib/scene/Viewport.h"

namespace quorvel {
namespace {

constexpr int W = 640, H = 480;

// The form, its viewport and the sky, made once: the raw peer takes the sky's shader texts and
// the block of its last frame.
struct TSkyScene {
  TManualClock Clock;
  std::unique_ptr<TScopedClock> Scoped;
  TOwned<TForm> Form;
  TQuorvelViewport* Viewport = nullptr;
  TQuorvelSkyBox* Sky = nullptr;

  TSkyScene() {
    bench::SetupEngineGL();
    // A manual clock: the started frame timer never ticks by itself.
    Scoped = std::make_unique<TScopedClock>(Clock);
    Form.reset(New<TForm>(nullptr));
    Form->SetClientWidth(W);
    Form->SetClientHeight(H);
    Form->Show();
    Viewport = New<TQuorvelViewport>(Form.get());
    Viewport->SetRendererType(TRendererType::LegacyRenderer);
    Viewport->SetUseFixedFrameRate(true);
    Sky = New<TQuorvelSkyBox>(Form.get());
    Sky->SetParent(Viewport);
    Frame();
  }
  void Frame() {
    TCanvas* canvas = Viewport->GetCanvas();
    if (canvas->BeginScene()) {
      Viewport->RenderFrame();
      canvas->EndScene();
    }
  }
  TAlphaColor Middle() const {
    const uint8_t* p = Viewport->GetFrameBitmap()->Pixels().data() + (size_t(H / 2) * W + W / 2) * 4;
    return MakeAlphaColor(p[2], p[1], p[0], p[3]);
  }
};

std::unique_ptr<TSkyScene> TheScene;

TSkyScene& Scene() {
  if (!TheScene) TheScene = std::make_unique<TSkyScene>();
  return *TheScene;
}

bool Near(TAlphaColor a, TAlphaColor b, int tol) {
  for (int s : {0, 8, 16})
    if (std::abs(int((uint32_t(a) >> s) & 0xFF) - int((uint32_t(b) >> s) & 0xFF)) > tol) return false;
  return true;
}

void BM_SkyBoxFrame(benchmark::State& state) {
  TSkyScene& scene = Scene();
  for (auto _ : state) scene.Frame();
  if (scene.Middle() == claBlack) state.SkipWithError("the sky is not in the frame");
}
BENCHMARK(BM_SkyBoxFrame)->Unit(benchmark::kMillisecond);

void BM_RawGLSkyFrame(benchmark::State& state) {
  TSkyScene& scene = Scene();
  TQuorvelSkyBoxMaterial* material = scene.Sky->SkyMaterial();
  const std::string vsText =
      material->ProceduralVertexShader()->GetSourceByArch(TContextShaderArch::GLSL).CodeAsText();
  const std::string psText = material->ProceduralPixelShader()->GetSourceByArch(TContextShaderArch::GLSL).CodeAsText();
  const TSkyBoxShaderData data = material->ShaderData();
  const TAlphaColor engineMiddle = scene.Middle();

  TCustomContextWindows* shared = TCustomContextWindows::SharedContext();
  wglMakeCurrent(shared->GetHDC(), shared->GetGLContext());
  GLuint color = 0, depth = 0, fbo = 0, ubo = 0;
  glGenTextures(1, &color);
  glBindTexture(GL_TEXTURE_2D, color);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, W, H, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
  glGenRenderbuffers(1, &depth);
  glBindRenderbuffer(GL_RENDERBUFFER, depth);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, W, H);
  glGenFramebuffers(1, &fbo);
  glBindFramebuffer(GL_FRAMEBUFFER, fbo);
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, color, 0);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, depth);
  const GLuint prog = bench::LinkProgram(vsText, psText, {});
  glGenBuffers(1, &ubo);
  glBindBuffer(GL_UNIFORM_BUFFER, ubo);
  glBufferData(GL_UNIFORM_BUFFER, sizeof data, &data, GL_DYNAMIC_DRAW);
  glUniformBlockBinding(prog, glGetUniformBlockIndex(prog, "SkyBoxShaderData"), 0);
  // The unit cube's six faces: position, normal, texture coordinate (the sky's own matrices
  // in the block size and turn it).
  struct TVertex {
    float P[3], N[3], T[2];
  };
  std::vector<TVertex> vertices;
  std::vector<uint16_t> indices;
  const float axes[6][3] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
  for (const auto& n : axes) {
    const int a = n[0] != 0 ? 1 : 0, b = n[2] != 0 ? 1 : 2;
    const uint16_t base = uint16_t(vertices.size());
    for (int c = 0; c < 4; ++c) {
      TVertex v{{n[0] * 0.5f, n[1] * 0.5f, n[2] * 0.5f}, {n[0], n[1], n[2]}, {float(c & 1), float(c >> 1)}};
      v.P[a] = (c & 1) ? 0.5f : -0.5f;
      v.P[b] = (c >> 1) ? 0.5f : -0.5f;
      vertices.push_back(v);
    }
    for (uint16_t i : {0, 1, 3, 0, 3, 2}) indices.push_back(uint16_t(base + i));
  }
  std::vector<uint8_t> pixels(size_t(W) * H * 4);
  glViewport(0, 0, W, H);
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LEQUAL);
  glDisable(GL_CULL_FACE);
  glDisable(GL_BLEND);
  glDisable(GL_SCISSOR_TEST);
  glBindVertexArray(0);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
  for (auto _ : state) {
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glUseProgram(prog);
    glBindBuffer(GL_UNIFORM_BUFFER, ubo);
    glBufferSubData(GL_UNIFORM_BUFFER, 0, sizeof data, &data);
    glBindBufferBase(GL_UNIFORM_BUFFER, 0, ubo);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, sizeof(TVertex), vertices[0].P);
    glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, sizeof(TVertex), vertices[0].N);
    glVertexAttribPointer(3, 2, GL_FLOAT, GL_FALSE, sizeof(TVertex), vertices[0].T);
    for (GLuint l : {0u, 1u, 3u}) glEnableVertexAttribArray(l);
    glDrawElements(GL_TRIANGLES, GLsizei(indices.size()), GL_UNSIGNED_SHORT, indices.data());
    for (GLuint l : {0u, 1u, 3u}) glDisableVertexAttribArray(l);
    glReadPixels(0, 0, W, H, GL_BGRA, GL_UNSIGNED_BYTE, pixels.data());
  }
  const uint8_t* p = pixels.data() + (size_t(H / 2) * W + W / 2) * 4;
  if (!Near(MakeAlphaColor(p[2], p[1], p[0], 255), engineMiddle, 8))
    state.SkipWithError("the raw frame differs from the engine's");
  glUseProgram(0);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  glDeleteFramebuffers(1, &fbo);
  glDeleteRenderbuffers(1, &depth);
  glDeleteTextures(1, &color);
  glDeleteBuffers(1, &ubo);
  glDeleteProgram(prog);
}
BENCHMARK(BM_RawGLSkyFrame)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quorvel

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  // Before the units' static state goes.
  quorvel::TheScene.reset();
  quorvel::FinalizeUnits();
  return 0;
}
