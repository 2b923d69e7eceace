#pragma once
// TImageList: named source images, each a multi-resolution bitmap, and destinations whose
// layers cut a rectangle out of a named source. This is the part an application fills and
// reads; it draws nothing itself.
//
// Ownership: the list owns its source and destination collections; a source owns its
// multi-resolution bitmap, which owns its bitmap items; a bitmap item owns its bitmap.
#include <string>

#include "framework/classes/Collection.h"
#include "framework/classes/Component.h"
#include "framework/math/Rect.h"

namespace quorvel {

class TBitmap;

// One bitmap at one scale.
class TFixedBitmapItem : public TCollectionItem {
  FW_CLASS(TFixedBitmapItem, TCollectionItem)
public:
  explicit TFixedBitmapItem(TCollection* Collection);
  ~TFixedBitmapItem() override;
  TBitmap* Bitmap() const { return FBitmap; }
  float Scale() const { return FScale; }
  void SetScale(float AValue) { FScale = AValue; }

private:
  TBitmap* FBitmap;
  float FScale = 1;
};

// Bitmap items of one picture; an item added takes the set size.
class TFixedMultiResBitmap : public TOwnedCollection {
  FW_CLASS(TFixedMultiResBitmap, TOwnedCollection)
public:
  explicit TFixedMultiResBitmap(TPersistent* AOwner);
  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }
  void SetWidth(int32_t AValue) { FWidth = AValue; }
  void SetHeight(int32_t AValue) { FHeight = AValue; }
  TFixedBitmapItem* AddBitmap();
  TFixedBitmapItem* Items(int AIndex) const { return static_cast<TFixedBitmapItem*>(GetItem(AIndex)); }

private:
  int32_t FWidth = 0;
  int32_t FHeight = 0;
};

class TCustomSourceItem : public TCollectionItem {
  FW_CLASS(TCustomSourceItem, TCollectionItem)
public:
  explicit TCustomSourceItem(TCollection* Collection);
  ~TCustomSourceItem() override;
  const std::string& Name() const { return FName; }
  void SetName(std::string AValue) { FName = std::move(AValue); }
  TFixedMultiResBitmap* MultiResBitmap() const { return FMultiResBitmap; }

private:
  std::string FName;
  TFixedMultiResBitmap* FMultiResBitmap;
};

// A rectangle of the source named Name.
class TLayer : public TCollectionItem {
  FW_CLASS(TLayer, TCollectionItem)
public:
  using TCollectionItem::TCollectionItem;
  const std::string& Name() const { return FName; }
  void SetName(std::string AValue) { FName = std::move(AValue); }
  TRectF SourceRect() const { return FSourceRect; }
  void SetSourceRect(TRectF AValue) { FSourceRect = AValue; }

private:
  std::string FName;
  TRectF FSourceRect{};
};

class TCustomDestinationItem : public TCollectionItem {
  FW_CLASS(TCustomDestinationItem, TCollectionItem)
public:
  explicit TCustomDestinationItem(TCollection* Collection);
  ~TCustomDestinationItem() override;
  TOwnedCollection* Layers() const { return FLayers; }
  TLayer* AddLayer() { return FLayers->AddItem<TLayer>(); }

private:
  TOwnedCollection* FLayers;
};

class TImageList : public TComponent {
  FW_CLASS(TImageList, TComponent)
public:
  explicit TImageList(TComponent* AOwner);
  ~TImageList() override;
  TOwnedCollection* Source() const { return FSource; }
  TOwnedCollection* Destination() const { return FDestination; }
  TCustomSourceItem* AddSource() { return FSource->AddItem<TCustomSourceItem>(); }
  TCustomDestinationItem* AddDestination() { return FDestination->AddItem<TCustomDestinationItem>(); }
  TCustomSourceItem* FindSource(const std::string& AName) const;
  int Count() const { return FDestination->Count(); }
  // Drops pictures composed from the sources (none are kept while nothing draws).
  void ClearCache() {}
  // Brings dependants up to date now rather than at the next idle moment.
  void UpdateImmediately() {}

private:
  TOwnedCollection* FSource;
  TOwnedCollection* FDestination;
};

}  // namespace quorvel
