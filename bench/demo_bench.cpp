// One demo frame at 640x480 (render and read back) against two raw-GL programs drawing the same
// monkey and floor under the same three spot lights. The floor of the comparison: a hand-written
// Blinn-Phong shader, a two-sample target, a resolve and one FXAA pass into one colour target.
// The peer of the frame's own work: the forward renderer's five targets (single-sampled, as its
// context is) with the floor and the monkey drawn by the very programs the material generator
// emits for them, fed the "ShaderData" blocks the engine sends (taken from one demo frame before
// the timing), the translucent targets cleared, the composition and FXAA shaders of the passes,
// and the read-back; its first picture is checked against the engine's frame. Mesh data is
// loaded and programs linked outside the timing. Every benchmark reports cpu_ms, the processor
// time of the whole process per frame (the rasteriser's threads included), which a loaded
// machine disturbs less than the wall time.
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/DemoForm.h"
#include "bench/EngineGL.h"
#include "bench/RawGL.h"
#include "demo/Unit1.h"
#include "framework/classes/FormText.h"
#include "framework/gui/Application.h"
#include "framework/gui/Canvas.h"
#include "framework/platform/Platform.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/Stopwatch.h"
#include "framework/rtl/Thread.h"
#include "framework/rtl/Units.h"
#include "lib/context/opengl/ContextShaderOpenGL.h"
#include "lib/context/windows/ContextGLESWindows.h"
#include "lib/defs/DefTypes.h"
#include "lib/formats/Loader.h"
#include "lib/materials/MaterialDefault.h"
#include "lib/passes/ControllerPassesDeferredComposite.h"
#include "lib/passes/ControllerPassesFXAA.h"
#include "lib/scene/Mesh.h"

namespace quorvel {
namespace {

constexpr int W = 640, H = 480;

double ProcessCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

// Processor time per iteration, from the start of the timed loop.
struct TCpuCounter {
  const double Start = ProcessCpuSeconds();
  void Report(benchmark::State& AState) const {
    if (AState.iterations() > 0)
      AState.counters["cpu_ms"] = (ProcessCpuSeconds() - Start) * 1000 / double(AState.iterations());
  }
};

// The demo itself: its form from the resource, frames through the viewport's manual render.
void BM_DemoFrame(benchmark::State& state) {
  bench::SetupEngineGL();
  try {
    TOwned<TForm1> probe(new TForm1(nullptr));
    ReadComponentResource(probe.get(), *FindFormResource("TFORM1"));
  } catch (const std::exception& e) {
    state.SkipWithError((std::string("the demo form does not read yet: ") + e.what()).c_str());
    return;
  }
  TManualClock clock;
  TScopedClock scoped(clock);
  TOwned<TForm1> form = bench::ShowDemoForm();
  TQuorvelViewport* viewport = form->QuorvelViewport1;
  form->Timer1Timer(form->Timer1);
  viewport->RenderManual();  // shaders compiled outside the timing, as the peers do
  const TCpuCounter cpu;
  for (auto _ : state) viewport->RenderManual();
  cpu.Report(state);
}
BENCHMARK(BM_DemoFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

GLuint Program(const char* AVertex, const char* APixel) {
  return bench::LinkProgram(AVertex, APixel, {{0, "a_Position"}, {1, "a_Normal"}});
}

const char* const SceneVS = R"(#version 430
in vec3 a_Position; in vec3 a_Normal;
uniform mat4 Model; uniform mat4 ViewProj;
out vec3 v_Pos; out vec3 v_Normal;
void main() {
  vec4 p = Model * vec4(a_Position, 1.0);
  v_Pos = p.xyz; v_Normal = mat3(Model) * a_Normal;
  gl_Position = ViewProj * p;
})";

// Three spot lights (cut-off 60°, exponent 10) and Blinn-Phong with the floor's material.
const char* const SceneFS = R"(#version 430
in vec3 v_Pos; in vec3 v_Normal;
uniform vec3 LightPos[3]; uniform vec3 LightColor[3]; uniform vec3 Eye;
out vec4 o_Color;
void main() {
  vec3 n = normalize(v_Normal);
  vec3 v = normalize(Eye - v_Pos);
  vec3 c = vec3(0.5) * 0.1;
  for (int i = 0; i < 3; ++i) {
    vec3 l = normalize(LightPos[i] - v_Pos);
    float spot = dot(-l, vec3(0.0, 1.0, 0.0));
    if (spot < cos(radians(60.0))) continue;
    float att = pow(spot, 10.0);
    float diff = max(dot(n, l), 0.0);
    float highlight = pow(max(dot(n, normalize(l + v)), 0.0), 50.0);
    c += att * LightColor[i] * (diff + 0.75 * highlight);
  }
  o_Color = vec4(c, 1.0);
})";

const char* const QuadVS = R"(#version 430
out vec2 v_UV;
void main() {
  vec2 p = vec2((gl_VertexID & 1) * 2.0, (gl_VertexID >> 1) * 2.0);
  v_UV = p; gl_Position = vec4(p * 2.0 - 1.0, 0.0, 1.0);
})";

// One FXAA pass (luma edges, 1/128 and 1/8 limits, span 8).
const char* const FxaaFS = R"(#version 430
in vec2 v_UV; uniform sampler2D Input; uniform vec2 Texel; out vec4 o_Color;
float luma(vec3 c) { return dot(c, vec3(0.299, 0.587, 0.114)); }
void main() {
  vec3 nw = texture(Input, v_UV + vec2(-1, -1) * Texel).rgb, ne = texture(Input, v_UV + vec2(1, -1) * Texel).rgb;
  vec3 sw = texture(Input, v_UV + vec2(-1, 1) * Texel).rgb, se = texture(Input, v_UV + vec2(1, 1) * Texel).rgb;
  vec3 m = texture(Input, v_UV).rgb;
  float lnw = luma(nw), lne = luma(ne), lsw = luma(sw), lse = luma(se), lm = luma(m);
  float lmin = min(lm, min(min(lnw, lne), min(lsw, lse))), lmax = max(lm, max(max(lnw, lne), max(lsw, lse)));
  vec2 dir = vec2(-((lnw + lne) - (lsw + lse)), (lnw + lsw) - (lne + lse));
  float reduce = max((lnw + lne + lsw + lse) * 0.25 * (1.0 / 8.0), 1.0 / 128.0);
  float rcp = 1.0 / (min(abs(dir.x), abs(dir.y)) + reduce);
  dir = clamp(dir * rcp, vec2(-8.0), vec2(8.0)) * Texel;
  vec3 a = 0.5 * (texture(Input, v_UV + dir * (1.0 / 3.0 - 0.5)).rgb + texture(Input, v_UV + dir * (2.0 / 3.0 - 0.5)).rgb);
  vec3 b = a * 0.5 + 0.25 * (texture(Input, v_UV - dir * 0.5).rgb + texture(Input, v_UV + dir * 0.5).rgb);
  float lb = luma(b);
  o_Color = vec4((lb < lmin || lb > lmax) ? a : b, 1.0);
})";

struct TMeshArrays {
  std::vector<float> Vertices;  // position, normal
  std::vector<uint32_t> Indices;
};

void Collect(const TMeshDef* AMesh, TMeshArrays& AOut) {
  const TVertexBuffer* vb = AMesh->GetVertexSource();
  const TIndexBuffer* ib = AMesh->GetIndexSource();
  if (vb && ib) {
    const uint32_t base = uint32_t(AOut.Vertices.size() / 6);
    for (int32_t i = 0; i < vb->Length(); ++i) {
      const TPoint3D p = vb->GetVertices(i), n = vb->GetNormals(i);
      AOut.Vertices.insert(AOut.Vertices.end(), {p.X, p.Y, p.Z, n.X, n.Y, n.Z});
    }
    for (int32_t i = 0; i < ib->Length(); ++i) AOut.Indices.push_back(base + ib->GetIndices(i));
  }
  for (int32_t i = 0; i < AMesh->ChildCount(); ++i)
    Collect(static_cast<const TMeshDef*>(AMesh->GetChildren()->Items(i)), AOut);
}

// What both raw peers draw: the monkey and the floor in buffers of their own, the camera and
// the three lights of the demo's first frame; Draw issues both with a program of SceneVS.
class TRawScene {
public:
  TRawScene() {
    {
      TOwned<TModelDef> def(
          TQuorvelLoader::LoadUndefinedModelDefFromFile(nullptr, bench::SourceDir() + "/demo/assets/monkey.obj"));
      for (int32_t i = 0; i < def->ChildCount(); ++i)
        Collect(static_cast<const TMeshDef*>(def->GetChildren()->Items(i)), FMonkey);
    }
    TCustomContextWindows* shared = TCustomContextWindows::SharedContext();
    wglMakeCurrent(shared->GetHDC(), shared->GetGLContext());
    glGenVertexArrays(1, &FVao);
    glBindVertexArray(FVao);
    glGenBuffers(4, FBuffers);
    Upload(FMonkey, FBuffers[0], FBuffers[1]);
    Upload(FFloor, FBuffers[2], FBuffers[3]);
  }
  ~TRawScene() {
    glBindVertexArray(0);
    glDeleteVertexArrays(1, &FVao);
    glDeleteBuffers(4, FBuffers);
  }
  TRawScene(const TRawScene&) = delete;
  TRawScene& operator=(const TRawScene&) = delete;

  void Draw(GLuint AProgram) const {
    glBindVertexArray(FVao);
    glUseProgram(AProgram);
    glUniformMatrix4fv(glGetUniformLocation(AProgram, "ViewProj"), 1, GL_FALSE, &FViewProj.m11);
    glUniform3fv(glGetUniformLocation(AProgram, "LightPos"), 3, LightPos);
    glUniform3fv(glGetUniformLocation(AProgram, "LightColor"), 3, LightColor);
    glUniform3f(glGetUniformLocation(AProgram, "Eye"), Eye.X, Eye.Y, Eye.Z);
    const TMatrix3D identity = TMatrix3D::Identity();
    glUniformMatrix4fv(glGetUniformLocation(AProgram, "Model"), 1, GL_FALSE, &identity.m11);
    DrawFloor();
    glUniformMatrix4fv(glGetUniformLocation(AProgram, "Model"), 1, GL_FALSE, &FModel.m11);
    DrawMonkey();
  }
  // Each mesh alone, with whatever program and values are current; the floor is in world
  // space already, the monkey needs its model matrix.
  void DrawFloor() const {
    glBindVertexArray(FVao);
    Bind(FBuffers[2], FBuffers[3]);
    glDrawElements(GL_TRIANGLES, GLsizei(FFloor.Indices.size()), GL_UNSIGNED_INT, nullptr);
  }
  void DrawMonkey() const {
    glBindVertexArray(FVao);
    Bind(FBuffers[0], FBuffers[1]);
    glDrawElements(GL_TRIANGLES, GLsizei(FMonkey.Indices.size()), GL_UNSIGNED_INT, nullptr);
  }

private:
  static void Upload(const TMeshArrays& AMesh, GLuint AVbo, GLuint AIbo) {
    glBindBuffer(GL_ARRAY_BUFFER, AVbo);
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(AMesh.Vertices.size() * 4), AMesh.Vertices.data(), GL_STATIC_DRAW);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, AIbo);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(AMesh.Indices.size() * 4), AMesh.Indices.data(), GL_STATIC_DRAW);
  }
  static void Bind(GLuint AVbo, GLuint AIbo) {
    glBindBuffer(GL_ARRAY_BUFFER, AVbo);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, AIbo);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 24, nullptr);
    glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, 24, reinterpret_cast<void*>(12));
    glEnableVertexAttribArray(0);
    glEnableVertexAttribArray(1);
  }

  static constexpr TPoint3D Eye{0, -5, -10};
  static constexpr float LightPos[9] = {-4.875f, -10, 4.994f, 2.503f, -10, 0.25f, 0, -10, 0.25f};
  static constexpr float LightColor[9] = {1, 0x63 / 255.f, 0x47 / 255.f, 0x32 / 255.f, 0xCD / 255.f, 0x32 / 255.f,
                                          0x6A / 255.f, 0x5A / 255.f, 0xCD / 255.f};
  TMeshArrays FMonkey;
  // The floor: 100 x 100 at y = 0, facing up (-Y).
  const TMeshArrays FFloor{{-50, 0, -50, 0, -1, 0, 50, 0, -50, 0, -1, 0, 50, 0, 50, 0, -1, 0, -50, 0, 50, 0, -1, 0},
                           {0, 1, 2, 0, 2, 3}};
  const TMatrix3D FViewProj = TMatrix3D::CreateLookAtRH(Eye, {0, 0, 0}, {0, -1, 0}) *
                              TMatrix3D::CreatePerspectiveFovRH(45 * 3.14159265f / 180, float(W) / H, 0.1f, 10000);
  const TMatrix3D FModel = TMatrix3D::CreateRotationY(3.14159265f) * TMatrix3D::CreateTranslation({0, -1, 0});
  GLuint FVao = 0, FBuffers[4] = {};
};

GLuint Texture(GLenum AInternal, GLenum AFormat, GLenum AType) {
  GLuint tex = 0;
  glGenTextures(1, &tex);
  glBindTexture(GL_TEXTURE_2D, tex);
  glTexImage2D(GL_TEXTURE_2D, 0, GLint(AInternal), W, H, 0, AFormat, AType, nullptr);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  return tex;
}

GLuint TargetOf(std::initializer_list<GLuint> ATextures, GLuint ADepth = 0) {
  GLuint fbo = 0;
  glGenFramebuffers(1, &fbo);
  glBindFramebuffer(GL_FRAMEBUFFER, fbo);
  GLenum slot = GL_COLOR_ATTACHMENT0;
  for (GLuint tex : ATextures) glFramebufferTexture2D(GL_FRAMEBUFFER, slot++, GL_TEXTURE_2D, tex, 0);
  if (ADepth) glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, ADepth);
  return fbo;
}

void BM_RawGLDemoFrame(benchmark::State& state) {
  bench::SetupEngineGL();
  const TRawScene scene;
  GLint maxSamples = 0;
  glGetIntegerv(GL_MAX_SAMPLES, &maxSamples);
  const GLsizei samples = std::min<GLint>(2, maxSamples);  // the demo asks for two (llvmpipe gives 4)
  GLuint msColor = 0, msDepth = 0, msFbo = 0;
  glGenRenderbuffers(1, &msColor);
  glBindRenderbuffer(GL_RENDERBUFFER, msColor);
  glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples, GL_RGBA8, W, H);
  glGenRenderbuffers(1, &msDepth);
  glBindRenderbuffer(GL_RENDERBUFFER, msDepth);
  glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples, GL_DEPTH24_STENCIL8, W, H);
  glGenFramebuffers(1, &msFbo);
  glBindFramebuffer(GL_FRAMEBUFFER, msFbo);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, msColor);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, msDepth);
  const GLuint resolved = Texture(GL_RGBA8, GL_BGRA, GL_UNSIGNED_BYTE), resolveFbo = TargetOf({resolved});
  const GLuint out = Texture(GL_RGBA8, GL_BGRA, GL_UNSIGNED_BYTE), outFbo = TargetOf({out});
  const GLuint program = Program(SceneVS, SceneFS), fxaa = Program(QuadVS, FxaaFS);
  std::vector<uint8_t> pixels(size_t(W) * H * 4);
  glViewport(0, 0, W, H);
  const TCpuCounter cpu;
  for (auto _ : state) {
    glBindFramebuffer(GL_FRAMEBUFFER, msFbo);
    glEnable(GL_DEPTH_TEST);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    scene.Draw(program);
    // Resolve, then one FXAA pass into the output, then the read-back.
    glBindFramebuffer(GL_READ_FRAMEBUFFER, msFbo);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, resolveFbo);
    glBlitFramebuffer(0, 0, W, H, 0, 0, W, H, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    glBindFramebuffer(GL_FRAMEBUFFER, outFbo);
    glDisable(GL_DEPTH_TEST);
    glUseProgram(fxaa);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, resolved);
    glUniform1i(glGetUniformLocation(fxaa, "Input"), 0);
    glUniform2f(glGetUniformLocation(fxaa, "Texel"), 1.0f / W, 1.0f / H);
    glDrawArrays(GL_TRIANGLES, 0, 3);
    glReadPixels(0, 0, W, H, GL_BGRA, GL_UNSIGNED_BYTE, pixels.data());
  }
  cpu.Report(state);
  state.counters["samples"] = double(samples);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  const GLuint fbos[] = {msFbo, resolveFbo, outFbo}, renderbuffers[] = {msColor, msDepth}, textures[] = {resolved, out};
  glDeleteFramebuffers(3, fbos);
  glDeleteRenderbuffers(2, renderbuffers);
  glDeleteTextures(2, textures);
  glDeleteProgram(program);
  glDeleteProgram(fxaa);
}
BENCHMARK(BM_RawGLDemoFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

// What the engine's frame is made of, taken from one frame of the demo outside the timing: the
// texts its material generator emits for the floor and the monkey, the "ShaderData" blocks the
// two materials sent for their draws (camera, the three spot lights, material colours), the
// monkey's matrix, and the picture it read back (BGRA, top row first).
struct TEngineFrame {
  std::string FloorVS, FloorFS, MonkeyVS, MonkeyFS;
  TQuorvelShaderData FloorData = TQuorvelShaderData::Create(), MonkeyData = TQuorvelShaderData::Create();
  TMatrix3D MonkeyModel = TMatrix3D::Identity();  // where the monkey stands after the tick
  std::vector<uint8_t> Pixels;
};

// The first mesh at or below AObject drawn with a default material.
TQuorvelMesh* MaterialMesh(TFwObject* AObject) {
  auto* mesh = dynamic_cast<TQuorvelMesh*>(AObject);
  if (mesh && mesh->GetMaterialSource() &&
      dynamic_cast<TQuorvelDefaultMaterial*>(mesh->GetMaterialSource()->GetMaterial()))
    return mesh;
  if (auto* control = dynamic_cast<TControl3D*>(AObject))
    for (TFwObject* child : control->Children())
      if (TQuorvelMesh* found = MaterialMesh(child)) return found;
  return nullptr;
}

TEngineFrame CaptureEngineFrame() {
  TManualClock clock;
  TScopedClock scoped(clock);
  TOwned<TForm1> form = bench::ShowDemoForm();
  form->Timer1Timer(form->Timer1);
  form->QuorvelViewport1->RenderManual();
  TEngineFrame frame;
  frame.Pixels = form->QuorvelViewport1->GetFrameBitmap()->Pixels();
  auto* floor = dynamic_cast<TQuorvelDefaultMaterial*>(form->QuorvelBlinnMaterialSource1->GetMaterial());
  TQuorvelMesh* monkeyMesh = nullptr;
  for (TFwObject* child : form->QuorvelModel1->Children())
    if ((monkeyMesh = MaterialMesh(child))) break;
  if (!floor || !monkeyMesh) throw std::runtime_error("the demo's meshes have no default material");
  auto* monkey = static_cast<TQuorvelDefaultMaterial*>(monkeyMesh->GetMaterialSource()->GetMaterial());
  frame.MonkeyModel = monkeyMesh->GetAbsoluteMatrix();
  frame.FloorVS = floor->GetVSShaderSource().CodeAsText();
  frame.FloorFS = floor->GetFSShaderSource().CodeAsText();
  frame.MonkeyVS = monkey->GetVSShaderSource().CodeAsText();
  frame.MonkeyFS = monkey->GetFSShaderSource().CodeAsText();
  frame.FloorData = floor->GetShaderData();
  frame.MonkeyData = monkey->GetShaderData();
  return frame;
}

// A generated program linked with the attribute locations the engine binds.
GLuint MaterialProgram(const std::string& AVertex, const std::string& APixel) {
  const GLuint prog = bench::LinkProgram(AVertex, APixel, {});
  for (const TShaderAttributeLocation& a : ShaderAttributeLocations) glBindAttribLocation(prog, a.Location, a.Name);
  glLinkProgram(prog);
  bench::CheckLinked(prog);
  return prog;
}

// One mesh drawn as the engine draws it: its program, its block uploaded whole into its own
// buffer at binding 0, its model matrix as the per-instance attribute (rows as columns).
void DrawWithMaterial(GLuint AProgram, GLuint ABlock, const TQuorvelShaderData& AData, const TMatrix3D& AModel) {
  glUseProgram(AProgram);
  glBindBuffer(GL_UNIFORM_BUFFER, ABlock);
  glBufferData(GL_UNIFORM_BUFFER, sizeof(AData), &AData, GL_STREAM_DRAW);
  glBindBufferBase(GL_UNIFORM_BUFFER, 0, ABlock);
  for (GLuint k = 0; k < 4; ++k) glVertexAttrib4fv(12 + k, &AModel.m11 + 4 * k);
}

// Empty when the two pictures (the peer's read bottom row first) agree: the mean of every
// channel within 2 levels, and at most 2% of the pixels off by more than 24 in any channel (the
// monkey here is the file's mesh, not the engine's own buffers, and shades a little otherwise).
std::string ComparePictures(const std::vector<uint8_t>& AEngine, const std::vector<uint8_t>& APeer, double& AMeanGap,
                            double& AOffShare) {
  if (AEngine.size() != APeer.size()) return "the engine's frame is not 640x480";
  double engineSum[3] = {}, peerSum[3] = {};
  size_t off = 0;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const uint8_t* e = &AEngine[(size_t(y) * W + x) * 4];
      const uint8_t* p = &APeer[(size_t(H - 1 - y) * W + x) * 4];
      bool far = false;
      for (int c = 0; c < 3; ++c) {
        engineSum[c] += e[c];
        peerSum[c] += p[c];
        far = far || std::abs(int(e[c]) - int(p[c])) > 24;
      }
      off += far;
    }
  std::string message;
  AMeanGap = 0;
  AOffShare = double(off) / (W * H);
  for (int c = 0; c < 3; ++c) AMeanGap = std::max(AMeanGap, std::abs(engineSum[c] - peerSum[c]) / (W * H));
  for (int c = 0; c < 3; ++c)
    if (std::abs(engineSum[c] - peerSum[c]) / (W * H) > 2)
      message.append(" mean of channel ")
          .append(std::to_string(c))
          .append(": engine ")
          .append(std::to_string(engineSum[c] / (W * H)))
          .append(", peer ")
          .append(std::to_string(peerSum[c] / (W * H)))
          .append(";");
  if (off > size_t(W) * H / 50) message.append(" ").append(std::to_string(off)).append(" pixels differ;");
  return message;
}

// The frame's own work in raw GL: the forward renderer's targets and formats with one
// depth-stencil buffer, cleared; the floor and the monkey with the engine's generated material
// programs and the blocks it sends; the translucent targets cleared (nothing translucent is
// drawn); the composition with the pass's own shaders and block into the composite texture; one
// FXAA iteration with the pass's shaders into the output; the read-back into memory. Its
// first picture must match the engine's frame, or it times nothing.
void BM_RawGLDemoFramePasses(benchmark::State& state) {
  bench::SetupEngineGL();
  TEngineFrame engine;
  try {
    engine = CaptureEngineFrame();
  } catch (const std::exception& e) {
    state.SkipWithError(std::string("the demo's frame: ").append(e.what()).c_str());
    return;
  }
  const TRawScene scene;
  const GLuint albedo = Texture(GL_RGBA8, GL_BGRA, GL_UNSIGNED_BYTE);
  const GLuint accum = Texture(GL_RGBA16F, GL_BGRA, GL_HALF_FLOAT);
  const GLuint alpha = Texture(GL_R16F, GL_RED, GL_HALF_FLOAT);
  const GLuint position = Texture(GL_RGBA16F, GL_BGRA, GL_HALF_FLOAT);
  const GLuint normals = Texture(GL_RGB16F, GL_BGR, GL_HALF_FLOAT);
  const GLuint emissive = Texture(GL_RGB8, GL_BGR, GL_UNSIGNED_BYTE);
  const GLuint composed = Texture(GL_RGBA8, GL_BGRA, GL_UNSIGNED_BYTE);
  const GLuint smoothed = Texture(GL_RGBA8, GL_BGRA, GL_UNSIGNED_BYTE);
  GLuint depth = 0;
  glGenRenderbuffers(1, &depth);
  glBindRenderbuffer(GL_RENDERBUFFER, depth);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, W, H);
  const GLuint opaqueFbo = TargetOf({albedo, alpha, position, normals, emissive}, depth);
  const GLuint translucentFbo = TargetOf({accum, alpha, position, normals, emissive}, depth);
  const GLuint composedFbo = TargetOf({composed}), smoothedFbo = TargetOf({smoothed});
  const GLenum targets[5] = {GL_COLOR_ATTACHMENT0, GL_COLOR_ATTACHMENT1, GL_COLOR_ATTACHMENT2, GL_COLOR_ATTACHMENT3,
                             GL_COLOR_ATTACHMENT4};
  const GLuint floorProgram = MaterialProgram(engine.FloorVS, engine.FloorFS);
  const GLuint monkeyProgram = MaterialProgram(engine.MonkeyVS, engine.MonkeyFS);
  GLuint meshBlocks[2] = {};
  glGenBuffers(2, meshBlocks);
  const TMatrix3D identity = TMatrix3D::Identity();
  const GLuint composite = bench::LinkProgram(TDeferredCompositeMaterial::VertexShaderText,
                                              TDeferredCompositeMaterial::PixelShaderText,
                                              {{0, "a_Position"}, {1, "a_TexCoord0"}});
  const GLuint fxaa = bench::LinkProgram(TFXAAMaterial::VertexShaderText, TFXAAMaterial::PixelShaderText,
                                         {{0, "a_Position"}, {1, "a_TexCoord0"}});
  const char* samplers[] = {"_AlbedoTexture", "_TranslucentAlbedoTexture", "_AlphaTexture", "_PositionTexture",
                            "_NormalsTexture", "_EmissiveTexture", "_GlobalIllumination"};
  const GLuint inputs[] = {albedo, accum, alpha, position, normals, emissive, 0};
  // The block as the composition fills it for the demo: its three lights, no saturation, no
  // emissive blur, no global illumination.
  TCompositeShaderData data;
  std::memset(static_cast<void*>(&data), 0, sizeof(data));
  data.ShadowLimit = 0.1f;
  data.Reflection = 1.0f;
  data.NumberOfLights = 3;
  GLuint block = 0;
  glGenBuffers(1, &block);
  glBindBuffer(GL_UNIFORM_BUFFER, block);
  glBufferData(GL_UNIFORM_BUFFER, sizeof(data), nullptr, GL_DYNAMIC_DRAW);
  glUniformBlockBinding(composite, glGetUniformBlockIndex(composite, "CompositeShaderData"), 0);
  const bench::TRawComposeAndSmooth compose{composite, fxaa, composedFbo, smoothedFbo, composed, block,
                                             inputs, samplers, &data, sizeof(data)};
  const bench::TScreenQuad screen(W, H);
  std::vector<uint8_t> pixels(size_t(W) * H * 4);
  const GLfloat clear[4] = {0, 0, 0, 1}, none[4] = {0, 0, 0, 0}, far = 1;
  // The engine's depth test and back-face culling (the peer's meshes face forward
  // counter-clockwise). Its frame leaves depth writes off (its translucent step), and a clear
  // under that mask would leave the depth buffer as it was.
  glDepthMask(GL_TRUE);
  glDepthFunc(GL_LEQUAL);
  glFrontFace(GL_CCW);
  glCullFace(GL_BACK);
  const auto frame = [&] {
    glBindFramebuffer(GL_FRAMEBUFFER, opaqueFbo);
    glDrawBuffers(5, targets);
    glClearBufferfv(GL_COLOR, 0, clear);
    glClearBufferfv(GL_COLOR, 1, clear);
    for (GLint i = 2; i < 5; ++i) glClearBufferfv(GL_COLOR, i, none);
    glClearBufferfv(GL_DEPTH, 0, &far);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    DrawWithMaterial(floorProgram, meshBlocks[0], engine.FloorData, identity);
    scene.DrawFloor();
    DrawWithMaterial(monkeyProgram, meshBlocks[1], engine.MonkeyData, engine.MonkeyModel);
    scene.DrawMonkey();
    glBindFramebuffer(GL_FRAMEBUFFER, translucentFbo);
    glDrawBuffers(2, targets);
    glClearBufferfv(GL_COLOR, 0, none);
    glClearBufferfv(GL_COLOR, 1, none);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glBindVertexArray(screen.Vao);
    compose.Run();
    glReadPixels(0, 0, W, H, GL_BGRA, GL_UNSIGNED_BYTE, pixels.data());
  };
  frame();
  double meanGap = 0, offShare = 0;
  const std::string differ = ComparePictures(engine.Pixels, pixels, meanGap, offShare);
  if (!differ.empty())
    state.SkipWithError(std::string("the peer does not draw the engine's picture:").append(differ).c_str());
  const TCpuCounter cpu;
  if (differ.empty())
    for (auto _ : state) frame();
  cpu.Report(state);
  state.counters["mean_gap"] = meanGap;   // largest gap of a channel's mean from the engine's, levels
  state.counters["off_share"] = offShare;  // share of pixels off by more than 24 in a channel
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  const GLuint fbos[] = {opaqueFbo, translucentFbo, composedFbo, smoothedFbo};
  glDeleteFramebuffers(4, fbos);
  glDeleteRenderbuffers(1, &depth);
  const GLuint textures[] = {albedo, accum, alpha, position, normals, emissive, composed, smoothed};
  glDeleteTextures(8, textures);
  glDeleteBuffers(1, &block);
  glDeleteBuffers(2, meshBlocks);
  glDeleteProgram(floorProgram);
  glDeleteProgram(monkeyProgram);
  glDeleteProgram(composite);
  glDeleteProgram(fxaa);
}
BENCHMARK(BM_RawGLDemoFramePasses)->Unit(benchmark::kMillisecond)->UseRealTime();

// The running program: the demo's form with its fixed-rate loop (the viewport's timer thread,
// the form's 16 ms timer moving the lights) driven by the message loop on the real clock for
// three seconds; fps is the viewport's frames-per-second figure at the end (the timer's ticks
// of its last whole second), cores the processor time of the process per second of the run
// (the timer thread spins between ticks). Run it on 2 cores and on all of them.
void BM_DemoRunningFPS(benchmark::State& state) {
  bench::SetupEngineGL();
  constexpr auto Run = std::chrono::seconds(3);
  double fps = 0, cpu = 0;
  for (auto _ : state) {
    TOwned<TForm1> form = bench::ShowDemoForm(true);
    const double cpu0 = ProcessCpuSeconds();
    const auto end = std::chrono::steady_clock::now() + Run;
    while (std::chrono::steady_clock::now() < end) Application->HandleMessage();
    cpu = ProcessCpuSeconds() - cpu0;
    fps = form->QuorvelViewport1->GetFPS();
  }
  state.counters["fps"] = fps;
  state.counters["cores"] = cpu / std::chrono::duration<double>(Run).count();
}
BENCHMARK(BM_DemoRunningFPS)->Iterations(1)->Unit(benchmark::kMillisecond);

// From the GL context's creation to the first frame in the bitmap: run it alone in a fresh
// process, once with MESA_SHADER_CACHE_DIR pointing at an empty folder (a cold start) and
// once more with the same folder (Mesa's shader cache warm).
void BM_DemoStartToFirstFrame(benchmark::State& state) {
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    bench::SetupEngineGL();
    TManualClock clock;
    TScopedClock scoped(clock);
    TOwned<TForm1> form = bench::ShowDemoForm();
    form->QuorvelViewport1->RenderManual();
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
}
BENCHMARK(BM_DemoStartToFirstFrame)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quorvel

BENCHMARK_MAIN();
