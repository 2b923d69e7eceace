#pragma once
// The JSON document model: TJSONValue and its kinds, pairs, parsing and text writing.
//
// Behaviour the engine's file formats depend on:
// - An object keeps its pairs in insertion order and may hold one name twice; AddPair always
//   appends and a look-up by name answers the first pair of that name (exact comparison).
// - A number keeps its text: a parsed number holds the source text verbatim, one made from a
//   double holds FloatToStr's 15-digit text, one made from an integer its decimal text. The
//   model never decides integer or float; callers look at the text.
// - TJSONNumber is a kind of TJSONString; TJSONTrue and TJSONFalse are kinds of TJSONBool.
//   Is<T>() and As<T>() go through dynamic_cast, so a test for a base kind matches its
//   descendants. A wrong-kind access raises EInvalidCast.
// - Ownership: an object owns its pairs, a pair its value, an array its elements. Values are
//   created with new and handed over; whatever is removed (RemovePair, Remove) goes back to
//   the caller.
// - Depth: parsing rejects documents nested deeper than JSONMaxDepth with EJSONParseException
//   (or a null result). Freeing, cloning and writing walk the tree without recursion, so a
//   tree built in code may be of any depth.
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "framework/rtl/Exceptions.h"
#include "framework/rtl/Object.h"

namespace quorvel {

// Containers nested deeper than this make a parse fail.
inline constexpr int JSONMaxDepth = 10000;

// " at offset N (line L, column C)": where a parse error stands in `text`, for messages.
std::string JsonPositionText(std::string_view text, size_t offset);

enum class TJSONOutputOptions : uint8_t {
  None = 0,
  // Write every character above 127 as a \u escape (UTF-16 surrogate pairs above U+FFFF),
  // so the text is pure ASCII. Characters below 32 are always escaped.
  EncodeAbove127 = 1,
};

class TJSONValue;
class TJSONObject;
class TJSONArray;

namespace json_detail {
// Memory of nodes and of the pair and element lists: taken from the blocks of the document
// being parsed on this thread, otherwise from the heap. Either is released with ReleaseStorage.
void* AllocateStorage(size_t bytes);
void ReleaseStorage(void* p) noexcept;

// Node memory for a tree built value by value on one thread, as the parser builds its trees:
// while a TScope of the arena lives, the nodes (and lists) made on the thread come from the
// arena's blocks. The nodes may outlive the arena and are freed with delete as any others.
class TNodeArena {
public:
  TNodeArena() noexcept = default;
  ~TNodeArena();
  TNodeArena(const TNodeArena&) = delete;
  TNodeArena& operator=(const TNodeArena&) = delete;

  class TScope {
  public:
    explicit TScope(TNodeArena& arena);
    ~TScope();
    TScope(const TScope&) = delete;
    TScope& operator=(const TScope&) = delete;

  private:
    void* FPrevious;
  };

  // A string node, or a number node of the given text (which must be a JSON number), with its
  // text in the arena's blocks as well.
  TJSONValue* NewString(std::string_view text);
  TJSONValue* NewNumberText(std::string_view text);

private:
  void* Get();
  void* FArena = nullptr;
};

// Lets a parsed container's list live in its document's blocks next to its nodes.
template <class T>
struct TStorageAllocator {
  using value_type = T;
  TStorageAllocator() noexcept = default;
  template <class U>
  TStorageAllocator(const TStorageAllocator<U>&) noexcept {}
  T* allocate(size_t n) {
    if (n > std::numeric_limits<size_t>::max() / sizeof(T)) throw std::bad_array_new_length();
    return static_cast<T*>(AllocateStorage(n * sizeof(T)));
  }
  void deallocate(T* p, size_t) noexcept { ReleaseStorage(p); }
  friend bool operator==(const TStorageAllocator&, const TStorageAllocator&) noexcept { return true; }
};
}  // namespace json_detail

class TJSONValue : public TObject {
public:
  // Kinds of the built-in classes; the writers switch on it instead of casting.
  enum class TKind : uint8_t { Null, Bool, String, Number, Object, Array };

  // Nodes made while parsing live in blocks shared by the document (one allocation per block,
  // not per node); every other node is a heap allocation of its own. Either kind is freed with
  // delete, from any thread; a block is released when its last node is freed (kept for later
  // parses up to a limit, so that a program parsing again does not touch fresh pages).
  static void* operator new(size_t size);
  static void operator delete(void* p) noexcept;

  ~TJSONValue() override = default;

  TKind Kind() const noexcept { return FKind; }
  bool IsNull() const noexcept { return FKind == TKind::Null; }

  // The value as text: a string's content, a number's text, "true"/"false", "null"; empty for
  // an object or an array.
  virtual std::string Value() const { return {}; }

  // Compact JSON text.
  std::string ToJSON(TJSONOutputOptions options = TJSONOutputOptions::None) const;
  std::string ToString() const override { return ToJSON(); }
  // Indented JSON text: one pair or element per line, nested levels indented by Indentation
  // blanks, "name": value with one blank after the colon; empty containers stay "{}", "[]".
  std::string Format(int indentation = 4,
                     TJSONOutputOptions options = TJSONOutputOptions::None) const;
  // Appends the compact text to out (no allocation beyond out's growth).
  void ToJSON(std::string& out, TJSONOutputOptions options = TJSONOutputOptions::None) const;

  // A deep copy that the caller owns.
  TJSONValue* Clone() const;

  template <class T>
  bool Is() const noexcept {
    static_assert(std::is_base_of_v<TJSONValue, T>);
    return dynamic_cast<const T*>(this) != nullptr;
  }
  // This value as T; raises EInvalidCast when it is not a T (or a descendant).
  template <class T>
  T* As() {
    static_assert(std::is_base_of_v<TJSONValue, T>);
    if (auto* p = dynamic_cast<T*>(this)) return p;
    RaiseInvalidCast(this, TypeLabel<T>());
  }
  template <class T>
  const T* As() const {
    return const_cast<TJSONValue*>(this)->As<T>();
  }

  // The value found by a path relative to this one, or nullptr. A path is a list of names
  // separated by "." with array indexes in brackets: "Materials[2].Id"; ["a.b"] quotes a name.
  // The empty path is this value.
  TJSONValue* FindValue(std::string_view path) const;

  // This value converted to T. T is a JSON class pointer (TJSONArray* ...: EInvalidCast when of
  // another kind), std::string (text of a string, number or boolean), bool (a TJSONBool), or
  // an arithmetic type (a TJSONNumber converted by AsInt64/AsDouble; EConvertError when the
  // number does not fit T). Any other kind raises EInvalidCast.
  template <class T>
  T AsType() const;
  // AsType<T> of FindValue(path); a missing value raises EJSONException.
  template <class T>
  T GetValue(std::string_view path) const;
  // Like GetValue<T>, answering false (and leaving out untouched) instead of raising.
  template <class T>
  bool TryGetValue(std::string_view path, T& out) const;

  template <class T>
  static constexpr const char* TypeLabel();
  [[noreturn]] static void RaiseInvalidCast(const TJSONValue* value, const char* wanted);

protected:
  explicit TJSONValue(TKind kind) noexcept : FKind(kind) {}
  // Copies this value without its children (containers come back empty).
  virtual TJSONValue* CloneShallow() const = 0;
  friend class TJSONTreeOps;

private:
  TKind FKind;

protected:
  bool FOwnsText = false;  // TJSONString: the text is a heap block of its own
};

class TJSONNull : public TJSONValue {
public:
  TJSONNull() noexcept : TJSONValue(TKind::Null) {}
  std::string Value() const override { return "null"; }

protected:
  TJSONValue* CloneShallow() const override { return new TJSONNull; }
};

class TJSONBool : public TJSONValue {
public:
  explicit TJSONBool(bool value) noexcept : TJSONValue(TKind::Bool), FValue(value) {}
  bool AsBoolean() const noexcept { return FValue; }
  std::string Value() const override { return FValue ? "true" : "false"; }

protected:
  TJSONValue* CloneShallow() const override { return new TJSONBool(FValue); }

private:
  bool FValue;
};

// The parser makes these two; TJSONBool(b) is a boolean of neither class.
class TJSONTrue : public TJSONBool {
public:
  TJSONTrue() noexcept : TJSONBool(true) {}

protected:
  TJSONValue* CloneShallow() const override { return new TJSONTrue; }
};

class TJSONFalse : public TJSONBool {
public:
  TJSONFalse() noexcept : TJSONBool(false) {}

protected:
  TJSONValue* CloneShallow() const override { return new TJSONFalse; }
};

class TJSONString : public TJSONValue {
public:
  TJSONString() : TJSONValue(TKind::String) {}
  explicit TJSONString(std::string_view value) : TJSONString(TKind::String, value.data(), value.size()) {}
  explicit TJSONString(const std::string& value) : TJSONString(std::string_view(value)) {}
  explicit TJSONString(const char* value) : TJSONString(std::string_view(value ? value : "")) {}
  ~TJSONString() override;

  std::string Value() const override { return std::string(Text()); }
  // The content without a copy; valid while the value lives.
  std::string_view Text() const noexcept {
    if (FSize != kExternal) return {FData, FSize};
    return {ExternalText(), ExternalSize()};
  }

protected:
  // Short texts (most numbers, names, ids) are kept inside the node.
  static constexpr size_t kInlineSize = 20;
  static constexpr uint16_t kExternal = 0xFFFF;
  TJSONString(TKind kind, const char* text, size_t length);
  // Text that lives as long as the node (the parser puts it right behind the node).
  struct TBorrowed {};
  TJSONString(TKind kind, const char* text, size_t length, TBorrowed) noexcept : TJSONValue(kind) {
    SetExternal(text, length);
  }
  TJSONValue* CloneShallow() const override { return new TJSONString(Text()); }
  friend class TJSONNodeFactory;

  void Assign(const char* text, size_t length);
  void SetExternal(const char* text, size_t length) noexcept {
    FSize = kExternal;
    std::memcpy(FData, &text, sizeof text);
    std::memcpy(FData + sizeof text, &length, sizeof length);
  }
  const char* ExternalText() const noexcept {
    const char* p;
    std::memcpy(&p, FData, sizeof p);
    return p;
  }
  size_t ExternalSize() const noexcept {
    size_t n;
    std::memcpy(&n, FData + sizeof(const char*), sizeof n);
    return n;
  }

  // 40 bytes in all: the size sits in the base's tail padding; a longer text's address and
  // length take the place of the inline characters.
  uint16_t FSize = 0;
  char FData[kInlineSize];
};

// A number and its text. AsDouble reads any JSON number ("1e5" gives 100000.0); AsInt64 and
// AsInt read an integer text exactly and a text with fraction or exponent only when its value
// is a whole number in range ("1e5" gives 100000, "2.5" raises). Out of range raises
// EConvertError; the Try forms answer false instead.
class TJSONNumber : public TJSONString {
public:
  // Non-finite doubles have no JSON text: NaN and the infinities raise EConvertError.
  explicit TJSONNumber(double value);
  explicit TJSONNumber(float value) : TJSONNumber(static_cast<double>(value)) {}
  explicit TJSONNumber(int32_t value);
  explicit TJSONNumber(int64_t value);
  explicit TJSONNumber(uint32_t value);
  explicit TJSONNumber(uint64_t value);
  // The text must be a JSON number (EConvertError otherwise); it is kept as given.
  static TJSONNumber* FromText(std::string_view text);
  // Text already known to be a JSON number (the parser's path).
  static TJSONNumber* FromTrustedText(const char* text, size_t length) {
    return new TJSONNumber(text, length);
  }
  std::string_view Text() const noexcept { return TJSONString::Text(); }

  double AsDouble() const;
  int64_t AsInt64() const;
  int32_t AsInt() const;
  bool TryAsDouble(double& value) const noexcept;
  bool TryAsInt64(int64_t& value) const noexcept;
  bool TryAsInt(int32_t& value) const noexcept;

  static bool IsNumberText(std::string_view text) noexcept;

protected:
  TJSONValue* CloneShallow() const override { return new TJSONNumber(Text().data(), Text().size()); }
  friend class TJSONNodeFactory;

private:
  TJSONNumber(const char* text, size_t length) : TJSONString(TKind::Number, text, length) {}
  TJSONNumber(const char* text, size_t length, TBorrowed b) noexcept : TJSONString(TKind::Number, text, length, b) {}
};

// A name and the value it owns.
class TJSONPair : public TObject {
public:
  static void* operator new(size_t size);
  static void operator delete(void* p) noexcept;

  // Takes ownership of value; a null value raises EArgumentNilException.
  TJSONPair(std::string name, TJSONValue* value);
  ~TJSONPair() override;

  const std::string& GetName() const noexcept { return FName; }
  void SetName(std::string name) { FName = std::move(name); }
  TJSONValue* GetJsonValue() const noexcept { return FValue; }
  // Frees the value held so far and takes ownership of value (not null).
  void SetJsonValue(TJSONValue* value);
  // Hands the value to the caller; the pair is left without one and should be freed.
  TJSONValue* DetachJsonValue() noexcept;

private:
  friend class TJSONTreeOps;
  std::string FName;
  TJSONValue* FValue;
};

class TJSONObject : public TJSONValue {
public:
  TJSONObject() : TJSONValue(TKind::Object) {}
  ~TJSONObject() override;

  int Count() const noexcept { return static_cast<int>(FPairs.size()); }
  // The pair at index; EArgumentOutOfRangeException outside 0..Count-1.
  TJSONPair* Pairs(int index) const;
  // The first pair named name, or nullptr.
  TJSONPair* Get(std::string_view name) const noexcept;
  // The value of the first pair named name, or nullptr.
  TJSONValue* GetValue(std::string_view name) const noexcept;
  using TJSONValue::GetValue;

  // Appends (never replaces). Each takes ownership of what it is given and answers this.
  TJSONObject* AddPair(TJSONPair* pair);
  TJSONObject* AddPair(std::string name, TJSONValue* value);
  TJSONObject* AddPair(std::string name, std::string value);
  TJSONObject* AddPair(std::string name, const char* value);
  TJSONObject* AddPair(std::string name, int32_t value);
  TJSONObject* AddPair(std::string name, int64_t value);
  TJSONObject* AddPair(std::string name, double value);
  TJSONObject* AddPair(std::string name, bool value);

  // Takes the first pair named name out of the object and hands it to the caller; nullptr
  // when there is none.
  TJSONPair* RemovePair(std::string_view name);
  void Clear() noexcept;

  auto begin() const noexcept { return FPairs.begin(); }
  auto end() const noexcept { return FPairs.end(); }

  // Parses JSON text (UTF-8; a leading byte-order mark is skipped). On malformed text it
  // answers nullptr, or with raiseExc raises EJSONParseException naming the byte offset,
  // line and column. Text after the value (other than white space) is malformed.
  static TJSONValue* ParseJSONValue(std::string_view text, bool raiseExc = false);

  TJSONObject* Clone() const { return static_cast<TJSONObject*>(TJSONValue::Clone()); }

protected:
  TJSONValue* CloneShallow() const override { return new TJSONObject; }

private:
  friend class TJSONTreeOps;
  std::vector<TJSONPair*, json_detail::TStorageAllocator<TJSONPair*>> FPairs;
};

class TJSONArray : public TJSONValue {
public:
  TJSONArray() : TJSONValue(TKind::Array) {}
  ~TJSONArray() override;

  int Count() const noexcept { return static_cast<int>(FElements.size()); }
  // The element at index; EArgumentOutOfRangeException outside 0..Count-1.
  TJSONValue* Items(int index) const;
  TJSONValue* operator[](int index) const { return Items(index); }

  // Appends; takes ownership (a null value raises EArgumentNilException) and answers this.
  TJSONArray* AddElement(TJSONValue* value);
  TJSONArray* Add(TJSONValue* value) { return AddElement(value); }
  TJSONArray* Add(std::string value);
  TJSONArray* Add(const char* value);
  TJSONArray* Add(int32_t value);
  TJSONArray* Add(int64_t value);
  TJSONArray* Add(double value);
  TJSONArray* Add(bool value);
  void Reserve(size_t count) { FElements.reserve(count); }

  // Takes the element at index out and hands it to the caller (out of range raises).
  TJSONValue* Remove(int index);
  void Clear() noexcept;

  auto begin() const noexcept { return FElements.begin(); }
  auto end() const noexcept { return FElements.end(); }

  TJSONArray* Clone() const { return static_cast<TJSONArray*>(TJSONValue::Clone()); }

protected:
  TJSONValue* CloneShallow() const override { return new TJSONArray; }

private:
  friend class TJSONTreeOps;
  std::vector<TJSONValue*, json_detail::TStorageAllocator<TJSONValue*>> FElements;
};

// Free-standing form of TJSONObject::ParseJSONValue.
inline TJSONValue* ParseJSONValue(std::string_view text, bool raiseExc = false) {
  return TJSONObject::ParseJSONValue(text, raiseExc);
}

// Appends text as a quoted JSON string with escapes (used by the token writer as well).
void AppendJSONString(std::string& out, std::string_view text, bool encodeAbove127);

// ---- templates ----

template <class T>
constexpr const char* TJSONValue::TypeLabel() {
  using U = std::remove_cv_t<std::remove_pointer_t<T>>;
  if constexpr (std::is_same_v<U, TJSONObject>) return "TJSONObject";
  else if constexpr (std::is_same_v<U, TJSONArray>) return "TJSONArray";
  else if constexpr (std::is_same_v<U, TJSONNumber>) return "TJSONNumber";
  else if constexpr (std::is_same_v<U, TJSONString>) return "TJSONString";
  else if constexpr (std::is_same_v<U, TJSONTrue>) return "TJSONTrue";
  else if constexpr (std::is_same_v<U, TJSONFalse>) return "TJSONFalse";
  else if constexpr (std::is_same_v<U, TJSONBool>) return "TJSONBool";
  else if constexpr (std::is_same_v<U, TJSONNull>) return "TJSONNull";
  else if constexpr (std::is_same_v<U, TJSONValue>) return "TJSONValue";
  else if constexpr (std::is_same_v<U, std::string>) return "string";
  else if constexpr (std::is_same_v<U, bool>) return "Boolean";
  else if constexpr (std::is_floating_point_v<U>) return "Double";
  else if constexpr (std::is_integral_v<U>) return "Integer";
  else return "value";
}

namespace json_detail {
[[noreturn]] void RaiseNotFound(std::string_view path);
[[noreturn]] void RaiseNumberRange(std::string_view text, const char* type);
}  // namespace json_detail

template <class T>
T TJSONValue::AsType() const {
  if constexpr (std::is_pointer_v<T>) {
    using U = std::remove_cv_t<std::remove_pointer_t<T>>;
    static_assert(std::is_base_of_v<TJSONValue, U>, "AsType<T*> takes a JSON class");
    return const_cast<U*>(As<U>());
  } else if constexpr (std::is_same_v<T, std::string>) {
    if (FKind == TKind::String || FKind == TKind::Number || FKind == TKind::Bool) return Value();
    RaiseInvalidCast(this, "string");
  } else if constexpr (std::is_same_v<T, bool>) {
    return As<TJSONBool>()->AsBoolean();
  } else if constexpr (std::is_floating_point_v<T>) {
    return static_cast<T>(As<TJSONNumber>()->AsDouble());
  } else if constexpr (std::is_integral_v<T>) {
    const TJSONNumber* n = As<TJSONNumber>();
    if constexpr (std::is_same_v<T, uint64_t>) {
      uint64_t v = 0;
      const std::string_view s = n->Text();
      auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
      if (ec == std::errc() && end == s.data() + s.size()) return v;
      int64_t i = n->AsInt64();
      if (i < 0) json_detail::RaiseNumberRange(s, TypeLabel<T>());
      return static_cast<uint64_t>(i);
    } else {
      int64_t v = n->AsInt64();
      if (v < static_cast<int64_t>(std::numeric_limits<T>::min()) ||
          (v > 0 && static_cast<uint64_t>(v) > static_cast<uint64_t>(std::numeric_limits<T>::max())))
        json_detail::RaiseNumberRange(n->Text(), TypeLabel<T>());
      return static_cast<T>(v);
    }
  } else {
    static_assert(sizeof(T) == 0, "AsType: unsupported target type");
  }
}

template <class T>
T TJSONValue::GetValue(std::string_view path) const {
  const TJSONValue* v = FindValue(path);
  if (!v) json_detail::RaiseNotFound(path);
  return v->AsType<T>();
}

template <class T>
bool TJSONValue::TryGetValue(std::string_view path, T& out) const {
  const TJSONValue* v = FindValue(path);
  if (!v) return false;
  try {
    out = v->AsType<T>();
    return true;
  } catch (const EInvalidCast&) {
    return false;
  } catch (const EConvertError&) {
    return false;
  }
}

}  // namespace quorvel
