// Models whose meshes hang under segments, segments that joints and armatures take over,
// searches by definition, the model's settings in its definition, and a skinned run that ends.
#include <gtest/gtest.h>

#include <cmath>

#include "lib/animation/Animation.h"
#include "lib/animation/Armature.h"
#include "lib/animation/Joint.h"
#include "lib/defs/DefTypesArmature.h"
#include "lib/defs/DefTypesMesh.h"
#include "lib/defs/DefTypesModel.h"
#include "lib/materials/MaterialDefault.h"
#include "lib/scene/Model.h"
#include "lib/scene/Segment.h"
#include "tests/animation/StripRig.h"
#include "tests/scene/SceneTestSupport.h"

namespace quorvel {
namespace {

using testkit::NearColor;
using testkit::TViewportTest;

// A square of side 2 centred on ACentre, facing the camera, under AParent.
TMeshDef* AddSquare(TTransformDef* AParent, const std::string& AId, const TPoint3D& ACentre) {
  auto* mesh = New<TMeshDef>(AParent);
  mesh->SetId(AId);
  const auto formats = VertexFormatsFromMask(DefaultMeshVertexFormatMask);
  mesh->CreateVertexSource(formats);
  TVertexBuffer vb(formats, 4);
  const TPoint3D corners[4] = {{-1, -1, 0}, {1, -1, 0}, {-1, 1, 0}, {1, 1, 0}};
  for (int i = 0; i < 4; ++i) vb.SetVertices(i, ACentre + corners[i]);
  mesh->SetVertices(&vb);
  mesh->AddIndices(std::vector<uint32_t>{0, 1, 2, 1, 3, 2, 2, 1, 0, 2, 3, 1}, 0, 12, 0);
  AParent->AddChild(mesh);
  return mesh;
}

template <class T>
T* ChildOf(TFwObject* AParent, const std::string& AName) {
  for (TFwObject* child : AParent->Children())
    if (auto* c = dynamic_cast<T*>(child); c && c->GetName() == AName) return c;
  return nullptr;
}

class ModelHierarchy : public TViewportTest {
protected:
  TQuorvelModel* AddModel(TModelDef* ADef) {
    auto* model = New<TQuorvelModel>(Form.get());
    model->SetParent(Viewport);
    model->LoadFromDefinition(ADef);
    return model;
  }
  // The engine's unlit material: it places the mesh by its absolute matrix once.
  void Paint(TQuorvelMesh* AMesh, TAlphaColor AColor) {
    auto* source = New<TQuorvelDefaultMaterialSource>(Form.get());
    source->SetDiffuseF(TAlphaColorF(AColor));
    AMesh->SetMaterialSource(source);
  }
  TAlphaColor At(const TPoint3D& APoint) {
    const TPointF p = Viewport->WorldToScreen(APoint);
    return Probe(int32_t(std::lround(p.X)), int32_t(std::lround(p.Y)));
  }
};

TEST_F(ModelHierarchy, ALegUnderItsHipSegmentIsDrawnClearedAndFreed) {
  TOwned<TModelDef> def(New<TModelDef>(nullptr, nullptr));
  def->SetId("Rig");
  auto* hip = New<TSegmentDef>(def.get());
  hip->SetId("Hip");
  def->AddChild(hip);
  AddSquare(hip, "Leg", {0, 0, 0});
  TQuorvelModel* model = AddModel(def.get());
  auto* segment = ChildOf<TQuorvelSegment>(model, "Hip");
  ASSERT_NE(segment, nullptr);
  auto* leg = ChildOf<TQuorvelMesh>(segment, "Leg");
  ASSERT_NE(leg, nullptr);
  EXPECT_EQ(model->FindControlByDeepSearch("Leg"), leg);
  Paint(leg, claYellow);
  Tick();
  EXPECT_TRUE(NearColor(Probe(W / 2, H / 2), claYellow, 8)) << std::hex << uint32_t(Probe(W / 2, H / 2));
  EXPECT_TRUE(NearColor(Probe(1, 1), claBlue));
  model->Clear();
  EXPECT_EQ(model->GetChildrenCount(), 0);
  Tick();
  EXPECT_TRUE(NearColor(Probe(W / 2, H / 2), claBlue));
  // Loaded again and freed with the form: the definition stays the caller's.
  model->LoadFromDefinition(def.get());
  Free(model);
  EXPECT_EQ(def->GetChildren()->Items(0)->ChildCount(), 1);
}

// Rig with root joint "Knee" and its child "Ankle"; segments named after the armature and
// the joints hold a mesh each, and "Loose_Seg" names nothing.
struct TJointedModel {
  TOwned<TModelDef> Def{New<TModelDef>(nullptr, nullptr)};
  TArmatureDef* Rig;
  TJointDef *Knee, *Ankle;

  TJointedModel() {
    Def->SetId("Body");
    for (const char* seg : {"Rig_Seg", "Knee_Seg", "Ankle_Seg", "Loose_Seg"}) {
      auto* segment = New<TSegmentDef>(Def.get());
      segment->SetId(seg);
      Def->AddChild(segment);
      AddSquare(segment, std::string(seg).substr(0, std::string(seg).find('_')) + "Mesh", {2, 0, 0});
    }
    Rig = New<TArmatureDef>(Def.get());
    Rig->SetId("Rig");
    Def->AddArmature(Rig);
    Knee = New<TJointDef>(Rig);
    Knee->SetId("Knee");
    Rig->SetRoot(Knee);
    Ankle = New<TJointDef>(Rig);
    Ankle->SetId("Ankle");
    Ankle->SetParent(Knee);
    Knee->AddJoint(Ankle);
  }
};

TEST_F(ModelHierarchy, JointAndArmatureSegmentsHandTheirMeshesOverAndGo) {
  TJointedModel m;
  TQuorvelModel* model = AddModel(m.Def.get());
  TQuorvelArmature* armature = model->GetFirstArmature();
  ASSERT_NE(armature, nullptr);
  TQuorvelJoint* knee = armature->FindJoint(m.Knee);
  TQuorvelJoint* ankle = armature->FindJoint(m.Ankle);
  ASSERT_NE(knee, nullptr);
  ASSERT_NE(ankle, nullptr);
  struct TCase {
    const char* Mesh;
    TQuorvelTransform* Holder;
  } cases[] = {{"RigMesh", armature}, {"KneeMesh", knee}, {"AnkleMesh", ankle}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Mesh);
    auto* mesh = ChildOf<TQuorvelMesh>(c.Holder, c.Mesh);
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(mesh->GetOwner(), c.Holder);
    EXPECT_EQ(c.Holder->GetControls().at(c.Mesh), mesh);
  }
  // The resolved segments are gone, also from the model's registry; the loose one stays.
  for (const char* gone : {"Rig_Seg", "Knee_Seg", "Ankle_Seg"}) {
    EXPECT_EQ(ChildOf<TQuorvelSegment>(model, gone), nullptr) << gone;
    EXPECT_EQ(model->FindControlByDeepSearch(gone), nullptr) << gone;
  }
  auto* loose = ChildOf<TQuorvelSegment>(model, "Loose_Seg");
  ASSERT_NE(loose, nullptr);
  ASSERT_NE(ChildOf<TQuorvelMesh>(loose, "LooseMesh"), nullptr);
  // Ids without a segment, or naming something that is not one, change nothing.
  const int children = model->GetChildrenCount();
  model->ResolvingSegment("Nobody", knee);
  model->ResolvingSegment("LooseMesh", knee);  // "LooseMesh_Seg" does not exist either
  EXPECT_EQ(model->GetChildrenCount(), children);
  EXPECT_EQ(ChildOf<TQuorvelMesh>(loose, "LooseMesh")->GetParent(), loose);
  Free(model);
}

TEST_F(ModelHierarchy, AJointsSegmentFollowsTheJointWhenItTurns) {
  TJointedModel m;
  TQuorvelModel* model = AddModel(m.Def.get());
  TQuorvelJoint* knee = model->GetFirstArmature()->FindJoint(m.Knee);
  auto* shin = ChildOf<TQuorvelMesh>(knee, "KneeMesh");
  ASSERT_NE(shin, nullptr);
  Paint(shin, claYellow);
  for (const char* other : {"RigMesh", "AnkleMesh", "LooseMesh"})
    if (auto* mesh = dynamic_cast<TQuorvelMesh*>(model->FindControlByDeepSearch(other))) mesh->SetVisible(false);
  Tick();
  EXPECT_TRUE(NearColor(At({2, 0, 0}), claYellow, 8)) << std::hex << uint32_t(At({2, 0, 0}));
  EXPECT_TRUE(NearColor(At({0, 2, 0}), claBlue));
  // A quarter turn about Z carries the mesh from +X to +Y.
  knee->SetTransformMatrix(TMatrix3D::CreateRotationZ(float(M_PI / 2)));
  Tick();
  EXPECT_TRUE(NearColor(At({0, 2, 0}), claYellow, 8)) << std::hex << uint32_t(At({0, 2, 0}));
  EXPECT_TRUE(NearColor(At({2, 0, 0}), claBlue));
  Free(model);
}

TEST(ModelSearch, InterpolatorsAndControlsByDefinition) {
  TStrip s;
  s.AddBend();
  TOwned<TQuorvelModel> model(New<TQuorvelModel>(nullptr));
  model->LoadFromDefinition(s.Def.get());
  TQuorvelAnimation* bend = model->GetAnimationManager()->GetAnimation("Bend");
  ASSERT_NE(bend, nullptr);
  ASSERT_EQ(bend->GetSkeleton()->GetInterpolators().size(), 1u);
  TPropertyKeyAnimation* track = bend->GetSkeleton()->GetInterpolators()[0];
  TCustomDef* trackDef = dynamic_cast<TCustomDef*>(track->GetDef());
  ASSERT_NE(trackDef, nullptr);
  auto* strip = dynamic_cast<TQuorvelMesh*>(model->FindControlByDeepSearch("Strip"));
  ASSERT_NE(strip, nullptr);
  EXPECT_EQ(model->FindInterpolatorByDef(trackDef), nullptr);
  model->AddInterpolator("BoneTrack", track);
  TOwned<TMeshDef> stranger(New<TMeshDef>(nullptr));
  const struct {
    const char* Name;
    TCustomDef* Def;
    TComponent* Interpolator;
    TComponent* Control;
  } cases[] = {
      {"the track's definition", trackDef, track, track},
      {"a mesh's definition", s.Strip, nullptr, strip},
      {"a definition of nothing here", stranger.get(), nullptr, nullptr},
      {"none", nullptr, nullptr, nullptr},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(model->FindInterpolatorByDef(c.Def), c.Interpolator) << c.Name;
    EXPECT_EQ(model->FindControlByDefDeepSearch(c.Def), c.Control) << c.Name;
  }
}

TEST(ModelSettings, EveryModelKeySurvivesADefinitionRoundTrip) {
  TJointedModel m;
  struct TCase {
    const char* Name;
    bool Wireframe;
    const char* Kind;  // "Color", "Default" or none
    TAlphaColor WireColor;
    bool ShowJoints;
    TAlphaColor JointsColor;
  } cases[] = {
      {"colour wireframe", true, "Color", MakeAlphaColor(0xFF102030), true, MakeAlphaColor(0xFF00FF00)},
      {"default-material wireframe", true, "Default", MakeAlphaColor(0xFF405060), false, MakeAlphaColor(0xFFFF0000)},
      {"no wireframe", false, nullptr, TAlphaColor(0), true, MakeAlphaColor(0xFF0000FF)},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TOwned<TComponent> owner(New<TComponent>(nullptr));
    auto* model = New<TQuorvelModel>(owner.get());
    model->LoadFromDefinition(m.Def.get());
    model->SetWireframe(c.Wireframe);
    if (c.Kind && std::string(c.Kind) == "Default") {
      model->FreeWireframeMaterial();
      // What a stored "Default" key builds: taken from a first round trip below.
      TOwned<TModelDef> seed(New<TModelDef>(nullptr, nullptr));
      seed->GetProperties()->AddOrSetValue("Wireframe", TValue(true));
      seed->GetProperties()->AddOrSetValue("WireframeMaterial", TValue(std::string("Default")));
      seed->GetProperties()->AddOrSetValue("WireframeColor", TValue(TAlphaColorF::Create(c.WireColor)));
      model->LoadPropertiesFromDefinition(seed.get());
    } else if (c.Kind) {
      model->CreateWireframeMaterial();
      static_cast<TColorMaterialSource*>(model->GetWireframeMaterial())->SetColor(c.WireColor);
    } else {
      model->FreeWireframeMaterial();
    }
    model->SetShowJoints(c.ShowJoints);
    model->SetJointsColor(c.JointsColor);
    model->SetSourceValue("body.q3m");

    TOwned<TModelDef> out(New<TModelDef>(nullptr, nullptr));
    model->StoreToDefinition(out.get());
    TValue v;
    EXPECT_EQ(out->GetProperties()->TryGetValue("WireframeMaterial", v), c.Kind != nullptr);
    if (c.Kind) {
      EXPECT_EQ(v.AsType<std::string>(), c.Kind);
    }

    auto* back = New<TQuorvelModel>(owner.get());
    back->LoadFromDefinition(m.Def.get());
    back->LoadPropertiesFromDefinition(out.get());
    EXPECT_EQ(back->GetWireframe(), c.Wireframe);
    EXPECT_EQ(back->GetShowJoints(), c.ShowJoints);
    EXPECT_EQ(back->GetJointsColor(), c.JointsColor);
    EXPECT_EQ(back->GetSource(), "body.q3m");
    TMaterialSource* wire = back->GetWireframeMaterial();
    if (!c.Kind) {
      EXPECT_EQ(wire, nullptr);
    } else if (std::string(c.Kind) == "Color") {
      auto* color = dynamic_cast<TColorMaterialSource*>(wire);
      ASSERT_NE(color, nullptr);
      EXPECT_EQ(color->GetColor(), c.WireColor);
    } else {
      auto* source = dynamic_cast<TQuorvelDefaultMaterialSource*>(wire);
      ASSERT_NE(source, nullptr);
      EXPECT_EQ(source->GetColor(), c.WireColor);
      EXPECT_EQ(source->GetOwner(), back);
      EXPECT_FALSE(source->GetStored());
      // It goes with the model's other built components on Clear.
      back->Clear();
      EXPECT_EQ(dynamic_cast<TQuorvelDefaultMaterialSource*>(back->GetWireframeMaterial()), nullptr);
    }
  }
}

// A run that is not looped ends on its last key: the mesh must rest in that pose, not in the
// one of the tick before.
TEST(SkinnedRun, ARunThatEndsRestsInItsLastPose) {
  TStrip s;
  s.AddBend(1.5f, false);
  TOwned<TQuorvelModel> model(New<TQuorvelModel>(nullptr));
  model->LoadFromDefinition(s.Def.get());
  TQuorvelArmature* armature = ArmatureOf(model.get());
  TQuorvelAnimation* bend = model->GetAnimationManager()->GetAnimation("Bend");
  ASSERT_NE(bend, nullptr);
  bend->GetSkeleton()->Loop = false;
  TAniThread& thread = TAniThread::Instance();
  const bool enabled = thread.Enabled;
  thread.Enabled = false;
  auto restore = Finally([&] { thread.Enabled = enabled; });
  bend->Start();
  ASSERT_TRUE(bend->GetRunning());
  // Ticks of 0.5 s, each followed by the frame's skinning, until the run has ended.
  for (int i = 0; i < 3; ++i) {
    bend->GetSkeleton()->ProcessTick(0, 0.5f);
    armature->Render();
  }
  EXPECT_FALSE(bend->GetRunning());
  armature->Render();  // later frames keep the pose
  TVertexBuffer* vb = armature->GetMeshes().at(0)->GetMeshData()->GetVertexBuffer();
  // Vertex 7 (1, 3) on the bone turned a quarter about (0, 2): (-1, 3).
  ExpectNear(vb->GetVertices(7), {-1, 3, 0}, "vertex 7 in the last pose");
  ExpectNear(vb->GetVertices(0), TStrip::Bind(0), "vertex 0 on the root");
}

}  // namespace
}  // namespace quorvel
