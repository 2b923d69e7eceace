#include "lib/formats/q3m/Q3MLoader.h"

#include <atomic>
#include <string>

#include "framework/io/Json.h"
#include "framework/io/JsonReaderWriter.h"
#include "framework/io/Stream.h"
#include "framework/io/ZLib.h"
#include "framework/io/ZipFile.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/SysUtils.h"
#include "framework/rtl/Units.h"
#include "lib/defs/DefTypesModel.h"
#include "lib/formats/JSONBSON.h"
#include "lib/formats/assets/AssetsManager.h"
#include "lib/formats/q3m/Q3MTypes.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelLoaderQ3M, "Quorvel.Q3M.Loader")
FW_CLASS_NO_MEMBERS(TQuorvelLoaderQ3M)

namespace {

std::atomic<int32_t> Q3MModelCounter{0};
std::atomic<uint64_t> MaxInflated{TZipFile::DefaultMaxEntrySize};
TQuorvelLoaderQ3M* Q3MLoader = nullptr;

void InitQ3MLoaderUnit() {
  Q3MModelCounter = 0;
  Q3MLoader = New<TQuorvelLoaderQ3M>();
  TQuorvelLoader::RegisterLoader(".q3m", Q3MLoader);
}

void FinQ3MLoaderUnit() {
  TQuorvelLoader::UnregisterLoader(".q3m");
  FreeAndNil(Q3MLoader);
}

const TUnitRegistration Q3MLoaderUnit{{"Quorvel.Q3M.Loader", {}, &InitQ3MLoaderUnit, &FinQ3MLoaderUnit}};

constexpr int64_t BlockSize = 1 << 20;

std::string ReadBody(TStream* AStream, bool AZipped) {
  std::string body;
  if (AZipped) {
    TZDecompressionStream zip(AStream);
    const uint64_t cap = MaxInflated.load();
    for (;;) {
      size_t old = body.size();
      body.resize(old + BlockSize);
      int64_t n = zip.Read(body.data() + old, BlockSize);
      body.resize(old + size_t(n));
      if (n == 0) break;
      if (body.size() > cap) throw EZDecompressionError("Q3M body inflates past its size limit");
    }
  } else {
    int64_t left = AStream->GetSize() - AStream->GetPosition();
    if (left > 0) {
      body.resize(size_t(left));
      AStream->ReadBuffer(body.data(), left);
    }
  }
  return body;
}

}  // namespace

int32_t TQuorvelLoaderQ3M::GetModelCounter() { return Q3MModelCounter.load(); }
uint64_t TQuorvelLoaderQ3M::GetMaxInflatedSize() { return MaxInflated.load(); }
void TQuorvelLoaderQ3M::SetMaxInflatedSize(uint64_t AValue) { MaxInflated = AValue; }

TModelDef* TQuorvelLoaderQ3M::LoadModelDefFromStream(TStream* AStream, const TQuorvelLoadOptions& AOptions) {
  SetCurrentThreadLoader(this, AOptions);
  auto unset = Finally([] { UnsetCurrentThreadLoader(); });
  TQuorvelAssetsPackage* package = ReaderPackage(AOptions);
  TQuorvelModelAsset* asset = ReaderAsset(AOptions, package);
  if (asset && asset->GetModel()) return quorvel::As<TModelDef>(asset->GetModel());

  TQuorvelQ3MHeader header;
  header.ReadFrom(AStream);
  std::string body = ReadBody(AStream, header.Options.Has(TQuorvelQ3MOption::Zipped));

  TOwned<TJSONValue> json;
  switch (header.Format) {
    case TQuorvelQ3MFormat::BSONFormat: {
      if (!body.empty()) {
        TBytesStream source(TBytes(body.begin(), body.end()));
        TBsonReader reader(&source);
        TJsonObjectWriter writer;
        while (reader.Read()) writer.WriteToken(reader, false);
        json.reset(writer.ReleaseJSON());
      }
      if (!json) throw Exception("failed to read bson data");
      break;
    }
    case TQuorvelQ3MFormat::JSONFormat:
      json.reset(ParseJSONValue(body));
      if (!json) throw Exception("failed to read json data");
      break;
    default:
      throw Exception("invalid Q3M format set");
  }
  auto* object = dynamic_cast<TJSONObject*>(json.get());
  if (!object) throw EInvalidCast("Invalid class typecast");
  body.clear();
  body.shrink_to_fit();

  TOwned<TModelDef> def(New<TModelDef>(nullptr, package));
  def->ApplyBitmapCache(AOptions.BitmapCache);
  if (package && !asset) asset = AddReaderAsset(AOptions, package);
  def->SetAsset(asset);
  def->SetFilename(AOptions.FileInfo.PathOrUID);
  def->SetId(Format("Q3MModel%d", {int64_t(++Q3MModelCounter)}));
  def->FromJSON(object);
  return HandToAsset(def.release(), package, asset);
}

}  // namespace quorvel
