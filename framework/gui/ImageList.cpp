#include "framework/gui/ImageList.h"

#include "framework/gui/Bitmap.h"
#include "framework/rtl/Finally.h"

namespace quorvel {

FW_CLASS_IMPL(TFixedBitmapItem, "Fw.ImgList")
FW_CLASS_NO_MEMBERS(TFixedBitmapItem)
FW_CLASS_IMPL(TFixedMultiResBitmap, "Fw.ImgList")
FW_CLASS_NO_MEMBERS(TFixedMultiResBitmap)
FW_CLASS_IMPL(TCustomSourceItem, "Fw.ImgList")
FW_CLASS_NO_MEMBERS(TCustomSourceItem)
FW_CLASS_IMPL(TLayer, "Fw.ImgList")
FW_CLASS_NO_MEMBERS(TLayer)
FW_CLASS_IMPL(TCustomDestinationItem, "Fw.ImgList")
FW_CLASS_NO_MEMBERS(TCustomDestinationItem)
FW_CLASS_IMPL(TImageList, "Fw.ImgList")
FW_CLASS_NO_MEMBERS(TImageList)

TFixedBitmapItem::TFixedBitmapItem(TCollection* Collection) : TCollectionItem(Collection), FBitmap(New<TBitmap>()) {}

TFixedBitmapItem::~TFixedBitmapItem() { FreeQuietly(FBitmap, "bitmap item"); }

TFixedMultiResBitmap::TFixedMultiResBitmap(TPersistent* AOwner)
    : TOwnedCollection(AOwner, TFixedBitmapItem::StaticClass()) {}

TFixedBitmapItem* TFixedMultiResBitmap::AddBitmap() {
  auto* item = AddItem<TFixedBitmapItem>();
  item->Bitmap()->SetSize(FWidth, FHeight);
  return item;
}

TCustomSourceItem::TCustomSourceItem(TCollection* Collection)
    : TCollectionItem(Collection), FMultiResBitmap(New<TFixedMultiResBitmap>(this)) {}

TCustomSourceItem::~TCustomSourceItem() { FreeQuietly(FMultiResBitmap, "multi-resolution bitmap"); }

TCustomDestinationItem::TCustomDestinationItem(TCollection* Collection)
    : TCollectionItem(Collection), FLayers(New<TOwnedCollection>(this, TLayer::StaticClass())) {}

TCustomDestinationItem::~TCustomDestinationItem() { FreeQuietly(FLayers, "layers"); }

TImageList::TImageList(TComponent* AOwner)
    : TComponent(AOwner),
      FSource(New<TOwnedCollection>(this, TCustomSourceItem::StaticClass())),
      FDestination(New<TOwnedCollection>(this, TCustomDestinationItem::StaticClass())) {}

TImageList::~TImageList() {
  FreeQuietly(FDestination, "image list destinations");
  FreeQuietly(FSource, "image list sources");
}

TCustomSourceItem* TImageList::FindSource(const std::string& AName) const {
  for (TCollectionItem* item : FSource->ItemList())
    if (auto* source = static_cast<TCustomSourceItem*>(item); source->Name() == AName) return source;
  return nullptr;
}

}  // namespace quorvel
