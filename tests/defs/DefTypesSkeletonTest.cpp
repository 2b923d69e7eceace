#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/rtl/Log.h"
#include "lib/defs/DefTypes.h"
#include "tests/defs/DefTypesTestUtil.h"
#include "tests/support/Raised.h"

namespace quorvel {
namespace {

using test::ParseObject;
using test::TakeText;

bool Logged(const TLogCapture& ALog, const std::string& AText) {
  for (const std::string& line : ALog.Lines())
    if (line.find(AText) != std::string::npos) return true;
  return false;
}

// A joint of the armature below AParent (or the root when AParent is null).
TJointDef* AddJoint(TArmatureDef* AArmature, TJointDef* AParent, const std::string& AId) {
  auto* joint = Named<TJointDef>(AId, static_cast<TCustomDef*>(AArmature));
  if (!AParent) {
    AArmature->SetRoot(joint);
    return joint;
  }
  joint->SetParent(AParent);
  EXPECT_TRUE(AParent->AddJoint(joint));
  return joint;
}

// A model with a mesh "Body" and an armature "Rig": Hip -> (Spine -> Neck, Leg).
struct TRig {
  TOwned<TModelDef> Model{New<TModelDef>(nullptr, nullptr)};
  TMeshDef* Body;
  TArmatureDef* Rig;
  TJointDef *Hip, *Spine, *Neck, *Leg;

  TRig() {
    Model->SetId("M");
    Body = Named<TMeshDef>("Body", static_cast<TCustomDef*>(Model.get()));
    Model->AddChild(Body);
    Rig = Named<TArmatureDef>("Rig", static_cast<TCustomDef*>(Model.get()));
    Model->AddArmature(Rig);
    Hip = AddJoint(Rig, nullptr, "Hip");
    Spine = AddJoint(Rig, Hip, "Spine");
    Neck = AddJoint(Rig, Spine, "Neck");
    Leg = AddJoint(Rig, Hip, "Leg");
  }
  TControllerDef* ReadController(const std::string& AJson) {
    TOwned<TControllerDef> ctrl(New<TControllerDef>(Body));
    ctrl->FromJSON(Model.get(), ParseObject(AJson).get());
    Model->AddController(ctrl.get());
    return ctrl.release();
  }
};

TEST(DefTypesSkeleton, JointTreeCountsFindsAndComposes) {
  TRig r;
  EXPECT_EQ(r.Hip->GetArmatureIndex(), 1);
  EXPECT_EQ(r.Leg->GetArmatureIndex(), 4);
  EXPECT_EQ(r.Rig->GetJointsCount(), 4);
  TOwned<TJointDef> loose(New<TJointDef>(nullptr));
  EXPECT_EQ(loose->GetArmatureIndex(), 0);
  EXPECT_EQ(loose->GetModel(), nullptr);
  EXPECT_EQ(r.Neck->GetModel(), r.Model.get());
  EXPECT_EQ(r.Neck->GetArmature(), r.Rig);

  // A second child of the same id stays out (the caller keeps it).
  TOwned<TJointDef> twin(Named<TJointDef>("Leg", static_cast<TCustomDef*>(nullptr)));
  EXPECT_FALSE(r.Hip->AddJoint(twin.get()));
  EXPECT_EQ(r.Hip->GetJoints()->Items("Leg"), r.Leg);

  AddJoint(r.Rig, r.Leg, "Knee");
  AddJoint(r.Rig, r.Spine, "Arm");
  EXPECT_EQ(r.Hip->JointsCount(), 5);
  EXPECT_EQ(r.Hip->FindJointById("Knee")->GetParent(), r.Leg);
  EXPECT_EQ(r.Hip->FindJointById("Hip"), nullptr);  // its own id is not compared
  EXPECT_EQ(r.Hip->FindJointById("knee"), nullptr);
  EXPECT_EQ(r.Rig->FindJointById("Hip"), r.Hip);
  EXPECT_EQ(r.Model->FindJointById("Neck"), r.Neck);

  r.Hip->SetTransform(TMatrix3D::CreateTranslation({1, 0, 0}));
  r.Spine->SetTransform(TMatrix3D::CreateScaling({2, 2, 2}));
  EXPECT_EQ(r.Spine->EvaluateGlobalTransformation(),
            TMatrix3D::CreateScaling({2, 2, 2}) * TMatrix3D::CreateTranslation({1, 0, 0}));

  // The owner must be an armature for the Armature property.
  TOwned<TTransformDef> node(New<TTransformDef>(nullptr));
  TOwned<TJointDef> inTree(New<TJointDef>(node.get()));
  EXPECT_THROW(inTree->GetArmature(), EInvalidCast);
}

TEST(DefTypesSkeleton, SkinLinksLooksUpAndAppliesBindPoses) {
  TRig r;
  auto* ctrl = Named<TControllerDef>("C", static_cast<TTransformDef*>(r.Body));
  r.Model->AddController(ctrl);
  auto* skin = New<TSkinDef>(ctrl);
  ctrl->SetSkin(skin);
  EXPECT_EQ(skin->GetTarget(), r.Body);
  EXPECT_TRUE(skin->BindShapeMatrixIsIdentity());
  TMatrix3D nearly = TMatrix3D::Identity();
  nearly.m23 = 1e-6f;
  skin->SetBindShapeMatrix(nearly);
  EXPECT_FALSE(skin->BindShapeMatrixIsIdentity());

  TJointRefDef* spine = skin->LinkJoint(r.Spine);
  EXPECT_EQ(skin->LinkJoint(r.Spine), spine);  // linked once
  EXPECT_EQ(spine->GetId(), "Spine");
  EXPECT_EQ(spine->GetLinkIndex(), 0);
  EXPECT_EQ(spine->GetController(), ctrl);
  TJointRefDef* leg = skin->LinkJoint(New<TJointRefDef>(r.Leg, ctrl, false));
  EXPECT_EQ(leg->GetLinkIndex(), 1);
  EXPECT_EQ(skin->GetJointRef("Leg"), leg);
  EXPECT_EQ(ctrl->GetJointRef(r.Spine), spine);
  EXPECT_EQ(skin->GetJointIndex("Leg"), 1);
  EXPECT_EQ(skin->GetJointIndex(r.Neck), -1);
  EXPECT_EQ(skin->LinkedJointsToString(), "Spine, Leg");
  EXPECT_EQ(MessageOf([&] { spine->IsSkeletonRoot(nullptr); }), "armature parameter expected - parameter is empty");
  EXPECT_FALSE(spine->IsSkeletonRoot(skin));
  EXPECT_EQ(MessageOf([&] { skin->CalculateInverseBindTransformMatrix(TMatrix3D::Identity()); }),
            "TODO: not working yet!");

  // One bind pose for two links: the second link has none.
  const TMatrix3D pose = TMatrix3D::CreateTranslation({0, 3, 0});
  skin->AdjustBindPosesArrayLength(0);
  skin->BindPoses()[0] = pose;
  r.Spine->SetTransform(TMatrix3D::CreateTranslation({0, 5, 0}));
  r.Leg->SetTransform(TMatrix3D::CreateTranslation({1, 0, 0}));
  TLogCapture log;
  skin->ApplyBindPoses();
  EXPECT_TRUE(spine->IsInvBindMatrixAvailable());
  EXPECT_EQ(spine->GetInvBindMatrix(), pose);
  EXPECT_FALSE(leg->IsInvBindMatrixAvailable());
  EXPECT_EQ(leg->GetInvBindMatrix(), TMatrix3D::Identity());
  EXPECT_TRUE(Logged(log, "failed to apply bind pose - joint Leg in linked list not found"));
  std::vector<TMatrix3D> transforms;
  skin->GetSkeletonJointTransformations(transforms, TMatrix3D::CreateScaling({2, 2, 2}));
  ASSERT_EQ(transforms.size(), 2u);
  // The given transform first, then the joint against its pose (5 - 3).
  EXPECT_EQ(TPoint3D(0, 0, 0) * transforms[0], TPoint3D(0, 2, 0));
  EXPECT_EQ(TPoint3D(1, 0, 0) * transforms[0], TPoint3D(2, 2, 0));
  EXPECT_EQ(TPoint3D(0, 0, 0) * transforms[1], TPoint3D(1, 0, 0));  // no pose: the identity
  spine->ApplyBindPose(nullptr);
  EXPECT_FALSE(spine->IsInvBindMatrixAvailable());

  spine->ClearWeightsAndIndices(3);
  spine->LowerLimit() = {1};
  spine->AdjustLengthOfWeightsAndIndices(1);
  EXPECT_EQ(spine->GetWeights(), std::vector<float>{0});
  EXPECT_EQ(spine->GetSize(), spine->InstanceSize() + 2 * 5 + 4 * 3);
}

// The linked list owns its references: one listed twice would be freed twice with the skin.
TEST(DefTypesSkeleton, AReferenceLinkedTwiceIsListedOnce) {
  TRig r;
  auto* ctrl = Named<TControllerDef>("C", static_cast<TTransformDef*>(r.Body));
  r.Model->AddController(ctrl);
  auto* skin = New<TSkinDef>(ctrl);
  ctrl->SetSkin(skin);
  TJointRefDef* spine = skin->LinkJoint(New<TJointRefDef>(r.Spine, ctrl, false));
  TJointRefDef* leg = skin->LinkJoint(New<TJointRefDef>(r.Leg, ctrl, false));
  EXPECT_EQ(skin->LinkJoint(spine), spine);
  EXPECT_EQ(skin->LinkJoint(leg), leg);
  EXPECT_EQ(skin->GetLinkedJoints()->Count(), 2);
  EXPECT_EQ(spine->GetLinkIndex(), 0);
  EXPECT_EQ(leg->GetLinkIndex(), 1);
  // A second reference to a joint already linked is a reference of its own and is appended.
  TJointRefDef* again = skin->LinkJoint(New<TJointRefDef>(r.Spine, ctrl, false));
  EXPECT_EQ(again->GetLinkIndex(), 2);
  EXPECT_EQ(skin->LinkedJointsToString(), "Spine, Leg, Spine");
  EXPECT_EQ(skin->GetJointRef(r.Spine), spine);
  // Freeing the controller frees the skin and each reference once.
  r.Model->GetControllers()->Remove(ctrl);
}

TEST(DefTypesSkeleton, SkinReadingErrorsAreWrappedWithTheSkinId) {
  struct TCase {
    const char* Skin;
    bool WithModel;
    const char* Message;
  };
  const TCase cases[] = {
      {R"({"Id":"s","LinkedJoints":[5]})", true, "failed to load skin definition s - invalid json value"},
      {R"({"Id":"s","LinkedJoints":[{"Joint":"Hip"}]})", false,
       "failed to load skin definition s - model not assigned in controller-mesh"},
      {R"({"Id":"s","LinkedJoints":[{"Joint":{}}]})", true,
       "failed to load skin definition s - invalid json value for \"Joint\""},
      {R"({"Id":"s","LinkedJoints":[{"Joint":"Tail"}]})", true,
       "failed to load skin definition s - joint Tail not found in model"},
      {R"({"Id":"s","Skeleton":"Tail"})", true, "failed to load skin definition s - skeleton joint Tail not found in model"},
      {R"({"Id":"s","Skeletons":["Hip","Tail"]})", true,
       "failed to load skin definition s - skeleton joint Tail not found in model"},
      {R"({"Id":"s","BindPoses":5})", true, "failed to load skin definition s - "},
      {R"({"Id":"s","LinkedJoints":{}})", true, "failed to load skin definition s - "},
  };
  for (const TCase& c : cases) {
    TRig r;
    auto* ctrl = Named<TControllerDef>("C", static_cast<TTransformDef*>(r.Body));
    r.Model->AddController(ctrl);
    const std::string json = std::string(R"({"Id":"C","Skin":)") + c.Skin + "}";
    const std::string message =
        MessageOf([&] { ctrl->FromJSON(c.WithModel ? r.Model.get() : nullptr, ParseObject(json).get()); });
    EXPECT_EQ(message.substr(0, std::string(c.Message).size()), c.Message) << c.Skin;
    ASSERT_NE(ctrl->GetSkin(), nullptr) << c.Skin;  // the controller keeps the skin made for it
    EXPECT_EQ(ctrl->GetSkin()->GetId(), "s");
  }
}

TEST(DefTypesSkeleton, OldKeysAndSharedControllers) {
  TRig r;
  auto* other = Named<TArmatureDef>("Other", static_cast<TCustomDef*>(r.Model.get()));
  r.Model->AddArmature(other);
  TJointDef* chest = AddJoint(other, nullptr, "Chest");
  // An older file: one "Skeleton" string; joints of two armatures make both know the controller.
  TControllerDef* ctrl = r.ReadController(R"({"Id":"C","Skin":{"Id":"s","Skeleton":"Hip","Skeletons":["Chest",7],
      "LinkedJoints":[{"Id":"Leg","Joint":"Leg","Weights":"0.5 1","Indices":"0 1","InvBindMatrix":"2 0 0 0 0 2 0 0 0 0 2 0 0 0 0 1"}]}})");
  TSkinDef* skin = ctrl->GetSkin();
  ASSERT_EQ(skin->GetSkeletons()->Count(), 2);
  EXPECT_TRUE(skin->GetSkeletons()->Items(0)->GetIsStandalone());
  EXPECT_EQ(skin->GetSkeletons()->Items(0)->GetJoint(), r.Hip);
  EXPECT_EQ(skin->GetSkeletons()->Items(1)->GetJoint(), chest);
  EXPECT_TRUE(skin->GetLinkedJoints()->Items(0)->IsSkeletonRoot(skin) == false);
  EXPECT_EQ(r.Rig->GetControllers()->Count(), 1);
  EXPECT_EQ(other->GetControllers()->Count(), 1);
  EXPECT_EQ(r.Rig->FindControllerByTransform(r.Body), ctrl);
  TJointRefDef* leg = skin->GetJointRef(r.Leg);
  ASSERT_NE(leg, nullptr);
  EXPECT_EQ(leg->GetWeights(), (std::vector<float>{0.5f, 1}));
  EXPECT_EQ(leg->GetIndices(), (std::vector<int32_t>{0, 1}));
  EXPECT_FALSE(leg->IsInvBindMatrixAvailable());  // no "InvBindMatAvail"
  EXPECT_EQ(leg->GetInvBindMatrix(), TMatrix3D::CreateScaling({2, 2, 2}));

  // A second "Skin" replaces the first (freed: the sanitizer sees no leak).
  ctrl->FromJSON(r.Model.get(), ParseObject(R"({"Skin":{"Id":"t"}})").get());
  EXPECT_EQ(ctrl->GetSkin()->GetId(), "t");

  // The model reader: "Mesh" for an absent "Target", "Humanoids" for absent "Armatures".
  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  model->FromJSON(ParseObject(R"({"Id":"M","Children":[{"Type":"Quorvel.DefTypes.TMeshDef","Id":"Body"}],
      "Humanoids":[{"Id":"H","Root":{"Id":"Hip","Joints":[{"Id":"Leg"},{"Id":"Leg"}]},"Controllers":["c",3]}],
      "Controllers":[{"Id":"c","Mesh":"Body","Skin":null}]})")
                      .get());
  ASSERT_EQ(model->GetArmatures()->Count(), 1);
  TArmatureDef* h = model->GetArmatures()->Items(0);
  EXPECT_EQ(h->GetRoot()->JointsCount(), 1);  // the second "Leg" is dropped (and freed)
  EXPECT_EQ(h->GetJointsCount(), 3);
  ASSERT_EQ(h->GetControllers()->Count(), 1);
  EXPECT_EQ(h->GetControllers()->Items(0)->GetTarget()->GetId(), "Body");
  EXPECT_EQ(model->GetControllers()->Items(0)->GetSkin(), nullptr);
  // A second "Root" replaces the first tree.
  h->FromJSON(model.get(), ParseObject(R"({"Root":{"Id":"Pelvis"}})").get());
  EXPECT_EQ(h->GetRoot()->GetId(), "Pelvis");
  // An unknown controller id fails the late pass.
  TOwned<TModelDef> bad(New<TModelDef>(nullptr, nullptr));
  EXPECT_EQ(MessageOf([&] {
              bad->FromJSON(ParseObject(R"({"Armatures":[{"Id":"A","Controllers":["nope"]}]})").get());
            }),
            "controller with id \"nope\" not found");
}

TEST(DefTypesSkeleton, GoldenJSON) {
  TOwned<TArmatureDef> empty(New<TArmatureDef>(nullptr));
  EXPECT_EQ(TakeText(empty->ToJSON()),
            R"({"Type":"Quorvel.DefTypes.TArmatureDef","Id":"default","Owner":null,"Properties":[],"Transform":"1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000","Root":null,"Controllers":[]})");
  TOwned<TControllerDef> bare(Named<TControllerDef>("c", static_cast<TTransformDef*>(nullptr)));
  EXPECT_EQ(TakeText(bare->ToJSON()), R"({"Type":"Quorvel.DefTypes.TControllerDef","Id":"c","Target":"","Skin":null})");

  TRig r;
  TJointDef* knee = AddJoint(r.Rig, r.Leg, "Knee");
  knee->SetTransform(TMatrix3D::CreateTranslation({0, 0.5f, 0}));
  EXPECT_EQ(TakeText(knee->ToJSON()),
            R"({"Type":"Quorvel.DefTypes.TJointDef","Id":"Knee","Owner":"Rig","Properties":[],"Transform":"1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000 0.0000000 0.0000000 0.5000000 0.0000000 1.0000000","Parent":"Leg"})");
  EXPECT_EQ(TakeText(r.Leg->ToJSON()),
            R"({"Type":"Quorvel.DefTypes.TJointDef","Id":"Leg","Owner":"Rig","Properties":[],"Transform":"1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000","Parent":"Hip","Joints":[{"Type":"Quorvel.DefTypes.TJointDef","Id":"Knee","Owner":"Rig","Properties":[],"Transform":"1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000 0.0000000 0.0000000 0.5000000 0.0000000 1.0000000","Parent":"Leg"}]})");
  const std::string root = TakeText(r.Hip->ToJSON());
  EXPECT_NE(root.find(R"("Parent":null)"), std::string::npos);

  TControllerDef* ctrl = r.ReadController(
      R"({"Id":"C","Skin":{"Id":"s","Skeletons":["Hip"],"BindPoses":["1 0 0 0 0 1 0 0 0 0 1 0 0 -1 0 1"],
      "LinkedJoints":[{"Joint":"Leg","Weights":"0.25 0.75","Indices":"1 2","LowerLimit":"-1","UpperLimit":"","InvBindMatAvail":true}]}})");
  r.Rig->AddController(ctrl);
  EXPECT_EQ(TakeText(ctrl->GetSkin()->GetLinkedJoints()->Items(0)->ToJSON()),
            R"({"Type":"Quorvel.DefTypes.TJointRefDef","Id":"Leg","Joint":"Leg","Controller":"C","Weights":"0.2500000 0.7500000","Indices":"1 2","LowerLimit":"-1.0000000","UpperLimit":"","InvBindMatrix":"1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000","InvBindMatAvail":true})");
  EXPECT_EQ(TakeText(ctrl->ToJSON()),
            R"({"Type":"Quorvel.DefTypes.TControllerDef","Id":"C","Target":"Body","Skin":{"Type":"Quorvel.DefTypes.TSkinDef","Id":"s","Owner":"C","Properties":[],"Transform":"1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000","Controller":"C","LinkedJoints":[{"Type":"Quorvel.DefTypes.TJointRefDef","Id":"Leg","Joint":"Leg","Controller":"C","Weights":"0.2500000 0.7500000","Indices":"1 2","LowerLimit":"-1.0000000","UpperLimit":"","InvBindMatrix":"1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000","InvBindMatAvail":true}],"Skeletons":["Hip"],"BindShapeMatrix":"1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000","BindPoses":["1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000 0.0000000 0.0000000 -1.0000000 0.0000000 1.0000000"]}})");
  const std::string armature = TakeText(r.Rig->ToJSON());
  EXPECT_NE(armature.find(R"("Controllers":["C"])"), std::string::npos) << armature;
  EXPECT_NE(armature.find(R"("Root":{"Type":"Quorvel.DefTypes.TJointDef","Id":"Hip")"), std::string::npos);
}

TEST(DefTypesSkeleton, ModelWithSkeletonsAndAnimationsWritesWhatItReads) {
  TRig r;
  TControllerDef* ctrl = r.ReadController(R"({"Id":"C","Skin":{"Id":"s","Skeletons":["Hip"],
      "BindPoses":["1 0 0 0 0 1 0 0 0 0 1 0 0 -1 0 1"],"LinkedJoints":[{"Joint":"Leg","Weights":"0.5","Indices":"0"}]}})");
  r.Rig->AddController(ctrl);
  auto* anim = Named<TAnimationDef>("walk", r.Model.get());
  r.Model->AddAnimation(anim);
  auto* stage = Named<TAnimationStageDef>("s", anim);
  stage->SetReference(r.Leg);
  anim->AddStage(stage);
  auto* track = New<TQuaternion3DInterpolatorDef>(stage);
  track->SetPath("Quaternion");
  track->AddKey(0.5f, TQuaternion3D(0, 1, 0, 0), TInterpolationType::Back);
  stage->AddInterpolator(track);

  auto write = [](const TModelDef* AModel) {
    std::unique_ptr<TJSONObject> json(AModel->ToJSON());
    return json->ToJSON();
  };
  auto read = [](const std::string& AText) {
    TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
    model->FromJSON(ParseObject(AText).get());
    return model;
  };
  const std::string first = write(r.Model.get());
  TOwned<TModelDef> second = read(first);
  const std::string secondText = write(second.get());
  EXPECT_EQ(write(read(secondText).get()), secondText);
  TArmatureDef* rig = second->GetArmatures()->Items(0);
  EXPECT_EQ(rig->GetRoot()->JointsCount(), 3);
  ASSERT_EQ(rig->GetControllers()->Count(), 1);
  TSkinDef* skin = second->GetControllers()->Items(0)->GetSkin();
  EXPECT_EQ(skin->GetLinkedJoints()->Items(0)->GetJoint(), second->FindJointById("Leg"));
  EXPECT_EQ(second->GetAnimations()->Items(0)->GetStages()->Items(0)->GetReference(), second->FindJointById("Leg"));
}

}  // namespace
}  // namespace quorvel
