#include "lib/utils/UtilsGeometry.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <utility>

#include "framework/gui3d/MeshData.h"
#include "framework/gui3d/VertexBuffer.h"
#include "framework/rtl/Exceptions.h"
#include "lib/utils/UtilsMath.h"
#include "lib/utils/UtilsVectors.h"

namespace quorvel {

namespace {

// Min(a, b) = a when a < b else b; Max(a, b) = a when a > b else b.
inline float MinF(float a, float b) { return a < b ? a : b; }
inline float MaxF(float a, float b) { return a > b ? a : b; }

inline float Coord(const TPoint3D& p, int i) { return i == 0 ? p.X : (i == 1 ? p.Y : p.Z); }

// The slab test on a direction whose near-zero components were already nudged.
inline float SlabTest(const TPoint3D& AMin, const TPoint3D& AMax, const TPoint3D& AStart, const TPoint3D& d) {
  const float t1 = (AMin.X - AStart.X) / d.X, t2 = (AMax.X - AStart.X) / d.X;
  const float t3 = (AMin.Y - AStart.Y) / d.Y, t4 = (AMax.Y - AStart.Y) / d.Y;
  const float t5 = (AMin.Z - AStart.Z) / d.Z, t6 = (AMax.Z - AStart.Z) / d.Z;
  const float tmin = MaxF(MaxF(MinF(t1, t2), MinF(t3, t4)), MinF(t5, t6));
  const float tmax = MinF(MinF(MaxF(t1, t2), MaxF(t3, t4)), MaxF(t5, t6));
  if (tmax < 0 || tmin > tmax) return -1;
  return tmin >= 0 ? tmin : tmax;
}

inline TPoint3D NudgeDirection(TPoint3D d) {
  // A zero component would divide by zero.
  if (SingleIsZero(d.X, 1e-7f)) d.X += 1e-7f;
  if (SingleIsZero(d.Y, 1e-7f)) d.Y += 1e-7f;
  if (SingleIsZero(d.Z, 1e-7f)) d.Z += 1e-7f;
  return d;
}

inline bool Overlap(const TInterval& a, const TInterval& b) { return b.Min <= a.Max && a.Min <= b.Max; }

TPoint3D PlaneFromCorners(const TPoint3D& P1, const TPoint3D& P2, const TPoint3D& P3, float& W) {
  const TPoint3D n = (P2 - P1).CrossProduct(P3 - P1).Normalize();
  W = -P1.DotProduct(n);
  return n;
}

// The ray cast of a segment: True when the named cast hits within the segment.
template <class Cast>
bool SegmentTest(const TLine& ALine, Cast&& ACast) {
  TRaycastData ray;
  ray.Start = ALine.Start;
  ray.Dir = (ALine.Stop - ALine.Start).Normalize();
  const float t = ACast(ray);
  return t >= 0 && ALine.LengthSq() >= t * t;
}

}  // namespace

bool FloatEqual(float a, float b) {
  const double da = a, db = b;
  return std::fabs(da - db) <= std::max({1.0, std::fabs(da), std::fabs(db)}) * 1e-8;
}

bool AABBOverlap(const TAABB& A, const TAABB& B) {
  if (A.Min.X > B.Max.X || B.Min.X > A.Max.X) return false;
  if (A.Min.Y > B.Max.Y || B.Min.Y > A.Max.Y) return false;
  if (A.Min.Z > B.Max.Z || B.Min.Z > A.Max.Z) return false;
  return true;
}

// ---- TAABB ----

TAABB TAABB::Create(float X, float Y, float Z) {
  const TPoint3D half = TPoint3D(X, Y, Z) / 2;
  return {-half, half};
}

TAABB TAABB::CreateFromOrigin(const TPoint3D& AOrigin, const TPoint3D& ASize, const TPoint3D& AOffset) {
  return {AOrigin + AOffset, AOrigin + ASize + AOffset};
}

bool TAABB::Contains(const TPoint3D& p) const {
  return Min.X <= p.X && p.X <= Max.X && Min.Y <= p.Y && p.Y <= Max.Y && Min.Z <= p.Z && p.Z <= Max.Z;
}

bool TAABB::Contains(const TAABB& o) const {
  return o.Min.X >= Min.X && o.Min.Y >= Min.Y && o.Min.Z >= Min.Z && o.Max.X <= Max.X && o.Max.Y <= Max.Y &&
         o.Max.Z <= Max.Z;
}

float TAABB::SurfaceArea() const {
  const TPoint3D d = Max - Min;
  return 2 * (d.X * d.Y + d.X * d.Z + d.Y * d.Z);
}

float TAABB::Raycast(const TRaycastData& ARay) const {
  return SlabTest(Min, Max, ARay.Start, NudgeDirection(ARay.Dir));
}

bool TAABB::Raycast(const TRaycastData& ARay, TRaycastResult& ARes) const {
  const float t = Raycast(ARay);
  ARes.T = t;
  if (t < 0) {
    ARes.Normal = {};
    ARes.Hit = false;
    ARes.Point = {};
    return false;
  }
  ARes.Normal = ARay.Normal;
  ARes.Hit = true;
  ARes.Point = ARay.Start + ARay.Dir * t;
  return true;
}

TAABB TAABB::Combine(const TAABB& B) const { return {ComponentMin(Min, B.Min), ComponentMax(Max, B.Max)}; }

TPoint3D TAABB::GetSize() const { return VectorAbs(Max - Min); }

TPoint3D TAABB::GetExtent() const { return GetSize() / 2; }

TPoint3D TAABB::GetPosition() const { return Min + GetExtent(); }

void TAABB::GetCorners(TCornerArray& APoints) const {
  for (int k = 0; k < 8; ++k)
    APoints[k] = {(k & 1) ? Max.X : Min.X, (k & 2) ? Max.Y : Min.Y, (k & 4) ? Max.Z : Min.Z};
}

void TAABB::GetPlanes(std::vector<TVector3D>& APlanes) const {
  static constexpr int kCorners[6][3] = {{3, 1, 0}, {7, 5, 4}, {1, 0, 4}, {3, 2, 6}, {3, 1, 5}, {2, 0, 4}};
  TCornerArray c;
  GetCorners(c);
  APlanes.resize(6);
  for (int k = 0; k < 6; ++k) {
    float w;
    const TPoint3D n = PlaneFromCorners(c[kCorners[k][0]], c[kCorners[k][1]], c[kCorners[k][2]], w);
    APlanes[k] = {n.X, n.Y, n.Z, w};
  }
}

void TAABB::Transform(const TPoint3D& APos, const TMat3& /*ARot*/) {
  Min += APos;
  Max += APos;
}

void TAABB::Transform(const TMatrix3D& AMat) {
  Min = Min * AMat;
  Max = Max * AMat;
}

TAABB TAABB::Inflate(float AFactor) const {
  const TPoint3D f(AFactor, AFactor, AFactor);
  return {Min - f, Max + f};
}

void TAABB::GetClosestPointAndDistance(const TPoint3D& APos, TPoint3D& APt, float& ADistance) const {
  APt = GetPosition();
  ADistance = APos.Distance(APt);
  TCornerArray c;
  GetCorners(c);
  for (const TPoint3D& p : c) {
    const float d = APos.Distance(p);
    if (d < ADistance) {
      APt = p;
      ADistance = d;
    }
  }
}

void TAABB::GetFarestPointAndDistance(const TPoint3D& APos, TPoint3D& APt, float& ADistance) const {
  APt = GetPosition();
  ADistance = APos.Distance(APt);
  TCornerArray c;
  GetCorners(c);
  for (const TPoint3D& p : c) {
    const float d = APos.Distance(p);
    if (d > ADistance) {
      APt = p;
      ADistance = d;
    }
  }
}

TPoint3D TAABB::GetVertexP(const TPoint3D& n) const {
  return {n.X >= 0 ? Max.X : Min.X, n.Y >= 0 ? Max.Y : Min.Y, n.Z >= 0 ? Max.Z : Min.Z};
}

TPoint3D TAABB::GetVertexN(const TPoint3D& n) const {
  return {n.X >= 0 ? Min.X : Max.X, n.Y >= 0 ? Min.Y : Max.Y, n.Z >= 0 ? Min.Z : Max.Z};
}

// ---- TOBB ----

TOBB TOBB::Create(const TPoint3D& ASize, const TPoint3D& APosition, const TMat3& AOrientation) {
  TOBB b;
  b.Position = APosition;
  b.Size = ASize;
  b.Orientation = AOrientation;
  return b;
}

TOBB TOBB::Create(float AWidth, float AHeight, float ADepth) {
  return Create(TPoint3D(AWidth, AHeight, ADepth) / 2, {}, TMat3(TMatrix::Identity()));
}

TOBB TOBB::Create(const TPoint3D& ASize, const TPoint3D& APosition) {
  return Create(ASize, APosition, TMat3(TMatrix::Identity()));
}

bool TOBB::Contains(const TPoint3D& APoint) const {
  const TPoint3D d = APoint - Position;
  for (int i = 0; i < 3; ++i) {
    const float p = d.DotProduct(Orientation.GetRow(i));
    const float s = Coord(Size, i);
    if (p > s || p < -s) return false;
  }
  return true;
}

void TOBB::GetCorners(TCornerArray& AVertices) const {
  static constexpr float kSigns[8][3] = {{1, 1, 1},   {-1, 1, 1},  {1, -1, 1},  {1, 1, -1},
                                         {-1, -1, -1}, {1, -1, -1}, {-1, 1, -1}, {-1, -1, 1}};
  const TPoint3D ax = Orientation.ex * Size.X, ay = Orientation.ey * Size.Y, az = Orientation.ez * Size.Z;
  for (int k = 0; k < 8; ++k)
    AVertices[k] = Position + ax * kSigns[k][0] + ay * kSigns[k][1] + az * kSigns[k][2];
}

void TOBB::GetCorners(std::vector<TPoint3D>& AVertices) const {
  TCornerArray c;
  GetCorners(c);
  AVertices.assign(std::begin(c), std::end(c));
}

std::vector<TEdge> TOBB::GetEdges() const {
  static constexpr int kEdges[12][2] = {{4, 5}, {5, 3}, {3, 6}, {6, 4}, {7, 2}, {2, 0},
                                        {0, 1}, {1, 7}, {2, 5}, {7, 4}, {0, 3}, {1, 6}};
  TCornerArray c;
  GetCorners(c);
  std::vector<TEdge> edges(12);
  for (int k = 0; k < 12; ++k) edges[k] = {c[kEdges[k][0]], c[kEdges[k][1]]};
  return edges;
}

TAABB TOBB::GetAABB() const {
  const float big = std::numeric_limits<float>::max();
  TAABB r{{big, big, big}, {-big, -big, -big}};
  TCornerArray c;
  GetCorners(c);
  for (const TPoint3D& p : c) {
    r.Min = ComponentMin(r.Min, p);
    r.Max = ComponentMax(r.Max, p);
  }
  return r;
}

TMeshData* TOBB::ToMeshData() const {
  TCornerArray c;
  GetCorners(c);
  auto mesh = std::make_unique<TMeshData>();
  TVertexBuffer& vb = *mesh->GetVertexBuffer();
  TIndexBuffer& ib = *mesh->GetIndexBuffer();
  vb.SetLength(8);
  ib.SetLength(8);
  for (int32_t k = 0; k < 8; ++k) {
    vb.SetVertices(k, c[k]);
    ib.SetIndices(k, uint32_t(k));
  }
  return mesh.release();
}

TPoint3D TOBB::ClosestPoint(const TPoint3D& APoint) const {
  TPoint3D result = Position;
  const TPoint3D d = APoint - Position;
  for (int i = 0; i < 3; ++i) {
    const TPoint3D& axis = Orientation.GetRow(i);
    const float s = Coord(Size, i);
    float dist = d.DotProduct(axis);
    if (dist > s) dist = s;
    if (dist < -s) dist = -s;
    result += axis * dist;
  }
  return result;
}

float TOBB::Raycast(const TRaycastData& ARay, PRaycastResult AResult) const {
  if (AResult) *AResult = {};
  const TPoint3D p = Position - ARay.Start;
  float f[3], e[3], t[6];
  for (int i = 0; i < 3; ++i) {
    const TPoint3D& axis = Orientation.GetRow(i);
    f[i] = axis.DotProduct(ARay.Dir);
    e[i] = axis.DotProduct(p);
  }
  for (int i = 0; i < 3; ++i) {
    const float s = Coord(Size, i);
    if (FloatEqual(f[i], 0)) {
      if (-e[i] - s > 0 || -e[i] + s < 0) return -1;
      f[i] = 1e-5f;
    }
    t[2 * i] = (e[i] + s) / f[i];
    t[2 * i + 1] = (e[i] - s) / f[i];
  }
  const float tmin = MaxF(MaxF(MinF(t[0], t[1]), MinF(t[2], t[3])), MinF(t[4], t[5]));
  const float tmax = MinF(MinF(MaxF(t[0], t[1]), MaxF(t[2], t[3])), MaxF(t[4], t[5]));
  if (tmax < 0 || tmin > tmax) return -1;
  const float result = tmin < 0 ? tmax : tmin;
  if (AResult) {
    AResult->T = result;
    AResult->Hit = true;
    AResult->Point = ARay.Start + ARay.Dir * result;
    AResult->Normal = (Position - AResult->Point).Normalize();
  }
  return result;
}

void BoundingBoxCorners(const TBoundingBox& b, std::vector<TPoint3D>& ACorners) {
  ACorners = {{b.Left, b.Bottom, b.Near}, {b.Right, b.Bottom, b.Near}, {b.Right, b.Top, b.Near},
              {b.Left, b.Top, b.Near},    {b.Left, b.Bottom, b.Far},   {b.Right, b.Bottom, b.Far},
              {b.Right, b.Top, b.Far},    {b.Left, b.Top, b.Far}};
}

TBoundingBox TransformBoundingBox(const TBoundingBox& ABox, const TMatrix3D& AMatrix) {
  std::vector<TPoint3D> corners;
  BoundingBoxCorners(ABox, corners);
  for (TPoint3D& p : corners) p = p * AMatrix;
  return TBoundingBox::Create(corners).Normalize();
}

// ---- TLine ----

TPoint3D TLine::ClosestPoint(const TPoint3D& p) const {
  const TPoint3D v = Stop - Start;
  float t = (p - Start).DotProduct(v) / v.DotProduct(v);
  t = MinF(MaxF(t, 0), 1);
  return Start + v * t;
}

bool TLine::Contains(const TPoint3D& p) const { return (ClosestPoint(p) - p).LengthSquared() < 1e-8f; }

float TLine::Length() const { return (Start - Stop).Length(); }

float TLine::LengthSq() const { return (Start - Stop).LengthSquared(); }

TPoint3D TLine::GetDirection(bool AInverse) const {
  return AInverse ? (Start - Stop).Normalize() : (Stop - Start).Normalize();
}

bool TLine::SphereLinetest(const TPoint3D& APos, float ARadius) const {
  return ARadius * ARadius >= (ClosestPoint(APos) - APos).LengthSquared();
}

bool TLine::AABBLinetest(const TAABB& AABB) const {
  return SegmentTest(*this, [&](const TRaycastData& r) { return AABB.Raycast(r); });
}

bool TLine::OBBLinetest(const TOBB& OBB, PRaycastResult AResult) const {
  return SegmentTest(*this, [&](const TRaycastData& r) { return OBB.Raycast(r, AResult); });
}

bool TLine::TriangleLinetest(const TTriangle* triangle) const {
  return SegmentTest(*this, [&](const TRaycastData& r) { return triangle->Raycast(r); });
}

// ---- TPlane ----

TPlane TPlane::Create(const TPoint3D& ANormal, const TPoint3D& APoint) {
  const TPoint3D n = ANormal.Normalize();
  return Create(n, -APoint.DotProduct(n));
}

TPlane TPlane::Create(const TPoint3D& P1, const TPoint3D& P2, const TPoint3D& P3) {
  float w;
  const TPoint3D n = PlaneFromCorners(P1, P2, P3, w);
  return Create(n, w);
}

float TPlane::SignedDistance(const TPoint3D& APoint) const { return Normal.DotProduct(APoint) + Distance; }

bool TPlane::Contains(const TPoint3D& p) const { return p.DotProduct(Normal) - Distance < 1e-8f; }

TPoint3D TPlane::ClosestPoint(const TPoint3D& p) const { return p - Normal * (Normal.DotProduct(p) - Distance); }

bool TPlane::IntersectsWith(const TOBB& AOBB) const {
  const float r = AOBB.Size.X * std::fabs(Normal.DotProduct(AOBB.Orientation.ex)) +
                  AOBB.Size.Y * std::fabs(Normal.DotProduct(AOBB.Orientation.ey)) +
                  AOBB.Size.Z * std::fabs(Normal.DotProduct(AOBB.Orientation.ez));
  return std::fabs(Normal.DotProduct(AOBB.Position) - Distance) <= r;
}

bool TPlane::IntersectsWith(const TAABB& AAABB) const {
  const TPoint3D e = AAABB.GetExtent();
  const float r = e.X * std::fabs(Normal.X) + e.Y * std::fabs(Normal.Y) + e.Z * std::fabs(Normal.Z);
  return std::fabs(Normal.DotProduct(AAABB.GetPosition()) - Distance) <= r;
}

bool TPlane::IntersectsWith(const TPlane& APlane) const {
  const TPoint3D d = Normal.CrossProduct(APlane.Normal);
  return d.DotProduct(d) >= 1e-8f;
}

float TPlane::Raycast(const TRaycastData& ray) const {
  const float nd = ray.Dir.DotProduct(Normal);
  if (nd >= 0) return -1;
  const float t = (Distance - ray.Start.DotProduct(Normal)) / nd;
  return t < 0 ? -1 : t;
}

bool TPlane::Raycast(const TRaycastData& ray, PRaycastResult AResult) const {
  if (AResult) *AResult = {};
  const float t = Raycast(ray);
  if (t < 0) return false;
  if (AResult) {
    AResult->T = t;
    AResult->Hit = true;
    AResult->Point = ray.Start + ray.Dir * t;
    AResult->Normal = Normal.Normalize();
  }
  return true;
}

// ---- TTriangle ----

TPoint3D& TTriangle::Points(int32_t AIndex) {
  switch (AIndex) {
    case 0: return A;
    case 1: return B;
    case 2: return C;
  }
  throw EArgumentOutOfRangeException("TTriangle.Points index " + std::to_string(AIndex) + " out of range");
}

float& TTriangle::Values(int32_t AIndex) {
  if (AIndex < 0 || AIndex > 8)
    throw EArgumentOutOfRangeException("TTriangle.Values index " + std::to_string(AIndex) + " out of range");
  TPoint3D& p = Points(AIndex / 3);
  return AIndex % 3 == 0 ? p.X : (AIndex % 3 == 1 ? p.Y : p.Z);
}

bool TTriangle::Contains(const TPoint3D& p) const {
  const TPoint3D a = A - p, b = B - p, c = C - p;
  const TPoint3D u = b.CrossProduct(c), v = c.CrossProduct(a), w = a.CrossProduct(b);
  // p on the line through B and C makes u zero, and both tests against u pass even beyond
  // the edge: the other two must then agree.
  if (u.X == 0 && u.Y == 0 && u.Z == 0) return !(v.DotProduct(w) < 0);
  return !(u.DotProduct(v) < 0 || u.DotProduct(w) < 0);
}

TPlane TTriangle::ToPlane() const {
  const TPoint3D n = (B - A).CrossProduct(C - A).Normalize();
  return TPlane::Create(n, n.DotProduct(A));
}

TAABB TTriangle::ToAABB() const { return {ComponentMin(ComponentMin(A, B), C), ComponentMax(ComponentMax(A, B), C)}; }

TLine TTriangle::GetLine(int32_t AIndex, bool AInverse) const {
  TLine l;
  switch (AIndex) {
    case 0: l = {A, B}; break;
    case 1: l = {B, C}; break;
    case 2: l = {C, A}; break;
    default: return TLine(0);
  }
  if (AInverse) std::swap(l.Start, l.Stop);
  return l;
}

TPoint3D TTriangle::Center() const { return (A + B + C) / 3; }

TPoint3D ProjectVector(const TPoint3D& a, const TPoint3D& b) { return b * (a.DotProduct(b) / b.DotProduct(b)); }

TPoint3D TTriangle::Barycentric(const TPoint3D& p) const {
  const TPoint3D ap = p - A, bp = p - B, cp = p - C;
  const TPoint3D ab = B - A, ac = C - A, bc = C - B, cb = B - C, ca = A - C;
  TPoint3D v = ab - ProjectVector(ab, cb);
  const float x = 1 - v.DotProduct(ap) / v.DotProduct(ab);
  v = bc - ProjectVector(bc, ac);
  const float y = 1 - v.DotProduct(bp) / v.DotProduct(bc);
  v = ca - ProjectVector(ca, ab);
  const float z = 1 - v.DotProduct(cp) / v.DotProduct(ca);
  return {x, y, z};
}

TPoint3D TTriangle::ClosestPoint(const TPoint3D& p) const {
  const TPoint3D q = ToPlane().ClosestPoint(p);
  if (Contains(q)) return q;
  const TPoint3D c1 = TLine(A, B).ClosestPoint(p);
  const TPoint3D c2 = TLine(B, C).ClosestPoint(p);
  const TPoint3D c3 = TLine(C, A).ClosestPoint(p);
  const float d1 = (p - c1).LengthSquared(), d2 = (p - c2).LengthSquared(), d3 = (p - c3).LengthSquared();
  // The nearest; a tie goes to the later candidate (never to a farther one).
  TPoint3D best = c1;
  float bestD = d1;
  if (d2 <= bestD) {
    best = c2;
    bestD = d2;
  }
  if (d3 <= bestD) best = c3;
  return best;
}

TPoint3D TTriangle::ClosestPoint2(const TPoint3D& pSource) const {
  const TPoint3D e0 = B - A, e1 = C - A, w = A - pSource;
  const float a = e0.DotProduct(e0), b = e0.DotProduct(e1), c = e1.DotProduct(e1);
  const float d = e0.DotProduct(w), e = e1.DotProduct(w);
  const float det = a * c - b * b;
  float s = b * e - c * d;
  float t = b * d - a * e;
  auto clamp01 = [](float x) { return x < 0 ? 0.0f : (x > 1 ? 1.0f : x); };
  if (s + t < det) {
    if (s >= 0 && t >= 0) {
      const float invDet = 1 / det;
      s *= invDet;
      t *= invDet;
    } else if (s >= 0) {
      s = clamp01(-d / a);
      t = 0;
    } else if (t >= 0) {
      s = 0;
      t = clamp01(-e / c);
    } else if (d < 0) {
      s = clamp01(-d / a);
      t = 0;
    } else {
      s = 0;
      t = clamp01(-e / c);
    }
  } else if (s < 0) {
    if (c + e > b + d) {
      s = clamp01(((c + e) - (b + d)) / (a - 2 * b + c));
      t = 1 - s;
    } else {
      s = 0;
      t = clamp01(-e / c);
    }
  } else if (t < 0) {
    if (a + d > b + e) {
      s = clamp01((c + e - b - d) / (a - 2 * b + c));
      t = 1 - s;
    } else {
      s = clamp01(-d / a);
      t = 0;
    }
  } else {
    s = clamp01((c + e - b - d) / (a - 2 * b + c));
    t = 1 - s;
  }
  return A + e0 * s + e1 * t;
}

void TTriangle::Transform(const TPoint3D& APos, const TMat3& ARot) {
  Transform(ARot.ToMatrix3D() * TMatrix3D::CreateTranslation(APos));
}

void TTriangle::Transform(const TMatrix3D& AMat) {
  A = A * AMat;
  B = B * AMat;
  C = C * AMat;
}

TInterval GetInterval(const TTriangle& t, const TPoint3D& axis) {
  const float a = axis.DotProduct(t.A), b = axis.DotProduct(t.B), c = axis.DotProduct(t.C);
  return {MinF(MinF(a, b), c), MaxF(MaxF(a, b), c)};
}

TInterval GetInterval(const TAABB& box, const TPoint3D& axis) {
  // The extreme corners take, per component, the smaller (larger) product: rounding is monotonic,
  // so this equals the minimum (maximum) over the eight corners' dot products.
  const float x0 = box.Min.X * axis.X, x1 = box.Max.X * axis.X;
  const float y0 = box.Min.Y * axis.Y, y1 = box.Max.Y * axis.Y;
  const float z0 = box.Min.Z * axis.Z, z1 = box.Max.Z * axis.Z;
  return {MinF(x0, x1) + MinF(y0, y1) + MinF(z0, z1), MaxF(x0, x1) + MaxF(y0, y1) + MaxF(z0, z1)};
}

TInterval GetInterval(const TOBB& box, const TPoint3D& axis) {
  TCornerArray c;
  box.GetCorners(c);
  TInterval r{axis.DotProduct(c[0]), axis.DotProduct(c[0])};
  for (int k = 1; k < 8; ++k) {
    const float p = axis.DotProduct(c[k]);
    r.Min = MinF(r.Min, p);
    r.Max = MaxF(r.Max, p);
  }
  return r;
}

bool OverlapOnAxis(const TAABB& AABB, const TTriangle& ATriangle, const TPoint3D& AAxis) {
  return Overlap(GetInterval(AABB, AAxis), GetInterval(ATriangle, AAxis));
}

bool OverlapOnAxis(const TOBB& OBB, const TTriangle& ATriangle, const TPoint3D& AAxis) {
  return Overlap(GetInterval(OBB, AAxis), GetInterval(ATriangle, AAxis));
}

bool OverlapOnAxis(const TTriangle& T1, const TTriangle& T2, const TPoint3D& AAxis) {
  return Overlap(GetInterval(T1, AAxis), GetInterval(T2, AAxis));
}

namespace {
template <class Box>
bool TriangleBoxSat(const TTriangle& t, const Box& box, const TPoint3D (&u)[3]) {
  const TPoint3D f[3] = {t.B - t.A, t.C - t.B, t.A - t.C};
  for (const TPoint3D& axis : u)
    if (!OverlapOnAxis(box, t, axis)) return false;
  if (!OverlapOnAxis(box, t, f[0].CrossProduct(f[1]))) return false;
  for (const TPoint3D& ui : u)
    for (const TPoint3D& fj : f)
      if (!OverlapOnAxis(box, t, ui.CrossProduct(fj))) return false;
  return true;
}
}  // namespace

bool TTriangle::IntersectsWith(const TAABB& AABB) const {
  static constexpr TPoint3D kWorld[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  return TriangleBoxSat(*this, AABB, kWorld);
}

bool TTriangle::IntersectsWith(const TOBB& OBB) const {
  const TPoint3D axes[3] = {OBB.Orientation.ex, OBB.Orientation.ey, OBB.Orientation.ez};
  return TriangleBoxSat(*this, OBB, axes);
}

bool TTriangle::IntersectsWith(const TTriangle& o) const {
  const TPoint3D f[3] = {B - A, C - B, A - C};
  const TPoint3D g[3] = {o.B - o.A, o.C - o.B, o.A - o.C};
  if (!OverlapOnAxis(*this, o, f[0].CrossProduct(f[1]))) return false;
  if (!OverlapOnAxis(*this, o, g[0].CrossProduct(g[1]))) return false;
  for (const TPoint3D& gi : g)
    for (const TPoint3D& fj : f)
      if (!OverlapOnAxis(*this, o, gi.CrossProduct(fj))) return false;
  return true;
}

TPoint3D TTriangle::SatCrossEdge(const TPoint3D& a, const TPoint3D& b, const TPoint3D& c, const TPoint3D& d) {
  const TPoint3D ab = a - b, cd = c - d;
  TPoint3D r = ab.CrossProduct(cd);
  if (!FloatEqual(r.DotProduct(r), 0)) return r;
  r = ab.CrossProduct(ab.CrossProduct(c - a));
  if (!FloatEqual(r.DotProduct(r), 0)) return r;
  return {};
}

bool TTriangle::IntersectsWithRobust(const TTriangle& o) const {
  const TPoint3D p[3] = {A, B, C};
  const TPoint3D q[3] = {o.A, o.B, o.C};
  TPoint3D axes[11];
  axes[0] = SatCrossEdge(A, B, B, C);
  axes[1] = SatCrossEdge(o.A, o.B, o.B, o.C);
  int n = 2;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) axes[n++] = SatCrossEdge(q[i], q[(i + 1) % 3], p[j], p[(j + 1) % 3]);
  for (const TPoint3D& axis : axes)
    if (!OverlapOnAxis(*this, o, axis) && !FloatEqual(axis.DotProduct(axis), 0)) return false;
  return true;
}

float TTriangle::Raycast(const TRaycastData& ARay) const {
  const TPlane plane = ToPlane();
  const float t = plane.Raycast(ARay);
  if (t < 0) return -1;
  const TPoint3D bc = Barycentric(ARay.Start + ARay.Dir * t);
  auto in01 = [](float v) { return v >= 0 && v <= 1; };
  if (!(in01(bc.X) && in01(bc.Y) && in01(bc.Z))) return -1;
  return t;
}

bool TTriangle::Raycast(const TRaycastData& ARay, PRaycastResult AResult) const {
  if (AResult) *AResult = {};
  const TPlane plane = ToPlane();
  const float t = plane.Raycast(ARay);
  if (t < 0) return false;
  const TPoint3D p = ARay.Start + ARay.Dir * t;
  const TPoint3D bc = Barycentric(p);
  auto in01 = [](float v) { return v >= 0 && v <= 1; };
  if (!(in01(bc.X) && in01(bc.Y) && in01(bc.Z))) return false;
  if (AResult) {
    AResult->T = t;
    AResult->Hit = true;
    AResult->Point = p;
    AResult->Normal = plane.Normal;
  }
  return true;
}

bool TTriangle::Raycast(const TOBB& OBB, std::vector<TRaycastResult>& AResult) const {
  AResult.clear();
  AResult.reserve(15);
  TRaycastData ray;
  TRaycastResult res;
  for (int i = 0; i < 3; ++i) {
    const TLine line = GetLine(i, false);
    const float len = line.Length();
    ray.Start = line.Start;
    ray.Dir = line.GetDirection(false);
    if (OBB.Raycast(ray, &res) > 0 && res.Hit && res.T <= len) {
      AResult.push_back(res);
      continue;
    }
    ray.Start = line.Stop;
    ray.Dir = line.GetDirection(true);
    if (OBB.Raycast(ray, &res) > 0 && res.Hit && res.T <= len) AResult.push_back(res);
  }
  const TPlane plane = ToPlane();
  for (const TEdge& edge : OBB.GetEdges()) {
    const TLine line(edge);
    const float len = line.Length();
    ray.Start = line.Start;
    ray.Dir = line.GetDirection(false);
    if (plane.Raycast(ray, &res) && res.T < len) {
      AResult.push_back(res);
      continue;
    }
    ray.Start = line.Stop;
    ray.Dir = line.GetDirection(true);
    if (plane.Raycast(ray, &res) && res.T < len) AResult.push_back(res);
  }
  AResult.shrink_to_fit();
  return !AResult.empty();
}

bool TTriangle::Raycast(const TTriangle& ATriangle, std::vector<TRaycastResult>& AResult) const {
  AResult.clear();
  AResult.reserve(15);
  TRaycastData ray;
  TRaycastResult res;
  for (int i = 0; i < 3; ++i) {
    const TLine line = ATriangle.GetLine(i, false);
    const float len = line.Length();
    ray.Start = line.Start;
    ray.Dir = line.GetDirection(false);
    if (Raycast(ray, &res) && res.T <= len) {
      AResult.push_back(res);
      continue;
    }
    ray.Start = line.Stop;
    ray.Dir = line.GetDirection(true);
    if (Raycast(ray, &res) && res.T <= len) AResult.push_back(res);
  }
  AResult.shrink_to_fit();
  return !AResult.empty();
}

// ---- Bounding-volume hierarchy ----

namespace {

TBVHTriangleHit MakeHitData(const TTriangle& t) {
  TBVHTriangleHit h;
  h.A = t.A;
  h.B = t.B;
  h.C = t.C;
  const TPoint3D ab = t.B - t.A, ac = t.C - t.A, bc = t.C - t.B, cb = t.B - t.C, ca = t.A - t.C;
  h.VA = ab - ProjectVector(ab, cb);
  h.DA = h.VA.DotProduct(ab);
  h.VB = bc - ProjectVector(bc, ac);
  h.DB = h.VB.DotProduct(bc);
  h.VC = ca - ProjectVector(ca, ab);
  h.DC = h.VC.DotProduct(ca);
  return h;
}

// TTriangle::Raycast with the ray-independent terms taken from AHit: the same operations in
// the same order, so both give the same answers.
inline bool FastTriangleHit(const TVector3D& plane, const TBVHTriangleHit& h, const TPoint3D& S, const TPoint3D& D,
                            float& AT, TPoint3D& AP) {
  const TPoint3D n(plane.X, plane.Y, plane.Z);
  const float nd = D.DotProduct(n);
  if (nd >= 0) return false;
  const float t = (plane.W - S.DotProduct(n)) / nd;
  if (t < 0) return false;
  const TPoint3D p = S + D * t;
  const float x = 1 - h.VA.DotProduct(p - h.A) / h.DA;
  if (!(x >= 0 && x <= 1)) return false;
  const float y = 1 - h.VB.DotProduct(p - h.B) / h.DB;
  if (!(y >= 0 && y <= 1)) return false;
  const float z = 1 - h.VC.DotProduct(p - h.C) / h.DC;
  if (!(z >= 0 && z <= 1)) return false;
  AT = t;
  AP = p;
  return true;
}

// The slab test for the tree's boxes, which only decides where to look: it must never miss a box
// a triangle inside it could be hit in. A zero direction component leaves its slab to the start
// alone (the nudged direction of SlabTest misses when the start lies on the box's upper face),
// and a margin of a few ulps covers rays that graze an edge or a corner.
inline float TreeSlabTest(const TAABB& ABox, const TPoint3D& AStart, const TPoint3D& ADir) {
  float tmin = -std::numeric_limits<float>::infinity(), tmax = std::numeric_limits<float>::infinity();
  for (int i = 0; i < 3; ++i) {
    const float lo = Coord(ABox.Min, i), hi = Coord(ABox.Max, i), s = Coord(AStart, i), d = Coord(ADir, i);
    const float margin = 1e-6f * std::max({1.0f, std::fabs(lo), std::fabs(hi)});
    if (d == 0) {
      if (s < lo - margin || s > hi + margin) return -1;
      continue;
    }
    float t1 = (lo - margin - s) / d, t2 = (hi + margin - s) / d;
    if (t1 > t2) std::swap(t1, t2);
    tmin = std::max(tmin, t1);
    tmax = std::min(tmax, t2);
  }
  if (tmax < 0 || tmin > tmax) return -1;
  return tmin >= 0 ? tmin : tmax;
}

struct TRayWalk {
  TPoint3D Start;
  TPoint3D Dir;
  const TTriangle* Tris;
  const TVector3D* Planes;      // null when the geometry has no precomputed data
  const TBVHTriangleHit* Hits;
  size_t Count;
  float Best = std::numeric_limits<float>::infinity();
  int32_t BestIndex = -1;
  float BestT = 0;
  TPoint3D BestPoint;
};

void WalkNode(const TBVHNode& node, TRayWalk& w) {
  if (TreeSlabTest(node.Bounds, w.Start, w.Dir) < 0) return;
  if (node.Children.empty()) {
    const int32_t n = std::min<int32_t>(node.NumTriangles, int32_t(node.Triangles.size()));
    for (int32_t i = 0; i < n; ++i) {
      const int32_t idx = node.Triangles[i];
      if (idx < 0 || size_t(idx) >= w.Count) continue;
      float t;
      TPoint3D p;
      if (w.Hits) {
        if (!FastTriangleHit(w.Planes[idx], w.Hits[idx], w.Start, w.Dir, t, p)) continue;
      } else {
        TRaycastData ray;
        ray.Start = w.Start;
        ray.Dir = w.Dir;
        TRaycastResult r;
        if (!w.Tris[idx].Raycast(ray, &r)) continue;
        t = r.T;
        p = r.Point;
      }
      const float d = p.Distance(w.Start);
      if (d < w.Best) {
        w.Best = d;
        w.BestIndex = idx;
        w.BestT = t;
        w.BestPoint = p;
      }
    }
    return;
  }
  for (const TBVHNode& child : node.Children) WalkNode(child, w);
}

void FixGeometry(TBVHNode& node, PBVHGeometry g) {
  node.Geometry = g;
  for (TBVHNode& c : node.Children) FixGeometry(c, g);
}

template <class Index>
TBVHGeometry CreateGeometry(std::span<const TPoint3D> AVertices, std::span<const Index> AIndices,
                            const TMatrix3D& ALocal) {
  TBVHGeometry g;
  if (AVertices.empty() || AIndices.size() < 3) return g;
  const size_t n = AIndices.size() / 3;
  if (n > size_t(std::numeric_limits<int32_t>::max()))
    throw EArgumentOutOfRangeException("TBVHGeometry.Create: too many triangles");
  g.Triangles.resize(n);
  auto vertex = [&](Index i) {
    if (size_t(i) >= AVertices.size())
      throw EArgumentOutOfRangeException("TBVHGeometry.Create: index " + std::to_string(i) + " beyond " +
                                         std::to_string(AVertices.size()) + " vertices");
    return AVertices[i] * ALocal;
  };
  for (size_t i = 0; i < n; ++i)
    g.Triangles[i] = {vertex(AIndices[3 * i + 2]), vertex(AIndices[3 * i + 1]), vertex(AIndices[3 * i])};
  g.NumTriangles = int32_t(n);
  return g;
}

}  // namespace

bool TBVHNode::Raycast(const TRaycastData& ARay, TRaycastResult& ARes) const {
  // The box record comes from the plain slab test; whether to look inside, from the tree's own.
  Bounds.Raycast(ARay, ARes);
  ARes.Hit = false;
  if (TreeSlabTest(Bounds, ARay.Start, ARay.Dir) < 0) return false;
  if (!Geometry) return false;
  const TBVHGeometry& g = *Geometry;
  TRayWalk w;
  w.Start = ARay.Start;
  w.Dir = ARay.Dir;
  w.Tris = g.Triangles.data();
  w.Count = std::min(g.Triangles.size(), size_t(std::max(g.NumTriangles, 0)));
  const bool precomputed = g.HitData.size() == g.Triangles.size() && g.HitPlanes.size() == g.Triangles.size();
  w.Planes = precomputed ? g.HitPlanes.data() : nullptr;
  w.Hits = precomputed ? g.HitData.data() : nullptr;
  if (Children.empty()) {
    WalkNode(*this, w);
  } else {
    for (const TBVHNode& child : Children) WalkNode(child, w);
  }
  if (w.BestIndex < 0) return false;
  ARes.T = w.BestT;
  ARes.Hit = true;
  ARes.Point = w.BestPoint;
  ARes.Normal = g.Triangles[w.BestIndex].ToPlane().Normal;
  return true;
}

bool TBVHNode::IntersectsWith(const TAABB& A) const { return AABBOverlap(Bounds, A); }

bool TBVHNode::IntersectsWith(const TAABB& A, PBVHNode& ANode) {
  if (!AABBOverlap(Bounds, A)) {
    ANode = nullptr;
    return false;
  }
  ANode = this;
  for (TBVHNode& child : Children) {
    PBVHNode found = nullptr;
    if (child.IntersectsWith(A, found)) {
      ANode = found;
      break;
    }
  }
  return true;
}

TBVHGeometry::TBVHGeometry(TBVHGeometry&& o) noexcept
    : Accelerator(std::exchange(o.Accelerator, nullptr)),
      NumTriangles(std::exchange(o.NumTriangles, 0)),
      Triangles(std::move(o.Triangles)),
      HitPlanes(std::move(o.HitPlanes)),
      HitData(std::move(o.HitData)) {
  if (Accelerator) FixGeometry(*Accelerator, this);
}

TBVHGeometry& TBVHGeometry::operator=(TBVHGeometry&& o) noexcept {
  if (this != &o) {
    FreeBVH(this);
    Accelerator = std::exchange(o.Accelerator, nullptr);
    NumTriangles = std::exchange(o.NumTriangles, 0);
    Triangles = std::move(o.Triangles);
    HitPlanes = std::move(o.HitPlanes);
    HitData = std::move(o.HitData);
    if (Accelerator) FixGeometry(*Accelerator, this);
  }
  return *this;
}

TBVHGeometry::~TBVHGeometry() { FreeBVH(this); }

TBVHGeometry TBVHGeometry::Create(std::span<const TPoint3D> AVertices, std::span<const uint32_t> AIndices,
                                  const TMatrix3D& ALocal) {
  return CreateGeometry(AVertices, AIndices, ALocal);
}

TBVHGeometry TBVHGeometry::Create(std::span<const TPoint3D> AVertices, std::span<const uint16_t> AIndices,
                                  const TMatrix3D& ALocal) {
  return CreateGeometry(AVertices, AIndices, ALocal);
}

TBVHGeometry TBVHGeometry::Create(const TVertexBuffer* AVertexSource, const TIndexBuffer* AIndexSource,
                                  const TMatrix3D& ALocal) {
  if (!AVertexSource || !AIndexSource || AIndexSource->Length() < 3) return {};
  // Without positions every triangle would silently collapse to the origin.
  if (!AVertexSource->HasFormat(TVertexFormat::Vertex))
    throw EArgumentException("TBVHGeometry.Create: the vertex buffer holds no positions");
  std::vector<TPoint3D> vertices(size_t(AVertexSource->Length()));
  for (int32_t i = 0; i < AVertexSource->Length(); ++i) vertices[size_t(i)] = AVertexSource->GetVertices(i);
  std::vector<uint32_t> indices(size_t(AIndexSource->Length()));
  for (int32_t i = 0; i < AIndexSource->Length(); ++i) indices[size_t(i)] = AIndexSource->GetIndices(i);
  return CreateGeometry(std::span<const TPoint3D>(vertices), std::span<const uint32_t>(indices), ALocal);
}

TMeshData* TBVHGeometry::ToMeshData() const {
  const size_t n = std::min(Triangles.size(), size_t(std::max(NumTriangles, 0)));
  if (n > size_t(std::numeric_limits<int32_t>::max() / 3))
    throw EArgumentOutOfRangeException("TBVHGeometry.ToMeshData: too many triangles for one mesh");
  const int32_t count = int32_t(3 * n);
  auto mesh = std::make_unique<TMeshData>();
  TVertexBuffer& vb = *mesh->GetVertexBuffer();
  TIndexBuffer& ib = *mesh->GetIndexBuffer();
  vb.SetLength(count);
  ib.SetLength(count);
  for (int32_t i = 0; i < count; ++i) {
    vb.SetVertices(i, Triangles[size_t(i / 3)].Points(i % 3));
    ib.SetIndices(i, uint32_t(i));
  }
  return mesh.release();
}

bool TBVHGeometry::Raycast(const TRaycastData& ARay, TRaycastResult& ARes) const {
  if (!Accelerator) {
    ARes = {};
    return false;
  }
  return Accelerator->Raycast(ARay, ARes);
}

bool TBVHGeometry::IntersectsWith(const TAABB& A) const {
  PBVHNode node;
  return IntersectsWith(A, node);
}

bool TBVHGeometry::IntersectsWith(const TAABB& A, PBVHNode& ANode) const {
  ANode = nullptr;
  const int32_t count = std::min<int32_t>(NumTriangles, int32_t(Triangles.size()));
  auto touches = [&](int32_t idx) { return idx >= 0 && idx < count && Triangles[idx].IntersectsWith(A); };
  if (!Accelerator) {
    for (int32_t i = 0; i < count; ++i)
      if (touches(i)) return true;
    return false;
  }
  std::vector<PBVHNode> queue{Accelerator};
  for (size_t head = 0; head < queue.size(); ++head) {
    const PBVHNode node = queue[head];
    const int32_t n = std::min<int32_t>(node->NumTriangles, int32_t(node->Triangles.size()));
    for (int32_t i = 0; i < n; ++i)
      if (touches(node->Triangles[i])) {
        ANode = node;
        return true;
      }
    for (int k = int(node->Children.size()) - 1; k >= 0; --k)
      if (AABBOverlap(node->Children[k].Bounds, A)) queue.push_back(&node->Children[k]);
  }
  return false;
}

void BuildBVH(PBVHGeometry AGeometry) {
  if (!AGeometry || AGeometry->Accelerator || AGeometry->Triangles.empty()) return;
  const int32_t n = std::clamp<int32_t>(AGeometry->NumTriangles, 0, int32_t(AGeometry->Triangles.size()));
  const TTriangle* tris = AGeometry->Triangles.data();
  TPoint3D lo = tris[0].A, hi = tris[0].A;
  for (int32_t i = 0; i < n; ++i)
    for (const TPoint3D* p : {&tris[i].A, &tris[i].B, &tris[i].C}) {
      lo = ComponentMin(lo, *p);
      hi = ComponentMax(hi, *p);
    }
  auto* root = new TBVHNode(AGeometry);
  AGeometry->Accelerator = root;
  root->Bounds = {lo, hi};
  root->NumTriangles = n;
  root->Triangles.resize(size_t(n));
  for (int32_t i = 0; i < n; ++i) root->Triangles[i] = i;
  const size_t total = AGeometry->Triangles.size();
  AGeometry->HitPlanes.resize(total);
  AGeometry->HitData.resize(total);
  for (size_t i = 0; i < total; ++i) {
    AGeometry->HitPlanes[i] = AGeometry->Triangles[i].ToPlane().ToVector3D();
    AGeometry->HitData[i] = MakeHitData(tris[i]);
  }
  SplitBVHNode(root, AGeometry, 4);
}

void SplitBVHNode(PBVHNode ANode, PBVHGeometry AGeometry, int32_t ADepth) {
  if (!ANode || !AGeometry || ADepth <= 1) return;
  if (ANode->Children.empty() && ANode->NumTriangles > 0) {
    const TPoint3D c = ANode->Bounds.GetPosition();
    const TPoint3D h = ANode->Bounds.GetSize() * 0.5f;
    static constexpr float kSigns[8][3] = {{-1, 1, -1}, {1, 1, -1}, {-1, 1, 1},  {1, 1, 1},
                                           {-1, -1, -1}, {1, -1, -1}, {-1, -1, 1}, {1, -1, 1}};
    ANode->Children.resize(8);
    for (int k = 0; k < 8; ++k) {
      const TPoint3D corner = c + TPoint3D(kSigns[k][0] * h.X, kSigns[k][1] * h.Y, kSigns[k][2] * h.Z);
      ANode->Children[k].Bounds = {ComponentMin(c, corner), ComponentMax(c, corner)};
    }
  }
  if (ANode->Children.empty() || ANode->NumTriangles <= 0) return;
  const int32_t count = std::min<int32_t>(ANode->NumTriangles, int32_t(ANode->Triangles.size()));
  const int32_t numTris = int32_t(AGeometry->Triangles.size());
  for (TBVHNode& child : ANode->Children) {
    child.Geometry = ANode->Geometry;
    for (int32_t i = 0; i < count; ++i) {
      const int32_t idx = ANode->Triangles[i];
      if (idx < 0 || idx >= numTris || !AGeometry->Triangles[idx].IntersectsWith(child.Bounds)) continue;
      if (child.Triangles.empty()) child.Triangles.reserve(size_t(count));
      child.Triangles.push_back(idx);
    }
    child.Triangles.shrink_to_fit();
    child.NumTriangles = int32_t(child.Triangles.size());
  }
  ANode->NumTriangles = 0;
  std::vector<int32_t>().swap(ANode->Triangles);
  for (TBVHNode& child : ANode->Children) SplitBVHNode(&child, AGeometry, ADepth - 1);
}

void FreeBVHNode(PBVHNode ANode) {
  if (!ANode) return;
  if (!ANode->Children.empty()) {
    for (TBVHNode& child : ANode->Children) FreeBVHNode(&child);
    std::vector<TBVHNode>().swap(ANode->Children);
  }
  if (ANode->NumTriangles != 0 || !ANode->Triangles.empty()) {
    std::vector<int32_t>().swap(ANode->Triangles);
    ANode->NumTriangles = 0;
  }
}

void FreeBVH(PBVHGeometry AGeometry) {
  if (!AGeometry || !AGeometry->Accelerator) return;
  FreeBVHNode(AGeometry->Accelerator);
  delete AGeometry->Accelerator;
  AGeometry->Accelerator = nullptr;
  std::vector<TVector3D>().swap(AGeometry->HitPlanes);
  std::vector<TBVHTriangleHit>().swap(AGeometry->HitData);
}

}  // namespace quorvel
