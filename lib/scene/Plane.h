#pragma once
// Unit Quorvel.Plane: TQuorvelPlane, a unit square in the XY plane with a front sheet (normal
// -Z) and a back sheet (normal +Z), built into its own definition.
#include "lib/scene/Mesh.h"

namespace quorvel {

class TQuorvelPlane : public TQuorvelMesh {
  FW_CLASS(TQuorvelPlane, TQuorvelMesh)

public:
  explicit TQuorvelPlane(TComponent* AOwner);
  void AfterConstruction() override;
  // A copy builds its geometry into its own definition, never into its source's.
  void DoDuplicate(TComponent* ASource, TQuorvelDuplicator* ADuplicator) override;

  int32_t GetSubdivisionsWidth() const { return FSubdivisionsWidth; }
  void SetSubdivisionsWidth(int32_t Value);
  int32_t GetSubdivisionsHeight() const { return FSubdivisionsHeight; }
  void SetSubdivisionsHeight(int32_t Value);

  void RebuildMesh();

protected:
  void Resize3D() override;

private:
  int32_t FSubdivisionsWidth = 1;
  int32_t FSubdivisionsHeight = 1;
};

}  // namespace quorvel
