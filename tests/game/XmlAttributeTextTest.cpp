// A loaded element keeps its plain attributes as text until they are asked for as objects;
// an element of a caller's node class makes objects while the tag is read. Both must give the
// same tree, the same saved text and the same failures, and nodes of a load must stay usable
// after their document died.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "framework/rtl/Finally.h"
#include "lib/game/XmlDocument.h"

namespace quorvel {
namespace {

TMz_XmlNode* MakePlainElement(TMz_XmlDocument* ADocument, TMz_XmlNode* AParent, const std::string& ANamespace,
                          const std::string& AName) {
  return New<TMz_XmlElement>(ADocument, AParent, ANamespace, AName);
}

// What a reader sees of the tree: kinds, names, text and every attribute as raw, typed and
// double text, read first through the element's lookups, then through the attribute objects.
std::string DumpForRoutes(TMz_XmlNode* ANode, bool AAllKeys) {
  static const std::vector<std::string> AllKeys = {"id", "a", "b", "q:a", "n", "version", "encoding", "x0", "x16", "missing"};
  static const std::vector<std::string> FewKeys = {"id", "name", "version"};
  std::string out;
  std::vector<std::pair<TMz_XmlNode*, int>> work{{ANode, 0}};
  while (!work.empty()) {
    auto [node, depth] = work.back();
    work.pop_back();
    out.append(size_t(depth), ' ').append(std::to_string(int(node->kind()))).append(" ");
    out.append(node->getQualifiedName()).append(" [").append(node->getRawValue()).append("]");
    out.append(node->closed() ? " closed" : " open");
    auto* e = TMz_XmlNode::AsElement(node);
    if (!e) continue;
    for (const std::string& key : AAllKeys ? AllKeys : FewKeys) {
      double d = 0;
      const bool found = e->getAttribute(key, d);
      std::string text;
      e->getAttribute(key, text);
      out.append(" ").append(key).append("=").append(e->attribute_raw(key)).append("/").append(e->attribute(key));
      out.append("/").append(found ? "d" : "-").append(FloatToStr(d)).append("/").append(text);
    }
    if (e->attributes()) {
      out.append(" {");
      for (const auto& pair : *e->attributes()) {
        out.append(pair.Value->getQualifiedName()).append("=").append(pair.Value->getRawValue()).append(";");
        out.append(std::to_string(int(pair.Value->kind()))).append(pair.Value->parent() == e ? "" : "!").append(" ");
      }
      out.append("}");
    }
    if (e->namespaces()) out.append(" ns").append(std::to_string(e->namespaces()->Count()));
    out.append("\n");
    if (e->nodes())
      for (int i = e->nodes()->Count(); i-- > 0;) work.push_back({e->nodes()->Items(i), depth + 1});
  }
  return out;
}

struct TRouteOutcome {
  std::string Saved;  // before any attribute object was made
  std::string Pretty;
  std::string Tree;
  std::string Error;
  int Nodes = 0;
};

TRouteOutcome LoadThroughRoute(const std::string& AText, bool AObjects, bool AAllKeys) {
  const TMz_XmlNodeClass before = Mz_DefaultNodeClass();
  Mz_SetDefaultNodeClass(AObjects ? &MakePlainElement : nullptr);
  const auto restore = Finally([&] { Mz_SetDefaultNodeClass(before); });
  TRouteOutcome outcome;
  TMz_XmlDocument doc;
  try {
    doc.loadFromString(AText);
  } catch (const EMz_XmlParseError& e) {
    outcome.Error = e.Message();
    return outcome;
  }
  outcome.Nodes = doc.node_count();
  try {
    outcome.Saved = doc.saveToString(false);
  } catch (const EMz_XmlStoringError& e) {
    outcome.Saved = std::string("storing: ").append(e.Message());
  }
  if (doc.root()) outcome.Tree = DumpForRoutes(doc.root(), AAllKeys);
  try {
    outcome.Pretty = doc.saveToString(true);
  } catch (const EMz_XmlStoringError& e) {
    outcome.Pretty = std::string("storing: ").append(e.Message());
  }
  return outcome;
}

// Answers whether the text loaded.
bool ExpectSameRoutes(const std::string& AText, const std::string& AWhat, bool AAllKeys = true) {
  const TRouteOutcome text = LoadThroughRoute(AText, false, AAllKeys);
  const TRouteOutcome objects = LoadThroughRoute(AText, true, AAllKeys);
  EXPECT_EQ(text.Error, objects.Error) << AWhat;
  EXPECT_EQ(text.Saved, objects.Saved) << AWhat;
  EXPECT_EQ(text.Pretty, objects.Pretty) << AWhat;
  EXPECT_EQ(text.Tree, objects.Tree) << AWhat;
  EXPECT_EQ(text.Nodes, objects.Nodes) << AWhat;
  return text.Error.empty();
}

// A random document with repeated, prefixed, declared, empty, valueless and referenced
// attributes, more attributes than a map keeps without an index, text, CDATA and comments.
std::string RandomDocument(std::mt19937& ARandom) {
  const auto pick = [&](int AMax) { return int(ARandom() % unsigned(AMax)); };
  static const char* const Values[] = {"", "7", "007", "1.5", "1,5", "true", "word", "&lt;&amp;&quot;&#65;&#x263A;",
                                       "&bogus;", "a&gt;b", "-3", " spaced ", "\xC3\xA9t\xC3\xA9"};
  static const char* const Names[] = {"id", "a", "b", "n", "q:a", "x0", "x16", "xmlns:q", "xmlns:r", "q:b"};
  std::string s = pick(3) ? "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" : "";
  s += "<root xmlns:q=\"urn:q\">";
  std::vector<std::string> open;
  for (int steps = 0; steps < 40; ++steps) {
    const int what = pick(10);
    if (what < 4 || open.empty()) {
      const std::string name = std::string("e").append(std::to_string(pick(4)));
      s.append("<").append(name);
      const int count = pick(5) == 0 ? 14 + pick(8) : pick(6);
      for (int i = 0; i < count; ++i) {
        const std::string attr = pick(3) == 0 ? std::string("x").append(std::to_string(pick(20))) : Names[pick(10)];
        const char quote = pick(4) == 0 ? '\'' : '"';
        s.append(" ").append(attr);
        if (i == count - 1 && pick(6) == 0) continue;  // no value: only the last may go without
        s += "=";
        s += quote;
        s += Values[pick(13)];
        s += quote;
      }
      if (pick(3) == 0) {
        s += "/>";
      } else {
        s += ">";
        open.push_back(name);
      }
    } else if (what < 6) {
      s += "</" + open.back() + ">";
      open.pop_back();
    } else if (what == 6) {
      s.append("<![CDATA[data ").append(Values[pick(13)]).append("]]>");
    } else if (what == 7) {
      s += "<!-- note -->";
    } else {
      s.append(" text ").append(Values[pick(13)]).append(" ");
    }
  }
  while (!open.empty()) {
    s += "</" + open.back() + ">";
    open.pop_back();
  }
  return s + "</root>";
}

TEST(XmlAttributeText, BothRoutesGiveTheSameTreeOnTheTestFiles) {
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(std::string(QUORVEL_TEST_DATA_DIR) + "/xml")) {
    if (entry.file_size() > 300000) continue;  // the large ones add time, not cases
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    ExpectSameRoutes(text, entry.path().filename().string(), false);
    ++files;
  }
  EXPECT_GT(files, 5);
}

TEST(XmlAttributeText, BothRoutesGiveTheSameTreeAndFailuresOnRandomDocuments) {
  std::mt19937 random(51);
  int loaded = 0;
  for (int round = 0; round < 60; ++round) {
    std::string text = RandomDocument(random);
    loaded += ExpectSameRoutes(text, text);
    // Spoiled copies fail (or not) alike, with the same message and position.
    for (int cut = 0; cut < 3; ++cut) {
      std::string spoiled = text;
      const size_t at = random() % spoiled.size();
      static const char Marks[] = {'<', '>', '=', '"', '/', ':', '\0', '?', ' '};
      if (random() % 2) spoiled[at] = Marks[random() % sizeof Marks];
      else spoiled.erase(at, 1 + random() % 4);
      ExpectSameRoutes(spoiled, spoiled);
    }
    if (HasFailure()) break;
  }
  EXPECT_GT(loaded, 20);
}

TEST(XmlAttributeText, AttributesReadAsTextThenChangedAsObjects) {
  TMz_XmlDocument doc;
  doc.loadFromString("<r xmlns:q=\"urn\"><e a=\"1\" q:b='x' a=\"007\" c=\"&lt;\"/></r>");
  auto* e = TMz_XmlNode::AsElement(doc.root())->find("r")->find("e");
  ASSERT_NE(e, nullptr);
  // The later value of a name given twice, in the first one's place.
  EXPECT_EQ(e->attribute_raw("a"), "007");
  EXPECT_EQ(e->attribute("a"), "7");
  EXPECT_EQ(e->attribute_raw("q:b"), "x");
  EXPECT_EQ(doc.saveToString(false),
            "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?><r xmlns:q=\"urn\"><e a=\"007\" q:b=\"x\" "
            "c=\"&lt;\" /></r>");
  e->setAttribute_raw("d", "4");
  e->addAttribute("a", 5);
  TMz_XmlAttribute* c = e->attributes()->Find("c");
  ASSERT_NE(c, nullptr);
  e->removeAttribute(c);
  EXPECT_EQ(c->getRawValue(), "<");
  Free(c);  // the caller's now
  EXPECT_EQ(doc.saveToString(false),
            "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?><r xmlns:q=\"urn\"><e a=\"5\" q:b=\"x\" "
            "d=\"4\" /></r>");
}

TEST(XmlAttributeText, NodesOfALoadOutliveTheirDocument) {
  TMz_XmlNode* root;
  TMz_XmlElement* kept;
  {
    TMz_XmlDocument doc;
    doc.loadFromString("<r><a id=\"1\"><b id=\"2\"/></a><c id=\"3\"/></r>");
    root = doc.extractRoot();
    auto* r = TMz_XmlNode::AsElement(root)->find("r");
    kept = r->find("a");
    kept->detach();
    r->remove(r->find("c"));  // freed alone, before the rest
  }
  EXPECT_EQ(kept->attribute_raw("id"), "1");
  EXPECT_EQ(kept->find("b")->attribute_raw("id"), "2");
  Mz_FreeTree(root);
  EXPECT_EQ(kept->find("b")->attributes()->Find("id")->getRawValue(), "2");
  Mz_FreeTree(kept);
}

}  // namespace
}  // namespace quorvel
