#include "lib/materials/MaterialDefault.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "framework/classes/Messages.h"
#include "framework/gui3d/Context3D.h"
#include "framework/rtl/Exceptions.h"
#include "framework/rtl/StringList.h"
#include "framework/rtl/SysUtils.h"
#include "lib/context/Context.h"
#include "lib/context/ContextShader.h"
#include "lib/formats/LoggingForm.h"
#include "lib/materials/MaterialPresetProperties.h"
#include "lib/passes/Controller.h"
#include "lib/passes/ControllerPassesCustomDepth.h"
#include "lib/passes/ControllerPassesEnvironment.h"
#include "lib/passes/ControllerPassesReflection.h"
#include "lib/passes/ControllerPassesRefraction.h"
#include "lib/passes/ControllerPassesSMStoreDepth.h"
#include "lib/passes/ControllerPassesVSMBlur.h"
#include "lib/passes/ControllerPassesVSMStoreDepth.h"
#include "lib/scene/ControlComponents.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelDefaultMaterialRef, "Quorvel.Material.Default")
FW_CLASS_NO_MEMBERS(TQuorvelDefaultMaterialRef)
FW_CLASS_IMPL(TQuorvelDefaultMaterial, "Quorvel.Material.Default")
FW_CLASS_NO_MEMBERS(TQuorvelDefaultMaterial)
FW_CLASS_IMPL(TQuorvelDefaultMaterialSource, "Quorvel.Material.Default")

void TQuorvelDefaultMaterialSource::Register(ClassBuilder<TQuorvelDefaultMaterialSource>& b) {
  b.Prop("ShadingModel", &Self::GetShadingModel, &Self::SetShadingModel)
      .Prop("ShadingIntensity", &Self::GetShadingIntensity, &Self::SetShadingIntensity)
      .Prop("Brightness", &Self::GetBrightness, &Self::SetBrightness)
      .Prop("MeasureTime", &Self::GetMeasureTime, &Self::SetMeasureTime)
      .Prop("Color", &Self::GetColor, &Self::SetColor)
      .Prop("Diffuse", &Self::GetDiffuse, &Self::SetDiffuse)
      .Prop("Emissive", &Self::GetEmissive, &Self::SetEmissive)
      .Prop("Ambient", &Self::GetAmbient, &Self::SetAmbient)
      .Prop("Specular", &Self::GetSpecular, &Self::SetSpecular)
      .Prop("Shininess", &Self::GetShininess, &Self::SetShininess)
      .Prop("ClippingColor", &Self::GetClippingColor, &Self::SetClippingColor)
      .Prop("NormalIntensity", &Self::GetNormalIntensity, &Self::SetNormalIntensity)
      .Prop("InverseNormalMapping", &Self::GetInverseNormalMapping, &Self::SetInverseNormalMapping)
      .Prop("ParallaxLevels", &Self::GetParallaxLevels, &Self::SetParallaxLevels)
      .Prop("MetallicBias", &Self::GetMetallicBias, &Self::SetMetallicBias)
      .Prop("RoughnessBias", &Self::GetRoughnessBias, &Self::SetRoughnessBias)
      .Prop("AOBias", &Self::GetAOBias, &Self::SetAOBias)
      .Prop("NearLimit", &Self::GetNearLimit, &Self::SetNearLimit)
      .Prop("FarLimit", &Self::GetFarLimit, &Self::SetFarLimit)
      .Prop("Shadows", &Self::GetShadows, &Self::SetShadows)
      .Prop("ShadowMethod", &Self::GetShadowMethod, &Self::SetShadowMethod)
      .Prop("MainShadowMapPass", &Self::GetMainShadowMapPass, &Self::SetMainShadowMapPass)
      .Prop("DepthPass", &Self::GetDepthPass, &Self::SetDepthPass)
      .Prop("ReflectionPass", &Self::GetReflectionPass, &Self::SetReflectionPass)
      .Prop("RefractionPass", &Self::GetRefractionPass, &Self::SetRefractionPass)
      .Prop("EnvironmentPass", &Self::GetEnvironmentPass, &Self::SetEnvironmentPass)
      .Prop("Reflections", &Self::GetReflections, &Self::SetReflections)
      .Prop("Refractions", &Self::GetRefractions, &Self::SetRefractions)
      .Prop("Environment", &Self::GetEnvironment, &Self::SetEnvironment)
      .Prop("ReflectionPower", &Self::GetReflectionPower, &Self::SetReflectionPower)
      .Prop("RefractionPower", &Self::GetRefractionPower, &Self::SetRefractionPower)
      .Prop("VertexShader", &Self::GetVertexShader, &Self::SetVertexShader)
      .Prop("SurfaceShader", &Self::GetSurfaceShader, &Self::SetSurfaceShader)
      .Prop("Behaviours", &Self::GetBehaviours, &Self::SetBehaviours)
      .Prop("Bitmaps", &Self::GetBitmaps, &Self::SetBitmaps);
}

namespace {
const TUnitRegistration MaterialDefaultUnit{
    StreamedClassUnit("Quorvel.Material.Default", &TQuorvelDefaultMaterialSource::StaticClass)};
}  // namespace

const char* const TonemappingDefines[11] = {nullptr,
                                            "TONEMAP_EXPOSURE",
                                            "TONEMAP_ACES_NARKOWICZ",
                                            "TONEMAP_ACES_HILL",
                                            "TONEMAP_ACES_HILL_EXPOSURE_BOOST",
                                            "TONEMAP_REINHARD",
                                            "TONEMAP_LUMABASED_REINHARD",
                                            "TONEMAP_WP_LUMABASED_REINHARD",
                                            "TONEMAP_ROMBINDAHOUSE",
                                            "TONEMAP_FILMIC",
                                            "TONEMAP_UNCHARTED2"};

namespace {

// Lower bound first, as the property table says.
float ClampValue(float AValue, float AMin, float AMax) {
  if (AValue < AMin) return AMin;
  if (AValue > AMax) return AMax;
  return AValue;
}

double TimeStampSeconds() { return static_cast<double>(TStopwatch::GetTimeStamp()) / 10'000'000.0; }

}  // namespace

// ===== TQuorvelDefaultMaterial ===============================================================

TQuorvelDefaultMaterial::TQuorvelDefaultMaterial(TQuorvelDefaultMaterialSource* ASource)
    : FSource(ASource), FShaderData(TQuorvelShaderData::Create()) {}

TQuorvelDefaultMaterial::~TQuorvelDefaultMaterial() = default;

void TQuorvelDefaultMaterial::AfterConstruction() {
  TCustomMaterial::AfterConstruction();  // the build
  FRef.reset(New<TQuorvelDefaultMaterialRef>(this));
  FStopWatch.Start();
  const float t = static_cast<float>(TimeStampSeconds());
  FShaderData.TimeInfo = TVector3D(t, t, t, 0);
  FNormalIntensity = 1.0f;
  FInverseNormalMapping = false;
  FShaderData.PassData.NormalIntensity = 1.0f;
  FShaderData.PassData.ParallaxLevels = 16;
  FShaderData.PassData.PBRMetallic = 0.25f;
  FShaderData.PassData.PBRRoughness = 0.75f;
  FShaderData.PassData.PBRAO = 1.0f;
}

void TQuorvelDefaultMaterial::BeforeDestruction() {
  // The cached program's block entry points into this object, and the names carry its
  // address: both must go, in or out of a scene, before the memory can be reused.
  if (FVertexShader && FPixelShader) TQuorvelContext::RemoveProgram(FVertexShader, FPixelShader);
  FVertexShader = nullptr;
  FPixelShader = nullptr;
  TShaderManager::UnregisterShader(ShaderName(TContextShaderKind::VertexShader));
  TShaderManager::UnregisterShader(ShaderName(TContextShaderKind::PixelShader));
  if (FBehaviours) FBehaviours->SetDestroying();
  FBehaviours.reset();
  FTextures.reset();
  FBlankTexture.reset();
  FVSNode.reset();
  FFSNode.reset();
  FRef.reset();
  TCustomMaterial::BeforeDestruction();
}

std::string TQuorvelDefaultMaterial::ShaderName(TContextShaderKind AKind) const {
  char hex[17];
  std::snprintf(hex, sizeof(hex), "%016" PRIX64, static_cast<uint64_t>(reinterpret_cast<uintptr_t>(this)));
  return std::string("default-") + hex + (AKind == TContextShaderKind::VertexShader ? ".fvs" : ".fps");
}

void TQuorvelDefaultMaterial::DoInitialize() {
  FBuilding = true;
  DoCreateTexturePool();
  if (!FBehaviours) FBehaviours.reset(New<TQuorvelMaterialBehaviourCollection>(this));
  FBehaviours->SetMaterial(this);
  DoCreateVertexShaderNode();
  DoUpdateVertexShader();
  DoCreateFragmentShaderNode();
  DoUpdateFragmentShader();
  FBuilding = false;
}

void TQuorvelDefaultMaterial::DoCreateTexturePool() {
  // The pool's owner is the ref, which does not exist yet during the build.
  if (!FTextures) FTextures.reset(New<TQuorvelTexturePool>(nullptr));
  FTextures->Clear();
}

void TQuorvelDefaultMaterial::DoCreateVertexShaderNode() {
  FUpdateShaderProgram = true;
  FVSNode.reset(New<TQuorvelGLSLVertexShader>(this));
}

void TQuorvelDefaultMaterial::DoCreateFragmentShaderNode() {
  FUpdateShaderProgram = true;
  FFSNode.reset(New<TQuorvelGLSLFragmentShader>(this));
}

void TQuorvelDefaultMaterial::ApplyShadingModelDefines(TQuorvelNodeBuilder* ABuilder) const {
  switch (FShaderData.ShadingModel) {
    case 0:
      ABuilder->RemoveDefine("PHONG");
      ABuilder->RemoveDefine("BLINNPHONG");
      ABuilder->RemoveDefine("PBR");
      break;
    case 1:
      ABuilder->AddDefine("PHONG");
      ABuilder->RemoveDefine("BLINNPHONG");
      ABuilder->RemoveDefine("PBR");
      break;
    case 2:
      ABuilder->AddDefine("BLINNPHONG");
      ABuilder->RemoveDefine("PHONG");
      ABuilder->RemoveDefine("PBR");
      break;
    case 3:
      ABuilder->AddDefine("PBR");
      ABuilder->RemoveDefine("PHONG");
      ABuilder->RemoveDefine("BLINNPHONG");
      break;
    default:
      break;
  }
}

void TQuorvelDefaultMaterial::BuildStageSource(TQuorvelNodeBuilder* ABuilder, TContextShaderKind AKind,
                                               int32_t& AIndex, TContextShaderSource& ASource) {
  AIndex = 0;
  ABuilder->AddDefine("CLIPPINGPLANE");
  ApplyShadingModelDefines(ABuilder);
  const TContextShaderVariables variables = DoGetTextureShaderVariables(AKind, AIndex);
  ASource = TContextShaderSource(TContextShaderArch::GLSL, TContextShaderSource::CodeFromText(ABuilder->ToString()));
  AddShaderVariables(ASource, variables);
}

void TQuorvelDefaultMaterial::DoBuildVertexShaderSource() {
  if (FVSNode) BuildStageSource(FVSNode.get(), TContextShaderKind::VertexShader, FVSVarIndex, FVSShaderSource);
}

void TQuorvelDefaultMaterial::DoBuildFragmentShaderSource() {
  if (FFSNode) BuildStageSource(FFSNode.get(), TContextShaderKind::PixelShader, FFSVarIndex, FFSShaderSource);
}

void TQuorvelDefaultMaterial::DoUpdateVertexShader() {
  DoBuildVertexShaderSource();
  UpdateBehaviourShaders(FVSNode.get(), TContextShaderKind::VertexShader);
  FUpdateShaderProgram = true;
}

void TQuorvelDefaultMaterial::DoUpdateFragmentShader() {
  DoBuildFragmentShaderSource();
  UpdateBehaviourShaders(FFSNode.get(), TContextShaderKind::PixelShader);
  FUpdateShaderProgram = true;
}

void TQuorvelDefaultMaterial::UpdateBehaviourShaders(TQuorvelNodeBuilder* ABuilder, TContextShaderKind AKind) {
  if (!FBehaviours) return;
  for (int i = 0; i < FBehaviours->GetCount(); ++i) FBehaviours->Items(i)->OnUpdateShader(ABuilder, AKind);
}

void TQuorvelDefaultMaterial::RegisterBehaviourUniformBuffers(TContext3D* AContext, TShaderProgram* AProgram) {
  if (!FBehaviours) return;
  for (int i = 0; i < FBehaviours->GetCount(); ++i)
    FBehaviours->Items(i)->OnRegisterUniformBuffer(this, AContext, AProgram);
}

void TQuorvelDefaultMaterial::SetBehaviours(TQuorvelMaterialBehaviourCollection* Value) {
  // The items' AssignTo attaches each behaviour through SetBehaviour.
  if (FBehaviours) FBehaviours->Assign(Value);
}

TQuorvelGLSLTextureUniformNode* TQuorvelDefaultMaterial::DoCreateTextureUniformNode(TQuorvelNodeBuilder* ABuilder,
                                                                                    TQuorvelTexturePoolEntry* AEntry,
                                                                                    const std::string& AName) {
  TQuorvelCompositeNode* textures =
      ABuilder && ABuilder->GetGlobals() ? ABuilder->GetGlobals()->GetUniforms()->GetTextures() : nullptr;
  if (!textures) throw Exception("texture node not assigned - failed to reinitialize textures");
  auto* node = textures->AddNew<TQuorvelGLSLTextureUniformNode>();
  if (AEntry) node->SetTextureKind(AEntry->GetTextureKind());
  node->SetId(!AName.empty() ? AName : (AEntry ? AEntry->GetDisplayName() : std::string()));
  return node;
}

TContextShaderVariables TQuorvelDefaultMaterial::DoGetTextureShaderVariables(TContextShaderKind AKind,
                                                                            int32_t& AIndex) {
  TQuorvelNodeBuilder* builder;
  if (AKind == TContextShaderKind::VertexShader)
    builder = FVSNode.get();
  else if (AKind == TContextShaderKind::PixelShader)
    builder = FFSNode.get();
  else
    throw Exception("TQuorvelDefaultMaterial.DoGetTextureShaderVariables - invalid shader kind");
  TQuorvelCompositeNode* textures =
      builder && builder->GetGlobals() ? builder->GetGlobals()->GetUniforms()->GetTextures() : nullptr;
  if (!textures) throw Exception("texture node not found in uniform globals");
  textures->Clear();

  TContextShaderVariables result;
  if (!FTextures) return result;
  const bool asArray = FTextures->GetDeclareAsArray();
  int32_t j = 0;
  for (int i = 0; i < FTextures->GetCount(); ++i) {
    TQuorvelTexturePoolEntry* entry = FTextures->Items(i);
    if (entry->GetShaderKind() != AKind) continue;
    if (!asArray || entry->GetIsDynamic() || entry->GetIgnoreInArray()) {
      const std::string name = entry->GetDisplayName();
      if (name.empty()) continue;
      DoCreateTextureUniformNode(builder, entry, "");
      result.emplace_back(name, TContextShaderVariableKind::Texture, AIndex, 0);
    } else {
      result.emplace_back(Format("PoolTexture[%d]", {j}), TContextShaderVariableKind::Texture, AIndex, 0);
      ++j;
    }
    ++AIndex;
  }
  if (asArray) {
    if (j > 0)
      DoCreateTextureUniformNode(builder, nullptr, Format("PoolTexture[%d]", {j}));
    else if (AKind == TContextShaderKind::PixelShader)
      DoCreateTextureUniformNode(builder, nullptr, "PoolTexture[1]");
    FShaderData.Material.PoolTextures = j;
  } else {
    FShaderData.Material.PoolTextures = 0;
  }
  return result;
}

void TQuorvelDefaultMaterial::DoRemoveShaderProgram() {
  // The cache is process-wide: the program goes whether or not a scene is begun.
  if (FVertexShader && FPixelShader) TQuorvelContext::RemoveProgram(FVertexShader, FPixelShader);
  FVertexShader = nullptr;
  FPixelShader = nullptr;
}

void TQuorvelDefaultMaterial::DoRegisterShaderProgram() {
  FErrorOnBuildingShader = false;
  DoRemoveShaderProgram();
  FVertexShader = TShaderManager::RegisterShaderFromData(ShaderName(TContextShaderKind::VertexShader),
                                                         TContextShaderKind::VertexShader, "", {FVSShaderSource});
  FPixelShader = TShaderManager::RegisterShaderFromData(ShaderName(TContextShaderKind::PixelShader),
                                                        TContextShaderKind::PixelShader, "", {FFSShaderSource});
  FUpdateShaderProgram = false;
}

void TQuorvelDefaultMaterial::DoRegisterUniformBuffers(TContext3D* AContext, TShaderProgram* AProgram) {
  if (!AProgram) return;
  AProgram->RegisterUniformBuffer("ShaderData", &FShaderData, sizeof(FShaderData));
  RegisterBehaviourUniformBuffers(AContext, AProgram);
}

void TQuorvelDefaultMaterial::DoApply(TContext3D* AContext) {
  const bool rebuilt = FUpdateShaderProgram;
  if (rebuilt) DoRegisterShaderProgram();
  if (FErrorOnBuildingShader) return;
  try {
    TCustomMaterial::DoApply(AContext);
  } catch (const Exception& e) {
    if (FSource && FSource->GetComponentState().Contains(csDesigning)) {
      const std::string name = FSource->GetName().empty() ? std::string("?") : FSource->GetName();
      const std::string who = Format("%s (%s)", {name, std::string(FSource->ClassName())});
      TLoggingForm::Open(Format("%s - failed to compile shader ...", {who}), e.Message(), true);
      FErrorOnBuildingShader = true;
      return;
    }
    throw;
  }
  TShaderProgram* program = TQuorvelContext::GetCurrentProgram();
  // Registered on every apply, not only after a rebuild: another material may have cleared
  // this program's blocks, and drawing without ours would read someone else's buffer.
  if (program && (rebuilt || program->IndexOfUniformBuffer("ShaderData") < 0))
    DoRegisterUniformBuffers(AContext, program);
  auto* context = quorvel::As<TQuorvelContext>(AContext);
  if (!context) return;
  DoApplyBehaviours(context);
  if (FMeasureTime) DoApplyTimeInfo(context);
  DoApplyMatrices(context);
  DoApplyTexturePool(context);
  DoApplyInputs(context);
  DoApplyShadowMaps(context);
  DoApplyReflection(context);
  DoApplyRefraction(context);
  DoApplyDepth(context);
  DoApplyEnvironment(context);
  DoApplyLights(context);
  DoApplyFog(context);
  if (program) program->PushUniformBuffers();
}

void TQuorvelDefaultMaterial::DoChange() {
  if (FBuilding) return;
  DoUpdateVertexShader();
  DoUpdateFragmentShader();
  TCustomMaterial::DoChange();
}

void TQuorvelDefaultMaterial::UpdateShaderProgram() {
  FUpdateShaderProgram = true;
  DoChange();
}

TQuorvelTexturePoolEntry* TQuorvelDefaultMaterial::FindTexturePoolEntryByName(const std::string& AName) const {
  if (!FTextures) return nullptr;
  for (int i = 0; i < FTextures->GetCount(); ++i)
    if (FTextures->Items(i)->GetDisplayName() == AName) return FTextures->Items(i);
  return nullptr;
}

void TQuorvelDefaultMaterial::DoUpdateAllowedTextures() {
  if (FVSNode) FAllowDisplacementMapTexture = FVSNode->Defined("DISPLACEMENT");
  if (FFSNode) {
    FAllowTexture0 = FFSNode->Defined("USE_TEXTURE0");
    FAllowNormalMapTexture = FFSNode->Defined("NORMALMAP");
    FAllowDepthTexture = FFSNode->Defined("DEPTH");
    FAllowReflectionTexture = FFSNode->Defined("REFLECTION");
    FAllowRefractionTexture = FFSNode->Defined("REFRACTION");
    FAllowEnvironmentTexture = FFSNode->Defined("ENVIRONMENT");
    FAllowShadowMapTexture = FFSNode->Defined("SHADOW") &&
                             (FFSNode->Defined("SHADOWMAPPING") || FFSNode->Defined("VARIANCESHADOWMAPPING"));
  }
}

void TQuorvelDefaultMaterial::DoCopyTexturePool(TCollection* ABitmapPool) {
  if (!ABitmapPool || !FTextures) return;
  FTextures->Clear();
  for (int i = 0; i < ABitmapPool->GetCount(); ++i) FTextures->Add()->Assign(ABitmapPool->GetItem(i));
}

// ---- value properties ------------------------------------------------------------------------

TQuorvelShadingModel TQuorvelDefaultMaterial::GetShadingModel() const {
  return static_cast<TQuorvelShadingModel>(static_cast<uint8_t>(FShaderData.ShadingModel & 0xFF));
}
void TQuorvelDefaultMaterial::SetShadingModel(TQuorvelShadingModel Value) {
  FShaderData.ShadingModel = static_cast<int32_t>(Value);
  DoChange();
}
void TQuorvelDefaultMaterial::SetShadingIntensity(float Value) { FShaderData.ShadingIntensity = ClampValue(Value, 0, 10); }
void TQuorvelDefaultMaterial::SetBrightness(float Value) { FShaderData.Brightness = ClampValue(Value, 0, 10); }
void TQuorvelDefaultMaterial::SetMeasureTime(bool Value) {
  FMeasureTime = Value;
  if (Value) {
    const float t = static_cast<float>(TimeStampSeconds());
    FShaderData.TimeInfo = TVector3D(t, t, t, 0);
  }
}
void TQuorvelDefaultMaterial::SetShininess(float Value) { FShaderData.Material.Shininess = ClampValue(Value, 0, 100); }
void TQuorvelDefaultMaterial::SetNormalIntensity(float Value) { FNormalIntensity = ClampValue(Value, 0, 10); }
void TQuorvelDefaultMaterial::SetParallaxLevels(int32_t Value) {
  FShaderData.PassData.ParallaxLevels = Value < 4 ? 4 : (Value > 256 ? 256 : Value);
}
void TQuorvelDefaultMaterial::SetTonemappingExposure(float Value) {
  FShaderData.Material.ToneMapExp = std::min(std::max(Value, 0.0f), 10.0f);
}
void TQuorvelDefaultMaterial::SetMetallicBias(float Value) { FShaderData.PassData.PBRMetallic = ClampValue(Value, 0, 1); }
void TQuorvelDefaultMaterial::SetRoughnessBias(float Value) {
  FShaderData.PassData.PBRRoughness = ClampValue(Value, 0, 1);
}
void TQuorvelDefaultMaterial::SetAOBias(float Value) { FShaderData.PassData.PBRAO = ClampValue(Value, 0, 1); }

// ---- switch properties -----------------------------------------------------------------------

void TQuorvelDefaultMaterial::AddDefineBoth(const char* AName) {
  FVSNode->AddDefine(AName);
  FFSNode->AddDefine(AName);
}
void TQuorvelDefaultMaterial::RemoveDefineBoth(const char* AName) {
  FVSNode->RemoveDefine(AName);
  FFSNode->RemoveDefine(AName);
}
bool TQuorvelDefaultMaterial::DefinedBoth(const char* AName) const {
  return FVSNode->Defined(AName) && FFSNode->Defined(AName);
}
bool TQuorvelDefaultMaterial::DefinedFragment(const char* AName) const { return FFSNode && FFSNode->Defined(AName); }
void TQuorvelDefaultMaterial::EnsureTexturing() {
  if (!DefinedBoth("USE_TEXTURE")) AddDefineBoth("USE_TEXTURE");
}

#define QUORVEL_BOTH_SWITCH(Prop, Define)                                          \
  bool TQuorvelDefaultMaterial::Get##Prop() const { return DefinedBoth(Define); } \
  void TQuorvelDefaultMaterial::Set##Prop(bool Value) {                            \
    if (Value)                                                                     \
      AddDefineBoth(Define);                                                       \
    else                                                                           \
      RemoveDefineBoth(Define);                                                    \
    DoChange();                                                                    \
  }
QUORVEL_BOTH_SWITCH(UseLighting, "LIGHTING")
QUORVEL_BOTH_SWITCH(UseSpecular, "USE_SPECULAR")
QUORVEL_BOTH_SWITCH(UseVertexColor, "USE_VERTEXCOLOR")
#undef QUORVEL_BOTH_SWITCH

// Switches of a texture map: texturing on, the define in both builders.
#define QUORVEL_MAP_SWITCH(Prop, Define)                                                          \
  bool TQuorvelDefaultMaterial::Get##Prop() const { return DefinedBoth("USE_TEXTURE") && DefinedFragment(Define); } \
  void TQuorvelDefaultMaterial::Set##Prop(bool Value) {                                           \
    if (Value) {                                                                                  \
      EnsureTexturing();                                                                          \
      AddDefineBoth(Define);                                                                      \
    } else {                                                                                      \
      RemoveDefineBoth(Define);                                                                   \
    }                                                                                             \
    DoChange();                                                                                   \
  }
QUORVEL_MAP_SWITCH(UseDisplacementMapping, "DISPLACEMENT")
QUORVEL_MAP_SWITCH(UseSpecularMapping, "SPECULARMAP")
QUORVEL_MAP_SWITCH(UseEmissiveTexture, "EMISSIVEMAP")
QUORVEL_MAP_SWITCH(UseDepthMap, "DEPTH")
#undef QUORVEL_MAP_SWITCH

// Switches of the fragment builder only.
#define QUORVEL_FRAGMENT_SWITCH(Prop, Define)                                          \
  bool TQuorvelDefaultMaterial::Get##Prop() const { return DefinedFragment(Define); } \
  void TQuorvelDefaultMaterial::Set##Prop(bool Value) {                                \
    if (Value)                                                                         \
      FFSNode->AddDefine(Define);                                                      \
    else                                                                               \
      FFSNode->RemoveDefine(Define);                                                   \
    DoChange();                                                                        \
  }
QUORVEL_FRAGMENT_SWITCH(UsePBRAlbedoTexture, "PBR_TEX_ALBEDO")
QUORVEL_FRAGMENT_SWITCH(UsePBRMetallicTexture, "PBR_TEX_METALLIC")
QUORVEL_FRAGMENT_SWITCH(UsePBRRoughnessTexture, "PBR_TEX_ROUGHNESS")
QUORVEL_FRAGMENT_SWITCH(UsePBRAOTexture, "PBR_TEX_AO")
QUORVEL_FRAGMENT_SWITCH(UsePBREmissiveTexture, "PBR_TEX_EMISSIVE")
QUORVEL_FRAGMENT_SWITCH(UsePBRSpecularTexture, "SpecularMapTexture")
QUORVEL_FRAGMENT_SWITCH(UseColorClipping, "USE_COLORCLIP")
#undef QUORVEL_FRAGMENT_SWITCH

bool TQuorvelDefaultMaterial::GetUseTexturing() const { return DefinedBoth("USE_TEXTURE"); }
void TQuorvelDefaultMaterial::SetUseTexturing(bool Value) {
  if (Value) {
    AddDefineBoth("USE_TEXTURE");
  } else {
    RemoveDefineBoth("USE_TEXTURE");
    FFSNode->RemoveDefine("USE_TEXTURE0");
  }
  DoChange();
}

bool TQuorvelDefaultMaterial::GetUseTexture0() const {
  return DefinedBoth("USE_TEXTURE") && DefinedFragment("USE_TEXTURE0");
}
void TQuorvelDefaultMaterial::SetUseTexture0(bool Value) {
  if (Value) {
    EnsureTexturing();
    FFSNode->AddDefine("USE_TEXTURE0");
  } else {
    FFSNode->RemoveDefine("USE_TEXTURE0");
  }
  DoChange();
}

bool TQuorvelDefaultMaterial::GetUseNormalMapping() const {
  return DefinedBoth("USE_TEXTURE") && DefinedFragment("NORMALMAP");
}
void TQuorvelDefaultMaterial::SetUseNormalMapping(bool Value) {
  if (Value) {
    EnsureTexturing();
    AddDefineBoth("NORMALMAP");
    AddDefineBoth("BUMP");
  } else {
    RemoveDefineBoth("NORMALMAP");
    RemoveDefineBoth("BUMP");
  }
  DoChange();
}

bool TQuorvelDefaultMaterial::GetUseParallaxOcclusion() const { return DefinedFragment("POM"); }
void TQuorvelDefaultMaterial::SetUseParallaxOcclusion(bool Value) {
  if (Value)
    AddDefineBoth("POM");
  else
    RemoveDefineBoth("POM");
  DoChange();
}

bool TQuorvelDefaultMaterial::GetUseAlphaCutoff() const { return DefinedFragment("USE_ALPHACUTOFF"); }
void TQuorvelDefaultMaterial::SetUseAlphaCutoff(bool Value) {
  if (Value) {
    FFSNode->AddDefine("USE_ALPHACUTOFF");
    FShaderData.Material.AlphaCutoff.X = 1.0f;
  } else {
    FFSNode->RemoveDefine("USE_ALPHACUTOFF");
    FShaderData.Material.AlphaCutoff.X = 0.0f;
  }
  DoChange();
}

void TQuorvelDefaultMaterial::SetTonemapping(TQuorvelTonemapping Value) {
  for (const char* define : TonemappingDefines)
    if (define) FFSNode->RemoveDefine(define);
  FTonemapping = Value;
  const auto index = static_cast<size_t>(Value);
  if (index < std::size(TonemappingDefines) && TonemappingDefines[index]) FFSNode->AddDefine(TonemappingDefines[index]);
  DoChange();
}

void TQuorvelDefaultMaterial::SetShadows(bool Value) {
  FShadows = Value;
  if (Value) {
    AddDefineBoth("SHADOW");
    if (!GetUseTexturing()) SetUseTexturing(true);
    if (FShadowMethod == TQuorvelShadowMethod::ShadowMapping) {
      RemoveDefineBoth("VARIANCESHADOWMAPPING");
      AddDefineBoth("SHADOWMAPPING");
    } else {
      RemoveDefineBoth("SHADOWMAPPING");
      AddDefineBoth("VARIANCESHADOWMAPPING");
    }
  } else {
    RemoveDefineBoth("SHADOW");
    RemoveDefineBoth("SHADOWMAPPING");
    RemoveDefineBoth("VARIANCESHADOWMAPPING");
  }
  DoChange();
}

void TQuorvelDefaultMaterial::SetShadowMethod(TQuorvelShadowMethod Value) {
  FShadowMethod = Value;
  SetShadows(FShadows);
}

void TQuorvelDefaultMaterial::SetDepthMapping(bool Value) {
  FDepthMapping = Value;
  if (Value) {
    if (!GetUseTexturing()) SetUseTexturing(true);
    AddDefineBoth("DEPTH");
  } else {
    RemoveDefineBoth("DEPTH");
  }
  DoChange();
}

void TQuorvelDefaultMaterial::SetReflections(bool Value) {
  FReflections = Value;
  if (Value) {
    if (FEnvironment) {
      FEnvironment = false;
      RemoveDefineBoth("ENVIRONMENT");
    }
    if (!GetUseTexturing()) SetUseTexturing(true);
    AddDefineBoth("REFLECTION");
  } else {
    RemoveDefineBoth("REFLECTION");
  }
  DoChange();
  if (FSource) FSource->UpdateDefaultBitmaps();
}

void TQuorvelDefaultMaterial::SetRefractions(bool Value) {
  FRefractions = Value;
  if (Value) {
    if (FEnvironment) {
      FEnvironment = false;
      RemoveDefineBoth("ENVIRONMENT");
    }
    if (!GetUseTexturing()) SetUseTexturing(true);
    AddDefineBoth("REFRACTION");
  } else {
    RemoveDefineBoth("REFRACTION");
  }
  DoChange();
  if (FSource) FSource->UpdateDefaultBitmaps();
}

void TQuorvelDefaultMaterial::SetEnvironment(bool Value) {
  FEnvironment = Value;
  if (Value) {
    if (FReflections) {
      FReflections = false;
      RemoveDefineBoth("REFLECTION");
    }
    if (FRefractions) {
      FRefractions = false;
      RemoveDefineBoth("REFRACTION");
    }
    if (!GetUseTexturing()) SetUseTexturing(true);
    AddDefineBoth("ENVIRONMENT");
  } else {
    RemoveDefineBoth("ENVIRONMENT");
  }
  DoChange();
  if (FSource) FSource->UpdateDefaultBitmaps();
}

// ---- feeders ---------------------------------------------------------------------------------

void TQuorvelDefaultMaterial::DoApplyBehaviours(TQuorvelContext* AContext) {
  if (!FBehaviours) return;
  for (int i = 0; i < FBehaviours->GetCount(); ++i) FBehaviours->Items(i)->Apply(this, AContext);
}

void TQuorvelDefaultMaterial::DoApplyTimeInfo(TQuorvelContext* /*AContext*/) {
  FShaderData.TimeInfo.Z = FShaderData.TimeInfo.Y;
  FShaderData.TimeInfo.Y = static_cast<float>(TimeStampSeconds());
  FShaderData.TimeInfo.W = static_cast<float>(static_cast<double>(FStopWatch.GetElapsedTicks()) * 1e-7);
}

void TQuorvelDefaultMaterial::DoApplyMatrices(TQuorvelContext* C) {
  const TMatrix3D M = C->GetCurrentMatrix();
  const TMatrix3D V = C->GetCurrentCameraMatrix();
  const TMatrix3D P = C->GetCurrentProjectionMatrix();
  if (C->GetInstanceCount() == 0) C->SetInstances(1, &M);
  const TBoundingBox scene = C->GetSceneBoundary();
  const TBoundingBox frustum = C->GetFrustumBoundary();
  FShaderData.SceneMin = TVector3D(scene.Left, scene.Top, scene.Near, 1.0f);
  FShaderData.SceneMax = TVector3D(scene.Right, scene.Bottom, scene.Far, 1.0f);
  FShaderData.FrustumMin = TVector3D(frustum.Left, frustum.Top, frustum.Near, 1.0f);
  FShaderData.FrustumMax = TVector3D(frustum.Right, frustum.Bottom, frustum.Far, 1.0f);
  // An empty intersection is passed as it comes out.
  FShaderData.BoundaryMin = TVector3D(std::max(frustum.Left, scene.Left), std::max(frustum.Top, scene.Top),
                                      std::max(frustum.Near, scene.Near), 1.0f);
  FShaderData.BoundaryMax = TVector3D(std::min(frustum.Right, scene.Right), std::min(frustum.Bottom, scene.Bottom),
                                      std::min(frustum.Far, scene.Far), 1.0f);
  FShaderData.ViewSize = TVector3D(static_cast<float>(C->GetWidth()), static_cast<float>(C->GetHeight()),
                                   C->GetNearPlane(), C->GetFarPlane());
  FShaderData.Options = 0;
  const TClipPlaneF& clip = *C->GetClippingPlane(0);
  if (clip.Enabled) {
    FShaderData.ClippingPlane = clip.Plane.AsVector3D();
    FShaderData.Options |= ShaderDataClipPlaneFlag;
  } else {
    FShaderData.ClippingPlane = TVector3D(0, 0, 0, 0);
  }
  if (C->IsTranslucentRendering()) FShaderData.Options |= ShaderDataIsTranslucent;
  FShaderData.ModelViewProjectionMatrix = C->GetCurrentModelViewProjectionMatrix();
  FShaderData.ViewMatrix = V;
  FShaderData.ProjectionMatrix = P;
  FShaderData.EyePos = TVector3D(-(V.m11 * V.m41 + V.m12 * V.m42 + V.m13 * V.m43),
                                 -(V.m21 * V.m41 + V.m22 * V.m42 + V.m23 * V.m43),
                                 -(V.m31 * V.m41 + V.m32 * V.m42 + V.m33 * V.m43), 1.0f);
  FShaderData.ViewDir = TPoint3D(-V.m13, -V.m23, -V.m33);
  FShaderData.PassData.NormalIntensity = FInverseNormalMapping ? -FNormalIntensity : FNormalIntensity;
}

void TQuorvelDefaultMaterial::DoApplyTexturePool(TQuorvelContext* C) {
  FShaderData.Material.Features.X = C->GetCurrentOpacity();
  FShaderData.PassData.TranslucentDistance = C->GetTranslucentDistance();
  if (!FTextures) return;
  FShaderData.Material.Textures = FTextures->GetCount();
  const bool asArray = FTextures->GetDeclareAsArray();
  int32_t k = 0;
  for (int i = 0; i < FTextures->GetCount(); ++i) {
    TQuorvelTexturePoolEntry* entry = FTextures->Items(i);
    // The block has 16 slots; the source's cap keeps pools within them, this keeps the record whole.
    if (i < ShaderMaterialTextureCount) FShaderData.Material.Texture[i].Tiling = entry->GetTiling();
    if (entry->GetIsDynamic()) continue;
    std::string name;
    if (asArray && !entry->GetIgnoreInArray())
      name = Format("PoolTexture[%d]", {k++});
    else
      name = entry->GetDisplayName();
    TTexture* texture = entry->GetTexture();
    // An empty bitmap has no texture: the sampler would read whatever the unit last held, or
    // black, and a textured lit surface without its image would show no light at all.
    if ((!texture || texture->GetHandle() == 0) && entry->GetTextureKind() == TQuorvelTextureKind::Texture2D)
      texture = BlankTexture();
    C->SetShaderVariable(name, texture);
  }
}

TTexture* TQuorvelDefaultMaterial::BlankTexture() {
  if (!FBlankTexture || FBlankTexture->GetHandle() == 0) {
    FBlankTexture.reset(TQuorvelTexture::Create());
    FBlankTexture->SetSize(1, 1);
    FBlankTexture->SetPixelFormat(TPixelFormat::BGRA);
    FBlankTexture->Initialize();
    const uint32_t white = 0xFFFFFFFF;
    FBlankTexture->UpdateTexture(&white, sizeof(white));
  }
  return FBlankTexture.get();
}

void TQuorvelDefaultMaterial::ReleaseBlankTexture() { FBlankTexture.reset(); }

void TQuorvelDefaultMaterial::DoApplyInputs(TQuorvelContext* C) {
  if (!FSource) return;
  for (const auto& [key, pass] : FSource->GetInputs()) {
    if (!pass || key.starts_with("ShadowMapTexture")) continue;
    C->SetShaderVariable(key, pass->GetOutputTexture());
  }
}

void TQuorvelDefaultMaterial::DoApplyShadowMaps(TQuorvelContext* C) {
  if (!FSource || !FShadows) return;
  static constexpr std::string_view prefix = "ShadowMapTexture";
  for (const auto& [key, pass] : FSource->GetInputs()) {
    if (!key.starts_with(prefix)) continue;
    const std::string rest = key.substr(prefix.size());
    int32_t n = 0;
    if (!TryStrToInt(rest, n) || n < 0 || n >= ShaderDataShadowMapCount) continue;
    TMatrix3D matrix;
    TTexture* texture;
    if (quorvel::Is<TQuorvelRenderPassSMStoreDepth>(pass) || quorvel::Is<TQuorvelRenderPassVSMStoreDepth>(pass)) {
      matrix = pass->GetTextureMatrix(C, true);
      texture = pass->GetOutputTexture();
    } else if (quorvel::Is<TQuorvelRenderPassVSMBlur>(pass) &&
               quorvel::Is<TQuorvelRenderPassVSMStoreDepth>(pass->GetInputPass())) {
      matrix = pass->GetInputPass()->GetTextureMatrix(C, true);
      texture = pass->GetOutputTexture();
    } else {
      continue;
    }
    FShaderData.PassData.ShadowMapMatrix[n] = matrix;
    C->SetShaderVariable(key, texture);
  }
}

void TQuorvelDefaultMaterial::DoApplyReflection(TQuorvelContext* C) {
  if (!FFSNode->Defined("REFLECTION") || !FSource || !FReflections) return;
  TQuorvelRenderPassController* pass = FSource->GetReflectionPass();
  if (!pass || !pass->GetEnabled() || GetReflectionPower() <= 0) return;
  if (quorvel::Is<TQuorvelRenderPassReflection>(pass))
    FShaderData.PassData.ReflectTextureMatrix = pass->GetTextureMatrix(C, true);
  else if (TQuorvelRenderPassController* input = pass->GetInputPass();
           input && quorvel::Is<TQuorvelRenderPassReflection>(input))
    FShaderData.PassData.ReflectTextureMatrix = input->GetTextureMatrix(C, true);
}

void TQuorvelDefaultMaterial::DoApplyRefraction(TQuorvelContext* C) {
  if (!FFSNode->Defined("REFRACTION") || !FSource || !FRefractions) return;
  TQuorvelRenderPassController* pass = FSource->GetRefractionPass();
  if (!pass || !pass->GetEnabled() || !quorvel::Is<TQuorvelRenderPassRefraction>(pass) || GetRefractionPower() <= 0)
    return;
  FShaderData.PassData.RefractTextureMatrix = pass->GetTextureMatrix(C, false);
}

void TQuorvelDefaultMaterial::DoApplyDepth(TQuorvelContext* C) {
  if (!FFSNode->Defined("DEPTH") || !FSource) return;
  TQuorvelRenderPassController* pass = FSource->GetDepthPass();
  if (!pass || !pass->GetEnabled() || !quorvel::Is<TQuorvelRenderPassCustomDepth>(pass)) return;
  if (TTexture* texture = pass->GetOutputTexture()) C->SetShaderVariable("DepthTexture", texture);
}

void TQuorvelDefaultMaterial::DoApplyEnvironment(TQuorvelContext* /*C*/) {
  if (!FFSNode->Defined("ENVIRONMENT") || !FSource || !FEnvironment) return;
  TQuorvelRenderPassController* pass = FSource->GetEnvironmentPass();
  if (!pass || !pass->GetEnabled() || !quorvel::Is<TQuorvelRenderPassEnvironment>(pass)) return;
  TMatrix3D bias = TMatrix3D::Identity();
  bias.m11 = bias.m22 = bias.m33 = 0.5f;
  bias.m41 = bias.m42 = bias.m43 = 0.5f;
  FShaderData.PassData.ReflectTextureMatrix = bias;
}

void TQuorvelDefaultMaterial::DoApplyLights(TQuorvelContext* C) {
  int32_t n = 0;
  for (const TQuorvelShaderLight& light : C->GetShaderLights()) {
    if (!light.IsEnabled()) continue;
    FShaderData.Lights[n++] = light;
    if (n >= ShaderDataLightCount) break;
  }
  FShaderData.LightsCount = n;
}

void TQuorvelDefaultMaterial::DoApplyFog(TQuorvelContext* C) {
  const TQuorvelFogSettings& fog = C->GetFog();
  FShaderData.FogMode = (fog.Enabled ? ShaderDataFogEnabled : 0) | static_cast<int32_t>(fog.Mode);
  FShaderData.FogDensity = fog.Density;
  FShaderData.FogStart = std::max(0.1f, std::min(1000.0f, fog.FogStart));
  FShaderData.FogEnd = std::max(0.1f, std::min(1000.0f, fog.FogEnd));
  FShaderData.FogColor = fog.Color;
}

// ===== TQuorvelDefaultMaterialSource =========================================================

namespace {

struct TDefaultEntry {
  const char* Name;
  TPixelFormatEx Format;
  bool IsDynamic, IgnoreInArray, ProtectFormatSettings;
  TContextShaderKind ShaderKind;
  TQuorvelTextureKind TextureKind;
};

std::string PoolFullMessage() {
  return Format("failed to add bitmap to pool - maximum number of textures in pool reached = %d",
                {TQuorvelDefaultMaterialSource::MaxPoolTextures});
}

const std::vector<std::string>& ShadowMapEntryNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> n;
    for (int32_t i = 0; i < 8; ++i) n.push_back(Format("%s%d", {std::string("ShadowMapTexture"), i}));
    return n;
  }();
  return names;
}

}  // namespace

bool TQuorvelDefaultMaterialSource::IsPassEntry(const std::string& AName) {
  static const char* const names[] = {"DepthTexture", "ReflectionTexture", "RefractionTexture", "EnvironmentTexture"};
  if (std::find(ShadowMapEntryNames().begin(), ShadowMapEntryNames().end(), AName) != ShadowMapEntryNames().end())
    return true;
  return std::any_of(std::begin(names), std::end(names), [&](const char* n) { return AName == n; });
}

TQuorvelDefaultMaterialSource::TQuorvelDefaultMaterialSource(TComponent* AOwner) : TMaterialSource(AOwner) {}

TQuorvelDefaultMaterialSource::~TQuorvelDefaultMaterialSource() = default;

void TQuorvelDefaultMaterialSource::AfterConstruction() {
  TMaterialSource::AfterConstruction();  // CreateMaterial
  FInputs.clear();
  CreateBitmapPool();
  if (!GetComponentState().Contains(csLoading)) DoUpdateDefaultBitmaps();
  FContextResetOvrId = TMessageManager::DefaultManager().SubscribeToMessage<TContextResetMessage>(
      [this](TObject*, const TMessage&) { DoContextReset(); });
}

void TQuorvelDefaultMaterialSource::BeforeDestruction() {
  if (FContextResetOvrId >= 0) TMessageManager::DefaultManager().Unsubscribe<TContextResetMessage>(FContextResetOvrId);
  FContextResetOvrId = -1;
  FInputs.clear();
  // The material's texture pool refers to the pool's textures: the material goes first.
  SetMaterial(nullptr);
  FBitmaps.reset();
  TMaterialSource::BeforeDestruction();
}

TMaterial* TQuorvelDefaultMaterialSource::CreateMaterial() { return New<TQuorvelDefaultMaterial>(this); }

void TQuorvelDefaultMaterialSource::Loaded() {
  TMaterialSource::Loaded();
  DoUpdateDefaultBitmaps();
}

void TQuorvelDefaultMaterialSource::Notification(TComponent* AComponent, TOperation Operation) {
  TMaterialSource::Notification(AComponent, Operation);
  if (Operation != opRemove) return;
  if (TQuorvelDefaultMaterial* m = DefaultMaterial())
    if (TQuorvelMaterialBehaviourCollection* behaviours = m->GetBehaviours())
      behaviours->Notification(AComponent, Operation);
  // Every input that is the freed pass, not only the main shadow map: the shadow feeder
  // walks all keys. Keys stay, as with a nil assignment.
  for (auto& [key, pass] : FInputs)
    if (pass && static_cast<const TObject*>(pass) == static_cast<const TObject*>(AComponent)) pass = nullptr;
}

TQuorvelRenderPassController* TQuorvelDefaultMaterialSource::GetInput(const std::string& AKey) const {
  auto it = FInputs.find(AKey);
  return it == FInputs.end() ? nullptr : it->second;
}

void TQuorvelDefaultMaterialSource::SetInput(const std::string& AKey, TQuorvelRenderPassController* APass) {
  FInputs[AKey] = APass;
  if (auto* component = dynamic_cast<TComponent*>(static_cast<TObject*>(APass))) component->FreeNotification(this);
}

void TQuorvelDefaultMaterialSource::SetDepthPass(TQuorvelRenderPassController* Value) {
  SetInput("DepthTexture", Value);
  if (TQuorvelDefaultMaterial* m = DefaultMaterial()) m->SetDepthMapping(Value != nullptr);
}

TQuorvelRenderPassController* TQuorvelDefaultMaterialSource::GetShadowMapPass(int32_t AIndex) const {
  return GetInput(Format("%s%d", {std::string("ShadowMapTexture"), AIndex}));
}

void TQuorvelDefaultMaterialSource::SetShadowMapPass(int32_t AIndex, TQuorvelRenderPassController* Value) {
  SetInput(Format("%s%d", {std::string("ShadowMapTexture"), AIndex}), Value);
}

// ---- bitmap pool ------------------------------------------------------------------------------

void TQuorvelDefaultMaterialSource::CreateBitmapPool() {
  if (!FBitmaps) FBitmaps.reset(New<TQuorvelBitmapPool>(this));
  FBitmaps->SetOnUpdate(TNotifyEvent([this](TObject*) { UpdateTexturePool(); }));
}

void TQuorvelDefaultMaterialSource::SetBitmaps(TQuorvelBitmapPool* Value) {
  CreateBitmapPool();
  FBitmaps->Assign(Value);
}

TQuorvelBitmapPoolEntry* TQuorvelDefaultMaterialSource::FindBitmapEntryByName(const std::string& AName) const {
  if (!FBitmaps) return nullptr;
  for (int i = 0; i < FBitmaps->GetCount(); ++i)
    if (FBitmaps->Items(i)->GetDisplayName() == AName) return FBitmaps->Items(i);
  return nullptr;
}

TQuorvelTextureBitmap* TQuorvelDefaultMaterialSource::FindBitmapByName(const std::string& AName) const {
  TQuorvelBitmapPoolEntry* entry = FindBitmapEntryByName(AName);
  return entry ? entry->GetBitmap() : nullptr;
}

TQuorvelBitmapPoolEntry* TQuorvelDefaultMaterialSource::AddMapEntry(const char* AName, TPixelFormatEx AFormat,
                                                                    bool AProtectFormatSettings) {
  return AddBitmap(AName, TPixelFormatEx::RGBA8, AFormat, TQuorvelTextureDataType::dtUnsignedByte, false, true,
                   AProtectFormatSettings, TContextShaderKind::PixelShader, TQuorvelTextureKind::Texture2D);
}

void TQuorvelDefaultMaterialSource::EnsureMapEntry(const char* AName, TPixelFormatEx AFormat) {
  if (FindBitmapEntryByName(AName)) return;
  CheckPoolRoom({AName});
  AddMapEntry(AName, AFormat, true);
  UpdateTexturePool();
}

void TQuorvelDefaultMaterialSource::CheckPoolRoom(const std::vector<std::string>& ANames) const {
  int32_t count = FBitmaps ? FBitmaps->GetCount() : 0;
  for (const std::string& name : ANames)
    if (!FindBitmapEntryByName(name)) ++count;
  if (count > MaxPoolTextures) throw Exception(PoolFullMessage());
}

TQuorvelBitmapPoolEntry* TQuorvelDefaultMaterialSource::AddBitmap(
    const std::string& AName, TPixelFormatEx AInternalFormat, TPixelFormatEx AFormat,
    TQuorvelTextureDataType ADataType, bool AIsDynamic, bool AIgnoreInArray, bool AProtectFormatSettings,
    TContextShaderKind AShaderKind, TQuorvelTextureKind ATextureKind) {
  CreateBitmapPool();
  if (AName.empty()) throw Exception("failed to add bitmap to pool - no entry name supplied!");
  TQuorvelBitmapPoolEntry* entry = FindBitmapEntryByName(AName);
  if (entry && entry->GetTextureKind() != ATextureKind) {
    RemoveBitmap(AName);
    entry = nullptr;
  }
  // The cap guards new entries only: refreshing an existing one on a full pool is no growth.
  if (!entry) {
    if (FBitmaps->GetCount() >= MaxPoolTextures) throw Exception(PoolFullMessage());
    entry = FBitmaps->Add();
    entry->SetDisplayName(AName);
  }
  entry->SetIsDynamic(AIsDynamic);
  entry->SetIgnoreInArray(AIgnoreInArray);
  entry->SetShaderKind(AShaderKind);
  entry->SetPixelFormat(ATextureKind, AInternalFormat, AFormat, ADataType, AProtectFormatSettings);
  return entry;
}

void TQuorvelDefaultMaterialSource::RemoveBitmap(const std::string& AName) {
  TQuorvelBitmapPoolEntry* entry = FindBitmapEntryByName(AName);
  if (!entry) return;
  if (TQuorvelDefaultMaterial* m = DefaultMaterial())
    if (TQuorvelTexturePool* textures = m->GetTextures()) {
      const int index = textures->IndexOfTexture(entry->GetBitmap()->GetTextureReference());
      if (index >= 0) textures->Delete(index);
    }
  FBitmaps->Delete(entry->GetIndex());
}

void TQuorvelDefaultMaterialSource::UpdateTexturePool() {
  TQuorvelDefaultMaterial* m = DefaultMaterial();
  if (m && m->GetTextures()) {
    m->GetTextures()->Clear();
    CreateBitmapPool();
    for (int i = 0; i < FBitmaps->GetCount(); ++i) {
      TQuorvelBitmapPoolEntry* entry = FBitmaps->Items(i);
      entry->GetBitmap()->UnsetTextureReference();
      m->GetTextures()->Add()->Assign(entry);
    }
  }
  if (FMaterial) FMaterial->DoChange();
}

void TQuorvelDefaultMaterialSource::DoUpdateDefaultBitmaps() {
  TQuorvelDefaultMaterial* m = DefaultMaterial();
  if (!m) return;
  m->DoUpdateAllowedTextures();
  UpdateDefaultBitmapEntries();
}

void TQuorvelDefaultMaterialSource::UpdateDefaultBitmapEntries() {
  TQuorvelDefaultMaterial* m = DefaultMaterial();
  if (!m) return;
  using enum TPixelFormatEx;
  using enum TContextShaderKind;
  using enum TQuorvelTextureKind;
  const struct {
    TDefaultEntry Entry;
    bool Allowed;
  } rows[] = {
      {{"Texture0", BGRA, false, true, false, PixelShader, Texture2D}, m->GetAllowTexture0()},
      {{"NormalMapTexture", RGBA, false, true, true, PixelShader, Texture2D}, m->GetAllowNormalMapTexture()},
      {{"DisplacementMapTexture", RGBA, false, true, true, VertexShader, Texture2D},
       m->GetAllowDisplacementMapTexture()},
      {{"DepthTexture", BGRA, true, false, true, PixelShader, Texture2D}, m->GetAllowDepthTexture()},
      {{"ReflectionTexture", RGBA, true, false, true, PixelShader, Texture2D}, m->GetAllowReflectionTexture()},
      {{"RefractionTexture", RGBA, true, false, true, PixelShader, Texture2D}, m->GetAllowRefractionTexture()},
      {{"EnvironmentTexture", RGBA, true, false, true, PixelShader, CubeMap}, m->GetAllowEnvironmentTexture()},
  };
  auto apply = [&](const TDefaultEntry& e, const std::string& name, bool allowed) {
    if (allowed)
      AddBitmap(name, RGBA8, e.Format, TQuorvelTextureDataType::dtUnsignedByte, e.IsDynamic, e.IgnoreInArray,
                e.ProtectFormatSettings, e.ShaderKind, e.TextureKind);
    else
      RemoveBitmap(name);
  };
  for (const auto& row : rows) apply(row.Entry, row.Entry.Name, row.Allowed);
  const TDefaultEntry shadow{"ShadowMapTexture", RGBA, true, false, true, PixelShader, Texture2D};
  for (const std::string& name : ShadowMapEntryNames()) apply(shadow, name, m->GetAllowShadowMapTexture());
  UpdateTexturePool();
}

void TQuorvelDefaultMaterialSource::DoContextReset() {
  if (TQuorvelDefaultMaterial* m = DefaultMaterial()) m->ReleaseBlankTexture();
  UpdateTexturePool();
}

TBitmap* TQuorvelDefaultMaterialSource::GetEntryBitmap(const char* AName, const char* AMessage) const {
  if (TQuorvelTextureBitmap* bitmap = FindBitmapByName(AName)) return bitmap;
  if (IsDesigning()) return nullptr;
  if (AMessage) throw Exception(AMessage);
  throw Exception(Format("%s not activated in material", {std::string(AName)}));
}

float TQuorvelDefaultMaterialSource::GetDisplacementComponent(int32_t AIndex) const {
  const TVector3D d = GetDisplacement();
  switch (AIndex) {
    case 0:
      return d.X;
    case 1:
      return d.Y;
    case 2:
      return d.Z;
    default:
      return d.W;
  }
}

void TQuorvelDefaultMaterialSource::SetDisplacementComponent(int32_t AIndex, float AValue) {
  TVector3D d = GetDisplacement();
  switch (AIndex) {
    case 0:
      d.X = AValue;
      break;
    case 1:
      d.Y = AValue;
      break;
    case 2:
      d.Z = AValue;
      break;
    default:
      d.W = AValue;
      break;
  }
  SetDisplacement(d);
}

TBitmap* TQuorvelDefaultMaterialSource::GetTexture() const { return GetEntryBitmap("Texture0"); }
TBitmap* TQuorvelDefaultMaterialSource::GetNormalMap() const { return GetEntryBitmap("NormalMapTexture"); }
TBitmap* TQuorvelDefaultMaterialSource::GetDisplacementMap() const { return GetEntryBitmap("DisplacementMapTexture"); }

void TQuorvelDefaultMaterialSource::SetTexture(TBitmap* Value) {
  TBitmap* bitmap = GetTexture();
  if (bitmap) {
    bitmap->Assign(Value);
    return;
  }
  if (!Value) return;
  if (TQuorvelDefaultMaterial* m = DefaultMaterial()) m->DoUpdateAllowedTextures();
  UpdateDefaultBitmapEntries();
  if (TQuorvelTextureBitmap* entry = FindBitmapByName("Texture0")) entry->Assign(Value);
}

void TQuorvelDefaultMaterialSource::SetNormalMap(TBitmap* Value) {
  if (TBitmap* bitmap = GetNormalMap()) bitmap->Assign(Value);
}

void TQuorvelDefaultMaterialSource::SetDisplacementMap(TBitmap* Value) {
  if (TBitmap* bitmap = GetDisplacementMap()) bitmap->Assign(Value);
}

TPointF TQuorvelDefaultMaterialSource::GetTextureTiling(int32_t AIndex) const {
  if (!FBitmaps) return TPointF(0, 0);
  TCollectionItem* item = FBitmaps->GetItem(AIndex);
  auto* entry = dynamic_cast<TQuorvelBitmapPoolEntry*>(item);
  if (!entry) {
    if (IsDesigning()) return TPointF(0, 0);
    throw Exception("TQuorvelDefaultMaterialSource.GetTextureTiling - invalid texture index");
  }
  return entry->GetTiling();
}

void TQuorvelDefaultMaterialSource::SetTextureTiling(int32_t AIndex, const TPointF& AValue) {
  if (!FBitmaps) return;
  TCollectionItem* item = FBitmaps->GetItem(AIndex);
  auto* entry = dynamic_cast<TQuorvelBitmapPoolEntry*>(item);
  if (!entry) {
    if (IsDesigning()) return;
    throw Exception("TQuorvelDefaultMaterialSource.GetTextureTiling - invalid texture index");
  }
  entry->SetTiling(AValue);
  UpdateTexturePool();
}

TVector3D TQuorvelDefaultMaterialSource::GetDisplacement() const {
  TQuorvelDefaultMaterial* m = DefaultMaterial();
  return m ? m->GetDisplacement() : TVector3D(0, 0, 0, 0);
}
void TQuorvelDefaultMaterialSource::SetDisplacement(const TVector3D& Value) {
  if (TQuorvelDefaultMaterial* m = DefaultMaterial()) m->SetDisplacement(Value);
}

// ---- behaviours -------------------------------------------------------------------------------

TQuorvelMaterialBehaviourCollection* TQuorvelDefaultMaterialSource::GetBehaviours() const {
  if (GetComponentState().Contains(csDestroying)) return nullptr;
  TQuorvelDefaultMaterial* m = DefaultMaterial();
  return m ? m->GetBehaviours() : nullptr;
}

void TQuorvelDefaultMaterialSource::SetBehaviours(TQuorvelMaterialBehaviourCollection* Value) {
  if (GetComponentState().Contains(csDestroying)) return;
  if (TQuorvelDefaultMaterial* m = DefaultMaterial()) m->SetBehaviours(Value);
}

int32_t TQuorvelDefaultMaterialSource::IndexOfMaterialBehaviour(TQuorvelMaterialBehaviour* ABehaviour) const {
  TQuorvelMaterialBehaviourCollection* behaviours = GetBehaviours();
  if (!behaviours) return -1;
  for (int i = 0; i < behaviours->GetCount(); ++i)
    if (behaviours->Items(i)->GetBehaviour() == ABehaviour) return i;
  return -1;
}

void TQuorvelDefaultMaterialSource::AttachMaterialBehaviour(TQuorvelMaterialBehaviour* ABehaviour) {
  TQuorvelMaterialBehaviourCollection* behaviours = GetBehaviours();
  if (!ABehaviour || !behaviours || MaterialBehaviourAttached(ABehaviour)) return;
  auto* item = behaviours->AddItem<TQuorvelMaterialBehaviourItem>();
  item->SetDisplayName(Format("%s_%s", {GetName(), ABehaviour->GetName()}));
  item->SetBehaviour(ABehaviour);
}

void TQuorvelDefaultMaterialSource::DetachMaterialBehaviour(TQuorvelMaterialBehaviour* ABehaviour) {
  const int32_t index = IndexOfMaterialBehaviour(ABehaviour);
  if (index >= 0) GetBehaviours()->Delete(index);
}

void TQuorvelDefaultMaterialSource::ClearMaterialsBehaviours() {
  if (TQuorvelMaterialBehaviourCollection* behaviours = GetBehaviours()) behaviours->Clear();
}

TFwObject* TQuorvelDefaultMaterialSource::FindModel() { return FindComponentUpwards(this, "Quorvel.Model.TQuorvelModel"); }

// ---- user snippets ----------------------------------------------------------------------------

namespace {

template <class TFunc>
TStrings* FindSnippetLines(TQuorvelNodeBuilder* ABuilder) {
  if (!ABuilder || !ABuilder->GetGlobals()) return nullptr;
  auto* node = ABuilder->GetGlobals()->GetFunctions()->FindNode<TFunc>("", false);
  return node ? node->GetSourceCode() : nullptr;
}

}  // namespace

TStrings* TQuorvelDefaultMaterialSource::GetVertexShader() const {
  TQuorvelDefaultMaterial* m = DefaultMaterial();
  return m ? FindSnippetLines<TQuorvelVertexShaderFuncNode>(m->GetVertexShaderNode()) : nullptr;
}

void TQuorvelDefaultMaterialSource::SetVertexShader(TStrings* Value) {
  if (TStrings* lines = GetVertexShader()) {
    lines->Assign(Value);
    FMaterial->DoChange();
  }
}

TStrings* TQuorvelDefaultMaterialSource::GetSurfaceShader() const {
  TQuorvelDefaultMaterial* m = DefaultMaterial();
  return m ? FindSnippetLines<TQuorvelSurfaceShaderFuncNode>(m->GetFragmentShaderNode()) : nullptr;
}

void TQuorvelDefaultMaterialSource::SetSurfaceShader(TStrings* Value) {
  if (TStrings* lines = GetSurfaceShader()) {
    lines->Assign(Value);
    FMaterial->DoChange();
  }
}

// ---- forwarders -------------------------------------------------------------------------------

#define QUORVEL_FORWARD(Type, Prop, Zero)                                                           \
  Type TQuorvelDefaultMaterialSource::Get##Prop() const {                                            \
    TQuorvelDefaultMaterial* m = DefaultMaterial();                                                  \
    return m ? m->Get##Prop() : Zero;                                                                \
  }                                                                                                  \
  void TQuorvelDefaultMaterialSource::Set##Prop(Type Value) {                                        \
    if (TQuorvelDefaultMaterial* m = DefaultMaterial()) m->Set##Prop(Value);                         \
  }
#define QUORVEL_FORWARD_CREF(Type, Prop, MProp)                                                     \
  Type TQuorvelDefaultMaterialSource::Get##Prop() const {                                            \
    TQuorvelDefaultMaterial* m = DefaultMaterial();                                                  \
    return m ? m->Get##MProp() : Type();                                                             \
  }                                                                                                  \
  void TQuorvelDefaultMaterialSource::Set##Prop(const Type& Value) {                                 \
    if (TQuorvelDefaultMaterial* m = DefaultMaterial()) m->Set##MProp(Value);                        \
  }
// Forwarders whose switch admits a default texture: the entries follow the defines.
#define QUORVEL_FORWARD_BITMAPS(Prop)                                                               \
  bool TQuorvelDefaultMaterialSource::Get##Prop() const {                                            \
    TQuorvelDefaultMaterial* m = DefaultMaterial();                                                  \
    return m ? m->Get##Prop() : false;                                                               \
  }                                                                                                  \
  void TQuorvelDefaultMaterialSource::Set##Prop(bool Value) {                                        \
    if (TQuorvelDefaultMaterial* m = DefaultMaterial()) m->Set##Prop(Value);                         \
    UpdateDefaultBitmaps();                                                                          \
  }

QUORVEL_FORWARD(TQuorvelShadingModel, ShadingModel, TQuorvelShadingModel::smBlinnPhong)
QUORVEL_FORWARD(float, ShadingIntensity, 0.0f)
QUORVEL_FORWARD(float, Brightness, 0.0f)
QUORVEL_FORWARD(bool, MeasureTime, false)
QUORVEL_FORWARD(float, Shininess, 0.0f)
QUORVEL_FORWARD(float, NormalIntensity, 0.0f)
QUORVEL_FORWARD(bool, InverseNormalMapping, false)
QUORVEL_FORWARD(int32_t, ParallaxLevels, 0)
QUORVEL_FORWARD(float, MetallicBias, 0.0f)
QUORVEL_FORWARD(float, RoughnessBias, 0.0f)
QUORVEL_FORWARD(float, AOBias, 0.0f)
QUORVEL_FORWARD(float, NearLimit, 0.0f)
QUORVEL_FORWARD(float, FarLimit, 0.0f)
QUORVEL_FORWARD(float, AlphaCutoff, 0.0f)
QUORVEL_FORWARD(float, TonemappingExposure, 0.0f)
QUORVEL_FORWARD(TQuorvelTonemapping, Tonemapping, TQuorvelTonemapping::tmNone)
QUORVEL_FORWARD(float, ReflectionPower, 0.0f)
QUORVEL_FORWARD(float, RefractionPower, 0.0f)
QUORVEL_FORWARD(bool, UseLighting, false)
QUORVEL_FORWARD(bool, UseSpecular, false)
QUORVEL_FORWARD(bool, UseTexturing, false)
QUORVEL_FORWARD(bool, UseEmissiveTexture, false)
QUORVEL_FORWARD(bool, UsePBRAlbedoTexture, false)
QUORVEL_FORWARD(bool, UsePBRMetallicTexture, false)
QUORVEL_FORWARD(bool, UsePBRRoughnessTexture, false)
QUORVEL_FORWARD(bool, UsePBRAOTexture, false)
QUORVEL_FORWARD(bool, UsePBREmissiveTexture, false)
QUORVEL_FORWARD(bool, UseVertexColor, false)
QUORVEL_FORWARD(bool, UseColorClipping, false)
QUORVEL_FORWARD(bool, UseAlphaCutoff, false)
QUORVEL_FORWARD(bool, Reflections, false)
QUORVEL_FORWARD(bool, Refractions, false)
QUORVEL_FORWARD(bool, Environment, false)
QUORVEL_FORWARD_CREF(TAlphaColorF, EmissiveF, Emissive)
QUORVEL_FORWARD_CREF(TAlphaColorF, AmbientF, Ambient)
QUORVEL_FORWARD_CREF(TAlphaColorF, DiffuseF, Diffuse)
QUORVEL_FORWARD_CREF(TAlphaColorF, SpecularF, Specular)
QUORVEL_FORWARD_CREF(TAlphaColorF, ClippingColorF, ClippingColor)
QUORVEL_FORWARD_BITMAPS(UseTexture0)
QUORVEL_FORWARD_BITMAPS(UseDisplacementMapping)
QUORVEL_FORWARD_BITMAPS(UseNormalMapping)
QUORVEL_FORWARD_BITMAPS(UseDepthMap)
#undef QUORVEL_FORWARD
#undef QUORVEL_FORWARD_CREF
#undef QUORVEL_FORWARD_BITMAPS

// Switches that sample a map the default entries do not make: the entry comes first, and
// texturing, whose coordinates the sample reads.
#define QUORVEL_FORWARD_MAP(Prop, Entry, Format)                                                    \
  bool TQuorvelDefaultMaterialSource::Get##Prop() const {                                            \
    TQuorvelDefaultMaterial* m = DefaultMaterial();                                                  \
    return m ? m->Get##Prop() : false;                                                               \
  }                                                                                                  \
  void TQuorvelDefaultMaterialSource::Set##Prop(bool Value) {                                        \
    TQuorvelDefaultMaterial* m = DefaultMaterial();                                                  \
    if (!m) return;                                                                                  \
    if (Value) {                                                                                     \
      EnsureMapEntry(Entry, Format);                                                                 \
      if (!m->GetUseTexturing()) m->SetUseTexturing(true);                                           \
    }                                                                                                \
    m->Set##Prop(Value);                                                                             \
  }
QUORVEL_FORWARD_MAP(UseSpecularMapping, "SpecularMapTexture", TPixelFormatEx::BGRA)
QUORVEL_FORWARD_MAP(UsePBRSpecularTexture, "SpecularMapTexture", TPixelFormatEx::BGRA)
QUORVEL_FORWARD_MAP(UseParallaxOcclusion, "POMTexture", TPixelFormatEx::RGBA)
#undef QUORVEL_FORWARD_MAP

bool TQuorvelDefaultMaterialSource::GetShadows() const {
  TQuorvelDefaultMaterial* m = DefaultMaterial();
  return m && m->GetShadows();
}

void TQuorvelDefaultMaterialSource::SetShadows(bool Value) {
  TQuorvelDefaultMaterial* m = DefaultMaterial();
  // Eight entries at once may not fit: refused before the defines or the flag change.
  if (Value && m) CheckPoolRoom(ShadowMapEntryNames());
  if (m) m->SetShadows(Value);
  UpdateDefaultBitmaps();
}

TQuorvelShadowMethod TQuorvelDefaultMaterialSource::GetShadowMethod() const {
  TQuorvelDefaultMaterial* m = DefaultMaterial();
  return m ? m->GetShadowMethod() : TQuorvelShadowMethod::ShadowMapping;
}
void TQuorvelDefaultMaterialSource::SetShadowMethod(TQuorvelShadowMethod Value) {
  if (TQuorvelDefaultMaterial* m = DefaultMaterial()) m->SetShadowMethod(Value);
  UpdateDefaultBitmaps();
}

}  // namespace quorvel
