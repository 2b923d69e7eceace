// One demo frame at 640x480 (render and read back) with the floor's shadows off, then with a
// 1024x1024 shadow map of the spot light above the model in the floor's first shadow slot,
// then with a variance map of that light blurred by the variance blur in that slot, each as the
// engine sets it up by default. The frame without shadows is the peer: each row's ratio to it
// is the cost of its shadows. Every frame waits for the GPU; each shadowed row counts the floor
// pixels its shadow darkened.
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <cstdint>
#include <vector>

#include "bench/DemoForm.h"
#include "bench/EngineGL.h"
#include "framework/rtl/Stopwatch.h"
#include "lib/materials/MaterialBlinn.h"
#include "lib/passes/ControllerPassesSMStoreDepth.h"
#include "lib/passes/ControllerPassesVSMBlur.h"
#include "lib/passes/ControllerPassesVSMStoreDepth.h"
#include "lib/scene/Light.h"

namespace quorvel {
namespace {

// The last rows split the costs: the map drawn but not read by the floor, the variance moments
// alone in the slot, and the variance blur switched to the Gaussian pair.
enum TMode : int64_t { ShadowsOff, ShadowMap, VarianceShadowMap, MapNotRead, VarianceStoreOnly, VarianceGaussian };

int Grey(const uint8_t* APixel) { return (int(APixel[0]) + APixel[1] + APixel[2]) / 3; }

void BM_DemoFrameShadows(benchmark::State& state) {
  bench::SetupEngineGL();
  TManualClock clock;
  TScopedClock scoped(clock);
  TOwned<TForm1> form = bench::ShowDemoForm();
  TQuorvelViewport* viewport = form->QuorvelViewport1;
  form->Timer1Timer(form->Timer1);
  // The third spot shines straight down onto the model: its shadow lies on the floor in view.
  TQuorvelLight* light = form->QuorvelLight3;
  TQuorvelBlinnMaterialSource* floor = form->QuorvelBlinnMaterialSource1;
  // The frame without shadows, to find what the shadows darken.
  viewport->RenderManual();
  const std::vector<uint8_t> unshadowed = viewport->GetFrameBitmap()->Pixels();
  switch (TMode(state.range(0))) {
    case ShadowMap:
    case MapNotRead: {
      auto* map = New<TQuorvelRenderPassSMStoreDepth>(viewport, "map");
      map->SetLight(light);
      map->SetViewport(viewport);
      if (state.range(0) == MapNotRead) break;
      floor->SetShadows(true);
      floor->SetShadowMapPass(0, map);
      break;
    }
    case VarianceShadowMap:
    case VarianceStoreOnly:
    case VarianceGaussian: {
      auto* store = New<TQuorvelRenderPassVSMStoreDepth>(viewport, "store");
      store->SetLight(light);
      store->SetViewport(viewport);
      floor->SetShadows(true);
      floor->SetShadowMethod(TQuorvelShadowMethod::VarianceShadowMapping);
      floor->SetShadowMapPass(0, store);
      if (state.range(0) == VarianceStoreOnly) break;
      auto* blur = New<TQuorvelRenderPassVSMBlur>(viewport, "blur");
      blur->SetVSMStoreDepth(store);
      if (state.range(0) == VarianceGaussian) blur->SetBlurType(TPassBlurType::GaussianBlur);
      blur->SetViewport(viewport);
      floor->SetShadowMapPass(0, blur);
      break;
    }
    default: break;
  }
  viewport->RenderManual();  // programs, targets and maps made outside the timing
  glFinish();
  for (auto _ : state) {
    viewport->RenderManual();
    glFinish();
  }
  if (state.range(0) == ShadowsOff || state.range(0) == MapNotRead) return;
  const std::vector<uint8_t>& frame = viewport->GetFrameBitmap()->Pixels();
  int darker = 0;
  for (size_t i = 0; i + 3 < frame.size() && i + 3 < unshadowed.size(); i += 4)
    if (Grey(&frame[i]) + 8 < Grey(&unshadowed[i])) ++darker;
  state.counters["shadowed_px"] = darker;
  if (darker == 0) state.SkipWithError("the shadow darkened no pixel: the frame drew no shadow");
}
BENCHMARK(BM_DemoFrameShadows)
    ->ArgName("shadows")
    ->Arg(ShadowsOff)
    ->Arg(ShadowMap)
    ->Arg(VarianceShadowMap)
    ->Arg(MapNotRead)
    ->Arg(VarianceStoreOnly)
    ->Arg(VarianceGaussian)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace quorvel

BENCHMARK_MAIN();
