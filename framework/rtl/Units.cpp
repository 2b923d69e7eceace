#include "framework/rtl/Units.h"

#include <exception>

#include "framework/rtl/Exceptions.h"

namespace quorvel {

namespace {

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

size_t FindUnit(const std::vector<TUnitEntry>& entries, const std::string& name) {
  for (size_t i = 0; i < entries.size(); ++i)
    if (SameName(entries[i].Name, name)) return i;
  return entries.size();
}

enum class TMark { None, Visiting, Ordered };

// Depth-first: a unit's needs (in their listed order) come before it, so units without
// constraints keep their registration order.
void Visit(const std::vector<TUnitEntry>& entries, const std::vector<bool>& done, size_t i,
           std::vector<TMark>& marks, std::vector<size_t>& path, std::vector<size_t>& order) {
  if (done[i] || marks[i] == TMark::Ordered) return;
  if (marks[i] == TMark::Visiting) {
    std::string cycle;
    size_t start = 0;
    while (path[start] != i) ++start;
    for (size_t k = start; k < path.size(); ++k) cycle += "\"" + entries[path[k]].Name + "\" -> ";
    cycle += "\"" + entries[i].Name + "\"";
    throw EInvalidOperation("Units need each other in a cycle: " + cycle);
  }
  marks[i] = TMark::Visiting;
  path.push_back(i);
  for (const auto& need : entries[i].Needs) {
    size_t j = FindUnit(entries, need);
    if (j == entries.size())
      throw EInvalidOperation("Unit \"" + entries[i].Name + "\" needs unit \"" + need +
                              "\", which is not registered");
    Visit(entries, done, j, marks, path, order);
  }
  path.pop_back();
  marks[i] = TMark::Ordered;
  order.push_back(i);
}

}  // namespace

void TUnitList::Register(TUnitEntry entry) {
  std::lock_guard lock(FMutex);
  FEntries.push_back(std::move(entry));
  FDone.push_back(false);
}

void TUnitList::Initialize() {
  std::vector<size_t> order;
  std::vector<std::function<void()>> inits;
  {
    std::lock_guard lock(FMutex);
    for (size_t i = 0; i < FEntries.size(); ++i)
      for (size_t j = 0; j < i; ++j)
        if (SameName(FEntries[i].Name, FEntries[j].Name))
          throw EInvalidOperation("Unit \"" + FEntries[i].Name + "\" is registered twice");
    std::vector<TMark> marks(FEntries.size(), TMark::None);
    std::vector<size_t> path;
    for (size_t i = 0; i < FEntries.size(); ++i) Visit(FEntries, FDone, i, marks, path, order);
    for (size_t i : order) inits.push_back(FEntries[i].Init);
  }
  // Inits run unlocked: one may register further units (they wait for the next call).
  for (size_t k = 0; k < order.size(); ++k) {
    if (inits[k]) inits[k]();
    std::lock_guard lock(FMutex);
    FDone[order[k]] = true;
    FInitialized.push_back(order[k]);
  }
}

void TUnitList::Finalize() {
  std::exception_ptr first;
  for (;;) {
    std::function<void()> fin;
    {
      std::lock_guard lock(FMutex);
      if (FInitialized.empty()) break;
      size_t i = FInitialized.back();
      FInitialized.pop_back();
      FDone[i] = false;
      fin = FEntries[i].Fin;
    }
    if (!fin) continue;
    try {
      fin();
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  if (first) std::rethrow_exception(first);
}

std::vector<std::string> TUnitList::RegisteredUnits() const {
  std::lock_guard lock(FMutex);
  std::vector<std::string> names;
  for (const auto& e : FEntries) names.push_back(e.Name);
  return names;
}

std::vector<std::string> TUnitList::InitializedUnits() const {
  std::lock_guard lock(FMutex);
  std::vector<std::string> names;
  for (size_t i : FInitialized) names.push_back(FEntries[i].Name);
  return names;
}

TUnitList& Units() {
  // Constructed on first use, so registrations from any static initialiser find it.
  static TUnitList list;
  return list;
}

void RegisterUnit(TUnitEntry entry) { Units().Register(std::move(entry)); }

void InitializeUnits() { Units().Initialize(); }

void FinalizeUnits() { Units().Finalize(); }

}  // namespace quorvel
