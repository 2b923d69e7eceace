// TMeshData: face and smooth normals, tangents, ray cast, bounding box, Assign.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "framework/gui3d/Context3D.h"
#include "framework/gui3d/MeshData.h"
#include "framework/rtl/Exceptions.h"
#include "tests/support/MathExpect.h"

using namespace quorvel;

namespace {

constexpr float kMeshPi = std::numbers::pi_v<float>;

// Fills a mesh; triangles are turned where needed so that their face normal points away
// from the origin (the shapes below are star-shaped around it).
void Fill(TMeshData& mesh, const std::vector<TPoint3D>& points, std::vector<uint32_t> indices, bool outward = true) {
  if (outward)
    for (size_t t = 0; t + 2 < indices.size(); t += 3) {
      const TPoint3D& a = points[indices[t]];
      const TPoint3D& b = points[indices[t + 1]];
      const TPoint3D& c = points[indices[t + 2]];
      if ((b - a).CrossProduct(b - c).DotProduct(a + b + c) < 0) std::swap(indices[t + 1], indices[t + 2]);
    }
  TVertexBuffer* vb = mesh.GetVertexBuffer();
  vb->SetLength(static_cast<int32_t>(points.size()));
  for (size_t i = 0; i < points.size(); ++i) vb->SetVertices(static_cast<int32_t>(i), points[i]);
  TIndexBuffer* ib = mesh.GetIndexBuffer();
  ib->SetLength(static_cast<int32_t>(indices.size()));
  for (size_t i = 0; i < indices.size(); ++i) ib->SetIndices(static_cast<int32_t>(i), indices[i]);
  mesh.BoundingBoxNeedsUpdate();
}

// Unit cube around the origin, 8 shared corners.
void MakeCube(TMeshData& mesh) {
  std::vector<TPoint3D> p;
  for (int i = 0; i < 8; ++i) p.push_back({i & 1 ? 1.f : -1.f, i & 2 ? 1.f : -1.f, i & 4 ? 1.f : -1.f});
  const std::vector<uint32_t> quads = {0, 1, 3, 2, 4, 5, 7, 6, 0, 1, 5, 4, 2, 3, 7, 6, 0, 2, 6, 4, 1, 3, 7, 5};
  std::vector<uint32_t> idx;
  for (size_t q = 0; q < quads.size(); q += 4)
    for (uint32_t k : {quads[q], quads[q + 1], quads[q + 2], quads[q], quads[q + 2], quads[q + 3]}) idx.push_back(k);
  Fill(mesh, p, idx);
}

// UV sphere of radius 2 with a seam of duplicated vertices and one pole vertex per segment,
// as texture-mapped spheres are built.
void MakeSphere(TMeshData& mesh, int segments, int rings) {
  std::vector<TPoint3D> p;
  for (int r = 0; r <= rings; ++r)
    for (int s = 0; s <= segments; ++s) {
      const float theta = kMeshPi * float(r) / float(rings), phi = 2 * kMeshPi * float(s) / float(segments);
      p.push_back({2 * std::sin(theta) * std::cos(phi), 2 * std::cos(theta), 2 * std::sin(theta) * std::sin(phi)});
    }
  std::vector<uint32_t> idx;
  const auto at = [segments](int r, int s) { return uint32_t(r * (segments + 1) + s); };
  for (int r = 0; r < rings; ++r)
    for (int s = 0; s < segments; ++s) {
      if (r > 0) idx.insert(idx.end(), {at(r, s), at(r, s + 1), at(r + 1, s)});
      if (r < rings - 1) idx.insert(idx.end(), {at(r, s + 1), at(r + 1, s + 1), at(r + 1, s)});
    }
  Fill(mesh, p, idx);
}

// Counts the draws that reach the back end.
class TMdContext : public TContext3D {
  FW_CLASS_META(TMdContext, TContext3D, TContextClass)

public:
  using TContext3D::TContext3D;
  int Draws = 0;
  int32_t VertexCount = 0, IndexCount = 0;
  TPrimitivesKind Kind = TPrimitivesKind::Points;
  float Opacity = -1;

protected:
  void DoDrawPrimitivesBatch(TPrimitivesKind AKind, const void*, const void*, const TVertexDeclaration&, int32_t,
                             int32_t AVertexCount, int32_t, int32_t AIndexCount) override {
    ++Draws;
    Kind = AKind;
    VertexCount = AVertexCount;
    IndexCount = AIndexCount;
    Opacity = GetCurrentOpacity();
  }
};

struct TMdContextClass : TContextClassOf<TMdContext> {
  using TContextClassOf::TContextClassOf;
};

FW_CLASS_IMPL_META(TMdContext, "Quorvel.Test.MeshData", TMdContextClass)
FW_CLASS_NO_MEMBERS(TMdContext)

float AngleToRadial(const TPoint3D& normal, const TPoint3D& position) {
  return std::acos(std::clamp(normal.DotProduct(position.Normalize()), -1.0f, 1.0f)) * 180 / kMeshPi;
}

TEST(MeshData, FaceNormalsPointAgainstTheCornerOrderCrossProduct) {
  TMeshData mesh;
  Fill(mesh, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {5, 5, 5}}, {0, 1, 2, 0, 0, 0}, false);
  mesh.CalcFaceNormals(true);
  ASSERT_EQ(mesh.GetFaceNormals().size(), 2u);
  EXPECT_EQ(mesh.GetFaceNormals()[0], TPoint3D(0, 0, -1));
  EXPECT_EQ(mesh.GetFaceNormals()[1], TPoint3D(0, 0, 0));  // degenerate
  // The last triangle using a vertex wins; vertex 3 is used by none.
  EXPECT_EQ(mesh.GetVertexBuffer()->GetNormals(0), TPoint3D(0, 0, 0));
  EXPECT_EQ(mesh.GetVertexBuffer()->GetNormals(1), TPoint3D(0, 0, -1));
  EXPECT_EQ(mesh.GetVertexBuffer()->GetNormals(2), TPoint3D(0, 0, -1));
  EXPECT_EQ(mesh.GetVertexBuffer()->GetNormals(3), TPoint3D(0, 0, 0));
  // Without propagation only the face list changes.
  mesh.GetVertexBuffer()->SetNormals(1, {1, 2, 3});
  mesh.CalcFaceNormals(false);
  EXPECT_EQ(mesh.GetVertexBuffer()->GetNormals(1), TPoint3D(1, 2, 3));
}

TEST(MeshData, CubeCornersGetTheirDiagonalOnceEachFaceCountsOnce) {
  TMeshData mesh;
  MakeCube(mesh);
  mesh.CalcSmoothNormals(TCalculateNormalMethod::Slowest, 0.001f);
  for (int i = 0; i < 8; ++i) {
    const TPoint3D p = mesh.GetVertexBuffer()->GetVertices(i);
    ExpectPointNear(mesh.GetVertexBuffer()->GetNormals(i), p.Normalize());
  }
  // By index every triangle counts: the split of the faces tilts the corners, but they
  // still point out of the cube.
  mesh.CalcSmoothNormals(TCalculateNormalMethod::Fastest);
  for (int i = 0; i < 8; ++i) {
    const TPoint3D p = mesh.GetVertexBuffer()->GetVertices(i);
    const TPoint3D n = mesh.GetVertexBuffer()->GetNormals(i);
    EXPECT_NEAR(n.Length(), 1, 1e-5f);
    EXPECT_LT(AngleToRadial(n, p), 20);
  }
}

TEST(MeshData, SphereNormalsAreRadialAndWeldingMendsTheSeamAndPoles) {
  TMeshData mesh;
  MakeSphere(mesh, 48, 24);
  const TVertexBuffer& vb = *mesh.GetVertexBuffer();
  mesh.CalcSmoothNormals(TCalculateNormalMethod::Default, 0.001f);
  float worst = 0;
  for (int i = 0; i < vb.Length(); ++i) worst = std::max(worst, AngleToRadial(vb.GetNormals(i), vb.GetVertices(i)));
  EXPECT_LT(worst, 1.0f);
  // By index the seam's copies and the pole's copies see only their own side.
  mesh.CalcSmoothNormals(TCalculateNormalMethod::Fastest);
  float seam = 0, body = 0;
  for (int i = 0; i < vb.Length(); ++i) {
    const int s = i % 49, r = i / 49;
    const float a = AngleToRadial(vb.GetNormals(i), vb.GetVertices(i));
    if (s == 0 || s == 48 || r == 0 || r == 24)
      seam = std::max(seam, a);
    else
      body = std::max(body, a);
  }
  EXPECT_LT(body, 1.0f);
  EXPECT_GT(seam, 2.0f);
}

TEST(MeshData, SlowestCountsEachFaceDirectionOncePerVertex) {
  // Vertex 0 is shared by a fan of coplanar triangles (normal -Z) and one perpendicular one;
  // large fans take another lookup path.
  for (int fan : {6, 40}) {
  SCOPED_TRACE(fan);
  std::vector<TPoint3D> p = {{0, 0, 0}};
  std::vector<uint32_t> idx;
  for (int k = 0; k < fan; ++k) {
    const float a = float(k) * 2 * kMeshPi / float(fan), b = float(k + 1) * 2 * kMeshPi / float(fan);
    p.push_back({std::cos(a), std::sin(a), 0});
    p.push_back({std::cos(b), std::sin(b), 0});
    idx.insert(idx.end(), {0, uint32_t(p.size() - 2), uint32_t(p.size() - 1)});
  }
  p.push_back({0, 0, 1});
  p.push_back({1, 0, 1});
  idx.insert(idx.end(), {0, uint32_t(p.size() - 1), uint32_t(p.size() - 2)});
  TMeshData mesh;
  Fill(mesh, p, idx, false);
  mesh.CalcFaceNormals(false);
  const TPoint3D flat = mesh.GetFaceNormals()[0], side = mesh.GetFaceNormals()[size_t(fan)];
  EXPECT_NEAR(std::fabs(flat.Z), 1, 1e-6f);
  EXPECT_NEAR(std::fabs(side.Y), 1, 1e-6f);
  mesh.CalcSmoothNormals(TCalculateNormalMethod::Slowest, 0.001f);
  ExpectPointNear(mesh.GetVertexBuffer()->GetNormals(0), (flat + side).Normalize());
  mesh.CalcSmoothNormals(TCalculateNormalMethod::Fastest);
  ExpectPointNear(mesh.GetVertexBuffer()->GetNormals(0), (flat * float(fan) + side).Normalize());
  }
}

TEST(MeshData, DefaultWeldCountsOnlyCornersWithinTheDistance) {
  // Two triangles apart by 0.0005, facing -Z and +X.
  TMeshData mesh;
  Fill(mesh, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0.0005f, 0, 0}, {0.0005f, 1, 0}, {0.0005f, 0, 1}}, {0, 1, 2, 3, 4, 5},
       false);
  mesh.CalcFaceNormals(false);
  const TPoint3D f0 = mesh.GetFaceNormals()[0], f1 = mesh.GetFaceNormals()[1];
  mesh.CalcSmoothNormals(TCalculateNormalMethod::Default, 0.001f);
  ExpectPointNear(mesh.GetVertexBuffer()->GetNormals(0), (f0 + f1).Normalize());
  mesh.CalcSmoothNormals(TCalculateNormalMethod::Default, 0);
  ExpectPointNear(mesh.GetVertexBuffer()->GetNormals(0), f0);
  ExpectPointNear(mesh.GetVertexBuffer()->GetNormals(3), f1);
}

TEST(MeshData, TangentsFollowTextureCoordinatesPerTriangle) {
  TMeshData mesh;
  mesh.SetVertexBuffer(nullptr);
  TVertexBuffer full({TVertexFormat::Vertex, TVertexFormat::Normal, TVertexFormat::TexCoord0, TVertexFormat::BiNormal,
                      TVertexFormat::Tangent});
  mesh.SetVertexBuffer(&full);
  Fill(mesh, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {2, 0, 0}, {3, 0, 0}, {2, 1, 0}}, {0, 1, 2, 3, 4, 5}, false);
  TVertexBuffer& vb = *mesh.GetVertexBuffer();
  vb.SetTexCoord0(1, {1, 0});
  vb.SetTexCoord0(2, {0, 1});
  for (int i = 3; i < 6; ++i) vb.SetTexCoord0(i, {0.5f, 0.5f});  // degenerate mapping
  mesh.CalcTangentBinormals();
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(vb.GetTangents(i), TPoint3D(1, 0, 0));
    EXPECT_EQ(vb.GetBiNormals(i), TPoint3D(0, 1, 0));
  }
  for (int i = 3; i < 6; ++i) {
    EXPECT_EQ(vb.GetTangents(i), TPoint3D(0, 0, 0));
    EXPECT_EQ(vb.GetBiNormals(i), TPoint3D(0, 0, 0));
  }
  // Without tangent slots nothing happens.
  TMeshData plain;
  Fill(plain, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 1, 2}, false);
  EXPECT_NO_THROW(plain.CalcTangentBinormals());
}

TEST(MeshData, RayCastFindsTheNearestTriangleAheadFromEitherSide) {
  TMeshData mesh;
  // Two squares facing the Z axis, at z = 0 and z = 5.
  Fill(mesh,
       {{-1, -1, 0}, {1, -1, 0}, {1, 1, 0}, {-1, 1, 0}, {-1, -1, 5}, {1, -1, 5}, {1, 1, 5}, {-1, 1, 5}},
       {0, 1, 2, 0, 2, 3, 4, 5, 6, 4, 6, 7}, false);
  struct Case {
    TPoint3D Pos, Dir;
    bool Hit;
    TPoint3D Expected;
  };
  const Case cases[] = {
      {{0.5f, 0.25f, -10}, {0, 0, 1}, true, {0.5f, 0.25f, 0}},
      {{0.5f, 0.25f, 10}, {0, 0, -3}, true, {0.5f, 0.25f, 5}},   // back faces count, length of Dir does not
      {{0, 0, 2}, {0, 0, 1}, true, {0, 0, 5}},                   // behind the start does not count
      {{0, 0, 2}, {0, 0, -1}, true, {0, 0, 0}},
      {{3, 0, -10}, {0, 0, 1}, false, {}},
      {{0, 0, -10}, {1, 0, 0}, false, {}},                       // parallel
      {{0, 0, 7}, {0, 0, 1}, false, {}},
      {{0, 0, -10}, {0, 0, 0}, false, {}},
  };
  for (const Case& k : cases) {
    TPoint3D hit(-7, -7, -7);
    EXPECT_EQ(mesh.RayCastIntersect(k.Pos, k.Dir, hit), k.Hit);
    if (k.Hit) ExpectPointNear(hit, k.Expected);
  }
}

TEST(MeshData, IndicesOutsideTheVerticesRaiseInEveryTriangleReader) {
  TMeshData mesh;
  Fill(mesh, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 1, 2, 0, 1, 3}, false);
  EXPECT_THROW(mesh.CalcFaceNormals(), EArgumentOutOfRangeException);
  EXPECT_THROW(mesh.CalcSmoothNormals(TCalculateNormalMethod::Default), EArgumentOutOfRangeException);
  EXPECT_THROW(mesh.CalcSmoothNormals(TCalculateNormalMethod::Slowest), EArgumentOutOfRangeException);
  TPoint3D hit;
  EXPECT_THROW(mesh.RayCastIntersect({0.1f, 0.1f, -1}, {0, 0, 1}, hit), EArgumentOutOfRangeException);
  // Empty and partial triangles read nothing.
  mesh.GetIndexBuffer()->SetLength(2);
  EXPECT_NO_THROW(mesh.CalcSmoothNormals());
  EXPECT_FALSE(mesh.RayCastIntersect({0.1f, 0.1f, -1}, {0, 0, 1}, hit));
}

TEST(MeshData, NonFinitePositionsNeitherCrashNorSpreadIntoOtherNormals) {
  TMeshData mesh;
  const float nan = std::nanf("");
  Fill(mesh, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {nan, 0, 0}, {1e30f, 1e30f, 0}}, {0, 1, 2, 3, 4, 2}, false);
  for (auto method : {TCalculateNormalMethod::Default, TCalculateNormalMethod::Fastest, TCalculateNormalMethod::Slowest}) {
    mesh.CalcSmoothNormals(method, 1e-30f);
    EXPECT_EQ(mesh.GetVertexBuffer()->GetNormals(0), TPoint3D(0, 0, -1));
  }
  const TBoundingBox box = mesh.GetBoundingBox();
  EXPECT_EQ(box, TBoundingBox(0, 0, 0, 1e30f, 1e30f, 0));
}

TEST(MeshData, BoundingBoxFollowsChangesAndAssignCopiesBothBuffers) {
  TMeshData a;
  EXPECT_EQ(a.GetBoundingBox(), TBoundingBox::Empty());
  Fill(a, {{-1, 2, 3}, {4, -5, 6}, {0, 0, -7}}, {0, 1, 2}, false);
  EXPECT_EQ(a.GetBoundingBox(), TBoundingBox(-1, -5, -7, 4, 2, 6));
  TMeshData b;
  b.Assign(&a);
  EXPECT_EQ(b.GetVertexBuffer()->Length(), 3);
  EXPECT_EQ(b.GetIndexBuffer()->GetIndices(2), 2u);
  EXPECT_EQ(b.GetBoundingBox(), a.GetBoundingBox());
  b.GetVertexBuffer()->SetVertices(0, {-9, 0, 0});
  EXPECT_EQ(a.GetVertexBuffer()->GetVertices(0), TPoint3D(-1, 2, 3));  // a copy, not shared
  b.BoundingBoxNeedsUpdate();
  EXPECT_EQ(b.GetBoundingBox().Left, -9.0f);
  TPersistent other;
  EXPECT_THROW(b.Assign(&other), EConvertError);
  EXPECT_THROW(b.Assign(nullptr), EConvertError);
  b.Clear();
  EXPECT_EQ(b.GetVertexBuffer()->Length(), 0);
  EXPECT_EQ(b.GetBoundingBox(), TBoundingBox::Empty());
}

TEST(MeshData, RenderDrawsTheTrianglesOnlyWhenThereIsSomethingToDraw) {
  TOwned<TTexture> texture(New<TTexture>());
  texture->SetSize(8, 8);
  TOwned<TContext3D> owned(TMdContext::StaticMeta()->CreateFromTexture(texture.get(), TMultisample::None, true));
  auto* ctx = dynamic_cast<TMdContext*>(owned.get());
  ASSERT_NE(ctx, nullptr);
  TMeshData mesh;
  mesh.Render(ctx, nullptr, 1);  // empty
  mesh.Render(nullptr, nullptr, 1);
  EXPECT_EQ(ctx->Draws, 0);
  MakeCube(mesh);
  mesh.Render(ctx, nullptr, 0.25f);
  EXPECT_EQ(ctx->Draws, 1);
  EXPECT_EQ(ctx->Kind, TPrimitivesKind::Triangles);
  EXPECT_EQ(ctx->VertexCount, 8);
  EXPECT_EQ(ctx->IndexCount, 36);
  EXPECT_EQ(ctx->Opacity, 0.25f);
}

}  // namespace
