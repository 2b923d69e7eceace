#pragma once
// The Phong preset: lit and textured with Texture0, specular.
#include "lib/materials/MaterialDefault.h"

namespace quorvel {

class TQuorvelPhongMaterial : public TQuorvelDefaultMaterial {
  FW_CLASS(TQuorvelPhongMaterial, TQuorvelDefaultMaterial)

public:
  using TQuorvelDefaultMaterial::TQuorvelDefaultMaterial;
  void AfterConstruction() override;
};

class TQuorvelPhongMaterialSource : public TQuorvelDefaultMaterialSource {
  FW_CLASS(TQuorvelPhongMaterialSource, TQuorvelDefaultMaterialSource)

public:
  using TQuorvelDefaultMaterialSource::TQuorvelDefaultMaterialSource;

protected:
  TMaterial* CreateMaterial() override;
};

}  // namespace quorvel
