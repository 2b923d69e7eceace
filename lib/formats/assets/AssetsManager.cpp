#include "lib/formats/assets/AssetsManager.h"

#include <memory>

#include "framework/io/Path.h"
#include "framework/io/Stream.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/NetEncoding.h"
#include "framework/rtl/SysUtils.h"
#include "lib/formats/ImagingDDS.h"
#include "lib/formats/ImagingImport.h"
#include "lib/formats/ImagingTGA.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelAsset, "Quorvel.AssetsManager")
FW_CLASS_NO_MEMBERS(TQuorvelAsset)
FW_CLASS_IMPL(TQuorvelTextureAsset, "Quorvel.AssetsManager")
FW_CLASS_NO_MEMBERS(TQuorvelTextureAsset)
FW_CLASS_IMPL(TQuorvelAssetsGroup, "Quorvel.AssetsManager")
FW_CLASS_NO_MEMBERS(TQuorvelAssetsGroup)
FW_CLASS_IMPL(TQuorvelAssetsPackage, "Quorvel.AssetsManager")
FW_CLASS_NO_MEMBERS(TQuorvelAssetsPackage)

namespace {

constexpr const char* FilenameEmpty = "AssetsManager.TextureAsset - filename empty";

// The text after the last "/", "\" or ":".
std::string FileNamePart(std::string_view APath) {
  const size_t pos = APath.find_last_of("/\\:");
  return std::string(pos == std::string_view::npos ? APath : APath.substr(pos + 1));
}

// From the last "." of the file-name part, with the dot; empty when none.
std::string ExtensionOf(std::string_view APath) {
  const std::string name = FileNamePart(APath);
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// TQuorvelAsset

TQuorvelAsset::TQuorvelAsset(TQuorvelAssetsGroup* AGroup) : FGroup(AGroup), FId(TGUID::NewGuid()) {}

TQuorvelAsset::~TQuorvelAsset() {
  for (TQuorvelAssetsGroup* group : FSubGroups) FreeQuietly(group, "asset sub-group");
}

TQuorvelAssetsGroup* TQuorvelAsset::GetSubGroup(int32_t AIdx) const {
  if (AIdx < 0 || AIdx >= SubGroupCount()) return nullptr;
  return FSubGroups[size_t(AIdx)];
}

void TQuorvelAsset::ImportFromFile(const std::string& AFilename, const TAssetImportFlags& AFlags) {
  TFileStream stream(AFilename, fmOpenRead);
  ImportFromStream(AFilename, &stream, AFlags);
}

void TQuorvelAsset::ImportFromStream(const std::string&, TStream*, const TAssetImportFlags&) {}

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

// ---------------------------------------------------------------------------------------
// TQuorvelTextureAsset

TQuorvelTextureAsset::~TQuorvelTextureAsset() { FreeQuietly(FCachedBitmap, "texture asset bitmap"); }

void TQuorvelTextureAsset::ImportFromCachedBitmap(const std::string& AFilename, TBitmap* ABitmap) {
  if (AFilename.empty()) throw EQuorvelAssetsException(FilenameEmpty);
  FOriginalFilename = AFilename;
  FFilename = FileNamePart(AFilename);
  FExtension = ExtensionOf(AFilename);
  FCached = true;
  FIsStandalone = true;
  if (FCachedBitmap != ABitmap) {
    FreeQuietly(FCachedBitmap, "texture asset bitmap");
    FCachedBitmap = ABitmap;
  }
}

void TQuorvelTextureAsset::ImportFromStream(const std::string& AFilename, TStream* AStream,
                                            const TAssetImportFlags& AFlags) {
  if (AFilename.empty()) throw EQuorvelAssetsException(FilenameEmpty);
  FOriginalFilename = AFilename;
  FFilename = FileNamePart(AFilename);
  if (AFlags.Contains(TAssetImportFlag::Cached) && AStream) {
    // Decoded into a new bitmap first: a stream that does not decode leaves the asset as it was.
    TOwned<TBitmap> bitmap(New<TBitmap>());
    bitmap->LoadFromStream(AStream);
    FreeQuietly(FCachedBitmap, "texture asset bitmap");
    FCachedBitmap = bitmap.release();
    FCached = true;
  }
  if (!FGroup && FExtension.empty()) FExtension = ExtensionOf(AFilename);
}

TBitmap* TQuorvelTextureAsset::GetBitmap() {
  if (FExtension.empty()) FExtension = ExtensionOf(FFilename);
  if (FExtension.empty())
    throw EQuorvelAssetsException(
        Format("AssetsManager.TextureAsset exception - missing file extension `%s`", {FExtension}));
  if (FExtension[0] != '.' || FExtension.size() < 2)
    throw EQuorvelAssetsException(
        Format("AssetsManager.TextureAsset exception - invalid file extension `%s`", {FExtension}));
  if (FCached && FCachedBitmap && !FCachedBitmap->IsEmpty()) return FCachedBitmap;

  std::string path = FOriginalFilename;
  if (!TFile::Exists(path)) {
    Log::d(Format("failed to load texture %s (\"%s\") [%s]", {path, FFilename, FId.ToString()}));
    path = FileNamePart(path);
    if (!TFile::Exists(path)) {
      Log::d(Format("failed to load texture %s (\"%s\") [%s]", {path, FFilename, FId.ToString()}));
      return nullptr;
    }
  }
  const std::string ext = LowerCase(FExtension);
  static const char* const Supported[] = {".bmp", ".gif", ".jpg", ".jpeg", ".png", ".tif", ".tiff", ".dds", ".tga"};
  bool supported = false;
  for (const char* s : Supported) supported = supported || ext == s;
  if (!supported)
    throw EQuorvelAssetsException(
        Format("AssetsManager.TextureAsset - unsupported file format \"%s\"", {FExtension}));
  TOwned<TBitmap> bitmap(New<TBitmap>());
  TFileStream stream(path, fmOpenRead | fmShareDenyNone);
  if (ext == ".dds" || ext == ".tga") {
    // Our own codecs; the codec is freed after the load and hands its options back.
    TOwned<TImageFileFormat> codec(ext == ".dds" ? static_cast<TImageFileFormat*>(New<TDDSFileFormat>())
                                                 : New<TTargaFileFormat>());
    TDynImageDataArray images;
    auto release = Finally([&] { ReleaseImageArray(images); });
    if (!codec->LoadFromStream(&stream, images, false) || images.empty())
      throw EImagingError(Format("failed to decode image \"%s\"", {path}));
    ImportImageToBitmap(images[0], bitmap.get());
  } else {
    // The framework decodes the other formats by content.
    bitmap->LoadFromStream(&stream);
  }
  FreeQuietly(FCachedBitmap, "texture asset bitmap");
  FCachedBitmap = bitmap.release();
  FCached = true;
  return FCachedBitmap;
}

TJSONObject* TQuorvelTextureAsset::ToJSON() const {
  TJSONObject* obj = TQuorvelAsset::ToJSON();
  obj->AddPair("OriginalFilename", TURLEncoding::Encode(FFilename));
  return obj;
}

void TQuorvelTextureAsset::FromJSON(const TJSONObject* AValue) {
  TQuorvelAsset::FromJSON(AValue);
  if (const TJSONValue* original = AValue->GetValue("OriginalFilename"))
    FOriginalFilename = TURLEncoding::Decode(original->Value());
}

// ---------------------------------------------------------------------------------------
// TQuorvelAssetsGroup

TQuorvelAssetsGroup::TQuorvelAssetsGroup(TQuorvelAssetsPackage* APackage, const TClass* AAssetClass,
                                         std::string ADescr)
    : FPackage(APackage), FAssetClass(AAssetClass), FDescr(std::move(ADescr)) {}

TQuorvelAssetsGroup::~TQuorvelAssetsGroup() {
  for (TQuorvelAsset* asset : FAssets) FreeQuietly(asset, "package asset");
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

TQuorvelAsset* TQuorvelAssetsGroup::AddEmptyAsset(const TGUID& AId) {
  if (!FAssetClass) return nullptr;
  if (FindAssetById(AId)) throw EDuplicateKey("Duplicates not allowed");
  TOwned<TQuorvelAsset> asset(FAssetClass->CreateAs<TQuorvelAsset>(this));
  asset->SetId(AId);
  FAssets.push_back(asset.get());
  TQuorvelAsset* result = asset.release();
  if (FPackage && FPackage->OnModified) FPackage->OnModified(result);
  return result;
}

// ---------------------------------------------------------------------------------------
// TQuorvelAssetsPackage

TQuorvelAssetsPackage::TQuorvelAssetsPackage() {
  FGroups.push_back(New<TQuorvelAssetsGroup>(this, nullptr, "MODEL"));
  FGroups.push_back(New<TQuorvelAssetsGroup>(this, TQuorvelTextureAsset::StaticClass(), "TEXTURE"));
}

TQuorvelAssetsPackage::~TQuorvelAssetsPackage() {
  for (TQuorvelAssetsGroup* group : FGroups) FreeQuietly(group, "package group");
}

TQuorvelAssetsGroup* TQuorvelAssetsPackage::GetGroup(int32_t AIdx) const {
  if (AIdx < 0 || AIdx >= GroupCount()) return nullptr;
  return FGroups[size_t(AIdx)];
}

TQuorvelAsset* TQuorvelAssetsPackage::GetOwnerAssetFromId(TQuorvelAsset* AOwner, int32_t AGroup,
                                                          const TGUID& AId) const {
  TQuorvelAssetsGroup* group = nullptr;
  if (AOwner) {
    group = AOwner->GetSubGroup(AGroup);
    if (!group)
      throw EQuorvelAssetsException(
          Format("invalid group name \"%d\" for asset \"%s\"", {AGroup, AOwner->GetId().ToString()}));
  } else {
    group = GetGroup(AGroup);
  }
  return group ? group->FindAssetById(AId) : nullptr;
}

}  // namespace quorvel
