#pragma once
// GPU memory as the installed graphics class reports it (kilobytes).
#include <cstdint>

#include "framework/rtl/Object.h"

namespace quorvel {

// Metaclass: the platform's answers. The base raises EAbstractError.
struct TQuorvelMemoryManagerClass : TClass {
  using TClass::TClass;
  virtual int64_t GetPlatformTotalMemory() const;
  virtual int64_t GetPlatformCurrentMemory() const;
};

class TQuorvelMemoryManager : public TObject {
  FW_CLASS_META(TQuorvelMemoryManager, TObject, TQuorvelMemoryManagerClass)
public:
  // Through MemoryManagerClass.
  static int64_t GetTotalMemory();
  static int64_t GetCurrentMemory();
};

extern const TQuorvelMemoryManagerClass* MemoryManagerClass;
// Installs a class (null: TQuorvelMemoryManager) and answers the one installed before.
const TQuorvelMemoryManagerClass* SetMemoryManagerClass(const TQuorvelMemoryManagerClass* AClass);

}  // namespace quorvel
