// Asset packages: groups, archive, loading and saving, asset lookups.
#include <filesystem>

#include "framework/io/Stream.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/SysUtils.h"
#include "lib/formats/assets/AssetsArchives.h"
#include "lib/formats/assets/AssetsLayout.h"
#include "lib/formats/assets/AssetsListeners.h"
#include "lib/formats/assets/AssetsManager.h"

namespace quorvel {

using namespace assets_layout;

FW_CLASS_IMPL(TQuorvelAssetsPackage, "Quorvel.AssetsManager")
void TQuorvelAssetsPackage::Register(ClassBuilder<TQuorvelAssetsPackage>& b) {
  b.Prop("DisplayName", &Self::GetDisplayName, &Self::SetDisplayName)
      .Prop("Groups", &Self::GetGroups, &Self::SetGroups)
      .Prop("Filename", &Self::GetFilename, &Self::SetFilename)
      .Prop("OnModifyBefore", &Self::GetOnModifyBefore, &Self::SetOnModifyBefore)
      .Prop("OnModifyAfter", &Self::GetOnModifyAfter, &Self::SetOnModifyAfter);
}

namespace {

// The built-in groups by index, and the other name each index accepts.
constexpr const char* GroupNames[10] = {"MODEL", "TEXTURE", "AUDIO", "VIDEO", "MISC",
                                        "DIALOGUE", "INVENTORY", "SCRIPT", "PREFAB", "SKILLS"};
constexpr const char* GroupAltNames[10] = {"MODELS", "TEXTURES", "AUDIO", "VIDEO", "MISC",
                                           "DIALOGUES", "INVENTORY", "SCRIPTS", "PREFABS", "SKILLS"};

[[noreturn]] void InvalidPackageGroup(int32_t AIdx, const std::string& AWhat) {
  throw EQuorvelAssetsException(Format("invalid group name \"%d\" for asset \"%s\"", {AIdx, AWhat}));
}

}  // namespace

TQuorvelAssetsPackage::TQuorvelAssetsPackage(TCollection* ACollection) : TCollectionItem(ACollection) { Initialize(); }

TQuorvelAssetsPackage::~TQuorvelAssetsPackage() {
  assets_listeners::PackageFreeing(this);
  Quietly("package: releasing the archive", [&] { Close(); });
  FreeQuietly(FGroups.release(), "package groups");
}

void TQuorvelAssetsPackage::BeforeDestruction() {
  // Holders of the package hear of it while its definitions still exist.
  assets_listeners::PackageFreeing(this);
  Quietly("package: releasing the archive", [&] { Close(); });
  Quietly("package: clearing groups", [&] {
    if (FGroups) FGroups->Clear();
  });
  TCollectionItem::BeforeDestruction();
}

void TQuorvelAssetsPackage::Initialize() {
  DoModifyBefore(TQuorvelPackageEvent::PackageInitialize, this);
  if (!FGroups) {
    FGUID = TGUID::NewGuid();
    FGroups.reset(New<TQuorvelAssetsGroupCollection>(this));
  }
  for (const TQuorvelAssetClass* kind : TQuorvelAssetClass::Kinds()) AddGroup(kind);
  DoModifyAfter(TQuorvelPackageEvent::PackageInitialize, this);
}

void TQuorvelAssetsPackage::Close() {
  if (!FArchive) return;
  TQuorvelArchiveReference* archive = FArchive;
  FArchive = nullptr;
  archive->DecRef();
}

void TQuorvelAssetsPackage::DoModifyBefore(TQuorvelPackageEvent AEvent, TObject* AItem) {
  if (OnModifyBefore) OnModifyBefore(this, AEvent, AItem);
}

void TQuorvelAssetsPackage::DoModifyAfter(TQuorvelPackageEvent AEvent, TObject* AItem) {
  if (OnModifyAfter) OnModifyAfter(this, AEvent, AItem);
}

void TQuorvelAssetsPackage::SetDisplayName(const std::string& Value) {
  DoModifyBefore(TQuorvelPackageEvent::PackageName, this);
  FDescr = Value;
  DoModifyAfter(TQuorvelPackageEvent::PackageName, this);
}

void TQuorvelAssetsPackage::SetGroups(TQuorvelAssetsGroupCollection* AValue) {
  DoModifyBefore(TQuorvelPackageEvent::GroupAssign, FGroups.get());
  if (!FGroups) Initialize();
  FGroups->Assign(AValue);
  DoModifyAfter(TQuorvelPackageEvent::GroupAssign, FGroups.get());
}

TQuorvelAssetsManager* TQuorvelAssetsPackage::GetManager() const {
  auto* packages = dynamic_cast<TQuorvelAssetsPackageCollection*>(GetCollection());
  return packages ? packages->GetManager() : nullptr;
}

TQuorvelArchiveReference* TQuorvelAssetsPackage::GetArchive() {
  if (FArchive) return FArchive;
  TQuorvelAssetsManager* manager = GetManager();
  if (!manager) throw Exception("missing assets manager reference in package");
  TQuorvelArchiveReferences* archives = manager->GetArchiveReferences();
  if (!archives) throw Exception("missing archive references in assets manager");
  if (FFilename.empty()) {
    // Keyed by name and GUID: two packages of one name must not share one archive.
    FArchive = archives->CreateArchiveInMemory(FDescr + FGUID.ToString());
  } else {
    // The name as SetFilename resolves it, never the placeholder text.
    FArchive = archives->CreateArchiveByFilename(FResolvedFilename.empty() ? ResolveFilename(FFilename)
                                                                           : FResolvedFilename);
  }
  return FArchive;
}

// ---- groups ---------------------------------------------------------------------------------------

TQuorvelAssetsGroup* TQuorvelAssetsPackage::AddGroup(const TQuorvelAssetClass* AClass) {
  DoModifyBefore(TQuorvelPackageEvent::GroupAdd, nullptr);
  if (!FGroups || !AClass) return nullptr;
  if (TQuorvelAssetsGroup* found = GetGroup(AClass->GroupDescr())) return found;
  TQuorvelAssetsGroup* group = TQuorvelAssetsGroup::CreateForAsset(FGroups.get(), AClass);
  group->SetDisplayName(AClass->GroupDescr());
  DoModifyAfter(TQuorvelPackageEvent::GroupAdd, group);
  return group;
}

void TQuorvelAssetsPackage::RemoveGroup(int32_t AIdx) {
  DoModifyBefore(TQuorvelPackageEvent::GroupRemove, nullptr);
  Free(GetGroup(AIdx));
  DoModifyAfter(TQuorvelPackageEvent::GroupRemove, nullptr);
}

void TQuorvelAssetsPackage::RemoveGroup(const std::string& ADescr) {
  DoModifyBefore(TQuorvelPackageEvent::GroupRemove, nullptr);
  Free(GetGroup(ADescr));
  DoModifyAfter(TQuorvelPackageEvent::GroupRemove, nullptr);
}

int32_t TQuorvelAssetsPackage::GroupCount() const noexcept { return FGroups ? FGroups->Count() : 0; }

TQuorvelAssetsGroup* TQuorvelAssetsPackage::GetGroup(int32_t AIdx) const {
  if (AIdx < 0 || AIdx >= GroupCount()) return nullptr;
  TQuorvelAssetsGroup* group = FGroups->Group(AIdx);
  if (AIdx > 9) return group;
  if (group->GetDescr() == GroupNames[AIdx] || group->GetDescr() == GroupAltNames[AIdx]) return group;
  Log::d(Format("invalid group id <> name correlation found for \"%s\"", {std::string(GroupNames[AIdx])}));
  if (TQuorvelAssetsGroup* named = GetGroup(std::string(GroupNames[AIdx]))) return named;
  return GetGroup(std::string(GroupAltNames[AIdx]));
}

TQuorvelAssetsGroup* TQuorvelAssetsPackage::GetGroup(const std::string& ADescr) const {
  const int32_t index = GetGroupIndex(ADescr);
  return index < 0 ? nullptr : FGroups->Group(index);
}

int32_t TQuorvelAssetsPackage::GetGroupIndex(const std::string& ADescr) const {
  for (int32_t i = 0; i < GroupCount(); ++i)
    if (FGroups->Group(i)->GetDescr() == ADescr) return i;
  return -1;
}

int32_t TQuorvelAssetsPackage::GetGroupIndex(const TQuorvelAssetsGroup* AGroup) const {
  for (int32_t i = 0; i < GroupCount(); ++i)
    if (FGroups->Group(i) == AGroup) return i;
  return -1;
}

TQuorvelAssetsGroup* TQuorvelAssetsPackage::GetGroupByExtension(std::string_view AExt) const {
  const std::string ext = LowerCase(AExt);
  for (int32_t i = 0; i < GroupCount(); ++i) {
    TQuorvelAssetsGroup* group = FGroups->Group(i);
    if (group->GetAssetClass() && group->GetAssetClass()->IsExtensionSupported(ext)) return group;
  }
  return nullptr;
}

void TQuorvelAssetsPackage::ClearGroup(int32_t AIdx, bool ADeleteInArchive) {
  if (TQuorvelAssetsGroup* group = GetGroup(AIdx)) group->Clear(ADeleteInArchive);
}

// ---- contents -------------------------------------------------------------------------------------

void TQuorvelAssetsPackage::Clear(bool ADeleteInArchive) {
  DoModifyBefore(TQuorvelPackageEvent::PackageClear, this);
  if (ADeleteInArchive && FArchive)
    InSession(FArchive, [&] {
      for (const std::string& name : FArchive->GetFileNames()) FArchive->DeleteFile(name);
    });
  if (FGroups) FGroups->Clear();
  DoModifyAfter(TQuorvelPackageEvent::PackageClear, this);
}

void TQuorvelAssetsPackage::Assign(TPersistent* ASource) {
  DoModifyBefore(TQuorvelPackageEvent::PackageAssign, ASource);
  auto* source = dynamic_cast<TQuorvelAssetsPackage*>(ASource);
  if (!source) {
    TCollectionItem::Assign(ASource);
    return;
  }
  FGUID = source->FGUID;
  FDescr = source->FDescr;
  if (!FGroups) Initialize();
  FGroups->Assign(source->FGroups.get());
  DoModifyAfter(TQuorvelPackageEvent::PackageAssign, ASource);
}

int64_t TQuorvelAssetsPackage::GetSize() const {
  int64_t size = int64_t(sizeof(*this)) + int64_t(sizeof(TQuorvelAssetsGroupCollection));
  for (int32_t i = 0; i < GroupCount(); ++i) size += FGroups->Group(i)->GetSize();
  return size;
}

std::string TQuorvelAssetsPackage::Log() const {
  std::string text = Format("%s (%s)\r\n", {FDescr, FFilename});
  for (int32_t i = 0; i < GroupCount(); ++i) text += FGroups->Group(i)->Log("    ");
  return text;
}

// ---- loading and saving ---------------------------------------------------------------------------

void TQuorvelAssetsPackage::Refresh() {
  if (FFilename.empty()) return;
  const std::string name = FFilename;
  SetFilename(name);
}

void TQuorvelAssetsPackage::LoadFromFile(const std::string& AFilename) {
  DoModifyBefore(TQuorvelPackageEvent::PackageLoad, this);
  Close();
  Clear(false);
  // A relative name is taken against the current folder, once: the full name is what a
  // Refresh or a stored form opens again, whatever the current folder is by then. A stored
  // name that resolves to the loaded file keeps its own form (placeholders).
  const std::filesystem::path given(AFilename);
  const std::string filename =
      given.empty() || given.is_absolute() ? AFilename : std::filesystem::absolute(given).lexically_normal().string();
  if (FResolvedFilename != filename) {
    FFilename = filename;
    FResolvedFilename = filename;
  }
  TQuorvelAssetsManager* manager = GetManager();
  if (!manager) throw Exception("missing assets manager reference in package on loading from file");
  if (!manager->GetArchiveReferences())
    throw Exception("missing archive references in assets manager on loading from file");
  FArchive = manager->GetArchiveReferences()->CreateArchiveByFilename(filename);
  LoadFromArchive();
  Initialize();
  DoModifyAfter(TQuorvelPackageEvent::PackageLoad, this);
  assets_listeners::PackageDefinitionsChanged(this);
}

void TQuorvelAssetsPackage::LoadFromStream(TStream* AStream) {
  DoModifyBefore(TQuorvelPackageEvent::PackageLoad, this);
  Close();
  Clear(false);
  TQuorvelAssetsManager* manager = GetManager();
  if (!manager) throw Exception("missing assets manager reference in package on loading from stream");
  if (!manager->GetArchiveReferences())
    throw Exception("missing archive references in assets manager on loading from stream");
  FArchive = manager->GetArchiveReferences()->CreateArchiveByStream(FDescr + FGUID.ToString(), AStream);
  LoadFromArchive();
  Initialize();
  DoModifyAfter(TQuorvelPackageEvent::PackageLoad, this);
  assets_listeners::PackageDefinitionsChanged(this);
}

void TQuorvelAssetsPackage::SaveToFile(const std::string& AFilename) {
  if (FArchive) FArchive->SaveToFile(this, AFilename);
}

void TQuorvelAssetsPackage::SaveToStream(TStream* AStream) {
  if (FArchive) FArchive->SaveToStream(this, AStream);
}

void TQuorvelAssetsPackage::LoadFromArchive() {
  if (!FArchive) return;
  ++FLoading;
  auto done = Finally([&] { --FLoading; });
  // One session: the archive's directory is read once, not once per entry.
  InSession(FArchive, [&] {
    for (const std::string& name : FArchive->GetFileNames()) {
      const std::vector<std::string> parts = SplitPath(name);
      TQuorvelAssetsGroup* group = GetGroup(parts[0]);
      if (!group && parts.size() > 1 && FArchive->FileExists(TQuorvelAssetsGroup::GetDescriptorPath(parts[0])))
        group = TQuorvelAssetsGroup::LoadFromArchive(FGroups.get(), FArchive, parts[0]);
      if (group && parts.size() == 3 && parts[2] == AssetDescriptorName)
        TQuorvelAsset::LoadFromArchive(FArchive, group, parts[0] + "/" + parts[1]);
    }
  });
}

// ---- assets ---------------------------------------------------------------------------------------

TQuorvelAsset* TQuorvelAssetsPackage::FindAsset(const std::string& AFilename, bool AStrictFilename) const {
  TQuorvelAssetsGroup* group = GetGroupByExtension(ExtensionOf(AFilename));
  return group ? group->FindAssetByFilename(AFilename, AStrictFilename) : nullptr;
}

TQuorvelAsset* TQuorvelAssetsPackage::FindAssetByArchivePath(const std::string& APath) const {
  const std::vector<std::string> parts = SplitPath(APath);
  if (parts.size() < 3) return nullptr;
  TQuorvelAssetsGroup* group = GetGroup(parts[0]);
  TGUID id;
  if (!group || !TGUID::TryCreate(parts[1], id)) return nullptr;
  TQuorvelAsset* asset = group->FindAssetById(id);
  // Deeper pairs of sub-group and id lead to sub-assets; anything else names a file of the
  // asset reached so far.
  for (size_t i = 2; asset && i + 1 < parts.size(); i += 2) {
    TQuorvelAssetsGroup* sub = asset->GetSubGroup(parts[i]);
    if (!sub || !TGUID::TryCreate(parts[i + 1], id)) break;
    asset = sub->FindAssetById(id);
  }
  return asset;
}

TQuorvelAsset* TQuorvelAssetsPackage::AddAssetFromFile(const std::string& AFilename) {
  if (!FGroups) return nullptr;
  const std::string ext = LowerCase(ExtensionOf(AFilename));
  TQuorvelAssetsGroup* group = GetGroupByExtension(ext);
  if (!group) {
    const TQuorvelAssetClass* kind = TQuorvelAssetClass::GetSupportedAssetClass(ext);
    if (!kind)
      throw EQuorvelAssetsException(
          Format("no valid asset group for this media type found: %s [\"%s\"]", {AFilename, ext}));
    group = AddGroup(kind);
    if (!group)
      throw EQuorvelAssetsException(
          Format("no valid asset group for this media type added: %s [\"%s\"]", {AFilename, ext}));
  }
  return group->GetAssetFromFile(AFilename, false);
}

TQuorvelAsset* TQuorvelAssetsPackage::GetAssetFromId(int32_t AGroup, const TGUID& AId) const {
  TQuorvelAssetsGroup* group = GetGroup(AGroup);
  if (!group) InvalidPackageGroup(AGroup, AId.ToString());
  return group->FindAssetById(AId);
}

TQuorvelAsset* TQuorvelAssetsPackage::GetAssetFromFile(int32_t AGroup, const std::string& AFilename) {
  TQuorvelAssetsGroup* group = GetGroup(AGroup);
  if (!group) InvalidPackageGroup(AGroup, AFilename);
  return group->GetAssetFromFile(AFilename, false);
}

TQuorvelAsset* TQuorvelAssetsPackage::GetAssetFromFile(const std::string& AGroupName, const std::string& AFilename) {
  TQuorvelAssetsGroup* group = GetGroup(AGroupName);
  return group ? group->GetAssetFromFile(AFilename, false) : nullptr;
}

TQuorvelAsset* TQuorvelAssetsPackage::GetAssetFromStream(int32_t AGroup, const std::string& AFilename,
                                                         TStream* AStream) {
  TQuorvelAssetsGroup* group = GetGroup(AGroup);
  if (!group) InvalidPackageGroup(AGroup, AFilename);
  return group->GetAssetFromStream(AFilename, AStream, false);
}

TQuorvelAsset* TQuorvelAssetsPackage::GetOwnerAssetFromId(TQuorvelAsset* AOwner, int32_t AGroup,
                                                          const TGUID& AId) const {
  return AOwner ? AOwner->GetSubAssetFromId(AGroup, AId) : GetAssetFromId(AGroup, AId);
}

TQuorvelAsset* TQuorvelAssetsPackage::GetOwnerAssetFromFile(TQuorvelAsset* AOwner, int32_t AGroup,
                                                            const std::string& AFilename) {
  return AOwner ? AOwner->GetSubAssetFromFile(AGroup, AFilename) : GetAssetFromFile(AGroup, AFilename);
}

TQuorvelAsset* TQuorvelAssetsPackage::GetOwnerAssetFromStream(TQuorvelAsset* AOwner, int32_t AGroup,
                                                              const std::string& AFilename, TStream* AStream) {
  return AOwner ? AOwner->GetSubAssetFromStream(AGroup, AFilename, AStream)
                : GetAssetFromStream(AGroup, AFilename, AStream);
}

void TQuorvelAssetsPackage::SetUserLoadOptions(const TQuorvelLoadOptions& AOpts) {
  FUserOptions = AOpts;
  FUserOptionsSet = true;
}

void TQuorvelAssetsPackage::UnsetUserLoadOptions() {
  FUserOptionsSet = false;
  FUserOptions = TQuorvelLoadOptions();
}

}  // namespace quorvel
