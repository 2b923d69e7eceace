#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "framework/classes/Filer.h"
#include "framework/gui/Timer.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/Stopwatch.h"
#include "lib/game/Inventory.h"

namespace quorvel {
namespace {

using S = TQuorvelInventoryCollectState;

const char* ActionName(TCollectionNotification a) {
  switch (a) {
    case cnAdded: return "added";
    case cnExtracted: return "extracted";
    case cnRemoved: return "removed";
    default: return "other";
  }
}

const char* TypeName(TManufacturingNotificationType t) {
  switch (t) {
    case mntStarted: return "started";
    case mntPaused: return "paused";
    case mntAborted: return "aborted";
    case mntCompleted: return "completed";
    case mntProcessing: return "processing";
  }
  return "?";
}

// An inventory whose item and manufacturing events are recorded as text.
class InventoryTest : public ::testing::Test {
protected:
  void SetUp() override {
    SetClock(&Time);
    Inv = New<TQuorvelInventory>(nullptr);
    Inv->OnItemNotify = [this](TQuorvelInventory*, TQuorvelInventoryCollectable* item, TCollectionNotification a) {
      Log.push_back(std::string(ActionName(a)) + " " + item->Id() + " " + std::to_string(item->Quantity()));
    };
  }
  void TearDown() override {
    Free(Inv);
    ResetClock();
  }
  std::vector<std::string> Take() { return std::exchange(Log, {}); }
  void Listen(TQuorvelInventoryManufacturer* m) {
    m->OnNotify = [this](TQuorvelInventoryManufacturer*, TQuorvelInventoryManufacturingProcess* p,
                         TManufacturingNotificationType t) {
      Log.push_back(std::string(TypeName(t)) + (t == mntProcessing ? " " + std::to_string(p->Progress()) : ""));
      if (OnNotify) OnNotify(p, t);
    };
    m->OnProduced = [this](TQuorvelInventoryManufacturer*, TQuorvelInventoryManufacturingProcess*,
                           TQuorvelInventoryCollectable* item) {
      Log.push_back("produced " + item->Id() + " " + std::to_string(item->Quantity()));
    };
  }
  void Tick(int n = 1) {
    for (int i = 0; i < n; ++i) {
      Time.AdvanceMs(100);
      TTimer::ProcessTimers();
    }
  }
  // Ore (pooled) and gem (not pooled) make a ring after AMs.
  TQuorvelInventoryManufacturer* Recipe(int AMs) {
    Ore = Inv->AddItemTemplate("ore");
    Gem = Inv->AddItemTemplate("gem");
    Gem->SetIsPooled(false);
    Ring = Inv->AddItemTemplate("ring");
    auto* m = Inv->AddManufacturer("smith");
    m->AddIngredient("ore", 2);
    m->AddIngredient(Gem, 1);
    m->AddResultItem("ring", 1);
    m->AddResultItem(Ore, 3);
    m->SetTimeNeeded(AMs);
    Listen(m);
    return m;
  }

  TManualClock Time;
  TQuorvelInventory* Inv = nullptr;
  TQuorvelInventoryItemTemplate *Ore = nullptr, *Gem = nullptr, *Ring = nullptr;
  std::vector<std::string> Log;
  std::function<void(TQuorvelInventoryManufacturingProcess*, TManufacturingNotificationType)> OnNotify;
};

TEST_F(InventoryTest, NewEntriesHaveTheirDefaults) {
  auto* t = Inv->AddItemTemplate("t");
  EXPECT_EQ(t->MaxQuantity(), 10);
  EXPECT_EQ(t->Weight(), 0.5f);
  EXPECT_EQ(t->MaxWeight(), 5.0f);
  EXPECT_TRUE(t->IsPooled());
  EXPECT_TRUE(t->Enabled());
  EXPECT_EQ(t->ImageIndex(), -1);
  EXPECT_EQ(t->GetIdentifier(), "template");
  auto* g = Inv->AddGroup("g");
  EXPECT_EQ(g->MaxQuantity(), 0);
  EXPECT_TRUE(g->Enabled());
  auto* m = Inv->AddManufacturer("m");
  EXPECT_EQ(m->TimeNeeded(), 3000);
  EXPECT_EQ(m->Kind(), TManufacturingProcessKind::NewItem);
  EXPECT_EQ(t->Inventory(), Inv);
}

TEST_F(InventoryTest, PooledAndSeparateCollecting) {
  auto* pooled = Inv->AddItemTemplate("p");
  auto* single = Inv->AddItemTemplate("s");
  single->SetIsPooled(false);
  single->SetWeight(2);
  S state;
  auto* a = Inv->Collect(pooled, state);
  EXPECT_EQ(state, S::Collected);
  EXPECT_EQ(Inv->Collect(pooled, state), a);
  EXPECT_EQ(a->Quantity(), 2);
  auto* b = Inv->Collect(single, 3, state);
  auto* c = Inv->Collect("s");
  EXPECT_NE(b, c);
  EXPECT_EQ(b->Quantity(), 3);
  EXPECT_EQ(b->Weight(), 2.0f);
  EXPECT_EQ(Take(), (std::vector<std::string>{"added p 1", "added s 3", "added s 1"}));
  // Collected items carry the template's Id.
  EXPECT_EQ(Inv->FindCollectedItems("s"), (TQuorvelCollectables{b, c}));
  EXPECT_EQ(Inv->FindFirstCollectedItem(single), b);
  EXPECT_EQ(Inv->FindFirstCollectedItem("none"), nullptr);
  EXPECT_EQ(single->Build()->Quantity(), 1);
  EXPECT_EQ(Inv->CollectedItems()->Count(), 4);
}

TEST_F(InventoryTest, CollectStatesFollowLimitsGroupsAndDependencies) {
  struct Case {
    const char* What;
    int TemplateMax, GroupMax;
    bool Pooled, Grouped;
    int Held;
    S Expected;
  };
  const std::vector<Case> cases = {
      {"below the group limit", 10, 3, true, true, 2, S::Allowed},
      {"at the group limit", 10, 3, true, true, 3, S::QuantityExceeded},
      {"at the template limit", 2, 3, true, true, 2, S::QuantityExceeded},
      {"group limit with no template limit", 0, 3, true, true, 50, S::Allowed},
      {"no limit at all", 0, 0, true, false, 99, S::Allowed},
      {"separate items summed", 3, 0, false, false, 3, S::QuantityExceeded},
      {"separate items below", 3, 0, false, false, 2, S::Allowed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    Inv->Clear();
    auto* t = Inv->AddItemTemplate("t");
    t->SetMaxQuantity(c.TemplateMax);
    t->SetIsPooled(c.Pooled);
    if (c.Grouped) {
      auto* g = Inv->AddGroup("g");
      g->SetMaxQuantity(c.GroupMax);
      t->SetGroup(g);
    }
    S state;
    if (c.Pooled) {
      if (c.Held > 0) Inv->Collect(t, c.Held, state);
    } else {
      for (int i = 0; i < c.Held; ++i) Inv->Collect(t, 1, state);
    }
    EXPECT_EQ(Inv->IsCollectable(t, 1), c.Expected);
    EXPECT_EQ(Inv->IsCollectable("t", 1000), c.Expected);  // the count plays no part
  }
  Inv->Clear();
  auto* base = Inv->AddItemTemplate("base");
  auto* top = Inv->AddItemTemplate("top");
  EXPECT_NE(top->AddDependency("base", 2), nullptr);
  EXPECT_EQ(top->AddDependency("nothing", 2), nullptr);
  Inv->Collect("base");
  EXPECT_EQ(Inv->IsCollectable(top, 1), S::Missing);
  S state;
  EXPECT_EQ(Inv->Collect(top, 5, state), nullptr);
  EXPECT_EQ(state, S::Missing);
  Inv->Collect("base");
  EXPECT_EQ(Inv->IsCollectable(top, 1), S::Allowed);
  top->RemoveDependency("base");
  EXPECT_EQ(top->Dependency()->Count(), 0);

  EXPECT_EQ(Inv->Collect(nullptr, 1, state), nullptr);
  EXPECT_EQ(state, S::NotFound);
  EXPECT_EQ(Inv->IsCollectable("missing", 1), S::NotFound);
  auto* g = Inv->AddGroup("off");
  g->SetEnabled(false);
  base->SetGroup(g);
  EXPECT_EQ(Inv->IsCollectable(base, 1), S::Disabled);
  base->SetGroup(nullptr);
  base->SetEnabled(false);
  EXPECT_EQ(Inv->IsCollectable(base, 1), S::Disabled);
  EXPECT_EQ(base->Build(), nullptr);
}

TEST_F(InventoryTest, DroppingFreesDroppedItems) {
  auto* pooled = Inv->AddItemTemplate("p");
  auto* single = Inv->AddItemTemplate("s");
  single->SetIsPooled(false);
  S state;
  auto* item = Inv->Collect(pooled, 5, state);
  Take();
  Inv->DropCollectedItem(item, 2);
  EXPECT_EQ(item->Quantity(), 3);
  EXPECT_EQ(Take(), (std::vector<std::string>{"extracted p 3"}));
  Inv->DropCollectedItem(item, 3);
  EXPECT_EQ(Take(), (std::vector<std::string>{"removed p 0"}));  // the handler saw it whole
  EXPECT_EQ(Inv->CollectedItems()->Count(), 0);
  EXPECT_EQ(Inv->DetachedCount(), 0);  // freed: a long game of collecting and dropping stays flat

  item = Inv->Collect(pooled, 5, state);
  Inv->DropCollectedItem(item, -1);
  auto* s1 = Inv->Collect(single, 4, state);
  Inv->Collect(single, 1, state);
  Take();
  Inv->DropCollectedItem(s1, 1);  // not pooled: dropped whatever its quantity
  Inv->DropCollectedItem("nothing", true);
  Inv->DropCollectedItem(pooled, false);  // none held: nothing happens
  EXPECT_EQ(Take(), (std::vector<std::string>{"removed s 4"}));
  Inv->Collect(single, 1, state);
  Inv->DropCollectedItem("s", false);
  EXPECT_EQ(Inv->FindCollectedItems(single).size(), 1u);
  Inv->DropCollectedItem(single, true);
  EXPECT_EQ(Inv->CollectedItems()->Count(), 0);
  Inv->DropCollectedItem(static_cast<TQuorvelInventoryCollectable*>(nullptr), 1);
}

TEST_F(InventoryTest, RemovingEntriesCascades) {
  auto* m = Recipe(100);
  auto* other = Inv->AddItemTemplate("other");
  other->AddDependency(Ore, 1);
  m->AddDependency(Ore, 1);
  Ring->SetUpgradeItem(Ore);
  auto* g = Inv->AddGroup("g");
  Ore->SetGroup(g);
  Gem->SetGroup(g);
  S state;
  Inv->Collect(Ore, 2, state);
  Inv->Collect(Gem, 1, state);
  EXPECT_EQ(g->CountCollectables(), 2);
  Take();
  Inv->RemoveItemTemplate("ore");
  EXPECT_EQ(Take(), (std::vector<std::string>{"removed ore 2"}));
  EXPECT_EQ(Inv->FindItemTemplate("ore"), nullptr);
  EXPECT_EQ(m->Ingredients()->Count(), 1);
  EXPECT_EQ(m->ResultItems()->Count(), 1);
  EXPECT_EQ(m->Dependency()->Count(), 0);
  EXPECT_EQ(other->Dependency()->Count(), 0);
  EXPECT_EQ(Ring->GetUpgradeItem(), Ore);  // left as it is
  EXPECT_EQ(Ore->Id(), "ore");
  Inv->RemoveItemTemplate("ore");  // gone already: nothing

  EXPECT_EQ(Inv->DetachedCount(), 1);  // ore: Ring's upgrade item still names it
  EXPECT_EQ(m->GetDescriptionString(), "smith: gem(1) => (ring(1))");
  Inv->RemoveGroup("g");
  EXPECT_EQ(Gem->GetGroup(), nullptr);
  EXPECT_EQ(Inv->FindGroup("g"), nullptr);
  Inv->RemoveManufacturer("smith");
  EXPECT_EQ(Inv->FindManufacturer("smith"), nullptr);
  Inv->RemoveManufacturer("smith");
  EXPECT_EQ(Inv->DetachedCount(), 2);  // the manufacturer is freed; the group stays, ore names it
  Ring->SetUpgradeItem(nullptr);
  Inv->RemoveItemTemplate("gem");
  EXPECT_EQ(Inv->DetachedCount(), 0);  // the next removal frees ore, and then the group it named
}

TEST_F(InventoryTest, UpgradesReuseTheirManufacturer) {
  auto* low = Inv->AddItemTemplate("low");
  auto* high = Inv->AddItemTemplate("high");
  S state;
  auto* item = Inv->Collect(low, 1, state);
  EXPECT_EQ(Inv->Upgrade(item), nullptr);
  EXPECT_EQ(Inv->Upgrade(nullptr), nullptr);
  low->SetUpgradeItem(high);
  high->SetEnabled(false);
  EXPECT_FALSE(item->IsUpgradable());
  EXPECT_EQ(Inv->Upgrade(item), nullptr);
  high->SetEnabled(true);
  high->SetDowngradeItem(low);
  TQuorvelInventoryManufacturingProcess* p = Inv->Upgrade(item);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->Kind(), TManufacturingProcessKind::Upgrading);
  auto* m = Inv->FindManufacturer("low-Upgrade");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->GetDescriptionString(), "low-Upgrade: low(1) => (high(1))");
  EXPECT_EQ(Inv->CollectedItems()->Count(), 0);  // consumed
  Tick(31);
  auto* upgraded = Inv->FindFirstCollectedItem(high);
  ASSERT_NE(upgraded, nullptr);
  auto* again = Inv->Collect(low, 1, state);
  ASSERT_NE(Inv->Upgrade(again), nullptr);
  EXPECT_EQ(Inv->Manufacturers()->Count(), 1);
  ASSERT_NE(Inv->Downgrade(upgraded), nullptr);
  EXPECT_EQ(Inv->FindManufacturer("high-Downgrade")->Kind(), TManufacturingProcessKind::Downgrading);
}

TEST_F(InventoryTest, ManufacturingRunsOnTheTimer) {
  auto* m = Recipe(3000);
  S state;
  auto* ore = Inv->Collect(Ore, 5, state);
  auto* gem = Inv->Collect(Gem, 1, state);
  Take();
  std::vector<TQuorvelInventoryManufacturingProcess*> added;
  Inv->OnAddManufacturing = [&](TQuorvelInventory*, TQuorvelInventoryManufacturingProcess* p) { added.push_back(p); };
  TQuorvelInventoryManufacturingProcess* p = Inv->Manufacture({ore, gem});
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(added, (std::vector<TQuorvelInventoryManufacturingProcess*>{p}));
  EXPECT_EQ(Take(), (std::vector<std::string>{"extracted ore 3", "removed gem 1", "started"}));
  EXPECT_EQ(ore->Quantity(), 3);
  EXPECT_EQ(p->Collectables()->Count(), 1);
  EXPECT_EQ(p->Progress(), 0);
  Tick(30);
  std::vector<std::string> expected;
  for (int i = 0; i < 30; ++i) expected.push_back("processing " + std::to_string(i * 100));
  EXPECT_EQ(Take(), expected);
  EXPECT_EQ(m->ProcessCount(), 1);
  Tick();
  // Tick 31 completes, produces one of each result and frees the process.
  EXPECT_EQ(Take(), (std::vector<std::string>{"added ring 1", "completed", "produced ring 1", "produced ore 6",
                                              "aborted"}));
  EXPECT_EQ(m->ProcessCount(), 0);
  Tick(5);
  EXPECT_TRUE(Take().empty());
}

TEST_F(InventoryTest, ManufacturingTimesPausesAndRestarts) {
  auto* m = Recipe(0);
  S state;
  auto* ore = Inv->Collect(Ore, 2, state);
  auto* gem = Inv->Collect(Gem, 1, state);
  Take();
  // No time needed: done inside Start, and the process stays listed.
  TQuorvelInventoryManufacturingProcess* p = Inv->Manufacture(m, {ore, gem});
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(Take(), (std::vector<std::string>{"removed ore 2", "removed gem 1", "added ring 1", "added ore 1",
                                              "completed", "produced ring 1", "produced ore 3"}));
  EXPECT_EQ(m->ProcessCount(), 1);
  m->RemoveProcess(p);
  EXPECT_EQ(Take(), (std::vector<std::string>{"aborted"}));

  m->SetTimeNeeded(250);
  ore = Inv->FindFirstCollectedItem(Ore);
  ore->SetQuantity(10);
  gem = Inv->Collect(Gem, 1, state);
  Take();
  p = m->Start({ore, gem});
  Take();
  Tick(3);
  EXPECT_EQ(Take(), (std::vector<std::string>{"processing 0", "processing 100", "processing 200"}));
  Tick();
  EXPECT_EQ(Take().front(), "completed");  // the fourth tick

  gem = Inv->Collect(Gem, 1, state);
  auto* gem2 = Inv->Collect(Gem, 1, state);
  Take();
  p = m->Start({gem});
  Take();
  // Running: a second start changes nothing and consumes nothing.
  p->Start({gem2});
  EXPECT_TRUE(Take().empty());
  EXPECT_EQ(gem2->GetCollection(), Inv->CollectedItems());
  Tick();
  p->Pause();
  Tick(5);
  p->Pause();
  EXPECT_EQ(Take(), (std::vector<std::string>{"processing 0", "paused", "paused"}));
  Tick();
  EXPECT_EQ(Take(), (std::vector<std::string>{"processing 100"}));
  // Paused, a start begins the countdown again and consumes again.
  p->Pause();
  p->Start({gem2});
  EXPECT_EQ(Take(), (std::vector<std::string>{"paused", "removed gem 1", "started"}));
  EXPECT_EQ(p->Progress(), 0);
}

TEST_F(InventoryTest, ConsumptionAndVerify) {
  auto* m = Recipe(100);
  S state;
  auto* ore = Inv->Collect(Ore, 1, state);
  auto* gemA = Inv->Collect(Gem, 4, state);
  auto* gemB = Inv->Collect(Gem, 4, state);
  struct Case {
    const char* What;
    TQuorvelCollectables Items;
    bool Expected;
  };
  const std::vector<Case> cases = {
      {"ore short", {ore, gemA}, false},
      {"gem missing", {ore}, false},
      {"empty list", {}, false},
  };
  for (const Case& c : cases) EXPECT_EQ(m->Verify(c.Items), c.Expected) << c.What;
  ore->SetQuantity(5);
  EXPECT_TRUE(m->Verify({ore, gemA, gemB}));
  EXPECT_EQ(Inv->GetSuitableManufacturer({ore, gemA}), m);
  EXPECT_EQ(Inv->GetSuitableManufacturers({ore, gemA}).size(), 1u);
  EXPECT_TRUE(Inv->GetSuitableManufacturers({gemA}).empty());
  m->AddDependency(Ring, 1);
  EXPECT_FALSE(m->CheckDependency());
  EXPECT_FALSE(m->Verify({ore, gemA}));
  EXPECT_EQ(Inv->Manufacture(m, {ore, gemA}), nullptr);
  m->ClearDependencies();
  auto* bare = Inv->AddManufacturer("bare");
  EXPECT_FALSE(bare->Verify({ore}));  // no ingredients
  bare->AddIngredient(Ore, 0);
  bare->AddIngredient(static_cast<TQuorvelInventoryItemTemplate*>(nullptr), 3);
  bare->AddIngredient("unknown", 3);
  EXPECT_EQ(bare->Ingredients()->Count(), 0);

  // Two separate gems of quantity 4 meet a need of 2: both go.
  m->ClearIngredients();
  m->AddIngredient(Gem, 2);
  Take();
  m->Start({gemA, gemB});
  EXPECT_EQ(Take(), (std::vector<std::string>{"removed gem 4", "removed gem 4", "started"}));
}

TEST_F(InventoryTest, ResultsAtTheirLimitAreNotProduced) {
  auto* m = Recipe(0);
  Ring->SetMaxQuantity(1);
  S state;
  Inv->Collect(Ring, 1, state);
  auto* ore = Inv->Collect(Ore, 2, state);
  auto* gem = Inv->Collect(Gem, 1, state);
  Take();
  m->Start({ore, gem});
  EXPECT_EQ(Take(), (std::vector<std::string>{"removed ore 2", "removed gem 1", "added ore 1", "completed",
                                              "produced ore 3"}));
}

TEST_F(InventoryTest, HandlersThatAbortOrRemoveAreSafe) {
  auto* m = Recipe(300);
  S state;
  auto take = [&] {
    auto* ore = Inv->Collect(Ore, 2, state);
    auto* gem = Inv->Collect(Gem, 1, state);
    return TQuorvelCollectables{ore, gem};
  };
  // Abort with destruction inside its own tick.
  OnNotify = [](TQuorvelInventoryManufacturingProcess* p, TManufacturingNotificationType t) {
    if (t == mntProcessing) p->Abort(true);
  };
  ASSERT_NE(m->Start(take()), nullptr);
  Take();
  Tick();
  // The abort's own event, then the one every process sends as it goes.
  EXPECT_EQ(Take(), (std::vector<std::string>{"processing 0", "aborted", "aborted"}));
  EXPECT_EQ(m->ProcessCount(), 0);
  Tick(5);
  EXPECT_TRUE(Take().empty());

  // Removed from a completion handler, also when the process completes inside Start.
  m->SetTimeNeeded(0);
  OnNotify = [m](TQuorvelInventoryManufacturingProcess* p, TManufacturingNotificationType t) {
    if (t == mntCompleted) m->RemoveProcess(p);
  };
  EXPECT_EQ(m->Start(take()), nullptr);
  EXPECT_EQ(m->ProcessCount(), 0);
  EXPECT_EQ(Take().back(), "aborted");

  // The inventory cleared from a tick handler.
  m->SetTimeNeeded(300);
  OnNotify = nullptr;
  ASSERT_NE(m->Start(take()), nullptr);
  OnNotify = [this](TQuorvelInventoryManufacturingProcess*, TManufacturingNotificationType t) {
    if (t == mntProcessing) {
      OnNotify = nullptr;
      Inv->Clear();
    }
  };
  Take();
  Tick(3);
  EXPECT_EQ(Take(), (std::vector<std::string>{"processing 0", "aborted"}));
}

TEST_F(InventoryTest, DestroyingTheInventoryAbortsRunningProcesses) {
  auto* m = Recipe(1000);
  S state;
  auto* ore = Inv->Collect(Ore, 2, state);
  auto* gem = Inv->Collect(Gem, 1, state);
  m->Start({ore, gem});
  Tick(2);
  Take();
  FreeAndNil(Inv);
  EXPECT_EQ(Take(), (std::vector<std::string>{"aborted"}));
  Tick(20);
}

TEST_F(InventoryTest, NamesFollowTheLanguage) {
  auto* t = Inv->AddItemTemplate("t");
  t->Name()->AddOrSetValue("en-us", "Sword");
  t->Name()->AddOrSetValue("de-de", "Schwert");
  auto* item = Inv->Collect("t");
  EXPECT_EQ(item->GetCurrentName(), "Sword");
  Inv->SetLanguage(2);
  EXPECT_EQ(Inv->GetCurrentLanguageName(), "de-de");
  EXPECT_EQ(item->GetCurrentName(), "Schwert");
  item->Name()->AddOrSetValue("de-de", "Mein Schwert");
  EXPECT_EQ(item->GetCurrentName(), "Mein Schwert");
  Inv->SetLanguage(3);
  EXPECT_EQ(t->GetCurrentName(), "");
}

TEST_F(InventoryTest, StreamFormResolvesForwardReferencesOnce) {
  auto* g = Inv->AddGroup("weapons");
  g->SetMaxQuantity(4);
  auto* sword = Inv->AddItemTemplate("sword");
  sword->SetGroup(g);
  sword->Name()->AddOrSetValue("en-us", "Sword");
  sword->Parameters()->AddOrSetValue("damage", TValue::From<int>(7));
  auto* axe = Inv->AddItemTemplate("axe");
  sword->SetUpgradeItem(axe);
  axe->SetDowngradeItem(sword);
  Inv->Collect("sword");
  std::string text = TWriter(Inv).WriteRootComponent();
  EXPECT_NE(text.find("GroupID = 'weapons'"), std::string::npos) << text;
  EXPECT_NE(text.find("TemplateID = 'sword'"), std::string::npos) << text;
  EXPECT_EQ(text.find("DowngradeItemID = 'sword'") != std::string::npos, true);
  // The groups move behind the templates: "GroupID" then names an entry read later.
  const size_t groups = text.find("  Groups = <");
  const size_t templates = text.find("  ItemTemplates = <");
  ASSERT_TRUE(groups != std::string::npos && templates != std::string::npos && groups < templates);
  const std::string block = text.substr(groups, templates - groups);
  text.erase(groups, block.size());
  text.insert(text.rfind("end"), block);

  TOwned<TQuorvelInventory> back(New<TQuorvelInventory>(nullptr));
  TReader(back.get(), text).ReadRootComponent();
  EXPECT_EQ(back->LateResolveCount(), 0);  // applied and emptied
  TQuorvelInventoryItemTemplate* sword2 = back->FindItemTemplate("sword");
  ASSERT_NE(sword2, nullptr);
  ASSERT_NE(sword2->GetGroup(), nullptr);
  EXPECT_EQ(sword2->GetGroup(), back->FindGroup("weapons"));
  EXPECT_EQ(sword2->GetGroup()->MaxQuantity(), 4);
  EXPECT_EQ(sword2->GetUpgradeItem(), back->FindItemTemplate("axe"));
  EXPECT_EQ(back->FindItemTemplate("axe")->GetDowngradeItem(), sword2);
  EXPECT_EQ(sword2->Name()->Items("en-us"), "Sword");
  EXPECT_EQ(sword2->Parameters()->Items("damage").AsInteger(), 7);
  ASSERT_EQ(back->CollectedItems()->Count(), 1);
  EXPECT_EQ(back->FindFirstCollectedItem("sword")->Template(), sword2);

  // A record left pending is dropped by Clear: a later Loaded cannot write into freed entries.
  TQuorvelInventoryItemTemplate* target = back->AddItemTemplate("x");
  back->AddToLateResolve(TQuorvelInventoryGroup::StaticClass(), "weapons",
                         [target](TObject* o) { target->SetGroup(static_cast<TQuorvelInventoryGroup*>(o)); });
  back->Clear();
  EXPECT_EQ(back->LateResolveCount(), 0);
  back->Loaded();

  // A name map that is no JSON object fails.
  std::string bad = TWriter(Inv).WriteRootComponent();
  const size_t at = bad.find("NameMap = ");
  bad.replace(at, bad.find('\n', at) - at, "NameMap = '[1]'");
  TOwned<TQuorvelInventory> broken(New<TQuorvelInventory>(nullptr));
  EXPECT_THROW(TReader(broken.get(), bad).ReadRootComponent(), Exception);
}

// Only items the inventory holds as collected go into manufacturing: an item a running process
// already consumed, or one of another inventory, is refused with an error and stays where it is.
TEST_F(InventoryTest, ItemsNotHeldAreRefusedByManufacturing) {
  auto* m = Recipe(1000);
  Gem->SetUpgradeItem(Ring);
  S state;
  Inv->Collect(Ore, 2, state);
  auto* gem = Inv->Collect(Gem, 1, state);
  auto* ore = Inv->FindFirstCollectedItem(Ore);
  TQuorvelInventoryManufacturingProcess* p = Inv->Manufacture(m, {ore, gem});
  ASSERT_NE(p, nullptr);
  ASSERT_EQ(gem->GetCollection(), p->Collectables());
  const int manufacturers = Inv->Manufacturers()->Count();
  for (auto* run : {+[](TQuorvelInventory* I, TQuorvelInventoryCollectable* c) { I->Upgrade(c); },
                    +[](TQuorvelInventory* I, TQuorvelInventoryCollectable* c) { I->FindManufacturer("smith")->Start({c}); }}) {
    try {
      run(Inv, gem);
      ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), "item \"gem\" is not held by the inventory");
    }
    EXPECT_EQ(gem->GetCollection(), p->Collectables());
  }
  TQuorvelInventory* other = New<TQuorvelInventory>(nullptr);
  auto freeOther = Finally([&] { Free(other); });
  auto* foreign = other->Collect(other->AddItemTemplate("ring"), 1, state);
  other->FindItemTemplate("ring")->SetUpgradeItem(other->AddItemTemplate("crown"));
  EXPECT_THROW(Inv->Upgrade(foreign), Exception);
  EXPECT_THROW(m->Start({foreign}), Exception);
  EXPECT_EQ(foreign->GetCollection(), other->CollectedItems());
  EXPECT_EQ(Inv->Manufacturers()->Count(), manufacturers);  // no upgrade manufacturer was made
}

// Entries copied from another inventory refer to the entries of their new inventory (by Id),
// so that the source can go at once; a reference without counterpart there becomes nil.
TEST(InventoryCopies, ReferToTheEntriesOfTheirOwnInventory) {
  TOwned<TQuorvelInventory> from(New<TQuorvelInventory>(nullptr));
  TQuorvelInventoryGroup* arms = from->AddGroup("arms");
  arms->SetMaxQuantity(1);
  TQuorvelInventoryItemTemplate* stone = from->AddItemTemplate("stone");
  TQuorvelInventoryItemTemplate* sword = from->AddItemTemplate("sword");
  TQuorvelInventoryItemTemplate* blade = from->AddItemTemplate("blade");
  sword->SetGroup(arms);
  sword->SetUpgradeItem(blade);
  blade->SetDowngradeItem(sword);
  sword->AddDependency(stone, 1);
  TQuorvelInventoryManufacturer* forge = from->AddManufacturer("forge");
  forge->AddIngredient(sword, 2);
  forge->AddDependency(stone, 1);
  forge->AddResultItem(blade, 1);

  TOwned<TQuorvelInventory> to(New<TQuorvelInventory>(nullptr));
  to->AddGroup("arms");  // replaced below: the copies must not keep it
  to->AddItemTemplate("sword");
  to->SetGroups(from->Groups());
  to->SetItemTemplates(from->ItemTemplates());
  to->SetManufacturers(from->Manufacturers());
  TQuorvelInventoryItemTemplate* spare = to->AddItemTemplate("spare");
  spare->Assign(sword);
  TQuorvelInventoryManufacturer* own = to->AddManufacturer("own");
  own->SetIngredients(forge->Ingredients());
  own->SetDependency(forge->Dependency());
  own->SetResultItems(forge->ResultItems());
  TOwned<TQuorvelInventory> bare(New<TQuorvelInventory>(nullptr));
  bare->SetItemTemplates(from->ItemTemplates());
  from.reset();

  TQuorvelInventoryItemTemplate* toSword = to->FindItemTemplate("sword");
  TQuorvelInventoryItemTemplate* toBlade = to->FindItemTemplate("blade");
  TQuorvelInventoryItemTemplate* toStone = to->FindItemTemplate("stone");
  ASSERT_NE(toSword, nullptr);
  for (TQuorvelInventoryItemTemplate* t : {toSword, spare}) {
    EXPECT_EQ(t->GetGroup(), to->FindGroup("arms")) << t->Id();
    EXPECT_EQ(t->GetUpgradeItem(), toBlade) << t->Id();
    ASSERT_EQ(t->Dependency()->Count(), 1) << t->Id();
    EXPECT_EQ(t->Dependency()->Items(0)->Template(), toStone) << t->Id();
  }
  EXPECT_EQ(toBlade->GetDowngradeItem(), toSword);
  for (TQuorvelInventoryManufacturer* m : {to->FindManufacturer("forge"), own}) {
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->Ingredients()->Items(0)->Template(), toSword);
    EXPECT_EQ(m->Dependency()->Items(0)->Template(), toStone);
    EXPECT_EQ(m->ResultItems()->Items(0)->Template(), toBlade);
  }
  // The copies work: the dependency, then the group's limit of one.
  S state;
  EXPECT_EQ(to->Collect(toSword, 1, state), nullptr);
  EXPECT_EQ(state, S::Missing);
  ASSERT_NE(to->Collect("stone"), nullptr);
  ASSERT_NE(to->Collect(toSword, 1, state), nullptr);
  EXPECT_EQ(to->IsCollectable(toSword, 1), S::QuantityExceeded);
  EXPECT_EQ(own->GetDescriptionString(), "own: sword(2) => (blade(1))");
  // No groups in the other copy: its template has none.
  ASSERT_NE(bare->FindItemTemplate("sword"), nullptr);
  EXPECT_EQ(bare->FindItemTemplate("sword")->GetGroup(), nullptr);
  EXPECT_EQ(bare->FindItemTemplate("sword")->GetUpgradeItem(), bare->FindItemTemplate("blade"));
  EXPECT_EQ(bare->IsCollectable("blade", 1), S::Allowed);
}

}  // namespace
}  // namespace quorvel
