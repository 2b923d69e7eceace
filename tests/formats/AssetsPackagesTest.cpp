// Asset packages as a whole: what goes in comes back out of a file or a stream in another
// manager, the archive's descriptors are the stored format, and the lookups, events and
// errors of packages, groups and assets.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "framework/io/Path.h"
#include "framework/io/Stream.h"
#include "framework/rtl/Log.h"
#include "lib/defs/DefTypesMaterial.h"
#include "lib/defs/DefTypesModel.h"
#include "lib/defs/DefTypesTexture.h"
#include "lib/formats/assets/AssetsArchives.h"
#include "lib/formats/assets/AssetsLayout.h"
#include "lib/formats/assets/AssetsManager.h"
#include "lib/game/DialogueSystem.h"
#include "lib/game/Inventory.h"
#include "lib/game/SkillSystem.h"
#include "tests/formats/OBJSupport.h"
#include "tests/support/Raised.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

const std::string DataDir = std::string(QUORVEL_TEST_DATA_DIR);

std::string Bytes(TMemoryStream* AStream) {
  return std::string(static_cast<const char*>(AStream->GetMemory()), size_t(AStream->GetSize()));
}

std::string FileText(const std::string& APath) {
  std::ifstream in(APath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Entry(TQuorvelArchiveReference* AArchive, const std::string& AName) {
  TMemoryStream out;
  TZipHeader header;
  AArchive->ReadToStream(AName, &out, header);
  return Bytes(&out);
}

// Every file kind a package takes, in a scratch folder: the spider model with its JPEG
// textures, and one file per stream kind (names with a blank and a non-ASCII letter).
class AssetsPackages : public ::testing::Test {
protected:
  void SetUp() override {
    for (const char* name : {"spider.obj", "spider.mtl", "wal67ar_small.jpg", "wal69ar_small.jpg", "SpiderTex.jpg",
                             "drkwood2.jpg", "engineflare1.jpg", "box.obj"})
      fs::copy_file(DataDir + "/obj/" + name, Dir.Path() / name);
    Streams = {{"sound one.wav", "RIFF-wave-bytes"},
               {"clip.mp4", std::string("\0\0\0\x18" "ftypmp42", 12)},
               {"read m\xC3\xA4.txt", "hello text"},
               {"talk.dlg", FileText(DataDir + "/game/dialogue.xml")},
               {"bag.iff", InventoryText()},
               {"code.pas", "begin end."},
               {"thing.prefab", "{}"},
               {"tree.ssf", SkillsText()}};
    for (const auto& [name, bytes] : Streams) Dir.Write(name, bytes);
  }

  static std::string InventoryText() {
    TOwned<TQuorvelInventory> inventory(New<TQuorvelInventory>(nullptr));
    TMemoryStream out;
    inventory->SaveToStream(&out);
    return Bytes(&out);
  }
  static std::string SkillsText() {
    TOwned<TQuorvelSkillSystem> skills(New<TQuorvelSkillSystem>(nullptr));
    TMemoryStream out;
    skills->SaveToStream(&out);
    return Bytes(&out);
  }
  std::string Path(const std::string& AName) const { return (Dir.Path() / AName).string(); }

  testkit::TScratchDir Dir;
  std::vector<std::pair<std::string, std::string>> Streams;
};

// Group names with their assets' file names and sub-groups, depth first.
std::string Describe(const TQuorvelAssetsGroup* AGroup, const std::string& AIndent = "") {
  std::string out = AIndent + AGroup->GetDescr() + ":";
  for (const TQuorvelAsset* asset : AGroup->Assets()) {
    out += " " + asset->GetFilename() + "[" + asset->GetId().ToString() + "]";
    for (int32_t i = 0; i < asset->SubGroupCount(); ++i)
      // Appended: g++ 12 at -O3 takes "text" + std::string for an overlapping copy (-Wrestrict).
      if (asset->GetSubGroup(i)->Count() > 0) out.append("{").append(Describe(asset->GetSubGroup(i))).append("}");
  }
  return out;
}

std::string Describe(const TQuorvelAssetsPackage* APackage) {
  std::string out;
  for (int32_t i = 0; i < APackage->GroupCount(); ++i) out += Describe(APackage->GetGroups()->Group(i)) + "\n";
  return out;
}

TEST_F(AssetsPackages, EveryKindRoundTripsThroughFileAndStreamIntoAnotherManager) {
  TOwned<TQuorvelAssetsManager> manager(New<TQuorvelAssetsManager>(nullptr));
  TQuorvelAssetsPackage* package = manager->AddEmptyPackage("level");
  package->SetFilename(Path("level.zip"));
  ASSERT_TRUE(TFile::Exists(Path("level.zip")));
  EXPECT_EQ(TFile::GetSize(Path("level.zip")), 22);  // a missing file starts as an empty archive

  auto* spider = dynamic_cast<TQuorvelModelAsset*>(package->AddAssetFromFile(Path("spider.obj")));
  ASSERT_NE(spider, nullptr);
  EXPECT_EQ(package->AddAssetFromFile(Path("spider.obj")), spider);  // imported once
  ASSERT_NE(spider->GetModel(), nullptr);
  EXPECT_EQ(spider->GetExtension(), ".q3m");
  EXPECT_EQ(spider->GetSubGroup("TEXTURE")->Count(), 5);
  for (const auto& [name, bytes] : Streams) ASSERT_NE(package->AddAssetFromFile(Path(name)), nullptr) << name;
  // G/a/S/b/T/c: a misc file with a text below it, and a text below that.
  TQuorvelAsset* a = package->FindAsset("read m\xC3\xA4.txt", false);
  ASSERT_NE(a, nullptr);
  TQuorvelAsset* b = a->AddSubAssetFromFile(Path("code.pas"));
  TQuorvelAsset* c = b->AddSubAssetFromFile(Path("sound one.wav"));
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(a->GetSubGroup("SCRIPT"), b->GetGroup());
  EXPECT_EQ(package->FindAssetByArchivePath(c->GetArchivePath() + "/asset.json"), c);
  EXPECT_EQ(package->FindAssetByArchivePath(b->GetArchivePath()), b);
  EXPECT_EQ(package->FindAssetByArchivePath("MISC"), nullptr);

  const std::string expected = Describe(package);
  package->SaveToFile(Path("copy.zip"));
  TMemoryStream saved;
  package->SaveToStream(&saved);
  EXPECT_EQ(Bytes(&saved), FileText(Path("level.zip")));

  const std::string copyBytes = FileText(Path("copy.zip"));
  TOwned<TQuorvelAssetsManager> other(New<TQuorvelAssetsManager>(nullptr));
  TQuorvelAssetsPackage* fromFile = other->LoadPackageFromFile(Path("copy.zip"));
  EXPECT_EQ(fromFile->GetDisplayName(), "copy.zip");
  TQuorvelAssetsPackage* fromStream = other->AddEmptyPackage("level");
  saved.SetPosition(0);
  fromStream->LoadFromStream(&saved);
  for (TQuorvelAssetsPackage* back : {fromFile, fromStream}) {
    EXPECT_EQ(Describe(back), expected);
    for (const auto& [name, bytes] : Streams) {
      auto* asset = dynamic_cast<TQuorvelStreamAsset*>(back->FindAsset(name, false));
      ASSERT_NE(asset, nullptr) << name;
      EXPECT_EQ(Bytes(asset->GetStream()), bytes) << name;
    }
    auto* model = dynamic_cast<TQuorvelModelAsset*>(back->FindAsset("spider.obj", false));
    ASSERT_NE(model, nullptr);
    auto* def = dynamic_cast<TModelDef*>(model->GetModel());
    ASSERT_NE(def, nullptr);
    EXPECT_EQ(def->GetAsset(), model);
    EXPECT_EQ(def->GetPackage(), back);
    EXPECT_EQ(def->GetChildren()->Count(), dynamic_cast<TModelDef*>(spider->GetModel())->GetChildren()->Count());
    // Textures come out of the archive: the JPEG names hold PNG data.
    TQuorvelAssetsGroup* textures = model->GetSubGroup("TEXTURE");
    ASSERT_EQ(textures->Count(), 5);
    auto* texture = textures->GetAsset(0)->As<TQuorvelTextureAsset>();
    const std::string data = Entry(back->GetArchive(), texture->GetArchivePath() + "/" + texture->GetFilename());
    EXPECT_EQ(data.substr(1, 3), "PNG");
    ASSERT_NE(texture->GetBitmap(), nullptr);
    EXPECT_GT(texture->GetBitmap()->GetWidth(), 0);
  }
  EXPECT_EQ(FileText(Path("copy.zip")), copyBytes);  // loading and reading write nothing back
  // The game kinds build their systems from their bytes.
  auto* dialogue = dynamic_cast<TQuorvelDialogueAsset*>(fromFile->FindAsset("talk.dlg", false));
  ASSERT_NE(dialogue, nullptr);
  ASSERT_NE(dialogue->GetDialogueSystem(), nullptr);
  EXPECT_EQ(dialogue->GetDialogueSystem(), dialogue->GetDialogueSystem());
  EXPECT_GT(dialogue->GetDialogueSystem()->Dialogues()->Count(), 0);
  auto* bag = dynamic_cast<TQuorvelInventoryAsset*>(fromFile->FindAsset("bag.iff", false));
  ASSERT_NE(bag, nullptr);
  EXPECT_NE(bag->GetInventory(), nullptr);
  auto* tree = dynamic_cast<TQuorvelSkillsAsset*>(fromFile->FindAsset("tree.ssf", false));
  ASSERT_NE(tree, nullptr);
  EXPECT_NE(tree->GetSkillSystem(), nullptr);
}

TEST_F(AssetsPackages, DescriptorsAreCompactAsciiWithTheirOwnPath) {
  TOwned<TQuorvelAssetsManager> manager(New<TQuorvelAssetsManager>(nullptr));
  TQuorvelAssetsPackage* package = manager->AddEmptyPackage("p");
  Dir.Write("a+\xC3\xA4 b.txt", "x");
  TQuorvelAsset* asset = package->AddAssetFromFile(Path("a+\xC3\xA4 b.txt"));
  TQuorvelArchiveReference* archive = package->GetArchive();
  const std::string id = asset->GetId().ToString();
  const std::string folder = "MISC/" + id;
  const TQuorvelAssetsGroup* misc = package->GetGroup(4);
  EXPECT_EQ(archive->GetFileNames(),
            (std::vector<std::string>{"MISC/group.json", folder + "/asset.json", folder + "/a+\xC3\xA4 b.txt"}));
  EXPECT_EQ(Entry(archive, "MISC/group.json"),
            "{\"Id\":" + std::to_string(misc->GetID()) +
                ",\"Descr\":\"MISC\",\"Version\":\"1.3\",\"AssetClass\":\"Quorvel.AssetsManager.TQuorvelMiscAsset\","
                "\"path\":\"MISC/group.json\"}");
  EXPECT_EQ(Entry(archive, folder + "/asset.json"),
            "{\"Type\":\"Quorvel.AssetsManager.TQuorvelMiscAsset\",\"Id\":\"" + id +
                "\",\"Version\":\"1.3\",\"Filename\":\"a%2B%C3%A4+b.txt\",\"Extension\":\".txt\",\"path\":\"" + folder +
                "/asset.json\"}");
  EXPECT_EQ(Entry(archive, folder + "/a+\xC3\xA4 b.txt"), "x");
  EXPECT_EQ(package->Log(), "p ()\r\n    MODEL (TQuorvelModelAsset)\r\n    TEXTURE (TQuorvelTextureAsset)\r\n"
                            "    AUDIO (TQuorvelAudioAsset)\r\n    VIDEO (TQuorvelVideoAsset)\r\n"
                            "    MISC (TQuorvelMiscAsset)\r\n        a+\xC3\xA4 b.txt (.txt)\r\n"
                            "    DIALOGUE (TQuorvelDialogueAsset)\r\n    INVENTORY (TQuorvelInventoryAsset)\r\n"
                            "    SCRIPT (TQuorvelScriptAsset)\r\n    PREFAB (TQuorvelPrefabAsset)\r\n"
                            "    SKILLS (TQuorvelSkillsAsset)\r\n");
}

TEST_F(AssetsPackages, EventsBracketEveryChangeInOrder) {
  std::vector<std::string> events;
  TOwned<TQuorvelAssetsManager> manager(New<TQuorvelAssetsManager>(nullptr));
  TQuorvelAssetsPackage* package = manager->AddEmptyPackage("p");
  package->OnModifyBefore = [&](TObject* s, TQuorvelPackageEvent e, TObject*) {
    EXPECT_EQ(s, package);
    // Appended: g++ 12 at -O3 takes "text" + std::string for an overlapping copy (-Wrestrict).
    events.push_back(std::string("<").append(EnumToString(e)));
  };
  package->OnModifyAfter = [&](TObject*, TQuorvelPackageEvent e, TObject*) {
    events.push_back(std::string(">").append(EnumToString(e)));
  };
  package->AddAssetFromFile(Path("code.pas"));
  package->ClearGroup(7, true);
  EXPECT_EQ(events, (std::vector<std::string>{"<AssetAdd", ">AssetAdd", "<GroupClear", "<AssetClear", "<AssetRemove",
                                              ">AssetRemove", ">AssetClear", ">GroupClear"}));
  EXPECT_EQ(package->GetArchive()->GetFileNames(), std::vector<std::string>{});
  events.clear();
  manager->RemovePackage("p");  // freeing clears the groups, with their events
  EXPECT_EQ(events.front(), "<GroupClear");
}

TEST_F(AssetsPackages, GroupsByIndexNameExtensionAndClass) {
  TOwned<TQuorvelAssetsManager> manager(New<TQuorvelAssetsManager>(nullptr));
  TQuorvelAssetsPackage* package = manager->AddEmptyPackage("p");
  const char* names[] = {"MODEL", "TEXTURE", "AUDIO", "VIDEO", "MISC", "DIALOGUE", "INVENTORY", "SCRIPT", "PREFAB", "SKILLS"};
  ASSERT_EQ(package->GroupCount(), 10);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(package->GetGroup(i)->GetDescr(), names[i]);

  // An index whose group has another name: logged, then found by name, else by the other name.
  package->GetGroup(1)->SetDisplayName("TEXTURES");
  {
    TLogCapture log;
    EXPECT_EQ(package->GetGroup(1)->GetDescr(), "TEXTURES");
    EXPECT_TRUE(log.Lines().empty());
  }
  package->GetGroups()->Group(1)->SetIndex(2);  // AUDIO now stands at 1
  {
    TLogCapture log;
    EXPECT_EQ(package->GetGroup(1)->GetDescr(), "TEXTURES");
    EXPECT_TRUE(log.Contains("invalid group id <> name correlation found for \"TEXTURE\""));
  }
  EXPECT_EQ(package->GetGroupByExtension(".JPG")->GetDescr(), "TEXTURES");
  EXPECT_EQ(package->GetGroupByExtension(".psd"), nullptr);

  struct TExt {
    const char* Ext;
    const char* Class;
  } exts[] = {{".png", "TQuorvelTextureAsset"}, {".PNG", nullptr}, {".xml", "TQuorvelMiscAsset"},
              {".wax", "TQuorvelAudioAsset"},   {".q3m", "TQuorvelModelAsset"}, {".psd", nullptr}};
  for (const TExt& e : exts) {
    const TQuorvelAssetClass* kind = TQuorvelAssetClass::GetSupportedAssetClass(e.Ext);
    EXPECT_EQ(kind ? kind->ClassName() : std::string("none"), e.Class ? e.Class : "none") << e.Ext;
  }

  // Class names: a built-in index adopts its kind, others answer the base class.
  TQuorvelAssetsPackage* fresh = manager->AddEmptyPackage("fresh");
  fresh->GetGroup(2)->SetDisplayName("OLD AUDIO");
  TQuorvelAssetsGroup* loose = TQuorvelAssetsGroup::CreateForAsset(fresh->GetGroups(), nullptr);
  loose->SetDisplayName("AUDIO");
  loose->SetIndex(2);
  EXPECT_EQ(loose->GetAssetClassName(), "TQuorvelAudioAsset");
  EXPECT_EQ(loose->GetAssetClass(), TQuorvelAudioAsset::StaticMeta());
  TQuorvelAssetsGroup* far = TQuorvelAssetsGroup::CreateForAsset(package->GetGroups(), nullptr);
  far->SetDisplayName("FAR");
  EXPECT_EQ(far->GetAssetClassName(), "TQuorvelAsset");
  EXPECT_EQ(far->GetAssetClass(), nullptr);
  far->SetAssetClassName("TNoSuchClass");
  EXPECT_EQ(far->GetAssetClass(), TQuorvelAsset::StaticMeta());
  far->SetAssetClassName("TQuorvelAssetsManager");  // no asset class: unchanged
  EXPECT_EQ(far->GetAssetClass(), TQuorvelAsset::StaticMeta());
  far->SetAssetClassName("TQuorvelVideoAsset");
  EXPECT_EQ(far->GetAssetClass(), TQuorvelVideoAsset::StaticMeta());
}

TEST_F(AssetsPackages, AssetLookupsAndAdditions) {
  TOwned<TQuorvelAssetsManager> manager(New<TQuorvelAssetsManager>(nullptr));
  TQuorvelAssetsPackage* package = manager->AddEmptyPackage("p");
  TQuorvelAssetsGroup* textures = package->GetGroup(1);
  TQuorvelAsset* bare = textures->AddEmptyAsset("wood.png", true);
  TQuorvelAsset* other = textures->AddEmptyAsset("D:\\y\\wood.png", true);
  EXPECT_EQ(textures->FindAssetByFilename("C:\\x\\wood.png", false), bare);
  EXPECT_EQ(textures->FindAssetByFilename("C:\\x\\wood.png", true), nullptr);
  EXPECT_EQ(textures->FindAssetByFilename("D:\\y\\wood.png", true), other);
  EXPECT_EQ(textures->AddEmptyAsset("C:\\x\\stone.png", false)->GetFilename(), "stone.png");

  // Adding: an id already there is logged and refused; another class raises.
  TOwned<TQuorvelTextureAsset> twin(New<TQuorvelTextureAsset>(textures));
  twin->SetId(bare->GetId());
  {
    TLogCapture log;
    EXPECT_FALSE(textures->AddAsset(twin.get()));
    EXPECT_TRUE(log.Contains("asset \"\" already exists in group \"TEXTURE\""));
  }
  EXPECT_FALSE(textures->AddAsset(nullptr));
  EXPECT_EQ(textures->Count(), 3);
  EXPECT_EQ(MessageOf([&] { package->GetGroup(0)->AddAsset(twin.get()); }),
            "failed to add existing asset - invalid group class Quorvel.AssetsManager.TQuorvelModelAsset <> "
            "Quorvel.AssetsManager.TQuorvelTextureAsset");

  // Imports by extension: unknown kinds and bad names raise.
  struct TCase {
    std::string File;
    std::string Message;
  } cases[] = {
      {"x.psd", "no valid asset group for this media type found: x.psd [\".psd\"]"},
      {"noext", "no valid asset group for this media type found: noext [\"\"]"},
  };
  for (const TCase& c : cases) EXPECT_EQ(MessageOf([&] { package->AddAssetFromFile(c.File); }), c.Message);
  EXPECT_EQ(MessageOf([&] { package->GetAssetFromId(12, bare->GetId()); }),
            "invalid group name \"12\" for asset \"" + bare->GetId().ToString() + "\"");
  EXPECT_EQ(package->GetAssetFromFile("NONE", "x.wav"), nullptr);

  TMemoryStream data;
  data.WriteBuffer("abc", 3);
  struct TStreamCase {
    const TClass* Kind;
    std::string Name;
    std::string Message;
  } streamCases[] = {
      {TQuorvelAudioAsset::StaticClass(), "", "AssetsManager.AudioAsset - filename empty"},
      {TQuorvelAudioAsset::StaticClass(), "noext", "AssetsManager.AudioAsset exception - invalid file extension"},
      {TQuorvelAudioAsset::StaticClass(), "dot.", "AssetsManager.AudioAsset exception - invalid file extension"},
      {TQuorvelAudioAsset::StaticClass(), "n.txt", "AssetsManager.AudioAsset - unsupported file format \".txt\""},
      {TQuorvelSkillsAsset::StaticClass(), "n.dlg", "AssetsManager.AudioAsset - unsupported file format \".dlg\""},
  };
  for (const TStreamCase& c : streamCases) {
    TOwned<TQuorvelAsset> asset(c.Kind->CreateAs<TQuorvelAsset>(nullptr));
    data.SetPosition(0);
    EXPECT_EQ(MessageOf([&] { asset->ImportFromStream(c.Name, &data, {}); }), c.Message) << c.Name;
  }
  // Upper-case extensions are kept in lower case; new bytes replace longer old ones whole.
  TOwned<TQuorvelAudioAsset> wave(New<TQuorvelAudioAsset>(nullptr));
  TMemoryStream longer;
  longer.WriteBuffer("0123456789", 10);
  longer.SetPosition(0);
  wave->ImportFromStream("dir/Loud.WAV", &longer, {});
  data.SetPosition(1);
  wave->ImportFromStream("dir/Loud.WAV", &data, {});
  EXPECT_EQ(wave->GetExtension(), ".wav");
  EXPECT_EQ(wave->GetFilename(), "Loud.WAV");
  EXPECT_EQ(Bytes(wave->GetStream()), "bc");

  // Game systems: none while there are no bytes.
  TOwned<TQuorvelDialogueAsset> talk(New<TQuorvelDialogueAsset>(nullptr));
  EXPECT_EQ(talk->GetDialogueSystem(), nullptr);
  TFileStream xml(DataDir + "/game/dialogue.xml", fmOpenRead);
  talk->ImportFromStream("talk.dlg", &xml, {});
  EXPECT_NE(talk->GetDialogueSystem(), nullptr);

  // Every new model asset has the ten sub-groups.
  TOwned<TQuorvelModelAsset> model(New<TQuorvelModelAsset>(nullptr));
  ASSERT_EQ(model->SubGroupCount(), 10);
  EXPECT_EQ(model->GetSubGroup(9)->GetDescr(), "SKILLS");
  EXPECT_EQ(model->GetSubGroup(1)->GetOwnerAsset(), model.get());
}

TEST_F(AssetsPackages, ClearingWithAndWithoutTheArchive) {
  TOwned<TQuorvelAssetsManager> manager(New<TQuorvelAssetsManager>(nullptr));
  TQuorvelAssetsPackage* package = manager->AddEmptyPackage("p");
  package->SetFilename(Path("p.zip"));
  package->AddAssetFromFile(Path("code.pas"));
  package->AddAssetFromFile(Path("clip.mp4"));
  TQuorvelArchiveReference* archive = package->GetArchive();
  EXPECT_EQ(archive->GetFileNames().size(), 6u);
  package->ClearGroup(7, false);
  EXPECT_EQ(archive->GetFileNames().size(), 6u);
  EXPECT_EQ(package->GetGroup(7)->Count(), 0);
  package->GetGroup(3)->Delete();
  EXPECT_EQ(archive->GetFileNames().size(), 3u);  // the video's three entries went
  package->Delete();
  EXPECT_EQ(archive->GetFileNames(), std::vector<std::string>{});
  EXPECT_EQ(package->GroupCount(), 0);

  // A package that never had an archive writes nothing.
  TQuorvelAssetsPackage* fresh = manager->AddEmptyPackage("fresh");
  fresh->SaveToFile(Path("never.zip"));
  EXPECT_FALSE(TFile::Exists(Path("never.zip")));
  manager->RemovePackage("fresh");
  EXPECT_EQ(manager->GetPackage("fresh"), nullptr);
}

TEST_F(AssetsPackages, StoredTexturesAndModelsKeepTheirFormat) {
  TOwned<TQuorvelAssetsManager> manager(New<TQuorvelAssetsManager>(nullptr));
  TQuorvelAssetsPackage* package = manager->AddEmptyPackage("p");
  auto* texture = package->AddAssetFromFile(Path("SpiderTex.jpg"))->As<TQuorvelTextureAsset>();
  TQuorvelArchiveReference* archive = package->GetArchive();
  const std::string entry = texture->GetArchivePath() + "/SpiderTex.jpg";
  const std::string png = Entry(archive, entry);
  EXPECT_EQ(png.substr(1, 3), "PNG");  // PNG under the JPEG's name
  // Written once: a changed entry is never written over by later stores.
  TBytesStream marker(TBytes{'m'});
  archive->DeleteFile(entry);
  archive->AddFromStream(&marker, entry);
  package->SaveToStream(nullptr);
  EXPECT_EQ(Entry(archive, entry), "m");

  auto* model = package->AddAssetFromFile(Path("spider.obj"))->As<TQuorvelModelAsset>();
  const std::string body = Entry(archive, model->GetArchivePath() + "/spider.obj");
  ASSERT_GT(body.size(), 33u);
  EXPECT_EQ(body[24], 1);  // JSON body
  EXPECT_EQ(body[28], 0);  // neither zipped nor beautified
  EXPECT_EQ(body[32], '{');
  std::unique_ptr<TJSONObject> descr(
      assets_layout::ReadDescriptor(archive, model->GetArchivePath() + "/asset.json"));
  EXPECT_EQ(descr->GetValue("Extension")->Value(), ".q3m");
  // Models import into the model group only.
  TQuorvelAssetsGroup* second = TQuorvelAssetsGroup::CreateForAsset(package->GetGroups(), TQuorvelModelAsset::StaticMeta());
  second->SetDisplayName("MORE MODELS");
  EXPECT_EQ(MessageOf([&] { second->GetAssetFromFile(Path("box.obj"), false); }),
            "autocreated asset not found for " + Path("box.obj"));
  EXPECT_EQ(package->GetGroup(0)->Count(), 1);  // refused before anything was read
}

// A model asset's definition points at the texture assets of its sub-group: freeing them
// while the definition stays (the sub-group cleared or removed) leaves the definition without
// them instead of with dangling pointers, and the package still stores the model.
TEST_F(AssetsPackages, TexturesFreedUnderTheirModelLeaveTheDefinitionWithoutThem) {
  const std::pair<const char*, std::function<void(TQuorvelModelAsset*)>> cases[] = {
      {"ClearSubGroup", [](TQuorvelModelAsset* m) { m->ClearSubGroup(m->GetSubGroupIndex("TEXTURE")); }},
      {"Clear(True)", [](TQuorvelModelAsset* m) { m->GetSubGroup("TEXTURE")->Clear(true); }},
      {"RemoveSubGroup", [](TQuorvelModelAsset* m) { m->RemoveSubGroup("TEXTURE"); }},
  };
  for (const auto& [name, act] : cases) {
    SCOPED_TRACE(name);
    TOwned<TQuorvelAssetsManager> manager(New<TQuorvelAssetsManager>(nullptr));
    TQuorvelAssetsPackage* package = manager->AddEmptyPackage("p");
    auto* spider = package->AddAssetFromFile(Path("spider.obj"))->As<TQuorvelModelAsset>();
    auto* def = dynamic_cast<TModelDef*>(spider->GetModel());
    ASSERT_NE(def, nullptr);
    ASSERT_EQ(def->GetTextureAssets().size(), 5u);
    act(spider);
    EXPECT_TRUE(def->GetTextureAssets().empty());
    for (const auto& [id, material] : def->GetMaterials())
      if (material->GetTextures()) {
        for (TTextureDef* texture : *material->GetTextures()) EXPECT_EQ(texture->GetAssetRef(), nullptr) << id;
      }
    TMemoryStream out;
    package->SaveToStream(&out);  // stores the model: its textures are read (ASan)
    EXPECT_GT(out.GetSize(), 22);
  }
}

// Corrupt packages: every prefix of a small package, flipped bytes and bad descriptors end in
// a clear exception or the valid part, leave the file as it was and other packages intact.
TEST_F(AssetsPackages, CorruptPackagesFailCleanly) {
  std::string good;
  {
    TOwned<TQuorvelAssetsManager> manager(New<TQuorvelAssetsManager>(nullptr));
    TQuorvelAssetsPackage* package = manager->AddEmptyPackage("p");
    package->AddAssetFromFile(Path("code.pas"));
    package->AddAssetFromFile(Path("read m\xC3\xA4.txt"))->AddSubAssetFromFile(Path("clip.mp4"));
    TMemoryStream out;
    package->SaveToStream(&out);
    good = Bytes(&out);
  }
  TOwned<TQuorvelAssetsManager> manager(New<TQuorvelAssetsManager>(nullptr));
  TQuorvelAssetsPackage* intact = manager->AddEmptyPackage("intact");
  intact->AddAssetFromFile(Path("thing.prefab"));
  const std::string intactBefore = Describe(intact);
  auto tryLoad = [&](const std::string& ABytes) {
    const std::string file = Dir.Write("bad.zip", ABytes);
    try {
      TQuorvelAssetsPackage* package = manager->AddEmptyPackage("bad");
      auto remove = [&] { manager->RemovePackage("bad"); };
      try {
        package->LoadFromFile(file);
      } catch (...) {
        remove();
        throw;
      }
      remove();
    } catch (const std::exception&) {
    }
    EXPECT_EQ(FileText(file), ABytes);
  };
  for (size_t n = 1; n < good.size(); n += (n < 64 ? 1 : 37)) tryLoad(good.substr(0, n));
  for (size_t i = 0; i < good.size(); i += 11) {
    std::string flipped = good;
    flipped[i] = char(flipped[i] ^ 0x5A);
    tryLoad(flipped);
  }
  EXPECT_EQ(Describe(intact), intactBefore);

  // Bad descriptors: the message, or nothing created.
  struct TCase {
    const char* What;
    std::string Descriptor;
    std::string Message;
  } cases[] = {
      {"not json", "{nope", "invalid descriptor json: MISC/{00000000-0000-0000-0000-000000000001}/asset.json"},
      {"not an object", "[1]", "Invalid class typecast"},
      {"no id", R"({"Type":"Quorvel.AssetsManager.TQuorvelMiscAsset"})", "failed to load asset - id not set"},
      {"a component type", R"({"Type":"Quorvel.Model.TQuorvelModel","Id":"{00000000-0000-0000-0000-000000000001}"})", ""},
      {"unknown type", R"({"Type":"Nope","Id":"{00000000-0000-0000-0000-000000000001}"})", ""},
  };
  for (const TCase& c : cases) {
    TOwned<TQuorvelArchiveReferences> registry(New<TQuorvelArchiveReferences>());
    TQuorvelArchiveReference* ref = registry->CreateArchiveInMemory("x");
    auto add = [&](const std::string& AName, const std::string& AText) {
      TBytesStream s(TBytes(AText.begin(), AText.end()));
      ref->AddFromStream(&s, AName);
    };
    add("MISC/group.json", R"({"Id":1,"Descr":"MISC","AssetClass":"Quorvel.AssetsManager.TQuorvelMiscAsset"})");
    add("MISC/{00000000-0000-0000-0000-000000000001}/asset.json", c.Descriptor);
    TMemoryStream bytes;
    ref->SaveToStream(nullptr, &bytes);
    TQuorvelAssetsPackage* package = manager->AddEmptyPackage("d");
    bytes.SetPosition(0);
    EXPECT_EQ(MessageOf([&] { package->LoadFromStream(&bytes); }), c.Message.empty() ? "(nothing raised)" : c.Message)
        << c.What;
    if (c.Message.empty()) {
      EXPECT_EQ(package->GetGroup("MISC")->Count(), 0) << c.What;
    }
    manager->RemovePackage("d");
  }
  // A group descriptor naming a class that is no asset creates no group.
  {
    TOwned<TQuorvelArchiveReferences> registry(New<TQuorvelArchiveReferences>());
    TQuorvelArchiveReference* ref = registry->CreateArchiveInMemory("x");
    TBytesStream s(TBytes{});
    const std::string text = R"({"Id":1,"Descr":"EXTRA","AssetClass":"Quorvel.Model.TQuorvelModel"})";
    TBytesStream g(TBytes(text.begin(), text.end()));
    ref->AddFromStream(&g, "EXTRA/group.json");
    TMemoryStream bytes;
    ref->SaveToStream(nullptr, &bytes);
    TQuorvelAssetsPackage* package = manager->AddEmptyPackage("g");
    bytes.SetPosition(0);
    package->LoadFromStream(&bytes);
    EXPECT_EQ(package->GetGroup("EXTRA"), nullptr);
    EXPECT_EQ(package->GroupCount(), 10);
  }
}

TEST_F(AssetsPackages, PackagesOfOneNameKeepTheirOwnMemoryArchives) {
  TOwned<TQuorvelAssetsManager> manager(New<TQuorvelAssetsManager>(nullptr));
  TQuorvelAssetsPackage* first = manager->AddEmptyPackage("same");
  TQuorvelAssetsPackage* second = manager->AddEmptyPackage("same");
  first->AddAssetFromFile(Path("code.pas"));
  second->AddAssetFromFile(Path("clip.mp4"));
  EXPECT_NE(first->GetArchive(), second->GetArchive());
  EXPECT_EQ(first->GetArchive()->GetFileNames().size(), 3u);
  EXPECT_EQ(second->GetArchive()->GetFileNames().size(), 3u);
  EXPECT_EQ(manager->GetArchiveReferences()->Count(), 2);
  manager->RemovePackage(first->GetGUID());
  EXPECT_EQ(manager->GetArchiveReferences()->Count(), 1);
}

}  // namespace
}  // namespace quorvel
