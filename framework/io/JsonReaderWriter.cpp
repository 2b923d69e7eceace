#include "framework/io/JsonReaderWriter.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>

#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include "framework/io/JsonParseError.h"
#include "framework/rtl/SysUtils.h"
#include "framework/rtl/Utf8.h"

namespace quorvel {

const char* JsonTokenName(TJsonToken token) {
  static constexpr const char* kNames[] = {
      "None",    "StartObject", "StartArray", "StartConstructor", "PropertyName", "Comment",
      "Raw",     "Integer",     "Float",      "String",           "Boolean",      "Null",
      "Undefined", "EndObject", "EndArray",   "EndConstructor",   "Date",         "Bytes",
      "Oid",     "RegEx",       "DBRef",      "CodeWScope",       "MinKey",       "MaxKey"};
  const auto i = static_cast<size_t>(token);
  return i < std::size(kNames) ? kNames[i] : "?";
}

namespace {

// RapidJSON's texts end in a full stop; ours continue with the position.
constexpr char kHexDigits[] = "0123456789abcdef";

std::string Base64(const TBytes& bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const uint32_t v = (uint32_t(bytes[i]) << 16) | (uint32_t(bytes[i + 1]) << 8) | bytes[i + 2];
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i < bytes.size()) {
    uint32_t v = uint32_t(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= uint32_t(bytes[i + 1]) << 8;
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string IsoDateText(TDateTime dt) {
  int y, mo, d, h, mi, s, ms;
  DecodeDateTime(dt, y, mo, d, h, mi, s, ms);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", y, mo, d, h, mi, s, ms);
  return buf;
}

std::string Utf8Of(char32_t c) {
  std::string s;
  const auto cp = static_cast<uint32_t>(c);
  if (cp < 0x80) {
    s += static_cast<char>(cp);
  } else if (cp < 0x800) {
    s += static_cast<char>(0xC0 | (cp >> 6));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    s += static_cast<char>(0xE0 | (cp >> 12));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | ((cp >> 18) & 0x07));
    s += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  }
  return s;
}

std::string RegExText(const TJsonRegEx& r) { return "/" + r.RegEx + "/" + r.Options; }

[[noreturn]] void RaiseWriter(const std::string& msg) { throw EJsonWriterException(msg); }

}  // namespace

// ---- TJsonOid ----

TJsonOid::TJsonOid(std::string_view hex) {
  if (hex.size() != 24) throw EConvertError("'" + std::string(hex) + "' is not a valid object id");
  for (size_t i = 0; i < 12; ++i) {
    const int hi = HexDigitValue(hex[2 * i]), lo = HexDigitValue(hex[2 * i + 1]);
    if (hi < 0 || lo < 0) throw EConvertError("'" + std::string(hex) + "' is not a valid object id");
    Bytes[i] = static_cast<uint8_t>(hi * 16 + lo);
  }
}

std::string TJsonOid::AsString() const {
  std::string s(24, '0');
  for (size_t i = 0; i < 12; ++i) {
    s[2 * i] = kHexDigits[Bytes[i] >> 4];
    s[2 * i + 1] = kHexDigits[Bytes[i] & 15];
  }
  return s;
}

// ---- TJsonReader ----

int TJsonReader::GetDepth() const noexcept {
  const int n = static_cast<int>(FStack.size());
  return IsStartToken(FTokenType) ? n - 1 : n;
}

std::string TJsonReader::GetPath() const {
  std::string path;
  const size_t n = FStack.size();
  for (size_t i = 0; i < n; ++i) {
    const TLevel& l = FStack[i];
    // The container just opened has no position inside itself yet.
    if (i + 1 == n && IsStartToken(FTokenType)) break;
    if (l.Type == TJsonContainerType::Object) {
      if (l.PropertyName.empty() && i + 1 == n && FState == TState::ObjectStart) break;
      if (!path.empty()) path += '.';
      path += l.PropertyName;
    } else if (l.Index >= 0) {
      path += '[' + std::to_string(l.Index) + ']';
    }
  }
  return path;
}

void TJsonReader::Advance(TJsonToken token, std::string_view name) {
  auto raise = [&](const std::string& what) {
    FState = TState::Error;
    throw EJsonReaderException(what + " (path '" + GetPath() + "')");
  };
  auto beginValue = [&] {
    if (FState == TState::Finished) raise(std::string("Token ") + JsonTokenName(token) + " after the end of the document");
    if (!FStack.empty()) {
      TLevel& top = FStack.back();
      if (top.Type == TJsonContainerType::Array || top.Type == TJsonContainerType::Constructor)
        ++top.Index;
      else if (FState != TState::Property)
        raise(std::string("Token ") + JsonTokenName(token) + " in an object without a property name");
    }
  };
  auto endValue = [&] {
    FState = FStack.empty() ? TState::Finished : TState::PostValue;
  };
  switch (token) {
    case TJsonToken::None:
      break;
    case TJsonToken::StartObject:
    case TJsonToken::StartArray:
    case TJsonToken::StartConstructor: {
      beginValue();
      const auto type = token == TJsonToken::StartObject  ? TJsonContainerType::Object
                        : token == TJsonToken::StartArray ? TJsonContainerType::Array
                                                          : TJsonContainerType::Constructor;
      FStack.push_back({type, -1, {}});
      FState = type == TJsonContainerType::Object  ? TState::ObjectStart
               : type == TJsonContainerType::Array ? TState::ArrayStart
                                                   : TState::ConstructorStart;
      break;
    }
    case TJsonToken::EndObject:
    case TJsonToken::EndArray:
    case TJsonToken::EndConstructor: {
      const auto type = token == TJsonToken::EndObject  ? TJsonContainerType::Object
                        : token == TJsonToken::EndArray ? TJsonContainerType::Array
                                                        : TJsonContainerType::Constructor;
      if (FStack.empty() || FStack.back().Type != type)
        raise(std::string("Token ") + JsonTokenName(token) + " does not close the open container");
      if (FState == TState::Property) raise("Property without a value");
      FStack.pop_back();
      endValue();
      break;
    }
    case TJsonToken::PropertyName:
      if (FStack.empty() || FStack.back().Type != TJsonContainerType::Object || FState == TState::Property)
        raise("Property name outside an object");
      FStack.back().PropertyName.assign(name);
      FState = TState::Property;
      break;
    case TJsonToken::Comment:
      break;
    default:
      beginValue();
      endValue();
      break;
  }
  FTokenType = token;
}

void TJsonReader::SetToken(TJsonToken token, TValue value) {
  if (token == TJsonToken::PropertyName) {
    const std::string name = value.AsType<std::string>();
    Advance(token, name);
  } else {
    Advance(token, {});
  }
  FHeld = THeld::None;
  FValue = std::move(value);
}

void TJsonReader::SetTextToken(TJsonToken token, std::string_view text) {
  Advance(token, text);
  FText.assign(text);
  FHeld = THeld::Text;
}

void TJsonReader::SetIntegerToken(int64_t value) {
  Advance(TJsonToken::Integer, {});
  FHeldInteger = value;
  FHeld = THeld::Integer;
}

void TJsonReader::SetFloatToken(double value) {
  Advance(TJsonToken::Float, {});
  FHeldFloat = value;
  FHeld = THeld::Float;
}

void TJsonReader::SetBooleanToken(bool value) {
  Advance(TJsonToken::Boolean, {});
  FHeldBoolean = value;
  FHeld = THeld::Boolean;
}

void TJsonReader::MakeValue() const {
  switch (FHeld) {
    case THeld::None: return;
    case THeld::Text: FValue = TValue::From(FText); break;
    case THeld::Integer: FValue = TValue::From(FHeldInteger); break;
    case THeld::Float: FValue = TValue::From(FHeldFloat); break;
    case THeld::Boolean: FValue = TValue::From(FHeldBoolean); break;
  }
  FHeld = THeld::None;
}

void TJsonReader::SetFinished() {
  FTokenType = TJsonToken::None;
  FHeld = THeld::None;
  FValue = TValue();
  FState = TState::Finished;
}

void TJsonReader::Skip() {
  if (FTokenType == TJsonToken::PropertyName && !Read()) return;
  if (IsStartToken(FTokenType)) {
    const int depth = GetDepth();
    while (Read())
      if (IsEndToken(FTokenType) && GetDepth() == depth) break;
  }
}

void TJsonReader::Rewind() {
  FTokenType = TJsonToken::None;
  FHeld = THeld::None;
  FValue = TValue();
  FState = TState::Start;
  FStack.clear();
}

void TJsonReader::Close() {
  FState = TState::Closed;
  FTokenType = TJsonToken::None;
  FHeld = THeld::None;
  FValue = TValue();
}

// ---- TJsonWriter ----

void TJsonWriter::AutoComplete(TJsonToken token) {
  if (FState == TState::Closed) RaiseWriter(std::string("Token ") + JsonTokenName(token) + " after the writer was closed");
  if (FState == TState::Complete)
    RaiseWriter(std::string("Token ") + JsonTokenName(token) + " after the end of the document");
  if (FPendingName) {
    FPendingName = false;
    WriteIndentSpace();
    return;
  }
  if (FStack.empty()) return;
  TLevel& top = FStack.back();
  if (top.HasItems) WriteValueDelimiter();
  top.HasItems = true;
  WriteIndent();
}

void TJsonWriter::InternalWriteStart(TJsonToken token, TJsonContainerType container) {
  if (!FStack.empty() && FStack.back().Type == TJsonContainerType::Object && !FPendingName)
    RaiseWriter(std::string("Token ") + JsonTokenName(token) + " in an object without a property name");
  AutoComplete(token);
  FStack.push_back({container, false});
  FState = container == TJsonContainerType::Object  ? TState::Object
           : container == TJsonContainerType::Array ? TState::Array
                                                    : TState::Constructor;
}

void TJsonWriter::InternalWriteEnd(TJsonContainerType container) {
  if (FStack.empty()) RaiseWriter("No token to close");
  if (FStack.back().Type != container) RaiseWriter("The end does not match the open container");
  if (FPendingName) RaiseWriter("Property without a value");
  const bool hadItems = FStack.back().HasItems;
  FStack.pop_back();
  if (hadItems) WriteIndent();
  WriteEndToken(container == TJsonContainerType::Object  ? TJsonToken::EndObject
                : container == TJsonContainerType::Array ? TJsonToken::EndArray
                                                         : TJsonToken::EndConstructor);
  if (FStack.empty())
    FState = TState::Complete;
  else
    FState = FStack.back().Type == TJsonContainerType::Object  ? TState::Object
             : FStack.back().Type == TJsonContainerType::Array ? TState::Array
                                                               : TState::Constructor;
}

void TJsonWriter::InternalWritePropertyName(const std::string&) {
  if (FStack.empty() || FStack.back().Type != TJsonContainerType::Object || FPendingName)
    RaiseWriter("Property name outside an object");
  AutoComplete(TJsonToken::PropertyName);
  FPendingName = true;
  FState = TState::Property;
}

void TJsonWriter::InternalWriteValue(TJsonToken token) {
  if (!FStack.empty() && FStack.back().Type == TJsonContainerType::Object && !FPendingName)
    RaiseWriter(std::string("Token ") + JsonTokenName(token) + " in an object without a property name");
  AutoComplete(token);
  if (FStack.empty()) FState = TState::Complete;
  else if (FState == TState::Property) FState = TState::Object;
}

void TJsonWriter::InternalWriteComment() {
  if (FState == TState::Closed) RaiseWriter("Comment after the writer was closed");
}

void TJsonWriter::WriteStartObject() { InternalWriteStart(TJsonToken::StartObject, TJsonContainerType::Object); }
void TJsonWriter::WriteEndObject() { InternalWriteEnd(TJsonContainerType::Object); }
void TJsonWriter::WriteStartArray() { InternalWriteStart(TJsonToken::StartArray, TJsonContainerType::Array); }
void TJsonWriter::WriteEndArray() { InternalWriteEnd(TJsonContainerType::Array); }
void TJsonWriter::WriteStartConstructor(const std::string&) {
  InternalWriteStart(TJsonToken::StartConstructor, TJsonContainerType::Constructor);
}
void TJsonWriter::WriteEndConstructor() { InternalWriteEnd(TJsonContainerType::Constructor); }

void TJsonWriter::WriteEnd() {
  switch (GetContainerType()) {
    case TJsonContainerType::Object: WriteEndObject(); break;
    case TJsonContainerType::Array: WriteEndArray(); break;
    case TJsonContainerType::Constructor: WriteEndConstructor(); break;
    case TJsonContainerType::None: RaiseWriter("No token to close");
  }
}

void TJsonWriter::WritePropertyName(const std::string& name) { InternalWritePropertyName(name); }
void TJsonWriter::WriteNull() { InternalWriteValue(TJsonToken::Null); }
void TJsonWriter::WriteUndefined() { InternalWriteValue(TJsonToken::Undefined); }
void TJsonWriter::WriteMinKey() { InternalWriteValue(TJsonToken::MinKey); }
void TJsonWriter::WriteMaxKey() { InternalWriteValue(TJsonToken::MaxKey); }
void TJsonWriter::WriteRaw(const std::string&) {}
void TJsonWriter::WriteRawValue(const std::string&) { InternalWriteValue(TJsonToken::Raw); }
void TJsonWriter::WriteComment(const std::string&) { InternalWriteComment(); }
void TJsonWriter::WriteValue(const std::string&) { InternalWriteValue(TJsonToken::String); }
void TJsonWriter::WriteValue(int32_t) { InternalWriteValue(TJsonToken::Integer); }
void TJsonWriter::WriteValue(uint32_t) { InternalWriteValue(TJsonToken::Integer); }
void TJsonWriter::WriteValue(int64_t) { InternalWriteValue(TJsonToken::Integer); }
void TJsonWriter::WriteValue(uint64_t) { InternalWriteValue(TJsonToken::Integer); }
void TJsonWriter::WriteValue(uint8_t) { InternalWriteValue(TJsonToken::Integer); }
void TJsonWriter::WriteValue(float) { InternalWriteValue(TJsonToken::Float); }
void TJsonWriter::WriteValue(double) { InternalWriteValue(TJsonToken::Float); }
void TJsonWriter::WriteValue(bool) { InternalWriteValue(TJsonToken::Boolean); }
void TJsonWriter::WriteValue(char32_t) { InternalWriteValue(TJsonToken::String); }
void TJsonWriter::WriteValue(TDateTime) { InternalWriteValue(TJsonToken::Date); }
void TJsonWriter::WriteValue(const TGUID&) { InternalWriteValue(TJsonToken::String); }
void TJsonWriter::WriteValue(const TBytes&, TJsonBinaryType) { InternalWriteValue(TJsonToken::Bytes); }
void TJsonWriter::WriteValue(const TJsonOid&) { InternalWriteValue(TJsonToken::Oid); }
void TJsonWriter::WriteValue(const TJsonRegEx&) { InternalWriteValue(TJsonToken::RegEx); }
void TJsonWriter::WriteValue(const TJsonDBRef&) { InternalWriteValue(TJsonToken::DBRef); }
void TJsonWriter::WriteValue(const TJsonCodeWScope&) { InternalWriteValue(TJsonToken::CodeWScope); }

void TJsonWriter::Close() {
  if (FState == TState::Closed) return;
  if (FPendingName) WriteNull();
  while (!FStack.empty()) WriteEnd();
  FState = TState::Closed;
}

void TJsonWriter::Rewind() {
  FStack.clear();
  FState = TState::Start;
  FPendingName = false;
}

void TJsonWriter::WriteCurrentToken(TJsonReader& reader) {
  // Values the reader holds without a TValue are copied as they are.
  switch (reader.FHeld) {
    case TJsonReader::THeld::None: break;
    case TJsonReader::THeld::Text:
      if (reader.FTokenType == TJsonToken::PropertyName) {
        WritePropertyName(reader.FText);
        return;
      }
      if (reader.FTokenType == TJsonToken::String) {
        WriteValue(reader.FText);
        return;
      }
      break;
    case TJsonReader::THeld::Integer:
      if (reader.FTokenType == TJsonToken::Integer) {
        WriteValue(reader.FHeldInteger);
        return;
      }
      break;
    case TJsonReader::THeld::Float:
      if (reader.FTokenType == TJsonToken::Float) {
        WriteValue(reader.FHeldFloat);
        return;
      }
      break;
    case TJsonReader::THeld::Boolean:
      if (reader.FTokenType == TJsonToken::Boolean) {
        WriteValue(reader.FHeldBoolean);
        return;
      }
      break;
  }
  const TValue& v = reader.GetValue();
  switch (reader.GetTokenType()) {
    case TJsonToken::None: break;
    case TJsonToken::StartObject: WriteStartObject(); break;
    case TJsonToken::StartArray: WriteStartArray(); break;
    case TJsonToken::StartConstructor: WriteStartConstructor(v.AsType<std::string>()); break;
    case TJsonToken::PropertyName: WritePropertyName(v.AsType<std::string>()); break;
    case TJsonToken::Comment: WriteComment(v.AsType<std::string>()); break;
    case TJsonToken::Raw: WriteRawValue(v.AsType<std::string>()); break;
    case TJsonToken::Integer:
      if (v.TypeInfo() && v.TypeInfo()->IsUnsigned)
        WriteValue(v.AsType<uint64_t>());
      else
        WriteValue(v.AsType<int64_t>());
      break;
    case TJsonToken::Float: WriteValue(v.AsType<double>()); break;
    case TJsonToken::String: WriteValue(v.AsType<std::string>()); break;
    case TJsonToken::Boolean: WriteValue(v.AsType<bool>()); break;
    case TJsonToken::Null: WriteNull(); break;
    case TJsonToken::Undefined: WriteUndefined(); break;
    case TJsonToken::EndObject: WriteEndObject(); break;
    case TJsonToken::EndArray: WriteEndArray(); break;
    case TJsonToken::EndConstructor: WriteEndConstructor(); break;
    case TJsonToken::Date: WriteValue(v.AsType<TDateTime>()); break;
    case TJsonToken::Bytes: WriteValue(v.AsType<TBytes>()); break;
    case TJsonToken::Oid: WriteValue(v.AsType<TJsonOid>()); break;
    case TJsonToken::RegEx: WriteValue(v.AsType<TJsonRegEx>()); break;
    case TJsonToken::DBRef: WriteValue(v.AsType<TJsonDBRef>()); break;
    case TJsonToken::CodeWScope: WriteValue(v.AsType<TJsonCodeWScope>()); break;
    case TJsonToken::MinKey: WriteMinKey(); break;
    case TJsonToken::MaxKey: WriteMaxKey(); break;
  }
}

void TJsonWriter::WriteToken(TJsonReader& reader, bool writeChildren) {
  if (reader.GetTokenType() == TJsonToken::None && !reader.Read()) return;
  TJsonToken t = reader.GetTokenType();
  WriteCurrentToken(reader);
  if (!writeChildren) return;
  if (t == TJsonToken::PropertyName) {
    if (!reader.Read()) return;
    t = reader.GetTokenType();
    WriteCurrentToken(reader);
  }
  if (!TJsonReader::IsStartToken(t)) return;
  const int depth = reader.GetDepth();
  while (reader.Read()) {
    WriteCurrentToken(reader);
    if (TJsonReader::IsEndToken(reader.GetTokenType()) && reader.GetDepth() == depth) break;
  }
}

// ---- TJsonTextWriter ----

TJsonTextWriter::TJsonTextWriter() : FOut(&FOwn) {}
TJsonTextWriter::TJsonTextWriter(std::string& target) : FOut(&target) {}

void TJsonTextWriter::Quoted(std::string_view text) {
  AppendJSONString(*FOut, text, FEscapeHandling == TJsonStringEscapeHandling::EscapeNonAscii);
}

void TJsonTextWriter::WriteValueDelimiter() { *FOut += ','; }

void TJsonTextWriter::WriteIndent() {
  if (FFormatting != TJsonFormatting::Indented) return;
  // Nothing before the first token of the document.
  if (FOut->empty()) return;
  *FOut += '\n';
  FOut->append(static_cast<size_t>(GetTop()) * static_cast<size_t>(FIndentation), FIndentChar);
}

void TJsonTextWriter::WriteIndentSpace() {
  if (FFormatting == TJsonFormatting::Indented) *FOut += ' ';
}

void TJsonTextWriter::WriteEndToken(TJsonToken token) {
  *FOut += token == TJsonToken::EndObject ? '}' : token == TJsonToken::EndArray ? ']' : ')';
}

void TJsonTextWriter::WriteStartObject() {
  TJsonWriter::WriteStartObject();
  *FOut += '{';
}

void TJsonTextWriter::WriteStartArray() {
  TJsonWriter::WriteStartArray();
  *FOut += '[';
}

void TJsonTextWriter::WriteStartConstructor(const std::string& name) {
  TJsonWriter::WriteStartConstructor(name);
  *FOut += "new " + name + "(";
}

void TJsonTextWriter::WritePropertyName(const std::string& name) {
  TJsonWriter::WritePropertyName(name);
  Quoted(name);
  *FOut += ':';
}

void TJsonTextWriter::WriteNull() {
  TJsonWriter::WriteNull();
  *FOut += "null";
}
void TJsonTextWriter::WriteUndefined() {
  TJsonWriter::WriteUndefined();
  *FOut += "null";
}
void TJsonTextWriter::WriteMinKey() {
  TJsonWriter::WriteMinKey();
  *FOut += "null";
}
void TJsonTextWriter::WriteMaxKey() {
  TJsonWriter::WriteMaxKey();
  *FOut += "null";
}
void TJsonTextWriter::WriteRaw(const std::string& json) { *FOut += json; }
void TJsonTextWriter::WriteRawValue(const std::string& json) {
  TJsonWriter::WriteRawValue(json);
  *FOut += json;
}
void TJsonTextWriter::WriteComment(const std::string& comment) {
  TJsonWriter::WriteComment(comment);
  *FOut += "/*" + comment + "*/";
}

void TJsonTextWriter::WriteValue(const std::string& value) {
  TJsonWriter::WriteValue(value);
  Quoted(value);
}

namespace {
template <class T>
void AppendInteger(std::string& out, T value) {
  char buf[24];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, end);
}
}  // namespace

void TJsonTextWriter::WriteValue(int32_t value) {
  TJsonWriter::WriteValue(value);
  AppendInteger(*FOut, value);
}
void TJsonTextWriter::WriteValue(uint32_t value) {
  TJsonWriter::WriteValue(value);
  AppendInteger(*FOut, value);
}
void TJsonTextWriter::WriteValue(int64_t value) {
  TJsonWriter::WriteValue(value);
  AppendInteger(*FOut, value);
}
void TJsonTextWriter::WriteValue(uint64_t value) {
  TJsonWriter::WriteValue(value);
  AppendInteger(*FOut, value);
}
void TJsonTextWriter::WriteValue(uint8_t value) {
  TJsonWriter::WriteValue(value);
  AppendInteger(*FOut, value);
}
void TJsonTextWriter::WriteValue(float value) { WriteValue(static_cast<double>(value)); }
void TJsonTextWriter::WriteValue(double value) {
  if (!std::isfinite(value)) RaiseWriter("JSON has no number for " + FloatToStr(value));
  TJsonWriter::WriteValue(value);
  char buf[FloatToStrBufSize];
  FOut->append(buf, FloatToStrBuf(value, buf));
}
void TJsonTextWriter::WriteValue(bool value) {
  TJsonWriter::WriteValue(value);
  *FOut += value ? "true" : "false";
}
void TJsonTextWriter::WriteValue(char32_t value) {
  TJsonWriter::WriteValue(value);
  Quoted(Utf8Of(value));
}
void TJsonTextWriter::WriteValue(TDateTime value) {
  TJsonWriter::WriteValue(value);
  Quoted(IsoDateText(value));
}
void TJsonTextWriter::WriteValue(const TGUID& value) {
  TJsonWriter::WriteValue(value);
  Quoted(value.ToString());
}
void TJsonTextWriter::WriteValue(const TBytes& value, TJsonBinaryType binaryType) {
  TJsonWriter::WriteValue(value, binaryType);
  Quoted(Base64(value));
}
void TJsonTextWriter::WriteValue(const TJsonOid& value) {
  TJsonWriter::WriteValue(value);
  Quoted(value.AsString());
}
void TJsonTextWriter::WriteValue(const TJsonRegEx& value) {
  TJsonWriter::WriteValue(value);
  Quoted(RegExText(value));
}
void TJsonTextWriter::WriteValue(const TJsonDBRef& value) {
  WriteStartObject();
  WritePropertyName("$ref");
  WriteValue(value.Ref);
  WritePropertyName("$id");
  WriteValue(value.Id.AsString());
  WriteEndObject();
}
void TJsonTextWriter::WriteValue(const TJsonCodeWScope& value) {
  WriteStartObject();
  WritePropertyName("$code");
  WriteValue(value.Code);
  WritePropertyName("$scope");
  WriteStartObject();
  for (const auto& item : value.Scope) {
    WritePropertyName(item.Ident);
    WriteValue(item.Value);
  }
  WriteEndObject();
  WriteEndObject();
}

void TJsonTextWriter::Rewind() {
  TJsonWriter::Rewind();
  FOut->clear();
}

// ---- TJsonObjectWriter ----

TJsonObjectWriter::~TJsonObjectWriter() {
  // A tree that never completed is always the writer's; a complete one only with OwnValue.
  if (FOwnValue || !FOpen.empty()) delete FRoot;
}

TJSONValue* TJsonObjectWriter::GetJSON() const noexcept { return FOpen.empty() ? FRoot : nullptr; }

TJSONValue* TJsonObjectWriter::ReleaseJSON() noexcept {
  if (!FOpen.empty()) return nullptr;
  TJSONValue* r = FRoot;
  FRoot = nullptr;
  return r;
}

void TJsonObjectWriter::AddValue(TJSONValue* value) {
  std::unique_ptr<TJSONValue> guard(value);
  json_detail::TNodeArena::TScope scope(FArena);
  if (FOpen.empty()) {
    delete FRoot;
    FRoot = guard.release();
    return;
  }
  TJSONValue* top = FOpen.back();
  if (top->Kind() == TJSONValue::TKind::Object)
    static_cast<TJSONObject*>(top)->AddPair(std::move(FName), guard.release());
  else
    static_cast<TJSONArray*>(top)->AddElement(guard.release());
}

void TJsonObjectWriter::OpenContainer(TJSONValue* container) {
  AddValue(container);
  FOpen.push_back(container);
}

void TJsonObjectWriter::WriteStartObject() {
  TJsonWriter::WriteStartObject();
  json_detail::TNodeArena::TScope scope(FArena);
  OpenContainer(new TJSONObject);
}
void TJsonObjectWriter::WriteStartArray() {
  TJsonWriter::WriteStartArray();
  json_detail::TNodeArena::TScope scope(FArena);
  OpenContainer(new TJSONArray);
}
void TJsonObjectWriter::WriteEndObject() {
  TJsonWriter::WriteEndObject();
  FOpen.pop_back();
}
void TJsonObjectWriter::WriteEndArray() {
  TJsonWriter::WriteEndArray();
  FOpen.pop_back();
}
void TJsonObjectWriter::WriteEnd() {
  TJsonWriter::WriteEnd();  // dispatches to WriteEndObject / WriteEndArray
}
void TJsonObjectWriter::WriteStartConstructor(const std::string&) {
  RaiseWriter("A JSON object tree cannot hold a constructor");
}
void TJsonObjectWriter::WritePropertyName(const std::string& name) {
  TJsonWriter::WritePropertyName(name);
  FName = name;
}
void TJsonObjectWriter::WriteNull() {
  TJsonWriter::WriteNull();
  json_detail::TNodeArena::TScope scope(FArena);
  AddValue(new TJSONNull);
}
void TJsonObjectWriter::WriteUndefined() {
  TJsonWriter::WriteUndefined();
  AddValue(new TJSONNull);
}
void TJsonObjectWriter::WriteMinKey() {
  TJsonWriter::WriteMinKey();
  AddValue(new TJSONNull);
}
void TJsonObjectWriter::WriteMaxKey() {
  TJsonWriter::WriteMaxKey();
  AddValue(new TJSONNull);
}
void TJsonObjectWriter::WriteRaw(const std::string&) {
  RaiseWriter("Raw JSON text cannot be written into a JSON object tree");
}
void TJsonObjectWriter::WriteRawValue(const std::string& json) {
  std::unique_ptr<TJSONValue> v(TJSONObject::ParseJSONValue(json, true));
  TJsonWriter::WriteRawValue(json);
  AddValue(v.release());
}
void TJsonObjectWriter::WriteValue(const std::string& value) {
  TJsonWriter::WriteValue(value);
  AddValue(FArena.NewString(value));
}
void TJsonObjectWriter::WriteValue(int32_t value) {
  TJsonWriter::WriteValue(value);
  AddValue(new TJSONNumber(value));
}
void TJsonObjectWriter::WriteValue(uint32_t value) {
  TJsonWriter::WriteValue(value);
  AddValue(new TJSONNumber(value));
}
void TJsonObjectWriter::WriteValue(int64_t value) {
  TJsonWriter::WriteValue(value);
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, value);
  AddValue(FArena.NewNumberText(std::string_view(buf, static_cast<size_t>(r.ptr - buf))));
}
void TJsonObjectWriter::WriteValue(uint64_t value) {
  TJsonWriter::WriteValue(value);
  AddValue(new TJSONNumber(value));
}
void TJsonObjectWriter::WriteValue(uint8_t value) {
  TJsonWriter::WriteValue(value);
  AddValue(new TJSONNumber(static_cast<int32_t>(value)));
}
void TJsonObjectWriter::WriteValue(float value) { WriteValue(static_cast<double>(value)); }
void TJsonObjectWriter::WriteValue(double value) {
  // NaN raises before the state moves, with the number's own message.
  if (!std::isfinite(value)) delete new TJSONNumber(value);
  TJsonWriter::WriteValue(value);
  char buf[FloatToStrBufSize];
  AddValue(FArena.NewNumberText(std::string_view(buf, FloatToStrBuf(value, buf))));
}
void TJsonObjectWriter::WriteValue(bool value) {
  TJsonWriter::WriteValue(value);
  json_detail::TNodeArena::TScope scope(FArena);
  AddValue(value ? static_cast<TJSONValue*>(new TJSONTrue) : new TJSONFalse);
}
void TJsonObjectWriter::WriteValue(char32_t value) {
  TJsonWriter::WriteValue(value);
  AddValue(new TJSONString(Utf8Of(value)));
}
void TJsonObjectWriter::WriteValue(TDateTime value) {
  TJsonWriter::WriteValue(value);
  AddValue(new TJSONString(IsoDateText(value)));
}
void TJsonObjectWriter::WriteValue(const TGUID& value) {
  TJsonWriter::WriteValue(value);
  AddValue(new TJSONString(value.ToString()));
}
void TJsonObjectWriter::WriteValue(const TBytes& value, TJsonBinaryType binaryType) {
  TJsonWriter::WriteValue(value, binaryType);
  AddValue(new TJSONString(Base64(value)));
}
void TJsonObjectWriter::WriteValue(const TJsonOid& value) {
  TJsonWriter::WriteValue(value);
  AddValue(new TJSONString(value.AsString()));
}
void TJsonObjectWriter::WriteValue(const TJsonRegEx& value) {
  TJsonWriter::WriteValue(value);
  AddValue(new TJSONString(RegExText(value)));
}
void TJsonObjectWriter::WriteValue(const TJsonDBRef& value) {
  TJsonWriter::WriteValue(value);
  auto* o = new TJSONObject;
  AddValue(o);
  o->AddPair("$ref", value.Ref);
  o->AddPair("$id", value.Id.AsString());
}
void TJsonObjectWriter::WriteValue(const TJsonCodeWScope& value) {
  TJsonWriter::WriteValue(value);
  auto* o = new TJSONObject;
  AddValue(o);
  o->AddPair("$code", value.Code);
  auto* scope = new TJSONObject;
  o->AddPair("$scope", scope);
  for (const auto& item : value.Scope) scope->AddPair(item.Ident, item.Value);
}

void TJsonObjectWriter::Rewind() {
  TJsonWriter::Rewind();
  if (FOwnValue || !FOpen.empty()) delete FRoot;
  FRoot = nullptr;
  FOpen.clear();
  FName.clear();
}

// ---- TJsonTextReader ----

namespace {

class TTokenCollector : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, TTokenCollector> {
public:
  struct TTok {
    TJsonToken Type;
    size_t Start;
    size_t Length;
  };
  TTokenCollector(std::vector<TTok>& tokens, std::string& pool) : FTokens(tokens), FPool(pool) {}

  bool Null() { return Push(TJsonToken::Null, {}); }
  bool Bool(bool b) { return Push(TJsonToken::Boolean, b ? "1" : "0"); }
  bool RawNumber(const char* s, rapidjson::SizeType n, bool) {
    const std::string_view t(s, n);
    const bool isInteger = t.find_first_of(".eE") == std::string_view::npos;
    return Push(isInteger ? TJsonToken::Integer : TJsonToken::Float, t);
  }
  bool String(const char* s, rapidjson::SizeType n, bool) { return Push(TJsonToken::String, {s, n}); }
  bool Key(const char* s, rapidjson::SizeType n, bool) { return Push(TJsonToken::PropertyName, {s, n}); }
  bool StartObject() { return Open(TJsonToken::StartObject); }
  bool StartArray() { return Open(TJsonToken::StartArray); }
  bool EndObject(rapidjson::SizeType) {
    --FDepth;
    return Push(TJsonToken::EndObject, {});
  }
  bool EndArray(rapidjson::SizeType) {
    --FDepth;
    return Push(TJsonToken::EndArray, {});
  }
  bool DepthExceeded() const { return FDepthExceeded; }

private:
  bool Open(TJsonToken t) {
    if (FDepth >= JSONMaxDepth) {
      FDepthExceeded = true;
      return false;
    }
    ++FDepth;
    return Push(t, {});
  }
  bool Push(TJsonToken t, std::string_view text) {
    FTokens.push_back({t, FPool.size(), text.size()});
    FPool.append(text);
    return true;
  }
  std::vector<TTok>& FTokens;
  std::string& FPool;
  int FDepth = 0;
  bool FDepthExceeded = false;
};


}  // namespace

TJsonTextReader::TJsonTextReader(std::string text) : FText(std::move(text)) {}
TJsonTextReader::~TJsonTextReader() = default;

void TJsonTextReader::Tokenize() {
  FTokenized = true;
  const size_t bom = std::string_view(FText).starts_with("\xEF\xBB\xBF") ? 3 : 0;
  rapidjson::MemoryStream stream(FText.data() + bom, FText.size() - bom);
  rapidjson::Reader reader;
  std::vector<TTokenCollector::TTok> tokens;
  TTokenCollector collector(tokens, FPool);
  constexpr unsigned kFlags =
      rapidjson::kParseIterativeFlag | rapidjson::kParseNumbersAsStringsFlag | rapidjson::kParseStopWhenDoneFlag;
  const rapidjson::ParseResult result = reader.Parse<kFlags>(stream, collector);
  FTokens.reserve(tokens.size());
  for (const auto& t : tokens) FTokens.push_back({t.Type, t.Start, t.Length});
  if (result.IsError()) {
    const size_t offset = bom + result.Offset();
    FError = (collector.DepthExceeded() ? "JSON nested deeper than " + std::to_string(JSONMaxDepth) + " levels"
                                        : "Invalid JSON: " + ParseErrorText(result.Code())) +
             JsonPositionText(FText, offset);
    return;
  }
  size_t rest = bom + stream.Tell();
  while (rest < FText.size() && (FText[rest] == ' ' || FText[rest] == '\t' || FText[rest] == '\n' || FText[rest] == '\r'))
    ++rest;
  if (rest != FText.size()) FError = "Invalid JSON: unexpected text after the value" + JsonPositionText(FText, rest);
}

bool TJsonTextReader::Read() {
  if (FClosed) return false;
  if (!FTokenized) Tokenize();
  if (FNext >= FTokens.size()) {
    if (!FError.empty()) throw EJsonReaderException(FError);
    SetFinished();
    return false;
  }
  const TTok& t = FTokens[FNext++];
  const std::string_view text(FPool.data() + t.Start, t.Length);
  switch (t.Type) {
    case TJsonToken::String:
    case TJsonToken::PropertyName:
      SetTextToken(t.Type, text);
      break;
    case TJsonToken::Boolean:
      SetBooleanToken(text == "1");
      break;
    case TJsonToken::Integer: {
      int64_t i = 0;
      if (auto r = std::from_chars(text.data(), text.data() + text.size(), i); r.ec == std::errc()) {
        SetIntegerToken(i);
        break;
      }
      uint64_t u = 0;
      if (auto r = std::from_chars(text.data(), text.data() + text.size(), u); r.ec == std::errc()) {
        SetToken(t.Type, TValue::From(u));
        break;
      }
      [[fallthrough]];
    }
    case TJsonToken::Float: {
      double d = 0;
      std::unique_ptr<TJSONNumber> n(TJSONNumber::FromTrustedText(text.data(), text.size()));
      if (!n->TryAsDouble(d)) throw EJsonReaderException("Number out of range: " + std::string(text));
      SetFloatToken(d);
      break;
    }
    default:
      SetToken(t.Type);
      break;
  }
  return true;
}

void TJsonTextReader::Rewind() {
  TJsonReader::Rewind();
  FNext = 0;
  FClosed = false;
}

void TJsonTextReader::Close() {
  TJsonReader::Close();
  FClosed = true;
}

}  // namespace quorvel
