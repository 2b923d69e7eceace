#include <gtest/gtest.h>

#include <cstring>

#include "framework/classes/FormText.h"
#include "lib/defs/DefTypesLights.h"
#include "lib/scene/Camera.h"
#include "lib/scene/Light.h"

namespace quorvel {
namespace {

TEST(QuorvelLight, DefaultsAndClamps) {
  TOwned<TQuorvelLight> l(New<TQuorvelLight>(nullptr));
  EXPECT_EQ(l->GetIntensity(), 1);
  EXPECT_EQ(l->GetAmbient(), TAlphaColorF(0, 0, 0, 1));
  EXPECT_EQ(l->GetSpecular(), TAlphaColorF(1, 1, 1, 1));
  EXPECT_EQ(l->GetConstantAttenuation(), 1);
  EXPECT_EQ(l->GetLinearAttenuation(), 0);
  EXPECT_EQ(l->GetQuadraticAttenuation(), 0);
  EXPECT_EQ(l->GetScatteringIntensity(), 0.1f);
  EXPECT_EQ(l->GetScatteringExposure(), 0.0034f);
  EXPECT_EQ(l->GetScatteringDecay(), 1.0f);
  EXPECT_EQ(l->GetScatteringDensity(), 0.84f);
  struct Case {
    int Index;
    float Set, Expected;
  } cases[] = {{-1, 12, 10}, {-1, -1, 0}, {0, 11, 10}, {1, 5, 1}, {2, 3, 2}, {3, -2, 0}, {4, 5, 0}};
  for (const Case& c : cases) {
    if (c.Index < 0) {
      l->SetIntensity(c.Set);
      EXPECT_EQ(l->GetIntensity(), c.Expected);
    } else {
      l->SetScattering(c.Index, c.Set);
      EXPECT_EQ(l->GetScattering(c.Index), c.Expected) << c.Index;
    }
  }
  // Attenuation is stored unchecked.
  l->SetLinearAttenuation(-7);
  EXPECT_EQ(l->GetLinearAttenuation(), -7);
}

TEST(QuorvelLight, TheDemoSpotLightRecordByteForByte) {
  TOwned<TQuorvelLight> l(New<TQuorvelLight>(nullptr));
  l->SetColor(claTomato);
  l->SetLightType(TLightType::Spot);
  l->SetSpotCutOff(60);
  l->SetSpotExponent(10);
  l->GetPosition()->SetPoint({-5, -10, 0});
  l->GetRotationAngle()->SetX(270);
  const TQuorvelShaderLight got = l->GetLightDescriptionEx();
  EXPECT_NEAR(got.SpotCosCutoff, 0.5f, 1e-6f);

  TQuorvelShaderLight want{};
  want.LightType = 2;
  const TLightDescription d = l->GetLightDescription();
  want.Position = TVector3D(d.Position, 1);
  want.Direction = TVector3D(d.Direction, 1);
  want.Ambient = TAlphaColorF(0, 0, 0, 1);
  want.Diffuse = TAlphaColorF(claTomato);
  want.Specular = TAlphaColorF(1, 1, 1, 1);
  want.Scattering = TVector3D(0.1f, 0.0034f, 1, 0.84f);
  want.SpotCutoff = 60;
  want.SpotCosCutoff = got.SpotCosCutoff;
  want.SpotExponent = 10;
  want.ConstantAttenuation = 1;
  want.LinearAttenuation = 0;
  want.QuadraticAttenuation = 0;
  want.Intensity = 1;
  want.Enabled = 1;
  EXPECT_EQ(std::memcmp(&got, &want, sizeof want), 0);
  EXPECT_NEAR(want.Position.X, -5, 1e-6);
  EXPECT_NEAR(want.Position.Y, -10, 1e-6);
  EXPECT_NEAR(want.Direction.Y, 1, 1e-5);
}

TEST(QuorvelCamera, FOVIsTheAngleOfViewAndThePerspectiveMatrixRaises) {
  TOwned<TQuorvelCamera> c(New<TQuorvelCamera>(nullptr));
  c->SetFOV(30);
  EXPECT_EQ(c->GetAngleOfView(), 30);
  c->SetAngleOfView(50);
  EXPECT_EQ(c->GetFOV(), 50);
  EXPECT_THROW((void)c->GetPerspectiveMatrix(), Exception);
}

TEST(QuorvelCamera, AssignFromCopiesTheRotationWithItsOrderOfTurns) {
  TOwned<TDummy> target(New<TDummy>(nullptr));
  TOwned<TCamera> src(New<TCamera>(nullptr));
  // Two turns whose order matters: the angles alone would give another rotation.
  src->GetRotationAngle()->SetY(90);
  src->GetRotationAngle()->SetX(90);
  src->GetPosition()->SetPoint({1, 2, 3});
  src->SetTarget(target.get());
  src->SetAngleOfView(33);
  TOwned<TQuorvelCamera> copy(New<TQuorvelCamera>(nullptr));
  copy->AssignFrom(src.get());
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) EXPECT_NEAR(copy->GetLocalMatrix().Get(i, j), src->GetLocalMatrix().Get(i, j), 1e-5);
  EXPECT_EQ(copy->GetTarget(), target.get());
  EXPECT_EQ(copy->GetAngleOfView(), 33);
  // From a framework camera UpdateNeeded is left alone; from an engine camera it is set.
  TOwned<TQuorvelCamera> fresh(New<TQuorvelCamera>(nullptr));
  const bool before = fresh->GetUpdateNeeded();
  TOwned<TCamera> plain(New<TCamera>(nullptr));
  fresh->AssignFrom(plain.get());
  (void)before;
  fresh->AssignFrom(copy.get());
  EXPECT_TRUE(fresh->GetUpdateNeeded());
  // Anything else changes nothing.
  const TMatrix3D m = fresh->GetLocalMatrix();
  fresh->AssignFrom(nullptr);
  EXPECT_EQ(fresh->GetLocalMatrix(), m);
  copy->SetTarget(nullptr);
  src->SetTarget(nullptr);
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

TEST(QuorvelLight, LoadFromDefinitionClampsKeepsTheConeAndTakesDirectionAsAngles) {
  TOwned<TLightDef> def(New<TLightDef>(nullptr));  // defaults: intensity 100
  def->SetId("lamp");
  def->SetLightType(TLightType::Spot);
  def->SetDiffuse(TAlphaColorF(1, 0, 0, 1));
  def->SetScatteringExposure(5);
  def->SetTransform(TMatrix3D::CreateTranslation({1, 2, 3}));
  def->SetDirection({10, 20, 30});
  def->SetSpotCutOff(12);
  TOwned<TQuorvelLight> l(New<TQuorvelLight>(nullptr));
  ASSERT_NE(l->GetDef(), nullptr);  // its own definition until one is loaded
  l->SetSpotCutOff(60);
  l->SetSpotExponent(10);
  l->LoadFromDefinition(def.get());
  EXPECT_EQ(l->GetDef(), def.get());
  EXPECT_EQ(l->GetName(), "lamp");
  EXPECT_EQ(l->GetLightType(), TLightType::Spot);
  EXPECT_EQ(l->GetColor(), claRed);
  EXPECT_EQ(l->GetIntensity(), 10);
  EXPECT_EQ(l->GetScatteringExposure(), 1);
  EXPECT_EQ(l->GetSpotCutOff(), 60);
  EXPECT_EQ(l->GetSpotExponent(), 10);
  EXPECT_EQ(l->GetPosition()->GetPoint(), TPoint3D(1, 2, 3));
  EXPECT_EQ(l->GetRotationAngle()->GetPoint(), TPoint3D(10, 20, 30));
  // A named light keeps its name.
  TOwned<TQuorvelLight> named(New<TQuorvelLight>(nullptr));
  named->SetName("Mine");
  named->LoadFromDefinition(def.get());
  EXPECT_EQ(named->GetName(), "Mine");
}

TEST(QuorvelCamera, LoadFromDefinitionNamesTargetsAndPlaces) {
  TOwned<TCameraDef> def(New<TCameraDef>(nullptr));
  def->SetId("cam 1");
  def->SetFOV(30);
  def->SetTarget("NoSuchComponent");
  def->SetTransform(TMatrix3D::CreateRotation({0, 0, 1}, 0.5f) * TMatrix3D::CreateTranslation({4, 5, 6}));
  TOwned<TDummy> stale(New<TDummy>(nullptr));
  TOwned<TQuorvelCamera> c(New<TQuorvelCamera>(nullptr));
  ASSERT_NE(c->GetDef(), nullptr);
  c->SetTarget(stale.get());
  c->LoadFromDefinition(def.get());
  EXPECT_EQ(c->GetDef(), def.get());
  EXPECT_EQ(c->GetName(), "cam_1");
  EXPECT_EQ(c->GetTarget(), nullptr);  // not found: cleared
  EXPECT_EQ(c->GetFOV(), 30);
  EXPECT_EQ(c->GetLocalMatrix(), def->GetTransform());
  EXPECT_NEAR(c->GetPosition()->GetX(), 4, 1e-6);
  TOwned<TQuorvelCamera> named(New<TQuorvelCamera>(nullptr));
  named->SetName("Kept");
  named->LoadFromDefinition(def.get());
  EXPECT_EQ(named->GetName(), "Kept");
}

TEST(QuorvelCamera, ClipPlanesOfOldFormDataAreReadAndDropped) {
  RegisterClasses({TQuorvelCamera::StaticClass()});
  TOwned<TComponent> root(New<TComponent>(nullptr));
  ReadComponentResource(root.get(),
                        "object Root: TComponent\n"
                        "  object Camera1: TQuorvelCamera\n"
                        "    FOV = 30.000000000000000000\n"
                        "    NearPlane = 0.100000001490116100\n"
                        "    FarPlane = 1000.000000000000000000\n"
                        "  end\n"
                        "end\n");
  auto* cam = dynamic_cast<TQuorvelCamera*>(root->FindComponent("Camera1"));
  ASSERT_NE(cam, nullptr);
  EXPECT_EQ(cam->GetFOV(), 30);
  const std::string written = WriteComponentResource(root.get());
  EXPECT_EQ(written.find("NearPlane"), std::string::npos) << written;
  EXPECT_EQ(written.find("FarPlane"), std::string::npos);
}

}  // namespace
}  // namespace quorvel
