#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "lib/defs/DefTypes.h"

namespace quorvel {
namespace {

TEST(VertexJoints, LayoutAndAdd) {
  EXPECT_EQ(sizeof(TVertexJoints), 208u);
  EXPECT_EQ(offsetof(TVertexJoints, JointsCount), 12u);
  EXPECT_EQ(offsetof(TVertexJoints, JointsArray), 16u);
  EXPECT_EQ(offsetof(TVertexJoints, WeightsArray), 144u);

  std::vector<TOwned<TJointDef>> joints;
  for (int i = 0; i < 17; ++i) joints.emplace_back(New<TJointDef>(nullptr));
  TVertexJoints v = TVertexJoints::Create(5);
  EXPECT_EQ(v.JointsCount, 0);
  EXPECT_TRUE(v.JointExists(nullptr));  // empty slots
  v.Add(joints[0].get(), 0.25f);
  v.Add(joints[0].get(), 0.75f);  // already there: the first weight stays
  EXPECT_EQ(v.JointsCount, 1);
  EXPECT_EQ(v.WeightsArray[0], 0.25f);
  for (int i = 1; i < 16; ++i) v.Add(joints[size_t(i)].get(), float(i));
  EXPECT_EQ(v.JointsCount, 16);
  EXPECT_FALSE(v.JointExists(nullptr));
  try {
    v.Add(joints[16].get(), 1);
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(),
                 "TVertexJoints.Add(): failed to add joint for vertex - range exceeded - too many joints on a single vertex");
  }
  EXPECT_EQ(v.JointsCount, 16);
  EXPECT_EQ(v.JointsArray[15], joints[15].get());
  v.Free();
  EXPECT_EQ(v.JointsCount, 0);
  EXPECT_EQ(v.JointsArray[0], nullptr);
}

TEST(VertexJoints, ListItemsAndTheirRange) {
  TOwned<TJointDef> joint(New<TJointDef>(nullptr));
  TOwned<TControllerDef> controller(New<TControllerDef>(nullptr));
  TOwned<TVertexJointsList> list(New<TVertexJointsList>(controller.get(), 3));
  EXPECT_EQ(list->GetController(), controller.get());
  ASSERT_EQ(list->Count(), 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(list->GetItem(i).JointsCount, 0);
    EXPECT_EQ(list->GetItem(i).Position, TPoint3D());
  }
  TVertexJoints v = TVertexJoints::Create(0);
  v.Position = TPoint3D(1, 2, 3);
  v.Add(joint.get(), 0.5f);
  list->SetItem(1, v);
  EXPECT_EQ(list->GetItem(1).Position, v.Position);
  EXPECT_EQ(list->GetItem(1).JointsArray[0], joint.get());
  list->GetItemPtr(2)->Add(joint.get(), 1.0f);
  EXPECT_EQ(list->GetItem(2).WeightsArray[0], 1.0f);
  for (int32_t bad : {-1, 3}) {
    EXPECT_THROW(list->GetItem(bad), EArgumentOutOfRangeException) << bad;
    EXPECT_THROW(list->GetItemPtr(bad), EArgumentOutOfRangeException) << bad;
    EXPECT_THROW(list->SetItem(bad, v), EArgumentOutOfRangeException) << bad;
  }
  list->Clear();
  EXPECT_EQ(list->Count(), 0);
  EXPECT_THROW(list->GetItem(0), EArgumentOutOfRangeException);
}

TEST(VertexJoints, VertexIdHash) {
  TVertexID id;
  id.Position = 1;
  id.Normal = 2;
  id.Binormal = -1;
  id.Tangent = -1;
  id.SmoothGroup = 0;
  id.Textures.Count = 2;
  id.Textures.Indices[0] = 5;
  id.Textures.Indices[1] = 6;
  // From the text 1;2;-1;-1;0;5;6;
  EXPECT_EQ(id.GetHash(), 0xC879D4F4FD7DDFF4ull);
  TVertexID other = id;
  other.Textures.Indices[2] = 99;  // beyond the count
  other.Colors.Indices[0] = 7;
  EXPECT_EQ(other.GetHash(), id.GetHash());
  other.Colors.Count = 1;
  EXPECT_NE(other.GetHash(), id.GetHash());
  other = id;
  other.Textures.Count = 100;  // more than the slots: the slots are the bound
  other.Colors.Count = -3;
  EXPECT_NE(other.GetHash(), id.GetHash());
}

}  // namespace
}  // namespace quorvel
