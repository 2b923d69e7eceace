// Meshes, their instances and listings, vertex groups, and models built from definitions made
// in code.
#include <gtest/gtest.h>

#include <functional>

#include "framework/classes/FormText.h"
#include "lib/animation/Animation.h"
#include "lib/defs/DefTypesMaterial.h"
#include "lib/defs/DefTypesMesh.h"
#include "lib/defs/DefTypesModel.h"
#include "lib/materials/MaterialDefault.h"
#include "lib/materials/MaterialLambert.h"
#include "lib/passes/ControllerPassesEnvironment.h"
#include "lib/scene/Model.h"
#include "lib/scene/Plane.h"
#include "lib/scene/Segment.h"

namespace quorvel {
namespace {

void ExpectMatrixNear(const TMatrix3D& a, const TMatrix3D& b, const std::string& what) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(a.Get(r, c), b.Get(r, c), 1e-5) << what << " [" << r << "," << c << "]";
}

// A triangle mesh definition with positions only given.
TMeshDef* AddTriangleMesh(TTransformDef* AParent, const std::string& AId, const std::vector<TPoint3D>& APoints) {
  auto* mesh = New<TMeshDef>(AParent);
  mesh->SetId(AId);
  mesh->CreateVertexSource(VertexFormatsFromMask(DefaultMeshVertexFormatMask));
  TVertexBuffer vb(VertexFormatsFromMask(DefaultMeshVertexFormatMask), int32_t(APoints.size()));
  for (size_t i = 0; i < APoints.size(); ++i) vb.SetVertices(int32_t(i), APoints[i]);
  mesh->SetVertices(&vb);
  std::vector<uint32_t> idx;
  for (uint32_t i = 0; i < APoints.size(); ++i) idx.push_back(i);
  mesh->AddIndices(idx, 0, int32_t(idx.size()), 0);
  if (AParent) AParent->AddChild(mesh);
  return mesh;
}

const std::vector<TPoint3D> kQuad = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};

// ---- instances ------------------------------------------------------------------------------

TEST(MeshInstances, CacheRulesOfAddAndDelete) {
  const TMatrix3D M1 = TMatrix3D::CreateTranslation({1, 2, 3});
  const TMatrix3D M2 = TMatrix3D::CreateScaling({2, 2, 2});
  const TMatrix3D B = TMatrix3D::CreateTranslation({9, 9, 9});
  TOwned<TQuorvelMesh> mesh(New<TQuorvelMesh>(nullptr));
  TQuorvelMeshInstances* inst = mesh->GetInstances();
  EXPECT_EQ(inst->GetCachedInstancesCount(), 1);
  EXPECT_EQ(mesh->AddInstance(M1), 1);
  EXPECT_EQ(mesh->AddInstance(M2), 2);
  ASSERT_EQ(inst->GetCachedInstancesCount(), 3);
  ExpectMatrixNear(mesh->GetInstance(2), M2, "cache-only");
  struct Case {
    int32_t Index;
    bool Result;
    std::vector<TMatrix3D> Cache;
  } cases[] = {
      {0, true, {TMatrix3D::Identity(), M1, M2}},
      {1, true, {B, M2}},
      {2, true, {B, M1}},
      {-1, false, {B, M1, M2}},
      {3, false, {B, M1, M2}},
  };
  for (const Case& c : cases) {
    TOwned<TQuorvelMesh> m(New<TQuorvelMesh>(nullptr));
    m->AddInstance(M1);
    m->AddInstance(M2);
    m->SetInstance(0, B);
    EXPECT_EQ(m->DeleteInstance(c.Index), c.Result) << c.Index;
    const auto& cache = m->GetInstances()->GetCachedInstances();
    ASSERT_EQ(cache.size(), c.Cache.size()) << c.Index;
    for (size_t i = 0; i < cache.size(); ++i) ExpectMatrixNear(cache[i], c.Cache[i], "delete " + std::to_string(c.Index));
  }
  // An item rebuilds the cache from the items: the cache-only matrices are gone.
  EXPECT_EQ(mesh->AddInstanceItem("one", M1), 0);
  ASSERT_EQ(inst->GetCachedInstancesCount(), 2);
  ExpectMatrixNear(mesh->GetInstance(1), M1, "item");
  mesh->AddInstanceItem("two", M2);
  EXPECT_TRUE(mesh->DeleteInstance(0));
  ASSERT_EQ(inst->GetCachedInstancesCount(), 2);
  ExpectMatrixNear(mesh->GetInstance(1), M2, "after deleting the first item");
  EXPECT_FALSE(mesh->DeleteInstance(1));
  try {
    mesh->GetInstance(5);
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "failed to get instance transformation - invalid instance index");
  }
  try {
    mesh->SetInstance(-1, M1);
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "failed to set instance transformation - invalid instance index");
  }
}

TEST(MeshInstances, RotationAccumulatesWithWrappedDeltas) {
  TOwned<TQuorvelMesh> mesh(New<TQuorvelMesh>(nullptr));
  TQuorvelMeshInstance* item = mesh->AddInstanceItem("i");
  item->GetRotationAngle()->SetX(90);
  EXPECT_EQ(item->GetRotationAngle()->GetX(), 90);
  // Row vectors: (0, 1, 0) turned by +90 about X is (0, 0, 1).
  const TPoint3D turned = TPoint3D(0, 1, 0) * item->GetTransform();
  EXPECT_NEAR(turned.Z, 1, 1e-5);
  const TMatrix3D at90 = item->GetTransform();
  item->GetRotationAngle()->SetX(450);
  EXPECT_EQ(item->GetRotationAngle()->GetX(), 450);
  ExpectMatrixNear(item->GetTransform(), at90, "450 turns nothing more");
  ExpectMatrixNear(mesh->GetInstance(1), at90, "cache follows the item");

  TQuorvelMeshInstance* ten = mesh->AddInstanceItem("ten");
  ten->GetRotationAngle()->SetX(370);
  EXPECT_FLOAT_EQ(ten->GetRotationAngle()->GetX(), 10);
  ExpectMatrixNear(ten->GetTransform(), TMatrix3D::CreateRotation({1, 0, 0}, 10 * float(M_PI) / 180), "370");

  TQuorvelMeshInstance* xy = mesh->AddInstanceItem("xy");
  xy->GetRotationAngle()->SetX(90);
  xy->GetRotationAngle()->SetY(90);
  TQuorvelMeshInstance* yx = mesh->AddInstanceItem("yx");
  yx->GetRotationAngle()->SetY(90);
  yx->GetRotationAngle()->SetX(90);
  const TPoint3D a = TPoint3D(1, 0, 0) * xy->GetTransform(), b = TPoint3D(1, 0, 0) * yx->GetTransform();
  EXPECT_GT((a - b).Length(), 0.5f);

  xy->GetPosition()->SetPoint({1, 2, 3});
  xy->GetScale()->SetPoint({2, 2, 2});
  xy->ResetRotationAngle();
  ExpectMatrixNear(xy->GetTransform(), TMatrix3D::CreateScaling({2, 2, 2}) * TMatrix3D::CreateTranslation({1, 2, 3}),
                   "reset leaves scale x translation");
  TQuorvelMeshInstance* tiny = mesh->AddInstanceItem("tiny");
  tiny->GetPosition()->SetPoint({0.0005f, -0.001f, 0});
  ExpectMatrixNear(tiny->GetTransform(), TMatrix3D::Identity(), "positions within 0.001 of 0");
}

// ---- mesh -------------------------------------------------------------------------------------

TEST(Mesh, NewMeshDefaultsAndOpacityRule) {
  TOwned<TQuorvelMesh> mesh(New<TQuorvelMesh>(nullptr));
  EXPECT_EQ(mesh->GetWrapMode(), TMeshWrapMode::Original);
  EXPECT_EQ(mesh->GetNormalsColor(), MakeAlphaColor(0xFFFF0000));
  EXPECT_TRUE(mesh->GetMeshes().empty());
  EXPECT_EQ(mesh->GetMeshData()->GetVertexBuffer()->Format(),
            VertexFormatsFromMask(DefaultMeshVertexFormatMask));
  auto* sub = New<TQuorvelMesh>(mesh.get());
  sub->SetParent(mesh.get());
  sub->SetParent(mesh.get());
  sub->RegisterWithParentMesh();
  ASSERT_EQ(mesh->GetMeshes().size(), 1u);
  mesh->SetOpacityValue(1.0f);
  EXPECT_FALSE(mesh->GetOpaque());
  EXPECT_EQ(mesh->GetOpacity(), 1.0f);
  mesh->SetOpacityValue(1.5f);
  EXPECT_TRUE(mesh->GetOpaque());
  EXPECT_EQ(mesh->GetOpacity(), 1.0f);
  EXPECT_TRUE(sub->GetOpaque());
  mesh->SetOpacityValue(0.25f);
  EXPECT_EQ(sub->GetOpacity(), 0.25f);
  sub->SetParent(nullptr);
  EXPECT_TRUE(mesh->GetMeshes().empty());
  sub->SetParent(mesh.get());
}

TEST(Mesh, MeshMatrixPerWrapMode) {
  TOwned<TQuorvelMesh> mesh(New<TQuorvelMesh>(nullptr));
  TVertexBuffer* vb = mesh->GetMeshData()->GetVertexBuffer();
  vb->SetLength(2);
  vb->SetVertices(0, {0, 0, 0});
  vb->SetVertices(1, {4, 2, 0});
  mesh->GetMeshData()->BoundingBoxNeedsUpdate();
  mesh->SetWidth(2);
  mesh->SetHeight(2);
  mesh->SetDepth(2);
  ExpectMatrixNear(mesh->GetMeshMatrix(), TMatrix3D::CreateScaling({2, 2, 2}), "Original");
  mesh->SetWrapMode(TMeshWrapMode::Resize);
  ExpectMatrixNear(mesh->GetMeshMatrix(), TMatrix3D::Identity(), "Resize");
  mesh->SetWidth(1);
  mesh->SetHeight(1);
  mesh->SetDepth(1);
  mesh->SetWrapMode(TMeshWrapMode::Stretch);
  const TMatrix3D m = mesh->GetMeshMatrix();
  ExpectMatrixNear(m, TMatrix3D::CreateScaling({0.25f, 0.5f, 1}) * TMatrix3D::CreateTranslation({-0.5f, -0.5f, -0.5f}),
                   "Stretch");
  const TPoint3D lo = TPoint3D(0, 0, 0) * m;
  EXPECT_NEAR(lo.X, -0.5f, 1e-6);
  mesh->SetWrapMode(TMeshWrapMode::Fit);
  const TPoint3D corner = TPoint3D(4, 2, 0) * mesh->GetMeshMatrix();
  EXPECT_NEAR(corner.X, 0.5f, 1e-5);  // the long side fills the unit box
}

TEST(Mesh, RayCastAgreesWithBruteForceAndMissesLeaveDefaults) {
  TOwned<TQuorvelMesh> mesh(New<TQuorvelMesh>(nullptr));
  TVertexBuffer* vb = mesh->GetMeshData()->GetVertexBuffer();
  vb->SetLength(6);
  for (int i = 0; i < 6; ++i) vb->SetVertices(i, kQuad[size_t(i)]);
  TIndexBuffer* ib = mesh->GetMeshData()->GetIndexBuffer();
  ib->SetLength(6);
  for (int i = 0; i < 6; ++i) ib->SetIndices(i, uint32_t(i));
  TPoint3D hit, normal;
  EXPECT_TRUE(mesh->RayCastIntersect({0.25f, 0.75f, 5}, {0, 0, -1}, hit, normal));
  EXPECT_NEAR(hit.X, 0.25f, 1e-5);
  EXPECT_NEAR(hit.Z, 0, 1e-5);
  EXPECT_NEAR(normal.Z, 1, 1e-5);  // toward the ray's origin
  EXPECT_FALSE(mesh->RayCastIntersect({5, 5, 5}, {0, 0, -1}, hit, normal));
  EXPECT_EQ(hit, TPoint3D(0, 0, 0));
  EXPECT_EQ(normal, TPoint3D(0, -1, 0));
}

TEST(Mesh, CoordinatesOutsideTheBufferRaiseInsteadOfWriting) {
  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  AddTriangleMesh(model.get(), "Tri", {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
  TOwned<TQuorvelModel> m(New<TQuorvelModel>(nullptr));
  m->LoadFromDefinition(model.get());
  TQuorvelMesh* tri = m->GetMeshes().at(0);
  tri->SetCoordinates({{5, 5, 5}});
  EXPECT_EQ(tri->GetCoordinates().at(0), TPoint3D(5, 5, 5));
  try {
    tri->SetCoordinates({{1, 1, 1}, {1, 1, 1}, {1, 1, 1}, {9, 9, 9}});
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "failed to set vertices in mesh - invalid index");
  }
  EXPECT_EQ(tri->GetCoordinates().size(), 3u);
  try {
    tri->SetVertices({{7, TVertexData{}}});
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "failed to set vertices in mesh - invalid index");
  }
}

// ---- model ------------------------------------------------------------------------------------

TEST(Model, NewModel) {
  TOwned<TQuorvelModel> model(New<TQuorvelModel>(nullptr));
  EXPECT_EQ(model->GetChildrenCount(), 0);
  ASSERT_NE(model->GetAnimationManager(), nullptr);
  EXPECT_EQ(model->GetAnimationManager()->AnimationCount(), 0);
  EXPECT_FALSE(model->GetWireframe());
  EXPECT_FALSE(model->GetHitTest());
  ASSERT_NE(model->GetWireframeMaterial(), nullptr);
}

TEST(Model, BuildsNamesAndCountsCopiesOfADefinitionMadeInCode) {
  TOwned<TModelDef> def(New<TModelDef>(nullptr, nullptr));
  def->SetId("Robot");
  TMeshDef* body = AddTriangleMesh(def.get(), "Body", kQuad);
  body->SetTransform(TMatrix3D::CreateTranslation({0, 1, 0}));
  auto* group = New<TVertexGroupDef>(body);
  group->SetId("Top");
  group->AddIndices(std::vector<uint32_t>{2, 1, 0}, 0, 3, 0);
  body->AddMesh(group);
  auto* group2 = New<TVertexGroupDef>(body);
  group2->SetId("Bottom");
  group2->AddIndices(std::vector<uint32_t>{3, 4, 5, 0, 1, 2}, 0, 6, 0);
  body->AddMesh(group2);
  auto* seg = New<TSegmentDef>(def.get());
  seg->SetId("Arm");
  def->AddChild(seg);
  auto* inst = New<TMeshInstanceDef>(body);
  inst->SetId("Twin");
  inst->SetPosition({3, 0, 0});
  inst->SetScale({1, 1, 1});
  body->GetInstances()->Add(inst);

  TOwned<TComponent> owner(New<TComponent>(nullptr));
  auto* model = New<TQuorvelModel>(owner.get());
  model->LoadFromDefinition(def.get());
  EXPECT_EQ(model->GetName(), "Robot");
  ASSERT_EQ(model->GetMeshes().size(), 1u);
  TQuorvelMesh* mesh = model->GetMeshes()[0];
  EXPECT_EQ(mesh->GetName(), "Body");
  EXPECT_EQ(mesh->GetParent(), model);
  EXPECT_FALSE(mesh->GetStored());
  EXPECT_NEAR(mesh->GetPosition()->GetY(), 1, 1e-6);
  EXPECT_EQ(mesh->GetMeshData()->GetVertexBuffer()->Length(), 6);
  ASSERT_EQ(mesh->GetMeshes().size(), 2u);
  for (TQuorvelMesh* g : mesh->GetMeshes()) {
    ASSERT_TRUE(g->InheritsFrom(TQuorvelVertexGroup::StaticClass()));
    // The parent's vertices, shared, not copied.
    EXPECT_EQ(g->GetMeshData()->GetVertexBuffer(), mesh->GetMeshData()->GetVertexBuffer());
  }
  EXPECT_EQ(mesh->GetMeshes()[0]->GetMeshData()->GetIndexBuffer()->Length(), 3);
  EXPECT_EQ(mesh->GetMeshes()[1]->GetMeshData()->GetIndexBuffer()->Length(), 6);
  ASSERT_EQ(mesh->GetInstances()->Count(), 1);
  EXPECT_EQ(mesh->GetInstances()->Items<TQuorvelMeshInstance>(0)->GetDisplayName(), "Twin");
  ExpectMatrixNear(mesh->GetInstance(1), TMatrix3D::CreateTranslation({3, 0, 0}), "instance");
  // Sub-meshes share the instance cache of the top mesh.
  EXPECT_EQ(mesh->GetMeshes()[0]->GetInstances()->GetCachedInstancesCount(), 2);
  EXPECT_EQ(mesh->GetMeshCollection()->Count(), 2);

  // A second model from the same definition: "_Copy1", and the copy count is 2.
  auto* second = New<TQuorvelModel>(owner.get());
  second->LoadFromDefinition(def.get());
  EXPECT_EQ(second->GetMeshes().at(0)->GetName(), "Body_Copy1");
  EXPECT_EQ(body->GetCopyCount(), 2);
  // Freeing the models frees each vertex buffer once and leaves the definition to its caller.
  Free(model);
  Free(second);
  EXPECT_EQ(def->GetChildren()->Count(), 2);
}

TEST(Model, ClearAndDestroyWithMeshesUnderSegmentsAndLoadingTwice) {
  auto makeDef = [] {
    auto* def = New<TModelDef>(nullptr, nullptr);
    def->SetId("Rig");
    auto* seg = New<TSegmentDef>(def);
    seg->SetId("Hip");
    def->AddChild(seg);
    AddTriangleMesh(seg, "Leg", kQuad);
    return def;
  };
  TOwned<TModelDef> callers(makeDef());
  TOwned<TQuorvelModel> model(New<TQuorvelModel>(nullptr));
  model->LoadFromDefinition(callers.get());
  // The leg hangs under its segment, in no Meshes list of the model.
  ASSERT_EQ(model->GetChildrenCount(), 1);
  auto* hip = dynamic_cast<TQuorvelSegment*>(model->GetChild(0));
  ASSERT_NE(hip, nullptr);
  ASSERT_EQ(hip->GetChildrenCount(), 1);
  auto* leg = dynamic_cast<TQuorvelMesh*>(hip->GetChild(0));
  ASSERT_NE(leg, nullptr);
  EXPECT_EQ(leg->GetName(), "Leg");
  EXPECT_EQ(leg->GetDef(), callers->GetChildren()->Items(0)->GetChildren()->Items(0));
  EXPECT_TRUE(model->GetMeshes().empty());
  // Loading again without Clear adds the children again, until a name the model registered
  // already is met: what was built stays and goes cleanly with Clear.
  try {
    model->LoadFromDefinition(callers.get());
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "control \"Hip\" already exists in Rig");
  }
  EXPECT_EQ(model->GetChildrenCount(), 2);
  model->Clear();
  EXPECT_EQ(model->GetChildrenCount(), 0);
  EXPECT_EQ(model->GetDef(), nullptr);
  EXPECT_TRUE(model->GetMeshes().empty());
  ASSERT_NE(model->GetAnimationManager(), nullptr);
  // Only the animation manager is left among the owned components.
  EXPECT_EQ(model->GetComponentCount(), 1);
  // The caller's definition survives Clear and the model's destruction.
  model->LoadFromDefinition(callers.get());
  model.reset();
  EXPECT_EQ(callers->GetChildren()->Count(), 1);
  EXPECT_EQ(callers->GetChildren()->Items(0)->ChildCount(), 1);
}

TEST(Model, FactoryMaterialsOpacityAndTwoFaceAndTheWrappedTodo) {
  TOwned<TModelDef> def(New<TModelDef>(nullptr, nullptr));
  TMeshDef* glass = AddTriangleMesh(def.get(), "Glass", kQuad);
  auto* material = New<TMaterialDef>(def.get(), "GlassMat");
  material->SetUseOpacity(true);
  material->SetOpacity(0.5f);
  material->SetDoubleSided(true);
  auto* ref = New<TMaterialRefDef>();
  ref->SetReference(material);
  glass->SetMaterial(ref);
  TOwned<TQuorvelModel> model(New<TQuorvelModel>(nullptr));
  model->LoadFromDefinition(def.get());
  TQuorvelMesh* mesh = model->GetMeshes().at(0);
  // The factory made the source from the definition, owned by the mesh and not stored.
  auto* made = dynamic_cast<TQuorvelLambertMaterialSource*>(mesh->GetMaterialSource());
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->GetTagObject(), material);
  EXPECT_EQ(made->GetOwner(), mesh);
  EXPECT_FALSE(made->GetStored());
  EXPECT_FALSE(mesh->GetOpaque());
  EXPECT_EQ(mesh->GetOpacity(), 0.5f);
  EXPECT_EQ(glass->GetFaceOrientation(), TFaceOrientation::TwoFace);
  EXPECT_TRUE(mesh->GetTwoSide());
  EXPECT_EQ(mesh->GetMaterials()->Count(), 1);
  // The source goes: the mesh forgets it.
  Free(made);
  EXPECT_EQ(mesh->GetMaterialSource(), nullptr);

  // A child of a kind the hierarchy cannot build.
  TOwned<TModelDef> odd(New<TModelDef>(nullptr, nullptr));
  TMeshDef* parent = AddTriangleMesh(odd.get(), "Parent", kQuad);
  auto* light = New<TLightDef>(parent);
  parent->AddChild(light);
  TOwned<TQuorvelModel> other(New<TQuorvelModel>(nullptr));
  try {
    other->LoadFromDefinition(odd.get());
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "TQuorvelMesh.LoadFromDefinition(): todo: TLightDef type not supported yet in hierarchy");
  }
}

TEST(Model, MeshAndModelKeysRoundTrip) {
  TOwned<TModelDef> def(New<TModelDef>(nullptr, nullptr));
  AddTriangleMesh(def.get(), "Part", kQuad);
  TOwned<TQuorvelModel> model(New<TQuorvelModel>(nullptr));
  model->LoadFromDefinition(def.get());
  TQuorvelMesh* mesh = model->GetMeshes().at(0);
  mesh->SetWrapMode(TMeshWrapMode::Stretch);
  mesh->SetShowNormals(true);
  mesh->SetNormalsColor(MakeAlphaColor(0xFF00FF00));
  mesh->AddInstanceItem("I1", TMatrix3D::CreateTranslation({2, 0, 0}));
  model->SetWireframe(true);
  model->CreateWireframeMaterial();  // loading without keys left none
  static_cast<TColorMaterialSource*>(model->GetWireframeMaterial())->SetColor(MakeAlphaColor(0xFF102030));

  TOwned<TMeshDef> meshOut(New<TMeshDef>(nullptr));
  mesh->StoreToDefinition(meshOut.get());
  TOwned<TModelDef> modelOut(New<TModelDef>(nullptr, nullptr));
  model->StoreToDefinition(modelOut.get());
  TValue v;
  ASSERT_TRUE(modelOut->GetProperties()->TryGetValue("WireframeMaterial", v));
  EXPECT_EQ(v.AsType<std::string>(), "Color");
  ASSERT_TRUE(modelOut->GetProperties()->TryGetValue("AnimationManager", v));

  TOwned<TQuorvelMesh> back(New<TQuorvelMesh>(nullptr));
  back->LoadFromDefinition(meshOut.get());
  EXPECT_EQ(back->GetWrapMode(), TMeshWrapMode::Stretch);
  EXPECT_TRUE(back->GetShowNormals());
  EXPECT_EQ(back->GetNormalsColor(), MakeAlphaColor(0xFF00FF00));
  ASSERT_EQ(back->GetInstances()->Count(), 1);
  ExpectMatrixNear(back->GetInstance(1), TMatrix3D::CreateTranslation({2, 0, 0}), "instance back");

  TOwned<TQuorvelModel> modelBack(New<TQuorvelModel>(nullptr));
  modelBack->LoadPropertiesFromDefinition(modelOut.get());
  EXPECT_TRUE(modelBack->GetWireframe());
  auto* color = dynamic_cast<TColorMaterialSource*>(modelBack->GetWireframeMaterial());
  ASSERT_NE(color, nullptr);
  EXPECT_EQ(color->GetColor(), MakeAlphaColor(0xFF102030));
  // Without "Wireframe" the model ends without a wireframe material.
  TOwned<TModelDef> bare(New<TModelDef>(nullptr, nullptr));
  modelBack->LoadPropertiesFromDefinition(bare.get());
  EXPECT_EQ(modelBack->GetWireframeMaterial(), nullptr);
}

TEST(Model, EmptyBinaryDataInAFormClearsTheModel) {
  TOwned<TModelDef> def(New<TModelDef>(nullptr, nullptr));
  AddTriangleMesh(def.get(), "Part", kQuad);
  TOwned<TComponent> root(New<TComponent>(nullptr));
  ReadComponentResource(root.get(),
                        "object Root: TComponent\n"
                        "  object Model1: TQuorvelModel\n"
                        "    Source = 'monkey.obj'\n"
                        "    BinaryData = {}\n"
                        "  end\n"
                        "end\n");
  auto* model = dynamic_cast<TQuorvelModel*>(root->FindComponent("Model1"));
  ASSERT_NE(model, nullptr);
  EXPECT_EQ(model->GetSource(), "monkey.obj");
  ASSERT_NE(model->GetBinaryData(), nullptr);
  EXPECT_EQ(model->GetBinaryData()->GetSize(), 0);
  EXPECT_EQ(model->GetChildrenCount(), 0);
  const std::string written = WriteComponentResource(root.get());
  EXPECT_NE(written.find("BinaryData"), std::string::npos) << written;
  EXPECT_NE(written.find("Source = 'monkey.obj'"), std::string::npos) << written;
}

TEST(Model, APlaneAndItsMaterialStreamFromAForm) {
  TOwned<TComponent> root(New<TComponent>(nullptr));
  ReadComponentResource(root.get(),
                        "object Root: TComponent\n"
                        "  object Floor: TColorMaterialSource\n"
                        "  end\n"
                        "  object Plane1: TQuorvelPlane\n"
                        "    Width = 100.000000000000000000\n"
                        "    Height = 100.000000000000000000\n"
                        "    SubdivisionsWidth = 2\n"
                        "    MaterialSource = Floor\n"
                        "  end\n"
                        "end\n");
  auto* plane = dynamic_cast<TQuorvelPlane*>(root->FindComponent("Plane1"));
  ASSERT_NE(plane, nullptr);
  EXPECT_EQ(plane->GetSubdivisionsWidth(), 2);
  EXPECT_EQ(plane->GetWidth(), 100);
  EXPECT_EQ(plane->GetMaterialSource(), root->FindComponent("Floor"));
  EXPECT_EQ(plane->GetMeshDef()->GetVertexSource()->Length(), 12);
  const std::string written = WriteComponentResource(root.get());
  EXPECT_NE(written.find("SubdivisionsWidth = 2"), std::string::npos) << written;
  EXPECT_NE(written.find("MaterialSource = Floor"), std::string::npos) << written;
}

TEST(AnimationManager, DictionaryCurrentAndPlay) {
  TOwned<TQuorvelAnimationManager> manager(New<TQuorvelAnimationManager>(nullptr));
  EXPECT_EQ(manager->GetCurrent(), nullptr);
  TQuorvelAnimation* a = TQuorvelAnimation::CreateEx(manager.get());
  TQuorvelAnimation* b = TQuorvelAnimation::CreateEx(manager.get());
  EXPECT_EQ(manager->AddAnimation("walk", a), nullptr);
  EXPECT_EQ(manager->AddAnimation("run", b), nullptr);
  TQuorvelAnimation* extra = TQuorvelAnimation::CreateEx(manager.get());
  EXPECT_EQ(manager->AddAnimation("walk", extra), a);
  Free(extra);
  EXPECT_EQ(manager->GetCurrent(), a);  // the first one
  EXPECT_EQ(a->GetCurrentCachedFrame(nullptr), nullptr);
  EXPECT_EQ(manager->PlayAnimation("nope"), nullptr);
  EXPECT_EQ(manager->PlayAnimation("run"), b);
  EXPECT_EQ(manager->GetCurrent(), b);
  // Without a model to animate the skeleton finds nothing to drive and stays idle.
  EXPECT_FALSE(b->GetRunning());
  EXPECT_EQ(a->GetId(), "");
  manager->Clear();
  EXPECT_EQ(manager->AnimationCount(), 0);
  EXPECT_EQ(manager->GetCurrent(), nullptr);
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

TEST(MeshMaterialHelpers, EnvironmentAndPBRValuesReachEveryDefaultSourceOfTheTree) {
  TOwned<TComponent> form(New<TComponent>(nullptr));
  auto* top = New<TQuorvelMesh>(form.get());
  auto* sub = New<TQuorvelMesh>(top);
  sub->SetParent(top);
  auto* plain = New<TQuorvelMesh>(sub);  // a colour source: left alone
  plain->SetParent(sub);
  auto* topSource = New<TQuorvelDefaultMaterialSource>(form.get());
  auto* subSource = New<TQuorvelDefaultMaterialSource>(form.get());
  auto* colour = New<TColorMaterialSource>(form.get());
  top->SetMaterialSource(topSource);
  sub->SetMaterialSource(subSource);
  plain->SetMaterialSource(colour);
  auto* pass = New<TQuorvelRenderPassEnvironment>(form.get(), "Env");
  auto* other = New<TQuorvelRenderPassEnvironment>(form.get(), "Other");

  // Not a render pass: nothing anywhere.
  top->SetEnvironmentMapping(colour, 0.5f, 0.25f);
  for (auto* s : {topSource, subSource}) {
    EXPECT_FALSE(s->GetEnvironment());
    EXPECT_EQ(s->GetEnvironmentPass(), nullptr);
  }
  top->SetEnvironmentMapping(pass, 0.5f, 0.25f);
  for (auto* s : {topSource, subSource}) {
    EXPECT_TRUE(s->GetEnvironment());
    EXPECT_EQ(s->GetEnvironmentPass(), pass);
    EXPECT_FLOAT_EQ(s->GetReflectionPower(), 0.5f);
    EXPECT_FLOAT_EQ(s->GetRefractionPower(), 0.25f);
    EXPECT_FALSE(s->GetReflections());
    EXPECT_FALSE(s->GetRefractions());
  }
  // Another pass's unset leaves them; the right one resets them.
  top->UnsetEnvironmentMapping(other);
  EXPECT_EQ(subSource->GetEnvironmentPass(), pass);
  sub->UnsetEnvironmentMapping(pass);
  EXPECT_EQ(subSource->GetEnvironmentPass(), nullptr);
  EXPECT_FALSE(subSource->GetEnvironment());
  EXPECT_FLOAT_EQ(subSource->GetReflectionPower(), 0);
  EXPECT_EQ(topSource->GetEnvironmentPass(), pass) << "only the subtree it was called on";
  subSource->SetEnvironmentPass(other);
  top->UnsetAllEnvironmentMappings();
  for (auto* s : {topSource, subSource}) {
    EXPECT_EQ(s->GetEnvironmentPass(), nullptr);
    EXPECT_FALSE(s->GetEnvironment());
  }

  top->SetPBRProperties(0.1f, 0.2f, 0.3f, 0.4f, 0.5f);
  for (auto* s : {topSource, subSource}) {
    EXPECT_FLOAT_EQ(s->GetReflectionPower(), 0.1f);
    EXPECT_FLOAT_EQ(s->GetRefractionPower(), 0.2f);
    EXPECT_FLOAT_EQ(s->GetAOBias(), 0.3f);
    EXPECT_FLOAT_EQ(s->GetRoughnessBias(), 0.4f);
    EXPECT_FLOAT_EQ(s->GetMetallicBias(), 0.5f);
  }
  // The pass goes first: the source forgets it.
  top->SetEnvironmentMapping(pass, 1, 1);
  Free(pass);
  EXPECT_EQ(topSource->GetEnvironmentPass(), nullptr);
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

// Adds nothing to the shaders; only its place in the materials' lists matters here.
class TQuietBehaviour : public TQuorvelMaterialBehaviour {
public:
  using TQuorvelMaterialBehaviour::TQuorvelMaterialBehaviour;
  bool DoOnRegisterUniformBuffer(std::string&, void*&, int32_t&) override { return false; }
  void DoOnCreateShader(TQuorvelNodeBuilder*, TContextShaderKind) override {}
  void DoOnUpdateShader(TQuorvelNodeBuilder*, TContextShaderKind) override {}
  void DoOnRemoveShader(TQuorvelNodeBuilder*, TContextShaderKind) override {}
  void Apply(TMaterial*, TContext3D*, TQuorvelMaterialBehaviourItem*) override {}
};

TEST(MeshMaterialHelpers, BehavioursReachTheTreeAndTheListingFollowsThem) {
  TOwned<TComponent> form(New<TComponent>(nullptr));
  auto* top = New<TQuorvelMesh>(form.get());
  auto* sub = New<TQuorvelMesh>(top);
  sub->SetParent(top);
  auto* plain = New<TQuorvelMesh>(sub);  // a colour source: left alone
  plain->SetParent(sub);
  auto* topSource = New<TQuorvelDefaultMaterialSource>(form.get());
  auto* subSource = New<TQuorvelDefaultMaterialSource>(form.get());
  top->SetMaterialSource(topSource);
  sub->SetMaterialSource(subSource);
  plain->SetMaterialSource(New<TColorMaterialSource>(form.get()));
  auto* glow = New<TQuietBehaviour>(form.get());
  glow->SetName("Glow");
  auto* unnamed = New<TQuietBehaviour>(form.get());

  EXPECT_FALSE(top->MaterialBehaviourAttached(glow));
  sub->AttachMaterialBehaviour(glow);
  EXPECT_FALSE(topSource->MaterialBehaviourAttached(glow)) << "only the subtree it was called on";
  EXPECT_TRUE(top->MaterialBehaviourAttached(glow)) << "found below";
  top->AttachMaterialBehaviour(glow);  // attached once per source
  EXPECT_EQ(topSource->GetBehaviours()->Count(), 1);
  EXPECT_EQ(subSource->GetBehaviours()->Count(), 1);
  EXPECT_FALSE(plain->MaterialBehaviourAttached(glow));

  // The listing names each behaviour of the tree once.
  top->Loaded();
  TQuorvelMeshBehaviourCollection* listing = top->GetBehaviours();
  ASSERT_EQ(listing->Count(), 1);
  EXPECT_TRUE(listing->BehaviourExists(glow));
  auto* item = listing->GetItem(0)->As<TQuorvelMeshBehaviourCollectionItem>();
  EXPECT_EQ(item->GetDisplayName(), "Glow");
  item->SetDisplayName("ignored");
  EXPECT_EQ(item->GetDisplayName(), "Glow");

  // Setting an item's behaviour detaches the old one from the whole tree and attaches the new.
  item->SetBehaviour(unnamed);
  EXPECT_FALSE(top->MaterialBehaviourAttached(glow));
  EXPECT_TRUE(topSource->MaterialBehaviourAttached(unnamed));
  EXPECT_TRUE(subSource->MaterialBehaviourAttached(unnamed));
  EXPECT_EQ(item->GetDisplayName(), unnamed->GetUniqueID());

  // A freed behaviour leaves neither the item nor the rebuilt listing pointing at it.
  Free(unnamed);
  EXPECT_FALSE(listing->BehaviourExists(unnamed));
  for (int i = 0; i < listing->Count(); ++i)
    EXPECT_NE(listing->GetItem(i)->As<TQuorvelMeshBehaviourCollectionItem>()->GetBehaviour(), nullptr);
  top->DetachMaterialBehaviour(glow);
  EXPECT_FALSE(top->MaterialBehaviourAttached(glow));
}

}  // namespace
}  // namespace quorvel
