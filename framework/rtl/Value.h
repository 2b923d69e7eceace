#pragma once
// TValue: the run-time's typed value holder: empty; ordinals (Integer,
// Cardinal, Int64, chars, Boolean, enumerations with their names); floats with TDateTime
// distinct; strings; records identified by their type names (TypeName.h); sets; objects;
// class references; arrays. Conversions follow the run-time's TValue rules:
//
//   from \ read as | integer | float | string            | Boolean | enum   | object
//   integer        | yes     | yes   | decimal digits    | <> 0    | by ord | -
//   float          | -       | yes   | FloatToStr (1)    | -       | -      | -
//   Boolean / enum | -       | -     | name ("True")     | Boolean | same   | -
//   char           | -       | -     | the character     | -       | -      | -
//   string         | -       | -     | yes               | -       | -      | -
//   object         | -       | -     | -                 | -       | -      | if it inherits
//   empty          | 0       | 0.0   | ""                | False   | 0      | nullptr
//
// (1) a TDateTime reads as DateTimeToStr.
// An enumeration named with QUORVEL_TYPE_NAME but without FW_ENUM (TAlphaColor) is an integer
// kind with its own type name, as the run-time's "type Cardinal" types.
// "-" raises EInvalidCast ("Invalid class typecast"); records, sets and arrays read only as
// their own type. AsOrdinal reads integers, chars, Booleans and enumerations.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>
#include <vector>

#include "framework/rtl/DateTime.h"
#include "framework/rtl/Enum.h"
#include "framework/rtl/Exceptions.h"
#include "framework/rtl/Set.h"
#include "framework/rtl/TypeName.h"

namespace quorvel {

class TObject;
class TClass;
class TValue;

// The run-time's type kinds. std::string values report tkString (there is one string type).
enum TTypeKind : uint8_t {
  tkUnknown,
  tkInteger,
  tkChar,
  tkEnumeration,
  tkFloat,
  tkString,
  tkSet,
  tkClass,
  tkMethod,
  tkWChar,
  tkVariant,
  tkArray,
  tkRecord,
  tkInterface,
  tkInt64,
  tkDynArray,
  tkClassRef,
  tkPointer,
  tkProcedure,
};
const char* TypeKindName(TTypeKind kind);  // "tkInteger", ...

// Describes the C++ type held by a TValue; one instance per type (ValueTypeOf<T>()).
struct TValueTypeInfo {
  TTypeKind Kind = tkUnknown;
  std::string Name;                       // "Integer", "TPoint3D", "TDateTime", ...
  const std::type_info* Type = nullptr;
  const TEnumInfo* Enum = nullptr;        // enumerations with FW_ENUM names
  bool IsBoolean = false;
  bool IsDateTime = false;
  bool IsUnsigned = false;
  const TClass* (*StaticClass)() = nullptr;  // tkClass: the declared class
  // Values kept in the holder (strings, records, sets, arrays):
  std::string (*ToStringFn)(const void*) = nullptr;
  size_t (*LengthFn)(const void*) = nullptr;
  TValue (*ElementFn)(const void*, size_t) = nullptr;
  // Enumerations with names and sets of them: the value of an identifier / "[A,B]" text, as
  // form streaming reads it (EConvertError for an unknown name).
  TValue (*FromTextFn)(std::string_view) = nullptr;
};

namespace value_detail {
std::string Demangle(const char* mangledName);
[[noreturn]] void RaiseInvalidCast();

template <class T> inline constexpr bool IsStdVector = false;
template <class T, class A> inline constexpr bool IsStdVector<std::vector<T, A>> = true;
template <class T> inline constexpr bool IsStdArray = false;
template <class T, size_t N> inline constexpr bool IsStdArray<std::array<T, N>> = true;

template <class T>
concept ObjectPointer = std::is_pointer_v<T> && std::is_class_v<std::remove_pointer_t<T>> &&
                        std::is_base_of_v<TObject, std::remove_cv_t<std::remove_pointer_t<T>>>;
template <class T>
concept ClassPointer = std::is_pointer_v<T> && std::is_class_v<std::remove_pointer_t<T>> &&
                       std::is_base_of_v<TClass, std::remove_cv_t<std::remove_pointer_t<T>>>;
template <class T>
concept CharType = std::is_same_v<T, char> || std::is_same_v<T, char16_t> ||
                   std::is_same_v<T, char32_t> || std::is_same_v<T, wchar_t> ||
                   std::is_same_v<T, char8_t>;
template <class T>
concept IntegerType = std::is_integral_v<T> && !std::is_same_v<T, bool> && !CharType<T>;
template <class T>
concept StringLike = std::is_same_v<T, std::string> || std::is_same_v<T, std::string_view> ||
                     std::is_same_v<T, const char*> || std::is_same_v<T, char*>;

// An enumeration named with QUORVEL_TYPE_NAME but without FW_ENUM names is a distinct
// integer type (TAlphaColor = enum class : uint32_t): it holds as an integer of that name.
template <class T>
concept DistinctInteger = std::is_enum_v<T> && HasTypeName<T> && !HasEnumNames<T>;

template <class T>
constexpr TTypeKind KindOf() {
  if constexpr (DistinctInteger<T>) return sizeof(T) <= 4 ? tkInteger : tkInt64;
  else if constexpr (std::is_same_v<T, bool> || std::is_enum_v<T>) return tkEnumeration;
  else if constexpr (std::is_same_v<T, char> || std::is_same_v<T, char8_t>) return tkChar;
  else if constexpr (CharType<T>) return tkWChar;
  else if constexpr (IntegerType<T>) return sizeof(T) <= 4 ? tkInteger : tkInt64;
  else if constexpr (std::is_floating_point_v<T> || std::is_same_v<T, TDateTime>) return tkFloat;
  else if constexpr (StringLike<T>) return tkString;
  else if constexpr (std::is_same_v<T, std::nullptr_t> || ObjectPointer<T>) return tkClass;
  else if constexpr (ClassPointer<T>) return tkClassRef;
  else if constexpr (std::is_pointer_v<T>) return tkPointer;
  else if constexpr (IsTSet<T>) return tkSet;
  else if constexpr (IsStdVector<T>) return tkDynArray;
  else if constexpr (IsStdArray<T> || std::is_array_v<T>) return tkArray;
  else return tkRecord;
}

template <class T>
std::string NameOf() {
  if constexpr (HasTypeName<T>) return TypeNameOf<T>();
  else if constexpr (std::is_same_v<T, std::nullptr_t>) return "TObject";
  else if constexpr (ObjectPointer<T>) return "";  // the declared class's name, at run time
  else if constexpr (IsTSet<T>) return "set of " + NameOf<typename T::TElement>();
  else if constexpr (IsStdVector<T>) return "TArray<" + NameOf<typename T::value_type>() + ">";
  else if constexpr (IsStdArray<T>)
    return "array[0.." + std::to_string(std::tuple_size_v<T> - 1) + "] of " +
           NameOf<typename T::value_type>();
  else if constexpr (std::is_same_v<T, long long>) return "Int64";
  else if constexpr (std::is_same_v<T, unsigned long long>) return "UInt64";
  else return Demangle(typeid(T).name());
}

template <class T>
const TValueTypeInfo* MakeInfo();
}  // namespace value_detail

// The descriptor of T (T without cv/ref qualifiers).
template <class T>
const TValueTypeInfo* ValueTypeOf() {
  static const TValueTypeInfo* info = value_detail::MakeInfo<T>();
  return info;
}

class TValue {
public:
  TValue() = default;
  // Implicit from any value (as the run-time's implicit TValue operators): TValue v = 5;
  template <class T>
    requires(!std::is_same_v<std::remove_cvref_t<T>, TValue>)
  TValue(const T& v) : TValue(From(v)) {}
  TValue(const char* s) : TValue(From(std::string(s ? s : ""))) {}

  static TValue Empty() { return TValue(); }

  template <class T>
  static TValue From(const T& v);
  // An ordinal of an enumeration type given by its descriptor (e.g. from streaming).
  static TValue FromOrdinal(const TValueTypeInfo* type, int64_t ordinal);
  // A dynamic array of values (TArray<TValue>).
  static TValue FromArray(std::vector<TValue> elements);

  // Empty: no value, or a nil object (as the run-time's IsEmpty).
  bool IsEmpty() const;
  TTypeKind Kind() const { return FType ? FType->Kind : tkUnknown; }
  const TValueTypeInfo* TypeInfo() const { return FType; }
  // The held type's name ("" when empty); objects report their declared class.
  std::string TypeName() const;
  bool IsObject() const { return Kind() == tkClass; }
  bool IsOrdinal() const;
  bool IsArray() const { return Kind() == tkArray || Kind() == tkDynArray; }
  bool IsBoolean() const { return FType && FType->IsBoolean; }
  bool IsDateTime() const { return FType && FType->IsDateTime; }

  // Whether the value reads as T under the conversion rules (an empty value reads as any T).
  template <class T>
  bool IsType() const;
  template <class T>
  bool TryAsType(T& out) const;
  // Raises EInvalidCast when the value does not read as T.
  template <class T>
  T AsType() const;
  // Exactly T is held (no conversion).
  template <class T>
  bool HoldsType() const {
    return FType && *FType->Type == typeid(std::remove_cvref_t<T>);
  }

  std::string AsString() const;
  int32_t AsInteger() const;
  int64_t AsInt64() const;
  uint32_t AsCardinal() const;
  bool AsBoolean() const;
  double AsExtended() const;
  TObject* AsObject() const;
  const TClass* AsClass() const;
  int64_t AsOrdinal() const;
  TDateTime AsDateTime() const;

  // The run-time's text of the value: "(empty)", digits, FloatToStr (DateTimeToStr for a
  // TDateTime), enumeration names,
  // "True"/"False", strings as they are, "[A,B]" for sets, "(TFoo @ 00007F...)" for objects,
  // "(record)" for records, "(array)"/"(dynamic array)" for arrays.
  std::string ToString() const;

  size_t GetArrayLength() const;
  TValue GetArrayElement(size_t index) const;

  // Raw readers used by the conversions; false when the rules forbid the reading.
  bool TryReadInt64(int64_t& out) const;
  bool TryReadDouble(double& out) const;
  bool TryReadString(std::string& out) const;
  bool TryReadBoolean(bool& out) const;
  bool TryReadOrdinal(int64_t& out) const;
  bool TryReadObject(TObject*& out) const;  // nullptr for empty

private:
  template <class T>
  friend const TValueTypeInfo* value_detail::MakeInfo();
  template <class T>
  const T& Held() const {
    return *static_cast<const T*>(FHolder.get());
  }

  const TValueTypeInfo* FType = nullptr;
  union {
    int64_t FInt = 0;
    uint64_t FUInt;
    double FFloat;
    TObject* FObject;
    const TClass* FClass;
    const void* FPointer;
  };
  std::shared_ptr<const void> FHolder;  // strings, records, sets, arrays
};

// ---------------------------------------------------------------------------------------
namespace value_detail {

template <class T>
const TValueTypeInfo* MakeInfo() {
  auto* info = new TValueTypeInfo;  // one per type, for the life of the process
  info->Kind = KindOf<T>();
  info->Name = NameOf<T>();
  info->Type = &typeid(T);
  if constexpr (std::is_same_v<T, bool>) {
    info->IsBoolean = true;
  } else if constexpr (DistinctInteger<T>) {
    info->IsUnsigned = std::is_unsigned_v<std::underlying_type_t<T>>;
  } else if constexpr (std::is_enum_v<T>) {
    info->Enum = EnumInfoOf<T>();
    if (info->Enum) info->Name = info->Enum->TypeName();
  } else if constexpr (std::is_integral_v<T>) {
    info->IsUnsigned = std::is_unsigned_v<T>;
  } else if constexpr (std::is_same_v<T, TDateTime>) {
    info->IsDateTime = true;
  } else if constexpr (ObjectPointer<T>) {
    info->StaticClass = &std::remove_cv_t<std::remove_pointer_t<T>>::StaticClass;
  }
  if constexpr (IsTSet<T>) {
    info->ToStringFn = [](const void* p) { return static_cast<const T*>(p)->ToString(); };
    if constexpr (HasEnumNames<typename T::TElement>)
      info->FromTextFn = [](std::string_view text) { return TValue::From(T::FromString(text)); };
  } else if constexpr (HasEnumNames<T>) {
    info->FromTextFn = [](std::string_view text) { return TValue::From(StringToEnum<T>(text)); };
  }
  if constexpr (IsStdVector<T> || IsStdArray<T>) {
    info->LengthFn = [](const void* p) { return static_cast<const T*>(p)->size(); };
    info->ElementFn = [](const void* p, size_t i) {
      return TValue::From((*static_cast<const T*>(p))[i]);
    };
  }
  return info;
}

}  // namespace value_detail

template <class T>
TValue TValue::From(const T& value) {
  using U = std::remove_cvref_t<T>;
  if constexpr (std::is_same_v<U, TValue>) {
    return value;
  } else if constexpr (std::is_array_v<U>) {
    if constexpr (std::is_same_v<std::remove_cv_t<std::remove_extent_t<U>>, char>)
      return From(std::string(value));
    else {
      std::array<std::remove_cv_t<std::remove_extent_t<U>>, std::extent_v<U>> a;
      for (size_t i = 0; i < a.size(); ++i) a[i] = value[i];
      return From(a);
    }
  } else if constexpr (value_detail::StringLike<U> && !std::is_same_v<U, std::string>) {
    if constexpr (std::is_pointer_v<U>)
      return From(std::string(value ? value : ""));
    else
      return From(std::string(value));
  } else {
    TValue r;
    r.FType = ValueTypeOf<U>();
    if constexpr (std::is_same_v<U, bool>) r.FInt = value ? 1 : 0;
    else if constexpr (std::is_enum_v<U>) r.FInt = static_cast<int64_t>(value);
    else if constexpr (value_detail::CharType<U>) r.FInt = static_cast<int64_t>(static_cast<std::make_unsigned_t<U>>(value));
    else if constexpr (std::is_integral_v<U> && std::is_unsigned_v<U>) r.FUInt = value;
    else if constexpr (std::is_integral_v<U>) r.FInt = value;
    else if constexpr (std::is_floating_point_v<U>) r.FFloat = static_cast<double>(value);
    else if constexpr (std::is_same_v<U, TDateTime>) r.FFloat = value.Value;
    else if constexpr (std::is_same_v<U, std::nullptr_t>) r.FObject = nullptr;
    else if constexpr (value_detail::ObjectPointer<U>) r.FObject = const_cast<std::remove_cv_t<std::remove_pointer_t<U>>*>(value);
    else if constexpr (value_detail::ClassPointer<U>) r.FClass = value;
    else if constexpr (std::is_pointer_v<U>) r.FPointer = value;
    else r.FHolder = std::make_shared<const U>(value);
    return r;
  }
}

template <class T>
bool TValue::TryAsType(T& out) const {
  using U = std::remove_cvref_t<T>;
  if constexpr (std::is_same_v<U, TValue>) {
    out = *this;
    return true;
  } else if constexpr (std::is_same_v<U, bool>) {
    return TryReadBoolean(out);
  } else if constexpr (value_detail::CharType<U>) {
    if (!FType) return out = U{}, true;
    if (Kind() != tkChar && Kind() != tkWChar) return false;
    out = static_cast<U>(FInt);
    return true;
  } else if constexpr (std::is_integral_v<U>) {
    int64_t v;
    if (!TryReadInt64(v)) return false;
    out = static_cast<U>(v);
    return true;
  } else if constexpr (std::is_floating_point_v<U>) {
    double v;
    if (!TryReadDouble(v)) return false;
    out = static_cast<U>(v);
    return true;
  } else if constexpr (std::is_same_v<U, TDateTime>) {
    double v;
    if (!TryReadDouble(v)) return false;
    out = TDateTime(v);
    return true;
  } else if constexpr (std::is_same_v<U, std::string>) {
    return TryReadString(out);
  } else if constexpr (std::is_enum_v<U>) {
    if (!FType) return out = U{}, true;
    if (HoldsType<U>() || Kind() == tkInteger || Kind() == tkInt64) {
      out = static_cast<U>(FInt);
      return true;
    }
    return false;
  } else if constexpr (value_detail::ObjectPointer<U>) {
    TObject* obj;
    if (!TryReadObject(obj)) return false;
    if (!obj) return out = nullptr, true;
    auto* cast = dynamic_cast<U>(obj);
    if (!cast) return false;
    out = cast;
    return true;
  } else if constexpr (value_detail::ClassPointer<U>) {
    if (!FType) return out = nullptr, true;
    if (Kind() != tkClassRef) return false;
    if (!FClass) return out = nullptr, true;
    auto* cast = dynamic_cast<U>(FClass);
    if (!cast) return false;
    out = cast;
    return true;
  } else if constexpr (std::is_pointer_v<U>) {
    if (!FType) return out = nullptr, true;
    if (!HoldsType<U>()) return false;
    out = static_cast<U>(const_cast<void*>(FPointer));
    return true;
  } else {
    if (!FType) return out = U{}, true;
    if (!HoldsType<U>()) return false;
    out = Held<U>();
    return true;
  }
}

template <class T>
bool TValue::IsType() const {
  std::remove_cvref_t<T> unused{};
  return TryAsType(unused);
}

template <class T>
T TValue::AsType() const {
  std::remove_cvref_t<T> out{};
  if (!TryAsType(out)) value_detail::RaiseInvalidCast();
  return out;
}

}  // namespace quorvel
