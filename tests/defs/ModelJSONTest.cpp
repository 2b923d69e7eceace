// The whole model's JSON form: key order, file name encoding, behaviours, materials with
// sub-materials, lights and cameras of the tree and of the lists, armatures (and the older
// "Humanoids"), controller targets, the late pass, and a kitchen-sink model that reads its own
// output.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/rtl/SysUtils.h"
#include "lib/defs/DefTypes.h"
#include "tests/defs/DefTypesTestUtil.h"
#include "tests/support/KitchenSinkModel.h"

namespace quorvel {
namespace {

using test::ParseObject;
using test::TakeText;

std::vector<std::string> KeysOf(const TJSONObject* AObject) {
  std::vector<std::string> keys;
  for (const TJSONPair* pair : *AObject) keys.push_back(pair->GetName());
  return keys;
}

// Reads AText into a new model.
TOwned<TModelDef> Read(const std::string& AText) {
  TOwned<TModelDef> model(New<TModelDef>());
  model->FromJSON(ParseObject(AText).get());
  return model;
}

std::string Write(const TModelDef* AModel) { return TakeText(AModel->ToJSON()); }

// Where two texts part: the text around the first difference in each.
std::string Difference(const std::string& A, const std::string& B) {
  size_t i = 0;
  while (i < A.size() && i < B.size() && A[i] == B[i]) ++i;
  const size_t from = i < 80 ? 0 : i - 80;
  return "\n  first:  ..." + A.substr(from, 200) + "\n  second: ..." + B.substr(from, 200);
}

TEST(ModelJSON, WritesItsPairsAfterTheMeshInOrder) {
  TOwned<TModelDef> model(New<TModelDef>());
  New<TLightDef>(model.get());
  New<TCameraDef>(model.get());
  model->AddArmature(New<TArmatureDef>(model.get()));
  New<TMaterialDef>(model.get(), "M");
  model->AddController(New<TControllerDef>(model.get()));
  model->AddEmptyAnimation("Walk");
  test::TJSONPtr obj(model->ToJSON());
  std::vector<std::string> keys = KeysOf(obj.get());
  ASSERT_GE(keys.size(), 9u);
  EXPECT_EQ(keys.front(), "Type");
  EXPECT_EQ(std::vector<std::string>(keys.end() - 9, keys.end()),
            (std::vector<std::string>{"Filename", "Behaviours", "Materials", "Lights", "Cameras", "Armatures",
                                      "Controllers", "Animations", "MetaData"}));
  EXPECT_EQ(obj->GetValue("Type")->Value(), "Quorvel.DefTypes.TModelDef");

  // A fresh model has no light, camera or armature list: no such keys.
  TOwned<TModelDef> fresh(New<TModelDef>());
  test::TJSONPtr plain(fresh->ToJSON());
  EXPECT_EQ(plain->GetValue("Lights"), nullptr);
  EXPECT_NE(plain->GetValue("Materials"), nullptr);
  TOwned<TModelDef> back = Read(plain->ToJSON());
  EXPECT_EQ(back->GetId(), fresh->GetId());
  // Metadata read from JSON keeps its "Type" and "Id" as tags: the second write is the one
  // that stays.
  const std::string second = Write(back.get());
  EXPECT_EQ(Write(Read(second).get()), second) << Difference(Write(Read(second).get()), second);
}

TEST(ModelJSON, FileNameIsUrlEncoded) {
  TOwned<TModelDef> model(New<TModelDef>());
  model->SetFilename(R"(C:\My Models\a+b.q3m)");
  test::TJSONPtr obj(model->ToJSON());
  EXPECT_EQ(obj->GetValue("Filename")->Value(), "C%3A%5CMy+Models%5Ca%2Bb.q3m");
  EXPECT_EQ(Read(obj->ToJSON())->GetFilename(), R"(C:\My Models\a+b.q3m)");
  TOwned<TModelDef> none = Read(R"({"Id":"x"})");
  EXPECT_EQ(none->GetFilename(), "");
  EXPECT_THROW(Read(R"({"Filename":"50%"})"), EEncodingError);
}

TEST(ModelJSON, OnlyMaterialBehavioursAreRead) {
  TOwned<TModelDef> model = Read(
      R"({"Behaviours":[{"Type":"Quorvel.DefTypes.TMaterialBehaviourDef","Id":"a","Type":"TMaterialBehaviourDef"},)"
      R"({"Id":"b"},{"Type":"TMaterialBehaviourDef","Id":"c"}]})");
  ASSERT_EQ(model->GetBehaviours()->Count(), 3);
  EXPECT_NE(model->FindBehaviourById("b"), nullptr);
  try {
    Read(R"({"Behaviours":[{"Type":"Quorvel.DefTypes.TBehaviourDef"}]})");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "reading model data failed - unsupported behaviour class \"TBehaviourDef\" found");
  }
}

TEST(ModelJSON, WrongKindsRaiseInvalidCastAndEndTheRead) {
  const char* cases[] = {
      R"({"Behaviours":{}})", R"({"Materials":"x"})", R"({"Materials":[1]})", R"({"Lights":{}})",
      R"({"Cameras":[true]})", R"({"Controllers":{}})", R"({"MetaData":[]})", R"({"Armatures":[2]})",
  };
  for (const char* text : cases) {
    TOwned<TModelDef> model(New<TModelDef>());
    EXPECT_THROW(model->FromJSON(ParseObject(text).get()), EInvalidCast) << text;
    EXPECT_EQ(model->GetLateResolveList(), nullptr) << text;
  }
  // Any other kind of "Armatures" falls back to "Humanoids"; one of those wins over the other.
  TOwned<TModelDef> older = Read(R"({"Armatures":{},"Humanoids":[{"Id":"H"}]})");
  ASSERT_NE(older->GetArmatures(), nullptr);
  EXPECT_NE(older->FindArmatureById("H"), nullptr);
  TOwned<TModelDef> both = Read(R"({"Armatures":[{"Id":"A"}],"Humanoids":[{"Id":"H"}]})");
  EXPECT_NE(both->FindArmatureById("A"), nullptr);
  EXPECT_EQ(both->FindArmatureById("H"), nullptr);
}

TEST(ModelJSON, ControllersNeedATargetNodeOfTheTree) {
  const std::string tree = R"("Children":[{"Type":"Quorvel.DefTypes.TMeshDef","Id":"Wheel"}])";
  struct Case {
    std::string Controllers;
    const char* Message;  // null: read without error
  };
  const Case cases[] = {
      {R"([{"Id":"c1","Target":"Wheel"}])", nullptr},
      {R"([{"Id":"c2","Target":"","Mesh":"#wheel"}])", nullptr},
      {R"([{"Id":"c3"}])", "failed to load controller c3 - mesh id not set"},
      {R"([{"Id":"c4","Mesh":"Axle"}])", "failed to load controller c4 - mesh Axle not found"},
  };
  for (const Case& c : cases) {
    TOwned<TModelDef> model(New<TModelDef>());
    const auto json = ParseObject("{" + tree + R"(,"Controllers":)" + c.Controllers + "}");
    if (!c.Message) {
      EXPECT_NO_THROW(model->FromJSON(json.get())) << c.Controllers;
      ASSERT_NE(model->GetControllers(), nullptr);
      EXPECT_EQ(model->GetControllers()->Items(0)->GetTarget(), model->FindChildById("Wheel", false));
      continue;
    }
    try {
      model->FromJSON(json.get());
      ADD_FAILURE() << c.Controllers;
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), c.Message);
    }
    EXPECT_EQ(model->GetLateResolveList(), nullptr);
  }
}

TEST(ModelJSON, SubMaterialsAreWrittenInsideTheirParentOnly) {
  TOwned<TModelDef> model(New<TModelDef>());
  auto* layered = New<TMaterialDef>(model.get(), "Layer");
  layered->SetKind(TMaterialDefKind::mkLayered);
  layered->AddLayeredMaterial(New<TMaterialDef>(model.get(), "Top"));
  layered->AddLayeredMaterial(New<TMaterialDef>(model.get(), "Bottom"));
  New<TMaterialDef>(model.get(), "Plain");
  test::TJSONPtr obj(model->ToJSON());
  const auto* materials = obj->GetValue("Materials")->As<TJSONArray>();
  ASSERT_EQ(materials->Count(), 2);  // Layer and Plain, in the order they came
  EXPECT_EQ(materials->Items(0)->As<TJSONObject>()->GetValue("Id")->Value(), "Layer");

  TOwned<TModelDef> back = Read(obj->ToJSON());
  EXPECT_EQ(back->GetMaterials().Count(), 4);
  EXPECT_EQ(back->FindMaterialById("Bottom")->GetLayeredParent(), back->FindMaterialById("Layer"));
  const std::string second = Write(back.get());
  EXPECT_EQ(second.substr(0, second.find("\"MetaData\"")),
            obj->ToJSON().substr(0, obj->ToJSON().find("\"MetaData\"")));
}

TEST(ModelJSON, TreeLightsAndCamerasAreNotMadeTwiceAndFindTheirOwners) {
  // The camera's owner comes after it in the tree; the listed light names an owner of the tree.
  const std::string text = R"({"Id":"Scene","Children":[)"
                           R"({"Type":"Quorvel.DefTypes.TCameraDef","Id":"Cam","Owner":"Rig"},)"
                           R"({"Type":"Quorvel.DefTypes.TTransformDef","Id":"Rig","Children":[)"
                           R"({"Type":"Quorvel.DefTypes.TLightDef","Id":"Lamp"}]}],)"
                           R"("Lights":[{"Id":"Lamp"},{"Id":"Sun","Owner":"Rig"}],)"
                           R"("Cameras":[{"Id":"Cam","Owner":"Rig"}]})";
  TOwned<TModelDef> model = Read(text);
  ASSERT_NE(model->GetLights(), nullptr);
  EXPECT_EQ(model->GetLights()->Count(), 2);
  EXPECT_EQ(model->GetCameras()->Count(), 1);
  TCameraDef* cam = model->FindCameraById("Cam");
  EXPECT_EQ(cam->GetOwnerRef(), model->FindChildById("Rig", false));
  EXPECT_EQ(model->FindLightById("Sun")->GetOwnerRef(), model.get());

  // Three round trips keep the number of lights and cameras; from the second write on the text
  // stays the same.
  std::string written = Write(Read(Write(model.get())).get());
  for (int trip = 0; trip < 3; ++trip) {
    TOwned<TModelDef> again = Read(written);
    EXPECT_EQ(again->GetLights()->Count(), 2) << trip;
    EXPECT_EQ(again->GetCameras()->Count(), 1) << trip;
    const std::string next = Write(again.get());
    EXPECT_EQ(next, written) << trip << Difference(next, written);
    written = next;
  }
}

TEST(ModelJSON, LightsAndCamerasBelowAListedOneAreFreedWithItsParentOnly) {
  // A listed light or camera may carry children; the lights and cameras among them join the
  // model's lists too, yet their parent frees them.
  struct TCase {
    const char* Text;
    int32_t Lights, Cameras;
  };
  const TCase cases[] = {
      {R"({"Lights":[{"Id":"Rig","Children":[{"Type":"Quorvel.DefTypes.TLightDef","Id":"Lamp"},)"
       R"({"Type":"Quorvel.DefTypes.TCameraDef","Id":"Cam"}]}]})",
       2, 1},
      {R"({"Cameras":[{"Id":"Eye","Children":[{"Type":"Quorvel.DefTypes.TLightDef","Id":"Lamp"}]}]})", 1, 1},
      {R"({"Lights":[{"Id":"Rig","Children":[{"Type":"Quorvel.DefTypes.TTransformDef","Id":"Arm",)"
       R"("Children":[{"Type":"Quorvel.DefTypes.TLightDef","Id":"Lamp"}]}]}],"Cameras":[{"Id":"Eye"}]})",
       2, 1},
  };
  for (const TCase& c : cases) {
    TOwned<TModelDef> model = Read(c.Text);
    ASSERT_NE(model->GetLights(), nullptr) << c.Text;
    ASSERT_NE(model->GetCameras(), nullptr) << c.Text;
    EXPECT_EQ(model->GetLights()->Count(), c.Lights) << c.Text;
    EXPECT_EQ(model->GetCameras()->Count(), c.Cameras) << c.Text;
    EXPECT_NE(model->FindLightById("Lamp"), nullptr) << c.Text;
    model.reset();  // under ASan, a nested node freed twice or touched after its parent shows here
  }
}

// How often an object with id AId is written in AText.
int32_t Occurrences(const std::string& AText, const std::string& AId) {
  const std::string key = "\"Id\":\"" + AId + "\"";
  int32_t n = 0;
  for (size_t at = AText.find(key); at != std::string::npos; at = AText.find(key, at + 1)) ++n;
  return n;
}

TEST(ModelJSON, LightsBelowAListedLightOrCameraAreWrittenOnceAndStayOne) {
  // Built in code (as an importer would) and read from text: a light below a listed light, a
  // light and a camera below a listed camera, a camera below a listed light.
  TOwned<TModelDef> built(New<TModelDef>());
  auto* rig = New<TLightDef>(built.get());
  rig->SetId("Rig");
  auto* lamp = New<TLightDef>(rig);
  lamp->SetId("Lamp");
  rig->AddChild(lamp);
  auto* eye = New<TCameraDef>(built.get());
  eye->SetId("Eye");
  auto* torch = New<TLightDef>(eye);
  torch->SetId("Torch");
  eye->AddChild(torch);
  auto* spy = New<TCameraDef>(rig);
  spy->SetId("Spy");
  rig->AddChild(spy);
  ASSERT_EQ(built->GetLights()->Count(), 3);
  ASSERT_EQ(built->GetCameras()->Count(), 2);
  const std::string sources[] = {
      Write(built.get()),
      R"({"Lights":[{"Id":"Rig","Children":[{"Type":"Quorvel.DefTypes.TLightDef","Id":"Lamp"},)"
      R"({"Type":"Quorvel.DefTypes.TCameraDef","Id":"Spy"}]}],)"
      R"("Cameras":[{"Id":"Eye","Children":[{"Type":"Quorvel.DefTypes.TLightDef","Id":"Torch"}]}]})",
  };
  for (const std::string& source : sources) {
    // From the second write on, the text stays the same (the metadata settles in the first).
    std::string written = Write(Read(Write(Read(source).get())).get());
    for (const char* id : {"Rig", "Lamp", "Eye", "Torch", "Spy"})
      EXPECT_EQ(Occurrences(written, id), 1) << id;
    for (int trip = 0; trip < 2; ++trip) {
      TOwned<TModelDef> again = Read(written);
      EXPECT_EQ(again->GetLights()->Count(), 3) << trip;
      EXPECT_EQ(again->GetCameras()->Count(), 2) << trip;
      EXPECT_EQ(again->FindLightById("Lamp")->GetOwnerRef(), again->FindLightById("Rig")) << trip;
      EXPECT_EQ(again->FindLightById("Torch")->GetOwnerRef(), again->FindCameraById("Eye")) << trip;
      const std::string next = Write(again.get());
      EXPECT_TRUE(next == written) << trip << Difference(next, written);
      written = next;
    }
  }
}

TEST(ModelJSON, AStageWithoutReferenceReadsBackWithoutOne) {
  TOwned<TModelDef> model(New<TModelDef>());
  model->SetId("M");
  TAnimationDef* anim = model->AddEmptyAnimation("walk");
  auto* stage = New<TAnimationStageDef>(anim);
  stage->SetId("s");
  anim->AddStage(stage);
  const std::string text = Write(model.get());
  ASSERT_NE(text.find(R"("Reference":null)"), std::string::npos);
  TOwned<TModelDef> back = Read(text);
  TAnimationDef* read = back->FindAnimationById("walk");
  ASSERT_NE(read, nullptr);
  ASSERT_EQ(read->GetStages()->Count(), 1);
  EXPECT_EQ(read->GetStages()->Items(0)->GetReference(), nullptr);
  EXPECT_NE(Write(back.get()).find(R"("Id":"s","Animation":"walk","Reference":null,"Interpolators":[]})"),
            std::string::npos);
}

TEST(ModelJSON, KitchenSinkReadsItsOwnOutput) {
  TOwned<TModelDef> first = Read(testkit::KitchenSinkModel());
  EXPECT_EQ(first->GetFilename(), R"(C:\sink.q3m)");
  EXPECT_EQ(first->GetMaterials().Count(), 14);
  EXPECT_EQ(first->FindMaterialById("Sub2")->GetLayeredParent(), first->FindMaterialById("Layer"));
  TMaterialDef* wood = first->FindMaterialById("Wood");
  ASSERT_NE(wood->GetMaterialBehaviourRef("Spin"), nullptr);
  EXPECT_EQ(wood->GetMaterialBehaviourRef("Spin")->GetReference(), first->FindBehaviourById("Spin"));
  TTextureDef* diffuse = wood->GetTexture(TColorChannelDef::Diffuse);
  ASSERT_NE(diffuse->GetAssetRef(), nullptr);
  EXPECT_TRUE(diffuse->GetIsAssetOwner());
  EXPECT_EQ(wood->GetTexture(TColorChannelDef::Normal)->GetAssetRef(), nullptr);
  // The same image for a second texture: the registered stand-alone asset, borrowed.
  EXPECT_EQ(wood->GetTexture(TColorChannelDef::Specular)->GetAssetRef(), diffuse->GetAssetRef());
  EXPECT_FALSE(wood->GetTexture(TColorChannelDef::Specular)->GetIsAssetOwner());
  EXPECT_EQ(first->GetTextureAssets().size(), 1u);
  EXPECT_EQ(first->GetLights()->Count(), 2);
  EXPECT_EQ(first->GetCameras()->Count(), 2);

  std::string written = Write(Read(Write(first.get())).get());
  for (int trip = 0; trip < 3; ++trip) {
    TOwned<TModelDef> again = Read(written);
    const std::string next = Write(again.get());
    EXPECT_EQ(next, written) << "trip " << trip << Difference(next, written);
    EXPECT_EQ(again->GetLights()->Count(), 2);
    EXPECT_EQ(again->GetCameras()->Count(), 2);
    EXPECT_EQ(again->GetMaterials().Count(), 14);
    written = next;
  }
}

// Every pair at every depth of the kitchen sink's own output. Pairs are visited depth first.
void CollectPairs(TJSONValue* AValue, std::vector<TJSONPair*>& APairs) {
  if (auto* obj = dynamic_cast<TJSONObject*>(AValue)) {
    for (TJSONPair* pair : *obj) {
      APairs.push_back(pair);
      CollectPairs(pair->GetJsonValue(), APairs);
    }
  } else if (auto* arr = dynamic_cast<TJSONArray*>(AValue)) {
    for (int i = 0; i < arr->Count(); ++i) CollectPairs(arr->Items(i), APairs);
  }
}

// Each pair's value replaced by values of other kinds, and the document cut short: a whole
// model read either works or raises the run-time's exception, and frees what it made (the
// sanitizers watch).
TEST(ModelJSON, MutatedModelsRaiseOrReadNeverCrash) {
  const std::string golden = Write(Read(testkit::KitchenSinkModel()).get());
  const char* replacements[] = {"-1", "\"x,y\"", "[{}]", "{}",
                                R"({"Type":"Quorvel.AssetsManager.TQuorvelTextureAsset"})"};
  std::vector<TJSONPair*> pairs;
  const auto probe = ParseObject(golden);
  CollectPairs(probe.get(), pairs);
  const size_t count = pairs.size();
  ASSERT_GT(count, 300u);
  int raised = 0;
  // About 80 pairs, spread over the whole document (a whole read costs milliseconds here).
  const size_t step = count / 80 + 1;
  for (size_t k = 0; k < count; k += step) {
    for (const char* replacement : replacements) {
      const auto doc = ParseObject(golden);
      std::vector<TJSONPair*> mine;
      CollectPairs(doc.get(), mine);
      mine[k]->SetJsonValue(test::ParseValue(replacement).release());
      TOwned<TModelDef> model(New<TModelDef>());
      try {
        model->FromJSON(doc.get());
        TakeText(model->ToJSON());
      } catch (const Exception&) {
        ++raised;
      } catch (const std::exception& e) {
        ADD_FAILURE() << "pair " << k << " = " << replacement << ": " << e.what();
      }
      EXPECT_EQ(model->GetLateResolveList(), nullptr);
    }
  }
  EXPECT_GT(raised, 0);

  for (size_t cut = 1; cut < golden.size(); cut += 211) {
    TJSONValue* parsed = TJSONObject::ParseJSONValue(golden.substr(0, cut) + "}");
    auto* obj = dynamic_cast<TJSONObject*>(parsed);
    test::TJSONValuePtr owned(parsed);
    if (!obj) continue;
    TOwned<TModelDef> model(New<TModelDef>());
    try {
      model->FromJSON(obj);
    } catch (const Exception&) {
    }
  }
}

}  // namespace
}  // namespace quorvel
