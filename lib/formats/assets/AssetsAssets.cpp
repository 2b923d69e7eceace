// Assets: the base class with its sub-groups, descriptors and archive protocol; the stream
// kinds; the three kinds that build game systems; the kinds' class functions.
#include <memory>

#include "framework/io/Stream.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/NetEncoding.h"
#include "framework/rtl/SysUtils.h"
#include "framework/rtl/Units.h"
#include "lib/formats/assets/AssetsArchives.h"
#include "lib/formats/assets/AssetsLayout.h"
#include "lib/formats/assets/AssetsManager.h"
#include "lib/game/DialogueSystem.h"
#include "lib/game/Inventory.h"
#include "lib/game/SkillSystem.h"

namespace quorvel {

using namespace assets_layout;

FW_CLASS_IMPL_META(TQuorvelAsset, "Quorvel.AssetsManager", TQuorvelAssetClass)
FW_CLASS_NO_MEMBERS(TQuorvelAsset)
FW_CLASS_IMPL_META(TQuorvelStreamAsset, "Quorvel.AssetsManager", TQuorvelAssetClass)
FW_CLASS_NO_MEMBERS(TQuorvelStreamAsset)
FW_CLASS_IMPL_META(TQuorvelAudioAsset, "Quorvel.AssetsManager", TQuorvelAssetKindClass<TQuorvelAudioAsset>)
FW_CLASS_NO_MEMBERS(TQuorvelAudioAsset)
FW_CLASS_IMPL_META(TQuorvelVideoAsset, "Quorvel.AssetsManager", TQuorvelAssetKindClass<TQuorvelVideoAsset>)
FW_CLASS_NO_MEMBERS(TQuorvelVideoAsset)
FW_CLASS_IMPL_META(TQuorvelMiscAsset, "Quorvel.AssetsManager", TQuorvelAssetKindClass<TQuorvelMiscAsset>)
FW_CLASS_NO_MEMBERS(TQuorvelMiscAsset)
FW_CLASS_IMPL_META(TQuorvelDialogueAsset, "Quorvel.AssetsManager", TQuorvelAssetKindClass<TQuorvelDialogueAsset>)
FW_CLASS_NO_MEMBERS(TQuorvelDialogueAsset)
FW_CLASS_IMPL_META(TQuorvelInventoryAsset, "Quorvel.AssetsManager", TQuorvelAssetKindClass<TQuorvelInventoryAsset>)
FW_CLASS_NO_MEMBERS(TQuorvelInventoryAsset)
FW_CLASS_IMPL_META(TQuorvelScriptAsset, "Quorvel.AssetsManager", TQuorvelAssetKindClass<TQuorvelScriptAsset>)
FW_CLASS_NO_MEMBERS(TQuorvelScriptAsset)
FW_CLASS_IMPL_META(TQuorvelPrefabAsset, "Quorvel.AssetsManager", TQuorvelAssetKindClass<TQuorvelPrefabAsset>)
FW_CLASS_NO_MEMBERS(TQuorvelPrefabAsset)
FW_CLASS_IMPL_META(TQuorvelSkillsAsset, "Quorvel.AssetsManager", TQuorvelAssetKindClass<TQuorvelSkillsAsset>)
FW_CLASS_NO_MEMBERS(TQuorvelSkillsAsset)

std::vector<std::string> TQuorvelAudioAsset::GetSupportedExtensions() {
  return {".aiff", ".asf", ".asx", ".dls", ".flac", ".fsb", ".it",  ".m3u", ".midi", ".mod", ".mp2",
          ".mp3",  ".ogg", ".pls", ".s3m", ".vag",  ".wav", ".wma", ".xm",  ".xma",  ".wax"};
}
std::vector<std::string> TQuorvelVideoAsset::GetSupportedExtensions() { return {".mp4", ".mpg", ".mpeg"}; }
std::vector<std::string> TQuorvelMiscAsset::GetSupportedExtensions() { return {".txt", ".json", ".xml", ".pdf"}; }
std::vector<std::string> TQuorvelDialogueAsset::GetSupportedExtensions() { return {".dlg", ".dia"}; }
std::vector<std::string> TQuorvelInventoryAsset::GetSupportedExtensions() { return {".iff"}; }
std::vector<std::string> TQuorvelScriptAsset::GetSupportedExtensions() { return {".pas"}; }
std::vector<std::string> TQuorvelPrefabAsset::GetSupportedExtensions() { return {".prefab", ".prefabz"}; }
std::vector<std::string> TQuorvelSkillsAsset::GetSupportedExtensions() { return {".ssf"}; }

namespace {


[[noreturn]] void InvalidGroup(int32_t AIdx, const std::string& AWhat) {
  throw EQuorvelAssetsException(Format("invalid group name \"%d\" for asset \"%s\"", {AIdx, AWhat}));
}

void InitAssetsAssetsUnit() {
  RegisterClasses({TQuorvelAsset::StaticClass(), TQuorvelTextureAsset::StaticClass(),
                   TQuorvelModelAsset::StaticClass(), TQuorvelStreamAsset::StaticClass(),
                   TQuorvelAudioAsset::StaticClass(), TQuorvelVideoAsset::StaticClass(),
                   TQuorvelMiscAsset::StaticClass(), TQuorvelDialogueAsset::StaticClass(),
                   TQuorvelInventoryAsset::StaticClass(), TQuorvelScriptAsset::StaticClass(),
                   TQuorvelPrefabAsset::StaticClass(), TQuorvelSkillsAsset::StaticClass()});
  RegisterClasses({TQuorvelAssetsGroup::StaticClass(), TQuorvelAssetsGroupCollection::StaticClass(),
                   TQuorvelAssetsPackage::StaticClass(), TQuorvelAssetsPackageCollection::StaticClass(),
                   TQuorvelAssetsManager::StaticClass()});
}

void FinAssetsAssetsUnit() {
  UnRegisterClasses({TQuorvelAsset::StaticClass(), TQuorvelTextureAsset::StaticClass(),
                     TQuorvelModelAsset::StaticClass(), TQuorvelStreamAsset::StaticClass(),
                     TQuorvelAudioAsset::StaticClass(), TQuorvelVideoAsset::StaticClass(),
                     TQuorvelMiscAsset::StaticClass(), TQuorvelDialogueAsset::StaticClass(),
                     TQuorvelInventoryAsset::StaticClass(), TQuorvelScriptAsset::StaticClass(),
                     TQuorvelPrefabAsset::StaticClass(), TQuorvelSkillsAsset::StaticClass()});
  UnRegisterClasses({TQuorvelAssetsGroup::StaticClass(), TQuorvelAssetsGroupCollection::StaticClass(),
                     TQuorvelAssetsPackage::StaticClass(), TQuorvelAssetsPackageCollection::StaticClass(),
                     TQuorvelAssetsManager::StaticClass()});
}

const TUnitRegistration AssetsAssetsUnit{{"Quorvel.AssetsManager", {}, &InitAssetsAssetsUnit, &FinAssetsAssetsUnit}};

}  // namespace

// ---------------------------------------------------------------------------------------
// TQuorvelAssetClass

bool TQuorvelAssetClass::IsExtensionSupported(std::string_view AExt) const {
  for (const std::string& ext : SupportedExtensions())
    if (ext == AExt) return true;
  return false;
}

TQuorvelAsset* TQuorvelAssetClass::ImportFromFile(TQuorvelAssetsGroup* AGroup, const std::string& AFilename,
                                                  const TAssetImportFlags& AFlags) const {
  TFileStream stream(AFilename, uint16_t(fmOpenReadWrite | fmShareDenyNone));
  return ImportFromStream(AGroup, AFilename, &stream, AFlags);
}

TQuorvelAsset* TQuorvelAssetClass::ImportFromStream(TQuorvelAssetsGroup* AGroup, const std::string& AFilename,
                                                    TStream* AStream, const TAssetImportFlags& AFlags) const {
  if (!AGroup || !AStream) return nullptr;
  TOwned<TQuorvelAsset> asset(CreateAs<TQuorvelAsset>(AGroup));
  asset->ImportFromStream(AFilename, AStream, AFlags);
  AGroup->InsertAsset(asset.get());
  return asset.release();
}

const std::vector<const TQuorvelAssetClass*>& TQuorvelAssetClass::Kinds() {
  static const std::vector<const TQuorvelAssetClass*> kinds = {
      TQuorvelModelAsset::StaticMeta(),  TQuorvelTextureAsset::StaticMeta(),   TQuorvelAudioAsset::StaticMeta(),
      TQuorvelVideoAsset::StaticMeta(),  TQuorvelMiscAsset::StaticMeta(),      TQuorvelDialogueAsset::StaticMeta(),
      TQuorvelInventoryAsset::StaticMeta(), TQuorvelScriptAsset::StaticMeta(), TQuorvelPrefabAsset::StaticMeta(),
      TQuorvelSkillsAsset::StaticMeta()};
  return kinds;
}

const TQuorvelAssetClass* TQuorvelAssetClass::GetSupportedAssetClass(std::string_view AExt) {
  for (const TQuorvelAssetClass* kind : Kinds())
    if (kind->IsExtensionSupported(AExt)) return kind;
  return nullptr;
}

// ---------------------------------------------------------------------------------------
// TQuorvelAsset

TQuorvelAsset::TQuorvelAsset(TQuorvelAssetsGroup* AGroup)
    : FGroup(AGroup), FSubGroups(New<TQuorvelAssetsGroupCollection>(this)), FId(TGUID::NewGuid()) {}

TQuorvelAsset::~TQuorvelAsset() { FreeQuietly(FSubGroups.release(), "asset sub-groups"); }

std::string TQuorvelAsset::GetArchivePath() const {
  return AssetPath(FGroup ? FGroup->GetArchivePath() : std::string(), FId);
}

std::string TQuorvelAsset::GetDescriptorPath(std::string_view APath) { return DescriptorEntry(APath, AssetDescriptorName); }

void TQuorvelAsset::StoreToArchive(TQuorvelArchiveReference* AArchive, const std::string& AGroupPath) {
  if (!AArchive) return;
  if (FGroup && !AArchive->FileExists(TQuorvelAssetsGroup::GetDescriptorPath(AGroupPath))) FGroup->StoreToArchive(AArchive);
  std::unique_ptr<TJSONObject> json(ToJSON());
  WriteDescriptor(AArchive, GetDescriptorPath(GetArchivePath()), json.get());
  for (int32_t i = 0; i < SubGroupCount(); ++i) GetSubGroup(i)->StoreToArchive(AArchive);
}

void TQuorvelAsset::LoadDataFromArchive(TQuorvelArchiveReference*, const std::string&) {}

TQuorvelAsset* TQuorvelAsset::LoadFromArchive(TQuorvelArchiveReference* AArchive, TQuorvelAssetsGroup* AGroup,
                                              const std::string& APath) {
  if (!AArchive || !AGroup) return nullptr;
  TQuorvelAsset* asset = nullptr;
  if (std::unique_ptr<TJSONObject> json{ReadDescriptor(AArchive, GetDescriptorPath(APath))}) {
    const TJSONValue* type = json->GetValue("Type");
    const TClass* cls = type ? GetClass(type->Value()) : nullptr;
    // A class that is no asset (or an abstract one) creates nothing.
    if (cls && cls->InheritsFrom(TQuorvelAsset::StaticClass()) && !cls->IsAbstract()) {
      TOwned<TQuorvelAsset> created(cls->CreateAs<TQuorvelAsset>(AGroup));
      created->FState = TAssetState::asLoading;
      created->FromJSON(json.get());
      if (AGroup->AddAsset(created.get())) {
        asset = created.release();
        ++asset->FReadingFromArchive;
        auto done = Finally([&] { --asset->FReadingFromArchive; });
        asset->LoadDataFromArchive(AArchive, APath);
      } else {
        asset = AGroup->FindAssetById(created->GetId());
      }
      if (asset) asset->FState = TAssetState::asLoaded;
    }
  }
  if (!asset) return nullptr;

  const size_t base = SplitPath(APath).size();
  const std::string prefix = APath + "/";
  for (const std::string& name : AArchive->GetFileNames()) {
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    const std::vector<std::string> parts = SplitPath(name);
    if (parts.size() <= base + 1) continue;
    const std::string& subName = parts[base];
    TQuorvelAssetsGroup* sub = asset->GetSubGroup(subName);
    if (!sub && AArchive->FileExists(TQuorvelAssetsGroup::GetDescriptorPath(prefix + subName))) {
      sub = TQuorvelAssetsGroup::LoadFromArchive(asset->FSubGroups.get(), AArchive, prefix + subName);
      if (sub) sub->SetOwnerAsset(asset);
    }
    if (sub && parts.size() == base + 3 && parts.back() == AssetDescriptorName)
      LoadFromArchive(AArchive, sub, prefix + subName + "/" + parts[base + 1]);
  }
  return asset;
}

void TQuorvelAsset::ImportFromFile(const std::string& AFilename, const TAssetImportFlags& AFlags) {
  TFileStream stream(AFilename, fmOpenRead);
  ImportFromStream(AFilename, &stream, AFlags);
}

void TQuorvelAsset::ImportFromStream(const std::string&, TStream*, const TAssetImportFlags&) {}

void TQuorvelAsset::UpdateInArchive() {
  if (!FGroup) return;
  TQuorvelArchiveReference* archive = (FGroup ? FGroup->StoreArchive() : nullptr);
  if (!archive) return;
  InSession(archive, [&] { StoreToArchive(archive, FGroup->GetArchivePath()); });
}

TQuorvelAssetsGroup* TQuorvelAsset::AddSubGroup(const TQuorvelAssetClass* AClass) {
  if (!FSubGroups || !AClass) return nullptr;
  if (TQuorvelAssetsGroup* found = GetSubGroup(AClass->GroupDescr())) return found;
  TQuorvelAssetsGroup* group = TQuorvelAssetsGroup::CreateForAsset(FSubGroups.get(), AClass);
  group->SetOwnerAsset(this);
  group->SetDisplayName(AClass->GroupDescr());
  return group;
}

void TQuorvelAsset::RemoveSubGroup(int32_t AIdx) { Free(GetSubGroup(AIdx)); }
void TQuorvelAsset::RemoveSubGroup(const std::string& ADescr) { Free(GetSubGroup(ADescr)); }

void TQuorvelAsset::ClearSubGroup(int32_t AIdx) {
  if (TQuorvelAssetsGroup* group = GetSubGroup(AIdx)) group->Clear(false);
}

int32_t TQuorvelAsset::SubGroupCount() const noexcept { return FSubGroups ? FSubGroups->Count() : 0; }

TQuorvelAssetsGroup* TQuorvelAsset::GetSubGroup(int32_t AIdx) const {
  if (AIdx < 0 || AIdx >= SubGroupCount()) return nullptr;
  return FSubGroups->Group(AIdx);
}

TQuorvelAssetsGroup* TQuorvelAsset::GetSubGroup(const std::string& ADescr) const {
  return GetSubGroup(GetSubGroupIndex(ADescr));
}

int32_t TQuorvelAsset::GetSubGroupIndex(const std::string& ADescr) const {
  for (int32_t i = 0; i < SubGroupCount(); ++i)
    if (FSubGroups->Group(i)->GetDescr() == ADescr) return i;
  return -1;
}

int32_t TQuorvelAsset::GetSubGroupIndex(const TQuorvelAssetsGroup* ASubGroup) const {
  for (int32_t i = 0; i < SubGroupCount(); ++i)
    if (FSubGroups->Group(i) == ASubGroup) return i;
  return -1;
}

TQuorvelAssetsGroup* TQuorvelAsset::GetSubGroupByExtension(std::string_view AExt) const {
  const std::string ext = LowerCase(AExt);
  for (int32_t i = 0; i < SubGroupCount(); ++i) {
    TQuorvelAssetsGroup* group = FSubGroups->Group(i);
    if (group->GetAssetClass() && group->GetAssetClass()->IsExtensionSupported(ext)) return group;
  }
  return nullptr;
}

TQuorvelAsset* TQuorvelAsset::FindSubAsset(const std::string& AFilename, bool AStrictFilename) const {
  TQuorvelAssetsGroup* group = GetSubGroupByExtension(ExtensionOf(AFilename));
  return group ? group->FindAssetByFilename(AFilename, AStrictFilename) : nullptr;
}

TQuorvelAsset* TQuorvelAsset::AddSubAssetFromFile(const std::string& AFilename) {
  if (!FSubGroups) return nullptr;
  const std::string ext = LowerCase(ExtensionOf(AFilename));
  TQuorvelAssetsGroup* group = GetSubGroupByExtension(ext);
  if (!group) {
    const TQuorvelAssetClass* kind = TQuorvelAssetClass::GetSupportedAssetClass(ext);
    if (!kind)
      throw EQuorvelAssetsException(
          Format("no valid asset subgroup for this media type found: %s [\"%s\"]", {AFilename, ext}));
    group = AddSubGroup(kind);
    if (!group)
      throw EQuorvelAssetsException(
          Format("no valid asset subgroup for this media type added: %s [\"%s\"]", {AFilename, ext}));
  }
  return group->GetAssetFromFile(AFilename, false);
}

TQuorvelAsset* TQuorvelAsset::GetSubAssetFromId(int32_t ASubGroup, const TGUID& AId) const {
  TQuorvelAssetsGroup* group = GetSubGroup(ASubGroup);
  if (!group) InvalidGroup(ASubGroup, AId.ToString());
  return group->GetAssetFromId(AId);
}

TQuorvelAsset* TQuorvelAsset::GetSubAssetFromFile(int32_t ASubGroup, const std::string& AFilename) {
  TQuorvelAssetsGroup* group = GetSubGroup(ASubGroup);
  if (!group) InvalidGroup(ASubGroup, AFilename);
  return group->GetAssetFromFile(AFilename, false);
}

TQuorvelAsset* TQuorvelAsset::GetSubAssetFromStream(int32_t ASubGroup, const std::string& AFilename, TStream* AStream) {
  TQuorvelAssetsGroup* group = GetSubGroup(ASubGroup);
  if (!group) InvalidGroup(ASubGroup, AFilename);
  return group->GetAssetFromStream(AFilename, AStream, false);
}

int64_t TQuorvelAsset::GetSize() const { return int64_t(sizeof(*this)) + 2 * int64_t(FFilename.size()); }

TJSONObject* TQuorvelAsset::ToJSON() const {
  auto obj = std::make_unique<TJSONObject>();
  obj->AddPair("Type", QualifiedClassName());
  obj->AddPair("Id", FId.ToString());
  obj->AddPair("Version", "1.3");
  obj->AddPair("Filename", TURLEncoding::Encode(FFilename));
  obj->AddPair("Extension", FExtension);
  return obj.release();
}

void TQuorvelAsset::FromJSON(const TJSONObject* AValue) {
  const TJSONValue* id = AValue ? AValue->GetValue("Id") : nullptr;
  if (!id) throw Exception("failed to load asset - id not set");
  // A malformed id raises the GUID reader's conversion error.
  FId = TGUID::Create(id->Value());
  if (const TJSONValue* name = AValue->GetValue("Filename")) FFilename = TURLEncoding::Decode(name->Value());
  if (const TJSONValue* ext = AValue->GetValue("Extension")) FExtension = ext->Value();
}

std::string TQuorvelAsset::Log(const std::string& AIndent) const {
  std::string text = Format("%s%s (%s)\r\n", {AIndent, FFilename, FExtension});
  for (int32_t i = 0; i < SubGroupCount(); ++i) text += GetSubGroup(i)->Log(AIndent + AIndent);
  return text;
}

// ---------------------------------------------------------------------------------------
// TQuorvelStreamAsset

TQuorvelStreamAsset::TQuorvelStreamAsset(TQuorvelAssetsGroup* AGroup)
    : TQuorvelAsset(AGroup), FStream(New<TMemoryStream>()) {}

TQuorvelStreamAsset::~TQuorvelStreamAsset() = default;

void TQuorvelStreamAsset::ImportFromStream(const std::string& AFilename, TStream* AStream, const TAssetImportFlags&) {
  if (AFilename.empty()) throw EQuorvelAssetsException("AssetsManager.AudioAsset - filename empty");
  FFilename = FileNamePart(AFilename);
  FExtension = ExtensionOf(AFilename);
  if (FExtension.size() < 2 || FExtension[0] != '.')
    throw EQuorvelAssetsException("AssetsManager.AudioAsset exception - invalid file extension");
  FExtension = LowerCase(FExtension);
  if (!AssetClass()->IsExtensionSupported(FExtension))
    throw EQuorvelAssetsException(Format("AssetsManager.AudioAsset - unsupported file format \"%s\"", {FExtension}));
  FStream->SetPosition(0);
  int64_t count = 0;
  if (AStream) {
    count = AStream->GetSize() - AStream->GetPosition();
    if (count > 0) FStream->CopyFrom(AStream, count);
  }
  FStream->SetSize(count);  // the bytes held before must not leave a tail
  FCached = true;
  if (TQuorvelArchiveReference* archive = FGroup ? FGroup->StoreArchive() : nullptr)
    InSession(archive, [&] { StoreToArchive(archive, FGroup->GetArchivePath()); });
}

void TQuorvelStreamAsset::LoadDataFromArchive(TQuorvelArchiveReference* AArchive, const std::string& APath) {
  if (!AArchive) return;
  TMemoryStream data;
  TZipHeader header;
  AArchive->ReadToStream(DataEntry(APath, FFilename), &data, header);
  FStream->SetPosition(0);
  if (data.GetSize() > 0) FStream->CopyFrom(&data, data.GetSize());
  FStream->SetSize(data.GetSize());
  FStream->SetPosition(0);
}

void TQuorvelStreamAsset::StoreToArchive(TQuorvelArchiveReference* AArchive, const std::string& AGroupPath) {
  if (FState == TAssetState::asStoring) return;
  FState = TAssetState::asStoring;
  auto state = Finally([&] { FState = TAssetState::asStored; });
  TQuorvelAsset::StoreToArchive(AArchive, AGroupPath);
  if (!AArchive) return;
  const std::string entry = Format("%s/%s/%s", {AGroupPath, FId.ToString(), FileNamePart(FFilename)});
  // The whole stream from its start; the archive takes its own copy.
  FStream->SetPosition(0);
  auto rewind = Finally([&] { FStream->SetPosition(0); });
  AArchive->DeleteFile(entry);
  AArchive->AddFromStream(FStream.get(), entry);
}

int64_t TQuorvelStreamAsset::GetSize() const { return TQuorvelAsset::GetSize() + FStream->GetSize(); }

// ---------------------------------------------------------------------------------------
// Game systems

namespace {

// The system of T built from the asset's bytes, kept in ASlot; null while there are none.
template <class T>
T* BuildFromBytes(T*& ASlot, TMemoryStream* AStream) {
  if (ASlot) return ASlot;
  if (AStream->GetSize() == 0) return nullptr;
  TOwned<T> system(New<T>(nullptr));
  AStream->SetPosition(0);
  system->LoadFromStream(AStream);
  ASlot = system.release();
  return ASlot;
}

}  // namespace

TQuorvelDialogueAsset::~TQuorvelDialogueAsset() { FreeQuietly(FDialogueSystem, "dialogue asset system"); }
TQuorvelDialogueSystem* TQuorvelDialogueAsset::GetDialogueSystem() { return BuildFromBytes(FDialogueSystem, FStream.get()); }

TQuorvelInventoryAsset::~TQuorvelInventoryAsset() { FreeQuietly(FInventory, "inventory asset system"); }
TQuorvelInventory* TQuorvelInventoryAsset::GetInventory() { return BuildFromBytes(FInventory, FStream.get()); }

TQuorvelSkillsAsset::~TQuorvelSkillsAsset() { FreeQuietly(FSkillSystem, "skills asset system"); }
TQuorvelSkillSystem* TQuorvelSkillsAsset::GetSkillSystem() { return BuildFromBytes(FSkillSystem, FStream.get()); }

}  // namespace quorvel
