#include <gtest/gtest.h>

#include <string>

#include "OBJSupport.h"
#include "lib/formats/assets/AssetsManager.h"

namespace quorvel {
namespace {

using testkit::ErrorOf;

const std::string UseLib = "mtllib lib.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";

struct TMtlCase {
  const char* Name;
  std::string Mtl;
  std::string Material;  // id of the material checked
  std::string Expected;  // Describe() of it, or the exception message
};

std::string Describe(const TMaterialDef* M) {
  auto c = [](const TAlphaColorF& A) {
    return Format("(%g %g %g %g)", {double(A.R), double(A.G), double(A.B), double(A.A)});
  };
  return Format("kind %d diffuse %s clip %s %s pow %g rough %g metal %g",
                {int64_t(M->GetKind()), c(M->GetDiffuse()), c(M->GetClipping()),
                 std::string(M->GetUseClipping() ? "on" : "off"), double(M->GetSpecPow()), double(M->GetRoughness()),
                 double(M->GetMetallic())});
}

TEST(MTL, MaterialsAndErrors) {
  const std::string defaults = " pow 0.5 rough 1 metal 1";
  const TMtlCase cases[] = {
      {"colour and dissolve", "newmtl A\nKd 1 0 0\nd 0.5\n", "A",
       "kind 1 diffuse (1 0 0 1) clip (0 0 0 0.5) on" + defaults},
      {"comma decimals", "newmtl A\nKd 0,5 0,5 0,5\n", "A", "kind 1 diffuse (0.5 0.5 0.5 1) clip (0 0 0 0) on" + defaults},
      {"no d or Tf keeps clipping on", "newmtl A\n", "A", "kind 1 diffuse (0.75 0.75 0.75 1) clip (0 0 0 0) on" + defaults},
      {"transparent with Tf", "newmtl A\nTf 0.25 0.5 0.75\nd 0\n", "A",
       "kind 1 diffuse (0.75 0.75 0.75 1) clip (0.25 0.5 0.75 1) off" + defaults},
      {"short colour", "newmtl A\nKd 1 0\n", "A", "unexpected syntax in material library: Kd 1 0"},
      {"blank line", "newmtl A\n   \n", "A", "unexpected syntax in material library:    "},
      {"newmtl without name", "newmtl\n", "A", "unexpected syntax in material library: newmtl"},
      {"not a number", "newmtl A\nNs x\n", "A", "'x' is not a valid floating point value"},
      {"colour before newmtl ignored", "Kd 1 1 1\nnewmtl A\n", "A",
       "kind 1 diffuse (0.75 0.75 0.75 1) clip (0 0 0 0) on" + defaults},
      {"Sh 2", "newmtl A\nSh 2\n", "A", "kind 3 diffuse (0.75 0.75 0.75 1) clip (0 0 0 0) on" + defaults},
      {"Sh 2.5 rounds to even", "newmtl A\nSh 2.5\n", "A", "kind 3 diffuse (0.75 0.75 0.75 1) clip (0 0 0 0) on" + defaults},
      {"Sh 3.5", "newmtl A\nSh 3.5\n", "A", "kind 0 diffuse (0.75 0.75 0.75 1) clip (0 0 0 0) on" + defaults},
      {"Ns Pr Pm", "newmtl A\nNs 20\nPr 0.25\nPm 0.75\nillum 2\nNi 1.5\n", "A",
       "kind 1 diffuse (0.75 0.75 0.75 1) clip (0 0 0 0) on pow 20 rough 0.25 metal 0.75"},
      {"Pr without value", "newmtl A\nPr\n", "A", "unexpected syntax in material library: Pr"},
      {"name with blanks kept whole", "newmtl Red Paint\nKd 1 0 0\n", "Red Paint",
       "kind 1 diffuse (1 0 0 1) clip (0 0 0 0) on" + defaults},
      {"diffuse map with options", "newmtl A\nmap_Kd -s 1 1 1 -o 0 0 0 tex/wood.png\n", "A",
       "kind 0 diffuse (0.75 0.75 0.75 1) clip (0 0 0 0) on" + defaults},
      {"bump then diffuse keeps bump", "newmtl A\nbump tex/wood.png\nmap_Kd tex/wood.png\n", "A",
       "kind 6 diffuse (0.75 0.75 0.75 1) clip (0 0 0 0) on" + defaults},
      {"normal map", "newmtl A\nmap_Bump -bm 1 tex/wood.png\n", "A",
       "kind 5 diffuse (0.75 0.75 0.75 1) clip (0 0 0 0) on" + defaults},
      {"options run to the end", "newmtl A\nmap_Kd -s 1 1\n", "A",
       "kind 1 diffuse (0.75 0.75 0.75 1) clip (0 0 0 0) on" + defaults},
      {"missing texture file", "newmtl A\nmap_Kd gone.png\n", "A", "Cannot open file"},
  };
  for (const TMtlCase& c : cases) {
    testkit::TScratchDir dir;
    dir.Write("tex/wood.png", "not decoded");
    dir.Write("lib.mtl", c.Mtl);
    const std::string obj = dir.Write("model.obj", UseLib);
    TOwned<TOBJModel> model(New<TOBJModel>(nullptr, nullptr));
    std::string got;
    const std::string error = ErrorOf([&] {
      model->LoadFromFile(obj);
      const TMaterialDef* m = model->GetMaterial(c.Material);
      got = m ? Describe(m) : "no material";
    });
    if (c.Expected == "Cannot open file")
      EXPECT_EQ(error.rfind("Cannot open file", 0), 0u) << c.Name << ": " << error;
    else
      EXPECT_EQ(error.empty() ? got : error, c.Expected) << c.Name;
  }
}

// Each map statement gives its material a texture of the row's channel, owned by the material;
// the model's registry takes over the first asset of each file, a repeated file stays the
// texture's own (ASan checks both are freed once).
TEST(MTL, TexturesJoinTheirMaterials) {
  const std::pair<const char*, TColorChannelDef> rows[] = {
      {"map_Kd", TColorChannelDef::Diffuse},   {"map_Ka", TColorChannelDef::Ambient},
      {"map_Ks", TColorChannelDef::Specular},  {"map_Ke", TColorChannelDef::Emissive},
      {"map_Ns", TColorChannelDef::Specular},  {"map_d", TColorChannelDef::Opacity},
      {"map_Bump", TColorChannelDef::Normal},  {"bump", TColorChannelDef::Normal},
      {"disp", TColorChannelDef::Displacement}, {"refl", TColorChannelDef::Reflection},
      {"MAP_PM", TColorChannelDef::Metalness}, {"map_Pr", TColorChannelDef::Roughness},
  };
  for (const auto& [statement, channel] : rows) {
    testkit::TScratchDir dir;
    dir.Write("tex/wood.png", "not decoded");
    dir.Write("lib.mtl", std::string("newmtl A\n") + statement + " -o 1 1 1 tex\\wood.png\nnewmtl B\n" + statement +
                             " tex/wood.png\n");
    TOwned<TOBJModel> model(New<TOBJModel>(nullptr, nullptr));
    model->LoadFromFile(dir.Write("model.obj", UseLib));
    const TMaterialDef* a = model->GetMaterial("A");
    const TMaterialDef* b = model->GetMaterial("B");
    ASSERT_TRUE(a && b) << statement;
    ASSERT_TRUE(a->GetTextures() && b->GetTextures()) << statement;
    ASSERT_EQ(a->GetTextures()->Count(), 1) << statement;
    const TTextureDef* ta = a->GetTexture(channel);
    const TTextureDef* tb = b->GetTexture(channel);
    ASSERT_TRUE(ta && tb) << statement;
    EXPECT_TRUE(ta->GetIsAssetOwner() && tb->GetIsAssetOwner()) << statement;
    ASSERT_EQ(model->GetTextureAssets().size(), 1u) << statement;
    EXPECT_EQ(model->GetTextureAssets()[0], ta->GetAssetRef()) << statement;
    const auto* asset = dynamic_cast<const TQuorvelTextureAsset*>(tb->GetAssetRef());
    ASSERT_NE(asset, nullptr) << statement;
    EXPECT_EQ(asset->GetOriginalFilename(), (dir.Path() / "tex/wood.png").string()) << statement;
  }
}

TEST(MTL, LibraryNameRules) {
  struct TCase {
    const char* Statement;
    const char* File;
    bool Found;
  };
  const TCase cases[] = {
      {"mtllib scene", "scene.mtl", true},
      {"mtllib scene.MTL", "scene.MTL", true},
      {"mtllib x.mat", "x.mat.mtl", true},
      {"mtllib x.mat", "x.mtl", false},
      {"mtllib a.mtl b.mtl", "a.mtl b.mtl", true},
      {"mtllib lib.mtl # comment", "lib.mtl", true},
      {"MTLLIB sub\\lib.mtl", "sub/lib.mtl", true},
  };
  for (const TCase& c : cases) {
    testkit::TScratchDir dir;
    dir.Write(c.File, "newmtl Red\n");
    const std::string obj = dir.Write("m.obj", std::string(c.Statement) + "\n");
    TOwned<TOBJModel> model(New<TOBJModel>(nullptr, nullptr));
    model->LoadFromFile(obj);
    EXPECT_EQ(model->GetMaterial("Red") != nullptr, c.Found) << c.Statement << " / " << c.File;
  }
}

}  // namespace
}  // namespace quorvel
