#include "framework/classes/FwObject.h"

#include <algorithm>
#include <exception>

#include "framework/rtl/Finally.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/SysUtils.h"

namespace quorvel {

FW_CLASS_IMPL(TFwObject, "Fw.Types")

void TFwObject::Register(ClassBuilder<TFwObject>& b) {
  b.Prop("StyleName", &Self::GetStyleName, &Self::SetStyleName)
      .Prop("TagFloat", &Self::GetTagFloat, &Self::SetTagFloat)
      .Prop("TagString", &Self::GetTagString, &Self::SetTagString);
}

TFwObject::TFwObject(TComponent* AOwner) : TComponent(AOwner) {}

TFwObject::~TFwObject() {
  // Only reached with children or a parent when the object was deleted without Free; the
  // hooks of the parent are virtual, so the lists are mended directly.
  while (!FChildren.empty()) {
    TFwObject* child = FChildren.back();
    FChildren.pop_back();
    child->FParent = nullptr;
    FreeQuietly(child, "TFwObject destructor: child");
  }
  if (FParent) std::erase(FParent->FChildren, this);
}

TFwObject* TFwObject::GetRoot() const {
  const TFwObject* o = this;
  while (o->FParent) o = o->FParent;
  return const_cast<TFwObject*>(o);
}

TFwObject* TFwObject::GetChild(int Index) const {
  if (Index < 0 || Index >= GetChildrenCount()) throw EListError(Format("List index out of bounds (%d)", {Index}));
  return FChildren[static_cast<size_t>(Index)];
}

int TFwObject::GetIndex() const {
  if (!FParent) return -1;
  auto& list = FParent->FChildren;
  auto it = std::find(list.begin(), list.end(), this);
  return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

void TFwObject::SetIndex(int Value) {
  const int current = GetIndex();
  if (current < 0) return;
  auto& list = FParent->FChildren;
  Value = std::clamp(Value, 0, static_cast<int>(list.size()) - 1);
  if (Value == current) return;
  list.erase(list.begin() + current);
  list.insert(list.begin() + Value, this);
}

bool TFwObject::IsChild(const TFwObject* AObject) const {
  return AObject && AObject->FParent == this;
}

void TFwObject::SetParent(TFwObject* Value) {
  if (Value == FParent) return;
  if (Value) Value->CheckAddable(this);
  if (FParent) FParent->RemoveObject(this);
  if (Value) Value->AddObject(this);
}

void TFwObject::CheckAddable(TFwObject* AObject) const {
  for (const TFwObject* o = this; o; o = o->FParent)
    if (o == AObject) throw EInvalidOperation("An object cannot be a child of itself or of its descendant");
}

void TFwObject::AddObject(TFwObject* AObject) {
  if (!AObject || AObject->FParent == this) return;
  CheckAddable(AObject);
  if (AObject->FParent) AObject->FParent->RemoveObject(AObject);
  DoAddObject(AObject);
}

void TFwObject::InsertObject(int Index, TFwObject* AObject) {
  if (!AObject || AObject->FParent == this) return;
  CheckAddable(AObject);
  if (AObject->FParent) AObject->FParent->RemoveObject(AObject);
  DoInsertObject(std::clamp(Index, 0, GetChildrenCount()), AObject);
}

void TFwObject::RemoveObject(TFwObject* AObject) {
  if (AObject && AObject->FParent == this) DoRemoveObject(AObject);
}

void TFwObject::RemoveObject(int Index) {
  if (Index >= 0 && Index < GetChildrenCount()) DoRemoveObject(FChildren[static_cast<size_t>(Index)]);
}

// Not through the virtual DoInsertObject: an override of both hooks must react once.
void TFwObject::DoAddObject(TFwObject* AObject) { InsertChild(GetChildrenCount(), AObject); }

void TFwObject::DoInsertObject(int Index, TFwObject* AObject) { InsertChild(Index, AObject); }

void TFwObject::InsertChild(int Index, TFwObject* AObject) {
  Index = std::clamp(Index, 0, GetChildrenCount());
  FChildren.insert(FChildren.begin() + Index, AObject);
  AObject->FParent = this;
  AObject->ParentChanged();
}

void TFwObject::DoRemoveObject(TFwObject* AObject) {
  std::erase(FChildren, AObject);
  AObject->FParent = nullptr;
  AObject->ParentChanged();
}

void TFwObject::DeleteChildren() {
  std::exception_ptr error;
  while (!FChildren.empty()) {
    TFwObject* child = FChildren.back();
    try {
      Free(child);
    } catch (...) {
      if (!error) error = std::current_exception();
    }
    // Free always deletes and the child leaves this list; this only guards the loop.
    if (!FChildren.empty() && FChildren.back() == child) FChildren.pop_back();
  }
  if (error) std::rethrow_exception(error);
}

void TFwObject::SetParentComponent(TComponent* Value) {
  if (auto* parent = dynamic_cast<TFwObject*>(Value)) SetParent(parent);
}

void TFwObject::GetChildren(const TGetChildProc& Proc, TComponent* Root) {
  for (TFwObject* child : FChildren)
    if (child->FStored) Proc(child);
}

void TFwObject::CollectFreed(std::vector<TComponent*>& Freed) {
  TComponent::CollectFreed(Freed);
  for (TFwObject* child : FChildren) CollectInto(child, Freed);
}

void TFwObject::FreeChildren() { DeleteChildren(); }

void TFwObject::DetachFromParent() {
  if (FParent) FParent->RemoveObject(this);
}

}  // namespace quorvel
