// OBJ file -> model definition, against tinyobjloader reading the same file with
// triangulation and flattening it into per-corner arrays (our reader also makes one vertex
// per corner). Files (range 0..2): the demo's monkey, WusonOBJ and a generated grid of 1M
// triangles. Our rows include the tangents we calculate (every file here has normals).
// OursGrid/N reads the grid with N times the triangles (1, 4, 16): the time should grow
// linearly. Every row reports the process's peak resident memory (peak_rss_MB); it is the
// load's own only when the row runs alone, e.g. --benchmark_filter='^Ours/2$'.
#define TINYOBJLOADER_IMPLEMENTATION
#include <tiny_obj_loader.h>

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <fstream>
#include <string>
#include <vector>

#include "framework/rtl/Log.h"
#include "lib/formats/obj/OBJModel.h"

using namespace quorvel;

namespace {

// __FILE__ is relative to the build folder (the parent of this program's folder) with Ninja.
const std::string Source = [] {
  namespace fs = std::filesystem;
  const fs::path root = fs::path(__FILE__).parent_path().parent_path();
  if (root.is_absolute()) return root.string();
  return (fs::read_symlink("/proc/self/exe").parent_path().parent_path() / root).lexically_normal().string();
}();

// Grids of 1M x AScale triangles, written once per process under a name of its own (helpers
// may run at once) and removed at its end.
std::string GridFile(int AScale = 1) {
  struct TFiles {
    std::map<int, std::string> Paths;
    ~TFiles() {
      for (const auto& [scale, path] : Paths) std::filesystem::remove(path);
    }
  };
  static TFiles files;
  std::string& path = files.Paths[AScale];
  if (!path.empty()) return path;
  path = (std::filesystem::temp_directory_path() /
          ("quorvel_bench_grid_" + std::to_string(::getpid()) + "_x" + std::to_string(AScale) + ".obj"))
             .string();
  std::ofstream out(path);
  int n = 708;  // 707 * 707 * 2 quads' triangles ~ 1M
  for (int s = AScale; s > 1; s /= 4) n = (n - 1) * 2 + 1;
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) out << "v " << x * 0.01 << ' ' << y * 0.01 << ' ' << ((x * y) % 13) * 0.001 << '\n';
  out << "vt 0 0\nvt 1 0\nvt 1 1\nvn 0 0 1\n";
  for (int y = 0; y + 1 < n; ++y)
    for (int x = 0; x + 1 < n; ++x) {
      const int a = y * n + x + 1, b = a + 1, c = a + n + 1, d = a + n;
      out << "f " << a << "/1/1 " << b << "/2/1 " << c << "/3/1\nf " << a << "/1/1 " << c << "/3/1 " << d
          << "/3/1\n";
    }
  return path;
}

void ReportPeakMemory(benchmark::State& state, const std::string& AFile) {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_rss_MB"] = double(usage.ru_maxrss) / 1024.0;
  state.counters["file_MB"] = double(std::filesystem::file_size(AFile)) / 1e6;
}

std::string FileOf(int AIndex) {
  switch (AIndex) {
    case 0: return Source + "/demo/assets/monkey.obj";
    case 1: return Source + "/tests/data/obj/WusonOBJ.obj";
    default: return GridFile();
  }
}

void LoadOurs(benchmark::State& state, const std::string& AFile) {
  Log::SetQuiet(true);
  for (auto _ : state) {
    TOwned<TOBJModel> model(New<TOBJModel>(nullptr, nullptr));
    model->LoadFromFile(AFile);
    benchmark::DoNotOptimize(model.get());
  }
  ReportPeakMemory(state, AFile);
}

void Ours(benchmark::State& state) { LoadOurs(state, FileOf(int(state.range(0)))); }

void OursGrid(benchmark::State& state) { LoadOurs(state, GridFile(int(state.range(0)))); }

void TinyObj(benchmark::State& state) {
  const std::string file = FileOf(int(state.range(0)));
  for (auto _ : state) {
    tinyobj::ObjReaderConfig config;
    config.triangulate = true;
    tinyobj::ObjReader reader;
    if (!reader.ParseFromFile(file, config)) state.SkipWithError("tinyobj failed");
    const auto& attrib = reader.GetAttrib();
    std::vector<float> positions, normals, uvs;
    for (const auto& shape : reader.GetShapes()) {
      positions.reserve(positions.size() + shape.mesh.indices.size() * 3);
      for (const auto& idx : shape.mesh.indices) {
        for (int k = 0; k < 3; ++k) positions.push_back(attrib.vertices[size_t(3 * idx.vertex_index + k)]);
        if (idx.normal_index >= 0)
          for (int k = 0; k < 3; ++k) normals.push_back(attrib.normals[size_t(3 * idx.normal_index + k)]);
        if (idx.texcoord_index >= 0)
          for (int k = 0; k < 2; ++k) uvs.push_back(attrib.texcoords[size_t(2 * idx.texcoord_index + k)]);
      }
    }
    benchmark::DoNotOptimize(positions.data());
    benchmark::DoNotOptimize(normals.data());
  }
  ReportPeakMemory(state, file);
}

}  // namespace

BENCHMARK(Ours)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(TinyObj)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(OursGrid)->Arg(1)->Arg(4)->Arg(16)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_MAIN();
