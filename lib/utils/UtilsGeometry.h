#pragma once
// Ray-cast records, axis-aligned and oriented boxes, segments, planes, triangles with their
// separating-axis tests, and the bounding-volume hierarchy over a triangle soup.
#include <cstdint>
#include <span>
#include <vector>

#include "framework/math/BoundingBox.h"
#include "framework/math/Matrix3D.h"
#include "lib/utils/UtilsMatrices.h"

namespace quorvel {

class TMeshData;
class TVertexBuffer;
class TIndexBuffer;

struct TRaycastData {
  TPoint3D Start;
  TPoint3D Dir;  // not normalised by the tests
  float T = 0;
  float Toi = 0;
  TPoint3D Normal;

  void _Set(const TPoint3D& StartPoint, const TPoint3D& Direction, float EndPointTime) {
    Start = StartPoint;
    Dir = Direction;
    T = EndPointTime;
  }
  TPoint3D GetImpactPoint() const { return Start + Dir * Toi; }
};

struct TRaycastResult {
  float T = 0;
  TPoint3D Normal;
  bool Hit = false;
  TPoint3D Point;
};
using PRaycastResult = TRaycastResult*;

struct TEdge {
  TPoint3D Start;
  TPoint3D Stop;
};

using TCornerArray = TPoint3D[8];

// |a - b| <= max(1, |a|, |b|) * 1e-8, in double precision.
bool FloatEqual(float a, float b);

struct TAABB;
// Touching boxes overlap.
bool AABBOverlap(const TAABB& A, const TAABB& B);

struct TAABB {
  TPoint3D Min;
  TPoint3D Max;

  constexpr TAABB() = default;
  constexpr TAABB(const TPoint3D& AMin, const TPoint3D& AMax) : Min(AMin), Max(AMax) {}
  // A box of size (X, Y, Z) centred on the origin.
  static TAABB Create(float X, float Y, float Z);
  static TAABB CreateFromOrigin(const TPoint3D& AOrigin, const TPoint3D& ASize, const TPoint3D& AOffset);
  static constexpr TAABB FromMinMax(const TPoint3D& AMin, const TPoint3D& AMax) { return {AMin, AMax}; }
  static constexpr TAABB FromBoundingBox(const TBoundingBox& ABox) {
    return {{ABox.Left, ABox.Top, ABox.Near}, {ABox.Right, ABox.Bottom, ABox.Far}};
  }

  bool Contains(const TPoint3D& Point) const;
  bool Contains(const TAABB& Other) const;
  float SurfaceArea() const;
  // Slab test: the entry distance, the exit distance when the ray starts inside, -1 for a miss.
  float Raycast(const TRaycastData& ARay) const;
  bool Raycast(const TRaycastData& ARay, TRaycastResult& ARes) const;
  TAABB Combine(const TAABB& B) const;
  TPoint3D GetSize() const;
  TPoint3D GetExtent() const;
  TPoint3D GetPosition() const;
  // Corner k takes X, Y, Z from Max where bits 0, 1, 2 of k are set.
  void GetCorners(TCornerArray& APoints) const;
  // Six planes (N, W) with N.p + W = 0; both planes of an axis share one normal direction.
  void GetPlanes(std::vector<TVector3D>& APlanes) const;
  void Transform(const TPoint3D& APos, const TMat3& ARot);
  // Min and Max transformed as points; not re-sorted.
  void Transform(const TMatrix3D& AMat);
  TAABB Inflate(float AFactor) const;
  // The nearest (farthest) of the centre and the eight corners; ties keep the earlier one.
  void GetClosestPointAndDistance(const TPoint3D& APos, TPoint3D& APt, float& ADistance) const;
  void GetFarestPointAndDistance(const TPoint3D& APos, TPoint3D& APt, float& ADistance) const;
  TPoint3D GetVertexP(const TPoint3D& ANormal) const;
  TPoint3D GetVertexN(const TPoint3D& ANormal) const;
};

struct TOBB {
  TPoint3D Position;  // centre
  TPoint3D Size;      // half extents along the local axes
  TMat3 Orientation;  // rows: local X, Y, Z axes

  constexpr TOBB() = default;
  static TOBB Create(const TPoint3D& ASize, const TPoint3D& APosition, const TMat3& AOrientation);
  // Full width, height and depth; centred on the origin, axis-aligned.
  static TOBB Create(float AWidth, float AHeight, float ADepth);
  // Half extents and centre; axis-aligned.
  static TOBB Create(const TPoint3D& ASize, const TPoint3D& APosition);

  TPoint3D* GetAxis(int32_t AIndex) { return &Orientation.GetRow(AIndex); }
  const TPoint3D* GetAxis(int32_t AIndex) const { return &Orientation.GetRow(AIndex); }
  bool Contains(const TPoint3D& APoint) const;
  // Corner signs: (+,+,+), (-,+,+), (+,-,+), (+,+,-), (-,-,-), (+,-,-), (-,+,-), (-,-,+).
  void GetCorners(std::vector<TPoint3D>& AVertices) const;
  void GetCorners(TCornerArray& AVertices) const;
  std::vector<TEdge> GetEdges() const;
  TAABB GetAABB() const;
  // A new mesh data (owned by the caller): the eight corners in GetCorners order as vertices
  // and the eight indices 0..7. Normals and texture coordinates stay zero.
  TMeshData* ToMeshData() const;
  TPoint3D ClosestPoint(const TPoint3D& APoint) const;
  float Raycast(const TRaycastData& ARay) const { return Raycast(ARay, nullptr); }
  float Raycast(const TRaycastData& ARay, PRaycastResult AResult) const;
};

// (Left, Bottom, Near), (Right, Bottom, Near), (Right, Top, Near), (Left, Top, Near), then Far.
void BoundingBoxCorners(const TBoundingBox& ABox, std::vector<TPoint3D>& ACorners);
// The box around the eight transformed corners, normalised.
TBoundingBox TransformBoundingBox(const TBoundingBox& ABox, const TMatrix3D& AMatrix);

struct TTriangle;
using PTriangle = TTriangle*;

struct TLine {
  TPoint3D Start;
  TPoint3D Stop;

  constexpr TLine() = default;
  constexpr explicit TLine(int32_t /*ADummy*/) {}
  constexpr TLine(const TPoint3D& A, const TPoint3D& B) : Start(A), Stop(B) {}
  constexpr explicit TLine(const TEdge& AEdge) : Start(AEdge.Start), Stop(AEdge.Stop) {}

  TPoint3D ClosestPoint(const TPoint3D& p) const;
  bool Contains(const TPoint3D& p) const;
  float Length() const;
  float LengthSq() const;
  TPoint3D GetDirection(bool AInverse) const;
  bool SphereLinetest(const TPoint3D& APos, float ARadius) const;
  bool AABBLinetest(const TAABB& AABB) const;
  bool OBBLinetest(const TOBB& OBB) const { return OBBLinetest(OBB, nullptr); }
  bool OBBLinetest(const TOBB& OBB, PRaycastResult AResult) const;
  bool TriangleLinetest(const TTriangle* triangle) const;
};

// Constructors from points and SignedDistance take the plane as N.x + D = 0; the operations
// shared with triangles (Contains, ClosestPoint, the box tests and ray casts) as N.x = D.
struct TPlane {
  TPoint3D Normal;
  float Distance = 0;

  constexpr TPlane() = default;
  static constexpr TPlane CreateEmpty(int32_t /*ADummy*/) { return {}; }
  static constexpr TPlane Create(const TPoint3D& ANormal, float ADistance) {
    TPlane p;
    p.Normal = ANormal;
    p.Distance = ADistance;
    return p;
  }
  static TPlane Create(const TPoint3D& ANormal, const TPoint3D& APoint);
  static TPlane Create(const TPoint3D& P1, const TPoint3D& P2, const TPoint3D& P3);
  static constexpr TPlane Create(const TVector3D& AVector) { return Create({AVector.X, AVector.Y, AVector.Z}, AVector.W); }

  constexpr TVector3D ToVector3D() const { return {Normal.X, Normal.Y, Normal.Z, Distance}; }
  float SignedDistance(const TPoint3D& APoint) const;
  bool Contains(const TPoint3D& p) const;
  TPoint3D ClosestPoint(const TPoint3D& p) const;
  bool IntersectsWith(const TOBB& AOBB) const;
  bool IntersectsWith(const TAABB& AAABB) const;
  bool IntersectsWith(const TPlane& APlane) const;
  // Front face only; -1 (or False) for a miss.
  float Raycast(const TRaycastData& ray) const;
  bool Raycast(const TRaycastData& ray, PRaycastResult AResult) const;
};

struct TTriangle {
  TPoint3D A;
  TPoint3D B;
  TPoint3D C;

  constexpr TTriangle() = default;
  constexpr explicit TTriangle(int32_t /*ADummy*/) {}
  constexpr TTriangle(const TPoint3D& APoint1, const TPoint3D& APoint2, const TPoint3D& APoint3)
      : A(APoint1), B(APoint2), C(APoint3) {}

  // The corners as an array of three points, and the nine numbers as an array.
  TPoint3D& Points(int32_t AIndex);
  const TPoint3D& Points(int32_t AIndex) const { return const_cast<TTriangle*>(this)->Points(AIndex); }
  float& Values(int32_t AIndex);
  float Values(int32_t AIndex) const { return const_cast<TTriangle*>(this)->Values(AIndex); }

  // Edges and corners count as inside; the plane is not tested.
  bool Contains(const TPoint3D& p) const;
  TPlane ToPlane() const;
  TAABB ToAABB() const;
  // 0: (A, B), 1: (B, C), 2: (C, A), swapped when AInverse; the zero segment otherwise.
  TLine GetLine(int32_t AIndex, bool AInverse) const;
  TPoint3D Center() const;
  TPoint3D Barycentric(const TPoint3D& p) const;
  TPoint3D ClosestPoint(const TPoint3D& p) const;
  TPoint3D ClosestPoint2(const TPoint3D& pSource) const;
  void Transform(const TPoint3D& APos, const TMat3& ARot);
  void Transform(const TMatrix3D& AMat);
  bool IntersectsWith(const TAABB& AABB) const;
  bool IntersectsWith(const TOBB& OBB) const;
  bool IntersectsWith(const TTriangle& ATriangle) const;
  bool IntersectsWithRobust(const TTriangle& ATriangle) const;
  static TPoint3D SatCrossEdge(const TPoint3D& A, const TPoint3D& B, const TPoint3D& C, const TPoint3D& D);
  // Front face only; -1 (or False) for a miss.
  float Raycast(const TRaycastData& ARay) const;
  bool Raycast(const TRaycastData& ARay, PRaycastResult AResult) const;
  // Edge crossings between this triangle and the box (or the other triangle's edges).
  bool Raycast(const TOBB& OBB, std::vector<TRaycastResult>& AResult) const;
  bool Raycast(const TTriangle& ATriangle, std::vector<TRaycastResult>& AResult) const;
};
static_assert(sizeof(TTriangle) == 36);

// Separating-axis helpers: (min, max) of the shape's points projected on the axis.
struct TInterval {
  float Min;
  float Max;
};
TInterval GetInterval(const TTriangle& ATriangle, const TPoint3D& AAxis);
TInterval GetInterval(const TAABB& AABB, const TPoint3D& AAxis);
TInterval GetInterval(const TOBB& OBB, const TPoint3D& AAxis);
// Touching intervals overlap.
bool OverlapOnAxis(const TAABB& AABB, const TTriangle& ATriangle, const TPoint3D& AAxis);
bool OverlapOnAxis(const TOBB& OBB, const TTriangle& ATriangle, const TPoint3D& AAxis);
bool OverlapOnAxis(const TTriangle& T1, const TTriangle& T2, const TPoint3D& AAxis);
// b * ((a . b) / (b . b)).
TPoint3D ProjectVector(const TPoint3D& a, const TPoint3D& b);

// ---- Bounding-volume hierarchy ----

struct TBVHGeometry;
using PBVHGeometry = TBVHGeometry*;
struct TBVHNode;
using PBVHNode = TBVHNode*;

struct TBVHNode {
  PBVHGeometry Geometry = nullptr;
  TAABB Bounds;
  std::vector<TBVHNode> Children;  // empty for a leaf, otherwise exactly 8
  int32_t NumTriangles = 0;
  std::vector<int32_t> Triangles;  // indices into Geometry's triangles

  TBVHNode() = default;
  explicit TBVHNode(PBVHGeometry AGeometry) : Geometry(AGeometry) {}
  static TBVHNode Create(PBVHGeometry AGeometry) { return TBVHNode(AGeometry); }

  // The nearest front-face hit in the subtree.
  bool Raycast(const TRaycastData& ARay, TRaycastResult& ARes) const;
  // The node's own box only.
  bool IntersectsWith(const TAABB& A) const;
  // Descends into the first overlapping child at each level; only boxes are compared.
  bool IntersectsWith(const TAABB& A, PBVHNode& ANode);
};

// Per-triangle constants of the ray test, kept beside the tree (the same arithmetic as
// TTriangle::Raycast, with everything that does not depend on the ray computed once). The
// plane (unit normal, N . A) is stored apart: most triangles fail on it alone.
struct TBVHTriangleHit {
  TPoint3D A, B, C;
  TPoint3D VA, VB, VC;  // the barycentric edge vectors
  float DA, DB, DC;     // their dot products with ab, bc, ca
};

struct TBVHGeometry {
  PBVHNode Accelerator = nullptr;
  int32_t NumTriangles = 0;
  std::vector<TTriangle> Triangles;
  std::vector<TVector3D> HitPlanes;       // filled by BuildBVH, released by FreeBVH
  std::vector<TBVHTriangleHit> HitData;  // likewise

  TBVHGeometry() = default;
  TBVHGeometry(const TBVHGeometry&) = delete;
  TBVHGeometry& operator=(const TBVHGeometry&) = delete;
  TBVHGeometry(TBVHGeometry&& AOther) noexcept;
  TBVHGeometry& operator=(TBVHGeometry&& AOther) noexcept;
  ~TBVHGeometry();

  static TBVHGeometry Create(int32_t /*ADummy*/) { return {}; }
  // Triangles (index[3i + 2], index[3i + 1], index[3i]) of the vertices, each transformed by
  // ALocal: the winding is reversed. Fewer than 3 indices give no triangles; an index beyond
  // the vertices raises EArgumentOutOfRangeException.
  static TBVHGeometry Create(std::span<const TPoint3D> AVertices, std::span<const uint32_t> AIndices,
                             const TMatrix3D& ALocal);
  static TBVHGeometry Create(std::span<const TPoint3D> AVertices, std::span<const uint16_t> AIndices,
                             const TMatrix3D& ALocal);
  // The same from the framework's buffers (16- or 32-bit indices); a null buffer gives no
  // triangles. A vertex buffer without positions raises EArgumentException.
  static TBVHGeometry Create(const TVertexBuffer* AVertexSource, const TIndexBuffer* AIndexSource,
                             const TMatrix3D& ALocal);

  // A new mesh data (owned by the caller): the corners A, B, C of each triangle in turn as
  // 3 * NumTriangles vertices, indexed 0, 1, 2, ... Normals and texture coordinates stay zero.
  TMeshData* ToMeshData() const;

  bool Raycast(const TRaycastData& ARay, TRaycastResult& ARes) const;
  bool IntersectsWith(const TAABB& A) const;
  bool IntersectsWith(const TAABB& A, PBVHNode& ANode) const;
};

void BuildBVH(PBVHGeometry AGeometry);
void SplitBVHNode(PBVHNode ANode, PBVHGeometry AGeometry, int32_t ADepth);
void FreeBVHNode(PBVHNode ANode);
void FreeBVH(PBVHGeometry AGeometry);

}  // namespace quorvel
