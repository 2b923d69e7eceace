#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/rtl/Log.h"
#include "lib/animation/DefTypesCache.h"
#include "lib/context/ContextBuffers.h"
#include "lib/defs/DefTypes.h"
#include "tests/defs/DefTypesTestUtil.h"
#include "lib/utils/UtilsMath.h"
#include "tests/support/MemoryBufferObject.h"
#include "tests/support/Raised.h"

namespace quorvel {
namespace {

using test::ParseObject;
using test::TakeText;
constexpr float Pi = 3.14159265358979f;

void ExpectNear(const TMatrix3D& A, const TMatrix3D& B, float ATolerance = 1e-5f) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(A.Get(r, c), B.Get(r, c), ATolerance) << r << "," << c;
}

template <class T>
T* AddTrack(TAnimationStageDef* AStage, const std::string& APath, float ADuration = 1.0f) {
  auto* track = New<T>(AStage);
  track->SetPath(APath);
  track->SetDuration(ADuration);
  AStage->AddInterpolator(track);
  return track;
}

TAnimationStageDef* AddStage(TAnimationDef* AAnim, const std::string& AId, TCustomDef* AReference = nullptr) {
  auto* stage = Named<TAnimationStageDef>(AId, AAnim);
  stage->SetReference(AReference);
  AAnim->AddStage(stage);
  return stage;
}

TEST(DefTypesAnimation, DurationsFramesAndStages) {
  TOwned<TAnimationDef> anim(New<TAnimationDef>(nullptr));
  EXPECT_EQ(anim->GetFrameRate(), 60);
  EXPECT_EQ(anim->GetFrameCount(), 0);
  EXPECT_EQ(anim->GetDuration(), 0);
  EXPECT_EQ(anim->GetBufferingState(), TAnimationBufferingState::None);
  EXPECT_EQ(anim->GetBuffers(), nullptr);
  EXPECT_FALSE(anim->IsCached());
  EXPECT_FALSE(anim->IsCacheable());
  EXPECT_EQ(anim->GetDurationInSeconds(), 0);
  EXPECT_EQ(anim->ComputeFrameCount(), 0);

  TAnimationStageDef* a = AddStage(anim.get(), "a");
  AddTrack<TPoint3DInterpolatorDef>(a, "Position.Point", 1.5f);
  a->AddInterpolator(Named<TTransformDef>("t", static_cast<TCustomDef*>(nullptr)));  // kept, not timed
  TAnimationStageDef* b = AddStage(anim.get(), "b");
  AddTrack<TMeshInterpolatorDef>(b, "Mesh", 2.01f);
  EXPECT_EQ(a->GetInterpolators()->Count(), 2);
  EXPECT_EQ(a->GetDurationInSeconds(), 1.5f);
  EXPECT_EQ(anim->GetDurationInSeconds(), double(2.01f));
  EXPECT_EQ(anim->GetDurationInMilliseconds(), 2010);
  EXPECT_EQ(anim->ComputeFrameCount(), 121);
  EXPECT_EQ(anim->ComputeFrameCount(2.0), 120);
  EXPECT_EQ(anim->ComputeFrameCountMS(int64_t(2000)), 120);
  anim->PrepareAnimationData();
  EXPECT_EQ(anim->GetFrameCount(), 121);
  anim->SetFrameRate(30);
  EXPECT_EQ(anim->GetFrameCount(), 61);
  anim->SetFrameRate(30);
  EXPECT_EQ(anim->GetFrameCount(), 61);
  EXPECT_EQ(anim->ComputeFrameCount(2.0), 60);
  EXPECT_EQ(anim->ComputeFrameCount(1e300), 2147483647);  // saturates instead of overflowing

  // A rejected stage stays the caller's.
  TOwned<TAnimationStageDef> twin(Named<TAnimationStageDef>("a", anim.get()));
  EXPECT_EQ(MessageOf([&] { anim->AddStage(twin.get()); }), "TAnimationDef: Stage with id a already exists");
  EXPECT_THROW(anim->AddStage(b), Exception);  // the same object again: its id is taken, one entry
  anim->AddStage(nullptr);
  EXPECT_EQ(anim->GetStages()->Count(), 2);
  EXPECT_EQ(anim->FindStageById("b"), b);
  EXPECT_EQ(anim->FindStageById("B"), nullptr);
  EXPECT_EQ(b->FindInterpolatorById(""), b->GetInterpolators()->Items(0));
}

struct TModelFixture {
  TOwned<TModelDef> Model{New<TModelDef>(nullptr, nullptr)};
  TTransformDef* Node;
  TArmatureDef* Rig;
  TJointDef* Hip;
  TModelFixture() {
    Model->SetId("M");
    Node = Named<TTransformDef>("Hip", static_cast<TCustomDef*>(Model.get()));
    Model->AddChild(Node);
    auto* other = Named<TTransformDef>("Arm", static_cast<TCustomDef*>(Model.get()));
    Model->AddChild(other);
    Rig = Named<TArmatureDef>("Rig", static_cast<TCustomDef*>(Model.get()));
    Model->AddArmature(Rig);
    Hip = Named<TJointDef>("Hip", static_cast<TCustomDef*>(Rig));
    Rig->SetRoot(Hip);
  }
  TAnimationDef* Read(const std::string& AJson) {
    TOwned<TAnimationDef> anim(New<TAnimationDef>(Model.get()));
    anim->FromJSON(Model.get(), ParseObject(AJson).get());
    Model->AddAnimation(anim.get());
    return anim.release();
  }
};

TEST(DefTypesAnimation, StagesResolveReferencesAndTrackTypes) {
  TModelFixture f;
  TAnimationDef* anim = f.Read(R"({"Id":"walk","Stages":[
      {"Id":"s1","Reference":"Hip","Interpolators":[
        {"Type":"Quorvel.DefTypes.TPoint3DInterpolatorDef","Id":"p","Path":"Position.Point","Keys":[]},
        {"Type":"TVector3DInterpolatorDef","Path":"RotationAngle.Vector"},
        {"Type":"TQuaternion3DInterpolatorDef","Path":"Quaternion"},
        {"Type":"TTransformationInterpolatorDef","Path":""},
        {"Type":"Quorvel.DefTypes.TMeshInterpolatorDef","Path":"Mesh"}]},
      {"Id":"s2","Reference":"#ARM"}]})");
  ASSERT_EQ(anim->GetStages()->Count(), 2);
  TAnimationStageDef* s1 = anim->GetStages()->Items(0);
  EXPECT_EQ(s1->GetReference(), f.Hip);  // the joint before the node of the same id
  EXPECT_EQ(anim->GetStages()->Items(1)->GetReference()->GetId(), "Arm");
  const char* classes[] = {"TPoint3DInterpolatorDef", "TVector3DInterpolatorDef", "TQuaternion3DInterpolatorDef",
                           "TTransformationInterpolatorDef", "TMeshInterpolatorDef"};
  ASSERT_EQ(s1->GetInterpolators()->Count(), 5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(s1->GetInterpolators()->Items(i)->ClassName(), classes[i]);
  EXPECT_EQ(static_cast<TCustomInterpolatorDef*>(s1->GetInterpolators()->Items(0))->GetStage(), s1);

  // Written and read back: the same tracks in the same order, the same reference.
  s1->SetKeyUnifyFlags({TKeyUnifyFlag::InverseTransform});
  const std::string text = TakeText(anim->ToJSON());
  TAnimationDef* again = f.Read(text);
  EXPECT_EQ(TakeText(again->ToJSON()), text);
  EXPECT_EQ(again->GetStages()->Items(0)->GetReference(), f.Hip);
  EXPECT_TRUE(again->GetStages()->Items(0)->GetKeyUnifyFlags().IsEmpty());

  struct TCase {
    const char* Stage;
    const char* Message;
  };
  const TCase cases[] = {
      {R"({"Id":"x"})", "failed to load animation stage x - transform with id \"\" not found"},
      {R"({"Id":"x","Reference":"Hip","Interpolators":[{"Type":"quorvel.DefTypes.TPoint3DInterpolatorDef"}]})",
       "failed to load animation stage x - invalid interpolator type found: quorvel.DefTypes.TPoint3DInterpolatorDef"},
      {R"({"Id":"x","Reference":"Hip","Interpolators":[{"Type":"TFloatInterpolatorDef"}]})",
       "failed to load animation stage x - invalid interpolator type found: TFloatInterpolatorDef"},
      {R"({"Id":"x","Reference":"Hip","Interpolators":[{"Type":"TPoint3DInterpolatorDef"}]})",
       "failed to load animation stage x - failed to load interpolator path - property path value not found"},
      {R"({"Id":"x","Reference":"Hip","Interpolators":{}})", "failed to load animation stage x - Invalid class typecast"},
      {R"({"Id":"x","Reference":"Hip","Interpolators":[2]})", "failed to load animation stage x - Invalid class typecast"},
  };
  for (const TCase& c : cases) {
    TOwned<TAnimationDef> one(New<TAnimationDef>(f.Model.get()));
    const std::string json = std::string(R"({"Id":"a","Stages":[{"Id":"ok","Reference":"Arm"},)") + c.Stage + "]}";
    EXPECT_EQ(MessageOf([&] { one->FromJSON(f.Model.get(), ParseObject(json).get()); }), c.Message) << c.Stage;
    EXPECT_EQ(one->GetStages()->Count(), 1);  // the failed stage is not added (and freed)
  }
}

TEST(DefTypesAnimation, GoldenStageWithEveryTrackKind) {
  TModelFixture f;
  auto* anim = Named<TAnimationDef>("walk", f.Model.get());
  f.Model->AddAnimation(anim);
  TAnimationStageDef* stage = AddStage(anim, "s", f.Hip);
  AddTrack<TPoint3DInterpolatorDef>(stage, "Position.Point")->AddKey(0, TPoint3D(1, 2, 3), TInterpolationType::Cubic);
  AddTrack<TVector3DInterpolatorDef>(stage, "RotationAngle.Vector")->AddKey(1, TVector3D(0, 0, 0, 1), TInterpolationType::Linear);
  AddTrack<TQuaternion3DInterpolatorDef>(stage, "Quaternion")->AddKey(1, TQuaternion3D(0, 0, 0, 1), TInterpolationType::Linear);
  AddTrack<TTransformationInterpolatorDef>(stage, "")->AddKey(1, TMatrix3D::Identity(), TInterpolationType::Linear);
  AddTrack<TMeshInterpolatorDef>(stage, "Mesh")->AddKey(1, {TPoint3D(1, 0, 0)}, TInterpolationType::Linear);
  const std::string I =
      "1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000 "
      "0.0000000 0.0000000 0.0000000 0.0000000 1.0000000";
  auto track = [](const std::string& AClass, const std::string& APath, const std::string& AKey) {
    return R"({"Type":"Quorvel.DefTypes.)" + AClass + R"(","Id":"","Type":")" + AClass +
           R"(","Stage":"s","Duration":1,"Loop":true,"Path":")" + APath + R"(","Keys":[)" + AKey + "]}";
  };
  EXPECT_EQ(TakeText(anim->ToJSON()),
            R"({"Type":"Quorvel.DefTypes.TAnimationDef","Id":"walk","Stages":[{"Type":"Quorvel.DefTypes.TAnimationStageDef","Id":"s","Animation":"walk","Reference":"Hip","Interpolators":[)" +
                track("TPoint3DInterpolatorDef", "Position.Point",
                      R"({"Key":0,"Interpolation":2,"Value":"1.0000000 2.0000000 3.0000000"})") +
                "," +
                track("TVector3DInterpolatorDef", "RotationAngle.Vector",
                      R"({"Key":1,"Interpolation":0,"Value":"0.0000000 0.0000000 0.0000000 1.0000000"})") +
                "," +
                track("TQuaternion3DInterpolatorDef", "Quaternion",
                      R"({"Key":1,"Interpolation":0,"Value":"0.0000000 0.0000000 0.0000000 1.0000000"})") +
                "," + track("TTransformationInterpolatorDef", "", R"({"Key":1,"Interpolation":0,"Value":")" + I + R"("})") +
                "," + track("TMeshInterpolatorDef", "Mesh", R"({"Key":1,"Interpolation":0,"Value":"1.0000000 0.0000000 0.0000000"})") +
                "]}]}");
}

// ---- unification ----

TMatrix3D KeyValue(TAnimationStageDef* AStage, int AKey) {
  auto* merged = dynamic_cast<TTransformationInterpolatorDef*>(AStage->GetInterpolators()->Items(AStage->GetInterpolators()->Count() - 1));
  return merged->GetKeys()[size_t(AKey)]->Value;
}

TEST(DefTypesAnimation, UnifyMergesRolesIntoOneMatrixTrack) {
  TModelFixture f;
  auto* anim = Named<TAnimationDef>("a", f.Model.get());
  f.Model->AddAnimation(anim);

  // Position only, three keys.
  TAnimationStageDef* pos = AddStage(anim, "pos", f.Node);
  auto* p = AddTrack<TPoint3DInterpolatorDef>(pos, "Position.Point", 0.5f);
  p->AddKey(0, TPoint3D(0, 0, 0), TInterpolationType::Cubic);
  p->AddKey(0.5f, TPoint3D(1, 0, 0), TInterpolationType::Back);
  p->AddKey(1, TPoint3D(2, 0, 0), TInterpolationType::Elastic);
  // Position (3 keys) and scale (2 keys): the scale is sampled.
  TAnimationStageDef* ps = AddStage(anim, "ps", f.Node);
  auto* p2 = AddTrack<TPoint3DInterpolatorDef>(ps, "Position.Point");
  p2->AddKey(0, TPoint3D(0, 0, 0), TInterpolationType::Linear);
  p2->AddKey(0.25f, TPoint3D(0, 1, 0), TInterpolationType::Linear);
  p2->AddKey(1, TPoint3D(0, 2, 0), TInterpolationType::Linear);
  auto* s2 = AddTrack<TPoint3DInterpolatorDef>(ps, "Scale.Point", 3);
  s2->AddKey(0, TPoint3D(1, 1, 1), TInterpolationType::Linear);
  s2->AddKey(1, TPoint3D(3, 3, 3), TInterpolationType::Linear);
  // Angles and quaternion: the quaternion wins, both go.
  TAnimationStageDef* rot = AddStage(anim, "rot", f.Node);
  AddTrack<TPoint3DInterpolatorDef>(rot, "RotationAngle.Point")->AddKey(0, TPoint3D(90, 0, 0), TInterpolationType::Linear);
  AddTrack<TQuaternion3DInterpolatorDef>(rot, "Quaternion")
      ->AddKey(0, TQuaternion3D(TPoint3D(0, 1, 0), Pi / 2), TInterpolationType::Linear);
  // A vector rotation, one key, with a two-key position sampled at u = 0.
  TAnimationStageDef* vec = AddStage(anim, "vec", f.Node);
  AddTrack<TVector3DInterpolatorDef>(vec, "RotationAngle.Vector")
      ->AddKey(0.3f, TVector3D(0, 0.70710678f, 0, 0.70710678f), TInterpolationType::Linear);
  auto* p3 = AddTrack<TPoint3DInterpolatorDef>(vec, "Position.Point");
  p3->AddKey(0, TPoint3D(5, 0, 0), TInterpolationType::Linear);
  p3->AddKey(1, TPoint3D(7, 0, 0), TInterpolationType::Linear);
  // Nothing recognised.
  TAnimationStageDef* none = AddStage(anim, "none", f.Node);
  AddTrack<TVector3DInterpolatorDef>(none, "Position.Point")->AddKey(0, TVector3D(), TInterpolationType::Linear);
  AddTrack<TPoint3DInterpolatorDef>(none, "position.point")->AddKey(0, TPoint3D(), TInterpolationType::Linear);

  anim->UnifyInterpolators({}, nullptr);

  ASSERT_EQ(pos->GetInterpolators()->Count(), 1);
  auto* merged = dynamic_cast<TTransformationInterpolatorDef*>(pos->GetInterpolators()->Items(0));
  ASSERT_NE(merged, nullptr);
  EXPECT_EQ(merged->GetId(), "pos_transform_merged_1");
  EXPECT_EQ(merged->GetDuration(), 1.0f);
  EXPECT_EQ(merged->GetPath(), "");
  ASSERT_EQ(merged->KeyCount(), 3);
  const TInterpolationType kinds[] = {TInterpolationType::Cubic, TInterpolationType::Back, TInterpolationType::Elastic};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(merged->GetKeys()[size_t(i)]->Key, 0.5f * float(i));
    EXPECT_EQ(merged->GetKeys()[size_t(i)]->Interpolation, kinds[i]);
    ExpectNear(merged->GetKeys()[size_t(i)]->Value, TMatrix3D::CreateTranslation({float(i), 0, 0}));
  }

  ASSERT_EQ(ps->GetInterpolators()->Count(), 1);
  EXPECT_EQ(ps->GetInterpolators()->Items(0)->GetId(), "ps_transform_merged_2");
  EXPECT_EQ(static_cast<TCustomInterpolatorDef*>(ps->GetInterpolators()->Items(0))->GetDuration(), 3.0f);
  ExpectNear(KeyValue(ps, 1), TMatrix3D::CreateScaling({2, 2, 2}) * TMatrix3D::CreateTranslation({0, 1, 0}));
  EXPECT_EQ(static_cast<TTransformationInterpolatorDef*>(ps->GetInterpolators()->Items(0))->GetKeys()[1]->Key, 0.5f);

  ASSERT_EQ(rot->GetInterpolators()->Count(), 1);
  ExpectNear(KeyValue(rot, 0), TMatrix3D::CreateRotation({0, 1, 0}, Pi / 2));

  ASSERT_EQ(vec->GetInterpolators()->Count(), 1);
  ExpectNear(KeyValue(vec, 0), TMatrix3D::CreateRotation({0, 1, 0}, Pi / 2) * TMatrix3D::CreateTranslation({5, 0, 0}));

  EXPECT_EQ(none->GetInterpolators()->Count(), 2);
}

TEST(DefTypesAnimation, UnifyFlagsOptionsAndCallback) {
  TModelFixture f;
  f.Node->SetTransform(TMatrix3D::CreateTranslation({0, 0, 10}));
  auto* anim = Named<TAnimationDef>("a", f.Model.get());
  f.Model->AddAnimation(anim);
  auto stageWith = [&](const std::string& AId, TKeyUnifyFlags AFlags, TPoint3D APos) {
    TAnimationStageDef* stage = AddStage(anim, AId, f.Node);
    stage->SetKeyUnifyFlags(AFlags);
    AddTrack<TPoint3DInterpolatorDef>(stage, "Position.Point")->AddKey(0.5f, APos, TInterpolationType::Linear);
    return stage;
  };
  TAnimationStageDef* plain = stageWith("plain", {}, {1, 0, 0});
  TAnimationStageDef* equal = stageWith("equal", {TKeyUnifyFlag::EqualBaseTransformCheck}, {0, 0, 10});
  TAnimationStageDef* absolute =
      stageWith("abs", {TKeyUnifyFlag::AbsoluteKeyTransform, TKeyUnifyFlag::EvaluateGlobalTransform}, {1, 0, 0});
  TAnimationStageDef* inverse = stageWith("inv", {TKeyUnifyFlag::InverseTransform}, {1, 0, 0});
  TAnimationStageDef* angles = AddStage(anim, "angles", nullptr);
  AddTrack<TPoint3DInterpolatorDef>(angles, "RotationAngle.Point")->AddKey(0, TPoint3D(90, 90, 0), TInterpolationType::Linear);

  int calls = 0;
  anim->UnifyInterpolators({TUnifyInterpolatorOption::EulerZYX, TUnifyInterpolatorOption::EulerXYZ},
                           [&](TAnimationStageDef*, float& ATime, TMatrix3D&, TInterpolationType& AKind) {
                             ++calls;
                             ATime = 0;
                             AKind = TInterpolationType::Bounce;
                           });
  EXPECT_EQ(calls, 5);
  ExpectNear(KeyValue(plain, 0), TMatrix3D::CreateTranslation({1, 0, 10}));
  ExpectNear(KeyValue(equal, 0), TMatrix3D::CreateTranslation({0, 0, 10}));  // the base dropped
  ExpectNear(KeyValue(absolute, 0), TMatrix3D::CreateTranslation({1, 0, 0}));
  ExpectNear(KeyValue(inverse, 0), TMatrix3D::CreateTranslation({-1, 0, 10}));
  ExpectNear(KeyValue(angles, 0), MatrixToMatrix3D(EulerToMatrix({90, 90, 0}, 0)));
  auto* merged = static_cast<TTransformationInterpolatorDef*>(plain->GetInterpolators()->Items(0));
  EXPECT_EQ(merged->GetKeys()[0]->Key, 0);
  EXPECT_EQ(merged->GetKeys()[0]->Interpolation, TInterpolationType::Bounce);

  // {EulerZYX} alone takes that order.
  auto* second = Named<TAnimationDef>("b", f.Model.get());
  f.Model->AddAnimation(second);
  TAnimationStageDef* zyx = AddStage(second, "zyx", nullptr);
  AddTrack<TPoint3DInterpolatorDef>(zyx, "RotationAngle.Point")->AddKey(0, TPoint3D(90, 90, 0), TInterpolationType::Linear);
  second->UnifyInterpolators({TUnifyInterpolatorOption::EulerZYX}, nullptr);
  ExpectNear(KeyValue(zyx, 0), MatrixToMatrix3D(EulerToMatrix({90, 90, 0}, 3)));

  // A failing stage is logged and the next one still merges.
  auto* third = Named<TAnimationDef>("c", f.Model.get());
  f.Model->AddAnimation(third);
  TAnimationStageDef* bad = AddStage(third, "bad", nullptr);
  AddTrack<TPoint3DInterpolatorDef>(bad, "Position.Point")->AddKey(0, TPoint3D(), TInterpolationType::Linear);
  TAnimationStageDef* good = AddStage(third, "good", nullptr);
  AddTrack<TPoint3DInterpolatorDef>(good, "Position.Point")->AddKey(0, TPoint3D(), TInterpolationType::Linear);
  TLogCapture log;
  third->UnifyInterpolators({}, [](TAnimationStageDef* AStage, float&, TMatrix3D&, TInterpolationType&) {
    if (AStage->GetId() == "bad") throw Exception("no");
  });
  ASSERT_EQ(log.Lines().size(), 1u);
  EXPECT_EQ(log.Lines()[0], "failed to unify stage interpolators: bad\r\nno");
  EXPECT_EQ(bad->GetInterpolators()->Count(), 2);  // merged track added, sources kept
  EXPECT_EQ(good->GetInterpolators()->Count(), 1);
}

// ---- frame cache ----

TVertexData Vertex(float AX) {
  TVertexData v;
  v.Position = {AX, AX + 1, AX + 2};
  v.Normal = {0, 0, 1};
  v.TexCoords.push_back({0.5f, 0.5f});
  return v;
}

TMeshDef* AddMesh(TTransformDef* AParent, const std::string& AId, int AVertices = 3) {
  auto* mesh = Named<TMeshDef>(AId, static_cast<TCustomDef*>(AParent));
  std::vector<TVertexData> v;
  for (int i = 0; i < AVertices; ++i) v.push_back(Vertex(float(i)));
  mesh->AddVertices(v, 0, AVertices);
  mesh->AddIndices(std::vector<uint32_t>{0, 1, 2}, 0, 3, 0);
  AParent->AddChild(mesh);
  return mesh;
}

// Drives the protocol as the animation's baker does, storing the meshes' own vertices.
class TTestBaker : public TAnimationCaching {
public:
  using TAnimationCaching::TAnimationCaching;
  std::vector<TMeshDef*> Meshes;
  void Execute(TAnimationDef* AAnim) override {
    AAnim->PrepareAnimationData();
    AAnim->InitializeCaching(GetDef());
    for (int frame = 0; frame < AAnim->GetFrameCount(); ++frame)
      for (TMeshDef* mesh : Meshes)
        if (TAnimationBuffer* buffer = AAnim->StartCaching(mesh)) {
          AAnim->CacheFrame(buffer, mesh->GetVertexSource(), mesh->GetIndexSource(), GetFlags());
          if (AAnim->GetBufferingState() == TAnimationBufferingState::Cached) AAnim->StopCaching(buffer);
        }
    AAnim->FinalizeCaching();
  }
};

std::vector<uint8_t> Bytes(TStream* AStream) {
  std::vector<uint8_t> bytes(size_t(AStream->GetSize()));
  AStream->SetPosition(0);
  AStream->ReadBuffer(bytes.data(), int64_t(bytes.size()));
  return bytes;
}

std::vector<uint8_t> Positions(const TVertexBuffer* ABuffer) {
  std::vector<uint8_t> bytes;
  for (int32_t i = 0; i < ABuffer->Length(); ++i) {
    const TPoint3D p = ABuffer->GetVertices(i);
    const auto* b = reinterpret_cast<const uint8_t*>(&p);
    bytes.insert(bytes.end(), b, b + sizeof(TPoint3D));
  }
  return bytes;
}

struct TCacheFixture {
  test::TMemoryBufferClassScope Scope;
  TOwned<TModelDef> Model{New<TModelDef>(nullptr, nullptr)};
  TMeshDef *A, *B, *C, *Hidden;
  TAnimationDef* Anim;
  // One second at AFrames frames per second.
  explicit TCacheFixture(int32_t AFrames = 2) {
    A = AddMesh(Model.get(), "A");
    B = AddMesh(Model.get(), "B");
    C = AddMesh(B, "C");
    auto* node = Named<TTransformDef>("Node", static_cast<TCustomDef*>(Model.get()));
    Model->AddChild(node);
    Hidden = AddMesh(node, "Hidden");
    Anim = Named<TAnimationDef>("walk", Model.get());
    Model->AddAnimation(Anim);
    TAnimationStageDef* stage = Named<TAnimationStageDef>("s", Anim);
    Anim->AddStage(stage);
    AddTrack<TPoint3DInterpolatorDef>(stage, "Position.Point", 1.0f);
    Anim->SetFrameRate(AFrames);
  }
};

TEST(DefTypesAnimation, FrameCacheProtocol) {
  TCacheFixture f(3);
  f.Anim->InitializeCaching(nullptr);
  EXPECT_EQ(f.Anim->GetBuffers(), nullptr);
  EXPECT_EQ(f.Anim->GetBufferingState(), TAnimationBufferingState::None);
  f.Anim->PrepareAnimationData();
  ASSERT_EQ(f.Anim->GetFrameCount(), 3);
  f.Anim->InitializeCaching(f.Model.get());
  EXPECT_EQ(f.Anim->GetBufferingState(), TAnimationBufferingState::Started);
  EXPECT_TRUE(f.Anim->IsCached());
  ASSERT_EQ(f.Anim->GetBuffers()->Count(), 3);  // A, B, C; none for the model or below "Node"
  EXPECT_EQ(f.Anim->StartCaching(f.Hidden), nullptr);
  EXPECT_EQ(f.Anim->StartCaching(f.Model.get()), nullptr);
  TAnimationBuffer* a = f.Anim->StartCaching(f.A);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->GetFrames()->Count(), 3);
  EXPECT_TRUE(f.A->GetIsStatic());
  EXPECT_EQ(a->GetFrames()->Items(0)->GetStaticBuffer(), f.A->GetBufferObject());
  // A second buffer for one mesh raises; the one made for it goes (no leak), state unchanged.
  EXPECT_THROW(f.Anim->InitializeCaching(f.A), Exception);

  f.Anim->CacheFrame(a, nullptr, f.A->GetIndexSource(), {});
  EXPECT_EQ(a->GetBufferedFrames(), 0);
  EXPECT_EQ(f.Anim->GetBufferingState(), TAnimationBufferingState::Started);
  const TAnimationBufferingState after[] = {TAnimationBufferingState::Caching, TAnimationBufferingState::Caching,
                                            TAnimationBufferingState::Cached, TAnimationBufferingState::Cached};
  for (int i = 0; i < 4; ++i) {
    f.Anim->CacheFrame(a, f.A->GetVertexSource(), f.A->GetIndexSource(), {});
    EXPECT_EQ(f.Anim->GetBufferingState(), after[i]) << i;
  }
  EXPECT_EQ(a->GetBufferedFrames(), 3);
  f.Anim->StopCaching(a);
  f.Anim->StopCaching(nullptr);
  EXPECT_TRUE(a->GetIsBuffered());
  a->SetFrameCount(3);  // the same count keeps the frames
  EXPECT_EQ(a->GetBufferedFrames(), 3);
  EXPECT_TRUE(a->GetIsBuffered());

  EXPECT_EQ(f.Anim->GetNextCacheFrame(f.A, 1), nullptr);  // not Ready yet
  f.Anim->FinalizeCaching();
  EXPECT_EQ(f.Anim->StartCaching(f.A), nullptr);
  EXPECT_EQ(f.Anim->GetNextCacheFrame(f.A, 1), a->GetFrames()->Items(1));
  EXPECT_EQ(f.Anim->GetNextCacheFrame(f.A, 3), a->GetFrames()->Items(0));
  EXPECT_EQ(f.Anim->GetNextCacheFrame(f.A, -1), a->GetFrames()->Items(0));
  EXPECT_EQ(f.Anim->GetNextCacheFrame(f.B, 0), nullptr);  // B stored nothing
  EXPECT_EQ(f.Anim->GetNextCacheFrame(f.Hidden, 0), nullptr);

  // The same rate keeps the cache.
  f.Anim->SetFrameRate(3);
  EXPECT_EQ(f.Anim->GetNextCacheFrame(f.A, 1), a->GetFrames()->Items(1));
}

TEST(DefTypesAnimation, ANewFrameRateAfterABakeEmptiesTheCacheAndTheNextBakeFillsIt) {
  TCacheFixture f(3);
  TTestBaker baker(f.Model.get(), {TAnimationCachingFlag::AllAttributes});
  baker.Meshes = {f.A, f.B, f.C};
  f.Anim->Cache(&baker);
  ASSERT_EQ(f.Anim->GetBufferingState(), TAnimationBufferingState::Ready);
  ASSERT_NE(f.Anim->GetNextCacheFrame(f.A, 2), nullptr);

  f.Anim->SetFrameRate(2);
  EXPECT_EQ(f.Anim->GetBufferingState(), TAnimationBufferingState::None);
  EXPECT_FALSE(f.Anim->IsCached());
  EXPECT_EQ(f.Anim->GetNextCacheFrame(f.A, 1), nullptr);  // nothing to draw, nothing raised

  f.Anim->Cache(&baker);
  EXPECT_EQ(f.Anim->GetBufferingState(), TAnimationBufferingState::Ready);
  EXPECT_EQ(f.Anim->GetBuffers()->Count(), 3);
  for (TMeshDef* mesh : baker.Meshes) {
    TAnimationBuffer* buffer = nullptr;
    ASSERT_TRUE(f.Anim->GetBuffers()->TryGetValue(mesh, buffer));
    EXPECT_EQ(buffer->GetFrames()->Count(), 2);
    EXPECT_EQ(buffer->GetBufferedFrames(), 2);
    EXPECT_EQ(f.Anim->GetNextCacheFrame(mesh, 1), buffer->GetFrames()->Items(1));
  }
}

TEST(DefTypesAnimation, CacheStoresEachFlagPairAsItsTableSays) {
  struct TCase {
    TAnimationCachingFlags Flags;
    TMeshBufferComponent Component;
    bool Compressed;
    bool PositionsOnly;
  };
  const TCase cases[] = {
      {{TAnimationCachingFlag::Compressed, TAnimationCachingFlag::VertexPosition}, TMeshBufferComponent::Vertex, true, true},
      {{TAnimationCachingFlag::Compressed}, TMeshBufferComponent::All, true, false},
      {{TAnimationCachingFlag::VertexPosition}, TMeshBufferComponent::Vertex, false, true},
      {{TAnimationCachingFlag::AllAttributes}, TMeshBufferComponent::All, false, false},
  };
  for (const TCase& c : cases) {
    TCacheFixture f;
    TTestBaker baker(f.Model.get(), c.Flags);
    baker.Meshes = {f.A, f.B, f.C};
    f.Anim->Cache(&baker);
    EXPECT_EQ(f.Anim->GetCachingFlags(), c.Flags);
    EXPECT_TRUE(f.Anim->IsCacheable());
    ASSERT_EQ(f.Anim->GetBufferingState(), TAnimationBufferingState::Ready);
    for (TMeshDef* mesh : baker.Meshes) {
      const TVertexBuffer* source = mesh->GetVertexSource();
      // Uncompressed, the frame's vertex component takes the whole buffer as it is.
      const std::vector<uint8_t> expected =
          c.PositionsOnly && c.Compressed ? Positions(source) : std::vector<uint8_t>(source->Buffer(), source->Buffer() + source->Size());
      for (int frame = 0; frame < 2; ++frame) {
        TMeshBufferObject* stored = f.Anim->GetNextCacheFrame(mesh, frame);
        ASSERT_NE(stored, nullptr);
        EXPECT_EQ(stored->GetIsCompressed(c.Component), c.Compressed);
        if (c.Compressed) {
          TOwned<TMemoryStream> inflated(stored->Decompress(c.Component));
          EXPECT_EQ(Bytes(inflated.get()), expected);
          EXPECT_FALSE(stored->GetIsCompressed(c.Component == TMeshBufferComponent::All ? TMeshBufferComponent::Vertex
                                                                                         : TMeshBufferComponent::All));
        } else {
          EXPECT_EQ(test::MemoryComponent(stored, c.Component)->Data, expected);
        }
      }
    }
  }
  TCacheFixture f;
  TOwned<TTransformDef> notABaker(New<TTransformDef>(nullptr));
  EXPECT_THROW(f.Anim->Cache(notABaker.get()), EInvalidCast);
  EXPECT_TRUE(f.Anim->GetCachingFlags().IsEmpty());
}

}  // namespace
}  // namespace quorvel
