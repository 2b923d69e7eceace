#pragma once
// TLight: a light of a 3D scene. A light joins the light list of the viewport it is placed
// in (IViewport3D::AddLight) and leaves it when it leaves that viewport or is freed, so the
// viewport never holds a freed light.
#include <cstdint>

#include "framework/gui3d/Control3D.h"
#include "framework/math/AlphaColor.h"

namespace quorvel {

// Ordinals are streamed and reach the shaders: keep them.
enum class TLightType : uint8_t { Directional = 0, Point = 1, Spot = 2 };
FW_ENUM(TLightType, Directional, Point, Spot)

// What a context needs of a light; Position and Direction in absolute space.
struct TLightDescription {
  bool Enabled = true;
  TAlphaColor Color = claWhite;
  TLightType LightType = TLightType::Directional;
  float SpotCutOff = 180;
  float SpotExponent = 0;
  TPoint3D Position;
  TPoint3D Direction;
};

QUORVEL_TYPE_NAME(TLightDescription)

class TLight : public TControl3D {
  FW_CLASS(TLight, TControl3D)

public:
  explicit TLight(TComponent* AOwner);

  void BeforeDestruction() override;
  void SetNewViewport(IViewport3D* AViewport) override;

  TLightType GetLightType() const { return FLightType; }
  void SetLightType(TLightType Value);
  TAlphaColor GetColor() const { return FColor; }
  void SetColor(TAlphaColor Value);
  bool GetEnabled() const { return FEnabled; }
  void SetEnabled(bool Value);
  // Cone half-angle in degrees, and the falloff exponent inside the cone.
  float GetSpotCutOff() const { return FSpotCutOff; }
  void SetSpotCutOff(float Value);
  float GetSpotExponent() const { return FSpotExponent; }
  void SetSpotExponent(float Value);

  // Position: the absolute position; Direction: the absolute direction of the local +Z axis.
  TLightDescription GetLightDescription() const;

private:
  TLightType FLightType = TLightType::Directional;
  TAlphaColor FColor = claWhite;
  bool FEnabled = true;
  float FSpotCutOff = 180;
  float FSpotExponent = 0;
};

}  // namespace quorvel
