#include "framework/gui3d/Texture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <typeinfo>

#include "framework/gui3d/Context3D.h"
#include "framework/rtl/SysUtils.h"

namespace quorvel {
namespace texture_test {
namespace {

using TCalls = std::vector<std::string>;

// A context class whose GPU is a counter: textures get numbers, uploads are noted.
struct TCountingClass : TContextClass {
  using TContextClass::TContextClass;
  mutable TCalls Calls;
  mutable TTextureHandle Next = 10;
  void DoInitializeTexture(TTexture* ATexture) const override {
    Calls.push_back(Format("init %dx%d", ATexture->GetWidth(), ATexture->GetHeight()));
    dynamic_cast<ITextureAccess*>(ATexture)->SetHandle(Next++);
  }
  void DoFinalizeTexture(TTexture* ATexture) const override {
    Calls.push_back(Format("fin %d", int32_t(ATexture->GetHandle())));
    TContextClass::DoFinalizeTexture(ATexture);
  }
  void DoUpdateTexture(TTexture* ATexture, const void* ABits, int32_t APitch) const override {
    uint32_t first = 0;
    std::memcpy(&first, ABits, 4);
    Calls.push_back(Format("update %d pitch %d first %s", int32_t(ATexture->GetHandle()), APitch,
                            IntToHex(uint64_t(first), 8)));
  }
};

TClassInit CountingInit() {
  TClassInit init;
  init.Name = "TTextureCountingContext";
  init.Unit = "Test.Texture";
  init.Parent = TContext3D::StaticClass();
  init.Type = &typeid(TContext3D);
  return init;
}

// Exposes the slot, as a descendant that shows another part's texture would.
class TReferencingBitmap : public TTextureBitmap {
public:
  using TTextureBitmap::TTextureBitmap;
  void Reference(TTexture* ATexture) { SetTextureSlot(ATexture, false); }
};

class TextureTest : public ::testing::Test {
protected:
  void SetUp() override { TContextManager::RegisterContext(&FClass, true); }
  void TearDown() override { TContextManager::UnregisterContext(&FClass); }

  TCountingClass FClass{CountingInit()};
};

TEST_F(TextureTest, NewTexturesAreEmptyBgraLinearAndRefuseBadSizes) {
  TOwned<TTexture> tex(New<TTexture>());
  EXPECT_TRUE(tex->IsEmpty());
  EXPECT_EQ(tex->GetPixelFormat(), TPixelFormat::BGRA);
  EXPECT_EQ(tex->GetBytesPerPixel(), 4);
  EXPECT_EQ(tex->GetMinFilter(), TTextureFilter::Linear);
  EXPECT_EQ(tex->GetMagFilter(), TTextureFilter::Linear);
  EXPECT_TRUE(tex->GetStyle().IsEmpty());
  EXPECT_EQ(tex->GetHandle(), 0u);
  EXPECT_FLOAT_EQ(tex->GetTextureScale(), 1);
  EXPECT_THROW(tex->SetSize(-1, 4), EArgumentOutOfRangeException);
  for (float bad : {0.0f, -2.0f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()})
    EXPECT_THROW(tex->SetTextureScale(bad), EArgumentOutOfRangeException) << bad;
}

TEST_F(TextureTest, ChangingSizeOrFormatReleasesTheGpuObject) {
  TTexture* tex = New<TTexture>();
  tex->SetSize(4, 4);
  tex->Initialize();
  tex->SetSize(4, 4);
  tex->SetSize(8, 4);
  tex->Finalize();  // nothing left to release
  tex->Initialize();
  tex->SetPixelFormat(TPixelFormat::BGRA);
  tex->SetPixelFormat(TPixelFormat::RGBA);
  tex->Initialize();
  Free(tex);  // the destructor releases the last one
  EXPECT_EQ(FClass.Calls, (TCalls{"init 4x4", "fin 10", "init 8x4", "fin 11", "init 8x4", "fin 12"}));
}

TEST_F(TextureTest, AssignCopiesSettingsFromTexturesAndPixelsFromBitmaps) {
  TOwned<TTexture> source(New<TTexture>());
  source->SetSize(5, 7);
  source->SetPixelFormat(TPixelFormat::RGBA);
  source->SetStyle({TTextureStyle::MipMaps});
  source->SetMinFilter(TTextureFilter::Nearest);
  source->SetTextureScale(2);
  source->Initialize();
  TOwned<TTexture> copy(New<TTexture>());
  copy->Assign(source.get());
  EXPECT_EQ(copy->GetWidth(), 5);
  EXPECT_EQ(copy->GetPixelFormat(), TPixelFormat::RGBA);
  EXPECT_TRUE(copy->GetStyle().Contains(TTextureStyle::MipMaps));
  EXPECT_EQ(copy->GetMinFilter(), TTextureFilter::Nearest);
  EXPECT_FLOAT_EQ(copy->GetTextureScale(), 2);
  EXPECT_EQ(copy->GetHandle(), 0u);  // the GPU object stays with its texture

  TBitmap bitmap(3, 2);
  bitmap.SetBitmapScale(1.5f);
  TBitmapData data;
  ASSERT_TRUE(bitmap.Map(TMapAccess::Write, data));
  data.SetPixel(0, 0, MakeAlphaColor(0xFF112233));
  bitmap.Unmap(data);
  FClass.Calls.clear();
  copy->Assign(&bitmap);
  EXPECT_EQ(copy->GetWidth(), 3);
  EXPECT_EQ(copy->GetPixelFormat(), TPixelFormat::BGRA);
  EXPECT_FLOAT_EQ(copy->GetTextureScale(), 1.5f);
  EXPECT_EQ(FClass.Calls, (TCalls{"init 3x2", "update 11 pitch 12 first FF112233"}));

  TPersistent other;
  EXPECT_THROW(copy->Assign(&other), EConvertError);
}

TEST_F(TextureTest, TextureBitmapMakesItsTextureOnceAndKeepsItInStepWithThePixels) {
  TTextureBitmap* bitmap = New<TTextureBitmap>(2, 2);
  EXPECT_EQ(bitmap->GetTextureSlot(), nullptr);
  TTexture* tex = bitmap->GetTexture();
  ASSERT_NE(tex, nullptr);
  EXPECT_EQ(bitmap->GetTexture(), tex);
  EXPECT_EQ(FClass.Calls, (TCalls{"init 2x2", "update 10 pitch 8 first 00000000"}));

  FClass.Calls.clear();
  TBitmapData data;
  ASSERT_TRUE(bitmap->Map(TMapAccess::Write, data));
  data.SetPixel(0, 0, claRed);
  bitmap->Unmap(data);
  bitmap->SetSize(4, 1);
  EXPECT_EQ(FClass.Calls, (TCalls{"update 10 pitch 8 first FFFF0000", "fin 10", "init 4x1",
                                  "update 11 pitch 16 first 00000000"}));
  EXPECT_EQ(tex->GetWidth(), 4);

  // A render target is drawn into, never uploaded.
  FClass.Calls.clear();
  tex->SetStyle({TTextureStyle::RenderTarget});
  bitmap->Clear(claBlue);
  EXPECT_TRUE(FClass.Calls.empty());

  bitmap->DestroyResources();
  EXPECT_EQ(FClass.Calls, TCalls{"fin 11"});
  EXPECT_EQ(bitmap->GetTextureSlot(), nullptr);
  ASSERT_NE(bitmap->GetTexture(), nullptr);  // a new one on next use
  FClass.Calls.clear();
  Free(bitmap);
  EXPECT_EQ(FClass.Calls, TCalls{"fin 12"});
}

TEST_F(TextureTest, AReferencedTextureIsNeitherFreedNorFedByTheBitmap) {
  TOwned<TTexture> shared(New<TTexture>());
  shared->SetSize(8, 8);
  shared->Initialize();
  auto* bitmap = New<TReferencingBitmap>(2, 2);
  bitmap->Reference(shared.get());
  EXPECT_EQ(bitmap->GetTexture(), shared.get());
  FClass.Calls.clear();
  bitmap->SetSize(3, 3);
  bitmap->DestroyResources();
  EXPECT_EQ(bitmap->GetTextureSlot(), nullptr);
  bitmap->Reference(shared.get());
  Free(bitmap);
  EXPECT_TRUE(FClass.Calls.empty());
  EXPECT_EQ(shared->GetWidth(), 8);  // still alive and untouched
  EXPECT_EQ(shared->GetHandle(), 10u);
}

TEST_F(TextureTest, WithoutAContextClassBitmapsStillGetATextureWithoutGpuObject) {
  TContextManager::UnregisterContext(&FClass);
  TOwned<TTextureBitmap> bitmap(New<TTextureBitmap>(6, 3));
  TTexture* tex = bitmap->GetTexture();
  ASSERT_NE(tex, nullptr);
  EXPECT_EQ(tex->GetWidth(), 6);
  EXPECT_EQ(tex->GetHeight(), 3);
  EXPECT_EQ(tex->GetHandle(), 0u);
  EXPECT_EQ(TContext3D::BitmapToTexture(nullptr), nullptr);
}

}  // namespace
}  // namespace texture_test
}  // namespace quorvel
