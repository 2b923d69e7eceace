// What a render pass draws of the scene (its controller's allowed and ignored controls), the
// design position in a form, the fog mode, and screenshots of a scaled form.
#include <gtest/gtest.h>

#include "framework/classes/FormText.h"
#include "lib/passes/ControllerPassesEnvironment.h"
#include "lib/context/ContextTexturing.h"
#include "tests/passes/PassTestSupport.h"
#include "tests/scene/SceneTestSupport.h"

namespace quorvel {
namespace {

using testkit::NearColor;
using testkit::PixelOf;
using testkit::TCountingPass;
using testkit::TFilledCube;
using testkit::TViewportTest;

class PassFilter : public TViewportTest {
protected:
  // Counts the renders of each cube made inside the pass (the pass is current then).
  void CountPassRenders(TFilledCube* ACube, int& ACount) {
    ACube->OnDraw = [this, &ACount] {
      auto* ctx = dynamic_cast<TQuorvelContext*>(Viewport->GetContext());
      if (ctx && ctx->GetCurrentRenderPass()) ++ACount;
    };
  }
};

TEST_F(PassFilter, ThePassDrawsWhatItsControllerLetsThroughAndTheMainPassEverything) {
  auto* pass = New<TCountingPass>(Viewport, "pre");
  pass->SetViewport(Viewport);
  TFilledCube* a = AddCube(claRed);
  TFilledCube* b = AddCube(claLime);
  TFilledCube* c = AddCube(claYellow);
  struct TCase {
    const char* Name;
    std::function<void()> Filter;
    int A, B, C;  // renders inside the pass
  } cases[] = {
      {"no filter", [] {}, 1, 1, 1},
      {"a ignored", [&] { pass->IgnoreControl(a); }, 0, 1, 1},
      {"only a allowed", [&] { pass->AllowControl(a); }, 1, 0, 0},
      {"a allowed and ignored", [&] {
         pass->AllowControl(a);
         pass->IgnoreControl(a);
       }, 0, 0, 0},
  };
  for (const TCase& k : cases) {
    SCOPED_TRACE(k.Name);
    pass->GetAllowedControls()->Clear();
    pass->GetIgnoredControls()->Clear();
    k.Filter();
    int inA = 0, inB = 0, inC = 0;
    CountPassRenders(a, inA);
    CountPassRenders(b, inB);
    CountPassRenders(c, inC);
    const int before = a->Renders;
    Tick();
    EXPECT_EQ(inA, k.A);
    EXPECT_EQ(inB, k.B);
    EXPECT_EQ(inC, k.C);
    // The main pass knows no controller: every cube is drawn there once.
    EXPECT_EQ(a->Renders - before - inA, 1);
  }
}

TEST_F(PassFilter, AnEnvironmentMappedObjectIsNotInItsOwnCubeMap) {
  constexpr int32_t N = 16;
  auto* env = New<TQuorvelRenderPassEnvironment>(Viewport, "environment");
  env->SetViewport(Viewport);
  env->SetMapSize(N);
  // The mapped object around the pass's camera, and a red cube along +X beyond it.
  TFilledCube* ball = AddCube(claLime, 2);
  ball->SetTwoSide(true);
  AddCube(claRed, 2)->GetPosition()->SetPoint({5, 0, 0});
  env->SetTarget(ball);
  ASSERT_TRUE(env->IsControlIgnored(ball));
  Tick();
  auto* map = dynamic_cast<TQuorvelTexture*>(env->GetOutputTexture());
  ASSERT_NE(map, nullptr);
  std::vector<uint8_t> bytes;
  int64_t size = 0;
  map->RequestTextureData(bytes, size, 0);
  // The centre of the +X face (face 0, BGRA) sees the red cube, not the object's inside.
  const uint8_t* p = bytes.data() + (size_t(N / 2) * N + N / 2) * 4;
  EXPECT_TRUE(NearColor(MakeAlphaColor(p[2], p[1], p[0], p[3]), claRed)) << std::hex << int(p[2]) << " " << int(p[1]);
  // The main frame still shows the object.
  EXPECT_TRUE(NearColor(Probe(W / 2, H / 2), claLime));
}

TEST_F(TViewportTest, TheDesignPositionAndRotationStreamWithTheForm) {
  TOwned<TComponent> root(New<TComponent>(nullptr));
  auto* form = New<TForm>(root.get());
  form->SetName("Form1");
  auto* viewport = New<TQuorvelViewport>(form);
  viewport->SetName("Viewport1");
  viewport->GetDesignPosition()->SetPoint({1, 2, 3});
  viewport->GetDesignRotationAngle()->SetPoint({10, 20, 30});
  const std::string text = WriteComponentResource(root.get());
  EXPECT_NE(text.find("DesignPosition.X"), std::string::npos) << text;
  TOwned<TComponent> back(New<TComponent>(nullptr));
  ReadComponentResource(back.get(), text);
  // The reader makes the root the owner of everything in the form.
  auto* again = dynamic_cast<TQuorvelViewport*>(back->FindComponent("Viewport1"));
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->GetDesignPosition()->GetPoint(), TPoint3D(1, 2, 3));
  EXPECT_EQ(again->GetDesignRotationAngle()->GetPoint(), TPoint3D(10, 20, 30));
  // The design camera's target follows what was read.
  EXPECT_EQ(again->GetDesignCameraController()->GetPosition()->GetPoint(), TPoint3D(1, 2, 3));
}

TEST_F(TViewportTest, TheFogModeReachesTheContexts) {
  Tick();
  auto* ctx = dynamic_cast<TQuorvelContext*>(Viewport->GetContext());
  ASSERT_NE(ctx, nullptr);
  EXPECT_EQ(Viewport->GetFogMode(), 2);
  for (uint8_t mode : {uint8_t(4), uint8_t(8), uint8_t(2)}) {
    Viewport->SetFogMode(mode);
    EXPECT_EQ(Viewport->GetFogMode(), mode);
    EXPECT_EQ(ctx->GetFog().Mode, mode);
  }
}

}  // namespace
}  // namespace quorvel
