#pragma once
// The root object, its metaclasses and the one class registry.
//
// Objects: two-phase creation and destruction. New<T>(args...) runs the constructor and then
// AfterConstruction (where virtual calls go); Free(p) runs BeforeDestruction and then deletes.
// Both accept null (Free(nullptr) does nothing); FreeAndNil(p) clears p
// before freeing.
//
// Ownership, one way for each case:
//   - a framework object owned by a field or a local is TOwned<T>, made with New<T>(...) (or
//     a metaclass's Create), so AfterConstruction and BeforeDestruction both run; never a
//     plain unique_ptr<T> and never a raw pointer marked "owned";
//   - a field that holds either its own object or one handed in is TMaybeOwned<T>, not a raw
//     pointer beside a "borrowed" flag;
//   - a plain pointer never owns: it refers to an object someone else frees;
//   - byte buffers are std::vector<uint8_t>, never new[] with hand resets;
//   - destructors free their members one by one with FreeQuietly / FreeQuietlyAndNil
//     (framework/rtl/Finally.h), so one failure cannot leak the rest; cleanup that must run
//     on both paths is a Finally scope guard, not catch (...) { undo; throw; } undo;.
//
// Metaclasses: one TClass (or subclass) instance per class, made on first use by the class's
// StaticClass(). It carries the names, the parent, a factory (virtual constructor) and the
// published properties, methods and fields. A class declares itself with
//
//   class TQuorvelLight : public TLight {
//     FW_CLASS(TQuorvelLight, TLight)                    // in the header, first in the body
//     ...
//   };
//   FW_CLASS_IMPL(TQuorvelLight, "Quorvel.Light")        // in the .cpp: unit name
//   void TQuorvelLight::Register(ClassBuilder<TQuorvelLight>& b) {
//     b.Prop("Intensity", &Self::GetIntensity, &Self::SetIntensity)
//      .Field("FDef", &Self::FDef, Reference)
//      .Method("Foo", &Self::Foo);
//   }
//
// Register runs once, the first time the class's members (or its factory) are asked for, so
// no static constructor does any work and no order between units matters. Polymorphic class
// functions live on a metaclass subclass (FW_CLASS_META / FW_CLASS_IMPL_META, see
// ObjectTest's TContextClass example).
//
// Registry: RegisterClass(es) / UnRegisterClass(es) are explicit calls made at unit
// initialisation and finalisation; registering again is harmless. FindClass raises
// EClassNotFound ("Class %s not found"), GetClass answers nullptr; both take a simple name
// (ASCII case-insensitive) or a qualified name ("Quorvel.Model.TQuorvelModel").
#include <atomic>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

#include "framework/rtl/Exceptions.h"
#include "framework/rtl/Value.h"

namespace quorvel {

// A method called by name with arguments that do not fit it.
QUORVEL_EXCEPTION(EInvocationError, Exception);

class TClass;
template <class T>
class ClassBuilder;

class TObject {
public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject();

  // The metaclass of the object's most-derived class that declares FW_CLASS.
  virtual const TClass* ClassType() const;
  static const TClass* StaticClass();
  // The class name of the object's actual C++ class (also for classes without FW_CLASS).
  std::string ClassName() const;
  std::string UnitName() const;
  std::string QualifiedClassName() const;
  bool InheritsFrom(const TClass* cls) const;

  // "obj is T" / "obj as T" (As raises EInvalidCast "Invalid class typecast").
  template <class T>
  bool Is() const {
    return dynamic_cast<const T*>(this) != nullptr;
  }
  template <class T>
  T* As() {
    if (auto* p = dynamic_cast<T*>(this)) return p;
    throw EInvalidCast("Invalid class typecast");
  }
  template <class T>
  const T* As() const {
    return const_cast<TObject*>(this)->As<T>();
  }

  // Two-phase construction and destruction: virtual calls belong here, not in ctor/dtor.
  virtual void AfterConstruction() {}
  virtual void BeforeDestruction() {}

  virtual std::string ToString() const { return ClassName(); }
  virtual bool Equals(const TObject* obj) const { return obj == this; }
  virtual int32_t GetHashCode() const;

  // The object's re-entrant monitor lock, created on first use (TMonitor builds on it).
  std::recursive_mutex& MonitorLock() const;

private:
  mutable std::atomic<std::recursive_mutex*> FMonitor{nullptr};
};

// "nil is T" is false; "nil as T" is nil.
template <class T>
bool Is(const TObject* obj) {
  return obj && obj->Is<T>();
}
template <class T>
T* As(TObject* obj) {
  return obj ? obj->As<T>() : nullptr;
}
template <class T>
const T* As(const TObject* obj) {
  return obj ? obj->As<T>() : nullptr;
}

// Runs the constructor, then AfterConstruction; an exception there frees the object again.
template <class T, class... A>
T* New(A&&... args) {
  T* obj = new T(std::forward<A>(args)...);
  try {
    obj->AfterConstruction();
  } catch (...) {
    delete obj;
    throw;
  }
  return obj;
}

// BeforeDestruction, then delete. Null does nothing. When BeforeDestruction raises, the object
// is still deleted and the exception passes on.
void Free(TObject* obj);

template <class T>
void FreeAndNil(T*& obj) {
  T* p = obj;
  obj = nullptr;
  Free(p);
}

// unique_ptr that frees through Free (BeforeDestruction runs).
struct TObjectDeleter {
  void operator()(TObject* obj) const { Free(obj); }
};
template <class T>
using TOwned = std::unique_ptr<T, TObjectDeleter>;

// FreeAndNil for an owning field: cleared first, then freed (raising as Free does).
template <class T>
void FreeAndNil(TOwned<T>& obj) {
  Free(obj.release());
}

// A reference that may or may not own its object: one handed in stays its caller's, one made
// here is freed here. Replaces "borrowed" flags beside raw pointers.
template <class T>
class TMaybeOwned {
public:
  TMaybeOwned() = default;
  TMaybeOwned(TMaybeOwned&& o) noexcept : FPtr(o.FPtr), FOwns(o.FOwns) { o.FPtr = nullptr; }
  TMaybeOwned& operator=(TMaybeOwned&& o) {
    if (this != &o) {
      Reset();
      FPtr = o.FPtr;
      FOwns = o.FOwns;
      o.FPtr = nullptr;
    }
    return *this;
  }
  ~TMaybeOwned() {
    if (FOwns) Free(FPtr);
  }
  static TMaybeOwned Owned(T* p) { return TMaybeOwned(p, true); }
  static TMaybeOwned Borrowed(T* p) { return TMaybeOwned(p, false); }

  T* get() const noexcept { return FPtr; }
  T* operator->() const noexcept { return FPtr; }
  T& operator*() const noexcept { return *FPtr; }
  explicit operator bool() const noexcept { return FPtr != nullptr; }
  bool Owns() const noexcept { return FOwns && FPtr; }
  // Frees an owned object (raising as Free does) and clears the reference.
  void Reset() {
    T* p = FPtr;
    bool owns = FOwns;
    FPtr = nullptr;
    FOwns = false;
    if (owns) Free(p);
  }
  void ResetOwned(T* p) {
    Reset();
    FPtr = p;
    FOwns = true;
  }
  void ResetBorrowed(T* p) {
    Reset();
    FPtr = p;
    FOwns = false;
  }
  // Gives up the object without freeing it.
  T* Release() noexcept {
    T* p = FPtr;
    FPtr = nullptr;
    FOwns = false;
    return p;
  }

private:
  TMaybeOwned(T* p, bool owns) : FPtr(p), FOwns(owns) {}
  T* FPtr = nullptr;
  bool FOwns = false;
};

// ---------------------------------------------------------------------------------------
// Published members.

struct TPropInfo {
  std::string Name;
  TTypeKind Kind = tkUnknown;
  std::string TypeName;
  const TValueTypeInfo* ValueType = nullptr;  // the property's type (enumeration names, ...)
  const TClass* PropClass = nullptr;  // class-typed properties: the declared class
  const TClass* Owner = nullptr;      // the class that registered the property
  std::function<TValue(const TObject*)> Getter;
  std::function<void(TObject*, const TValue&)> Setter;

  bool IsReadable() const { return static_cast<bool>(Getter); }
  bool IsWritable() const { return static_cast<bool>(Setter); }
  // EPropertyError for a property without reader / writer; EInvalidCast when the value does
  // not convert to the property's type.
  TValue GetValue(const TObject* obj) const;
  void SetValue(TObject* obj, const TValue& value) const;
};

struct TMethodInfo {
  std::string Name;
  std::vector<std::string> ParamTypeNames;
  std::string ReturnTypeName;  // "" for a procedure
  const TClass* Owner = nullptr;
  std::function<TValue(TObject*, std::span<const TValue>)> Invoker;

  size_t ParamCount() const { return ParamTypeNames.size(); }
  // EInvocationError "Parameter count mismatch"; EInvalidCast for an argument of a wrong kind.
  TValue Invoke(TObject* obj, std::span<const TValue> args) const;
  TValue Invoke(TObject* obj, std::initializer_list<TValue> args) const {
    return Invoke(obj, std::span<const TValue>(args.begin(), args.size()));
  }
};

// What the duplicator walks.
enum class TFieldKind { Class, DynArray, Value };
// The non-owning marker: a Reference field points at an object that someone else owns.
enum TFieldOwnership { Owned, Reference };

struct TFieldInfo {
  std::string Name;
  TFieldKind Kind = TFieldKind::Value;
  std::string TypeName;
  const TClass* DeclaredClass = nullptr;  // Class: the field's class; DynArray: element class
  bool NonOwning = false;
  const TClass* Owner = nullptr;  // the class that declares the field

  std::function<TValue(const TObject*)> Getter;
  std::function<void(TObject*, const TValue&)> Setter;
  // Class fields (raw or owning smart pointer): the object, and replacing it (a smart pointer
  // frees the one it held).
  std::function<TObject*(const TObject*)> ObjectGetter;
  std::function<void(TObject*, TObject*)> ObjectSetter;
  // Value and DynArray fields: copies the field from one object to another by C++ assignment.
  std::function<void(const TObject*, TObject*)> Copier;
  // DynArray fields: length, element access.
  std::function<size_t(const TObject*)> LengthGetter;
  std::function<void(TObject*, size_t)> LengthSetter;
  std::function<TValue(const TObject*, size_t)> ElementGetter;
  std::function<void(TObject*, size_t, const TValue&)> ElementSetter;

  TValue GetValue(const TObject* obj) const { return Getter(obj); }
  void SetValue(TObject* obj, const TValue& v) const { Setter(obj, v); }
  TObject* GetObject(const TObject* obj) const;
  void SetObject(TObject* obj, TObject* value) const;
  void CopyValue(const TObject* source, TObject* dest) const;
  size_t GetLength(const TObject* obj) const;
  void SetLength(TObject* obj, size_t n) const;
  TValue GetElement(const TObject* obj, size_t i) const;
  void SetElement(TObject* obj, size_t i, const TValue& v) const;
};

// ---------------------------------------------------------------------------------------
// Metaclasses.

using TFactory = std::function<TObject*(TObject* owner)>;

// What FW_CLASS_IMPL hands to a metaclass's constructor.
struct TClassInit {
  std::string Name;
  std::string Unit;
  const TClass* Parent = nullptr;
  const std::type_info* Type = nullptr;
  TFactory Factory;                      // empty: abstract
  void (*Describe)(TClass&) = nullptr;   // runs ClassBuilder<T> over T::Register
};

class TClass {
public:
  explicit TClass(TClassInit init);
  TClass(const TClass&) = delete;
  TClass& operator=(const TClass&) = delete;
  virtual ~TClass();

  const std::string& ClassName() const { return FName; }
  const std::string& UnitName() const { return FUnit; }
  // Unit + "." + class name ("Quorvel.Model.TQuorvelModel"); the class name alone without unit.
  const std::string& QualifiedClassName() const { return FQualifiedName; }
  const TClass* ClassParent() const { return FParent; }
  const std::type_info& CppType() const { return *FType; }
  bool InheritsFrom(const TClass* cls) const;
  // Whether this metaclass is (a subclass of) the metaclass type M, e.g. TContextClass.
  template <class M>
  const M* MetaAs() const {
    return dynamic_cast<const M*>(this);
  }

  // Virtual constructor: the factory, then AfterConstruction. An abstract class (no factory)
  // raises EAbstractError.
  bool IsAbstract() const;
  TObject* Create(TObject* owner = nullptr) const;
  template <class T>
  T* CreateAs(TObject* owner = nullptr) const {
    TObject* obj = Create(owner);
    if (auto* t = dynamic_cast<T*>(obj)) return t;
    Free(obj);
    throw EInvalidCast("Invalid class typecast");
  }

  // Members registered by this class only, in registration order.
  const std::vector<TPropInfo>& DeclaredProperties() const;
  const std::vector<TMethodInfo>& DeclaredMethods() const;
  const std::vector<TFieldInfo>& DeclaredFields() const;
  // Members of this class and its ancestors: ancestors first. A property or method that a
  // descendant registers again under the same name replaces the ancestor's (in its place).
  std::vector<const TPropInfo*> GetProperties() const;
  std::vector<const TMethodInfo*> GetMethods() const;
  std::vector<const TFieldInfo*> GetFields() const;  // every declared field, ancestors first
  // Lookup by name (ASCII case-insensitive), most-derived first; null when absent.
  const TPropInfo* FindProperty(std::string_view name) const;
  const TMethodInfo* FindMethod(std::string_view name) const;
  const TFieldInfo* FindField(std::string_view name) const;

private:
  template <class T>
  friend class ClassBuilder;
  void EnsureDescribed() const;

  std::string FName, FUnit, FQualifiedName;
  const TClass* FParent = nullptr;
  const std::type_info* FType = nullptr;
  void (*FDescribe)(TClass&) = nullptr;
  mutable std::once_flag FDescribed;
  TFactory FFactory;
  std::vector<TPropInfo> FProps;
  std::vector<TMethodInfo> FMethods;
  std::vector<TFieldInfo> FFields;
};

// Registry.
void RegisterClass(const TClass* cls);
void RegisterClasses(std::initializer_list<const TClass*> classes);
void UnRegisterClass(const TClass* cls);
void UnRegisterClasses(std::initializer_list<const TClass*> classes);
// The framework's own spelling of the same registration (RegisterFwClasses).
inline void RegisterFwClasses(std::initializer_list<const TClass*> classes) { RegisterClasses(classes); }
const TClass* GetClass(std::string_view name);   // nullptr when not registered
const TClass* FindClass(std::string_view name);  // EClassNotFound "Class %s not found"
bool IsClassRegistered(const TClass* cls);
std::vector<const TClass*> RegisteredClasses();  // in registration order

// Property access by name (EPropertyError "Property %s does not exist" for an unknown name).
TValue GetPropValue(const TObject* obj, std::string_view name);
void SetPropValue(TObject* obj, std::string_view name, const TValue& value);
// Method call by name (EInvocationError "Method %s not found" for an unknown name).
TValue InvokeMethod(TObject* obj, std::string_view name, std::initializer_list<TValue> args);
TValue InvokeMethod(TObject* obj, std::string_view name, std::span<const TValue> args);

// ---------------------------------------------------------------------------------------
// ClassBuilder: fills a class's published members from member pointers or callables.

namespace class_detail {

template <class F>
struct TCallable;
template <class R, class C, class... A>
struct TCallable<R (C::*)(A...)> {
  using Result = R;
  using Args = std::tuple<A...>;
  static constexpr bool IsMember = true;
};
template <class R, class C, class... A>
struct TCallable<R (C::*)(A...) const> : TCallable<R (C::*)(A...)> {};
template <class R, class C, class... A>
struct TCallable<R (C::*)(A...) noexcept> : TCallable<R (C::*)(A...)> {};
template <class R, class C, class... A>
struct TCallable<R (C::*)(A...) const noexcept> : TCallable<R (C::*)(A...)> {};
// Lambdas and function pointers: the first argument is the object.
template <class R, class O, class... A>
struct TCallable<R (*)(O, A...)> {
  using Result = R;
  using Args = std::tuple<A...>;
  static constexpr bool IsMember = false;
};
template <class L>
  requires requires { &L::operator(); }
struct TCallable<L> : TCallable<decltype(+std::declval<L>())> {};

template <class U>
using Bare = std::remove_cvref_t<U>;

template <class U>
const TClass* ClassOfPointer() {
  if constexpr (value_detail::ObjectPointer<U>)
    return std::remove_cv_t<std::remove_pointer_t<U>>::StaticClass();
  else
    return nullptr;
}

template <class U>
std::string TypeNameFor() {
  if constexpr (value_detail::ObjectPointer<U>)
    return std::remove_cv_t<std::remove_pointer_t<U>>::StaticClass()->ClassName();
  else
    return value_detail::NameOf<U>();
}

template <class T>
T* Self(TObject* obj) {
  if (auto* t = dynamic_cast<T*>(obj)) return t;
  throw EInvalidCast("Invalid class typecast");
}
template <class T>
const T* Self(const TObject* obj) {
  if (auto* t = dynamic_cast<const T*>(obj)) return t;
  throw EInvalidCast("Invalid class typecast");
}

template <class U>
inline constexpr bool IsUniquePtr = false;
template <class U, class D>
inline constexpr bool IsUniquePtr<std::unique_ptr<U, D>> = true;

}  // namespace class_detail

template <class T>
class ClassBuilder {
public:
  explicit ClassBuilder(TClass& cls) : FClass(cls) {}
  TClass& Class() { return FClass; }

  // A published property. Getter: `R (T::*)() const`, a data member `R T::*`, or a callable
  // `R(const T*)`. Setter (optional): `void (T::*)(A)`, or a callable `void(T*, A)`.
  template <class G, class S = std::nullptr_t>
  ClassBuilder& Prop(std::string name, G getter, S setter = nullptr) {
    TPropInfo p;
    p.Name = std::move(name);
    p.Owner = &FClass;
    using R = class_detail::Bare<decltype(Read(getter, static_cast<const T*>(nullptr)))>;
    p.Kind = value_detail::KindOf<R>();
    p.TypeName = class_detail::TypeNameFor<R>();
    p.PropClass = class_detail::ClassOfPointer<R>();
    p.ValueType = ValueTypeOf<R>();
    p.Getter = [getter](const TObject* obj) -> TValue {
      return TValue::From(Read(getter, class_detail::Self<T>(obj)));
    };
    if constexpr (!std::is_same_v<S, std::nullptr_t>) {
      p.Setter = [setter](TObject* obj, const TValue& v) { Write(setter, class_detail::Self<T>(obj), v); };
    }
    FClass.FProps.push_back(std::move(p));
    return *this;
  }
  // A property read and written directly through a data member.
  template <class F>
  ClassBuilder& PropField(std::string name, F T::*member) {
    return Prop(std::move(name), member, member);
  }

  // A published method, called by name with TValue arguments.
  template <class M>
  ClassBuilder& Method(std::string name, M method) {
    using C = class_detail::TCallable<M>;
    TMethodInfo m;
    m.Name = std::move(name);
    m.Owner = &FClass;
    AddParamNames<typename C::Args>(m.ParamTypeNames, std::make_index_sequence<std::tuple_size_v<typename C::Args>>());
    if constexpr (!std::is_void_v<typename C::Result>)
      m.ReturnTypeName = class_detail::TypeNameFor<class_detail::Bare<typename C::Result>>();
    m.Invoker = [method](TObject* obj, std::span<const TValue> args) -> TValue {
      return Call<typename C::Args>(method, class_detail::Self<T>(obj), args,
                                    std::make_index_sequence<std::tuple_size_v<typename C::Args>>());
    };
    FClass.FMethods.push_back(std::move(m));
    return *this;
  }

  // A field for the duplicator. Kind: Class for pointers to objects (raw, TOwned or
  // unique_ptr), DynArray for std::vector, Value for anything else.
  template <class F>
  ClassBuilder& Field(std::string name, F T::*member, TFieldOwnership ownership = Owned) {
    TFieldInfo f;
    f.Name = std::move(name);
    f.Owner = &FClass;
    f.NonOwning = ownership == Reference;
    f.TypeName = value_detail::NameOf<F>();
    if constexpr (value_detail::ObjectPointer<F>) {
      f.Kind = TFieldKind::Class;
      f.DeclaredClass = class_detail::ClassOfPointer<F>();
      f.TypeName = f.DeclaredClass->ClassName();
      f.ObjectGetter = [member](const TObject* obj) -> TObject* { return class_detail::Self<T>(obj)->*member; };
      f.ObjectSetter = [member](TObject* obj, TObject* v) {
        class_detail::Self<T>(obj)->*member = v ? v->As<std::remove_pointer_t<F>>() : nullptr;
      };
      f.Getter = [member](const TObject* obj) { return TValue::From(class_detail::Self<T>(obj)->*member); };
      f.Setter = [member](TObject* obj, const TValue& v) { class_detail::Self<T>(obj)->*member = v.AsType<F>(); };
    } else if constexpr (class_detail::IsUniquePtr<F>) {
      using P = typename F::pointer;
      f.Kind = TFieldKind::Class;
      f.DeclaredClass = class_detail::ClassOfPointer<P>();
      f.TypeName = f.DeclaredClass->ClassName();
      f.ObjectGetter = [member](const TObject* obj) -> TObject* { return (class_detail::Self<T>(obj)->*member).get(); };
      f.ObjectSetter = [member](TObject* obj, TObject* v) {
        (class_detail::Self<T>(obj)->*member).reset(v ? v->As<std::remove_pointer_t<P>>() : nullptr);
      };
      f.Getter = [member](const TObject* obj) { return TValue::From((class_detail::Self<T>(obj)->*member).get()); };
      f.Setter = [member](TObject* obj, const TValue& v) { (class_detail::Self<T>(obj)->*member).reset(v.AsType<P>()); };
    } else {
      f.Kind = value_detail::IsStdVector<F> ? TFieldKind::DynArray : TFieldKind::Value;
      f.Getter = [member](const TObject* obj) { return TValue::From(class_detail::Self<T>(obj)->*member); };
      f.Setter = [member](TObject* obj, const TValue& v) { class_detail::Self<T>(obj)->*member = v.AsType<F>(); };
      if constexpr (std::is_copy_assignable_v<F>)
        f.Copier = [member](const TObject* src, TObject* dst) {
          class_detail::Self<T>(dst)->*member = class_detail::Self<T>(src)->*member;
        };
      if constexpr (value_detail::IsStdVector<F>) {
        using E = typename F::value_type;
        f.DeclaredClass = class_detail::ClassOfPointer<E>();
        f.LengthGetter = [member](const TObject* obj) { return (class_detail::Self<T>(obj)->*member).size(); };
        f.LengthSetter = [member](TObject* obj, size_t n) { (class_detail::Self<T>(obj)->*member).resize(n); };
        f.ElementGetter = [member](const TObject* obj, size_t i) {
          return TValue::From((class_detail::Self<T>(obj)->*member).at(i));
        };
        f.ElementSetter = [member](TObject* obj, size_t i, const TValue& v) {
          (class_detail::Self<T>(obj)->*member).at(i) = v.AsType<E>();
        };
      }
    }
    FClass.FFields.push_back(std::move(f));
    return *this;
  }

  // Replaces the default factory (virtual constructor) of the class.
  ClassBuilder& Factory(TFactory factory) {
    FClass.FFactory = std::move(factory);
    return *this;
  }

private:
  template <class G>
  static decltype(auto) Read(const G& getter, const T* obj) {
    if constexpr (std::is_member_object_pointer_v<G>)
      return obj->*getter;
    else
      return std::invoke(getter, obj);
  }
  template <class S>
  static void Write(const S& setter, T* obj, const TValue& v) {
    if constexpr (std::is_member_object_pointer_v<S>) {
      using F = class_detail::Bare<decltype(obj->*setter)>;
      obj->*setter = v.AsType<F>();
    } else {
      using A = class_detail::Bare<std::tuple_element_t<0, typename class_detail::TCallable<S>::Args>>;
      std::invoke(setter, obj, v.AsType<A>());
    }
  }
  template <class Args, size_t... I>
  static void AddParamNames(std::vector<std::string>& names, std::index_sequence<I...>) {
    (names.push_back(class_detail::TypeNameFor<class_detail::Bare<std::tuple_element_t<I, Args>>>()), ...);
  }
  template <class Args, class M, size_t... I>
  static TValue Call(const M& method, T* obj, std::span<const TValue> args, std::index_sequence<I...>) {
    if (args.size() != sizeof...(I)) throw EInvocationError("Parameter count mismatch");
    using R = typename class_detail::TCallable<M>::Result;
    if constexpr (std::is_void_v<R>) {
      std::invoke(method, obj, args[I].template AsType<class_detail::Bare<std::tuple_element_t<I, Args>>>()...);
      return TValue();
    } else {
      return TValue::From(
          std::invoke(method, obj, args[I].template AsType<class_detail::Bare<std::tuple_element_t<I, Args>>>()...));
    }
  }

  TClass& FClass;
};

namespace class_detail {

// The default factory: T(owner) when T names its owner parameter type (`using TOwnerArg =
// TComponent*;` in the component base), else T(); none for abstract classes.
template <class T>
TFactory DefaultFactory() {
  if constexpr (std::is_abstract_v<T>) {
    return {};
  } else if constexpr (requires { requires std::is_constructible_v<T, typename T::TOwnerArg>; }) {
    return [](TObject* owner) -> TObject* {
      using O = typename T::TOwnerArg;
      O o = nullptr;
      if (owner) {
        o = dynamic_cast<O>(owner);
        if (!o) throw EInvalidCast("Invalid class typecast");
      }
      return new T(o);
    };
  } else if constexpr (std::is_default_constructible_v<T>) {
    return [](TObject*) -> TObject* { return new T(); };
  } else {
    return {};
  }
}

template <class T>
TClassInit MakeClassInit(const char* name, const char* unit) {
  TClassInit init;
  init.Name = name;
  init.Unit = unit ? unit : "";
  init.Parent = T::inherited::StaticClass();
  init.Type = &typeid(T);
  init.Factory = DefaultFactory<T>();
  init.Describe = [](TClass& cls) {
    ClassBuilder<T> b(cls);
    T::Register(b);
  };
  return init;
}

}  // namespace class_detail

}  // namespace quorvel

// In the class body, first: declares the metaclass accessors and Register. The access after
// it is private, as at the start of a class body.
#define FW_CLASS(Class, Parent)                                   \
public:                                                           \
  using Self = Class;                                             \
  using inherited = Parent;                                       \
  static const ::quorvel::TClass* StaticClass();                  \
  const ::quorvel::TClass* ClassType() const override;            \
  static void Register(::quorvel::ClassBuilder<Class>& builder);  \
                                                                  \
private:

// As FW_CLASS, for a class whose metaclass is of the TClass subclass Meta (or of a subclass
// of Meta named in FW_CLASS_IMPL_META); StaticMeta() answers it typed as Meta.
#define FW_CLASS_META(Class, Parent, Meta)                                          \
public:                                                                             \
  static const Meta* StaticMeta();                                                  \
  FW_CLASS(Class, Parent)

// In the class's .cpp: the metaclass instance (made on first use) and ClassType. Unit is the
// unit name of the qualified name ("Quorvel.Light" gives "Quorvel.Light.TQuorvelLight").
#define FW_CLASS_IMPL(Class, Unit)                                                        \
  const ::quorvel::TClass* Class::StaticClass() {                                         \
    static const ::quorvel::TClass meta(::quorvel::class_detail::MakeClassInit<Class>(#Class, Unit)); \
    return &meta;                                                                         \
  }                                                                                       \
  const ::quorvel::TClass* Class::ClassType() const { return StaticClass(); }

// Meta: the type of the metaclass instance; a subclass of the Meta named in FW_CLASS_META.
#define FW_CLASS_IMPL_META(Class, Unit, Meta)                                             \
  decltype(Class::StaticMeta()) Class::StaticMeta() {                                     \
    static const Meta meta(::quorvel::class_detail::MakeClassInit<Class>(#Class, Unit));  \
    return &meta;                                                                         \
  }                                                                                       \
  const ::quorvel::TClass* Class::StaticClass() { return StaticMeta(); }                  \
  const ::quorvel::TClass* Class::ClassType() const { return StaticClass(); }

// For a class without published members: an empty Register.
#define FW_CLASS_NO_MEMBERS(Class) \
  void Class::Register(::quorvel::ClassBuilder<Class>&) {}
