#include "framework/math/Position3D.h"

namespace quorvel {

TPosition3D::TPosition3D(const TPoint3D& ADefaultValue) : FPoint(ADefaultValue), FDefaultValue(ADefaultValue) {}

void TPosition3D::SetPoint(const TPoint3D& AValue) {
  if (FPoint.X == AValue.X && FPoint.Y == AValue.Y && FPoint.Z == AValue.Z) return;
  FPoint = AValue;
  if (OnChange) OnChange(this);
}

void TPosition3D::SetAxis(float TPoint3D::* AAxis, float AValue, const TChangeEvent& AAxisEvent) {
  if (FPoint.*AAxis == AValue) return;
  FPoint.*AAxis = AValue;
  if (AAxisEvent)
    AAxisEvent(this);
  else if (OnChange)
    OnChange(this);
}

void TPosition3D::SetX(float AValue) { SetAxis(&TPoint3D::X, AValue, OnChangeX); }
void TPosition3D::SetY(float AValue) { SetAxis(&TPoint3D::Y, AValue, OnChangeY); }
void TPosition3D::SetZ(float AValue) { SetAxis(&TPoint3D::Z, AValue, OnChangeZ); }

bool TPosition3D::IsDefault() const {
  return FPoint.X == FDefaultValue.X && FPoint.Y == FDefaultValue.Y && FPoint.Z == FDefaultValue.Z;
}

}  // namespace quorvel
