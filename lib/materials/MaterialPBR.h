#pragma once
// The physically based preset: the parallax-occlusion preset shaded by the PBR model, with
// albedo, metalness, roughness and occlusion maps.
#include "lib/materials/MaterialPOM.h"

namespace quorvel {

class TQuorvelPBRMaterial : public TQuorvelPOMMaterial {
  FW_CLASS(TQuorvelPBRMaterial, TQuorvelPOMMaterial)

public:
  using TQuorvelPOMMaterial::TQuorvelPOMMaterial;
  void AfterConstruction() override;
  void DoCreateVertexShaderNode() override;
  void DoCreateFragmentShaderNode() override;
};

class TQuorvelPBRMaterialSource : public TQuorvelPOMMaterialSource {
  FW_CLASS(TQuorvelPBRMaterialSource, TQuorvelPOMMaterialSource)

public:
  using TQuorvelPOMMaterialSource::TQuorvelPOMMaterialSource;
  virtual TBitmap* GetMetalnessTexture() const;
  virtual void SetMetalnessTexture(TBitmap* Value);
  virtual TBitmap* GetRoughnessTexture() const;
  virtual void SetRoughnessTexture(TBitmap* Value);
  virtual TBitmap* GetAmbientOcclusionTexture() const;
  virtual void SetAmbientOcclusionTexture(TBitmap* Value);
  virtual TBitmap* GetSpecularMap() const;
  virtual void SetSpecularMap(TBitmap* Value);
  TBitmap* GetEmissiveTexture() const;
  void SetEmissiveTexture(TBitmap* Value);

protected:
  TMaterial* CreateMaterial() override;
  // The parallax-occlusion entries, then the five PBR maps.
  void UpdateDefaultBitmapEntries() override;
};

}  // namespace quorvel
