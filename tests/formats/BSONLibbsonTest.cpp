// Our BSON beside libbson's: libbson validates and iterates the documents we write to the same
// names, order, types and values as our reader gives, and our reader reads libbson's documents
// of every type as libbson iterates them. Both sides are turned into one event list per document.
#include <bson/bson.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "framework/io/Json.h"
#include "framework/io/JsonReaderWriter.h"
#include "framework/io/Stream.h"
#include "framework/rtl/Exceptions.h"
#include "framework/rtl/SysUtils.h"
#include "lib/defs/DefTypes.h"
#include "lib/formats/BSONWriter.h"
#include "lib/formats/JSONBSON.h"
#include "tests/support/KitchenSinkModel.h"

namespace quorvel {
namespace {

std::string Hex(const uint8_t* p, size_t n) {
  static const char* d = "0123456789abcdef";
  std::string h;
  for (size_t i = 0; i < n; ++i) {
    h += d[p[i] >> 4];
    h += d[p[i] & 15];
  }
  return h;
}

std::string Num(double v) {
  char b[40];
  std::snprintf(b, sizeof b, "%.17g", v);
  return b;
}

// ---- libbson's view -----------------------------------------------------------------------------

// An array's element names ("0", "1", ...) are not tokens of ours: they are checked here.
void LibbsonEvents(bson_iter_t* it, std::vector<std::string>& out, bool AArray = false) {
  int index = 0;
  while (bson_iter_next(it)) {
    if (AArray)
      EXPECT_EQ(std::string(bson_iter_key(it)), std::to_string(index++));
    else
      out.push_back(std::string("name ") + bson_iter_key(it));
    switch (bson_iter_type(it)) {
      case BSON_TYPE_DOUBLE: out.push_back("float " + Num(bson_iter_double(it))); break;
      case BSON_TYPE_UTF8: {
        uint32_t n = 0;
        const char* s = bson_iter_utf8(it, &n);
        out.push_back("string " + std::string(s, n));
        break;
      }
      case BSON_TYPE_CODE: {
        uint32_t n = 0;
        const char* s = bson_iter_code(it, &n);
        out.push_back("string " + std::string(s, n));
        break;
      }
      case BSON_TYPE_SYMBOL: {
        uint32_t n = 0;
        const char* s = bson_iter_symbol(it, &n);
        out.push_back("string " + std::string(s, n));
        break;
      }
      case BSON_TYPE_DOCUMENT:
      case BSON_TYPE_ARRAY: {
        const bool array = bson_iter_type(it) == BSON_TYPE_ARRAY;
        bson_iter_t child;
        EXPECT_TRUE(bson_iter_recurse(it, &child));
        out.push_back(array ? "[" : "{");
        LibbsonEvents(&child, out, array);
        out.push_back(array ? "]" : "}");
        break;
      }
      case BSON_TYPE_BINARY: {
        bson_subtype_t sub;
        uint32_t n = 0;
        const uint8_t* p = nullptr;
        bson_iter_binary(it, &sub, &n, &p);
        out.push_back("bytes " + Hex(p, n));
        break;
      }
      case BSON_TYPE_UNDEFINED: out.push_back("undefined"); break;
      case BSON_TYPE_OID: out.push_back("oid " + Hex(bson_iter_oid(it)->bytes, 12)); break;
      case BSON_TYPE_BOOL: out.push_back(bson_iter_bool(it) ? "true" : "false"); break;
      case BSON_TYPE_DATE_TIME: out.push_back("date " + std::to_string(bson_iter_date_time(it) / 1000)); break;
      case BSON_TYPE_NULL: out.push_back("null"); break;
      case BSON_TYPE_REGEX: {
        const char* options = nullptr;
        const char* re = bson_iter_regex(it, &options);
        out.push_back("regex " + std::string(re) + "/" + options);
        break;
      }
      case BSON_TYPE_DBPOINTER: {
        uint32_t n = 0;
        const char* collection = nullptr;
        const bson_oid_t* oid = nullptr;
        bson_iter_dbpointer(it, &n, &collection, &oid);
        out.push_back("dbref " + std::string(collection, n) + "/" + Hex(oid->bytes, 12));
        break;
      }
      case BSON_TYPE_CODEWSCOPE: {
        uint32_t n = 0, scopeLength = 0;
        const uint8_t* scope = nullptr;
        const char* code = bson_iter_codewscope(it, &n, &scopeLength, &scope);
        std::string e = "code " + std::string(code, n);
        bson_t doc;
        EXPECT_TRUE(bson_init_static(&doc, scope, scopeLength));
        bson_iter_t s;
        bson_iter_init(&s, &doc);
        while (bson_iter_next(&s)) e += std::string(" ") + bson_iter_key(&s) + "=" + bson_iter_utf8(&s, nullptr);
        out.push_back(e);
        break;
      }
      case BSON_TYPE_INT32: out.push_back("int " + std::to_string(bson_iter_int32(it))); break;
      case BSON_TYPE_INT64: out.push_back("int " + std::to_string(bson_iter_int64(it))); break;
      case BSON_TYPE_TIMESTAMP: {
        uint32_t t = 0, i = 0;
        bson_iter_timestamp(it, &t, &i);
        out.push_back("int " + std::to_string(int64_t((uint64_t(t) << 32) | i)));
        break;
      }
      case BSON_TYPE_MAXKEY: out.push_back("maxkey"); break;
      case BSON_TYPE_MINKEY: out.push_back("minkey"); break;
      default: out.push_back("type " + std::to_string(int(bson_iter_type(it)))); break;
    }
  }
}

// libbson validates the document and lists what it iterates.
std::vector<std::string> Libbson(const std::string& ABytes) {
  bson_t doc;
  EXPECT_TRUE(bson_init_static(&doc, reinterpret_cast<const uint8_t*>(ABytes.data()), ABytes.size()));
  size_t offset = 0;
  EXPECT_TRUE(bson_validate(&doc, BSON_VALIDATE_UTF8, &offset)) << "invalid at " << offset;
  std::vector<std::string> out = {"{"};
  bson_iter_t it;
  EXPECT_TRUE(bson_iter_init(&it, &doc));
  LibbsonEvents(&it, out);
  out.push_back("}");
  return out;
}

// ---- our reader's view --------------------------------------------------------------------------

std::vector<std::string> Ours(const std::string& ABytes) {
  TBytesStream in(TBytes(ABytes.begin(), ABytes.end()));
  TBsonReader r(&in);
  std::vector<std::string> out;
  while (r.Read()) {
    const TValue& v = r.GetValue();
    switch (r.GetTokenType()) {
      case TJsonToken::StartObject: out.push_back("{"); break;
      case TJsonToken::EndObject: out.push_back("}"); break;
      case TJsonToken::StartArray: out.push_back("["); break;
      case TJsonToken::EndArray: out.push_back("]"); break;
      case TJsonToken::PropertyName: out.push_back("name " + v.AsType<std::string>()); break;
      case TJsonToken::Float: out.push_back("float " + Num(v.AsType<double>())); break;
      case TJsonToken::String: out.push_back("string " + v.AsType<std::string>()); break;
      case TJsonToken::Integer: out.push_back("int " + std::to_string(v.AsType<int64_t>())); break;
      case TJsonToken::Bytes: {
        const TBytes b = v.AsType<TBytes>();
        out.push_back("bytes " + Hex(b.data(), b.size()));
        break;
      }
      case TJsonToken::Undefined: out.push_back("undefined"); break;
      case TJsonToken::Oid: out.push_back("oid " + Hex(v.AsType<TJsonOid>().Bytes.data(), 12)); break;
      case TJsonToken::Boolean: out.push_back(v.AsType<bool>() ? "true" : "false"); break;
      case TJsonToken::Date: out.push_back("date " + std::to_string(DateTimeToUnix(v.AsType<TDateTime>()))); break;
      case TJsonToken::Null: out.push_back("null"); break;
      case TJsonToken::RegEx: {
        const TJsonRegEx re = v.AsType<TJsonRegEx>();
        out.push_back("regex " + re.RegEx + "/" + re.Options);
        break;
      }
      case TJsonToken::DBRef: {
        const TJsonDBRef ref = v.AsType<TJsonDBRef>();
        out.push_back("dbref " + ref.Ref + "/" + Hex(ref.Id.Bytes.data(), 12));
        break;
      }
      case TJsonToken::CodeWScope: {
        const TJsonCodeWScope c = v.AsType<TJsonCodeWScope>();
        std::string e = "code " + c.Code;
        for (const auto& item : c.Scope) e += " " + item.Ident + "=" + item.Value;
        out.push_back(e);
        break;
      }
      case TJsonToken::MaxKey: out.push_back("maxkey"); break;
      case TJsonToken::MinKey: out.push_back("minkey"); break;
      default: out.push_back("token " + std::to_string(int(r.GetTokenType()))); break;
    }
  }
  return out;
}

std::string Bytes(TBytesStream& s) {
  return std::string(reinterpret_cast<const char*>(s.GetMemory()), static_cast<size_t>(s.GetSize()));
}

std::string TreeToBson(const TJSONValue* AValue) {
  TBytesStream out;
  {
    TQuorvelBSONWriter w(&out);
    w.WriteJsonValue(AValue);
  }
  return Bytes(out);
}

std::string JsonToBson(const std::string& AJson) {
  std::unique_ptr<TJSONValue> v(TJSONObject::ParseJSONValue(AJson, true));
  return TreeToBson(v.get());
}

std::unique_ptr<TJSONValue> BsonToTree(const std::string& ABson) {
  TBytesStream in(TBytes(ABson.begin(), ABson.end()));
  TBsonReader r(&in);
  TJsonObjectWriter w;
  w.WriteToken(r);
  return std::unique_ptr<TJSONValue>(w.ReleaseJSON());
}

std::string KitchenSinkJson() {
  std::unique_ptr<TJSONValue> text(TJSONObject::ParseJSONValue(testkit::KitchenSinkModel(), true));
  TOwned<TModelDef> model(New<TModelDef>());
  model->FromJSON(dynamic_cast<TJSONObject*>(text.get()));
  TOwned<TJSONObject> json(model->ToJSON());
  return json->ToJSON();
}

// Reports the first event that differs, not the whole lists.
void ExpectSameEvents(const std::vector<std::string>& ALibbson, const std::vector<std::string>& AOurs) {
  const size_t n = std::min(ALibbson.size(), AOurs.size());
  for (size_t i = 0; i < n; ++i)
    if (ALibbson[i] != AOurs[i]) {
      ADD_FAILURE() << "event " << i << ": libbson \"" << ALibbson[i] << "\", ours \"" << AOurs[i] << "\"";
      return;
    }
  EXPECT_EQ(ALibbson.size(), AOurs.size());
}

// ---- the tests ----------------------------------------------------------------------------------

TEST(BSONLibbson, LibbsonReadsOurDocumentsAsWeDo) {
  std::string deep = R"({"deep":)";
  for (int i = 0; i < 90; ++i) deep += "[";  // libbson's validator stops at 100 levels
  for (int i = 0; i < 90; ++i) deep += "]";
  deep += "}";
  const std::string docs[] = {
      R"({"s":"x","é名":"ü","n":1.5,"i":-3,"big":1e300,"t":true,"f":false,"z":null,"o":{},"a":[],)"
      R"("m":[1,"2",[3,{"k":[]}]]})",
      deep,
      KitchenSinkJson(),
  };
  for (const std::string& json : docs) {
    SCOPED_TRACE(json.substr(0, 60));
    const std::string bson = JsonToBson(json);
    ExpectSameEvents(Libbson(bson), Ours(bson));
  }
  // Every value kind our writer has.
  TBytesStream out;
  {
    TBsonWriter w(&out);
    w.WriteStartObject();
    w.WritePropertyName("string");
    w.WriteValue(std::string("hé"));
    w.WritePropertyName("int32");
    w.WriteValue(int32_t{-2});
    w.WritePropertyName("int64");
    w.WriteValue(int64_t{-1} << 40);
    w.WritePropertyName("double");
    w.WriteValue(0.1);
    w.WritePropertyName("bool");
    w.WriteValue(false);
    w.WritePropertyName("date");
    w.WriteValue(UnixToDateTime(1700000000));
    w.WritePropertyName("binary");
    w.WriteValue(TBytes{1, 2, 3}, TJsonBinaryType::MD5);
    w.WritePropertyName("old binary");
    w.WriteValue(TBytes{4, 5}, TJsonBinaryType::BinaryOld);
    w.WritePropertyName("oid");
    w.WriteValue(TJsonOid("0102030405060708090a0b0c"));
    w.WritePropertyName("regex");
    w.WriteValue(TJsonRegEx{"a+b", "im"});
    w.WritePropertyName("dbref");
    w.WriteValue(TJsonDBRef{"coll", TJsonOid("0c0b0a090807060504030201")});
    w.WritePropertyName("code w scope");
    w.WriteValue(TJsonCodeWScope{"f(x)", {{"x", "1"}, {"y", "two"}}});
    w.WritePropertyName("code");
    w.WriteCode("g()");
    w.WritePropertyName("null");
    w.WriteNull();
    w.WritePropertyName("undefined");
    w.WriteUndefined();
    w.WritePropertyName("min");
    w.WriteMinKey();
    w.WritePropertyName("max");
    w.WriteMaxKey();
    w.WritePropertyName("array");
    w.WriteStartArray();
    w.WriteValue(int32_t{7});
    w.WriteStartObject();
    w.WriteEndObject();
    w.WriteEndArray();
    w.WriteEndObject();
  }
  const std::string all = Bytes(out);
  ExpectSameEvents(Libbson(all), Ours(all));
}

TEST(BSONLibbson, WeReadLibbsonsDocumentsOfEveryType) {
  bson_t* doc = bson_new();
  bson_oid_t oid;
  bson_oid_init_from_string(&oid, "0102030405060708090a0b0c");
  BSON_APPEND_DOUBLE(doc, "double", -0.25);
  BSON_APPEND_UTF8(doc, "utf8", "ça");
  bson_t child;
  BSON_APPEND_DOCUMENT_BEGIN(doc, "document", &child);
  BSON_APPEND_INT32(&child, "inner", 5);
  bson_append_document_end(doc, &child);
  BSON_APPEND_ARRAY_BEGIN(doc, "array", &child);
  BSON_APPEND_UTF8(&child, "0", "a");
  BSON_APPEND_BOOL(&child, "1", true);
  bson_append_array_end(doc, &child);
  const uint8_t bin[] = {9, 8, 7};
  BSON_APPEND_BINARY(doc, "binary", BSON_SUBTYPE_BINARY, bin, 3);
  BSON_APPEND_BINARY(doc, "old binary", BSON_SUBTYPE_BINARY_DEPRECATED, bin, 3);
  BSON_APPEND_BINARY(doc, "uuid", BSON_SUBTYPE_UUID, bin, 3);
  BSON_APPEND_UNDEFINED(doc, "undefined");
  BSON_APPEND_OID(doc, "oid", &oid);
  BSON_APPEND_BOOL(doc, "bool", false);
  BSON_APPEND_DATE_TIME(doc, "date", int64_t(1700000000) * 1000);
  BSON_APPEND_NULL(doc, "null");
  BSON_APPEND_REGEX(doc, "regex", "^x", "i");
  BSON_APPEND_DBPOINTER(doc, "dbpointer", "coll", &oid);
  BSON_APPEND_CODE(doc, "code", "f()");
  BSON_APPEND_SYMBOL(doc, "symbol", "sym");
  bson_t* scope = BCON_NEW("a", BCON_UTF8("1"), "b", BCON_UTF8("22"));
  BSON_APPEND_CODE_WITH_SCOPE(doc, "codewscope", "g(a)", scope);
  bson_destroy(scope);
  BSON_APPEND_INT32(doc, "int32", -7);
  BSON_APPEND_TIMESTAMP(doc, "timestamp", 3, 4);
  BSON_APPEND_INT64(doc, "int64", int64_t(1) << 50);
  BSON_APPEND_MAXKEY(doc, "maxkey");
  BSON_APPEND_MINKEY(doc, "minkey");
  const std::string bytes(reinterpret_cast<const char*>(bson_get_data(doc)), doc->len);
  bson_destroy(doc);
  const std::vector<std::string> ours = Ours(bytes);
  ExpectSameEvents(Libbson(bytes), ours);
  // The outer braces, 22 names, 20 plain values, and the document's and the array's four each.
  EXPECT_EQ(ours.size(), 2u + 22 + 20 + 4 + 4);

  // Decimal128 (0x13) is a type we do not read: it raises before anything is taken.
  bson_t* dec = bson_new();
  bson_decimal128_t d;
  bson_decimal128_from_string("1.5", &d);
  BSON_APPEND_DECIMAL128(dec, "d", &d);
  const std::string decimal(reinterpret_cast<const char*>(bson_get_data(dec)), dec->len);
  bson_destroy(dec);
  EXPECT_THROW(Ours(decimal), EJsonReaderException);
}

TEST(BSONLibbson, KitchenSinkModelRoundTripsByteForByte) {
  // tree -> BSON -> tree -> BSON gives the same bytes, and the tree reads back as the same JSON.
  const std::string json = KitchenSinkJson();
  const std::string first = JsonToBson(json);
  std::unique_ptr<TJSONValue> tree = BsonToTree(first);
  ASSERT_TRUE(tree);
  EXPECT_EQ(TreeToBson(tree.get()), first);
  std::unique_ptr<TJSONValue> parsed(TJSONObject::ParseJSONValue(json, true));
  EXPECT_EQ(tree->ToJSON(), parsed->ToJSON());
}

}  // namespace
}  // namespace quorvel
