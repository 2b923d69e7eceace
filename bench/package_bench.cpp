// Importing 1,000 files of 100 KB one by one into an asset package on disk, against minizip
// appending the same files to an archive directly (open, add, close each). Reported: the
// total time of each, the first and last import, the mean of the first and of the last
// hundred imports (equal when the cost stays flat), the slowest import, and the bytes written
// per archive byte.
#include <benchmark/benchmark.h>
#include <minizip/zip.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "lib/formats/assets/AssetsManager.h"

namespace {

using namespace quorvel;
namespace fs = std::filesystem;

constexpr int FileCount = 1000;
constexpr size_t FileSize = 100 * 1024;

// Text-like bytes: compressible, but not trivially.
const std::vector<char>& Payload() {
  static const std::vector<char> data = [] {
    std::vector<char> b(FileSize);
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> letter('a', 'z');
    for (char& c : b) c = (rng() % 7 == 0) ? ' ' : char(letter(rng));
    return b;
  }();
  return data;
}

// The bytes this process has written so far (page cache included).
int64_t WrittenBytes() {
  std::ifstream io("/proc/self/io");
  std::string key;
  int64_t value = 0;
  while (io >> key >> value)
    if (key == "wchar:") return value;
  return 0;
}

struct TScratch {
  fs::path Dir;
  TScratch() {
    Dir = fs::temp_directory_path() / ("quorvel-package-bench-" + std::to_string(::getpid()));
    fs::remove_all(Dir);
    fs::create_directories(Dir / "in");
    const std::vector<char>& data = Payload();
    for (int i = 0; i < FileCount; ++i) {
      std::ofstream out(Dir / "in" / ("file" + std::to_string(i) + ".txt"), std::ios::binary);
      out.write(data.data(), std::streamsize(data.size()));
    }
  }
  ~TScratch() { fs::remove_all(Dir); }
  std::string In(int i) const { return (Dir / "in" / ("file" + std::to_string(i) + ".txt")).string(); }
};

using TClock = std::chrono::steady_clock;
double Ms(TClock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Runs AImport for every file as one timed pass; AReset prepares the archive untimed.
template <class FReset, class FImport>
void TimeImports(benchmark::State& state, const fs::path& AArchive, FReset AReset, FImport AImport) {
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove(AArchive);
    AReset();
    const int64_t before = WrittenBytes();
    std::vector<double> times(FileCount);
    state.ResumeTiming();
    for (int i = 0; i < FileCount; ++i) {
      const auto start = TClock::now();
      AImport(i);
      times[size_t(i)] = Ms(TClock::now() - start);
    }
    state.PauseTiming();
    state.counters["first_ms"] = times.front();
    state.counters["last_ms"] = times.back();
    // Flat means the imports of the last hundred cost what those of the first hundred did.
    auto mean = [&](int AFrom, int ATo) {
      double sum = 0;
      for (int i = AFrom; i < ATo; ++i) sum += times[size_t(i)];
      return sum / (ATo - AFrom);
    };
    state.counters["first100_ms"] = mean(0, 100);
    state.counters["last100_ms"] = mean(FileCount - 100, FileCount);
    std::sort(times.begin(), times.end());
    state.counters["max_ms"] = times.back();
    state.counters["written_per_archive_byte"] = double(WrittenBytes() - before) / double(fs::file_size(AArchive));
    state.ResumeTiming();
  }
}

void BM_PackageImport(benchmark::State& state) {
  TScratch scratch;
  const fs::path archive = scratch.Dir / "package.zip";
  TOwned<TQuorvelAssetsManager> manager;
  TQuorvelAssetsPackage* package = nullptr;
  TimeImports(
      state, archive,
      [&] {
        manager.reset(New<TQuorvelAssetsManager>(nullptr));
        package = manager->AddEmptyPackage("bench");
        package->SetFilename(archive.string());
      },
      [&](int i) { benchmark::DoNotOptimize(package->AddAssetFromFile(scratch.In(i))); });
}

// The peer: minizip's add-in-zip mode, the file read into memory as the package does.
void BM_PeerMinizipAppend(benchmark::State& state) {
  TScratch scratch;
  const fs::path archive = scratch.Dir / "peer.zip";
  TimeImports(state, archive, [] {}, [&](int i) {
    std::ifstream in(scratch.In(i), std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    zipFile zip = zipOpen(archive.c_str(), i == 0 ? APPEND_STATUS_CREATE : APPEND_STATUS_ADDINZIP);
    const std::string name = "MISC/" + std::to_string(i) + "/file" + std::to_string(i) + ".txt";
    zip_fileinfo info{};
    zipOpenNewFileInZip(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, Z_DEFAULT_COMPRESSION);
    zipWriteInFileInZip(zip, bytes.data(), unsigned(bytes.size()));
    zipCloseFileInZip(zip);
    zipClose(zip, nullptr);
  });
}

BENCHMARK(BM_PackageImport)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PeerMinizipAppend)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
