#include <gtest/gtest.h>

#include <limits>

#include <cmath>
#include <string>

#include "framework/math/Rect.h"

#include "lib/defs/DefTypes.h"
#include "tests/defs/DefTypesTestUtil.h"

namespace quorvel {
namespace {

using test::ParseObject;
using test::ParseValue;
using test::TakeText;

TEST(DefTypesBase, IntegerReaderRoundsHalvesToEvenAndKeepsDefaultsForOtherKinds) {
  const auto obj = ParseObject(
      R"({"a":2.5,"b":3.5,"c":-2.5,"d":7,"e":"7","f":1e5,"g":true,"h":null,"i":3e9,"j":2.5e0,"k":-7})");
  const std::pair<const char*, int32_t> cases[] = {
      {"a", 2},   {"b", 4},    {"c", -2}, {"d", 7}, {"e", -1}, {"f", 100000},
      {"g", -1},  {"h", -1},   {"i", -1},  // beyond the Integer range counts as a wrong kind
      {"j", 2},   {"k", -7},   {"missing", -1},
  };
  for (const auto& c : cases) EXPECT_EQ(TCustomDef::ReadJSONInteger(obj.get(), c.first, -1), c.second) << c.first;
}

TEST(DefTypesBase, TypedReadersTakeOnlyTheirKind) {
  const auto obj = ParseObject(R"({"s":"1.5","n":1.5,"e":1e5,"one":1,"t":true,"f":false,"o":{},"a":[]})");
  EXPECT_EQ(TCustomDef::ReadJSONFloat(obj.get(), "s", -1), -1);  // a numeric string is no number
  EXPECT_EQ(TCustomDef::ReadJSONFloat(obj.get(), "n", -1), 1.5);
  EXPECT_EQ(TCustomDef::ReadJSONFloat(obj.get(), "e", -1), 100000.0);
  EXPECT_EQ(TCustomDef::ReadJSONBoolean(obj.get(), "one", false), false);
  EXPECT_EQ(TCustomDef::ReadJSONBoolean(obj.get(), "one", true), true);
  EXPECT_EQ(TCustomDef::ReadJSONBoolean(obj.get(), "t", false), true);
  EXPECT_EQ(TCustomDef::ReadJSONBoolean(obj.get(), "f", true), false);
  EXPECT_EQ(TCustomDef::ReadJSONString(obj.get(), "n", "d"), "1.5");  // a number is a kind of string
  EXPECT_EQ(TCustomDef::ReadJSONString(obj.get(), "t", "d"), "d");
  EXPECT_EQ(TCustomDef::ReadJSONString(obj.get(), "o", "d"), "d");
  EXPECT_EQ(TCustomDef::ReadJSONString(nullptr, "s", "d"), "d");
}

TEST(DefTypesBase, ValueReaderGivesTheTextOfAnyKind) {
  const auto obj = ParseObject(R"({"s":"x","n":1.50,"t":true,"z":null,"o":{"a":1},"a":[1]})");
  const std::pair<const char*, const char*> cases[] = {
      {"s", "x"}, {"n", "1.50"}, {"t", "true"}, {"z", "null"}, {"o", ""}, {"a", ""}, {"missing", "def"},
  };
  for (const auto& c : cases) EXPECT_EQ(TCustomDef::ReadJSONValue(obj.get(), c.first, "def"), c.second) << c.first;
}

TEST(DefTypesBase, TextReadersParseTheValueText) {
  const auto obj = ParseObject(
      R"({"n":5,"z":null,"o":{},"a":[],"p":"1 2 3","c":"0.5,0.25,0,1","m":"","g":"{00000001-0002-0003-0405-060708090A0B}","bad":"null"})");
  const TPoint3D def(9, 9, 9);
  EXPECT_EQ(TCustomDef::ReadJSONPoint3D(obj.get(), "n", def), TPoint3D(5, 0, 0));
  EXPECT_EQ(TCustomDef::ReadJSONPoint3D(obj.get(), "z", def), TPoint3D(0, 0, 0));
  EXPECT_EQ(TCustomDef::ReadJSONPoint3D(obj.get(), "o", def), def);
  EXPECT_EQ(TCustomDef::ReadJSONPoint3D(obj.get(), "a", def), def);
  EXPECT_EQ(TCustomDef::ReadJSONPoint3D(obj.get(), "p", def), TPoint3D(1, 2, 3));
  EXPECT_EQ(TCustomDef::ReadJSONAlphaColorF(obj.get(), "c", {}), TAlphaColorF(0.5f, 0.25f, 0, 1));
  EXPECT_EQ(TCustomDef::ReadJSONMatrix3D(obj.get(), "m", TMatrix3D::CreateScaling({2, 2, 2})),
            TMatrix3D::CreateScaling({2, 2, 2}));

  const TGUID guid = TCustomDef::ReadJSONGUID(obj.get(), "g", TGUID::Empty());
  EXPECT_EQ(guid.ToString(), "{00000001-0002-0003-0405-060708090A0B}");
  EXPECT_TRUE(TCustomDef::ReadJSONGUID(obj.get(), "missing", TGUID::Empty()).IsEmpty());
  EXPECT_THROW(TCustomDef::ReadJSONGUID(obj.get(), "bad", TGUID::Empty()), EConvertError);
  EXPECT_THROW(TCustomDef::ReadJSONGUID(obj.get(), "z", TGUID::Empty()), EConvertError);
}

TEST(DefTypesBase, LookupsTakeTheFirstPairOfANameExactly) {
  const auto obj = ParseObject(
      R"({"Type":"Quorvel.DefTypes.TMaterialBehaviourDef","Id":"b","Type":"TMaterialBehaviourDef","n":1})");
  EXPECT_EQ(TCustomDef::ReadJSONString(obj.get(), "Type", ""), "Quorvel.DefTypes.TMaterialBehaviourDef");
  EXPECT_EQ(TCustomDef::ReadJSONString(obj.get(), "type", "none"), "none");
  EXPECT_TRUE(TCustomDef::JSONValueExists(obj.get(), "n"));
  EXPECT_FALSE(TCustomDef::JSONValueExists(obj.get(), "N"));
  EXPECT_TRUE(TCustomDef::JSONValueIs<TJSONNumber>(obj.get(), "n"));
  EXPECT_TRUE(TCustomDef::JSONValueIs<TJSONString>(obj.get(), "n"));
  EXPECT_FALSE(TCustomDef::JSONValueIs<TJSONArray>(obj.get(), "n"));
  EXPECT_FALSE(TCustomDef::JSONValueIs<TJSONString>(obj.get(), "missing"));
}

TEST(DefTypesBase, ValuesAreWrittenAsTheirJSONText) {
  enum class TLocalKind : uint8_t { First = 0, Second = 1 };
  struct TCase {
    TValue Value;
    const char* Expected;
  };
  TUBOUniformDef uniform{"u_Light", 3, 1, 4, "1 2"};
  const TCase cases[] = {
      {TValue::From(int32_t(-5)), "-5"},
      {TValue::From(int64_t(5000000000)), "5000000000"},
      {TValue::From(uint32_t(4000000000u)), "4000000000"},
      {TValue::From(0.1f), "0.100000001490116"},
      {TValue::From(100.0), "100"},
      {TValue::From(1e15), "1E15"},
      {TValue::From(true), "true"},
      {TValue::From(std::string("a/b\\c\"d")), R"("a/b\\c\"d")"},
      {TValue::From(TTextureFlipping::Horizontal), R"("Horizontal")"},
      {TValue::From(MakeAlphaColor(16, 32, 48, 255)), R"({"RecordType":"TAlphaColor","Value":[16,32,48,255]})"},
      {TValue::From(TPoint(1, -2)), R"({"RecordType":"TPoint","Value":[1,-2]})"},
      {TValue::From(TPoint3D(0.5f, 1, 0.1f)), R"({"RecordType":"TPoint3D","Value":[0.5,1,0.100000001490116]})"},
      {TValue::From(TAlphaColorF(1, 0, 0.5f, 1)), R"({"RecordType":"TAlphaColorF","Value":[1,0,0.5,1]})"},
      {TValue::From(uniform),
       R"({"RecordType":"TUBOUniformDef","Name":"u_Light","DataType":3,"Layout":1,"ArrayLength":4,"ValueAsString":"1 2"})"},
      {TValue::From(TRectF()), R"x("(record)")x"},
      {TValue(), "null"},
  };
  for (const auto& c : cases) EXPECT_EQ(TakeText(TCustomDef::RttiValueToJSON(c.Value)), c.Expected) << c.Expected;
  EXPECT_EQ(TakeText(TCustomDef::RttiValueToJSON(TValue::From(std::nan("")))), "null");  // JSON has no NaN
}

template <class T>
void ExpectRecordRoundTrip(const T& AValue) {
  test::TJSONValuePtr json(TCustomDef::RttiValueToJSON(TValue::From(AValue)));
  const TValue back = TCustomDef::JSONToRttiValue(json.get());
  ASSERT_TRUE(back.HoldsType<T>()) << json->ToJSON();
  EXPECT_TRUE(back.AsType<T>() == AValue) << json->ToJSON();
}

TEST(DefTypesBase, RecordsComeBackEqual) {
  ExpectRecordRoundTrip(TPoint(3, -4));
  ExpectRecordRoundTrip(TPointF(0.1f, -2.5f));
  ExpectRecordRoundTrip(TPoint3D(0.1f, 0.2f, 0.3f));
  ExpectRecordRoundTrip(TVector3D(1, 2, 3, 0.25f));
  TMatrix rot = TMatrix3D::CreateRotationZ(0.3f).ToMatrix();
  ExpectRecordRoundTrip(rot);
  ExpectRecordRoundTrip(TMatrix3D::CreateRotation({1, 2, 3}, 0.7f) * TMatrix3D::CreateTranslation({4, 5, 6}));
  ExpectRecordRoundTrip(MakeAlphaColor(16, 32, 48, 255));
  ExpectRecordRoundTrip(TAlphaColorF(0.1f, 0.2f, 0.3f, 0.4f));
  ExpectRecordRoundTrip(TUBOUniformDef{"u_Fog", 2, 1, 8, "0.5"});
}

TEST(DefTypesBase, JSONValuesBecomeTypedValues) {
  auto value = [](const char* AText) {
    const auto json = ParseValue(AText);
    return TCustomDef::JSONToRttiValue(json.get());
  };
  EXPECT_TRUE(value("5").HoldsType<int32_t>());
  EXPECT_EQ(value("5").AsInteger(), 5);
  EXPECT_TRUE(value("2.5").HoldsType<double>());
  // Exponent forms are floats: the writer itself emits them.
  EXPECT_TRUE(value("1e5").HoldsType<double>());
  EXPECT_EQ(value("1e5").AsExtended(), 100000.0);
  EXPECT_EQ(value("1E15").AsExtended(), 1e15);
  EXPECT_EQ(value("5000000000").AsInt64(), 5000000000);  // widened, not lost
  EXPECT_EQ(value("true").AsBoolean(), true);
  EXPECT_EQ(value("false").AsBoolean(), false);
  EXPECT_EQ(value("[1, 2]").AsString(), "[1,2]");
  EXPECT_EQ(value(R"({"a":1})").AsString(), R"({"a":1})");
  EXPECT_EQ(value(R"("str")").AsString(), "str");
  EXPECT_EQ(value("null").AsString(), "null");
}

TEST(DefTypesBase, AlphaColorChannelsKeepTheirLowBytes) {
  const auto json = ParseValue(R"({"RecordType":"TAlphaColor","Value":[256,-1,511,2.5]})");
  const TAlphaColor c = TCustomDef::JSONToRttiValue(json.get()).AsType<TAlphaColor>();
  EXPECT_EQ(RedOf(c), 0);
  EXPECT_EQ(GreenOf(c), 255);
  EXPECT_EQ(BlueOf(c), 255);
  EXPECT_EQ(AlphaOf(c), 2);
}

TEST(DefTypesBase, MalformedRecordsRaiseTheirMessages) {
  struct TCase {
    const char* Json;
    const char* Message;
  };
  const TCase cases[] = {
      {R"({"RecordType":"TPoint3D","Value":[1,2]})",
       "Unexpected value type in RecordType \"TPoint3D\" found in JSONToRttiValue of TCustomDef"},
      {R"({"RecordType":"TMatrix3D","Value":{"a":1}})",
       "Unexpected value type in RecordType \"TMatrix3D\" found in JSONToRttiValue of TCustomDef"},
      {R"({"RecordType":"TPoint3D"})", "Missing value in RecordType \"TPoint3D\" in JSONToRttiValue of TCustomDef"},
      {R"({"RecordType":"TRectF","Value":[]})",
       "Unsupported RecordType \"TRectF\" found in JSONToRttiValue of TCustomDef"},
      {R"({"RecordType":"TPoint","Value":[1,"x"]})",
       "TCustomDef.JSONToRttiValue(TPoint) - unexpected value found \"[1,\"x\"]\""},
      {R"({"RecordType":"TPoint","Value":[1,1e10]})",
       "TCustomDef.JSONToRttiValue(TPoint) - unexpected value found \"[1,1e10]\""},
      {R"({"RecordType":"TAlphaColor","Value":[1,2,3,null]})",
       "TCustomDef.JSONToRttiValue(TAlphaColor) - unexpected value found \"[1,2,3,null]\""},
      // A float beyond the single range would be infinity, which no writer can store.
      {R"({"RecordType":"TPoint3D","Value":[1e300,0,0]})",
       "TCustomDef.JSONToRttiValue(TPoint3D) - value out of the single range in \"[1e300,0,0]\""},
      {R"({"RecordType":"TPointF","Value":[0,-3.5e38]})",
       "TCustomDef.JSONToRttiValue(TPointF) - value out of the single range in \"[0,-3.5e38]\""},
      {R"({"RecordType":"TMatrix3D","Value":[1,0,0,0,0,1,0,0,0,0,1,0,0,0,1e39,1]})",
       "TCustomDef.JSONToRttiValue(TMatrix3D) - value out of the single range in "
       "\"[1,0,0,0,0,1,0,0,0,0,1,0,0,0,1e39,1]\""},
  };
  for (const auto& c : cases) {
    const auto json = ParseValue(c.Json);
    try {
      TCustomDef::JSONToRttiValue(json.get());
      ADD_FAILURE() << "no exception for " << c.Json;
    } catch (const EInvalidCast&) {
      ADD_FAILURE() << "invalid cast for " << c.Json;
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), c.Message);
    }
  }
  // A float record element of another kind is an invalid cast.
  const auto json = ParseValue(R"({"RecordType":"TPoint3D","Value":[1,"2",3]})");
  EXPECT_THROW(TCustomDef::JSONToRttiValue(json.get()), EInvalidCast);
  // A record type that is not a string makes the object plain text.
  const auto plain = ParseValue(R"({"RecordType":true})");
  EXPECT_EQ(TCustomDef::JSONToRttiValue(plain.get()).AsString(), R"({"RecordType":true})");
}

// A record that cannot be written raises without leaving half-built JSON behind (the leak
// checker sees the rest), whichever writer it goes through.
TEST(DefTypesBase, WritersRaiseWithoutLeakingHalfBuiltJson) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_THROW(delete TCustomDef::RttiValueToJSON(TValue::From(TPoint3D(1, nan, 0))), Exception);
  EXPECT_THROW(delete TCustomDef::RttiValueToJSON(TValue::From(TMatrix3D::CreateScaling({nan, 1, 1}))), Exception);
  TProperties props;
  props.Add("P", TValue::From(TVector3D(0, 0, 0, std::numeric_limits<float>::infinity())));
  TJSONObject holder;
  EXPECT_THROW(props.ToJSON(&holder), Exception);
  TOwned<TExtensionDef> extension(New<TExtensionDef>());
  extension->GetProperties()->Add("P", TValue::From(TPointF(nan, 0)));
  EXPECT_THROW(delete extension->ToJSON(), Exception);
  TOwned<TGroupDef> group(New<TGroupDef>(nullptr));
  group->GetProperties()->Add("P", TValue::From(TAlphaColorF(nan, 0, 0, 1)));
  EXPECT_THROW(delete group->ToJSON(), Exception);
}

TEST(DefTypesBase, UniformRecordMissingFieldsStayZero) {
  const auto json = ParseValue(R"({"RecordType":"TUBOUniformDef","Name":true,"Layout":2.5,"DataType":"3"})");
  const auto u = TCustomDef::JSONToRttiValue(json.get()).AsType<TUBOUniformDef>();
  EXPECT_EQ(u, (TUBOUniformDef{"", 0, 2, 0, ""}));
}

TEST(DefTypesBase, BaseDefinitionWritesTypeAndId) {
  TOwned<TCustomDef> def(New<TCustomDef>());
  EXPECT_EQ(TakeText(def->ToJSON()), R"({"Type":"Quorvel.DefTypes.TCustomDef","Id":""})");
  def->SetId("x");
  EXPECT_EQ(def->GetSize(), def->InstanceSize() + 2);

  // Without "Id" (or with one of another kind) the id stays.
  def->FromJSON(nullptr, ParseObject(R"({"Type":"?"})").get());
  EXPECT_EQ(def->GetId(), "x");
  def->FromJSON(nullptr, ParseObject(R"({"Id":null})").get());
  EXPECT_EQ(def->GetId(), "x");
  def->FromJSON(nullptr, ParseObject(R"({"Id":"y"})").get());
  EXPECT_EQ(def->GetId(), "y");
  EXPECT_TRUE(def->LateResolveFromJSON(nullptr, nullptr));
}

TEST(DefTypesBase, AssetsPackageMustBeOverridden) {
  TOwned<TTransformDef> def(New<TTransformDef>(nullptr));
  try {
    def->GetAssetsPackage();
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "TODO: override TCustomDef.GetAssetsPackage() in TTransformDef");
  }
}

TEST(DefTypesBase, ClassTableMatchesExactlyAndFallsBackToMeshes) {
  const std::pair<const char*, const char*> cases[] = {
      {"Quorvel.DefTypes.TTransformDef", "TTransformDef"},
      {"Quorvel.DefTypes.TSegmentDef", "TSegmentDef"},
      {"Quorvel.DefTypes.TArmatureDef", "TArmatureDef"},
      {"Quorvel.DefTypes.TJointDef", "TJointDef"},
      {"Quorvel.DefTypes.TSkinDef", "TSkinDef"},
      {"Quorvel.DefTypes.TMeshDef", "TMeshDef"},
      {"Quorvel.DefTypes.TVertexGroupDef", "TVertexGroupDef"},
      {"Quorvel.DefTypes.TLightDef", "TLightDef"},
      {"Quorvel.DefTypes.TCameraDef", "TCameraDef"},
      {"Quorvel.DefTypes.TGroupDef", "TMeshDef"},
      {"Quorvel.DefTypes.TModelDef", "TMeshDef"},
      {"quorvel.deftypes.TLightDef", "TMeshDef"},
      {"TLightDef", "TMeshDef"},
      {"", "TMeshDef"},
  };
  for (const auto& c : cases) EXPECT_EQ(FindDefClass(c.first)->ClassName(), c.second) << c.first;
}

}  // namespace
}  // namespace quorvel
