#include "lib/game/GeneratedNames.h"

#include <charconv>

#include "framework/rtl/Random.h"

namespace quorvel {

int64_t DrawNameNumber(int32_t ARange) { return Random(ARange > 0 ? ARange : 1); }

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
  return DrawFreeName(FPrefix, FRange, [this](int64_t ANumber) { return Taken(ANumber); });
}

void TSiblingNames::Drop(const std::string& AName) {
  auto it = FCounts.find(AName);
  if (it != FCounts.end() && --it->second <= 0) FCounts.erase(it);
}

void TSiblingNames::Set(const void* AItem, const std::string& AName) {
  auto it = FNames.find(AItem);
  if (it != FNames.end()) {
    if (it->second == AName) return;
    Drop(it->second);
    if (AName.empty()) {
      FNames.erase(it);
      return;
    }
    it->second = AName;
  } else {
    if (AName.empty()) return;
    FNames.emplace(AItem, AName);
  }
  ++FCounts[AName];
}

void TSiblingNames::Forget(const void* AItem) {
  auto it = FNames.find(AItem);
  if (it == FNames.end()) return;
  Drop(it->second);
  FNames.erase(it);
}

void TSiblingNames::Clear() {
  FNames.clear();
  FCounts.clear();
}

std::string TSiblingNames::Generate(const std::string& APrefix, int32_t ARange) const {
  // One buffer for every candidate: a draw costs a lookup, not an allocation.
  std::string candidate = APrefix;
  candidate.reserve(APrefix.size() + 20);
  return DrawFreeName(APrefix, ARange, [&](int64_t ANumber) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, ANumber).ptr;
    candidate.resize(APrefix.size());
    candidate.append(digits, end);
    return Contains(candidate);
  });
}

}  // namespace quorvel
