#include <gtest/gtest.h>

#include <pthread.h>

#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "lib/defs/DefTypes.h"
#include "tests/defs/DefTypesTestUtil.h"

namespace quorvel {
namespace {

using test::ParseObject;
using test::TakeText;

TTransformDef* AddTransformNode(TTransformDef* AParent, const std::string& AId) {
  auto* node = New<TTransformDef>(AParent);
  node->SetId(AId);
  AParent->AddChild(node);
  return node;
}

void ExpectMatrixNear(const TMatrix3D& AActual, const TMatrix3D& AExpected) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(AActual.Get(r, c), AExpected.Get(r, c), 1e-5) << r << "," << c;
}

TEST(DefTypesTransform, AddChildKeepsEachNodeOnce) {
  TOwned<TTransformDef> root(New<TTransformDef>(nullptr));
  EXPECT_EQ(root->GetChildren(), nullptr);  // no list before the first child
  auto* a = New<TTransformDef>(root.get());
  EXPECT_EQ(root->AddChild(a), 0);
  EXPECT_EQ(root->AddChild(a), -1);
  EXPECT_EQ(root->AddChild(nullptr), -1);
  EXPECT_EQ(root->ChildCount(), 1);
  EXPECT_EQ(a->GetOwner(), root.get());
  EXPECT_EQ(a->GetOwnerId(), root->GetId());
}

TEST(DefTypesTransform, RemoveExtractAndClearChildren) {
  TOwned<TTransformDef> root(New<TTransformDef>(nullptr));
  TTransformDef* a = AddTransformNode(root.get(), "a");
  TTransformDef* b = AddTransformNode(root.get(), "b");
  AddTransformNode(root.get(), "c");
  TOwned<TTransformDef> stranger(New<TTransformDef>(nullptr));

  EXPECT_EQ(root->ExtractChild(stranger.get()), nullptr);
  TOwned<TTransformDef> extracted(root->ExtractChild(b));
  EXPECT_EQ(extracted.get(), b);
  root->RemoveChild(stranger.get());  // not a child: nothing happens
  root->RemoveChild(a);               // freed (LeakSanitizer would tell otherwise)
  EXPECT_EQ(root->ChildCount(), 1);
  root->ClearChildren();
  ASSERT_NE(root->GetChildren(), nullptr);  // the empty list stays
  EXPECT_EQ(root->ChildCount(), 0);
}

TEST(DefTypesTransform, FindChildByIdAcceptsHashAndIgnoresCase) {
  TOwned<TTransformDef> root(New<TTransformDef>(nullptr));
  root->SetId("Arm");
  TTransformDef* body = AddTransformNode(root.get(), "Body");
  TTransformDef* arm = AddTransformNode(body, "Arm");
  EXPECT_EQ(root->FindChildById("#Arm", false), arm);
  EXPECT_EQ(root->FindChildById("arm", false), arm);
  EXPECT_EQ(root->FindChildById("#ARM", false), arm);
  EXPECT_EQ(root->FindChildById("##Arm", false), nullptr);
  EXPECT_EQ(body->FindChildById("Body", false), nullptr);  // a node never matches itself
  try {
    root->FindChildById("Leg", true);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "transform with id \"Leg\" not found");
  }
}

TEST(DefTypesTransform, FindChildByIdAnswersTheLastMatchVisited) {
  TOwned<TTransformDef> root(New<TTransformDef>(nullptr));
  TTransformDef* first = AddTransformNode(root.get(), "first");
  AddTransformNode(first, "twin");
  TTransformDef* later = AddTransformNode(root.get(), "twin");
  // The match below "first" stops only that level; the walk goes on to the later child.
  EXPECT_EQ(root->FindChildById("twin", false), later);
}

TEST(DefTypesTransform, TraverseStopsOnlyTheLevelThatAnsweredFalse) {
  TOwned<TTransformDef> root(New<TTransformDef>(nullptr));
  TTransformDef* a = AddTransformNode(root.get(), "a");
  AddTransformNode(a, "a1");
  AddTransformNode(a, "a2");
  AddTransformNode(a, "a3");
  AddTransformNode(root.get(), "b");
  std::vector<std::string> seen;
  root->Traverse(true, [&](TTransformDef* AParent, int32_t AIndex, TTransformDef* AChild) {
    seen.push_back(AParent->GetId() + "/" + std::to_string(AIndex) + ":" + AChild->GetId());
    return AChild->GetId() != "a2";
  });
  EXPECT_EQ(seen, (std::vector<std::string>{"/0:a", "a/0:a1", "a/1:a2", "/1:b"}));

  seen.clear();
  root->Traverse(false, [&](TTransformDef*, int32_t, TTransformDef* AChild) {
    seen.push_back(AChild->GetId());
    return true;
  });
  EXPECT_EQ(seen, (std::vector<std::string>{"a", "b"}));
  root->Traverse(true, nullptr);  // no visitor: nothing happens
}

TEST(DefTypesTransform, AbsoluteMatrixIsOwnerTimesLocal) {
  TOwned<TTransformDef> parent(New<TTransformDef>(nullptr));
  parent->SetTransform(TMatrix3D::CreateScaling({2, 2, 2}));
  auto* child = New<TTransformDef>(parent.get());
  parent->AddChild(child);
  child->SetTransform(TMatrix3D::CreateTranslation({1, 0, 0}));
  // parent x child keeps the translation row as it is: (1, 0, 0), not (2, 0, 0).
  ExpectMatrixNear(child->GetAbsoluteTransformation(),
                   TMatrix3D(2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 1, 0, 0, 1));

  auto* grandchild = New<TTransformDef>(child);
  child->AddChild(grandchild);
  grandchild->SetTransform(TMatrix3D::CreateRotationZ(1.5707963f));
  // (S x T) x Rz: rows of S x T rotated by 90 degrees about Z (x -> y, y -> -x).
  ExpectMatrixNear(grandchild->GetAbsoluteTransformation(),
                   TMatrix3D(0, 2, 0, 0, -2, 0, 0, 0, 0, 0, 2, 0, 0, 1, 0, 1));
  ExpectMatrixNear(grandchild->EvaluateGlobalTransformation(), grandchild->GetTransform());
  ExpectMatrixNear(parent->GetAbsoluteTransformation(), parent->GetTransform());
}

TEST(DefTypesTransform, OwnerOfAnotherKindIsAnInvalidCast) {
  TOwned<TBehaviourDef> behaviour(New<TBehaviourDef>());
  TOwned<TTransformDef> node(New<TTransformDef>(behaviour.get()));
  EXPECT_EQ(node->GetOwnerRef(), behaviour.get());
  EXPECT_EQ(node->GetOwnerId(), behaviour->GetId());
  EXPECT_THROW(node->GetOwner(), EInvalidCast);
  EXPECT_THROW(node->GetAbsoluteTransformation(), EInvalidCast);
  EXPECT_EQ(node->GetModel(), nullptr);
  node->SetOwnerRef(nullptr);
  EXPECT_EQ(node->GetOwnerId(), "");
}

TEST(DefTypesTransform, ModelIsFoundThroughTheOwners) {
  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  TTransformDef* a = AddTransformNode(model.get(), "a");
  TTransformDef* b = AddTransformNode(a, "b");
  EXPECT_EQ(model->GetModel(), nullptr);  // a root model answers nil for itself
  EXPECT_EQ(a->GetModel(), model.get());
  EXPECT_EQ(b->GetModel(), model.get());
}

TEST(DefTypesTransform, QualifiedComponentNameIsSanitisedAndCountsCopies) {
  TOwned<TTransformDef> node(New<TTransformDef>(nullptr));
  node->SetId("1 Box");
  EXPECT_EQ(node->GetQualifiedComponentName(), "_1_Box");
  node->IncCopyCount();
  node->IncCopyCount();
  EXPECT_EQ(node->GetCopyCount(), 2);
  EXPECT_EQ(node->GetQualifiedComponentName(), "_1_Box_Copy2");
}

TEST(DefTypesTransform, GoldenJSONOfATree) {
  TOwned<TTransformDef> root(New<TTransformDef>(nullptr));
  root->SetId("root");
  root->GetProperties()->Add("Speed", TValue::From(0.1f));
  root->SetTransform(TMatrix3D::CreateTranslation({1, 2, 3}));
  auto* group = New<TGroupDef>(root.get());
  group->SetId("g");
  group->SetAuthor("Ann");
  group->SetTimestamp(EncodeDateTime(2024, 5, 6, 7, 8, 9, 0));
  group->SetDescr("d");
  root->AddChild(group);
  auto* segment = New<TSegmentDef>(root.get());
  segment->SetId("s");
  segment->SetReferenceId("g");
  root->AddChild(segment);

  const char* identity =
      "1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000 0.0000000 0.0000000 "
      "0.0000000 0.0000000 1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000";
  const std::string expected =
      std::string(R"({"Type":"Quorvel.DefTypes.TTransformDef","Id":"root","Owner":null,)") +
      R"("Properties":[{"Name":"Speed","Value":0.100000001490116}],)" +
      R"("Transform":"1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000 0.0000000 0.0000000 )" +
      R"(0.0000000 0.0000000 1.0000000 0.0000000 1.0000000 2.0000000 3.0000000 1.0000000",)" +
      R"("Children":[{"Type":"Quorvel.DefTypes.TGroupDef","Id":"g","Owner":"root","Properties":[],"Transform":")" +
      identity + R"(","Author":"Ann","Timestamp":"2024-05-06 07:08:09","Descr":"d"},)" +
      R"({"Type":"Quorvel.DefTypes.TSegmentDef","Id":"s","Owner":"root","Properties":[],"Transform":")" + identity +
      R"(","Reference":"g"}]})";
  EXPECT_EQ(TakeText(root->ToJSON()), expected);

  // A node without a child list writes no "Children"; an empty list writes [].
  TOwned<TTransformDef> leaf(New<TTransformDef>(nullptr));
  EXPECT_EQ(TakeText(leaf->ToJSON()).find("Children"), std::string::npos);
  leaf->ClearChildren();
  auto* tmp = New<TTransformDef>(leaf.get());
  leaf->AddChild(tmp);
  leaf->RemoveChild(tmp);
  EXPECT_NE(TakeText(leaf->ToJSON()).find(R"("Children":[])"), std::string::npos);
}

TEST(DefTypesTransform, TreeRoundTripIsStable) {
  TOwned<TTransformDef> root(New<TTransformDef>(nullptr));
  root->SetId("root");
  root->GetProperties()->Add("Flag", TValue::From(true));
  root->GetProperties()->Add("Name", TValue::From(std::string("x")));
  auto* group = New<TGroupDef>(root.get());
  group->SetId("g");
  group->SetVersion("1.2");
  group->SetLicense("MIT");
  group->SetLink("http://x");
  group->SetTimestamp(EncodeDateTime(2001, 2, 3, 4, 5, 6, 0));
  group->SetTransform(TMatrix3D::CreateRotationY(0.5f));
  root->AddChild(group);
  auto* light = New<TLightDef>(group);
  light->SetId("lamp");
  group->AddChild(light);
  const std::string first = TakeText(root->ToJSON());

  auto reread = [](const std::string& AText) {
    TOwned<TTransformDef> copy(New<TTransformDef>(nullptr));
    copy->FromJSON(nullptr, ParseObject(AText).get());
    return TakeText(copy->ToJSON());
  };
  // The group comes back as a mesh (the class table has no group row), so the first write
  // differs; from the second write on the text is stable.
  const std::string second = reread(first);
  EXPECT_NE(second, first);
  EXPECT_NE(second.find("Quorvel.DefTypes.TMeshDef"), std::string::npos);
  EXPECT_NE(second.find(R"("Type":"Quorvel.DefTypes.TLightDef","Id":"lamp","Owner":"g")"), std::string::npos);
  EXPECT_EQ(reread(second), second);
}

TEST(DefTypesTransform, GroupAndSegmentRoundTripTheirOwnFields) {
  const TDateTime stamp = EncodeDateTime(2001, 2, 3, 4, 5, 6, 0);
  TOwned<TGroupDef> group(New<TGroupDef>(nullptr));
  group->SetId("g");
  group->SetAuthor("A");
  group->SetVersion("V");
  group->SetLicense("L");
  group->SetLink("K");
  group->SetDescr("D \"quoted\" \\ /");
  group->SetTimestamp(stamp);
  const std::string text = TakeText(group->ToJSON());
  TOwned<TGroupDef> back(New<TGroupDef>(nullptr));
  back->FromJSON(nullptr, ParseObject(text).get());
  EXPECT_EQ(back->GetAuthor(), "A");
  EXPECT_EQ(back->GetLink(), "K");
  EXPECT_EQ(back->GetDescr(), "D \"quoted\" \\ /");
  EXPECT_EQ(back->GetTimestamp(), stamp);
  EXPECT_EQ(TakeText(back->ToJSON()), text);

  // Timestamp 0 writes nothing; absent or unreadable reads as 0; empty keeps the value.
  back->SetTimestamp(TDateTime(0));
  EXPECT_EQ(TakeText(back->ToJSON()).find("Timestamp"), std::string::npos);
  back->SetTimestamp(stamp);
  back->FromJSON(nullptr, ParseObject(R"({"Id":"g"})").get());
  EXPECT_EQ(back->GetTimestamp().Value, 0.0);
  EXPECT_EQ(back->GetAuthor(), "");
  back->SetTimestamp(stamp);
  back->FromJSON(nullptr, ParseObject(R"({"Timestamp":"yesterday"})").get());
  EXPECT_EQ(back->GetTimestamp().Value, 0.0);
  back->SetTimestamp(stamp);
  back->FromJSON(nullptr, ParseObject(R"({"Timestamp":""})").get());
  EXPECT_EQ(back->GetTimestamp(), stamp);
}

TEST(DefTypesTransform, OwnerIsReadOnlyWhenNoneWasGiven) {
  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  TTransformDef* wheel = AddTransformNode(model.get(), "Wheel");

  TOwned<TTransformDef> loose(New<TTransformDef>(nullptr));
  loose->FromJSON(model.get(), ParseObject(R"({"Owner":null})").get());
  EXPECT_EQ(loose->GetOwnerRef(), nullptr);
  EXPECT_EQ(loose->GetOwnerId(), "");

  loose->FromJSON(model.get(), ParseObject(R"({"Owner":"Later"})").get());
  EXPECT_EQ(loose->GetOwnerRef(), nullptr);  // not read yet: only the id is kept
  EXPECT_EQ(loose->GetOwnerId(), "Later");

  loose->FromJSON(model.get(), ParseObject(R"({"Owner":"Wheel"})").get());
  EXPECT_EQ(loose->GetOwnerRef(), wheel);

  // An owner given to the constructor is never replaced by "Owner".
  TOwned<TTransformDef> owned(New<TTransformDef>(wheel));
  owned->FromJSON(model.get(), ParseObject(R"({"Owner":"Model_1"})").get());
  EXPECT_EQ(owned->GetOwnerRef(), wheel);
  EXPECT_EQ(owned->GetOwnerId(), "Wheel");
}

TEST(DefTypesTransform, ChildrenAreBuiltFromTheirType) {
  TOwned<TTransformDef> root(New<TTransformDef>(nullptr));
  root->FromJSON(nullptr, ParseObject(R"({"Id":"r","Children":[
      {"Type":"Quorvel.DefTypes.TSegmentDef","Id":"s"},
      {"Type":"Quorvel.DefTypes.TCameraDef","Id":"c","Children":[{"Type":"Quorvel.DefTypes.TJointDef","Id":"j"}]},
      {"Type":"Quorvel.DefTypes.TGroupDef","Id":"g"},
      {"Id":"untyped"}]})")
                                       .get());
  ASSERT_EQ(root->ChildCount(), 4);
  const char* classes[] = {"TSegmentDef", "TCameraDef", "TMeshDef", "TMeshDef"};
  for (int i = 0; i < 4; ++i) {
    TTransformDef* child = root->GetChildren()->Items(i);
    EXPECT_EQ(child->ClassName(), classes[i]);
    // A camera's reader keeps only the owner's id for the late pass (none given here).
    EXPECT_EQ(child->GetOwner(), i == 1 ? nullptr : root.get());
  }
  TTransformDef* joint = root->FindChildById("j", true);
  EXPECT_EQ(joint->ClassName(), "TJointDef");
  EXPECT_EQ(joint->GetOwnerId(), "c");
}

TEST(DefTypesTransform, BadChildrenRaiseAndKeepWhatWasRead) {
  struct TCase {
    const char* Json;
    int Kept;
  };
  const TCase cases[] = {
      {R"({"Children":[{"Type":"Quorvel.DefTypes.TTransformDef","Id":"a"}, 5]})", 1},
      {R"({"Children":[null]})", 0},
      {R"({"Children":[{"Type":"Quorvel.DefTypes.TTransformDef","Children":[[]]}]})", 0},
  };
  for (const auto& c : cases) {
    TOwned<TTransformDef> root(New<TTransformDef>(nullptr));
    EXPECT_THROW(root->FromJSON(nullptr, ParseObject(c.Json).get()), EInvalidCast) << c.Json;
    EXPECT_EQ(root->ChildCount(), c.Kept) << c.Json;
  }
  // Other kinds where an array, text or object is expected keep the current values.
  TOwned<TTransformDef> root(New<TTransformDef>(nullptr));
  root->SetTransform(TMatrix3D::CreateScaling({3, 3, 3}));
  root->FromJSON(nullptr, ParseObject(R"({"Id":7,"Children":{},"Transform":[1],"Properties":"x","Owner":{}})").get());
  EXPECT_EQ(root->GetId(), "7");
  EXPECT_EQ(root->ChildCount(), 0);
  EXPECT_EQ(root->GetTransform(), TMatrix3D::CreateScaling({3, 3, 3}));
  EXPECT_EQ(root->GetOwnerId(), "");
}

TEST(DefTypesTransform, SegmentFindsOnlyNodesReadBeforeIt) {
  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  model->FromJSON(model.get(), ParseObject(R"({"Id":"m","Children":[
      {"Type":"Quorvel.DefTypes.TTransformDef","Id":"early"},
      {"Type":"Quorvel.DefTypes.TSegmentDef","Id":"s1","Reference":"early"},
      {"Type":"Quorvel.DefTypes.TSegmentDef","Id":"s2","Reference":"late"},
      {"Type":"Quorvel.DefTypes.TTransformDef","Id":"late"}]})")
                                             .get());
  auto* s1 = dynamic_cast<TSegmentDef*>(model->FindChildById("s1", true));
  auto* s2 = dynamic_cast<TSegmentDef*>(model->FindChildById("s2", true));
  ASSERT_TRUE(s1 && s2);
  EXPECT_EQ(s1->GetReference(), model->FindChildById("early", true));
  EXPECT_EQ(s2->GetReference(), nullptr);
  EXPECT_EQ(s2->GetReferenceId(), "late");
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

// Runs AWork on a thread with a 2 MB stack (a common worker size) and hands back its exception.
void RunOnSmallStack(const std::function<void()>& AWork) {
  struct TJob {
    const std::function<void()>* Work;
    std::exception_ptr Error;
  } job{&AWork, nullptr};
  pthread_attr_t attr;
  ASSERT_EQ(pthread_attr_init(&attr), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attr, 2u << 20), 0);
  pthread_t thread;
  auto run = [](void* AJob) -> void* {
    auto* j = static_cast<TJob*>(AJob);
    try {
      (*j->Work)();
    } catch (...) {
      j->Error = std::current_exception();
    }
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attr, run, &job), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
  if (job.Error) std::rethrow_exception(job.Error);
}

// Nesting is limited when reading, so that reading, walking, writing and freeing a tree never
// run out of stack; one level more raises a clear error, through "Children" and "Meshes" alike.
TEST(DefTypesTransform, NestingIsLimitedBeforeTheStackRunsOut) {
  const int limit = TTransformDef::MaxNestingDepth;
  auto nested = [](int ADepth, const char* AKey) {
    std::string text;
    for (int i = 0; i < ADepth; ++i)
      text += R"({"Type":"Quorvel.DefTypes.TMeshDef","Id":"n)" + std::to_string(i) + R"(",")" + AKey + R"(":[)";
    for (int i = 0; i < ADepth; ++i) text += "]}";
    return "{\"Children\":[" + text + "]}";
  };
  for (const char* key : {"Children", "Meshes"}) {
    SCOPED_TRACE(key);
    const auto atLimit = ParseObject(nested(limit, key));
    const auto beyond = ParseObject(nested(limit + 1, key));
    RunOnSmallStack([&] {
      TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
      model->FromJSON(model.get(), atLimit.get());
      TTransformDef* deepest = model->FindChildById("n" + std::to_string(limit - 1), true);
      EXPECT_EQ(deepest->GetAbsoluteTransformation(), TMatrix3D::Identity());
      model->GetCombinedBoundingBox();
      model->AcquireBVH();
      model->SetIsStatic(false);
      EXPECT_GT(model->GetSize(), 0);
      TOwned<TModelDef> copy(New<TModelDef>(nullptr, nullptr));
      copy->FromJSON(copy.get(), ParseObject(TakeText(model->ToJSON())).get());
      EXPECT_NE(copy->FindChildById("n" + std::to_string(limit - 1), false), nullptr);
    });
    RunOnSmallStack([&] {
      TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
      try {
        model->FromJSON(model.get(), beyond.get());
        ADD_FAILURE() << "no exception";
      } catch (const Exception& e) {
        EXPECT_EQ(std::string(e.what()), "definitions nested deeper than 256 levels");
      }
      // The depth count is per read: the next read on this thread starts from zero.
      model->FromJSON(model.get(), atLimit.get());
    });
  }
}

// An owner below the node (or the node itself) would make every walk up the owners endless:
// refused with both ids named, and the owner stays what it was.
TEST(DefTypesTransform, OwnerCyclesAreRefused) {
  struct Row {
    const char* Name;
    std::function<void(TModelDef* AModel)> Act;
    const char* Message;
  };
  const Row rows[] = {
      {"read: own id", [](TModelDef* AModel) { AModel->FromJSON(AModel, ParseObject(R"({"Id":"m","Owner":"m"})").get()); },
       "invalid owner \"m\" of \"m\" - the owner is the node itself or one of its descendants"},
      {"read again: a child's id",
       [](TModelDef* AModel) { AModel->FromJSON(AModel, ParseObject(R"({"Owner":"a"})").get()); },
       "invalid owner \"a\" of \"M\" - the owner is the node itself or one of its descendants"},
      {"read: a grandchild's id",
       [](TModelDef* AModel) { AModel->FromJSON(AModel, ParseObject(R"({"Owner":"b"})").get()); },
       "invalid owner \"b\" of \"M\" - the owner is the node itself or one of its descendants"},
      {"set: itself", [](TModelDef* AModel) { AModel->SetOwner(AModel); },
       "invalid owner \"M\" of \"M\" - the owner is the node itself or one of its descendants"},
      {"set: a grandchild",
       [](TModelDef* AModel) { AModel->SetOwnerRef(AModel->FindChildById("b", true)); },
       "invalid owner \"b\" of \"M\" - the owner is the node itself or one of its descendants"},
      {"set: a node below, not through the owners",
       [](TModelDef* AModel) {
         auto* stray = New<TTransformDef>(nullptr);
         stray->SetId("s");
         AModel->FindChildById("a", true)->AddChild(stray);
         AModel->SetOwnerRef(stray);
       },
       "invalid owner \"s\" of \"M\" - the owner is the node itself or one of its descendants"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Name);
    TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
    model->SetId("M");
    AddTransformNode(AddTransformNode(model.get(), "a"), "b");
    try {
      row.Act(model.get());
      ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
      EXPECT_EQ(std::string(e.what()), row.Message);
    }
    EXPECT_EQ(model->GetOwnerRef(), nullptr);
    EXPECT_EQ(model->FindChildById("b", true)->GetAbsoluteTransformation(), TMatrix3D::Identity());
  }
  // A proper owner elsewhere is still taken.
  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  TOwned<TTransformDef> other(New<TTransformDef>(nullptr));
  model->SetOwnerRef(other.get());
  EXPECT_EQ(model->GetOwnerRef(), other.get());
}

}  // namespace
}  // namespace quorvel
