#include "lib/formats/BSONWriter.h"

#include <cstring>
#include <limits>
#include <string_view>
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
  const int baseTop = GetTop();
  size_t rootLevel = std::numeric_limits<size_t>::max();
  const std::string_view* pending = nullptr;  // a name whose value is being converted
  std::string_view name;
  try {
    const TJSONValue::TKind rootKind = root->Kind();
    if (rootKind != TJSONValue::TKind::Object && rootKind != TJSONValue::TKind::Array) {
      WriteScalar(root);
      return;
    }
    // The container itself goes through the token writer, which checks where it stands; what
    // it holds is written straight into the document, without a call or a check per element.
    if (rootKind == TJSONValue::TKind::Object) WriteStartObject();
    else WriteStartArray();
    rootLevel = FStack.size();
    // An explicit stack of (container, next index) keeps deep trees off the call stack.
    struct TFrame {
      const TJSONValue* Container;
      size_t Next;
    };
    std::vector<TFrame> stack;
    stack.push_back({root, 0});
    for (;;) {
      TFrame& f = stack.back();
      const TJSONValue* v;
      if (f.Container->Kind() == TJSONValue::TKind::Object) {
        const auto* o = static_cast<const TJSONObject*>(f.Container);
        if (f.Next == static_cast<size_t>(o->Count())) {
          stack.pop_back();
          if (stack.empty()) break;
          End();
          continue;
        }
        const TJSONPair* p = *(o->begin() + static_cast<std::ptrdiff_t>(f.Next++));
        name = p->GetName();
        if (name.find('\0') != std::string_view::npos) throw EJsonWriterException("A BSON name cannot hold a zero byte");
        pending = &name;
        v = p->GetJsonValue();
      } else {
        const auto* a = static_cast<const TJSONArray*>(f.Container);
        if (f.Next == static_cast<size_t>(a->Count())) {
          stack.pop_back();
          if (stack.empty()) break;
          End();
          continue;
        }
        v = *(a->begin() + static_cast<std::ptrdiff_t>(f.Next++));
      }
      switch (v->Kind()) {
        case TJSONValue::TKind::Object:
        case TJSONValue::TKind::Array: {
          const bool isArray = v->Kind() == TJSONValue::TKind::Array;
          ElementHeader(isArray ? 0x04 : 0x03, name);
          FStack.push_back({FBuffer.size(), isArray, 0});
          PutInt32(0);
          stack.push_back({v, 0});
          break;
        }
        case TJSONValue::TKind::Null: ElementHeader(0x0A, name); break;
        case TJSONValue::TKind::Bool:
          ElementHeader(0x08, name);
          FBuffer += static_cast<char>(static_cast<const TJSONBool*>(v)->AsBoolean() ? 1 : 0);
          break;
        case TJSONValue::TKind::String: {
          const std::string_view text = static_cast<const TJSONString*>(v)->Text();
          if (IgnoreEmpty(text.size())) break;
          ElementHeader(0x02, name);
          PutString(text);
          break;
        }
        case TJSONValue::TKind::Number: {
          const TNumber n = ConvertNumber(static_cast<const TJSONNumber*>(v));
          if (n.Kind == TNumber::Double) {
            ElementHeader(0x01, name);
            int64_t bits;
            std::memcpy(&bits, &n.D, 8);
            PutInt64(bits);
          } else if (n.Kind == TNumber::Int32) {
            ElementHeader(0x10, name);
            PutInt32(n.I);
          } else {
            ElementHeader(0x12, name);
            PutInt64(n.L);
          }
          break;
        }
      }
      pending = nullptr;
    }
    if (rootKind == TJSONValue::TKind::Object) WriteEndObject();
    else WriteEndArray();
  } catch (...) {
    // The containers opened here are closed also on failure; a name whose value failed gets a
    // null, as the token writer gives a pending name.
    try {
      if (pending) ElementHeader(0x0A, *pending);
      while (FStack.size() > rootLevel) End();
      if (HasPendingPropertyName()) WriteNull();
      while (GetTop() > baseTop) WriteEnd();
    } catch (...) {
    }
    throw;
  }
}

void TQuorvelBSONWriter::WriteScalar(const TJSONValue* v) {
  switch (v->Kind()) {
    case TJSONValue::TKind::Object:
    case TJSONValue::TKind::Array: break;
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
