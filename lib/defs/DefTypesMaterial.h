#pragma once
// Unit Quorvel.DefTypes, materials: TMaterialDef (one material of a model, registered in the
// model's material dictionary by id) and the reference definitions TMaterialRefDef and
// TBehaviourRefDef, which carry the id of what they refer to and resolve by it, while reading
// or in the model's late pass.
#include <cstdint>
#include <string>
#include <string_view>

#include "framework/math/AlphaColor.h"
#include "framework/rtl/Containers.h"
#include "framework/rtl/Enum.h"
#include "lib/defs/DefTypesBase.h"
#include "lib/defs/DefTypesProperties.h"
#include "lib/defs/DefTypesTexture.h"

namespace quorvel {

class TMaterialDef;

// Stored as ordinals: keep the values.
enum class TMaterialDefKind : uint8_t {
  mkDefault = 0,
  mkColor = 1,
  mkLambert = 2,
  mkPhong = 3,
  mkBlinnPhong = 4,
  mkNormalMap = 5,
  mkBumpMap = 6,
  mkLayered = 7,
  mkVertexColor = 8,
  mkCustom = 9,
  mkPBR = 10,
};
FW_ENUM(TMaterialDefKind, mkDefault, mkColor, mkLambert, mkPhong, mkBlinnPhong, mkNormalMap, mkBumpMap, mkLayered,
        mkVertexColor, mkCustom, mkPBR)

enum class TQuorvelShadingModel : uint8_t { smLambert = 0, smPhong = 1, smBlinnPhong = 2, smPBR = 3 };
FW_ENUM(TQuorvelShadingModel, smLambert, smPhong, smBlinnPhong, smPBR)

enum class TQuorvelTonemapping : uint8_t {
  tmNone = 0,
  tmExposure = 1,
  tmNarkowicz = 2,
  tmHill = 3,
  tmHillBoost = 4,
  tmReinhard = 5,
  tmLumaBasedReinhard = 6,
  tmWhitePreservingLumaBasedReinhard = 7,
  tmRomBinDaHouse = 8,
  tmFilmic = 9,
  tmUncharted2 = 10,
};
FW_ENUM(TQuorvelTonemapping, tmNone, tmExposure, tmNarkowicz, tmHill, tmHillBoost, tmReinhard, tmLumaBasedReinhard,
        tmWhitePreservingLumaBasedReinhard, tmRomBinDaHouse, tmFilmic, tmUncharted2)

// A reference to a definition by id; Reference is not owned. Invariant: Id equals the id of
// the definition referred to.
template <class T>
class TRefDef : public TCustomDef {
public:
  T* GetReference() const noexcept { return FReference; }
  void SetReference(T* AValue) { FReference = AValue; }

protected:
  T* FReference = nullptr;
};

// The material of a mesh.
class TMaterialRefDef : public TRefDef<TMaterialDef> {
  QUORVEL_DEF_CLASS(TMaterialRefDef, TRefDef<TMaterialDef>)

public:
  int64_t GetSize() const override;
  TJSONObject* ToJSON() const override;
  // Resolves a missing reference through the model's materials; True in every case.
  bool LateResolveFromJSON(TModelDef* AModel, const TJSONObject* AValue) override;
};

// A behaviour attached to a material, shown under DisplayName.
class TBehaviourRefDef : public TRefDef<TBehaviourDef> {
  QUORVEL_DEF_CLASS(TBehaviourRefDef, TRefDef<TBehaviourDef>)

public:
  int64_t GetSize() const override;
  TJSONObject* ToJSON() const override;
  void FromJSON(TModelDef* AModel, const TJSONObject* AValue) override;
  bool LateResolveFromJSON(TModelDef* AModel, const TJSONObject* AValue) override;

  const std::string& GetDisplayName() const noexcept { return FDisplayName; }
  void SetDisplayName(std::string AValue) { FDisplayName = std::move(AValue); }

private:
  std::string FDisplayName;
};

class TMaterialDef : public TCustomDef {
  QUORVEL_DEF_CLASS(TMaterialDef, TCustomDef)

public:
  using TTextureList = TObjectList<TTextureDef>;
  using TShaderList = TObjectList<TShaderDef>;
  using TBehaviourRefList = TObjectList<TBehaviourRefDef>;
  using TMaterialList = TObjectList<TMaterialDef>;

  // With a model and a non-empty id the material registers itself in the model's dictionary
  // (EDuplicateKey when the id is taken).
  explicit TMaterialDef(TModelDef* AModel = nullptr, std::string AId = {});
  ~TMaterialDef() override;

  int64_t GetSize() const override;
  TJSONObject* ToJSON() const override;
  void FromJSON(TModelDef* AModel, const TJSONObject* AValue) override;

  TModelDef* GetModel() const noexcept { return FModel; }
  const std::string& GetTypeName() const noexcept { return FTypeName; }
  void SetTypeName(std::string AValue) { FTypeName = std::move(AValue); }

  TMaterialDefKind GetKind() const noexcept { return FKind; }
  void SetKind(TMaterialDefKind AValue) { FKind = AValue; }
  TQuorvelShadingModel GetShadingModel() const noexcept { return FShadingModel; }
  void SetShadingModel(TQuorvelShadingModel AValue) { FShadingModel = AValue; }
  bool GetUseTexturing() const noexcept { return FUseTexturing; }
  void SetUseTexturing(bool AValue) { FUseTexturing = AValue; }
  bool GetUseTexture0() const noexcept { return FUseTexture0; }
  void SetUseTexture0(bool AValue) { FUseTexture0 = AValue; }
  bool GetUseLighting() const noexcept { return FUseLighting; }
  void SetUseLighting(bool AValue) { FUseLighting = AValue; }
  bool GetUseVertexColor() const noexcept { return FUseVertexColor; }
  void SetUseVertexColor(bool AValue) { FUseVertexColor = AValue; }
  bool GetUseSpecular() const noexcept { return FUseSpecular; }
  void SetUseSpecular(bool AValue) { FUseSpecular = AValue; }
  const TAlphaColorF& GetDiffuse() const noexcept { return FDiffuse; }
  void SetDiffuse(const TAlphaColorF& AValue) { FDiffuse = AValue; }
  const TAlphaColorF& GetAmbient() const noexcept { return FAmbient; }
  void SetAmbient(const TAlphaColorF& AValue) { FAmbient = AValue; }
  const TAlphaColorF& GetEmissive() const noexcept { return FEmissive; }
  void SetEmissive(const TAlphaColorF& AValue) { FEmissive = AValue; }
  const TAlphaColorF& GetSpecular() const noexcept { return FSpecular; }
  void SetSpecular(const TAlphaColorF& AValue) { FSpecular = AValue; }
  float GetSpecPow() const noexcept { return FSpecPow; }
  void SetSpecPow(float AValue) { FSpecPow = AValue; }
  float GetBrightness() const noexcept { return FBrightness; }
  void SetBrightness(float AValue) { FBrightness = AValue; }
  const TAlphaColorF& GetReflectionColor() const noexcept { return FReflectionColor; }
  void SetReflectionColor(const TAlphaColorF& AValue) { FReflectionColor = AValue; }
  float GetReflectionPower() const noexcept { return FReflectionPower; }
  void SetReflectionPower(float AValue) { FReflectionPower = AValue; }
  bool GetUseReflection() const noexcept { return FUseReflection; }
  void SetUseReflection(bool AValue) { FUseReflection = AValue; }
  const TAlphaColorF& GetRefractionColor() const noexcept { return FRefractionColor; }
  void SetRefractionColor(const TAlphaColorF& AValue) { FRefractionColor = AValue; }
  float GetRefractionPower() const noexcept { return FRefractionPower; }
  void SetRefractionPower(float AValue) { FRefractionPower = AValue; }
  bool GetUseRefraction() const noexcept { return FUseRefraction; }
  void SetUseRefraction(bool AValue) { FUseRefraction = AValue; }
  float GetMetallic() const noexcept { return FMetallic; }
  void SetMetallic(float AValue) { FMetallic = AValue; }
  float GetRoughness() const noexcept { return FRoughness; }
  void SetRoughness(float AValue) { FRoughness = AValue; }
  float GetAO() const noexcept { return FAO; }
  void SetAO(float AValue) { FAO = AValue; }
  bool GetUseClipping() const noexcept { return FUseClipping; }
  void SetUseClipping(bool AValue) { FUseClipping = AValue; }
  const TAlphaColorF& GetClipping() const noexcept { return FClipping; }
  void SetClipping(const TAlphaColorF& AValue) { FClipping = AValue; }
  bool GetUseAlphaCutoff() const noexcept { return FUseAlphaCutoff; }
  void SetUseAlphaCutoff(bool AValue) { FUseAlphaCutoff = AValue; }
  float GetAlphaCutoff() const noexcept { return FAlphaCutoff; }
  void SetAlphaCutoff(float AValue) { FAlphaCutoff = AValue; }
  bool GetParallaxOcclusionMapping() const noexcept { return FParallaxOcclusionMapping; }
  void SetParallaxOcclusionMapping(bool AValue) { FParallaxOcclusionMapping = AValue; }
  int32_t GetParallaxLevels() const noexcept { return FParallaxLevels; }
  void SetParallaxLevels(int32_t AValue) { FParallaxLevels = AValue; }
  float GetNormalIntensity() const noexcept { return FNormalIntensity; }
  void SetNormalIntensity(float AValue) { FNormalIntensity = AValue; }
  TQuorvelTonemapping GetTonemapping() const noexcept { return FTonemapping; }
  void SetTonemapping(TQuorvelTonemapping AValue) { FTonemapping = AValue; }
  float GetTonemappingExposure() const noexcept { return FTonemappingExposure; }
  void SetTonemappingExposure(float AValue) { FTonemappingExposure = AValue; }
  bool GetUseOpacity() const noexcept { return FUseOpacity; }
  void SetUseOpacity(bool AValue) { FUseOpacity = AValue; }
  float GetOpacity() const noexcept { return FOpacity; }
  void SetOpacity(float AValue) { FOpacity = AValue; }
  bool GetDoubleSided() const noexcept { return FDoubleSided; }
  void SetDoubleSided(bool AValue) { FDoubleSided = AValue; }

  // Lists: null until the first add.
  TTextureList* GetTextures() const noexcept { return FTextures; }
  TShaderList* GetShaders() const noexcept { return FShaders; }
  TBehaviourRefList* GetBehaviourRefs() const noexcept { return FBehaviourRefs; }
  TExtensionDefList* GetExtensions() const noexcept { return FExtensions; }
  TMaterialList* GetMaterials() const noexcept { return FMaterials; }

  TTextureDef* AddTexture(TTextureDef* ATexDef);
  TTextureDef* AddTexture(TColorChannelDef AChannel, TObject* AAsset, bool AIsAssetOwner);
  // The first texture of that channel; null when none.
  TTextureDef* GetTexture(TColorChannelDef AChannel) const;
  bool TextureChannelExists(TColorChannelDef AChannel) const { return GetTexture(AChannel) != nullptr; }
  void ClearTextures();

  // The source text is split into lines.
  TShaderDef* AddShader(const std::string& AId, TContextShaderKindEx AKind, const std::string& ASourceCode,
                        TShaderLanguage ALanguage);
  // The first shader with that id / of that kind; null when none.
  TShaderDef* GetShader(std::string_view AId) const;
  TShaderDef* GetShader(TContextShaderKindEx AKind) const;
  // Remove (and free) every match.
  void RemoveShader(std::string_view AId);
  void RemoveShaders(TContextShaderKindEx AKind);
  void ClearShaders();

  // Layered materials only (others raise). A sub-material is freed by its layered parent; the
  // model's dictionary still finds it by id.
  void AddLayeredMaterial(TMaterialDef* AMaterial);
  TMaterialDef* GetLayeredMaterial(std::string_view AId) const;
  // Null outside 0 .. count-1.
  TMaterialDef* GetLayeredMaterialByIndex(int32_t AIdx) const;
  // Frees the sub-materials and the list (any kind).
  void ClearLayeredMaterials();
  // The layered material this one is a sub-material of; null for a top-level material.
  TMaterialDef* GetLayeredParent() const noexcept { return FLayeredParent; }

  // Null (nothing added) for an empty display name or no behaviour.
  TBehaviourRefDef* AddMaterialBehaviourRef(const std::string& ADisplayName, TBehaviourDef* ABehaviour);
  // The last reference with that id / behaviour / display name; null when none.
  TBehaviourRefDef* GetMaterialBehaviourRef(std::string_view AUniqueID) const;
  TBehaviourRefDef* GetMaterialBehaviourRef(const TBehaviourDef* ABehaviour) const;
  TBehaviourRefDef* GetMaterialBehaviourRefByDisplayName(std::string_view ADisplayName) const;
  // Remove (and free) every match.
  void RemoveMaterialBehaviourRef(std::string_view AId);
  void RemoveMaterialBehaviourRef(const TBehaviourDef* ABehaviour);
  void ClearMaterialBehaviourRefs();

  TExtensionDef* AddExtension(const std::string& AId);
  // The last extension with that id; null when none.
  TExtensionDef* GetExtension(std::string_view AId) const;
  void RemoveExtension(std::string_view AId);
  void ClearExtensions();

private:
  friend class TModelDef;
  // Registers under the current id when there is a model and an id; an earlier entry of this
  // material under another id is dropped, so the dictionary never holds it twice.
  void RegisterWithModel();

  std::string FTypeName;
  TModelDef* FModel = nullptr;  // not owned
  TMaterialDefKind FKind = TMaterialDefKind::mkDefault;
  TQuorvelShadingModel FShadingModel = TQuorvelShadingModel::smLambert;
  bool FUseTexturing = true;
  bool FUseTexture0 = true;
  bool FUseLighting = true;
  bool FUseVertexColor = false;
  bool FUseSpecular = false;
  TAlphaColorF FDiffuse{0.75f, 0.75f, 0.75f, 1};
  TAlphaColorF FAmbient{0.35f, 0.35f, 0.35f, 1};
  TAlphaColorF FEmissive{0, 0, 0, 1};
  TAlphaColorF FSpecular{0.15f, 0.15f, 0.15f, 1};
  float FSpecPow = 0.5f;
  float FBrightness = 1.0f;
  TAlphaColorF FReflectionColor{1, 1, 1, 1};
  float FReflectionPower = 0;
  bool FUseReflection = false;
  TAlphaColorF FRefractionColor{1, 1, 1, 1};
  float FRefractionPower = 0;
  bool FUseRefraction = false;
  float FMetallic = 1.0f;
  float FRoughness = 1.0f;
  float FAO = 1.0f;
  bool FUseClipping = false;
  TAlphaColorF FClipping{0, 0, 0, 0};
  bool FUseAlphaCutoff = false;
  float FAlphaCutoff = 0;
  bool FParallaxOcclusionMapping = false;
  int32_t FParallaxLevels = 0;
  float FNormalIntensity = 0;
  TQuorvelTonemapping FTonemapping = TQuorvelTonemapping::tmNone;
  float FTonemappingExposure = 0;
  TTextureList* FTextures = nullptr;
  TShaderList* FShaders = nullptr;
  TBehaviourRefList* FBehaviourRefs = nullptr;
  TExtensionDefList* FExtensions = nullptr;
  TMaterialList* FMaterials = nullptr;  // sub-materials of a layered material
  bool FUseOpacity = false;
  float FOpacity = 1.0f;
  bool FDoubleSided = false;

  TMaterialDef* FLayeredParent = nullptr;  // the owner of a sub-material
  // Where the material is entered in a model's dictionary (set by TModelDef).
  TModelDef* FRegisteredIn = nullptr;
  std::string FRegisteredKey;
};

}  // namespace quorvel
