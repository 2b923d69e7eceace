// The scene-object base: the registry of named sub-controls, naming, boxes, the matrix
// routines and picking; the component routines; transforms, segments and groups.
#include <gtest/gtest.h>

#include <regex>

#include "framework/classes/Filer.h"
#include "lib/defs/DefTypesMesh.h"
#include "lib/defs/DefTypesTransform.h"
#include "lib/scene/Control.h"
#include "lib/scene/Group.h"
#include "lib/scene/Mesh.h"
#include "lib/scene/Segment.h"
#include "lib/scene/Transform.h"
#include "lib/utils/UtilsGeometry.h"

namespace quorvel {
namespace {

TEST(QuorvelControlRegistry, KeysErrorsAndRemoval) {
  TOwned<TQuorvelControl> root(New<TQuorvelControl>(nullptr));
  root->SetQualifiedName("root");
  auto* a = New<TQuorvelControl>(root.get());
  a->SetParent(root.get());
  a->SetQualifiedName("a");
  EXPECT_EQ(root->GetControls().at("a"), a);
  // A rename keeps the old key too; removing the control removes both.
  a->SetQualifiedName("a2");
  EXPECT_EQ(root->GetControls().size(), 2u);
  EXPECT_EQ(root->GetControlName(a), "a");
  root->RemoveControl(a);
  EXPECT_TRUE(root->GetControls().empty());
  EXPECT_EQ(root->GetControlName(a), "");
  // A taken key raises with the key and the registry's name, and changes nothing.
  a->SetQualifiedName("x");
  auto* b = New<TQuorvelControl>(root.get());
  b->SetParent(root.get());
  try {
    b->SetQualifiedName("x");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "control \"x\" already exists in root");
  }
  EXPECT_EQ(root->GetControls().at("x"), a);
  root->RemoveControl(std::string("missing"));  // no error
  std::map<TComponent*, bool>* none = nullptr;
  EXPECT_THROW(root->FindControlsByDeepSearch("x", none), Exception);
  std::map<TComponent*, bool> found;
  root->FindControlsByDeepSearch("x", &found);
  EXPECT_EQ(found, (std::map<TComponent*, bool>{{a, false}}));
  EXPECT_EQ(root->FindControlByDeepSearch(""), nullptr);
  EXPECT_EQ(root->FindControlByDefDeepSearch(nullptr), nullptr);
}

TEST(QuorvelControlRegistry, AFreedControlLeavesEveryRegistryAndOnlyItsOwnEntries) {
  TOwned<TQuorvelControl> p1(New<TQuorvelControl>(nullptr));
  TOwned<TQuorvelControl> p2(New<TQuorvelControl>(nullptr));
  auto* c = New<TQuorvelControl>(nullptr);
  c->SetParent(p1.get());
  c->SetQualifiedName("first");
  c->SetQualifiedName("renamed");
  c->SetParent(p2.get());  // re-parented: p1 still holds its two keys
  c->SetQualifiedName("other");
  auto* d = New<TQuorvelControl>(nullptr);
  d->SetParent(p2.get());
  // Another control registered under this control's current key in a third registry.
  TOwned<TQuorvelControl> p3(New<TQuorvelControl>(nullptr));
  p3->AddControl("other", d);
  Free(c);
  EXPECT_TRUE(p1->GetControls().empty());
  EXPECT_TRUE(p2->GetControls().empty());
  EXPECT_EQ(p3->GetControls().at("other"), d);
  // A registry freed first is forgotten by its controls.
  TOwned<TQuorvelControl> lone(New<TQuorvelControl>(nullptr));
  auto* reg = New<TQuorvelControl>(nullptr);
  reg->AddControl("lone", lone.get());
  Free(reg);
  lone.reset();  // must not touch the freed registry
}

TEST(QuorvelControl, ATakenNameBecomesClassNameAndGuid) {
  TOwned<TComponent> owner(New<TComponent>(nullptr));
  auto* first = New<TQuorvelControl>(owner.get());
  first->SetName("Body");
  auto* second = New<TQuorvelControl>(owner.get());
  second->SetName("Body");
  EXPECT_EQ(first->GetName(), "Body");
  EXPECT_TRUE(std::regex_match(second->GetName(), std::regex("QuorvelControl_[0-9a-f]{32}"))) << second->GetName();
  // The name a control already has is taken by itself.
  first->SetName("Body");
  EXPECT_TRUE(std::regex_match(first->GetName(), std::regex("QuorvelControl_[0-9a-f]{32}")));
}

TEST(QuorvelControl, RebuildLocalMatrixThresholds) {
  struct Case {
    TPoint3D Scale, Position;
    bool ScaleApplied, MoveApplied;
  } cases[] = {
      {{1.00009f, 0.99991f, 1}, {0.0009f, -0.0009f, 0}, false, false},
      {{1.0002f, 1, 1}, {0, 0, 0}, true, false},
      {{1, 1, 1}, {0, 0.002f, 0}, false, true},
  };
  const TQuaternion3D q({0, 1, 0}, 0.5f);
  for (const Case& c : cases) {
    TOwned<TControl3D> ctl(New<TControl3D>(nullptr));
    ctl->GetScale()->SetPointNoChange(c.Scale);
    ctl->GetPosition()->SetPointNoChange(c.Position);
    ctl->SetQuaternionNoChange(q);
    RebuildLocalMatrix(ctl.get());
    TMatrix3D want = q.ToMatrix3D();
    if (c.ScaleApplied) want = TMatrix3D::CreateScaling(c.Scale) * want;
    if (c.MoveApplied) want = want * TMatrix3D::CreateTranslation(c.Position);
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j) EXPECT_NEAR(ctl->GetLocalMatrix().Get(i, j), want.Get(i, j), 1e-6) << i << j;
  }
}

TEST(QuorvelControl, BoxesAndTranslucentStates) {
  TOwned<TQuorvelControl> c(New<TQuorvelControl>(nullptr));
  c->SetWidth(2);
  c->SetHeight(4);
  c->SetDepth(6);
  c->GetPosition()->SetPoint({1, 2, 3});
  c->GetRotationAngle()->SetY(30);
  const TBoundingBox mine = c->GetAbsoluteBoundingBox(), fw = c->GetGlobalBounds();
  EXPECT_NEAR(mine.Left, fw.Left, 1e-5);
  EXPECT_NEAR(mine.Far, fw.Far, 1e-5);
  EXPECT_EQ(c->GetBoundingBox().Right, 1);
  EXPECT_TRUE(c->GetOpaque());
  EXPECT_TRUE(c->GetFrustumCullingCheck());
  EXPECT_THROW(c->LoadFromDefinition(nullptr), EAbstractError);
}

TEST(ComponentRoutines, FieldTextsAndTheirReaders) {
  EXPECT_EQ(Point3DFieldText({1, 0.5f, -2.25f}), "(1,0.5,-2.25)");
  EXPECT_EQ(Size3DFieldText({3, 4, 5}), "(3,4,5)");
  EXPECT_EQ(Point3DFieldText({0.1f, 0, 0}), "(0.100000001490116,0,0)");
  struct Case {
    const char* Text;
    TVector3D Start, Expected;
  } cases[] = {
      {"(1,2,3,4)", {9, 9, 9, 9}, {1, 2, 3, 4}},
      {"(1,2,x,4)", {9, 9, 9, 9}, {1, 2, 9, 9}},  // stops silently at the bad number
      {"1,2,3", {9, 9, 9, 9}, {2, 3, 9, 9}},     // no "(": the first number is lost
      {"", {9, 9, 9, 9}, {9, 9, 9, 9}},
      {"(1E300,2,3,4)", {9, 9, 9, 9}, {std::numeric_limits<float>::infinity(), 2, 3, 4}},
  };
  for (const Case& c : cases) {
    TVector3D v = c.Start;
    ReadVector3DText(c.Text, v);
    EXPECT_EQ(v.X, c.Expected.X) << c.Text;
    EXPECT_EQ(v.Y, c.Expected.Y) << c.Text;
    EXPECT_EQ(v.Z, c.Expected.Z) << c.Text;
    EXPECT_EQ(v.W, c.Expected.W) << c.Text;
  }
  TSize3D s{};
  ReadSize3DText("(1.5,2.5,-0.5)", s);
  EXPECT_EQ(s.Width, 2);
  EXPECT_EQ(s.Height, 2);
  EXPECT_EQ(s.Depth, 0);
  TQuaternion3D q{5, 5, 5, 5};
  ReadQuaternionText("(0,0,0,1)", q);
  EXPECT_EQ(q, TQuaternion3D::Identity());
  // Planes: normal, then distance; a bad number stops the reading as for the other types.
  EXPECT_EQ(PlaneFFieldText(TPlaneF{0, -1, 0, 2.5f}), "(0,-1,0,2.5)");
  EXPECT_EQ(PlaneFFieldText(TPlaneF{0.1f, 0, 0, 1e-6f}), "(0.100000001490116,0,0,9.99999997475243E-7)");
  TPlaneF plane{9, 9, 9, 9};
  ReadPlaneFText("(0,1,0,-3)", plane);
  EXPECT_EQ(plane.NY, 1);
  EXPECT_EQ(plane.D, -3);
  plane = {9, 9, 9, 9};
  ReadPlaneFText("(1,x,0,-3)", plane);
  EXPECT_EQ(plane.NX, 1);
  EXPECT_EQ(plane.NY, 9);
  EXPECT_EQ(plane.D, 9);
}

TEST(ComponentRoutines, SearchesAndHierarchyDump) {
  TOwned<TComponent> form(New<TComponent>(nullptr));
  form->SetName("Form1");
  auto* a = New<TComponent>(form.get());
  a->SetName("A");
  auto* b = New<TQuorvelControl>(a);
  b->SetName("B");
  EXPECT_EQ(FindComponentDeepSearch(form.get(), "Form1"), form.get());
  EXPECT_EQ(FindComponentDeepSearch(form.get(), "B"), b);
  EXPECT_EQ(FindComponentDeepSearch(form.get(), "b"), nullptr);
  EXPECT_EQ(FindComponentDeepSearchByClass(form.get(), TQuorvelControl::StaticClass()), b);
  EXPECT_EQ(FindComponentDeepSearchByFilter(form.get(), nullptr), nullptr);
  std::vector<TComponent*> all;
  FindAllComponentsByClass(form.get(), TComponent::StaticClass(), all);
  EXPECT_EQ(all, (std::vector<TComponent*>{form.get(), a, b}));
  EXPECT_EQ(LogComponentHierarchy(form.get(), "  "),
            "  Form1 (TComponent)\r\n    A (TComponent)\r\n        B (TQuorvelControl)\r\n");
  // Upwards: from the parent (or the owner without one); the object itself never counts.
  TOwned<TQuorvelTransform> top(New<TQuorvelTransform>(nullptr));
  auto* mid = New<TQuorvelSegment>(top.get());
  mid->SetParent(top.get());
  auto* leaf = New<TQuorvelControl>(top.get());
  leaf->SetParent(mid);
  EXPECT_EQ(FindComponentUpwards(leaf, TQuorvelTransform::StaticClass()), mid);
  EXPECT_EQ(FindComponentUpwards(leaf, "Quorvel.Transform.TQuorvelTransform"), mid);
  EXPECT_EQ(FindComponentUpwards(leaf, "Quorvel.Nothing.TNothing"), nullptr);
  EXPECT_EQ(FindTopOwner(leaf), top.get());
  EXPECT_EQ(FindTopOwner(top.get()), nullptr);
  EnableDesigning(top.get());
  EXPECT_TRUE(leaf->GetComponentState().Contains(csDesigning));
  DisableDesigning(top.get());
  EXPECT_FALSE(leaf->GetComponentState().Contains(csDesigning));
}

TEST(QuorvelTransform, DefinitionRoundTripAndTheKeysThatWin) {
  TOwned<TTransformDef> def(New<TTransformDef>(nullptr));
  def->SetTransform(TMatrix3D::CreateTranslation({1, 2, 3}));
  TOwned<TQuorvelTransform> t(New<TQuorvelTransform>(nullptr));
  t->LoadFromDefinition(def.get());
  EXPECT_EQ(t->GetPosition()->GetPoint(), TPoint3D(1, 2, 3));
  EXPECT_FALSE(t->GetHitTest());
  def->GetProperties()->AddOrSetValue("Position", TValue(TPoint3D(5, 5, 5)));
  t->LoadFromDefinition(def.get());
  EXPECT_EQ(t->GetPosition()->GetPoint(), TPoint3D(5, 5, 5));
  EXPECT_EQ(ExtractTranslation(t->GetLocalMatrix()), TPoint3D(5, 5, 5));
  // Wrong types raise the invalid-cast error.
  def->GetProperties()->AddOrSetValue("Visible", TValue(3.5));
  EXPECT_THROW(t->LoadFromDefinition(def.get()), EInvalidCast);
  TOwned<TMeshDef> notTransform(New<TMeshDef>(nullptr));
  (void)notTransform;
  try {
    TOwned<TCustomDef> plain(New<TCustomDef>());
    t->LoadFromDefinition(plain.get());
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "unexpected definition - no transformdef submitted");
  }

  TOwned<TQuorvelTransform> src(New<TQuorvelTransform>(nullptr));
  src->GetPosition()->SetPoint({1, -2, 3});
  src->GetScale()->SetPoint({2, 2, 2});
  src->GetRotationAngle()->SetPoint({10, 20, 30});
  src->SetWidth(3);
  src->SetOpaque(false);
  src->SetTwoSide(true);
  src->SetFrustumCullingCheck(false);
  TOwned<TTransformDef> stored(New<TTransformDef>(nullptr));
  src->StoreToDefinition(stored.get());
  TValue cls;
  ASSERT_TRUE(stored->GetProperties()->TryGetValue("ExtendedClassName", cls));
  EXPECT_EQ(cls.AsType<std::string>(), "Quorvel.Transform.TQuorvelTransform");
  TOwned<TQuorvelTransform> back(New<TQuorvelTransform>(nullptr));
  back->LoadFromDefinition(stored.get());
  EXPECT_EQ(back->GetPosition()->GetPoint(), src->GetPosition()->GetPoint());
  EXPECT_EQ(back->GetScale()->GetPoint(), src->GetScale()->GetPoint());
  EXPECT_EQ(back->GetRotationAngle()->GetPoint(), src->GetRotationAngle()->GetPoint());
  EXPECT_EQ(back->GetWidth(), 3);
  EXPECT_FALSE(back->GetOpaque());
  EXPECT_TRUE(back->GetTwoSide());
  EXPECT_FALSE(back->GetFrustumCullingCheck());
}

TEST(QuorvelTransform, IdentityRotationGivesTheIdentityMatrix) {
  TOwned<TQuorvelTransform> t(New<TQuorvelTransform>(nullptr));
  t->SetRotation({0, 0, 0, 1});
  EXPECT_EQ(t->GetLocalMatrix(), TMatrix3D::Identity());
  EXPECT_EQ(t->GetRotationAngle()->GetPoint(), TPoint3D(0, 0, 0));
  const TVector3D r = t->GetRotation();
  EXPECT_NEAR(std::fabs(r.W), 1, 1e-6);
}

TEST(QuorvelSegment, BuildsChildMeshesVertexGroupsAndSegmentsAndRefusesOtherDefinitions) {
  TOwned<TSegmentDef> def(New<TSegmentDef>(nullptr));
  def->SetId("root seg");
  auto* mesh = New<TMeshDef>(nullptr);
  mesh->SetId("shin");
  def->AddChild(mesh);
  auto* child = New<TSegmentDef>(nullptr);
  child->SetId("child");
  def->AddChild(child);
  TOwned<TQuorvelSegment> seg(New<TQuorvelSegment>(nullptr));
  seg->LoadFromDefinition(def.get());
  EXPECT_EQ(seg->GetQualifiedName(), "root seg");
  const struct {
    const char* Id;
    const TClass* Class;
  } cases[] = {{"shin", TQuorvelMesh::StaticClass()}, {"child", TQuorvelSegment::StaticClass()}};
  ASSERT_EQ(seg->GetChildrenCount(), 2);
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(cases[i].Id);
    auto* built = dynamic_cast<TQuorvelControl*>(seg->GetChild(i));
    ASSERT_NE(built, nullptr);
    EXPECT_EQ(built->ClassType(), cases[i].Class);
    EXPECT_FALSE(built->GetStored());
    EXPECT_EQ(built->GetOwner(), seg.get());
    EXPECT_EQ(seg->GetControls().at(cases[i].Id), built);
  }

  // A vertex group is made as one, and then needs a mesh above it for its vertices.
  TOwned<TSegmentDef> grouped(New<TSegmentDef>(nullptr));
  auto* sole = New<TVertexGroupDef>(nullptr);
  sole->SetId("sole");
  grouped->AddChild(sole);
  TOwned<TQuorvelSegment> segG(New<TQuorvelSegment>(nullptr));
  try {
    segG->LoadFromDefinition(grouped.get());
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "TQuorvelMesh.LoadFromDefinition(): Invalid class typecast");
  }
  ASSERT_EQ(segG->GetChildrenCount(), 1);
  EXPECT_EQ(segG->GetChild(0)->ClassType(), TQuorvelVertexGroup::StaticClass());

  auto* group = New<TGroupDef>(nullptr);
  def->AddChild(group);
  TOwned<TQuorvelSegment> seg2(New<TQuorvelSegment>(nullptr));
  try {
    seg2->LoadFromDefinition(def.get());
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "todo: TGroupDef type not supported yet in hierarchy");
  }
  EXPECT_EQ(seg2->GetChildrenCount(), 2);  // the children built before stay
  TOwned<TTransformDef> plain(New<TTransformDef>(nullptr));
  TOwned<TQuorvelSegment> seg3(New<TQuorvelSegment>(nullptr));
  EXPECT_THROW(seg3->LoadFromDefinition(plain.get()), EInvalidCast);
}

TEST(QuorvelGroup, TimestampTextAndDefinitionCopy) {
  TOwned<TQuorvelGroup> g(New<TQuorvelGroup>(nullptr));
  g->SetTimestamp("2024-02-29 13:45:10");
  EXPECT_EQ(g->GetTimestamp(), "2024-02-29 13:45:10");
  g->SetTimestamp("not a date");
  EXPECT_EQ(g->GetTimestamp(), "1899-12-30 00:00:00");
  g->SetAuthor("me");
  g->SetTimestamp("2020-01-02 03:04:05");
  TOwned<TGroupDef> def(New<TGroupDef>(nullptr));
  g->StoreToDefinition(def.get());
  EXPECT_EQ(def->GetAuthor(), "me");
  TOwned<TQuorvelGroup> back(New<TQuorvelGroup>(nullptr));
  back->LoadFromDefinition(def.get());
  EXPECT_EQ(back->GetTimestamp(), "2020-01-02 03:04:05");
  EXPECT_EQ(back->GetAuthor(), "me");
}

}  // namespace
}  // namespace quorvel
