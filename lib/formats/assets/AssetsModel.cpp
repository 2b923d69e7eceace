// Model assets: a model definition read by the loaders and stored as Q3M with a JSON body.
#include "framework/io/Stream.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/SysUtils.h"
#include "lib/defs/DefTypesMaterial.h"
#include "lib/defs/DefTypesModel.h"
#include "lib/defs/DefTypesTexture.h"
#include "lib/formats/Loader.h"
#include "lib/formats/assets/AssetsArchives.h"
#include "lib/formats/assets/AssetsLayout.h"
#include "lib/formats/assets/AssetsListeners.h"
#include "lib/formats/assets/AssetsManager.h"
#include "lib/formats/q3m/Q3MExporter.h"

namespace quorvel {

using namespace assets_layout;

namespace {

// The reader registers the asset in the package's model group and hands it the definition;
// the import then finds it there. Other groups are refused before anything is read.
struct TModelAssetClass : TQuorvelAssetKindClass<TQuorvelModelAsset> {
  using TQuorvelAssetKindClass::TQuorvelAssetKindClass;
  TQuorvelAsset* ImportFromStream(TQuorvelAssetsGroup* AGroup, const std::string& AFilename, TStream* AStream,
                                  const TAssetImportFlags& AFlags) const override {
    if (!AGroup || !AStream) return nullptr;
    auto* groups = dynamic_cast<TQuorvelAssetsGroupCollection*>(AGroup->GetCollection());
    TQuorvelAssetsPackage* package = groups ? groups->FindPackage() : nullptr;
    if (!package || package->GetGroup(0) != AGroup)
      throw Exception(Format("autocreated asset not found for %s", {AFilename}));
    TQuorvelAsset* asset = nullptr;
    // One session: the reader's textures and the model's stores write the directory once.
    TQuorvelArchiveReference* archive = AGroup->StoreArchive();
    InSession(archive, [&] {
      TModelDef* def = TQuorvelLoader::LoadUndefinedModelDefFromStream(AStream, package, AFilename, "");
      if (def && !def->GetAsset()) Free(def);  // nobody took it
      asset = AGroup->FindAssetByFilename(FileNamePart(AFilename), AFlags.Contains(TAssetImportFlag::StrictFileName));
      if (!asset) throw Exception(Format("autocreated asset not found for %s", {AFilename}));
      asset->StoreToArchive(archive, AGroup->GetArchivePath());
    });
    return asset;
  }
};

}  // namespace

FW_CLASS_IMPL_META(TQuorvelModelAsset, "Quorvel.AssetsManager", TModelAssetClass)
FW_CLASS_NO_MEMBERS(TQuorvelModelAsset)

std::vector<std::string> TQuorvelModelAsset::GetSupportedExtensions() {
  return {".obj", ".q3m", ".dae", ".stl", ".x3d", ".x3dvz", ".x3dz", ".fbx", ".gltf", ".glb", ".babylon", ".ply", ".skp"};
}

TQuorvelModelAsset::TQuorvelModelAsset(TQuorvelAssetsGroup* AGroup) : TQuorvelAsset(AGroup) { AddDefaultSubGroups(); }

TQuorvelModelAsset::~TQuorvelModelAsset() {
  assets_listeners::DefinitionFreeing(FModel);
  // Nulled: the sub-groups' textures, freed after it, look for it.
  FreeQuietlyAndNil(FModel, "model asset definition");
}

void TQuorvelModelAsset::ReleaseTextureAsset(TQuorvelAsset* AAsset) {
  // The group frees it, not the texture.
  if (auto* def = dynamic_cast<TModelDef*>(FModel)) def->DetachTextureAsset(AAsset);
}

TQuorvelAssetsPackage* TQuorvelModelAsset::FindPackage() const {
  auto* groups = FGroup ? dynamic_cast<TQuorvelAssetsGroupCollection*>(FGroup->GetCollection()) : nullptr;
  return groups ? groups->FindPackage() : nullptr;
}

void TQuorvelModelAsset::AddDefaultSubGroups() {
  for (const TQuorvelAssetClass* kind : TQuorvelAssetClass::Kinds()) AddSubGroup(kind);
}

void TQuorvelModelAsset::ReplaceModel(TObject* AValue) {
  if (FModel == AValue) return;
  TObject* old = FModel;
  // Models showing the old definition let go of it first.
  assets_listeners::DefinitionFreeing(old);
  FModel = AValue;
  Free(old);
}

void TQuorvelModelAsset::SetModel(TObject* AValue) {
  ReplaceModel(AValue);
  if (auto* def = dynamic_cast<TModelDef*>(AValue)) {
    def->SetAsset(this);
    if (FReadingFromArchive <= 0) UpdateInArchive();
  }
  if (AValue && FReadingFromArchive <= 0) assets_listeners::PackageDefinitionsChanged(FindPackage());
}

TQuorvelLoadOptions TQuorvelModelAsset::GetLoadOptions() const {
  auto* groups = FGroup ? dynamic_cast<TQuorvelAssetsGroupCollection*>(FGroup->GetCollection()) : nullptr;
  TQuorvelAssetsPackage* package = groups ? groups->FindPackage() : nullptr;
  TQuorvelLoadOptions options =
      TQuorvelLoadOptions::Create(FFilename, FExtension, package, const_cast<TQuorvelModelAsset*>(this));
  if (package && package->UserLoadOptionsActive()) {
    options = package->GetUserLoadOptions();
    if (options.FileInfo.PathOrUID.empty()) options.FileInfo.PathOrUID = FFilename;
    if (options.FileInfo.Ext.empty()) options.FileInfo.Ext = FExtension;
    // Still this asset's load: the reader must hand its definition here, not to a second asset.
    options.Package = package;
    options.Asset = const_cast<TQuorvelModelAsset*>(this);
  }
  return options;
}

void TQuorvelModelAsset::ImportFromStream(const std::string& AFilename, TStream* AStream, const TAssetImportFlags&) {
  if (AFilename.empty()) throw EQuorvelAssetsException("AssetsManager.TextureAsset - filename empty");
  FFilename = FileNamePart(AFilename);
  FExtension = LowerCase(ExtensionOf(AFilename));
  if (FExtension.size() < 2 || FExtension[0] != '.')
    throw EQuorvelAssetsException("AssetsManager.TextureAsset exception - invalid file extension");
  auto* groups = FGroup ? dynamic_cast<TQuorvelAssetsGroupCollection*>(FGroup->GetCollection()) : nullptr;
  TQuorvelAssetsPackage* package = groups ? groups->FindPackage() : nullptr;
  // The options name this asset, so the reader hands the definition here (a held one would
  // be handed back unread: it goes first).
  ReplaceModel(nullptr);
  TQuorvelArchiveReference* archive = package ? FGroup->StoreArchive() : nullptr;
  InSession(archive, [&] {
    TModelDef* def = TQuorvelLoader::LoadUndefinedModelDefFromStream(
        AStream, TQuorvelLoadOptions::Create(AFilename, "", package, this));
    ReplaceModel(def);
    if (def) def->SetAsset(this);
    if (package) StoreToArchive(archive, FGroup->GetArchivePath());
  });
  if (FModel && FReadingFromArchive <= 0) assets_listeners::PackageDefinitionsChanged(package);
}

void TQuorvelModelAsset::LoadDataFromArchive(TQuorvelArchiveReference* AArchive, const std::string& APath) {
  if (!AArchive) return;
  TMemoryStream data;
  TZipHeader header;
  AArchive->ReadToStream(DataEntry(APath, FFilename), &data, header);
  ReplaceModel(nullptr);
  TModelDef* def = TQuorvelLoader::LoadUndefinedModelDefFromStream(&data, GetLoadOptions());
  ReplaceModel(def);
  auto* groups = FGroup ? dynamic_cast<TQuorvelAssetsGroupCollection*>(FGroup->GetCollection()) : nullptr;
  if (def) def->SetPackage(groups ? groups->FindPackage() : nullptr);
}

void TQuorvelModelAsset::StoreToArchive(TQuorvelArchiveReference* AArchive, const std::string& AGroupPath) {
  if (FState == TAssetState::asStoring) return;
  FState = TAssetState::asStoring;
  auto state = Finally([&] { FState = TAssetState::asStored; });
  FExtension = ".q3m";
  TQuorvelAsset::StoreToArchive(AArchive, AGroupPath);
  auto* def = dynamic_cast<TModelDef*>(FModel);
  if (!AArchive || !def) return;
  TMemoryStream data;
  TOwned<TQuorvelQ3MExporter> exporter(New<TQuorvelQ3MExporter>());
  exporter->SetFormat(TQuorvelQ3MFormat::JSONFormat);
  exporter->SetOptions({});
  exporter->SaveToStream(def, &data);
  data.SetPosition(0);
  const std::string entry = DataEntry(GetArchivePath(), FFilename);
  AArchive->DeleteFile(entry);
  AArchive->AddFromStream(&data, entry);
}

int64_t TQuorvelModelAsset::GetSize() const {
  const auto* def = dynamic_cast<const TModelDef*>(FModel);
  return TQuorvelAsset::GetSize() + (def ? def->GetSize() : 0);
}

}  // namespace quorvel
