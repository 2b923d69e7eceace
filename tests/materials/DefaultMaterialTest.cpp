// The default material and its source: properties and their defines, the bitmap pool, program
// registration and lifetime, the feeders, and pixels drawn through the engine context.
#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <cmath>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "framework/classes/Messages.h"
#include "framework/rtl/Exceptions.h"
#include "framework/rtl/Finally.h"
#include "lib/context/ContextShader.h"
#include "lib/formats/LoggingForm.h"
#include "lib/materials/MaterialDefault.h"
#include "lib/passes/ContextRendering.h"
#include "lib/passes/ControllerPassesReflection.h"
#include "lib/passes/ControllerPassesSMStoreDepth.h"
#include "tests/context/ContextTestFixture.h"
#include "tests/materials/PointLightExpect.h"
#include "tests/materials/QuadView.h"

using namespace quorvel;

namespace {

using TSource = TQuorvelDefaultMaterialSource;

class DefaultMaterial : public quorvel::testkit::TSharedGLTest {
protected:
  void SetUp() override {
    TSharedGLTest::SetUp();
    if (HasFatalFailure()) return;
    Source.reset(New<TSource>(nullptr));
  }
  void TearDown() override {
    Source.reset();
    glUseProgram(0);
    TSharedGLTest::TearDown();
  }
  TQuorvelDefaultMaterial* Material() const { return Source->DefaultMaterial(); }
  std::vector<std::string> EntryNames() const {
    std::vector<std::string> names;
    for (int i = 0; i < Source->GetBitmaps()->GetCount(); ++i)
      names.push_back(Source->GetBitmaps()->Items(i)->GetDisplayName());
    return names;
  }
  // Sets the shaders and feeds the block as a draw would, without drawing.
  void Apply() { Context->ApplyMaterial(Material()); }

  TOwned<TSource> Source;
};

// ---- values and defines -------------------------------------------------------------------------

TEST_F(DefaultMaterial, ValuePropertiesClampLowerBoundFirstAndKeepTheProgram) {
  TQuorvelDefaultMaterial* m = Material();
  Apply();
  ASSERT_FALSE(m->GetUpdateShaderProgramPending());
  struct TCase {
    const char* Name;
    float In, Out;
    void (TQuorvelDefaultMaterial::*Set)(float);
    float (TQuorvelDefaultMaterial::*Get)() const;
  } cases[] = {
      {"Shininess high", 150, 100, &TQuorvelDefaultMaterial::SetShininess, &TQuorvelDefaultMaterial::GetShininess},
      {"Shininess low", -1, 0, &TQuorvelDefaultMaterial::SetShininess, &TQuorvelDefaultMaterial::GetShininess},
      {"MetallicBias", 1.5f, 1, &TQuorvelDefaultMaterial::SetMetallicBias, &TQuorvelDefaultMaterial::GetMetallicBias},
      {"RoughnessBias", -2, 0, &TQuorvelDefaultMaterial::SetRoughnessBias, &TQuorvelDefaultMaterial::GetRoughnessBias},
      {"AOBias", 0.5f, 0.5f, &TQuorvelDefaultMaterial::SetAOBias, &TQuorvelDefaultMaterial::GetAOBias},
      {"ShadingIntensity", 11, 10, &TQuorvelDefaultMaterial::SetShadingIntensity,
       &TQuorvelDefaultMaterial::GetShadingIntensity},
      {"Brightness", -3, 0, &TQuorvelDefaultMaterial::SetBrightness, &TQuorvelDefaultMaterial::GetBrightness},
      {"NormalIntensity", 12, 10, &TQuorvelDefaultMaterial::SetNormalIntensity,
       &TQuorvelDefaultMaterial::GetNormalIntensity},
      {"TonemappingExposure", 20, 10, &TQuorvelDefaultMaterial::SetTonemappingExposure,
       &TQuorvelDefaultMaterial::GetTonemappingExposure},
      {"AlphaCutoff unchecked", 7, 7, &TQuorvelDefaultMaterial::SetAlphaCutoff,
       &TQuorvelDefaultMaterial::GetAlphaCutoff},
  };
  for (const TCase& c : cases) {
    (m->*c.Set)(c.In);
    EXPECT_FLOAT_EQ((m->*c.Get)(), c.Out) << c.Name;
  }
  m->SetParallaxLevels(2);
  EXPECT_EQ(m->GetParallaxLevels(), 4);
  m->SetParallaxLevels(1000);
  EXPECT_EQ(m->GetParallaxLevels(), 256);
  m->SetDiffuse(TAlphaColorF(0.1f, 0.2f, 0.3f, 1));
  EXPECT_FALSE(m->GetUpdateShaderProgramPending()) << "a value property leaves the program alone";
}

TEST_F(DefaultMaterial, NewMaterialHasItsInitialValuesAndDefines) {
  TQuorvelDefaultMaterial* m = Material();
  const TQuorvelShaderData& d = m->GetShaderData();
  EXPECT_EQ(m->GetShadingModel(), TQuorvelShadingModel::smBlinnPhong);
  EXPECT_FLOAT_EQ(d.PassData.NormalIntensity, 1);
  EXPECT_EQ(d.PassData.ParallaxLevels, 16);
  EXPECT_FLOAT_EQ(d.PassData.PBRMetallic, 0.25f);
  EXPECT_FLOAT_EQ(d.PassData.PBRRoughness, 0.75f);
  EXPECT_FLOAT_EQ(d.PassData.PBRAO, 1);
  EXPECT_FLOAT_EQ(d.TimeInfo.X, d.TimeInfo.Y);
  EXPECT_FLOAT_EQ(d.TimeInfo.W, 0);
  EXPECT_EQ(Source->GetColor(), claWhite);
  EXPECT_EQ(Source->GetShininess(), 32);
  for (TQuorvelNodeBuilder* b : {static_cast<TQuorvelNodeBuilder*>(m->GetVertexShaderNode()),
                                 static_cast<TQuorvelNodeBuilder*>(m->GetFragmentShaderNode())}) {
    EXPECT_TRUE(b->Defined("CLIPPINGPLANE"));
    EXPECT_TRUE(b->Defined("BLINNPHONG"));
    for (const char* d : {"LIGHTING", "USE_SPECULAR", "USE_TEXTURE", "PHONG", "PBR"}) EXPECT_FALSE(b->Defined(d)) << d;
  }
  EXPECT_NE(m->GetRef(), nullptr);
  EXPECT_EQ(m->GetRef()->GetMaterial(), m);
}

TEST_F(DefaultMaterial, SwitchesAddAndRemoveTheirDefines) {
  TQuorvelDefaultMaterial* m = Material();
  auto* vs = m->GetVertexShaderNode();
  auto* fs = m->GetFragmentShaderNode();
  struct TCase {
    const char* Name;
    void (TQuorvelDefaultMaterial::*Set)(bool);
    bool (TQuorvelDefaultMaterial::*Get)() const;
    std::vector<const char*> Both, FragmentOnly;
  } cases[] = {
      {"UseLighting", &TQuorvelDefaultMaterial::SetUseLighting, &TQuorvelDefaultMaterial::GetUseLighting, {"LIGHTING"}, {}},
      {"UseSpecular", &TQuorvelDefaultMaterial::SetUseSpecular, &TQuorvelDefaultMaterial::GetUseSpecular,
       {"USE_SPECULAR"}, {}},
      {"UseNormalMapping", &TQuorvelDefaultMaterial::SetUseNormalMapping, &TQuorvelDefaultMaterial::GetUseNormalMapping,
       {"USE_TEXTURE", "NORMALMAP", "BUMP"}, {}},
      {"UseDisplacementMapping", &TQuorvelDefaultMaterial::SetUseDisplacementMapping,
       &TQuorvelDefaultMaterial::GetUseDisplacementMapping, {"USE_TEXTURE", "DISPLACEMENT"}, {}},
      {"UseDepthMap", &TQuorvelDefaultMaterial::SetUseDepthMap, &TQuorvelDefaultMaterial::GetUseDepthMap,
       {"USE_TEXTURE", "DEPTH"}, {}},
      {"UseParallaxOcclusion", &TQuorvelDefaultMaterial::SetUseParallaxOcclusion,
       &TQuorvelDefaultMaterial::GetUseParallaxOcclusion, {"POM"}, {}},
      {"UseVertexColor", &TQuorvelDefaultMaterial::SetUseVertexColor, &TQuorvelDefaultMaterial::GetUseVertexColor,
       {"USE_VERTEXCOLOR"}, {}},
      {"UsePBRSpecularTexture", &TQuorvelDefaultMaterial::SetUsePBRSpecularTexture,
       &TQuorvelDefaultMaterial::GetUsePBRSpecularTexture, {}, {"SpecularMapTexture"}},
      {"UseColorClipping", &TQuorvelDefaultMaterial::SetUseColorClipping,
       &TQuorvelDefaultMaterial::GetUseColorClipping, {}, {"USE_COLORCLIP"}},
      {"UseAlphaCutoff", &TQuorvelDefaultMaterial::SetUseAlphaCutoff, &TQuorvelDefaultMaterial::GetUseAlphaCutoff, {},
       {"USE_ALPHACUTOFF"}},
  };
  for (const TCase& c : cases) {
    (m->*c.Set)(true);
    EXPECT_TRUE((m->*c.Get)()) << c.Name;
    for (const char* d : c.Both) EXPECT_TRUE(vs->Defined(d) && fs->Defined(d)) << c.Name << " " << d;
    for (const char* d : c.FragmentOnly) EXPECT_TRUE(fs->Defined(d) && !vs->Defined(d)) << c.Name << " " << d;
    (m->*c.Set)(false);
    EXPECT_FALSE((m->*c.Get)()) << c.Name;
    for (const char* d : c.Both) {
      if (std::string(d) != "USE_TEXTURE") {
        EXPECT_FALSE(vs->Defined(d) || fs->Defined(d)) << c.Name << " " << d;
      }
    }
    for (const char* d : c.FragmentOnly) EXPECT_FALSE(fs->Defined(d)) << c.Name << " " << d;
  }
  m->SetUseAlphaCutoff(true);
  EXPECT_EQ(m->GetShaderData().Material.AlphaCutoff.X, 1.0f);

  // Texture0 brings texturing; switching texturing off takes Texture0 with it.
  m->SetUseTexturing(false);
  m->SetUseTexture0(true);
  EXPECT_TRUE(vs->Defined("USE_TEXTURE") && fs->Defined("USE_TEXTURE") && fs->Defined("USE_TEXTURE0"));
  m->SetUseTexturing(false);
  EXPECT_FALSE(m->GetUseTexture0());

  // Shading model at the next text build.
  for (auto [model, define] : {std::pair{TQuorvelShadingModel::smPhong, "PHONG"},
                               std::pair{TQuorvelShadingModel::smPBR, "PBR"},
                               std::pair{TQuorvelShadingModel::smBlinnPhong, "BLINNPHONG"}}) {
    m->SetShadingModel(model);
    for (const char* d : {"PHONG", "BLINNPHONG", "PBR"})
      EXPECT_EQ(fs->Defined(d), std::string(d) == define) << define << " " << d;
  }
  m->SetShadingModel(TQuorvelShadingModel::smLambert);
  EXPECT_FALSE(fs->Defined("PHONG") || fs->Defined("BLINNPHONG") || fs->Defined("PBR"));
}

TEST_F(DefaultMaterial, ExclusiveSwitchesAndToneMaps) {
  TQuorvelDefaultMaterial* m = Material();
  auto* fs = m->GetFragmentShaderNode();
  m->SetReflections(true);
  m->SetRefractions(true);
  EXPECT_TRUE(fs->Defined("REFLECTION") && fs->Defined("REFRACTION") && fs->Defined("USE_TEXTURE"));
  m->SetEnvironment(true);
  EXPECT_FALSE(m->GetReflections() || m->GetRefractions());
  EXPECT_FALSE(fs->Defined("REFLECTION") || fs->Defined("REFRACTION"));
  EXPECT_TRUE(fs->Defined("ENVIRONMENT"));
  m->SetReflections(true);
  EXPECT_FALSE(m->GetEnvironment());
  EXPECT_FALSE(fs->Defined("ENVIRONMENT"));

  m->SetShadowMethod(TQuorvelShadowMethod::VarianceShadowMapping);
  EXPECT_FALSE(fs->Defined("SHADOW") || fs->Defined("VARIANCESHADOWMAPPING"));
  m->SetShadows(true);
  EXPECT_TRUE(fs->Defined("SHADOW") && fs->Defined("VARIANCESHADOWMAPPING") && !fs->Defined("SHADOWMAPPING"));
  m->SetShadowMethod(TQuorvelShadowMethod::ShadowMapping);
  EXPECT_TRUE(fs->Defined("SHADOWMAPPING") && !fs->Defined("VARIANCESHADOWMAPPING"));

  for (int t = 1; t <= 10; ++t) {
    m->SetTonemapping(static_cast<TQuorvelTonemapping>(t));
    for (int u = 1; u <= 10; ++u) EXPECT_EQ(fs->Defined(TonemappingDefines[u]), u == t) << t << " " << u;
  }
  m->SetTonemapping(TQuorvelTonemapping::tmNone);
  for (int u = 1; u <= 10; ++u) EXPECT_FALSE(fs->Defined(TonemappingDefines[u]));
}

// ---- bitmap pool ---------------------------------------------------------------------------------

TEST_F(DefaultMaterial, DefaultEntriesFollowWhatTheMaterialAdmitsInTableOrder) {
  EXPECT_TRUE(EntryNames().empty()) << "the plain material admits no texture";
  Source->SetShadows(true);
  Source->SetUseTexture0(true);
  Source->SetReflections(true);
  Source->SetUseNormalMapping(true);
  Source->SetUseDisplacementMapping(true);
  const std::vector<std::string> expected = {
      "Texture0",          "NormalMapTexture",  "DisplacementMapTexture", "ReflectionTexture", "ShadowMapTexture0",
      "ShadowMapTexture1", "ShadowMapTexture2", "ShadowMapTexture3",      "ShadowMapTexture4", "ShadowMapTexture5",
      "ShadowMapTexture6", "ShadowMapTexture7"};
  std::vector<std::string> sorted = EntryNames();
  // Entries already present keep their places; the new ones come in table order.
  std::sort(sorted.begin(), sorted.end());
  std::vector<std::string> want = expected;
  std::sort(want.begin(), want.end());
  EXPECT_EQ(sorted, want);
  // A fresh source built with the same switches lists them in table order.
  TQuorvelBitmapPoolEntry* texture0 = Source->FindBitmapEntryByName("Texture0");
  ASSERT_NE(texture0, nullptr);
  EXPECT_EQ(texture0->GetFormat(), TPixelFormatEx::BGRA);
  EXPECT_TRUE(texture0->GetIgnoreInArray());
  EXPECT_FALSE(texture0->GetIsDynamic());
  EXPECT_EQ(Source->FindBitmapEntryByName("DisplacementMapTexture")->GetShaderKind(), TContextShaderKind::VertexShader);
  EXPECT_TRUE(Source->FindBitmapEntryByName("ShadowMapTexture3")->GetIsDynamic());
  Source->SetShadows(false);
  EXPECT_EQ(Source->FindBitmapEntryByName("ShadowMapTexture0"), nullptr);
  // The material's texture pool is a copy of the bitmap pool.
  EXPECT_EQ(Material()->GetTextures()->GetCount(), Source->GetBitmaps()->GetCount());
  Source->SetEnvironment(true);
  ASSERT_NE(Source->FindBitmapEntryByName("EnvironmentTexture"), nullptr);
  EXPECT_EQ(Source->FindBitmapEntryByName("EnvironmentTexture")->GetTextureKind(), TQuorvelTextureKind::CubeMap);
  EXPECT_EQ(Source->FindBitmapEntryByName("ReflectionTexture"), nullptr);
}

TEST_F(DefaultMaterial, AddBitmapCapsNewEntriesOnlyAndReplacesAnotherKind) {
  using enum TPixelFormatEx;
  auto add = [&](const std::string& name, TQuorvelTextureKind kind) {
    return Source->AddBitmap(name, RGBA8, RGBA, TQuorvelTextureDataType::dtUnsignedByte, false, true, false,
                             TContextShaderKind::PixelShader, kind);
  };
  try {
    add("", TQuorvelTextureKind::Texture2D);
    ADD_FAILURE() << "an empty name must raise";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "failed to add bitmap to pool - no entry name supplied!");
  }
  for (int i = 0; i < 16; ++i) add("Extra" + std::to_string(i), TQuorvelTextureKind::Texture2D);
  try {
    add("Extra16", TQuorvelTextureKind::Texture2D);
    ADD_FAILURE() << "a 17th entry must raise";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "failed to add bitmap to pool - maximum number of textures in pool reached = 16");
  }
  EXPECT_EQ(Source->GetBitmaps()->GetCount(), 16);
  // Refreshing an existing entry on a full pool adds nothing and must not raise.
  TQuorvelBitmapPoolEntry* again = nullptr;
  EXPECT_NO_THROW(again = add("Extra3", TQuorvelTextureKind::Texture2D));
  EXPECT_EQ(again, Source->FindBitmapEntryByName("Extra3"));
  EXPECT_EQ(Source->GetBitmaps()->GetCount(), 16);
  // Another kind under the same name replaces the entry (at the end).
  TQuorvelBitmapPoolEntry* cube = add("Extra3", TQuorvelTextureKind::CubeMap);
  EXPECT_EQ(cube->GetTextureKind(), TQuorvelTextureKind::CubeMap);
  EXPECT_EQ(cube->GetIndex(), 15);
  EXPECT_EQ(Source->GetBitmaps()->GetCount(), 16);
}

TEST_F(DefaultMaterial, BitmapGettersRaiseAtRunTimeAndAreNilWhileDesigning) {
  struct TCase {
    const char* Message;
    TBitmap* (TSource::*Get)() const;
  } cases[] = {{"Texture0 not activated in material", &TSource::GetTexture},
               {"NormalMapTexture not activated in material", &TSource::GetNormalMap},
               {"DisplacementMapTexture not activated in material", &TSource::GetDisplacementMap}};
  for (const TCase& c : cases) {
    try {
      (Source.get()->*c.Get)();
      ADD_FAILURE() << c.Message;
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), c.Message);
    }
  }
  EXPECT_THROW(Source->GetTextureTiling(0), Exception);
  Source->SetDesigning(true);
  for (const TCase& c : cases) EXPECT_EQ((Source.get()->*c.Get)(), nullptr) << c.Message;
  // Designing: setting a texture makes the entry it needs.
  TOwned<TBitmap> bitmap(New<TBitmap>(2, 2));
  Source->SetTexture(bitmap.get());
  EXPECT_EQ(Source->GetTexture(), nullptr) << "Texture0 is still not admitted without its define";
  Source->SetDesigning(false);
  Source->SetUseTexture0(true);
  ASSERT_NE(Source->GetTexture(), nullptr);
  Source->SetTexture(bitmap.get());
  EXPECT_EQ(Source->GetTexture()->GetWidth(), 2);
  Source->SetTextureTiling(0, TPointF(2, 3));
  EXPECT_EQ(Source->GetTextureTiling(0), TPointF(2, 3));
  EXPECT_EQ(Material()->GetTextures()->Items(0)->GetTiling(), TPointF(2, 3));
}

TEST_F(DefaultMaterial, MapSwitchesOfTheSourceDeclareTheirSamplersBeforeTheNextCompile) {
  // Normal, displacement and depth maps from code: without the entries the GLSL would sample
  // undeclared samplers and the next apply would fail to compile.
  Source->SetUseLighting(true);
  Source->SetUseNormalMapping(true);
  EXPECT_NE(Source->FindBitmapEntryByName("NormalMapTexture"), nullptr);
  Source->SetUseDisplacementMapping(true);
  EXPECT_NE(Source->FindBitmapEntryByName("DisplacementMapTexture"), nullptr);
  Source->SetUseDepthMap(true);
  EXPECT_NE(Source->FindBitmapEntryByName("DepthTexture"), nullptr);
  EXPECT_NO_THROW(Apply());
  EXPECT_NE(TQuorvelContext::GetCurrentProgram(), nullptr);
}

// ---- program ----------------------------------------------------------------------------------------

TEST_F(DefaultMaterial, ProgramIsRegisteredOnceAtTheNextApplyUnderTheMaterialsNames) {
  TQuorvelDefaultMaterial* m = Material();
  EXPECT_TRUE(m->GetUpdateShaderProgramPending());
  EXPECT_EQ(m->GetVertexShader(), nullptr) << "nothing is registered before the first apply";
  Apply();
  ASSERT_NE(m->GetVertexShader(), nullptr);
  const std::regex name("default-[0-9A-F]{16}\\.f(v|p)s");
  EXPECT_TRUE(std::regex_match(m->GetVertexShader()->GetName(), name)) << m->GetVertexShader()->GetName();
  EXPECT_EQ(m->GetVertexShader()->GetName().substr(0, 24), m->GetPixelShader()->GetName().substr(0, 24));
  EXPECT_EQ(m->GetPixelShader()->GetName().substr(24), ".fps");
  TOwned<TSource> other(New<TSource>(nullptr));
  Context->ApplyMaterial(other->DefaultMaterial());
  EXPECT_NE(other->DefaultMaterial()->GetVertexShader()->GetName(), m->GetVertexShader()->GetName());

  // Two changes, one registration: the text is rebuilt each time, registered once.
  m->SetUseLighting(true);
  m->SetUseSpecular(true);
  EXPECT_TRUE(m->GetUpdateShaderProgramPending());
  Apply();
  EXPECT_FALSE(m->GetUpdateShaderProgramPending());
  EXPECT_EQ(m->GetPixelShader()->GetSourceByArch(TContextShaderArch::GLSL).CodeAsText(),
            m->GetFragmentShaderNode()->ToString());
  EXPECT_NE(m->GetPixelShader()->GetSourceByArch(TContextShaderArch::GLSL).CodeAsText().find("lightCompute"),
            std::string::npos);
  TShaderProgram* program = TQuorvelContext::GetCurrentProgram();
  ASSERT_NE(program, nullptr);
  EXPECT_EQ(program->IndexOfUniformBuffer("ShaderData"), 0);
}

TEST_F(DefaultMaterial, AFreedMaterialTakesItsProgramAndNamesWithIt) {
  Apply();
  TQuorvelDefaultMaterial* m = Material();
  const std::string vsName = m->GetVertexShader()->GetName(), psName = m->GetPixelShader()->GetName();
  ASSERT_NE(TShaderProgramCache::Find(m->GetVertexShader(), m->GetPixelShader()), nullptr);
  const int32_t programs = TShaderProgramCache::Count();
  Source.reset();  // outside any scene
  EXPECT_EQ(TShaderManager::FindShader(vsName), nullptr);
  EXPECT_EQ(TShaderManager::FindShader(psName), nullptr);
  EXPECT_EQ(TShaderProgramCache::Count(), programs - 1);
  // A new material (possibly at the same address) builds its own program with its own block.
  Source.reset(New<TSource>(nullptr));
  Apply();
  TShaderProgram* program = TQuorvelContext::GetCurrentProgram();
  ASSERT_NE(program, nullptr);
  EXPECT_EQ(program->GetUniformBufferByName("ShaderData")->Data, &Material()->GetShaderData());
}

TEST_F(DefaultMaterial, AProgramThatLostItsBlockRegistersItAgain) {
  Apply();
  TShaderProgram* program = TQuorvelContext::GetCurrentProgram();
  ASSERT_NE(program, nullptr);
  program->ClearUniformBuffers();  // as another material's apply does to the current program
  Apply();
  ASSERT_EQ(TQuorvelContext::GetCurrentProgram(), program);
  ASSERT_NE(program->GetUniformBufferByName("ShaderData"), nullptr);
  EXPECT_EQ(program->GetUniformBufferByName("ShaderData")->Data, &Material()->GetShaderData());
}

TEST_F(DefaultMaterial, ADesignTimeCompileFailureIsLoggedOnceThenSilentUntilAChange) {
  // A user snippet that is no GLSL.
  Source->SetName("Panel");
  TOwned<TStringList> broken(New<TStringList>());
  broken->SetText("void SurfaceShader(inout TLocals DATA){\r\n  not glsl at all\r\n}");
  TOwned<TStringList> healthy(New<TStringList>());
  healthy->Assign(Source->GetSurfaceShader());
  Source->SetSurfaceShader(broken.get());
  Source->SetDesigning(true);
  // The engine context raises compile errors only at design time.
  ContextDesignTime = true;
  auto restore = Finally([] { ContextDesignTime = false; });
  TLoggingForm::ResetHistory();
  EXPECT_NO_THROW(Apply());
  EXPECT_EQ(TLoggingForm::OpenCount(), 1);
  EXPECT_EQ(TLoggingForm::LastTitle(), "Panel (TQuorvelDefaultMaterialSource) - failed to compile shader ...");
  EXPECT_FALSE(TLoggingForm::LastMessage().empty());
  EXPECT_TRUE(Material()->GetErrorOnBuildingShader());
  EXPECT_NO_THROW(Apply());
  EXPECT_EQ(TLoggingForm::OpenCount(), 1) << "silent until a change";
  Source->SetSurfaceShader(healthy.get());
  EXPECT_NO_THROW(Apply());
  EXPECT_FALSE(Material()->GetErrorOnBuildingShader());
  EXPECT_EQ(TLoggingForm::OpenCount(), 1);
  AllowGLErrorsLeft();
}

// ---- feeders ------------------------------------------------------------------------------------------

TEST_F(DefaultMaterial, FeedersFillTheBlockFromTheContext) {
  TQuorvelDefaultMaterial* m = Material();
  for (int i = 0; i < 42; ++i) {
    TQuorvelShaderLight light;
    light.Enabled = (i == 3 || i == 7) ? 0 : 1;
    light.Intensity = static_cast<float>(i);
    Context->AddLight(light);
  }
  TQuorvelFogSettings fog;
  fog.Enabled = true;
  fog.Mode = ShaderDataFogExp;
  fog.Density = 0.25f;
  fog.FogStart = 0;
  fog.FogEnd = 5000;
  fog.Color = TAlphaColorF(0.5f, 0.25f, 0, 1);
  Context->SetFog(fog);
  m->SetNormalIntensity(2);
  m->SetInverseNormalMapping(true);
  m->SetNearLimit(5);
  EXPECT_EQ(m->GetShaderData().ViewSize.Z, 5);
  Context->UnsetInstances();
  Apply();
  const TQuorvelShaderData& d = m->GetShaderData();
  EXPECT_EQ(d.LightsCount, 32);
  std::vector<float> intensities;
  for (int i = 0; i < 32; ++i) intensities.push_back(d.Lights[i].Intensity);
  std::vector<float> expected;
  for (int i = 0; i < 42 && expected.size() < 32; ++i)
    if (i != 3 && i != 7) expected.push_back(static_cast<float>(i));
  EXPECT_EQ(intensities, expected);
  EXPECT_EQ(d.FogMode, ShaderDataFogEnabled | ShaderDataFogExp);
  EXPECT_FLOAT_EQ(d.FogStart, 0.1f);
  EXPECT_FLOAT_EQ(d.FogEnd, 1000);
  EXPECT_FLOAT_EQ(d.FogDensity, 0.25f);
  EXPECT_EQ(d.FogColor, fog.Color);
  EXPECT_FLOAT_EQ(d.PassData.NormalIntensity, -2);
  EXPECT_FLOAT_EQ(m->GetNormalIntensity(), 2);
  EXPECT_EQ(d.ViewSize.X, 16);
  EXPECT_EQ(d.ViewSize.Z, Context->GetNearPlane());
  EXPECT_EQ(Context->GetInstanceCount(), 1) << "a context without instances gets one";
  // The eye of a camera moved back three units.
  TMatrix3D camera = TMatrix3D::Identity();
  camera.m43 = -3;
  Context->SetCameraMatrix(camera);
  Apply();
  EXPECT_FLOAT_EQ(m->GetShaderData().EyePos.Z, 3);
  EXPECT_FLOAT_EQ(m->GetShaderData().EyePos.W, 1);
  EXPECT_FLOAT_EQ(m->GetShaderData().ViewDir.Z, -1);
}

TEST_F(DefaultMaterial, ThePoolFeederNeverWritesPastTheBlocksSixteenTextures) {
  TQuorvelDefaultMaterial* m = Material();
  for (int i = 0; i < 20; ++i) {
    TQuorvelTexturePoolEntry* e = m->GetTextures()->Add();
    e->SetDisplayName("Pool" + std::to_string(i));
    e->SetIsDynamic(true);  // bound by no one: only the tiling is written
    e->SetTiling(TPointF(7, 7));
  }
  m->ShaderData().Lights[0].Position = TVector3D(1, 2, 3, 4);
  Apply();
  EXPECT_EQ(m->GetShaderData().Material.Textures, 20);
  EXPECT_EQ(m->GetShaderData().Material.Texture[15].Tiling, TPointF(7, 7));
  // The slot after the sixteenth texture is the first light.
  EXPECT_EQ(m->GetShaderData().Lights[0].Position, TVector3D(1, 2, 3, 4));
}

TEST_F(DefaultMaterial, ContextResetRebuildsTheTexturePoolInPoolOrder) {
  Source->SetUseTexture0(true);
  Source->SetReflections(true);
  Material()->GetTextures()->Clear();
  TMessageManager::DefaultManager().SendMessage(nullptr, TContextResetMessage());
  ASSERT_EQ(Material()->GetTextures()->GetCount(), 2);
  EXPECT_EQ(Material()->GetTextures()->Items(0)->GetDisplayName(), "Texture0");
  EXPECT_EQ(Material()->GetTextures()->Items(1)->GetDisplayName(), "ReflectionTexture");
}

TEST_F(DefaultMaterial, InputsKeepKeysWithNilAndDepthPassSwitchesDepthMapping) {
  Source->SetDepthPass(nullptr);
  ASSERT_EQ(Source->GetInputs().count("DepthTexture"), 1u);
  EXPECT_EQ(Source->GetDepthPass(), nullptr);
  EXPECT_FALSE(Material()->GetFragmentShaderNode()->Defined("DEPTH"));
  EXPECT_EQ(Source->GetShadowMapPass(5), nullptr);
}

TEST_F(DefaultMaterial, ShadowInputsWriteTheirSlotAndSkipBadKeys) {
  TQuorvelDefaultMaterial* m = Material();
  Source->SetShadows(true);
  TOwned<TQuorvelRenderPassSMStoreDepth> pass(New<TQuorvelRenderPassSMStoreDepth>(nullptr));
  Source->SetShadowMapPass(3, pass.get());
  Source->SetInput("ShadowMapTexture8", pass.get());
  Source->SetInput("ShadowMapTextureX", pass.get());
  TMatrix3D marker = TMatrix3D::Identity();
  marker.m11 = 42;
  for (TMatrix3D& slot : m->ShaderData().PassData.ShadowMapMatrix) slot = marker;
  Apply();
  const TQuorvelShaderData& d = m->GetShaderData();
  EXPECT_EQ(d.PassData.ShadowMapMatrix[3], pass->GetTextureMatrix(Context.get(), true));
  EXPECT_NE(d.PassData.ShadowMapMatrix[3], marker);
  for (int i : {0, 1, 2, 4, 7}) EXPECT_EQ(d.PassData.ShadowMapMatrix[i], marker) << i;
}

TEST_F(DefaultMaterial, AFreedPassLeavesEveryInputItFilledNil) {
  // Not only the main shadow map: the shadow feeder walks every key, so a pass stored at
  // index 5 must not stay behind once freed.
  Source->SetShadows(true);
  TOwned<TQuorvelRenderPassSMStoreDepth> pass(New<TQuorvelRenderPassSMStoreDepth>(nullptr));
  Source->SetShadowMapPass(5, pass.get());
  Source->SetMainShadowMapPass(pass.get());
  Source->SetReflectionPass(pass.get());
  pass.reset();
  ASSERT_EQ(Source->GetInputs().count("ShadowMapTexture5"), 1u);
  EXPECT_EQ(Source->GetShadowMapPass(5), nullptr);
  EXPECT_EQ(Source->GetMainShadowMapPass(), nullptr);
  EXPECT_EQ(Source->GetReflectionPass(), nullptr);
  EXPECT_NO_THROW(Apply());  // under AddressSanitizer: nothing freed is read
}

TEST_F(DefaultMaterial, ReflectionMatrixNeedsAnEnabledPassAndPower) {
  TQuorvelDefaultMaterial* m = Material();
  Source->SetReflections(true);
  TOwned<TQuorvelRenderPassReflection> pass(New<TQuorvelRenderPassReflection>(nullptr));
  Source->SetReflectionPass(pass.get());
  TMatrix3D marker = TMatrix3D::Identity();
  marker.m44 = 7;
  m->ShaderData().PassData.ReflectTextureMatrix = marker;
  Apply();  // power 0
  EXPECT_EQ(m->GetShaderData().PassData.ReflectTextureMatrix, marker);
  Source->SetReflectionPower(0.5f);
  pass->SetEnabled(false);
  Apply();
  EXPECT_EQ(m->GetShaderData().PassData.ReflectTextureMatrix, marker);
  pass->SetEnabled(true);
  Apply();
  EXPECT_EQ(m->GetShaderData().PassData.ReflectTextureMatrix, pass->GetTextureMatrix(Context.get(), true));
}

// ---- pixels --------------------------------------------------------------------------------------------

struct TVertex {
  float X, Y, Z;
  float NX, NY, NZ;
  float U, V;
};
const TVertexDeclaration QuadDeclaration{
    {TVertexFormat::Vertex, 0}, {TVertexFormat::Normal, 12}, {TVertexFormat::TexCoord0, 24}};
const TVertex QuadVertices[4] = {
    {-1, -1, 0, 0, 0, 1, 0, 0}, {1, -1, 0, 0, 0, 1, 1, 0}, {1, 1, 0, 0, 0, 1, 1, 1}, {-1, 1, 0, 0, 0, 1, 0, 1}};
const uint16_t QuadIndices[6] = {0, 1, 2, 0, 2, 3};

class DefaultMaterialPixels : public DefaultMaterial {
protected:
  void SetUp() override {
    DefaultMaterial::SetUp();
    if (HasFatalFailure()) return;
    quorvel::testkit::LookAtQuad(Context.get());
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  }
  void Draw(float AOpacity = 1) {
    Context->DrawPrimitives(TPrimitivesKind::Triangles, QuadVertices, QuadIndices, QuadDeclaration, sizeof(TVertex), 4,
                            2, 6, Material(), AOpacity);
  }
  static double Coordinate(int AIndex) { return (2.0 * AIndex + 1.0) / 16 - 1.0; }
};

TEST_F(DefaultMaterialPixels, PointLightGivesBlinnPhongAndLambertHasNoHighlight) {
  Source->SetUseLighting(true);
  Source->SetUseSpecular(true);
  Source->SetDiffuseF(TAlphaColorF(0.8f, 0.6f, 0.4f, 1));
  Source->SetAmbientF(TAlphaColorF(0.2f, 0.2f, 0.2f, 1));
  Source->SetSpecularF(TAlphaColorF(0.5f, 0.5f, 0.5f, 1));
  Source->SetShininess(16);
  TQuorvelShaderLight light;
  light.LightType = 1;
  light.Position = TVector3D(0.3f, 0.2f, 1.5f, 1);
  light.Ambient = TAlphaColorF(0.1f, 0.1f, 0.1f, 1);
  light.Diffuse = TAlphaColorF(1, 1, 1, 1);
  light.Specular = TAlphaColorF(1, 1, 1, 1);
  light.Intensity = 1;
  light.ConstantAttenuation = 1;
  light.LinearAttenuation = 0.25f;
  light.Enabled = 1;
  Context->AddLight(light);
  for (bool blinn : {true, false}) {
    Source->SetShadingModel(blinn ? TQuorvelShadingModel::smBlinnPhong : TQuorvelShadingModel::smLambert);
    glClear(GL_COLOR_BUFFER_BIT);
    Draw();
    double highest = 0;
    for (int j = 1; j < 16; j += 3)
      for (int i = 1; i < 16; i += 3) {
        highest = std::max(highest, point_light::Specular(Coordinate(i), Coordinate(j), blinn));
        const TRGBA8 px = Target->Pixel(i, j);
        const uint8_t got[3] = {px.R, px.G, px.B};
        for (int c = 0; c < 3; ++c)
          EXPECT_NEAR(got[c] / 255.0, std::clamp(point_light::Expected(Coordinate(i), Coordinate(j), blinn, c), 0.0, 1.0),
                      2.0 / 255)
              << (blinn ? "Blinn" : "Lambert") << " at " << i << "," << j;
      }
    if (blinn) {
      EXPECT_GT(highest, 0.3);
    }
  }
}

TEST_F(DefaultMaterialPixels, OpacityReachesAlbedoAlpha) {
  Draw(0.5f);
  EXPECT_NEAR(Target->Pixel(8, 8).A, 128, 1);
  EXPECT_FLOAT_EQ(Material()->GetShaderData().Material.Features.X, 0.5f);
}

TEST_F(DefaultMaterialPixels, LinearFogAtThreeHundredUnitsKeepsHalf) {
  TMatrix3D camera = TMatrix3D::Identity();
  camera.m43 = -300;
  Context->SetCameraMatrix(camera);
  TMatrix3D projection = TMatrix3D::Identity();
  projection.m33 = 0.001f;
  Context->SetProjectionMatrix(projection);
  TQuorvelFogSettings fog;
  fog.Enabled = true;
  fog.Mode = ShaderDataFogLinear;
  fog.FogStart = 100;
  fog.FogEnd = 500;
  fog.Color = TAlphaColorF(0, 0, 1, 1);
  Context->SetFog(fog);
  // Dark enough that the unfogged colour stays below 1 (the fog mixes the unclamped value).
  Source->SetDiffuseF(TAlphaColorF(0.4f, 0.3f, 0.2f, 1));
  fog.Enabled = false;
  Context->SetFog(fog);
  Draw();
  const TRGBA8 clear = Target->Pixel(8, 8);
  fog.Enabled = true;
  Context->SetFog(fog);
  glClear(GL_COLOR_BUFFER_BIT);
  Draw();
  const TRGBA8 px = Target->Pixel(8, 8);
  // The centre is 300 units from the eye: (500 - 300) / 400 of the colour is kept.
  const double p = Coordinate(8), kept = (500.0 - std::sqrt(300.0 * 300.0 + 2 * p * p)) / 400.0;
  EXPECT_NEAR(px.R, clear.R * kept, 2.0);
  EXPECT_NEAR(px.G, clear.G * kept, 2.0);
  EXPECT_NEAR(px.B, clear.B * kept + 255 * (1 - kept), 2.0);
  EXPECT_NE(clear.R, 0);
}

TEST_F(DefaultMaterialPixels, ATwoByTwoTextureTiledTwiceRepeatsAcrossTheQuad) {
  Source->SetUseTexture0(true);
  TOwned<TBitmap> bitmap(New<TBitmap>(2, 2));
  const TAlphaColor texels[4] = {claRed, claLime, claBlue, claWhite};  // rows top-down
  TBitmapData data;
  ASSERT_TRUE(bitmap->Map(TMapAccess::Write, data));
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x) static_cast<uint32_t*>(data.GetScanline(y))[x] = static_cast<uint32_t>(texels[y * 2 + x]);
  bitmap->Unmap(data);
  Source->SetTexture(bitmap.get());
  TQuorvelBitmapPoolEntry* entry = Source->FindBitmapEntryByName("Texture0");
  ASSERT_NE(entry, nullptr);
  entry->SetTextureMinMagFilter(TTextureFilter::Nearest, TTextureFilter::Nearest);
  entry->SetTextureWrapping(TQuorvelTextureWrap::Repeated);
  Source->SetTextureTiling(0, TPointF(2, 2));
  Draw();
  // Each quarter of the quad holds the whole texture once; every probe sees one texel.
  std::vector<TRGBA8> seen;
  for (int j = 1; j < 16; j += 4)
    for (int i = 1; i < 16; i += 4) seen.push_back(Target->Pixel(i, j));
  EXPECT_EQ(seen[0], seen[2]);
  EXPECT_EQ(seen[0], seen[8]);
  EXPECT_EQ(seen[1], seen[3]);
  EXPECT_EQ(seen[5], seen[15]);
  EXPECT_NE(seen[0], seen[1]);
  EXPECT_NE(seen[0], seen[4]);
}

}  // namespace
