#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <set>
#include <utility>

#include "framework/gui3d/VertexBuffer.h"
#include "framework/rtl/Exceptions.h"
#include "lib/utils/ContextFrustum.h"
#include "tests/support/MathExpect.h"

using namespace quorvel;

namespace {

// Frustum points come out of a projection and its inverse: float error adds up.
constexpr float kTol = 1e-4f;

constexpr float kFrustumPi = std::numbers::pi_v<float>;

// A 45° camera with aspect 4:3 and planes 1-100, looking down -Z from the origin.
class Frustum45 : public ::testing::Test {
protected:
  const TMatrix3D Proj = TMatrix3D::CreatePerspectiveFovRH(45 * kFrustumPi / 180, 4.0f / 3, 1, 100);
  const TQuorvelFrustum F{Proj, TMatrix3D::Identity(), TPoint3D(0, 0, 0)};
  const float NearH = 2 * std::tan(22.5f * kFrustumPi / 180);
};

}  // namespace

TEST_F(Frustum45, ScalarsComeBackFromTheProjection) {
  EXPECT_NEAR(Proj.m33, -101.0f / 99, 1e-6);
  EXPECT_NEAR(Proj.m43, -200.0f / 99, 1e-6);
  EXPECT_NEAR(F.GetFOV(), 45, 1e-4);
  EXPECT_NEAR(F.GetRatio(), 4.0f / 3, 1e-6);
  EXPECT_NEAR(F.GetNearDistance(), 1, 1e-5);
  EXPECT_NEAR(F.GetFarDistance(), 100, 1e-2);
  EXPECT_NEAR(F.GetNearHeight(), 0.8284271f, 1e-5);
  EXPECT_NEAR(F.GetNearWidth(), F.GetNearHeight() * 4 / 3, 1e-5);
  ExpectPointNear(F.GetDirection(), {0, 0, -1}, kTol);
  ExpectPointNear(F.GetUp(), {0, -1, 0}, kTol);
  ExpectPointNear(F.GetRight(), {-1, 0, 0}, kTol);
}

TEST_F(Frustum45, CornersAndPlanes) {
  const float nw = NearH * 4 / 3;
  ExpectPointNear(F.GetCorner(4), {nw / 2, -NearH / 2, -1}, kTol);                 // near top left
  ExpectPointNear(F.GetCorner(7), {-nw / 2, NearH / 2, -1}, kTol);                 // near bottom right
  ExpectPointNear(F.GetCorner(0), {50 * nw, -50 * NearH, -100}, 2e-3f);      // far top left
  const TVector3D nearPlane = F.GetPlane(4), farPlane = F.GetPlane(5);
  EXPECT_NEAR(nearPlane.X, 0, 1e-6);
  EXPECT_NEAR(nearPlane.Z, -1, 1e-6);
  EXPECT_NEAR(nearPlane.W, -1, 1e-5);
  EXPECT_NEAR(farPlane.Z, 1, 1e-6);
  EXPECT_NEAR(farPlane.W, 100, 1e-2);
  // Every plane is a unit normal facing into the volume: the centre of the volume is inside.
  for (int k = 0; k < 6; ++k) {
    const TVector3D p = F.GetPlane(k);
    EXPECT_NEAR(std::sqrt(p.X * p.X + p.Y * p.Y + p.Z * p.Z), 1, 1e-5) << k;
    EXPECT_GT(p.X * 0 + p.Y * 0 + p.Z * -50 + p.W, 0) << k;
  }
  const TBoundingBox box = F.ToBoundingBox();
  EXPECT_NEAR(box.Near, -100, 1e-3);
  EXPECT_NEAR(box.Far, -1, 1e-5);
  EXPECT_NEAR(box.Right, 50 * nw, 2e-3);
}

TEST_F(Frustum45, PointsInsideAndOutside) {
  struct Case {
    TPoint3D P;
    bool Inside;
    int Plane;  // first failing plane, -1 when inside
  } cases[] = {
      {{0, 0, -50}, true, -1}, {{0, 20, -50}, true, -1},   {{0, 0, -0.5f}, false, 4},
      {{0, 0, -150}, false, 5}, {{0, 0, 50}, false, 0},    {{30, 0, -50}, false, 2},
      {{-30, 0, -50}, false, 3}, {{0, -25, -50}, false, 0}, {{0, 25, -50}, false, 1},
  };
  for (const Case& c : cases) {
    TVector3D plane;
    EXPECT_EQ(F.IsPointInFrustum(c.P), c.Inside) << c.P.X << "," << c.P.Y << "," << c.P.Z;
    EXPECT_EQ(F.IsPointInFrustum(c.P, plane), c.Inside);
    const TVector3D expected = c.Plane < 0 ? TVector3D(0, 0, 0, 0) : F.GetPlane(c.Plane);
    EXPECT_EQ(plane, expected) << c.P.X << "," << c.P.Y << "," << c.P.Z;
  }
  EXPECT_FALSE(F.IsPointInFrustum(F.GetCorner(4)));  // a point on a plane is outside
}

TEST_F(Frustum45, SpheresCubesAndBoxes) {
  EXPECT_TRUE(F.IsSphereInFrustum({0, 0, -0.5f}, 1));
  EXPECT_FALSE(F.IsSphereInFrustum({0, 0, -0.5f}, 0.4f));
  EXPECT_TRUE(F.IsCubeInFrustum({0, 0, -0.5f}, 0.6f));
  EXPECT_FALSE(F.IsCubeInFrustum({0, 0, -0.5f}, 0.4f));
  EXPECT_FALSE(F.IsCubeInFrustum({0, 0, 10}, 1));

  EXPECT_TRUE(F.IsAABBInFrustum({-1, -1, -11, 1, 1, -9}));     // inside
  EXPECT_FALSE(F.IsAABBInFrustum({-1, -1, 9, 1, 1, 11}));      // behind the camera
  EXPECT_FALSE(F.IsAABBInFrustum({-1, -1, -300, 1, 1, -200}));  // beyond the far plane
  // Straddles the top plane (0) while lying wholly beyond the right plane (3): still visible.
  EXPECT_TRUE(F.IsAABBInFrustum({-200, -1, -11, -199, 200, -9}));
  // Straddling the near plane but wholly outside the right plane: visible too.
  EXPECT_TRUE(F.IsAABBInFrustum({-50, -0.1f, -2, -40, 0.1f, 0}));
}

TEST(Frustum, ExplicitAxesAndMatrixForms) {
  // Looking along +X from (10, 0, 0) with the framework's axes.
  const TMatrix3D view = TMatrix3D::CreateLookAtRH({10, 0, 0}, {20, 0, 0}, {0, -1, 0});
  const TMatrix3D proj = TMatrix3D::CreatePerspectiveFovRH(60 * kFrustumPi / 180, 2, 0.5f, 50);
  TQuorvelFrustum f;
  f.Calculate(proj, view);
  ExpectPointNear(f.GetPosition(), {10, 0, 0}, kTol);
  ExpectPointNear(f.GetDirection(), {1, 0, 0}, kTol);
  EXPECT_NEAR(f.GetFOV(), 60, 1e-3);
  EXPECT_TRUE(f.IsPointInFrustum({30, 0, 0}));
  EXPECT_FALSE(f.IsPointInFrustum({5, 0, 0}));

  TPoint3D dir(1, 0, 0), up(0, -1, 0), right = up.CrossProduct(dir) * -1;  // Up = Right x Dir
  ExpectPointNear(right.CrossProduct(dir), up, kTol);
  const TQuorvelFrustum g(60, 2, 0.5f, 50, {10, 0, 0}, dir, up, right);
  for (int k = 0; k < 6; ++k) {
    const TVector3D a = g.GetPlane(k), b = f.GetPlane(k);
    EXPECT_NEAR(a.X, b.X, 1e-4) << k;
    EXPECT_NEAR(a.Y, b.Y, 1e-4) << k;
    EXPECT_NEAR(a.Z, b.Z, 1e-4) << k;
    EXPECT_NEAR(a.W, b.W, 5e-3) << k;
  }
  const TQuorvelFrustum h(proj, TPoint3D(10, 0, 0), dir, up, right);
  for (int k = 0; k < 8; ++k) ExpectPointNear(h.GetCorner(k), f.GetCorner(k), 1e-3f);

  // Degenerate axes give zero planes, which classify every point as outside.
  const TQuorvelFrustum z(45, 1, 1, 10, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0});
  EXPECT_FALSE(z.IsPointInFrustum({0, 0, 0}));

  TQuorvelFrustumType planes = {{0, 0, 2, 4}};
  TQuorvelFrustum::NormalizePlane(planes, 0);
  EXPECT_EQ(planes[0], TVector3D(0, 0, 1, 2));
}

namespace {

constexpr uint32_t kFrustumLines[48] = {0, 1, 1, 2, 2, 3, 3, 0, 4, 5, 5, 6, 6, 7, 7, 4, 1, 2, 2, 6, 6, 5, 5, 1,
                                        0, 3, 3, 7, 7, 4, 4, 0, 0, 1, 1, 5, 5, 4, 4, 0, 2, 3, 3, 7, 7, 6, 6, 2};
// Vertex i of the model is this corner of the frustum.
constexpr int32_t kModelCorners[8] = {4, 5, 7, 6, 0, 1, 3, 2};

}  // namespace

TEST_F(Frustum45, ToGeometryCreatesALineModel) {
  TVertexBuffer* vertices = nullptr;
  TIndexBuffer* indices = nullptr;
  F.ToGeometry(vertices, indices);
  const std::unique_ptr<TVertexBuffer> vb(vertices);
  const std::unique_ptr<TIndexBuffer> ib(indices);
  ASSERT_NE(vb, nullptr);
  ASSERT_NE(ib, nullptr);
  ASSERT_EQ(vb->Length(), 8);
  EXPECT_EQ(vb->Format(), TVertexFormats{TVertexFormat::Vertex});
  ASSERT_EQ(ib->Length(), 48);
  EXPECT_EQ(ib->Format(), TIndexFormat::UInt16);
  for (int32_t i = 0; i < 8; ++i) EXPECT_EQ(vb->GetVertices(i), F.GetCorner(kModelCorners[i])) << i;
  const float nw = NearH * 4 / 3;
  ExpectPointNear(vb->GetVertices(0), {nw / 2, -NearH / 2, -1}, kTol);  // near top left
  ExpectPointNear(vb->GetVertices(2), {-nw / 2, NearH / 2, -1}, kTol);  // near bottom right
  for (int32_t i = 0; i < 48; ++i) EXPECT_EQ(ib->GetIndices(i), kFrustumLines[i]) << i;

  // The segments cover exactly the frustum's twelve edges: each joins two corners that differ
  // in one of near/far, top/bottom, left/right.
  std::set<std::pair<uint32_t, uint32_t>> edges;
  for (int32_t s = 0; s < 24; ++s) {
    const uint32_t a = ib->GetIndices(2 * s), b = ib->GetIndices(2 * s + 1);
    edges.insert(std::minmax(a, b));
    const TPoint3D d = vb->GetVertices(int32_t(b)) - vb->GetVertices(int32_t(a));
    const int moved = (std::abs(d.X) > 1e-4f) + (std::abs(d.Y) > 1e-4f);
    EXPECT_TRUE(std::abs(d.Z) > 1 || moved == 1) << a << "-" << b;  // a depth edge, or one side of a rectangle
  }
  EXPECT_EQ(edges.size(), 12u);
}

TEST_F(Frustum45, ToGeometryOverwritesOnlyTheFrontOfGivenBuffers) {
  auto vb = std::make_unique<TVertexBuffer>(TVertexFormats{TVertexFormat::Vertex, TVertexFormat::Normal}, 10);
  auto ib = std::make_unique<TIndexBuffer>(60, TIndexFormat::UInt32);
  for (int32_t i = 0; i < 10; ++i) {
    vb->SetVertices(i, {7, 7, 7});
    vb->SetNormals(i, {0, 1, 0});
  }
  for (int32_t i = 0; i < 60; ++i) ib->SetIndices(i, 99);
  TVertexBuffer* vertices = vb.get();
  TIndexBuffer* indices = ib.get();
  F.ToGeometry(vertices, indices);
  EXPECT_EQ(vertices, vb.get());
  EXPECT_EQ(indices, ib.get());
  ASSERT_EQ(vb->Length(), 10);
  ASSERT_EQ(ib->Length(), 60);
  for (int32_t i = 0; i < 10; ++i) {
    EXPECT_EQ(vb->GetVertices(i), i < 8 ? F.GetCorner(kModelCorners[i]) : TPoint3D(7, 7, 7)) << i;
    EXPECT_EQ(vb->GetNormals(i), TPoint3D(0, 1, 0)) << i;
  }
  for (int32_t i = 0; i < 60; ++i) EXPECT_EQ(ib->GetIndices(i), i < 48 ? kFrustumLines[i] : 99u) << i;

  // Only one buffer given: the other is created.
  TIndexBuffer* created = nullptr;
  F.ToGeometry(vertices, created);
  const std::unique_ptr<TIndexBuffer> ownedIndices(created);
  ASSERT_NE(created, nullptr);
  EXPECT_EQ(created->Length(), 48);
}

TEST_F(Frustum45, ToGeometryRejectsBuffersTooSmallBeforeWriting) {
  TVertexBuffer big(TVertexFormats{TVertexFormat::Vertex}, 8);
  TIndexBuffer bigIndices(48);
  TVertexBuffer shortVertices(TVertexFormats{TVertexFormat::Vertex}, 7);
  TVertexBuffer noPositions(TVertexFormats{TVertexFormat::Normal}, 8);
  TIndexBuffer shortIndices(47);
  struct Case {
    TVertexBuffer* Vertices;
    TIndexBuffer* Indices;
  };
  for (const Case& c : {Case{&shortVertices, &bigIndices}, Case{&noPositions, &bigIndices}, Case{&big, &shortIndices},
                        Case{&shortVertices, nullptr}, Case{nullptr, &shortIndices}}) {
    TVertexBuffer* vertices = c.Vertices;
    TIndexBuffer* indices = c.Indices;
    EXPECT_THROW(F.ToGeometry(vertices, indices), EArgumentException);
    EXPECT_EQ(vertices, c.Vertices);  // nothing created that could leak
    EXPECT_EQ(indices, c.Indices);
  }
  // Neither the valid partner buffers were touched.
  for (int32_t i = 0; i < 8; ++i) EXPECT_EQ(big.GetVertices(i), TPoint3D(0, 0, 0));
  for (int32_t i = 0; i < 48; ++i) EXPECT_EQ(bigIndices.GetIndices(i), 0u);
}
