#include "framework/classes/Component.h"

#include <algorithm>
#include <exception>
#include <mutex>
#include <utility>

#include "framework/rtl/Finally.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/SysUtils.h"

namespace quorvel {

FW_CLASS_IMPL(TComponent, "Fw.Classes")

void TComponent::Register(ClassBuilder<TComponent>& b) {
  b.Prop("Name", &Self::GetName, &Self::SetName).Prop("Tag", &Self::GetTag, &Self::SetTag);
}

bool IsValidIdent(std::string_view Name) {
  if (Name.empty()) return false;
  auto alpha = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
  if (!alpha(Name[0])) return false;
  return std::all_of(Name.begin() + 1, Name.end(), [&](char c) { return alpha(c) || (c >= '0' && c <= '9'); });
}

namespace {

// The free sequence keeps going when one step raises; the first exception is raised again
// at the end.
class TFirstError {
public:
  template <class F>
  void Run(F&& step) {
    try {
      step();
    } catch (...) {
      if (!FError) FError = std::current_exception();
    }
  }
  void Rethrow() const {
    if (FError) std::rethrow_exception(FError);
  }

private:
  std::exception_ptr FError;
};

}  // namespace

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner) {
    AOwner->Insert(this);
    if (AOwner->FComponentState.Contains(csDesigning)) FComponentState.Include(csDesigning);
  }
}

TComponent::~TComponent() { ReleaseInDestructor(); }

void TComponent::AfterConstruction() {
  TPersistent::AfterConstruction();
  FConstructed = true;
  // Sent here, not from the constructor, so that the owner's Notification sees the whole
  // object (its most-derived class).
  if (FOwner) FOwner->Notification(this, opInsert);
}

void TComponent::BeforeDestruction() {
  TPersistent::BeforeDestruction();
  if (FFreeStarted) return;
  FFreeStarted = true;
  Destroying();

  TFirstError error;
  // Everything this free will free hears about it, and its referrers let go, while every
  // component involved is still whole.
  std::vector<TComponent*> freed{this};
  FCollectMark = true;
  CollectFreed(freed);
  for (TComponent* c : freed) {
    c->FCollectMark = false;
    c->FComponentState.Include(csDestroying);
  }
  // A notification handler may free one of these; its destructor clears its slot.
  TFreeSetGuard guard(freed);
  for (TComponent*& c : freed) {
    if (c && !c->FRemovalAnnounced) error.Run([c] { c->AnnounceRemoval(); });
  }

  while (!FComponents.empty()) {
    TComponent* c = FComponents.back();
    error.Run([c] { Free(c); });
    // Free always deletes, and the destructor leaves the owner; this only guards the loop.
    if (!FComponents.empty() && FComponents.back() == c) FComponents.pop_back();
  }
  error.Run([this] { FreeChildren(); });
  error.Run([this] { DetachFromParent(); });
  UnlinkFreeNotifications();
  if (FOwner) FOwner->Remove(this);
  error.Rethrow();
}

// ---------------------------------------------------------------------------------------
// Free sets: the components a running free will free, so that a component deleted while
// they are being announced drops out of the list instead of dangling in it.

namespace {
thread_local std::vector<std::vector<TComponent*>*> GFreeSets;
}

TComponent::TFreeSetGuard::TFreeSetGuard(std::vector<TComponent*>& set) { GFreeSets.push_back(&set); }
TComponent::TFreeSetGuard::~TFreeSetGuard() { GFreeSets.pop_back(); }

void TComponent::CollectInto(TComponent* AComponent, std::vector<TComponent*>& Freed) {
  if (!AComponent || AComponent->FCollectMark) return;
  AComponent->FCollectMark = true;
  Freed.push_back(AComponent);
  AComponent->CollectFreed(Freed);
}

void TComponent::CollectFreed(std::vector<TComponent*>& Freed) {
  for (TComponent* c : FComponents) CollectInto(c, Freed);
}

void TComponent::AnnounceRemoval() {
  FRemovalAnnounced = true;
  TComponent* root = this;
  while (root->FOwner) root = root->FOwner;
  root->Notification(this, opRemove);
  NotifyFreeSubscribers();
}

void TComponent::NotifyFreeSubscribers() {
  // The links stay until this component is really freed: a subscriber that goes in the same
  // free must still hear about the others it refers to. One freed meanwhile has left the
  // list.
  const std::vector<TComponent*> subscribers = FFreeNotifies;
  for (TComponent* subscriber : subscribers)
    if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), subscriber) != FFreeNotifies.end())
      subscriber->Notification(this, opRemove);
}

void TComponent::UnlinkFreeNotifications() noexcept {
  for (TComponent* c : FFreeNotifies) std::erase(c->FFreeNotifies, this);
  FFreeNotifies.clear();
}

void TComponent::ReleaseInDestructor() noexcept {
  for (std::vector<TComponent*>* set : GFreeSets) std::replace(set->begin(), set->end(), this, static_cast<TComponent*>(nullptr));
  Quietly("TComponent destructor: removal notification", [&] {
    // Deleted without Free: the others still must drop their references. Only pointer
    // identity is safe now, so the notification stays at the TComponent level.
    if (FConstructed && !FRemovalAnnounced) {
      FRemovalAnnounced = true;
      TComponent* root = FOwner;
      while (root && root->FOwner) root = root->FOwner;
      if (root) root->Notification(this, opRemove);
      else
        for (size_t i = FComponents.size(); i-- > 0;)
          if (i < FComponents.size()) FComponents[i]->Notification(this, opRemove);
      for (TComponent* c : std::vector<TComponent*>(FFreeNotifies)) {
        std::erase(c->FFreeNotifies, this);
        c->Notification(this, opRemove);
      }
    }
  });
  UnlinkFreeNotifications();
  while (!FComponents.empty()) {
    TComponent* c = FComponents.back();
    FreeQuietly(c, "TComponent destructor: owned component");
    if (!FComponents.empty() && FComponents.back() == c) FComponents.pop_back();
  }
  if (FOwner) FOwner->Remove(this);
}

// ---------------------------------------------------------------------------------------
// Owner and names

void TComponent::Insert(TComponent* AComponent) {
  FComponents.push_back(AComponent);
  AComponent->FOwner = this;
}

void TComponent::Remove(TComponent* AComponent) {
  // Frees run last-first, so the common case is the last entry.
  if (!FComponents.empty() && FComponents.back() == AComponent) FComponents.pop_back();
  else std::erase(FComponents, AComponent);
  AComponent->FOwner = nullptr;
}

TComponent* TComponent::GetComponents(int Index) const {
  if (Index < 0 || Index >= GetComponentCount())
    throw EListError(Format("List index out of bounds (%d)", {Index}));
  return FComponents[static_cast<size_t>(Index)];
}

int TComponent::GetComponentIndex() const {
  if (!FOwner) return -1;
  auto& list = FOwner->FComponents;
  auto it = std::find(list.begin(), list.end(), this);
  return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

void TComponent::SetComponentIndex(int Value) {
  if (!FOwner) return;
  auto& list = FOwner->FComponents;
  const int current = GetComponentIndex();
  if (current < 0) return;
  Value = std::clamp(Value, 0, static_cast<int>(list.size()) - 1);
  if (Value == current) return;
  list.erase(list.begin() + current);
  list.insert(list.begin() + Value, this);
}

TComponent* TComponent::FindComponent(std::string_view AName) const {
  if (AName.empty()) return nullptr;
  for (TComponent* c : FComponents)
    if (SameText(c->FName, AName)) return c;
  return nullptr;
}

void TComponent::SetName(const std::string& NewName) {
  if (FName == NewName) return;
  if (!NewName.empty() && !IsValidIdent(NewName))
    throw EComponentError(Format("'%s' is not a valid component name", {NewName}));
  if (FOwner) FOwner->ValidateRename(this, FName, NewName);
  else ValidateRename(nullptr, FName, NewName);
  FName = NewName;
}

void TComponent::ValidateRename(TComponent* AComponent, const std::string& CurName, const std::string& NewName) {
  if (AComponent && !SameText(CurName, NewName) && AComponent->FOwner == this && FindComponent(NewName))
    throw EComponentError(Format("A component named %s already exists", {NewName}));
  if (FComponentState.Contains(csDesigning) && FOwner) FOwner->ValidateRename(AComponent, CurName, NewName);
}

void TComponent::InsertComponent(TComponent* AComponent) {
  if (!AComponent || AComponent->FOwner == this) return;
  for (TComponent* o = this; o; o = o->FOwner)
    if (o == AComponent) throw EComponentError("A component cannot own itself or its owner");
  AComponent->ValidateInsert(AComponent);
  ValidateInsert(AComponent);
  if (FindComponent(AComponent->FName))
    throw EComponentError(Format("A component named %s already exists", {AComponent->FName}));
  if (AComponent->FOwner) AComponent->FOwner->RemoveComponent(AComponent);
  Insert(AComponent);
  if (FComponentState.Contains(csDesigning)) AComponent->SetDesigning(true);
  Notification(AComponent, opInsert);
}

void TComponent::RemoveComponent(TComponent* AComponent) {
  if (!AComponent || AComponent->FOwner != this) return;
  Notification(AComponent, opRemove);
  if (AComponent->FOwner == this) Remove(AComponent);
}

void TComponent::DestroyComponents() {
  TFirstError error;
  while (!FComponents.empty()) {
    TComponent* c = FComponents.back();
    error.Run([c] { Free(c); });
    if (!FComponents.empty() && FComponents.back() == c) FComponents.pop_back();
  }
  error.Rethrow();
}

// ---------------------------------------------------------------------------------------
// State

void TComponent::Destroying() {
  if (FComponentState.Contains(csDestroying)) return;
  FComponentState.Include(csDestroying);
  for (TComponent* c : FComponents) c->Destroying();
}

void TComponent::SetDesigning(bool Value, bool SetChildren) {
  if (Value) FComponentState.Include(csDesigning);
  else FComponentState.Exclude(csDesigning);
  if (SetChildren)
    for (TComponent* c : FComponents) c->SetDesigning(Value, true);
}

void TComponent::SetSubComponent(bool IsSubComponent) {
  if (IsSubComponent) FComponentStyle.Include(csSubComponent);
  else FComponentStyle.Exclude(csSubComponent);
}

void TComponent::Loaded() { FComponentState.Exclude(csLoading); }

void TComponent::GetChildren(const TGetChildProc&, TComponent*) {}

// ---------------------------------------------------------------------------------------
// Notifications

void TComponent::Notification(TComponent* AComponent, TOperation Operation) {
  // A component announced as going keeps its links until it is freed (NotifyFreeSubscribers).
  if (Operation == opRemove && AComponent && !AComponent->FRemovalAnnounced) RemoveFreeNotification(AComponent);
  // Handlers may free components of this list: walk it from the end and re-clamp.
  int i = GetComponentCount() - 1;
  while (i >= 0) {
    FComponents[static_cast<size_t>(i)]->Notification(AComponent, Operation);
    --i;
    if (i >= GetComponentCount()) i = GetComponentCount() - 1;
  }
}

void TComponent::FreeNotification(TComponent* AComponent) {
  if (!AComponent || AComponent == this) return;
  // Components of one owner already hear about each other through the owner.
  if (!FOwner || AComponent->FOwner != FOwner) {
    if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent) == FFreeNotifies.end()) {
      FFreeNotifies.push_back(AComponent);
      AComponent->FreeNotification(this);
    }
  }
  FComponentState.Include(csFreeNotification);
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
  if (!AComponent) return;
  if (std::erase(FFreeNotifies, AComponent) > 0) std::erase(AComponent->FFreeNotifies, this);
}

// ---------------------------------------------------------------------------------------
// Global components

namespace {
struct TGlobalHooks {
  std::mutex Lock;
  int NextHandle = 1;
  std::vector<std::pair<int, TFindGlobalComponentProc>> Finders;
  TIsUniqueGlobalComponentNameProc IsUnique;
};
TGlobalHooks& GlobalHooks() {
  static TGlobalHooks hooks;
  return hooks;
}
}  // namespace

int RegisterFindGlobalComponentProc(TFindGlobalComponentProc Proc) {
  TGlobalHooks& h = GlobalHooks();
  std::lock_guard lock(h.Lock);
  const int handle = h.NextHandle++;
  h.Finders.emplace_back(handle, std::move(Proc));
  return handle;
}

void UnregisterFindGlobalComponentProc(int Handle) {
  TGlobalHooks& h = GlobalHooks();
  std::lock_guard lock(h.Lock);
  std::erase_if(h.Finders, [Handle](const auto& f) { return f.first == Handle; });
}

TComponent* FindGlobalComponent(const std::string& Name) {
  std::vector<TFindGlobalComponentProc> finders;
  {
    TGlobalHooks& h = GlobalHooks();
    std::lock_guard lock(h.Lock);
    for (const auto& f : h.Finders) finders.push_back(f.second);
  }
  for (const auto& find : finders)
    if (find)
      if (TComponent* c = find(Name)) return c;
  return nullptr;
}

TIsUniqueGlobalComponentNameProc GetIsUniqueGlobalComponentNameProc() {
  TGlobalHooks& h = GlobalHooks();
  std::lock_guard lock(h.Lock);
  return h.IsUnique;
}

TIsUniqueGlobalComponentNameProc SetIsUniqueGlobalComponentNameProc(TIsUniqueGlobalComponentNameProc Proc) {
  TGlobalHooks& h = GlobalHooks();
  std::lock_guard lock(h.Lock);
  return std::exchange(h.IsUnique, std::move(Proc));
}

bool IsUniqueGlobalComponentName(const std::string& Name) {
  if (TIsUniqueGlobalComponentNameProc proc = GetIsUniqueGlobalComponentNameProc()) return proc(Name);
  return FindGlobalComponent(Name) == nullptr;
}

}  // namespace quorvel
