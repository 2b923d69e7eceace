#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "framework/classes/Filer.h"
#include "framework/gui/Timer.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/Random.h"
#include "framework/rtl/Stopwatch.h"
#include "lib/game/DialogueSystem.h"

namespace quorvel {
namespace {

using Kind = TQuorvelDialogueItemKind;
using EKind = TQuorvelDialogueEventKind;
using Trig = TQuorvelDialogueEventTrigger;

// A scope object with a published method and property, for Method and ObjProperty events.
class TDialogueProbe : public TObject {
  FW_CLASS(TDialogueProbe, TObject)
public:
  std::vector<std::string> Calls;
  std::string GetCaption() const { return FCaption; }
  void SetCaption(std::string AValue) { FCaption = std::move(AValue); }
  void Greet(std::string AWho, int ACount) { Calls.push_back(AWho + ":" + std::to_string(ACount)); }
  void Fail() { throw Exception("boom"); }

private:
  std::string FCaption;
};

}  // namespace

FW_CLASS_IMPL(TDialogueProbe, "Tests.Dialogue")
void TDialogueProbe::Register(ClassBuilder<TDialogueProbe>& b) {
  b.Prop("Caption", &Self::GetCaption, &Self::SetCaption).Method("Greet", &Self::Greet).Method("Fail", &Self::Fail);
}

namespace {

// A system with one dialogue; every handler call is recorded as text.
class DialogueTest : public ::testing::Test {
protected:
  void SetUp() override {
    SetClock(&Time);
    System = New<TQuorvelDialogueSystem>(nullptr);
    Dialogue = New<TQuorvelDialogue>(System->Dialogues());
    System->OnStartDialogue = [this](TQuorvelDialogue*, const TQuorvelDialogueItems& items) {
      Log.push_back("start " + std::to_string(items.size()));
    };
    System->OnStopDialogue = [this](TQuorvelDialogue*) { Log.push_back("stop"); };
    System->OnPauseDialogue = [this](TQuorvelDialogue*) { Log.push_back("pause"); };
    System->OnBeginDialogueItem = [this](TQuorvelDialogueItem* item, const TQuorvelDialogueItems&) {
      Log.push_back("begin " + item->Ident());
    };
    System->OnEndDialogueItem = [this](TQuorvelDialogueItem* item) { Log.push_back("end " + item->Ident()); };
    System->OnBeginItemTimeout = [this](TQuorvelDialogueItem* item, int t) {
      Log.push_back("timeout-begin " + item->Ident() + " " + std::to_string(t));
    };
    System->OnEndItemTimeout = [this](TQuorvelDialogueItem* item) { Log.push_back("timeout-end " + item->Ident()); };
    System->OnBeginDialogueItemEvent = [this](TQuorvelDialogueItemEvent* e, TObject*, bool& handled) {
      Log.push_back("event " + e->Ident());
      handled = HandleEvents;
    };
    System->OnSkippedDialogue = [this](TQuorvelDialogue*, TQuorvelDialogueItem* a, TQuorvelDialogueItem* b) {
      Log.push_back("skipped " + a->Ident() + " " + (b ? b->Ident() : std::string("nil")));
    };
  }
  void TearDown() override {
    Free(System);
    ResetClock();
  }

  TQuorvelDialogueItem* Add(TQuorvelDialogueParentItem* parent, const std::string& id, Kind kind, int time = 0) {
    TQuorvelDialogueItem* item = parent->Items()->AddItem();
    item->SetIdent(id);
    item->SetKind(kind);
    item->SetDisplayTime(time);
    return item;
  }
  TQuorvelDialogueItemEvent* AddEvent(TQuorvelDialogueItem* item, const std::string& id, EKind kind, Trig trig) {
    TQuorvelDialogueItemEvent* e = item->Events()->AddEvent();
    e->SetIdent(id);
    e->SetKind(kind);
    e->SetTrigger(trig);
    return e;
  }
  void Advance(int ms) {
    Time.AdvanceMs(ms);
    TTimer::ProcessTimers();
  }
  std::vector<std::string> Take() { return std::exchange(Log, {}); }

  TManualClock Time;
  TQuorvelDialogueSystem* System = nullptr;
  TQuorvelDialogue* Dialogue = nullptr;
  std::vector<std::string> Log;
  bool HandleEvents = false;
};

TEST_F(DialogueTest, GeneratedIdentsHaveTheirFormAndDifferAmongSiblings) {
  SetRandSeed(7);
  for (int i = 0; i < 300; ++i) Dialogue->Items()->AddItem();
  std::set<std::string> seen;
  for (int i = 0; i < Dialogue->Items()->Count(); ++i) {
    const std::string id = Dialogue->Items()->Items(i)->Ident();
    ASSERT_EQ(id.rfind("TQuorvelDialogueItem_", 0), 0u) << id;
    const int n = std::stoi(id.substr(21));
    EXPECT_TRUE(n >= 0 && n < 10000);
    EXPECT_TRUE(seen.insert(id).second) << "repeated " << id;
  }
  EXPECT_EQ(System->Id().rfind("TQuorvelDialogueSystem_", 0), 0u);
  // The seed makes the draw repeatable.
  SetRandSeed(99);
  const int a = Random(10000);
  SetRandSeed(99);
  EXPECT_EQ(Random(10000), a);
}

TEST_F(DialogueTest, LookupsTextAndCharacters) {
  auto* q = Add(Dialogue, "q", Kind::Question);
  auto* a = Add(q, "a", Kind::Answer);
  a->SetEnabled(false);
  EXPECT_TRUE(q->GetAvailableItems().empty());
  EXPECT_EQ(Dialogue->FindItem("a"), a);
  EXPECT_EQ(Dialogue->FindItem("nope"), nullptr);
  EXPECT_EQ(Dialogue->FindItemIndex("q"), 0);

  System->SetLanguage(LanguageCodeToId("de-de"));
  q->Text()->AddOrSetValue("*", "star");
  q->Text()->AddOrSetValue("en-us", "english");
  EXPECT_EQ(q->GetCurrentText(), "star");
  q->Text()->AddOrSetValue(System->LanguageName(), "deutsch");
  EXPECT_EQ(q->GetCurrentText(), "deutsch");

  auto* anna = Dialogue->Characters()->AddCharacter();
  anna->SetIdent("c1");
  anna->SetName("Anna");
  auto* bert = Dialogue->Characters()->AddCharacter();
  bert->SetIdent("c2");
  bert->SetName("Bert");
  a->SetCharacter("Anna");  // found by name
  EXPECT_EQ(a->CharacterRef(), anna);
  EXPECT_EQ(a->GetDisplayName(), "Anna");
  a->SetCharacter("c2");
  EXPECT_EQ(a->CharacterRef(), bert);
  a->SetCharacterRef(nullptr);
  EXPECT_EQ(a->Character(), "");
  EXPECT_EQ(a->GetDisplayName(), "TQuorvelDialogueItem");

  // Destroying a character clears it at any depth.
  auto* deep = Add(a, "deep", Kind::Flow);
  deep->SetCharacter("c1");
  ASSERT_EQ(deep->CharacterRef(), anna);
  Free(anna);
  EXPECT_EQ(deep->Character(), "");
  EXPECT_EQ(deep->CharacterRef(), nullptr);
  // Clearing dialogues whose characters outlive their items completes.
  System->ClearDialogues();
  EXPECT_EQ(System->Dialogues()->Count(), 0);
}

TEST_F(DialogueTest, WrongCollectionsAndOwnersRaise) {
  TOwnedCollection plain(nullptr, TQuorvelDialogueItem::StaticClass());
  try {
    New<TQuorvelDialogueItem>(&plain);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "invalid collection type - TQuorvelDialogueCustomCollection expected, but TOwnedCollection found");
  }
  TQuorvelDialogueItemCollection orphan(nullptr);
  try {
    orphan.Dialogue();
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "invalid owner of TQuorvelDialogueItem - GetDialogue() failed");
  }
  try {
    orphan.DialogueSystem();
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "invalid owner of TQuorvelDialogueItem - GetDialogueSystem() failed");
  }
}

TEST_F(DialogueTest, CloneGivesEqualTreesWithUnresolvedCharacters) {
  auto* q = Add(Dialogue, "q", Kind::Question, 500);
  auto* a = Add(q, "a", Kind::Answer);
  q->Text()->AddOrSetValue("en-us", "hi");
  q->SetPosition({1.5f, -2});
  AddEvent(a, "e", EKind::Redirect, Trig::OnEnd)->Data()->AddOrSetValue("*", "q");
  auto* c = Dialogue->Characters()->AddCharacter();
  c->SetIdent("c");
  a->SetCharacter("c");
  ASSERT_EQ(a->CharacterRef(), c);
  q->AddParameter("n", TValue::From<int>(3));

  TQuorvelDialogueSystem* copy = System->Clone(nullptr);
  EXPECT_EQ(copy->Id(), System->Id());
  ASSERT_EQ(copy->Dialogues()->Count(), 1);
  TQuorvelDialogue* d = copy->Dialogues()->Items(0);
  EXPECT_EQ(d->Ident(), Dialogue->Ident());
  auto* q2 = d->FindItem("q");
  ASSERT_NE(q2, nullptr);
  EXPECT_EQ(q2->DisplayTime(), 500);
  EXPECT_EQ(q2->Text()->Items("en-us"), "hi");
  EXPECT_EQ(q2->PositionText(), "(1.5,-2)");
  EXPECT_EQ(q2->GetParameter("n").AsInteger(), 3);
  auto* a2 = d->FindItem("a");
  EXPECT_EQ(a2->Character(), "c");
  EXPECT_EQ(a2->Events()->Items(0)->Data()->Items("*"), "q");
  EXPECT_TRUE(static_cast<bool>(copy->OnStopDialogue));
  EXPECT_EQ(a2->CharacterRef(), d->Characters()->Items(0));  // resolved in the copy's own dialogue
  Free(copy);
}

TEST_F(DialogueTest, FormStreamingCarriesTheTreeAndItsFourExtraProperties) {
  System->SetId("sys");
  System->SetLanguage(2);
  Dialogue->SetIdent("d");
  Dialogue->SetPosition({-3, 0.25f});
  auto* c = Dialogue->Characters()->AddCharacter();
  c->SetIdent("c");
  c->SetName("Ann");
  c->AddParameter("mood", TValue(std::string("calm")));
  auto* q = Add(Dialogue, "q", Kind::Question, 1500);
  q->SetPosition({12.5f, -3});
  q->Text()->AddOrSetValue("en-us", "Hello, 'you'");
  q->Text()->AddOrSetValue("de-de", "Hallo");
  q->SetCharacter("c");
  q->AddParameter("n", TValue::From<int>(3));
  q->AddParameter("f", TValue(1.5));
  auto* a = Add(q, "a", Kind::Answer);
  a->SetEnabled(false);
  a->SetDisplayName("Yes");
  auto* r = Add(a, "r", Kind::Reference);
  r->SetReference("q");
  auto* e = AddEvent(a, "e", EKind::ObjProperty, Trig::OnTimeout);
  e->SetScope("UI");
  e->SetOwnerEvent("o");
  e->SetIterations(3);
  e->Data()->AddOrSetValue("*", "payload");
  e->AddParameter("Caption", TValue(std::string("x")));

  const std::string text = TWriter(System).WriteRootComponent();
  for (const char* needle : {"Position = '(12.5,-3)'", "Position = '(-3,0.25)'", "TextMap = ", "DataMap = ",
                             "ParameterMap = ", "Kind = Question", "Trigger = OnTimeout"})
    EXPECT_NE(text.find(needle), std::string::npos) << needle << "\n" << text;

  TQuorvelDialogueSystem* back = New<TQuorvelDialogueSystem>(nullptr);
  auto freeBack = Finally([&] { Free(back); });
  TReader(back, text).ReadRootComponent();
  EXPECT_EQ(back->Id(), "sys");
  EXPECT_EQ(back->Language(), 2);
  ASSERT_EQ(back->Dialogues()->Count(), 1);
  TQuorvelDialogue* d = back->Dialogues()->Items(0);
  EXPECT_EQ(d->PositionText(), "(-3,0.25)");
  ASSERT_EQ(d->Characters()->Count(), 1);
  EXPECT_EQ(d->Characters()->Items(0)->Name(), "Ann");
  EXPECT_EQ(d->Characters()->Items(0)->GetParameter("mood").AsString(), "calm");
  TQuorvelDialogueItem* q2 = d->FindItem("q");
  ASSERT_NE(q2, nullptr);
  EXPECT_EQ(q2->Kind(), Kind::Question);
  EXPECT_EQ(q2->DisplayTime(), 1500);
  EXPECT_EQ(q2->PositionText(), "(12.5,-3)");
  EXPECT_EQ(q2->Text()->Items("en-us"), "Hello, 'you'");
  EXPECT_EQ(q2->Text()->Items("de-de"), "Hallo");
  EXPECT_EQ(q2->CharacterRef(), d->Characters()->Items(0));
  EXPECT_EQ(q2->GetDisplayName(), "Ann");  // the fallback is not stored as the item's own
  EXPECT_EQ(q2->GetParameter("n").AsInteger(), 3);
  EXPECT_DOUBLE_EQ(q2->GetParameter("f").AsExtended(), 1.5);
  TQuorvelDialogueItem* a2 = d->FindItem("a");
  ASSERT_NE(a2, nullptr);
  EXPECT_FALSE(a2->Enabled());
  EXPECT_EQ(a2->GetDisplayName(), "Yes");
  EXPECT_EQ(d->FindItem("r")->Reference(), "q");
  ASSERT_EQ(a2->Events()->Count(), 1);
  TQuorvelDialogueItemEvent* e2 = a2->Events()->Items(0);
  EXPECT_EQ(e2->Kind(), EKind::ObjProperty);
  EXPECT_EQ(e2->Trigger(), Trig::OnTimeout);
  EXPECT_EQ(e2->Scope(), "UI");
  EXPECT_EQ(e2->OwnerEvent(), "o");
  EXPECT_EQ(e2->Iterations(), 3);
  EXPECT_EQ(e2->Data()->Items("*"), "payload");
  EXPECT_EQ(e2->GetParameter("Caption").AsString(), "x");
  // Written again, the copy gives the same text.
  EXPECT_EQ(TWriter(back).WriteRootComponent(), text);
}

TEST_F(DialogueTest, FormStreamingReplacesMapsAndToleratesBadMapText) {
  auto* q = Add(Dialogue, "q", Kind::Question);
  q->Text()->AddOrSetValue("en-us", "old");
  q->AddParameter("old", TValue::From<int>(1));
  const std::string text = TWriter(System).WriteRootComponent();
  std::string bad = text;
  const size_t at = bad.find("TextMap = ");
  ASSERT_NE(at, std::string::npos);
  bad.replace(at, bad.find('\n', at) - at, "TextMap = 'not json'");
  TQuorvelDialogueSystem* back = New<TQuorvelDialogueSystem>(nullptr);
  auto freeBack = Finally([&] { Free(back); });
  TReader(back, bad).ReadRootComponent();
  TQuorvelDialogueItem* q2 = back->Dialogues()->Items(0)->FindItem("q");
  ASSERT_NE(q2, nullptr);
  EXPECT_EQ(q2->Text()->Count(), 0);
  EXPECT_EQ(q2->Parameters()->Count(), 1);
}

TEST_F(DialogueTest, PositionTextIgnoresBadNumbers) {
  auto* q = Add(Dialogue, "q", Kind::Question);
  q->SetPositionText("(3.25,4)");
  EXPECT_EQ(q->PositionText(), "(3.25,4)");
  q->SetPositionText("(x,7.5)");
  EXPECT_EQ(q->PositionText(), "(3.25,7.5)");
  q->SetPositionText("garbage");
  EXPECT_EQ(q->PositionText(), "(3.25,7.5)");
}

TEST_F(DialogueTest, StartWithoutItemsStaysIdle) {
  Dialogue->Start();
  EXPECT_FALSE(Dialogue->Started());
  EXPECT_TRUE(Take().empty());
}

TEST_F(DialogueTest, StartItemMessagesLeaveStateAlone) {
  auto* q = Add(Dialogue, "q", Kind::Question);
  auto* r = Add(Dialogue, "r", Kind::Reference);
  r->SetReference("missing");
  auto* other = New<TQuorvelDialogue>(System->Dialogues());
  auto* foreign = Add(other, "f", Kind::Flow);
  Dialogue->Start();
  Dialogue->StartItem(q);
  Take();
  struct Case {
    TQuorvelDialogueItem* item;
    const char* message;
  } cases[] = {{nullptr, "invalid dialogue item - empty"},
               {foreign, "invalid dialogue item - not belonging to this dialogue"},
               {r, "invalid dialogue item - reference not found"}};
  for (const Case& c : cases) {
    try {
      Dialogue->StartItem(c.item);
      ADD_FAILURE() << c.message;
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
    EXPECT_EQ(Dialogue->CurrentItem(), q);
  }
  Dialogue->StartItem(q);  // the current item again: nothing
  EXPECT_TRUE(Take().empty());
}

TEST_F(DialogueTest, QuestionTimesOutAfterItsDisplayTime) {
  auto* q = Add(Dialogue, "q", Kind::Question, 2000);
  Add(q, "a", Kind::Answer);
  AddEvent(q, "t", EKind::Text, Trig::OnTimeout);
  AddEvent(q, "e", EKind::Text, Trig::OnEnd);
  Dialogue->Start();
  Dialogue->StartItem(q);
  EXPECT_EQ(Take(), (std::vector<std::string>{"start 1", "begin q", "timeout-begin q 2000"}));
  Advance(1999);
  EXPECT_TRUE(Take().empty());
  Advance(1);
  EXPECT_EQ(Take(), (std::vector<std::string>{"timeout-end q", "event t", "event e", "end q"}));
  Advance(5000);
  EXPECT_TRUE(Take().empty());
}

TEST_F(DialogueTest, FlowChainRunsToTheEndOnTheClock) {
  auto* f1 = Add(Dialogue, "f1", Kind::Flow, 100);
  auto* f2 = Add(f1, "f2", Kind::Flow, 100);
  Add(f2, "f3", Kind::Flow, 100);
  Dialogue->Start();
  Dialogue->StartItem(f1);
  Take();
  Advance(100);
  EXPECT_EQ(Take(), (std::vector<std::string>{"timeout-end f1", "end f1", "begin f2", "timeout-begin f2 100"}));
  Advance(100);
  Advance(100);
  EXPECT_EQ(Take(), (std::vector<std::string>{"timeout-end f2", "end f2", "begin f3", "timeout-begin f3 100",
                                              "timeout-end f3", "end f3", "stop"}));
  EXPECT_FALSE(Dialogue->Started());
  EXPECT_EQ(Dialogue->CurrentItem(), nullptr);
}

TEST_F(DialogueTest, SkipWalksFlowChains) {
  auto* f1 = Add(Dialogue, "f1", Kind::Flow);
  auto* f2 = Add(f1, "f2", Kind::Flow);
  auto* q = Add(f2, "q", Kind::Question);
  Dialogue->Start();
  Dialogue->StartItem(f1);
  Dialogue->Skip(true);
  EXPECT_EQ(Dialogue->CurrentItem(), f2);
  Dialogue->StartItem(f1);
  Take();
  Dialogue->Skip(false);
  EXPECT_EQ(Dialogue->CurrentItem(), q);
  EXPECT_EQ(Take().back(), "skipped f1 q");
  Dialogue->Skip(false);  // a question: nothing
  EXPECT_TRUE(Take().empty());
}

TEST_F(DialogueTest, PauseRestartsFullIntervalsAndStopForgetsPausedItems) {
  auto* q = Add(Dialogue, "q", Kind::Question, 1000);
  auto* a = Add(q, "a", Kind::Answer, 300);
  Dialogue->Start();
  Dialogue->StartItem(q);
  a->Start();
  Advance(200);
  Dialogue->Pause();
  EXPECT_EQ(Dialogue->PausedItems(), (TQuorvelDialogueItems{a, q}));
  Advance(5000);
  Take();
  Dialogue->Pause();  // resume: full intervals from now
  EXPECT_TRUE(Take().empty());
  Advance(299);
  EXPECT_TRUE(Take().empty());
  Advance(1);
  EXPECT_EQ(Take(), (std::vector<std::string>{"timeout-end a"}));
  Advance(700);
  EXPECT_EQ(Take().front(), "timeout-end q");

  // The stale case: a paused flow item stopped while paused never ticks again.
  auto* f = Add(Dialogue, "f", Kind::Flow, 100);
  Add(f, "child", Kind::Question);
  Dialogue->Start();
  Dialogue->StartItem(f);
  Dialogue->Pause();
  Dialogue->Stop();
  EXPECT_TRUE(Dialogue->PausedItems().empty());
  Dialogue->Start();
  Dialogue->Pause();
  Dialogue->Pause();
  Take();
  Advance(1000);
  EXPECT_TRUE(Take().empty());
}

TEST_F(DialogueTest, SelectItemStopsAnswersAndMovesOn) {
  auto* q = Add(Dialogue, "q", Kind::Question);
  auto* a1 = Add(q, "a1", Kind::Answer);
  auto* a2 = Add(q, "a2", Kind::Answer);
  auto* next = Add(a1, "next", Kind::Question);
  Dialogue->Start();
  Dialogue->StartItem(q);
  a1->Start();
  a2->Start();
  Take();
  Dialogue->SelectItem(q);  // not an answer: nothing
  EXPECT_TRUE(Take().empty());
  Dialogue->SelectItem(a1);
  EXPECT_EQ(Take(), (std::vector<std::string>{"end a1", "end a2", "end q", "begin next"}));
  EXPECT_EQ(Dialogue->CurrentItem(), next);
  Dialogue->SelectItem(a2);  // no children: the dialogue stops
  EXPECT_FALSE(Dialogue->Started());
}

TEST_F(DialogueTest, EventsActOnTheirScopes) {
  TDialogueProbe probe;
  System->AddVariable("probe", &probe);
  auto* q = Add(Dialogue, "q", Kind::Question);
  auto* target = Add(Dialogue, "target", Kind::Question);
  q->SetUIElement(&probe);

  auto* m = AddEvent(q, "m", EKind::Method, Trig::OnBegin);
  m->SetScope("probe");
  m->Data()->AddOrSetValue("*", "Greet");
  m->AddParameter("who", TValue::From<std::string>("Ada"));
  m->AddParameter("count", TValue::From<int>(2));
  auto* p = AddEvent(q, "p", EKind::ObjProperty, Trig::OnBegin);
  p->SetScope("UI");
  p->AddParameter("Caption", TValue::From<std::string>("shown"));
  auto* fail = AddEvent(q, "fail", EKind::Method, Trig::OnBegin);
  fail->SetScope("ui");
  fail->Data()->AddOrSetValue("*", "Fail");
  auto* r = AddEvent(q, "r", EKind::Redirect, Trig::OnEnd);
  r->Data()->AddOrSetValue("*", "target");

  TLogCapture log;
  Dialogue->Start();
  Dialogue->StartItem(q);
  EXPECT_EQ(probe.Calls, (std::vector<std::string>{"Ada:2"}));
  EXPECT_EQ(probe.GetCaption(), "shown");
  EXPECT_TRUE(log.Contains("failure in event.execute(method) on calling method: \"Fail\" - boom"));
  q->Stop(false);
  EXPECT_EQ(Dialogue->CurrentItem(), target);

  // A handler that handles the event suppresses the built-in action.
  HandleEvents = true;
  probe.Calls.clear();
  m->Execute();
  EXPECT_TRUE(probe.Calls.empty());
}

TEST_F(DialogueTest, ScopesResolve) {
  TDialogueProbe probe;
  System->AddVariable("var", &probe);
  auto* q = Add(Dialogue, "q", Kind::Question);
  auto* other = Add(Dialogue, "other", Kind::Question);
  auto* e = AddEvent(q, "e", EKind::Misc, Trig::OnBegin);
  struct Case {
    const char* scope;
    TObject* expected;
  } cases[] = {{"", e}, {"SELF", e}, {"ui", nullptr}, {"other", other}, {"var", &probe}, {"none", nullptr}};
  for (const Case& c : cases) {
    e->SetScope(c.scope);
    EXPECT_EQ(e->ResolveScope(), c.expected) << c.scope;
  }
}

TEST_F(DialogueTest, IterationsActFromTheNthTrigger) {
  auto* q = Add(Dialogue, "q", Kind::Question);
  auto* target = Add(Dialogue, "target", Kind::Question);
  auto* r = AddEvent(q, "r", EKind::Redirect, Trig::OnBegin);
  r->SetIterations(3);
  r->Data()->AddOrSetValue("*", "target");
  Dialogue->Start();
  for (int i = 1; i <= 4; ++i) {
    Dialogue->StartItem(q);
    EXPECT_EQ(Dialogue->CurrentItem() == target, i >= 3) << i;
    EXPECT_EQ(r->IterationCount(), i);
    Dialogue->StartItem(target);
  }
}

}  // namespace
}  // namespace quorvel
