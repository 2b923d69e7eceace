#include <array>
#include <cstring>
#include <vector>

#include "framework/gui3d/Material.h"
#include "framework/rtl/Exceptions.h"
#include "lib/context/ContextShader.h"
#include "lib/context/ContextTypesLights.h"
#include "lib/materials/MaterialLayered.h"
#include "tests/context/ContextTestFixture.h"

namespace quorvel {

// Vertex colours (location 2), optionally placed by the instance matrix (locations 12-15).
class TVertexColorMaterial : public TCustomMaterial {
  FW_CLASS(TVertexColorMaterial, TCustomMaterial)

public:
  bool Instanced = false;

protected:
  void DoInitialize() override {
    FVertexShader = TShaderManager::RegisterShaderFromData(
        "Tests.Draw.VertexColor.fvs", TContextShaderKind::VertexShader, "",
        {TContextShaderSource(TContextShaderArch::GLSL,
                              TContextShaderSource::CodeFromText(
                                  "#version 430\n"
                                  "in vec3 a_Position; in vec4 a_Color; in mat4 a_ModelMatrix;\n"
                                  "uniform int _Instanced; out vec4 v_Color;\n"
                                  "void main() { v_Color = a_Color; vec4 p = vec4(a_Position, 1.0);\n"
                                  "  gl_Position = _Instanced != 0 ? a_ModelMatrix * p : p; }\n"),
                              {{"Instanced", TContextShaderVariableKind::Int, 0, 1}})});
    FPixelShader = TShaderManager::RegisterShaderFromData(
        "Tests.Draw.VertexColor.fps", TContextShaderKind::PixelShader, "",
        {TContextShaderSource(TContextShaderArch::GLSL,
                              TContextShaderSource::CodeFromText(
                                  "#version 430\nin vec4 v_Color; out vec4 o_Color;\n"
                                  "void main() { o_Color = v_Color; }\n"))});
  }
  void DoApply(TContext3D* AContext) override {
    TCustomMaterial::DoApply(AContext);
    const int32_t instanced = Instanced ? 1 : 0;
    static_cast<TQuorvelContext*>(AContext)->SetShaderVariableInt("Instanced", std::span<const int32_t>(&instanced, 1));
  }
};
FW_CLASS_IMPL(TVertexColorMaterial, "Tests.Context")
FW_CLASS_NO_MEMBERS(TVertexColorMaterial)

// A material whose apply fails, as a broken layer would.
class TFailingMaterial : public TMaterial {
  FW_CLASS(TFailingMaterial, TMaterial)

protected:
  void DoApply(TContext3D*) override { throw Exception("layer apply failed"); }
};
FW_CLASS_IMPL(TFailingMaterial, "Tests.Context")
FW_CLASS_NO_MEMBERS(TFailingMaterial)

class TFailingMaterialSource : public TMaterialSource {
  FW_CLASS(TFailingMaterialSource, TMaterialSource)

public:
  using TMaterialSource::TMaterialSource;

protected:
  TMaterial* CreateMaterial() override { return New<TFailingMaterial>(); }
};
FW_CLASS_IMPL(TFailingMaterialSource, "Tests.Context")
FW_CLASS_NO_MEMBERS(TFailingMaterialSource)

// Colours from a std140 block holding the material struct and two light records, declared
// in GLSL from the material system's member list: what arrives must be what the records hold.
class TBlockColorMaterial : public TCustomMaterial {
  FW_CLASS(TBlockColorMaterial, TCustomMaterial)

public:
  struct TData {
    TQuorvelShaderMaterial Material;
    TQuorvelShaderLight Lights[2];
  } Data{};

  void BeforeDestruction() override {
    // The program outlives this material: its block entry must not keep pointing at Data.
    if (TShaderProgram* program = TShaderProgramCache::Find(FVertexShader, FPixelShader))
      program->UnregisterUniformBufferByName("ShaderData");
    TCustomMaterial::BeforeDestruction();
  }

protected:
  void DoInitialize() override {
    static const char* const structs =
        "struct Light { int _LightType; vec4 _Position; vec4 _Direction; vec4 _Ambient; vec4 _Diffuse;\n"
        "  vec4 _Specular; vec4 _Scattering; float _SpotCutOff; float _SpotCosCutoff; float _SpotExponent;\n"
        "  float _ConstantAttenuation; float _LinearAttenuation; float _QuadraticAttenuation; float _Intensity;\n"
        "  int _Enabled; };\n"
        "struct Texture { vec4 _Feature; vec2 _Tiling; };\n"
        "struct Material { vec4 _Emissive; vec4 _Ambient; vec4 _Diffuse; vec4 _Specular; vec4 _Clipping;\n"
        "  vec2 _AlphaCutoff; float _ToneMapExp; vec4 _Displacement; vec4 _Features; float _Shininess;\n"
        "  int _Textures; int _PoolTexturesOffset; int _PoolTextures; Texture _Texture[16]; };\n"
        "layout(std140) uniform ShaderData { Material _Material; Light _Lights[2]; };\n";
    FVertexShader = TShaderManager::RegisterShaderFromData(
        "Tests.Draw.Block.fvs", TContextShaderKind::VertexShader, "",
        {TContextShaderSource(TContextShaderArch::GLSL,
                              TContextShaderSource::CodeFromText("#version 430\nin vec3 a_Position;\n"
                                                                 "void main() { gl_Position = vec4(a_Position, 1.0); }\n"))});
    FPixelShader = TShaderManager::RegisterShaderFromData(
        "Tests.Draw.Block.fps", TContextShaderKind::PixelShader, "",
        {TContextShaderSource(
            TContextShaderArch::GLSL,
            TContextShaderSource::CodeFromText(
                std::string("#version 430\n") + structs +
                "out vec4 o_Color;\n"
                "void main() {\n"
                "  bool ok = _Lights[1]._Enabled == 1 && _Lights[1]._SpotCosCutoff > 0.49 && _Material._Textures == 1\n"
                "    && _Material._Texture[15]._Tiling == vec2(1.0) && _Material._Shininess == 32.0;\n"
                "  o_Color = ok ? vec4(_Lights[1]._Diffuse.rgb, 1.0) : vec4(1.0, 0.0, 1.0, 1.0);\n"
                "}\n"))});
    Data.Material = CreateDefaultShaderMaterial();
  }
  void DoApply(TContext3D* AContext) override {
    TCustomMaterial::DoApply(AContext);
    if (TShaderProgram* program = TShaderProgramCache::GetCurrent()) {
      program->RegisterUniformBuffer("ShaderData", &Data, sizeof(Data));
      program->PushUniformBuffers();
    }
  }
};
FW_CLASS_IMPL(TBlockColorMaterial, "Tests.Context")
FW_CLASS_NO_MEMBERS(TBlockColorMaterial)

namespace {

// The engine context makes programs current through the program cache itself.
using TDrawContext = testkit::TProbeContext;

struct TColorVertex {
  float X, Y, Z;
  float R, G, B, A;
};
struct TByteColorVertex {
  float X, Y, Z;
  uint8_t Color[4];
};

const TVertexDeclaration ColorFDeclaration{{TVertexFormat::Vertex, 0}, {TVertexFormat::ColorF0, 12}};
const TVertexDeclaration ColorDeclaration{{TVertexFormat::Vertex, 0}, {TVertexFormat::Color0, 12}};

struct TCounters {
  int64_t Calls, Instances, Vertices, Indices;
  static TCounters Now() {
    return {GlobalDrawCalls.load(), GlobalDrawInstances.load(), GlobalVertexCount.load(), GlobalIndexCount.load()};
  }
  TCounters Since(const TCounters& AStart) const {
    return {Calls - AStart.Calls, Instances - AStart.Instances, Vertices - AStart.Vertices, Indices - AStart.Indices};
  }
};

constexpr TRGBA8 Black{0, 0, 0, 255};
constexpr TRGBA8 Red{255, 0, 0, 255};

class DrawTest : public ::testing::Test, protected TGLErrorCheck {
protected:
  void SetUp() override {
    testkit::UseSharedContext();
    if (HasFatalFailure()) return;
    Context.reset(New<TDrawContext>(nullptr, 16, 16, TMultisample::None, true));
    Target = std::make_unique<TGLTestFramebuffer>(16, 16);
    TContext3D::ResetCurrentStates();
    Material.reset(New<TVertexColorMaterial>());
    glClearColor(0, 0, 0, 1);
    glClearDepth(1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  }
  void TearDown() override {
    Material.reset();
    Target.reset();
    Context.reset();
    TContext3D::ResetCurrentStates();
    glUseProgram(0);
    CheckGLErrorsLeft();
  }
  static void TearDownTestSuite() { TShaderProgramCache::Clear(); }

  void DrawTriangle(const TVertexDeclaration& ADecl, const void* AVertices, int32_t AVertexSize, const void* AIndices,
                    int32_t AIndexSize, int32_t AIndexCount, TMaterial* AMaterial) {
    Context->DrawPrimitives(TPrimitivesKind::Triangles, AVertices, AIndices, ADecl, AVertexSize, 3, AIndexSize,
                            AIndexCount, AMaterial, 1.0f);
  }
  static bool NoAttributeArrayEnabled() {
    for (GLuint i = 0; i < 16; ++i) {
      GLint enabled = 0;
      glGetVertexAttribiv(i, GL_VERTEX_ATTRIB_ARRAY_ENABLED, &enabled);
      if (enabled) return false;
    }
    return true;
  }

  TOwned<TDrawContext> Context;
  std::unique_ptr<TGLTestFramebuffer> Target;
  TOwned<TVertexColorMaterial> Material;
};

// The lower-left half of the target.
const TColorVertex RedTriangle[3] = {{-1, -1, 0, 1, 0, 0, 1}, {1, -1, 0, 1, 0, 0, 1}, {-1, 1, 0, 1, 0, 0, 1}};
const uint16_t TriangleIndices[3] = {0, 1, 2};

TEST_F(DrawTest, AColouredTriangleIsDrawnAndCountedOnce) {
  struct Case {
    const char* Name;
    const void* Indices;
    int32_t IndexCount;
  };
  for (const Case& c : {Case{"indexed", TriangleIndices, 3}, Case{"array", nullptr, 0}}) {
    SCOPED_TRACE(c.Name);
    glClear(GL_COLOR_BUFFER_BIT);
    const TCounters start = TCounters::Now();
    DrawTriangle(ColorFDeclaration, RedTriangle, sizeof(TColorVertex), c.Indices, 2, c.IndexCount, Material.get());
    EXPECT_TRUE(NearColor(Target->Pixel(2, 2), Red)) << int(Target->Pixel(2, 2).R);
    EXPECT_TRUE(NearColor(Target->Pixel(5, 8), Red));
    EXPECT_TRUE(NearColor(Target->Pixel(13, 13), Black));
    EXPECT_TRUE(NearColor(Target->Pixel(14, 5), Black));
    const TCounters d = TCounters::Now().Since(start);
    EXPECT_EQ(d.Calls, 1);
    EXPECT_EQ(d.Instances, 1);
    EXPECT_EQ(d.Vertices, 3);
    EXPECT_EQ(d.Indices, c.IndexCount);
    EXPECT_TRUE(NoAttributeArrayEnabled());
  }
}

TEST_F(DrawTest, AnIndexedInstancedMeshLandsAtEachInstanceAndCountsInstances) {
  // A quad of half the target's width around the origin, in four colours of bytes.
  const TByteColorVertex quad[4] = {{-0.5f, -0.5f, 0, {255, 0, 0, 255}},
                                    {0.5f, -0.5f, 0, {255, 0, 0, 255}},
                                    {0.5f, 0.5f, 0, {255, 0, 0, 255}},
                                    {-0.5f, 0.5f, 0, {255, 0, 0, 255}}};
  const uint32_t indices[6] = {0, 1, 2, 0, 2, 3};
  // Row vectors: the translation sits in the fourth row. Three quadrants, the fourth stays empty.
  std::array<TMatrix3D, 3> instances;
  const float offsets[3][2] = {{-0.5f, -0.5f}, {0.5f, -0.5f}, {-0.5f, 0.5f}};
  for (size_t i = 0; i < instances.size(); ++i) {
    instances[i] = TMatrix3D::Identity();
    instances[i].m41 = offsets[i][0];
    instances[i].m42 = offsets[i][1];
  }
  Material->Instanced = true;
  const TCounters start = TCounters::Now();
  Context->SetInstances(3, instances.data());
  Context->DrawPrimitives(TPrimitivesKind::Triangles, quad, indices, ColorDeclaration, sizeof(TByteColorVertex), 4, 4,
                          6, Material.get(), 1.0f);
  EXPECT_TRUE(NearColor(Target->Pixel(4, 4), Red));
  EXPECT_TRUE(NearColor(Target->Pixel(12, 4), Red));
  EXPECT_TRUE(NearColor(Target->Pixel(4, 12), Red));
  EXPECT_TRUE(NearColor(Target->Pixel(12, 12), Black));
  const TCounters d = TCounters::Now().Since(start);
  EXPECT_EQ(d.Calls, 1);
  EXPECT_EQ(d.Instances, 3);
  EXPECT_EQ(d.Vertices, 4 * 3);
  EXPECT_EQ(d.Indices, 6 * 3);
  // An instanced draw consumes the instances.
  EXPECT_EQ(Context->GetInstanceCount(), 0);
  EXPECT_TRUE(NoAttributeArrayEnabled());
}

TEST_F(DrawTest, AMeshCacheDrawsFromItsGPUBuffersAndIsUsedOnce) {
  const uint32_t indices[3] = {0, 1, 2};
  TOwned<TMeshBufferObject> mesh(New<TMeshBufferObject>());
  mesh->SetStaticBuffer(mesh.get());
  mesh->PushData(TMeshBufferComponent::All, RedTriangle, sizeof(RedTriangle));
  mesh->PushData(TMeshBufferComponent::Indices, indices, sizeof(indices));
  const TCounters start = TCounters::Now();
  Context->SetCurrentCache(mesh.get());
  // The caller's own arrays are ignored while a cache is set.
  DrawTriangle(ColorFDeclaration, nullptr, sizeof(TColorVertex), nullptr, 4, 0, Material.get());
  EXPECT_TRUE(NearColor(Target->Pixel(2, 2), Red));
  EXPECT_TRUE(NearColor(Target->Pixel(13, 13), Black));
  EXPECT_EQ(TCounters::Now().Since(start).Indices, 3);
  EXPECT_EQ(Context->GetCurrentCache(), nullptr);
  GLint buffer = -1;
  glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &buffer);
  EXPECT_EQ(buffer, 0);
  glGetIntegerv(GL_ELEMENT_ARRAY_BUFFER_BINDING, &buffer);
  EXPECT_EQ(buffer, 0);
}

// A baked frame holds whole vertices of its own beside the mesh's static buffer (which keeps
// the indices and the mesh at rest): the frame's vertices are drawn, not the rest pose.
TEST_F(DrawTest, ACacheWithVerticesOfItsOwnDrawsThemOverItsStaticBuffer) {
  const uint32_t indices[3] = {0, 1, 2};
  const TColorVertex greenOpposite[3] = {{1, 1, 0, 0, 1, 0, 1}, {-1, 1, 0, 0, 1, 0, 1}, {1, -1, 0, 0, 1, 0, 1}};
  TOwned<TMeshBufferObject> rest(New<TMeshBufferObject>());
  rest->SetStaticBuffer(rest.get());
  rest->PushData(TMeshBufferComponent::All, RedTriangle, sizeof(RedTriangle));
  rest->PushData(TMeshBufferComponent::Indices, indices, sizeof(indices));
  TOwned<TMeshBufferObject> frame(New<TMeshBufferObject>(rest.get()));
  frame->PushData(TMeshBufferComponent::All, greenOpposite, sizeof(greenOpposite));
  Context->SetCurrentCache(frame.get());
  DrawTriangle(ColorFDeclaration, nullptr, sizeof(TColorVertex), nullptr, 4, 0, Material.get());
  EXPECT_TRUE(NearColor(Target->Pixel(13, 13), TRGBA8{0, 255, 0, 255}));
  EXPECT_TRUE(NearColor(Target->Pixel(2, 2), Black));
  GLint buffer = -1;
  glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &buffer);
  EXPECT_EQ(buffer, 0);
  EXPECT_TRUE(NoAttributeArrayEnabled());
}

// Every failure leaves as one exception with the batch prefix; none leaves a cache, an
// attribute array or a bound buffer behind for the next draw.
TEST_F(DrawTest, FailedDrawsRaiseWithThePrefixAndLeaveNothingBehind) {
  const std::string prefix = "Exception in TQuorvelContextOpenGLES.DoDrawPrimitivesBatch(): ";
  const uint16_t outOfRange[3] = {0, 1, 7};
  TOwned<TMeshBufferObject> emptyMesh(New<TMeshBufferObject>());
  const uint32_t indices[3] = {0, 1, 2};
  TOwned<TMeshBufferObject> cachedMesh(New<TMeshBufferObject>());
  cachedMesh->SetStaticBuffer(cachedMesh.get());
  cachedMesh->PushData(TMeshBufferComponent::All, RedTriangle, sizeof(RedTriangle));
  cachedMesh->PushData(TMeshBufferComponent::Indices, indices, sizeof(indices));
  struct Case {
    const char* Name;
    std::function<void()> Draw;
    std::string Message;
  };
  const TMatrix3D identity = TMatrix3D::Identity();
  const Case cases[] = {
      {"index size 3", [&] { DrawTriangle(ColorFDeclaration, RedTriangle, sizeof(TColorVertex), TriangleIndices, 3, 3, Material.get()); },
       "DrawElements(2): invalid index size"},
      {"instanced index size 1",
       [&] {
         Context->SetInstances(1, &identity);
         DrawTriangle(ColorFDeclaration, RedTriangle, sizeof(TColorVertex), TriangleIndices, 1, 3, Material.get());
       },
       "DrawElements(1): invalid index size"},
      {"index beyond the vertices",
       [&] { DrawTriangle(ColorFDeclaration, RedTriangle, sizeof(TColorVertex), outOfRange, 2, 3, Material.get()); },
       "DrawElements: index 7 out of range (vertex count 3)"},
      {"cache without data",
       [&] {
         Context->SetCurrentCache(emptyMesh.get());
         DrawTriangle(ColorFDeclaration, RedTriangle, sizeof(TColorVertex), nullptr, 2, 0, Material.get());
       },
       "cache used, but no meshbuffer object found ..."},
      {"cached instanced index size 3",
       [&] {
         Context->SetCurrentCache(cachedMesh.get());
         Context->SetInstances(1, &identity);
         DrawTriangle(ColorFDeclaration, nullptr, sizeof(TColorVertex), nullptr, 3, 0, Material.get());
       },
       "DrawElements(1): invalid index size"},
      {"cached index size 0",
       [&] {
         Context->SetCurrentCache(cachedMesh.get());
         DrawTriangle(ColorFDeclaration, nullptr, sizeof(TColorVertex), nullptr, 0, 0, Material.get());
       },
       "DrawElements(2): invalid index size"},
      {"layered material of another class",
       [&] {
         Context->SetCurrentLayeredMaterial(Material.get());
         DrawTriangle(ColorFDeclaration, RedTriangle, sizeof(TColorVertex), TriangleIndices, 2, 3, Material.get());
       },
       "Invalid class typecast"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    glClear(GL_COLOR_BUFFER_BIT);
    try {
      c.Draw();
      ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
      EXPECT_EQ(std::string(e.what()), prefix + c.Message);
    }
    EXPECT_EQ(Context->GetCurrentCache(), nullptr);
    EXPECT_EQ(Context->GetCurrentLayeredMaterial(), nullptr);
    EXPECT_EQ(Context->GetInstanceCount(), 0);
    EXPECT_TRUE(NoAttributeArrayEnabled());
    EXPECT_TRUE(NearColor(Target->Pixel(2, 2), Black));
  }
  // The context still draws afterwards.
  DrawTriangle(ColorFDeclaration, RedTriangle, sizeof(TColorVertex), TriangleIndices, 2, 3, Material.get());
  EXPECT_TRUE(NearColor(Target->Pixel(2, 2), Red));
}

TEST_F(DrawTest, AUniformBlockOfMaterialAndLightRecordsReachesTheShaderIntact) {
  TOwned<TBlockColorMaterial> material(New<TBlockColorMaterial>());
  TLightDescription spot;
  spot.LightType = TLightType::Spot;
  spot.SpotCutOff = 60;
  spot.Color = claLime;
  material->Data.Lights[1] = TQuorvelShaderLight::Create(spot);
  DrawTriangle(ColorFDeclaration, RedTriangle, sizeof(TColorVertex), TriangleIndices, 2, 3, material.get());
  EXPECT_TRUE(NearColor(Target->Pixel(2, 2), TRGBA8{0, 255, 0, 255})) << int(Target->Pixel(2, 2).R);
  // A change of the CPU copy reaches the next draw.
  material->Data.Lights[1].Diffuse = TAlphaColorF(0, 0, 1, 1);
  DrawTriangle(ColorFDeclaration, RedTriangle, sizeof(TColorVertex), TriangleIndices, 2, 3, material.get());
  EXPECT_TRUE(NearColor(Target->Pixel(2, 2), TRGBA8{0, 0, 255, 255}));
}

// The cache's kind and line width decide; only GL_LINES puts the width back to 1.
TEST_F(DrawTest, ACachedLineDrawUsesTheCacheWidthAndOnlyLinesResetIt) {
  const uint32_t indices[2] = {0, 1};
  struct Case {
    TQuorvelPrimitivesKind Kind;
    float WidthAfter;
  };
  for (const Case& c : {Case{TQuorvelPrimitivesKind::Lines, 1.0f}, Case{TQuorvelPrimitivesKind::LineStrip, 3.0f}}) {
    SCOPED_TRACE(static_cast<int>(c.Kind));
    glLineWidth(1.0f);
    TOwned<TMeshBufferObject> mesh(New<TMeshBufferObject>());
    mesh->SetStaticBuffer(mesh.get());
    mesh->SetKind(c.Kind);
    mesh->SetLineWidth(3.0f);
    mesh->PushData(TMeshBufferComponent::All, RedTriangle, sizeof(RedTriangle));
    mesh->PushData(TMeshBufferComponent::Indices, indices, sizeof(indices));
    Context->SetCurrentCache(mesh.get());
    DrawTriangle(ColorFDeclaration, nullptr, sizeof(TColorVertex), nullptr, 4, 0, Material.get());
    GLfloat width = 0;
    glGetFloatv(GL_LINE_WIDTH, &width);
    EXPECT_EQ(width, c.WidthAfter);
  }
  glLineWidth(1.0f);
}

class LayeredDrawTest : public DrawTest {
protected:
  void SetUp() override {
    DrawTest::SetUp();
    if (HasFatalFailure()) return;
    // Clip-space vertices: identity model, camera and projection.
    Context->SetProjectionMatrix(TMatrix3D::Identity());
    // A known blend table (the first read sets the platform's default blending).
    Context->GetBlendings();
    Context->SetBlendings(TBlendSettings{});
    // The base pass writes zero colour and alpha: what shows is the layers' sum.
    Layered.reset(New<TQuorvelLayeredMaterialSource>(nullptr));
  }
  void TearDown() override {
    Layered.reset();
    Layers.clear();
    DrawTest::TearDown();
  }
  TMaterialSource* AddLayer(TAlphaColor AColor) {
    auto* source = New<TColorMaterialSource>(nullptr);
    source->SetColor(AColor);
    Layers.emplace_back(source);
    AddItem(source);
    return source;
  }
  void AddItem(TMaterialSource* ASource) {
    Layered->GetMaterials()->AddItem<TQuorvelLayeredMaterialItem>()->SetMaterial(ASource);
  }
  void DrawBase() {
    DrawTriangle(ColorFDeclaration, RedTriangle, sizeof(TColorVertex), TriangleIndices, 2, 3, Layered->GetMaterial());
  }

  std::vector<TBlendSetting> BlendTable() const {
    std::vector<TBlendSetting> table;
    for (uint32_t i = 0; i < BlendingBufferCount; ++i) table.push_back(Context->GetBlendingByIndex(i));
    return table;
  }

  TOwned<TQuorvelLayeredMaterialSource> Layered;
  std::vector<TOwned<TMaterialSource>> Layers;
};

TEST_F(LayeredDrawTest, ThreeLayersDrawFourTimesAndRestoreTheStates) {
  AddLayer(claLime);   // green over the zero base
  AddLayer(claBlue);   // + blue: cyan
  AddLayer(claBlack);  // adds nothing
  Context->SetContextState(TContextState::csZTestOn);
  Context->SetContextState(TContextState::csAlphaBlendOff);
  const std::vector<TBlendSetting> blendings = BlendTable();
  const TCounters start = TCounters::Now();
  DrawBase();
  EXPECT_EQ(TCounters::Now().Since(start).Calls, 4);
  EXPECT_TRUE(NearColor(Target->Pixel(2, 2), TRGBA8{0, 255, 255, 255}, 3));
  EXPECT_TRUE(NearColor(Target->Pixel(13, 13), Black));
  EXPECT_EQ(Context->GetCurrentLayeredMaterial(), nullptr);
  EXPECT_TRUE(TContext3D::GetCurrentState(TContextState::csZTestOn));
  EXPECT_TRUE(testkit::GLEnabled(GL_DEPTH_TEST));
  EXPECT_TRUE(TContext3D::GetCurrentState(TContextState::csAlphaBlendOff));
  EXPECT_FALSE(testkit::GLEnabled(GL_BLEND));
  EXPECT_EQ(BlendTable(), blendings);
}

TEST_F(LayeredDrawTest, ALayerStreamedByItsPublishedPropertiesDraws) {
  TOwned<TColorMaterialSource> lime(New<TColorMaterialSource>(nullptr));
  lime->SetColor(claLime);
  auto* item = Layered->GetMaterials()->AddItem<TQuorvelLayeredMaterialItem>();
  SetPropValue(item, "DisplayName", TValue::From(std::string("Glow")));
  SetPropValue(item, "Material", TValue::From(static_cast<TObject*>(lime.get())));
  EXPECT_EQ(GetPropValue(item, "DisplayName").AsString(), "Glow");
  EXPECT_EQ(GetPropValue(item, "Material").AsObject(), lime.get());
  DrawBase();
  EXPECT_TRUE(NearColor(Target->Pixel(2, 2), TRGBA8{0, 255, 0, 255}, 3));
}

TEST_F(LayeredDrawTest, ALayerWithoutMaterialIsSkipped) {
  AddLayer(claLime);
  AddItem(nullptr);
  const TCounters start = TCounters::Now();
  DrawBase();
  EXPECT_EQ(TCounters::Now().Since(start).Calls, 2);
  EXPECT_TRUE(NearColor(Target->Pixel(2, 2), TRGBA8{0, 255, 0, 255}, 3));
}

// A failing layer used to leave the depth test off (and the record saying so) for every
// later draw; the states come back on the failure path too.
TEST_F(LayeredDrawTest, AFailingLayerStillRestoresDepthTestBlendingAndTheCache) {
  AddLayer(claLime);
  TOwned<TMaterialSource> failing(New<TFailingMaterialSource>(nullptr));
  AddItem(failing.get());
  Context->SetContextState(TContextState::csZTestOn);
  const std::vector<TBlendSetting> blendings = BlendTable();
  EXPECT_THROW(DrawBase(), Exception);
  EXPECT_EQ(Context->GetCurrentLayeredMaterial(), nullptr);
  EXPECT_TRUE(TContext3D::GetCurrentState(TContextState::csZTestOn));
  EXPECT_TRUE(testkit::GLEnabled(GL_DEPTH_TEST));
  EXPECT_EQ(BlendTable(), blendings);
  EXPECT_TRUE(NoAttributeArrayEnabled());
  Layered->GetMaterials()->Clear();
}

TEST_F(LayeredDrawTest, ALayerSourceFreedFirstIsForgotten) {
  TMaterialSource* layer = AddLayer(claLime);
  EXPECT_EQ(static_cast<TQuorvelLayeredMaterial*>(Layered->GetMaterial())->GetMaterialsCount(), 1);
  Layers.clear();  // frees the layer's source
  auto* item = static_cast<TQuorvelLayeredMaterial*>(Layered->GetMaterial())->GetMaterialItem(nullptr, 0);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->GetMaterial(), nullptr);
  (void)layer;
  EXPECT_EQ(static_cast<TQuorvelLayeredMaterial*>(Layered->GetMaterial())->GetMaterialItem(nullptr, 1), nullptr);
}

}  // namespace
}  // namespace quorvel
