#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "OBJSupport.h"
#include "framework/io/Path.h"
#include "framework/io/Stream.h"
#include "framework/rtl/Log.h"
#include "lib/formats/assets/AssetsManager.h"
#include "lib/formats/obj/OBJLoader.h"

namespace quorvel {
namespace {

using testkit::DescribeModel;
using testkit::ErrorOf;

const std::string ObjDir = std::string(QUORVEL_TEST_DATA_DIR) + "/obj/";
const std::string DemoDir = std::string(QUORVEL_TEST_DATA_DIR) + "/../../demo/assets/";

TOwned<TModelDef> LoadFile(const std::string& APath) {
  return TOwned<TModelDef>(TQuorvelLoader::LoadUndefinedModelDefFromFile(nullptr, APath));
}

std::string Tree(const std::string& APath) {
  std::string tree;
  const std::string error = ErrorOf([&] { tree = DescribeModel(LoadFile(APath).get()); });
  return error.empty() ? tree : error;
}

TEST(OBJFiles, GoldenMeshTrees) {
  struct TCase {
    const char* File;
    std::string Tree;
  };
  const std::string box = "OBJ_1 v0 t0 (Default[obj_default_material] v36 t12)";
  const TCase cases[] = {
      {"box.obj", box},
      {"box_UTF16BE.obj", box},
      {"box_without_lineending.obj", box},
      {"box_mat_with_spaces.obj", "OBJ_1 v0 t0 (Material_name_with_many__many_spaces[Material name with many, many spaces] v36 t12)"},
      {"regr_3429812.obj", "OBJ_1 v0 t0 (Trim[Trim] v0 t0; rectangle[Trim] v6 t2; triangle1[Trim] v3 t1; triangle2[Trim] v3 t1)"},
      {"spider.obj", 
       "OBJ_1 v0 t0 (HLeib01[obj_default_material] v0 t0; HLeibTex[HLeibTex] v240 t80; OK[HLeibTex] v0 t0; Skin[Skin] v180 t60 (Skin_1[Skin] v270 t90; Skin_2[Skin] v60 t20; Skin_3[Skin] v270 t90); "
       "Bein1Li[Skin] v0 t0; BeinTex[BeinTex] v294 t98 (BeinTex_1[BeinTex] v294 t98; BeinTex_2[BeinTex] v294 t98; BeinTex_3[BeinTex] v294 t98; "
       "BeinTex_4[BeinTex] v294 t98; BeinTex_5[BeinTex] v294 t98; BeinTex_6[BeinTex] v294 t98; BeinTex_7[BeinTex] v294 t98; "
       "BeinTex_8[BeinTex] v126 t42; BeinTex_9[BeinTex] v126 t42; BeinTex_10[BeinTex] v126 t42; BeinTex_11[BeinTex] v126 t42); Bein1Re[BeinTex] v0 t0; Bein2Li[BeinTex] v0 t0; "
       "Bein2Re[BeinTex] v0 t0; Bein3Re[BeinTex] v0 t0; Bein3Li[BeinTex] v0 t0; Bein4Re[BeinTex] v0 t0; Bein4Li[BeinTex] v0 t0; Zahn[BeinTex] v0 t0; klZahn[BeinTex] v0 t0; "
       "Kopf[BeinTex] v0 t0; Brust[Skin] v0 t0; Kopf2[Skin] v0 t0; Zahn2[Skin] v0 t0; klZahn2[BeinTex] v0 t0; "
       "Auge[BeinTex] v0 t0; Augentex[Augentex] v114 t38 (Augentex_1[Augentex] v114 t38); Duplicate05[Augentex] v0 t0)"},
      {"WusonOBJ.obj", "OBJ_1 v0 t0 (default[obj_default_material] v11196 t3732)"},
      {"box_longline.obj", "invalid polygon size 936 - max. vertex count of 12 per polygon exceeded"},
      {"invalid/malformed.obj", "invalid index for vertex position coordinate"},
  };
  for (const TCase& c : cases) EXPECT_EQ(Tree(ObjDir + c.File), c.Tree) << c.File;
}

TEST(OBJFiles, PointsAndLinesAreLogged) {
  TLogCapture log;
  EXPECT_EQ(Tree(ObjDir + "testmixed.obj"), "OBJ_1 v0 t0 (Default[obj_default_material] v0 t0 (Default_1[obj_default_material] v36 t12))");
  EXPECT_TRUE(log.Contains("points not supported for: ")) << ::testing::PrintToString(log.Lines());
  EXPECT_TRUE(log.Contains("lines not supported for: "));
}

TEST(OBJFiles, SpiderMaterialsTakeTheirBackslashTextures) {
  auto model = LoadFile(ObjDir + "spider.obj");
  int textured = 0;
  for (const auto& [id, material] : model->GetMaterials())
    if (id != "obj_default_material") {
      EXPECT_EQ(material->GetKind(), TMaterialDefKind::mkDefault) << id;
      const TTextureDef* texture = material->GetTexture(TColorChannelDef::Diffuse);
      ASSERT_NE(texture, nullptr) << id;
      EXPECT_TRUE(texture->GetIsAssetOwner()) << id;
      const auto& assets = model->GetTextureAssets();
      EXPECT_TRUE(std::any_of(assets.begin(), assets.end(),
                              [&](const TQuorvelTextureAsset* a) { return a == texture->GetAssetRef(); }))
          << id;
      ++textured;
    }
  EXPECT_GT(textured, 0);
  EXPECT_EQ(model->GetTextureAssets().size(), 5u);
}

TEST(OBJFiles, DemoMonkey) {
  auto model = LoadFile(DemoDir + "monkey.obj");
  EXPECT_EQ(DescribeModel(model.get()), "OBJ_1 v0 t0 (Material[Material] v11808 t3936)");
  const TMaterialDef* material = model->GetMaterial("Material");
  ASSERT_NE(material, nullptr);
  EXPECT_EQ(material->GetKind(), TMaterialDefKind::mkColor);
  EXPECT_FLOAT_EQ(material->GetSpecPow(), 250.0f);
  EXPECT_FLOAT_EQ(material->GetDiffuse().R, 0.8f);
  EXPECT_FLOAT_EQ(material->GetSpecular().G, 0.5f);
  EXPECT_FLOAT_EQ(material->GetAmbient().B, 1.0f);
  EXPECT_TRUE(material->GetUseClipping());
  EXPECT_FLOAT_EQ(material->GetClipping().A, 0.0f);
  const auto* mesh = static_cast<const TMeshDef*>(model->GetChildren()->Items(0)->GetChildren()->Items(0));
  const TVertexBuffer* vb = mesh->GetVertexSource();
  ASSERT_TRUE(vb->HasFormat(TVertexFormat::Tangent));
  // The file's normals are kept: unit length, and the first one as written.
  for (int i = 0; i < vb->Length(); i += 97) EXPECT_NEAR(vb->GetNormals(i).Length(), 1.0f, 2e-3f) << i;
}

// Every prefix of a small OBJ + MTL pair loads or raises; ASan reports the rest.
TEST(OBJFiles, EveryPrefixLoadsOrRaises) {
  const std::string obj =
      "mtllib lib.mtl\nv 0 0 0\nv 1 0 0\nv 1,5 1\nvt 0 1\nvn 0 0 1\ng A B\nusemtl Red\nf 1/1/1 2/1/1 3/1/1 1//1\ns off\n";
  const std::string mtl = "newmtl Red\nKd 1 0 0\nd 0.5\nTf 1 1 1\nSh 2\nmap_Kd -s 1 1 1 -o 0 0 x.png\n";
  for (size_t cut = 0; cut <= obj.size(); ++cut)
    (void)ErrorOf([&] { testkit::LoadObjText(obj.substr(0, cut), mtl); });
  for (size_t cut = 0; cut <= mtl.size(); ++cut)
    (void)ErrorOf([&] { testkit::LoadObjText(obj, mtl.substr(0, cut)); });
}

}  // namespace
}  // namespace quorvel
