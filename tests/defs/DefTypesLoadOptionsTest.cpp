#include <gtest/gtest.h>

#include <string>

#include "framework/io/Path.h"
#include "framework/io/Stream.h"
#include "lib/defs/DefTypes.h"

namespace quorvel {
namespace {

TEST(DefTypesLoadOptions, EveryConstructorSwitchesImportsOn) {
  int calls = 0;
  TObject package, asset;
  const TQuorvelLoadOptions made[] = {
      TQuorvelLoadOptions::Create("a.q3m", &package, &asset),
      TQuorvelLoadOptions::Create("a", ".q3m", &package, &asset),
      TQuorvelLoadOptions::Create("a.q3m", TAnimationCachingFlags{TAnimationCachingFlag::Compressed}, &package,
                                  &asset),
      TQuorvelLoadOptions::Create("a.q3m", TAnimationCachingFlags{TAnimationCachingFlag::VertexPosition},
                                  [&calls](TObject*) { ++calls; }, &package, &asset),
  };
  for (const TQuorvelLoadOptions& o : made) {
    EXPECT_TRUE(o.ImportLights);
    EXPECT_TRUE(o.ImportCameras);
    EXPECT_TRUE(o.ImportAnimations);
    EXPECT_EQ(o.Package, &package);
    EXPECT_EQ(o.Asset, &asset);
    EXPECT_EQ(o.GetStorage("a"), nullptr);
    EXPECT_EQ(o.BitmapCache, nullptr);
    EXPECT_EQ(o.TextureLimits.X, 0);
    EXPECT_TRUE(o.AdditionalAnimations.empty());
    EXPECT_EQ(o.GetExtension(), ".q3m");
  }
  EXPECT_TRUE(made[0].Caching.IsEmpty());
  EXPECT_TRUE(made[2].Caching.Contains(TAnimationCachingFlag::Compressed));
  EXPECT_FALSE(made[2].OnStatus);
  made[3].OnStatus(nullptr);
  EXPECT_EQ(calls, 1);
}

TEST(DefTypesLoadOptions, ExtensionComesFromExtOrTheLastDotOfTheName) {
  struct TCase {
    const char* Path;
    const char* Ext;
    const char* Expected;
  };
  const TCase cases[] = {
      {R"(C:\models\robot.Q3M)", "", ".Q3M"},
      {R"(C:\models\robot.Q3M)", ".obj", ".obj"},
      {"README", "", ""},
      {R"(C:\my.models\robot)", "", ""},  // a dot in a folder is no extension
      {"/tmp/a.b/c.tar.gz", "", ".gz"},
      {"C:file.", "", "."},
      {"C:.hidden", "", ".hidden"},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(TQuorvelLoadOptions::Create(c.Path, c.Ext, nullptr, nullptr).GetExtension(), c.Expected) << c.Path;
}

TEST(DefTypesLoadOptions, AnimationsAreAddedOnlyForExistingFiles) {
  const std::string dir = TPath::Combine(TPath::GetTempPath(), "quorvel_loadoptions_test");
  TDirectory::CreateDirectory(dir);
  const std::string walk = TPath::Combine(dir, "walk.q3m");
  const std::string run = TPath::Combine(dir, "run.q3m");
  TFile::WriteAllText(walk, "x");
  TFile::WriteAllText(run, "x");

  TQuorvelLoadOptions o = TQuorvelLoadOptions::Create("m.q3m", nullptr, nullptr);
  o.ImportAnimations = false;
  EXPECT_EQ(o.AddAnimation(TPath::Combine(dir, "missing.q3m")), -1);
  EXPECT_FALSE(o.ImportAnimations);
  EXPECT_TRUE(o.AdditionalAnimations.empty());
  EXPECT_EQ(o.AddAnimation(walk), 0);
  EXPECT_TRUE(o.ImportAnimations);
  EXPECT_EQ(o.AddAnimation(run), 1);
  EXPECT_EQ(o.AdditionalAnimations, (std::vector<std::string>{walk, run}));
  EXPECT_EQ(o.AddAnimation(dir), -1);  // a folder is no file
  TDirectory::Delete(dir, true);
}

TEST(DefTypesLoadOptions, StorageIsFoundByExactNameAndCopiesKeepTheirOwnArrays) {
  TMemoryStream first, second;
  TQuorvelLoadOptions o = TQuorvelLoadOptions::Create("m.q3m", nullptr, nullptr);
  EXPECT_EQ(o.AddStorage("a", nullptr), -1);
  EXPECT_TRUE(o.Storage.empty());
  EXPECT_EQ(o.AddStorage("a", &first), 0);
  EXPECT_EQ(o.AddStorage("A", &second), 1);
  EXPECT_EQ(o.GetStorage("A"), &second);
  EXPECT_EQ(o.GetStorage("a"), &first);
  EXPECT_EQ(o.GetStorage("b"), nullptr);

  TQuorvelLoadOptions copy = o;
  copy.AddStorage("b", &first);
  copy.FileInfo.PathOrUID = "other";
  EXPECT_EQ(o.Storage.size(), 2u);
  EXPECT_EQ(o.FileInfo.PathOrUID, "m.q3m");
}

}  // namespace
}  // namespace quorvel
