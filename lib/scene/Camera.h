#pragma once
// TQuorvelCamera: the engine's camera (a framework camera that tells its viewport when its
// matrix changed, copies other cameras and drops the clip planes old form data still holds).
// The smooth camera controller of the same unit is declared in CameraController.h.
#include "framework/gui3d/Camera.h"
#include "framework/gui3d/Dummy.h"
#include "lib/scene/CameraController.h"
#include "lib/scene/Duplication.h"

namespace quorvel {

class TQuorvelViewport;
class TCameraDef;

class TQuorvelCamera : public TCamera, public IDuplicatable {
  FW_CLASS(TQuorvelCamera, TCamera)

public:
  explicit TQuorvelCamera(TComponent* AOwner) : TCamera(AOwner) {}
  ~TQuorvelCamera() override;
  void AfterConstruction() override;

  TCameraDef* GetDef() const { return FDef; }
  // Name (when empty), target (a global 3D control of the definition's Target, else none),
  // FOV and the local matrix from the definition; its type, aspect and planes are unused.
  virtual void LoadFromDefinition(TCameraDef* ADef);

  // "NearPlane" and "FarPlane" of older form data: read and dropped, never written.
  void DefineProperties(TFiler* Filer) override;
  void MatrixChanged(TObject* Sender) override;

  float GetFOV() const { return GetAngleOfView(); }
  void SetFOV(float Value) { SetAngleOfView(Value); }
  bool GetUpdateNeeded() const { return FUpdateNeeded; }
  // Raises an empty Exception: the projection comes from the context.
  TMatrix3D GetPerspectiveMatrix() const;

  // From another camera: absolute position, rotation (the stored quaternion and the saved
  // angles too, so the copy looks the same way however it was turned), target and angle of
  // view; from an engine camera UpdateNeeded as well. Anything else changes nothing.
  void AssignFrom(TPersistent* Src);
  virtual void Update() {}

  // On a copy: its own definition when the source used its own; the target's copy when the
  // target was copied too, else none.
  void DoDuplicate(TComponent* ASource, TQuorvelDuplicator* ADuplicator) override;

  // The design gizmo, drawn only in the form designer.
  void Render() override;

private:
  TCameraDef* FDef = nullptr;
  TCameraDef* FSelfDef = nullptr;
  bool FDefIsStandalone = false;
  bool FUpdateNeeded = false;
};

}  // namespace quorvel
