#pragma once
// The OpenGL shader program: compiles single shaders from GLSL, links programs with the
// engine's fixed attribute locations (the contract with the draw code) and builds the
// variable table from the shaders' source variables.
#include <cstdint>
#include <string>

#include "lib/context/ContextShader.h"

namespace quorvel {

// Attribute names and the locations every program binds them to before linking.
struct TShaderAttributeLocation {
  const char* Name;
  uint32_t Location;
};
inline constexpr TShaderAttributeLocation ShaderAttributeLocations[] = {
    {"a_Position", 0},   {"a_Normal", 1},     {"a_Color", 2},      {"a_Color1", 3},     {"a_Color2", 4},
    {"a_Color3", 5},     {"a_TexCoord0", 6},  {"a_TexCoord1", 7},  {"a_TexCoord2", 8},  {"a_TexCoord3", 9},
    {"a_Binormal", 10},  {"a_Tangent", 11},   {"a_ModelMatrix", 12}};

// The GLSL name of a source variable: "_" before the name and after every "."
// ("Light.Color" is "_Light._Color").
std::string ShaderUniformName(const std::string& AName);

class TOpenGLShaderProgram : public TShaderProgram {
  FW_CLASS_META(TOpenGLShaderProgram, TShaderProgram, TShaderProgramClass)

public:
  using TShaderProgram::TShaderProgram;
  // Deletes the GL program when BeforeDestruction did not (a failed construction).
  ~TOpenGLShaderProgram() override;
  // Clears the blocks without making the program current, then deletes it.
  void BeforeDestruction() override;

  using TShaderProgram::LinkProgram;
  // Links the compiled shaders (VS and PS required). A failed link deletes the program and
  // raises "cannot create shader program: %s - %s" with the linker's log.
  void LinkProgram(TContextShader* VS, TContextShader* GS, TContextShader* TSE, TContextShader* TSC,
                   TContextShader* PS) override;
  void FreeUniformBuffer(TUniformBufferStruct& AStruct) override;
  bool Available() const override;
  void Use() override;

  // Compiles one shader; a compile error is reported (logged with the offending source
  // lines; raised at design time only) and the shader name is returned anyway.
  static int32_t BuildShader(int32_t AType, const TContextShaderCode& ACode, bool AIsInDesignTime);
  // glUseProgram(0).
  static void ActivateDefault();

private:
  int32_t GetActiveUniformSize(const std::string& AName) const;
  void AddVariables(TContextShader* AShader, TContextShaderKind AKind, int32_t& ATextureUnit);
};

}  // namespace quorvel
