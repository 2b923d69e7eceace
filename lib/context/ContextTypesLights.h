#pragma once
// The GPU images shaders receive: the shader-light record (GLSL struct "Light") and the
// material block (GLSL struct "Material"), both laid out byte for byte under std140, so an
// array of them is uploaded unchanged into a uniform block.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "framework/gui3d/Light.h"
#include "framework/math/AlphaColor.h"
#include "framework/math/Point.h"
#include "framework/math/Point3D.h"
#include "framework/rtl/RecordInfo.h"

namespace quorvel {

struct TQuorvelShaderLight {
  int32_t LightType = 0;  // ordinal of TLightType
  uint8_t Reserved1[12] = {};
  TVector3D Position{0, 0, 0, 0};
  TVector3D Direction{0, 0, 0, 0};
  TAlphaColorF Ambient;
  TAlphaColorF Diffuse;
  TAlphaColorF Specular;
  TVector3D Scattering{0, 0, 0, 0};  // X intensity, Y exposure, Z decay, W density
  float SpotCutoff = 0;              // degrees
  float SpotCosCutoff = 0;
  float SpotExponent = 0;
  float ConstantAttenuation = 0;
  float LinearAttenuation = 0;
  float QuadraticAttenuation = 0;
  float Intensity = 0;
  int32_t Enabled = 0;  // enabled when above 0

  static TQuorvelShaderLight Create(const TLightDescription& ALight);
  bool IsEnabled() const { return Enabled > 0; }
  TLightDescription ToLightDescription() const;
};

static_assert(sizeof(TQuorvelShaderLight) == 144, "std140 image of the GLSL struct Light");
static_assert(offsetof(TQuorvelShaderLight, Position) == 16 && offsetof(TQuorvelShaderLight, Direction) == 32 &&
              offsetof(TQuorvelShaderLight, Ambient) == 48 && offsetof(TQuorvelShaderLight, Diffuse) == 64 &&
              offsetof(TQuorvelShaderLight, Specular) == 80 && offsetof(TQuorvelShaderLight, Scattering) == 96 &&
              offsetof(TQuorvelShaderLight, SpotCutoff) == 112 && offsetof(TQuorvelShaderLight, Intensity) == 136 &&
              offsetof(TQuorvelShaderLight, Enabled) == 140);

using TQuorvelShaderLights = std::vector<TQuorvelShaderLight>;

// One entry of the material's texture table (GLSL struct "Texture").
struct TQuorvelShaderMaterialTexture {
  TVector3D Feature{0, 0, 0, 0};
  TPointF Tiling;
  uint8_t Reserved1[8] = {};
};
static_assert(sizeof(TQuorvelShaderMaterialTexture) == 32);

inline constexpr int ShaderMaterialTextureCount = 16;

// The GLSL struct "Material" of the material system.
struct TQuorvelShaderMaterial {
  TAlphaColorF Emissive;
  TAlphaColorF Ambient;
  TAlphaColorF Diffuse;
  TAlphaColorF Specular;
  TAlphaColorF Clipping;
  TPointF AlphaCutoff;
  float ToneMapExp = 0;
  uint8_t Reserved1[4] = {};
  TVector3D Displacement{0, 0, 0, 0};
  TVector3D Features{0, 0, 0, 0};
  float Shininess = 0;
  int32_t Textures = 0;
  int32_t PoolTexturesOffset = 0;
  int32_t PoolTextures = 0;
  TQuorvelShaderMaterialTexture Texture[ShaderMaterialTextureCount];
};

static_assert(sizeof(TQuorvelShaderMaterial) == 656, "std140 image of the GLSL struct Material");
static_assert(offsetof(TQuorvelShaderMaterial, AlphaCutoff) == 80 &&
              offsetof(TQuorvelShaderMaterial, ToneMapExp) == 88 &&
              offsetof(TQuorvelShaderMaterial, Displacement) == 96 &&
              offsetof(TQuorvelShaderMaterial, Features) == 112 &&
              offsetof(TQuorvelShaderMaterial, Shininess) == 128 &&
              offsetof(TQuorvelShaderMaterial, PoolTextures) == 140 && offsetof(TQuorvelShaderMaterial, Texture) == 144);

// The material block in its initial state.
TQuorvelShaderMaterial CreateDefaultShaderMaterial();

// Field lists for uploads by name; the padding is not a shader member and is left out.
FW_RECORD(TQuorvelShaderLight, LightType, Position, Direction, Ambient, Diffuse, Specular, Scattering, SpotCutoff,
          SpotCosCutoff, SpotExponent, ConstantAttenuation, LinearAttenuation, QuadraticAttenuation, Intensity,
          Enabled)

}  // namespace quorvel
