#pragma once
// What the passes' shaders share: their names (a base, the material's number, the kind's
// extension), the plain lookup helpers every pass shader declares, and their GL shaders: a
// pass material made again (every resize of a renderer makes its embedded passes again)
// compiles nothing and links nothing when an earlier one had the same texts.
#include <cstdint>
#include <string>
#include <vector>

#include "framework/gui3d/Shader.h"
#include "lib/context/ContextTypesLights.h"

namespace quorvel {

class TObject;

// Copies the enabled lights of AFrom, in order, into the first slots of ATo (at most
// ACapacity); answers how many it copied.
int32_t CopyEnabledShaderLights(const std::vector<TQuorvelShaderLight>& AFrom, TQuorvelShaderLight* ATo,
                                int32_t ACapacity);

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

// The GLSL image of TQuorvelShaderLight and the light count of the pass blocks.
#define QUORVEL_PASS_LIGHT_STRUCT \
  "struct Light {\n"              \
  "  int _LightType;\n"           \
  "  vec4 _Position;\n"           \
  "  vec4 _Direction;\n"          \
  "  vec4 _Ambient;\n"            \
  "  vec4 _Diffuse;\n"            \
  "  vec4 _Specular;\n"           \
  "  vec4 _Scattering;\n"         \
  "  float _SpotCutOff;\n"        \
  "  float _SpotCosCutoff;\n"     \
  "  float _SpotExponent;\n"      \
  "  float _ConstantAttenuation;\n" \
  "  float _LinearAttenuation;\n" \
  "  float _QuadraticAttenuation;\n" \
  "  float _Intensity;\n"         \
  "  int _Enabled;\n"             \
  "};\n"                          \
  "#define MAX_LIGHTS 8\n"

// Direction towards a light and its attenuation at P (world units): directional and spot
// lights shine along their direction, a point light from its position; a spot light reaches
// only what lies inside its cut-off cone.
#define QUORVEL_PASS_LIGHT_FUNCS                                                                  \
  "vec3 lightDirection(Light l, vec3 P) {\n"                                                    \
  "  if (l._LightType == 1) return normalize(l._Position.xyz - P);\n"                           \
  "  return -l._Direction.xyz;\n"                                                               \
  "}\n"                                                                                         \
  "float lightAttenuation(Light l, vec3 P) {\n"                                                 \
  "  float d = distance(l._Position.xyz, P);\n"                                                 \
  "  float a = 1.0 / (l._ConstantAttenuation + l._LinearAttenuation * d + l._QuadraticAttenuation * d * d);\n" \
  "  if (l._LightType == 2) {\n"                                                                \
  "    float s = dot(-normalize(l._Position.xyz - P), normalize(l._Direction.xyz));\n"          \
  "    a *= s < l._SpotCosCutoff ? 0.0 : pow(s, l._SpotExponent);\n"                            \
  "  }\n"                                                                                       \
  "  return a;\n"                                                                               \
  "}\n"

// The vertex shader of a pass's screen rectangle: the matrix arrives as four rows (the
// context's matrix convention); TEX0.xy is the rectangle's texture coordinate.
#define QUORVEL_PASS_RECT_VERTEX                                                                     \
  "#version 430\n"                                                                                   \
  "in vec3 a_Position;\n"                                                                            \
  "in vec2 a_TexCoord0;\n"                                                                           \
  "uniform vec4 _ModelViewProjMatrix[4];\n"                                                          \
  "out vec4 v_Position;\n"                                                                           \
  "out vec4 TEX0;\n"                                                                                 \
  "void main() {\n"                                                                                  \
  "  v_Position = vec4(a_Position, 1.0);\n"                                                          \
  "  TEX0 = vec4(a_TexCoord0, 0.0, 0.0);\n"                                                          \
  "  vec4 p = vec4(a_Position, 1.0);\n"                                                              \
  "  gl_Position = vec4(dot(_ModelViewProjMatrix[0], p), dot(_ModelViewProjMatrix[1], p),\n"         \
  "                     dot(_ModelViewProjMatrix[2], p), dot(_ModelViewProjMatrix[3], p));\n"        \
  "}\n"
