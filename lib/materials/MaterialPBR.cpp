#include "lib/materials/MaterialPBR.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelPBRMaterial, "Quorvel.Material.PBR")
FW_CLASS_NO_MEMBERS(TQuorvelPBRMaterial)
FW_CLASS_IMPL(TQuorvelPBRMaterialSource, "Quorvel.Material.PBR")

void TQuorvelPBRMaterialSource::Register(ClassBuilder<TQuorvelPBRMaterialSource>& b) {
  b.Prop("UseParallaxOcclusion", &Self::GetUseParallaxOcclusion, &Self::SetUseParallaxOcclusion)
      .Prop("UsePBRAlbedoTexture", &Self::GetUsePBRAlbedoTexture, &Self::SetUsePBRAlbedoTexture)
      .Prop("UsePBRMetallicTexture", &Self::GetUsePBRMetallicTexture, &Self::SetUsePBRMetallicTexture)
      .Prop("UsePBRRoughnessTexture", &Self::GetUsePBRRoughnessTexture, &Self::SetUsePBRRoughnessTexture)
      .Prop("UsePBRAOTexture", &Self::GetUsePBRAOTexture, &Self::SetUsePBRAOTexture)
      .Prop("UsePBREmissiveTexture", &Self::GetUsePBREmissiveTexture, &Self::SetUsePBREmissiveTexture)
      .Prop("UsePBRSpecularTexture", &Self::GetUsePBRSpecularTexture, &Self::SetUsePBRSpecularTexture);
}

void TQuorvelPBRMaterial::AfterConstruction() {
  TQuorvelPOMMaterial::AfterConstruction();
  FShaderData.Material.Ambient = TAlphaColorF(0.03f, 0.03f, 0.03f, 1.0f);
  TVector3D& d = FShaderData.Material.Displacement;
  d = TVector3D(d.X * 0.5f, d.Y * 0.5f, d.Z * 0.5f, d.W * 0.5f);
  FShaderData.ShadingModel = 3;
  SetNormalIntensity(0.1f);
  SetUseLighting(true);
  SetUseSpecular(true);
  SetUseTexturing(true);
  SetUseTexture0(true);
  SetUsePBRAlbedoTexture(true);
  SetUsePBRMetallicTexture(true);
  SetUsePBRRoughnessTexture(true);
  SetUsePBRAOTexture(true);
}

void TQuorvelPBRMaterial::DoCreateVertexShaderNode() {
  TQuorvelPOMMaterial::DoCreateVertexShaderNode();
  AddNormalMapDefines(FVSNode.get());
  FVSNode->AddDefine("PBR");
}

void TQuorvelPBRMaterial::DoCreateFragmentShaderNode() {
  TQuorvelPOMMaterial::DoCreateFragmentShaderNode();
  AddNormalMapDefines(FFSNode.get());
  for (const char* d : {"PBR", "PBR_TEX", "PBR_TEX_ALBEDO", "PBR_TEX_METALLIC", "PBR_TEX_ROUGHNESS", "PBR_TEX_AO"})
    FFSNode->AddDefine(d);
}

TMaterial* TQuorvelPBRMaterialSource::CreateMaterial() { return New<TQuorvelPBRMaterial>(this); }

void TQuorvelPBRMaterialSource::UpdateDefaultBitmapEntries() {
  TQuorvelPOMMaterialSource::UpdateDefaultBitmapEntries();
  for (const char* name :
       {"MetalnessTexture", "RoughnessTexture", "AmbientOcclusionTexture", "EmissiveTexture", "SpecularMapTexture"})
    AddBitmap(name, TPixelFormatEx::RGBA8, TPixelFormatEx::BGRA, TQuorvelTextureDataType::dtUnsignedByte, false, true,
              false, TContextShaderKind::PixelShader, TQuorvelTextureKind::Texture2D);
}

#define QUORVEL_PBR_BITMAP(Prop, Entry, Message)                              \
  TBitmap* TQuorvelPBRMaterialSource::Get##Prop() const {                     \
    return GetEntryBitmap(Entry, "TQuorvelPBRMaterialSource." Message " not activated in material"); \
  }                                                                           \
  void TQuorvelPBRMaterialSource::Set##Prop(TBitmap* Value) {                 \
    if (TBitmap* bitmap = Get##Prop()) bitmap->Assign(Value);                 \
  }
QUORVEL_PBR_BITMAP(MetalnessTexture, "MetalnessTexture", "MetalnessTexture")
QUORVEL_PBR_BITMAP(RoughnessTexture, "RoughnessTexture", "RoughnessTexture")
QUORVEL_PBR_BITMAP(AmbientOcclusionTexture, "AmbientOcclusionTexture", "AmbientOcclusionTexture")
QUORVEL_PBR_BITMAP(EmissiveTexture, "EmissiveTexture", "EmissiveTexture")
QUORVEL_PBR_BITMAP(SpecularMap, "SpecularMapTexture", "GetSpecularMap")
#undef QUORVEL_PBR_BITMAP

}  // namespace quorvel
