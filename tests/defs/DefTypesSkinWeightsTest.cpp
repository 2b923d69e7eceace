#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "framework/gui/Bitmap.h"
#include "framework/rtl/Log.h"
#include "lib/defs/DefTypes.h"
#include "tests/support/Raised.h"
#include "tests/defs/DefTypesTestUtil.h"

namespace quorvel {
namespace {

// A model with a mesh of AVertices vertices (texture coordinates (i / 4, 0.5)), an armature
// of three joints and a controller whose skin has the root as skeleton.
struct TSkinFixture {
  TOwned<TModelDef> Model{New<TModelDef>(nullptr, nullptr)};
  TMeshDef* Mesh;
  TArmatureDef* Rig;
  std::vector<TJointDef*> Joints;
  TControllerDef* Controller;
  TSkinDef* Skin;

  explicit TSkinFixture(int AVertices = 4, bool ASkeleton = true) {
    Mesh = Named<TMeshDef>("Body", static_cast<TCustomDef*>(Model.get()));
    std::vector<TVertexData> v;
    for (int i = 0; i < AVertices; ++i) {
      TVertexData d;
      d.Position = {float(i), 1, 2};
      d.Normal = {0, 0, 1};
      d.TexCoords.push_back({float(i) / 4, 0.5f});
      v.push_back(d);
    }
    Mesh->AddVertices(v, 0, AVertices);
    Mesh->AddIndices(std::vector<uint32_t>{0, 1, 2}, 0, 3, 0);
    Model->AddChild(Mesh);
    Rig = Named<TArmatureDef>("Rig", static_cast<TCustomDef*>(Model.get()));
    Model->AddArmature(Rig);
    for (int i = 0; i < 3; ++i) {
      // Appended: g++ 12 at -O3 takes "text" + std::string for an overlapping copy (-Wrestrict).
      auto* joint = Named<TJointDef>(std::string("J").append(std::to_string(i)), static_cast<TCustomDef*>(Rig));
      if (i == 0) {
        Rig->SetRoot(joint);
      } else {
        joint->SetParent(Joints[0]);
        Joints[0]->AddJoint(joint);
      }
      Joints.push_back(joint);
    }
    Controller = Named<TControllerDef>("C", static_cast<TTransformDef*>(Mesh));
    Model->AddController(Controller);
    Skin = Named<TSkinDef>("S", Controller);
    Controller->SetSkin(Skin);
    if (ASkeleton) Skin->GetSkeletons()->Add(Skin->LinkJoint(Joints[0]));
  }
  TJointRefDef* Weigh(int AJoint, std::vector<int32_t> AIndices, std::vector<float> AWeights) {
    TJointRefDef* ref = Skin->LinkJoint(Joints[size_t(AJoint)]);
    ref->Indices() = std::move(AIndices);
    ref->Weights() = std::move(AWeights);
    return ref;
  }
};

TEST(DefTypesSkinWeights, GenerateAndApplyVertexJoints) {
  TSkinFixture f;
  EXPECT_EQ(MessageOf([&] {
              TOwned<TSkinDef> loose(Named<TSkinDef>("L", static_cast<TCustomDef*>(nullptr)));
              loose->GenerateVertexJoints(TMatrix3D::Identity(), nullptr);
            }),
            "missing target definition in skin `L`");
  TOwned<TVertexJointsList> list(f.Skin->GenerateVertexJoints(TMatrix3D::CreateScaling({5, 5, 5}), nullptr));
  ASSERT_EQ(list->Count(), 4);
  EXPECT_EQ(list->GetController(), f.Controller);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(list->GetItem(i).Position, TPoint3D(float(i), 1, 2));
    EXPECT_EQ(list->GetItem(i).JointsCount, 0);
  }
  f.Weigh(0, {}, {});  // the skeleton's link weighs nothing
  f.Weigh(1, {0, 3, 3}, {0.5f, 0.25f});  // three indices, two weights: the third is not read
  f.Weigh(2, {3}, {0.75f});
  f.Skin->ApplyVertexJointsRelation(list.get());
  EXPECT_EQ(list->GetItem(0).JointsCount, 1);
  EXPECT_EQ(list->GetItem(0).WeightsArray[0], 0.5f);
  ASSERT_EQ(list->GetItem(3).JointsCount, 2);
  EXPECT_EQ(list->GetItem(3).JointsArray[1], f.Joints[2]);
  EXPECT_EQ(list->GetItem(3).WeightsArray[1], 0.75f);

  for (int32_t bad : {4, -1}) {
    TSkinFixture g;
    TOwned<TVertexJointsList> l(g.Skin->GenerateVertexJoints(TMatrix3D::Identity(), nullptr));
    g.Weigh(1, {1, bad}, {1, 1});
    EXPECT_EQ(MessageOf([&] { g.Skin->ApplyVertexJointsRelation(l.get()); }),
              "TSkinDef.ApplyVertexJointsRelation - invalid index on TVertexJointsList (1 / 4")
        << bad;
    EXPECT_EQ(l->GetItem(1).JointsCount, 1);  // what was added before stays
  }

  // Through the copies of a split mesh: {0: [0, 5]}; vertex 1 has no entry, copy 9 is outside.
  TSkinFixture m(6);
  TOwned<TVertexIndexMap> map(New<TVertexIndexMap>());
  map->Add(0, {0, 5, 9});
  m.Mesh->AddVertexIndexMap(map.get(), 0);
  TOwned<TVertexJointsList> copies(m.Skin->GenerateVertexJoints(TMatrix3D::Identity(), nullptr));
  m.Weigh(1, {0, 1, -3}, {0.5f, 1, 1});
  m.Skin->ApplyVertexJointsRelation(copies.get());
  for (int i = 0; i < 6; ++i) EXPECT_EQ(copies->GetItem(i).JointsCount, i == 0 || i == 5 ? 1 : 0) << i;
  EXPECT_EQ(copies->GetItem(5).WeightsArray[0], 0.5f);

  // A reference whose controller has no target is logged and ends the pass.
  TSkinFixture t;
  TOwned<TVertexJointsList> untouched(t.Skin->GenerateVertexJoints(TMatrix3D::Identity(), nullptr));
  t.Weigh(1, {0}, {1});
  t.Controller->SetTarget(nullptr);
  TLogCapture log;
  t.Skin->ApplyVertexJointsRelation(untouched.get());
  ASSERT_EQ(log.Lines().size(), 1u);
  EXPECT_EQ(log.Lines()[0], "TSkinDef.ApplyVertexJointsRelation - target not set for reference-joint J0");
}

TEST(DefTypesSkinWeights, NormaliseAndCheck) {
  TSkinFixture f;
  TJointRefDef* a = f.Weigh(1, {0, 1, 2, 3}, {0.2f, 1, 0.5f, 2});
  TJointRefDef* b = f.Weigh(2, {0, 2}, {0.6f, 0.5f});
  f.Skin->NormalizeJointVertexWeights(0.001f);
  EXPECT_FLOAT_EQ(a->GetWeights()[0], 0.25f);
  EXPECT_FLOAT_EQ(b->GetWeights()[0], 0.75f);
  EXPECT_EQ(a->GetWeights()[1], 1);
  EXPECT_EQ(a->GetWeights()[3], 1);  // 2 scaled to 1
  {
    TLogCapture log;
    EXPECT_EQ(f.Skin->CheckMeshVerticesToBeAttachedCorrectly(0.001f), 0);
    EXPECT_TRUE(log.Lines().empty());
  }
  // More than 16 entries for one vertex are all summed.
  TSkinFixture many;
  TJointRefDef* r = many.Weigh(1, std::vector<int32_t>(20, 0), std::vector<float>(20, 0.1f));
  many.Weigh(2, {1, 2, 3}, {1, 1, 1});
  many.Skin->NormalizeJointVertexWeights(0.0001f);
  EXPECT_NEAR(r->GetWeights()[19], 0.05f, 1e-6f);

  TSkinFixture hole;
  hole.Weigh(1, {0, 1, 2}, {1, 1, 1});
  EXPECT_EQ(MessageOf([&] { hole.Skin->NormalizeJointVertexWeights(0.001f); }),
            "TSkinDef.NormalizeJointVertexWeights: failed to normalize weights for vertex 3");

  struct TCase {
    const char* Name;
    std::function<void(TSkinFixture&)> Setup;
    int32_t Code;
    std::vector<std::string> Log;
  };
  const TCase cases[] = {
      {"no target", [](TSkinFixture& s) { s.Controller->SetTarget(nullptr); }, 0, {}},
      {"not a mesh",
       [](TSkinFixture& s) { s.Controller->SetTarget(s.Rig); }, 4, {}},
      {"no skeleton", [](TSkinFixture& s) { s.Skin->GetSkeletons()->Clear(); }, 5, {}},
      {"bad sum last",
       [](TSkinFixture& s) { s.Weigh(1, {0, 1, 2, 3}, {1, 1, 1, 0.5f}); },
       2,
       {"vertex #3 - invalid weight = 0.50 (error = 2)"}},
      {"bad sum first",
       [](TSkinFixture& s) { s.Weigh(1, {0, 1, 2, 3}, {0.5f, 1, 1, 1}); },
       0,
       {"vertex #0 - invalid weight = 0.50 (error = 2)"}},
      {"copies not listed",
       [](TSkinFixture& s) {
         TOwned<TVertexIndexMap> map(New<TVertexIndexMap>());
         map->Add(0, {0, 2, 70});
         s.Mesh->AddVertexIndexMap(map.get(), 0);
         s.Weigh(1, {0}, {1});
       },
       0,
       {"vertex #1 - not attached to any joint (error = 1)", "vertex #3 - not attached to any joint (error = 1)"}},
  };
  for (const TCase& c : cases) {
    TSkinFixture s;
    c.Setup(s);
    TLogCapture log;
    EXPECT_EQ(s.Skin->CheckMeshVerticesToBeAttachedCorrectly(0.001f), c.Code) << c.Name;
    EXPECT_EQ(log.Lines(), c.Log) << c.Name;
  }
  TSkinFixture bare(4, false);
  bare.Skin->GetLinkedJoints()->Clear();
  bare.Skin->GetSkeletons()->Add(New<TJointRefDef>(bare.Joints[0], bare.Controller, true));
  EXPECT_EQ(bare.Skin->CheckMeshVerticesToBeAttachedCorrectly(0.001f), 6);
  // A skin whose owner is not a controller: the check catches the cast error.
  TOwned<TTransformDef> node(New<TTransformDef>(nullptr));
  TOwned<TSkinDef> misplaced(New<TSkinDef>(node.get()));
  TLogCapture log;
  EXPECT_EQ(misplaced->CheckMeshVerticesToBeAttachedCorrectly(0), -1);
  EXPECT_EQ(log.Lines(), std::vector<std::string>{"TSkinDef.CheckMeshVerticesToBeAttachedCorrectly(): unexpected "
                                                  "exception for vertex - Invalid class typecast"});
}

// Normalising vertex by vertex as written down: each vertex in slot order (0..n-1, or the keys
// of the vertex index map in its order) sums its (reference, position) pairs in list order, one
// step at a time in double rounded to single, divides them by |sum| in double when the sum
// misses one, and stops at the first vertex whose sum still misses it.
std::string NormaliseOneByOne(TSkinDef* ASkin, TMeshDef* AMesh, float ATolerance) {
  std::vector<int64_t> slots;
  const TVertexIndexMap* map = AMesh->GetVertexIndexMap();
  if (map && map->Count() > 0)
    for (const auto& pair : *map) slots.push_back(pair.Key);
  else
    for (int32_t v = 0; v < AMesh->GetVertexSource()->Length(); ++v) slots.push_back(v);
  auto one = [&](float ASum) {
    const double a = std::fabs(double(ASum));
    const double tolerance = ATolerance == 0 ? std::max(std::min(a, 1.0) * 1e-12, 1e-12) : double(ATolerance);
    return std::fabs(a - 1.0) <= tolerance;
  };
  for (int64_t vertex : slots) {
    std::vector<float*> entries;
    for (TJointRefDef* ref : *ASkin->GetLinkedJoints())
      for (size_t pos = 0; pos < std::min(ref->GetIndices().size(), ref->GetWeights().size()); ++pos)
        if (ref->GetIndices()[pos] == vertex) entries.push_back(&ref->Weights()[pos]);
    auto sum = [&] {
      float s = 0;
      for (float* e : entries) s = float(double(s) + double(*e));
      return s;
    };
    const float first = sum();
    if (one(first)) continue;
    for (float* e : entries) *e = float(double(*e) / std::fabs(double(first)));
    if (!one(sum()))
      return "TSkinDef.NormalizeJointVertexWeights: failed to normalize weights for vertex " + std::to_string(vertex);
  }
  return "(nothing raised)";
}

// The skin's normalisation against the one above on random skins: the same weights to the bit
// and the same failure, with and without a vertex index map, weights of either sign, sums of
// zero and a tolerance of zero.
TEST(DefTypesSkinWeights, NormalisingMatchesVertexByVertexToTheBit) {
  const float pool[] = {0, 0.1f, 0.2f, 0.25f, 0.3f, 0.5f, 1, 1.5f, -0.5f, 1e-8f, 3.0e7f, 0.7f};
  for (uint32_t seed = 1; seed <= 60; ++seed) {
    uint32_t state = seed * 2654435761u;
    auto next = [&](uint32_t AMod) {
      state = state * 1664525u + 1013904223u;
      return (state >> 8) % AMod;
    };
    const bool mapped = seed % 3 == 0, zeroTolerance = seed % 5 == 0;
    const int vertices = 12;
    // Two equal skins: one normalised by the skin, one vertex by vertex.
    TSkinFixture skins[2] = {TSkinFixture(vertices), TSkinFixture(vertices)};
    std::vector<std::pair<std::vector<int32_t>, std::vector<float>>> refs(3);
    for (auto& [indices, weights] : refs) {
      const uint32_t n = next(20);
      for (uint32_t i = 0; i < n; ++i) {
        indices.push_back(int32_t(next(vertices + 2)) - 1);  // -1 and 12 name no vertex
        weights.push_back(pool[next(sizeof(pool) / sizeof(pool[0]))]);
      }
      weights.resize(indices.size() + next(2), 0.5f);  // a weight without index is left alone
    }
    // Every vertex weighted: the run goes past the first vertices.
    if (seed % 2)
      for (int32_t v = 0; v < vertices; ++v) {
        refs[0].first.push_back(v);
        refs[0].second.push_back(pool[next(8)]);
      }
    for (TSkinFixture& f : skins) {
      for (size_t j = 0; j < refs.size(); ++j) f.Weigh(int(j), refs[j].first, refs[j].second);
      if (mapped) {
        TOwned<TVertexIndexMap> map(New<TVertexIndexMap>());
        for (uint32_t key : {5u, 0u, 9u, 3u, 11u}) map->Add(key, {key});
        f.Mesh->AddVertexIndexMap(map.get(), 0);
      }
    }
    const float tolerance = zeroTolerance ? 0.0f : 0.001f;
    const std::string engine = MessageOf([&] { skins[0].Skin->NormalizeJointVertexWeights(tolerance); });
    const std::string expected = NormaliseOneByOne(skins[1].Skin, skins[1].Mesh, tolerance);
    EXPECT_EQ(engine, expected) << "seed " << seed;
    for (int32_t j = 0; j < skins[0].Skin->GetLinkedJoints()->Count(); ++j) {
      const std::vector<float>& got = skins[0].Skin->GetLinkedJoints()->Items(j)->GetWeights();
      const std::vector<float>& want = skins[1].Skin->GetLinkedJoints()->Items(j)->GetWeights();
      ASSERT_EQ(got.size(), want.size());
      if (!got.empty()) {
        EXPECT_EQ(std::memcmp(got.data(), want.data(), got.size() * sizeof(float)), 0) << "seed " << seed << " ref " << j;
      }
    }
  }
}

TEST(DefTypesSkinWeights, WeightMapsDrawTheRedChannel) {
  TSkinFixture f;
  // Vertex i sits at u = i / 4, v = 0.5: pixel (2i, 4) of an 8 x 8 map; weights add up, wrapping.
  TJointRefDef* ref = f.Weigh(1, {0, 1, 1, 3, 3}, {0.5f, 0.2f, 0.3f, 1, 0.01f});
  TOwned<TBitmap> bitmap(New<TBitmap>(8, 8));
  bitmap->Clear(MakeAlphaColor(0xFF123456));
  f.Skin->DrawJointWeights(ref, bitmap.get());
  TBitmapData data;
  ASSERT_TRUE(bitmap->Map(TMapAccess::Read, data));
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      uint32_t red = 0;
      if (y == 4 && x == 0) red = 127;
      if (y == 4 && x == 2) red = 51 + 76;
      if (y == 4 && x == 6) red = 255 + 2;  // wraps to 1
      EXPECT_EQ(uint32_t(data.GetPixel(x, y)), 0xFF000000u | ((red & 0xFF) << 16)) << x << "," << y;
    }
  bitmap->Unmap(data);
  f.Skin->DrawJointWeights(nullptr, bitmap.get());  // nothing, no error

  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "quorvel_weight_maps";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  f.Skin->SaveJointWeightMaps(dir.string(), 64);
  for (const char* id : {"J0", "J1"}) {
    TOwned<TBitmap> saved(New<TBitmap>());
    saved->LoadFromFile((dir / (std::string(id) + ".jpg")).string());
    EXPECT_EQ(saved->GetWidth(), 256);
    EXPECT_EQ(saved->GetHeight(), 256);
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace quorvel
