#pragma once
// TCamera: a 3D control that a viewport looks through. It starts at (0, 0, -5) looking along
// its local +Z axis; "up" on screen is its local -Y axis. With a Target it looks at the
// target's origin instead, keeping -Y of the absolute space up.
#include "framework/gui3d/Control3D.h"

namespace quorvel {

class TCamera : public TControl3D {
  FW_CLASS(TCamera, TControl3D)

public:
  explicit TCamera(TComponent* AOwner);

  // Vertical angle of view in degrees.
  float GetAngleOfView() const { return FAngleOfView; }
  virtual void SetAngleOfView(float Value);
  // Not owned; cleared when the target is freed.
  TControl3D* GetTarget() const { return FTarget; }
  void SetTarget(TControl3D* Value);

  // The view matrix (right-handed look-at, row vectors).
  TMatrix3D GetCameraMatrix() const;

  void Notification(TComponent* AComponent, TOperation Operation) override;

private:
  float FAngleOfView = 45;
  TControl3D* FTarget = nullptr;
};

}  // namespace quorvel
