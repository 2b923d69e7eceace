#pragma once
// TFwObject: a component with a parent and an ordered list of children.
// A parent frees its children; the Do… hooks do the list work, so overrides call the
// inherited hook first and then react to the change.
#include <string>
#include <vector>

#include "framework/classes/Component.h"

namespace quorvel {

class TFwObject : public TComponent {
  FW_CLASS(TFwObject, TComponent)

public:
  explicit TFwObject(TComponent* AOwner);
  ~TFwObject() override;

  TFwObject* GetParent() const { return FParent; }
  // Leaves the old parent (RemoveObject) and joins the new one at the end (AddObject).
  virtual void SetParent(TFwObject* Value);
  // The topmost object of the parent chain (this object when it has no parent).
  TFwObject* GetRoot() const;

  int GetChildrenCount() const { return static_cast<int>(FChildren.size()); }
  const std::vector<TFwObject*>& Children() const { return FChildren; }
  // EListError "List index out of bounds (%d)" for a bad index.
  TFwObject* GetChild(int Index) const;
  // The position among the parent's children (-1 without parent); setting moves it there.
  int GetIndex() const;
  void SetIndex(int Value);

  // Null, this object or one of its ancestors do nothing / raise EInvalidOperation. An
  // object of another parent leaves that parent first.
  void AddObject(TFwObject* AObject);
  // Index is clamped to 0..ChildrenCount.
  void InsertObject(int Index, TFwObject* AObject);
  // Objects of another parent are ignored.
  void RemoveObject(TFwObject* AObject);
  void RemoveObject(int Index);
  // Frees every child.
  void DeleteChildren();
  bool IsChild(const TFwObject* AObject) const;

  // Whether the object is written with its parent in a form resource.
  bool GetStored() const { return FStored; }
  virtual void SetStored(bool Value) { FStored = Value; }
  // An object the application attaches; not owned.
  TObject* GetTagObject() const { return FTagObject; }
  void SetTagObject(TObject* Value) { FTagObject = Value; }
  float GetTagFloat() const { return FTagFloat; }
  void SetTagFloat(float Value) { FTagFloat = Value; }
  const std::string& GetTagString() const { return FTagString; }
  void SetTagString(const std::string& Value) { FTagString = Value; }
  const std::string& GetStyleName() const { return FStyleName; }
  virtual void SetStyleName(const std::string& Value) { FStyleName = Value; }

  void SetParentComponent(TComponent* Value) override;
  TComponent* GetParentComponent() const override { return FParent; }
  bool HasParent() const override { return FParent != nullptr; }
  void GetChildren(const TGetChildProc& Proc, TComponent* Root) override;

protected:
  virtual void DoAddObject(TFwObject* AObject);
  virtual void DoInsertObject(int Index, TFwObject* AObject);
  virtual void DoRemoveObject(TFwObject* AObject);
  // After this object's parent changed.
  virtual void ParentChanged() {}

  void CollectFreed(std::vector<TComponent*>& Freed) override;
  void FreeChildren() override;
  void DetachFromParent() override;

private:
  void CheckAddable(TFwObject* AObject) const;
  void InsertChild(int Index, TFwObject* AObject);

  TFwObject* FParent = nullptr;
  std::vector<TFwObject*> FChildren;
  bool FStored = true;
  TObject* FTagObject = nullptr;
  float FTagFloat = 0;
  std::string FTagString;
  std::string FStyleName;
};

}  // namespace quorvel
