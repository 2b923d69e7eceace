#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "framework/io/Json.h"
#include "framework/io/JsonReaderWriter.h"

using namespace quorvel;

namespace {

std::unique_ptr<TJSONValue> Parse(std::string_view text) {
  return std::unique_ptr<TJSONValue>(TJSONObject::ParseJSONValue(text, true));
}

std::unique_ptr<TJSONObject> ParseObject(std::string_view text) {
  auto v = Parse(text);
  auto* o = v->As<TJSONObject>();
  v.release();
  return std::unique_ptr<TJSONObject>(o);
}

}  // namespace

// ---- objects: order, duplicates, first match ----

TEST(JsonObject, DuplicateNamesAreKeptInOrderAndLookupAnswersTheFirst) {
  const std::string text =
      R"({"Type":"Quorvel.DefTypes.TMaterialBehaviourDef","Id":"b1","Type":"TMaterialBehaviourDef"})";
  auto o = ParseObject(text);
  ASSERT_EQ(o->Count(), 3);
  EXPECT_EQ(o->Get("Type")->GetJsonValue()->Value(), "Quorvel.DefTypes.TMaterialBehaviourDef");
  EXPECT_EQ(o->GetValue<std::string>("Type"), "Quorvel.DefTypes.TMaterialBehaviourDef");
  EXPECT_EQ(o->Pairs(2)->GetName(), "Type");
  EXPECT_EQ(o->Pairs(2)->GetJsonValue()->Value(), "TMaterialBehaviourDef");
  EXPECT_EQ(o->ToJSON(), text);
  EXPECT_EQ(o->Get("type"), nullptr) << "names compare case-sensitively";

  // Built in code the same way: AddPair appends, never replaces.
  TJSONObject built;
  built.AddPair("Type", "A")->AddPair("Owner", "o1")->AddPair("Type", "B")->AddPair("Owner", "");
  EXPECT_EQ(built.ToJSON(), R"({"Type":"A","Owner":"o1","Type":"B","Owner":""})");

  // RemovePair takes out the first of the name only and hands it over.
  std::unique_ptr<TJSONPair> removed(built.RemovePair("Type"));
  ASSERT_TRUE(removed);
  EXPECT_EQ(removed->GetJsonValue()->Value(), "A");
  EXPECT_EQ(built.GetValue<std::string>("Type"), "B");
  EXPECT_EQ(built.RemovePair("Missing"), nullptr);
}

TEST(JsonObject, OutOfRangePairIndexAndNilValuesRaise) {
  TJSONObject o;
  o.AddPair("a", 1);
  EXPECT_THROW(o.Pairs(1), EArgumentOutOfRangeException);
  EXPECT_THROW(o.Pairs(-1), EArgumentOutOfRangeException);
  EXPECT_THROW(o.AddPair("b", static_cast<TJSONValue*>(nullptr)), EArgumentNilException);
  EXPECT_EQ(o.Count(), 1);
}

// ---- numbers ----

TEST(JsonNumber, TextOfNumbersMadeFromValues) {
  struct Case {
    std::unique_ptr<TJSONNumber> Number;
    const char* Text;
  };
  Case cases[] = {
      {std::make_unique<TJSONNumber>(0.1f), "0.100000001490116"},
      {std::make_unique<TJSONNumber>(100.0), "100"},
      {std::make_unique<TJSONNumber>(-2.5), "-2.5"},
      {std::make_unique<TJSONNumber>(1e-6), "1E-6"},
      {std::make_unique<TJSONNumber>(int32_t{7}), "7"},
      {std::make_unique<TJSONNumber>(int32_t{-2147483647 - 1}), "-2147483648"},
      {std::make_unique<TJSONNumber>(int64_t{9007199254740993}), "9007199254740993"},
      {std::make_unique<TJSONNumber>(uint64_t{18446744073709551615u}), "18446744073709551615"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.Number->Value(), c.Text);
    EXPECT_EQ(c.Number->ToJSON(), c.Text);
  }
  TJSONObject o;
  o.AddPair("Intensity", static_cast<double>(0.1f))->AddPair("Count", 100.0);
  EXPECT_EQ(o.ToJSON(), R"({"Intensity":0.100000001490116,"Count":100})");
}

TEST(JsonNumber, ParsedNumberKeepsItsTextAndConvertsOnRequest) {
  auto a = Parse(R"([1e5, -0, 1.50, 1E+2, 12345678901234567890, 2.5, 7, 1e-400, 3000000000])");
  const auto* arr = a->As<TJSONArray>();
  const char* texts[] = {"1e5", "-0", "1.50", "1E+2", "12345678901234567890", "2.5", "7", "1e-400", "3000000000"};
  for (int i = 0; i < arr->Count(); ++i) EXPECT_EQ(arr->Items(i)->Value(), texts[i]);
  EXPECT_EQ(a->ToJSON(), "[1e5,-0,1.50,1E+2,12345678901234567890,2.5,7,1e-400,3000000000]");

  auto num = [&](int i) { return arr->Items(i)->As<TJSONNumber>(); };
  EXPECT_EQ(num(0)->AsDouble(), 100000.0);
  EXPECT_EQ(num(0)->AsInt(), 100000) << "a whole number in exponent form converts";
  EXPECT_EQ(num(3)->AsInt64(), 100);
  EXPECT_EQ(num(1)->AsInt(), 0);
  EXPECT_EQ(num(2)->AsDouble(), 1.5);
  EXPECT_EQ(num(7)->AsDouble(), 0.0) << "underflow reads as zero";
  EXPECT_THROW(num(5)->AsInt(), EConvertError) << "no silent truncation of 2.5";
  EXPECT_THROW(num(4)->AsInt64(), EConvertError) << "beyond Int64";
  EXPECT_THROW(num(8)->AsInt(), EConvertError) << "beyond Integer";
  EXPECT_EQ(num(8)->AsInt64(), 3000000000);
  EXPECT_EQ(arr->Items(4)->AsType<uint64_t>(), 12345678901234567890u);
  EXPECT_EQ(arr->Items(6)->AsType<uint8_t>(), 7);
  EXPECT_EQ(arr->Items(0)->AsType<float>(), 100000.0f);
  int32_t i32 = -1;
  EXPECT_FALSE(arr->TryGetValue("[5]", i32));
  EXPECT_EQ(i32, -1);
}

TEST(JsonNumber, RejectsValuesWithoutJsonText) {
  EXPECT_THROW(TJSONNumber{std::nan("")}, EConvertError);
  EXPECT_THROW(TJSONNumber{HUGE_VAL}, EConvertError);
  EXPECT_THROW(TJSONNumber::FromText("abc"), EConvertError);
  EXPECT_THROW(TJSONNumber::FromText("01"), EConvertError);
  EXPECT_THROW(TJSONNumber::FromText("1."), EConvertError);
  EXPECT_THROW(TJSONNumber::FromText(" 1"), EConvertError);
  std::unique_ptr<TJSONNumber> n(TJSONNumber::FromText("-1.25e3"));
  EXPECT_EQ(n->AsDouble(), -1250.0);
}

// ---- class model ----

TEST(JsonClasses, KindTestsMatchDescendantsAndWrongKindsRaiseInvalidCast) {
  auto o = ParseObject(R"({"s":"x","n":5,"t":true,"f":false,"z":null,"o":{},"a":[]})");
  const TJSONValue* s = o->GetValue("s");
  const TJSONValue* n = o->GetValue("n");
  const TJSONValue* t = o->GetValue("t");
  const TJSONValue* f = o->GetValue("f");
  EXPECT_TRUE(n->Is<TJSONString>()) << "a number is a kind of string";
  EXPECT_FALSE(s->Is<TJSONNumber>());
  EXPECT_TRUE(t->Is<TJSONTrue>() && t->Is<TJSONBool>());
  EXPECT_TRUE(f->Is<TJSONFalse>() && f->Is<TJSONBool>());
  EXPECT_FALSE(f->Is<TJSONTrue>());
  TJSONBool plain(true);
  EXPECT_FALSE(plain.Is<TJSONTrue>()) << "only the parser makes TJSONTrue";

  struct Case {
    const char* Name;
    const char* Value;
  };
  const Case values[] = {{"s", "x"}, {"n", "5"}, {"t", "true"}, {"f", "false"}, {"z", "null"}, {"o", ""}, {"a", ""}};
  for (const auto& c : values) EXPECT_EQ(o->GetValue(c.Name)->Value(), c.Value) << c.Name;

  EXPECT_THROW(o->GetValue("o")->As<TJSONArray>(), EInvalidCast);
  EXPECT_THROW(o->GetValue<TJSONArray*>("o"), EInvalidCast);
  EXPECT_THROW(o->GetValue<int>("s"), EInvalidCast) << "a numeric string is not a number";
  EXPECT_THROW(o->GetValue<bool>("n"), EInvalidCast);
  EXPECT_THROW(o->GetValue<std::string>("a"), EInvalidCast);
  EXPECT_THROW(o->GetValue<std::string>("missing"), EJSONException);
  EXPECT_EQ(o->GetValue<std::string>("n"), "5");
  EXPECT_EQ(o->GetValue<int>("n"), 5);
  EXPECT_TRUE(o->GetValue<bool>("t"));
  EXPECT_EQ(o->GetValue<TJSONObject*>("o")->Count(), 0);
  TJSONArray* arr = nullptr;
  EXPECT_TRUE(o->TryGetValue("a", arr));
  EXPECT_NE(arr, nullptr);
  bool b = true;
  EXPECT_FALSE(o->TryGetValue("s", b));
  EXPECT_FALSE(o->TryGetValue("nothing", b));
}

TEST(JsonClasses, PathsReachNestedValues) {
  auto o = ParseObject(R"({"a":{"b":[10,{"c":"deep"}],"x.y":1},"a":{"b":[]}})");
  EXPECT_EQ(o->GetValue<int>("a.b[0]"), 10);
  EXPECT_EQ(o->GetValue<std::string>("a.b[1].c"), "deep");
  EXPECT_EQ(o->GetValue<int>("a[\"x.y\"]"), 1);
  EXPECT_EQ(o->FindValue(""), o.get());
  EXPECT_EQ(o->FindValue("a.b[2]"), nullptr);
  EXPECT_EQ(o->FindValue("a.b[x]"), nullptr);
  EXPECT_EQ(o->FindValue("a.b.c"), nullptr);
  EXPECT_EQ(o->FindValue("a[0]"), nullptr);
}

// ---- arrays ----

TEST(JsonArray, ItemsOutOfRangeRaiseAndRemoveHandsOver) {
  TJSONArray a;
  a.Add(1)->Add("two")->Add(3.5)->Add(false)->Add(new TJSONNull);
  EXPECT_EQ(a.ToJSON(), R"([1,"two",3.5,false,null])");
  EXPECT_THROW(a.Items(5), EArgumentOutOfRangeException);
  EXPECT_THROW(a.Items(-1), EArgumentOutOfRangeException);
  EXPECT_THROW(a.Remove(5), EArgumentOutOfRangeException);
  EXPECT_THROW(a.Add(static_cast<TJSONValue*>(nullptr)), EArgumentNilException);
  std::unique_ptr<TJSONValue> second(a.Remove(1));
  EXPECT_EQ(second->Value(), "two");
  EXPECT_EQ(a.ToJSON(), "[1,3.5,false,null]");
  a.Clear();
  EXPECT_EQ(a.Count(), 0);
}

// ---- parsing ----

TEST(JsonParse, MalformedTextGivesNullOrAnExceptionWithItsPosition) {
  struct Case {
    std::string Text;
    size_t Offset;
  };
  const Case cases[] = {
      {"", 0},
      {"   ", 3},
      {"{", 1},
      {"[1,2", 4},
      {R"({"a":})", 5},
      {"nul", 3},
      {"[1,]", 3},
      {"{} x", 3},
      {"\"abc", 4},
      {"[01]", 2},
      {"[1e400]", 1},
      {std::string("[1]\0", 4), 3},
      {std::string("[\"a\0b\"]", 7), 3},
      {R"({"a" 1})", 5},
      {"\x01\x02\xff", 0},
      {"[\"\\uZZZZ\"]", 2},
      {"[\"\\ud800\"]", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    EXPECT_EQ(TJSONObject::ParseJSONValue(c.Text), nullptr);
    try {
      std::unique_ptr<TJSONValue> v(TJSONObject::ParseJSONValue(c.Text, true));
      ADD_FAILURE() << "no exception";
    } catch (const EJSONParseException& e) {
      EXPECT_NE(e.Message().find("at offset " + std::to_string(c.Offset) + " "), std::string::npos) << e.Message();
    }
  }
  try {
    std::unique_ptr<TJSONValue> v(ParseJSONValue("{\n  \"a\": 1,\n  \"b\": tru\n}", true));
    ADD_FAILURE();
  } catch (const EJSONParseException& e) {
    EXPECT_NE(e.Message().find("(line 3, column 11)"), std::string::npos) << e.Message();
  }
}

TEST(JsonParse, ByteOrderMarkAndSurroundingWhiteSpaceAreAccepted) {
  auto v = Parse("\xEF\xBB\xBF \n{\"a\":\"\\u00e4\\ud83d\\ude00\"}\r\n\t ");
  EXPECT_EQ(v->GetValue<std::string>("a"), "\xC3\xA4\xF0\x9F\x98\x80");
}

TEST(JsonParse, NestingIsCappedWithoutExhaustingTheStack) {
  auto nested = [](size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); };
  auto ok = Parse(nested(JSONMaxDepth));
  EXPECT_EQ(ok->ToJSON(), nested(JSONMaxDepth));
  std::unique_ptr<TJSONValue> copy(ok->Clone());
  ok.reset();  // frees 10,000 levels
  EXPECT_EQ(copy->Format(0).size(), nested(JSONMaxDepth).size() + 2 * (JSONMaxDepth - 1));

  for (size_t depth : {size_t(JSONMaxDepth) + 1, size_t(1000000)}) {
    const std::string text = std::string(depth, '[') + std::string(depth, ']');
    EXPECT_EQ(ParseJSONValue(text), nullptr);
    try {
      std::unique_ptr<TJSONValue> v(ParseJSONValue(text, true));
      ADD_FAILURE();
    } catch (const EJSONParseException& e) {
      EXPECT_NE(e.Message().find("nested deeper than 10000 levels at offset 10000"), std::string::npos) << e.Message();
    }
  }
  // Unterminated deep input.
  EXPECT_EQ(ParseJSONValue(std::string(5000, '[')), nullptr);
  EXPECT_EQ(ParseJSONValue(std::string(5000, '{')), nullptr);
}

TEST(JsonTree, VeryDeepTreesBuiltInCodeAreWrittenClonedAndFreedWithoutRecursion) {
  constexpr int kDepth = 200000;  // far beyond what a recursive walk survives under ASan
  auto root = std::make_unique<TJSONObject>();
  TJSONObject* cur = root.get();
  for (int i = 0; i < kDepth; ++i) {
    auto* child = new TJSONObject;
    cur->AddPair("c", child);
    cur = child;
  }
  const std::string text = root->ToJSON();
  EXPECT_EQ(text.size(), size_t(kDepth) * 6 + 2);
  std::unique_ptr<TJSONObject> copy(root->Clone());
  EXPECT_EQ(copy->Format(0).size(), text.size() + size_t(kDepth) * 3);  // two line breaks, one blank per level
  root.reset();
  copy.reset();
}

TEST(JsonTree, ParsedNodesOutliveTheirDocumentAndMayBeFreedOnAnyThread) {
  // Parsed nodes share memory blocks; a node taken out of its document keeps its block alive.
  std::string text = R"({"keep":{"name":"a string longer than the inline buffer of a node","n":[1.5,2]},"rest":[)";
  for (int i = 0; i < 20000; ++i) text += (i ? ",\"" : "\"") + std::to_string(i) + "\"";
  text += "]}";
  auto doc = ParseObject(text);
  std::unique_ptr<TJSONPair> kept(doc->RemovePair("keep"));
  doc.reset();
  EXPECT_EQ(kept->GetJsonValue()->ToJSON(), R"({"name":"a string longer than the inline buffer of a node","n":[1.5,2]})");

  auto other = Parse(text);
  std::thread([&] { other.reset(); }).join();
  kept.reset();
}

TEST(JsonTree, KeptPartsOfAParsedDocumentSurviveLaterParsesThatReuseItsMemory) {
  // Blocks freed with a document are reused by later parses; a block still holding a kept
  // container (its nodes and its element list) must not be among them.
  std::string big = "[";
  // Appended: g++ 12 at -O3 takes "text" + std::string for an overlapping copy (-Wrestrict).
  for (int i = 0; i < 100000; ++i) big.append(i ? "," : "").append(std::to_string(i)).append(".5");
  big += "]";
  auto doc = ParseObject(R"({"big":)" + big + R"(,"keep":[1,"two",{"three":3.25}]})");
  std::unique_ptr<TJSONPair> kept(doc->RemovePair("keep"));
  doc.reset();
  for (int round = 0; round < 3; ++round) {
    auto again = Parse(big);
    EXPECT_EQ(again->As<TJSONArray>()->Count(), 100000);
    EXPECT_EQ(again->As<TJSONArray>()->Items(99999)->Value(), "99999.5");
  }
  auto* a = kept->GetJsonValue()->As<TJSONArray>();
  EXPECT_EQ(a->ToJSON(), R"([1,"two",{"three":3.25}])");
  a->Add(4);  // the list moves out of the document's block
  delete a->Remove(0);
  a->Items(1)->As<TJSONObject>()->AddPair("four", "a text longer than a node's inline buffer");
  EXPECT_EQ(a->ToJSON(), R"(["two",{"three":3.25,"four":"a text longer than a node's inline buffer"},4])");
  kept.reset();
}

// ---- writing ----

TEST(JsonWrite, StringsAreEscapedAndReadBackUnchanged) {
  const std::string tricky = std::string("a/b\\c\"d\n\r\t\b\f") + '\x01' + '\x1f' + std::string(1, '\0') + "\x7f";
  TJSONObject o;
  o.AddPair(tricky, tricky);
  const std::string text = o.ToJSON();
  EXPECT_EQ(text, R"({"a/b\\c\"d\n\r\t\b\f\u0001\u001f\u0000)" "\x7f" R"(":"a/b\\c\"d\n\r\t\b\f\u0001\u001f\u0000)" "\x7f" "\"}");
  auto back = ParseObject(text);
  EXPECT_EQ(back->Pairs(0)->GetName(), tricky);
  EXPECT_EQ(back->GetValue<std::string>(tricky), tricky);
}

TEST(JsonWrite, NonAsciiIsEscapedOnRequestWithSurrogatePairs) {
  const std::string text = "\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80 ok";  // ä € 😀
  TJSONObject o;
  o.AddPair("n\xC3\xA4me", text);
  EXPECT_EQ(o.ToJSON(), "{\"n\xC3\xA4me\":\"" + text + "\"}") << "UTF-8 passes through by default";
  const std::string escaped = o.ToJSON(TJSONOutputOptions::EncodeAbove127);
  EXPECT_EQ(escaped, R"({"n\u00e4me":"\u00e4\u20ac\ud83d\ude00 ok"})");
  EXPECT_EQ(ParseObject(escaped)->GetValue<std::string>("n\xC3\xA4me"), text);

  // Malformed UTF-8 (lone continuation, truncated sequence, overlong, surrogate) becomes U+FFFD.
  TJSONString bad(std::string("\x80|\xE2\x82|\xC0\xAF|\xED\xA0\x80|\xF0\x9F"));
  EXPECT_EQ(bad.ToJSON(TJSONOutputOptions::EncodeAbove127),
            R"("\ufffd|\ufffd\ufffd|\ufffd\ufffd|\ufffd\ufffd\ufffd|\ufffd\ufffd")");
}

TEST(JsonWrite, FormatIndentsOneItemPerLine) {
  auto o = ParseObject(R"({"a":1,"b":[true,{"c":null}],"e":{},"f":[]})");
  EXPECT_EQ(o->Format(),
            "{\n"
            "    \"a\": 1,\n"
            "    \"b\": [\n"
            "        true,\n"
            "        {\n"
            "            \"c\": null\n"
            "        }\n"
            "    ],\n"
            "    \"e\": {},\n"
            "    \"f\": []\n"
            "}");
  EXPECT_EQ(ParseObject(o->Format(2))->ToJSON(), o->ToJSON());
}

TEST(JsonTree, CloneIsDeepAndIndependent) {
  auto o = ParseObject(R"({"a":[1,{"b":"x","b":"y"}],"t":true,"n":null,"num":1e5})");
  std::unique_ptr<TJSONObject> copy(o->Clone());
  EXPECT_EQ(copy->ToJSON(), o->ToJSON());
  EXPECT_TRUE(copy->GetValue("t")->Is<TJSONTrue>());
  o->GetValue<TJSONArray*>("a")->Clear();
  EXPECT_EQ(copy->GetValue<TJSONArray*>("a")->Count(), 2);
}

// ---- token reader and writers ----

namespace {

struct TTokenRecord {
  TJsonToken Token;
  int Depth;
  std::string Path;
  std::string Text;
};

std::vector<TTokenRecord> ReadAll(TJsonReader& r) {
  std::vector<TTokenRecord> out;
  while (r.Read()) {
    std::string text;
    if (!r.GetValue().IsEmpty()) text = r.GetValue().AsType<std::string>();
    out.push_back({r.GetTokenType(), r.GetDepth(), r.GetPath(), text});
  }
  return out;
}

// Replays prepared tokens, as a binary reader derived from the base would deliver them.
class TReplayReader : public TJsonReader {
public:
  std::vector<std::pair<TJsonToken, TValue>> Tokens;
  size_t Next = 0;
  bool Read() override {
    if (Next >= Tokens.size()) {
      SetFinished();
      return false;
    }
    const auto& [t, v] = Tokens[Next++];
    SetToken(t, v);
    return true;
  }
};

}  // namespace

TEST(JsonTokens, TextReaderDeliversTokensWithDepthAndPath) {
  TJsonTextReader r(R"({"a":[1,2.5,"s"],"b":{"c":true},"d":null})");
  const std::vector<TTokenRecord> expected = {
      {TJsonToken::StartObject, 0, "", ""},   {TJsonToken::PropertyName, 1, "a", "a"},
      {TJsonToken::StartArray, 1, "a", ""},   {TJsonToken::Integer, 2, "a[0]", "1"},
      {TJsonToken::Float, 2, "a[1]", "2.5"},  {TJsonToken::String, 2, "a[2]", "s"},
      {TJsonToken::EndArray, 1, "a", ""},     {TJsonToken::PropertyName, 1, "b", "b"},
      {TJsonToken::StartObject, 1, "b", ""},  {TJsonToken::PropertyName, 2, "b.c", "c"},
      {TJsonToken::Boolean, 2, "b.c", "True"}, {TJsonToken::EndObject, 1, "b", ""},
      {TJsonToken::PropertyName, 1, "d", "d"}, {TJsonToken::Null, 1, "d", ""},
      {TJsonToken::EndObject, 0, "", ""},
  };
  const auto got = ReadAll(r);
  ASSERT_EQ(got.size(), expected.size());
  for (size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(got[i].Token, expected[i].Token) << JsonTokenName(got[i].Token);
    EXPECT_EQ(got[i].Depth, expected[i].Depth);
    EXPECT_EQ(got[i].Path, expected[i].Path);
    EXPECT_EQ(got[i].Text, expected[i].Text);
  }
  EXPECT_EQ(r.GetTokenType(), TJsonToken::None);
  EXPECT_FALSE(r.Read());
}

TEST(JsonTokens, ObjectWriterRebuildsTheTreeFromReaderTokens) {
  const std::string text = R"({"Type":"A","v":[1,-2,9007199254740993,0.5,"x",false,null,{}],"Type":"B","e":[]})";
  TJsonTextReader r(text);
  TJsonObjectWriter w;
  w.WriteToken(r);
  ASSERT_NE(w.GetJSON(), nullptr);
  // Floats come back as numbers made from doubles; the rest as they were.
  EXPECT_EQ(w.GetJSON()->ToJSON(), text);
  std::unique_ptr<TJSONValue> owned(w.ReleaseJSON());
  EXPECT_EQ(w.GetJSON(), nullptr);
  EXPECT_EQ(owned->As<TJSONObject>()->GetValue<std::string>("Type"), "A");
}

TEST(JsonTokens, TextWriterCopiesReaderTokensIndented) {
  TJsonTextReader r(R"({"a":[1,{"b":"x"}],"c":{},"d":[],"e":0.100000001490116})");
  TJsonTextWriter w;
  w.SetFormatting(TJsonFormatting::Indented);
  while (r.Read()) w.WriteToken(r);
  EXPECT_EQ(w.GetText(),
            "{\n"
            "  \"a\": [\n"
            "    1,\n"
            "    {\n"
            "      \"b\": \"x\"\n"
            "    }\n"
            "  ],\n"
            "  \"c\": {},\n"
            "  \"d\": [],\n"
            "  \"e\": 0.100000001490116\n"
            "}");
}

TEST(JsonTokens, ExtendedTokenKindsHaveJsonForms) {
  TDateTime date;
  ASSERT_TRUE(TryEncodeDateTime(2020, 1, 2, 3, 4, 5, 6, date));
  TJsonOid oid("0123456789abcdefABCDEF01");
  TReplayReader r;
  r.Tokens = {
      {TJsonToken::StartObject, {}},
      {TJsonToken::PropertyName, TValue::From(std::string("oid"))},
      {TJsonToken::Oid, TValue::From(oid)},
      {TJsonToken::PropertyName, TValue::From(std::string("bytes"))},
      {TJsonToken::Bytes, TValue::From(TBytes{'M', 'a', 'n', 'y'})},
      {TJsonToken::PropertyName, TValue::From(std::string("date"))},
      {TJsonToken::Date, TValue::From(date)},
      {TJsonToken::PropertyName, TValue::From(std::string("re"))},
      {TJsonToken::RegEx, TValue::From(TJsonRegEx{"^a.*", "i"})},
      {TJsonToken::PropertyName, TValue::From(std::string("ref"))},
      {TJsonToken::DBRef, TValue::From(TJsonDBRef{"coll", oid})},
      {TJsonToken::PropertyName, TValue::From(std::string("code"))},
      {TJsonToken::CodeWScope, TValue::From(TJsonCodeWScope{"f()", {{"x", "1"}}})},
      {TJsonToken::PropertyName, TValue::From(std::string("big"))},
      {TJsonToken::Integer, TValue::From(uint64_t{18446744073709551615u})},
      {TJsonToken::PropertyName, TValue::From(std::string("min"))},
      {TJsonToken::MinKey, {}},
      {TJsonToken::PropertyName, TValue::From(std::string("u"))},
      {TJsonToken::Undefined, {}},
      {TJsonToken::EndObject, {}},
  };
  const std::string expected =
      R"({"oid":"0123456789abcdefabcdef01","bytes":"TWFueQ==","date":"2020-01-02T03:04:05.006Z",)"
      R"("re":"/^a.*/i","ref":{"$ref":"coll","$id":"0123456789abcdefabcdef01"},)"
      R"J("code":{"$code":"f()","$scope":{"x":"1"}},"big":18446744073709551615,"min":null,"u":null})J";
  TJsonTextWriter text;
  text.WriteToken(r);
  EXPECT_EQ(text.GetText(), expected);
  r.Rewind();
  r.Next = 0;
  TJsonObjectWriter tree;
  tree.WriteToken(r);
  ASSERT_NE(tree.GetJSON(), nullptr);
  EXPECT_EQ(tree.GetJSON()->ToJSON(), expected);
  EXPECT_THROW(TJsonOid("xyz"), EConvertError);
}

TEST(JsonTokens, WritersRejectInvalidSequences) {
  struct Case {
    const char* Name;
    void (*Run)(TJsonWriter&);
  };
  const Case cases[] = {
      {"value in object without name", [](TJsonWriter& w) { w.WriteStartObject(); w.WriteValue(1); }},
      {"name in array", [](TJsonWriter& w) { w.WriteStartArray(); w.WritePropertyName("a"); }},
      {"name at root", [](TJsonWriter& w) { w.WritePropertyName("a"); }},
      {"two names", [](TJsonWriter& w) { w.WriteStartObject(); w.WritePropertyName("a"); w.WritePropertyName("b"); }},
      {"mismatched end", [](TJsonWriter& w) { w.WriteStartObject(); w.WriteEndArray(); }},
      {"end without start", [](TJsonWriter& w) { w.WriteEndObject(); }},
      {"end after name", [](TJsonWriter& w) { w.WriteStartObject(); w.WritePropertyName("a"); w.WriteEndObject(); }},
      {"second root", [](TJsonWriter& w) { w.WriteValue(1); w.WriteValue(2); }},
      {"NaN", [](TJsonWriter& w) { w.WriteValue(std::nan("")); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TJsonTextWriter text;
    EXPECT_THROW(c.Run(text), EJSONException);
    TJsonObjectWriter tree;  // an unfinished tree is freed by the writer
    EXPECT_THROW(c.Run(tree), Exception);
  }
}

TEST(JsonTokens, CloseCompletesOpenContainersAndIncompleteTreesAreNotHandedOut) {
  TJsonTextWriter text;
  text.WriteStartObject();
  text.WritePropertyName("a");
  text.WriteStartArray();
  text.WriteValue(1);
  text.WriteStartObject();
  text.WritePropertyName("b");
  text.Close();
  EXPECT_EQ(text.GetText(), R"({"a":[1,{"b":null}]})");

  TJsonObjectWriter tree;
  tree.WriteStartObject();
  tree.WritePropertyName("a");
  tree.WriteStartArray();
  EXPECT_EQ(tree.GetJSON(), nullptr);
  EXPECT_EQ(tree.ReleaseJSON(), nullptr);
  EXPECT_NE(tree.GetContainer(), nullptr);
}

TEST(JsonTokens, MalformedTextRaisesAfterTheTokensBeforeTheFault) {
  TJsonTextReader r(R"({"a":[1,2)");
  std::vector<TJsonToken> seen;
  try {
    while (r.Read()) seen.push_back(r.GetTokenType());
    ADD_FAILURE() << "no exception";
  } catch (const EJsonReaderException& e) {
    EXPECT_NE(e.Message().find("at offset 9"), std::string::npos) << e.Message();
  }
  EXPECT_EQ(seen, (std::vector<TJsonToken>{TJsonToken::StartObject, TJsonToken::PropertyName, TJsonToken::StartArray,
                                          TJsonToken::Integer, TJsonToken::Integer}));

  TJsonTextReader deep(std::string(20000, '['));
  EXPECT_THROW(
      {
        while (deep.Read()) {
        }
      },
      EJsonReaderException);

  // A reader deriving from the base that closes the wrong container.
  TReplayReader bad;
  bad.Tokens = {{TJsonToken::StartArray, {}}, {TJsonToken::EndObject, {}}};
  EXPECT_TRUE(bad.Read());
  EXPECT_THROW(bad.Read(), EJsonReaderException);
}

TEST(JsonTokens, SkipPassesOverAPropertyValueOrAContainer) {
  TJsonTextReader r(R"({"skip":{"x":[1,2,{"y":3}]},"keep":7})");
  ASSERT_TRUE(r.Read());  // {
  ASSERT_TRUE(r.Read());  // "skip"
  r.Skip();
  EXPECT_EQ(r.GetTokenType(), TJsonToken::EndObject);
  ASSERT_TRUE(r.Read());
  EXPECT_EQ(r.GetValue().AsType<std::string>(), "keep");
  ASSERT_TRUE(r.Read());
  EXPECT_EQ(r.GetValue().AsType<int64_t>(), 7);
}
