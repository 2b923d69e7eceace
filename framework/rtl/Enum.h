#pragma once
// Names of enumeration values, for streaming, JSON, TValue and set text.
//
//   enum class TWrapMode { Original = 0, Fit = 1, Stretch = 2 };
//   FW_ENUM(TWrapMode, Original, Fit, Stretch)        // in the namespace of TWrapMode
//
// An enumeration declared inside a class registers with FW_ENUM_MEMBER in that class body.
// FW_ENUM also gives the type its name (QUORVEL_TYPE_NAME): do not write both.
// The values keep the enumeration's own (explicit) ordinals: persisted ordinals
// never depend on the order of the names here.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "framework/rtl/Exceptions.h"
#include "framework/rtl/TypeName.h"

// QUORVEL_FOR_EACH(M, a, b, c) expands to M(a) M(b) M(c); QUORVEL_FOR_EACH_ARG(M, x, a, b)
// to M(x, a) M(x, b). Up to 256 elements.
#define QUORVEL_PARENS ()
#define QUORVEL_EXPAND(...) QUORVEL_EXPAND4(QUORVEL_EXPAND4(QUORVEL_EXPAND4(QUORVEL_EXPAND4(__VA_ARGS__))))
#define QUORVEL_EXPAND4(...) QUORVEL_EXPAND3(QUORVEL_EXPAND3(QUORVEL_EXPAND3(QUORVEL_EXPAND3(__VA_ARGS__))))
#define QUORVEL_EXPAND3(...) QUORVEL_EXPAND2(QUORVEL_EXPAND2(QUORVEL_EXPAND2(QUORVEL_EXPAND2(__VA_ARGS__))))
#define QUORVEL_EXPAND2(...) QUORVEL_EXPAND1(QUORVEL_EXPAND1(QUORVEL_EXPAND1(QUORVEL_EXPAND1(__VA_ARGS__))))
#define QUORVEL_EXPAND1(...) __VA_ARGS__
#define QUORVEL_FOR_EACH(macro, ...) \
  __VA_OPT__(QUORVEL_EXPAND(QUORVEL_FOR_EACH_HELPER(macro, __VA_ARGS__)))
#define QUORVEL_FOR_EACH_HELPER(macro, a1, ...) \
  macro(a1) __VA_OPT__(QUORVEL_FOR_EACH_AGAIN QUORVEL_PARENS(macro, __VA_ARGS__))
#define QUORVEL_FOR_EACH_AGAIN() QUORVEL_FOR_EACH_HELPER
#define QUORVEL_FOR_EACH_ARG(macro, arg, ...) \
  __VA_OPT__(QUORVEL_EXPAND(QUORVEL_FOR_EACH_ARG_HELPER(macro, arg, __VA_ARGS__)))
#define QUORVEL_FOR_EACH_ARG_HELPER(macro, arg, a1, ...) \
  macro(arg, a1) __VA_OPT__(QUORVEL_FOR_EACH_ARG_AGAIN QUORVEL_PARENS(macro, arg, __VA_ARGS__))
#define QUORVEL_FOR_EACH_ARG_AGAIN() QUORVEL_FOR_EACH_ARG_HELPER

namespace quorvel {

// Name <-> ordinal table of one enumeration type, in declaration order.
class TEnumInfo {
public:
  struct TEntry {
    int64_t Ordinal;
    std::string Name;
  };
  TEnumInfo(std::string typeName, std::initializer_list<TEntry> entries);

  const std::string& TypeName() const { return FTypeName; }
  const std::vector<TEntry>& Entries() const { return FEntries; }
  int64_t MinValue() const { return FMin; }
  int64_t MaxValue() const { return FMax; }
  // The name of an ordinal, or null when the ordinal has none.
  const std::string* NameOf(int64_t ordinal) const;
  // The ordinal of a name (ASCII case-insensitive, as the run-time's GetEnumValue).
  bool TryOrdinalOf(std::string_view name, int64_t& ordinal) const;
  // As TryOrdinalOf; an unknown name raises EConvertError.
  int64_t OrdinalOf(std::string_view name) const;

private:
  std::string FTypeName;
  std::vector<TEntry> FEntries;
  int64_t FMin = 0, FMax = -1;
};

namespace enum_detail {
void QuorvelEnumInfoOf() = delete;  // lookup anchor
template <class E>
concept HasAdlEnumInfo = requires(const E* p) {
  { QuorvelEnumInfoOf(p) } -> std::same_as<const TEnumInfo&>;
};
}  // namespace enum_detail

template <class E>
inline constexpr bool HasEnumNames = std::is_enum_v<E> && enum_detail::HasAdlEnumInfo<E>;

// The name table of E, or null for an enumeration without FW_ENUM.
template <class E>
const TEnumInfo* EnumInfoOf() {
  if constexpr (HasEnumNames<E>)
    return &QuorvelEnumInfoOf(static_cast<const E*>(nullptr));
  else
    return nullptr;
}

template <class E>
constexpr int64_t Ord(E value) noexcept {
  return static_cast<int64_t>(value);
}

// The value's name; an ordinal without a name (or a type without names) gives its number.
std::string OrdinalToString(const TEnumInfo* info, int64_t ordinal);

template <class E>
std::string EnumToString(E value) {
  static_assert(std::is_enum_v<E>);
  return OrdinalToString(EnumInfoOf<E>(), Ord(value));
}

template <class E>
bool TryStringToEnum(std::string_view name, E& value) {
  static_assert(HasEnumNames<E>, "register the enumeration's names with FW_ENUM");
  int64_t ordinal;
  if (!EnumInfoOf<E>()->TryOrdinalOf(name, ordinal)) return false;
  value = static_cast<E>(ordinal);
  return true;
}

// Raises EConvertError for a name that E does not have.
template <class E>
E StringToEnum(std::string_view name) {
  static_assert(HasEnumNames<E>, "register the enumeration's names with FW_ENUM");
  return static_cast<E>(EnumInfoOf<E>()->OrdinalOf(name));
}

}  // namespace quorvel

#define QUORVEL_ENUM_ENTRY_(T, v) ::quorvel::TEnumInfo::TEntry{static_cast<int64_t>(T::v), #v},

#define FW_ENUM(T, ...)                                                                    \
  QUORVEL_TYPE_NAME(T)                                                                     \
  [[maybe_unused]] inline const ::quorvel::TEnumInfo& QuorvelEnumInfoOf(const T*) {        \
    static const ::quorvel::TEnumInfo info(#T, {QUORVEL_FOR_EACH_ARG(QUORVEL_ENUM_ENTRY_, \
                                                                     T, __VA_ARGS__)});   \
    return info;                                                                           \
  }

// For an enumeration declared inside a class: write it in the class body after the enum.
#define FW_ENUM_MEMBER(T, ...)                                                             \
  friend constexpr const char* QuorvelTypeNameOf(const T*) noexcept { return #T; }        \
  friend const ::quorvel::TEnumInfo& QuorvelEnumInfoOf(const T*) {                         \
    static const ::quorvel::TEnumInfo info(#T, {QUORVEL_FOR_EACH_ARG(QUORVEL_ENUM_ENTRY_, \
                                                                     T, __VA_ARGS__)});   \
    return info;                                                                           \
  }
