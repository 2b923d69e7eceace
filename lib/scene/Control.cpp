#include "lib/scene/Control.h"

#include "framework/rtl/Units.h"

#include <cmath>

#include "framework/gui3d/Camera.h"
#include "framework/gui3d/Context3D.h"
#include "framework/gui3d/Dummy.h"
#include "framework/rtl/Guid.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/SysUtils.h"
#include "lib/context/Context.h"
#include "lib/defs/DefTypesBase.h"
#include "lib/utils/UtilsGeometry.h"
#include "lib/utils/UtilsMath.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelControl, "Quorvel.Control")
void TQuorvelControl::Register(ClassBuilder<TQuorvelControl>& b) {
  b.Prop("QualifiedName", &Self::GetQualifiedName, &Self::SetQualifiedName)
      .Field("FQualifiedName", &Self::FQualifiedName)
      .Field("FDef", &Self::FDef, Reference)
      .Field("FFrustumCullingCheck", &Self::FFrustumCullingCheck)
      .Field("FCursor", &Self::FCursor)
      .Field("FDragMode", &Self::FDragMode)
      .Field("FVisibleContextMenu", &Self::FVisibleContextMenu);
}

namespace {

bool Destroying(const TControl3D* AControl) { return AControl->GetComponentState().Contains(csDestroying); }

bool Differs(const TPoint3D& APoint, float AValue, float AEpsilon) {
  return std::fabs(APoint.X - AValue) > AEpsilon || std::fabs(APoint.Y - AValue) > AEpsilon ||
         std::fabs(APoint.Z - AValue) > AEpsilon;
}

}  // namespace

TQuorvelControl::TQuorvelControl(TComponent* AOwner) : TControl3D(AOwner) { SetOpaque(true); }

TQuorvelControl::~TQuorvelControl() = default;

void TQuorvelControl::BeforeDestruction() {
  // Leave every registry that holds this control, and let the controls registered here
  // forget this registry, so no key ever maps to a freed control.
  const std::set<TQuorvelControl*> registries = FRegistries;
  for (TQuorvelControl* r : registries) r->RemoveControl(this);
  for (auto& [key, control] : FControls) control->FRegistries.erase(this);
  FControls.clear();
  TControl3D::BeforeDestruction();
}

void TQuorvelControl::SetQualifiedName(const std::string& Value) {
  FQualifiedName = Value;
  if (auto* parent = dynamic_cast<TQuorvelControl*>(GetParent())) parent->AddControl(FQualifiedName, this);
}

void TQuorvelControl::SetName(const std::string& NewName) {
  auto isFree = [this](const std::string& AName) {
    if (FindGlobalComponent(AName)) return false;
    return Owner() == nullptr || Owner()->FindComponent(AName) == nullptr;
  };
  if (isFree(NewName)) {
    TControl3D::SetName(NewName);
    return;
  }
  std::string base = ClassName();
  if (!base.empty() && base[0] == 'T') base.erase(0, 1);
  for (int i = 0; i < 11; ++i) {
    std::string guid = TGUID::NewGuid().ToString();
    std::string hex;
    for (char c : guid)
      if (std::isxdigit(static_cast<unsigned char>(c))) hex += char(std::tolower(static_cast<unsigned char>(c)));
    const std::string candidate = base + "_" + hex;
    if (isFree(candidate)) {
      TControl3D::SetName(candidate);
      return;
    }
  }
}

void TQuorvelControl::SetParent(TFwObject* Value) {
  TControl3D::SetParent(Value);
  UpdateParent(Value);
}

void TQuorvelControl::LoadFromDefinition(TCustomDef*) { throw EAbstractError("Abstract Error"); }
void TQuorvelControl::StoreToDefinition(TCustomDef*) { throw EAbstractError("Abstract Error"); }

std::string TQuorvelControl::GetControlName(TQuorvelControl* AControl) const {
  for (const auto& [key, control] : FControls)
    if (control == AControl) return key;
  return {};
}

void TQuorvelControl::AddControl(const std::string& AName, TQuorvelControl* AControl) {
  if (FControls.count(AName))
    throw Exception(Format("control \"%s\" already exists in %s", {AName, FQualifiedName}));
  FControls.emplace(AName, AControl);
  if (AControl) AControl->FRegistries.insert(this);
}

void TQuorvelControl::RemoveControl(const std::string& AName) {
  auto it = FControls.find(AName);
  if (it == FControls.end()) return;
  TQuorvelControl* control = it->second;
  FControls.erase(it);
  if (control && GetControlName(control).empty()) control->FRegistries.erase(this);
}

void TQuorvelControl::RemoveControl(TQuorvelControl* AControl) {
  std::vector<std::string> keys;
  for (const auto& [key, control] : FControls)
    if (control == AControl) keys.push_back(key);
  for (const std::string& key : keys) RemoveControl(key);
}

void TQuorvelControl::MoveControlTo(TQuorvelControl* AControl, TQuorvelControl* ANewOwner) {
  const std::string name = GetControlName(AControl);
  if (!name.empty()) {
    RemoveControl(name);
    ANewOwner->AddControl(name, AControl);
  }
  ANewOwner->InsertComponent(AControl);
  AControl->SetParent(ANewOwner);
}

TComponent* TQuorvelControl::FindControlByDeepSearch(const std::string& AName) {
  if (AName.empty()) return nullptr;
  auto it = FControls.find(AName);
  if (it != FControls.end()) return it->second;
  for (const auto& [key, control] : FControls)
    if (TComponent* found = control->FindControlByDeepSearch(AName)) return found;
  return nullptr;
}

TComponent* TQuorvelControl::FindControlByDefDeepSearch(TCustomDef* ADef) {
  if (ADef == nullptr) return nullptr;
  if (ADef == FDef) return this;
  for (const auto& [key, control] : FControls)
    if (TComponent* found = control->FindControlByDefDeepSearch(ADef)) return found;
  return nullptr;
}

void TQuorvelControl::FindControlsByDeepSearch(const std::string& AName, std::map<TComponent*, bool>* AResult) {
  if (AName.empty()) return;
  if (AResult == nullptr) throw Exception("result list not assigned");
  for (const auto& [key, control] : FControls) {
    if (key == AName) {
      if (!AResult->emplace(control, false).second) throw EListError("Duplicates not allowed");
    } else if (!control->GetReferencedName().empty() && control->GetReferencedName() == AName) {
      if (!AResult->emplace(control, true).second) throw EListError("Duplicates not allowed");
    }
    control->FindControlsByDeepSearch(AName, AResult);
  }
}

TBoundingBox TQuorvelControl::GetBoundingBox() { return GetLocalBounds(); }

TBoundingBox TQuorvelControl::GetAbsoluteBoundingBox() {
  return TransformBoundingBox(GetBoundingBox(), GetAbsoluteMatrix());
}

void TQuorvelControl::DestroyComponentsButIgnoreClass(std::initializer_list<const TClass*> AClasses) {
  int i = 0;
  while (i < GetComponentCount()) {
    TComponent* c = GetComponents(i);
    bool keep = false;
    for (const TClass* cls : AClasses) keep = keep || c->InheritsFrom(cls);
    if (keep)
      ++i;
    else
      Free(c);
  }
}

void TQuorvelControl::Render() {
  if (!GetOpaque() && GetZWrite()) {
    if (auto* ctx = dynamic_cast<TQuorvelContext*>(GetContext()))
      ctx->SetContextStates({TContextState::csZTestOn, TContextState::csZWriteOff, TContextState::csAllFace});
  }
  TControl3D::Render();
}

// ---- routines for any TControl3D ---------------------------------------------------------

void RebuildLocalMatrix(TControl3D* AControl) {
  if (Destroying(AControl)) return;
  TMatrix3D m = TMatrix3D::Identity();
  const TPoint3D scale = AControl->GetScale()->GetPoint();
  if (Differs(scale, 1, 1e-4f)) m = m * TMatrix3D::CreateScaling(scale);
  m = m * QuaternionToRotationMatrix(AControl->GetQuaternion());
  const TPoint3D pos = AControl->GetPosition()->GetPoint();
  if (Differs(pos, 0, 0.001f)) m = m * TMatrix3D::CreateTranslation(pos);
  AControl->SetLocalMatrix(m);
  AControl->RebuildRenderingList();
  AControl->Repaint();
}

void SetLocalMatrixEx(TControl3D* AControl, const TMatrix3D& AMatrix, bool AUpdatePosition, bool AUpdateScale,
                      bool AUpdateRotation, bool ARepaint) {
  if (Destroying(AControl)) return;
  if (AUpdatePosition) AControl->GetPosition()->SetPointNoChange(ExtractTranslation(AMatrix));
  if (AUpdateScale) AControl->GetScale()->SetPointNoChange(ExtractScale(AMatrix));
  if (AUpdateRotation) {
    const TQuaternion3D q = ExtractRotation(AMatrix);
    AControl->SetQuaternionNoChange(q);
    AControl->GetRotationAngle()->SetPointNoChange(QuaternionToEuler(q, 0));
  } else {
    AControl->SetQuaternionNoChange(TQuaternion3D::Identity());
    AControl->GetRotationAngle()->SetPointNoChange({});
  }
  AControl->SetSavedRotationAngle({});
  AControl->SetLocalMatrix(AMatrix);  // also marks the absolute matrices
  if (ARepaint) AControl->Repaint();
}

void PickObject(TControl3D* AControl, IControl*& AResult, const TPointF& APoint, TVector3D& ARayPos,
                TVector3D& ARayDir, TPoint3D& AHit) {
  AResult = nullptr;
  for (int i = AControl->GetChildrenCount() - 1; i >= 0; --i) {
    auto* child = dynamic_cast<IControl*>(AControl->GetChild(i));
    if (child && child->GetVisible())
      if (IControl* hit = child->ObjectAtPoint(APoint)) AResult = hit;
  }
  if (AResult) return;
  TContext3D* ctx = AControl->GetContext();
  if (!ctx || !AControl->GetVisible() || AControl->GetProjection() != TControl3D::GetGlobalProjection() ||
      !AControl->CheckHitTest(AControl->GetHitTest()))
    return;
  TPointF p = APoint;
  if (AControl->GetViewport()) p = AControl->GetViewport()->ScreenToLocal(APoint);
  ctx->Pick(p.X, p.Y, AControl->GetProjection(), ARayPos, ARayDir);
  const TVector3D localPos = AControl->AbsoluteToLocalVector(ARayPos);
  const TVector3D localDir = AControl->AbsoluteToLocalDirection(ARayDir);
  if (!AControl->RayCastIntersect(TPoint3D(localPos.X, localPos.Y, localPos.Z),
                                  TPoint3D(localDir.X, localDir.Y, localDir.Z), AHit))
    return;
  float d;
  if (AControl->GetProjection() == TProjection::Screen) {
    d = (AHit - TPoint3D(ARayPos.X, ARayPos.Y, ARayPos.Z)).Length();
  } else {
    TCamera* cam = AControl->GetViewport() ? AControl->GetViewport()->GetCurrentCamera() : nullptr;
    if (!cam) return;
    const TVector3D e = cam->GetAbsolutePosition();
    d = (AHit - TPoint3D(e.X, e.Y, e.Z)).Length();
  }
  if (TControl3D::GetGlobalDistance() > d) {
    TControl3D::SetGlobalDistance(d);
    AResult = AControl;
  }
}

void ClearRenderingList(TControl3D* AControl) { AControl->ClearRenderingList(); }

void UpdateLocalMatrix(TControl3D* AControl) { AControl->MatrixChanged(AControl); }


namespace {

void InitControlUnit() {
  RegisterClasses({TQuorvelControl::StaticClass()});
}

void FinControlUnit() { UnRegisterClasses({TQuorvelControl::StaticClass()}); }

const TUnitRegistration ControlUnit{{"Quorvel.Control", {}, &InitControlUnit, &FinControlUnit}};

}  // namespace

TComponent* TQuorvelControl::Duplicate(TComponent* AOwner, bool AAsProxy) {
  if (AAsProxy) {
    auto* proxy = New<TProxyObject>(AOwner);
    proxy->SetSourceObject(this);
    return proxy;
  }
  TOwned<TQuorvelDuplicator> duplicator(New<TQuorvelDuplicator>());
  return duplicator->Duplicate(this, AOwner, {dfIgnoreMaterials});
}

void TQuorvelControl::DoDuplicate(TComponent* ASource, TQuorvelDuplicator* ADuplicator) {
  auto* source = dynamic_cast<TQuorvelControl*>(ASource);
  if (!source) return;
  for (const auto& [key, control] : source->FControls) {
    auto it = ADuplicator->ObjectMap().find(control);
    auto* clone = it == ADuplicator->ObjectMap().end() ? nullptr : dynamic_cast<TQuorvelControl*>(it->second);
    if (clone)
      AddControl(key, clone);
    else
      Log::d("<WARNING> TQuorvelControl.DoDuplicate - cannot find duplicated control %s", key);
  }
}

}  // namespace quorvel
