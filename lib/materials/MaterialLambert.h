#pragma once
// The Lambert preset: lit and textured with Texture0.
#include "lib/materials/MaterialDefault.h"

namespace quorvel {

class TQuorvelLambertMaterial : public TQuorvelDefaultMaterial {
  FW_CLASS(TQuorvelLambertMaterial, TQuorvelDefaultMaterial)

public:
  using TQuorvelDefaultMaterial::TQuorvelDefaultMaterial;
  void AfterConstruction() override;
};

class TQuorvelLambertMaterialSource : public TQuorvelDefaultMaterialSource {
  FW_CLASS(TQuorvelLambertMaterialSource, TQuorvelDefaultMaterialSource)

public:
  using TQuorvelDefaultMaterialSource::TQuorvelDefaultMaterialSource;

protected:
  TMaterial* CreateMaterial() override;
};

}  // namespace quorvel
