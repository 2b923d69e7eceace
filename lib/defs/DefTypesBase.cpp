#include "lib/defs/DefTypesBase.h"

#include <array>
#include <cmath>
#include <limits>
#include <memory>

#include "framework/rtl/SysUtils.h"
#include "lib/defs/DefTypesArmature.h"
#include "lib/defs/DefTypesLights.h"
#include "lib/defs/DefTypesMesh.h"
#include "lib/defs/DefTypesModel.h"
#include "lib/defs/DefTypesTransform.h"
#include "lib/defs/DefTypesText.h"

namespace quorvel {

FW_CLASS_IMPL(TCustomDef, "Quorvel.DefTypes")
FW_CLASS_NO_MEMBERS(TCustomDef)

namespace {

constexpr const char* SMissingRecordValue = "Missing value in RecordType \"%s\" in JSONToRttiValue of %s";
constexpr const char* SUnexpectedRecordValue =
    "Unexpected value type in RecordType \"%s\" found in JSONToRttiValue of %s";
constexpr const char* SUnsupportedRecordType = "Unsupported RecordType \"%s\" found in JSONToRttiValue of %s";
constexpr const char* SOutOfRangeRecordValue =
    "TCustomDef.JSONToRttiValue(%s) - value out of the single range in \"%s\"";
// The class JSONToRttiValue is called on; every use goes through TCustomDef.
constexpr const char* SRttiOwner = "TCustomDef";

// A number text with a fraction or an exponent reads as a float. The exponent forms are the
// writer's own output from 1E15 on and below 1E-5, so they must not take the integer path.
bool IsFloatText(std::string_view AText) {
  return AText.find_first_of(".,eE") != std::string_view::npos;
}

// A non-finite value raises (JSON has no number for it); nothing half-built is left behind.
TJSONArray* FloatArray(std::initializer_list<float> AValues) {
  std::unique_ptr<TJSONArray> arr(new TJSONArray);
  arr->Reserve(AValues.size());
  for (float v : AValues) arr->AddElement(new TJSONNumber(static_cast<double>(v)));
  return arr.release();
}

TJSONObject* RecordObject(const char* ATypeName, TJSONValue* AValue) {
  std::unique_ptr<TJSONValue> value(AValue);
  std::unique_ptr<TJSONObject> obj(new TJSONObject);
  obj->AddPair("RecordType", ATypeName);
  obj->AddPair("Value", value.release());
  return obj.release();
}

TJSONValue* RecordToJSON(const TValue& AValue) {
  const std::string name = AValue.TypeName();
  if (name == "TPoint") {
    const auto p = AValue.AsType<TPoint>();
    auto* arr = new TJSONArray;
    arr->Add(p.X)->Add(p.Y);
    return RecordObject("TPoint", arr);
  }
  if (name == "TPointF") {
    const auto p = AValue.AsType<TPointF>();
    return RecordObject("TPointF", FloatArray({p.X, p.Y}));
  }
  if (name == "TPoint3D") {
    const auto p = AValue.AsType<TPoint3D>();
    return RecordObject("TPoint3D", FloatArray({p.X, p.Y, p.Z}));
  }
  if (name == "TVector3D") {
    const auto v = AValue.AsType<TVector3D>();
    return RecordObject("TVector3D", FloatArray({v.X, v.Y, v.Z, v.W}));
  }
  if (name == "TMatrix") {
    const auto m = AValue.AsType<TMatrix>();
    return RecordObject("TMatrix", FloatArray({m.m11, m.m12, m.m13, m.m21, m.m22, m.m23, m.m31, m.m32, m.m33}));
  }
  if (name == "TMatrix3D") {
    const auto m = AValue.AsType<TMatrix3D>();
    return RecordObject("TMatrix3D", FloatArray({m.m11, m.m12, m.m13, m.m14, m.m21, m.m22, m.m23, m.m24, m.m31,
                                                 m.m32, m.m33, m.m34, m.m41, m.m42, m.m43, m.m44}));
  }
  if (name == "TAlphaColorF") {
    const auto c = AValue.AsType<TAlphaColorF>();
    return RecordObject("TAlphaColorF", FloatArray({c.R, c.G, c.B, c.A}));
  }
  if (name == "TAlphaColorRec") {
    const auto c = AValue.AsType<TAlphaColorRec>();
    auto* arr = new TJSONArray;
    arr->Add(int32_t(c.R))->Add(int32_t(c.G))->Add(int32_t(c.B))->Add(int32_t(c.A));
    return RecordObject("TAlphaColor", arr);
  }
  if (name == "TUBOUniformDef") {
    const auto u = AValue.AsType<TUBOUniformDef>();
    std::unique_ptr<TJSONObject> obj(new TJSONObject);
    obj->AddPair("RecordType", "TUBOUniformDef");
    obj->AddPair("Name", u.Name);
    obj->AddPair("DataType", u.DataType);
    obj->AddPair("Layout", u.Layout);
    obj->AddPair("ArrayLength", u.ArrayLength);
    obj->AddPair("ValueAsString", u.ValueAsString);
    return obj.release();
  }
  return new TJSONString(AValue.ToString());
}

[[noreturn]] void RaiseRecord(const char* AFormat, const std::string& ARecordType) {
  throw Exception(Format(AFormat, ARecordType, SRttiOwner));
}

// "Value" as an array of exactly ACount elements, else the "Unexpected value type" error.
const TJSONArray* RecordArray(const TJSONValue* AValue, int ACount, const std::string& ARecordType) {
  const auto* arr = dynamic_cast<const TJSONArray*>(AValue);
  if (!arr || arr->Count() != ACount) RaiseRecord(SUnexpectedRecordValue, ARecordType);
  return arr;
}

template <size_t N>
std::array<float, N> RecordFloats(const TJSONValue* AValue, const std::string& ARecordType) {
  const TJSONArray* arr = RecordArray(AValue, static_cast<int>(N), ARecordType);
  std::array<float, N> r{};
  for (size_t i = 0; i < N; ++i) {
    const double d = arr->Items(static_cast<int>(i))->As<TJSONNumber>()->AsDouble();
    // A value beyond the single range would come back as infinity, which no writer can store.
    if (!(std::fabs(d) <= double(std::numeric_limits<float>::max())))
      throw Exception(Format(SOutOfRangeRecordValue, ARecordType, arr->ToJSON()));
    r[i] = static_cast<float>(d);
  }
  return r;
}

template <size_t N>
std::array<int32_t, N> RecordIntegers(const TJSONValue* AValue, const std::string& ARecordType, const char* AError) {
  const TJSONArray* arr = RecordArray(AValue, static_cast<int>(N), ARecordType);
  std::array<int32_t, N> r{};
  try {
    for (size_t i = 0; i < N; ++i) {
      const auto* n = dynamic_cast<const TJSONNumber*>(arr->Items(static_cast<int>(i)));
      if (!n) throw EConvertError("not a number");
      r[i] = JSONNumberToInteger(n);
    }
  } catch (const Exception&) {
    throw Exception(Format(AError, arr->ToJSON()));
  }
  return r;
}

TValue JSONToRecord(const TJSONObject* AObject, const std::string& ARecordType) {
  const TJSONValue* value = AObject->GetValue("Value");
  if (ARecordType != "TUBOUniformDef" && !value) RaiseRecord(SMissingRecordValue, ARecordType);

  if (ARecordType == "TPoint") {
    const auto v = RecordIntegers<2>(value, ARecordType, "TCustomDef.JSONToRttiValue(TPoint) - unexpected value found \"%s\"");
    return TValue::From(TPoint(v[0], v[1]));
  }
  if (ARecordType == "TPointF") {
    const auto v = RecordFloats<2>(value, ARecordType);
    return TValue::From(TPointF(v[0], v[1]));
  }
  if (ARecordType == "TPoint3D") {
    const auto v = RecordFloats<3>(value, ARecordType);
    return TValue::From(TPoint3D(v[0], v[1], v[2]));
  }
  if (ARecordType == "TVector3D") {
    const auto v = RecordFloats<4>(value, ARecordType);
    return TValue::From(TVector3D(v[0], v[1], v[2], v[3]));
  }
  if (ARecordType == "TMatrix") {
    const auto v = RecordFloats<9>(value, ARecordType);
    TMatrix m;
    for (int i = 0; i < 9; ++i) m.At(i / 3, i % 3) = v[static_cast<size_t>(i)];
    return TValue::From(m);
  }
  if (ARecordType == "TMatrix3D") {
    const auto v = RecordFloats<16>(value, ARecordType);
    TMatrix3D m;
    for (int i = 0; i < 16; ++i) m.At(i / 4, i % 4) = v[static_cast<size_t>(i)];
    return TValue::From(m);
  }
  if (ARecordType == "TAlphaColorF") {
    const auto v = RecordFloats<4>(value, ARecordType);
    return TValue::From(TAlphaColorF(v[0], v[1], v[2], v[3]));
  }
  if (ARecordType == "TAlphaColor") {
    const auto v = RecordIntegers<4>(value, ARecordType,
                                     "TCustomDef.JSONToRttiValue(TAlphaColor) - unexpected value found \"%s\"");
    // Each channel keeps its low 8 bits.
    return TValue::From(MakeAlphaColor(uint8_t(v[0]), uint8_t(v[1]), uint8_t(v[2]), uint8_t(v[3])));
  }
  if (ARecordType == "TUBOUniformDef") {
    TUBOUniformDef u;
    auto integer = [AObject](std::string_view AName) -> int32_t {
      const auto* n = dynamic_cast<const TJSONNumber*>(AObject->GetValue(AName));
      return n ? JSONNumberToInteger(n) : 0;
    };
    // As everywhere in the document model, a number counts as a string.
    if (const auto* s = dynamic_cast<const TJSONString*>(AObject->GetValue("Name"))) u.Name = s->Value();
    u.DataType = integer("DataType");
    u.Layout = integer("Layout");
    u.ArrayLength = integer("ArrayLength");
    if (const auto* s = dynamic_cast<const TJSONString*>(AObject->GetValue("ValueAsString")))
      u.ValueAsString = s->Value();
    return TValue::From(u);
  }
  RaiseRecord(SUnsupportedRecordType, ARecordType);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// TCustomDef

TCustomDef::~TCustomDef() {
  if (FLateResolveIn) FLateResolveIn->RemoveLateResolve(this);
}

int64_t TCustomDef::GetSize() const { return InstanceSize() + GetStringSize(FId); }

TObject* TCustomDef::GetAssetsPackage() const {
  throw Exception(Format("TODO: override TCustomDef.GetAssetsPackage() in %s", ClassName()));
}

TJSONObject* TCustomDef::ToJSON() const {
  auto* obj = new TJSONObject;
  obj->AddPair("Type", QualifiedClassName());
  obj->AddPair("Id", FId);
  return obj;
}

void TCustomDef::FromJSON(TModelDef* /*AModel*/, const TJSONObject* AValue) {
  FId = ReadJSONString(AValue, "Id", FId);
}

bool TCustomDef::LateResolveFromJSON(TModelDef* /*AModel*/, const TJSONObject* /*AValue*/) { return true; }

std::string TCustomDef::ReadJSONValue(const TJSONObject* AObject, std::string_view AName,
                                      const std::string& ADefault) {
  const TJSONValue* v = AObject ? AObject->GetValue(AName) : nullptr;
  if (!v) return ADefault;
  switch (v->Kind()) {
    case TJSONValue::TKind::Object:
    case TJSONValue::TKind::Array:
      return {};
    default:
      return v->Value();
  }
}

std::string TCustomDef::ReadJSONString(const TJSONObject* AObject, std::string_view AName,
                                       const std::string& ADefault) {
  const auto* v = dynamic_cast<const TJSONString*>(AObject ? AObject->GetValue(AName) : nullptr);
  return v ? std::string(v->Text()) : ADefault;
}

double TCustomDef::ReadJSONFloat(const TJSONObject* AObject, std::string_view AName, double ADefault) {
  const auto* v = dynamic_cast<const TJSONNumber*>(AObject ? AObject->GetValue(AName) : nullptr);
  double d;
  return v && v->TryAsDouble(d) ? d : ADefault;
}

float TCustomDef::ReadJSONSingle(const TJSONObject* AObject, std::string_view AName, float ADefault) {
  const double d = ReadJSONFloat(AObject, AName, ADefault);
  if (!(std::fabs(d) <= double(std::numeric_limits<float>::max())))
    throw EConvertError(Format("invalid \"%s\" value - out of the single range", {std::string(AName)}));
  return static_cast<float>(d);
}

int32_t TCustomDef::ReadJSONInteger(const TJSONObject* AObject, std::string_view AName, int32_t ADefault) {
  const auto* v = dynamic_cast<const TJSONNumber*>(AObject ? AObject->GetValue(AName) : nullptr);
  if (!v) return ADefault;
  try {
    return JSONNumberToInteger(v);
  } catch (const Exception&) {
    return ADefault;  // readers never raise: out of the Integer range counts as a wrong kind
  }
}

bool TCustomDef::ReadJSONBoolean(const TJSONObject* AObject, std::string_view AName, bool ADefault) {
  const auto* v = dynamic_cast<const TJSONBool*>(AObject ? AObject->GetValue(AName) : nullptr);
  return v ? v->AsBoolean() : ADefault;
}

TPoint3D TCustomDef::ReadJSONPoint3D(const TJSONObject* AObject, std::string_view AName, const TPoint3D& ADefault) {
  const std::string text = ReadJSONValue(AObject, AName, {});
  return text.empty() ? ADefault : StrToPoint3D(text);
}

TMatrix3D TCustomDef::ReadJSONMatrix3D(const TJSONObject* AObject, std::string_view AName,
                                       const TMatrix3D& ADefault) {
  const std::string text = ReadJSONValue(AObject, AName, {});
  return text.empty() ? ADefault : StrToMatrix3D(text);
}

TAlphaColorF TCustomDef::ReadJSONAlphaColorF(const TJSONObject* AObject, std::string_view AName,
                                             const TAlphaColorF& ADefault) {
  const std::string text = ReadJSONValue(AObject, AName, {});
  return text.empty() ? ADefault : StrToAlphaColorF(text);
}

TGUID TCustomDef::ReadJSONGUID(const TJSONObject* AObject, std::string_view AName, const TGUID& ADefault) {
  const std::string text = ReadJSONValue(AObject, AName, {});
  return text.empty() ? ADefault : TGUID::Create(text);
}

bool TCustomDef::JSONValueExists(const TJSONObject* AObject, std::string_view AName) {
  return AObject && AObject->Get(AName) != nullptr;
}

TJSONValue* TCustomDef::RttiValueToJSON(const TValue& AValue) {
  // A TAlphaColor is a 32-bit integer type of its own; it is written as its four channels.
  if (AValue.HoldsType<TAlphaColor>()) {
    const auto c = AValue.AsType<TAlphaColor>();
    auto* arr = new TJSONArray;
    arr->Add(int32_t(RedOf(c)))->Add(int32_t(GreenOf(c)))->Add(int32_t(BlueOf(c)))->Add(int32_t(AlphaOf(c)));
    return RecordObject("TAlphaColor", arr);
  }
  switch (AValue.Kind()) {
    case tkInteger:
    case tkInt64: {
      const TValueTypeInfo* type = AValue.TypeInfo();
      if (type->IsUnsigned && type->Kind == tkInt64) return new TJSONNumber(AValue.AsType<uint64_t>());
      return new TJSONNumber(AValue.AsInt64());
    }
    case tkFloat: {
      const double d = AValue.AsExtended();
      // JSON has no text for NaN and the infinities.
      if (!std::isfinite(d)) return new TJSONNull;
      return new TJSONNumber(d);
    }
    case tkEnumeration:
      if (AValue.IsBoolean()) {
        if (AValue.AsBoolean()) return new TJSONTrue;
        return new TJSONFalse;
      }
      return new TJSONString(AValue.ToString());
    case tkChar:
    case tkWChar:
    case tkString:
      return new TJSONString(AValue.AsString());
    case tkRecord:
      return RecordToJSON(AValue);
    case tkSet:
    case tkClass:
    case tkMethod:
    case tkVariant:
    case tkArray:
    case tkInterface:
    case tkDynArray:
    case tkClassRef:
    case tkPointer:
    case tkProcedure:
      return new TJSONString(AValue.ToString());
    default:
      return new TJSONNull;
  }
}

TValue TCustomDef::JSONToRttiValue(const TJSONValue* AJSON) {
  if (!AJSON) return TValue::From(std::string("null"));
  switch (AJSON->Kind()) {
    case TJSONValue::TKind::Number: {
      const auto* n = static_cast<const TJSONNumber*>(AJSON);
      if (IsFloatText(n->Text())) return TValue::From(n->AsDouble());
      int32_t i;
      if (n->TryAsInt(i)) return TValue::From(i);
      // Beyond the Integer range: widen rather than lose the value.
      int64_t i64;
      if (n->TryAsInt64(i64)) return TValue::From(i64);
      return TValue::From(n->AsDouble());
    }
    case TJSONValue::TKind::Bool:
      return TValue::From(static_cast<const TJSONBool*>(AJSON)->AsBoolean());
    case TJSONValue::TKind::Array:
      return TValue::From(AJSON->ToJSON());
    case TJSONValue::TKind::Object: {
      const auto* obj = static_cast<const TJSONObject*>(AJSON);
      if (const auto* rt = dynamic_cast<const TJSONString*>(obj->GetValue("RecordType")))
        return JSONToRecord(obj, rt->Value());
      return TValue::From(AJSON->ToJSON());
    }
    case TJSONValue::TKind::String:
      return TValue::From(AJSON->Value());
    default:
      return TValue::From(std::string("null"));
  }
}

int32_t JSONNumberToInteger(const TJSONNumber* ANumber) {
  if (!ANumber) throw EArgumentNilException("JSONNumberToInteger: number expected");
  const std::string_view text = ANumber->Text();
  if (IsFloatText(text)) {
    const double d = ANumber->AsDouble();
    if (!(std::fabs(d) < 2147483648.5))
      throw EConvertError(Format("'%s' is not a valid integer value", text));
    const int64_t r = Round(d);
    if (r < std::numeric_limits<int32_t>::min() || r > std::numeric_limits<int32_t>::max())
      throw EConvertError(Format("'%s' is not a valid integer value", text));
    return static_cast<int32_t>(r);
  }
  return StrToInt(text);
}

// ---------------------------------------------------------------------------------------
// Definition class table

namespace {

struct TDefClassRow {
  std::string_view Type;
  const TClass* (*Class)();
};

const TDefClassRow DefClassTable[] = {
    {"Quorvel.DefTypes.TTransformDef", &TTransformDef::StaticClass},
    {"Quorvel.DefTypes.TSegmentDef", &TSegmentDef::StaticClass},
    {"Quorvel.DefTypes.TArmatureDef", &TArmatureDef::StaticClass},
    {"Quorvel.DefTypes.TJointDef", &TJointDef::StaticClass},
    {"Quorvel.DefTypes.TSkinDef", &TSkinDef::StaticClass},
    {"Quorvel.DefTypes.TMeshDef", &TMeshDef::StaticClass},
    {"Quorvel.DefTypes.TVertexGroupDef", &TVertexGroupDef::StaticClass},
    {"Quorvel.DefTypes.TLightDef", &TLightDef::StaticClass},
    {"Quorvel.DefTypes.TCameraDef", &TCameraDef::StaticClass},
};

}  // namespace

const TClass* FindDefClass(std::string_view AType) {
  for (const TDefClassRow& row : DefClassTable)
    if (row.Type == AType) return row.Class();
  return TMeshDef::StaticClass();
}

}  // namespace quorvel
