#include "framework/rtl/Random.h"

namespace quorvel {

namespace {
uint32_t GSeed = 0;
}

int32_t Random(int32_t ARange) {
  // Linear congruential step; the high bits scaled into the range keep it free of modulo bias
  // for small ranges.
  GSeed = GSeed * 134775813u + 1u;
  if (ARange <= 0) return 0;
  return static_cast<int32_t>((uint64_t(GSeed) * uint64_t(uint32_t(ARange))) >> 32);
}

void SetRandSeed(uint32_t ASeed) { GSeed = ASeed; }
uint32_t RandSeed() { return GSeed; }

}  // namespace quorvel
