// The default source read from and written to material definitions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib/defs/DefTypesMaterial.h"
#include "lib/materials/MaterialDefault.h"
#include "lib/materials/MaterialPOM.h"
#include "tests/context/ContextTestFixture.h"

using namespace quorvel;

namespace {

using TSource = TQuorvelDefaultMaterialSource;

class MaterialDefinition : public quorvel::testkit::TSharedGLTest {
protected:
  static TOwned<TSource> Load(TMaterialDef* ADef) {
    TOwned<TSource> s(New<TSource>(nullptr));
    s->LoadFromDefinition(ADef);
    return s;
  }
};

TEST_F(MaterialDefinition, SpecularPowerBecomesShininessOnReading) {
  const std::pair<float, float> cases[] = {{0.5f, 0.5f}, {20.2f, 21}, {500, 100}, {1, 1}};
  for (const auto& [specPow, shininess] : cases) {
    TOwned<TMaterialDef> def(New<TMaterialDef>());
    def->SetSpecPow(specPow);
    EXPECT_FLOAT_EQ(Load(def.get())->GetShininess(), shininess) << specPow;
  }
}

TEST_F(MaterialDefinition, OneNormalTextureSetsTexturingAndNormalMappingOnly) {
  TOwned<TMaterialDef> def(New<TMaterialDef>());
  def->SetShadingModel(TQuorvelShadingModel::smBlinnPhong);
  def->AddTexture(TColorChannelDef::Normal, nullptr, false);
  TOwned<TSource> s(New<TSource>(nullptr));
  s->SetUseDepthMap(true);
  s->SetUsePBRAOTexture(true);
  s->LoadFromDefinition(def.get());
  EXPECT_EQ(s->GetTagObject(), def.get());
  EXPECT_TRUE(s->GetUseTexturing());
  EXPECT_TRUE(s->GetUseNormalMapping());
  for (bool flag : {s->GetUseDisplacementMapping(), s->GetUseSpecularMapping(), s->GetUseEmissiveTexture(),
                    s->GetUseDepthMap(), s->GetUseParallaxOcclusion(), s->GetUsePBRAlbedoTexture(),
                    s->GetUsePBRMetallicTexture(), s->GetUsePBRRoughnessTexture(), s->GetUsePBRAOTexture(),
                    s->GetUsePBREmissiveTexture(), s->GetUsePBRSpecularTexture()})
    EXPECT_FALSE(flag);
  EXPECT_NE(s->FindBitmapEntryByName("NormalMapTexture"), nullptr);
}

TEST_F(MaterialDefinition, SpecularTextureDependsOnTheShadingModel) {
  for (bool pbr : {true, false}) {
    TOwned<TMaterialDef> def(New<TMaterialDef>());
    def->SetShadingModel(pbr ? TQuorvelShadingModel::smPBR : TQuorvelShadingModel::smPhong);
    def->AddTexture(TColorChannelDef::Specular, nullptr, false);
    TOwned<TSource> s = Load(def.get());
    EXPECT_EQ(s->GetUsePBRSpecularTexture(), pbr);
    EXPECT_EQ(s->GetUseSpecularMapping(), !pbr);
    EXPECT_EQ(s->GetUseSpecular(), !pbr);
  }
}

TEST_F(MaterialDefinition, TexturesBeyondDepthGetOneNameEach) {
  // Two user textures must not share one pool entry.
  TOwned<TMaterialDef> def(New<TMaterialDef>());
  def->AddTexture(TColorChannelDef::Diffuse, nullptr, false);
  def->AddTexture(TColorChannelDef::UserSpecific, nullptr, false);
  def->AddTexture(TColorChannelDef::UserSpecific, nullptr, false);
  TOwned<TSource> s = Load(def.get());
  EXPECT_NE(s->FindBitmapEntryByName("Texture2"), nullptr);
  EXPECT_NE(s->FindBitmapEntryByName("Texture3"), nullptr);
  EXPECT_EQ(TSource::EntryChannel("Texture2"), TColorChannelDef::UserSpecific);
  EXPECT_EQ(TSource::EntryChannel("NormalMapTexture"), TColorChannelDef::Normal);
}

TEST_F(MaterialDefinition, StoringAndLoadingKeepsTheProperties) {
  TOwned<TSource> s(New<TSource>(nullptr));
  s->SetUseLighting(true);
  s->SetUseTexture0(true);
  s->SetUseNormalMapping(true);
  s->SetShininess(40);
  s->SetDiffuseF(TAlphaColorF(0.25f, 0.5f, 0.75f, 1));
  s->SetShadingIntensity(2);
  s->SetReflections(true);
  TOwned<TMaterialDef> def(New<TMaterialDef>());
  // The default material has no displacement entry: storing must not raise.
  ASSERT_NO_THROW(s->StoreToDefinition(def.get()));
  EXPECT_EQ(def->GetTypeName(), "Quorvel.Material.Default.TQuorvelDefaultMaterialSource");
  EXPECT_EQ(def->GetExtension("Displacement")->GetProperties()->Items("DisplacementMap").AsBoolean(), false);
  ASSERT_NE(def->GetTexture(TColorChannelDef::Diffuse), nullptr);
  ASSERT_NE(def->GetTexture(TColorChannelDef::Normal), nullptr);
  EXPECT_EQ(def->GetTexture(TColorChannelDef::Reflection), nullptr) << "a pass fills it; its switch is stored";
  const int32_t textures = def->GetTextures()->Count();
  s->StoreToDefinition(def.get());
  EXPECT_EQ(def->GetTextures()->Count(), textures) << "textures are cleared before storing";

  TOwned<TSource> back = Load(def.get());
  EXPECT_FLOAT_EQ(back->GetShininess(), 40);
  EXPECT_EQ(back->GetDiffuseF(), TAlphaColorF(0.25f, 0.5f, 0.75f, 1));
  EXPECT_TRUE(back->GetUseLighting());
  EXPECT_TRUE(back->GetUseTexture0());
  EXPECT_TRUE(back->GetUseNormalMapping());
  EXPECT_TRUE(back->GetReflections());
  EXPECT_FLOAT_EQ(back->GetShadingIntensity(), 2);
  // Freeing the definition frees its assets; the source's bitmaps are its own.
  def.reset();
  EXPECT_NE(s->FindBitmapByName("Texture0"), nullptr);
}

TEST_F(MaterialDefinition, ParallaxSettingsTravelInTheirExtension) {
  TOwned<TQuorvelPOMMaterialSource> pom(New<TQuorvelPOMMaterialSource>(nullptr));
  pom->SetParallaxLevels(64);
  pom->SetUseParallaxOcclusion(false);
  TOwned<TMaterialDef> def(New<TMaterialDef>());
  pom->StoreToDefinition(def.get());
  TOwned<TQuorvelPOMMaterialSource> back(New<TQuorvelPOMMaterialSource>(nullptr));
  back->LoadFromDefinition(def.get());
  EXPECT_EQ(back->GetParallaxLevels(), 64);
  EXPECT_FALSE(back->GetUseParallaxOcclusion());
}

TEST_F(MaterialDefinition, CreateFromDefinitionNeedsAMaterialDefinition) {
  TOwned<TTextureDef> notAMaterial(New<TTextureDef>());
  EXPECT_EQ(TSource::CreateFromDefinition(nullptr, notAMaterial.get()), nullptr);
  TOwned<TMaterialDef> def(New<TMaterialDef>());
  def->SetSpecPow(12);
  TOwned<TSource> s(TSource::CreateFromDefinition(nullptr, def.get()));
  ASSERT_NE(s, nullptr);
  EXPECT_FLOAT_EQ(s->GetShininess(), 12);
}

}  // namespace
