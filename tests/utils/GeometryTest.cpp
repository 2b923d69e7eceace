#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>

#include "framework/gui3d/MeshData.h"
#include "framework/rtl/Exceptions.h"
#include "lib/utils/UtilsGeometry.h"
#include "tests/support/MathExpect.h"

using namespace quorvel;

namespace {

constexpr float kGeometryPi = std::numbers::pi_v<float>;

TRaycastData Ray(const TPoint3D& start, const TPoint3D& dir) {
  TRaycastData r;
  r._Set(start, dir, 1000);
  return r;
}

const TAABB kUnitBox{{-1, -1, -1}, {1, 1, 1}};
const TMat3 kIdentity3(TMatrix::Identity());

}  // namespace

TEST(AABB, SlabRayCastsFromOutsideAndInside) {
  struct Case {
    TPoint3D Start, Dir;
    float T;
  } cases[] = {
      {{0, 0, -5}, {0, 0, 1}, 4},     // entry distance
      {{0, 0, 0}, {0, 0, 1}, 1},      // from inside: exit distance
      {{0, 0, 5}, {0, 0, 1}, -1},     // box behind the ray
      {{0, 0, 5}, {0, 0, -1}, 4},
      {{0, 5, 0}, {1, 0, 0}, -1},     // parallel, outside: zero components nudged
      {{-5, 0.5f, 0}, {1, 0, 0}, 4},  // parallel, inside the other slabs
      {{0, 0, -5}, {0, 0, 2}, 2},     // in units of the direction's length
      {{-3, -3, -3}, {1, 1, 1}, 2},   // through a corner region
      {{1, 0, -5}, {0, 0, 1}, -1},    // along a face: the nudge tilts the ray outwards
  };
  for (const Case& c : cases)
    EXPECT_NEAR(kUnitBox.Raycast(Ray(c.Start, c.Dir)), c.T, 1e-5) << c.Start.X << "," << c.Start.Y << "," << c.Start.Z;

  TRaycastData ray = Ray({0, 0, -5}, {0, 0, 1});
  ray.Normal = {7, 8, 9};
  TRaycastResult res;
  ASSERT_TRUE(kUnitBox.Raycast(ray, res));
  EXPECT_TRUE(res.Hit);
  EXPECT_FLOAT_EQ(res.T, 4);
  ExpectPointNear(res.Point, {0, 0, -1});
  EXPECT_EQ(res.Normal, TPoint3D(7, 8, 9));  // the ray's own normal is copied
  ray.Start = {0, 0, 5};
  EXPECT_FALSE(kUnitBox.Raycast(ray, res));
  EXPECT_FALSE(res.Hit);
  EXPECT_FLOAT_EQ(res.T, -1);
  EXPECT_EQ(res.Normal, TPoint3D(0, 0, 0));
}

TEST(AABB, PlanesCornersAndQueries) {
  const TAABB box{{0, 0, 0}, {1, 2, 3}};
  std::vector<TVector3D> planes;
  box.GetPlanes(planes);
  const TVector3D expected[] = {{0, 0, -1, 0}, {0, 0, -1, 3}, {0, 1, 0, 0}, {0, 1, 0, -2}, {-1, 0, 0, 1}, {-1, 0, 0, 0}};
  ASSERT_EQ(planes.size(), 6u);
  for (int k = 0; k < 6; ++k) EXPECT_EQ(planes[k], expected[k]) << k;

  TCornerArray c;
  box.GetCorners(c);
  EXPECT_EQ(c[0], box.Min);
  EXPECT_EQ(c[5], TPoint3D(1, 0, 3));
  EXPECT_EQ(c[7], box.Max);

  EXPECT_EQ(TAABB::Create(2, 4, 6).Max, TPoint3D(1, 2, 3));
  EXPECT_EQ(TAABB::CreateFromOrigin({1, 1, 1}, {2, 2, 2}, {0, 0, 1}).Max, TPoint3D(3, 3, 4));
  EXPECT_FLOAT_EQ(box.SurfaceArea(), 22);
  EXPECT_EQ(box.GetPosition(), TPoint3D(0.5f, 1, 1.5f));
  EXPECT_TRUE(box.Contains(TPoint3D(1, 2, 3)));
  EXPECT_FALSE(box.Contains(TPoint3D(1, 2, 3.01f)));
  EXPECT_TRUE(box.Contains(TAABB{{0, 0, 0}, {1, 1, 1}}));
  EXPECT_EQ(box.GetVertexP({1, -1, 0}), TPoint3D(1, 0, 3));
  EXPECT_EQ(box.GetVertexN({1, -1, 0}), TPoint3D(0, 2, 0));
  EXPECT_EQ(box.Inflate(1).Min, TPoint3D(-1, -1, -1));
  EXPECT_EQ(box.Combine({{-1, 5, 1}, {0, 6, 2}}).Max, TPoint3D(1, 6, 3));

  // Face-sharing boxes overlap.
  EXPECT_TRUE(AABBOverlap(kUnitBox, {{1, -1, -1}, {3, 1, 1}}));
  EXPECT_FALSE(AABBOverlap(kUnitBox, {{1.001f, -1, -1}, {3, 1, 1}}));

  TPoint3D pt;
  float dist;
  kUnitBox.GetClosestPointAndDistance({0, 0, 0.5f}, pt, dist);
  EXPECT_EQ(pt, TPoint3D(0, 0, 0));  // the centre, not the surface
  kUnitBox.GetClosestPointAndDistance({5, 5, 5}, pt, dist);
  EXPECT_EQ(pt, TPoint3D(1, 1, 1));
  kUnitBox.GetFarestPointAndDistance({5, 5, 5}, pt, dist);
  EXPECT_EQ(pt, TPoint3D(-1, -1, -1));
  EXPECT_NEAR(dist, std::sqrt(108.0f), 1e-4);
}

TEST(AABB, TransformsMoveOnlyMinAndMax) {
  TAABB box = kUnitBox;
  TMat3 rot;
  rot._Set({0, 0, 1}, 0.7f);
  box.Transform({1, 2, 3}, rot);  // the rotation has no effect
  EXPECT_EQ(box.Min, TPoint3D(0, 1, 2));
  EXPECT_EQ(box.GetSize(), TPoint3D(2, 2, 2));
  box = kUnitBox;
  box.Transform(TMatrix3D::CreateScaling({-1, 1, 1}));  // not re-sorted
  EXPECT_EQ(box.Min.X, 1);
  EXPECT_EQ(box.Max.X, -1);
}

TEST(BoundingBox, TransformBoundingBoxEnclosesTheTurnedCorners) {
  const TBoundingBox b = TransformBoundingBox({-1, -1, -1, 1, 1, 1}, TMatrix3D::CreateRotationZ(kGeometryPi / 4));
  EXPECT_NEAR(b.Left, -std::sqrt(2.0f), 1e-5);
  EXPECT_NEAR(b.Right, std::sqrt(2.0f), 1e-5);
  EXPECT_NEAR(b.Top, -std::sqrt(2.0f), 1e-5);
  EXPECT_NEAR(b.Bottom, std::sqrt(2.0f), 1e-5);
  EXPECT_NEAR(b.Far, 1, 1e-6);
  std::vector<TPoint3D> c;
  BoundingBoxCorners({0, 1, 2, 3, 4, 5}, c);
  ASSERT_EQ(c.size(), 8u);
  EXPECT_EQ(c[0], TPoint3D(0, 4, 2));
  EXPECT_EQ(c[2], TPoint3D(3, 1, 2));
  EXPECT_EQ(c[7], TPoint3D(0, 1, 5));
  // A mirror still gives a normalised box.
  const TBoundingBox m = TransformBoundingBox({0, 0, 0, 1, 2, 3}, TMatrix3D::CreateScaling({-1, 1, 1}));
  EXPECT_EQ(m, TBoundingBox(-1, 0, 0, 0, 2, 3));
}

TEST(OBB, ContainmentCornersEdgesAndClosestPoint) {
  TMat3 rot;
  rot._Set({0, 0, 1}, kGeometryPi / 4);
  const TOBB box = TOBB::Create({1, 2, 3}, {10, 0, 0}, rot);
  EXPECT_TRUE(box.Contains({10, 0, 3}));  // on a face
  EXPECT_FALSE(box.Contains({10, 0, 3.01f}));
  EXPECT_TRUE(box.Contains(TPoint3D(10, 0, 0) + rot.ex * 1.0f));
  EXPECT_FALSE(box.Contains(TPoint3D(10, 0, 0) + rot.ex * 1.01f));

  const TOBB unit = TOBB::Create({1, 1, 1}, {0, 0, 0}, kIdentity3);
  std::vector<TPoint3D> corners;
  unit.GetCorners(corners);
  ASSERT_EQ(corners.size(), 8u);
  EXPECT_EQ(corners[0], TPoint3D(1, 1, 1));
  EXPECT_EQ(corners[3], TPoint3D(1, 1, -1));
  EXPECT_EQ(corners[7], TPoint3D(-1, -1, 1));
  const std::vector<TEdge> edges = unit.GetEdges();
  ASSERT_EQ(edges.size(), 12u);
  for (const TEdge& e : edges) EXPECT_FLOAT_EQ((e.Stop - e.Start).Length(), 2);  // every edge is a box edge
  EXPECT_EQ(edges[0].Start, TPoint3D(-1, -1, -1));

  const TAABB aabb = box.GetAABB();
  EXPECT_NEAR(aabb.Max.X, 10 + 3 / std::sqrt(2.0f), 1e-5);
  EXPECT_NEAR(aabb.Max.Z, 3, 1e-6);
  ExpectPointNear(unit.ClosestPoint({5, 0.5f, -7}), {1, 0.5f, -1});
  EXPECT_EQ(unit.GetAxis(2), &unit.Orientation.ez);
  EXPECT_THROW(unit.GetAxis(3), EAssertionFailed);
  EXPECT_EQ(TOBB::Create(2, 4, 6).Size, TPoint3D(1, 2, 3));
}

TEST(OBB, RayCasts) {
  const TOBB unit = TOBB::Create({1, 1, 1}, {0, 0, 0}, kIdentity3);
  TRaycastResult res;
  EXPECT_FLOAT_EQ(unit.Raycast(Ray({0, 0, -5}, {0, 0, 1}), &res), 4);
  EXPECT_TRUE(res.Hit);
  ExpectPointNear(res.Point, {0, 0, -1});
  ExpectPointNear(res.Normal, {0, 0, 1});  // towards the centre
  EXPECT_FLOAT_EQ(unit.Raycast(Ray({0, 0, 0}, {0, 0, 1})), 1);
  EXPECT_FLOAT_EQ(unit.Raycast(Ray({0, 2, -5}, {0, 0, 1}), &res), -1);  // parallel to a slab, outside it
  EXPECT_FALSE(res.Hit);
  EXPECT_FLOAT_EQ(unit.Raycast(Ray({0, 0, 5}, {0, 0, 1})), -1);

  TMat3 rot;
  rot._Set({0, 1, 0}, kGeometryPi / 4);
  const TOBB turned = TOBB::Create({1, 1, 1}, {0, 0, 0}, rot);
  EXPECT_NEAR(turned.Raycast(Ray({-5, 0, 0}, {1, 0, 0})), 5 - std::sqrt(2.0f), 1e-5);
}

TEST(Segment, LineTests) {
  const TLine seg({0, 0, -5}, {0, 0, -2});
  EXPECT_FALSE(seg.AABBLinetest(kUnitBox));  // the hit at 4 lies beyond the segment
  EXPECT_TRUE(TLine({0, 0, -5}, {0, 0, 0}).AABBLinetest(kUnitBox));
  const TOBB unit = TOBB::Create({1, 1, 1}, {0, 0, 0}, kIdentity3);
  EXPECT_FALSE(seg.OBBLinetest(unit));
  TRaycastResult res;
  EXPECT_TRUE(TLine({0, 0, -5}, {0, 0, -1}).OBBLinetest(unit, &res));  // ends exactly on the face
  EXPECT_FLOAT_EQ(res.T, 4);
  const TTriangle tri({0, 0, 0}, {1, 0, 0}, {0, 1, 0});
  EXPECT_TRUE(TLine({0.25f, 0.25f, 1}, {0.25f, 0.25f, -1}).TriangleLinetest(&tri));
  EXPECT_FALSE(TLine({0.25f, 0.25f, 1}, {0.25f, 0.25f, 0.5f}).TriangleLinetest(&tri));

  const TLine l({0, 0, 0}, {2, 0, 0});
  EXPECT_EQ(l.ClosestPoint({1, 5, 0}), TPoint3D(1, 0, 0));
  EXPECT_EQ(l.ClosestPoint({-3, 1, 0}), TPoint3D(0, 0, 0));
  EXPECT_EQ(l.ClosestPoint({9, 1, 0}), TPoint3D(2, 0, 0));
  EXPECT_TRUE(l.Contains({1.5f, 0, 0}));
  EXPECT_FALSE(l.Contains({1.5f, 0.001f, 0}));
  EXPECT_TRUE(l.SphereLinetest({1, 1, 0}, 1));  // touching
  EXPECT_FALSE(l.SphereLinetest({1, 1.01f, 0}, 1));
  EXPECT_FLOAT_EQ(l.LengthSq(), 4);
  EXPECT_EQ(l.GetDirection(true), TPoint3D(-1, 0, 0));
  EXPECT_EQ(TLine(0).Stop, TPoint3D(0, 0, 0));
}

TEST(Plane, TwoConventions) {
  const TPlane p = TPlane::Create(TPoint3D(0, 0, 1), TPoint3D(1, 0, 1), TPoint3D(0, 1, 1));
  EXPECT_EQ(p.Normal, TPoint3D(0, 0, 1));
  EXPECT_FLOAT_EQ(p.Distance, -1);
  EXPECT_FLOAT_EQ(p.SignedDistance({0, 0, 3}), 2);
  EXPECT_FLOAT_EQ(TTriangle({0, 0, 1}, {1, 0, 1}, {0, 1, 1}).ToPlane().Distance, 1);

  const TPlane q = TPlane::Create(TPoint3D(0, 0, 2), TPoint3D(0, 0, 1));
  EXPECT_EQ(q.Normal, TPoint3D(0, 0, 1));
  EXPECT_FLOAT_EQ(q.Distance, -1);

  const TPlane z1 = TPlane::Create(TPoint3D(0, 0, 1), 1.0f);  // z = 1 in the N.x = D sense
  EXPECT_TRUE(z1.Contains({5, 5, -100}));                     // behind the plane
  EXPECT_TRUE(z1.Contains({5, 5, 1}));
  EXPECT_FALSE(z1.Contains({5, 5, 1.01f}));
  EXPECT_EQ(z1.ClosestPoint({3, 4, 9}), TPoint3D(3, 4, 1));
  EXPECT_FALSE(z1.IntersectsWith(TPlane::Create(TPoint3D(0, 0, -1), 0.0f)));
  EXPECT_TRUE(z1.IntersectsWith(TPlane::Create(TPoint3D(1, 0, 0), 0.0f)));
  EXPECT_TRUE(z1.IntersectsWith(kUnitBox));  // touching the top face
  EXPECT_FALSE(z1.IntersectsWith(TAABB{{-1, -1, -1}, {1, 1, 0.99f}}));
  EXPECT_TRUE(z1.IntersectsWith(TOBB::Create({1, 1, 1}, {0, 0, 0}, kIdentity3)));
  EXPECT_FALSE(z1.IntersectsWith(TOBB::Create({1, 1, 1}, {0, 0, -0.5f}, kIdentity3)));
  EXPECT_EQ(TPlane::Create(TVector3D(1, 2, 3, 4)).ToVector3D(), TVector3D(1, 2, 3, 4));

  TRaycastResult res;
  EXPECT_TRUE(z1.Raycast(Ray({0, 0, 5}, {0, 0, -2}), &res));  // against the normal: front face
  EXPECT_FLOAT_EQ(res.T, 2);
  EXPECT_EQ(res.Point, TPoint3D(0, 0, 1));
  EXPECT_FLOAT_EQ(z1.Raycast(Ray({0, 0, -5}, {0, 0, 1})), -1);  // along the normal
  EXPECT_FLOAT_EQ(z1.Raycast(Ray({0, 0, 0}, {0, 0, -1})), -1);  // plane behind
}

TEST(Triangle, RayCastsHitTheFrontFaceOnly) {
  const TTriangle tri({0, 0, 0}, {1, 0, 0}, {0, 1, 0});
  TRaycastResult res;
  ASSERT_TRUE(tri.Raycast(Ray({0.25f, 0.25f, 1}, {0, 0, -1}), &res));
  EXPECT_FLOAT_EQ(res.T, 1);
  EXPECT_EQ(res.Point, TPoint3D(0.25f, 0.25f, 0));
  EXPECT_EQ(res.Normal, TPoint3D(0, 0, 1));
  EXPECT_FALSE(tri.Raycast(Ray({0.25f, 0.25f, -1}, {0, 0, 1}), &res));  // back face
  EXPECT_FALSE(res.Hit);
  EXPECT_FLOAT_EQ(tri.Raycast(Ray({1, 1, 1}, {0, 0, -1})), -1);
  EXPECT_FLOAT_EQ(tri.Raycast(Ray({0.5f, 0.5f, 1}, {0, 0, -1})), 1);  // on the hypotenuse
  const TTriangle degenerate({0, 0, 0}, {1, 1, 1}, {2, 2, 2});
  EXPECT_FLOAT_EQ(degenerate.Raycast(Ray({0, 0, 1}, {0, 0, -1})), -1);
}

TEST(Triangle, PointsCentreBarycentricAndClosestPoints) {
  const TTriangle tri({0, 0, 0}, {1, 0, 0}, {0, 1, 0});
  ExpectPointNear(tri.Center(), {1.0f / 3, 1.0f / 3, 0});
  ExpectPointNear(tri.Barycentric(tri.A), {1, 0, 0});
  ExpectPointNear(tri.Barycentric(tri.Center()), {1.0f / 3, 1.0f / 3, 1.0f / 3});
  EXPECT_TRUE(tri.Contains({0.5f, 0, 0}));  // on an edge
  EXPECT_TRUE(tri.Contains({0, 1, 0}));     // a corner
  EXPECT_FALSE(tri.Contains({0.6f, 0.6f, 0}));
  // On the line through an edge but beyond it.
  EXPECT_FALSE(tri.Contains({2, -1, 0}));
  EXPECT_FALSE(tri.Contains({-1, 2, 0}));
  EXPECT_FALSE(tri.Contains({3, 0, 0}));
  EXPECT_FALSE(tri.Contains({0, -2, 0}));

  struct Case {
    TPoint3D P, Closest, Closest2;
  } cases[] = {
      {{2, -1, 0}, {1, 0, 0}, {1, 0, 0}},  // on the line through B and C, and as near to AB as to BC
      {{0.5f, -1, 0}, {0.5f, 0, 0}, {0.5f, 0, 0}},
      {{0.2f, 0.2f, 5}, {0.2f, 0.2f, 0}, {0.2f, 0.2f, 0}},
      {{1, 1, 0}, {0.5f, 0.5f, 0}, {0.5f, 0.5f, 0}},
      {{-1, -1, 0}, {0, 0, 0}, {0, 0, 0}},
      {{-1, 0.5f, 3}, {0, 0.5f, 0}, {0, 0.5f, 0}},
      {{0, 3, 0}, {0, 1, 0}, {0, 1, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.P.X << "," << c.P.Y << "," << c.P.Z);
    ExpectPointNear(tri.ClosestPoint(c.P), c.Closest);
    ExpectPointNear(tri.ClosestPoint2(c.P), c.Closest2);
  }

  EXPECT_EQ(tri.GetLine(1, true).Start, tri.C);
  EXPECT_EQ(tri.GetLine(3, false).Stop, TPoint3D(0, 0, 0));
  EXPECT_EQ(tri.ToAABB().Max, TPoint3D(1, 1, 0));
  TTriangle moved = tri;
  TMat3 rot;
  rot._Set({0, 0, 1}, kGeometryPi / 2);
  moved.Transform({0, 0, 5}, rot);  // rotation first, then translation
  ExpectPointNear(moved.B, {0, 1, 5});
  EXPECT_FLOAT_EQ(moved.Values(8), 5);
  EXPECT_EQ(&moved.Points(2), &moved.C);
  EXPECT_THROW(moved.Points(3), EArgumentOutOfRangeException);
}

TEST(Triangle, SeparatingAxisTestsCountTouching) {
  // A triangle lying in a face of the box.
  EXPECT_TRUE(TTriangle({-1, -1, 1}, {1, -1, 1}, {-1, 1, 1}).IntersectsWith(kUnitBox));
  // Touching the box only at one corner, and along one edge.
  EXPECT_TRUE(TTriangle({1, 1, 1}, {3, 1, 1}, {1, 3, 1}).IntersectsWith(kUnitBox));
  EXPECT_TRUE(TTriangle({1, -1, 1}, {1, 1, 1}, {3, 0, 3}).IntersectsWith(kUnitBox));
  EXPECT_FALSE(TTriangle({1.01f, 1, 1}, {3, 1, 1}, {1.01f, 3, 1}).IntersectsWith(kUnitBox));
  // Near a box edge: the world axes overlap, the normal axis separates.
  EXPECT_FALSE(TTriangle({2, 0.5f, -1}, {0.5f, 2, -1}, {0.5f, 2, 1}).IntersectsWith(kUnitBox));
  EXPECT_TRUE(TTriangle({1.5f, 0.5f, -1}, {0.5f, 1.5f, -1}, {0.5f, 1.5f, 1}).IntersectsWith(kUnitBox));

  TMat3 rot;
  rot._Set({0, 0, 1}, kGeometryPi / 4);
  const TOBB diamond = TOBB::Create({1, 1, 1}, {0, 0, 0}, rot);
  TCornerArray dc;
  diamond.GetCorners(dc);
  const TPoint3D tip = dc[5];  // (sqrt 2, 0, -1)
  EXPECT_TRUE(TTriangle(tip, tip + TPoint3D(2, -1, 0), tip + TPoint3D(2, 1, 2)).IntersectsWith(diamond));
  EXPECT_FALSE(TTriangle({tip.X + 0.01f, 0, -1}, {3, -1, -1}, {3, 1, 1}).IntersectsWith(diamond));
  EXPECT_TRUE(TTriangle({1.1f, 0, -1}, {3, -1, -1}, {3, 1, 1}).IntersectsWith(diamond));

  const TTriangle base({0, 0, 0}, {1, 0, 0}, {0, 1, 0});
  const TTriangle sharedEdge({0, 0, 0}, {1, 0, 0}, {0, 0, 1});
  const TTriangle apart({0, 0, 0.1f}, {1, 0, 0.1f}, {0, 1, 0.1f});
  const TTriangle crossing({0.2f, 0.2f, -1}, {0.3f, 0.2f, 1}, {0.2f, 0.3f, 1});
  EXPECT_TRUE(base.IntersectsWith(sharedEdge));
  EXPECT_FALSE(base.IntersectsWith(apart));
  EXPECT_TRUE(base.IntersectsWith(crossing));
  EXPECT_TRUE(base.IntersectsWithRobust(sharedEdge));
  EXPECT_FALSE(base.IntersectsWithRobust(apart));
  EXPECT_TRUE(base.IntersectsWithRobust(crossing));
  // Coplanar triangles: the plain test cannot separate them (all cross axes are the normal),
  // the robust one uses in-plane axes.
  const TTriangle coplanarApart({2, 2, 0}, {3, 2, 0}, {2, 3, 0});
  EXPECT_TRUE(base.IntersectsWith(coplanarApart));
  EXPECT_FALSE(base.IntersectsWithRobust(coplanarApart));
  EXPECT_EQ(TTriangle::SatCrossEdge({0, 0, 0}, {1, 0, 0}, {0, 0, 0}, {2, 0, 0}), TPoint3D(0, 0, 0));
  EXPECT_EQ(TTriangle::SatCrossEdge({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}).LengthSquared() > 0, true);
}

TEST(Triangle, EdgeCrossingsWithABoxAndATriangle) {
  const TOBB unit = TOBB::Create({1, 1, 1}, {0, 0, 0}, kIdentity3);
  std::vector<TRaycastResult> hits;
  // A big triangle in z = 0 cuts the four vertical box edges.
  const TTriangle big({-5, -5, 0}, {5, -5, 0}, {-5, 5, 0});
  EXPECT_TRUE(big.Raycast(unit, hits));
  // The hypotenuse enters the box once; the four vertical box edges cross the plane.
  EXPECT_EQ(hits.size(), 5u);
  for (const TRaycastResult& h : hits) EXPECT_NEAR(h.Point.Z, 0, 1e-6);
  const TTriangle far({10, 10, 10}, {11, 10, 10}, {10, 11, 10});
  EXPECT_FALSE(far.Raycast(unit, hits));
  EXPECT_TRUE(hits.empty());

  const TTriangle base({0, 0, 0}, {1, 0, 0}, {0, 1, 0});
  const TTriangle crossing({0.2f, 0.2f, -1}, {0.3f, 0.2f, 1}, {0.2f, 0.3f, 1});
  EXPECT_TRUE(base.Raycast(crossing, hits));
  EXPECT_EQ(hits.size(), 2u);
  for (const TRaycastResult& h : hits) EXPECT_NEAR(h.Point.Z, 0, 1e-6);
}

TEST(OBB, ToMeshDataHoldsTheCornersAndIndicesZeroToSeven) {
  // Local X along world +Y, local Y along world -X.
  const TOBB box = TOBB::Create({1, 2, 3}, {1, 2, 3}, TMat3({0, 1, 0}, {-1, 0, 0}, {0, 0, 1}));
  const std::unique_ptr<TMeshData> mesh(box.ToMeshData());
  ASSERT_NE(mesh, nullptr);
  const TVertexBuffer& vb = *mesh->GetVertexBuffer();
  const TIndexBuffer& ib = *mesh->GetIndexBuffer();
  ASSERT_EQ(vb.Length(), 8);
  ASSERT_EQ(ib.Length(), 8);
  TCornerArray corners;
  box.GetCorners(corners);
  for (int32_t k = 0; k < 8; ++k) {
    EXPECT_EQ(vb.GetVertices(k), corners[k]) << k;
    EXPECT_EQ(ib.GetIndices(k), uint32_t(k));
    EXPECT_EQ(vb.GetNormals(k), TPoint3D(0, 0, 0));
  }
  EXPECT_EQ(vb.GetVertices(0), TPoint3D(-1, 3, 6));  // (+, +, +)
  EXPECT_EQ(vb.GetVertices(4), TPoint3D(3, 1, 0));   // (-, -, -)
  EXPECT_EQ(vb.GetVertices(7), TPoint3D(3, 1, 6));   // (-, -, +)
  const TAABB aabb = box.GetAABB();
  const TBoundingBox bounds = mesh->GetBoundingBox();
  EXPECT_EQ(TAABB::FromBoundingBox(bounds).Min, aabb.Min);
  EXPECT_EQ(TAABB::FromBoundingBox(bounds).Max, aabb.Max);
}
