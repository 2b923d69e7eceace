#include "lib/context/opengl/ContextShaderOpenGL.h"

#include <epoxy/gl.h>

#include <string_view>
#include <vector>

#include "framework/platform/Windows.h"
#include "framework/rtl/Containers.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/SysUtils.h"
#include "framework/rtl/Units.h"
#include "lib/context/Context.h"
#include "lib/context/ContextBuffers.h"
#include "lib/context/ContextTypes.h"

namespace quorvel {

namespace {

class TOpenGLShaderProgramClass : public TShaderProgramClassOf<TOpenGLShaderProgram> {
public:
  using TShaderProgramClassOf::TShaderProgramClassOf;
  int32_t BuildShader(int32_t AType, const TContextShaderCode& ACode, bool AIsInDesignTime) const override {
    return TOpenGLShaderProgram::BuildShader(AType, ACode, AIsInDesignTime);
  }
  void ActivateDefault() const override { TOpenGLShaderProgram::ActivateDefault(); }
};

PResStringRec CompileMessage(int32_t AType) {
  switch (AType) {
    case GL_VERTEX_SHADER: return &SCannotCreateVertexShaderFor;
    case GL_GEOMETRY_SHADER: return &SCannotCreateGeometryShaderFor;
    case GL_TESS_EVALUATION_SHADER: return &SCannotCreateTessEvalShaderFor;
    case GL_TESS_CONTROL_SHADER: return &SCannotCreateTessCtrlShaderFor;
    default: return &SCannotCreateFragmentShaderFor;
  }
}

// The source a program reads its variables from: the one of the platform's architecture,
// else the GLSL one.
const TContextShaderSource& SourceOf(const TContextShader* AShader) {
  const TContextShaderSource& s = AShader->GetSourceByArch(TQuorvelContext::GetShaderArch());
  return s.Arch == TContextShaderArch::Undefined ? AShader->GetSourceByArch(TContextShaderArch::GLSL) : s;
}

// The compiler's log with each line that names a source line in Mesa's "0:12(5): error"
// form followed by that line of the source, indented by a TAB (the drivers' other form,
// "ERROR: 0:12: ...", is annotated by the compile-error report itself).
std::string LogWithSourceLines(const std::string& ALog, const std::string& ASource) {
  std::vector<std::string_view> lines;
  for (size_t start = 0; start <= ASource.size();) {
    size_t end = ASource.find_first_of("\r\n", start);
    if (end == std::string::npos) end = ASource.size();
    lines.push_back(std::string_view(ASource).substr(start, end - start));
    if (end < ASource.size() && ASource[end] == '\r' && end + 1 < ASource.size() && ASource[end + 1] == '\n') ++end;
    start = end + 1;
  }
  std::string result;
  for (size_t start = 0; start < ALog.size();) {
    size_t end = ALog.find('\n', start);
    if (end == std::string::npos) end = ALog.size();
    const std::string_view line = std::string_view(ALog).substr(start, end - start);
    result.append(line).append("\n");
    start = end + 1;
    // <source>:<line>(<column>)
    size_t i = 0;
    while (i < line.size() && line[i] == ' ') ++i;
    const size_t digits = i;
    while (i < line.size() && line[i] >= '0' && line[i] <= '9') ++i;
    if (i == digits || i >= line.size() || line[i] != ':') continue;
    const size_t numberStart = ++i;
    int64_t number = 0;
    while (i < line.size() && line[i] >= '0' && line[i] <= '9' && number < 1000000) number = number * 10 + (line[i++] - '0');
    if (i == numberStart || i >= line.size() || line[i] != '(') continue;
    if (number >= 1 && number <= static_cast<int64_t>(lines.size()))
      result.append("\t").append(lines[static_cast<size_t>(number - 1)]).append("\n");
  }
  return result;
}

std::string ClassNameOfProgram() { return TOpenGLShaderProgram::StaticClass()->ClassName(); }

}  // namespace

FW_CLASS_IMPL_META(TOpenGLShaderProgram, "Quorvel.Context.Shader.OpenGL", TOpenGLShaderProgramClass)
FW_CLASS_NO_MEMBERS(TOpenGLShaderProgram)

std::string ShaderUniformName(const std::string& AName) {
  std::string r;
  r.reserve(AName.size() + 4);
  r += '_';
  for (char c : AName) {
    r += c;
    if (c == '.') r += '_';
  }
  return r;
}

TOpenGLShaderProgram::~TOpenGLShaderProgram() {
  if (FProg != 0 && wglGetCurrentContext() != nullptr) glDeleteProgram(static_cast<GLuint>(FProg));
}

void TOpenGLShaderProgram::BeforeDestruction() {
  const uintptr_t prog = FProg;
  FProg = 0;  // so the inherited step does not make the program current
  TShaderProgram::BeforeDestruction();
  // Programs can outlive the GL context (the cache is emptied at unit finalisation); GL
  // calls without a current context are not safe with every loader.
  if (prog != 0 && wglGetCurrentContext() != nullptr) glDeleteProgram(static_cast<GLuint>(prog));
}

void TOpenGLShaderProgram::LinkProgram(TContextShader* VS, TContextShader* GS, TContextShader* TSE,
                                       TContextShader* TSC, TContextShader* PS) {
  if (!VS || !PS) throw EArgumentNilException("cannot link a shader program without vertex and pixel shader");
  const GLuint prog = glCreateProgram();
  FProg = prog;
  glAttachShader(prog, static_cast<GLuint>(VS->GetHandle()));
  glAttachShader(prog, static_cast<GLuint>(PS->GetHandle()));
  for (TContextShader* s : {GS, TSE, TSC})
    if (s) glAttachShader(prog, static_cast<GLuint>(s->GetHandle()));
  for (const TShaderAttributeLocation& a : ShaderAttributeLocations) glBindAttribLocation(prog, a.Location, a.Name);

  glLinkProgram(prog);
  GLint status = 0;
  glGetProgramiv(prog, GL_LINK_STATUS, &status);
  if (status == 0) {
    GLint length = 0;
    glGetProgramiv(prog, GL_INFO_LOG_LENGTH, &length);
    std::string log;
    if (length > 0) {
      std::vector<char> buffer(static_cast<size_t>(length) + 1, '\0');
      GLsizei written = 0;
      glGetProgramInfoLog(prog, length, &written, buffer.data());
      log.assign(buffer.data(), static_cast<size_t>(written > 0 ? written : 0));
    }
    Log::d(log);
    glDeleteProgram(prog);
    FProg = 0;
    RaiseContextException(nullptr, &SCannotCreateShaderProgram, {ClassName(), log});
  }

  // One running counter for all stages: a unit handed to one stage's sampler is never
  // handed to another's, whatever stages the program has.
  int32_t textureUnit = 1;
  AddVariables(VS, TContextShaderKind::VertexShader, textureUnit);
  AddVariables(GS, static_cast<TContextShaderKind>(2), textureUnit);
  AddVariables(TSE, static_cast<TContextShaderKind>(3), textureUnit);
  AddVariables(TSC, static_cast<TContextShaderKind>(4), textureUnit);
  AddVariables(PS, TContextShaderKind::PixelShader, textureUnit);

  FVS = VS->GetHandle();
  FGS = GS ? GS->GetHandle() : 0;
  FTSE = TSE ? TSE->GetHandle() : 0;
  FTSC = TSC ? TSC->GetHandle() : 0;
  FPS = PS->GetHandle();

  if (TQuorvelContext::HasAnyErrors())
    RaiseContextException(nullptr, &SCannotActivateCreatedShaderProgram, {ClassName()});
}

void TOpenGLShaderProgram::AddVariables(TContextShader* AShader, TContextShaderKind AKind, int32_t& ATextureUnit) {
  if (!AShader) return;
  const TContextShaderSource& source = SourceOf(AShader);
  if (!source.IsDefined()) return;
  const GLuint prog = static_cast<GLuint>(FProg);
  for (const TContextShaderVariable& v : source.Variables) {
    std::string glslName = ShaderUniformName(v.Name);
    TContextShaderVariable copy = v;
    copy.ShaderKind = AKind;
    copy.Index = glGetUniformLocation(prog, glslName.c_str());
    if (copy.Index >= 0 && copy.Kind == TContextShaderVariableKind::Texture) copy.TextureUnit = ATextureUnit++;
    if (copy.Kind == TContextShaderVariableKind::Matrix) {
      int32_t size = GetActiveUniformSize(glslName);
      if (size == 0) size = GetActiveUniformSize(glslName + "[0]");
      if (size > 0 && size != copy.Size) copy.Size = size;
    }
    if (!FVariables.emplace(v.Name, std::move(copy)).second) containers_detail::RaiseDuplicateKey();
  }
}

int32_t TOpenGLShaderProgram::GetActiveUniformSize(const std::string& AName) const {
  const GLuint prog = static_cast<GLuint>(FProg);
  GLint count = 0;
  glGetProgramiv(prog, GL_ACTIVE_UNIFORMS, &count);
  char name[100];
  for (GLint i = 0; i < count; ++i) {
    GLsizei length = 0;
    GLint size = 0;
    GLenum type = 0;
    glGetActiveUniform(prog, static_cast<GLuint>(i), sizeof(name), &length, &size, &type, name);
    if (SameText(std::string_view(name, static_cast<size_t>(length)), AName)) return size;
  }
  return 0;
}

void TOpenGLShaderProgram::FreeUniformBuffer(TUniformBufferStruct& AStruct) {
  // Binding is the list index at registration; pushes since may have linked the block at
  // another point and handed this one to another block. Only the points that hold this
  // block's buffer are cleared.
  if (AStruct.Buffer && AStruct.Buffer->GetHandle() != 0 && wglGetCurrentContext() != nullptr) {
    const GLint handle = static_cast<GLint>(AStruct.Buffer->GetHandle());
    GLint points = 0;
    glGetIntegerv(GL_MAX_UNIFORM_BUFFER_BINDINGS, &points);
    for (GLint point = 0; point < points; ++point) {
      GLint bound = 0;
      glGetIntegeri_v(GL_UNIFORM_BUFFER_BINDING, static_cast<GLuint>(point), &bound);
      if (bound == handle) glBindBufferBase(GL_UNIFORM_BUFFER, static_cast<GLuint>(point), 0);
    }
  }
  FreeAndNil(AStruct.Buffer);
  AStruct = TUniformBufferStruct{};
  AStruct.Binding = 0;
}

bool TOpenGLShaderProgram::Available() const {
  return FProg != 0 && FVS != 0 && FPS != 0 && glIsProgram(static_cast<GLuint>(FProg)) == GL_TRUE;
}

void TOpenGLShaderProgram::Use() {
  if (!Available()) return;
  glUseProgram(static_cast<GLuint>(FProg));
  if (TQuorvelContext::HasAnyErrors()) RaiseContextException(nullptr, &SCannotUseShaderProgram, {ClassName()});
}

int32_t TOpenGLShaderProgram::BuildShader(int32_t AType, const TContextShaderCode& ACode, bool AIsInDesignTime) {
  const std::string source(ACode.begin(), ACode.end());
  const GLuint shader = glCreateShader(static_cast<GLenum>(AType));
  const GLchar* text = source.data();
  const GLint length = static_cast<GLint>(source.size());
  glShaderSource(shader, 1, &text, &length);
  glCompileShader(shader);
  GLint status = 0;
  glGetShaderiv(shader, GL_COMPILE_STATUS, &status);
  if (status == 0) {
    GLint logLength = 0;
    glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &logLength);
    if (logLength > 0) {
      std::vector<char> buffer(static_cast<size_t>(logLength) + 1, '\0');
      GLsizei written = 0;
      glGetShaderInfoLog(shader, logLength, &written, buffer.data());
      const std::string log(buffer.data(), static_cast<size_t>(written > 0 ? written : 0));
      Log::d(LogWithSourceLines(log, source));
      // Raised (design time): nobody receives the name, so the shader object goes here.
      auto remove = Finally([&] { glDeleteShader(shader); });
      RaiseShaderCompileException(nullptr, AIsInDesignTime, CompileMessage(AType),
                                  {ClassNameOfProgram(), log, source});
      remove.Dismiss();
    }
  }
  return static_cast<int32_t>(shader);
}

void TOpenGLShaderProgram::ActivateDefault() {
  glUseProgram(0);
  intptr_t error = 0;
  if (TQuorvelContext::HasAnyErrors(error))
    throw Exception(Format("failed to switch to default shader program (%s) - not activated (error #%d)",
                           ClassNameOfProgram(), static_cast<int64_t>(error)));
}

namespace {

void InitContextShaderOpenGLUnit() { SetShaderProgramClass(TOpenGLShaderProgram::StaticMeta()); }
void FinContextShaderOpenGLUnit() { SetShaderProgramClass(TShaderProgram::StaticMeta()); }

const TUnitRegistration ContextShaderOpenGLUnit{{"Quorvel.Context.Shader.OpenGL", {"Quorvel.Context.Shader"}, &InitContextShaderOpenGLUnit, &FinContextShaderOpenGLUnit}};

}  // namespace

}  // namespace quorvel
