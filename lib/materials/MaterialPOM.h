#pragma once
// The parallax-occlusion preset: normal-mapped with a height map marched in the fragment
// stage; NormalIntensity is the height scale.
#include "lib/materials/MaterialNormalMap.h"

namespace quorvel {

class TQuorvelPOMMaterial : public TQuorvelDefaultMaterial {
  FW_CLASS(TQuorvelPOMMaterial, TQuorvelDefaultMaterial)

public:
  using TQuorvelDefaultMaterial::TQuorvelDefaultMaterial;
  void AfterConstruction() override;
  void DoCreateVertexShaderNode() override;
  void DoCreateFragmentShaderNode() override;
  // "POM_DISCARD" in both builders.
  virtual bool GetParallaxDiscardEdges() const;
  virtual void SetParallaxDiscardEdges(bool Value);
};

class TQuorvelPOMMaterialSource : public TQuorvelDefaultMaterialSource {
  FW_CLASS(TQuorvelPOMMaterialSource, TQuorvelDefaultMaterialSource)

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
  virtual TBitmap* GetParallaxOcclusionMap() const;
  virtual void SetParallaxOcclusionMap(TBitmap* Value);
  virtual bool GetParallaxDiscardEdges() const;
  virtual void SetParallaxDiscardEdges(bool Value);

protected:
  TMaterial* CreateMaterial() override;
  // The default entries, then "POMTexture".
  void UpdateDefaultBitmapEntries() override;
};

}  // namespace quorvel
