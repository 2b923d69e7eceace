#include "framework/classes/Events.h"

#include <mutex>
#include <unordered_map>

namespace quorvel::event_detail {

namespace {
struct TBinderTable {
  std::mutex Lock;
  std::unordered_map<std::type_index, TEventBinder> Map;
};
TBinderTable& Binders() {
  static TBinderTable table;
  return table;
}
}  // namespace

void RegisterEventBinder(std::type_index type, const TEventBinder& binder) {
  TBinderTable& t = Binders();
  std::lock_guard lock(t.Lock);
  t.Map.emplace(type, binder);
}

const TEventBinder* FindEventBinder(std::type_index type) {
  TBinderTable& t = Binders();
  std::lock_guard lock(t.Lock);
  auto it = t.Map.find(type);
  // unordered_map never moves its elements, so the pointer outlives the lock.
  return it == t.Map.end() ? nullptr : &it->second;
}

}  // namespace quorvel::event_detail
