// The forward renderer's composite step at 640x480 (deferred composition of the five targets,
// then one FXAA iteration) against a raw-GL program running the same two full-screen shaders
// on inputs of the same formats and values. Both wait for the GPU at the end of each frame.
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/EngineGL.h"
#include "bench/RawGL.h"
#include "framework/gui/Form.h"
#include "framework/platform/Platform.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/Stopwatch.h"
#include "framework/rtl/Thread.h"
#include "framework/rtl/Units.h"
#include "lib/context/ContextBuffersFrameBuffers.h"
#include "lib/context/windows/ContextGLESWindows.h"
#include "lib/passes/ControllerPassesDeferredComposite.h"
#include "lib/passes/ControllerPassesFXAA.h"
#include "lib/passes/Renderer.h"
#include "lib/scene/Viewport.h"

namespace quorvel {
namespace {

constexpr int W = 640, H = 480;

// What both sides compose: an opaque albedo and a translucent contribution of weight 2 over a
// quarter coverage (so the merge runs). The emissive target is filled but not added: with an
// emissive blur the engine would first run the blur pass, which has its own benchmark.
const TAlphaColorF Albedo(0.8f, 0.4f, 0.2f, 1), Accum(0.4f, 0.2f, 1.0f, 2), Emissive(0.1f, 0.1f, 0, 1);
constexpr float Coverage = 0.25f;
// 0.8 * 0.75 + 0.2 * 0.25 in red, in 8 bits.
constexpr int ExpectedRed = 166;

int RedAtCentre(GLuint AFramebuffer) {
  uint8_t bgra[4] = {};
  glBindFramebuffer(GL_FRAMEBUFFER, AFramebuffer);
  glReadPixels(W / 2, H / 2, 1, 1, GL_BGRA, GL_UNSIGNED_BYTE, bgra);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  return bgra[2];
}

void BM_EngineCompositeStep(benchmark::State& state) {
  bench::SetupEngineGL();
  TManualClock clock;
  TScopedClock scoped(clock);
  TOwned<TForm> form(New<TForm>(nullptr));
  form->SetClientWidth(W);
  form->SetClientHeight(H);
  form->Show();
  auto* viewport = New<TQuorvelViewport>(form.get());
  viewport->SetRendererType(TRendererType::ForwardRenderer);
  viewport->SetUseFixedFrameRate(true);
  auto* renderer = dynamic_cast<TForwardRenderer*>(viewport->GetMainPassRenderer());
  if (!renderer) {
    state.SkipWithError("the viewport has no forward renderer");
    return;
  }
  renderer->Apply();
  renderer->SetSaturation(TPoint3D(0, 0, 0));
  renderer->SetEmissiveBlur(0);
  renderer->SetFXAA(1);
  auto* ctx = dynamic_cast<TQuorvelContext*>(renderer->GetSharedContext());
  TFrameBufferObject* fbo = ctx->GetDefaultFrameBuf();
  ctx->AttachTextureToDefaultBuffer(renderer->GetAlbedoTexture(), TRenderTarget::Color_0);
  ctx->BindDefaultBuffer();
  fbo->Clear(TRenderTarget::Color_0, Albedo, 1, 0, true);
  fbo->Clear(TRenderTarget::Color_1, TAlphaColorF(Coverage, 0, 0, 0), 1, 0, true);
  fbo->Clear(TRenderTarget::Color_4, Emissive, 1, 0, true);
  fbo->Prepare(renderer->GetRenderTargets());  // as the opaque phase leaves it
  ctx->UnbindDefaultBuffer();
  ctx->GetTranslucentBuf()->Bind(ctx);
  ctx->GetTranslucentBuf()->Clear(TRenderTarget::Color_0, Accum, 1, 0, true);
  ctx->GetTranslucentBuf()->Unbind(ctx);
  TRenderContext frame;
  frame.Viewport = viewport;
  for (auto _ : state) {
    renderer->Composite(&frame);
    glFinish();
  }
  // The smoothed picture is the FXAA pass's; FXAA leaves a flat picture as it is.
  TOwned<TBitmap> bitmap(New<TBitmap>(W, H));
  renderer->GetFXAACtrl()->GetRenderer()->GetSharedContext()->CopyToBitmap(bitmap.get(), TRect(0, 0, W, H));
  const uint8_t* p = bitmap->Pixels().data() + (size_t(H / 2) * W + W / 2) * 4;
  if (std::abs(int(p[2]) - ExpectedRed) > 2)
    state.SkipWithError(("the composed red is " + std::to_string(p[2])).c_str());
}
BENCHMARK(BM_EngineCompositeStep)->Unit(benchmark::kMillisecond)->UseRealTime();

GLuint Program(const char* AVertex, const char* APixel) {
  return bench::LinkProgram(AVertex, APixel, {{0, "a_Position"}, {1, "a_TexCoord0"}});
}

GLuint Texture(GLenum AInternal, GLenum AFormat, GLenum AType) {
  GLuint tex = 0;
  glGenTextures(1, &tex);
  glBindTexture(GL_TEXTURE_2D, tex);
  glTexImage2D(GL_TEXTURE_2D, 0, GLint(AInternal), W, H, 0, AFormat, AType, nullptr);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  return tex;
}

GLuint TargetOf(GLuint ATexture) {
  GLuint fbo = 0;
  glGenFramebuffers(1, &fbo);
  glBindFramebuffer(GL_FRAMEBUFFER, fbo);
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, ATexture, 0);
  return fbo;
}

void Fill(GLuint ATexture, const TAlphaColorF& AColor) {
  const GLuint fbo = TargetOf(ATexture);
  const GLfloat c[4] = {AColor.R, AColor.G, AColor.B, AColor.A};
  glClearBufferfv(GL_COLOR, 0, c);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  glDeleteFramebuffers(1, &fbo);
}

void BM_RawGLCompositeStep(benchmark::State& state) {
  bench::SetupEngineGL();
  TCustomContextWindows* shared = TCustomContextWindows::SharedContext();
  wglMakeCurrent(shared->GetHDC(), shared->GetGLContext());
  // The renderer's six targets, with its formats.
  const GLuint albedo = Texture(GL_RGBA8, GL_BGRA, GL_UNSIGNED_BYTE);
  const GLuint accum = Texture(GL_RGBA16F, GL_BGRA, GL_HALF_FLOAT);
  const GLuint alpha = Texture(GL_R16F, GL_RED, GL_HALF_FLOAT);
  const GLuint position = Texture(GL_RGBA16F, GL_BGRA, GL_HALF_FLOAT);
  const GLuint normals = Texture(GL_RGB16F, GL_BGR, GL_HALF_FLOAT);
  const GLuint emissive = Texture(GL_RGB8, GL_BGR, GL_UNSIGNED_BYTE);
  const GLuint composed = Texture(GL_RGBA8, GL_BGRA, GL_UNSIGNED_BYTE);
  const GLuint smoothed = Texture(GL_RGBA8, GL_BGRA, GL_UNSIGNED_BYTE);
  Fill(albedo, Albedo);
  Fill(accum, Accum);
  Fill(alpha, TAlphaColorF(Coverage, 0, 0, 0));
  Fill(position, TAlphaColorF(0, 0, 0, 0));
  Fill(normals, TAlphaColorF(0, 0, 0, 0));
  Fill(emissive, Emissive);
  const GLuint composedFbo = TargetOf(composed), smoothedFbo = TargetOf(smoothed);

  const GLuint composite =
      Program(TDeferredCompositeMaterial::VertexShaderText, TDeferredCompositeMaterial::PixelShaderText);
  const GLuint fxaa = Program(TFXAAMaterial::VertexShaderText, TFXAAMaterial::PixelShaderText);
  const char* samplers[] = {"_AlbedoTexture", "_TranslucentAlbedoTexture", "_AlphaTexture", "_PositionTexture",
                            "_NormalsTexture", "_EmissiveTexture", "_GlobalIllumination"};
  const GLuint inputs[] = {albedo, accum, alpha, position, normals, emissive, 0};
  // The block as the material fills it: no lights, saturation off, no emissive blur.
  TCompositeShaderData data;
  std::memset(static_cast<void*>(&data), 0, sizeof(data));
  data.ShadowLimit = 0.1f;
  data.Reflection = 1.0f;
  data.EmissiveBlur = 0;
  GLuint block = 0;
  glGenBuffers(1, &block);
  glBindBuffer(GL_UNIFORM_BUFFER, block);
  glBufferData(GL_UNIFORM_BUFFER, sizeof(data), nullptr, GL_DYNAMIC_DRAW);
  glUniformBlockBinding(composite, glGetUniformBlockIndex(composite, "CompositeShaderData"), 0);
  const bench::TRawComposeAndSmooth compose{composite, fxaa, composedFbo, smoothedFbo, composed, block,
                                             inputs, samplers, &data, sizeof(data)};
  const bench::TScreenQuad screen(W, H);
  for (auto _ : state) {
    compose.Run();
    glFinish();
  }
  const int red = RedAtCentre(smoothedFbo);
  glBindVertexArray(0);
  glDeleteBuffers(1, &block);
  glDeleteFramebuffers(1, &composedFbo);
  glDeleteFramebuffers(1, &smoothedFbo);
  const GLuint textures[] = {albedo, accum, alpha, position, normals, emissive, composed, smoothed};
  glDeleteTextures(8, textures);
  glDeleteProgram(composite);
  glDeleteProgram(fxaa);
  if (std::abs(red - ExpectedRed) > 2) state.SkipWithError(("the composed red is " + std::to_string(red)).c_str());
}
BENCHMARK(BM_RawGLCompositeStep)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace quorvel

BENCHMARK_MAIN();
