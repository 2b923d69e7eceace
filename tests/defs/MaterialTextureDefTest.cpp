// Materials with textures, shaders and layered sub-materials; sampler, texture and shader
// definitions: JSON forms, reading tables, list operations, the asset's bitmap with its flips
// and wraps, and who frees what.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "framework/io/Path.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/SysUtils.h"
#include "lib/defs/DefTypes.h"
#include "lib/defs/DefTypesTexture.h"
#include "lib/formats/assets/AssetsManager.h"
#include "tests/defs/DefTypesTestUtil.h"

namespace quorvel {
namespace {

using test::ParseObject;
using test::TakeText;
using Wrap = TQuorvelTextureWrap;

// A texture asset that counts how often one of its kind is freed.
class TCountedTextureAsset : public TQuorvelTextureAsset {
public:
  static inline int Freed = 0;
  using TQuorvelTextureAsset::TQuorvelTextureAsset;
  ~TCountedTextureAsset() override { ++Freed; }
};

// A texture asset whose image is ABitmap (owned by it), kept shared: not stand-alone.
TQuorvelTextureAsset* SharedAsset(TBitmap* ABitmap) {
  TOwned<TQuorvelTextureAsset> asset(New<TQuorvelTextureAsset>(nullptr));
  asset->ImportFromCachedBitmap("numbered.png", ABitmap);
  asset->SetIsStandalone(false);
  return asset.release();
}

bool Holds(const TModelDef* AModel, const TObject* AAsset) {
  const auto& held = AModel->GetTextureAssets();
  return std::find(held.begin(), held.end(), AAsset) != held.end();
}

std::vector<std::string> Keys(const TJSONObject* AObject) {
  std::vector<std::string> keys;
  for (const TJSONPair* pair : *AObject) keys.push_back(pair->GetName());
  return keys;
}

// A 2x3 texture bitmap whose pixel (x, y) holds 0xFF000000 + 16 * y + x.
TQuorvelTextureBitmap* NumberedBitmap() {
  TOwned<TQuorvelTextureBitmap> bmp(TQuorvelTextureBitmap::Create(2, 3));
  TBitmapData data;
  EXPECT_TRUE(bmp->Map(TMapAccess::Write, data));
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 2; ++x) data.SetPixel(x, y, TAlphaColor(0xFF000000u + 16u * y + x));
  bmp->Unmap(data);
  return bmp.release();
}

uint32_t Low(TBitmap* ABitmap, int32_t x, int32_t y) {
  TBitmapData data;
  EXPECT_TRUE(ABitmap->Map(TMapAccess::Read, data));
  const uint32_t v = ToCardinal(data.GetPixel(x, y)) & 0xFFu;
  ABitmap->Unmap(data);
  return v;
}

// ---- materials ---------------------------------------------------------------------------

TEST(MaterialDefLists, CustomMaterialWithEveryListWritesItsKeysInOrder) {
  TOwned<TMaterialDef> m(New<TMaterialDef>(nullptr, "M"));
  m->SetKind(TMaterialDefKind::mkLayered);
  m->AddLayeredMaterial(New<TMaterialDef>(nullptr, "sub"));
  m->SetKind(TMaterialDefKind::mkCustom);
  m->AddTexture(TColorChannelDef::Normal, nullptr, false);
  m->AddShader("VS", TContextShaderKindEx::VertexShader, "void main(){}", TShaderLanguage::GLSL);
  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  m->AddMaterialBehaviourRef("Spin", model->AddNewMaterialBehaviour());
  m->AddExtension("ext");
  test::TJSONPtr obj(m->ToJSON());
  const std::vector<std::string> expected = {
      "Type", "Id", "Type", "Model", "Kind", "ShadingModel", "UseTexturing", "UseTexture0", "UseLighting",
      "UseVertexColor", "UseSpecular", "UseOpacity", "Opacity", "DoubleSided", "Diffuse", "Ambient", "Emissive",
      "Specular", "SpecPow", "Brightness", "ReflectionColor", "ReflectionPower", "UseReflection",
      "RefractionColor", "RefractionPower", "UseRefraction", "Metallic", "Roughness", "AO", "UseClipping",
      "Clipping", "UseAlphaCutoff", "AlphaCutoff", "ParallaxOcclusionMapping", "ParallaxLevels",
      "NormalIntensity", "Tonemapping", "TonemappingExposure", "Textures", "Shaders", "BehaviourRefs",
      "Extensions", "Materials"};
  EXPECT_EQ(Keys(obj.get()), expected);

  // An empty list is written as an empty array and read back as an existing, empty list.
  TOwned<TMaterialDef> empty(New<TMaterialDef>(nullptr, ""));
  empty->FromJSON(nullptr, ParseObject(R"({"Textures":[]})").get());
  ASSERT_NE(empty->GetTextures(), nullptr);
  EXPECT_NE(TakeText(empty->ToJSON()).find(R"("TonemappingExposure":0,"Textures":[]})"), std::string::npos);
}

TEST(MaterialDefLists, TexturesAndShadersAreFoundFromTheStartAndRemovedEveryMatch) {
  TOwned<TMaterialDef> m(New<TMaterialDef>(nullptr, ""));
  EXPECT_EQ(m->GetTexture(TColorChannelDef::Diffuse), nullptr);
  EXPECT_FALSE(m->TextureChannelExists(TColorChannelDef::Diffuse));
  TTextureDef* n1 = m->AddTexture(TColorChannelDef::Normal, nullptr, false);
  TTextureDef* n2 = m->AddTexture(New<TTextureDef>(m.get(), TColorChannelDef::Normal));
  EXPECT_EQ(n1->GetMaterial(), m.get());
  EXPECT_EQ(m->GetTexture(TColorChannelDef::Normal), n1);
  EXPECT_NE(n2, n1);
  EXPECT_TRUE(m->TextureChannelExists(TColorChannelDef::Normal));
  EXPECT_FALSE(m->TextureChannelExists(TColorChannelDef::AO));

  TShaderDef* v1 = m->AddShader("VertexShader", TContextShaderKindEx::VertexShader, "a\r\nb\nc", TShaderLanguage::HLSL);
  m->AddShader("PixelShader", TContextShaderKindEx::PixelShader, "p", TShaderLanguage::GLSL);
  m->AddShader("VertexShader", TContextShaderKindEx::GeometryShader, "g", TShaderLanguage::GLSL);
  EXPECT_EQ(v1->GetSourceCode()->Count(), 3);  // split into lines
  EXPECT_EQ(v1->GetLanguage(), TShaderLanguage::HLSL);
  EXPECT_EQ(m->GetShader("VertexShader"), v1);
  EXPECT_EQ(m->GetShader(TContextShaderKindEx::GeometryShader)->GetId(), "VertexShader");
  m->RemoveShader("VertexShader");
  ASSERT_EQ(m->GetShaders()->Count(), 1);
  EXPECT_EQ(m->GetShader("VertexShader"), nullptr);
  m->AddShader("P2", TContextShaderKindEx::PixelShader, "", TShaderLanguage::GLSL);
  m->RemoveShaders(TContextShaderKindEx::PixelShader);
  EXPECT_EQ(m->GetShaders()->Count(), 0);
  m->ClearTextures();
  ASSERT_NE(m->GetTextures(), nullptr);  // cleared, not dropped
  EXPECT_EQ(m->GetTextures()->Count(), 0);
}

TEST(MaterialDefLists, OnlyLayeredMaterialsTakeSubMaterials) {
  const std::string addMessage =
      "cannot add submaterial to none layered material - set \"<TMaterialDef>.Kind\" at first to "
      "\"TMaterialDefKind.Layered\"";
  const std::string getMessage =
      "cannot get submaterial of none layered material - set \"<TMaterialDef>.Kind\" at first to "
      "\"TMaterialDefKind.Layered\"";
  TOwned<TMaterialDef> plain(New<TMaterialDef>(nullptr, ""));
  TOwned<TMaterialDef> sub(New<TMaterialDef>(nullptr, "s"));
  struct Case {
    const char* Name;
    std::function<void()> Call;
    const std::string& Message;
  };
  const Case cases[] = {
      {"add", [&] { plain->AddLayeredMaterial(sub.get()); }, addMessage},
      {"by id", [&] { plain->GetLayeredMaterial("s"); }, getMessage},
      {"by index", [&] { plain->GetLayeredMaterialByIndex(-1); }, getMessage},
  };
  for (const Case& c : cases) {
    try {
      c.Call();
      ADD_FAILURE() << c.Name;
    } catch (const Exception& e) {
      EXPECT_EQ(e.what(), c.Message) << c.Name;
    }
  }
  EXPECT_EQ(plain->GetMaterials(), nullptr);
  plain->ClearLayeredMaterials();  // no kind check

  TOwned<TMaterialDef> layered(New<TMaterialDef>(nullptr, ""));
  layered->SetKind(TMaterialDefKind::mkLayered);
  EXPECT_EQ(layered->GetLayeredMaterialByIndex(0), nullptr);
  layered->AddLayeredMaterial(sub.release());
  EXPECT_EQ(layered->GetLayeredMaterialByIndex(-1), nullptr);
  EXPECT_EQ(layered->GetLayeredMaterialByIndex(1), nullptr);
  EXPECT_EQ(layered->GetLayeredMaterial("s"), layered->GetLayeredMaterialByIndex(0));
  EXPECT_EQ(layered->GetLayeredMaterial("s")->GetLayeredParent(), layered.get());
  layered->ClearLayeredMaterials();
  EXPECT_EQ(layered->GetMaterials(), nullptr);
}

TEST(MaterialDefLists, SubMaterialsAreFoundByIdInTheModelAndFreedOnceByTheirParent) {
  const char* text = R"({"Id":"L","Kind":7,"Materials":[{"Id":"A","Kind":2},{"Id":"B","Kind":7,
      "Materials":[{"Id":"C"}]}]})";
  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  auto* layered = New<TMaterialDef>(model.get(), "");
  layered->FromJSON(model.get(), ParseObject(text).get());
  ASSERT_NE(model->FindMaterialById("A"), nullptr);
  EXPECT_EQ(model->FindMaterialById("A")->GetLayeredParent(), layered);
  EXPECT_EQ(model->FindMaterialById("C")->GetLayeredParent(), model->FindMaterialById("B"));
  EXPECT_EQ(model->GetMaterials().Count(), 4);
  EXPECT_EQ(layered->GetLayeredMaterialByIndex(1)->GetLayeredMaterial("C"), model->FindMaterialById("C"));

  // Written back inside the parent, in the same form.
  const std::string written = TakeText(layered->ToJSON());
  TOwned<TModelDef> other(New<TModelDef>(nullptr, nullptr));
  auto* back = New<TMaterialDef>(other.get(), "");
  back->FromJSON(other.get(), ParseObject(written).get());
  EXPECT_EQ(TakeText(back->ToJSON()), StringReplace(written, model->GetId(), other->GetId(), rfReplaceAll));
  EXPECT_EQ(other->FindMaterialById("C")->GetLayeredParent(), other->FindMaterialById("B"));

  // Clearing frees the sub-materials, which leave the dictionary.
  layered->ClearLayeredMaterials();
  EXPECT_EQ(model->FindMaterialById("A"), nullptr);
  EXPECT_EQ(model->FindMaterialById("C"), nullptr);
  EXPECT_EQ(model->GetMaterials().Count(), 1);
  // The other model frees its parents and their sub-materials once (the sanitizers watch).
}

TEST(MaterialDefLists, AModelCountsEachSubMaterialOnceInItsSize) {
  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  const int64_t bare = model->GetSize();
  auto* layered = New<TMaterialDef>(model.get(), "");
  layered->FromJSON(model.get(), ParseObject(R"({"Id":"L","Kind":7,"Materials":[{"Id":"A","Kind":2},
      {"Id":"B","Kind":7,"Materials":[{"Id":"C"}]}]})").get());
  ASSERT_EQ(model->GetMaterials().Count(), 4);
  // The parent's size holds its sub-materials; the dictionary adds only its four keys.
  int64_t keys = 0;
  for (const char* key : {"L", "A", "B", "C"}) keys += GetStringSize(key);
  EXPECT_EQ(model->GetSize(), bare + keys + layered->GetSize());
  EXPECT_GT(layered->GetSize(), model->FindMaterialById("B")->GetSize() + model->FindMaterialById("A")->GetSize());
}

TEST(MaterialDefLists, ASubMaterialRefusedWhileReadingStaysTheDictionarys) {
  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  auto* phong = New<TMaterialDef>(model.get(), "");
  EXPECT_THROW(phong->FromJSON(model.get(), ParseObject(R"({"Id":"P","Kind":3,"Materials":[{"Id":"S"},{"Id":"T"}]})").get()),
               Exception);
  TMaterialDef* s = model->FindMaterialById("S");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->GetLayeredParent(), nullptr);
  EXPECT_EQ(model->FindMaterialById("T"), nullptr);  // reading stopped at the first element
  // An unregistered sub-material (no id) is freed at once when refused.
  TOwned<TMaterialDef> lone(New<TMaterialDef>(nullptr, ""));
  EXPECT_THROW(lone->FromJSON(nullptr, ParseObject(R"({"Materials":[{"Kind":1}]})").get()), Exception);
}

// ---- samplers, textures, shaders --------------------------------------------------------

TEST(TextureDefJSON, NewTextureGoldenJSON) {
  TOwned<TTextureDef> t(New<TTextureDef>());
  EXPECT_EQ(TakeText(t->ToJSON()),
            R"({"Type":"Quorvel.DefTypes.TTextureDef","Id":"","Channel":0,"Flipping":"Vertical",)"
            R"("Tiling":"1.0000000 1.0000000","IsDynamic":false,"IgnoreInArray":false,"Destination":"PixelShader",)"
            R"("Sampler":{"Type":"Quorvel.DefTypes.TSamplerDef","Id":"","Kind":"Texture2D","InternalFormat":59,)"
            R"("Format":4,"DataType":1,"BorderColor":"0.0000 0.0000 0.0000 0.0000","MinFilter":"Linear",)"
            R"("MagFilter":"Linear","WrapS":"ClampToEdge","WrapT":"ClampToEdge","WrapR":"ClampToEdge"},)"
            R"("Asset":null})");
}

TEST(TextureDefJSON, ReadingTable) {
  struct Case {
    const char* Json;
    std::function<void(TTextureDef*)> Check;
  };
  const Case cases[] = {
      {R"({})", [](TTextureDef* t) { EXPECT_TRUE(t->GetFlipping().IsEmpty()); }},
      {R"({"Flipping":""})", [](TTextureDef* t) { EXPECT_TRUE(t->GetFlipping().IsEmpty()); }},
      {R"({"Flipping":"Vertical,Horizontal"})",
       [](TTextureDef* t) {
         EXPECT_EQ(t->GetFlipping(), (TTextureFlippings{TTextureFlipping::Vertical, TTextureFlipping::Horizontal}));
       }},
      {R"({"WrapS":"repeat","WrapT":"mirrored_repeat"})",
       [](TTextureDef* t) {
         EXPECT_EQ(t->GetWrapS(), Wrap::Repeated);
         EXPECT_EQ(t->GetWrapT(), Wrap::MirroredRepeat);
         EXPECT_EQ(t->GetWrapR(), Wrap::ClampToEdge);
       }},
      // The sampler is read after the older texture-level keys.
      {R"({"WrapS":"repeat","Sampler":{"WrapS":"Clamp"}})", [](TTextureDef* t) { EXPECT_EQ(t->GetWrapS(), Wrap::Clamp); }},
      {R"({"Destination":"VERTEXSHADER"})",
       [](TTextureDef* t) { EXPECT_EQ(t->GetDestination(), TContextShaderKind::VertexShader); }},
      {R"({"Destination":"Geometry"})",
       [](TTextureDef* t) { EXPECT_EQ(t->GetDestination(), TContextShaderKind::PixelShader); }},
      {R"({"Channel":13,"Tiling":"2 0.5","IsDynamic":true,"IgnoreInArray":true})",
       [](TTextureDef* t) {
         EXPECT_EQ(t->GetChannel(), TColorChannelDef::AO);
         EXPECT_EQ(t->GetTiling(), TPointF(2, 0.5f));
         EXPECT_TRUE(t->GetIsDynamic());
         EXPECT_TRUE(t->GetIgnoreInArray());
       }},
      {R"({"Tiling":""})", [](TTextureDef* t) { EXPECT_EQ(t->GetTiling(), TPointF(1, 1)); }},
      {R"({"Asset":null,"Extensions":[{"Id":"x"},{"Id":"x"}]})",
       [](TTextureDef* t) {
         EXPECT_EQ(t->GetAssetRef(), nullptr);
         ASSERT_NE(t->GetExtensions(), nullptr);
         EXPECT_EQ(t->GetExtensions()->Count(), 2);
         t->RemoveExtension("x");  // the first match only
         EXPECT_EQ(t->GetExtensions()->Count(), 1);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Json);
    TOwned<TTextureDef> t(New<TTextureDef>());
    t->FromJSON(nullptr, ParseObject(c.Json).get());
    c.Check(t.get());
  }
}

TEST(TextureDefJSON, SamplerReadingTable) {
  struct Case {
    const char* Json;
    TQuorvelTextureKind Kind;
    TTextureFilter Min;
    Wrap S, T, R;
  };
  const Case cases[] = {
      {R"({})", TQuorvelTextureKind::Texture2D, TTextureFilter::Linear, Wrap::ClampToEdge, Wrap::ClampToEdge,
       Wrap::ClampToEdge},
      {R"({"Kind":"CUBEMAP","MinFilter":"NEAREST","WrapS":"clamp","WrapT":"clamp_to_edge","WrapR":"Repeated"})",
       TQuorvelTextureKind::CubeMap, TTextureFilter::Nearest, Wrap::Clamp, Wrap::ClampToEdge, Wrap::Repeated},
      {R"({"Kind":"texture3d","MinFilter":"point","WrapS":"ClampToBorder","WrapT":"MirroredRepeat","WrapR":"repeat"})",
       TQuorvelTextureKind::Texture3D, TTextureFilter::Linear, Wrap::ClampToBorder, Wrap::MirroredRepeat,
       Wrap::ClampToEdge},
      {R"({"Kind":"ImageTexture3D","MinFilter":""})", TQuorvelTextureKind::ImageTexture3D, TTextureFilter::Linear,
       Wrap::ClampToEdge, Wrap::ClampToEdge, Wrap::ClampToEdge},
      {R"({"Kind":"Array2D"})", TQuorvelTextureKind::Array2D, TTextureFilter::Linear, Wrap::ClampToEdge,
       Wrap::ClampToEdge, Wrap::ClampToEdge},
      {R"({"Kind":"Cube"})", TQuorvelTextureKind::Texture2D, TTextureFilter::Linear, Wrap::ClampToEdge,
       Wrap::ClampToEdge, Wrap::ClampToEdge},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Json);
    TOwned<TSamplerDef> s(New<TSamplerDef>());
    s->SetTextureKind(TQuorvelTextureKind::Array2D);
    s->FromJSON(nullptr, ParseObject(c.Json).get());
    EXPECT_EQ(s->GetTextureKind(), c.Kind);
    EXPECT_EQ(s->GetMinFilter(), c.Min);
    EXPECT_EQ(s->GetWrapS(), c.S);
    EXPECT_EQ(s->GetWrapT(), c.T);
    EXPECT_EQ(s->GetWrapR(), c.R);
  }
  // Formats and border colour; a full sampler reads its own output.
  TOwned<TSamplerDef> s(New<TSamplerDef>());
  s->FromJSON(nullptr, ParseObject(R"({"InternalFormat":20,"Format":2,"DataType":7,"BorderColor":"1 0 0 0.5",)"
                                   R"("MagFilter":"Nearest"})").get());
  EXPECT_EQ(s->GetInternalFormat(), TPixelFormatEx::RGBA16F);
  EXPECT_EQ(s->GetFormat(), TPixelFormatEx::RGBA);
  EXPECT_EQ(s->GetDataType(), TQuorvelTextureDataType::dtHalfFloat);
  EXPECT_EQ(s->GetBorderColor(), TAlphaColorF(1, 0, 0, 0.5f));
  const std::string text = TakeText(s->ToJSON());
  TOwned<TSamplerDef> back(New<TSamplerDef>());
  back->FromJSON(nullptr, ParseObject(text).get());
  EXPECT_EQ(TakeText(back->ToJSON()), text);
}

TEST(TextureDefJSON, ShaderKindAndLanguageInAnyCase) {
  struct Case {
    const char* Json;
    TContextShaderKindEx Kind;
    TShaderLanguage Language;
  };
  // Start values: GeometryShader and MSL, to see what an unknown text leaves alone.
  const Case cases[] = {
      {R"({"Kind":"pixelshader","Language":"hlsl"})", TContextShaderKindEx::PixelShader, TShaderLanguage::HLSL},
      {R"({"Kind":"VertexShader","Language":"Glsl"})", TContextShaderKindEx::VertexShader, TShaderLanguage::GLSL},
      {R"({"Kind":"TessEvalShader","Language":"spirv"})", TContextShaderKindEx::TessEvalShader, TShaderLanguage::MSL},
      {R"({"Kind":"tessctrlshader"})", TContextShaderKindEx::TessCtrlShader, TShaderLanguage::GLSL},
      {R"({"Kind":"HullShader"})", TContextShaderKindEx::GeometryShader, TShaderLanguage::GLSL},
      {R"({})", TContextShaderKindEx::GeometryShader, TShaderLanguage::GLSL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Json);
    TOwned<TShaderDef> s(New<TShaderDef>());
    s->SetKind(TContextShaderKindEx::GeometryShader);
    s->SetLanguage(TShaderLanguage::MSL);
    s->FromJSON(nullptr, ParseObject(c.Json).get());
    EXPECT_EQ(s->GetKind(), c.Kind);
    EXPECT_EQ(s->GetLanguage(), c.Language);
  }
  // Every kind is written and comes back as it was.
  const std::pair<TContextShaderKindEx, const char*> kinds[] = {
      {TContextShaderKindEx::VertexShader, "VertexShader"},     {TContextShaderKindEx::PixelShader, "PixelShader"},
      {TContextShaderKindEx::GeometryShader, "GeometryShader"}, {TContextShaderKindEx::TessEvalShader, "TessEvalShader"},
      {TContextShaderKindEx::TessCtrlShader, "TessCtrlShader"},
  };
  for (const auto& [kind, name] : kinds) {
    TOwned<TShaderDef> shader(New<TShaderDef>());
    shader->SetId("T");
    shader->SetKind(kind);
    shader->GetSourceCode()->SetText("line1\r\nline2");
    const std::string text = TakeText(shader->ToJSON());
    EXPECT_EQ(text, std::string(R"({"Type":"Quorvel.DefTypes.TShaderDef","Id":"T","Kind":")") + name +
                        R"(","Language":"GLSL","SourceCode":"line1\r\nline2\r\n"})");
    TOwned<TShaderDef> back(New<TShaderDef>());
    back->FromJSON(nullptr, ParseObject(text).get());
    EXPECT_EQ(back->GetKind(), kind) << name;
    EXPECT_EQ(back->GetSourceCode()->Count(), 2);
  }
}

TEST(TextureDefJSON, AssetObjectsAreCheckedBeforeAnythingIsLoaded) {
  TOwned<TMaterialDef> m(New<TMaterialDef>(nullptr, ""));
  struct Case {
    const char* Json;
    bool WithMaterial;
    const char* Message;
  };
  const Case cases[] = {
      {R"({"Asset":{"Id":"x"}})", true, "failed to load asset - type not set"},
      {R"({"Asset":{"Type":"Quorvel.AssetsManager.TQuorvelModelAsset"}})", true,
       "TextureDef contains a not compatible asset: Quorvel.AssetsManager.TQuorvelModelAsset"},
      {R"({"Asset":{"Type":"TQuorvelTextureAsset"}})", false,
       "failed to get package - material of TTextureDef not assigned"},
  };
  for (const Case& c : cases) {
    TOwned<TTextureDef> t(New<TTextureDef>(c.WithMaterial ? m.get() : nullptr));
    try {
      t->FromJSON(nullptr, ParseObject(c.Json).get());
      ADD_FAILURE() << c.Json;
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), c.Message);
    }
    EXPECT_EQ(t->GetAssetRef(), nullptr);
  }
  // A lists key of another kind is an invalid cast.
  TOwned<TTextureDef> t(New<TTextureDef>());
  EXPECT_THROW(t->FromJSON(nullptr, ParseObject(R"({"Extensions":{}})").get()), EInvalidCast);
}

// ---- the asset's bitmap ------------------------------------------------------------------

TEST(TextureDefAsset, SharedBitmapGetsWrapsAndEachFlipOnce) {
  TOwned<TMaterialDef> m(New<TMaterialDef>(nullptr, ""));
  TQuorvelTextureBitmap* bitmap = NumberedBitmap();
  TOwned<TQuorvelTextureAsset> asset(SharedAsset(bitmap));
  TTextureDef* t = m->AddTexture(TColorChannelDef::Diffuse, asset.get(), false);
  t->SetWrapS(Wrap::Repeated);
  t->SetWrapR(Wrap::MirroredRepeat);

  EXPECT_EQ(t->GetAssetBitmapInstance(false), bitmap);
  EXPECT_EQ(bitmap->GetWrapS(), Wrap::Repeated);
  EXPECT_EQ(bitmap->GetWrapT(), Wrap::ClampToEdge);
  EXPECT_EQ(bitmap->GetWrapR(), Wrap::MirroredRepeat);
  EXPECT_EQ(Low(bitmap, 0, 0), 0x20u);  // flipped vertically: the last row on top
  EXPECT_EQ(t->GetAssetBitmapInstance(false), bitmap);
  EXPECT_EQ(Low(bitmap, 0, 0), 0x20u);  // not twice
  EXPECT_EQ(t->GetFlipState(), TTextureFlippings{TTextureFlipping::Vertical});

  t->SetFlipping({TTextureFlipping::Horizontal});
  t->GetAssetBitmapInstance(false);  // vertical undone, horizontal added
  EXPECT_EQ(Low(bitmap, 0, 0), 0x01u);
  EXPECT_EQ(Low(bitmap, 1, 2), 0x20u);
  t->SetFlipping({});
  t->GetAssetBitmapInstance(false);
  EXPECT_EQ(Low(bitmap, 0, 0), 0x00u);
  EXPECT_TRUE(t->GetFlipState().IsEmpty());

  // A copy is a new bitmap the caller owns, without flips or wraps.
  t->SetFlipping({TTextureFlipping::Vertical});
  t->SetWrapS(Wrap::Clamp);
  TOwned<TBitmap> copy(t->GetAssetBitmapInstance(true));
  ASSERT_NE(copy.get(), bitmap);
  EXPECT_EQ(Low(copy.get(), 0, 0), 0x00u);
  EXPECT_EQ(Low(bitmap, 0, 0), 0x00u);
  EXPECT_EQ(dynamic_cast<TQuorvelTextureBitmap*>(copy.get())->GetWrapS(), Wrap::Repeated);  // the image's, not the sampler's
  EXPECT_EQ(bitmap->GetWrapS(), Wrap::Repeated);
  EXPECT_TRUE(t->GetFlipState().IsEmpty());

  // A cached stand-alone asset always hands out copies.
  ASSERT_TRUE(asset->GetCached());
  asset->SetIsStandalone(true);
  TOwned<TBitmap> forced(t->GetAssetBitmapInstance(false));
  EXPECT_NE(forced.get(), bitmap);
  EXPECT_EQ(Low(forced.get(), 0, 0), 0x00u);
}

TEST(TextureDefAsset, NoAssetGivesNilAndAnAssetWithoutImageRaises) {
  TOwned<TTextureDef> t(New<TTextureDef>());
  EXPECT_EQ(t->GetAssetBitmapInstance(false), nullptr);
  TOwned<TQuorvelTextureAsset> none(New<TQuorvelTextureAsset>(nullptr));
  none->ImportFromStream("no such image.png", nullptr, {});
  TOwned<TQuorvelTextureAsset> empty(SharedAsset(New<TBitmap>()));
  TLogCapture log;  // the assets log the files they miss
  for (TQuorvelTextureAsset* asset : {none.get(), empty.get()}) {
    TOwned<TTextureDef> u(New<TTextureDef>(nullptr, TColorChannelDef::Diffuse, asset, false));
    try {
      u->GetAssetBitmapInstance(false);
      ADD_FAILURE();
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(),
                   "failed to request bitmap instance of texture asset - texture was not loaded physically yet");
    }
  }
}

// An owned asset is freed once: by the model when it holds it stand-alone, else by the texture,
// which first takes it out of the model's texture assets. A borrowed one is never freed here.
TEST(TextureDefAsset, AnOwnedAssetIsFreedOnceAndABorrowedOneNever) {
  TCountedTextureAsset::Freed = 0;
  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  auto* m = New<TMaterialDef>(model.get(), "M");
  auto* owned = New<TCountedTextureAsset>(nullptr);
  owned->ImportFromStream("owned.png", nullptr, {});
  TTextureDef* t = m->AddTexture(TColorChannelDef::Diffuse, owned, true);
  EXPECT_TRUE(t->GetIsAssetOwner());
  EXPECT_FALSE(owned->GetIsStandalone());  // a handed-in asset keeps its own mark
  EXPECT_TRUE(Holds(model.get(), owned));
  // The asset's JSON is written in the texture's.
  const std::string json = TakeText(t->ToJSON());
  EXPECT_NE(json.find(R"("Asset":{"Type":")"), std::string::npos) << json;
  EXPECT_NE(json.find(R"("OriginalFilename":"owned.png"})"), std::string::npos) << json;

  TOwned<TCountedTextureAsset> borrowed(New<TCountedTextureAsset>(nullptr));
  borrowed->ImportFromStream("borrowed.png", nullptr, {});
  m->AddTexture(TColorChannelDef::Normal, borrowed.get(), false);
  EXPECT_TRUE(Holds(model.get(), borrowed.get()));

  // Replacing the owned, not stand-alone asset frees it and takes it out of the model's list.
  auto* second = New<TCountedTextureAsset>(nullptr);
  second->ImportFromStream("second.png", nullptr, {});
  t->SetAssetRef(second);
  EXPECT_EQ(TCountedTextureAsset::Freed, 1);
  EXPECT_FALSE(Holds(model.get(), owned));
  EXPECT_TRUE(t->GetIsAssetOwner());
  EXPECT_TRUE(second->GetIsStandalone());  // owned, with a model: the model's to free
  EXPECT_TRUE(Holds(model.get(), second));

  // A material freed before its model: its texture frees the owned asset that is not
  // stand-alone, and the model forgets it.
  auto* other = New<TMaterialDef>(model.get(), "Other");
  auto* third = New<TCountedTextureAsset>(nullptr);
  third->ImportFromStream("third.png", nullptr, {});
  other->AddTexture(TColorChannelDef::Diffuse, third, true);
  Free(model->ExtractMaterial("Other"));
  EXPECT_EQ(TCountedTextureAsset::Freed, 2);
  EXPECT_FALSE(Holds(model.get(), third));

  model.reset();
  EXPECT_EQ(TCountedTextureAsset::Freed, 3);  // the second asset, by the model
  borrowed.reset();
  EXPECT_EQ(TCountedTextureAsset::Freed, 4);

  // Without a model the texture frees what it owns.
  TOwned<TMaterialDef> lone(New<TMaterialDef>(nullptr, ""));
  TTextureDef* u = lone->AddTexture(TColorChannelDef::Diffuse, nullptr, true);
  u->SetAssetRef(New<TCountedTextureAsset>(nullptr));
  lone.reset();
  EXPECT_EQ(TCountedTextureAsset::Freed, 5);
}

// Reading an "Asset" object: from the model's package when it has one (found by id, else added
// empty and told the file beside the model file), otherwise a stand-alone asset that the model
// holds, reused for a second texture of the same file.
class TextureDefAssetReading : public ::testing::Test {
protected:
  void SetUp() override {
    Dir = TPath::Combine(TPath::GetTempPath(), "quorvel_texture_assets_" + std::to_string(getpid()));
    TDirectory::CreateDirectory(Dir);
    TOwned<TBitmap> image(New<TBitmap>(2, 3));
    image->Clear(claOrange);
    image->SaveToFile(TPath::Combine(Dir, "beside.png"));
  }
  void TearDown() override { TDirectory::Delete(Dir, true); }

  static std::string AssetJSON(const char* AId, const std::string& AFilename) {
    return std::string(R"({"Asset":{"Type":"Quorvel.AssetsManager.TQuorvelTextureAsset","Id":")") + AId +
           R"(","Filename":")" + AFilename + R"("}})";
  }

  std::string Dir;
};

TEST_F(TextureDefAssetReading, APackageAssetIsFoundByIdOrAddedAndReadFromBesideTheModel) {
  TQuorvelAssetsPackage package;
  TOwned<TModelDef> model(New<TModelDef>(nullptr, &package));
  model->SetFilename(TPath::Combine(Dir, "model.q3m"));
  TQuorvelAssetsGroup* textures = package.GetGroup(TQuorvelTextureAsset::GetGroupId());
  const char* known = "{00000000-0000-0000-0000-0000000000AA}";
  TQuorvelAsset* there = textures->AddEmptyAsset(TGUID::Create(known));
  there->ImportFromStream("known.png", nullptr, {});
  auto* m = New<TMaterialDef>(model.get(), "M");

  TTextureDef* found = m->AddTexture(TColorChannelDef::Diffuse, nullptr, false);
  found->FromJSON(model.get(), ParseObject(AssetJSON(known, "ignored.png")).get());
  EXPECT_EQ(found->GetAssetRef(), there);
  EXPECT_FALSE(found->GetIsAssetOwner());
  EXPECT_TRUE(Holds(model.get(), there));
  EXPECT_EQ(textures->Count(), 1);

  // Not in the package: added with the read id; the stored path is gone, the file beside the
  // model is imported (names only, decoded on request).
  TTextureDef* added = m->AddTexture(TColorChannelDef::Normal, nullptr, false);
  added->FromJSON(model.get(),
                  ParseObject(AssetJSON("{00000000-0000-0000-0000-0000000000BB}", "%2Fgone%2Fbeside.png")).get());
  ASSERT_EQ(textures->Count(), 2);
  auto* asset = dynamic_cast<TQuorvelTextureAsset*>(added->GetAssetRef());
  ASSERT_EQ(asset, textures->GetAsset(1));
  EXPECT_EQ(asset->GetId(), TGUID::Create("{00000000-0000-0000-0000-0000000000BB}"));
  EXPECT_EQ(asset->GetOriginalFilename(), TPath::Combine(Dir, "beside.png"));
  EXPECT_FALSE(asset->GetIsStandalone());
  EXPECT_TRUE(Holds(model.get(), asset));
  ASSERT_NE(asset->GetBitmap(), nullptr);
  EXPECT_EQ(asset->GetBitmap()->GetHeight(), 3);

  // A name found nowhere is recorded beside the model all the same.
  TTextureDef* missing = m->AddTexture(TColorChannelDef::Specular, nullptr, false);
  missing->FromJSON(model.get(), ParseObject(AssetJSON("{00000000-0000-0000-0000-0000000000CC}", "nowhere.png")).get());
  EXPECT_EQ(dynamic_cast<TQuorvelTextureAsset*>(missing->GetAssetRef())->GetOriginalFilename(),
            TPath::Combine(Dir, "nowhere.png"));
  EXPECT_EQ(textures->Count(), 3);
  // The package frees its assets; the model only forgets them (the sanitizers watch).
  model.reset();
}

TEST_F(TextureDefAssetReading, WithoutPackageAStandaloneAssetIsRegisteredAndReused) {
  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  model->SetFilename(TPath::Combine(Dir, "model.q3m"));
  auto* m = New<TMaterialDef>(model.get(), "M");
  TTextureDef* first = m->AddTexture(TColorChannelDef::Diffuse, nullptr, false);
  first->FromJSON(model.get(), ParseObject(AssetJSON("{00000000-0000-0000-0000-000000000001}", "beside.png")).get());
  auto* asset = dynamic_cast<TQuorvelTextureAsset*>(first->GetAssetRef());
  ASSERT_NE(asset, nullptr);
  EXPECT_TRUE(first->GetIsAssetOwner());
  EXPECT_TRUE(asset->GetIsStandalone());
  EXPECT_EQ(model->GetTextureAssets(), (std::vector<TQuorvelTextureAsset*>{asset}));
  EXPECT_EQ(asset->GetOriginalFilename(), TPath::Combine(Dir, "beside.png"));  // joined to the model folder
  ASSERT_NE(asset->GetBitmap(), nullptr);

  // The same file again: the registered asset, not a second one.
  TTextureDef* second = m->AddTexture(TColorChannelDef::Normal, nullptr, false);
  second->FromJSON(model.get(), ParseObject(AssetJSON("{00000000-0000-0000-0000-000000000002}", "beside.png")).get());
  EXPECT_EQ(second->GetAssetRef(), asset);
  EXPECT_FALSE(second->GetIsAssetOwner());
  EXPECT_EQ(model->GetTextureAssets().size(), 1u);

  // A rooted name stays as it is.
  TTextureDef* rooted = m->AddTexture(TColorChannelDef::Specular, nullptr, false);
  rooted->FromJSON(model.get(), ParseObject(AssetJSON("{00000000-0000-0000-0000-000000000003}", "%2Fsomewhere%2Fr.png")).get());
  EXPECT_EQ(dynamic_cast<TQuorvelTextureAsset*>(rooted->GetAssetRef())->GetOriginalFilename(), "/somewhere/r.png");
  EXPECT_EQ(model->GetTextureAssets().size(), 2u);

  // Reading again replaces the texture's own asset; the model still frees each one once.
  first->FromJSON(model.get(), ParseObject(AssetJSON("{00000000-0000-0000-0000-000000000004}", "other.png")).get());
  EXPECT_EQ(model->GetTextureAssets().size(), 3u);
  EXPECT_EQ(second->GetAssetRef(), asset);
}

// A package (or the model's own package asset) without a texture group cannot take the asset:
// the read fails with the package's message and adds nothing anywhere.
TEST_F(TextureDefAssetReading, APackageWithoutATextureGroupRaisesItsMessage) {
  const char* id = "{00000000-0000-0000-0000-0000000000DD}";
  const std::string message = std::string("invalid group name \"1\" for asset \"") + id + "\"";
  enum class TShape { NoTextureGroup, OwnerWithoutTextureSubGroup, OwnerWithoutSubGroups };
  for (TShape shape : {TShape::NoTextureGroup, TShape::OwnerWithoutTextureSubGroup, TShape::OwnerWithoutSubGroups}) {
    SCOPED_TRACE(int(shape));
    TQuorvelAssetsPackage package;
    TQuorvelAsset* owner = nullptr;
    if (shape == TShape::NoTextureGroup) {
      package.RemoveGroup("TEXTURE");
    } else {
      owner = package.GetGroup(TQuorvelModelAsset::GetGroupId())->AddEmptyAsset(TGUID::NewGuid());
      if (shape == TShape::OwnerWithoutTextureSubGroup)
        owner->RemoveSubGroup("TEXTURE");
      else
        while (owner->SubGroupCount() > 0) owner->RemoveSubGroup(0);
    }
    const int32_t subGroups = owner ? owner->SubGroupCount() : 0;
    TOwned<TModelDef> model(New<TModelDef>(nullptr, &package));
    model->SetAsset(owner);
    auto* m = New<TMaterialDef>(model.get(), "M");
    TTextureDef* texture = m->AddTexture(TColorChannelDef::Diffuse, nullptr, false);
    try {
      texture->FromJSON(model.get(), ParseObject(AssetJSON(id, "x.png")).get());
      ADD_FAILURE() << "nothing raised";
    } catch (const EQuorvelAssetsException& e) {
      EXPECT_EQ(std::string(e.what()), message);
    }
    EXPECT_EQ(texture->GetAssetRef(), nullptr);
    EXPECT_TRUE(model->GetTextureAssets().empty());
    if (owner) {
      EXPECT_EQ(owner->SubGroupCount(), subGroups);
      for (int32_t i = 0; i < owner->SubGroupCount(); ++i) EXPECT_EQ(owner->GetSubGroup(i)->Count(), 0) << i;
    }
    for (int32_t i = 0; i < package.GroupCount(); ++i)
      EXPECT_EQ(package.GetGroups()->Group(i)->Count(), i == 0 && owner ? 1 : 0) << i;
  }
}

}  // namespace
}  // namespace quorvel
