#pragma once
// The vertex-colour preset: lit, specular, untextured, coloured by the vertices. Its text builds
// put its defines back after each build, so a switch against them shows in one text only.
#include "lib/materials/MaterialDefault.h"

namespace quorvel {

class TQuorvelVertexColorMaterial : public TQuorvelDefaultMaterial {
  FW_CLASS(TQuorvelVertexColorMaterial, TQuorvelDefaultMaterial)

public:
  using TQuorvelDefaultMaterial::TQuorvelDefaultMaterial;
  void AfterConstruction() override;
  void DoBuildVertexShaderSource() override;
  void DoBuildFragmentShaderSource() override;
};

class TQuorvelVertexColorMaterialSource : public TQuorvelDefaultMaterialSource {
  FW_CLASS(TQuorvelVertexColorMaterialSource, TQuorvelDefaultMaterialSource)

public:
  using TQuorvelDefaultMaterialSource::TQuorvelDefaultMaterialSource;

protected:
  TMaterial* CreateMaterial() override;
};

}  // namespace quorvel
