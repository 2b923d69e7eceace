#include <gtest/gtest.h>

#include <cstring>

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
