// XML text -> node tree, from memory, against pugixml's load_buffer of the same bytes in the
// same run. Inputs (range 0..4): a generated dialogue-shaped file of 10 MB, the Ogre mesh
// Mesh.mesh.xml of the tests, and the dialogue file at 2.5, 40 and 160 MB (a quarter, four
// and sixteen times the first) to show how the time grows with the input.
// Rows report bytes per second and two memory figures, measured once outside the timing by
// counting every heap block the load takes (operator new for the engine, pugixml's own
// allocation hooks): "TreeMB", the heap the loaded document holds, and "PeakMB", the most
// heap held at any moment of the load (buffers the load frees again count here). The input
// bytes themselves are the caller's and count in neither.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <new>
#include <string>

#include "lib/game/XmlDocument.h"
#ifdef QUORVEL_HAVE_PUGIXML
#include <pugixml.hpp>
#endif

using namespace quorvel;

namespace {

// Heap held by blocks counted since the last Reset, and its highest value.
std::atomic<bool> GCounting{false};
std::atomic<int64_t> GHeld{0};
std::atomic<int64_t> GPeak{0};

void* Counted(void* APointer) {
  if (APointer && GCounting.load(std::memory_order_relaxed)) {
    const int64_t held = GHeld += int64_t(malloc_usable_size(APointer));
    int64_t peak = GPeak.load(std::memory_order_relaxed);
    while (held > peak && !GPeak.compare_exchange_weak(peak, held)) {
    }
  }
  return APointer;
}
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void Uncounted(void* APointer) {
  if (APointer && GCounting.load(std::memory_order_relaxed)) GHeld -= int64_t(malloc_usable_size(APointer));
  std::free(APointer);
}
#pragma GCC diagnostic pop

struct TMemory {
  double TreeMB = 0;
  double PeakMB = 0;
};

// Runs ALoad with counting on; ALoad answers after the document is loaded and before it is freed.
template <class F>
TMemory Measure(F ALoad) {
  TMemory m;
  GHeld = 0;
  GPeak = 0;
  GCounting = true;
  ALoad([&] { m.TreeMB = double(GHeld.load()) / 1048576.0; });
  GCounting = false;
  m.PeakMB = double(GPeak.load()) / 1048576.0;
  return m;
}

std::string Dialogue(size_t ASize) {
  std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<dialogues>\r\n";
  for (int d = 0; s.size() < ASize; ++d) {
    s += "\t<dialogue id=\"dialogue-" + std::to_string(d) + "\" name=\"Dialogue " + std::to_string(d) + "\">\r\n";
    for (int i = 0; i < 20; ++i) {
      const std::string n = std::to_string(d * 20 + i);
      s += "\t\t<item id=\"item-" + n + "\" type=\"question\" character=\"npc-" + std::to_string(i % 7) +
           "\" position=\"" + std::to_string(i * 10) + ";" + std::to_string(d) + "\" ref=\"item-" + n + "\">\r\n";
      s += "\t\t\t<texts type=\"multilingual\">\r\n";
      s += "\t\t\t\t<lang id=\"en-us\"><![CDATA[Hello traveller, have you seen the old mill by the river? (" + n +
           ")]]></lang>\r\n";
      s += "\t\t\t\t<lang id=\"de-de\"><![CDATA[Hallo Reisender, hast du die alte M\xC3\xBChle am Fluss gesehen? (" + n +
           ")]]></lang>\r\n";
      s += "\t\t\t</texts>\r\n\t\t\t<events>\r\n\t\t\t\t<event type=\"onBegin\" kind=\"property\" scope=\"ui\" "
           "property=\"Visible\" value=\"True\" />\r\n\t\t\t</events>\r\n\t\t</item>\r\n";
    }
    s += "\t</dialogue>\r\n";
  }
  return s + "</dialogues>\r\n";
}

const std::string& Input(int AIndex) {
  constexpr size_t MB = 1024 * 1024;
  static std::string inputs[5];
  std::string& input = inputs[AIndex];
  if (!input.empty()) return input;
  if (AIndex == 1) {
    std::ifstream in(std::string(QUORVEL_SOURCE_DIR) + "/tests/data/xml/Mesh.mesh.xml", std::ios::binary);
    input.assign(std::istreambuf_iterator<char>(in), {});
  } else {
    static const size_t Sizes[5] = {10 * MB, 0, 10 * MB / 4, 40 * MB, 160 * MB};
    input = Dialogue(Sizes[AIndex]);
  }
  return input;
}

void Ours(benchmark::State& state) {
  const std::string& text = Input(int(state.range(0)));
  const TBytes bytes(text.begin(), text.end());
  const TMemory memory = Measure([&](auto ALoaded) {
    TMz_XmlDocument doc;
    doc.loadFromBytes(bytes);
    ALoaded();
  });
  for (auto _ : state) {
    TMz_XmlDocument doc;
    doc.loadFromBytes(bytes);
    benchmark::DoNotOptimize(doc.root());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
  state.counters["TreeMB"] = memory.TreeMB;
  state.counters["PeakMB"] = memory.PeakMB;
}
BENCHMARK(Ours)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);

#ifdef QUORVEL_HAVE_PUGIXML
void Pugixml(benchmark::State& state) {
  pugi::set_memory_management_functions([](size_t ASize) { return Counted(std::malloc(ASize)); }, &Uncounted);
  const std::string& text = Input(int(state.range(0)));
  const TMemory memory = Measure([&](auto ALoaded) {
    pugi::xml_document doc;
    doc.load_buffer(text.data(), text.size());
    ALoaded();
  });
  for (auto _ : state) {
    pugi::xml_document doc;
    // load_buffer copies the bytes first, as our reader decodes them into its own buffer.
    const pugi::xml_parse_result result = doc.load_buffer(text.data(), text.size());
    if (!result) state.SkipWithError(result.description());
    benchmark::DoNotOptimize(doc.first_child());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
  state.counters["TreeMB"] = memory.TreeMB;
  state.counters["PeakMB"] = memory.PeakMB;
}
BENCHMARK(Pugixml)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);
#endif

}  // namespace

// Every block of the program goes through these, so the engine's loads are counted whole.
// They take their blocks from malloc, which g++ cannot see through.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(size_t ASize) {
  if (void* p = Counted(std::malloc(ASize ? ASize : 1))) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t ASize) { return operator new(ASize); }
void operator delete(void* APointer) noexcept { Uncounted(APointer); }
void operator delete[](void* APointer) noexcept { Uncounted(APointer); }
void operator delete(void* APointer, size_t) noexcept { Uncounted(APointer); }
void operator delete[](void* APointer, size_t) noexcept { Uncounted(APointer); }

BENCHMARK_MAIN();
