#include "lib/game/XmlDocument.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <cstdio>
#include <memory>
#include <type_traits>
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

// The parser reads UTF-16 units, or UTF-8 bytes that hold no character outside the BMP (see
// Utf8Readable): then every character is one unit either way, and markup is ASCII.
void AppendText(std::string& AOut, const char16_t* AText, size_t ACount) { AppendUtf16AsUtf8(AOut, AText, ACount); }
void AppendText(std::string& AOut, const char* AText, size_t ACount) { AOut.append(AText, ACount); }

// The character a reference stands for ("lt" or "#60" between "&" and ";"), 0 when the text
// is no reference this reader knows: such text stays as it was written.
template <class TChar>
char32_t ReferenceValue(const TChar* AName, size_t ALength) {
  const auto is = [&](std::string_view AWord) {
    if (ALength != AWord.size()) return false;
    for (size_t i = 0; i < ALength; ++i)
      if (char32_t(AName[i]) != char32_t(AWord[i])) return false;
    return true;
  };
  if (is("lt")) return '<';
  if (is("gt")) return '>';
  if (is("amp")) return '&';
  if (is("quot")) return '"';
  if (is("apos")) return '\'';
  if (ALength < 2 || AName[0] != '#') return 0;
  const bool hex = AName[1] == 'x';
  size_t i = hex ? 2 : 1;
  if (i >= ALength) return 0;
  char32_t cp = 0;
  for (; i < ALength; ++i) {
    const TChar c = AName[i];
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

// Appends the text as UTF-8 with its references decoded.
template <class TChar>
void AppendDecoded(std::string& AOut, const TChar* AText, size_t ACount) {
  // The longest reference known: "&#x10FFFF;" or "&#1114111;". A reference is ASCII, so
  // counting bytes or units finds the same ones.
  constexpr size_t MaxReference = 9;
  size_t from = 0;
  const TChar* amp;
  for (size_t i = 0; i < ACount; ++i) {
    if constexpr (sizeof(TChar) == 1) {
      amp = static_cast<const TChar*>(std::memchr(AText + i, '&', ACount - i));
      if (!amp) break;
      i = size_t(amp - AText);
    } else if (AText[i] != '&') {
      continue;
    }
    size_t semi = i + 1;
    while (semi < ACount && semi - i <= MaxReference && AText[semi] != ';' && AText[semi] != '&') ++semi;
    if (semi >= ACount || AText[semi] != ';') continue;
    const char32_t cp = ReferenceValue(AText + i + 1, semi - i - 1);
    if (!cp) continue;
    AppendText(AOut, AText + from, i - from);
    AppendCodePointUtf8(AOut, cp);
    from = semi + 1;
    i = semi;
  }
  AppendText(AOut, AText + from, ACount - from);
}

// Whether the parser may read these UTF-8 bytes as they are: every sequence well formed (no
// replacement character would stand in for one), none outside the BMP and no U+FFFF, the
// reader's end-of-data mark. Anything else is read as UTF-16 text.
bool Utf8Readable(const uint8_t* p, size_t n) {
  size_t i = 0;
  while (i < n) {
    if (i + 8 <= n) {
      uint64_t block;
      std::memcpy(&block, p + i, 8);
      if ((block & 0x8080808080808080ull) == 0) {
        i += 8;
        continue;
      }
    }
    const uint8_t b = p[i];
    if (b < 0x80) {
      ++i;
    } else if (b >= 0xC2 && b <= 0xDF) {
      if (i + 1 >= n || (p[i + 1] & 0xC0) != 0x80) return false;
      i += 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
      if (i + 2 >= n || (p[i + 1] & 0xC0) != 0x80 || (p[i + 2] & 0xC0) != 0x80) return false;
      const char32_t cp = char32_t(b & 0x0F) << 12 | char32_t(p[i + 1] & 0x3F) << 6 | (p[i + 2] & 0x3F);
      if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFF) return false;
      i += 3;
    } else {
      return false;
    }
  }
  return true;
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
//
// It reads UTF-16 units from a reader's decoded text, or UTF-8 bytes as they are (no handler
// to hand a reader to, and Utf8Readable holds). A byte read takes its whole character, so
// both see the same characters at the same steps; positions in messages count UTF-16 units.

template <class TChar>
class TMz_XmlParser {
public:
  // AReader (the source of AText) goes to the onCreateNode handler; UTF-16 text only.
  TMz_XmlParser(TMz_XmlDocument& ADocument, const TChar* AText, size_t ASize, TMz_StreamReader* AReader)
      : Doc(ADocument), Reader(AReader), Text(AText), Size(int64_t(ASize)) {}

  void Parse();
  // After a failure: frees what the parser made that hangs in no tree.
  void Discard();

private:
  static constexpr bool Bytes = sizeof(TChar) == 1;
  static constexpr int EndOfData = 0xFFFF;
  enum class TStep { Continue, Ended, Opened };
  struct TFrame {
    TMz_XmlNode* Node;
    bool Header;
    bool Unlinked;  // made by the parser outside any tree: freed when its step ends
  };

  static bool IsBlank(int c) { return c == 8 || c == 9 || c == 10 || c == 13 || c == 32; }
  static bool IsTokenChar(int c) {
    static constexpr auto Table = [] {
      std::array<bool, 128> table{};
      for (int i = 0; i < 128; ++i)
        table[size_t(i)] = (i >= 'A' && i <= 'Z') || (i >= 'a' && i <= 'z') || (i >= '0' && i <= '9') || i == '_' ||
                           i == '-' || i == '.';
      return table;
    }();
    return c >= 0 && c < 128 && Table[size_t(c)];
  }
  static int SequenceLength(int ALead) { return ALead < 0xE0 ? 2 : 3; }

  int Unit(int64_t AIndex) const { return int(std::make_unsigned_t<TChar>(Text[size_t(AIndex)])); }
  int Read() {
    if (Size == 0) return EndOfData;
    const int64_t at = Pos;
    if (at < 0 || at >= Size) {
      Pos = at + 1;
      return EndOfData;
    }
    const int c = Unit(at);
    Pos = at + (Bytes && c >= 0x80 ? SequenceLength(c) : 1);
    return c;
  }
  int Current() const { return Pos >= 0 && Pos < Size ? Unit(Pos) : EndOfData; }
  // One character back.
  void Back() {
    if (Pos <= 0) throw Exception("invalid internal index revert");
    --Pos;
    if constexpr (Bytes)
      while (Pos > 0 && Pos < Size && (Unit(Pos) & 0xC0) == 0x80) --Pos;
  }
  bool AtEnd() const { return Pos >= Size; }
  // The position in UTF-16 units.
  int64_t UnitPosition() const {
    if constexpr (!Bytes) {
      return Pos;
    } else {
      const int64_t end = std::clamp<int64_t>(Pos, 0, Size);
      int64_t units = Pos - end;
      for (int64_t i = 0; i < end; ++i) units += (Unit(i) & 0xC0) != 0x80;
      return units;
    }
  }

  [[noreturn]] void Fail(std::string_view AMessage) {
    throw EMz_XmlParseError(std::string(AMessage) + Suffix(&Doc, UnitPosition()));
  }
  [[noreturn]] void Fail(std::string_view AMessage, std::initializer_list<TVarRec> AArgs) {
    throw EMz_XmlParseError(Format(AMessage, AArgs) + Suffix(&Doc, UnitPosition()));
  }
  // Offers a node to the document's handler, with the reader at the parser's position.
  void Offer(TMz_XmlNode* ACurrent, const std::string& APrefix, const std::string& AName, TMz_XmlNodeKind AKind,
             TMz_XmlNode*& ANode) {
    if (!Doc.fOnCreateNode) return;
    if (!Reader) throw Exception("node handler without a reader");
    Reader->setPosition(Pos);
    Doc.fOnCreateNode(&Doc, Reader, ACurrent, APrefix, AName, AKind, ANode);
    Pos = Reader->position();
  }

  std::string Slice(int64_t AFrom, int64_t ATo) const {
    std::string out;
    if (ATo > AFrom) AppendText(out, Text + AFrom, size_t(ATo - AFrom));
    return out;
  }
  // The first AChar at or after AFrom, or Size.
  int64_t Find(TChar AChar, int64_t AFrom) const {
    if constexpr (Bytes) {
      const void* at = std::memchr(Text + AFrom, AChar, size_t(Size - AFrom));
      return at ? static_cast<const TChar*>(at) - Text : Size;
    } else {
      const size_t at = std::basic_string_view<TChar>(Text, size_t(Size)).find(AChar, size_t(AFrom));
      return at == std::basic_string_view<TChar>::npos ? Size : int64_t(at);
    }
  }
  // A document without declaration gets a header of its own, so its element is kept.
  TMz_XmlNode* ImplicitHeader();

  std::string ReadToken();
  void ReadName(std::string& APrefix, std::string& AName);
  // Up to the ASCII terminator (a DOCTYPE's single ">" too; text stops at 0, "<" and ">", see
  // ReadText); not found: empty, the reader at the end.
  std::string ReadUntilText(std::string_view ATerminator);
  // Appends the value with its references decoded.
  void ReadQuotedValue(std::string& AOut);
  // Appends the value after "=" to AOut; false when the attribute had none. The names are
  // the attribute's (or declaration's) for messages.
  bool ReadAttributeValue(std::string_view APrefix, std::string_view AName, bool ANamespace, std::string& AOut);
  bool ReadTagAttributes(TMz_XmlNode* ANode);
  // Hands the attributes collected as text to AElement.
  void KeepAttributeTexts(TMz_XmlElement* AElement);
  TStep ReadMarkup(TMz_XmlNode* AParent);
  void ReadText(TMz_XmlNode* ANode);
  void FinishStartTag(TMz_XmlNode* ANode);
  // The node from onCreateNode, else from the default node class with the kind set.
  TMz_XmlNode* CreateNode(TMz_XmlNode* AParent, const std::string& APrefix, const std::string& AName,
                          TMz_XmlNodeKind AKind, bool& AMadeHere);
  // Whether a node the parser made hangs in no tree (its parent holds nothing for it).
  static bool IsUnlinked(TMz_XmlNode* ANode) { return TMz_XmlNode::AsElement(ANode->parent()) == nullptr; }
  void DiscardNode(TMz_XmlNode* ANode);

  TMz_XmlDocument& Doc;
  TMz_StreamReader* Reader;
  const TChar* Text;
  const int64_t Size;
  int64_t Pos = 0;
  std::vector<TFrame> Frames;
  int Depth = 0;  // open start tags
  // Nodes made here outside any tree that are still alive (freed by Discard after a failure).
  std::vector<TMz_XmlNode*> Loose;
  // The plain attributes of the tag being read, while they are kept as text.
  std::vector<TMz_XmlAttributeTexts::TEntry> AttrEntries;
  std::string AttrChars;
};

template <class TChar>
std::string TMz_XmlParser<TChar>::ReadToken() {
  int64_t at = Pos;
  while (at < Size && IsBlank(Unit(at))) ++at;
  Pos = std::max(at, Pos);
  if (at >= Size || Unit(at) == 0) return {};
  if (!IsTokenChar(Unit(at))) {
    Pos = at + 1;
    Fail("invalid character for token");
  }
  const int64_t start = at;
  while (at < Size && IsTokenChar(Unit(at))) ++at;
  Pos = at;
  if constexpr (Bytes) {
    return std::string(Text + start, size_t(at - start));
  } else {
    std::string token(size_t(at - start), '\0');
    for (int64_t i = start; i < at; ++i) token[size_t(i - start)] = static_cast<char>(Text[size_t(i)]);
    return token;
  }
}

template <class TChar>
void TMz_XmlParser<TChar>::ReadName(std::string& APrefix, std::string& AName) {
  APrefix.clear();
  AName = ReadToken();
  if (Current() == ':') {
    APrefix = std::move(AName);
    ++Pos;
    AName = ReadToken();
  }
}

template <class TChar>
std::string TMz_XmlParser<TChar>::ReadUntilText(std::string_view ATerminator) {
  const int64_t start = Pos;
  if (start < 0 || start >= Size) return {};
  for (int64_t at = start;; ++at) {
    at = Find(TChar(ATerminator[0]), at);
    if (at + int64_t(ATerminator.size()) > Size) break;
    size_t i = 1;
    while (i < ATerminator.size() && Text[size_t(at) + i] == TChar(ATerminator[i])) ++i;
    if (i < ATerminator.size()) continue;
    Pos = at;
    return Slice(start, at);
  }
  Pos = Size;
  return {};
}

template <class TChar>
void TMz_XmlParser<TChar>::ReadQuotedValue(std::string& AOut) {
  int64_t at = Pos;
  while (at < Size && IsBlank(Unit(at))) ++at;
  Pos = std::max(at, Pos);
  if (at >= Size || Unit(at) == 0) return;
  const TChar mark = Text[size_t(at)];
  if (mark != '"' && mark != '\'') {
    Pos = at + 1;
    Fail("invalid character");
  }
  const int64_t start = at + 1;
  const int64_t close = Find(mark, start);
  if (close >= Size) {
    Pos = Size;
    return;
  }
  Pos = close + 1;
  if (close > start) AppendDecoded(AOut, Text + start, size_t(close - start));
}

template <class TChar>
bool TMz_XmlParser<TChar>::ReadAttributeValue(std::string_view APrefix, std::string_view AName, bool ANamespace,
                                              std::string& AOut) {
  while (!AtEnd()) {
    const int c = Read();
    if (c == 0) Fail("unexpected end of data (#0)");
    if (IsBlank(c)) continue;
    if (c == '/' || c == '>') {
      Back();
      return false;
    }
    if (c == '=') {
      ReadQuotedValue(AOut);
      return true;
    }
    if (c == EndOfData) Fail("unexpected end of data (#$FFFF)");
    const std::string qualified = Mz_XmlQualifiedName(APrefix, AName);
    if (ANamespace) Fail("invalid character while parsing namespace \"%s\"", {qualified});
    Fail("invalid character while parsing attribute \"%s\"", {qualified});
  }
  return false;
}

template <class TChar>
void TMz_XmlParser<TChar>::KeepAttributeTexts(TMz_XmlElement* AElement) {
  if (AttrEntries.empty()) return;
  AElement->fTexts = TMz_XmlAttributeTexts::Make(AttrEntries.data(), uint32_t(AttrEntries.size()), AttrChars);
  AttrEntries.clear();
  AttrChars.clear();
}

template <class TChar>
bool TMz_XmlParser<TChar>::ReadTagAttributes(TMz_XmlNode* ANode) {
  // A plain element of the parser's own keeps its plain attributes as text (objects are made
  // when asked for); a declaration, a long list or a node class or handler of the caller's
  // (which may attend to each attribute) makes objects as the tag is read.
  TMz_XmlElement* textual = !Doc.fOnCreateNode && Mz_DefaultNodeClass() == &CreateElement
                                ? TMz_XmlNode::AsElement(ANode)
                                : nullptr;
  if (textual && (textual->fAttributes || textual->fTexts)) textual = nullptr;
  AttrEntries.clear();
  AttrChars.clear();
  const auto toObjects = [&] {
    KeepAttributeTexts(textual);
    textual->makeAttributes();
    textual = nullptr;
  };
  const auto done = [&](bool AOpened) {
    if (textual) KeepAttributeTexts(textual);
    return AOpened;
  };
  // The attribute map of an element made here is sized once, from the equals signs up to the
  // tag's end; it is taken away again when no attribute came.
  TMz_XmlElement* const reserved = Doc.fOnCreateNode || textual ? nullptr : TMz_XmlNode::AsElement(ANode);
  if (reserved && !reserved->fAttributes && Pos >= 0 && Pos < Size) {
    const int64_t end = Find('>', Pos);
    size_t count = 0;
    for (int64_t at = Find('=', Pos); at < end; at = Find('=', at + 1)) ++count;
    if (count > 0) {
      reserved->fAttributes = std::make_unique<TMz_XmlAttributes>();
      reserved->fAttributes->FItems.reserve(count);
    }
  }
  const auto unreserve = Finally([&] {
    if (reserved && reserved->fAttributes && reserved->fAttributes->Count() == 0) reserved->fAttributes.reset();
  });
  std::string prefix, name;
  while (!AtEnd()) {
    const int c = Read();
    if (c == '/') {
      ANode->setClosed(true);
      if (Read() == '>') return done(false);
      Fail("\">\" expected behind \"/\"");
    }
    if (c == 0) Fail("unexpected end of data (#0)");
    if (IsBlank(c)) continue;
    if (c == '>') return done(true);
    if (c == '?') {
      if (ANode->kind() != mzDocument && ANode->kind() != mzStylesheet)
        Fail("invalid charater \"?\" - only allowed for xml header tag");
      if (Read() == '>') return done(true);
      Fail("invalid charater - \">\" expected behind \"?\"");
    }
    if (c == EndOfData) Fail("unexpected end of data (#$FFFF)");

    Back();
    ReadName(prefix, name);
    if (name.empty()) {
      if (prefix.empty()) Fail("missing attribute name - invalid character found");
      Fail("incomplete namespace declaration \"%s\" for attribute name", {prefix});
    }
    if (prefix == "xmlns") {
      auto* element = TMz_XmlNode::AsElement(ANode);
      if (!element)
        Fail("failed to define namespace in none element node \"" + ANode->getQualifiedName() + "\"");
      if (textual) toObjects();
      auto* ns = New<TMz_XmlNamespace>(&Doc, element, std::string(), name);
      try {
        element->addNamespace(ns);
        std::string value;
        if (ReadAttributeValue({}, name, true, value)) ns->setRawValue(std::move(value));
      } catch (...) {
        DiscardNode(ns);
        throw;
      }
      continue;
    }
    if (textual) {
      using TEntry = TMz_XmlAttributeTexts::TEntry;
      const size_t at = AttrChars.size();
      AttrChars.append(prefix).append(name);
      const size_t valueAt = AttrChars.size();
      ReadAttributeValue(prefix, name, false, AttrChars);
      if (AttrChars.size() > UINT32_MAX) {
        // Offsets are 32 bits: a longer tag is kept as objects.
        const std::string value = AttrChars.substr(valueAt);
        AttrChars.resize(at);
        toObjects();
        New<TMz_XmlAttribute>(&Doc, ANode, prefix, name)->setRawValue(value);
      } else {
        const TEntry entry{uint32_t(at), uint32_t(prefix.size()), uint32_t(name.size()), uint32_t(valueAt),
                           uint32_t(AttrChars.size() - valueAt)};
        // A name given again keeps its place and takes the later value.
        auto same = std::find_if(AttrEntries.begin(), AttrEntries.end(), [&](const TEntry& e) {
          return e.PrefixSize == entry.PrefixSize && e.NameSize == entry.NameSize &&
                 AttrChars.compare(e.At, e.PrefixSize + e.NameSize, AttrChars, at, entry.PrefixSize + entry.NameSize) == 0;
        });
        if (same != AttrEntries.end()) {
          same->ValueAt = entry.ValueAt;
          same->ValueSize = entry.ValueSize;
        } else {
          AttrEntries.push_back(entry);
          if (AttrEntries.size() > TMz_XmlAttributeTexts::MaxCount) toObjects();
        }
      }
      if (!prefix.empty() && !ANode->defined(prefix))
        Fail("namespace \"%s\" not defined for attribute \"%s\"", {prefix, name});
      continue;
    }
    TMz_XmlNode* offered = nullptr;
    Offer(ANode, prefix, name, mzAttribute, offered);
    const bool madeHere = offered == nullptr;
    TMz_XmlNode* attr = offered;
    try {
      if (madeHere) {
        auto* made = New<TMz_XmlAttribute>(&Doc, ANode, prefix, name);
        attr = made;
        std::string value;
        if (ReadAttributeValue(prefix, name, false, value)) made->setRawValue(std::move(value));
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
  return done(false);
}

template <class TChar>
TMz_XmlNode* TMz_XmlParser<TChar>::CreateNode(TMz_XmlNode* AParent, const std::string& APrefix,
                                              const std::string& AName, TMz_XmlNodeKind AKind, bool& AMadeHere) {
  TMz_XmlNode* node = nullptr;
  Offer(AParent, APrefix, AName, AKind, node);
  AMadeHere = node == nullptr;
  if (node) return node;
  node = Mz_DefaultNodeClass()(&Doc, AParent, APrefix, AName);
  node->setKind(AKind);
  return node;
}

template <class TChar>
void TMz_XmlParser<TChar>::DiscardNode(TMz_XmlNode* ANode) {
  if (!ANode) return;
  std::erase(Loose, ANode);
  if (ANode == Doc.fRoot) Doc.fRoot = nullptr;
  Mz_FreeTree(ANode);
}

template <class TChar>
void TMz_XmlParser<TChar>::FinishStartTag(TMz_XmlNode* ANode) {
  const std::string& prefix = ANode->getNamespace();
  if (!prefix.empty() && !ANode->defined(prefix))
    Fail("namespace \"%s\" not defined for tag \"%s\"", {prefix, ANode->name()});
  if (!ANode->closed()) Fail("tag \"%s\" not closed", {ANode->getQualifiedName()});
}

template <class TChar>
typename TMz_XmlParser<TChar>::TStep TMz_XmlParser<TChar>::ReadMarkup(TMz_XmlNode* AParent) {
  ++Doc.fNodeCount;
  const int c = Read();
  if (c == '/') {
    auto* parent = TMz_XmlNode::AsElement(AParent);
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
        node->setRawValue(ReadUntilText("-->"));
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
        node->setRawValue(ReadUntilText(">"));
        if (Read() != '>') Fail("invalid character found - \">\" expected");
      } else if (next == '[') {
        const std::string token = ReadToken();
        if (token != "CDATA") Fail("invalid character - \"CDATA[\" expected behind \"<![\"");
        if (Read() != '[') Fail("invalid character - \"[\" expected behind \"<![CDATA\"");
        node = CreateNode(AParent, {}, token, mzData, madeHere);
        node->setRawValue(ReadUntilText("]]>"));
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
      ++Pos;
      Fail("namespace declaration not allowed for xml core node");
    }
    if (name != "xml" && name != "xml-stylesheet") Fail("xml header expected");
    if (Doc.fRoot) Fail("xml header already exist");
    const TMz_XmlNodeKind kind = name == "xml-stylesheet" ? mzStylesheet : mzDocument;
    TMz_XmlNode* root = nullptr;
    Offer(AParent, {}, name, kind, root);
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

template <class TChar>
TMz_XmlNode* TMz_XmlParser<TChar>::ImplicitHeader() {
  if (Doc.fRoot) Fail("xml header already exist");
  TMz_XmlNode* root = Mz_DefaultNodeClass()(&Doc, nullptr, {}, "xml");
  root->setKind(mzDocument);
  Doc.fRoot = root;
  Frames.push_back({root, true, false});
  return root;
}

template <class TChar>
void TMz_XmlParser<TChar>::ReadText(TMz_XmlNode* ANode) {
  if (ANode && ANode->closed()) Fail("invalid character found");
  if (!TMz_XmlNode::AsElement(ANode)) Fail("node values only allowed for element nodes");
  Back();
  int64_t from = Pos;
  if (from >= Size) return;
  int64_t to = from;
  while (to < Size) {
    const int c = Unit(to);
    if (c == 0 || c == '<' || c == '>' || c == EndOfData) break;
    ++to;
  }
  Pos = to;
  while (from < to && IsBlank(Unit(from))) ++from;
  while (to > from && IsBlank(Unit(to - 1))) --to;
  if (to > from) AppendDecoded(ANode->fValue, Text + from, size_t(to - from));
}

template <class TChar>
void TMz_XmlParser<TChar>::Parse() {
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

template <class TChar>
void TMz_XmlParser<TChar>::Discard() {
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
template <class TChar>
std::string DeclaredEncoding(std::basic_string_view<TChar> AText) {
  using TView = std::basic_string_view<TChar>;
  const auto is = [](TView AText, std::string_view AWord) {
    return AText.size() == AWord.size() && std::equal(AText.begin(), AText.end(), AWord.begin(), [](TChar a, char b) {
             return a == TChar(b);
           });
  };
  const auto blank = [](TChar c) { return std::make_unsigned_t<TChar>(c) <= ' '; };
  if (AText.size() < 6 || !is(AText.substr(0, 5), "<?xml") || !blank(AText[5])) return {};
  size_t i = 5;
  const auto skipBlanks = [&] {
    while (i < AText.size() && blank(AText[i])) ++i;
  };
  for (;;) {
    skipBlanks();
    if (i >= AText.size() || AText[i] == '?' || AText[i] == '>') return {};
    const size_t nameStart = i;
    while (i < AText.size() && !blank(AText[i]) && AText[i] != '=' && AText[i] != '?' && AText[i] != '>') ++i;
    const TView name = AText.substr(nameStart, i - nameStart);
    skipBlanks();
    if (i >= AText.size() || AText[i] != '=') return {};
    ++i;
    skipBlanks();
    if (i >= AText.size() || (AText[i] != '"' && AText[i] != '\'')) return {};
    const size_t close = AText.find(AText[i], i + 1);
    if (close == TView::npos) return {};
    if (is(name, "encoding")) {
      std::string value;
      AppendText(value, AText.data() + i + 1, close - i - 1);
      return value;
    }
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

// The bytes of a memory stream as they stand; those of any other stream, read into AStore.
std::string_view StreamBytes(TStream* AStream, TBytes& AStore) {
  if (auto* memory = dynamic_cast<TCustomMemoryStream*>(AStream)) {
    AStream->SetPosition(AStream->GetSize());
    return {static_cast<const char*>(memory->GetMemory()), size_t(std::max<int64_t>(AStream->GetSize(), 0))};
  }
  AStream->SetPosition(0);
  const int64_t size = AStream->GetSize();
  if (size > 0) AStore.reserve(size_t(size));
  uint8_t block[65536];
  for (int64_t got; (got = AStream->Read(block, sizeof block)) > 0;) AStore.insert(AStore.end(), block, block + got);
  return {reinterpret_cast<const char*>(AStore.data()), AStore.size()};
}

// Bytes the caller keeps alive, read as a stream without a copy.
class TBytesView : public TCustomMemoryStream {
public:
  explicit TBytesView(std::string_view ABytes) { SetPointer(const_cast<char*>(ABytes.data()), int64_t(ABytes.size())); }
  int64_t Write(const void*, int64_t) override { return 0; }
};

std::string Latin1ToUtf8(std::string_view ABytes) {
  std::string utf8;
  utf8.reserve(ABytes.size() + ABytes.size() / 8);
  for (const char c : ABytes) {
    const uint8_t b = uint8_t(c);
    if (b < 0x80) {
      utf8 += char(b);
    } else {
      utf8 += char(0xC0 | (b >> 6));
      utf8 += char(0x80 | (b & 0x3F));
    }
  }
  return utf8;
}

}  // namespace

template <class TChar>
void TMz_XmlDocument::parse(const TChar* AText, size_t ASize, TMz_StreamReader* AReader) {
  TMz_XmlNode* const before = fRoot;
  const TMz_XmlName::TPool names;  // the tree's nodes share their names
  const TMz_XmlStore::TLoad store;  // and take their blocks from the load's pages
  TMz_XmlParser<TChar> parser(*this, AText, ASize, AReader);
  try {
    parser.Parse();
  } catch (...) {
    parser.Discard();
    if (fRoot != before) Mz_FreeTree(std::exchange(fRoot, before));
    throw;
  }
}

void TMz_XmlDocument::loadFromStream(TStream* AStream) {
  TBytes store;
  const std::string_view bytes = StreamBytes(AStream, store);
  const auto* head = reinterpret_cast<const uint8_t*>(bytes.data());
  const size_t headSize = std::min<size_t>(bytes.size(), 4);
  // UTF-16 without a byte-order mark shows itself by the "<?" of its declaration.
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
  const std::string_view body = bytes.substr(utf8Mark ? 3 : 0);

  // UTF-8 is parsed as it stands; the decoded text is needed for a handler (it reads from a
  // reader) and for what Utf8Readable refuses.
  std::unique_ptr<TMz_StreamReader> reader;
  std::string declared;
  const bool direct = eightBit && !fOnCreateNode && Utf8Readable(head + (utf8Mark ? 3 : 0), body.size());
  if (direct) {
    declared = DeclaredEncoding(body);
  } else {
    reader = std::make_unique<TMz_StreamReader>(AStream, encoding, detectBOM, TMz_StreamReader::DefaultBufferSize);
    AStream->SetPosition(0);
    reader->FillAll();
    declared = DeclaredEncoding(std::u16string_view(reader->BufferedData()));
  }

  // The declared encoding decides how bytes without a mark are read; a mark wins over it.
  const TDeclaredEncoding kind = ClassifyEncoding(declared);
  const bool eightBitDeclared = eightBit && !utf8Mark && (kind == TDeclaredEncoding::Latin1 || kind == TDeclaredEncoding::Ascii);
  switch (kind) {
    case TDeclaredEncoding::Unicode: break;
    case TDeclaredEncoding::Ascii:
      if (eightBitDeclared) {
        // Every character before the first one above 127 is a single byte.
        const size_t above = direct ? size_t(std::find_if(body.begin(), body.end(), [](char c) { return uint8_t(c) > 0x7F; }) - body.begin())
                                    : size_t(std::find_if(reader->BufferedData().begin(), reader->BufferedData().end(), [](char16_t c) { return c > 0x7F; }) - reader->BufferedData().begin());
        if (above < (direct ? body.size() : reader->BufferedData().size()))
          throw EMz_XmlParseError("character above 127 in a document declared \"" + declared + "\"" +
                                  Suffix(this, int64_t(above) + 1));
      }
      break;
    case TDeclaredEncoding::Latin1:
      if (eightBitDeclared) {
        // Every byte is the code point of the same number.
        const std::string utf8 = Latin1ToUtf8(bytes);
        reader.reset();
        if (fOnCreateNode) {
          TBytesView view(utf8);
          TMz_StreamReader decoded(&view, &TEncoding::UTF8(), false, TMz_StreamReader::DefaultBufferSize);
          decoded.FillAll();
          parse(decoded.BufferedData().data(), decoded.BufferedData().size(), &decoded);
        } else {
          parse(utf8.data(), utf8.size(), nullptr);
        }
        rewriteEncoding();
        return;
      }
      break;
    case TDeclaredEncoding::Other:
      throw EMz_XmlParseError("unsupported encoding \"" + declared + "\"" + Suffix(this, 0));
  }

  if (direct) {
    parse(body.data(), body.size(), nullptr);
  } else {
    const std::u16string& text = reader->BufferedData();
    parse(text.data(), text.size(), reader.get());
  }
  if (eightBitDeclared) rewriteEncoding();
}

void TMz_XmlDocument::rewriteEncoding() {
  // The tree holds Unicode text and is saved as UTF-8: a declaration still naming an 8-bit
  // encoding would make the saved bytes read back as other characters.
  if (auto* header = dynamic_cast<TMz_XmlElement*>(fRoot))
    if (!header->attribute_raw("encoding").empty()) header->setAttribute_raw("encoding", "UTF-8");
}

void TMz_XmlDocument::loadFromString(std::string_view AData) {
  TBytesView stream(AData);
  loadFromStream(&stream);
}

void TMz_XmlDocument::loadFromBytes(const TBytes& AData) {
  TBytesView stream(std::string_view(reinterpret_cast<const char*>(AData.data()), AData.size()));
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
