// The Gaussian blur filter on a 1024 x 1024 RGBA8 image through the framework's filter runner,
// against raw GL running the same two programs (the filter vertex shader and the filter's
// horizontal and vertical pixel programs) into two RGBA8 targets of the same size. Both wait
// for the GPU at the end of each run.
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bench/EngineGL.h"
#include "bench/RawGL.h"
#include "framework/gui3d/Filter.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/Thread.h"
#include "framework/rtl/Units.h"
#include "lib/context/windows/ContextGLESWindows.h"
#include "lib/materials/FilterCustom.h"

namespace quorvel {
namespace {

constexpr int N = 1024;

TTexture* Input() {
  static TOwned<TTexture> texture = [] {
    TOwned<TBitmap> b(New<TBitmap>(N, N));
    TBitmapData d;
    b->Map(TMapAccess::Write, d);
    for (int y = 0; y < N; ++y)
      for (int x = 0; x < N; ++x) d.SetPixel(x, y, MakeAlphaColor(uint8_t(x), uint8_t(y), uint8_t(x ^ y)));
    b->Unmap(d);
    return TOwned<TTexture>(TFilterManager::TextureFromBitmap(b.get()));
  }();
  return texture.get();
}

TQuorvelGaussianBlurFilter* Blur() {
  static TOwned<TFilter> filter(TQuorvelGaussianBlurFilter::StaticMeta()->CreateFilter());
  return static_cast<TQuorvelGaussianBlurFilter*>(filter.get());
}

void BM_EngineGaussianBlur1024(benchmark::State& state) {
  bench::SetupEngineGL();
  TTexture* input = Input();
  for (auto _ : state) {
    benchmark::DoNotOptimize(TFilterManager::Apply(Blur(), input));
    glFinish();
  }
}

void BM_RawGLGaussianBlur1024(benchmark::State& state) {
  bench::SetupEngineGL();
  TTexture* input = Input();
  const std::string vs = TFilterManager::FilterVertexShaderText();
  GLuint programs[2];
  for (int pass = 0; pass < 2; ++pass)
    programs[pass] = bench::LinkProgram(
        vs, Blur()->GetShader(pass)->GetSourceByArch(TContextShaderArch::GLSL).CodeAsText(),
        {{0, "a_Position"}, {6, "a_TexCoord0"}});
  GLuint textures[2], fbos[2];
  glGenTextures(2, textures);
  glGenFramebuffers(2, fbos);
  for (int i = 0; i < 2; ++i) {
    glBindTexture(GL_TEXTURE_2D, textures[i]);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, N, N, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glBindFramebuffer(GL_FRAMEBUFFER, fbos[i]);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, textures[i], 0);
  }
  const float quad[] = {-1, -1, 0, 0, 0, 1, -1, 0, 1, 0, 1, 1, 0, 1, 1, -1, 1, 0, 0, 1};
  const uint16_t indices[] = {0, 1, 2, 2, 3, 0};
  GLuint vbo = 0;
  glGenBuffers(1, &vbo);
  glBindBuffer(GL_ARRAY_BUFFER, vbo);
  glBufferData(GL_ARRAY_BUFFER, sizeof quad, quad, GL_STATIC_DRAW);
  glDisable(GL_BLEND);
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_SCISSOR_TEST);
  glViewport(0, 0, N, N);
  for (auto _ : state) {
    GLuint source = GLuint(input->GetHandle());
    for (int pass = 0; pass < 2; ++pass) {
      glBindFramebuffer(GL_FRAMEBUFFER, fbos[pass]);
      glClearColor(0, 0, 0, 0);
      glClear(GL_COLOR_BUFFER_BIT);
      glUseProgram(programs[pass]);
      glActiveTexture(GL_TEXTURE1);
      glBindTexture(GL_TEXTURE_2D, source);
      glUniform1i(glGetUniformLocation(programs[pass], "_Input"), 1);
      glUniform1f(glGetUniformLocation(programs[pass], "_Width"), float(N));
      glBindBuffer(GL_ARRAY_BUFFER, vbo);
      glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 20, nullptr);
      glVertexAttribPointer(6, 2, GL_FLOAT, GL_FALSE, 20, reinterpret_cast<const void*>(12));
      glEnableVertexAttribArray(0);
      glEnableVertexAttribArray(6);
      glBindBuffer(GL_ARRAY_BUFFER, 0);
      glDrawElements(GL_TRIANGLES, 6, GL_UNSIGNED_SHORT, indices);
      glDisableVertexAttribArray(0);
      glDisableVertexAttribArray(6);
      source = textures[pass];
    }
    glFinish();
  }
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  glUseProgram(0);
  glDeleteBuffers(1, &vbo);
  glDeleteFramebuffers(2, fbos);
  glDeleteTextures(2, textures);
  glDeleteProgram(programs[0]);
  glDeleteProgram(programs[1]);
}

BENCHMARK(BM_EngineGaussianBlur1024)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RawGLGaussianBlur1024)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace quorvel

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  quorvel::TFilterManager::ResetContexts();
  benchmark::Shutdown();
  return 0;
}
