#include "lib/animation/Joint.h"

#include <algorithm>

#include "framework/gui3d/Context3D.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/SysUtils.h"
#include "framework/rtl/Units.h"
#include "lib/animation/Armature.h"
#include "lib/defs/DefTypesArmature.h"
#include "lib/defs/DefTypesJoints.h"
#include "lib/defs/DefTypesMesh.h"
#include "lib/defs/DefTypesText.h"
#include "lib/defs/DefTypesVertexCache.h"
#include "lib/scene/Model.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelJoint, "Quorvel.Joint")
FW_CLASS_NO_MEMBERS(TQuorvelJoint)

TQuorvelJoint::TQuorvelJoint(TComponent* AOwner) : TQuorvelTransform(AOwner) {
  FLocalBindTransform.fill(TMatrix3D::Identity());
  FInverseBindTransform.fill(TMatrix3D::Identity());
  FCurrentOffsetMatrix.fill(TMatrix3D::Identity());
  SetFrustumCullingCheck(false);
}

TQuorvelJoint::~TQuorvelJoint() { ClearJoints(); }

TQuorvelTransform* TQuorvelJoint::GetArmature() const {
  for (TFwObject* p = GetParent(); p;) {
    if (auto* armature = dynamic_cast<TQuorvelArmature*>(p)) return armature;
    auto* joint = dynamic_cast<TQuorvelJoint*>(p);
    if (!joint) return nullptr;
    p = joint->GetParent();
  }
  return nullptr;
}

bool TQuorvelJoint::IsSkeletonRoot() const {
  auto* armature = static_cast<TQuorvelArmature*>(GetArmature());
  if (!armature) return false;
  const auto& roots = armature->GetSkeletons();
  return std::find(roots.begin(), roots.end(), this) != roots.end();
}

void TQuorvelJoint::SetShowJoint(bool Value) {
  FShowJoint = Value;
  for (TQuorvelJoint* j : FJoints) j->SetShowJoint(Value);
}

void TQuorvelJoint::SetJointRenderColor(TAlphaColor Value) {
  FJointRenderColor = Value;
  for (TQuorvelJoint* j : FJoints) j->SetJointRenderColor(Value);
}

namespace {
bool InSlots(const TControllerDef* ACtrl) {
  return ACtrl && ACtrl->GetIndex() >= 0 && ACtrl->GetIndex() < JointSlotCount;
}
}  // namespace

size_t TQuorvelJoint::CheckedSlot(const TControllerDef* ACtrl, const char* AWhat) {
  if (!InSlots(ACtrl))
    throw Exception(
        Format("invalid controller index to set %s in HAnim joint - max. 16 controllers allowed", {std::string(AWhat)}));
  return size_t(ACtrl->GetIndex());
}

TMatrix3D TQuorvelJoint::GetLocalBindTransform(const TControllerDef* AIndex) const {
  return InSlots(AIndex) ? FLocalBindTransform[size_t(AIndex->GetIndex())] : TMatrix3D::Identity();
}
TMatrix3D TQuorvelJoint::GetInverseBindTransform(const TControllerDef* AIndex) const {
  return InSlots(AIndex) ? FInverseBindTransform[size_t(AIndex->GetIndex())] : TMatrix3D::Identity();
}
TMatrix3D TQuorvelJoint::GetCurrentOffsetMatrix(const TControllerDef* AIndex) const {
  return InSlots(AIndex) ? FCurrentOffsetMatrix[size_t(AIndex->GetIndex())] : TMatrix3D::Identity();
}

void TQuorvelJoint::SetLocalBindTransformMatrix(const TControllerDef* ACtrl, const TMatrix3D& AMatrix) {
  FLocalBindTransform[CheckedSlot(ACtrl, "LocalBindTransform")] = AMatrix;
}

TMatrix3D TQuorvelJoint::GetSkeletonTransformMatrix() const { return SkeletonTransformIn(GetArmature()); }

TMatrix3D TQuorvelJoint::SkeletonTransformIn(const TQuorvelTransform* AArmature) const {
  if (!AArmature) return GetAbsoluteMatrix();
  return GetAbsoluteMatrix() * AArmature->GetInvertAbsoluteMatrix();
}

void TQuorvelJoint::DoDuplicate(TComponent* ASource, TQuorvelDuplicator* ADuplicator) {
  TQuorvelTransform::DoDuplicate(ASource, ADuplicator);
  // Copies of joints are owned by their parent joints; the parent may be set only later.
  TComponent* above = GetParent() ? static_cast<TComponent*>(GetParent()) : Owner();
  if (auto* parent = dynamic_cast<TQuorvelJoint*>(above)) parent->AddJoint(this);
  auto* def = dynamic_cast<TJointDef*>(GetDef());
  if (auto* armature = dynamic_cast<TQuorvelArmature*>(GetArmature()); armature && def) armature->LinkJoint(def, this);
}

void TQuorvelJoint::DebugOut(const std::string& ATab) {
  if (auto* def = dynamic_cast<TJointDef*>(GetDef())) {
    TArmatureDef* rig = def->GetArmature();
    const int64_t controllers = rig && rig->GetControllers() ? int64_t(rig->GetControllers()->Count()) : 0;
    Log::d(Format("%s%s", {ATab, GetQualifiedName()}) + "\n\r" +
           Format("Current=[%s][controllers=%d]", {Matrix3DToStr(def->GetTransform(), nullptr, ' '), controllers}));
  }
  for (TComponent* owned : ComponentList())
    if (auto* joint = dynamic_cast<TQuorvelJoint*>(owned)) joint->DebugOut(ATab + "    ");
}

void TQuorvelJoint::AddJoint(TQuorvelJoint* AJoint) {
  if (std::find(FJoints.begin(), FJoints.end(), AJoint) == FJoints.end()) FJoints.push_back(AJoint);
}

TQuorvelJoint* TQuorvelJoint::FindJoint(const TJointDef* ADef) const {
  for (TQuorvelJoint* j : FJoints) {
    if (j->GetDef() == ADef) return j;
    if (TQuorvelJoint* found = j->FindJoint(ADef)) return found;
  }
  return nullptr;
}

TJointDef* TQuorvelJoint::JointDef() const { return dynamic_cast<TJointDef*>(GetDef()); }

void TQuorvelJoint::CalculateInverseBindTransformMatrix(const TControllerDef* ACtrl,
                                                        const TMatrix3D& AParentBindTransform) {
  if (!ACtrl) return;
  TJointRefDef* ref = ACtrl->GetJointRef(JointDef());
  bool useStored = false;
  if (ref && ref->IsInvBindMatrixAvailable()) {
    useStored = true;
    if (GetArmature() && ACtrl->GetSkin() && !ACtrl->GetSkin()->BindShapeMatrixIsIdentity()) useStored = false;
  }
  TMatrix3D bind;
  if (useStored) {
    FInverseBindTransform[CheckedSlot(ACtrl, "InverseBindTransform")] = ref->GetInvBindMatrix();
    bind = ref->GetInvBindMatrix().Inverse();
  } else {
    bind = GetLocalBindTransform(ACtrl) * AParentBindTransform;
    FInverseBindTransform[CheckedSlot(ACtrl, "InverseBindTransform")] = bind.Inverse();
  }
  for (int i = 0; i < GetComponentCount(); ++i)
    if (auto* child = dynamic_cast<TQuorvelJoint*>(GetComponents(i)))
      child->CalculateInverseBindTransformMatrix(ACtrl, bind);
}

void TQuorvelJoint::PrepareSkinAnimationStep(const TControllerDef* ACtrl) {
  TMatrix3D t = TMatrix3D::Identity();
  if (ACtrl && ACtrl->GetSkin() && ACtrl->GetSkin()->GetTarget()) t = ACtrl->GetSkin()->GetTarget()->GetTransform();
  PrepareOffsetMatrices(ACtrl, t.Inverse(), GetArmature());
}

// The target's inverse and the armature hold for the whole subtree: found once, not per joint
// by walking up its parents (quadratic in the depth of a chain).
void TQuorvelJoint::PrepareOffsetMatrices(const TControllerDef* ACtrl, const TMatrix3D& AInvTarget,
                                          const TQuorvelTransform* AArmature) {
  const TMatrix3D s = SkeletonTransformIn(AArmature);
  FCurrentOffsetMatrix[CheckedSlot(ACtrl, "CurrentOffsetMatrix")] = GetInverseBindTransform(ACtrl) * s * AInvTarget;
  if (!JointDef()) return;
  for (TQuorvelJoint* j : FJoints)
    j->PrepareOffsetMatrices(ACtrl, AInvTarget, j->GetParent() == this ? AArmature : j->GetArmature());
}

void TQuorvelJoint::PrepareSkinAnimation() {
  for (TQuorvelJoint* j : FJoints) j->PrepareSkinAnimation();
}

void TQuorvelJoint::ApplyJointInfoToArmature(const TControllerDef* ACtrl, TVertexJointsList* AVertices,
                                             TTransformDef* ATransform) {
  if (!ACtrl || !AVertices) return;
  TJointDef* def = JointDef();
  if (TJointRefDef* ref = ACtrl->GetJointRef(def)) {
    TTransformDef* target = ATransform;
    if (!target && ref->GetController()) target = ref->GetController()->GetTarget();
    if (!target) {
      Log::d("TQuorvelJoint.ApplyJointInfoToArmature - target not set for reference-joint %s",
             def ? def->GetId() : std::string());
      return;
    }
    if (auto* mesh = dynamic_cast<TMeshDef*>(target)) ref->ApplyToVertices(def, mesh, AVertices, "");
  }
  for (TQuorvelJoint* j : FJoints) {
    if (!j) throw Exception("failed to ApplyJointInfoToArmature - joint is empty");
    j->ApplyJointInfoToArmature(ACtrl, AVertices, ATransform);
  }
}

void TQuorvelJoint::LoadFromDefinition(TCustomDef* ADef) {
  auto* def = dynamic_cast<TJointDef*>(ADef);
  if (!def) throw Exception("failed to load joint instance - definition missing");
  TQuorvelTransform::LoadFromDefinition(ADef);
  if (GetQualifiedName().empty()) SetQualifiedName(def->GetId());
  SetName(SanitizeIdentifier(def->GetId()));
  FSkinned = true;
  auto* armature = static_cast<TQuorvelArmature*>(GetArmature());
  if (TJointDef::TJointDictionary* children = def->GetJoints()) {
    for (auto& [id, childDef] : *children) {
      TQuorvelJoint* child = New<TQuorvelJoint>(this);
      child->SetStored(false);
      child->SetParent(this);
      child->LoadFromDefinition(childDef);
      AddJoint(child);
      if (armature) armature->LinkJoint(childDef, child);
      if (auto* model = armature ? dynamic_cast<TQuorvelModel*>(armature->GetParent()) : nullptr)
        model->ResolvingSegment(childDef->GetId(), child);
    }
  }
  if (TArmatureDef* adef = def->GetArmature())
    for (TControllerDef* ctrl : *adef->GetControllers()) SetLocalBindTransformMatrix(ctrl, def->GetTransform());
}

void TQuorvelJoint::RenderJoint(TContext3D* AContext) {
  if (!FShowJoint || !AContext || !AContext->Valid()) return;
  const TMatrix3D saved = AContext->GetCurrentMatrix();
  auto restore = Finally([&] { AContext->SetMatrix(saved); });
  AContext->SetMatrix(TMatrix3D::Identity());
  const TVector3D pos = GetAbsolutePosition();
  AContext->DrawCube({pos.X, pos.Y, pos.Z}, JointRenderSize, 1.0f, FJointRenderColor);
  TJointDef* def = JointDef();
  if (def && def->GetParent() && def->GetParent()->GetParent()) {
    auto* armature = static_cast<TQuorvelArmature*>(GetArmature());
    if (TQuorvelJoint* parent = armature ? armature->FindJoint(def->GetParent()) : nullptr) {
      const TVector3D pp = parent->GetAbsolutePosition();
      AContext->DrawLine({pos.X, pos.Y, pos.Z}, {pp.X, pp.Y, pp.Z}, 1.0f, MakeAlphaColor(0xFFFFFFFF));
    }
  }
}

void TQuorvelJoint::Render() {
  RenderJoint(GetContext());
  TQuorvelTransform::Render();
}

namespace {

void InitJointUnit() { RegisterClasses({TQuorvelJoint::StaticClass()}); }
void FinJointUnit() { UnRegisterClasses({TQuorvelJoint::StaticClass()}); }
const TUnitRegistration JointUnit{{"Quorvel.Joint", {"Quorvel.Transform"}, &InitJointUnit, &FinJointUnit}};

}  // namespace

}  // namespace quorvel
