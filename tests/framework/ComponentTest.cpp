// Component model: names, ownership, notifications and the free sequence; TFwObject
// parents and children; global components; TPersistent's assign rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "framework/classes/Component.h"
#include "framework/classes/FwObject.h"
#include "framework/rtl/SysUtils.h"

namespace quorvel {
namespace component_test {

std::vector<std::string> GLog;
std::set<const void*> GAlive;

class TNode : public TFwObject {
  FW_CLASS(TNode, TFwObject)
public:
  explicit TNode(TComponent* AOwner, const std::string& AName = "") : TFwObject(AOwner) {
    GAlive.insert(this);
    if (!AName.empty()) SetName(AName);
  }
  ~TNode() override {
    GLog.push_back("destroy " + GetName());
    if (Ref && !GAlive.count(Ref)) GLog.push_back("dangling " + GetName());
    GAlive.erase(this);
  }
  void BeforeDestruction() override {
    GLog.push_back("before " + GetName());
    TFwObject::BeforeDestruction();
  }
  void Notification(TComponent* AComponent, TOperation Operation) override {
    TFwObject::Notification(AComponent, Operation);
    if (Operation == opInsert) InsertedWhole.push_back(dynamic_cast<TNode*>(AComponent) != nullptr);
    if (Operation == opRemove && AComponent == Ref) {
      GLog.push_back("clear " + GetName() + "->" + AComponent->GetName() +
                     (AComponent->GetComponentState().Contains(csDestroying) ? " (destroying)" : ""));
      Ref = nullptr;
    }
  }
  // A reference outside the owner tree needs the free notification.
  void SetRef(TNode* Value) {
    Ref = Value;
    if (Value) Value->FreeNotification(this);
  }

  TNode* Ref = nullptr;
  std::vector<bool> InsertedWhole;

protected:
  void DoAddObject(TFwObject* AObject) override {
    TFwObject::DoAddObject(AObject);
    GLog.push_back("add " + AObject->GetName() + " to " + GetName());
  }
  void DoInsertObject(int Index, TFwObject* AObject) override {
    TFwObject::DoInsertObject(Index, AObject);
    GLog.push_back("insert " + AObject->GetName() + " at " + std::to_string(Index) + " in " + GetName());
  }
  void DoRemoveObject(TFwObject* AObject) override {
    TFwObject::DoRemoveObject(AObject);
    GLog.push_back("remove " + AObject->GetName() + " from " + GetName());
  }
};
FW_CLASS_IMPL(TNode, "Quorvel.Test.Components")
FW_CLASS_NO_MEMBERS(TNode)

class ComponentTest : public ::testing::Test {
protected:
  void SetUp() override {
    GLog.clear();
    GAlive.clear();
  }
  static TNode* Make(TComponent* owner, const std::string& name, TFwObject* parent = nullptr) {
    TNode* n = New<TNode>(owner, name);
    if (parent) n->SetParent(parent);
    return n;
  }
  static size_t Count(const std::string& entry) { return static_cast<size_t>(std::count(GLog.begin(), GLog.end(), entry)); }
  static size_t FirstWith(const std::string& prefix) {
    for (size_t i = 0; i < GLog.size(); ++i)
      if (GLog[i].rfind(prefix, 0) == 0) return i;
    return GLog.size();
  }
  static size_t LastWith(const std::string& prefix) {
    size_t last = 0;
    for (size_t i = 0; i < GLog.size(); ++i)
      if (GLog[i].rfind(prefix, 0) == 0) last = i;
    return last;
  }
};

TEST_F(ComponentTest, NamesAreValidatedAndUniqueWithinTheOwner) {
  TOwned<TNode> root(Make(nullptr, "Root"));
  TNode* a = Make(root.get(), "Alpha");
  TNode* b = Make(root.get(), "");

  struct TCase {
    const char* Name;
    bool Accepted;
    const char* Message;
  } cases[] = {
      {"Beta_2", true, ""},
      {"_x", true, ""},
      {"", true, ""},
      {"alpha", false, "A component named alpha already exists"},
      {"ALPHA", false, "A component named ALPHA already exists"},
      {"2abc", false, "'2abc' is not a valid component name"},
      {"a b", false, "'a b' is not a valid component name"},
      {"a.b", false, "'a.b' is not a valid component name"},
      {"\xC3\xA9t\xC3\xA9", false, "is not a valid component name"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    b->SetName("Start");
    try {
      b->SetName(c.Name);
      EXPECT_TRUE(c.Accepted);
      EXPECT_EQ(b->GetName(), c.Name);
    } catch (const EComponentError& e) {
      EXPECT_FALSE(c.Accepted);
      EXPECT_NE(e.Message().find(c.Message), std::string::npos) << e.Message();
      EXPECT_EQ(b->GetName(), "Start");
    }
  }
  // A component may change the case of its own name; lookups ignore case.
  a->SetName("ALPHA");
  EXPECT_EQ(root->FindComponent("alpha"), a);
  EXPECT_EQ(root->FindComponent(""), nullptr);
  // Names need only be unique within one owner.
  TOwned<TNode> other(Make(nullptr, "Other"));
  EXPECT_NO_THROW(Make(other.get(), "Alpha"));
}

TEST_F(ComponentTest, OwnerListsMovesAndRefusesCycles) {
  TOwned<TNode> root(Make(nullptr, "Root"));
  TOwned<TNode> other(Make(nullptr, "Other"));
  TNode* a = Make(root.get(), "A");
  TNode* b = Make(root.get(), "B");
  TNode* c = Make(a, "C");
  EXPECT_EQ(root->GetComponentCount(), 2);
  EXPECT_EQ(root->GetComponents(1), b);
  EXPECT_THROW(root->GetComponents(2), EListError);
  EXPECT_EQ(b->GetComponentIndex(), 1);
  b->SetComponentIndex(0);
  EXPECT_EQ(root->GetComponents(0), b);

  other->InsertComponent(a);
  EXPECT_EQ(a->Owner(), other.get());
  EXPECT_EQ(root->GetComponentCount(), 1);
  EXPECT_EQ(other->FindComponent("A"), a);
  // opInsert reached the new owner with the whole object.
  EXPECT_EQ(other->InsertedWhole.back(), true);

  Make(other.get(), "B");
  EXPECT_THROW(other->InsertComponent(b), EComponentError);  // name taken there
  EXPECT_EQ(b->Owner(), root.get());
  EXPECT_THROW(c->InsertComponent(other.get()), EComponentError);  // would own its owner
  EXPECT_THROW(c->InsertComponent(c), EComponentError);

  root->RemoveComponent(b);
  EXPECT_EQ(b->Owner(), nullptr);
  Free(b);
}

TEST_F(ComponentTest, InsertNotificationSeesTheWholeComponent) {
  TOwned<TNode> root(Make(nullptr, "Root"));
  Make(root.get(), "A");
  ASSERT_EQ(root->InsertedWhole.size(), 1u);
  EXPECT_TRUE(root->InsertedWhole[0]);
}


TEST_F(ComponentTest, FreeingATreeClearsEveryReferenceBeforeAnythingIsFreed) {
  //   Root (owner of A, B, C, E)         Other (owner of D)      Outside (no owner)
  //    +- A            (parent Root)       D (parent A)            X -> B (free notification)
  //    |   +- B        (parent A)                                  P (parent of E)
  //    |   +- D
  //    +- C            (parent Root)
  //   E (parent P)
  // References: A -> C (later sibling), C -> B (a child), B -> A (cycle), D -> C.
  TNode* root = Make(nullptr, "Root");
  TOwned<TNode> other(Make(nullptr, "Other"));
  TOwned<TNode> x(Make(nullptr, "X"));
  TOwned<TNode> p(Make(nullptr, "P"));
  TNode* a = Make(root, "A", root);
  TNode* b = Make(root, "B", a);
  TNode* c = Make(root, "C", root);
  TNode* d = Make(other.get(), "D", a);
  Make(root, "E", p.get());
  a->Ref = c;
  c->Ref = b;
  b->Ref = a;
  d->SetRef(c);
  x->SetRef(b);
  GLog.clear();

  Free(root);

  // Every reference into the tree was cleared, and before the first destructor ran.
  EXPECT_EQ(x->Ref, nullptr);
  for (const char* clear : {"clear A->C (destroying)", "clear C->B (destroying)", "clear B->A (destroying)",
                            "clear D->C (destroying)", "clear X->B (destroying)"})
    EXPECT_EQ(Count(clear), 1u) << clear;
  EXPECT_LT(LastWith("clear "), FirstWith("destroy "));
  EXPECT_EQ(FirstWith("dangling "), GLog.size());
  // Each freed once: owned ones by the owner, D (owned elsewhere) as A's child.
  for (const char* name : {"Root", "A", "B", "C", "D", "E"}) EXPECT_EQ(Count(std::string("destroy ") + name), 1u) << name;
  EXPECT_EQ(other->GetComponentCount(), 0);
  // E left the parent outside the tree through its hook.
  EXPECT_EQ(p->GetChildrenCount(), 0);
  EXPECT_EQ(Count("remove E from P"), 1u);
  EXPECT_EQ(GAlive.size(), 3u);  // Other, X, P
}

TEST_F(ComponentTest, FreeNotificationLinkGoesWithEitherSide) {
  TNode* target = Make(nullptr, "T");
  TNode* watcher = Make(nullptr, "W");
  watcher->SetRef(target);
  // The watcher goes first: the target must not notify it later.
  Free(watcher);
  GLog.clear();
  Free(target);
  EXPECT_EQ(FirstWith("clear "), GLog.size());
  EXPECT_EQ(Count("destroy T"), 1u);
}

TEST_F(ComponentTest, DeletedWithoutFreeStillLeavesOwnerAndFreesWhatItOwns) {
  TOwned<TNode> root(Make(nullptr, "Root"));
  TNode* a = Make(root.get(), "A", root.get());
  Make(a, "A1", a);
  TNode* b = Make(root.get(), "B");
  b->Ref = a;
  delete a;  // no BeforeDestruction
  EXPECT_EQ(root->GetComponentCount(), 1);
  EXPECT_EQ(root->GetChildrenCount(), 0);
  EXPECT_EQ(b->Ref, nullptr);
  EXPECT_EQ(Count("destroy A1"), 1u);
}

class TFailing : public TComponent {
public:
  explicit TFailing(TComponent* AOwner) : TComponent(AOwner) { throw EAbort("construction failed"); }
};

class TFailingLater : public TComponent {
public:
  explicit TFailingLater(TComponent* AOwner) : TComponent(AOwner) {}
  void AfterConstruction() override {
    TComponent::AfterConstruction();
    throw EAbort("after construction failed");
  }
};

TEST_F(ComponentTest, FailedConstructionLeavesTheOwnerClean) {
  TOwned<TNode> root(Make(nullptr, "Root"));
  EXPECT_THROW(New<TFailing>(root.get()), EAbort);
  EXPECT_THROW(New<TFailingLater>(root.get()), EAbort);
  EXPECT_EQ(root->GetComponentCount(), 0);
}

TEST_F(ComponentTest, StateDesigningAndSubComponentStyle) {
  TOwned<TNode> root(Make(nullptr, "Root"));
  TNode* a = Make(root.get(), "A");
  TNode* a1 = Make(a, "A1");
  root->SetDesigning(true);
  EXPECT_TRUE(a1->GetComponentState().Contains(csDesigning));
  // Components made under a designing owner design too.
  EXPECT_TRUE(Make(root.get(), "B")->GetComponentState().Contains(csDesigning));
  root->SetDesigning(false, false);
  EXPECT_FALSE(root->GetComponentState().Contains(csDesigning));
  EXPECT_TRUE(a->GetComponentState().Contains(csDesigning));
  a->SetSubComponent(true);
  EXPECT_TRUE(a->GetComponentStyle().Contains(csSubComponent));
  a->SetSubComponent(false);
  EXPECT_FALSE(a->GetComponentStyle().Contains(csSubComponent));
}

TEST_F(ComponentTest, ChildrenOrderHooksAndReparenting) {
  TOwned<TNode> root(Make(nullptr, "Root"));
  TNode* p1 = Make(root.get(), "P1");
  TNode* p2 = Make(root.get(), "P2");
  TNode* a = Make(root.get(), "A");
  TNode* b = Make(root.get(), "B");
  TNode* c = Make(root.get(), "C");
  GLog.clear();
  p1->AddObject(a);
  p1->AddObject(b);
  p1->InsertObject(1, c);
  p1->AddObject(a);  // already a child: nothing
  EXPECT_EQ(p1->Children(), (std::vector<TFwObject*>{a, c, b}));
  EXPECT_EQ(c->GetIndex(), 1);
  b->SetIndex(0);
  EXPECT_EQ(p1->Children(), (std::vector<TFwObject*>{b, a, c}));
  c->SetParent(p2);
  p2->InsertObject(99, a);  // clamped to the end
  EXPECT_EQ(p1->Children(), (std::vector<TFwObject*>{b}));
  EXPECT_EQ(p2->Children(), (std::vector<TFwObject*>{c, a}));
  p2->RemoveObject(b);  // not its child: nothing
  p2->RemoveObject(0);
  EXPECT_EQ(c->GetParent(), nullptr);
  // Each hook ran once per change; adding is not reported as an insertion as well.
  EXPECT_EQ(GLog, (std::vector<std::string>{"add A to P1", "add B to P1", "insert C at 1 in P1", "remove C from P1",
                                            "add C to P2", "remove A from P1", "insert A at 1 in P2",
                                            "remove C from P2"}));
  // Cycles are refused and change nothing.
  TNode* a1 = Make(root.get(), "A1", a);
  EXPECT_THROW(a1->AddObject(p2), EInvalidOperation);
  EXPECT_THROW(p2->SetParent(a1), EInvalidOperation);
  EXPECT_THROW(a->AddObject(a), EInvalidOperation);
  EXPECT_EQ(p2->GetParent(), nullptr);
  EXPECT_EQ(a1->GetRoot(), p2);
  // A parent frees its children, which leave their owner.
  p2->DeleteChildren();
  EXPECT_EQ(root->FindComponent("A"), nullptr);
  EXPECT_EQ(root->FindComponent("A1"), nullptr);
  EXPECT_EQ(Count("destroy A1"), 1u);
}

TEST_F(ComponentTest, GlobalComponentsAndTheUniqueNameHook) {
  TOwned<TNode> form(Make(nullptr, "MainForm"));
  const int handle = RegisterFindGlobalComponentProc(
      [&](const std::string& name) -> TComponent* { return SameText(name, form->GetName()) ? form.get() : nullptr; });
  EXPECT_EQ(FindGlobalComponent("mainform"), form.get());
  EXPECT_EQ(FindGlobalComponent("Other"), nullptr);
  EXPECT_FALSE(IsUniqueGlobalComponentName("MainForm"));
  EXPECT_TRUE(IsUniqueGlobalComponentName("Other"));

  auto previous = SetIsUniqueGlobalComponentNameProc([](const std::string& name) { return name != "Other"; });
  EXPECT_FALSE(previous);
  EXPECT_TRUE(IsUniqueGlobalComponentName("MainForm"));
  EXPECT_FALSE(IsUniqueGlobalComponentName("Other"));
  EXPECT_TRUE(GetIsUniqueGlobalComponentNameProc());
  SetIsUniqueGlobalComponentNameProc(previous);

  UnregisterFindGlobalComponentProc(handle);
  EXPECT_EQ(FindGlobalComponent("MainForm"), nullptr);
}

class TCopyable : public TPersistent {
public:
  int Value = 0;
  void AssignTo(TPersistent* Dest) override {
    if (auto* d = dynamic_cast<TCopyable*>(Dest)) d->Value = Value;
    else TPersistent::AssignTo(Dest);
  }
};

TEST_F(ComponentTest, AssignCopiesOnlyWhatOneSideKnows) {
  TOwned<TCopyable> a(New<TCopyable>()), b(New<TCopyable>());
  a->Value = 5;
  b->Assign(a.get());
  EXPECT_EQ(b->Value, 5);
  TOwned<TNode> node(Make(nullptr, "N"));
  try {
    node->Assign(a.get());
    ADD_FAILURE();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a TCopyable to a TNode");
  }
  try {
    b->Assign(nullptr);
    ADD_FAILURE();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a nil to a TCopyable");
  }
}

}  // namespace component_test
}  // namespace quorvel
