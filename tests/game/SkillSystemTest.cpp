#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <regex>
#include <set>
#include <thread>

#include "framework/rtl/Finally.h"
#include "framework/rtl/Stopwatch.h"
#include "framework/rtl/Thread.h"
#include "lib/game/SkillSystem.h"

namespace quorvel {
namespace {

using I = TQuorvelSkillLevelInterpolation;

class SkillSystemTest : public ::testing::Test {
protected:
  void SetUp() override {
    SetClock(&Time);
    System = New<TQuorvelSkillSystem>(nullptr);
    Group = System->AddGroup();
  }
  void TearDown() override {
    Free(System);
    ResetClock();
  }
  // Serves the main queue and moves the clock (up to AMaxMs) until APred holds; real time
  // is bounded, nothing sleeps.
  bool Pump(const std::function<bool()>& APred, int64_t AMaxMs = INT64_MAX) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    int64_t advanced = 0;
    while (std::chrono::steady_clock::now() < deadline) {
      CheckSynchronize();
      if (APred()) return true;
      if (advanced < AMaxMs) {
        Time.AdvanceMs(50);
        advanced += 50;
      }
      std::this_thread::yield();
    }
    return false;
  }
  // Moves the clock, without serving the main queue, until the worker holds no process any
  // more: it then waits inside Synchronize.
  bool WaitTakenOut() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      if (System->Leveling()->ProcessCount() == 0) return true;
      Time.AdvanceMs(50);
      std::this_thread::yield();
    }
    return false;
  }
  int64_t StartTimeOf(TQuorvelSkillProcess* AProcess) {
    std::unique_lock<std::mutex> lock;
    for (TQuorvelSkillProcess* p : System->Leveling()->LockedProcesses(lock))
      if (p == AProcess && p->IsStarted()) return p->StartTime();
    return 0;
  }

  TManualClock Time;
  TQuorvelSkillSystem* System = nullptr;
  TQuorvelSkillGroup* Group = nullptr;
};

TEST_F(SkillSystemTest, CurvesGiveTheNextValue) {
  struct Case {
    I Curve;
    int Level;
    float Factor, Value, Expected;
  };
  const Case cases[] = {
      {I::LinearInterpolation, 2, 1.5f, 10, 13},
      {I::LinearInterpolation, 0, 1.5f, 10, 10},
      {I::LogarithmicInterpolation, 4, 2, 99, 3},
      {I::ExponentialInterpolation, 1, 1, 5, 2.7182817f},
      {I::ExponentialMinus1Interpolation, 0, 1, 5, 0},
      // Level x Factor without a logarithm keeps the value (no -inf, no NaN).
      {I::LogarithmicInterpolation, 0, 2, 7, 7},
      {I::LogarithmicInterpolation, 3, -1, 7, 7},
  };
  TQuorvelSkill* skill = Group->AddSkill();
  for (const Case& c : cases) {
    skill->SetInterpolation(c.Curve);
    EXPECT_EQ(skill->CalcNextValue(c.Level, c.Value, c.Factor), c.Expected) << int(c.Curve) << " " << c.Level;
  }
}

TEST_F(SkillSystemTest, NamesDefaultsAndLookups) {
  TQuorvelSkill* skill = Group->AddSkill();
  EXPECT_TRUE(std::regex_match(System->GetName(), std::regex("SkillSystem_[0-9]{1,4}"))) << System->GetName();
  EXPECT_TRUE(std::regex_match(skill->GetName(), std::regex("Skill-[0-9]{1,4}"))) << skill->GetName();
  EXPECT_TRUE(std::regex_match(Group->GetName(), std::regex("Group-[0-9]{1,4}"))) << Group->GetName();
  EXPECT_EQ(skill->GetNames("en-us"), skill->GetName());
  EXPECT_EQ(skill->GetDisplayName(), "TQuorvelSkill");
  EXPECT_EQ(skill->Value(), 1.0f);
  EXPECT_EQ(skill->LevelingTime(), 1000);
  EXPECT_EQ(skill->Icon(), -1);
  EXPECT_EQ(skill->GetGroup(), Group);
  // A second system of one owner draws another name; siblings never share a generated name.
  TOwned<TComponent> owner(New<TComponent>(nullptr));
  auto* a = New<TQuorvelSkillSystem>(owner.get());
  auto* b = New<TQuorvelSkillSystem>(owner.get());
  EXPECT_NE(a->GetName(), b->GetName());
  for (int i = 0; i < 200; ++i) Group->AddSkill();
  std::set<std::string> names;
  for (int i = 0; i < Group->Skills()->Count(); ++i) EXPECT_TRUE(names.insert(Group->Skills()->Items(i)->GetName()).second);

  skill->SetName("Fire");
  skill->SetActivated(true);
  TQuorvelSkill* nested = skill->AddSkill();
  EXPECT_EQ(Group->FindSkillByName("Fire"), skill);
  EXPECT_EQ(System->FindSkillByGUID(skill->GUID()), skill);
  EXPECT_EQ(System->FindSkillByGUID(nested->GUID()), nullptr);  // sub-skills are not searched
  TDictionary<std::string, TQuorvelSkill*> active;
  Group->GetActivatedSkills(active);
  EXPECT_EQ(active.Count(), 1);
  EXPECT_EQ(active.Items("Fire"), skill);
  skill->SetNames("de-de", "Feuer");
  System->SetLanguage(2);
  EXPECT_EQ(skill->GetName(), "Feuer");
  skill->SetNames("de-de", "");
  EXPECT_EQ(skill->GetName(), "");
}

TEST_F(SkillSystemTest, HandOffOrProcess) {
  TQuorvelSkill* skill = Group->AddSkill();
  skill->SetActivated(true);
  skill->SetValue(4);
  TQuorvelSkill* next = skill->AddSkill();
  // Not levelled at all: the activation passes at once.
  EXPECT_EQ(skill->StartLevelingUp(), nullptr);
  EXPECT_FALSE(skill->Activated());
  EXPECT_TRUE(next->Activated());
  EXPECT_EQ(skill->Level(), 0);
  EXPECT_EQ(skill->Value(), 4.0f);
  // Without a sub-skill, or with a disabled one, it levels.
  next->SetEnabled(false);
  TQuorvelSkillProcess* p = skill->StartLevelingUp();
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->ToLevel(), 1);
  EXPECT_EQ(p->NewValue(), 4.0f);
  EXPECT_EQ(p->Destination(), next);
  TQuorvelSkill* endless = Group->AddSkill();
  endless->SetMaxLevel(-1);
  endless->SetLevel(50);
  endless->AddSkill();
  EXPECT_NE(endless->StartLevelingUp(), nullptr);
  EXPECT_EQ(System->Leveling()->ProcessCount(), 2);
}

TEST_F(SkillSystemTest, ALevelUpIsAppliedOnTheMainThreadAfterItsTime) {
  TQuorvelSkill* skill = Group->AddSkill();
  skill->SetActivated(true);
  skill->SetLevel(2);
  skill->SetMaxLevel(3);
  skill->SetValue(10);
  skill->SetFactor(1.5f);
  TQuorvelSkill* next = skill->AddSkill();
  TQuorvelSkillProcess* p = skill->StartLevelingUp();
  ASSERT_NE(p, nullptr);
  int64_t started = 0;
  ASSERT_TRUE(Pump([&] { return (started = StartTimeOf(p)) != 0; }));
  ASSERT_TRUE(Pump([&] { return skill->Level() == 3; }));
  EXPECT_GE(int64_t(TThread::GetTickCount64()) - started, skill->LevelingTime());
  EXPECT_EQ(skill->Value(), 13.0f);
  EXPECT_FALSE(skill->Activated());
  EXPECT_TRUE(next->Activated());
  EXPECT_EQ(System->Leveling()->ProcessCount(), 0);
}

TEST_F(SkillSystemTest, DestroyedWithProcessesPending) {
  TQuorvelSkill* skill = Group->AddSkill();
  for (int i = 0; i < 3; ++i) ASSERT_NE(skill->StartLevelingUp(), nullptr);
  FreeAndNil(System);  // the worker sleeps on the clock, which stands still
}

TEST_F(SkillSystemTest, DestroyedWhileTheWorkerWaitsForTheMainThread) {
  TQuorvelSkill* skill = Group->AddSkill();
  skill->SetLevelingTime(0);
  ASSERT_NE(skill->StartLevelingUp(), nullptr);
  // Taken out for the hand-off, never served: the worker waits inside Synchronize.
  ASSERT_TRUE(WaitTakenOut());
  FreeAndNil(System);
}

TEST_F(SkillSystemTest, AFreedSkillCancelsItsProcesses) {
  TQuorvelSkill* a = Group->AddSkill();
  TQuorvelSkill* b = Group->AddSkill();
  TQuorvelSkill* keep = Group->AddSkill();
  a->SetMaxLevel(-1);  // never hands on: every start is a process
  keep->SetMaxLevel(-1);
  a->StartLevelingUp(b);
  keep->StartLevelingUp(b);
  keep->StartLevelingUp(nullptr);
  EXPECT_EQ(System->Leveling()->ProcessCount(), 3);
  Group->Skills()->Delete(b->GetIndex());  // named as destination by two of them
  EXPECT_EQ(System->Leveling()->ProcessCount(), 1);

  // Already handed to the main thread when its skill goes: it is dropped, not applied.
  a->SetLevelingTime(0);
  a->StartLevelingUp(nullptr);
  keep->SetLevelingTime(0);
  ASSERT_TRUE(Pump([&] { return keep->Level() == 1 && a->Level() == 1; }));
  ASSERT_EQ(System->Leveling()->ProcessCount(), 0);
  TQuorvelSkill* doomed = Group->AddSkill();
  doomed->SetLevelingTime(0);
  doomed->StartLevelingUp(nullptr);
  ASSERT_TRUE(WaitTakenOut());
  Group->Skills()->Delete(doomed->GetIndex());
  for (int i = 0; i < 20; ++i) CheckSynchronize();
  EXPECT_EQ(a->Level(), 1);
}

}  // namespace
}  // namespace quorvel
