#pragma once
// The camera's view volume: six planes (X, Y, Z normal, W constant; inside when N.p + W > 0)
// and eight corners, from a field of view or from projection and view matrices.
#include <cstdint>

#include "framework/math/BoundingBox.h"
#include "framework/math/Matrix3D.h"

namespace quorvel {

class TVertexBuffer;
class TIndexBuffer;

// 0 far top left, 1 far top right, 2 far bottom left, 3 far bottom right, 4..7 the same near.
using TFrustumCorners = TPoint3D[8];
// 0 top, 1 bottom, 2 left, 3 right, 4 near, 5 far.
using TQuorvelFrustumType = TVector3D[6];

class TQuorvelFrustum {
public:
  TQuorvelFrustum() = default;
  // The form the viewport uses: axes from the view matrix, position as given.
  TQuorvelFrustum(const TMatrix3D& AProjMatrix, const TMatrix3D& AViewMatrix, const TPoint3D& ACamPos);
  TQuorvelFrustum(float AFOV, float AAspectRatio, float ANearDist, float AFarDist, const TPoint3D& ACameraPos,
                  const TPoint3D& ACameraDir, const TPoint3D& AUp, const TPoint3D& ARight);
  TQuorvelFrustum(const TMatrix3D& AProjMatrix, const TPoint3D& ACameraPos, const TPoint3D& ACameraDir,
                  const TPoint3D& AUp, const TPoint3D& ARight);

  // AFOV: the full vertical angle in degrees.
  void Calculate(float AFOV, float AAspectRatio, float ANearDist, float AFarDist, const TPoint3D& ACameraPos,
                 const TPoint3D& ACameraDir, const TPoint3D& AUp, const TPoint3D& ARight);
  void Calculate(const TMatrix3D& AProjMatrix, const TPoint3D& ACameraPos, const TPoint3D& ACameraDir,
                 const TPoint3D& AUp, const TPoint3D& ARight);
  void Calculate(const TMatrix3D& AProjMatrix, const TMatrix3D& AViewMatrix);

  static void NormalizePlane(TQuorvelFrustumType& AFrustum, int32_t ASide);
  void Normalize(int32_t ASide) { NormalizePlane(FPlanes, ASide); }

  // Strictly inside all six planes.
  bool IsPointInFrustum(const TPoint3D& APoint) const;
  // APlane: the first plane failed, or (0, 0, 0, 0) when inside.
  bool IsPointInFrustum(const TPoint3D& APoint, TVector3D& APlane) const;
  // Generous: a box straddling a plane counts as visible at once.
  bool IsAABBInFrustum(const TBoundingBox& ABox) const;
  bool IsSphereInFrustum(const TPoint3D& ACenter, float ARadius) const;
  // ASize: the half edge length.
  bool IsCubeInFrustum(const TPoint3D& ACenter, float ASize) const;
  TBoundingBox ToBoundingBox() const;
  // A line list of the frustum's edges: vertices 0..3 the near rectangle (top left, top right,
  // bottom right, bottom left), 4..7 the far one in the same order, and 48 indices (24
  // segments). A null buffer is created (8 positions; 48 16-bit indices) and the caller owns
  // it. A given buffer is not resized: it must hold at least 8 vertices with positions (or 48
  // indices), otherwise EArgumentException is raised before anything is written.
  void ToGeometry(TVertexBuffer*& AVertexBuffer, TIndexBuffer*& AIndexBuffer) const;

  float GetFOV() const { return FFOV; }
  float GetRatio() const { return FRatio; }
  float GetNearDistance() const { return FNearD; }
  float GetFarDistance() const { return FFarD; }
  float GetNearHeight() const { return FNearH; }
  float GetNearWidth() const { return FNearW; }
  float GetFarHeight() const { return FFarH; }
  float GetFarWidth() const { return FFarW; }
  TPoint3D GetPosition() const { return FPos; }
  TPoint3D GetDirection() const { return FDir; }
  TPoint3D GetUp() const { return FUp; }
  TPoint3D GetRight() const { return FRight; }
  const TPoint3D& GetCorner(int32_t AIndex) const { return FCorners[AIndex & 7]; }
  const TVector3D& GetPlane(int32_t AIndex) const { return FPlanes[AIndex < 0 || AIndex > 5 ? 0 : AIndex]; }

private:
  float FFOV = 0;
  float FRatio = 0;
  float FNearD = 0;
  float FFarD = 0;
  TPoint3D FPos;
  TPoint3D FDir;
  TPoint3D FUp;
  TPoint3D FRight;
  float FNearH = 0;
  float FNearW = 0;
  float FFarH = 0;
  float FFarW = 0;
  TFrustumCorners FCorners{};
  TQuorvelFrustumType FPlanes{};
};

}  // namespace quorvel
