#include "framework/gui3d/Light.h"
#include "framework/rtl/Exceptions.h"
#include "tests/context/ContextTestFixture.h"

namespace quorvel {
namespace {

using ContextLights = testkit::TSharedGLTest;

TEST_F(ContextLights, BothFormsOfAddLightKeepTheListsParallel) {
  TLightDescription framework;
  framework.Color = claRed;
  framework.LightType = TLightType::Spot;
  framework.SpotCutOff = 60;
  framework.Position = TPoint3D(1, 2, 3);
  EXPECT_EQ(Context->AddLight(framework), 0);

  TQuorvelShaderLight engine{};
  engine.LightType = int32_t(TLightType::Point);
  engine.Diffuse = TAlphaColorF{0, 1, 0, 1};
  engine.Intensity = 2.5f;
  engine.QuadraticAttenuation = 0.25f;
  engine.Enabled = 1;
  EXPECT_EQ(Context->AddLight(engine), 1);

  ASSERT_EQ(Context->GetLights().size(), 2u);
  ASSERT_EQ(Context->GetShaderLights().size(), 2u);
  // The framework's light becomes a shader record; the engine's record is kept as given.
  const TQuorvelShaderLight& first = Context->GetShaderLights()[0];
  EXPECT_EQ(first.LightType, int32_t(TLightType::Spot));
  EXPECT_FLOAT_EQ(first.Diffuse.R, 1.0f);
  EXPECT_FLOAT_EQ(first.SpotCosCutoff, 0.5f);
  EXPECT_EQ(first.Position.X, 1.0f);
  EXPECT_EQ(first.Position.W, 1.0f);
  EXPECT_EQ(first.Enabled, 1);
  const TQuorvelShaderLight& second = Context->GetShaderLights()[1];
  EXPECT_EQ(second.Intensity, 2.5f);
  EXPECT_EQ(second.QuadraticAttenuation, 0.25f);
  EXPECT_EQ(Context->GetLights()[1].LightType, TLightType::Point);
  EXPECT_TRUE(Context->GetLights()[1].Enabled);

  // Removing moves the later entries of both lists down.
  Context->RemoveLight(0);
  ASSERT_EQ(Context->GetLights().size(), 1u);
  ASSERT_EQ(Context->GetShaderLights().size(), 1u);
  EXPECT_EQ(Context->GetShaderLights()[0].Intensity, 2.5f);
  EXPECT_EQ(Context->GetLights()[0].LightType, TLightType::Point);

  // A bad index raises and leaves both lists alone.
  EXPECT_THROW(Context->RemoveLight(1), EArgumentOutOfRangeException);
  EXPECT_THROW(Context->RemoveLight(-1), EArgumentOutOfRangeException);
  EXPECT_EQ(Context->GetLights().size(), 1u);
  EXPECT_EQ(Context->GetShaderLights().size(), 1u);

  Context->ClearLights();
  EXPECT_TRUE(Context->GetLights().empty());
  EXPECT_TRUE(Context->GetShaderLights().empty());
}

}  // namespace
}  // namespace quorvel
