#pragma once
// GPU memory from the NVX memory-info queries. The unit's initialisation installs it in
// MemoryManagerClass.
#include "lib/context/ContextMemory.h"

namespace quorvel {

class TOpenGLMemoryManager : public TQuorvelMemoryManager {
  FW_CLASS_META(TOpenGLMemoryManager, TQuorvelMemoryManager, TQuorvelMemoryManagerClass)
};

inline constexpr uint32_t GL_GPU_MEMORY_INFO_TOTAL_AVAILABLE_MEMORY_NVX_ = 0x9048;
inline constexpr uint32_t GL_GPU_MEMORY_INFO_CURRENT_AVAILABLE_VIDMEM_NVX_ = 0x9049;

}  // namespace quorvel
