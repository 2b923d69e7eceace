// Meshes drawn through the viewport on llvmpipe and read back from the frame bitmap.
#include <gtest/gtest.h>

#include "lib/animation/Animation.h"
#include "lib/context/ContextTypes.h"
#include "lib/defs/DefTypesMesh.h"
#include "lib/defs/DefTypesModel.h"
#include "lib/scene/Cube.h"
#include "lib/scene/Model.h"
#include "lib/scene/Plane.h"
#include "tests/scene/SceneTestSupport.h"

namespace quorvel {
namespace {

using testing::NearColor;
using testing::TViewportTest;

// One colour, placed by the per-instance model matrix (four rows from location 12), as the
// engine's materials read it.
class TInstancedColorMaterial : public TColorMaterial {
public:
  using TColorMaterial::TColorMaterial;

protected:
  void DoInitialize() override {
    static const char* const vs =
        "#version 430\r\n"
        "uniform vec4 _MVPMatrix[4];\r\n"
        "layout(location = 0) in vec3 a_Position;\r\n"
        "layout(location = 12) in vec4 a_Row0;\r\n"
        "layout(location = 13) in vec4 a_Row1;\r\n"
        "layout(location = 14) in vec4 a_Row2;\r\n"
        "layout(location = 15) in vec4 a_Row3;\r\n"
        "void main() {\r\n"
        "  vec4 p = a_Position.x * a_Row0 + a_Position.y * a_Row1 + a_Position.z * a_Row2 + a_Row3;\r\n"
        "  gl_Position = vec4(dot(_MVPMatrix[0], p), dot(_MVPMatrix[1], p), dot(_MVPMatrix[2], p), "
        "dot(_MVPMatrix[3], p));\r\n"
        "}\r\n";
    FVertexShader = TShaderManager::RegisterShaderFromData(
        "Test.InstancedColor.fvs", TContextShaderKind::VertexShader, "",
        {TContextShaderSource(TContextShaderArch::GLSL, TContextShaderSource::CodeFromText(vs),
                              {{"MVPMatrix", TContextShaderVariableKind::Matrix, 0, 4}})});
    FPixelShader = TShaderManager::RegisterShaderFromData(
        "Test.InstancedColor.fps", TContextShaderKind::PixelShader, "",
        {TContextShaderSource(TContextShaderArch::GLSL, TContextShaderSource::CodeFromText(PixelShaderText),
                              {{"Color", TContextShaderVariableKind::Vector, 0, 1}})});
  }
};

class TInstancedColorSource : public TColorMaterialSource {
public:
  using TColorMaterialSource::TColorMaterialSource;

protected:
  TMaterial* CreateMaterial() override { return New<TInstancedColorMaterial>(); }
};

const std::string DemoAssets = std::string(QUORVEL_TEST_DATA_DIR) + "/../../demo/assets/";

class MeshDraw : public TViewportTest {
protected:
  TInstancedColorSource* Material(TAlphaColor AColor) {
    auto* source = New<TInstancedColorSource>(Form.get());
    source->SetColor(AColor);
    return source;
  }
  template <class T>
  T* Add(TAlphaColor AColor) {
    auto* mesh = New<T>(Form.get());
    mesh->SetWrapMode(TMeshWrapMode::Resize);
    mesh->SetMaterialSource(Material(AColor));
    mesh->SetParent(Viewport);
    return mesh;
  }
};

TEST_F(MeshDraw, ACubeWithTwoMoreInstancesIsDrawnThreeTimesInOneDrawCall) {
  auto* cube = Add<TQuorvelCube>(claRed);
  cube->AddInstance(TMatrix3D::CreateTranslation({-1.6f, 0, 0}));
  cube->AddInstance(TMatrix3D::CreateTranslation({1.6f, 0, 0}));
  TQuorvelContext::ResetDrawCallDiagnostics();
  const int64_t before = GlobalDrawCalls.load();
  Tick();
  EXPECT_EQ(GlobalDrawInstances.load(), 3);
  EXPECT_EQ(GlobalDrawCalls.load() - before, 1);
  const int32_t y = H / 2;
  int reds = 0, runs = 0;
  bool inRed = false;
  for (int32_t x = 0; x < W; ++x) {
    const bool red = NearColor(Probe(x, y), claRed, 8);
    reds += red;
    if (red && !inRed) ++runs;
    inRed = red;
  }
  EXPECT_EQ(runs, 3) << "three separate cubes along the middle row";
  EXPECT_TRUE(NearColor(Probe(W / 2, y), claRed, 8));
  EXPECT_TRUE(NearColor(Probe(1, 1), claBlue));
}

TEST_F(MeshDraw, ATranslucentPlaneBlendsOverTheOpaqueOneBehindIt) {
  auto* back = Add<TQuorvelPlane>(claRed);
  back->GetPosition()->SetPoint({0, 0, 1});
  back->GetScale()->SetPoint({4, 4, 1});
  auto* front = Add<TQuorvelPlane>(claLime);
  front->SetOpacityValue(0.5f);
  Tick();
  // Half the green over the red floor, which shows through.
  const TAlphaColor mixed = Probe(W / 2, H / 2);
  const TAlphaColorRec rec(mixed);
  EXPECT_GT(rec.R, 100) << std::hex << uint32_t(mixed);
  EXPECT_NEAR(rec.G, 128, 12) << std::hex << uint32_t(mixed);
  EXPECT_NEAR(rec.B, 0, 12);
}

TEST_F(MeshDraw, AStaticMeshOfAModelWithAStoppedAnimationDrawsFromItsOwnBuffer) {
  TOwned<TModelDef> def(New<TModelDef>(nullptr, nullptr));
  auto* mesh = New<TMeshDef>(def.get());
  mesh->SetId("Floor");
  def->AddChild(mesh);
  TOwned<TQuorvelPlane> plane(New<TQuorvelPlane>(nullptr));
  plane->GetMeshDef()->ApplyToMeshDef(mesh, {});
  mesh->SetIsStatic(true);
  ASSERT_TRUE(mesh->GetIsStatic());
  auto* model = New<TQuorvelModel>(Form.get());
  model->SetParent(Viewport);
  model->LoadFromDefinition(def.get());
  TQuorvelMesh* floor = model->GetMeshes().at(0);
  ASSERT_TRUE(floor->GetIsStatic());
  EXPECT_EQ(floor->GetMeshData()->GetVertexBuffer()->Length(), 0);
  floor->SetWrapMode(TMeshWrapMode::Resize);
  floor->SetMaterialSource(Material(claYellow));
  TQuorvelAnimation* animation = TQuorvelAnimation::CreateEx(model->GetAnimationManager());
  model->GetAnimationManager()->AddAnimation("idle", animation);
  ASSERT_EQ(model->GetAnimationManager()->GetCurrent(), animation);
  Tick();
  EXPECT_TRUE(NearColor(Probe(W / 2, H / 2), claYellow, 8)) << std::hex << uint32_t(Probe(W / 2, H / 2));
  Free(model);
}

TEST_F(MeshDraw, AFailedDrawIsWrappedTwiceAndRestoresFlatShading) {
  auto* cube = Add<TQuorvelCube>(claRed);
  cube->SetIsStatic(false);
  ASSERT_EQ(cube->GetMeshData()->GetVertexBuffer()->Length(), 24);
  cube->SetFlatShading(true);
  cube->GetMeshData()->GetIndexBuffer()->SetIndices(0, 999);
  cube->SetName("Broken");
  auto* ctx = dynamic_cast<TQuorvelContext*>(Viewport->GetContext());
  ASSERT_NE(ctx, nullptr);
  ctx->BeginScene();
  try {
    cube->Render();
    ADD_FAILURE();
  } catch (const Exception& e) {
    const std::string text = e.what();
    EXPECT_EQ(text.rfind("TQuorvelMesh.Render(): failed to render object \"Broken\" : ", 0), 0u) << text;
  }
  EXPECT_EQ(ctx->GetCurrentCache(), nullptr);
  ctx->EndScene();
  // The next frame draws the rest as usual.
  cube->GetMeshData()->GetIndexBuffer()->SetIndices(0, 0);
  Tick();
  EXPECT_TRUE(NearColor(Probe(W / 2, H / 2), claRed, 8));
}

TEST_F(MeshDraw, TheDemoMonkeyLoadsFromItsFileAndCoversTheMiddle) {
  int made = 0;
  TQuorvelMesh::MaterialFactory() = [&](TQuorvelMesh* AMesh, TModelDef*, TMaterialRefDef*) -> TMaterialSource* {
    ++made;
    auto* source = New<TInstancedColorSource>(AMesh);
    source->SetColor(claYellow);
    return source;
  };
  auto* model = New<TQuorvelModel>(Form.get());
  model->SetParent(Viewport);
  model->LoadFromFile(DemoAssets + "monkey.obj");
  TQuorvelMesh::MaterialFactory() = nullptr;
  EXPECT_EQ(model->GetName(), model->GetDef()->GetId());
  ASSERT_FALSE(model->GetMeshes().empty());
  EXPECT_GT(made, 0);
  for (TQuorvelMesh* mesh : model->GetMeshes()) mesh->SetWrapMode(TMeshWrapMode::Resize);
  Tick();
  EXPECT_TRUE(NearColor(Probe(W / 2, H / 2), claYellow, 8)) << std::hex << uint32_t(Probe(W / 2, H / 2));
  EXPECT_TRUE(NearColor(Probe(1, 1), claBlue));
  // The model owns what it loaded: Clear frees it, and loading again works.
  model->Clear();
  EXPECT_EQ(model->GetChildrenCount(), 0);
  model->LoadFromFile(DemoAssets + "monkey.obj");
  EXPECT_FALSE(model->GetMeshes().empty());
}

// As while a form streams its primitives before its viewport made the shared context. The
// process must not have had a context yet: the check runs in a fresh copy of the test binary.
TEST(MeshDrawBeforeContext, APlaneMadeBeforeAnyContextDrawsOnceOneExists) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        int failures = 0;
        {
          TOwned<TQuorvelPlane> plane(New<TQuorvelPlane>(nullptr));
          failures += TCustomContextWindows::SharedContext() != nullptr;
          failures += !plane->GetIsStatic() || plane->GetMeshDef()->GetIsStatic();
          failures += plane->GetMeshData()->GetVertexBuffer()->Length() != 0;
          TCustomContextWindows::SetWindowHandle(nullptr);
          TCustomContextWindows::CreateSharedContext();
          TOwned<TForm> form(New<TForm>(nullptr));
          form->SetClientWidth(32);
          form->SetClientHeight(24);
          form->Show();
          auto* viewport = New<TQuorvelViewport>(form.get());
          viewport->SetRendererType(TRendererType::LegacyRenderer);
          viewport->SetColor(claBlue);
          auto* source = New<TInstancedColorSource>(form.get());
          source->SetColor(claLime);
          plane->SetWrapMode(TMeshWrapMode::Resize);
          plane->GetScale()->SetPoint({2, 2, 1});
          plane->SetMaterialSource(source);
          plane->SetParent(viewport);
          viewport->DoFixedIntervalTimer(nullptr);
          failures += !plane->GetMeshDef()->GetIsStatic();
          failures += !NearColor(testing::PixelOf(viewport->GetFrameBitmap(), 16, 12), claLime, 8);
          plane->SetParent(nullptr);
        }
        std::fflush(stdout);
        std::_Exit(failures);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace quorvel
