#pragma once
// The message manager: listeners subscribe to a message class and receive every message of
// exactly that class sent through the manager, in subscription order, on the sending thread.
//
//   int id = TMessageManager::DefaultManager().SubscribeToMessage<TContextResetMessage>(
//       [this](TObject* sender, const TMessage& m) { DoContextReset(sender, m); });
//   ...
//   TMessageManager::DefaultManager().Unsubscribe<TContextResetMessage>(id);
//
// A listener may subscribe or unsubscribe (itself or others) while a message is delivered:
// one unsubscribed there is not called any more; one subscribed there first hears the next
// message.
#include <functional>
#include <memory>
#include <mutex>
#include <typeindex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "framework/rtl/Object.h"

namespace quorvel {

class TMessage : public TObject {
public:
  TMessage() = default;
};
using TMessageBase = TMessage;

// A message carrying one value.
template <class T>
class TValueMessage : public TMessage {
public:
  explicit TValueMessage(T AValue) : FValue(std::move(AValue)) {}
  const T& GetValue() const { return FValue; }

private:
  T FValue;
};

// Sent when the scale of a form's scene changed; views that size their pictures by it follow.
class TScaleChangedMessage : public TMessage {
public:
  TScaleChangedMessage() = default;
};

// Sent by the message loop when a display was added, removed or changed its mode.
class TDisplayChangedMessage : public TMessage {
public:
  TDisplayChangedMessage() = default;
};

// Sent when the 3D context lost its GPU objects; holders of textures make them anew.
class TContextResetMessage : public TMessage {
public:
  TContextResetMessage() = default;
};

using TMessageListener = std::function<void(TObject* Sender, const TMessage& M)>;

class TMessageManager {
public:
  TMessageManager() = default;
  TMessageManager(const TMessageManager&) = delete;
  TMessageManager& operator=(const TMessageManager&) = delete;

  static TMessageManager& DefaultManager();

  // Answers the subscription's id (unique within the manager).
  int SubscribeToMessage(std::type_index MessageClass, TMessageListener Listener);
  int SubscribeToMessage(const TClass* MessageClass, TMessageListener Listener) {
    return SubscribeToMessage(std::type_index(MessageClass->CppType()), std::move(Listener));
  }
  template <class M>
  int SubscribeToMessage(TMessageListener Listener) {
    return SubscribeToMessage(std::type_index(typeid(M)), std::move(Listener));
  }

  // An unknown id does nothing.
  void Unsubscribe(std::type_index MessageClass, int Id);
  void Unsubscribe(const TClass* MessageClass, int Id) { Unsubscribe(std::type_index(MessageClass->CppType()), Id); }
  template <class M>
  void Unsubscribe(int Id) {
    Unsubscribe(std::type_index(typeid(M)), Id);
  }

  // Delivers AMessage to the listeners of its class; with ADispose the manager frees it
  // afterwards, also when a listener raises (the exception then passes on).
  void SendMessage(TObject* Sender, TMessage* AMessage, bool ADispose = true);
  void SendMessage(TObject* Sender, const TMessage& AMessage);

  int ListenerCount(std::type_index MessageClass) const;

private:
  struct TEntry {
    int Id;
    TMessageListener Listener;
    bool Removed = false;
  };
  using TEntryList = std::vector<std::shared_ptr<TEntry>>;

  mutable std::mutex FLock;
  std::unordered_map<std::type_index, TEntryList> FListeners;
  int FNextId = 1;
};

}  // namespace quorvel
