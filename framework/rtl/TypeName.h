#pragma once
// Type names for values of the engine's record types (TValue, record type descriptions).
// A type gets its name with QUORVEL_TYPE_NAME(T), written in the namespace that declares T
// (the name is found by argument-dependent lookup, so the macro works in any namespace):
//
//   namespace quorvel { struct TPoint3D { float X, Y, Z; }; QUORVEL_TYPE_NAME(TPoint3D) }
//
// TypeName<T>::Value() (or TypeNameOf<T>()) answers the name; HasTypeName<T> tells whether T
// has one. The built-in types carry the run-time's names (Integer, Single, string, ...).
// This header depends on nothing of the project: value types include it.
#include <cstdint>
#include <string>

#define QUORVEL_TYPE_NAME(T)                                                     \
  [[maybe_unused]] constexpr const char* QuorvelTypeNameOf(const T*) noexcept { \
    return #T;                                                                   \
  }

namespace quorvel {

namespace typename_detail {
void QuorvelTypeNameOf() = delete;  // makes the unqualified call below a lookup anchor
template <class T>
concept HasAdlName = requires(const T* p) {
  { QuorvelTypeNameOf(p) };
};
}  // namespace typename_detail

template <class T>
struct TypeName {
  static constexpr bool Known = typename_detail::HasAdlName<T>;
  static constexpr const char* Value() noexcept {
    if constexpr (Known)
      return QuorvelTypeNameOf(static_cast<const T*>(nullptr));
    else
      return "";
  }
};

#define QUORVEL_BUILTIN_TYPE_NAME(T, N)                              \
  template <>                                                        \
  struct TypeName<T> {                                               \
    static constexpr bool Known = true;                              \
    static constexpr const char* Value() noexcept { return N; }      \
  }
QUORVEL_BUILTIN_TYPE_NAME(bool, "Boolean");
QUORVEL_BUILTIN_TYPE_NAME(char, "Char");
QUORVEL_BUILTIN_TYPE_NAME(char16_t, "WideChar");
QUORVEL_BUILTIN_TYPE_NAME(char32_t, "UCS4Char");
QUORVEL_BUILTIN_TYPE_NAME(int8_t, "ShortInt");
QUORVEL_BUILTIN_TYPE_NAME(uint8_t, "Byte");
QUORVEL_BUILTIN_TYPE_NAME(int16_t, "SmallInt");
QUORVEL_BUILTIN_TYPE_NAME(uint16_t, "Word");
QUORVEL_BUILTIN_TYPE_NAME(int32_t, "Integer");
QUORVEL_BUILTIN_TYPE_NAME(uint32_t, "Cardinal");
QUORVEL_BUILTIN_TYPE_NAME(int64_t, "Int64");
QUORVEL_BUILTIN_TYPE_NAME(uint64_t, "UInt64");
QUORVEL_BUILTIN_TYPE_NAME(float, "Single");
QUORVEL_BUILTIN_TYPE_NAME(double, "Double");
QUORVEL_BUILTIN_TYPE_NAME(long double, "Extended");
QUORVEL_BUILTIN_TYPE_NAME(std::string, "string");
#undef QUORVEL_BUILTIN_TYPE_NAME

template <class T>
inline constexpr bool HasTypeName = TypeName<T>::Known;

template <class T>
constexpr const char* TypeNameOf() noexcept {
  return TypeName<T>::Value();
}

}  // namespace quorvel
