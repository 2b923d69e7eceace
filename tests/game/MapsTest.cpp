#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>

#include "framework/math/AlphaColor.h"
#include "framework/math/Matrix3D.h"
#include "framework/math/Point.h"
#include "framework/math/Point3D.h"
#include "framework/math/Quaternion3D.h"
#include "framework/math/Rect.h"
#include "lib/game/LanguageMap.h"
#include "lib/game/ParametersMap.h"
#include "lib/game/XmlDocument.h"

namespace quorvel {
namespace {

TOwned<TJSONObject> ParseObject(const std::string& AText) {
  TOwned<TJSONValue> value(TJSONObject::ParseJSONValue(AText, true));
  auto* object = dynamic_cast<TJSONObject*>(value.get());
  if (!object) throw Exception("not an object: " + AText);
  value.release();
  return TOwned<TJSONObject>(object);
}

std::string Json(TJSONObject* AObject) {
  TOwned<TJSONObject> owned(AObject);
  return owned->ToJSON();
}

TEST(LanguageTable, CodesAndIds) {
  EXPECT_EQ(LanguageCodeToId("de-ch"), 4);
  EXPECT_EQ(LanguageCodeToId("DE-CH"), 0);
  EXPECT_EQ(LanguageCodeToId("fr-fr"), 0);
  EXPECT_EQ(LanguageIdToCode(3), "de-at");
  EXPECT_EQ(LanguageIdToCode(5), "en-us");
  EXPECT_EQ(LanguageIdToCode(-1), "en-us");
}

// The language elements of a document, loaded from text.
struct TLoaded {
  TMz_XmlDocument Doc;
  TMz_XmlElement* Element = nullptr;
  explicit TLoaded(const std::string& ABody) {
    Doc.loadFromString("<?xml version=\"1.0\"?>" + ABody);
    Element = dynamic_cast<TMz_XmlElement*>(Doc.root())->nodes()->Items(0);
  }
};

TEST(LanguageMap, FromXmlCases) {
  const struct {
    const char* Body;
    const char* Before;  // JSON of the map before, "" for empty
    const char* After;
  } cases[] = {
      {"<t id=\"de-de\" lang=\"en-us\">Hallo</t>", R"([{"Key":"x","Value":"1"}])",
       R"([{"Key":"x","Value":"1"},{"Key":"de-de","Value":"Hallo"}])"},
      {"<t lang=\"en-uk\">Hi</t>", "", R"([{"Key":"en-uk","Value":"Hi"}])"},
      {"<t>none</t>", R"([{"Key":"x","Value":"1"}])", R"([{"Key":"x","Value":"1"}])"},
      // Children empty the map even when none is usable.
      {"<t><other id=\"a\"/><lang>no id</lang><lang id=\"b\"><x/></lang></t>", R"([{"Key":"x","Value":"1"}])", "[]"},
      {"<t><lang id=\"a\">plain</lang><lang id=\"b\"><![CDATA[one]]><![CDATA[ two]]></lang>"
       "<lang id=\"a\"><![CDATA[later]]></lang></t>",
       "", R"([{"Key":"a","Value":"later"},{"Key":"b","Value":"one two"}])"},
  };
  for (const auto& c : cases) {
    TQuorvelLanguageMap map;
    if (*c.Before) map.FromJSON(ParseObject(std::string(R"({"Values":)") + c.Before + "}").get());
    TLoaded loaded(c.Body);
    map.FromXml(loaded.Element);
    EXPECT_EQ(Json(map.ToJSON()), std::string(R"({"Values":)") + c.After + "}") << c.Body;
  }
}

TEST(LanguageMap, XmlAndJsonRoundTrips) {
  TQuorvelLanguageMap map;
  map.AddOrSetValue("en-us", "Say \"hi\" \\ now\r\nline <b> & ]]> end");
  map.AddOrSetValue("de-de", "it's");

  TMz_XmlDocument doc;
  auto* root = New<TMz_XmlElement>(&doc, nullptr, "", "xml");
  root->setKind(mzDocument);
  doc.setRoot(root);
  TMz_XmlElement* container = map.ToXml("texts", true, root);
  EXPECT_EQ(container->attribute_raw("type"), "multilingual");
  const std::string saved = doc.saveToString(true);
  TMz_XmlDocument reread;
  reread.loadFromString(saved);
  TQuorvelLanguageMap back;
  back.FromXml(dynamic_cast<TMz_XmlElement*>(reread.root())->find("texts"));
  EXPECT_EQ(Json(back.ToJSON()), Json(map.ToJSON()));

  TQuorvelLanguageMap fromJson;
  fromJson.FromJSON(ParseObject(Json(map.ToJSON())).get());
  EXPECT_EQ(Json(fromJson.ToJSON()), Json(map.ToJSON()));

  // Empty map: a container without children; without a container nothing is added.
  TQuorvelLanguageMap empty;
  TMz_XmlElement* bare = empty.ToXml("t", true, root);
  EXPECT_EQ(bare->nodes(), nullptr);
  EXPECT_EQ(empty.ToXml("t", false, bare), bare);
  EXPECT_EQ(bare->nodes(), nullptr);

  TQuorvelLanguageMap copy;
  copy.Assign(&map);
  EXPECT_EQ(copy.Count(), 2);
  copy.Assign(nullptr);
  EXPECT_EQ(copy.Count(), 0);
}

TEST(LanguageMap, FromJsonSkipsMalformedElements) {
  TQuorvelLanguageMap map;
  map.AddOrSetValue("old", "x");
  map.FromJSON(ParseObject(R"({"Values":[{"Key":"a","Value":1},3,{"Key":2,"Value":"b"},{"Value":"c"},
                               {"Key":"ok","Value":"yes"}]})")
                   .get());
  EXPECT_EQ(Json(map.ToJSON()), R"({"Values":[{"Key":"ok","Value":"yes"}]})");
  map.FromJSON(ParseObject(R"({"Values":{}})").get());
  EXPECT_EQ(map.Count(), 0);
  map.AddOrSetValue("x", "y");
  map.FromJSON(nullptr);
  EXPECT_EQ(map.Count(), 0);
}

TEST(ParametersMap, ValuesWrittenByKind) {
  TQuorvelParametersMap map;
  map.AddOrSetValue("int", TValue(int32_t(7)));
  map.AddOrSetValue("big", TValue(int64_t(5000000000)));
  map.AddOrSetValue("single", TValue(2.5f));
  map.AddOrSetValue("text", TValue(std::string("q\"\\\n")));
  map.AddOrSetValue("yes", TValue(true));
  map.AddOrSetValue("empty", TValue());
  map.AddOrSetValue("rect", TValue::From(TRectF(0, 0, 1, 1)));
  map.AddOrSetValue("pointf", TValue::From(TPointF(1.5f, -2)));
  map.AddOrSetValue("point", TValue::From(TPoint(3, 4)));
  map.AddOrSetValue("inf", TValue(HUGE_VAL));
  map.AddOrSetValue("infpoint", TValue::From(TPointF(HUGE_VALF, 0)));
  EXPECT_EQ(Json(map.ToJSON()),
            R"({"Values":[{"Key":"int","Value":7},{"Key":"big","Value":5000000000},{"Key":"single","Value":2.5},)"
            R"({"Key":"text","Value":"q\"\\\n"},{"Key":"yes","Value":true},{"Key":"empty","Value":null},)"
            R"({"Key":"rect","Value":null},{"Key":"pointf","Value":{"Class":"TPointF","FloatArrayValue":[1.5,-2]}},)"
            R"({"Key":"point","Value":{"Class":"TPoint","FloatArrayValue":[3,4]}},{"Key":"inf","Value":null},{"Key":"infpoint","Value":null}]})");

  TQuorvelParametersMap back;
  back.FromJSON(ParseObject(Json(map.ToJSON())).get());
  ASSERT_EQ(back.Count(), map.Count());
  EXPECT_EQ(back["int"].Kind(), tkInteger);
  EXPECT_EQ(back["big"].AsInt64(), 5000000000);  // whole, as Int64
  EXPECT_EQ(back["single"].Kind(), tkFloat);
  EXPECT_EQ(back["single"].AsExtended(), 2.5);
  EXPECT_EQ(back["text"].AsString(), "q\"\\\n");
  EXPECT_TRUE(back["yes"].AsBoolean());
  EXPECT_TRUE(back["empty"].IsEmpty());
  EXPECT_TRUE(back["rect"].IsEmpty());
  EXPECT_EQ(back["pointf"].AsType<TPointF>().X, 1.5f);
  EXPECT_EQ(back["point"].AsType<TPoint>().Y, 4);
}

TEST(ParametersMap, EveryRecordClassRoundTrips) {
  TQuorvelParametersMap map;
  map.AddOrSetValue("p3", TValue::From(TPoint3D(1, 2, 3)));
  map.AddOrSetValue("v3", TValue::From(TVector3D(1, 2, 3, 4)));
  map.AddOrSetValue("q", TValue::From(TQuaternion3D(0.5f, 0.25f, 0.125f, 2)));
  TMatrix m;
  for (int i = 0; i < 9; ++i) m.At(i / 3, i % 3) = float(i + 1);
  map.AddOrSetValue("m", TValue::From(m));
  TMatrix3D m3;
  for (int i = 0; i < 16; ++i) m3.At(i / 4, i % 4) = float(i) / 4;
  map.AddOrSetValue("m3", TValue::From(m3));
  map.AddOrSetValue("c", TValue::From(TAlphaColorF(0.5f, 0.25f, 1, 0)));
  const std::string json = Json(map.ToJSON());
  EXPECT_NE(json.find(R"({"Class":"TQuaternion3D","FloatArrayValue":[0.5,0.25,0.125,2]})"), std::string::npos);
  EXPECT_NE(json.find(R"("FloatArrayValue":[1,2,3,4,5,6,7,8,9])"), std::string::npos);
  TQuorvelParametersMap back;
  back.FromJSON(ParseObject(json).get());
  EXPECT_EQ(Json(back.ToJSON()), json);
  EXPECT_EQ(back["q"].AsType<TQuaternion3D>().RealPart, 2);
  EXPECT_EQ(back["m3"].AsType<TMatrix3D>().m44, 3.75f);
}

TEST(ParametersMap, ReadingCases) {
  const struct {
    const char* Value;
    std::function<void(const TValue&)> Check;
  } cases[] = {
      {"1e3", [](const TValue& v) { EXPECT_EQ(v.Kind(), tkFloat); EXPECT_EQ(v.AsExtended(), 1000); }},
      {"1E+20", [](const TValue& v) { EXPECT_EQ(v.AsExtended(), 1e20); }},
      {"-2147483649", [](const TValue& v) { EXPECT_EQ(v.Kind(), tkInt64); EXPECT_EQ(v.AsInt64(), -2147483649LL); }},
      {"123456789012345678901234", [](const TValue& v) { EXPECT_EQ(v.Kind(), tkFloat); }},
      {R"({"Class":"TPoint","FloatArrayValue":[1.5,2.5]})",
       [](const TValue& v) { EXPECT_EQ(v.AsType<TPoint>().X, 2); EXPECT_EQ(v.AsType<TPoint>().Y, 2); }},
      {R"({"Class":"TPoint3D","FloatArrayValue":[1,2]})", [](const TValue& v) { EXPECT_TRUE(v.IsEmpty()); }},
      {R"({"Class":"TPoint","FloatArrayValue":[1e12,0]})", [](const TValue& v) { EXPECT_TRUE(v.IsEmpty()); }},
      {R"({"Class":"TRectF","FloatArrayValue":[1,2,3,4]})", [](const TValue& v) { EXPECT_TRUE(v.IsEmpty()); }},
      {R"({"FloatArrayValue":[1,2]})", [](const TValue& v) { EXPECT_TRUE(v.IsEmpty()); }},
      {R"({"Class":"TPointF","FloatArrayValue":3})", [](const TValue& v) { EXPECT_TRUE(v.IsEmpty()); }},
      {"[1]", [](const TValue& v) { EXPECT_TRUE(v.IsEmpty()); }},
      {"false", [](const TValue& v) { EXPECT_TRUE(v.IsBoolean()); EXPECT_FALSE(v.AsBoolean()); }},
  };
  for (const auto& c : cases) {
    TQuorvelParametersMap map;
    map.FromJSON(ParseObject(std::string(R"({"Values":[{"Key":"k","Value":)") + c.Value + "}]}").get());
    ASSERT_EQ(map.Count(), 1) << c.Value;
    c.Check(map["k"]);
  }
  // Skipped elements; a non-number in a float array ends the read with what was read.
  TQuorvelParametersMap map;
  map.FromJSON(ParseObject(R"({"Values":[{"Key":1,"Value":1},{"Key":"novalue"},"x",{"Key":"a","Value":1},
                               {"Key":"c","Value":2}]})")
                   .get());
  EXPECT_EQ(map.Count(), 2);
  EXPECT_THROW(map.FromJSON(ParseObject(R"({"Values":[{"Key":"a","Value":1},
                               {"Key":"b","Value":{"Class":"TPointF","FloatArrayValue":["x",1]}}]})")
                                .get()),
               EInvalidCast);
  EXPECT_EQ(map.Count(), 1);
  map.FromJSON(nullptr);
  EXPECT_EQ(map.Count(), 0);
  map.AddOrSetValue("x", TValue(1));
  map.Assign(nullptr);
  EXPECT_EQ(map.Count(), 0);
}

}  // namespace
}  // namespace quorvel
