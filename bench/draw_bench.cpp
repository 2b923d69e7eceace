// CPU time per draw: a small mesh with a ~5 KB uniform block into a 1x1 frame buffer, through
// the engine's draw path (material apply, program cache, block push, batch draw) against a
// raw GL loop that uploads the same block and draws the same mesh.
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <cstring>

#include "bench/RawGL.h"
#include "framework/gui3d/Material.h"
#include "framework/platform/Platform.h"
#include "framework/rtl/Thread.h"
#include "framework/rtl/Units.h"
#include "lib/context/ContextShader.h"
#include "lib/context/ContextTypesLights.h"
#include "lib/context/windows/ContextGLESWindows.h"

namespace quorvel {
namespace {

struct TBlock {
  float Transform[16];
  TQuorvelShaderMaterial Material;
  TQuorvelShaderLight Lights[32];
};

const char* const VertexText =
    "#version 430\n"
    "layout(std140) uniform ShaderData { mat4 _Transform; vec4 _Material[41]; vec4 _Lights[288]; };\n"
    "in vec3 a_Position; in vec4 a_Color; out vec4 v_Color;\n"
    "void main() { v_Color = a_Color * _Material[2]; gl_Position = _Transform * vec4(a_Position, 1.0); }\n";
const char* const PixelText =
    "#version 430\nin vec4 v_Color; out vec4 o_Color;\nvoid main() { o_Color = v_Color; }\n";

// The block is registered on the program once and pushed before every draw, as the engine's
// materials do.
class TBlockMaterial : public TCustomMaterial {
public:
  TBlock Block{};

protected:
  void DoInitialize() override {
    FVertexShader = TShaderManager::RegisterShaderFromData(
        "Bench.Draw.fvs", TContextShaderKind::VertexShader, "",
        {TContextShaderSource(TContextShaderArch::GLSL, TContextShaderSource::CodeFromText(VertexText))});
    FPixelShader = TShaderManager::RegisterShaderFromData(
        "Bench.Draw.fps", TContextShaderKind::PixelShader, "",
        {TContextShaderSource(TContextShaderArch::GLSL, TContextShaderSource::CodeFromText(PixelText))});
    Block.Material = CreateDefaultShaderMaterial();
    for (int i = 0; i < 4; ++i) Block.Transform[i * 5] = 1;
  }
  void DoApply(TContext3D* AContext) override {
    TCustomMaterial::DoApply(AContext);
    if (TShaderProgram* program = TShaderProgramCache::GetCurrent()) {
      program->RegisterUniformBuffer("ShaderData", &Block, sizeof(Block));
      program->PushUniformBuffers();
    }
  }
};

class TBenchContext : public TContextOpenGLWindows {
public:
  using TContextOpenGLWindows::TContextOpenGLWindows;

protected:
  void DoSetVertexPixelShaders(TContextShader* VS, TContextShader* PS) override {
    TShaderProgramCache::DoSetShaders(ClassType(), VS, nullptr, nullptr, nullptr, PS);
  }
};

struct TVertex {
  float X, Y, Z;
  float R, G, B, A;
};
const TVertex Mesh[4] = {{-1, -1, 0, 1, 0, 0, 1}, {1, -1, 0, 1, 0, 0, 1}, {1, 1, 0, 1, 0, 0, 1}, {-1, 1, 0, 1, 0, 0, 1}};
const uint16_t MeshIndices[6] = {0, 1, 2, 0, 2, 3};
const TVertexDeclaration Declaration{{TVertexFormat::Vertex, 0}, {TVertexFormat::ColorF0, 12}};

// llvmpipe keeps every draw (and each orphaned block store) of an unflushed scene; without a
// regular flush the memory of the queued scene, not the draw, decides the time. Both loops
// flush every 64 draws.
void FlushEvery64(int64_t& ACount) {
  if ((++ACount & 63) == 0) glFlush();
}

GLuint Target1x1 = 0;

// The draws must have reached the target: its pixel is the mesh's red.
void CheckDrawn(benchmark::State& state) {
  glFinish();
  uint8_t pixel[4] = {};
  glBindFramebuffer(GL_FRAMEBUFFER, Target1x1);
  glReadPixels(0, 0, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
  if (pixel[0] != 255 || pixel[1] != 0 || pixel[2] != 0) state.SkipWithError("the mesh was not drawn");
  glClearColor(0, 0, 0, 0);
  glClear(GL_COLOR_BUFFER_BIT);
}

// Draws go to the 1x1 frame buffer, whatever the context bound meanwhile.
void UseTarget() {
  glBindFramebuffer(GL_FRAMEBUFFER, Target1x1);
  glViewport(0, 0, 1, 1);
}

// Units, the shared GL context and a 1x1 frame buffer, once per process.
void Setup() {
  static bool done = [] {
    SetMainThread();
    InitializeUnits();
    if (!TContextOpenGLWindows::StaticMeta()->Valid()) throw Exception("no GL context");
    TCustomContextWindows* shared = TCustomContextWindows::SharedContext();
    wglMakeCurrent(shared->GetHDC(), shared->GetGLContext());
    GLuint color = 0, fbo = 0;
    glGenRenderbuffers(1, &color);
    glBindRenderbuffer(GL_RENDERBUFFER, color);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, 1, 1);
    glGenFramebuffers(1, &fbo);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, color);
    Target1x1 = fbo;
    return true;
  }();
  (void)done;
}

void BM_EngineDrawPath(benchmark::State& state) {
  Setup();
  TOwned<TBenchContext> context(New<TBenchContext>(nullptr, 1, 1, TMultisample::None, false));
  TOwned<TBlockMaterial> material(New<TBlockMaterial>());
  UseTarget();
  glClearColor(0, 0, 0, 0);
  glClear(GL_COLOR_BUFFER_BIT);
  int64_t count = 0;
  for (auto _ : state) {
    FlushEvery64(count);
    material->Block.Transform[12] = material->Block.Transform[12] == 0 ? 0.001f : 0;  // new data each draw
    context->DrawPrimitives(TPrimitivesKind::Triangles, Mesh, MeshIndices, Declaration, sizeof(TVertex), 4, 2, 6,
                            material.get(), 1.0f);
    // The engine's primitive draw ends with no program current.
    if (state.range(0)) ShaderProgramClass->ActivateDefault();
  }
  CheckDrawn(state);
  // The program outlives the material: its block entry must not keep pointing at freed data.
  if (TShaderProgram* program = TShaderProgramCache::Find(material->GetVertexShader(), material->GetPixelShader()))
    program->UnregisterUniformBufferByName("ShaderData");
  material.reset();
  context.reset();
}
// Arg 1: as the engine's primitive draw ends (no program current afterwards); 0: the program
// stays current between draws.
BENCHMARK(BM_EngineDrawPath)->Arg(1)->Arg(0);

void BM_RawGLDraw(benchmark::State& state) {
  Setup();
  const GLuint vs = bench::CompileShader(GL_VERTEX_SHADER, VertexText), ps = bench::CompileShader(GL_FRAGMENT_SHADER, PixelText);
  const GLuint prog = glCreateProgram();
  glAttachShader(prog, vs);
  glAttachShader(prog, ps);
  glBindAttribLocation(prog, 0, "a_Position");
  glBindAttribLocation(prog, 2, "a_Color");
  glLinkProgram(prog);
  const GLuint blockIndex = glGetUniformBlockIndex(prog, "ShaderData");
  GLuint ubo = 0;
  glGenBuffers(1, &ubo);
  TBlock block{};
  block.Material = CreateDefaultShaderMaterial();
  for (int i = 0; i < 4; ++i) block.Transform[i * 5] = 1;
  UseTarget();
  glClearColor(0, 0, 0, 0);
  glClear(GL_COLOR_BUFFER_BIT);
  int64_t count = 0;
  for (auto _ : state) {
    FlushEvery64(count);
    block.Transform[12] = block.Transform[12] == 0 ? 0.001f : 0;
    glUseProgram(prog);
    glBindBuffer(GL_UNIFORM_BUFFER, ubo);
    glBufferData(GL_UNIFORM_BUFFER, sizeof(block), &block, GL_DYNAMIC_DRAW);
    glBindBuffer(GL_UNIFORM_BUFFER, 0);
    glBindBufferBase(GL_UNIFORM_BUFFER, 0, ubo);
    glUniformBlockBinding(prog, blockIndex, 0);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, sizeof(TVertex), &Mesh[0].X);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(2, 4, GL_FLOAT, GL_FALSE, sizeof(TVertex), &Mesh[0].R);
    glEnableVertexAttribArray(2);
    glDrawElements(GL_TRIANGLES, 6, GL_UNSIGNED_SHORT, MeshIndices);
    glDisableVertexAttribArray(0);
    glDisableVertexAttribArray(2);
    glUseProgram(0);
  }
  CheckDrawn(state);
  glDeleteBuffers(1, &ubo);
  glDeleteProgram(prog);
  glDeleteShader(vs);
  glDeleteShader(ps);
}
BENCHMARK(BM_RawGLDraw);



}  // namespace
}  // namespace quorvel

BENCHMARK_MAIN();
