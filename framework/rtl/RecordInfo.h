#pragma once
// Record type descriptions: the fields of a plain record in declaration
// order with name, offset, size and kind, so that code can walk an array of records and
// upload each field by name (the shader-variable upload of arrays of records).
//
//   struct TLightRec { TVector3D Position; float Intensity; int32_t Kind; float Weights[4]; };
//   FW_RECORD(TLightRec, Position, Intensity, Kind, Weights)   // namespace of TLightRec
//
//   const TRecordInfo* info = RecordInfoOf<TLightRec>();
//   for (const TRecordField& f : info->Fields()) ... f.Name, f.Offset, f.Kind ...
//
// FW_RECORD also names the type (QUORVEL_TYPE_NAME): do not write both. The math value types
// are recognised by type (FieldKind::PointF ... Matrix3D) without including their headers.
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <type_traits>
#include <vector>

#include "framework/rtl/Enum.h"
#include "framework/rtl/TypeName.h"

namespace quorvel {

struct TPointF;
struct TPoint3D;
struct TVector3D;
struct TAlphaColorF;
struct TMatrix3D;

enum class TRecordFieldKind : uint8_t {
  Integer,      // signed or unsigned, 1/2/4/8 bytes (Size, IsUnsigned)
  Boolean,
  Enumeration,  // ordinal of Size bytes
  Float,        // float or double (Size 4 or 8)
  PointF,
  Point3D,
  Vector3D,
  AlphaColorF,
  Matrix3D,
  StaticArray,  // Count elements of ElementSize bytes; Element describes one element
  Record,       // a nested record: Record holds its description (null: not described)
  Other,        // strings, pointers and anything else
};

class TRecordInfo;

// The type of one field, or of the elements of a static array field.
struct TRecordFieldType {
  TRecordFieldKind Kind = TRecordFieldKind::Other;
  size_t Size = 0;
  bool IsUnsigned = false;
  std::string TypeName;             // "Single", "Integer", "TPoint3D", "TLightRec", ...
  const TRecordInfo* Record = nullptr;       // Kind Record (or a record element)
  const TRecordFieldType* Element = nullptr; // Kind StaticArray
  size_t Count = 0;                          // Kind StaticArray
};

struct TRecordField {
  std::string Name;
  size_t Offset = 0;
  const TRecordFieldType* Type = nullptr;

  TRecordFieldKind Kind() const { return Type->Kind; }
  size_t Size() const { return Type->Size; }
  const void* Address(const void* record) const { return static_cast<const char*>(record) + Offset; }
  // Integer, Boolean and Enumeration fields as a 64-bit integer; Float fields as a double.
  int64_t ReadOrdinal(const void* record) const;
  double ReadFloat(const void* record) const;
};

class TRecordInfo {
public:
  TRecordInfo(std::string name, size_t size, std::initializer_list<TRecordField> fields);
  const std::string& Name() const { return FName; }
  size_t Size() const { return FSize; }
  const std::vector<TRecordField>& Fields() const { return FFields; }
  const TRecordField* FindField(std::string_view name) const;  // exact name

private:
  std::string FName;
  size_t FSize;
  std::vector<TRecordField> FFields;
};

// Reads an ordinal or float of `size` bytes at p (helpers shared with array elements).
int64_t ReadOrdinalAt(const void* p, size_t size, bool isUnsigned);
double ReadFloatAt(const void* p, size_t size);

namespace record_detail {
void QuorvelRecordInfoOf() = delete;  // lookup anchor
template <class R>
concept HasAdlRecordInfo = requires(const R* p) {
  { QuorvelRecordInfoOf(p) } -> std::same_as<const TRecordInfo*>;
};
template <class T> inline constexpr bool IsStdArray = false;
template <class T, size_t N> inline constexpr bool IsStdArray<std::array<T, N>> = true;
}  // namespace record_detail

template <class R>
inline constexpr bool HasRecordInfo = record_detail::HasAdlRecordInfo<R>;

// The description of a record registered with FW_RECORD; null for any other type.
template <class R>
const TRecordInfo* RecordInfoOf() {
  if constexpr (HasRecordInfo<R>)
    return QuorvelRecordInfoOf(static_cast<const R*>(nullptr));
  else
    return nullptr;
}

// The field type of C++ type F (one instance per type).
template <class F>
const TRecordFieldType* RecordFieldTypeOf() {
  static const TRecordFieldType* type = [] {
    auto* t = new TRecordFieldType;  // lives for the process
    t->Size = sizeof(F);
    if constexpr (HasTypeName<F>) t->TypeName = TypeNameOf<F>();
    using K = TRecordFieldKind;
    if constexpr (std::is_same_v<F, bool>) {
      t->Kind = K::Boolean;
    } else if constexpr (std::is_enum_v<F>) {
      t->Kind = K::Enumeration;
      t->IsUnsigned = std::is_unsigned_v<std::underlying_type_t<F>>;
    } else if constexpr (std::is_integral_v<F>) {
      t->Kind = K::Integer;
      t->IsUnsigned = std::is_unsigned_v<F>;
    } else if constexpr (std::is_floating_point_v<F>) {
      t->Kind = K::Float;
    } else if constexpr (std::is_same_v<F, TPointF>) {
      t->Kind = K::PointF;
    } else if constexpr (std::is_same_v<F, TPoint3D>) {
      t->Kind = K::Point3D;
    } else if constexpr (std::is_same_v<F, TVector3D>) {
      t->Kind = K::Vector3D;
    } else if constexpr (std::is_same_v<F, TAlphaColorF>) {
      t->Kind = K::AlphaColorF;
    } else if constexpr (std::is_same_v<F, TMatrix3D>) {
      t->Kind = K::Matrix3D;
    } else if constexpr (std::is_array_v<F>) {
      t->Kind = K::StaticArray;
      t->Count = std::extent_v<F>;
      t->Element = RecordFieldTypeOf<std::remove_cv_t<std::remove_extent_t<F>>>();
      t->TypeName = "array[0.." + std::to_string(t->Count - 1) + "] of " + t->Element->TypeName;
    } else if constexpr (record_detail::IsStdArray<F>) {
      t->Kind = K::StaticArray;
      t->Count = std::tuple_size_v<F>;
      t->Element = RecordFieldTypeOf<typename F::value_type>();
      t->TypeName = "array[0.." + std::to_string(t->Count - 1) + "] of " + t->Element->TypeName;
    } else if constexpr (std::is_class_v<F> && std::is_trivially_copyable_v<F>) {
      t->Kind = K::Record;
      t->Record = RecordInfoOf<F>();
    } else {
      t->Kind = K::Other;
    }
    return t;
  }();
  return type;
}

}  // namespace quorvel

#define QUORVEL_RECORD_FIELD_(R, f) \
  ::quorvel::TRecordField{#f, offsetof(R, f), ::quorvel::RecordFieldTypeOf<std::remove_cv_t<decltype(R::f)>>()},

// Describes the record R by the listed fields (in declaration order). Write it in the
// namespace that declares R, where R is complete.
#define FW_RECORD(R, ...)                                                                   \
  QUORVEL_TYPE_NAME(R)                                                                      \
  [[maybe_unused]] inline const ::quorvel::TRecordInfo* QuorvelRecordInfoOf(const R*) {     \
    static const ::quorvel::TRecordInfo info(                                               \
        #R, sizeof(R), {QUORVEL_FOR_EACH_ARG(QUORVEL_RECORD_FIELD_, R, __VA_ARGS__)});      \
    return &info;                                                                           \
  }
