#include <gtest/gtest.h>

#include <typeinfo>

#include "framework/gui3d/Context3D.h"
#include "framework/gui3d/Material.h"
#include "framework/gui3d/Shader.h"

namespace quorvel {
namespace shader_material_test {
namespace {

using TCalls = std::vector<std::string>;

// A context class that compiles shaders by handing out numbers.
struct TCountingClass : TContextClass {
  using TContextClass::TContextClass;
  mutable TCalls Calls;
  mutable TContextShaderHandle Next = 100;
  void DoInitializeShader(TContextShader* AShader) const override {
    Calls.push_back("init:" + AShader->GetName() + ":" +
                    AShader->GetSourceByArch(TContextShaderArch::GLSL).CodeAsText());
    AShader->SetHandle(Next++);
  }
  void DoFinalizeShader(TContextShader* AShader) const override {
    Calls.push_back("fin:" + AShader->GetName());
    AShader->SetHandle(0);
  }
};

TClassInit CountingInit() {
  TClassInit init;
  init.Name = "TCountingContext";
  init.Unit = "Test.Shaders";
  init.Parent = TContext3D::StaticClass();
  init.Type = &typeid(TContext3D);
  return init;
}

// Records what materials do to a context.
class TProbeContext : public TContext3D {
public:
  TProbeContext() : TContext3D(nullptr, 16, 16, TMultisample::None, false) {}
  TCalls Calls;
  std::vector<TVector3D> LastData;

protected:
  void DoSetVertexPixelShaders(TContextShader* VS, TContextShader* PS) override {
    Calls.push_back("shaders:" + VS->GetName() + "," + PS->GetName());
  }
  void DoSetShaderVariable(const std::string& AName, std::span<const TVector3D> AData) override {
    Calls.push_back("var:" + AName);
    LastData.assign(AData.begin(), AData.end());
  }
  void DoDrawPrimitivesBatch(TPrimitivesKind, const void*, const void*, const TVertexDeclaration&, int32_t, int32_t,
                             int32_t, int32_t) override {
    Calls.push_back("batch");
  }
};

TContextShaderSources Glsl(const std::string& AText, TContextShaderVariables AVariables = {}) {
  return {TContextShaderSource(TContextShaderArch::GLSL, TContextShaderSource::CodeFromText(AText),
                               std::move(AVariables))};
}

class ShaderMaterialTest : public ::testing::Test {
protected:
  void SetUp() override { TContextManager::RegisterContext(&FClass, true); }
  void TearDown() override { TContextManager::UnregisterContext(&FClass); }

  TCountingClass FClass{CountingInit()};
};

TEST_F(ShaderMaterialTest, RegisteringTheSameCodeAnswersTheSameShader) {
  const TContextShaderVariables vars{{"M", TContextShaderVariableKind::Matrix, 0, 4}};
  TContextShader* a = TShaderManager::RegisterShaderFromData("Test.Same.fvs", TContextShaderKind::VertexShader, "",
                                                             Glsl("void main(){}", vars));
  a->SetHandle(42);
  TContextShader* b = TShaderManager::RegisterShaderFromData("Test.Same.fvs", TContextShaderKind::VertexShader, "",
                                                             Glsl("void main(){}", vars));
  EXPECT_EQ(a, b);
  EXPECT_EQ(b->GetHandle(), 42u);  // nothing released
  EXPECT_EQ(TShaderManager::FindShader("Test.Same.fvs"), a);
  EXPECT_EQ(TShaderManager::FindShader("Test.Unknown"), nullptr);
  EXPECT_TRUE(FClass.Calls.empty());
  EXPECT_THROW(TShaderManager::RegisterShaderFromData("", TContextShaderKind::PixelShader, "", Glsl("x")),
               EArgumentException);
}

TEST_F(ShaderMaterialTest, NewCodeUnderAnExistingNameReplacesTheTextAndReleasesTheOldHandle) {
  const struct {
    const char* Name;
    std::string First, Second;
    TContextShaderKind SecondKind;
  } cases[] = {
      {"Test.Replace.Longer", "void main(){}", "void main(){ gl_Position = vec4(0.0); }",
       TContextShaderKind::VertexShader},
      // The same length must not be taken for the same code.
      {"Test.Replace.SameLength", "void main(){ a = 1; }", "void main(){ b = 2; }", TContextShaderKind::VertexShader},
      {"Test.Replace.Kind", "void main(){}", "void main(){}", TContextShaderKind::PixelShader},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TContextShader* shader =
        TShaderManager::RegisterShaderFromData(c.Name, TContextShaderKind::VertexShader, "", Glsl(c.First));
    shader->SetHandle(0);  // a repeated run finds the shader compiled
    FClass.Calls.clear();
    TContextManager::InitializeShader(shader);
    ASSERT_NE(shader->GetHandle(), 0u);
    TContextShader* again = TShaderManager::RegisterShaderFromData(c.Name, c.SecondKind, "", Glsl(c.Second));
    EXPECT_EQ(again, shader);  // holders keep a valid pointer
    EXPECT_EQ(shader->GetHandle(), 0u);
    EXPECT_EQ(shader->GetKind(), c.SecondKind);
    EXPECT_EQ(shader->GetSourceByArch(TContextShaderArch::GLSL).CodeAsText(), c.Second);
    TContextManager::InitializeShader(shader);
    EXPECT_EQ(FClass.Calls, (TCalls{"init:" + std::string(c.Name) + ":" + c.First, "fin:" + std::string(c.Name),
                                    "init:" + std::string(c.Name) + ":" + c.Second}));
  }
}

TEST_F(ShaderMaterialTest, SourcesAnswerByArchitectureAndVariablesByName) {
  TContextShader* shader = TShaderManager::RegisterShaderFromData(
      "Test.Arch.fps", TContextShaderKind::PixelShader, "high-level text",
      Glsl("code", {{"Color", TContextShaderVariableKind::Vector, 0, 1},
                    {"Tex", TContextShaderVariableKind::Texture, 2, 0}}));
  EXPECT_EQ(shader->GetOriginalSource(), "high-level text");
  const TContextShaderSource& glsl = shader->GetSourceByArch(TContextShaderArch::GLSL);
  EXPECT_TRUE(glsl.IsDefined());
  ASSERT_NE(glsl.FindVariable("Tex"), nullptr);
  EXPECT_EQ(glsl.FindVariable("Tex")->Index, 2);
  EXPECT_EQ(glsl.FindVariable("tex"), nullptr);
  EXPECT_FALSE(shader->GetSourceByArch(TContextShaderArch::Metal).IsDefined());
}

TEST_F(ShaderMaterialTest, SetShadersCompilesOnlyShadersWithoutHandles) {
  TContextShader* vs =
      TShaderManager::RegisterShaderFromData("Test.Set.fvs", TContextShaderKind::VertexShader, "", Glsl("v"));
  TContextShader* ps =
      TShaderManager::RegisterShaderFromData("Test.Set.fps", TContextShaderKind::PixelShader, "", Glsl("p"));
  vs->SetHandle(0);
  ps->SetHandle(5);
  FClass.Calls.clear();
  TOwned<TProbeContext> ctx(New<TProbeContext>());
  ctx->SetShaders(vs, ps);
  ctx->SetShaders(vs, nullptr);  // nothing without both
  EXPECT_EQ(FClass.Calls, TCalls{"init:Test.Set.fvs:v"});
  EXPECT_EQ(ctx->Calls, TCalls{"shaders:Test.Set.fvs,Test.Set.fps"});
}

// Builds in its initialisation hook; the step after the hook sees the build done.
class TBuildMaterial : public TCustomMaterial {
public:
  TCalls Steps;
  void AfterConstruction() override {
    TCustomMaterial::AfterConstruction();
    Steps.push_back(FVertexShader ? "after build" : "after nothing");
  }

protected:
  void DoInitialize() override {
    Steps.push_back("build");
    FVertexShader = TShaderManager::RegisterShaderFromData("Test.Build.fvs", TContextShaderKind::VertexShader, "",
                                                           Glsl("v"));
    FPixelShader = TShaderManager::RegisterShaderFromData("Test.Build.fps", TContextShaderKind::PixelShader, "",
                                                          Glsl("p"));
  }
};

class TBuildSource : public TMaterialSource {
public:
  using TMaterialSource::TMaterialSource;

protected:
  TMaterial* CreateMaterial() override { return New<TBuildMaterial>(); }
};

class TListener : public TComponent {
public:
  using TComponent::TComponent;
  TCalls Events;
  void Notification(TComponent* AComponent, TOperation Operation) override {
    TComponent::Notification(AComponent, Operation);
    if (Operation == opRemove) Events.push_back("removed:" + AComponent->GetName());
  }
};

TEST_F(ShaderMaterialTest, MaterialsBuildInTheSecondPhaseAndApplyTheirShaders) {
  TOwned<TBuildMaterial> material(New<TBuildMaterial>());
  EXPECT_EQ(material->Steps, (TCalls{"build", "after build"}));
  EXPECT_EQ(material->GetMaterialProperty(TMaterial::TProperty::ModelViewProjection), "MVPMatrix");
  EXPECT_EQ(material->GetMaterialProperty(TMaterial::TProperty::ModelView), "");
  EXPECT_EQ(material->GetMaterialProperty(TMaterial::TProperty::ModelViewInverseTranspose), "");

  TOwned<TProbeContext> ctx(New<TProbeContext>());
  const TPoint3D v{};
  ctx->DrawPrimitives(TPrimitivesKind::Points, &v, nullptr, {{TVertexFormat::Vertex, 0}}, 12, 1, 2, 0,
                      material.get(), 1);
  EXPECT_EQ(ctx->Calls, (TCalls{"shaders:Test.Build.fvs,Test.Build.fps", "var:MVPMatrix", "batch"}));
}

TEST_F(ShaderMaterialTest, SourcesMakeTheirMaterialAndTellUsersOfChangesAndRemoval) {
  TOwned<TListener> listener(New<TListener>(nullptr));
  TBuildSource* source = New<TBuildSource>(nullptr);
  source->SetName("Source1");
  auto* material = dynamic_cast<TBuildMaterial*>(TMaterialSource::ValidMaterial(source));
  ASSERT_NE(material, nullptr);
  EXPECT_EQ(material->Steps, (TCalls{"build", "after build"}));
  EXPECT_EQ(material->GetOwnerSource(), source);
  EXPECT_EQ(TMaterialSource::ValidMaterial(nullptr), nullptr);

  TCalls seen;
  int32_t once = 0;
  once = source->AddChangeNotifier([&](TMaterialSource* s) {
    seen.push_back("once:" + s->GetName());
    s->RemoveChangeNotifier(once);  // a handler may remove itself while notified
  });
  source->AddChangeNotifier([&](TMaterialSource*) { seen.push_back("always"); });
  EXPECT_FALSE(material->GetModified());
  material->DoChange();
  material->DoChange();
  EXPECT_TRUE(material->GetModified());
  EXPECT_EQ(seen, (TCalls{"once:Source1", "always", "always"}));

  // A handler tied to a listener goes with the listener.
  TListener* shortLived = New<TListener>(nullptr);
  source->AddChangeNotifier([shortLived](TMaterialSource*) { shortLived->Events.push_back("changed"); }, shortLived);
  material->DoChange();
  EXPECT_EQ(shortLived->Events, TCalls{"changed"});
  Free(shortLived);
  material->DoChange();  // would touch the freed listener if its handler stayed
  EXPECT_EQ(seen.size(), 5u);

  source->FreeNotification(listener.get());
  Free(source);
  EXPECT_EQ(listener->Events, TCalls{"removed:Source1"});
}

TEST_F(ShaderMaterialTest, ColourMaterialSendsItsPremultipliedColourWithTheOpacity) {
  const TClass* cls = GetClass("TColorMaterialSource");
  ASSERT_NE(cls, nullptr);  // registered at unit initialisation, for the form
  TOwned<TColorMaterialSource> source(cls->CreateAs<TColorMaterialSource>(nullptr));
  int changes = 0;
  source->AddChangeNotifier([&](TMaterialSource*) { ++changes; });
  source->SetColor(MakeAlphaColor(255, 0, 0, 128));
  source->SetColor(MakeAlphaColor(255, 0, 0, 128));
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(uint32_t(source->GetColor()), 0x80FF0000u);

  TOwned<TProbeContext> ctx(New<TProbeContext>());
  const TPoint3D v{};
  ctx->DrawPrimitives(TPrimitivesKind::Points, &v, nullptr, {{TVertexFormat::Vertex, 0}}, 12, 1, 2, 0,
                      source->GetMaterial(), 0.5f);
  EXPECT_EQ(ctx->Calls, (TCalls{"shaders:Fw.ColorMaterial.fvs,Fw.ColorMaterial.fps", "var:Color", "var:MVPMatrix",
                                "batch"}));
  source->GetMaterial()->Apply(ctx.get());  // the opacity of the last draw still holds
  const float alpha = 128.0f / 255.0f * 0.5f;
  ASSERT_EQ(ctx->LastData.size(), 1u);
  EXPECT_FLOAT_EQ(ctx->LastData[0].W, alpha);
  EXPECT_FLOAT_EQ(ctx->LastData[0].X, alpha);
  EXPECT_FLOAT_EQ(ctx->LastData[0].Y, 0);
}

}  // namespace
}  // namespace shader_material_test
}  // namespace quorvel
