#pragma once
// Unit Quorvel.Cube: TQuorvelCube, a unit cube of subdivided quads built into its own
// definition (a static mesh drawn from the definition's GPU buffers); the base of the skybox.
#include "lib/scene/Mesh.h"

namespace quorvel {

class TQuorvelCube : public TQuorvelMesh {
  FW_CLASS(TQuorvelCube, TQuorvelMesh)

public:
  explicit TQuorvelCube(TComponent* AOwner);
  void AfterConstruction() override;
  // A copy builds its geometry into its own definition, never into its source's.
  void DoDuplicate(TComponent* ASource, TQuorvelDuplicator* ADuplicator) override;

  int32_t GetSubdivisionsWidth() const { return FSubdivisionsWidth; }
  void SetSubdivisionsWidth(int32_t Value) { SetSubdivisions(FSubdivisionsWidth, Value); }
  int32_t GetSubdivisionsHeight() const { return FSubdivisionsHeight; }
  void SetSubdivisionsHeight(int32_t Value) { SetSubdivisions(FSubdivisionsHeight, Value); }
  int32_t GetSubdivisionsDepth() const { return FSubdivisionsDepth; }
  void SetSubdivisionsDepth(int32_t Value) { SetSubdivisions(FSubdivisionsDepth, Value); }

  // With AIsStatic the build goes to the definition; a descendant may keep it in MeshData.
  virtual void RebuildMesh(bool AIsStatic);

protected:
  void Resize3D() override;

private:
  void SetSubdivisions(int32_t& AField, int32_t AValue);

  int32_t FSubdivisionsWidth = 1;
  int32_t FSubdivisionsHeight = 1;
  int32_t FSubdivisionsDepth = 1;
};

}  // namespace quorvel
