// The parser against libxml2 on real files: the same verdicts, and the same trees once XML's
// normalisations of line ends and attribute blanks are applied to our text (references are
// decoded by the parser itself).
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "framework/io/Stream.h"
#include "lib/game/XmlDocument.h"

namespace quorvel {
namespace {

std::string DataFile(const std::string& AName) { return std::string(QUORVEL_TEST_DATA_DIR) + "/xml/" + AName; }

TBytes Bytes(const std::string& AText) { return TBytes(AText.begin(), AText.end()); }

TBytes ReadBytes(const std::string& APath) {
  std::ifstream in(APath, std::ios::binary);
  return TBytes(std::istreambuf_iterator<char>(in), {});
}

struct TXmlDocFree {
  void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};
using TLibDoc = std::unique_ptr<xmlDoc, TXmlDocFree>;

TLibDoc LibParse(const TBytes& ABytes) {
  return TLibDoc(xmlReadMemory(reinterpret_cast<const char*>(ABytes.data()), int(ABytes.size()), nullptr, nullptr,
                               XML_PARSE_NOENT | XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
}

bool OursAccepts(const TBytes& ABytes, std::string* AMessage = nullptr) {
  TMz_XmlDocument doc;
  try {
    doc.loadFromBytes(ABytes);
    return true;
  } catch (const EMz_XmlParseError& e) {
    if (AMessage) *AMessage = e.Message();
    return false;
  }
}

// --- normalisation of our raw text ---------------------------------------------------------

std::string LineEnds(const std::string& AText) {
  std::string out;
  for (size_t i = 0; i < AText.size(); ++i) {
    if (AText[i] == '\r') {
      out += '\n';
      if (i + 1 < AText.size() && AText[i + 1] == '\n') ++i;
    } else {
      out += AText[i];
    }
  }
  return out;
}

std::string AttributeValue(const std::string& ARaw) {
  std::string s = LineEnds(ARaw);
  std::replace_if(s.begin(), s.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
  return s;
}

std::string TrimXml(const std::string& AText) {
  const char* blanks = " \t\r\n";
  const size_t b = AText.find_first_not_of(blanks);
  if (b == std::string::npos) return {};
  return AText.substr(b, AText.find_last_not_of(blanks) - b + 1);
}

// --- canonical forms ---------------------------------------------------------------------------

void Ours(const TMz_XmlElement* AElement, std::string& AOut);

void OursChildren(const TMz_XmlElement* AElement, std::string& AOut) {
  if (!AElement->nodes()) return;
  for (const TMz_XmlElement* child : *AElement->nodes()) {
    switch (child->kind()) {
      case mzDefault: Ours(child, AOut); break;
      case mzComment: AOut += "C " + LineEnds(child->getRawValue()) + "\n"; break;
      case mzData: AOut += "D " + LineEnds(child->getRawValue()) + "\n"; break;
      case mzDocType: AOut += "DOCTYPE\n"; break;
      default: AOut += "?\n";
    }
  }
}

void Ours(const TMz_XmlElement* AElement, std::string& AOut) {
  AOut += "E " + AElement->getQualifiedName() + "\n";
  std::vector<std::string> ns;
  if (AElement->attributes())
    for (const auto& pair : *AElement->attributes()) {
      const TMz_XmlAttribute* a = pair.Value;
      if (a->kind() == mzNamespace) ns.push_back("N " + a->name() + "=" + AttributeValue(a->getRawValue()));
      else if (a->getQualifiedName() == "xmlns") ns.push_back("N =" + AttributeValue(a->getRawValue()));
    }
  std::sort(ns.begin(), ns.end());
  for (const auto& n : ns) AOut += n + "\n";
  if (AElement->attributes())
    for (const auto& pair : *AElement->attributes()) {
      const TMz_XmlAttribute* a = pair.Value;
      if (a->kind() != mzNamespace && a->getQualifiedName() != "xmlns")
        AOut += "A " + a->getQualifiedName() + "=" + AttributeValue(a->getRawValue()) + "\n";
    }
  const std::string text = LineEnds(AElement->getRawValue());
  if (!text.empty()) AOut += "T " + text + "\n";
  OursChildren(AElement, AOut);
  AOut += "/E\n";
}

std::string Content(xmlNode* ANode) {
  xmlChar* c = xmlNodeGetContent(ANode);
  std::string s = c ? reinterpret_cast<const char*>(c) : "";
  xmlFree(c);
  return s;
}

std::string QName(const xmlChar* AName, xmlNs* ANs) {
  std::string name = reinterpret_cast<const char*>(AName);
  if (ANs && ANs->prefix) return std::string(reinterpret_cast<const char*>(ANs->prefix)) + ":" + name;
  return name;
}

void Lib(xmlNode* ANode, std::string& AOut);

void LibChildren(xmlNode* AFirst, std::string& AOut, std::string* AText) {
  std::string chunk;
  auto flush = [&] {
    if (AText) *AText += TrimXml(chunk);
    chunk.clear();
  };
  for (xmlNode* n = AFirst; n; n = n->next) {
    switch (n->type) {
      case XML_TEXT_NODE: chunk += Content(n); break;
      case XML_ELEMENT_NODE: flush(); Lib(n, AOut); break;
      case XML_COMMENT_NODE: flush(); AOut += "C " + Content(n) + "\n"; break;
      case XML_CDATA_SECTION_NODE: flush(); AOut += "D " + Content(n) + "\n"; break;
      case XML_DTD_NODE: AOut += "DOCTYPE\n"; break;
      default: flush(); AOut += "?\n";
    }
  }
  flush();
}

void Lib(xmlNode* ANode, std::string& AOut) {
  AOut += "E " + QName(ANode->name, ANode->ns) + "\n";
  std::vector<std::string> ns;
  for (xmlNs* d = ANode->nsDef; d; d = d->next)
    ns.push_back("N " + std::string(d->prefix ? reinterpret_cast<const char*>(d->prefix) : "") + "=" +
                 reinterpret_cast<const char*>(d->href));
  std::sort(ns.begin(), ns.end());
  for (const auto& n : ns) AOut += n + "\n";
  for (xmlAttr* a = ANode->properties; a; a = a->next)
    AOut += "A " + QName(a->name, a->ns) + "=" + Content(reinterpret_cast<xmlNode*>(a)) + "\n";
  std::string text, children;
  LibChildren(ANode->children, children, &text);
  if (!text.empty()) AOut += "T " + text + "\n";
  AOut += children + "/E\n";
}

const char* const AcceptedFiles[] = {
    "duck.dae",          "cube_emptyTags.dae",  "cube_xmlspecialchars.dae", "cube_UTF8BOM.dae",
    "cube_UTF16LE.dae",  "anims_with_full_rotations_between_keys.DAE",    "box_nested_animation.dae",
    "box.irr",           "spider.irrmesh",      "test1.amf",                "Mesh.mesh.xml",
    "HelloX3dTrademark.x3d", "emptyIrrMesh.xml", "sample_official.xgl"};

TEST(XmlLibxml2, SameVerdictsAndTreesOnRealFiles) {
  for (const char* name : AcceptedFiles) {
    const TBytes bytes = ReadBytes(DataFile(name));
    ASSERT_FALSE(bytes.empty()) << name;
    TLibDoc lib = LibParse(bytes);
    ASSERT_TRUE(lib) << name;
    TMz_XmlDocument doc;
    doc.loadFromFile(DataFile(name));
    auto* root = dynamic_cast<TMz_XmlElement*>(doc.root());
    ASSERT_NE(root, nullptr) << name;  // a header of its own for files without declaration
    EXPECT_EQ(root->kind(), mzDocument) << name;
    std::string ours, theirs;
    OursChildren(root, ours);
    LibChildren(lib->children, theirs, nullptr);
    EXPECT_TRUE(ours == theirs) << name << "\n--- ours\n" << ours.substr(0, 2000) << "\n--- libxml2\n" << theirs.substr(0, 2000);
  }
  std::string message;
  const TBytes refused = ReadBytes(DataFile("scenegraphAnim.irr"));
  EXPECT_FALSE(LibParse(refused));
  EXPECT_FALSE(OursAccepts(refused, &message));
  EXPECT_EQ(message.rfind("\">\" expected behind \"/\"", 0), 0u) << message;
}

TEST(XmlLibxml2, SavedFilesAreStableAndWellFormed) {
  for (const char* name : AcceptedFiles) {
    TMz_XmlDocument doc;
    doc.loadFromFile(DataFile(name));
    if (!doc.root()) continue;
    if (std::string(name) == "HelloX3dTrademark.x3d") {
      EXPECT_THROW(doc.saveToBytes(true), EMz_XmlStoringError);
      continue;
    }
    const TBytes first = doc.saveToBytes(true);
    TMz_XmlDocument again;
    again.loadFromBytes(first);
    const TBytes second = again.saveToBytes(true);
    TMz_XmlDocument third;
    third.loadFromBytes(second);
    EXPECT_TRUE(third.saveToBytes(true) == second) << name;
    EXPECT_TRUE(first == second) << name;
    EXPECT_TRUE(LibParse(second)) << name;
  }
}

TEST(XmlLibxml2, DamagedFilesAreRefusedByBoth) {
  for (const char* name : AcceptedFiles) {
    const TBytes bytes = ReadBytes(DataFile(name));
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) continue;  // the cuts below assume UTF-8
    const std::string text(bytes.begin(), bytes.end());
    TMz_XmlDocument probe;
    probe.loadFromBytes(bytes);
    auto* root = dynamic_cast<TMz_XmlElement*>(probe.root());
    if (!root) continue;
    TMz_XmlElement* top = nullptr;
    for (TMz_XmlElement* e : *root->nodes())
      if (!top && e->kind() == mzDefault) top = e;
    ASSERT_NE(top, nullptr) << name;
    const size_t start = text.find(std::string("<").append(top->getQualifiedName())) + 1 + top->getQualifiedName().size();
    const size_t last = text.rfind('>');
    for (int k = 0; k < 24; ++k) {
      const size_t cut = start + (last - start) * size_t(k) / 24;
      const TBytes damaged(bytes.begin(), bytes.begin() + std::ptrdiff_t(cut));
      EXPECT_FALSE(LibParse(damaged)) << name << " cut at " << cut;
      EXPECT_FALSE(OursAccepts(damaged)) << name << " cut at " << cut;
    }
    const std::string end = std::string("</").append(top->getQualifiedName()).append(">");
    const size_t at = text.rfind(end);
    ASSERT_NE(at, std::string::npos) << name;
    std::string renamed = text, dropped = text;
    renamed.insert(renamed.begin() + std::ptrdiff_t(at + 2), 'x');
    dropped.erase(at, end.size());
    for (const std::string& d : {renamed, dropped}) {
      const TBytes damaged(d.begin(), d.end());
      EXPECT_FALSE(LibParse(damaged)) << name;
      EXPECT_FALSE(OursAccepts(damaged)) << name;
    }
  }
}

// Where the two differ on purpose: undefined entities stay as text, no ">" in text, attributes
// without value, no processing instructions after the header.
TEST(XmlLibxml2, IntendedDifferences) {
  const std::string h = "<?xml version=\"1.0\"?>";
  const struct {
    const char* What;
    TBytes Bytes;
    bool Ours;
    bool Libxml2;
  } cases[] = {
      {"undefined entity", Bytes(h + "<a>&nbsp;</a>"), true, false},
      {"> in text", Bytes(h + "<a>1 > 0</a>"), false, true},
      {"attribute without value", Bytes(h + "<a b/>"), true, false},
      {"instruction after header", Bytes(h + "<?pi x?><a/>"), false, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(OursAccepts(c.Bytes), c.Ours) << c.What;
    EXPECT_EQ(bool(LibParse(c.Bytes)), c.Libxml2) << c.What;
  }
}

TBytes Utf16(const std::string& AAscii, bool ABigEndian) {
  TBytes out;
  for (char c : AAscii) {
    out.push_back(ABigEndian ? 0 : uint8_t(c));
    out.push_back(ABigEndian ? uint8_t(c) : 0);
  }
  return out;
}

std::string OursTree(const TBytes& ABytes) {
  TMz_XmlDocument doc;
  doc.loadFromBytes(ABytes);
  std::string out;
  if (auto* root = dynamic_cast<TMz_XmlElement*>(doc.root())) OursChildren(root, out);
  return out;
}

std::string LibTree(const TBytes& ABytes) {
  TLibDoc lib = LibParse(ABytes);
  std::string out;
  if (lib) LibChildren(lib->children, out, nullptr);
  return out;
}

// References, documents without declaration and declared encodings give libxml2's trees; an
// encoding neither reads, or bytes the declared one cannot hold, are refused by both.
TEST(XmlLibxml2, ReferencesDeclarationsAndEncodingsGiveTheSameTrees) {
  const std::string h = "<?xml version=\"1.0\"?>";
  const std::string latin = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>";
  const struct {
    const char* What;
    TBytes Bytes;
  } same[] = {
      {"predefined entities", Bytes(h + "<a t=\"&lt;&gt;&amp;&quot;&apos;\">x &lt; y &amp;&amp; z &gt; 0</a>")},
      {"character references", Bytes(h + "<a t=\"&#65;&#x42;\">&#x20AC; &#8364; &#x1F600;</a>")},
      {"references in quotes of the other kind", Bytes(h + "<a t='&apos;\"' u=\"&quot;'\"/>")},
      {"no declaration", Bytes("<a>\n<b x=\"1\">one</b><!-- c --><c/></a>")},
      {"no declaration, comment first", Bytes("<!-- c --><a>t</a>")},
      {"ISO-8859-1", Bytes(latin + "<a t=\"\xE9\xFF\">caf\xE9 \xA3 \xC0</a>")},
      {"latin1 in lower case", Bytes("<?xml version='1.0' encoding='latin1'?><a>\xE9</a>")},
      {"US-ASCII", Bytes("<?xml version=\"1.0\" encoding=\"US-ASCII\"?><a>plain &#233;</a>")},
      {"UTF-8 declared", Bytes("<?xml version=\"1.0\" encoding=\"utf-8\"?><a>\xC3\xA9</a>")},
      {"UTF-16LE without mark", Utf16(h + "<a t=\"1\">x</a>", false)},
      {"UTF-16BE without mark", Utf16(h + "<a t=\"1\">x</a>", true)},
  };
  for (const auto& c : same) {
    ASSERT_TRUE(OursAccepts(c.Bytes)) << c.What;
    ASSERT_TRUE(LibParse(c.Bytes)) << c.What;
    const std::string ours = OursTree(c.Bytes), theirs = LibTree(c.Bytes);
    EXPECT_FALSE(ours.empty()) << c.What;
    EXPECT_EQ(ours, theirs) << c.What;
  }

  std::string message;
  const TBytes unknown = Bytes("<?xml version=\"1.0\" encoding=\"x-no-such-encoding\"?><a/>");
  EXPECT_FALSE(LibParse(unknown));
  EXPECT_FALSE(OursAccepts(unknown, &message));
  EXPECT_EQ(message, "unsupported encoding \"x-no-such-encoding\" [\"\" at 0]");
  const TBytes notAscii = Bytes("<?xml version=\"1.0\" encoding=\"US-ASCII\"?><a>\xE9</a>");
  EXPECT_FALSE(LibParse(notAscii));
  EXPECT_FALSE(OursAccepts(notAscii, &message));
  EXPECT_EQ(message, "character above 127 in a document declared \"US-ASCII\" [\"\" at 45]");
}

// What the writer escapes, libxml2 reads back as the text that was stored, and so do we.
TEST(XmlLibxml2, EscapedTextReadsBackInBoth) {
  const std::string texts[] = {"damage < 5", "a & b", "x > y", "\"quoted\" and 'single'", "&lt; stays text",
                               "tab\there", "line\nend", "\xE2\x82\xAC and &#65; and &unknown;"};
  for (const std::string& text : texts) {
    TMz_XmlDocument doc;
    auto* header = New<TMz_XmlElement>(&doc, nullptr, std::string(), std::string("xml"));
    header->setKind(mzDocument);
    doc.setRoot(header);
    auto* a = New<TMz_XmlElement>(&doc, header, std::string(), std::string("a"));
    a->setAttribute_raw("t", text);
    a->setRawValue(text);
    for (bool pretty : {false, true}) {
      const TBytes saved = doc.saveToBytes(pretty);
      TLibDoc lib = LibParse(saved);
      ASSERT_TRUE(lib) << text;
      xmlNode* e = xmlDocGetRootElement(lib.get());
      ASSERT_NE(e, nullptr);
      EXPECT_EQ(Content(reinterpret_cast<xmlNode*>(e->properties)), text);
      if (text.find('\n') == std::string::npos && text.find('\t') == std::string::npos) {
        EXPECT_EQ(Content(e), text);
      }
      TMz_XmlDocument again;
      again.loadFromBytes(saved);
      auto* back = dynamic_cast<TMz_XmlElement*>(again.root())->find("a");
      ASSERT_NE(back, nullptr);
      EXPECT_EQ(back->attribute_raw("t"), text);
      EXPECT_EQ(back->getRawValue(), text);
    }
  }
}

}  // namespace
}  // namespace quorvel
