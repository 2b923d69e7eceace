#include "framework/gui3d/Camera.h"

#include <cmath>

namespace quorvel {

FW_CLASS_IMPL(TCamera, "Fw.Controls3D")

void TCamera::Register(ClassBuilder<TCamera>& b) {
  b.Prop("AngleOfView", &Self::GetAngleOfView, &Self::SetAngleOfView)
      .Prop("Target", &Self::GetTarget, &Self::SetTarget)
      // The target is left to the engine camera's copy, which keeps its free notification.
      .Field("FAngleOfView", &Self::FAngleOfView);
}

TCamera::TCamera(TComponent* AOwner) : TControl3D(AOwner) {
  const TPoint3D start(0, 0, -5);
  GetPosition()->SetDefaultValue(start);
  GetPosition()->SetPointNoChange(start);
  // Not MatrixChanged: virtual calls wait for AfterConstruction.
  SetLocalMatrix(TMatrix3D::CreateTranslation(start));
}

void TCamera::SetAngleOfView(float Value) {
  if (FAngleOfView == Value) return;
  FAngleOfView = Value;
  Repaint();
}

void TCamera::SetTarget(TControl3D* Value) {
  if (FTarget == Value) return;
  if (FTarget) FTarget->RemoveFreeNotification(this);
  FTarget = Value;
  if (FTarget) FTarget->FreeNotification(this);
  Repaint();
}

void TCamera::Notification(TComponent* AComponent, TOperation Operation) {
  TControl3D::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == FTarget) FTarget = nullptr;
}

TMatrix3D TCamera::GetCameraMatrix() const {
  const TPoint3D eye(GetAbsolutePosition());
  const TVector3D up = GetAbsoluteUp();
  const TPoint3D ownCeiling(-up.X, -up.Y, -up.Z);
  if (FTarget && FTarget != this) {
    const TPoint3D dir = TPoint3D(FTarget->GetAbsolutePosition()) - eye;
    if (dir.Length() > 1e-6f) {
      // A target straight above or below leaves no "up" to keep: take the camera's own.
      TPoint3D ceiling(0, -1, 0);
      if (ceiling.CrossProduct(dir.Normalize()).Length() < 1e-5f) ceiling = ownCeiling;
      if (ceiling.CrossProduct(dir.Normalize()).Length() < 1e-5f) ceiling = {0, 0, 1};
      return TMatrix3D::CreateLookAtDirRH(eye, dir, ceiling);
    }
  }
  const TVector3D d = GetAbsoluteDirection();
  return TMatrix3D::CreateLookAtDirRH(eye, {d.X, d.Y, d.Z}, ownCeiling);
}

}  // namespace quorvel
