#pragma once
// TMeshData: a vertex buffer and an index buffer read as a triangle list (consecutive index
// triples), with its bounding box, normals, tangents and ray cast.
//
// Face normal of the triangle (V0, V1, V2): Normalize((V1 - V0) x (V1 - V2)); a degenerate
// triangle has the zero normal. Triangles whose corners are wound clockwise when seen from
// the side the normal points to, in a right-handed space, face that side.
#include <cstdint>
#include <memory>
#include <vector>

#include "framework/rtl/Persistent.h"
#include "framework/gui3d/VertexBuffer.h"
#include "framework/math/BoundingBox.h"
#include "framework/math/Point3D.h"
#include "framework/rtl/Enum.h"

namespace quorvel {

class TContext3D;
class TMaterial;

enum class TCalculateNormalMethod : uint8_t { Default = 0, Fastest = 1, Slowest = 2 };
FW_ENUM(TCalculateNormalMethod, Default, Fastest, Slowest)

class TMeshData : public TPersistent {
  FW_CLASS(TMeshData, TPersistent)

public:
  // Vertex, Normal and TexCoord0; 32-bit indices.
  TMeshData();

  TVertexBuffer* GetVertexBuffer() const { return FVertexBuffer.get(); }
  TIndexBuffer* GetIndexBuffer() const { return FIndexBuffer.get(); }
  // Copy format, length and data (null empties the buffer, keeping its format).
  void SetVertexBuffer(const TVertexBuffer* Value);
  void SetIndexBuffer(const TIndexBuffer* Value);
  // Installs AValue as the vertex buffer without copying and hands back the one held before:
  // the caller owns what it gets back and keeps AValue alive while installed (a vertex group
  // draws over its parent's vertices this way).
  [[nodiscard]] TVertexBuffer* ExchangeVertexBuffer(TVertexBuffer* AValue);
  // Empties both buffers.
  void Clear();

  // The box around the vertex positions, cached until BoundingBoxNeedsUpdate; the empty box
  // without vertices. Non-finite positions are left out.
  TBoundingBox GetBoundingBox() const;
  void BoundingBoxNeedsUpdate() { FBoundingBoxValid = false; }

  // One normal per triangle (GetFaceNormals); with APropagateToVertices the normals of each
  // triangle's corners are set to it (the last triangle using a vertex wins).
  void CalcFaceNormals(bool APropagateToVertices = true);
  const std::vector<TPoint3D>& GetFaceNormals() const { return FFaceNormals; }
  // Vertex normals averaged from the unit face normals:
  //   Default: every triangle corner within WeldEpsilon of the vertex's position counts;
  //   Fastest: the triangles that use the vertex by index;
  //   Slowest: as Fastest, but face directions equal on a grid of WeldEpsilon (10000 per unit
  //            when WeldEpsilon <= 0) count once per vertex.
  void CalcSmoothNormals(TCalculateNormalMethod AMethod = TCalculateNormalMethod::Fastest, float AWeldEpsilon = 0.001f);
  // Per triangle, from positions and TexCoord0: T = r(E1 dv2 - E2 dv1), B = r(E2 du1 - E1 du2),
  // r = 1 / (du1 dv2 - dv1 du2) (0 for a zero determinant), written to the three corners (the
  // last triangle using a vertex wins). Nothing unless the format holds Normal, Tangent and
  // BiNormal.
  void CalcTangentBinormals();

  // The nearest triangle (either side) hit by the ray at or after RayPos, in mesh space.
  bool RayCastIntersect(const TPoint3D& RayPos, const TPoint3D& RayDir, TPoint3D& Intersection) const;

  void Assign(TPersistent* Source) override;

  // Draws the triangles with the context's current matrix. Nothing without a context or
  // without a whole triangle.
  void Render(TContext3D* AContext, TMaterial* AMaterial, float AOpacity) const;

  // Index values outside the vertex buffer raise EArgumentOutOfRangeException in every
  // operation that reads triangles.

private:
  // Positions of all vertices and the checked triangle indices.
  std::vector<TPoint3D> ReadPositions() const;
  std::vector<uint32_t> ReadTriangles() const;

  TOwned<TVertexBuffer> FVertexBuffer;
  TOwned<TIndexBuffer> FIndexBuffer;
  std::vector<TPoint3D> FFaceNormals;
  mutable TBoundingBox FBoundingBox;
  mutable bool FBoundingBoxValid = false;
};

}  // namespace quorvel
