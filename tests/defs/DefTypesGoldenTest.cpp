#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib/defs/DefTypes.h"
#include "tests/defs/DefTypesTestUtil.h"

namespace quorvel {
namespace {

using test::ParseObject;
using test::TakeText;

// The stored form of a mesh with one instance and one vertex group, every pair in its place.
const char* const MeshGolden =
    R"({"Type":"Quorvel.DefTypes.TMeshDef","Id":"Box","Owner":null,"Properties":[{"Name":"Weight","Value":2}],)"
    R"("Transform":"1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000 0.0000000 0.0000000 )"
    R"(0.0000000 0.0000000 1.0000000 0.0000000 1.0000000 2.0000000 3.0000000 1.0000000",)"
    R"("Children":[{"Type":"Quorvel.DefTypes.TVertexGroupDef","Id":"Top","Owner":"Box","Properties":[],)"
    R"("Transform":"1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000 0.0000000 0.0000000 )"
    R"(0.0000000 0.0000000 1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000",)"
    R"("IsStatic":false,"VertexFormat":"Vertex,Normal,ColorF0,TexCoord0,BiNormal,Tangent","VertexCount":0,)"
    R"("VerticesDataType":"Values","Vertices":{},"IndexFormat":1,"IndexCount":3,"IndicesDataType":"Values",)"
    R"("Indices":[2,1,0],"VertexIndexMap":{},"FaceOrientation":0,"Material":null,"Instances":[]}],)"
    R"("IsStatic":false,"VertexFormat":"Vertex,TexCoord0","VertexCount":3,"VerticesDataType":"Values",)"
    R"("Vertices":{"Positions":[0,0,0,1,0,0,0,1,0],"Normals":[],"Binormals":[],"Tangents":[],)"
    R"("TexCoord0":[0,0.5,1,0.5,0,0.5],"TexCoord1":[],"TexCoord2":[],"TexCoord3":[],)"
    R"("Color0":[],"Color1":[],"Color2":[],"Color3":[]},)"
    R"("IndexFormat":1,"IndexCount":3,"IndicesDataType":"Values","Indices":[0,1,2],)"
    R"("VertexIndexMap":{"0":[0],"1":[1,2]},"FaceOrientation":2,"Material":"Wood",)"
    R"("Instances":[{"Type":"Quorvel.DefTypes.TMeshInstanceDef","Id":"Copy","MeshRef":"Box",)"
    R"("Position":"5.0000000 0.0000000 -2.5000000","Scale":"1.0000000 1.0000000 1.0000000",)"
    R"("RotationAngle":"0.0000000 90.0000000 0.0000000","RotationCenter":"0.0000000 0.0000000 0.0000000"}]})";

// The stored form of a group definition with its metadata and a segment child.
const char* const GroupGolden =
    R"({"Type":"Quorvel.DefTypes.TGroupDef","Id":"Crate","Owner":null,"Properties":[{"Name":"Stackable","Value":true}],)"
    R"("Transform":"2.0000000 0.0000000 0.0000000 0.0000000 0.0000000 2.0000000 0.0000000 0.0000000 )"
    R"(0.0000000 0.0000000 2.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000",)"
    R"("Children":[{"Type":"Quorvel.DefTypes.TSegmentDef","Id":"Lid","Owner":"Crate","Properties":[],)"
    R"("Transform":"1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000 0.0000000 0.0000000 )"
    R"(0.0000000 0.0000000 1.0000000 0.0000000 0.0000000 0.0000000 0.0000000 1.0000000","Reference":"Crate"}],)"
    R"("Author":"Ann","Timestamp":"2024-05-06 07:08:09","Version":"1.2","License":"CC0",)"
    R"("Link":"https://example.org/crate","Descr":"A crate"})";

TOwned<TMeshDef> GoldenMesh() {
  TOwned<TMeshDef> mesh(New<TMeshDef>());
  mesh->SetId("Box");
  mesh->SetTransform(TMatrix3D::CreateTranslation({1, 2, 3}));
  mesh->GetProperties()->Add("Weight", TValue::From(int32_t(2)));
  const TVertexFormats format = VertexFormatsFromMask(0x0401);  // Vertex, TexCoord0
  mesh->CreateVertexSource(format);
  TVertexBuffer vertices(format, 3);
  const TPoint3D positions[] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  for (int i = 0; i < 3; ++i) {
    vertices.SetVertices(i, positions[i]);
    vertices.SetTexCoord0(i, {positions[i].X, 0.5f});
  }
  mesh->SetVertices(&vertices);
  mesh->AddIndices(std::vector<uint32_t>{0, 1, 2}, 0, 3, 0);
  mesh->GetVertexIndexMap()->AddIndex(0, 0);
  mesh->GetVertexIndexMap()->AddIndex(1, 1);
  mesh->GetVertexIndexMap()->AddIndex(1, 2);
  mesh->SetFaceOrientation(TFaceOrientation::TwoFace);
  auto* material = New<TMaterialRefDef>();
  material->SetId("Wood");
  mesh->SetMaterial(material);
  auto* instance = New<TMeshInstanceDef>(mesh.get());
  instance->SetId("Copy");
  instance->SetPosition({5, 0, -2.5f});
  instance->SetScale({1, 1, 1});
  instance->SetRotationAngle({0, 90, 0});
  mesh->GetInstances()->Add(instance);
  auto* group = New<TVertexGroupDef>(mesh.get());
  group->SetId("Top");
  group->AddIndices(std::vector<uint32_t>{2, 1, 0}, 0, 3, 0);
  mesh->AddMesh(group);
  return mesh;
}

TOwned<TGroupDef> GoldenGroup() {
  TOwned<TGroupDef> group(New<TGroupDef>(nullptr));
  group->SetId("Crate");
  group->SetAuthor("Ann");
  group->SetTimestamp(EncodeDateTime(2024, 5, 6, 7, 8, 9, 0));
  group->SetVersion("1.2");
  group->SetLicense("CC0");
  group->SetLink("https://example.org/crate");
  group->SetDescr("A crate");
  group->GetProperties()->Add("Stackable", TValue::From(true));
  group->SetTransform(TMatrix3D::CreateScaling({2, 2, 2}));
  auto* segment = New<TSegmentDef>(group.get());
  segment->SetId("Lid");
  segment->SetReferenceId("Crate");
  group->AddChild(segment);
  return group;
}

TEST(DefTypesGolden, MeshWithAnInstanceAndAVertexGroup) {
  const std::string text = TakeText(GoldenMesh()->ToJSON());
  EXPECT_EQ(text, MeshGolden);
  // Read back into the same classes, it writes the same text.
  TOwned<TMeshDef> back(New<TMeshDef>());
  back->FromJSON(nullptr, ParseObject(MeshGolden).get());
  EXPECT_EQ(TakeText(back->ToJSON()), MeshGolden);
  ASSERT_EQ(back->ChildCount(), 1);
  auto* group = dynamic_cast<TVertexGroupDef*>(back->GetChildren()->Items(0));
  ASSERT_NE(group, nullptr);
  EXPECT_TRUE(back->GetRenderByVertexGroups());
  EXPECT_EQ(group->GetVertexSource(), back->GetVertexSource());
  EXPECT_EQ(group->GetIndexSource()->GetIndices(0), 2u);
  ASSERT_EQ(back->GetInstances()->Count(), 1);
  EXPECT_EQ(back->GetInstances()->Items(0)->GetMeshRef(), back.get());
  EXPECT_EQ(back->GetInstances()->Items(0)->GetRotationAngle(), TPoint3D(0, 90, 0));
  EXPECT_EQ(back->GetMaterial()->GetId(), "Wood");
  EXPECT_EQ(back->GetVertexSource()->GetTexCoord0(1), TPointF(1, 0.5f));
  EXPECT_EQ(back->GetVertexIndexMap()->Items(1), (std::vector<uint32_t>{1, 2}));
}

TEST(DefTypesGolden, GroupDefinition) {
  const std::string text = TakeText(GoldenGroup()->ToJSON());
  EXPECT_EQ(text, GroupGolden);
  TOwned<TGroupDef> back(New<TGroupDef>(nullptr));
  back->FromJSON(nullptr, ParseObject(GroupGolden).get());
  EXPECT_EQ(TakeText(back->ToJSON()), GroupGolden);
  EXPECT_EQ(back->GetTimestamp(), EncodeDateTime(2024, 5, 6, 7, 8, 9, 0));
  ASSERT_EQ(back->ChildCount(), 1);
  auto* segment = dynamic_cast<TSegmentDef*>(back->GetChildren()->Items(0));
  ASSERT_NE(segment, nullptr);
  EXPECT_EQ(segment->GetReferenceId(), "Crate");
  EXPECT_EQ(segment->GetOwnerRef(), back.get());
}

}  // namespace
}  // namespace quorvel
