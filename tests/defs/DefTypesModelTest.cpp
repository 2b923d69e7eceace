#include <gtest/gtest.h>

#include <string>

#include "lib/defs/DefTypes.h"
#include "tests/defs/DefTypesTestUtil.h"

namespace quorvel {
namespace {

using test::ParseObject;
using test::TakeText;

TTransformDef* AddModelNode(TTransformDef* AParent, const std::string& AId) {
  auto* node = New<TTransformDef>(AParent);
  node->SetId(AId);
  AParent->AddChild(node);
  return node;
}

template <class T>
T* NamedWithoutOwner(const std::string& AId) {
  auto* def = New<T>(nullptr);
  def->SetId(AId);
  return def;
}

TEST(DefTypesModel, NewModelsGetDistinctModelIds) {
  TOwned<TModelDef> a(New<TModelDef>(nullptr, nullptr));
  TOwned<TModelDef> b(New<TModelDef>(nullptr, nullptr));
  EXPECT_EQ(a->GetId().rfind("Model_", 0), 0u);
  EXPECT_NE(a->GetId(), b->GetId());
  ASSERT_NE(a->GetMetaData(), nullptr);
  ASSERT_NE(a->GetBehaviours(), nullptr);
  EXPECT_EQ(a->GetLights(), nullptr);  // made on first use
  EXPECT_EQ(a->GetCameras(), nullptr);
  EXPECT_EQ(a->GetArmatures(), nullptr);
}

TEST(DefTypesModel, FindDefByIdSearchesInItsOrder) {
  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  model->SetId("M");
  TTransformDef* wheel = AddModelNode(model.get(), "Wheel");
  TTransformDef* shared = AddModelNode(wheel, "Shared");
  auto* lightWheel = NamedWithoutOwner<TLightDef>("Wheel");
  auto* light = NamedWithoutOwner<TLightDef>("Lamp");
  auto* sharedLight = NamedWithoutOwner<TLightDef>("Shared");
  model->AddLight(lightWheel);
  model->AddLight(light);
  model->AddLight(sharedLight);
  auto* camera = NamedWithoutOwner<TCameraDef>("Cam");
  model->AddCamera(camera);
  auto* armature = NamedWithoutOwner<TArmatureDef>("Rig");
  model->AddArmature(armature);

  EXPECT_EQ(model->FindDefById("M"), model.get());
  EXPECT_EQ(model->FindDefById("Shared"), shared);  // the tree before the lights
  EXPECT_EQ(model->FindDefById("#Wheel"), wheel);   // only the tree knows the "#" form
  EXPECT_EQ(model->FindDefById("lamp"), nullptr);   // registries compare exactly
  EXPECT_EQ(model->FindDefById("Lamp"), light);
  EXPECT_EQ(model->FindDefById("Cam"), camera);
  EXPECT_EQ(model->FindDefById("Rig"), armature);
  EXPECT_EQ(model->FindDefById("none"), nullptr);
}

TEST(DefTypesModel, RegistryListsAnswerNilOutsideTheirRange) {
  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  EXPECT_EQ(model->GetLight(0), nullptr);
  EXPECT_EQ(model->GetCamera(0), nullptr);
  auto* light = NamedWithoutOwner<TLightDef>("L");
  model->AddLight(light);
  model->AddLight(light);  // one list entry: an owning list must not hold it twice
  EXPECT_EQ(model->GetLights()->Count(), 1);
  EXPECT_EQ(model->GetLight(-1), nullptr);
  EXPECT_EQ(model->GetLight(0), light);
  EXPECT_EQ(model->GetLight(1), nullptr);
  auto* armature = NamedWithoutOwner<TArmatureDef>("A");
  model->AddArmature(armature);
  model->AddArmature(armature);
  EXPECT_EQ(model->GetArmatures()->Count(), 1);
  EXPECT_EQ(model->FindArmatureById(""), nullptr);
}

TEST(DefTypesModel, BehavioursAreFoundByExactId) {
  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  TMaterialBehaviourDef* a = model->AddNewMaterialBehaviour();
  TMaterialBehaviourDef* b = model->AddNewMaterialBehaviour();
  b->SetId("b");
  EXPECT_EQ(model->FindBehaviourById(a->GetId()), a);
  EXPECT_EQ(model->IndexOfBehaviourById("b"), 1);
  EXPECT_EQ(model->FindBehaviourById("B"), nullptr);
  model->RemoveBehaviourById("b");
  EXPECT_EQ(model->GetBehaviours()->Count(), 1);
  model->RemoveBehaviourById("b");  // none left: nothing happens
  model->ClearBehaviours();
  EXPECT_EQ(model->GetBehaviours()->Count(), 0);
}

TEST(DefTypesModel, MaterialsRegisterThemselvesByExactId) {
  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  auto* wood = New<TMaterialDef>(model.get(), "Wood");
  EXPECT_EQ(wood->GetModel(), model.get());
  EXPECT_EQ(model->FindMaterialById("Wood"), wood);
  EXPECT_EQ(model->GetMaterial("wood"), nullptr);
  EXPECT_THROW(New<TMaterialDef>(model.get(), "Wood"), EDuplicateKey);
  EXPECT_EQ(model->GetMaterials().Count(), 1);
  // The size estimate counts the material and its key.
  TOwned<TModelDef> empty(New<TModelDef>(nullptr, nullptr));
  const int64_t idDifference = static_cast<int64_t>(model->GetId().size()) - static_cast<int64_t>(empty->GetId().size());
  EXPECT_EQ(model->GetSize() - empty->GetSize(), wood->GetSize() + 2 * 4 + 2 * idDifference);

  // Without a model or an id nothing is registered.
  TOwned<TMaterialDef> loose(New<TMaterialDef>(nullptr, "Wood"));
  TOwned<TMaterialDef> anonymous(New<TMaterialDef>(model.get(), ""));
  EXPECT_EQ(model->GetMaterials().Count(), 1);
}

TEST(DefTypesModel, MaterialsAreHeldOnceWhateverHappensToThem) {
  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  // Read under another id than the one given at construction: the entry moves.
  auto* metal = New<TMaterialDef>(model.get(), "Metal");
  metal->FromJSON(model.get(), ParseObject(R"({"Id":"Steel"})").get());
  EXPECT_EQ(model->FindMaterialById("Metal"), nullptr);
  EXPECT_EQ(model->FindMaterialById("Steel"), metal);
  // Read again under the same id: no duplicate-key error.
  metal->FromJSON(model.get(), ParseObject(R"({"Id":"Steel"})").get());
  EXPECT_EQ(model->GetMaterials().Count(), 1);

  // Freed by someone else: it leaves the dictionary that would free it again.
  auto* glass = New<TMaterialDef>(model.get(), "Glass");
  Free(glass);
  EXPECT_EQ(model->FindMaterialById("Glass"), nullptr);

  // Taken out: the caller owns it.
  TOwned<TMaterialDef> taken(model->ExtractMaterial("Steel"));
  EXPECT_EQ(taken.get(), metal);
  EXPECT_EQ(model->GetMaterials().Count(), 0);
  EXPECT_EQ(model->ExtractMaterial("Steel"), nullptr);
}

TEST(DefTypesModel, MaterialReferenceResolvesInTheLatePass) {
  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  const auto json = ParseObject(R"({"Type":"Quorvel.DefTypes.TMaterialRefDef","Id":"Brick"})");
  TOwned<TMaterialRefDef> early(New<TMaterialRefDef>());
  TOwned<TMaterialRefDef> orphan(New<TMaterialRefDef>());
  early->FromJSON(model.get(), json.get());
  orphan->SetId("Nowhere");
  EXPECT_EQ(early->GetReference(), nullptr);
  EXPECT_EQ(TakeText(early->ToJSON()), R"({"Type":"Quorvel.DefTypes.TMaterialRefDef","Id":"Brick"})");

  {
    TLateResolveScope scope(model.get());
    model->AddLateResolve(early.get(), json.get());
    model->AddLateResolve(orphan.get(), json.get());
    auto* brick = New<TMaterialDef>(model.get(), "Brick");  // read after the reference
    model->LateResolve();
    EXPECT_EQ(early->GetReference(), brick);
    EXPECT_EQ(orphan->GetReference(), nullptr);  // unresolvable is no error
    EXPECT_EQ(model->GetLateResolveList()->Count(), 0);  // both answered True
  }
  EXPECT_EQ(model->GetLateResolveList(), nullptr);
  EXPECT_EQ(TakeText(early->ToJSON()),
            R"({"Type":"Quorvel.DefTypes.TMaterialRefDef","Id":"Brick","Reference":"Brick"})");
  EXPECT_EQ(early->GetSize(), early->InstanceSize() + 10);
}

// A definition that stays unresolved: its entry remains after the pass.
class TStubbornDef : public TCustomDef {
public:
  int Calls = 0;
  bool LateResolveFromJSON(TModelDef*, const TJSONObject*) override {
    ++Calls;
    return false;
  }
};

TEST(DefTypesModel, LatePassAsksEachEntryOnceAndKeepsTheUnresolved) {
  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  TStubbornDef stubborn;
  TOwned<TMaterialRefDef> ref(New<TMaterialRefDef>());
  model->AddLateResolve(ref.get(), nullptr);  // outside a read: ignored
  EXPECT_EQ(model->GetLateResolveList(), nullptr);
  try {
    TLateResolveScope scope(model.get());
    model->AddLateResolve(&stubborn, nullptr);
    model->AddLateResolve(ref.get(), nullptr);
    model->AddLateResolve(ref.get(), nullptr);  // entered again: still one entry
    EXPECT_EQ(model->GetLateResolveList()->Count(), 2);
    model->LateResolve();
    EXPECT_EQ(stubborn.Calls, 1);
    EXPECT_EQ(model->GetLateResolveList()->Count(), 1);
    EXPECT_TRUE(model->GetLateResolveList()->ContainsKey(&stubborn));
    throw Exception("reading failed");
  } catch (const Exception&) {
  }
  EXPECT_EQ(model->GetLateResolveList(), nullptr);  // freed on the way out of a failed read
}

TEST(DefTypesModel, BehaviourReferencesResolveByTheirId) {
  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  TMaterialBehaviourDef* spin = model->AddNewMaterialBehaviour();
  spin->SetId("spin");
  TOwned<TBehaviourRefDef> ref(New<TBehaviourRefDef>());
  ref->FromJSON(model.get(), ParseObject(R"({"Id":"spin","Name":"Spinner"})").get());
  EXPECT_EQ(ref->GetReference(), spin);
  EXPECT_EQ(ref->GetDisplayName(), "Spinner");
  EXPECT_EQ(TakeText(ref->ToJSON()),
            R"({"Type":"Quorvel.DefTypes.TBehaviourRefDef","Id":"spin","Name":"Spinner","Reference":"spin"})");
  TOwned<TBehaviourRefDef> later(New<TBehaviourRefDef>());
  later->FromJSON(nullptr, ParseObject(R"({"Id":"spin"})").get());
  EXPECT_EQ(later->GetReference(), nullptr);
  EXPECT_EQ(TakeText(later->ToJSON()), R"({"Type":"Quorvel.DefTypes.TBehaviourRefDef","Id":"spin","Name":""})");
  EXPECT_TRUE(later->LateResolveFromJSON(model.get(), nullptr));
  EXPECT_EQ(later->GetReference(), spin);
}

TEST(DefTypesMaterial, NewMaterialGoldenJSON) {
  TOwned<TMaterialDef> material(New<TMaterialDef>(nullptr, ""));
  material->SetOpacity(0.1f);
  EXPECT_EQ(TakeText(material->ToJSON()),
            R"({"Type":"Quorvel.DefTypes.TMaterialDef","Id":"","Type":"","Model":"","Kind":0,)"
            R"("UseOpacity":false,"Opacity":0.100000001490116,"DoubleSided":false,)"
            R"("Diffuse":"0.7500 0.7500 0.7500 1.0000","Ambient":"0.3500 0.3500 0.3500 1.0000",)"
            R"("Emissive":"0.0000 0.0000 0.0000 1.0000","Specular":"0.1500 0.1500 0.1500 1.0000",)"
            R"("SpecPow":0.5,"Brightness":1,"ReflectionColor":"1.0000 1.0000 1.0000 1.0000","ReflectionPower":0,)"
            R"("UseReflection":false,"RefractionColor":"1.0000 1.0000 1.0000 1.0000","RefractionPower":0,)"
            R"("UseRefraction":false,"Metallic":1,"Roughness":1,"AO":1,"UseClipping":false,)"
            R"("Clipping":"0.0000 0.0000 0.0000 0.0000","UseAlphaCutoff":false,"AlphaCutoff":0,)"
            R"("ParallaxOcclusionMapping":false,"ParallaxLevels":0,"NormalIntensity":0,"Tonemapping":0,)"
            R"("TonemappingExposure":0})");
}

TEST(DefTypesMaterial, TypeNameComesFromTheLastTypePair) {
  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  auto* material = New<TMaterialDef>(model.get(), "Wood");
  material->SetTypeName("Quorvel.Material.Default.TQuorvelDefaultMaterialSource");
  const std::string text = TakeText(material->ToJSON());
  EXPECT_NE(text.find(R"("Id":"Wood","Type":"Quorvel.Material.Default.TQuorvelDefaultMaterialSource","Model":")" +
                      model->GetId() + "\""),
            std::string::npos);

  TOwned<TModelDef> other(New<TModelDef>(nullptr, nullptr));
  auto* back = New<TMaterialDef>(other.get(), "");
  back->FromJSON(other.get(), ParseObject(text).get());
  EXPECT_EQ(back->GetTypeName(), "Quorvel.Material.Default.TQuorvelDefaultMaterialSource");
  EXPECT_EQ(other->FindMaterialById("Wood"), back);  // registered under the id it read
  back->FromJSON(other.get(), ParseObject(R"({"Type":"Quorvel.DefTypes.TMaterialDef","Id":"Wood"})").get());
  EXPECT_EQ(back->GetTypeName(), "Quorvel.DefTypes.TMaterialDef");
}

TEST(DefTypesMaterial, CustomKindsAloneWriteAndReadTheShadingSwitches) {
  TOwned<TMaterialDef> custom(New<TMaterialDef>(nullptr, "c"));
  custom->SetKind(TMaterialDefKind::mkCustom);
  custom->SetShadingModel(TQuorvelShadingModel::smPBR);
  custom->SetUseTexturing(false);
  custom->SetUseSpecular(true);
  const std::string text = TakeText(custom->ToJSON());
  EXPECT_NE(text.find(R"("Kind":9,"ShadingModel":3,"UseTexturing":false,"UseTexture0":true,"UseLighting":true,)"
                      R"("UseVertexColor":false,"UseSpecular":true,"UseOpacity")"),
            std::string::npos);
  TOwned<TMaterialDef> back(New<TMaterialDef>(nullptr, ""));
  back->FromJSON(nullptr, ParseObject(text).get());
  EXPECT_EQ(back->GetShadingModel(), TQuorvelShadingModel::smPBR);
  EXPECT_FALSE(back->GetUseTexturing());
  EXPECT_TRUE(back->GetUseSpecular());
  EXPECT_EQ(TakeText(back->ToJSON()), text);

  // Other kinds neither write nor read them: the constructor's values stay.
  TOwned<TMaterialDef> phong(New<TMaterialDef>(nullptr, ""));
  phong->FromJSON(nullptr, ParseObject(R"({"Kind":3,"ShadingModel":2,"UseTexturing":false,"UseSpecular":true})").get());
  EXPECT_EQ(phong->GetKind(), TMaterialDefKind::mkPhong);
  EXPECT_EQ(phong->GetShadingModel(), TQuorvelShadingModel::smLambert);
  EXPECT_TRUE(phong->GetUseTexturing());
  EXPECT_FALSE(phong->GetUseSpecular());
  EXPECT_EQ(TakeText(phong->ToJSON()).find("ShadingModel"), std::string::npos);
}

TEST(DefTypesMaterial, ReadDefaultsAndDerivedClipping) {
  TOwned<TMaterialDef> m(New<TMaterialDef>(nullptr, ""));
  m->SetKind(TMaterialDefKind::mkPBR);
  m->SetOpacity(0.5f);
  m->SetSpecPow(7);
  m->FromJSON(nullptr, ParseObject(R"({"Clipping":"0 0 0 0.5"})").get());
  EXPECT_EQ(m->GetKind(), TMaterialDefKind::mkDefault);
  EXPECT_EQ(m->GetOpacity(), 1.0f);
  EXPECT_EQ(m->GetParallaxLevels(), 16);  // the constructor gives 0
  EXPECT_EQ(m->GetSpecPow(), 7.0f);       // kept when absent
  EXPECT_TRUE(m->GetUseClipping());       // derived from the clipping alpha
  m->FromJSON(nullptr, ParseObject(R"({"Clipping":"1 1 1 0"})").get());
  EXPECT_FALSE(m->GetUseClipping());
  m->FromJSON(nullptr, ParseObject(R"({"Clipping":"0 0 0 0.5","UseClipping":false})").get());
  EXPECT_FALSE(m->GetUseClipping());
  // Numbers in exponent form and out-of-range kinds do not break the read.
  m->FromJSON(nullptr, ParseObject(R"({"Kind":263,"Metallic":2.5e-1,"ParallaxLevels":1e1})").get());
  EXPECT_EQ(static_cast<int>(m->GetKind()), 7);  // the low byte
  EXPECT_EQ(m->GetMetallic(), 0.25f);
  EXPECT_EQ(m->GetParallaxLevels(), 10);
  // A float beyond the single range is refused (as infinity it could not be written again).
  for (const char* name : {"Opacity", "SpecPow", "Metallic"}) {
    try {
      m->FromJSON(nullptr, ParseObject("{\"" + std::string(name) + "\":-1e39}").get());
      ADD_FAILURE() << name;
    } catch (const EConvertError& e) {
      EXPECT_EQ(std::string(e.what()), "invalid \"" + std::string(name) + "\" value - out of the single range");
    }
  }
}

TEST(DefTypesMaterial, BehaviourReferencesAndExtensionsOfAMaterial) {
  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  TMaterialBehaviourDef* spin = model->AddNewMaterialBehaviour();
  auto* material = New<TMaterialDef>(model.get(), "M");
  EXPECT_EQ(material->AddMaterialBehaviourRef("", spin), nullptr);
  EXPECT_EQ(material->AddMaterialBehaviourRef("Spin", nullptr), nullptr);
  EXPECT_EQ(material->GetBehaviourRefs(), nullptr);
  TBehaviourRefDef* r1 = material->AddMaterialBehaviourRef("Spin", spin);
  TBehaviourRefDef* r2 = material->AddMaterialBehaviourRef("Spin", spin);
  EXPECT_EQ(r1->GetId(), spin->GetId());
  EXPECT_EQ(material->GetMaterialBehaviourRefByDisplayName("Spin"), r2);
  EXPECT_EQ(material->GetMaterialBehaviourRef(spin), r2);
  EXPECT_EQ(material->GetMaterialBehaviourRef(spin->GetId()), r2);
  TExtensionDef* e1 = material->AddExtension("ext");
  TExtensionDef* e2 = material->AddExtension("ext");
  EXPECT_NE(e1, e2);
  EXPECT_EQ(material->GetExtension("ext"), e2);

  const std::string text = TakeText(material->ToJSON());
  TOwned<TModelDef> other(New<TModelDef>(nullptr, nullptr));
  TMaterialBehaviourDef* otherSpin = other->AddNewMaterialBehaviour();
  otherSpin->SetId(spin->GetId());
  auto* back = New<TMaterialDef>(other.get(), "");
  back->FromJSON(other.get(), ParseObject(text).get());
  ASSERT_NE(back->GetBehaviourRefs(), nullptr);
  EXPECT_EQ(back->GetBehaviourRefs()->Count(), 2);
  EXPECT_EQ(back->GetMaterialBehaviourRefByDisplayName("Spin")->GetReference(), otherSpin);
  EXPECT_EQ(back->GetExtensions()->Count(), 2);
  EXPECT_EQ(TakeText(back->ToJSON()), text.substr(0, text.find(R"("Model":")")) + R"("Model":")" + other->GetId() +
                                          text.substr(text.find("\"", text.find(R"("Model":")") + 9)));

  material->RemoveMaterialBehaviourRef(spin);
  EXPECT_EQ(material->GetBehaviourRefs()->Count(), 0);
  material->RemoveExtension("ext");
  EXPECT_EQ(material->GetExtensions()->Count(), 0);
  EXPECT_GT(material->GetSize(), material->InstanceSize());

  // A list pair of another kind, or an element that is not an object, is an invalid cast.
  EXPECT_THROW(back->FromJSON(other.get(), ParseObject(R"({"Id":"B","BehaviourRefs":{}})").get()), EInvalidCast);
  EXPECT_THROW(back->FromJSON(other.get(), ParseObject(R"({"Id":"B","Extensions":[1]})").get()), EInvalidCast);
}

}  // namespace
}  // namespace quorvel
