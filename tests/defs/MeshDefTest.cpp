#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "framework/gui3d/MeshData.h"
#include "framework/rtl/Thread.h"
#include "lib/defs/DefTypes.h"
#include "tests/defs/DefTypesTestUtil.h"
#include "tests/support/MemoryBufferObject.h"

namespace quorvel {
namespace {

using test::MemoryComponent;
using test::TMemoryBufferClassScope;
using test::TakeText;

template <class T>
using Owned = TOwned<T>;

std::unique_ptr<TJSONObject> Parse(const std::string& AText) {
  return std::unique_ptr<TJSONObject>(ParseJSONValue(AText, true)->As<TJSONObject>());
}

// The JSON text of a definition, read back into a new definition of the same class.
template <class T>
Owned<T> RoundTrip(const T* ADef, TModelDef* AModel = nullptr) {
  std::unique_ptr<TJSONObject> json(ADef->ToJSON());
  auto doc = Parse(json->ToJSON());
  Owned<T> copy(New<T>());
  copy->FromJSON(AModel, doc.get());
  return copy;
}

Owned<TMeshDef> ReadMesh(const std::string& AText) {
  auto doc = Parse(AText);
  Owned<TMeshDef> mesh(New<TMeshDef>());
  mesh->FromJSON(nullptr, doc.get());
  return mesh;
}

template <class E>
void ExpectMessage(const std::function<void()>& ACall, const std::string& AMessage) {
  try {
    ACall();
    ADD_FAILURE() << "no exception, expected: " << AMessage;
  } catch (const E& e) {
    EXPECT_EQ(std::string(e.what()), AMessage);
  }
}

TVertexData Vertex(TPoint3D APos, int ATexCoords = 1, int AColors = 0) {
  TVertexData v;
  v.Position = APos;
  v.Normal = {0, 0, 1};
  for (int i = 0; i < ATexCoords; ++i) v.TexCoords.push_back({APos.X, APos.Y + float(i)});
  for (int i = 0; i < AColors; ++i) v.Colors.push_back({1, 0.5f, 0, 1});
  return v;
}

// A mesh from positions and triangle indices (default format).
Owned<TMeshDef> MakeMesh(const std::vector<TPoint3D>& APositions, const std::vector<uint32_t>& AIndices,
                         TCustomDef* AOwner = nullptr) {
  Owned<TMeshDef> mesh(New<TMeshDef>(AOwner));
  std::vector<TVertexData> v;
  for (const TPoint3D& p : APositions) v.push_back(Vertex(p));
  mesh->AddVertices(v, 0, int32_t(v.size()));
  mesh->AddIndices(AIndices, 0, int32_t(AIndices.size()), 0);
  return mesh;
}

Owned<TMeshDef> Cube(float AMin, float AMax) {
  std::vector<TPoint3D> p;
  for (int i = 0; i < 8; ++i) p.push_back({i & 1 ? AMax : AMin, i & 2 ? AMax : AMin, i & 4 ? AMax : AMin});
  return MakeMesh(p, {0, 1, 3, 0, 3, 2, 4, 7, 5, 4, 6, 7, 0, 4, 5, 0, 5, 1, 2, 3, 7, 2, 7, 6, 0, 2, 6, 0, 6, 4, 1, 5, 7, 1, 7, 3});
}

// ---------------------------------------------------------------------------------------
// Vertex and index data

TEST(MeshDefTest, NewDefinitionHasTheDefaultsAndAnEmptyJsonForm) {
  Owned<TMeshDef> mesh(New<TMeshDef>());
  EXPECT_EQ(VertexFormatsToMask(mesh->GetVertexFormat()), 0xC443);
  EXPECT_EQ(mesh->GetIndexFormat(), TIndexFormat::UInt32);
  EXPECT_EQ(mesh->GetVertexSource(), nullptr);
  EXPECT_EQ(mesh->GetIndexSource(), nullptr);
  EXPECT_EQ(mesh->GetVertexIndexMap()->Count(), 0);
  EXPECT_EQ(mesh->GetInstances()->Count(), 0);
  std::unique_ptr<TJSONObject> json(mesh->ToJSON());
  EXPECT_EQ(json->GetValue("Type")->Value(), "Quorvel.DefTypes.TMeshDef");
  EXPECT_EQ(json->GetValue("VertexFormat")->Value(), "Vertex,Normal,ColorF0,TexCoord0,BiNormal,Tangent");
  EXPECT_EQ(json->GetValue("VertexCount")->Value(), "0");
  EXPECT_EQ(json->GetValue("Vertices")->ToJSON(), "{}");
  EXPECT_EQ(json->GetValue("IndexCount")->Value(), "0");
  EXPECT_EQ(json->GetValue("Indices")->ToJSON(), "[]");
  EXPECT_TRUE(json->GetValue("Material")->IsNull());
  EXPECT_EQ(json->GetValue("IsStatic")->Value(), "false");
}

TEST(MeshDefTest, VertexFormatFollowsTheFirstRecord) {
  struct Case {
    int TexCoords, Colors;
    uint16_t Mask;
  };
  const Case cases[] = {{0, 0, 0xC003}, {1, 0, 0xC403}, {2, 1, 0xCC43}, {3, 2, 0xDCC3}, {4, 3, 0xFDC3}, {6, 5, 0xFFC3}};
  for (const Case& c : cases) {
    Owned<TMeshDef> mesh(New<TMeshDef>());
    mesh->AddVertices({Vertex({1, 2, 3}, c.TexCoords, c.Colors), Vertex({0, 0, 0}, 0, 0)}, 0, 2);
    EXPECT_EQ(VertexFormatsToMask(mesh->GetVertexFormat()), c.Mask);
    EXPECT_EQ(VertexFormatsToMask(mesh->GetVertexSource()->Format()), c.Mask);
    EXPECT_EQ(mesh->GetVertexSource()->GetVertices(0), TPoint3D(1, 2, 3));
  }
}

TEST(MeshDefTest, AddVerticesStoresColoursAsFloatColoursThroughTheirBytes) {
  Owned<TMeshDef> mesh(New<TMeshDef>());
  // The layout comes from the first record of the array, whatever range is taken.
  mesh->AddVertices({Vertex({9, 9, 9}, 2, 1), Vertex({1, 2, 3}, 2, 1)}, 1, 1);
  const TVertexBuffer* vb = mesh->GetVertexSource();
  ASSERT_EQ(vb->Length(), 1);
  const TAlphaColorF c = vb->GetColorF(0, 0);
  EXPECT_FLOAT_EQ(c.R, 1.0f);
  EXPECT_FLOAT_EQ(c.G, 128.0f / 255.0f);
  EXPECT_FLOAT_EQ(c.B, 0.0f);
  EXPECT_FLOAT_EQ(c.A, 1.0f);
  EXPECT_EQ(vb->GetTexCoord(1, 0), TPointF(1, 3));
  EXPECT_THROW(mesh->AddVertices({Vertex({0, 0, 0})}, 0, 2), EArgumentOutOfRangeException);
  EXPECT_EQ(mesh->GetVertexSource()->Length(), 1);  // a bad range changes nothing
  mesh->AppendVertices({Vertex({5, 5, 5}, 1, 0)}, 0, 1);
  EXPECT_EQ(mesh->GetVertexSource()->Length(), 2);
  EXPECT_EQ(mesh->GetVertexSource()->GetVertices(1), TPoint3D(5, 5, 5));
  EXPECT_EQ(VertexFormatsToMask(mesh->GetVertexFormat()), 0xC403);  // derived again from the record
  mesh->AddVertices({}, 0, 0);
  EXPECT_EQ(mesh->GetVertexSource(), nullptr);
}

TEST(MeshDefTest, IndexOperationsSubtractTheOffsetInTheBufferWidth) {
  Owned<TMeshDef> mesh(New<TMeshDef>());
  mesh->AddIndices(std::vector<TTriangleIndex>{{3, 4, 5}, {5, 6, 7}}, 0, 2, 3);
  mesh->AppendIndices(std::vector<uint32_t>{10, 11}, 0, 2, 10);
  const TIndexBuffer* ib = mesh->GetIndexSource();
  std::vector<uint32_t> got;
  for (int i = 0; i < ib->Length(); ++i) got.push_back(ib->GetIndices(i));
  EXPECT_EQ(got, (std::vector<uint32_t>{0, 1, 2, 2, 3, 4, 0, 1}));
  mesh->AppendIndices(std::vector<TTriangleIndex>{{9, 9, 9}, {1, 2, 3}}, 1, 1, 1);
  EXPECT_EQ(mesh->GetIndexSource()->Length(), 11);
  EXPECT_EQ(mesh->GetIndexSource()->GetIndices(10), 2u);

  Owned<TMeshDef> small(New<TMeshDef>());
  small->CreateIndexSource(TIndexFormat::UInt16);
  small->AddIndices(std::vector<uint32_t>{5, 6, 7}, 0, 3, 5);
  EXPECT_EQ(small->GetIndexSource()->Format(), TIndexFormat::UInt16);
  EXPECT_EQ(small->GetIndexSource()->Size(), 6);
  EXPECT_EQ(small->GetIndexSource()->GetIndices(2), 2u);
  // Never silently wrapped or truncated.
  EXPECT_THROW(small->AddIndices(std::vector<uint32_t>{70000}, 0, 1, 0), EArgumentOutOfRangeException);
  EXPECT_THROW(small->AddIndices(std::vector<uint32_t>{2}, 0, 1, 3), EArgumentOutOfRangeException);
  EXPECT_THROW(small->AddIndices(std::vector<uint32_t>{2}, 1, 1, 0), EArgumentOutOfRangeException);
}

TEST(MeshDefTest, VertexIndexMapsAreCopiedWithTheirOffset) {
  TVertexIndexMap source;
  source.AddIndex(12, 0);
  source.AddIndex(12, 5);
  source.AddIndex(3, 1);
  Owned<TMeshDef> mesh(New<TMeshDef>());
  mesh->AddVertexIndexMap(&source, 0);
  EXPECT_EQ(mesh->GetVertexIndexMap()->Items(12), (std::vector<uint32_t>{0, 5}));
  TVertexIndexMap more;
  more.AddIndex(4, 1);
  mesh->AppendVertexIndexMap(&more, 10);
  EXPECT_EQ(mesh->GetVertexIndexMap()->Items(4), std::vector<uint32_t>{11});
  EXPECT_EQ(more.Items(4), std::vector<uint32_t>{1});
  EXPECT_THROW(mesh->AppendVertexIndexMap(&source, 1), EListError);
  mesh->AddVertexIndexMap(&more, 0);
  EXPECT_EQ(mesh->GetVertexIndexMap()->Count(), 1);
}

TEST(MeshDefTest, BoundingBoxCoversEveryTransformedVertex) {
  auto mesh = MakeMesh({{-5, 0, 0}, {1, 1, 1}, {2, -1, 0}}, {0, 1, 2});
  EXPECT_EQ(mesh->GetBoundingBox(), TBoundingBox(-5, -1, 0, 2, 1, 1));
  mesh->SetTransform(TMatrix3D::CreateScaling({2, 1, 1}) * TMatrix3D::CreateTranslation({0, 10, 0}));
  EXPECT_EQ(mesh->GetBoundingBox(), TBoundingBox(-5, -1, 0, 2, 1, 1));  // cached
  mesh->BoundingBoxChanged();
  EXPECT_EQ(mesh->GetBoundingBox(), TBoundingBox(-10, 9, 0, 4, 11, 1));
  mesh->ApplyTransformation(TMatrix3D::CreateTranslation({1, 0, 0}));
  EXPECT_EQ(mesh->GetTransform().m41, 1.0f);
  EXPECT_FALSE(mesh->GetBoundingBoxUpdateNeeded());
}

// ---------------------------------------------------------------------------------------
// JSON form

TEST(MeshDefJsonTest, DefaultFormatWritesItsFloatColoursAsColor0) {
  Owned<TMeshDef> mesh(New<TMeshDef>());
  mesh->CreateVertexSource(VertexFormatsFromMask(0xC443));
  mesh->GetVertexSource()->SetLength(2);
  mesh->GetVertexSource()->SetColorF(0, 1, TAlphaColorF(1, 0, 0, 1));
  std::unique_ptr<TJSONObject> json(mesh->ToJSON());
  const TJSONObject* v = json->GetValue("Vertices")->As<TJSONObject>();
  const char* keys[] = {"Positions", "Normals", "Binormals", "Tangents", "TexCoord0", "TexCoord1",
                        "TexCoord2", "TexCoord3", "Color0", "Color1", "Color2", "Color3"};
  const int counts[] = {6, 6, 6, 6, 4, 0, 0, 0, 2, 0, 0, 0};
  ASSERT_EQ(v->Count(), 12);
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(v->Pairs(i)->GetName(), keys[i]);
    EXPECT_EQ(v->Pairs(i)->GetJsonValue()->As<TJSONArray>()->Count(), counts[i]) << keys[i];
  }
  EXPECT_EQ(v->GetValue("Color0")->ToJSON(), "[0,4294901760]");
  // Read back, the colour is there again.
  auto copy = RoundTrip(mesh.get());
  EXPECT_EQ(copy->GetVertexSource()->GetColorF(0, 1), TAlphaColorF(1, 0, 0, 1));
}

// Every component alone and all together, through the values form and the byte-list form.
TEST(MeshDefJsonTest, EveryVertexFormatSurvivesBothForms) {
  std::vector<uint16_t> masks;
  for (int f = 0; f < 16; ++f) masks.push_back(uint16_t(1u << f));
  masks.push_back(0xFFFF);
  masks.push_back(0xC443);
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> real(-100, 100);
  for (uint16_t mask : masks) {
    SCOPED_TRACE(mask);
    Owned<TMeshDef> mesh(New<TMeshDef>());
    mesh->CreateVertexSource(VertexFormatsFromMask(mask));
    TVertexBuffer* vb = mesh->GetVertexSource();
    vb->SetLength(5);
    for (int i = 0; i < 5; ++i) {
      vb->SetVertices(i, {real(rng), real(rng), real(rng)});
      vb->SetNormals(i, {real(rng), real(rng), real(rng)});
      vb->SetBiNormals(i, {real(rng), real(rng), real(rng)});
      vb->SetTangents(i, {real(rng), real(rng), real(rng)});
      for (int ch = 0; ch < 4; ++ch) {
        vb->SetTexCoord(ch, i, {real(rng), real(rng)});
        // Alpha 200: above 127, the top bit of the 32-bit colour is set.
        vb->SetColor(ch, i, MakeAlphaColor(uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), 200));
      }
    }
    mesh->AddIndices(std::vector<uint32_t>{0, 1, 2, 2, 3, 4}, 0, 6, 0);
    auto copy = RoundTrip(mesh.get());
    ASSERT_NE(copy->GetVertexSource(), nullptr);
    EXPECT_EQ(VertexFormatsToMask(copy->GetVertexSource()->Format()), mask);
    ASSERT_EQ(copy->GetVertexSource()->Size(), vb->Size());
    EXPECT_EQ(0, std::memcmp(copy->GetVertexSource()->Buffer(), vb->Buffer(), size_t(vb->Size())));
    EXPECT_EQ(copy->GetIndexSource()->GetIndices(5), 4u);

    // The byte-list form of other producers: the raw memory as decimal bytes.
    std::unique_ptr<TJSONObject> json(mesh->ToJSON());
    delete json->RemovePair("VerticesDataType");
    delete json->RemovePair("Vertices");
    json->AddPair("Vertices", BytesToStr(vb->Buffer(), vb->Size()));
    json->AddPair("VerticesDataType", "Binary");
    Owned<TMeshDef> bytes(New<TMeshDef>());
    bytes->FromJSON(nullptr, Parse(json->ToJSON()).get());
    EXPECT_EQ(0, std::memcmp(bytes->GetVertexSource()->Buffer(), vb->Buffer(), size_t(vb->Size())));
  }
}

TEST(MeshDefJsonTest, IndexWidthWithoutIndexFormatNeverTruncates) {
  struct Case {
    const char* Indices;
    TIndexFormat Width;
    uint32_t Third;
  };
  const Case cases[] = {
      {R"("IndicesDataType":"Values","Indices":[0,1,2])", TIndexFormat::UInt16, 2},
      {R"("IndicesDataType":"Values","Indices":[0,1,70000])", TIndexFormat::UInt32, 70000},
      {R"("Indices":"0 0 1 0 2 0")", TIndexFormat::UInt16, 2},
      {R"("Indices":"0 0 0 0 1 0 0 0 112 17 1 0")", TIndexFormat::UInt32, 70000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Indices);
    auto mesh = ReadMesh(std::string(R"({"IndexCount":3,)") + c.Indices + "}");
    EXPECT_EQ(mesh->GetIndexFormat(), c.Width);
    EXPECT_EQ(mesh->GetIndexSource()->Format(), c.Width);
    EXPECT_EQ(mesh->GetIndexSource()->GetIndices(2), c.Third);
  }
  // A stated 16-bit width with a larger index raises instead of wrapping.
  EXPECT_THROW(ReadMesh(R"({"IndexFormat":0,"IndexCount":1,"IndicesDataType":"Values","Indices":[65536]})"),
               EArgumentOutOfRangeException);
  auto wide = ReadMesh(R"({"IndexFormat":1,"IndexCount":1,"IndicesDataType":"Values","Indices":[4294967295]})");
  EXPECT_EQ(wide->GetIndexSource()->GetIndices(0), 4294967295u);
}

TEST(MeshDefJsonTest, BadDocumentsRaiseClearErrors) {
  // {document body, message ("" for the class only), class: 0 Exception, 1 EInvalidCast,
  //  2 EArgumentOutOfRangeException, 3 EConvertError, 4 EListError}
  const std::string v2 = R"("VertexFormat":"Vertex","VertexCount":2,"VerticesDataType":"Values",)";
  const std::string cases[][3] = {
      {v2 + R"("Vertices":[1,2])", "invalid json data type for \"Vertices\"", "0"},
      {v2 + R"("Vertices":{"Positions":{}})", "", "1"},
      {v2 + R"("Vertices":{"Positions":[0,0,"0"]})", "", "1"},
      {v2 + R"("Vertices":{"Positions":[0,0,0,1,1,1,2,2,2]})", "", "2"},
      {v2 + R"("Vertices":{"Positions":[0,0,0,1,1]})", "", "2"},
      {v2 + R"("Vertices":{"Positions":[0,0,true]})", "", "1"},
      {v2 + R"("Vertices":{"Positions":[0,0,1e39]})", "invalid vertex value 1e39 - out of the single range", "3"},
      {R"("IndexCount":2,"IndicesDataType":"Values","Indices":{"0":1})", "invalid json data type for \"Indices\"", "0"},
      {R"("IndexCount":2,"IndicesDataType":"Values","Indices":[0,-1])", "", "3"},
      {R"("IndexCount":1,"IndicesDataType":"Values","Indices":[0,1])", "", "2"},
      {R"("IndexCount":1,"Indices":"0 0","VertexIndexMap":{"x1":[0]})",
       "unexpected value in VertexIndexMap - ordinal values expected, but \"x1\" found", "0"},
      {R"("IndexCount":1,"Indices":"0 0","VertexIndexMap":{"-1":[0]})",
       "unexpected value in VertexIndexMap - ordinal values expected, but \"-1\" found", "0"},
      {R"("IndexCount":1,"Indices":"0 0","VertexIndexMap":[1])", "", "1"},
      {R"("IndexCount":1,"Indices":"0 0","VertexIndexMap":{"1":[0],"1":[2]})", "", "4"},
      {R"("IndexCount":1,"Indices":"0 0","VertexIndexMap":{"1":["a"]})", "", "1"},
      {R"("IndexFormat":7)", "invalid index format 7 - 0 or 1 expected", "0"},
      {R"("FaceOrientation":3)", "invalid face orientation 3 - 0 to 2 expected", "0"},
      {R"("VertexFormat":"Vertex,Normal","VertexCount":2000000000,"Vertices":"")",
       "invalid vertex count 2000000000 - the vertex data would exceed 2 GB", "0"},
      {R"("IndexCount":1000000000,"Indices":"")", "invalid index count 1000000000 - the index data would exceed 2 GB",
       "0"},
      // Counts are believed only as far as the data goes.
      {R"("IndexFormat":1,"IndexCount":500000000,"Indices":"")",
       "invalid index count 500000000 - \"Indices\" supplies only 0 bytes", "0"},
      {R"("IndexCount":3,"IndicesDataType":"Values","Indices":[0,1])",
       "invalid index count 3 - \"Indices\" supplies only 2 values", "0"},
      {R"("VertexFormat":"Vertex","VertexCount":100000000,"Vertices":"0 0 128 63 ")",
       "invalid vertex count 100000000 - \"Vertices\" supplies only 4 bytes", "0"},
      {R"("VertexFormat":"Vertex,Normal","VertexCount":2000,"VerticesDataType":"Values","Vertices":{"Positions":[0,0,0],"Normals":[0,0,1,0,0,1]})",
       "invalid vertex count 2000 - \"Vertices\" supplies only 6 values", "0"},
      {R"("VertexFormat":"Colour","VertexCount":2,"Vertices":"0 0 0 0")",
       "invalid vertex count 2 - the vertex format holds no component", "0"},
      {R"("Meshes":[1])", "", "1"},
      {R"("Meshes":{})", "", "1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c[0]);
    const std::string text = "{" + c[0] + "}";
    try {
      ReadMesh(text);
      ADD_FAILURE() << "no exception";
    } catch (const EInvalidCast&) {
      EXPECT_EQ(c[2], "1");
    } catch (const EArgumentOutOfRangeException&) {
      EXPECT_EQ(c[2], "2");
    } catch (const EConvertError& e) {
      EXPECT_EQ(c[2], "3");
      if (!c[1].empty()) {
        EXPECT_EQ(std::string(e.what()), c[1]);
      }
    } catch (const EListError&) {
      EXPECT_EQ(c[2], "4");
    } catch (const Exception& e) {
      EXPECT_EQ(c[2], "0");
      if (!c[1].empty()) {
        EXPECT_EQ(std::string(e.what()), c[1]);
      }
    }
  }
  // Truncated text fails in the parser, before any definition is touched.
  EXPECT_THROW(Parse(R"({"VertexCount":2,"Vertices":{"Positions":[0,0)"), EJSONParseException);
}

// Every key of a valid document, and every array inside "Vertices", replaced by values of
// every kind: the read either succeeds or raises one of the run-time's exceptions.
TEST(MeshDefJsonTest, AnyValueOfAnyKindNeverCrashesTheReader) {
  auto source = MakeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 1, 2});
  source->GetVertexIndexMap()->AddIndex(0, 0);
  source->GetInstances()->Add(New<TMeshInstanceDef>(source.get()));
  std::unique_ptr<TJSONObject> valid(source->ToJSON());
  const char* replacements[] = {"null", "true", "\"x\"", "1.5", "-1", "4294967296", "1e300", "[]", "{}",
                                "[null]", "[1,2,\"3\"]", "{\"a\":null}", "{\"7\":[1e20]}", "\"1 2 3 300 -4\""};
  std::vector<std::string> paths;
  for (const TJSONPair* pair : *valid) paths.push_back(pair->GetName());
  for (const TJSONPair* pair : *valid->GetValue("Vertices")->As<TJSONObject>())
    paths.push_back("Vertices." + pair->GetName());
  int raised = 0;
  for (const std::string& path : paths) {
    for (const char* text : replacements) {
      SCOPED_TRACE(path + " = " + text);
      std::unique_ptr<TJSONObject> doc(valid->Clone());
      TJSONObject* holder = doc.get();
      std::string key = path;
      if (path.rfind("Vertices.", 0) == 0) {
        holder = doc->GetValue("Vertices")->As<TJSONObject>();
        key = path.substr(9);
      }
      delete holder->RemovePair(key);
      holder->AddPair(key, ParseJSONValue(text, true));
      Owned<TMeshDef> mesh(New<TMeshDef>());
      try {
        mesh->FromJSON(nullptr, doc.get());
      } catch (const Exception&) {
        ++raised;
      }
    }
  }
  EXPECT_GT(raised, 0);
}

TEST(MeshDefJsonTest, ReadingKeepsWhatCameBeforeAndSkipsWhatTheFormatLacks) {
  auto first = ReadMesh(R"({"VertexFormat":"Vertex,Colour,ColorF1","VertexCount":2,"VerticesDataType":"Values",
      "Vertices":{"Positions":[1,2,3],"Normals":[9,9,9,9,9,9],"Color1":[4294901760]}})");
  const TVertexBuffer* vb = first->GetVertexSource();
  ASSERT_EQ(vb->Length(), 2);
  EXPECT_EQ(VertexFormatsToMask(vb->Format()), 0x0081);
  EXPECT_EQ(vb->GetVertices(0), TPoint3D(1, 2, 3));
  EXPECT_EQ(vb->GetVertices(1), TPoint3D(0, 0, 0));
  EXPECT_EQ(vb->GetColorF(1, 0), TAlphaColorF(1, 0, 0, 1));

  // "values" in lower case selects the byte-list form.
  auto bytes = ReadMesh(R"({"VertexFormat":"Vertex","VertexCount":1,"VerticesDataType":"values",
      "Vertices":"0 0 128 63 "})");
  EXPECT_EQ(bytes->GetVertexSource()->GetVertices(0), TPoint3D(1, 0, 0));
  // Without "VerticesDataType" an object is the byte form with no bytes: a count with nothing
  // behind it is refused rather than allocated.
  ExpectMessage<Exception>(
      [] { ReadMesh(R"({"VertexFormat":"Vertex","VertexCount":3,"Vertices":{"Positions":[1,1,1]}})"); },
      "invalid vertex count 3 - \"Vertices\" supplies only 0 bytes");

  auto map = ReadMesh(R"({"IndexCount":1,"Indices":"0 0","VertexIndexMap":{"12":[0,5]}})");
  EXPECT_EQ(map->GetIndexSource()->Format(), TIndexFormat::UInt16);
  EXPECT_EQ(map->GetVertexIndexMap()->Items(12), (std::vector<uint32_t>{0, 5}));
  auto unread = ReadMesh(R"({"IndexCount":0,"VertexIndexMap":{"x":[0]}})");
  EXPECT_EQ(unread->GetVertexIndexMap()->Count(), 0);
  EXPECT_EQ(unread->GetIndexSource(), nullptr);
}

TEST(MeshDefJsonTest, MaterialReferenceResolvesNowOrInTheLatePass) {
  Owned<TModelDef> model(New<TModelDef>());
  model->BeginLateResolve();
  auto doc = Parse(R"({"Material":"mat1"})");
  Owned<TMeshDef> mesh(New<TMeshDef>());
  mesh->FromJSON(model.get(), doc.get());
  ASSERT_NE(mesh->GetMaterial(), nullptr);
  EXPECT_EQ(mesh->GetMaterial()->GetId(), "mat1");
  EXPECT_EQ(mesh->GetMaterial()->GetReference(), nullptr);
  auto* material = New<TMaterialDef>();
  material->SetId("mat1");
  model->AddMaterial("mat1", material);
  model->LateResolve();
  model->EndLateResolve();
  EXPECT_EQ(mesh->GetMaterial()->GetReference(), material);
  std::unique_ptr<TJSONObject> json(mesh->ToJSON());
  EXPECT_EQ(json->GetValue("Material")->Value(), "mat1");

  auto nullDoc = Parse(R"({"Material":null})");
  Owned<TMeshDef> plain(New<TMeshDef>());
  plain->FromJSON(model.get(), nullDoc.get());
  EXPECT_EQ(plain->GetMaterial(), nullptr);
  plain->SetMaterialReference(material);
  EXPECT_EQ(plain->GetMaterial()->GetId(), "mat1");
  EXPECT_EQ(plain->GetMaterial()->GetReference(), material);
}

// ---------------------------------------------------------------------------------------
// Instances and vertex groups

TEST(MeshInstanceTest, InstancesRoundTripWithTheirMesh) {
  Owned<TMeshDef> mesh(New<TMeshDef>());
  mesh->SetId("m");
  auto* inst = New<TMeshInstanceDef>(mesh.get());
  EXPECT_EQ(inst->GetScale(), TPoint3D(0, 0, 0));
  inst->SetPosition({1, 2, 3});
  inst->SetRotationCenter({0, 0.5f, 0});
  mesh->GetInstances()->Add(inst);
  std::unique_ptr<TJSONObject> json(inst->ToJSON());
  EXPECT_EQ(json->GetValue("MeshRef")->Value(), "m");
  EXPECT_EQ(json->GetValue("Position")->Value(), "1.0000000 2.0000000 3.0000000");
  auto copy = RoundTrip(mesh.get());
  ASSERT_EQ(copy->GetInstances()->Count(), 1);
  EXPECT_EQ(copy->GetInstances()->Items(0)->GetMeshRef(), copy.get());
  EXPECT_EQ(copy->GetInstances()->Items(0)->GetRotationCenter(), TPoint3D(0, 0.5f, 0));

  TMeshInstanceDef alone;
  alone.SetScale({1, 1, 1});
  alone.FromJSON(nullptr, Parse(R"({"Position":"1 2 3"})").get());
  EXPECT_EQ(alone.GetPosition(), TPoint3D(1, 2, 3));
  EXPECT_EQ(alone.GetScale(), TPoint3D(0, 0, 0));
  std::unique_ptr<TJSONObject> aloneJson(alone.ToJSON());
  EXPECT_EQ(aloneJson->GetValue("MeshRef"), nullptr);
  // Elements that are no objects are skipped.
  auto skipped = ReadMesh(R"({"Instances":[1,{"Position":"0 1 0"},"x"]})");
  EXPECT_EQ(skipped->GetInstances()->Count(), 1);
}

TEST(VertexGroupTest, GroupsDrawTheirIndicesOverTheParentsVertices) {
  auto parent = MakeMesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {0, 1, 2, 0, 2, 3});
  parent->CreateIndexSource(TIndexFormat::UInt16);
  parent->AddIndices(std::vector<uint32_t>{0, 1, 2, 0, 2, 3}, 0, 6, 0);
  auto* group = New<TVertexGroupDef>(parent.get());
  group->SetId("g");
  EXPECT_EQ(group->GetIndexSource()->Format(), TIndexFormat::UInt16);
  group->AddIndices(std::vector<uint32_t>{0, 2, 3}, 0, 3, 0);
  parent->AddMesh(group);
  EXPECT_TRUE(parent->GetRenderByVertexGroups());
  EXPECT_EQ(group->GetVertexSource(), parent->GetVertexSource());
  EXPECT_EQ(group->GetBoundingBox(), TBoundingBox());

  std::unique_ptr<TJSONObject> json(group->ToJSON());
  EXPECT_EQ(json->GetValue("VertexCount")->Value(), "0");
  EXPECT_EQ(json->GetValue("Vertices")->ToJSON(), "{}");
  EXPECT_EQ(json->GetValue("Indices")->ToJSON(), "[0,2,3]");
  auto* copy = New<TVertexGroupDef>(parent.get());
  copy->FromJSON(nullptr, Parse(json->ToJSON()).get());
  parent->AddMesh(copy);
  EXPECT_EQ(copy->GetIndexSource()->Length(), 3);
  EXPECT_EQ(copy->GetIndexSource()->GetIndices(1), 2u);

  TMeshData data;
  parent->ApplyToMeshData(&data);
  const int64_t vertexBytes = data.GetVertexBuffer()->Size();
  group->ApplyToMeshData(&data);
  EXPECT_EQ(data.GetIndexBuffer()->Length(), 3);
  EXPECT_EQ(data.GetVertexBuffer()->Size(), vertexBytes);

  // A ray through the quad's upper triangle hits the group that holds it.
  group->AcquireBVH();
  TPoint3D hit, normal;
  EXPECT_TRUE(group->RayCastIntersect({0.25f, 0.75f, -5}, {0, 0, 1}, TMatrix3D::Identity(), TMatrix3D::Identity(), hit,
                                      normal));
  EXPECT_FALSE(group->RayCastIntersect({0.75f, 0.25f, -5}, {0, 0, 1}, TMatrix3D::Identity(), TMatrix3D::Identity(), hit,
                                       normal));
  parent->RemoveMesh(group);
  parent->RemoveMesh(copy);
  EXPECT_FALSE(parent->GetRenderByVertexGroups());

  Owned<TVertexGroupDef> orphan(New<TVertexGroupDef>());
  EXPECT_EQ(orphan->GetIndexSource()->Format(), TIndexFormat::UInt32);
  EXPECT_EQ(orphan->GetVertexSource(), nullptr);
  Owned<TTransformDef> node(New<TTransformDef>());
  Owned<TVertexGroupDef> stray(New<TVertexGroupDef>(node.get()));
  EXPECT_THROW(stray->GetVertexSource(), EInvalidCast);
}

// ---------------------------------------------------------------------------------------
// Sub-meshes, bounds, ray casts, transforms

TEST(MeshTreeTest, FindMeshByIdTellsMeshesFromOtherNodes) {
  Owned<TMeshDef> root(New<TMeshDef>());
  auto* light = New<TLightDef>(root.get());
  light->SetId("lamp");
  root->AddChild(light);
  auto child = MakeMesh({{0, 0, 0}}, {});
  child->SetId("body");
  root->AddMesh(child.release());
  EXPECT_NE(root->FindMeshById("body", true), nullptr);
  EXPECT_EQ(root->FindMeshById("lamp", false), nullptr);
  ExpectMessage<Exception>([&] { root->FindMeshById("lamp", true); },
                           "transform with id \"lamp\" found, but not a mesh node");
  EXPECT_EQ(root->FindMeshById("none", false), nullptr);
  EXPECT_THROW(root->FindMeshById("none", true), Exception);
  EXPECT_GT(root->GetSize(), root->TCustomMeshDef::GetSize());
}

TEST(MeshTreeTest, CombinedBoundsIgnoreAFlatParent) {
  auto square = MakeMesh({{-10, 0, -10}, {10, 0, -10}, {10, 0, 10}, {-10, 0, 10}}, {0, 1, 2, 0, 2, 3});
  square->AddMesh(Cube(1, 2).release());
  EXPECT_EQ(square->GetCombinedBoundingBox(), TBoundingBox(1, 1, 1, 2, 2, 2));
  auto solid = Cube(-1, 0);
  solid->AddMesh(Cube(1, 2).release());
  EXPECT_EQ(solid->GetCombinedBoundingBox(), TBoundingBox(-1, -1, -1, 2, 2, 2));
}

TEST(MeshTreeTest, RayCastsMissWithoutDataAndPickTheNearestHit) {
  Owned<TMeshDef> empty(New<TMeshDef>());
  empty->AddVertices({Vertex({0, 0, 0})}, 0, 1);
  TPoint3D hit{9, 9, 9}, normal{9, 9, 9};
  EXPECT_FALSE(empty->RayCastIntersect({0, 0, 5}, {0, 0, -1}, TMatrix3D::Identity(), TMatrix3D::Identity(), hit, normal));
  EXPECT_EQ(hit, TPoint3D());
  EXPECT_EQ(normal, TPoint3D());

  // Two parallel triangles at z = -2 and z = 1; the ray starts at z = 3 going down.
  const std::vector<TPoint3D> p = {{-1, -1, -2}, {1, -1, -2}, {0, 1, -2}, {-1, -1, 1}, {1, -1, 1}, {0, 1, 1}};
  for (const auto& order : {std::vector<uint32_t>{0, 2, 1, 3, 5, 4}, std::vector<uint32_t>{3, 5, 4, 0, 2, 1}}) {
    auto mesh = MakeMesh(p, order);
    ASSERT_TRUE(mesh->RayCastIntersect({0, 0, 3}, {0, 0, -1}, TMatrix3D::Identity(), TMatrix3D::Identity(), hit, normal));
    EXPECT_NEAR(hit.Z, 1.0f, 1e-5f);
  }
}

// Ray casts through the hierarchy must answer what testing every triangle answers.
TEST(MeshTreeTest, BvhRayCastsEqualBruteForce) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> coord(-1, 1);
  std::vector<TPoint3D> positions;
  std::vector<uint32_t> indices;
  for (int t = 0; t < 300; ++t) {
    const TPoint3D c{coord(rng) * 4, coord(rng) * 4, coord(rng) * 4};
    for (int k = 0; k < 3; ++k) positions.push_back(c + TPoint3D{coord(rng), coord(rng), coord(rng)} * 0.6f);
    for (int k = 0; k < 3; ++k) indices.push_back(uint32_t(3 * t + k));
  }
  auto brute = MakeMesh(positions, indices);
  auto tree = MakeMesh(positions, indices);
  tree->AcquireBVH();
  ASSERT_NE(tree->GetBVH(), nullptr);
  int hits = 0;
  for (int r = 0; r < 400; ++r) {
    const TPoint3D from{coord(rng) * 8, coord(rng) * 8, coord(rng) * 8};
    const TPoint3D to{coord(rng) * 2, coord(rng) * 2, coord(rng) * 2};
    TPoint3D h1, n1, h2, n2;
    const bool a = brute->RayCastIntersect(from, to - from, TMatrix3D::Identity(), TMatrix3D::Identity(), h1, n1);
    const bool b = tree->RayCastIntersect(from, to - from, TMatrix3D::Identity(), TMatrix3D::Identity(), h2, n2);
    ASSERT_EQ(a, b) << r;
    if (!a) continue;
    ++hits;
    EXPECT_NEAR(h1.Distance(h2), 0.0f, 1e-3f);
    EXPECT_NEAR(n1.Distance(n2), 0.0f, 1e-3f);
  }
  EXPECT_GT(hits, 20);
}

TEST(MeshTreeTest, UpdateBvhFollowsMovedVertices) {
  auto mesh = MakeMesh({{-1, -1, 0}, {1, -1, 0}, {0, 1, 0}}, {0, 2, 1});
  mesh->AcquireBVH();
  TPoint3D hit, normal;
  ASSERT_TRUE(mesh->RayCastIntersect({0, 0, 5}, {0, 0, -1}, TMatrix3D::Identity(), TMatrix3D::Identity(), hit, normal));
  for (int i = 0; i < 3; ++i) {
    TPoint3D p = mesh->GetVertexSource()->GetVertices(i);
    mesh->GetVertexSource()->SetVertices(i, p + TPoint3D{10, 0, 0});
  }
  mesh->UpdateBVH();
  EXPECT_FALSE(mesh->RayCastIntersect({0, 0, 5}, {0, 0, -1}, TMatrix3D::Identity(), TMatrix3D::Identity(), hit, normal));
  ASSERT_TRUE(mesh->RayCastIntersect({10, 0, 5}, {0, 0, -1}, TMatrix3D::Identity(), TMatrix3D::Identity(), hit, normal));
  EXPECT_NEAR(hit.X, 10, 1e-5f);
  mesh->ReleaseBVH();
  EXPECT_EQ(mesh->GetBVH(), nullptr);
}

TEST(MeshTreeTest, TransformsAreBakedIntoTheWholeSubtree) {
  auto mesh = MakeMesh({{0, 0, 0}, {1, 2, 3}}, {});
  mesh->GetVertexSource()->SetNormals(0, {0, 1, 0});
  auto* child = MakeMesh({{5, 5, 5}}, {}).release();
  mesh->AddMesh(child);
  const TMatrix3D move = TMatrix3D::CreateTranslation({1, 0, 0});
  mesh->ApplyTransformationMatrixToVertices(move, false);
  EXPECT_EQ(mesh->GetTransform(), move);
  EXPECT_EQ(mesh->GetVertexSource()->GetVertices(1), TPoint3D(1, 2, 3));
  mesh->SetTransform(TMatrix3D::Identity());
  mesh->ApplyTransformationMatrixToVertices(move, true);
  EXPECT_EQ(mesh->GetTransform(), TMatrix3D::Identity());
  EXPECT_EQ(mesh->GetVertexSource()->GetVertices(1), TPoint3D(2, 2, 3));
  EXPECT_EQ(child->GetVertexSource()->GetVertices(0), TPoint3D(6, 5, 5));
  // Normals are directions: a translation leaves them as they are.
  EXPECT_EQ(mesh->GetVertexSource()->GetNormals(0), TPoint3D(0, 1, 0));

  const TMatrix3D zero;  // all entries 0
  mesh->SetTransform(zero);
  mesh->ApplyTransformationMatrixToVertices(TMatrix3D::Identity(), false);
  EXPECT_EQ(mesh->GetTransform(), TMatrix3D::Identity());

  mesh->MoveVerticesToPivot();
  // Baking leaves the cached boxes as they were.
  mesh->BoundingBoxChanged();
  child->BoundingBoxChanged();
  const TBoundingBox box = mesh->GetCombinedBoundingBox();
  EXPECT_EQ(box.CenterPoint(), TPoint3D(0, 0, 0));
}

TEST(MeshTreeTest, ExchangeBetweenDefinitionsAndMeshData) {
  auto source = MakeMesh({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, {0, 1, 2});
  Owned<TMeshDef> target(New<TMeshDef>());
  target->GetVertexIndexMap()->AddIndex(1, 1);
  TCopyVertexOptions options;
  options.Include(TCopyVertexOption::ExchangeYZ);
  source->ApplyToMeshDef(target.get(), options);
  EXPECT_EQ(target->GetVertexSource()->GetVertices(0), TPoint3D(1, 3, 2));
  EXPECT_EQ(source->GetVertexSource()->GetVertices(0), TPoint3D(1, 2, 3));
  EXPECT_EQ(target->GetVertexIndexMap()->Count(), 0);
  source->ApplyToMeshDef(source.get(), TCopyVertexOptions());  // onto itself: no use after free
  EXPECT_EQ(source->GetVertexSource()->Length(), 3);

  // A zero first normal lets the framework compute face normals.
  auto flat = MakeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 1, 2});
  for (int i = 0; i < 3; ++i) flat->GetVertexSource()->SetNormals(i, TPoint3D());
  TMeshData data;
  flat->ApplyToMeshData(&data);
  EXPECT_GT(data.GetVertexBuffer()->GetNormals(0).Length(), 0.5f);
  Owned<TMeshDef> back(New<TMeshDef>());
  back->ApplyFromMeshData(&data);
  EXPECT_EQ(back->GetVertexSource()->Length(), 3);
  EXPECT_EQ(back->GetBoundingBox(), TBoundingBox(0, 0, 0, 1, 1, 0));
}

TEST(MeshTreeTest, OlderMeshesListBuildsChildrenByType) {
  auto mesh = ReadMesh(R"({"Meshes":[{"Type":"Quorvel.DefTypes.TVertexGroupDef","Id":"g"},{"Id":"m"}]})");
  ASSERT_EQ(mesh->GetMeshes()->Count(), 2);
  EXPECT_NE(dynamic_cast<TVertexGroupDef*>(mesh->GetMeshes()->Items(0)), nullptr);
  EXPECT_EQ(mesh->GetMeshes()->Items(1)->ClassName(), "TMeshDef");
  EXPECT_TRUE(mesh->GetRenderByVertexGroups());
  auto copy = RoundTrip(mesh.get());
  EXPECT_EQ(copy->GetMeshes()->Count(), 2);
  EXPECT_TRUE(copy->GetRenderByVertexGroups());
}

// A vertex group, an empty node and a group definition read back as a mesh hold no vertices:
// none of them may pull the combined box (and with it the pivot) out to the origin.
TEST(MeshTreeTest, ChildrenWithoutVerticesStayOutOfTheCombinedBox) {
  const std::string groupJson = TakeText(Owned<TGroupDef>(New<TGroupDef>(nullptr))->ToJSON());
  const std::function<void(TMeshDef*)> addChild[] = {
      [](TMeshDef* AMesh) {
        auto* group = New<TVertexGroupDef>(AMesh);
        group->AddIndices(std::vector<uint32_t>{0, 1, 2}, 0, 3, 0);
        AMesh->AddMesh(group);
      },
      [](TMeshDef* AMesh) { AMesh->AddMesh(New<TMeshDef>(AMesh)); },
      [&groupJson](TMeshDef* AMesh) {
        auto doc = Parse(R"({"Children":[)" + groupJson + "]}");
        AMesh->FromJSON(nullptr, doc.get());
      },
  };
  for (const auto& add : addChild) {
    auto mesh = Cube(100, 101);
    add(mesh.get());
    ASSERT_EQ(mesh->ChildCount(), 1);
    EXPECT_EQ(mesh->GetCombinedBoundingBox(), TBoundingBox(100, 100, 100, 101, 101, 101));
    mesh->MoveVerticesToPivot();
    EXPECT_EQ(mesh->GetVertexSource()->GetVertices(0), TPoint3D(-0.5f, -0.5f, -0.5f));
  }
  // A parent without vertices takes the box of its children alone.
  Owned<TMeshDef> empty(New<TMeshDef>());
  empty->AddMesh(New<TMeshDef>(empty.get()));
  empty->AddMesh(Cube(100, 101).release());
  EXPECT_EQ(empty->GetCombinedBoundingBox(), TBoundingBox(100, 100, 100, 101, 101, 101));
}

// Both ray-cast paths work in the mesh's local space whatever Transform and the mesh matrix
// are: the search without a tree must not test the local ray against the transformed box.
TEST(MeshTreeTest, RayCastPathsAgreeUnderTransforms) {
  struct Row {
    const char* Name;
    TMatrix3D Transform;
    TMatrix3D MeshMatrix;
  };
  const Row rows[] = {
      {"identity", TMatrix3D::Identity(), TMatrix3D::Identity()},
      {"Transform translated", TMatrix3D::CreateTranslation({10, 0, 0}), TMatrix3D::Identity()},
      {"Transform scaled", TMatrix3D::CreateScaling({3, 3, 3}), TMatrix3D::Identity()},
      {"mesh matrix translated", TMatrix3D::Identity(), TMatrix3D::CreateTranslation({0, 5, 0})},
      {"both", TMatrix3D::CreateRotationZ(0.7f) * TMatrix3D::CreateTranslation({-20, 0, 4}),
       TMatrix3D::CreateScaling({2, 1, 1}) * TMatrix3D::CreateTranslation({1, 2, 3})},
  };
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> coord(-1, 1);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Name);
    // One triangle around the local origin, the ray straight at it through the mesh matrix.
    auto brute = MakeMesh({{-1, -1, 0}, {1, -1, 0}, {0, 1, 0}}, {0, 2, 1});
    auto tree = MakeMesh({{-1, -1, 0}, {1, -1, 0}, {0, 1, 0}}, {0, 2, 1});
    brute->SetTransform(row.Transform);
    tree->SetTransform(row.Transform);
    tree->AcquireBVH();
    const TPoint3D from = TPoint3D(TVector3D(TPoint3D(0, 0, 5), 1) * row.MeshMatrix);
    const TPoint3D to = TPoint3D(TVector3D(TPoint3D(0, 0, 0), 1) * row.MeshMatrix);
    TPoint3D hit, normal;
    EXPECT_TRUE(brute->RayCastIntersect(from, to - from, row.MeshMatrix, TMatrix3D::Identity(), hit, normal));
    EXPECT_NEAR(hit.Distance(to), 0.0f, 1e-4f);
    // Random rays: the same answer from both paths.
    for (int r = 0; r < 200; ++r) {
      const TPoint3D a = TPoint3D(TVector3D(TPoint3D(coord(rng) * 3, coord(rng) * 3, 4), 1) * row.MeshMatrix);
      const TPoint3D b = TPoint3D(TVector3D(TPoint3D(coord(rng), coord(rng), 0), 1) * row.MeshMatrix);
      TPoint3D h1, n1, h2, n2;
      const bool x = brute->RayCastIntersect(a, b - a, row.MeshMatrix, TMatrix3D::Identity(), h1, n1);
      const bool y = tree->RayCastIntersect(a, b - a, row.MeshMatrix, TMatrix3D::Identity(), h2, n2);
      ASSERT_EQ(x, y) << r;
      if (x) {
        EXPECT_NEAR(h1.Distance(h2), 0.0f, 1e-3f);
      }
    }
  }
  // A triangle naming a vertex that does not exist is left out by both paths alike.
  auto holes = MakeMesh({{-1, -1, 0}, {1, -1, 0}, {0, 1, 0}}, {0, 1, 7, 0, 2, 1, 9, 9, 9});
  auto holesTree = MakeMesh({{-1, -1, 0}, {1, -1, 0}, {0, 1, 0}}, {0, 1, 7, 0, 2, 1, 9, 9, 9});
  ASSERT_NO_THROW(holesTree->AcquireBVH());
  for (const TPoint3D& from : {TPoint3D(0, 0, 5), TPoint3D(0, -0.5f, -5), TPoint3D(3, 3, 5)}) {
    TPoint3D h1, n1, h2, n2;
    const TPoint3D dir(0, 0, from.Z > 0 ? -1.0f : 1.0f);
    const bool x = holes->RayCastIntersect(from, dir, TMatrix3D::Identity(), TMatrix3D::Identity(), h1, n1);
    EXPECT_EQ(holesTree->RayCastIntersect(from, dir, TMatrix3D::Identity(), TMatrix3D::Identity(), h2, n2), x);
    if (x) {
      EXPECT_EQ(h1, h2);
    }
  }
  // A vertex group casts over its parent's vertices without a tree as well.
  auto parent = MakeMesh({{-1, -1, 0}, {1, -1, 0}, {0, 1, 0}}, {0, 2, 1});
  auto* group = New<TVertexGroupDef>(parent.get());
  group->AddIndices(std::vector<uint32_t>{0, 2, 1}, 0, 3, 0);
  parent->AddMesh(group);
  TPoint3D hit, normal;
  EXPECT_TRUE(group->RayCastIntersect({0, 0, 5}, {0, 0, -1}, TMatrix3D::Identity(), TMatrix3D::Identity(), hit, normal));
}

// Whatever the fields say, a written "VertexFormat"/"IndexFormat" describes the data written.
class MeshHeaderTest : public ::testing::Test {
protected:
  TMemoryBufferClassScope FScope;
};

TEST_F(MeshHeaderTest, WrittenFormatsAreTheBuffersOwn) {
  // Vertex + TexCoord1, and a 32-bit index above 65535.
  TVertexBuffer vertices(VertexFormatsFromMask(0x0801), 3);
  for (int i = 0; i < 3; ++i) {
    vertices.SetVertices(i, {float(i), 0, 0});
    vertices.SetTexCoord(1, i, {0.25f * float(i), 0.5f});
  }
  TIndexBuffer indices(3, TIndexFormat::UInt32);
  indices.SetIndices(0, 0);
  indices.SetIndices(1, 1);
  indices.SetIndices(2, 70000);
  TMeshBufferObject shared;
  const std::function<void(TMeshDef*)> paths[] = {
      [&](TMeshDef* AMesh) {
        TMeshData data;
        DirtyHackApplyMeshDataBuffers(&data, &vertices, &indices);
        AMesh->ApplyFromMeshData(&data);
      },
      [&](TMeshDef* AMesh) {
        Owned<TMeshDef> source(New<TMeshDef>());
        source->SetVertices(&vertices);
        source->SetIndices(&indices);
        source->ApplyToMeshDef(AMesh, TCopyVertexOptions());
      },
      [&](TMeshDef* AMesh) { AMesh->LinkMeshBuffer(&shared, &vertices, &indices); },
  };
  for (size_t p = 0; p < std::size(paths); ++p) {
    SCOPED_TRACE(p);
    Owned<TMeshDef> mesh(New<TMeshDef>());
    mesh->CreateIndexSource(TIndexFormat::UInt16);  // the fields: default vertices, 16-bit indices
    paths[p](mesh.get());
    ASSERT_EQ(VertexFormatsToMask(mesh->GetVertexFormat()), DefaultMeshVertexFormatMask);
    ASSERT_EQ(mesh->GetIndexFormat(), TIndexFormat::UInt16);
    auto copy = RoundTrip(mesh.get());
    EXPECT_EQ(VertexFormatsToMask(copy->GetVertexSource()->Format()), 0x0801);
    EXPECT_EQ(copy->GetVertexSource()->GetTexCoord(1, 2), TPointF(0.5f, 0.5f));
    EXPECT_EQ(copy->GetIndexSource()->Format(), TIndexFormat::UInt32);
    EXPECT_EQ(copy->GetIndexSource()->GetIndices(2), 70000u);
  }
}

// JSON has no number for NaN or the infinities: the error says which mesh, attribute and vertex.
TEST(MeshDefJsonTest, NonFiniteVertexValuesNameTheirPlace) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  struct Row {
    std::function<void(TVertexBuffer*)> Spoil;
    const char* Message;
  };
  const Row rows[] = {
      {[&](TVertexBuffer* b) { b->SetVertices(2, {0, nan, 0}); },
       "mesh \"rock\": Positions of vertex 2 is not a finite number"},
      {[&](TVertexBuffer* b) { b->SetNormals(0, {inf, 0, 0}); },
       "mesh \"rock\": Normals of vertex 0 is not a finite number"},
      {[&](TVertexBuffer* b) { b->SetTangents(1, {0, 0, -inf}); },
       "mesh \"rock\": Tangents of vertex 1 is not a finite number"},
      {[&](TVertexBuffer* b) { b->SetTexCoord0(1, {nan, 0}); },
       "mesh \"rock\": TexCoord0 of vertex 1 is not a finite number"},
  };
  for (const Row& row : rows) {
    auto mesh = MakeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 1, 2});
    mesh->SetId("rock");
    row.Spoil(mesh->GetVertexSource());
    ExpectMessage<Exception>([&] { delete mesh->ToJSON(); }, row.Message);
  }
}

// Reading the same mesh twice in one late-resolution scope replaces its material reference:
// the freed first reference must leave the list before the pass.
TEST(MeshDefJsonTest, ReplacedMaterialReferenceLeavesTheLateList) {
  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  auto doc = Parse(R"({"Id":"m","Material":"Stone"})");
  Owned<TMeshDef> mesh(New<TMeshDef>(model.get()));
  {
    TLateResolveScope scope(model.get());
    mesh->FromJSON(model.get(), doc.get());
    mesh->FromJSON(model.get(), doc.get());
    EXPECT_EQ(model->GetLateResolveList()->Count(), 1);
    New<TMaterialDef>(model.get(), "Stone");  // registers itself
    model->LateResolve();
    EXPECT_EQ(model->GetLateResolveList()->Count(), 0);
    // A definition freed while listed leaves the list as well.
    mesh->FromJSON(model.get(), Parse(R"({"Material":"Later"})").get());
    EXPECT_EQ(model->GetLateResolveList()->Count(), 1);
    mesh.reset();
    EXPECT_EQ(model->GetLateResolveList()->Count(), 0);
    model->LateResolve();
  }
}

// ---------------------------------------------------------------------------------------
// GPU link

class MeshBufferLinkTest : public ::testing::Test {
protected:
  TMemoryBufferClassScope FScope;
};

TEST_F(MeshBufferLinkTest, StaticMeshUploadsAtOnceOnTheMainThread) {
  auto mesh = MakeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 1, 2});
  mesh->SetIsStatic(true);
  ASSERT_TRUE(mesh->GetIsStatic());
  TMeshBufferObject* gpu = mesh->GetBufferObject();
  ASSERT_NE(gpu, nullptr);
  EXPECT_EQ(gpu->GetKind(), TQuorvelPrimitivesKind::Triangles);
  EXPECT_EQ(gpu->GetStaticBuffer(), gpu);
  const TVertexBuffer* vb = mesh->GetVertexSource();
  const auto* all = MemoryComponent(gpu, TMeshBufferComponent::All);
  ASSERT_EQ(all->Data.size(), size_t(vb->Size()));
  EXPECT_EQ(0, std::memcmp(all->Data.data(), vb->Buffer(), all->Data.size()));
  EXPECT_EQ(MemoryComponent(gpu, TMeshBufferComponent::Indices)->Data.size(), 12u);
  mesh->SetIsStatic(true);
  EXPECT_EQ(mesh->GetBufferObject(), gpu);
  mesh->RefreshMeshBuffer(false);
  mesh->RefreshMeshBuffer(true);
  EXPECT_EQ(all->Pushes, 3);
  gpu->SetKind(TQuorvelPrimitivesKind::Lines);
  mesh->UpdateMeshBuffer();
  ASSERT_NE(mesh->GetBufferObject(), nullptr);
  EXPECT_EQ(mesh->GetBufferObject()->GetKind(), TQuorvelPrimitivesKind::Lines);
  mesh->SetIsStatic(false);
  EXPECT_EQ(mesh->GetBufferObject(), nullptr);
  EXPECT_FALSE(mesh->GetIsStatic());

  Owned<TMeshDef> noIndices(New<TMeshDef>());
  noIndices->AddVertices({Vertex({0, 0, 0})}, 0, 1);
  noIndices->SetIsStatic(true);
  EXPECT_FALSE(noIndices->GetIsStatic());
  EXPECT_EQ(noIndices->GetBufferObject(), nullptr);
}

TEST_F(MeshBufferLinkTest, QueuedUploadNeverTouchesAFreedDefinition) {
  auto* mesh = MakeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 1, 2}).release();
  std::thread worker([mesh] {
    mesh->SetIsStatic(true);
    mesh->SetIsStatic(true);  // a second request before the queue drained
  });
  worker.join();
  EXPECT_TRUE(mesh->GetIsStatic());
  EXPECT_EQ(mesh->GetBufferObject(), nullptr);
  while (CheckSynchronize()) {
  }
  ASSERT_NE(mesh->GetBufferObject(), nullptr);  // the later request replaced the earlier one

  std::thread again([mesh] { mesh->UpdateMeshBuffer(); });
  again.join();
  Free(mesh);
  while (CheckSynchronize()) {
  }
}

TEST_F(MeshBufferLinkTest, LinkedBuffersAreBorrowedNotOwned) {
  TMeshBufferObject shared;
  const uint32_t idx[] = {0, 1, 2};
  shared.PushData(TMeshBufferComponent::Indices, idx, sizeof(idx));
  TVertexBuffer vertices(VertexFormatsFromMask(0x0001), 3);
  TIndexBuffer indices(3, TIndexFormat::UInt32);
  {
    auto mesh = MakeMesh({{0, 0, 0}}, {0});
    mesh->LinkMeshBuffer(&shared, &vertices, &indices);
    EXPECT_TRUE(mesh->GetBuffersLinked());
    EXPECT_TRUE(mesh->GetIsStatic());
    EXPECT_EQ(mesh->GetVertexSource(), &vertices);
    EXPECT_EQ(mesh->GetBufferObject()->GetComponent(TMeshBufferComponent::Indices),
              shared.GetComponent(TMeshBufferComponent::Indices));
    mesh->UnlinkMeshBuffer();
    EXPECT_EQ(mesh->GetVertexSource(), nullptr);
    EXPECT_EQ(mesh->GetBufferObject(), nullptr);
    mesh->LinkMeshBuffer(&shared, &vertices, &indices);
    mesh->SetVertices(nullptr);  // our own buffer from here on: freed with the mesh
  }
  EXPECT_EQ(MemoryComponent(&shared, TMeshBufferComponent::Indices)->Data.size(), sizeof(idx));
  EXPECT_EQ(vertices.Length(), 3);
}

}  // namespace
}  // namespace quorvel
