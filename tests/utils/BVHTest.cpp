#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <numbers>
#include <random>
#include <sstream>
#include <thread>

#include "framework/gui3d/MeshData.h"
#include "framework/gui3d/VertexBuffer.h"
#include "framework/rtl/Exceptions.h"
#include "lib/utils/UtilsGeometry.h"

using namespace quorvel;

namespace {

constexpr float kPi = std::numbers::pi_v<float>;

struct Mesh {
  std::vector<TPoint3D> Vertices;
  std::vector<uint32_t> Indices;
};

// A UV sphere of 2 * stacks * slices triangles. The index order is clockwise seen from outside,
// so the geometry's reversed winding faces outwards.
Mesh Sphere(int stacks, int slices, float radius) {
  Mesh m;
  for (int i = 0; i <= stacks; ++i) {
    const float phi = kPi * float(i) / float(stacks);
    for (int j = 0; j <= slices; ++j) {
      const float theta = 2 * kPi * float(j) / float(slices);
      m.Vertices.push_back({radius * std::sin(phi) * std::cos(theta), radius * std::cos(phi),
                            radius * std::sin(phi) * std::sin(theta)});
    }
  }
  for (int i = 0; i < stacks; ++i)
    for (int j = 0; j < slices; ++j) {
      const uint32_t a = uint32_t(i * (slices + 1) + j), b = a + 1, c = a + uint32_t(slices + 1), d = c + 1;
      m.Indices.insert(m.Indices.end(), {a, c, b, b, c, d});
    }
  return m;
}

// A flat grid in y = 0 facing +Y after the reversal: every node box has zero height.
Mesh Grid(int n, float size) {
  Mesh m;
  for (int i = 0; i <= n; ++i)
    for (int j = 0; j <= n; ++j) m.Vertices.push_back({size * (float(i) / float(n) - 0.5f), 0, size * (float(j) / float(n) - 0.5f)});
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      const uint32_t a = uint32_t(i * (n + 1) + j), b = a + 1, c = a + uint32_t(n + 1), d = c + 1;
      m.Indices.insert(m.Indices.end(), {a, c, b, b, c, d});
    }
  return m;
}

struct BruteHit {
  bool Hit = false;
  float Distance = std::numeric_limits<float>::infinity();
  TRaycastResult Res;
};

BruteHit BruteForce(const TBVHGeometry& g, const TRaycastData& ray) {
  BruteHit best;
  TRaycastResult r;
  for (const TTriangle& t : g.Triangles)
    if (t.Raycast(ray, &r)) {
      const float d = r.Point.Distance(ray.Start);
      if (d < best.Distance) {
        best.Hit = true;
        best.Distance = d;
        best.Res = r;
      }
    }
  return best;
}

struct RayCheck {
  TRaycastData Ray;
  TRaycastResult Tree;
  bool TreeHit = false;
  BruteHit Brute;
};

// Casts every ray through the tree and through every triangle; both must give the same answer.
// Returns the number of hits.
int CompareRaysWithBruteForce(const TBVHGeometry& g, const std::vector<TRaycastData>& rays) {
  std::vector<RayCheck> checks(rays.size());
  for (size_t i = 0; i < rays.size(); ++i) checks[i].Ray = rays[i];
  // The brute force is the slow part: spread the rays over the cores.
  const size_t workers = std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 8);
  std::vector<std::thread> threads;
  for (size_t w = 0; w < workers; ++w)
    threads.emplace_back([&, w] {
      for (size_t i = w; i < checks.size(); i += workers) {
        RayCheck& c = checks[i];
        c.TreeHit = g.Raycast(c.Ray, c.Tree);
        c.Brute = BruteForce(g, c.Ray);
      }
    });
  for (std::thread& t : threads) t.join();

  int hits = 0;
  for (size_t i = 0; i < checks.size(); ++i) {
    const RayCheck& c = checks[i];
    const auto describe = [&] {
      std::ostringstream out;
      out << "ray " << i << " from (" << c.Ray.Start.X << ", " << c.Ray.Start.Y << ", " << c.Ray.Start.Z
          << ") along (" << c.Ray.Dir.X << ", " << c.Ray.Dir.Y << ", " << c.Ray.Dir.Z << ")";
      return out.str();
    };
    EXPECT_EQ(c.TreeHit, c.Brute.Hit) << describe();
    if (c.TreeHit != c.Brute.Hit) return -1;
    EXPECT_EQ(c.Tree.Hit, c.TreeHit);
    if (!c.TreeHit) continue;
    ++hits;
    EXPECT_NEAR(c.Tree.Point.Distance(c.Ray.Start), c.Brute.Distance, 1e-5f) << describe();
    EXPECT_NEAR(c.Tree.T, c.Brute.Res.T, 1e-5f) << describe();
    EXPECT_EQ(c.Tree.Normal, c.Brute.Res.Normal) << describe();
    if (::testing::Test::HasFailure()) return -1;
  }
  return hits;
}

void CompareWithBruteForce(const Mesh& mesh, float extent, uint32_t seed) {
  TBVHGeometry g = TBVHGeometry::Create(mesh.Vertices, mesh.Indices, TMatrix3D::Identity());
  BuildBVH(&g);
  ASSERT_NE(g.Accelerator, nullptr);
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> pos(-extent, extent), unit(-1, 1);
  std::vector<TRaycastData> rays(2000);
  for (size_t i = 0; i < rays.size(); ++i) {
    const TPoint3D start(pos(rng), pos(rng), pos(rng));
    // Half the rays aim near a random vertex so that many of them hit.
    const TPoint3D dir = (i % 2) ? TPoint3D(unit(rng), unit(rng), unit(rng))
                                 : mesh.Vertices[rng() % mesh.Vertices.size()] +
                                       TPoint3D(unit(rng), unit(rng), unit(rng)) * 0.05f - start;
    rays[i]._Set(start, dir, 1000);
  }
  EXPECT_GT(CompareRaysWithBruteForce(g, rays), int(rays.size()) / 5);
  FreeBVH(&g);
}

// The six faces of the cube [-size/2, size/2]^3, each an n x n grid.
Mesh Cube(int n, float size) {
  Mesh m;
  const float h = size / 2;
  for (int axis = 0; axis < 3; ++axis)
    for (float side : {-h, h}) {
      const uint32_t base = uint32_t(m.Vertices.size());
      for (int i = 0; i <= n; ++i)
        for (int j = 0; j <= n; ++j) {
          const float u = size * float(i) / float(n) - h, v = size * float(j) / float(n) - h;
          m.Vertices.push_back(axis == 0 ? TPoint3D(side, u, v) : axis == 1 ? TPoint3D(u, side, v) : TPoint3D(u, v, side));
        }
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
          const uint32_t a = base + uint32_t(i * (n + 1) + j), b = a + 1, c = a + uint32_t(n + 1), d = c + 1;
          // Outward everywhere: the winding flips with the side, and with the axis pair's handedness.
          if ((side > 0) == (axis == 1)) m.Indices.insert(m.Indices.end(), {a, c, b, b, c, d});
          else m.Indices.insert(m.Indices.end(), {a, b, c, b, d, c});
        }
    }
  return m;
}

float Coord(const TPoint3D& p, int a) { return a == 0 ? p.X : a == 1 ? p.Y : p.Z; }

// Every distinct coordinate of every node box along each axis: the planes a boundary ray lies on.
std::array<std::vector<float>, 3> BoxPlanes(const TBVHNode& root) {
  std::array<std::vector<float>, 3> planes;
  auto walk = [&](auto&& self, const TBVHNode& n) -> void {
    for (int a = 0; a < 3; ++a) {
      planes[size_t(a)].push_back(Coord(n.Bounds.Min, a));
      planes[size_t(a)].push_back(Coord(n.Bounds.Max, a));
    }
    for (const TBVHNode& c : n.Children) self(self, c);
  };
  walk(walk, root);
  for (std::vector<float>& p : planes) {
    std::sort(p.begin(), p.end());
    p.erase(std::unique(p.begin(), p.end()), p.end());
  }
  return planes;
}

}  // namespace

TEST(BVH, SphereRayCastsMatchBruteForce) {
  const Mesh sphere = Sphere(50, 100, 1);  // 10 000 triangles
  ASSERT_EQ(sphere.Indices.size() / 3, 10000u);
  CompareWithBruteForce(sphere, 2, 1234);
}

TEST(BVH, FlatGridRayCastsMatchBruteForce) {
  CompareWithBruteForce(Grid(70, 4), 3, 99);  // 9 800 triangles, zero-height boxes
}

// Rays parallel to an axis whose fixed coordinates lie exactly on node box faces (a box's upper
// face included), on the mesh's own vertex coordinates, or anywhere: the tree must give the
// brute-force answer, whichever way the ray runs and wherever it starts.
TEST(BVH, AxisAlignedAndBoundaryRaysMatchBruteForce) {
  const struct {
    const char* Name;
    Mesh Shape;
    float Extent;
  } meshes[] = {
      {"grid", Grid(40, 4), 3},   // 3 200 triangles in y = 0
      {"cube", Cube(16, 2), 2},   // 3 072 triangles on the faces of [-1, 1]^3
  };
  for (const auto& m : meshes) {
    SCOPED_TRACE(m.Name);
    TBVHGeometry g = TBVHGeometry::Create(m.Shape.Vertices, m.Shape.Indices, TMatrix3D::Identity());
    BuildBVH(&g);
    ASSERT_NE(g.Accelerator, nullptr);
    const std::array<std::vector<float>, 3> planes = BoxPlanes(*g.Accelerator);
    std::mt19937 rng(2024);
    std::uniform_real_distribution<float> pos(-m.Extent, m.Extent);
    std::vector<TRaycastData> rays;
    for (int i = 0; i < 2000; ++i) {
      const int axis = i % 3;
      const float sign = (i / 3) % 2 ? 1.0f : -1.0f;
      float c[3];
      for (int a = 0; a < 3; ++a) {
        if (a == axis) {
          // Mostly from outside towards the mesh, sometimes from inside it.
          c[a] = (i % 7 == 0) ? pos(rng) : -sign * (m.Extent + 1);
          continue;
        }
        const std::vector<float>& p = planes[size_t(a)];
        switch (rng() % 4) {
          case 0: c[a] = pos(rng); break;
          case 1: c[a] = Coord(m.Shape.Vertices[rng() % m.Shape.Vertices.size()], a); break;
          default: c[a] = p[rng() % p.size()]; break;  // a box face, upper ones included
        }
      }
      TPoint3D dir(0, 0, 0);
      (axis == 0 ? dir.X : axis == 1 ? dir.Y : dir.Z) = sign;
      TRaycastData ray;
      ray._Set({c[0], c[1], c[2]}, dir, 1000);
      rays.push_back(ray);
    }
    EXPECT_GT(CompareRaysWithBruteForce(g, rays), int(rays.size()) / 10);
  }
}

// Hand-picked rays along the edges and faces of the tree's boxes.
TEST(BVH, RaysOnTheRootBoxFacesHitWhatTheTrianglesHold) {
  const Mesh grid = Grid(8, 8);  // cells of 1 x 1 in y = 0, x and z in [-4, 4]
  TBVHGeometry g = TBVHGeometry::Create(grid.Vertices, grid.Indices, TMatrix3D::Identity());
  BuildBVH(&g);
  const Mesh cube = Cube(4, 2);
  TBVHGeometry c = TBVHGeometry::Create(cube.Vertices, cube.Indices, TMatrix3D::Identity());
  BuildBVH(&c);
  const struct {
    const char* Name;
    const TBVHGeometry* Geometry;
    TPoint3D Start, Dir;
    bool Hit;
    float T;
  } cases[] = {
      {"grid: down onto the upper x edge", &g, {4, 5, 0.5f}, {0, -1, 0}, true, 5},
      {"grid: down onto the upper corner", &g, {4, 5, 4}, {0, -1, 0}, true, 5},
      {"grid: down onto the lower corner", &g, {-4, 5, -4}, {0, -1, 0}, true, 5},
      {"grid: down onto an inner cell edge", &g, {0, 5, 1}, {0, -1, 0}, true, 5},
      {"grid: down just past the edge", &g, {4.001f, 5, 0}, {0, -1, 0}, false, 0},
      {"grid: from below, a back face", &g, {4, -5, 0}, {0, 1, 0}, false, 0},
      {"cube: along -x in the upper y face's plane", &c, {5, 1, 0.3f}, {-1, 0, 0}, true, 4},
      {"cube: along -x on the upper y, upper z edge", &c, {5, 1, 1}, {-1, 0, 0}, true, 4},
      {"cube: along -x just above the upper y face", &c, {5, 1.001f, 0.3f}, {-1, 0, 0}, false, 0},
      {"cube: along -y onto the upper x face's edge", &c, {1, 5, 0.5f}, {0, -1, 0}, true, 4},
      {"cube: along -z onto the upper corner", &c, {1, 1, 5}, {0, 0, -1}, true, 4},
      {"cube: along +x onto the lower face at the upper y edge", &c, {-5, 1, 0}, {1, 0, 0}, true, 4},
      {"cube: along -y through the middle", &c, {0, 5, 0}, {0, -1, 0}, true, 4},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.Name);
    TRaycastData ray;
    ray._Set(k.Start, k.Dir, 1000);
    TRaycastResult res;
    const BruteHit brute = BruteForce(*k.Geometry, ray);
    EXPECT_EQ(brute.Hit, k.Hit);  // the case itself is right
    EXPECT_EQ(k.Geometry->Raycast(ray, res), k.Hit);
    EXPECT_EQ(res.Hit, k.Hit);
    if (k.Hit && res.Hit) {
      EXPECT_FLOAT_EQ(res.T, k.T);
      EXPECT_EQ(res.Normal, brute.Res.Normal);
    }
  }
}

TEST(BVH, GeometryReversesTheWindingAndSkipsIncompleteTriples) {
  const std::vector<TPoint3D> v = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
  const std::vector<uint32_t> idx = {0, 1, 2, 0, 2, 3, 1};
  const TBVHGeometry g = TBVHGeometry::Create(v, idx, TMatrix3D::CreateTranslation({0, 0, 5}));
  ASSERT_EQ(g.NumTriangles, 2);
  EXPECT_EQ(g.Triangles[0].A, TPoint3D(1, 1, 5));
  EXPECT_EQ(g.Triangles[0].B, TPoint3D(1, 0, 5));
  EXPECT_EQ(g.Triangles[0].C, TPoint3D(0, 0, 5));
  EXPECT_EQ(g.Accelerator, nullptr);
  const std::vector<uint16_t> idx16 = {3, 2, 0};
  EXPECT_EQ(TBVHGeometry::Create(v, idx16, TMatrix3D::Identity()).Triangles[0].A, TPoint3D(0, 0, 0));

  const std::vector<uint32_t> two = {0, 1};
  TBVHGeometry empty = TBVHGeometry::Create(v, two, TMatrix3D::Identity());
  EXPECT_EQ(empty.NumTriangles, 0);
  EXPECT_EQ(TBVHGeometry::Create({}, idx, TMatrix3D::Identity()).NumTriangles, 0);
  BuildBVH(&empty);
  EXPECT_EQ(empty.Accelerator, nullptr);
  TRaycastResult res;
  res.T = 5;
  res.Hit = true;
  TRaycastData ray;
  ray._Set({0, 0, 1}, {0, 0, -1}, 1000);
  EXPECT_FALSE(empty.Raycast(ray, res));
  EXPECT_FALSE(res.Hit);
  EXPECT_EQ(res.T, 0);
  BuildBVH(nullptr);
  FreeBVH(nullptr);

  const std::vector<uint32_t> bad = {0, 1, 4};
  EXPECT_THROW(TBVHGeometry::Create(v, bad, TMatrix3D::Identity()), EArgumentOutOfRangeException);
}

TEST(BVH, SingleTriangleTreeShape) {
  const std::vector<TPoint3D> v = {{0, 0, 0}, {1, 0, 0}, {0, 1, 1}};
  const std::vector<uint32_t> idx = {0, 1, 2};
  TBVHGeometry g = TBVHGeometry::Create(v, idx, TMatrix3D::Identity());
  BuildBVH(&g);
  ASSERT_NE(g.Accelerator, nullptr);
  const TBVHNode& root = *g.Accelerator;
  ASSERT_EQ(root.Children.size(), 8u);
  EXPECT_EQ(root.NumTriangles, 0);
  EXPECT_TRUE(root.Triangles.empty());
  int leaves = 0, maxDepth = 0;
  auto walk = [&](auto&& self, const TBVHNode& n, int depth) -> void {
    EXPECT_EQ(n.Geometry, &g);
    maxDepth = std::max(maxDepth, depth);
    if (n.Children.empty()) {
      ++leaves;
      for (int i : n.Triangles) EXPECT_EQ(i, 0);
      return;
    }
    EXPECT_EQ(n.Children.size(), 8u);
    EXPECT_TRUE(n.Triangles.empty());
    for (const TBVHNode& c : n.Children) self(self, c, depth + 1);
  };
  walk(walk, root, 1);
  EXPECT_LE(maxDepth, 4);
  EXPECT_LE(leaves, 512);
  // Octant order: child 0 is (-X, +Y, -Z), child 7 is (+X, -Y, +Z).
  EXPECT_EQ(root.Children[0].Bounds.Min, TPoint3D(0, 0.5f, 0));
  EXPECT_EQ(root.Children[7].Bounds.Max, TPoint3D(1, 0.5f, 1));
  BuildBVH(&g);  // already built: nothing happens
  EXPECT_EQ(g.Accelerator, &root);
}

TEST(BVH, NearestOfTwoCrossedTrianglesWhateverTheirOrder) {
  // Two parallel squares at z = 1 and z = 3 facing +Z after the reversal.
  const std::vector<TPoint3D> v = {{-1, -1, 1}, {1, -1, 1}, {1, 1, 1}, {-1, -1, 3}, {1, -1, 3}, {1, 1, 3}};
  for (bool nearFirst : {true, false}) {
    const std::vector<uint32_t> idx = nearFirst ? std::vector<uint32_t>{2, 1, 0, 5, 4, 3}
                                                : std::vector<uint32_t>{5, 4, 3, 2, 1, 0};
    TBVHGeometry g = TBVHGeometry::Create(v, idx, TMatrix3D::Identity());
    BuildBVH(&g);
    TRaycastData ray;
    ray._Set({0.5f, -0.5f, 10}, {0, 0, -1}, 1000);
    TRaycastResult res;
    ASSERT_TRUE(g.Raycast(ray, res));
    EXPECT_FLOAT_EQ(res.T, 7);
    EXPECT_EQ(res.Point, TPoint3D(0.5f, -0.5f, 3));
    EXPECT_EQ(res.Normal, TPoint3D(0, 0, 1));
    // Hits the root box but no triangle: False, with the box hit kept.
    ray._Set({-0.5f, 0.5f, 10}, {0, 0, -1}, 1000);
    EXPECT_FALSE(g.Raycast(ray, res));
    EXPECT_FALSE(res.Hit);
    EXPECT_FLOAT_EQ(res.T, 7);
    // Back faces are not hit.
    ray._Set({0.5f, -0.5f, -10}, {0, 0, 1}, 1000);
    EXPECT_FALSE(g.Raycast(ray, res));
  }
}

TEST(BVH, BoxQueryFindsATouchingTriangle) {
  const Mesh grid = Grid(8, 8);  // cells of 1 x 1 in y = 0
  TBVHGeometry g = TBVHGeometry::Create(grid.Vertices, grid.Indices, TMatrix3D::Identity());
  BuildBVH(&g);
  struct Case {
    TAABB Box;
    bool Touches;
  } cases[] = {
      {{{0.2f, 0, 0.2f}, {0.4f, 1, 0.4f}}, true},        // resting on the grid
      {{{0.2f, -1, 0.2f}, {0.4f, 0, 0.4f}}, true},       // touching from below
      {{{0.2f, 0.001f, 0.2f}, {0.4f, 1, 0.4f}}, false},  // just above
      {{{4, -1, -1}, {5, 1, 1}}, true},                   // touching the grid's edge only
      {{{4.001f, -1, -1}, {5, 1, 1}}, false},
  };
  for (const Case& c : cases) {
    PBVHNode node = nullptr;
    EXPECT_EQ(g.IntersectsWith(c.Box, node), c.Touches) << c.Box.Min.X << "," << c.Box.Min.Y;
    if (c.Touches) {
      ASSERT_NE(node, nullptr);
      bool holdsTouching = false;
      for (int i : node->Triangles) holdsTouching |= g.Triangles[i].IntersectsWith(c.Box);
      EXPECT_TRUE(holdsTouching);
      EXPECT_TRUE(node->Children.empty());
    } else {
      EXPECT_EQ(node, nullptr);
    }
  }
  // Without a tree every triangle is tried and no node is reported.
  FreeBVH(&g);
  PBVHNode node = reinterpret_cast<PBVHNode>(&g);
  EXPECT_TRUE(g.IntersectsWith(cases[0].Box, node));
  EXPECT_EQ(node, nullptr);
  EXPECT_FALSE(g.IntersectsWith(cases[2].Box));
}

TEST(BVH, NodeBoxQueryDescendsIntoTheFirstOverlappingChild) {
  const std::vector<TPoint3D> v = {{0, 0, 0}, {4, 0, 0}, {0, 4, 4}};
  const std::vector<uint32_t> idx = {0, 1, 2};
  TBVHGeometry g = TBVHGeometry::Create(v, idx, TMatrix3D::Identity());
  BuildBVH(&g);
  PBVHNode node = nullptr;
  EXPECT_FALSE(g.Accelerator->IntersectsWith(TAABB{{5, 5, 5}, {6, 6, 6}}, node));
  EXPECT_EQ(node, nullptr);
  ASSERT_TRUE(g.Accelerator->IntersectsWith(TAABB{{3.6f, 3.6f, 3.6f}, {3.9f, 3.9f, 3.9f}}, node));
  ASSERT_NE(node, nullptr);
  EXPECT_TRUE(node->Children.empty());
  EXPECT_TRUE(node->Bounds.Contains(TPoint3D(3.7f, 3.7f, 3.7f)));
  EXPECT_TRUE(g.Accelerator->IntersectsWith(TAABB{{3.6f, 3.6f, 3.6f}, {9, 9, 9}}));
}

TEST(BVH, BuildFreeFreeBuildIsClean) {
  const Mesh sphere = Sphere(12, 24, 1);
  TBVHGeometry g = TBVHGeometry::Create(sphere.Vertices, sphere.Indices, TMatrix3D::Identity());
  BuildBVH(&g);
  ASSERT_NE(g.Accelerator, nullptr);
  FreeBVH(&g);
  EXPECT_EQ(g.Accelerator, nullptr);
  FreeBVH(&g);
  EXPECT_EQ(g.NumTriangles, 12 * 24 * 2);  // the triangles remain
  BuildBVH(&g);
  ASSERT_NE(g.Accelerator, nullptr);
  TRaycastData ray;
  ray._Set({0, 0, -5}, {0, 0, 1}, 1000);
  TRaycastResult res;
  EXPECT_TRUE(g.Raycast(ray, res));
  EXPECT_NEAR(res.Point.Z, -1, 0.05);
  // Moving a built geometry keeps the tree pointing at its new owner.
  TBVHGeometry moved = std::move(g);
  EXPECT_EQ(g.Accelerator, nullptr);
  EXPECT_EQ(moved.Accelerator->Geometry, &moved);
  EXPECT_TRUE(moved.Raycast(ray, res));
  // FreeBVHNode on a subtree, then the whole tree.
  FreeBVHNode(&moved.Accelerator->Children[0]);
  EXPECT_TRUE(moved.Accelerator->Children[0].Children.empty());
  FreeBVH(&moved);
}

namespace {

// The mesh in framework buffers, with other components beside the positions so that the
// vertex stride is not that of a bare point, and normals that must not leak into triangles.
std::unique_ptr<TVertexBuffer> VertexBufferOf(const std::vector<TPoint3D>& v) {
  auto vb = std::make_unique<TVertexBuffer>(
      TVertexFormats{TVertexFormat::Vertex, TVertexFormat::Normal, TVertexFormat::TexCoord0, TVertexFormat::ColorF0},
      int32_t(v.size()));
  for (size_t i = 0; i < v.size(); ++i) {
    vb->SetVertices(int32_t(i), v[i]);
    vb->SetNormals(int32_t(i), {9, 9, 9});
  }
  return vb;
}

std::unique_ptr<TIndexBuffer> IndexBufferOf(const std::vector<uint32_t>& idx, TIndexFormat fmt) {
  auto ib = std::make_unique<TIndexBuffer>(int32_t(idx.size()), fmt);
  for (size_t i = 0; i < idx.size(); ++i) ib->SetIndices(int32_t(i), idx[i]);
  return ib;
}

}  // namespace

TEST(BVH, GeometryFromFrameworkBuffersEqualsTheOneFromArrays) {
  const Mesh sphere = Sphere(12, 24, 1.5f);
  const TMatrix3D local = TMatrix3D::CreateScaling({2, 1, 0.5f}) * TMatrix3D::CreateTranslation({3, -1, 4});
  TBVHGeometry fromArrays = TBVHGeometry::Create(sphere.Vertices, sphere.Indices, local);
  const auto vb = VertexBufferOf(sphere.Vertices);
  for (TIndexFormat fmt : {TIndexFormat::UInt16, TIndexFormat::UInt32}) {
    SCOPED_TRACE(int(fmt));
    const auto ib = IndexBufferOf(sphere.Indices, fmt);
    TBVHGeometry fromBuffers = TBVHGeometry::Create(vb.get(), ib.get(), local);
    EXPECT_EQ(fromBuffers.Accelerator, nullptr);
    ASSERT_EQ(fromBuffers.NumTriangles, fromArrays.NumTriangles);
    for (size_t i = 0; i < fromArrays.Triangles.size(); ++i) {
      ASSERT_EQ(fromBuffers.Triangles[i].A, fromArrays.Triangles[i].A) << i;
      ASSERT_EQ(fromBuffers.Triangles[i].B, fromArrays.Triangles[i].B) << i;
      ASSERT_EQ(fromBuffers.Triangles[i].C, fromArrays.Triangles[i].C) << i;
    }
    BuildBVH(&fromArrays);
    BuildBVH(&fromBuffers);
    std::mt19937 rng(77);
    std::uniform_real_distribution<float> pos(-6, 8), unit(-1, 1);
    int hits = 0;
    for (int i = 0; i < 2000; ++i) {
      TRaycastData ray;
      const TPoint3D start(pos(rng), pos(rng), pos(rng));
      const TPoint3D target = TPoint3D(3, -1, 4) + TPoint3D(unit(rng), unit(rng), unit(rng)) * 2.0f;
      ray._Set(start, target - start, 1000);
      TRaycastResult a, b;
      const bool hitA = fromArrays.Raycast(ray, a), hitB = fromBuffers.Raycast(ray, b);
      ASSERT_EQ(hitA, hitB) << "ray " << i;
      if (!hitA) continue;
      ++hits;
      ASSERT_EQ(a.T, b.T);
      ASSERT_EQ(a.Point, b.Point);
      ASSERT_EQ(a.Normal, b.Normal);
    }
    EXPECT_GT(hits, 500);
    FreeBVH(&fromArrays);
  }
}

TEST(BVH, GeometryFromFrameworkBuffersEdgeCases) {
  const std::vector<TPoint3D> v = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
  const auto vb = VertexBufferOf(v);
  const auto quad = IndexBufferOf({0, 1, 2, 0, 2, 3, 1}, TIndexFormat::UInt16);  // trailing index ignored
  const TBVHGeometry g = TBVHGeometry::Create(vb.get(), quad.get(), TMatrix3D::Identity());
  ASSERT_EQ(g.NumTriangles, 2);
  EXPECT_EQ(g.Triangles[0].A, v[2]);  // the winding is reversed
  EXPECT_EQ(g.Triangles[0].B, v[1]);
  EXPECT_EQ(g.Triangles[0].C, v[0]);
  EXPECT_EQ(g.Triangles[1].A, v[3]);

  // No triangles: null buffers, or fewer than three indices.
  const auto two = IndexBufferOf({0, 1}, TIndexFormat::UInt32);
  std::vector<TBVHGeometry> empties;
  empties.push_back(TBVHGeometry::Create(nullptr, quad.get(), TMatrix3D::Identity()));
  empties.push_back(TBVHGeometry::Create(vb.get(), nullptr, TMatrix3D::Identity()));
  empties.push_back(TBVHGeometry::Create(vb.get(), two.get(), TMatrix3D::Identity()));
  for (TBVHGeometry& e : empties) {
    EXPECT_EQ(e.NumTriangles, 0);
    EXPECT_TRUE(e.Triangles.empty());
    BuildBVH(&e);
    EXPECT_EQ(e.Accelerator, nullptr);
    TRaycastData ray;
    ray._Set({0.5f, 0.5f, 1}, {0, 0, -1}, 1000);
    TRaycastResult res;
    res.Hit = true;
    res.T = 3;
    EXPECT_FALSE(e.Raycast(ray, res));
    EXPECT_FALSE(res.Hit);
    EXPECT_EQ(res.T, 0);
  }

  // An index beyond the vertices, in either index width, and a buffer without positions.
  for (TIndexFormat fmt : {TIndexFormat::UInt16, TIndexFormat::UInt32}) {
    const auto bad = IndexBufferOf({0, 1, 4}, fmt);
    EXPECT_THROW(TBVHGeometry::Create(vb.get(), bad.get(), TMatrix3D::Identity()), EArgumentOutOfRangeException);
  }
  const TVertexBuffer normalsOnly(TVertexFormats{TVertexFormat::Normal}, 4);
  EXPECT_THROW(TBVHGeometry::Create(&normalsOnly, quad.get(), TMatrix3D::Identity()), EArgumentException);
}

TEST(BVH, ToMeshDataListsTheTrianglesCornersInOrder) {
  const std::vector<TPoint3D> v = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
  const auto vb = VertexBufferOf(v);
  const auto quad = IndexBufferOf({0, 1, 2, 0, 2, 3}, TIndexFormat::UInt16);
  TBVHGeometry g = TBVHGeometry::Create(vb.get(), quad.get(), TMatrix3D::CreateTranslation({0, 0, 2}));
  BuildBVH(&g);  // the tree plays no part in the conversion
  const std::unique_ptr<TMeshData> mesh(g.ToMeshData());
  ASSERT_NE(mesh, nullptr);
  const TVertexBuffer& mv = *mesh->GetVertexBuffer();
  const TIndexBuffer& mi = *mesh->GetIndexBuffer();
  ASSERT_EQ(mv.Length(), 6);
  ASSERT_EQ(mi.Length(), 6);
  const TPoint3D expected[6] = {{1, 1, 2}, {1, 0, 2}, {0, 0, 2}, {0, 1, 2}, {1, 1, 2}, {0, 0, 2}};
  for (int32_t i = 0; i < 6; ++i) {
    EXPECT_EQ(mv.GetVertices(i), expected[i]) << i;
    EXPECT_EQ(mi.GetIndices(i), uint32_t(i));
    EXPECT_EQ(mv.GetNormals(i), TPoint3D(0, 0, 0));
  }

  // The soup keeps the geometry's reversed winding: its face normals oppose the source mesh's.
  TMeshData source;
  source.SetVertexBuffer(vb.get());
  source.SetIndexBuffer(quad.get());
  source.CalcFaceNormals(false);
  mesh->CalcFaceNormals(false);
  ASSERT_EQ(mesh->GetFaceNormals().size(), 2u);
  for (size_t t = 0; t < 2; ++t) {
    EXPECT_EQ(mesh->GetFaceNormals()[t], source.GetFaceNormals()[t] * -1.0f) << t;
    EXPECT_EQ(std::abs(mesh->GetFaceNormals()[t].Z), 1.0f);
  }

  // Read back into a geometry, every triangle comes out reversed once more.
  const TBVHGeometry again = TBVHGeometry::Create(&mv, &mi, TMatrix3D::Identity());
  ASSERT_EQ(again.NumTriangles, 2);
  for (size_t t = 0; t < 2; ++t) {
    EXPECT_EQ(again.Triangles[t].A, g.Triangles[t].C);
    EXPECT_EQ(again.Triangles[t].B, g.Triangles[t].B);
    EXPECT_EQ(again.Triangles[t].C, g.Triangles[t].A);
  }

  const std::unique_ptr<TMeshData> none(TBVHGeometry::Create(0).ToMeshData());
  EXPECT_EQ(none->GetVertexBuffer()->Length(), 0);
  EXPECT_EQ(none->GetIndexBuffer()->Length(), 0);
}
