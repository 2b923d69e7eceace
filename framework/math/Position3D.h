#pragma once
// A point owned by a component (position, rotation angles, scale) with change events.
#include <functional>

#include "framework/math/Point3D.h"
#include "framework/rtl/Object.h"

namespace quorvel {

class TPosition3D : public TObject {
public:
  using TChangeEvent = std::function<void(TObject* Sender)>;

  explicit TPosition3D(const TPoint3D& ADefaultValue = {});

  TPoint3D GetPoint() const { return FPoint; }
  // Raises OnChange when the point differs.
  void SetPoint(const TPoint3D& AValue);
  // Stores the point without any event.
  void SetPointNoChange(const TPoint3D& AValue) { FPoint = AValue; }
  // The point with W = 1; setting takes X, Y and Z.
  TVector3D GetVector() const { return TVector3D(FPoint, 1.0f); }
  void SetVector(const TVector3D& AValue) { SetPoint({AValue.X, AValue.Y, AValue.Z}); }

  float GetX() const { return FPoint.X; }
  float GetY() const { return FPoint.Y; }
  float GetZ() const { return FPoint.Z; }
  // Per-axis setters raise the axis event when one is assigned, otherwise OnChange.
  void SetX(float AValue);
  void SetY(float AValue);
  void SetZ(float AValue);

  TPoint3D GetDefaultValue() const { return FDefaultValue; }
  void SetDefaultValue(const TPoint3D& AValue) { FDefaultValue = AValue; }
  // Whether the point equals its default (and need not be stored).
  bool IsDefault() const;
  void Assign(const TPosition3D& ASource) { SetPoint(ASource.FPoint); }

  TChangeEvent OnChange;
  TChangeEvent OnChangeX;
  TChangeEvent OnChangeY;
  TChangeEvent OnChangeZ;

private:
  void SetAxis(float TPoint3D::* AAxis, float AValue, const TChangeEvent& AAxisEvent);

  TPoint3D FPoint;
  TPoint3D FDefaultValue;
};

}  // namespace quorvel
