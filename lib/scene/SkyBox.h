#pragma once
// Unit Quorvel.SkyBox: the scene's background, a large cube drawn with its own material that
// shows a cube map, a procedural sky or a plain colour. The viewport draws it first and leaves
// it out of the scene bounds.
#include <array>
#include <cstddef>

#include "framework/gui3d/Material.h"
#include "framework/math/AlphaColor.h"
#include "framework/rtl/Stopwatch.h"
#include "lib/context/ContextTexturing.h"
#include "lib/scene/Cube.h"

namespace quorvel {

enum class TQuorvelSkyBoxMode : uint8_t { CubeMapSkyBox = 0, ProceduralSkyBox = 1, Blank = 2 };

// The GPU uniform block "SkyBoxShaderData" (std140) and at the same time the configuration.
struct TSkyBoxShaderData {
  TMatrix3D ModelViewProjMatrix, ModelMatrix, ViewMatrix, ProjMatrix;
  TVector3D TimeInfo, EyePos;
  TAlphaColorF Diffuse, Emissive;
  TVector3D Resolution;
  TPointF CrescentOfs;
  float CrescentMoon, MoonSurface, DepolarizationFactor, Luminance, MieCoefficient, MieDirectionalG, MieV,
      MieZenithLength;
  uint8_t Reserve1[8];
  TVector3D MieKCoefficient;
  TPoint3D Primaries;
  float NumMolecules, Rayleigh, RayleighZenithLength, RefractiveIndex, SunAngularDiameterDegrees,
      SunIntensityFactor, SunIntensityFalloffSteepness, TonemapWeighting, Turbidity, Inclination, Azimuth,
      StarDensity, StarProbe, StarSize, StarSpark, StarBrightness, Reserve2;
  TAlphaColorF StarColor, CloudColor;
  int32_t CloudIterations;
  float CloudFrequency, CloudAmplitude;
  int32_t FogMode;
  float FogDensity, FogStart, FogEnd, Reserve3;
  TAlphaColorF FogColor;
  TVector3D Settings;

  static TSkyBoxShaderData Create(int32_t AStyle) {
    TSkyBoxShaderData r;
    r.Reset(AStyle);
    return r;
  }
  void Reset(int32_t AStyle);
};
static_assert(sizeof(TSkyBoxShaderData) == 576);
static_assert(offsetof(TSkyBoxShaderData, CrescentOfs) == 336);
static_assert(offsetof(TSkyBoxShaderData, MieKCoefficient) == 384);
static_assert(offsetof(TSkyBoxShaderData, NumMolecules) == 412);
static_assert(offsetof(TSkyBoxShaderData, StarColor) == 480);
static_assert(offsetof(TSkyBoxShaderData, CloudIterations) == 512);
static_assert(offsetof(TSkyBoxShaderData, FogColor) == 544);
static_assert(offsetof(TSkyBoxShaderData, Settings) == 560);

class TQuorvelSkyBoxMaterialSource;

class TQuorvelSkyBoxMaterial : public TCustomMaterial {
  FW_CLASS(TQuorvelSkyBoxMaterial, TCustomMaterial)

public:
  explicit TQuorvelSkyBoxMaterial(TQuorvelSkyBoxMaterialSource* ASource = nullptr);
  // Its programs go and its five names are unregistered, so a later material at the same
  // address cannot draw with this one's freed block.
  ~TQuorvelSkyBoxMaterial() override;

  TQuorvelSkyBoxMode GetMode() const { return FMode; }
  void SetMode(TQuorvelSkyBoxMode Value) { FMode = Value; }
  bool GetAllowFog() const { return FAllowFog; }
  void SetAllowFog(bool Value) { FAllowFog = Value; }
  bool GetStarsEnabled() const { return FStarsEnabled; }
  void SetStarsEnabled(bool Value) { FStarsEnabled = Value; }
  bool GetCloudsEnabled() const { return FCloudsEnabled; }
  void SetCloudsEnabled(bool Value) { FCloudsEnabled = Value; }
  TTexture* GetCubeMap() const { return FCubeMap; }
  void AssignCubeMapTexture(TTexture* Value);

  TSkyBoxShaderData& ShaderData() { return FShaderData; }
  const TSkyBoxShaderData& ShaderData() const { return FShaderData; }
  // Setters that keep a field in its range; the whole record is set unclamped.
  void SetSingle(float TSkyBoxShaderData::*AField, float AValue);
  void SetCloudIterations(int32_t AValue);
  void SetMieKCoefficient(const TVector3D& AValue);
  void SetPrimaries(const TPoint3D& AValue);
  bool GetCrescent() const { return FShaderData.CrescentMoon > 0; }
  void SetCrescent(bool AValue);

  TContextShader* ProceduralVertexShader() const { return FVertexShader2; }
  TContextShader* ProceduralPixelShader() const { return FPixelShader2; }
  TContextShader* BlankPixelShader() const { return FPixelShader3; }

protected:
  void DoInitialize() override;
  void DoApply(TContext3D* AContext) override;

private:
  TQuorvelSkyBoxMaterialSource* FSource = nullptr;
  TQuorvelSkyBoxMode FMode = TQuorvelSkyBoxMode::ProceduralSkyBox;
  TTexture* FCubeMap = nullptr;
  bool FAllowFog = true, FStarsEnabled = true, FCloudsEnabled = true;
  TStopwatch FStopWatch;
  TSkyBoxShaderData FShaderData = TSkyBoxShaderData::Create(0);
  bool FShaderDataRegistered = false;
  TContextShader* FPrevVS = nullptr;
  TContextShader* FPrevFS = nullptr;
  TContextShader* FVertexShader2 = nullptr;
  TContextShader* FPixelShader2 = nullptr;
  TContextShader* FPixelShader3 = nullptr;
};

class TQuorvelSkyBoxMaterialSource : public TMaterialSource {
  FW_CLASS(TQuorvelSkyBoxMaterialSource, TMaterialSource)

public:
  explicit TQuorvelSkyBoxMaterialSource(TComponent* AOwner);
  ~TQuorvelSkyBoxMaterialSource() override;
  void AfterConstruction() override;

  TQuorvelSkyBoxMaterial* SkyMaterial() const { return static_cast<TQuorvelSkyBoxMaterial*>(GetMaterial()); }
  TQuorvelTextureBitmap* GetCubeMap() const { return FCubeMap; }

protected:
  TMaterial* CreateMaterial() override;

private:
  void CubeMapChanged();
  TQuorvelTextureBitmap* FCubeMap = nullptr;
};

class TQuorvelSkyBox : public TQuorvelCube {
  FW_CLASS(TQuorvelSkyBox, TQuorvelCube)

public:
  explicit TQuorvelSkyBox(TComponent* AOwner);
  ~TQuorvelSkyBox() override;
  void AfterConstruction() override;

  TQuorvelSkyBoxMaterialSource* GetSkyMaterialSource() const { return FMaterial; }
  TQuorvelSkyBoxMaterial* SkyMaterial() const { return FMaterial->SkyMaterial(); }

  TQuorvelSkyBoxMode GetMode() const { return SkyMaterial()->GetMode(); }
  void SetMode(TQuorvelSkyBoxMode Value);
  TAlphaColor GetDiffuse() const { return SkyMaterial()->ShaderData().Diffuse.ToAlphaColor(); }
  void SetDiffuse(TAlphaColor Value) { SkyMaterial()->ShaderData().Diffuse = TAlphaColorF(Value); }

  TBitmap* GetTexture(TQuorvelCubeMapFace AIndex) const { return FTextures[size_t(AIndex)]; }
  // Only square faces whose side is a power of two.
  void SetTexture(TQuorvelCubeMapFace AIndex, TBitmap* AValue);

  TSkyBoxShaderData GetConfiguration() const { return SkyMaterial()->ShaderData(); }
  void SetConfiguration(const TSkyBoxShaderData& AProps) { SkyMaterial()->ShaderData() = AProps; }

  void Render() override;

protected:
  virtual void CreateFaceBitmaps();
  virtual void FreeFaceBitmaps();
  virtual void UpdateCubeMap();

private:
  bool FDoUpdateCubeMap = false;
  std::array<TQuorvelTextureBitmap*, 6> FTextures{};
  TQuorvelSkyBoxMaterialSource* FMaterial = nullptr;
};

}  // namespace quorvel
