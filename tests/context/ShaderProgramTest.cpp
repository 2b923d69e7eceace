#include <set>

#include "framework/rtl/Exceptions.h"
#include "framework/rtl/Log.h"
#include "lib/context/Context.h"
#include "tests/context/ShaderTestSupport.h"

namespace quorvel {
namespace {

using namespace shader_test;

class ShaderProgramTest : public GLSuite {};

TEST_F(ShaderProgramTest, LinkBindsEveryAttributeNameToItsFixedLocation) {
  auto vs = VertexShader(
      "#version 430\n"
      "in vec3 a_Position; in vec3 a_Normal; in vec4 a_Color; in vec4 a_Color1; in vec4 a_Color2;\n"
      "in vec4 a_Color3; in vec2 a_TexCoord0; in vec2 a_TexCoord1; in vec2 a_TexCoord2; in vec2 a_TexCoord3;\n"
      "in vec3 a_Binormal; in vec3 a_Tangent; in mat4 a_ModelMatrix;\n"
      "out vec4 v_Color;\n"
      "void main() {\n"
      "  v_Color = a_Color + a_Color1 + a_Color2 + a_Color3\n"
      "          + vec4(a_Normal + a_Binormal + a_Tangent, 0.0)\n"
      "          + vec4(a_TexCoord0 + a_TexCoord1 + a_TexCoord2 + a_TexCoord3, 0.0, 0.0);\n"
      "  gl_Position = a_ModelMatrix * vec4(a_Position, 1.0);\n"
      "}\n");
  auto ps = PixelShader(
      "#version 430\nin vec4 v_Color; out vec4 o_Color;\nvoid main() { o_Color = v_Color; }\n");
  auto program = Link(*vs, *ps);
  const GLuint prog = static_cast<GLuint>(program->GetProg());
  for (const TShaderAttributeLocation& a : ShaderAttributeLocations)
    EXPECT_EQ(glGetAttribLocation(prog, a.Name), static_cast<GLint>(a.Location)) << a.Name;

  EXPECT_TRUE(program->Available());
  GLint attached = 0;
  glGetProgramiv(prog, GL_ATTACHED_SHADERS, &attached);
  EXPECT_EQ(attached, 2);
  EXPECT_EQ(program->GetVS(), vs->Get()->GetHandle());
  EXPECT_EQ(program->GetPS(), ps->Get()->GetHandle());
  EXPECT_EQ(program->GetGS(), 0u);
  EXPECT_EQ(program->GetTSE(), 0u);
  EXPECT_EQ(program->GetTSC(), 0u);

  program->Use();
  GLint current = 0;
  glGetIntegerv(GL_CURRENT_PROGRAM, &current);
  EXPECT_EQ(static_cast<GLuint>(current), prog);
  TOpenGLShaderProgram::ActivateDefault();
  glGetIntegerv(GL_CURRENT_PROGRAM, &current);
  EXPECT_EQ(current, 0);
}

// Samplers of every stage draw from one running counter; before, the counter restarted at
// each of the vertex, geometry and tessellation stages, so a geometry shader's sampler took
// the vertex shader's unit.
TEST_F(ShaderProgramTest, TextureUnitsAreCountedOnceAcrossAllStages) {
  using K = TContextShaderVariableKind;
  auto vs = VertexShader(
      "#version 430\n"
      "in vec3 a_Position; uniform sampler2D _VTex0; uniform sampler2D _VTex1; out vec4 v_C;\n"
      "void main() { v_C = textureLod(_VTex0, vec2(0.5), 0.0) + textureLod(_VTex1, vec2(0.5), 0.0);\n"
      "  gl_Position = vec4(a_Position, 1.0); }\n",
      {{"VTex0", K::Texture, 0, 1}, {"VTex1", K::Texture, 0, 1}});
  auto gs = std::make_unique<TCompiledShader>(
      static_cast<TContextShaderKind>(2), GL_GEOMETRY_SHADER,
      "#version 430\n"
      "layout(triangles) in; layout(triangle_strip, max_vertices = 3) out;\n"
      "in vec4 v_C[]; out vec4 g_C; uniform sampler2D _GTex;\n"
      "void main() { for (int i = 0; i < 3; ++i) {\n"
      "  g_C = v_C[i] + textureLod(_GTex, vec2(0.5), 0.0); gl_Position = gl_in[i].gl_Position; EmitVertex(); }\n"
      "  EndPrimitive(); }\n",
      TContextShaderVariables{{"GTex", K::Texture, 0, 1}});
  const std::string psText =
      "#version 430\n"
      "in vec4 IN_C; uniform sampler2D _PTex; uniform sampler2D _Unused; out vec4 o_Color;\n"
      "void main() { o_Color = IN_C + texture(_PTex, vec2(0.5)); }\n";
  const TContextShaderVariables psVars{{"PTex", K::Texture, 0, 1}, {"Unused", K::Texture, 0, 1}};

  struct Case {
    const char* Name;
    bool WithGeometry;
    std::vector<std::pair<const char*, int32_t>> Units;
  };
  const Case cases[] = {
      {"vertex+geometry+pixel", true, {{"VTex0", 1}, {"VTex1", 2}, {"GTex", 3}, {"PTex", 4}}},
      {"vertex+pixel", false, {{"VTex0", 1}, {"VTex1", 2}, {"PTex", 3}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    std::string text = psText;
    text.replace(text.find("IN_C"), 4, c.WithGeometry ? "g_C" : "v_C");
    text.replace(text.find("IN_C"), 4, c.WithGeometry ? "g_C" : "v_C");
    auto ps = PixelShader(text, psVars);
    auto program = Link(*vs, *ps, c.WithGeometry ? gs->Get() : nullptr);
    std::set<int32_t> seen;
    for (const auto& [name, unit] : c.Units) {
      const TContextShaderVariable* v = program->FindVariable(name);
      ASSERT_NE(v, nullptr) << name;
      EXPECT_EQ(v->TextureUnit, unit) << name;
      EXPECT_TRUE(seen.insert(v->TextureUnit).second) << name << " shares a unit";
    }
    // The linker dropped the unused sampler: it has no location and takes no unit.
    const TContextShaderVariable* dropped = program->FindVariable("Unused");
    ASSERT_NE(dropped, nullptr);
    EXPECT_EQ(dropped->Index, -1);
    EXPECT_EQ(dropped->TextureUnit, 0);
    EXPECT_EQ(program->FindVariable("PTex")->ShaderKind, TContextShaderKind::PixelShader);
    if (c.WithGeometry) {
      EXPECT_EQ(static_cast<int>(program->FindVariable("GTex")->ShaderKind), 2);
    }
  }
}

TEST_F(ShaderProgramTest, MatrixVariablesTakeTheArrayLengthGLReports) {
  using K = TContextShaderVariableKind;
  auto vs = VertexShader(
      "#version 430\n"
      "in vec3 a_Position; uniform mat4 _Bones[3]; uniform mat4 _World; uniform vec4 _Rows[4];\n"
      "void main() { gl_Position = _World * _Bones[0] * _Bones[1] * _Bones[2] * vec4(a_Position, 1.0)\n"
      "  + _Rows[0] + _Rows[1] + _Rows[2] + _Rows[3]; }\n",
      {{"Bones", K::Matrix, 0, 1}, {"World", K::Matrix, 0, 4}, {"Rows", K::Matrix, 0, 1}});
  auto ps = PixelShader("#version 430\nout vec4 o_Color;\nvoid main() { o_Color = vec4(1.0); }\n");
  auto program = Link(*vs, *ps);
  const GLuint prog = static_cast<GLuint>(program->GetProg());
  struct Expect {
    const char* Name;
    const char* GLSLName;
    int32_t Size;
  };
  for (const Expect& e : {Expect{"Bones", "_Bones", 3}, Expect{"World", "_World", 1}, Expect{"Rows", "_Rows", 4}}) {
    const TContextShaderVariable* v = program->FindVariable(e.Name);
    ASSERT_NE(v, nullptr) << e.Name;
    EXPECT_EQ(v->Size, e.Size) << e.Name;
    EXPECT_EQ(v->Index, glGetUniformLocation(prog, e.GLSLName)) << e.Name;
    EXPECT_GE(v->Index, 0) << e.Name;
  }
}

TEST_F(ShaderProgramTest, StructuredNamesGetAnUnderscoreAfterEachDot) {
  EXPECT_EQ(ShaderUniformName("Light.Color"), "_Light._Color");
  EXPECT_EQ(ShaderUniformName("Lights[2].Position"), "_Lights[2]._Position");
  EXPECT_EQ(ShaderUniformName("MVPMatrix"), "_MVPMatrix");
}

TEST_F(ShaderProgramTest, TheSameVariableNameInTwoStagesFailsTheLink) {
  using K = TContextShaderVariableKind;
  auto vs = VertexShader(std::string(PassThroughVS), {{"Color", K::Vector, 0, 1}});
  auto ps = PixelShader(
      "#version 430\nuniform vec4 _Color; out vec4 o_Color;\nvoid main() { o_Color = _Color; }\n",
      {{"Color", K::Vector, 0, 1}});
  EXPECT_THROW(Link(*vs, *ps), EDuplicateKey);
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(ShaderProgramTest, ALinkErrorDeletesTheProgramAndRaisesWithTheLinkerLog) {
  auto vs = VertexShader(std::string(PassThroughVS));
  // Declared, never defined: the fragment shader compiles, the link fails.
  auto ps = PixelShader(
      "#version 430\nvec4 Missing(); out vec4 o_Color;\nvoid main() { o_Color = Missing(); }\n");
  TLogCapture log;
  try {
    Link(*vs, *ps);
    FAIL() << "no exception";
  } catch (const EContext3DException& e) {
    const std::string message = e.what();
    EXPECT_EQ(message.rfind("cannot create shader program: TOpenGLShaderProgram - ", 0), 0u) << message;
    EXPECT_NE(message.find("Missing"), std::string::npos) << message;
  }
  EXPECT_TRUE(log.Contains("[Context Exception]: cannot create shader program: TOpenGLShaderProgram"));
}

TEST_F(ShaderProgramTest, ACompileErrorIsLoggedWithTheOffendingSourceLine) {
  const std::string text =
      "#version 430\n"
      "out vec4 o_Color;\n"
      "void main() { o_Color = vec4(undeclaredThing); }\n";
  const TContextShaderCode code = TContextShaderSource::CodeFromText(text);
  {
    TLogCapture log;
    const int32_t handle = TOpenGLShaderProgram::BuildShader(GL_FRAGMENT_SHADER, code, false);
    EXPECT_NE(handle, 0);  // the failed shader's name comes back; the later link fails
    EXPECT_TRUE(log.Contains("[Shader Compile Exception]: Cannot create Fragment-Shader for 'TOpenGLShaderProgram':"));
    EXPECT_TRUE(log.Contains("\tvoid main() { o_Color = vec4(undeclaredThing); }"));
    glDeleteShader(static_cast<GLuint>(handle));
  }
  {
    // At design time the same error raises.
    TLogCapture log;
    GLuint handle = 0;
    try {
      handle = static_cast<GLuint>(TOpenGLShaderProgram::BuildShader(GL_VERTEX_SHADER, code, true));
      ADD_FAILURE() << "no exception at design time";
    } catch (const EContext3DException& e) {
      EXPECT_EQ(std::string(e.what()).rfind("Cannot create Vertex-Shader for 'TOpenGLShaderProgram':\r\n", 0), 0u);
    }
    if (handle) glDeleteShader(handle);
  }
}

}  // namespace
}  // namespace quorvel
