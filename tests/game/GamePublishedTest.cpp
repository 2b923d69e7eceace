// The game components' published properties: what forms read and write, and the collection
// setters, which copy what they are given.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "framework/classes/Filer.h"
#include "framework/rtl/Finally.h"
#include "lib/game/DialogueSystem.h"
#include "lib/game/Inventory.h"
#include "lib/game/SkillSystem.h"

namespace quorvel {
namespace {

// The lines of ALines (each with its indentation) must come back in order.
void ExpectLinesInOrder(const std::string& AWritten, const std::vector<std::string>& ALines) {
  size_t at = 0;
  for (const std::string& line : ALines) {
    const size_t found = AWritten.find("\n" + line + "\n", at);
    ASSERT_NE(found, std::string::npos) << "missing: " << line << "\n" << AWritten;
    at = found + 1;
  }
}

struct TFormCase {
  const char* Name;
  std::function<TComponent*()> Make;
  std::vector<std::string> Lines;  // the body of the root object
  std::function<void(TComponent*)> Check;
};

TQuorvelSkillSystem* Skills(TComponent* c) { return dynamic_cast<TQuorvelSkillSystem*>(c); }
TQuorvelInventory* Inv(TComponent* c) { return dynamic_cast<TQuorvelInventory*>(c); }
TQuorvelDialogueSystem* Dialogues(TComponent* c) { return dynamic_cast<TQuorvelDialogueSystem*>(c); }

TEST(GamePublished, FormTextsReadWriteBackAndSetTheirValues) {
  const std::vector<TFormCase> cases = {
      {"skill tree",
       [] { return New<TQuorvelSkillSystem>(nullptr); },
       {"  Language = 2",
        "  Groups = <",
        "    item",
        "      Enabled = False",
        "      Icon = 3",
        "      Position.X = 1.5",
        "      Position.Y = -2.0",
        "      Skills = <",
        "        item",
        "          Enabled = True",
        "          Icon = 7",
        "          Position.X = 0.25",
        "          Position.Y = 4.0",
        "          Skills = <",
        "            item",
        "              Enabled = True",
        "              Icon = -1",
        "              Position.X = 9.0",
        "              Position.Y = 0.0",
        "              Skills = <>",
        "              Activated = True",
        "              Value = 1.0",
        "              Factor = 1.0",
        "              Interpolation = LinearInterpolation",
        "              Level = 0",
        "              MaxLevel = 3",
        "              LevelingTime = 1000",
        "            end>",
        "          Activated = True",
        "          Value = 2.5",
        "          Factor = 0.1",
        "          Interpolation = ExponentialInterpolation",
        "          Level = 2",
        "          MaxLevel = 5",
        "          LevelingTime = 250",
        "          Data = 'free'",
        "        end>",
        "    end",
        "    item",
        "      Enabled = True",
        "      Icon = -1",
        "      Position.X = 0.0",
        "      Position.Y = 0.0",
        "      Skills = <>",
        "    end>"},
       [](TComponent* c) {
         TQuorvelSkillSystem* s = Skills(c);
         EXPECT_EQ(s->Language(), 2);
         ASSERT_EQ(s->Groups()->Count(), 2);
         TQuorvelSkillGroup* g = s->Groups()->Items(0);
         EXPECT_FALSE(g->Enabled());
         EXPECT_EQ(g->Icon(), 3);
         EXPECT_EQ(g->Position().X, 1.5f);
         EXPECT_EQ(g->Position().Y, -2.0f);
         ASSERT_EQ(g->Skills()->Count(), 1);
         TQuorvelSkill* k = g->Skills()->Items(0);
         EXPECT_EQ(k->Icon(), 7);
         EXPECT_EQ(k->Position().X, 0.25f);
         EXPECT_EQ(k->Position().Y, 4.0f);
         EXPECT_TRUE(k->Activated());
         EXPECT_EQ(k->Value(), 2.5f);
         EXPECT_EQ(k->Factor(), 0.1f);
         EXPECT_EQ(k->Interpolation(), TQuorvelSkillLevelInterpolation::ExponentialInterpolation);
         EXPECT_EQ(k->Level(), 2);
         EXPECT_EQ(k->MaxLevel(), 5);
         EXPECT_EQ(k->LevelingTime(), 250);
         EXPECT_EQ(k->Data().AsString(), "free");
         ASSERT_EQ(k->Skills()->Count(), 1);
         EXPECT_EQ(k->Skills()->Items(0)->Position().X, 9.0f);
         EXPECT_EQ(k->Skills()->Items(0)->MaxLevel(), 3);
         EXPECT_EQ(k->Skills()->Items(0)->GetGroup(), k);
         EXPECT_EQ(s->Groups()->Items(1)->Skills()->Count(), 0);
       }},
      {"inventory visuals",
       [] { return New<TQuorvelInventory>(nullptr); },
       {"  Language = 1",
        "  VisualItems = <",
        "    item",
        "      DisplayName = 'sword'",
        "      ImageLOD0 = 'sword-s.png'",
        "      ImageLOD2 = 'sword-l.png'",
        "      ModelFile = 'sword.obj'",
        "    end",
        "    item",
        "      DisplayName = 'shield'",
        "    end>",
        "  VisualItems.ImageLOD0Size.X = 32",
        "  VisualItems.ImageLOD0Size.Y = 16",
        "  VisualItems.ImageLOD2Size.Y = 256"},
       [](TComponent* c) {
         TQuorvelInventory* inv = Inv(c);
         EXPECT_EQ(inv->Language(), 1);
         TQuorvelInventoryVisualItemCollection* v = inv->VisualItems();
         ASSERT_EQ(v->Count(), 2);
         EXPECT_EQ(v->Items(0)->GetDisplayName(), "sword");
         EXPECT_EQ(v->Items(0)->GetResource(0), "sword-s.png");
         EXPECT_EQ(v->Items(0)->GetResource(1), "");
         EXPECT_EQ(v->Items(0)->GetResource(2), "sword-l.png");
         EXPECT_EQ(v->Items(0)->GetResource(3), "sword.obj");
         EXPECT_EQ(v->Items(1)->GetDisplayName(), "shield");
         EXPECT_EQ(v->GetImageLODSize(0), (TPoint{32, 16}));
         EXPECT_EQ(v->GetImageLODSize(1), (TPoint{64, 64}));  // untouched: the default
         EXPECT_EQ(v->GetImageLODSize(2), (TPoint{128, 256}));
         EXPECT_EQ(GetPropValue(v->Items(1), "Index").AsInteger(), 1);
       }},
      {"inventory catalogue",
       [] { return New<TQuorvelInventory>(nullptr); },
       {"  Groups = <",
        "    item",
        "      Id = 'arms'",
        "      MaxQuantity = 4",
        "      MaxWeight = 20.0",
        "    end>",
        "  ItemTemplates = <",
        "    item",
        "      Id = 'sword'",
        "      MaxQuantity = 2",
        "      Weight = 3.5",
        "      IsPooled = False",
        "      ImageIndex = 1",
        "      GroupID = 'arms'",
        "    end>",
        "  Manufacturers = <",
        "    item",
        "      Id = 'forge'",
        "      TimeNeeded = 500",
        "    end>"},
       [](TComponent* c) {
         TQuorvelInventory* inv = Inv(c);
         TQuorvelInventoryItemTemplate* t = inv->FindItemTemplate("sword");
         ASSERT_NE(t, nullptr);
         EXPECT_EQ(t->MaxQuantity(), 2);
         EXPECT_EQ(t->Weight(), 3.5f);
         EXPECT_FALSE(t->IsPooled());
         EXPECT_EQ(t->ImageIndex(), 1);
         EXPECT_EQ(t->GetGroup(), inv->FindGroup("arms"));
         EXPECT_EQ(GetPropValue(t, "Group").AsObject(), inv->FindGroup("arms"));
         ASSERT_NE(inv->FindGroup("arms"), nullptr);
         EXPECT_EQ(inv->FindGroup("arms")->MaxQuantity(), 4);
         ASSERT_NE(inv->FindManufacturer("forge"), nullptr);
         EXPECT_EQ(inv->FindManufacturer("forge")->TimeNeeded(), 500);
       }},
      {"dialogue tree",
       [] { return New<TQuorvelDialogueSystem>(nullptr); },
       {"  Id = 'talks'",
        "  Dialogues = <",
        "    item",
        "      Ident = 'd'",
        "      Items = <",
        "        item",
        "          Ident = 'q'",
        "          Items = <",
        "            item",
        "              Ident = 'a'",
        "              Kind = Answer",
        "            end>",
        "          Kind = Question",
        "          DisplayTime = 40",
        "        end>",
        "      Characters = <",
        "        item",
        "          Ident = 'c'",
        "          Name = 'Ann'",
        "        end>",
        "    end>"},
       [](TComponent* c) {
         TQuorvelDialogueSystem* s = Dialogues(c);
         EXPECT_EQ(s->Id(), "talks");
         ASSERT_EQ(s->Dialogues()->Count(), 1);
         TQuorvelDialogue* d = s->Dialogues()->Items(0);
         TQuorvelDialogueItem* q = d->FindItem("q");
         ASSERT_NE(q, nullptr);
         EXPECT_EQ(q->Kind(), TQuorvelDialogueItemKind::Question);
         EXPECT_EQ(q->DisplayTime(), 40);
         ASSERT_NE(d->FindItem("a"), nullptr);
         EXPECT_EQ(d->FindItem("a")->Kind(), TQuorvelDialogueItemKind::Answer);
         ASSERT_NE(d->FindCharacterById("c"), nullptr);
         EXPECT_EQ(d->FindCharacterById("c")->Name(), "Ann");
       }},
  };
  for (const TFormCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::string text = "object Root: Root\n";
    for (const std::string& line : c.Lines) text += line + "\n";
    text += "end\n";
    TOwned<TComponent> first(c.Make());
    ASSERT_NO_THROW(TReader(first.get(), text).ReadRootComponent()) << text;
    c.Check(first.get());
    const std::string written = TWriter(first.get()).WriteRootComponent();
    ExpectLinesInOrder(written, c.Lines);

    TOwned<TComponent> second(c.Make());
    ASSERT_NO_THROW(TReader(second.get(), written).ReadRootComponent()) << written;
    c.Check(second.get());
    EXPECT_EQ(TWriter(second.get()).WriteRootComponent(), written);
  }
}

// Every property the components publish, found by name; those that forms cannot hold (maps,
// references, lists, free values) are left out of the written text.
TEST(GamePublished, EveryPublishedNameIsRegistered) {
  const std::vector<std::pair<const TClass*, std::vector<const char*>>> published = {
      {TQuorvelDialogueItem::StaticClass(),
       {"Ident", "Enabled", "Parameters", "Items", "Kind", "DisplayName", "Reference", "DisplayTime", "Text", "Events",
        "Character"}},
      {TQuorvelDialogueItemEvent::StaticClass(),
       {"Ident", "Enabled", "Parameters", "OwnerEvent", "Kind", "Trigger", "Scope", "Data", "Iterations"}},
      {TQuorvelDialogue::StaticClass(), {"Ident", "Enabled", "Parameters", "Items", "Characters"}},
      {TQuorvelDialogueCharacter::StaticClass(), {"Ident", "Enabled", "Parameters", "Name"}},
      {TQuorvelDialogueSystem::StaticClass(),
       {"Id", "Language", "Dialogues", "Variables", "OnBeginDialogueItemEvent", "OnEndDialogueItemEvent",
        "OnBeginDialogueItem", "OnEndDialogueItem", "OnStartDialogue", "OnStopDialogue", "OnPauseDialogue",
        "OnSkippedDialogue", "OnSkipAvailability", "OnBeginItemTimeout", "OnEndItemTimeout"}},
      {TQuorvelInventoryItemTemplate::StaticClass(),
       {"Id", "Name", "Enabled", "Data", "Parameters", "Group", "MaxQuantity", "Weight", "MaxWeight", "IsPooled",
        "Dependency", "UpgradeItem", "DowngradeItem", "ImageIndex"}},
      {TQuorvelInventoryCollectable::StaticClass(),
       {"Id", "Name", "Enabled", "Data", "Parameters", "Template", "Quantity", "Weight"}},
      {TQuorvelInventoryGroup::StaticClass(), {"Id", "Name", "Enabled", "Data", "MaxQuantity", "MaxWeight"}},
      {TQuorvelInventoryManufacturer::StaticClass(),
       {"Id", "Name", "Enabled", "Data", "Ingredients", "Dependency", "ResultItems", "Kind", "TimeNeeded", "OnNotify",
        "OnProduced"}},
      {TQuorvelInventory::StaticClass(),
       {"Language", "ItemTemplates", "Groups", "Manufacturers", "CollectedItems", "VisualItems", "OnItemNotify",
        "OnAddManufacturing", "OnLoadResource"}},
      {TQuorvelInventoryVisualItem::StaticClass(), {"DisplayName", "ImageLOD0", "ImageLOD1", "ImageLOD2", "ModelFile", "Index"}},
      {TQuorvelInventoryVisualItemCollection::StaticClass(), {"ImageLOD0Size", "ImageLOD1Size", "ImageLOD2Size"}},
      {TQuorvelSkillGroup::StaticClass(), {"Enabled", "Icon", "Position", "Skills"}},
      {TQuorvelSkill::StaticClass(),
       {"Enabled", "Icon", "Position", "Skills", "Activated", "Value", "Factor", "Interpolation", "Level", "MaxLevel",
        "LevelingTime", "Data"}},
      {TQuorvelSkillSystem::StaticClass(), {"Language", "Groups"}},
  };
  for (const auto& [cls, names] : published)
    for (const char* name : names) {
      const TPropInfo* prop = cls->FindProperty(name);
      ASSERT_NE(prop, nullptr) << cls->ClassName() << "." << name;
      EXPECT_TRUE(prop->IsReadable()) << cls->ClassName() << "." << name;
    }
}

// Setting a collection property through the registry copies the items: the source can go at
// once, and the copies are the destination's own.
TEST(GamePublished, CollectionSettersCopyTheirSource) {
  {
    TOwned<TQuorvelSkillSystem> from(New<TQuorvelSkillSystem>(nullptr));
    TOwned<TQuorvelSkillSystem> to(New<TQuorvelSkillSystem>(nullptr));
    TQuorvelSkillGroup* g = from->AddGroup();
    g->SetIcon(5);
    g->SetPosition({2, 3});
    g->AddSkill()->SetMaxLevel(4);
    SetPropValue(to.get(), "Groups", TValue::From(from->Groups()));
    // A group's skills copied from another group.
    TQuorvelSkillGroup* target = to->AddGroup();
    SetPropValue(target, "Skills", TValue::From(g->Skills()));
    from.reset();
    ASSERT_EQ(to->Groups()->Count(), 2);
    EXPECT_EQ(to->Groups()->Items(0)->Icon(), 5);
    EXPECT_EQ(to->Groups()->Items(0)->Position().Y, 3.0f);
    ASSERT_EQ(to->Groups()->Items(0)->Skills()->Count(), 1);
    EXPECT_EQ(to->Groups()->Items(0)->Skills()->Items(0)->MaxLevel(), 4);
    EXPECT_EQ(to->Groups()->Items(0)->Skills()->Items(0)->GetSkillSystem(), to.get());
    ASSERT_EQ(target->Skills()->Count(), 1);
    EXPECT_EQ(target->Skills()->Items(0)->GetGroup(), target);
    // Position copies the point, not the object.
    TQuorvelSkillGroup* other = to->AddGroup();
    SetPropValue(other, "Position", GetPropValue(to->Groups()->Items(0), "Position"));
    EXPECT_EQ(other->Position().X, 2.0f);
    EXPECT_NE(GetPropValue(other, "Position").AsObject(), GetPropValue(to->Groups()->Items(0), "Position").AsObject());
  }
  {
    TOwned<TQuorvelDialogueSystem> from(New<TQuorvelDialogueSystem>(nullptr));
    TOwned<TQuorvelDialogueSystem> to(New<TQuorvelDialogueSystem>(nullptr));
    TQuorvelDialogue* d = from->Dialogues()->AddItem<TQuorvelDialogue>();
    d->SetIdent("d");
    d->Items()->AddItem()->SetIdent("q");
    TObject variable;
    from->AddVariable("v", &variable);
    SetPropValue(to.get(), "Dialogues", TValue::From(from->Dialogues()));
    SetPropValue(to.get(), "Variables", TValue::From(from->Variables()));
    TQuorvelDialogue* own = to->Dialogues()->AddItem<TQuorvelDialogue>();
    SetPropValue(own, "Items", TValue::From(d->Items()));
    from.reset();
    ASSERT_EQ(to->Dialogues()->Count(), 2);
    EXPECT_EQ(to->Dialogues()->Items(0)->Ident(), "d");
    ASSERT_NE(to->Dialogues()->Items(0)->FindItem("q"), nullptr);
    EXPECT_EQ(to->Dialogues()->Items(0)->FindItem("q")->Dialogue(), to->Dialogues()->Items(0));
    ASSERT_NE(own->FindItem("q"), nullptr);
    EXPECT_EQ(own->FindItem("q")->Dialogue(), own);
    EXPECT_EQ(to->GetVariable("v"), &variable);
  }
  {
    TOwned<TQuorvelInventory> from(New<TQuorvelInventory>(nullptr));
    TOwned<TQuorvelInventory> to(New<TQuorvelInventory>(nullptr));
    from->AddVisualItem(-1, "sword", "s.png", "m.png", "l.png", "sword.obj");
    from->AddGroup("arms")->SetMaxQuantity(3);
    TQuorvelInventoryItemTemplate* t = from->AddItemTemplate("sword");
    t->SetWeight(2);
    TQuorvelInventoryManufacturer* m = from->AddManufacturer("forge");
    m->AddIngredient(t, 2);
    to->AddItemTemplate("old");
    ASSERT_NE(to->Collect("old"), nullptr);
    SetPropValue(to.get(), "VisualItems", TValue::From(from->VisualItems()));
    SetPropValue(to.get(), "Groups", TValue::From(from->Groups()));
    SetPropValue(to.get(), "ItemTemplates", TValue::From(from->ItemTemplates()));
    TQuorvelInventoryManufacturer* own = to->AddManufacturer("own");
    SetPropValue(own, "Ingredients", TValue::From(m->Ingredients()));
    from.reset();
    ASSERT_EQ(to->VisualItems()->Count(), 1);
    EXPECT_EQ(to->VisualItems()->Items(0)->GetResource(3), "sword.obj");
    ASSERT_NE(to->FindGroup("arms"), nullptr);
    EXPECT_EQ(to->FindGroup("arms")->MaxQuantity(), 3);
    ASSERT_NE(to->FindItemTemplate("sword"), nullptr);
    EXPECT_EQ(to->FindItemTemplate("sword")->Weight(), 2.0f);
    // The replaced template leaves the catalogue; the item collected from it still reads it.
    EXPECT_EQ(to->FindItemTemplate("old"), nullptr);
    ASSERT_EQ(to->CollectedItems()->Count(), 1);
    EXPECT_EQ(to->CollectedItems()->ToArray()[0]->Template()->Id(), "old");
    ASSERT_EQ(own->Ingredients()->Count(), 1);
    EXPECT_EQ(own->Ingredients()->Items(0)->Quantity(), 2);
  }
}

}  // namespace
}  // namespace quorvel
