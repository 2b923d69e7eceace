// TValue: kinds, type names, the run-time's conversion rules and their errors.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "framework/math/AlphaColor.h"
#include "framework/math/Point3D.h"
#include "framework/rtl/Object.h"
#include "framework/rtl/Set.h"
#include "framework/rtl/Value.h"

namespace quorvel {
namespace value_test {

enum class TFruit { Apple = 0, Pear = 1, Plum = 5 };
FW_ENUM(TFruit, Apple, Pear, Plum)

enum class TUnnamed { A, B };

struct TSample {
  int32_t A = 0;
  float B = 0;
  bool operator==(const TSample&) const = default;
};
QUORVEL_TYPE_NAME(TSample)

class TThing : public TObject {
  FW_CLASS(TThing, TObject)
};
FW_CLASS_IMPL(TThing, "Quorvel.Test.Value")
FW_CLASS_NO_MEMBERS(TThing)

class TOtherThing : public TObject {
  FW_CLASS(TOtherThing, TObject)
};
FW_CLASS_IMPL(TOtherThing, "Quorvel.Test.Value")
FW_CLASS_NO_MEMBERS(TOtherThing)

#define EXPECT_INVALID_CAST(expr)                            \
  try {                                                      \
    (void)(expr);                                            \
    ADD_FAILURE() << #expr " did not raise";                 \
  } catch (const EInvalidCast& e) {                          \
    EXPECT_STREQ(e.what(), "Invalid class typecast");        \
  }

TEST(ValueTest, EmptyReadsAsTheDefaultOfEveryType) {
  TValue v;
  EXPECT_TRUE(v.IsEmpty());
  EXPECT_EQ(v.Kind(), tkUnknown);
  EXPECT_EQ(v.TypeName(), "");
  EXPECT_EQ(v.ToString(), "(empty)");
  EXPECT_EQ(v.AsString(), "");
  EXPECT_EQ(v.AsInteger(), 0);
  EXPECT_EQ(v.AsInt64(), 0);
  EXPECT_EQ(v.AsExtended(), 0.0);
  EXPECT_FALSE(v.AsBoolean());
  EXPECT_EQ(v.AsObject(), nullptr);
  EXPECT_TRUE(v.IsType<int32_t>());
  EXPECT_EQ(v.AsType<TPoint3D>(), TPoint3D());
  EXPECT_TRUE(TValue::Empty().IsEmpty());
}

TEST(ValueTest, KindsAndTypeNames) {
  struct Row {
    TValue Value;
    TTypeKind Kind;
    const char* Name;
  };
  const std::vector<Row> rows = {
      {int32_t(5), tkInteger, "Integer"},
      {uint32_t(5), tkInteger, "Cardinal"},
      {int64_t(5), tkInt64, "Int64"},
      {uint8_t(5), tkInteger, "Byte"},
      {1.5f, tkFloat, "Single"},
      {1.5, tkFloat, "Double"},
      {TDateTime(45000.5), tkFloat, "TDateTime"},
      {true, tkEnumeration, "Boolean"},
      {TFruit::Pear, tkEnumeration, "TFruit"},
      {'x', tkChar, "Char"},
      {char16_t(0x20AC), tkWChar, "WideChar"},
      {"text", tkString, "string"},
      {std::string("text"), tkString, "string"},
      {TPoint3D(1, 2, 3), tkRecord, "TPoint3D"},
      {TSample{}, tkRecord, "TSample"},
      {MakeAlphaColor(0xFF102030u), tkInteger, "TAlphaColor"},
      {TSet<TFruit>{TFruit::Apple}, tkSet, "set of TFruit"},
      {std::vector<int32_t>{1, 2}, tkDynArray, "TArray<Integer>"},
      {std::array<float, 3>{}, tkArray, "array[0..2] of Single"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.Name);
    EXPECT_EQ(r.Value.Kind(), r.Kind) << TypeKindName(r.Value.Kind());
    EXPECT_EQ(r.Value.TypeName(), r.Name);
    EXPECT_FALSE(r.Value.IsEmpty());
  }
  TThing thing;
  EXPECT_EQ(TValue(&thing).Kind(), tkClass);
  EXPECT_EQ(TValue(&thing).TypeName(), "TThing");
  EXPECT_EQ(TValue::From<TObject*>(&thing).TypeName(), "TObject");  // the declared class
  TThing* nil = nullptr;
  EXPECT_TRUE(TValue(nil).IsEmpty());  // a nil object counts as empty
  EXPECT_EQ(TValue(nil).Kind(), tkClass);
  EXPECT_EQ(TValue(TThing::StaticClass()).Kind(), tkClassRef);
  EXPECT_EQ(TValue(TThing::StaticClass()).AsClass(), TThing::StaticClass());
}

TEST(ValueTest, AlphaColorIsDistinctFromCardinal) {
  TValue c = MakeAlphaColor(0xFF102030u);
  EXPECT_TRUE(c.HoldsType<TAlphaColor>());
  EXPECT_FALSE(c.HoldsType<uint32_t>());
  EXPECT_EQ(c.AsType<TAlphaColor>(), MakeAlphaColor(0xFF102030u));
  EXPECT_EQ(c.AsType<uint32_t>(), 0xFF102030u);  // still an integer kind
  EXPECT_EQ(c.ToString(), "4279246896");
  TValue n = uint32_t(0xFF102030u);
  EXPECT_EQ(n.TypeName(), "Cardinal");
  EXPECT_EQ(n.AsType<TAlphaColor>(), MakeAlphaColor(0xFF102030u));  // integer to ordinal type
}

TEST(ValueTest, IntegerConversions) {
  TValue v = 42;
  EXPECT_EQ(v.AsInteger(), 42);
  EXPECT_EQ(v.AsInt64(), 42);
  EXPECT_EQ(v.AsExtended(), 42.0);  // an integer reads as a float
  EXPECT_EQ(v.AsString(), "42");
  EXPECT_TRUE(v.AsBoolean());
  EXPECT_FALSE(TValue(0).AsBoolean());
  EXPECT_EQ(v.AsOrdinal(), 42);
  EXPECT_EQ(v.ToString(), "42");
  EXPECT_EQ(TValue(int64_t(-9000000000)).ToString(), "-9000000000");
  EXPECT_EQ(TValue(int64_t(-9000000000)).AsInt64(), -9000000000);
  EXPECT_EQ(TValue(uint64_t(18446744073709551615ull)).ToString(), "18446744073709551615");
  EXPECT_EQ(TValue(1).AsType<TFruit>(), TFruit::Pear);  // integer to enumeration
  EXPECT_TRUE(v.IsType<double>());
  EXPECT_TRUE(v.IsType<std::string>());
  EXPECT_FALSE(v.IsType<TObject*>());
  EXPECT_INVALID_CAST(v.AsObject());
  EXPECT_INVALID_CAST(v.AsType<TPoint3D>());
  EXPECT_INVALID_CAST(v.AsType<char>());
}

TEST(ValueTest, FloatConversions) {
  TValue v = 2.5;
  EXPECT_EQ(v.AsExtended(), 2.5);
  EXPECT_EQ(v.AsString(), "2.5");
  EXPECT_EQ(v.ToString(), "2.5");
  EXPECT_INVALID_CAST(v.AsInteger());  // a float does not read as an integer
  EXPECT_INVALID_CAST(v.AsInt64());
  EXPECT_INVALID_CAST(v.AsBoolean());
  EXPECT_INVALID_CAST(v.AsOrdinal());
  EXPECT_FALSE(v.IsType<int32_t>());
  // A Single is widened exactly: the text shows its double value with 15 digits.
  EXPECT_EQ(TValue(0.1f).ToString(), "0.100000001490116");
  EXPECT_EQ(TValue(1e15).ToString(), "1E15");
  EXPECT_EQ(TValue(0.1f).AsType<float>(), 0.1f);
}

TEST(ValueTest, DateTimeIsDistinctFromDouble) {
  TValue d = TDateTime(45000.5);
  EXPECT_TRUE(d.IsDateTime());
  EXPECT_FALSE(TValue(45000.5).IsDateTime());
  EXPECT_TRUE(d.HoldsType<TDateTime>());
  EXPECT_FALSE(d.HoldsType<double>());
  EXPECT_EQ(d.AsExtended(), 45000.5);  // still a float
  EXPECT_EQ(d.AsDateTime(), TDateTime(45000.5));
  EXPECT_EQ(TValue(45000.5).AsDateTime(), TDateTime(45000.5));
  EXPECT_EQ(d.ToString(), DateTimeToStr(TDateTime(45000.5)));
  EXPECT_INVALID_CAST(d.AsInteger());
}

TEST(ValueTest, BooleanIsAnEnumeration) {
  TValue t = true, f = false;
  EXPECT_EQ(t.Kind(), tkEnumeration);
  EXPECT_TRUE(t.IsBoolean());
  EXPECT_TRUE(t.AsBoolean());
  EXPECT_FALSE(f.AsBoolean());
  EXPECT_EQ(t.ToString(), "True");
  EXPECT_EQ(f.AsString(), "False");
  EXPECT_EQ(t.AsOrdinal(), 1);
  EXPECT_INVALID_CAST(t.AsInteger());  // an enumeration does not read as an integer
  EXPECT_INVALID_CAST(t.AsExtended());
}

TEST(ValueTest, EnumerationsWithNames) {
  TValue p = TFruit::Plum;
  EXPECT_EQ(p.ToString(), "Plum");
  EXPECT_EQ(p.AsString(), "Plum");
  EXPECT_EQ(p.AsOrdinal(), 5);
  EXPECT_EQ(p.AsType<TFruit>(), TFruit::Plum);
  EXPECT_INVALID_CAST(p.AsInteger());
  EXPECT_INVALID_CAST(p.AsBoolean());
  EXPECT_INVALID_CAST(p.AsType<TUnnamed>());  // another enumeration
  EXPECT_EQ(TValue(static_cast<TFruit>(3)).ToString(), "3");  // an ordinal without a name
  EXPECT_EQ(TValue(TUnnamed::B).ToString(), "1");             // a type without names
  TValue o = TValue::FromOrdinal(ValueTypeOf<TFruit>(), 1);
  EXPECT_EQ(o.AsType<TFruit>(), TFruit::Pear);
  EXPECT_TRUE(TValue::FromOrdinal(ValueTypeOf<bool>(), 7).AsBoolean());
}

TEST(ValueTest, CharsAndStrings) {
  TValue c = 'x';
  EXPECT_EQ(c.AsString(), "x");
  EXPECT_EQ(c.AsType<char>(), 'x');
  EXPECT_EQ(c.AsOrdinal(), 'x');
  EXPECT_INVALID_CAST(c.AsInteger());
  EXPECT_EQ(TValue(char16_t(0x20AC)).ToString(), "\xE2\x82\xAC");  // UTF-8 of the euro sign
  TValue s = "123";
  EXPECT_EQ(s.AsString(), "123");
  EXPECT_EQ(s.ToString(), "123");
  EXPECT_INVALID_CAST(s.AsInteger());  // strings are not parsed
  EXPECT_INVALID_CAST(s.AsExtended());
  EXPECT_INVALID_CAST(s.AsBoolean());
  EXPECT_INVALID_CAST(TValue("abc").AsInteger());
  EXPECT_FALSE(s.IsType<int32_t>());
  std::string_view view = "view";
  EXPECT_EQ(TValue(view).AsString(), "view");
}

TEST(ValueTest, RecordsByType) {
  TValue r = TPoint3D(1, 2, 3);
  EXPECT_TRUE(r.IsType<TPoint3D>());
  EXPECT_FALSE(r.IsType<TVector3D>());
  EXPECT_EQ(r.AsType<TPoint3D>(), TPoint3D(1, 2, 3));
  EXPECT_EQ(r.ToString(), "(record)");
  EXPECT_INVALID_CAST(r.AsType<TVector3D>());
  EXPECT_INVALID_CAST(r.AsString());
  EXPECT_INVALID_CAST(r.AsInteger());
  TValue copy = r;  // copies share the held record, which never changes
  EXPECT_EQ(copy.AsType<TPoint3D>(), TPoint3D(1, 2, 3));
  EXPECT_EQ(TValue::From(TSample{3, 4.5f}).AsType<TSample>(), (TSample{3, 4.5f}));
}

TEST(ValueTest, ObjectsByClass) {
  TThing thing;
  TValue v = &thing;
  EXPECT_EQ(v.AsObject(), &thing);
  EXPECT_EQ(v.AsType<TThing*>(), &thing);
  EXPECT_EQ(v.AsType<TObject*>(), &thing);
  EXPECT_TRUE(v.IsType<TThing*>());
  EXPECT_FALSE(v.IsType<TOtherThing*>());
  EXPECT_INVALID_CAST(v.AsType<TOtherThing*>());
  EXPECT_INVALID_CAST(v.AsString());
  EXPECT_INVALID_CAST(v.AsInteger());
  const std::string text = v.ToString();
  EXPECT_EQ(text.rfind("(TThing @ ", 0), 0u) << text;
  EXPECT_EQ(text.size(), std::string("(TThing @ 0000000000000000)").size());
  TValue none = static_cast<TThing*>(nullptr);
  EXPECT_EQ(none.AsType<TThing*>(), nullptr);
  EXPECT_EQ(none.ToString(), "(empty)");
}

TEST(ValueTest, SetsAndArrays) {
  TValue s = TSet<TFruit>{TFruit::Plum, TFruit::Apple};
  EXPECT_EQ(s.ToString(), "[Apple,Plum]");
  EXPECT_EQ(s.AsString(), "[Apple,Plum]");
  EXPECT_EQ(s.AsType<TSet<TFruit>>(), (TSet<TFruit>{TFruit::Apple, TFruit::Plum}));
  EXPECT_INVALID_CAST(s.AsInteger());
  EXPECT_EQ(ValueTypeOf<TSet<TFruit>>()->FromTextFn("[Pear,Plum]").ToString(), "[Pear,Plum]");
  EXPECT_EQ(ValueTypeOf<TFruit>()->FromTextFn("pear").AsType<TFruit>(), TFruit::Pear);
  EXPECT_EQ(ValueTypeOf<TUnnamed>()->FromTextFn, nullptr);

  TValue a = std::vector<int32_t>{4, 5, 6};
  EXPECT_TRUE(a.IsArray());
  EXPECT_EQ(a.GetArrayLength(), 3u);
  EXPECT_EQ(a.GetArrayElement(2).AsInteger(), 6);
  EXPECT_EQ(a.ToString(), "(dynamic array)");
  EXPECT_EQ(a.AsType<std::vector<int32_t>>(), (std::vector<int32_t>{4, 5, 6}));
  EXPECT_THROW(a.GetArrayElement(3), EArgumentOutOfRangeException);
  EXPECT_INVALID_CAST(TValue(5).GetArrayLength());

  TValue values = TValue::FromArray({1, "two", 3.0});
  EXPECT_EQ(values.GetArrayLength(), 3u);
  EXPECT_EQ(values.GetArrayElement(1).AsString(), "two");
  EXPECT_EQ(values.GetArrayElement(2).Kind(), tkFloat);

  float raw[2] = {1.5f, 2.5f};
  TValue st = TValue::From(raw);
  EXPECT_EQ(st.Kind(), tkArray);
  EXPECT_EQ(st.ToString(), "(array)");
  EXPECT_EQ(st.GetArrayElement(1).AsExtended(), 2.5);
}

TEST(ValueTest, TryAsTypeDoesNotRaise) {
  int32_t i = 7;
  EXPECT_FALSE(TValue(1.5).TryAsType(i));
  EXPECT_EQ(i, 7);
  EXPECT_TRUE(TValue(3).TryAsType(i));
  EXPECT_EQ(i, 3);
  TValue same = TValue::From(TValue(9));  // From of a TValue is that value
  EXPECT_EQ(same.AsInteger(), 9);
  EXPECT_EQ(same.AsType<TValue>().AsInteger(), 9);
}

}  // namespace value_test
}  // namespace quorvel
