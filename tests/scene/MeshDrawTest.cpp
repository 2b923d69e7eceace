// Meshes drawn through the viewport on llvmpipe and read back from the frame bitmap.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "lib/animation/Animation.h"
#include "lib/context/ContextTypes.h"
#include "lib/defs/DefTypesMesh.h"
#include "lib/defs/DefTypesModel.h"
#include "lib/materials/MaterialBlinn.h"
#include "lib/scene/Cube.h"
#include "lib/scene/Light.h"
#include "lib/scene/Model.h"
#include "lib/scene/Plane.h"
#include "tests/scene/InstancedColorMaterial.h"
#include "tests/scene/SceneTestSupport.h"

namespace quorvel {
namespace {

using testkit::NearColor;
using testkit::PixelOf;
using testkit::TInstancedColorSource;
using testkit::TViewportTest;

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

// The legacy renderer blends its translucent phase with colour One / OneMinusSrcColor over
// what the opaque phase drew: result = src + dst x (1 - src), with the colour premultiplied by
// the opacity. A channel the translucent colour lacks keeps the floor's value: half green over
// red reads (255, 128, 0), not the (128, 128, 0) of alpha blending.
TEST_F(MeshDraw, ATranslucentPlaneBlendsOverTheOpaqueOneAsTheLegacyBlendTableSays) {
  struct TCase {
    TAlphaColor Front;
    float Opacity;
    int R, G, B;
  };
  const TCase cases[] = {
      {claLime, 0.5f, 255, 128, 0},
      {claBlue, 0.5f, 255, 0, 128},
      {claWhite, 0.5f, 255, 128, 128},
      {claLime, 0.25f, 255, 64, 0},
      {claLime, 1.0f, 255, 255, 0},  // 1.0 is still translucent (the opacity rule)
  };
  auto* back = Add<TQuorvelPlane>(claRed);
  back->GetPosition()->SetPoint({0, 0, 1});
  back->GetScale()->SetPoint({4, 4, 1});
  auto* front = Add<TQuorvelPlane>(claLime);
  for (const TCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << uint32_t(c.Front) << " at " << c.Opacity);
    static_cast<TColorMaterialSource*>(front->GetMaterialSource())->SetColor(c.Front);
    front->SetOpacityValue(c.Opacity);
    Tick();
    const TAlphaColorRec rec(Probe(W / 2, H / 2));
    EXPECT_NEAR(rec.R, c.R, 3);
    EXPECT_NEAR(rec.G, c.G, 3);
    EXPECT_NEAR(rec.B, c.B, 3);
    // Outside the front plane the floor is untouched.
    EXPECT_TRUE(NearColor(Probe(W / 2, 2), claRed, 3)) << std::hex << uint32_t(Probe(W / 2, 2));
  }
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

TEST_F(MeshDraw, ADuplicatedCubeAndItsSourceDrawTheirOwnGeometryAndGoCleanly) {
  auto* cube = Add<TQuorvelCube>(claRed);
  cube->GetPosition()->SetX(-0.8f);
  const TMatrix3D before = cube->GetLocalMatrix();
  auto* copy = dynamic_cast<TQuorvelCube*>(cube->Duplicate(Form.get()));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(0, std::memcmp(&before, &cube->GetLocalMatrix(), sizeof before));
  EXPECT_EQ(0, std::memcmp(&before, &copy->GetLocalMatrix(), sizeof before));
  copy->SetParent(Viewport);
  copy->GetPosition()->SetX(0.8f);
  copy->SetMaterialSource(Material(claLime));
  // Rebuilding the source touches only the source's definition.
  cube->SetSubdivisionsWidth(3);
  Tick();


  EXPECT_TRUE(NearColor(Probe(12, H / 2), claRed, 8)) << std::hex << uint32_t(Probe(12, H / 2));
  EXPECT_TRUE(NearColor(Probe(50, H / 2), claLime, 8)) << std::hex << uint32_t(Probe(50, H / 2));
  EXPECT_EQ(copy->GetMeshDef()->GetVertexSource()->Length(), 24);
  // The source goes first; the copy draws on alone.
  Free(cube);
  Tick();
  EXPECT_TRUE(NearColor(Probe(12, H / 2), claBlue)) << std::hex << uint32_t(Probe(12, H / 2));
  EXPECT_TRUE(NearColor(Probe(50, H / 2), claLime, 8));
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
  auto* model = New<TQuorvelModel>(Form.get());
  model->SetParent(Viewport);
  model->LoadFromFile(DemoAssets + "monkey.obj");
  EXPECT_EQ(model->GetName(), model->GetDef()->GetId());
  ASSERT_FALSE(model->GetMeshes().empty());
  // Every mesh got the factory's source for its material; a flat colour makes the probe plain.
  auto* yellow = New<TInstancedColorSource>(model);
  yellow->SetColor(claYellow);
  int made = 0;
  std::function<void(TComponent*)> paint = [&](TComponent* AOwner) {
    for (TComponent* c : AOwner->ComponentList()) {
      if (auto* mesh = dynamic_cast<TQuorvelMesh*>(c)) {
        if (TMaterialSource* source = mesh->GetMaterialSource(); source && source->GetTagObject()) ++made;
        mesh->SetMaterialSource(yellow);
      }
      paint(c);
    }
  };
  paint(model);
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
  // Once more without Clear: the children come again (until a registered name is met) and
  // both definitions stay alive until the model goes.
  try {
    model->LoadFromFile(DemoAssets + "monkey.obj");
  } catch (const Exception& e) {
    EXPECT_NE(std::string(e.what()).find("already exists"), std::string::npos) << e.what();
  }
  EXPECT_GE(model->GetChildrenCount(), 1);
}

// A Blinn plane without a texture, lit by each light type in turn from in front, against a
// black clear colour and no ambient or emissive light: whatever shows is the light's work.
TEST_F(MeshDraw, AnUntexturedBlinnPlaneIsLitByEachLightType) {
  Viewport->SetColor(claBlack);
  auto* source = New<TQuorvelBlinnMaterialSource>(Form.get());
  source->SetDiffuse(claWhite);
  source->SetAmbient(claBlack);
  source->SetEmissive(claBlack);
  source->SetShininess(0);
  auto* plane = New<TQuorvelPlane>(Form.get());
  plane->SetWrapMode(TMeshWrapMode::Resize);
  plane->GetScale()->SetPoint({6, 6, 1});
  plane->SetMaterialSource(source);
  plane->SetParent(Viewport);
  auto* light = New<TQuorvelLight>(Form.get());
  light->SetColor(claWhite);
  light->GetPosition()->SetPoint({0, 0, -3});
  light->SetParent(Viewport);
  for (TLightType type : {TLightType::Directional, TLightType::Point, TLightType::Spot}) {
    SCOPED_TRACE(::testing::Message() << "light type " << int(type));
    light->SetLightType(type);
    Tick();
    const TAlphaColorRec rgb(Probe(W / 2, H / 2));
    EXPECT_GT(std::min({rgb.R, rgb.G, rgb.B}), 60) << int(rgb.R) << "," << int(rgb.G) << "," << int(rgb.B);
  }
  // The stand-in texture is neutral: a red diffuse colour lights red.
  source->SetDiffuse(claRed);
  Tick();
  TAlphaColorRec rgb(Probe(W / 2, H / 2));
  EXPECT_GT(rgb.R, 60);
  EXPECT_LT(std::max(rgb.G, rgb.B), 20) << int(rgb.R) << "," << int(rgb.G) << "," << int(rgb.B);
  // A real image still takes its place.
  source->SetDiffuse(claWhite);
  TOwned<TBitmap> image(New<TBitmap>(2, 2));
  image->Clear(claLime);
  source->SetTexture(image.get());
  Tick();
  rgb = TAlphaColorRec(Probe(W / 2, H / 2));
  EXPECT_GT(rgb.G, 60);
  EXPECT_LT(std::max(rgb.R, rgb.B), 20) << int(rgb.R) << "," << int(rgb.G) << "," << int(rgb.B);
}

// The demo's scene through the legacy renderer: a 100 x 100 floor turned 270 degrees about X
// with a Blinn source, three spot lights 10 above it, a camera behind and above its target, and
// a mesh standing in for the model.
class DemoLikeScene : public MeshDraw {
protected:
  static constexpr int32_t SW = W, SH = H;
  void SetUp() override {
    MeshDraw::SetUp();
    Viewport->SetColor(claBlack);
    auto* floorSource = New<TQuorvelBlinnMaterialSource>(Form.get());
    floorSource->SetColor(claWhite);
    floorSource->SetDiffuse(claWhite);
    floorSource->SetEmissive(claBlack);
    floorSource->SetAmbient(claGray);
    floorSource->SetSpecular(MakeAlphaColor(0xFFBFBFBF));
    floorSource->SetShininess(50);
    Floor = New<TQuorvelPlane>(Form.get());
    Floor->SetWidth(100);
    Floor->SetHeight(100);
    Floor->GetRotationAngle()->SetX(270);
    Floor->SetMaterialSource(floorSource);
    Floor->SetParent(Viewport);
    const std::pair<TAlphaColor, float> lights[] = {
        {MakeAlphaColor(0xFFFF6347), -5}, {MakeAlphaColor(0xFF32CD32), 5}, {MakeAlphaColor(0xFF6A5ACD), 0}};
    for (const auto& [colour, x] : lights) {
      auto* light = New<TQuorvelLight>(Form.get());
      light->SetLightType(TLightType::Spot);
      light->SetSpotCutOff(60);
      light->SetSpotExponent(10);
      light->SetColor(colour);
      light->GetPosition()->SetPoint({x, -10, 0});
      light->GetRotationAngle()->SetX(270);
      light->SetParent(Viewport);
      Lights.push_back(light);
    }
    auto* target = New<TDummy>(Form.get());
    target->SetParent(Viewport);
    auto* camera = New<TQuorvelCamera>(Form.get());
    camera->SetParent(target);
    camera->GetPosition()->SetPoint({0, -5, -10});
    camera->SetTarget(target);
    camera->SetFOV(45);
    Viewport->SetCamera(camera);
    Viewport->SetUsingDesignCamera(false);
    // An unlit engine material: it places the mesh by its instance matrix alone.
    auto* modelSource = New<TQuorvelDefaultMaterialSource>(Form.get());
    modelSource->SetColor(claFuchsia);
    Model = New<TQuorvelCube>(Form.get());
    Model->SetWrapMode(TMeshWrapMode::Resize);
    Model->SetMaterialSource(modelSource);
    Model->SetParent(Viewport);
    Model->GetPosition()->SetY(-1);
  }
  TPointF Screen(float x, float y, float z) { return Viewport->WorldToScreen({x, y, z}); }
  TAlphaColorRec At(const TPointF& p) { return TAlphaColorRec(PixelOf(Viewport->GetFrameBitmap(), int(p.X), int(p.Y))); }

  TQuorvelPlane* Floor = nullptr;
  TQuorvelCube* Model = nullptr;
  std::vector<TQuorvelLight*> Lights;
};

TEST_F(DemoLikeScene, EachLightsHueRulesItsPoolTheFloorBeyondIsDarkAndTheMeshCoversItsProbe) {
  Tick();
  Tick();
  ASSERT_EQ(Viewport->GetFrameBitmap()->GetWidth(), SW);
  // Below each light, beside the mesh: its own channel is the strongest.
  struct TCase {
    float X, Z;
    int Channel;  // 0 red, 1 green, 2 blue
  } pools[] = {{-5, 0, 0}, {5, 0, 1}, {0, -3, 2}};
  for (const TCase& c : pools) {
    const TPointF s = Screen(c.X, 0, c.Z);
    SCOPED_TRACE(::testing::Message() << "floor (" << c.X << ", 0, " << c.Z << ") at " << s.X << "," << s.Y);
    ASSERT_TRUE(s.X >= 0 && s.X < SW && s.Y >= 0 && s.Y < SH);
    const TAlphaColorRec rgb = At(s);
    const int v[3] = {rgb.R, rgb.G, rgb.B};
    EXPECT_GT(v[c.Channel], 40) << int(rgb.R) << "," << int(rgb.G) << "," << int(rgb.B);
    EXPECT_EQ(std::max_element(v, v + 3) - v, c.Channel) << int(rgb.R) << "," << int(rgb.G) << "," << int(rgb.B);
  }
  // Far ahead on the floor, more than 60 degrees off every light's axis.
  const TPointF far = Screen(0, 0, 25);
  ASSERT_TRUE(far.X >= 0 && far.X < SW && far.Y >= 0 && far.Y < SH) << far.X << "," << far.Y;
  const TAlphaColorRec dark = At(far);
  EXPECT_LT(std::max({dark.R, dark.G, dark.B}), 40) << int(dark.R) << "," << int(dark.G) << "," << int(dark.B);
  // The mesh, in its flat colour, at its centre.
  EXPECT_TRUE(NearColor(PixelOf(Viewport->GetFrameBitmap(), int(Screen(0, -1, 0).X), int(Screen(0, -1, 0).Y)),
                        claFuchsia, 8));
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
          failures += !NearColor(PixelOf(viewport->GetFrameBitmap(), 16, 12), claLime, 8);
          plane->SetParent(nullptr);
        }
        std::fflush(stdout);
        std::_Exit(failures);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace quorvel
