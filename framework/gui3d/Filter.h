#pragma once
// TFilterManager: the image-filter side of the framework as far as views need it. Filters
// render through a context of the size of the view's picture; views tell the manager when
// that size changes, and the manager forgets the contexts it had made for the old size.
#include <cstdint>

#include "framework/math/Point.h"

namespace quorvel {

class TFilterManager {
public:
  // Forgets every filter context (current context 0, none made).
  static void ResetContexts();
  // The size the next filter context is made with.
  static void ResizeContext(int32_t AWidth, int32_t AHeight);
  static TPoint GetContextSize();
  static int32_t GetContextCount();
  static int32_t GetCurrentContext();
};

}  // namespace quorvel
