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
  if (def->GetControllers()->Count() == 0) {
    if (def->GetRoot())
      MakeRootJoint(def->GetRoot());
    else
      Log::d("armature definition `%s` without controller or root joint", def->GetId());
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

const TMatrix3D& TQuorvelArmature::OffsetOf(const TJointDef* ADef, int32_t ASlot) {
  auto it = FJointMap.find(ADef);
  if (it == FJointMap.end()) throw EListError("Item not found");
  return it->second->OffsetMatrixAt(ASlot);
}

TPoint3D SkinVertex(const TVertexJoints& ARecord, const TMatrix3D* const* AOffsets, const TMatrix3D* AFinal) {
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

void TQuorvelArmature::AnimateSkin(const TMeshBuffers* AMeshBuffers) {
  TQuorvelAnimation* current = nullptr;
  auto* model = dynamic_cast<TQuorvelModel*>(GetParent());
  if (model && model->GetAnimationManager()) current = model->GetAnimationManager()->GetCurrent();
  TAnimationDef* adef = current ? current->GetDef() : nullptr;
  if (current) {
    if (adef && adef->IsCacheable()) {
      if (adef->GetBufferingState() == TAnimationBufferingState::Ready) return;
    } else if (!current->GetRunning()) {
      return;
    }
  }
  auto* def = dynamic_cast<TArmatureDef*>(GetDef());
  if (def)
    for (TControllerDef* ctrl : *def->GetControllers()) PrepareSkinAnimationStep(ctrl);
  const bool positionsOnly = adef && adef->GetCachingFlags().Contains(TAnimationCachingFlag::VertexPosition);
  const TMatrix3D* final = nullptr;  // the identity without a current animation
  const TMatrix3D* offsets[VertexJointsMax];
  // Joint definitions resolved once per pass: a direct-mapped memo in front of the joint map
  // (a miss, or another definition in the slot, asks the map).
  struct TMemo {
    const TJointDef* Def;
    const TMatrix3D* Matrix;
  };
  TMemo memo[256] = {};
  int32_t memoSlot = -1;
  auto resolve = [&](const TJointDef* ADef, int32_t ASlot) -> const TMatrix3D* {
    if (ASlot != memoSlot) {
      std::fill(std::begin(memo), std::end(memo), TMemo{});
      memoSlot = ASlot;
    }
    TMemo& m = memo[(reinterpret_cast<uintptr_t>(ADef) >> 4) & 255];
    if (m.Def != ADef || !m.Matrix) m = {ADef, &OffsetOf(ADef, ASlot)};
    return m.Matrix;
  };
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
    // Writes stop at the shorter of records and buffer. Packed only into a buffer of packed
    // positions: a mesh's own buffer (a bake that failed, a cache not ready) keeps its layout.
    if (positionsOnly && buffer->Size() > 0 && buffer->VertexSize() == 12) {
      const int32_t n = int32_t(std::min<int64_t>(records->Count(), buffer->Size() / 12));
      for (int32_t i = 0; i < n; ++i) {
        const TVertexJoints& r = *records->GetItemPtr(i);
        for (int k = 0; k < r.JointsCount; ++k) offsets[k] = resolve(r.JointsArray[size_t(k)], slot);
        const TPoint3D v = SkinVertex(r, offsets, final);
        std::memcpy(buffer->Buffer() + size_t(i) * 12, &v, 12);
      }
    } else if (buffer->Length() > 0) {
      const int32_t n = std::min(records->Count(), buffer->Length());
      const int32_t position = std::max(0, buffer->OffsetOf(TVertexFormat::Vertex));
      for (int32_t i = 0; i < n; ++i) {
        const TVertexJoints& r = *records->GetItemPtr(i);
        for (int k = 0; k < r.JointsCount; ++k) offsets[k] = resolve(r.JointsArray[size_t(k)], slot);
        const TPoint3D v = SkinVertex(r, offsets, final);
        std::memcpy(buffer->VerticesPtr(i) + position, &v, 12);
      }
    }
  }
}

void TQuorvelArmature::Render() {
  TQuorvelTransform::Render();
  AnimateSkin(nullptr);
}

namespace {

void InitUnit() { RegisterClasses({TQuorvelArmature::StaticClass()}); }
void FinUnit() { UnRegisterClasses({TQuorvelArmature::StaticClass()}); }
const TUnitRegistration Unit{{"Quorvel.Armature", {"Quorvel.Transform"}, &InitUnit, &FinUnit}};

}  // namespace

}  // namespace quorvel
