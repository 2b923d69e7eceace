#include "lib/formats/q3m/Q3MExporter.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "framework/io/Stream.h"
#include "framework/io/ZLib.h"
#include "framework/rtl/Exceptions.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/Units.h"
#include "lib/defs/DefTypesModel.h"
#include "lib/formats/BSONWriter.h"
#include "lib/formats/JSON.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelQ3MExporter, "Quorvel.Q3M.Exporter")
FW_CLASS_NO_MEMBERS(TQuorvelQ3MExporter)
FW_CLASS_IMPL(TLargeStringBuilder, "Quorvel.Q3M.Exporter")
FW_CLASS_NO_MEMBERS(TLargeStringBuilder)

void TLargeStringBuilder::Clear() {
  std::vector<uint8_t>().swap(FBuffer);
  FPosition = 0;
  FCapacity = 0;
}

void TLargeStringBuilder::Append(std::string_view AString) {
  const int64_t needed = FPosition + int64_t(AString.size());
  if (FCapacity < needed) {
    FCapacity += (needed + FBlockSize - 1) / FBlockSize * FBlockSize;
    FBuffer.resize(size_t(FCapacity));
  }
  if (!AString.empty()) std::memcpy(FBuffer.data() + FPosition, AString.data(), AString.size());
  FPosition = needed;
}

namespace {
void InitQ3MExporterUnit() { TQuorvelExporter::RegisterExporter<TQuorvelQ3MExporter>(".q3m"); }
const TUnitRegistration Q3MExporterUnit{{"Quorvel.Q3M.Exporter", {"Quorvel.Exporter"}, &InitQ3MExporterUnit, nullptr}};
}  // namespace

TQuorvelQ3MExporter::TQuorvelQ3MExporter() {
  FHeader.Create(false, TQuorvelQ3MFormat::JSONFormat);
  FHeader.Options = {};
  SetBeautified(true);
}

void TQuorvelQ3MExporter::WriteBody(TModelDef* AModel, TStream* ATarget) {
  FBuffer.Clear();
  TOwned<TJSONObject> json(AModel->ToJSON());
  switch (FHeader.Format) {
    case TQuorvelQ3MFormat::BSONFormat: {
      TQuorvelBSONWriter writer(ATarget);
      writer.WriteJsonObject(json.get());
      break;
    }
    case TQuorvelQ3MFormat::JSONFormat: {
      std::string text = GetBeautified() ? JSONToIndentedString(json.get()) : json->ToJSON();
      if (!text.empty()) FBuffer.Append(text);
      text = std::string();
      if (FBuffer.GetPosition() > 0) ATarget->WriteBuffer(FBuffer.GetData(), FBuffer.GetPosition());
      FBuffer.Clear();
      break;
    }
  }
}

void TQuorvelQ3MExporter::SaveToStream(TModelDef* AModel, TStream* AStream) {
  FHeader.WriteTo(AStream);
  if (!GetZipped()) {
    WriteBody(AModel, AStream);
    return;
  }
  TCompressionLevel level = clDefault;
  if (FHeader.Options.Has(TQuorvelQ3MOption::FastestCompression))
    level = clFastest;
  else if (FHeader.Options.Has(TQuorvelQ3MOption::MaxCompression))
    level = clMax;
  TZCompressionStream zip(AStream, level, 15);
  WriteBody(AModel, &zip);
  zip.Finish();
}

void TQuorvelQ3MExporter::SaveToFile(TModelDef* AModel, const std::string& AFileName) {
  // A failed export must leave the previous file as it was: write beside it, then replace it.
  static std::atomic<uint32_t> serial{0};
  std::string temp = AFileName + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(++serial);
  bool done = false;
  auto cleanup = Finally([&] {
    if (!done) std::remove(temp.c_str());
  });
  {
    TFileStream file(temp, fmCreate);
    SaveToStream(AModel, &file);
  }
  if (std::rename(temp.c_str(), AFileName.c_str()) != 0)
    throw EFCreateError(std::string("Cannot create file \"") + AFileName + "\".");
  done = true;
}

void TQuorvelQ3MExporter::SaveModelDefToFile(TModelDef* AModel, const std::string& AFileName,
                                             TQuorvelQ3MFormat AFormat, TQuorvelQ3MOptions AOptions) {
  TOwned<TQuorvelQ3MExporter> exporter(New<TQuorvelQ3MExporter>());
  exporter->SetFormat(AFormat);
  exporter->SetOptions(AOptions);
  exporter->SaveToFile(AModel, AFileName);
}

}  // namespace quorvel
