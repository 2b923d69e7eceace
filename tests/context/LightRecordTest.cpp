#include <cstddef>
#include <cstring>

#include "lib/context/ContextTypesLights.h"
#include "tests/context/ShaderTestSupport.h"

namespace quorvel {
namespace {

using namespace shader_test;

TEST(LightRecordTest, CreateFillsTheRecordFromTheDescription) {
  TLightDescription d;
  d.Enabled = true;
  d.Color = MakeAlphaColor(255, 128, 0, 255);
  d.LightType = TLightType::Spot;
  d.SpotCutOff = 60;
  d.SpotExponent = 2;
  d.Position = TPoint3D(1, 2, 3);
  d.Direction = TPoint3D(0, 0, -1);
  const TQuorvelShaderLight l = TQuorvelShaderLight::Create(d);
  EXPECT_EQ(l.LightType, 2);
  for (uint8_t b : l.Reserved1) EXPECT_EQ(b, 0);
  EXPECT_EQ(l.Position, TVector3D(1, 2, 3, 1));
  EXPECT_EQ(l.Direction, TVector3D(0, 0, -1, 1));
  EXPECT_FLOAT_EQ(l.Diffuse.R, 1.0f);
  EXPECT_NEAR(l.Diffuse.G, 128 / 255.0f, 1e-6);
  EXPECT_EQ(l.Ambient, TAlphaColorF(0, 0, 0, 1));
  EXPECT_EQ(l.Specular, TAlphaColorF(1, 1, 1, 1));
  EXPECT_EQ(l.Scattering, TVector3D(0.1f, 0.0034f, 1.0f, 0.84f));
  EXPECT_FLOAT_EQ(l.SpotCutoff, 60);
  EXPECT_NEAR(l.SpotCosCutoff, 0.5f, 1e-6);
  EXPECT_FLOAT_EQ(l.SpotExponent, 2);
  EXPECT_FLOAT_EQ(l.ConstantAttenuation, 1);
  EXPECT_FLOAT_EQ(l.LinearAttenuation, 0);
  EXPECT_FLOAT_EQ(l.QuadraticAttenuation, 0);
  EXPECT_FLOAT_EQ(l.Intensity, 1);
  EXPECT_EQ(l.Enabled, 1);

  const TLightDescription back = l.ToLightDescription();
  EXPECT_EQ(back.Enabled, d.Enabled);
  EXPECT_EQ(back.Color, d.Color);
  EXPECT_EQ(back.LightType, d.LightType);
  EXPECT_FLOAT_EQ(back.SpotCutOff, d.SpotCutOff);
  EXPECT_FLOAT_EQ(back.SpotExponent, d.SpotExponent);
  EXPECT_EQ(back.Position, d.Position);
  EXPECT_EQ(back.Direction, d.Direction);
}

TEST(LightRecordTest, OnlyAPositiveEnabledValueCountsAsEnabled) {
  TLightDescription d;
  d.Enabled = false;
  TQuorvelShaderLight l = TQuorvelShaderLight::Create(d);
  EXPECT_EQ(l.Enabled, 0);
  EXPECT_FALSE(l.IsEnabled());
  l.Enabled = -1;
  EXPECT_FALSE(l.IsEnabled());
  EXPECT_FALSE(l.ToLightDescription().Enabled);
  l.Enabled = 7;
  EXPECT_TRUE(l.IsEnabled());
  // A type outside the enumeration must not turn into an enumerator that does not exist.
  l.LightType = 0x0101;
  EXPECT_EQ(l.ToLightDescription().LightType, TLightType::Point);
  l.LightType = 9;
  EXPECT_EQ(l.ToLightDescription().LightType, TLightType::Directional);
}

TEST(LightRecordTest, DefaultMaterialBlockHoldsTheInitialValuesAndZeroElsewhere) {
  const TQuorvelShaderMaterial m = CreateDefaultShaderMaterial();
  const auto* bytes = reinterpret_cast<const uint8_t*>(&m);
  auto f = [&](size_t offset) {
    float v;
    std::memcpy(&v, bytes + offset, 4);
    return v;
  };
  auto i = [&](size_t offset) {
    int32_t v;
    std::memcpy(&v, bytes + offset, 4);
    return v;
  };
  struct Vec4Case {
    size_t Offset;
    float X, Y, Z, W;
  };
  for (const Vec4Case& c : {Vec4Case{0, 0, 0, 0, 1}, Vec4Case{16, 0.5f, 0.5f, 0.5f, 1}, Vec4Case{32, 1, 1, 1, 1},
                            Vec4Case{48, 0.75f, 0.75f, 0.75f, 1}, Vec4Case{64, 0, 0, 0, 0},
                            Vec4Case{96, 0.1f, 0.1f, 0.1f, 1}, Vec4Case{112, 1, 0, 0, 0}}) {
    EXPECT_FLOAT_EQ(f(c.Offset), c.X) << c.Offset;
    EXPECT_FLOAT_EQ(f(c.Offset + 4), c.Y) << c.Offset;
    EXPECT_FLOAT_EQ(f(c.Offset + 8), c.Z) << c.Offset;
    EXPECT_FLOAT_EQ(f(c.Offset + 12), c.W) << c.Offset;
  }
  EXPECT_FLOAT_EQ(f(80), 0);
  EXPECT_FLOAT_EQ(f(84), 0);
  EXPECT_FLOAT_EQ(f(88), 1.0f);
  EXPECT_EQ(i(92), 0);
  EXPECT_FLOAT_EQ(f(128), 32.0f);
  EXPECT_EQ(i(132), 1);
  EXPECT_EQ(i(136), 0);
  EXPECT_EQ(i(140), 0);
  for (size_t t = 0; t < 16; ++t) {
    const size_t base = 144 + 32 * t;
    for (size_t k = 0; k < 4; ++k) EXPECT_FLOAT_EQ(f(base + 4 * k), 0) << t;
    EXPECT_FLOAT_EQ(f(base + 16), 1) << t;
    EXPECT_FLOAT_EQ(f(base + 20), 1) << t;
    EXPECT_EQ(i(base + 24), 0) << t;
    EXPECT_EQ(i(base + 28), 0) << t;
  }
}

// The GLSL structs as the shader sources declare them, in a std140 block: the offsets the
// driver reports must be the records' offsets, so arrays of records upload unchanged.
class LightRecordLayoutTest : public GLSuite {};

TEST_F(LightRecordLayoutTest, RecordOffsetsEqualTheDriversStd140Offsets) {
  const std::string structs =
      "struct Light { int _LightType; vec4 _Position; vec4 _Direction; vec4 _Ambient; vec4 _Diffuse;\n"
      "  vec4 _Specular; vec4 _Scattering; float _SpotCutOff; float _SpotCosCutoff; float _SpotExponent;\n"
      "  float _ConstantAttenuation; float _LinearAttenuation; float _QuadraticAttenuation; float _Intensity;\n"
      "  int _Enabled; };\n"
      "struct Texture { vec4 _Feature; vec2 _Tiling; };\n"
      "struct Material { vec4 _Emissive; vec4 _Ambient; vec4 _Diffuse; vec4 _Specular; vec4 _Clipping;\n"
      "  vec2 _AlphaCutoff; float _ToneMapExp; vec4 _Displacement; vec4 _Features; float _Shininess;\n"
      "  int _Textures; int _PoolTexturesOffset; int _PoolTextures; Texture _Texture[16]; };\n"
      "layout(std140) uniform ShaderData { Material _Material; Light _Lights[2]; };\n";
  auto vs = VertexShader(std::string(PassThroughVS));
  auto ps = PixelShader("#version 430\n" + structs +
                        "out vec4 o_Color;\n"
                        "void main() { o_Color = _Material._Diffuse + _Lights[1]._Diffuse\n"
                        "  + _Material._Texture[15]._Feature * float(_Lights[0]._Enabled); }\n");
  auto program = Link(*vs, *ps);
  const GLuint prog = static_cast<GLuint>(program->GetProg());

  const GLuint block = glGetUniformBlockIndex(prog, "ShaderData");
  ASSERT_NE(block, GL_INVALID_INDEX);
  GLint blockSize = 0;
  glGetActiveUniformBlockiv(prog, block, GL_UNIFORM_BLOCK_DATA_SIZE, &blockSize);
  EXPECT_EQ(blockSize, static_cast<GLint>(sizeof(TQuorvelShaderMaterial) + 2 * sizeof(TQuorvelShaderLight)));

  constexpr size_t lights = sizeof(TQuorvelShaderMaterial);
  constexpr size_t second = lights + sizeof(TQuorvelShaderLight);
  using L = TQuorvelShaderLight;
  using M = TQuorvelShaderMaterial;
  struct Case {
    const char* Name;
    size_t Offset;
  };
  const Case cases[] = {
      {"_Material._Emissive", offsetof(M, Emissive)},
      {"_Material._Ambient", offsetof(M, Ambient)},
      {"_Material._Diffuse", offsetof(M, Diffuse)},
      {"_Material._Specular", offsetof(M, Specular)},
      {"_Material._Clipping", offsetof(M, Clipping)},
      {"_Material._AlphaCutoff", offsetof(M, AlphaCutoff)},
      {"_Material._ToneMapExp", offsetof(M, ToneMapExp)},
      {"_Material._Displacement", offsetof(M, Displacement)},
      {"_Material._Features", offsetof(M, Features)},
      {"_Material._Shininess", offsetof(M, Shininess)},
      {"_Material._Textures", offsetof(M, Textures)},
      {"_Material._PoolTexturesOffset", offsetof(M, PoolTexturesOffset)},
      {"_Material._PoolTextures", offsetof(M, PoolTextures)},
      {"_Material._Texture[0]._Feature", offsetof(M, Texture) + offsetof(TQuorvelShaderMaterialTexture, Feature)},
      {"_Material._Texture[0]._Tiling", offsetof(M, Texture) + offsetof(TQuorvelShaderMaterialTexture, Tiling)},
      {"_Material._Texture[15]._Tiling",
       offsetof(M, Texture) + 15 * sizeof(TQuorvelShaderMaterialTexture) + offsetof(TQuorvelShaderMaterialTexture, Tiling)},
      {"_Lights[0]._LightType", lights + offsetof(L, LightType)},
      {"_Lights[0]._Position", lights + offsetof(L, Position)},
      {"_Lights[0]._Direction", lights + offsetof(L, Direction)},
      {"_Lights[0]._Ambient", lights + offsetof(L, Ambient)},
      {"_Lights[0]._Diffuse", lights + offsetof(L, Diffuse)},
      {"_Lights[0]._Specular", lights + offsetof(L, Specular)},
      {"_Lights[0]._Scattering", lights + offsetof(L, Scattering)},
      {"_Lights[0]._SpotCutOff", lights + offsetof(L, SpotCutoff)},
      {"_Lights[0]._SpotCosCutoff", lights + offsetof(L, SpotCosCutoff)},
      {"_Lights[0]._SpotExponent", lights + offsetof(L, SpotExponent)},
      {"_Lights[0]._ConstantAttenuation", lights + offsetof(L, ConstantAttenuation)},
      {"_Lights[0]._LinearAttenuation", lights + offsetof(L, LinearAttenuation)},
      {"_Lights[0]._QuadraticAttenuation", lights + offsetof(L, QuadraticAttenuation)},
      {"_Lights[0]._Intensity", lights + offsetof(L, Intensity)},
      {"_Lights[0]._Enabled", lights + offsetof(L, Enabled)},
      {"_Lights[1]._LightType", second + offsetof(L, LightType)},
      {"_Lights[1]._Enabled", second + offsetof(L, Enabled)},
  };
  for (const Case& c : cases) {
    GLuint index = GL_INVALID_INDEX;
    glGetUniformIndices(prog, 1, &c.Name, &index);
    ASSERT_NE(index, GL_INVALID_INDEX) << c.Name;
    GLint offset = -1;
    glGetActiveUniformsiv(prog, 1, &index, GL_UNIFORM_OFFSET, &offset);
    EXPECT_EQ(offset, static_cast<GLint>(c.Offset)) << c.Name;
  }
}

}  // namespace
}  // namespace quorvel
