#include "lib/scene/Model.h"

#include <algorithm>

#include "framework/classes/Filer.h"
#include "framework/gui/Dialogs.h"
#include "framework/io/Path.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/SysUtils.h"
#include "framework/rtl/Units.h"
#include "lib/animation/Animation.h"
#include "lib/animation/Armature.h"
#include "lib/animation/KeyAnimation.h"
#include "lib/defs/DefTypesAnimation.h"
#include "lib/defs/DefTypesArmature.h"
#include "lib/defs/DefTypesBitmapCache.h"
#include "lib/defs/DefTypesLights.h"
#include "lib/defs/DefTypesModel.h"
#include "lib/defs/DefTypesText.h"
#include "lib/formats/Loader.h"
#include "lib/formats/UtilsDialogs.h"
#include "lib/formats/assets/AssetsManager.h"
#include "lib/formats/q3m/Q3MExporter.h"
#include "lib/materials/MaterialDefault.h"
#include "lib/scene/Camera.h"
#include "lib/scene/Duplication.h"
#include "lib/scene/Light.h"
#include "lib/scene/Segment.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelModel, "Quorvel.Model")
void TQuorvelModel::Register(ClassBuilder<TQuorvelModel>& b) {
  b.Prop("AssetsManager", &Self::GetAssetsManager, &Self::SetAssetsManager)
      .Prop("PackageName", &Self::GetPackageName, &Self::SetPackageName)
      .Prop("Source", &Self::GetSource, &Self::SetSource)
      .Field("FWireframe", &Self::FWireframe)
      .Field("FWireframeMat", &Self::FWireframeMat, Reference)
      .Field("FAnimationManager", &Self::FAnimationManager, Reference)
      .Field("FAssetsManager", &Self::FAssetsManager, Reference)
      .Field("FPackage", &Self::FPackage, Reference)
      .Field("FPackageName", &Self::FPackageName)
      .Field("FSource", &Self::FSource);
}

namespace {

constexpr int64_t kCopyBufferSize = 1048576;

constexpr TAlphaColor kWireframeColor = MakeAlphaColor(0xFFFFFF00);

// Loaded definitions held by more than one model (a model and its copies): the number of
// holders beyond the first. Main thread only, as duplication and destruction are.
std::map<TModelDef*, int>& SharedDefHolders() {
  static std::map<TModelDef*, int> holders;
  return holders;
}

}  // namespace

// Hears of package definitions and packages going before the model's pointers into them do.
class TQuorvelModel::TPackageWatch : public IQuorvelAssetsListener {
public:
  explicit TPackageWatch(TQuorvelModel* AModel) : FModel(AModel) { AddAssetsListener(this); }
  ~TPackageWatch() override { RemoveAssetsListener(this); }
  void AssetDefinitionFreeing(TObject* ADef) override { FModel->PackageDefinitionFreeing(ADef); }
  void AssetPackageFreeing(TQuorvelAssetsPackage* APackage) override { FModel->PackageFreeing(APackage); }
  void AssetPackageDefinitionsChanged(TQuorvelAssetsPackage* APackage) override {
    FModel->PackageDefinitionsChanged(APackage);
  }

private:
  TQuorvelModel* FModel;
};

TQuorvelModel::TQuorvelModel(TComponent* AOwner)
    : TQuorvelMesh(AOwner), FPackageWatch(std::make_unique<TPackageWatch>(this)) {}

TQuorvelModel::~TQuorvelModel() = default;

void TQuorvelModel::AfterConstruction() {
  TQuorvelMesh::AfterConstruction();
  FWireframe = false;
  CreateModelComponents();
  SetHitTest(false);
}

void TQuorvelModel::BeforeDestruction() {
  FPackageWatch.reset();
  FBinaryData.reset();
  FTextureCache.reset();
  FreeAnimationManager();
  FreeInterpolators();
  FreeWireframeMaterial();
  ReleaseDef();
  TQuorvelMesh::BeforeDestruction();
}

TOwned<TQuorvelBitmapCache> TQuorvelModel::CopyTextureCache() {
  TOwned<TQuorvelBitmapCache> copies(New<TQuorvelBitmapCache>(this));
  for (int i = 0; i < FTextureCache->Count(); ++i) {
    TQuorvelBitmapCacheEntry* entry = FTextureCache->GetEntry(i);
    TQuorvelBitmapCacheEntry* copy = copies->AddEntry();
    copy->SetFilename(entry->GetFilename());
    if (entry->GetBitmap()) copy->SetBitmap(entry->GetBitmap());
  }
  return copies;
}

void TQuorvelModel::KeepTextureCacheBitmaps() {
  if (!FTextureCache) return;
  bool references = false;
  for (int i = 0; i < FTextureCache->Count(); ++i)
    references = references || FTextureCache->GetEntry(i)->GetIsOnlyRef();
  if (!references) return;
  FTextureCache = CopyTextureCache();
}

void TQuorvelModel::ReleaseDef() {
  // The cache may point at bitmaps of the definitions' texture assets, which go with them.
  if (!FOwnedDefs.empty() || !FPackageDefs.empty()) KeepTextureCacheBitmaps();
  // Only definitions this model loaded itself are looked at: a caller's may be gone already.
  std::vector<TModelDef*> owned = std::move(FOwnedDefs);
  FOwnedDefs.clear();
  FPackageDefs.clear();
  UnlinkDefs();
  for (TModelDef* def : owned) {
    if (auto it = SharedDefHolders().find(def); it != SharedDefHolders().end()) {
      if (--it->second == 0) SharedDefHolders().erase(it);
      continue;
    }
    if (!def->GetPackage() && !def->GetIsStandalone()) Free(def);
  }
}

void TQuorvelModel::DoDuplicate(TComponent* ASource, TQuorvelDuplicator* ADuplicator) {
  TQuorvelMesh::DoDuplicate(ASource, ADuplicator);
  auto* source = dynamic_cast<TQuorvelModel*>(ASource);
  if (!source) return;
  // The copy's meshes draw from the source's definitions: whichever model goes last frees them.
  for (TModelDef* def : source->FOwnedDefs) {
    FOwnedDefs.push_back(def);
    ++SharedDefHolders()[def];
  }
  FPackageDefs.insert(FPackageDefs.end(), source->FPackageDefs.begin(), source->FPackageDefs.end());
  if (!source->FAnimationManager || !FAnimationManager || FAnimationManager == source->FAnimationManager) return;
  for (const auto& [id, animation] : source->FAnimationManager->GetAnimations()) {
    auto it = ADuplicator->ObjectMap().find(animation);
    auto* copy = it == ADuplicator->ObjectMap().end() ? nullptr : dynamic_cast<TQuorvelAnimation*>(it->second);
    if (!copy || copy == animation) continue;
    copy->SetDef(animation->GetDef());
    // The copy may have listed itself already (its own duplication step); another animation
    // under that id keeps its place and the copy goes.
    bool listed = false;
    for (const auto& entry : FAnimationManager->GetAnimations()) listed = listed || entry.second == copy;
    if (listed) continue;
    if (TQuorvelAnimation* existing = FAnimationManager->AddAnimation(id, copy); existing && existing != copy) Free(copy);
  }
}

TModelDef* TQuorvelModel::GetModelDef() const { return dynamic_cast<TModelDef*>(GetDef()); }

TModelMetaDef* TQuorvelModel::GetMetaData() const {
  TModelDef* def = GetModelDef();
  return def ? def->GetMetaData() : nullptr;
}

void TQuorvelModel::Notification(TComponent* AComponent, TOperation Operation) {
  TQuorvelMesh::Notification(AComponent, Operation);
  if (Operation != opRemove) return;
  if (AComponent == FWireframeMat) FWireframeMat = nullptr;
  if (AComponent == FAnimationManager) ResetAnimationManager();
  if (!FPackageName.empty() && FAssetsManager && AComponent != FAssetsManager &&
      FAssetsManager->GetPackage(FPackageName) != FPackage) {
    FPackage = nullptr;
    FPackageName.clear();
  }
  if (AComponent == FAssetsManager) {
    FPackage = nullptr;
    FPackageName.clear();
    SetAssetsManager(nullptr);
  }
}

// ---- owned helpers ------------------------------------------------------------------------------

void TQuorvelModel::FreeAnimationManager() {
  TQuorvelAnimationManager* manager = FAnimationManager;
  FAnimationManager = nullptr;
  Free(manager);
}

void TQuorvelModel::FreeWireframeMaterial() {
  TMaterialSource* material = FWireframeMat;
  FWireframeMat = nullptr;
  if (material) {
    material->RemoveFreeNotification(this);
    Free(material);
  }
}

void TQuorvelModel::CreateAnimationManager() {
  if (FAnimationManager) {
    FAnimationManager->Clear();
    return;
  }
  FAnimationManager = New<TQuorvelAnimationManager>(this);
  FAnimationManager->SetSubComponent(true);
}

void TQuorvelModel::CreateWireframeMaterial() {
  if (FWireframeMat) return;
  auto* material = New<TColorMaterialSource>(nullptr);
  material->SetStored(false);
  material->SetColor(kWireframeColor);
  material->FreeNotification(this);
  FWireframeMat = material;
}

void TQuorvelModel::CreateModelComponents() {
  CreateInterpolators();
  CreateAnimationManager();
  CreateWireframeMaterial();
}

// ---- clear and load -------------------------------------------------------------------------------

void TQuorvelModel::Clear() {
  // Every link over the whole children tree goes before the definition: meshes built under
  // segments are in no Meshes list but hold nodes of it all the same.
  ReleaseDef();
  if (FAnimationManager) FAnimationManager->Clear();
  FInterpolators.clear();
  FMeshes.clear();
  for (const auto& [key, control] : TControls(GetControls())) RemoveControl(key);
  DeleteChildren();
  DestroyComponentsButIgnoreClass({TQuorvelAnimationManager::StaticClass(), TQuorvelAnimation::StaticClass()});
  CreateModelComponents();
  UpdateListings();
}

void TQuorvelModel::LoadFromOwnedDefinition(TModelDef* ADef) {
  if (!ADef) return;
  if (ADef->GetPackage()) {
    // A package's definition stays its model asset's; the model lets go of it when it goes.
    FPackageDefs.push_back(ADef);
    LoadFromDefinition(ADef);
    return;
  }
  // Owned from here on, also when the build fails half way (the children built so far keep
  // pointing into it).
  FOwnedDefs.push_back(ADef);
  LoadFromDefinition(ADef);
}

// ---- loading through the loader registry ----------------------------------------------------------

void TQuorvelModel::LoadFromFile(TQuorvelAssetsPackage* APackage, const std::string& AFilename,
                                 const TAnimationCachingFlags& ACaching) {
  TQuorvelLoader::LoadUndefinedExistingModelFromFile(this, APackage, AFilename, ACaching);
}

void TQuorvelModel::LoadFromFile(const std::string& AFilename) { LoadFromFile(nullptr, AFilename, {}); }

void TQuorvelModel::LoadFromFile(const TQuorvelLoadOptions& AOptions) {
  TQuorvelLoader::LoadUndefinedExistingModelFromFile(this, AOptions);
}

void TQuorvelModel::LoadFromStream(TQuorvelAssetsPackage* APackage, TStream* AStream, const std::string& APath,
                                   const TAnimationCachingFlags& ACaching) {
  TQuorvelLoader::LoadUndefinedExistingModelFromStream(this, APackage, AStream, APath, ACaching);
}

void TQuorvelModel::LoadFromStream(TStream* AStream, const std::string& APath) {
  LoadFromStream(nullptr, AStream, APath, {});
}

void TQuorvelModel::LoadFromStream(TStream* AStream, const TQuorvelLoadOptions& AOptions) {
  TQuorvelLoader::LoadUndefinedExistingModelFromStream(this, AStream, AOptions);
}

TQuorvelModel* TQuorvelModel::LoadNewModelFromFile(TComponent* AOwner, TQuorvelAssetsPackage* APackage,
                                                   const std::string& AFilename,
                                                   const TAnimationCachingFlags& ACaching) {
  return TQuorvelLoader::LoadUndefinedModelFromFile(AOwner, APackage, AFilename, ACaching);
}

TQuorvelModel* TQuorvelModel::LoadNewModelFromFile(TComponent* AOwner, const TQuorvelLoadOptions& AOptions) {
  return TQuorvelLoader::LoadUndefinedModelFromFile(AOwner, AOptions);
}

TQuorvelModel* TQuorvelModel::LoadNewModelFromStream(TComponent* AOwner, TQuorvelAssetsPackage* APackage,
                                                     TStream* AStream, const std::string& APath,
                                                     const TAnimationCachingFlags& ACaching) {
  return TQuorvelLoader::LoadUndefinedModelFromStream(AOwner, APackage, AStream, APath, ACaching);
}

TQuorvelModel* TQuorvelModel::LoadNewModelFromStream(TComponent* AOwner, TStream* AStream,
                                                     const TQuorvelLoadOptions& AOptions) {
  return TQuorvelLoader::LoadUndefinedModelFromStream(AOwner, AStream, AOptions);
}

TQuorvelModel* TQuorvelModel::LoadNewModelFromDef(TComponent* AOwner, TModelDef* ADef,
                                                  const TAnimationCachingFlags& ACaching) {
  return TQuorvelLoader::LoadModelFromDef(AOwner, ADef, ACaching);
}

TQuorvelModel* TQuorvelModel::LoadNewModelFromDef(TComponent* AOwner, TModelDef* ADef,
                                                  const TQuorvelLoadOptions& AOptions) {
  return TQuorvelLoader::LoadModelFromDef(AOwner, ADef, AOptions);
}

namespace {

TQuorvelAnimation* AddReadAnimation(TQuorvelModel* AModel, TAnimationDef* ADef, const TAnimationCachingFlags& ACaching,
                                    TQuorvelAnimation* AAnimation) {
  if (!AAnimation || !ADef || ADef->IsCached() || ACaching.IsEmpty()) return AAnimation;
  if (TModelDef* def = AModel->GetModelDef()) def->CacheAnimations({TValue(ADef->GetId())}, ACaching, AModel);
  return AAnimation;
}

}  // namespace

TQuorvelAnimation* TQuorvelModel::AddAnimationFromFile(const std::string& AFilename,
                                                       const TAnimationCachingFlags& ACaching) {
  TAnimationDef* def = TQuorvelLoader::LoadUndefinedAnimationDefFromFile(GetModelDef(), AFilename);
  return AddReadAnimation(this, def, ACaching, CreateAnimationFromDef(def));
}

TQuorvelAnimation* TQuorvelModel::AddAnimationFromStream(TStream* AStream, const std::string& AFileName,
                                                         const TAnimationCachingFlags& ACaching) {
  TAnimationDef* def = TQuorvelLoader::LoadUndefinedAnimationDefFromStream(GetModelDef(), AStream, AFileName);
  return AddReadAnimation(this, def, ACaching, CreateAnimationFromDef(def));
}

// ---- definitions ----------------------------------------------------------------------------------

void TQuorvelModel::LoadFromDefinition(TCustomDef* ADef) {
  if (!ADef) return;
  LoadFromDefinition(ADef->As<TModelDef>());
}

void TQuorvelModel::LoadFromDefinition(TModelDef* ADef) {
  if (!ADef) return;
  // A definition held before stays where it is (loading again adds children again).
  SetDef(ADef);
  if (GetQualifiedName().empty()) SetQualifiedName(ADef->GetId());
  if (GetName().empty()) SetName(ADef->GetQualifiedComponentName());
  ADef->IncCopyCount();
  // Snapshots: a camera or light made here must not change the lists while they are walked.
  std::vector<TCameraDef*> cameraDefs;
  if (ADef->GetCameras())
    for (TCameraDef* d : *ADef->GetCameras()) cameraDefs.push_back(d);
  std::vector<TLightDef*> lightDefs;
  if (ADef->GetLights())
    for (TLightDef* d : *ADef->GetLights()) lightDefs.push_back(d);
  std::vector<TQuorvelCamera*> cameras;
  for (TCameraDef* d : cameraDefs) {
    auto* camera = New<TQuorvelCamera>(this);
    camera->SetStored(false);
    camera->SetParent(this);
    camera->LoadFromDefinition(d);
    cameras.push_back(camera);
  }
  std::vector<TQuorvelLight*> lights;
  for (TLightDef* d : lightDefs) {
    auto* light = New<TQuorvelLight>(this);
    light->SetStored(false);
    light->SetParent(this);
    light->LoadFromDefinition(d);
    lights.push_back(light);
  }
  LoadHierarchyFromDefinition(ADef);
  auto reparent = [&](TControl3D* AControl, TTransformDef* ADefOf) {
    TCustomDef* owner = ADefOf->GetOwnerRef();
    if (!owner || owner == ADef) return;
    if (auto* target = dynamic_cast<TControl3D*>(FindGlobalComponent(owner->GetId()))) AControl->SetParent(target);
  };
  for (size_t i = 0; i < cameras.size(); ++i) reparent(cameras[i], cameraDefs[i]);
  for (size_t i = 0; i < lights.size(); ++i) reparent(lights[i], lightDefs[i]);
  // Armatures after the node tree: the meshes their controllers target exist by now.
  if (ADef->GetArmatures())
    for (TArmatureDef* d : *ADef->GetArmatures()) {
      auto* armature = New<TQuorvelArmature>(this);
      armature->SetStored(false);
      armature->SetParent(this);
      armature->LoadFromDefinition(d);
    }
  if (ADef->GetAnimations() && FAnimationManager)
    for (TAnimationDef* a : *ADef->GetAnimations()) CreateAnimationFromDef(a);
  LoadPropertiesFromDefinition(ADef);
  UpdateListings();
}

TQuorvelArmature* TQuorvelModel::GetFirstArmature() const {
  for (int i = 0; i < GetComponentCount(); ++i)
    if (auto* armature = dynamic_cast<TQuorvelArmature*>(GetComponents(i))) return armature;
  return nullptr;
}

bool TQuorvelModel::GetShowJoints() const {
  TQuorvelArmature* armature = GetFirstArmature();
  return armature && armature->GetShowJoints();
}

void TQuorvelModel::SetShowJoints(bool Value) {
  for (int i = 0; i < GetComponentCount(); ++i)
    if (auto* armature = dynamic_cast<TQuorvelArmature*>(GetComponents(i))) armature->SetShowJoints(Value);
}

TAlphaColor TQuorvelModel::GetJointsColor() const {
  TQuorvelArmature* armature = GetFirstArmature();
  return armature ? armature->GetJointsRenderColor() : TAlphaColor(0);
}

void TQuorvelModel::SetJointsColor(TAlphaColor Value) {
  for (int i = 0; i < GetComponentCount(); ++i)
    if (auto* armature = dynamic_cast<TQuorvelArmature*>(GetComponents(i))) armature->SetJointsRenderColor(Value);
}

TQuorvelAnimation* TQuorvelModel::CreateAnimationFromDef(TAnimationDef* ADef) {
  if (!ADef || !FAnimationManager) return nullptr;
  TQuorvelAnimation* animation = TQuorvelAnimation::CreateEx(FAnimationManager);
  animation->SetParent(this);
  if (FAnimationManager->AddAnimation(ADef->GetId(), animation)) {
    // The id is taken: the manager keeps the first.
    Free(animation);
    return nullptr;
  }
  animation->LoadFromAnimationDef(ADef);
  return animation;
}

// ---- keys and streaming -------------------------------------------------------------------------

void TQuorvelModel::LoadPropertiesFromDefinition(TTransformDef* ADef) {
  TQuorvelMesh::LoadPropertiesFromDefinition(ADef);
  FreeWireframeMaterial();
  TProperties* props = ADef->GetProperties();
  if (!props) return;
  TValue v;
  if (props->TryGetValue("Wireframe", v)) FWireframe = v.AsType<bool>();
  if (FWireframe && props->TryGetValue("WireframeMaterial", v)) {
    const std::string kind = v.AsType<std::string>();
    const bool colored = props->TryGetValue("WireframeColor", v);
    if (kind == "Color") {
      CreateWireframeMaterial();
      if (colored) static_cast<TColorMaterialSource*>(FWireframeMat)->SetColor(v.AsType<TAlphaColorF>().ToAlphaColor());
    } else if (kind == "Default") {
      auto* source = New<TQuorvelDefaultMaterialSource>(this);
      // Made from the definition: rebuilt on every load, never written to the form.
      source->SetStored(false);
      source->SetParent(this);
      source->FreeNotification(this);
      FWireframeMat = source;
      if (colored) source->SetColor(v.AsType<TAlphaColorF>().ToAlphaColor());
    }
  }
  if (props->TryGetValue("ShowJoints", v)) SetShowJoints(v.AsType<bool>());
  if (props->TryGetValue("JointsColor", v)) SetJointsColor(v.AsType<TAlphaColorF>().ToAlphaColor());
  auto* owner = dynamic_cast<TComponent*>(GetOwner());
  if (!FAssetsManager && owner && props->TryGetValue("AssetsManager", v)) {
    if (TComponent* found = owner->FindComponent(v.AsType<std::string>()))
      SetAssetsManager(found->As<TQuorvelAssetsManager>());
    else
      SetAssetsManager(static_cast<TQuorvelAssetsManager*>(
          FindComponentByExactClass(owner, TQuorvelAssetsManager::StaticClass())));
  }
  if (props->TryGetValue("PackageName", v)) FPackageName = v.AsType<std::string>();
  if (props->TryGetValue("Source", v)) FSource = v.AsType<std::string>();
  if (props->TryGetValue("CurrentAnimation", v) && FAnimationManager && FAnimationManager->AnimationCount() > 0)
    FAnimationManager->PlayAnimation(v.AsType<std::string>());
}

void TQuorvelModel::StoreToDefinition(TCustomDef* ADef) {
  TQuorvelMesh::StoreToDefinition(ADef);
  auto* def = dynamic_cast<TTransformDef*>(ADef);
  TProperties* p = def ? def->GetProperties() : nullptr;
  if (!p) return;
  // The definition keeps its own copies of the embedded textures: the model's cache stays whole
  // whichever of the two goes first.
  if (auto* model = dynamic_cast<TModelDef*>(def); model && FTextureCache)
    model->ApplyBitmapCache(CopyTextureCache().get());
  p->AddOrSetValue("Wireframe", TValue(FWireframe));
  if (auto* color = dynamic_cast<TColorMaterialSource*>(FWireframeMat)) {
    p->AddOrSetValue("WireframeMaterial", TValue(std::string("Color")));
    p->AddOrSetValue("WireframeColor", TValue(TAlphaColorF::Create(color->GetColor())));
  } else if (auto* source = dynamic_cast<TQuorvelDefaultMaterialSource*>(FWireframeMat)) {
    p->AddOrSetValue("WireframeMaterial", TValue(std::string("Default")));
    p->AddOrSetValue("WireframeColor", TValue(source->GetDiffuseF()));
  }
  p->AddOrSetValue("ShowJoints", TValue(GetShowJoints()));
  p->AddOrSetValue("JointsColor", TValue(TAlphaColorF::Create(GetJointsColor())));
  if (FAnimationManager) p->AddOrSetValue("AnimationManager", TValue(FAnimationManager->GetName()));
  TQuorvelAnimation* current = FAnimationManager ? FAnimationManager->GetCurrent() : nullptr;
  p->AddOrSetValue("CurrentAnimation", TValue(current ? current->GetId() : std::string()));
  if (FAssetsManager) p->AddOrSetValue("AssetsManager", TValue(FAssetsManager->GetName()));
  p->AddOrSetValue("PackageName", TValue(FPackageName));
  p->AddOrSetValue("Source", TValue(FSource));
}

void TQuorvelModel::SetBinaryData(TStream* AValue) {
  if (!FBinaryData) FBinaryData.reset(new TBytesStream());
  FBinaryData->SetSize(0);
  if (AValue && AValue->GetSize() > 0) {
    const int64_t position = AValue->GetPosition();
    struct Restore {
      TStream* S;
      int64_t P;
      ~Restore() { S->SetPosition(P); }
    } restore{AValue, position};
    AValue->SetPosition(0);
    FBinaryData->CopyFrom(AValue, AValue->GetSize(), kCopyBufferSize);
    FBinaryData->SetPosition(0);
  }
  if (FBinaryData->GetSize() == 0)
    Clear();
  else if (!FSource.empty())
    LoadFromBinaryData();
}

void TQuorvelModel::LoadFromBinaryData() {
  Clear();
  if (!FBinaryData || FBinaryData->GetSize() == 0) return;
  FBinaryData->SetPosition(0);
  TQuorvelLoadOptions options = TQuorvelLoadOptions::Create(FSource, ".q3m", nullptr, nullptr);
  options.BitmapCache = FTextureCache.get();
  LoadFromOwnedDefinition(TQuorvelLoader::LoadUndefinedModelDefFromStream(FBinaryData.get(), options));
}

void TQuorvelModel::UpdateBinaryData() {
  auto* def = GetModelDef();
  if (!def) return;
  if (!FTextureCache) FTextureCache.reset(New<TQuorvelBitmapCache>(this));
  def->RequestBitmapCache(FTextureCache.get());
  // A package's bitmaps go with its texture assets (a cleared or reloaded package) while the
  // model may still show the definition.
  if (def->GetPackage()) KeepTextureCacheBitmaps();
  TOwned<TQuorvelQ3MExporter> exporter(New<TQuorvelQ3MExporter>());
  if (!FBinaryData) FBinaryData.reset(new TBytesStream());
  FBinaryData->SetSize(0);
  exporter->SetFormat(TQuorvelQ3MFormat::BSONFormat);
  exporter->SetBeautified(false);
  exporter->SetZipped(true);
  exporter->SaveToStream(def, FBinaryData.get());
  FBinaryData->SetPosition(0);
}

void TQuorvelModel::SetSource(const std::string& Value) {
  Clear();
  if (Value != FSource) {
    // A new source makes the embedded copy stale.
    FBinaryData.reset();
    FTextureCache.reset();
  }
  FSource = Value;
  if (!FPackageName.empty()) {
    LoadFromPackage();
    return;
  }
  if (FBinaryData && FBinaryData->GetSize() > 0) {
    LoadFromBinaryData();
    return;
  }
  if (GetComponentState().Contains(csReading) || FSource.empty()) return;
  TQuorvelLoadOptions options = TQuorvelLoadOptions::Create(FSource, TAnimationCachingFlags(), nullptr, nullptr, nullptr);
  options.FileInfo.StrictFilename = true;
  if (GetComponentState().Contains(csDesigning)) options = TLoadOptionsForm::Execute(options);
  TProgressForm::Open("Loading model ...", [this, &options](TProgressForm*) {
    try {
      LoadFromFile(options);
    } catch (const std::exception& e) {
      ShowMessage(std::string("Failed to load model data: ") + e.what());
    }
  });
  try {
    UpdateBinaryData();
  } catch (const std::exception& e) {
    ShowMessage(std::string("Failed to store model data in binary storage: ") + e.what());
  }
}

TQuorvelLoadOptions TQuorvelModel::PackageLoadOptions(TQuorvelAssetsPackage* APackage) const {
  TQuorvelLoadOptions options = TQuorvelLoadOptions::Create(FSource, TAnimationCachingFlags(), APackage, nullptr);
  options.FileInfo.StrictFilename = true;
  options.FileInfo.Ext = ".q3m";
  options.Asset = TQuorvelLoader::FindExistingAssetInPackage(options);
  return options;
}

void TQuorvelModel::LoadFromPackage() {
  FPackageReloadPending = false;
  if (!FAssetsManager || FSource.empty()) return;
  TQuorvelAssetsPackage* package = GetPackage();
  if (!package) return;
  TQuorvelLoadOptions options = PackageLoadOptions(package);
  if (!options.Asset && GetComponentState().Contains(csDesigning)) options = TLoadOptionsForm::Execute(options);
  LoadFromFile(options);
}

void TQuorvelModel::PackageDefinitionFreeing(TObject* ADef) {
  if (std::find(FPackageDefs.begin(), FPackageDefs.end(), ADef) == FPackageDefs.end()) return;
  Clear();
  FPackageReloadPending = true;
}

void TQuorvelModel::PackageFreeing(TQuorvelAssetsPackage* APackage) {
  const bool shows = std::any_of(FPackageDefs.begin(), FPackageDefs.end(),
                                 [APackage](TModelDef* ADef) { return ADef->GetPackage() == APackage; });
  if (shows) Clear();
  if (FPackage != APackage) return;
  FPackage = nullptr;
  FPackageReloadPending = false;
}

void TQuorvelModel::PackageDefinitionsChanged(TQuorvelAssetsPackage* APackage) {
  if (!FPackageReloadPending || !FAssetsManager || FSource.empty() || GetPackage() != APackage) return;
  FPackageReloadPending = false;
  // Only the package's own model: a reload never reads or imports a file on its own.
  TQuorvelLoadOptions options = PackageLoadOptions(APackage);
  if (!options.Asset) return;
  Clear();
  LoadFromFile(options);
}

TQuorvelAssetsPackage* TQuorvelModel::GetPackage() {
  if (TModelDef* def = GetModelDef(); def && def->GetPackage()) FPackage = def->GetPackage()->As<TQuorvelAssetsPackage>();
  if (!FPackage && FAssetsManager && !FPackageName.empty()) FPackage = FAssetsManager->GetPackage(FPackageName);
  return FPackage;
}

void TQuorvelModel::ReloadFromPackage() {
  GetPackage();
  if (FAssetsManager && FPackage && !FSource.empty())
    SetSource(FSource);
  else if (!FPackage)
    Clear();
}

void TQuorvelModel::SetAssetsManager(TQuorvelAssetsManager* Value) {
  if (FAssetsManager && !Value) {
    FAssetsManager->RemoveFreeNotification(this);
    FAssetsManager = nullptr;
    FPackageName.clear();
    FPackage = nullptr;
    Clear();
    return;
  }
  if (Value != FAssetsManager) {
    FPackage = nullptr;
    if (FAssetsManager) FAssetsManager->RemoveFreeNotification(this);
    if (Value) Value->FreeNotification(this);
  }
  FAssetsManager = Value;
  ReloadFromPackage();
}

void TQuorvelModel::SetPackageName(const std::string& Value) {
  if (!FPackageName.empty() && Value.empty()) {
    FPackage = nullptr;
    FPackageName = Value;
    Clear();
    return;
  }
  FPackage = nullptr;
  FPackageName = Value;
  ReloadFromPackage();
}

void TQuorvelModel::DefineProperties(TFiler* Filer) {
  TQuorvelMesh::DefineProperties(Filer);
  Filer->DefineProperty(
      "TextureCache",
      [this](TReader* r) {
        if (!FTextureCache) FTextureCache.reset(New<TQuorvelBitmapCache>(this));
        r->ReadCollection(FTextureCache.get());
      },
      [this](TWriter* w) { w->WriteCollection(FTextureCache.get()); }, FTextureCache != nullptr);
  Filer->DefineBinaryProperty(
      "BinaryData",
      [this](TStream* s) {
        if (!FBinaryData) FBinaryData.reset(new TBytesStream());
        FBinaryData->SetSize(0);
        if (s->GetSize() > s->GetPosition()) FBinaryData->CopyFrom(s, s->GetSize() - s->GetPosition(), kCopyBufferSize);
        FBinaryData->SetPosition(0);
        LoadFromBinaryData();
      },
      [this](TStream* s) {
        FBinaryData->SetPosition(0);
        s->CopyFrom(FBinaryData.get(), FBinaryData->GetSize(), kCopyBufferSize);
        FBinaryData->SetPosition(0);
      },
      FBinaryData != nullptr);
}

// ---- interpolators and searches -----------------------------------------------------------------

void TQuorvelModel::AddInterpolator(const std::string& AName, TComponent* AInterpolator) {
  if (FInterpolators.count(AName))
    throw Exception(Format("interpolator %s already exists in %s", {AName, GetQualifiedName()}));
  FInterpolators.emplace(AName, AInterpolator);
}

TComponent* TQuorvelModel::FindInterpolator(const std::string& AName) const {
  auto it = FInterpolators.find(AName);
  return it == FInterpolators.end() ? nullptr : it->second;
}

TComponent* TQuorvelModel::FindControlByDeepSearch(const std::string& AName) {
  if (auto* found = FindInterpolator(AName)) return found;
  return TQuorvelMesh::FindControlByDeepSearch(AName);
}

void TQuorvelModel::FindControlsByDeepSearch(const std::string& AName, std::map<TComponent*, bool>* AResult) {
  if (AName.empty()) return;
  if (!AResult) throw Exception("result list not assigned");
  if (auto* found = FindInterpolator(AName)) AResult->emplace(found, false);
  TQuorvelMesh::FindControlsByDeepSearch(AName, AResult);
}

// ---- definitions of interpolators and placeholder segments ---------------------------------------

TComponent* TQuorvelModel::FindInterpolatorByDef(TCustomDef* ADef) const {
  if (!ADef) return nullptr;
  for (const auto& [name, interpolator] : FInterpolators)
    if (auto* key = dynamic_cast<TPropertyKeyAnimation*>(interpolator); key && key->GetDef() == ADef) return key;
  return nullptr;
}

TComponent* TQuorvelModel::FindControlByDefDeepSearch(TCustomDef* ADef) {
  if (TComponent* found = FindInterpolatorByDef(ADef)) return found;
  return TQuorvelMesh::FindControlByDefDeepSearch(ADef);
}

void TQuorvelModel::ResolvingSegment(const std::string& AId, TQuorvelTransform* AObj) {
  auto* segment = dynamic_cast<TQuorvelSegment*>(FindControlByDeepSearch(Format("%s_Seg", {AId})));
  if (!segment || !AObj) return;
  for (int i = segment->GetComponentCount() - 1; i >= 0; --i) {
    TComponent* component = segment->GetComponents(i);
    if (auto* control = dynamic_cast<TQuorvelControl*>(component)) {
      segment->MoveControlTo(control, AObj);
    } else {
      AObj->InsertComponent(component);
      if (auto* object = dynamic_cast<TFwObject*>(component)) object->SetParent(AObj);
    }
  }
  if (auto* parent = dynamic_cast<TQuorvelControl*>(segment->GetParent())) parent->RemoveControl(segment);
  Free(segment);
}

void TQuorvelModel::DebugOut(bool ACompHierarchy) {
  std::function<void(TComponent*, const std::string&)> components = [&](TComponent* c, const std::string& indent) {
    Log::d(Format("%s[%d]%s (%s)", {indent, int64_t(reinterpret_cast<intptr_t>(c)), c->GetName(), c->ClassName()}));
    for (int i = 0; i < c->GetComponentCount(); ++i) components(c->GetComponents(i), indent + "    ");
  };
  std::function<void(TFwObject*, const std::string&)> children = [&](TFwObject* o, const std::string& indent) {
    const int64_t address = int64_t(reinterpret_cast<intptr_t>(o));
    if (auto* c3 = dynamic_cast<TControl3D*>(o)) {
      const std::string text = Matrix3DToStr(c3->GetAbsoluteMatrix());
      Log::d(Format("%s[%d]%s (%s) [%s]", {indent, address, o->GetName(), o->ClassName(), text}));
    } else {
      Log::d(Format("%s[%d]%s (%s)", {indent, address, o->GetName(), o->ClassName()}));
    }
    for (int i = 0; i < o->GetChildrenCount(); ++i) children(o->GetChild(i), indent + "    ");
  };
  if (ACompHierarchy)
    components(this, "");
  else
    children(this, "");
}

namespace {

void InitModelUnit() { RegisterFwClasses({TQuorvelModel::StaticClass()}); }
void FinModelUnit() { UnRegisterClasses({TQuorvelModel::StaticClass()}); }
const TUnitRegistration ModelUnit{{"Quorvel.Model", {"Quorvel.Mesh"}, &InitModelUnit, &FinModelUnit}};

}  // namespace

}  // namespace quorvel
