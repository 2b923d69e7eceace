// Texture assets: names, a cached bitmap decoded from the archive or from disk, stored into
// the archive once as PNG.
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
#include "lib/formats/Loader.h"
#include "lib/formats/assets/AssetsArchives.h"
#include "lib/formats/assets/AssetsLayout.h"
#include "lib/formats/assets/AssetsManager.h"

namespace quorvel {

using namespace assets_layout;

namespace {

// Textures import without opening their file: the image is read when first requested.
struct TTextureAssetClass : TQuorvelAssetKindClass<TQuorvelTextureAsset> {
  using TQuorvelAssetKindClass::TQuorvelAssetKindClass;
  TQuorvelAsset* ImportFromFile(TQuorvelAssetsGroup* AGroup, const std::string& AFilename,
                                const TAssetImportFlags& AFlags) const override {
    return ImportFromStream(AGroup, AFilename, nullptr, AFlags);
  }
  TQuorvelAsset* ImportFromStream(TQuorvelAssetsGroup* AGroup, const std::string& AFilename, TStream* AStream,
                                  const TAssetImportFlags& AFlags) const override {
    if (!AGroup) return nullptr;
    TOwned<TQuorvelAsset> asset(CreateAs<TQuorvelAsset>(AGroup));
    asset->ImportFromStream(AFilename, AStream, AFlags);
    AGroup->InsertAsset(asset.get());
    return asset.release();
  }
};

constexpr const char* FilenameEmpty = "AssetsManager.TextureAsset - filename empty";

// The texture limits of the model loader running on this thread, when it sets any.
void LimitForCurrentLoader(TBitmap* ABitmap) {
  const TQuorvelLoaderThreadInfo info = TQuorvelLoader::GetCurrentLoaderThreadInfo();
  const TPoint& limits = info.Options.TextureLimits;
  if (info.Loader && (limits.X != 0 || limits.Y != 0)) TQuorvelLoader::LimitTextureSize(ABitmap, limits);
}


}  // namespace

FW_CLASS_IMPL_META(TQuorvelTextureAsset, "Quorvel.AssetsManager", TTextureAssetClass)
FW_CLASS_NO_MEMBERS(TQuorvelTextureAsset)

std::vector<std::string> TQuorvelTextureAsset::GetSupportedExtensions() {
  return {".bmp", ".jpg", ".jpeg", ".dds", ".gif", ".png", ".tif", ".tiff", ".tga"};
}

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
    LimitForCurrentLoader(bitmap.get());
    FreeQuietly(FCachedBitmap, "texture asset bitmap");
    FCachedBitmap = bitmap.release();
    FCached = true;
  }
  if (FGroup) {
    TQuorvelArchiveReference* archive = (FGroup ? FGroup->StoreArchive() : nullptr);
    if (archive && !archive->FileExists(GetDescriptorPath(GetArchivePath())))
      InSession(archive, [&] { StoreToArchive(archive, FGroup->GetArchivePath()); });
  } else if (FExtension.empty()) {
    FExtension = ExtensionOf(AFilename);
  }
}

TBitmap* TQuorvelTextureAsset::LoadBitmapFromArchive(TQuorvelArchiveReference* AArchive) {
  if (!AArchive) return nullptr;
  const std::string entry = DataEntry(GetArchivePath(), FFilename);
  if (!AArchive->FileExists(entry)) return nullptr;
  TMemoryStream data;
  TZipHeader header;
  AArchive->ReadToStream(entry, &data, header);
  TOwned<TBitmap> bitmap(New<TBitmap>());
  bitmap->LoadFromStream(&data);
  return bitmap.release();
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

  if (TQuorvelArchiveReference* archive = (FGroup ? FGroup->StoreArchive() : nullptr)) {
    if (TBitmap* stored = LoadBitmapFromArchive(archive)) {
      FreeQuietly(FCachedBitmap, "texture asset bitmap");
      FCachedBitmap = stored;
      FCached = true;
      return FCachedBitmap;
    }
  }

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
  if (!TQuorvelTextureAsset::StaticMeta()->IsExtensionSupported(ext))
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
  LimitForCurrentLoader(bitmap.get());
  FreeQuietly(FCachedBitmap, "texture asset bitmap");
  FCachedBitmap = bitmap.release();
  FCached = true;
  return FCachedBitmap;
}

void TQuorvelTextureAsset::StoreToArchive(TQuorvelArchiveReference* AArchive, const std::string& AGroupPath) {
  if (FState == TAssetState::asStoring) return;
  FState = TAssetState::asStoring;
  if (!AArchive) return;
  const std::string entry = DataEntry(GetArchivePath(), FFilename);
  // Stored once: the state stays asStoring, so later stores skip it at once.
  if (AArchive->FileExists(entry)) return;
  auto state = Finally([&] { FState = TAssetState::asStored; });
  TQuorvelAsset::StoreToArchive(AArchive, AGroupPath);
  if (TBitmap* bitmap = GetBitmap()) {
    TMemoryStream png;
    bitmap->SaveToStream(&png);
    png.SetPosition(0);
    AArchive->DeleteFile(entry);
    AArchive->AddFromStream(&png, entry);
  }
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

}  // namespace quorvel
