#pragma once
// The default material and its source. The material owns a vertex and a fragment builder and
// turns them into GLSL whenever a property changes the defines; it registers the two texts as
// a pair of shaders named after itself at its next apply, and every apply fills its
// "ShaderData" block, binds its pool textures and the outputs of the passes it reads, and
// uploads the block. The source is the component forms and meshes use: it forwards every
// property to its material and owns the bitmap pool and the pass inputs.
//
// Lifetime: the source owns the material; the material's program goes with it (a later
// material at the same address must never meet the old program or its block pointer).
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "framework/gui/Bitmap.h"
#include "framework/gui3d/Material.h"
#include "framework/math/Point.h"
#include "framework/rtl/Stopwatch.h"
#include "lib/context/MaterialTypes.h"
#include "lib/defs/DefTypesMaterial.h"
#include "lib/materials/MaterialBehaviour.h"
#include "lib/materials/MaterialDefaultGLSL.h"
#include "lib/materials/MaterialDefaultShaderData.h"

namespace quorvel {

class TContext3D;
class TQuorvelContext;
class TShaderProgram;
class TQuorvelRenderPassController;
class TCustomDef;
class TQuorvelDefaultMaterial;
class TQuorvelDefaultMaterialSource;

// The define of each tone map (index = ordinal; none for tmNone).
extern const char* const TonemappingDefines[11];

// Refers back to its material; owner of the material's texture pool.
class TQuorvelDefaultMaterialRef : public TPersistent {
  FW_CLASS(TQuorvelDefaultMaterialRef, TPersistent)

public:
  explicit TQuorvelDefaultMaterialRef(TQuorvelDefaultMaterial* AMaterial) : FMaterial(AMaterial) {}
  TQuorvelDefaultMaterial* GetMaterial() const { return FMaterial; }

private:
  TQuorvelDefaultMaterial* FMaterial;
};

class TQuorvelDefaultMaterial : public TCustomMaterial {
  FW_CLASS(TQuorvelDefaultMaterial, TCustomMaterial)

public:
  explicit TQuorvelDefaultMaterial(TQuorvelDefaultMaterialSource* ASource);
  ~TQuorvelDefaultMaterial() override;
  // The build (DoInitialize), then the values of a new material.
  void AfterConstruction() override;
  // Drops the program and unregisters the two shader names.
  void BeforeDestruction() override;

  // Rebuilds both texts (the text changed), then tells the material's users.
  void DoChange() override;
  // Marks the program for registration at the next apply, then DoChange.
  void UpdateShaderProgram();

  TQuorvelDefaultMaterialRef* GetRef() const { return FRef.get(); }
  TQuorvelDefaultMaterialSource* GetSource() const { return FSource; }
  TQuorvelTexturePool* GetTextures() const { return FTextures.get(); }
  TQuorvelMaterialBehaviourCollection* GetBehaviours() const { return FBehaviours.get(); }
  // The given collection's items into this material's own, each behaviour attached through
  // its item's SetBehaviour.
  void SetBehaviours(TQuorvelMaterialBehaviourCollection* Value);
  TQuorvelGLSLVertexShader* GetVertexShaderNode() const { return FVSNode.get(); }
  TQuorvelGLSLFragmentShader* GetFragmentShaderNode() const { return FFSNode.get(); }
  const TQuorvelShaderData& GetShaderData() const { return FShaderData; }
  TQuorvelShaderData& ShaderData() { return FShaderData; }
  const TContextShaderSource& GetVSShaderSource() const { return FVSShaderSource; }
  const TContextShaderSource& GetFSShaderSource() const { return FFSShaderSource; }
  bool GetUpdateShaderProgramPending() const { return FUpdateShaderProgram; }
  bool GetErrorOnBuildingShader() const { return FErrorOnBuildingShader; }
  // The first pool entry of that display name (exact), or null.
  virtual TQuorvelTexturePoolEntry* FindTexturePoolEntryByName(const std::string& AName) const;

  // --- value properties -----------------------------------------------------------------
  virtual TQuorvelShadingModel GetShadingModel() const;
  virtual void SetShadingModel(TQuorvelShadingModel Value);
  virtual float GetShadingIntensity() const { return FShaderData.ShadingIntensity; }
  virtual void SetShadingIntensity(float Value);
  virtual float GetBrightness() const { return FShaderData.Brightness; }
  virtual void SetBrightness(float Value);
  bool GetMeasureTime() const { return FMeasureTime; }
  virtual void SetMeasureTime(bool Value);
  virtual double GetStartTime() const { return FShaderData.TimeInfo.X; }
  virtual void SetStartTime(double Value) { FShaderData.TimeInfo.X = static_cast<float>(Value); }
  virtual double GetRenderTime() const { return FShaderData.TimeInfo.Y; }
  virtual void SetRenderTime(double Value) { FShaderData.TimeInfo.Y = static_cast<float>(Value); }
  virtual double GetLastTime() const { return FShaderData.TimeInfo.Z; }
  virtual void SetLastTime(double Value) { FShaderData.TimeInfo.Z = static_cast<float>(Value); }
  virtual double GetDeltaTime() const { return FShaderData.TimeInfo.W; }
  virtual TAlphaColorF GetEmissive() const { return FShaderData.Material.Emissive; }
  virtual void SetEmissive(const TAlphaColorF& Value) { FShaderData.Material.Emissive = Value; }
  virtual TAlphaColorF GetDiffuse() const { return FShaderData.Material.Diffuse; }
  virtual void SetDiffuse(const TAlphaColorF& Value) { FShaderData.Material.Diffuse = Value; }
  virtual TAlphaColorF GetAmbient() const { return FShaderData.Material.Ambient; }
  virtual void SetAmbient(const TAlphaColorF& Value) { FShaderData.Material.Ambient = Value; }
  virtual TAlphaColorF GetSpecular() const { return FShaderData.Material.Specular; }
  virtual void SetSpecular(const TAlphaColorF& Value) { FShaderData.Material.Specular = Value; }
  virtual float GetShininess() const { return FShaderData.Material.Shininess; }
  virtual void SetShininess(float Value);
  virtual TAlphaColorF GetClippingColor() const { return FShaderData.Material.Clipping; }
  virtual void SetClippingColor(const TAlphaColorF& Value) { FShaderData.Material.Clipping = Value; }
  virtual float GetNormalIntensity() const { return FNormalIntensity; }
  virtual void SetNormalIntensity(float Value);
  virtual bool GetInverseNormalMapping() const { return FInverseNormalMapping; }
  virtual void SetInverseNormalMapping(bool Value) { FInverseNormalMapping = Value; }
  virtual int32_t GetParallaxLevels() const { return FShaderData.PassData.ParallaxLevels; }
  virtual void SetParallaxLevels(int32_t Value);
  virtual float GetAlphaCutoff() const { return FShaderData.Material.AlphaCutoff.Y; }
  virtual void SetAlphaCutoff(float Value) { FShaderData.Material.AlphaCutoff.Y = Value; }
  virtual float GetTonemappingExposure() const { return FShaderData.Material.ToneMapExp; }
  virtual void SetTonemappingExposure(float Value);
  virtual float GetMetallicBias() const { return FShaderData.PassData.PBRMetallic; }
  virtual void SetMetallicBias(float Value);
  virtual float GetRoughnessBias() const { return FShaderData.PassData.PBRRoughness; }
  virtual void SetRoughnessBias(float Value);
  virtual float GetAOBias() const { return FShaderData.PassData.PBRAO; }
  virtual void SetAOBias(float Value);
  virtual float GetNearLimit() const { return FShaderData.ViewSize.Z; }
  virtual void SetNearLimit(float Value) { FShaderData.ViewSize.Z = Value; }
  virtual float GetFarLimit() const { return FShaderData.ViewSize.W; }
  virtual void SetFarLimit(float Value) { FShaderData.ViewSize.W = Value; }
  virtual float GetReflectionPower() const { return FShaderData.PassData.ReflectionPower; }
  virtual void SetReflectionPower(float Value) { FShaderData.PassData.ReflectionPower = Value; }
  virtual float GetRefractionPower() const { return FShaderData.PassData.RefractionPower; }
  virtual void SetRefractionPower(float Value) { FShaderData.PassData.RefractionPower = Value; }
  TVector3D GetDisplacement() const { return FShaderData.Material.Displacement; }
  void SetDisplacement(const TVector3D& Value) { FShaderData.Material.Displacement = Value; }

  // --- switch properties ----------------------------------------------------------------
  virtual bool GetUseLighting() const;
  virtual void SetUseLighting(bool Value);
  virtual bool GetUseSpecular() const;
  virtual void SetUseSpecular(bool Value);
  virtual bool GetUseTexturing() const;
  virtual void SetUseTexturing(bool Value);
  virtual bool GetUseTexture0() const;
  virtual void SetUseTexture0(bool Value);
  virtual bool GetUseDisplacementMapping() const;
  virtual void SetUseDisplacementMapping(bool Value);
  virtual bool GetUseNormalMapping() const;
  virtual void SetUseNormalMapping(bool Value);
  virtual bool GetUseSpecularMapping() const;
  virtual void SetUseSpecularMapping(bool Value);
  virtual bool GetUseEmissiveTexture() const;
  virtual void SetUseEmissiveTexture(bool Value);
  virtual bool GetUseDepthMap() const;
  virtual void SetUseDepthMap(bool Value);
  virtual bool GetUseParallaxOcclusion() const;
  virtual void SetUseParallaxOcclusion(bool Value);
  virtual bool GetUsePBRAlbedoTexture() const;
  virtual void SetUsePBRAlbedoTexture(bool Value);
  virtual bool GetUsePBRMetallicTexture() const;
  virtual void SetUsePBRMetallicTexture(bool Value);
  virtual bool GetUsePBRRoughnessTexture() const;
  virtual void SetUsePBRRoughnessTexture(bool Value);
  virtual bool GetUsePBRAOTexture() const;
  virtual void SetUsePBRAOTexture(bool Value);
  virtual bool GetUsePBREmissiveTexture() const;
  virtual void SetUsePBREmissiveTexture(bool Value);
  virtual bool GetUsePBRSpecularTexture() const;
  virtual void SetUsePBRSpecularTexture(bool Value);
  virtual bool GetUseVertexColor() const;
  virtual void SetUseVertexColor(bool Value);
  virtual bool GetUseColorClipping() const;
  virtual void SetUseColorClipping(bool Value);
  virtual bool GetUseAlphaCutoff() const;
  virtual void SetUseAlphaCutoff(bool Value);
  virtual TQuorvelTonemapping GetTonemapping() const { return FTonemapping; }
  virtual void SetTonemapping(TQuorvelTonemapping Value);
  virtual bool GetShadows() const { return FShadows; }
  virtual void SetShadows(bool Value);
  virtual TQuorvelShadowMethod GetShadowMethod() const { return FShadowMethod; }
  virtual void SetShadowMethod(TQuorvelShadowMethod Value);
  virtual bool GetDepthMapping() const { return FDepthMapping; }
  virtual void SetDepthMapping(bool Value);
  virtual bool GetReflections() const { return FReflections; }
  virtual void SetReflections(bool Value);
  virtual bool GetRefractions() const { return FRefractions; }
  virtual void SetRefractions(bool Value);
  virtual bool GetEnvironment() const { return FEnvironment; }
  virtual void SetEnvironment(bool Value);

  // Which default textures the current defines admit (read by the source).
  bool GetAllowTexture0() const { return FAllowTexture0; }
  bool GetAllowNormalMapTexture() const { return FAllowNormalMapTexture; }
  bool GetAllowDisplacementMapTexture() const { return FAllowDisplacementMapTexture; }
  bool GetAllowDepthTexture() const { return FAllowDepthTexture; }
  bool GetAllowReflectionTexture() const { return FAllowReflectionTexture; }
  bool GetAllowRefractionTexture() const { return FAllowRefractionTexture; }
  bool GetAllowEnvironmentTexture() const { return FAllowEnvironmentTexture; }
  bool GetAllowShadowMapTexture() const { return FAllowShadowMapTexture; }

  // --- feeders --------------------------------------------------------------------------
  virtual void DoApplyTexturePool(TQuorvelContext* AContext);
  // The texture sampled for a 2D entry whose bitmap holds no image yet; dropped when the
  // context is reset, as its handle belongs to the old one.
  TTexture* BlankTexture();
  void ReleaseBlankTexture();
  virtual void DoApplyInputs(TQuorvelContext* AContext);
  virtual void DoApplyLights(TQuorvelContext* AContext);
  virtual void DoApplyShadowMaps(TQuorvelContext* AContext);
  virtual void DoApplyReflection(TQuorvelContext* AContext);
  virtual void DoApplyRefraction(TQuorvelContext* AContext);
  virtual void DoApplyDepth(TQuorvelContext* AContext);
  virtual void DoApplyEnvironment(TQuorvelContext* AContext);
  virtual void DoApplyMatrices(TQuorvelContext* AContext);
  virtual void DoApplyTimeInfo(TQuorvelContext* AContext);
  virtual void DoApplyFog(TQuorvelContext* AContext);
  virtual void DoApplyBehaviours(TQuorvelContext* AContext);

  // --- build steps ----------------------------------------------------------------------
  virtual TQuorvelGLSLTextureUniformNode* DoCreateTextureUniformNode(TQuorvelNodeBuilder* ABuilder,
                                                                      TQuorvelTexturePoolEntry* AEntry,
                                                                      const std::string& AName);
  virtual TContextShaderVariables DoGetTextureShaderVariables(TContextShaderKind AKind, int32_t& AIndex);
  virtual void DoRemoveShaderProgram();
  virtual void DoRegisterShaderProgram();
  virtual void DoRegisterUniformBuffers(TContext3D* AContext, TShaderProgram* AProgram);
  virtual void DoCreateVertexShaderNode();
  virtual void DoBuildVertexShaderSource();
  virtual void DoUpdateVertexShader();
  virtual void DoCreateFragmentShaderNode();
  virtual void DoBuildFragmentShaderSource();
  virtual void DoUpdateFragmentShader();
  virtual void DoUpdateAllowedTextures();
  virtual void DoCreateTexturePool();
  virtual void DoCopyTexturePool(TCollection* ABitmapPool);

  // Each behaviour item's block after "ShaderData", and its stage update, in collection order.
  void RegisterBehaviourUniformBuffers(TContext3D* AContext, TShaderProgram* AProgram);
  void UpdateBehaviourShaders(TQuorvelNodeBuilder* ABuilder, TContextShaderKind AKind);

  // The shader names of this material ("default-" + 16 upper-case hex digits of the address).
  std::string ShaderName(TContextShaderKind AKind) const;

protected:
  void DoInitialize() override;
  void DoApply(TContext3D* AContext) override;

  // Add/remove a define in both builders (vertex first).
  void AddDefineBoth(const char* AName);
  void RemoveDefineBoth(const char* AName);
  bool DefinedBoth(const char* AName) const;
  bool DefinedFragment(const char* AName) const;
  void EnsureTexturing();
  // The shading-model defines of one builder.
  void ApplyShadingModelDefines(TQuorvelNodeBuilder* ABuilder) const;
  // The stage text of one builder into its source.
  void BuildStageSource(TQuorvelNodeBuilder* ABuilder, TContextShaderKind AKind, int32_t& AIndex,
                        TContextShaderSource& ASource);

  TOwned<TQuorvelDefaultMaterialRef> FRef;
  TQuorvelDefaultMaterialSource* FSource;
  TQuorvelShaderData FShaderData;
  float FNormalIntensity = 1.0f;
  bool FInverseNormalMapping = false;
  TOwned<TQuorvelGLSLVertexShader> FVSNode;
  TContextShaderSource FVSShaderSource;
  int32_t FVSVarIndex = 0;
  TOwned<TQuorvelGLSLFragmentShader> FFSNode;
  TContextShaderSource FFSShaderSource;
  int32_t FFSVarIndex = 0;
  bool FErrorOnBuildingShader = false;
  bool FUpdateShaderProgram = false;
  bool FAllowTexture0 = false, FAllowNormalMapTexture = false, FAllowDisplacementMapTexture = false,
       FAllowDepthTexture = false, FAllowReflectionTexture = false, FAllowRefractionTexture = false,
       FAllowEnvironmentTexture = false, FAllowShadowMapTexture = false;
  TStopwatch FStopWatch;
  bool FMeasureTime = false;
  TOwned<TQuorvelTexturePool> FTextures;
  TOwned<TQuorvelTexture> FBlankTexture;
  TOwned<TQuorvelMaterialBehaviourCollection> FBehaviours;
  bool FShadows = false;
  TQuorvelShadowMethod FShadowMethod = TQuorvelShadowMethod::ShadowMapping;
  TQuorvelTonemapping FTonemapping = TQuorvelTonemapping::tmNone;
  bool FReflections = false, FRefractions = false, FDepthMapping = false, FEnvironment = false;
  // The builders are about to be made: a DoChange in between rebuilds nothing.
  bool FBuilding = false;
};

// Pass inputs by sampler name; ordered so that the feeders walk them the same way each time.
using TQuorvelRenderPassInputs = std::map<std::string, TQuorvelRenderPassController*>;

class TQuorvelDefaultMaterialSource : public TMaterialSource {
  FW_CLASS(TQuorvelDefaultMaterialSource, TMaterialSource)

public:
  static constexpr int32_t MaxPoolTextures = 16;

  explicit TQuorvelDefaultMaterialSource(TComponent* AOwner);
  ~TQuorvelDefaultMaterialSource() override;
  // The material (inherited), Inputs, the bitmap pool, the default entries (unless loading)
  // and the context-reset subscription.
  void AfterConstruction() override;
  void BeforeDestruction() override;
  void Loaded() override;
  void Notification(TComponent* AComponent, TOperation Operation) override;

  TQuorvelDefaultMaterial* DefaultMaterial() const { return dynamic_cast<TQuorvelDefaultMaterial*>(FMaterial); }

  // --- forwarded properties -------------------------------------------------------------
  TQuorvelShadingModel GetShadingModel() const;
  void SetShadingModel(TQuorvelShadingModel Value);
  float GetShadingIntensity() const;
  void SetShadingIntensity(float Value);
  float GetBrightness() const;
  void SetBrightness(float Value);
  bool GetMeasureTime() const;
  void SetMeasureTime(bool Value);
  TAlphaColorF GetEmissiveF() const;
  void SetEmissiveF(const TAlphaColorF& Value);
  TAlphaColorF GetAmbientF() const;
  void SetAmbientF(const TAlphaColorF& Value);
  TAlphaColorF GetDiffuseF() const;
  void SetDiffuseF(const TAlphaColorF& Value);
  TAlphaColorF GetSpecularF() const;
  void SetSpecularF(const TAlphaColorF& Value);
  TAlphaColorF GetClippingColorF() const;
  void SetClippingColorF(const TAlphaColorF& Value);
  TAlphaColor GetEmissive() const { return GetEmissiveF().ToAlphaColor(); }
  void SetEmissive(TAlphaColor Value) { SetEmissiveF(TAlphaColorF(Value)); }
  TAlphaColor GetAmbient() const { return GetAmbientF().ToAlphaColor(); }
  void SetAmbient(TAlphaColor Value) { SetAmbientF(TAlphaColorF(Value)); }
  TAlphaColor GetColor() const { return GetDiffuseF().ToAlphaColor(); }
  void SetColor(TAlphaColor Value) { SetDiffuseF(TAlphaColorF(Value)); }
  TAlphaColor GetDiffuse() const { return GetColor(); }
  void SetDiffuse(TAlphaColor Value) { SetColor(Value); }
  TAlphaColor GetSpecular() const { return GetSpecularF().ToAlphaColor(); }
  void SetSpecular(TAlphaColor Value) { SetSpecularF(TAlphaColorF(Value)); }
  TAlphaColor GetClippingColor() const { return GetClippingColorF().ToAlphaColor(); }
  void SetClippingColor(TAlphaColor Value) { SetClippingColorF(TAlphaColorF(Value)); }
  float GetShininess() const;
  void SetShininess(float Value);
  float GetNormalIntensity() const;
  void SetNormalIntensity(float Value);
  bool GetInverseNormalMapping() const;
  void SetInverseNormalMapping(bool Value);
  int32_t GetParallaxLevels() const;
  void SetParallaxLevels(int32_t Value);
  float GetMetallicBias() const;
  void SetMetallicBias(float Value);
  float GetRoughnessBias() const;
  void SetRoughnessBias(float Value);
  float GetAOBias() const;
  void SetAOBias(float Value);
  float GetNearLimit() const;
  void SetNearLimit(float Value);
  float GetFarLimit() const;
  void SetFarLimit(float Value);
  float GetAlphaCutoff() const;
  void SetAlphaCutoff(float Value);
  float GetTonemappingExposure() const;
  void SetTonemappingExposure(float Value);
  TQuorvelTonemapping GetTonemapping() const;
  void SetTonemapping(TQuorvelTonemapping Value);
  float GetReflectionPower() const;
  void SetReflectionPower(float Value);
  float GetRefractionPower() const;
  void SetRefractionPower(float Value);

  bool GetUseLighting() const;
  void SetUseLighting(bool Value);
  bool GetUseSpecular() const;
  void SetUseSpecular(bool Value);
  bool GetUseTexturing() const;
  void SetUseTexturing(bool Value);
  // The forwarders of switches that admit a default texture refresh the default entries, so
  // the sampler the new text samples is declared.
  bool GetUseTexture0() const;
  void SetUseTexture0(bool Value);
  bool GetUseDisplacementMapping() const;
  void SetUseDisplacementMapping(bool Value);
  bool GetUseNormalMapping() const;
  void SetUseNormalMapping(bool Value);
  bool GetUseSpecularMapping() const;
  void SetUseSpecularMapping(bool Value);
  bool GetUseEmissiveTexture() const;
  void SetUseEmissiveTexture(bool Value);
  bool GetUseDepthMap() const;
  void SetUseDepthMap(bool Value);
  bool GetUseParallaxOcclusion() const;
  void SetUseParallaxOcclusion(bool Value);
  bool GetUsePBRAlbedoTexture() const;
  void SetUsePBRAlbedoTexture(bool Value);
  bool GetUsePBRMetallicTexture() const;
  void SetUsePBRMetallicTexture(bool Value);
  bool GetUsePBRRoughnessTexture() const;
  void SetUsePBRRoughnessTexture(bool Value);
  bool GetUsePBRAOTexture() const;
  void SetUsePBRAOTexture(bool Value);
  bool GetUsePBREmissiveTexture() const;
  void SetUsePBREmissiveTexture(bool Value);
  bool GetUsePBRSpecularTexture() const;
  void SetUsePBRSpecularTexture(bool Value);
  bool GetUseVertexColor() const;
  void SetUseVertexColor(bool Value);
  bool GetUseColorClipping() const;
  void SetUseColorClipping(bool Value);
  bool GetUseAlphaCutoff() const;
  void SetUseAlphaCutoff(bool Value);

  bool GetShadows() const;
  void SetShadows(bool Value);
  TQuorvelShadowMethod GetShadowMethod() const;
  void SetShadowMethod(TQuorvelShadowMethod Value);
  bool GetReflections() const;
  void SetReflections(bool Value);
  bool GetRefractions() const;
  void SetRefractions(bool Value);
  bool GetEnvironment() const;
  void SetEnvironment(bool Value);

  // --- pass inputs ----------------------------------------------------------------------
  const TQuorvelRenderPassInputs& GetInputs() const { return FInputs; }
  TQuorvelRenderPassController* GetInput(const std::string& AKey) const;
  // Add-or-set: nil keeps the key with a nil value. The source hears of the pass's removal.
  void SetInput(const std::string& AKey, TQuorvelRenderPassController* APass);
  TQuorvelRenderPassController* GetDepthPass() const { return GetInput("DepthTexture"); }
  void SetDepthPass(TQuorvelRenderPassController* Value);
  TQuorvelRenderPassController* GetReflectionPass() const { return GetInput("ReflectionTexture"); }
  void SetReflectionPass(TQuorvelRenderPassController* Value) { SetInput("ReflectionTexture", Value); }
  TQuorvelRenderPassController* GetRefractionPass() const { return GetInput("RefractionTexture"); }
  void SetRefractionPass(TQuorvelRenderPassController* Value) { SetInput("RefractionTexture", Value); }
  TQuorvelRenderPassController* GetEnvironmentPass() const { return GetInput("EnvironmentTexture"); }
  void SetEnvironmentPass(TQuorvelRenderPassController* Value) { SetInput("EnvironmentTexture", Value); }
  TQuorvelRenderPassController* GetShadowMapPass(int32_t AIndex) const;
  void SetShadowMapPass(int32_t AIndex, TQuorvelRenderPassController* Value);
  TQuorvelRenderPassController* GetMainShadowMapPass() const { return GetShadowMapPass(0); }
  void SetMainShadowMapPass(TQuorvelRenderPassController* Value) { SetShadowMapPass(0, Value); }

  // --- bitmaps --------------------------------------------------------------------------
  TQuorvelBitmapPool* GetBitmaps() const { return FBitmaps.get(); }
  void SetBitmaps(TQuorvelBitmapPool* Value);
  virtual TQuorvelBitmapPoolEntry* AddBitmap(const std::string& AName, TPixelFormatEx AInternalFormat,
                                             TPixelFormatEx AFormat, TQuorvelTextureDataType ADataType,
                                             bool AIsDynamic, bool AIgnoreInArray, bool AProtectFormatSettings,
                                             TContextShaderKind AShaderKind, TQuorvelTextureKind ATextureKind);
  void RemoveBitmap(const std::string& AName);
  TQuorvelTextureBitmap* FindBitmapByName(const std::string& AName) const;
  TQuorvelBitmapPoolEntry* FindBitmapEntryByName(const std::string& AName) const;
  void UpdateDefaultBitmaps() { DoUpdateDefaultBitmaps(); }
  virtual void UpdateTexturePool();
  virtual TPointF GetTextureTiling(int32_t AIndex) const;
  virtual void SetTextureTiling(int32_t AIndex, const TPointF& AValue);
  // The bitmaps of "Texture0", "NormalMapTexture", "DisplacementMapTexture": raise when the
  // entry is missing, nil while designing.
  TBitmap* GetTexture() const;
  void SetTexture(TBitmap* Value);
  TBitmap* GetNormalMap() const;
  void SetNormalMap(TBitmap* Value);
  TBitmap* GetDisplacementMap() const;
  void SetDisplacementMap(TBitmap* Value);
  TVector3D GetDisplacement() const;
  void SetDisplacement(const TVector3D& Value);

  // --- behaviours -----------------------------------------------------------------------
  // The material's collection; nil while the source is destroyed or has no material.
  TQuorvelMaterialBehaviourCollection* GetBehaviours() const;
  void SetBehaviours(TQuorvelMaterialBehaviourCollection* Value);
  // The first item holding ABehaviour; -1 when none or without a collection.
  int32_t IndexOfMaterialBehaviour(TQuorvelMaterialBehaviour* ABehaviour) const;
  bool MaterialBehaviourAttached(TQuorvelMaterialBehaviour* ABehaviour) const {
    return IndexOfMaterialBehaviour(ABehaviour) >= 0;
  }
  // A new item "<source>_<behaviour>" holding ABehaviour, unless it is attached already.
  void AttachMaterialBehaviour(TQuorvelMaterialBehaviour* ABehaviour);
  void DetachMaterialBehaviour(TQuorvelMaterialBehaviour* ABehaviour);
  void ClearMaterialsBehaviours();
  // The nearest model up the parent chain (found by its class name), or nil.
  TFwObject* FindModel();

  // --- user snippets --------------------------------------------------------------------
  TStrings* GetVertexShader() const;
  void SetVertexShader(TStrings* Value);
  TStrings* GetSurfaceShader() const;
  void SetSurfaceShader(TStrings* Value);

  // --- definitions ----------------------------------------------------------------------
  // A new default source owned by AOwner, loaded from ADef; nil (nothing made) when ADef is
  // not a material definition. A load that raises frees the source again.
  static TQuorvelDefaultMaterialSource* CreateFromDefinition(TComponent* AOwner, TCustomDef* ADef);
  // Both do nothing unless ADef is a TMaterialDef.
  virtual void LoadFromDefinition(TCustomDef* ADef);
  virtual void StoreToDefinition(TCustomDef* ADef);
  // The pool name of a texture channel; beyond Depth "Texture%d" with AIndex + 1 (one name per
  // texture, never a channel's).
  static std::string ChannelEntryName(TColorChannelDef AChannel, int32_t AIndex);
  // Whether a pool entry holds what a pass renders (shadow maps, depth, reflection, refraction,
  // environment): its switch is stored, never the entry.
  static bool IsPassEntry(const std::string& AName);
  // The channel of a pool name; UserSpecific for a name of no channel.
  static TColorChannelDef EntryChannel(const std::string& AName);

  // Runs on TContextResetMessage: the texture pool is made anew.
  virtual void DoContextReset();

protected:
  TMaterial* CreateMaterial() override;
  virtual void CreateBitmapPool();
  // Adds or removes each default entry by what the material admits, then UpdateTexturePool.
  virtual void UpdateDefaultBitmapEntries();
  virtual void DoUpdateDefaultBitmaps();
  bool IsDesigning() const { return GetComponentState().Contains(csDesigning); }
  // A map of the pixel stage: RGBA8 unsigned bytes, not dynamic, ignored in arrays, 2D.
  TQuorvelBitmapPoolEntry* AddMapEntry(const char* AName, TPixelFormatEx AFormat, bool AProtectFormatSettings);
  // The entry a map switch samples, made when missing (the cap checked first), so that the
  // switch never leaves a text that samples an undeclared sampler.
  void EnsureMapEntry(const char* AName, TPixelFormatEx AFormat);
  // Raises the pool's cap message when making the missing ones of ANames would pass the cap;
  // called before a switch changes anything.
  void CheckPoolRoom(const std::vector<std::string>& ANames) const;
  // The bitmap of an entry; raises AMessage, by default "<name> not activated in material"
  // (nil while designing).
  TBitmap* GetEntryBitmap(const char* AName, const char* AMessage = nullptr) const;
  // X, Y, Z of the displacement vector for 0, 1, 2; W (the scale along the normal) otherwise.
  float GetDisplacementComponent(int32_t AIndex) const;
  void SetDisplacementComponent(int32_t AIndex, float AValue);
  // The four components as properties (published by the normal-map and POM sources).
  float GetDisplacementX() const { return GetDisplacementComponent(0); }
  void SetDisplacementX(float Value) { SetDisplacementComponent(0, Value); }
  float GetDisplacementY() const { return GetDisplacementComponent(1); }
  void SetDisplacementY(float Value) { SetDisplacementComponent(1, Value); }
  float GetDisplacementZ() const { return GetDisplacementComponent(2); }
  void SetDisplacementZ(float Value) { SetDisplacementComponent(2, Value); }
  float GetDisplacementDir() const { return GetDisplacementComponent(3); }
  void SetDisplacementDir(float Value) { SetDisplacementComponent(3, Value); }

  TOwned<TQuorvelBitmapPool> FBitmaps;
  TQuorvelRenderPassInputs FInputs;
  int32_t FContextResetOvrId = -1;
};

}  // namespace quorvel
