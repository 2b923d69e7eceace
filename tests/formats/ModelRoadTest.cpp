// The model road: every way a model comes from a file or a stream (the loader's dispatch and
// the model component's forms), with and without a package and caching, for both registered
// formats, and the message for an extension no reader takes.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "OBJSupport.h"
#include "framework/io/Stream.h"
#include "lib/defs/DefTypesAnimation.h"
#include "lib/defs/DefTypesModel.h"
#include "lib/formats/Loader.h"
#include "lib/formats/assets/AssetsManager.h"
#include "lib/formats/q3m/Q3MExporter.h"
#include "lib/scene/Model.h"
#include "tests/animation/StripRig.h"
#include "tests/support/MemoryBufferObject.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using TCaching = TAnimationCachingFlags;

// Loads APath (from AStream for the stream forms) into a model owned by AOwner.
using TLoad = std::function<TQuorvelModel*(TComponent* AOwner, TQuorvelAssetsPackage* APackage, TStream* AStream,
                                           const std::string& APath, const TCaching& ACaching)>;

TQuorvelLoadOptions Options(TQuorvelAssetsPackage* APackage, const std::string& APath, const TCaching& ACaching) {
  return TQuorvelLoadOptions::Create(APath, ACaching, APackage, nullptr);
}

TQuorvelModel* Existing(TComponent* AOwner) { return New<TQuorvelModel>(AOwner); }

struct TRoad {
  const char* Name;
  bool FromStream;
  TLoad Load;
};

const TRoad Roads[] = {
    {"loader, new from file", false,
     [](TComponent* o, TQuorvelAssetsPackage* p, TStream*, const std::string& f, const TCaching& c) {
       return TQuorvelLoader::LoadUndefinedModelFromFile(o, p, f, c);
     }},
    {"loader, new from file, options", false,
     [](TComponent* o, TQuorvelAssetsPackage* p, TStream*, const std::string& f, const TCaching& c) {
       return TQuorvelLoader::LoadUndefinedModelFromFile(o, Options(p, f, c));
     }},
    {"loader, existing from file", false,
     [](TComponent* o, TQuorvelAssetsPackage* p, TStream*, const std::string& f, const TCaching& c) {
       TQuorvelModel* m = Existing(o);
       TQuorvelLoader::LoadUndefinedExistingModelFromFile(m, p, f, c);
       return m;
     }},
    {"loader, existing from file, options naming .q3m", false,
     [](TComponent* o, TQuorvelAssetsPackage* p, TStream*, const std::string& f, const TCaching& c) {
       TQuorvelModel* m = Existing(o);
       TQuorvelLoadOptions options = Options(p, f, c);
       options.FileInfo.Ext = ".q3m";  // dropped: the file's own extension picks the reader
       TQuorvelLoader::LoadUndefinedExistingModelFromFile(m, options);
       return m;
     }},
    {"loader, new from stream", true,
     [](TComponent* o, TQuorvelAssetsPackage* p, TStream* s, const std::string& f, const TCaching& c) {
       return TQuorvelLoader::LoadUndefinedModelFromStream(o, p, s, f, c);
     }},
    {"loader, new from stream, options", true,
     [](TComponent* o, TQuorvelAssetsPackage* p, TStream* s, const std::string& f, const TCaching& c) {
       return TQuorvelLoader::LoadUndefinedModelFromStream(o, s, Options(p, f, c));
     }},
    {"loader, existing from stream", true,
     [](TComponent* o, TQuorvelAssetsPackage* p, TStream* s, const std::string& f, const TCaching& c) {
       TQuorvelModel* m = Existing(o);
       TQuorvelLoader::LoadUndefinedExistingModelFromStream(m, p, s, f, c);
       return m;
     }},
    {"loader, existing from stream, options", true,
     [](TComponent* o, TQuorvelAssetsPackage* p, TStream* s, const std::string& f, const TCaching& c) {
       TQuorvelModel* m = Existing(o);
       TQuorvelLoader::LoadUndefinedExistingModelFromStream(m, s, Options(p, f, c));
       return m;
     }},
    {"model, from file", false,
     [](TComponent* o, TQuorvelAssetsPackage* p, TStream*, const std::string& f, const TCaching& c) {
       TQuorvelModel* m = Existing(o);
       m->LoadFromFile(p, f, c);
       return m;
     }},
    {"model, from file, options", false,
     [](TComponent* o, TQuorvelAssetsPackage* p, TStream*, const std::string& f, const TCaching& c) {
       TQuorvelModel* m = Existing(o);
       m->LoadFromFile(Options(p, f, c));
       return m;
     }},
    {"model, from stream", true,
     [](TComponent* o, TQuorvelAssetsPackage* p, TStream* s, const std::string& f, const TCaching& c) {
       TQuorvelModel* m = Existing(o);
       m->LoadFromStream(p, s, f, c);
       return m;
     }},
    {"model, from stream, options", true,
     [](TComponent* o, TQuorvelAssetsPackage* p, TStream* s, const std::string& f, const TCaching& c) {
       TQuorvelModel* m = Existing(o);
       m->LoadFromStream(s, Options(p, f, c));
       return m;
     }},
    {"model, new from file", false,
     [](TComponent* o, TQuorvelAssetsPackage* p, TStream*, const std::string& f, const TCaching& c) {
       return TQuorvelModel::LoadNewModelFromFile(o, p, f, c);
     }},
    {"model, new from file, options", false,
     [](TComponent* o, TQuorvelAssetsPackage* p, TStream*, const std::string& f, const TCaching& c) {
       return TQuorvelModel::LoadNewModelFromFile(o, Options(p, f, c));
     }},
    {"model, new from stream", true,
     [](TComponent* o, TQuorvelAssetsPackage* p, TStream* s, const std::string& f, const TCaching& c) {
       return TQuorvelModel::LoadNewModelFromStream(o, p, s, f, c);
     }},
    {"model, new from stream, options", true,
     [](TComponent* o, TQuorvelAssetsPackage* p, TStream* s, const std::string& f, const TCaching& c) {
       return TQuorvelModel::LoadNewModelFromStream(o, s, Options(p, f, c));
     }},
};

std::string FileBytes(const std::string& APath) {
  TFileStream file(APath, fmOpenRead | fmShareDenyNone);
  std::string bytes(size_t(file.GetSize()), '\0');
  file.ReadBuffer(bytes.data(), int64_t(bytes.size()));
  return bytes;
}

class ModelRoad : public ::testing::Test {
protected:
  void SetUp() override {
    FObj = FDir.Write("tri.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    // A skinned strip with the animations "Walk" and "Run", as the engine's own file.
    TStrip strip;
    strip.AddBend(0.1f)->SetId("Walk");
    strip.AddBend(0.1f)->SetId("Run");
    FQ3m = (FDir.Path() / "strip.q3m").string();
    TOwned<TQuorvelQ3MExporter> exporter(New<TQuorvelQ3MExporter>());
    exporter->SaveToFile(strip.Def.get(), FQ3m);
  }

  testkit::TScratchDir FDir;
  std::string FObj, FQ3m;
  test::TMemoryBufferClassScope FMemory;

  // Every road of one kind (file or stream forms) with both formats, with and without a
  // package, and for the animated Q3M also with caching.
  void LoadEveryWay(bool AFromStream);
};

void ModelRoad::LoadEveryWay(bool AFromStream) {
  const TCaching baked{TAnimationCachingFlag::Compressed, TAnimationCachingFlag::VertexPosition};
  for (const TRoad& road : Roads)
    for (const std::string& file : {FQ3m, FObj})
      for (bool packaged : {false, true})
        for (const TCaching& caching : {TCaching{}, baked}) {
          if (road.FromStream != AFromStream || (file == FObj && !caching.IsEmpty())) continue;
          SCOPED_TRACE(std::string(road.Name) + ", " + fs::path(file).filename().string() +
                       (packaged ? ", package" : "") + (caching.IsEmpty() ? "" : ", caching"));
          TOwned<TComponent> root(New<TComponent>(nullptr));
          auto* manager = New<TQuorvelAssetsManager>(root.get());
          TQuorvelAssetsPackage* package = packaged ? manager->AddEmptyPackage("pkg") : nullptr;
          TOwned<TComponent> owner(New<TComponent>(nullptr));  // the models go before the package
          const std::string bytes = FileBytes(file);
          TBytesStream stream(TBytes(bytes.begin(), bytes.end()));
          TQuorvelModel* model = road.Load(owner.get(), package, &stream, file, caching);
          ASSERT_NE(model, nullptr);
          EXPECT_EQ(model->GetOwner(), owner.get());
          TModelDef* def = model->GetModelDef();
          ASSERT_NE(def, nullptr);
          EXPECT_FALSE(model->Children().empty());
          if (file == FQ3m)
            for (const char* id : {"Walk", "Run"}) {
              EXPECT_NE(model->GetAnimationManager()->GetAnimation(id), nullptr) << id;
              EXPECT_EQ(def->FindAnimationById(id)->GetBufferingState(),
                        caching.IsEmpty() ? TAnimationBufferingState::None : TAnimationBufferingState::Ready)
                  << id;
            }
          EXPECT_EQ(def->GetPackage(), package);
          if (!package) continue;
          auto* asset = dynamic_cast<TQuorvelModelAsset*>(package->FindAsset(file, false));
          ASSERT_NE(asset, nullptr);
          EXPECT_EQ(asset->GetModel(), def);
          // The package answers from now on: neither the file nor the stream is read.
          const std::string away = file + ".away";
          fs::rename(file, away);
          TBytesStream empty(TBytes{});
          TQuorvelModel* again = road.Load(owner.get(), package, &empty, file, caching);
          fs::rename(away, file);
          ASSERT_NE(again, nullptr);
          EXPECT_EQ(again->GetModelDef(), def);
          EXPECT_FALSE(again->Children().empty());
        }
}

TEST_F(ModelRoad, FileFormsLoadBothFormatsWithAndWithoutPackageAndCaching) { LoadEveryWay(false); }

TEST_F(ModelRoad, StreamFormsLoadBothFormatsWithAndWithoutPackageAndCaching) { LoadEveryWay(true); }

TEST_F(ModelRoad, AnExtensionWithoutReaderNamesTheFile) {
  const std::string fbx = FDir.Write("model.fbx", "v 0 0 0\n");
  for (const TRoad& road : Roads)
    for (bool packaged : {false, true}) {
      SCOPED_TRACE(std::string(road.Name) + (packaged ? ", package" : ""));
      TOwned<TComponent> root(New<TComponent>(nullptr));
      auto* manager = New<TQuorvelAssetsManager>(root.get());
      TQuorvelAssetsPackage* package = packaged ? manager->AddEmptyPackage("pkg") : nullptr;
      TOwned<TComponent> owner(New<TComponent>(nullptr));
      TBytesStream stream(TBytes{});
      try {
        road.Load(owner.get(), package, &stream, fbx, {});
        ADD_FAILURE() << "nothing raised";
      } catch (const EQuorvelLoaderException& e) {
        EXPECT_EQ(std::string(e.what()), "model format not supported: " + fbx);
      }
      // Nothing was built: an existing model stays empty.
      for (int i = 0; i < owner->GetComponentCount(); ++i) {
        auto* model = dynamic_cast<TQuorvelModel*>(owner->GetComponents(i));
        EXPECT_TRUE(!model || !model->GetModelDef());
      }
    }
}

TEST_F(ModelRoad, AnimationsOfTheRegisteredFormatsAreNotReadOnTheirOwn) {
  TOwned<TQuorvelModel> model(New<TQuorvelModel>(nullptr));
  model->LoadFromFile(FObj);
  const TCaching baked{TAnimationCachingFlag::Compressed};
  EXPECT_EQ(model->AddAnimationFromFile(FObj, baked), nullptr);
  TBytesStream stream(TBytes{});
  EXPECT_EQ(model->AddAnimationFromStream(&stream, "walk.q3m", baked), nullptr);
  EXPECT_EQ(MessageOf([&] { model->AddAnimationFromFile(FDir.Write("walk.fbx", ""), baked); }),
            "model format not supported: " + (FDir.Path() / "walk.fbx").string());
}

}  // namespace
}  // namespace quorvel
