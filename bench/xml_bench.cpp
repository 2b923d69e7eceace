// XML text -> node tree, from memory, against pugixml's load_buffer of the same bytes in the
// same run. Inputs (range 0..1): a generated 10 MB dialogue-shaped file and the Ogre mesh
// Mesh.mesh.xml of the tests. Rows report bytes per second and "TreeMB", the heap the
// loaded tree holds (our reader's UTF-16 copy of the text, two bytes per character, is freed
// when loading ends and adds to the peak while it runs), measured once outside the timing.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <fstream>
#include <iterator>
#include <string>

#include "lib/game/XmlDocument.h"
#ifdef QUORVEL_HAVE_PUGIXML
#include <pugixml.hpp>
#endif

using namespace quorvel;

namespace {

std::string Dialogue() {
  std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<dialogues>\r\n";
  for (int d = 0; s.size() < 10u * 1024 * 1024; ++d) {
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
  static const std::string dialogue = Dialogue();
  static const std::string mesh = [] {
    std::ifstream in(std::string(QUORVEL_SOURCE_DIR) + "/tests/data/xml/Mesh.mesh.xml", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }();
  return AIndex == 0 ? dialogue : mesh;
}

size_t HeapInUse() { return mallinfo2().uordblks; }

void Ours(benchmark::State& state) {
  const std::string& text = Input(int(state.range(0)));
  const TBytes bytes(text.begin(), text.end());
  double treeMB = 0;
  {
    const size_t before = HeapInUse();
    TMz_XmlDocument doc;
    doc.loadFromBytes(bytes);
    treeMB = double(HeapInUse() - before) / 1048576.0;
  }
  for (auto _ : state) {
    TMz_XmlDocument doc;
    doc.loadFromBytes(bytes);
    benchmark::DoNotOptimize(doc.root());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
  state.counters["TreeMB"] = treeMB;
}
BENCHMARK(Ours)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);

#ifdef QUORVEL_HAVE_PUGIXML
void Pugixml(benchmark::State& state) {
  const std::string& text = Input(int(state.range(0)));
  double treeMB = 0;
  {
    const size_t before = HeapInUse();
    pugi::xml_document doc;
    doc.load_buffer(text.data(), text.size());
    treeMB = double(HeapInUse() - before) / 1048576.0;
  }
  for (auto _ : state) {
    pugi::xml_document doc;
    // load_buffer copies the bytes first, as our reader decodes them into its own buffer.
    const pugi::xml_parse_result result = doc.load_buffer(text.data(), text.size());
    if (!result) state.SkipWithError(result.description());
    benchmark::DoNotOptimize(doc.first_child());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
  state.counters["TreeMB"] = treeMB;
}
BENCHMARK(Pugixml)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);
#endif

}  // namespace

BENCHMARK_MAIN();
