#include "framework/classes/Collection.h"

#include <algorithm>
#include <exception>

#include "framework/rtl/Finally.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/SysUtils.h"

namespace quorvel {

FW_CLASS_IMPL(TCollectionItem, "Fw.Classes")
FW_CLASS_NO_MEMBERS(TCollectionItem)
FW_CLASS_IMPL(TCollection, "Fw.Classes")
FW_CLASS_NO_MEMBERS(TCollection)
FW_CLASS_IMPL(TOwnedCollection, "Fw.Classes")
FW_CLASS_NO_MEMBERS(TOwnedCollection)

namespace {
[[noreturn]] void RaiseIndex(int index) { throw EListError(Format("List index out of bounds (%d)", {index})); }
}  // namespace

// ---------------------------------------------------------------------------------------
// TCollectionItem

TCollectionItem::TCollectionItem(TCollection* Collection) {
  // Joins the list now; the collection's virtual Notify waits for AfterConstruction.
  if (Collection) Collection->InsertItem(this, Collection->GetCount());
}

TCollectionItem::~TCollectionItem() {
  if (FCollection) std::erase(FCollection->FItems, this);
}

void TCollectionItem::AfterConstruction() {
  TPersistent::AfterConstruction();
  if (!FCollection) return;
  if (!ClassType()->InheritsFrom(FCollection->FItemClass))
    throw EListError(Format("A %s cannot be an item of a collection of %s",
                            {ClassName(), FCollection->FItemClass->ClassName()}));
  FAnnounced = true;
  FCollection->Notify(this, cnAdded);
  FCollection->Changed();
}

void TCollectionItem::BeforeDestruction() {
  TPersistent::BeforeDestruction();
  SetCollection(nullptr);
}

void TCollectionItem::SetCollection(TCollection* Value) {
  if (Value == FCollection) return;
  if (FCollection) FCollection->RemoveItem(this);
  if (Value) {
    Value->InsertItem(this, Value->GetCount());
    FAnnounced = true;
    Value->Notify(this, cnAdded);
    Value->Changed();
  }
}

int TCollectionItem::GetIndex() const {
  if (!FCollection) return -1;
  const auto& items = FCollection->FItems;
  auto it = std::find(items.begin(), items.end(), this);
  return it == items.end() ? -1 : static_cast<int>(it - items.begin());
}

void TCollectionItem::SetIndex(int Value) {
  if (FCollection) FCollection->Moved(this, Value);
}

TPersistent* TCollectionItem::GetOwner() const { return FCollection; }

std::string TCollectionItem::GetNamePath() const {
  if (!FCollection) return ClassName();
  return Format("%s[%d]", {FCollection->GetNamePath(), GetIndex()});
}

void TCollectionItem::Changed(bool AllItems) {
  if (FCollection && FCollection->FUpdateCount == 0) FCollection->Update(AllItems ? nullptr : this);
}

// ---------------------------------------------------------------------------------------
// TCollection

TCollection::TCollection(const TClass* ItemClass) : FItemClass(ItemClass ? ItemClass : TCollectionItem::StaticClass()) {}

TCollection::~TCollection() {
  // Only items left when the collection was deleted without Free: no virtual hooks now.
  while (!FItems.empty()) {
    TCollectionItem* item = FItems.back();
    FItems.pop_back();
    item->FCollection = nullptr;
    FreeQuietly(item, "TCollection destructor: item");
  }
}

void TCollection::BeforeDestruction() {
  TPersistent::BeforeDestruction();
  // No Update calls while the items go.
  FUpdateCount = 1;
  Clear();
}

void TCollection::InsertItem(TCollectionItem* Item, int Index) {
  Index = std::clamp(Index, 0, GetCount());
  FItems.insert(FItems.begin() + Index, Item);
  Item->FCollection = this;
  Item->FID = FNextID++;
}

void TCollection::RemoveItem(TCollectionItem* Item) {
  if (Item->FAnnounced) Notify(Item, cnExtracting);
  if (!FItems.empty() && FItems.back() == Item) FItems.pop_back();
  else std::erase(FItems, Item);
  Item->FCollection = nullptr;
  Item->FAnnounced = false;
  Changed();
}

void TCollection::Moved(TCollectionItem* Item, int NewIndex) {
  const int current = Item->GetIndex();
  if (current < 0) return;
  NewIndex = std::clamp(NewIndex, 0, GetCount() - 1);
  if (NewIndex == current) return;
  FItems.erase(FItems.begin() + current);
  FItems.insert(FItems.begin() + NewIndex, Item);
  Item->Changed(true);
}

TCollectionItem* TCollection::GetItem(int Index) const {
  if (Index < 0 || Index >= GetCount()) RaiseIndex(Index);
  return FItems[static_cast<size_t>(Index)];
}

void TCollection::SetItem(int Index, TCollectionItem* Value) { GetItem(Index)->Assign(Value); }

TCollectionItem* TCollection::Add() { return FItemClass->CreateAs<TCollectionItem>(this); }

TCollectionItem* TCollection::Insert(int Index) {
  TCollectionItem* item = Add();
  item->SetIndex(Index);
  return item;
}

void TCollection::Delete(int Index) {
  TCollectionItem* item = GetItem(Index);
  Notify(item, cnDeleting);
  Free(item);
}

void TCollection::Clear() {
  if (FItems.empty()) return;
  BeginUpdate();
  std::exception_ptr error;
  while (!FItems.empty()) {
    TCollectionItem* item = FItems.back();
    try {
      Free(item);
    } catch (...) {
      if (!error) error = std::current_exception();
    }
    // Free always deletes and the item leaves the list; this only guards the loop.
    if (!FItems.empty() && FItems.back() == item) FItems.pop_back();
  }
  EndUpdate();
  if (error) std::rethrow_exception(error);
}

void TCollection::ClearAndResetID() {
  Clear();
  FNextID = 0;
}

TCollectionItem* TCollection::FindItemID(int ID) const {
  for (TCollectionItem* item : FItems)
    if (item->FID == ID) return item;
  return nullptr;
}

void TCollection::Exchange(int Index1, int Index2) {
  if (Index1 < 0 || Index1 >= GetCount()) RaiseIndex(Index1);
  if (Index2 < 0 || Index2 >= GetCount()) RaiseIndex(Index2);
  std::swap(FItems[static_cast<size_t>(Index1)], FItems[static_cast<size_t>(Index2)]);
}

void TCollection::EndUpdate() {
  if (FUpdateCount > 0) --FUpdateCount;
  Changed();
}

void TCollection::Changed() {
  if (FUpdateCount == 0) Update(nullptr);
}

void TCollection::Assign(TPersistent* Source) {
  auto* source = dynamic_cast<TCollection*>(Source);
  if (!source) {
    TPersistent::Assign(Source);
    return;
  }
  if (source == this) return;
  BeginUpdate();
  auto end = Finally([&] { EndUpdate(); });
  Clear();
  for (TCollectionItem* item : source->FItems) Add()->Assign(item);
}

std::string TCollection::GetNamePath() const {
  const TPersistent* owner = GetOwner();
  if (!owner) return ClassName();
  const std::string ownerPath = owner->GetNamePath();
  if (ownerPath.empty() || FPropName.empty()) return ClassName();
  return ownerPath + "." + FPropName;
}

// ---------------------------------------------------------------------------------------
// TOwnedCollection

TOwnedCollection::TOwnedCollection(TPersistent* AOwner, const TClass* ItemClass)
    : TCollection(ItemClass), FOwner(AOwner) {}

}  // namespace quorvel
