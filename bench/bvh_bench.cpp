// Ray casts through the bounding-volume hierarchy against brute force (every triangle) and,
// when Embree's headers are installed, Embree's single-ray query on the same mesh and rays.
// Embree is loaded at run time, so the program builds and runs without it.
#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "lib/utils/UtilsGeometry.h"

#if __has_include(<embree3/rtcore.h>)
#include <dlfcn.h>
#include <embree3/rtcore.h>
#define QUORVEL_HAVE_EMBREE 1
#endif

using namespace quorvel;

namespace {

constexpr float kPi = std::numbers::pi_v<float>;

// A UV sphere of about 1M triangles, built once for all benchmarks.
struct Scene {
  std::vector<TPoint3D> Vertices;
  std::vector<uint32_t> Indices;
  TBVHGeometry Geometry;
  std::vector<TRaycastData> Rays;

  Scene() {
    const int stacks = 500, slices = 1000;
    for (int i = 0; i <= stacks; ++i) {
      const float phi = kPi * float(i) / float(stacks);
      for (int j = 0; j <= slices; ++j) {
        const float theta = 2 * kPi * float(j) / float(slices);
        // A bumpy surface, so that the tree's boxes are not all alike.
        const float r = 1 + 0.05f * std::sin(7 * phi) * std::cos(5 * theta);
        Vertices.push_back({r * std::sin(phi) * std::cos(theta), r * std::cos(phi), r * std::sin(phi) * std::sin(theta)});
      }
    }
    for (int i = 0; i < stacks; ++i)
      for (int j = 0; j < slices; ++j) {
        const uint32_t a = uint32_t(i * (slices + 1) + j), b = a + 1, c = a + uint32_t(slices + 1), d = c + 1;
        Indices.insert(Indices.end(), {a, c, b, b, c, d});
      }
    Geometry = TBVHGeometry::Create(Vertices, Indices, TMatrix3D::Identity());
    BuildBVH(&Geometry);
    // Rays from around the mesh: half aimed near the surface, half in random directions.
    std::mt19937 rng(42);
    std::uniform_real_distribution<float> pos(-2, 2), unit(-1, 1);
    Rays.resize(4096);
    for (size_t i = 0; i < Rays.size(); ++i) {
      const TPoint3D start(pos(rng), pos(rng), pos(rng));
      const TPoint3D dir = (i % 2) ? TPoint3D(unit(rng), unit(rng), unit(rng))
                                   : Vertices[rng() % Vertices.size()] - start;
      Rays[i]._Set(start, dir, 1000);
    }
  }
};

Scene& TheScene() {
  static Scene scene;
  return scene;
}

void BM_BuildBVH(benchmark::State& state) {
  Scene& s = TheScene();
  for (auto _ : state) {
    FreeBVH(&s.Geometry);
    BuildBVH(&s.Geometry);
  }
  state.counters["triangles"] = double(s.Geometry.NumTriangles);
}
BENCHMARK(BM_BuildBVH)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_RaycastTree(benchmark::State& state) {
  Scene& s = TheScene();
  size_t i = 0, hits = 0;
  for (auto _ : state) {
    TRaycastResult res;
    hits += s.Geometry.Raycast(s.Rays[i++ % s.Rays.size()], res);
    benchmark::DoNotOptimize(res);
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
  state.counters["hit_ratio"] = double(hits) / double(state.iterations());
}
BENCHMARK(BM_RaycastTree)->Unit(benchmark::kMicrosecond);

void BM_RaycastBruteForce(benchmark::State& state) {
  Scene& s = TheScene();
  size_t i = 0, hits = 0;
  for (auto _ : state) {
    const TRaycastData& ray = s.Rays[i++ % s.Rays.size()];
    float best = INFINITY;
    TRaycastResult r, bestRes;
    for (const TTriangle& t : s.Geometry.Triangles)
      if (t.Raycast(ray, &r)) {
        const float d = r.Point.Distance(ray.Start);
        if (d < best) {
          best = d;
          bestRes = r;
        }
      }
    hits += bestRes.Hit;
    benchmark::DoNotOptimize(bestRes);
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
  state.counters["hit_ratio"] = double(hits) / double(state.iterations());
}
BENCHMARK(BM_RaycastBruteForce)->Unit(benchmark::kMillisecond)->Iterations(64);

#ifdef QUORVEL_HAVE_EMBREE
// Embree's entry points, resolved from the shared library at run time.
struct Embree {
  void* Lib = nullptr;
  decltype(&rtcNewDevice) NewDevice = nullptr;
  decltype(&rtcNewScene) NewScene = nullptr;
  decltype(&rtcNewGeometry) NewGeometry = nullptr;
  decltype(&rtcSetNewGeometryBuffer) SetNewGeometryBuffer = nullptr;
  decltype(&rtcCommitGeometry) CommitGeometry = nullptr;
  decltype(&rtcAttachGeometry) AttachGeometry = nullptr;
  decltype(&rtcReleaseGeometry) ReleaseGeometry = nullptr;
  decltype(&rtcCommitScene) CommitScene = nullptr;
  decltype(&rtcIntersect1) Intersect1 = nullptr;
  RTCScene Scene = nullptr;

  Embree() {
    Lib = dlopen("libembree3.so.3", RTLD_NOW);
    if (!Lib) return;
    auto load = [&](auto& fn, const char* name) { fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(Lib, name)); };
    load(NewDevice, "rtcNewDevice");
    load(NewScene, "rtcNewScene");
    load(NewGeometry, "rtcNewGeometry");
    load(SetNewGeometryBuffer, "rtcSetNewGeometryBuffer");
    load(CommitGeometry, "rtcCommitGeometry");
    load(AttachGeometry, "rtcAttachGeometry");
    load(ReleaseGeometry, "rtcReleaseGeometry");
    load(CommitScene, "rtcCommitScene");
    load(Intersect1, "rtcIntersect1");
    if (!NewDevice || !Intersect1 || !CommitScene) return;
    const ::Scene& s = TheScene();
    RTCDevice device = NewDevice(nullptr);
    Scene = NewScene(device);
    RTCGeometry geom = NewGeometry(device, RTC_GEOMETRY_TYPE_TRIANGLE);
    // The geometry's own triangles, so that both sides see the same corners and winding.
    const size_t n = s.Geometry.Triangles.size();
    auto* v = static_cast<float*>(SetNewGeometryBuffer(geom, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT3,
                                                       3 * sizeof(float), 3 * n));
    auto* idx = static_cast<unsigned*>(SetNewGeometryBuffer(geom, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3,
                                                            3 * sizeof(unsigned), n));
    for (size_t i = 0; i < n; ++i) {
      const TTriangle& t = s.Geometry.Triangles[i];
      const TPoint3D* p[3] = {&t.A, &t.B, &t.C};
      for (int k = 0; k < 3; ++k) {
        v[9 * i + 3 * k] = p[k]->X;
        v[9 * i + 3 * k + 1] = p[k]->Y;
        v[9 * i + 3 * k + 2] = p[k]->Z;
        idx[3 * i + k] = unsigned(3 * i + k);
      }
    }
    CommitGeometry(geom);
    AttachGeometry(Scene, geom);
    ReleaseGeometry(geom);
    CommitScene(Scene);
  }
};

Embree& TheEmbree() {
  static Embree e;
  return e;
}

void BM_RaycastEmbree(benchmark::State& state) {
  Scene& s = TheScene();
  Embree& e = TheEmbree();
  if (!e.Scene) {
    state.SkipWithError("libembree3.so.3 could not be loaded");
    return;
  }
  size_t i = 0, hits = 0;
  for (auto _ : state) {
    const TRaycastData& r = s.Rays[i++ % s.Rays.size()];
    RTCIntersectContext context;
    rtcInitIntersectContext(&context);
    RTCRayHit rh{};
    rh.ray.org_x = r.Start.X;
    rh.ray.org_y = r.Start.Y;
    rh.ray.org_z = r.Start.Z;
    rh.ray.dir_x = r.Dir.X;
    rh.ray.dir_y = r.Dir.Y;
    rh.ray.dir_z = r.Dir.Z;
    rh.ray.tnear = 0;
    rh.ray.tfar = INFINITY;
    rh.ray.mask = ~0u;
    rh.hit.geomID = RTC_INVALID_GEOMETRY_ID;
    e.Intersect1(e.Scene, &context, &rh);
    hits += rh.hit.geomID != RTC_INVALID_GEOMETRY_ID;
    benchmark::DoNotOptimize(rh);
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
  // Embree reports both faces; the tree reports front faces only.
  state.counters["hit_ratio"] = double(hits) / double(state.iterations());
}
BENCHMARK(BM_RaycastEmbree)->Unit(benchmark::kMicrosecond);
#endif

}  // namespace

BENCHMARK_MAIN();
