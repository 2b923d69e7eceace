// The inventory's visual items and the image lists built from them.
#include "framework/classes/StoredProperties.h"
#include "framework/gui/Bitmap.h"
#include "framework/gui/ImageList.h"
#include "framework/io/Path.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/Monitor.h"
#include "lib/game/Inventory.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelInventoryVisualItem, "Quorvel.Utils.Inventory")
FW_CLASS_IMPL(TQuorvelInventoryVisualItemCollection, "Quorvel.Utils.Inventory")
FW_CLASS_IMPL(TQuorvelInventoryImageLODSize, "Quorvel.Utils.Inventory")

void TQuorvelInventoryVisualItem::Register(ClassBuilder<TQuorvelInventoryVisualItem>& b) {
  b.Prop("DisplayName", &Self::GetDisplayName, [](Self* s, std::string v) { s->SetDisplayName(v); })
      .Prop("ImageLOD0", [](const Self* s) { return s->GetResource(0); }, [](Self* s, std::string v) { s->SetResource(0, v); })
      .Prop("ImageLOD1", [](const Self* s) { return s->GetResource(1); }, [](Self* s, std::string v) { s->SetResource(1, v); })
      .Prop("ImageLOD2", [](const Self* s) { return s->GetResource(2); }, [](Self* s, std::string v) { s->SetResource(2, v); })
      .Prop("ModelFile", [](const Self* s) { return s->GetResource(3); }, [](Self* s, std::string v) { s->SetResource(3, v); })
      .Prop("Index", &Self::GetIndex, [](Self* s, int32_t v) { s->SetIndex(v); });
  // The position in the written list is the index already.
  SetPropertyNotStored(&b.Class(), "Index");
}

// Forms write a collection's items only: the inventory writes the sizes for it.
void TQuorvelInventoryVisualItemCollection::Register(ClassBuilder<TQuorvelInventoryVisualItemCollection>& b) {
  b.Prop(
       "ImageLOD0Size", [](const Self* s) { return s->ImageLODSizeObject(0); },
       [](Self* s, TQuorvelInventoryImageLODSize* v) { s->ImageLODSizeObject(0)->Assign(v); })
      .Prop(
          "ImageLOD1Size", [](const Self* s) { return s->ImageLODSizeObject(1); },
          [](Self* s, TQuorvelInventoryImageLODSize* v) { s->ImageLODSizeObject(1)->Assign(v); })
      .Prop(
          "ImageLOD2Size", [](const Self* s) { return s->ImageLODSizeObject(2); },
          [](Self* s, TQuorvelInventoryImageLODSize* v) { s->ImageLODSizeObject(2)->Assign(v); });
}

void TQuorvelInventoryImageLODSize::Register(ClassBuilder<TQuorvelInventoryImageLODSize>& b) {
  b.Prop("X", &Self::X, &Self::SetX).Prop("Y", &Self::Y, &Self::SetY);
}

TPoint TQuorvelInventoryImageLODSize::Point() const { return FCollection->GetImageLODSize(FIndex); }

void TQuorvelInventoryImageLODSize::SetX(int32_t AValue) {
  TPoint p = Point();
  p.X = AValue;
  FCollection->SetImageLODSize(FIndex, p);
}

void TQuorvelInventoryImageLODSize::SetY(int32_t AValue) {
  TPoint p = Point();
  p.Y = AValue;
  FCollection->SetImageLODSize(FIndex, p);
}

void TQuorvelInventoryImageLODSize::Assign(TPersistent* Source) {
  if (auto* source = dynamic_cast<TQuorvelInventoryImageLODSize*>(Source)) {
    const TPoint p = source->Point();
    Point();  // the defaults first, so that they cannot replace the copy later
    FCollection->SetImageLODSize(FIndex, p);
    return;
  }
  TPersistent::Assign(Source);
}

void TQuorvelInventoryVisualItem::AssignTo(TPersistent* Dest) {
  auto* dest = dynamic_cast<TQuorvelInventoryVisualItem*>(Dest);
  if (!dest) {
    TCollectionItem::AssignTo(Dest);
    return;
  }
  dest->FName = FName;
  dest->FResources = FResources;
}

TQuorvelInventoryVisualItemCollection::TQuorvelInventoryVisualItemCollection(TPersistent* AOwner)
    : TOwnedCollection(AOwner, TQuorvelInventoryVisualItem::StaticClass()),
      FImageLODSizeObjects{TOwned<TQuorvelInventoryImageLODSize>(New<TQuorvelInventoryImageLODSize>(this, 0)),
                           TOwned<TQuorvelInventoryImageLODSize>(New<TQuorvelInventoryImageLODSize>(this, 1)),
                           TOwned<TQuorvelInventoryImageLODSize>(New<TQuorvelInventoryImageLODSize>(this, 2))} {}

TPoint TQuorvelInventoryVisualItemCollection::GetImageLODSize(int AIndex) {
  if (FImageLODSizes[0].X == 0 && FImageLODSizes[0].Y == 0)
    FImageLODSizes = {TPoint{24, 24}, TPoint{64, 64}, TPoint{128, 128}};
  return FImageLODSizes.at(size_t(AIndex));
}

void TQuorvelInventoryVisualItemCollection::SetImageLODSize(int AIndex, TPoint AValue) {
  FImageLODSizes.at(size_t(AIndex)) = AValue;
}

// --- the inventory's side ------------------------------------------------------------------

void TQuorvelInventory::SetVisualItems(TQuorvelInventoryVisualItemCollection* AValue) {
  TMonitorGuard lock(this);
  SetImageListsModified();
  FVisualItems->Assign(AValue);
}

TQuorvelInventoryVisualItem* TQuorvelInventory::AddVisualItem(int AIndex, const std::string& AName,
                                                             const std::string& ALOD0, const std::string& ALOD1,
                                                             const std::string& ALOD2, const std::string& AModelFile) {
  TMonitorGuard lock(this);
  SetImageListsModified();
  auto* item = FVisualItems->AddItem<TQuorvelInventoryVisualItem>();
  item->SetDisplayName(AName);
  item->SetResource(0, ALOD0);
  item->SetResource(1, ALOD1);
  item->SetResource(2, ALOD2);
  item->SetResource(3, AModelFile);
  if (AIndex >= 0) item->SetIndex(AIndex);
  return item;
}

TQuorvelInventoryVisualItem* TQuorvelInventory::GetVisualItemByName(const std::string& AName) const {
  TMonitorGuard lock(this);
  for (TCollectionItem* item : FVisualItems->ItemList())
    if (item->GetDisplayName() == AName) return static_cast<TQuorvelInventoryVisualItem*>(item);
  return nullptr;
}

void TQuorvelInventory::RemoveVisualItem(const std::string& AName) {
  TMonitorGuard lock(this);
  SetImageListsModified();
  if (TQuorvelInventoryVisualItem* item = GetVisualItemByName(AName)) FVisualItems->Delete(item->GetIndex());
}

void TQuorvelInventory::ClearVisualItems() {
  TMonitorGuard lock(this);
  SetImageListsModified();
  FVisualItems->Clear();
}

TImageList* TQuorvelInventory::GetImageList(int AIndex) {
  const size_t slot = size_t(AIndex);
  if (FImageLists.at(slot) && !FImageListsModified[slot]) return FImageLists[slot];
  if (TImageList* old = std::exchange(FImageLists[slot], nullptr)) {
    old->ClearCache();
    old->UpdateImmediately();
    Free(old);
  }
  FImageLists[slot] = New<TImageList>(nullptr);
  TImageList* list = FImageLists[slot];
  const TPoint size = FVisualItems->GetImageLODSize(AIndex);
  for (int i = 0; i < FVisualItems->Count(); ++i) {
    TQuorvelInventoryVisualItem* item = FVisualItems->Items(i);
    TCustomSourceItem* source = list->AddSource();
    source->SetName(item->GetDisplayName());
    source->MultiResBitmap()->SetWidth(size.X);
    source->MultiResBitmap()->SetHeight(size.Y);
    TBitmap* bitmap = source->MultiResBitmap()->AddBitmap()->Bitmap();
    const std::string path = item->GetResource(AIndex);
    auto load = [&](const std::string& AFile) {
      bitmap->LoadFromFile(AFile);
      bitmap->Resize(size.X, size.Y);
    };
    if (OnLoadResource) {
      OnLoadResource(this, AIndex, path, item, bitmap);
    } else if (!path.empty() && TFile::Exists(path)) {
      load(path);
    } else if (FFileName.empty()) {
      Log::d("<WARNING> [LOD #%d] visual item #%d - image not found: %s", AIndex, i, path);
    } else {
      const std::string joined = TPath::IncludeTrailingPathDelimiter(TPath::GetDirectoryName(FFileName)) + path;
      if (TFile::Exists(joined)) load(joined);
      else Log::d("<WARNING> [LOD #%d] visual item #%d - image not found: %s", AIndex, i, joined);
    }
    TLayer* layer = list->AddDestination()->AddLayer();
    layer->SetName(item->GetDisplayName());
    layer->SetSourceRect(TRectF(0, 0, float(size.X), float(size.Y)));
  }
  FImageListsModified[slot] = false;
  return list;
}

}  // namespace quorvel
