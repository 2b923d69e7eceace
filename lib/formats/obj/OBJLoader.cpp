#include "lib/formats/obj/OBJLoader.h"

#include <atomic>

#include "framework/rtl/Finally.h"
#include "framework/rtl/SysUtils.h"
#include "framework/rtl/Units.h"
#include "lib/defs/DefTypesModel.h"
#include "lib/formats/assets/AssetsManager.h"
#include "lib/formats/obj/OBJModel.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelLoaderOBJ, "Quorvel.OBJ.Loader")
FW_CLASS_NO_MEMBERS(TQuorvelLoaderOBJ)

namespace {

std::atomic<int32_t> ModelCounter{0};
TQuorvelLoaderOBJ* Loader = nullptr;

void InitOBJLoaderUnit() {
  ModelCounter = 0;
  Loader = New<TQuorvelLoaderOBJ>();
  TQuorvelLoader::RegisterLoader(".obj", Loader);
}

void FinOBJLoaderUnit() {
  TQuorvelLoader::UnregisterLoader(".obj");
  FreeAndNil(Loader);
}

const TUnitRegistration OBJLoaderUnit{{"Quorvel.OBJ.Loader", {}, &InitOBJLoaderUnit, &FinOBJLoaderUnit}};

}  // namespace

int32_t TQuorvelLoaderOBJ::GetModelCounter() { return ModelCounter.load(); }

TModelDef* TQuorvelLoaderOBJ::LoadModelDefFromStream(TStream* AStream, const TQuorvelLoadOptions& AOptions) {
  SetCurrentThreadLoader(this, AOptions);
  auto unset = Finally([] { UnsetCurrentThreadLoader(); });
  TQuorvelAssetsPackage* package = ReaderPackage(AOptions);
  TQuorvelModelAsset* asset = ReaderAsset(AOptions, package);
  if (asset && asset->GetModel()) return quorvel::As<TModelDef>(asset->GetModel());
  TOwned<TOBJModel> def(New<TOBJModel>(nullptr, package));
  def->ApplyBitmapCache(AOptions.BitmapCache);
  if (package && !asset) asset = AddReaderAsset(AOptions, package);
  def->SetAsset(asset);
  def->SetFilename(AOptions.FileInfo.PathOrUID);
  def->SetId(Format("OBJModel%d", {int64_t(++ModelCounter)}));
  def->LoadFromStream(AStream, AOptions.FileInfo.PathOrUID);
  return HandToAsset(def.release(), package, asset);
}

}  // namespace quorvel
