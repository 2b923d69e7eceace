#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "framework/classes/StoredProperties.h"
#include "framework/gui/TimerService.h"
#include "framework/gui3d/Animation.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/Log.h"
#include "lib/animation/Animation.h"
#include "lib/animation/KeyAnimation.h"
#include "lib/formats/Loader.h"
#include "lib/scene/Duplication.h"
#include "tests/animation/StripRig.h"

namespace quorvel {
namespace {

// A model built from the strip with animations of the given ids (each a bend of ADuration).
struct TAnimatedStrip {
  TStrip S;
  TOwned<TQuorvelModel> Model;
  explicit TAnimatedStrip(const std::vector<std::string>& AIds, float ADuration = 1.5f) {
    for (const std::string& id : AIds) S.AddBend(ADuration)->SetId(id);
    Model.reset(New<TQuorvelModel>(nullptr));
    Model->LoadFromDefinition(S.Def.get());
  }
  TQuorvelAnimationManager* Manager() const { return Model->GetAnimationManager(); }
};

TEST(AnimationComponent, FrameCountFollowsTheDurationAtSixtyFrames) {
  struct {
    float Duration;
    int32_t Frames;
  } cases[] = {{1.5f, 90}, {1.51f, 91}, {0.1f, 7}, {0.0f, 0}};
  for (const auto& c : cases) {
    TAnimatedStrip m({"A"}, c.Duration);
    TQuorvelAnimation* a = m.Manager()->GetAnimation("A");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->GetFrameCount(), c.Frames) << c.Duration;
    EXPECT_EQ(a->GetFrameRate(), 60);
  }
}

TEST(AnimationComponent, FixedFramesAndTheFrameOfTheMoment) {
  TAnimatedStrip m({"A"});
  TQuorvelAnimation* a = m.Manager()->GetAnimation("A");
  a->SetFixedCacheFrame(90);
  EXPECT_EQ(a->GetFixedCacheFrame(), 0);
  a->SetFixedCacheFrame(-5);
  EXPECT_EQ(a->GetFixedCacheFrame(), -1);
  a->SetFixedCacheFrame(12);
  EXPECT_EQ(a->GetCurrentFrameIndex(), 12);
  a->UnsetFixedCacheFrame();
  // A cache baked at 30 frames per second is indexed by its own count: half-way through
  // 45 frames is frame 22 (halves to even), not 45.
  TAnimationDef* def = a->GetDef();
  def->SetFrameRate(30);
  def->PrepareAnimationData();
  ASSERT_EQ(def->GetFrameCount(), 45);
  a->GetSkeleton()->ResetCaching();
  for (TPropertyKeyAnimation* i : a->GetSkeleton()->GetInterpolators()) i->ResetCaching();
  a->Start();
  TAniThread::Instance().Step(900);
  TAniThread::Instance().Step(900.75);
  EXPECT_FLOAT_EQ(a->GetSkeleton()->GetTransitionTime(), 0.5f);
  EXPECT_EQ(a->GetCurrentFrameIndex(), 22);
  // Not baked: no frame to draw.
  EXPECT_EQ(a->GetCurrentCachedFrame(m.S.Strip), nullptr);
  a->Stop();
}

TEST(AnimationManager, AddKeepsTheFirstAndPlayWrapsBothWays) {
  TAnimatedStrip m({"A", "B", "C"});
  TQuorvelAnimationManager* manager = m.Manager();
  TQuorvelAnimation* a = manager->GetAnimation("A");
  TQuorvelAnimation* c = manager->GetAnimation("C");
  EXPECT_EQ(manager->AddAnimation("A", c), a);
  EXPECT_EQ(manager->GetAnimation("A"), a);
  EXPECT_EQ(manager->GetAnimation("a"), nullptr);  // case matters
  EXPECT_EQ(manager->GetAnimation(m.S.Def->FindAnimationById("B")), manager->GetAnimation("B"));
  EXPECT_EQ(manager->GetFirstAnimation(), a);
  EXPECT_EQ(manager->GetLastAnimation(), c);
  EXPECT_EQ(manager->GetCurrent(), a);  // the first becomes current
  EXPECT_EQ(manager->PlayPreviousAnimation(), c);
  EXPECT_TRUE(c->GetRunning());
  EXPECT_EQ(manager->PlayNextAnimation(), a);
  EXPECT_FALSE(c->GetRunning());  // the previous current one stopped
  EXPECT_TRUE(a->GetRunning());
  EXPECT_EQ(manager->GetCurrentAnimationName(), "A");
  manager->SetCurrentAnimationName("B");
  EXPECT_EQ(manager->GetCurrent()->GetId(), "B");
  EXPECT_TRUE(manager->GetCurrent()->GetRunning());
  // Start makes current without stopping the old one.
  a->Start();
  EXPECT_EQ(manager->GetCurrent(), a);
  EXPECT_TRUE(manager->GetAnimation("B")->GetRunning());
  // Clear during play frees everything; the model survives it.
  manager->Clear();
  EXPECT_EQ(manager->AnimationCount(), 0);
  EXPECT_EQ(manager->GetCurrent(), nullptr);
}

TEST(AnimationManager, StartAndStopWithoutManagerDriveOnlyTheSkeleton) {
  TAnimatedStrip m({"A"});
  TQuorvelAnimation* a = m.Manager()->GetAnimation("A");
  m.Manager()->ExtractAnimation(a);
  a->SetManager(nullptr);
  a->Start();
  EXPECT_TRUE(a->GetRunning());
  a->Stop();
  EXPECT_FALSE(a->GetRunning());
  Free(a);
}

class TTestTimer : public IFwTimerService {
public:
  double Tick = 0;
  double GetTick() override { return Tick; }
};

TEST(AnimationManager, ForceStepThrottlesByTheTimersTick) {
  TTestTimer timer;
  TPlatformServices::Current().SetTimerService(&timer);
  auto restore = Finally([] { TPlatformServices::Current().SetTimerService(TPlatformServices::DefaultTimerService()); });
  TQuorvelAnimationManager::ResetForcedStep();
  TAnimatedStrip m({"A"});
  TQuorvelAnimation* a = m.Manager()->GetAnimation("A");
  timer.Tick = 2000;
  EXPECT_TRUE(TQuorvelAnimationManager::ForceStep(0.05));  // the thread's origin
  a->Start();
  timer.Tick = 2000.3;
  EXPECT_TRUE(TQuorvelAnimationManager::ForceStep(0.05));
  EXPECT_NEAR(a->GetSkeleton()->GetCurrentTime(), 0.3, 1e-4);
  timer.Tick = 2000.31;  // 10 ms later
  EXPECT_FALSE(TQuorvelAnimationManager::ForceStep(0.05));
  EXPECT_NEAR(a->GetSkeleton()->GetCurrentTime(), 0.3, 1e-4);
  a->Stop();
  TPlatformServices::Current().SetTimerService(nullptr);
  EXPECT_TRUE(TQuorvelAnimationManager::ForceStep(0.05));
}

TEST(AnimationManagerDeathTest, ForceStepWithoutAnAnimationThreadAnswersTrueAndMakesNone) {
  // The thread lives as long as the process once any test made it: the question is asked in a
  // process started afresh for this test alone, whatever ran before it here.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        int code = 0;
        if (TAniThread::Exists()) code |= 1;
        if (!TQuorvelAnimationManager::ForceStep(0.05)) code |= 2;
        if (!TQuorvelAnimationManager::ForceStep(0.05)) code |= 4;
        if (TAniThread::Exists()) code |= 8;
        std::fprintf(stderr, "force step answers %d\n", code);
        std::_Exit(code);
      },
      ::testing::ExitedWithCode(0), "force step answers 0");
}

TEST(AnimationComponent, TheFinalTransformIsPublishedAndTheComponentRoutinesAnswerForBoth) {
  TAnimatedStrip m({"A"});
  TQuorvelAnimation* a = m.Manager()->GetAnimation("A");
  ASSERT_NE(a, nullptr);
  const TMatrix3D shift = TMatrix3D::CreateTranslation({10, 0, 0});
  SetPropValue(a, "TransformMatrix", TValue::From(shift));
  EXPECT_TRUE(a->TransformMatrix == shift);
  EXPECT_TRUE(GetPropValue(a, "TransformMatrix").AsType<TMatrix3D>() == shift);
  EXPECT_EQ(a->FindTopOwner(), m.Model.get());  // through the manager
  EXPECT_EQ(a->FindComponentUpwards(TQuorvelModel::StaticClass()), m.Model.get());
  EXPECT_EQ(a->FindViewport(), nullptr);
  EXPECT_EQ(m.Manager()->FindComponentDeepSearch(a->GetName()), a);
  EXPECT_EQ(m.Manager()->FindComponentDeepSearchByClass(TQuorvelAnimation::StaticClass()), a);
  std::vector<TComponent*> all;
  m.Manager()->FindAllComponentsByClass(TQuorvelAnimation::StaticClass(), all);
  EXPECT_EQ(all, (std::vector<TComponent*>{a}));
  EXPECT_NE(m.Manager()->LogComponentHierarchy("").find(a->GetName()), std::string::npos);
}

TEST(AnimationComponent, TheClassesStreamAndPublishWhatTheyShould) {
  for (const char* name : {"TQuorvelAnimation", "TPropertyKeyAnimation", "TPoint3DKeyAnimation",
                           "TVector3DKeyAnimation", "TQuaternion3DKeyAnimation", "TCoordinateKeyAnimation",
                           "TSkeletonKeyAnimation", "TTransformationKeyAnimation", "TPoint3DAnimation",
                           "TQuorvelJoint", "TQuorvelArmature"})
    EXPECT_NE(GetClass(name), nullptr) << name;
  struct TPublished {
    const TClass* Class;
    const char* Name;
    bool Stored;
  } published[] = {
      {TQuorvelAnimation::StaticClass(), "UseTransform", true},
      {TQuorvelAnimation::StaticClass(), "TransformMatrix", true},
      {TQuorvelAnimation::StaticClass(), "Source", true},
      {TQuorvelAnimation::StaticClass(), "Manager", false},
      {TQuorvelAnimationManager::StaticClass(), "CurrentAnimationName", true},
  };
  for (const TPublished& p : published) {
    const TPropInfo* info = p.Class->FindProperty(p.Name);
    ASSERT_NE(info, nullptr) << p.Name;
    EXPECT_EQ(IsPropertyStored(info), p.Stored) << p.Name;
  }
  // The manager reads and writes through the property like any other.
  TAnimatedStrip m({"A"});
  TQuorvelAnimation* a = m.Manager()->GetAnimation("A");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(GetPropValue(a, "Manager").AsObject(), m.Manager());
  EXPECT_EQ(GetPropValue(a, "Source").AsType<std::string>(), "A");
  SetPropValue(m.Manager(), "CurrentAnimationName", TValue::From(std::string("A")));
  EXPECT_EQ(m.Manager()->GetCurrent(), a);
  EXPECT_TRUE(a->GetRunning());
  a->Stop();
}

// Reads every ".qanim" file as a bend of the strip's bone; "broken.qanim" raises.
class TAnimLoader : public TQuorvelLoader {
public:
  std::vector<std::string> Files;
  TModelDef* LoadModelDefFromStream(TStream*, const TQuorvelLoadOptions&) override { return nullptr; }
  TAnimationDef* LoadAnimationDefFromFile(TModelDef* AModel, const std::string& AFilename) override {
    Files.push_back(AFilename);
    if (AFilename.find("broken") != std::string::npos) throw Exception("unreadable");
    auto* anim = New<TAnimationDef>(AModel);
    anim->SetId("Wave");
    AModel->AddAnimation(anim);
    auto* stage = New<TAnimationStageDef>(anim);
    stage->SetId("S");
    stage->SetReference(AModel->FindAnimationById("Bend")->GetStages()->Items(0)->GetReference());
    anim->AddStage(stage);
    auto* track = New<TTransformationInterpolatorDef>(stage);
    track->SetId("T");
    track->AddKey(0, TMatrix3D::Identity(), TInterpolationType::Linear);
    track->AddKey(1, TMatrix3D::Identity(), TInterpolationType::Linear);
    stage->AddInterpolator(track);
    return anim;
  }
};

TEST(AnimationComponent, SourceRegistersLoadsBesideTheModelAndLogsEveryProblem) {
  TAnimLoader loader;
  TQuorvelLoader::RegisterLoader(".qanim", &loader);
  auto unregister = Finally([] { TQuorvelLoader::UnregisterLoader(".qanim"); });
  TAnimatedStrip m({"Bend"});
  m.S.Def->SetFilename("/models/strip/strip.json");
  TLogCapture log;

  // Not under a model.
  TOwned<TQuorvelAnimation> loose(New<TQuorvelAnimation>(nullptr));
  loose->SetSource("wave.qanim");
  EXPECT_TRUE(log.Contains("<WARNING> Owner of TQuorvelAnimation \"wave.qanim\" not a TQuorvelModel"));

  // Registered already.
  TQuorvelAnimation* again = TQuorvelAnimation::CreateEx(m.Manager());
  again->SetParent(m.Model.get());
  again->SetSource("Bend");
  EXPECT_TRUE(log.Contains("<WARNING> Animation \"Bend\" already exists in TQuorvelModel"));
  Free(again);

  // Auto-load beside the model's file.
  auto* wave = New<TQuorvelAnimation>(m.Manager());
  wave->SetParent(m.Model.get());
  wave->SetSource("wave.qanim");
  ASSERT_EQ(loader.Files.size(), 1u);
  EXPECT_EQ(loader.Files[0], "/models/strip/wave.qanim");
  EXPECT_EQ(wave->GetManager(), m.Manager());
  EXPECT_EQ(m.Manager()->GetAnimation("wave.qanim"), wave);
  EXPECT_EQ(wave->GetId(), "Wave");
  EXPECT_EQ(wave->GetSkeleton()->GetInterpolators().size(), 1u);
  // A second source keeps the definition.
  wave->SetSource("other.qanim");
  EXPECT_TRUE(log.Contains("<WARNING> Existing TQuorvelAnimation \"Wave\" cannot be replaced with \"other.qanim\""));

  // A file that does not load.
  auto* broken = New<TQuorvelAnimation>(m.Manager());
  broken->SetParent(m.Model.get());
  broken->SetSource("broken.qanim");
  EXPECT_TRUE(log.Contains("<ERROR> failed to auto-load TQuorvelAnimation \"broken.qanim\" from \"/models/strip/broken.qanim\""));

  // A model without definition.
  TOwned<TQuorvelModel> bare(New<TQuorvelModel>(nullptr));
  auto* orphan = New<TQuorvelAnimation>(bare->GetAnimationManager());
  orphan->SetParent(bare.get());
  orphan->SetSource("x.qanim");
  EXPECT_TRUE(log.Contains("<WARNING> TQuorvelModel definition of animation \"x.qanim\" not assigned"));
}

TEST(AnimationComponent, LoadRaisesForMissingReferencesAndTargets) {
  struct {
    bool Transformation;
    bool WithReference;
    const char* Message;
  } cases[] = {
      {true, false, "transformation interpolator definition S reference not set"},
      {false, false, "point3d interpolator definition S reference not set"},
      {false, true, "position interpolator - target Nowhere not found"},
  };
  for (const auto& c : cases) {
    TAnimatedStrip m({});
    auto* anim = New<TAnimationDef>(m.S.Def.get());
    anim->SetId("X");
    m.S.Def->AddAnimation(anim);
    auto* stage = New<TAnimationStageDef>(anim);
    stage->SetId("S");
    anim->AddStage(stage);
    TOwned<TJointDef> nowhere(New<TJointDef>(nullptr));
    nowhere->SetId("Nowhere");
    if (c.WithReference) stage->SetReference(nowhere.get());
    if (c.Transformation)
      stage->AddInterpolator(New<TTransformationInterpolatorDef>(stage));
    else
      stage->AddInterpolator(New<TPoint3DInterpolatorDef>(stage));
    auto* a = TQuorvelAnimation::CreateEx(m.Manager());
    a->SetParent(m.Model.get());
    EXPECT_EQ(MessageOf([&] { a->LoadFromAnimationDef(anim); }), c.Message);
  }
  // A matrix track whose target is missing is logged and skipped.
  TAnimatedStrip m({});
  TLogCapture log;
  auto* anim = New<TAnimationDef>(m.S.Def.get());
  anim->SetId("Y");
  auto* stage = New<TAnimationStageDef>(anim);
  stage->SetId("S");
  anim->AddStage(stage);
  TOwned<TJointDef> nowhere(New<TJointDef>(nullptr));
  nowhere->SetId("Nowhere");
  stage->SetReference(nowhere.get());
  stage->AddInterpolator(New<TTransformationInterpolatorDef>(stage));
  auto* a = TQuorvelAnimation::CreateEx(m.Manager());
  a->SetParent(m.Model.get());
  a->LoadFromAnimationDef(anim);
  EXPECT_TRUE(log.Contains("interpolator - target Nowhere not found"));
  EXPECT_TRUE(a->GetSkeleton()->GetInterpolators().empty());
  Free(anim);
}

TEST(AnimationComponent, AModelBuildsArmaturesThenAnimationsThatBendTheStrip) {
  TAnimatedStrip m({"Bend"});
  TQuorvelAnimation* bend = m.Manager()->GetCurrent();
  ASSERT_NE(bend, nullptr);
  EXPECT_EQ(bend->GetParent(), m.Model.get());
  EXPECT_EQ(bend->GetOwner(), m.Manager());
  TQuorvelArmature* armature = m.Model->GetFirstArmature();
  TVertexBuffer* vb = armature->GetMeshes()[0]->GetMeshData()->GetVertexBuffer();
  // Not cacheable and stopped: skinning leaves the buffers alone.
  armature->FindJoint(m.S.Bone)->SetTransformMatrix(TStrip::BentBone());
  armature->AnimateSkin(nullptr);
  ExpectNear(vb->GetVertices(7), {1, 3, 0}, "stopped");
  TAniThread& thread = TAniThread::Instance();
  thread.Step(700);
  bend->Start();
  thread.Step(700.75);  // half-way: the bone's matrix is the element blend of its two keys
  armature->AnimateSkin(nullptr);
  ExpectNear(vb->GetVertices(7), {0, 3, 0}, "half-way, bone only");
  ExpectNear(vb->GetVertices(5), {0.75f, 2.25f, 0}, "half-way, half on the bone");
  ExpectNear(vb->GetVertices(1), {1, 0, 0}, "root only");
  bend->Stop();
}

TEST(AnimationComponent, DuplicationRegistersTheCopyWithItsManager) {
  TAnimatedStrip m({"Bend"});
  TQuorvelAnimation* bend = m.Manager()->GetAnimation("Bend");
  TOwned<TQuorvelAnimationManager> other(New<TQuorvelAnimationManager>(nullptr));
  TQuorvelAnimation* copy = TQuorvelAnimation::CreateEx(other.get());
  TOwned<TQuorvelDuplicator> dup(New<TQuorvelDuplicator>());
  // Without a definition the copy registers under the empty id.
  copy->DoDuplicate(bend, dup.get());
  EXPECT_EQ(other->GetAnimation(""), copy);
  TOwned<TQuorvelAnimation> lost(New<TQuorvelAnimation>(nullptr));
  EXPECT_EQ(MessageOf([&] { lost->DoDuplicate(bend, dup.get()); }),
            "failed to duplicate animation - missing animation manager reference");
}

TEST(AnimationManager, FreeingAPlayingModelOrClearingDuringPlayLeavesNothingBehind) {
  TAniThread& thread = TAniThread::Instance();
  const int32_t before = thread.Count();
  {
    TAnimatedStrip m({"A", "B"});
    thread.Step(1000);
    m.Manager()->PlayAnimation("A");
    thread.Step(1000.1);
    EXPECT_GT(thread.Count(), before);
    m.Manager()->Clear();  // during play
    EXPECT_EQ(thread.Count(), before);
    thread.Step(1000.2);
  }
  {
    auto* model = New<TQuorvelModel>(nullptr);
    TStrip s;
    s.AddBend();
    model->LoadFromDefinition(s.Def.get());
    model->GetAnimationManager()->PlayAnimation("Bend");
    thread.Step(1000.3);
    Free(model);  // while playing
    EXPECT_EQ(thread.Count(), before);
    thread.Step(1000.4);
  }
}

}  // namespace
}  // namespace quorvel
