#pragma once
// The XML library's document: a hand-written recursive-descent parser over TMz_StreamReader
// that builds the node tree, and its serialisation. It knows tags, attributes with prefixes,
// namespace declarations, one header (or xml-stylesheet instruction), comments, CDATA and
// DOCTYPE, the five predefined entities and character references (any other "&" text stays as
// written), and nothing else: no DTD entities, no validation.
//
// root() is always a header: the one read, or one made for a document without declaration
// (then a declaration after the first markup fails as a second header), so the document
// element is among root()->nodes(). A failed load raises EMz_XmlParseError with
// ` ["<filename>" at <position>]` and leaves root() as it was. The document owns its root.
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

#include "framework/io/Stream.h"
#include "framework/rtl/Exceptions.h"
#include "framework/rtl/SysUtils.h"
#include "lib/game/XmlNode.h"
#include "lib/game/XmlStream.h"

namespace quorvel {

class EMz_XmlParseError : public Exception {
public:
  using Exception::Exception;
  // The message, then the suffix with the document's file name and the reader's position
  // (0 without a reader).
  EMz_XmlParseError(const TMz_XmlDocument* ADocument, const TMz_StreamReader* AStream, std::string_view AMessage);
  // Formats the message first, then appends the suffix (a "%" in the file name stays).
  static EMz_XmlParseError CreateFmt(const TMz_XmlDocument* ADocument, const TMz_StreamReader* AStream,
                                     std::string_view AMessage, std::initializer_list<TVarRec> AArgs);
  const char* ClassName() const noexcept override { return "EMz_XmlParseError"; }
};

class EMz_XmlStoringError : public Exception {
public:
  using Exception::Exception;
  // Position 0 always.
  EMz_XmlStoringError(const TMz_XmlDocument* ADocument, const TMz_StreamWriter* AStream, std::string_view AMessage);
  static EMz_XmlStoringError CreateFmt(const TMz_XmlDocument* ADocument, const TMz_StreamWriter* AStream,
                                       std::string_view AMessage, std::initializer_list<TVarRec> AArgs);
  const char* ClassName() const noexcept override { return "EMz_XmlStoringError"; }
};

// Called before the parser creates a node; a node stored in ANode replaces the parser's own.
// AStream stands right after the node's name. For an attribute the handler reads the equals
// sign and value itself; the parser sets no kind on a node made here.
using TMz_OnCreateNode =
    std::function<void(TObject* ASender, TMz_StreamReader* AStream, TMz_XmlNode* ACurrent,
                       const std::string& ANamespace, const std::string& AName, TMz_XmlNodeKind AKind,
                       TMz_XmlNode*& ANode)>;

// The parser's factory for every node other than attributes and declarations.
using TMz_XmlNodeClass = TMz_XmlNode* (*)(TMz_XmlDocument* ADocument, TMz_XmlNode* AParent,
                                         const std::string& ANamespace, const std::string& AName);
TMz_XmlNodeClass Mz_DefaultNodeClass();
void Mz_SetDefaultNodeClass(TMz_XmlNodeClass AClass);  // nullptr restores TMz_XmlElement

// Writes AData to a temporary file beside AFilename, then renames it over AFilename.
void Mz_ReplaceFile(const std::string& AFilename, const TBytes& AData);

class TMz_XmlDocument : public TPersistent {
public:
  // Deeper nesting of elements is refused; the parser keeps its own stack, not the C stack.
  static constexpr int MaxNestingDepth = 10000;

  TMz_XmlDocument();
  ~TMz_XmlDocument() override;

  int32_t token_buffer_size() const { return fTokenBufferSize; }
  void setToken_buffer_size(int32_t AValue) { fTokenBufferSize = AValue; }
  const TFormatSettings& format() const { return fFormat; }
  void setFormat(const TFormatSettings& AValue) { fFormat = AValue; }
  const std::string& filename() const { return fFilename; }
  void setFilename(std::string AValue) { fFilename = std::move(AValue); }
  int32_t node_count() const { return fNodeCount; }
  TMz_XmlNode* root() const { return fRoot; }
  // Frees the root it replaces.
  void setRoot(TMz_XmlNode* AValue);
  // Hands the root to the caller; the document then has none.
  TMz_XmlNode* extractRoot();
  const TMz_OnCreateNode& onCreateNode() const { return fOnCreateNode; }
  void setOnCreateNode(TMz_OnCreateNode AValue) { fOnCreateNode = std::move(AValue); }

  // Parses from the stream's start. A byte-order mark selects UTF-8 or UTF-16; without one,
  // "<?" in UTF-16 selects that, and otherwise the declared encoding: UTF-8 (also when none
  // is declared), US-ASCII or ISO-8859-1; any other raises EMz_XmlParseError. Neither root,
  // node count nor file name is reset first: loading into a document with a root fails at the
  // header ("xml header already exist").
  virtual void loadFromStream(TStream* AStream);
  virtual void loadFromString(std::string_view AData);
  virtual void loadFromBytes(const TBytes& AData);
  virtual void loadFromFile(const std::string& AFilename);
  // Writes root's tree as UTF-8 without a mark at the stream's start and ends the stream
  // there (a longer stream is truncated); nothing without a stream or a root.
  virtual void saveToStream(TStream* AStream, bool ABeautify);
  virtual std::string saveToString(bool ABeautify);
  virtual TBytes saveToBytes(bool ABeautify);
  // Serialises first, then replaces the file through a temporary one beside it: a failed save
  // leaves the old file as it was.
  virtual void saveToFile(const std::string& AFilename, bool ABeautify);

  TValue StringToValue(std::string_view AData) const { return Mz_XmlStringToValue(AData, fFormat); }

private:
  template <class TChar>
  friend class TMz_XmlParser;
  // Parses the text into the document; a failure frees what it made and keeps the old root.
  template <class TChar>
  void parse(const TChar* AText, size_t ASize, TMz_StreamReader* AReader);
  // Names UTF-8 in the header that declared an 8-bit encoding.
  void rewriteEncoding();

  int32_t fTokenBufferSize = 16;
  TFormatSettings fFormat;
  std::string fFilename;
  int32_t fNodeCount = 0;
  TMz_XmlNode* fRoot = nullptr;
  TMz_OnCreateNode fOnCreateNode;
};

}  // namespace quorvel
