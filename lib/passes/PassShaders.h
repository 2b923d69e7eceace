#pragma once
// What the passes' shaders share: their names (a base, the material's number, the kind's
// extension), the plain lookup helpers every pass shader declares, and their GL shaders: a
// pass material made again (every resize of a renderer makes its embedded passes again)
// compiles nothing and links nothing when an earlier one had the same texts.
#include <string>

#include "framework/gui3d/Shader.h"

namespace quorvel {

class TObject;

// Registers AText under "<ABase>-<address of AMaterial>" plus ".fvs", ".fgs" or ".fps", so
// that every material instance owns its shaders.
TContextShader* RegisterPassShader(const std::string& ABase, const TObject* AMaterial, TContextShaderKind AKind,
                                   const char* AText, const TContextShaderVariables& AVariables);

// Before a pass material's shaders are made current: a registered pass shader not compiled
// yet takes the GL shader of an equal text compiled before.
void SharePassShaders(std::initializer_list<TContextShader*> AShaders);
// After: the GL shaders compiled for registered pass shaders become the ones of their texts.
void RememberPassShaders(std::initializer_list<TContextShader*> AShaders);
// Unregisters the shaders registered for AMaterial; their GL shaders stay for equal texts.
void ReleasePassShaders(const TObject* AMaterial);

}  // namespace quorvel

#define QUORVEL_PASS_LOOKUPS                                                 \
  "vec4 tex2D(sampler2D s, vec2 uv) { return texture(s, uv); }\n"            \
  "vec4 tex2DProj(sampler2D s, vec4 uv) { return textureProj(s, uv); }\n"    \
  "vec4 tex3D(sampler3D s, vec3 uv) { return texture(s, uv); }\n"            \
  "vec4 texCube(samplerCube s, vec3 uv) { return texture(s, uv); }\n"
