#include "lib/defs/DefTypesModel.h"

#include <algorithm>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "framework/rtl/Finally.h"

#include "framework/rtl/Log.h"
#include "framework/rtl/Stopwatch.h"
#include "framework/rtl/SysUtils.h"
#include "lib/animation/DefTypesCache.h"
#include "lib/defs/DefTypesBitmapCache.h"
#include "lib/defs/DefTypesMaterial.h"
#include "lib/formats/assets/AssetsManager.h"
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
      FMetaData(New<TModelMetaDef>()) {
  SetId("Model_" + std::to_string(reinterpret_cast<uintptr_t>(this)));
}

TModelDef::~TModelDef() {
  // Definitions freed below must not reach back into a list that is going away.
  Quietly("late resolution list", [&] { EndLateResolve(); });
  Quietly("model metadata", [&] { FMetaData.reset(); });
  FreeQuietlyAndNil(FBehaviours, "model behaviours");
  // Sub-materials belong to their layered parents: they leave the dictionary before it frees
  // what it holds. Materials look their entry up while they are freed; the dictionary empties
  // itself first.
  Quietly("sub-materials", [this] {
    for (const auto& entry : FMaterials->ToArray())
      if (entry.Value && entry.Value->GetLayeredParent()) ExtractMaterial(entry.Key);
  });
  FreeQuietlyAndNil(FMaterials, "model materials");
  ClearTextureAssets();
  FreeQuietlyAndNil(FControllers, "model controllers");
  FreeQuietlyAndNil(FArmatures, "model armatures");
  FreeQuietlyAndNil(FAnimations, "model animations");
  ReleaseLightsAndCameras();
}

int64_t TModelDef::GetSize() const {
  int64_t size = TMeshDef::GetSize() + GetStringSize(FFilename);
  if (FMaterials) {
    size += static_cast<int64_t>(sizeof(TMaterialDictionary));
    // A sub-material is counted inside its layered parent; the dictionary only finds it.
    for (const auto& entry : *FMaterials)
      size += GetStringSize(entry.Key) + (entry.Value->GetLayeredParent() ? 0 : entry.Value->GetSize());
  }
  if (FArmatures) {
    size += static_cast<int64_t>(sizeof(TArmatureList));
    for (const TArmatureDef* armature : *FArmatures) size += armature->GetSize();
  }
  if (FControllers) {
    size += static_cast<int64_t>(sizeof(TControllerList));
    for (const TControllerDef* controller : *FControllers) size += controller->GetSize();
  }
  if (FAnimations) {
    size += static_cast<int64_t>(sizeof(TAnimationList));
    for (const TAnimationDef* animation : *FAnimations) size += animation->GetSize();
  }
  return size;
}

TCustomDef* TModelDef::FindDefById(std::string_view AId) const {
  if (GetId() == AId) return const_cast<TModelDef*>(this);
  if (TCustomDef* def = FindChildById(AId, false)) return def;
  if (TCustomDef* def = FindLightById(AId)) return def;
  if (TCustomDef* def = FindCameraById(AId)) return def;
  if (TCustomDef* def = FindAnimationById(AId)) return def;
  if (TCustomDef* def = FindControllerById(AId, false)) return def;
  if (TCustomDef* def = FindArmatureById(AId)) return def;
  return FindJointById(AId);
}

// ---- model-wide normals ----

void TModelDef::CalcFaceNormals(bool PropagateFaceNormalsToVertices) {
  for (TTransformDef* child : GetChildren() ? GetChildren()->ToArray() : std::vector<TTransformDef*>())
    if (auto* mesh = dynamic_cast<TMeshDef*>(child)) mesh->CalcFaceNormals(PropagateFaceNormalsToVertices, true);
}

void TModelDef::CalcSmoothNormals(TMeshDefCalculateNormalMethod Method, float WeldEpsilon) {
  for (TTransformDef* child : GetChildren() ? GetChildren()->ToArray() : std::vector<TTransformDef*>())
    if (auto* mesh = dynamic_cast<TMeshDef*>(child)) mesh->CalcSmoothNormals(Method, WeldEpsilon, true);
}

void TModelDef::CalcTangentBinormals() {
  for (TTransformDef* child : GetChildren() ? GetChildren()->ToArray() : std::vector<TTransformDef*>())
    if (auto* mesh = dynamic_cast<TMeshDef*>(child)) mesh->CalcTangentBinormals(true);
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
  // The owning list would free a second entry of the same behaviour twice.
  if (!FBehaviours->Contains(ABehaviour)) FBehaviours->Add(ABehaviour);
}

TMaterialBehaviourDef* TModelDef::AddNewMaterialBehaviour() {
  auto* b = New<TMaterialBehaviourDef>();
  AddBehaviour(b);
  return b;
}

TBehaviourDef* TModelDef::GetBehaviour(const TBehaviourRefDef* ARef) const {
  return ARef ? FindBehaviourById(ARef->GetId()) : nullptr;
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

void TModelDef::RemoveBehaviour(const TBehaviourRefDef* ARef) {
  if (ARef) RemoveBehaviourById(ARef->GetId());
}

void TModelDef::RemoveBehaviourById(std::string_view AUniqueId) {
  const int32_t i = IndexOfBehaviourById(AUniqueId);
  if (i < 0) return;
  UnlinkBehaviour(FBehaviours->Items(i));
  FBehaviours->Delete(i);
}

void TModelDef::ClearBehaviours() {
  if (!FBehaviours) return;
  UnlinkBehaviour(nullptr);
  FBehaviours->Clear();
}

void TModelDef::UnlinkBehaviour(const TBehaviourDef* ABehaviour) {
  // Only the link to the behaviour goes: the reference keeps its id.
  if (!FMaterials) return;
  for (const auto& entry : *FMaterials) {
    TMaterialDef::TBehaviourRefList* refs = entry.Value ? entry.Value->GetBehaviourRefs() : nullptr;
    if (!refs) continue;
    for (TBehaviourRefDef* ref : *refs)
      if (ref->GetReference() && (!ABehaviour || ref->GetReference() == ABehaviour)) ref->SetReference(nullptr);
  }
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

namespace {

bool HangsBelow(const TTransformDef* ARoot, const TTransformDef* ANode) {
  // A False answer ends only the loop of one parent: the loops further up go on, so the
  // answer must stay once it is found.
  bool found = false;
  ARoot->Traverse(true, [&](TTransformDef*, int32_t, TTransformDef* AChild) {
    if (AChild == ANode) found = true;
    return !found;
  });
  return found;
}

}  // namespace

bool TModelDef::IsTreeNode(const TTransformDef* ANode) const { return HangsBelow(this, ANode); }

bool TModelDef::IsBelowListedNode(const TTransformDef* ANode) const {
  auto below = [ANode](const auto* AList) {
    return AList && std::any_of(AList->begin(), AList->end(), [ANode](const TTransformDef* AOther) {
             return AOther != ANode && HangsBelow(AOther, ANode);
           });
  };
  return ANode && (below(FLights) || below(FCameras));
}

void TModelDef::ReleaseLightsAndCameras() {
  // Tree nodes are left to their parents (freed with the node tree, after this), and so are
  // nodes below a listed light or camera (which may carry children); the rest belong to these
  // lists alone. Both lists are unlinked and every owner is settled before anything is freed,
  // so that no destructor comes back into a list that is going or frees a node twice.
  std::vector<TTransformDef*> items;
  auto take = [&items](auto*& AList) {
    if (!AList) return;
    for (auto* item : AList->ToArray()) {
      item->SetRegisteredModel(nullptr);
      items.push_back(item);
    }
    FreeAndNil(AList);
  };
  take(FLights);
  take(FCameras);
  std::vector<TTransformDef*> owned;
  for (TTransformDef* item : items) {
    if (IsTreeNode(item)) continue;
    const bool nested = std::any_of(items.begin(), items.end(), [item](const TTransformDef* AOther) {
      return AOther != item && HangsBelow(AOther, item);
    });
    if (!nested) owned.push_back(item);
  }
  for (TTransformDef* item : owned) FreeQuietly(item, "model light or camera");
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

TArmatureDef* TModelDef::GetArmatureBySkeleton(const TJointDef* ASkeletonJoint) const {
  if (!ASkeletonJoint) return nullptr;
  // A joint made for an armature knows it; one with another owner (or none) asks the roots.
  if (auto* own = dynamic_cast<TArmatureDef*>(ASkeletonJoint->GetOwnerRef())) return own;
  if (!FArmatures) return nullptr;
  for (TArmatureDef* armature : *FArmatures)
    if (armature->GetRoot() == ASkeletonJoint) return armature;
  return nullptr;
}

TJointDef* TModelDef::FindJointById(std::string_view AName) const {
  if (!FArmatures) return nullptr;
  for (TArmatureDef* armature : *FArmatures)
    if (TJointDef* joint = armature->FindJointById(AName)) return joint;
  return nullptr;
}

// ---- controllers ----

void TModelDef::AddController(TControllerDef* AController) {
  if (!AController) return;
  if (!FControllers) FControllers = new TControllerList(true);
  AController->SetIndex(FControllers->Add(AController));
}

TControllerDef* TModelDef::FindControllerById(std::string_view AName, bool AThrowException) const {
  if (FControllers) {
    for (TControllerDef* ctrl : *FControllers) {
      const std::string& id = ctrl->GetId();
      if (SameText(AName, id) || (AName.size() == id.size() + 1 && AName[0] == '#' && SameText(AName.substr(1), id)))
        return ctrl;
    }
  }
  if (AThrowException) throw Exception(Format("controller with id \"%s\" not found", {std::string(AName)}));
  return nullptr;
}

TControllerDef* TModelDef::FindControllerByTransform(const TTransformDef* ATransform, bool AThrowException) const {
  if (FControllers)
    for (TControllerDef* ctrl : *FControllers)
      if (ctrl->GetTarget() == ATransform) return ctrl;
  if (!AThrowException) return nullptr;
  const std::string id = ATransform ? ATransform->GetId() : std::string();
  if (FControllers) throw Exception(Format("controller for mesh \"%s\" not found", {id}));
  throw Exception(Format("controller for transform \"%s\" not found", {id}));
}

// ---- animations ----

void TModelDef::AddAnimation(TAnimationDef* AAnimation) {
  if (!AAnimation) return;
  if (!FAnimations) FAnimations = new TAnimationList(true);
  FAnimations->Add(AAnimation);
}

TAnimationDef* TModelDef::AddEmptyAnimation(const std::string& AId) {
  TOwned<TAnimationDef> animation(New<TAnimationDef>(this));
  animation->SetId(AId);
  AddAnimation(animation.get());
  return animation.release();
}

TAnimationDef* TModelDef::FindAnimationById(std::string_view AName) const { return FindInList(FAnimations, AName); }

// ---- texture assets ----

namespace {

// Every "/" becomes "\", then every pair of "\" one (a single left-to-right pass).
std::string NormalizeAssetPath(std::string_view APath) {
  std::string back(APath);
  for (char& c : back)
    if (c == '/') c = '\\';
  std::string result;
  result.reserve(back.size());
  for (size_t i = 0; i < back.size(); ++i) {
    result += back[i];
    if (back[i] == '\\' && i + 1 < back.size() && back[i + 1] == '\\') ++i;
  }
  return result;
}

std::string_view AssetFileNamePart(std::string_view APath) {
  const size_t pos = APath.find_last_of("\\:");
  return pos == std::string_view::npos ? APath : APath.substr(pos + 1);
}

}  // namespace

TQuorvelTextureAsset* TModelDef::TryGetTextureAsset(const TObject* AAsset) const {
  const auto* asset = dynamic_cast<const TQuorvelTextureAsset*>(AAsset);
  if (!asset) return nullptr;
  for (TQuorvelTextureAsset* a : FTextureAssets)
    if (a == asset) return a;
  const std::string original = NormalizeAssetPath(asset->GetOriginalFilename());
  for (TQuorvelTextureAsset* a : FTextureAssets)
    if (NormalizeAssetPath(a->GetOriginalFilename()) == original) return a;
  const std::string file = NormalizeAssetPath(asset->GetFilename());
  const std::string_view name = AssetFileNamePart(file);
  for (TQuorvelTextureAsset* a : FTextureAssets)
    if (AssetFileNamePart(NormalizeAssetPath(a->GetFilename())) == name) return a;
  return nullptr;
}

bool TModelDef::TextureAssetExists(const TObject* AAsset) const {
  const auto* asset = dynamic_cast<const TQuorvelTextureAsset*>(AAsset);
  if (!asset) return false;
  for (TQuorvelTextureAsset* a : FTextureAssets)
    if (a == asset) return true;
  for (TQuorvelTextureAsset* a : FTextureAssets)
    if (a->GetOriginalFilename() == asset->GetOriginalFilename()) return true;
  for (TQuorvelTextureAsset* a : FTextureAssets)
    if (a->GetFilename() == asset->GetFilename()) return true;
  return false;
}

void TModelDef::RegisterTextureAsset(TObject* AAsset) {
  if (!AAsset) return;
  auto* asset = AAsset->As<TQuorvelTextureAsset>();
  if (!TextureAssetExists(asset)) FTextureAssets.push_back(asset);
}

void TModelDef::UnregisterTextureAsset(const TObject* AAsset) {
  std::erase_if(FTextureAssets, [AAsset](const TQuorvelTextureAsset* a) { return a == AAsset; });
}

void TModelDef::DetachTextureAsset(const TObject* AAsset) {
  if (!AAsset) return;
  if (FMaterials) {
    for (const auto& entry : *FMaterials) {
      TMaterialDef::TTextureList* textures = entry.Value ? entry.Value->GetTextures() : nullptr;
      if (!textures) continue;
      for (TTextureDef* texture : *textures)
        if (texture->GetAssetRef() == AAsset) {
          texture->SetIsAssetOwner(false);  // freed elsewhere, not by the texture
          texture->SetAssetRef(nullptr);
        }
    }
  }
  UnregisterTextureAsset(AAsset);
}

void TModelDef::ClearTextureAssets() {
  std::vector<TQuorvelTextureAsset*> assets;
  assets.swap(FTextureAssets);
  for (TQuorvelTextureAsset* asset : assets)
    if (asset->GetIsStandalone()) {
      // A texture that owned it would free it again.
      DetachTextureAsset(asset);
      FreeQuietly(asset, "standalone texture asset");
    }
}

// ---- bitmap cache exchange ----

void TModelDef::RequestBitmapCache(TQuorvelBitmapCache* ACache) {
  if (!ACache) return;
  ACache->Clear();
  for (TQuorvelTextureAsset* asset : FTextureAssets) {
    TQuorvelBitmapCacheEntry* entry = ACache->AddEntry();
    entry->SetBitmapReference(asset->GetOriginalFilename(), asset->GetBitmap());
  }
}

void TModelDef::ApplyBitmapCache(TQuorvelBitmapCache* ACache) {
  if (!ACache) return;
  for (int i = 0; i < ACache->Count(); ++i) {
    TQuorvelBitmapCacheEntry* entry = ACache->GetEntry(i);
    TOwned<TQuorvelTextureAsset> asset(New<TQuorvelTextureAsset>(nullptr));
    // An entry that was a reference already does not own its bitmap: the asset gets a copy,
    // so that nothing is freed twice.
    TBitmap* bitmap = entry->GetBitmap();
    if (entry->GetIsOnlyRef()) {
      TOwned<TBitmap> copy(New<TBitmap>());
      if (bitmap) copy->Assign(bitmap);
      asset->ImportFromCachedBitmap(entry->GetFilename(), copy.get());
      copy.release();
    } else {
      asset->ImportFromCachedBitmap(entry->GetFilename(), bitmap);
      entry->SetIsOnlyRef(true);
    }
    FTextureAssets.push_back(asset.release());
  }
}

// ---- late resolution ----

void TModelDef::BeginLateResolve() {
  EndLateResolve();
  FLateResolveList = new TLateResolveList;
}

void TModelDef::AddLateResolve(TCustomDef* ADef, const TJSONObject* AJSON) {
  if (!FLateResolveList || !ADef) return;
  // Listed in another model's read: it leaves that list (one back reference per definition).
  if (ADef->FLateResolveIn && ADef->FLateResolveIn != this) ADef->FLateResolveIn->RemoveLateResolve(ADef);
  FLateResolveList->AddOrSetValue(ADef, AJSON);
  ADef->FLateResolveIn = this;
}

void TModelDef::RemoveLateResolve(TCustomDef* ADef) {
  if (!ADef) return;
  if (FLateResolveList) FLateResolveList->Remove(ADef);
  if (ADef->FLateResolveIn == this) ADef->FLateResolveIn = nullptr;
}

void TModelDef::LateResolve() {
  if (!FLateResolveList) return;
  // Each entry is asked once; a later entry's answer does not bring an earlier one back. An
  // entry freed by an earlier one's resolution has left the list and is not asked.
  for (const auto& entry : FLateResolveList->ToArray()) {
    if (!FLateResolveList->ContainsKey(entry.Key)) continue;
    if (entry.Key->LateResolveFromJSON(this, entry.Value)) RemoveLateResolve(entry.Key);
  }
}

void TModelDef::EndLateResolve() {
  if (!FLateResolveList) return;
  for (const auto& entry : *FLateResolveList)
    if (entry.Key->FLateResolveIn == this) entry.Key->FLateResolveIn = nullptr;
  FreeAndNil(FLateResolveList);
}

int32_t TModelDef::CacheAnimations(const std::vector<TValue>& ASelected, TAnimationCachingFlags AFlags,
                                   TComponent* AModel) {
  const TStopwatch watch = TStopwatch::StartNew();
  if (!FAnimations || FAnimations->Count() == 0) return 0;
  TOwned<TAnimationCaching> baker(New<TAnimationCaching>(this, AFlags, AModel));
  int32_t count = 0;
  for (TAnimationDef* anim : *FAnimations) {
    bool selected = ASelected.empty();
    for (const TValue& v : ASelected)
      if (v.Kind() == tkString && v.AsString() == anim->GetId()) selected = true;
    if (!selected || anim->GetBufferingState() != TAnimationBufferingState::None) continue;
    anim->Cache(baker.get());
    ++count;
  }
  baker.reset();
  Log::d("Caching %d animations: elapsed time %n ms", count, double(watch.GetElapsedTicks()) * 1000.0 / TStopwatch::Frequency);
  return count;
}

}  // namespace quorvel
