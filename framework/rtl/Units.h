#pragma once
// Unit initialisation. A unit's source file holds one static TUnitRegistration that only
// appends {name, needs, init, fin} to the list; Application.Initialize and the test main
// run the inits in dependency order and, at the end, the finals in reverse. This keeps the
// registration order the engine relies on free of static-initialisation-order problems.
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace quorvel {

struct TUnitEntry {
  std::string Name;
  std::vector<std::string> Needs;  // units whose init must run first
  std::function<void()> Init;      // may be empty
  std::function<void()> Fin;       // may be empty
};

class TUnitList {
public:
  // Appends an entry; never throws for bad entries (that is reported by Initialize).
  void Register(TUnitEntry entry);

  // Runs the init of every unit not yet initialised: a unit's needs first, otherwise in
  // registration order. Unit names compare ASCII case-insensitively. An unknown need, a
  // cycle or a name registered twice raises EInvalidOperation before any init runs. When
  // an init raises, the units initialised before it stay initialised and the exception
  // propagates.
  void Initialize();
  // Runs the finals of the initialised units in reverse init order. Every final runs even
  // when one raises; the first exception is raised again at the end.
  void Finalize();

  std::vector<std::string> RegisteredUnits() const;
  std::vector<std::string> InitializedUnits() const;  // in init order

private:
  mutable std::mutex FMutex;
  std::vector<TUnitEntry> FEntries;
  std::vector<size_t> FInitialized;  // indices into FEntries, in init order
  std::vector<bool> FDone;           // per entry: its init has run
};

// The process's unit list.
TUnitList& Units();
void RegisterUnit(TUnitEntry entry);
void InitializeUnits();
void FinalizeUnits();

// `static const TUnitRegistration Unit{{"Quorvel.Foo", {"Quorvel.Bar"}, &Init, &Fin}};`
struct TUnitRegistration {
  explicit TUnitRegistration(TUnitEntry entry) { RegisterUnit(std::move(entry)); }
};

}  // namespace quorvel
