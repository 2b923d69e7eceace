#pragma once
// Unit Quorvel.Torus: TQuorvelTorus, a ring around the Y axis in the XZ plane with a seam in
// its texture coordinates, built into its own definition.
#include "lib/scene/Mesh.h"

namespace quorvel {

class TQuorvelTorus : public TQuorvelMesh {
  FW_CLASS(TQuorvelTorus, TQuorvelMesh)

public:
  explicit TQuorvelTorus(TComponent* AOwner);
  void AfterConstruction() override;
  // A copy builds its geometry into its own definition, never into its source's.
  void DoDuplicate(TComponent* ASource, TQuorvelDuplicator* ADuplicator) override;

  float GetRadius1() const { return FRadius1; }
  void SetRadius1(float Value) { SetRadius(FRadius1, Value); }
  float GetRadius2() const { return FRadius2; }
  void SetRadius2(float Value) { SetRadius(FRadius2, Value); }
  int32_t GetRadSegments() const { return FRadSeg; }
  void SetRadSegments(int32_t Value);
  int32_t GetSides() const { return FSides; }
  void SetSides(int32_t Value);

  void RebuildMesh();

protected:
  void Resize3D() override;

private:
  void SetRadius(float& AField, float AValue);

  float FRadius1 = 1.0f;
  float FRadius2 = 0.3f;
  int32_t FRadSeg = 24;
  int32_t FSides = 18;
};

}  // namespace quorvel
