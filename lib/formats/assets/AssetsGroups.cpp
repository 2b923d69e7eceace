// Asset groups and their collection; the assets manager.
#include <memory>

#include "framework/rtl/Finally.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/SysUtils.h"
#include "lib/formats/assets/AssetsArchives.h"
#include "lib/formats/assets/AssetsLayout.h"
#include "lib/formats/assets/AssetsManager.h"

namespace quorvel {

using namespace assets_layout;

FW_CLASS_IMPL(TQuorvelAssetsGroupCollection, "Quorvel.AssetsManager")
FW_CLASS_NO_MEMBERS(TQuorvelAssetsGroupCollection)
FW_CLASS_IMPL(TQuorvelAssetsGroup, "Quorvel.AssetsManager")
void TQuorvelAssetsGroup::Register(ClassBuilder<TQuorvelAssetsGroup>& b) {
  b.Prop("DisplayName", &Self::GetDisplayName, &Self::SetDisplayName)
      .Prop("AssetClassName", &Self::GetAssetClassName, &Self::SetAssetClassName);
}
FW_CLASS_IMPL(TQuorvelAssetsPackageCollection, "Quorvel.AssetsManager")
FW_CLASS_NO_MEMBERS(TQuorvelAssetsPackageCollection)
FW_CLASS_IMPL(TQuorvelAssetsManager, "Quorvel.AssetsManager")
void TQuorvelAssetsManager::Register(ClassBuilder<TQuorvelAssetsManager>& b) {
  b.Prop("LOD", &Self::GetLOD, &Self::SetLOD).Prop("Packages", &Self::GetPackages, &Self::SetPackages);
}

// ---------------------------------------------------------------------------------------
// TQuorvelAssetsGroupCollection

TQuorvelAssetsGroupCollection::TQuorvelAssetsGroupCollection(TPersistent* AOwner)
    : TOwnedCollection(AOwner, TQuorvelAssetsGroup::StaticClass()) {}

TQuorvelAssetsPackage* TQuorvelAssetsGroupCollection::GetPackage() const {
  TPersistent* owner = GetOwner();
  if (!owner) throw Exception("Unexpected group collection owner. Only package or asset allowed, but not assigned");
  if (auto* package = dynamic_cast<TQuorvelAssetsPackage*>(owner)) return package;
  if (auto* asset = dynamic_cast<TQuorvelAsset*>(owner)) {
    if (!asset->GetGroup()) throw Exception("Unexpected group collection owner. Asset owner set, but group not assigned");
    return asset->GetGroup()->GetPackage();
  }
  throw Exception(
      Format("Unexpected group collection owner. Only package or asset allowed, but %s found", {owner->ClassName()}));
}

TQuorvelAssetsPackage* TQuorvelAssetsGroupCollection::FindPackage() const noexcept {
  TPersistent* owner = GetOwner();
  if (auto* package = dynamic_cast<TQuorvelAssetsPackage*>(owner)) return package;
  auto* asset = dynamic_cast<TQuorvelAsset*>(owner);
  TQuorvelAssetsGroup* group = asset ? asset->GetGroup() : nullptr;
  auto* above = group ? dynamic_cast<TQuorvelAssetsGroupCollection*>(group->GetCollection()) : nullptr;
  return above ? above->FindPackage() : nullptr;
}

TQuorvelAssetsGroup* TQuorvelAssetsGroupCollection::Group(int32_t AIdx) const {
  return Items<TQuorvelAssetsGroup>(AIdx);
}

// ---------------------------------------------------------------------------------------
// TQuorvelAssetsGroup

TQuorvelAssetsGroup::TQuorvelAssetsGroup(TCollection* ACollection) : TCollectionItem(ACollection) {}

TQuorvelAssetsGroup::~TQuorvelAssetsGroup() {
  for (TQuorvelAsset* asset : FAssets) {
    if (auto* model = dynamic_cast<TQuorvelModelAsset*>(FOwnerAsset)) model->ReleaseTextureAsset(asset);
    FreeQuietly(asset, "package asset");
  }
}

void TQuorvelAssetsGroup::BeforeDestruction() {
  Quietly("asset group: clearing", [&] { Clear(false); });
  TCollectionItem::BeforeDestruction();
}

TQuorvelAssetsGroup* TQuorvelAssetsGroup::CreateForAsset(TCollection* ACollection, const TQuorvelAssetClass* AClass) {
  auto* group = New<TQuorvelAssetsGroup>(ACollection);
  group->Initialize(AClass);
  return group;
}

void TQuorvelAssetsGroup::Initialize(const TQuorvelAssetClass* AClass) { FAssetClass = AClass; }

std::string TQuorvelAssetsGroup::GetAssetClassName() const {
  if (!FAssetClass) {
    const int32_t index = GetGroupIndex();
    if (index < 0 || index > 9) return TQuorvelAsset::StaticClass()->ClassName();
    FAssetClass = TQuorvelAssetClass::Kinds()[size_t(index)];
  }
  return FAssetClass->ClassName();
}

void TQuorvelAssetsGroup::SetAssetClassName(const std::string& AValue) {
  const TClass* cls = GetClass(AValue);
  if (!cls)
    FAssetClass = TQuorvelAsset::StaticMeta();
  else if (cls->InheritsFrom(TQuorvelAsset::StaticClass()))
    FAssetClass = cls->MetaAs<TQuorvelAssetClass>();
}

TQuorvelAssetsPackage* TQuorvelAssetsGroup::GetPackage() const {
  auto* groups = dynamic_cast<TQuorvelAssetsGroupCollection*>(GetCollection());
  return groups ? groups->GetPackage() : nullptr;
}

int32_t TQuorvelAssetsGroup::GetGroupIndex() const {
  auto* groups = dynamic_cast<TQuorvelAssetsGroupCollection*>(GetCollection());
  TQuorvelAssetsPackage* package = groups ? groups->FindPackage() : nullptr;
  return package ? package->GetGroupIndex(FDescr) : -1;
}

std::string TQuorvelAssetsGroup::GetArchivePath() const {
  return GroupPath(FOwnerAsset ? FOwnerAsset->GetArchivePath() : std::string(), FDescr);
}

std::string TQuorvelAssetsGroup::GetDescriptorPath(std::string_view APath) {
  return DescriptorEntry(APath, GroupDescriptorName);
}

TQuorvelArchiveReference* TQuorvelAssetsGroup::StoreArchive() const {
  auto* groups = dynamic_cast<TQuorvelAssetsGroupCollection*>(GetCollection());
  TQuorvelAssetsPackage* package = groups ? groups->FindPackage() : nullptr;
  return package && package->GetManager() ? package->GetArchive() : nullptr;
}

void TQuorvelAssetsGroup::ModifyBefore(TQuorvelPackageEvent AEvent, TObject* AItem) const {
  auto* groups = dynamic_cast<TQuorvelAssetsGroupCollection*>(GetCollection());
  if (TQuorvelAssetsPackage* package = groups ? groups->FindPackage() : nullptr) package->DoModifyBefore(AEvent, AItem);
}

void TQuorvelAssetsGroup::ModifyAfter(TQuorvelPackageEvent AEvent, TObject* AItem) const {
  auto* groups = dynamic_cast<TQuorvelAssetsGroupCollection*>(GetCollection());
  if (TQuorvelAssetsPackage* package = groups ? groups->FindPackage() : nullptr) package->DoModifyAfter(AEvent, AItem);
}

TQuorvelAsset* TQuorvelAssetsGroup::GetAsset(int32_t AIndex) const {
  if (AIndex < 0 || AIndex >= Count()) return nullptr;
  return FAssets[size_t(AIndex)];
}

TQuorvelAsset* TQuorvelAssetsGroup::FindAssetById(const TGUID& AId) const {
  for (TQuorvelAsset* asset : FAssets)
    if (asset->GetId() == AId) return asset;
  return nullptr;
}

TQuorvelAsset* TQuorvelAssetsGroup::FindAssetByFilename(const std::string& AFilename, bool AStrictFilename) const {
  const std::string name = AStrictFilename ? AFilename : FileNamePart(AFilename);
  for (TQuorvelAsset* asset : FAssets) {
    if (asset->GetFilename() == name) return asset;
    if (!AStrictFilename && FileNamePart(asset->GetFilename()) == name) return asset;
  }
  return nullptr;
}

TQuorvelAsset* TQuorvelAssetsGroup::GetAssetFromFile(const std::string& AFilename, bool AStrictFilename) {
  if (TQuorvelAsset* found = FindAssetByFilename(AFilename, AStrictFilename)) return found;
  if (!FAssetClass) return nullptr;
  ModifyBefore(TQuorvelPackageEvent::AssetAdd, nullptr);
  TAssetImportFlags flags;
  if (AStrictFilename) flags.Include(TAssetImportFlag::StrictFileName);
  TQuorvelAsset* asset = FAssetClass->ImportFromFile(this, AFilename, flags);
  ModifyAfter(TQuorvelPackageEvent::AssetAdd, asset);
  return asset;
}

TQuorvelAsset* TQuorvelAssetsGroup::GetAssetFromStream(const std::string& AFilename, TStream* AStream,
                                                       bool AStrictFilename) {
  if (TQuorvelAsset* found = FindAssetByFilename(AFilename, AStrictFilename)) return found;
  if (!FAssetClass) return nullptr;
  ModifyBefore(TQuorvelPackageEvent::AssetAdd, nullptr);
  TAssetImportFlags flags;
  if (FAssetClass->InheritsFrom(TQuorvelTextureAsset::StaticClass())) flags.Include(TAssetImportFlag::Cached);
  if (AStrictFilename) flags.Include(TAssetImportFlag::StrictFileName);
  TOwned<TQuorvelAsset> asset(FAssetClass->CreateAs<TQuorvelAsset>(this));
  asset->ImportFromStream(AFilename, AStream, flags);
  InsertAsset(asset.get());
  TQuorvelAsset* result = asset.release();
  ModifyAfter(TQuorvelPackageEvent::AssetAdd, result);
  return result;
}

bool TQuorvelAssetsGroup::AddAsset(TQuorvelAsset* AAsset) {
  if (!AAsset) return false;
  if (AAsset->ClassType() != FAssetClass)
    throw EQuorvelAssetsException(Format("failed to add existing asset - invalid group class %s <> %s",
                                         {FAssetClass ? FAssetClass->QualifiedClassName() : std::string(),
                                          AAsset->QualifiedClassName()}));
  if (FindAssetById(AAsset->GetId())) {
    Log::d(Format("asset \"%s\" already exists in group \"%s\" - could be an asset loaded implicitly by another asset "
                  "(maybe a texture autoloaded by a model)",
                  {AAsset->GetFilename(), FDescr}));
    return false;
  }
  ModifyBefore(TQuorvelPackageEvent::AssetAdd, AAsset);
  InsertAsset(AAsset);
  ModifyAfter(TQuorvelPackageEvent::AssetAdd, AAsset);
  return true;
}

TQuorvelAsset* TQuorvelAssetsGroup::AddEmptyAsset(const std::string& AFileName, bool AStrictFileName) {
  if (!FAssetClass) return nullptr;
  ModifyBefore(TQuorvelPackageEvent::AssetAdd, nullptr);
  TOwned<TQuorvelAsset> asset(FAssetClass->CreateAs<TQuorvelAsset>(this));
  asset->FFilename = AStrictFileName ? AFileName : FileNamePart(AFileName);
  InsertAsset(asset.get());
  TQuorvelAsset* result = asset.release();
  ModifyAfter(TQuorvelPackageEvent::AssetAdd, result);
  return result;
}

TQuorvelAsset* TQuorvelAssetsGroup::AddEmptyAsset(const TGUID& AId) {
  if (!FAssetClass) return nullptr;
  if (FindAssetById(AId)) throw EDuplicateKey("Duplicates not allowed");
  ModifyBefore(TQuorvelPackageEvent::AssetAdd, nullptr);
  TOwned<TQuorvelAsset> asset(FAssetClass->CreateAs<TQuorvelAsset>(this));
  asset->SetId(AId);
  InsertAsset(asset.get());
  TQuorvelAsset* result = asset.release();
  ModifyAfter(TQuorvelPackageEvent::AssetAdd, result);
  return result;
}

void TQuorvelAssetsGroup::InsertAsset(TQuorvelAsset* AAsset) {
  if (FindAssetById(AAsset->GetId())) throw EDuplicateKey("Duplicates not allowed");
  FAssets.push_back(AAsset);
}

void TQuorvelAssetsGroup::RemoveAll() {
  ModifyBefore(TQuorvelPackageEvent::AssetClear, this);
  auto* groups = dynamic_cast<TQuorvelAssetsGroupCollection*>(GetCollection());
  TQuorvelAssetsPackage* package = !FOwnerAsset && groups ? groups->FindPackage() : nullptr;
  while (!FAssets.empty()) {
    TQuorvelAsset* asset = FAssets.back();
    ModifyBefore(TQuorvelPackageEvent::AssetRemove, asset);
    FAssets.pop_back();
    // A model asset's definition may point at the textures of its sub-groups, and the
    // definitions of the package's models at the textures of the package's own groups.
    if (auto* model = dynamic_cast<TQuorvelModelAsset*>(FOwnerAsset)) {
      model->ReleaseTextureAsset(asset);
    } else if (package && dynamic_cast<TQuorvelTextureAsset*>(asset)) {
      for (int32_t g = 0; g < package->GroupCount(); ++g)
        for (TQuorvelAsset* other : package->GetGroups()->Group(g)->Assets())
          if (auto* holder = dynamic_cast<TQuorvelModelAsset*>(other)) holder->ReleaseTextureAsset(asset);
    }
    Free(asset);
    ModifyAfter(TQuorvelPackageEvent::AssetRemove, nullptr);
  }
  ModifyAfter(TQuorvelPackageEvent::AssetClear, this);
}

void TQuorvelAssetsGroup::Clear(bool ADeleteInArchive) {
  ModifyBefore(TQuorvelPackageEvent::GroupClear, this);
  auto* groups = dynamic_cast<TQuorvelAssetsGroupCollection*>(GetCollection());
  TQuorvelAssetsPackage* package = groups ? groups->FindPackage() : nullptr;
  if (ADeleteInArchive && package && package->HasArchive()) {
    TQuorvelArchiveReference* archive = package->GetArchive();
    InSession(archive, [&] {
      for (TQuorvelAsset* asset : FAssets) {
        for (int32_t i = 0; i < asset->SubGroupCount(); ++i) asset->GetSubGroup(i)->Clear(true);
        asset->GetSubGroups()->Clear();
        archive->DeleteFile(TQuorvelAsset::GetDescriptorPath(asset->GetArchivePath()));
        archive->DeleteFile(DataEntry(asset->GetArchivePath(), asset->GetFilename()));
      }
      archive->DeleteFile(GetDescriptorPath(GetArchivePath()));
    });
  }
  RemoveAll();
  ModifyAfter(TQuorvelPackageEvent::GroupClear, this);
}

void TQuorvelAssetsGroup::Assign(TPersistent* ASource) {
  auto* source = dynamic_cast<TQuorvelAssetsGroup*>(ASource);
  if (!source) {
    TCollectionItem::Assign(ASource);
    return;
  }
  ModifyBefore(TQuorvelPackageEvent::GroupAssign, this);
  FDescr = source->FDescr;
  FOwnerAsset = source->FOwnerAsset;
  FAssetClass = source->FAssetClass;
  RemoveAll();
  ModifyAfter(TQuorvelPackageEvent::GroupAssign, this);
}

TJSONObject* TQuorvelAssetsGroup::ToJSON() const {
  auto obj = std::make_unique<TJSONObject>();
  obj->AddPair("Id", int32_t(GetID()));
  obj->AddPair("Descr", FDescr);
  obj->AddPair("Version", "1.3");
  if (FAssetClass) obj->AddPair("AssetClass", FAssetClass->QualifiedClassName());
  return obj.release();
}

void TQuorvelAssetsGroup::FromJSON(const TJSONObject* AValue) {
  if (!AValue || !AValue->GetValue("Id"))
    throw EQuorvelAssetsException("failed to read group from json - missing \"Id\" field");
  if (const TJSONValue* descr = AValue->GetValue("Descr")) FDescr = descr->Value();
}

void TQuorvelAssetsGroup::StoreToArchive(TQuorvelArchiveReference* AArchive) {
  if (!AArchive) return;
  const std::string path = GetArchivePath();
  std::unique_ptr<TJSONObject> json(ToJSON());
  WriteDescriptor(AArchive, GetDescriptorPath(path), json.get());
  // A copy: storing never changes the group, but a loop over a copy cannot be broken by it.
  const std::vector<TQuorvelAsset*> assets = FAssets;
  for (TQuorvelAsset* asset : assets) asset->StoreToArchive(AArchive, path);
}

TQuorvelAssetsGroup* TQuorvelAssetsGroup::LoadFromArchive(TCollection* ACollection, TQuorvelArchiveReference* AArchive,
                                                          const std::string& APath) {
  if (!AArchive) return nullptr;
  std::unique_ptr<TJSONObject> json(ReadDescriptor(AArchive, GetDescriptorPath(APath)));
  if (!json) return nullptr;
  const TJSONValue* name = json->GetValue("AssetClass");
  const TClass* cls = name ? GetClass(name->Value()) : nullptr;
  // A class that is no asset creates nothing.
  if (!cls || !cls->InheritsFrom(TQuorvelAsset::StaticClass())) return nullptr;
  TQuorvelAssetsGroup* group = CreateForAsset(ACollection, cls->MetaAs<TQuorvelAssetClass>());
  group->FromJSON(json.get());
  return group;
}

int64_t TQuorvelAssetsGroup::GetSize() const {
  int64_t size = int64_t(sizeof(*this));
  for (TQuorvelAsset* asset : FAssets) size += 16 + asset->GetSize();
  return size;
}

std::string TQuorvelAssetsGroup::Log(const std::string& AIndent) const {
  std::string text = Format("%s%s (%s)\r\n", {AIndent, FDescr, GetAssetClassName()});
  for (TQuorvelAsset* asset : FAssets) text += asset->Log(AIndent + AIndent);
  return text;
}

// ---------------------------------------------------------------------------------------
// TQuorvelAssetsPackageCollection

TQuorvelAssetsPackageCollection::TQuorvelAssetsPackageCollection(TQuorvelAssetsManager* AOwner)
    : TOwnedCollection(AOwner, TQuorvelAssetsPackage::StaticClass()) {}

TQuorvelAssetsManager* TQuorvelAssetsPackageCollection::GetManager() const {
  return dynamic_cast<TQuorvelAssetsManager*>(GetOwner());
}

// ---------------------------------------------------------------------------------------
// TQuorvelAssetsManager

TQuorvelAssetsManager::TQuorvelAssetsManager(TComponent* AOwner)
    : TComponent(AOwner),
      FArchiveReferences(New<TQuorvelArchiveReferences>(this)),
      FPackages(New<TQuorvelAssetsPackageCollection>(this)) {}

TQuorvelAssetsManager::~TQuorvelAssetsManager() {
  FreeQuietly(FPackages.release(), "assets manager packages");
  FreeQuietly(FArchiveReferences.release(), "assets manager archives");
}

void TQuorvelAssetsManager::BeforeDestruction() {
  // Models that show a package's definitions hear of the removal while those still exist;
  // then the packages go, each giving its archive back before the registry goes.
  TComponent::BeforeDestruction();
  Quietly("assets manager: clearing packages", [&] { ClearPackages(); });
}

void TQuorvelAssetsManager::SetPackages(TQuorvelAssetsPackageCollection* AValue) { FPackages->Assign(AValue); }

int32_t TQuorvelAssetsManager::PackageCount() const { return FPackages ? FPackages->Count() : 0; }

TQuorvelAssetsPackage* TQuorvelAssetsManager::AddEmptyPackage(const std::string& ADescr) {
  if (!FPackages) return nullptr;
  auto* package = FPackages->AddItem<TQuorvelAssetsPackage>();
  package->SetDisplayName(ADescr);
  package->Initialize();
  return package;
}

int32_t TQuorvelAssetsManager::GetPackageIndex(const TGUID& AGUID) const {
  for (int32_t i = 0; i < PackageCount(); ++i)
    if (GetPackage(i)->GetGUID() == AGUID) return i;
  return -1;
}

int32_t TQuorvelAssetsManager::GetPackageIndex(const std::string& ADescr) const {
  for (int32_t i = 0; i < PackageCount(); ++i)
    if (GetPackage(i)->GetDisplayName() == ADescr) return i;
  return -1;
}

TQuorvelAssetsPackage* TQuorvelAssetsManager::GetPackage(int32_t AIndex) const {
  if (AIndex < 0 || AIndex >= PackageCount()) return nullptr;
  return FPackages->Items<TQuorvelAssetsPackage>(AIndex);
}

TQuorvelAssetsPackage* TQuorvelAssetsManager::GetPackage(const TGUID& AGUID) const { return GetPackage(GetPackageIndex(AGUID)); }

TQuorvelAssetsPackage* TQuorvelAssetsManager::GetPackage(const std::string& ADescr) const {
  return GetPackage(GetPackageIndex(ADescr));
}

void TQuorvelAssetsManager::RemovePackage(const TGUID& AGUID) { Free(GetPackage(AGUID)); }
void TQuorvelAssetsManager::RemovePackage(const std::string& ADescr) { Free(GetPackage(ADescr)); }

void TQuorvelAssetsManager::ClearPackages() {
  if (FPackages) FPackages->Clear();
}

void TQuorvelAssetsManager::Refresh() {
  for (int32_t i = 0; i < PackageCount(); ++i) GetPackage(i)->Refresh();
}

TQuorvelAssetsPackage* TQuorvelAssetsManager::LoadPackageFromFile(const std::string& AFilename) {
  TQuorvelAssetsPackage* package = AddEmptyPackage(FileNamePart(AFilename));
  if (package) package->LoadFromFile(AFilename);
  return package;
}

int64_t TQuorvelAssetsManager::GetSize() const {
  if (!FPackages) return 0;
  int64_t size = int64_t(sizeof(*this)) + int64_t(sizeof(TQuorvelAssetsPackageCollection));
  for (int32_t i = 0; i < PackageCount(); ++i) size += GetPackage(i)->GetSize();
  return size;
}

}  // namespace quorvel
