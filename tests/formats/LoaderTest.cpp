#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "framework/rtl/Finally.h"
#include "lib/defs/DefTypes.h"
#include "lib/formats/Loader.h"

namespace quorvel {
namespace {

TVertexID Corner(int32_t APosition, int32_t ATexture = -1, int32_t ANormal = -1) {
  TVertexID v;
  v.Position = APosition;
  v.Normal = ANormal;
  if (ATexture >= 0) {
    v.Textures.Count = 1;
    v.Textures.Indices[0] = ATexture;
  }
  return v;
}

const float H = std::sqrt(0.5f);

void ExpectPoint(const TPoint3D& AActual, const TPoint3D& AExpected, const std::string& AWhat) {
  EXPECT_NEAR(AActual.X, AExpected.X, 1e-5f) << AWhat;
  EXPECT_NEAR(AActual.Y, AExpected.Y, 1e-5f) << AWhat;
  EXPECT_NEAR(AActual.Z, AExpected.Z, 1e-5f) << AWhat;
}

// Two triangles at a right angle sharing the edge of positions 0 and 1; each corner names its
// position, texture coordinate and normal separately.
std::unique_ptr<TVertexCache> SharedEdgeCache(bool AWithTexture, bool AWithNormals) {
  auto cache = std::make_unique<TVertexCache>(8);
  for (const TPoint3D& p : {TPoint3D(0, 0, 0), TPoint3D(1, 0, 0), TPoint3D(0, 1, 0), TPoint3D(0, 0, 1)})
    cache->AddPositionSource(p);
  cache->AddNormalSource(TPoint3D(0, 0, 1));
  for (const TPointF& t : {TPointF(0, 0), TPointF(1, 0), TPointF(0, 1), TPointF(0, 1)})
    cache->AddTextureSource(0, t, false);
  const int32_t n = AWithNormals ? 0 : -1;
  auto corner = [&](int32_t p) { return Corner(p, AWithTexture ? p : -1, n); };
  cache->AddTriangle(0, {corner(0), corner(1), corner(2)}, cache->GetVertices(), cache->GetIndices(),
                     TVertexOrder::CW);
  cache->AddTriangle(0, {corner(0), corner(1), corner(3)}, cache->GetVertices(), cache->GetIndices(),
                     TVertexOrder::CW);
  return cache;
}

TEST(Loader, SharedEdgeGivesFourVerticesAndAveragedNormals) {
  auto cache = SharedEdgeCache(true, false);
  TOwned<TMeshDef> def(New<TMeshDef>(nullptr));
  TQuorvelLoader::LoadDefFromData(def.get(), cache.get());
  const TVertexBuffer* vb = def->GetVertexSource();
  const TIndexBuffer* ib = def->GetIndexSource();
  ASSERT_NE(vb, nullptr);
  ASSERT_EQ(vb->Length(), 4);
  ASSERT_EQ(ib->Length(), 6);
  for (int i = 0; i < 4; ++i) {
    const TPoint3D p = vb->GetVertices(i);
    const TPoint3D n = vb->GetNormals(i);
    if (p == TPoint3D(0, 0, 0) || p == TPoint3D(1, 0, 0))
      ExpectPoint(n, {0, H, -H}, "shared");  // both unit face normals, equal weight
    else if (p == TPoint3D(0, 1, 0))
      ExpectPoint(n, {0, 0, -1}, "first only");
    else
      ExpectPoint(n, {0, 1, 0}, "second only");
  }
}

TEST(Loader, TheCachesFlagsChooseWhatIsComputed) {
  struct TCase {
    bool Normals, Tangents, TexCoords;
  };
  const TCase cases[] = {{false, false, false}, {true, false, true}, {false, true, false}, {true, true, true}};
  for (const TCase& c : cases) {
    auto cache = SharedEdgeCache(true, true);
    cache->SetNormalsAvailable(c.Normals);
    cache->SetTangentsAvailable(c.Tangents);
    cache->SetTexCoordsAvailable(c.TexCoords);
    TOwned<TMeshDef> def(New<TMeshDef>(nullptr));
    TQuorvelLoader::LoadDefFromData(def.get(), cache.get());
    const TVertexBuffer* vb = def->GetVertexSource();
    const std::string what = std::to_string(c.Normals) + std::to_string(c.Tangents) + std::to_string(c.TexCoords);
    // Vertex 0 is position (1, 0, 0) with texture coordinate (1, 0) and file normal (0, 0, 1).
    ASSERT_EQ(vb->GetVertices(0), TPoint3D(1, 0, 0)) << what;
    EXPECT_EQ(vb->GetNormals(0) == TPoint3D(0, 0, 1), c.Normals) << what;
    EXPECT_EQ(vb->GetTangents(0) == TPoint3D(0, 0, 0), c.Tangents) << what;
    EXPECT_EQ(vb->GetTexCoord0(0).X == 1.0f && vb->GetTexCoord0(0).Y == 0.0f, c.TexCoords) << what;
  }
}

TEST(Loader, PointsAndNothingToDo) {
  auto cache = std::make_unique<TVertexCache>(4);
  TOwned<TMeshDef> def(New<TMeshDef>(nullptr));
  TQuorvelLoader::LoadDefFromData(def.get(), cache.get());  // no vertices: nothing
  EXPECT_EQ(def->GetVertexSource(), nullptr);
  TQuorvelLoader::LoadDefFromData(nullptr, cache.get());
  TQuorvelLoader::LoadDefFromData(def.get(), nullptr);
  TQuorvelLoader::AutoCalculateVertexData(def.get(), cache.get());

  for (const TPoint3D& p : {TPoint3D(0, 0, 0), TPoint3D(1, 0, 0), TPoint3D(2, 0, 0)}) {
    TVertexData v;
    v.Position = p;
    cache->GetPointIndices().push_back(uint32_t(cache->GetVertices().size()));
    cache->GetVertices().push_back(v);
  }
  cache->GetIndices().push_back({0, 0, 0});  // not read for points
  cache->SetIndexKind(TCacheIndexKind::ikPointIndex);
  TQuorvelLoader::LoadDefFromData(def.get(), cache.get());
  ASSERT_EQ(def->GetVertexSource()->Length(), 3);
  ASSERT_EQ(def->GetIndexSource()->Length(), 3);
  EXPECT_EQ(def->GetIndexSource()->GetIndices(2), 2u);
}

// A grid of merged vertices: every inner vertex is shared by six triangles, so the index
// order does not follow the vertex order.
std::unique_ptr<TVertexCache> GridCache(int ACells) {
  auto cache = std::make_unique<TVertexCache>(0);
  const int side = ACells + 1;
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) {
      TVertexData v;
      v.Position = TPoint3D(float(x), float(y), float((x * 7 + y * 3) % 5));
      cache->GetVertices().push_back(v);
    }
  for (int y = 0; y < ACells; ++y)
    for (int x = 0; x < ACells; ++x) {
      const uint32_t a = uint32_t(y * side + x), b = a + 1, c = a + uint32_t(side), d = c + 1;
      cache->GetIndices().push_back({a, b, d});
      cache->GetIndices().push_back({a, d, c});
    }
  return cache;
}

using TTrianglePositions = std::array<std::array<float, 3>, 3>;

std::vector<TTrianglePositions> TrianglesOf(const TVertexBuffer* AVertices, const TIndexBuffer* AIndices) {
  std::vector<TTrianglePositions> result;
  for (int32_t t = 0; t < AIndices->Length() / 3; ++t) {
    TTrianglePositions tri;
    for (int c = 0; c < 3; ++c) {
      const TPoint3D p = AVertices->GetVertices(int32_t(AIndices->GetIndices(3 * t + c)));
      tri[size_t(c)] = {p.X, p.Y, p.Z};
    }
    result.push_back(tri);
  }
  return result;
}

TEST(Loader, SplitKeepsEveryTriangleOnceWithItsOwnVertices) {
  auto restore = Finally([] {
    MeshSplitEnabled = false;
    MeshSplitLimit = 0;
  });
  for (int32_t limit : {3, 10, 12}) {
    auto cache = GridCache(4);  // 32 triangles, 25 vertices
    TOwned<TMeshDef> whole(New<TMeshDef>(nullptr));
    TQuorvelLoader::LoadDefFromData(whole.get(), cache.get());
    std::vector<TTrianglePositions> expected = TrianglesOf(whole->GetVertexSource(), whole->GetIndexSource());

    MeshSplitEnabled = true;
    MeshSplitLimit = limit;
    TOwned<TMeshDef> def(New<TMeshDef>(nullptr));
    def->SetId("Body");
    TQuorvelLoader::LoadDefFromData(def.get(), cache.get());
    MeshSplitEnabled = false;

    const int perMesh = std::max(1, limit / 3);
    const int meshes = (32 + perMesh - 1) / perMesh;
    ASSERT_EQ(def->ChildCount(), meshes) << limit;
    EXPECT_EQ(def->GetVertexSource(), nullptr);
    std::vector<TTrianglePositions> got;
    for (int i = 0; i < meshes; ++i) {
      auto* sub = dynamic_cast<TMeshDef*>(def->GetChildren()->Items(i));
      ASSERT_NE(sub, nullptr);
      EXPECT_EQ(sub->GetId(), "Body_" + std::to_string(i));
      const TVertexBuffer* vb = sub->GetVertexSource();
      const TIndexBuffer* ib = sub->GetIndexSource();
      EXPECT_LE(ib->Length(), 3 * perMesh);
      // Every vertex of the sub-mesh is used; every index is inside it.
      std::vector<bool> used(size_t(vb->Length()), false);
      for (int32_t k = 0; k < ib->Length(); ++k) {
        ASSERT_LT(ib->GetIndices(k), uint32_t(vb->Length())) << limit;
        used[ib->GetIndices(k)] = true;
      }
      EXPECT_TRUE(std::all_of(used.begin(), used.end(), [](bool b) { return b; })) << limit;
      // Computed on the sub-meshes, which hold the vertices.
      EXPECT_NEAR(vb->GetNormals(0).Length(), 1.0f, 1e-5f) << limit;
      for (const TTrianglePositions& t : TrianglesOf(vb, ib)) got.push_back(t);
    }
    EXPECT_EQ(got, expected) << limit;  // every triangle once, in order, with its positions
  }
}

TEST(Loader, InOrderCachesSplitIntoConsecutiveRuns) {
  auto restore = Finally([] {
    MeshSplitEnabled = false;
    MeshSplitLimit = 0;
  });
  auto cache = std::make_unique<TVertexCache>(0);
  for (uint32_t t = 0; t < 9; ++t) {
    for (int c = 0; c < 3; ++c) {
      TVertexData v;
      v.Position = TPoint3D(float(t), float(c), float(c == 2));
      cache->GetVertices().push_back(v);
    }
    cache->GetIndices().push_back({3 * t, 3 * t + 1, 3 * t + 2});
  }
  MeshSplitEnabled = true;
  MeshSplitLimit = 6;
  TOwned<TMeshDef> def(New<TMeshDef>(nullptr));
  def->SetId("M");
  TQuorvelLoader::LoadDefFromData(def.get(), cache.get());
  ASSERT_EQ(def->ChildCount(), 5);  // runs of two triangles
  for (int i = 0; i < 5; ++i) {
    auto* sub = def->GetChildren()->Items(i)->As<TMeshDef>();
    const int32_t count = i < 4 ? 6 : 3;
    ASSERT_EQ(sub->GetVertexSource()->Length(), count);
    ASSERT_EQ(sub->GetIndexSource()->Length(), count);
    for (int32_t k = 0; k < count; ++k) {
      EXPECT_EQ(sub->GetIndexSource()->GetIndices(k), uint32_t(k));
      EXPECT_EQ(sub->GetVertexSource()->GetVertices(k), cache->GetVertices()[size_t(6 * i + k)].Position);
    }
  }
  // Triangles at or below the limit: nothing is split.
  TOwned<TMeshDef> small(New<TMeshDef>(nullptr));
  MeshSplitLimit = 9;
  TQuorvelLoader::LoadDefFromData(small.get(), cache.get());
  EXPECT_EQ(small->ChildCount(), 0);
  EXPECT_EQ(small->GetIndexSource()->Length(), 27);
}

class TFailingCache : public TVertexCache {
public:
  void DoOnCreateSubMesh(TMeshDef*, TMeshDef*) override { throw Exception("sub-mesh refused"); }
};

TEST(Loader, AFailingSplitRaisesTheWrappedMessage) {
  auto restore = Finally([] {
    MeshSplitEnabled = false;
    MeshSplitLimit = 0;
  });
  MeshSplitEnabled = true;
  MeshSplitLimit = 3;
  auto grid = GridCache(2);
  TFailingCache cache;
  cache.GetVertices() = grid->GetVertices();
  cache.GetIndices() = grid->GetIndices();
  TOwned<TMeshDef> def(New<TMeshDef>(nullptr));
  try {
    TQuorvelLoader::LoadDefFromData(def.get(), &cache);
    ADD_FAILURE() << "no exception";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "failed to split up mesh into multiple meshes - sub-mesh refused");
  }
  // A stray index fails the same way instead of reading outside the vertices.
  auto stray = GridCache(2);
  stray->GetIndices()[1][2] = 99;
  try {
    TQuorvelLoader::LoadDefFromData(def.get(), stray.get());
    ADD_FAILURE() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(std::string(e.what()).rfind("failed to split up mesh into multiple meshes - ", 0), 0u) << e.what();
  }
}

}  // namespace
}  // namespace quorvel
