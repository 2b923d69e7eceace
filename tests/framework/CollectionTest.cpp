// Collections: items made by the item class, notifications and updates, freeing once,
// IDs, moves, Assign.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "framework/classes/Collection.h"

namespace quorvel {
namespace collection_test {

std::vector<std::string> GLog;
int GItemsDestroyed = 0;

class TTagItem : public TCollectionItem {
  FW_CLASS(TTagItem, TCollectionItem)
public:
  using TCollectionItem::TCollectionItem;
  ~TTagItem() override { ++GItemsDestroyed; }
  void AssignTo(TPersistent* Dest) override {
    if (auto* d = dynamic_cast<TTagItem*>(Dest)) d->Tag = Tag;
    else TCollectionItem::AssignTo(Dest);
  }
  std::string GetDisplayName() const override { return Tag; }
  std::string Tag;
};
FW_CLASS_IMPL(TTagItem, "Quorvel.Test.Collections")
FW_CLASS_NO_MEMBERS(TTagItem)

class TLoggingCollection : public TOwnedCollection {
public:
  explicit TLoggingCollection(TPersistent* AOwner = nullptr) : TOwnedCollection(AOwner, TTagItem::StaticClass()) {}

protected:
  void Notify(TCollectionItem* Item, TCollectionNotification Action) override {
    GLog.push_back(EnumToString(Action) + " " + std::to_string(Item->GetID()));
  }
  void Update(TCollectionItem* Item) override { GLog.push_back(Item ? "update " + std::to_string(Item->GetID()) : "update all"); }
};

class CollectionTest : public ::testing::Test {
protected:
  void SetUp() override {
    GLog.clear();
    GItemsDestroyed = 0;
  }
};

TEST_F(CollectionTest, AddInsertDeleteNotifyAndFreeEachItemOnce) {
  auto* c = New<TLoggingCollection>();
  TTagItem* a = c->AddItem<TTagItem>();
  TTagItem* b = c->AddItem<TTagItem>();
  TTagItem* d = c->Insert(0)->As<TTagItem>();
  EXPECT_EQ(c->ItemList(), (std::vector<TCollectionItem*>{d, a, b}));
  EXPECT_EQ(d->GetIndex(), 0);
  EXPECT_EQ((std::vector<int>{a->GetID(), b->GetID(), d->GetID()}), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(c->FindItemID(1), b);
  EXPECT_EQ(GLog, (std::vector<std::string>{"cnAdded 0", "update all", "cnAdded 1", "update all", "cnAdded 2",
                                            "update all", "update all"}));

  GLog.clear();
  c->Delete(1);  // a: announced as deleting, then extracted when it is freed
  EXPECT_EQ(GLog, (std::vector<std::string>{"cnDeleting 0", "cnExtracting 0", "update all"}));
  EXPECT_EQ(GItemsDestroyed, 1);
  // An item freed on its own leaves the collection.
  Free(d);
  EXPECT_EQ(c->ItemList(), (std::vector<TCollectionItem*>{b}));
  EXPECT_EQ(GItemsDestroyed, 2);
  // IDs are never reused.
  EXPECT_EQ(c->Add()->GetID(), 3);
  EXPECT_THROW(c->Delete(5), EListError);
  EXPECT_THROW(c->GetItem(-1), EListError);
  Free(c);
  EXPECT_EQ(GItemsDestroyed, 4);
}

TEST_F(CollectionTest, UpdateBracketCallsUpdateOnceAtTheEnd) {
  TOwned<TLoggingCollection> c(New<TLoggingCollection>());
  c->BeginUpdate();
  c->BeginUpdate();
  for (int i = 0; i < 3; ++i) c->Add();
  c->EndUpdate();
  c->Clear();
  EXPECT_EQ(std::count(GLog.begin(), GLog.end(), "update all"), 0);
  c->EndUpdate();
  EXPECT_EQ(std::count(GLog.begin(), GLog.end(), "update all"), 1);
  EXPECT_EQ(c->Count(), 0);
  EXPECT_EQ(GItemsDestroyed, 3);
  c->ClearAndResetID();
  EXPECT_EQ(c->Add()->GetID(), 0);
}

TEST_F(CollectionTest, ItemsMoveWithinAndBetweenCollections) {
  TOwned<TLoggingCollection> c1(New<TLoggingCollection>()), c2(New<TLoggingCollection>());
  TCollectionItem* a = c1->Add();
  TCollectionItem* b = c1->Add();
  TCollectionItem* d = c1->Add();
  d->SetIndex(0);
  EXPECT_EQ(c1->ItemList(), (std::vector<TCollectionItem*>{d, a, b}));
  c1->Exchange(0, 2);
  EXPECT_EQ(c1->ItemList(), (std::vector<TCollectionItem*>{b, a, d}));
  GLog.clear();
  a->SetCollection(c2.get());
  EXPECT_EQ(a->GetCollection(), c2.get());
  EXPECT_EQ(c1->Count(), 2);
  EXPECT_EQ(c2->GetItem(0), a);
  EXPECT_EQ(GLog.front(), "cnExtracting 0");
  // Freed once, by its new collection.
  c2.reset();
  EXPECT_EQ(GItemsDestroyed, 1);
}

TEST_F(CollectionTest, AssignCopiesItemsThroughTheirAssign) {
  TOwned<TLoggingCollection> source(New<TLoggingCollection>()), dest(New<TLoggingCollection>());
  for (const char* tag : {"x", "y"}) source->AddItem<TTagItem>()->Tag = tag;
  dest->Add();
  GLog.clear();
  dest->Assign(source.get());
  ASSERT_EQ(dest->Count(), 2);
  EXPECT_EQ(dest->Items<TTagItem>(1)->Tag, "y");
  EXPECT_EQ(std::count(GLog.begin(), GLog.end(), "update all"), 1);
  // Items of another class cannot be copied.
  TOwned<TCollection> plain(New<TCollection>());
  plain->Add();
  EXPECT_THROW(dest->Assign(plain.get()), EConvertError);
}

TEST_F(CollectionTest, ItemsOfAnotherClassAreRefused) {
  TOwned<TLoggingCollection> c(New<TLoggingCollection>());
  EXPECT_THROW(New<TCollectionItem>(c.get()), EListError);
  EXPECT_EQ(c->Count(), 0);
}

TEST_F(CollectionTest, OwnerAndNamePath) {
  TOwned<TTagItem> owner(New<TTagItem>(nullptr));
  TLoggingCollection c(owner.get());
  EXPECT_EQ(c.GetOwner(), owner.get());
  c.SetPropName("Tags");
  EXPECT_EQ(c.GetNamePath(), "TTagItem.Tags");
  EXPECT_EQ(c.Add()->GetNamePath(), "TTagItem.Tags[0]");
  EXPECT_EQ(c.Add()->GetDisplayName(), "");
}

}  // namespace collection_test
}  // namespace quorvel
