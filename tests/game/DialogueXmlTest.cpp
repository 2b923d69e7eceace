#include <gtest/gtest.h>

#include <clocale>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "framework/io/Stream.h"
#include "framework/rtl/Finally.h"
#include "lib/game/DialogueXml.h"
#include "lib/game/XmlDocument.h"

namespace quorvel {
namespace {

using Kind = TQuorvelDialogueItemKind;
using EKind = TQuorvelDialogueEventKind;
using Trig = TQuorvelDialogueEventTrigger;

const std::string GoldenPath = std::string(QUORVEL_TEST_DATA_DIR) + "/game/dialogue.xml";

std::string ReadFileText(const std::string& APath) {
  std::ifstream in(APath, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Save(TQuorvelDialogueSystem* ASystem) {
  TOwned<TBytesStream> out(New<TBytesStream>());
  ASystem->SaveToStream(out.get());
  const TBytes& bytes = out->GetBytes();
  return std::string(bytes.begin(), bytes.begin() + out->GetSize());
}

void Load(TQuorvelDialogueSystem* ASystem, const std::string& AText) {
  TOwned<TBytesStream> in(New<TBytesStream>(TBytes(AText.begin(), AText.end())));
  ASystem->LoadFromStream(in.get());
}

std::string Doc(const std::string& ABody) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n" + ABody;
}

class DialogueXmlTest : public ::testing::Test {
protected:
  void SetUp() override { System = New<TQuorvelDialogueSystem>(nullptr); }
  void TearDown() override { Free(System); }
  TQuorvelDialogueSystem* System = nullptr;
};

// The golden file uses every element and attribute; it loads into the model below and saves
// back byte for byte.
TEST_F(DialogueXmlTest, GoldenFileLoadsIntoTheModelAndSavesBackIdentical) {
  const std::string golden = ReadFileText(GoldenPath);
  ASSERT_FALSE(golden.empty()) << GoldenPath;
  System->LoadFromFile(GoldenPath);

  EXPECT_EQ(System->Id(), "007");
  EXPECT_EQ(System->LanguageName(), "de-de");
  ASSERT_EQ(System->Dialogues()->Count(), 2);
  TQuorvelDialogue* d = System->Dialogues()->Items(0);
  EXPECT_EQ(d->Ident(), "intro");
  EXPECT_EQ(d->Position().X, 12.5f);
  EXPECT_EQ(d->Position().Y, -3.0f);
  EXPECT_TRUE(d->Enabled());
  ASSERT_EQ(d->Characters()->Count(), 2);
  TQuorvelDialogueCharacter* ann = d->Characters()->Items(0);
  EXPECT_EQ(ann->Ident(), "007");
  EXPECT_EQ(ann->Name(), "Ann");
  EXPECT_EQ(ann->GetParameter("age").AsInteger(), 31);
  EXPECT_FALSE(d->Characters()->Items(1)->Enabled());
  EXPECT_EQ(d->Characters()->Items(1)->Name(), "1.50");

  TQuorvelDialogueItem* q = d->FindItem("q1");
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(q->Kind(), Kind::Question);
  EXPECT_EQ(q->DisplayTime(), 2000);
  EXPECT_EQ(q->Character(), "007");
  EXPECT_EQ(q->CharacterRef(), ann);
  EXPECT_EQ(q->StoredDisplayName(), "Ann");  // the fallback that was written reads back as the name
  EXPECT_EQ(q->Text()->Items("en-us"), "Where to?");
  EXPECT_EQ(q->Text()->Items("de-de"), "Wohin?");
  // Typed parameters: a float, an integer, a Boolean, a string.
  const TValue f = q->GetParameter("speed");
  EXPECT_EQ(f.Kind(), tkFloat);
  EXPECT_EQ(q->GetParameter("count").Kind(), tkInteger);
  EXPECT_DOUBLE_EQ(f.AsExtended(), 1.5);
  EXPECT_EQ(q->GetParameter("count").AsInteger(), 12);
  EXPECT_TRUE(q->GetParameter("loud").IsBoolean());
  EXPECT_TRUE(q->GetParameter("loud").AsBoolean());
  EXPECT_EQ(q->GetParameter("mood").AsString(), "calm");
  ASSERT_EQ(q->Events()->Count(), 2);
  TQuorvelDialogueItemEvent* e = q->Events()->Items(0);
  EXPECT_EQ(e->Ident(), "e1");
  EXPECT_EQ(e->OwnerEvent(), "owner1");
  EXPECT_EQ(e->Kind(), EKind::Method);
  EXPECT_EQ(e->Trigger(), Trig::OnBegin);
  EXPECT_EQ(e->Scope(), "UI");
  EXPECT_EQ(e->Iterations(), 3);
  EXPECT_EQ(e->Data()->Items("*"), "Greet");
  EXPECT_EQ(e->GetParameter("who").AsString(), "Ann");
  TQuorvelDialogueItemEvent* e2 = q->Events()->Items(1);
  EXPECT_FALSE(e2->Enabled());
  EXPECT_EQ(e2->Kind(), EKind::ObjProperty);
  EXPECT_EQ(e2->Trigger(), Trig::OnTimeout);

  ASSERT_EQ(q->Items()->Count(), 2);
  TQuorvelDialogueItem* a = q->Items()->Items(0);
  EXPECT_EQ(a->Ident(), "a1");
  EXPECT_EQ(a->Kind(), Kind::Answer);
  EXPECT_FALSE(a->Enabled());
  EXPECT_EQ(a->GetDisplayName(), "North");
  TQuorvelDialogueItem* r = q->Items()->Items(1);
  EXPECT_EQ(r->Kind(), Kind::Reference);
  EXPECT_EQ(r->Reference(), "q1");
  EXPECT_EQ(r->GetDisplayName(), "TQuorvelDialogueItem");
  TQuorvelDialogueItem* flow = d->Items()->Items(1);
  EXPECT_EQ(flow->Kind(), Kind::Flow);
  EXPECT_EQ(flow->Events()->Items(0)->Kind(), EKind::Redirect);
  EXPECT_EQ(flow->Events()->Items(0)->Trigger(), Trig::OnEnd);

  TQuorvelDialogue* empty = System->Dialogues()->Items(1);
  EXPECT_FALSE(empty->Enabled());
  EXPECT_EQ(empty->Items()->Count(), 0);

  EXPECT_EQ(Save(System), golden);
}

TEST_F(DialogueXmlTest, SavingWritesUnderAnyLocaleAndOnlyWhatIsSet) {
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  auto restore = Finally([&] { std::setlocale(LC_ALL, saved.c_str()); });
  if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "no German locale installed";
  System->SetId("s");
  auto* d = New<TQuorvelDialogue>(System->Dialogues());
  d->SetIdent("d");
  d->SetPosition({1.5f, 2});
  auto* ref = d->Items()->AddItem();
  ref->SetIdent("r");
  ref->SetKind(Kind::Reference);
  ref->AddParameter("f", TValue(0.25));
  auto* plain = d->Items()->AddItem();
  plain->SetIdent("p");
  plain->SetReference("ignored");
  const std::string text = Save(System);
  EXPECT_NE(text.find("<dialogue id=\"d\" position=\"1.5;2\">"), std::string::npos) << text;
  EXPECT_NE(text.find("id=\"r\" kind=\"reference\" position=\"0;0\" display-name=\"TQuorvelDialogueItem\" ref=\"\""),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("<param name=\"f\">0.25</param>"), std::string::npos) << text;
  EXPECT_EQ(text.find("ignored"), std::string::npos);
  EXPECT_EQ(text.find("enabled"), std::string::npos);

  TQuorvelDialogueSystem* back = New<TQuorvelDialogueSystem>(nullptr);
  auto freeBack = Finally([&] { Free(back); });
  Load(back, text);
  TQuorvelDialogue* d2 = back->Dialogues()->Items(0);
  EXPECT_EQ(d2->Position().X, 1.5f);
  EXPECT_EQ(d2->Position().Y, 2.0f);
  EXPECT_DOUBLE_EQ(d2->FindItem("r")->GetParameter("f").AsExtended(), 0.25);
  EXPECT_EQ(Save(back), text);
}

TEST_F(DialogueXmlTest, AttributesReadWithTheirFallbacks) {
  Load(System, Doc("<dialogues id=\"x\" default-lang=\"xx-yy\"><dialogue id=\"1.50\" position=\"7\">"
                   "<items><item id=\" 007 \" kind=\"ANSWER\" ref=\"q\" display-name=\"  Bob\t\" "
                   "character=\" c \" display-time=\"abc\" enabled=\"FALSE\"><events>"
                   "<event id=\"e\" trigger=\"ONBEGIN\"/><event id=\"f\" kind=\"Property\" trigger=\"onEnd\" "
                   "iterations=\"x\"/><event id=\"g\" kind=\"bogus\"/></events></item>"
                   "<item id=\"k\" kind=\"strange\" position=\"a;2.5\"/></items></dialogue></dialogues>"));
  EXPECT_EQ(System->Id(), "x");
  EXPECT_EQ(System->Language(), 0);
  TQuorvelDialogue* d = System->Dialogues()->Items(0);
  EXPECT_EQ(d->Ident(), "1.50");
  EXPECT_EQ(d->Position().X, 0.0f);
  TQuorvelDialogueItem* item = d->Items()->Items(0);
  EXPECT_EQ(item->Ident(), " 007 ");
  EXPECT_EQ(item->Kind(), Kind::Answer);
  EXPECT_EQ(item->Reference(), "");  // "ref" counts for references only
  EXPECT_EQ(item->StoredDisplayName(), "Bob");
  EXPECT_EQ(item->Character(), "c");
  EXPECT_EQ(item->DisplayTime(), 0);
  EXPECT_FALSE(item->Enabled());
  ASSERT_EQ(item->Events()->Count(), 3);
  EXPECT_EQ(item->Events()->Items(0)->Trigger(), Trig::OnBegin);
  EXPECT_EQ(item->Events()->Items(0)->Kind(), EKind::Misc);
  EXPECT_EQ(item->Events()->Items(1)->Kind(), EKind::ObjProperty);
  EXPECT_EQ(item->Events()->Items(1)->Trigger(), Trig::OnEnd);
  EXPECT_EQ(item->Events()->Items(1)->Iterations(), 0);
  EXPECT_EQ(item->Events()->Items(2)->Kind(), EKind::Misc);
  EXPECT_EQ(item->Events()->Items(2)->Trigger(), Trig::Undefined);
  TQuorvelDialogueItem* k = d->Items()->Items(1);
  EXPECT_EQ(k->Kind(), Kind::None);
  EXPECT_EQ(k->Position().X, 0.0f);
  EXPECT_EQ(k->Position().Y, 2.5f);
}

TEST_F(DialogueXmlTest, ReaderMessagesKeepWhatWasAdded) {
  struct Case {
    std::string Text;
    std::string Message;
    int Dialogues;
  };
  const std::vector<Case> cases = {
      {Doc("<other/>"), "invalid xml structure - \"dialogues\" tag expected", 0},
      {Doc("<dialogues id=\"root\"/>"), "invalid xml structure - no child nodes inside of \"dialogues\" tag", 0},
      {Doc("<dialogues></dialogues>"), "invalid xml structure - no child nodes inside of \"dialogues\" tag", 0},
      {"", "invalid xml structure - \"dialogues\" tag expected", 0},

  };
  for (const Case& c : cases) {
    TQuorvelDialogueSystem* s = New<TQuorvelDialogueSystem>(nullptr);
    auto freeS = Finally([&] { Free(s); });
    try {
      Load(s, c.Text);
      ADD_FAILURE() << "no exception for " << c.Text;
    } catch (const EQuorvelDialogueReaderException& e) {
      EXPECT_EQ(std::string(e.what()), c.Message) << c.Text;
    }
    EXPECT_EQ(s->Dialogues()->Count(), c.Dialogues);
  }
  EXPECT_THROW(Load(System, "<dialogues><dialogue"), EMz_XmlParseError);

  // Items nested beyond the bound fail with the item's id; what was read stays.
  std::string deep = "<dialogues><dialogue id=\"d\"><items>";
  const int depth = TQuorvelDialogueReader::MaxItemDepth + 1;
  for (int i = 0; i < depth; ++i) deep += "<item id=\"i" + std::to_string(i) + "\"><items>";
  for (int i = 0; i < depth; ++i) deep += "</items></item>";
  deep += "</items></dialogue></dialogues>";
  try {
    Load(System, Doc(deep));
    ADD_FAILURE() << "no exception for deep nesting";
  } catch (const EQuorvelDialogueReaderException& e) {
    EXPECT_EQ(std::string(e.what()), "failed to read dialogue file - items nested too deeply in dialog item i" +
                                         std::to_string(depth - 1));
  }
  EXPECT_EQ(System->Dialogues()->Count(), 1);
}

TEST_F(DialogueXmlTest, LoadingTwiceDoublesAndConvertersRoundTrip) {
  const std::string text = Doc("<dialogues id=\"a\"><dialogue id=\"d\"/></dialogues>");
  Load(System, text);
  Load(System, text);
  EXPECT_EQ(System->Dialogues()->Count(), 2);
  // A dialogue without characters or items is a self-closed element.
  EXPECT_NE(Save(System).find("<dialogue id=\"d\" position=\"0;0\" />"), std::string::npos);

  for (int k = 0; k <= int(EKind::Misc); ++k)
    EXPECT_EQ(StringToDialogueEventKind(DialogueEventKindToString(EKind(k))), EKind(k));
  for (int k = 0; k <= int(Kind::Reference); ++k)
    EXPECT_EQ(StringToDialogueItemKind(DialogueItemKindToString(Kind(k))), Kind(k));
  for (int k = 0; k <= int(Trig::OnTimeout); ++k)
    EXPECT_EQ(StringToDialogueEventTrigger(DialogueEventTriggerToString(Trig(k))), Trig(k));
  EXPECT_EQ(DialogueEventTriggerToString(Trig::OnTimeout), "onTimeout");
  EXPECT_EQ(DialogueEventKindToString(EKind::ObjProperty), "property");
}

TEST_F(DialogueXmlTest, ReaderAndWriterObjectsAndFiles) {
  const std::string path = ::testing::TempDir() + "dialogue_rw.xml";
  TQuorvelDialogueReader reader;
  TOwned<TQuorvelDialogueSystem> loaded(reader.LoadFromFile(GoldenPath));
  EXPECT_EQ(loaded->Dialogues()->Count(), 2);
  TQuorvelDialogueWriter writer;
  writer.SaveToFile(loaded.get(), path);
  writer.SaveToFile(nullptr, path);  // nothing happens
  EXPECT_EQ(ReadFileText(path), ReadFileText(GoldenPath));
  reader.AddFromFile(path, loaded.get());
  EXPECT_EQ(loaded->Dialogues()->Count(), 4);
  // Saving over a longer file truncates it.
  TOwned<TQuorvelDialogueSystem> small(New<TQuorvelDialogueSystem>(nullptr));
  small->SetId("s");
  small->SaveToFile(path);
  EXPECT_EQ(ReadFileText(path), Save(small.get()));
  std::remove(path.c_str());
}

}  // namespace
}  // namespace quorvel
