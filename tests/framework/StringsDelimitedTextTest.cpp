#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/rtl/StringList.h"

using namespace quorvel;

namespace {

using TLines = std::vector<std::string>;

struct TSplitCase {
  const char* Text;
  char Delimiter;
  bool Strict;
  TLines Expected;
};

const TSplitCase SplitCases[] = {
    {"a,b,c", ',', false, {"a", "b", "c"}},
    {"", ',', false, {}},
    {"a,", ',', false, {"a", ""}},
    {",a", ',', false, {"", "a"}},
    {"a,,b", ',', false, {"a", "", "b"}},
    // Loose: blanks and control characters separate too and are trimmed around entries.
    {"  a b\t,c  ", ',', false, {"a", "b", "c"}},
    {"a , b", ',', false, {"a", "b"}},
    // Strict: only the delimiter separates; blanks stay in the entries.
    {"  a b\t,c  ", ',', true, {"  a b\t", "c  "}},
    {"GL_A GL_B", ' ', true, {"GL_A", "GL_B"}},
    {"GL_A  GL_B ", ' ', true, {"GL_A", "", "GL_B", ""}},
    {" ", ' ', true, {"", ""}},
    // Quoted entries are read whole, a doubled quote standing for itself.
    {"\"a,b\",c", ',', false, {"a,b", "c"}},
    {"\"say \"\"hi\"\"\",x", ',', true, {"say \"hi\"", "x"}},
    {"\"a b\" c", ' ', false, {"a b", "c"}},
    {"\"open", ',', false, {"open"}},
    {"\"a\"b,c", ',', false, {"a", "b", "c"}},
    {"\xC3\xA4,\xC3\xB6", ',', false, {"\xC3\xA4", "\xC3\xB6"}},
};

TEST(StringsDelimitedText, SplitsByTheRulesOfStrictness) {
  for (const TSplitCase& c : SplitCases) {
    TStringList list;
    list.Add("stale");
    list.SetDelimiter(c.Delimiter);
    list.SetStrictDelimiter(c.Strict);
    list.SetDelimitedText(c.Text);
    EXPECT_EQ(list.ToStringArray(), c.Expected) << "[" << c.Text << "] strict " << c.Strict;
    EXPECT_EQ(list.GetUpdateCount(), 0);
  }
}

TEST(StringsDelimitedText, JoinsAndQuotesWhatWouldSplit) {
  struct TCase {
    TLines Lines;
    char Delimiter;
    bool Strict;
    const char* Expected;
  };
  const TCase cases[] = {
      {{"a", "b", "c"}, ',', false, "a,b,c"},
      {{}, ',', false, ""},
      {{""}, ',', false, "\"\""},
      {{"a", ""}, ',', false, "a,"},
      {{"a b", "c"}, ',', false, "\"a b\",c"},
      {{"a b", "c"}, ',', true, "a b,c"},
      {{"a,b"}, ',', true, "\"a,b\""},
      {{"say \"hi\""}, ',', true, "\"say \"\"hi\"\"\""},
      {{"GL_A", "GL_B"}, ' ', true, "GL_A GL_B"},
      {{"x\ty"}, ';', false, "\"x\ty\""},
      // Loose reading skips blanks, so empty entries between blank delimiters are quoted.
      {{"a", "", "b", ""}, ' ', false, "a \"\" b \"\""},
      {{"a", "", "b", ""}, ' ', true, "a  b "},
  };
  for (const TCase& c : cases) {
    TStringList list;
    list.SetDelimiter(c.Delimiter);
    list.SetStrictDelimiter(c.Strict);
    for (const std::string& s : c.Lines) list.Add(s);
    const std::string text = list.GetDelimitedText();
    EXPECT_EQ(text, c.Expected);
    // What is written reads back as the same lines (a lone empty line reads back as one).
    TStringList back;
    back.SetDelimiter(c.Delimiter);
    back.SetStrictDelimiter(c.Strict);
    back.SetDelimitedText(text);
    EXPECT_EQ(back.ToStringArray(), c.Lines) << text;
  }
}

TEST(StringsDelimitedText, DefaultsAreCommaQuoteAndLoose) {
  TStringList list;
  EXPECT_EQ(list.GetDelimiter(), ',');
  EXPECT_EQ(list.GetQuoteChar(), '"');
  EXPECT_FALSE(list.GetStrictDelimiter());
  list.SetQuoteChar('\'');
  list.SetDelimitedText("'a,b',c");
  EXPECT_EQ(list.ToStringArray(), (TLines{"a,b", "c"}));
}

}  // namespace
