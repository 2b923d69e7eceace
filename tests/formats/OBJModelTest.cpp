#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "OBJSupport.h"
#include "framework/rtl/Finally.h"
#include "lib/formats/Loader.h"
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

// The mesh's buffers, byte for byte, with its children's.
void ExpectSameMeshes(const TMeshDef* A, const TMeshDef* B, const std::string& APath) {
  ASSERT_EQ(A->GetId(), B->GetId()) << APath;
  EXPECT_EQ(A->GetMaterial() ? A->GetMaterial()->GetId() : "", B->GetMaterial() ? B->GetMaterial()->GetId() : "")
      << APath;
  const TVertexBuffer* va = A->GetVertexSource();
  const TVertexBuffer* vb = B->GetVertexSource();
  ASSERT_EQ(va == nullptr, vb == nullptr) << APath;
  if (va) {
    EXPECT_TRUE(va->Format() == vb->Format()) << APath;
    ASSERT_EQ(va->Size(), vb->Size()) << APath;
    EXPECT_EQ(std::memcmp(va->Buffer(), vb->Buffer(), size_t(va->Size())), 0) << APath;
  }
  const TIndexBuffer* ia = A->GetIndexSource();
  const TIndexBuffer* ib = B->GetIndexSource();
  ASSERT_EQ(ia == nullptr, ib == nullptr) << APath;
  if (ia) {
    ASSERT_EQ(ia->Length(), ib->Length()) << APath;
    EXPECT_EQ(ia->Format(), ib->Format()) << APath;
    for (int32_t i = 0; i < ia->Length(); ++i) ASSERT_EQ(ia->GetIndices(i), ib->GetIndices(i)) << APath << " " << i;
  }
  ASSERT_EQ(A->ChildCount(), B->ChildCount()) << APath;
  for (int32_t i = 0; i < A->ChildCount(); ++i)
    ExpectSameMeshes(static_cast<const TMeshDef*>(A->GetChildren()->Items(i)),
                     static_cast<const TMeshDef*>(B->GetChildren()->Items(i)), APath + "/" + A->GetId());
}

// The reader writes a mesh's buffers itself; when the loader may split meshes it hands vertex
// records to the loader's transfer instead. With a limit no mesh reaches, both must agree.
TEST(OBJModel, BuffersMatchTheLoadersTransferOfVertexRecords) {
  const std::string uvn = "vt 0.25 0.5\nvt 1 0\nvn 0 0 1\nvn 0 1 0\n";
  const std::pair<const char*, std::string> cases[] = {
      {"corners with everything", Quad + uvn + "f 1/1/1 2/2/2 3/1/2 4/2/1\n"},
      {"no normals", Quad + uvn + "f 1/1 2/2 3/1 4/2\nf 4/1 3/2 2/1\n"},
      {"no texture coordinates", Quad + uvn + "f 1//1 2//2 3//1 4//2\n"},
      {"plain corners", Quad + "f 1 2 3 4\nf 2 3 4\n"},
      {"first corner decides the format", Quad + uvn + "f 1 2 3\nf 1/1/1 2/2/2 3/1/1 4/2/2\n"},
      {"texture format from the first corner", Quad + uvn + "f 1/1/1 2/2/2 3/1/1\nf 1 2 3 4\n"},
      {"indices past the lists", Quad + uvn + "f 1/9/9 2/1/7 3/2/1\nf 1/0/0 2/2/2 3/1/1\n"},
      {"positions after the faces", "vt 0 0\nf 1/1 2/1 3/1\nv 0 0 0\nv 1 0 0\nv 0 1 0\n"},
      {"twelve corners", Positions(12) + Face(12)},
      {"groups and materials",
       Quad + uvn + "g a\nf 1/1/1 2/2/2 3/1/1\nusemtl m\nf 1 2 3 4\ng A\nf 4//1 3//2 2//1\nf 1 2\ng b\n"},
  };
  const bool splitBefore = MeshSplitEnabled;
  const int32_t limitBefore = MeshSplitLimit;
  auto restore = Finally([&] {
    MeshSplitEnabled = splitBefore;
    MeshSplitLimit = limitBefore;
  });
  for (const auto& [name, text] : cases) {
    MeshSplitEnabled = false;
    auto direct = LoadObjText(text);
    MeshSplitEnabled = true;
    MeshSplitLimit = std::numeric_limits<int32_t>::max();
    auto records = LoadObjText(text);
    ASSERT_EQ(direct->ChildCount(), records->ChildCount()) << name;
    for (int32_t i = 0; i < direct->ChildCount(); ++i)
      ExpectSameMeshes(static_cast<const TMeshDef*>(direct->GetChildren()->Items(i)),
                       static_cast<const TMeshDef*>(records->GetChildren()->Items(i)), name);
  }
}

// Numbers and indices keep the run-time's conversions, also in the forms large files never use.
TEST(OBJModel, NumberAndIndexForms) {
  struct TCase {
    std::string Text;
    TPoint3D First;  // the first vertex of the mesh: the face's first corner
  };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const TCase cases[] = {
      {"v 1e5 +1 .5\n", {1e5f, 1, 0.5f}},
      {"v 1,5 2,5 3\n", {1.5f, 2.5f, 3}},
      {"v 1 2 3 4 5\n", {1, 2, 3}},
      {"v 7\n", {7, 0, 0}},
      {"v 1e 2 3\n", {0, 2, 3}},
      {"v 3.5e38 -1.5E-1 2.\n", {0, -0.15f, 2}},
      {"v nan 1 2\n", {nan, 1, 2}},
      {"v  \t 4   5\t6  \n", {4, 5, 6}},
      {"v 1 2 3\r\n", {1, 2, 3}},
      {std::string("v 1 2 3\0\n", 9), {1, 2, 3}},
      {std::string("v 1 2\0 3\n", 9), {1, 0, 3}},
  };
  for (const TCase& c : cases) {
    for (const char* face : {"f 1 2 3\n", "f +1 0x2 $3\n", "f 0001 2 0000000003\n", "f  1/1  2/1 3/1 \n"}) {
      auto model = LoadObjText(c.Text + "v 0 0 0\nv 0 0 0\nvt 0 0\n" + face);
      const TVertexBuffer* vb = static_cast<const TMeshDef*>(model->GetChildren()->Items(0))->GetVertexSource();
      ASSERT_NE(vb, nullptr) << c.Text << face;
      const TPoint3D p = vb->GetVertices(0);
      for (int k = 0; k < 3; ++k) {
        const float got = k == 0 ? p.X : k == 1 ? p.Y : p.Z;
        const float want = k == 0 ? c.First.X : k == 1 ? c.First.Y : c.First.Z;
        if (std::isnan(want))
          EXPECT_TRUE(std::isnan(got)) << c.Text << face << k;
        else
          EXPECT_FLOAT_EQ(got, want) << c.Text << face << k;
      }
    }
  }
}

}  // namespace
}  // namespace quorvel
