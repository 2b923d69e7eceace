#pragma once
// TQuorvelTransform: a scene node built from and stored to a transform definition (its
// matrix and property dictionary). The local matrix comes from one of three roads: a
// definition or TransformMatrix (kept as given, the parts derived from it), Rotation (the
// quaternion set, the matrix rebuilt by RebuildLocalMatrix), or the framework's position
// objects (the framework rebuilds it).
#include "lib/scene/Control.h"

namespace quorvel {

class TTransformDef;

class TQuorvelTransform : public TQuorvelControl {
  FW_CLASS(TQuorvelTransform, TQuorvelControl)

public:
  explicit TQuorvelTransform(TComponent* AOwner);

  // A quaternion as X, Y, Z, W: read from RotationAngle (not the stored quaternion).
  TVector3D GetRotation() const;
  void SetRotation(const TVector3D& Value);
  TPoint3D GetAngles() const { return GetRotationAngle()->GetPoint(); }
  void SetAngles(const TPoint3D& Value) { GetRotationAngle()->SetPoint(Value); }
  TMatrix3D GetTransformMatrix() const { return GetLocalMatrix(); }
  void SetTransformMatrix(const TMatrix3D& Value) { SetLocalTransformMatrix(Value); }

  // Raises "unexpected definition - no transformdef submitted" for other definitions.
  void LoadFromDefinition(TCustomDef* ADef) override;
  void StoreToDefinition(TCustomDef* ADef) override;
  virtual void LoadHierarchyFromDefinition(TTransformDef* ADef);
  virtual void LoadPropertiesFromDefinition(TTransformDef* ADef);
  virtual void SetLocalTransformMatrix(const TMatrix3D& AMatrix);
};

}  // namespace quorvel
