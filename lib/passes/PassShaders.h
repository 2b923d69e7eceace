#pragma once
// What the passes' shaders share: their names (a base, the material's number, the kind's
// extension) and the plain lookup helpers every pass shader declares.
#include <string>

#include "framework/gui3d/Shader.h"

namespace quorvel {

class TObject;

// Registers AText under "<ABase>-<address of AMaterial>" plus ".fvs", ".fgs" or ".fps", so
// that every material instance owns its shaders.
TContextShader* RegisterPassShader(const std::string& ABase, const TObject* AMaterial, TContextShaderKind AKind,
                                   const char* AText, const TContextShaderVariables& AVariables);

}  // namespace quorvel

#define QUORVEL_PASS_LOOKUPS                                                 \
  "vec4 tex2D(sampler2D s, vec2 uv) { return texture(s, uv); }\n"            \
  "vec4 tex2DProj(sampler2D s, vec4 uv) { return textureProj(s, uv); }\n"    \
  "vec4 tex3D(sampler3D s, vec3 uv) { return texture(s, uv); }\n"            \
  "vec4 texCube(samplerCube s, vec3 uv) { return texture(s, uv); }\n"
