// Material sources made for the meshes of a model from its material definitions.
#include <gtest/gtest.h>

#include "lib/defs/DefTypesMaterial.h"
#include "lib/defs/DefTypesMesh.h"
#include "lib/defs/DefTypesModel.h"
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
    TMaterialDef* def = Material(model.get(), ("M" + std::to_string(n++)).c_str(), c.Kind);
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
    TMaterialDef* def = Material(model.get(), ("P" + std::to_string(int(pow * 10))).c_str(),
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

}  // namespace
