#pragma once
// Writes a model definition as a Q3M file: the header, then the model's JSON form as BSON or
// JSON text, zlib-compressed when Zipped.
#include <string>

#include "lib/formats/Exporter.h"
#include "lib/formats/q3m/Q3MTypes.h"

namespace quorvel {

class TQuorvelQ3MExporter : public TQuorvelExporter {
  FW_CLASS(TQuorvelQ3MExporter, TQuorvelExporter)

public:
  // JSON, [Beautified]; the time stamp is taken now and kept for every file written.
  TQuorvelQ3MExporter();

  void SaveToFile(TModelDef* AModel, const std::string& AFileName) override;
  void SaveToStream(TModelDef* AModel, TStream* AStream) override;
  static void SaveModelDefToFile(TModelDef* AModel, const std::string& AFileName, TQuorvelQ3MFormat AFormat,
                                 TQuorvelQ3MOptions AOptions);

  TQuorvelQ3MFormat GetFormat() const noexcept { return FHeader.Format; }
  void SetFormat(TQuorvelQ3MFormat AValue) noexcept { FHeader.Format = AValue; }
  TQuorvelQ3MOptions GetOptions() const noexcept { return FHeader.Options; }
  void SetOptions(TQuorvelQ3MOptions AValue) noexcept { FHeader.Options = AValue; }
  bool GetZipped() const noexcept { return FHeader.Options.Has(TQuorvelQ3MOption::Zipped); }
  void SetZipped(bool AValue) noexcept { FHeader.Options.Set(TQuorvelQ3MOption::Zipped, AValue); }
  bool GetBeautified() const noexcept { return FHeader.Options.Has(TQuorvelQ3MOption::Beautified); }
  void SetBeautified(bool AValue) noexcept { FHeader.Options.Set(TQuorvelQ3MOption::Beautified, AValue); }
  const TQuorvelQ3MHeader& GetHeader() const noexcept { return FHeader; }

private:
  void WriteBody(TModelDef* AModel, TStream* ATarget);
  TQuorvelQ3MHeader FHeader;
};

}  // namespace quorvel
