#include "framework/rtl/Object.h"

#include <algorithm>
#include <cstdint>
#include <unordered_map>

#include "framework/rtl/Finally.h"
#include "framework/rtl/SysUtils.h"

namespace quorvel {

// ---------------------------------------------------------------------------------------
// TObject

TObject::~TObject() { delete FMonitor.load(std::memory_order_acquire); }

std::recursive_mutex& TObject::MonitorLock() const {
  std::recursive_mutex* m = FMonitor.load(std::memory_order_acquire);
  if (m) return *m;
  auto* created = new std::recursive_mutex;
  if (FMonitor.compare_exchange_strong(m, created, std::memory_order_acq_rel)) return *created;
  delete created;  // another thread won the race; m holds its mutex
  return *m;
}

const TClass* TObject::StaticClass() {
  static const TClass meta([] {
    TClassInit init;
    init.Name = "TObject";
    init.Unit = "Fw.Rtl";
    init.Type = &typeid(TObject);
    init.Factory = [](TObject*) -> TObject* { return new TObject(); };
    return init;
  }());
  return &meta;
}

const TClass* TObject::ClassType() const { return StaticClass(); }

std::string TObject::ClassName() const {
  const TClass* cls = ClassType();
  // A class without FW_CLASS reports its registered ancestor's metaclass; its name is its own.
  if (cls->CppType() == typeid(*this)) return cls->ClassName();
  return value_detail::Demangle(typeid(*this).name());
}

std::string TObject::UnitName() const { return ClassType()->UnitName(); }

std::string TObject::QualifiedClassName() const {
  const TClass* cls = ClassType();
  if (cls->CppType() == typeid(*this)) return cls->QualifiedClassName();
  return ClassName();
}

bool TObject::InheritsFrom(const TClass* cls) const { return ClassType()->InheritsFrom(cls); }

int32_t TObject::GetHashCode() const {
  // The run-time answers the object's address, truncated to 32 bits.
  return static_cast<int32_t>(reinterpret_cast<uintptr_t>(this));
}

void Free(TObject* obj) {
  if (!obj) return;
  auto remove = Finally([&] { delete obj; });
  obj->BeforeDestruction();
}

// ---------------------------------------------------------------------------------------
// Members

TValue TPropInfo::GetValue(const TObject* obj) const {
  if (!Getter) throw EPropertyError("Property " + Name + " is write-only");
  return Getter(obj);
}

void TPropInfo::SetValue(TObject* obj, const TValue& value) const {
  if (!Setter) throw EPropertyError("Property " + Name + " is read-only");
  Setter(obj, value);
}

TValue TMethodInfo::Invoke(TObject* obj, std::span<const TValue> args) const {
  if (args.size() != ParamCount()) throw EInvocationError("Parameter count mismatch");
  return Invoker(obj, args);
}

namespace {
[[noreturn]] void RaiseFieldKind(const TFieldInfo& f) {
  throw EInvalidOperation("Field " + f.Name + " does not support this access");
}
}  // namespace

TObject* TFieldInfo::GetObject(const TObject* obj) const {
  if (!ObjectGetter) RaiseFieldKind(*this);
  return ObjectGetter(obj);
}
void TFieldInfo::SetObject(TObject* obj, TObject* value) const {
  if (!ObjectSetter) RaiseFieldKind(*this);
  ObjectSetter(obj, value);
}
void TFieldInfo::CopyValue(const TObject* source, TObject* dest) const {
  if (!Copier) RaiseFieldKind(*this);
  Copier(source, dest);
}
size_t TFieldInfo::GetLength(const TObject* obj) const {
  if (!LengthGetter) RaiseFieldKind(*this);
  return LengthGetter(obj);
}
void TFieldInfo::SetLength(TObject* obj, size_t n) const {
  if (!LengthSetter) RaiseFieldKind(*this);
  LengthSetter(obj, n);
}
TValue TFieldInfo::GetElement(const TObject* obj, size_t i) const {
  if (!ElementGetter) RaiseFieldKind(*this);
  return ElementGetter(obj, i);
}
void TFieldInfo::SetElement(TObject* obj, size_t i, const TValue& v) const {
  if (!ElementSetter) RaiseFieldKind(*this);
  ElementSetter(obj, i, v);
}

// ---------------------------------------------------------------------------------------
// TClass

TClass::TClass(TClassInit init)
    : FName(std::move(init.Name)),
      FUnit(std::move(init.Unit)),
      FParent(init.Parent),
      FType(init.Type ? init.Type : &typeid(TObject)),
      FDescribe(init.Describe),
      FFactory(std::move(init.Factory)) {
  FQualifiedName = FUnit.empty() ? FName : FUnit + "." + FName;
}

TClass::~TClass() = default;

void TClass::EnsureDescribed() const {
  std::call_once(FDescribed, [this] {
    if (FDescribe) FDescribe(const_cast<TClass&>(*this));
  });
}

bool TClass::InheritsFrom(const TClass* cls) const {
  for (const TClass* c = this; c; c = c->FParent)
    if (c == cls) return true;
  return false;
}

bool TClass::IsAbstract() const {
  EnsureDescribed();
  return !FFactory;
}

TObject* TClass::Create(TObject* owner) const {
  EnsureDescribed();
  if (!FFactory) throw EAbstractError("Cannot create an instance of abstract class " + FName);
  TObject* obj = FFactory(owner);
  auto remove = Finally([&] { delete obj; });
  obj->AfterConstruction();
  remove.Dismiss();
  return obj;
}

const std::vector<TPropInfo>& TClass::DeclaredProperties() const {
  EnsureDescribed();
  return FProps;
}
const std::vector<TMethodInfo>& TClass::DeclaredMethods() const {
  EnsureDescribed();
  return FMethods;
}
const std::vector<TFieldInfo>& TClass::DeclaredFields() const {
  EnsureDescribed();
  return FFields;
}

namespace {
template <class Info>
std::vector<const Info*> MergeByName(const TClass* cls,
                                     const std::vector<Info>& (TClass::*declared)() const,
                                     bool replaceByName) {
  std::vector<const TClass*> chain;
  for (const TClass* c = cls; c; c = c->ClassParent()) chain.push_back(c);
  std::vector<const Info*> result;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it)
    for (const Info& info : ((*it)->*declared)()) {
      auto same = replaceByName ? std::find_if(result.begin(), result.end(),
                                               [&](const Info* r) { return SameText(r->Name, info.Name); })
                                : result.end();
      if (same != result.end())
        *same = &info;
      else
        result.push_back(&info);
    }
  return result;
}

template <class Info>
const Info* FindByName(const TClass* cls, const std::vector<Info>& (TClass::*declared)() const,
                       std::string_view name) {
  for (const TClass* c = cls; c; c = c->ClassParent())
    for (const Info& info : (c->*declared)())
      if (SameText(info.Name, name)) return &info;
  return nullptr;
}
}  // namespace

std::vector<const TPropInfo*> TClass::GetProperties() const {
  return MergeByName(this, &TClass::DeclaredProperties, true);
}
std::vector<const TMethodInfo*> TClass::GetMethods() const {
  return MergeByName(this, &TClass::DeclaredMethods, true);
}
std::vector<const TFieldInfo*> TClass::GetFields() const {
  return MergeByName(this, &TClass::DeclaredFields, false);
}
const TPropInfo* TClass::FindProperty(std::string_view name) const {
  return FindByName(this, &TClass::DeclaredProperties, name);
}
const TMethodInfo* TClass::FindMethod(std::string_view name) const {
  return FindByName(this, &TClass::DeclaredMethods, name);
}
const TFieldInfo* TClass::FindField(std::string_view name) const {
  return FindByName(this, &TClass::DeclaredFields, name);
}

// ---------------------------------------------------------------------------------------
// Registry

namespace {

struct TRegistry {
  std::mutex Lock;
  std::vector<const TClass*> Classes;  // registration order
  std::unordered_map<std::string, std::vector<const TClass*>> BySimple;  // lower-case name
  std::unordered_map<std::string, const TClass*> ByQualified;            // lower-case name
};

TRegistry& Registry() {
  // Never destroyed: finalisations may unregister after static destruction began.
  static TRegistry* registry = new TRegistry;
  return *registry;
}

}  // namespace

void RegisterClass(const TClass* cls) {
  if (!cls) throw EArgumentNilException("RegisterClass: class is nil");
  TRegistry& r = Registry();
  std::lock_guard lock(r.Lock);
  if (std::find(r.Classes.begin(), r.Classes.end(), cls) != r.Classes.end()) return;
  const std::string qualified = LowerCase(cls->QualifiedClassName());
  if (r.ByQualified.count(qualified))
    throw EListError("A class named " + cls->QualifiedClassName() + " already exists");
  r.Classes.push_back(cls);
  r.ByQualified[qualified] = cls;
  r.BySimple[LowerCase(cls->ClassName())].push_back(cls);
}

void RegisterClasses(std::initializer_list<const TClass*> classes) {
  for (const TClass* c : classes) RegisterClass(c);
}

void UnRegisterClass(const TClass* cls) {
  if (!cls) return;
  TRegistry& r = Registry();
  std::lock_guard lock(r.Lock);
  auto it = std::find(r.Classes.begin(), r.Classes.end(), cls);
  if (it == r.Classes.end()) return;
  r.Classes.erase(it);
  r.ByQualified.erase(LowerCase(cls->QualifiedClassName()));
  auto simple = r.BySimple.find(LowerCase(cls->ClassName()));
  if (simple != r.BySimple.end()) {
    std::erase(simple->second, cls);
    if (simple->second.empty()) r.BySimple.erase(simple);
  }
}

void UnRegisterClasses(std::initializer_list<const TClass*> classes) {
  for (const TClass* c : classes) UnRegisterClass(c);
}

const TClass* GetClass(std::string_view name) {
  TRegistry& r = Registry();
  const std::string key = LowerCase(name);
  std::lock_guard lock(r.Lock);
  if (key.find('.') != std::string::npos) {
    auto q = r.ByQualified.find(key);
    return q == r.ByQualified.end() ? nullptr : q->second;
  }
  // Two units may declare classes of one simple name: the first registered answers.
  auto s = r.BySimple.find(key);
  return s == r.BySimple.end() ? nullptr : s->second.front();
}

const TClass* FindClass(std::string_view name) {
  if (const TClass* cls = GetClass(name)) return cls;
  throw EClassNotFound("Class " + std::string(name) + " not found");
}

bool IsClassRegistered(const TClass* cls) {
  TRegistry& r = Registry();
  std::lock_guard lock(r.Lock);
  return std::find(r.Classes.begin(), r.Classes.end(), cls) != r.Classes.end();
}

std::vector<const TClass*> RegisteredClasses() {
  TRegistry& r = Registry();
  std::lock_guard lock(r.Lock);
  return r.Classes;
}

// ---------------------------------------------------------------------------------------
// Access by name

namespace {
const TPropInfo& PropertyOf(const TObject* obj, std::string_view name) {
  if (!obj) throw EArgumentNilException("Object is nil");
  if (const TPropInfo* p = obj->ClassType()->FindProperty(name)) return *p;
  throw EPropertyError("Property " + std::string(name) + " does not exist");
}
}  // namespace

TValue GetPropValue(const TObject* obj, std::string_view name) { return PropertyOf(obj, name).GetValue(obj); }

void SetPropValue(TObject* obj, std::string_view name, const TValue& value) {
  PropertyOf(obj, name).SetValue(obj, value);
}

TValue InvokeMethod(TObject* obj, std::string_view name, std::span<const TValue> args) {
  if (!obj) throw EArgumentNilException("Object is nil");
  const TMethodInfo* m = obj->ClassType()->FindMethod(name);
  if (!m) throw EInvocationError("Method " + std::string(name) + " not found");
  return m->Invoke(obj, args);
}

TValue InvokeMethod(TObject* obj, std::string_view name, std::initializer_list<TValue> args) {
  return InvokeMethod(obj, name, std::span<const TValue>(args.begin(), args.size()));
}

}  // namespace quorvel
