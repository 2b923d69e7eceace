// Copies of meshes, primitives, models, lights and cameras: each copy owns what it frees, keeps
// the source's place and shape, and either side can go first (run under the sanitizers).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "framework/gui3d/Material.h"
#include "lib/animation/Animation.h"
#include "lib/defs/DefTypesLights.h"
#include "lib/defs/DefTypesMesh.h"
#include "lib/defs/DefTypesModel.h"
#include "lib/scene/Camera.h"
#include "lib/scene/Cube.h"
#include "lib/scene/Group.h"
#include "lib/scene/Light.h"
#include "lib/scene/Model.h"
#include "lib/scene/Plane.h"
#include "lib/scene/Torus.h"

namespace quorvel {
namespace {

bool SameMatrix(const TMatrix3D& a, const TMatrix3D& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

template <class T>
T* DuplicateOf(TQuorvelControl* ASource, TComponent* AOwner) {
  auto* clone = dynamic_cast<T*>(ASource->Duplicate(AOwner));
  EXPECT_NE(clone, nullptr);
  return clone;
}

struct TPrimitiveCase {
  const char* Name;
  std::function<TQuorvelMesh*(TComponent*)> Make;  // a non-default shape
  int32_t Vertices, Indices;
};

TEST(MeshDuplication, APrimitiveCopyBuildsIntoItsOwnDefinitionAndEitherSideMayGoFirst) {
  const TPrimitiveCase cases[] = {
      {"cube (2,1,3)",
       [](TComponent* o) {
         auto* c = New<TQuorvelCube>(o);
         c->SetSubdivisionsWidth(2);
         c->SetSubdivisionsDepth(3);
         return c;
       },
       88, 132},
      {"plane (2,3)",
       [](TComponent* o) {
         auto* p = New<TQuorvelPlane>(o);
         p->SetSubdivisionsWidth(2);
         p->SetSubdivisionsHeight(3);
         return p;
       },
       24, 72},
      {"torus (4,3)",
       [](TComponent* o) {
         auto* t = New<TQuorvelTorus>(o);
         t->SetRadSegments(4);
         t->SetSides(3);
         return t;
       },
       20, 90},
  };
  for (const auto& c : cases) {
    for (bool sourceFirst : {true, false}) {
      SCOPED_TRACE(std::string(c.Name) + (sourceFirst ? ", source freed first" : ", copy freed first"));
      TOwned<TComponent> form(New<TComponent>(nullptr));
      TOwned<TComponent> target(New<TComponent>(nullptr));
      TQuorvelMesh* source = c.Make(form.get());
      source->SetName("Shape");
      TMeshDef* sourceDef = source->GetMeshDef();
      auto* copy = DuplicateOf<TQuorvelMesh>(source, target.get());
      ASSERT_NE(copy, nullptr);
      EXPECT_EQ(copy->ClassType(), source->ClassType());
      ASSERT_NE(copy->GetMeshDef(), nullptr);
      EXPECT_NE(copy->GetMeshDef(), sourceDef);
      EXPECT_TRUE(copy->GetOwnsDef());
      EXPECT_EQ(source->GetMeshDef(), sourceDef);
      EXPECT_TRUE(copy->GetIsStatic());
      EXPECT_EQ(copy->GetMeshData()->GetVertexBuffer()->Length(), 0);
      EXPECT_EQ(copy->GetMeshDef()->GetVertexSource()->Length(), c.Vertices);
      EXPECT_EQ(copy->GetMeshDef()->GetIndexSource()->Length(), c.Indices);
      EXPECT_EQ(sourceDef->GetVertexSource()->Length(), c.Vertices);
      if (sourceFirst) {
        form.reset();
        EXPECT_EQ(copy->GetMeshDef()->GetVertexSource()->Length(), c.Vertices);
      } else {
        target.reset();
        EXPECT_EQ(sourceDef->GetIndexSource()->Length(), c.Indices);
      }
    }
  }
}

TEST(MeshDuplication, TheCopyKeepsPlaceSizeAndStatesAndTheSourceIsLeftAlone) {
  TOwned<TComponent> form(New<TComponent>(nullptr));
  TOwned<TComponent> target(New<TComponent>(nullptr));
  auto* cube = New<TQuorvelCube>(form.get());
  cube->SetName("Box");
  cube->GetPosition()->SetPoint({1, 2, 3});
  cube->GetRotationAngle()->SetPoint({0, 90, 0});
  cube->GetRotationAngle()->SetX(30);  // the order of turns lives in the quaternion only
  cube->GetScale()->SetPoint({2, 1, 0.5f});
  cube->SetWidth(3);
  cube->SetOpacityValue(0.25f);
  cube->SetTwoSide(true);
  cube->SetVisible(false);
  cube->SetWrapMode(TMeshWrapMode::Stretch);
  cube->SetNormalsColor(claLime);
  cube->AddInstanceItem("Twin", TMatrix3D::CreateTranslation({5, 0, 0}));
  const TMatrix3D before = cube->GetLocalMatrix();
  const TQuaternion3D quaternion = cube->GetQuaternion();

  auto* copy = DuplicateOf<TQuorvelCube>(cube, target.get());
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->GetName(), "Box");
  EXPECT_EQ(copy->GetPosition()->GetPoint(), TPoint3D(1, 2, 3));
  EXPECT_EQ(copy->GetRotationAngle()->GetPoint(), cube->GetRotationAngle()->GetPoint());
  EXPECT_EQ(copy->GetScale()->GetPoint(), TPoint3D(2, 1, 0.5f));
  EXPECT_EQ(0, std::memcmp(&quaternion, &copy->GetQuaternion(), sizeof quaternion));
  EXPECT_TRUE(SameMatrix(copy->GetLocalMatrix(), before));
  EXPECT_TRUE(SameMatrix(cube->GetLocalMatrix(), before));
  EXPECT_FLOAT_EQ(copy->GetWidth(), 3);
  EXPECT_FALSE(copy->GetOpaque());
  EXPECT_FLOAT_EQ(copy->GetOpacity(), 0.25f);
  EXPECT_TRUE(copy->GetTwoSide());
  EXPECT_FALSE(copy->GetVisible());
  EXPECT_EQ(copy->GetWrapMode(), TMeshWrapMode::Stretch);
  EXPECT_EQ(copy->GetNormalsColor(), claLime);
  ASSERT_EQ(copy->GetInstances()->Count(), 1);
  EXPECT_TRUE(SameMatrix(copy->GetInstance(1), cube->GetInstance(1)));
  // Moving the copy leaves the source where it was.
  copy->GetPosition()->SetX(-4);
  EXPECT_TRUE(SameMatrix(cube->GetLocalMatrix(), before));
}

TEST(MeshDuplication, MaterialsSubMeshesMeshDataAndTheHelperHookBelongToTheCopy) {
  TOwned<TComponent> form(New<TComponent>(nullptr));
  TOwned<TComponent> target(New<TComponent>(nullptr));
  auto* mesh = New<TQuorvelMesh>(form.get());
  mesh->SetName("Top");
  auto* material = New<TColorMaterialSource>(mesh);  // owned by the mesh: shared, never copied
  material->SetName("Paint");
  mesh->SetMaterialSource(material);
  auto* elsewhere = New<TColorMaterialSource>(form.get());
  auto* sub = New<TQuorvelMesh>(mesh);
  sub->SetName("Sub");
  sub->SetParent(mesh);
  sub->SetMaterialSource(elsewhere);  // outside the copied tree: the copy has none
  TMeshData* data = mesh->GetMeshData();
  data->GetVertexBuffer()->SetLength(3);
  data->GetVertexBuffer()->SetVertices(2, {7, 8, 9});
  data->GetIndexBuffer()->SetLength(3);
  for (int i = 0; i < 3; ++i) data->GetIndexBuffer()->SetIndices(i, uint32_t(i));
  mesh->Loaded();
  ASSERT_EQ(mesh->GetMeshes().size(), 1u);

  auto* copy = DuplicateOf<TQuorvelMesh>(mesh, target.get());
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->GetMaterialSource(), material);
  ASSERT_EQ(copy->GetMeshes().size(), 1u);
  TQuorvelMesh* subCopy = copy->GetMeshes()[0];
  EXPECT_NE(subCopy, sub);
  EXPECT_EQ(subCopy->GetParent(), copy);
  EXPECT_EQ(subCopy->GetMaterialSource(), nullptr);
  EXPECT_EQ(copy->GetMeshCollection()->Count(), 1);
  EXPECT_EQ(copy->GetMeshData()->GetVertexBuffer()->Length(), 3);
  EXPECT_EQ(copy->GetMeshData()->GetVertexBuffer()->GetVertices(2), TPoint3D(7, 8, 9));
  EXPECT_NE(copy->GetMeshData()->GetVertexBuffer(), data->GetVertexBuffer());
  EXPECT_EQ(mesh->GetMeshes().size(), 1u) << "the source keeps its own sub-mesh list";

  // The source goes with its material: the copy forgets the material and calls its own hook.
  form.reset();
  EXPECT_EQ(copy->GetMaterialSource(), nullptr);
  copy->GetOnRender()(copy, nullptr);
}

TEST(MeshDuplication, AModelCopySharesTheLoadedDefinitionsAndTheLastModelFreesThem) {
  for (bool sourceFirst : {true, false}) {
    SCOPED_TRACE(sourceFirst ? "source freed first" : "copy freed first");
    auto* def = New<TModelDef>(nullptr, nullptr);
    def->SetId("Robot");
    auto* body = New<TMeshDef>(def);
    body->SetId("Body");
    body->CreateVertexSource(VertexFormatsFromMask(DefaultMeshVertexFormatMask));
    TVertexBuffer vb(VertexFormatsFromMask(DefaultMeshVertexFormatMask), 3);
    vb.SetVertices(1, {1, 0, 0});
    vb.SetVertices(2, {0, 1, 0});
    body->SetVertices(&vb);
    body->AddIndices(std::vector<uint32_t>{0, 1, 2}, 0, 3, 0);
    def->AddChild(body);
    auto* group = New<TVertexGroupDef>(body);
    group->SetId("Top");
    group->AddIndices(std::vector<uint32_t>{2, 1, 0}, 0, 3, 0);
    body->AddMesh(group);
    auto* lamp = New<TLightDef>(def);
    lamp->SetId("Lamp");
    def->AddLight(lamp);

    TOwned<TComponent> form(New<TComponent>(nullptr));
    TOwned<TComponent> target(New<TComponent>(nullptr));
    auto* model = New<TQuorvelModel>(form.get());
    model->LoadFromOwnedDefinition(def);
    TQuorvelAnimation* idle = TQuorvelAnimation::CreateEx(model->GetAnimationManager());
    idle->SetParent(model);
    model->GetAnimationManager()->AddAnimation("idle", idle);
    ASSERT_EQ(model->GetMeshes().size(), 1u);

    auto* copy = DuplicateOf<TQuorvelModel>(model, target.get());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->GetDef(), def);
    ASSERT_EQ(copy->GetMeshes().size(), 1u);
    TQuorvelMesh* bodyCopy = copy->GetMeshes()[0];
    EXPECT_EQ(bodyCopy->GetDef(), body);
    EXPECT_EQ(bodyCopy->GetModel(), copy);
    ASSERT_EQ(bodyCopy->GetMeshes().size(), 1u);
    // The group copy draws over its parent copy's vertices.
    EXPECT_EQ(bodyCopy->GetMeshes()[0]->GetMeshData()->GetVertexBuffer(), bodyCopy->GetMeshData()->GetVertexBuffer());
    EXPECT_EQ(bodyCopy->GetMeshData()->GetVertexBuffer()->Length(), 3);
    // One animation manager, holding the copy of the animation under its id.
    ASSERT_NE(copy->GetAnimationManager(), nullptr);
    EXPECT_NE(copy->GetAnimationManager(), model->GetAnimationManager());
    int managers = 0;
    for (TComponent* c : copy->ComponentList()) managers += c->InheritsFrom(TQuorvelAnimationManager::StaticClass());
    EXPECT_EQ(managers, 1);
    const auto& animations = copy->GetAnimationManager()->GetAnimations();
    ASSERT_EQ(animations.size(), 1u);
    TQuorvelAnimation* idleCopy = animations[0].second;
    ASSERT_NE(idleCopy, nullptr);
    // The copy lists itself under its own id (empty: this animation has no definition).
    EXPECT_EQ(animations[0].first, idleCopy->GetId());
    EXPECT_NE(idleCopy, idle);
    EXPECT_EQ(copy->GetControls().size(), model->GetControls().size());
    // The model's light uses the model's definition in both.
    auto* lampCopy = dynamic_cast<TQuorvelLight*>(copy->FindComponent("Lamp"));
    ASSERT_NE(lampCopy, nullptr);
    EXPECT_EQ(lampCopy->GetDef(), lamp);

    if (sourceFirst) {
      form.reset();
      // The definitions live on with the copy.
      EXPECT_EQ(copy->GetModelDef()->GetId(), "Robot");
      EXPECT_EQ(bodyCopy->GetMeshDef()->GetIndexSource()->Length(), 3);
      (void)bodyCopy->GetBoundingBox();
    } else {
      target.reset();
      EXPECT_EQ(model->GetModelDef()->GetId(), "Robot");
    }
  }
}

TEST(MeshDuplication, LightsCamerasAndGroupsCopyTheirValuesAndOwnTheirDefinitions) {
  TOwned<TComponent> form(New<TComponent>(nullptr));
  TOwned<TComponent> target(New<TComponent>(nullptr));
  auto* group = New<TQuorvelGroup>(form.get());
  group->SetName("Rig");
  group->SetAuthor("someone");
  group->SetTimestamp("2026-01-02 03:04:05");
  auto* light = New<TQuorvelLight>(group);
  light->SetName("Sun");
  light->SetParent(group);
  light->SetLightType(TLightType::Spot);
  light->SetColor(claRed);
  light->SetSpotCutOff(30);
  light->SetIntensity(4);
  light->SetLinearAttenuation(0.5f);
  light->SetScattering(2, 1.5f);
  light->GetPosition()->SetPoint({0, 5, 0});
  auto* camera = New<TQuorvelCamera>(group);
  camera->SetName("Eye");
  camera->SetParent(group);
  camera->SetFOV(60);
  camera->SetTarget(group);
  auto* outsideCamera = New<TQuorvelCamera>(group);
  outsideCamera->SetName("Far");
  outsideCamera->SetTarget(dynamic_cast<TControl3D*>(New<TQuorvelGroup>(form.get())));

  auto* copy = DuplicateOf<TQuorvelGroup>(group, target.get());
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->GetAuthor(), "someone");
  EXPECT_EQ(copy->GetTimestamp(), "2026-01-02 03:04:05");
  auto* lightCopy = dynamic_cast<TQuorvelLight*>(copy->FindComponent("Sun"));
  auto* cameraCopy = dynamic_cast<TQuorvelCamera*>(copy->FindComponent("Eye"));
  auto* farCopy = dynamic_cast<TQuorvelCamera*>(copy->FindComponent("Far"));
  ASSERT_TRUE(lightCopy && cameraCopy && farCopy);
  EXPECT_EQ(lightCopy->GetLightType(), TLightType::Spot);
  EXPECT_EQ(lightCopy->GetColor(), claRed);
  EXPECT_FLOAT_EQ(lightCopy->GetSpotCutOff(), 30);
  EXPECT_FLOAT_EQ(lightCopy->GetIntensity(), 4);
  EXPECT_FLOAT_EQ(lightCopy->GetLinearAttenuation(), 0.5f);
  EXPECT_FLOAT_EQ(lightCopy->GetScatteringDecay(), 1.5f);
  EXPECT_EQ(lightCopy->GetPosition()->GetPoint(), TPoint3D(0, 5, 0));
  EXPECT_EQ(lightCopy->GetParent(), copy);
  ASSERT_NE(lightCopy->GetDef(), nullptr);
  EXPECT_NE(lightCopy->GetDef(), light->GetDef());
  EXPECT_FLOAT_EQ(cameraCopy->GetFOV(), 60);
  EXPECT_EQ(cameraCopy->GetTarget(), copy);
  EXPECT_NE(cameraCopy->GetDef(), camera->GetDef());
  EXPECT_EQ(farCopy->GetTarget(), nullptr) << "a target outside the copied tree is not kept";
  // The source goes first; the copies still use their own definitions.
  form.reset();
  EXPECT_NE(lightCopy->GetDef(), nullptr);
  (void)lightCopy->GetLightDescriptionEx();
  EXPECT_EQ(cameraCopy->GetDef()->ClassType(), TCameraDef::StaticClass());
}

}  // namespace
}  // namespace quorvel
