// TSet<E> and enumeration names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/rtl/Enum.h"
#include "framework/rtl/Set.h"

namespace quorvel {
namespace set_enum_test {

// Explicit ordinals (persisted values); the names are listed out of order on purpose.
enum class TPixel { RGBA = 0, BGRA = 1, RGB = 2, Depth = 23 };
FW_ENUM(TPixel, RGBA, RGB, BGRA, Depth)

enum TStyle { fsBold, fsItalic, fsUnderline, fsStrikeOut };
FW_ENUM(TStyle, fsBold, fsItalic, fsUnderline, fsStrikeOut)
using TStyles = TSet<TStyle>;

enum class TBare { X, Y, Z };

struct THolder {
  enum class TMode { Off = 0, On = 1 };
  FW_ENUM_MEMBER(TMode, Off, On)
};

TEST(EnumTest, NamesBothWays) {
  EXPECT_EQ(EnumToString(TPixel::RGBA), "RGBA");
  EXPECT_EQ(EnumToString(TPixel::Depth), "Depth");
  EXPECT_EQ(EnumToString(fsUnderline), "fsUnderline");
  EXPECT_EQ(StringToEnum<TPixel>("BGRA"), TPixel::BGRA);
  EXPECT_EQ(StringToEnum<TPixel>("depth"), TPixel::Depth);  // case-insensitive, as the run-time
  EXPECT_EQ(StringToEnum<TStyle>("fsItalic"), fsItalic);
  EXPECT_EQ(EnumToString(THolder::TMode::On), "On");
  EXPECT_EQ(StringToEnum<THolder::TMode>("Off"), THolder::TMode::Off);
  TPixel p = TPixel::RGB;
  EXPECT_FALSE(TryStringToEnum("Nope", p));
  EXPECT_EQ(p, TPixel::RGB);
  EXPECT_TRUE(TryStringToEnum("RGBA", p));
  EXPECT_EQ(p, TPixel::RGBA);
}

TEST(EnumTest, UnknownNameRaises) {
  try {
    StringToEnum<TPixel>("Nope");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'Nope' is not a valid TPixel value");
  }
}

TEST(EnumTest, InfoAndUnnamedValues) {
  const TEnumInfo* info = EnumInfoOf<TPixel>();
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->TypeName(), "TPixel");
  EXPECT_EQ(info->MinValue(), 0);
  EXPECT_EQ(info->MaxValue(), 23);
  ASSERT_EQ(info->Entries().size(), 4u);
  EXPECT_EQ(info->Entries()[1].Name, "RGB");  // the listed order
  EXPECT_EQ(info->Entries()[1].Ordinal, 2);   // the enumeration's own ordinal
  EXPECT_EQ(EnumToString(static_cast<TPixel>(7)), "7");
  EXPECT_EQ(EnumInfoOf<TBare>(), nullptr);
  EXPECT_FALSE(HasEnumNames<TBare>);
  EXPECT_EQ(EnumToString(TBare::Z), "2");
  EXPECT_STREQ(TypeNameOf<TPixel>(), "TPixel");
}

TEST(SetTest, ConstructionAndMembership) {
  TStyles s{fsItalic, fsBold};
  EXPECT_TRUE(s.Contains(fsBold));
  EXPECT_TRUE(In(fsItalic, s));
  EXPECT_FALSE(s.Contains(fsUnderline));
  EXPECT_EQ(s.Count(), 2u);
  EXPECT_FALSE(s.IsEmpty());
  EXPECT_TRUE(TStyles().IsEmpty());
  s.Include(fsStrikeOut).Exclude(fsBold);
  EXPECT_EQ(s, (TStyles{fsItalic, fsStrikeOut}));
  s.Exclude(fsBold);  // absent: nothing
  EXPECT_EQ(s.Count(), 2u);
  s.Clear();
  EXPECT_TRUE(s.IsEmpty());
  constexpr TSet<TPixel> kColour{TPixel::RGBA, TPixel::RGB};  // usable in constant expressions
  static_assert(kColour.Contains(TPixel::RGB));
  static_assert(!kColour.Contains(TPixel::Depth));
}

TEST(SetTest, Operators) {
  const TStyles a{fsBold, fsItalic}, b{fsItalic, fsUnderline};
  EXPECT_EQ(a + b, (TStyles{fsBold, fsItalic, fsUnderline}));
  EXPECT_EQ(a - b, (TStyles{fsBold}));
  EXPECT_EQ(a * b, (TStyles{fsItalic}));
  EXPECT_EQ(a + fsStrikeOut, (TStyles{fsBold, fsItalic, fsStrikeOut}));
  EXPECT_EQ(a - fsBold, (TStyles{fsItalic}));
  TStyles c = a;
  c += b;
  c -= TStyles{fsBold};
  c *= TStyles{fsUnderline, fsStrikeOut};
  EXPECT_EQ(c, (TStyles{fsUnderline}));
  EXPECT_TRUE(TStyles{fsBold} <= a);
  EXPECT_FALSE(b <= a);
  EXPECT_TRUE(a >= TStyles{});
  EXPECT_NE(a, b);
}

TEST(SetTest, AscendingIteration) {
  TSet<TPixel> s{TPixel::Depth, TPixel::RGBA, TPixel::RGB};
  std::vector<TPixel> seen(s.begin(), s.end());
  EXPECT_EQ(seen, (std::vector<TPixel>{TPixel::RGBA, TPixel::RGB, TPixel::Depth}));
  std::vector<int> ords;
  for (TPixel p : s) ords.push_back(static_cast<int>(p));
  EXPECT_EQ(ords, (std::vector<int>{0, 2, 23}));
  EXPECT_EQ(TSet<TPixel>().begin(), TSet<TPixel>().end());
}

TEST(SetTest, Text) {
  EXPECT_EQ((TStyles{fsUnderline, fsBold}).ToString(), "[fsBold,fsUnderline]");
  EXPECT_EQ(TStyles().ToString(), "[]");
  EXPECT_EQ((TSet<TPixel>{TPixel::Depth, TPixel::BGRA}).ToString(), "[BGRA,Depth]");
  EXPECT_EQ((TSet<TBare>{TBare::Y}).ToString(), "[1]");
  EXPECT_EQ(TStyles::FromString("[fsBold, fsItalic]"), (TStyles{fsBold, fsItalic}));
  EXPECT_EQ(TStyles::FromString(" [ ] "), TStyles());
  EXPECT_THROW(TStyles::FromString("[fsBold,fsHuge]"), EConvertError);
  EXPECT_THROW(TStyles::FromString("fsBold"), EConvertError);
  EXPECT_THROW(TStyles::FromString("[fsBold,]"), EConvertError);
}

TEST(SetTest, BitsAndRange) {
  TStyles s{fsBold, fsUnderline};
  EXPECT_EQ(s.ToBits(), 0b101u);
  EXPECT_EQ(TStyles::FromBits(0b1010), (TStyles{fsItalic, fsStrikeOut}));
  TSet<TPixel> p;
  EXPECT_THROW(p.Include(static_cast<TPixel>(256)), EArgumentOutOfRangeException);
  EXPECT_FALSE(p.Contains(static_cast<TPixel>(-1)));
}

}  // namespace set_enum_test
}  // namespace quorvel
