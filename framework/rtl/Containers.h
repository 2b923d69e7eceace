#pragma once
// Generic containers with the run-time's ownership and notification semantics:
// TList, TObjectList, TStack, TObjectStack, TDictionary, TObjectDictionary.
//
// - Every change calls the virtual Notify / KeyNotify / ValueNotify, which call the OnNotify /
//   OnKeyNotify / OnValueNotify handlers: cnAdded when an item enters, cnRemoved when it is
//   removed or deleted (also by Clear, replacement and destruction), cnExtracted when it is
//   taken out (Extract, ExtractPair) and handed back to the caller.
// - The owning variants free an item on cnRemoved (after the handler ran), never on
//   cnExtracted. The item has already left the container when it is notified or freed, so a
//   handler or a BeforeDestruction may touch the container again.
// - Adding a key that is present raises EDuplicateKey ("Duplicates not allowed", an
//   EListError); reading a missing key raises EListError ("Item not found").
// - Dictionaries enumerate in insertion order.
// - Destruction notifies cnRemoved for what is left. Through Free() the most-derived Notify
//   runs (BeforeDestruction clears); a C++ destructor reaches only the overrides of this
//   header (the owning classes clear in their own destructors), so a subclass with its own
//   Notify override that must see those removals clears in its own destructor.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <list>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "framework/rtl/Enum.h"
#include "framework/rtl/Exceptions.h"
#include "framework/rtl/Object.h"
#include "framework/rtl/Set.h"

namespace quorvel {

// The run-time's order: cnRemoved is the last value (the program cache relies on it).
enum TCollectionNotification : uint8_t { cnAdding, cnAdded, cnExtracting, cnExtracted, cnDeleting, cnRemoved };
FW_ENUM(TCollectionNotification, cnAdding, cnAdded, cnExtracting, cnExtracted, cnDeleting, cnRemoved)

template <class T>
using TCollectionNotifyEvent = std::function<void(TObject* sender, const T& item, TCollectionNotification action)>;

namespace containers_detail {
[[noreturn]] void RaiseOutOfRange();
[[noreturn]] void RaiseDuplicateKey();
[[noreturn]] void RaiseItemNotFound();
// Runs a destructor's clean-up; an exception there cannot leave a destructor.
void SwallowInDestructor(const std::function<void()>& cleanup) noexcept;

template <class T>
void FreeItem(const T& item) {
  if constexpr (value_detail::ObjectPointer<T>) {
    Free(const_cast<std::remove_cv_t<std::remove_pointer_t<T>>*>(item));
  }
}
}  // namespace containers_detail

// ASCII case-insensitive hashing and equality for string keys (for code that compares names
// case-insensitively).
struct TTextHash {
  size_t operator()(std::string_view s) const noexcept;
};
struct TTextEqual {
  bool operator()(std::string_view a, std::string_view b) const;
};

// ---------------------------------------------------------------------------------------
template <class T>
class TList : public TObject {
public:
  using value_type = T;
  using const_iterator = typename std::vector<T>::const_iterator;

  TList() = default;
  ~TList() override {
    containers_detail::SwallowInDestructor([this] { ClearWith(&TList::NotifyHandlerOnly); });
  }
  void BeforeDestruction() override { Clear(); }

  TCollectionNotifyEvent<T> OnNotify;

  int Count() const { return static_cast<int>(FItems.size()); }
  bool IsEmpty() const { return FItems.empty(); }
  int Capacity() const { return static_cast<int>(FItems.capacity()); }
  void SetCapacity(int n) { FItems.reserve(static_cast<size_t>(n)); }

  const T& operator[](int index) const { return FItems[CheckIndex(index)]; }
  const T& Items(int index) const { return FItems[CheckIndex(index)]; }
  // Items[i] := v: the old item is removed (notified), the new one added.
  void SetItem(int index, T item) {
    T old = std::move(FItems[CheckIndex(index)]);
    FItems[size_t(index)] = item;
    Notify(old, cnRemoved);
    Notify(item, cnAdded);
  }
  const T& First() const { return Items(0); }
  const T& Last() const { return Items(Count() - 1); }

  int Add(T item) {
    FItems.push_back(item);
    Notify(item, cnAdded);
    return Count() - 1;
  }
  void AddRange(std::initializer_list<T> items) {
    for (const T& i : items) Add(i);
  }
  template <class Range>
  void AddRange(const Range& items) {
    for (const auto& i : items) Add(i);
  }
  void Insert(int index, T item) {
    if (index < 0 || index > Count()) containers_detail::RaiseOutOfRange();
    FItems.insert(FItems.begin() + index, item);
    Notify(item, cnAdded);
  }

  int IndexOf(const T& item) const {
    auto it = std::find(FItems.begin(), FItems.end(), item);
    return it == FItems.end() ? -1 : static_cast<int>(it - FItems.begin());
  }
  int LastIndexOf(const T& item) const {
    for (int i = Count() - 1; i >= 0; --i)
      if (FItems[size_t(i)] == item) return i;
    return -1;
  }
  bool Contains(const T& item) const { return IndexOf(item) >= 0; }

  // Removes the first occurrence; answers its former index or -1.
  int Remove(const T& item) {
    const int i = IndexOf(item);
    if (i >= 0) Delete(i);
    return i;
  }
  void Delete(int index) {
    T item = std::move(FItems[CheckIndex(index)]);
    FItems.erase(FItems.begin() + index);
    Notify(item, cnRemoved);
  }
  void DeleteRange(int index, int count) {
    if (index < 0 || count < 0 || index + count > Count()) containers_detail::RaiseOutOfRange();
    std::vector<T> gone(std::make_move_iterator(FItems.begin() + index),
                        std::make_move_iterator(FItems.begin() + index + count));
    FItems.erase(FItems.begin() + index, FItems.begin() + index + count);
    for (const T& item : gone) Notify(item, cnRemoved);
  }
  // Takes the first occurrence out without freeing it; T{} when absent.
  T Extract(const T& item) {
    const int i = IndexOf(item);
    return i < 0 ? T{} : ExtractAt(i);
  }
  T ExtractAt(int index) {
    T item = std::move(FItems[CheckIndex(index)]);
    FItems.erase(FItems.begin() + index);
    Notify(item, cnExtracted);
    return item;
  }
  void Clear() { ClearWith(&TList::Notify); }

  void Exchange(int a, int b) { std::swap(FItems[CheckIndex(a)], FItems[CheckIndex(b)]); }
  void Move(int from, int to) {
    T item = std::move(FItems[CheckIndex(from)]);
    FItems.erase(FItems.begin() + from);
    CheckIndex(to, Count() + 1);
    FItems.insert(FItems.begin() + to, std::move(item));
  }
  void Reverse() { std::reverse(FItems.begin(), FItems.end()); }
  // Stable, with a "less than" predicate.
  template <class Less = std::less<T>>
  void Sort(Less less = Less()) {
    std::stable_sort(FItems.begin(), FItems.end(), less);
  }

  std::vector<T> ToArray() const { return FItems; }
  const std::vector<T>& List() const { return FItems; }
  const_iterator begin() const { return FItems.begin(); }
  const_iterator end() const { return FItems.end(); }

protected:
  virtual void Notify(const T& item, TCollectionNotification action) { NotifyHandlerOnly(item, action); }
  void NotifyHandlerOnly(const T& item, TCollectionNotification action) {
    if (OnNotify) OnNotify(this, item, action);
  }

private:
  size_t CheckIndex(int index, int limit = -1) const {
    if (limit < 0) limit = Count();
    if (index < 0 || index >= limit) containers_detail::RaiseOutOfRange();
    return static_cast<size_t>(index);
  }
  void ClearWith(void (TList::*notify)(const T&, TCollectionNotification)) {
    std::vector<T> gone;
    gone.swap(FItems);
    for (const T& item : gone) (this->*notify)(item, cnRemoved);
  }

  std::vector<T> FItems;
};

// A list of objects that frees them on removal while OwnsObjects (the default).
template <class T>
class TObjectList : public TList<T*> {
public:
  explicit TObjectList(bool ownsObjects = true) : FOwnsObjects(ownsObjects) {}
  ~TObjectList() override {
    containers_detail::SwallowInDestructor([this] { this->Clear(); });
  }

  bool OwnsObjects() const { return FOwnsObjects; }
  void SetOwnsObjects(bool value) { FOwnsObjects = value; }

protected:
  void Notify(T* const& item, TCollectionNotification action) override {
    TList<T*>::Notify(item, action);
    if (FOwnsObjects && action == cnRemoved) containers_detail::FreeItem<T*>(item);
  }

private:
  bool FOwnsObjects;
};

// ---------------------------------------------------------------------------------------
template <class T>
class TStack : public TObject {
public:
  TStack() = default;
  ~TStack() override {
    containers_detail::SwallowInDestructor([this] { ClearWith(&TStack::NotifyHandlerOnly); });
  }
  void BeforeDestruction() override { Clear(); }

  TCollectionNotifyEvent<T> OnNotify;

  int Count() const { return static_cast<int>(FItems.size()); }
  bool IsEmpty() const { return FItems.empty(); }
  void Push(T item) {
    FItems.push_back(item);
    Notify(item, cnAdded);
  }
  // Removes the top item (notified cnRemoved) and answers it. An empty stack raises
  // EListError ("Stack is empty").
  T Pop() {
    T item = TakeTop();
    Notify(item, cnRemoved);
    return item;
  }
  const T& Peek() const {
    if (FItems.empty()) RaiseEmpty();
    return FItems.back();
  }
  // Takes the top item out (cnExtracted).
  T Extract() {
    T item = TakeTop();
    Notify(item, cnExtracted);
    return item;
  }
  void Clear() { ClearWith(&TStack::Notify); }
  std::vector<T> ToArray() const { return FItems; }  // bottom first

protected:
  virtual void Notify(const T& item, TCollectionNotification action) { NotifyHandlerOnly(item, action); }
  void NotifyHandlerOnly(const T& item, TCollectionNotification action) {
    if (OnNotify) OnNotify(this, item, action);
  }
  T TakeTop() {
    if (FItems.empty()) RaiseEmpty();
    T item = std::move(FItems.back());
    FItems.pop_back();
    return item;
  }

private:
  [[noreturn]] static void RaiseEmpty() { throw EListError("Stack is empty"); }
  void ClearWith(void (TStack::*notify)(const T&, TCollectionNotification)) {
    std::vector<T> gone;
    gone.swap(FItems);
    for (auto it = gone.rbegin(); it != gone.rend(); ++it) (this->*notify)(*it, cnRemoved);
  }

  std::vector<T> FItems;
};

// A stack of objects: Pop frees the top object while OwnsObjects (as the run-time's
// TObjectStack.Pop, a procedure); Extract hands it back without freeing.
template <class T>
class TObjectStack : public TStack<T*> {
public:
  explicit TObjectStack(bool ownsObjects = true) : FOwnsObjects(ownsObjects) {}
  ~TObjectStack() override {
    containers_detail::SwallowInDestructor([this] { this->Clear(); });
  }
  bool OwnsObjects() const { return FOwnsObjects; }
  void SetOwnsObjects(bool value) { FOwnsObjects = value; }

  void Pop() { TStack<T*>::Pop(); }

protected:
  void Notify(T* const& item, TCollectionNotification action) override {
    TStack<T*>::Notify(item, action);
    if (FOwnsObjects && action == cnRemoved) containers_detail::FreeItem<T*>(item);
  }

private:
  bool FOwnsObjects;
};

// ---------------------------------------------------------------------------------------
template <class K, class V, class Hash = std::hash<K>, class KeyEqual = std::equal_to<K>>
class TDictionary : public TObject {
public:
  struct TPair {
    K Key;
    V Value;
  };
  using const_iterator = typename std::list<TPair>::const_iterator;

  TDictionary() = default;
  ~TDictionary() override {
    containers_detail::SwallowInDestructor(
        [this] { ClearWith(&TDictionary::KeyHandlerOnly, &TDictionary::ValueHandlerOnly); });
  }
  void BeforeDestruction() override { Clear(); }

  TCollectionNotifyEvent<K> OnKeyNotify;
  TCollectionNotifyEvent<V> OnValueNotify;

  int Count() const { return static_cast<int>(FItems.size()); }
  bool IsEmpty() const { return FItems.empty(); }

  // EDuplicateKey when the key is present.
  void Add(const K& key, const V& value) {
    if (FIndex.count(key)) containers_detail::RaiseDuplicateKey();
    Insert(key, value);
  }
  bool TryAdd(const K& key, const V& value) {
    if (FIndex.count(key)) return false;
    Insert(key, value);
    return true;
  }
  // Adds, or replaces the value of a present key (the old value notified cnRemoved, the new
  // one cnAdded; replacing an object by the same object notifies nothing, so an owning
  // dictionary does not free what it keeps).
  void AddOrSetValue(const K& key, const V& value) {
    auto it = FIndex.find(key);
    if (it == FIndex.end()) return Insert(key, value);
    Replace(it->second, value);
  }
  // Items[key] := value: EListError "Item not found" for a missing key.
  void SetItem(const K& key, const V& value) {
    auto it = FIndex.find(key);
    if (it == FIndex.end()) containers_detail::RaiseItemNotFound();
    Replace(it->second, value);
  }
  // EListError "Item not found" for a missing key.
  const V& operator[](const K& key) const { return Items(key); }
  const V& Items(const K& key) const {
    auto it = FIndex.find(key);
    if (it == FIndex.end()) containers_detail::RaiseItemNotFound();
    return it->second->Value;
  }
  // False (and value = V{}) for a missing key.
  bool TryGetValue(const K& key, V& value) const {
    auto it = FIndex.find(key);
    if (it == FIndex.end()) {
      value = V{};
      return false;
    }
    value = it->second->Value;
    return true;
  }
  bool ContainsKey(const K& key) const { return FIndex.count(key) != 0; }
  bool ContainsValue(const V& value) const {
    return std::any_of(FItems.begin(), FItems.end(), [&](const TPair& p) { return p.Value == value; });
  }

  // Removes a present key: key and value notified cnRemoved (owning dictionaries free them).
  void Remove(const K& key) {
    auto it = FIndex.find(key);
    if (it == FIndex.end()) return;
    TPair pair = std::move(*it->second);
    FItems.erase(it->second);
    FIndex.erase(it);
    KeyNotify(pair.Key, cnRemoved);
    ValueNotify(pair.Value, cnRemoved);
  }
  // Takes a pair out (cnExtracted) without freeing; {key, V{}} for a missing key.
  TPair ExtractPair(const K& key) {
    auto it = FIndex.find(key);
    if (it == FIndex.end()) return TPair{key, V{}};
    TPair pair = std::move(*it->second);
    FItems.erase(it->second);
    FIndex.erase(it);
    KeyNotify(pair.Key, cnExtracted);
    ValueNotify(pair.Value, cnExtracted);
    return pair;
  }
  void Clear() { ClearWith(&TDictionary::KeyNotify, &TDictionary::ValueNotify); }

  std::vector<K> Keys() const {
    std::vector<K> keys;
    keys.reserve(FItems.size());
    for (const TPair& p : FItems) keys.push_back(p.Key);
    return keys;
  }
  std::vector<V> Values() const {
    std::vector<V> values;
    values.reserve(FItems.size());
    for (const TPair& p : FItems) values.push_back(p.Value);
    return values;
  }
  std::vector<TPair> ToArray() const { return std::vector<TPair>(FItems.begin(), FItems.end()); }
  // Insertion order.
  const_iterator begin() const { return FItems.begin(); }
  const_iterator end() const { return FItems.end(); }

protected:
  virtual void KeyNotify(const K& key, TCollectionNotification action) { KeyHandlerOnly(key, action); }
  virtual void ValueNotify(const V& value, TCollectionNotification action) { ValueHandlerOnly(value, action); }
  void KeyHandlerOnly(const K& key, TCollectionNotification action) {
    if (OnKeyNotify) OnKeyNotify(this, key, action);
  }
  void ValueHandlerOnly(const V& value, TCollectionNotification action) {
    if (OnValueNotify) OnValueNotify(this, value, action);
  }

private:
  using TItemIt = typename std::list<TPair>::iterator;

  void Insert(const K& key, const V& value) {
    FItems.push_back(TPair{key, value});
    FIndex.emplace(key, std::prev(FItems.end()));
    KeyNotify(key, cnAdded);
    ValueNotify(value, cnAdded);
  }
  void Replace(TItemIt item, const V& value) {
    if constexpr (std::is_pointer_v<V>) {
      if (item->Value == value) return;  // would free the value it keeps
    }
    V old = std::move(item->Value);
    item->Value = value;
    ValueNotify(old, cnRemoved);
    ValueNotify(value, cnAdded);
  }
  void ClearWith(void (TDictionary::*keyNotify)(const K&, TCollectionNotification),
                 void (TDictionary::*valueNotify)(const V&, TCollectionNotification)) {
    std::list<TPair> gone;
    gone.swap(FItems);
    FIndex.clear();
    for (const TPair& p : gone) {
      (this->*keyNotify)(p.Key, cnRemoved);
      (this->*valueNotify)(p.Value, cnRemoved);
    }
  }

  std::list<TPair> FItems;
  std::unordered_map<K, TItemIt, Hash, KeyEqual> FIndex;
};

enum TDictionaryOwnership : uint8_t { doOwnsKeys, doOwnsValues };
FW_ENUM(TDictionaryOwnership, doOwnsKeys, doOwnsValues)
using TDictionaryOwnerships = TSet<TDictionaryOwnership>;

// A dictionary that frees its keys and/or values (pointers to objects) on cnRemoved.
template <class K, class V, class Hash = std::hash<K>, class KeyEqual = std::equal_to<K>>
class TObjectDictionary : public TDictionary<K, V, Hash, KeyEqual> {
  using Base = TDictionary<K, V, Hash, KeyEqual>;

public:
  explicit TObjectDictionary(TDictionaryOwnerships ownerships) : FOwnerships(ownerships) {
    if (ownerships.Contains(doOwnsKeys) && !value_detail::ObjectPointer<K>)
      throw EArgumentException("TObjectDictionary: keys are not objects");
    if (ownerships.Contains(doOwnsValues) && !value_detail::ObjectPointer<V>)
      throw EArgumentException("TObjectDictionary: values are not objects");
  }
  ~TObjectDictionary() override {
    containers_detail::SwallowInDestructor([this] { this->Clear(); });
  }
  TDictionaryOwnerships Ownerships() const { return FOwnerships; }

protected:
  void KeyNotify(const K& key, TCollectionNotification action) override {
    Base::KeyNotify(key, action);
    if (action == cnRemoved && FOwnerships.Contains(doOwnsKeys)) containers_detail::FreeItem<K>(key);
  }
  void ValueNotify(const V& value, TCollectionNotification action) override {
    Base::ValueNotify(value, action);
    if (action == cnRemoved && FOwnerships.Contains(doOwnsValues)) containers_detail::FreeItem<V>(value);
  }

private:
  TDictionaryOwnerships FOwnerships;
};

}  // namespace quorvel
