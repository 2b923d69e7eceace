#pragma once
// Deep copy of a component and of everything it owns, walking the fields each class
// registers (ClassBuilder::Field). Definitions (FDef) are shared, reference fields point to the
// clones of their targets once those exist, owned sub-objects that a constructor made are
// paired with the clone's own and assigned.
#include <map>
#include <set>
#include <vector>

#include "framework/classes/Component.h"

namespace quorvel {

class TQuorvelDuplicator;

// A clone finishes what a field copy cannot give it (registries, sub-mesh lists, mesh data).
class IDuplicatable {
public:
  virtual void DoDuplicate(TComponent* ASource, TQuorvelDuplicator* ADuplicator) = 0;

protected:
  ~IDuplicatable() = default;
};

enum TDuplicationFlag { dfAsReference = 0, dfIgnoreMaterials = 1 };
using TDuplicationFlags = std::set<TDuplicationFlag>;

struct TQuorvelLateResolveEntry {
  TObject* Source = nullptr;
  const TFieldInfo* Field = nullptr;
  TObject* Ref = nullptr;
};

using TOnQuorvelDuplicate = std::function<void(TComponent* ASource, TComponent* AClone, TQuorvelDuplicator*)>;

class TQuorvelDuplicator : public TObject {
  FW_CLASS(TQuorvelDuplicator, TObject)

public:
  TQuorvelDuplicator();

  std::vector<const TClass*>& IgnoreClasses() { return FIgnoreClasses; }
  const std::map<TObject*, TObject*>& ObjectMap() const { return FObjectMap; }
  const std::map<TObject*, TObject*>& ResolveParent() const { return FResolveParent; }
  const std::vector<TQuorvelLateResolveEntry>& LateResolve() const { return FLateResolve; }
  TOnQuorvelDuplicate OnDuplicate;

  bool ClassIgnored(const TClass* AClass) const;
  // A source mapped twice raises EDuplicateKey.
  void AddObjectMap(TObject* ASource, TObject* AClone);
  void AddLateResolve(TObject* ASource, const TFieldInfo* AField, TObject* AClone);
  void RunLateResolve();
  TComponent* Duplicate(TComponent* AObj, TComponent* AOwner, const TDuplicationFlags& AFlags);

  TComponent* RawDuplicate(TComponent* ASource, TComponent* AOwner);
  void DuplicateChildren(TComponent* ASource, TComponent* AClone);
  void CopyFields(TComponent* AClone, TComponent* ASource);
  bool FindChildCounterpart(TComponent* AClone, TComponent* ASource, TComponent* AChild);

private:
  std::vector<const TClass*> FIgnoreClasses;
  std::map<TObject*, TObject*> FObjectMap;
  std::map<TObject*, TObject*> FResolveParent;
  std::vector<TQuorvelLateResolveEntry> FLateResolve;
};

bool IsReferenceField(const TFieldInfo& AField);
// Pre-order through the owned components (AComponent included): the first whose class is
// exactly AClass; descendants do not match.
TComponent* FindComponentByExactClass(TComponent* AComponent, const TClass* AClass);

}  // namespace quorvel
