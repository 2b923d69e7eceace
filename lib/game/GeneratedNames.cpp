#include "lib/game/GeneratedNames.h"

#include "framework/rtl/Random.h"

namespace quorvel {

TFreeNameFinder::TFreeNameFinder(std::string APrefix, int32_t ARange)
    : FPrefix(std::move(APrefix)), FRange(ARange > 0 ? ARange : 1), FTaken(size_t(FRange), false) {}

void TFreeNameFinder::Take(std::string_view AName) {
  if (AName.size() <= FPrefix.size() || AName.size() > FPrefix.size() + 18 ||
      AName.compare(0, FPrefix.size(), FPrefix) != 0)
    return;
  const std::string_view digits = AName.substr(FPrefix.size());
  if (digits.size() > 1 && digits[0] == '0') return;  // not a number this finder writes
  int64_t number = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return;
    number = number * 10 + (c - '0');
  }
  if (number < FRange) FTaken[size_t(number)] = true;
  else FAbove.insert(number);
}

bool TFreeNameFinder::Taken(int64_t ANumber) const {
  return ANumber < FRange ? bool(FTaken[size_t(ANumber)]) : FAbove.count(ANumber) > 0;
}

std::string TFreeNameFinder::Generate() {
  constexpr int MaxDraws = 16;
  int64_t number = 0;
  for (int draw = 0; draw < MaxDraws; ++draw) {
    number = Random(FRange);
    if (!Taken(number)) return FPrefix + std::to_string(number);
  }
  // Past the range once every number in it from the last draw on is taken: the set is finite.
  while (Taken(number)) ++number;
  return FPrefix + std::to_string(number);
}

}  // namespace quorvel
