#pragma once
// One skeleton of a model: builds the root joints from an armature definition, links the meshes
// its skin controllers target, maps joint definitions to joints and deforms the linked meshes'
// vertices on the processor by linear blend skinning.
#include <cstring>
#include <map>
#include <unordered_map>
#include <utility>
#include <vector>

#include "framework/rtl/Exceptions.h"
#include "lib/animation/Joint.h"
#include "lib/defs/DefTypesJoints.h"

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
  // Logs the armature, then its skeleton roots.
  void DebugOut();
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
  // A linked mesh's records in flat arrays, derived again when the records' stamp, the list or the
  // joint map changes: bind positions, per vertex the number of its entries, and the entries
  // (joint number into FPlanJoints, weight), zero weights left out as they add nothing.
  struct TSkinEntry {
    uint32_t Joint;
    float Weight;
  };
  struct TSkinPlan {
    const TVertexJointsList* Records = nullptr;
    uint64_t Stamp = 0;
    size_t MapSize = 0;
    // Records before the first that names a joint missing from the map.
    size_t Valid = 0;
    std::vector<TPoint3D> Positions;
    std::vector<uint8_t> Counts;
    std::vector<TSkinEntry> Entries;
  };
  const TSkinPlan& PlanFor(size_t AMesh, const TVertexJointsList* ARecords);
  // Skins the plan's first ACount records into AOut (a position every AStride bytes).
  void SkinPlan(const TSkinPlan& APlan, size_t ACount, uint8_t* AOut, size_t AStride, const TMatrix3D* AFinal) const;

  std::vector<TQuorvelTransform*> FSkeletons;  // components of the armature
  std::vector<TQuorvelMesh*> FMeshes;          // not owned
  std::unordered_map<const TJointDef*, TQuorvelJoint*> FJointMap;
  std::vector<TSkinPlan> FPlans;  // by index into FMeshes
  // The joints the plans name, numbered as they first appear; their offset matrices of one
  // controller slot are copied side by side once per pass and slot.
  std::vector<TQuorvelJoint*> FPlanJoints;
  std::unordered_map<const TJointDef*, uint32_t> FPlanNumbers;
  std::vector<TMatrix3D> FOffsets;
  // A run of the current animation was skinned and its final pose is still to be.
  bool FRunPoseOwed = false;
};

// v = p (1 - s) + sum wk (p x Mk), then x AFinal when given: the rest of a weight sum below 1
// stays at the bind position, and at the bind pose a vertex stays put whatever its weights.
// AEntry(k) gives the k-th joint's offset matrix and weight. A product p x Mk runs over the four
// columns of a row at once (the fourth is not used), each column summed in the same order as
// one at a time.
template <class TEntryOf>
inline TPoint3D BlendSkin(const TPoint3D& p, int32_t ACount, const TEntryOf& AEntry, const TMatrix3D* AFinal) {
  using TRow = float __attribute__((vector_size(16)));
  static_assert(sizeof(TMatrix3D) == 4 * sizeof(TRow), "rows of four floats side by side");
  TRow a = {0, 0, 0, 0};
  float s = 0;
  for (int32_t k = 0; k < ACount; ++k) {
    const auto [matrix, w] = AEntry(k);
    TRow r[4];
    std::memcpy(r, matrix, sizeof(r));
    s += w;
    a += (p.X * r[0] + p.Y * r[1] + p.Z * r[2] + r[3]) * w;
  }
  const float rest = 1.0f - s;
  TPoint3D v{p.X * rest + a[0], p.Y * rest + a[1], p.Z * rest + a[2]};
  return AFinal ? v * *AFinal : v;
}

// One record with the offset matrices of its joints, in order.
inline TPoint3D SkinVertex(const TVertexJoints& ARecord, const TMatrix3D* const* AOffsets, const TMatrix3D* AFinal) {
  return BlendSkin(
      ARecord.Position, ARecord.JointsCount,
      [&](int32_t k) { return std::pair{AOffsets[k], ARecord.WeightsArray[size_t(k)]}; }, AFinal);
}

}  // namespace quorvel
