// The holders of pointers into packages, told before those pointers go.
#include <algorithm>
#include <mutex>
#include <vector>

#include "framework/rtl/Finally.h"
#include "lib/formats/assets/AssetsListeners.h"
#include "lib/formats/assets/AssetsManager.h"

namespace quorvel {

namespace {

std::mutex& ListenersLock() {
  static std::mutex lock;
  return lock;
}

std::vector<IQuorvelAssetsListener*>& Listeners() {
  static std::vector<IQuorvelAssetsListener*> listeners;
  return listeners;
}

// Each listener of the moment, unless a call before it removed it (a model freed while
// another one reacts). No lock is held during a call: listeners change packages and lists.
template <class F>
void Tell(F&& ACall) {
  std::vector<IQuorvelAssetsListener*> snapshot;
  {
    std::lock_guard guard(ListenersLock());
    snapshot = Listeners();
  }
  for (IQuorvelAssetsListener* listener : snapshot) {
    {
      std::lock_guard guard(ListenersLock());
      if (std::find(Listeners().begin(), Listeners().end(), listener) == Listeners().end()) continue;
    }
    ACall(listener);
  }
}

}  // namespace

void AddAssetsListener(IQuorvelAssetsListener* AListener) {
  if (!AListener) return;
  std::lock_guard guard(ListenersLock());
  if (std::find(Listeners().begin(), Listeners().end(), AListener) == Listeners().end())
    Listeners().push_back(AListener);
}

void RemoveAssetsListener(IQuorvelAssetsListener* AListener) {
  std::lock_guard guard(ListenersLock());
  std::erase(Listeners(), AListener);
}

namespace assets_listeners {

void DefinitionFreeing(TObject* ADef) {
  if (!ADef) return;
  // A holder that fails to let go must not stop the definition from being freed.
  Tell([&](IQuorvelAssetsListener* l) {
    Quietly("assets listener: definition freeing", [&] { l->AssetDefinitionFreeing(ADef); });
  });
}

void PackageFreeing(TQuorvelAssetsPackage* APackage) {
  Tell([&](IQuorvelAssetsListener* l) {
    Quietly("assets listener: package freeing", [&] { l->AssetPackageFreeing(APackage); });
  });
}

void PackageDefinitionsChanged(TQuorvelAssetsPackage* APackage) {
  if (!APackage) return;
  Tell([&](IQuorvelAssetsListener* l) {
    Quietly("assets listener: package changed", [&] { l->AssetPackageDefinitionsChanged(APackage); });
  });
}

}  // namespace assets_listeners

}  // namespace quorvel
