#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/io/Json.h"
#include "framework/io/JsonReaderWriter.h"
#include "framework/io/Stream.h"
#include "framework/rtl/Exceptions.h"
#include "lib/formats/BSONWriter.h"
#include "lib/formats/JSONBSON.h"
#include "tests/support/CountingStream.h"

namespace quorvel {
namespace {

std::string StreamBytes(TBytesStream& s) {
  return std::string(reinterpret_cast<const char*>(s.GetMemory()), static_cast<size_t>(s.GetSize()));
}

std::string ToBson(const std::string& json) {
  std::unique_ptr<TJSONValue> v(TJSONObject::ParseJSONValue(json, true));
  TBytesStream out;
  {
    TQuorvelBSONWriter w(&out);
    w.WriteJsonValue(v.get());
  }
  return StreamBytes(out);
}

std::unique_ptr<TJSONValue> FromBson(const std::string& bson, bool asArray = false) {
  TBytesStream in(TBytes(bson.begin(), bson.end()));
  TBsonReader r(&in, asArray);
  TJsonObjectWriter w;
  w.WriteToken(r);
  EXPECT_FALSE(r.Read());
  return std::unique_ptr<TJSONValue>(w.ReleaseJSON());
}

std::string Hex(const std::string& s) {
  static const char* d = "0123456789abcdef";
  std::string h;
  for (unsigned char c : s) {
    h += d[c >> 4];
    h += d[c & 15];
  }
  return h;
}

TEST(BSONTest, GoldenDocuments) {
  // {"a":1}: length 16, double element "a" = 1.0, closing zero
  EXPECT_EQ(Hex(ToBson(R"({"a":1})")), "10000000" "01" "6100" "000000000000f03f" "00");
  EXPECT_EQ(Hex(ToBson(R"({"a":[true,null]})")),
            "14000000" "04" "6100" "0c000000" "08" "3000" "01" "0a" "3100" "00" "00");
  EXPECT_EQ(Hex(ToBson(R"({"a":""})")), "0d000000" "02" "6100" "01000000" "00" "00");
  // 2^53 + 1 becomes 2^53 as a double
  EXPECT_EQ(Hex(ToBson(R"({"a":9007199254740993})")), "10000000" "01" "6100" "0000000000004043" "00");
}

TEST(BSONTest, WriteValueOverloads) {
  struct TRow {
    const char* Name;
    void (*Write)(TBsonWriter&);
    const char* ElementHex;  // type byte, name "x", value
  };
  const TRow rows[] = {
      {"string", [](TBsonWriter& w) { w.WriteValue(std::string("hi")); }, "02780003000000686900"},
      {"int32", [](TBsonWriter& w) { w.WriteValue(int32_t{-2}); }, "107800feffffff"},
      {"uint32", [](TBsonWriter& w) { w.WriteValue(uint32_t{0xFFFFFFFF}); }, "107800ffffffff"},
      {"byte", [](TBsonWriter& w) { w.WriteValue(uint8_t{7}); }, "10780007000000"},
      {"int64", [](TBsonWriter& w) { w.WriteValue(int64_t{-1}); }, "127800ffffffffffffffff"},
      {"uint64", [](TBsonWriter& w) { w.WriteValue(uint64_t{1}); }, "1278000100000000000000"},
      {"float", [](TBsonWriter& w) { w.WriteValue(0.5f); }, "017800000000000000e03f"},
      {"bool", [](TBsonWriter& w) { w.WriteValue(true); }, "08780001"},
      {"char", [](TBsonWriter& w) { w.WriteValue(U'\u00e9'); }, "02780003000000c3a900"},
      {"date", [](TBsonWriter& w) { w.WriteValue(UnixToDateTime(2)); }, "097800d007000000000000"},
      {"guid", [](TBsonWriter& w) {
         TGUID g;
         g.D1 = 0x01020304; g.D2 = 0x0506; g.D3 = 0x0708;
         for (int i = 0; i < 8; ++i) g.D4[i] = static_cast<uint8_t>(9 + i);
         w.WriteValue(g);
       }, "0578001000000004" "04030201" "0605" "0807" "090a0b0c0d0e0f10"},
      {"binary", [](TBsonWriter& w) { w.WriteValue(TBytes{1, 2}, TJsonBinaryType::MD5); }, "057800020000000501" "02"},
      {"binary old", [](TBsonWriter& w) { w.WriteValue(TBytes{1}, TJsonBinaryType::BinaryOld); },
       "057800050000000201000000" "01"},
      {"oid", [](TBsonWriter& w) { w.WriteValue(TJsonOid("0102030405060708090a0b0c")); }, "0778000102030405060708090a0b0c"},
      {"regex", [](TBsonWriter& w) { w.WriteValue(TJsonRegEx{"a+", "i"}); }, "0b7800612b006900"},
      {"dbref", [](TBsonWriter& w) { w.WriteValue(TJsonDBRef{"c", TJsonOid("0102030405060708090a0b0c")}); },
       "0c780002000000630001020304050607" "08090a0b0c"},
      {"code w scope", [](TBsonWriter& w) { w.WriteValue(TJsonCodeWScope{"f", {{"v", "1"}}}); },
       "0f780018000000" "020000006600" "0e000000" "02" "7600" "020000003100" "00"},
      {"code", [](TBsonWriter& w) { w.WriteCode("f"); }, "0d7800020000006600"},
      {"null", [](TBsonWriter& w) { w.WriteNull(); }, "0a7800"},
      {"undefined", [](TBsonWriter& w) { w.WriteUndefined(); }, "067800"},
      {"min key", [](TBsonWriter& w) { w.WriteMinKey(); }, "ff7800"},
      {"max key", [](TBsonWriter& w) { w.WriteMaxKey(); }, "7f7800"},
  };
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.Name);
    TBytesStream out;
    TBsonWriter w(&out);
    w.WriteStartObject();
    w.WritePropertyName("x");
    row.Write(w);
    w.WriteEndObject();
    const std::string bytes = StreamBytes(out);
    ASSERT_GE(bytes.size(), 5u);
    EXPECT_EQ(Hex(bytes.substr(4, bytes.size() - 5)), row.ElementHex);
    EXPECT_EQ(static_cast<size_t>(static_cast<uint8_t>(bytes[0]) | static_cast<uint8_t>(bytes[1]) << 8), bytes.size());
    // and the reader delivers a token for it, written back to the same bytes
    TBytesStream in(TBytes(bytes.begin(), bytes.end()));
    TBsonReader r(&in);
    TBytesStream again;
    {
      TBsonWriter w2(&again);
      w2.WriteToken(r);
    }
    const std::string b2 = StreamBytes(again);
    if (std::string(row.Name) != "uint32" && std::string(row.Name) != "byte" && std::string(row.Name) != "guid" &&
        std::string(row.Name) != "code" && std::string(row.Name) != "char" && std::string(row.Name) != "float" &&
        std::string(row.Name) != "int32" && std::string(row.Name) != "binary" &&
        std::string(row.Name) != "binary old") {
      EXPECT_EQ(Hex(b2), Hex(bytes));
    }
  }
}

TEST(BSONTest, EmptyValuesLeftOutWhenAsked) {
  TBytesStream out;
  TBsonWriter w(&out);
  w.SetEmptyValueHandling(TJsonEmptyValueHandling::Ignore);
  w.WriteStartObject();
  w.WritePropertyName("s");
  w.WriteValue(std::string());
  w.WritePropertyName("b");
  w.WriteValue(TBytes{});
  w.WritePropertyName("a");
  w.WriteStartArray();
  w.WriteValue(std::string());
  w.WriteValue(true);
  w.WriteEndArray();
  w.WriteEndObject();
  EXPECT_EQ(Hex(StreamBytes(out)), "11000000" "04" "6100" "09000000" "08" "3000" "01" "00" "00");
}

TEST(BSONTest, WriterRefusals) {
  TBytesStream out;
  TBsonWriter w(&out);
  w.WriteStartObject();
  EXPECT_THROW(w.WritePropertyName(std::string("a\0b", 3)), EJsonWriterException);
  EXPECT_THROW(w.WriteComment("c"), EJsonWriterException);
  EXPECT_THROW(w.WriteRawValue("1"), EJsonWriterException);
  EXPECT_THROW(w.WriteStartConstructor("Date"), EJsonWriterException);
  // Flush closes what is open: a pending name gets a null
  w.WritePropertyName("n");
  w.Flush();
  EXPECT_EQ(Hex(StreamBytes(out)), "08000000" "0a6e00" "00");
  TBytesStream out2;
  TBsonWriter scalar(&out2);
  EXPECT_THROW(scalar.WriteValue(1.0), EJsonWriterException);
}

TEST(BSONTest, QuorvelWriterErrors) {
  TBytesStream out;
  TQuorvelBSONWriter w(&out);
  std::unique_ptr<TJSONValue> obj(TJSONObject::ParseJSONValue(R"({"a":{"b":1e999}})", false));
  if (obj) {
    EXPECT_THROW(w.WriteJsonValue(obj.get()), Exception);
    EXPECT_EQ(w.GetTop(), 0);  // closed also on failure
  }
  TBytesStream raw;
  std::unique_ptr<TJSONValue> arr(TJSONObject::ParseJSONValue("[1]", true));
  EXPECT_THROW(w.WriteRawJsonValue(arr.get(), &raw), Exception);
  std::unique_ptr<TJSONValue> s(TJSONObject::ParseJSONValue(R"("ab")", true));
  w.WriteRawJsonValue(s.get(), &raw);
  EXPECT_EQ(Hex(StreamBytes(raw)), "03000000616200");
}

// Every JSON kind, empty containers, non-ASCII names and deep nesting round-trip byte for byte.
TEST(BSONTest, TreeRoundTrip) {
  std::string json = R"({"s":"x","é名":"ü","n":1.5,"i":-3,"t":true,"f":false,"z":null,"o":{},"a":[],)"
                     R"("m":[1,"2",[3,{"k":[]}]],"deep":)";
  for (int i = 0; i < 5000; ++i) json += "[";
  for (int i = 0; i < 5000; ++i) json += "]";
  json += "}";
  const std::string b1 = ToBson(json);
  std::unique_ptr<TJSONValue> tree = FromBson(b1);
  ASSERT_TRUE(tree);
  TBytesStream out;
  {
    TQuorvelBSONWriter w(&out);
    w.WriteJsonValue(tree.get());
  }
  EXPECT_EQ(StreamBytes(out), b1);
  EXPECT_EQ(tree->GetValue<std::string>("s"), "x");
  // the root read as an array
  std::unique_ptr<TJSONValue> asArray = FromBson(ToBson(R"({"a":1,"b":2})"), true);
  ASSERT_TRUE(asArray);
  EXPECT_EQ(asArray->ToJSON(), "[1,2]");
}

TEST(BSONTest, ReaderTokensAndSkip) {
  // symbol (0E), timestamp (11) and old binary (02) too
  const std::string doc = std::string("\x29\x00\x00\x00", 4) + std::string("\x0e" "s\0" "\x02\x00\x00\x00" "y\0", 9) +
                          std::string("\x11" "t\0" "\x05\0\0\0\0\0\0\0", 11) +
                          std::string("\x05" "b\0" "\x05\0\0\0" "\x02" "\x01\0\0\0" "\x09", 13) +
                          std::string("\x0a" "q\0", 3) + std::string("\0", 1);
  ASSERT_EQ(doc.size(), 0x29u);
  TBytesStream in(TBytes(doc.begin(), doc.end()));
  TBsonReader r(&in);
  std::vector<TJsonToken> tokens;
  while (r.Read()) tokens.push_back(r.GetTokenType());
  const std::vector<TJsonToken> expected = {TJsonToken::StartObject, TJsonToken::PropertyName, TJsonToken::String,
                                            TJsonToken::PropertyName, TJsonToken::Integer, TJsonToken::PropertyName,
                                            TJsonToken::Bytes, TJsonToken::PropertyName, TJsonToken::Null,
                                            TJsonToken::EndObject};
  EXPECT_EQ(tokens, expected);
  r.Rewind();
  ASSERT_TRUE(r.Read());
  ASSERT_TRUE(r.Read());  // "s"
  EXPECT_EQ(r.GetTokenType(), TJsonToken::PropertyName);
  r.Skip();
  EXPECT_EQ(r.GetTokenType(), TJsonToken::String);
  ASSERT_TRUE(r.Read());
  EXPECT_EQ(r.GetValue().AsType<std::string>(), "t");
  ASSERT_TRUE(r.Read());
  EXPECT_EQ(r.GetValue().AsType<int64_t>(), 5);
  ASSERT_TRUE(r.Read());
  ASSERT_TRUE(r.Read());
  EXPECT_EQ(r.GetValue().AsType<TBytes>(), TBytes{9});
}

TEST(BSONTest, BadDocumentsRaise) {
  const std::string good = ToBson(R"({"a":"xy","b":[1,{"c":true}]})");
  struct TCase {
    const char* Name;
    std::string StreamBytes;
  };
  std::string deep;
  {
    // 100,000 nested arrays, each declared long enough
    const int n = 100000;
    for (int i = 0; i < n; ++i) {
      const int32_t len = 5 + 8 * (n - 1 - i) + 0;
      deep += std::string(reinterpret_cast<const char*>(&len), 4);
      if (i + 1 < n) deep += std::string("\x04" "0\0", 3);
    }
    deep += std::string(static_cast<size_t>(n), '\0');
  }
  const TCase cases[] = {
      {"closing byte", good.substr(0, good.size() - 1) + "\x01"},
      {"length 0", std::string("\0\0\0\0\0", 5)},
      {"length 4", std::string("\x04\0\0\0\0", 5)},
      {"huge length", std::string("\xff\xff\xff\x7f\0", 5)},
      {"past the parent", std::string("\x0d\0\0\0" "\x03" "a\0" "\x09\0\0\0\0" "\0", 13)},
      {"string without terminator", std::string("\x0e\0\0\0" "\x02" "a\0" "\x02\0\0\0" "xy" "\0", 14)},
      {"name without terminator", std::string("\x07\0\0\0" "\x0a" "ab", 7)},
      {"type 0x13", std::string("\x08\0\0\0" "\x13" "a\0" "\0", 8)},
      {"binary inner length", std::string("\x12\0\0\0" "\x05" "b\0" "\x05\0\0\0" "\x02" "\x09\0\0\0" "\x01" "\0", 18)},
      {"100,000 levels", deep},
      {"empty", std::string()},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TBytesStream in(TBytes(c.StreamBytes.begin(), c.StreamBytes.end()));
    TBsonReader r(&in);
    EXPECT_THROW(
        {
          while (r.Read()) {
          }
        },
        EJsonReaderException);
  }
  for (size_t n = 0; n < good.size(); ++n) {
    SCOPED_TRACE(n);
    TBytesStream in(TBytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n)));
    TBsonReader r(&in);
    EXPECT_THROW(
        {
          while (r.Read()) {
          }
        },
        EJsonReaderException);
  }
}

// JSON has no number for a non-finite double: the reader refuses it with its own error, which
// the Q3M and package callers catch, both through the token stream and into a tree.
TEST(BSONTest, NonFiniteDoublesRaiseTheReadersError) {
  const struct {
    const char* Name;
    uint64_t Bits;
    const char* Shown;
  } cases[] = {
      {"NaN", 0x7FF8000000000000ull, "NAN"},
      {"infinity", 0x7FF0000000000000ull, "INF"},
      {"minus infinity", 0xFFF0000000000000ull, "-INF"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    std::string doc("\x11\0\0\0" "\x01" "ab\0", 8);
    doc.append(reinterpret_cast<const char*>(&c.Bits), 8);
    doc += '\0';
    ASSERT_EQ(doc.size(), 17u);
    try {
      FromBson(doc);
      ADD_FAILURE() << "nothing raised";
    } catch (const EJsonReaderException& e) {
      EXPECT_EQ(std::string(e.what()), std::string("BSON double ") + c.Shown + " is not a finite number (BSON offset 16)");
    } catch (const std::exception& e) {
      ADD_FAILURE() << "another exception: " << e.what();
    }
  }
  // A finite double beside it still reads.
  const uint64_t one = 0x3FF0000000000000ull;
  std::string doc("\x11\0\0\0" "\x01" "ab\0", 8);
  doc.append(reinterpret_cast<const char*>(&one), 8);
  doc += '\0';
  EXPECT_EQ(FromBson(doc)->ToJSON(), R"({"ab":1})");
}


// Writes the tree token by token through TBsonWriter's operations: what the tree writer must
// produce byte for byte.
void WriteByTokens(TBsonWriter& w, const TJSONValue* v) {
  switch (v->Kind()) {
    case TJSONValue::TKind::Object:
      w.WriteStartObject();
      for (const TJSONPair* p : *static_cast<const TJSONObject*>(v)) {
        w.WritePropertyName(p->GetName());
        WriteByTokens(w, p->GetJsonValue());
      }
      w.WriteEndObject();
      break;
    case TJSONValue::TKind::Array:
      w.WriteStartArray();
      for (const TJSONValue* e : *static_cast<const TJSONArray*>(v)) WriteByTokens(w, e);
      w.WriteEndArray();
      break;
    case TJSONValue::TKind::Null: w.WriteNull(); break;
    case TJSONValue::TKind::Bool: w.WriteValue(static_cast<const TJSONBool*>(v)->AsBoolean()); break;
    case TJSONValue::TKind::String: w.WriteValue(v->Value()); break;
    case TJSONValue::TKind::Number: w.WriteValue(static_cast<const TJSONNumber*>(v)->AsDouble()); break;
  }
}

TEST(BSONTest, TreeWriterWritesWhatTheTokensWrite) {
  const char* const documents[] = {
      R"({})",
      R"([])",
      R"({"a":"","b":[],"c":{},"d":[[],[[1]],{"e":""}],"f":null,"g":true,"h":false})",
      R"({"long name of a pair":"a string longer than twenty bytes","n":-0.5,"i":123456789012})",
      R"([1,"x",[2,["y",{"z":[null,true]}]],{"":0}])",
      R"({"é名":"ü","a":{"b":{"c":{"d":[0,1,2,3,4,5,6,7,8,9,10,11]}}}})",
  };
  for (const TJsonEmptyValueHandling handling : {TJsonEmptyValueHandling::Empty, TJsonEmptyValueHandling::Ignore}) {
    for (const char* json : documents) {
      SCOPED_TRACE(json);
      std::unique_ptr<TJSONValue> tree(TJSONObject::ParseJSONValue(json, true));
      TBytesStream byTree, byTokens;
      {
        TQuorvelBSONWriter w(&byTree);
        w.SetEmptyValueHandling(handling);
        w.WriteJsonValue(tree.get());
      }
      {
        TBsonWriter w(&byTokens);
        w.SetEmptyValueHandling(handling);
        WriteByTokens(w, tree.get());
      }
      EXPECT_EQ(Hex(StreamBytes(byTree)), Hex(StreamBytes(byTokens)));
    }
  }
  // A tree inside containers the caller opened: only the tree's own elements are written.
  std::unique_ptr<TJSONValue> inner(TJSONObject::ParseJSONValue(R"({"b":[true]})", true));
  TBytesStream out;
  {
    TQuorvelBSONWriter w(&out);
    w.WriteStartObject();
    w.WritePropertyName("a");
    w.WriteJsonValue(inner.get());
    w.WriteEndObject();
  }
  EXPECT_EQ(StreamBytes(out), ToBson(R"({"a":{"b":[true]}})"));
}

// A number that is no double fails the tree writer; the document is still closed: a pair whose
// value failed is a null, an array element is left out, and nothing after it is written.
TEST(BSONTest, TreeWriterClosesTheDocumentOnFailure) {
  auto failing = [] { return TJSONNumber::FromText("1e999"); };
  std::unique_ptr<TJSONObject> inObject(new TJSONObject);
  {
    auto* a = new TJSONObject;
    a->AddPair("b", failing());
    a->AddPair("c", 1.0);
    inObject->AddPair("a", a);
    inObject->AddPair("d", 2.0);
  }
  std::unique_ptr<TJSONObject> inArray(new TJSONObject);
  {
    auto* a = new TJSONArray;
    a->Add(1.0);
    a->AddElement(failing());
    inArray->AddPair("a", a);
  }
  const struct {
    const TJSONValue* Tree;
    const char* Hex;
  } cases[] = {
      {inObject.get(), "10000000" "03" "6100" "08000000" "0a" "6200" "00" "00"},
      {inArray.get(), "18000000" "04" "6100" "10000000" "01" "3000" "000000000000f03f" "00" "00"},
  };
  for (const auto& c : cases) {
    TBytesStream out;
    TQuorvelBSONWriter w(&out);
    try {
      w.WriteJsonValue(c.Tree);
      ADD_FAILURE() << "nothing raised";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), "failed to read number value");
    }
    EXPECT_EQ(w.GetTop(), 0);
    EXPECT_EQ(Hex(StreamBytes(out)), c.Hex);
  }
}

// Reads through a stream that is not a memory stream, so that the reader copies the document.
class TPlainStream : public TStream {
public:
  explicit TPlainStream(TStream* inner) : FInner(inner) {}
  int64_t Read(void* buffer, int64_t count) override { return FInner->Read(buffer, count); }
  int64_t Write(const void* buffer, int64_t count) override { return FInner->Write(buffer, count); }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override { return FInner->Seek(offset, origin); }

private:
  TStream* FInner;
};

// Every token with its value and path, the stream position after each document, or the error.
std::string ReadAll(TStream* s, int documents) {
  std::string seen;
  try {
    for (int i = 0; i < documents; ++i) {
      TBsonReader r(s);
      while (r.Read()) {
        seen += JsonTokenName(r.GetTokenType());
        seen.append(" ").append(r.GetPath()).append("=").append(r.GetValue().ToString()).append("; ");
      }
      seen.append("at ").append(std::to_string(s->GetPosition())).append("\n");
    }
  } catch (const EJsonReaderException& e) {
    seen.append("error: ").append(e.what());
  }
  return seen;
}

TEST(BSONTest, MemoryStreamsReadInPlaceAsAnyStream) {
  const std::string first = ToBson(R"({"s":"a string longer than twenty bytes","n":1.5,"b":true,"a":[null,"x",{}]})");
  std::string second = ToBson(R"({"t":"y"})");
  // an int32 and an int64 element as well
  second = std::string("\x21\0\0\0", 4) + second.substr(4, second.size() - 5) +
           std::string("\x10" "i\0" "\x07\0\0\0" "\x12" "l\0" "\xff\xff\xff\xff\xff\xff\xff\xff" "\0", 19);
  second[0] = static_cast<char>(second.size());
  const std::string both = first + second;
  const struct {
    const char* Name;
    std::string Bytes;
    int Documents;
  } cases[] = {
      {"two documents", both, 2},
      {"cut in the second", both.substr(0, both.size() - 3), 2},
      {"cut in the first", first.substr(0, 20), 1},
      {"bad closing byte", first.substr(0, first.size() - 1) + "\x01", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TBytesStream memory(TBytes(c.Bytes.begin(), c.Bytes.end()));
    TBytesStream behind(TBytes(c.Bytes.begin(), c.Bytes.end()));
    TPlainStream plain(&behind);
    const std::string inPlace = ReadAll(&memory, c.Documents);
    EXPECT_EQ(inPlace, ReadAll(&plain, c.Documents));
    if (c.Documents == 2 && c.Bytes == both) {
      EXPECT_NE(inPlace.find("String s=a string longer than twenty bytes; "), std::string::npos) << inPlace;
      EXPECT_NE(inPlace.find("Integer l=-1; "), std::string::npos) << inPlace;
      EXPECT_NE(inPlace.find(std::string("at ").append(std::to_string(first.size())).append("\n")), std::string::npos) << inPlace;
    } else {
      EXPECT_NE(inPlace.find("error: "), std::string::npos) << inPlace;
    }
  }
}

// Documents reach every kind of stream as the same bytes at the same place, whether the stream
// takes the built block itself or gets it written: after a header, after a long content, one
// after another, inside its content, and when the stream is written to while one is open.
TEST(BSONTest, DocumentsReachEveryKindOfStreamAlike) {
  std::string longJson = R"({"values":[)";
  for (int i = 0; i < 300; ++i) longJson.append(i ? ",0.5" : "0.5");
  longJson.append("]}");
  const std::string small = ToBson(R"({"a":1})");
  const std::string large = ToBson(longJson);
  auto write = [](TStream* AStream, const std::string& AJson) {
    std::unique_ptr<TJSONValue> tree(TJSONObject::ParseJSONValue(AJson, true));
    TQuorvelBSONWriter w(AStream);
    w.WriteJsonValue(tree.get());
  };
  const std::string header(32, 'h'), longContent(5000, 'c');
  const struct {
    const char* Name;
    std::function<void(TMemoryStream*)> Run;
    std::string Expected;
    int64_t Position, Written;
  } cases[] = {
      {"empty stream", [&](TMemoryStream* s) { write(s, longJson); }, large, int64_t(large.size()), int64_t(large.size())},
      {"after a header",
       [&](TMemoryStream* s) {
         s->WriteBuffer(header.data(), 32);
         write(s, longJson);
       },
       header + large, int64_t(32 + large.size()), int64_t(32 + large.size())},
      {"after a long content",
       [&](TMemoryStream* s) {
         s->WriteBuffer(longContent.data(), 5000);
         write(s, longJson);
       },
       longContent + large, int64_t(5000 + large.size()), int64_t(5000 + large.size())},
      {"large, then small",
       [&](TMemoryStream* s) {
         write(s, longJson);
         write(s, R"({"a":1})");
       },
       large + small, int64_t(large.size() + small.size()), int64_t(large.size() + small.size())},
      {"small, then large",
       [&](TMemoryStream* s) {
         write(s, R"({"a":1})");
         write(s, longJson);
       },
       small + large, int64_t(small.size() + large.size()), int64_t(small.size() + large.size())},
      {"inside the content",
       [&](TMemoryStream* s) {
         s->WriteBuffer(longContent.data(), 5000);
         s->SetPosition(10);
         write(s, longJson);
       },
       longContent.substr(0, 10) + large + longContent.substr(10 + large.size()), int64_t(10 + large.size()),
       int64_t(5000 + large.size())},
      {"past the end",
       [&](TMemoryStream* s) {
         s->SetPosition(3);
         write(s, R"({"a":1})");
       },
       std::string(3, '\0') + small, int64_t(3 + small.size()), int64_t(small.size())},
      {"written to while open",
       [&](TMemoryStream* s) {
         s->WriteBuffer(header.data(), 32);
         TBsonWriter w(s);
         w.WriteStartObject();
         w.WritePropertyName("a");
         s->WriteBuffer("xyz", 3);
         w.WriteValue(1.0);
         w.WriteEndObject();
       },
       header + "xyz" + small, int64_t(35 + small.size()), int64_t(35 + small.size())},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TMemoryStream memory;
    TBytesStream bytes;
    testkit::TCountingStream watched;
    for (TMemoryStream* s : {static_cast<TMemoryStream*>(&memory), static_cast<TMemoryStream*>(&bytes),
                             static_cast<TMemoryStream*>(&watched)}) {
      c.Run(s);
      ASSERT_EQ(s->GetSize(), int64_t(c.Expected.size()));
      EXPECT_EQ(s->GetPosition(), c.Position);
      EXPECT_EQ(Hex(std::string(static_cast<const char*>(s->GetMemory()), c.Expected.size())), Hex(c.Expected));
    }
    const TBytes& held = bytes.GetBytes();
    EXPECT_EQ(std::string(held.begin(), held.end()), c.Expected);
    EXPECT_EQ(watched.Written, c.Written);  // a derived kind sees every byte written
  }
}

}  // namespace
}  // namespace quorvel
