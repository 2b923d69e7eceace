#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "framework/gui/Bitmap.h"
#include "framework/gui/ImageList.h"
#include "framework/io/Path.h"
#include "framework/io/Stream.h"
#include "framework/rtl/Log.h"
#include "lib/game/Inventory.h"

namespace quorvel {
namespace {

const std::string DataDir = std::string(QUORVEL_TEST_DATA_DIR) + "/game/";

TAlphaColor PixelOf(TBitmap* ABitmap, int x, int y) {
  TBitmapData data;
  EXPECT_TRUE(ABitmap->Map(TMapAccess::Read, data));
  const TAlphaColor c = data.GetPixel(x, y);
  ABitmap->Unmap(data);
  return c;
}

TBitmap* SourceBitmap(TImageList* AList, int AIndex) {
  auto* source = AList->Source()->Items<TCustomSourceItem>(AIndex);
  return source->MultiResBitmap()->Items(0)->Bitmap();
}

class InventoryVisualsTest : public ::testing::Test {
protected:
  void SetUp() override { Inv = New<TQuorvelInventory>(nullptr); }
  void TearDown() override { Free(Inv); }
  TQuorvelInventory* Inv = nullptr;
};

TEST_F(InventoryVisualsTest, SizesDefaultWhileLevelZeroIsUnset) {
  TQuorvelInventoryVisualItemCollection* items = Inv->VisualItems();
  items->SetImageLODSize(1, {32, 32});
  EXPECT_EQ(items->GetImageLODSize(1), (TPoint{64, 64}));  // the defaults win while level 0 is (0, 0)
  EXPECT_EQ(items->GetImageLODSize(0), (TPoint{24, 24}));
  EXPECT_EQ(items->GetImageLODSize(2), (TPoint{128, 128}));
  items->SetImageLODSize(1, {32, 16});
  EXPECT_EQ(items->GetImageLODSize(1), (TPoint{32, 16}));
}

TEST_F(InventoryVisualsTest, ImageListsAreBuiltOnceUntilAChange) {
  const std::string small = DataDir + "sword_small.png";
  Inv->AddVisualItem(-1, "sword", small, DataDir + "sword_medium.png", DataDir + "sword_large.png", "sword.obj");
  TImageList* first = Inv->ImageListLOD0();
  EXPECT_EQ(Inv->ImageListLOD0(), first);
  ASSERT_EQ(first->Source()->Count(), 1);
  ASSERT_EQ(first->Count(), 1);
  EXPECT_EQ(first->Source()->Items<TCustomSourceItem>(0)->Name(), "sword");
  TBitmap* bitmap = SourceBitmap(first, 0);
  EXPECT_EQ(bitmap->GetWidth(), 24);
  EXPECT_EQ(bitmap->GetHeight(), 24);
  EXPECT_EQ(PixelOf(bitmap, 12, 12), TAlphaColor(0xFFFF0000u));
  TLayer* layer = first->Destination()->Items<TCustomDestinationItem>(0)->Layers()->Items<TLayer>(0);
  EXPECT_EQ(layer->Name(), "sword");
  EXPECT_EQ(layer->SourceRect().Right, 24.0f);
  EXPECT_EQ(layer->SourceRect().Bottom, 24.0f);
  TBitmap* large = SourceBitmap(Inv->ImageListLOD2(), 0);
  EXPECT_EQ(large->GetWidth(), 128);
  EXPECT_EQ(PixelOf(large, 100, 100), TAlphaColor(0xFF0000FFu));

  // Added first: the next list is new and starts with it.
  Inv->AddVisualItem(0, "shield", "", "", "", "");
  Inv->AddVisualItem(-1, "bow", "", "", "", "");
  EXPECT_EQ(Inv->VisualItems()->Items(0)->GetDisplayName(), "shield");
  EXPECT_EQ(Inv->VisualItems()->Items(2)->GetDisplayName(), "bow");
  TLogCapture log;
  TImageList* second = Inv->ImageListLOD0();
  ASSERT_EQ(second->Source()->Count(), 3);
  EXPECT_EQ(second->Source()->Items<TCustomSourceItem>(0)->Name(), "shield");
  EXPECT_EQ(SourceBitmap(second, 0)->GetWidth(), 24);  // not found: empty, of the set size
  EXPECT_TRUE(log.Contains("<WARNING> [LOD #0] visual item #0 - image not found: ")) << log.Lines().size();
  EXPECT_TRUE(log.Contains("<WARNING> [LOD #0] visual item #2 - image not found: "));
  EXPECT_EQ(Inv->GetVisualItemByName("bow"), Inv->VisualItems()->Items(2));
  Inv->RemoveVisualItem("bow");
  Inv->RemoveVisualItem("none");
  EXPECT_EQ(Inv->GetVisualItemByName("bow"), nullptr);
  EXPECT_EQ(Inv->ImageListLOD0()->Count(), 2);
  Inv->ClearVisualItems();
  EXPECT_EQ(Inv->ImageListLOD0()->Count(), 0);
}

TEST_F(InventoryVisualsTest, RelativePathsAreFoundBesideTheInventoryFile) {
  const std::string dir = ::testing::TempDir() + "inv_visuals/";
  TDirectory::CreateDirectory(dir);
  TFile::Copy(DataDir + "sword_medium.png", dir + "medium_rel.png", true);
  Inv->AddVisualItem(-1, "sword", "", "medium_rel.png", "", "");
  Inv->SaveToFile(dir + "inventory.xml");
  TOwned<TQuorvelInventory> loaded(New<TQuorvelInventory>(nullptr));
  loaded->LoadFromFile(dir + "inventory.xml");
  EXPECT_EQ(loaded->VisualItems()->Items(0)->GetResource(1), "medium_rel.png");
  TLogCapture log;
  TBitmap* bitmap = SourceBitmap(loaded->ImageListLOD1(), 0);
  EXPECT_EQ(bitmap->GetWidth(), 64);
  EXPECT_EQ(PixelOf(bitmap, 5, 60), TAlphaColor(0xFF00FF00u));
  EXPECT_TRUE(log.Lines().empty());
  // Not beside the file either: the warning names the joined path.
  loaded->VisualItems()->Items(0)->SetResource(1, "gone.png");
  loaded->SetImageListsModified();
  loaded->ImageListLOD1();
  EXPECT_TRUE(log.Contains("image not found: " + dir + "gone.png"));
  std::remove((dir + "inventory.xml").c_str());
  std::remove((dir + "medium_rel.png").c_str());
}

TEST_F(InventoryVisualsTest, TheLoadHandlerReplacesFilesAndWarnings) {
  Inv->AddVisualItem(-1, "sword", DataDir + "sword_small.png", "missing.png", "", "");
  std::vector<std::string> calls;
  Inv->OnLoadResource = [&](TQuorvelInventory* inv, int idx, const std::string& res, TQuorvelInventoryVisualItem* item,
                            TBitmap* bitmap) {
    EXPECT_EQ(inv, Inv);
    calls.push_back(std::to_string(idx) + " " + res + " " + item->GetDisplayName() + " " +
                    std::to_string(bitmap->GetWidth()));
    bitmap->Clear(TAlphaColor(0xFF102030u));
  };
  TLogCapture log;
  TBitmap* bitmap = SourceBitmap(Inv->ImageListLOD0(), 0);
  Inv->ImageListLOD1();
  EXPECT_EQ(calls, (std::vector<std::string>{"0 " + DataDir + "sword_small.png sword 24", "1 missing.png sword 64"}));
  EXPECT_EQ(PixelOf(bitmap, 0, 0), TAlphaColor(0xFF102030u));
  EXPECT_TRUE(log.Lines().empty());
}

TEST_F(InventoryVisualsTest, VisualItemsTravelInTheFile) {
  Inv->AddVisualItem(-1, "007", "a.png", "b.png", "c.png", "m.obj");
  EXPECT_EQ(Inv->ImageListLOD2()->Count(), 1);
  TOwned<TQuorvelInventory> copy(Inv->Clone());
  ASSERT_EQ(copy->VisualItems()->Count(), 1);
  TQuorvelInventoryVisualItem* item = copy->VisualItems()->Items(0);
  EXPECT_EQ(item->GetDisplayName(), "007");
  for (int i = 0; i < 4; ++i) EXPECT_EQ(item->GetResource(i), Inv->VisualItems()->Items(0)->GetResource(i));
  // Loading marks the lists modified.
  TLogCapture log;
  copy->AddVisualItem(-1, "extra", "", "", "", "");
  TOwned<TBytesStream> s(New<TBytesStream>());
  copy->SaveToStream(s.get());
  s->SetPosition(0);
  Inv->LoadFromStream(s.get());
  EXPECT_EQ(Inv->ImageListLOD2()->Count(), 2);
}

}  // namespace
}  // namespace quorvel
