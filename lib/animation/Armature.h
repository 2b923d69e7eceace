#pragma once
// One skeleton of a model: builds the root joints from an armature definition, links the meshes
// its skin controllers target, maps joint definitions to joints and deforms the linked meshes'
// vertices on the processor by linear blend skinning.
#include <map>
#include <unordered_map>
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
  // Every joint definition of the map resolved to its offset matrix of controller slot ASlot,
  // once per pass, into an open-addressed table the armature keeps (a pass allocates nothing
  // once the table has its size).
  void ResolveOffsets(int32_t ASlot);
  // A definition missing from the map raises the map's error.
  const TMatrix3D* Resolved(const TJointDef* ADef) const {
    if (ADef)
      for (size_t h = ResolvedIndex(ADef);; h = (h + 1) & (FResolved.size() - 1)) {
        const TResolvedOffset& e = FResolved[h];
        if (e.Def == ADef) return e.Matrix;
        if (!e.Def) break;
      }
    throw EListError("Item not found");
  }
  size_t ResolvedIndex(const TJointDef* ADef) const {
    return size_t((uint64_t(reinterpret_cast<uintptr_t>(ADef)) * 0x9E3779B97F4A7C15ull) >> FResolvedShift);
  }

  std::vector<TQuorvelTransform*> FSkeletons;  // components of the armature
  std::vector<TQuorvelMesh*> FMeshes;          // not owned
  std::unordered_map<const TJointDef*, TQuorvelJoint*> FJointMap;
  struct TResolvedOffset {
    const TJointDef* Def;
    const TMatrix3D* Matrix;
  };
  std::vector<TResolvedOffset> FResolved;
  int FResolvedShift = 60;
  // A run of the current animation was skinned and its final pose is still to be.
  bool FRunPoseOwed = false;
};

// v = p (1 - s) + sum wk (p x Mk), then x AFinal when given: the rest of a weight sum below 1
// stays at the bind position, and at the bind pose a vertex stays put whatever its weights.
// Inline: it runs once per vertex and pass.
inline TPoint3D SkinVertex(const TVertexJoints& ARecord, const TMatrix3D* const* AOffsets, const TMatrix3D* AFinal) {
  const TPoint3D& p = ARecord.Position;
  float ax = 0, ay = 0, az = 0, s = 0;
  for (int k = 0; k < ARecord.JointsCount; ++k) {
    const float w = ARecord.WeightsArray[size_t(k)];
    const TMatrix3D& m = *AOffsets[k];
    s += w;
    ax += (p.X * m.m11 + p.Y * m.m21 + p.Z * m.m31 + m.m41) * w;
    ay += (p.X * m.m12 + p.Y * m.m22 + p.Z * m.m32 + m.m42) * w;
    az += (p.X * m.m13 + p.Y * m.m23 + p.Z * m.m33 + m.m43) * w;
  }
  const float rest = 1.0f - s;
  TPoint3D v{p.X * rest + ax, p.Y * rest + ay, p.Z * rest + az};
  return AFinal ? v * *AFinal : v;
}

}  // namespace quorvel
