// Shader objects and shader variables of the OpenGL context.
#include <epoxy/gl.h>

#include <algorithm>

#include "lib/context/ContextShader.h"
#include "lib/context/ContextTexturing.h"
#include "lib/context/opengl/ContextGLES.h"

namespace quorvel {

namespace {

constexpr TResourceString SFailedToInitializeTexture{"SFailedToInitializeTexture", "Failed to initialize texture: %s"};

uint32_t ShaderTypeOf(TContextShaderKind AKind) {
  switch (static_cast<int>(AKind)) {
    case 0: return GL_VERTEX_SHADER;
    case 2: return GL_GEOMETRY_SHADER;
    case 3: return GL_TESS_EVALUATION_SHADER;
    case 4: return GL_TESS_CONTROL_SHADER;
    default: return GL_FRAGMENT_SHADER;
  }
}

// The variable of the current program, or null (no upload then).
const TContextShaderVariable* CurrentVariable(const std::string& AName) {
  TShaderProgram* program = TShaderProgramCache::GetCurrent();
  return program ? program->FindVariable(AName) : nullptr;
}

// Runs an upload: at design time its errors are swallowed, otherwise they pass on.
template <class F>
void GuardedUpload(F&& AUpload) {
  try {
    AUpload();
  } catch (const Exception&) {
    if (!TQuorvelContext::IsDesignTime()) throw;
  }
}

}  // namespace

void TQuorvelContextOpenGLESClass::DoInitializeShader(TContextShader* AShader) const {
  if (!Valid()) throw Exception("TQuorvelContextOpenGLES.CreateFromTexture failed - invalid context");
  if (!AShader || !TQuorvelContext::IsContextAvailable()) return;
  const TContextShaderSource* source = &AShader->GetSourceByArch(TQuorvelContext::GetShaderArch());
  if (source->Arch == TContextShaderArch::Undefined) source = &AShader->GetSourceByArch(TContextShaderArch::GLSL);
  if (!source->IsDefined()) return;
  AShader->SetHandle(static_cast<TContextShaderHandle>(static_cast<uint32_t>(
      TShaderProgramCache::BuildShader(this, static_cast<int32_t>(ShaderTypeOf(AShader->GetKind())), source->Code))));
}

void TQuorvelContextOpenGLESClass::DoFinalizeShader(TContextShader* AShader) const {
  if (!AShader) return;
  if (!TQuorvelContext::IsContextAvailable()) {
    AShader->SetHandle(0);
    return;
  }
  TShaderProgramCache::RemoveUsing(AShader->GetHandle());
  glDeleteShader(static_cast<GLuint>(AShader->GetHandle()));
  AShader->SetHandle(0);
  if (TQuorvelContext::HasAnyErrors())
    RaiseContextException(nullptr, &SErrorInContextMethod, {std::string("DoFinalizeShader")});
}

void TQuorvelContextOpenGLES::DoSetShaderVariable(const std::string& AName, std::span<const TVector3D> AData) {
  GuardedUpload([&] {
    if (!IsContextAvailable()) return;
    if (const TContextShaderVariable* v = CurrentVariable(AName); v && !AData.empty()) {
      const TVector3D& d = AData[0];
      switch (v->Kind) {
        case TContextShaderVariableKind::Float: glUniform1f(v->Index, d.X); break;
        case TContextShaderVariableKind::Float2: glUniform2f(v->Index, d.X, d.Y); break;
        case TContextShaderVariableKind::Float3: glUniform3f(v->Index, d.X, d.Y, d.Z); break;
        default: {
          const auto count = std::min<int64_t>(static_cast<int64_t>(AData.size()), v->Size);
          if (count > 0) glUniform4fv(v->Index, static_cast<GLsizei>(count), &d.X);
        }
      }
    }
    if (HasAnyErrors()) RaiseContextException(this, &SCannotFindShaderVariable, {AName});
  });
}

void TQuorvelContextOpenGLES::DoSetShaderVariableMatrix4(const std::string& AName, const TMatrix3D& AMatrix) {
  GuardedUpload([&] {
    if (!IsContextAvailable()) return;
    // One matrix: the caller hands one, whatever array length the variable has (a count of
    // the variable's Size read past the end of AMatrix).
    if (const TContextShaderVariable* v = CurrentVariable(AName)) glUniformMatrix4fv(v->Index, 1, GL_FALSE, &AMatrix.m11);
    if (HasAnyErrors()) RaiseContextException(this, &SCannotFindShaderVariable, {AName});
  });
}

void TQuorvelContextOpenGLES::DoSetShaderVariableInt(const std::string& AName, std::span<const int32_t> AValues) {
  GuardedUpload([&] {
    if (!IsContextAvailable()) return;
    if (const TContextShaderVariable* v = CurrentVariable(AName); v && !AValues.empty()) {
      if (v->Kind == TContextShaderVariableKind::Int)
        glUniform1i(v->Index, AValues[0]);
      else if (v->Kind == TContextShaderVariableKind::IntArray)
        glUniform1iv(v->Index, static_cast<GLsizei>(AValues.size()), AValues.data());
    }
    if (HasAnyErrors()) RaiseContextException(this, &SCannotFindShaderVariable, {AName});
  });
}

void TQuorvelContextOpenGLES::DoSetShaderVariable(const std::string& AName, TTexture* ATexture) {
  GuardedUpload([&] {
    if (!IsContextAvailable()) return;
    const TContextShaderVariable* v = CurrentVariable(AName);
    if (v) {
      if (!ATexture) return;
      const int32_t unit = v->TextureUnit;
      TQuorvelTextureKind kind = TQuorvelTextureKind::Texture2D;
      auto* engineTexture = dynamic_cast<TQuorvelTexture*>(ATexture);
      if (engineTexture) {
        engineTexture->SetTextureUnit(unit);
        kind = engineTexture->GetKind();
      }
      try {
        glActiveTexture(static_cast<GLenum>(GetQuorvelClass()->GetTextureByTextureIndex(unit)));
        // The target the texture was created on: any other is GL_INVALID_OPERATION.
        GLenum target = GL_TEXTURE_2D;
        if (kind == TQuorvelTextureKind::Texture3D || kind == TQuorvelTextureKind::ImageTexture3D)
          target = GL_TEXTURE_3D;
        else if (kind == TQuorvelTextureKind::Array2D)
          target = GL_TEXTURE_2D_ARRAY;
        else if (kind == TQuorvelTextureKind::CubeMap)
          target = GL_TEXTURE_CUBE_MAP;
        const GLuint handle = static_cast<GLuint>(ATexture->GetHandle());
        glBindTexture(target, handle);
        glUniform1i(v->Index, unit);
        if (kind == TQuorvelTextureKind::ImageTexture3D && !engineTexture->GetImageAccessable())
          glBindImageTexture(0, handle, engineTexture->GetCurrentMipMapLevel(), GL_TRUE, 0, GL_READ_WRITE, GL_RGBA8);
      } catch (const std::exception& e) {
        RaiseContextException(this, &SFailedToInitializeTexture, {std::string(e.what())});
      }
    }
    if (HasAnyErrors()) RaiseContextException(this, &SCannotFindShaderVariable, {AName});
  });
}

}  // namespace quorvel
