#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "framework/io/ZLib.h"
#include "lib/defs/DefTypes.h"

namespace quorvel {
namespace {

TVertexID Corner(int32_t APosition, int32_t ANormal = -1, int32_t ATexture = -1) {
  TVertexID v;
  v.Position = APosition;
  v.Normal = ANormal;
  if (ATexture >= 0) {
    v.Textures.Count = 1;
    v.Textures.Indices[0] = ATexture;
  }
  return v;
}

// A unit square: positions 0..3, one normal, texture coordinates 0..3.
class VertexCacheTest : public ::testing::Test {
protected:
  void SetUp() override {
    cache = std::make_unique<TVertexCache>(16);
    cache->AddPositionSource(TPoint3D{0, 0, 0});
    cache->AddPositionSource(TPoint3D{1, 0, 0});
    cache->AddPositionSource(TPoint3D{1, 1, 0});
    cache->AddPositionSource(TPoint3D{0, 1, 0});
    cache->AddNormalSource(TPoint3D{0, 0, 1});
    for (float t : {0.0f, 0.25f, 0.5f, 0.75f}) cache->AddTextureSource(0, TPointF(t, t), false);
  }
  std::unique_ptr<TVertexCache> cache;
  std::vector<TVertexData> vertices;
  std::vector<TTriangleIndex> triangles;
};

TEST_F(VertexCacheTest, SharedEdgeMergesIntoFourVertices) {
  const TTriangleID a = {Corner(0, 0, 0), Corner(1, 0, 1), Corner(2, 0, 2)};
  const TTriangleID b = {Corner(0, 0, 0), Corner(2, 0, 2), Corner(3, 0, 3)};
  EXPECT_EQ(cache->AddTriangle(0, a, vertices, triangles, TVertexOrder::CCW), 3);
  EXPECT_EQ(cache->AddTriangle(3, b, vertices, triangles, TVertexOrder::CCW), 6);
  ASSERT_EQ(vertices.size(), 4u);
  ASSERT_EQ(triangles.size(), 2u);
  // CCW appends (corner 0, corner 2, corner 1).
  EXPECT_EQ(triangles[0], (TTriangleIndex{0, 1, 2}));
  EXPECT_EQ(triangles[1], (TTriangleIndex{0, 3, 1}));
  const TVertexIndexMap* map = cache->GetIndexMap();
  EXPECT_EQ(map->Count(), 4);
  EXPECT_EQ(map->Items(0), std::vector<uint32_t>{0});
  EXPECT_EQ(map->Items(2), std::vector<uint32_t>{1});
  EXPECT_EQ(vertices[1].Position, (TPoint3D{1, 1, 0}));
  EXPECT_TRUE(vertices[1].Flags.Contains(TVertexDataFlag::CalcTangents));
  EXPECT_FALSE(vertices[1].Flags.Contains(TVertexDataFlag::CalcNormals));
}

TEST_F(VertexCacheTest, OnePositionWithTwoTextureCoordinatesMakesTwoVertices) {
  const TTriangleID a = {Corner(0, 0, 0), Corner(1, 0, 1), Corner(2, 0, 2)};
  const TTriangleID b = {Corner(0, 0, 3), Corner(2, 0, 2), Corner(3, 0, 3)};
  cache->AddTriangle(0, a, vertices, triangles, TVertexOrder::CW);
  cache->AddTriangle(0, b, vertices, triangles, TVertexOrder::CW);
  EXPECT_EQ(vertices.size(), 5u);
  EXPECT_EQ(cache->GetIndexMap()->Items(0).size(), 2u);
  // CW appends (corner 1, corner 2, corner 0).
  EXPECT_EQ(vertices[triangles[0][0]].Position, (TPoint3D{1, 0, 0}));
  EXPECT_EQ(vertices[triangles[0][2]].Position, (TPoint3D{0, 0, 0}));
}

TEST_F(VertexCacheTest, PolygonsFanAroundTheirFirstCorner) {
  cache->AddPositionSource(TPoint3D{-1, 0.5f, 0});
  const TPolygonID pentagon = {Corner(0), Corner(1), Corner(2), Corner(3), Corner(4)};
  EXPECT_EQ(cache->AddPolygon(6, pentagon, vertices, triangles, TVertexOrder::CCW), 15);
  ASSERT_EQ(triangles.size(), 3u);
  for (const TTriangleIndex& t : triangles) EXPECT_EQ(vertices[t[0]].Position, (TPoint3D{0, 0, 0}));
  EXPECT_EQ(vertices[triangles[2][1]].Position, (TPoint3D{-1, 0.5f, 0}));
  EXPECT_EQ(cache->AddPolygon(6, {Corner(0), Corner(1)}, vertices, triangles, TVertexOrder::CCW), 6);
  EXPECT_EQ(cache->AddTriangle(1, {Corner(0), Corner(1), Corner(2)}, vertices, triangles, TVertexOrder(7)), 1);
  EXPECT_EQ(triangles.size(), 3u);
}

TEST_F(VertexCacheTest, GetVertexFlagsWhatIsMissing) {
  TVertexID id = Corner(1);
  TVertexData v = cache->GetVertex(id);
  EXPECT_TRUE(v.TexCoords.empty());
  EXPECT_TRUE(v.Flags.Contains(TVertexDataFlag::CalcTexCoords));
  EXPECT_TRUE(v.Flags.Contains(TVertexDataFlag::CalcNormals));
  EXPECT_TRUE(v.Flags.Contains(TVertexDataFlag::CalcTangents));
  EXPECT_EQ(v.Normal, TPoint3D());

  cache->AddColorSource(0, TAlphaColorF(1, 0, 0, 0.5f));
  id.Colors.Count = 2;
  id.Colors.Indices = {5, 0, 0, 0};
  id.Textures.Count = 2;
  id.Textures.Indices[0] = 2;
  id.Textures.Indices[1] = 9;
  v = cache->GetVertex(id);
  ASSERT_EQ(v.Colors.size(), 2u);
  EXPECT_EQ(v.Colors[0], TAlphaColorF(0, 0, 0, 1));  // beyond the set
  EXPECT_EQ(v.Colors[1], TAlphaColorF(0, 0, 0, 1));  // empty set
  ASSERT_EQ(v.TexCoords.size(), 2u);
  EXPECT_EQ(v.TexCoords[0], TPointF(0.5f, 0.5f));
  EXPECT_EQ(v.TexCoords[1], TPointF(0, 0));

  cache->AddTangentSource(TPoint3D{1, 0, 0});
  id.Tangent = 3;
  EXPECT_THROW(cache->GetVertex(id), EArgumentOutOfRangeException);
  id.Position = 4;
  try {
    cache->GetVertex(id);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "invalid index for vertex position coordinate: 4 < 4");
  }
}

TEST_F(VertexCacheTest, PointsAreAppendedWithoutMerging) {
  for (int i = 0; i < 3; ++i) cache->AddNormalSource(TPoint3D{0, 0, 1});
  for (int i = 0; i < 4; ++i) cache->AddColorSource(0, TAlphaColorF(1, 1, 1, 1));
  std::vector<uint32_t> points;
  EXPECT_EQ(cache->AddPoints(1, vertices, points), 2);
  EXPECT_EQ(points, (std::vector<uint32_t>{0, 1, 2}));
  EXPECT_EQ(vertices[0].Position, (TPoint3D{1, 0, 0}));
  ASSERT_EQ(vertices[2].TexCoords.size(), 1u);
  EXPECT_EQ(vertices[2].TexCoords[0], TPointF(0.75f, 0.75f));
  // A colour set shorter than the positions is the list's range error, not a stray read.
  cache->GetColorSourceArray(0)->pop_back();
  EXPECT_THROW(cache->AddPoints(0, vertices, points), EArgumentOutOfRangeException);
}

TEST_F(VertexCacheTest, StaleHashesAfterTheListWasEmptiedAreNeverFollowed) {
  const TTriangleID a = {Corner(0, 0, 0), Corner(1, 0, 1), Corner(2, 0, 2)};
  cache->AddTriangle(0, a, vertices, triangles, TVertexOrder::CCW);
  vertices.clear();
  triangles.clear();
  cache->AddTriangle(0, a, vertices, triangles, TVertexOrder::CCW);
  EXPECT_EQ(vertices.size(), 3u);
  cache->ClearVirtualData();
  EXPECT_EQ(cache->GetIndexMap()->Count(), 0);
  EXPECT_EQ(cache->GetPositionSource().size(), 4u);
  cache->ClearBuffers();
  EXPECT_TRUE(cache->GetPositionSource().empty());
  EXPECT_TRUE(cache->GetTextureSourceArray(0)->empty());
}

TEST(VertexCacheSourcesTest, SettersReadGroupsAndRejectBadSets) {
  TVertexCache cache(0);
  cache.SetPositionSource({1, 2, 3, 4, 5, 6, 7});
  EXPECT_EQ(cache.GetPositionSource().size(), 2u);
  cache.SetTextureSource(1, {0.1f, 0.2f, 9, 9, 0.3f, 0.4f}, true, 4);
  ASSERT_EQ(cache.GetTextureSourceArray(1)->size(), 2u);
  EXPECT_EQ((*cache.GetTextureSourceArray(1))[1], TPointF(0.3f, 0.6f));
  cache.SetColorSource(3, {1, 0, 0, 1, 0, 1});
  EXPECT_EQ(cache.GetColorSourceArray(3)->size(), 1u);
  cache.SetNormalSource({0, 2, 0}, TMatrix3D::CreateTranslation({0, 0, 2}));
  EXPECT_EQ(cache.GetNormalSource()[0], TPoint3D(0, 1, 0));  // a direction: the move does not tilt it
  EXPECT_EQ(cache.AddTangentSource(std::vector<TVector3D>{}), -1);
  EXPECT_EQ(cache.AddTangentSource(std::vector<TVector3D>{{1, 0, 0, 0}, {0, 1, 0, 0}}), 1);
  EXPECT_EQ(cache.AddTextureSource(31, TPointF(0, 0.25f), true), 0);
  EXPECT_EQ((*cache.GetTextureSourceArray(31))[0], TPointF(0, 0.75f));
  EXPECT_EQ(cache.GetTextureSourceArray(32), nullptr);
  EXPECT_EQ(cache.GetColorSourceArray(-1), nullptr);
  EXPECT_THROW(cache.AddTextureSource(32, TPointF(), false), EArgumentOutOfRangeException);
  EXPECT_THROW(cache.AddColorSource(4, TAlphaColorF()), EArgumentOutOfRangeException);
  EXPECT_THROW(cache.AddPositionSource(std::vector<float>{1, 2}), EArgumentException);
  EXPECT_THROW(cache.AddColorSource(0, std::vector<float>{1, 2, 3}), EArgumentException);
}

TEST(VertexDataTest, HashCoversTheFirstTwoTextureCoordinatesAndColours) {
  const std::vector<uint8_t> zeros(104);
  EXPECT_EQ(TVertexData::Create().GetHash(), uint64_t(Crc32(0, zeros.data(), zeros.size())));
  TVertexData a;
  a.Position = {1, 2, 3};
  a.TexCoords = {{0.1f, 0.2f}, {0.3f, 0.4f}};
  TVertexData b = a;
  b.TexCoords.push_back({0.5f, 0.6f});
  EXPECT_EQ(a.GetHash(), b.GetHash());
  EXPECT_FALSE(a.Equals(b));
  b = a;
  EXPECT_TRUE(a.Equals(b));
  b.Position.X += 5e-5f;  // within the point tolerance
  EXPECT_TRUE(a.Equals(b));
  b.Flags.Include(TVertexDataFlag::CalcNormals);
  EXPECT_NE(a.GetHash(), b.GetHash());
  EXPECT_FALSE(a.Equals(b));
}

TEST(VertexDataTest, JsonRoundTripAndItsErrors) {
  TVertexData v;
  v.Position = {1, -0.5f, 2.25f};
  v.Normal = {0, 1, 0};
  v.TexCoords = {{0.25f, 0.75f}};
  v.Colors = {{1, 0.5f, 0, 1}};
  v.SmoothGroup = 3;
  std::unique_ptr<TJSONObject> json(v.ToJSON());
  EXPECT_EQ(json->GetValue("Position")->Value(), "1.0000000 -0.5000000 2.2500000");
  TVertexData w;
  w.FromJSON(json.get());
  EXPECT_TRUE(v.Equals(w));
  TVertexData bare;
  std::unique_ptr<TJSONObject> bareJson(bare.ToJSON());
  EXPECT_EQ(bareJson->GetValue("TexCoords"), nullptr);
  w.FromJSON(bareJson.get());
  EXPECT_TRUE(w.TexCoords.empty());

  struct Case {
    const char* Json;
    const char* Message;
  };
  const Case cases[] = {
      {R"({"Normal":"0 0 0","Binormal":"0 0 0","Tangent":"0 0 0","SmoothGroup":0})",
       "failed to load vertexdata from json - position not found"},
      {R"({"Position":"0 0 0","Binormal":"0 0 0","Tangent":"0 0 0","SmoothGroup":0})",
       "failed to load vertexdata from json - normal not found"},
      {R"({"Position":"0 0 0","Normal":"0 0 0","Tangent":"0 0 0","SmoothGroup":0})",
       "failed to load vertexdata from json - binormal not found"},
      {R"({"Position":"0 0 0","Normal":"0 0 0","Binormal":"0 0 0","SmoothGroup":0})",
       "failed to load vertexdata from json - tangent not found"},
      {R"({"Position":"0 0 0","Normal":"0 0 0","Binormal":"0 0 0","Tangent":"0 0 0"})",
       "failed to load vertexdata from json - smoothgroup not found"},
      {R"({"Position":"0 0 0","Normal":"0 0 0","Binormal":"0 0 0","Tangent":"0 0 0","SmoothGroup":"1"})",
       "failed to load vertexdata from json - smoothgroup contains invalid value"},
  };
  for (const Case& c : cases) {
    std::unique_ptr<TJSONValue> doc(ParseJSONValue(c.Json, true));
    try {
      w.FromJSON(doc.get());
      ADD_FAILURE() << c.Message;
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), c.Message);
    }
  }
  std::unique_ptr<TJSONValue> badKind(ParseJSONValue(
      R"({"Position":"0 0 0","Normal":"0 0 0","Binormal":"0 0 0","Tangent":"0 0 0","TexCoords":"1 2","SmoothGroup":0})",
      true));
  EXPECT_THROW(w.FromJSON(badKind.get()), EInvalidCast);
  std::unique_ptr<TJSONValue> notObject(ParseJSONValue("[1]", true));
  EXPECT_THROW(w.FromJSON(notObject.get()), EInvalidCast);
}

TEST(VertexIndexMapTest, AddIndexKeepsEachVertexOnceAndAssignCopies) {
  TVertexIndexMap map;
  map.AddIndex(7, 3);
  map.AddIndex(7, 3);
  map.AddIndex(7, 4);
  map.AddIndex(2, 1);
  EXPECT_EQ(map.Items(7), (std::vector<uint32_t>{3, 4}));
  TVertexIndexMap copy;
  copy.Add(99, {1});
  copy.Assign(&map);
  EXPECT_FALSE(copy.ContainsKey(99));
  std::vector<uint32_t> order;
  for (const auto& pair : copy) order.push_back(pair.Key);
  EXPECT_EQ(order, (std::vector<uint32_t>{7, 2}));
  EXPECT_THROW(copy.Add(7, {}), EListError);
  EXPECT_THROW(copy.Items(5), EListError);
  copy.Assign(nullptr);
  EXPECT_EQ(copy.Count(), 0);
}

TEST(TokenizerTest, SinglesFollowTheLastDecimalSeparator) {
  struct Case {
    const char* Text;
    std::vector<float> Expected;
  };
  const Case cases[] = {
      {"1 2 3", {1, 2, 3}},
      {"  1\t\t2  ", {1, 2}},
      {"1,5 2", {1.5f, 2}},
      {"1.5 2,5", {1.5f, 2.5f}},
      {"1,5 2.5 3,5", {1.5f, 2.5f, 3.5f}},
      {"-2e3 +4 .5 x 1.5.5", {-2000, 4, 0.5f, 0, 0}},
      {"inf 1e99999", {0, 0}},
      {"1e39 -1e39 3.5e38 2", {0, 0, 0, 2}},  // beyond the single range: 0, not infinity
      {"", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    EXPECT_EQ(TokenizeSingles(c.Text, 1), c.Expected);
  }
  const std::vector<float> nans = TokenizeSingles("nan x -nan", 2);
  ASSERT_EQ(nans.size(), 3u);
  EXPECT_EQ(std::bit_cast<uint32_t>(nans[0]), 0xFFC00000u);
  EXPECT_EQ(nans[1], 0.0f);
  EXPECT_EQ(std::bit_cast<uint32_t>(nans[2]), 0x7FC00000u);
}

TEST(TokenizerTest, StringsSplitAtBlanksAndControlCharacters) {
  EXPECT_EQ(TokenizeStrings("usemtl  Material\r\n", 1), (std::vector<std::string>{"usemtl", "Material"}));
  EXPECT_TRUE(TokenizeStrings("", 4).empty());
  EXPECT_TRUE(TokenizeStrings(" \t ", 4).empty());
}

}  // namespace
}  // namespace quorvel
