#pragma once
// TComponent: owned, named objects with notifications.
//
// Ownership: a component's owner frees it. References between components are raw pointers
// cleared in Notification(AComponent, opRemove), which reaches, before anything is freed,
// every component of the owner tree (the topmost owner's Notification fans out through the
// owned components) and every component registered with FreeNotification.
//
// Freeing (Free(component)), in this order:
//   1. csDestroying is set on the component and everything it will free; BeforeDestruction
//      overrides run (they do their own teardown, then call the inherited one).
//   2. opRemove is sent for each of those components that has not been announced yet, to its
//      owner tree and to its free-notification subscribers, while all of them are still whole.
//   3. Owned components are freed, then (TFwObject) children, each exactly once.
//   4. The component leaves its owner and parent; then it is deleted.
// Destructors call no virtuals and never throw; a component deleted without Free (or whose
// constructor raised) still leaves its owner and frees what it owns.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/rtl/Persistent.h"
#include "framework/rtl/Enum.h"
#include "framework/rtl/Set.h"

namespace quorvel {

class TComponent;
class TReader;
class TWriter;
struct TReaderAccess;

enum TOperation : uint8_t { opInsert, opRemove };
FW_ENUM(TOperation, opInsert, opRemove)

enum TComponentStateItem : uint8_t {
  csLoading,
  csReading,
  csWriting,
  csDestroying,
  csDesigning,
  csAncestor,
  csUpdating,
  csFixups,
  csFreeNotification,
  csInline,
  csDesignInstance
};
FW_ENUM(TComponentStateItem, csLoading, csReading, csWriting, csDestroying, csDesigning, csAncestor,
        csUpdating, csFixups, csFreeNotification, csInline, csDesignInstance)
using TComponentState = TSet<TComponentStateItem>;

enum TComponentStyleItem : uint8_t { csInheritable, csCheckPropAvail, csSubComponent, csTransient };
FW_ENUM(TComponentStyleItem, csInheritable, csCheckPropAvail, csSubComponent, csTransient)
using TComponentStyle = TSet<TComponentStyleItem>;

using TGetChildProc = std::function<void(TComponent* Child)>;

// Whether Name is a valid identifier: a letter or "_", then letters, digits or "_" (ASCII).
bool IsValidIdent(std::string_view Name);

class TComponent : public TPersistent {
  FW_CLASS(TComponent, TPersistent)

public:
  // The registry's factory creates components as T(owner).
  using TOwnerArg = TComponent*;

  explicit TComponent(TComponent* AOwner);
  ~TComponent() override;

  void AfterConstruction() override;
  void BeforeDestruction() override;

  TPersistent* GetOwner() const override { return FOwner; }
  TComponent* Owner() const { return FOwner; }

  const std::string& GetName() const { return FName; }
  // Raises EComponentError for an invalid identifier ("'%s' is not a valid component name")
  // or a name another component of the owner bears ("A component named %s already exists",
  // ASCII case-insensitive). The empty name is always allowed.
  virtual void SetName(const std::string& NewName);
  std::string GetNamePath() const override { return FName; }

  int64_t GetTag() const { return FTag; }
  void SetTag(int64_t Value) { FTag = Value; }

  // Owned components, in insertion order.
  int GetComponentCount() const { return static_cast<int>(FComponents.size()); }
  // EListError "List index out of bounds (%d)" for a bad index.
  TComponent* GetComponents(int Index) const;
  const std::vector<TComponent*>& ComponentList() const { return FComponents; }
  int GetComponentIndex() const;
  void SetComponentIndex(int Value);
  // The owned component of that name (ASCII case-insensitive), null for none or "".
  TComponent* FindComponent(std::string_view AName) const;

  // Moves AComponent under this owner (its name must be free here); opInsert follows.
  void InsertComponent(TComponent* AComponent);
  // Sends opRemove through this owner's tree, then takes AComponent out (it is not freed).
  void RemoveComponent(TComponent* AComponent);
  // Frees every owned component.
  void DestroyComponents();

  const TComponentState& GetComponentState() const { return FComponentState; }
  const TComponentStyle& GetComponentStyle() const { return FComponentStyle; }
  // Sets csDestroying on this component and on everything it owns.
  void Destroying();
  // Enters or leaves design mode, with the owned components when SetChildren.
  void SetDesigning(bool Value, bool SetChildren = true);
  // A sub-component is streamed as part of the component that holds it (its properties are
  // written as a dotted path), not as a reference.
  void SetSubComponent(bool IsSubComponent);

  // AComponent will receive Notification(this, opRemove) when this component goes, and this
  // one when AComponent goes (the link works both ways).
  void FreeNotification(TComponent* AComponent);
  void RemoveFreeNotification(TComponent* AComponent);

  // Called after the component and its whole form have been read.
  virtual void Loaded();
  // The default passes the notification on to every owned component (last first); on
  // opRemove it also drops the free-notification link with AComponent. Overrides call it.
  virtual void Notification(TComponent* AComponent, TOperation Operation);

  // Streaming: the enclosing object of a form resource becomes the parent (TFwObject).
  virtual void SetParentComponent(TComponent* Value) {}
  virtual TComponent* GetParentComponent() const { return nullptr; }
  virtual bool HasParent() const { return false; }
  // The components written inside this one in a form resource, in order.
  virtual void GetChildren(const TGetChildProc& Proc, TComponent* Root);

protected:
  // Raises when NewName clashes with another component of this owner.
  virtual void ValidateRename(TComponent* AComponent, const std::string& CurName, const std::string& NewName);
  virtual void ValidateInsert(TComponent* AComponent) {}

  // Free sequence hooks (TFwObject adds its children): what freeing this component frees
  // besides its owned components; freeing them; leaving the parent.
  virtual void CollectFreed(std::vector<TComponent*>& Freed);
  virtual void FreeChildren() {}
  virtual void DetachFromParent() {}
  // Adds AComponent and what it frees to Freed, once.
  static void CollectInto(TComponent* AComponent, std::vector<TComponent*>& Freed);

  void IncludeState(TComponentStateItem Item) { FComponentState.Include(Item); }
  void ExcludeState(TComponentStateItem Item) { FComponentState.Exclude(Item); }

private:
  friend class TReader;
  friend class TWriter;
  friend struct TReaderAccess;
  struct TFreeSetGuard {
    explicit TFreeSetGuard(std::vector<TComponent*>& set);
    ~TFreeSetGuard();
    TFreeSetGuard(const TFreeSetGuard&) = delete;
    TFreeSetGuard& operator=(const TFreeSetGuard&) = delete;
  };

  void Insert(TComponent* AComponent);
  void Remove(TComponent* AComponent);
  void AnnounceRemoval();
  void NotifyFreeSubscribers();
  void UnlinkFreeNotifications() noexcept;
  void ReleaseInDestructor() noexcept;

  TComponent* FOwner = nullptr;
  std::string FName;
  int64_t FTag = 0;
  std::vector<TComponent*> FComponents;
  std::vector<TComponent*> FFreeNotifies;
  TComponentState FComponentState;
  TComponentStyle FComponentStyle{csInheritable};
  bool FConstructed = false;     // AfterConstruction ran (opInsert was sent)
  bool FFreeStarted = false;     // BeforeDestruction entered
  bool FRemovalAnnounced = false;  // opRemove about this component has gone out
  bool FCollectMark = false;       // already in the free set being collected
};

// Global components (the application's forms): FindGlobalComponent asks each registered
// finder in registration order and answers the first component found, or null.
using TFindGlobalComponentProc = std::function<TComponent*(const std::string& Name)>;
int RegisterFindGlobalComponentProc(TFindGlobalComponentProc Proc);  // answers a handle
void UnregisterFindGlobalComponentProc(int Handle);
TComponent* FindGlobalComponent(const std::string& Name);

// The hook that decides whether a global component name is unique. The duplicator sets it
// while it clones; SetIsUniqueGlobalComponentNameProc answers the hook it replaced.
using TIsUniqueGlobalComponentNameProc = std::function<bool(const std::string& Name)>;
TIsUniqueGlobalComponentNameProc GetIsUniqueGlobalComponentNameProc();
TIsUniqueGlobalComponentNameProc SetIsUniqueGlobalComponentNameProc(TIsUniqueGlobalComponentNameProc Proc);
// The hook's answer when it is set, otherwise whether no global component bears Name.
bool IsUniqueGlobalComponentName(const std::string& Name);

}  // namespace quorvel
