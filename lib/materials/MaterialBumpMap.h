#pragma once
// The bump-map preset: the normal-map preset with a specular map.
#include "lib/materials/MaterialNormalMap.h"

namespace quorvel {

class TQuorvelBumpMapMaterial : public TQuorvelNormalMapMaterial {
  FW_CLASS(TQuorvelBumpMapMaterial, TQuorvelNormalMapMaterial)

public:
  using TQuorvelNormalMapMaterial::TQuorvelNormalMapMaterial;
  void DoCreateVertexShaderNode() override;
  void DoCreateFragmentShaderNode() override;
};

class TQuorvelBumpMapMaterialSource : public TQuorvelNormalMapMaterialSource {
  FW_CLASS(TQuorvelBumpMapMaterialSource, TQuorvelNormalMapMaterialSource)

public:
  using TQuorvelNormalMapMaterialSource::TQuorvelNormalMapMaterialSource;
  virtual TBitmap* GetSpecularMap() const;
  virtual void SetSpecularMap(TBitmap* Value);

protected:
  TMaterial* CreateMaterial() override;
  // "SpecularMapTexture" first, then the default entries.
  void UpdateDefaultBitmapEntries() override;
};

}  // namespace quorvel
