#pragma once
// Writes a model definition as a Q3M file: the header, then the model's JSON form as BSON or
// JSON text, zlib-compressed when Zipped.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "lib/formats/Exporter.h"
#include "lib/formats/q3m/Q3MTypes.h"

namespace quorvel {

// A growable byte buffer of UTF-8 text: each growth adds whole 4096-byte blocks covering the
// whole need (not only the missing part), so appends of a large body stay amortised.
class TLargeStringBuilder : public TObject {
  FW_CLASS(TLargeStringBuilder, TObject)

public:
  TLargeStringBuilder() = default;
  ~TLargeStringBuilder() override { Clear(); }

  // Releases the buffer; position and capacity become 0.
  void Clear();
  void Append(std::string_view AString);
  std::string ToString() const override { return std::string(reinterpret_cast<const char*>(FBuffer.data()), size_t(FPosition)); }
  const uint8_t* GetData() const noexcept { return FBuffer.data(); }
  int64_t GetPosition() const noexcept { return FPosition; }
  int64_t GetCapacity() const noexcept { return FCapacity; }

private:
  int32_t FBlockSize = 4096;
  std::vector<uint8_t> FBuffer;
  int64_t FPosition = 0;
  int64_t FCapacity = 0;
};

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
  TLargeStringBuilder FBuffer;
  TQuorvelQ3MHeader FHeader;
};

}  // namespace quorvel
