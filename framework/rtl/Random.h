#pragma once
// The process-wide pseudo-random source behind generated identifiers. Tests set the seed to
// make generated names repeatable. Main thread only.
#include <cstdint>

namespace quorvel {

// A number in 0..ARange-1; 0 when ARange <= 0.
int32_t Random(int32_t ARange);
void SetRandSeed(uint32_t ASeed);
uint32_t RandSeed();

}  // namespace quorvel
