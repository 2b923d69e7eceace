// Material sources made for the meshes of a model from its material definitions.
#include <gtest/gtest.h>

#include <array>

#include "framework/rtl/Exceptions.h"

#include "lib/defs/DefTypesMaterial.h"
#include "lib/defs/DefTypesMesh.h"
#include "lib/defs/DefTypesModel.h"
#include "lib/defs/DefTypesTexture.h"
#include "lib/formats/assets/AssetsManager.h"
#include "lib/materials/MaterialBlinn.h"
#include "lib/materials/MaterialBumpMap.h"
#include "lib/materials/MaterialLambert.h"
#include "lib/materials/MaterialLayered.h"
#include "lib/materials/MaterialNormalMap.h"
#include "lib/materials/MaterialPBR.h"
#include "lib/materials/MaterialVertexColor.h"
#include "lib/scene/MaterialFactory.h"
#include "lib/scene/Model.h"

using namespace quorvel;

namespace {

TMaterialDef* Material(TModelDef* AModel, const char* AId, TMaterialDefKind AKind) {
  auto* def = New<TMaterialDef>(AModel, AId);
  def->SetKind(AKind);
  return def;
}

TEST(MaterialFactory, EachKindMakesItsPresetNotStoredAndParentedToTheOwner) {
  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  TOwned<TQuorvelModel> owner(New<TQuorvelModel>(nullptr));
  struct TCase {
    TMaterialDefKind Kind;
    bool (*IsKind)(TMaterialSource*);
  };
  const TCase cases[] = {
      {TMaterialDefKind::mkColor, [](TMaterialSource* s) { return dynamic_cast<TQuorvelLambertMaterialSource*>(s) != nullptr; }},
      {TMaterialDefKind::mkBlinnPhong, [](TMaterialSource* s) { return dynamic_cast<TQuorvelBlinnMaterialSource*>(s) != nullptr; }},
      {TMaterialDefKind::mkNormalMap, [](TMaterialSource* s) { return dynamic_cast<TQuorvelNormalMapMaterialSource*>(s) != nullptr; }},
      {TMaterialDefKind::mkBumpMap, [](TMaterialSource* s) { return dynamic_cast<TQuorvelBumpMapMaterialSource*>(s) != nullptr; }},
      {TMaterialDefKind::mkVertexColor, [](TMaterialSource* s) { return dynamic_cast<TQuorvelVertexColorMaterialSource*>(s) != nullptr; }},
      {TMaterialDefKind::mkPBR, [](TMaterialSource* s) { return dynamic_cast<TQuorvelPBRMaterialSource*>(s) != nullptr; }},
      {static_cast<TMaterialDefKind>(200), [](TMaterialSource* s) { return dynamic_cast<TQuorvelLambertMaterialSource*>(s) != nullptr; }},
  };
  int n = 0;
  for (const TCase& c : cases) {
    // Appended: g++ 12 at -O3 takes "text" + std::string for an overlapping copy (-Wrestrict).
    TMaterialDef* def = Material(model.get(), std::string("M").append(std::to_string(n++)).c_str(), c.Kind);
    TMaterialSource* s = TQuorvelMaterial::CreateMaterial(owner.get(), def);
    ASSERT_NE(s, nullptr);
    EXPECT_TRUE(c.IsKind(s)) << int(c.Kind);
    EXPECT_EQ(s->GetTagObject(), def);
    EXPECT_EQ(s->GetOwner(), owner.get());
    EXPECT_EQ(s->GetParent(), owner.get());
    EXPECT_FALSE(s->GetStored());
  }
  EXPECT_EQ(TQuorvelMaterial::CreateMaterial(owner.get(), static_cast<TMaterialDef*>(nullptr)), nullptr);
}

TEST(MaterialFactory, SpecularPowerBelowOneIsAFractionOfAHundredAndTheSourceClamps) {
  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  TOwned<TQuorvelModel> owner(New<TQuorvelModel>(nullptr));
  // 300 would be 300 by the factory's own rule; the source's Shininess clamp wins.
  const std::pair<float, float> cases[] = {{0.5f, 50}, {12.3f, 13}, {300, 100}};
  for (const auto& [pow, shininess] : cases) {
    TMaterialDef* def = Material(model.get(), std::string("P").append(std::to_string(int(pow * 10))).c_str(),
                                 TMaterialDefKind::mkBlinnPhong);
    def->SetSpecPow(pow);
    auto* s = dynamic_cast<TQuorvelDefaultMaterialSource*>(TQuorvelMaterial::CreateMaterial(owner.get(), def));
    ASSERT_NE(s, nullptr);
    EXPECT_FLOAT_EQ(s->GetShininess(), shininess) << pow;
  }
}

TEST(MaterialFactory, WithoutADiffuseTextureBumpSwitchesTexturingOffAndNormalOnlyTexture0) {
  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  TOwned<TQuorvelModel> owner(New<TQuorvelModel>(nullptr));
  auto* bump = dynamic_cast<TQuorvelDefaultMaterialSource*>(
      TQuorvelMaterial::CreateMaterial(owner.get(), Material(model.get(), "Bump", TMaterialDefKind::mkBumpMap)));
  ASSERT_NE(bump, nullptr);
  EXPECT_FALSE(bump->GetUseTexturing());
  EXPECT_TRUE(bump->GetUseLighting());
  auto* normal = dynamic_cast<TQuorvelDefaultMaterialSource*>(
      TQuorvelMaterial::CreateMaterial(owner.get(), Material(model.get(), "Normal", TMaterialDefKind::mkNormalMap)));
  ASSERT_NE(normal, nullptr);
  EXPECT_TRUE(normal->GetUseTexturing());
  EXPECT_FALSE(normal->GetUseTexture0());
}

TEST(MaterialFactory, LayeredMakesOneSourcePerSubMaterialAllOwnedAndNotStored) {
  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  TOwned<TQuorvelModel> owner(New<TQuorvelModel>(nullptr));
  TMaterialDef* layered = Material(model.get(), "Layered", TMaterialDefKind::mkLayered);
  for (const char* id : {"A", "B"}) {
    auto* sub = New<TMaterialDef>(nullptr, id);
    sub->SetKind(TMaterialDefKind::mkColor);
    layered->AddLayeredMaterial(sub);
  }
  const int before = owner->GetComponentCount();
  auto* s = dynamic_cast<TQuorvelLayeredMaterialSource*>(TQuorvelMaterial::CreateMaterial(owner.get(), layered));
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(s->GetMaterials()->Count(), 2);
  EXPECT_EQ(owner->GetComponentCount(), before + 3);
  for (int i = 0; i < 2; ++i) {
    TMaterialSource* sub = static_cast<TQuorvelLayeredMaterialItem*>(s->GetMaterials()->GetItem(i))->GetMaterial();
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(sub->GetTagObject(), (*layered->GetMaterials())[i]);
    EXPECT_EQ(sub->GetOwner(), owner.get());
    EXPECT_EQ(sub->GetParent(), owner.get());
    EXPECT_FALSE(sub->GetStored());
  }
  EXPECT_FALSE(s->GetStored());
  // A layer freed first is forgotten, so freeing the rest touches nothing freed (ASan).
  Free(static_cast<TQuorvelLayeredMaterialItem*>(s->GetMaterials()->GetItem(0))->GetMaterial());
  EXPECT_EQ(static_cast<TQuorvelLayeredMaterialItem*>(s->GetMaterials()->GetItem(0))->GetMaterial(), nullptr);
}

TEST(MaterialFactory, ReferencesReuseTheSourceTaggedWithTheirDefinitionUnderTheModel) {
  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  TMaterialDef* def = Material(model.get(), "Shared", TMaterialDefKind::mkLambert);
  TOwned<TQuorvelModel> owner(New<TQuorvelModel>(nullptr));
  TOwned<TMaterialRefDef> ref(New<TMaterialRefDef>());
  ref->SetReference(def);
  const int before = owner->GetComponentCount();
  TMaterialSource* first = TQuorvelMaterial::CreateMaterial(owner.get(), model.get(), ref.get());
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(TQuorvelMaterial::CreateMaterial(owner.get(), model.get(), ref.get()), first);
  EXPECT_EQ(owner->GetComponentCount(), before + 1);
  // Null model or reference, and an unresolved id the model does not know.
  EXPECT_EQ(TQuorvelMaterial::CreateMaterial(owner.get(), nullptr, ref.get()), nullptr);
  EXPECT_EQ(TQuorvelMaterial::CreateMaterial(owner.get(), model.get(), nullptr), nullptr);
  TOwned<TMaterialRefDef> unknown(New<TMaterialRefDef>());
  unknown->SetId("Nowhere");
  EXPECT_EQ(TQuorvelMaterial::CreateMaterial(owner.get(), model.get(), unknown.get()), nullptr);
  // An unresolved id the model knows builds from the model's material.
  TOwned<TMaterialRefDef> byId(New<TMaterialRefDef>());
  byId->SetId("Shared");
  TMaterialSource* made = TQuorvelMaterial::CreateMaterial(owner.get(), model.get(), byId.get());
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->GetTagObject(), def);
}

// ---- textures with loaded assets --------------------------------------------------------------

// A texture on AChannel whose asset holds a loaded 2 x 2 bitmap of AColour. A standalone asset
// hands out copies of its bitmap; a package's asset its own bitmap.
TTextureDef* AddLoadedTexture(TMaterialDef* ADef, TColorChannelDef AChannel, TAlphaColor AColour, bool AStandalone) {
  auto* bitmap = New<TBitmap>(2, 2);
  bitmap->Clear(AColour);
  auto* asset = New<TQuorvelTextureAsset>(nullptr);
  asset->ImportFromCachedBitmap("texel.png", bitmap);
  asset->SetIsStandalone(AStandalone);
  return ADef->AddTexture(AChannel, asset, true);
}

TAlphaColor Texel(TBitmap* ABitmap) {
  if (!ABitmap || ABitmap->IsEmpty()) return TAlphaColor(0);
  TBitmapData data;
  if (!ABitmap->Map(TMapAccess::Read, data)) return TAlphaColor(0);
  const TAlphaColor texel = data.GetPixel(1, 1);
  ABitmap->Unmap(data);
  return texel;
}

// Each channel the factory copies reaches the source's bitmap of that channel, from either
// kind of asset. A standalone asset hands out copies, which the factory used to leave
// behind, one per texture (LeakSanitizer).
TEST(MaterialFactory, LoadedTexturesReachTheBitmapsOfTheirChannels) {
  using C = TColorChannelDef;
  for (bool standalone : {false, true}) {
    SCOPED_TRACE(standalone ? "standalone assets" : "package assets");
    TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
    TOwned<TQuorvelModel> owner(New<TQuorvelModel>(nullptr));

    TMaterialDef* blinn = Material(model.get(), "Blinn", TMaterialDefKind::mkBlinnPhong);
    AddLoadedTexture(blinn, C::Diffuse, claRed, standalone);
    auto* b = dynamic_cast<TQuorvelBlinnMaterialSource*>(TQuorvelMaterial::CreateMaterial(owner.get(), blinn));
    ASSERT_NE(b, nullptr);
    EXPECT_TRUE(b->GetUseTexturing());
    EXPECT_TRUE(b->GetUseTexture0());
    EXPECT_EQ(Texel(b->GetTexture()), claRed);

    TMaterialDef* bump = Material(model.get(), "Bump", TMaterialDefKind::mkBumpMap);
    AddLoadedTexture(bump, C::Diffuse, claRed, standalone);
    AddLoadedTexture(bump, C::Normal, claBlue, standalone);
    AddLoadedTexture(bump, C::Specular, claWhite, standalone);
    auto* u = dynamic_cast<TQuorvelBumpMapMaterialSource*>(TQuorvelMaterial::CreateMaterial(owner.get(), bump));
    ASSERT_NE(u, nullptr);
    EXPECT_TRUE(u->GetUseTexturing());
    EXPECT_EQ(Texel(u->GetTexture()), claRed);
    EXPECT_EQ(Texel(u->GetNormalMap()), claBlue);
    EXPECT_EQ(Texel(u->GetSpecularMap()), claWhite);

    TMaterialDef* normal = Material(model.get(), "Normal", TMaterialDefKind::mkNormalMap);
    AddLoadedTexture(normal, C::Normal, claBlue, standalone);
    auto* n = dynamic_cast<TQuorvelNormalMapMaterialSource*>(TQuorvelMaterial::CreateMaterial(owner.get(), normal));
    ASSERT_NE(n, nullptr);
    EXPECT_FALSE(n->GetUseTexture0());
    EXPECT_EQ(Texel(n->GetNormalMap()), claBlue);

    TMaterialDef* pbr = Material(model.get(), "PBR", TMaterialDefKind::mkPBR);
    pbr->SetEmissive(TAlphaColorF(0.1f, 0.2f, 0.3f, 1));
    AddLoadedTexture(pbr, C::Diffuse, claRed, standalone);
    AddLoadedTexture(pbr, C::Metalness, claLime, standalone);
    AddLoadedTexture(pbr, C::Emissive, claYellow, standalone);
    auto* p = dynamic_cast<TQuorvelPBRMaterialSource*>(TQuorvelMaterial::CreateMaterial(owner.get(), pbr));
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(p->GetUsePBRAlbedoTexture());
    EXPECT_TRUE(p->GetUsePBRMetallicTexture());
    EXPECT_FALSE(p->GetUsePBRRoughnessTexture());
    EXPECT_FALSE(p->GetUsePBRAOTexture());
    EXPECT_TRUE(p->GetUsePBREmissiveTexture());
    EXPECT_FALSE(p->GetUsePBRSpecularTexture());
    EXPECT_EQ(Texel(p->GetTexture()), claRed);
    EXPECT_EQ(Texel(p->GetMetalnessTexture()), claLime);
    EXPECT_EQ(Texel(p->GetEmissiveTexture()), claYellow);
    // The emissive texture overrides the definition's colour with opaque white.
    const TAlphaColorF emissive = p->GetEmissiveF();
    EXPECT_EQ((std::array<float, 4>{emissive.R, emissive.G, emissive.B, emissive.A}),
              (std::array<float, 4>{1, 1, 1, 1}));
  }
}

TEST(MaterialFactory, ATextureWhoseAssetIsNotLoadedRaisesAndTheSourceStaysWithItsOwner) {
  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  TOwned<TQuorvelModel> owner(New<TQuorvelModel>(nullptr));
  TMaterialDef* def = Material(model.get(), "Unloaded", TMaterialDefKind::mkLambert);
  auto* asset = New<TQuorvelTextureAsset>(nullptr);
  asset->ImportFromStream("nowhere.png", nullptr, {});  // names only: nothing decoded
  def->AddTexture(TColorChannelDef::Diffuse, asset, true);
  const int before = owner->GetComponentCount();
  try {
    TQuorvelMaterial::CreateMaterial(owner.get(), def);
    ADD_FAILURE() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "failed to request bitmap instance of texture asset - texture was not loaded physically yet");
  }
  EXPECT_EQ(owner->GetComponentCount(), before + 1);
}

}  // namespace
