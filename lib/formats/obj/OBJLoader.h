#pragma once
// Unit Quorvel.OBJ.Loader: the loader registered for ".obj". Model ids are "OBJModel" with a
// process-wide number.
#include <cstdint>

#include "lib/formats/Loader.h"

namespace quorvel {

class TQuorvelLoaderOBJ : public TQuorvelLoader {
  FW_CLASS(TQuorvelLoaderOBJ, TQuorvelLoader)
public:
  TQuorvelLoaderOBJ() = default;
  using TQuorvelLoader::LoadModelDefFromStream;
  TModelDef* LoadModelDefFromStream(TStream* AStream, const TQuorvelLoadOptions& AOptions) override;

  // The number the next model id follows.
  static int32_t GetModelCounter();
};

}  // namespace quorvel
