#include "lib/formats/Exporter.h"

#include <map>
#include <mutex>

#include "framework/rtl/Units.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelExporter, "Quorvel.Exporter")
FW_CLASS_NO_MEMBERS(TQuorvelExporter)

namespace {

std::mutex RegistryLock;
std::map<std::string, TQuorvelExporter*>& Registry() {
  static std::map<std::string, TQuorvelExporter*> registry;
  return registry;
}

void FinUnit() {
  std::lock_guard lock(RegistryLock);
  for (auto& [ext, exporter] : Registry()) Free(exporter);
  Registry().clear();
}

const TUnitRegistration Unit{{"Quorvel.Exporter", {}, nullptr, &FinUnit}};

}  // namespace

TQuorvelExporter* TQuorvelExporter::GetExporter(const std::string& AExt) {
  std::lock_guard lock(RegistryLock);
  auto it = Registry().find(AExt);
  return it == Registry().end() ? nullptr : it->second;
}

void TQuorvelExporter::RegisterExporter(const std::string& AExt, TQuorvelExporter* AExporter) {
  TQuorvelExporter* old = nullptr;
  {
    std::lock_guard lock(RegistryLock);
    auto& slot = Registry()[AExt];
    if (slot != AExporter) old = slot;
    slot = AExporter;
  }
  Free(old);
}

void TQuorvelExporter::UnregisterExporter(const std::string& AExt) {
  TQuorvelExporter* old = nullptr;
  {
    std::lock_guard lock(RegistryLock);
    auto it = Registry().find(AExt);
    if (it == Registry().end()) return;
    old = it->second;
    Registry().erase(it);
  }
  Free(old);
}

}  // namespace quorvel
