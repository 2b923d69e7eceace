#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "framework/io/Path.h"
#include "framework/io/Stream.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/Log.h"
#include "lib/formats/assets/AssetsManager.h"
#include "tests/support/Raised.h"

namespace quorvel {
namespace {

// A folder of its own with a 2 x 1 PNG named image.png.
class AssetsManagerTest : public ::testing::Test {
protected:
  void SetUp() override {
    Dir = TPath::Combine(TPath::GetTempPath(), "quorvel_assets_" + std::to_string(getpid()));
    TDirectory::CreateDirectory(Dir);
    TOwned<TBitmap> image(New<TBitmap>(2, 1));
    image->Clear(claOrange);
    Image = TPath::Combine(Dir, "image.png");
    image->SaveToFile(Image);
  }
  void TearDown() override { TDirectory::Delete(Dir, true); }

  std::string Dir, Image;
};

TEST_F(AssetsManagerTest, BitmapComesFromTheOriginalPathThenFromTheBareName) {
  TOwned<TQuorvelTextureAsset> asset(New<TQuorvelTextureAsset>(nullptr));
  asset->ImportFromStream(Image, nullptr, {});  // names only
  EXPECT_EQ(asset->GetOriginalFilename(), Image);
  EXPECT_EQ(asset->GetFilename(), "image.png");
  EXPECT_EQ(asset->GetExtension(), ".png");
  EXPECT_FALSE(asset->GetCached());
  {
    TLogCapture log;
    TBitmap* bitmap = asset->GetBitmap();
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(bitmap->GetWidth(), 2);
    EXPECT_TRUE(asset->GetCached());
    EXPECT_EQ(asset->GetBitmap(), bitmap);  // cached
    EXPECT_TRUE(log.Lines().empty());
  }

  // Moved: one line for the path, then the bare name is found in the current folder.
  char saved[4096];
  ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
  ASSERT_EQ(chdir(Dir.c_str()), 0);
  auto restore = Finally([&] { EXPECT_EQ(chdir(saved), 0); });
  TOwned<TQuorvelTextureAsset> moved(New<TQuorvelTextureAsset>(nullptr));
  moved->ImportFromStream(R"(C:\gone\image.png)", nullptr, {});
  {
    TLogCapture log;
    ASSERT_NE(moved->GetBitmap(), nullptr);
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0], "failed to load texture C:\\gone\\image.png (\"image.png\") [" +
                                  moved->GetId().ToString() + "]");
  }
  // Neither exists: two lines and no bitmap.
  TOwned<TQuorvelTextureAsset> lost(New<TQuorvelTextureAsset>(nullptr));
  lost->ImportFromStream("/gone/lost.png", nullptr, {});
  {
    TLogCapture log;
    EXPECT_EQ(lost->GetBitmap(), nullptr);
    ASSERT_EQ(log.Lines().size(), 2u);
    EXPECT_EQ(log.Lines()[1], "failed to load texture lost.png (\"lost.png\") [" + lost->GetId().ToString() + "]");
  }
}

TEST_F(AssetsManagerTest, ExtensionErrorsAndStreamImports) {
  struct TCase {
    const char* Name;
    const char* Ext;
    const char* Message;
  };
  const TCase cases[] = {
      {"noext", "", "AssetsManager.TextureAsset exception - missing file extension ``"},
      {"a.png", "png", "AssetsManager.TextureAsset exception - invalid file extension `png`"},
      {"a.png", ".", "AssetsManager.TextureAsset exception - invalid file extension `.`"},
      {"a.psd", "", "AssetsManager.TextureAsset - unsupported file format \".psd\""},
  };
  for (const TCase& c : cases) {
    TOwned<TQuorvelTextureAsset> asset(New<TQuorvelTextureAsset>(nullptr));
    asset->ImportFromStream(TPath::Combine(Dir, c.Name), nullptr, {});
    if (c.Name == std::string("a.psd")) TFile::WriteAllText(TPath::Combine(Dir, c.Name), "x");
    asset->SetExtension(c.Ext);
    EXPECT_EQ(MessageOf([&] { asset->GetBitmap(); }), c.Message) << c.Name;
  }
  // An upper-case extension is taken as written and decoded in lower case.
  TFile::Copy(Image, TPath::Combine(Dir, "wood.PNG"));
  TOwned<TQuorvelTextureAsset> upper(New<TQuorvelTextureAsset>(New<TQuorvelAssetsPackage>()->GetGroup(1)));
  TOwned<TQuorvelAssetsPackage> package(upper->GetGroup()->GetPackage());
  upper->ImportFromStream(TPath::Combine(Dir, "wood.PNG"), nullptr, {});
  EXPECT_EQ(upper->GetExtension(), "");  // in a group: derived on first use
  ASSERT_NE(upper->GetBitmap(), nullptr);
  EXPECT_EQ(upper->GetExtension(), ".PNG");

  TOwned<TQuorvelTextureAsset> asset(New<TQuorvelTextureAsset>(nullptr));
  EXPECT_EQ(MessageOf([&] { asset->ImportFromStream("", nullptr, {}); }),
            "AssetsManager.TextureAsset - filename empty");
  EXPECT_THROW(asset->ImportFromCachedBitmap("", nullptr), EQuorvelAssetsException);
  EXPECT_THROW(asset->ImportFromFile(TPath::Combine(Dir, "missing.png"), {TAssetImportFlag::Cached}), EFOpenError);
  asset->ImportFromFile(Image, {TAssetImportFlag::Cached});  // decoded at once
  EXPECT_TRUE(asset->GetCached());
  EXPECT_EQ(asset->GetBitmap()->GetWidth(), 2);
  TMemoryStream garbage;
  garbage.WriteBuffer("nope", 4);
  garbage.SetPosition(0);
  EXPECT_ANY_THROW(asset->ImportFromStream("x.png", &garbage, {TAssetImportFlag::Cached}));
  EXPECT_EQ(asset->GetBitmap()->GetWidth(), 2);  // a stream that does not decode changes nothing
}

TEST_F(AssetsManagerTest, DescriptorJSON) {
  TOwned<TQuorvelTextureAsset> asset(New<TQuorvelTextureAsset>(nullptr));
  asset->SetId(TGUID::Create("{01234567-89AB-CDEF-0123-456789ABCDEF}"));
  asset->ImportFromStream(R"(C:\my tex\wood grain.png)", nullptr, {});
  std::unique_ptr<TJSONObject> json(asset->ToJSON());
  EXPECT_EQ(json->ToJSON(),
            R"({"Type":"Quorvel.AssetsManager.TQuorvelTextureAsset","Id":"{01234567-89AB-CDEF-0123-456789ABCDEF}",)"
            R"("Version":"1.3","Filename":"wood+grain.png","Extension":".png","OriginalFilename":"wood+grain.png"})");
  TOwned<TQuorvelTextureAsset> back(New<TQuorvelTextureAsset>(nullptr));
  back->FromJSON(json.get());
  EXPECT_EQ(back->GetId(), asset->GetId());
  EXPECT_EQ(back->GetFilename(), "wood grain.png");
  EXPECT_EQ(back->GetOriginalFilename(), "wood grain.png");
  EXPECT_EQ(back->GetExtension(), ".png");

  std::unique_ptr<TJSONObject> noId(static_cast<TJSONObject*>(TJSONObject::ParseJSONValue(R"({"Filename":"a"})", true)));
  EXPECT_EQ(MessageOf([&] { back->FromJSON(noId.get()); }), "failed to load asset - id not set");
  std::unique_ptr<TJSONObject> badId(static_cast<TJSONObject*>(TJSONObject::ParseJSONValue(R"({"Id":"x"})", true)));
  EXPECT_THROW(back->FromJSON(badId.get()), EConvertError);
  std::unique_ptr<TJSONObject> badName(
      static_cast<TJSONObject*>(TJSONObject::ParseJSONValue(R"({"Id":"{01234567-89AB-CDEF-0123-456789ABCDEF}","Filename":"%G1"})", true)));
  EXPECT_ANY_THROW(back->FromJSON(badName.get()));
}

TEST_F(AssetsManagerTest, GroupsAndPackageLookups) {
  TOwned<TQuorvelAssetsPackage> package(New<TQuorvelAssetsPackage>());
  int added = 0;
  package->OnModifyAfter = [&](TObject*, TQuorvelPackageEvent AEvent, TObject*) {
    if (AEvent == TQuorvelPackageEvent::AssetAdd) ++added;
  };
  ASSERT_EQ(package->GroupCount(), 10);
  EXPECT_EQ(package->GetGroup(0)->GetDescr(), "MODEL");
  EXPECT_EQ(package->GetGroup(-1), nullptr);
  EXPECT_EQ(package->GetGroup(10), nullptr);
  const TGUID id = TGUID::NewGuid();
  TQuorvelAsset* texture = package->GetGroup(1)->AddEmptyAsset(id);
  ASSERT_NE(texture, nullptr);
  EXPECT_EQ(texture->ClassName(), "TQuorvelTextureAsset");
  EXPECT_EQ(texture->GetId(), id);
  EXPECT_EQ(texture->GetGroup(), package->GetGroup(1));
  EXPECT_EQ(added, 1);
  EXPECT_THROW(package->GetGroup(1)->AddEmptyAsset(id), EDuplicateKey);

  EXPECT_EQ(package->GetOwnerAssetFromId(nullptr, 1, id), texture);
  EXPECT_EQ(package->GetOwnerAssetFromId(nullptr, 1, TGUID::NewGuid()), nullptr);
  EXPECT_EQ(package->GetOwnerAssetFromId(nullptr, 7, id), nullptr);
  EXPECT_EQ(MessageOf([&] { package->GetOwnerAssetFromId(nullptr, 12, id); }),
            "invalid group name \"12\" for asset \"" + id.ToString() + "\"");
  EXPECT_EQ(texture->GetSubGroup(0), nullptr);
  EXPECT_EQ(MessageOf([&] { package->GetOwnerAssetFromId(texture, 1, id); }),
            "invalid group name \"1\" for asset \"" + id.ToString() + "\"");
}

}  // namespace
}  // namespace quorvel
