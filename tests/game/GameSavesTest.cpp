// Saves of the game files: a save that fails keeps the old file byte for byte and names the
// file in its error; a save into a reused stream ends the data there; singles are written in
// their shortest form; generated names stay quick however many siblings exist.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>

#include "framework/io/Stream.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/Random.h"
#include "lib/game/DialogueXml.h"
#include "lib/game/Inventory.h"
#include "lib/game/XmlDocument.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const std::string& APath) {
  std::ifstream in(APath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& APath, const std::string& AText) {
  std::ofstream(APath, std::ios::binary) << AText;
}

class GameSavesTest : public ::testing::Test {
protected:
  void SetUp() override {
    Dir = fs::temp_directory_path() / ("quorvel-saves-" + std::to_string(::getpid()) + "-" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(Dir);
  }
  void TearDown() override { fs::remove_all(Dir); }
  std::string File(const std::string& AName) const { return (Dir / AName).string(); }
  // Only the file itself is left in the folder: no temporary file stays behind.
  void ExpectOnlyFile(const std::string& APath) const {
    int count = 0;
    for (const auto& entry : fs::directory_iterator(Dir)) {
      ++count;
      EXPECT_EQ(entry.path().string(), APath);
    }
    EXPECT_EQ(count, 1);
  }
  fs::path Dir;
};

const std::string Nul("bad \0 text", 10);

// Every save to a file: the first succeeds; a spoilt one raises EMz_XmlStoringError naming the
// file and leaves the first one's bytes; a mended one replaces the file.
TEST_F(GameSavesTest, FailedSavesKeepTheOldFile) {
  TMz_XmlDocument doc;
  auto* header = New<TMz_XmlElement>(&doc, nullptr, std::string(), std::string("xml"));
  header->setKind(mzDocument);
  doc.setRoot(header);
  auto* a = New<TMz_XmlElement>(&doc, header, std::string(), std::string("a"));

  // A comment cannot hold "-->" for any writer, whatever else it accepts: this save fails
  // after its file was named.
  TMz_XmlDocument commented;
  commented.loadFromString("<?xml version=\"1.0\"?><a><!--c--></a>");
  TMz_XmlNode* comment = dynamic_cast<TMz_XmlElement*>(commented.root())->find("a")->nodes()->Items(0);

  TQuorvelInventory* inventory = New<TQuorvelInventory>(nullptr);
  auto freeInventory = Finally([&] { Free(inventory); });
  TQuorvelInventoryItemTemplate* sword = inventory->AddItemTemplate("sword");

  TQuorvelDialogueSystem* dialogues = New<TQuorvelDialogueSystem>(nullptr);
  auto freeDialogues = Finally([&] { Free(dialogues); });
  TQuorvelDialogue* dialogue = New<TQuorvelDialogue>(dialogues->Dialogues());
  dialogue->SetIdent("d");

  const struct {
    const char* Name;
    std::function<void(const std::string&)> Save;
    std::function<void(bool)> Spoil;
    std::string Element;
  } cases[] = {
      {"comment.xml", [&](const std::string& f) { commented.saveToFile(f, true); },
       [&](bool s) { comment->setRawValue(s ? "x-->y" : "c"); }, "COMMENT"},
      {"doc.xml", [&](const std::string& f) { doc.saveToFile(f, true); },
       [&](bool s) { a->setRawValue(s ? Nul : "damage < 5"); }, "a"},
      {"inventory.xml", [&](const std::string& f) { inventory->SaveToFile(f); },
       [&](bool s) { sword->SetId(s ? Nul : "sword < 5"); }, "id"},
      {"dialogues.xml", [&](const std::string& f) { dialogues->SaveToFile(f); },
       [&](bool s) { dialogue->SetIdent(s ? Nul : "d & e"); }, "id"},
      {"writer.xml",
       [&](const std::string& f) {
         TOwned<TQuorvelDialogueWriter> writer(New<TQuorvelDialogueWriter>());
         writer->SaveToFile(dialogues, f);
       },
       [&](bool s) { dialogue->SetIdent(s ? Nul : "d"); }, "id"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string path = File(c.Name);
    c.Spoil(false);
    c.Save(path);
    const std::string good = ReadAll(path);
    ASSERT_FALSE(good.empty());
    c.Spoil(true);
    try {
      c.Save(path);
      ADD_FAILURE() << "no error";
    } catch (const EMz_XmlStoringError& e) {
      EXPECT_EQ(e.Message(), "value of \"" + c.Element + "\" cannot be stored [\"" + path + "\" at 0]");
    }
    EXPECT_EQ(ReadAll(path), good);
    ExpectOnlyFile(path);
    c.Spoil(false);
    WriteAll(path, "an older and much longer file " + std::string(5000, 'x'));
    c.Save(path);
    EXPECT_EQ(ReadAll(path), good);
    fs::remove(path);
  }
}

// A stream that held a longer save before ends where the new save ends, and loads again.
TEST_F(GameSavesTest, SavesIntoLongerStreamsEndThere) {
  TQuorvelInventory* inventory = New<TQuorvelInventory>(nullptr);
  auto freeInventory = Finally([&] { Free(inventory); });
  // Appended: g++ 12 at -O3 takes "text" + std::string for an overlapping copy (-Wrestrict).
  for (int i = 0; i < 20; ++i) inventory->AddItemTemplate(std::string("t").append(std::to_string(i)));
  TBytesStream stream;
  inventory->SaveToStream(&stream);
  const int64_t longer = stream.GetSize();
  inventory->Clear();
  inventory->AddItemTemplate("only");
  inventory->SaveToStream(&stream);
  EXPECT_LT(stream.GetSize(), longer);
  stream.SetPosition(0);
  TQuorvelInventory* back = New<TQuorvelInventory>(nullptr);
  auto freeBack = Finally([&] { Free(back); });
  back->LoadFromStream(&stream);
  EXPECT_EQ(back->ItemTemplates()->Count(), 1);

  TQuorvelDialogueSystem* dialogues = New<TQuorvelDialogueSystem>(nullptr);
  auto freeDialogues = Finally([&] { Free(dialogues); });
  TBytesStream reused(TBytes(10000, uint8_t('<')));
  New<TQuorvelDialogue>(dialogues->Dialogues())->SetIdent("d");
  dialogues->SaveToStream(&reused);
  TQuorvelDialogueSystem* again = New<TQuorvelDialogueSystem>(nullptr);
  auto freeAgain = Finally([&] { Free(again); });
  reused.SetPosition(0);
  again->LoadFromStream(&reused);
  ASSERT_EQ(again->Dialogues()->Count(), 1);
  EXPECT_EQ(again->Dialogues()->Items(0)->Ident(), "d");
}

// Singles take the fewest digits that read back to the same single.
TEST_F(GameSavesTest, SinglesAreWrittenInTheirShortestForm) {
  const TFormatSettings en = TFormatSettings::Create("en-US");
  const struct {
    float Value;
    const char* Text;
  } cases[] = {{0.1f, "0.1"},    {1.5f, "1.5"},         {10.0f, "10"},      {-0.3f, "-0.3"},
               {123456.7f, "123456.7"}, {0.0001f, "0.0001"}, {16777216.0f, "16777216"}, {0.0f, "0"}};
  for (const auto& c : cases) EXPECT_EQ(Mz_SingleToStr(c.Value, en), c.Text);
  for (float v : {1e-7f, 3.4e38f, 1.17549435e-38f, 1.0f / 3.0f, 2.7182817f, 9.999999e14f, 1e15f}) {
    const std::string text = Mz_SingleToStr(v, en);
    EXPECT_EQ(static_cast<float>(StrToFloat(text, en)), v) << text;
    EXPECT_LE(text.size(), 15u) << text;
  }

  TQuorvelInventory* inventory = New<TQuorvelInventory>(nullptr);
  auto freeInventory = Finally([&] { Free(inventory); });
  inventory->AddItemTemplate("feather")->SetWeight(0.1f);
  TBytesStream stream;
  inventory->SaveToStream(&stream);
  const std::string text(stream.GetBytes().begin(), stream.GetBytes().begin() + stream.GetSize());
  EXPECT_NE(text.find("weight=\"0.1\""), std::string::npos) << text;
  stream.SetPosition(0);
  TQuorvelInventory* back = New<TQuorvelInventory>(nullptr);
  auto freeBack = Finally([&] { Free(back); });
  back->LoadFromStream(&stream);
  EXPECT_EQ(back->FindItemTemplate("feather")->Weight(), 0.1f);
}

// Idents are drawn below 10,000: the 10,001st sibling still gets one at once, in the API and
// in a file that holds that many items.
TEST_F(GameSavesTest, TenThousandAndOneSiblingsGetFreeIdents) {
  SetRandSeed(3);
  TQuorvelDialogueSystem* system = New<TQuorvelDialogueSystem>(nullptr);
  auto freeSystem = Finally([&] { Free(system); });
  TQuorvelDialogue* dialogue = New<TQuorvelDialogue>(system->Dialogues());
  for (int i = 0; i < 10001; ++i) dialogue->Items()->AddItem();
  std::set<std::string> idents;
  for (int i = 0; i < dialogue->Items()->Count(); ++i) idents.insert(dialogue->Items()->Items(i)->Ident());
  EXPECT_EQ(idents.size(), 10001u);

  std::string file = "<?xml version=\"1.0\"?><dialogues><dialogue id=\"d\"><items>";
  for (int i = 0; i < 10001; ++i) file += "<item kind=\"question\"/>";
  file += "</items></dialogue></dialogues>";
  TBytesStream stream(TBytes(file.begin(), file.end()));
  TQuorvelDialogueSystem* loaded = New<TQuorvelDialogueSystem>(nullptr);
  auto freeLoaded = Finally([&] { Free(loaded); });
  loaded->LoadFromStream(&stream);
  ASSERT_EQ(loaded->Dialogues()->Count(), 1);
  EXPECT_EQ(loaded->Dialogues()->Items(0)->Items()->Count(), 10001);
}

}  // namespace
}  // namespace quorvel
