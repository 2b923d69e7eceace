#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "framework/gui3d/Control3D.h"
#include "framework/rtl/Log.h"
#include "lib/animation/Animation.h"
#include "lib/animation/KeyAnimation.h"
#include "lib/scene/Transform.h"
#include "tests/animation/StripRig.h"

namespace quorvel {
namespace {

// A target transform with a key animation of kind K parented to it and targeting it; the clock
// is stepped by hand (ResetCaching, then explicit ticks).
template <class K>
struct TRig {
  TOwned<TQuorvelTransform> Target{New<TQuorvelTransform>(nullptr)};
  K* Anim;
  explicit TRig(const std::string& APath = {}) {
    Anim = New<K>(Target.get());
    if (!APath.empty()) Anim->PropertyName = APath;
    Anim->SetParent(Target.get());
    Anim->Duration = 1;
    Anim->AddElement(Target.get(), true);
  }
  // The clock at ATime seconds from 0, processed.
  void At(float ATime) {
    Anim->ResetCaching();
    Anim->ProcessCachingTick(0, ATime);
  }
};

TEST(KeyAnimation, KeyPairsAndFractionsAsTabled) {
  TRig<TPoint3DKeyAnimation> r;
  const TPoint3D values[3] = {{0, 0, 0}, {10, 0, 0}, {10, 20, 0}};
  const float times[3] = {0, 0.5f, 1};
  for (int i = 0; i < 3; ++i) r.Anim->AddKey(times[i])->SetValue(r.Target.get(), values[i]);
  struct {
    float T;
    TPoint3D Expected;
  } cases[] = {{0.25f, {5, 0, 0}}, {0.5f, {10, 0, 0}}, {0.75f, {10, 10, 0}}, {1, {10, 20, 0}}};
  for (const auto& c : cases) {
    r.At(c.T);
    ExpectNear(r.Target->GetPosition()->GetPoint(), c.Expected, "t " + std::to_string(c.T));
    EXPECT_FLOAT_EQ(r.Anim->GetTransitionTime(), c.T);
  }
  r.At(0);  // the first pair with f = 0
  ExpectNear(r.Target->GetPosition()->GetPoint(), {0, 0, 0}, "t 0");
}

TEST(KeyAnimation, ASingleKeyOrTwoKeysAtOneTimeWriteNothing) {
  for (bool sameTime : {false, true}) {
    TRig<TPoint3DKeyAnimation> r;
    r.Target->GetPosition()->SetPoint({7, 7, 7});
    r.Anim->AddKey(0.5f)->SetValue(r.Target.get(), {1, 1, 1});
    if (sameTime) r.Anim->AddKey(0.5f)->SetValue(r.Target.get(), {2, 2, 2});
    r.At(0.5f);
    ExpectNear(r.Target->GetPosition()->GetPoint(), {7, 7, 7}, sameTime ? "same time" : "single");
  }
}

TEST(KeyAnimation, QuaternionKeysHalfWayTurnAboutY) {
  TRig<TQuaternion3DKeyAnimation> r;
  r.Anim->AddKey(0)->SetValue(r.Target.get(), TQuaternion3D(0, 0, 0, 1));
  r.Anim->AddKey(1)->SetValue(r.Target.get(), TQuaternion3D(0, 0.7071f, 0, 0.7071f));
  r.At(0.5f);
  const TQuaternion3D q = r.Target->GetQuaternion();
  // The key itself, not its inverse turn: +Y.
  EXPECT_NEAR(q.ImagPart.X, 0, 1e-4);
  EXPECT_NEAR(q.ImagPart.Y, 0.3827, 1e-4);
  EXPECT_NEAR(q.ImagPart.Z, 0, 1e-4);
  EXPECT_NEAR(q.RealPart, 0.9239, 1e-4);
  // Rotation vectors (x, y, z, w) take the same way.
  const TVector3D v = TVector3DKeyAnimation(nullptr).Interpolate({0, 0, 0, 1}, {0, 0.7071f, 0, 0.7071f}, 0.5f);
  EXPECT_NEAR(v.Y, 0.3827, 1e-4);
  EXPECT_NEAR(v.W, 0.9239, 1e-4);
}

TEST(KeyAnimation, PathsReachNestedObjectsChildrenAndMatrices) {
  {
    TRig<TTransformationKeyAnimation> r;
    EXPECT_EQ(r.Anim->PropertyName, "TransformMatrix");
    r.Anim->AddKey(0)->SetValue(r.Target.get(), TMatrix3D::Identity());
    r.Anim->AddKey(1)->SetValue(r.Target.get(), TMatrix3D::CreateTranslation({4, 0, 0}));
    r.At(0.25f);
    EXPECT_NEAR(r.Target->GetTransformMatrix().m41, 1, 1e-6);
  }
  {
    // "Arm.Position.Point": the child named Arm (any case) of the target.
    TRig<TPoint3DKeyAnimation> r("arm.Position.Point");
    auto* arm = New<TQuorvelTransform>(r.Target.get());
    arm->SetName("Arm");
    arm->SetParent(r.Target.get());
    r.Anim->AddKey(0)->SetValue(r.Target.get(), {0, 0, 0});
    r.Anim->AddKey(1)->SetValue(r.Target.get(), {0, 8, 0});
    r.At(0.5f);
    ExpectNear(arm->GetPosition()->GetPoint(), {0, 4, 0}, "child");
    ExpectNear(r.Target->GetPosition()->GetPoint(), {0, 0, 0}, "target untouched");
  }
  {
    // A property of another record type than the kind's is skipped, not overwritten.
    TRig<TPoint3DKeyAnimation> r("Quaternion");
    r.Anim->AddKey(0)->SetValue(r.Target.get(), {1, 2, 3});
    r.Anim->AddKey(1)->SetValue(r.Target.get(), {1, 2, 3});
    r.At(0.5f);
    const TQuaternion3D q = r.Target->GetQuaternion();
    EXPECT_EQ(q.RealPart, 1);
    EXPECT_EQ(q.ImagPart.X, 0);
  }
}

TEST(KeyAnimation, AShorterSecondVertexArrayBlendsUpToItsLength) {
  TCoordinateKeyAnimation anim(nullptr);
  const std::vector<TPoint3D> a{{0, 0, 0}, {2, 0, 0}, {4, 0, 0}};
  const std::vector<TPoint3D> b{{2, 0, 0}};
  const std::vector<TPoint3D> r = anim.Interpolate(a, b, 0.5f);
  ASSERT_EQ(r.size(), 3u);
  ExpectNear(r[0], {1, 0, 0}, "blended");
  ExpectNear(r[1], {2, 0, 0}, "rest from the first");
  ExpectNear(r[2], {4, 0, 0}, "rest from the first");
}

TEST(KeyAnimation, TransformMultipliesMatricesAndOtherKindsRaise) {
  TRig<TTransformationKeyAnimation> r;
  auto* key = r.Anim->AddKey(0);
  key->SetValue(r.Target.get(), TMatrix3D::CreateTranslation({1, 0, 0}));
  key->SetDefaultValue(TMatrix3D::Identity());
  r.Anim->Transform(TMatrix3D::CreateScaling({2, 2, 2}));
  EXPECT_NEAR(key->GetValue(r.Target.get()).m41, 2, 1e-6);
  EXPECT_NEAR(key->GetDefaultValue().m11, 2, 1e-6);
  struct {
    TPropertyKeyAnimation* Anim;
    const char* Message;
  } cases[] = {{New<TPoint3DKeyAnimation>(nullptr), "TPoint3DKeyAnimation.Transform not supported yet"},
               {New<TVector3DKeyAnimation>(nullptr), "TVector3DKeyAnimation.Transform not supported yet"},
               {New<TQuaternion3DKeyAnimation>(nullptr), "TQuaternion3DKeyAnimation.Transform not supported yet"},
               {New<TCoordinateKeyAnimation>(nullptr), "TCoordinateKeyAnimation.Transform not supported yet"}};
  for (auto& c : cases) {
    EXPECT_EQ(MessageOf([&] { c.Anim->Transform(TMatrix3D::Identity()); }), c.Message);
    Free(c.Anim);
  }
}

TEST(KeyAnimation, AHiddenParentStopsTheAnimationButTheStepIsProcessed) {
  TRig<TPoint3DKeyAnimation> r;
  r.Anim->AddKey(0)->SetValue(r.Target.get(), {0, 0, 0});
  r.Anim->AddKey(1)->SetValue(r.Target.get(), {4, 0, 0});
  r.Anim->Start();
  ASSERT_TRUE(r.Anim->GetRunning());
  r.Target->SetVisible(false);
  r.Anim->ProcessCachingTick(0, 0.25f);
  EXPECT_FALSE(r.Anim->GetRunning());
  EXPECT_GT(r.Target->GetPosition()->GetPoint().X, 0);
}

TEST(KeyAnimation, StartFromCurrentTakesTheTargetsValueAsTheFirstKey) {
  TRig<TPoint3DKeyAnimation> r;
  r.Target->GetPosition()->SetPoint({3, 3, 3});
  r.Anim->StartFromCurrent = true;
  r.Anim->AddKey(0)->SetValue(r.Target.get(), {0, 0, 0});
  r.Anim->AddKey(1)->SetValue(r.Target.get(), {5, 3, 3});
  r.At(0.5f);
  ExpectNear(r.Target->GetPosition()->GetPoint(), {4, 3, 3}, "from current");
}

TEST(KeyAnimation, LoadingGivesValuesToTargetsPresentThenAndWarnsAboutOldKeys) {
  TStrip s;
  TAnimationDef* bend = s.AddBend(1.0f);
  auto* track = dynamic_cast<TTransformationInterpolatorDef*>(bend->GetStages()->Items(0)->GetInterpolators()->Items(0));
  ASSERT_NE(track, nullptr);
  TRig<TTransformationKeyAnimation> r;
  r.Anim->LoadFromInterpolatorDef(track);
  EXPECT_EQ(r.Anim->QualifiedName, "BoneTrack");
  EXPECT_FALSE(r.Anim->GetEnabled());
  ASSERT_EQ(r.Anim->GetKeys()->Count(), 2);
  EXPECT_TRUE(r.Anim->KeyAt(1)->GetValue(r.Target.get()) == TStrip::BentBone());
  // A target added after loading reads the fallback (the identity).
  TOwned<TQuorvelTransform> late(New<TQuorvelTransform>(nullptr));
  EXPECT_TRUE(r.Anim->KeyAt(1)->GetValue(late.get()) == TMatrix3D::Identity());
  TLogCapture log;
  r.Anim->LoadFromInterpolatorDef(track);
  EXPECT_TRUE(log.Contains("<WARNING> Keys already filled in BoneTrack - clearing now"));
  EXPECT_EQ(r.Anim->GetKeys()->Count(), 2);
  TOwned<TPoint3DInterpolatorDef> wrong(New<TPoint3DInterpolatorDef>(nullptr));
  EXPECT_EQ(MessageOf([&] { r.Anim->LoadFromInterpolatorDef(wrong.get()); }), "Invalid class typecast");
}

TEST(PointAnimation, RunsFromStartToStopOnThePropertyPath) {
  TOwned<TQuorvelTransform> target(New<TQuorvelTransform>(nullptr));
  auto* anim = New<TPoint3DAnimation>(target.get());
  EXPECT_FLOAT_EQ(anim->Duration, 0.2f);
  anim->SetParent(target.get());
  anim->PropertyName = "Position.Point";
  anim->GetStopValue()->SetPoint({2, 0, 0});
  anim->Start();
  ASSERT_TRUE(anim->GetRunning());
  anim->ProcessExplicitTick(0.1f);
  ExpectNear(target->GetPosition()->GetPoint(), {1, 0, 0}, "half-way");
  anim->Stop();
}

// ---- skeleton -----------------------------------------------------------------------------------

TEST(SkeletonAnimation, DrivesItsInterpolatorsFromOneClock) {
  TStrip s;
  s.AddBend(1.0f);
  TOwned<TQuorvelModel> model(New<TQuorvelModel>(nullptr));
  model->LoadFromDefinition(s.Def.get());
  TQuorvelAnimation* bend = model->GetAnimationManager()->GetAnimation("Bend");
  ASSERT_NE(bend, nullptr);
  TSkeletonKeyAnimation* skeleton = bend->GetSkeleton();
  EXPECT_EQ(skeleton->GetParent(), model.get());
  ASSERT_EQ(skeleton->GetInterpolators().size(), 1u);
  TPropertyKeyAnimation* track = skeleton->GetInterpolators()[0];
  TQuorvelJoint* bone = model->GetFirstArmature()->FindJoint(s.Bone);
  EXPECT_EQ(track->GetParent(), bone);
  // Two remote steps of 0.25 s: the track is 0.5 s in, half-way bent.
  for (int i = 0; i < 2; ++i) skeleton->ProcessAnimationRemote(0, 0.25f);
  EXPECT_FLOAT_EQ(track->GetCurrentTime(), 0.5f);
  EXPECT_FLOAT_EQ(skeleton->GetCurrentTime(), 0);
  const TMatrix3D half = bone->GetTransformMatrix();
  EXPECT_NEAR(half.m11, 0.5f * (1 + std::cos(M_PI / 2)), 1e-5);
  // SetSpeed stretches the tracks, not the skeleton.
  skeleton->SetSpeed(2);
  EXPECT_FLOAT_EQ(track->Duration, 2);
  EXPECT_FLOAT_EQ(skeleton->Duration, 1);
  // Transform reaches every matrix track.
  skeleton->Transform(TMatrix3D::Identity());
}

TEST(SkeletonAnimation, AShorterTrackHoldsItsLastValueUntilTheLoopRestarts) {
  TStrip s;
  TAnimationDef* def = s.AddBend(1.0f);
  // A second stage of 2 s on the root makes the animation 2 s long.
  auto* stage = New<TAnimationStageDef>(def);
  stage->SetId("RootStage");
  stage->SetReference(s.Root);
  def->AddStage(stage);
  auto* track = New<TTransformationInterpolatorDef>(stage);
  track->SetId("RootTrack");
  track->SetDuration(2.0f);
  track->AddKey(0, TMatrix3D::Identity(), TInterpolationType::Linear);
  track->AddKey(1, TMatrix3D::Identity(), TInterpolationType::Linear);
  stage->AddInterpolator(track);
  TOwned<TQuorvelModel> model(New<TQuorvelModel>(nullptr));
  model->LoadFromDefinition(s.Def.get());
  TQuorvelAnimation* bend = model->GetAnimationManager()->GetAnimation("Bend");
  EXPECT_FLOAT_EQ(bend->GetSkeleton()->Duration, 2);
  EXPECT_EQ(bend->GetFrameCount(), 120);
  TQuorvelJoint* bone = model->GetFirstArmature()->FindJoint(s.Bone);
  TAniThread& thread = TAniThread::Instance();
  thread.Step(500);
  bend->Start();
  ASSERT_TRUE(bend->GetRunning());
  thread.Step(501.5);  // 1.5 s: the 1 s bone track is past its end and holds its last key
  EXPECT_NEAR(bone->GetTransformMatrix().m11, 0, 1e-5);
  EXPECT_NEAR(bone->GetTransformMatrix().m12, 1, 1e-5);
  thread.Step(502.25);  // the end: the loop restarts at 0
  EXPECT_NEAR(bone->GetTransformMatrix().m11, 1, 1e-5);
  thread.Step(502.5);
  EXPECT_NEAR(bone->GetTransformMatrix().m11, 0.75f, 1e-5);
  bend->Stop();
  EXPECT_FALSE(bend->GetRunning());
}

TEST(SkeletonAnimation, StartingUnderAHiddenModelLogsOnce) {
  TStrip s;
  s.AddBend();
  TOwned<TQuorvelModel> model(New<TQuorvelModel>(nullptr));
  model->LoadFromDefinition(s.Def.get());
  model->SetVisible(false);
  TLogCapture log;
  model->GetAnimationManager()->GetAnimation("Bend")->Start();
  int count = 0;
  for (const std::string& line : log.Lines())
    count += line.find("animation not started, because parent control not visible") != std::string::npos;
  EXPECT_EQ(count, 1);
  model->GetAnimationManager()->Clear();
}

}  // namespace
}  // namespace quorvel
