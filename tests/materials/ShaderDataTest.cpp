#include <gtest/gtest.h>

#include <cstddef>

#include "lib/materials/MaterialDefaultShaderData.h"

using namespace quorvel;

namespace {

bool AllZero(const void* AData, size_t ASize) {
  const auto* p = static_cast<const unsigned char*>(AData);
  for (size_t i = 0; i < ASize; ++i)
    if (p[i] != 0) return false;
  return true;
}

void ExpectVector(const TVector3D& v, float x, float y, float z, float w, const char* what) {
  EXPECT_EQ(v.X, x) << what;
  EXPECT_EQ(v.Y, y) << what;
  EXPECT_EQ(v.Z, z) << what;
  EXPECT_EQ(v.W, w) << what;
}

void ExpectColor(const TAlphaColorF& c, float r, float g, float b, float a, const char* what) {
  EXPECT_EQ(c.R, r) << what;
  EXPECT_EQ(c.G, g) << what;
  EXPECT_EQ(c.B, b) << what;
  EXPECT_EQ(c.A, a) << what;
}

TEST(ShaderData, CreateGivesTheInitialBlock) {
  const TQuorvelShaderData d = TQuorvelShaderData::Create();
  EXPECT_EQ(d.ShadingModel, 2);
  EXPECT_EQ(d.ShadingIntensity, 1.0f);
  EXPECT_EQ(d.Brightness, 1.0f);
  ExpectVector(d.ViewSize, 0, 0, 1, 1000, "ViewSize");
  ExpectVector(d.ClippingPlane, 0, 0, 0, 0, "ClippingPlane");
  EXPECT_EQ(d.FogMode, ShaderDataFogEnabled | ShaderDataFogLinear);
  EXPECT_EQ(d.FogMode, 3);
  EXPECT_EQ(d.FogDensity, 0.001f);
  EXPECT_EQ(d.FogStart, 100.0f);
  EXPECT_EQ(d.FogEnd, 500.0f);
  ExpectColor(d.FogColor, 0, 0, 0, 1, "FogColor");

  const TQuorvelShaderMaterial& m = d.Material;
  ExpectColor(m.Emissive, 0, 0, 0, 1, "_Emissive");
  ExpectColor(m.Ambient, 0.5f, 0.5f, 0.5f, 1, "_Ambient");
  ExpectColor(m.Diffuse, 1, 1, 1, 1, "_Diffuse");
  ExpectColor(m.Specular, 0.75f, 0.75f, 0.75f, 1, "_Specular");
  ExpectColor(m.Clipping, 0, 0, 0, 0, "_Clipping");
  EXPECT_EQ(m.AlphaCutoff.X, 0.0f);
  EXPECT_EQ(m.AlphaCutoff.Y, 0.0f);
  EXPECT_EQ(m.ToneMapExp, 1.0f);
  ExpectVector(m.Displacement, 0.1f, 0.1f, 0.1f, 1.0f, "_Displacement");
  ExpectVector(m.Features, 1, 0, 0, 0, "_Features");
  EXPECT_EQ(m.Shininess, 32.0f);
  EXPECT_EQ(m.Textures, 1);
  EXPECT_EQ(m.PoolTexturesOffset, 0);
  EXPECT_EQ(m.PoolTextures, 0);
  for (const TQuorvelShaderMaterialTexture& t : m.Texture) {
    ExpectVector(t.Feature, 0, 0, 0, 0, "_Feature");
    EXPECT_EQ(t.Tiling.X, 1.0f);
    EXPECT_EQ(t.Tiling.Y, 1.0f);
  }

  // Everything else starts at zero, padding included.
  EXPECT_TRUE(AllZero(&d, offsetof(TQuorvelShaderData, ShadingModel)));
  EXPECT_TRUE(AllZero(&d.Lights, sizeof(d.Lights) + 2 * sizeof(int32_t)));  // lights, count, options
  EXPECT_TRUE(AllZero(&d.FrustumMin, 6 * sizeof(TVector3D)));
  EXPECT_TRUE(AllZero(&d.PassData, sizeof(d.PassData)));
  EXPECT_TRUE(AllZero(m.Reserved1, sizeof(m.Reserved1)));
}

}  // namespace
