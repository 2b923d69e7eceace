#pragma once
// Unit Quorvel.SkyBox: the scene's background, a large cube drawn with its own material that
// shows a cube map, a procedural sky or a plain colour. The viewport draws it first and leaves
// it out of the scene bounds.
#include <array>
#include <cstddef>
#include <string>

#include "framework/gui3d/Material.h"
#include "framework/math/AlphaColor.h"
#include "framework/rtl/Stopwatch.h"
#include "lib/context/ContextTexturing.h"
#include "lib/scene/Cube.h"

namespace quorvel {

enum class TQuorvelSkyBoxMode : uint8_t { CubeMapSkyBox = 0, ProceduralSkyBox = 1, Blank = 2 };
FW_ENUM(TQuorvelSkyBoxMode, CubeMapSkyBox, ProceduralSkyBox, Blank)

class TJSONObject;
class TStream;

// The record's Single fields that the material keeps in a range, each a property of the same
// name on the skybox.
#define QUORVEL_SKYBOX_SINGLES(X)                                                                              \
  X(CrescentMoon) X(MoonSurface) X(DepolarizationFactor) X(Luminance) X(MieCoefficient) X(MieDirectionalG)     \
  X(MieV) X(MieZenithLength) X(NumMolecules) X(Rayleigh) X(RayleighZenithLength) X(RefractiveIndex)            \
  X(SunAngularDiameterDegrees) X(SunIntensityFactor) X(SunIntensityFalloffSteepness) X(TonemapWeighting)       \
  X(Turbidity) X(Inclination) X(Azimuth) X(StarDensity) X(StarProbe) X(StarSize) X(StarSpark)                  \
  X(StarBrightness) X(CloudFrequency) X(CloudAmplitude)

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
  // The configuration file's form: 34 keys; matrices, time, fog and settings stay out.
  // The caller owns the result.
  TJSONObject* ToJSON() const;
  // Resets with style 0, then takes every key that holds a usable value. A number outside
  // a Single's range, or a "CloudIterations" that is not a whole number, raises
  // EConvertError.
  void FromJSON(const TJSONObject* AJSON);
};
static_assert(sizeof(TSkyBoxShaderData) == 576);
static_assert(offsetof(TSkyBoxShaderData, TimeInfo) == 256);
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
  void BeforeDestruction() override;

  TQuorvelSkyBoxMaterial* SkyMaterial() const { return static_cast<TQuorvelSkyBoxMaterial*>(GetMaterial()); }
  TQuorvelTextureBitmap* GetCubeMap() const { return FCubeMap; }
  // Copies the bitmap; the material then samples the new texture.
  void SetCubeMap(TQuorvelTextureBitmap* Value);
  TQuorvelSkyBoxMode GetMode() const { return SkyMaterial()->GetMode(); }
  void SetMode(TQuorvelSkyBoxMode Value) { SkyMaterial()->SetMode(Value); }
  bool GetAllowFog() const { return SkyMaterial()->GetAllowFog(); }
  void SetAllowFog(bool Value) { SkyMaterial()->SetAllowFog(Value); }
  TAlphaColorF GetDiffuse() const { return SkyMaterial()->ShaderData().Diffuse; }
  void SetDiffuse(const TAlphaColorF& Value) { SkyMaterial()->ShaderData().Diffuse = Value; }
  TAlphaColorF GetEmissive() const { return SkyMaterial()->ShaderData().Emissive; }
  void SetEmissive(const TAlphaColorF& Value) { SkyMaterial()->ShaderData().Emissive = Value; }

protected:
  TMaterial* CreateMaterial() override;

private:
  void CubeMapChanged();
  TQuorvelTextureBitmap* FCubeMap = nullptr;
  int32_t FContextResetOvrId = -1;
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
  bool GetAllowFog() const { return SkyMaterial()->GetAllowFog(); }
  void SetAllowFog(bool Value) { SkyMaterial()->SetAllowFog(Value); }
  bool GetStarsEnabled() const { return SkyMaterial()->GetStarsEnabled(); }
  void SetStarsEnabled(bool Value) { SkyMaterial()->SetStarsEnabled(Value); }
  bool GetCloudsEnabled() const { return SkyMaterial()->GetCloudsEnabled(); }
  void SetCloudsEnabled(bool Value) { SkyMaterial()->SetCloudsEnabled(Value); }
  bool GetCrescent() const { return SkyMaterial()->GetCrescent(); }
  void SetCrescent(bool Value) { SkyMaterial()->SetCrescent(Value); }
  int32_t GetCloudIterations() const { return Data().CloudIterations; }
  void SetCloudIterations(int32_t Value) { SkyMaterial()->SetCloudIterations(Value); }

  TAlphaColor GetDiffuse() const { return Data().Diffuse.ToAlphaColor(); }
  void SetDiffuse(TAlphaColor Value) { Data().Diffuse = TAlphaColorF(Value); }
  TAlphaColor GetEmissive() const { return Data().Emissive.ToAlphaColor(); }
  void SetEmissive(TAlphaColor Value) { Data().Emissive = TAlphaColorF(Value); }
  TAlphaColor GetStarColor() const { return Data().StarColor.ToAlphaColor(); }
  void SetStarColor(TAlphaColor Value) { Data().StarColor = TAlphaColorF(Value); }
  TAlphaColor GetCloudColor() const { return Data().CloudColor.ToAlphaColor(); }
  void SetCloudColor(TAlphaColor Value) { Data().CloudColor = TAlphaColorF(Value); }

#define QUORVEL_SKYBOX_SINGLE_PROPERTY(N)                                                                      \
  float Get##N() const { return Data().N; }                                                                    \
  void Set##N(float Value) { SkyMaterial()->SetSingle(&TSkyBoxShaderData::N, Value); }
  QUORVEL_SKYBOX_SINGLES(QUORVEL_SKYBOX_SINGLE_PROPERTY)
#undef QUORVEL_SKYBOX_SINGLE_PROPERTY

  // One component each; the others stay as they are.
  TPointF GetCrescentOfs() const { return Data().CrescentOfs; }
  void SetCrescentOfs(const TPointF& Value) { Data().CrescentOfs = Value; }
  float GetCrescentOfsX() const { return Data().CrescentOfs.X; }
  void SetCrescentOfsX(float Value) { Data().CrescentOfs.X = Value; }
  float GetCrescentOfsY() const { return Data().CrescentOfs.Y; }
  void SetCrescentOfsY(float Value) { Data().CrescentOfs.Y = Value; }
  TVector3D GetMieKCoefficient() const { return Data().MieKCoefficient; }
  void SetMieKCoefficient(const TVector3D& Value) { SkyMaterial()->SetMieKCoefficient(Value); }
  // AIndex 0 to 3: X, Y, Z, W.
  float GetMieKCoefficientAt(int32_t AIndex) const;
  void SetMieKCoefficientAt(int32_t AIndex, float Value);
  TPoint3D GetPrimaries() const { return Data().Primaries; }
  void SetPrimaries(const TPoint3D& Value) { SkyMaterial()->SetPrimaries(Value); }
  // AIndex 0 to 2: the properties PrimariesA, PrimariesB, PrimariesC.
  float GetPrimariesAt(int32_t AIndex) const;
  void SetPrimariesAt(int32_t AIndex, float Value);

  // Width, Height and Depth.
  TPoint3D GetSize() const { return TPoint3D(GetWidth(), GetHeight(), GetDepth()); }
  void SetSize(const TPoint3D& Value);

  // The faces: the bitmap itself (the skybox keeps it).
  TBitmap* GetTexture(TQuorvelCubeMapFace AIndex) const { return FTextures[size_t(AIndex)]; }
  // Only square faces whose side is a power of two; a refused face keeps its image.
  void SetTexture(TQuorvelCubeMapFace AIndex, TBitmap* AValue);
  // APath + "negz" + AFileExt first, then posz, posy, negy, negx, posx; the first failure
  // ends the load and the faces loaded before it stay.
  void LoadCubeMapFacesFromPath(const std::string& APath, const std::string& AFileExt);

  TSkyBoxShaderData GetConfiguration() const { return Data(); }
  // Taken as given: the property setters' ranges do not apply.
  void SetConfiguration(const TSkyBoxShaderData& AProps) { Data() = AProps; }
  // The caller owns the result.
  TJSONObject* ToJSON() const { return Data().ToJSON(); }
  void FromJSON(const TJSONObject* AJSON);
  // Compact JSON text in UTF-8 without a byte-order mark, at the stream's position.
  void SaveToStream(TStream* AStream) const;
  // Everything from the position to the end. Text that is not JSON raises the parser's
  // error, JSON that is not an object EInvalidCast; the configuration then stays.
  void LoadFromStream(TStream* AStream);
  void SaveToFile(const std::string& AFileName) const;
  void LoadFromFile(const std::string& AFileName);
  // The stream forms without a skybox.
  static void WriteConfiguration(const TSkyBoxShaderData& AData, TStream* AStream);
  static TSkyBoxShaderData ReadConfiguration(TStream* AStream);

  void Render() override;

protected:
  virtual void CreateFaceBitmaps();
  virtual void FreeFaceBitmaps();
  virtual void UpdateCubeMap();

private:
  TSkyBoxShaderData& Data() const { return SkyMaterial()->ShaderData(); }
  bool FDoUpdateCubeMap = false;
  std::array<TQuorvelTextureBitmap*, 6> FTextures{};
  TQuorvelSkyBoxMaterialSource* FMaterial = nullptr;
};

}  // namespace quorvel
