#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "framework/rtl/Finally.h"
#include "lib/game/XmlDocument.h"

namespace quorvel {
namespace {

// Runs the body under a German locale: typed text must stay en-US.
class XmlNodeTest : public ::testing::Test {
protected:
  void SetUp() override {
    Saved = std::setlocale(LC_ALL, nullptr);
    std::setlocale(LC_ALL, "de_DE.UTF-8");
  }
  void TearDown() override { std::setlocale(LC_ALL, Saved.c_str()); }
  std::string Saved;
};

TEST_F(XmlNodeTest, TypedAccessConvertsAtTheCall) {
  TMz_XmlDocument doc;
  TOwned<TMz_XmlElement> e(New<TMz_XmlElement>(&doc, nullptr, "", "e"));
  e->setAttribute("typed", "007");
  e->setAttribute_raw("raw", "007");
  e->setAttribute("half", "1.50");
  e->setAttribute("flag", "true");
  e->setAttribute_raw("comma", "1,5");
  e->setAttribute_raw("word", "abc");
  e->setAttribute_raw("twelve", "12");
  e->setAttribute_raw("no", "false");
  e->setAttribute("q:name", "v");

  const struct {
    const char* Name;
    const char* Raw;
    const char* Typed;
  } texts[] = {{"typed", "7", "7"},       {"raw", "007", "7"},     {"half", "1.5", "1.5"},
               {"flag", "True", "True"},  {"comma", "1,5", "1,5"}, {"word", "abc", "abc"},
               {"twelve", "12", "12"},    {"no", "false", "False"}, {"missing", "", ""}};
  for (const auto& t : texts) {
    EXPECT_EQ(e->attribute_raw(t.Name), t.Raw) << t.Name;
    EXPECT_EQ(e->attribute(t.Name), t.Typed) << t.Name;
  }
  std::string s;
  EXPECT_TRUE(e->getAttribute("raw", s));
  EXPECT_EQ(s, "7");
  int32_t i = -1;
  EXPECT_TRUE(e->getAttribute("twelve", i));
  EXPECT_EQ(i, 12);
  EXPECT_THROW(e->getAttribute("word", i), EInvalidCast);
  double d = 0;
  EXPECT_TRUE(e->getAttribute("comma", d));
  EXPECT_EQ(d, 1.5);
  EXPECT_FALSE(e->getAttribute("word", d));
  EXPECT_TRUE(e->getAttribute("half", d));
  EXPECT_EQ(d, 1.5);
  bool b = true;
  EXPECT_TRUE(e->getAttribute("no", b));
  EXPECT_FALSE(b);
  float f = 1;
  EXPECT_FALSE(e->getAttribute("missing", f));
  EXPECT_EQ(f, 0.0f);
  // The key with a colon makes prefix and local name.
  TMz_XmlAttribute* q = e->attributes()->Find("q:name");
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(q->getNamespace(), "q");
  EXPECT_EQ(q->name(), "name");
  // Typed writes of each kind.
  e->addAttribute("d", 0.25);
  e->addAttribute("i", int32_t(-3));
  e->addAttribute("b", false);
  EXPECT_EQ(e->attribute_raw("d"), "0.25");
  EXPECT_EQ(e->attribute_raw("i"), "-3");
  EXPECT_EQ(e->attribute_raw("b"), "False");
}

TEST_F(XmlNodeTest, RemoveFreesRemoveAttributeDetachesSearchesGoUp) {
  TMz_XmlDocument doc;
  doc.loadFromString("<?xml version=\"1.0\"?><a><b><c x=\"1\"/></b><d/></a>");
  auto* root = dynamic_cast<TMz_XmlElement*>(doc.root());
  TMz_XmlElement* a = root->find("a");
  TMz_XmlElement* b = a->find("b");
  TMz_XmlElement* c = b->find("c");
  EXPECT_EQ(c->searchUpwardsForNode("a"), a);
  EXPECT_EQ(c->searchUpwardsForNode("c"), nullptr);  // never itself
  EXPECT_EQ(c->searchUpwardsForNode<TMz_XmlElement>(), b);
  EXPECT_EQ(a->find<TMz_XmlElement>(), b);

  TMz_XmlAttribute* x = c->attributes()->Find("x");
  c->removeAttribute(x);
  EXPECT_EQ(c->attributes()->Find("x"), nullptr);
  EXPECT_EQ(x->getRawValue(), "1");  // alive, the caller's now
  Free(x);

  a->remove(b);  // frees b and c (LeakSanitizer would report otherwise)
  ASSERT_EQ(a->nodes()->Count(), 1);
  EXPECT_EQ(a->nodes()->Items(0)->name(), "d");
  // Freeing a child directly takes it out of its parent.
  Free(a->nodes()->Items(0));
  EXPECT_EQ(a->nodes()->Count(), 0);
}

TEST_F(XmlNodeTest, GoldenBytesBeautifiedAndNot) {
  TMz_XmlDocument doc;
  auto* root = New<TMz_XmlElement>(&doc, nullptr, "", "xml");
  root->setKind(mzDocument);
  doc.setRoot(root);
  auto* top = New<TMz_XmlElement>(&doc, root, "", "top");
  top->addAttribute("n", int32_t(2));
  auto* leaf = New<TMz_XmlElement>(&doc, top, "", "leaf");
  leaf->setRawValue("text");
  New<TMz_XmlElement>(&doc, top, "", "empty");
  auto* comment = New<TMz_XmlElement>(&doc, top, "", "");
  comment->setKind(mzComment);
  comment->setRawValue(" note ");
  EXPECT_EQ(doc.saveToString(true),
            "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
            "<top n=\"2\">\r\n"
            "\t<leaf>text</leaf>\r\n"
            "\t<empty />\r\n"
            "\t<!-- note -->\r\n"
            "</top>\r\n");
  EXPECT_EQ(doc.saveToString(false),
            "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
            "<top n=\"2\"><leaf>text</leaf><empty /><!-- note --></top>");
  // A header attribute present is written in its place, the missing ones by default.
  root->addAttribute("encoding", "utf-8");
  EXPECT_EQ(doc.saveToString(false).substr(0, 55), "<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\"?>");
}

// Load, save, load again: parsed comments and CDATA keep their text, declarations stay
// declarations, values with quotes, "<", "&" and "]]>" survive; what cannot survive (NUL,
// U+FFFF, "-->" in a comment) is refused.
TEST_F(XmlNodeTest, SavedTreesReadBack) {
  TMz_XmlDocument doc;
  doc.loadFromString("<?xml version=\"1.0\"?><q:a xmlns:q=\"urn:q\" q:v='say \"x\"'><!--c--><![CDATA[d]]></q:a>");
  const std::string once = doc.saveToString(false);
  EXPECT_EQ(once,
            "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
            "<q:a xmlns:q=\"urn:q\" q:v=\"say &quot;x&quot;\"><!--c--><![CDATA[d]]></q:a>");
  TMz_XmlDocument again;
  again.loadFromString(once);
  EXPECT_EQ(again.saveToString(false), once);
  // A plain attribute named like a declared prefix leaves the declaration in place.
  TMz_XmlDocument clash;
  clash.loadFromString("<?xml version=\"1.0\"?><q:a xmlns:q=\"u\" q><y/></q:a>");
  const std::string clashed = clash.saveToString(false);
  EXPECT_NE(clashed.find("<q:a xmlns:q=\"u\" q=\"\">"), std::string::npos) << clashed;
  TMz_XmlDocument clashAgain;
  clashAgain.loadFromString(clashed);
  EXPECT_EQ(clashAgain.saveToString(false), clashed);

  auto* a = dynamic_cast<TMz_XmlElement*>(doc.root())->find("a");
  auto* data = a->nodes()->Items(1);
  data->setRawValue("x]]>y");
  const std::string split = doc.saveToString(false);
  EXPECT_NE(split.find("<![CDATA[x]]]]><![CDATA[>y]]>"), std::string::npos);
  TMz_XmlDocument reread;
  reread.loadFromString(split);
  auto* ra = dynamic_cast<TMz_XmlElement*>(reread.root())->find("a");
  ASSERT_EQ(ra->nodes()->Count(), 3);
  EXPECT_EQ(ra->nodes()->Items(1)->getRawValue() + ra->nodes()->Items(2)->getRawValue(), "x]]>y");

  const struct {
    const char* What;
    std::function<void()> Spoil;
    std::function<void()> Mend;
  } refused[] = {
      {"v", [&] { a->setAttribute_raw("q:v", std::string("nul \0 inside", 12)); }, [&] { a->setAttribute_raw("q:v", "1"); }},
      {"v", [&] { a->setAttribute_raw("q:v", "end mark \xEF\xBF\xBF"); }, [&] { a->setAttribute_raw("q:v", "1"); }},
      {"a", [&] { a->setRawValue(std::string("1\0", 2)); }, [&] { a->setRawValue(""); }},
      {"a", [&] { a->setRawValue("\xEF\xBF\xBF"); }, [&] { a->setRawValue(""); }},
      {"", [&] { a->nodes()->Items(0)->setRawValue("x-->y"); }, [&] { a->nodes()->Items(0)->setRawValue("c"); }},
      {"", [&] { a->nodes()->Items(0)->setRawValue(std::string("\0", 1)); }, [&] { a->nodes()->Items(0)->setRawValue("c"); }},
  };
  for (const auto& r : refused) {
    r.Spoil();
    try {
      doc.saveToString(true);
      ADD_FAILURE() << r.What;
    } catch (const EMz_XmlStoringError& e) {
      const std::string name = std::string(r.What) == "v" ? "q:v" : (std::string(r.What) == "a" ? "q:a" : "COMMENT");
      EXPECT_EQ(e.Message(), "value of \"" + name + "\" cannot be stored [\"\" at 0]");
    }
    r.Mend();
  }
  // What the writer used to refuse is escaped and reads back as it was.
  a->setAttribute_raw("q:v", "both \" and ' & <");
  a->setRawValue("damage < 5 && x > 1");
  TMz_XmlDocument escaped;
  escaped.loadFromString(doc.saveToString(true));
  auto* ea = dynamic_cast<TMz_XmlElement*>(escaped.root())->find("a");
  EXPECT_EQ(ea->attribute_raw("q:v"), "both \" and ' & <");
  EXPECT_EQ(ea->getRawValue(), "damage < 5 && x > 1");
}

}  // namespace
}  // namespace quorvel
