#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "framework/rtl/Finally.h"
#include "lib/context/Context.h"
#include "lib/materials/MaterialDefaultGLSL.h"
#include "tests/materials/NodeTestSupport.h"

using namespace quorvel;
using namespace quorvel::node_test;

namespace quorvel::materials_test {

// A context class whose driver strings the test chooses.
class TFakeDriverContext : public TQuorvelContext {
  FW_CLASS_META(TFakeDriverContext, TQuorvelContext, TQuorvelContextClass)
public:
  using TQuorvelContext::TQuorvelContext;
};

struct TFakeDriverContextClass : TQuorvelContextClass {
  using TQuorvelContextClass::TQuorvelContextClass;
  static inline std::string Vendor, Renderer, Version, Extensions;
  std::string PlatformGetVendorName() const override { return Vendor; }
  std::string PlatformGetRendererName() const override { return Renderer; }
  std::string PlatformGetVersion() const override { return Version; }
  std::string PlatformGetExtensionString() const override { return Extensions; }
};

FW_CLASS_IMPL_META(TFakeDriverContext, "Quorvel.Test.Materials", TFakeDriverContextClass)
FW_CLASS_NO_MEMBERS(TFakeDriverContext)

}  // namespace quorvel::materials_test

namespace {

using namespace quorvel::materials_test;

// Installs the fake class as the default context class while it lives.
class TFakeDriver {
public:
  TFakeDriver(std::string AVendor, std::string ARenderer, std::string AVersion, std::string AExtensions)
      : FPrevious(TContextManager::DefaultContextClass()) {
    TFakeDriverContextClass::Vendor = std::move(AVendor);
    TFakeDriverContextClass::Renderer = std::move(ARenderer);
    TFakeDriverContextClass::Version = std::move(AVersion);
    TFakeDriverContextClass::Extensions = std::move(AExtensions);
    TContextManager::RegisterContext(TFakeDriverContext::StaticMeta(), true);
  }
  ~TFakeDriver() {
    if (FPrevious) TContextManager::RegisterContext(FPrevious, true);
    TContextManager::UnregisterContext(TFakeDriverContext::StaticMeta());
  }

private:
  const TContextClass* FPrevious;
};

// Every piece occurs, each after the end of the one before it.
void ExpectInOrder(const std::string& AText, std::initializer_list<std::string> APieces, const std::string& ACase) {
  size_t at = 0;
  for (const std::string& piece : APieces) {
    const size_t found = AText.find(piece, at);
    if (found == std::string::npos) {
      ADD_FAILURE() << ACase << ": missing or out of order:\n" << piece << "\n--- in ---\n" << AText;
      return;
    }
    at = found + piece.size();
  }
}

void ExpectAbsent(const std::string& AText, std::initializer_list<std::string> APieces, const std::string& ACase) {
  for (const std::string& piece : APieces)
    EXPECT_EQ(AText.find(piece), std::string::npos) << ACase << ": unexpected\n" << piece;
}

template <class T>
TOwned<T> MakeBuilder(std::initializer_list<const char*> ADefines = {}) {
  TOwned<T> b(New<T>(nullptr));
  for (const char* d : ADefines) b->AddDefine(d);
  return b;
}

std::string MainOf(const std::string& AText) { return AText.substr(AText.find("void main(){")); }

TEST(GLSLBuilders, DriverDefinesKeepTheDriverStringsWhole) {
  TFakeDriver driver("Mesa/X.org", "llvmpipe (LLVM 15.0.6, 256 bits)", "4.5 (Compatibility Profile) Mesa 22.3.6",
                     "GL_ARB_multitexture GL_ext_Lower");
  auto b = MakeBuilder<TQuorvelGLSLVertexShader>();
  EXPECT_EQ(b->GetVendor(), "Mesa/X.org");
  EXPECT_EQ(b->GetVersion(), "4.5 (Compatibility Profile) Mesa 22.3.6");
  for (const char* name : {"MSWINDOWS", "MESA/X.ORG", "LLVMPIPE (LLVM 15.0.6, 256 BITS)", "4.5", "GL_ARB_MULTITEXTURE",
                           "GL_EXT_LOWER", "VERTEXSHADER", "VARYING_STRUCTS", "INOUTVARS"})
    EXPECT_TRUE(b->Defined(name)) << name;
  for (const char* name : {"", "4.5 (COMPATIBILITY PROFILE) MESA 22.3.6", "(COMPATIBILITY", "Mesa/X.org",
                           "GL_ext_Lower", "FRAGMENTSHADER"})
    EXPECT_FALSE(b->Defined(name)) << name;
  EXPECT_EQ(b->GetExtensions()->ToStringArray(), (std::vector<std::string>{"GL_ARB_multitexture", "GL_ext_Lower"}));

  auto f = MakeBuilder<TQuorvelGLSLFragmentShader>();
  for (const char* name : {"FRAGMENTSHADER", "VARYING_STRUCTS", "INOUTVARS", "USE_EMISSIVE", "4.5"})
    EXPECT_TRUE(f->Defined(name)) << name;
  EXPECT_FALSE(f->Defined("VERTEXSHADER"));
}

TEST(GLSLBuilders, EmptyDriverStringsGiveTheEmptyDefineAndExtensionsSplitOnSingleBlanks) {
  {
    TFakeDriver driver("", "", "", "");
    auto b = MakeBuilder<TQuorvelGLSLVertexShader>();
    EXPECT_TRUE(b->Defined(""));
    EXPECT_EQ(b->GetExtensions()->Count(), 0);
  }
  TFakeDriver driver("V", "R", " 4.5", "GL_A  GL_B ");
  auto b = MakeBuilder<TQuorvelGLSLVertexShader>();
  EXPECT_EQ(b->GetExtensions()->ToStringArray(), (std::vector<std::string>{"GL_A", "", "GL_B", ""}));
  // A version opening with a blank has an empty first word.
  EXPECT_TRUE(b->Defined(""));
  EXPECT_FALSE(b->Defined("4.5"));
}

TEST(GLSLBuilders, VertexTextOpensWithTheDeclarationsInOrder) {
  auto b = MakeBuilder<TQuorvelGLSLVertexShader>();
  const std::string text = b->ToString();
  EXPECT_EQ(text.rfind("#version 430\r\n\r\n\r\nstruct Light{\r\n  int _LightType;\r\n  vec4 _Position;\r\n", 0), 0u);
  ExpectInOrder(text,
                {"  float _SpotCutOff;\r\n", "  int _Enabled;\r\n};\r\n\r\n",
                 "struct Texture{\r\n  vec4 _Feature;\r\n  vec2 _Tiling;\r\n};\r\n\r\n",
                 "struct Material{\r\n  vec4 _Emissive;\r\n", "  vec2 _AlphaCutoff;\r\n  float _ToneMapExp;\r\n",
                 "  Texture _Texture[16];\r\n};\r\n\r\n", "struct PassData{\r\n  mat4 _ShadowMapMatrix[8];\r\n",
                 "  float _PBRAO;\r\n};\r\n\r\n", "struct TLocals{\r\n  vec4 Position;\r\n",
                 "  vec3 Binormal;\r\n};\r\n\r\n", "in vec3 a_Position;\r\nin vec3 a_Normal;\r\nin vec4 a_Color;\r\n",
                 "in vec3 a_Tangent;\r\nin mat4 a_ModelMatrix;\r\n\r\n",
                 "layout (binding=0, std140) uniform ShaderData{\r\n  mat4 _ModelViewProjectionMatrix;\r\n",
                 "  vec3 _ViewDir;\r\n  int _ShadingModel;\r\n  Material _Material[1];\r\n  Light _Lights[32];\r\n"
                 "  int _LightsCount;\r\n",
                 "  vec4 _ClippingPlane;\r\n  PassData _PassData[1];\r\n};\r\n\r\n",
                 "struct TVaryingStruct{\r\n  vec4 v_VertPos;\r\n  vec3 v_TransfVertPos;\r\n",
                 "  mat4 v_ModelMatrix;\r\n};\r\nout TVaryingStruct vars;\r\n",
                 "vec4 TransformModel(in mat4 p_ModelMatrix, vec4 position){\r\n",
                 "void VertexShader(inout TLocals DATA){\r\n\r\n}\r\n", "void main(){\r\n  TLocals LOCALS;\r\n"},
                "vertex");
  ExpectAbsent(text, {"v_ViewDir", "v_TexCoord1", "attribute ", "varying ", "layout (location"}, "vertex");
}

TEST(GLSLBuilders, FragmentOutputsFollowDeferredAndDeprecated) {
  auto b = MakeBuilder<TQuorvelGLSLFragmentShader>();
  const std::string forward = b->ToString();
  ExpectInOrder(forward,
                {"};\r\nin TVaryingStruct vars;\r\n", "void SurfaceShader(inout TLocals DATA){\r\n\r\n}\r\n",
                 "layout (location = 0) out vec4 o_Albedo;\r\n\r\n", "layout (location = 1) out float o_Alpha;\r\n\r\n",
                 "layout (location = 2) out vec4 o_Position;\r\n\r\n", "layout (location = 3) out vec3 o_Normals;\r\n\r\n",
                 "layout (location = 4) out vec3 o_Emissive;\r\n\r\nvoid main(){\r\n"},
                "forward");
  ExpectAbsent(forward, {"o_Components", "o_Ambient", "o_Specular", "in vec3 a_Position"}, "forward");
  b->AddDefine("DEFERRED");
  ExpectInOrder(b->ToString(),
                {"layout (location = 4) out vec3 o_Emissive;\r\n\r\n",
                 "layout (location = 5) out vec4 o_Components;\r\n\r\n", "layout (location = 6) out vec3 o_Ambient;\r\n\r\n",
                 "layout (location = 7) out vec3 o_Specular;\r\n\r\nvoid main(){\r\n"},
                "deferred");
  b->AddDefine("DEPRECATED");
  ExpectAbsent(b->ToString(), {"layout (location", "o_Albedo"}, "deprecated");
}

TEST(GLSLBuilders, EachBuilderNumbersItsOwnBlocksFromZero) {
  auto first = MakeBuilder<TQuorvelGLSLVertexShader>();
  auto* uniforms = first->GetGlobals()->GetUniforms();
  auto* extra = uniforms->AddNew<TQuorvelGLSLUBO>(uintptr_t(7));
  extra->SetId("Extra");
  extra->AddDeclaration("_Value", TQuorvelShaderNodeVariableType::stVec4);
  EXPECT_EQ(extra->GetBinding(), 1);
  EXPECT_EQ(extra->GetReferenceID(), 7u);
  auto second = MakeBuilder<TQuorvelGLSLFragmentShader>();
  ExpectInOrder(first->ToString(),
                {"layout (binding=0, std140) uniform ShaderData{\r\n",
                 "layout (binding=1, std140) uniform Extra{\r\n  vec4 _Value;\r\n};\r\n\r\n"},
                "first");
  ExpectInOrder(second->ToString(), {"layout (binding=0, std140) uniform ShaderData{\r\n"}, "second");
  // A block keeps its number when blocks made before it go.
  auto* later = uniforms->AddNew<TQuorvelGLSLUBO>();
  uniforms->Remove(extra);
  EXPECT_EQ(later->GetBinding(), 2);
}

struct TGoldenCase {
  const char* Name;
  bool Fragment;
  std::initializer_list<const char*> Defines;
  std::initializer_list<std::string> InOrder;
  std::initializer_list<std::string> Absent;
};

const std::string LoopHeader = "  for(int i = 0; i < _LightsCount; i++){\r\n";

const TGoldenCase GoldenCases[] = {
    {"vertex main with the builder's defines",
     false,
     {},
     {"void main(){\r\n  TLocals LOCALS;\r\n\r\n  LOCALS.Position = vec4(a_Position, 1.0);\r\n"
      "  LOCALS.TransfVertexPos = a_ModelMatrix * LOCALS.Position;\r\n"
      "  LOCALS.TransfVertexPos.xyz /= LOCALS.TransfVertexPos.w;\r\n"
      "  LOCALS.WorldViewProjVertPos = _ProjectionMatrix * _ViewMatrix * a_ModelMatrix * LOCALS.Position;\r\n"
      "  LOCALS.TexCoord0 = a_TexCoord0;\r\n  LOCALS.Color0 = a_Color;\r\n"
      "  mat4 l_TIMMat = transpose(inverse(a_ModelMatrix));\r\n",
      "  LOCALS.Binormal = normalize(a_ModelMatrix * vec4(cross(a_Normal, a_Tangent), 0.0)).xyz;\r\n\r\n"
      "  VertexShader(LOCALS);\r\n"
      "  vars.v_TBN = mat3(LOCALS.Tangent, LOCALS.Binormal, LOCALS.Normal);\r\n",
      "\r\n  vars.v_TexCoord0 = LOCALS.TexCoord0;\r\n  vars.v_Color0 = LOCALS.Color0;\r\n",
      "  vars.v_WorldViewProjVertPos = LOCALS.WorldViewProjVertPos;\r\n"
      "  gl_Position = LOCALS.WorldViewProjVertPos;\r\n  vars.v_ModelMatrix = a_ModelMatrix;\r\n}\r\n"},
     {"LOCALS.Displace", "v_ReflProjTextureCoords", "LOCALS.TexCoord1", "v_TexCoord1", "gl_PointSize",
      "v_ClipDistance", "LOCALS.ClippingPlane"}},
    {"second texture set without the first",
     false,
     {"USE_TEXCOORD2"},
     {"  vec2 TexCoord0;\r\n  vec2 TexCoord2;\r\n  vec4 Color0;\r\n", "  vec2 v_TexCoord0;\r\n  vec2 v_TexCoord2;\r\n",
      "  LOCALS.TexCoord2 = a_TexCoord2;\r\n", "  vars.v_TexCoord2 = LOCALS.TexCoord2;\r\n"},
     {" TexCoord1;", "v_TexCoord1", "LOCALS.TexCoord1", " TexCoord3;", "v_TexCoord3", "LOCALS.TexCoord3"}},
    {"displacement without its varying",
     false,
     {"DISPLACEMENT"},
     {"  vec4 Displace;\r\n", "  LOCALS.Position = vec4(a_Position, 1.0);\r\n",
      "  LOCALS.Displace = _Material[0]._Displacement.w * (vec4(a_Normal, 0.0) * l_DisplaceSample * "
      "vec4(_Material[0]._Displacement.xyz, 0.0));\r\n"
      "  LOCALS.Position += LOCALS.Displace;\r\n\r\n  LOCALS.TransfVertexPos"},
     {"v_Displace"}},
    {"displacement with its varying",
     false,
     {"DISPLACEMENT", "DISPLACE_VAR"},
     {"  vec4 v_Displace;\r\n", "  vars.v_ModelMatrix = a_ModelMatrix;\r\n  vars.v_Displace = LOCALS.Displace;\r\n}"},
     {}},
    {"clipping plane",
     false,
     {"CLIPPINGPLANE"},
     {"  vec4 ClippingPlane;\r\n", "  float v_ClipDistance;\r\n", "  LOCALS.ClippingPlane = _ClippingPlane;\r\n",
      "  VertexShader(LOCALS);\r\n"
      "  vars.v_ClipDistance = dot(vec4(LOCALS.TransfVertexPos.xyz, 1.0), LOCALS.ClippingPlane);\r\n"},
     {}},
    {"shadow doubles the empty line",
     false,
     {"SHADOW"},
     {"void main(){\r\n  TLocals LOCALS;\r\n\r\n\r\n  LOCALS.Position"},
     {}},
    {"normal map frame",
     false,
     {"NORMALMAP"},
     {"  LOCALS.Normal = normalize(a_ModelMatrix * vec4(a_Normal, 0.0)).xyz;\r\n"
      "  LOCALS.Tangent = normalize(a_ModelMatrix * vec4(a_Tangent, 0.0)).xyz;\r\n"},
     {"l_TIMMat"}},
    {"point sprites",
     false,
     {"USE_POINTSPRITE"},
     {"  vec4 v_ParticleSettings;\r\n  vec4 v_ParticleTimeInfo;\r\n",
      "  gl_PointSize = ((l_Size * SIZE_MULTIPLIER * l_Aspect) / l_Dist) * l_Aspect;\r\n"
      "  vars.v_ParticleSettings = a_Color2;\r\n  vars.v_ParticleTimeInfo = a_Color3;\r\n\r\n  VertexShader(LOCALS);"},
     {}},
    {"Lambert",
     true,
     {"LIGHTING"},
     {"float GetDirLightDir(in Light p_Light, in vec3 p_TransVertPos, inout vec4 p_LightDir){\r\n",
      "float lightComputeDiffuse(in vec3 p_Normal, in vec3 p_LightDir){\r\n", "void main(){",
      LoopHeader + "    LOCALS.LightType = _Lights[i]._LightType;\r\n"
                   "    LOCALS.LightDist = GetLightDir(_Lights[i], vars.v_TransfVertPos, LOCALS.LightDir, "
                   "LOCALS.LightVec);\r\n",
      "    LOCALS.SceneAttenuation += LOCALS.Attenuation;\r\n\r\n"
      "    LOCALS.Shading.x = lightComputeDiffuse(LOCALS.Normal, LOCALS.LightDir.xyz);\r\n"
      "    LOCALS.Shading.y = 0.0;\r\n"
      "    LOCALS.Shading = LOCALS.Shading * vec2(LOCALS.Attenuation) * vec2(l_Falloff);\r\n"
      "    LOCALS.Shading *= _ShadingIntensity;\r\n    LOCALS.Ambient += _Lights[i]._Ambient.rgb;\r\n"
      "    LOCALS.Diffuse += _Lights[i]._Diffuse.rgb * _Lights[i]._Intensity * LOCALS.Shading.x;\r\n\r\n  }\r\n"},
     {"lightComputeSpecular", "LOCALS.Specular +=", "ShadowCalculation"}},
    {"Phong with specular",
     true,
     {"LIGHTING", "PHONG", "BLINNPHONG", "USE_SPECULAR"},
     {"float lightComputeSpecularPhong(in vec3 p_Normal, in vec3 p_ViewDir, in vec3 p_LightDir, in float p_Shiny){\r\n"
      "  vec3 l_R = -reflect(p_LightDir, p_Normal);\r\n",
      "    if(_Material[0]._Shininess <= 0.001){\r\n      LOCALS.Shading.y = 0.0;\r\n    }else{\r\n"
      "      LOCALS.Shading.y = lightComputeSpecularPhong(LOCALS.Normal, LOCALS.FragViewDir, LOCALS.LightDir.xyz, "
      "_Material[0]._Shininess);\r\n",
      "    LOCALS.Specular += _Lights[i]._Specular.rgb * LOCALS.Shading.y;\r\n\r\n  }\r\n"},
     {"lightComputeSpecular("}},
    {"Blinn-Phong without specular sum",
     true,
     {"LIGHTING", "BLINNPHONG"},
     {"float lightComputeSpecular(in vec3 p_Normal, in vec3 p_ViewDir, in vec3 p_LightDir, in float p_Shiny){\r\n",
      "      LOCALS.Shading.y = lightComputeSpecular(LOCALS.Normal, LOCALS.FragViewDir, LOCALS.LightDir.xyz, "
      "_Material[0]._Shininess);\r\n"},
     {"Phong(", "LOCALS.Specular +="}},
    {"unlit",
     true,
     {"PHONG", "SHADOW", "SHADOWMAPPING"},
     {"  TLocals LOCALS;\r\n  LOCALS.Emissive = vec3(0.00, 0.00, 0.00);\r\n"
      "  LOCALS.BaseColor = vec4(1.00, 1.00, 1.00, 1.00);\r\n  LOCALS.SumColor = vec3(1.00, 1.00, 1.00);\r\n"
      "  LOCALS.Alpha = 1.0;\r\n  LOCALS.BumpSum = vec2(1.00, 1.00);\r\n"},
     {"for(", "lightComputeDiffuse", " LightDir;", "LOCALS.LightDir", "LOCALS.Attenuation", "ShadowSum",
      " Specular;", "LOCALS.Specular", "ShadowCalculation(_"}},
    {"locals under lighting and shadow",
     true,
     {"LIGHTING", "SHADOW"},
     {"struct TLocals{\r\n  vec4 LightDir;\r\n  vec3 LightVec;\r\n  int LightType;\r\n",
      "  vec2 Shading;\r\n  float ShadowSum;\r\n  vec2 BumpSum;\r\n};\r\n",
      "  TLocals LOCALS;\r\n  LOCALS.Attenuation = 1.0;\r\n  LOCALS.SceneAttenuation = 0.0;\r\n"
      "  LOCALS.Ambient = vec3(0.00, 0.00, 0.00);\r\n  LOCALS.Diffuse = vec3(0.00, 0.00, 0.00);\r\n"
      "  LOCALS.Specular = vec3(0.00, 0.00, 0.00);\r\n  LOCALS.Emissive = vec3(0.00, 0.00, 0.00);\r\n"
      "  LOCALS.SpecularColor = vec3(0.00, 0.00, 0.00);\r\n  LOCALS.BaseColor = vec4(1.00, 1.00, 1.00, 1.00);\r\n"
      "  LOCALS.SumColor = vec3(1.00, 1.00, 1.00);\r\n  LOCALS.Alpha = 1.0;\r\n  LOCALS.ShadowSum = 0.0;\r\n"
      "  LOCALS.BumpSum = vec2(1.00, 1.00);\r\n",
      LoopHeader},
     // Neither shadow technique: neither the function nor its call.
     {"ShadowCalculation", " TexCoord0;"}},
    {"deferred starts",
     true,
     {"LIGHTING", "DEFERRED"},
     {"  LOCALS.Ambient = vec3(1.00, 1.00, 1.00);\r\n  LOCALS.Diffuse = vec3(1.00, 1.00, 1.00);\r\n"
      "  LOCALS.Specular = vec3(1.00, 1.00, 1.00);\r\n  LOCALS.Emissive = vec3(0.00, 0.00, 0.00);\r\n"},
     {"for(int i"}},
    {"shadow mapping per light",
     true,
     {"LIGHTING", "SHADOW", "SHADOWMAPPING"},
     {"float ShadowCalculation(sampler2D p_ShadowMapTexture, mat4 p_ShadowMapMatrix, mat4 p_ModelMatrix, vec4 "
      "p_LightDir){\r\n",
      "\r\n    LOCALS.ShadowSum += ShadowCalculation(_ShadowMapTexture0, _PassData[0]._ShadowMapMatrix[0], "
      "vars.v_ModelMatrix, LOCALS.LightDir);\r\n  }\r\n"},
     {}},
    {"variance shadow mapping per light",
     true,
     {"LIGHTING", "SHADOW", "VARIANCESHADOWMAPPING"},
     {"float ShadowCalculation(sampler2D p_ShadowMapTexture, mat4 p_ShadowMapMatrix, mat4 p_ModelMatrix){\r\n",
      "    LOCALS.ShadowSum += ShadowCalculation(_ShadowMapTexture0, _PassData[0]._ShadowMapMatrix[0], "
      "vars.v_ModelMatrix);\r\n  }\r\n"},
     {"mat4 p_ModelMatrix, vec4 p_LightDir){"}},
    {"physically based lights replace the classic terms",
     true,
     {"LIGHTING", "PBR", "BLINNPHONG"},
     {LoopHeader, "    LOCALS.SceneAttenuation += LOCALS.Attenuation;\r\n\r\n    vec3 L = LOCALS.LightDir.xyz;\r\n",
      "    LOCALS.Shading *= (vec2(LOCALS.Attenuation) * vec2(l_Falloff));\r\n  }\r\n"},
     {"LOCALS.Shading.x =", "LOCALS.Shading.y ="}},
};

TEST(GLSLBuilders, GoldenFragments) {
  for (const TGoldenCase& c : GoldenCases) {
    TOwned<TQuorvelGLSLNodeBuilder> b;
    if (c.Fragment)
      b.reset(New<TQuorvelGLSLFragmentShader>(nullptr));
    else
      b.reset(New<TQuorvelGLSLVertexShader>(nullptr));
    for (const char* d : c.Defines) b->AddDefine(d);
    const std::string text = b->ToString();
    ExpectInOrder(text, c.InOrder, c.Name);
    ExpectAbsent(text, c.Absent, c.Name);
    // Nothing is cached: the same tree prints the same text again.
    EXPECT_EQ(b->ToString(), text) << c.Name;
  }
}

TEST(GLSLBuilders, ReflectionAddsOneStatementRefractionNone) {
  auto b = MakeBuilder<TQuorvelGLSLVertexShader>();
  const std::string plain = MainOf(b->ToString());
  b->AddDefine("REFRACTION");
  EXPECT_EQ(MainOf(b->ToString()), plain);
  b->AddDefine("REFLECTION");
  const std::string statement =
      "  vars.v_ReflProjTextureCoords = (_PassData[0]._ReflectTextureMatrix * a_ModelMatrix) * LOCALS.Position;\r\n";
  std::string reflected = MainOf(b->ToString());
  const size_t at = reflected.find(statement);
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(reflected.erase(at, statement.size()), plain);
  ExpectInOrder(b->ToString(), {"  vec4 v_ReflProjTextureCoords;\r\n"}, "reflection varying");
}

TEST(GLSLBuilders, LooseFormWithoutVaryingStruct) {
  auto b = MakeBuilder<TQuorvelGLSLFragmentShader>({"LIGHTING"});
  b->RemoveDefine("VARYING_STRUCTS");
  b->RemoveDefine("INOUTVARS");
  const std::string text = b->ToString();
  ExpectInOrder(text,
                {"varying vec4 v_VertPos;\r\n", "varying vec3 v_ViewDir;\r\n",
                 "float GetDirLightDir(in int i, in vec3 p_TransVertPos, inout vec4 p_LightDir){\r\n"
                 "  vec3 l_VP = _Lights[i]._Position.xyz - p_TransVertPos;\r\n",
                 "    return GetDirLightDir(i, p_TransVertPos, p_LightDir);\r\n",
                 "    LOCALS.LightDist = GetLightDir(i, v_TransfVertPos, LOCALS.LightDir, LOCALS.LightVec);\r\n",
                 "      LOCALS.Attenuation = getAttenuation(i, LOCALS.LightDist, LOCALS.LightVec);\r\n"},
                "loose fragment");
  ExpectAbsent(text, {"TVaryingStruct", "vars.", "v_TexCoord3", "v_Displace", "v_ParticleSettings"}, "loose fragment");

  auto v = MakeBuilder<TQuorvelGLSLVertexShader>({"USE_POINTSPRITE"});
  v->RemoveDefine("VARYING_STRUCTS");
  v->RemoveDefine("INOUTVARS");
  const std::string vertex = v->ToString();
  ExpectInOrder(vertex,
                {"attribute vec3 a_Position;\r\n", "varying vec3 v_ViewDir;\r\n",
                 "  LOCALS.TransfVertexPos = TransformModel(a_ModelMatrix, LOCALS.Position);\r\n"
                 "  LOCALS.TransfVertexPos.xyz /= LOCALS.TransfVertexPos.w;\r\n  v_ViewDir = _ViewDir;\r\n",
                 "  LOCALS.Normal = normalize(TransformModelNormal(l_NormalMatrix, a_Normal));\r\n",
                 "  gl_PointSize", "  gl_Position = LOCALS.WorldViewProjVertPos;\r\n}\r\n"},
                "loose vertex");
  ExpectAbsent(vertex, {"v_ModelMatrix =", "v_ParticleSettings"}, "loose vertex");
}

TEST(GLSLDeclarations, StructsLocalsAndLayoutLocations) {
  TOwned<TBareBuilder> b(New<TBareBuilder>());
  using enum TQuorvelShaderNodeVariableType;
  auto s = MakeNode<TQuorvelGLSLLocalsStructNode>(b.get());
  s->SetId("S");
  s->AddDeclaration("a", stFloat, "", false, 0, TValue(1.0))->AddDefine("X");
  s->AddDeclaration("b", stVec2)->AddNotDefine("Y");
  EXPECT_EQ(s->ToString(), "struct S{\r\n  vec2 b;\r\n};\r\n\r\n");
  b->AddDefine("X");
  b->AddDefine("Y");
  // Members never carry their values in the struct.
  EXPECT_EQ(s->ToString(), "struct S{\r\n  float a;\r\n};\r\n\r\n");
  b->RemoveDefine("X");
  EXPECT_EQ(s->ToString(), "struct S{\r\n};\r\n\r\n");

  // Locals without a struct declare their own members; with one they assign the values.
  auto locals = MakeNode<TQuorvelGLSLLocalsNode>(b.get());
  locals->AddDeclaration("l_A", stFloat, "", false, 0, TValue(0.5));
  locals->AddDeclaration("l_B", stVec4);
  EXPECT_EQ(locals->ToString(), "  float l_A = 0.5;\r\n  vec4 l_B;\r\n");
  s->AddDeclaration("c", stInt, "", false, 0, TValue(int32_t(3)));
  s->AddDeclaration("d", stFloat)->SetConditionalValue("Y", TValue(2.0));
  locals->Struct = s.get();
  EXPECT_EQ(locals->ToString(), "  LOCALS.c = 3;\r\n  LOCALS.d = 2.0;\r\n");

  auto location = MakeNode<TQuorvelGLSLLayoutLocation>(b.get());
  EXPECT_EQ(MessageOf([&] { location->ToString(); }), "layout location, missing variable declaration");
  location->Variable = TQuorvelGLSLVariable::Build(b.get(), "v_In", stVec3);
  location->Index = 3;
  EXPECT_EQ(location->ToString(), "layout (location = 3) in vec3 v_In;\r\n\r\n");
  location->IsLayout = false;
  location->Kind = TQuorvelGLSLLayoutKind::LayoutOutput;
  EXPECT_EQ(location->ToString(), "out vec3 v_In;\r\n\r\n");
  location->Kind = static_cast<TQuorvelGLSLLayoutKind>(2);
  EXPECT_EQ(MessageOf([&] { location->ToString(); }), "invalid kind of layout location");

  auto inout = MakeNode<TQuorvelGLSLInOutNode>(b.get(), static_cast<TQuorvelGLSLInOutMode>(2));
  b->AddDefine("INOUTVARS");
  EXPECT_EQ(MessageOf([&] { inout->ToString(); }), "invalid output/input indicator");

  // A member that is no variable node is an invalid cast.
  s->Add(Text(b.get(), "stray"));
  EXPECT_THROW(s->ToString(), EInvalidCast);
}

}  // namespace
