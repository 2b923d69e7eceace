#include "lib/scene/MaterialFactory.h"

#include <cmath>

#include "lib/defs/DefTypesModel.h"
#include "lib/defs/DefTypesTexture.h"
#include "lib/formats/assets/AssetsManager.h"
#include "lib/materials/MaterialBlinn.h"
#include "lib/materials/MaterialBumpMap.h"
#include "lib/materials/MaterialLambert.h"
#include "lib/materials/MaterialLayered.h"
#include "lib/materials/MaterialNormalMap.h"
#include "lib/materials/MaterialPBR.h"
#include "lib/materials/MaterialPhong.h"
#include "lib/materials/MaterialVertexColor.h"
#include "lib/scene/Control.h"
#include "lib/scene/Mesh.h"

namespace quorvel {

namespace {

using TSource = TQuorvelDefaultMaterialSource;

// Pre-order: a component is tested before the components it owns.
TMaterialSource* FindByTag(TComponent* ARoot, TObject* ATag) {
  for (TComponent* c : ARoot->ComponentList()) {
    if (auto* source = dynamic_cast<TMaterialSource*>(c); source && source->GetTagObject() == ATag) return source;
    if (TMaterialSource* found = FindByTag(c, ATag)) return found;
  }
  return nullptr;
}

// The texture's asset bitmap (null without a texture), for a setter that copies it. Usually
// the asset's own; a cached stand-alone asset (a model rebuilt from its stored form) hands out
// a copy of its own, freed here once the full expression that set it has ended.
struct TAssetBitmap {
  TMaybeOwned<TBitmap> Bitmap;
  operator TBitmap*() const { return Bitmap.get(); }
};

TAssetBitmap Bitmap(TMaterialDef* ADef, TColorChannelDef AChannel) {
  TTextureDef* texture = ADef->GetTexture(AChannel);
  if (!texture) return {};
  TBitmap* bitmap = texture->GetAssetBitmapInstance(false);
  auto* asset = dynamic_cast<TQuorvelTextureAsset*>(texture->GetAssetRef());
  if (bitmap && (!asset || bitmap != asset->GetBitmap())) return {TMaybeOwned<TBitmap>::Owned(bitmap)};
  return {TMaybeOwned<TBitmap>::Borrowed(bitmap)};
}

void CutOff(TSource* S, TMaterialDef* D) {
  S->SetUseColorClipping(D->GetUseClipping());
  S->SetClippingColorF(D->GetClipping());
  S->SetUseAlphaCutoff(D->GetUseAlphaCutoff());
  S->SetAlphaCutoff(D->GetAlphaCutoff());
  S->SetTonemapping(D->GetTonemapping());
}

void BaseColours(TSource* S, TMaterialDef* D) {
  S->SetDiffuseF(D->GetDiffuse());
  S->SetAmbientF(D->GetAmbient());
}

void Emissive(TSource* S, TMaterialDef* D) { S->SetEmissiveF(D->GetEmissive()); }

// A power below 1 is a fraction of 100; the source's own clamp still applies.
void Highlights(TSource* S, TMaterialDef* D) {
  S->SetSpecularF(D->GetSpecular());
  const float pow = D->GetSpecPow();
  S->SetShininess(pow < 1.0f ? std::ceil(pow * 100.0f) : std::ceil(pow));
  S->SetBrightness(D->GetBrightness());
  S->SetReflectionPower(D->GetReflectionPower());
  S->SetReflections(D->GetUseReflection());
  S->SetRefractionPower(D->GetRefractionPower());
  S->SetRefractions(D->GetUseRefraction());
}

void BaseTexture(TSource* S, TMaterialDef* D) {
  if (D->GetTexture(TColorChannelDef::Diffuse)) {
    S->SetUseTexturing(true);
    S->SetUseTexture0(true);
    S->SetTexture(Bitmap(D, TColorChannelDef::Diffuse));
    S->UpdateDefaultBitmaps();
  } else {
    S->SetUseTexturing(false);
    S->SetUseTexture0(false);
  }
}

template <class T>
T* Make(TQuorvelControl* AOwner, TMaterialDef* ADef) {
  auto* source = New<T>(AOwner);
  source->SetTagObject(ADef);
  return source;
}

TSource* Plain(TQuorvelControl* AOwner, TMaterialDef* D, bool AVertexColor) {
  TSource* s = AVertexColor ? static_cast<TSource*>(Make<TQuorvelVertexColorMaterialSource>(AOwner, D))
                            : Make<TQuorvelLambertMaterialSource>(AOwner, D);
  s->SetUseTexturing(false);
  s->SetUseTexture0(false);
  s->SetUseVertexColor(AVertexColor);
  s->SetUseLighting(true);
  CutOff(s, D);
  BaseColours(s, D);
  Emissive(s, D);
  Highlights(s, D);
  return s;
}

template <class T>
TSource* Textured(TQuorvelControl* AOwner, TMaterialDef* D) {
  TSource* s = Make<T>(AOwner, D);
  s->SetUseLighting(true);
  CutOff(s, D);
  BaseColours(s, D);
  Emissive(s, D);
  Highlights(s, D);
  BaseTexture(s, D);
  return s;
}

TSource* NormalMapped(TQuorvelControl* AOwner, TMaterialDef* D) {
  auto* s = Make<TQuorvelNormalMapMaterialSource>(AOwner, D);
  s->SetUseTexturing(true);
  s->SetUseLighting(true);
  CutOff(s, D);
  BaseColours(s, D);
  Highlights(s, D);
  if (D->GetTexture(TColorChannelDef::Diffuse)) {
    s->SetUseTexture0(true);
    s->SetTexture(Bitmap(D, TColorChannelDef::Diffuse));
  } else {
    s->SetUseTexture0(false);
  }
  if (D->GetTexture(TColorChannelDef::Normal)) s->SetNormalMap(Bitmap(D, TColorChannelDef::Normal));
  s->UpdateDefaultBitmaps();
  return s;
}

TSource* BumpMapped(TQuorvelControl* AOwner, TMaterialDef* D) {
  auto* s = Make<TQuorvelBumpMapMaterialSource>(AOwner, D);
  s->SetUseTexturing(true);
  s->SetUseLighting(true);
  CutOff(s, D);
  BaseColours(s, D);
  Emissive(s, D);
  Highlights(s, D);
  if (D->GetTexture(TColorChannelDef::Diffuse)) {
    s->SetUseTexture0(true);
    s->SetTexture(Bitmap(D, TColorChannelDef::Diffuse));
  } else {
    s->SetUseTexturing(false);
  }
  if (D->GetTexture(TColorChannelDef::Normal)) s->SetNormalMap(Bitmap(D, TColorChannelDef::Normal));
  if (D->GetTexture(TColorChannelDef::Specular)) s->SetSpecularMap(Bitmap(D, TColorChannelDef::Specular));
  s->UpdateDefaultBitmaps();
  return s;
}

TSource* Custom(TQuorvelControl* AOwner, TMaterialDef* D) {
  auto* s = Make<TQuorvelDefaultMaterialSource>(AOwner, D);
  s->SetShadingModel(D->GetShadingModel());
  s->SetUseTexturing(D->GetUseTexturing());
  s->SetUseTexture0(D->GetUseTexture0());
  s->SetUseLighting(D->GetUseLighting());
  s->SetUseVertexColor(D->GetUseVertexColor());
  s->SetUseSpecular(D->GetUseSpecular());
  CutOff(s, D);
  BaseColours(s, D);
  Emissive(s, D);
  Highlights(s, D);
  if (D->GetTexture(TColorChannelDef::Diffuse)) {
    s->SetUseTexturing(true);
    s->SetUseTexture0(true);
    s->SetTexture(Bitmap(D, TColorChannelDef::Diffuse));
    s->UpdateDefaultBitmaps();
  }
  return s;
}

TSource* PBR(TQuorvelControl* AOwner, TMaterialDef* D) {
  auto* s = Make<TQuorvelPBRMaterialSource>(AOwner, D);
  s->SetUseTexturing(true);
  s->SetUseTexture0(true);
  s->SetUseLighting(D->GetUseLighting());
  CutOff(s, D);
  s->SetUseParallaxOcclusion(false);
  s->SetNormalIntensity(1.0f);
  BaseColours(s, D);
  Emissive(s, D);
  Highlights(s, D);
  s->SetMetallicBias(D->GetMetallic());
  s->SetRoughnessBias(D->GetRoughness());
  s->SetAOBias(D->GetAO());
  using C = TColorChannelDef;
  const bool albedo = D->GetTexture(C::Diffuse);
  s->SetUsePBRAlbedoTexture(albedo);
  if (albedo) s->SetTexture(Bitmap(D, C::Diffuse));
  if (D->GetTexture(C::Normal)) s->SetNormalMap(Bitmap(D, C::Normal));
  const bool metallic = D->GetTexture(C::Metalness);
  s->SetUsePBRMetallicTexture(metallic);
  if (metallic) s->SetMetalnessTexture(Bitmap(D, C::Metalness));
  const bool roughness = D->GetTexture(C::Roughness);
  s->SetUsePBRRoughnessTexture(roughness);
  if (roughness) s->SetRoughnessTexture(Bitmap(D, C::Roughness));
  const bool ao = D->GetTexture(C::AO);
  s->SetUsePBRAOTexture(ao);
  if (ao) s->SetAmbientOcclusionTexture(Bitmap(D, C::AO));
  const bool emissive = D->GetTexture(C::Emissive);
  s->SetUsePBREmissiveTexture(emissive);
  if (emissive) {
    s->SetEmissiveTexture(Bitmap(D, C::Emissive));
    s->SetEmissiveF(TAlphaColorF{1, 1, 1, 1});
  }
  const bool specular = D->GetTexture(C::Specular);
  s->SetUsePBRSpecularTexture(specular);
  if (specular) s->SetSpecularMap(Bitmap(D, C::Specular));
  if (D->GetTexture(C::Displacement)) s->SetDisplacementMap(Bitmap(D, C::Displacement));
  s->UpdateDefaultBitmaps();
  return s;
}

TSource* Default(TQuorvelControl* AOwner, TMaterialDef* D) {
  auto* s = Make<TQuorvelLambertMaterialSource>(AOwner, D);
  if (D->GetTexture(TColorChannelDef::Diffuse)) {
    s->SetUseTexturing(true);
    s->SetUseTexture0(true);
    s->SetUseLighting(true);
    s->SetUseVertexColor(false);
    CutOff(s, D);
    BaseColours(s, D);
    Highlights(s, D);
    s->SetTexture(Bitmap(D, TColorChannelDef::Diffuse));
  } else {
    s->SetUseLighting(true);
    s->SetUseVertexColor(false);
    s->SetUseTexturing(false);
    s->SetUseTexture0(false);
    CutOff(s, D);
    BaseColours(s, D);
    Emissive(s, D);
    Highlights(s, D);
  }
  return s;
}

}  // namespace

TMaterialSource* TQuorvelMaterial::CreateMaterial(TQuorvelControl* AOwner, TModelDef* AModel, TMaterialRefDef* ADef) {
  if (!AModel || !ADef) return nullptr;
  if (TMaterialDef* material = ADef->GetReference()) {
    if (AOwner) {
      TComponent* root = AOwner;
      if (auto* mesh = dynamic_cast<TQuorvelMesh*>(AOwner); mesh && mesh->GetModel()) root = mesh->GetModel();
      if (TMaterialSource* found = FindByTag(root, material)) return found;
    }
    return CreateMaterial(AOwner, material);
  }
  TMaterialDef* material = AModel->GetMaterial(ADef->GetId());
  return material ? CreateMaterial(AOwner, material) : nullptr;
}

TMaterialSource* TQuorvelMaterial::CreateMaterial(TQuorvelControl* AOwner, TMaterialDef* ADef) {
  if (!ADef) return nullptr;
  TMaterialSource* source = nullptr;
  switch (ADef->GetKind()) {
    case TMaterialDefKind::mkColor: source = Plain(AOwner, ADef, false); break;
    case TMaterialDefKind::mkLambert: source = Textured<TQuorvelLambertMaterialSource>(AOwner, ADef); break;
    case TMaterialDefKind::mkPhong: source = Textured<TQuorvelPhongMaterialSource>(AOwner, ADef); break;
    case TMaterialDefKind::mkBlinnPhong: source = Textured<TQuorvelBlinnMaterialSource>(AOwner, ADef); break;
    case TMaterialDefKind::mkNormalMap: source = NormalMapped(AOwner, ADef); break;
    case TMaterialDefKind::mkBumpMap: source = BumpMapped(AOwner, ADef); break;
    case TMaterialDefKind::mkVertexColor: source = Plain(AOwner, ADef, true); break;
    case TMaterialDefKind::mkCustom: source = Custom(AOwner, ADef); break;
    case TMaterialDefKind::mkPBR: source = PBR(AOwner, ADef); break;
    case TMaterialDefKind::mkLayered: {
      auto* layered = Make<TQuorvelLayeredMaterialSource>(AOwner, ADef);
      if (const TMaterialDef::TMaterialList* layers = ADef->GetMaterials())
        for (TMaterialDef* layer : *layers) {
          TMaterialSource* sub = CreateMaterial(AOwner, layer);
          auto* item = static_cast<TQuorvelLayeredMaterialItem*>(layered->GetMaterials()->Add());
          item->SetMaterial(sub);  // through the setter: the layered source must hear when a layer goes
        }
      source = layered;
      break;
    }
    default: source = Default(AOwner, ADef); break;
  }
  source->SetStored(false);
  source->SetParent(AOwner);
  return source;
}

}  // namespace quorvel
