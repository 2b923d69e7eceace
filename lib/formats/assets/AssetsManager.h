#pragma once
// Unit Quorvel.AssetsManager, first slice: the asset base class, texture assets (names, a
// cached bitmap, decoding from file, the JSON descriptor), asset groups and packages as far as
// definitions use them. Archives, descriptors on disk, stream and model assets come later.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/gui/Bitmap.h"
#include "framework/io/Json.h"
#include "framework/rtl/Exceptions.h"
#include "framework/rtl/Guid.h"
#include "framework/rtl/Object.h"
#include "framework/rtl/Set.h"

namespace quorvel {

class TStream;
class TQuorvelAsset;
class TQuorvelAssetsGroup;
class TQuorvelAssetsPackage;

// Silent like the run-time's abort: asset errors end an operation without a dialogue.
QUORVEL_EXCEPTION(EQuorvelAssetsException, EAbort);

enum class TAssetImportFlag : uint8_t { StrictFileName = 0, Cached = 1 };
FW_ENUM(TAssetImportFlag, StrictFileName, Cached)
using TAssetImportFlags = TSet<TAssetImportFlag>;

enum class TAssetState : uint8_t { asUndef = 0, asLoading = 1, asLoaded = 2, asStoring = 3, asStored = 4 };
FW_ENUM(TAssetState, asUndef, asLoading, asLoaded, asStoring, asStored)

class TQuorvelAsset : public TPersistent {
  FW_CLASS(TQuorvelAsset, TPersistent)

public:
  using TOwnerArg = TQuorvelAssetsGroup*;
  // A new random id; AGroup may be null (the asset belongs to no package). Not added to the
  // group here (the group's AddEmptyAsset does that).
  explicit TQuorvelAsset(TQuorvelAssetsGroup* AGroup = nullptr);
  ~TQuorvelAsset() override;

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

  // The sub-group at AIdx; null when out of range (assets of this slice have none).
  TQuorvelAssetsGroup* GetSubGroup(int32_t AIdx) const;
  int32_t SubGroupCount() const noexcept { return int32_t(FSubGroups.size()); }

  // Opens the file for reading and imports from it (a missing file raises EFOpenError).
  virtual void ImportFromFile(const std::string& AFilename, const TAssetImportFlags& AFlags);
  virtual void ImportFromStream(const std::string& AFilename, TStream* AStream, const TAssetImportFlags& AFlags) = 0;

  // Instance size plus two bytes per character of Filename.
  virtual int64_t GetSize() const;
  // "Type", "Id" (braced), "Version" "1.3", "Filename" (URL-encoded), "Extension".
  virtual TJSONObject* ToJSON() const;
  // "Id" is required ("failed to load asset - id not set"); "Filename" (URL-decoded) and
  // "Extension" when present.
  virtual void FromJSON(const TJSONObject* AValue);

protected:
  TQuorvelAssetsGroup* FGroup;  // not owned
  std::vector<TQuorvelAssetsGroup*> FSubGroups;  // owned
  TGUID FId;
  std::string FFilename;
  std::string FExtension;
  bool FCached = false;
  bool FIsStandalone = false;
  TAssetState FState = TAssetState::asUndef;
};

class TQuorvelTextureAsset : public TQuorvelAsset {
  FW_CLASS(TQuorvelTextureAsset, TQuorvelAsset)

public:
  using TQuorvelAsset::TQuorvelAsset;
  ~TQuorvelTextureAsset() override;

  static int32_t GetGroupId() { return 1; }
  static std::string GetGroupDescr() { return "TEXTURE"; }

  const std::string& GetOriginalFilename() const noexcept { return FOriginalFilename; }
  // The image, decoded and cached on first request: the cached bitmap, else the file named by
  // OriginalFilename, else its bare name (each miss logs one line); null when neither exists.
  // Raises for a missing, malformed or unsupported extension. Owned by the asset.
  virtual TBitmap* GetBitmap();
  TBitmap* Bitmap() { return GetBitmap(); }
  // Wraps a bitmap decoded elsewhere: the asset owns ABitmap from now on and is standalone.
  virtual void ImportFromCachedBitmap(const std::string& AFilename, TBitmap* ABitmap);
  // Records the names; with Cached decodes AStream at once. A null stream records names only.
  void ImportFromStream(const std::string& AFilename, TStream* AStream, const TAssetImportFlags& AFlags) override;

  // The base descriptor plus "OriginalFilename", written with the URL-encoded Filename.
  TJSONObject* ToJSON() const override;
  void FromJSON(const TJSONObject* AValue) override;

private:
  std::string FOriginalFilename;
  TBitmap* FCachedBitmap = nullptr;  // owned
};

// Assets of one kind in a package (or an asset's sub-group), by id in insertion order.
class TQuorvelAssetsGroup : public TObject {
  FW_CLASS(TQuorvelAssetsGroup, TObject)

public:
  // AAssetClass: the class AddEmptyAsset makes (null: none).
  TQuorvelAssetsGroup(TQuorvelAssetsPackage* APackage, const TClass* AAssetClass, std::string ADescr);
  ~TQuorvelAssetsGroup() override;

  TQuorvelAssetsPackage* GetPackage() const noexcept { return FPackage; }
  const TClass* GetAssetClass() const noexcept { return FAssetClass; }
  const std::string& GetDescr() const noexcept { return FDescr; }
  int32_t Count() const noexcept { return int32_t(FAssets.size()); }
  TQuorvelAsset* GetAsset(int32_t AIndex) const;
  TQuorvelAsset* FindAssetById(const TGUID& AId) const;

  // A new asset of the group's class with id AId, added and announced to the package; null
  // when the group has no asset class. An id already in the group raises EDuplicateKey.
  TQuorvelAsset* AddEmptyAsset(const TGUID& AId);

private:
  TQuorvelAssetsPackage* FPackage;  // not owned
  const TClass* FAssetClass;
  std::string FDescr;
  std::vector<TQuorvelAsset*> FAssets;  // owned
};

class TQuorvelAssetsPackage : public TObject {
  FW_CLASS(TQuorvelAssetsPackage, TObject)

public:
  // One group per asset kind, in group-id order (the model group has no class yet).
  TQuorvelAssetsPackage();
  ~TQuorvelAssetsPackage() override;

  int32_t GroupCount() const noexcept { return int32_t(FGroups.size()); }
  // Null when AIdx is out of range.
  TQuorvelAssetsGroup* GetGroup(int32_t AIdx) const;
  // The asset AId of group AGroup: of AOwner's sub-groups, or of the package's groups when
  // AOwner is null; null when there is none. An owner without that sub-group raises
  // "invalid group name "<AGroup>" for asset "<owner id>"".
  TQuorvelAsset* GetOwnerAssetFromId(TQuorvelAsset* AOwner, int32_t AGroup, const TGUID& AId) const;

  // Fired after an asset was added to one of the package's groups.
  std::function<void(TQuorvelAsset* AAsset)> OnModified;

  // The name as set, placeholders kept.
  const std::string& GetFilename() const noexcept { return FFilename; }
  // Filename resolved to the absolute path the package reads and writes.
  const std::string& GetResolvedFilename() const noexcept { return FResolvedFilename; }
  // Stores AValue; a non-empty name is resolved (relative names against the executable's
  // folder) and its folder must pass the write probe, else Filename is cleared and
  // "Failed to read/write package - missing write-access in folder: <folder>" raised.
  virtual void SetFilename(const std::string& AValue);

  // Placeholders ("{HOME}", "{ASSETS}", "{DOCS}", "{DOWNLOADS}", "{LIB}", "{PUBLIC}",
  // "{SHARED_DOCS}", "{SHARED_DOWNLOADS}", any letter case) replaced by their folders and
  // every "\" turned into "/". An unknown token, or a "{" without "}", stays in upper case.
  static std::string ResolveFilename(std::string_view APath);
  // One token's folder with a trailing "/"; an unknown token upper-cased.
  static std::string ResolvePlaceholder(std::string_view AToken);
  // Whether a probe file "chk.tmp" can be created (and removed) in ADir; an existing probe
  // file or a missing folder fails.
  static bool HasWriteAccess(const std::string& ADir);

private:
  friend class TQuorvelAssetsGroup;
  std::string FFilename;
  std::string FResolvedFilename;
  std::vector<TQuorvelAssetsGroup*> FGroups;  // owned
};

}  // namespace quorvel
