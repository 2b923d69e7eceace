#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "lib/defs/DefTypes.h"

namespace quorvel {
namespace {

using TFormat = TVertexFormat;

const TVertexFormats FullFormat{TFormat::Vertex, TFormat::Normal, TFormat::TexCoord0, TFormat::BiNormal,
                                TFormat::Tangent};

// A mesh with the given positions and triangle indices.
TOwned<TMeshDef> MakeNormalsMesh(const std::vector<TPoint3D>& APositions, const std::vector<uint32_t>& AIndices,
                          const TVertexFormats& AFormat = FullFormat) {
  TOwned<TMeshDef> mesh(New<TMeshDef>(nullptr));
  mesh->CreateVertexSource(AFormat);
  mesh->CreateIndexSource(TIndexFormat::UInt32);
  TVertexBuffer* vb = mesh->GetVertexSource();
  vb->SetLength(int32_t(APositions.size()));
  for (size_t i = 0; i < APositions.size(); ++i) vb->SetVertices(int32_t(i), APositions[i]);
  TIndexBuffer* ib = mesh->GetIndexSource();
  ib->SetLength(int32_t(AIndices.size()));
  for (size_t i = 0; i < AIndices.size(); ++i) ib->SetIndices(int32_t(i), AIndices[i]);
  return mesh;
}

void ExpectPoint(const TPoint3D& AActual, const TPoint3D& AExpected, const std::string& AWhat) {
  EXPECT_NEAR(AActual.X, AExpected.X, 1e-5f) << AWhat;
  EXPECT_NEAR(AActual.Y, AExpected.Y, 1e-5f) << AWhat;
  EXPECT_NEAR(AActual.Z, AExpected.Z, 1e-5f) << AWhat;
}

const float H = std::sqrt(0.5f);

TEST(MeshNormals, FaceNormalPointsOppositeToTheNormalFromPoints) {
  const TPoint3D a(0, 0, 0), b(1, 0, 0), c(0, 1, 0);
  auto mesh = MakeNormalsMesh({a, b, c}, {0, 1, 2});
  mesh->CalcFaceNormals(true, false);
  ASSERT_EQ(mesh->GetFaceNormals().size(), 1u);
  ExpectPoint(mesh->GetFaceNormals()[0], {0, 0, -1}, "face");
  for (int i = 0; i < 3; ++i) ExpectPoint(mesh->GetVertexSource()->GetNormals(i), {0, 0, -1}, "vertex");
  ExpectPoint(TMeshDef::GetNormalVectorFromPoints(a, b, c), {0, 0, 1}, "from points");

  // Degenerate: zero; without propagation the vertex normals stay.
  auto flat = MakeNormalsMesh({a, b, TPoint3D(2, 0, 0)}, {0, 1, 2});
  flat->GetVertexSource()->SetNormals(0, TPoint3D(9, 9, 9));
  flat->CalcFaceNormals(false, false);
  ExpectPoint(flat->GetFaceNormals()[0], {0, 0, 0}, "degenerate");
  ExpectPoint(flat->GetVertexSource()->GetNormals(0), {9, 9, 9}, "kept");
}

// Triangle A in the XY plane (face normal (0, 0, -1)) and a larger triangle B in the XZ plane
// (face normal (0, 1, 0)) sharing the edge 0-1 by index.
TEST(MeshNormals, FastestAveragesSharedIndicesWithEqualWeight) {
  auto mesh = MakeNormalsMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 5}}, {0, 1, 2, 0, 1, 3});
  mesh->CalcSmoothNormals(TMeshDefCalculateNormalMethod::cnmFastest, 0.001f, false);
  const TVertexBuffer* vb = mesh->GetVertexSource();
  ExpectPoint(vb->GetNormals(0), {0, H, -H}, "shared 0");
  ExpectPoint(vb->GetNormals(1), {0, H, -H}, "shared 1");
  ExpectPoint(vb->GetNormals(2), {0, 0, -1}, "only A");
  ExpectPoint(vb->GetNormals(3), {0, 1, 0}, "only B");
}

TEST(MeshNormals, DefaultWeldsByPositionAndFastestDoesNot) {
  // The same corner positions, split into separate vertices.
  const std::vector<TPoint3D> positions{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 0}, {1, 0, 0}, {0, 0, 5}};
  const std::vector<uint32_t> indices{0, 1, 2, 3, 4, 5};
  struct TCase {
    TMeshDefCalculateNormalMethod Method;
    float Weld;
    float Offset;  // moves vertex 3 away from vertex 0
    TPoint3D Expected0;
  };
  const TCase cases[] = {
      {TMeshDefCalculateNormalMethod::cnmDefault, 0.0f, 0.0f, {0, H, -H}},
      {TMeshDefCalculateNormalMethod::cnmDefault, 0.0f, 0.0005f, {0, 0, -1}},  // only exact positions at 0
      {TMeshDefCalculateNormalMethod::cnmDefault, 0.001f, 0.0005f, {0, H, -H}},
      {TMeshDefCalculateNormalMethod::cnmFastest, 0.001f, 0.0f, {0, 0, -1}},  // split vertices stay apart
  };
  for (const TCase& c : cases) {
    std::vector<TPoint3D> p = positions;
    p[3].X += c.Offset;
    auto mesh = MakeNormalsMesh(p, indices);
    mesh->CalcSmoothNormals(c.Method, c.Weld, false);
    ExpectPoint(mesh->GetVertexSource()->GetNormals(0), c.Expected0,
                "method " + std::to_string(int(c.Method)) + " weld " + std::to_string(c.Weld));
  }
}

TEST(MeshNormals, SlowestCountsEachDirectionOncePerVertex) {
  // Vertex 0 is the centre of six coplanar fan triangles (XY plane) and of one triangle in the
  // XZ plane.
  std::vector<TPoint3D> p{{0, 0, 0}};
  for (int i = 0; i < 7; ++i) {
    const float a = float(i) * 0.5f;
    p.emplace_back(std::cos(a), std::sin(a), 0.0f);
  }
  p.emplace_back(1, 0, 0);
  p.emplace_back(0, 0, 1);
  std::vector<uint32_t> idx;
  for (uint32_t i = 1; i <= 6; ++i) idx.insert(idx.end(), {0, i, i + 1});
  idx.insert(idx.end(), {0, 8, 9});

  auto slow = MakeNormalsMesh(p, idx);
  slow->CalcSmoothNormals(TMeshDefCalculateNormalMethod::cnmSlowest, 0.001f, false);
  const TPoint3D plane = slow->GetFaceNormals()[0];
  const TPoint3D perpendicular = slow->GetFaceNormals()[6];
  ExpectPoint(slow->GetVertexSource()->GetNormals(0), (plane + perpendicular).Normalize(), "slowest");

  auto fast = MakeNormalsMesh(p, idx);
  fast->CalcSmoothNormals(TMeshDefCalculateNormalMethod::cnmFastest, 0.001f, false);
  ExpectPoint(fast->GetVertexSource()->GetNormals(0), (plane * 6 + perpendicular).Normalize(), "fastest");
}

TEST(MeshNormals, TangentsAreRawPerTriangleValues) {
  const std::vector<TPoint3D> p{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  struct TCase {
    const char* Name;
    TVertexFormats Format;
    std::vector<TPointF> Uv;
    TPoint3D Tangent, Binormal;
  };
  const TCase cases[] = {
      {"unit", FullFormat, {{0, 0}, {1, 0}, {0, 1}}, {1, 0, 0}, {0, 1, 0}},
      {"degenerate", FullFormat, {{0.5f, 0.5f}, {0.5f, 0.5f}, {0.5f, 0.5f}}, {0, 0, 0}, {0, 0, 0}},
      {"no TexCoord0", TVertexFormats{TFormat::Vertex, TFormat::Normal, TFormat::BiNormal, TFormat::Tangent},
       {},
       {0, 0, 0},
       {0, 0, 0}},
  };
  for (const TCase& c : cases) {
    auto mesh = MakeNormalsMesh(p, {0, 1, 2}, c.Format);
    TVertexBuffer* vb = mesh->GetVertexSource();
    for (size_t i = 0; i < c.Uv.size(); ++i) vb->SetTexCoord0(int32_t(i), c.Uv[i]);
    for (int i = 0; i < 3; ++i) vb->SetTangents(i, TPoint3D(7, 7, 7));
    mesh->CalcTangentBinormals(false);
    for (int i = 0; i < 3; ++i) {
      ExpectPoint(vb->GetTangents(i), c.Tangent, c.Name);
      ExpectPoint(vb->GetBiNormals(i), c.Binormal, c.Name);
    }
  }
  // A format without Tangent: nothing is touched.
  auto plain = MakeNormalsMesh(p, {0, 1, 2}, TVertexFormats{TFormat::Vertex, TFormat::Normal, TFormat::BiNormal});
  plain->GetVertexSource()->SetBiNormals(0, TPoint3D(3, 3, 3));
  plain->CalcTangentBinormals(false);
  ExpectPoint(plain->GetVertexSource()->GetBiNormals(0), {3, 3, 3}, "untouched");
}

TEST(MeshNormals, SphericalTextureCoordinatesAroundTheBoxCentre) {
  auto mesh = MakeNormalsMesh({{3, 2, 1}, {2, 2, 1}, {2, 3, 1}}, {0, 1, 2});
  TVertexBuffer* vb = mesh->GetVertexSource();
  const TBoundingBox box(TPoint3D(1, 1, 0), TPoint3D(3, 3, 2));  // centre (2, 2, 1)
  TMeshDef::CalcTextureCoordinates(vb, box, 0, 2);
  EXPECT_EQ(vb->GetTexCoord0(0).X, 1.0f);
  EXPECT_EQ(vb->GetTexCoord0(0).Y, 0.5f);
  EXPECT_EQ(vb->GetTexCoord0(1).X, 0.5f);
  EXPECT_EQ(vb->GetTexCoord0(1).Y, 0.5f);
  EXPECT_EQ(vb->GetTexCoord0(2).Y, 1.0f);
  TMeshDef::CalcTextureCoordinates(vb, box, 2, 1);  // empty range: nothing
  EXPECT_THROW(TMeshDef::CalcTextureCoordinates(vb, box, 0, 3), EArgumentOutOfRangeException);
}

TEST(MeshNormals, PolygonsBecomeUnsharedFans) {
  TOwned<TMeshDef> mesh(New<TMeshDef>(nullptr));
  const T3DPolygon quad{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
  mesh->AddPolygon(quad);
  const TVertexBuffer* vb = mesh->GetVertexSource();
  const TIndexBuffer* ib = mesh->GetIndexSource();
  ASSERT_EQ(vb->Length(), 6);
  ASSERT_EQ(ib->Length(), 6);
  const int corners[6] = {0, 1, 2, 0, 2, 3};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(ib->GetIndices(i), uint32_t(i));
    ExpectPoint(vb->GetVertices(i), quad[size_t(corners[i])], "corner " + std::to_string(i));
    ExpectPoint(vb->GetNormals(i), {0, 0, 1}, "normal from points");
  }
  // Mapped around the new vertices' own box: the centre (0.5, 0.5, 0) maps to the middle.
  EXPECT_NEAR(vb->GetTexCoord0(0).X, 0.25f, 1e-6f);

  // Given coordinates and normals are taken; a 2D polygon lies at z = 0.
  mesh->AddPolygon(TPolygon{{0, 0}, {2, 0}, {0, 2}}, TPolygon{{0.1f, 0.2f}, {0.3f, 0.4f}, {0.5f, 0.6f}},
                   T3DPolygon{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}});
  ASSERT_EQ(vb->Length(), 9);
  EXPECT_EQ(ib->GetIndices(8), 8u);
  ExpectPoint(vb->GetVertices(7), {2, 0, 0}, "2D");
  EXPECT_EQ(vb->GetTexCoord0(8).Y, 0.6f);
  ExpectPoint(vb->GetNormals(7), {0, 1, 0}, "given normal");

  struct TCase {
    T3DPolygon Poly;
    TPolygon Tex;
    T3DPolygon Normals;
    const char* Message;
  };
  const TCase bad[] = {
      {{{0, 0, 0}, {1, 0, 0}}, {}, {}, "invalid polygon length - at least 3 vertices needed"},
      {quad, {{0, 0}, {1, 0}, {1, 1}}, {}, "invalid polygon texture coordinates length - number of texture coordinates not equal to number of vertices"},
      {quad, {}, {{0, 0, 1}, {0, 0, 1}}, "invalid polygon normals length - number of normals not equal to number of vertices"},
  };
  for (const TCase& c : bad) {
    try {
      mesh->AddPolygon(c.Poly, c.Tex, c.Normals);
      ADD_FAILURE() << c.Message;
    } catch (const Exception& e) {
      EXPECT_EQ(std::string(e.what()), c.Message);
    }
    EXPECT_EQ(vb->Length(), 9);  // nothing changed
    EXPECT_EQ(ib->Length(), 9);
  }
  try {
    mesh->AddPolygon(TPolygon{{0, 0}, {1, 1}});
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_EQ(std::string(e.what()), "invalid polygon length - at least 3 vertices needed");
  }
}

TEST(MeshNormals, APolygonThatSixteenBitIndicesCannotReachChangesNothing) {
  TOwned<TMeshDef> mesh(New<TMeshDef>(nullptr));
  mesh->CreateVertexSource(mesh->GetVertexFormat());
  mesh->CreateIndexSource(TIndexFormat::UInt16);
  TVertexBuffer* vb = mesh->GetVertexSource();
  TIndexBuffer* ib = mesh->GetIndexSource();
  vb->SetLength(65530);
  const T3DPolygon triangle{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  mesh->AddPolygon(triangle);
  mesh->AddPolygon(triangle);  // the last index is 65535
  ASSERT_EQ(vb->Length(), 65536);
  ASSERT_EQ(ib->Length(), 6);
  EXPECT_EQ(ib->GetIndices(5), 65535u);
  for (const T3DPolygon& poly : {triangle, T3DPolygon{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}}) {
    try {
      mesh->AddPolygon(poly);
      ADD_FAILURE() << "nothing raised";
    } catch (const Exception& e) {
      EXPECT_EQ(std::string(e.what()), "invalid polygon length - mesh buffers would exceed their limit");
    }
    EXPECT_EQ(vb->Length(), 65536);
    EXPECT_EQ(ib->Length(), 6);
  }
  // 32-bit indices go on.
  mesh->CreateIndexSource(TIndexFormat::UInt32);
  mesh->AddPolygon(triangle);
  EXPECT_EQ(mesh->GetIndexSource()->GetIndices(2), 65538u);
}

TEST(MeshNormals, SubMeshesFollowWhenAsked) {
  auto parent = MakeNormalsMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 1, 2});
  auto child = MakeNormalsMesh({{0, 0, 0}, {0, 1, 0}, {1, 0, 0}}, {0, 1, 2});
  TMeshDef* c = child.release();
  parent->AddMesh(c);
  parent->CalcSmoothNormals(TMeshDefCalculateNormalMethod::cnmFastest, 0.001f, false);
  ExpectPoint(c->GetVertexSource()->GetNormals(0), {0, 0, 0}, "not asked");
  parent->CalcSmoothNormals(TMeshDefCalculateNormalMethod::cnmFastest, 0.001f, true);
  ExpectPoint(c->GetVertexSource()->GetNormals(0), {0, 0, 1}, "asked");
  ExpectPoint(parent->GetVertexSource()->GetNormals(0), {0, 0, -1}, "own");
}

TEST(MeshNormals, AnIndexOutsideTheVerticesRaisesTheRangeError) {
  for (auto method : {TMeshDefCalculateNormalMethod::cnmDefault, TMeshDefCalculateNormalMethod::cnmFastest,
                      TMeshDefCalculateNormalMethod::cnmSlowest}) {
    auto mesh = MakeNormalsMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 1, 7});
    EXPECT_THROW(mesh->CalcSmoothNormals(method, 0.001f, false), EArgumentOutOfRangeException);
  }
  auto mesh = MakeNormalsMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 1, 0xFFFFFFFFu});
  EXPECT_THROW(mesh->CalcTangentBinormals(false), EArgumentOutOfRangeException);
}


TMatrix3D ScaleThenMove(const TPoint3D& AScale, const TPoint3D& AMove) {
  return TMatrix3D::CreateScaling(AScale) * TMatrix3D::CreateTranslation(AMove);
}

// A quad in the slanted plane x + y = 1.
TEST(MeshNormals, BakingKeepsNormalsPerpendicularAndTangentsAlongTheFace) {
  auto mesh = MakeNormalsMesh({{1, 0, 0}, {0, 1, 0}, {0, 1, 1}, {1, 0, 1}}, {0, 1, 2, 0, 2, 3});
  TVertexBuffer* vb = mesh->GetVertexSource();
  const TPointF uv[4] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  for (int i = 0; i < 4; ++i) {
    vb->SetTexCoord0(i, uv[i]);
    vb->SetNormals(i, TPoint3D(1, 1, 0).Normalize());
  }
  mesh->CalcTangentBinormals(false);
  mesh->ApplyTransformationMatrixToVertices(ScaleThenMove({2, 1, 1}, {5, -3, 2}), true);
  EXPECT_EQ(vb->GetVertices(0), TPoint3D(7, -3, 2));  // positions as before
  const TPoint3D p0 = vb->GetVertices(0), p1 = vb->GetVertices(1), p2 = vb->GetVertices(2);
  const TPoint3D face = TMeshDef::GetNormalVectorFromPoints(p0, p1, p2);
  for (int i = 0; i < 4; ++i) {
    const std::string at = "vertex " + std::to_string(i);
    EXPECT_NEAR(std::fabs(vb->GetNormals(i).DotProduct(face)), 1.0f, 1e-5f) << at;
    EXPECT_NEAR(vb->GetNormals(i).Length(), 1.0f, 1e-5f) << at;
    EXPECT_NEAR(vb->GetTangents(i).DotProduct(face), 0.0f, 1e-5f) << at;
    EXPECT_NEAR(vb->GetBiNormals(i).DotProduct(face), 0.0f, 1e-5f) << at;
    EXPECT_NEAR(vb->GetTangents(i).Length(), 1.0f, 1e-5f) << at;
  }
  ExpectPoint(vb->GetNormals(0), TPoint3D(0.5f, 1, 0).Normalize(), "normal");

  // A flattening matrix: the cofactors keep the one direction that survives, without NaN.
  auto flat = MakeNormalsMesh({{0, 0, 0}}, {});
  flat->GetVertexSource()->SetNormals(0, TPoint3D(0, 0, 1));
  flat->ApplyTransformationMatrixToVertices(TMatrix3D::CreateScaling({1, 1, 0}), true);
  ExpectPoint(flat->GetVertexSource()->GetNormals(0), {0, 0, 1}, "flattened");

  // The vertex cache bakes its normal source the same way.
  TVertexCache cache(0);
  cache.SetNormalSource({1, 1, 0}, ScaleThenMove({2, 1, 1}, {5, 5, 5}));
  ExpectPoint(cache.GetNormalSource()[0], TPoint3D(0.5f, 1, 0).Normalize(), "cache");
}

TEST(MeshNormals, RayHitNormalIsPerpendicularOnBothPaths) {
  const TMatrix3D meshMatrix = ScaleThenMove({2, 1, 1}, {0, 0, 3});
  const TPoint3D expected = TPoint3D(0.5f, 1, 0).Normalize();  // the plane x + y = 1 scaled
  for (bool bvh : {false, true}) {
    auto mesh = MakeNormalsMesh({{1, 0, 0}, {0, 1, 0}, {1, 0, 1}}, {0, 1, 2});
    if (bvh) mesh->AcquireBVH();
    TPoint3D hit, normal;
    ASSERT_TRUE(mesh->RayCastIntersect(TPoint3D(0, 0, 3.25f), TPoint3D(1, 0.5f, 0), meshMatrix,
                                       TMatrix3D::Identity(), hit, normal))
        << bvh;
    ExpectPoint(hit, {1, 0.5f, 3.25f}, bvh ? "bvh point" : "point");
    EXPECT_NEAR(std::fabs(normal.DotProduct(expected)), 1.0f, 1e-5f) << bvh;
    EXPECT_NEAR(normal.Length(), 1.0f, 1e-5f) << bvh;
  }
}

}  // namespace
}  // namespace quorvel
