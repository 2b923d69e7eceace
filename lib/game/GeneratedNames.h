#pragma once
// Names the game utilities generate for new entries: a prefix and a number that no sibling
// has yet. Numbers are drawn at random below a range a bounded number of times; after that the
// next free number from the last draw on is taken, so the 10,001st sibling of a range of
// 10,000 gets a name as quickly as the first. The siblings are looked at once per new name
// and only their numbers are kept, so that a name costs one cheap pass over the siblings.
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

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

}  // namespace quorvel
