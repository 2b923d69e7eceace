#pragma once
// The Blinn preset: lit and textured with Texture0, specular.
#include "lib/materials/MaterialDefault.h"

namespace quorvel {

class TQuorvelBlinnMaterial : public TQuorvelDefaultMaterial {
  FW_CLASS(TQuorvelBlinnMaterial, TQuorvelDefaultMaterial)

public:
  using TQuorvelDefaultMaterial::TQuorvelDefaultMaterial;
  void AfterConstruction() override;
};

class TQuorvelBlinnMaterialSource : public TQuorvelDefaultMaterialSource {
  FW_CLASS(TQuorvelBlinnMaterialSource, TQuorvelDefaultMaterialSource)

public:
  using TQuorvelDefaultMaterialSource::TQuorvelDefaultMaterialSource;

protected:
  TMaterial* CreateMaterial() override;
};

}  // namespace quorvel
