#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "framework/classes/Component.h"
#include "framework/gui3d/MeshData.h"
#include "framework/rtl/SysUtils.h"
#include "lib/defs/DefTypesText.h"

namespace quorvel {
namespace {

struct TPointCase {
  const char* Text;
  TPoint3D Expected;
};

TEST(DefTypesText, FixedSizeReadersSplitAtCommasElseBlanks) {
  const TPointCase cases[] = {
      {"1 2 3", {1, 2, 3}},
      {"1,2,3", {1, 2, 3}},
      {"  1 , 2 ,\t3\r\n", {1, 2, 3}},
      {"1  2  3", {1, 2, 3}},
      {"1 x 3", {1, 0, 3}},
      {"1 2", {1, 2, 0}},
      {"1 2 3 4 5", {1, 2, 3}},
      {"1,5 2", {1, 0, 0}},  // a comma anywhere makes the comma the only separator
      {"1\t2 3", {0, 3, 0}},  // a tab is no separator: "1\t2" does not parse
      {"1e2 -2.5 +3", {100, -2.5f, 3}},
      {"", {0, 0, 0}},
      {"1e39 2 3", {0, 2, 3}},  // beyond a single's range counts as unparsable
      // Whatever is not a finite single reads as 0: no NaN or infinity comes out of text.
      {"1e39 nan inf", {0, 0, 0}},
      {"-1e39,NAN,-inf", {0, 0, 0}},
      {"1e-50 -3e38 infinity", {0, -3e38f, 0}},
  };
  for (const auto& c : cases) {
    const TPoint3D p = StrToPoint3D(c.Text);
    EXPECT_FLOAT_EQ(p.X, c.Expected.X) << c.Text;
    EXPECT_FLOAT_EQ(p.Y, c.Expected.Y) << c.Text;
    EXPECT_FLOAT_EQ(p.Z, c.Expected.Z) << c.Text;
  }
}

TEST(DefTypesText, OtherFixedSizeReadersFillTheirComponentsInOrder) {
  const TAlphaColorF c = StrToAlphaColorF("1 0 0");
  EXPECT_EQ(c.R, 1.0f);
  EXPECT_EQ(c.A, 0.0f);  // an unset alpha is 0, not 1
  const TVector3D v = StrToVector3D("1,2,3,4,5");
  EXPECT_EQ(v.X, 1.0f);
  EXPECT_EQ(v.W, 4.0f);
  const TPointF pf = StrToPointF("0.5 -0.25");
  EXPECT_EQ(pf.X, 0.5f);
  EXPECT_EQ(pf.Y, -0.25f);
  const TQuaternion3D q = StrToQuaternion3D("0.1 0.2 0.3 0.9");
  EXPECT_FLOAT_EQ(q.ImagPart.X, 0.1f);
  EXPECT_FLOAT_EQ(q.ImagPart.Z, 0.3f);
  EXPECT_FLOAT_EQ(q.RealPart, 0.9f);
}

TEST(DefTypesText, FormattersWriteFixedDecimalsInTheEnUsFormat) {
  struct TCase {
    std::string Actual;
    const char* Expected;
  };
  const TCase cases[] = {
      {Point3DToStr({1, -0.5f, 2.25f}, ' '), "1.0000000 -0.5000000 2.2500000"},
      {Point3DToStr({1, 2, 3}, ','), "1.0000000,2.0000000,3.0000000"},
      {AlphaColorFToStr({1, 0.5f, 0, 1}, true, ' '), "1.0000 0.5000 0.0000 1.0000"},
      {AlphaColorFToStr({1, 0.5f, 0, 1}, false, ' '), "1.0000 0.5000 0.0000"},
      {Vector3DToStr({1, 2, 3, 4}, ' '), "1.0000000 2.0000000 3.0000000 4.0000000"},
      {Quaternion3DToStr(TQuaternion3D(0.5f, 0, 0, 1), ' '), "0.5000000 0.0000000 0.0000000 1.0000000"},
      {PointFToStr({0.1f, 1234567.0f}, ' '), "0.1000000 1234567.0000000"},
      {SingleArrayToStr({}, ' '), ""},
      {SingleArrayToStr({0.1f, -3}, ' '), "0.1000000 -3.0000000"},
      {IntegerArrayToStr({1, -2, 2147483647}, ' '), "1 -2 2147483647"},
      {Point3DArrayToStr({{1, 2, 3}, {4, 5, 6}}, ','), "1.0000000 2.0000000 3.0000000,4.0000000 5.0000000 6.0000000"},
      {Point3DToStr({-0.00000001f, -0.0f, 0}, ' '), "0.0000000 0.0000000 0.0000000"},
      // Exact ties round away from zero.
      {Point3DToStr({-29950.28515625f, 0.00390625f, 0}, ' '), "-29950.2851563 0.0039063 0.0000000"},
      {AlphaColorFToStr({0.03125f, -0.03125f, 0.00005f, 1}, true, ' '), "0.0313 -0.0313 0.0000 1.0000"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.Actual, c.Expected);

  const uint8_t bytes[] = {0, 7, 255};
  EXPECT_EQ(BytesToStr(bytes, 3), "0 7 255 ");
  EXPECT_EQ(BytesToStr(nullptr, 3), "");
  EXPECT_EQ(BytesToStr(bytes, 0), "");
}

TEST(DefTypesText, FixedFormatterAgreesWithThePatternFormatter) {
  std::mt19937 rng(42);
  std::uniform_real_distribution<float> small(-10.0f, 10.0f);
  std::uniform_real_distribution<float> exponent(-12.0f, 12.0f);
  for (int i = 0; i < 20000; ++i) {
    const float v = small(rng) * std::pow(10.0f, exponent(rng));
    ASSERT_EQ(SingleArrayToStr({v}, ' '), FormatFloat("0.0000000", static_cast<double>(v))) << v;
    ASSERT_EQ(AlphaColorFToStr({v, 0, 0, 0}, false, ' ').substr(0, AlphaColorFToStr({v, 0, 0, 0}, false, ' ').find(' ')),
              FormatFloat("0.0000", static_cast<double>(v)))
        << v;
  }
}

TEST(DefTypesText, MatrixTextIsRowByRowAndReadsBack) {
  TMatrix3D m = TMatrix3D::CreateTranslation({1, 2, 3});
  m.m12 = 0.5f;
  const std::string text = Matrix3DToStr(m, nullptr, ' ');
  EXPECT_EQ(text,
            "1.0000000 0.5000000 0.0000000 0.0000000 0.0000000 1.0000000 0.0000000 0.0000000 "
            "0.0000000 0.0000000 1.0000000 0.0000000 1.0000000 2.0000000 3.0000000 1.0000000");
  EXPECT_EQ(StrToMatrix3D(text), m);

  // The builder gets no separator before the first number, whatever it holds.
  std::string builder = "abc";
  const std::string result = Matrix3DToStr(TMatrix3D::Identity(), &builder, ' ');
  EXPECT_EQ(result, builder);
  EXPECT_EQ(result.substr(0, 13), "abc1.0000000 ");
}

TEST(DefTypesText, MatrixReaderEdgeCases) {
  EXPECT_EQ(StrToMatrix3D(""), TMatrix3D::Identity());
  EXPECT_EQ(StrToMatrix3D("   "), TMatrix3D::Identity());
  // Comma-separated text is one unparsable piece: m11 is 0, and so is everything after it.
  EXPECT_EQ(StrToMatrix3D("1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1"), TMatrix3D());
  const TMatrix3D three = StrToMatrix3D("1 2 3");
  EXPECT_EQ(three.m11, 1.0f);
  EXPECT_EQ(three.m13, 3.0f);
  EXPECT_EQ(three.m14, 0.0f);
  EXPECT_EQ(three.m44, 0.0f);
  std::string many;
  for (int i = 1; i <= 20; ++i) many += std::to_string(i) + " ";
  const TMatrix3D m = StrToMatrix3D(many);
  EXPECT_EQ(m.m11, 1.0f);
  EXPECT_EQ(m.m44, 16.0f);
}

TEST(DefTypesText, ListReadersSplitAtBlanksOnly) {
  EXPECT_EQ(StrToSingleArray("1\t2"), std::vector<float>{0.0f});
  EXPECT_EQ(StrToSingleArray("1,5 2"), (std::vector<float>{0.0f, 2.0f}));
  EXPECT_EQ(StrToSingleArray("  0.5   -1e1 "), (std::vector<float>{0.5f, -10.0f}));
  EXPECT_EQ(StrToSingleArray("nan 1e39 -inf 7"), (std::vector<float>{0, 0, 0, 7}));
  EXPECT_TRUE(StrToSingleArray("").empty());
  EXPECT_EQ(StrToIntegerArray("1 x -3 4.5 2147483648"), (std::vector<int32_t>{1, 0, -3, 0, 0}));
  EXPECT_EQ(StrToBytes("255 256 -1 511"), (std::vector<uint8_t>{255, 0, 255, 255}));
  EXPECT_TRUE(StrToBytes("").empty());
}

TEST(DefTypesText, ListReadersKeepEveryValueAcrossGrowthBlocks) {
  std::vector<float> values(1000);
  for (size_t i = 0; i < values.size(); ++i) values[i] = static_cast<float>(i) * 0.25f;
  const std::vector<float> back = StrToSingleArray(SingleArrayToStr(values, ' '));
  EXPECT_EQ(back, values);

  std::vector<uint8_t> bytes(1300);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
  EXPECT_EQ(StrToBytes(BytesToStr(bytes.data(), static_cast<int64_t>(bytes.size()))), bytes);
}

TEST(DefTypesText, PointArraysDropIncompleteTriples) {
  EXPECT_EQ(SingleArrayToPoint3DArray({1, 2, 3, 4, 5, 6, 7}).size(), 2u);
  const auto points = StrToPoint3DArray("1 2 3 4 5 6 7 8");
  ASSERT_EQ(points.size(), 2u);
  EXPECT_EQ(points[1], TPoint3D(4, 5, 6));
  EXPECT_TRUE(StrToPoint3DArray("1 2").empty());
}

TEST(DefTypesText, SetNamesAreCommaSeparatedAndCaseInsensitive) {
  using F = TTextureFlipping;
  struct TCase {
    const char* Text;
    TTextureFlippings Expected;
  };
  const TCase cases[] = {
      {"Vertical,Horizontal", {F::Vertical, F::Horizontal}},
      {"vertical", {F::Vertical}},
      {"Vertical, Horizontal", {F::Vertical}},  // pieces are not trimmed
      {"Diagonal,,HORIZONTAL", {F::Horizontal}},
      {"", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(StrToTextureFlippings(c.Text), c.Expected) << c.Text;
  EXPECT_EQ(TextureFlippingsToStr({F::Horizontal, F::Vertical}), "Vertical,Horizontal");
  EXPECT_EQ(TextureFlippingsToStr({}), "");

  const TVertexFormats defaults = VertexFormatsFromMask(0xC443);
  EXPECT_EQ(VertexFormatsToStr(defaults), "Vertex,Normal,ColorF0,TexCoord0,BiNormal,Tangent");
  EXPECT_EQ(StrToVertexFormats("vertex,normal,colorf0,texcoord0,binormal,tangent"), defaults);
  EXPECT_EQ(VertexFormatsToMask(StrToVertexFormats(VertexFormatsToStr(VertexFormatsFromMask(0xFFFF)))), 0xFFFF);
}

TEST(DefTypesText, SanitizeIdentifierReplacesEachCharacterOnce) {
  const std::pair<const char*, const char*> cases[] = {
      {"3D Model.obj", "_3D_Model_obj"},
      {"", ""},
      {"a b-c", "a_b_c"},
      {"W\xC3\xBCrfel", "W_rfel"},         // one "_" for a two-byte character
      {"\xE6\x97\xA5\xE6\x9C\xAC", "__"},  // and for three-byte ones
      {"\xF0\x9F\x98\x80x", "_x"},
      {"\xFF" "a", "_a"},  // a stray byte counts as one character
      {"_ok9", "_ok9"},
      {"9", "_9"},
  };
  for (const auto& c : cases) EXPECT_EQ(SanitizeIdentifier(c.first), c.second) << c.first;
}

TEST(DefTypesText, StringSizeCountsTwoBytesPerUtf16Unit) {
  EXPECT_EQ(GetStringSize(""), 0);
  EXPECT_EQ(GetStringSize("abc"), 6);
  EXPECT_EQ(GetStringSize("\xC3\xBC"), 2);
  EXPECT_EQ(GetStringSize("\xF0\x9F\x98\x80"), 4);  // a surrogate pair
}

class DefTypesUniqueNames : public ::testing::Test {
protected:
  void SetUp() override {
    FHandle = RegisterFindGlobalComponentProc([this](const std::string& AName) -> TComponent* {
      for (TComponent* c : FGlobals)
        if (SameText(c->GetName(), AName)) return c;
      return nullptr;
    });
  }
  void TearDown() override {
    UnregisterFindGlobalComponentProc(FHandle);
    for (TComponent* c : FGlobals) Free(c);
  }
  TComponent* AddGlobal(const std::string& AName) {
    auto* c = New<TComponent>(nullptr);
    c->SetName(AName);
    FGlobals.push_back(c);
    return c;
  }

  int FHandle = 0;
  std::vector<TComponent*> FGlobals;
};

TEST_F(DefTypesUniqueNames, GlobalNamesGetUnderscoreOneAppended) {
  EXPECT_EQ(GetUniqueComponentName(nullptr, "Cube"), "Cube");
  AddGlobal("Cube");
  EXPECT_EQ(GetUniqueComponentName(nullptr, "Cube"), "Cube_1");
  AddGlobal("Cube_1");
  EXPECT_EQ(GetUniqueComponentName(nullptr, "Cube"), "Cube_1_1");
  EXPECT_EQ(GetUniqueComponentName(nullptr, "3D Cube"), "_3D_Cube");
}

TEST_F(DefTypesUniqueNames, OwnerChainIsSearchedUpwards) {
  TComponent* root = AddGlobal("Root");
  auto* taken = New<TComponent>(root);
  taken->SetName("Box");
  auto* middle = New<TComponent>(root);
  auto* leaf = New<TComponent>(middle);
  EXPECT_FALSE(IsUniqueComponentName(leaf, "Box"));  // owned by the leaf's owner's owner
  EXPECT_TRUE(IsUniqueComponentName(leaf, "Sphere"));
  EXPECT_EQ(GetUniqueComponentName(leaf, "Box"), "Box_1");
  EXPECT_TRUE(IsUniqueComponentName(nullptr, "Box"));  // without a component only globals count
}

TEST_F(DefTypesUniqueNames, TheGlobalHookDecidesWhenSet) {
  AddGlobal("Cube");
  auto previous = SetIsUniqueGlobalComponentNameProc([](const std::string& AName) { return AName != "Cube_1"; });
  EXPECT_TRUE(IsUniqueComponentName(nullptr, "Cube"));
  EXPECT_FALSE(IsUniqueComponentName(nullptr, "Cube_1"));
  SetIsUniqueGlobalComponentNameProc(previous);
  EXPECT_FALSE(IsUniqueComponentName(nullptr, "Cube"));
}

TEST(DefTypesText, MeshDataTakesPreparedBuffers) {
  DirtyHackApplyMeshDataBuffers(nullptr, nullptr, nullptr);  // nothing happens
  TOwned<TMeshData> data(New<TMeshData>());
  TVertexBuffer vertices(TVertexFormats{TVertexFormat::Vertex, TVertexFormat::Normal}, 3);
  vertices.SetVertices(2, {1, 2, 3});
  TIndexBuffer indices(3, TIndexFormat::UInt16);
  indices.SetIndices(1, 2);
  DirtyHackApplyMeshDataBuffers(data.get(), &vertices, &indices);
  EXPECT_EQ(data->GetVertexBuffer()->Length(), 3);
  EXPECT_EQ(data->GetVertexBuffer()->Format(), vertices.Format());
  EXPECT_EQ(data->GetVertexBuffer()->GetVertices(2), TPoint3D(1, 2, 3));
  EXPECT_EQ(data->GetIndexBuffer()->Format(), TIndexFormat::UInt16);
  EXPECT_EQ(data->GetIndexBuffer()->GetIndices(1), 2u);

  // An empty index buffer leaves the mesh data's indices alone.
  TIndexBuffer none(0, TIndexFormat::UInt32);
  DirtyHackApplyMeshDataBuffers(data.get(), nullptr, &none);
  EXPECT_EQ(data->GetIndexBuffer()->Length(), 3);
}

}  // namespace
}  // namespace quorvel
