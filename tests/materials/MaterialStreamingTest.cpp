// Material sources in forms and definitions: every source class reads from form text with its
// published properties, writes them back and draws; sources with shadows on travel through a
// definition unchanged; switches that sample a map make its entry; a failed load frees its
// source.
#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <string>
#include <vector>

#include "framework/classes/FormText.h"
#include "framework/classes/Messages.h"
#include "framework/io/Stream.h"
#include "framework/rtl/Exceptions.h"
#include "lib/context/ContextShader.h"
#include "lib/defs/DefTypesMaterial.h"
#include "lib/defs/DefTypesProperties.h"
#include "lib/materials/MaterialBlinn.h"
#include "lib/materials/MaterialPBR.h"
#include "lib/passes/Controller.h"
#include "tests/context/ContextTestFixture.h"
#include "tests/materials/QuadView.h"

using namespace quorvel;

namespace {

using TSource = TQuorvelDefaultMaterialSource;

struct TQuadVertex {
  float X, Y, Z;
  float NX, NY, NZ;
  float U, V;
  uint8_t R, G, B, A;
  float TX, TY, TZ;
};
// The sources' colour, also as the vertex colour for the class that paints with it.
constexpr uint32_t Bluish = 0xFF3050D0;
const TVertexDeclaration kQuadDeclaration{{TVertexFormat::Vertex, 0},
                                         {TVertexFormat::Normal, 12},
                                         {TVertexFormat::TexCoord0, 24},
                                         {TVertexFormat::Color0, 32},
                                         {TVertexFormat::Tangent, 36}};
// Tangents for the classes that map normals in tangent space.
const TQuadVertex kQuadVertices[4] = {{-1, -1, 0, 0, 0, 1, 0, 0, 0x30, 0x50, 0xD0, 0xFF, 1, 0, 0},
                                 {1, -1, 0, 0, 0, 1, 1, 0, 0x30, 0x50, 0xD0, 0xFF, 1, 0, 0},
                                 {1, 1, 0, 0, 0, 1, 1, 1, 0x30, 0x50, 0xD0, 0xFF, 1, 0, 0},
                                 {-1, 1, 0, 0, 0, 1, 0, 1, 0x30, 0x50, 0xD0, 0xFF, 1, 0, 0}};
const uint16_t kQuadIndices[6] = {0, 1, 2, 0, 2, 3};

class MaterialStreaming : public quorvel::testkit::TSharedGLTest {
protected:
  void SetUp() override {
    TSharedGLTest::SetUp();
    if (HasFatalFailure()) return;
    // A white point light between the eye and the quad.
    quorvel::testkit::LookAtQuad(Context.get());
    TQuorvelShaderLight light;
    light.LightType = 1;
    light.Position = TVector3D(0, 0, 1.5f, 1);
    // No highlight: the probe reads the lit colour itself.
    light.Diffuse = TAlphaColorF(1, 1, 1, 1);
    light.Specular = TAlphaColorF(0, 0, 0, 1);
    light.Intensity = 1;
    light.ConstantAttenuation = 1;
    light.Enabled = 1;
    Context->AddLight(light);
  }
  void TearDown() override {
    glUseProgram(0);
    TSharedGLTest::TearDown();
  }
  TRGBA8 DrawCentre(TSource* ASource) {
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    Context->DrawPrimitives(TPrimitivesKind::Triangles, kQuadVertices, kQuadIndices, kQuadDeclaration, sizeof(TQuadVertex), 4,
                            2, 6, ASource->DefaultMaterial(), 1);
    return Target->Pixel(8, 8);
  }
  static std::vector<std::string> EntryNames(TSource* ASource) {
    std::vector<std::string> names;
    for (int i = 0; i < ASource->GetBitmaps()->GetCount(); ++i)
      names.push_back(ASource->GetBitmaps()->Items(i)->GetDisplayName());
    return names;
  }
  // Name and settings of every entry, in pool order.
  static std::vector<std::string> EntrySettings(TSource* ASource) {
    std::vector<std::string> rows;
    for (int i = 0; i < ASource->GetBitmaps()->GetCount(); ++i) {
      TQuorvelBitmapPoolEntry* e = ASource->GetBitmaps()->Items(i);
      rows.push_back(e->GetDisplayName() + " " + EnumToString(e->GetTextureKind()) + " " +
                     EnumToString(e->GetFormat()) + " " + EnumToString(e->GetShaderKind()) +
                     (e->GetIsDynamic() ? " dynamic" : "") + (e->GetIgnoreInArray() ? " ignored" : "") +
                     (e->GetProtectFormatSettings() ? " protected" : ""));
    }
    return rows;
  }
};

// A 2x2 bitmap of one colour, as the form's binary value.
std::string BitmapHex(TAlphaColor AColor) {
  TOwned<TBitmap> bitmap(New<TBitmap>(2, 2));
  bitmap->Clear(AColor);
  TMemoryStream stream;
  bitmap->SaveToStream(&stream);
  static const char* digits = "0123456789ABCDEF";
  std::string hex;
  const auto* bytes = static_cast<const uint8_t*>(stream.GetMemory());
  for (int64_t i = 0; i < stream.GetSize(); ++i) {
    hex += digits[bytes[i] >> 4];
    hex += digits[bytes[i] & 15];
  }
  return hex;
}

uint32_t FirstTexel(TBitmap* ABitmap) {
  TBitmapData data;
  if (!ABitmap || !ABitmap->Map(TMapAccess::Read, data)) return 0;
  const uint32_t texel = static_cast<const uint32_t*>(data.GetScanline(0))[0];
  ABitmap->Unmap(data);
  return texel;
}

struct TFormCase {
  const char* ClassName;
  const char* PassProperty;
  const char* PassClass;
  // A published bitmap and its texel; none for the classes that publish no bitmap.
  const char* Bitmap;
  uint32_t Texel;
};
const TFormCase FormCases[] = {
    {"TQuorvelDefaultMaterialSource", "ReflectionPass", "TQuorvelRenderPassReflection", nullptr, 0},
    {"TQuorvelVertexColorMaterialSource", "RefractionPass", "TQuorvelRenderPassRefraction", nullptr, 0},
    {"TQuorvelLambertMaterialSource", "EnvironmentPass", "TQuorvelRenderPassEnvironment", "Texture", 0xFFFFFFFF},
    {"TQuorvelPhongMaterialSource", "MainShadowMapPass", "TQuorvelRenderPassCustomDepth", "Texture", 0xFFFFFFFF},
    {"TQuorvelBlinnMaterialSource", "ReflectionPass", "TQuorvelRenderPassReflection", "Texture", 0xFFFFFFFF},
    {"TQuorvelNormalMapMaterialSource", "DepthPass", "TQuorvelRenderPassCustomDepth", "NormalMap", 0xFF8080FF},
    {"TQuorvelBumpMapMaterialSource", "RefractionPass", "TQuorvelRenderPassRefraction", "SpecularMap", 0xFF000000},
    {"TQuorvelPOMMaterialSource", "EnvironmentPass", "TQuorvelRenderPassEnvironment", "ParallaxOcclusionMap",
     0xFFFFFFFF},
    {"TQuorvelPBRMaterialSource", "MainShadowMapPass", "TQuorvelRenderPassCustomDepth", "MetalnessTexture",
     0xFF000000},
};

TEST_F(MaterialStreaming, EverySourceClassReadsWritesBackAndDraws) {
  // Some seconds under ASan: every property read rebuilds the texts, over nine classes.
  for (const TFormCase& c : FormCases) {
    SCOPED_TRACE(c.ClassName);
    std::vector<std::string> lines = {"object Pass1: " + std::string(c.PassClass), "  end",
                                      "  object Source1: " + std::string(c.ClassName), "    Color = $FF3050D0",
                                      "    " + std::string(c.PassProperty) + " = Pass1"};
    std::string text = "object Root: TComponent\n  ";
    for (const std::string& line : lines) text += line + "\n";
    if (c.Bitmap) text += "    " + std::string(c.Bitmap) + ".Data = {" + BitmapHex(TAlphaColor(c.Texel)) + "}\n";
    text += "  end\nend\n";

    TOwned<TComponent> root(New<TComponent>(nullptr));
    ASSERT_NO_THROW(ReadComponentResource(root.get(), text)) << text;
    const std::string written = WriteComponentResource(root.get());
    // The text's own lines come back in order; the bitmap only through the pool.
    size_t at = 0;
    for (const std::string& line : lines) {
      at = written.find(line + "\n", at);
      ASSERT_NE(at, std::string::npos) << line << "\n" << written;
    }
    if (c.Bitmap) {
      EXPECT_EQ(written.find("    " + std::string(c.Bitmap) + "."), std::string::npos) << written;
    }

    TOwned<TComponent> again(New<TComponent>(nullptr));
    ASSERT_NO_THROW(ReadComponentResource(again.get(), written)) << written;
    EXPECT_EQ(WriteComponentResource(again.get()), written);
    auto* source = dynamic_cast<TSource*>(again->FindComponent("Source1"));
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->ClassName(), c.ClassName);
    EXPECT_EQ(GetPropValue(source, c.PassProperty).AsObject(), again->FindComponent("Pass1"));
    EXPECT_EQ(source->GetColor(), TAlphaColor(0xFF3050D0));
    if (c.Bitmap) {
      auto* bitmap = dynamic_cast<TBitmap*>(GetPropValue(source, c.Bitmap).AsObject());
      ASSERT_NE(bitmap, nullptr);
      EXPECT_EQ(bitmap->GetWidth(), 2);
      EXPECT_EQ(FirstTexel(bitmap), c.Texel);
    }

    // Lit and bluish: blue over green over red, as the colour.
    source->SetUseLighting(true);
    const TRGBA8 px = DrawCentre(source);
    EXPECT_GT(px.B, px.G) << int(px.R) << " " << int(px.G) << " " << int(px.B);
    EXPECT_GT(px.G, px.R) << int(px.R) << " " << int(px.G) << " " << int(px.B);
    EXPECT_GT(px.B, 60);
  }
}

// A source with shadows on, stored and loaded: pass-filled entries are made again by the
// switch, not loaded as textures of their own.
TEST_F(MaterialStreaming, SourcesWithShadowsTravelThroughADefinitionUnchanged) {
  const std::pair<const char*, TSource* (*)()> makers[] = {
      {"Blinn", [] { return static_cast<TSource*>(New<TQuorvelBlinnMaterialSource>(nullptr)); }},
      {"PBR", [] {
         auto* s = New<TQuorvelPBRMaterialSource>(nullptr);
         // Two maps off, so that the eight shadow maps fit under the cap.
         s->SetUseNormalMapping(false);
         s->SetUseDisplacementMapping(false);
         return static_cast<TSource*>(s);
       }}};
  for (const auto& [name, make] : makers) {
    SCOPED_TRACE(name);
    TOwned<TSource> s(make());
    s->SetColor(TAlphaColor(Bluish));
    s->SetShadows(true);
    ASSERT_TRUE(s->GetShadows());
    TOwned<TMaterialDef> def(New<TMaterialDef>());
    s->StoreToDefinition(def.get());
    for (int i = 0; i < def->GetTextures()->Count(); ++i)
      EXPECT_NE((*def->GetTextures())[i]->GetChannel(), TColorChannelDef::UserSpecific);

    TOwned<TSource> back(make());
    ASSERT_NO_THROW(back->LoadFromDefinition(def.get()));
    EXPECT_TRUE(back->GetShadows());
    EXPECT_EQ(EntrySettings(back.get()), EntrySettings(s.get()));
    EXPECT_EQ(back->DefaultMaterial()->GetVSShaderSource().CodeAsText(),
              s->DefaultMaterial()->GetVSShaderSource().CodeAsText());
    EXPECT_EQ(back->DefaultMaterial()->GetFSShaderSource().CodeAsText(),
              s->DefaultMaterial()->GetFSShaderSource().CodeAsText());
    const TRGBA8 stored = DrawCentre(s.get());
    const TRGBA8 loaded = DrawCentre(back.get());
    EXPECT_EQ(loaded, stored);
    EXPECT_GT(loaded.B, 60);
  }
}

TEST_F(MaterialStreaming, EnvironmentTravelsAsASwitch) {
  TOwned<TSource> s(New<TSource>(nullptr));
  s->SetEnvironment(true);
  ASSERT_NE(s->FindBitmapEntryByName("EnvironmentTexture"), nullptr);
  TOwned<TMaterialDef> def(New<TMaterialDef>());
  s->StoreToDefinition(def.get());
  EXPECT_EQ(def->GetTexture(TColorChannelDef::Environment), nullptr);
  TOwned<TSource> back(New<TSource>(nullptr));
  back->LoadFromDefinition(def.get());
  EXPECT_TRUE(back->GetEnvironment());
  EXPECT_EQ(EntryNames(back.get()), EntryNames(s.get()));
}

// Switches whose text samples a map the default entries lack: the entry comes with the switch.
TEST_F(MaterialStreaming, MapSwitchesMakeTheEntryTheirTextSamples) {
  using TSet = void (TSource::*)(bool);
  const struct {
    const char* Name;
    TSet Set;
    const char* Entry;
    TQuorvelShadingModel Model;
  } cases[] = {
      {"UseSpecularMapping", &TSource::SetUseSpecularMapping, "SpecularMapTexture", TQuorvelShadingModel::smBlinnPhong},
      {"UsePBRSpecularTexture", &TSource::SetUsePBRSpecularTexture, "SpecularMapTexture", TQuorvelShadingModel::smPBR},
      {"UseParallaxOcclusion", &TSource::SetUseParallaxOcclusion, "POMTexture", TQuorvelShadingModel::smBlinnPhong},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TOwned<TSource> s(New<TSource>(nullptr));
    s->SetShadingModel(c.Model);
    s->SetUseLighting(true);
    s->SetUseSpecular(true);
    (s.get()->*c.Set)(true);
    EXPECT_NE(s->FindBitmapEntryByName(c.Entry), nullptr);
    EXPECT_NE(s->DefaultMaterial()->FindTexturePoolEntryByName(c.Entry), nullptr);
    ASSERT_NO_THROW(Context->ApplyMaterial(s->DefaultMaterial()));
    EXPECT_NE(TQuorvelContext::GetCurrentProgram(), nullptr);
    EXPECT_FALSE(s->DefaultMaterial()->GetErrorOnBuildingShader());
  }
  // On a full pool the switch is refused before its define changes.
  TOwned<TSource> full(New<TSource>(nullptr));
  for (int i = full->GetBitmaps()->GetCount(); i < TSource::MaxPoolTextures; ++i)
    full->AddBitmap("User" + std::to_string(i), TPixelFormatEx::RGBA8, TPixelFormatEx::RGBA,
                    TQuorvelTextureDataType::dtUnsignedByte, false, true, true, TContextShaderKind::PixelShader,
                    TQuorvelTextureKind::Texture2D);
  EXPECT_THROW(full->SetUseSpecularMapping(true), Exception);
  EXPECT_FALSE(full->GetUseSpecularMapping());
}

TEST_F(MaterialStreaming, AFailedLoadFreesTheSourceItMade) {
  TOwned<TMaterialDef> def(New<TMaterialDef>());
  // A displacement that is not a vector ends the load with an invalid cast.
  def->AddExtension("Displacement")->GetProperties()->AddOrSetValue("Displacement", TValue::From(int32_t(1)));
  const std::type_index reset(typeid(TContextResetMessage));
  const int listeners = TMessageManager::DefaultManager().ListenerCount(reset);
  TOwned<TComponent> owner(New<TComponent>(nullptr));
  for (TComponent* o : {static_cast<TComponent*>(nullptr), owner.get()}) {
    EXPECT_THROW(TSource::CreateFromDefinition(o, def.get()), EInvalidCast);
    // Every source listens for context resets while it lives.
    EXPECT_EQ(TMessageManager::DefaultManager().ListenerCount(reset), listeners);
  }
  EXPECT_EQ(owner->GetComponentCount(), 0);
}

}  // namespace
