// The skybox: its record, its face checks and its three looks drawn on llvmpipe.
#include <gtest/gtest.h>

#include <algorithm>

#include "lib/scene/SkyBox.h"
#include "tests/scene/SceneTestSupport.h"

namespace quorvel {
namespace {

using testing::NearColor;
using testing::TViewportTest;

class SkyBox : public TViewportTest {
protected:
  TQuorvelSkyBox* AddSky() {
    auto* sky = New<TQuorvelSkyBox>(Form.get());
    sky->SetParent(Viewport);
    return sky;
  }
  static TOwned<TBitmap> Square(int32_t AWidth, int32_t AHeight, TAlphaColor AColor = claRed) {
    TOwned<TBitmap> b(New<TBitmap>(AWidth, AHeight));
    if (AWidth > 0 && AHeight > 0) b->Clear(AColor);
    return b;
  }
};

TEST_F(SkyBox, ANewSkyBoxIsAProceduralUnhittableCubeOf500) {
  auto* sky = AddSky();
  EXPECT_EQ(sky->GetMode(), TQuorvelSkyBoxMode::ProceduralSkyBox);
  EXPECT_TRUE(sky->SkyMaterial()->GetAllowFog());
  EXPECT_TRUE(sky->SkyMaterial()->GetStarsEnabled());
  EXPECT_TRUE(sky->SkyMaterial()->GetCloudsEnabled());
  EXPECT_FLOAT_EQ(sky->GetWidth(), 500);
  EXPECT_FLOAT_EQ(sky->GetHeight(), 500);
  EXPECT_FLOAT_EQ(sky->GetDepth(), 500);
  EXPECT_FLOAT_EQ(sky->GetScale()->GetY(), -1);
  EXPECT_FALSE(sky->GetHitTest());
  EXPECT_FALSE(sky->GetFrustumCullingCheck());
  EXPECT_EQ(sky->GetMaterialSource(), sky->GetSkyMaterialSource());
}

TEST_F(SkyBox, TheRecordHasItsDefaultsAndTheSettersClamp) {
  auto* sky = AddSky();
  TQuorvelSkyBoxMaterial* m = sky->SkyMaterial();
  const TSkyBoxShaderData& d = m->ShaderData();
  EXPECT_EQ(d.CloudIterations, 4);
  EXPECT_FLOAT_EQ(d.Azimuth, 0.22f);
  EXPECT_FLOAT_EQ(d.Emissive.B, 1);
  EXPECT_FLOAT_EQ(TSkyBoxShaderData::Create(1).SunAngularDiameterDegrees, 0.05f);
  m->SetSingle(&TSkyBoxShaderData::Turbidity, 500);
  EXPECT_FLOAT_EQ(d.Turbidity, 100);
  m->SetSingle(&TSkyBoxShaderData::NumMolecules, 10);
  EXPECT_FLOAT_EQ(d.NumMolecules, 100000);
  m->SetPrimaries({0, 0.5f, 2});
  EXPECT_FLOAT_EQ(d.Primaries.X, 1e-9f);
  EXPECT_FLOAT_EQ(d.Primaries.Y, 0.5f);
  EXPECT_FLOAT_EQ(d.Primaries.Z, 1);
  m->SetCloudIterations(-3);
  EXPECT_EQ(d.CloudIterations, 0);
  m->SetSingle(&TSkyBoxShaderData::Azimuth, 3);
  EXPECT_FLOAT_EQ(d.Azimuth, 1);
  // The whole record is taken as given.
  TSkyBoxShaderData props = sky->GetConfiguration();
  props.Azimuth = 3;
  sky->SetConfiguration(props);
  EXPECT_FLOAT_EQ(sky->GetConfiguration().Azimuth, 3);
  m->SetCrescent(false);
  EXPECT_FLOAT_EQ(d.CrescentMoon, -0.03f);
  EXPECT_FALSE(m->GetCrescent());
  m->SetCrescent(true);
  EXPECT_FLOAT_EQ(d.CrescentMoon, 0.03f);
}

TEST_F(SkyBox, OnlySquarePowerOfTwoFacesAreTaken) {
  auto* sky = AddSky();
  const std::string message =
      "Invalid skybox texture size! Skybox texture needs to be even and dimension must be a power of 2 (2^x).";
  sky->SetTexture(TQuorvelCubeMapFace::PositiveX, Square(256, 256).get());
  EXPECT_EQ(sky->GetTexture(TQuorvelCubeMapFace::PositiveX)->GetWidth(), 256);
  for (auto [w, h] : {std::pair{256, 128}, {100, 100}, {0, 0}}) {
    try {
      sky->SetTexture(TQuorvelCubeMapFace::PositiveX, Square(w, h).get());
      ADD_FAILURE() << w << " x " << h << " was taken";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), message);
    }
    EXPECT_EQ(sky->GetTexture(TQuorvelCubeMapFace::PositiveX)->GetWidth(), 256) << "the face stays";
  }
}

TEST_F(SkyBox, FacesOfDifferentSizesFailOnceUntilAFaceChanges) {
  auto* sky = AddSky();
  sky->SetMode(TQuorvelSkyBoxMode::Blank);
  sky->SetTexture(TQuorvelCubeMapFace::PositiveX, Square(8, 8).get());
  sky->SetTexture(TQuorvelCubeMapFace::NegativeY, Square(4, 4).get());
  try {
    sky->Render();
    ADD_FAILURE() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "All cubemap textures must have equal dimensions! (width 8 <> 4 or height 8 <> 4)");
  }
  Tick();  // no retry: the frame draws
  EXPECT_TRUE(NearColor(Probe(W / 2, H / 2), claWhite, 8));
}

TEST_F(SkyBox, BlankDrawsItsDiffuseBehindTheScene) {
  auto* sky = AddSky();
  sky->SetMode(TQuorvelSkyBoxMode::Blank);
  sky->SetDiffuse(claYellow);
  auto* cube = AddCube(claRed, 1);
  Tick();
  EXPECT_TRUE(NearColor(Probe(1, 1), claYellow, 8)) << std::hex << uint32_t(Probe(1, 1));
  EXPECT_TRUE(NearColor(Probe(W / 2, H / 2), claRed, 8)) << std::hex << uint32_t(Probe(W / 2, H / 2));
  (void)cube;
}

TEST_F(SkyBox, CubeMapFacesShowInTheirDirections) {
  auto* sky = AddSky();
  sky->SetMode(TQuorvelSkyBoxMode::CubeMapSkyBox);
  const TAlphaColor colors[6] = {claRed, claLime, claBlue, claYellow, claFuchsia, claAqua};
  for (int i = 0; i < 6; ++i) sky->SetTexture(static_cast<TQuorvelCubeMapFace>(i), Square(4, 4, colors[i]).get());
  Tick();
  // The camera looks along one axis: the middle shows one face's colour, whole and unblended.
  const TAlphaColor mid = Probe(W / 2, H / 2);
  bool found = false;
  for (TAlphaColor c : colors) found |= NearColor(mid, c, 8);
  EXPECT_TRUE(found) << std::hex << uint32_t(mid);
}

TEST_F(SkyBox, TheProceduralSkyDrawsAnOpaqueBlueishDaySky) {
  AddSky();
  Tick();
  const TAlphaColorRec top(Probe(W / 2, 1));
  EXPECT_EQ(top.A, 255);
  EXPECT_GT(int(top.B), int(top.R)) << std::hex << uint32_t(Probe(W / 2, 1));
  EXPECT_FALSE(NearColor(Probe(W / 2, 1), claBlue, 8)) << "the viewport's own colour shows through";
}

TEST_F(SkyBox, SkyBoxesGoFirstInTheRenderingListAndStayOutOfTheSceneBounds) {
  auto* cube = AddCube(claRed, 1);
  auto* group = AddCube(claLime, 1);
  auto* first = AddSky();
  auto* second = New<TQuorvelSkyBox>(Form.get());
  second->SetParent(group);
  Viewport->UpdateRenderingList();
  const auto& list = Viewport->GetRenderingList();
  ASSERT_GE(list.size(), 4u);
  EXPECT_EQ(list[0], first) << "met after the one inside the group, so first";
  EXPECT_EQ(list[1], second);
  EXPECT_NE(std::find(list.begin() + 2, list.end(), cube), list.end());
  TBoundingBox bounds = TBoundingBox::Empty();
  TQuorvelRenderingHelper::UpdateSceneBounds(first, Viewport->GetComponentState(), bounds);
  EXPECT_TRUE(bounds.IsEmpty());
  Viewport->RebuildRenderingList();
  EXPECT_EQ(Viewport->GetRenderingList()[0], first);
}

TEST_F(SkyBox, AFreedMaterialTakesItsShaderNamesWithIt) {
  auto* sky = AddSky();
  const std::string name = Format("SkyBoxProc-%d.fps", {static_cast<int64_t>(reinterpret_cast<intptr_t>(sky->SkyMaterial()))});
  Tick();
  EXPECT_NE(TShaderManager::FindShader(name), nullptr);
  const size_t count = TShaderManager::ShaderCount();
  Free(sky);
  EXPECT_EQ(TShaderManager::FindShader(name), nullptr);
  EXPECT_EQ(TShaderManager::ShaderCount(), count - 5);
}

}  // namespace
}  // namespace quorvel
