#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <set>
#include <iterator>
#include <fstream>
#include <regex>
#include <string>
#include <thread>

#include "framework/io/Stream.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/Stopwatch.h"
#include "framework/rtl/Thread.h"
#include "lib/game/SkillSystem.h"
#include "lib/game/XmlDocument.h"

namespace quorvel {
namespace {

using I = TQuorvelSkillLevelInterpolation;

std::string Save(TQuorvelSkillSystem* ASystem) {
  TOwned<TBytesStream> out(New<TBytesStream>());
  ASystem->SaveToStream(out.get());
  const TBytes& bytes = out->GetBytes();
  return std::string(bytes.begin(), bytes.begin() + out->GetSize());
}

void Load(TQuorvelSkillSystem* ASystem, const std::string& AText) {
  TOwned<TBytesStream> in(New<TBytesStream>(TBytes(AText.begin(), AText.end())));
  ASystem->LoadFromStream(in.get());
}

std::string SkillDoc(const std::string& ABody) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n" + ABody;
}

class SkillSystemXmlTest : public ::testing::Test {
protected:
  void SetUp() override {
    SetClock(&Time);
    System = New<TQuorvelSkillSystem>(nullptr);
    Back = New<TQuorvelSkillSystem>(nullptr);
  }
  void TearDown() override {
    Free(Back);
    Free(System);
    ResetClock();
  }
  bool Pump(const std::function<bool()>& APred) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      CheckSynchronize();
      if (APred()) return true;
      Time.AdvanceMs(50);
      std::this_thread::yield();
    }
    return false;
  }
  TManualClock Time;
  TQuorvelSkillSystem* System = nullptr;
  TQuorvelSkillSystem* Back = nullptr;
};

TEST_F(SkillSystemXmlTest, TheTreeRoundTrips) {
  System->SetName("Skills");
  System->SetLanguage(1);
  System->SetPosition({1.5f, -2});
  TQuorvelSkillGroup* g = System->AddGroup();
  g->SetNames("de-de", "Magie");
  g->SetIcon(4);
  g->SetEnabled(false);
  g->SetPosition({0.25f, 3});
  TQuorvelSkill* s = g->AddSkill();
  s->SetActivated(true);
  s->SetValue(2.5f);
  s->SetFactor(0.5f);
  s->SetInterpolation(I::ExponentialMinus1Interpolation);
  s->SetLevel(3);
  s->SetMaxLevel(7);
  s->SetLevelingTime(250);
  s->SetData(TValue(1.75));
  TQuorvelSkill* nested = s->AddSkill();
  nested->SetNames("en-us", "Nested");
  const std::string text = Save(System);
  EXPECT_TRUE(std::regex_search(text, std::regex("guid=\"\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}\"")));
  EXPECT_NE(text.find("id=\"TQuorvelSkill\""), std::string::npos);
  EXPECT_NE(text.find("<value>1</value>"), std::string::npos);  // the nested skill's default
  EXPECT_NE(text.find("<data>(empty)</data>"), std::string::npos);
  Load(Back, text);
  EXPECT_EQ(Back->GetName(), "Skills");
  EXPECT_EQ(Back->Language(), 1);
  EXPECT_EQ(Back->Position().X, 1.5f);
  ASSERT_EQ(Back->Groups()->Count(), 1);
  TQuorvelSkillGroup* g2 = Back->Groups()->Items(0);
  EXPECT_EQ(g2->GUID(), g->GUID());
  EXPECT_EQ(g2->GetNames("de-de"), "Magie");
  EXPECT_EQ(g2->GetNames("en-uk"), g->GetNames("en-uk"));
  EXPECT_EQ(g2->Icon(), 4);
  EXPECT_FALSE(g2->Enabled());
  EXPECT_EQ(g2->Position().Y, 3.0f);
  TQuorvelSkill* s2 = g2->FindSkillByGUID(s->GUID());
  ASSERT_NE(s2, nullptr);
  EXPECT_TRUE(s2->Activated());
  EXPECT_EQ(s2->Value(), 2.5f);
  EXPECT_EQ(s2->Factor(), 0.5f);
  EXPECT_EQ(s2->Interpolation(), I::ExponentialMinus1Interpolation);
  EXPECT_EQ(s2->Level(), 3);
  EXPECT_EQ(s2->MaxLevel(), 7);
  EXPECT_EQ(s2->LevelingTime(), 250);
  EXPECT_DOUBLE_EQ(s2->Data().AsExtended(), 1.75);
  ASSERT_EQ(s2->Skills()->Count(), 1);
  TQuorvelSkill* nested2 = s2->Skills()->Items(0);
  EXPECT_EQ(nested2->GUID(), nested->GUID());
  EXPECT_EQ(nested2->GetNames("en-us"), "Nested");
  EXPECT_TRUE(nested2->Data().IsEmpty());  // "(empty)" reads back empty
  EXPECT_EQ(nested2->Value(), 1.0f);
  EXPECT_EQ(Save(Back), text);
  Load(Back, text);  // loading again adds
  EXPECT_EQ(Back->Groups()->Count(), 2);
}

TEST_F(SkillSystemXmlTest, PositionsAndChildNames) {
  struct Case {
    const char* Text;
    float X, Y;
  };
  const Case cases[] = {{"1.5;2", 1.5f, 2}, {"7", 0, 0}, {"1;2;3", 0, 0}, {"x;2", 0, 2}};
  for (const Case& c : cases) {
    Load(Back, SkillDoc(std::string("<skillsystem position=\"") + c.Text + "\"><groups/></skillsystem>"));
    EXPECT_EQ(Back->Position().X, c.X) << c.Text;
    EXPECT_EQ(Back->Position().Y, c.Y) << c.Text;
  }
  Load(Back, SkillDoc("<skillsystem><language>0</language><groups><group><name/><skills>"
                 "<skill><Value>4.5</Value><MAX-LEVEL>9</MAX-LEVEL><interpolation>logarithmicinterpolation</interpolation>"
                 "<Name type=\"multilingual\"><lang id=\"de-de\"><![CDATA[X]]></lang></Name></skill>"
                 "<skill><interpolation>Cubic</interpolation></skill></skills></group></groups></skillsystem>"));
  TQuorvelSkillGroup* g = Back->Groups()->Items(0);
  EXPECT_TRUE(std::regex_match(g->GetName(), std::regex("Group-[0-9]{1,4}")));  // an empty "name" keeps it
  TQuorvelSkill* s = g->Skills()->Items(0);
  EXPECT_EQ(s->Value(), 4.5f);
  EXPECT_EQ(s->MaxLevel(), 9);
  EXPECT_EQ(s->Interpolation(), I::LogarithmicInterpolation);
  EXPECT_EQ(s->GetNames("de-de"), "");  // "Name" is not "name"
  TQuorvelSkill* odd = g->Skills()->Items(1);
  odd->SetValue(2);
  EXPECT_EQ(odd->CalcNextValue(3, 2, 1), 5.0f);  // an unknown curve behaves as linear
}

TEST_F(SkillSystemXmlTest, PendingProcessesResumeWithTheirRemainingTime) {
  TQuorvelSkillGroup* g = System->AddGroup();
  TQuorvelSkill* direct = g->AddSkill();
  direct->SetLevelingTime(2000);
  direct->SetMaxLevel(-1);
  TQuorvelSkill* nested = direct->AddSkill();
  nested->SetMaxLevel(-1);
  nested->SetLevelingTime(5000);
  ASSERT_NE(direct->StartLevelingUp(nested), nullptr);
  // Started and 1000 ms on when saved.
  ASSERT_TRUE(Pump([&] {
    std::unique_lock<std::mutex> lock;
    auto list = System->Leveling()->LockedProcesses(lock);
    return !list.empty() && list[0]->IsStarted();
  }));
  int64_t started = 0;
  {
    std::unique_lock<std::mutex> lock;
    started = System->Leveling()->LockedProcesses(lock)[0]->StartTime();
  }
  while (int64_t(TThread::GetTickCount64()) - started < 1000) Time.AdvanceMs(100);
  const std::string text = Save(System);
  Load(Back, text);
  TQuorvelSkill* direct2 = Back->Groups()->Items(0)->Skills()->Items(0);
  TQuorvelSkill* nested2 = direct2->Skills()->Items(0);
  {
    std::unique_lock<std::mutex> lock;
    auto list = Back->Leveling()->LockedProcesses(lock);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]->Skill(), direct2);
    EXPECT_EQ(list[0]->Destination(), nested2);  // found among nested skills
    // Started as long ago as the saved process had run: the remaining time carries over.
    EXPECT_TRUE(list[0]->IsStarted());
    EXPECT_GE(int64_t(TThread::GetTickCount64()) - list[0]->StartTime(), 1000);
    EXPECT_EQ(list[0]->ToLevel(), 1);
    EXPECT_EQ(list[0]->TotalTime(), 2000);
  }
  ASSERT_TRUE(Pump([&] { return direct2->Level() == 1; }));

  // A process the worker has not started yet is saved with progress 0 and reads back unstarted.
  TMz_XmlDocument doc;
  auto* root = New<TMz_XmlElement>(&doc, nullptr, std::string(), std::string("processes"));
  doc.setRoot(root);
  TQuorvelSkillProcess unstarted(direct, nested, 5000, 4, 2.5f);
  TMz_XmlElement* node = unstarted.ToXml(root);
  EXPECT_EQ(node->attribute_raw("progress"), "0");
  TQuorvelSkillProcess read(nullptr, nullptr, 0, 0, 0.0f);
  read.FromXml(System, node);
  EXPECT_FALSE(read.IsStarted());
  EXPECT_EQ(read.Skill(), direct);
  EXPECT_EQ(read.Destination(), nested);
  EXPECT_EQ(read.ToLevel(), 4);
  EXPECT_EQ(read.NewValue(), 2.5f);
  EXPECT_EQ(read.TotalTime(), 5000);
}

TEST_F(SkillSystemXmlTest, LoadMessagesAndMissingFiles) {
  const std::string guid = "{00000000-0000-0000-0000-000000000001}";
  struct Case {
    std::string Text, Message;
  };
  const Case cases[] = {
      {SkillDoc("<other/>"), "root node \"skillsystem\" not found!"},
      {"", "root node \"skillsystem\" not found!"},
      {SkillDoc("<skillsystem/>"), "skill groups not found!"},
      {SkillDoc("<skillsystem><processes><process skill=\"" + guid + "\"/></processes></skillsystem>"),
       "failed to load leveling process - skill not found"},
  };
  for (const Case& c : cases) {
    try {
      Load(Back, c.Text);
      ADD_FAILURE() << c.Text;
    } catch (const Exception& e) {
      EXPECT_EQ(std::string(e.what()), c.Message);
    }
  }
  TQuorvelSkill* s = System->AddGroup()->AddSkill();
  const std::string sg = s->GUID().ToString();
  try {
    Load(System, SkillDoc("<skillsystem><processes><process skill=\"" + sg + "\" dest=\"" + guid +
                     "\"/></processes></skillsystem>"));
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_EQ(std::string(e.what()), "failed to load leveling process - destination not found");
  }
  // A process without a skill is skipped.
  Load(System, SkillDoc("<skillsystem><processes><process to-level=\"3\"/></processes></skillsystem>"));
  EXPECT_EQ(System->Leveling()->ProcessCount(), 0);

  const std::string path = ::testing::TempDir() + "skills_missing.xml";
  std::remove(path.c_str());
  System->LoadFromFile(path);
  EXPECT_EQ(System->Groups()->Count(), 1);
  System->SaveToFile(path);
  Back->LoadFromFile(path);
  EXPECT_NE(Back->FindSkillByGUID(s->GUID()), nullptr);
  std::remove(path.c_str());
}

// Removing a group cancels the pending level-ups of its skills at any depth and frees it: the
// worker never reaches them, and a save made afterwards loads back.
TEST_F(SkillSystemXmlTest, RemovedGroupsTakeTheirPendingLevelUps) {
  TQuorvelSkillGroup* kept = System->AddGroup();
  TQuorvelSkill* stays = kept->AddSkill();
  TQuorvelSkillGroup* gone = System->AddGroup();
  TQuorvelSkill* top = gone->AddSkill();
  TQuorvelSkill* nested = top->AddSkill();
  stays->SetMaxLevel(5);
  top->SetMaxLevel(5);
  nested->SetMaxLevel(5);
  ASSERT_NE(stays->StartLevelingUp(), nullptr);
  ASSERT_NE(top->StartLevelingUp(), nullptr);
  ASSERT_NE(nested->StartLevelingUp(), nullptr);
  EXPECT_EQ(System->Leveling()->ProcessCount(), 3);
  System->RemoveGroup(gone);
  EXPECT_EQ(System->Leveling()->ProcessCount(), 1);
  EXPECT_EQ(System->Groups()->Count(), 1);
  Load(Back, Save(System));
  EXPECT_EQ(Back->Leveling()->ProcessCount(), 1);
  EXPECT_TRUE(Pump([&] { return stays->Level() == 1; }));
}

// A save that fails keeps the old file byte for byte and names it.
TEST_F(SkillSystemXmlTest, FailedSavesKeepTheOldFile) {
  TQuorvelSkill* s = System->AddGroup()->AddSkill();
  const std::string path = ::testing::TempDir() + "quorvel-skills-" + std::to_string(::getpid()) + ".xml";
  auto remove = Finally([&] { std::remove(path.c_str()); });
  System->SaveToFile(path);
  std::ifstream first(path, std::ios::binary);
  const std::string good((std::istreambuf_iterator<char>(first)), {});
  s->SetName(std::string("a\0b", 3));
  try {
    System->SaveToFile(path);
    ADD_FAILURE() << "no error";
  } catch (const EMz_XmlStoringError& e) {
    EXPECT_NE(e.Message().find("[\"" + path + "\" at 0]"), std::string::npos) << e.Message();
  }
  std::ifstream second(path, std::ios::binary);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(second)), {}), good);
}

// Generated group names stay free and quick past the 10,000 numbers they are drawn from.
TEST_F(SkillSystemXmlTest, TenThousandAndOneGroupsGetFreeNames) {
  std::set<std::string> names;
  for (int i = 0; i < 10001; ++i) names.insert(System->AddGroup()->GetName());
  EXPECT_EQ(names.size(), 10001u);
}

}  // namespace
}  // namespace quorvel
