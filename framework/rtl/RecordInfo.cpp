#include "framework/rtl/RecordInfo.h"

#include <cstring>

#include "framework/rtl/Exceptions.h"

namespace quorvel {

int64_t ReadOrdinalAt(const void* p, size_t size, bool isUnsigned) {
  switch (size) {
    case 1: {
      uint8_t v;
      std::memcpy(&v, p, 1);
      return isUnsigned ? int64_t(v) : int64_t(int8_t(v));
    }
    case 2: {
      uint16_t v;
      std::memcpy(&v, p, 2);
      return isUnsigned ? int64_t(v) : int64_t(int16_t(v));
    }
    case 4: {
      uint32_t v;
      std::memcpy(&v, p, 4);
      return isUnsigned ? int64_t(v) : int64_t(int32_t(v));
    }
    case 8: {
      int64_t v;
      std::memcpy(&v, p, 8);
      return v;
    }
    default:
      throw EInvalidOperation("Ordinal field of " + std::to_string(size) + " bytes");
  }
}

double ReadFloatAt(const void* p, size_t size) {
  if (size == sizeof(float)) {
    float v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
  if (size == sizeof(double)) {
    double v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
  throw EInvalidOperation("Float field of " + std::to_string(size) + " bytes");
}

int64_t TRecordField::ReadOrdinal(const void* record) const {
  switch (Kind()) {
    case TRecordFieldKind::Integer:
    case TRecordFieldKind::Boolean:
    case TRecordFieldKind::Enumeration:
      return ReadOrdinalAt(Address(record), Size(), Type->IsUnsigned);
    default:
      throw EInvalidCast("Invalid class typecast");
  }
}

double TRecordField::ReadFloat(const void* record) const {
  if (Kind() != TRecordFieldKind::Float) throw EInvalidCast("Invalid class typecast");
  return ReadFloatAt(Address(record), Size());
}

TRecordInfo::TRecordInfo(std::string name, size_t size, std::initializer_list<TRecordField> fields)
    : FName(std::move(name)), FSize(size), FFields(fields) {}

const TRecordField* TRecordInfo::FindField(std::string_view name) const {
  for (const TRecordField& f : FFields)
    if (f.Name == name) return &f;
  return nullptr;
}

}  // namespace quorvel
