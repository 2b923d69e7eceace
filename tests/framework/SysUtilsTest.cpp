#include "framework/rtl/SysUtils.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <locale>
#include <random>

#include "framework/rtl/DateTime.h"
#include "framework/rtl/ResourceStrings.h"

namespace quorvel {
namespace {

// Runs the number tables; called plainly and again under a German locale, where the C
// library writes and reads "0,5" (the text routines must not notice).
struct FloatTextCase {
  double Value;
  const char* Text;
};
const FloatTextCase kFloatText[] = {
    {static_cast<double>(0.1f), "0.100000001490116"},
    {static_cast<double>(0.00001f), "9.99999974737875E-6"},
    {1e15, "1E15"},
    {100, "100"},
    {-2.25, "-2.25"},
    {0, "0"},
    {-0.0, "0"},
    {1, "1"},
    {0.5, "0.5"},
    {0.00001, "0.00001"},
    {0.0001, "0.0001"},
    {1e-6, "1E-6"},
    {-1e-10, "-1E-10"},
    {123456789012345, "123456789012345"},
    {999999999999999.9, "1E15"},
    {1.5e20, "1.5E20"},
    {1.2345678901234567, "1.23456789012346"},
    {12345.678, "12345.678"},
    {1e308, "1E308"},
    {5e-324, "4.94065645841247E-324"},
    {std::numeric_limits<double>::infinity(), "INF"},
    {-std::numeric_limits<double>::infinity(), "-INF"},
    {std::numeric_limits<double>::quiet_NaN(), "NAN"},
};

void CheckFloatToStrTable() {
  for (const auto& c : kFloatText) {
    EXPECT_EQ(FloatToStr(c.Value), c.Text) << c.Text;
    char buf[FloatToStrBufSize];
    EXPECT_EQ(std::string(buf, FloatToStrBuf(c.Value, buf)), c.Text);
  }
}

struct FormatCase {
  const char* Fmt;
  std::vector<TVarRec> Args;
  const char* Expected;
};

// Strings the cases refer to must outlive the table.
const std::string kName = "Box";
int kDummy;

std::vector<FormatCase> FormatCases() {
  return {
      {"%s (%s)", {kName, "TQuorvelBox"}, "Box (TQuorvelBox)"},
      {"%d / %d", {int32_t(-42), int64_t(9000000000)}, "-42 / 9000000000"},
      {"%d", {uint64_t(18446744073709551615ull)}, "18446744073709551615"},
      {"%.3d", {7}, "007"},
      {"%.3d", {-5}, "-005"},
      {"[%5d|%-5d]", {42, 42}, "[   42|42   ]"},
      {"%x %x", {255, int32_t(-1)}, "FF FFFFFFFF"},
      {"%x", {int64_t(-1)}, "FFFFFFFFFFFFFFFF"},
      {"%.4x", {255}, "00FF"},
      {"%u", {int32_t(-1)}, "4294967295"},
      {"%f", {2.5}, "2.50"},
      {"%.1f", {0.25}, "0.3"},  // halves away from zero, as the run-time
      {"%f", {-0.001}, "0.00"},
      {"%.0f", {1e21}, "1000000000000000000000"},
      {"%n", {1234567.891}, "1,234,567.89"},
      {"%n", {-1234.5}, "-1,234.50"},
      {"%.0n", {1536.0}, "1,536"},
      {"%.0n", {999.5}, "1,000"},
      {"%n", {0.5f}, "0.50"},
      {"%e", {1234.5}, "1.23450000000000E+003"},
      {"%.3e", {-0.000123456}, "-1.23E-004"},
      {"%g|%g|%g", {0.1, 1e20, 1e-6}, "0.1|1E20|1E-6"},
      {"%m", {-1234.5}, "($1,234.50)"},
      {"100%%", {}, "100%"},
      {"%1:s %0:s %s", {"a", "b"}, "b a b"},
      {"[%*d]", {4, 7}, "[   7]"},
      {"%.*f", {3, 1.0}, "1.000"},
      {"[%-4s]", {"ab"}, "[ab  ]"},
      {"[%.2s]", {"äbc"}, "[äb]"},  // precision and width count characters
      {"[%3s]", {"ä"}, "[  ä]"},
      {"%s%s", {'x', std::string_view("yz")}, "xyz"},
      {"%s", {SErrorInContextMethod}, "Fehler im Kontext: Methode='%s'."},
      {"%d", {1, 2, 3}, "1"},  // extra arguments are ignored
      {"%D %S", {3, "t"}, "3 t"},
      {"%.3d", {TVarRec(uint8_t(9))}, "009"},
      {"vec3(%n, %n, %n)", {1.0f, -0.5f, 1000.0f}, "vec3(1.00, -0.50, 1,000.00)"},
  };
}

void CheckFormatTable() {
  for (const auto& c : FormatCases())
    EXPECT_EQ(Format(c.Fmt, std::span<const TVarRec>(c.Args)), c.Expected) << c.Fmt;
}

void CheckStrToFloatTable() {
  const struct {
    const char* Text;
    double Value;
  } ok[] = {{"1.5", 1.5},   {" -2.25 ", -2.25}, {"+3", 3},     {"1e3", 1000}, {"1E-6", 1e-6},
            {".5", 0.5},    {"5.", 5},          {"0.1", 0.1},  {"1e-400", 0}, {"-0", -0.0},
            {"0.100000001490116", 0.100000001490116}, {"\t7\r\n", 7}};
  for (const auto& c : ok) EXPECT_EQ(StrToFloat(c.Text), c.Value) << c.Text;
  const char* bad[] = {"", " ", "1,5", "abc", "1e", "1e+", "--1", "1.2.3", "0x10", "1e400", "1 2", "."};
  for (const char* t : bad) {
    double v = 123;
    EXPECT_FALSE(TryStrToFloat(t, v)) << t;
    EXPECT_EQ(v, 123) << "a failed parse leaves the value";
    EXPECT_THROW(StrToFloat(t), EConvertError) << t;
  }
}

TEST(FloatToStr, WritesTheGeneralFormWith15DigitsAndShortExponents) { CheckFloatToStrTable(); }

TEST(FloatToStr, RoundTripsEverySingleThroughStrToFloat) {
  std::mt19937 gen(12345);
  for (int i = 0; i < 100000; ++i) {
    uint32_t bits = gen();
    float f;
    std::memcpy(&f, &bits, 4);
    if (!std::isfinite(f)) continue;
    float back;
    ASSERT_TRUE(TryStrToFloat(FloatToStr(f), back)) << FloatToStr(f);
    ASSERT_EQ(back, f) << FloatToStr(f);
  }
}

TEST(FloatToStr, StrToFloatReadsItsSpecialValuesBack) {
  EXPECT_EQ(StrToFloat(FloatToStr(-std::numeric_limits<double>::infinity())),
            -std::numeric_limits<double>::infinity());
  EXPECT_TRUE(std::isnan(StrToFloat("nan")));
}

TEST(Format, FollowsTheRunTimeSpecifiers) { CheckFormatTable(); }

TEST(Format, WritesPointersAsSixteenUpperCaseHexDigits) {
  const void* p = reinterpret_cast<const void*>(uintptr_t(0xABCDEF12));
  EXPECT_EQ(Format("@%p", p), "@00000000ABCDEF12");
  EXPECT_EQ(Format("%p", nullptr), "0000000000000000");
  EXPECT_EQ(Format("%p", &kDummy).size(), 16u);
}

TEST(Format, TakesResourceStringsAsTheFormat) {
  EXPECT_EQ(Format(SErrorInContextMethod, std::string("DoClear (Error = 1280)")),
            "Fehler im Kontext: Methode='DoClear (Error = 1280)'.");
  EXPECT_EQ(Format(SCannotCreateTexture, {"TQuorvelContext", 5}), "Textur für 'TQuorvelContext' kann nicht erstellt werden.");
  const std::vector<TVarRec> args{"DoDrawPrimitives"};
  EXPECT_EQ(Format(SErrorInContextMethod, std::span<const TVarRec>(args)),
            "Fehler im Kontext: Methode='DoDrawPrimitives'.");
}

TEST(Format, MismatchedOrMissingArgumentsRaiseConvertError) {
  const struct {
    const char* Fmt;
    std::vector<TVarRec> Args;
    const char* Message;
  } cases[] = {
      {"%d", {"x"}, "Format '%d' invalid or incompatible with argument"},
      {"%s", {5}, "Format '%s' invalid or incompatible with argument"},
      {"%f", {5}, "Format '%f' invalid or incompatible with argument"},
      {"%d", {1.5}, "Format '%d' invalid or incompatible with argument"},
      {"%s", {true}, "Format '%s' invalid or incompatible with argument"},
      {"%p", {5}, "Format '%p' invalid or incompatible with argument"},
      {"%k", {5}, "Format '%k' invalid or incompatible with argument"},
      {"50%", {5}, "Format '50%' invalid or incompatible with argument"},
      {"%*d", {"w", 5}, "Format '%*d' invalid or incompatible with argument"},
      {"%d %d", {1}, "No argument for format '%d %d'"},
      {"%s", {}, "No argument for format '%s'"},
      {"%2:s", {"a", "b"}, "No argument for format '%2:s'"},
      {"Schattierer für '%s' kann nicht erstellt werden: %d", {"x"},
       "No argument for format 'Schattierer für '%s' kann nicht'"},  // quoted up to 31 characters
  };
  for (const auto& c : cases) {
    try {
      Format(c.Fmt, std::span<const TVarRec>(c.Args));
      ADD_FAILURE() << "no exception for " << c.Fmt;
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), c.Message);
    }
  }
}

TEST(FormatFloat, AppliesDigitPatterns) {
  const struct {
    const char* Pattern;
    double Value;
    const char* Text;
  } cases[] = {
      {"0.0000000", 1.0 / 3, "0.3333333"},
      {"0.0000000", -0.5, "-0.5000000"},
      {"0.0000", 2.0, "2.0000"},
      {"0.0000", 0.00005, "0.0001"},
      {"0.0000", -0.00001, "0.0000"},  // no sign when every digit is zero
      {"0.0", 0.25, "0.3"},
      {"0", 2.5, "3"},
      {"00", 5, "05"},
      {"#.##", 0.5, ".5"},
      {"#.##", 2, "2"},
      {"#,##0.00", 1234567.891, "1,234,567.89"},
      {"#,##0", 999.5, "1,000"},
      {"0.00E+00", 1234, "1.23E+03"},
      {"0.0E-0", 0.00012, "1.2E-4"},
      {"0;(0);'zero'", -5, "(5)"},
      {"0;(0);'zero'", 0, "zero"},
      {"'x='0.0", 1.5, "x=1.5"},
      {"", 0.1, "0.1"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatFloat(c.Pattern, c.Value), c.Text) << c.Pattern << " " << c.Value;
}

TEST(StrToFloat, ReadsOnlyThePointFormAndRaisesOnAnythingElse) { CheckStrToFloatTable(); }

TEST(FormatSettings, EnUsIsTheDefaultAndOtherSeparatorsAreHonoured) {
  const TFormatSettings en = TFormatSettings::Create("en-US");
  EXPECT_EQ(en.DecimalSeparator, '.');
  EXPECT_EQ(en.ThousandSeparator, ',');
  EXPECT_EQ(StrToFloat("1.5", TFormatSettings::Invariant()), 1.5);
  TFormatSettings de;
  de.DecimalSeparator = ',';
  de.ThousandSeparator = '.';
  const std::vector<TVarRec> args{1234.5, 0.25};
  EXPECT_EQ(Format("%n %g", std::span<const TVarRec>(args), de), "1.234,50 0,25");
  EXPECT_EQ(FloatToStr(-0.5, de), "-0,5");
  EXPECT_EQ(FormatFloat("#,##0.00", 1234.5, de), "1.234,50");
  EXPECT_EQ(StrToFloat("1,5", de), 1.5);
  double v;
  EXPECT_FALSE(TryStrToFloat("1.5", v, de));
  EXPECT_THROW(StrToFloat("1.5", de), EConvertError);
}

TEST(StrToFloat, SingleOverflowFailsTheSingleTryForm) {
  float f = 1;
  EXPECT_FALSE(TryStrToFloat("1e39", f));
  EXPECT_TRUE(TryStrToFloat("3.4e38", f));
  try {
    StrToFloat("1,5");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'1,5' is not a valid floating point value");
  }
}

TEST(StrToInt, ReadsDecimalAndHexAndRaisesOutOfRange) {
  const struct {
    const char* Text;
    int32_t Value;
  } ok[] = {{"42", 42},         {" -7", -7},          {"+3", 3},          {"$FF", 255},
            {"0x1a", 26},       {"$FFFFFFFF", -1},    {"-$10", -16},      {"2147483647", 2147483647},
            {"-2147483648", INT32_MIN}, {"000012", 12}};
  for (const auto& c : ok) EXPECT_EQ(StrToInt(c.Text), c.Value) << c.Text;
  const char* bad[] = {"2147483648", "-2147483649", "", "12 ", "1.0", "$", "0x", "abc", "--1", "$1FFFFFFFF", "1e3"};
  for (const char* t : bad) {
    int32_t v = 5;
    EXPECT_FALSE(TryStrToInt(t, v)) << t;
    EXPECT_EQ(v, 5);
    EXPECT_THROW(StrToInt(t), EConvertError) << t;
  }
  EXPECT_EQ(StrToInt64("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(StrToInt64("-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(StrToInt64("$FFFFFFFFFFFFFFFF"), -1);
  EXPECT_THROW(StrToInt64("9223372036854775808"), EConvertError);
  EXPECT_EQ(StrToIntDef("x", -1), -1);
  try {
    StrToInt("abc");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'abc' is not a valid integer value");
  }
}

TEST(IntToStr, WritesDecimalAndUpperCaseHex) {
  EXPECT_EQ(IntToStr(INT64_MIN), "-9223372036854775808");
  EXPECT_EQ(IntToStr(0), "0");
  EXPECT_EQ(IntToHex(int32_t(-1), 2), "FFFFFFFF");
  EXPECT_EQ(IntToHex(int64_t(-1), 2), "FFFFFFFFFFFFFFFF");
  EXPECT_EQ(IntToHex(uint32_t(0xABC), 8), "00000ABC");
  EXPECT_EQ(BoolToStr(true, true), "True");
  EXPECT_EQ(BoolToStr(true), "-1");
}

TEST(TryStrToBool, ReadsNamesInAnyCaseAndNumbers) {
  const struct {
    const char* Text;
    bool Ok;
    bool Value;
  } cases[] = {{"true", true, true},  {"FALSE", true, false}, {"True", true, true}, {"0", true, false},
               {"-1", true, true},    {"2.5", true, true},    {"0.0", true, false}, {"", false, false},
               {"t", false, false},   {" true", false, false}, {"truex", false, false}, {"1 ", false, false}};
  for (const auto& c : cases) {
    bool value = !c.Value;  // untouched on failure
    EXPECT_EQ(TryStrToBool(c.Text, value), c.Ok) << c.Text;
    EXPECT_EQ(value, c.Ok ? c.Value : !c.Value) << c.Text;
  }
}

TEST(Round, GoesHalfToEvenAndRaisesOutOfRange) {
  const struct {
    double Value;
    int64_t Rounded;
  } cases[] = {{2.5, 2},   {3.5, 4},   {-2.5, -2}, {-3.5, -4},  {0.5, 0},
               {1.5, 2},   {-0.5, 0},  {2.4999999999999996, 2}, {2.5000000000000004, 3},
               {-1.2, -1}, {-1.7, -2}, {4503599627370497.0, 4503599627370497}, {-9223372036854775808.0, INT64_MIN}};
  for (const auto& c : cases) EXPECT_EQ(Round(c.Value), c.Rounded) << c.Value;
  EXPECT_THROW(Round(std::nan("")), EInvalidOp);
  EXPECT_THROW(Round(9.3e18), EInvalidOp);
  EXPECT_THROW(Round(std::numeric_limits<double>::infinity()), EInvalidOp);
  EXPECT_EQ(Trunc(-2.7), -2);
  EXPECT_EQ(Trunc(2.7), 2);
  EXPECT_THROW(Trunc(1e300), EInvalidOp);
  EXPECT_EQ(Int(-2.7), -2.0);
  EXPECT_EQ(Frac(2.75), 0.75);
  EXPECT_EQ(Frac(-2.75), -0.75);
}

TEST(SameValue, ToleratesRelativeNoiseOnly) {
  EXPECT_TRUE(SameValue(1.0, 1.0 + 1e-13));
  EXPECT_FALSE(SameValue(1.0, 1.0 + 1e-11));
  EXPECT_TRUE(SameValue(1e6, 1e6 + 1e-7));
  EXPECT_TRUE(SameValue(0.0, 1e-13));
  EXPECT_TRUE(SameValue(1.0f, 1.00001f));
  EXPECT_FALSE(SameValue(1.0f, 1.001f));
  EXPECT_TRUE(SameValue(1.0, 1.05, 0.1));
  EXPECT_TRUE(IsZero(1e-13));
  EXPECT_FALSE(IsZero(1e-3));
}

TEST(TextRoutines, CaseHandlingIsAsciiOnly) {
  EXPECT_EQ(UpperCase("straße äbc"), "STRAßE äBC");
  EXPECT_EQ(LowerCase("ÄBC"), "Äbc");
  EXPECT_TRUE(SameText("GL_ARB_Foo", "gl_arb_foo"));
  EXPECT_FALSE(SameText("Ä", "ä"));
  EXPECT_LT(CompareText("abc", "ABD"), 0);
  EXPECT_EQ(CompareText("ABC", "abc"), 0);
  EXPECT_GT(CompareText("abcd", "ABC"), 0);
  EXPECT_LT(CompareStr("ABC", "abc"), 0);
  EXPECT_TRUE(StartsText("gl_", "GL_VERSION"));
  EXPECT_TRUE(EndsText(".Q3M", "model.q3m"));
  EXPECT_EQ(Trim("\t x y \r\n"), "x y");
  EXPECT_EQ(TrimLeft("  x "), "x ");
  EXPECT_EQ(TrimRight("  x "), "  x");
  EXPECT_EQ(StringReplace("a-b-c", "-", "+", 0), "a+b-c");
  EXPECT_EQ(StringReplace("aXbxc", "x", "_", rfReplaceAll | rfIgnoreCase), "a_b_c");
}

// ---------------------------------------------------------------------------------------------
// Under a German locale

class GermanLocale : public ::testing::Test {
protected:
  void SetUp() override {
    FOldC = std::setlocale(LC_ALL, nullptr);
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE"}) {
      if (std::setlocale(LC_ALL, name)) {
        try {
          FOldCpp = std::locale::global(std::locale(name));
        } catch (const std::exception&) {
        }
        FActive = true;
        break;
      }
    }
    if (!FActive) GTEST_SKIP() << "no German locale installed (Debian package locales-all)";
    // The test means something only when the C library now writes a comma.
    char buf[16];
    std::snprintf(buf, sizeof buf, "%.1f", 0.5);
    ASSERT_STREQ(buf, "0,5");
  }
  void TearDown() override {
    if (!FActive) return;
    std::setlocale(LC_ALL, FOldC.c_str());
    std::locale::global(FOldCpp);
  }

private:
  std::string FOldC;
  std::locale FOldCpp;
  bool FActive = false;
};

TEST_F(GermanLocale, FloatToStrStillWritesThePoint) { CheckFloatToStrTable(); }
TEST_F(GermanLocale, FormatStillWritesEnUsNumbers) { CheckFormatTable(); }
TEST_F(GermanLocale, StrToFloatStillReadsThePointOnly) { CheckStrToFloatTable(); }
TEST_F(GermanLocale, FormatFloatAndDatesStayLocaleFree) {
  EXPECT_EQ(FormatFloat("0.0000000", 0.5), "0.5000000");
  EXPECT_EQ(Round(2.5), 2);
  EXPECT_EQ(DateTimeToStr(EncodeDateTime(2024, 2, 29, 13, 5, 9, 0)), "2024-02-29 13:05:09");
}

// ---------------------------------------------------------------------------------------------
// TDateTime

TEST(DateTime, EncodesDaysSince18991230) {
  EXPECT_EQ(EncodeDate(1899, 12, 30).Value, 0.0);
  EXPECT_EQ(EncodeDate(2000, 1, 1).Value, 36526.0);
  EXPECT_EQ(EncodeDate(1970, 1, 1).Value, UnixDateDelta);
  EXPECT_EQ(EncodeDateTime(1899, 12, 29, 6, 0, 0, 0).Value, -1.25);
  EXPECT_EQ(EncodeTime(12, 0, 0, 0).Value, 0.5);
  EXPECT_THROW(EncodeDate(2023, 2, 29), EConvertError);
  EXPECT_THROW(EncodeDate(0, 1, 1), EConvertError);
  EXPECT_THROW(EncodeTime(24, 0, 0, 0), EConvertError);
  int y, m, d, h, n, s, z;
  ASSERT_TRUE(DecodeDateTime(TDateTime(-1.25), y, m, d, h, n, s, z));
  EXPECT_EQ((std::vector<int>{y, m, d, h, n, s, z}), (std::vector<int>{1899, 12, 29, 6, 0, 0, 0}));
  // A value a hair below midnight rounds to the next day, not to 24:00.
  ASSERT_TRUE(DecodeDateTime(TDateTime(1.9999999999), y, m, d, h, n, s, z));
  EXPECT_EQ((std::vector<int>{y, m, d, h, n, s, z}), (std::vector<int>{1900, 1, 1, 0, 0, 0, 0}));
  EXPECT_FALSE(DecodeDateTime(TDateTime(1e300), y, m, d, h, n, s, z));
}

TEST(DateTime, TextFormRoundTrips) {
  const TDateTime dt = EncodeDateTime(2024, 2, 29, 13, 5, 9, 0);
  EXPECT_EQ(DateTimeToStr(dt), "2024-02-29 13:05:09");
  EXPECT_EQ(StrToDateTime("2024-02-29 13:05:09"), dt);
  EXPECT_EQ(FormatDateTime("yyyymmdd hh:nn:ss.zzz", EncodeDateTime(2001, 3, 4, 5, 6, 7, 89)), "20010304 05:06:07.089");
  EXPECT_EQ(FormatDateTime("h:mm 'at' d/m", EncodeDateTime(2001, 3, 4, 5, 6, 7, 0)), "5:06 at 4/3");
}

TEST(DateTime, ParsingRejectsImpossibleOrForeignText) {
  const struct {
    const char* Text;
    bool Ok;
    double Value;
  } cases[] = {
      {"0000-00-00 00:00:00", false, 0},
      {"2023-02-29 00:00:00", false, 0},
      {"2024-13-01 00:00:00", false, 0},
      {"2024-01-01 24:00:00", false, 0},
      {"2024-01-01T00:00:00", false, 0},
      {"2024-01-01 00:00:00x", false, 0},
      {"2024-01-01 12", false, 0},
      {"", false, 0},
      {"1899-12-30 00:00:00", true, 0},
      {"1899-12-29 06:00:00", true, -1.25},
      {"1900-01-01", true, 2},
      {" 1900-1-1 12:00 ", true, 2.5},
      {"1900-01-01 00:00:00.5", true, 2 + 500.0 / MSecsPerDay},
  };
  for (const auto& c : cases) {
    TDateTime dt(-99);
    EXPECT_EQ(TryStrToDateTime(c.Text, dt), c.Ok) << c.Text;
    EXPECT_EQ(dt.Value, c.Ok ? c.Value : -99) << c.Text;
  }
  try {
    StrToDateTime("0000-00-00 00:00:00");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'0000-00-00 00:00:00' is not a valid date and time");
  }
}

TEST(DateTime, UnixSecondsDropPartsOfASecond) {
  EXPECT_EQ(DateTimeToUnix(EncodeDate(1970, 1, 2)), 86400);
  EXPECT_EQ(DateTimeToUnix(EncodeDateTime(1970, 1, 1, 0, 0, 1, 999)), 1);
  EXPECT_EQ(DateTimeToUnix(EncodeDate(1969, 12, 31)), -86400);
  EXPECT_EQ(UnixToDateTime(0).Value, UnixDateDelta);
  EXPECT_EQ(DateTimeToUnix(UnixToDateTime(1700000000)), 1700000000);
}

TEST(DateTime, NowIsARecentLocalTimeThatFormatsAndParsesBack) {
  const TDateTime now = Now();
  int y, m, d;
  DecodeDate(now, y, m, d);
  EXPECT_GE(y, 2024);
  const std::string text = DateTimeToStr(now);
  TDateTime back;
  ASSERT_TRUE(TryStrToDateTime(text, back)) << text;
  EXPECT_LT(std::fabs(back.Value - now.Value), 1.0 / 86400);
}

}  // namespace
}  // namespace quorvel
