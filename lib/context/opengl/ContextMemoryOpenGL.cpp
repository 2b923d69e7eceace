#include "lib/context/opengl/ContextMemoryOpenGL.h"

#include <epoxy/gl.h>

#include "framework/platform/Windows.h"
#include "framework/rtl/Units.h"
#include "lib/context/Context.h"

namespace quorvel {

namespace {

// Drivers without the extension (Mesa) would answer 0 and leave GL_INVALID_ENUM pending,
// which the next error check would take for a failure of its own: ask only where it exists.
int64_t QueryNVX(GLenum AName) {
  if (!wglGetCurrentContext() || !SharedExtensions().GetExtension("GL_NVX_gpu_memory_info")) return 0;
  GLint value = 0;
  glGetIntegerv(AName, &value);
  return value;
}

struct TOpenGLMemoryManagerClass : TQuorvelMemoryManagerClass {
  using TQuorvelMemoryManagerClass::TQuorvelMemoryManagerClass;
  int64_t GetPlatformTotalMemory() const override {
    return QueryNVX(GL_GPU_MEMORY_INFO_TOTAL_AVAILABLE_MEMORY_NVX_);
  }
  int64_t GetPlatformCurrentMemory() const override {
    return QueryNVX(GL_GPU_MEMORY_INFO_CURRENT_AVAILABLE_VIDMEM_NVX_);
  }
};

void InitContextMemoryOpenGLUnit() { SetMemoryManagerClass(TOpenGLMemoryManager::StaticMeta()); }
void FinContextMemoryOpenGLUnit() { SetMemoryManagerClass(nullptr); }
const TUnitRegistration ContextMemoryOpenGLUnit{{"Quorvel.Context.Memory.OpenGL", {}, &InitContextMemoryOpenGLUnit, &FinContextMemoryOpenGLUnit}};

}  // namespace

FW_CLASS_IMPL_META(TOpenGLMemoryManager, "Quorvel.Context.Memory.OpenGL", TOpenGLMemoryManagerClass)
FW_CLASS_NO_MEMBERS(TOpenGLMemoryManager)

}  // namespace quorvel
