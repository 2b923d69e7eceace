#include "framework/classes/Messages.h"

#include <algorithm>

#include "framework/rtl/Finally.h"

namespace quorvel {

TMessageManager& TMessageManager::DefaultManager() {
  static TMessageManager manager;
  return manager;
}

int TMessageManager::SubscribeToMessage(std::type_index MessageClass, TMessageListener Listener) {
  std::lock_guard lock(FLock);
  const int id = FNextId++;
  FListeners[MessageClass].push_back(std::make_shared<TEntry>(TEntry{id, std::move(Listener)}));
  return id;
}

void TMessageManager::Unsubscribe(std::type_index MessageClass, int Id) {
  std::lock_guard lock(FLock);
  auto it = FListeners.find(MessageClass);
  if (it == FListeners.end()) return;
  auto& list = it->second;
  auto entry = std::find_if(list.begin(), list.end(), [Id](const auto& e) { return e->Id == Id; });
  if (entry == list.end()) return;
  // A delivery in progress holds its own copy of the list; the flag stops it there.
  (*entry)->Removed = true;
  list.erase(entry);
}

void TMessageManager::SendMessage(TObject* Sender, TMessage* AMessage, bool ADispose) {
  if (!AMessage) return;
  // A message's teardown has nothing to report to the sender: a failure is only logged.
  auto dispose = Finally([&] {
    if (ADispose) FreeQuietly(AMessage, "SendMessage: message");
  });
  SendMessage(Sender, *AMessage);
}

void TMessageManager::SendMessage(TObject* Sender, const TMessage& AMessage) {
  TEntryList snapshot;
  {
    std::lock_guard lock(FLock);
    auto it = FListeners.find(std::type_index(typeid(AMessage)));
    if (it == FListeners.end()) return;
    snapshot = it->second;
  }
  for (const auto& entry : snapshot) {
    bool removed;
    {
      std::lock_guard lock(FLock);
      removed = entry->Removed;
    }
    if (!removed && entry->Listener) entry->Listener(Sender, AMessage);
  }
}

int TMessageManager::ListenerCount(std::type_index MessageClass) const {
  std::lock_guard lock(FLock);
  auto it = FListeners.find(MessageClass);
  return it == FListeners.end() ? 0 : static_cast<int>(it->second.size());
}

}  // namespace quorvel
