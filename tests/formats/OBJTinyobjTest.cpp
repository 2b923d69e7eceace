// Differential test: for files of triangles only, our meshes hold the same triangles as
// tinyobjloader reads (positions and normals per corner), each with the winding reversed.
#define TINYOBJLOADER_IMPLEMENTATION
#include <tiny_obj_loader.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "OBJSupport.h"
#include "lib/formats/Loader.h"

namespace quorvel {
namespace {

const std::string TinyObjDir = std::string(QUORVEL_TEST_DATA_DIR) + "/obj/";
const std::string TinyDemoDir = std::string(QUORVEL_TEST_DATA_DIR) + "/../../demo/assets/";

// A corner rounded to 1e-4, so that both readers' float parses compare equal.
using TCorner = std::array<long, 6>;
using TTriangle = std::array<TCorner, 3>;

long Round4(double A) { return std::lround(A * 1e4); }

// The rotation of the corners that starts with the smallest one: the same triangle with the
// same winding compares equal whatever corner it starts at.
TTriangle Canonical(TTriangle A) {
  const auto first = std::min_element(A.begin(), A.end());
  std::rotate(A.begin(), first, A.end());
  return A;
}

void CollectOurs(const TMeshDef* AMesh, std::vector<TTriangle>& AOut) {
  const TVertexBuffer* vb = AMesh->GetVertexSource();
  const TIndexBuffer* ib = AMesh->GetIndexSource();
  if (vb && ib)
    for (int32_t i = 0; i + 2 < ib->Length(); i += 3) {
      TTriangle t;
      for (int k = 0; k < 3; ++k) {
        const int32_t v = int32_t(ib->GetIndices(i + k));
        const TPoint3D p = vb->GetVertices(v);
        const TPoint3D n = vb->GetNormals(v);
        t[k] = {Round4(p.X), Round4(p.Y), Round4(p.Z), Round4(n.X), Round4(n.Y), Round4(n.Z)};
      }
      AOut.push_back(Canonical(t));
    }
  for (int32_t i = 0; i < AMesh->ChildCount(); ++i)
    CollectOurs(static_cast<const TMeshDef*>(AMesh->GetChildren()->Items(i)), AOut);
}

std::vector<TTriangle> OurTriangles(const std::string& APath) {
  TOwned<TModelDef> model(TQuorvelLoader::LoadUndefinedModelDefFromFile(nullptr, APath));
  std::vector<TTriangle> result;
  for (int32_t i = 0; i < model->ChildCount(); ++i)
    CollectOurs(static_cast<const TMeshDef*>(model->GetChildren()->Items(i)), result);
  std::sort(result.begin(), result.end());
  return result;
}

std::vector<TTriangle> Theirs(const std::string& APath, const std::string& AFolder) {
  tinyobj::attrib_t attrib;
  std::vector<tinyobj::shape_t> shapes;
  std::vector<tinyobj::material_t> materials;
  std::string warn, err;
  EXPECT_TRUE(tinyobj::LoadObj(&attrib, &shapes, &materials, &warn, &err, APath.c_str(), AFolder.c_str(), true))
      << err;
  std::vector<TTriangle> result;
  for (const tinyobj::shape_t& shape : shapes) {
    const auto& idx = shape.mesh.indices;
    for (size_t i = 0; i + 2 < idx.size(); i += 3) {
      TTriangle t;
      for (int k = 0; k < 3; ++k) {
        const tinyobj::index_t& c = idx[i + size_t(k)];
        const float* p = &attrib.vertices[3 * size_t(c.vertex_index)];
        const float* n = &attrib.normals[3 * size_t(c.normal_index)];
        // Reversed winding: corners 0, 2, 1.
        t[k == 0 ? 0 : 3 - k] = {Round4(p[0]), Round4(p[1]), Round4(p[2]), Round4(n[0]), Round4(n[1]), Round4(n[2])};
      }
      result.push_back(Canonical(t));
    }
  }
  std::sort(result.begin(), result.end());
  return result;
}

TEST(OBJTinyobj, TriangleOnlyFilesMatchWithReversedWinding) {
  const std::pair<std::string, std::string> files[] = {
      {TinyObjDir + "WusonOBJ.obj", TinyObjDir},
      {TinyObjDir + "spider.obj", TinyObjDir},
      {TinyDemoDir + "monkey.obj", TinyDemoDir},
  };
  for (const auto& [file, folder] : files) {
    const std::vector<TTriangle> ours = OurTriangles(file);
    const std::vector<TTriangle> theirs = Theirs(file, folder);
    ASSERT_EQ(ours.size(), theirs.size()) << file;
    EXPECT_GT(ours.size(), 0u) << file;
    size_t differing = 0;
    for (size_t i = 0; i < ours.size(); ++i)
      if (ours[i] != theirs[i]) ++differing;
    EXPECT_EQ(differing, 0u) << file;
  }
}

}  // namespace
}  // namespace quorvel
