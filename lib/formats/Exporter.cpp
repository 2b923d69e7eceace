#include "lib/formats/Exporter.h"

#include <map>
#include <mutex>

#include "framework/rtl/Units.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelExporter, "Quorvel.Exporter")
FW_CLASS_NO_MEMBERS(TQuorvelExporter)

namespace {

std::mutex RegistryLock;
// Owning: a process that ends without the finalisations (a fuzzing run) still frees the
// exporters with the map instead of losing them.
std::map<std::string, TOwned<TQuorvelExporter>>& Registry() {
  static std::map<std::string, TOwned<TQuorvelExporter>> registry;
  return registry;
}

void FinExporterUnit() {
  std::map<std::string, TOwned<TQuorvelExporter>> held;
  {
    std::lock_guard lock(RegistryLock);
    held.swap(Registry());
  }
}

const TUnitRegistration ExporterUnit{{"Quorvel.Exporter", {}, nullptr, &FinExporterUnit}};

}  // namespace

TQuorvelExporter* TQuorvelExporter::GetExporter(const std::string& AExt) {
  std::lock_guard lock(RegistryLock);
  auto it = Registry().find(AExt);
  return it == Registry().end() ? nullptr : it->second.get();
}

void TQuorvelExporter::RegisterExporter(const std::string& AExt, TQuorvelExporter* AExporter) {
  TOwned<TQuorvelExporter> old;
  {
    std::lock_guard lock(RegistryLock);
    auto& slot = Registry()[AExt];
    if (slot.get() == AExporter) return;
    old = std::move(slot);
    slot.reset(AExporter);
  }
}

void TQuorvelExporter::UnregisterExporter(const std::string& AExt) {
  TOwned<TQuorvelExporter> old;
  {
    std::lock_guard lock(RegistryLock);
    auto it = Registry().find(AExt);
    if (it == Registry().end()) return;
    old = std::move(it->second);
    Registry().erase(it);
  }
}

}  // namespace quorvel
