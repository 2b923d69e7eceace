// Model files: header bytes, the four body variants read back without loss, damaged and odd
// files, the exporter registry and the replace-only-when-complete save.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "OBJSupport.h"
#include "framework/io/Json.h"
#include "framework/io/Stream.h"
#include "framework/io/ZLib.h"
#include "framework/rtl/Finally.h"
#include "lib/defs/DefTypes.h"
#include "lib/formats/JSON.h"
#include "lib/formats/q3m/Q3MExporter.h"
#include "lib/formats/q3m/Q3MLoader.h"
#include "tests/support/KitchenSinkModel.h"

namespace quorvel {
namespace {

using testkit::ErrorOf;
using testkit::TScratchDir;

const std::string Q3MObjDir = std::string(QUORVEL_TEST_DATA_DIR) + "/obj/";
const std::string Q3MDemoDir = std::string(QUORVEL_TEST_DATA_DIR) + "/../../demo/assets/";

TQuorvelQ3MOptions Opts(std::initializer_list<TQuorvelQ3MOption> AList) {
  TQuorvelQ3MOptions o;
  for (auto x : AList) o.Set(x, true);
  return o;
}

TOwned<TModelDef> ModelFromText(const std::string& AText) {
  TOwned<TJSONValue> json(ParseJSONValue(AText, true));
  TOwned<TModelDef> def(New<TModelDef>(nullptr, nullptr));
  def->FromJSON(dynamic_cast<TJSONObject*>(json.get()));
  return def;
}

std::string Text(const TModelDef* AModel) {
  TOwned<TJSONObject> json(AModel->ToJSON());
  return json->ToJSON();
}

std::string Write(TModelDef* AModel, TQuorvelQ3MFormat AFormat, TQuorvelQ3MOptions AOptions) {
  TQuorvelQ3MExporter exporter;
  exporter.SetFormat(AFormat);
  exporter.SetOptions(AOptions);
  TBytesStream out;
  exporter.SaveToStream(AModel, &out);
  const TBytes& b = out.GetBytes();
  return std::string(b.begin(), b.begin() + out.GetSize());
}

TOwned<TModelDef> Read(const std::string& ABytes, const std::string& APath = "m.q3m") {
  TBytesStream in(TBytes(ABytes.begin(), ABytes.end()));
  TQuorvelLoaderQ3M loader;
  return TOwned<TModelDef>(loader.LoadModelDefFromStream(&in, TQuorvelLoadOptions::Create(APath, nullptr, nullptr)));
}

// A file of a given header and raw body.
std::string File(uint32_t AFormat, uint8_t AOptions, const std::string& ABody) {
  std::string h(32, '\0');
  std::memcpy(h.data(), "Quorvel3D ", 10);
  h[12] = 4;
  std::memcpy(h.data() + 24, &AFormat, 4);
  h[28] = char(AOptions);
  return h + ABody;
}

const char* const SmallModel =
    R"({"Id":"Small","Materials":[{"Id":"Écorce d'érable","Kind":2}],)"
    R"("Children":[{"Type":"Quorvel.DefTypes.TMeshDef","Id":"Böx","Material":"Écorce d'érable"}]})";

TEST(Q3M, LargeStringBuilderGrowsByWholeBlocksOfTheWholeNeed) {
  TLargeStringBuilder b;
  struct TStep {
    size_t Length;
    int64_t Position, Capacity;
  } steps[] = {{0, 0, 0}, {10, 10, 4096}, {4086, 4096, 4096}, {914, 5010, 4096 + 8192}, {7278, 12288, 12288},
               {1, 12289, 12288 + 16384}};
  std::string all;
  for (const TStep& step : steps) {
    const std::string piece(step.Length, char('a' + all.size() % 26));
    b.Append(piece);
    all += piece;
    EXPECT_EQ(b.GetPosition(), step.Position);
    EXPECT_EQ(b.GetCapacity(), step.Capacity);
  }
  EXPECT_EQ(b.ToString(), all);
  b.Clear();
  EXPECT_EQ(b.GetPosition(), 0);
  EXPECT_EQ(b.GetCapacity(), 0);
  b.Append("Écorce");  // UTF-8 bytes as they are
  EXPECT_EQ(b.ToString(), "Écorce");
}

TEST(Q3M, HeaderBytes) {
  TOwned<TModelDef> model = ModelFromText(SmallModel);
  TQuorvelQ3MExporter exporter;  // defaults: JSON, Beautified
  TBytesStream out;
  exporter.SaveToStream(model.get(), &out);
  std::string bytes(out.GetBytes().begin(), out.GetBytes().begin() + out.GetSize());
  ASSERT_GT(bytes.size(), 33u);
  EXPECT_EQ(bytes.substr(0, 16), std::string("Quorvel3D \0\0\x04\0\0\0", 16));
  EXPECT_EQ(bytes.substr(24, 8), std::string("\x01\0\0\0\x04\0\0\0", 8));
  double stamp;
  std::memcpy(&stamp, bytes.data() + 16, 8);
  EXPECT_NEAR(stamp, Now().Value, 1.0 / 24);
  TOwned<TJSONObject> json(model->ToJSON());
  EXPECT_EQ(bytes.substr(32), JSONToIndentedString(json.get()));
  EXPECT_EQ(bytes.substr(32, 2), "{\n");

  // One time stamp per exporter.
  TBytesStream again;
  exporter.SaveToStream(model.get(), &again);
  EXPECT_EQ(std::memcmp(again.GetBytes().data() + 16, bytes.data() + 16, 8), 0);

  const std::string zipped = Write(model.get(), TQuorvelQ3MFormat::BSONFormat, Opts({TQuorvelQ3MOption::Zipped}));
  EXPECT_EQ(zipped.substr(24, 8), std::string("\0\0\0\0\x02\0\0\0", 8));
  EXPECT_EQ(uint8_t(zipped[32]), 0x78);
  EXPECT_EQ(uint8_t(zipped[33]), 0x9C);  // default level
  const std::string both =
      Write(model.get(), TQuorvelQ3MFormat::BSONFormat,
            Opts({TQuorvelQ3MOption::Zipped, TQuorvelQ3MOption::FastestCompression, TQuorvelQ3MOption::MaxCompression}));
  EXPECT_EQ(uint8_t(both[32]), 0x78);
  EXPECT_EQ(uint8_t(both[33]), 0x01);  // fastest wins
  const std::string best =
      Write(model.get(), TQuorvelQ3MFormat::BSONFormat, Opts({TQuorvelQ3MOption::Zipped, TQuorvelQ3MOption::MaxCompression}));
  EXPECT_EQ(uint8_t(best[33]), 0xDA);
}

// Every variant reads back as what the model's own JSON form gives.
void ExpectRoundTrips(TModelDef* AModel, const std::string& AWhat) {
  TOwned<TModelDef> reference(New<TModelDef>(nullptr, nullptr));
  reference->SetFilename(AModel->GetFilename());
  {
    TOwned<TJSONObject> json(AModel->ToJSON());
    reference->FromJSON(json.get());
  }
  const std::string expected = Text(reference.get());
  for (auto format : {TQuorvelQ3MFormat::BSONFormat, TQuorvelQ3MFormat::JSONFormat})
    for (bool zipped : {false, true}) {
      SCOPED_TRACE(AWhat + (format == TQuorvelQ3MFormat::BSONFormat ? " BSON" : " JSON") + (zipped ? " zipped" : ""));
      TQuorvelQ3MOptions options = Opts({TQuorvelQ3MOption::Beautified});
      options.Set(TQuorvelQ3MOption::Zipped, zipped);
      TOwned<TModelDef> back = Read(Write(AModel, format, options), AModel->GetFilename());
      EXPECT_EQ(Text(back.get()), expected);
    }
}

TEST(Q3M, VariantsReadBackWithoutLoss) {
  TOwned<TModelDef> small = ModelFromText(SmallModel);
  ExpectRoundTrips(small.get(), "accented");
  TOwned<TModelDef> sink = ModelFromText(testkit::KitchenSinkModel());
  ExpectRoundTrips(sink.get(), "kitchen sink");
  TOwned<TModelDef> back = Read(Write(small.get(), TQuorvelQ3MFormat::JSONFormat, Opts({})));
  EXPECT_EQ(back->GetMaterials().begin()->Key, "Écorce d'érable");

  std::vector<std::string> files = {Q3MDemoDir + "monkey.obj"};
  for (const auto& entry : std::filesystem::directory_iterator(Q3MObjDir))
    if (entry.path().extension() == ".obj") files.push_back(entry.path().string());
  int tried = 0;
  for (const auto& file : files) {
    TOwned<TModelDef> model;
    try {
      model.reset(TQuorvelLoader::LoadUndefinedModelDefFromFile(nullptr, file));
    } catch (const Exception&) {
      continue;  // the OBJ reader's own bad-input files
    }
    ++tried;
    ExpectRoundTrips(model.get(), file);
  }
  EXPECT_GE(tried, 9);
}

TEST(Q3M, ReaderNumbersItsModels) {
  const int32_t before = TQuorvelLoaderQ3M::GetModelCounter();
  TOwned<TModelDef> back = Read(File(1, 0, R"({"Children":[]})"), "dir/x.q3m");
  EXPECT_EQ(back->GetId(), "Q3MModel" + std::to_string(before + 1));
  // An id in the file wins.
  EXPECT_EQ(Read(File(1, 0, R"({"Id":"Mine"})"))->GetId(), "Mine");
}

TEST(Q3M, OddAndDamagedFiles) {
  TOwned<TModelDef> model = ModelFromText(SmallModel);
  const std::string expected = Text(Read(Write(model.get(), TQuorvelQ3MFormat::JSONFormat, Opts({}))).get());
  const std::string json = Write(model.get(), TQuorvelQ3MFormat::JSONFormat, Opts({})).substr(32);

  // gzip body under Zipped.
  {
    TBytesStream gz;
    {
      TZCompressionStream z(&gz, clDefault, 15 + 16);
      z.WriteBuffer(json.data(), int64_t(json.size()));
      z.Finish();
    }
    std::string body(gz.GetBytes().begin(), gz.GetBytes().begin() + gz.GetSize());
    ASSERT_EQ(uint8_t(body[0]), 0x1F);
    EXPECT_EQ(Text(Read(File(1, 0x02, body)).get()), expected);
  }
  // Tag, version and time stamp are not checked; the padding is ignored.
  {
    std::string f = File(1, 0x04, json);
    for (int i = 0; i < 24; ++i) f[i] = char(0xA5 ^ i);
    f[29] = f[31] = 'x';
    EXPECT_EQ(Text(Read(f).get()), expected);
  }
  // The header need not be at the stream's start: the body is what follows it.
  {
    const std::string f = File(1, 0, json);
    std::string padded = "prefix" + f;
    TBytesStream in(TBytes(padded.begin(), padded.end()));
    in.SetPosition(6);
    TQuorvelLoaderQ3M loader;
    TOwned<TModelDef> back(loader.LoadModelDefFromStream(&in, TQuorvelLoadOptions::Create("m.q3m", nullptr, nullptr)));
    EXPECT_EQ(Text(back.get()), expected);
  }

  struct TCase {
    const char* What;
    std::string Bytes;
    std::string Message;
  };
  const TCase cases[] = {
      {"empty stream", "", "invalid Q3M header"},
      {"31 bytes", File(0, 0, "").substr(0, 31), "invalid Q3M header"},
      {"format 2", File(2, 0, json), "invalid Q3M format set"},
      {"32 bytes, BSON", File(0, 0, ""), "failed to read bson data"},
      {"32 bytes, JSON", File(1, 0, ""), "failed to read json data"},
      {"JSON not parsing", File(1, 0, "{\"Id\":"), "failed to read json data"},
      {"array root", File(1, 0, "[1,2]"), "Invalid class typecast"},
      {"corrupt zip", File(1, 0x02, "\x78\x9c garbage"), ""},
      {"package", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    if (std::string(c.What) == "package") {
      TObject package;
      TBytesStream in(TBytes(json.begin(), json.end()));
      TQuorvelLoaderQ3M loader;
      EXPECT_EQ(ErrorOf([&] {
                  delete loader.LoadModelDefFromStream(&in, TQuorvelLoadOptions::Create("m.q3m", &package, nullptr));
                }),
                "Invalid class typecast");  // the package must be an asset package
      continue;
    }
    const std::string error = ErrorOf([&] { Read(c.Bytes); });
    if (c.Message.empty())
      EXPECT_FALSE(error.empty());
    else
      EXPECT_EQ(error, c.Message);
    EXPECT_EQ(TQuorvelLoader::GetCurrentLoaderThreadInfo().Loader, nullptr);
  }

  // Every prefix of a small file fails cleanly, in each variant.
  TOwned<TModelDef> tiny = ModelFromText(R"({"Id":"T","MetaData":{"Title":"é"}})");
  for (auto format : {TQuorvelQ3MFormat::BSONFormat, TQuorvelQ3MFormat::JSONFormat})
    for (bool zipped : {false, true}) {
      const std::string f = Write(tiny.get(), format, zipped ? Opts({TQuorvelQ3MOption::Zipped}) : Opts({}));
      for (size_t n = 0; n < f.size(); ++n) {
        SCOPED_TRACE(n);
        EXPECT_NE(ErrorOf([&] { Read(f.substr(0, n)); }), "");
      }
      EXPECT_EQ(ErrorOf([&] { Read(f); }), "");
    }
}

TEST(Q3M, InflateCap) {
  TOwned<TModelDef> model = ModelFromText(SmallModel);
  const std::string f = Write(model.get(), TQuorvelQ3MFormat::JSONFormat, Opts({TQuorvelQ3MOption::Zipped}));
  const uint64_t old = TQuorvelLoaderQ3M::GetMaxInflatedSize();
  auto restore = Finally([&] { TQuorvelLoaderQ3M::SetMaxInflatedSize(old); });
  TQuorvelLoaderQ3M::SetMaxInflatedSize(10);
  try {
    Read(f);
    ADD_FAILURE() << "read past the cap";
  } catch (const EZDecompressionError&) {
  }
  TQuorvelLoaderQ3M::SetMaxInflatedSize(f.size() * 20);
  EXPECT_EQ(ErrorOf([&] { Read(f); }), "");
}

class TCountingExporter : public TQuorvelExporter {
public:
  explicit TCountingExporter(int* AFreed) : FFreed(AFreed) {}
  ~TCountingExporter() override { ++*FFreed; }
  void SaveToFile(TModelDef*, const std::string&) override {}
  void SaveToStream(TModelDef*, TStream*) override {}

private:
  int* FFreed;
};

TEST(Q3M, ExporterRegistry) {
  EXPECT_NE(dynamic_cast<TQuorvelQ3MExporter*>(TQuorvelExporter::GetExporter(".q3m")), nullptr);
  EXPECT_EQ(TQuorvelExporter::GetExporter(".Q3M"), nullptr);

  int freed = 0;
  auto* first = new TCountingExporter(&freed);
  TQuorvelExporter::RegisterExporter(".probe", first);
  TQuorvelExporter::RegisterExporter(".probe", first);  // the one held: kept
  EXPECT_EQ(freed, 0);
  EXPECT_EQ(TQuorvelExporter::GetExporter(".probe"), first);
  TQuorvelExporter::RegisterExporter(".probe", new TCountingExporter(&freed));
  EXPECT_EQ(freed, 1);
  TQuorvelExporter::UnregisterExporter(".probe");
  EXPECT_EQ(freed, 2);
  EXPECT_EQ(TQuorvelExporter::GetExporter(".probe"), nullptr);
  TQuorvelExporter::UnregisterExporter(".probe");  // nothing left: nothing happens
}

TEST(Q3M, SaveToFileReplacesOnlyWhenComplete) {
  TScratchDir dir;
  const std::string path = (dir.Path() / "m.q3m").string();
  TOwned<TModelDef> model = ModelFromText(SmallModel);
  TQuorvelQ3MExporter::SaveModelDefToFile(model.get(), path, TQuorvelQ3MFormat::BSONFormat,
                                          Opts({TQuorvelQ3MOption::Zipped}));
  TOwned<TModelDef> back(TQuorvelLoader::LoadUndefinedModelDefFromFile(nullptr, path));
  EXPECT_EQ(back->GetMaterials().Count(), 1);
  const auto good = std::filesystem::file_size(path);

  // A name BSON cannot hold fails the export half way.
  model->GetMetaData()->SetTagAsString(std::string("a\0b", 3), "x");
  EXPECT_NE(ErrorOf([&] {
              TQuorvelQ3MExporter::SaveModelDefToFile(model.get(), path, TQuorvelQ3MFormat::BSONFormat, Opts({}));
            }),
            "");
  EXPECT_EQ(std::filesystem::file_size(path), good);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
  EXPECT_NE(ErrorOf([&] {
              TQuorvelQ3MExporter::SaveModelDefToFile(model.get(), (dir.Path() / "no/m.q3m").string(),
                                                      TQuorvelQ3MFormat::JSONFormat, Opts({}));
            }),
            "");
}

}  // namespace
}  // namespace quorvel
