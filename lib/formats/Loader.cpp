#include "lib/formats/Loader.h"

#include <algorithm>
#include <string>
#include <unordered_map>

#include <cmath>
#include <filesystem>
#include <memory>

#include "framework/gui/Bitmap.h"
#include "framework/io/Path.h"
#include "framework/io/Stream.h"
#include "framework/rtl/Containers.h"
#include "framework/rtl/SysUtils.h"
#include "lib/defs/DefTypesMesh.h"
#include "lib/defs/DefTypesModel.h"
#include "lib/formats/assets/AssetsManager.h"
#include "lib/scene/Model.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelLoader, "Quorvel.Loader")
FW_CLASS_NO_MEMBERS(TQuorvelLoader)

bool MeshSplitEnabled = false;
int32_t MeshSplitLimit = 0;

namespace {

// Collects the vertices of one run, renumbered from 0 in the order of first use.
class TRunVertices {
public:
  explicit TRunVertices(const std::vector<TVertexData>& AVertices) : FSource(AVertices) {}

  uint32_t Map(uint32_t AIndex) {
    if (AIndex >= FSource.size())
      throw EArgumentOutOfRangeException(
          Format("vertex index %d outside 0..%d", {int64_t(AIndex), int64_t(FSource.size()) - 1}));
    auto [it, added] = FRenumber.try_emplace(AIndex, uint32_t(Vertices.size()));
    if (added) Vertices.push_back(FSource[AIndex]);
    return it->second;
  }

  void Clear() {
    FRenumber.clear();
    Vertices.clear();
  }

  std::vector<TVertexData> Vertices;

private:
  const std::vector<TVertexData>& FSource;
  std::unordered_map<uint32_t, uint32_t> FRenumber;
};

// One sub-mesh per run of AItemsPerRun items; AFill fills the run [AFirst, AFirst + ACount).
template <class FFill>
void Split(TMeshDef* ADef, TVertexCache* ACache, size_t AItems, size_t AItemsPerRun, FFill&& AFill) {
  try {
    TMaterialDef* material = ACache->DoOnCreateDefaultMaterial(ADef);
    int32_t number = 0;
    for (size_t first = 0; first < AItems; first += AItemsPerRun, ++number) {
      TOwned<TMeshDef> sub(New<TMeshDef>(ADef));
      sub->SetId(Format("%s_%d", {ADef->GetId(), number}));
      TMeshDef* added = sub.get();
      ADef->AddMesh(sub.release());
      ACache->DoOnCreateSubMesh(ADef, added);
      AFill(added, first, std::min(AItemsPerRun, AItems - first));
      ACache->DoOnCreateMaterialRef(added, material);
      // The parent keeps no vertices of its own, so its pass below would compute nothing.
      TQuorvelLoader::AutoCalculateVertexData(added, ACache);
    }
  } catch (const std::exception& e) {
    throw Exception(std::string("failed to split up mesh into multiple meshes - ") + e.what());
  }
}

bool SplitWanted(size_t AItems) {
  return MeshSplitEnabled && !(int64_t(AItems) <= int64_t(MeshSplitLimit));
}

int32_t CountOf(size_t ASize) {
  if (ASize > size_t(std::numeric_limits<int32_t>::max()))
    throw EArgumentOutOfRangeException("mesh data too large for one definition");
  return int32_t(ASize);
}

}  // namespace

TAnimationDef* TQuorvelLoader::LoadAnimationDefFromStream(TModelDef*, TStream*, const std::string&) { return nullptr; }

void TQuorvelLoader::LoadDefFromData(TMeshDef* ADef, TVertexCache* ACache) {
  if (!ADef || !ACache) return;
  if (ACache->GetIndexKind() == TCacheIndexKind::ikPointIndex)
    LoadDefFromData(ADef, ACache, ACache->GetVertices(), ACache->GetPointIndices());
  else
    LoadDefFromData(ADef, ACache, ACache->GetVertices(), ACache->GetIndices());
}

void TQuorvelLoader::LoadDefFromData(TMeshDef* ADef, TVertexCache* ACache, const std::vector<TVertexData>& AVertices,
                                     const std::vector<TTriangleIndex>& AIndices) {
  if (!ADef || !ACache || AVertices.empty()) return;
  if (!SplitWanted(AIndices.size())) {
    ADef->AddVertices(AVertices, 0, CountOf(AVertices.size()));
    ADef->AddIndices(AIndices, 0, CountOf(AIndices.size()), 0);
    ACache->DoOnCreateMaterialRef(ADef, ACache->DoOnCreateDefaultMaterial(ADef));
  } else {
    const size_t perRun = size_t(std::max<int32_t>(1, MeshSplitLimit / 3));
    TRunVertices run(AVertices);
    std::vector<TTriangleIndex> triangles;
    Split(ADef, ACache, AIndices.size(), perRun, [&](TMeshDef* ASub, size_t AFirst, size_t ACount) {
      run.Clear();
      triangles.clear();
      for (size_t t = AFirst; t < AFirst + ACount; ++t)
        triangles.push_back({run.Map(AIndices[t][0]), run.Map(AIndices[t][1]), run.Map(AIndices[t][2])});
      ASub->AddVertices(run.Vertices, 0, CountOf(run.Vertices.size()));
      ASub->AddIndices(triangles, 0, CountOf(triangles.size()), 0);
    });
  }
  AutoCalculateVertexData(ADef, ACache);
}

void TQuorvelLoader::LoadDefFromData(TMeshDef* ADef, TVertexCache* ACache, const std::vector<TVertexData>& AVertices,
                                     const std::vector<uint32_t>& AIndices) {
  if (!ADef || !ACache || AVertices.empty()) return;
  if (!SplitWanted(AIndices.size())) {
    ADef->AddVertices(AVertices, 0, CountOf(AVertices.size()));
    ADef->AddIndices(AIndices, 0, CountOf(AIndices.size()), 0);
    ACache->DoOnCreateMaterialRef(ADef, ACache->DoOnCreateDefaultMaterial(ADef));
  } else {
    const size_t perRun = size_t(std::max<int32_t>(1, MeshSplitLimit));
    TRunVertices run(AVertices);
    std::vector<uint32_t> indices;
    Split(ADef, ACache, AIndices.size(), perRun, [&](TMeshDef* ASub, size_t AFirst, size_t ACount) {
      run.Clear();
      indices.clear();
      for (size_t i = AFirst; i < AFirst + ACount; ++i) indices.push_back(run.Map(AIndices[i]));
      ASub->AddVertices(run.Vertices, 0, CountOf(run.Vertices.size()));
      ASub->AddIndices(indices, 0, CountOf(indices.size()), 0);
    });
  }
  AutoCalculateVertexData(ADef, ACache);
}

void TQuorvelLoader::AutoCalculateVertexData(TMeshDef* ADef, TVertexCache* ACache) {
  if (!ADef || !ACache) return;
  const TVertexBuffer* vb = ADef->GetVertexSource();
  if (!vb || vb->Length() < 1) return;
  if (!ACache->GetNormalsAvailable()) ADef->CalcSmoothNormals(TMeshDefCalculateNormalMethod::cnmFastest, 0.001f, true);
  if (!ACache->GetTangentsAvailable()) ADef->CalcTangentBinormals(false);
  if (!ACache->GetTexCoordsAvailable()) ADef->CalcTextureCoordinates();
}

}  // namespace quorvel

// ---- registry, thread record and dispatch ----

namespace quorvel {

namespace {

// Filled by the format units' initialisations on the main thread, only read afterwards.
std::unique_ptr<std::unordered_map<std::string, TQuorvelLoader*>>& LoaderRegistry() {
  static std::unique_ptr<std::unordered_map<std::string, TQuorvelLoader*>> registry;
  if (!registry) registry = std::make_unique<std::unordered_map<std::string, TQuorvelLoader*>>();
  return registry;
}

thread_local TQuorvelLoaderThreadInfo CurrentThreadInfo;

// Every file road of the dispatch: a local file, or an empty stream for a download.
std::unique_ptr<TStream, TObjectDeleter> OpenModelFile(const TQuorvelLoadOptions& AOptions, uint16_t AMode,
                                                       const char* AOperation) {
  switch (AOptions.FileInfo.OpenFormat) {
    case TQuorvelFileOpenFormat::fofLocal:
      return std::unique_ptr<TStream, TObjectDeleter>(New<TFileStream>(AOptions.FileInfo.PathOrUID, AMode));
    case TQuorvelFileOpenFormat::fofDownload:
      return std::unique_ptr<TStream, TObjectDeleter>(New<TMemoryStream>());
  }
  throw Exception(Format("%s : open format not supported", {std::string(AOperation)}));
}

}  // namespace

TModelDef* TQuorvelLoader::LoadModelDefFromFile(const TQuorvelLoadOptions& AOptions) {
  auto stream = OpenModelFile(AOptions, uint16_t(fmOpenReadWrite | fmShareDenyNone),
                              "TQuorvelLoader.LoadModelDefFromFile");
  return LoadModelDefFromStream(stream.get(), AOptions);
}

TModelDef* TQuorvelLoader::LoadModelDefFromStream(TStream* AStream, TObject* APackage, const std::string& APath) {
  return LoadModelDefFromStream(AStream, TQuorvelLoadOptions::Create(APath, APackage, nullptr));
}

TModelDef* TQuorvelLoader::LoadModelDefFromFile(TObject* APackage, const std::string& AFilename) {
  return LoadModelDefFromFile(TQuorvelLoadOptions::Create(AFilename, APackage, nullptr));
}

namespace {

// Builds AModel from ADef (owned by the model when AOwned) and bakes every animation when the
// options ask for caching.
void BuildModel(TQuorvelModel* AModel, TModelDef* ADef, bool AOwned, const TAnimationCachingFlags& ACaching) {
  // A package's definition stays its asset's, but the model must hear when the asset frees it.
  if (AOwned || ADef->GetPackage())
    AModel->LoadFromOwnedDefinition(ADef);
  else
    AModel->LoadFromDefinition(ADef);
  if (!ACaching.IsEmpty()) ADef->CacheAnimations({}, ACaching, AModel);
}

// What a read handed over: a package's definition belongs to its model asset.
void FreeReadDef(TModelDef* ADef) {
  if (ADef && !ADef->GetPackage()) Free(ADef);
}

void CheckModel(const TQuorvelModel* AModel, const char* AOperation) {
  if (!AModel) throw EArgumentNilException(std::string(AOperation) + ": model is nil");
}

}  // namespace

TQuorvelModel* TQuorvelLoader::LoadModelFromFile(TComponent* AOwner, const TQuorvelLoadOptions& AOptions) {
  if (!FLoadFromStreamAllowed) return LoadModelFromStream(AOwner, nullptr, AOptions);
  auto stream = OpenModelFile(AOptions, uint16_t(fmOpenReadWrite | fmShareDenyNone), "TQuorvelLoader.LoadModelFromFile");
  return LoadModelFromStream(AOwner, stream.get(), AOptions);
}

void TQuorvelLoader::LoadExistingModelFromFile(TQuorvelModel* AModel, const TQuorvelLoadOptions& AOptions) {
  CheckModel(AModel, "TQuorvelLoader.LoadExistingModelFromFile");
  auto stream = OpenModelFile(AOptions, uint16_t(fmOpenRead | fmShareExclusive), "TQuorvelLoader.LoadExistingModelFromFile");
  LoadExistingModelFromStream(AModel, stream.get(), AOptions);
}

TQuorvelModel* TQuorvelLoader::LoadModelFromStream(TComponent* AOwner, TStream* AStream, const TQuorvelLoadOptions& AOptions) {
  TModelDef* def = LoadModelDefFromStream(AStream, AOptions);
  if (!def) return nullptr;
  TQuorvelModel* model = nullptr;
  try {
    model = New<TQuorvelModel>(AOwner);
  } catch (...) {
    FreeReadDef(def);
    throw;
  }
  try {
    BuildModel(model, def, true, AOptions.Caching);
  } catch (...) {
    Free(model);  // with the definition it owns by now
    throw;
  }
  return model;
}

void TQuorvelLoader::LoadExistingModelFromStream(TQuorvelModel* AModel, TStream* AStream, const TQuorvelLoadOptions& AOptions) {
  CheckModel(AModel, "TQuorvelLoader.LoadExistingModelFromStream");
  TModelDef* def = LoadModelDefFromStream(AStream, AOptions);
  if (!def) return;
  BuildModel(AModel, def, true, AOptions.Caching);
}

void TQuorvelLoader::LoadExistingModelFromFile(TQuorvelModel* AModel, TObject* APackage, const std::string& AFilename,
                                               const TAnimationCachingFlags& ACaching) {
  LoadExistingModelFromFile(AModel, TQuorvelLoadOptions::Create(AFilename, ACaching, APackage, nullptr));
}

TQuorvelModel* TQuorvelLoader::LoadModelFromFile(TComponent* AOwner, TObject* APackage, const std::string& AFilename,
                                                 const TAnimationCachingFlags& ACaching) {
  return LoadModelFromFile(AOwner, TQuorvelLoadOptions::Create(AFilename, ACaching, APackage, nullptr));
}

TQuorvelModel* TQuorvelLoader::LoadModelFromStream(TComponent* AOwner, TObject* APackage, TStream* AStream,
                                                   const std::string& APath, const TAnimationCachingFlags& ACaching) {
  return LoadModelFromStream(AOwner, AStream, TQuorvelLoadOptions::Create(APath, ACaching, APackage, nullptr));
}

void TQuorvelLoader::LoadExistingModelFromStream(TQuorvelModel* AModel, TObject* APackage, TStream* AStream,
                                                 const std::string& APath, const TAnimationCachingFlags& ACaching) {
  LoadExistingModelFromStream(AModel, AStream, TQuorvelLoadOptions::Create(APath, ACaching, APackage, nullptr));
}

TQuorvelModel* TQuorvelLoader::LoadModelFromDef(TComponent* AOwner, TModelDef* ADef, const TQuorvelLoadOptions& AOptions) {
  if (!ADef) return nullptr;
  auto* model = New<TQuorvelModel>(AOwner);
  try {
    BuildModel(model, ADef, false, AOptions.Caching);
  } catch (...) {
    Free(model);
    throw;
  }
  return model;
}

TQuorvelModel* TQuorvelLoader::LoadModelFromDef(TComponent* AOwner, TModelDef* ADef, const TAnimationCachingFlags& ACaching) {
  return LoadModelFromDef(AOwner, ADef, TQuorvelLoadOptions::Create("", ACaching, nullptr, nullptr));
}

void TQuorvelLoader::LoadExistingModelFromDef(TQuorvelModel* AModel, TModelDef* ADef, const TQuorvelLoadOptions& AOptions) {
  if (!ADef || !AModel) return;
  BuildModel(AModel, ADef, false, AOptions.Caching);
}

void TQuorvelLoader::LoadExistingModelFromDef(TQuorvelModel* AModel, TModelDef* ADef, const TAnimationCachingFlags& ACaching) {
  LoadExistingModelFromDef(AModel, ADef, TQuorvelLoadOptions::Create("", ACaching, nullptr, nullptr));
}

TAnimationDef* TQuorvelLoader::LoadAnimationDefFromFile(TModelDef* AModel, const std::string& AFilename) {
  TOwned<TFileStream> stream(New<TFileStream>(AFilename, uint16_t(fmOpenRead | fmShareDenyNone)));
  return LoadAnimationDefFromStream(AModel, stream.get(), AFilename);
}

void TQuorvelLoader::RegisterLoader(const std::string& AExt, TQuorvelLoader* ALoader) {
  if (!LoaderRegistry()->try_emplace(LowerCase(AExt), ALoader).second) throw EDuplicateKey("Duplicates not allowed");
}

void TQuorvelLoader::UnregisterLoader(const std::string& AExt) { LoaderRegistry()->erase(LowerCase(AExt)); }

TQuorvelLoader* TQuorvelLoader::GetLoaderByExtension(const std::string& AExt) {
  auto& registry = *LoaderRegistry();
  auto it = registry.find(LowerCase(AExt));
  return it == registry.end() ? nullptr : it->second;
}

void TQuorvelLoader::SetCurrentThreadLoader(TQuorvelLoader* ALoader, const TQuorvelLoadOptions& AOptions) {
  CurrentThreadInfo.Loader = ALoader;
  CurrentThreadInfo.Options = AOptions;
}

void TQuorvelLoader::UnsetCurrentThreadLoader() { CurrentThreadInfo.Loader = nullptr; }

TQuorvelLoaderThreadInfo TQuorvelLoader::GetCurrentLoaderThreadInfo() { return CurrentThreadInfo; }

TQuorvelModelAsset* TQuorvelLoader::FindExistingAssetInPackage(const TQuorvelLoadOptions& AOptions) {
  if (auto* asset = dynamic_cast<TQuorvelModelAsset*>(AOptions.Asset)) return asset;
  auto* package = dynamic_cast<TQuorvelAssetsPackage*>(AOptions.Package);
  if (!package) return nullptr;
  if (!package->HasArchive()) package->Refresh();
  return dynamic_cast<TQuorvelModelAsset*>(package->FindAsset(AOptions.FileInfo.PathOrUID, AOptions.FileInfo.StrictFilename));
}

TQuorvelAssetsPackage* TQuorvelLoader::ReaderPackage(const TQuorvelLoadOptions& AOptions) {
  return quorvel::As<TQuorvelAssetsPackage>(AOptions.Package);
}

TQuorvelModelAsset* TQuorvelLoader::ReaderAsset(const TQuorvelLoadOptions& AOptions, TQuorvelAssetsPackage* APackage) {
  if (!APackage) return nullptr;
  if (auto* asset = dynamic_cast<TQuorvelModelAsset*>(AOptions.Asset)) return asset;
  TQuorvelAssetsGroup* models = APackage->GetGroup(0);
  return models ? dynamic_cast<TQuorvelModelAsset*>(
                      models->FindAssetByFilename(AOptions.FileInfo.PathOrUID, AOptions.FileInfo.StrictFilename))
                : nullptr;
}

TQuorvelModelAsset* TQuorvelLoader::AddReaderAsset(const TQuorvelLoadOptions& AOptions, TQuorvelAssetsPackage* APackage) {
  TQuorvelAssetsGroup* models = APackage ? APackage->GetGroup(0) : nullptr;
  return models ? dynamic_cast<TQuorvelModelAsset*>(
                      models->AddEmptyAsset(AOptions.FileInfo.PathOrUID, AOptions.FileInfo.StrictFilename))
                : nullptr;
}

TModelDef* TQuorvelLoader::HandToAsset(TModelDef* ADef, TQuorvelAssetsPackage* APackage, TQuorvelModelAsset* AAsset) {
  if (!APackage) return ADef;
  ADef->SetPackage(APackage);
  if (AAsset) AAsset->SetModel(ADef);
  return ADef;
}

TModelDef* TQuorvelLoader::LoadUndefinedModelDefFromFile(TObject* APackage, const std::string& AFilename) {
  return LoadUndefinedModelDefFromFile(TQuorvelLoadOptions::Create(AFilename, APackage, nullptr));
}

TModelDef* TQuorvelLoader::LoadUndefinedModelDefFromFile(const TQuorvelLoadOptions& AOptions) {
  // A package's asset that holds its definition answers without opening the file.
  if (TQuorvelModelAsset* asset = FindExistingAssetInPackage(AOptions); asset && asset->GetModel())
    return quorvel::As<TModelDef>(asset->GetModel());
  auto stream = OpenModelFile(AOptions, uint16_t(fmOpenReadWrite | fmShareDenyNone),
                              "TQuorvelLoader.LoadUndefinedModelDefFromFile");
  return LoadUndefinedModelDefFromStream(stream.get(), AOptions);
}

TModelDef* TQuorvelLoader::LoadUndefinedModelDefFromStream(TStream* AStream, TObject* APackage,
                                                           const std::string& APath, const std::string& AExt) {
  return LoadUndefinedModelDefFromStream(AStream, TQuorvelLoadOptions::Create(APath, AExt, APackage, nullptr));
}

TModelDef* TQuorvelLoader::LoadUndefinedModelDefFromStream(TStream* AStream, const TQuorvelLoadOptions& AOptions) {
  TQuorvelModelAsset* asset = FindExistingAssetInPackage(AOptions);
  if (asset && asset->GetModel()) return quorvel::As<TModelDef>(asset->GetModel());
  const std::string ext = AOptions.GetExtension();
  TQuorvelLoader* loader = GetLoaderByExtension(ext);
  if (!loader)
    throw EQuorvelLoaderException(Format("model format not supported: %s - check if unit is included \"Quorvel%s.Loader",
                                         {AOptions.FileInfo.PathOrUID, ext}));
  TQuorvelLoadOptions options = AOptions;
  options.FileInfo.Ext = ext;
  TModelDef* def = loader->LoadModelDefFromStream(AStream, options);
  // The reader hands its definition to the package's asset of its own finding; the asset
  // found here may be another one still without a definition.
  if (asset && def && !asset->GetModel()) asset->SetModel(def);
  return def;
}

TQuorvelModel* TQuorvelLoader::DispatchModel(TModelRoad ARoad, TComponent* AOwner, TQuorvelModel* AModel,
                                             TStream* AStream, const TQuorvelLoadOptions& AOptions) {
  const bool existing = ARoad == TModelRoad::ExistingFromFile || ARoad == TModelRoad::ExistingFromStream;
  if (existing) CheckModel(AModel, "TQuorvelLoader.LoadUndefinedExistingModel");
  TQuorvelModelAsset* asset = FindExistingAssetInPackage(AOptions);
  if (asset && asset->GetModel()) {
    auto* def = quorvel::As<TModelDef>(asset->GetModel());
    if (!existing) return LoadModelFromDef(AOwner, def, AOptions);
    LoadExistingModelFromDef(AModel, def, AOptions);
    return AModel;
  }
  const std::string ext = AOptions.GetExtension();
  TQuorvelLoader* loader = GetLoaderByExtension(ext);
  if (!loader) throw EQuorvelLoaderException(Format("model format not supported: %s", {AOptions.FileInfo.PathOrUID}));
  TQuorvelLoadOptions options = AOptions;
  options.FileInfo.Ext = ext;
  TQuorvelModel* model = AModel;
  switch (ARoad) {
    case TModelRoad::NewFromFile: model = loader->LoadModelFromFile(AOwner, options); break;
    case TModelRoad::ExistingFromFile: loader->LoadExistingModelFromFile(AModel, options); break;
    case TModelRoad::NewFromStream: model = loader->LoadModelFromStream(AOwner, AStream, options); break;
    case TModelRoad::ExistingFromStream: loader->LoadExistingModelFromStream(AModel, AStream, options); break;
  }
  // The reader hands its definition to the package's asset of its own finding; the asset
  // found here may be another one still without a definition.
  if (asset && !asset->GetModel() && model)
    if (TModelDef* def = model->GetModelDef()) asset->SetModel(def);
  return model;
}

TQuorvelModel* TQuorvelLoader::LoadUndefinedModelFromFile(TComponent* AOwner, TObject* APackage,
                                                          const std::string& AFilename,
                                                          const TAnimationCachingFlags& ACaching) {
  return LoadUndefinedModelFromFile(AOwner, TQuorvelLoadOptions::Create(AFilename, ACaching, APackage, nullptr));
}

TQuorvelModel* TQuorvelLoader::LoadUndefinedModelFromFile(TComponent* AOwner, const TQuorvelLoadOptions& AOptions) {
  return DispatchModel(TModelRoad::NewFromFile, AOwner, nullptr, nullptr, AOptions);
}

void TQuorvelLoader::LoadUndefinedExistingModelFromFile(TQuorvelModel* AModel, TObject* APackage,
                                                        const std::string& AFilename,
                                                        const TAnimationCachingFlags& ACaching) {
  LoadUndefinedExistingModelFromFile(AModel, TQuorvelLoadOptions::Create(AFilename, ACaching, APackage, nullptr));
}

void TQuorvelLoader::LoadUndefinedExistingModelFromFile(TQuorvelModel* AModel, TQuorvelLoadOptions AOptions) {
  if (AOptions.FileInfo.Ext == ".q3m") AOptions.FileInfo.Ext.clear();
  DispatchModel(TModelRoad::ExistingFromFile, nullptr, AModel, nullptr, AOptions);
}

TQuorvelModel* TQuorvelLoader::LoadUndefinedModelFromStream(TComponent* AOwner, TObject* APackage, TStream* AStream,
                                                            const std::string& APath,
                                                            const TAnimationCachingFlags& ACaching) {
  return LoadUndefinedModelFromStream(AOwner, AStream, TQuorvelLoadOptions::Create(APath, ACaching, APackage, nullptr));
}

TQuorvelModel* TQuorvelLoader::LoadUndefinedModelFromStream(TComponent* AOwner, TStream* AStream,
                                                            const TQuorvelLoadOptions& AOptions) {
  return DispatchModel(TModelRoad::NewFromStream, AOwner, nullptr, AStream, AOptions);
}

void TQuorvelLoader::LoadUndefinedExistingModelFromStream(TQuorvelModel* AModel, TObject* APackage, TStream* AStream,
                                                          const std::string& APath,
                                                          const TAnimationCachingFlags& ACaching) {
  LoadUndefinedExistingModelFromStream(AModel, AStream, TQuorvelLoadOptions::Create(APath, ACaching, APackage, nullptr));
}

void TQuorvelLoader::LoadUndefinedExistingModelFromStream(TQuorvelModel* AModel, TStream* AStream,
                                                          const TQuorvelLoadOptions& AOptions) {
  DispatchModel(TModelRoad::ExistingFromStream, nullptr, AModel, AStream, AOptions);
}

TAnimationDef* TQuorvelLoader::LoadUndefinedAnimationDefFromFile(TModelDef* AModel, const std::string& AFilename) {
  TQuorvelLoader* loader = GetLoaderByExtension(TPath::GetExtension(AFilename));
  if (!loader) throw EQuorvelLoaderException(Format("model format not supported: %s", {AFilename}));
  return loader->LoadAnimationDefFromFile(AModel, AFilename);
}

TAnimationDef* TQuorvelLoader::LoadUndefinedAnimationDefFromStream(TModelDef* AModel, TStream* AStream,
                                                                   const std::string& AFileName) {
  const std::string source = AModel ? AModel->GetFilename() : std::string();
  TQuorvelLoader* loader = GetLoaderByExtension(TPath::GetExtension(source));
  if (!loader) throw EQuorvelLoaderException(Format("model format not supported: %s", {source}));
  return loader->LoadAnimationDefFromStream(AModel, AStream, AFileName);
}

bool TQuorvelLoader::LimitTextureSize(TBitmap* ABitmap, const TPoint& ALimits) {
  if (!ABitmap) return false;
  int32_t width = ABitmap->GetWidth();
  int32_t height = ABitmap->GetHeight();
  if (width <= 0 || height <= 0) return false;
  bool changed = false;
  // A reduction to the width limit is held to the height limit too.
  if (ALimits.X > 0 && width > ALimits.X) {
    const float r = float(double(height) / double(width));
    height = std::max<int32_t>(1, int32_t(std::floor(double(ALimits.X) * double(r))));
    width = ALimits.X;
    changed = true;
  }
  if (ALimits.Y > 0 && height > ALimits.Y) {
    const float r = float(double(width) / double(height));
    width = std::max<int32_t>(1, int32_t(std::floor(double(ALimits.Y) * double(r))));
    height = ALimits.Y;
    changed = true;
  }
  if (changed) ABitmap->Resize(width, height);
  return changed;
}

bool TQuorvelLoader::LimitTextureSize(const std::string& AFileName, const TPoint& ALimits) {
  TOwned<TBitmap> bitmap(New<TBitmap>());
  bitmap->LoadFromFile(AFileName);
  if (!LimitTextureSize(bitmap.get(), ALimits)) return false;
  bitmap->SaveToFile(AFileName);
  return true;
}

void TQuorvelLoader::LimitTextureSizes(const std::string& ADir, const TPoint& ALimits) {
  namespace fs = std::filesystem;
  std::vector<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(fs::path(ADir))) {
    if (!entry.is_regular_file()) continue;
    const std::string ext = LowerCase(entry.path().extension().string());
    if (ext == ".jpg" || ext == ".jpeg" || ext == ".png") files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  for (const std::string& file : files) LimitTextureSize(file, ALimits);
}

}  // namespace quorvel
