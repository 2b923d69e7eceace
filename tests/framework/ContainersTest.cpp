// Containers: ownership (each owned object freed exactly once), notifications, duplicate keys.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "framework/rtl/Containers.h"

namespace quorvel {
namespace containers_test {

struct TCounted : TObject {
  static inline int Alive = 0;
  static inline int Freed = 0;           // through Free (BeforeDestruction ran)
  static inline std::vector<int> Order;  // ids in the order they were destroyed
  explicit TCounted(int id = 0) : Id(id) { ++Alive; }
  ~TCounted() override {
    --Alive;
    Order.push_back(Id);
  }
  void BeforeDestruction() override { ++Freed; }
  int Id;
};

class ContainersTest : public ::testing::Test {
protected:
  void SetUp() override {
    TCounted::Alive = 0;
    TCounted::Freed = 0;
    TCounted::Order.clear();
  }
  void TearDown() override { EXPECT_EQ(TCounted::Alive, 0); }
};

using TLog = std::vector<std::string>;

template <class T>
TCollectionNotifyEvent<T> Logger(TLog& log, std::string prefix = "") {
  return [&log, prefix](TObject*, const T& item, TCollectionNotification action) {
    std::string text;
    if constexpr (std::is_pointer_v<T>)
      text = std::to_string(item->Id);
    else if constexpr (std::is_same_v<T, std::string>)
      text = item;
    else
      text = std::to_string(item);
    log.push_back(prefix + EnumToString(action) + ":" + text);
  };
}

TEST_F(ContainersTest, NotificationOrderHasRemovedLast) {
  EXPECT_EQ(cnRemoved, 5);  // the program cache relies on it being last
  EXPECT_EQ(EnumToString(cnExtracted), "cnExtracted");
}

TEST_F(ContainersTest, ListBasics) {
  TList<int> list;
  TLog log;
  list.OnNotify = Logger<int>(log);
  EXPECT_EQ(list.Add(10), 0);
  EXPECT_EQ(list.Add(20), 1);
  list.Insert(0, 5);
  list.AddRange({30, 20});
  EXPECT_EQ(list.ToArray(), (std::vector<int>{5, 10, 20, 30, 20}));
  EXPECT_EQ(list.IndexOf(20), 2);
  EXPECT_EQ(list.LastIndexOf(20), 4);
  EXPECT_EQ(list.Remove(20), 2);
  EXPECT_EQ(list.Remove(99), -1);
  list.Delete(0);
  EXPECT_EQ(list.Extract(30), 30);
  EXPECT_EQ(list.ToArray(), (std::vector<int>{10, 20}));
  list.SetItem(1, 21);
  EXPECT_EQ(list[1], 21);
  EXPECT_EQ(list.First(), 10);
  EXPECT_EQ(list.Last(), 21);
  EXPECT_THROW(list.Delete(2), EArgumentOutOfRangeException);
  EXPECT_THROW(list[-1], EArgumentOutOfRangeException);
  EXPECT_THROW(list.Insert(3, 0), EArgumentOutOfRangeException);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(log, (TLog{"cnAdded:10", "cnAdded:20", "cnAdded:5", "cnAdded:30", "cnAdded:20",
                       "cnRemoved:20", "cnRemoved:5", "cnExtracted:30", "cnRemoved:20", "cnAdded:21",
                       "cnRemoved:10", "cnRemoved:21"}));
}

TEST_F(ContainersTest, ListOrdering) {
  TList<int> list;
  list.AddRange(std::vector<int>{3, 1, 2});
  list.Sort();
  EXPECT_EQ(list.ToArray(), (std::vector<int>{1, 2, 3}));
  list.Sort([](int a, int b) { return a > b; });
  EXPECT_EQ(list.ToArray(), (std::vector<int>{3, 2, 1}));
  list.Exchange(0, 2);
  EXPECT_EQ(list.ToArray(), (std::vector<int>{1, 2, 3}));
  list.Move(0, 2);
  EXPECT_EQ(list.ToArray(), (std::vector<int>{2, 3, 1}));
  list.Reverse();
  EXPECT_EQ(list.ToArray(), (std::vector<int>{1, 3, 2}));
  list.DeleteRange(0, 2);
  EXPECT_EQ(list.ToArray(), (std::vector<int>{2}));
  int sum = 0;
  for (int v : list) sum += v;
  EXPECT_EQ(sum, 2);
}

TEST_F(ContainersTest, OwningListFreesExactlyOnce) {
  {
    TObjectList<TCounted> list;  // owns by default
    EXPECT_TRUE(list.OwnsObjects());
    auto* a = new TCounted(1);
    auto* b = new TCounted(2);
    auto* c = new TCounted(3);
    auto* d = new TCounted(4);
    auto* e = new TCounted(5);
    for (TCounted* x : {a, b, c, d, e}) list.Add(x);
    list.Remove(a);  // freed
    EXPECT_EQ(TCounted::Alive, 4);
    list.Delete(0);  // b freed
    EXPECT_EQ(TCounted::Alive, 3);
    TCounted* kept = list.Extract(c);  // not freed
    EXPECT_EQ(kept, c);
    EXPECT_EQ(TCounted::Alive, 3);
    Free(kept);
    EXPECT_EQ(TCounted::Alive, 2);
    list.SetItem(0, new TCounted(6));  // d replaced: freed
    EXPECT_EQ(TCounted::Alive, 2);
    list.Clear();  // 6 and e freed
    EXPECT_EQ(TCounted::Alive, 0);
    list.Add(new TCounted(7));
  }  // destruction frees 7
  EXPECT_EQ(TCounted::Order, (std::vector<int>{1, 2, 3, 4, 6, 5, 7}));
  EXPECT_EQ(TCounted::Freed, 7);  // every one through Free (BeforeDestruction)
}

TEST_F(ContainersTest, NonOwningListFreesNothing) {
  TCounted a(1), b(2);
  {
    TObjectList<TCounted> list(false);
    list.Add(&a);
    list.Add(&b);
    list.Remove(&a);
  }
  EXPECT_EQ(TCounted::Alive, 2);
  TObjectList<TCounted> list;
  list.Add(&a);
  list.SetOwnsObjects(false);
  list.Clear();
  EXPECT_EQ(TCounted::Alive, 2);
}

TEST_F(ContainersTest, FreeingAListThroughFreeNotifiesTheHandler) {
  TLog log;
  auto* list = New<TObjectList<TCounted>>();
  list->OnNotify = Logger<TCounted*>(log);
  list->Add(new TCounted(1));
  list->Add(new TCounted(2));
  Free(list);
  EXPECT_EQ(log, (TLog{"cnAdded:1", "cnAdded:2", "cnRemoved:1", "cnRemoved:2"}));
  EXPECT_EQ(TCounted::Alive, 0);
}

// A non-owning list whose handler frees on cnRemoved (as the program cache does).
TEST_F(ContainersTest, HandlerThatFreesOnRemoval) {
  {
    TList<TCounted*> cache;
    cache.OnNotify = [](TObject*, TCounted* const& item, TCollectionNotification action) {
      if (action == cnRemoved) Free(item);
    };
    cache.Add(new TCounted(1));
    cache.Add(new TCounted(2));
    cache.Add(new TCounted(3));
    cache.Remove(cache[1]);
    EXPECT_EQ(TCounted::Alive, 2);
  }  // destruction notifies the rest
  EXPECT_EQ(TCounted::Alive, 0);
}

// An owned object whose BeforeDestruction removes itself again does no harm: it has left the
// list before it is freed.
struct TSelfRemoving : TCounted {
  TObjectList<TSelfRemoving>* Owner = nullptr;
  using TCounted::TCounted;
  void BeforeDestruction() override {
    TCounted::BeforeDestruction();
    if (Owner) Owner->Remove(this);
  }
};

TEST_F(ContainersTest, ReentrantRemovalDuringFree) {
  TObjectList<TSelfRemoving> list;
  for (int i = 0; i < 3; ++i) {
    auto* s = new TSelfRemoving(i);
    s->Owner = &list;
    list.Add(s);
  }
  list.Delete(1);
  EXPECT_EQ(list.Count(), 2);
  list.Clear();
  EXPECT_EQ(TCounted::Freed, 3);
}

TEST_F(ContainersTest, StackAndObjectStack) {
  TStack<int> stack;
  TLog log;
  stack.OnNotify = Logger<int>(log);
  stack.Push(1);
  stack.Push(2);
  EXPECT_EQ(stack.Peek(), 2);
  EXPECT_EQ(stack.Pop(), 2);
  EXPECT_EQ(stack.Extract(), 1);
  EXPECT_THROW(stack.Pop(), EListError);
  EXPECT_THROW(stack.Peek(), EListError);
  EXPECT_EQ(log, (TLog{"cnAdded:1", "cnAdded:2", "cnRemoved:2", "cnExtracted:1"}));

  {
    TObjectStack<TCounted> objects;
    objects.Push(new TCounted(1));
    objects.Push(new TCounted(2));
    objects.Push(new TCounted(3));
    objects.Pop();  // frees 3
    EXPECT_EQ(TCounted::Alive, 2);
    TCounted* top = objects.Extract();  // 2, not freed
    EXPECT_EQ(top->Id, 2);
    Free(top);
    EXPECT_EQ(objects.Peek()->Id, 1);
    EXPECT_EQ(objects.Count(), 1);
  }  // frees 1
  EXPECT_EQ(TCounted::Order, (std::vector<int>{3, 2, 1}));
}

TEST_F(ContainersTest, DictionaryAddSemantics) {
  TDictionary<std::string, int> d;
  TLog keys, values;
  d.OnKeyNotify = Logger<std::string>(keys);
  d.OnValueNotify = Logger<int>(values);
  d.Add("b", 2);
  d.Add("a", 1);
  try {
    d.Add("a", 3);
    FAIL();
  } catch (const EListError& e) {  // EDuplicateKey is an EListError
    EXPECT_NE(dynamic_cast<const EDuplicateKey*>(&e), nullptr);
    EXPECT_STREQ(e.what(), "Duplicates not allowed");
  }
  EXPECT_EQ(d["a"], 1);  // unchanged
  EXPECT_FALSE(d.TryAdd("a", 4));
  EXPECT_TRUE(d.TryAdd("c", 3));
  d.AddOrSetValue("a", 10);
  d.AddOrSetValue("d", 4);
  EXPECT_EQ(d.Items("a"), 10);
  int v = -1;
  EXPECT_TRUE(d.TryGetValue("b", v));
  EXPECT_EQ(v, 2);
  EXPECT_FALSE(d.TryGetValue("zz", v));
  EXPECT_EQ(v, 0);
  EXPECT_TRUE(d.ContainsKey("c"));
  EXPECT_FALSE(d.ContainsKey("C"));  // keys compared exactly
  EXPECT_TRUE(d.ContainsValue(4));
  EXPECT_THROW(d["zz"], EListError);
  EXPECT_THROW(d.SetItem("zz", 1), EListError);
  d.SetItem("c", 30);
  // Insertion order.
  EXPECT_EQ(d.Keys(), (std::vector<std::string>{"b", "a", "c", "d"}));
  EXPECT_EQ(d.Values(), (std::vector<int>{2, 10, 30, 4}));
  std::string walked;
  for (const auto& pair : d) walked += pair.Key + "=" + std::to_string(pair.Value) + ";";
  EXPECT_EQ(walked, "b=2;a=10;c=30;d=4;");
  d.Remove("a");
  d.Remove("zz");  // absent: nothing
  auto pair = d.ExtractPair("b");
  EXPECT_EQ(pair.Key, "b");
  EXPECT_EQ(pair.Value, 2);
  d.Clear();
  EXPECT_EQ(d.Count(), 0);
  EXPECT_EQ(keys, (TLog{"cnAdded:b", "cnAdded:a", "cnAdded:c", "cnAdded:d", "cnRemoved:a",
                        "cnExtracted:b", "cnRemoved:c", "cnRemoved:d"}));
  EXPECT_EQ(values, (TLog{"cnAdded:2", "cnAdded:1", "cnAdded:3", "cnRemoved:1", "cnAdded:10",
                          "cnAdded:4", "cnRemoved:3", "cnAdded:30", "cnRemoved:10", "cnExtracted:2",
                          "cnRemoved:30", "cnRemoved:4"}));
}

TEST_F(ContainersTest, CaseInsensitiveKeys) {
  TDictionary<std::string, int, TTextHash, TTextEqual> d;
  d.Add("Name", 1);
  EXPECT_TRUE(d.ContainsKey("NAME"));
  EXPECT_THROW(d.Add("name", 2), EDuplicateKey);
}

TEST_F(ContainersTest, ObjectDictionaryOwningValues) {
  TLog values;
  {
    TObjectDictionary<std::string, TCounted*> d({doOwnsValues});
    d.OnValueNotify = Logger<TCounted*>(values);
    d.Add("a", new TCounted(1));
    d.Add("b", new TCounted(2));
    auto* dup = new TCounted(3);
    EXPECT_THROW(d.Add("a", dup), EDuplicateKey);  // not taken: the caller still owns it
    Free(dup);
    d.AddOrSetValue("a", new TCounted(4));  // frees 1
    EXPECT_EQ(TCounted::Alive, 2);
    TCounted* same = d["a"];
    d.AddOrSetValue("a", same);  // the same object: kept, not freed
    EXPECT_EQ(TCounted::Alive, 2);
    d.Remove("b");  // frees 2
    EXPECT_EQ(TCounted::Alive, 1);
    auto pair = d.ExtractPair("a");  // 4 handed back
    EXPECT_EQ(TCounted::Alive, 1);
    Free(pair.Value);
    d.Add("c", new TCounted(5));
  }  // frees 5
  EXPECT_EQ(TCounted::Order, (std::vector<int>{3, 1, 2, 4, 5}));
  EXPECT_EQ(values, (TLog{"cnAdded:1", "cnAdded:2", "cnRemoved:1", "cnAdded:4", "cnRemoved:2",
                          "cnExtracted:4", "cnAdded:5", "cnRemoved:5"}));
}

TEST_F(ContainersTest, ObjectDictionaryOwningKeysAndValues) {
  {
    TObjectDictionary<TCounted*, TCounted*> d({doOwnsKeys, doOwnsValues});
    auto* k1 = new TCounted(1);
    d.Add(k1, new TCounted(2));
    d.Add(new TCounted(3), new TCounted(4));
    d.Remove(k1);  // frees key 1 and value 2
    EXPECT_EQ(TCounted::Alive, 2);
    EXPECT_EQ(d.Ownerships(), (TDictionaryOwnerships{doOwnsKeys, doOwnsValues}));
  }
  EXPECT_EQ(TCounted::Order, (std::vector<int>{1, 2, 3, 4}));
  EXPECT_THROW((TObjectDictionary<std::string, TCounted*>({doOwnsKeys})), EArgumentException);
}

TEST_F(ContainersTest, FreeingADictionaryThroughFreeRunsTheOwningOverrides) {
  auto* d = New<TObjectDictionary<int, TCounted*>>(TDictionaryOwnerships{doOwnsValues});
  d->Add(1, new TCounted(1));
  d->Add(2, new TCounted(2));
  Free(d);
  EXPECT_EQ(TCounted::Alive, 0);
  EXPECT_EQ(TCounted::Freed, 2);
}

// A handler that raises while the container is destroyed must not terminate the program.
TEST_F(ContainersTest, DestructorSwallowsHandlerExceptions) {
  auto list = std::make_unique<TList<int>>();
  list->Add(1);
  list->OnNotify = [](TObject*, const int&, TCollectionNotification) { throw EAbort("in handler"); };
  EXPECT_NO_THROW(list.reset());
}

}  // namespace containers_test
}  // namespace quorvel
