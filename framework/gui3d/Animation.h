#pragma once
// Property animations of the 3D framework: the interpolation kinds a key can carry.
#include <cstdint>

#include "framework/rtl/Enum.h"

namespace quorvel {

// Stored in files by ordinal.
enum class TInterpolationType : int32_t {
  Linear = 0,
  Quadratic = 1,
  Cubic = 2,
  Quartic = 3,
  Quintic = 4,
  Sinusoidal = 5,
  Exponential = 6,
  Circular = 7,
  Elastic = 8,
  Back = 9,
  Bounce = 10
};
FW_ENUM(TInterpolationType, Linear, Quadratic, Cubic, Quartic, Quintic, Sinusoidal, Exponential, Circular, Elastic,
        Back, Bounce)

}  // namespace quorvel
