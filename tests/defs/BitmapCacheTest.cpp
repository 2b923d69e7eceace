#include <gtest/gtest.h>

#include <string>

#include "framework/classes/Filer.h"
#include "framework/classes/FormText.h"
#include "lib/defs/DefTypes.h"

namespace quorvel {
namespace {

// A holder that keeps a cache as a published collection property, as the model component does.
class TCacheHolder : public TComponent {
  FW_CLASS(TCacheHolder, TComponent)
public:
  explicit TCacheHolder(TComponent* AOwner) : TComponent(AOwner), FCache(New<TQuorvelBitmapCache>(this)) {}
  TQuorvelBitmapCache* GetBitmapCache() const { return FCache.get(); }

private:
  TOwned<TQuorvelBitmapCache> FCache;
};
FW_CLASS_IMPL(TCacheHolder, "Quorvel.Test.BitmapCache")
void TCacheHolder::Register(ClassBuilder<TCacheHolder>& b) { b.Prop("BitmapCache", &Self::GetBitmapCache); }

TBitmap* MakeBitmap(int32_t AWidth, int32_t AHeight, TAlphaColor AColor) {
  auto* bitmap = New<TBitmap>(AWidth, AHeight);
  bitmap->Clear(AColor);
  return bitmap;
}

TAlphaColor PixelOf(TBitmap* ABitmap, int32_t X, int32_t Y) {
  TBitmapData data;
  EXPECT_TRUE(ABitmap->Map(TMapAccess::Read, data));
  const TAlphaColor c = data.GetPixel(X, Y);
  ABitmap->Unmap(data);
  return c;
}

TEST(BitmapCache, FindBitmapPrefersTheExactPathThenTheFileName) {
  TOwned<TQuorvelBitmapCache> cache(New<TQuorvelBitmapCache>());
  EXPECT_EQ(cache->FindBitmap("a.png"), nullptr);
  TQuorvelBitmapCacheEntry* first = cache->AddEntry();
  first->SetFilename(R"(C:\one\wood.png)");
  TQuorvelBitmapCacheEntry* second = cache->AddEntry();
  second->SetFilename("/two/wood.png");
  struct TCase {
    const char* Name;
    TQuorvelBitmapCacheEntry* Expected;
  };
  const TCase cases[] = {
      {R"(C:\one\wood.png)", first},
      {"/two/wood.png", second},  // the exact match wins over the earlier name match
      {"D:/three/wood.png", first},
      {"C:wood.png", first},
      {"wood.png", first},
      {R"(C:\one\WOOD.png)", nullptr},  // letter case counts
      {"stone.png", nullptr},
  };
  for (const TCase& c : cases) EXPECT_EQ(cache->FindBitmap(c.Name), c.Expected) << c.Name;
}

TEST(BitmapCache, ReferenceEntriesNeitherCopyNorFree) {
  TOwned<TBitmap> shared(MakeBitmap(2, 2, claRed));
  TOwned<TBitmap> other(MakeBitmap(1, 1, claBlue));
  {
    TOwned<TQuorvelBitmapCache> cache(New<TQuorvelBitmapCache>());
    TQuorvelBitmapCacheEntry* owner = cache->AddEntry();
    EXPECT_FALSE(owner->GetIsOnlyRef());
    ASSERT_NE(owner->GetBitmap(), nullptr);
    owner->SetBitmap(other.get());  // copied
    EXPECT_NE(owner->GetBitmap(), other.get());
    EXPECT_EQ(owner->GetBitmap()->GetWidth(), 1);

    TQuorvelBitmapCacheEntry* ref = cache->AddEntry();
    ref->SetBitmapReference("tex/a.png", shared.get());  // frees the bitmap the entry made
    EXPECT_TRUE(ref->GetIsOnlyRef());
    EXPECT_EQ(ref->GetBitmap(), shared.get());
    EXPECT_EQ(ref->GetFilename(), "tex/a.png");
    ref->SetBitmap(other.get());  // ignored
    EXPECT_EQ(shared->GetWidth(), 2);

    // AssignTo copies the pixels into the destination's own bitmap, not the name.
    owner->Assign(ref);
    EXPECT_EQ(owner->GetBitmap()->GetWidth(), 2);
    EXPECT_EQ(PixelOf(owner->GetBitmap(), 1, 1), claRed);
    EXPECT_EQ(owner->GetFilename(), "");
    EXPECT_THROW(ref->AssignTo(other.get()), EConvertError);
  }
  EXPECT_EQ(PixelOf(shared.get(), 0, 0), claRed);  // still alive after the cache went
}

TEST(BitmapCache, FormStreamingKeepsNamesAndPixels) {
  TOwned<TCacheHolder> holder(New<TCacheHolder>(nullptr));
  holder->SetName("Holder");
  TOwned<TBitmap> referenced(MakeBitmap(3, 2, claLime));
  {
    TBitmapData data;
    ASSERT_TRUE(referenced->Map(TMapAccess::Write, data));
    data.SetPixel(2, 1, claBlue);
    referenced->Unmap(data);
  }
  holder->GetBitmapCache()->AddEntry()->SetBitmapReference(R"(C:\tex\grass.png)", referenced.get());
  TQuorvelBitmapCacheEntry* own = holder->GetBitmapCache()->AddEntry();
  own->SetFilename("empty.png");
  const std::string text = TWriter(holder.get()).WriteRootComponent();

  TOwned<TCacheHolder> back(New<TCacheHolder>(nullptr));
  ReadComponentResource(back.get(), text);
  TQuorvelBitmapCache* cache = back->GetBitmapCache();
  ASSERT_EQ(cache->Count(), 2) << text;
  TQuorvelBitmapCacheEntry* grass = cache->GetEntry(0);
  EXPECT_EQ(grass->GetFilename(), R"(C:\tex\grass.png)");
  EXPECT_FALSE(grass->GetIsOnlyRef());  // read entries own their bitmaps
  ASSERT_EQ(grass->GetBitmap()->GetWidth(), 3);
  ASSERT_EQ(grass->GetBitmap()->GetHeight(), 2);
  EXPECT_EQ(PixelOf(grass->GetBitmap(), 0, 0), claLime);
  EXPECT_EQ(PixelOf(grass->GetBitmap(), 2, 1), claBlue);
  EXPECT_EQ(cache->GetEntry(1)->GetFilename(), "empty.png");
  EXPECT_TRUE(cache->GetEntry(1)->GetBitmap()->IsEmpty());
  EXPECT_EQ(cache->FindBitmap("grass.png"), grass);
}

TEST(BitmapCache, ABitmapDataValueThatDoesNotDecodeFailsTheRead) {
  TOwned<TCacheHolder> holder(New<TCacheHolder>(nullptr));
  EXPECT_ANY_THROW(ReadComponentResource(holder.get(), R"(object Holder: TCacheHolder
  BitmapCache = <
    item
      Filename = 'x.png'
      Bitmap.Data = {0102030405}
    end>
end)"));
}

}  // namespace
}  // namespace quorvel
