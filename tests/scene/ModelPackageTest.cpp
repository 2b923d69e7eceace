// A model whose source is an asset package: it loads from the package's model asset once the
// assets manager, the package name and the source are known, in whichever order they come,
// and never reads the model file again.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "framework/classes/FormText.h"
#include "framework/gui/Dialogs.h"
#include "framework/io/Stream.h"
#include "lib/defs/DefTypesBitmapCache.h"
#include "lib/defs/DefTypesMaterial.h"
#include "lib/defs/DefTypesModel.h"
#include "lib/defs/DefTypesTexture.h"
#include "lib/formats/UtilsDialogs.h"
#include "lib/formats/assets/AssetsManager.h"
#include "lib/scene/Model.h"
#include "tests/support/FormScript.h"
#include "tests/support/WindowWatch.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

const std::string DataDir = std::string(QUORVEL_TEST_DATA_DIR);

class ModelPackage : public ::testing::Test {
protected:
  void SetUp() override {
    FDir = fs::temp_directory_path() / ("quorvel-model-pkg-" + std::to_string(::getpid()));
    fs::create_directories(FDir);
    for (const char* name : {"spider.obj", "spider.mtl", "wal67ar_small.jpg", "wal69ar_small.jpg", "SpiderTex.jpg",
                             "drkwood2.jpg", "engineflare1.jpg"})
      fs::copy_file(DataDir + "/obj/" + name, FDir / name);
    FRoot.reset(New<TComponent>(nullptr));
    FManager = New<TQuorvelAssetsManager>(FRoot.get());
    FManager->SetName("Assets");
    TQuorvelAssetsPackage* package = FManager->AddEmptyPackage("pkg");
    package->SetFilename(Path("pkg.zip"));
    FAsset = dynamic_cast<TQuorvelModelAsset*>(package->AddAssetFromFile(Path("spider.obj")));
    // Only the package is left: a load that opens a model or texture file fails.
    for (const auto& entry : fs::directory_iterator(FDir))
      if (entry.path().filename() != "pkg.zip") fs::remove(entry.path());
    FOldHandler = SetShowMessageHandler([this](const std::string& AMsg) { FMessages += AMsg + "\n"; });
  }
  void TearDown() override {
    SetShowMessageHandler(FOldHandler);
    FRoot.reset();
    fs::remove_all(FDir);
  }
  std::string Path(const char* AName) const { return (FDir / AName).string(); }
  // A model of FRoot showing the package's spider.
  TQuorvelModel* PackageModel(const char* AName = "") {
    auto* model = New<TQuorvelModel>(FRoot.get());
    if (*AName) model->SetName(AName);
    model->SetAssetsManager(FManager);
    model->SetPackageName("pkg");
    model->SetSource("spider.obj");
    return model;
  }

  fs::path FDir;
  TOwned<TComponent> FRoot;
  TQuorvelAssetsManager* FManager = nullptr;
  TQuorvelModelAsset* FAsset = nullptr;
  std::string FMessages;
  TShowMessageHandler FOldHandler;
};

TEST_F(ModelPackage, TheThreeSettersInAnyOrderLoadTheAssetsModel) {
  ASSERT_NE(FAsset, nullptr);
  ASSERT_NE(FAsset->GetModel(), nullptr);
  using TSetter = std::function<void(TQuorvelModel*)>;
  const std::pair<char, TSetter> setters[] = {
      {'M', [this](TQuorvelModel* m) { m->SetAssetsManager(FManager); }},
      {'P', [](TQuorvelModel* m) { m->SetPackageName("pkg"); }},
      {'S', [](TQuorvelModel* m) { m->SetSource("spider.obj"); }},
  };
  int order[] = {0, 1, 2};
  do {
    std::string name;
    for (int i : order) name += setters[i].first;
    SCOPED_TRACE(name);
    FMessages.clear();
    auto* model = New<TQuorvelModel>(FRoot.get());
    for (int step = 0; step < 3; ++step) {
      EXPECT_EQ(model->GetModelDef(), nullptr) << "loaded before all three were known";
      setters[order[step]].second(model);
    }
    ASSERT_EQ(model->GetModelDef(), FAsset->GetModel());
    EXPECT_EQ(model->GetPackage(), FManager->GetPackage("pkg"));
    EXPECT_FALSE(model->Children().empty());
    Free(model);
    EXPECT_NE(FAsset->GetModel(), nullptr);  // the package keeps its definition
    // A source set before the package name is a file of its own, which is gone.
    const bool fileFirst = name.find('S') < name.find('P');
    EXPECT_EQ(FMessages.empty(), !fileFirst) << FMessages;
  } while (std::next_permutation(std::begin(order), std::end(order)));
}

TEST_F(ModelPackage, MaterialTexturesBelongToThePackage) {
  auto* def = dynamic_cast<TModelDef*>(FAsset->GetModel());
  ASSERT_NE(def, nullptr);
  int textured = 0;
  for (const auto& [id, material] : def->GetMaterials()) {
    TTextureDef* texture = material->GetTexture(TColorChannelDef::Diffuse);
    if (!texture) continue;
    ++textured;
    EXPECT_FALSE(texture->GetIsAssetOwner()) << id;
    EXPECT_EQ(material->GetKind(), TMaterialDefKind::mkColor) << id;  // a diffuse map keeps the colour kind
    auto* asset = dynamic_cast<TQuorvelTextureAsset*>(texture->GetAssetRef());
    ASSERT_NE(asset, nullptr) << id;
    EXPECT_EQ(asset->GetGroup(), FAsset->GetSubGroup("TEXTURE")) << id;
  }
  EXPECT_EQ(textured, 5);
}

TEST_F(ModelPackage, LosingManagerOrPackageNameClearsTheModel) {
  auto* model = New<TQuorvelModel>(FRoot.get());
  model->SetPackageName("pkg");
  model->SetSource("spider.obj");
  EXPECT_EQ(model->GetModelDef(), nullptr);  // no manager: only cleared
  model->SetAssetsManager(FManager);
  ASSERT_NE(model->GetModelDef(), nullptr);
  model->SetPackageName("");
  EXPECT_EQ(model->GetModelDef(), nullptr);
  model->SetPackageName("pkg");
  ASSERT_NE(model->GetModelDef(), nullptr);
  Free(FManager);  // its removal clears the references and the model
  FManager = nullptr;
  EXPECT_EQ(model->GetAssetsManager(), nullptr);
  EXPECT_EQ(model->GetPackageName(), "");
  EXPECT_EQ(model->GetModelDef(), nullptr);
}

TEST_F(ModelPackage, AFormHoldingTheManagerReloadsPackageAndModel) {
  auto* model = PackageModel("Model1");
  ASSERT_NE(model->GetModelDef(), nullptr);
  const size_t children = model->Children().size();
  const std::string form = WriteComponentResource(FRoot.get());
  FRoot.reset();
  FManager = nullptr;

  TOwned<TComponent> back(New<TComponent>(nullptr));
  ReadComponentResource(back.get(), form);
  auto* manager = dynamic_cast<TQuorvelAssetsManager*>(back->FindComponent("Assets"));
  ASSERT_NE(manager, nullptr);
  TQuorvelAssetsPackage* package = manager->GetPackage("pkg");
  ASSERT_NE(package, nullptr);
  EXPECT_EQ(package->GetFilename(), Path("pkg.zip"));
  TQuorvelAsset* asset = package->FindAsset("spider.obj", true);
  ASSERT_NE(asset, nullptr);
  auto* again = dynamic_cast<TQuorvelModel*>(back->FindComponent("Model1"));
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->GetAssetsManager(), manager);
  ASSERT_NE(again->GetModelDef(), nullptr);
  EXPECT_EQ(again->GetModelDef(), asset->As<TQuorvelModelAsset>()->GetModel());
  EXPECT_EQ(again->Children().size(), children);
  EXPECT_EQ(FMessages, "");
}

// A model shows its package's definition without owning it: whatever frees that definition
// (clearing, reloading, removing the package, a replaced model) must leave the model with no
// pointer into it. Reloads bring the model back from the new definition; the rest clear it.
TEST_F(ModelPackage, FreeingThePackagesDefinitionNeverLeavesTheModelDangling) {
  fs::copy_file(Path("pkg.zip"), Path("backup.zip"));
  struct TCase {
    const char* Name;
    std::function<void(TQuorvelAssetsManager*, TQuorvelAssetsPackage*)> Act;
    bool Reloads;
  };
  const std::string file = Path("pkg.zip");
  const TCase cases[] = {
      {"Clear(False)", [](auto*, auto* p) { p->Clear(false); }, false},
      {"Clear(True)", [](auto*, auto* p) { p->Clear(true); }, false},
      {"ClearGroup(0)", [](auto*, auto* p) { p->ClearGroup(0, false); }, false},
      {"RemoveGroup(MODEL)", [](auto*, auto* p) { p->RemoveGroup("MODEL"); }, false},
      {"SetModel(nil)",
       [](auto*, auto* p) { p->FindAsset("spider.obj", true)->template As<TQuorvelModelAsset>()->SetModel(nullptr); },
       false},
      {"LoadFromFile", [&](auto*, auto* p) { p->LoadFromFile(file); }, true},
      {"Refresh", [](auto*, auto* p) { p->Refresh(); }, true},
      {"LoadFromStream",
       [&](auto*, auto* p) {
         TFileStream stream(file, fmOpenRead);
         p->LoadFromStream(&stream);
       },
       true},
      {"RemovePackage", [](auto* m, auto*) { m->RemovePackage("pkg"); }, false},
      {"ClearPackages", [](auto* m, auto*) { m->ClearPackages(); }, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    fs::copy_file(Path("backup.zip"), file, fs::copy_options::overwrite_existing);
    TQuorvelAssetsPackage* package = FManager->GetPackage("pkg");
    if (!package) package = FManager->AddEmptyPackage("pkg");
    package->SetFilename(file);
    auto* model = PackageModel();
    ASSERT_NE(model->GetModelDef(), nullptr);
    const size_t children = model->Children().size();

    c.Act(FManager, package);

    package = FManager->GetPackage("pkg");
    TQuorvelAsset* asset = package ? package->FindAsset("spider.obj", true) : nullptr;
    TObject* shown = asset ? asset->As<TQuorvelModelAsset>()->GetModel() : nullptr;
    if (c.Reloads) {
      ASSERT_NE(shown, nullptr);
      EXPECT_EQ(model->GetModelDef(), shown);
      EXPECT_EQ(model->Children().size(), children);
    } else {
      EXPECT_EQ(model->GetModelDef(), nullptr);
      EXPECT_TRUE(model->Children().empty());
    }
    EXPECT_EQ(model->GetPackage(), package);
    // Reloading and freeing the model touch whatever it still holds (ASan). Without the asset
    // the package would read the (deleted) model file.
    if (shown || !package) {
      model->SetSource("spider.obj");
      EXPECT_EQ(model->GetModelDef(), shown);
    }
    Free(model);
  }
  EXPECT_EQ(FMessages, "");
}

// Embedding a package model fills its texture cache from the package's bitmaps; the cache
// outlives them (the package cleared) and the form still writes and reads it back.
TEST_F(ModelPackage, TheTextureCacheOfAPackageModelOutlivesThePackagesBitmaps) {
  auto* model = PackageModel("Model1");
  ASSERT_NE(model->GetModelDef(), nullptr);
  model->UpdateBinaryData();
  ASSERT_NE(model->GetTextureCache(), nullptr);
  ASSERT_EQ(model->GetTextureCache()->Count(), 5);
  FManager->GetPackage("pkg")->Clear(false);  // frees the texture assets and their bitmaps
  EXPECT_EQ(model->GetModelDef(), nullptr);
  const std::string form = WriteComponentResource(FRoot.get());  // writes the cache's pixels (ASan)
  TOwned<TComponent> back(New<TComponent>(nullptr));
  ReadComponentResource(back.get(), form);
  auto* again = dynamic_cast<TQuorvelModel*>(back->FindComponent("Model1"));
  ASSERT_NE(again, nullptr);
  ASSERT_NE(again->GetTextureCache(), nullptr);
  EXPECT_EQ(again->GetTextureCache()->Count(), 5);
  EXPECT_GT(again->GetTextureCache()->GetEntry(0)->GetBitmap()->GetWidth(), 0);
}

// At design time the package file loads under the progress window, and a model whose source
// is not in its package asks for load options first; a found asset needs no dialog.
TEST_F(ModelPackage, AtDesignTimeLoadsRunUnderTheirDialogs) {
  TManualClock clock;
  TScopedClock useClock(clock);
  testkit::TWindowWatch watch(clock);
  fs::copy_file(Path("pkg.zip"), Path("copy.zip"));
  auto* designed = New<TQuorvelAssetsManager>(FRoot.get());
  designed->SetDesigning(true);
  TQuorvelAssetsPackage* copy = designed->AddEmptyPackage("copy");
  copy->SetFilename(Path("copy.zip"));
  EXPECT_EQ(watch.Windows, std::vector<std::string>{"TProgressForm"});
  EXPECT_NE(copy->FindAsset("spider.obj", true), nullptr);
  EXPECT_EQ(testkit::NewestForm<TProgressForm>(), nullptr);

  auto* model = New<TQuorvelModel>(FRoot.get());
  model->SetDesigning(true);
  model->SetAssetsManager(FManager);
  model->SetPackageName("pkg");
  watch.Windows.clear();
  model->SetSource("spider.obj");
  EXPECT_EQ(watch.Windows, std::vector<std::string>{});
  EXPECT_EQ(model->GetModelDef(), FAsset->GetModel());
  // No asset and no file: the options are asked for, and the failing load reaches the caller.
  EXPECT_ANY_THROW(model->SetSource("absent.obj"));
  EXPECT_EQ(watch.Windows, std::vector<std::string>{"TLoadOptionsForm"});
  EXPECT_EQ(testkit::NewestForm<TLoadOptionsForm>(), nullptr);
  EXPECT_EQ(FMessages, "");
}

}  // namespace
}  // namespace quorvel
