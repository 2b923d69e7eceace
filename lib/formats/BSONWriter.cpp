#include "lib/formats/BSONWriter.h"

#include <cstring>
#include <vector>

#include "framework/rtl/Exceptions.h"

namespace quorvel {

namespace {

// The number as the element it is stored as: a double whenever the text is one.
struct TNumber {
  enum { Double, Int32, Int64 } Kind;
  double D;
  int32_t I;
  int64_t L;
};

TNumber ConvertNumber(const TJSONNumber* n) {
  TNumber r{};
  if (n->TryAsDouble(r.D)) r.Kind = TNumber::Double;
  else if (n->TryAsInt(r.I)) r.Kind = TNumber::Int32;
  else if (n->TryAsInt64(r.L)) r.Kind = TNumber::Int64;
  else throw Exception("failed to read number value");
  return r;
}

}  // namespace

void TQuorvelBSONWriter::WriteJsonObject(const TJSONObject* object) { WriteJsonValue(object); }
void TQuorvelBSONWriter::WriteJsonArray(const TJSONArray* array) { WriteJsonValue(array); }

void TQuorvelBSONWriter::WriteJsonValue(const TJSONValue* root) {
  // An explicit stack of (container, next index) keeps deep trees off the call stack.
  struct TFrame {
    const TJSONValue* Container;
    int Next;
  };
  std::vector<TFrame> stack;
  const int baseTop = GetTop();
  auto writeOne = [&](const TJSONValue* v) {
    switch (v->Kind()) {
      case TJSONValue::TKind::Object: WriteStartObject(); stack.push_back({v, 0}); break;
      case TJSONValue::TKind::Array: WriteStartArray(); stack.push_back({v, 0}); break;
      case TJSONValue::TKind::Null: WriteNull(); break;
      case TJSONValue::TKind::Bool: WriteValue(static_cast<const TJSONBool*>(v)->AsBoolean()); break;
      case TJSONValue::TKind::String: WriteValue(v->Value()); break;
      case TJSONValue::TKind::Number: {
        const TNumber n = ConvertNumber(static_cast<const TJSONNumber*>(v));
        if (n.Kind == TNumber::Double) WriteValue(n.D);
        else if (n.Kind == TNumber::Int32) WriteValue(n.I);
        else WriteValue(n.L);
        break;
      }
    }
  };
  try {
    writeOne(root);
    while (!stack.empty()) {
      TFrame& f = stack.back();
      if (f.Container->Kind() == TJSONValue::TKind::Object) {
        const auto* o = static_cast<const TJSONObject*>(f.Container);
        if (f.Next == o->Count()) {
          stack.pop_back();
          WriteEndObject();
          continue;
        }
        const TJSONPair* p = o->Pairs(f.Next++);
        WritePropertyName(p->GetName());
        writeOne(p->GetJsonValue());
      } else {
        const auto* a = static_cast<const TJSONArray*>(f.Container);
        if (f.Next == a->Count()) {
          stack.pop_back();
          WriteEndArray();
          continue;
        }
        writeOne(a->Items(f.Next++));
      }
    }
  } catch (...) {
    // The containers opened here are closed also on failure.
    try {
      if (HasPendingPropertyName()) WriteNull();
      while (GetTop() > baseTop) WriteEnd();
    } catch (...) {
    }
    throw;
  }
}

void TQuorvelBSONWriter::WriteRawJsonValue(const TJSONValue* value, TStream* target) {
  switch (value->Kind()) {
    case TJSONValue::TKind::Object: throw Exception("raw bson for json-object not supported");
    case TJSONValue::TKind::Array: throw Exception("raw bson for json-array not supported");
    case TJSONValue::TKind::Null: break;
    case TJSONValue::TKind::Bool: target->WriteValue<uint8_t>(static_cast<const TJSONBool*>(value)->AsBoolean() ? 1 : 0); break;
    case TJSONValue::TKind::String: {
      const std::string s = value->Value();
      target->WriteValue<int32_t>(static_cast<int32_t>(s.size() + 1));
      target->WriteBuffer(s.c_str(), static_cast<int64_t>(s.size() + 1));
      break;
    }
    case TJSONValue::TKind::Number: {
      const TNumber n = ConvertNumber(static_cast<const TJSONNumber*>(value));
      if (n.Kind == TNumber::Double) target->WriteValue(n.D);
      else if (n.Kind == TNumber::Int32) target->WriteValue(n.I);
      else target->WriteValue(n.L);
      break;
    }
  }
}

}  // namespace quorvel
