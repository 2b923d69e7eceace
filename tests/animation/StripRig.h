#pragma once
// The rig the animation tests share: a strip of eight vertices skinned by a root and a child
// bone, and small helpers.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "framework/gui3d/MeshData.h"
#include "framework/rtl/Finally.h"
#include "lib/animation/Animation.h"
#include "lib/animation/Armature.h"
#include "lib/animation/Joint.h"
#include "lib/animation/KeyAnimation.h"
#include "lib/defs/DefTypes.h"
#include "lib/scene/Model.h"
#include "tests/support/Raised.h"

namespace quorvel {
namespace {

inline void ExpectNear(const TPoint3D& a, const TPoint3D& b, const std::string& what) {
  EXPECT_NEAR(a.X, b.X, 1e-5) << what;
  EXPECT_NEAR(a.Y, b.Y, 1e-5) << what;
  EXPECT_NEAR(a.Z, b.Z, 1e-5) << what;
}

// A model with the strip "Strip" (x = -1 and 1, y = 0..3; vertex 2 * row + (x > 0)) skinned by
// the armature "Rig": "Root" at the origin and its child "Bone" at (0, 2, 0). Root weights by
// row 1, 1, 0.5, 0; the rest of each vertex on Bone.
struct TStrip {
  TOwned<TModelDef> Def{New<TModelDef>(nullptr, nullptr)};
  TMeshDef* Strip;
  TArmatureDef* Rig;
  TJointDef *Root, *Bone;
  TControllerDef* Ctrl;
  TJointRefDef *RootRef, *BoneRef;

  TStrip() {
    Def->SetId("M");
    Strip = New<TMeshDef>(Def.get());
    Strip->SetId("Strip");
    const auto formats = VertexFormatsFromMask(DefaultMeshVertexFormatMask);
    Strip->CreateVertexSource(formats);
    TVertexBuffer vb(formats, 8);
    for (int i = 0; i < 8; ++i) vb.SetVertices(i, Bind(i));
    Strip->SetVertices(&vb);
    Strip->AddIndices(std::vector<uint32_t>{0, 1, 2, 1, 3, 2, 2, 3, 4, 3, 5, 4, 4, 5, 6, 5, 7, 6}, 0, 18, 0);
    Def->AddChild(Strip);
    Rig = New<TArmatureDef>(Def.get());
    Rig->SetId("Rig");
    Def->AddArmature(Rig);
    Root = New<TJointDef>(Rig);
    Root->SetId("Root");
    Rig->SetRoot(Root);
    Bone = New<TJointDef>(Rig);
    Bone->SetId("Bone");
    Bone->SetParent(Root);
    Bone->SetTransform(TMatrix3D::CreateTranslation({0, 2, 0}));
    Root->AddJoint(Bone);
    Ctrl = New<TControllerDef>(Strip);
    Ctrl->SetId("C");
    Def->AddController(Ctrl);
    Rig->AddController(Ctrl);
    auto* skin = New<TSkinDef>(Ctrl);
    Ctrl->SetSkin(skin);
    RootRef = skin->LinkJoint(Root);
    BoneRef = skin->LinkJoint(Bone);
    skin->GetSkeletons()->Add(RootRef);
    const float rootWeights[4] = {1, 1, 0.5f, 0};
    for (int i = 0; i < 8; ++i) {
      const float w = rootWeights[i / 2];
      if (w > 0) {
        RootRef->Indices().push_back(i);
        RootRef->Weights().push_back(w);
      }
      if (w < 1) {
        BoneRef->Indices().push_back(i);
        BoneRef->Weights().push_back(1 - w);
      }
    }
  }
  // The animation "Bend": Bone from its bind pose (key 0) to a quarter turn about Z (key 1) in
  // ADuration seconds.
  TAnimationDef* AddBend(float ADuration = 1.5f, bool ALoop = false) {
    auto* anim = New<TAnimationDef>(Def.get());
    anim->SetId("Bend");
    Def->AddAnimation(anim);
    auto* stage = New<TAnimationStageDef>(anim);
    stage->SetId("BoneStage");
    stage->SetReference(Bone);
    anim->AddStage(stage);
    auto* track = New<TTransformationInterpolatorDef>(stage);
    track->SetId("BoneTrack");
    track->SetDuration(ADuration);
    track->SetLoop(ALoop);
    track->AddKey(0, TMatrix3D::CreateTranslation({0, 2, 0}), TInterpolationType::Linear);
    track->AddKey(1, BentBone(), TInterpolationType::Linear);
    stage->AddInterpolator(track);
    return anim;
  }
  static TMatrix3D BentBone() {
    return TMatrix3D::CreateRotationZ(float(M_PI / 2)) * TMatrix3D::CreateTranslation({0, 2, 0});
  }
  static TPoint3D Bind(int i) { return {i % 2 ? 1.0f : -1.0f, float(i / 2), 0}; }
};

// Plays AAnimation as the baker samples it, with the animation thread held off: frame c is the
// pose after c + 1 steps of Duration / (FrameCount - 1) from 0. AOnFrame(c) runs after each
// step; the animation is stopped at the end.
inline void StepAsTheBaker(TQuorvelAnimation* AAnimation, const std::function<void(int32_t)>& AOnFrame) {
  TAnimationDef* def = AAnimation->GetDef();
  def->PrepareAnimationData();
  const int32_t frames = def->GetFrameCount();
  const double step = frames > 1 ? def->GetDuration() / (frames - 1) : def->GetDuration();
  TAniThread& thread = TAniThread::Instance();
  const bool enabled = thread.Enabled;
  thread.Enabled = false;
  auto restore = Finally([&] {
    thread.Enabled = enabled;
    AAnimation->Stop();
  });
  AAnimation->Start();
  for (TPropertyKeyAnimation* i : AAnimation->GetSkeleton()->GetInterpolators()) i->ResetCaching();
  double time = 0;
  for (int32_t c = 0; c < frames; ++c) {
    AAnimation->GetSkeleton()->ProcessAnimationRemote(float(time), float(step));
    time += step;
    AOnFrame(c);
  }
}

inline TQuorvelArmature* ArmatureOf(TQuorvelModel* AModel) {
  TQuorvelArmature* armature = AModel->GetFirstArmature();
  EXPECT_NE(armature, nullptr);
  return armature;
}

}  // namespace
}  // namespace quorvel
