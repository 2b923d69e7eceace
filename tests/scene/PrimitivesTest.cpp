// The cube, plane and torus builders: counts, first vertices and indices, winding against the
// stored normals, clamps, and the hand-over of every build to the static definition.
#include <gtest/gtest.h>

#include <functional>

#include "lib/context/windows/ContextGLESWindows.h"
#include "lib/defs/DefTypesMesh.h"
#include "lib/scene/Cube.h"
#include "lib/scene/Plane.h"
#include "lib/scene/Torus.h"

namespace quorvel {
namespace {

TVertexBuffer* Vertices(TQuorvelMesh* m) { return m->GetMeshDef()->GetVertexSource(); }
TIndexBuffer* Indices(TQuorvelMesh* m) { return m->GetMeshDef()->GetIndexSource(); }

std::vector<uint32_t> FirstIndices(TQuorvelMesh* m, int n) {
  std::vector<uint32_t> r;
  for (int i = 0; i < n; ++i) r.push_back(Indices(m)->GetIndices(i));
  return r;
}

void ExpectPrimitiveNear(const TPoint3D& a, const TPoint3D& b, const std::string& what) {
  EXPECT_NEAR(a.X, b.X, 1e-5) << what;
  EXPECT_NEAR(a.Y, b.Y, 1e-5) << what;
  EXPECT_NEAR(a.Z, b.Z, 1e-5) << what;
}

// Every triangle with area: its right-hand normal points away from the stored normals.
void ExpectWoundAgainstNormals(TQuorvelMesh* m, const std::string& name) {
  const TVertexBuffer* vb = Vertices(m);
  const TIndexBuffer* ib = Indices(m);
  int checked = 0;
  for (int t = 0; t + 2 < ib->Length(); t += 3) {
    const uint32_t i0 = ib->GetIndices(t), i1 = ib->GetIndices(t + 1), i2 = ib->GetIndices(t + 2);
    const TPoint3D a = vb->GetVertices(int32_t(i0)), b = vb->GetVertices(int32_t(i1)), c = vb->GetVertices(int32_t(i2));
    const TPoint3D n = (b - a).CrossProduct(c - a);
    if (n.Length() < 1e-7f) continue;
    const TPoint3D stored = vb->GetNormals(int32_t(i0)) + vb->GetNormals(int32_t(i1)) + vb->GetNormals(int32_t(i2));
    ASSERT_LT(n.DotProduct(stored), 0) << name << " triangle " << t / 3;
    ++checked;
  }
  EXPECT_GT(checked, 0) << name;
}

// Builds go to the GPU through the shared context (made at once here, as the viewport does).
class Primitives : public ::testing::Test {
protected:
  void SetUp() override {
    TCustomContextWindows::SetWindowHandle(nullptr);
    TCustomContextWindows::CreateSharedContext();
  }
};

void ExpectHandedOver(TQuorvelMesh* m, const std::string& name) {
  EXPECT_EQ(m->GetMeshData()->GetVertexBuffer()->Length(), 0) << name;
  EXPECT_EQ(m->GetMeshData()->GetIndexBuffer()->Length(), 0) << name;
  EXPECT_TRUE(m->GetMeshDef()->GetIsStatic()) << name;
  EXPECT_TRUE(m->GetIsStatic()) << name;
}

TEST_F(Primitives, CountsAndFirstIndicesOfEachBuild) {
  struct Case {
    const char* Name;
    std::function<TQuorvelMesh*(TComponent*)> Make;
    int32_t Vertices, Indices;
    std::vector<uint32_t> First;
  } cases[] = {
      {"default cube", [](TComponent* o) { return New<TQuorvelCube>(o); }, 24, 36,
       {0, 2, 1, 0, 3, 2, 4, 6, 5, 4, 7, 6}},
      {"cube (2, 1, 3)",
       [](TComponent* o) {
         auto* c = New<TQuorvelCube>(o);
         c->SetSubdivisionsWidth(2);
         c->SetSubdivisionsDepth(3);
         return c;
       },
       88, 132, {0, 2, 1, 0, 3, 2}},
      {"default plane", [](TComponent* o) { return New<TQuorvelPlane>(o); }, 8, 12,
       {0, 1, 2, 2, 1, 3, 4, 6, 5, 6, 7, 5}},
      {"plane (3, 2)",
       [](TComponent* o) {
         auto* p = New<TQuorvelPlane>(o);
         p->SetSubdivisionsWidth(3);
         p->SetSubdivisionsHeight(2);
         return p;
       },
       24, 72, {0, 1, 4, 4, 1, 5}},
      {"default torus", [](TComponent* o) { return New<TQuorvelTorus>(o); }, 475, 2700, {}},
      {"torus (3 segments, 4 sides)",
       [](TComponent* o) {
         auto* t = New<TQuorvelTorus>(o);
         t->SetRadSegments(3);
         t->SetSides(4);
         return t;
       },
       20, 96, {}},
  };
  for (const Case& c : cases) {
    TOwned<TComponent> owner(New<TComponent>(nullptr));
    TQuorvelMesh* m = c.Make(owner.get());
    EXPECT_EQ(Vertices(m)->Length(), c.Vertices) << c.Name;
    EXPECT_EQ(Indices(m)->Length(), c.Indices) << c.Name;
    if (!c.First.empty()) {
      EXPECT_EQ(FirstIndices(m, int(c.First.size())), c.First) << c.Name;
    }
    ExpectHandedOver(m, c.Name);
    ExpectWoundAgainstNormals(m, c.Name);
  }
}

TEST_F(Primitives, CubeVerticesFacesAndRowOrder) {
  TOwned<TQuorvelCube> cube(New<TQuorvelCube>(nullptr));
  const TVertexBuffer* vb = Vertices(cube.get());
  ExpectPrimitiveNear(vb->GetVertices(0), {-0.5f, -0.5f, -0.5f}, "vertex 0");
  ExpectPrimitiveNear(vb->GetNormals(0), {0, -1, 0}, "normal 0");
  EXPECT_EQ(vb->GetColor0(0), claRed);
  EXPECT_EQ(vb->GetTexCoord0(0), TPointF(0, 1));
  // Faces in emission order: -Y, +Y, +Z, -Z, +X, -X.
  const TPoint3D normals[] = {{0, -1, 0}, {0, 1, 0}, {0, 0, 1}, {0, 0, -1}, {1, 0, 0}, {-1, 0, 0}};
  for (int f = 0; f < 6; ++f) ExpectPrimitiveNear(vb->GetNormals(4 * f), normals[f], "face " + std::to_string(f));
  // (2, 1, 3): two quads of -Y, two of +Y, then the next z row.
  cube->SetSubdivisionsWidth(2);
  cube->SetSubdivisionsDepth(3);
  vb = Vertices(cube.get());
  const float expectedY[] = {-0.5f, -0.5f, 0.5f, 0.5f, -0.5f, -0.5f};
  for (int q = 0; q < 6; ++q) EXPECT_EQ(vb->GetVertices(4 * q).Y, expectedY[q]) << "quad " << q;
  EXPECT_NEAR(vb->GetVertices(16).Z, -0.5f + 1.0f / 3, 1e-6);
}

TEST_F(Primitives, LargeCubeSubdivisionsFillTheBuffersExactly) {
  TOwned<TQuorvelCube> cube(New<TQuorvelCube>(nullptr));
  cube->SetSubdivisionsWidth(8321);
  const int64_t quads = 2 * 8321 + 2 * 1 + 2 * 8321;
  EXPECT_EQ(Vertices(cube.get())->Length(), 4 * quads);
  EXPECT_EQ(Indices(cube.get())->Length(), 6 * quads);
  // The last quad of the first row ends on the cube's edge, and the next face starts right
  // after it: no column was skipped or doubled.
  ExpectPrimitiveNear(Vertices(cube.get())->GetVertices(4 * 8320 + 1), {0.5f, -0.5f, -0.5f}, "end of the row");
  ExpectPrimitiveNear(Vertices(cube.get())->GetNormals(4 * 8321), {0, 1, 0}, "next face");
}

TEST_F(Primitives, PlaneAndTorusVertices) {
  TOwned<TQuorvelPlane> plane(New<TQuorvelPlane>(nullptr));
  ExpectPrimitiveNear(Vertices(plane.get())->GetVertices(3), {0.5f, 0.5f, 0}, "plane vertex 3");
  EXPECT_EQ(Vertices(plane.get())->GetTexCoord0(3), TPointF(1, 1));
  ExpectPrimitiveNear(Vertices(plane.get())->GetNormals(0), {0, 0, -1}, "front");
  ExpectPrimitiveNear(Vertices(plane.get())->GetNormals(4), {0, 0, 1}, "back");

  TOwned<TQuorvelTorus> torus(New<TQuorvelTorus>(nullptr));
  const TVertexBuffer* vb = Vertices(torus.get());
  ExpectPrimitiveNear(vb->GetVertices(0), {1.0f, 0.3f, 0}, "torus vertex 0");
  ExpectPrimitiveNear(vb->GetNormals(0), {0, 1, 0}, "torus normal 0");
  EXPECT_EQ(vb->GetTexCoord0(0), TPointF(0, 0));
  ExpectPrimitiveNear(vb->GetVertices(18), vb->GetVertices(0), "seam vertex 18");
  EXPECT_EQ(vb->GetTexCoord0(18), TPointF(1, 0));
  // A quarter of the ring: (R1 + R2 sin b) cos a, R2 cos b, (R1 + R2 sin b) sin a.
  ExpectPrimitiveNear(vb->GetVertices(6 * 19), {0, 0.3f, 1.0f}, "a quarter turn");
}

TEST_F(Primitives, ParametersClampAndEqualValuesDoNotRebuild) {
  TOwned<TQuorvelTorus> torus(New<TQuorvelTorus>(nullptr));
  torus->SetSides(2);
  EXPECT_EQ(torus->GetSides(), 3);
  torus->SetRadSegments(0);
  EXPECT_EQ(torus->GetRadSegments(), 1);
  torus->SetRadius2(-1);
  EXPECT_FLOAT_EQ(torus->GetRadius2(), 0.0001f);
  torus->SetRadius1(0);
  EXPECT_EQ(torus->GetRadius1(), 0);
  TOwned<TQuorvelCube> cube(New<TQuorvelCube>(nullptr));
  for (int32_t v : {0, -5}) {
    cube->SetSubdivisionsHeight(v);
    EXPECT_EQ(cube->GetSubdivisionsHeight(), 1);
  }
  TOwned<TQuorvelPlane> plane(New<TQuorvelPlane>(nullptr));
  plane->SetSubdivisionsWidth(-3);
  EXPECT_EQ(plane->GetSubdivisionsWidth(), 1);
  // The same value again: the definition keeps its buffer object (no new build).
  TMeshBufferObject* before = plane->GetMeshDef()->GetBufferObject();
  ASSERT_NE(before, nullptr);
  plane->SetSubdivisionsWidth(1);
  EXPECT_EQ(plane->GetMeshDef()->GetBufferObject(), before);
  // A size change does not rebuild either.
  cube->SetWidth(5);
  EXPECT_EQ(Vertices(cube.get())->Length(), 24);
  ExpectPrimitiveNear(Vertices(cube.get())->GetVertices(0), {-0.5f, -0.5f, -0.5f}, "unit space kept");
}

}  // namespace
}  // namespace quorvel
