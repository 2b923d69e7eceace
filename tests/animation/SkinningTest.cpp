#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "framework/gui3d/MeshData.h"
#include <algorithm>
#include "lib/defs/DefTypesText.h"
#include "lib/scene/Duplication.h"
#include "framework/rtl/Log.h"
#include "lib/animation/Animation.h"
#include "framework/gui3d/Animation.h"
#include "framework/rtl/Finally.h"
#include "lib/animation/Armature.h"
#include "lib/animation/Joint.h"
#include "lib/defs/DefTypes.h"
#include "lib/scene/Model.h"
#include "tests/animation/StripRig.h"

namespace quorvel {
namespace {

TEST(Skinning, StripBendsAtTheChildBoneAsComputedByHand) {
  TStrip s;
  TOwned<TQuorvelModel> model(New<TQuorvelModel>(nullptr));
  model->LoadFromDefinition(s.Def.get());
  TQuorvelArmature* armature = ArmatureOf(model.get());
  ASSERT_EQ(armature->GetMeshes().size(), 1u);
  TQuorvelMesh* mesh = armature->GetMeshes()[0];
  ASSERT_TRUE(mesh->VertexJointsExist());
  TQuorvelJoint* bone = armature->FindJoint(s.Bone);
  ASSERT_NE(bone, nullptr);
  EXPECT_EQ(armature->FindJoint(s.Root)->FindJoint(s.Bone), bone);
  EXPECT_TRUE(static_cast<TQuorvelJoint*>(armature->GetSkeletons()[0])->IsSkeletonRoot());
  EXPECT_FALSE(bone->IsSkeletonRoot());

  // At the bind pose nothing moves.
  armature->AnimateSkin(nullptr);
  TVertexBuffer* vb = mesh->GetMeshData()->GetVertexBuffer();
  for (int i = 0; i < 8; ++i) ExpectNear(vb->GetVertices(i), TStrip::Bind(i), "bind " + std::to_string(i));

  bone->SetTransformMatrix(TMatrix3D::CreateRotationZ(float(M_PI / 2)) * TMatrix3D::CreateTranslation({0, 2, 0}));
  armature->AnimateSkin(nullptr);
  const TPoint3D expected[8] = {{-1, 0, 0}, {1, 0, 0},      {-1, 1, 0}, {1, 1, 0},
                                {-0.5f, 1.5f, 0}, {0.5f, 2.5f, 0}, {-1, 1, 0}, {-1, 3, 0}};
  for (int i = 0; i < 8; ++i) ExpectNear(vb->GetVertices(i), expected[i], "bent " + std::to_string(i));
}

TEST(Skinning, TheCurrentAnimationsFinalTransformMovesEverySkinnedPosition) {
  TStrip s;
  s.AddBend();
  TOwned<TQuorvelModel> model(New<TQuorvelModel>(nullptr));
  model->LoadFromDefinition(s.Def.get());
  TQuorvelArmature* armature = ArmatureOf(model.get());
  TQuorvelAnimation* animation = model->GetAnimationManager()->GetCurrent();
  ASSERT_NE(animation, nullptr);
  // Running, but never ticked: the pose stays the one set here.
  TAniThread& thread = TAniThread::Instance();
  const bool enabled = thread.Enabled;
  thread.Enabled = false;
  auto restore = Finally([&] {
    thread.Enabled = enabled;
    animation->Stop();
  });
  animation->Start();
  TQuorvelJoint* bone = armature->FindJoint(s.Bone);
  TVertexBuffer* vb = armature->GetMeshes()[0]->GetMeshData()->GetVertexBuffer();
  const TMatrix3D shift = TMatrix3D::CreateTranslation({10, 0, 0});
  const TMatrix3D turnShift = TMatrix3D::CreateRotationZ(float(M_PI / 2)) * shift;
  const TPoint3D bent[8] = {{-1, 0, 0}, {1, 0, 0},      {-1, 1, 0}, {1, 1, 0},
                            {-0.5f, 1.5f, 0}, {0.5f, 2.5f, 0}, {-1, 1, 0}, {-1, 3, 0}};
  struct TCase {
    bool Use;
    const TMatrix3D* Matrix;
    bool Bent;
  } cases[] = {{true, &shift, false}, {true, &turnShift, true}, {false, &turnShift, true}};
  for (const TCase& c : cases) {
    animation->UseTransform = c.Use;
    animation->TransformMatrix = *c.Matrix;
    bone->SetTransformMatrix(c.Bent ? TStrip::BentBone() : TMatrix3D::CreateTranslation({0, 2, 0}));
    armature->AnimateSkin(nullptr);
    for (int i = 0; i < 8; ++i) {
      const TPoint3D skinned = c.Bent ? bent[i] : TStrip::Bind(i);
      const TPoint3D expected = c.Use ? skinned * *c.Matrix : skinned;
      const TPoint3D got = vb->GetVertices(i);
      const std::string what = "use " + std::to_string(c.Use) + " bent " + std::to_string(c.Bent) + " vertex " +
                               std::to_string(i);
      EXPECT_NEAR(got.X, expected.X, 1e-5) << what;
      EXPECT_NEAR(got.Y, expected.Y, 1e-5) << what;
      EXPECT_NEAR(got.Z, expected.Z, 1e-5) << what;
    }
  }
  // (-1, 0, 0), moved by (10, 0, 0), ends at (9, 0, 0).
  animation->UseTransform = true;
  animation->TransformMatrix = shift;
  armature->AnimateSkin(nullptr);
  EXPECT_NEAR(vb->GetVertices(0).X, 9, 1e-5);
}

TEST(Skinning, TwoSkinsOnOneSkeletonShareItsRootAndEachFollowsTheBones) {
  // A second mesh, one unit in front of the strip, skinned by its own controller to the same
  // skeleton, wholly on Bone.
  TStrip s;
  auto* front = New<TMeshDef>(s.Def.get());
  front->SetId("Front");
  const auto formats = VertexFormatsFromMask(DefaultMeshVertexFormatMask);
  front->CreateVertexSource(formats);
  TVertexBuffer vb(formats, 8);
  for (int i = 0; i < 8; ++i) vb.SetVertices(i, TStrip::Bind(i) + TPoint3D(0, 0, 1));
  front->SetVertices(&vb);
  front->AddIndices(std::vector<uint32_t>{0, 1, 2, 1, 3, 2, 2, 3, 4, 3, 5, 4, 4, 5, 6, 5, 7, 6}, 0, 18, 0);
  s.Def->AddChild(front);
  auto* ctrl = New<TControllerDef>(front);
  ctrl->SetId("C2");
  s.Def->AddController(ctrl);
  s.Rig->AddController(ctrl);
  auto* skin = New<TSkinDef>(ctrl);
  ctrl->SetSkin(skin);
  skin->GetSkeletons()->Add(skin->LinkJoint(s.Root));
  TJointRefDef* boneRef = skin->LinkJoint(s.Bone);
  for (int i = 0; i < 8; ++i) {
    boneRef->Indices().push_back(i);
    boneRef->Weights().push_back(1);
  }
  ASSERT_NE(ctrl->GetIndex(), s.Ctrl->GetIndex());

  TOwned<TQuorvelModel> model(New<TQuorvelModel>(nullptr));
  model->LoadFromDefinition(s.Def.get());
  TQuorvelArmature* armature = ArmatureOf(model.get());
  ASSERT_EQ(armature->GetSkeletons().size(), 1u) << "the shared root is made once";
  ASSERT_EQ(armature->GetMeshes().size(), 2u);
  TQuorvelJoint* bone = armature->FindJoint(s.Bone);
  ASSERT_NE(bone, nullptr);
  TVertexBuffer* strip = nullptr;
  TVertexBuffer* second = nullptr;
  for (TQuorvelMesh* m : armature->GetMeshes()) {
    ASSERT_TRUE(m->VertexJointsExist());
    (m->GetMeshDef() == front ? second : strip) = m->GetMeshData()->GetVertexBuffer();
  }
  ASSERT_NE(strip, nullptr);
  ASSERT_NE(second, nullptr);

  armature->AnimateSkin(nullptr);
  for (int i = 0; i < 8; ++i) {
    ExpectNear(strip->GetVertices(i), TStrip::Bind(i), "strip at bind " + std::to_string(i));
    ExpectNear(second->GetVertices(i), TStrip::Bind(i) + TPoint3D(0, 0, 1), "front at bind " + std::to_string(i));
  }

  bone->SetTransformMatrix(TStrip::BentBone());
  armature->AnimateSkin(nullptr);
  const TPoint3D bent[8] = {{-1, 0, 0}, {1, 0, 0},      {-1, 1, 0}, {1, 1, 0},
                            {-0.5f, 1.5f, 0}, {0.5f, 2.5f, 0}, {-1, 1, 0}, {-1, 3, 0}};
  for (int i = 0; i < 8; ++i) {
    ExpectNear(strip->GetVertices(i), bent[i], "strip bent " + std::to_string(i));
    // Wholly on Bone: a quarter turn about (0, 2, 0) takes (x, y) to (2 - y, x + 2).
    const TPoint3D p = TStrip::Bind(i);
    ExpectNear(second->GetVertices(i), TPoint3D(2 - p.Y, p.X + 2, 1), "front bent " + std::to_string(i));
  }
}

TEST(Skinning, StoredInverseBindsAreUsedOnlyWithAnIdentityBindShape) {
  for (bool identityShape : {true, false}) {
    TStrip s;
    // A stored inverse bind that disagrees with the local bind pose: visible in the slot.
    const TMatrix3D stored = TMatrix3D::CreateTranslation({0, -5, 0});
    s.BoneRef->SetInvBindMatrix(stored);
    if (!identityShape) s.Ctrl->GetSkin()->SetBindShapeMatrix(TMatrix3D::CreateScaling({1, 1, 1.0001f}));
    TOwned<TQuorvelModel> model(New<TQuorvelModel>(nullptr));
    model->LoadFromDefinition(s.Def.get());
    TQuorvelJoint* bone = ArmatureOf(model.get())->FindJoint(s.Bone);
    const TMatrix3D computed = TMatrix3D::CreateTranslation({0, -2, 0});
    EXPECT_TRUE(bone->GetInverseBindTransform(s.Ctrl) == (identityShape ? stored : computed)) << identityShape;
  }
}

TEST(Skinning, RestOfTheWeightStaysAtTheBindPosition) {
  const TMatrix3D identity = TMatrix3D::Identity();
  const TMatrix3D shift = TMatrix3D::CreateTranslation({2, 0, 0});
  struct TCase {
    std::vector<float> Weights;
    const TMatrix3D* Offset;
    TPoint3D Expected;
  } cases[] = {
      {{}, &shift, {1, 2, 3}},               // no joints: bind position
      {{0.5f}, &identity, {1, 2, 3}},        // bind pose: sum 0.5 in place
      {{0.5f, 0.5f}, &identity, {1, 2, 3}},  // sum 1
      {{0.6f, 0.6f}, &identity, {1, 2, 3}},  // sum 1.2
      {{0.5f}, &shift, {2, 2, 3}},           // half the shift, no division by w
      {{0.25f, 0.75f}, &shift, {3, 2, 3}},
  };
  for (const TCase& c : cases) {
    TVertexJoints r = TVertexJoints::Create(0);
    r.Position = {1, 2, 3};
    const TMatrix3D* offsets[VertexJointsMax];
    for (size_t k = 0; k < c.Weights.size(); ++k) {
      r.JointsArray[k] = reinterpret_cast<TJointDef*>(k + 1);
      r.WeightsArray[k] = c.Weights[k];
      offsets[k] = c.Offset;
    }
    r.JointsCount = uint8_t(c.Weights.size());
    ExpectNear(SkinVertex(r, offsets, nullptr), c.Expected, "weights " + std::to_string(c.Weights.size()));
  }
  TVertexJoints r = TVertexJoints::Create(0);
  r.Position = {1, 0, 0};
  const TMatrix3D turn = TMatrix3D::CreateRotationZ(float(M_PI / 2));
  ExpectNear(SkinVertex(r, nullptr, &turn), {0, 1, 0}, "final transform");
}

TEST(Joints, ACopyJoinsItsParentsListAndTheArmatureLogsItsTree) {
  TStrip s;
  TOwned<TQuorvelModel> model(New<TQuorvelModel>(nullptr));
  model->LoadFromDefinition(s.Def.get());
  TQuorvelArmature* armature = ArmatureOf(model.get());
  TQuorvelJoint* root = armature->FindJoint(s.Root);
  TQuorvelJoint* bone = armature->FindJoint(s.Bone);
  TQuorvelDuplicator duplicator;
  auto* copy = dynamic_cast<TQuorvelJoint*>(duplicator.Duplicate(bone, root, {}));
  ASSERT_NE(copy, nullptr);
  ASSERT_NE(root->GetJoints(), nullptr);
  EXPECT_EQ(std::count(root->GetJoints()->begin(), root->GetJoints()->end(), copy), 1);
  // The definition is mapped already: the first joint stays its joint.
  EXPECT_EQ(armature->FindJoint(s.Bone), bone);

  TLogCapture log;
  armature->DebugOut();
  const std::vector<std::string> lines = log.Lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "Armature::" + armature->GetQualifiedName());
  EXPECT_EQ(lines[1], "    Root\n\rCurrent=[" + Matrix3DToStr(s.Root->GetTransform(), nullptr, ' ') + "][controllers=1]");
  EXPECT_EQ(lines[2], "        Bone\n\rCurrent=[" + Matrix3DToStr(s.Bone->GetTransform(), nullptr, ' ') + "][controllers=1]");
}

TEST(Joints, SlotsOutsideTheSixteenReadIdentityAndRaiseOnStore) {
  TStrip s;
  TOwned<TQuorvelModel> model(New<TQuorvelModel>(nullptr));
  model->LoadFromDefinition(s.Def.get());
  TQuorvelJoint* bone = ArmatureOf(model.get())->FindJoint(s.Bone);
  EXPECT_TRUE(bone->GetLocalBindTransform(s.Ctrl) == TMatrix3D::CreateTranslation({0, 2, 0}));
  TOwned<TControllerDef> far(New<TControllerDef>(nullptr));
  far->SetIndex(16);
  EXPECT_TRUE(bone->GetLocalBindTransform(far.get()) == TMatrix3D::Identity());
  EXPECT_TRUE(bone->GetCurrentOffsetMatrix(far.get()) == TMatrix3D::Identity());
  EXPECT_EQ(MessageOf([&] { bone->SetLocalBindTransformMatrix(far.get(), TMatrix3D::Identity()); }),
            "invalid controller index to set LocalBindTransform in HAnim joint - max. 16 controllers allowed");
  EXPECT_EQ(MessageOf([&] { bone->CalculateInverseBindTransformMatrix(far.get(), TMatrix3D::Identity()); }),
            "invalid controller index to set InverseBindTransform in HAnim joint - max. 16 controllers allowed");
  EXPECT_EQ(MessageOf([&] { bone->PrepareSkinAnimationStep(far.get()); }),
            "invalid controller index to set CurrentOffsetMatrix in HAnim joint - max. 16 controllers allowed");
}

TEST(Joints, VertexIndexMapSpreadsAReferenceAndSkipsRecordsBeyondTheList) {
  TStrip s;
  TOwned<TQuorvelModel> model(New<TQuorvelModel>(nullptr));
  model->LoadFromDefinition(s.Def.get());
  TQuorvelJoint* bone = ArmatureOf(model.get())->FindJoint(s.Bone);
  TVertexIndexMap map;
  map.Add(7, {7, 12, 30, 40});
  s.Strip->AddVertexIndexMap(&map, 0);
  s.BoneRef->Indices() = {7, 7};
  s.BoneRef->Weights() = {0.25f, 0.5f};
  TOwned<TVertexJointsList> records(New<TVertexJointsList>(s.Ctrl, 31));
  bone->ApplyJointInfoToArmature(s.Ctrl, records.get(), s.Strip);
  for (int i = 0; i < 31; ++i) {
    const TVertexJoints r = records->GetItem(i);
    const bool hit = i == 7 || i == 12 || i == 30;
    ASSERT_EQ(r.JointsCount, hit ? 1 : 0) << i;
    if (hit) {
      EXPECT_EQ(r.JointsArray[0], s.Bone);
      EXPECT_EQ(r.WeightsArray[0], 0.25f);  // listed twice: the first stays
    }
  }
  // Without a map an index beyond the list raises and keeps what was filled.
  s.Strip->GetVertexIndexMap()->Clear();
  s.BoneRef->Indices() = {3, 31};
  TOwned<TVertexJointsList> plain(New<TVertexJointsList>(s.Ctrl, 31));
  EXPECT_EQ(MessageOf([&] { bone->ApplyJointInfoToArmature(s.Ctrl, plain.get(), s.Strip); }),
            "invalid index on TVertexJointsList (1 / 31");
  EXPECT_EQ(plain->GetItem(3).JointsCount, 1);
}

TEST(Joints, ShowJointAndColourPropagateSizeDoesNot) {
  TStrip s;
  TOwned<TQuorvelModel> model(New<TQuorvelModel>(nullptr));
  model->LoadFromDefinition(s.Def.get());
  TQuorvelArmature* armature = ArmatureOf(model.get());
  TQuorvelJoint* root = armature->FindJoint(s.Root);
  TQuorvelJoint* bone = armature->FindJoint(s.Bone);
  EXPECT_FALSE(model->GetShowJoints());
  model->SetShowJoints(true);
  EXPECT_TRUE(bone->GetShowJoint());
  EXPECT_TRUE(model->GetShowJoints());
  model->SetJointsColor(MakeAlphaColor(0xFF00FF00));
  EXPECT_EQ(bone->GetJointRenderColor(), MakeAlphaColor(0xFF00FF00));
  root->JointRenderSize = {1, 1, 1};
  EXPECT_EQ(bone->JointRenderSize, TPoint3D(0.25f, 0.25f, 0.25f));
}

// Skinning keeps flat copies of the records between passes: every change to the records, the
// list or the joint map is seen by the next pass.
TEST(Armature, ChangedRecordsAndJointsAreSkinnedByTheNextPass) {
  TStrip s;
  TOwned<TQuorvelModel> model(New<TQuorvelModel>(nullptr));
  model->LoadFromDefinition(s.Def.get());
  TQuorvelArmature* armature = ArmatureOf(model.get());
  TQuorvelMesh* mesh = armature->GetMeshes()[0];
  TVertexBuffer* vb = mesh->GetMeshData()->GetVertexBuffer();
  TVertexJointsList* records = mesh->GetVertexJoints();
  armature->FindJoint(s.Bone)->SetTransformMatrix(TStrip::BentBone());
  armature->AnimateSkin(nullptr);
  ExpectNear(vb->GetVertices(7), {-1, 3, 0}, "bent 7");
  ExpectNear(vb->GetVertices(4), {-0.5f, 1.5f, 0}, "half 4");

  // A weight written through the record: vertex 7 now half on Bone, the rest in place.
  records->GetItemPtr(7)->WeightsArray[0] = 0.5f;
  armature->AnimateSkin(nullptr);
  ExpectNear(vb->GetVertices(7), {0.5f * 1 + 0.5f * -1, 0.5f * 3 + 0.5f * 3, 0}, "half weight 7");
  // A record set whole: vertex 6 on Root alone, with a weight of zero on Bone that adds nothing.
  TVertexJoints r = TVertexJoints::Create(0);
  r.Position = TStrip::Bind(6);
  r.Add(s.Root, 1);
  r.Add(s.Bone, 0);
  records->SetItem(6, r);
  armature->AnimateSkin(nullptr);
  ExpectNear(vb->GetVertices(6), TStrip::Bind(6), "root only 6");
  // The pose changes with every pass.
  armature->FindJoint(s.Bone)->SetTransformMatrix(TMatrix3D::CreateTranslation({0, 2, 0}));
  armature->AnimateSkin(nullptr);
  for (int i = 0; i < 8; ++i) ExpectNear(vb->GetVertices(i), TStrip::Bind(i), "bind again " + std::to_string(i));

  // A record naming a joint outside the map fails as the map's lookup does; the records before
  // it are written, those after it are not.
  TOwned<TJointDef> stranger(New<TJointDef>(nullptr));
  armature->FindJoint(s.Bone)->SetTransformMatrix(TStrip::BentBone());
  r = records->GetItem(5);
  r.Add(stranger.get(), 0.25f);
  records->SetItem(5, r);
  EXPECT_EQ(MessageOf([&] { armature->AnimateSkin(nullptr); }), "Item not found");
  ExpectNear(vb->GetVertices(4), {-0.5f, 1.5f, 0}, "written before 4");
  ExpectNear(vb->GetVertices(7), TStrip::Bind(7), "not written after 7");
  // Once the map knows the joint, the same records skin.
  TQuorvelJoint* root = armature->FindJoint(s.Root);
  armature->LinkJoint(stranger.get(), root);
  armature->AnimateSkin(nullptr);
  ExpectNear(vb->GetVertices(7), {0.5f * 1 + 0.5f * -1, 0.5f * 3 + 0.5f * 3, 0}, "mapped 7");
}

TEST(Armature, PackedPositionsGetTwelveBytesPerVertexAndNoneBeyond) {
  TStrip s;
  TOwned<TQuorvelModel> model(New<TQuorvelModel>(nullptr));
  model->LoadFromDefinition(s.Def.get());
  TQuorvelArmature* armature = ArmatureOf(model.get());
  // A positions-only buffer of the baker: a vertex of 12 bytes, bytes beyond guarded.
  TVertexBuffer packed(TVertexFormats{TVertexFormat::Vertex}, 8);
  ASSERT_EQ(packed.VertexSize(), 12);
  std::memset(packed.Buffer(), 0xAB, size_t(packed.Size()));
  TQuorvelArmature::TMeshBuffers buffers{{armature->GetMeshes()[0]->GetMeshDef(), &packed}};
  armature->FindJoint(s.Bone)->SetTransformMatrix(TMatrix3D::CreateRotationZ(float(M_PI / 2)) *
                                                  TMatrix3D::CreateTranslation({0, 2, 0}));
  armature->AnimateSkin(&buffers);
  TPoint3D p7;
  std::memcpy(&p7, packed.Buffer() + 7 * 12, 12);
  ExpectNear(p7, {-1, 3, 0}, "packed 7");
  // The mesh's own buffer stays at the bind pose.
  ExpectNear(armature->GetMeshes()[0]->GetMeshData()->GetVertexBuffer()->GetVertices(7), {1, 3, 0}, "own 7");
}

}  // namespace
}  // namespace quorvel
