// One 640x480 frame of a viewport holding 1000 scene objects and one filled cube (render list,
// culling, the legacy renderer's phases, the cube's draw and the read-back into the frame
// bitmap), against raw GL doing the same clear, one cube draw and glReadPixels.
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

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
#include "lib/scene/Control.h"
#include "lib/scene/Transform.h"
#include "lib/scene/Viewport.h"

namespace quorvel {
namespace {

constexpr int W = 640, H = 480;

class TBenchCube : public TQuorvelControl {
public:
  using TQuorvelControl::TQuorvelControl;
  void Render() override { GetContext()->FillCube({0, 0, 0}, {2, 2, 2}, 1, claRed); }
};

void BM_ViewportFrame(benchmark::State& state) {
  bench::SetupEngineGL();
  // A manual clock: the started frame timer never ticks by itself.
  TManualClock clock;
  TScopedClock scoped(clock);
  TOwned<TForm> form(New<TForm>(nullptr));
  form->SetClientWidth(W);
  form->SetClientHeight(H);
  form->Show();
  auto* viewport = New<TQuorvelViewport>(form.get());
  viewport->SetRendererType(TRendererType::LegacyRenderer);
  viewport->SetUseFixedFrameRate(true);
  for (int i = 0; i < 1000; ++i) {
    auto* node = New<TQuorvelTransform>(form.get());
    node->GetPosition()->SetPoint({float(i % 10) - 5, float(i / 100) - 5, float((i / 10) % 10)});
    node->SetParent(viewport);
  }
  auto* cube = New<TBenchCube>(form.get());
  cube->SetParent(viewport);
  // Arg 1: the whole tick (messages, frame, read-back, the bitmap drawn on the form); arg 0:
  // the frame and its read-back only.
  TCanvas* canvas = viewport->GetCanvas();
  for (auto _ : state) {
    if (state.range(0)) {
      viewport->DoFixedIntervalTimer(nullptr);
    } else if (canvas->BeginScene()) {
      viewport->RenderFrame();
      canvas->EndScene();
    }
  }
  const TBitmap* frame = viewport->GetFrameBitmap();
  const uint8_t* p = frame->Pixels().data() + (size_t(H / 2) * W + W / 2) * 4;
  if (p[2] < 200) state.SkipWithError("the cube is not in the frame");
}
BENCHMARK(BM_ViewportFrame)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_RawGLFrame(benchmark::State& state) {
  bench::SetupEngineGL();
  TCustomContextWindows* shared = TCustomContextWindows::SharedContext();
  wglMakeCurrent(shared->GetHDC(), shared->GetGLContext());
  GLuint color = 0, depth = 0, fbo = 0;
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
  const GLuint vs = bench::CompileShader(GL_VERTEX_SHADER,
                            "#version 430\nin vec3 a_Position; uniform mat4 MVP;\n"
                            "void main() { gl_Position = MVP * vec4(a_Position, 1.0); }\n");
  const GLuint ps = bench::CompileShader(GL_FRAGMENT_SHADER,
                            "#version 430\nout vec4 o_Color; void main() { o_Color = vec4(1, 0, 0, 1); }\n");
  const GLuint prog = glCreateProgram();
  glAttachShader(prog, vs);
  glAttachShader(prog, ps);
  glBindAttribLocation(prog, 0, "a_Position");
  glLinkProgram(prog);
  // The cube's 8 corners and 36 indices, projected as the viewport's design camera sees it.
  const float v[8][3] = {{-1, -1, -1}, {1, -1, -1}, {1, 1, -1}, {-1, 1, -1},
                         {-1, -1, 1},  {1, -1, 1},  {1, 1, 1},  {-1, 1, 1}};
  const uint16_t idx[36] = {0, 1, 2, 0, 2, 3, 4, 6, 5, 4, 7, 6, 0, 4, 5, 0, 5, 1,
                            3, 2, 6, 3, 6, 7, 0, 3, 7, 0, 7, 4, 1, 5, 6, 1, 6, 2};
  const TMatrix3D mvp = TMatrix3D::CreateLookAtDirRH({0, 0, -5}, {0, 0, 1}, {0, -1, 0}) *
                        TMatrix3D::CreatePerspectiveFovRH(45 * 3.14159265f / 180, float(W) / H, 0.1f, 1000);
  std::vector<uint8_t> pixels(size_t(W) * H * 4);
  glViewport(0, 0, W, H);
  glEnable(GL_DEPTH_TEST);
  for (auto _ : state) {
    glClearColor(0, 0, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glUseProgram(prog);
    glUniformMatrix4fv(glGetUniformLocation(prog, "MVP"), 1, GL_FALSE, &mvp.m11);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 12, v);
    glEnableVertexAttribArray(0);
    glDrawElements(GL_TRIANGLES, 36, GL_UNSIGNED_SHORT, idx);
    glDisableVertexAttribArray(0);
    glReadPixels(0, 0, W, H, GL_BGRA, GL_UNSIGNED_BYTE, pixels.data());
  }
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  glDeleteFramebuffers(1, &fbo);
  glDeleteRenderbuffers(1, &depth);
  glDeleteTextures(1, &color);
  glDeleteProgram(prog);
  glDeleteShader(vs);
  glDeleteShader(ps);
}
BENCHMARK(BM_RawGLFrame)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quorvel

BENCHMARK_MAIN();
