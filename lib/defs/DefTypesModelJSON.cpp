// The whole model's JSON form: TModelDef::ToJSON and the reader with its late pass.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "framework/rtl/NetEncoding.h"
#include "framework/rtl/SysUtils.h"
#include "lib/defs/DefTypesMaterial.h"
#include "lib/defs/DefTypesModel.h"

namespace quorvel {

namespace {

constexpr std::string_view SModelDefTypesPrefix = "Quorvel.DefTypes.";

template <class L>
void WriteArray(TJSONObject* AObject, const char* AName, const L* AList) {
  if (!AList) return;
  auto* arr = new TJSONArray;
  AObject->AddPair(AName, arr);
  for (const auto* item : *AList) arr->AddElement(item->ToJSON());
}

// The elements of an array pair, or null when the pair is absent; another kind raises
// EInvalidCast.
const TJSONArray* ArrayValue(const TJSONObject* AValue, std::string_view AName) {
  const TJSONValue* v = AValue->GetValue(AName);
  return v ? v->As<TJSONArray>() : nullptr;
}

}  // namespace

TJSONObject* TModelDef::ToJSON() const {
  std::unique_ptr<TJSONObject> obj(TMeshDef::ToJSON());
  obj->AddPair("Filename", TURLEncoding::Encode(FFilename));
  WriteArray(obj.get(), "Behaviours", FBehaviours);
  // Sub-materials are written inside their layered parents: listing them here as well would
  // make the model's own output fail to read (their ids would be registered twice).
  auto* materials = new TJSONArray;
  obj->AddPair("Materials", materials);
  for (const auto& entry : *FMaterials)
    if (!entry.Value->GetLayeredParent()) materials->AddElement(entry.Value->ToJSON());
  // A light or camera below a listed one outside the tree is written with that one only:
  // listed again, the reader could not tell it from a second one.
  auto writeNodes = [&](const char* AName, const auto* AList) {
    if (!AList) return;
    auto* arr = new TJSONArray;
    obj->AddPair(AName, arr);
    for (const auto* item : *AList)
      if (IsTreeNode(item) || !IsBelowListedNode(item)) arr->AddElement(item->ToJSON());
  };
  writeNodes("Lights", FLights);
  writeNodes("Cameras", FCameras);
  WriteArray(obj.get(), "Armatures", FArmatures);
  WriteArray(obj.get(), "Controllers", FControllers);
  WriteArray(obj.get(), "Animations", FAnimations);
  if (FMetaData) obj->AddPair("MetaData", FMetaData->ToJSON());
  return obj.release();
}

void TModelDef::FromJSON(const TJSONObject* AValue) {
  if (!AValue) return;
  TLateResolveScope scope(this);
  // Lights and cameras that exist before the read are never taken for ones the tree makes.
  std::vector<const TCustomDef*> known;
  if (FLights) known.insert(known.end(), FLights->begin(), FLights->end());
  if (FCameras) known.insert(known.end(), FCameras->begin(), FCameras->end());
  auto madeByThisRead = [&](const TTransformDef* ANode) {
    return ANode && std::find(known.begin(), known.end(), ANode) == known.end() &&
           (IsTreeNode(ANode) || IsBelowListedNode(ANode));
  };

  FFilename = TURLEncoding::Decode(ReadJSONString(AValue, "Filename", ""));

  if (const TJSONArray* behaviours = ArrayValue(AValue, "Behaviours")) {
    for (const TJSONValue* element : *behaviours) {
      const TJSONObject* item = element->As<TJSONObject>();
      std::string type = ReadJSONString(item, "Type", "TMaterialBehaviourDef");
      if (type.starts_with(SModelDefTypesPrefix)) type.erase(0, SModelDefTypesPrefix.size());
      if (type != "TMaterialBehaviourDef")
        throw Exception(Format("reading model data failed - unsupported behaviour class \"%s\" found", {type}));
      TMaterialBehaviourDef* behaviour = AddNewMaterialBehaviour();
      behaviour->FromJSON(this, item);
      AddLateResolve(behaviour, item);
    }
  }

  if (const TJSONArray* materials = ArrayValue(AValue, "Materials")) {
    for (const TJSONValue* element : *materials) {
      const TJSONObject* item = element->As<TJSONObject>();
      TOwned<TMaterialDef> material(New<TMaterialDef>(this, std::string()));
      material->FromJSON(this, item);
      // Registered under the id it read, the dictionary holds it; one without id could never
      // be found or written again and goes.
      if (material->FRegisteredIn != this) continue;
      AddLateResolve(material.release(), item);
    }
  }

  TMeshDef::FromJSON(this, AValue);

  // A light or camera of the tree (or, in older files, one below a listed light) is listed
  // again under "Lights" / "Cameras": that element makes no second one (which every round
  // trip would add again).
  auto readNodes = [&](const char* AName, auto AFind, auto AMake) {
    const TJSONArray* nodes = ArrayValue(AValue, AName);
    if (!nodes) return;
    for (const TJSONValue* element : *nodes) {
      const TJSONObject* item = element->As<TJSONObject>();
      const std::string id = ReadJSONString(item, "Id", "");
      TTransformDef* node = id.empty() ? nullptr : AFind(id);
      if (!madeByThisRead(node)) {
        auto made = AMake();
        made->FromJSON(this, item);
        node = made.release();
      }
      AddLateResolve(node, item);
    }
  };
  readNodes(
      "Lights", [this](const std::string& AId) { return FindLightById(AId); },
      [this] { return TOwned<TLightDef>(New<TLightDef>(this)); });
  readNodes(
      "Cameras", [this](const std::string& AId) { return FindCameraById(AId); },
      [this] { return TOwned<TCameraDef>(New<TCameraDef>(this)); });

  // Older files keep the armatures under "Humanoids".
  const TJSONArray* armatures = nullptr;
  if (JSONValueIs<TJSONArray>(AValue, "Armatures"))
    armatures = static_cast<const TJSONArray*>(AValue->GetValue("Armatures"));
  else if (JSONValueIs<TJSONArray>(AValue, "Humanoids"))
    armatures = static_cast<const TJSONArray*>(AValue->GetValue("Humanoids"));
  if (armatures) {
    for (const TJSONValue* element : *armatures) {
      const TJSONObject* item = element->As<TJSONObject>();
      TOwned<TArmatureDef> armature(New<TArmatureDef>(this));
      armature->FromJSON(this, item);
      AddArmature(armature.get());
      AddLateResolve(armature.release(), item);
    }
  }

  if (const TJSONArray* controllers = ArrayValue(AValue, "Controllers")) {
    for (const TJSONValue* element : *controllers) {
      const TJSONObject* item = element->As<TJSONObject>();
      const std::string id = ReadJSONValue(item, "Id", "");
      std::string target = ReadJSONString(item, "Target", "");
      if (target.empty()) target = ReadJSONString(item, "Mesh", "");
      if (target.empty()) throw Exception(Format("failed to load controller %s - mesh id not set", {id}));
      TTransformDef* node = FindChildById(target, false);
      if (!node) throw Exception(Format("failed to load controller %s - mesh %s not found", {id, target}));
      TOwned<TControllerDef> controller(New<TControllerDef>(node));
      controller->FromJSON(this, item);
      AddController(controller.get());
      AddLateResolve(controller.release(), item);
    }
  }

  if (const TJSONArray* animations = ArrayValue(AValue, "Animations")) {
    for (const TJSONValue* element : *animations) {
      const TJSONObject* item = element->As<TJSONObject>();
      TOwned<TAnimationDef> animation(New<TAnimationDef>(this));
      animation->FromJSON(this, item);
      AddAnimation(animation.get());
      AddLateResolve(animation.release(), item);
    }
  }

  if (!FMetaData) FMetaData.reset(New<TModelMetaDef>());
  if (const TJSONValue* meta = AValue->GetValue("MetaData")) FMetaData->FromJSON(this, meta->As<TJSONObject>());

  LateResolve();
}

}  // namespace quorvel
