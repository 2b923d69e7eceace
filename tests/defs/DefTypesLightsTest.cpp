#include <gtest/gtest.h>

#include <limits>
#include <regex>
#include <string>
#include <type_traits>

#include "lib/defs/DefTypes.h"
#include "tests/defs/DefTypesTestUtil.h"

namespace quorvel {
namespace {

using test::ParseObject;
using test::TakeText;

constexpr const char* IdentityText =
    "1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000 0.0000000 0.0000000 "
    "0.0000000 0.0000000 1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000";

TEST(DefTypesLights, NewLightAndCameraGoldenJSON) {
  TOwned<TLightDef> light(New<TLightDef>(nullptr));
  light->SetId("Key");
  // Without owner: the node's "Owner": null, then the light's own "Owner": "".
  EXPECT_EQ(TakeText(light->ToJSON()),
            std::string(R"({"Type":"Quorvel.DefTypes.TLightDef","Id":"Key","Owner":null,"Properties":[],"Transform":")") +
                IdentityText +
                R"(","Owner":"","LightType":"Point","Direction":"0.0000000 1.0000000 0.0000000",)"
                R"("Diffuse":"1.0000 1.0000 1.0000 1.0000","Ambient":"0.0000 0.0000 0.0000 1.0000",)"
                R"("Specular":"1.0000 1.0000 1.0000 1.0000","Intensity":100,"ConstantAttenuation":1,)"
                R"("LinearAttenuation":0,"QuadraticAttenuation":0,"ScatteringIntensity":0.100000001490116,)"
                R"("ScatteringExposure":0.00340000004507601,"ScatteringDecay":1,"ScatteringDensity":0.839999973773956,)"
                R"("SpotCutOff":180,"SpotExponent":0})");
  TOwned<TCameraDef> camera(New<TCameraDef>(nullptr));
  // The aspect ratio is the single nearest 1.777778, not 16/9 (1.77777779102325).
  EXPECT_EQ(TakeText(camera->ToJSON()),
            std::string(R"({"Type":"Quorvel.DefTypes.TCameraDef","Id":"","Owner":null,"Properties":[],"Transform":")") +
                IdentityText +
                R"(","Owner":"","Type":"Perspective","Target":"","FOV":45,"AspectRatio":1.77777802944183,)"
                R"("NearPlane":1,"FarPlane":1000})");
}

TEST(DefTypesLights, LightReadsItsTypeExactlyAndKeepsWhatIsAbsent) {
  struct TCase {
    const char* Json;
    TLightType Expected;
  };
  const TCase cases[] = {
      {R"({"LightType":"Spot"})", TLightType::Spot},
      {R"({"LightType":"spot"})", TLightType::Point},  // case-sensitive
      {R"({"LightType":"Directional"})", TLightType::Directional},
      {R"({"LightType":7})", TLightType::Point},
      {R"({})", TLightType::Point},
  };
  for (const TCase& c : cases) {
    TOwned<TLightDef> light(New<TLightDef>(nullptr));
    light->SetLightType(TLightType::Directional);
    light->SetIntensity(5);
    light->FromJSON(nullptr, ParseObject(c.Json).get());
    EXPECT_EQ(light->GetLightType(), c.Expected) << c.Json;
    EXPECT_EQ(light->GetIntensity(), 5.0f) << c.Json;  // absent: kept
  }

  TOwned<TLightDef> source(New<TLightDef>(nullptr));
  source->SetLightType(TLightType::Spot);
  source->SetDirection(TPoint3D(0, 0, -1));
  source->SetDiffuse(TAlphaColorF(0.5f, 0.25f, 1, 0.75f));
  source->SetSpotCutOff(30);
  source->SetScatteringDensity(0.5f);
  const std::string text = TakeText(source->ToJSON());
  TOwned<TLightDef> back(New<TLightDef>(nullptr));
  back->FromJSON(nullptr, ParseObject(text).get());
  EXPECT_EQ(TakeText(back->ToJSON()), text);
  // A number in text form is of the wrong kind: the value stays.
  back->FromJSON(nullptr, ParseObject(R"({"SpotCutOff":"12"})").get());
  EXPECT_EQ(back->GetSpotCutOff(), 30.0f);
}

TEST(DefTypesLights, CameraRoundTripAndItsOwnerThroughTheLatePass) {
  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  auto* rig = New<TTransformDef>(model.get());
  rig->SetId("Rig");
  model->AddChild(rig);
  auto* camera = New<TCameraDef>(rig);
  rig->AddChild(camera);
  camera->SetType(TCameraType::OrthographicCamera);
  camera->SetTarget("Rig");
  camera->SetFOV(60);
  camera->SetAspectRatio(1.5f);
  camera->SetNearPlane(0.25f);
  camera->SetFarPlane(50);
  const std::string text = TakeText(camera->ToJSON());
  EXPECT_NE(text.find(R"("Owner":"Rig","Properties")"), std::string::npos);
  EXPECT_NE(text.find(R"("Owner":"Rig","Type":"Orthographic")"), std::string::npos);

  TOwned<TCameraDef> back(New<TCameraDef>(nullptr));
  back->FromJSON(model.get(), ParseObject(text).get());
  EXPECT_EQ(back->GetType(), TCameraType::OrthographicCamera);
  EXPECT_EQ(back->GetTarget(), "Rig");
  EXPECT_EQ(back->GetFOV(), 60.0f);
  EXPECT_EQ(back->GetAspectRatio(), 1.5f);
  EXPECT_EQ(back->GetNearPlane(), 0.25f);
  EXPECT_EQ(back->GetFarPlane(), 50.0f);
  // The reader keeps only the owner's id; the late pass finds the owner.
  EXPECT_EQ(back->GetOwnerRef(), nullptr);
  EXPECT_EQ(back->GetOwnerId(), "Rig");
  EXPECT_TRUE(back->LateResolveFromJSON(model.get(), nullptr));
  EXPECT_EQ(back->GetOwnerRef(), rig);

  // Without "Owner" nothing is found, before or after the late pass.
  TOwned<TCameraDef> loose(New<TCameraDef>(nullptr));
  loose->FromJSON(model.get(), ParseObject(R"({"Type":"Quorvel.DefTypes.TCameraDef"})").get());
  EXPECT_EQ(loose->GetType(), TCameraType::PerspectiveCamera);
  EXPECT_TRUE(loose->LateResolveFromJSON(model.get(), nullptr));
  EXPECT_EQ(loose->GetOwnerRef(), nullptr);
  EXPECT_EQ(loose->GetOwnerId(), "");
}

// As infinity a value beyond the single range could not be written again, so the read refuses it.
TEST(DefTypesLights, AFloatBeyondTheSingleRangeIsRefused) {
  for (const char* name : {"FOV", "AspectRatio", "NearPlane", "FarPlane"}) {
    TOwned<TCameraDef> camera(New<TCameraDef>(nullptr));
    try {
      camera->FromJSON(nullptr, ParseObject("{\"" + std::string(name) + "\":6e121}").get());
      ADD_FAILURE() << name;
    } catch (const EConvertError& e) {
      EXPECT_EQ(std::string(e.what()), "invalid \"" + std::string(name) + "\" value - out of the single range");
    }
  }
  TOwned<TLightDef> light(New<TLightDef>(nullptr));
  EXPECT_THROW(light->FromJSON(nullptr, ParseObject(R"({"Intensity":-1e39})").get()), EConvertError);
  // The largest single still reads and writes back.
  light->FromJSON(nullptr, ParseObject(R"({"Intensity":3.4028234663852886e38})").get());
  EXPECT_EQ(light->GetIntensity(), std::numeric_limits<float>::max());
  EXPECT_NO_THROW(TakeText(light->ToJSON()));
}

TEST(DefTypesLights, LightFindsAnOwnerReadAfterIt) {
  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  TOwned<TLightDef> light(New<TLightDef>(nullptr));
  light->FromJSON(model.get(), ParseObject(R"({"Id":"L","Owner":"Lamp"})").get());
  EXPECT_EQ(light->GetOwnerRef(), nullptr);
  EXPECT_EQ(light->GetOwnerId(), "Lamp");
  auto* lamp = New<TTransformDef>(model.get());
  lamp->SetId("Lamp");
  model->AddChild(lamp);
  EXPECT_TRUE(light->LateResolveFromJSON(model.get(), nullptr));
  EXPECT_EQ(light->GetOwnerRef(), lamp);
  EXPECT_EQ(light->GetOwnerId(), "Lamp");

  // A light made with an owner keeps it through reading.
  TOwned<TLightDef> owned(New<TLightDef>(lamp));
  owned->FromJSON(model.get(), ParseObject(R"({"Owner":"Other"})").get());
  EXPECT_EQ(owned->GetOwnerRef(), lamp);
}

TEST(DefTypesLights, QualifiedComponentNames) {
  TOwned<TLightDef> light(New<TLightDef>(nullptr));
  light->SetId("Key Light");
  EXPECT_EQ(light->GetQualifiedComponentName(), "Key_Light");
  light->SetId("");
  EXPECT_TRUE(std::regex_match(light->GetQualifiedComponentName(), std::regex("Light_[0-9]+")));
  TOwned<TCameraDef> camera(New<TCameraDef>(nullptr));
  EXPECT_TRUE(std::regex_match(camera->GetQualifiedComponentName(), std::regex("Camera_[0-9]+")));
}

// Each case ends with the model freed; ASan reports a second free or a leak.
TEST(DefTypesLights, LightsAndCamerasAreFreedOnceWhereverTheyHang) {
  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  auto* node = New<TTransformDef>(model.get());
  node->SetId("Node");
  model->AddChild(node);

  // Registered before anything else of it happens, also when made deeper in the tree.
  auto* treeLight = New<TLightDef>(node);
  EXPECT_EQ(model->GetLight(0), treeLight);
  node->AddChild(treeLight);
  auto* treeCamera = New<TCameraDef>(node);
  node->AddChild(treeCamera);
  auto* looseLight = New<TLightDef>(model.get());  // in the list only
  auto* looseCamera = New<TCameraDef>(model.get());
  EXPECT_EQ(model->GetLights()->Count(), 2);
  EXPECT_EQ(model->GetCameras()->Count(), 2);
  EXPECT_EQ(model->FindCameraById(looseCamera->GetId()), treeCamera);  // both have an empty id

  // Freed by its parent: it leaves the model's list.
  auto* gone = New<TLightDef>(node);
  node->AddChild(gone);
  EXPECT_EQ(model->GetLights()->Count(), 3);
  node->RemoveChild(gone);
  EXPECT_EQ(model->GetLights()->Count(), 2);
  EXPECT_EQ(model->GetLight(0), treeLight);
  EXPECT_EQ(model->GetLight(1), looseLight);

  // Taken out of the tree: from then on the model's list frees it.
  auto* leaving = New<TCameraDef>(node);
  node->AddChild(leaving);
  EXPECT_EQ(node->ExtractChild(leaving), leaving);

  // Freed directly by its holder.
  auto* direct = New<TLightDef>(model.get());
  Free(direct);
  EXPECT_EQ(model->GetLights()->Count(), 2);

  model.reset();  // frees looseLight, looseCamera, leaving once; the tree frees the rest
}

// The engine's own saved models have this shape: the light or camera hangs below a node that is
// followed by another node.
template <class T>
void CheckHeldOnceBelowANodeWithALaterSibling(const char* ATypeName, const char* AListName) {
  SCOPED_TRACE(ATypeName);
  auto count = [](const TModelDef* AModel) {
    if constexpr (std::is_same_v<T, TLightDef>)
      return AModel->GetLights() ? AModel->GetLights()->Count() : 0;
    else
      return AModel->GetCameras() ? AModel->GetCameras()->Count() : 0;
  };
  {
    TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
    auto* rig = New<TTransformDef>(model.get());
    model->AddChild(rig);
    auto* item = New<T>(rig);
    rig->AddChild(item);
    model->AddChild(New<TTransformDef>(model.get()));
    EXPECT_EQ(count(model.get()), 1);
  }  // freed once, by its parent (ASan)

  const std::string text = std::string(R"({"Id":"M","Children":[)") +
                           R"({"Type":"Quorvel.DefTypes.TTransformDef","Id":"Rig","Children":[)" +
                           R"({"Type":"Quorvel.DefTypes.)" + ATypeName + R"(","Id":"Lamp"}]},)" +
                           R"({"Type":"Quorvel.DefTypes.TTransformDef","Id":"Tail"}],")" + AListName +
                           R"(":[{"Id":"Lamp"}]})";
  TOwned<TModelDef> read(New<TModelDef>());
  read->FromJSON(ParseObject(text).get());
  EXPECT_EQ(count(read.get()), 1);
  TOwned<TModelDef> again(New<TModelDef>());
  again->FromJSON(ParseObject(TakeText(read->ToJSON())).get());
  EXPECT_EQ(count(again.get()), 1);
}

TEST(DefTypesLights, ALightOrCameraBelowANodeWithALaterSiblingIsHeldAndFreedOnce) {
  CheckHeldOnceBelowANodeWithALaterSibling<TLightDef>("TLightDef", "Lights");
  CheckHeldOnceBelowANodeWithALaterSibling<TCameraDef>("TCameraDef", "Cameras");
}

TEST(DefTypesLights, ALightMovedToAnotherModelLeavesTheFirst) {
  TOwned<TModelDef> first(New<TModelDef>(nullptr, nullptr));
  TOwned<TModelDef> second(New<TModelDef>(nullptr, nullptr));
  auto* light = New<TLightDef>(first.get());
  second->AddLight(light);
  EXPECT_EQ(first->GetLights()->Count(), 0);
  EXPECT_EQ(second->GetLight(0), light);
  EXPECT_EQ(light->GetRegisteredModel(), second.get());
}

}  // namespace
}  // namespace quorvel
