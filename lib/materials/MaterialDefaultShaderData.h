#pragma once
// TQuorvelShaderData: the processor-side copy of the "ShaderData" uniform block that both
// generated shaders of a default material declare. Laid out byte for byte as the GLSL block
// under std140 (6352 bytes), so the material hands its address and size to the program, which
// uploads it unchanged. The light and material images are the context's own records.
#include <cstddef>
#include <cstdint>

#include "framework/math/AlphaColor.h"
#include "framework/math/Matrix3D.h"
#include "framework/math/Point3D.h"
#include "lib/context/ContextTypesLights.h"

namespace quorvel {

inline constexpr int ShaderDataLightCount = 32;
inline constexpr int ShaderDataShadowMapCount = 8;

// Bits of Options.
inline constexpr int32_t ShaderDataClipPlaneFlag = 0x01;
inline constexpr int32_t ShaderDataIsTranslucent = 0x02;

// Bits of FogMode.
inline constexpr int32_t ShaderDataFogEnabled = 1;
inline constexpr int32_t ShaderDataFogLinear = 2;
inline constexpr int32_t ShaderDataFogExp = 4;
inline constexpr int32_t ShaderDataFogExp2 = 8;

// The GLSL struct "PassData": values for render passes and surface effects.
struct TQuorvelShaderPassData {
  TMatrix3D ShadowMapMatrix[ShaderDataShadowMapCount];
  TMatrix3D ReflectTextureMatrix;
  TMatrix3D RefractTextureMatrix;
  float ReflectionPower = 0;
  float RefractionPower = 0;
  float TranslucentDistance = 0;
  float NormalIntensity = 0;
  int32_t ParallaxLevels = 0;
  float PBRMetallic = 0;
  float PBRRoughness = 0;
  float PBRAO = 0;
};

struct TQuorvelShaderData {
  TMatrix3D ModelViewProjectionMatrix;
  TMatrix3D ViewMatrix;
  TMatrix3D ProjectionMatrix;
  TVector3D TimeInfo{0, 0, 0, 0};  // start, render, last and delta time in seconds
  TVector3D EyePos{0, 0, 0, 0};
  TPoint3D ViewDir;
  int32_t ShadingModel = 0;  // 0 Lambert, 1 Phong, 2 Blinn-Phong, 3 PBR
  TQuorvelShaderMaterial Material;
  TQuorvelShaderLight Lights[ShaderDataLightCount];
  int32_t LightsCount = 0;
  int32_t Options = 0;
  float ShadingIntensity = 0;
  float Brightness = 0;
  int32_t FogMode = 0;
  float FogDensity = 0;
  float FogStart = 0;
  float FogEnd = 0;
  TAlphaColorF FogColor;
  TVector3D FrustumMin{0, 0, 0, 0};
  TVector3D FrustumMax{0, 0, 0, 0};
  TVector3D SceneMin{0, 0, 0, 0};
  TVector3D SceneMax{0, 0, 0, 0};
  TVector3D BoundaryMin{0, 0, 0, 0};
  TVector3D BoundaryMax{0, 0, 0, 0};
  TVector3D ViewSize{0, 0, 0, 0};       // width, height (pixels), near, far
  TVector3D ClippingPlane{0, 0, 0, 0};  // normal and distance of clip plane 0
  TQuorvelShaderPassData PassData;

  // The initial block: every byte zero, then the defaults.
  static TQuorvelShaderData Create();
};

static_assert(sizeof(TQuorvelShaderPassData) == 672, "std140 image of the GLSL struct PassData");
static_assert(offsetof(TQuorvelShaderPassData, ReflectTextureMatrix) == 512 &&
              offsetof(TQuorvelShaderPassData, RefractTextureMatrix) == 576 &&
              offsetof(TQuorvelShaderPassData, ReflectionPower) == 640 &&
              offsetof(TQuorvelShaderPassData, RefractionPower) == 644 &&
              offsetof(TQuorvelShaderPassData, TranslucentDistance) == 648 &&
              offsetof(TQuorvelShaderPassData, NormalIntensity) == 652 &&
              offsetof(TQuorvelShaderPassData, ParallaxLevels) == 656 &&
              offsetof(TQuorvelShaderPassData, PBRMetallic) == 660 &&
              offsetof(TQuorvelShaderPassData, PBRRoughness) == 664 && offsetof(TQuorvelShaderPassData, PBRAO) == 668);

static_assert(sizeof(TQuorvelShaderData) == 6352, "std140 image of the uniform block ShaderData");
static_assert(offsetof(TQuorvelShaderData, ViewMatrix) == 64 && offsetof(TQuorvelShaderData, ProjectionMatrix) == 128 &&
              offsetof(TQuorvelShaderData, TimeInfo) == 192 && offsetof(TQuorvelShaderData, EyePos) == 208 &&
              offsetof(TQuorvelShaderData, ViewDir) == 224 && offsetof(TQuorvelShaderData, ShadingModel) == 236 &&
              offsetof(TQuorvelShaderData, Material) == 240 && offsetof(TQuorvelShaderData, Lights) == 896 &&
              offsetof(TQuorvelShaderData, LightsCount) == 5504 && offsetof(TQuorvelShaderData, Options) == 5508 &&
              offsetof(TQuorvelShaderData, ShadingIntensity) == 5512 &&
              offsetof(TQuorvelShaderData, Brightness) == 5516 && offsetof(TQuorvelShaderData, FogMode) == 5520 &&
              offsetof(TQuorvelShaderData, FogDensity) == 5524 && offsetof(TQuorvelShaderData, FogStart) == 5528 &&
              offsetof(TQuorvelShaderData, FogEnd) == 5532 && offsetof(TQuorvelShaderData, FogColor) == 5536 &&
              offsetof(TQuorvelShaderData, FrustumMin) == 5552 && offsetof(TQuorvelShaderData, FrustumMax) == 5568 &&
              offsetof(TQuorvelShaderData, SceneMin) == 5584 && offsetof(TQuorvelShaderData, SceneMax) == 5600 &&
              offsetof(TQuorvelShaderData, BoundaryMin) == 5616 &&
              offsetof(TQuorvelShaderData, BoundaryMax) == 5632 && offsetof(TQuorvelShaderData, ViewSize) == 5648 &&
              offsetof(TQuorvelShaderData, ClippingPlane) == 5664 && offsetof(TQuorvelShaderData, PassData) == 5680);
// The nested members, as record offsets.
static_assert(offsetof(TQuorvelShaderData, Material) + offsetof(TQuorvelShaderMaterial, ToneMapExp) == 328 &&
              offsetof(TQuorvelShaderData, Material) + offsetof(TQuorvelShaderMaterial, Displacement) == 336 &&
              offsetof(TQuorvelShaderData, Material) + offsetof(TQuorvelShaderMaterial, Texture) +
                      offsetof(TQuorvelShaderMaterialTexture, Tiling) == 400 &&
              sizeof(TQuorvelShaderMaterialTexture) == 32 && sizeof(TQuorvelShaderLight) == 144 &&
              offsetof(TQuorvelShaderData, PassData) + offsetof(TQuorvelShaderPassData, PBRAO) == 6348);

}  // namespace quorvel
