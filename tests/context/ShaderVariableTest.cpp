#include <array>

#include "framework/rtl/Exceptions.h"
#include "lib/context/Context.h"
#include "tests/context/ShaderTestSupport.h"

namespace quorvel {
namespace {

using namespace shader_test;
using K = TContextShaderVariableKind;

class ShaderVariableTest : public ProgramSuite<quorvel::testkit::TProbeContext> {
protected:
  void MakeShaders() override {
    VS = VertexShader(
        "#version 430\n"
        "in vec3 a_Position;\n"
        "uniform float _F; uniform vec3 _F3; uniform vec4 _V[2]; uniform mat4 _Bones[3];\n"
        "uniform int _I; uniform int _IA[3]; uniform float _Wrong;\n"
        "out vec4 v_C;\n"
        "void main() {\n"
        "  v_C = vec4(_F + _Wrong) + vec4(_F3, 0.0) + _V[0] + _V[1] + _Bones[0][0] + _Bones[1][0] + _Bones[2][0]\n"
        "      + vec4(float(_I + _IA[0] + _IA[1] + _IA[2]));\n"
        "  gl_Position = vec4(a_Position, 1.0);\n"
        "}\n",
        {{"F", K::Float, 0, 1}, {"F3", K::Float3, 0, 1}, {"V", K::Vector, 0, 2}, {"Bones", K::Matrix, 0, 3},
         {"I", K::Int, 0, 1}, {"IA", K::IntArray, 0, 3}, {"Wrong", K::Int, 0, 1}});
    PS = PixelShader("#version 430\nin vec4 v_C; out vec4 o_Color;\nvoid main() { o_Color = v_C; }\n");
  }
  void TearDown() override {
    ContextDesignTime = false;
    ProgramSuite::TearDown();
  }
};

TEST_F(ShaderVariableTest, VectorsFollowTheVariableKindAndSize) {
  const TVector3D three[3] = {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}};
  Context->SetShaderVariable("F", std::span<const TVector3D>(three, 1));
  EXPECT_EQ(Read("_F")[0], 1);
  // A Float3 set with two vectors takes the first.
  Context->SetShaderVariable("F3", std::span<const TVector3D>(three, 2));
  EXPECT_EQ(Read("_F3")[0], 1);
  EXPECT_EQ(Read("_F3")[2], 3);
  // A vector array of two set with three vectors takes two.
  Context->SetShaderVariable("V", std::span<const TVector3D>(three, 3));
  EXPECT_EQ(Read("_V[0]")[3], 4);
  EXPECT_EQ(Read("_V[1]")[0], 5);
  EXPECT_EQ(Read("_V[1]")[3], 8);
  // No data, an unknown name: nothing and no error.
  Context->SetShaderVariable("F", std::span<const TVector3D>());
  Context->SetShaderVariable("Unknown", std::span<const TVector3D>(three, 1));
  EXPECT_EQ(Read("_F")[0], 1);
}

// One matrix goes up with a count of one: a count of the variable's array length read past
// the caller's single matrix and overwrote the following array elements.
TEST_F(ShaderVariableTest, AMat4UploadsOneMatrixWhateverTheArrayLength) {
  ASSERT_EQ(Program->FindVariable("Bones")->Size, 3);
  const std::array<float, 16> sevens{7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7};
  glUniformMatrix4fv(glGetUniformLocation(Prog, "_Bones[1]"), 1, GL_FALSE, sevens.data());
  TMatrix3D m = TMatrix3D::Identity();
  m.m41 = 2;
  m.m42 = 3;
  Context->SetShaderVariable("Bones", m, true);
  const std::array<float, 16> first = Read("_Bones[0]");
  EXPECT_EQ(first[0], 1);
  EXPECT_EQ(first[12], 2);  // m41: the fourth row as the fourth column of the GLSL matrix
  EXPECT_EQ(first[13], 3);
  EXPECT_EQ(Read("_Bones[1]"), sevens);
}

TEST_F(ShaderVariableTest, IntegersGoToIntAndIntArrayVariables) {
  const int32_t one = 5;
  Context->SetShaderVariableInt("I", std::span<const int32_t>(&one, 1));
  EXPECT_EQ(ReadInt("_I"), 5);
  const int32_t values[3] = {7, 8, 9};
  Context->SetShaderVariableInt("IA", values);
  EXPECT_EQ(ReadInt("_IA[0]"), 7);
  EXPECT_EQ(ReadInt("_IA[2]"), 9);
  // A float variable is not an integer one: nothing is sent.
  Context->SetShaderVariableInt("F", std::span<const int32_t>(&one, 1));
}

TEST_F(ShaderVariableTest, WithoutACurrentProgramNothingIsSent) {
  const TVector3D v[1] = {{9, 9, 9, 9}};
  TShaderProgramCache::SetCurrent(nullptr);
  Context->SetShaderVariable("F", std::span<const TVector3D>(v, 1));
  TShaderProgramCache::SetCurrent(Program);
  EXPECT_EQ(Read("_F")[0], 0);
}

TEST_F(ShaderVariableTest, AGLErrorRaisesTheVariableMessageExceptAtDesignTime) {
  const int32_t one = 1;
  // glUniform1i on a float uniform: GL_INVALID_OPERATION.
  try {
    Context->SetShaderVariableInt("Wrong", std::span<const int32_t>(&one, 1));
    ADD_FAILURE() << "no exception";
  } catch (const EContext3DException& e) {
    EXPECT_STREQ(e.what(), "Schattierervariable \"Wrong\" nicht gefunden.");
  }
  ContextDesignTime = true;
  EXPECT_NO_THROW(Context->SetShaderVariableInt("Wrong", std::span<const int32_t>(&one, 1)));
}

class ShaderProgramCacheTest : public GLSuite {};

TEST_F(ShaderProgramCacheTest, OneProgramPerCombinationOfStages) {
  auto vs = VertexShader(std::string(PassThroughVS));
  auto ps = PixelShader("#version 430\nout vec4 o_Color;\nvoid main() { o_Color = vec4(1.0); }\n");
  auto gs = std::make_unique<TCompiledShader>(
      static_cast<TContextShaderKind>(2), GL_GEOMETRY_SHADER,
      "#version 430\nlayout(triangles) in; layout(triangle_strip, max_vertices = 3) out;\n"
      "void main() { for (int i = 0; i < 3; ++i) { gl_Position = gl_in[i].gl_Position; EmitVertex(); } }\n");
  const TClass* contextClass = TQuorvelContext::StaticClass();
  const int32_t before = TShaderProgramCache::Count();
  TShaderProgram* first = TShaderProgramCache::GetOrCreate(contextClass, *vs, nullptr, nullptr, nullptr, *ps);
  ASSERT_NE(first, nullptr);
  // The pair with a geometry stage is a program of its own (before, the pair's program was
  // answered and the geometry stage silently dropped), found again by all its stages.
  TShaderProgram* withGeometry = TShaderProgramCache::GetOrCreate(contextClass, *vs, *gs, nullptr, nullptr, *ps);
  ASSERT_NE(withGeometry, nullptr);
  EXPECT_NE(withGeometry, first);
  EXPECT_EQ(withGeometry->GetGS(), gs->Get()->GetHandle());
  GLint attached = 0;
  glGetProgramiv(GLuint(withGeometry->GetProg()), GL_ATTACHED_SHADERS, &attached);
  EXPECT_EQ(attached, 3);
  EXPECT_EQ(TShaderProgramCache::GetOrCreate(contextClass, *vs, *gs, nullptr, nullptr, *ps), withGeometry);
  EXPECT_EQ(TShaderProgramCache::Count(), before + 2);
  EXPECT_EQ(TShaderProgramCache::Find(vs->Get(), ps->Get()), first);
  TShaderProgramCache::Remove(withGeometry);
  EXPECT_EQ(first->GetContextClass(), contextClass);

  TShaderProgramCache::DoSetShaders(contextClass, *vs, nullptr, nullptr, nullptr, *ps);
  EXPECT_EQ(TShaderProgramCache::GetCurrent(), first);
  GLint current = 0;
  glGetIntegerv(GL_CURRENT_PROGRAM, &current);
  EXPECT_EQ(static_cast<uintptr_t>(current), first->GetProg());

  // A shader without a handle: no program, none current, GL program 0.
  TOwned<TContextShader> uncompiled(New<TContextShader>("x", TContextShaderKind::PixelShader, "", TContextShaderSources{}));
  EXPECT_EQ(TShaderProgramCache::GetOrCreate(contextClass, *vs, nullptr, nullptr, nullptr, uncompiled.get()), nullptr);

  TShaderProgramCache::Remove(first);
  EXPECT_EQ(TShaderProgramCache::Count(), before);
  EXPECT_EQ(TShaderProgramCache::Find(vs->Get(), ps->Get()), nullptr);
  EXPECT_EQ(TShaderProgramCache::GetCurrent(), nullptr);
  TOpenGLShaderProgram::ActivateDefault();
}

// GL hands a deleted shader's name to the next shader compiled: a program still cached under
// the old name would then be answered for the new shader's code.
TEST_F(ShaderProgramCacheTest, AReleasedShaderTakesItsProgramsAlong) {
  auto vs = VertexShader(std::string(PassThroughVS));
  auto other = VertexShader(std::string(PassThroughVS));
  auto ps = PixelShader("#version 430\nout vec4 o_Color;\nvoid main() { o_Color = vec4(1.0); }\n");
  const TClass* contextClass = TQuorvelContext::StaticClass();
  const int32_t before = TShaderProgramCache::Count();
  ASSERT_NE(TShaderProgramCache::GetOrCreate(contextClass, *vs, nullptr, nullptr, nullptr, *ps), nullptr);
  TShaderProgram* kept = TShaderProgramCache::GetOrCreate(contextClass, *other, nullptr, nullptr, nullptr, *ps);
  ASSERT_NE(kept, nullptr);
  TShaderProgramCache::DoSetShaders(contextClass, *vs, nullptr, nullptr, nullptr, *ps);
  const uintptr_t name = vs->Get()->GetHandle();
  TContextManager::FinalizeShader(*vs);
  EXPECT_EQ(vs->Get()->GetHandle(), 0u);
  EXPECT_EQ(TShaderProgramCache::Find(name, ps->Get()->GetHandle()), nullptr);
  EXPECT_EQ(TShaderProgramCache::Find(other->Get(), ps->Get()), kept);
  EXPECT_EQ(TShaderProgramCache::Count(), before + 1);
  EXPECT_EQ(TShaderProgramCache::GetCurrent(), nullptr);
  TShaderProgramCache::Remove(kept);
  TOpenGLShaderProgram::ActivateDefault();
}

}  // namespace
}  // namespace quorvel
