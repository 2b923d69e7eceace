#pragma once
// Shared by the shader, uniform-block and light tests: a GL context for the suite and
// shaders compiled into it, owned by the test.
#include <epoxy/gl.h>
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "framework/gui3d/Shader.h"
#include "lib/context/ContextShader.h"
#include "lib/context/opengl/ContextShaderOpenGL.h"
#include "tests/context/ContextTestFixture.h"
#include "tests/support/GLTestSupport.h"

namespace quorvel::shader_test {

// Compiled at construction, deleted with the object.
class TCompiledShader {
public:
  TCompiledShader(TContextShaderKind AKind, uint32_t AGLType, const std::string& AText,
                  TContextShaderVariables AVariables = {})
      : FShader(New<TContextShader>("test", AKind, "",
                                    TContextShaderSources{TContextShaderSource(
                                        TContextShaderArch::GLSL, TContextShaderSource::CodeFromText(AText),
                                        std::move(AVariables))})) {
    FShader->SetHandle(static_cast<TContextShaderHandle>(
        TOpenGLShaderProgram::BuildShader(static_cast<int32_t>(AGLType), FShader->GetSources()[0].Code, false)));
  }
  ~TCompiledShader() {
    if (FShader->GetHandle() != 0) glDeleteShader(static_cast<GLuint>(FShader->GetHandle()));
  }
  TContextShader* Get() const { return FShader.get(); }
  operator TContextShader*() const { return FShader.get(); }

private:
  TOwned<TContextShader> FShader;
};

inline std::unique_ptr<TCompiledShader> VertexShader(const std::string& AText, TContextShaderVariables AVars = {}) {
  return std::make_unique<TCompiledShader>(TContextShaderKind::VertexShader, GL_VERTEX_SHADER, AText,
                                           std::move(AVars));
}
inline std::unique_ptr<TCompiledShader> PixelShader(const std::string& AText, TContextShaderVariables AVars = {}) {
  return std::make_unique<TCompiledShader>(TContextShaderKind::PixelShader, GL_FRAGMENT_SHADER, AText,
                                           std::move(AVars));
}

// On the engine's shared GL context, as the engine's own programs are.
class GLSuite : public ::testing::Test, protected TGLErrorCheck {
protected:
  void SetUp() override { quorvel::testkit::UseSharedContext(); }
  void TearDown() override { CheckGLErrorsLeft(); }
  static void TearDownTestSuite() { TShaderProgramCache::Clear(); }
};

// A uniform of a linked program read back (up to a mat4's 16 floats), or as an int.
inline std::array<float, 16> UniformFloats(GLuint AProg, const char* AName) {
  std::array<float, 16> v{};
  glGetnUniformfv(AProg, glGetUniformLocation(AProg, AName), sizeof(v), v.data());
  return v;
}
inline int32_t UniformInt(GLuint AProg, const char* AName) {
  GLint v = 0;
  glGetUniformiv(AProg, glGetUniformLocation(AProg, AName), &v);
  return v;
}

// A probe context of class C with the program of the suite's VS and PS (made by
// MakeShaders) current on it; the program is dropped after the test.
template <class C>
class ProgramSuite : public GLSuite {
protected:
  virtual void MakeShaders() = 0;
  void SetUp() override {
    GLSuite::SetUp();
    if (HasFatalFailure()) return;
    Context.reset(New<C>(nullptr, 16, 16, TMultisample::None, true));
    MakeShaders();
    TShaderProgramCache::DoSetShaders(Context->ClassType(), *VS, nullptr, nullptr, nullptr, *PS);
    Program = TShaderProgramCache::GetCurrent();
    ASSERT_NE(Program, nullptr);
    Prog = static_cast<GLuint>(Program->GetProg());
  }
  void TearDown() override {
    TShaderProgramCache::Remove(Program);
    Context.reset();
    GLSuite::TearDown();
  }
  std::array<float, 16> Read(const char* AName) const { return UniformFloats(Prog, AName); }
  int32_t ReadInt(const char* AName) const { return UniformInt(Prog, AName); }

  TOwned<C> Context;
  std::unique_ptr<TCompiledShader> VS, PS;
  TShaderProgram* Program = nullptr;
  GLuint Prog = 0;
};

inline TOwned<TShaderProgram> Link(TContextShader* VS, TContextShader* PS, TContextShader* GS = nullptr) {
  return TOwned<TShaderProgram>(TOpenGLShaderProgram::StaticMeta()->Create(nullptr, VS, GS, nullptr, nullptr, PS));
}

inline const char* const PassThroughVS =
    "#version 430\n"
    "in vec3 a_Position;\n"
    "void main() { gl_Position = vec4(a_Position, 1.0); }\n";

}  // namespace quorvel::shader_test
