#pragma once
// Events "of object": a std::function plus the name of the published method it is bound to,
// so that form streaming can bind an event by name and write it back.
//
//   TNotifyEvent OnCreate;
//   OnCreate = [this](TObject* s) { ... };       // plain handler, no method name
//   OnCreate.Bind("FormCreate", handler);        // what the form reader does
//   OnCreate(this);                              // no-op while unassigned
//   OnCreate = TNotifyEvent::Method(this, &TForm1::FormCreate);
//   OnCreate.SameMethod(other);                  // same method of the same object?
//
// Lambdas have no identity: only events made by Method or bound by the form reader compare
// equal, as (method, object); code that puts its handler in place and later takes it out
// again checks with SameMethod that nobody replaced it meanwhile.
// An event property is published like any other (getter returning the event, setter taking
// it); the form reader recognises its type through the binder each TEvent<Sig> type registers
// the first time one is constructed.
#include <array>
#include <cstring>
#include <functional>
#include <span>
#include <string>
#include <type_traits>
#include <typeindex>
#include <utility>

#include "framework/rtl/Object.h"

namespace quorvel {

namespace event_detail {
// Makes a TValue holding the event type, bound to `method` of `target` under `name`.
using TBindFn = TValue (*)(TObject* target, const TMethodInfo* method, const std::string& name);
// The bound method name of an event held by a TValue.
using TNameFn = std::string (*)(const TValue& event);
struct TEventBinder {
  TBindFn Bind = nullptr;
  TNameFn MethodName = nullptr;
  size_t ParamCount = 0;
};
void RegisterEventBinder(std::type_index type, const TEventBinder& binder);
// The binder of an event type, or null when the type is not an event.
const TEventBinder* FindEventBinder(std::type_index type);
}  // namespace event_detail

template <class Sig>
class TEvent;

template <class R, class... A>
class TEvent<R(A...)> {
public:
  using TFunction = std::function<R(A...)>;

  TEvent() { EnsureBinder(); }
  TEvent(TFunction f) : FFunction(std::move(f)) { EnsureBinder(); }
  TEvent(std::string methodName, TFunction f) : FFunction(std::move(f)), FMethodName(std::move(methodName)) {
    EnsureBinder();
  }

  // Assigning a plain handler drops the method name: it is no longer a streamed binding.
  TEvent& operator=(TFunction f) {
    FFunction = std::move(f);
    FMethodName.clear();
    FKey = {};
    return *this;
  }
  TEvent& operator=(std::nullptr_t) {
    Clear();
    return *this;
  }

  // AMethod of AObject as a handler that compares equal to every other event made from the
  // same method and object.
  template <class C, class M>
  static TEvent Method(C* AObject, M C::*AMethod) {
    static_assert(sizeof(AMethod) <= sizeof(TMethodKey::Bytes));
    TEvent e([AObject, AMethod](A... args) -> R { return (AObject->*AMethod)(std::forward<A>(args)...); });
    e.FKey.Object = AObject;
    e.FKey.Type = &typeid(AMethod);
    std::memcpy(e.FKey.Bytes.data(), &AMethod, sizeof(AMethod));
    return e;
  }

  void Bind(std::string methodName, TFunction f) {
    FFunction = std::move(f);
    FMethodName = std::move(methodName);
    FKey = {};
  }
  void Clear() {
    FFunction = nullptr;
    FMethodName.clear();
    FKey = {};
  }

  // Both hold the same method of the same object (False when either is a plain handler).
  bool SameMethod(const TEvent& AOther) const {
    return FKey.Object != nullptr && FKey.Object == AOther.FKey.Object && FKey.Type == AOther.FKey.Type &&
           FKey.Bytes == AOther.FKey.Bytes;
  }

  bool Assigned() const { return static_cast<bool>(FFunction); }
  explicit operator bool() const { return Assigned(); }
  const std::string& MethodName() const { return FMethodName; }
  const TFunction& Function() const { return FFunction; }

  // Calling an unassigned event does nothing (and answers R{}), as `if Assigned(F) then F(..)`.
  R operator()(A... args) const {
    if (!FFunction) {
      if constexpr (std::is_void_v<R>) return;
      else return R{};
    }
    return FFunction(std::forward<A>(args)...);
  }

private:
  static void EnsureBinder() {
    static const bool registered = [] {
      event_detail::RegisterEventBinder(typeid(TEvent), {&BindMethod, &NameOf, sizeof...(A)});
      return true;
    }();
    (void)registered;
  }
  static TValue BindMethod(TObject* target, const TMethodInfo* method, const std::string& name) {
    TEvent e;
    e.Bind(name, [target, method](A... args) -> R {
      const std::array<TValue, sizeof...(A)> values{TValue::From(args)...};
      TValue result = method->Invoke(target, std::span<const TValue>(values.data(), values.size()));
      if constexpr (!std::is_void_v<R>) return result.AsType<R>();
    });
    e.FKey.Object = target;
    e.FKey.Type = &typeid(TMethodInfo);
    std::memcpy(e.FKey.Bytes.data(), &method, sizeof(method));
    return TValue::From(e);
  }

  // Which method of which object the handler calls; Object null for plain handlers.
  struct TMethodKey {
    const void* Object = nullptr;
    const std::type_info* Type = nullptr;
    std::array<unsigned char, 2 * sizeof(void*)> Bytes{};
  };
  static std::string NameOf(const TValue& v) { return v.AsType<TEvent>().MethodName(); }

  TFunction FFunction;
  std::string FMethodName;
  TMethodKey FKey;
};

using TNotifyEvent = TEvent<void(TObject* Sender)>;

}  // namespace quorvel
