// The JSON form of a generated mesh definition with 1M vertices (1000 x 1000 grid, default
// vertex layout with float colours, 32-bit indices, 6M of them): writing (definition -> DOM ->
// text) and reading (text -> DOM -> definition), with RapidJSON's DOM parse of the same text
// as the yardstick. Throughput is bytes of JSON text per second; "peak_MB" is the growth of
// the resident set's high-water mark over the run (VmHWM, reset through clear_refs after
// freed memory went back to the system). Only the first iteration touches fresh pages.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include <rapidjson/document.h>

#include "bench/GridMesh.h"
#include "lib/defs/DefTypes.h"

using namespace quorvel;

namespace {

TMeshDef* Mesh() {
  static TMeshDef* mesh = MakeGridMesh();
  return mesh;
}

const std::string& Text() {
  static const std::string text = [] {
    std::unique_ptr<TJSONObject> json(Mesh()->ToJSON());
    return json->ToJSON();
  }();
  return text;
}

// The default layout is all singles; -0 is written as 0, so compare values, not bytes.
bool SameFloats(const TVertexBuffer* A, const TVertexBuffer* B) {
  if (A->Size() != B->Size()) return false;
  const size_t n = size_t(A->Size()) / sizeof(float);
  for (size_t i = 0; i < n; ++i) {
    float a, b;
    std::memcpy(&a, A->Buffer() + i * 4, 4);
    std::memcpy(&b, B->Buffer() + i * 4, 4);
    if (!(a == b)) return false;
  }
  return true;
}

long StatusKB(const char* AKey) {
  std::ifstream f("/proc/self/status");
  std::string line;
  const size_t n = std::strlen(AKey);
  while (std::getline(f, line))
    if (line.compare(0, n, AKey) == 0) return std::stol(line.substr(n + 1));
  return 0;
}

// Hands freed memory back and resets the high-water mark to the current resident set.
long ResetPeak() {
  malloc_trim(0);
  if (FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
    std::fputs("5", f);
    std::fclose(f);
  }
  return StatusKB("VmRSS:");
}

double ReportPeak(benchmark::State& state, long ABaseKB) {
  const double mb = double(StatusKB("VmHWM:") - ABaseKB) / 1024.0;
  state.counters["peak_MB"] = mb;
  return mb;
}

// Figures of our DOM parse, for the ratios reported beside RapidJSON's (which runs after it).
double GDomParsePeakMB = 0;
double GDomParseSeconds = 0;

void BM_MeshWriteJSON(benchmark::State& state) {
  TMeshDef* mesh = Mesh();
  size_t bytes = 0;
  const long base = ResetPeak();
  double domMB = 0;
  for (auto _ : state) {
    std::unique_ptr<TJSONObject> json(mesh->ToJSON());
    state.PauseTiming();
    domMB = std::max(domMB, double(StatusKB("VmRSS:") - base) / 1024.0);
    state.ResumeTiming();
    std::string text = json->ToJSON();
    bytes = text.size();
    benchmark::DoNotOptimize(text.data());
    state.PauseTiming();
    json.reset();
    text = std::string();
    state.ResumeTiming();
  }
  const double peak = ReportPeak(state, base);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
  state.counters["text_MB"] = double(bytes) / 1048576.0;
  // Goal: the write's peak at most 1.2 times the DOM it writes.
  state.counters["dom_MB"] = domMB;
  state.counters["peak_per_dom"] = domMB > 0 ? peak / domMB : 0;
}
BENCHMARK(BM_MeshWriteJSON)->Unit(benchmark::kMillisecond)->Iterations(3);

// Only the definition -> DOM step of the write.
void BM_MeshToDom(benchmark::State& state) {
  TMeshDef* mesh = Mesh();
  const long base = ResetPeak();
  for (auto _ : state) {
    std::unique_ptr<TJSONObject> json(mesh->ToJSON());
    benchmark::DoNotOptimize(json.get());
    state.PauseTiming();
    json.reset();
    state.ResumeTiming();
  }
  ReportPeak(state, base);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Text().size()));
}
BENCHMARK(BM_MeshToDom)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_MeshReadJSON(benchmark::State& state) {
  const std::string& text = Text();
  const long base = ResetPeak();
  for (auto _ : state) {
    std::unique_ptr<TJSONValue> doc(ParseJSONValue(text, true));
    TOwned<TMeshDef> mesh(New<TMeshDef>());
    mesh->FromJSON(nullptr, doc->As<TJSONObject>());
    benchmark::DoNotOptimize(mesh->GetVertexSource()->Buffer());
    state.PauseTiming();
    if (!SameFloats(mesh->GetVertexSource(), Mesh()->GetVertexSource())) {
      state.SkipWithError("read-back differs from the written mesh");
      break;
    }
    doc.reset();
    mesh.reset();
    state.ResumeTiming();
  }
  ReportPeak(state, base);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_MeshReadJSON)->Unit(benchmark::kMillisecond)->Iterations(3);

// Only the text -> DOM step of the read, for comparison with RapidJSON.
void BM_DomParse(benchmark::State& state) {
  const std::string& text = Text();
  const long base = ResetPeak();
  double parseSeconds = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    std::unique_ptr<TJSONValue> doc(ParseJSONValue(text, true));
    benchmark::DoNotOptimize(doc.get());
    parseSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.PauseTiming();
    doc.reset();
    state.ResumeTiming();
  }
  GDomParsePeakMB = ReportPeak(state, base);
  GDomParseSeconds = parseSeconds / double(state.iterations());
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_DomParse)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_RapidJSONParse(benchmark::State& state) {
  const std::string& text = Text();
  const long base = ResetPeak();
  double parseSeconds = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    auto doc = std::make_unique<rapidjson::Document>();
    doc->Parse(text.data(), text.size());
    parseSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (doc->HasParseError()) {
      state.SkipWithError("RapidJSON parse error");
      break;
    }
    benchmark::DoNotOptimize(doc.get());
    state.PauseTiming();
    doc.reset();
    state.ResumeTiming();
  }
  const double peak = ReportPeak(state, base);
  const double seconds = parseSeconds / double(state.iterations());
  // Goals: our DOM's peak at most 1.3 times this one's; its parse speed as a fraction of this
  // one's (the parse alone in both, freeing excluded).
  if (GDomParsePeakMB > 0 && peak > 0) state.counters["dom_peak_ratio"] = GDomParsePeakMB / peak;
  if (GDomParseSeconds > 0) state.counters["dom_speed_ratio"] = seconds / GDomParseSeconds;
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_RapidJSONParse)->Unit(benchmark::kMillisecond)->Iterations(3);

// ---- a whole model: the grid mesh as a node of a model with 200 textured materials --------

TModelDef* MakeModel() {
  auto* model = New<TModelDef>();
  model->SetId("model");
  model->SetFilename("C:\\Models\\grid model.q3m");
  TMeshDef* grid = MakeGridMesh();
  model->AddChild(grid);
  for (int i = 0; i < 200; ++i) {
    auto* material = New<TMaterialDef>(model, "material" + std::to_string(i));
    material->SetKind(i % 2 ? TMaterialDefKind::mkPhong : TMaterialDefKind::mkPBR);
    material->AddTexture(TColorChannelDef::Diffuse, nullptr, false)->SetTiling(TPointF(2, 2));
    material->AddTexture(TColorChannelDef::Normal, nullptr, false)->GetSampler()->SetWrapS(TQuorvelTextureWrap::Repeated);
    material->AddExtension("ext");
  }
  grid->SetMaterialReference(model->FindMaterialById("material0"));
  return model;
}

TModelDef* Model() {
  static TModelDef* model = MakeModel();
  return model;
}

const std::string& ModelText() {
  static const std::string text = [] {
    std::unique_ptr<TJSONObject> json(Model()->ToJSON());
    return json->ToJSON();
  }();
  return text;
}

void BM_ModelWriteJSON(benchmark::State& state) {
  TModelDef* model = Model();
  size_t bytes = 0;
  const long base = ResetPeak();
  for (auto _ : state) {
    std::unique_ptr<TJSONObject> json(model->ToJSON());
    std::string text = json->ToJSON();
    bytes = text.size();
    benchmark::DoNotOptimize(text.data());
    state.PauseTiming();
    json.reset();
    text = std::string();
    state.ResumeTiming();
  }
  ReportPeak(state, base);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
  state.counters["text_MB"] = double(bytes) / 1048576.0;
}
BENCHMARK(BM_ModelWriteJSON)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ModelReadJSON(benchmark::State& state) {
  const std::string& text = ModelText();
  const long base = ResetPeak();
  for (auto _ : state) {
    std::unique_ptr<TJSONValue> doc(ParseJSONValue(text, true));
    TOwned<TModelDef> model(New<TModelDef>());
    model->FromJSON(doc->As<TJSONObject>());
    benchmark::DoNotOptimize(model.get());
    state.PauseTiming();
    if (model->GetMaterials().Count() != 200 || !model->FindMaterialById("material199")->GetTexture(TColorChannelDef::Normal)) {
      state.SkipWithError("read-back lost materials");
      break;
    }
    doc.reset();
    model.reset();
    state.ResumeTiming();
  }
  ReportPeak(state, base);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_ModelReadJSON)->Unit(benchmark::kMillisecond)->Iterations(3);

// RapidJSON's DOM parse of the whole model's text: the yardstick of the read.
void BM_ModelRapidJSONParse(benchmark::State& state) {
  const std::string& text = ModelText();
  for (auto _ : state) {
    auto doc = std::make_unique<rapidjson::Document>();
    doc->Parse(text.data(), text.size());
    if (doc->HasParseError()) {
      state.SkipWithError("RapidJSON parse error");
      break;
    }
    benchmark::DoNotOptimize(doc.get());
    state.PauseTiming();
    doc.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_ModelRapidJSONParse)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
