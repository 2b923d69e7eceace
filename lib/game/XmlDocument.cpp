#include "lib/game/XmlDocument.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <vector>

#include "framework/rtl/Finally.h"

namespace quorvel {

namespace {

std::string Suffix(const TMz_XmlDocument* ADocument, int64_t APosition) {
  return " [\"" + (ADocument ? ADocument->filename() : std::string()) + "\" at " + IntToStr(APosition) + "]";
}

TMz_XmlNode* CreateElement(TMz_XmlDocument* ADocument, TMz_XmlNode* AParent, const std::string& ANamespace,
                           const std::string& AName) {
  return New<TMz_XmlElement>(ADocument, AParent, ANamespace, AName);
}

std::atomic<TMz_XmlNodeClass> GDefaultNodeClass{&CreateElement};

void AppendCodePointUtf8(std::string& AOut, char32_t ACp) {
  const char16_t units[2] = {char16_t(0xD800 + ((ACp - 0x10000) >> 10)), char16_t(0xDC00 + ((ACp - 0x10000) & 0x3FF))};
  if (ACp < 0x10000) {
    const char16_t unit = char16_t(ACp);
    AppendUtf16AsUtf8(AOut, &unit, 1);
  } else {
    AppendUtf16AsUtf8(AOut, units, 2);
  }
}

// The character a reference stands for ("lt" or "#60" between "&" and ";"), 0 when the text
// is no reference this reader knows: such text stays as it was written.
char32_t ReferenceValue(const char16_t* AName, size_t ALength) {
  const std::u16string_view name(AName, ALength);
  if (name == u"lt") return '<';
  if (name == u"gt") return '>';
  if (name == u"amp") return '&';
  if (name == u"quot") return '"';
  if (name == u"apos") return '\'';
  if (ALength < 2 || name[0] != '#') return 0;
  const bool hex = name[1] == 'x';
  size_t i = hex ? 2 : 1;
  if (i >= ALength) return 0;
  char32_t cp = 0;
  for (; i < ALength; ++i) {
    const char16_t c = name[i];
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (hex && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (hex && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return 0;
    cp = cp * (hex ? 16 : 10) + char32_t(digit);
    if (cp > 0x10FFFF) return 0;
  }
  // NUL, surrogates and the two non-characters the reader uses as marks would not read back.
  if (cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFE || cp == 0xFFFF) return 0;
  return cp;
}

// Appends the UTF-16 text as UTF-8 with its references decoded.
void AppendDecoded(std::string& AOut, const char16_t* AText, size_t ACount) {
  // The longest reference known: "&#x10FFFF;" or "&#1114111;".
  constexpr size_t MaxReference = 9;
  size_t from = 0;
  for (size_t i = 0; i < ACount; ++i) {
    if (AText[i] != '&') continue;
    size_t semi = i + 1;
    while (semi < ACount && semi - i <= MaxReference && AText[semi] != ';' && AText[semi] != '&') ++semi;
    if (semi >= ACount || AText[semi] != ';') continue;
    const char32_t cp = ReferenceValue(AText + i + 1, semi - i - 1);
    if (!cp) continue;
    AppendUtf16AsUtf8(AOut, AText + from, i - from);
    AppendCodePointUtf8(AOut, cp);
    from = semi + 1;
    i = semi;
  }
  AppendUtf16AsUtf8(AOut, AText + from, ACount - from);
}

}  // namespace

TMz_XmlNodeClass Mz_DefaultNodeClass() { return GDefaultNodeClass.load(); }
void Mz_SetDefaultNodeClass(TMz_XmlNodeClass AClass) { GDefaultNodeClass = AClass ? AClass : &CreateElement; }

EMz_XmlParseError::EMz_XmlParseError(const TMz_XmlDocument* ADocument, const TMz_StreamReader* AStream,
                                     std::string_view AMessage)
    : Exception(std::string(AMessage) + Suffix(ADocument, AStream ? AStream->position() : 0)) {}

EMz_XmlParseError EMz_XmlParseError::CreateFmt(const TMz_XmlDocument* ADocument, const TMz_StreamReader* AStream,
                                               std::string_view AMessage, std::initializer_list<TVarRec> AArgs) {
  return EMz_XmlParseError(ADocument, AStream, Format(AMessage, AArgs));
}

EMz_XmlStoringError::EMz_XmlStoringError(const TMz_XmlDocument* ADocument, const TMz_StreamWriter*,
                                         std::string_view AMessage)
    : Exception(std::string(AMessage) + Suffix(ADocument, 0)) {}

EMz_XmlStoringError EMz_XmlStoringError::CreateFmt(const TMz_XmlDocument* ADocument, const TMz_StreamWriter* AStream,
                                                   std::string_view AMessage, std::initializer_list<TVarRec> AArgs) {
  return EMz_XmlStoringError(ADocument, AStream, Format(AMessage, AArgs));
}

// ---------------------------------------------------------------------------------------------
// The parser. The grammar's recursion (a start tag's content holds start tags) runs on an
// explicit stack of open content loops, so nesting is bounded by MaxNestingDepth only.

class TMz_XmlParser {
public:
  TMz_XmlParser(TMz_XmlDocument& ADocument, TMz_StreamReader& AReader)
      : Doc(ADocument), Reader(AReader), Text(AReader.BufferedData()), Size(int64_t(Text.size())) {}

  void Parse();
  // After a failure: frees what the parser made that hangs in no tree.
  void Discard();

private:
  static constexpr int EndOfData = 0xFFFF;
  enum class TStep { Continue, Ended, Opened };
  struct TFrame {
    TMz_XmlNode* Node;
    bool Header;
    bool Unlinked;  // made by the parser outside any tree: freed when its step ends
  };

  static bool IsBlank(int c) { return c == 8 || c == 9 || c == 10 || c == 13 || c == 32; }
  static bool IsTokenChar(int c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           c == '.';
  }

  int Read() {
    if (Size == 0) return EndOfData;
    const int64_t at = Reader.position();
    Reader.setPosition(at + 1);
    return at >= 0 && at < Size ? Text[size_t(at)] : EndOfData;
  }
  int Current() const {
    const int64_t at = Reader.position();
    return at >= 0 && at < Size ? Text[size_t(at)] : EndOfData;
  }
  void Back() { Reader.revert(1); }
  bool AtEnd() const { return Reader.position() >= Size; }

  [[noreturn]] void Fail(std::string_view AMessage) { throw EMz_XmlParseError(&Doc, &Reader, AMessage); }
  [[noreturn]] void Fail(std::string_view AMessage, std::initializer_list<TVarRec> AArgs) {
    throw EMz_XmlParseError::CreateFmt(&Doc, &Reader, AMessage, AArgs);
  }

  std::string Slice(int64_t AFrom, int64_t ATo) const {
    std::string out;
    if (ATo > AFrom) AppendUtf16AsUtf8(out, Text.data() + AFrom, size_t(ATo - AFrom));
    return out;
  }
  // The same with references decoded (attribute values and element text).
  std::string DecodedSlice(int64_t AFrom, int64_t ATo) const {
    std::string out;
    if (ATo > AFrom) AppendDecoded(out, Text.data() + AFrom, size_t(ATo - AFrom));
    return out;
  }
  // A document without declaration gets a header of its own, so its element is kept.
  TMz_XmlNode* ImplicitHeader();

  std::string ReadToken();
  void ReadName(std::string& APrefix, std::string& AName);
  // Up to the terminator (a DOCTYPE's single ">" too; text stops at 0, "<" and ">", see
  // ReadText); not found: empty, the reader at the end.
  std::string ReadUntilText(std::u16string_view ATerminator);
  std::string ReadQuotedValue();
  void ReadAttributeValue(TMz_XmlAttribute* AAttr, bool ANamespace);
  bool ReadTagAttributes(TMz_XmlNode* ANode);
  TStep ReadMarkup(TMz_XmlNode* AParent);
  void ReadText(TMz_XmlNode* ANode);
  void FinishStartTag(TMz_XmlNode* ANode);
  // The node from onCreateNode, else from the default node class with the kind set.
  TMz_XmlNode* CreateNode(TMz_XmlNode* AParent, const std::string& APrefix, const std::string& AName,
                          TMz_XmlNodeKind AKind, bool& AMadeHere);
  // Whether a node the parser made hangs in no tree (its parent holds nothing for it).
  static bool IsUnlinked(TMz_XmlNode* ANode) { return dynamic_cast<TMz_XmlElement*>(ANode->parent()) == nullptr; }
  void DiscardNode(TMz_XmlNode* ANode);

  TMz_XmlDocument& Doc;
  TMz_StreamReader& Reader;
  const std::u16string& Text;
  const int64_t Size;
  std::vector<TFrame> Frames;
  int Depth = 0;  // open start tags
  // Nodes made here outside any tree that are still alive (freed by Discard after a failure).
  std::vector<TMz_XmlNode*> Loose;
};

std::string TMz_XmlParser::ReadToken() {
  int64_t at = Reader.position();
  while (at < Size && IsBlank(Text[size_t(at)])) ++at;
  Reader.setPosition(std::max(at, Reader.position()));
  if (at >= Size || Text[size_t(at)] == 0) return {};
  if (!IsTokenChar(Text[size_t(at)])) {
    Reader.setPosition(at + 1);
    Fail("invalid character for token");
  }
  const int64_t start = at;
  while (at < Size && IsTokenChar(Text[size_t(at)])) ++at;
  Reader.setPosition(at);
  std::string token(size_t(at - start), '\0');
  for (int64_t i = start; i < at; ++i) token[size_t(i - start)] = static_cast<char>(Text[size_t(i)]);
  return token;
}

void TMz_XmlParser::ReadName(std::string& APrefix, std::string& AName) {
  APrefix.clear();
  AName = ReadToken();
  if (Current() == ':') {
    APrefix = std::move(AName);
    Reader.setPosition(Reader.position() + 1);
    AName = ReadToken();
  }
}

std::string TMz_XmlParser::ReadUntilText(std::u16string_view ATerminator) {
  const int64_t start = Reader.position();
  if (start < 0 || start >= Size) return {};
  const size_t found = std::u16string_view(Text).find(ATerminator, size_t(start));
  if (found == std::u16string_view::npos) {
    Reader.setPosition(Size);
    return {};
  }
  Reader.setPosition(int64_t(found));
  return Slice(start, int64_t(found));
}

std::string TMz_XmlParser::ReadQuotedValue() {
  int64_t at = Reader.position();
  while (at < Size && IsBlank(Text[size_t(at)])) ++at;
  Reader.setPosition(std::max(at, Reader.position()));
  if (at >= Size || Text[size_t(at)] == 0) return {};
  const char16_t mark = Text[size_t(at)];
  if (mark != '"' && mark != '\'') {
    Reader.setPosition(at + 1);
    Fail("invalid character");
  }
  const int64_t start = at + 1;
  const size_t close = std::u16string_view(Text).find(mark, size_t(start));
  if (close == std::u16string_view::npos) {
    Reader.setPosition(Size);
    return {};
  }
  Reader.setPosition(int64_t(close) + 1);
  return DecodedSlice(start, int64_t(close));
}

void TMz_XmlParser::ReadAttributeValue(TMz_XmlAttribute* AAttr, bool ANamespace) {
  while (!AtEnd()) {
    const int c = Read();
    if (c == 0) Fail("unexpected end of data (#0)");
    if (IsBlank(c)) continue;
    if (c == '/' || c == '>') {
      Back();
      return;
    }
    if (c == '=') {
      AAttr->setRawValue(ReadQuotedValue());
      return;
    }
    if (c == EndOfData) Fail("unexpected end of data (#$FFFF)");
    if (ANamespace) Fail("invalid character while parsing namespace \"%s\"", {AAttr->getQualifiedName()});
    Fail("invalid character while parsing attribute \"%s\"", {AAttr->getQualifiedName()});
  }
}

bool TMz_XmlParser::ReadTagAttributes(TMz_XmlNode* ANode) {
  while (!AtEnd()) {
    const int c = Read();
    if (c == '/') {
      ANode->setClosed(true);
      if (Read() == '>') return false;
      Fail("\">\" expected behind \"/\"");
    }
    if (c == 0) Fail("unexpected end of data (#0)");
    if (IsBlank(c)) continue;
    if (c == '>') return true;
    if (c == '?') {
      if (ANode->kind() != mzDocument && ANode->kind() != mzStylesheet)
        Fail("invalid charater \"?\" - only allowed for xml header tag");
      if (Read() == '>') return true;
      Fail("invalid charater - \">\" expected behind \"?\"");
    }
    if (c == EndOfData) Fail("unexpected end of data (#$FFFF)");

    Back();
    std::string prefix, name;
    ReadName(prefix, name);
    if (name.empty()) {
      if (prefix.empty()) Fail("missing attribute name - invalid character found");
      Fail("incomplete namespace declaration \"%s\" for attribute name", {prefix});
    }
    if (prefix == "xmlns") {
      auto* element = dynamic_cast<TMz_XmlElement*>(ANode);
      if (!element)
        Fail("failed to define namespace in none element node \"" + ANode->getQualifiedName() + "\"");
      auto* ns = New<TMz_XmlNamespace>(&Doc, element, std::string(), name);
      try {
        element->addNamespace(ns);
        ReadAttributeValue(ns, true);
      } catch (...) {
        DiscardNode(ns);
        throw;
      }
      continue;
    }
    TMz_XmlNode* offered = nullptr;
    if (Doc.fOnCreateNode) Doc.fOnCreateNode(&Doc, &Reader, ANode, prefix, name, mzAttribute, offered);
    const bool madeHere = offered == nullptr;
    TMz_XmlNode* attr = offered;
    try {
      if (madeHere) {
        auto* made = New<TMz_XmlAttribute>(&Doc, ANode, prefix, name);
        attr = made;
        ReadAttributeValue(made, false);
      }
      if (!prefix.empty() && !attr->defined(prefix))
        Fail("namespace \"%s\" not defined for attribute \"%s\"", {prefix, name});
    } catch (...) {
      DiscardNode(attr);
      throw;
    }
    // An attribute of a node that is no element has no home.
    if (madeHere && IsUnlinked(attr)) DiscardNode(attr);
  }
  return false;
}

TMz_XmlNode* TMz_XmlParser::CreateNode(TMz_XmlNode* AParent, const std::string& APrefix, const std::string& AName,
                                       TMz_XmlNodeKind AKind, bool& AMadeHere) {
  TMz_XmlNode* node = nullptr;
  if (Doc.fOnCreateNode) Doc.fOnCreateNode(&Doc, &Reader, AParent, APrefix, AName, AKind, node);
  AMadeHere = node == nullptr;
  if (node) return node;
  node = Mz_DefaultNodeClass()(&Doc, AParent, APrefix, AName);
  node->setKind(AKind);
  return node;
}

void TMz_XmlParser::DiscardNode(TMz_XmlNode* ANode) {
  if (!ANode) return;
  std::erase(Loose, ANode);
  if (ANode == Doc.fRoot) Doc.fRoot = nullptr;
  Mz_FreeTree(ANode);
}

void TMz_XmlParser::FinishStartTag(TMz_XmlNode* ANode) {
  const std::string& prefix = ANode->getNamespace();
  if (!prefix.empty() && !ANode->defined(prefix))
    Fail("namespace \"%s\" not defined for tag \"%s\"", {prefix, ANode->name()});
  if (!ANode->closed()) Fail("tag \"%s\" not closed", {ANode->getQualifiedName()});
}

TMz_XmlParser::TStep TMz_XmlParser::ReadMarkup(TMz_XmlNode* AParent) {
  ++Doc.fNodeCount;
  const int c = Read();
  if (c == '/') {
    auto* parent = dynamic_cast<TMz_XmlElement*>(AParent);
    if (!parent) Fail("parent node is not a xml element");
    std::string prefix, name;
    ReadName(prefix, name);
    if (!parent->equals(prefix, name))
      Fail("failed to close tag \"%s\" - closing tag \"%s\" found instead", {parent->name(), name});
    if (Read() != '>') Fail("invalid character in closing tag %s", {name});
    parent->setClosed(true);
    return TStep::Ended;
  }
  if (c == 0 || c == EndOfData) return TStep::Continue;
  if (c == '!') {
    const int next = Read();
    if (!AParent && (next == '-' || next == 'D' || next == 'd' || next == '[')) AParent = ImplicitHeader();
    TMz_XmlNode* node = nullptr;
    bool madeHere = false;
    try {
      if (next == '-') {
        if (Read() != '-') Fail("\"<!--\" expected for valid comment, but \"<!-\" found");
        node = CreateNode(AParent, {}, "COMMENT", mzComment, madeHere);
        node->setRawValue(ReadUntilText(u"-->"));
        if (Read() != '-') Fail("invalid character found - \"-\" expected");
        if (Read() != '-') Fail("invalid character found - \"-\" expected");
        if (Read() != '>') Fail("invalid character found - \">\" expected");
      } else if (next == 'D' || next == 'd') {
        // Appended, not prepended: GCC 12 at -O3 warns falsely (-Wrestrict) on "D" + temporary.
        std::string token = "D";
        token += ReadToken();
        if (UpperCase(token) != "DOCTYPE")
          Fail("\"<!DOCTYPE\" expected for valid doctype-definition, but \"<!D?\" found");
        node = CreateNode(AParent, {}, "DOCTYPE", mzDocType, madeHere);
        node->setRawValue(ReadUntilText(u">"));
        if (Read() != '>') Fail("invalid character found - \">\" expected");
      } else if (next == '[') {
        const std::string token = ReadToken();
        if (token != "CDATA") Fail("invalid character - \"CDATA[\" expected behind \"<![\"");
        if (Read() != '[') Fail("invalid character - \"[\" expected behind \"<![CDATA\"");
        node = CreateNode(AParent, {}, token, mzData, madeHere);
        node->setRawValue(ReadUntilText(u"]]>"));
        if (Read() != ']') Fail("invalid character found - \"]\" expected");
        if (Read() != ']') Fail("invalid character found - \"]\" expected");
        if (Read() != '>') Fail("invalid character found - \">\" expected");
      } else {
        return TStep::Continue;
      }
      node->setClosed(true);
    } catch (...) {
      if (madeHere) DiscardNode(node);
      throw;
    }
    if (madeHere && IsUnlinked(node)) DiscardNode(node);  // a factory's node outside any tree
    return TStep::Continue;
  }
  if (c == '?') {
    const std::string name = ReadToken();
    if (Current() == ':') {
      Reader.setPosition(Reader.position() + 1);
      Fail("namespace declaration not allowed for xml core node");
    }
    if (name != "xml" && name != "xml-stylesheet") Fail("xml header expected");
    if (Doc.fRoot) Fail("xml header already exist");
    const TMz_XmlNodeKind kind = name == "xml-stylesheet" ? mzStylesheet : mzDocument;
    TMz_XmlNode* root = nullptr;
    if (Doc.fOnCreateNode) Doc.fOnCreateNode(&Doc, &Reader, AParent, {}, name, kind, root);
    if (!root) {
      root = Mz_DefaultNodeClass()(&Doc, nullptr, {}, name);
      root->setKind(kind);
    }
    Doc.fRoot = root;
    if (ReadTagAttributes(root)) {
      Frames.push_back({root, true, false});
      return TStep::Opened;
    }
    return TStep::Ended;
  }

  // A start tag.
  Back();
  std::string prefix, name;
  ReadName(prefix, name);
  if (name.empty()) {
    if (prefix.empty()) Fail("invalid char in tag name");
    Fail("incomplete namespace declaration \"%s\" for tag name", {prefix});
  }
  if (!AParent) AParent = ImplicitHeader();
  if (Depth >= TMz_XmlDocument::MaxNestingDepth)
    Fail("maximum nesting depth of %d exceeded", {TMz_XmlDocument::MaxNestingDepth});
  bool madeHere = false;
  TMz_XmlNode* node = CreateNode(AParent, prefix, name, mzDefault, madeHere);
  const bool unlinked = madeHere && IsUnlinked(node);
  if (unlinked) Loose.push_back(node);
  try {
    if (ReadTagAttributes(node)) {
      Frames.push_back({node, false, unlinked});
      ++Depth;
      return TStep::Opened;
    }
    FinishStartTag(node);
  } catch (...) {
    if (madeHere) DiscardNode(node);
    throw;
  }
  if (unlinked) DiscardNode(node);
  return TStep::Continue;
}

TMz_XmlNode* TMz_XmlParser::ImplicitHeader() {
  if (Doc.fRoot) Fail("xml header already exist");
  TMz_XmlNode* root = Mz_DefaultNodeClass()(&Doc, nullptr, {}, "xml");
  root->setKind(mzDocument);
  Doc.fRoot = root;
  Frames.push_back({root, true, false});
  return root;
}

void TMz_XmlParser::ReadText(TMz_XmlNode* ANode) {
  if (ANode && ANode->closed()) Fail("invalid character found");
  if (!dynamic_cast<TMz_XmlElement*>(ANode)) Fail("node values only allowed for element nodes");
  Back();
  int64_t from = Reader.position();
  if (from >= Size) return;
  int64_t to = from;
  while (to < Size) {
    const char16_t c = Text[size_t(to)];
    if (c == 0 || c == '<' || c == '>' || c == EndOfData) break;
    ++to;
  }
  Reader.setPosition(to);
  while (from < to && IsBlank(Text[size_t(from)])) ++from;
  while (to > from && IsBlank(Text[size_t(to - 1)])) --to;
  if (to > from) AppendDecoded(ANode->fValue, Text.data() + from, size_t(to - from));
}

void TMz_XmlParser::Parse() {
  Frames.push_back({nullptr, false, false});
  while (!Frames.empty()) {
    TMz_XmlNode* node = Frames.back().Node;
    const int c = Read();
    bool ended = false;
    if (c == 0 || c == EndOfData) {
      ended = true;
    } else if (IsBlank(c)) {
      continue;
    } else if (c == '<') {
      const TStep step = ReadMarkup(node);
      if (step != TStep::Ended) continue;
      ended = true;
    } else if (c == '>') {
      Fail("invalid character \">\" found");
    } else {
      ReadText(node);
    }
    if (!ended) continue;
    // The content loop of `node` ended; finish the markup steps that opened it. A header's
    // step ends its parent's loop as well.
    for (;;) {
      const TFrame done = Frames.back();
      Frames.pop_back();
      if (Frames.empty() || done.Header) {
        if (Frames.empty()) return;
        continue;
      }
      --Depth;
      try {
        FinishStartTag(done.Node);
      } catch (...) {
        DiscardNode(done.Node);
        throw;
      }
      if (done.Unlinked) DiscardNode(done.Node);
      break;
    }
  }
}

void TMz_XmlParser::Discard() {
  // Open frames belong to these trees or to the root the caller frees.
  std::vector<TMz_XmlNode*> loose = std::move(Loose);
  for (auto it = loose.rbegin(); it != loose.rend(); ++it) Mz_FreeTree(*it);
}

// ---------------------------------------------------------------------------------------------
// TMz_XmlDocument

TMz_XmlDocument::TMz_XmlDocument() : fFormat(TFormatSettings::Create("en-US")) {}

TMz_XmlDocument::~TMz_XmlDocument() {
  Quietly("TMz_XmlDocument: freeing the root", [&] { Mz_FreeTree(std::exchange(fRoot, nullptr)); });
}

void TMz_XmlDocument::setRoot(TMz_XmlNode* AValue) {
  if (AValue != fRoot) Mz_FreeTree(std::exchange(fRoot, AValue));
}

TMz_XmlNode* TMz_XmlDocument::extractRoot() { return std::exchange(fRoot, nullptr); }

namespace {

std::string AsciiUpper(std::string AText) {
  for (char& c : AText)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return AText;
}

// The encoding named in the declaration at the text's start, "" when none is named. The
// declaration is read as name="value" pairs up to its "?>", so neither the word "encoding"
// nor a "?>" inside another value is taken for the encoding's.
std::string DeclaredEncoding(const std::u16string& AText) {
  const std::u16string_view text(AText);
  if (text.substr(0, 5) != u"<?xml" || text.size() < 6 || text[5] > ' ') return {};
  size_t i = 5;
  auto skipBlanks = [&] {
    while (i < text.size() && text[i] <= ' ') ++i;
  };
  for (;;) {
    skipBlanks();
    if (i >= text.size() || text[i] == '?' || text[i] == '>') return {};
    const size_t nameStart = i;
    while (i < text.size() && text[i] > ' ' && text[i] != '=' && text[i] != '?' && text[i] != '>') ++i;
    const std::u16string_view name = text.substr(nameStart, i - nameStart);
    skipBlanks();
    if (i >= text.size() || text[i] != '=') return {};
    ++i;
    skipBlanks();
    if (i >= text.size() || (text[i] != '"' && text[i] != '\'')) return {};
    const size_t close = text.find(text[i], i + 1);
    if (close == std::u16string_view::npos) return {};
    if (name == u"encoding") return Utf16ToUtf8(text.substr(i + 1, close - i - 1));
    i = close + 1;
  }
}

enum class TDeclaredEncoding { Unicode, Ascii, Latin1, Other };

TDeclaredEncoding ClassifyEncoding(const std::string& AName) {
  const std::string name = AsciiUpper(AName);
  if (name.empty() || name == "UTF-8" || name == "UTF8" || name == "UTF-16" || name == "UTF16" || name == "UTF-16LE" ||
      name == "UTF-16BE")
    return TDeclaredEncoding::Unicode;
  if (name == "US-ASCII" || name == "ASCII" || name == "ANSI_X3.4-1968" || name == "ISO646-US")
    return TDeclaredEncoding::Ascii;
  if (name == "ISO-8859-1" || name == "ISO8859-1" || name == "ISO_8859-1" || name == "LATIN1" || name == "LATIN-1" ||
      name == "L1" || name == "ISO-IR-100" || name == "CP819" || name == "IBM819")
    return TDeclaredEncoding::Latin1;
  return TDeclaredEncoding::Other;
}

TBytes ReadWholeStream(TStream* AStream) {
  AStream->SetPosition(0);
  TBytes bytes;
  const int64_t size = AStream->GetSize();
  if (size > 0) bytes.reserve(size_t(size));
  uint8_t block[65536];
  for (int64_t got; (got = AStream->Read(block, sizeof block)) > 0;) bytes.insert(bytes.end(), block, block + got);
  return bytes;
}

}  // namespace

void TMz_XmlDocument::loadFromStream(TStream* AStream) {
  // UTF-16 without a byte-order mark shows itself by the "<?" of its declaration.
  uint8_t head[4] = {};
  AStream->SetPosition(0);
  const int64_t headSize = AStream->Read(head, 4);
  const TEncoding* encoding = &TEncoding::UTF8();
  bool detectBOM = true;
  if (headSize == 4 && head[0] == '<' && head[1] == 0 && head[2] == '?' && head[3] == 0) {
    encoding = &TEncoding::Unicode();
    detectBOM = false;
  } else if (headSize == 4 && head[0] == 0 && head[1] == '<' && head[2] == 0 && head[3] == '?') {
    encoding = &TEncoding::BigEndianUnicode();
    detectBOM = false;
  }
  const bool eightBit = detectBOM && !(headSize >= 2 && ((head[0] == 0xFF && head[1] == 0xFE) ||
                                                          (head[0] == 0xFE && head[1] == 0xFF)));
  const bool utf8Mark = headSize >= 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF;
  TMz_StreamReader reader(AStream, encoding, detectBOM, TMz_StreamReader::DefaultBufferSize);
  AStream->SetPosition(0);
  reader.FillAll();

  // The declared encoding decides how bytes without a mark are read; a mark wins over it.
  std::unique_ptr<TBytesStream> latin1;
  std::unique_ptr<TMz_StreamReader> latin1Reader;
  TMz_StreamReader* source = &reader;
  const std::string declared = DeclaredEncoding(reader.BufferedData());
  switch (ClassifyEncoding(declared)) {
    case TDeclaredEncoding::Unicode: break;
    case TDeclaredEncoding::Ascii:
      if (eightBit && !utf8Mark) {
        const std::u16string& text = reader.BufferedData();
        for (size_t i = 0; i < text.size(); ++i)
          if (text[i] > 0x7F)
            throw EMz_XmlParseError("character above 127 in a document declared \"" + declared + "\"" +
                                    Suffix(this, int64_t(i) + 1));
      }
      break;
    case TDeclaredEncoding::Latin1:
      if (eightBit && !utf8Mark) {
        // Every byte is the code point of the same number; read again as that text in UTF-8.
        const TBytes bytes = ReadWholeStream(AStream);
        std::string utf8;
        utf8.reserve(bytes.size() + bytes.size() / 8);
        for (uint8_t b : bytes) {
          if (b < 0x80) {
            utf8 += char(b);
          } else {
            utf8 += char(0xC0 | (b >> 6));
            utf8 += char(0x80 | (b & 0x3F));
          }
        }
        latin1 = std::make_unique<TBytesStream>(TBytes(utf8.begin(), utf8.end()));
        latin1Reader = std::make_unique<TMz_StreamReader>(latin1.get(), &TEncoding::UTF8(), false,
                                                          TMz_StreamReader::DefaultBufferSize);
        latin1Reader->FillAll();
        source = latin1Reader.get();
      }
      break;
    case TDeclaredEncoding::Other:
      throw EMz_XmlParseError("unsupported encoding \"" + declared + "\"" + Suffix(this, 0));
  }

  TMz_XmlNode* const before = fRoot;
  TMz_XmlParser parser(*this, *source);
  try {
    parser.Parse();
  } catch (...) {
    parser.Discard();
    if (fRoot != before) Mz_FreeTree(std::exchange(fRoot, before));
    throw;
  }
  // The tree holds Unicode text and is saved as UTF-8: a declaration still naming an 8-bit
  // encoding would make the saved bytes read back as other characters.
  const TDeclaredEncoding kind = ClassifyEncoding(declared);
  if (eightBit && !utf8Mark && (kind == TDeclaredEncoding::Latin1 || kind == TDeclaredEncoding::Ascii))
    if (auto* header = dynamic_cast<TMz_XmlElement*>(fRoot))
      if (!header->attribute_raw("encoding").empty()) header->setAttribute_raw("encoding", "UTF-8");
}

void TMz_XmlDocument::loadFromString(std::string_view AData) {
  TBytesStream stream(TBytes(AData.begin(), AData.end()));
  loadFromStream(&stream);
}

void TMz_XmlDocument::loadFromBytes(const TBytes& AData) {
  TBytesStream stream(AData);
  loadFromStream(&stream);
}

void TMz_XmlDocument::loadFromFile(const std::string& AFilename) {
  TOwned<TFileStream> stream(New<TFileStream>(AFilename, uint16_t(fmOpenRead | fmShareDenyNone)));
  fFilename = AFilename;
  loadFromStream(stream.get());
}

void TMz_XmlDocument::saveToStream(TStream* AStream, bool ABeautify) {
  if (!AStream || !fRoot) return;
  TMz_StreamWriter writer(AStream, ABeautify);
  fRoot->toStream(writer);
  writer.flush();
  // A reused, longer stream would keep the old tail after the root and no longer load.
  const int64_t end = int64_t(writer.Text().size());
  if (AStream->GetSize() > end) AStream->SetSize(end);
}

std::string TMz_XmlDocument::saveToString(bool ABeautify) {
  TBytes bytes = saveToBytes(ABeautify);
  return std::string(bytes.begin(), bytes.end());
}

TBytes TMz_XmlDocument::saveToBytes(bool ABeautify) {
  TBytesStream stream;
  saveToStream(&stream, ABeautify);
  TBytes bytes = stream.GetBytes();
  bytes.resize(size_t(stream.GetSize()));
  return bytes;
}

void TMz_XmlDocument::saveToFile(const std::string& AFilename, bool ABeautify) {
  // Named first, so that a storing error names the file; serialised before the file is touched.
  fFilename = AFilename;
  Mz_ReplaceFile(AFilename, saveToBytes(ABeautify));
}

void Mz_ReplaceFile(const std::string& AFilename, const TBytes& AData) {
  static std::atomic<uint32_t> serial{0};
  const std::string temp = AFilename + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(++serial);
  bool done = false;
  auto cleanup = Finally([&] {
    if (!done) std::remove(temp.c_str());
  });
  {
    TFileStream file(temp, uint16_t(fmCreate | fmShareDenyNone));
    if (!AData.empty()) file.WriteBuffer(AData.data(), int64_t(AData.size()));
  }
  if (std::rename(temp.c_str(), AFilename.c_str()) != 0)
    throw EFCreateError("Cannot create file \"" + AFilename + "\".");
  done = true;
}

}  // namespace quorvel
