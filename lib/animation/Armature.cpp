#include "lib/animation/Armature.h"

#include <atomic>
#include <cstring>

#include "framework/rtl/Containers.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/SysUtils.h"
#include "framework/rtl/Units.h"
#include "lib/animation/Animation.h"
#include "lib/defs/DefTypesAnimation.h"
#include "lib/defs/DefTypesArmature.h"
#include "lib/defs/DefTypesJoints.h"
#include "lib/defs/DefTypesMesh.h"
#include "lib/defs/DefTypesText.h"
#include "lib/scene/Mesh.h"
#include "lib/scene/Model.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelArmature, "Quorvel.Armature")
FW_CLASS_NO_MEMBERS(TQuorvelArmature)

namespace {
std::atomic<int32_t> GArmatureCounter{0};
}

TQuorvelArmature::TQuorvelArmature(TComponent* AOwner)
    : TQuorvelTransform(AOwner), ArmatureIndex(GArmatureCounter.fetch_add(1)) {
  SetFrustumCullingCheck(false);
}

bool TQuorvelArmature::GetShowJoints() const {
  for (TQuorvelTransform* root : FSkeletons)
    if (auto* j = dynamic_cast<TQuorvelJoint*>(root); j && j->GetShowJoint()) return true;
  return false;
}

void TQuorvelArmature::SetShowJoints(bool Value) {
  for (TQuorvelTransform* root : FSkeletons)
    if (auto* j = dynamic_cast<TQuorvelJoint*>(root)) j->SetShowJoint(Value);
}

TAlphaColor TQuorvelArmature::GetJointsRenderColor() const {
  for (TQuorvelTransform* root : FSkeletons)
    if (auto* j = dynamic_cast<TQuorvelJoint*>(root)) return j->GetJointRenderColor();
  return MakeAlphaColor(0xFFFFFFFF);
}

void TQuorvelArmature::SetJointsRenderColor(TAlphaColor Value) {
  for (TQuorvelTransform* root : FSkeletons)
    if (auto* j = dynamic_cast<TQuorvelJoint*>(root)) j->SetJointRenderColor(Value);
}

void TQuorvelArmature::LinkJoint(TJointDef* ADef, TQuorvelJoint* AJoint) { FJointMap.try_emplace(ADef, AJoint); }

TQuorvelJoint* TQuorvelArmature::FindJoint(const TJointDef* ADef) const {
  auto it = FJointMap.find(ADef);
  return it == FJointMap.end() ? nullptr : it->second;
}

void TQuorvelArmature::CalculateInverseBindTransformMatrix(const TControllerDef* ACtrl) {
  for (TQuorvelTransform* root : FSkeletons)
    if (auto* j = dynamic_cast<TQuorvelJoint*>(root)) j->CalculateInverseBindTransformMatrix(ACtrl, TMatrix3D::Identity());
}

void TQuorvelArmature::PrepareSkinAnimation() {
  for (TQuorvelTransform* root : FSkeletons)
    if (auto* j = dynamic_cast<TQuorvelJoint*>(root)) j->PrepareSkinAnimation();
}

void TQuorvelArmature::PrepareSkinAnimationStep(const TControllerDef* ACtrl) {
  for (TQuorvelTransform* root : FSkeletons)
    if (auto* j = dynamic_cast<TQuorvelJoint*>(root)) j->PrepareSkinAnimationStep(ACtrl);
}

TQuorvelJoint* TQuorvelArmature::MakeRootJoint(TJointDef* ADef) {
  TQuorvelJoint* joint = New<TQuorvelJoint>(this);
  joint->SetStored(false);
  joint->SetParent(this);
  // Registered before loading so that the subtree finds its armature's map through it.
  FSkeletons.push_back(joint);
  joint->LoadFromDefinition(ADef);
  LinkJoint(ADef, joint);
  return joint;
}

void TQuorvelArmature::LinkMesh(TControllerDef* ACtrl, TQuorvelMesh* AMesh, TMeshDef* AMeshDef,
                                const std::vector<TQuorvelJoint*>& AJoints) {
  FMeshes.push_back(AMesh);
  if (AMesh->VertexJointsExist()) return;
  AMesh->GenerateVertexJoints(ACtrl, TMatrix3D::Identity());
  for (TQuorvelJoint* j : AJoints) j->ApplyJointInfoToArmature(ACtrl, AMesh->GetVertexJoints(), AMeshDef);
}

void TQuorvelArmature::LoadFromDefinition(TCustomDef* ADef) {
  auto* def = dynamic_cast<TArmatureDef*>(ADef);
  if (!def) return;
  TQuorvelTransform::LoadFromDefinition(ADef);
  if (GetQualifiedName().empty()) SetQualifiedName(def->GetId());
  SetName(SanitizeIdentifier(def->GetId()));
  auto* model = dynamic_cast<TQuorvelModel*>(GetParent());
  if (model) model->ResolvingSegment(def->GetId(), this);
  if (def->GetControllers()->Count() == 0) {
    if (def->GetRoot()) {
      TQuorvelJoint* root = MakeRootJoint(def->GetRoot());
      if (model) model->ResolvingSegment(def->GetRoot()->GetId(), root);
    } else {
      Log::d("armature definition `%s` without controller or root joint", def->GetId());
    }
    return;
  }
  for (TControllerDef* ctrl : *def->GetControllers()) {
    TSkinDef* skin = ctrl->GetSkin();
    // A root made for an earlier controller serves this one too, so its mesh gets weights.
    std::vector<TQuorvelJoint*> joints;
    if (skin)
      for (TJointRefDef* ref : *skin->GetSkeletons()) {
        TJointDef* rootDef = ref->GetJoint();
        if (!rootDef) continue;
        TQuorvelJoint* root = FindJoint(rootDef);
        if (!root || std::find(FSkeletons.begin(), FSkeletons.end(), root) == FSkeletons.end())
          root = MakeRootJoint(rootDef);
        if (std::find(joints.begin(), joints.end(), root) == joints.end()) joints.push_back(root);
      }
    const std::string name = ctrl->GetTarget() ? ctrl->GetTarget()->GetId() : std::string();
    TQuorvelTransform* target =
        model ? dynamic_cast<TQuorvelTransform*>(model->FindControlByDeepSearch(name)) : nullptr;
    if (!target) {
      if (model && name == model->GetName()) {
        Log::d("<WARNING> Armature controller using model instance \"%s\" as target!", name);
        target = model;
      } else {
        if (model) model->DebugOut(true);
        throw Exception(Format("failed to link target to armature - control `%s` not found", {name}));
      }
    }
    auto* mesh = dynamic_cast<TQuorvelMesh*>(target);
    if (!mesh) continue;
    TMeshData* data = mesh->GetMeshData();
    if (!mesh->GetMeshes().empty() && (!data || data->GetVertexBuffer()->Length() == 0)) {
      for (TQuorvelMesh* m : mesh->GetMeshes()) LinkMesh(ctrl, m, m->GetMeshDef(), joints);
      CalculateInverseBindTransformMatrix(ctrl);
    } else {
      const bool fresh = !mesh->VertexJointsExist();
      LinkMesh(ctrl, mesh, nullptr, joints);
      if (fresh) CalculateInverseBindTransformMatrix(ctrl);
    }
  }
}

void TQuorvelArmature::ResolveOffsets(int32_t ASlot) {
  size_t size = 16;
  int bits = 4;
  while (size < FJointMap.size() * 2) {
    size <<= 1;
    ++bits;
  }
  if (FResolved.size() != size)
    FResolved.assign(size, TResolvedOffset{});
  else
    std::fill(FResolved.begin(), FResolved.end(), TResolvedOffset{});
  FResolvedShift = 64 - bits;
  for (const auto& [def, joint] : FJointMap) {
    size_t h = ResolvedIndex(def);
    while (FResolved[h].Def) h = (h + 1) & (size - 1);
    FResolved[h] = {def, &joint->OffsetMatrixAt(ASlot)};
  }
}

void TQuorvelArmature::AnimateSkin(const TMeshBuffers* AMeshBuffers) {
  TQuorvelAnimation* current = nullptr;
  auto* model = dynamic_cast<TQuorvelModel*>(GetParent());
  if (model && model->GetAnimationManager()) current = model->GetAnimationManager()->GetCurrent();
  TAnimationDef* adef = current ? current->GetDef() : nullptr;
  if (current) {
    if (adef && adef->IsCacheable()) {
      if (adef->GetBufferingState() == TAnimationBufferingState::Ready) return;
    } else if (current->GetRunning()) {
      FRunPoseOwed = true;
    } else {
      // The tick that ends a run writes its last key into the joints and stops it at once:
      // that pose is skinned once more before the mesh rests.
      if (!FRunPoseOwed) return;
      FRunPoseOwed = false;
    }
  }
  auto* def = dynamic_cast<TArmatureDef*>(GetDef());
  if (def)
    for (TControllerDef* ctrl : *def->GetControllers()) PrepareSkinAnimationStep(ctrl);
  const bool positionsOnly = adef && adef->GetCachingFlags().Contains(TAnimationCachingFlag::VertexPosition);
  // The current animation's final transform; the identity without one, or when it uses none.
  const TMatrix3D* final = current && current->UseTransform ? &current->TransformMatrix : nullptr;
  const TMatrix3D* offsets[VertexJointsMax];
  int32_t resolvedSlot = -1;
  for (TQuorvelMesh* mesh : FMeshes) {
    TVertexBuffer* buffer = nullptr;
    if (AMeshBuffers)
      if (auto it = AMeshBuffers->find(mesh->GetMeshDef()); it != AMeshBuffers->end()) buffer = it->second;
    if (!buffer && mesh->GetMeshData()) buffer = mesh->GetMeshData()->GetVertexBuffer();
    TVertexJointsList* records = mesh->GetVertexJoints();
    if (!records || !buffer) continue;
    const int32_t slot = records->GetController() ? records->GetController()->GetIndex() : -1;
    if (slot < 0 || slot >= JointSlotCount)
      throw Exception("invalid controller index to set CurrentOffsetMatrix in HAnim joint - max. 16 controllers allowed");
    if (slot != resolvedSlot) {
      ResolveOffsets(slot);
      resolvedSlot = slot;
    }
    // Writes stop at the shorter of records and buffer. Packed only into a buffer of packed
    // positions: a mesh's own buffer (a bake that failed, a cache not ready) keeps its layout.
    if (positionsOnly && buffer->Size() > 0 && buffer->VertexSize() == 12) {
      const int32_t n = int32_t(std::min<int64_t>(records->Count(), buffer->Size() / 12));
      const TVertexJoints* first = n > 0 ? records->GetItemPtr(0) : nullptr;
      uint8_t* out = buffer->Buffer();
      for (size_t i = 0; i < size_t(n); ++i) {
        const TVertexJoints& r = first[i];
        for (int k = 0; k < r.JointsCount; ++k) offsets[k] = Resolved(r.JointsArray[size_t(k)]);
        const TPoint3D v = SkinVertex(r, offsets, final);
        std::memcpy(out + i * 12, &v, 12);
      }
    } else if (buffer->Length() > 0) {
      const int32_t n = std::min(records->Count(), buffer->Length());
      const size_t position = size_t(std::max(0, buffer->OffsetOf(TVertexFormat::Vertex)));
      const size_t stride = size_t(buffer->VertexSize());
      const TVertexJoints* first = n > 0 ? records->GetItemPtr(0) : nullptr;
      uint8_t* out = buffer->VerticesPtr(0);
      for (size_t i = 0; i < size_t(n); ++i) {
        const TVertexJoints& r = first[i];
        for (int k = 0; k < r.JointsCount; ++k) offsets[k] = Resolved(r.JointsArray[size_t(k)]);
        const TPoint3D v = SkinVertex(r, offsets, final);
        std::memcpy(out + i * stride + position, &v, 12);
      }
    }
  }
}

void TQuorvelArmature::DebugOut() {
  Log::d(Format("Armature::%s", {GetQualifiedName()}));
  for (TQuorvelTransform* root : FSkeletons)
    if (auto* joint = dynamic_cast<TQuorvelJoint*>(root)) joint->DebugOut("    ");
}

void TQuorvelArmature::Render() {
  TQuorvelTransform::Render();
  AnimateSkin(nullptr);
}

namespace {

void InitArmatureUnit() { RegisterClasses({TQuorvelArmature::StaticClass()}); }
void FinArmatureUnit() { UnRegisterClasses({TQuorvelArmature::StaticClass()}); }
const TUnitRegistration ArmatureUnit{{"Quorvel.Armature", {"Quorvel.Transform"}, &InitArmatureUnit, &FinArmatureUnit}};

}  // namespace

}  // namespace quorvel
