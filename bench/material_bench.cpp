// The default material's costs: text generation per rebuild, the first draw of a preset
// (generation, compile, link, first draw) with Mesa's shader cache off and warm, each in a
// child process of this run, and a steady apply + draw of a quad against a raw GL loop that
// uses the same program and uploads the same 6352-byte block.
//
// A child is this program started as "material_bench --first-draw=<Blinn|PBR>"; it prints the
// milliseconds of its first draw and whether a second apply compiled anything.
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "bench/RawGL.h"
#include "framework/platform/Platform.h"
#include "framework/rtl/Thread.h"
#include "framework/rtl/Units.h"
#include "lib/context/ContextShader.h"
#include "lib/context/windows/ContextGLESWindows.h"
#include "lib/materials/MaterialBlinn.h"
#include "lib/materials/MaterialPBR.h"

namespace quorvel {
namespace {

std::string SelfPath;

struct TVertex {
  float X, Y, Z, NX, NY, NZ, U, V;
};
const TVertex Quad[4] = {{-1, -1, 0, 0, 0, 1, 0, 0}, {1, -1, 0, 0, 0, 1, 1, 0}, {1, 1, 0, 0, 0, 1, 1, 1},
                         {-1, 1, 0, 0, 0, 1, 0, 1}};
const uint16_t QuadIndices[6] = {0, 1, 2, 0, 2, 3};
const TVertexDeclaration QuadDeclaration{
    {TVertexFormat::Vertex, 0}, {TVertexFormat::Normal, 12}, {TVertexFormat::TexCoord0, 24}};

GLuint Target = 0;

void UseTarget() {
  glBindFramebuffer(GL_FRAMEBUFFER, Target);
  glViewport(0, 0, 4, 4);
}

// Units, the shared GL context and a 4x4 frame buffer, once per process.
void Setup() {
  static bool done = [] {
    SetMainThread();
    InitializeUnits();
    if (!TContextOpenGLWindows::StaticMeta()->Valid()) throw Exception("no GL context");
    TCustomContextWindows* shared = TCustomContextWindows::SharedContext();
    wglMakeCurrent(shared->GetHDC(), shared->GetGLContext());
    GLuint color = 0;
    glGenRenderbuffers(1, &color);
    glBindRenderbuffer(GL_RENDERBUFFER, color);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, 4, 4);
    glGenFramebuffers(1, &Target);
    glBindFramebuffer(GL_FRAMEBUFFER, Target);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, color);
    return true;
  }();
  (void)done;
}

TQuorvelDefaultMaterialSource* MakePreset(bool APBR) {
  if (APBR) return New<TQuorvelPBRMaterialSource>(nullptr);
  return New<TQuorvelBlinnMaterialSource>(nullptr);
}

// ---- generation -------------------------------------------------------------------------------

// One switch, one rebuild of both stages' texts.
void BM_GenerateTexts(benchmark::State& state) {
  Setup();
  TOwned<TQuorvelDefaultMaterialSource> source(MakePreset(state.range(0) != 0));
  bool on = false;
  for (auto _ : state) {
    on = !on;
    source->SetUseSpecular(on);
    benchmark::DoNotOptimize(source->DefaultMaterial()->GetFSShaderSource().CodeAsText().size());
  }
  state.SetLabel(state.range(0) ? "PBR" : "Blinn");
}
BENCHMARK(BM_GenerateTexts)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// ---- first draw in a child process ------------------------------------------------------------

// The child's work: a new preset source, its first apply and draw, then a second draw.
int FirstDrawChild(bool APBR) {
  Setup();
  TOwned<TContextOpenGLWindows> context(New<TContextOpenGLWindows>(nullptr, 4, 4, TMultisample::None, false));
  UseTarget();
  const auto start = std::chrono::steady_clock::now();
  TOwned<TQuorvelDefaultMaterialSource> source(MakePreset(APBR));
  const double generation =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  context->DrawPrimitives(TPrimitivesKind::Triangles, Quad, QuadIndices, QuadDeclaration, sizeof(TVertex), 4, 2, 6,
                          source->GetMaterial(), 1.0f);
  glFinish();
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  const int32_t programs = TShaderProgramCache::Count();
  TContextShader* vs = static_cast<TCustomMaterial*>(source->GetMaterial())->GetVertexShader();
  context->DrawPrimitives(TPrimitivesKind::Triangles, Quad, QuadIndices, QuadDeclaration, sizeof(TVertex), 4, 2, 6,
                          source->GetMaterial(), 1.0f);
  glFinish();
  const bool compiled = TShaderProgramCache::Count() != programs ||
                        static_cast<TCustomMaterial*>(source->GetMaterial())->GetVertexShader() != vs;
  std::printf("%.3f %d %.3f\n", ms, compiled ? 1 : 0, generation);
  source.reset();
  context.reset();
  return 0;
}

// Runs a child; false when it failed. AMs: its first draw; ACompiledAgain: its second apply;
// AGeneration: the part of AMs that made the source and its texts.
bool RunChild(bool APBR, const std::string& ACacheDir, double& AMs, bool& ACompiledAgain, double& AGeneration) {
  const std::string env = ACacheDir.empty() ? "MESA_SHADER_CACHE_DISABLE=true"
                                            : "MESA_SHADER_CACHE_DISABLE=false MESA_SHADER_CACHE_DIR=" + ACacheDir;
  const std::string command =
      "env " + env + " '" + SelfPath + "' --first-draw=" + (APBR ? "PBR" : "Blinn") + " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return false;
  int compiledAgain = 1;
  const int read = std::fscanf(pipe, "%lf %d %lf", &AMs, &compiledAgain, &AGeneration);
  const int status = pclose(pipe);
  ACompiledAgain = compiledAgain != 0;
  return read == 3 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Arg 0: Blinn or PBR; arg 1: cache off (0) or warm (1). The time is the child's own
// measurement of its first draw, not the process start.
void BM_FirstDraw(benchmark::State& state) {
  const bool pbr = state.range(0) != 0, warm = state.range(1) != 0;
  std::string cache;
  if (warm) {
    cache = (std::filesystem::temp_directory_path() / ("quorvel-material-bench-" + std::to_string(getpid()))).string();
    std::filesystem::create_directories(cache);
    double ms = 0, generation = 0;
    bool again = false;
    if (!RunChild(pbr, cache, ms, again, generation)) state.SkipWithError("the warming child failed");
  }
  bool compiledAgain = false;
  double generations = 0;
  for (auto _ : state) {
    double ms = 0, generation = 0;
    bool again = false;
    if (!RunChild(pbr, cache, ms, again, generation)) {
      state.SkipWithError("the child failed");
      break;
    }
    compiledAgain = compiledAgain || again;
    generations += generation;
    state.SetIterationTime(ms / 1000.0);
  }
  state.counters["generation_ms"] = benchmark::Counter(generations, benchmark::Counter::kAvgIterations);
  state.counters["second_apply_compiled"] = compiledAgain ? 1 : 0;
  state.SetLabel(std::string(pbr ? "PBR" : "Blinn") + (warm ? ", cache warm" : ", cache off"));
  if (!cache.empty()) std::filesystem::remove_all(cache);
}
BENCHMARK(BM_FirstDraw)
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({1, 0})
    ->Args({1, 1})
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

// ---- steady draws -----------------------------------------------------------------------------

// llvmpipe queues every draw of an unflushed scene; both loops flush every 64 draws.
void FlushEvery64(int64_t& ACount) {
  if ((++ACount & 63) == 0) glFlush();
}

void BM_EngineApplyAndDraw(benchmark::State& state) {
  Setup();
  TOwned<TContextOpenGLWindows> context(New<TContextOpenGLWindows>(nullptr, 4, 4, TMultisample::None, false));
  TOwned<TQuorvelDefaultMaterialSource> source(MakePreset(false));
  UseTarget();
  int64_t count = 0;
  for (auto _ : state) {
    FlushEvery64(count);
    context->DrawPrimitives(TPrimitivesKind::Triangles, Quad, QuadIndices, QuadDeclaration, sizeof(TVertex), 4, 2, 6,
                            source->GetMaterial(), 1.0f);
  }
  glFinish();
  source.reset();
  context.reset();
}
BENCHMARK(BM_EngineApplyAndDraw);

// The Blinn preset's own texts and block, drawn with plain GL calls.
void BM_RawGLApplyAndDraw(benchmark::State& state) {
  Setup();
  TOwned<TQuorvelDefaultMaterialSource> source(MakePreset(false));
  auto* material = source->DefaultMaterial();
  const GLuint vs = bench::CompileShader(GL_VERTEX_SHADER, material->GetVSShaderSource().CodeAsText());
  const GLuint ps = bench::CompileShader(GL_FRAGMENT_SHADER, material->GetFSShaderSource().CodeAsText());
  const GLuint prog = glCreateProgram();
  glAttachShader(prog, vs);
  glAttachShader(prog, ps);
  glLinkProgram(prog);
  GLint linked = 0;
  glGetProgramiv(prog, GL_LINK_STATUS, &linked);
  if (!linked) state.SkipWithError("the preset's program did not link");
  const GLuint blockIndex = glGetUniformBlockIndex(prog, "ShaderData");
  GLuint ubo = 0;
  glGenBuffers(1, &ubo);
  TQuorvelShaderData block = material->GetShaderData();
  static_assert(sizeof(block) == 6352);
  UseTarget();
  int64_t count = 0;
  for (auto _ : state) {
    FlushEvery64(count);
    block.TimeInfo.Y = block.TimeInfo.Y == 0 ? 1.0f : 0.0f;  // new data each draw
    glUseProgram(prog);
    glBindBuffer(GL_UNIFORM_BUFFER, ubo);
    glBufferData(GL_UNIFORM_BUFFER, sizeof(block), &block, GL_DYNAMIC_DRAW);
    glBindBuffer(GL_UNIFORM_BUFFER, 0);
    glBindBufferBase(GL_UNIFORM_BUFFER, 0, ubo);
    glUniformBlockBinding(prog, blockIndex, 0);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, sizeof(TVertex), &Quad[0].X);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, sizeof(TVertex), &Quad[0].NX);
    glEnableVertexAttribArray(1);
    glVertexAttribPointer(6, 2, GL_FLOAT, GL_FALSE, sizeof(TVertex), &Quad[0].U);
    glEnableVertexAttribArray(6);
    glDrawElements(GL_TRIANGLES, 6, GL_UNSIGNED_SHORT, QuadIndices);
    glDisableVertexAttribArray(0);
    glDisableVertexAttribArray(1);
    glDisableVertexAttribArray(6);
    glUseProgram(0);
  }
  glFinish();
  glDeleteBuffers(1, &ubo);
  glDeleteProgram(prog);
  glDeleteShader(vs);
  glDeleteShader(ps);
}
BENCHMARK(BM_RawGLApplyAndDraw);

}  // namespace
}  // namespace quorvel

int main(int argc, char** argv) {
  quorvel::SelfPath = std::filesystem::canonical("/proc/self/exe").string();
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--first-draw=", 0) == 0) return quorvel::FirstDrawChild(arg.substr(13) == "PBR");
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
