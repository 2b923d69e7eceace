// One demo frame at 640x480 (render and read back) against a raw-GL program drawing the same
// monkey and floor with the same three spot lights (Blinn-Phong), the same sample count, a
// resolve and one FXAA pass, then glReadPixels. Mesh data is loaded outside the timing.
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <chrono>
#include <cmath>
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
#include "lib/context/windows/ContextGLESWindows.h"
#include "lib/defs/DefTypes.h"
#include "lib/formats/Loader.h"

namespace quorvel {
namespace {

constexpr int W = 640, H = 480;

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
  for (auto _ : state) viewport->RenderManual();
}
BENCHMARK(BM_DemoFrame)->Unit(benchmark::kMillisecond);

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

void BM_RawGLDemoFrame(benchmark::State& state) {
  bench::SetupEngineGL();
  TMeshArrays monkey;
  {
    TOwned<TModelDef> def(TQuorvelLoader::LoadUndefinedModelDefFromFile(nullptr, bench::SourceDir() + "/demo/assets/monkey.obj"));
    for (int32_t i = 0; i < def->ChildCount(); ++i)
      Collect(static_cast<const TMeshDef*>(def->GetChildren()->Items(i)), monkey);
  }
  // The floor: 100 x 100 at y = 0, facing up (-Y).
  const TMeshArrays floor{{-50, 0, -50, 0, -1, 0, 50, 0, -50, 0, -1, 0, 50, 0, 50, 0, -1, 0, -50, 0, 50, 0, -1, 0},
                          {0, 1, 2, 0, 2, 3}};
  TCustomContextWindows* shared = TCustomContextWindows::SharedContext();
  wglMakeCurrent(shared->GetHDC(), shared->GetGLContext());

  GLint maxSamples = 0;
  glGetIntegerv(GL_MAX_SAMPLES, &maxSamples);
  const GLsizei samples = std::min<GLint>(2, maxSamples);  // the demo asks for two (llvmpipe gives 4)
  GLuint msColor = 0, msDepth = 0, msFbo = 0, resolved = 0, resolveFbo = 0, out = 0, outFbo = 0;
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
  auto target = [](GLuint& ATex, GLuint& AFbo) {
    glGenTextures(1, &ATex);
    glBindTexture(GL_TEXTURE_2D, ATex);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, W, H, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glGenFramebuffers(1, &AFbo);
    glBindFramebuffer(GL_FRAMEBUFFER, AFbo);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, ATex, 0);
  };
  target(resolved, resolveFbo);
  target(out, outFbo);

  GLuint vao = 0, buffers[4] = {};
  glGenVertexArrays(1, &vao);
  glBindVertexArray(vao);
  glGenBuffers(4, buffers);
  auto upload = [&](const TMeshArrays& AMesh, GLuint AVbo, GLuint AIbo) {
    glBindBuffer(GL_ARRAY_BUFFER, AVbo);
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(AMesh.Vertices.size() * 4), AMesh.Vertices.data(), GL_STATIC_DRAW);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, AIbo);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(AMesh.Indices.size() * 4), AMesh.Indices.data(), GL_STATIC_DRAW);
  };
  upload(monkey, buffers[0], buffers[1]);
  upload(floor, buffers[2], buffers[3]);
  auto bind = [&](GLuint AVbo, GLuint AIbo) {
    glBindBuffer(GL_ARRAY_BUFFER, AVbo);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, AIbo);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 24, nullptr);
    glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, 24, reinterpret_cast<void*>(12));
    glEnableVertexAttribArray(0);
    glEnableVertexAttribArray(1);
  };

  const GLuint scene = Program(SceneVS, SceneFS), fxaa = Program(QuadVS, FxaaFS);
  const TPoint3D eye{0, -5, -10};
  const TMatrix3D viewProj = TMatrix3D::CreateLookAtRH(eye, {0, 0, 0}, {0, -1, 0}) *
                             TMatrix3D::CreatePerspectiveFovRH(45 * 3.14159265f / 180, float(W) / H, 0.1f, 10000);
  const TMatrix3D modelMatrix = TMatrix3D::CreateRotationY(3.14159265f) * TMatrix3D::CreateTranslation({0, -1, 0});
  const TMatrix3D identity = TMatrix3D::Identity();
  const float lightPos[9] = {-4.875f, -10, 4.994f, 2.503f, -10, 0.25f, 0, -10, 0.25f};
  const float lightColor[9] = {1, 0x63 / 255.f, 0x47 / 255.f, 0x32 / 255.f, 0xCD / 255.f, 0x32 / 255.f,
                               0x6A / 255.f, 0x5A / 255.f, 0xCD / 255.f};
  std::vector<uint8_t> pixels(size_t(W) * H * 4);
  glViewport(0, 0, W, H);
  for (auto _ : state) {
    glBindFramebuffer(GL_FRAMEBUFFER, msFbo);
    glEnable(GL_DEPTH_TEST);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glUseProgram(scene);
    glUniformMatrix4fv(glGetUniformLocation(scene, "ViewProj"), 1, GL_FALSE, &viewProj.m11);
    glUniform3fv(glGetUniformLocation(scene, "LightPos"), 3, lightPos);
    glUniform3fv(glGetUniformLocation(scene, "LightColor"), 3, lightColor);
    glUniform3f(glGetUniformLocation(scene, "Eye"), eye.X, eye.Y, eye.Z);
    glUniformMatrix4fv(glGetUniformLocation(scene, "Model"), 1, GL_FALSE, &identity.m11);
    bind(buffers[2], buffers[3]);
    glDrawElements(GL_TRIANGLES, GLsizei(floor.Indices.size()), GL_UNSIGNED_INT, nullptr);
    glUniformMatrix4fv(glGetUniformLocation(scene, "Model"), 1, GL_FALSE, &modelMatrix.m11);
    bind(buffers[0], buffers[1]);
    glDrawElements(GL_TRIANGLES, GLsizei(monkey.Indices.size()), GL_UNSIGNED_INT, nullptr);
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
  state.counters["samples"] = double(samples);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  glBindVertexArray(0);
  glDeleteVertexArrays(1, &vao);
  glDeleteBuffers(4, buffers);
  glDeleteFramebuffers(1, &msFbo);
  glDeleteFramebuffers(1, &resolveFbo);
  glDeleteFramebuffers(1, &outFbo);
  glDeleteRenderbuffers(1, &msColor);
  glDeleteRenderbuffers(1, &msDepth);
  glDeleteTextures(1, &resolved);
  glDeleteTextures(1, &out);
  glDeleteProgram(scene);
  glDeleteProgram(fxaa);
}
BENCHMARK(BM_RawGLDemoFrame)->Unit(benchmark::kMillisecond);

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
