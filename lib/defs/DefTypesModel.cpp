#include "lib/defs/DefTypesModel.h"

#include <cstdint>
#include <type_traits>

#include "framework/rtl/Finally.h"

#include "framework/rtl/Finally.h"
#include "lib/defs/DefTypesMaterial.h"
#include "lib/defs/DefTypesText.h"

namespace quorvel {

FW_CLASS_IMPL(TModelDef, "Quorvel.DefTypes")
FW_CLASS_NO_MEMBERS(TModelDef)

namespace {

template <class T>
T* FindInList(const TObjectList<T>* AList, std::string_view AId) {
  if (!AList) return nullptr;
  for (T* item : *AList)
    if (item->GetId() == AId) return item;
  return nullptr;
}

}  // namespace

TModelDef::TModelDef(TMeshDef* AOwner, TObject* APackage)
    : TMeshDef(AOwner),
      FPackage(APackage),
      FMaterials(new TMaterialDictionary(TDictionaryOwnerships{doOwnsValues})),
      FBehaviours(new TBehaviourList(true)),
      FMetaData(new TModelMetaDef) {
  SetId("Model_" + std::to_string(reinterpret_cast<uintptr_t>(this)));
}

TModelDef::~TModelDef() {
  Free(FMetaData);
  Free(FBehaviours);
  // Sub-materials belong to their layered parents: they leave the dictionary before it frees
  // what it holds. Materials look their entry up while they are freed; the dictionary empties
  // itself first.
  Quietly("sub-materials", [this] {
    for (const auto& entry : FMaterials->ToArray())
      if (entry.Value && entry.Value->GetLayeredParent()) ExtractMaterial(entry.Key);
  });
  FreeAndNil(FMaterials);
  Free(FArmatures);
  ReleaseLightsAndCameras();
  Free(FLateResolveList);
}

int64_t TModelDef::GetSize() const {
  int64_t size = TMeshDef::GetSize() + GetStringSize(FFilename);
  if (FMaterials) {
    size += static_cast<int64_t>(sizeof(TMaterialDictionary));
    for (const auto& entry : *FMaterials) size += GetStringSize(entry.Key) + entry.Value->GetSize();
  }
  if (FArmatures) {
    size += static_cast<int64_t>(sizeof(TArmatureList));
    for (const TArmatureDef* armature : *FArmatures) size += armature->GetSize();
  }
  return size;
}

TCustomDef* TModelDef::FindDefById(std::string_view AId) const {
  if (GetId() == AId) return const_cast<TModelDef*>(this);
  if (TCustomDef* def = FindChildById(AId, false)) return def;
  if (TCustomDef* def = FindLightById(AId)) return def;
  if (TCustomDef* def = FindCameraById(AId)) return def;
  return FindArmatureById(AId);
}

// ---- materials ----

void TModelDef::AddMaterial(const std::string& AId, TMaterialDef* AMaterial) {
  if (!AMaterial) throw EArgumentNilException("AddMaterial: material expected");
  if (FMaterials->ContainsKey(AId)) containers_detail::RaiseDuplicateKey();
  // A material entered under another id (here or in another model) moves: an owning
  // dictionary that held it twice would free it twice.
  if (AMaterial->FRegisteredIn) {
    TModelDef* previous = AMaterial->FRegisteredIn;
    TMaterialDef* held = previous->GetMaterial(AMaterial->FRegisteredKey);
    if (held == AMaterial) previous->ExtractMaterial(AMaterial->FRegisteredKey);
  }
  FMaterials->Add(AId, AMaterial);
  AMaterial->FRegisteredIn = this;
  AMaterial->FRegisteredKey = AId;
}

TMaterialDef* TModelDef::GetMaterial(const std::string& AId) const {
  TMaterialDef* m = nullptr;
  if (FMaterials) FMaterials->TryGetValue(AId, m);
  return m;
}

TMaterialDef* TModelDef::ExtractMaterial(const std::string& AId) {
  if (!FMaterials || !FMaterials->ContainsKey(AId)) return nullptr;
  TMaterialDef* m = FMaterials->ExtractPair(AId).Value;
  if (m && m->FRegisteredIn == this) {
    m->FRegisteredIn = nullptr;
    m->FRegisteredKey.clear();
  }
  return m;
}

// ---- behaviours ----

void TModelDef::AddBehaviour(TBehaviourDef* ABehaviour) {
  if (!ABehaviour) return;
  if (!FBehaviours) FBehaviours = new TBehaviourList(true);
  if (!FBehaviours->Contains(ABehaviour)) FBehaviours->Add(ABehaviour);
}

TMaterialBehaviourDef* TModelDef::AddNewMaterialBehaviour() {
  auto* b = New<TMaterialBehaviourDef>();
  AddBehaviour(b);
  return b;
}

TBehaviourDef* TModelDef::FindBehaviourById(std::string_view AUniqueId) const {
  return FindInList(FBehaviours, AUniqueId);
}

int32_t TModelDef::IndexOfBehaviourById(std::string_view AUniqueId) const {
  if (!FBehaviours) return -1;
  for (int32_t i = 0; i < FBehaviours->Count(); ++i)
    if (FBehaviours->Items(i)->GetId() == AUniqueId) return i;
  return -1;
}

void TModelDef::RemoveBehaviourById(std::string_view AUniqueId) {
  const int32_t i = IndexOfBehaviourById(AUniqueId);
  if (i >= 0) FBehaviours->Delete(i);
}

void TModelDef::ClearBehaviours() {
  if (FBehaviours) FBehaviours->Clear();
}

// ---- lights, cameras, armatures ----

namespace {

// Moves AItem into AList (made on first use), out of the list of a model that held it before.
template <class T>
void RegisterIn(TModelDef* AModel, TObjectList<T>*& AList, T* AItem) {
  if (!AItem) return;
  if (TModelDef* previous = AItem->GetRegisteredModel(); previous && previous != AModel) {
    if constexpr (std::is_same_v<T, TLightDef>)
      previous->ExtractLight(AItem);
    else
      previous->ExtractCamera(AItem);
  }
  if (!AList) AList = new TObjectList<T>(false);
  if (!AList->Contains(AItem)) AList->Add(AItem);
  AItem->SetRegisteredModel(AModel);
}

template <class T>
T* ExtractFrom(TModelDef* AModel, TObjectList<T>* AList, T* AItem) {
  if (!AList || !AItem || !AList->Contains(AItem)) return nullptr;
  AList->Extract(AItem);
  if (AItem->GetRegisteredModel() == AModel) AItem->SetRegisteredModel(nullptr);
  return AItem;
}

}  // namespace

bool TModelDef::IsTreeNode(const TTransformDef* ANode) const {
  bool found = false;
  Traverse(true, [&](TTransformDef*, int32_t, TTransformDef* AChild) {
    found = AChild == ANode;
    return !found;
  });
  return found;
}

void TModelDef::ReleaseLightsAndCameras() {
  // Tree nodes are left to their parents (freed with the node tree, after this); the rest
  // belong to this list alone. Every item is unlinked first, so that its destructor does not
  // come back into a list that is going.
  auto release = [this](auto*& AList) {
    if (!AList) return;
    auto items = AList->ToArray();
    FreeAndNil(AList);
    for (auto* item : items) {
      item->SetRegisteredModel(nullptr);
      if (!IsTreeNode(item)) FreeQuietly(item, "model light or camera");
    }
  };
  release(FLights);
  release(FCameras);
}

void TModelDef::AddLight(TLightDef* ALight) { RegisterIn(this, FLights, ALight); }

TLightDef* TModelDef::ExtractLight(TLightDef* ALight) { return ExtractFrom(this, FLights, ALight); }

TCameraDef* TModelDef::ExtractCamera(TCameraDef* ACamera) { return ExtractFrom(this, FCameras, ACamera); }

TLightDef* TModelDef::GetLight(int32_t AIndex) const {
  if (!FLights || AIndex < 0 || AIndex >= FLights->Count()) return nullptr;
  return FLights->Items(AIndex);
}

TLightDef* TModelDef::FindLightById(std::string_view AId) const { return FindInList(FLights, AId); }

void TModelDef::AddCamera(TCameraDef* ACamera) { RegisterIn(this, FCameras, ACamera); }

TCameraDef* TModelDef::GetCamera(int32_t AIndex) const {
  if (!FCameras || AIndex < 0 || AIndex >= FCameras->Count()) return nullptr;
  return FCameras->Items(AIndex);
}

TCameraDef* TModelDef::FindCameraById(std::string_view AId) const { return FindInList(FCameras, AId); }

void TModelDef::AddArmature(TArmatureDef* AArmature) {
  if (!AArmature) return;
  if (!FArmatures) FArmatures = new TArmatureList(true);
  if (!FArmatures->Contains(AArmature)) FArmatures->Add(AArmature);
}

TArmatureDef* TModelDef::FindArmatureById(std::string_view AId) const {
  if (AId.empty()) return nullptr;
  return FindInList(FArmatures, AId);
}

// ---- late resolution ----

void TModelDef::BeginLateResolve() {
  Free(FLateResolveList);
  FLateResolveList = new TLateResolveList;
}

void TModelDef::AddLateResolve(TCustomDef* ADef, const TJSONObject* AJSON) {
  if (FLateResolveList && ADef) FLateResolveList->AddOrSetValue(ADef, AJSON);
}

void TModelDef::LateResolve() {
  if (!FLateResolveList) return;
  // Each entry is asked once; a later entry's answer does not bring an earlier one back.
  for (const auto& entry : FLateResolveList->ToArray()) {
    if (entry.Key->LateResolveFromJSON(this, entry.Value)) FLateResolveList->Remove(entry.Key);
  }
}

void TModelDef::EndLateResolve() { FreeAndNil(FLateResolveList); }

}  // namespace quorvel
