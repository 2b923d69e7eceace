#include "lib/formats/JSONBSON.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <new>
#include <cstring>
#include <limits>

#include "framework/io/Json.h"
#include "framework/rtl/Exceptions.h"
#include "framework/rtl/SysUtils.h"

namespace quorvel {

namespace {

enum : uint8_t {
  btDouble = 0x01, btString = 0x02, btDocument = 0x03, btArray = 0x04, btBinary = 0x05,
  btUndefined = 0x06, btOid = 0x07, btBoolean = 0x08, btDate = 0x09, btNull = 0x0A,
  btRegEx = 0x0B, btDBPointer = 0x0C, btCode = 0x0D, btSymbol = 0x0E, btCodeWScope = 0x0F,
  btInt32 = 0x10, btTimestamp = 0x11, btInt64 = 0x12, btMaxKey = 0x7F, btMinKey = 0xFF,
};

[[noreturn]] void RaiseWriter(const std::string& msg) { throw EJsonWriterException(msg); }

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | ((c >> 18) & 0x07));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

constexpr size_t MaxContainerSize = static_cast<size_t>(std::numeric_limits<int32_t>::max());
// A memory stream holding at most this much before a document gets the document's block.
constexpr int64_t MaxPrefix = 4096;

}  // namespace

// ---------------------------------------------------------------------------------------

TBsonWriter::TBsonWriter(TStream* stream) : FStream(stream) {}

TBsonWriter::~TBsonWriter() {
  try {
    if (GetWriteState() != TState::Closed) Close();
  } catch (...) {
    // a destructor cannot report; the document stays incomplete
  }
}

void TBsonWriter::PutInt32(int32_t v) {
  char b[4];
  std::memcpy(b, &v, 4);  // little-endian host
  FBuffer.append(b, 4);
}

void TBsonWriter::PutInt64(int64_t v) {
  char b[8];
  std::memcpy(b, &v, 8);
  FBuffer.append(b, 8);
}

void TBsonWriter::TBuffer::Grow(size_t n) {
  if (n > std::numeric_limits<size_t>::max() / 2 - FSize) throw std::bad_alloc();
  const size_t capacity = std::max({FSize + n, FCapacity * 2, size_t(256)});
  void* p = std::realloc(FData, capacity);
  if (!p) throw std::bad_alloc();
  FData = static_cast<char*>(p);
  FCapacity = capacity;
}

void TBsonWriter::PutCString(std::string_view s) {
  if (s.find('\0') != std::string_view::npos) RaiseWriter("A BSON name or pattern cannot hold a zero byte");
  FBuffer.append(s);
  FBuffer += '\0';
}

void TBsonWriter::PutString(std::string_view s) {
  if (s.size() >= MaxContainerSize) RaiseWriter("String too long for BSON");
  PutInt32(static_cast<int32_t>(s.size() + 1));
  FBuffer.append(s);
  FBuffer += '\0';
}

bool TBsonWriter::IgnoreEmpty(size_t size) const {
  return size == 0 && GetEmptyValueHandling() == TJsonEmptyValueHandling::Ignore;
}

void TBsonWriter::ElementHeader(uint8_t type, std::string_view name) {
  if (FStack.empty()) RaiseWriter("A BSON document must start with an object or an array");
  TContainer& top = FStack.back();
  // Written in place: an element header is a few bytes, and a copy call per element would cost
  // more than the bytes.
  if (top.IsArray) {
    char* const p = FBuffer.room(12);  // type, up to 10 digits, zero
    p[0] = static_cast<char>(type);
    char* end = std::to_chars(p + 1, p + 11, top.Index++).ptr;
    *end++ = '\0';
    FBuffer.extend(static_cast<size_t>(end - p));
  } else {
    char* const p = FBuffer.room(name.size() + 2);
    p[0] = static_cast<char>(type);
    if (!name.empty()) std::memcpy(p + 1, name.data(), name.size());
    p[name.size() + 1] = '\0';
    FBuffer.extend(name.size() + 2);
  }
}

void TBsonWriter::Start(bool isArray) {
  if (!FStack.empty()) {
    ElementHeader(isArray ? btArray : btDocument);
  } else if (TMemoryStream* memory = TMemoryStream::PlainMemory(FStream)) {
    const int64_t held = memory->GetSize();
    if (memory->GetPosition() == held && held <= MaxPrefix) {
      FBuffer.extend(static_cast<size_t>(held));
      FPrefix = static_cast<size_t>(held);
    }
  }
  FStack.push_back({FBuffer.size(), isArray, 0});
  PutInt32(0);
}

void TBsonWriter::End() {
  const size_t position = FStack.back().Position;
  FStack.pop_back();
  FBuffer += '\0';
  const size_t length = FBuffer.size() - position;
  if (length > MaxContainerSize) RaiseWriter("BSON container larger than 2147483647 bytes");
  const auto v = static_cast<int32_t>(length);
  std::memcpy(FBuffer.data() + position, &v, 4);
  if (FStack.empty()) Deliver();
}

void TBsonWriter::Deliver() {
  const size_t prefix = FPrefix;
  FPrefix = 0;
  const size_t length = FBuffer.size() - prefix;
  // The stream must still hold just what the room was kept for, and copying that in must cost
  // no more than the copy of the document it saves.
  TMemoryStream* memory = TMemoryStream::PlainMemory(FStream);
  if (memory && memory->GetSize() == static_cast<int64_t>(prefix) &&
      memory->GetPosition() == static_cast<int64_t>(prefix) && prefix <= length) {
    if (prefix > 0) std::memcpy(FBuffer.data(), memory->GetMemory(), prefix);
    const size_t size = FBuffer.size();
    size_t capacity = 0;
    char* block = FBuffer.release(capacity);
    memory->Adopt(block, static_cast<int64_t>(size), static_cast<int64_t>(capacity));
    return;
  }
  FStream->WriteBuffer(FBuffer.data() + prefix, static_cast<int64_t>(length));
  FBuffer.clear();
}

void TBsonWriter::WriteStartObject() {
  TJsonWriter::WriteStartObject();
  Start(false);
}
void TBsonWriter::WriteEndObject() {
  TJsonWriter::WriteEndObject();
  End();
}
void TBsonWriter::WriteStartArray() {
  TJsonWriter::WriteStartArray();
  Start(true);
}
void TBsonWriter::WriteEndArray() {
  TJsonWriter::WriteEndArray();
  End();
}
void TBsonWriter::WriteStartConstructor(const std::string&) {
  RaiseWriter("Cannot write JavaScript constructor as BSON");
}
void TBsonWriter::WriteRaw(const std::string&) { RaiseWriter("Cannot write raw JSON as BSON"); }
void TBsonWriter::WriteRawValue(const std::string&) { RaiseWriter("Cannot write raw JSON as BSON"); }
void TBsonWriter::WriteComment(const std::string&) { RaiseWriter("Cannot write JSON comment as BSON"); }

void TBsonWriter::WritePropertyName(const std::string& name) {
  if (name.find('\0') != std::string::npos) RaiseWriter("A BSON name cannot hold a zero byte");
  TJsonWriter::WritePropertyName(name);
  FPropertyName = name;
}

void TBsonWriter::WriteNull() {
  TJsonWriter::WriteNull();
  ElementHeader(btNull);
}
void TBsonWriter::WriteUndefined() {
  TJsonWriter::WriteUndefined();
  ElementHeader(btUndefined);
}
void TBsonWriter::WriteMinKey() {
  TJsonWriter::WriteMinKey();
  ElementHeader(btMinKey);
}
void TBsonWriter::WriteMaxKey() {
  TJsonWriter::WriteMaxKey();
  ElementHeader(btMaxKey);
}

void TBsonWriter::WriteValue(const std::string& value) {
  TJsonWriter::WriteValue(value);
  if (IgnoreEmpty(value.size())) return;
  ElementHeader(btString);
  PutString(value);
}
void TBsonWriter::WriteCode(const std::string& code) {
  TJsonWriter::WriteValue(code);
  ElementHeader(btCode);
  PutString(code);
}
void TBsonWriter::WriteValue(int32_t value) {
  TJsonWriter::WriteValue(value);
  ElementHeader(btInt32);
  PutInt32(value);
}
void TBsonWriter::WriteValue(uint32_t value) {
  TJsonWriter::WriteValue(value);
  ElementHeader(btInt32);
  PutInt32(static_cast<int32_t>(value));  // keeps its 32 bits
}
void TBsonWriter::WriteValue(uint8_t value) {
  TJsonWriter::WriteValue(value);
  ElementHeader(btInt32);
  PutInt32(value);
}
void TBsonWriter::WriteValue(int64_t value) {
  TJsonWriter::WriteValue(value);
  ElementHeader(btInt64);
  PutInt64(value);
}
void TBsonWriter::WriteValue(uint64_t value) {
  TJsonWriter::WriteValue(value);
  ElementHeader(btInt64);
  PutInt64(static_cast<int64_t>(value));
}
void TBsonWriter::WriteValue(float value) { WriteValue(static_cast<double>(value)); }
void TBsonWriter::WriteValue(double value) {
  TJsonWriter::WriteValue(value);
  ElementHeader(btDouble);
  int64_t bits;
  std::memcpy(&bits, &value, 8);
  PutInt64(bits);
}
void TBsonWriter::WriteValue(bool value) {
  TJsonWriter::WriteValue(value);
  ElementHeader(btBoolean);
  FBuffer += static_cast<char>(value ? 1 : 0);
}
void TBsonWriter::WriteValue(char32_t value) {
  std::string s;
  AppendUtf8(s, value);
  WriteValue(s);
}
void TBsonWriter::WriteValue(TDateTime value) {
  TJsonWriter::WriteValue(value);
  ElementHeader(btDate);
  PutInt64(DateTimeToUnix(value) * 1000);
}
void TBsonWriter::WriteValue(const TGUID& value) {
  TJsonWriter::WriteValue(value);
  ElementHeader(btBinary);
  PutInt32(16);
  FBuffer += static_cast<char>(TJsonBinaryType::UUID);
  char b[16];
  std::memcpy(b, &value.D1, 4);
  std::memcpy(b + 4, &value.D2, 2);
  std::memcpy(b + 6, &value.D3, 2);
  std::memcpy(b + 8, value.D4, 8);
  FBuffer.append(b, 16);
}
void TBsonWriter::WriteValue(const TBytes& value, TJsonBinaryType binaryType) {
  TJsonWriter::WriteValue(value, binaryType);
  if (IgnoreEmpty(value.size())) return;
  if (value.size() >= MaxContainerSize - 4) RaiseWriter("Binary value too long for BSON");
  ElementHeader(btBinary);
  const bool old = binaryType == TJsonBinaryType::BinaryOld;
  PutInt32(static_cast<int32_t>(value.size() + (old ? 4 : 0)));
  FBuffer += static_cast<char>(binaryType);
  if (old) PutInt32(static_cast<int32_t>(value.size()));
  FBuffer.append(reinterpret_cast<const char*>(value.data()), value.size());
}
void TBsonWriter::WriteValue(const TJsonOid& value) {
  TJsonWriter::WriteValue(value);
  ElementHeader(btOid);
  FBuffer.append(reinterpret_cast<const char*>(value.Bytes.data()), 12);
}
void TBsonWriter::WriteValue(const TJsonRegEx& value) {
  TJsonWriter::WriteValue(value);
  ElementHeader(btRegEx);
  PutCString(value.RegEx);
  PutCString(value.Options);
}
void TBsonWriter::WriteValue(const TJsonDBRef& value) {
  TJsonWriter::WriteValue(value);
  ElementHeader(btDBPointer);
  PutString(value.Ref);
  FBuffer.append(reinterpret_cast<const char*>(value.Id.Bytes.data()), 12);
}
void TBsonWriter::WriteValue(const TJsonCodeWScope& value) {
  TJsonWriter::WriteValue(value);
  ElementHeader(btCodeWScope);
  const size_t start = FBuffer.size();
  PutInt32(0);
  PutString(value.Code);
  const size_t scope = FBuffer.size();
  PutInt32(0);
  for (const auto& item : value.Scope) {
    FBuffer += static_cast<char>(btString);
    PutCString(item.Ident);
    PutString(item.Value);
  }
  FBuffer += '\0';
  if (FBuffer.size() - start > MaxContainerSize) RaiseWriter("Code with scope too long for BSON");
  const auto scopeLength = static_cast<int32_t>(FBuffer.size() - scope);
  const auto total = static_cast<int32_t>(FBuffer.size() - start);
  std::memcpy(FBuffer.data() + scope, &scopeLength, 4);
  std::memcpy(FBuffer.data() + start, &total, 4);
}

void TBsonWriter::Flush() {
  if (GetWriteState() == TState::Closed) return;
  if (HasPendingPropertyName()) WriteNull();
  while (GetTop() > 0) WriteEnd();
}

void TBsonWriter::Close() {
  TJsonWriter::Close();  // closes the open containers through the overrides above
}

void TBsonWriter::Rewind() {
  TJsonWriter::Rewind();
  FBuffer.clear();
  FPrefix = 0;
  FStack.clear();
  FPropertyName.clear();
}

// ---------------------------------------------------------------------------------------

TBsonReader::TBsonReader(TStream* stream, bool readRootAsArray)
    : FStream(stream), FStart(stream->GetPosition()), FReadRootValueAsArray(readRootAsArray) {}

void TBsonReader::Fail(const std::string& message) const {
  throw EJsonReaderException(message + " (BSON offset " + std::to_string(FPos) + ")");
}

void TBsonReader::Need(size_t count, size_t limit, const char* what) const {
  if (FPos > limit || limit - FPos < count) Fail(std::string(what) + " runs past its container");
}

int32_t TBsonReader::GetInt32(size_t limit, const char* what) {
  Need(4, limit, what);
  int32_t v;
  std::memcpy(&v, FData + FPos, 4);
  FPos += 4;
  return v;
}

int64_t TBsonReader::GetInt64(size_t limit, const char* what) {
  Need(8, limit, what);
  int64_t v;
  std::memcpy(&v, FData + FPos, 8);
  FPos += 8;
  return v;
}

std::string_view TBsonReader::GetCString(size_t limit, const char* what) {
  if (FPos >= limit) Fail(std::string(what) + " runs past its container");
  const void* zero = std::memchr(FData + FPos, 0, limit - FPos);
  if (!zero) Fail(std::string(what) + " has no terminating zero byte");
  const size_t end = static_cast<size_t>(static_cast<const char*>(zero) - FData);
  const std::string_view s(FData + FPos, end - FPos);
  FPos = end + 1;
  return s;
}

std::string_view TBsonReader::GetString(size_t limit, const char* what) {
  const int32_t length = GetInt32(limit, what);
  if (length < 1) Fail(std::string(what) + " has an invalid length " + std::to_string(length));
  Need(static_cast<size_t>(length), limit, what);
  if (FData[FPos + static_cast<size_t>(length) - 1] != '\0') Fail(std::string(what) + " has no terminating zero byte");
  const std::string_view s(FData + FPos, static_cast<size_t>(length) - 1);
  FPos += static_cast<size_t>(length);
  return s;
}

void TBsonReader::ReadRoot() {
  int32_t length = 0;
  // A memory stream that holds the whole document is read in place.
  if (auto* memory = dynamic_cast<TCustomMemoryStream*>(FStream)) {
    const int64_t position = memory->GetPosition();
    const int64_t held = memory->GetSize() - position;
    if (held >= 4) {
      const char* data = static_cast<const char*>(memory->GetMemory()) + position;
      std::memcpy(&length, data, 4);
      if (length >= 5 && held >= length) {
        memory->SetPosition(position + length);
        FData = data;
        FPos = 4;
        FStack.push_back({static_cast<size_t>(length), FReadRootValueAsArray});
        SetToken(FReadRootValueAsArray ? TJsonToken::StartArray : TJsonToken::StartObject);
        return;
      }
    }
  }
  if (FStream->Read(&length, 4) != 4) Fail("BSON data ends before the document length");
  if (length < 5) Fail("BSON document length " + std::to_string(length) + " is below the minimum of 5");
  // Grows with the bytes actually read, so a huge declared length cannot allocate ahead; a
  // stream that holds the whole document is read in one piece.
  FDoc.assign(reinterpret_cast<const char*>(&length), 4);
  const size_t total = static_cast<size_t>(length);
  const int64_t held = FStream->GetSize() - FStream->GetPosition();
  if (held >= static_cast<int64_t>(total - 4)) FDoc.reserve(total);
  while (FDoc.size() < total) {
    const size_t chunk = std::min<size_t>(total - FDoc.size(), std::max<size_t>(FDoc.size(), 65536));
    const size_t old = FDoc.size();
    FDoc.resize(old + chunk);
    const int64_t got = FStream->Read(FDoc.data() + old, static_cast<int64_t>(chunk));
    if (got < static_cast<int64_t>(chunk)) {
      FPos = old + static_cast<size_t>(got < 0 ? 0 : got);
      Fail("BSON data ends inside the document");
    }
  }
  FData = FDoc.data();
  FPos = 4;
  FStack.push_back({total, FReadRootValueAsArray});
  SetToken(FReadRootValueAsArray ? TJsonToken::StartArray : TJsonToken::StartObject);
}

bool TBsonReader::Read() {
  if (FDone) {
    SetFinished();
    return false;
  }
  if (!FStarted) {
    FStarted = true;
    ReadRoot();
    return true;
  }
  if (FPendingType != 0) {
    ReadValue();
    return true;
  }
  const TContext top = FStack.back();
  if (FPos == top.End - 1) {
    if (FData[FPos] != '\0') Fail("BSON container does not end with a zero byte");
    ++FPos;
    FStack.pop_back();
    SetToken(top.IsArray ? TJsonToken::EndArray : TJsonToken::EndObject);
    if (FStack.empty()) FDone = true;
    return true;
  }
  if (FPos > top.End - 1) Fail("BSON element runs past its container");
  FPendingType = static_cast<uint8_t>(FData[FPos++]);
  const std::string_view name = GetCString(Limit(), "BSON element name");
  if (top.IsArray) {
    ReadValue();
  } else {
    SetTextToken(TJsonToken::PropertyName, name);
  }
  return true;
}

void TBsonReader::ReadValue() {
  const uint8_t type = FPendingType;
  FPendingType = 0;
  const size_t limit = Limit();
  switch (type) {
    case btDouble: {
      const int64_t bits = GetInt64(limit, "BSON double");
      double d;
      std::memcpy(&d, &bits, 8);
      // JSON has no number for it: the reader's own error, not one of whoever takes the token.
      if (!std::isfinite(d)) Fail("BSON double " + FloatToStr(d) + " is not a finite number");
      SetFloatToken(d);
      break;
    }
    case btString:
    case btCode:
    case btSymbol:
      SetTextToken(TJsonToken::String, GetString(limit, "BSON string"));
      break;
    case btDocument:
    case btArray: {
      const size_t start = FPos;
      const int32_t length = GetInt32(limit, "BSON container");
      if (length < 5) Fail("BSON container length " + std::to_string(length) + " is below the minimum of 5");
      FPos = start;
      Need(static_cast<size_t>(length), limit, "BSON container");
      if (FStack.size() >= static_cast<size_t>(JSONMaxDepth)) Fail("BSON document nested too deeply");
      FPos = start + 4;
      FStack.push_back({start + static_cast<size_t>(length), type == btArray});
      SetToken(type == btArray ? TJsonToken::StartArray : TJsonToken::StartObject);
      break;
    }
    case btBinary: {
      int32_t length = GetInt32(limit, "BSON binary");
      if (length < 0) Fail("BSON binary has a negative length");
      Need(1 + static_cast<size_t>(length), limit, "BSON binary");
      const auto subtype = static_cast<uint8_t>(FData[FPos++]);
      const size_t end = FPos + static_cast<size_t>(length);
      if (subtype == static_cast<uint8_t>(TJsonBinaryType::BinaryOld)) {
        const int32_t inner = GetInt32(end, "BSON binary");
        if (inner < 0 || static_cast<size_t>(inner) > end - FPos) Fail("BSON binary has an invalid inner length");
        length = inner;
      }
      TBytes bytes(reinterpret_cast<const uint8_t*>(FData + FPos),
                   reinterpret_cast<const uint8_t*>(FData + FPos + length));
      FPos = end;
      SetToken(TJsonToken::Bytes, TValue(std::move(bytes)));
      break;
    }
    case btUndefined: SetToken(TJsonToken::Undefined); break;
    case btOid: {
      Need(12, limit, "BSON object id");
      TJsonOid oid;
      std::memcpy(oid.Bytes.data(), FData + FPos, 12);
      FPos += 12;
      SetToken(TJsonToken::Oid, TValue(oid));
      break;
    }
    case btBoolean:
      Need(1, limit, "BSON boolean");
      SetBooleanToken(FData[FPos++] != 0);
      break;
    case btDate: {
      const int64_t ms = GetInt64(limit, "BSON date");
      SetToken(TJsonToken::Date, TValue(UnixToDateTime(ms / 1000)));
      break;
    }
    case btNull: SetToken(TJsonToken::Null); break;
    case btRegEx: {
      TJsonRegEx r;
      r.RegEx = GetCString(limit, "BSON regular expression");
      r.Options = GetCString(limit, "BSON regular expression");
      SetToken(TJsonToken::RegEx, TValue(std::move(r)));
      break;
    }
    case btDBPointer: {
      TJsonDBRef r;
      r.Ref = GetString(limit, "BSON DB pointer");
      Need(12, limit, "BSON DB pointer");
      std::memcpy(r.Id.Bytes.data(), FData + FPos, 12);
      FPos += 12;
      SetToken(TJsonToken::DBRef, TValue(std::move(r)));
      break;
    }
    case btCodeWScope: {
      const size_t start = FPos;
      const int32_t total = GetInt32(limit, "BSON code with scope");
      if (total < 14) Fail("BSON code with scope length " + std::to_string(total) + " is below the minimum of 14");
      FPos = start;
      Need(static_cast<size_t>(total), limit, "BSON code with scope");
      const size_t end = start + static_cast<size_t>(total);
      FPos = start + 4;
      TJsonCodeWScope c;
      c.Code = GetString(end, "BSON code with scope");
      const size_t scope = FPos;
      const int32_t scopeLength = GetInt32(end, "BSON code scope");
      if (scopeLength < 5 || static_cast<size_t>(scopeLength) != end - scope)
        Fail("BSON code scope length does not match its element");
      while (FPos < end - 1) {
        const auto itemType = static_cast<uint8_t>(FData[FPos++]);
        if (itemType != btString) Fail("Unexpected element type in BSON code scope");
        TJsonCodeWScope::TScopeItem item;
        item.Ident = GetCString(end - 1, "BSON code scope name");
        item.Value = GetString(end - 1, "BSON code scope value");
        c.Scope.push_back(std::move(item));
      }
      if (FPos != end - 1 || FData[FPos] != '\0') Fail("BSON code scope does not end with a zero byte");
      FPos = end;
      SetToken(TJsonToken::CodeWScope, TValue(std::move(c)));
      break;
    }
    case btInt32: SetIntegerToken(GetInt32(limit, "BSON int32")); break;
    case btTimestamp:
    case btInt64: SetIntegerToken(GetInt64(limit, "BSON int64")); break;
    case btMaxKey: SetToken(TJsonToken::MaxKey); break;
    case btMinKey: SetToken(TJsonToken::MinKey); break;
    default: {
      char hex[8];
      std::snprintf(hex, sizeof hex, "0x%02X", type);
      Fail(std::string("Unknown BSON element type ") + hex);
    }
  }
}

void TBsonReader::Rewind() {
  TJsonReader::Rewind();
  FStream->SetPosition(FStart);
  FDoc.clear();
  FData = nullptr;
  FStack.clear();
  FPos = 0;
  FPendingType = 0;
  FStarted = false;
  FDone = false;
}

void TBsonReader::Close() {
  TJsonReader::Close();
  FDoc.clear();
  FDoc.shrink_to_fit();
  FData = nullptr;
  FStack.clear();
  FDone = true;
}

}  // namespace quorvel
