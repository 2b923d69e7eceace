#include "lib/context/ContextMemory.h"

namespace quorvel {

FW_CLASS_IMPL_META(TQuorvelMemoryManager, "Quorvel.Context.Memory", TQuorvelMemoryManagerClass)
FW_CLASS_NO_MEMBERS(TQuorvelMemoryManager)

const TQuorvelMemoryManagerClass* MemoryManagerClass = TQuorvelMemoryManager::StaticMeta();

const TQuorvelMemoryManagerClass* SetMemoryManagerClass(const TQuorvelMemoryManagerClass* AClass) {
  const TQuorvelMemoryManagerClass* previous = MemoryManagerClass;
  MemoryManagerClass = AClass ? AClass : TQuorvelMemoryManager::StaticMeta();
  return previous;
}

int64_t TQuorvelMemoryManagerClass::GetPlatformTotalMemory() const {
  throw EAbstractError("Abstract error: " + ClassName() + ".GetPlatformTotalMemory");
}

int64_t TQuorvelMemoryManagerClass::GetPlatformCurrentMemory() const {
  throw EAbstractError("Abstract error: " + ClassName() + ".GetPlatformCurrentMemory");
}

int64_t TQuorvelMemoryManager::GetTotalMemory() { return MemoryManagerClass->GetPlatformTotalMemory(); }

int64_t TQuorvelMemoryManager::GetCurrentMemory() { return MemoryManagerClass->GetPlatformCurrentMemory(); }

}  // namespace quorvel
