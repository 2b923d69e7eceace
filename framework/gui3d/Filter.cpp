#include "framework/gui3d/Filter.h"

#include <algorithm>
#include <atomic>

namespace quorvel {

namespace {
std::atomic<int32_t> gWidth{0}, gHeight{0}, gContextCount{0}, gCurrentContext{0};
}

void TFilterManager::ResetContexts() {
  gContextCount = 0;
  gCurrentContext = 0;
}

void TFilterManager::ResizeContext(int32_t AWidth, int32_t AHeight) {
  gWidth = std::max(AWidth, 0);
  gHeight = std::max(AHeight, 0);
}

TPoint TFilterManager::GetContextSize() { return TPoint(gWidth, gHeight); }
int32_t TFilterManager::GetContextCount() { return gContextCount; }
int32_t TFilterManager::GetCurrentContext() { return gCurrentContext; }

}  // namespace quorvel
