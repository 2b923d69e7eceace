#include "lib/defs/DefTypesProperties.h"

#include <cmath>
#include <memory>

#include "framework/rtl/SysUtils.h"
#include "lib/defs/DefTypesText.h"

namespace quorvel {

FW_CLASS_IMPL(TMetaDef, "Quorvel.DefTypes")
FW_CLASS_NO_MEMBERS(TMetaDef)
FW_CLASS_IMPL(TModelMetaDef, "Quorvel.DefTypes")
void TModelMetaDef::Register(ClassBuilder<TModelMetaDef>& b) {
  b.Prop("Title", &Self::GetTitle, &Self::SetTitle)
      .Prop("Descr", &Self::GetDescr, &Self::SetDescr)
      .Prop("Author", &Self::GetAuthor, &Self::SetAuthor)
      .Prop("License", &Self::GetLicense, &Self::SetLicense)
      .Prop("Polygons", &Self::GetPolygons, &Self::SetPolygons)
      .Prop("Vertices", &Self::GetVertices, &Self::SetVertices)
      .Prop("MobileSuitable", &Self::GetMobileSuitable, &Self::SetMobileSuitable);
}
FW_CLASS_IMPL(TBehaviourDef, "Quorvel.DefTypes")
void TBehaviourDef::Register(ClassBuilder<TBehaviourDef>& b) {
  b.Prop("PrefabClass", &Self::GetPrefabClass, &Self::SetPrefabClass);
}
FW_CLASS_IMPL(TMaterialBehaviourDef, "Quorvel.DefTypes")
FW_CLASS_NO_MEMBERS(TMaterialBehaviourDef)
FW_CLASS_IMPL(TExtensionDef, "Quorvel.DefTypes")
FW_CLASS_NO_MEMBERS(TExtensionDef)

namespace {

// A text in double quotes loses them, and a doubled quote inside becomes one; then the
// characters up to code 32 go from both ends.
std::string UnquoteTrim(std::string_view s) {
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') {
    std::string r;
    r.reserve(s.size());
    bool dropped = false;
    for (char c : s.substr(1, s.size() - 2)) {
      if (c == '"' && !dropped) {
        dropped = true;
        continue;
      }
      dropped = false;
      r += c;
    }
    return Trim(r);
  }
  return Trim(s);
}

// A metadata number: with a fraction or an exponent a Double; else a NativeInt; a whole
// number beyond Int64 a Double rather than a lost value.
TValue MetaNumber(std::string_view AText) {
  const std::string text = UnquoteTrim(AText);
  double d;
  if (text.find_first_of(".,eE") != std::string::npos) {
    return TryStrToFloat(text, d) ? TValue::From(d) : TValue::From(int64_t(0));
  }
  int64_t i;
  if (TryStrToInt64(text, i)) return TValue::From(i);
  if (TryStrToFloat(text, d)) return TValue::From(d);
  return TValue::From(int64_t(0));
}

bool IsAcceptedTag(const TValue& AValue) {
  switch (AValue.Kind()) {
    case tkInteger:
    case tkInt64:
    case tkFloat:
    case tkChar:
    case tkWChar:
    case tkString:
      return true;
    case tkEnumeration:
      return AValue.IsBoolean();
    default:
      return false;
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------
// TProperties

int64_t TProperties::GetSize() const { return static_cast<int64_t>(sizeof(TProperties)) + 44 * int64_t(Count()); }

void TProperties::ToJSON(TJSONObject* AJSON) const {
  auto* arr = new TJSONArray;
  AJSON->AddPair("Properties", arr);
  arr->Reserve(static_cast<size_t>(Count()));
  for (const auto& pair : *this) {
    auto* item = new TJSONObject;
    arr->AddElement(item);
    item->AddPair("Name", pair.Key);
    item->AddPair("Value", TCustomDef::RttiValueToJSON(pair.Value));
  }
}

void TProperties::FromJSON(const TJSONObject* AValue) {
  Clear();
  const auto* arr = dynamic_cast<const TJSONArray*>(AValue ? AValue->GetValue("Properties") : nullptr);
  if (!arr) return;
  for (const TJSONValue* element : *arr) {
    const auto* obj = dynamic_cast<const TJSONObject*>(element);
    if (!obj) continue;
    const auto* name = dynamic_cast<const TJSONString*>(obj->GetValue("Name"));
    if (!name) continue;
    const TJSONValue* value = obj->GetValue("Value");
    if (!value) continue;
    Add(Trim(name->Text()), TCustomDef::JSONToRttiValue(value));
  }
}

// ---------------------------------------------------------------------------------------
// TMetaDef

TMetaDef::TMetaDef() : FTags(new TTags) {}

TMetaDef::~TMetaDef() { Free(FTags); }

TJSONObject* TMetaDef::ToJSON() const {
  std::unique_ptr<TJSONObject> obj(TCustomDef::ToJSON());
  for (const auto& tag : *FTags) {
    const TValue& v = tag.Value;
    switch (v.Kind()) {
      case tkInteger:
      case tkInt64:
        obj->AddPair(tag.Key, new TJSONNumber(v.AsInt64()));
        break;
      case tkFloat: {
        const double d = v.AsExtended();
        if (std::isfinite(d)) obj->AddPair(tag.Key, new TJSONNumber(d));  // JSON has no NaN
        break;
      }
      case tkChar:
      case tkWChar:
      case tkString:
        obj->AddPair(tag.Key, v.AsString());
        break;
      case tkEnumeration:
        if (v.IsBoolean()) obj->AddPair(tag.Key, v.AsBoolean());
        break;
      default:
        break;
    }
  }
  return obj.release();
}

void TMetaDef::FromJSON(TModelDef* AModel, const TJSONObject* AValue) {
  Clear();
  TCustomDef::FromJSON(AModel, AValue);
  if (!AValue) return;
  for (const TJSONPair* pair : *AValue) {
    const TJSONValue* value = pair->GetJsonValue();
    TValue tag;
    switch (value->Kind()) {
      case TJSONValue::TKind::Number:
        tag = MetaNumber(static_cast<const TJSONNumber*>(value)->Text());
        break;
      case TJSONValue::TKind::Bool:
        tag = TValue::From(static_cast<const TJSONBool*>(value)->AsBoolean());
        break;
      case TJSONValue::TKind::String:
        tag = TValue::From(value->Value());
        break;
      default:
        continue;
    }
    SetTag(UnquoteTrim(pair->GetName()), tag);
  }
}

void TMetaDef::Clear() { FTags->Clear(); }

TValue TMetaDef::GetTag(const std::string& AIndex) const {
  TValue v;
  FTags->TryGetValue(AIndex, v);
  return v;
}

void TMetaDef::SetTag(const std::string& AIndex, const TValue& AValue) {
  if (!IsAcceptedTag(AValue))
    throw Exception("TMetaDef.SetTag(): invalid meta tag type - only string, int, float and bool allowed");
  FTags->AddOrSetValue(AIndex, AValue);
}

std::string TMetaDef::GetTagAsString(const std::string& AIndex) const { return GetTag(AIndex).AsString(); }
void TMetaDef::SetTagAsString(const std::string& AIndex, const std::string& AValue) {
  SetTag(AIndex, TValue::From(AValue));
}
// 64 bits end to end: a count beyond the Integer range must not wrap.
int64_t TMetaDef::GetTagAsInt(const std::string& AIndex) const { return GetTag(AIndex).AsInt64(); }
void TMetaDef::SetTagAsInt(const std::string& AIndex, int64_t AValue) { SetTag(AIndex, TValue::From(AValue)); }
double TMetaDef::GetTagAsFloat(const std::string& AIndex) const { return GetTag(AIndex).AsExtended(); }
void TMetaDef::SetTagAsFloat(const std::string& AIndex, double AValue) { SetTag(AIndex, TValue::From(AValue)); }
bool TMetaDef::GetTagAsBool(const std::string& AIndex) const { return GetTag(AIndex).AsBoolean(); }
void TMetaDef::SetTagAsBool(const std::string& AIndex, bool AValue) { SetTag(AIndex, TValue::From(AValue)); }

// ---------------------------------------------------------------------------------------
// TBehaviourDef

TBehaviourDef::TBehaviourDef() : FProperties(new TProperties) { SetId(TGUID::NewGuid().ToString()); }

TBehaviourDef::~TBehaviourDef() { Free(FProperties); }

int64_t TBehaviourDef::GetSize() const { return TCustomDef::GetSize(); }

TJSONObject* TBehaviourDef::ToJSON() const {
  std::unique_ptr<TJSONObject> obj(TCustomDef::ToJSON());
  obj->AddPair("Type", ClassName());
  obj->AddPair("PrefabClass", FPrefabClass);
  FProperties->ToJSON(obj.get());
  return obj.release();
}

void TBehaviourDef::FromJSON(TModelDef* AModel, const TJSONObject* AValue) {
  TCustomDef::FromJSON(AModel, AValue);
  FPrefabClass = ReadJSONString(AValue, "PrefabClass", "");
  FProperties->FromJSON(AValue);
}

// ---------------------------------------------------------------------------------------
// TExtensionDef

TExtensionDef::TExtensionDef() : FProperties(new TProperties) {}

TExtensionDef::~TExtensionDef() { Free(FProperties); }

int64_t TExtensionDef::GetSize() const { return TCustomDef::GetSize() + FProperties->GetSize(); }

TJSONObject* TExtensionDef::ToJSON() const {
  std::unique_ptr<TJSONObject> obj(TCustomDef::ToJSON());
  FProperties->ToJSON(obj.get());
  return obj.release();
}

void TExtensionDef::FromJSON(TModelDef* AModel, const TJSONObject* AValue) {
  TCustomDef::FromJSON(AModel, AValue);
  FProperties->FromJSON(AValue);
}

TExtensionDef* TExtensionDefList::FindExtensionById(std::string_view AId) const {
  for (TExtensionDef* e : *this)
    if (e->GetId() == AId) return e;
  return nullptr;
}

}  // namespace quorvel
