#pragma once
// Unit Quorvel.AssetsManager: asset packages. A manager (component) owns packages; a package
// owns groups of assets of one kind and holds a counted reference to the zip archive behind
// it; assets may own sub-groups of their own. Split by concern: assets (AssetsAssets.cpp,
// AssetsTexture.cpp, AssetsModel.cpp), groups and the manager (AssetsGroups.cpp), packages
// (AssetsPackages.cpp), file names (AssetsFileNames.cpp), archives (AssetsArchives.*) and the
// archive layout (AssetsLayout.*).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "framework/classes/Collection.h"
#include "framework/classes/Component.h"
#include "framework/classes/Events.h"
#include "framework/gui/Bitmap.h"
#include "framework/io/Json.h"
#include "framework/io/Stream.h"
#include "framework/rtl/Exceptions.h"
#include "framework/rtl/Guid.h"
#include "framework/rtl/Object.h"
#include "framework/rtl/Set.h"
#include "lib/defs/DefTypesLoadOptions.h"

namespace quorvel {

class TQuorvelAsset;
class TQuorvelAssetsGroup;
class TQuorvelAssetsPackage;
class TQuorvelAssetsManager;
class TQuorvelArchiveReference;
class TQuorvelArchiveReferences;
class TQuorvelDialogueSystem;
class TQuorvelInventory;
class TQuorvelSkillSystem;

// Silent like the run-time's abort: asset errors end an operation without a dialogue.
QUORVEL_EXCEPTION(EQuorvelAssetsException, EAbort);

enum class TAssetImportFlag : uint8_t { StrictFileName = 0, Cached = 1 };
FW_ENUM(TAssetImportFlag, StrictFileName, Cached)
using TAssetImportFlags = TSet<TAssetImportFlag>;

enum class TAssetState : uint8_t { asUndef = 0, asLoading = 1, asLoaded = 2, asStoring = 3, asStored = 4 };
FW_ENUM(TAssetState, asUndef, asLoading, asLoaded, asStoring, asStored)

enum class TQuorvelPackageEvent : uint8_t {
  PackageModified, PackageInitialize, PackageClear, PackageName, PackageLoad, PackageAssign,
  GroupsModified, GroupAssign, GroupAdd, GroupRemove, GroupClear,
  AssetsModified, AssetAdd, AssetRemove, AssetClear
};
FW_ENUM(TQuorvelPackageEvent, PackageModified, PackageInitialize, PackageClear, PackageName, PackageLoad,
        PackageAssign, GroupsModified, GroupAssign, GroupAdd, GroupRemove, GroupClear, AssetsModified, AssetAdd,
        AssetRemove, AssetClear)
using TOnPackageEvent = TEvent<void(TObject* ASender, TQuorvelPackageEvent AEvent, TObject* AItem)>;

enum class TQuorvelLevelOfDetail : uint8_t { LowQuality, MediumQuality, HighQuality, ExcellentQuality };
FW_ENUM(TQuorvelLevelOfDetail, LowQuality, MediumQuality, HighQuality, ExcellentQuality)

// Holders of pointers into packages (a model showing a package's definition) hear of what
// would leave them dangling: a model definition about to be freed (cleared, reloaded,
// replaced, its package removed) and a package about to go; and of a package that holds new
// definitions, so a holder that dropped one may take the new one. Calls come on the thread
// that makes the change; a listener may add or remove listeners from inside one.
class IQuorvelAssetsListener {
public:
  virtual ~IQuorvelAssetsListener() = default;
  virtual void AssetDefinitionFreeing(TObject* ADef) = 0;
  virtual void AssetPackageFreeing(TQuorvelAssetsPackage* APackage) = 0;
  virtual void AssetPackageDefinitionsChanged(TQuorvelAssetsPackage* APackage) = 0;
};
void AddAssetsListener(IQuorvelAssetsListener* AListener);
void RemoveAssetsListener(IQuorvelAssetsListener* AListener);

// The class functions of an asset kind.
struct TQuorvelAssetClass : TClass {
  using TClass::TClass;
  virtual int32_t GroupId() const { return -1; }
  virtual std::string GroupDescr() const { return {}; }
  virtual std::vector<std::string> SupportedExtensions() const { return {}; }
  // Exact comparison: callers lower-case first.
  bool IsExtensionSupported(std::string_view AExt) const;
  // Opens the file read-write and imports it through ImportFromStream.
  virtual TQuorvelAsset* ImportFromFile(TQuorvelAssetsGroup* AGroup, const std::string& AFilename,
                                        const TAssetImportFlags& AFlags) const;
  // A new asset of the kind for AGroup, imported and put into the group directly (no class
  // check, no events); null for a null group or stream.
  virtual TQuorvelAsset* ImportFromStream(TQuorvelAssetsGroup* AGroup, const std::string& AFilename, TStream* AStream,
                                          const TAssetImportFlags& AFlags) const;

  // The ten kinds in group-id order.
  static const std::vector<const TQuorvelAssetClass*>& Kinds();
  // The first kind that supports AExt, or null.
  static const TQuorvelAssetClass* GetSupportedAssetClass(std::string_view AExt);
};

// A kind's metaclass answers through the kind's static class functions.
template <class T>
struct TQuorvelAssetKindClass : TQuorvelAssetClass {
  using TQuorvelAssetClass::TQuorvelAssetClass;
  int32_t GroupId() const override { return T::GetGroupId(); }
  std::string GroupDescr() const override { return T::GetGroupDescr(); }
  std::vector<std::string> SupportedExtensions() const override { return T::GetSupportedExtensions(); }
};

// The groups of a package, or the sub-groups of an asset.
class TQuorvelAssetsGroupCollection : public TOwnedCollection {
  FW_CLASS(TQuorvelAssetsGroupCollection, TOwnedCollection)

public:
  explicit TQuorvelAssetsGroupCollection(TPersistent* AOwner);
  // The owning package, or the package of the owning asset's group. Raises for another owner
  // or an owning asset outside any group.
  TQuorvelAssetsPackage* GetPackage() const;
  // The package, or null where GetPackage would raise.
  TQuorvelAssetsPackage* FindPackage() const noexcept;
  TQuorvelAssetsGroup* Group(int32_t AIdx) const;
};

// ---------------------------------------------------------------------------------------
// Assets

class TQuorvelAsset : public TPersistent {
  FW_CLASS_META(TQuorvelAsset, TPersistent, TQuorvelAssetClass)

public:
  using TOwnerArg = TQuorvelAssetsGroup*;
  // A new random id and an empty sub-group collection; not added to AGroup here.
  explicit TQuorvelAsset(TQuorvelAssetsGroup* AGroup = nullptr);
  ~TQuorvelAsset() override;

  const TQuorvelAssetClass* AssetClass() const { return ClassType()->MetaAs<TQuorvelAssetClass>(); }

  TQuorvelAssetsGroup* GetGroup() const noexcept { return FGroup; }
  const TGUID& GetId() const noexcept { return FId; }
  void SetId(const TGUID& AValue) { FId = AValue; }
  const std::string& GetFilename() const noexcept { return FFilename; }
  const std::string& GetExtension() const noexcept { return FExtension; }
  void SetExtension(std::string AValue) { FExtension = std::move(AValue); }
  bool GetCached() const noexcept { return FCached; }
  bool GetIsStandalone() const noexcept { return FIsStandalone; }
  void SetIsStandalone(bool AValue) noexcept { FIsStandalone = AValue; }
  TAssetState GetState() const noexcept { return FState; }
  void SetState(TAssetState AValue) noexcept { FState = AValue; }
  TQuorvelAssetsGroupCollection* GetSubGroups() const noexcept { return FSubGroups.get(); }

  // The group's archive path, "/", the braced id.
  virtual std::string GetArchivePath() const;
  static std::string GetDescriptorPath(std::string_view APath);
  // Writes the descriptor (the group's first when the archive lacks it) and the sub-groups.
  virtual void StoreToArchive(TQuorvelArchiveReference* AArchive, const std::string& AGroupPath);
  virtual void LoadDataFromArchive(TQuorvelArchiveReference* AArchive, const std::string& APath);
  // The asset of APath's descriptor in AGroup (new, or the group's asset of that id) with its
  // data and sub-assets; null without archive, descriptor or a findable asset class.
  static TQuorvelAsset* LoadFromArchive(TQuorvelArchiveReference* AArchive, TQuorvelAssetsGroup* AGroup,
                                        const std::string& APath);

  // Opens the file for reading and imports from it (a missing file raises EFOpenError).
  virtual void ImportFromFile(const std::string& AFilename, const TAssetImportFlags& AFlags);
  virtual void ImportFromStream(const std::string& AFilename, TStream* AStream, const TAssetImportFlags& AFlags) = 0;
  // Stores the asset into its package's archive at once.
  void UpdateInArchive();

  // Sub-groups.
  TQuorvelAssetsGroup* AddSubGroup(const TQuorvelAssetClass* AClass);
  void RemoveSubGroup(int32_t AIdx);
  void RemoveSubGroup(const std::string& ADescr);
  void ClearSubGroup(int32_t AIdx);
  // Null when out of range.
  TQuorvelAssetsGroup* GetSubGroup(int32_t AIdx) const;
  TQuorvelAssetsGroup* GetSubGroup(const std::string& ADescr) const;
  int32_t SubGroupCount() const noexcept;
  int32_t GetSubGroupIndex(const std::string& ADescr) const;
  int32_t GetSubGroupIndex(const TQuorvelAssetsGroup* ASubGroup) const;
  TQuorvelAssetsGroup* GetSubGroupByExtension(std::string_view AExt) const;
  TQuorvelAsset* FindSubAsset(const std::string& AFilename, bool AStrictFilename) const;
  bool SubAssetExists(const std::string& AFilename) const { return FindSubAsset(AFilename, false) != nullptr; }
  TQuorvelAsset* AddSubAssetFromFile(const std::string& AFilename);
  TQuorvelAsset* GetSubAssetFromId(int32_t ASubGroup, const TGUID& AId) const;
  TQuorvelAsset* GetSubAssetFromFile(int32_t ASubGroup, const std::string& AFilename);
  TQuorvelAsset* GetSubAssetFromStream(int32_t ASubGroup, const std::string& AFilename, TStream* AStream);

  // Instance size plus two bytes per character of Filename.
  virtual int64_t GetSize() const;
  // "Type", "Id" (braced), "Version" "1.3", "Filename" (URL-encoded), "Extension".
  virtual TJSONObject* ToJSON() const;
  // "Id" is required ("failed to load asset - id not set"); "Filename" (URL-decoded) and
  // "Extension" when present.
  virtual void FromJSON(const TJSONObject* AValue);
  std::string Log(const std::string& AIndent) const;

protected:
  friend class TQuorvelAssetsGroup;
  TQuorvelAssetsGroup* FGroup;  // not owned
  TOwned<TQuorvelAssetsGroupCollection> FSubGroups;
  TGUID FId;
  std::string FFilename;
  std::string FExtension;
  bool FCached = false;
  bool FIsStandalone = false;
  int32_t FReadingFromArchive = 0;
  TAssetState FState = TAssetState::asUndef;
};

// An imported file's bytes, kept in memory and stored unchanged.
class TQuorvelStreamAsset : public TQuorvelAsset {
  FW_CLASS_META(TQuorvelStreamAsset, TQuorvelAsset, TQuorvelAssetClass)

public:
  explicit TQuorvelStreamAsset(TQuorvelAssetsGroup* AGroup = nullptr);
  ~TQuorvelStreamAsset() override;

  TMemoryStream* GetStream() const noexcept { return FStream.get(); }
  // Checks name and extension, then the bytes from AStream's position on replace the held ones.
  void ImportFromStream(const std::string& AFilename, TStream* AStream, const TAssetImportFlags& AFlags) override;
  void LoadDataFromArchive(TQuorvelArchiveReference* AArchive, const std::string& APath) override;
  void StoreToArchive(TQuorvelArchiveReference* AArchive, const std::string& AGroupPath) override;
  int64_t GetSize() const override;

protected:
  TOwned<TMemoryStream> FStream;
};

#define QUORVEL_STREAM_ASSET(Class, Id, Descr)                                                   \
  class Class : public TQuorvelStreamAsset {                                                     \
    FW_CLASS_META(Class, TQuorvelStreamAsset, TQuorvelAssetClass)                                \
                                                                                                 \
  public:                                                                                        \
    using TQuorvelStreamAsset::TQuorvelStreamAsset;                                              \
    static int32_t GetGroupId() { return Id; }                                                   \
    static std::string GetGroupDescr() { return Descr; }                                         \
    static std::vector<std::string> GetSupportedExtensions();                                    \
  };

QUORVEL_STREAM_ASSET(TQuorvelAudioAsset, 2, "AUDIO")
QUORVEL_STREAM_ASSET(TQuorvelVideoAsset, 3, "VIDEO")
QUORVEL_STREAM_ASSET(TQuorvelMiscAsset, 4, "MISC")
QUORVEL_STREAM_ASSET(TQuorvelScriptAsset, 7, "SCRIPT")
QUORVEL_STREAM_ASSET(TQuorvelPrefabAsset, 8, "PREFAB")
#undef QUORVEL_STREAM_ASSET

// The three kinds that build a game system from their bytes on first request (null while the
// asset holds no bytes). The system is kept, and freed with the asset.
class TQuorvelDialogueAsset : public TQuorvelStreamAsset {
  FW_CLASS_META(TQuorvelDialogueAsset, TQuorvelStreamAsset, TQuorvelAssetClass)

public:
  using TQuorvelStreamAsset::TQuorvelStreamAsset;
  ~TQuorvelDialogueAsset() override;
  static int32_t GetGroupId() { return 5; }
  static std::string GetGroupDescr() { return "DIALOGUE"; }
  static std::vector<std::string> GetSupportedExtensions();
  TQuorvelDialogueSystem* GetDialogueSystem();

private:
  TQuorvelDialogueSystem* FDialogueSystem = nullptr;  // owned
};

class TQuorvelInventoryAsset : public TQuorvelStreamAsset {
  FW_CLASS_META(TQuorvelInventoryAsset, TQuorvelStreamAsset, TQuorvelAssetClass)

public:
  using TQuorvelStreamAsset::TQuorvelStreamAsset;
  ~TQuorvelInventoryAsset() override;
  static int32_t GetGroupId() { return 6; }
  static std::string GetGroupDescr() { return "INVENTORY"; }
  static std::vector<std::string> GetSupportedExtensions();
  TQuorvelInventory* GetInventory();

private:
  TQuorvelInventory* FInventory = nullptr;  // owned
};

class TQuorvelSkillsAsset : public TQuorvelStreamAsset {
  FW_CLASS_META(TQuorvelSkillsAsset, TQuorvelStreamAsset, TQuorvelAssetClass)

public:
  using TQuorvelStreamAsset::TQuorvelStreamAsset;
  ~TQuorvelSkillsAsset() override;
  static int32_t GetGroupId() { return 9; }
  static std::string GetGroupDescr() { return "SKILLS"; }
  static std::vector<std::string> GetSupportedExtensions();
  TQuorvelSkillSystem* GetSkillSystem();

private:
  TQuorvelSkillSystem* FSkillSystem = nullptr;  // owned
};

class TQuorvelTextureAsset : public TQuorvelAsset {
  FW_CLASS_META(TQuorvelTextureAsset, TQuorvelAsset, TQuorvelAssetClass)

public:
  using TQuorvelAsset::TQuorvelAsset;
  ~TQuorvelTextureAsset() override;

  static int32_t GetGroupId() { return 1; }
  static std::string GetGroupDescr() { return "TEXTURE"; }
  static std::vector<std::string> GetSupportedExtensions();

  const std::string& GetOriginalFilename() const noexcept { return FOriginalFilename; }
  // The image, decoded and cached on first request: the cached bitmap, else the package
  // archive's entry, else the file named by OriginalFilename, else its bare name (each miss
  // logs one line); null when none exists. Raises for a missing, malformed or unsupported
  // extension. Owned by the asset.
  virtual TBitmap* GetBitmap();
  TBitmap* Bitmap() { return GetBitmap(); }
  // The bitmap of the archive's data entry; null when the archive lacks it.
  virtual TBitmap* LoadBitmapFromArchive(TQuorvelArchiveReference* AArchive);
  // Wraps a bitmap decoded elsewhere: the asset owns ABitmap from now on and is standalone.
  virtual void ImportFromCachedBitmap(const std::string& AFilename, TBitmap* ABitmap);
  // Records the names; with Cached decodes AStream at once. A null stream records names only.
  void ImportFromStream(const std::string& AFilename, TStream* AStream, const TAssetImportFlags& AFlags) override;
  // Written once: a data entry already in the archive is never rewritten.
  void StoreToArchive(TQuorvelArchiveReference* AArchive, const std::string& AGroupPath) override;

  // The base descriptor plus "OriginalFilename", written with the URL-encoded Filename.
  TJSONObject* ToJSON() const override;
  void FromJSON(const TJSONObject* AValue) override;

private:
  std::string FOriginalFilename;
  TBitmap* FCachedBitmap = nullptr;  // owned
};

// A model definition (TModelDef), stored in the archive as Q3M with a JSON body.
class TQuorvelModelAsset : public TQuorvelAsset {
  FW_CLASS_META(TQuorvelModelAsset, TQuorvelAsset, TQuorvelAssetClass)

public:
  // Every model asset starts with the ten sub-groups.
  explicit TQuorvelModelAsset(TQuorvelAssetsGroup* AGroup = nullptr);
  ~TQuorvelModelAsset() override;

  static int32_t GetGroupId() { return 0; }
  static std::string GetGroupDescr() { return "MODEL"; }
  static std::vector<std::string> GetSupportedExtensions();

  TObject* GetModel() const noexcept { return FModel; }
  // Takes ownership (a definition replaced here is freed); a TModelDef learns its asset and,
  // unless the asset is reading from an archive, is stored at once.
  virtual void SetModel(TObject* AValue);
  void AddDefaultSubGroups();
  // The definition lets go of a texture asset of the sub-groups about to be freed (a cleared
  // or removed sub-group): it keeps no pointer to it.
  void ReleaseTextureAsset(TQuorvelAsset* AAsset);
  // Options naming this asset and its package; the package's user options replace them.
  TQuorvelLoadOptions GetLoadOptions() const;

  void ImportFromStream(const std::string& AFilename, TStream* AStream, const TAssetImportFlags& AFlags) override;
  void LoadDataFromArchive(TQuorvelArchiveReference* AArchive, const std::string& APath) override;
  void StoreToArchive(TQuorvelArchiveReference* AArchive, const std::string& AGroupPath) override;
  int64_t GetSize() const override;

private:
  void ReplaceModel(TObject* AValue);
  TQuorvelAssetsPackage* FindPackage() const;
  TObject* FModel = nullptr;  // owned
};

// ---------------------------------------------------------------------------------------
// Groups

// Assets of one kind, by id, in insertion order.
class TQuorvelAssetsGroup : public TCollectionItem {
  FW_CLASS(TQuorvelAssetsGroup, TCollectionItem)

public:
  using TOwnerArg = TCollection*;
  explicit TQuorvelAssetsGroup(TCollection* ACollection = nullptr);
  ~TQuorvelAssetsGroup() override;
  void BeforeDestruction() override;
  // A group of AClass appended to ACollection.
  static TQuorvelAssetsGroup* CreateForAsset(TCollection* ACollection, const TQuorvelAssetClass* AClass);
  void Initialize(const TQuorvelAssetClass* AClass);

  std::string GetDisplayName() const override { return FDescr; }
  void SetDisplayName(const std::string& Value) override { FDescr = Value; }
  const std::string& GetDescr() const noexcept { return FDescr; }
  // Without a class a built-in index (0 to 9) adopts its kind; else TQuorvelAsset answers.
  std::string GetAssetClassName() const;
  // An unknown name gives TQuorvelAsset; a class that is no asset class changes nothing.
  void SetAssetClassName(const std::string& AValue);
  const TQuorvelAssetClass* GetAssetClass() const noexcept { return FAssetClass; }
  TQuorvelAsset* GetOwnerAsset() const noexcept { return FOwnerAsset; }
  void SetOwnerAsset(TQuorvelAsset* AValue) noexcept { FOwnerAsset = AValue; }
  // The package of the collection; raises as the collection does.
  TQuorvelAssetsPackage* GetPackage() const;
  int32_t GetGroupIndex() const;
  std::string GetArchivePath() const;
  static std::string GetDescriptorPath(std::string_view APath);
  // The archive the group's assets store into: the package's, made on demand; null without a
  // package or when the package belongs to no manager (its assets then stay in memory).
  TQuorvelArchiveReference* StoreArchive() const;

  int32_t Count() const noexcept { return int32_t(FAssets.size()); }
  TQuorvelAsset* GetAsset(int32_t AIndex) const;
  const std::vector<TQuorvelAsset*>& Assets() const noexcept { return FAssets; }
  TQuorvelAsset* FindAssetById(const TGUID& AId) const;
  TQuorvelAsset* GetAssetFromId(const TGUID& AId) const { return FindAssetById(AId); }
  // By exact name when strict, else by file-name part on both sides.
  TQuorvelAsset* FindAssetByFilename(const std::string& AFilename, bool AStrictFilename) const;
  // The asset of that name, else a new one imported through the asset class.
  TQuorvelAsset* GetAssetFromFile(const std::string& AFilename, bool AStrictFilename);
  TQuorvelAsset* GetAssetFromStream(const std::string& AFilename, TStream* AStream, bool AStrictFilename);
  // False for null and for an id already held (logged); a class other than the group's raises.
  bool AddAsset(TQuorvelAsset* AAsset);
  TQuorvelAsset* AddEmptyAsset(const std::string& AFileName, bool AStrictFileName);
  // A new asset of the group's class with id AId; null without class. A held id raises
  // EDuplicateKey.
  TQuorvelAsset* AddEmptyAsset(const TGUID& AId);
  // Puts AAsset in under its id without check or events (the class imports).
  void InsertAsset(TQuorvelAsset* AAsset);
  void Clear(bool ADeleteInArchive);
  void Delete() { Clear(true); }
  void Assign(TPersistent* ASource) override;

  TJSONObject* ToJSON() const;
  void FromJSON(const TJSONObject* AValue);
  void StoreToArchive(TQuorvelArchiveReference* AArchive);
  // The group of APath's descriptor appended to ACollection; null without archive,
  // descriptor or a findable asset class.
  static TQuorvelAssetsGroup* LoadFromArchive(TCollection* ACollection, TQuorvelArchiveReference* AArchive,
                                              const std::string& APath);
  int64_t GetSize() const;
  std::string Log(const std::string& AIndent) const;

private:
  void ModifyBefore(TQuorvelPackageEvent AEvent, TObject* AItem) const;
  void ModifyAfter(TQuorvelPackageEvent AEvent, TObject* AItem) const;
  // Removes every asset, each freed with its AssetRemove events.
  void RemoveAll();

  std::string FDescr;
  TQuorvelAsset* FOwnerAsset = nullptr;  // not owned
  mutable const TQuorvelAssetClass* FAssetClass = nullptr;  // adopted on first read
  std::vector<TQuorvelAsset*> FAssets;  // owned
};

// ---------------------------------------------------------------------------------------
// Packages

class TQuorvelAssetsPackage : public TCollectionItem {
  FW_CLASS(TQuorvelAssetsPackage, TCollectionItem)

public:
  using TOwnerArg = TCollection*;
  // A fresh GUID and the ten built-in groups.
  explicit TQuorvelAssetsPackage(TCollection* ACollection = nullptr);
  ~TQuorvelAssetsPackage() override;
  void BeforeDestruction() override;
  void Initialize();
  void Close();

  std::string GetDisplayName() const override { return FDescr; }
  void SetDisplayName(const std::string& Value) override;
  const TGUID& GetGUID() const noexcept { return FGUID; }
  TQuorvelAssetsGroupCollection* GetGroups() const noexcept { return FGroups.get(); }
  void SetGroups(TQuorvelAssetsGroupCollection* AValue);
  TQuorvelAssetsManager* GetManager() const;
  // The held archive, created on demand (in memory under the display name without a file
  // name). Raises without a manager.
  TQuorvelArchiveReference* GetArchive();
  bool HasArchive() const noexcept { return FArchive != nullptr; }

  TOnPackageEvent OnModifyBefore;
  TOnPackageEvent OnModifyAfter;
  const TOnPackageEvent& GetOnModifyBefore() const { return OnModifyBefore; }
  void SetOnModifyBefore(const TOnPackageEvent& AValue) { OnModifyBefore = AValue; }
  const TOnPackageEvent& GetOnModifyAfter() const { return OnModifyAfter; }
  void SetOnModifyAfter(const TOnPackageEvent& AValue) { OnModifyAfter = AValue; }
  void DoModifyBefore(TQuorvelPackageEvent AEvent, TObject* AItem);
  void DoModifyAfter(TQuorvelPackageEvent AEvent, TObject* AItem);

  // Groups.
  TQuorvelAssetsGroup* AddGroup(const TQuorvelAssetClass* AClass);
  void RemoveGroup(int32_t AIdx);
  void RemoveGroup(const std::string& ADescr);
  int32_t GroupCount() const noexcept;
  // 0 to 9 find the built-in group by name when the index holds another (logged).
  TQuorvelAssetsGroup* GetGroup(int32_t AIdx) const;
  TQuorvelAssetsGroup* GetGroup(const std::string& ADescr) const;
  int32_t GetGroupIndex(const std::string& ADescr) const;
  int32_t GetGroupIndex(const TQuorvelAssetsGroup* AGroup) const;
  TQuorvelAssetsGroup* GetGroupByExtension(std::string_view AExt) const;
  void ClearGroup(int32_t AIdx, bool ADeleteInArchive);

  // Contents.
  virtual void Clear(bool ADeleteInArchive);
  void Delete() { Clear(true); }
  void Assign(TPersistent* ASource) override;
  int64_t GetSize() const;
  std::string Log() const;

  // The name as set, placeholders kept.
  const std::string& GetFilename() const noexcept { return FFilename; }
  // Filename resolved to the absolute path the package reads and writes.
  const std::string& GetResolvedFilename() const noexcept { return FResolvedFilename; }
  // Stores AValue; a non-empty name is resolved (relative names against the executable's
  // folder) and its folder must pass the write probe, else Filename is cleared and
  // "Failed to read/write package - missing write-access in folder: <folder>" raised. With a
  // manager the package then loads the file (a missing one starts an empty archive).
  virtual void SetFilename(const std::string& AValue);
  void Refresh();
  virtual void LoadFromFile(const std::string& AFilename);
  virtual void LoadFromStream(TStream* AStream);
  // Every group stores itself into the archive, which is then copied to the target; nothing
  // without an archive.
  virtual void SaveToFile(const std::string& AFilename);
  virtual void SaveToStream(TStream* AStream);

  // Placeholders ("{HOME}", "{ASSETS}", "{DOCS}", "{DOWNLOADS}", "{LIB}", "{PUBLIC}",
  // "{SHARED_DOCS}", "{SHARED_DOWNLOADS}", any letter case) replaced by their folders and
  // every "\" turned into "/". An unknown token, or a "{" without "}", stays in upper case.
  static std::string ResolveFilename(std::string_view APath);
  // One token's folder with a trailing "/"; an unknown token upper-cased.
  static std::string ResolvePlaceholder(std::string_view AToken);
  // Whether a probe file "chk.tmp" can be created (and removed) in ADir; an existing probe
  // file or a missing folder fails.
  static bool HasWriteAccess(const std::string& ADir);

  // Assets.
  TQuorvelAsset* FindAsset(const std::string& AFilename, bool AStrictFilename) const;
  bool AssetExists(const std::string& AFilename) const { return FindAsset(AFilename, false) != nullptr; }
  // An entry path below an asset ("[group]/[id]/asset.json", "[group]/[id]/[file]") finds it;
  // pairs of sub-group and id after it lead to sub-assets. Fewer than three parts: null.
  TQuorvelAsset* FindAssetByArchivePath(const std::string& APath) const;
  TQuorvelAsset* AddAssetFromFile(const std::string& AFilename);
  TQuorvelAsset* GetAssetFromId(int32_t AGroup, const TGUID& AId) const;
  TQuorvelAsset* GetAssetFromFile(int32_t AGroup, const std::string& AFilename);
  TQuorvelAsset* GetAssetFromFile(const std::string& AGroupName, const std::string& AFilename);
  TQuorvelAsset* GetAssetFromStream(int32_t AGroup, const std::string& AFilename, TStream* AStream);
  // The same lookups in AOwner's sub-groups, or the package's when AOwner is null. An owner
  // without that sub-group raises "invalid group name "<AGroup>" for asset "<...>"".
  TQuorvelAsset* GetOwnerAssetFromId(TQuorvelAsset* AOwner, int32_t AGroup, const TGUID& AId) const;
  TQuorvelAsset* GetOwnerAssetFromFile(TQuorvelAsset* AOwner, int32_t AGroup, const std::string& AFilename);
  TQuorvelAsset* GetOwnerAssetFromStream(TQuorvelAsset* AOwner, int32_t AGroup, const std::string& AFilename,
                                         TStream* AStream);

  void SetUserLoadOptions(const TQuorvelLoadOptions& AOpts);
  void UnsetUserLoadOptions();
  bool UserLoadOptionsActive() const noexcept { return FUserOptionsSet; }
  const TQuorvelLoadOptions& GetUserLoadOptions() const noexcept { return FUserOptions; }

  // Whether the package is reading its archive (assets then write nothing back).
  bool IsLoading() const noexcept { return FLoading > 0; }

protected:
  void LoadFromArchive();

private:
  TQuorvelArchiveReference* FArchive = nullptr;  // one count held
  std::string FFilename;
  std::string FResolvedFilename;
  TGUID FGUID;
  std::string FDescr;
  TOwned<TQuorvelAssetsGroupCollection> FGroups;
  bool FUserOptionsSet = false;
  TQuorvelLoadOptions FUserOptions;
  int32_t FLoading = 0;
};

class TQuorvelAssetsPackageCollection : public TOwnedCollection {
  FW_CLASS(TQuorvelAssetsPackageCollection, TOwnedCollection)

public:
  explicit TQuorvelAssetsPackageCollection(TQuorvelAssetsManager* AOwner);
  TQuorvelAssetsManager* GetManager() const;
};

// ---------------------------------------------------------------------------------------
// The manager

class TQuorvelAssetsManager : public TComponent {
  FW_CLASS(TQuorvelAssetsManager, TComponent)

public:
  explicit TQuorvelAssetsManager(TComponent* AOwner);
  ~TQuorvelAssetsManager() override;
  void BeforeDestruction() override;

  TQuorvelArchiveReferences* GetArchiveReferences() const noexcept { return FArchiveReferences.get(); }
  TQuorvelLevelOfDetail GetLOD() const noexcept { return FLOD; }
  void SetLOD(TQuorvelLevelOfDetail AValue) noexcept { FLOD = AValue; }
  TQuorvelAssetsPackageCollection* GetPackages() const noexcept { return FPackages.get(); }
  void SetPackages(TQuorvelAssetsPackageCollection* AValue);

  int32_t PackageCount() const;
  TQuorvelAssetsPackage* AddEmptyPackage(const std::string& ADescr);
  int32_t GetPackageIndex(const TGUID& AGUID) const;
  int32_t GetPackageIndex(const std::string& ADescr) const;
  TQuorvelAssetsPackage* GetPackage(const TGUID& AGUID) const;
  TQuorvelAssetsPackage* GetPackage(const std::string& ADescr) const;
  TQuorvelAssetsPackage* GetPackage(int32_t AIndex) const;
  void RemovePackage(const TGUID& AGUID);
  void RemovePackage(const std::string& ADescr);
  void ClearPackages();
  void Refresh();
  // A package named after the file-name part, loaded from AFilename.
  TQuorvelAssetsPackage* LoadPackageFromFile(const std::string& AFilename);
  int64_t GetSize() const;

private:
  TOwned<TQuorvelArchiveReferences> FArchiveReferences;
  TQuorvelLevelOfDetail FLOD = TQuorvelLevelOfDetail::LowQuality;
  TOwned<TQuorvelAssetsPackageCollection> FPackages;
};

}  // namespace quorvel
