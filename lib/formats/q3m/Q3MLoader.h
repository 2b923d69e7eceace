#pragma once
// Reads Q3M model files (".q3m"): the header, then the model's JSON form as BSON or JSON text,
// zlib- or gzip-compressed when Zipped.
#include <cstdint>

#include "lib/formats/Loader.h"

namespace quorvel {

class TQuorvelLoaderQ3M : public TQuorvelLoader {
  FW_CLASS(TQuorvelLoaderQ3M, TQuorvelLoader)

public:
  TQuorvelLoaderQ3M() = default;

  TModelDef* LoadModelDefFromStream(TStream* AStream, const TQuorvelLoadOptions& AOptions) override;

  // The most bytes a zipped body may inflate to before the read fails (the zip reader's
  // entry cap unless set).
  static uint64_t GetMaxInflatedSize();
  static void SetMaxInflatedSize(uint64_t AValue);
  static int32_t GetModelCounter();
};

}  // namespace quorvel
