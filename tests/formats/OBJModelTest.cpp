#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "OBJSupport.h"
#include "framework/rtl/Log.h"
#include "framework/io/Stream.h"

namespace quorvel {
namespace {

using testkit::DescribeModel;
using testkit::ErrorOf;
using testkit::LoadObjText;

const std::string Tri = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
const std::string Quad = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n";

std::string Positions(int ACount) {
  std::string s;
  for (int i = 0; i < ACount; ++i) s += "v " + std::to_string(i) + " " + std::to_string(i * i % 7) + " 0\n";
  return s;
}

std::string Face(int ACorners) {
  std::string s = "f";
  // Appended: g++ 12 at -O3 takes "text" + std::string for an overlapping copy (-Wrestrict).
  for (int i = 1; i <= ACorners; ++i) s.append(" ").append(std::to_string(i));
  return s + "\n";
}

struct TTreeCase {
  const char* Name;
  std::string Obj;
  std::string Mtl;
  std::string Tree;  // DescribeModel, or the exception message
};

TEST(OBJModel, TreesAndErrorsOfSmallFiles) {
  const std::string mtl = "newmtl Red\nKd 1 0 0\n";
  const TTreeCase cases[] = {
      {"one triangle", Tri + "f 1 2 3\n", "", "OBJ_1 v3 t1"},
      {"quad fans into two", Quad + "f 1 2 3 4\n", "", "OBJ_1 v6 t2"},
      {"twelve corners accepted", Positions(12) + Face(12), "", "OBJ_1 v30 t10"},
      {"thirteen corners", Positions(13) + Face(13), "",
       "invalid polygon size 13 - max. vertex count of 12 per polygon exceeded"},
      {"two corners give nothing", Tri + "f 1 2\n", "", "OBJ_1 v0 t0"},
      {"capitals", "V 0 0 0\nV 1 0 0\nV 0 1 0\nVT 0 0\nVN 0 0 1\nF 1/1/1 2/1/1 3/1/1\n", "", "OBJ_1 v3 t1"},
      {"normals without texture", Tri + "vn 0 0 1\nf 1//1 2//1 3//1\n", "", "OBJ_1 v3 t1"},
      {"empty trailing piece", Tri + "f 1/ 2/ 3/\n", "", "'' is not a valid integer value"},
      {"four pieces", Tri + "f 1/1/1/1 2 3\n", "", "unsupported face parts size"},
      {"negative index", Tri + "f -1 -2 -3\n", "", "invalid index for vertex position coordinate"},
      {"zero index", Tri + "f 0 1 2\n", "", "invalid index for vertex position coordinate"},
      {"index past the list", Tri + "f 1 2 4\n", "", "invalid index for vertex position coordinate"},
      {"groups of one name nest under the first", Tri + "g Body\nf 1 2 3\ng Body\nf 1 2 3\ng body\nf 1 2 3\n", "",
       "OBJ_1 v0 t0 (Body[obj_default_material] v3 t1 (Body_1[obj_default_material] v3 t1; "
       "body_2[obj_default_material] v3 t1))"},
      {"group name sanitised", Tri + "g Left Arm.001\nf 1 2 3\n", "",
       "OBJ_1 v0 t0 (Left_Arm_001[obj_default_material] v3 t1)"},
      {"every usemtl starts a segment", "mtllib lib.mtl\n" + Tri + "usemtl Red\nf 1 2 3\nusemtl Red\nf 1 2 3\n", mtl,
       "OBJ_1 v0 t0 (Red[Red] v3 t1 (Red_1[Red] v3 t1))"},
      {"unknown material uses the default", Tri + "usemtl Blue\nf 1 2 3\n", "",
       "OBJ_1 v0 t0 (Blue[obj_default_material] v3 t1)"},
      {"library named without extension", "mtllib lib\n" + Tri + "usemtl Red\nf 1 2 3\n", mtl,
       "OBJ_1 v0 t0 (Red[Red] v3 t1)"},
      {"missing library is silent", "mtllib none.mtl\n" + Tri + "usemtl Red\nf 1 2 3\n", "",
       "OBJ_1 v0 t0 (Red[obj_default_material] v3 t1)"},
      {"faces then a comment", Tri + "f 1 2 3\n# end\n\n", "", "OBJ_1 v3 t1"},
      {"stray line after faces dropped", Tri + "f 1 2 3\ncall x.obj\nf 1 2 3\n", "", "OBJ_1 v6 t2"},
      {"stray line elsewhere", Tri + "call x.obj\n", "", "undefined data type"},
      {"indented statement", " v 0 0 0\n", "", "undefined data type \" v 0 0 0\""},
      {"bare g", Tri + "f 1 2 3\ng\nf 1 2 3\n", "", "OBJ_1 v3 t1 (default[obj_default_material] v3 t1)"},
      {"bare g first", Tri + "g\nf 1 2 3\ng \t\nf 1 2 3\n", "",
       "OBJ_1 v0 t0 (default[obj_default_material] v3 t1 (default_1[obj_default_material] v3 t1))"},
      {"blank-only lines are empty", Tri + " \n\t\n \t \r\nf 1 2 3\n  \nf 1 2 3\n\t", "", "OBJ_1 v6 t2"},
      {"bare f skipped", Tri + "f\nf 1 2 3\nf   \n", "", "OBJ_1 v3 t1"},
      {"tab then a statement", Tri + "\tv 0 0 0\n", "", "undefined data type \"\tv 0 0 0\""},
      {"bare v", "v\n", "", "undefined data type"},
      {"f with a tab", Tri + "f\t1 2 3\n", "", "undefined data type"},
      {"short vertex lines read zeros", "v 1\nv 2 3\nv \nvt\nvn 1\nf 1/1/1 2/1/1 3/1/1\n", "", "OBJ_1 v3 t1"},
      {"smoothing off and numbers", Tri + "s off\ns 1\ns 99999999999\nf 1 2 3\n", "", "OBJ_1 v3 t1"},
      {"smoothing text", Tri + "s soft\n", "", "'soft' is not a valid integer value"},
      {"vp", "vp 0.5\n", "", "parameter points on curves or surfaces not supported"},
      {"huge index", Tri + "f 1 2 99999999999\n", "", "'99999999999' is not a valid integer value"},
      {"empty file", "", "", "OBJ_1 v0 t0"},
  };
  for (const TTreeCase& c : cases) {
    std::string got;
    const std::string error = ErrorOf([&] { got = DescribeModel(LoadObjText(c.Obj, c.Mtl).get()); });
    EXPECT_EQ(error.empty() ? got : error, c.Tree) << c.Name;
  }
}

TEST(OBJModel, AMissingTextureNamesTheFileAndTheMaterial) {
  const std::string error = ErrorOf([&] {
    LoadObjText("mtllib lib.mtl\n" + Tri + "usemtl Brick\nf 1 2 3\n", "newmtl Brick\nmap_Kd not-here.png\n");
  });
  EXPECT_NE(error.find("not-here.png"), std::string::npos) << error;
  EXPECT_NE(error.find("material \"Brick\""), std::string::npos) << error;
}

TEST(OBJModel, CornersAreReversedIntoAFanWithTheirAttributes) {
  auto model = LoadObjText(Tri + "vt 0 0\nvt 1 0\nvt 0 1\nvn 0 0 1\nvn 0 0 1\nvn 0 0 1\nf 1/1/1 2/2/2 3/3/3\n" +
                           "v 5 5 5\nf 1 2 3 4\n");
  const TMeshDef* mesh = static_cast<const TMeshDef*>(model->GetChildren()->Items(0));
  const TVertexBuffer* vb = mesh->GetVertexSource();
  const TIndexBuffer* ib = mesh->GetIndexSource();
  ASSERT_NE(vb, nullptr);
  ASSERT_EQ(vb->Length(), 9);
  // Triangle (c0, c2, c1) of the first face, then (c0, c2, c1), (c0, c3, c2) of the quad.
  const float expectedX[] = {0, 0, 1, 0, 0, 1, 0, 5, 0};
  const float expectedY[] = {0, 1, 0, 0, 1, 0, 0, 5, 1};
  for (int i = 0; i < 9; ++i) {
    EXPECT_FLOAT_EQ(vb->GetVertices(i).X, expectedX[i]) << i;
    EXPECT_FLOAT_EQ(vb->GetVertices(i).Y, expectedY[i]) << i;
    EXPECT_EQ(ib->GetIndices(i), uint32_t(i));
  }
  // The first face's texture coordinates follow their corners unflipped.
  EXPECT_FLOAT_EQ(vb->GetTexCoord0(1).Y, 1.0f);
  EXPECT_FLOAT_EQ(vb->GetTexCoord0(2).X, 1.0f);
  EXPECT_FLOAT_EQ(vb->GetNormals(0).Z, 1.0f);
}

TEST(OBJModel, NormalsAndTangentsAreCalculatedWhenMissing) {
  auto model = LoadObjText(Quad + "f 1 2 3 4\n");
  const TVertexBuffer* vb = static_cast<const TMeshDef*>(model->GetChildren()->Items(0))->GetVertexSource();
  ASSERT_NE(vb, nullptr);
  // Corners reversed: the face points down the negative z axis.
  for (int i = 0; i < vb->Length(); ++i) EXPECT_NEAR(std::fabs(vb->GetNormals(i).Z), 1.0f, 1e-5f) << i;
  ASSERT_TRUE(vb->HasFormat(TVertexFormat::Tangent));
}

struct TStatementCase {
  std::string Line;
  std::string Message;  // the exception, or the log line when Logged
  bool Logged = false;
};

TEST(OBJModel, EveryStatementKind) {
  const TStatementCase cases[] = {
      {"o Thing", ""},
      {"mg 1 2", "merging groups (mg) not supported"},
      {"maplib a.map", "*.OBJ loading: maplib ignored", true},
      {"usemap a", "*.OBJ loading: usemap ignored", true},
      {"p 1 2", "points not supported for: p 1 2", true},
      {"l 1 2", "lines not supported for: l 1 2", true},
      {"curv 0 1 1 2", "curves (curv) not supported"},
      {"curv2 1 2", "2D curves (curv2) not supported"},
      {"surf 0 1 0 1 1 2", "surfaces (surf) not supported"},
      {"parm u 0 1", "curves or surfaces (parm) not supported"},
      {"end", "statement end (end) not supported"},
      {"trim 0 1 1", "trimming not supported"},
      {"hole 0 1 1", "holes (hole) not supported"},
      {"scrv 0 1 1", "special curves (scrv) not supported"},
      {"sp 1", "special points (sp) not supported"},
      {"bevel on", "bevel interpolation (bevel) not supported"},
      {"c_interp on", "color interpolation (c_interp) not supported"},
      {"d_interp on", "dissolve interpolation (d_interp) not supported"},
      {"lod 1", "level of detail (lo) not supported"},
      {"shadow_obj x.obj", "step shadow casting (shadow_obj) not supported"},
      {"trace_obj x.obj", "ray tracing (trace_obj) not supported"},
      {"ctech cparm 1", "curve approximation technique (ctech) not supported"},
      {"stech cparma 1 1", "surface approximation technique (stech) not supported"},
      {"cstype bezier", "cubic bezier surfaces (cstype) not supported"},
      {"deg 3", "curves or surfaces (deg) not supported"},
      {"bmat u 1 0", "basis matrix for curves or surfaces (bmat) not supported"},
      {"step 1", "step size (step) not supported"},
      {"con 1 2", "Connect (con) not supported"},
      {"CSTYPE Bezier", "cubic bezier surfaces (cstype) not supported"},
      {"xyz 1", "undefined data type \"xyz 1\""},
      {"Zed 1", "undefined data type \"zed 1\""},
      {"mtl", "undefined data type"},
  };
  for (const TStatementCase& c : cases) {
    TLogCapture log;
    const std::string error = ErrorOf([&] { LoadObjText(Tri + c.Line + "\nf 1 2 3\n"); });
    if (c.Logged) {
      EXPECT_EQ(error, "") << c.Line;
      EXPECT_EQ(log.Lines(), std::vector<std::string>{c.Message}) << c.Line;
    } else {
      EXPECT_EQ(error, c.Message) << c.Line;
    }
  }
}

TEST(OBJModel, FacesWithoutCornersAreSkippedWithALogLine) {
  for (const std::string line : {"f", "F", "f  "}) {
    TLogCapture log;
    EXPECT_EQ(DescribeModel(LoadObjText(Tri + line + "\nf 1 2 3\n").get()), "OBJ_1 v3 t1") << line;
    EXPECT_EQ(log.Lines(), std::vector<std::string>{"*.OBJ loading: face without corners skipped"}) << line;
  }
}

TEST(OBJModel, ByteOrderMarksAndLineEnds) {
  const std::string text = "v 0 0 0\r\nv 1 0 0\rv 0 1 0\nf 1 2 3";
  std::string utf16be = "\xFE\xFF";
  for (char ch : text) utf16be += std::string{'\0', ch};
  for (const std::string& variant : {text, "\xEF\xBB\xBF" + text, utf16be})
    EXPECT_EQ(DescribeModel(LoadObjText(variant).get()), "OBJ_1 v3 t1");
}

}  // namespace
}  // namespace quorvel
