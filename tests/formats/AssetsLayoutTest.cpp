#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "framework/io/Stream.h"
#include "lib/formats/assets/AssetsArchives.h"
#include "lib/formats/assets/AssetsLayout.h"
#include "lib/formats/assets/AssetsManager.h"

namespace quorvel {
namespace {

using namespace assets_layout;

TEST(AssetsLayoutTest, TextureDescriptorIsCompactAsciiInItsPairOrderAndReadsBack) {
  TOwned<TQuorvelTextureAsset> asset(New<TQuorvelTextureAsset>(nullptr));
  asset->SetId(TGUID::Create("{0123ABCD-4567-89AB-CDEF-0123456789AB}"));
  asset->ImportFromStream("/some/where/a \xC3\xA4.png", nullptr, {});
  const std::string path = AssetPath(GroupPath("", "TEXTURE"), asset->GetId());
  const std::string entry = DescriptorEntry(path, AssetDescriptorName);
  EXPECT_EQ(entry, "TEXTURE/{0123ABCD-4567-89AB-CDEF-0123456789AB}/asset.json");
  EXPECT_EQ(DataEntry(path, "/some/where/a.png"), "TEXTURE/{0123ABCD-4567-89AB-CDEF-0123456789AB}/a.png");
  EXPECT_EQ(GroupPath(path, "TEXTURE"), path + "/TEXTURE");

  std::unique_ptr<TJSONObject> json(asset->ToJSON());
  EXPECT_EQ(DescriptorText(json.get(), entry),
            "{\"Type\":\"Quorvel.AssetsManager.TQuorvelTextureAsset\","
            "\"Id\":\"{0123ABCD-4567-89AB-CDEF-0123456789AB}\",\"Version\":\"1.3\","
            "\"Filename\":\"a+%C3%A4.png\",\"Extension\":\".png\",\"OriginalFilename\":\"a+%C3%A4.png\","
            "\"path\":\"TEXTURE/{0123ABCD-4567-89AB-CDEF-0123456789AB}/asset.json\"}");

  // Through an archive and into a new asset.
  TOwned<TQuorvelArchiveReferences> registry(New<TQuorvelArchiveReferences>());
  TQuorvelArchiveReference* archive = registry->CreateArchiveInMemory("pkg");
  std::unique_ptr<TJSONObject> again(asset->ToJSON());
  WriteDescriptor(archive, entry, again.get());
  WriteDescriptor(archive, entry, std::unique_ptr<TJSONObject>(asset->ToJSON()).get());  // replaced, not doubled
  EXPECT_EQ(archive->GetFileNames().size(), 1u);
  std::unique_ptr<TJSONObject> back(ReadDescriptor(archive, entry));
  ASSERT_TRUE(back);
  TOwned<TQuorvelTextureAsset> copy(New<TQuorvelTextureAsset>(nullptr));
  copy->FromJSON(back.get());
  EXPECT_EQ(copy->GetId(), asset->GetId());
  EXPECT_EQ(copy->GetFilename(), "a \xC3\xA4.png");
  EXPECT_EQ(copy->GetOriginalFilename(), "a \xC3\xA4.png");
  EXPECT_EQ(ReadDescriptor(archive, "TEXTURE/group.json"), nullptr);
}

TEST(AssetsLayoutTest, BadDescriptorsRaiseClearErrors) {
  const struct {
    const char* Text;
    const char* Message;  // null: EInvalidCast
  } cases[] = {
      {"", "invalid descriptor json: G/asset.json"},
      {"{\"Id\":", "invalid descriptor json: G/asset.json"},
      {"not json", "invalid descriptor json: G/asset.json"},
      {"[1,2]", nullptr},
      {"\"text\"", nullptr},
  };
  for (const auto& c : cases) {
    try {
      std::unique_ptr<TJSONObject> obj(ParseDescriptor(c.Text, "G/asset.json"));
      ADD_FAILURE() << c.Text;
    } catch (const EQuorvelAssetsException& e) {
      ASSERT_TRUE(c.Message) << c.Text;
      EXPECT_EQ(std::string(e.what()), c.Message);
    } catch (const EInvalidCast&) {
      EXPECT_FALSE(c.Message) << c.Text;
    }
  }
  // Valid JSON without an id: the asset's own message.
  std::unique_ptr<TJSONObject> noId(ParseDescriptor("{\"Version\":\"9\"}", "G/asset.json"));
  TOwned<TQuorvelTextureAsset> asset(New<TQuorvelTextureAsset>(nullptr));
  try {
    asset->FromJSON(noId.get());
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_EQ(std::string(e.what()), "failed to load asset - id not set");
  }
}

}  // namespace
}  // namespace quorvel
