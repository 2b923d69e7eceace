// Transfer of an importer's vertex cache into a mesh definition with the computation of the
// missing smooth normals and tangents (LoadDefFromData + AutoCalculateVertexData) on a grid
// of about 1M triangles, against a plain loop that does the same work on flat arrays
// (interleaved copy, face normals, shared-index averaging, raw tangents). tinyobjloader's
// parse of the same grid as OBJ text is reported as the yardstick of the formats.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "lib/defs/DefTypes.h"
#include "lib/formats/Loader.h"

#if QUORVEL_HAVE_TINYOBJ
#include <tiny_obj_loader.h>
#endif

using namespace quorvel;

namespace {

constexpr int Cells = 708;  // 708 x 708 x 2 = 1,002,528 triangles
constexpr int Side = Cells + 1;

TVertexCache& Grid() {
  static TVertexCache* cache = [] {
    auto* c = new TVertexCache(0);
    std::vector<TVertexData>& vertices = c->GetVertices();
    vertices.reserve(size_t(Side) * Side);
    for (int y = 0; y < Side; ++y)
      for (int x = 0; x < Side; ++x) {
        TVertexData v;
        const float fx = x * 0.01f, fy = y * 0.01f;
        v.Position = TPoint3D(fx, fy, 0.3f * std::sin(fx) * std::cos(fy));
        v.TexCoords.assign(1, TPointF(x / float(Cells), y / float(Cells)));
        vertices.push_back(std::move(v));
      }
    std::vector<TTriangleIndex>& triangles = c->GetIndices();
    triangles.reserve(size_t(Cells) * Cells * 2);
    for (int y = 0; y < Cells; ++y)
      for (int x = 0; x < Cells; ++x) {
        const uint32_t a = uint32_t(y * Side + x), b = a + 1, d = a + uint32_t(Side), e = d + 1;
        triangles.push_back({a, b, e});
        triangles.push_back({a, e, d});
      }
    c->SetNormalsAvailable(false);
    c->SetTangentsAvailable(false);
    c->SetTexCoordsAvailable(true);
    return c;
  }();
  return *cache;
}

void BM_LoadDefFromData(benchmark::State& state) {
  TVertexCache& cache = Grid();
  for (auto _ : state) {
    TOwned<TMeshDef> def(New<TMeshDef>(nullptr));
    TQuorvelLoader::LoadDefFromData(def.get(), &cache);
    benchmark::DoNotOptimize(def->GetVertexSource()->Buffer());
    state.PauseTiming();
    def.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * int64_t(cache.GetIndices().size()));
}

// The peer: the same result in the same layout (position, normal, texcoord0, binormal,
// tangent: 56 bytes), written as one would by hand.
void BM_PlainLoop(benchmark::State& state) {
  TVertexCache& cache = Grid();
  const std::vector<TVertexData>& src = cache.GetVertices();
  const std::vector<TTriangleIndex>& tris = cache.GetIndices();
  struct TVertex {
    float P[3], N[3], T0[2], B[3], T[3];
  };
  for (auto _ : state) {
    std::vector<TVertex> vb(src.size());
    std::vector<uint32_t> ib(tris.size() * 3);
    for (size_t i = 0; i < src.size(); ++i) {
      TVertex& v = vb[i];
      std::memset(&v, 0, sizeof v);
      std::memcpy(v.P, &src[i].Position, 12);
      if (!src[i].TexCoords.empty()) std::memcpy(v.T0, &src[i].TexCoords[0], 8);
    }
    std::memcpy(ib.data(), tris.data(), ib.size() * 4);
    std::vector<TPoint3D> faces(tris.size());
    std::vector<TPoint3D> sums(src.size());
    for (size_t t = 0; t < tris.size(); ++t) {
      const TPoint3D& p0 = *reinterpret_cast<const TPoint3D*>(vb[ib[3 * t]].P);
      const TPoint3D& p1 = *reinterpret_cast<const TPoint3D*>(vb[ib[3 * t + 1]].P);
      const TPoint3D& p2 = *reinterpret_cast<const TPoint3D*>(vb[ib[3 * t + 2]].P);
      faces[t] = (p1 - p0).CrossProduct(p1 - p2).Normalize();
      for (int c = 0; c < 3; ++c) sums[ib[3 * t + c]] += faces[t];
    }
    for (size_t i = 0; i < src.size(); ++i) {
      const TPoint3D n = sums[i].Normalize();
      std::memcpy(vb[i].N, &n, 12);
    }
    for (size_t t = 0; t < tris.size(); ++t) {
      TVertex& a = vb[ib[3 * t]];
      TVertex& b = vb[ib[3 * t + 1]];
      TVertex& c = vb[ib[3 * t + 2]];
      const TPoint3D e1(b.P[0] - a.P[0], b.P[1] - a.P[1], b.P[2] - a.P[2]);
      const TPoint3D e2(c.P[0] - a.P[0], c.P[1] - a.P[1], c.P[2] - a.P[2]);
      const float du1 = b.T0[0] - a.T0[0], dv1 = b.T0[1] - a.T0[1];
      const float du2 = c.T0[0] - a.T0[0], dv2 = c.T0[1] - a.T0[1];
      const float det = float(double(du1) * dv2 - double(dv1) * du2);
      const float r = det == 0 ? 0.0f : 1.0f / det;
      const TPoint3D tan = (e1 * dv2 - e2 * dv1) * r, bin = (e2 * du1 - e1 * du2) * r;
      for (TVertex* v : {&a, &b, &c}) {
        std::memcpy(v->T, &tan, 12);
        std::memcpy(v->B, &bin, 12);
      }
    }
    benchmark::DoNotOptimize(vb.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * int64_t(tris.size()));
}

#if QUORVEL_HAVE_TINYOBJ
const std::string& GridObjText() {
  static const std::string text = [] {
    std::string s;
    char line[96];
    for (const TVertexData& v : Grid().GetVertices()) {
      std::snprintf(line, sizeof line, "v %.6f %.6f %.6f\n", v.Position.X, v.Position.Y, v.Position.Z);
      s += line;
    }
    for (const TVertexData& v : Grid().GetVertices()) {
      std::snprintf(line, sizeof line, "vt %.6f %.6f\n", v.TexCoords[0].X, v.TexCoords[0].Y);
      s += line;
    }
    for (const TTriangleIndex& t : Grid().GetIndices()) {
      std::snprintf(line, sizeof line, "f %u/%u %u/%u %u/%u\n", t[0] + 1, t[0] + 1, t[1] + 1, t[1] + 1, t[2] + 1,
                    t[2] + 1);
      s += line;
    }
    return s;
  }();
  return text;
}

void BM_TinyObjParse(benchmark::State& state) {
  const std::string& text = GridObjText();
  for (auto _ : state) {
    std::istringstream in(text);
    tinyobj::attrib_t attrib;
    std::vector<tinyobj::shape_t> shapes;
    std::vector<tinyobj::material_t> materials;
    std::string warn, err;
    const bool ok = tinyobj::LoadObj(&attrib, &shapes, &materials, &warn, &err, &in);
    if (!ok) state.SkipWithError(err.c_str());
    benchmark::DoNotOptimize(attrib.vertices.data());
  }
  state.SetBytesProcessed(state.iterations() * int64_t(text.size()));
  state.SetItemsProcessed(state.iterations() * int64_t(Grid().GetIndices().size()));
}
BENCHMARK(BM_TinyObjParse)->Unit(benchmark::kMillisecond)->MinTime(2.0);
#endif

BENCHMARK(BM_LoadDefFromData)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_PlainLoop)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
