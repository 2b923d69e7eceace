#pragma once
// Unit Quorvel.DefTypes, skeletons: TArmatureDef (a node that owns the root joint and knows the
// controllers using it), TControllerDef (binds a target mesh node to a skin, known to
// animation code by its position in the model's list), TJointDef (a bone: a node with a
// dictionary of child joints), TSkinDef (bind-shape matrix, bind poses and linked joint
// references of one skinned mesh) and TJointRefDef (the vertices one joint moves, with weights).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "framework/rtl/Containers.h"
#include "lib/defs/DefTypesTransform.h"

namespace quorvel {

class TArmatureDef;
class TControllerDef;
class TJointRefDef;
class TVertexJointsList;
class TMeshDef;
class TBitmap;

class TJointDef : public TTransformDef {
  QUORVEL_DEF_CLASS(TJointDef, TTransformDef)

public:
  // Owns its children by id, in the order added.
  using TJointDictionary = TObjectDictionary<std::string, TJointDef*>;

  // With an armature as owner, the armature counts the joint and ArmatureIndex is that count;
  // the class table builds joints with any node as owner (ArmatureIndex 0 then).
  explicit TJointDef(TCustomDef* AArmature = nullptr);
  ~TJointDef() override;

  // The owner as armature; an owner of another kind raises EInvalidCast.
  TArmatureDef* GetArmature() const;
  void SetArmature(TArmatureDef* AValue);
  TArmatureDef* GetHumanoid() const { return GetArmature(); }
  TJointDef* GetParent() const noexcept { return FParent; }
  void SetParent(TJointDef* AValue) noexcept { FParent = AValue; }
  // Null until the first child.
  TJointDictionary* GetJoints() const noexcept { return FJoints; }
  int32_t GetArmatureIndex() const noexcept { return FArmatureIndex; }
  int32_t GetHumanoidIndex() const noexcept { return FArmatureIndex; }

  // Takes AJoint unless its id is a key already; answers whether it was taken (the caller
  // keeps a joint that was not).
  bool AddJoint(TJointDef* AJoint);
  // Depth-first below this joint (its own id is not compared).
  TJointDef* FindJointById(std::string_view AId) const;
  // Every joint below this one.
  int32_t JointsCount() const;

  TModelDef* GetModel() const override;
  TMatrix3D EvaluateGlobalTransformation() const override;
  int64_t GetSize() const override;
  // The transform pairs, "Parent" (id or null), "Joints" when there are children.
  TJSONObject* ToJSON() const override;
  // The transform reader (FromJSON) stays; this one reads the joint with its subtree.
  virtual void FromJSONTree(TModelDef* AModel, const TJSONObject* AValue);

private:
  TJointDef* FParent = nullptr;  // not owned
  TJointDictionary* FJoints = nullptr;
  int32_t FArmatureIndex = 0;
};

// Builds a joint reference of a class of the caller's choice (LinkJoint).
using TJointRefDefFactory = TJointRefDef* (*)(TJointDef* AJoint, TControllerDef* AController, bool AIsStandalone);

class TSkinDef : public TTransformDef {
  QUORVEL_DEF_CLASS(TSkinDef, TTransformDef)

public:
  using TJointRefList = TObjectList<TJointRefDef>;

  explicit TSkinDef(TCustomDef* AController = nullptr);
  ~TSkinDef() override;

  // The owner as controller; an owner of another kind raises EInvalidCast.
  TControllerDef* GetController() const;
  void SetController(TControllerDef* AValue);
  // The controller's target; setting it without controller does nothing.
  TTransformDef* GetTarget() const;
  void SetTarget(TTransformDef* AValue);
  TJointRefList* GetLinkedJoints() const noexcept { return FLinkedJoints; }
  // Not owning; references the reader made for it are stand-alone and freed with the skin.
  TJointRefList* GetSkeletons() const noexcept { return FSkeletons; }
  const TMatrix3D& GetBindShapeMatrix() const noexcept { return FBindShapeMatrix; }
  void SetBindShapeMatrix(const TMatrix3D& AValue) noexcept { FBindShapeMatrix = AValue; }
  const std::vector<TMatrix3D>& GetBindPoses() const noexcept { return FBindPoses; }
  std::vector<TMatrix3D>& BindPoses() noexcept { return FBindPoses; }

  // Appends and sets LinkIndex; a reference listed already stays where it is; null gives null.
  TJointRefDef* LinkJoint(TJointRefDef* AJointRef);
  // The linked reference of AJoint, made (by AFactory, or as TJointRefDef) and linked first
  // when there is none.
  TJointRefDef* LinkJoint(TJointDef* AJoint, TJointRefDefFactory AFactory = nullptr);
  // By the joint's id / by the joint.
  TJointRefDef* GetJointRef(std::string_view AId) const;
  TJointRefDef* GetJointRef(const TJointDef* AJoint) const;
  // Link position by the reference's own id / by the joint; -1 when none.
  int32_t GetJointIndex(std::string_view AId) const;
  int32_t GetJointIndex(const TJointDef* AJoint) const;
  std::string LinkedJointsToString() const;
  void SetBindPosesArrayLength(int32_t ACount);
  void AdjustBindPosesArrayLength(int32_t AIndex);
  void ApplyBindPoses();
  bool BindShapeMatrixIsIdentity() const;
  // AJointTransfArr[i] := ATransform * (joint i's Transform * Inverse(bind pose i)); a link
  // without bind pose counts the pose as the identity. The caller sizes the array.
  void GetSkeletonJointTransformations(std::vector<TMatrix3D>& AJointTransfArr, const TMatrix3D& ATransform) const;
  // Always raises "TODO: not working yet!".
  void CalculateInverseBindTransformMatrix(const TMatrix3D& ABindShapeMatrix);

  // ---- per-vertex data of the target mesh ----
  // One cleared record per vertex of AMeshDef (the target when null); null when that is not a
  // mesh with vertices and indices. The caller owns the list. ABindShapeMatrix is not used.
  TVertexJointsList* GenerateVertexJoints(const TMatrix3D& ABindShapeMatrix, TMeshDef* AMeshDef);
  // Adds every linked joint with its weights to the records of the vertices it names.
  void ApplyVertexJointsRelation(TVertexJointsList* AVertices);
  // Scales the weights naming each vertex so that they sum to 1 (within the tolerance).
  void NormalizeJointVertexWeights(float AWeightTolerance);
  // 0 when every vertex is attached with weights summing to 1; other codes in the log.
  int32_t CheckMeshVerticesToBeAttachedCorrectly(float AWeightTolerance);
  // Red channel: the joint's weights at the texture coordinates of its vertices.
  void DrawJointWeights(const TJointRefDef* AJointRef, TBitmap* ABitmap) const;
  // One JPEG per linked joint, APath + reference id + ".jpg".
  void SaveJointWeightMaps(const std::string& APath, int32_t ASize) const;

  int64_t GetSize() const override;
  TJSONObject* ToJSON() const override;
  // Errors after the transform pairs come as "failed to load skin definition <id> - <message>".
  void FromJSON(TModelDef* AModel, const TJSONObject* AValue) override;

private:
  void ReadJSONBody(TModelDef* AModel, const TJSONObject* AValue);

  TJointRefList* FLinkedJoints;
  TJointRefList* FSkeletons;
  TMatrix3D FBindShapeMatrix = TMatrix3D::Identity();
  std::vector<TMatrix3D> FBindPoses;
};

class TJointRefDef : public TCustomDef {
  QUORVEL_DEF_CLASS(TJointRefDef, TCustomDef)

public:
  // Id := the joint's id (a reference and its joint share one id).
  TJointRefDef(TJointDef* AJoint, TControllerDef* AController, bool AIsStandalone);

  int32_t GetLinkIndex() const noexcept { return FLinkIndex; }
  bool GetIsStandalone() const noexcept { return FIsStandalone; }
  TJointDef* GetJoint() const noexcept { return FJoint; }
  TControllerDef* GetController() const noexcept { return FController; }
  std::vector<float>& Weights() noexcept { return FWeights; }
  const std::vector<float>& GetWeights() const noexcept { return FWeights; }
  std::vector<int32_t>& Indices() noexcept { return FIndices; }
  const std::vector<int32_t>& GetIndices() const noexcept { return FIndices; }
  std::vector<float>& LowerLimit() noexcept { return FLowerLimit; }
  std::vector<float>& UpperLimit() noexcept { return FUpperLimit; }
  const TMatrix3D& GetInvBindMatrix() const noexcept { return FInvBindMatrix; }
  // Marks the matrix available.
  void SetInvBindMatrix(const TMatrix3D& AValue) noexcept {
    FInvBindMatrix = AValue;
    FInvBindMatAvail = true;
  }

  // Raises "armature parameter expected - parameter is empty" for null.
  bool IsSkeletonRoot(const TSkinDef* ASkin) const;
  bool IsInvBindMatrixAvailable() const noexcept { return FInvBindMatAvail; }
  TMatrix3D EvaluateGlobalTransformation() const;
  void ClearWeightsAndIndices(int32_t ALength);
  void AdjustLengthOfWeightsAndIndices(int32_t ALength);
  // The skin's bind pose of this link as inverse bind matrix; null resets to the identity.
  void ApplyBindPose(const TSkinDef* ASkin);
  // Adds AJoint with this reference's weights to the records of the vertices it names in
  // AMesh (through its vertex index map when it has one, copies beyond the list skipped); a
  // direct index outside the list raises AErrorPrefix + "invalid index on TVertexJointsList
  // (%d / %d". Indices without a weight are not read.
  void ApplyToVertices(TJointDef* AJoint, const TMeshDef* AMesh, TVertexJointsList* AVertices,
                       const std::string& AErrorPrefix) const;

  int64_t GetSize() const override;
  TJSONObject* ToJSON() const override;
  void FromJSON(TModelDef* AModel, const TJSONObject* AValue) override;

private:
  friend class TSkinDef;
  int32_t FLinkIndex = -1;
  bool FIsStandalone;
  TJointDef* FJoint;            // not owned
  TControllerDef* FController;  // not owned
  std::vector<float> FWeights;
  std::vector<int32_t> FIndices;
  std::vector<float> FLowerLimit;
  std::vector<float> FUpperLimit;
  TMatrix3D FInvBindMatrix = TMatrix3D::Identity();
  bool FInvBindMatAvail = false;
};

class TArmatureDef : public TTransformDef {
  QUORVEL_DEF_CLASS(TArmatureDef, TTransformDef)

public:
  using TControllerList = TObjectList<TControllerDef>;

  // Owner (normally the model) as given; Id "default"; an empty controller list.
  explicit TArmatureDef(TCustomDef* AModel = nullptr);
  ~TArmatureDef() override;

  // Owned; setting it does not free a previous root.
  TJointDef* GetRoot() const noexcept { return FRoot; }
  void SetRoot(TJointDef* AValue) { FRoot = AValue; }
  // Not owning: the model owns its controllers.
  TControllerList* GetControllers() const noexcept { return FControllers; }
  int32_t GetJointsCount() const noexcept { return FJointsCount; }
  void IncJointsCount() noexcept { ++FJointsCount; }

  // The root when its id is AId (exact), else the first joint below it with that id.
  TJointDef* FindJointById(std::string_view AId) const;
  // Appends unless the controller is in the list already.
  void AddController(TControllerDef* ACtrl);
  TControllerDef* FindControllerByTransform(const TTransformDef* ATransform) const;

  // The owner as model; an owner of another kind raises EInvalidCast.
  TModelDef* GetModel() const override;
  // The transform pairs, "Root" (object or null), "Controllers" (ids).
  TJSONObject* ToJSON() const override;
  // Reads the joint tree of "Root"; a second root replaces (and frees) the first.
  void FromJSON(TModelDef* AModel, const TJSONObject* AValue) override;
  // Links the controllers named in "Controllers".
  bool LateResolveFromJSON(TModelDef* AModel, const TJSONObject* AValue) override;

private:
  TJointDef* FRoot = nullptr;
  TControllerList* FControllers;
  int32_t FJointsCount = 0;
};

class TControllerDef : public TCustomDef {
  QUORVEL_DEF_CLASS(TControllerDef, TCustomDef)

public:
  explicit TControllerDef(TTransformDef* ATarget = nullptr) : FTarget(ATarget) {}
  ~TControllerDef() override;

  // Position in the model's controller list (-1 outside one).
  int32_t GetIndex() const noexcept { return FIndex; }
  void SetIndex(int32_t AValue) noexcept { FIndex = AValue; }
  TTransformDef* GetTarget() const noexcept { return FTarget; }
  void SetTarget(TTransformDef* AValue) noexcept { FTarget = AValue; }
  // Owned.
  TSkinDef* GetSkin() const noexcept { return FSkin; }
  void SetSkin(TSkinDef* AValue) { FSkin = AValue; }

  TJointRefDef* GetJointRef(std::string_view AId) const { return FSkin ? FSkin->GetJointRef(AId) : nullptr; }
  TJointRefDef* GetJointRef(const TJointDef* AJoint) const { return FSkin ? FSkin->GetJointRef(AJoint) : nullptr; }

  // The base estimate plus the skin's.
  int64_t GetSize() const override;
  // The base pairs, "Target" (the target's id or ""), "Skin" (object or null).
  TJSONObject* ToJSON() const override;
  // Reads "Skin" (a second one replaces and frees the first) and joins the armatures of the
  // skin's skeleton joints. The target is the model reader's.
  void FromJSON(TModelDef* AModel, const TJSONObject* AValue) override;

private:
  int32_t FIndex = -1;
  TTransformDef* FTarget;  // not owned
  TSkinDef* FSkin = nullptr;
};

}  // namespace quorvel
