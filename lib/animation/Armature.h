#pragma once
// One skeleton of a model: builds the root joints from an armature definition, links the meshes
// its skin controllers target, maps joint definitions to joints and deforms the linked meshes'
// vertices on the processor by linear blend skinning.
#include <map>
#include <unordered_map>
#include <vector>

#include "lib/animation/Joint.h"

namespace quorvel {

class TMeshDef;
class TQuorvelMesh;
class TVertexBuffer;
struct TVertexJoints;

class TQuorvelArmature : public TQuorvelTransform {
  FW_CLASS(TQuorvelArmature, TQuorvelTransform)

public:
  using TMeshBuffers = std::map<TMeshDef*, TVertexBuffer*>;

  explicit TQuorvelArmature(TComponent* AOwner);

  int32_t ArmatureIndex;

  const std::vector<TQuorvelTransform*>& GetSkeletons() const { return FSkeletons; }
  const std::vector<TQuorvelMesh*>& GetMeshes() const { return FMeshes; }
  bool GetShowJoints() const;
  void SetShowJoints(bool Value);
  TAlphaColor GetJointsRenderColor() const;
  void SetJointsRenderColor(TAlphaColor Value);

  // The first joint registered for a definition stays.
  void LinkJoint(TJointDef* ADef, TQuorvelJoint* AJoint);
  TQuorvelJoint* FindJoint(const TJointDef* ADef) const;
  void CalculateInverseBindTransformMatrix(const TControllerDef* ACtrl);
  virtual void PrepareSkinAnimation();
  virtual void PrepareSkinAnimationStep(const TControllerDef* ACtrl);

  void LoadFromDefinition(TCustomDef* ADef) override;
  void LoadHierarchyFromDefinition(TTransformDef*) override {}
  // Skins every linked mesh into its buffer of AMeshBuffers, else into its own vertex buffer.
  void AnimateSkin(const TMeshBuffers* AMeshBuffers);
  void Render() override;

  // Appends a root joint or a mesh made outside the loader (tests, tools).
  void AddSkeleton(TQuorvelJoint* AJoint) { FSkeletons.push_back(AJoint); }
  void AddMesh(TQuorvelMesh* AMesh) { FMeshes.push_back(AMesh); }

private:
  TQuorvelJoint* MakeRootJoint(TJointDef* ADef);
  void LinkMesh(TControllerDef* ACtrl, TQuorvelMesh* AMesh, TMeshDef* AMeshDef,
                const std::vector<TQuorvelJoint*>& AJoints);
  // Every record's joint resolved to its offset matrix once per pass.
  const TMatrix3D& OffsetOf(const TJointDef* ADef, int32_t ASlot);

  std::vector<TQuorvelTransform*> FSkeletons;  // components of the armature
  std::vector<TQuorvelMesh*> FMeshes;          // not owned
  std::unordered_map<const TJointDef*, TQuorvelJoint*> FJointMap;
};

// v = p (1 - s) + sum wk (p x Mk), then x AFinal when given: the rest of a weight sum below 1
// stays at the bind position, and at the bind pose a vertex stays put whatever its weights.
TPoint3D SkinVertex(const TVertexJoints& ARecord, const TMatrix3D* const* AOffsets, const TMatrix3D* AFinal);

}  // namespace quorvel
