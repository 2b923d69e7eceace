#include "framework/rtl/StringList.h"

#include <gtest/gtest.h>

#include "framework/rtl/Exceptions.h"

namespace quorvel {
namespace {

std::vector<std::string> Lines(const TStrings& s) { return s.ToStringArray(); }

TEST(StringList, AddsInsertsDeletesAndRaisesOnBadIndexes) {
  TStringList l;
  EXPECT_EQ(l.Add("b"), 0);
  EXPECT_EQ(l.Add("d"), 1);
  l.Insert(0, "a");
  l.Insert(2, "c");
  l.Insert(4, "e");
  EXPECT_EQ(Lines(l), (std::vector<std::string>{"a", "b", "c", "d", "e"}));
  l.Delete(4);
  l.SetStrings(0, "A");
  EXPECT_EQ(l.Count(), 4);
  EXPECT_EQ(l[0], "A");
  l.Move(0, 3);
  EXPECT_EQ(Lines(l), (std::vector<std::string>{"b", "c", "d", "A"}));
  l.Move(3, 1);
  l.Move(1, 3);
  EXPECT_EQ(Lines(l), (std::vector<std::string>{"b", "c", "d", "A"}));
  l.Exchange(0, 3);
  EXPECT_EQ(Lines(l), (std::vector<std::string>{"A", "c", "d", "b"}));

  for (int bad : {-1, 4}) {
    try {
      l.Get(bad);
      ADD_FAILURE();
    } catch (const EStringListError& e) {
      EXPECT_EQ(e.Message(), "List index out of bounds (" + std::to_string(bad) + ")");
    }
    EXPECT_THROW(l.Delete(bad), EStringListError);
  }
  EXPECT_THROW(l.Insert(5, "x"), EStringListError);
  EXPECT_EQ(l.Count(), 4);
  EXPECT_EQ(l.ClassName(), "TStringList");
}

TEST(StringList, TextJoinsWithTheLineBreakAndSplitsAtAnyBreak) {
  TStringList l;
  l.SetText("one\r\ntwo\rthree\nfour");
  EXPECT_EQ(Lines(l), (std::vector<std::string>{"one", "two", "three", "four"}));
  EXPECT_EQ(l.GetText(), "one\r\ntwo\r\nthree\r\nfour\r\n");

  const struct {
    const char* Text;
    std::vector<std::string> Lines;
  } cases[] = {
      {"", {}},
      {"a\r\n", {"a"}},
      {"a\r\n\r\n", {"a", ""}},
      {"\n\n", {"", ""}},
      {"a\n\rb", {"a", "", "b"}},
      {"ä€\r\n𝄞", {"ä€", "𝄞"}},
  };
  for (const auto& c : cases) {
    l.SetText(c.Text);
    EXPECT_EQ(Lines(l), c.Lines) << c.Text;
  }
  l.SetText("x\ny");
  l.SetLineBreak("\n");
  l.SetTrailingLineBreak(false);
  EXPECT_EQ(l.GetText(), "x\ny");
  TStringList empty;
  EXPECT_EQ(empty.GetText(), "");
}

TEST(StringList, IndexOfIgnoresAsciiCaseUnlessCaseSensitive) {
  TStringList l;
  l.SetText("GL_ARB_foo\nÄpfel\nbar");
  EXPECT_EQ(l.IndexOf("gl_arb_FOO"), 0);
  EXPECT_EQ(l.IndexOf("äpfel"), -1) << "only ASCII letters fold";
  EXPECT_EQ(l.IndexOf("missing"), -1);
  l.SetCaseSensitive(true);
  EXPECT_EQ(l.IndexOf("gl_arb_FOO"), -1);
  EXPECT_EQ(l.IndexOf("GL_ARB_foo"), 0);
}

TEST(StringList, SortedListsFindByBinarySearchAndHandleDuplicates) {
  TStringList l;
  l.SetText("GL_b\ngl_A\nGL_c\nGL_a");
  l.SetSorted(true);
  EXPECT_EQ(Lines(l), (std::vector<std::string>{"gl_A", "GL_a", "GL_b", "GL_c"}));
  int index = -1;
  EXPECT_TRUE(l.Find("gl_B", index));
  EXPECT_EQ(index, 2);
  EXPECT_FALSE(l.Find("GL_bb", index));
  EXPECT_EQ(index, 3);
  EXPECT_EQ(l.IndexOf("GL_A"), 0);

  EXPECT_EQ(l.Add("gl_c"), 3) << "dupIgnore answers the existing index";
  EXPECT_EQ(l.Count(), 4);
  EXPECT_EQ(l.Add("GL_0"), 0);
  l.SetDuplicates(TDuplicates::dupError);
  EXPECT_THROW(l.Add("gl_c"), EStringListError);
  l.SetDuplicates(TDuplicates::dupAccept);
  l.Add("gl_c");
  EXPECT_EQ(l.Count(), 6);
  EXPECT_THROW(l.Insert(0, "x"), EStringListError);
  EXPECT_THROW(l.SetStrings(0, "x"), EStringListError);
  EXPECT_THROW(l.Move(0, 1), EStringListError);
  EXPECT_EQ(l.Count(), 6) << "a refused move changes nothing";
}

class Counted : public TObject {
public:
  explicit Counted(int& frees) : FFrees(frees) {}
  ~Counted() override { ++FFrees; }

private:
  int& FFrees;
};

TEST(StringList, OwningListFreesItsObjectsExactlyOnce) {
  int frees = 0;
  {
    TStringList l(true);
    l.AddObject("a", new Counted(frees));
    l.AddObject("b", new Counted(frees));
    l.AddObject("c", new Counted(frees));
    l.Add("no object");
    TObject* moved = l.GetObject(0);
    l.Move(0, 2);
    EXPECT_EQ(l.GetObject(2), moved) << "moving keeps the object alive";
    EXPECT_EQ(l.IndexOfObject(moved), 2);
    l.Delete(0);
    EXPECT_EQ(frees, 1);
  }
  EXPECT_EQ(frees, 3);

  int kept = 0;
  Counted notOwned(kept);
  {
    TStringList l;
    l.AddObject("x", &notOwned);
    l.Clear();
  }
  EXPECT_EQ(kept, 0);
}

TEST(StringList, AssignCopiesLinesAndLineBreak) {
  TStringList a, b;
  a.SetText("1\n2");
  a.SetLineBreak("\n");
  b.Add("old");
  b.Assign(b);
  b.Assign(a);
  EXPECT_TRUE(b.Equals(a));
  EXPECT_EQ(b.GetText(), "1\n2\n");
  b.AddStrings(b);
  EXPECT_EQ(Lines(b), (std::vector<std::string>{"1", "2", "1", "2"}));

  TPersistent* asPersistent = &a;
  b.Assign(asPersistent);
  EXPECT_TRUE(b.Equals(a));
  TPersistent other;
  EXPECT_THROW(b.Assign(&other), EConvertError);
  EXPECT_TRUE(b.Equals(a)) << "a failed assignment leaves the lines";
}

}  // namespace
}  // namespace quorvel
