#pragma once
// The JSON token model: TJsonReader delivers a document as a sequence of tokens, TJsonWriter
// receives one. Codecs for other encodings of the same data (BSON) derive from the two bases;
// TJsonTextReader / TJsonTextWriter are the JSON-text pair and TJsonObjectWriter turns tokens
// into a TJSONValue tree (Json.h).
//
// Deriving a writer: override the Write... operations the format supports and call the base
// operation first in each (it checks the sequence, keeps the container stack and calls the
// layout hooks). Overriding one WriteValue overload hides the others; add
// `using TJsonWriter::WriteValue;` to the derived class.
//
// Deriving a reader: implement Read(), which reports each token with SetToken (the base keeps
// depth, path and state) and answers false at the end.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "framework/io/Json.h"
#include "framework/rtl/DateTime.h"
#include "framework/rtl/Guid.h"
#include "framework/rtl/Object.h"
#include "framework/rtl/TypeName.h"
#include "framework/rtl/Value.h"

namespace quorvel {

using TBytes = std::vector<uint8_t>;

enum class TJsonToken : uint8_t {
  None,
  StartObject,
  StartArray,
  StartConstructor,
  PropertyName,
  Comment,
  Raw,
  Integer,
  Float,
  String,
  Boolean,
  Null,
  Undefined,
  EndObject,
  EndArray,
  EndConstructor,
  Date,
  Bytes,
  Oid,
  RegEx,
  DBRef,
  CodeWScope,
  MinKey,
  MaxKey,
};
const char* JsonTokenName(TJsonToken token);  // "StartObject", ...

enum class TJsonContainerType : uint8_t { None, Object, Array, Constructor };

// Binary subtypes as BSON numbers them.
enum class TJsonBinaryType : uint8_t {
  Generic = 0x00,
  Function = 0x01,
  BinaryOld = 0x02,
  UUIDOld = 0x03,
  UUID = 0x04,
  MD5 = 0x05,
  UserDefined = 0x80,
};

// What a writer does with an empty string or an empty byte array: write it (Empty), write a
// null instead (Null), or leave the element out (Ignore; honoured by writers that hold the
// property name back until the value, such as the BSON writer).
enum class TJsonEmptyValueHandling : uint8_t { Empty, Null, Ignore };
enum class TJsonFormatting : uint8_t { None, Indented };
enum class TJsonStringEscapeHandling : uint8_t { Default, EscapeNonAscii };

// A 12-byte object id; its text form is 24 lower-case hexadecimal digits.
struct TJsonOid {
  std::array<uint8_t, 12> Bytes{};

  TJsonOid() = default;
  // Raises EConvertError unless the text is 24 hexadecimal digits.
  explicit TJsonOid(std::string_view hex);
  std::string AsString() const;
  friend bool operator==(const TJsonOid&, const TJsonOid&) = default;
};
QUORVEL_TYPE_NAME(TJsonOid)

struct TJsonRegEx {
  std::string RegEx;
  std::string Options;
  friend bool operator==(const TJsonRegEx&, const TJsonRegEx&) = default;
};
QUORVEL_TYPE_NAME(TJsonRegEx)

struct TJsonDBRef {
  std::string Ref;
  TJsonOid Id;
  friend bool operator==(const TJsonDBRef&, const TJsonDBRef&) = default;
};
QUORVEL_TYPE_NAME(TJsonDBRef)

struct TJsonCodeWScope {
  struct TScopeItem {
    std::string Ident;
    std::string Value;
    friend bool operator==(const TScopeItem&, const TScopeItem&) = default;
  };
  std::string Code;
  std::vector<TScopeItem> Scope;
  friend bool operator==(const TJsonCodeWScope&, const TJsonCodeWScope&) = default;
};
QUORVEL_TYPE_NAME(TJsonCodeWScope)

// ---------------------------------------------------------------------------------------

// Token values (GetValue) by token: PropertyName, String, Comment, Raw: std::string; Integer:
// int64_t (uint64_t above its range); Float: double; Boolean: bool; Date: TDateTime; Bytes:
// TBytes; Oid, RegEx, DBRef, CodeWScope: their records; StartConstructor: the name; other
// tokens: empty.
class TJsonReader : public TObject {
public:
  enum class TState : uint8_t { Start, Property, ObjectStart, Object, ArrayStart, Array,
                                ConstructorStart, Constructor, PostValue, Finished, Closed, Error };

  ~TJsonReader() override = default;

  // Moves to the next token; false at the end of the input.
  virtual bool Read() = 0;
  // On a property name: passes over its value; on a start token: passes over the container up
  // to its end token (which becomes the current token). Otherwise does nothing.
  virtual void Skip();
  // Back to the state before the first Read (derived readers also reset their input).
  virtual void Rewind();
  virtual void Close();

  TJsonToken GetTokenType() const noexcept { return FTokenType; }
  const TValue& GetValue() const {
    if (FHeld != THeld::None) MakeValue();
    return FValue;
  }
  TState GetCurrentState() const noexcept { return FState; }
  // The number of containers around the current token; a start or end token counts as
  // outside its own container.
  int GetDepth() const noexcept;
  // Where the current token is: "Materials[2].Id"; empty at the root.
  std::string GetPath() const;

  static bool IsStartToken(TJsonToken t) noexcept {
    return t == TJsonToken::StartObject || t == TJsonToken::StartArray || t == TJsonToken::StartConstructor;
  }
  static bool IsEndToken(TJsonToken t) noexcept {
    return t == TJsonToken::EndObject || t == TJsonToken::EndArray || t == TJsonToken::EndConstructor;
  }

protected:
  TJsonReader() = default;
  // Reports the current token. An end token that does not close the innermost container, or
  // a value where the sequence does not allow one, raises EJsonReaderException.
  void SetToken(TJsonToken token, TValue value = TValue());
  // The same for the common values, without building a TValue per token: a name or string
  // (copied into a buffer the reader reuses), an integer, a float, a boolean. GetValue builds
  // the TValue only when asked.
  void SetTextToken(TJsonToken token, std::string_view text);
  void SetIntegerToken(int64_t value);
  void SetFloatToken(double value);
  void SetBooleanToken(bool value);
  // Reports the end of the input (token None, state Finished).
  void SetFinished();

private:
  friend class TJsonWriter;  // copies held values without a TValue
  struct TLevel {
    TJsonContainerType Type;
    int Index;  // arrays: the current element; -1 before the first
    std::string PropertyName;
  };
  // What the current token's value is held as until GetValue asks for a TValue.
  enum class THeld : uint8_t { None, Text, Integer, Float, Boolean };
  void Advance(TJsonToken token, std::string_view name);
  void MakeValue() const;

  TJsonToken FTokenType = TJsonToken::None;
  mutable THeld FHeld = THeld::None;
  mutable TValue FValue;
  std::string FText;
  union {
    int64_t FHeldInteger = 0;
    double FHeldFloat;
    bool FHeldBoolean;
  };
  TState FState = TState::Start;
  std::vector<TLevel> FStack;
};

// ---------------------------------------------------------------------------------------

class TJsonWriter : public TObject {
public:
  enum class TState : uint8_t { Start, Property, Object, Array, Constructor, Complete, Closed, Error };

  ~TJsonWriter() override = default;

  virtual void WriteStartObject();
  virtual void WriteEndObject();
  virtual void WriteStartArray();
  virtual void WriteEndArray();
  virtual void WriteStartConstructor(const std::string& name);
  virtual void WriteEndConstructor();
  // Closes the innermost open container, whatever its kind.
  virtual void WriteEnd();
  virtual void WritePropertyName(const std::string& name);

  virtual void WriteNull();
  virtual void WriteUndefined();
  virtual void WriteMinKey();
  virtual void WriteMaxKey();
  virtual void WriteRaw(const std::string& json);
  virtual void WriteRawValue(const std::string& json);
  virtual void WriteComment(const std::string& comment);

  virtual void WriteValue(const std::string& value);
  void WriteValue(const char* value) { WriteValue(std::string(value ? value : "")); }
  virtual void WriteValue(int32_t value);
  virtual void WriteValue(uint32_t value);
  virtual void WriteValue(int64_t value);
  virtual void WriteValue(uint64_t value);
  virtual void WriteValue(uint8_t value);
  virtual void WriteValue(float value);
  virtual void WriteValue(double value);
  virtual void WriteValue(bool value);
  virtual void WriteValue(char32_t value);  // one character, written as a string
  virtual void WriteValue(TDateTime value);
  virtual void WriteValue(const TGUID& value);
  virtual void WriteValue(const TBytes& value, TJsonBinaryType binaryType = TJsonBinaryType::Generic);
  virtual void WriteValue(const TJsonOid& value);
  virtual void WriteValue(const TJsonRegEx& value);
  virtual void WriteValue(const TJsonDBRef& value);
  virtual void WriteValue(const TJsonCodeWScope& value);

  virtual void Flush() {}
  // Closes every open container and refuses further writes.
  virtual void Close();
  // Back to the state of a new writer (derived writers also reset their output).
  virtual void Rewind();

  // Copies the reader's current token, and with writeChildren the rest of its value: the
  // property's value for a name, the whole container for a start token. A reader before its
  // first token is read first, so a fresh reader is copied whole.
  void WriteToken(TJsonReader& reader, bool writeChildren = true);

  // Open containers.
  int GetTop() const noexcept { return static_cast<int>(FStack.size()); }
  TState GetWriteState() const noexcept { return FState; }
  TJsonContainerType GetContainerType() const noexcept {
    return FStack.empty() ? TJsonContainerType::None : FStack.back().Type;
  }
  TJsonEmptyValueHandling GetEmptyValueHandling() const noexcept { return FEmptyValueHandling; }
  void SetEmptyValueHandling(TJsonEmptyValueHandling v) noexcept { FEmptyValueHandling = v; }

protected:
  TJsonWriter() = default;

  // Sequence bookkeeping; each raises EJsonWriterException when the token is not allowed
  // where the writer stands (a value in an object without a name, a name outside an object,
  // an end that does not match, anything after the root value is complete).
  void InternalWriteStart(TJsonToken token, TJsonContainerType container);
  void InternalWriteEnd(TJsonContainerType container);
  void InternalWritePropertyName(const std::string& name);
  void InternalWriteValue(TJsonToken token);
  void InternalWriteComment();

  // Layout hooks of text writers: a delimiter before every item of a container but the
  // first; an indent before every item and before the end of a non-empty container (GetTop()
  // is the level); the space between a property name and its value; the end token itself.
  virtual void WriteValueDelimiter() {}
  virtual void WriteIndent() {}
  virtual void WriteIndentSpace() {}
  virtual void WriteEndToken(TJsonToken token) {}

  // The pending property name (writers that write the name with the value use it).
  bool HasPendingPropertyName() const noexcept { return FPendingName; }

private:
  struct TLevel {
    TJsonContainerType Type;
    bool HasItems;
  };
  void AutoComplete(TJsonToken token);
  void WriteCurrentToken(TJsonReader& reader);

  std::vector<TLevel> FStack;
  TState FState = TState::Start;
  bool FPendingName = false;
  TJsonEmptyValueHandling FEmptyValueHandling = TJsonEmptyValueHandling::Empty;
};

// ---------------------------------------------------------------------------------------

// Writes JSON text, compact or indented ("name": value, one item per line). Numbers: integers
// in decimal, floats in FloatToStr's 15-digit form (NaN and the infinities raise). Values
// without a JSON form become strings: dates "yyyy-mm-ddThh:nn:ss.zzzZ", bytes Base64, GUIDs
// their braced text, object ids 24 hex digits, regular expressions "/pattern/options";
// a DBRef becomes {"$ref":..,"$id":..}, code with scope {"$code":..,"$scope":{..}};
// undefined, MinKey and MaxKey are written as null.
class TJsonTextWriter : public TJsonWriter {
public:
  // Writes into its own buffer (GetText).
  TJsonTextWriter();
  // Appends to target, which must outlive the writer.
  explicit TJsonTextWriter(std::string& target);

  using TJsonWriter::WriteValue;
  void WriteStartObject() override;
  void WriteStartArray() override;
  void WriteStartConstructor(const std::string& name) override;
  void WritePropertyName(const std::string& name) override;
  void WriteNull() override;
  void WriteUndefined() override;
  void WriteMinKey() override;
  void WriteMaxKey() override;
  void WriteRaw(const std::string& json) override;
  void WriteRawValue(const std::string& json) override;
  void WriteComment(const std::string& comment) override;
  void WriteValue(const std::string& value) override;
  void WriteValue(int32_t value) override;
  void WriteValue(uint32_t value) override;
  void WriteValue(int64_t value) override;
  void WriteValue(uint64_t value) override;
  void WriteValue(uint8_t value) override;
  void WriteValue(float value) override;
  void WriteValue(double value) override;
  void WriteValue(bool value) override;
  void WriteValue(char32_t value) override;
  void WriteValue(TDateTime value) override;
  void WriteValue(const TGUID& value) override;
  void WriteValue(const TBytes& value, TJsonBinaryType binaryType = TJsonBinaryType::Generic) override;
  void WriteValue(const TJsonOid& value) override;
  void WriteValue(const TJsonRegEx& value) override;
  void WriteValue(const TJsonDBRef& value) override;
  void WriteValue(const TJsonCodeWScope& value) override;
  void Rewind() override;

  const std::string& GetText() const noexcept { return *FOut; }
  std::string ToString() const override { return *FOut; }

  TJsonFormatting GetFormatting() const noexcept { return FFormatting; }
  void SetFormatting(TJsonFormatting v) noexcept { FFormatting = v; }
  int GetIndentation() const noexcept { return FIndentation; }
  void SetIndentation(int v) noexcept { FIndentation = v < 0 ? 0 : v; }
  char GetIndentChar() const noexcept { return FIndentChar; }
  void SetIndentChar(char c) noexcept { FIndentChar = c; }
  TJsonStringEscapeHandling GetStringEscapeHandling() const noexcept { return FEscapeHandling; }
  void SetStringEscapeHandling(TJsonStringEscapeHandling v) noexcept { FEscapeHandling = v; }

protected:
  void WriteValueDelimiter() override;
  void WriteIndent() override;
  void WriteIndentSpace() override;
  void WriteEndToken(TJsonToken token) override;

private:
  void Quoted(std::string_view text);
  std::string FOwn;
  std::string* FOut;
  TJsonFormatting FFormatting = TJsonFormatting::None;
  int FIndentation = 2;
  char FIndentChar = ' ';
  TJsonStringEscapeHandling FEscapeHandling = TJsonStringEscapeHandling::Default;
};

// ---------------------------------------------------------------------------------------

// Builds a TJSONValue tree from the tokens written to it. Floats become numbers made from
// doubles, integers numbers with their decimal text; dates, bytes, GUIDs, object ids and
// regular expressions strings as in TJsonTextWriter; DBRef and code with scope objects;
// undefined, MinKey and MaxKey null. Comments are dropped; raw values are parsed (raw text
// that is not a whole JSON value raises EJSONParseException); constructors raise
// EJsonWriterException.
class TJsonObjectWriter : public TJsonWriter {
public:
  // With ownValue the writer frees the tree it built (unless released).
  explicit TJsonObjectWriter(bool ownValue = true) : FOwnValue(ownValue) {}
  ~TJsonObjectWriter() override;

  using TJsonWriter::WriteValue;
  void WriteStartObject() override;
  void WriteEndObject() override;
  void WriteStartArray() override;
  void WriteEndArray() override;
  void WriteEnd() override;
  void WriteStartConstructor(const std::string& name) override;
  void WritePropertyName(const std::string& name) override;
  void WriteNull() override;
  void WriteUndefined() override;
  void WriteMinKey() override;
  void WriteMaxKey() override;
  void WriteRaw(const std::string& json) override;
  void WriteRawValue(const std::string& json) override;
  void WriteComment(const std::string& comment) override {}
  void WriteValue(const std::string& value) override;
  void WriteValue(int32_t value) override;
  void WriteValue(uint32_t value) override;
  void WriteValue(int64_t value) override;
  void WriteValue(uint64_t value) override;
  void WriteValue(uint8_t value) override;
  void WriteValue(float value) override;
  void WriteValue(double value) override;
  void WriteValue(bool value) override;
  void WriteValue(char32_t value) override;
  void WriteValue(TDateTime value) override;
  void WriteValue(const TGUID& value) override;
  void WriteValue(const TBytes& value, TJsonBinaryType binaryType = TJsonBinaryType::Generic) override;
  void WriteValue(const TJsonOid& value) override;
  void WriteValue(const TJsonRegEx& value) override;
  void WriteValue(const TJsonDBRef& value) override;
  void WriteValue(const TJsonCodeWScope& value) override;
  void Rewind() override;

  // The value written, once it is complete (its root container closed); nullptr before.
  TJSONValue* GetJSON() const noexcept;
  // The container being filled (the root while it is open), or nullptr.
  TJSONValue* GetContainer() const noexcept { return FOpen.empty() ? nullptr : FOpen.back(); }
  // Hands the complete value to the caller (nullptr when not complete; the writer keeps an
  // incomplete tree and frees it).
  TJSONValue* ReleaseJSON() noexcept;
  bool GetOwnValue() const noexcept { return FOwnValue; }
  void SetOwnValue(bool v) noexcept { FOwnValue = v; }

private:
  void AddValue(TJSONValue* value);
  void OpenContainer(TJSONValue* container);
  // The nodes of the common tokens come from blocks, as a parsed document's do.
  json_detail::TNodeArena FArena;
  TJSONValue* FRoot = nullptr;
  std::vector<TJSONValue*> FOpen;
  std::string FName;
  bool FOwnValue;
};

// ---------------------------------------------------------------------------------------

// Reads JSON text token by token. Numbers: Integer for a text without fraction or exponent
// that fits 64 bits, otherwise Float. Malformed text, or nesting deeper than JSONMaxDepth,
// raises EJsonReaderException (with byte offset, line and column) when Read reaches the fault;
// the tokens before it are delivered first.
class TJsonTextReader : public TJsonReader {
public:
  explicit TJsonTextReader(std::string text);
  ~TJsonTextReader() override;

  bool Read() override;
  void Rewind() override;
  void Close() override;

private:
  struct TTok {
    TJsonToken Type;
    size_t Start;   // into FPool
    size_t Length;
  };
  void Tokenize();
  std::string FText;
  std::string FPool;
  std::vector<TTok> FTokens;
  std::string FError;  // empty when the text is well formed
  size_t FNext = 0;
  bool FTokenized = false;
  bool FClosed = false;
};

}  // namespace quorvel
