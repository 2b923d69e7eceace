#include "framework/gui3d/Light.h"

namespace quorvel {

FW_CLASS_IMPL(TLight, "Fw.Controls3D")

void TLight::Register(ClassBuilder<TLight>& b) {
  b.Prop("LightType", &Self::GetLightType, &Self::SetLightType)
      .Prop("Color", &Self::GetColor, &Self::SetColor)
      .Prop("Enabled", &Self::GetEnabled, &Self::SetEnabled)
      .Prop("SpotCutOff", &Self::GetSpotCutOff, &Self::SetSpotCutOff)
      .Prop("SpotExponent", &Self::GetSpotExponent, &Self::SetSpotExponent)
      .Field("FLightType", &Self::FLightType)
      .Field("FColor", &Self::FColor)
      .Field("FEnabled", &Self::FEnabled)
      .Field("FSpotCutOff", &Self::FSpotCutOff)
      .Field("FSpotExponent", &Self::FSpotExponent);
}

TLight::TLight(TComponent* AOwner) : TControl3D(AOwner) {}

void TLight::BeforeDestruction() {
  if (FViewport) {
    IViewport3D* viewport = FViewport;
    FViewport = nullptr;
    viewport->RemoveLight(this);
  }
  TControl3D::BeforeDestruction();
}

void TLight::SetNewViewport(IViewport3D* AViewport) {
  // A light being freed joins no list.
  if (GetComponentState().Contains(csDestroying)) AViewport = nullptr;
  IViewport3D* old = FViewport;
  TControl3D::SetNewViewport(AViewport);
  if (old == AViewport) return;
  if (old) old->RemoveLight(this);
  if (AViewport) AViewport->AddLight(this);
}

void TLight::SetLightType(TLightType Value) {
  if (FLightType == Value) return;
  FLightType = Value;
  Repaint();
}

void TLight::SetColor(TAlphaColor Value) {
  if (FColor == Value) return;
  FColor = Value;
  Repaint();
}

void TLight::SetEnabled(bool Value) {
  if (FEnabled == Value) return;
  FEnabled = Value;
  Repaint();
}

void TLight::SetSpotCutOff(float Value) {
  if (FSpotCutOff == Value) return;
  FSpotCutOff = Value;
  Repaint();
}

void TLight::SetSpotExponent(float Value) {
  if (FSpotExponent == Value) return;
  FSpotExponent = Value;
  Repaint();
}

TLightDescription TLight::GetLightDescription() const {
  TLightDescription d;
  d.Enabled = FEnabled;
  d.Color = FColor;
  d.LightType = FLightType;
  d.SpotCutOff = FSpotCutOff;
  d.SpotExponent = FSpotExponent;
  d.Position = TPoint3D(GetAbsolutePosition());
  const TVector3D dir = GetAbsoluteDirection();
  d.Direction = {dir.X, dir.Y, dir.Z};
  return d;
}

}  // namespace quorvel
