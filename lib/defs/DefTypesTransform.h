#pragma once
// Unit Quorvel.DefTypes, node tree: TTransformDef (a node with owner, local matrix,
// properties and owned children), TGroupDef (a node with descriptive metadata) and
// TSegmentDef (a node that shows another node by id).
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "framework/rtl/Containers.h"
#include "framework/rtl/DateTime.h"
#include "lib/defs/DefTypesBase.h"
#include "lib/defs/DefTypesProperties.h"

namespace quorvel {

class TTransformDef;

// Visitor of Traverse: (parent, index, child); False stops the loop of that parent only.
using TTransformTraverseProc = std::function<bool(TTransformDef* AParent, int32_t AIndex, TTransformDef* AChild)>;

class TTransformDef : public TCustomDef {
  QUORVEL_DEF_CLASS(TTransformDef, TCustomDef)

public:
  // The virtual constructor's argument (TClass::Create(owner) builds through it).
  using TOwnerArg = TCustomDef*;
  using TChildList = TObjectList<TTransformDef>;

  // Owner may be null. The owner setter runs again (virtually) in AfterConstruction.
  explicit TTransformDef(TCustomDef* AOwner = nullptr);
  ~TTransformDef() override;
  void AfterConstruction() override;

  TJSONObject* ToJSON() const override;
  void FromJSON(TModelDef* AModel, const TJSONObject* AValue) override;

  const std::string& GetOwnerId() const noexcept { return FOwnerId; }
  void SetOwnerId(std::string AValue) { FOwnerId = std::move(AValue); }
  // The owner as a transform; raises EInvalidCast when the owner is a definition of another kind.
  TTransformDef* GetOwner() const;
  void SetOwner(TTransformDef* AValue);
  // The owner unchecked.
  virtual TCustomDef* GetOwnerRef() const;
  virtual void SetOwnerRef(TCustomDef* AValue);

  const TMatrix3D& GetTransform() const noexcept { return FTransform; }
  void SetTransform(const TMatrix3D& AValue) { FTransform = AValue; }
  TProperties* GetProperties() const noexcept { return FProperties; }
  // Null until the first AddChild.
  TChildList* GetChildren() const noexcept { return FChildren; }
  int32_t ChildCount() const noexcept { return FChildren ? FChildren->Count() : 0; }
  int32_t GetCopyCount() const noexcept { return FCopyCount; }
  void IncCopyCount() { ++FCopyCount; }

  // Sanitised id made unique among the global components, "_Copy<n>" appended for copies.
  virtual std::string GetQualifiedComponentName() const;
  // The model this node belongs to through its owners; null for a root (a model included).
  virtual TModelDef* GetModel() const;

  // Takes ownership; -1 (and nothing added) when ATransform is already a child.
  virtual int32_t AddChild(TTransformDef* ATransform);
  // Removes and frees the child; nothing when it is not a child.
  virtual void RemoveChild(TTransformDef* ATransform);
  // Removes the child without freeing it; null when it is not a child.
  virtual TTransformDef* ExtractChild(TTransformDef* ATransform);
  // Frees every child; the list stays.
  virtual void ClearChildren();
  // Searches the subtree (not this node) for AId or "#" + id, ignoring ASCII case. Raises
  // "transform with id "<AId>" not found" when nothing matches and AThrowException is set.
  virtual TTransformDef* FindChildById(std::string_view AId, bool AThrowException) const;
  virtual void AddMesh(TMeshDef* AMesh);

  // Owner's absolute matrix times the local one (row vectors: local first).
  virtual TMatrix3D GetAbsoluteTransformation() const;
  virtual TMatrix3D EvaluateGlobalTransformation() const;

  void Traverse(bool ADeepTraverse, const TTransformTraverseProc& AProc) const;

  // Levels of definitions nested in one read ("Children", "Meshes"); a deeper document raises
  // "definitions nested deeper than 256 levels" before the stack runs out.
  static constexpr int32_t MaxNestingDepth = 256;

protected:
  // Sets the owner and OwnerId (empty for null). An owner that is this node or one of its
  // descendants raises: every walk up the owners would never end.
  virtual void DoSetOwner(TCustomDef* AOwner);
  // Raises when AOwner is this node or one of its descendants.
  void CheckOwner(const TCustomDef* AOwner) const;
  // Builds a child from its "Type" with this node as owner, reads it and adds it.
  void ReadChild(TModelDef* AModel, const TJSONValue* AElement);

private:
  std::string FOwnerId;
  TCustomDef* FOwner = nullptr;
  TMatrix3D FTransform = TMatrix3D::Identity();
  TProperties* FProperties;
  TChildList* FChildren = nullptr;
  int32_t FCopyCount = 0;
};

// Shows another node of the same model, found by ReferenceId while reading.
class TSegmentDef : public TTransformDef {
  QUORVEL_DEF_CLASS(TSegmentDef, TTransformDef)

public:
  using TTransformDef::TTransformDef;

  TJSONObject* ToJSON() const override;
  void FromJSON(TModelDef* AModel, const TJSONObject* AValue) override;

  const std::string& GetReferenceId() const noexcept { return FReferenceId; }
  void SetReferenceId(std::string AValue) { FReferenceId = std::move(AValue); }
  TTransformDef* GetReference() const noexcept { return FReference; }
  void SetReference(TTransformDef* AValue) { FReference = AValue; }

private:
  std::string FReferenceId;
  TTransformDef* FReference = nullptr;  // not owned
};

// A node with descriptive metadata; Timestamp 0 means none.
class TGroupDef : public TTransformDef {
  QUORVEL_DEF_CLASS(TGroupDef, TTransformDef)

public:
  using TTransformDef::TTransformDef;

  TJSONObject* ToJSON() const override;
  void FromJSON(TModelDef* AModel, const TJSONObject* AValue) override;

  const std::string& GetAuthor() const noexcept { return FAuthor; }
  void SetAuthor(std::string AValue) { FAuthor = std::move(AValue); }
  const std::string& GetVersion() const noexcept { return FVersion; }
  void SetVersion(std::string AValue) { FVersion = std::move(AValue); }
  const std::string& GetLicense() const noexcept { return FLicense; }
  void SetLicense(std::string AValue) { FLicense = std::move(AValue); }
  const std::string& GetLink() const noexcept { return FLink; }
  void SetLink(std::string AValue) { FLink = std::move(AValue); }
  const std::string& GetDescr() const noexcept { return FDescr; }
  void SetDescr(std::string AValue) { FDescr = std::move(AValue); }
  TDateTime GetTimestamp() const noexcept { return FTimestamp; }
  void SetTimestamp(TDateTime AValue) { FTimestamp = AValue; }

private:
  std::string FAuthor, FVersion, FLicense, FLink, FDescr;
  TDateTime FTimestamp;
};

}  // namespace quorvel
