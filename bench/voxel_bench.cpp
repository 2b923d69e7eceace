// The voxelization pass on the demo's scene (its form: the monkey above the 100 x 100 floor,
// three spot lights) at voxel sizes 32, 64 and 128: the engine running its pre-processing
// passes (the voxelize pass alone) against raw GL linking the pass's own vertex, geometry and
// pixel texts, binding the pass's 3D texture on image unit 0, clearing it and drawing the same
// meshes with the same uniforms and block into a V x V raster, eight cascades, then the same
// barrier. Before timing, the two are run once each into the texture and their voxels compared.
// Both wait for the GPU at the end of each run. The interleaved rows give the ratio to read: on
// a loaded llvmpipe the engine's side varies far more than the raw one, and with LP_NUM_THREADS=0
// (no rasteriser threads) the two take the same time, so the gap is in how the engine's draws
// meet llvmpipe's threads, not in work it adds.
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/DemoForm.h"
#include "bench/EngineGL.h"
#include "bench/RawGL.h"
#include "demo/Unit1.h"
#include "framework/gui/Application.h"
#include "framework/rtl/Stopwatch.h"
#include "lib/context/Context.h"
#include "lib/context/ContextTexturing.h"
#include "lib/context/ContextTypes.h"
#include "lib/context/windows/ContextGLESWindows.h"
#include "lib/defs/DefTypes.h"
#include "lib/passes/ContextRendering.h"
#include "lib/passes/ControllerPassesVoxelize.h"

namespace quorvel {
namespace {

// The demo's form (read from the demo's folder, so that it finds its model) with a voxelize
// pass on its viewport; frames come from RenderManual alone. Made once for every row and
// freed before the program ends, while the GL context still exists.
struct TVoxelScene {
  TOwned<TForm1> Form;
  TQuorvelViewport* Viewport = nullptr;
  TQuorvelRenderPassVoxelize* Pass = nullptr;  // owned by the viewport
  TQuorvelContext* Context = nullptr;
  TRenderContext Frame;

  TVoxelScene() {
    bench::SetupEngineGL();
    Form = bench::ShowDemoForm();
    Viewport = Form->QuorvelViewport1;
    Pass = New<TQuorvelRenderPassVoxelize>(Viewport, "voxels");
    Pass->SetViewport(Viewport);
    Viewport->RenderManual();  // the render list, the lights and the pass's program
    Context = dynamic_cast<TQuorvelContext*>(Viewport->GetContext());
    if (!Context) throw Exception("the demo's viewport has no engine context");
    Frame.Viewport = Viewport;
    Frame.ListRenderingProc = [this](PRenderContext r) { Viewport->RenderRenderList(r); };
  }

  // At size V, voxelized once: programs and targets made outside any timing.
  void Prepare(int32_t V) {
    SetVoxelSize(V);
    Voxelize();
    glFinish();
  }

  void SetVoxelSize(int32_t V) {
    if (Pass->GetVoxelSize() == V) return;
    Pass->SetVoxelSize(V);
    Viewport->RenderManual();
  }

  // What the frame runs before its main pass: here the voxelize pass alone.
  void Voxelize() { Context->PreProcessing(&Frame); }

  TQuorvelTexture* Voxels() const { return dynamic_cast<TQuorvelTexture*>(Pass->GetTexture3D()); }

  std::vector<uint8_t> ReadVoxels() const {
    const int32_t V = Pass->GetVoxelSize();
    std::vector<uint8_t> bytes(size_t(V) * V * 8 * V * 4);
    glBindTexture(GL_TEXTURE_3D, GLuint(Voxels()->GetHandle()));
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_3D, 0, GL_RGBA, GL_UNSIGNED_BYTE, bytes.data());
    glBindTexture(GL_TEXTURE_3D, 0);
    return bytes;
  }
};

TVoxelScene* Scene = nullptr;

TVoxelScene& GetScene() {
  if (!Scene) Scene = new TVoxelScene;
  return *Scene;
}

void BM_EngineVoxelize(benchmark::State& state) {
  TVoxelScene& scene = GetScene();
  scene.Prepare(int32_t(state.range(0)));
  TQuorvelContext::ResetDrawCallDiagnostics();
  scene.Voxelize();
  glFinish();
  state.counters["draws"] = double(GlobalDrawCalls.load());
  for (auto _ : state) {
    scene.Voxelize();
    glFinish();
  }
}

// One mesh as the raw side draws it: positions and normals, 32-bit indices, its matrix.
struct TRawMesh {
  std::vector<float> Vertices;
  std::vector<uint32_t> Indices;
  TMatrix3D Model;
  GLuint Vao = 0, Buffers[2] = {};
};

// A mesh of the render list as the engine's mesh draws it (the list holds the model's meshes
// beside the model, which draws nothing of its own).
void CollectMesh(TControl3D* AControl, std::vector<TRawMesh>& AOut) {
  auto* mesh = dynamic_cast<TQuorvelMesh*>(AControl);
  if (mesh && !dynamic_cast<TQuorvelModel*>(mesh) && mesh->GetVisible()) {
    TMeshDef* def = mesh->GetMeshDef();
    if (!def || def->GetRenderByVertexGroups()) return;
    const TVertexBuffer* vb = def->GetVertexSource();
    const TIndexBuffer* ib = def->GetIndexSource();
    if (vb && ib && ib->Length() >= 3) {
      TRawMesh& m = AOut.emplace_back();
      for (int32_t i = 0; i < vb->Length(); ++i) {
        const TPoint3D p = vb->GetVertices(i), n = vb->GetNormals(i);
        m.Vertices.insert(m.Vertices.end(), {p.X, p.Y, p.Z, n.X, n.Y, n.Z});
      }
      for (int32_t i = 0; i < ib->Length(); ++i) m.Indices.push_back(ib->GetIndices(i));
      m.Model = mesh->GetMeshMatrix() * mesh->GetAbsoluteMatrix();
    }
  }
}

// The pass done with plain GL calls on what the engine's pass was given after its last run:
// the render list's meshes, the block with the lights, the voxel centre, the texture.
class TRawVoxelizer {
public:
  explicit TRawVoxelizer(TVoxelScene& AScene) : V(AScene.Pass->GetVoxelSize()) {
    TVoxelizeMaterial* material = AScene.Pass->Material();
    FBlock = material->GetParams();
    FCenter = material->GetVoxelCenter();
    FViewProj = AScene.Pass->GetTextureMatrix(AScene.Context, false);
    FVoxels = GLuint(AScene.Voxels()->GetHandle());
    for (TControl3D* item : AScene.Viewport->GetRenderingList()) CollectMesh(item, FMeshes);
    TCustomContextWindows* shared = TCustomContextWindows::SharedContext();
    wglMakeCurrent(shared->GetHDC(), shared->GetGLContext());
    FProg = bench::LinkProgram(TVoxelizeMaterial::VertexShaderText, TVoxelizeMaterial::GeometryShaderText,
                               TVoxelizeMaterial::PixelShaderText,
                               {{0, "a_Position"}, {1, "a_Normal"}, {12, "a_ModelMatrix"}});
    FMvpAt = glGetUniformLocation(FProg, "_ModelViewProjectionMatrix");
    FScaleAt = glGetUniformLocation(FProg, "_SceneScale");
    FCenterAt = glGetUniformLocation(FProg, "_VoxelCenter");
    FImageAt = glGetUniformLocation(FProg, "_Texture3D");
    glUniformBlockBinding(FProg, glGetUniformBlockIndex(FProg, "VoxelizeShaderData"), 0);
    glGenBuffers(1, &FUbo);
    for (TRawMesh& m : FMeshes) {
      glGenVertexArrays(1, &m.Vao);
      glBindVertexArray(m.Vao);
      glGenBuffers(2, m.Buffers);
      glBindBuffer(GL_ARRAY_BUFFER, m.Buffers[0]);
      glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(m.Vertices.size() * 4), m.Vertices.data(), GL_STATIC_DRAW);
      glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, m.Buffers[1]);
      glBufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(m.Indices.size() * 4), m.Indices.data(), GL_STATIC_DRAW);
      glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 24, nullptr);
      glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, 24, reinterpret_cast<void*>(12));
      glEnableVertexAttribArray(0);
      glEnableVertexAttribArray(1);
    }
    glBindVertexArray(0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    // The raster the fragments come from: V x V, nothing written to it.
    glGenTextures(1, &FTarget);
    glBindTexture(GL_TEXTURE_2D, FTarget);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, V, V, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
    glBindTexture(GL_TEXTURE_2D, 0);
    glGenFramebuffers(1, &FFbo);
    glBindFramebuffer(GL_FRAMEBUFFER, FFbo);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, FTarget, 0);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
  }
  TRawVoxelizer(const TRawVoxelizer&) = delete;
  TRawVoxelizer& operator=(const TRawVoxelizer&) = delete;
  ~TRawVoxelizer() {
    glUseProgram(0);
    for (TRawMesh& m : FMeshes) {
      glDeleteVertexArrays(1, &m.Vao);
      glDeleteBuffers(2, m.Buffers);
    }
    glDeleteFramebuffers(1, &FFbo);
    glDeleteTextures(1, &FTarget);
    glDeleteBuffers(1, &FUbo);
    glDeleteProgram(FProg);
  }

  int32_t Draws() const { return 8 * int32_t(FMeshes.size()); }
  int32_t Lights() const { return FBlock.NumberOfLights; }

  void Run() {
    glBindFramebuffer(GL_FRAMEBUFFER, FFbo);
    glViewport(0, 0, V, V);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_BLEND);
    glDisable(GL_CULL_FACE);
    glDisable(GL_SCISSOR_TEST);
    glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
    const uint8_t zero[4] = {};
    glClearTexImage(FVoxels, 0, GL_RGBA, GL_UNSIGNED_BYTE, zero);
    glUseProgram(FProg);
    glBindImageTexture(0, FVoxels, 0, GL_TRUE, 0, GL_READ_WRITE, GL_RGBA8);
    glUniform1i(FImageAt, 0);
    glUniform3f(FCenterAt, FCenter.X, FCenter.Y, FCenter.Z);
    glBindBufferBase(GL_UNIFORM_BUFFER, 0, FUbo);
    for (int32_t i = 0; i < 8; ++i) {
      // A fresh store per cascade: rewriting the one the last cascade's draws read would wait
      // for them.
      FBlock.TextureOffset = TPoint3D(0, 0, float(i * V));
      glBufferData(GL_UNIFORM_BUFFER, sizeof(FBlock), &FBlock, GL_DYNAMIC_DRAW);
      glUniform1f(FScaleAt, TQuorvelRenderPassVoxelize::CascadeSceneScale(i));
      for (const TRawMesh& m : FMeshes) {
        const TMatrix3D mvp = m.Model * FViewProj;
        glUniformMatrix4fv(FMvpAt, 1, GL_FALSE, &mvp.m11);
        for (GLuint k = 0; k < 4; ++k) glVertexAttrib4fv(12 + k, &m.Model.m11 + 4 * k);
        glBindVertexArray(m.Vao);
        glDrawElements(GL_TRIANGLES, GLsizei(m.Indices.size()), GL_UNSIGNED_INT, nullptr);
      }
    }
    glBindVertexArray(0);
    glMemoryBarrier(GL_SHADER_IMAGE_ACCESS_BARRIER_BIT);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glUseProgram(0);
  }

private:
  const int32_t V;
  TVoxelizeShaderData FBlock;
  TPoint3D FCenter;
  TMatrix3D FViewProj;
  GLuint FVoxels = 0, FProg = 0, FUbo = 0, FTarget = 0, FFbo = 0;
  GLint FMvpAt = -1, FScaleAt = -1, FCenterAt = -1, FImageAt = -1;
  std::vector<TRawMesh> FMeshes;
};

// The engine's voxels against the raw side's, run once each into the same texture: an error
// when they do not agree. Voxels that two triangles both reach may take either one's colour,
// so a few may differ.
bool CompareVoxels(benchmark::State& state, TVoxelScene& AScene, TRawVoxelizer& ARaw) {
  AScene.Voxelize();
  glFinish();
  const std::vector<uint8_t> engine = AScene.ReadVoxels();
  ARaw.Run();
  glFinish();
  const std::vector<uint8_t> raw = AScene.ReadVoxels();
  int64_t filled = 0, differing = 0;
  for (size_t i = 0; i < raw.size(); i += 4) {
    filled += engine[i + 3] != 0;
    for (size_t c = 0; c < 4; ++c)
      if (std::abs(int(raw[i + c]) - int(engine[i + c])) > 1) {
        ++differing;
        break;
      }
  }
  state.counters["draws"] = double(ARaw.Draws());
  state.counters["filled"] = double(filled);
  state.counters["differing"] = double(differing);
  if (ARaw.Lights() != 3)
    state.SkipWithError("the engine's block does not hold the demo's three lights");
  else if (filled == 0)
    state.SkipWithError("the engine wrote no voxel");
  else if (differing * 100 > filled)
    state.SkipWithError("the raw voxels differ from the engine's");
  return !state.error_occurred();
}

void BM_RawGLVoxelize(benchmark::State& state) {
  TVoxelScene& scene = GetScene();
  scene.Prepare(int32_t(state.range(0)));
  TRawVoxelizer raw(scene);
  if (!CompareVoxels(state, scene, raw)) return;
  for (auto _ : state) {
    raw.Run();
    glFinish();
  }
}

// The two in turn within one iteration, timed apart: load from elsewhere on the machine
// reaches both alike, so their ratio holds better than that of two rows run one after the
// other. The row's own time is the sum.
void BM_InterleavedVoxelize(benchmark::State& state) {
  TVoxelScene& scene = GetScene();
  scene.Prepare(int32_t(state.range(0)));
  TRawVoxelizer raw(scene);
  if (!CompareVoxels(state, scene, raw)) return;
  using TClock = std::chrono::steady_clock;
  TClock::duration engineTime{}, rawTime{};
  for (auto _ : state) {
    const TClock::time_point t0 = TClock::now();
    scene.Voxelize();
    glFinish();
    const TClock::time_point t1 = TClock::now();
    raw.Run();
    glFinish();
    rawTime += TClock::now() - t1;
    engineTime += t1 - t0;
  }
  const double n = double(state.iterations());
  state.counters["engine_ms"] = std::chrono::duration<double, std::milli>(engineTime).count() / n;
  state.counters["raw_ms"] = std::chrono::duration<double, std::milli>(rawTime).count() / n;
  state.counters["ratio"] = double(engineTime.count()) / double(std::max<TClock::rep>(rawTime.count(), 1));
}

// Each size's engine row, its raw row, then both interleaved.
#define VOXEL_ROWS(V)                                                                              \
  BENCHMARK(BM_EngineVoxelize)->ArgName("V")->Arg(V)->Unit(benchmark::kMillisecond)->UseRealTime(); \
  BENCHMARK(BM_RawGLVoxelize)->ArgName("V")->Arg(V)->Unit(benchmark::kMillisecond)->UseRealTime();  \
  BENCHMARK(BM_InterleavedVoxelize)->ArgName("V")->Arg(V)->Unit(benchmark::kMillisecond)->UseRealTime();
VOXEL_ROWS(32)
VOXEL_ROWS(64)
VOXEL_ROWS(128)

}  // namespace
}  // namespace quorvel

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  delete quorvel::Scene;
  benchmark::Shutdown();
  return 0;
}
