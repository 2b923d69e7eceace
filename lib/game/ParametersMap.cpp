#include "lib/game/ParametersMap.h"

#include <cmath>
#include <initializer_list>
#include <limits>
#include <vector>

#include "framework/math/AlphaColor.h"
#include "framework/math/Matrix3D.h"
#include "framework/math/Point.h"
#include "framework/math/Point3D.h"
#include "framework/math/Quaternion3D.h"
#include "framework/rtl/Monitor.h"
#include "framework/rtl/SysUtils.h"

namespace quorvel {

namespace {

// A record with an infinite or NaN field has no JSON form: null.
TJSONValue* FloatRecord(const char* AClass, std::initializer_list<double> ANumbers) {
  for (double n : ANumbers)
    if (!std::isfinite(n)) return New<TJSONNull>();
  TOwned<TJSONObject> result(New<TJSONObject>());
  result->AddPair("Class", AClass);
  auto* numbers = New<TJSONArray>();
  result->AddPair("FloatArrayValue", numbers);
  for (double n : ANumbers) numbers->Add(n);
  return result.release();
}

TJSONValue* ParameterRecordToJSON(const TValue& AValue) {
  const std::string name = AValue.TypeName();
  if (name == "TPoint") {
    const auto p = AValue.AsType<TPoint>();
    return FloatRecord("TPoint", {double(p.X), double(p.Y)});
  }
  if (name == "TPointF") {
    const auto p = AValue.AsType<TPointF>();
    return FloatRecord("TPointF", {p.X, p.Y});
  }
  if (name == "TPoint3D") {
    const auto p = AValue.AsType<TPoint3D>();
    return FloatRecord("TPoint3D", {p.X, p.Y, p.Z});
  }
  if (name == "TVector3D") {
    const auto v = AValue.AsType<TVector3D>();
    return FloatRecord("TVector3D", {v.X, v.Y, v.Z, v.W});
  }
  if (name == "TQuaternion3D") {
    const auto q = AValue.AsType<TQuaternion3D>();
    return FloatRecord("TQuaternion3D", {q.ImagPart.X, q.ImagPart.Y, q.ImagPart.Z, q.RealPart});
  }
  if (name == "TMatrix") {
    const auto m = AValue.AsType<TMatrix>();
    return FloatRecord("TMatrix", {m.m11, m.m12, m.m13, m.m21, m.m22, m.m23, m.m31, m.m32, m.m33});
  }
  if (name == "TMatrix3D") {
    const auto m = AValue.AsType<TMatrix3D>();
    return FloatRecord("TMatrix3D", {m.m11, m.m12, m.m13, m.m14, m.m21, m.m22, m.m23, m.m24, m.m31, m.m32, m.m33,
                                     m.m34, m.m41, m.m42, m.m43, m.m44});
  }
  if (name == "TAlphaColorF") {
    const auto c = AValue.AsType<TAlphaColorF>();
    return FloatRecord("TAlphaColorF", {c.R, c.G, c.B, c.A});
  }
  return New<TJSONNull>();
}

TJSONValue* ValueToJSON(const TValue& AValue) {
  switch (AValue.Kind()) {
    case tkInteger:
    case tkInt64:
      if (AValue.TypeInfo()->IsUnsigned) return New<TJSONNumber>(static_cast<uint64_t>(AValue.AsInt64()));
      return New<TJSONNumber>(AValue.AsInt64());
    case tkChar:
    case tkWChar:
    case tkString: return New<TJSONString>(AValue.AsString());
    case tkEnumeration:
      if (AValue.IsBoolean()) return AValue.AsBoolean() ? static_cast<TJSONValue*>(New<TJSONTrue>()) : New<TJSONFalse>();
      return New<TJSONNumber>(AValue.AsOrdinal());
    case tkFloat:
      // JSON has no number for infinities and NaN (a read "1e999" is one).
      if (!std::isfinite(AValue.AsExtended())) return New<TJSONNull>();
      return New<TJSONNumber>(AValue.AsExtended());
    case tkRecord: return ParameterRecordToJSON(AValue);
    default: return New<TJSONNull>();
  }
}

// The record of a "Class" / "FloatArrayValue" object; empty for an unknown class, a missing
// array or one shorter than the class needs.
TValue RecordFromJSON(const TJSONObject* AObject) {
  const TJSONValue* cls = AObject->GetValue("Class");
  if (!cls || cls->Kind() != TJSONValue::TKind::String) return TValue();
  const auto* array = dynamic_cast<const TJSONArray*>(AObject->GetValue("FloatArrayValue"));
  if (!array) return TValue();
  const std::string name = cls->Value();
  size_t need;
  if (name == "TPoint" || name == "TPointF") need = 2;
  else if (name == "TPoint3D") need = 3;
  else if (name == "TVector3D" || name == "TQuaternion3D" || name == "TAlphaColorF") need = 4;
  else if (name == "TMatrix") need = 9;
  else if (name == "TMatrix3D") need = 16;
  else return TValue();
  std::vector<double> n;
  for (TJSONValue* element : *array) {
    const auto* number = dynamic_cast<const TJSONNumber*>(element);
    if (!number) throw EInvalidCast("Invalid class typecast");
    n.push_back(number->AsDouble());
  }
  if (n.size() < need) return TValue();
  auto f = [&](size_t i) { return static_cast<float>(n[i]); };
  if (name == "TPoint") {
    // Nearest integers, ties to even; coordinates an Integer cannot hold give the empty value.
    for (size_t i = 0; i < 2; ++i)
      if (!(std::fabs(n[i]) < 2147483647.5)) return TValue();
    return TValue::From(TPoint(int32_t(Round(n[0])), int32_t(Round(n[1]))));
  }
  if (name == "TPointF") return TValue::From(TPointF(f(0), f(1)));
  if (name == "TPoint3D") return TValue::From(TPoint3D(f(0), f(1), f(2)));
  if (name == "TVector3D") return TValue::From(TVector3D(f(0), f(1), f(2), f(3)));
  if (name == "TQuaternion3D") return TValue::From(TQuaternion3D(f(0), f(1), f(2), f(3)));
  if (name == "TAlphaColorF") return TValue::From(TAlphaColorF(f(0), f(1), f(2), f(3)));
  if (name == "TMatrix") {
    TMatrix m;
    for (int i = 0; i < 9; ++i) m.At(i / 3, i % 3) = f(size_t(i));
    return TValue::From(m);
  }
  TMatrix3D m;
  for (int i = 0; i < 16; ++i) m.At(i / 4, i % 4) = f(size_t(i));
  return TValue::From(m);
}

TValue NumberFromJSON(const TJSONNumber* ANumber) {
  const std::string_view text = ANumber->Text();
  if (text.find_first_of(".,eE") != std::string_view::npos) return TValue(ANumber->AsDouble());
  int32_t i;
  if (TryStrToInt(text, i)) return TValue(i);
  int64_t i64;
  if (TryStrToInt64(text, i64)) return TValue(i64);
  return TValue(ANumber->AsDouble());  // beyond 64 bits
}

TValue ValueFromJSON(const TJSONValue* AValue) {
  switch (AValue->Kind()) {
    case TJSONValue::TKind::Number: return NumberFromJSON(static_cast<const TJSONNumber*>(AValue));
    case TJSONValue::TKind::Bool: return TValue(static_cast<const TJSONBool*>(AValue)->AsBoolean());
    case TJSONValue::TKind::String: return TValue(AValue->Value());
    case TJSONValue::TKind::Object: return RecordFromJSON(static_cast<const TJSONObject*>(AValue));
    default: return TValue();
  }
}

}  // namespace

void TQuorvelParametersMap::Assign(const TQuorvelParametersMap* ASource) {
  Clear();
  if (!ASource) return;
  TMonitorGuard lock(this);
  for (const auto& pair : *ASource) AddOrSetValue(pair.Key, pair.Value);
}

TJSONObject* TQuorvelParametersMap::ToJSON() const {
  TOwned<TJSONObject> result(New<TJSONObject>());
  auto* values = New<TJSONArray>();
  result->AddPair("Values", values);
  for (const auto& pair : *this) {
    auto* entry = New<TJSONObject>();
    values->Add(entry);
    entry->AddPair("Key", pair.Key);
    entry->AddPair("Value", ValueToJSON(pair.Value));
  }
  return result.release();
}

void TQuorvelParametersMap::FromJSON(const TJSONObject* AData) {
  Clear();
  if (!AData) return;
  const auto* values = dynamic_cast<const TJSONArray*>(AData->GetValue("Values"));
  if (!values) return;
  for (TJSONValue* element : *values) {
    const auto* entry = dynamic_cast<const TJSONObject*>(element);
    if (!entry) continue;
    const TJSONValue* key = entry->GetValue("Key");
    if (!key || key->Kind() != TJSONValue::TKind::String) continue;
    const TJSONValue* value = entry->GetValue("Value");
    if (!value) continue;
    AddOrSetValue(key->Value(), ValueFromJSON(value));
  }
}

}  // namespace quorvel
