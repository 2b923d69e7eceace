// The generated GLSL on llvmpipe: both stages compile and link for each define set, the
// "ShaderData" block matches the C++ record byte for byte, and the light functions compute
// what they should.
#include <epoxy/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <initializer_list>
#include <string>
#include <vector>

#include "framework/rtl/Finally.h"
#include "lib/materials/MaterialDefaultGLSL.h"
#include "lib/materials/MaterialDefaultShaderData.h"
#include "tests/context/ShaderTestSupport.h"
#include "tests/materials/FloatRowTarget.h"

using namespace quorvel;
using namespace quorvel::shader_test;

namespace {

std::string ShaderLog(GLuint AShader) {
  GLint length = 0;
  glGetShaderiv(AShader, GL_INFO_LOG_LENGTH, &length);
  std::string log(static_cast<size_t>(std::max(length, 0)), '\0');
  GLsizei written = 0;
  if (length > 0) glGetShaderInfoLog(AShader, length, &written, log.data());
  log.resize(static_cast<size_t>(written));
  return log;
}

std::string ProgramLog(GLuint AProgram) {
  GLint length = 0;
  glGetProgramiv(AProgram, GL_INFO_LOG_LENGTH, &length);
  std::string log(static_cast<size_t>(std::max(length, 0)), '\0');
  GLsizei written = 0;
  if (length > 0) glGetProgramInfoLog(AProgram, length, &written, log.data());
  log.resize(static_cast<size_t>(written));
  return log;
}

// A vertex and a fragment builder with the same extra defines, as a material keeps them.
struct TStages {
  TOwned<TQuorvelGLSLVertexShader> Vertex{New<TQuorvelGLSLVertexShader>(nullptr)};
  TOwned<TQuorvelGLSLFragmentShader> Fragment{New<TQuorvelGLSLFragmentShader>(nullptr)};
  explicit TStages(std::initializer_list<const char*> ADefines) {
    for (const char* d : ADefines) {
      Vertex->AddDefine(d);
      Fragment->AddDefine(d);
    }
    // The samplers a material's pool would declare in both stages.
    using enum TQuorvelTextureKind;
    const std::pair<const char*, TQuorvelTextureKind> samplers[] = {
        {"Texture0", Texture2D},          {"NormalMapTexture", Texture2D},   {"DisplacementMapTexture", Texture2D},
        {"SpecularMapTexture", Texture2D}, {"POMTexture", Texture2D},        {"ReflectionTexture", Texture2D},
        {"RefractionTexture", Texture2D}, {"EnvironmentTexture", CubeMap},   {"ShadowMapTexture0", Texture2D},
        {"MetalnessTexture", Texture2D},  {"RoughnessTexture", Texture2D},   {"AmbientOcclusionTexture", Texture2D},
        {"EmissiveTexture", Texture2D},
    };
    for (TQuorvelNodeBuilder* b : {static_cast<TQuorvelNodeBuilder*>(Vertex.get()),
                                   static_cast<TQuorvelNodeBuilder*>(Fragment.get())})
      for (const auto& [name, kind] : samplers) {
        auto* node = b->GetGlobals()->GetUniforms()->GetTextures()->AddNew<TQuorvelGLSLTextureUniformNode>();
        node->SetId(name);
        node->SetTextureKind(kind);
      }
  }
};

// Compiled through the context's shader compiler and linked through its program class (which
// binds the engine's attribute locations); every log must be empty.
struct TLinked {
  std::unique_ptr<TCompiledShader> VS, PS;
  TOwned<TShaderProgram> Program;
  GLuint Prog() const { return Program ? static_cast<GLuint>(Program->GetProg()) : 0; }
};

void CompileAndLink(const std::string& AVertex, const std::string& AFragment, const std::string& ACase,
                    TLinked& AOut) {
  AOut.VS = VertexShader(AVertex);
  AOut.PS = PixelShader(AFragment);
  for (const TCompiledShader* s : {AOut.VS.get(), AOut.PS.get()}) {
    const auto handle = static_cast<GLuint>(s->Get()->GetHandle());
    GLint status = 0;
    glGetShaderiv(handle, GL_COMPILE_STATUS, &status);
    EXPECT_EQ(status, GL_TRUE) << ACase << ": " << ShaderLog(handle);
    EXPECT_EQ(ShaderLog(handle), "") << ACase;
  }
  if (::testing::Test::HasFailure()) return;
  try {
    AOut.Program = Link(*AOut.VS, *AOut.PS);
  } catch (const Exception& e) {
    ADD_FAILURE() << ACase << ": " << e.Message();
    return;
  }
  EXPECT_EQ(ProgramLog(AOut.Prog()), "") << ACase;
}

class GeneratedGLSL : public GLSuite {};

TEST_F(GeneratedGLSL, BothStagesCompileAndLinkForEveryDefineSet) {
  struct TCase {
    const char* Name;
    std::initializer_list<const char*> Defines;
  };
  const TCase cases[] = {
      {"none", {}},
      {"Lambert", {"LIGHTING"}},
      {"Lambert, specular", {"LIGHTING", "USE_SPECULAR"}},
      {"Phong", {"LIGHTING", "PHONG"}},
      {"Phong, specular", {"LIGHTING", "PHONG", "USE_SPECULAR"}},
      {"Blinn-Phong", {"LIGHTING", "BLINNPHONG"}},
      {"Blinn-Phong, specular", {"LIGHTING", "BLINNPHONG", "USE_SPECULAR"}},
      {"clipping plane", {"LIGHTING", "CLIPPINGPLANE"}},
      {"reflection", {"REFLECTION", "USE_TEXTURE"}},
      {"refraction and environment", {"REFRACTION", "ENVIRONMENT", "USE_TEXTURE"}},
      {"textured, vertex colour, cut-off, colour clip",
       {"LIGHTING", "BLINNPHONG", "USE_TEXTURE", "USE_TEXTURE0", "USE_VERTEXCOLOR", "USE_ALPHACUTOFF",
        "USE_COLORCLIP"}},
      {"unlit textured, vertex colour", {"USE_TEXTURE", "USE_TEXTURE0", "USE_VERTEXCOLOR"}},
      {"displacement", {"LIGHTING", "DISPLACEMENT", "USE_TEXTURE"}},
      {"shadow mapping", {"LIGHTING", "SHADOW", "SHADOWMAPPING", "USE_TEXTURE"}},
      {"variance shadow mapping", {"LIGHTING", "SHADOW", "VARIANCESHADOWMAPPING", "USE_TEXTURE"}},
      {"normal map", {"LIGHTING", "NORMALMAP", "BUMP", "USE_TEXTURE", "USE_TEXTURE0"}},
      {"normal map without coordinates", {"LIGHTING", "NORMALMAP", "BUMP"}},
      {"parallax occlusion", {"LIGHTING", "NORMALMAP", "BUMP", "POM", "POM_DISCARD", "USE_TEXTURE", "USE_TEXTURE0"}},
      {"specular map", {"LIGHTING", "PHONG", "USE_SPECULAR", "SPECULARMAP", "USE_TEXTURE"}},
      {"texture sets 1 to 2", {"USE_TEXTURE", "USE_TEXCOORD1", "USE_TEXCOORD2"}},
      {"deferred textured", {"LIGHTING", "DEFERRED", "USE_TEXTURE", "USE_TEXTURE0"}},
      {"packed normals", {"LIGHTING", "PACKED_NORMAL"}},
      {"deferred", {"LIGHTING", "DEFERRED", "USE_SPECULAR"}},
      {"texture sets, sprites, normal map", {"USE_TEXCOORD1", "USE_TEXCOORD2", "USE_TEXCOORD3", "USE_POINTSPRITE",
                                             "NORMALMAP"}},
      {"physically based common part", {"LIGHTING", "PBR"}},
      {"physically based, all textures, environment",
       {"LIGHTING", "PBR", "PBR_TEX", "PBR_TEX_ALBEDO", "PBR_TEX_METALLIC", "PBR_TEX_ROUGHNESS", "PBR_TEX_AO",
        "PBR_TEX_EMISSIVE", "USE_TEXTURE", "USE_TEXTURE0", "ENVIRONMENT", "TONEMAP_ACES_HILL"}},
      {"physically based specular-glossiness", {"LIGHTING", "PBR", "SpecularMapTexture", "USE_TEXTURE"}},
      {"physically based bump", {"LIGHTING", "PBR", "NORMALMAP", "BUMP", "USE_TEXTURE", "SHADOW", "SHADOWMAPPING"}},
      {"physically based unlit", {"PBR", "ENVIRONMENT", "USE_TEXTURE"}},
  };
  for (const TCase& c : cases) {
    TStages stages(c.Defines);
    TLinked linked;
    CompileAndLink(stages.Vertex->ToString(), stages.Fragment->ToString(), c.Name, linked);
    if (HasFailure()) return;
    EXPECT_EQ(glGetAttribLocation(linked.Prog(), "a_Position"), 0) << c.Name;
    EXPECT_EQ(glGetAttribLocation(linked.Prog(), "a_ModelMatrix"), 12) << c.Name;
    EXPECT_NE(glGetUniformBlockIndex(linked.Prog(), "ShaderData"), GL_INVALID_INDEX) << c.Name;
  }
}

TEST_F(GeneratedGLSL, EveryToneMapCompilesWithAndWithoutPhysicalShading) {
  const char* const toneMaps[] = {
      "TONEMAP_EXPOSURE",          "TONEMAP_ACES_NARKOWICZ",        "TONEMAP_ACES_HILL",
      "TONEMAP_ACES_HILL_EXPOSURE_BOOST", "TONEMAP_REINHARD",       "TONEMAP_LUMABASED_REINHARD",
      "TONEMAP_WP_LUMABASED_REINHARD",    "TONEMAP_ROMBINDAHOUSE",  "TONEMAP_FILMIC",
      "TONEMAP_UNCHARTED2",
  };
  for (const char* toneMap : toneMaps)
    for (bool pbr : {false, true}) {
      TStages stages({"LIGHTING", "BLINNPHONG"});
      stages.Fragment->AddDefine(toneMap);
      if (pbr) stages.Fragment->AddDefine("PBR");
      const std::string name = std::string(toneMap) + (pbr ? " PBR" : "");
      TLinked linked;
      CompileAndLink(stages.Vertex->ToString(), stages.Fragment->ToString(), name, linked);
      if (HasFailure()) return;
    }
}

TEST_F(GeneratedGLSL, BlocksOfBehavioursTakeTheNextBindings) {
  TStages stages({"LIGHTING"});
  for (TQuorvelNodeBuilder* b : {static_cast<TQuorvelNodeBuilder*>(stages.Vertex.get()),
                                 static_cast<TQuorvelNodeBuilder*>(stages.Fragment.get())}) {
    for (const char* name : {"ExtraA", "ExtraB"}) {
      auto* block = b->GetGlobals()->GetUniforms()->AddNew<TQuorvelGLSLUBO>();
      block->SetId(name);
      block->AddDeclaration(std::string("_") + name + "Value", TQuorvelShaderNodeVariableType::stVec4);
    }
  }
  TLinked linked;
  CompileAndLink(stages.Vertex->ToString(), stages.Fragment->ToString(), "two more blocks", linked);
  if (HasFailure()) return;
  const GLuint prog = linked.Prog();
  const std::pair<const char*, GLint> blocks[] = {{"ShaderData", 0}, {"ExtraA", 1}, {"ExtraB", 2}};
  for (const auto& [name, binding] : blocks) {
    const GLuint index = glGetUniformBlockIndex(prog, name);
    ASSERT_NE(index, GL_INVALID_INDEX) << name;
    GLint actual = -1;
    glGetActiveUniformBlockiv(prog, index, GL_UNIFORM_BLOCK_BINDING, &actual);
    EXPECT_EQ(actual, binding) << name;
  }
}

// --- the block layout ------------------------------------------------------------------------

struct TMemberOffset {
  std::string Name;
  size_t Offset;
};

std::vector<TMemberOffset> BlockMembers() {
  using D = TQuorvelShaderData;
  using M = TQuorvelShaderMaterial;
  using L = TQuorvelShaderLight;
  using P = TQuorvelShaderPassData;
  std::vector<TMemberOffset> r = {
      {"_ModelViewProjectionMatrix", offsetof(D, ModelViewProjectionMatrix)},
      {"_ViewMatrix", offsetof(D, ViewMatrix)},
      {"_ProjectionMatrix", offsetof(D, ProjectionMatrix)},
      {"_TimeInfo", offsetof(D, TimeInfo)},
      {"_EyePos", offsetof(D, EyePos)},
      {"_ViewDir", offsetof(D, ViewDir)},
      {"_ShadingModel", offsetof(D, ShadingModel)},
      {"_LightsCount", offsetof(D, LightsCount)},
      {"_Options", offsetof(D, Options)},
      {"_ShadingIntensity", offsetof(D, ShadingIntensity)},
      {"_Brightness", offsetof(D, Brightness)},
      {"_FogMode", offsetof(D, FogMode)},
      {"_FogDensity", offsetof(D, FogDensity)},
      {"_FogStart", offsetof(D, FogStart)},
      {"_FogEnd", offsetof(D, FogEnd)},
      {"_FogColor", offsetof(D, FogColor)},
      {"_FrustumMin", offsetof(D, FrustumMin)},
      {"_FrustumMax", offsetof(D, FrustumMax)},
      {"_SceneMin", offsetof(D, SceneMin)},
      {"_SceneMax", offsetof(D, SceneMax)},
      {"_BoundaryMin", offsetof(D, BoundaryMin)},
      {"_BoundaryMax", offsetof(D, BoundaryMax)},
      {"_ViewSize", offsetof(D, ViewSize)},
      {"_ClippingPlane", offsetof(D, ClippingPlane)},
  };
  const size_t m = offsetof(D, Material);
  const std::pair<const char*, size_t> material[] = {
      {"_Emissive", offsetof(M, Emissive)},       {"_Ambient", offsetof(M, Ambient)},
      {"_Diffuse", offsetof(M, Diffuse)},         {"_Specular", offsetof(M, Specular)},
      {"_Clipping", offsetof(M, Clipping)},       {"_AlphaCutoff", offsetof(M, AlphaCutoff)},
      {"_ToneMapExp", offsetof(M, ToneMapExp)},   {"_Displacement", offsetof(M, Displacement)},
      {"_Features", offsetof(M, Features)},       {"_Shininess", offsetof(M, Shininess)},
      {"_Textures", offsetof(M, Textures)},       {"_PoolTexturesOffset", offsetof(M, PoolTexturesOffset)},
      {"_PoolTextures", offsetof(M, PoolTextures)},
  };
  for (const auto& [name, offset] : material) r.push_back({std::string("_Material[0].") + name, m + offset});
  for (size_t i = 0; i < ShaderMaterialTextureCount; ++i) {
    const size_t t = m + offsetof(M, Texture) + i * sizeof(TQuorvelShaderMaterialTexture);
    const std::string prefix = "_Material[0]._Texture[" + std::to_string(i) + "].";
    r.push_back({prefix + "_Feature", t + offsetof(TQuorvelShaderMaterialTexture, Feature)});
    r.push_back({prefix + "_Tiling", t + offsetof(TQuorvelShaderMaterialTexture, Tiling)});
  }
  const std::pair<const char*, size_t> light[] = {
      {"_LightType", offsetof(L, LightType)},
      {"_Position", offsetof(L, Position)},
      {"_Direction", offsetof(L, Direction)},
      {"_Ambient", offsetof(L, Ambient)},
      {"_Diffuse", offsetof(L, Diffuse)},
      {"_Specular", offsetof(L, Specular)},
      {"_Scattering", offsetof(L, Scattering)},
      {"_SpotCutOff", offsetof(L, SpotCutoff)},
      {"_SpotCosCutoff", offsetof(L, SpotCosCutoff)},
      {"_SpotExponent", offsetof(L, SpotExponent)},
      {"_ConstantAttenuation", offsetof(L, ConstantAttenuation)},
      {"_LinearAttenuation", offsetof(L, LinearAttenuation)},
      {"_QuadraticAttenuation", offsetof(L, QuadraticAttenuation)},
      {"_Intensity", offsetof(L, Intensity)},
      {"_Enabled", offsetof(L, Enabled)},
  };
  for (size_t i = 0; i < ShaderDataLightCount; ++i)
    for (const auto& [name, offset] : light)
      r.push_back({"_Lights[" + std::to_string(i) + "]." + name, offsetof(D, Lights) + i * sizeof(L) + offset});
  const size_t p = offsetof(D, PassData);
  // GL reports an array of matrices as one uniform at its first element (stride checked apart).
  r.push_back({"_PassData[0]._ShadowMapMatrix[0]", p + offsetof(P, ShadowMapMatrix)});
  const std::pair<const char*, size_t> pass[] = {
      {"_ReflectTextureMatrix", offsetof(P, ReflectTextureMatrix)},
      {"_RefractTextureMatrix", offsetof(P, RefractTextureMatrix)},
      {"_ReflectionPower", offsetof(P, ReflectionPower)},
      {"_RefractionPower", offsetof(P, RefractionPower)},
      {"_TranslucentDistance", offsetof(P, TranslucentDistance)},
      {"_NormalIntensity", offsetof(P, NormalIntensity)},
      {"_ParallaxLevels", offsetof(P, ParallaxLevels)},
      {"_PBRMetallic", offsetof(P, PBRMetallic)},
      {"_PBRRoughness", offsetof(P, PBRRoughness)},
      {"_PBRAO", offsetof(P, PBRAO)},
  };
  for (const auto& [name, offset] : pass) r.push_back({std::string("_PassData[0].") + name, p + offset});
  return r;
}

TEST_F(GeneratedGLSL, TheBlockAsPrintedMatchesTheRecord) {
  TStages stages({});
  TLinked linked;
  CompileAndLink(stages.Vertex->ToString(), stages.Fragment->ToString(), "block", linked);
  if (HasFailure()) return;
  const GLuint prog = linked.Prog();
  const GLuint block = glGetUniformBlockIndex(prog, "ShaderData");
  ASSERT_NE(block, GL_INVALID_INDEX);
  GLint size = 0;
  glGetActiveUniformBlockiv(prog, block, GL_UNIFORM_BLOCK_DATA_SIZE, &size);
  EXPECT_EQ(size, 6352);
  EXPECT_EQ(static_cast<size_t>(size), sizeof(TQuorvelShaderData));

  const std::vector<TMemberOffset> members = BlockMembers();
  std::vector<const char*> names;
  for (const TMemberOffset& m : members) names.push_back(m.Name.c_str());
  std::vector<GLuint> indices(members.size(), GL_INVALID_INDEX);
  glGetUniformIndices(prog, static_cast<GLsizei>(names.size()), names.data(), indices.data());
  for (size_t i = 0; i < members.size(); ++i) {
    ASSERT_NE(indices[i], GL_INVALID_INDEX) << members[i].Name;
    GLint offset = -1, blockIndex = -1;
    glGetActiveUniformsiv(prog, 1, &indices[i], GL_UNIFORM_OFFSET, &offset);
    glGetActiveUniformsiv(prog, 1, &indices[i], GL_UNIFORM_BLOCK_INDEX, &blockIndex);
    EXPECT_EQ(static_cast<size_t>(offset), members[i].Offset) << members[i].Name;
    EXPECT_EQ(blockIndex, static_cast<GLint>(block)) << members[i].Name;
  }
  // Matrices column by column, 16 bytes apart, one after the other in the array.
  const char* matrices[] = {"_ModelViewProjectionMatrix", "_PassData[0]._ShadowMapMatrix[0]"};
  GLuint matrixIndices[2] = {GL_INVALID_INDEX, GL_INVALID_INDEX};
  glGetUniformIndices(prog, 2, matrices, matrixIndices);
  GLint matrixStride[2] = {}, rowMajor[2] = {1, 1}, arrayStride[2] = {};
  glGetActiveUniformsiv(prog, 2, matrixIndices, GL_UNIFORM_MATRIX_STRIDE, matrixStride);
  glGetActiveUniformsiv(prog, 2, matrixIndices, GL_UNIFORM_IS_ROW_MAJOR, rowMajor);
  glGetActiveUniformsiv(prog, 2, matrixIndices, GL_UNIFORM_ARRAY_STRIDE, arrayStride);
  EXPECT_EQ(matrixStride[0], 16);
  EXPECT_EQ(rowMajor[0], 0);
  EXPECT_EQ(static_cast<size_t>(arrayStride[1]), sizeof(TMatrix3D));
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// --- the light functions evaluated -----------------------------------------------------------

// The inputs of one evaluation; the shader writes (falloff, attenuation, diffuse, specular).
struct TLightCase {
  std::array<float, 4> SpotLightDir;  // computeSpotFalloff's light direction (w packs the cone)
  std::array<float, 3> SpotHalf;      // its half vector
  float Distance;
  int LightType;
  std::array<float, 3> Attenuations;  // constant, linear, quadratic
  std::array<float, 3> LightDirection;
  float SpotCosCutoff, SpotExponent;
  std::array<float, 3> AttHalf;  // getAttenuation's half vector
  std::array<float, 3> Normal, LightDir, ViewDir;
  float Shininess;
};

using TVec3 = std::array<double, 3>;
double Dot(TVec3 a, TVec3 b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
TVec3 Normalized(TVec3 a) {
  const double l = std::sqrt(Dot(a, a));
  return {a[0] / l, a[1] / l, a[2] / l};
}
TVec3 V3(const std::array<float, 3>& a) { return {a[0], a[1], a[2]}; }
TVec3 Neg(TVec3 a) { return {-a[0], -a[1], -a[2]}; }

// The formulas, in double precision over the single inputs.
double SpotFalloff(const TLightCase& c) {
  const TVec3 l = Normalized(V3(c.SpotHalf));
  const TVec3 d = Normalized({c.SpotLightDir[0], c.SpotLightDir[1], c.SpotLightDir[2]});
  const double cur = Dot(Neg(l), d);
  const float w = c.SpotLightDir[3];
  const double inner = std::floor(w) * 0.001, outer = w - std::floor(w);
  const double lower = w <= 0.001f ? 1.0 : 0.0;
  return std::clamp((cur - outer) / (inner - outer), lower, 1.0);
}

double Attenuation(const TLightCase& c) {
  const double d = c.Distance;
  double a = 1.0 / (c.Attenuations[0] + c.Attenuations[1] * d + c.Attenuations[2] * d * d);
  if (c.LightType == 2) {
    const double s = Dot(Neg(V3(c.AttHalf)), Normalized(V3(c.LightDirection)));
    a *= s < c.SpotCosCutoff ? 0.0 : std::pow(s, c.SpotExponent);
  }
  return a;
}

double Diffuse(const TLightCase& c) { return std::max(0.0, Dot(V3(c.Normal), V3(c.LightDir))); }

double SpecularPhong(const TLightCase& c) {
  const TVec3 n = V3(c.Normal), l = V3(c.LightDir);
  const double nl = Dot(n, l);
  const TVec3 r = {2 * nl * n[0] - l[0], 2 * nl * n[1] - l[1], 2 * nl * n[2] - l[2]};
  return std::pow(std::max(Dot(r, V3(c.ViewDir)), 0.0), c.Shininess);
}

double SpecularBlinn(const TLightCase& c) {
  const TVec3 v = V3(c.ViewDir), l = V3(c.LightDir);
  const TVec3 h = Normalized({v[0] + l[0], v[1] + l[1], v[2] + l[2]});
  return std::pow(std::max(0.0, Dot(h, V3(c.Normal))), c.Shininess);
}

// A half vector whose negation makes the angle with +z whose cosine is ACos.
std::array<float, 3> HalfAtCosine(double ACos) {
  return {static_cast<float>(-std::sqrt(1 - ACos * ACos)), 0.0f, static_cast<float>(-ACos)};
}

const float S = static_cast<float>(std::sqrt(0.5));

const TLightCase LightCases[] = {
    // Cone packed as 950.9: inner cosine 0.95, outer 0.9.
    {{0, 0, 1, 950.9f}, HalfAtCosine(0.9), 2, 1, {1, 0.5f, 0.25f}, {0, 0, 1}, 0, 1, {0, 0, -1}, {0, 0, 1}, {0, 0, 1},
     {0, 0, 1}, 8},
    {{0, 0, 1, 950.9f}, HalfAtCosine(0.95), 1, 0, {1, 0, 0}, {0, 0, 1}, 0, 1, {0, 0, -1}, {0, 1, 0}, {S, S, 0},
     {0, 1, 0}, 16},
    {{0, 0, 1, 950.9f}, HalfAtCosine(0.925), 4, 2, {1, 0.1f, 0.01f}, {0, 0, 1}, 0.8f, 2, {0, 0, -1}, {0, 0, 1},
     {0, S, S}, {0, -S, S}, 4},
    {{0, 0, 1, 950.9f}, HalfAtCosine(0.5), 3, 2, {1, 0, 0.1f}, {0, 0, 1}, 0.9f, 2, HalfAtCosine(0.8), {0, 0, 1},
     {0, 0, -1}, {0, S, S}, 32},
    // A spot record's direction w of 1 arrives negated: no cone from the falloff.
    {{0, 0, -1, -1.0f}, HalfAtCosine(0.2), 10, 2, {0.5f, 0, 0}, {0, 0, 1}, 0.5f, 3, HalfAtCosine(0.6), {1, 0, 0},
     {S, 0, S}, {S, 0, S}, 2},
    {{0, 0, 1, 0.0005f}, HalfAtCosine(-0.7), 1, 1, {2, 1, 1}, {0, 0, 1}, 0, 1, {0, 0, -1}, {0, 0, 1}, {0.6f, 0, 0.8f},
     {-0.6f, 0, 0.8f}, 1},
};

constexpr int VecsPerCase = 8;

const char* const FullScreenVS =
    "#version 430\n"
    "void main(){\n"
    "  gl_Position = vec4(float(gl_VertexID & 1) * 4.0 - 1.0, float(gl_VertexID >> 1) * 4.0 - 1.0, 0.0, 1.0);\n"
    "}\n";

// The generated function library, then a main that evaluates case int(gl_FragCoord.x).
std::string EvaluationShader(const TQuorvelGLSLFragmentShader& ABuilder, const char* ASpecular) {
  std::string text = ABuilder.ToString();
  text.erase(text.find("void main(){"));
  text +=
      "uniform vec4 u_In[" + std::to_string(std::size(LightCases) * VecsPerCase) +
      "];\r\n"
      "void main(){\r\n"
      "  int b = int(gl_FragCoord.x) * 8;\r\n"
      "  Light l;\r\n"
      "  l._LightType = int(u_In[b + 2].w);\r\n"
      "  l._ConstantAttenuation = u_In[b + 2].x;\r\n"
      "  l._LinearAttenuation = u_In[b + 2].y;\r\n"
      "  l._QuadraticAttenuation = u_In[b + 2].z;\r\n"
      "  l._Direction = vec4(u_In[b + 3].xyz, 1.0);\r\n"
      "  l._SpotCosCutoff = u_In[b + 4].x;\r\n"
      "  l._SpotExponent = u_In[b + 4].y;\r\n"
      "  o_Albedo = vec4(computeSpotFalloff(u_In[b], u_In[b + 1].xyz),\r\n"
      "    getAttenuation(l, u_In[b + 1].w, u_In[b + 5].xyz),\r\n"
      "    lightComputeDiffuse(u_In[b + 6].xyz, u_In[b + 7].xyz),\r\n"
      "    " +
      std::string(ASpecular) +
      "(u_In[b + 6].xyz, vec3(u_In[b + 4].w, u_In[b + 5].w, u_In[b + 6].w), u_In[b + 7].xyz, u_In[b + 4].z));\r\n"
      "}\r\n";
  return text;
}

std::vector<float> Inputs() {
  std::vector<float> in;
  for (const TLightCase& c : LightCases) {
    const float v[VecsPerCase][4] = {
        {c.SpotLightDir[0], c.SpotLightDir[1], c.SpotLightDir[2], c.SpotLightDir[3]},
        {c.SpotHalf[0], c.SpotHalf[1], c.SpotHalf[2], c.Distance},
        {c.Attenuations[0], c.Attenuations[1], c.Attenuations[2], static_cast<float>(c.LightType)},
        {c.LightDirection[0], c.LightDirection[1], c.LightDirection[2], 0},
        {c.SpotCosCutoff, c.SpotExponent, c.Shininess, c.ViewDir[0]},
        {c.AttHalf[0], c.AttHalf[1], c.AttHalf[2], c.ViewDir[1]},
        {c.Normal[0], c.Normal[1], c.Normal[2], c.ViewDir[2]},
        {c.LightDir[0], c.LightDir[1], c.LightDir[2], 0},
    };
    for (const auto& vec : v) in.insert(in.end(), vec, vec + 4);
  }
  return in;
}

// Draws one pixel per case into a float target and reads the four results back.
std::vector<std::array<float, 4>> Evaluate(const std::string& AFragment) {
  TLinked linked;
  CompileAndLink(FullScreenVS, AFragment, "evaluation", linked);
  if (::testing::Test::HasFailure()) return {};
  return DrawFloatRow(linked.Prog(), static_cast<GLsizei>(std::size(LightCases)), Inputs());
}

TEST_F(GeneratedGLSL, LightFunctionsComputeTheirFormulas) {
  struct TModel {
    const char* Define;
    const char* Function;
    double (*Specular)(const TLightCase&);
  };
  const TModel models[] = {{"PHONG", "lightComputeSpecularPhong", &SpecularPhong},
                           {"BLINNPHONG", "lightComputeSpecular", &SpecularBlinn}};
  for (const TModel& model : models) {
    TStages stages({"LIGHTING", model.Define});
    const auto out = Evaluate(EvaluationShader(*stages.Fragment, model.Function));
    ASSERT_EQ(out.size(), std::size(LightCases)) << model.Define;
    for (size_t i = 0; i < out.size(); ++i) {
      const TLightCase& c = LightCases[i];
      EXPECT_NEAR(out[i][0], SpotFalloff(c), 2e-4) << model.Define << " falloff, case " << i;
      EXPECT_NEAR(out[i][1], Attenuation(c), 2e-4) << model.Define << " attenuation, case " << i;
      EXPECT_NEAR(out[i][2], Diffuse(c), 2e-4) << model.Define << " diffuse, case " << i;
      EXPECT_NEAR(out[i][3], model.Specular(c), 2e-4) << model.Define << " specular, case " << i;
    }
  }
  // The cone's ends, as the formulas give them.
  EXPECT_NEAR(SpotFalloff(LightCases[0]), 0.0, 1e-3);
  EXPECT_NEAR(SpotFalloff(LightCases[1]), 1.0, 1e-3);
  EXPECT_DOUBLE_EQ(SpotFalloff(LightCases[4]), 1.0);
  EXPECT_DOUBLE_EQ(SpotFalloff(LightCases[5]), 1.0);
}

}  // namespace
