#include "lib/scene/Camera.h"

#include "framework/rtl/Units.h"

#include "framework/classes/Filer.h"
#include "framework/gui3d/Context3D.h"
#include "framework/math/AlphaColor.h"
#include "framework/rtl/Finally.h"
#include "lib/defs/DefTypesLights.h"
#include "lib/scene/CameraController.h"
#include "lib/scene/Control.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelCamera, "Quorvel.Camera")
void TQuorvelCamera::Register(ClassBuilder<TQuorvelCamera>& b) {
  b.Prop("FOV", &Self::GetFOV, &Self::SetFOV)
      .Field("FDef", &Self::FDef, Reference)
      .Field("FSelfDef", &Self::FSelfDef, Reference);
}

TQuorvelCamera::~TQuorvelCamera() {
  FDef = nullptr;
  if (FDefIsStandalone) FreeQuietlyAndNil(FSelfDef, "camera definition");
  FSelfDef = nullptr;
}

void TQuorvelCamera::AfterConstruction() {
  TCamera::AfterConstruction();
  // A camera inside a mesh's model gets a definition of that model with the mesh objects.
  if (FDef == nullptr) {
    FSelfDef = New<TCameraDef>(nullptr);
    FDefIsStandalone = true;
    FDef = FSelfDef;
  }
}

void TQuorvelCamera::DoDuplicate(TComponent* ASource, TQuorvelDuplicator* ADuplicator) {
  auto* source = dynamic_cast<TQuorvelCamera*>(ASource);
  if (!source) return;
  if (source->FDef == source->FSelfDef) FDef = FSelfDef;
  TControl3D* target = nullptr;
  if (auto it = ADuplicator->ObjectMap().find(source->GetTarget()); it != ADuplicator->ObjectMap().end())
    target = dynamic_cast<TControl3D*>(it->second);
  SetTarget(target);
}

void TQuorvelCamera::LoadFromDefinition(TCameraDef* ADef) {
  FDef = ADef;
  if (GetName().empty()) SetName(ADef->GetQualifiedComponentName());
  SetTarget(dynamic_cast<TControl3D*>(FindGlobalComponent(ADef->GetTarget())));
  SetFOV(ADef->GetFOV());
  SetLocalMatrixEx(this, ADef->GetTransform(), true, true, true, true);
}

void TQuorvelCamera::DefineProperties(TFiler* Filer) {
  TCamera::DefineProperties(Filer);
  Filer->DefineProperty("NearPlane", [](TReader* r) { (void)r->ReadFloat(); }, nullptr, false);
  Filer->DefineProperty("FarPlane", [](TReader* r) { (void)r->ReadFloat(); }, nullptr, false);
}

void TQuorvelCamera::MatrixChanged(TObject* Sender) {
  FUpdateNeeded = true;
  TCamera::MatrixChanged(Sender);
}

TMatrix3D TQuorvelCamera::GetPerspectiveMatrix() const { throw Exception(""); }

void TQuorvelCamera::AssignFrom(TPersistent* Src) {
  auto* src = dynamic_cast<TCamera*>(Src);
  if (!src) return;
  SetAbsolutePosition(src->GetAbsolutePosition());
  ResetRotationAngle();
  // The angles alone lose the order of the turns that made the source's quaternion: the
  // copy takes the quaternion and the saved angles as well.
  GetRotationAngle()->SetPointNoChange(src->GetRotationAngle()->GetPoint());
  SetSavedRotationAngle(src->GetSavedRotationAngle());
  SetQuaternion(src->GetQuaternion());
  SetTarget(src->GetTarget());
  SetAngleOfView(src->GetAngleOfView());
  if (src->Is<TQuorvelCamera>()) FUpdateNeeded = true;
}

void TQuorvelCamera::Render() {
  if (GetTag() == 0xFFFE) return;
  TContext3D* ctx = GetContext();
  if (!ctx || !ctx->Valid() || !GetComponentState().Contains(csDesigning)) return;
  const TAlphaColor body = MakeAlphaColor(0xFF60A799), lens = MakeAlphaColor(0xFF9C60A7);
  if (TControl3D* target = GetTarget()) {
    const TVector3D pv = GetAbsolutePosition(), tv = target->GetAbsolutePosition();
    const TPoint3D p(pv.X, pv.Y, pv.Z), n = TPoint3D(tv.X, tv.Y, tv.Z) - p;
    const TMatrix3D saved = ctx->GetCurrentMatrix();
    ctx->SetMatrix(TMatrix3D::CreateLookAtDirRH({0, 0, 0}, n, {0, -1, 0}).Inverse() * saved);
    ctx->FillCube({0, 0, 0}, {0.8f, 0.8f, 0.8f}, 1, body);
    ctx->FillCube({0, 0, 0.5f}, {0.3f, 0.3f, 1.4f}, 1, lens);
    ctx->SetMatrix(TMatrix3D::Identity());
    ctx->DrawLine(p, p + n * 1000, 1, lens);
    ctx->SetMatrix(saved);
  } else {
    ctx->FillCube({0, 0, 0}, {0.8f, 0.8f, 0.8f}, 1, body);
    ctx->FillCube({0, 0, 0.5f}, {0.3f, 0.3f, 1.4f}, 1, lens);
    ctx->DrawLine({0, 0, 0}, {0, 0, 1000}, 1, lens);
  }
}


namespace {

void InitCameraUnit() {
  RegisterSetPropertyType<TQuorvelSmoothCameraControlType>();
  RegisterClasses({TQuorvelCamera::StaticClass(), TQuorvelSmoothCameraController::StaticClass()});
}

void FinCameraUnit() { UnRegisterClasses({TQuorvelCamera::StaticClass(), TQuorvelSmoothCameraController::StaticClass()}); }

const TUnitRegistration CameraUnit{{"Quorvel.Camera", {}, &InitCameraUnit, &FinCameraUnit}};

}  // namespace

}  // namespace quorvel
