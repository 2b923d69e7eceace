#include "lib/scene/Duplication.h"

#include "framework/classes/FwObject.h"
#include "framework/gui3d/Material.h"
#include "framework/rtl/Log.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelDuplicator, "Quorvel.Utils.Duplication")
FW_CLASS_NO_MEMBERS(TQuorvelDuplicator)

TQuorvelDuplicator::TQuorvelDuplicator() {
  OnDuplicate = [](TComponent* ASource, TComponent* AClone, TQuorvelDuplicator* ADuplicator) {
    if (auto* dup = dynamic_cast<IDuplicatable*>(AClone)) dup->DoDuplicate(ASource, ADuplicator);
  };
}

bool TQuorvelDuplicator::ClassIgnored(const TClass* AClass) const {
  for (const TClass* c : FIgnoreClasses)
    if (AClass->InheritsFrom(c)) return true;
  return false;
}

void TQuorvelDuplicator::AddObjectMap(TObject* ASource, TObject* AClone) {
  if (!FObjectMap.emplace(ASource, AClone).second) throw EDuplicateKey("Duplicates not allowed");
  RunLateResolve();
}

void TQuorvelDuplicator::AddLateResolve(TObject* ASource, const TFieldInfo* AField, TObject* AClone) {
  FLateResolve.push_back({ASource, AField, AClone});
}

void TQuorvelDuplicator::RunLateResolve() {
  size_t i = 0;
  while (i < FLateResolve.size()) {
    auto it = FObjectMap.find(FLateResolve[i].Source);
    if (it == FObjectMap.end()) {
      ++i;
      continue;
    }
    const TQuorvelLateResolveEntry entry = FLateResolve[i];
    FLateResolve.erase(FLateResolve.begin() + static_cast<ptrdiff_t>(i));
    if (entry.Field->GetObject(entry.Ref) != it->second) entry.Field->SetObject(entry.Ref, it->second);
  }
}

TComponent* TQuorvelDuplicator::Duplicate(TComponent* AObj, TComponent* AOwner, const TDuplicationFlags& AFlags) {
  if (AFlags.contains(dfIgnoreMaterials)) {
    const TClass* mat = TMaterialSource::StaticClass();
    if (std::find(FIgnoreClasses.begin(), FIgnoreClasses.end(), mat) == FIgnoreClasses.end())
      FIgnoreClasses.push_back(mat);
  }
  TComponent* result = RawDuplicate(AObj, AOwner);
  RunLateResolve();
  for (auto [clone, sourceParent] : FResolveParent) {
    auto it = FObjectMap.find(sourceParent);
    auto* fw = dynamic_cast<TFwObject*>(clone);
    if (it != FObjectMap.end() && fw) {
      fw->SetParent(dynamic_cast<TFwObject*>(it->second));
    } else {
      auto* c = dynamic_cast<TComponent*>(clone);
      Log::d("<WARNING> failed to resolve parent object - duplicated object not found for %s.%s",
             clone->ClassType()->ClassName(), c ? c->GetName() : std::string());
    }
  }
  return result;
}

TComponent* TQuorvelDuplicator::RawDuplicate(TComponent* ASource, TComponent* AOwner) {
  if (ClassIgnored(ASource->ClassType())) {
    AddObjectMap(ASource, ASource);
    Log::d("<WARNING> [RawDuplicate] Class ignored for duplication %s", ASource->ClassType()->ClassName());
    return ASource;
  }
  if (auto it = FObjectMap.find(ASource); it != FObjectMap.end()) {
    Log::d("<WARNING> [RawDuplicate] Component already duplicated %s.%s", ASource->ClassType()->ClassName(),
           ASource->GetName());
    return static_cast<TComponent*>(it->second);
  }
  TComponent* clone = ASource->ClassType()->CreateAs<TComponent>(AOwner);
  AddObjectMap(ASource, clone);
  CopyFields(clone, ASource);
  if (AOwner && clone->Owner() != AOwner) AOwner->InsertComponent(clone);
  // The name is copied once the clone sits under its owner, where a clash raises.
  if (AOwner != ASource->Owner() || !AOwner) clone->SetName(ASource->GetName());
  clone->SetTag(ASource->GetTag());
  if (auto* fw = dynamic_cast<TFwObject*>(ASource); fw && fw->GetParent()) {
    auto it = FObjectMap.find(fw->GetParent());
    if (it != FObjectMap.end())
      dynamic_cast<TFwObject*>(clone)->SetParent(dynamic_cast<TFwObject*>(it->second));
    else
      FResolveParent[clone] = fw->GetParent();
  }
  DuplicateChildren(ASource, clone);
  // The source's local matrix is left as it is; the clone keeps the one copied from it.
  OnDuplicate(ASource, clone, this);
  return clone;
}

void TQuorvelDuplicator::DuplicateChildren(TComponent* ASource, TComponent* AClone) {
  // Copy the list: clones made below may join ASource's owner chain, never ASource itself.
  const std::vector<TComponent*> children = ASource->ComponentList();
  for (TComponent* child : children) {
    if (!FindChildCounterpart(AClone, ASource, child)) {
      RawDuplicate(child, AClone);
      continue;
    }
    auto it = FObjectMap.find(child);
    if (it == FObjectMap.end()) {
      Log::d("<WARNING> [DuplicateChildren] Child component already duplicated %s.%s",
             child->ClassType()->ClassName(), child->GetName());
      continue;
    }
    if (auto* counterpart = dynamic_cast<TComponent*>(it->second)) DuplicateChildren(child, counterpart);
  }
}

bool TQuorvelDuplicator::FindChildCounterpart(TComponent* AClone, TComponent* ASource, TComponent* AChild) {
  for (const TFieldInfo* f : AClone->ClassType()->GetFields()) {
    if (f->Kind != TFieldKind::Class) continue;
    if (f->GetObject(ASource) != AChild) continue;
    TObject* own = f->GetObject(AClone);
    if (own && own != AChild) {
      AddObjectMap(AChild, own);
      return true;
    }
  }
  return false;
}

bool IsReferenceField(const TFieldInfo& AField) { return AField.NonOwning; }

void TQuorvelDuplicator::CopyFields(TComponent* AClone, TComponent* ASource) {
  bool ownerSeen = false, parentSeen = false, defSeen = false;
  for (const TClass* cls = AClone->ClassType(); cls; cls = cls->ClassParent()) {
    for (const TFieldInfo& f : cls->DeclaredFields()) {
      switch (f.Kind) {
        case TFieldKind::Class: {
          if (f.Name == "FOwner" && !ownerSeen) {
            ownerSeen = true;
            continue;
          }
          if (f.Name == "FParent" && !parentSeen) {
            parentSeen = true;
            continue;
          }
          TObject* key = f.GetObject(ASource);
          if (f.Name == "FDef" && !defSeen) {
            defSeen = true;
            f.SetObject(AClone, key);
            continue;
          }
          if (auto it = FObjectMap.find(key); key && it != FObjectMap.end()) {
            f.SetObject(AClone, it->second);
            continue;
          }
          TObject* current = f.GetObject(AClone);
          if (key && !IsReferenceField(f) && current && current != key && f.DeclaredClass &&
              !ClassIgnored(f.DeclaredClass) && f.TypeName.find('<') == std::string::npos) {
            // Persistent classes assign through Assign; others may publish a method of that name.
            if (f.DeclaredClass->InheritsFrom(TPersistent::StaticClass())) {
              static_cast<TPersistent*>(current)->Assign(static_cast<TPersistent*>(key));
              continue;
            }
            if (f.DeclaredClass->FindMethod("Assign")) {
              InvokeMethod(current, "Assign", {TValue::From(key)});
              continue;
            }
          }
          if (key) AddLateResolve(key, &f, AClone);
          break;
        }
        case TFieldKind::DynArray:
          Log::d("<NOTICE> DynArray field ignored %s.%s", AClone->ClassType()->ClassName(), f.Name);
          break;
        case TFieldKind::Value:
          if (f.Copier) f.CopyValue(ASource, AClone);
          break;
      }
    }
  }
}

TComponent* FindComponentByExactClass(TComponent* AComponent, const TClass* AClass) {
  if (!AComponent) return nullptr;
  if (AComponent->ClassType() == AClass) return AComponent;
  for (TComponent* c : AComponent->ComponentList())
    if (TComponent* found = FindComponentByExactClass(c, AClass)) return found;
  return nullptr;
}

}  // namespace quorvel
