#include "lib/game/XmlNode.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <new>
#include <typeinfo>

#include "framework/rtl/Finally.h"
#include "lib/game/XmlDocument.h"
#include "lib/game/XmlStream.h"

namespace quorvel {

TValue Mz_XmlStringToValue(std::string_view AData, const TFormatSettings& AFormat) {
  if (AData.empty()) return TValue();
  const char c = AData.front();
  if (c == '+' || c == '-' || c == '.' || (c >= '0' && c <= '9')) {
    if (AData.find('.') != std::string_view::npos) {
      double d;
      if (TryStrToFloat(AData, d, AFormat)) return TValue(d);
    } else {
      int32_t i;
      if (TryStrToInt(AData, i)) return TValue(i);
    }
    return TValue(std::string(AData));
  }
  if (c == 'T' || c == 't' || c == 'F' || c == 'f') {
    bool b;
    if (TryStrToBool(AData, b)) return TValue(b);
  }
  return TValue(std::string(AData));
}

std::string Mz_SingleToStr(float AValue, const TFormatSettings& AFormat) {
  if (!std::isfinite(AValue)) return FloatToStr(AValue, AFormat);
  // The fewest significant digits that read back to the same single, laid out as FloatToStr
  // lays out a double: plain digits for decimal exponents from -5 to 14, else its exponent form.
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, AValue, std::chars_format::scientific);
  const std::string_view sci(buf, size_t(res.ptr - buf));
  const size_t e = sci.find('e');
  std::string digits;
  for (char c : sci.substr(0, e))
    if (c >= '0' && c <= '9') digits += c;
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  int exponent = 0;
  std::from_chars(sci.data() + e + (sci[e + 1] == '+' ? 2 : 1), sci.data() + sci.size(), exponent);
  if (exponent < -5 || exponent > 14)
    return FloatToStrF(AValue, TFloatFormat::ffGeneral, int(digits.size()), 0, AFormat);
  std::string text = AValue < 0 ? "-" : "";
  if (exponent < 0) {
    text += '0';
    text += AFormat.DecimalSeparator;
    text.append(size_t(-exponent - 1), '0');
    text += digits;
  } else {
    if (digits.size() <= size_t(exponent) + 1) digits.append(size_t(exponent) + 1 - digits.size(), '0');
    text += digits.substr(0, size_t(exponent) + 1);
    if (digits.size() > size_t(exponent) + 1) {
      text += AFormat.DecimalSeparator;
      text += digits.substr(size_t(exponent) + 1);
    }
  }
  return text;
}

bool Mz_XmlStorable(std::string_view AText) {
  // NUL ends the reader's steps and U+FFFF (EF BF BF) is its end-of-data mark: neither reads back.
  if (AText.find('\0') != std::string_view::npos) return false;
  return AText.find("\xEF\xBF\xBF") == std::string_view::npos;
}

// ---------------------------------------------------------------------------------------------
// TMz_XmlStore

// Each block starts with a word naming its load's pages, null for a heap block.
struct TMz_XmlStore::TLoad::TPages {
  // Blocks released, less those made, once the load has ended (see ~TLoad): the pages go when
  // it comes back to zero. While the load runs only releases count here, so no release before
  // its end can reach zero.
  std::atomic<int64_t> Live{0};
  int64_t Made = 0;  // the loading thread's own count
  char* Next = nullptr;
  char* End = nullptr;
  size_t PageSize = 4096;
  std::vector<void*> Pages;

  ~TPages() {
    for (void* page : Pages) ::operator delete(page);
  }
};

namespace {
thread_local TMz_XmlStore::TLoad* GStoreLoad = nullptr;
constexpr size_t StoreHeader = 8;
// Pages grow with the load, so a small document takes little and a large one few pages.
constexpr size_t StoreMaxPage = size_t(1) << 16;
}  // namespace

TMz_XmlStore::TLoad::TLoad() : fPages(new TPages), fOuter(GStoreLoad) { GStoreLoad = this; }

TMz_XmlStore::TLoad::~TLoad() {
  GStoreLoad = fOuter;
  const int64_t made = fPages->Made;
  if (fPages->Live.fetch_add(made, std::memory_order_acq_rel) + made == 0) delete fPages;
}

void* TMz_XmlStore::Allocate(size_t ASize) {
  const size_t size = (ASize + StoreHeader + 7) & ~size_t(7);
  TLoad* load = GStoreLoad;
  char* block;
  if (!load) {
    block = static_cast<char*>(::operator new(size));
    *reinterpret_cast<TLoad::TPages**>(block) = nullptr;
    return block + StoreHeader;
  }
  TLoad::TPages& pages = *load->fPages;
  if (size_t(pages.End - pages.Next) < size) {
    const size_t pageSize = std::max(pages.PageSize, size);
    if (pages.Pages.size() == pages.Pages.capacity()) pages.Pages.reserve(pages.Pages.size() * 2 + 8);
    char* page = static_cast<char*>(::operator new(pageSize));
    pages.Pages.push_back(page);
    pages.Next = page;
    pages.End = page + pageSize;
    pages.PageSize = std::min(pages.PageSize * 2, StoreMaxPage);
  }
  block = pages.Next;
  pages.Next += size;
  ++pages.Made;
  *reinterpret_cast<TLoad::TPages**>(block) = &pages;
  return block + StoreHeader;
}

void TMz_XmlStore::Release(void* ABlock) noexcept {
  if (!ABlock) return;
  char* block = static_cast<char*>(ABlock) - StoreHeader;
  TLoad::TPages* pages = *reinterpret_cast<TLoad::TPages**>(block);
  if (!pages) {
    ::operator delete(block);
    return;
  }
  if (pages->Live.fetch_sub(1, std::memory_order_acq_rel) == 1) delete pages;
}

// ---------------------------------------------------------------------------------------------
// TMz_XmlName

namespace {
struct TNameHash {
  size_t operator()(const std::pair<std::string_view, std::string_view>& AKey) const {
    const std::hash<std::string_view> hash;
    return hash(AKey.first) * 31 + hash(AKey.second);
  }
};
thread_local TMz_XmlName::TPool* GNamePool = nullptr;
}  // namespace

struct TMz_XmlName::TPool::TNames {
  std::unordered_map<std::pair<std::string_view, std::string_view>, TMz_XmlName, TNameHash> Names;
};

TMz_XmlName::TPool::TPool() : fNames(std::make_unique<TNames>()), fOuter(GNamePool) { GNamePool = this; }
TMz_XmlName::TPool::~TPool() { GNamePool = fOuter; }

const std::string& TMz_XmlName::Empty() {
  static const std::string empty;
  return empty;
}

TMz_XmlName::TMz_XmlName(std::string ANamespace, std::string AName) {
  TPool* pool = GNamePool;
  if (!pool) {
    if (!ANamespace.empty() || !AName.empty()) fBlock = new TBlock{std::move(ANamespace), std::move(AName)};
    return;
  }
  auto& names = pool->fNames->Names;
  if (auto it = names.find({ANamespace, AName}); it != names.end()) {
    fBlock = it->second.fBlock;
    Acquire();
    return;
  }
  fBlock = new TBlock{std::move(ANamespace), std::move(AName)};
  names.emplace(std::pair<std::string_view, std::string_view>(fBlock->Namespace, fBlock->Name), *this);
}

// ---------------------------------------------------------------------------------------------
// TMz_XmlNode

TMz_XmlNode::TMz_XmlNode(TMz_XmlDocument* ADocument, TMz_XmlNode* AParent, std::string ANamespace,
                         std::string AName)
    : fDocument(ADocument), fParent(AParent), fNames(std::move(ANamespace), std::move(AName)) {}

TMz_XmlNode::~TMz_XmlNode() = default;

void TMz_XmlNode::BeforeDestruction() {
  detach();
  TPersistent::BeforeDestruction();
}

void TMz_XmlNode::detach() {
  auto* parent = AsElement(fParent);
  fParent = nullptr;
  if (!parent) return;
  if (auto* self = AsElement(this); self && parent->fNodes) {
    auto& items = parent->fNodes->FItems;
    // Children are mostly taken from the end (a failed parse, the latest addition).
    for (size_t i = items.size(); i-- > 0;)
      if (items[i] == self) {
        items.erase(items.begin() + std::ptrdiff_t(i));
        break;
      }
  }
  if (fClass & IsAttribute) {
    parent->removeAttribute(static_cast<TMz_XmlAttribute*>(this));
    if (fClass & IsDeclaration) parent->removeNamespace(static_cast<TMz_XmlNamespace*>(this));
  }
}

const TFormatSettings& TMz_XmlNode::formatSettings() const {
  static const TFormatSettings enUS = TFormatSettings::Create("en-US");
  return fDocument ? fDocument->format() : enUS;
}

TValue TMz_XmlNode::value() const { return Mz_XmlStringToValue(fValue, formatSettings()); }

void TMz_XmlNode::setValue(const TValue& AValue) {
  if (AValue.Kind() == tkFloat && !AValue.IsDateTime()) {
    const TValueTypeInfo* type = AValue.TypeInfo();
    if (type && type->Type && *type->Type == typeid(float))
      fValue = Mz_SingleToStr(static_cast<float>(AValue.AsExtended()), formatSettings());
    else
      fValue = FloatToStr(AValue.AsExtended(), formatSettings());
  } else {
    fValue = AValue.ToString();
  }
}

std::string Mz_XmlQualifiedName(std::string_view APrefix, std::string_view AName) {
  std::string qualified;
  if (APrefix.empty()) return qualified.append(AName);
  qualified.reserve(APrefix.size() + 1 + AName.size());
  return qualified.append(APrefix).append(1, ':').append(AName);
}

std::string TMz_XmlNode::getQualifiedName() const { return Mz_XmlQualifiedName(getNamespace(), name()); }

bool TMz_XmlNode::defined(std::string_view ANamespace) const {
  return fParent ? fParent->defined(ANamespace) : false;
}

void TMz_XmlNode::raiseStoringError(std::string_view AMessage) const {
  throw EMz_XmlStoringError(fDocument, nullptr, AMessage);
}

// ---------------------------------------------------------------------------------------------
// TMz_XmlAttribute, TMz_XmlNamespace

void TMz_XmlAttribute::AfterConstruction() {
  TMz_XmlNode::AfterConstruction();
  if (auto* parent = AsElement(fParent)) parent->addAttribute(this);
}

bool TMz_XmlAttribute::defined(std::string_view ANamespace) const { return TMz_XmlNode::defined(ANamespace); }

namespace {

[[noreturn]] void RaiseNotStorable(TMz_StreamWriter& AStream, const TMz_XmlDocument* ADocument,
                                   const std::string& AQualifiedName) {
  throw EMz_XmlStoringError::CreateFmt(ADocument, &AStream, "value of \"%s\" cannot be stored", {AQualifiedName});
}
[[noreturn]] void RaiseNotStorable(TMz_StreamWriter& AStream, const TMz_XmlNode& ANode) {
  RaiseNotStorable(AStream, ANode.document(), ANode.getQualifiedName());
}

// The value in quotation marks, escaped so that it reads back as it is.
void WriteQuoted(TMz_StreamWriter& AStream, const TMz_XmlNode& ANode, const std::string& AValue) {
  if (!Mz_XmlStorable(AValue)) RaiseNotStorable(AStream, ANode);
  AStream.write("\"");
  AStream.writeEscaped(AValue, true);
  AStream.write("\"");
}

// Entry AIndex as an attribute object writes itself.
void WriteAttributeText(TMz_StreamWriter& AStream, const TMz_XmlDocument* ADocument,
                        const TMz_XmlAttributeTexts& ATexts, uint32_t AIndex) {
  const std::string_view prefix = ATexts.Prefix(AIndex), name = ATexts.Name(AIndex), value = ATexts.Value(AIndex);
  if (!Mz_XmlStorable(value)) RaiseNotStorable(AStream, ADocument, Mz_XmlQualifiedName(prefix, name));
  AStream.write(" ");
  if (!prefix.empty()) {
    AStream.write(prefix);
    AStream.write(":");
  }
  AStream.write(name);
  AStream.write("=\"");
  AStream.writeEscaped(value, true);
  AStream.write("\"");
}

}  // namespace

void TMz_XmlAttribute::toStream(TMz_StreamWriter& AStream) {
  AStream.write(" ");
  AStream.write(getQualifiedName());
  AStream.write("=");
  WriteQuoted(AStream, *this, fValue);
}

void TMz_XmlNamespace::AfterConstruction() {
  TMz_XmlAttribute::AfterConstruction();
  fKind = mzNamespace;
  if (auto* parent = AsElement(fParent)) parent->addNamespace(this);
}

void TMz_XmlNamespace::toStream(TMz_StreamWriter& AStream) {
  // The "xmlns:" form, so that the declaration reads back as one.
  AStream.write(" xmlns:");
  AStream.write(getQualifiedName());
  AStream.write("=");
  WriteQuoted(AStream, *this, fValue);
}

// A declaration's key in the attribute map is "xmlns:q", so a plain attribute q beside it
// neither replaces nor hides it.
bool Mz_XmlKeyIs(const TMz_XmlNode& ANode, std::string_view AKey, bool AAttributeMap) {
  if (AAttributeMap && (ANode.fClass & TMz_XmlNode::IsDeclaration)) {
    if (!AKey.starts_with("xmlns:")) return false;
    AKey.remove_prefix(6);
  }
  const std::string& prefix = ANode.getNamespace();
  const std::string& name = ANode.name();
  if (prefix.empty()) return AKey == name;
  return AKey.size() == prefix.size() + 1 + name.size() && AKey.starts_with(prefix) && AKey[prefix.size()] == ':' &&
         AKey.ends_with(name);
}

std::string Mz_XmlKeyOf(const TMz_XmlNode& ANode, bool AAttributeMap) {
  if (AAttributeMap && (ANode.fClass & TMz_XmlNode::IsDeclaration)) {
    std::string key = "xmlns:";
    return key.append(ANode.getQualifiedName());
  }
  return ANode.getQualifiedName();
}

namespace {
std::string AttributeKey(const TMz_XmlAttribute* AAttr) { return Mz_XmlKeyOf(*AAttr, true); }
}  // namespace

TMz_XmlAttributeTexts* TMz_XmlAttributeTexts::Make(const TEntry* AEntries, uint32_t ACount,
                                                   std::string_view AChars) {
  void* block = TMz_XmlStore::Allocate(sizeof(TMz_XmlAttributeTexts) + ACount * sizeof(TEntry) + AChars.size());
  auto* texts = new (block) TMz_XmlAttributeTexts{ACount};
  if (ACount) std::memcpy(const_cast<TEntry*>(texts->Entries()), AEntries, ACount * sizeof(TEntry));
  if (!AChars.empty()) std::memcpy(const_cast<char*>(texts->Chars()), AChars.data(), AChars.size());
  return texts;
}

int TMz_XmlAttributeTexts::Find(std::string_view AKey) const {
  for (uint32_t i = 0; i < Count; ++i) {
    const TEntry& e = Entries()[i];
    const std::string_view name(Chars() + e.At + e.PrefixSize, e.NameSize);
    if (e.PrefixSize == 0) {
      if (AKey == name) return int(i);
      continue;
    }
    const std::string_view prefix(Chars() + e.At, e.PrefixSize);
    if (AKey.size() == prefix.size() + 1 + name.size() && AKey.starts_with(prefix) && AKey[prefix.size()] == ':' &&
        AKey.ends_with(name))
      return int(i);
  }
  return -1;
}

int TMz_XmlNodes::IndexOf(const TMz_XmlElement* AItem) const {
  auto it = std::find(FItems.begin(), FItems.end(), AItem);
  return it == FItems.end() ? -1 : static_cast<int>(it - FItems.begin());
}

// ---------------------------------------------------------------------------------------------
// TMz_XmlElement

void TMz_XmlElement::AfterConstruction() {
  TMz_XmlNode::AfterConstruction();
  if (auto* parent = AsElement(fParent)) parent->add(this);
}

TMz_XmlElement::~TMz_XmlElement() {
  Quietly("TMz_XmlElement: freeing children", [&] { clear(); });
  Quietly("TMz_XmlElement: freeing attributes", [&] { clearAttributes(); });
  Quietly("TMz_XmlElement: freeing namespaces", [&] { clearNamespaces(); });
}

void TMz_XmlElement::add(TMz_XmlElement* ANode) {
  if (!fNodes) fNodes.reset(New<TMz_XmlNodes>());
  fNodes->FItems.push_back(ANode);
}

namespace {

// Frees whole subtrees without recursion: a node is freed after its children were taken off
// it, so no destructor descends, however deep the tree.
void FreeSubtrees(std::vector<TMz_XmlElement*> AWork) {
  while (!AWork.empty()) {
    TMz_XmlElement* node = AWork.back();
    AWork.pop_back();
    if (TMz_XmlNodes* children = node->nodes()) {
      for (TMz_XmlElement* child : *children) AWork.push_back(child);
      node->takeChildren();
    }
    FreeQuietly(node, "TMz_XmlElement: freeing a child");
  }
}

}  // namespace

void Mz_FreeTree(TMz_XmlNode* ANode) {
  if (!ANode) return;
  ANode->detach();
  if (auto* element = TMz_XmlNode::AsElement(ANode)) FreeSubtrees({element});
  else Free(ANode);
}

void TMz_XmlElement::takeChildren() {
  if (!fNodes) return;
  for (TMz_XmlElement* child : fNodes->FItems) child->fParent = nullptr;
  fNodes->FItems.clear();
}

void TMz_XmlElement::remove(TMz_XmlElement* ANode) {
  if (!fNodes) return;
  auto& items = fNodes->FItems;
  auto it = std::find(items.begin(), items.end(), ANode);
  if (it == items.end()) return;
  items.erase(it);
  ANode->fParent = nullptr;
  FreeSubtrees({ANode});
}

void TMz_XmlElement::clear() {
  if (!fNodes) return;
  std::vector<TMz_XmlElement*> children(fNodes->FItems.begin(), fNodes->FItems.end());
  fNodes.reset();
  for (TMz_XmlElement* child : children) child->fParent = nullptr;
  FreeSubtrees(std::move(children));
}

TMz_XmlElement* TMz_XmlElement::find(std::string_view ATagName) const {
  if (fNodes)
    for (TMz_XmlElement* e : fNodes->FItems)
      if (e->name() == ATagName) return e;
  return nullptr;
}

void TMz_XmlElement::releaseIfUnheld(TMz_XmlAttribute* AAttr) {
  if (!AAttr) return;
  if (fAttributes && fAttributes->Find(AttributeKey(AAttr)) == AAttr) return;
  if (AAttr->fClass & IsDeclaration)
    if (fNamespaces && fNamespaces->Find(AAttr->getQualifiedName()) == AAttr) return;
  AAttr->fParent = nullptr;
  Free(AAttr);
}

void TMz_XmlElement::makeAttributeObjects() const {
  TMz_XmlAttributeTexts* texts = std::exchange(fTexts, nullptr);
  const auto release = Finally([&] { TMz_XmlStore::Release(texts); });
  // The objects join the map through their own construction, as the parser's would.
  auto* self = const_cast<TMz_XmlElement*>(this);
  if (!fAttributes && texts->Count) fAttributes = std::make_unique<TMz_XmlAttributes>();
  if (fAttributes) fAttributes->FItems.reserve(fAttributes->FItems.size() + texts->Count);
  for (uint32_t i = 0; i < texts->Count; ++i) {
    auto* attr = New<TMz_XmlAttribute>(fDocument, self, std::string(texts->Prefix(i)), std::string(texts->Name(i)));
    attr->setRawValue(std::string(texts->Value(i)));
  }
}

bool TMz_XmlElement::findAttributeText(std::string_view AKey, std::string_view& AValue) const {
  const int i = fTexts ? fTexts->Find(AKey) : -1;
  if (i < 0) return false;
  AValue = fTexts->Value(uint32_t(i));
  return true;
}

void TMz_XmlElement::addAttribute(TMz_XmlAttribute* AAttr) {
  makeAttributes();
  if (!fAttributes) fAttributes = std::make_unique<TMz_XmlAttributes>();
  TMz_XmlAttribute* replaced = fAttributes->Put(AttributeKey(AAttr), AAttr);
  if (replaced != AAttr) releaseIfUnheld(replaced);
}

void TMz_XmlElement::addAttribute(const std::string& AAttr, const TValue& AValue) {
  makeAttributes();
  TMz_XmlAttribute* attr = fAttributes ? fAttributes->Find(AAttr) : nullptr;
  if (!attr) attr = New<TMz_XmlAttribute>(fDocument, this, std::string(), AAttr);
  attr->setValue(AValue);
}

bool TMz_XmlElement::getAttribute(const std::string& AAttr, TValue& AValue) const {
  if (fTexts) {
    std::string_view text;
    if (!findAttributeText(AAttr, text)) {
      AValue = TValue();
      return false;
    }
    AValue = Mz_XmlStringToValue(text, formatSettings());
    return true;
  }
  TMz_XmlAttribute* attr = fAttributes ? fAttributes->Find(AAttr) : nullptr;
  if (!attr) {
    AValue = TValue();
    return false;
  }
  AValue = attr->value();
  return true;
}

bool TMz_XmlElement::getAttribute(const std::string& AAttr, std::string& AValue) const {
  TValue v;
  const bool found = getAttribute(AAttr, v);
  AValue = found ? v.AsString() : std::string();
  return found;
}

bool TMz_XmlElement::getAttribute(const std::string& AAttr, int32_t& AValue) const {
  TValue v;
  const bool found = getAttribute(AAttr, v);
  AValue = found ? v.AsInteger() : 0;
  return found;
}

bool TMz_XmlElement::getAttribute(const std::string& AAttr, bool& AValue) const {
  TValue v;
  const bool found = getAttribute(AAttr, v);
  AValue = found ? v.AsBoolean() : false;
  return found;
}

bool TMz_XmlElement::getAttribute(const std::string& AAttr, float& AValue) const {
  TValue v;
  const bool found = getAttribute(AAttr, v);
  AValue = found ? static_cast<float>(v.AsExtended()) : 0.0f;
  return found;
}

bool TMz_XmlElement::getAttribute(const std::string& AAttr, double& AValue) const {
  AValue = 0.0;
  TValue v;
  if (!getAttribute(AAttr, v)) return false;
  switch (v.Kind()) {
    case tkInteger:
    case tkInt64: AValue = static_cast<double>(v.AsInt64()); return true;
    case tkFloat: AValue = v.AsExtended(); return true;
    case tkString: {
      const std::string text = v.AsString();
      const TFormatSettings& fs = formatSettings();
      if (TryStrToFloat(text, AValue, fs)) return true;
      std::string dotted = text;
      std::replace(dotted.begin(), dotted.end(), ',', '.');
      if (TryStrToFloat(dotted, AValue, fs)) return true;
      AValue = 0.0;
      return false;
    }
    default: return false;
  }
}

void TMz_XmlElement::removeAttribute(TMz_XmlAttribute* AAttr) {
  if (AAttr && fAttributes && fAttributes->Find(AttributeKey(AAttr)) == AAttr) fAttributes->Remove(AttributeKey(AAttr));
}

void TMz_XmlElement::clearAttributes() {
  TMz_XmlStore::Release(std::exchange(fTexts, nullptr));
  if (!fAttributes) return;
  std::unique_ptr<TMz_XmlAttributes> entries = std::move(fAttributes);
  for (auto& pair : entries->FItems) releaseIfUnheld(pair.Value);
}

void TMz_XmlElement::addNamespace(TMz_XmlNamespace* ANamespace) {
  if (!fNamespaces) fNamespaces = std::make_unique<TMz_XmlNamespaces>();
  TMz_XmlNamespace* replaced = fNamespaces->Put(ANamespace->getQualifiedName(), ANamespace);
  if (replaced != ANamespace) releaseIfUnheld(replaced);
}

void TMz_XmlElement::removeNamespace(TMz_XmlNamespace* ANamespace) {
  if (ANamespace && fNamespaces && fNamespaces->Find(ANamespace->getQualifiedName()) == ANamespace)
    fNamespaces->Remove(ANamespace->getQualifiedName());
}

void TMz_XmlElement::clearNamespaces() {
  if (!fNamespaces) return;
  std::unique_ptr<TMz_XmlNamespaces> entries = std::move(fNamespaces);
  for (auto& pair : entries->FItems) releaseIfUnheld(pair.Value);
}

TMz_XmlElement* TMz_XmlElement::searchUpwardsForNode(std::string_view ATagName) const {
  for (TMz_XmlNode* p = fParent; p; p = p->parent()) {
    auto* e = dynamic_cast<TMz_XmlElement*>(p);
    if (p->name() == ATagName) return e;
    if (!e) return nullptr;
  }
  return nullptr;
}

std::string TMz_XmlElement::attribute(const std::string& AIndex) const {
  if (fTexts) {
    std::string_view text;
    return findAttributeText(AIndex, text) ? Mz_XmlStringToValue(text, formatSettings()).ToString() : std::string();
  }
  TMz_XmlAttribute* attr = fAttributes ? fAttributes->Find(AIndex) : nullptr;
  return attr ? attr->value().ToString() : std::string();
}

TMz_XmlAttribute* TMz_XmlElement::attributeOrCreate(const std::string& AIndex) {
  makeAttributes();
  if (!fAttributes) fAttributes = std::make_unique<TMz_XmlAttributes>();
  if (TMz_XmlAttribute* attr = fAttributes->Find(AIndex)) return attr;
  std::string prefix, name = AIndex;
  if (const size_t colon = AIndex.find(':'); colon != std::string::npos) {
    prefix = AIndex.substr(0, colon);
    const size_t next = AIndex.find(':', colon + 1);
    name = AIndex.substr(colon + 1, next == std::string::npos ? std::string::npos : next - colon - 1);
  }
  return New<TMz_XmlAttribute>(fDocument, this, prefix, name);
}

void TMz_XmlElement::setAttribute(const std::string& AIndex, const std::string& AText) {
  TMz_XmlAttribute* attr = attributeOrCreate(AIndex);
  attr->setValue(Mz_XmlStringToValue(AText, formatSettings()));
}

std::string TMz_XmlElement::attribute_raw(const std::string& AIndex) const {
  if (fTexts) {
    std::string_view text;
    return findAttributeText(AIndex, text) ? std::string(text) : std::string();
  }
  TMz_XmlAttribute* attr = fAttributes ? fAttributes->Find(AIndex) : nullptr;
  return attr ? attr->getRawValue() : std::string();
}

void TMz_XmlElement::setAttribute_raw(const std::string& AIndex, const std::string& AText) {
  attributeOrCreate(AIndex)->setRawValue(AText);
}

TMz_XmlNamespace* TMz_XmlElement::namespaceDecl(const std::string& AIndex) const {
  return fNamespaces ? fNamespaces->Find(AIndex) : nullptr;
}

bool TMz_XmlElement::defined(std::string_view ANamespace) const {
  if (fNamespaces && fNamespaces->ContainsKey(ANamespace)) return true;
  return TMz_XmlNode::defined(ANamespace);
}

// ---------------------------------------------------------------------------------------------
// Serialisation

void TMz_XmlElement::writeAttributes(TMz_StreamWriter& AStream) {
  if (fTexts)
    for (uint32_t i = 0; i < fTexts->Count; ++i) WriteAttributeText(AStream, fDocument, *fTexts, i);
  if (fAttributes)
    for (auto& pair : fAttributes->FItems) pair.Value->toStream(AStream);
}

bool TMz_XmlElement::writeStart(TMz_StreamWriter& AStream) {
  const bool pretty = AStream.beautified();
  switch (fKind) {
    case mzDefault: {
      if (!Mz_XmlStorable(fValue)) RaiseNotStorable(AStream, *this);
      AStream.write("<", true);
      AStream.write(getQualifiedName());
      writeAttributes(AStream);
      if ((fNodes && fNodes->Count() > 0) || !fValue.empty()) {
        AStream.write(">");
        AStream.writeEscaped(fValue, false);
        if (fNodes) {
          if (pretty) AStream.crlf();
          AStream.indent();
        }
        return true;
      }
      AStream.write(" />");
      if (pretty) AStream.crlf();
      return false;
    }
    case mzDocument:
    case mzStylesheet: {
      AStream.write("<?", true);
      AStream.write(getQualifiedName());
      if (fKind == mzDocument) {
        static const char* const Names[] = {"version", "encoding", "standalone"};
        static const char* const Defaults[] = {" version=\"1.0\"", " encoding=\"UTF-8\"", " standalone=\"yes\""};
        for (int i = 0; i < 3; ++i) {
          const int text = fTexts ? fTexts->Find(Names[i]) : -1;
          TMz_XmlAttribute* attr = fAttributes ? fAttributes->Find(Names[i]) : nullptr;
          if (text >= 0) WriteAttributeText(AStream, fDocument, *fTexts, uint32_t(text));
          else if (attr) attr->toStream(AStream);
          else AStream.write(Defaults[i]);
        }
      } else {
        writeAttributes(AStream);
      }
      AStream.write("?>");
      if (pretty) AStream.crlf();
      return true;
    }
    case mzData: {
      // No name after the opening (parsed sections are named "CDATA"); a "]]>" in the text
      // ends one section and opens the next.
      if (!Mz_XmlStorable(fValue)) RaiseNotStorable(AStream, *this);
      AStream.write("<![CDATA[", true);
      writeAttributes(AStream);
      size_t from = 0;
      for (size_t at; (at = fValue.find("]]>", from)) != std::string::npos; from = at + 2) {
        AStream.write(std::string_view(fValue).substr(from, at + 2 - from));
        AStream.write("]]><![CDATA[");
      }
      AStream.write(std::string_view(fValue).substr(from));
      AStream.write("]]>");
      if (pretty) AStream.crlf();
      return false;
    }
    case mzComment: {
      if (fValue.find("-->") != std::string::npos || !Mz_XmlStorable(fValue)) RaiseNotStorable(AStream, *this);
      AStream.write("<!--", true);
      writeAttributes(AStream);
      AStream.write(fValue);
      AStream.write("-->");
      if (pretty) AStream.crlf();
      return false;
    }
    default: throw EMz_XmlStoringError(fDocument, &AStream, "invalid node kind");
  }
}

void TMz_XmlElement::writeEnd(TMz_StreamWriter& AStream) {
  if (fKind != mzDefault) return;
  if (fNodes) AStream.outdent();
  AStream.write("</", fNodes != nullptr);
  AStream.write(getQualifiedName());
  AStream.write(">");
  if (AStream.beautified()) AStream.crlf();
}

void TMz_XmlElement::toStream(TMz_StreamWriter& AStream) {
  struct TFrame {
    TMz_XmlElement* Element;
    size_t Next;
  };
  if (!writeStart(AStream)) return;
  std::vector<TFrame> stack{{this, 0}};
  while (!stack.empty()) {
    TFrame& top = stack.back();
    TMz_XmlElement* e = top.Element;
    // Only plain elements and headers write their children.
    const bool hasChildren = (e->fKind == mzDefault || e->fKind == mzDocument || e->fKind == mzStylesheet) &&
                             e->fNodes && top.Next < e->fNodes->FItems.size();
    if (hasChildren) {
      TMz_XmlElement* child = e->fNodes->FItems[top.Next++];
      if (child->writeStart(AStream)) stack.push_back({child, 0});
      continue;
    }
    e->writeEnd(AStream);
    stack.pop_back();
  }
}

}  // namespace quorvel
