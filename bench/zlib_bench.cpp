// Deflate and inflate of 4 MiB of vertex-like data through the stream classes, against
// zlib's own one-shot calls on the same data as the peer.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstring>
#include <random>

#include "framework/io/ZLib.h"

namespace {

using namespace quorvel;

// Float positions on a smooth surface: compresses like baked animation frames do.
const TBytes& Payload() {
  static const TBytes data = [] {
    TBytes b(4 << 20);
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> jitter(-0.001f, 0.001f);
    for (size_t i = 0; i + 4 <= b.size(); i += 4) {
      const float v = static_cast<float>(i % 4096) * 0.01f + jitter(rng);
      std::memcpy(&b[i], &v, 4);
    }
    return b;
  }();
  return data;
}

TCompressionLevel LevelOf(int64_t i) { return static_cast<TCompressionLevel>(i); }

void BM_StreamCompress(benchmark::State& state) {
  const TBytes& data = Payload();
  TBytesStream out;
  for (auto _ : state) {
    out.SetSize(0);
    TZCompressionStream z(&out, LevelOf(state.range(0)));
    z.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
    z.Finish();
    benchmark::DoNotOptimize(out.GetSize());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(data.size()));
  state.counters["ratio"] = static_cast<double>(out.GetSize()) / static_cast<double>(data.size());
}

void BM_PeerCompress2(benchmark::State& state) {
  const TBytes& data = Payload();
  TBytes out(compressBound(data.size()));
  const int levels[] = {0, 1, -1, 9};
  for (auto _ : state) {
    uLongf len = out.size();
    compress2(out.data(), &len, data.data(), data.size(), levels[state.range(0)]);
    benchmark::DoNotOptimize(len);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(data.size()));
}

void BM_StreamDecompress(benchmark::State& state) {
  const TBytes& data = Payload();
  const TBytes packed = ZCompress(data, LevelOf(state.range(0)));
  TBytes out(data.size());
  for (auto _ : state) {
    TBytesStream in(packed);
    TZDecompressionStream z(&in);
    z.ReadBuffer(out.data(), static_cast<int64_t>(out.size()));
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(data.size()));
}

void BM_PeerUncompress(benchmark::State& state) {
  const TBytes& data = Payload();
  const TBytes packed = ZCompress(data, LevelOf(state.range(0)));
  TBytes out(data.size());
  for (auto _ : state) {
    uLongf len = out.size();
    uncompress(out.data(), &len, packed.data(), packed.size());
    benchmark::DoNotOptimize(len);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(data.size()));
}

// Levels: 0 clNone, 1 clFastest, 2 clDefault, 3 clMax.
BENCHMARK(BM_StreamCompress)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PeerCompress2)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StreamDecompress)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PeerUncompress)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
