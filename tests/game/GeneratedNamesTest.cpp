// Generated idents and names follow their siblings as they are renamed, removed, copied and
// loaded: the same seed draws the same number first, so a name a sibling took meanwhile must
// be passed over and a name that became free again must be drawn again.
#include <gtest/gtest.h>

#include <string>

#include "framework/io/Stream.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/Random.h"
#include "lib/game/DialogueSystem.h"
#include "lib/game/SkillSystem.h"

namespace quorvel {
namespace {

constexpr uint32_t Seed = 11;

class DialogueIdents : public ::testing::Test {
protected:
  void SetUp() override {
    System = New<TQuorvelDialogueSystem>(nullptr);
    Dialogue = New<TQuorvelDialogue>(System->Dialogues());
    Other = Items()->AddItem();
  }
  void TearDown() override { Free(System); }
  TQuorvelDialogueItemCollection* Items() const { return Dialogue->Items(); }
  // The ident the seed draws first in the collection as it is.
  std::string FirstDraw() {
    SetRandSeed(Seed);
    TQuorvelDialogueItem* probe = Items()->AddItem();
    std::string ident = probe->Ident();
    Free(probe);
    return ident;
  }
  std::string Drawn() {
    SetRandSeed(Seed);
    return Items()->AddItem()->Ident();
  }

  TQuorvelDialogueSystem* System = nullptr;
  TQuorvelDialogue* Dialogue = nullptr;
  TQuorvelDialogueItem* Other = nullptr;
};

TEST_F(DialogueIdents, FollowRenamesRemovalsCopiesAndLoads) {
  // The freed probe's ident is free again.
  const std::string first = FirstDraw();
  EXPECT_EQ(Drawn(), first);
  Free(Items()->Items(Items()->Count() - 1));

  // A sibling renamed to it takes it; renamed away, it is free again.
  Other->SetIdent(first);
  EXPECT_NE(Drawn(), first);
  Free(Items()->Items(Items()->Count() - 1));
  Other->SetIdent("other");
  EXPECT_EQ(Drawn(), first);
  Free(Items()->Items(Items()->Count() - 1));

  // A copy carries the ident into the collection.
  TQuorvelDialogueItem* copy = Items()->AddItem();
  TQuorvelDialogueItem* holder = New<TQuorvelDialogue>(System->Dialogues())->Items()->AddItem();
  holder->SetIdent(first);
  copy->Assign(holder);
  EXPECT_EQ(copy->Ident(), first);
  EXPECT_NE(Drawn(), first);
  Free(Items()->Items(Items()->Count() - 1));
  // An item moved to another collection leaves its ident behind it.
  copy->SetCollection(holder->Items());
  EXPECT_EQ(Drawn(), first);
}

TEST_F(DialogueIdents, FollowTheIdentsOfALoadedFile) {
  const std::string first = FirstDraw();
  const std::string file = "<?xml version=\"1.0\"?><dialogues><dialogue id=\"d\"><items><item id=\"" + first +
                           "\" kind=\"question\"/></items></dialogue></dialogues>";
  TBytesStream stream(TBytes(file.begin(), file.end()));
  TQuorvelDialogueSystem* loaded = New<TQuorvelDialogueSystem>(nullptr);
  auto freeLoaded = Finally([&] { Free(loaded); });
  loaded->LoadFromStream(&stream);
  ASSERT_EQ(loaded->Dialogues()->Count(), 1);
  TQuorvelDialogueItemCollection* items = loaded->Dialogues()->Items(0)->Items();
  ASSERT_EQ(items->Count(), 1);
  ASSERT_EQ(items->Items(0)->Ident(), first);
  SetRandSeed(Seed);
  EXPECT_NE(items->AddItem()->Ident(), first);
}

class SkillNames : public ::testing::Test {
protected:
  void SetUp() override {
    System = New<TQuorvelSkillSystem>(nullptr);
    Other = System->AddGroup();
  }
  void TearDown() override { Free(System); }
  std::string Drawn() {
    SetRandSeed(Seed);
    TQuorvelSkillGroup* group = System->AddGroup();
    std::string name = group->GetName();
    System->RemoveGroup(group);
    return name;
  }

  TQuorvelSkillSystem* System = nullptr;
  TQuorvelSkillGroup* Other = nullptr;
};

TEST_F(SkillNames, FollowRenamesRemovalsAndTheLanguage) {
  const std::string first = Drawn();
  EXPECT_EQ(Drawn(), first);  // the removed group's name is free again

  // Renamed through the name map itself, a sibling takes the name; renamed away, it gives it up.
  Other->NameMap()->AddOrSetValue("en-us", first);
  EXPECT_NE(Drawn(), first);
  Other->NameMap()->Remove("en-us");
  EXPECT_EQ(Drawn(), first);

  // Names count in the current language only.
  Other->SetNames("de-de", first);
  EXPECT_EQ(Drawn(), first);
  System->SetLanguage(2);
  EXPECT_NE(Drawn(), first);
  System->SetLanguage(0);
  EXPECT_EQ(Drawn(), first);

  // A copied group brings its name along; a nested skill's siblings are its own.
  TQuorvelSkillGroup* copy = System->AddGroup();
  Other->SetNames("en-us", first);
  copy->Assign(Other);
  Other->SetNames("en-us", "other");
  EXPECT_NE(Drawn(), first);
  SetRandSeed(Seed);
  TQuorvelSkill* skill = copy->AddSkill();
  SetRandSeed(Seed);
  TQuorvelSkill* second = copy->AddSkill();
  EXPECT_NE(second->GetName(), skill->GetName());
}

}  // namespace
}  // namespace quorvel
