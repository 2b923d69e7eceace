// BSON writing and reading against libbson, on the JSON tree of the 1M-vertex mesh definition
// and a generated tree of about 50 MB of BSON: writing the tree (ours: the tree writer; libbson: the
// same tree appended value by value, numbers as the doubles we write), reading tokens (ours:
// the reader's token loop; libbson: a recursive iteration touching every value), reading into
// the DOM (ours: the tree writer over the reader; libbson: its iteration building the same
// DOM). Then model files: monkey.obj's model loaded from Q3M (zipped BSON; JSON) against the
// OBJ load of the same file, and the 1M-vertex mesh's model from zipped BSON. Throughput is
// bytes of BSON per second; compare the rows of one run.
#include <benchmark/benchmark.h>
#include <bson/bson.h>

#include <array>
#include <filesystem>
#include <memory>
#include <string>

#include "bench/GridMesh.h"
#include "framework/io/Json.h"
#include "framework/io/JsonReaderWriter.h"
#include "framework/io/Stream.h"
#include "framework/rtl/Units.h"
#include "lib/defs/DefTypes.h"
#include "lib/formats/BSONWriter.h"
#include "lib/formats/JSONBSON.h"
#include "lib/formats/Loader.h"
#include "lib/formats/q3m/Q3MExporter.h"
#include "lib/formats/q3m/Q3MLoader.h"

using namespace quorvel;

namespace {

// ---- the trees ----------------------------------------------------------------------------------

TJSONObject* GeneratedTree() {
  auto* root = new TJSONObject();
  for (int i = 0; i < 37000; ++i) {
    auto* item = new TJSONObject();
    item->AddPair("Id", "item-" + std::to_string(i));
    item->AddPair("Visible", i % 3 != 0);
    item->AddPair("Weight", 0.001 * i);
    item->AddPair("Note", new TJSONNull());
    auto* values = new TJSONArray();
    for (int k = 0; k < 100; ++k) values->Add(new TJSONNumber(double(i) * 0.5 + k));
    item->AddPair("Values", values);
    auto* tags = new TJSONArray();
    for (int k = 0; k < 8; ++k) tags->Add(new TJSONString("tag " + std::to_string(k * i)));
    item->AddPair("Tags", tags);
    // Appended, not "n" + ...: g++ 12 at -O3 takes that concatenation for an overlapping copy.
    std::string name = "n";
    name += std::to_string(i);
    root->AddPair(name, item);
  }
  return root;
}

// Each tree is built on first use, so a run of one row builds only its own.
const TJSONObject* Tree(int AWhich) {
  if (AWhich == 0) {
    static TJSONObject* mesh = [] {
      TOwned<TMeshDef> def(MakeGridMesh());
      return def->ToJSON();
    }();
    return mesh;
  }
  static TJSONObject* generated = GeneratedTree();
  return generated;
}

std::string OurBson(const TJSONValue* AValue) {
  TBytesStream out;
  {
    TQuorvelBSONWriter w(&out);
    w.WriteJsonValue(AValue);
  }
  return std::string(reinterpret_cast<const char*>(out.GetMemory()), size_t(out.GetSize()));
}

const std::string& Bson(int AWhich) {
  if (AWhich == 0) {
    static const std::string mesh = OurBson(Tree(0));
    return mesh;
  }
  static const std::string generated = OurBson(Tree(1));
  return generated;
}

// ---- libbson's side -----------------------------------------------------------------------------

void AppendValue(bson_t* ADoc, const char* AKey, int AKeyLength, const TJSONValue* AValue);

void AppendMembers(bson_t* ADoc, const TJSONValue* AValue) {
  if (AValue->Kind() == TJSONValue::TKind::Object) {
    for (const TJSONPair* pair : *static_cast<const TJSONObject*>(AValue))
      AppendValue(ADoc, pair->GetName().c_str(), int(pair->GetName().size()), pair->GetJsonValue());
  } else if (AValue->Kind() == TJSONValue::TKind::Array) {
    const auto* array = static_cast<const TJSONArray*>(AValue);
    char key[16];
    for (int i = 0; i < array->Count(); ++i) {
      const char* k = nullptr;
      const size_t n = bson_uint32_to_string(uint32_t(i), &k, key, sizeof key);
      AppendValue(ADoc, k, int(n), array->Items(i));
    }
  }
}

void AppendValue(bson_t* ADoc, const char* AKey, int AKeyLength, const TJSONValue* AValue) {
  switch (AValue->Kind()) {
    case TJSONValue::TKind::Null: bson_append_null(ADoc, AKey, AKeyLength); break;
    case TJSONValue::TKind::Bool:
      bson_append_bool(ADoc, AKey, AKeyLength, static_cast<const TJSONBool*>(AValue)->AsBoolean());
      break;
    case TJSONValue::TKind::Number:
      bson_append_double(ADoc, AKey, AKeyLength, static_cast<const TJSONNumber*>(AValue)->AsDouble());
      break;
    case TJSONValue::TKind::String: {
      const std::string_view text = static_cast<const TJSONString*>(AValue)->Text();
      bson_append_utf8(ADoc, AKey, AKeyLength, text.data(), int(text.size()));
      break;
    }
    case TJSONValue::TKind::Object: {
      bson_t child;
      bson_append_document_begin(ADoc, AKey, AKeyLength, &child);
      AppendMembers(&child, AValue);
      bson_append_document_end(ADoc, &child);
      break;
    }
    case TJSONValue::TKind::Array: {
      bson_t child;
      bson_append_array_begin(ADoc, AKey, AKeyLength, &child);
      AppendMembers(&child, AValue);
      bson_append_array_end(ADoc, &child);
      break;
    }
  }
}

size_t Touch(bson_iter_t* AIter) {
  size_t n = 0;
  while (bson_iter_next(AIter)) {
    ++n;
    switch (bson_iter_type(AIter)) {
      case BSON_TYPE_DOCUMENT:
      case BSON_TYPE_ARRAY: {
        bson_iter_t child;
        bson_iter_recurse(AIter, &child);
        n += Touch(&child);
        break;
      }
      case BSON_TYPE_DOUBLE: benchmark::DoNotOptimize(bson_iter_double(AIter)); break;
      case BSON_TYPE_UTF8: benchmark::DoNotOptimize(bson_iter_utf8(AIter, nullptr)); break;
      case BSON_TYPE_BOOL: benchmark::DoNotOptimize(bson_iter_bool(AIter)); break;
      default: break;
    }
  }
  return n;
}

TJSONValue* ToDom(bson_iter_t* AIter, bool AArray) {
  TJSONObject* object = AArray ? nullptr : new TJSONObject();
  TJSONArray* array = AArray ? new TJSONArray() : nullptr;
  while (bson_iter_next(AIter)) {
    TJSONValue* value = nullptr;
    switch (bson_iter_type(AIter)) {
      case BSON_TYPE_DOCUMENT:
      case BSON_TYPE_ARRAY: {
        bson_iter_t child;
        bson_iter_recurse(AIter, &child);
        value = ToDom(&child, bson_iter_type(AIter) == BSON_TYPE_ARRAY);
        break;
      }
      case BSON_TYPE_DOUBLE: value = new TJSONNumber(bson_iter_double(AIter)); break;
      case BSON_TYPE_UTF8: {
        uint32_t n = 0;
        const char* s = bson_iter_utf8(AIter, &n);
        value = new TJSONString(std::string_view(s, n));
        break;
      }
      case BSON_TYPE_BOOL: value = new TJSONBool(bson_iter_bool(AIter)); break;
      default: value = new TJSONNull(); break;
    }
    if (array)
      array->Add(value);
    else
      object->AddPair(std::string(bson_iter_key(AIter), bson_iter_key_len(AIter)), value);
  }
  return array ? static_cast<TJSONValue*>(array) : object;
}

void Label(benchmark::State& state, int AWhich) {
  state.SetLabel(AWhich == 0 ? "1M-vertex mesh" : "generated tree");
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Bson(AWhich).size()));
  state.counters["bson_MB"] = double(Bson(AWhich).size()) / 1048576.0;
}

// ---- writing ------------------------------------------------------------------------------------

void BM_OurWrite(benchmark::State& state) {
  const int which = int(state.range(0));
  const TJSONObject* tree = Tree(which);
  for (auto _ : state) {
    TBytesStream out;
    {
      TQuorvelBSONWriter w(&out);
      w.WriteJsonValue(tree);
    }
    benchmark::DoNotOptimize(out.GetMemory());
  }
  Label(state, which);
}
BENCHMARK(BM_OurWrite)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(1.0);

void BM_LibbsonWrite(benchmark::State& state) {
  const int which = int(state.range(0));
  const TJSONObject* tree = Tree(which);
  for (auto _ : state) {
    bson_t* doc = bson_new();
    AppendMembers(doc, tree);
    benchmark::DoNotOptimize(bson_get_data(doc));
    bson_destroy(doc);
  }
  Label(state, which);
}
BENCHMARK(BM_LibbsonWrite)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// ---- reading ------------------------------------------------------------------------------------

// Runs ARead over the chosen document's bytes once per iteration.
template <class F>
void ReadRun(benchmark::State& state, F ARead) {
  const int which = int(state.range(0));
  const std::string& bytes = Bson(which);
  for (auto _ : state) ARead(bytes);
  Label(state, which);
}

// Ours reads from a stream holding its own copy of the bytes; libbson gets the same copy. Both
// copies are one allocation and one block copy.
template <class F>
void OverOurReader(const std::string& ABytes, F AUse) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(ABytes.data());
  TBytesStream in(TBytes(bytes, bytes + ABytes.size()));
  TBsonReader r(&in);
  AUse(r);
}

template <class F>
void OverLibbsonIterator(const std::string& ABytes, F AUse) {
  std::string copy = ABytes;
  bson_t doc;
  bson_init_static(&doc, reinterpret_cast<const uint8_t*>(copy.data()), copy.size());
  bson_iter_t it;
  bson_iter_init(&it, &doc);
  AUse(&it);
}

void BM_OurReadTokens(benchmark::State& state) {
  ReadRun(state, [](const std::string& ABytes) {
    OverOurReader(ABytes, [](TBsonReader& r) {
      size_t n = 0;
      while (r.Read()) ++n;
      benchmark::DoNotOptimize(n);
    });
  });
}
BENCHMARK(BM_OurReadTokens)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(1.0);

void BM_LibbsonIterate(benchmark::State& state) {
  ReadRun(state, [](const std::string& ABytes) {
    OverLibbsonIterator(ABytes, [](bson_iter_t* it) { benchmark::DoNotOptimize(Touch(it)); });
  });
}
BENCHMARK(BM_LibbsonIterate)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(1.0);

void BM_OurReadDom(benchmark::State& state) {
  ReadRun(state, [](const std::string& ABytes) {
    OverOurReader(ABytes, [](TBsonReader& r) {
      TJsonObjectWriter w;
      w.WriteToken(r);
      std::unique_ptr<TJSONValue> dom(w.ReleaseJSON());
      benchmark::DoNotOptimize(dom.get());
    });
  });
}
BENCHMARK(BM_OurReadDom)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(1.0);

void BM_LibbsonReadDom(benchmark::State& state) {
  ReadRun(state, [](const std::string& ABytes) {
    OverLibbsonIterator(ABytes, [](bson_iter_t* it) {
      std::unique_ptr<TJSONValue> dom(ToDom(it, false));
      benchmark::DoNotOptimize(dom.get());
    });
  });
}
BENCHMARK(BM_LibbsonReadDom)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// ---- model files --------------------------------------------------------------------------------

const std::string Monkey = [] {
  namespace fs = std::filesystem;
  return (fs::path(__FILE__).parent_path().parent_path() / "demo" / "assets" / "monkey.obj").string();
}();

void Units() {
  static bool done = [] {
    InitializeUnits();
    return true;
  }();
  (void)done;
}

std::string Q3M(TModelDef* AModel, TQuorvelQ3MFormat AFormat, bool AZipped) {
  TQuorvelQ3MExporter exporter;
  exporter.SetFormat(AFormat);
  TQuorvelQ3MOptions options;
  options.Set(TQuorvelQ3MOption::Zipped, AZipped);
  exporter.SetOptions(options);
  TBytesStream out;
  exporter.SaveToStream(AModel, &out);
  return std::string(reinterpret_cast<const char*>(out.GetMemory()), size_t(out.GetSize()));
}

// 0: monkey, zipped BSON; 1: monkey, JSON; 2: the 1M-vertex mesh's model, zipped BSON.
const std::string& ModelFile(int AWhich) {
  static const std::array<std::string, 3> files = [] {
    Units();
    TOwned<TModelDef> monkey(TQuorvelLoader::LoadUndefinedModelDefFromFile(nullptr, Monkey));
    TOwned<TModelDef> grid(New<TModelDef>(nullptr, nullptr));
    grid->SetId("grid");
    grid->AddMesh(MakeGridMesh());
    return std::array<std::string, 3>{Q3M(monkey.get(), TQuorvelQ3MFormat::BSONFormat, true),
                                      Q3M(monkey.get(), TQuorvelQ3MFormat::JSONFormat, false),
                                      Q3M(grid.get(), TQuorvelQ3MFormat::BSONFormat, true)};
  }();
  return files[AWhich];
}

void BM_Q3MLoad(benchmark::State& state) {
  const int which = int(state.range(0));
  const std::string& bytes = ModelFile(which);
  for (auto _ : state) {
    TBytesStream in(TBytes(bytes.begin(), bytes.end()));
    TQuorvelLoaderQ3M loader;
    TOwned<TModelDef> model(
        loader.LoadModelDefFromStream(&in, TQuorvelLoadOptions::Create("model.q3m", nullptr, nullptr)));
    benchmark::DoNotOptimize(model.get());
  }
  static const char* const labels[] = {"monkey, zipped BSON", "monkey, JSON", "1M-vertex mesh, zipped BSON"};
  state.SetLabel(labels[which]);
  state.counters["file_KB"] = double(bytes.size()) / 1024.0;
}
BENCHMARK(BM_Q3MLoad)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->MinTime(1.0);

void BM_ObjLoadMonkey(benchmark::State& state) {
  Units();
  for (auto _ : state) {
    TOwned<TModelDef> model(TQuorvelLoader::LoadUndefinedModelDefFromFile(nullptr, Monkey));
    benchmark::DoNotOptimize(model.get());
  }
  state.counters["file_KB"] = double(std::filesystem::file_size(Monkey)) / 1024.0;
}
BENCHMARK(BM_ObjLoadMonkey)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace

BENCHMARK_MAIN();
