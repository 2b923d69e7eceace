// One 640x480 frame of a small lit scene (a floor, a ring of cubes, a point light) through the
// forward renderer, with no scene pass and with each of the reflection, refraction, dynamic
// 128x128 environment map and global illumination at detail 1 and 2. The frame without passes
// is the peer: the ratio of each row to it is the pass's cost. Every frame waits for the GPU.
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <cmath>

#include "bench/EngineGL.h"
#include "framework/gui/Form.h"
#include "framework/rtl/Stopwatch.h"
#include "lib/materials/MaterialDefault.h"
#include "lib/passes/ControllerPassesEnvironment.h"
#include "lib/passes/ControllerPassesReflection.h"
#include "lib/passes/ControllerPassesRefraction.h"
#include "lib/passes/Renderer.h"
#include "lib/scene/Camera.h"
#include "lib/scene/Cube.h"
#include "lib/scene/Light.h"
#include "lib/scene/Viewport.h"

namespace quorvel {
namespace {

constexpr int W = 640, H = 480;

enum TMode : int64_t { NoPass, Reflection, Refraction, Environment, GlobalIllum1, GlobalIllum2 };

TQuorvelCube* AddCube(TComponent* AOwner, TQuorvelViewport* AViewport, const TAlphaColorF& AColor,
                      const TPoint3D& APosition, const TPoint3D& ASize) {
  auto* source = New<TQuorvelDefaultMaterialSource>(AOwner);
  source->SetUseLighting(true);
  source->SetDiffuseF(AColor);
  auto* cube = New<TQuorvelCube>(AOwner);
  cube->SetWidth(ASize.X);
  cube->SetHeight(ASize.Y);
  cube->SetDepth(ASize.Z);
  cube->SetMaterialSource(source);
  cube->GetPosition()->SetPoint(APosition);
  cube->SetParent(AViewport);
  return cube;
}

void BM_SceneFrame(benchmark::State& state) {
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
  viewport->SetColor(claBlack);
  // y points down: the floor's top is at 0, the cubes stand on it.
  AddCube(form.get(), viewport, TAlphaColorF(0.5f, 0.5f, 0.5f, 1), {0, 0.25f, 0}, {20, 0.5f, 20});
  for (int i = 0; i < 8; ++i) {
    const float a = float(i) * float(M_PI) / 4;
    AddCube(form.get(), viewport, TAlphaColorF(0.2f + 0.1f * float(i), 0.6f, 0.9f - 0.1f * float(i), 1),
            {5 * std::cos(a), -1, 5 * std::sin(a)}, {2, 2, 2});
  }
  auto* light = New<TQuorvelLight>(form.get());
  light->SetLightType(TLightType::Point);
  light->GetPosition()->SetPoint({0, -8, 0});
  light->SetParent(viewport);
  auto* target = AddCube(form.get(), viewport, TAlphaColorF(1, 1, 1, 1), {0, -1, 0}, {1, 1, 1});
  auto* camera = New<TQuorvelCamera>(form.get());
  camera->SetParent(viewport);
  camera->GetPosition()->SetPoint({0, -8, -14});
  camera->SetTarget(target);
  viewport->SetCamera(camera);
  viewport->SetUsingDesignCamera(false);

  switch (TMode(state.range(0))) {
    case Reflection: {
      auto* pass = New<TQuorvelRenderPassReflection>(viewport, "reflection");
      pass->SetViewport(viewport);
      break;
    }
    case Refraction: {
      auto* pass = New<TQuorvelRenderPassRefraction>(viewport, "refraction");
      pass->SetViewport(viewport);
      break;
    }
    case Environment: {
      auto* pass = New<TQuorvelRenderPassEnvironment>(viewport, "environment");
      pass->SetViewport(viewport);
      pass->SetMapSize(128);
      pass->SetTarget(target);
      break;
    }
    case GlobalIllum1:
    case GlobalIllum2:
      viewport->SetGlobalIllumDetail(state.range(0) == GlobalIllum1 ? 1 : 2);
      viewport->SetReflectionStrength(1);
      break;
    default: break;
  }
  viewport->DoFixedIntervalTimer(nullptr);  // programs, targets and passes made outside the timing
  glFinish();
  for (auto _ : state) {
    viewport->DoFixedIntervalTimer(nullptr);
    glFinish();
  }
}
BENCHMARK(BM_SceneFrame)
    ->ArgName("pass")
    ->Arg(NoPass)
    ->Arg(Reflection)
    ->Arg(Refraction)
    ->Arg(Environment)
    ->Arg(GlobalIllum1)
    ->Arg(GlobalIllum2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace quorvel

BENCHMARK_MAIN();
