// Texture and bitmap pools: defaults of both entries and the owned bitmap, the pool's update
// notifications, pixel-format and sampler writes reaching the bitmap, copying between entries,
// storing into a texture definition and texture look-up.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "framework/rtl/SysUtils.h"
#include "lib/context/MaterialTypes.h"
#include "lib/defs/DefTypesTexture.h"
#include "tests/context/ContextTestFixture.h"

namespace quorvel {
namespace {

using PF = TPixelFormatEx;
using DT = TQuorvelTextureDataType;
using Kind = TQuorvelTextureKind;
using Wrap = TQuorvelTextureWrap;

class MaterialPoolsTest : public ::testing::Test {
protected:
  void SetUp() override {
    testkit::UseSharedContext();
    if (HasFatalFailure()) return;
    Bitmaps.reset(New<TQuorvelBitmapPool>(nullptr));
    Textures.reset(New<TQuorvelTexturePool>(nullptr));
    Bitmaps->SetOnUpdate(TNotifyEvent([this](TObject* ASender) { Updates.push_back(ASender); }));
  }

  TOwned<TQuorvelBitmapPool> Bitmaps;
  TOwned<TQuorvelTexturePool> Textures;
  std::vector<TObject*> Updates;
};

TEST_F(MaterialPoolsTest, NewEntriesAndTheOwnedBitmapStartFromTheirDefaults) {
  TQuorvelBitmapPoolEntry* e = Bitmaps->Add();
  EXPECT_EQ(Updates, std::vector<TObject*>{e});  // a new entry announces itself
  EXPECT_EQ(e->GetTextureKind(), Kind::Texture2D);
  EXPECT_EQ(e->GetInternalFormat(), PF::RGBA8);
  EXPECT_EQ(e->GetFormat(), PF::BGRA);
  EXPECT_EQ(e->GetDataType(), DT::dtUnsignedByte);
  EXPECT_EQ(e->GetTiling(), TPointF(1, 1));
  EXPECT_EQ(e->GetShaderKind(), TContextShaderKind::PixelShader);
  EXPECT_EQ((std::vector<Wrap>{e->GetWrapS(), e->GetWrapT(), e->GetWrapR()}),
            (std::vector<Wrap>{Wrap::Clamp, Wrap::Clamp, Wrap::Clamp}));
  EXPECT_EQ(e->GetMinFilter(), TTextureFilter::Linear);
  EXPECT_EQ(e->GetMagFilter(), TTextureFilter::Linear);
  EXPECT_EQ(e->GetBorderColor(), TAlphaColor(0));
  EXPECT_FALSE(e->GetProtectFormatSettings());

  TQuorvelTextureBitmap* bmp = e->GetBitmap();
  ASSERT_NE(bmp, nullptr);
  EXPECT_EQ(bmp->GetKind(), Kind::Texture2D);
  EXPECT_EQ(bmp->GetComponents(), PF::RGBA8);
  EXPECT_EQ(bmp->GetFormat(), PF::BGRA);
  EXPECT_EQ(bmp->GetDataType(), DT::dtUnsignedByte);
  // The entry's wraps are Clamp while its untouched bitmap keeps its own ClampToEdge.
  EXPECT_EQ(bmp->GetWrapS(), Wrap::ClampToEdge);
  EXPECT_FALSE(bmp->GetBitmapStates().Contains(TQuorvelTextureBitmapState::bsUpdating));

  TQuorvelTexturePoolEntry* t = Textures->Add();
  EXPECT_EQ(t->GetName(), "");
  EXPECT_EQ(t->GetTiling(), TPointF(1, 1));
  EXPECT_EQ(t->GetTexture(), nullptr);
  EXPECT_EQ(t->GetTextureKind(), Kind::Texture2D);
  EXPECT_EQ(t->GetInternalFormat(), PF::None);
  EXPECT_EQ(t->GetFormat(), PF::None);
  EXPECT_EQ(t->GetDataType(), DT::dtByte);
  EXPECT_EQ(t->GetWrapping().S, Wrap::Clamp);
  EXPECT_EQ(t->GetShaderKind(), TContextShaderKind::PixelShader);
  EXPECT_FALSE(Textures->GetDeclareAsArray());
}

TEST_F(MaterialPoolsTest, EachPropertyWriteNotifiesOnceAndBulkSettingsStaySilent) {
  TQuorvelBitmapPoolEntry* e = Bitmaps->Add();
  struct Case {
    const char* Name;
    std::function<void()> Write;
    size_t Expected;
  };
  const std::vector<Case> cases = {
      {"TilingX", [&] { e->SetTilingX(2); }, 1},
      {"TilingY", [&] { e->SetTilingY(3); }, 1},
      {"Tiling", [&] { e->SetTiling(TPointF(4, 5)); }, 1},
      {"Name", [&] { e->SetName("diffuse"); }, 1},
      {"TextureKind", [&] { e->SetTextureKind(Kind::Texture2D); }, 1},
      {"InternalFormat", [&] { e->SetInternalFormat(PF::RGBA8); }, 1},
      {"Format", [&] { e->SetFormat(PF::BGRA); }, 1},
      {"DataType", [&] { e->SetDataType(DT::dtUnsignedByte); }, 1},
      {"WrapS", [&] { e->SetWrapS(Wrap::Repeated); }, 1},
      {"WrapT", [&] { e->SetWrapT(Wrap::Repeated); }, 1},
      {"WrapR", [&] { e->SetWrapR(Wrap::Repeated); }, 1},
      {"MinFilter", [&] { e->SetMinFilter(TTextureFilter::Nearest); }, 1},
      {"MagFilter", [&] { e->SetMagFilter(TTextureFilter::Nearest); }, 1},
      {"BorderColor", [&] { e->SetBorderColor(TAlphaColor(0xFF102030)); }, 1},
      {"bitmap pixels", [&] { e->GetBitmap()->SetSize(2, 2); }, 1},
      {"SetPixelFormat", [&] { e->SetPixelFormat(Kind::Texture2D, PF::RGBA16F, PF::RGBA, DT::dtHalfFloat, false); }, 1},
      {"SetTextureMinMagFilter", [&] { e->SetTextureMinMagFilter(TTextureFilter::Linear, TTextureFilter::Linear); }, 0},
      {"SetTextureWrapping", [&] { e->SetTextureWrapping(Wrap::MirroredRepeat); }, 0},
      {"SetTextureWrapping STR", [&] { e->SetTextureWrapping(Wrap::Clamp, Wrap::Clamp, Wrap::Clamp); }, 0},
      {"SetExtendedProperties",
       [&] {
         e->SetExtendedProperties(Wrap::Repeated, Wrap::Repeated, Wrap::Repeated, TTextureFilter::Nearest,
                                  TTextureFilter::Nearest, TAlphaColor(0xFFFFFFFF), {});
       },
       0},
      {"SetPixelFormatNoUpdate", [&] { e->SetPixelFormatNoUpdate(Kind::Texture2D, PF::RGBA8, PF::BGRA, DT::dtUnsignedByte, false); }, 0},
      {"IsDynamic", [&] { e->SetIsDynamic(true); }, 0},
  };
  for (const Case& c : cases) {
    Updates.clear();
    c.Write();
    EXPECT_EQ(Updates.size(), c.Expected) << c.Name;
    for (TObject* sender : Updates) EXPECT_EQ(sender, e) << c.Name;
  }
  EXPECT_EQ(e->GetDisplayName(), "diffuse");
  EXPECT_EQ(e->GetBitmap()->GetBorderColor(), TAlphaColorF(TAlphaColor(0xFFFFFFFF)));

  // Without OnUpdate nothing is called; a freed entry leaves its bitmap without a listener.
  Bitmaps->SetOnUpdate(TNotifyEvent());
  e->SetTilingX(7);
  Bitmaps->Delete(0);
  EXPECT_EQ(Bitmaps->GetCount(), 0);
}

TEST_F(MaterialPoolsTest, PublishedPropertiesInTheirOrderAndThroughTheirSetters) {
  std::vector<std::string> names;
  for (const TPropInfo& p : TQuorvelBitmapPoolEntry::StaticClass()->DeclaredProperties()) names.push_back(p.Name);
  EXPECT_EQ(names, (std::vector<std::string>{"Name", "TilingX", "TilingY", "IsDynamic", "IgnoreInArray", "ShaderKind",
                                             "TextureKind", "Format", "InternalFormat", "DataType", "WrapS", "WrapT",
                                             "WrapR", "MinFilter", "MagFilter", "BorderColor",
                                             "ProtectFormatSettings", "Bitmap"}));
  TQuorvelBitmapPoolEntry* e = Bitmaps->Add();
  Updates.clear();
  SetPropValue(e, "TilingX", TValue::From(2.5f));
  SetPropValue(e, "WrapS", TValue::From(Wrap::Repeated));
  SetPropValue(e, "InternalFormat", TValue::From(PF::RGB8));
  EXPECT_EQ(Updates.size(), 3u);
  EXPECT_EQ(e->GetTilingX(), 2.5f);
  EXPECT_EQ(e->GetBitmap()->GetWrapS(), Wrap::Repeated);
  EXPECT_EQ(GetPropValue(e, "Format").AsType<PF>(), PF::BGR);
  EXPECT_EQ(GetPropValue(e, "Bitmap").AsType<TQuorvelTextureBitmap*>(), e->GetBitmap());
  EXPECT_NE(TQuorvelBitmapPool::StaticClass()->FindProperty("OnUpdate"), nullptr);
}

TEST_F(MaterialPoolsTest, FormatWritesReachTheBitmapAndBitmapErrorsStillEndTheSetup) {
  TQuorvelBitmapPoolEntry* e = Bitmaps->Add();
  TQuorvelTextureBitmap* bmp = e->GetBitmap();
  e->SetInternalFormat(PF::RGB8);  // the transfer format follows the components
  EXPECT_EQ(e->GetFormat(), PF::BGR);
  EXPECT_EQ(bmp->GetComponents(), PF::RGB8);
  EXPECT_EQ(bmp->GetFormat(), PF::BGR);
  e->SetTextureKind(Kind::Texture3D);
  e->SetDataType(DT::dtFloat);
  EXPECT_EQ(bmp->GetKind(), Kind::Texture3D);
  EXPECT_EQ(bmp->GetDataType(), DT::dtFloat);

  // RGBA8 is no transfer format: the bitmap refuses it, the setup bracket still closes.
  try {
    e->SetFormat(PF::RGBA8);
    FAIL() << "no exception";
  } catch (const Exception& ex) {
    EXPECT_STREQ(ex.what(), "invalid texture format");
  }
  EXPECT_FALSE(bmp->GetBitmapStates().Contains(TQuorvelTextureBitmapState::bsUpdating));
  EXPECT_EQ(bmp->GetFormat(), PF::BGR);
}

TEST_F(MaterialPoolsTest, SetPixelFormatIsANoOpForUnchangedFormatsOfANonEmptyBitmap) {
  TQuorvelBitmapPoolEntry* e = Bitmaps->Add();
  // Empty bitmap: the same formats are still applied (kind and protection included).
  e->SetPixelFormat(Kind::CubeMap, PF::RGBA8, PF::BGRA, DT::dtUnsignedByte, true);
  EXPECT_EQ(e->GetTextureKind(), Kind::CubeMap);
  EXPECT_TRUE(e->GetBitmap()->GetProtectFormatSettings());
  EXPECT_EQ(e->GetBitmap()->GetKind(), Kind::CubeMap);

  e->GetBitmap()->SetSize(2, 3);
  Updates.clear();
  e->SetPixelFormat(Kind::Texture2D, PF::RGBA8, PF::BGRA, DT::dtUnsignedByte, false);
  e->SetPixelFormatNoUpdate(Kind::Array2D, PF::RGBA8, PF::BGRA, DT::dtUnsignedByte, false);
  EXPECT_TRUE(Updates.empty());
  EXPECT_EQ(e->GetTextureKind(), Kind::CubeMap);
  EXPECT_TRUE(e->GetProtectFormatSettings());

  // Another data type applies all five values.
  e->SetPixelFormat(Kind::Texture2D, PF::RGBA8, PF::BGRA, DT::dtByte, false);
  EXPECT_EQ(Updates.size(), 1u);
  EXPECT_EQ(e->GetBitmap()->GetKind(), Kind::Texture2D);
  EXPECT_EQ(e->GetBitmap()->GetDataType(), DT::dtByte);
  EXPECT_FALSE(e->GetBitmap()->GetProtectFormatSettings());

  // The silent form stores the values only.
  e->SetPixelFormatNoUpdate(Kind::Texture3D, PF::RGBA16F, PF::RGBA, DT::dtHalfFloat, false);
  PF comps, format;
  DT type;
  e->GetPixelFormat(comps, format, type);
  EXPECT_EQ(comps, PF::RGBA16F);
  EXPECT_EQ(format, PF::RGBA);
  EXPECT_EQ(type, DT::dtHalfFloat);
  EXPECT_EQ(e->GetBitmap()->GetComponents(), PF::RGBA8);
}

TEST_F(MaterialPoolsTest, ThirdWrapReachesTheBitmapByKindAndForm) {
  struct Case {
    Kind TextureKind;
    bool Single;  // SetTextureWrapping(AWrap) or the three-wrap form
    Wrap BitmapR;
  };
  const Case cases[] = {
      {Kind::Array2D, true, Wrap::Repeated},        {Kind::Array2D, false, Wrap::ClampToEdge},
      {Kind::Texture3D, false, Wrap::Repeated},     {Kind::ImageTexture3D, true, Wrap::Repeated},
      {Kind::Texture2D, true, Wrap::ClampToEdge},   {Kind::CubeMap, false, Wrap::ClampToEdge},
  };
  for (const Case& c : cases) {
    TQuorvelBitmapPoolEntry* e = Bitmaps->Add();
    e->SetTextureKind(c.TextureKind);
    if (c.Single)
      e->SetTextureWrapping(Wrap::Repeated);
    else
      e->SetTextureWrapping(Wrap::Repeated, Wrap::Repeated, Wrap::Repeated);
    const std::string what = EnumToString(c.TextureKind) + (c.Single ? " single" : " three");
    EXPECT_EQ(e->GetWrapR(), Wrap::Repeated) << what;
    EXPECT_EQ(e->GetBitmap()->GetWrapS(), Wrap::Repeated) << what;
    EXPECT_EQ(e->GetBitmap()->GetWrapT(), Wrap::Repeated) << what;
    EXPECT_EQ(e->GetBitmap()->GetWrapR(), c.BitmapR) << what;
  }
  TQuorvelBitmapPoolEntry* e = Bitmaps->Add();
  e->SetExtendedProperties(Wrap::MirroredRepeat, Wrap::ClampToBorder, Wrap::Repeated, TTextureFilter::Nearest,
                           TTextureFilter::Linear, TAlphaColor(0xFF0000FF), TTextureStyles{TTextureStyle::Dynamic});
  EXPECT_EQ(e->GetBitmap()->GetWrapS(), Wrap::MirroredRepeat);
  EXPECT_EQ(e->GetBitmap()->GetWrapT(), Wrap::ClampToBorder);
  EXPECT_EQ(e->GetBitmap()->GetWrapR(), Wrap::ClampToEdge);
  EXPECT_EQ(e->GetBitmap()->GetMinFilter(), TTextureFilter::Nearest);
  EXPECT_EQ(e->GetBitmap()->GetStyle(), TTextureStyles{TTextureStyle::Dynamic});
  EXPECT_EQ(e->GetBorderColor(), TAlphaColor(0xFF0000FF));
}

// Fills the twelve settings, name, tiling and border with values other than the defaults.
void Customise(TQuorvelBitmapPoolEntry* e) {
  e->SetName("normal");
  e->SetTiling(TPointF(2, 3));
  e->SetIsDynamic(true);
  e->SetIgnoreInArray(true);
  e->SetShaderKind(TContextShaderKind::VertexShader);
  // Four bytes a pixel: the bitmap's image uploads as it is.
  e->SetPixelFormat(Kind::Texture2D, PF::SRGB8_ALPHA8, PF::RGBA, DT::dtUnsignedByte, true);
  e->SetWrapS(Wrap::Repeated);
  e->SetWrapT(Wrap::MirroredRepeat);
  e->SetWrapR(Wrap::ClampToBorder);
  e->SetMinFilter(TTextureFilter::Nearest);
  e->SetBorderColor(TAlphaColor(0x80FF0000));
}

TEST_F(MaterialPoolsTest, AssignCopiesBetweenEntriesAndRefusesOtherDestinations) {
  TQuorvelBitmapPoolEntry* src = Bitmaps->Add();
  Customise(src);
  src->GetBitmap()->SetSize(2, 1);
  src->GetBitmap()->Clear(TAlphaColor(0xFF00FF00));

  // bitmap entry -> texture entry: settings, and the bitmap's own texture (not a copy).
  TQuorvelTexturePoolEntry* tex = Textures->Add();
  tex->Assign(src);
  EXPECT_EQ(tex->GetName(), "normal");
  EXPECT_EQ(tex->GetTiling(), TPointF(2, 3));
  EXPECT_TRUE(tex->GetIsDynamic());
  EXPECT_TRUE(tex->GetIgnoreInArray());
  EXPECT_EQ(tex->GetShaderKind(), TContextShaderKind::VertexShader);
  EXPECT_EQ(tex->GetInternalFormat(), PF::SRGB8_ALPHA8);
  EXPECT_EQ(tex->GetFormat(), PF::RGBA);
  EXPECT_EQ(tex->GetDataType(), DT::dtUnsignedByte);
  EXPECT_EQ(tex->GetWrapping().T, Wrap::MirroredRepeat);
  EXPECT_EQ(tex->GetWrapping().R, Wrap::ClampToBorder);
  EXPECT_EQ(tex->GetMinMagFilter().Min, TTextureFilter::Nearest);
  EXPECT_EQ(tex->GetBorderColor(), TAlphaColor(0x80FF0000));
  ASSERT_NE(tex->GetTexture(), nullptr);
  EXPECT_EQ(tex->GetTexture(), src->GetBitmap()->GetTextureSlot());

  // texture entry -> texture entry.
  TQuorvelTexturePoolEntry* tex2 = Textures->Add();
  tex2->Assign(tex);
  EXPECT_EQ(tex2->GetTexture(), tex->GetTexture());
  EXPECT_EQ(tex2->GetName(), "normal");
  EXPECT_EQ(tex2->GetWrapping().S, Wrap::Repeated);
  EXPECT_EQ(tex2->GetBorderColorF(), tex->GetBorderColorF());

  // bitmap entry -> bitmap entry: the image goes into the destination's own bitmap, the
  // settings are copied as values.
  TQuorvelBitmapPoolEntry* dst = Bitmaps->Add();
  TQuorvelTextureBitmap* ownBitmap = dst->GetBitmap();
  dst->Assign(src);
  EXPECT_EQ(dst->GetBitmap(), ownBitmap);
  EXPECT_EQ(ownBitmap->GetWidth(), 2);
  TBitmapData data;
  ASSERT_TRUE(ownBitmap->Map(TMapAccess::Read, data));
  EXPECT_EQ(data.GetPixel(1, 0), TAlphaColor(0xFF00FF00));
  ownBitmap->Unmap(data);
  EXPECT_EQ(dst->GetName(), "normal");
  EXPECT_EQ(dst->GetTilingY(), 3);
  EXPECT_EQ(dst->GetInternalFormat(), PF::SRGB8_ALPHA8);
  EXPECT_EQ(dst->GetWrapR(), Wrap::ClampToBorder);
  EXPECT_TRUE(dst->GetProtectFormatSettings());

  // Other destinations: the framework's assign error, the destination unchanged.
  struct Refused {
    TPersistent* Dest;
    TPersistent* Source;
    const char* Message;
  };
  TOwned<TBitmap> plain(New<TBitmap>());
  const Refused refused[] = {
      {dst, tex, "Cannot assign a TQuorvelTexturePoolEntry to a TQuorvelBitmapPoolEntry"},
      {plain.get(), tex, "Cannot assign a TQuorvelTexturePoolEntry to a TBitmap"},
      {plain.get(), src, "Cannot assign a TQuorvelBitmapPoolEntry to a TBitmap"},
  };
  for (const Refused& r : refused) {
    try {
      r.Dest->Assign(r.Source);
      ADD_FAILURE() << r.Message;
    } catch (const EConvertError& ex) {
      EXPECT_STREQ(ex.what(), r.Message);
    }
  }
  EXPECT_EQ(dst->GetName(), "normal");
}

TEST_F(MaterialPoolsTest, StoreToDefinitionFillsATextureAndItsSampler) {
  TQuorvelBitmapPoolEntry* e = Bitmaps->Add();
  Customise(e);
  e->SetMagFilter(TTextureFilter::Nearest);
  TOwned<TTextureDef> def(New<TTextureDef>());
  e->StoreToDefinition(def.get());
  EXPECT_EQ(def->GetTiling(), TPointF(2, 3));
  EXPECT_TRUE(def->GetIsDynamic());
  EXPECT_TRUE(def->GetIgnoreInArray());
  EXPECT_EQ(def->GetDestination(), TContextShaderKind::VertexShader);
  const TSamplerDef* s = def->GetSampler();
  EXPECT_EQ(s->GetTextureKind(), Kind::Texture2D);
  EXPECT_EQ(s->GetInternalFormat(), PF::SRGB8_ALPHA8);
  EXPECT_EQ(s->GetFormat(), PF::RGBA);
  EXPECT_EQ(s->GetDataType(), DT::dtUnsignedByte);
  EXPECT_EQ(s->GetWrapS(), Wrap::Repeated);
  EXPECT_EQ(s->GetWrapT(), Wrap::MirroredRepeat);
  EXPECT_EQ(s->GetWrapR(), Wrap::ClampToBorder);
  EXPECT_EQ(s->GetMinFilter(), TTextureFilter::Nearest);
  EXPECT_EQ(s->GetMagFilter(), TTextureFilter::Nearest);
  EXPECT_EQ(s->GetBorderColor(), TAlphaColorF(TAlphaColor(0x80FF0000)));

  // Reading a definition changes nothing; any other definition is refused before a change.
  e->LoadFromDefinition(def.get());
  EXPECT_EQ(e->GetName(), "normal");
  TOwned<TSamplerDef> sampler(New<TSamplerDef>());
  EXPECT_THROW(e->StoreToDefinition(sampler.get()), EInvalidCast);
  EXPECT_EQ(sampler->GetWrapS(), Wrap::ClampToEdge);
  EXPECT_THROW(e->StoreToDefinition(nullptr), EInvalidCast);
}

TEST_F(MaterialPoolsTest, IndexOfTextureFindsTheFirstEntryOfThatTexture) {
  TOwned<TTexture> a(New<TTexture>()), b(New<TTexture>());
  EXPECT_EQ(Textures->IndexOfTexture(a.get()), -1);
  EXPECT_EQ(Textures->IndexOfTexture(nullptr), -1);
  Textures->Add()->SetTexture(b.get());
  Textures->Add()->SetTexture(a.get());
  Textures->Add()->SetTexture(a.get());
  EXPECT_EQ(Textures->IndexOfTexture(a.get()), 1);
  EXPECT_EQ(Textures->IndexOfTexture(b.get()), 0);
  EXPECT_EQ(Textures->IndexOfTexture(nullptr), -1);
  Textures->Add();
  EXPECT_EQ(Textures->IndexOfTexture(nullptr), 3);
}

}  // namespace
}  // namespace quorvel
