// A model with a file as its source keeps a zipped copy of the model that travels with the
// form, so that the form rebuilds the model without the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "framework/classes/FormText.h"
#include "framework/gui/Dialogs.h"
#include "framework/rtl/Finally.h"
#include "lib/defs/DefTypesBitmapCache.h"
#include "lib/defs/DefTypesModel.h"
#include "framework/gui/Application.h"
#include "framework/rtl/Stopwatch.h"
#include "lib/formats/UtilsDialogs.h"
#include "lib/scene/Model.h"
#include "tests/support/FormScript.h"
#include "tests/support/WindowWatch.h"

namespace quorvel {
namespace {

const std::string SourceDataDir = std::string(QUORVEL_TEST_DATA_DIR);

// Component class names and names of the children tree, depth first.
std::string Tree(const TFwObject* AObject) {
  std::string out;
  for (const TFwObject* child : AObject->Children()) {
    auto* component = dynamic_cast<const TComponent*>(child);
    out += std::string(child->ClassName()) + ":" + (component ? component->GetName() : "") + "(" + Tree(child) + ")";
  }
  return out;
}

class ModelSource : public ::testing::Test {
protected:
  void SetUp() override {
    FDir = std::filesystem::temp_directory_path() / ("quorvel-model-" + std::to_string(::getpid()));
    std::filesystem::create_directories(FDir);
    std::filesystem::copy_file(SourceDataDir + "/../../demo/assets/monkey.obj", FDir / "monkey.obj");
    std::filesystem::copy_file(SourceDataDir + "/obj/box.obj", FDir / "box.obj");
    FOldHandler = SetShowMessageHandler([this](const std::string& AMsg) { FMessages += AMsg + "\n"; });
  }
  void TearDown() override {
    SetShowMessageHandler(FOldHandler);
    std::filesystem::remove_all(FDir);
  }
  std::string Path(const char* AName) const { return (FDir / AName).string(); }

  std::filesystem::path FDir;
  std::string FMessages;
  TShowMessageHandler FOldHandler;
  TManualClock FClock;
  TScopedClock FUseClock{FClock};
  testkit::TWindowWatch FWatch{FClock};
};

TEST_F(ModelSource, LoadsInTheProgressWindowAndAsksForOptionsOnlyAtDesignTime) {
  struct Case {
    const char* Name;
    bool Designing;
    const char* File;
    std::vector<std::string> Windows;
    bool Fails;
  } cases[] = {
      {"running program", false, "box.obj", {"TProgressForm"}, false},
      {"design time", true, "box.obj", {"TLoadOptionsForm", "TProgressForm"}, false},
      {"a failing load", false, "absent.obj", {"TProgressForm"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    FWatch.Windows.clear();
    FMessages.clear();
    TOwned<TComponent> root(New<TComponent>(nullptr));
    auto* model = New<TQuorvelModel>(root.get());
    model->SetDesigning(c.Designing);
    model->SetSource(Path(c.File));
    EXPECT_EQ(FWatch.Windows, c.Windows);
    if (c.Fails) {
      EXPECT_EQ(FMessages.rfind("Failed to load model data: ", 0), 0u) << FMessages;
      EXPECT_EQ(std::count(FMessages.begin(), FMessages.end(), '\n'), 1) << "one message box: " << FMessages;
    } else {
      EXPECT_EQ(FMessages, "");
      EXPECT_NE(model->GetModelDef(), nullptr);
    }
    EXPECT_EQ(testkit::NewestForm<TProgressForm>(), nullptr);
    EXPECT_EQ(testkit::NewestForm<TLoadOptionsForm>(), nullptr);
  }
}

TEST_F(ModelSource, EmbedsAZippedCopyThatRebuildsWithoutTheFile) {
  TOwned<TComponent> root(New<TComponent>(nullptr));
  auto* model = New<TQuorvelModel>(root.get());
  model->SetName("Model1");
  model->SetSource(Path("monkey.obj"));
  EXPECT_EQ(FMessages, "");
  ASSERT_NE(model->GetModelDef(), nullptr);
  const std::string tree = Tree(model);
  EXPECT_NE(tree.find("TQuorvelMesh"), std::string::npos) << tree;
  ASSERT_NE(model->GetBinaryData(), nullptr);
  const TBytes& bytes = model->GetBinaryData()->GetBytes();
  ASSERT_GT(model->GetBinaryData()->GetSize(), 34);
  EXPECT_EQ(bytes[24], 0);     // BSON
  EXPECT_EQ(bytes[28], 0x02);  // zipped only
  EXPECT_EQ(bytes[32], 0x78);

  const std::string form = WriteComponentResource(root.get());
  std::filesystem::remove(Path("monkey.obj"));

  TOwned<TComponent> back(New<TComponent>(nullptr));
  ReadComponentResource(back.get(), form);
  auto* again = dynamic_cast<TQuorvelModel*>(back->FindComponent("Model1"));
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->GetSource(), Path("monkey.obj"));
  EXPECT_EQ(Tree(again), tree);
  EXPECT_EQ(FMessages, "");

  // The same source rebuilds from the copy; the file is still gone.
  again->SetSource(Path("monkey.obj"));
  EXPECT_EQ(Tree(again), tree);
  EXPECT_EQ(FMessages, "");

  // Another source reloads from its file and embeds that.
  const int64_t oldSize = again->GetBinaryData()->GetSize();
  again->SetSource(Path("box.obj"));
  EXPECT_EQ(FMessages, "");
  EXPECT_NE(Tree(again), tree);
  ASSERT_NE(again->GetBinaryData(), nullptr);
  EXPECT_NE(again->GetBinaryData()->GetSize(), oldSize);
  EXPECT_GT(again->GetBinaryData()->GetSize(), 32);

  // A missing file says so in a message box and leaves the model empty.
  again->SetSource(Path("monkey.obj"));
  EXPECT_EQ(FMessages.rfind("Failed to load model data: ", 0), 0u) << FMessages;
  EXPECT_EQ(again->GetChildrenCount() == 0 || Tree(again).find("TQuorvelMesh") == std::string::npos, true);

  // Empty bytes clear.
  TBytesStream empty;
  again->SetBinaryData(&empty);
  EXPECT_EQ(again->GetModelDef(), nullptr);
}

TEST_F(ModelSource, TexturesComeBackThroughTheCacheWithTheirPixels) {
  // spider.obj's library names three JPEG maps; the form carries their decoded pixels.
  for (const char* name : {"spider.obj", "spider.mtl", "wal67ar_small.jpg", "wal69ar_small.jpg", "SpiderTex.jpg",
                           "drkwood2.jpg", "engineflare1.jpg"})
    std::filesystem::copy_file(SourceDataDir + "/obj/" + name, FDir / name);
  TOwned<TComponent> root(New<TComponent>(nullptr));
  auto* model = New<TQuorvelModel>(root.get());
  model->SetName("Model1");
  model->SetSource(Path("spider.obj"));
  EXPECT_EQ(FMessages, "");
  TQuorvelBitmapCache* cache = model->GetTextureCache();
  ASSERT_NE(cache, nullptr);
  ASSERT_GE(cache->Count(), 3);
  const std::string form = WriteComponentResource(root.get());
  for (const char* name : {"spider.obj", "spider.mtl", "wal67ar_small.jpg", "wal69ar_small.jpg", "SpiderTex.jpg",
                           "drkwood2.jpg", "engineflare1.jpg"})
    std::filesystem::remove(FDir / name);

  TOwned<TComponent> back(New<TComponent>(nullptr));
  ReadComponentResource(back.get(), form);
  auto* again = dynamic_cast<TQuorvelModel*>(back->FindComponent("Model1"));
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(FMessages, "");
  TQuorvelBitmapCache* read = again->GetTextureCache();
  ASSERT_NE(read, nullptr);
  ASSERT_EQ(read->Count(), cache->Count());
  for (int i = 0; i < cache->Count(); ++i) {
    const TQuorvelBitmapCacheEntry* want = cache->GetEntry(i);
    const TQuorvelBitmapCacheEntry* got = read->FindBitmap(want->GetFilename());
    ASSERT_NE(got, nullptr) << want->GetFilename();
    // The pixels are those of the image file as the image decoder reads it.
    TOwned<TBitmap> file(New<TBitmap>());
    file->LoadFromFile(SourceDataDir + "/obj/" + std::string(BitmapCacheFileNamePart(want->GetFilename())));
    ASSERT_EQ(got->GetBitmap()->GetWidth(), file->GetWidth()) << want->GetFilename();
    ASSERT_EQ(got->GetBitmap()->GetHeight(), file->GetHeight());
    EXPECT_TRUE(std::equal(file->Pixels().begin(), file->Pixels().end(), got->GetBitmap()->Pixels().begin()))
        << want->GetFilename();
  }
  EXPECT_NE(Tree(again).find("TQuorvelMesh"), std::string::npos);
}

}  // namespace
}  // namespace quorvel
