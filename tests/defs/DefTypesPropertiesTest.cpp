#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

#include "framework/rtl/SysUtils.h"
#include "lib/defs/DefTypes.h"
#include "tests/defs/DefTypesTestUtil.h"

namespace quorvel {
namespace {

using test::ParseObject;
using test::TakeText;

// The pairs of a JSON object as name -> compact value text (order-insensitive comparison);
// a repeated name keeps all its values in order.
std::multimap<std::string, std::string> PairsOf(const std::string& AText) {
  const auto obj = ParseObject(AText);
  std::multimap<std::string, std::string> r;
  for (const TJSONPair* p : *obj) r.emplace(p->GetName(), p->GetJsonValue()->ToJSON());
  return r;
}

TEST(DefTypesProperties, PropertiesRoundTripTheirValues) {
  TProperties props;
  props.Add("Count", TValue::From(int32_t(5)));
  props.Add("Scale", TValue::From(0.5));
  props.Add("Label", TValue::From(std::string("a \"b\"")));
  props.Add("On", TValue::From(true));
  props.Add("Pivot", TValue::From(TPoint3D(1, 2, 3)));
  TJSONObject holder;
  props.ToJSON(&holder);
  EXPECT_EQ(holder.ToJSON(),
            R"({"Properties":[{"Name":"Count","Value":5},{"Name":"Scale","Value":0.5},)"
            R"({"Name":"Label","Value":"a \"b\""},{"Name":"On","Value":true},)"
            R"({"Name":"Pivot","Value":{"RecordType":"TPoint3D","Value":[1,2,3]}}]})");

  TProperties back;
  back.Add("Stale", TValue::From(1));  // reading starts from an empty dictionary
  back.FromJSON(&holder);
  ASSERT_EQ(back.Count(), 5);
  EXPECT_FALSE(back.ContainsKey("Stale"));
  EXPECT_TRUE(back["Count"].HoldsType<int32_t>());
  EXPECT_EQ(back["Count"].AsInteger(), 5);
  EXPECT_EQ(back["Scale"].AsExtended(), 0.5);
  EXPECT_EQ(back["Label"].AsString(), "a \"b\"");
  EXPECT_TRUE(back["On"].AsBoolean());
  EXPECT_EQ(back["Pivot"].AsType<TPoint3D>(), TPoint3D(1, 2, 3));
  EXPECT_EQ(back.GetSize(), static_cast<int64_t>(sizeof(TProperties)) + 5 * 44);
}

TEST(DefTypesProperties, MalformedPropertyElementsAreSkipped) {
  TProperties props;
  props.FromJSON(ParseObject(R"({"Properties":3})").get());
  EXPECT_EQ(props.Count(), 0);
  props.FromJSON(ParseObject(R"({"Properties":[5,{"Value":1},{"Name":"NoValue"},{"Name":true,"Value":1},
      {"Name":"  Padded\t","Value":2}]})")
                     .get());
  ASSERT_EQ(props.Count(), 1);
  EXPECT_EQ(props["Padded"].AsInteger(), 2);  // names lose their blanks and control characters
}

TEST(DefTypesProperties, RepeatedPropertyNameRaisesAndKeepsTheEntriesBefore) {
  TProperties props;
  EXPECT_THROW(props.FromJSON(ParseObject(R"({"Properties":[{"Name":"a","Value":1},{"Name":"b","Value":2},
      {"Name":"a","Value":3}]})")
                                  .get()),
               EDuplicateKey);
  EXPECT_EQ(props.Count(), 2);
  EXPECT_EQ(props["a"].AsInteger(), 1);
  // Errors of the value conversion pass through.
  EXPECT_THROW(props.FromJSON(ParseObject(R"({"Properties":[{"Name":"p","Value":{"RecordType":"TPoint3D"}}]})").get()),
               Exception);
}

TEST(DefTypesProperties, MetaDataReadsEveryPairAsATag) {
  TOwned<TMetaDef> meta(New<TMetaDef>());
  meta->FromJSON(nullptr, ParseObject(R"({"A":1.5,"B":2,"C":1e5,"D":true,"E":"x","F":null,"G":[1],"H":{},
      "I":99999999999999999999,"J":-7,"\"Quoted\"":"q","\"Dou\"\"ble\"":1," Pad ":0})")
                              .get());
  EXPECT_TRUE(meta->GetTag("A").HoldsType<double>());
  EXPECT_EQ(meta->GetTagAsFloat("A"), 1.5);
  EXPECT_TRUE(meta->GetTag("B").HoldsType<int64_t>());
  EXPECT_EQ(meta->GetTagAsInt("B"), 2);
  // An exponent form is a float (the writer emits it for large and tiny values).
  EXPECT_TRUE(meta->GetTag("C").HoldsType<double>());
  EXPECT_EQ(meta->GetTagAsFloat("C"), 100000.0);
  EXPECT_TRUE(meta->GetTagAsBool("D"));
  EXPECT_EQ(meta->GetTagAsString("E"), "x");
  EXPECT_TRUE(meta->GetTag("F").IsEmpty());
  EXPECT_TRUE(meta->GetTag("G").IsEmpty());
  EXPECT_TRUE(meta->GetTag("H").IsEmpty());
  EXPECT_EQ(meta->GetTagAsFloat("I"), 1e20);  // beyond Int64: a float, not a lost value
  EXPECT_EQ(meta->GetTagAsInt("J"), -7);
  EXPECT_EQ(meta->GetTagAsString("Quoted"), "q");
  EXPECT_EQ(meta->GetTagAsInt("Dou\"ble"), 1);
  EXPECT_EQ(meta->GetTagAsInt("Pad"), 0);
  EXPECT_TRUE(meta->GetTag("Pad").HoldsType<int64_t>());
  EXPECT_EQ(meta->GetTagAsString("Type"), "");  // no "Type" pair, no tag
}

TEST(DefTypesProperties, MetaTagAccessorsFollowTheValueRules) {
  TOwned<TMetaDef> meta(New<TMetaDef>());
  meta->SetTagAsFloat("f", 2);
  EXPECT_EQ(meta->GetTagAsFloat("f"), 2.0);
  EXPECT_EQ(meta->GetTagAsString("missing"), "");
  EXPECT_EQ(meta->GetTagAsInt("missing"), 0);
  EXPECT_EQ(meta->GetTagAsFloat("missing"), 0.0);
  EXPECT_FALSE(meta->GetTagAsBool("missing"));
  meta->SetTagAsInt("i", 3);
  EXPECT_EQ(meta->GetTagAsFloat("i"), 3.0);
  EXPECT_EQ(meta->GetTagAsString("i"), "3");
  meta->SetTagAsString("s", "x");
  EXPECT_THROW(meta->GetTagAsInt("s"), EInvalidCast);
  meta->SetTag("c", TValue::From('z'));
  EXPECT_EQ(meta->GetTagAsString("c"), "z");

  for (const TValue& bad : {TValue::From(TPoint3D(1, 2, 3)), TValue(), TValue::From(TTextureFlipping::Vertical),
                            TValue::From(TTextureFlippings{TTextureFlipping::Vertical})}) {
    try {
      meta->SetTag("bad", bad);
      ADD_FAILURE();
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), "TMetaDef.SetTag(): invalid meta tag type - only string, int, float and bool allowed");
    }
  }
  EXPECT_TRUE(meta->GetTag("bad").IsEmpty());
  EXPECT_EQ(meta->Tags().Count(), 4);
  meta->Clear();
  EXPECT_EQ(meta->Tags().Count(), 0);
}

// Integer tags go through 64 bits end to end: set, written, read back.
TEST(DefTypesProperties, IntegerTagsKeepSixtyFourBits) {
  for (const int64_t value : {int64_t(5000000000), int64_t(-5000000000), int64_t(9007199254740993)}) {
    SCOPED_TRACE(value);
    TOwned<TModelMetaDef> meta(New<TModelMetaDef>());
    meta->SetPolygons(value);
    EXPECT_EQ(meta->GetPolygons(), value);
    const std::string text = TakeText(meta->ToJSON());
    EXPECT_NE(text.find("\"Polygons\":" + std::to_string(value)), std::string::npos) << text;
    TOwned<TModelMetaDef> back(New<TModelMetaDef>());
    back->FromJSON(nullptr, ParseObject(text).get());
    EXPECT_EQ(back->GetPolygons(), value);
  }
}

TEST(DefTypesProperties, ModelMetaDataRoundTripAddsTypeAndIdTags) {
  TOwned<TModelMetaDef> meta(New<TModelMetaDef>());
  meta->SetTitle("Robot");
  meta->SetPolygons(1200);
  meta->SetMobileSuitable(true);
  meta->SetTagAsFloat("Scale", 3.0);
  meta->SetTagAsFloat("Tiny", 1e-7);
  const std::string first = TakeText(meta->ToJSON());
  EXPECT_EQ(first,
            R"({"Type":"Quorvel.DefTypes.TModelMetaDef","Id":"","Title":"Robot","Polygons":1200,)"
            R"("MobileSuitable":true,"Scale":3,"Tiny":1E-7})");

  TOwned<TModelMetaDef> back(New<TModelMetaDef>());
  back->FromJSON(nullptr, ParseObject(first).get());
  EXPECT_EQ(back->GetTitle(), "Robot");
  EXPECT_EQ(back->GetPolygons(), 1200);
  EXPECT_TRUE(back->GetMobileSuitable());
  EXPECT_TRUE(back->GetTag("Scale").HoldsType<int64_t>());  // 3.0 was written as 3
  EXPECT_EQ(back->GetTagAsFloat("Tiny"), 1e-7);
  EXPECT_EQ(back->GetTagAsString("Type"), "Quorvel.DefTypes.TModelMetaDef");
  EXPECT_TRUE(back->GetTag("Id").HoldsType<std::string>());

  // The tags "Type" and "Id" are written again after the base pairs; from then on stable.
  const std::string second = TakeText(back->ToJSON());
  const auto pairs = PairsOf(second);
  EXPECT_EQ(pairs.count("Type"), 2u);
  EXPECT_EQ(pairs.count("Id"), 2u);
  TOwned<TModelMetaDef> third(New<TModelMetaDef>());
  third->FromJSON(nullptr, ParseObject(second).get());
  EXPECT_EQ(PairsOf(TakeText(third->ToJSON())), pairs);
}

TEST(DefTypesProperties, BehaviourGetsAGuidAndWritesItsClassNameTwice) {
  TOwned<TMaterialBehaviourDef> a(New<TMaterialBehaviourDef>());
  TOwned<TMaterialBehaviourDef> b(New<TMaterialBehaviourDef>());
  EXPECT_NE(a->GetId(), b->GetId());
  TGUID guid;
  EXPECT_TRUE(TGUID::TryCreate(a->GetId(), guid));
  EXPECT_EQ(a->GetId().size(), 38u);
  EXPECT_EQ(a->GetId(), UpperCase(a->GetId()));

  a->SetId("beh");
  a->SetPrefabClass("TSpin");
  EXPECT_EQ(TakeText(a->ToJSON()),
            R"({"Type":"Quorvel.DefTypes.TMaterialBehaviourDef","Id":"beh","Type":"TMaterialBehaviourDef",)"
            R"("PrefabClass":"TSpin","Properties":[]})");
  a->GetProperties()->Add("Speed", TValue::From(2));
  const std::string text = TakeText(a->ToJSON());
  b->FromJSON(nullptr, ParseObject(text).get());
  EXPECT_EQ(b->GetId(), "beh");
  EXPECT_EQ(b->GetPrefabClass(), "TSpin");
  EXPECT_EQ(b->GetProperties()->Items("Speed").AsInteger(), 2);
  EXPECT_EQ(TakeText(b->ToJSON()), text);

  // An absent "PrefabClass" clears it.
  b->FromJSON(nullptr, ParseObject(R"({"Id":"beh"})").get());
  EXPECT_EQ(b->GetPrefabClass(), "");
  EXPECT_EQ(b->GetProperties()->Count(), 0);
  EXPECT_EQ(b->GetSize(), b->InstanceSize() + 6);
}

TEST(DefTypesProperties, ExtensionsAndTheirList) {
  TOwned<TExtensionDef> ext(New<TExtensionDef>());
  ext->SetId("KHR_x");
  ext->GetProperties()->Add("Strength", TValue::From(0.25));
  const std::string text = TakeText(ext->ToJSON());
  EXPECT_EQ(text,
            R"({"Type":"Quorvel.DefTypes.TExtensionDef","Id":"KHR_x","Properties":[{"Name":"Strength","Value":0.25}]})");
  TOwned<TExtensionDef> back(New<TExtensionDef>());
  back->FromJSON(nullptr, ParseObject(text).get());
  EXPECT_EQ(TakeText(back->ToJSON()), text);
  EXPECT_EQ(back->GetSize(), back->InstanceSize() + 2 * 5 + back->GetProperties()->GetSize());

  TExtensionDefList list;
  auto* first = New<TExtensionDef>();
  first->SetId("dup");
  auto* second = New<TExtensionDef>();
  second->SetId("dup");
  list.Add(first);
  list.Add(second);
  EXPECT_EQ(list.FindExtensionById("dup"), first);
  EXPECT_EQ(list.FindExtensionById("DUP"), nullptr);
}

}  // namespace
}  // namespace quorvel
