#pragma once
// The XML library's node tree: elements with their children, attributes and namespace
// declarations, typed attribute access and serialisation. Nodes hold plain text: the parser
// decodes character and predefined entity references, and the writer escapes "&", "<", ">"
// (and quotation marks in attributes) again. Typed access converts a node's text at the moment
// of the call, en-US unless the node's document says otherwise.
//
// Ownership: an element owns its children, attributes and namespace declarations. A namespace
// declaration sits in both the attribute map (under "xmlns:q", so that a plain attribute q
// cannot displace it) and the namespace map (under "q") of its element, and is freed once,
// when it has left both. remove() frees a child; removeAttribute() and removeNamespace()
// hand the object back to the caller. Freeing a node takes it out of its parent first. Trees
// are freed and written without recursion, so nesting depth never meets the C stack.
//
// Nodes are made with New<T>(document, parent, prefix, name): AfterConstruction links an
// element into its parent's children and an attribute into its parent's attributes.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "framework/rtl/Object.h"
#include "framework/rtl/Persistent.h"
#include "framework/rtl/SysUtils.h"
#include "framework/rtl/Value.h"

namespace quorvel {

class TMz_XmlDocument;
class TMz_XmlElement;
class TMz_StreamWriter;
class TMz_XmlNamespace;
template <class TChar>
class TMz_XmlParser;

enum TMz_XmlNodeKind : uint8_t {
  mzDefault,     // an ordinary element
  mzDocument,    // the XML header, top of a document
  mzDocType,     // a DOCTYPE declaration
  mzStylesheet,  // an "xml-stylesheet" instruction used as header
  mzData,        // a CDATA section
  mzComment,
  mzAttribute,
  mzNamespace,   // "xmlns:q" declaration
};

// The typing of node text: "" is empty; a text starting with a sign, "." or a digit is a
// double when it holds "." and converts, else an Integer when it converts; a text starting
// with T, t, F or f is a Boolean when it converts; anything else stays a string.
TValue Mz_XmlStringToValue(std::string_view AData, const TFormatSettings& AFormat);
// The shortest text in AFormat that reads back to the same single ("0.1", not 15 digits).
std::string Mz_SingleToStr(float AValue, const TFormatSettings& AFormat);
// Whether a text can be written and read back: no NUL and no U+FFFF.
bool Mz_XmlStorable(std::string_view AText);
// "prefix:name", or the name alone without a prefix.
std::string Mz_XmlQualifiedName(std::string_view APrefix, std::string_view AName);

// A node's prefix and local name, one block shared by every node of a load that bears both.
class TMz_XmlName {
public:
  TMz_XmlName() = default;
  TMz_XmlName(std::string ANamespace, std::string AName);
  TMz_XmlName(const TMz_XmlName& AOther) : fBlock(AOther.fBlock) { Acquire(); }
  TMz_XmlName& operator=(TMz_XmlName AOther) {
    std::swap(fBlock, AOther.fBlock);
    return *this;
  }
  ~TMz_XmlName() { Release(); }

  const std::string& getNamespace() const { return fBlock ? fBlock->Namespace : Empty(); }
  const std::string& name() const { return fBlock ? fBlock->Name : Empty(); }

  // While one lives on a thread, names made there are shared with equal earlier ones.
  class TPool {
  public:
    TPool();
    ~TPool();
    TPool(const TPool&) = delete;
    TPool& operator=(const TPool&) = delete;

  private:
    friend class TMz_XmlName;
    struct TNames;
    std::unique_ptr<TNames> fNames;
    TPool* fOuter;
  };

private:
  struct TBlock {
    std::string Namespace;
    std::string Name;
    std::atomic<uint32_t> References{1};
  };
  static const std::string& Empty();
  void Acquire() {
    if (fBlock) fBlock->References.fetch_add(1, std::memory_order_relaxed);
  }
  void Release() {
    if (fBlock && fBlock->References.fetch_sub(1, std::memory_order_acq_rel) == 1) delete fBlock;
  }

  TBlock* fBlock = nullptr;
};

// Storage of the blocks a load makes: while a TLoad lives on a thread, node objects, child
// lists and attribute lists come from pages shared by that load instead of one heap block
// each. Every block can still be released on its own, in any order and on any thread; the
// pages go back to the heap once the load has ended and its last block is released (a node
// kept after its document died keeps its load's pages). Blocks made outside a load are heap
// blocks. A block is aligned to 8 bytes.
class TMz_XmlStore {
public:
  static void* Allocate(size_t ASize);
  static void Release(void* ABlock) noexcept;

  class TLoad {
  public:
    TLoad();
    ~TLoad();
    TLoad(const TLoad&) = delete;
    TLoad& operator=(const TLoad&) = delete;

  private:
    friend class TMz_XmlStore;
    struct TPages;
    TPages* fPages;
    TLoad* fOuter;
  };
};

// A standard allocator over TMz_XmlStore.
template <class T>
struct TMz_XmlAllocator {
  using value_type = T;
  TMz_XmlAllocator() = default;
  template <class U>
  TMz_XmlAllocator(const TMz_XmlAllocator<U>&) {}
  T* allocate(size_t ACount) { return static_cast<T*>(TMz_XmlStore::Allocate(ACount * sizeof(T))); }
  void deallocate(T* APointer, size_t) noexcept { TMz_XmlStore::Release(APointer); }
  friend bool operator==(const TMz_XmlAllocator&, const TMz_XmlAllocator&) { return true; }
};

class TMz_XmlNode : public TPersistent {
public:
  static void* operator new(size_t ASize) { return TMz_XmlStore::Allocate(ASize); }
  static void operator delete(void* ABlock) noexcept { TMz_XmlStore::Release(ABlock); }

  TMz_XmlNode(TMz_XmlDocument* ADocument, TMz_XmlNode* AParent, std::string ANamespace, std::string AName);
  ~TMz_XmlNode() override;
  void BeforeDestruction() override;

  TMz_XmlDocument* document() const { return fDocument; }
  TMz_XmlNode* parent() const { return fParent; }
  TMz_XmlNodeKind kind() const { return fKind; }
  void setKind(TMz_XmlNodeKind AKind) { fKind = AKind; }
  const std::string& getNamespace() const { return fNames.getNamespace(); }
  void setNamespace(std::string AValue) { fNames = TMz_XmlName(std::move(AValue), fNames.name()); }
  const std::string& name() const { return fNames.name(); }
  void setName(std::string AValue) { fNames = TMz_XmlName(fNames.getNamespace(), std::move(AValue)); }
  bool closed() const { return fClosed; }
  void setClosed(bool AValue) { fClosed = AValue; }

  // The text typed as Mz_XmlStringToValue says, with the document's format settings.
  virtual TValue value() const;
  // Floats are written with FloatToStr under the document's settings (a TDateTime as date
  // text); every other kind as TValue::ToString gives it.
  virtual void setValue(const TValue& AValue);
  virtual std::string getRawValue() const { return fValue; }
  virtual void setRawValue(std::string AValue) { fValue = std::move(AValue); }
  virtual std::string getQualifiedName() const;
  // Whether the prefix is declared in scope of this node.
  virtual bool defined(std::string_view ANamespace) const;
  virtual void toStream(TMz_StreamWriter& AStream) = 0;

  bool equals(std::string_view ANamespace, std::string_view AName) const {
    return getNamespace() == ANamespace && name() == AName;
  }
  const TFormatSettings& formatSettings() const;
  // Takes the node out of its parent's children or maps (nothing is freed).
  void detach();
  // The node as an element (a TMz_XmlElement or descendant), else nullptr; no RTTI.
  static TMz_XmlElement* AsElement(TMz_XmlNode* ANode);

protected:
  // The storing error of the node's document (message with the suffix at position 0).
  [[noreturn]] void raiseStoringError(std::string_view AMessage) const;

  friend bool Mz_XmlKeyIs(const TMz_XmlNode& ANode, std::string_view AKey, bool AAttributeMap);
  friend std::string Mz_XmlKeyOf(const TMz_XmlNode& ANode, bool AAttributeMap);
  // What the node is, kept so that the tree's own steps need no dynamic_cast.
  enum : uint8_t { IsElement = 1, IsAttribute = 2, IsDeclaration = 4 };

  TMz_XmlDocument* fDocument;
  TMz_XmlNode* fParent;
  TMz_XmlNodeKind fKind = mzDefault;
  bool fClosed = false;
  uint8_t fClass = 0;
  TMz_XmlName fNames;
  std::string fValue;

  friend class TMz_XmlElement;
  template <class TChar>
  friend class TMz_XmlParser;
};

class TMz_XmlAttribute : public TMz_XmlNode {
public:
  TMz_XmlAttribute(TMz_XmlDocument* ADocument, TMz_XmlNode* AParent, std::string ANamespace, std::string AName)
      : TMz_XmlNode(ADocument, AParent, std::move(ANamespace), std::move(AName)) {
    fKind = mzAttribute;
    fClass |= IsAttribute;
  }
  void AfterConstruction() override;
  bool defined(std::string_view ANamespace) const override;
  // ` name="value"`, escaped; a value holding NUL or U+FFFF raises EMz_XmlStoringError.
  void toStream(TMz_StreamWriter& AStream) override;
};

// A declaration xmlns:q="...": empty prefix, local name q.
class TMz_XmlNamespace : public TMz_XmlAttribute {
public:
  TMz_XmlNamespace(TMz_XmlDocument* ADocument, TMz_XmlNode* AParent, std::string ANamespace, std::string AName)
      : TMz_XmlAttribute(ADocument, AParent, std::move(ANamespace), std::move(AName)) {
    fClass |= IsDeclaration;
  }
  void AfterConstruction() override;
  bool defined(std::string_view ANamespace) const override { return name() == ANamespace; }
  void toStream(TMz_StreamWriter& AStream) override;
};

// The child list of an element, in document order.
class TMz_XmlNodes : public TObject {
public:
  static void* operator new(size_t ASize) { return TMz_XmlStore::Allocate(ASize); }
  static void operator delete(void* ABlock) noexcept { TMz_XmlStore::Release(ABlock); }

  int Count() const { return static_cast<int>(FItems.size()); }
  TMz_XmlElement* Items(int AIndex) const { return FItems.at(size_t(AIndex)); }
  TMz_XmlElement* operator[](int AIndex) const { return Items(AIndex); }
  int IndexOf(const TMz_XmlElement* AItem) const;
  auto begin() const { return FItems.begin(); }
  auto end() const { return FItems.end(); }

private:
  friend class TMz_XmlElement;
  friend class TMz_XmlNode;
  std::vector<TMz_XmlElement*, TMz_XmlAllocator<TMz_XmlElement*>> FItems;
};

// The node's key in a map: its qualified name, with "xmlns:" before it for a declaration in
// an attribute map (AAttributeMap).
bool Mz_XmlKeyIs(const TMz_XmlNode& ANode, std::string_view AKey, bool AAttributeMap);
std::string Mz_XmlKeyOf(const TMz_XmlNode& ANode, bool AAttributeMap);

// Nodes keyed by qualified name, in insertion order (replacing keeps the place). A declaration
// among attributes is keyed "xmlns:" and its name. Keys are the nodes' names of the moment.
template <class T>
class TMz_XmlNodeMap {
public:
  struct TPair {
    T* Value;
  };
  int Count() const { return static_cast<int>(FItems.size()); }
  T* Find(std::string_view AKey) const {
    const size_t i = IndexOf(AKey);
    return i == npos ? nullptr : FItems[i].Value;
  }
  bool TryGetValue(std::string_view AKey, T*& AValue) const {
    AValue = Find(AKey);
    return AValue != nullptr;
  }
  bool ContainsKey(std::string_view AKey) const { return IndexOf(AKey) != npos; }
  auto begin() const { return FItems.begin(); }
  auto end() const { return FItems.end(); }

private:
  friend class TMz_XmlElement;
  template <class TChar>
  friend class TMz_XmlParser;
  static constexpr size_t npos = size_t(-1);
  static constexpr size_t IndexFrom = 16;  // a hash index only for long attribute lists
  static constexpr bool Attributes = !std::is_same_v<T, TMz_XmlNamespace>;

  std::string KeyOf(const T* AItem) const { return Mz_XmlKeyOf(*AItem, Attributes); }

  size_t IndexOf(std::string_view AKey) const {
    if (FIndex) {
      auto it = FIndex->find(std::string(AKey));
      return it == FIndex->end() ? npos : it->second;
    }
    for (size_t i = 0; i < FItems.size(); ++i)
      if (Mz_XmlKeyIs(*FItems[i].Value, AKey, Attributes)) return i;
    return npos;
  }
  // Stores under the key; answers the entry it replaced, or nullptr.
  T* Put(std::string_view AKey, T* AValue) {
    const size_t i = IndexOf(AKey);
    if (i != npos) return std::exchange(FItems[i].Value, AValue);
    FItems.push_back({AValue});
    if (FIndex) FIndex->emplace(std::string(AKey), FItems.size() - 1);
    else if (FItems.size() > IndexFrom) Reindex();
    return nullptr;
  }
  T* Remove(std::string_view AKey) {
    const size_t i = IndexOf(AKey);
    if (i == npos) return nullptr;
    T* value = FItems[i].Value;
    FItems.erase(FItems.begin() + std::ptrdiff_t(i));
    if (FIndex) Reindex();
    return value;
  }
  void Reindex() {
    FIndex = std::make_unique<std::unordered_map<std::string, size_t>>();
    for (size_t i = 0; i < FItems.size(); ++i) FIndex->emplace(KeyOf(FItems[i].Value), i);
  }

  std::vector<TPair> FItems;
  std::unique_ptr<std::unordered_map<std::string, size_t>> FIndex;
};

using TMz_XmlAttributes = TMz_XmlNodeMap<TMz_XmlAttribute>;
using TMz_XmlNamespaces = TMz_XmlNodeMap<TMz_XmlNamespace>;

// Plain attributes as the parser read them (no declarations, distinct names, in document
// order), kept as text in one block until someone asks for the attribute objects. Each entry
// names its prefix and name (consecutive) and its value by offsets into the characters.
struct TMz_XmlAttributeTexts {
  struct TEntry {
    uint32_t At;
    uint32_t PrefixSize;
    uint32_t NameSize;
    uint32_t ValueAt;
    uint32_t ValueSize;
  };
  static constexpr size_t MaxCount = 16;  // as many as a map holds without a hash index

  // One TMz_XmlStore block holding the entries and the characters.
  static TMz_XmlAttributeTexts* Make(const TEntry* AEntries, uint32_t ACount, std::string_view AChars);

  std::string_view Prefix(uint32_t AIndex) const { return {Chars() + Entries()[AIndex].At, Entries()[AIndex].PrefixSize}; }
  std::string_view Name(uint32_t AIndex) const {
    const TEntry& e = Entries()[AIndex];
    return {Chars() + e.At + e.PrefixSize, e.NameSize};
  }
  std::string_view Value(uint32_t AIndex) const {
    return {Chars() + Entries()[AIndex].ValueAt, Entries()[AIndex].ValueSize};
  }
  // The entry whose qualified name is AKey, or -1.
  int Find(std::string_view AKey) const;

  uint32_t Count;

private:
  const TEntry* Entries() const { return reinterpret_cast<const TEntry*>(this + 1); }
  const char* Chars() const { return reinterpret_cast<const char*>(Entries() + Count); }
};

class TMz_XmlElement : public TMz_XmlNode {
public:
  TMz_XmlElement(TMz_XmlDocument* ADocument, TMz_XmlNode* AParent, std::string ANamespace, std::string AName)
      : TMz_XmlNode(ADocument, AParent, std::move(ANamespace), std::move(AName)) {
    fClass |= IsElement;
  }
  ~TMz_XmlElement() override;
  void AfterConstruction() override;

  // nullptr until first used.
  TMz_XmlNodes* nodes() const { return fNodes.get(); }
  TMz_XmlAttributes* attributes() const {
    makeAttributes();
    return fAttributes.get();
  }
  TMz_XmlNamespaces* namespaces() const { return fNamespaces.get(); }

  // Appends (the node's parent is not changed).
  virtual void add(TMz_XmlElement* ANode);
  // Takes the child out and frees it.
  virtual void remove(TMz_XmlElement* ANode);
  // Frees every child.
  virtual void clear();
  // The first child with that local name.
  virtual TMz_XmlElement* find(std::string_view ATagName) const;
  template <class T>
  T* find() const {
    if (fNodes)
      for (TMz_XmlElement* e : fNodes->FItems)
        if (auto* t = dynamic_cast<T*>(e)) return t;
    return nullptr;
  }

  // Stores under the attribute's qualified name ("xmlns:q" for a declaration); an entry
  // replaced is freed.
  virtual void addAttribute(TMz_XmlAttribute* AAttr);
  // Creates the attribute when absent (local name AAttr, even with a colon), then assigns
  // the value through setValue.
  virtual void addAttribute(const std::string& AAttr, const TValue& AValue);
  void addAttribute(const std::string& AAttr, const std::string& AValue) { addAttribute(AAttr, TValue(AValue)); }
  void addAttribute(const std::string& AAttr, const char* AValue) { addAttribute(AAttr, TValue(std::string(AValue))); }
  void addAttribute(const std::string& AAttr, int32_t AValue) { addAttribute(AAttr, TValue(AValue)); }
  void addAttribute(const std::string& AAttr, bool AValue) { addAttribute(AAttr, TValue(AValue)); }
  void addAttribute(const std::string& AAttr, double AValue) { addAttribute(AAttr, TValue(AValue)); }
  void addAttribute(const std::string& AAttr, float AValue) { addAttribute(AAttr, TValue(AValue)); }

  // False with the empty form when absent. The string, Integer, Boolean and Single forms
  // raise EInvalidCast for a typed value of another kind; the Double form answers False
  // when the text does not convert (also after "," became ".").
  virtual bool getAttribute(const std::string& AAttr, TValue& AValue) const;
  bool getAttribute(const std::string& AAttr, std::string& AValue) const;
  bool getAttribute(const std::string& AAttr, int32_t& AValue) const;
  bool getAttribute(const std::string& AAttr, bool& AValue) const;
  bool getAttribute(const std::string& AAttr, double& AValue) const;
  bool getAttribute(const std::string& AAttr, float& AValue) const;

  // Take the entry out of its map without freeing it (the caller owns it then).
  virtual void removeAttribute(TMz_XmlAttribute* AAttr);
  virtual void clearAttributes();
  virtual void addNamespace(TMz_XmlNamespace* ANamespace);
  virtual void removeNamespace(TMz_XmlNamespace* ANamespace);
  virtual void clearNamespaces();

  // Start at the parent, never at this element; nullptr at the top or past a non-element.
  template <class T>
  TMz_XmlElement* searchUpwardsForNode() const {
    for (TMz_XmlNode* p = fParent; p; p = p->parent()) {
      auto* e = dynamic_cast<TMz_XmlElement*>(p);
      if (dynamic_cast<T*>(p)) return e;
      if (!e) return nullptr;
    }
    return nullptr;
  }
  TMz_XmlElement* searchUpwardsForNode(std::string_view ATagName) const;

  // Typed text of the attribute ("" when absent); writing types the text first ("007" is
  // stored as "7"), creating the attribute (prefix and name split at ":") when absent.
  std::string attribute(const std::string& AIndex) const;
  void setAttribute(const std::string& AIndex, const std::string& AText);
  // The text unchanged.
  std::string attribute_raw(const std::string& AIndex) const;
  void setAttribute_raw(const std::string& AIndex, const std::string& AText);
  TMz_XmlNamespace* namespaceDecl(const std::string& AIndex) const;
  // Empties the child list without freeing (the children lose their parent).
  void takeChildren();

  bool defined(std::string_view ANamespace) const override;
  // Writes this element and everything below it.
  void toStream(TMz_StreamWriter& AStream) override;

protected:
  // One node's part before its children; answers whether its children follow.
  virtual bool writeStart(TMz_StreamWriter& AStream);
  // The part after the children (only when writeStart answered true).
  virtual void writeEnd(TMz_StreamWriter& AStream);
  void writeAttributes(TMz_StreamWriter& AStream);

private:
  friend class TMz_XmlNode;
  template <class TChar>
  friend class TMz_XmlParser;
  // Frees an attribute or declaration that is in neither map any more.
  void releaseIfUnheld(TMz_XmlAttribute* AAttr);
  TMz_XmlAttribute* attributeOrCreate(const std::string& AIndex);
  // Turns attributes kept as text into attribute objects.
  void makeAttributes() const {
    if (fTexts) makeAttributeObjects();
  }
  void makeAttributeObjects() const;
  // The value text of the attribute named AKey among those kept as text; false when absent.
  bool findAttributeText(std::string_view AKey, std::string_view& AValue) const;

  TOwned<TMz_XmlNodes> fNodes;
  // Attributes are either objects in fAttributes or, as a load left them, text in fTexts.
  mutable std::unique_ptr<TMz_XmlAttributes> fAttributes;
  mutable TMz_XmlAttributeTexts* fTexts = nullptr;
  std::unique_ptr<TMz_XmlNamespaces> fNamespaces;
};

inline TMz_XmlElement* TMz_XmlNode::AsElement(TMz_XmlNode* ANode) {
  return ANode && (ANode->fClass & IsElement) ? static_cast<TMz_XmlElement*>(ANode) : nullptr;
}

// Takes the node out of its parent and frees it with everything below it, without recursion.
// Null does nothing.
void Mz_FreeTree(TMz_XmlNode* ANode);

}  // namespace quorvel
