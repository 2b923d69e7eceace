#pragma once
// Names the game utilities generate for new entries: a prefix and a number that no sibling
// has yet. Numbers are drawn at random below a range a bounded number of times; after that the
// next free number from the last draw on is taken, so the 10,001st sibling of a range of
// 10,000 gets a name as quickly as the first.
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quorvel {

// A random number below ARange (the platform's Random).
int64_t DrawNameNumber(int32_t ARange);

// APrefix and the first number that ATaken(number) refuses, as above.
template <class Taken>
std::string DrawFreeName(const std::string& APrefix, int32_t ARange, const Taken& ATaken) {
  constexpr int MaxDraws = 16;
  int64_t number = 0;
  for (int draw = 0; draw < MaxDraws; ++draw) {
    number = DrawNameNumber(ARange);
    if (!ATaken(number)) return APrefix + std::to_string(number);
  }
  // Past the range once every number in it from the last draw on is taken: the siblings are
  // finite.
  while (ATaken(number)) ++number;
  return APrefix + std::to_string(number);
}

// For siblings looked at once per new name (the components of an owner): only their numbers
// are kept, so that a name costs one cheap pass over the siblings.
class TFreeNameFinder {
public:
  TFreeNameFinder(std::string APrefix, int32_t ARange);
  // A sibling's name; names of another form are ignored.
  void Take(std::string_view AName);
  std::string Generate();

private:
  bool Taken(int64_t ANumber) const;

  std::string FPrefix;
  int32_t FRange;
  std::vector<bool> FTaken;
  std::set<int64_t> FAbove;  // numbers at or past the range
};

// The names the items of one collection have, kept by the collection as items join, leave and
// are renamed, so that a new name costs a few lookups whatever the number of siblings.
class TSiblingNames {
public:
  // AItem's name is now AName (empty: none).
  void Set(const void* AItem, const std::string& AName);
  void Forget(const void* AItem);
  void Clear();
  bool Contains(const std::string& AName) const { return FCounts.count(AName) != 0; }
  std::string Generate(const std::string& APrefix, int32_t ARange) const;

private:
  void Drop(const std::string& AName);

  std::unordered_map<const void*, std::string> FNames;
  std::unordered_map<std::string, int> FCounts;  // siblings may share a name
};

}  // namespace quorvel
