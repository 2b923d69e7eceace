#pragma once
// The normal-map preset: lit, specular, textured, with normal and displacement maps.
#include "lib/materials/MaterialDefault.h"

namespace quorvel {

class TQuorvelNormalMapMaterial : public TQuorvelDefaultMaterial {
  FW_CLASS(TQuorvelNormalMapMaterial, TQuorvelDefaultMaterial)

public:
  using TQuorvelDefaultMaterial::TQuorvelDefaultMaterial;
  void AfterConstruction() override;
  // The new builder gets the six defines of a normal-mapped surface before its first text.
  void DoCreateVertexShaderNode() override;
  void DoCreateFragmentShaderNode() override;
};

// "LIGHTING", "USE_TEXTURE", "USE_TEXTURE0", "DISPLACEMENT", "NORMALMAP", "BUMP".
void AddNormalMapDefines(TQuorvelNodeBuilder* ABuilder);

class TQuorvelNormalMapMaterialSource : public TQuorvelDefaultMaterialSource {
  FW_CLASS(TQuorvelNormalMapMaterialSource, TQuorvelDefaultMaterialSource)

public:
  using TQuorvelDefaultMaterialSource::TQuorvelDefaultMaterialSource;
  using TQuorvelDefaultMaterialSource::GetDisplacementComponent;
  using TQuorvelDefaultMaterialSource::SetDisplacementComponent;
  using TQuorvelDefaultMaterialSource::GetDisplacementX;
  using TQuorvelDefaultMaterialSource::SetDisplacementX;
  using TQuorvelDefaultMaterialSource::GetDisplacementY;
  using TQuorvelDefaultMaterialSource::SetDisplacementY;
  using TQuorvelDefaultMaterialSource::GetDisplacementZ;
  using TQuorvelDefaultMaterialSource::SetDisplacementZ;
  using TQuorvelDefaultMaterialSource::GetDisplacementDir;
  using TQuorvelDefaultMaterialSource::SetDisplacementDir;

protected:
  TMaterial* CreateMaterial() override;
};

}  // namespace quorvel
