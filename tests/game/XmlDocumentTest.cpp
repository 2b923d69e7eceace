#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "framework/io/Path.h"
#include "framework/io/Stream.h"
#include "lib/game/XmlDocument.h"

namespace quorvel {
namespace {

const std::string H = "<?xml version=\"1.0\"?>";  // 21 characters

std::string ParseError(TMz_XmlDocument& ADoc, const std::string& AText) {
  try {
    ADoc.loadFromString(AText);
  } catch (const EMz_XmlParseError& e) {
    return e.Message();
  }
  return "(nothing raised)";
}

// The first element below the header.
TMz_XmlElement* DocumentElement(const TMz_XmlDocument& ADoc) {
  auto* root = dynamic_cast<TMz_XmlElement*>(ADoc.root());
  if (!root || !root->nodes()) return nullptr;
  for (TMz_XmlElement* e : *root->nodes())
    if (e->kind() == mzDefault) return e;
  return nullptr;
}

// Both saves of ADoc, plain and beautified, load again with the same document element text and
// save to the same bytes.
void ExpectSavesReadBack(TMz_XmlDocument& ADoc) {
  for (bool pretty : {false, true}) {
    const std::string saved = ADoc.saveToString(pretty);
    TMz_XmlDocument again;
    ASSERT_NO_THROW(again.loadFromString(saved)) << saved;
    EXPECT_EQ(again.saveToString(pretty), saved);
    if (!DocumentElement(ADoc)) continue;
    ASSERT_NE(DocumentElement(again), nullptr) << saved;
    EXPECT_EQ(DocumentElement(again)->getRawValue(), DocumentElement(ADoc)->getRawValue()) << saved;
  }
}

TEST(XmlDocumentErrors, EveryMessageWithItsPosition) {
  const struct {
    int Number;
    std::string Text;
    std::string Message;
  } cases[] = {
      {1, H + "<a =>", "invalid character for token [\"\" at 25]"},
      {2, H + "<a x=y/>", "invalid character [\"\" at 27]"},
      {3, H + std::string("<a \0/>", 6), "unexpected end of data (#0) [\"\" at 25]"},
      {4, H + "<a \xEF\xBF\xBF/>", "unexpected end of data (#$FFFF) [\"\" at 25]"},
      {5, H + "<a x y=\"1\"/>", "invalid character while parsing attribute \"x\" [\"\" at 27]"},
      {6, H + "<a xmlns:q y=\"1\"/>", "invalid character while parsing namespace \"q\" [\"\" at 33]"},
      {7, H + "<a /x>", "\">\" expected behind \"/\" [\"\" at 26]"},
      {8, "<?xml ?x>", "invalid charater - \">\" expected behind \"?\" [\"\" at 8]"},
      {9, H + "<a ?>", "invalid charater \"?\" - only allowed for xml header tag [\"\" at 25]"},
      // 10 has no input path: a character that cannot start a name fails as error 1 first.
      {11, H + "<a q:", "incomplete namespace declaration \"q\" for attribute name [\"\" at 26]"},
      {13, H + "<a q:x=\"1\" xmlns:q=\"u\"/>", "namespace \"q\" not defined for attribute \"x\" [\"\" at 31]"},
      {14, "</a>", "parent node is not a xml element [\"\" at 2]"},
      {15, H + "<a></b>", "failed to close tag \"a\" - closing tag \"b\" found instead [\"\" at 27]"},
      {16, H + "<a></a >", "invalid character in closing tag a [\"\" at 28]"},
      {17, H + "<!-x", "\"<!--\" expected for valid comment, but \"<!-\" found [\"\" at 25]"},
      {18, H + "<!-- abc", "invalid character found - \"-\" expected [\"\" at 30]"},
      {19, H + "<!DOCTYPE x", "invalid character found - \">\" expected [\"\" at 33]"},
      {20, H + "<!Dx>", "\"<!DOCTYPE\" expected for valid doctype-definition, but \"<!D?\" found [\"\" at 25]"},
      {21, H + "<![CDATX[", "invalid character - \"CDATA[\" expected behind \"<![\" [\"\" at 29]"},
      {22, H + "<![CDATA x", "invalid character - \"[\" expected behind \"<![CDATA\" [\"\" at 30]"},
      {23, H + "<![CDATA[abc", "invalid character found - \"]\" expected [\"\" at 34]"},
      {24, "<?xml:x?>", "namespace declaration not allowed for xml core node [\"\" at 6]"},
      {25, "<?foo?>", "xml header expected [\"\" at 5]"},
      {26, H + H, "xml header already exist [\"\" at 26]"},
      {27, H + "< ", "invalid char in tag name [\"\" at 23]"},
      {28, H + "<q:", "incomplete namespace declaration \"q\" for tag name [\"\" at 24]"},
      {29, H + "<q:a/>", "namespace \"q\" not defined for tag \"a\" [\"\" at 27]"},
      {30, H + "<a>", "tag \"a\" not closed [\"\" at 25]"},
      {31, H + ">", "invalid character \">\" found [\"\" at 22]"},
      {33, "abc", "node values only allowed for element nodes [\"\" at 1]"},
  };
  for (const auto& c : cases) {
    TMz_XmlDocument doc;
    EXPECT_EQ(ParseError(doc, c.Text), c.Message) << "error " << c.Number;
    EXPECT_EQ(doc.root(), nullptr) << "error " << c.Number;
  }
}

// 12 and 32 need nodes the parser never makes itself: a start tag that is no element, and an
// element that is closed before its content.
TEST(XmlDocumentErrors, HandlerNodesReachErrorsTwelveAndThirtyTwo) {
  std::vector<TOwned<TMz_XmlNode>> kept;
  TMz_XmlDocument doc;
  doc.setOnCreateNode([&](TObject*, TMz_StreamReader*, TMz_XmlNode*, const std::string& ANamespace,
                          const std::string& AName, TMz_XmlNodeKind AKind, TMz_XmlNode*& ANode) {
    if (AKind == mzDefault && AName == "a") {
      ANode = New<TMz_XmlAttribute>(&doc, nullptr, ANamespace, AName);
      kept.emplace_back(ANode);
    }
  });
  EXPECT_EQ(ParseError(doc, H + "<a xmlns:q=\"1\"/>"),
            "failed to define namespace in none element node \"a\" [\"\" at 31]");
  EXPECT_EQ(doc.root(), nullptr);

  TMz_XmlDocument closed;
  closed.setOnCreateNode([&](TObject*, TMz_StreamReader*, TMz_XmlNode* ACurrent, const std::string& ANamespace,
                             const std::string& AName, TMz_XmlNodeKind AKind, TMz_XmlNode*& ANode) {
    if (AKind == mzDefault && AName == "a") {
      ANode = New<TMz_XmlElement>(&closed, ACurrent, ANamespace, AName);  // lives in the tree
      ANode->setClosed(true);
    }
  });
  EXPECT_EQ(ParseError(closed, H + "<a>x</a>"), "invalid character found [\"\" at 25]");
  EXPECT_EQ(closed.root(), nullptr);
}

TEST(XmlDocumentErrors, FileNameInTheSuffixAndFormatBeforeSuffix) {
  const std::string dir = TPath::Combine(TPath::GetTempPath(), "quorvel_xml_" + std::to_string(getpid()));
  TDirectory::CreateDirectory(dir);
  const std::string file = TPath::Combine(dir, "100%s.xml");
  {
    TFileStream out(file, fmCreate);
    const std::string text = H + "<a></b>";
    out.WriteBuffer(text.data(), int64_t(text.size()));
  }
  TMz_XmlDocument doc;
  try {
    doc.loadFromFile(file);
    ADD_FAILURE() << "nothing raised";
  } catch (const EMz_XmlParseError& e) {
    EXPECT_EQ(e.Message(), "failed to close tag \"a\" - closing tag \"b\" found instead [\"" + file + "\" at 27]");
  }
  EXPECT_EQ(doc.filename(), file);
  TDirectory::Delete(dir, true);
}

TEST(XmlDocumentErrors, FailedLoadKeepsTheRootItHad) {
  TMz_XmlDocument doc;
  doc.loadFromString(H + "<a/>");
  TMz_XmlNode* root = doc.root();
  // A second load fails at its header, or at its first element when it has none; nothing leaks.
  EXPECT_EQ(ParseError(doc, H + "<d/>"), "xml header already exist [\"\" at 5]");
  EXPECT_EQ(doc.root(), root);
  EXPECT_EQ(ParseError(doc, "<b><c/></b>" + H + "<d/>"), "xml header already exist [\"\" at 2]");
  EXPECT_EQ(doc.root(), root);
  // A document without header fails like any other, and the root it had stays.
  TMz_XmlDocument fresh;
  EXPECT_EQ(ParseError(fresh, "<b><c></b>"), "failed to close tag \"c\" - closing tag \"b\" found instead [\"\" at 9]");
  EXPECT_EQ(fresh.root(), nullptr);
  EXPECT_EQ(ParseError(fresh, "<b/>" + H), "xml header already exist [\"\" at 9]");
  EXPECT_EQ(fresh.root(), nullptr);
  ASSERT_NE(DocumentElement(doc), nullptr);
  EXPECT_EQ(DocumentElement(doc)->name(), "a");
}

TEST(XmlDocument, ParsesTheGrammarsCases) {
  // The declaration is optional: a document without one gets a header of its own, which
  // writes the default declaration.
  {
    TMz_XmlDocument doc;
    doc.loadFromString("<!-- c --><a><b/>t</a>");
    ASSERT_NE(doc.root(), nullptr);
    EXPECT_EQ(doc.root()->kind(), mzDocument);
    ASSERT_NE(DocumentElement(doc), nullptr);
    EXPECT_EQ(DocumentElement(doc)->name(), "a");
    EXPECT_EQ(DocumentElement(doc)->getRawValue(), "t");
    EXPECT_EQ(doc.saveToString(false),
              "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?><!-- c --><a>t<b /></a>");
  }
  // Header, element with attribute, closed child, a word of text.
  {
    TMz_XmlDocument doc;
    doc.loadFromString(H + "<a x=\"1\"><b/>word</a>");
    ASSERT_NE(doc.root(), nullptr);
    EXPECT_EQ(doc.root()->kind(), mzDocument);
    TMz_XmlElement* a = DocumentElement(doc);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->attribute_raw("x"), "1");
    EXPECT_EQ(a->getRawValue(), "word");
    ASSERT_EQ(a->nodes()->Count(), 1);
    EXPECT_TRUE(a->nodes()->Items(0)->closed());
    EXPECT_EQ(doc.node_count(), 4);  // header, a, b, </a>
  }
  {
    TMz_XmlDocument doc;
    doc.loadFromString(H + "<a></a>");
    EXPECT_EQ(doc.node_count(), 3);
  }
}

TEST(XmlDocument, EdgeCasesOfTheGrammar) {
  const struct {
    std::string Text;
    std::function<void(TMz_XmlElement* a)> Check;
  } cases[] = {
      // An attribute without "=" before ">" or "/>" is empty.
      {H + "<a x=\"1\" y/>", [](TMz_XmlElement* a) {
         EXPECT_EQ(a->attributes()->Count(), 2);
         EXPECT_EQ(a->attribute_raw("y"), "");
       }},
      {H + "<a y>t</a>", [](TMz_XmlElement* a) {
         EXPECT_EQ(a->attribute_raw("y"), "");
         EXPECT_EQ(a->getRawValue(), "t");
       }},
      // Either quote mark holds the other; the predefined entities and character references
      // are decoded, anything else that starts with "&" stays as written.
      {H + "<a x='say \"hi\"' y=\"it's\" z=\"&amp;\"/>", [](TMz_XmlElement* a) {
         EXPECT_EQ(a->attribute_raw("x"), "say \"hi\"");
         EXPECT_EQ(a->attribute_raw("y"), "it's");
         EXPECT_EQ(a->attribute_raw("z"), "&");
       }},
      {H + "<a z=\"&lt;&gt;&quot;&apos;&#65;&#x42;&#x1F600;\">&amp;lt; &#0; &#xD800; &#65535; &nbsp; & &amp &#x; &#1114112;</a>",
       [](TMz_XmlElement* a) {
         EXPECT_EQ(a->attribute_raw("z"), "<>\"'AB\xF0\x9F\x98\x80");
         EXPECT_EQ(a->getRawValue(), "&lt; &#0; &#xD800; &#65535; &nbsp; & &amp &#x; &#1114112;");
       }},
      // A comment keeps its text up to the first "-->", untrimmed.
      {H + "<a><!-- x -- y --></a>", [](TMz_XmlElement* a) {
         TMz_XmlElement* c = a->nodes()->Items(0);
         EXPECT_EQ(c->kind(), mzComment);
         EXPECT_EQ(c->name(), "COMMENT");
         EXPECT_EQ(c->getRawValue(), " x -- y ");
       }},
      // CDATA is a child; the element's own text is not touched.
      {H + "<a>t<![CDATA[ <x> ]]>u</a>", [](TMz_XmlElement* a) {
         TMz_XmlElement* d = a->nodes()->Items(0);
         EXPECT_EQ(d->kind(), mzData);
         EXPECT_EQ(d->name(), "CDATA");
         EXPECT_EQ(d->getRawValue(), " <x> ");
         EXPECT_EQ(a->getRawValue(), "tu");
       }},
      // A prefix declared on the same element, after its use in the tag name.
      {H + "<q:a xmlns:q=\"u\"><q:b/></q:a>", [](TMz_XmlElement* a) {
         EXPECT_EQ(a->getQualifiedName(), "q:a");
         EXPECT_NE(a->namespaceDecl("q"), nullptr);
         EXPECT_EQ(a->namespaceDecl("q")->getRawValue(), "u");
         EXPECT_TRUE(a->nodes()->Items(0)->defined("q"));
       }},
      // Text is trimmed per piece and joined without separator.
      {H + "<a>\r\n  one <b/> two\t</a>", [](TMz_XmlElement* a) { EXPECT_EQ(a->getRawValue(), "onetwo"); }},
  };
  for (const auto& c : cases) {
    TMz_XmlDocument doc;
    doc.loadFromString(c.Text);
    TMz_XmlElement* a = DocumentElement(doc);
    ASSERT_NE(a, nullptr) << c.Text;
    c.Check(a);
  }
  // DOCTYPE in either case: the text between keyword and ">".
  for (const char* keyword : {"DOCTYPE", "doctype"}) {
    TMz_XmlDocument doc;
    doc.loadFromString(H + "<!" + keyword + " a SYSTEM \"a.dtd\"><a/>");
    auto* root = dynamic_cast<TMz_XmlElement*>(doc.root());
    TMz_XmlElement* d = root->nodes()->Items(0);
    EXPECT_EQ(d->kind(), mzDocType);
    EXPECT_EQ(d->getRawValue(), " a SYSTEM \"a.dtd\"");
  }
  // Header text at top level becomes the header's value.
  TMz_XmlDocument doc;
  doc.loadFromString(H + "<a/> tail ");
  EXPECT_EQ(doc.root()->getRawValue(), "tail");
}

// The encoding is the declaration's own "encoding" attribute: the word inside another value,
// or a "?>" inside a quoted value, does not decide it. A saved document (which adds its own
// encoding after what was read) loads again and saves the same.
TEST(XmlDocument, DeclaredEncodingIsTheEncodingAttribute) {
  const std::string texts[] = {
      "<?xml version=\"encoding=\"/>",
      "<?xml version='encoding=\"x-none\"' encoding=\"UTF-8\"?><a>\xC3\xA9</a>",
      "<?xml version=\"1.0\" standalone='encoding=\"x-none\"'?><a>\xC3\xA9</a>",
      "<?xml version=\"?>\" encoding=\"latin1\"?><a>\xE9</a>",
  };
  for (const std::string& text : texts) {
    TMz_XmlDocument doc;
    ASSERT_NO_THROW(doc.loadFromString(text)) << text;
    ExpectSavesReadBack(doc);
    if (text.find("<a>") == std::string::npos) continue;
    TMz_XmlElement* a = DocumentElement(doc);
    ASSERT_NE(a, nullptr) << text;
    EXPECT_EQ(a->getRawValue(), "\xC3\xA9") << text;
  }
  TMz_XmlDocument doc;
  EXPECT_EQ(ParseError(doc, "<?xml version='encoding=\"UTF-8\"' encoding=\"x-none\"?><a/>"),
            "unsupported encoding \"x-none\" [\"\" at 0]");
}

// What a save writes loads back to the same tree: references that are not decoded stay text
// and are written escaped, so they read back as the same text.
TEST(XmlDocument, SavedTextLoadsAndSavesTheSame) {
  const std::string texts[] = {
      "<!-- c --><a b=\"&ISO8859apos;\">&#10; &nbsp;</a>VV",
      "<a b=\"&bogus; &#0;\">&nbsp;&#x;&amp</a>",
      "<a>&#10;x&#13;&#9;</a>",
      "<a>x</a> tail ",
  };
  for (const std::string& text : texts) {
    TMz_XmlDocument doc;
    ASSERT_NO_THROW(doc.loadFromString(text)) << text;
    ExpectSavesReadBack(doc);
  }
  TMz_XmlDocument doc;
  doc.loadFromString("<a>&#10;x&#32;</a>");
  EXPECT_EQ(DocumentElement(doc)->getRawValue(), "\nx ");
  EXPECT_EQ(doc.saveToString(false), "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?><a>&#10;x&#32;</a>");
}

TEST(XmlDocument, SavesExactlyTheBytesItReports) {
  TMz_XmlDocument doc;
  doc.loadFromString(H + "<a x=\"1\">" + std::string(56, 'w') + "</a>");
  const std::string text = doc.saveToString(false);
  EXPECT_EQ(doc.saveToBytes(false).size(), text.size());
  EXPECT_EQ(text, "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?><a x=\"1\">" + std::string(56, 'w') +
                      "</a>");
}

// 10,000 levels parse, save and free on a worker thread (a small stack: the parser, the
// writer and the destructor keep their own stacks); one more level is refused.
TEST(XmlDocument, DeepNestingNeedsNoStackAndIsBounded) {
  auto nested = [](int ADepth) {
    std::string s = H;
    for (int i = 0; i < ADepth; ++i) s += "<e>";
    for (int i = 0; i < ADepth; ++i) s += "</e>";
    return s;
  };
  std::string saved, error;
  std::thread worker([&] {
    TMz_XmlDocument doc;
    doc.loadFromString(nested(TMz_XmlDocument::MaxNestingDepth));
    saved = doc.saveToString(false);
    TMz_XmlDocument deeper;
    error = ParseError(deeper, nested(100000));
  });
  worker.join();
  std::string expected = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>";
  const int depth = TMz_XmlDocument::MaxNestingDepth;
  for (int i = 0; i + 1 < depth; ++i) expected += "<e>";
  expected += "<e />";
  for (int i = 0; i + 1 < depth; ++i) expected += "</e>";
  EXPECT_TRUE(saved == expected);
  EXPECT_EQ(error, "maximum nesting depth of 10000 exceeded [\"\" at " + std::to_string(21 + 3 * 10000 + 2) + "]");
}

// The tree, or the message of the failure, as one text.
std::string Outcome(TMz_XmlDocument& ADoc, const std::string& ABytes) {
  try {
    ADoc.loadFromString(ABytes);
  } catch (const EMz_XmlParseError& e) {
    return "error " + e.Message();
  }
  std::string out = "nodes " + std::to_string(ADoc.node_count()) + "\n";
  std::vector<std::pair<TMz_XmlNode*, int>> work{{ADoc.root(), 0}};
  while (!work.empty()) {
    auto [node, depth] = work.back();
    work.pop_back();
    if (!node) continue;
    out.append(size_t(depth), ' ') += std::to_string(node->kind()) + " " + node->getQualifiedName() + " [" +
                                      node->getRawValue() + "]" + (node->closed() ? " closed\n" : "\n");
    auto* element = dynamic_cast<TMz_XmlElement*>(node);
    if (!element) continue;
    if (element->attributes())
      for (const auto& pair : *element->attributes())
        out.append(size_t(depth) + 1, ' ')
            .append("@")
            .append(std::to_string(pair.Value->kind()))
            .append(" ")
            .append(pair.Value->getQualifiedName())
            .append("=")
            .append(pair.Value->getRawValue())
            .append("\n");
    if (element->nodes())
      for (int i = element->nodes()->Count(); i-- > 0;) work.push_back({element->nodes()->Items(i), depth + 1});
  }
  return out;
}

// UTF-8 is parsed as it stands unless a handler needs the decoded text: a handler that
// supplies no node makes the same document read through the decoder, and both must give the
// same tree, the same messages and positions counted in UTF-16 units.
TEST(XmlDocument, BytesAndDecodedTextReadAlike) {
  const std::vector<std::string> seeds = {
      H + "<a x=\"caf\xC3\xA9\" y='\xE2\x82\xAC &amp; &#233;'>na\xC3\xAFve &lt;text&gt;<b/></a>",
      H + "<a>\xC3\xA9<![CDATA[M\xC3\xBChle ]]]]><!-- \xE2\x82\xAC -- --></a>",
      H + "<!DOCTYPE \xC3\xA9><q:a xmlns:q=\"\xC3\xA9\" q:b=\"1\">x</q:a>",
      H + "<a \xC3\xA9=\"1\"/>",
      H + "<\xC3\xA9/>",
      H + "<a>\xC3\xA9\xC3\xA9</b>",
      H + "<!\xC3\xA9<a>t</a>",
      H + "<a x=\"\xF0\x9F\x98\x80\">\xF0\x9F\x98\x80</a>",
      H + "<a>\xEF\xBF\xBF</a><b/>",
      H + "<a>\xC3(\xA9</a>",
      "\xEF\xBB\xBF" + H + "<a>\xC3\xA9</a>",
      "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a x=\"\xE9\">\xE9</a>",
      "<?xml version=\"1.0\" encoding=\"US-ASCII\"?><a>\xC3\xA9</a>",
      "<a>\xC3\xA9 &#x20AC;&#8364;&bogus;</a>",
  };
  std::vector<std::string> inputs = seeds;
  // Every seed cut short and with a character put in at each place.
  for (const std::string& seed : seeds)
    for (size_t at = 0; at <= seed.size(); ++at) {
      inputs.push_back(seed.substr(0, at));
      for (const char* insert : {"\xC3\xA9", "<", ">", "\""})
        inputs.push_back(seed.substr(0, at) + insert + seed.substr(at));
    }
  const TMz_OnCreateNode noNode = [](TObject*, TMz_StreamReader*, TMz_XmlNode*, const std::string&,
                                     const std::string&, TMz_XmlNodeKind, TMz_XmlNode*&) {};
  for (const std::string& input : inputs) {
    TMz_XmlDocument bytes, decoded;
    decoded.setOnCreateNode(noNode);
    ASSERT_EQ(Outcome(bytes, input), Outcome(decoded, input)) << input;
  }
  // Some of them stand: the characters of the text, positions after a two-byte character.
  TMz_XmlDocument doc;
  EXPECT_EQ(Outcome(doc, seeds[0]).substr(0, 8), "nodes 4\n");
  auto* a = DocumentElement(doc);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->attribute_raw("y"), "\xE2\x82\xAC & \xC3\xA9");
  EXPECT_EQ(a->getRawValue(), "na\xC3\xAFve <text>");
  TMz_XmlDocument broken;
  EXPECT_EQ(Outcome(broken, seeds[3]), "error invalid character for token [\"\" at 25]");
}

TEST(XmlDocument, StorageErrorsLeaveNoFile) {
  TMz_XmlDocument doc;
  doc.loadFromString(H + "<!DOCTYPE a><a/>");
  try {
    doc.saveToString(true);
    ADD_FAILURE() << "nothing raised";
  } catch (const EMz_XmlStoringError& e) {
    EXPECT_EQ(e.Message(), "invalid node kind [\"\" at 0]");
  }
}

}  // namespace
}  // namespace quorvel
