// The bending strip played on the real clock: the viewport's frame timer thread hands its ticks
// to the main thread, whose message passes step the animation clock. A playing model freed and
// a manager cleared during play leave nothing behind.
#include <gtest/gtest.h>

#include <set>

#include "framework/gui/Application.h"
#include "framework/rtl/Stopwatch.h"
#include "lib/animation/Animation.h"
#include "lib/utils/UtilsTimer.h"
#include "tests/animation/StripRig.h"
#include "tests/scene/InstancedColorMaterial.h"
#include "tests/scene/SceneTestSupport.h"

namespace quorvel {
namespace {

class AnimationTimerThreads : public testkit::TViewportTest {
protected:
  AnimationTimerThreads() { ManualTime = false; }

  void SetUp() override {
    TViewportTest::SetUp();
    // A small cube aside counts the frames.
    Counter = AddCube(claRed, 0.2f);
    Counter->GetPosition()->SetPoint({-2.5f, -1.5f, 0});
    Viewport->SetFixedFrameRate(200);
  }
  TQuorvelModel* AddStrip(TStrip& AStrip) {
    auto* model = New<TQuorvelModel>(Form.get());
    model->SetParent(Viewport);
    model->LoadFromDefinition(AStrip.Def.get());
    auto* green = New<testkit::TInstancedColorSource>(model);
    green->SetColor(claLime);
    for (TQuorvelMesh* mesh : model->GetFirstArmature()->GetMeshes()) mesh->SetMaterialSource(green);
    return model;
  }
  // Message passes until AFrames more frames are drawn; AEachPass runs after each. The bound
  // is for a hang only: a loaded machine under ThreadSanitizer draws a few frames a second.
  void RunFrames(int AFrames, const std::function<void()>& AEachPass = {}) {
    const int until = Counter->Renders + AFrames;
    const TStopwatch watch = TStopwatch::StartNew();
    while (Counter->Renders < until && watch.GetElapsedMilliseconds() < 240000) {
      Application->ProcessMessages();
      if (AEachPass) AEachPass();
      TThread::Sleep(1);
    }
    EXPECT_GE(Counter->Renders, until);
  }

  testkit::TFilledCube* Counter = nullptr;
};

TEST_F(AnimationTimerThreads, TheFrameTimerPlaysTheBendAHundredTicks) {
  TAniThread& thread = TAniThread::Instance();
  const int32_t before = thread.Count();
  TStrip s;
  s.AddBend(0.25f, true);
  TQuorvelModel* model = AddStrip(s);
  TQuorvelAnimation* bend = model->GetAnimationManager()->PlayAnimation("Bend");
  ASSERT_TRUE(Viewport->GetFrameTimer()->GetActive());
  TVertexBuffer* vb = model->GetFirstArmature()->GetMeshes()[0]->GetMeshData()->GetVertexBuffer();
  // The top right vertex swings from (1, 3) to (-1, 3) and back with every loop.
  std::set<float> seen;
  RunFrames(100, [&] { seen.insert(vb->GetVertices(7).X); });
  EXPECT_TRUE(bend->GetRunning());
  EXPECT_GE(seen.size(), 10u) << "the bend moves from frame to frame";
  for (float x : seen) {
    EXPECT_GE(x, -1 - 1e-5f);
    EXPECT_LE(x, 1 + 1e-5f);
  }
  // Freed while it plays: the clock forgets it, the frames go on.
  Free(model);
  EXPECT_EQ(thread.Count(), before);
  RunFrames(5);
}

TEST_F(AnimationTimerThreads, ClearingTheManagerDuringPlayStopsItsAnimations) {
  TAniThread& thread = TAniThread::Instance();
  const int32_t before = thread.Count();
  TStrip s;
  s.AddBend(0.25f, true)->SetId("A");
  s.AddBend(0.5f, true)->SetId("B");
  TQuorvelModel* model = AddStrip(s);
  model->GetAnimationManager()->PlayAnimation("A");
  RunFrames(10);
  model->GetAnimationManager()->PlayAnimation("B");
  RunFrames(10);
  model->GetAnimationManager()->Clear();
  EXPECT_EQ(model->GetAnimationManager()->AnimationCount(), 0);
  EXPECT_EQ(thread.Count(), before);
  RunFrames(10);
  // Destroying the viewport while ticks are pending ends the timer thread cleanly.
  Form.reset();
  CheckSynchronize();
}

}  // namespace
}  // namespace quorvel
