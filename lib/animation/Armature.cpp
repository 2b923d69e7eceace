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

const TQuorvelArmature::TSkinPlan& TQuorvelArmature::PlanFor(size_t AMesh, const TVertexJointsList* ARecords) {
  if (FPlans.size() <= AMesh) FPlans.resize(AMesh + 1);
  TSkinPlan& plan = FPlans[AMesh];
  if (plan.Records == ARecords && plan.Stamp == ARecords->GetStamp() && plan.MapSize == FJointMap.size()) return plan;
  const size_t n = size_t(ARecords->Count());
  const TVertexJoints* records = ARecords->Data();
  plan.Positions.resize(n);
  plan.Counts.resize(n);
  plan.Entries.clear();
  plan.Valid = n;
  for (size_t i = 0; i < n; ++i) {
    const TVertexJoints& r = records[i];
    plan.Positions[i] = r.Position;
    uint8_t count = 0;
    bool missing = false;
    for (size_t k = 0; k < r.JointsCount && k < size_t(VertexJointsMax); ++k) {
      const TJointDef* def = r.JointsArray[k];
      auto [it, added] = FPlanNumbers.try_emplace(def, uint32_t(FPlanJoints.size()));
      if (added) {
        TQuorvelJoint* joint = def ? FindJoint(def) : nullptr;
        if (!joint) {
          FPlanNumbers.erase(it);
          missing = true;
          break;
        }
        FPlanJoints.push_back(joint);
      }
      if (r.WeightsArray[k] == 0) continue;
      plan.Entries.push_back({it->second, r.WeightsArray[k]});
      ++count;
    }
    if (missing) {
      plan.Valid = i;
      break;
    }
    plan.Counts[i] = count;
  }
  plan.Records = ARecords;
  plan.Stamp = ARecords->GetStamp();
  plan.MapSize = FJointMap.size();
  return plan;
}

void TQuorvelArmature::SkinPlan(const TSkinPlan& APlan, size_t ACount, uint8_t* AOut, size_t AStride,
                                const TMatrix3D* AFinal) const {
  const TMatrix3D* offsets = FOffsets.data();
  const TSkinEntry* e = APlan.Entries.data();
  const TPoint3D* positions = APlan.Positions.data();
  const uint8_t* counts = APlan.Counts.data();
  for (size_t i = 0; i < ACount; ++i) {
    const int32_t count = counts[i];
    const TPoint3D v = BlendSkin(
        positions[i], count, [&](int32_t k) { return std::pair{&offsets[e[k].Joint], e[k].Weight}; }, AFinal);
    e += count;
    std::memcpy(AOut + i * AStride, &v, 12);
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
  int32_t gatheredSlot = -1;
  size_t gatheredJoints = 0;
  for (size_t m = 0; m < FMeshes.size(); ++m) {
    TQuorvelMesh* mesh = FMeshes[m];
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
    size_t n = 0, stride = 0;
    uint8_t* out = nullptr;
    if (positionsOnly && buffer->Size() > 0 && buffer->VertexSize() == 12) {
      n = size_t(std::max<int64_t>(0, std::min<int64_t>(records->Count(), buffer->Size() / 12)));
      stride = 12;
      out = buffer->Buffer();
    } else if (buffer->Length() > 0) {
      n = size_t(std::max(0, std::min(records->Count(), buffer->Length())));
      stride = size_t(buffer->VertexSize());
      out = buffer->VerticesPtr(0) + std::max(0, buffer->OffsetOf(TVertexFormat::Vertex));
    } else {
      continue;
    }
    const TSkinPlan& plan = PlanFor(m, records);
    if (slot != gatheredSlot || gatheredJoints != FPlanJoints.size()) {
      FOffsets.resize(FPlanJoints.size());
      for (size_t j = 0; j < FPlanJoints.size(); ++j) FOffsets[j] = FPlanJoints[j]->OffsetMatrixAt(slot);
      gatheredSlot = slot;
      gatheredJoints = FPlanJoints.size();
    }
    SkinPlan(plan, std::min(n, plan.Valid), out, stride, final);
    // The first record naming a joint outside the map fails as the map's lookup does.
    if (n > plan.Valid) throw EListError("Item not found");
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
