// The scene path of a mesh draw: 100 static cubes through the viewport's list (matrix,
// instances, material apply, draw) into a 64x64 frame, against a raw GL loop that uploads the
// same 64-byte instance block and draws the same kind of static buffers 100 times per frame.
// The raw loop runs twice: with one vertex buffer for every cube (the floor), and with a
// vertex array and buffers of its own per cube, as each cube of the scene owns its mesh's
// buffers (switching them between draws makes llvmpipe revalidate its pixel state for each
// draw). All report the CPU time per draw (per_draw).
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <vector>

#include "bench/EngineGL.h"
#include "bench/RawGL.h"
#include "framework/gui/Canvas.h"
#include "framework/gui/Form.h"
#include "framework/gui3d/Material.h"
#include "framework/platform/Platform.h"
#include "framework/rtl/Stopwatch.h"
#include "framework/rtl/Thread.h"
#include "framework/rtl/Units.h"
#include "lib/context/windows/ContextGLESWindows.h"
#include "lib/scene/Cube.h"
#include "lib/scene/Viewport.h"

namespace quorvel {
namespace {

constexpr int W = 64, H = 64, Cubes = 100;

TPoint3D Place(int i) { return {float(i % 10) * 0.4f - 1.8f, float(i / 10) * 0.4f - 1.8f, 0}; }

void BM_MeshSceneFrame(benchmark::State& state) {
  bench::SetupEngineGL();
  TManualClock clock;
  TScopedClock scoped(clock);
  TOwned<TForm> form(New<TForm>(nullptr));
  form->SetClientWidth(W);
  form->SetClientHeight(H);
  form->Show();
  auto* viewport = New<TQuorvelViewport>(form.get());
  viewport->SetRendererType(TRendererType::LegacyRenderer);
  viewport->SetUseFixedFrameRate(true);
  auto* material = New<TColorMaterialSource>(form.get());
  material->SetColor(claRed);
  for (int i = 0; i < Cubes; ++i) {
    auto* cube = New<TQuorvelCube>(form.get());
    cube->SetWidth(0.3f);
    cube->SetHeight(0.3f);
    cube->SetDepth(0.3f);
    cube->GetPosition()->SetPoint(Place(i));
    cube->SetMaterialSource(material);
    cube->SetParent(viewport);
  }
  TCanvas* canvas = viewport->GetCanvas();
  for (auto _ : state) {
    if (canvas->BeginScene()) {
      viewport->RenderFrame();
      canvas->EndScene();
    }
  }
  state.counters["per_draw"] = benchmark::Counter(double(Cubes),
                                                     benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
}
BENCHMARK(BM_MeshSceneFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

// AOwnBuffers: a vertex array with its own vertex and index buffers per cube, bound before
// each draw; otherwise one for all.
void RunRawGLFrame(benchmark::State& state, bool AOwnBuffers) {
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
                            "#version 430\nlayout(location = 0) in vec3 a_Position;\n"
                            "layout(location = 12) in mat4 a_Model; uniform mat4 VP;\n"
                            "void main() { gl_Position = VP * (a_Model * vec4(a_Position, 1.0)); }\n");
  const GLuint ps = bench::CompileShader(GL_FRAGMENT_SHADER,
                            "#version 430\nout vec4 o_Color; void main() { o_Color = vec4(1, 0, 0, 1); }\n");
  const GLuint prog = glCreateProgram();
  glAttachShader(prog, vs);
  glAttachShader(prog, ps);
  glLinkProgram(prog);
  // The cube's 24 vertices (six formats' worth of floats, as a mesh's buffer) and 36 indices.
  std::vector<float> vertices(24 * 20, 0.0f);
  for (int i = 0; i < 24; ++i) {
    vertices[size_t(i) * 20 + 0] = (i & 1) ? 0.5f : -0.5f;
    vertices[size_t(i) * 20 + 1] = (i & 2) ? 0.5f : -0.5f;
    vertices[size_t(i) * 20 + 2] = (i & 4) ? 0.5f : -0.5f;
  }
  std::vector<uint32_t> indices(36);
  for (int i = 0; i < 36; ++i) indices[size_t(i)] = uint32_t(i % 24);
  const size_t sets = AOwnBuffers ? size_t(Cubes) : 1;
  std::vector<GLuint> vao(sets), vbo(sets), ibo(sets);
  GLuint inst = 0;
  glGenBuffers(1, &inst);
  glGenVertexArrays(GLsizei(sets), vao.data());
  glGenBuffers(GLsizei(sets), vbo.data());
  glGenBuffers(GLsizei(sets), ibo.data());
  for (size_t c = 0; c < sets; ++c) {
    glBindVertexArray(vao[c]);
    glBindBuffer(GL_ARRAY_BUFFER, vbo[c]);
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(vertices.size() * 4), vertices.data(), GL_STATIC_DRAW);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 80, nullptr);
    glEnableVertexAttribArray(0);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, ibo[c]);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(indices.size() * 4), indices.data(), GL_STATIC_DRAW);
    glBindBuffer(GL_ARRAY_BUFFER, inst);
    for (GLuint k = 0; k < 4; ++k) {
      glVertexAttribPointer(12 + k, 4, GL_FLOAT, GL_FALSE, 64, reinterpret_cast<void*>(uintptr_t(16 * k)));
      glEnableVertexAttribArray(12 + k);
      glVertexAttribDivisor(12 + k, 1);
    }
  }
  const TMatrix3D vp = TMatrix3D::CreateLookAtDirRH({0, 0, -5}, {0, 0, 1}, {0, -1, 0}) *
                       TMatrix3D::CreatePerspectiveFovRH(45 * 3.14159265f / 180, float(W) / H, 0.1f, 1000);
  std::vector<uint8_t> pixels(size_t(W) * H * 4);
  glViewport(0, 0, W, H);
  glEnable(GL_DEPTH_TEST);
  for (auto _ : state) {
    glClearColor(0, 0, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glUseProgram(prog);
    for (int i = 0; i < Cubes; ++i) {
      const TMatrix3D model = TMatrix3D::CreateScaling({0.3f, 0.3f, 0.3f}) * TMatrix3D::CreateTranslation(Place(i));
      if (AOwnBuffers) glBindVertexArray(vao[size_t(i)]);
      glUniformMatrix4fv(glGetUniformLocation(prog, "VP"), 1, GL_FALSE, &vp.m11);
      glBufferData(GL_ARRAY_BUFFER, 64, &model.m11, GL_STREAM_DRAW);
      glDrawElementsInstanced(GL_TRIANGLES, 36, GL_UNSIGNED_INT, nullptr, 1);
    }
    glReadPixels(0, 0, W, H, GL_BGRA, GL_UNSIGNED_BYTE, pixels.data());
  }
  state.counters["per_draw"] = benchmark::Counter(double(Cubes),
                                                     benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
  glBindVertexArray(0);
  glDeleteVertexArrays(GLsizei(sets), vao.data());
  glDeleteBuffers(GLsizei(sets), vbo.data());
  glDeleteBuffers(GLsizei(sets), ibo.data());
  glDeleteBuffers(1, &inst);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  glDeleteFramebuffers(1, &fbo);
  glDeleteRenderbuffers(1, &depth);
  glDeleteTextures(1, &color);
  glDeleteProgram(prog);
  glDeleteShader(vs);
  glDeleteShader(ps);
}

void BM_RawGLFrame(benchmark::State& state) { RunRawGLFrame(state, false); }
BENCHMARK(BM_RawGLFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RawGLFrameOwnBuffers(benchmark::State& state) { RunRawGLFrame(state, true); }
BENCHMARK(BM_RawGLFrameOwnBuffers)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace quorvel

BENCHMARK_MAIN();
