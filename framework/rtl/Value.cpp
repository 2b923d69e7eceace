#include "framework/rtl/Value.h"

#include <cxxabi.h>

#include <cstdio>
#include <cstdlib>

#include "framework/rtl/Object.h"
#include "framework/rtl/SysUtils.h"

namespace quorvel {

const char* TypeKindName(TTypeKind kind) {
  static const char* const names[] = {
      "tkUnknown", "tkInteger", "tkChar",    "tkEnumeration", "tkFloat",   "tkString",  "tkSet",
      "tkClass",   "tkMethod",  "tkWChar",   "tkVariant",     "tkArray",   "tkRecord",  "tkInterface",
      "tkInt64",   "tkDynArray", "tkClassRef", "tkPointer",   "tkProcedure"};
  return kind <= tkProcedure ? names[kind] : "tkUnknown";
}

namespace value_detail {

std::string Demangle(const char* mangledName) {
  int status = 0;
  char* d = abi::__cxa_demangle(mangledName, nullptr, nullptr, &status);
  std::string name = (status == 0 && d) ? d : mangledName;
  std::free(d);
  // The run-time names types without their namespace: keep the last component of a
  // namespace-qualified name (but leave template arguments alone).
  size_t depth = 0, cut = 0;
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (c == '<') ++depth;
    else if (c == '>') --depth;
    else if (depth == 0 && c == ':' && i + 1 < name.size() && name[i + 1] == ':') cut = i + 2;
  }
  return name.substr(cut);
}

void RaiseInvalidCast() { throw EInvalidCast("Invalid class typecast"); }

namespace {
// UTF-8 of one code point.
std::string CodePointToUtf8(uint32_t cp) {
  std::string s;
  if (cp < 0x80) {
    s += char(cp);
  } else if (cp < 0x800) {
    s += char(0xC0 | (cp >> 6));
    s += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    s += char(0xE0 | (cp >> 12));
    s += char(0x80 | ((cp >> 6) & 0x3F));
    s += char(0x80 | (cp & 0x3F));
  } else {
    s += char(0xF0 | (cp >> 18));
    s += char(0x80 | ((cp >> 12) & 0x3F));
    s += char(0x80 | ((cp >> 6) & 0x3F));
    s += char(0x80 | (cp & 0x3F));
  }
  return s;
}
}  // namespace

}  // namespace value_detail

TValue TValue::FromOrdinal(const TValueTypeInfo* type, int64_t ordinal) {
  TValue r;
  if (!type) return r;
  switch (type->Kind) {
    case tkInteger:
    case tkInt64:
    case tkChar:
    case tkWChar:
    case tkEnumeration:
      break;
    default:
      value_detail::RaiseInvalidCast();
  }
  r.FType = type;
  r.FInt = type->IsBoolean ? (ordinal != 0) : ordinal;
  return r;
}

TValue TValue::FromArray(std::vector<TValue> elements) { return From(elements); }

bool TValue::IsEmpty() const {
  if (!FType) return true;
  return FType->Kind == tkClass && FObject == nullptr;
}

bool TValue::IsOrdinal() const {
  switch (Kind()) {
    case tkInteger:
    case tkInt64:
    case tkChar:
    case tkWChar:
    case tkEnumeration:
      return true;
    default:
      return false;
  }
}

std::string TValue::TypeName() const {
  if (!FType) return "";
  if (FType->Kind == tkClass && FType->Name.empty()) {
    const TClass* cls = FType->StaticClass ? FType->StaticClass() : TObject::StaticClass();
    return cls->ClassName();
  }
  return FType->Name;
}

bool TValue::TryReadInt64(int64_t& out) const {
  if (!FType) return out = 0, true;
  if (Kind() != tkInteger && Kind() != tkInt64) return false;
  out = FInt;
  return true;
}

bool TValue::TryReadDouble(double& out) const {
  if (!FType) return out = 0.0, true;
  switch (Kind()) {
    case tkFloat:
      out = FFloat;
      return true;
    case tkInteger:
    case tkInt64:
      out = FType->IsUnsigned ? static_cast<double>(FUInt) : static_cast<double>(FInt);
      return true;
    default:
      return false;
  }
}

bool TValue::TryReadBoolean(bool& out) const {
  if (!FType) return out = false, true;
  if (FType->IsBoolean || Kind() == tkInteger || Kind() == tkInt64) {
    out = FInt != 0;
    return true;
  }
  return false;
}

bool TValue::TryReadOrdinal(int64_t& out) const {
  if (!FType) return out = 0, true;
  if (!IsOrdinal()) return false;
  out = FInt;
  return true;
}

bool TValue::TryReadObject(TObject*& out) const {
  if (!FType) return out = nullptr, true;
  if (Kind() != tkClass) return false;
  out = FObject;
  return true;
}

bool TValue::TryReadString(std::string& out) const {
  if (!FType) {
    out.clear();
    return true;
  }
  switch (Kind()) {
    case tkString:
      out = Held<std::string>();
      return true;
    case tkInteger:
    case tkInt64:
    case tkFloat:
    case tkEnumeration:
    case tkSet:
      out = ToString();
      return true;
    case tkChar:
    case tkWChar:
      out = value_detail::CodePointToUtf8(static_cast<uint32_t>(FInt));
      return true;
    default:
      return false;
  }
}

std::string TValue::AsString() const { return AsType<std::string>(); }
int32_t TValue::AsInteger() const { return AsType<int32_t>(); }
int64_t TValue::AsInt64() const { return AsType<int64_t>(); }
uint32_t TValue::AsCardinal() const { return AsType<uint32_t>(); }
bool TValue::AsBoolean() const { return AsType<bool>(); }
double TValue::AsExtended() const { return AsType<double>(); }
TDateTime TValue::AsDateTime() const { return AsType<TDateTime>(); }

TObject* TValue::AsObject() const {
  TObject* obj;
  if (!TryReadObject(obj)) value_detail::RaiseInvalidCast();
  return obj;
}

const TClass* TValue::AsClass() const {
  if (!FType) return nullptr;
  if (Kind() != tkClassRef) value_detail::RaiseInvalidCast();
  return FClass;
}

int64_t TValue::AsOrdinal() const {
  int64_t v;
  if (!TryReadOrdinal(v)) value_detail::RaiseInvalidCast();
  return v;
}

std::string TValue::ToString() const {
  if (!FType) return "(empty)";
  switch (FType->Kind) {
    case tkInteger:
    case tkInt64:
      return FType->IsUnsigned ? std::to_string(FUInt) : std::to_string(FInt);
    case tkFloat:
      return FType->IsDateTime ? DateTimeToStr(TDateTime(FFloat)) : FloatToStr(FFloat);
    case tkEnumeration:
      if (FType->IsBoolean) return FInt ? "True" : "False";
      return OrdinalToString(FType->Enum, FInt);
    case tkChar:
    case tkWChar:
      return value_detail::CodePointToUtf8(static_cast<uint32_t>(FInt));
    case tkString:
      return Held<std::string>();
    case tkSet:
      return FType->ToStringFn(FHolder.get());
    case tkClass: {
      if (!FObject) return "(empty)";
      char buf[32];
      std::snprintf(buf, sizeof buf, "%016llX",
                    static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(FObject)));
      // Appended, not prepended: GCC 12 at -O3 warns falsely (-Wrestrict) on "(" + temporary.
      std::string text = "(";
      text += FObject->ClassName();
      return text + " @ " + buf + ")";
    }
    case tkClassRef:
      return FClass ? FClass->ClassName() : "(empty)";
    case tkPointer: {
      char buf[32];
      std::snprintf(buf, sizeof buf, "(pointer @ %016llX)",
                    static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(FPointer)));
      return buf;
    }
    case tkRecord:
      return "(record)";
    case tkArray:
      return "(array)";
    case tkDynArray:
      return "(dynamic array)";
    default:
      return "(unknown)";
  }
}

size_t TValue::GetArrayLength() const {
  if (!FType) return 0;
  if (!FType->LengthFn) value_detail::RaiseInvalidCast();
  return FType->LengthFn(FHolder.get());
}

TValue TValue::GetArrayElement(size_t index) const {
  if (index >= GetArrayLength())
    throw EArgumentOutOfRangeException("Argument out of range");
  return FType->ElementFn(FHolder.get(), index);
}

}  // namespace quorvel
