#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "framework/io/Stream.h"
#include "framework/rtl/Finally.h"
#include "lib/game/Inventory.h"
#include "lib/game/XmlDocument.h"

namespace quorvel {
namespace {

std::string Save(TQuorvelInventory* AInventory) {
  TOwned<TBytesStream> out(New<TBytesStream>());
  AInventory->SaveToStream(out.get());
  const TBytes& bytes = out->GetBytes();
  return std::string(bytes.begin(), bytes.begin() + out->GetSize());
}

void Load(TQuorvelInventory* AInventory, const std::string& AText) {
  TOwned<TBytesStream> in(New<TBytesStream>(TBytes(AText.begin(), AText.end())));
  AInventory->LoadFromStream(in.get());
}

std::string InventoryDoc(const std::string& ABody) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<inventory path=\"\">" + ABody + "</inventory>";
}

class InventoryXmlTest : public ::testing::Test {
protected:
  void SetUp() override {
    Inv = New<TQuorvelInventory>(nullptr);
    Back = New<TQuorvelInventory>(nullptr);
  }
  void TearDown() override {
    Free(Back);
    Free(Inv);
  }
  // Every field set; the upgrade item and a dependency name a template written later.
  void Fill() {
    auto* g = Inv->AddGroup("007");
    g->SetMaxWeight(5);
    g->SetMaxQuantity(3);
    g->Name()->AddOrSetValue("en-us", "Weapons");
    auto* sword = Inv->AddItemTemplate("sword");
    sword->SetGroup(g);
    sword->Name()->AddOrSetValue("en-us", "Sword");
    sword->Name()->AddOrSetValue("de-de", "Schwert");
    sword->Parameters()->AddOrSetValue("damage", TValue::From<int>(7));
    sword->Parameters()->AddOrSetValue("speed", TValue(1.25));
    sword->Parameters()->AddOrSetValue("magic", TValue(true));
    sword->Parameters()->AddOrSetValue("note", TValue(std::string("sharp")));
    sword->SetMaxQuantity(4);
    sword->SetWeight(2.5f);
    sword->SetMaxWeight(7.75f);
    sword->SetIsPooled(false);
    sword->SetImageIndex(3);
    auto* axe = Inv->AddItemTemplate("1.50");
    axe->SetEnabled(false);
    sword->SetUpgradeItem(axe);
    auto* item = Inv->Collect("sword");
    item->SetQuantity(2);
    item->Parameters()->AddOrSetValue("worn", TValue(0.5));
    sword->AddDependency(axe, 2);
    axe->SetDowngradeItem(sword);
    auto* m = Inv->AddManufacturer("forge");
    m->SetTimeNeeded(1200);
    m->AddIngredient(sword, 2);
    m->AddDependency(axe, 1);
    m->AddResultItem(axe, 3);
    axe->SetEnabled(true);
  }
  TQuorvelInventory* Inv = nullptr;
  TQuorvelInventory* Back = nullptr;
};

TEST_F(InventoryXmlTest, EveryFieldRoundTripsAndTheSecondSaveIsStable) {
  for (const char* locale : {"C", "de_DE.UTF-8"}) {
    SCOPED_TRACE(locale);
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    auto restore = Finally([&] { std::setlocale(LC_ALL, saved.c_str()); });
    if (!std::setlocale(LC_ALL, locale)) continue;
    Inv->Clear();
    Fill();
    const std::string first = Save(Inv);
    EXPECT_NE(first.find("max-weight=\"5.00\""), std::string::npos) << first;
    EXPECT_NE(first.find("weight=\"2.5\""), std::string::npos);
    EXPECT_NE(first.find("<param id=\"speed\">1.25</param>"), std::string::npos);
    Load(Back, first);
    EXPECT_EQ(Save(Back), first);

    TQuorvelInventoryGroup* g = Back->FindGroup("007");
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->MaxWeight(), 5.0f);
    EXPECT_EQ(g->MaxQuantity(), 3);
    EXPECT_EQ(g->Name()->Items("en-us"), "Weapons");
    TQuorvelInventoryItemTemplate* sword = Back->FindItemTemplate("sword");
    TQuorvelInventoryItemTemplate* axe = Back->FindItemTemplate("1.50");
    ASSERT_TRUE(sword && axe);
    EXPECT_EQ(sword->GetGroup(), g);
    EXPECT_EQ(sword->Name()->Items("de-de"), "Schwert");
    EXPECT_EQ(sword->Parameters()->Items("damage").Kind(), tkInteger);
    EXPECT_EQ(sword->Parameters()->Items("damage").AsInteger(), 7);
    EXPECT_EQ(sword->Parameters()->Items("speed").Kind(), tkFloat);
    EXPECT_DOUBLE_EQ(sword->Parameters()->Items("speed").AsExtended(), 1.25);
    EXPECT_TRUE(sword->Parameters()->Items("magic").AsBoolean());
    EXPECT_EQ(sword->Parameters()->Items("note").AsString(), "sharp");
    EXPECT_EQ(sword->MaxQuantity(), 4);
    EXPECT_EQ(sword->Weight(), 2.5f);
    EXPECT_EQ(sword->MaxWeight(), 7.75f);
    EXPECT_FALSE(sword->IsPooled());
    EXPECT_EQ(sword->ImageIndex(), 3);
    EXPECT_EQ(sword->GetUpgradeItem(), axe);  // written after the sword: resolved at the end
    ASSERT_EQ(sword->Dependency()->Count(), 1);
    EXPECT_EQ(sword->Dependency()->Items(0)->Template(), axe);
    EXPECT_EQ(sword->Dependency()->Items(0)->Quantity(), 2);
    EXPECT_EQ(axe->GetDowngradeItem(), sword);
    TQuorvelInventoryManufacturer* m = Back->FindManufacturer("forge");
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->TimeNeeded(), 1200);
    EXPECT_EQ(m->GetDescriptionString(), "forge: sword(2) => (1.50(3))");
    EXPECT_EQ(m->Dependency()->Items(0)->Template(), axe);
    TQuorvelInventoryCollectable* item = Back->FindFirstCollectedItem("sword");
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->Template(), sword);
    EXPECT_EQ(item->Quantity(), 2);
    EXPECT_EQ(item->Weight(), 2.5f);
    EXPECT_DOUBLE_EQ(item->Parameters()->Items("worn").AsExtended(), 0.5);
  }
}

TEST_F(InventoryXmlTest, MissingAttributesTakeTheFileDefaults) {
  Load(Inv, InventoryDoc("<groups><anything id=\"g\"/><!-- a comment --><group id=\"h\" enabled=\"True\"/></groups>"
                "<templates><template id=\"t\"/><template id=\"u\" group=\"h\" max-quantity=\"x\"/></templates>"
                "<manufacturers><manufacturer id=\"m\"><result><in template=\"t\" quantity=\"2\"/></result>"
                "<results><in template=\"u\"/><in/></results></manufacturer></manufacturers>"
                "<items><collectable id=\"c\" template=\"ghost\"/></items>"));
  ASSERT_EQ(Inv->Groups()->Count(), 2);  // any element name under "groups"
  TQuorvelInventoryItemTemplate* t = Inv->FindItemTemplate("t");
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->MaxQuantity(), 0);  // no limit, though a new template has 10
  EXPECT_FALSE(t->Enabled());
  EXPECT_TRUE(t->IsPooled());
  EXPECT_EQ(t->ImageIndex(), -1);
  EXPECT_EQ(t->Weight(), 0.0f);
  EXPECT_EQ(Inv->FindItemTemplate("u")->GetGroup(), Inv->FindGroup("h"));
  EXPECT_EQ(Inv->FindItemTemplate("u")->MaxQuantity(), 0);
  TQuorvelInventoryManufacturer* m = Inv->FindManufacturer("m");
  EXPECT_EQ(m->TimeNeeded(), 3000);
  // The older "result" and the "results" list both count.
  ASSERT_EQ(m->ResultItems()->Count(), 3);
  EXPECT_EQ(m->ResultItems()->Items(0)->Quantity(), 2);
  EXPECT_EQ(m->ResultItems()->Items(1)->Template(), Inv->FindItemTemplate("u"));
  EXPECT_EQ(m->ResultItems()->Items(1)->Quantity(), 1);
  EXPECT_EQ(m->ResultItems()->Items(2)->Template(), nullptr);
  TQuorvelInventoryCollectable* c = Inv->FindFirstCollectedItem("c");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->Template(), nullptr);
  EXPECT_EQ(c->Quantity(), 1);
}

TEST_F(InventoryXmlTest, LoadingReplacesAndFailsWithTheMessage) {
  Fill();
  Load(Back, Save(Inv));
  Load(Back, Save(Inv));  // loading starts from an empty inventory
  EXPECT_EQ(Back->ItemTemplates()->Count(), 2);
  for (const std::string& text : {std::string("<?xml version=\"1.0\"?><other/>"), std::string("")}) {
    try {
      Load(Back, text);
      ADD_FAILURE() << text;
    } catch (const Exception& e) {
      EXPECT_EQ(std::string(e.what()), "missing \"inventory\" tag in xml");
    }
  }
  EXPECT_THROW(Load(Back, "<?xml version=\"1.0\"?><inventory><groups>"), EMz_XmlParseError);
}

TEST_F(InventoryXmlTest, UpgradeManufacturersReloadAsNewItemsAndAreReused) {
  auto* low = Inv->AddItemTemplate("low");
  auto* high = Inv->AddItemTemplate("high");
  low->SetUpgradeItem(high);
  TQuorvelInventoryCollectState state;
  Inv->Upgrade(Inv->Collect(low, 1, state));
  const std::string text = Save(Inv);
  EXPECT_NE(text.find("id=\"low-Upgrade\""), std::string::npos);
  Load(Back, text);
  TQuorvelInventoryManufacturer* m = Back->FindManufacturer("low-Upgrade");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->Kind(), TManufacturingProcessKind::NewItem);
  ASSERT_NE(Back->Upgrade(Back->Collect(Back->FindItemTemplate("low"), 1, state)), nullptr);
  EXPECT_EQ(Back->Manufacturers()->Count(), 1);
}

TEST_F(InventoryXmlTest, FilesAndClone) {
  Fill();
  const std::string dir = ::testing::TempDir();
  const std::string path = dir + "inventory_rw.xml";
  Inv->SaveToFile(path);
  EXPECT_EQ(Inv->FileName(), "");
  Back->LoadFromFile(path);
  EXPECT_EQ(Back->FileName(), path);  // the stored "path" was empty
  Back->SaveToFile(path);
  TOwned<TQuorvelInventory> third(New<TQuorvelInventory>(nullptr));
  third->LoadFromFile(path);
  EXPECT_EQ(third->FileName(), path.substr(0, path.rfind('/') + 1));  // the stored directory
  std::remove(path.c_str());

  TOwned<TQuorvelInventory> copy(Inv->Clone());
  EXPECT_EQ(Save(copy.get()), Save(Inv));
  EXPECT_EQ(copy->FindItemTemplate("sword")->GetUpgradeItem(), copy->FindItemTemplate("1.50"));
}

}  // namespace
}  // namespace quorvel
