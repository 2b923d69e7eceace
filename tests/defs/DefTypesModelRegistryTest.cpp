#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "lib/defs/DefTypes.h"
#include "lib/formats/assets/AssetsManager.h"
#include "tests/defs/DefTypesTestUtil.h"
#include "tests/support/Raised.h"

namespace quorvel {
namespace {

using test::TakeText;

TTransformDef* AddNode(TTransformDef* AParent, const std::string& AId) {
  auto* node = Named<TTransformDef>(AId, static_cast<TCustomDef*>(AParent));
  AParent->AddChild(node);
  return node;
}

TEST(DefTypesModelRegistry, FindDefByIdTakesTheFirstHitInItsOrder) {
  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  TTransformDef* shared = AddNode(model.get(), "Shared");
  TTransformDef* wheel = AddNode(shared, "Wheel");
  model->AddLight(Named<TLightDef>("Wheel", static_cast<TCustomDef*>(nullptr)));  // not in the tree
  TAnimationDef* walk = model->AddEmptyAnimation("Walk");
  model->AddEmptyAnimation("Shared");
  auto* ctrl = Named<TControllerDef>("Rig", static_cast<TTransformDef*>(nullptr));
  model->AddController(ctrl);
  auto* armature = Named<TArmatureDef>("Rig", static_cast<TCustomDef*>(model.get()));
  model->AddArmature(armature);
  auto* other = Named<TArmatureDef>("Body", static_cast<TCustomDef*>(model.get()));
  model->AddArmature(other);
  auto* root = Named<TJointDef>("Hip", static_cast<TCustomDef*>(other));
  other->SetRoot(root);
  auto* knee = Named<TJointDef>("Knee", static_cast<TCustomDef*>(other));
  knee->SetParent(root);
  root->AddJoint(knee);

  struct TCase {
    const char* Id;
    TCustomDef* Expected;
  };
  const TCase cases[] = {
      {"Shared", shared},  // the tree before the animation
      {"#Wheel", wheel},   // only the tree knows "#" ...
      {"wheel", wheel},    // ... and ignores case
      {"Walk", walk},
      {"walk", nullptr},   // animations compare exactly
      {"Rig", ctrl},       // the controller before the armature
      {"#rig", ctrl},
      {"Body", other},
      {"Hip", root},
      {"Knee", knee},
      {"knee", nullptr},
      {"none", nullptr},
  };
  for (const TCase& c : cases) EXPECT_EQ(model->FindDefById(c.Id), c.Expected) << c.Id;
  // The joint's own armature first, then the armature whose root it is.
  auto* elsewhere = Named<TArmatureDef>("Elsewhere", static_cast<TCustomDef*>(nullptr));
  auto* borrowedRoot = Named<TJointDef>("Borrowed", static_cast<TCustomDef*>(elsewhere));
  elsewhere->SetRoot(borrowedRoot);  // an armature outside the model
  auto* looseRoot = Named<TJointDef>("Loose", static_cast<TCustomDef*>(model.get()));  // owner not an armature
  auto* orphan = Named<TJointDef>("Orphan", static_cast<TCustomDef*>(nullptr));
  auto* orphanArmature = Named<TArmatureDef>("OrphanRig", static_cast<TCustomDef*>(model.get()));
  model->AddArmature(orphanArmature);
  orphanArmature->SetRoot(orphan);
  TOwned<TJointDef> keepLoose(looseRoot);
  TOwned<TArmatureDef> keepElsewhere(elsewhere);
  const struct {
    const TJointDef* Joint;
    const TArmatureDef* Expected;
  } skeletons[] = {
      {nullptr, nullptr},
      {root, other},
      {knee, other},  // not a root: its own armature
      {borrowedRoot, elsewhere},
      {orphan, orphanArmature},  // knows no armature: the one whose root it is
      {looseRoot, nullptr},
  };
  for (const auto& c : skeletons)
    EXPECT_EQ(model->GetArmatureBySkeleton(c.Joint), c.Expected) << (c.Joint ? c.Joint->GetId() : "nil");
  EXPECT_EQ(armature->FindJointById("Hip"), nullptr);
  EXPECT_EQ(other->FindJointById("Knee"), knee);
}

TBehaviourRefDef* RefTo(const std::string& AId, TBehaviourDef* AReference = nullptr) {
  auto* ref = Named<TBehaviourRefDef>(AId);
  ref->SetReference(AReference);
  return ref;
}

TEST(DefTypesModelRegistry, BehavioursAreFoundAndRemovedByTheReferencesId) {
  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  TMaterialBehaviourDef* a = model->AddNewMaterialBehaviour();
  a->SetId("a");
  TMaterialBehaviourDef* b = model->AddNewMaterialBehaviour();
  b->SetId("b");
  TMaterialBehaviourDef* twin = model->AddNewMaterialBehaviour();
  twin->SetId("b");
  TOwned<TBehaviourRefDef> refA(RefTo("a")), refB(RefTo("b", a)), refUpper(RefTo("B")), refNone(RefTo("x", a));
  const struct {
    TBehaviourRefDef* Ref;
    TBehaviourDef* Expected;
  } lookups[] = {
      {nullptr, nullptr},
      {refA.get(), a},
      {refB.get(), b},  // by id, not by what the reference points to; the first of two
      {refUpper.get(), nullptr},  // ids compare exactly
      {refNone.get(), nullptr},
  };
  for (const auto& c : lookups) EXPECT_EQ(model->GetBehaviour(c.Ref), c.Expected) << (c.Ref ? c.Ref->GetId() : "nil");

  // A material that shows a behaviour loses the link when the behaviour goes, and keeps the id.
  TMaterialDef* material = New<TMaterialDef>(model.get(), "M");
  TBehaviourRefDef* shown = material->AddMaterialBehaviourRef("Glow", b);
  const struct {
    TBehaviourRefDef* Ref;
    std::vector<TBehaviourDef*> Left;
  } removals[] = {
      {nullptr, {a, b, twin}},
      {refNone.get(), {a, b, twin}},
      {refUpper.get(), {a, b, twin}},
      {refB.get(), {a, twin}},  // the first "b" only, freed (ASan)
      {refB.get(), {a}},
      {refB.get(), {a}},
  };
  for (const auto& c : removals) {
    model->RemoveBehaviour(c.Ref);
    const std::vector<TBehaviourDef*> left(model->GetBehaviours()->begin(), model->GetBehaviours()->end());
    EXPECT_EQ(left, c.Left) << (c.Ref ? c.Ref->GetId() : "nil");
  }
  EXPECT_EQ(shown->GetReference(), nullptr);
  EXPECT_EQ(shown->GetId(), "b");
  EXPECT_EQ(TakeText(material->ToJSON()).find(R"("Reference":"b")"), std::string::npos);

  // The list owns its items: the same behaviour is listed once, so it is freed once.
  model->AddBehaviour(a);
  model->AddBehaviour(nullptr);
  EXPECT_EQ(model->GetBehaviours()->Count(), 1);
  material->AddMaterialBehaviourRef("Spin", a);
  model->ClearBehaviours();
  EXPECT_EQ(material->GetMaterialBehaviourRef("a")->GetReference(), nullptr);
}

TEST(DefTypesModelRegistry, ControllersAreNumberedAndFoundWithTheirMessages) {
  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  TTransformDef* body = AddNode(model.get(), "Body");
  TTransformDef* loose = AddNode(model.get(), "Loose");
  EXPECT_EQ(MessageOf([&] { model->FindControllerByTransform(body, true); }),
            "controller for transform \"Body\" not found");  // no list yet
  EXPECT_EQ(model->FindControllerById("#a", false), nullptr);
  TControllerDef* made[3];
  for (int i = 0; i < 3; ++i) {
    made[i] = Named<TControllerDef>(std::string(1, char('a' + i)), i == 1 ? body : static_cast<TTransformDef*>(nullptr));
    EXPECT_EQ(made[i]->GetIndex(), -1);
    model->AddController(made[i]);
    EXPECT_EQ(made[i]->GetIndex(), i);
  }
  EXPECT_EQ(model->FindControllerById("#B", true), made[1]);
  EXPECT_EQ(model->FindControllerById("C", true), made[2]);
  EXPECT_EQ(model->FindControllerById("##b", false), nullptr);
  EXPECT_EQ(MessageOf([&] { model->FindControllerById("#x", true); }), "controller with id \"#x\" not found");
  EXPECT_EQ(model->FindControllerByTransform(body, true), made[1]);
  EXPECT_EQ(MessageOf([&] { model->FindControllerByTransform(loose, true); }),
            "controller for mesh \"Loose\" not found");
  EXPECT_EQ(model->FindControllerByTransform(loose, false), nullptr);
  std::unique_ptr<TJSONObject> json(made[1]->ToJSON());
  EXPECT_EQ(json->ToJSON(), R"({"Type":"Quorvel.DefTypes.TControllerDef","Id":"b","Target":"Body","Skin":null})");
}

TEST(DefTypesModelRegistry, SizeCountsControllersAndAnimations) {
  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  const int64_t empty = model->GetSize();
  TAnimationDef* a = model->AddEmptyAnimation("ab");
  model->AddController(Named<TControllerDef>("c", static_cast<TTransformDef*>(nullptr)));
  EXPECT_EQ(model->GetSize() - empty, int64_t(sizeof(TModelDef::TAnimationList)) + a->GetSize() +
                                          int64_t(sizeof(TModelDef::TControllerList)) +
                                          model->GetControllers()->Items(0)->GetSize());
}

TEST(DefTypesModelRegistry, ModelWideNormalsReachEveryChildMeshButNotTheModel) {
  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  auto makeTriangle = [](TMeshDef* AMesh) {
    AMesh->CreateVertexSource(TVertexFormats{TVertexFormat::Vertex, TVertexFormat::Normal, TVertexFormat::TexCoord0,
                                             TVertexFormat::BiNormal, TVertexFormat::Tangent});
    AMesh->CreateIndexSource(TIndexFormat::UInt32);
    TVertexBuffer* vb = AMesh->GetVertexSource();
    vb->SetLength(3);
    vb->SetVertices(1, TPoint3D(1, 0, 0));
    vb->SetVertices(2, TPoint3D(0, 1, 0));
    vb->SetTexCoord0(1, TPointF(1, 0));
    vb->SetTexCoord0(2, TPointF(0, 1));
    TIndexBuffer* ib = AMesh->GetIndexSource();
    ib->SetLength(3);
    for (int i = 0; i < 3; ++i) ib->SetIndices(i, uint32_t(i));
  };
  makeTriangle(model.get());
  auto* child = New<TMeshDef>(model.get());
  makeTriangle(child);
  model->AddMesh(child);
  auto* grandchild = New<TMeshDef>(child);
  makeTriangle(grandchild);
  child->AddMesh(grandchild);

  model->CalcSmoothNormals(TMeshDefCalculateNormalMethod::cnmFastest, 0.001f);
  model->CalcTangentBinormals();
  for (TMeshDef* mesh : {static_cast<TMeshDef*>(child), grandchild}) {
    EXPECT_EQ(mesh->GetVertexSource()->GetNormals(0), TPoint3D(0, 0, -1));
    EXPECT_EQ(mesh->GetVertexSource()->GetTangents(0), TPoint3D(1, 0, 0));
  }
  EXPECT_EQ(model->GetVertexSource()->GetNormals(0), TPoint3D(0, 0, 0));
  EXPECT_EQ(model->GetVertexSource()->GetTangents(0), TPoint3D(0, 0, 0));
  model->CalcFaceNormals(true);
  EXPECT_EQ(grandchild->GetFaceNormals().size(), 1u);
  EXPECT_TRUE(model->GetFaceNormals().empty());
}

TQuorvelTextureAsset* TextureAsset(const std::string& AOriginal) {
  auto* asset = New<TQuorvelTextureAsset>(nullptr);
  asset->ImportFromStream(AOriginal, nullptr, {});
  return asset;
}

TEST(DefTypesModelRegistry, TextureAssetsAreFoundBySameObjectThenPathThenName) {
  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  TOwned<TQuorvelTextureAsset> wood(TextureAsset(R"(C:\tex\wood.png)"));
  TOwned<TQuorvelTextureAsset> stone(TextureAsset("D:/other/stone.png"));
  model->RegisterTextureAsset(wood.get());
  model->RegisterTextureAsset(stone.get());
  model->RegisterTextureAsset(wood.get());  // exists: not twice
  model->RegisterTextureAsset(nullptr);
  EXPECT_EQ(model->GetTextureAssets().size(), 2u);
  TOwned<TObject> notAnAsset(New<TObject>());
  EXPECT_THROW(model->RegisterTextureAsset(notAnAsset.get()), EInvalidCast);

  struct TCase {
    const char* Original;
    TQuorvelTextureAsset* Found;
    bool Exists;
  };
  const TCase cases[] = {
      {"C:/tex/wood.png", wood.get(), true},    // same path in other separators; exact test by name
      {R"(C:\\tex\\wood.png)", wood.get(), true},  // doubled separators count once
      {"E:/elsewhere/wood.png", wood.get(), true},  // the file name
      {R"(C:\tex\Wood.png)", nullptr, false},  // case counts
      {"stone.png", stone.get(), true},
      {"brick.png", nullptr, false},
  };
  for (const TCase& c : cases) {
    TOwned<TQuorvelTextureAsset> probe(TextureAsset(c.Original));
    EXPECT_EQ(model->TryGetTextureAsset(probe.get()), c.Found) << c.Original;
    EXPECT_EQ(model->TextureAssetExists(probe.get()), c.Exists) << c.Original;
  }
  EXPECT_EQ(model->TryGetTextureAsset(notAnAsset.get()), nullptr);
  model->ClearTextureAssets();  // none standalone: both stay the test's
  EXPECT_TRUE(model->GetTextureAssets().empty());
}

TEST(DefTypesModelRegistry, FreeingTheModelFreesStandaloneAssetsOnly) {
  TOwned<TQuorvelAssetsPackage> package(New<TQuorvelAssetsPackage>());
  auto* inPackage = package->GetGroup(1)->AddEmptyAsset(TGUID::NewGuid())->As<TQuorvelTextureAsset>();
  inPackage->ImportFromStream("pkg.png", nullptr, {});
  {
    TOwned<TModelDef> model(New<TModelDef>(nullptr, package.get()));
    model->RegisterTextureAsset(inPackage);
    auto* standalone = New<TQuorvelTextureAsset>(nullptr);
    standalone->ImportFromCachedBitmap("own.png", New<TBitmap>(1, 1));
    model->RegisterTextureAsset(standalone);
  }  // ASan reports a leak of the standalone asset or a free of the package's
  EXPECT_EQ(package->GetGroup(1)->GetAsset(0), inPackage);
  EXPECT_EQ(inPackage->GetFilename(), "pkg.png");
}

TEST(DefTypesModelRegistry, ClearedStandaloneAssetsAreLetGoByTheTexturesThatOwnedThem) {
  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  TMaterialDef* material = New<TMaterialDef>(model.get(), "M");
  auto* texture = New<TTextureDef>(material, TColorChannelDef::Diffuse);
  material->AddTexture(texture);
  texture->SetIsAssetOwner(true);
  auto* owned = New<TQuorvelTextureAsset>(nullptr);
  owned->ImportFromStream("own.png", nullptr, {});
  texture->SetAssetRef(owned);  // stand-alone now: the model frees it
  TOwned<TQuorvelTextureAsset> shared(TextureAsset("shared.png"));
  TTextureDef* borrower = material->AddTexture(TColorChannelDef::Normal, shared.get(), false);
  ASSERT_TRUE(owned->GetIsStandalone());
  ASSERT_EQ(model->GetTextureAssets().size(), 2u);

  model->ClearTextureAssets();
  EXPECT_TRUE(model->GetTextureAssets().empty());
  EXPECT_EQ(texture->GetAssetRef(), nullptr);
  EXPECT_EQ(borrower->GetAssetRef(), shared.get());  // not stand-alone: untouched
  material->ClearTextures();  // the owner frees nothing more (ASan)
  EXPECT_EQ(shared->GetFilename(), "shared.png");
}

TAlphaColor PixelOf(TBitmap* ABitmap) {
  TBitmapData data;
  EXPECT_TRUE(ABitmap->Map(TMapAccess::Read, data));
  const TAlphaColor c = data.GetPixel(0, 0);
  ABitmap->Unmap(data);
  return c;
}

TEST(DefTypesModelRegistry, BitmapCacheRoundTripKeepsThePixels) {
  TOwned<TModelDef> source(New<TModelDef>(nullptr, nullptr));
  auto* bitmap = New<TBitmap>(2, 2);
  bitmap->Clear(claTeal);
  auto* asset = New<TQuorvelTextureAsset>(nullptr);
  asset->ImportFromCachedBitmap(R"(C:\tex\teal.png)", bitmap);
  source->RegisterTextureAsset(asset);

  TOwned<TModelDef> target(New<TModelDef>(nullptr, nullptr));
  {
    TOwned<TQuorvelBitmapCache> cache(New<TQuorvelBitmapCache>());
    cache->AddEntry();  // cleared by the request
    source->RequestBitmapCache(cache.get());
    ASSERT_EQ(cache->Count(), 1);
    EXPECT_TRUE(cache->GetEntry(0)->GetIsOnlyRef());
    EXPECT_EQ(cache->GetEntry(0)->GetBitmap(), bitmap);
    EXPECT_EQ(cache->GetEntry(0)->GetFilename(), R"(C:\tex\teal.png)");
    // A reference entry cannot hand over a bitmap it does not own: the new asset gets a copy.
    target->ApplyBitmapCache(cache.get());

    // An owning entry hands its bitmap over and becomes a reference.
    TQuorvelBitmapCacheEntry* owned = cache->AddEntry();
    owned->SetFilename("red.png");
    owned->GetBitmap()->SetSize(1, 1);
    owned->GetBitmap()->Clear(claRed);
    TBitmap* handed = owned->GetBitmap();
    TOwned<TModelDef> third(New<TModelDef>(nullptr, nullptr));
    third->ApplyBitmapCache(cache.get());
    EXPECT_TRUE(owned->GetIsOnlyRef());
    ASSERT_EQ(third->GetTextureAssets().size(), 2u);
    EXPECT_EQ(third->GetTextureAssets()[1]->GetBitmap(), handed);
  }  // the cache goes; the assets keep their bitmaps
  ASSERT_EQ(target->GetTextureAssets().size(), 1u);
  TQuorvelTextureAsset* copy = target->GetTextureAssets()[0];
  EXPECT_TRUE(copy->GetIsStandalone());
  EXPECT_EQ(copy->GetFilename(), "teal.png");
  EXPECT_EQ(copy->GetExtension(), ".png");
  EXPECT_EQ(PixelOf(copy->GetBitmap()), claTeal);
  source.reset();  // frees the original bitmap; the copy stays
  EXPECT_EQ(PixelOf(copy->GetBitmap()), claTeal);
  source.reset();
  target->RequestBitmapCache(nullptr);
  target->ApplyBitmapCache(nullptr);
}

}  // namespace
}  // namespace quorvel
