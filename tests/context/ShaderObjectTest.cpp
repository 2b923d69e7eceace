// Shader objects made by the OpenGL context class, texture uniforms bound through the
// context, and the error and release paths of the OpenGL shader program.
#include <epoxy/gl.h>

#include <string>
#include <vector>

#include "framework/rtl/Exceptions.h"
#include "lib/context/Context.h"
#include "lib/context/ContextBuffers.h"
#include "lib/context/ContextTexturing.h"
#include "lib/context/opengl/ContextBuffersOpenGL.h"
#include "tests/context/ShaderTestSupport.h"

namespace quorvel {
namespace {

using namespace shader_test;
using K = TContextShaderVariableKind;
using Kind = TQuorvelTextureKind;
using quorvel::testkit::GLInt;
using quorvel::testkit::TFakeGLErrors;

GLint GLIndexed(GLenum AName, GLuint AIndex) {
  GLint v = 0;
  glGetIntegeri_v(AName, AIndex, &v);
  return v;
}

// --- shader objects ------------------------------------------------------------------------------

class ShaderObjectTest : public GLSuite {};

TEST_F(ShaderObjectTest, EachStageGetsAGLShaderOfItsTypeAndFinalizeDeletesIt) {
  struct Case {
    const char* Name;
    int Kind;  // the engine's stage kind: 0 vertex, 1 pixel, 2 geometry, 3/4 tessellation
    TContextShaderArch Arch;
    const char* Text;
    GLenum GLType;  // 0: no GL shader expected
  };
  const Case cases[] = {
      {"vertex", 0, TContextShaderArch::GLSL, PassThroughVS, GL_VERTEX_SHADER},
      {"pixel", 1, TContextShaderArch::GLSL, "#version 430\nout vec4 o_C;\nvoid main() { o_C = vec4(1.0); }\n",
       GL_FRAGMENT_SHADER},
      {"geometry", 2, TContextShaderArch::GLSL,
       "#version 430\nlayout(triangles) in; layout(triangle_strip, max_vertices = 3) out;\n"
       "void main() { for (int i = 0; i < 3; ++i) { gl_Position = gl_in[i].gl_Position; EmitVertex(); } }\n",
       GL_GEOMETRY_SHADER},
      {"tessellation evaluation", 3, TContextShaderArch::GLSL,
       "#version 430\nlayout(triangles) in;\nvoid main() { gl_Position = gl_in[0].gl_Position; }\n",
       GL_TESS_EVALUATION_SHADER},
      {"tessellation control", 4, TContextShaderArch::GLSL,
       "#version 430\nlayout(vertices = 3) out;\nvoid main() {\n"
       "  gl_out[gl_InvocationID].gl_Position = gl_in[gl_InvocationID].gl_Position;\n"
       "  gl_TessLevelOuter[0] = 1.0; gl_TessLevelInner[0] = 1.0; }\n",
       GL_TESS_CONTROL_SHADER},
      // Only a source for another architecture: nothing to compile.
      {"HLSL only", 0, TContextShaderArch::HLSL, "float4 main() : SV_Position { return 0; }", 0},
      {"no source", 1, TContextShaderArch::Undefined, nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TContextShaderSources sources;
    if (c.Text) sources.emplace_back(c.Arch, TContextShaderSource::CodeFromText(c.Text));
    TOwned<TContextShader> shader(
        New<TContextShader>("test", static_cast<TContextShaderKind>(c.Kind), "", std::move(sources)));
    TContextManager::InitializeShader(shader.get());
    const auto handle = static_cast<GLuint>(shader->GetHandle());
    if (c.GLType == 0) {
      EXPECT_EQ(handle, 0u);
    } else {
      ASSERT_NE(handle, 0u);
      ASSERT_TRUE(glIsShader(handle));
      GLint type = 0, compiled = 0;
      glGetShaderiv(handle, GL_SHADER_TYPE, &type);
      glGetShaderiv(handle, GL_COMPILE_STATUS, &compiled);
      EXPECT_EQ(static_cast<GLenum>(type), c.GLType);
      EXPECT_EQ(compiled, GL_TRUE);
    }
    EXPECT_NO_THROW(TContextManager::FinalizeShader(shader.get()));
    EXPECT_EQ(shader->GetHandle(), 0u);
    if (handle != 0) {
      EXPECT_FALSE(glIsShader(handle));
    }
  }
}

// --- texture uniforms ----------------------------------------------------------------------------

class ShaderTextureVariableTest : public ProgramSuite<quorvel::testkit::TProbeContext> {
protected:
  void MakeShaders() override {
    // Samplers in both stages, of every target the engine's texture kinds use.
    VS = VertexShader(
        "#version 430\n"
        "in vec3 a_Position; uniform sampler3D _Volume; out vec4 v_C;\n"
        "void main() { v_C = textureLod(_Volume, vec3(0.5), 0.0); gl_Position = vec4(a_Position, 1.0); }\n",
        {{"Volume", K::Texture, 0, 1}});
    PS = PixelShader(
        "#version 430\n"
        "in vec4 v_C; uniform sampler2D _Tex; uniform samplerCube _Cube; uniform sampler2DArray _Layers;\n"
        "out vec4 o_Color;\n"
        "void main() { o_Color = v_C + texture(_Tex, vec2(0.5)) + texture(_Cube, vec3(1.0, 0.0, 0.0))\n"
        "  + texture(_Layers, vec3(0.5, 0.5, 1.0)); }\n",
        {{"Tex", K::Texture, 0, 1}, {"Cube", K::Texture, 0, 1}, {"Layers", K::Texture, 0, 1}});
  }
  void TearDown() override {
    glBindImageTexture(0, 0, 0, GL_FALSE, 0, GL_READ_ONLY, GL_RGBA8);
    for (GLenum unit = 0; unit < 5; ++unit) {
      glActiveTexture(GL_TEXTURE0 + unit);
      for (GLenum target : {GL_TEXTURE_2D, GL_TEXTURE_3D, GL_TEXTURE_CUBE_MAP, GL_TEXTURE_2D_ARRAY})
        glBindTexture(target, 0);
    }
    glActiveTexture(GL_TEXTURE0);
    ProgramSuite::TearDown();
  }
};

// An Array2D texture lives on GL_TEXTURE_2D_ARRAY: bound to GL_TEXTURE_3D it was a GL error
// and the setter raised.
TEST_F(ShaderTextureVariableTest, ATextureIsBoundOnItsTargetAtTheVariablesUnit) {
  struct Case {
    const char* Name;
    Kind TexKind;
    int32_t W, H, D;
    bool Nil;
    const char* Variable;
    const char* Uniform;
    GLenum BindingQuery;
    int32_t Unit;          // 0: the call changes nothing
    bool ImageAccessable;
    bool ImageBound;       // bound to image unit 0 as well
  };
  // Units: the vertex stage's sampler first, then the pixel stage's in source order.
  const Case cases[] = {
      {"2D", Kind::Texture2D, 4, 4, 0, false, "Tex", "_Tex", GL_TEXTURE_BINDING_2D, 2, false, false},
      {"cube map", Kind::CubeMap, 4, 4, 0, false, "Cube", "_Cube", GL_TEXTURE_BINDING_CUBE_MAP, 3, false, false},
      {"3D", Kind::Texture3D, 4, 4, 4, false, "Volume", "_Volume", GL_TEXTURE_BINDING_3D, 1, false, false},
      {"2D array", Kind::Array2D, 4, 4, 3, false, "Layers", "_Layers", GL_TEXTURE_BINDING_2D_ARRAY, 4, false, false},
      {"image 3D", Kind::ImageTexture3D, 4, 4, 4, false, "Volume", "_Volume", GL_TEXTURE_BINDING_3D, 1, false, true},
      {"image 3D, image-accessible", Kind::ImageTexture3D, 4, 4, 4, false, "Volume", "_Volume",
       GL_TEXTURE_BINDING_3D, 1, true, false},
      {"nil texture", Kind::Texture2D, 0, 0, 0, true, "Tex", "_Tex", GL_TEXTURE_BINDING_2D, 0, false, false},
      {"unknown name", Kind::Texture2D, 4, 4, 0, false, "Missing", "_Tex", GL_TEXTURE_BINDING_2D, 0, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TOwned<TQuorvelTexture> tex;
    if (!c.Nil) {
      tex.reset(TQuorvelTexture::Create());
      tex->SetKind(c.TexKind);
      tex->SetSize(c.W, c.H);
      tex->SetDepth(c.D);
      tex->SetMipMapLevels(1);
      tex->SetImageAccessable(c.ImageAccessable);
      tex->Initialize();
      ASSERT_NE(tex->GetHandle(), 0u);
    }
    // A known starting state: unit 0 active, every sampler on unit 0, no image bound.
    glActiveTexture(GL_TEXTURE0);
    for (const char* u : {"_Tex", "_Cube", "_Volume", "_Layers"}) glUniform1i(glGetUniformLocation(Prog, u), 0);
    glBindImageTexture(0, 0, 0, GL_FALSE, 0, GL_READ_ONLY, GL_RGBA8);
    ASSERT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    EXPECT_NO_THROW(Context->SetShaderVariable(c.Variable, tex.get()));

    if (c.Unit == 0) {
      EXPECT_EQ(GLInt(GL_ACTIVE_TEXTURE), GL_TEXTURE0);
      EXPECT_EQ(UniformInt(Prog, c.Uniform), 0);
      if (tex) {
        EXPECT_EQ(tex->GetTextureUnit(), -1);
      }
    } else {
      EXPECT_EQ(Program->FindVariable(c.Variable)->TextureUnit, c.Unit);
      EXPECT_EQ(GLInt(GL_ACTIVE_TEXTURE), static_cast<GLint>(GL_TEXTURE0 + c.Unit));
      EXPECT_EQ(static_cast<GLuint>(GLInt(c.BindingQuery)), static_cast<GLuint>(tex->GetHandle()));
      EXPECT_EQ(UniformInt(Prog, c.Uniform), c.Unit);
      EXPECT_EQ(tex->GetTextureUnit(), c.Unit);
    }
    EXPECT_EQ(static_cast<GLuint>(GLIndexed(GL_IMAGE_BINDING_NAME, 0)),
              c.ImageBound ? static_cast<GLuint>(tex->GetHandle()) : 0u);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  }
}

// --- program error paths -------------------------------------------------------------------------

class ShaderProgramErrorTest : public GLSuite {};

TEST_F(ShaderProgramErrorTest, APendingGLErrorRaisesFromUseAndActivateDefault) {
  auto vs = VertexShader(std::string(PassThroughVS));
  auto ps = PixelShader("#version 430\nout vec4 o_Color;\nvoid main() { o_Color = vec4(1.0); }\n");
  auto program = Link(*vs, *ps);
  const GLuint prog = static_cast<GLuint>(program->GetProg());
  struct Case {
    const char* Name;
    bool Default;  // ActivateDefault, else Use
    std::vector<uint32_t> Errors;
    const char* Message;  // null: no exception
    GLint CurrentAfter;   // the call went through whatever the error
  };
  const Case cases[] = {
      {"Use, invalid enum", false, {GL_INVALID_ENUM}, "cannot use shader program", GLint(prog)},
      {"Use, out of memory", false, {GL_OUT_OF_MEMORY}, "cannot use shader program", GLint(prog)},
      {"Use, no error", false, {}, nullptr, GLint(prog)},
      {"default, invalid enum", true, {GL_INVALID_ENUM},
       "failed to switch to default shader program (TOpenGLShaderProgram) - not activated (error #1280)", 0},
      {"default, invalid operation", true, {GL_INVALID_OPERATION},
       "failed to switch to default shader program (TOpenGLShaderProgram) - not activated (error #1282)", 0},
      {"default, no error", true, {}, nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    glUseProgram(c.Default ? prog : 0);
    std::string message;
    {
      TFakeGLErrors fake;
      TFakeGLErrors::Queue.assign(c.Errors.begin(), c.Errors.end());
      try {
        if (c.Default)
          TOpenGLShaderProgram::ActivateDefault();
        else
          program->Use();
      } catch (const Exception& e) {
        message = e.what();
      }
      EXPECT_TRUE(TFakeGLErrors::Queue.empty());
    }
    EXPECT_EQ(message, c.Message ? c.Message : "");
    EXPECT_EQ(GLInt(GL_CURRENT_PROGRAM), c.CurrentAfter);
  }
  glUseProgram(0);
}

// --- uniform blocks on GL buffers and the program's release --------------------------------------

class ShaderProgramReleaseTest : public GLSuite {
protected:
  void SetUp() override {
    GLSuite::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(BufferObjectClass, TOpenGLBufferObject::StaticMeta());
    VS = VertexShader(std::string(PassThroughVS));
    PS = PixelShader(
        "#version 430\n"
        "layout(std140) uniform A { vec4 a; }; layout(std140) uniform B { vec4 b; };\n"
        "layout(std140) uniform C { vec4 c; };\n"
        "out vec4 o_Color;\nvoid main() { o_Color = a + b + c; }\n");
  }
  void TearDown() override {
    glUseProgram(0);
    for (GLuint point = 0; point < 3; ++point) glBindBufferBase(GL_UNIFORM_BUFFER, point, 0);
    GLSuite::TearDown();
  }
  static GLuint Bound(GLuint APoint) { return static_cast<GLuint>(GLIndexed(GL_UNIFORM_BUFFER_BINDING, APoint)); }
  static GLuint Handle(PUniformBufferStruct AEntry) { return AEntry->Buffer->GetHandle(); }

  std::unique_ptr<TCompiledShader> VS, PS;
  const float FA[4] = {1, 0, 0, 0}, FB[4] = {0, 1, 0, 0}, FC[4] = {0, 0, 1, 0};
};

// Removing a block clears the binding point it is linked at and leaves the other blocks'
// points alone, also after the blocks moved to new points.
TEST_F(ShaderProgramReleaseTest, UnregisteringABlockUnbindsOnlyItsOwnBindingPoint) {
  auto program = Link(*VS, *PS);
  program->RegisterUniformBuffer("A", FA, sizeof(FA));
  PUniformBufferStruct b = program->RegisterUniformBuffer("B", FB, sizeof(FB));
  program->PushUniformBuffers();
  ASSERT_NE(Bound(0), 0u);
  ASSERT_EQ(Bound(1), Handle(b));

  program->UnregisterUniformBufferByIdx(0);
  EXPECT_EQ(Bound(0), 0u);
  EXPECT_EQ(Bound(1), Handle(b));

  // B moves to point 0, C takes point 1.
  program->PushUniformBuffers();
  PUniformBufferStruct c = program->RegisterUniformBuffer("C", FC, sizeof(FC));
  program->PushUniformBuffers();
  ASSERT_EQ(Bound(0), Handle(b));
  ASSERT_EQ(Bound(1), Handle(c));
  program->UnregisterUniformBufferByName("B");
  EXPECT_EQ(Bound(0), 0u);
  EXPECT_EQ(Bound(1), Handle(c));
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(ShaderProgramReleaseTest, FreeingAProgramDeletesItAndKeepsTheCurrentProgram) {
  auto other = Link(*VS, *PS);
  const GLuint otherProg = static_cast<GLuint>(other->GetProg());
  for (const GLuint current : {0u, otherProg}) {
    SCOPED_TRACE(current);
    auto program = Link(*VS, *PS);
    const GLuint prog = static_cast<GLuint>(program->GetProg());
    program->RegisterUniformBuffer("A", FA, sizeof(FA));
    program->PushUniformBuffers();
    ASSERT_NE(Bound(0), 0u);
    glUseProgram(current);

    program.reset();
    EXPECT_FALSE(glIsProgram(prog));
    EXPECT_EQ(static_cast<GLuint>(GLInt(GL_CURRENT_PROGRAM)), current);
    EXPECT_EQ(Bound(0), 0u);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  }
}

}  // namespace
}  // namespace quorvel
