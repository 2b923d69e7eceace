#pragma once
// One bone of a skeleton in the scene tree: per skin controller (by its index, 16 at most) the
// local bind pose, the inverse bind pose and the current skinning matrix; fills the per-vertex
// joint records of a skinned mesh and can draw itself as a marker.
#include <array>
#include <vector>

#include "framework/math/Matrix3D.h"
#include "framework/math/AlphaColor.h"
#include "lib/scene/Transform.h"

namespace quorvel {

class TControllerDef;
class TJointDef;
class TTransformDef;
class TVertexJointsList;
class TContext3D;

inline constexpr int JointSlotCount = 16;
using TQuorvelJointLocalTransform = std::array<TMatrix3D, JointSlotCount>;

class TQuorvelJoint : public TQuorvelTransform {
  FW_CLASS(TQuorvelJoint, TQuorvelTransform)

public:
  explicit TQuorvelJoint(TComponent* AOwner);
  ~TQuorvelJoint() override;

  // The armature above the chain of parent joints; nil when another kind of parent interrupts it.
  TQuorvelTransform* GetArmature() const;
  bool IsSkeletonRoot() const;
  const std::vector<TQuorvelJoint*>* GetJoints() const { return FJoints.empty() ? nullptr : &FJoints; }
  bool GetSkinned() const { return FSkinned; }
  bool GetShowJoint() const { return FShowJoint; }
  void SetShowJoint(bool Value);
  TAlphaColor GetJointRenderColor() const { return FJointRenderColor; }
  void SetJointRenderColor(TAlphaColor Value);
  TPoint3D JointRenderSize{0.25f, 0.25f, 0.25f};

  // Reading a slot outside 0..15 gives the identity; writing raises.
  TMatrix3D GetLocalBindTransform(const TControllerDef* AIndex) const;
  TMatrix3D GetInverseBindTransform(const TControllerDef* AIndex) const;
  TMatrix3D GetCurrentOffsetMatrix(const TControllerDef* AIndex) const;
  // The slot of AIndex without range check: the caller knows it is in range.
  const TMatrix3D& OffsetMatrixAt(int32_t ASlot) const { return FCurrentOffsetMatrix[size_t(ASlot)]; }
  virtual void SetLocalBindTransformMatrix(const TControllerDef* ACtrl, const TMatrix3D& AMatrix);
  // The current pose in the armature's space.
  TMatrix3D GetSkeletonTransformMatrix() const;
  // A copy joins its parent joint's list and its armature's map (a definition mapped already
  // keeps its joint).
  void DoDuplicate(TComponent* ASource, TQuorvelDuplicator* ADuplicator) override;
  // Logs the joint's definition transform, then the joints it owns, ATab deeper by four blanks.
  void DebugOut(const std::string& ATab);

  void AddJoint(TQuorvelJoint* AJoint);
  TQuorvelJoint* FindJoint(const TJointDef* ADef) const;
  void ClearJoints() { FJoints.clear(); }

  void CalculateInverseBindTransformMatrix(const TControllerDef* ACtrl, const TMatrix3D& AParentBindTransform);
  void PrepareSkinAnimationStep(const TControllerDef* ACtrl);
  void PrepareSkinAnimation();
  void ApplyJointInfoToArmature(const TControllerDef* ACtrl, TVertexJointsList* AVertices, TTransformDef* ATransform);

  void LoadFromDefinition(TCustomDef* ADef) override;
  void LoadHierarchyFromDefinition(TTransformDef*) override {}
  virtual void RenderJoint(TContext3D* AContext);
  void Render() override;

private:
  // The step below this joint, with the inverse of the skin target's transform and the armature.
  // GetSkeletonTransformMatrix with the armature given (null: none).
  TMatrix3D SkeletonTransformIn(const TQuorvelTransform* AArmature) const;
  void PrepareOffsetMatrices(const TControllerDef* ACtrl, const TMatrix3D& AInvTarget, const TQuorvelTransform* AArmature);
  static size_t CheckedSlot(const TControllerDef* ACtrl, const char* AWhat);
  TJointDef* JointDef() const;

  TQuorvelJointLocalTransform FLocalBindTransform;
  TQuorvelJointLocalTransform FInverseBindTransform;
  TQuorvelJointLocalTransform FCurrentOffsetMatrix;
  bool FSkinned = false;
  bool FShowJoint = false;
  TAlphaColor FJointRenderColor = MakeAlphaColor(0xFFFF0000);
  std::vector<TQuorvelJoint*> FJoints;  // components of this joint, not owned by the list
};

}  // namespace quorvel
