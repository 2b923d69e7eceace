// The bending strip drawn on llvmpipe: skinned on the processor while it plays, and baked and
// drawn through its frame cache.
#include <gtest/gtest.h>

#include <vector>

#include "lib/animation/Animation.h"
#include "lib/animation/KeyAnimation.h"
#include "tests/animation/StripRig.h"
#include "tests/scene/InstancedColorMaterial.h"
#include "tests/scene/SceneTestSupport.h"

namespace quorvel {
namespace {

using testkit::NearColor;
using testkit::TInstancedColorSource;
using testkit::TViewportTest;

// A track holding Root in place for AHold seconds: the skeleton runs on past the bent key, so
// that key is skinned and drawn before the animation stops (a stopped animation skins no more).
TAnimationDef* AddHold(TStrip& AStrip, TAnimationDef* AAnim, float AHold) {
  auto* stage = New<TAnimationStageDef>(AAnim);
  stage->SetId("RootStage");
  stage->SetReference(AStrip.Root);
  AAnim->AddStage(stage);
  auto* track = New<TTransformationInterpolatorDef>(stage);
  track->SetId("RootTrack");
  track->SetDuration(AHold);
  track->AddKey(0, TMatrix3D::Identity(), TInterpolationType::Linear);
  track->AddKey(1, TMatrix3D::Identity(), TInterpolationType::Linear);
  stage->AddInterpolator(track);
  return AAnim;
}

// Points of the strip's space and whether the strip covers them at rest and with the bone
// turned: below the bend it stays; above it the top row folds over to the left, to (-1, 3)
// and (0.5, 2.5), leaving the top right corner empty.
struct TProbe {
  TPoint3D Point;
  bool AtRest, Bent;
} const Probes[] = {
    {{0, 0.5f, 0}, true, true},       // below the bend
    {{0.9f, 2.6f, 0}, true, false},   // the top right corner: left behind by the fold
    {{-0.7f, 1.8f, 0}, true, true},   // above it, left: inside the folded part
    {{1.5f, 0.5f, 0}, false, false},  // beside the strip
};

class StripPixels : public TViewportTest {
protected:
  void SetUp() override {
    TViewportTest::SetUp();
    // The model stays at the origin (the test material applies a model matrix both with each
    // instance and inside its MVP matrix); the camera centres the strip instead.
    auto* cam = New<TQuorvelCamera>(Form.get());
    cam->SetParent(Viewport);
    cam->GetPosition()->SetPoint({0, 1.5f, -5});
    Viewport->SetCamera(cam);
    Viewport->SetUsingDesignCamera(false);
  }
  TQuorvelModel* AddStrip(TStrip& AStrip) {
    auto* model = New<TQuorvelModel>(Form.get());
    model->SetParent(Viewport);
    model->LoadFromDefinition(AStrip.Def.get());
    auto* green = New<TInstancedColorSource>(model);
    green->SetColor(claLime);
    for (TQuorvelMesh* mesh : model->GetFirstArmature()->GetMeshes()) mesh->SetMaterialSource(green);
    return model;
  }
  // The meshes draw before their armature skins them in a frame: the second frame shows the
  // pose of the moment.
  void Draw() {
    Tick();
    Tick();
  }
  bool Covered(const TPoint3D& APoint) {
    const TPointF p = Viewport->WorldToScreen(APoint);
    return !NearColor(Probe(int32_t(p.X), int32_t(p.Y)), claBlue);
  }
  void ExpectProbes(bool ABent) {
    for (const TProbe& p : Probes)
      EXPECT_EQ(Covered(p.Point), ABent ? p.Bent : p.AtRest)
          << (ABent ? "bent" : "at rest") << " at (" << p.Point.X << ", " << p.Point.Y << ")";
  }
  std::vector<TAlphaColor> Pixels() {
    std::vector<TAlphaColor> out;
    for (int32_t y = 0; y < H; ++y)
      for (int32_t x = 0; x < W; ++x) out.push_back(Probe(x, y));
    return out;
  }
};

TEST_F(StripPixels, PlayingTheBendFoldsTheTopOverAtTheBentKey) {
  TStrip s;
  AddHold(s, s.AddBend(1), 2);
  TQuorvelModel* model = AddStrip(s);
  // On the fixture's manual clock, which message passes tick too.
  TAniThread& thread = TAniThread::Instance();
  thread.Tick();
  TQuorvelAnimation* bend = model->GetAnimationManager()->PlayAnimation("Bend");
  Draw();
  ExpectProbes(false);
  Time.AdvanceMs(1250);
  thread.Tick();  // the bone holds its bent key, the skeleton still runs
  ASSERT_TRUE(bend->GetRunning());
  Draw();
  ExpectProbes(true);
  bend->Stop();
}

// Half-way through the bend: the baked frame differs from the rest pose the mesh keeps with
// positions-only frames and from the last pose a full bake leaves in the mesh's own buffer.
TEST_F(StripPixels, ABakedFrameDrawsThroughTheCacheWhatSkinningDrawsAfterTheSameSteps) {
  const int32_t frame = 30;  // 31 steps of 2 s / 119: about half-way to the bent key at 1 s
  const struct {
    const char* Name;
    TAnimationCachingFlags Flags;
  } cases[] = {
      {"plain, all attributes", TAnimationCachingFlags{TAnimationCachingFlag::AllAttributes}},
      {"compressed positions", TAnimationCachingFlags{TAnimationCachingFlag::Compressed, TAnimationCachingFlag::VertexPosition}},
  };
  std::vector<TAlphaColor> rest, skinned, last;
  {
    TStrip s;
    AddHold(s, s.AddBend(1), 2);
    TQuorvelModel* model = AddStrip(s);
    Draw();
    rest = Pixels();
    StepAsTheBaker(model->GetAnimationManager()->GetAnimation("Bend"), [&](int32_t c) {
      if (c != frame && c != 119) return;
      Draw();
      (c == frame ? skinned : last) = Pixels();
    });
    Free(model);
  }
  ASSERT_FALSE(skinned.empty());
  ASSERT_FALSE(last.empty());
  auto differing = [](const std::vector<TAlphaColor>& a, const std::vector<TAlphaColor>& b) {
    int32_t n = 0;
    for (size_t i = 0; i < a.size(); ++i) n += !NearColor(a[i], b[i], 1);
    return n;
  };
  ASSERT_GT(differing(skinned, rest), 20);
  ASSERT_GT(differing(skinned, last), 20);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TStrip s;
    TAnimationDef* def = AddHold(s, s.AddBend(1), 2);
    TQuorvelModel* model = AddStrip(s);
    ASSERT_EQ(s.Def->CacheAnimations({}, c.Flags, model), 1);
    ASSERT_EQ(def->GetBufferingState(), TAnimationBufferingState::Ready);
    ASSERT_EQ(def->GetFrameCount(), 120);
    TQuorvelAnimation* bend = model->GetAnimationManager()->PlayAnimation("Bend");
    bend->SetFixedCacheFrame(frame);
    Draw();
    EXPECT_EQ(differing(Pixels(), skinned), 0) << "pixels more than 1/255 off the skinned frame";
    bend->Stop();
    Free(model);
  }
}

}  // namespace
}  // namespace quorvel
