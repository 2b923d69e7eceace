#include "framework/classes/Filer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <mutex>
#include <set>
#include <unordered_map>

#include "framework/classes/Collection.h"
#include "framework/classes/Events.h"
#include "framework/classes/StoredProperties.h"
#include "framework/io/Stream.h"
#include "framework/math/AlphaColor.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/StringList.h"
#include "framework/rtl/SysUtils.h"

namespace quorvel {

// ---------------------------------------------------------------------------------------
// Properties that are not stored

namespace {
struct TNotStored {
  std::mutex Lock;
  std::set<std::pair<const TClass*, std::string>, std::less<>> Names;  // names upper-cased
};
TNotStored& NotStored() {
  static TNotStored names;
  return names;
}
}  // namespace

void SetPropertyNotStored(const TClass* AClass, std::string_view AName) {
  TNotStored& n = NotStored();
  std::lock_guard guard(n.Lock);
  n.Names.emplace(AClass, UpperCase(std::string(AName)));
}

bool IsPropertyStored(const TPropInfo* AProp) {
  TNotStored& n = NotStored();
  std::lock_guard guard(n.Lock);
  return !n.Names.contains(std::pair<const TClass*, std::string>(AProp->Owner, UpperCase(AProp->Name)));
}

// ---------------------------------------------------------------------------------------
// Set types

namespace filer_detail {
namespace {
struct TSetTypes {
  std::mutex Lock;
  std::unordered_map<std::type_index, TSetType> Map;
};
TSetTypes& SetTypes() {
  static TSetTypes types;
  return types;
}
}  // namespace

void RegisterSetType(std::type_index Type, const TSetType& Info) {
  TSetTypes& t = SetTypes();
  std::lock_guard lock(t.Lock);
  t.Map[Type] = Info;
}

const TSetType* FindSetType(std::type_index Type) {
  TSetTypes& t = SetTypes();
  std::lock_guard lock(t.Lock);
  auto it = t.Map.find(Type);
  return it == t.Map.end() ? nullptr : &it->second;
}
}  // namespace filer_detail

namespace {

const event_detail::TEventBinder* EventBinderOf(const TValue& v) {
  const TValueTypeInfo* info = v.TypeInfo();
  return info && info->Type ? event_detail::FindEventBinder(*info->Type) : nullptr;
}

bool IsAlphaColorProp(const TPropInfo* prop) { return prop->TypeName == "TAlphaColor"; }

}  // namespace

// ---------------------------------------------------------------------------------------
// TReader

struct TReader::TFixup {
  enum TKind { Reference, Event } Kind;
  TObject* Target;
  const TPropInfo* Prop;
  std::string Value;
  std::string Context;  // "Viewport1.Camera", for messages
  int Line;
  const event_detail::TEventBinder* Binder = nullptr;
};

struct TReader::TState {
  explicit TState(std::string_view text) : Parser(text) {}
  TFormParser Parser;
  std::vector<TComponent*> Loaded;
  std::vector<TFixup> Fixups;
  // The property being read: DefineProperty looks for it.
  std::string DefinedName;
  bool DefinedHandled = false;
  std::string Context = "";
  int ContextLine = 0;
  int Depth = 0;  // nesting of objects, collections and lists
};

// The reader's private steps, kept out of the header.
struct TReaderAccess {
  TReader& R;
  TReader::TState& S;
  TFormParser& P;

  // Nesting is recursion here: hostile text must not exhaust the stack.
  struct TNesting {
    TReaderAccess& A;
    explicit TNesting(TReaderAccess& a) : A(a) {
      if (++A.S.Depth > 200) A.P.Error("Nesting too deep");
    }
    ~TNesting() { --A.S.Depth; }
  };

  [[noreturn]] void ReadError(const std::string& message) const {
    throw EReadError(Format("Error reading %s: %s on line %d", {S.Context, message, S.ContextLine}));
  }

  // "object Name: Class" (the "object" already taken); Name may be left out.
  std::pair<std::string, std::string> ReadHeader() {
    std::string first = P.ExpectIdent();
    std::string name, className;
    if (P.IsSymbol(':')) {
      P.Next();
      name = std::move(first);
      className = P.ExpectIdent();
    } else {
      className = std::move(first);
    }
    if (P.IsSymbol('[')) {  // an index written by some writers; order is the file's anyway
      P.Next();
      if (P.Token().Kind != TFormTokenKind::Integer) P.Error("Integer expected");
      P.Next();
      P.Expect(']');
    }
    return {name, className};
  }

  void CheckObjectKeyword() {
    if (P.IsIdent("object")) {
      P.Next();
      return;
    }
    if (P.IsIdent("inherited") || P.IsIdent("inline")) P.Error(Format("'%s' is not supported", {P.Token().Text}));
    P.Error("'object' expected");
  }

  void ReadRoot() {
    TComponent* root = R.FRoot;
    CheckObjectKeyword();
    auto [name, className] = ReadHeader();
    root->IncludeState(csLoading);
    root->IncludeState(csReading);
    S.Loaded.push_back(root);
    if (!name.empty() && root->GetName() != name) SetRootName(name);
    ReadBody(root);
    if (P.Token().Kind != TFormTokenKind::EndOfText) P.Error("End of text expected");
  }

  // The root takes the resource's name, made unique among the global components.
  void SetRootName(const std::string& name) {
    std::string candidate = name;
    for (int i = 1;; ++i) {
      TComponent* other = FindGlobalComponent(candidate);
      if (!other || other == R.FRoot) break;
      candidate = name + "_" + std::to_string(i);
    }
    S.Context = candidate;
    S.ContextLine = P.Line();
    try {
      R.FRoot->SetName(candidate);
    } catch (const EComponentError& e) {
      ReadError(e.Message());
    }
  }

  void ReadBody(TComponent* component) {
    for (;;) {
      if (P.IsIdent("end")) {
        P.Next();
        return;
      }
      if (P.Token().Kind == TFormTokenKind::EndOfText) P.Error("'end' expected");
      if (P.IsIdent("object") || P.IsIdent("inherited") || P.IsIdent("inline")) {
        CheckObjectKeyword();
        ReadChild(component);
      } else {
        ReadProperty(component, component->GetName());
      }
    }
  }

  void ReadChild(TComponent* parent) {
    TNesting nesting(*this);
    TComponent* root = R.FRoot;
    const int line = P.Line();
    auto [name, className] = ReadHeader();
    S.Context = name.empty() ? className : name;
    S.ContextLine = line;
    const TClass* cls = GetClass(className);
    if (!cls) throw EClassNotFound(Format("Class %s not found on line %d", {className, line}));
    if (!cls->InheritsFrom(TComponent::StaticClass())) ReadError(Format("%s is not a component class", {className}));

    // A component the root made itself before reading is filled in, not made again.
    TComponent* component = root->FindComponent(name);
    if (component && std::find(S.Loaded.begin(), S.Loaded.end(), component) != S.Loaded.end())
      ReadError(Format("A component named %s already exists", {name}));
    if (component && !component->ClassType()->InheritsFrom(cls)) component = nullptr;
    if (!component) component = cls->CreateAs<TComponent>(root);
    component->IncludeState(csLoading);
    component->IncludeState(csReading);
    S.Loaded.push_back(component);
    try {
      component->SetName(name);
    } catch (const EComponentError& e) {
      ReadError(e.Message());
    }
    component->SetParentComponent(parent);
    BindField(component, line);
    ReadBody(component);
  }

  // The root's published field of the component's name points at it.
  void BindField(TComponent* component, int line) {
    if (component->GetName().empty()) return;
    const TFieldInfo* field = R.FRoot->ClassType()->FindField(component->GetName());
    if (!field || field->Kind != TFieldKind::Class || !field->ObjectSetter) return;
    try {
      field->SetObject(R.FRoot, component);
    } catch (const EInvalidCast&) {
      S.ContextLine = line;
      ReadError(Format("Field %s is not of class %s", {field->Name, component->ClassName()}));
    }
  }

  void ReadProperty(TObject* instance, const std::string& instancePath) {
    const int line = P.Line();
    const std::string path = P.ExpectIdent();
    S.Context = instancePath.empty() ? path : instancePath + "." + path;
    S.ContextLine = line;
    P.Expect('=');

    TObject* target = instance;
    size_t start = 0;
    for (size_t dot; (dot = path.find('.', start)) != std::string::npos; start = dot + 1) {
      const std::string segment = path.substr(start, dot - start);
      const TPropInfo* prop = target->ClassType()->FindProperty(segment);
      if (!prop || prop->Kind != tkClass || !prop->IsReadable())
        ReadError(Format("Property %s does not exist", {segment}));
      TObject* sub = prop->GetValue(target).AsObject();
      if (!sub) ReadError(Format("Property %s is nil", {segment}));
      target = sub;
    }
    const std::string name = path.substr(start);

    if (auto* persistent = dynamic_cast<TPersistent*>(target)) {
      // A defined property may read a collection, whose items' properties come through here
      // again: the outer property's state is put back afterwards.
      const std::string context = S.Context;
      const std::string savedName = std::exchange(S.DefinedName, name);
      const bool savedHandled = std::exchange(S.DefinedHandled, false);
      persistent->DefineProperties(&R);
      const bool handled = S.DefinedHandled;
      S.DefinedName = savedName;
      S.DefinedHandled = savedHandled;
      S.Context = context;
      S.ContextLine = line;
      if (handled) return;
    }
    if (auto* strings = dynamic_cast<TStrings*>(target); strings && SameText(name, "Strings")) {
      ReadStrings(strings);
      return;
    }
    const TPropInfo* prop = target->ClassType()->FindProperty(name);
    if (!prop) ReadError(Format("Property %s does not exist", {name}));
    ReadPropValue(target, prop);
  }

  void ReadStrings(TStrings* strings) {
    P.Expect('(');
    strings->BeginUpdate();
    auto end = Finally([&] { strings->EndUpdate(); });
    strings->Clear();
    while (!P.IsSymbol(')')) strings->Add(R.ReadString());
    P.Next();
  }

  void ReadPropValue(TObject* target, const TPropInfo* prop) {
    const TFormToken& t = P.Token();
    TValue value;
    switch (t.Kind) {
      case TFormTokenKind::Integer:
        value = TValue::From(t.Int);
        break;
      case TFormTokenKind::Float:
        value = TValue::From(t.Float);
        break;
      case TFormTokenKind::String:
        value = TValue::From(t.Text);
        break;
      case TFormTokenKind::Ident:
        if (!IdentValue(target, prop, value)) return;  // deferred
        break;
      case TFormTokenKind::Symbol:
        if (t.Symbol == '[') {
          value = SetValue(target, prop);
          SetProp(target, prop, value);
          return;
        }
        if (t.Symbol == '<') {
          TCollection* collection = nullptr;
          if (prop->Kind == tkClass && prop->IsReadable())
            collection = dynamic_cast<TCollection*>(prop->GetValue(target).AsObject());
          if (!collection) ReadError("Invalid property value");
          R.ReadCollection(collection);
          return;
        }
        ReadError("Invalid property value");
      default:
        ReadError("Invalid property value");
    }
    P.Next();
    SetProp(target, prop, value);
  }

  // False when the value waits for the fixups (references and events).
  bool IdentValue(TObject* target, const TPropInfo* prop, TValue& value) {
    const std::string& ident = P.Token().Text;
    if (prop->Kind == tkClass) {
      if (SameText(ident, "nil")) {
        value = TValue::From(nullptr);
        return true;
      }
      S.Fixups.push_back({TReader::TFixup::Reference, target, prop, ident, S.Context, S.ContextLine});
      P.Next();
      return false;
    }
    const TValue current = prop->IsReadable() ? prop->GetValue(target) : TValue();
    const TValueTypeInfo* type = current.TypeInfo();
    if (const event_detail::TEventBinder* binder = EventBinderOf(current)) {
      TReader::TFixup fixup{TReader::TFixup::Event, target, prop, ident, S.Context, S.ContextLine};
      fixup.Binder = binder;
      S.Fixups.push_back(std::move(fixup));
      P.Next();
      return false;
    }
    if ((type && type->IsBoolean) || prop->TypeName == "Boolean") {
      if (SameText(ident, "True")) value = TValue::From(true);
      else if (SameText(ident, "False")) value = TValue::From(false);
      else ReadError("Invalid property value");
      return true;
    }
    if (type && type->Enum) {
      int64_t ordinal;
      if (!type->Enum->TryOrdinalOf(ident, ordinal)) ReadError(Format("Invalid property value %s", {ident}));
      value = TValue::FromOrdinal(type, ordinal);
      return true;
    }
    if (IsAlphaColorProp(prop)) {
      TAlphaColor color;
      if (!IdentToAlphaColor(ident, color)) ReadError(Format("Invalid property value %s", {ident}));
      value = TValue::From(color);
      return true;
    }
    ReadError(Format("Invalid property value %s", {ident}));
  }

  TValue SetValue(TObject* target, const TPropInfo* prop) {
    std::string text = "[";
    P.Next();
    while (!P.IsSymbol(']')) {
      if (text.size() > 1) P.Expect(',');
      if (text.size() > 1) text += ',';
      text += P.ExpectIdent();
    }
    P.Next();
    text += ']';
    const TValue current = prop->IsReadable() ? prop->GetValue(target) : TValue();
    const TValueTypeInfo* type = current.TypeInfo();
    const filer_detail::TSetType* setType =
        type && type->Kind == tkSet ? filer_detail::FindSetType(*type->Type) : nullptr;
    if (!setType) ReadError("Invalid property value");
    try {
      return setType->FromText(text);
    } catch (const EConvertError& e) {
      ReadError(e.Message());
    }
  }

  void SetProp(TObject* target, const TPropInfo* prop, const TValue& value) {
    try {
      prop->SetValue(target, value);
    } catch (const EInvalidCast&) {
      ReadError("Invalid property value");
    } catch (const EConvertError& e) {
      ReadError(e.Message());
    } catch (const EPropertyError& e) {
      ReadError(e.Message());
    }
  }

  TComponent* FindReference(const std::string& name) const {
    TComponent* root = R.FRoot;
    if (SameText(name, root->GetName())) return root;
    if (TComponent* c = root->FindComponent(name)) return c;
    const size_t dot = name.find('.');
    if (dot == std::string::npos) return FindGlobalComponent(name);
    const std::string owner = name.substr(0, dot);
    TComponent* top = SameText(owner, root->GetName()) ? root : FindGlobalComponent(owner);
    return top ? top->FindComponent(std::string_view(name).substr(dot + 1)) : nullptr;
  }

  void ResolveFixups() {
    // Setters run in file order, as the values would have been applied.
    for (const TReader::TFixup& f : S.Fixups) {
      S.Context = f.Context;
      S.ContextLine = f.Line;
      if (f.Kind == TReader::TFixup::Reference) {
        TComponent* c = FindReference(f.Value);
        if (!c) ReadError(Format("Unresolved reference to '%s'", {f.Value}));
        SetProp(f.Target, f.Prop, TValue::From(c));
      } else {
        const TMethodInfo* method = R.FRoot->ClassType()->FindMethod(f.Value);
        if (!method) ReadError(Format("Method %s not found in %s", {f.Value, R.FRoot->ClassName()}));
        if (method->ParamCount() != f.Binder->ParamCount)
          ReadError(Format("Method %s does not fit the event", {f.Value}));
        SetProp(f.Target, f.Prop, f.Binder->Bind(R.FRoot, method, method->Name));
      }
    }
    S.Fixups.clear();
  }

  void FinishLoading() {
    std::exception_ptr error;
    for (TComponent* c : S.Loaded) c->ExcludeState(csReading);
    for (TComponent* c : S.Loaded) {
      try {
        c->Loaded();
      } catch (...) {
        if (!error) error = std::current_exception();
      }
      c->ExcludeState(csLoading);
    }
    if (error) std::rethrow_exception(error);
  }

  void AbandonLoading() noexcept {
    for (TComponent* c : S.Loaded) {
      c->ExcludeState(csReading);
      c->ExcludeState(csLoading);
    }
  }

  void SkipValue() {
    TNesting nesting(*this);
    const TFormToken& t = P.Token();
    if (t.Kind == TFormTokenKind::EndOfText) P.Error("Value expected");
    if (t.Kind != TFormTokenKind::Symbol) {
      P.Next();
      return;
    }
    switch (t.Symbol) {
      case '(':
        P.Next();
        while (!P.IsSymbol(')')) SkipValue();
        P.Next();
        return;
      case '[':
        P.Next();
        while (!P.IsSymbol(']')) {
          if (P.Token().Kind == TFormTokenKind::EndOfText) P.Error("']' expected");
          P.Next();
        }
        P.Next();
        return;
      case '<':
        P.Next();
        while (!P.IsSymbol('>')) {
          if (!P.IsIdent("item")) P.Error("'item' expected");
          P.Next();
          while (!P.IsIdent("end")) {
            P.ExpectIdent();
            P.Expect('=');
            SkipValue();
          }
          P.Next();
        }
        P.Next();
        return;
      default:
        P.Error("Value expected");
    }
  }
};

TReader::TReader(TComponent* Root, std::string_view Text) : FState(std::make_unique<TState>(Text)) { FRoot = Root; }

TReader::~TReader() = default;

int TReader::Line() const { return FState->Parser.Line(); }

void TReader::ReadRootComponent() {
  TReaderAccess a{*this, *FState, FState->Parser};
  {
    auto abandon = Finally([&] { a.AbandonLoading(); });
    a.ReadRoot();
    a.ResolveFixups();
    abandon.Dismiss();
  }
  a.FinishLoading();
}

void TReader::DefineProperty(const std::string& Name, TReaderProc ReadData, TWriterProc, bool) {
  if (FState->DefinedHandled || !SameText(Name, FState->DefinedName)) return;
  FState->DefinedHandled = true;
  if (ReadData) ReadData(this);
  else SkipValue();
}

void TReader::DefineBinaryProperty(const std::string& Name, TStreamProc ReadData, TStreamProc, bool) {
  if (FState->DefinedHandled || !SameText(Name, FState->DefinedName)) return;
  FState->DefinedHandled = true;
  TReaderAccess a{*this, *FState, FState->Parser};
  const TFormToken& t = FState->Parser.Token();
  if (t.Kind != TFormTokenKind::Binary) a.ReadError("Binary data expected");
  TMemoryStream stream;
  const std::string& hex = t.Text;
  stream.SetSize(static_cast<int64_t>(hex.size() / 2));
  auto* bytes = static_cast<uint8_t*>(stream.GetMemory());
  auto nibble = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
  for (size_t i = 0; i < hex.size(); i += 2) bytes[i / 2] = static_cast<uint8_t>(nibble(hex[i]) * 16 + nibble(hex[i + 1]));
  stream.SetPosition(0);
  FState->Parser.Next();
  if (ReadData) ReadData(&stream);
}

TValueType TReader::NextValue() const {
  const TFormParser& p = FState->Parser;
  const TFormToken& t = p.Token();
  switch (t.Kind) {
    case TFormTokenKind::Integer:
      return TValueType::vaInt;
    case TFormTokenKind::Float:
      return TValueType::vaExtended;
    case TFormTokenKind::String:
      return TValueType::vaString;
    case TFormTokenKind::Binary:
      return TValueType::vaBinary;
    case TFormTokenKind::Ident:
      if (p.IsIdent("True")) return TValueType::vaTrue;
      if (p.IsIdent("False")) return TValueType::vaFalse;
      if (p.IsIdent("nil")) return TValueType::vaNil;
      return TValueType::vaIdent;
    case TFormTokenKind::Symbol:
      if (t.Symbol == '(') return TValueType::vaList;
      if (t.Symbol == '[') return TValueType::vaSet;
      if (t.Symbol == '<') return TValueType::vaCollection;
      return TValueType::vaNull;
    default:
      return TValueType::vaNull;
  }
}

std::string TReader::ReadString() {
  TFormParser& p = FState->Parser;
  if (p.Token().Kind != TFormTokenKind::String) TReaderAccess{*this, *FState, p}.ReadError("String expected");
  std::string s = p.Token().Text;
  p.Next();
  return s;
}

int64_t TReader::ReadInt64() {
  TFormParser& p = FState->Parser;
  if (p.Token().Kind != TFormTokenKind::Integer) TReaderAccess{*this, *FState, p}.ReadError("Integer expected");
  const int64_t v = p.Token().Int;
  p.Next();
  return v;
}

int32_t TReader::ReadInteger() {
  const int64_t v = ReadInt64();
  if (v < INT32_MIN || v > UINT32_MAX) TReaderAccess{*this, *FState, FState->Parser}.ReadError("Integer out of range");
  return static_cast<int32_t>(v);
}

double TReader::ReadFloat() {
  TFormParser& p = FState->Parser;
  double v;
  if (p.Token().Kind == TFormTokenKind::Float) v = p.Token().Float;
  else if (p.Token().Kind == TFormTokenKind::Integer) v = static_cast<double>(p.Token().Int);
  else TReaderAccess{*this, *FState, p}.ReadError("Number expected");
  p.Next();
  return v;
}

bool TReader::ReadBoolean() {
  TFormParser& p = FState->Parser;
  bool v;
  if (p.IsIdent("True")) v = true;
  else if (p.IsIdent("False")) v = false;
  else TReaderAccess{*this, *FState, p}.ReadError("Boolean expected");
  p.Next();
  return v;
}

std::string TReader::ReadIdent() {
  TFormParser& p = FState->Parser;
  if (p.Token().Kind != TFormTokenKind::Ident) TReaderAccess{*this, *FState, p}.ReadError("Identifier expected");
  return p.ExpectIdent();
}

void TReader::ReadListBegin() { FState->Parser.Expect('('); }

bool TReader::EndOfList() const {
  const TFormParser& p = FState->Parser;
  return p.IsSymbol(')') || p.IsSymbol('>') || p.Token().Kind == TFormTokenKind::EndOfText;
}

void TReader::ReadListEnd() { FState->Parser.Expect(')'); }

void TReader::SkipValue() { TReaderAccess{*this, *FState, FState->Parser}.SkipValue(); }

void TReader::ReadCollection(TCollection* Collection) {
  TReaderAccess a{*this, *FState, FState->Parser};
  TFormParser& p = FState->Parser;
  if (!Collection) a.ReadError("Invalid property value");
  TReaderAccess::TNesting nesting(a);
  p.Expect('<');
  // Pending references into items that Clear is about to free would dangle.
  const auto& items = Collection->ItemList();
  std::erase_if(FState->Fixups, [&](const TFixup& f) {
    return std::find(items.begin(), items.end(), f.Target) != items.end();
  });
  const std::string context = FState->Context;
  Collection->BeginUpdate();
  auto end = Finally([&] { Collection->EndUpdate(); });
  Collection->Clear();
  while (!p.IsSymbol('>')) {
    if (!p.IsIdent("item")) p.Error("'item' expected");
    p.Next();
    TCollectionItem* item = Collection->Add();
    const std::string itemPath = Format("%s[%d]", {context, item->GetIndex()});
    while (!p.IsIdent("end")) {
      if (p.Token().Kind == TFormTokenKind::EndOfText) p.Error("'end' expected");
      a.ReadProperty(item, itemPath);
    }
    p.Next();
  }
  p.Next();
}

// ---------------------------------------------------------------------------------------
// TWriter

namespace {

std::string QuoteString(std::string_view s) {
  if (s.empty()) return "''";
  std::string out;
  bool inQuotes = false;
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 32 || c == 127) {
      if (inQuotes) out += '\'';
      inQuotes = false;
      out += '#';
      out += std::to_string(c);
    } else {
      if (!inQuotes) out += '\'';
      inQuotes = true;
      if (ch == '\'') out += '\'';
      out += ch;
    }
  }
  if (inQuotes) out += '\'';
  return out;
}

// The shortest text that reads back as the same value (as a float for Single properties).
std::string FloatText(double v, bool single = false) {
  char buf[64];
  auto [end, ec] = single ? std::to_chars(buf, buf + sizeof buf, static_cast<float>(v))
                          : std::to_chars(buf, buf + sizeof buf, v);
  std::string s(buf, ec == std::errc() ? end : buf);
  if (s.find_first_of(".e") == std::string::npos) s += ".0";
  return s;
}

}  // namespace

struct TWriter::TState {
  std::string Out;
  int Indent = 0;
  int ListDepth = 0;
  std::string Prefix;  // path of the sub-object whose defined properties are written
  int Depth = 0;
};

namespace {
struct TWriterAccess {
  TWriter& W;
  TWriter::TState& S;
  TComponent* Root;

  void Line(std::string_view text) {
    if (!S.Out.empty()) S.Out += '\n';
    S.Out.append(static_cast<size_t>(S.Indent) * 2, ' ');
    S.Out += text;
  }

  void PropLine(const std::string& name, const std::string& text) { Line(name + " = " + text); }

  std::string ReferenceName(TComponent* c) const {
    if (c == Root || c->Owner() == Root || !c->Owner()) return c->GetName();
    return c->Owner()->GetName() + "." + c->GetName();
  }

  std::string ValueText(const TPropInfo* prop, const TValue& v) const {
    if (IsAlphaColorProp(prop)) {
      const auto color = static_cast<TAlphaColor>(static_cast<uint32_t>(v.AsInt64()));
      std::string ident;
      if (AlphaColorToIdent(color, ident)) return ident;
      // Appended rather than "$" + text: g++ 12 at -O3 reports a false overlap (-Wrestrict)
      // for a literal prepended to a temporary string.
      std::string text = "$";
      return text.append(IntToHex(ToCardinal(color), 8));
    }
    switch (v.Kind()) {
      case tkInteger:
      case tkInt64:
        return IntToStr(v.AsInt64());
      case tkFloat: {
        const double d = v.AsExtended();
        return std::isfinite(d) ? FloatText(d, prop->TypeName == "Single") : std::string();
      }
      case tkString:
        return QuoteString(v.AsString());
      case tkEnumeration: {
        if (v.IsBoolean()) return v.AsBoolean() ? "True" : "False";
        const int64_t ordinal = v.AsOrdinal();
        if (const TEnumInfo* info = v.TypeInfo()->Enum)
          if (const std::string* name = info->NameOf(ordinal)) return *name;
        return IntToStr(ordinal);
      }
      case tkSet:
        return v.ToString();
      default:
        return {};
    }
  }

  void WriteProperties(TObject* obj, const std::string& prefix) {
    // Sub-objects that point back at their holders must not send the writer round forever.
    if (S.Depth > 16) return;
    ++S.Depth;
    const bool isComponent = prefix.empty() && dynamic_cast<TComponent*>(obj);
    for (const TPropInfo* prop : obj->ClassType()->GetProperties()) {
      if (isComponent && SameText(prop->Name, "Name")) continue;
      if (!prop->IsReadable() || !IsPropertyStored(prop)) continue;
      TValue v;
      try {
        v = prop->GetValue(obj);
      } catch (const Exception&) {
        continue;  // a getter that cannot answer in this state has nothing to store
      }
      const std::string name = prefix + prop->Name;
      if (prop->Kind == tkClass) {
        WriteObjectValue(prop, name, v.AsObject());
        continue;
      }
      if (const event_detail::TEventBinder* binder = EventBinderOf(v)) {
        const std::string method = binder->MethodName(v);
        if (!method.empty() && prop->IsWritable()) PropLine(name, method);
        continue;
      }
      if (!prop->IsWritable()) continue;
      const std::string text = ValueText(prop, v);
      if (!text.empty()) PropLine(name, text);
    }
    if (auto* persistent = dynamic_cast<TPersistent*>(obj)) {
      const std::string saved = std::exchange(S.Prefix, prefix);
      persistent->DefineProperties(&W);
      S.Prefix = saved;
    }
    --S.Depth;
  }

  void WriteObjectValue(const TPropInfo* prop, const std::string& name, TObject* o) {
    if (!o) return;
    if (auto* c = dynamic_cast<TComponent*>(o); c && !c->GetComponentStyle().Contains(csSubComponent)) {
      if (prop->IsWritable() && !c->GetName().empty()) PropLine(name, ReferenceName(c));
      return;
    }
    if (auto* collection = dynamic_cast<TCollection*>(o)) {
      Line(name + " = ");
      W.WriteCollection(collection);
      return;
    }
    if (auto* strings = dynamic_cast<TStrings*>(o)) {
      Line(name + ".Strings = ");
      W.WriteListBegin();
      for (int i = 0; i < strings->Count(); ++i) W.WriteString(strings->Get(i));
      W.WriteListEnd();
      return;
    }
    WriteProperties(o, name + ".");
  }

  void WriteComponent(TComponent* c) {
    const std::string header = c->GetName().empty() ? c->ClassName() : c->GetName() + ": " + c->ClassName();
    Line("object " + header);
    ++S.Indent;
    WriteProperties(c, "");
    std::vector<TComponent*> children;
    c->GetChildren([&](TComponent* child) { children.push_back(child); }, Root);
    if (c == Root)
      for (TComponent* owned : Root->ComponentList())
        if (!owned->HasParent() && std::find(children.begin(), children.end(), owned) == children.end())
          children.push_back(owned);
    for (TComponent* child : children)
      if (!child->GetComponentStyle().Contains(csSubComponent)) WriteComponent(child);
    --S.Indent;
    Line("end");
  }
};
}  // namespace

TWriter::TWriter(TComponent* Root) : FState(std::make_unique<TState>()) { FRoot = Root; }

TWriter::~TWriter() = default;

std::string TWriter::WriteRootComponent() {
  FRoot->IncludeState(csWriting);
  {
    auto done = Finally([&] { FRoot->ExcludeState(csWriting); });
    TWriterAccess{*this, *FState, FRoot}.WriteComponent(FRoot);
  }
  FState->Out += '\n';
  return std::move(FState->Out);
}

void TWriter::DefineProperty(const std::string& Name, TReaderProc, TWriterProc WriteData, bool HasData) {
  if (!HasData || !WriteData) return;
  TWriterAccess{*this, *FState, FRoot}.Line(FState->Prefix + Name + " = ");
  WriteData(this);
}

void TWriter::DefineBinaryProperty(const std::string& Name, TStreamProc, TStreamProc WriteData, bool HasData) {
  if (!HasData || !WriteData) return;
  TMemoryStream stream;
  WriteData(&stream);
  TWriterAccess{*this, *FState, FRoot}.Line(FState->Prefix + Name + " = ");
  WriteBinary(stream.GetMemory(), static_cast<size_t>(stream.GetSize()));
}

namespace {
// Values after "name = " go on that line; values inside a list get a line each.
void BeginValue(TWriter::TState& s, TWriterAccess a) {
  if (s.ListDepth > 0) a.Line("");
}
}  // namespace

void TWriter::WriteString(std::string_view Value) {
  BeginValue(*FState, {*this, *FState, FRoot});
  FState->Out += QuoteString(Value);
}

void TWriter::WriteInteger(int64_t Value) {
  BeginValue(*FState, {*this, *FState, FRoot});
  FState->Out += IntToStr(Value);
}

void TWriter::WriteFloat(double Value) {
  if (!std::isfinite(Value)) throw EWriteError("Cannot write a float that is not finite");
  BeginValue(*FState, {*this, *FState, FRoot});
  FState->Out += FloatText(Value);
}

void TWriter::WriteBoolean(bool Value) { WriteIdent(Value ? "True" : "False"); }

void TWriter::WriteIdent(std::string_view Ident) {
  BeginValue(*FState, {*this, *FState, FRoot});
  FState->Out += Ident;
}

void TWriter::WriteListBegin() {
  BeginValue(*FState, {*this, *FState, FRoot});
  FState->Out += '(';
  ++FState->ListDepth;
  ++FState->Indent;
}

void TWriter::WriteListEnd() {
  --FState->ListDepth;
  --FState->Indent;
  FState->Out += ')';
}

void TWriter::WriteCollection(TCollection* Collection) {
  BeginValue(*FState, {*this, *FState, FRoot});
  FState->Out += '<';
  if (!Collection) {
    FState->Out += '>';
    return;
  }
  // Item values sit on their own lines whatever list the collection is in.
  const int savedDepth = std::exchange(FState->ListDepth, 0);
  TWriterAccess a{*this, *FState, FRoot};
  ++FState->Indent;
  for (TCollectionItem* item : Collection->ItemList()) {
    a.Line("item");
    ++FState->Indent;
    a.WriteProperties(item, "");
    --FState->Indent;
    a.Line("end");
  }
  --FState->Indent;
  FState->ListDepth = savedDepth;
  FState->Out += '>';
}

void TWriter::WriteBinary(const void* Data, size_t Size) {
  BeginValue(*FState, {*this, *FState, FRoot});
  FState->Out += '{';
  static const char* digits = "0123456789ABCDEF";
  const auto* bytes = static_cast<const uint8_t*>(Data);
  ++FState->Indent;
  TWriterAccess a{*this, *FState, FRoot};
  for (size_t i = 0; i < Size; ++i) {
    if (i % 32 == 0) a.Line("");
    FState->Out += digits[bytes[i] >> 4];
    FState->Out += digits[bytes[i] & 15];
  }
  --FState->Indent;
  FState->Out += '}';
}

}  // namespace quorvel
