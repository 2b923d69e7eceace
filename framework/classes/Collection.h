#pragma once
// TCollection / TOwnedCollection / TCollectionItem: a list of items of one
// item class that the collection creates and frees. An item freed on its own leaves its
// collection; Delete frees the item once.
#include <string>
#include <vector>

#include "framework/rtl/Persistent.h"
#include "framework/rtl/Containers.h"

namespace quorvel {

class TCollection;

class TCollectionItem : public TPersistent {
  FW_CLASS(TCollectionItem, TPersistent)

public:
  // The registry's factory creates items as T(collection).
  using TOwnerArg = TCollection*;

  explicit TCollectionItem(TCollection* Collection);
  ~TCollectionItem() override;

  void AfterConstruction() override;
  void BeforeDestruction() override;

  TCollection* GetCollection() const { return FCollection; }
  // Leaves the current collection and joins Value (at its end).
  virtual void SetCollection(TCollection* Value);
  int GetIndex() const;
  // Moves the item inside its collection (clamped).
  virtual void SetIndex(int Value);
  // Unique within the collection for its lifetime; never reused.
  int GetID() const { return FID; }
  virtual std::string GetDisplayName() const { return ClassName(); }
  virtual void SetDisplayName(const std::string& Value) { Changed(false); }

  TPersistent* GetOwner() const override;
  std::string GetNamePath() const override;

protected:
  // Tells the collection that this item (or, with AllItems, every item) changed.
  void Changed(bool AllItems);

private:
  friend class TCollection;
  TCollection* FCollection = nullptr;
  int FID = 0;
  bool FAnnounced = false;  // cnAdded was sent (after construction)
};

class TCollection : public TPersistent {
  FW_CLASS(TCollection, TPersistent)

public:
  // ItemClass: the metaclass of the items (TCollectionItem or a descendant).
  explicit TCollection(const TClass* ItemClass = TCollectionItem::StaticClass());
  ~TCollection() override;

  void BeforeDestruction() override;
  void Assign(TPersistent* Source) override;

  const TClass* GetItemClass() const { return FItemClass; }
  int GetCount() const { return static_cast<int>(FItems.size()); }
  int Count() const { return GetCount(); }
  // EListError "List index out of bounds (%d)" for a bad index.
  TCollectionItem* GetItem(int Index) const;
  // Copies Value into the item at Index (Assign).
  void SetItem(int Index, TCollectionItem* Value);
  template <class T>
  T* Items(int Index) const {
    return GetItem(Index)->As<T>();
  }
  const std::vector<TCollectionItem*>& ItemList() const { return FItems; }

  TCollectionItem* Add();
  template <class T>
  T* AddItem() {
    return Add()->As<T>();
  }
  // Index is clamped to 0..Count.
  TCollectionItem* Insert(int Index);
  // Sends cnDeleting, then frees the item (which leaves the collection with cnExtracting).
  void Delete(int Index);
  void Clear();
  // Clear, and IDs start again at 0.
  void ClearAndResetID();
  TCollectionItem* FindItemID(int ID) const;
  // Swaps two items; no notification.
  void Exchange(int Index1, int Index2);

  // Changes inside the bracket call Update once, at the last EndUpdate.
  virtual void BeginUpdate() { ++FUpdateCount; }
  virtual void EndUpdate();
  int GetUpdateCount() const { return FUpdateCount; }

  std::string GetNamePath() const override;
  // The name of the property that holds the collection, for GetNamePath (set by owners).
  void SetPropName(std::string Value) { FPropName = std::move(Value); }

protected:
  // Item is the item that changed, or null when the whole collection did.
  virtual void Update(TCollectionItem* Item) {}
  // Called for cnAdded (after construction), cnDeleting (Delete) and cnExtracting (an item
  // leaving).
  virtual void Notify(TCollectionItem* Item, TCollectionNotification Action) {}
  void Changed();

private:
  friend class TCollectionItem;
  void InsertItem(TCollectionItem* Item, int Index);
  void RemoveItem(TCollectionItem* Item);
  void Moved(TCollectionItem* Item, int NewIndex);

  const TClass* FItemClass;
  std::vector<TCollectionItem*> FItems;
  int FUpdateCount = 0;
  int FNextID = 0;
  std::string FPropName;
};

class TOwnedCollection : public TCollection {
  FW_CLASS(TOwnedCollection, TCollection)

public:
  TOwnedCollection(TPersistent* AOwner, const TClass* ItemClass);
  TPersistent* GetOwner() const override { return FOwner; }

private:
  TPersistent* FOwner;
};

}  // namespace quorvel
