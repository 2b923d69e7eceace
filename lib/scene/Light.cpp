#include "lib/scene/Light.h"

#include "framework/rtl/Units.h"

#include <algorithm>

#include "framework/gui3d/Context3D.h"
#include "framework/rtl/Finally.h"
#include "lib/defs/DefTypesLights.h"
#include "lib/utils/UtilsMath.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelLight, "Quorvel.Light")
void TQuorvelLight::Register(ClassBuilder<TQuorvelLight>& b) {
  b.Prop("Ambient", &Self::GetAmbient, &Self::SetAmbient)
      .Prop("Specular", &Self::GetSpecular, &Self::SetSpecular)
      .Prop("Intensity", &Self::GetIntensity, &Self::SetIntensity)
      .Prop("ConstantAttenuation", &Self::GetConstantAttenuation, &Self::SetConstantAttenuation)
      .Prop("LinearAttenuation", &Self::GetLinearAttenuation, &Self::SetLinearAttenuation)
      .Prop("QuadraticAttenuation", &Self::GetQuadraticAttenuation, &Self::SetQuadraticAttenuation)
      .Prop("ScatteringIntensity", &Self::GetScatteringIntensity, &Self::SetScatteringIntensity)
      .Prop("ScatteringExposure", &Self::GetScatteringExposure, &Self::SetScatteringExposure)
      .Prop("ScatteringDecay", &Self::GetScatteringDecay, &Self::SetScatteringDecay)
      .Prop("ScatteringDensity", &Self::GetScatteringDensity, &Self::SetScatteringDensity)
      .Field("FDef", &Self::FDef, Reference)
      .Field("FSelfDef", &Self::FSelfDef, Reference)
      .Field("FAmbient", &Self::FAmbient)
      .Field("FSpecular", &Self::FSpecular)
      .Field("FIntensity", &Self::FIntensity)
      .Field("FConstantAttenuation", &Self::FConstantAttenuation)
      .Field("FLinearAttenuation", &Self::FLinearAttenuation)
      .Field("FQuadraticAttenuation", &Self::FQuadraticAttenuation)
      .Field("FScattering", &Self::FScattering);
}

TQuorvelLight::TQuorvelLight(TComponent* AOwner) : TLight(AOwner) {}

TQuorvelLight::~TQuorvelLight() {
  FDef = nullptr;
  if (FDefIsStandalone) FreeQuietlyAndNil(FSelfDef, "light definition");
  FSelfDef = nullptr;
}

void TQuorvelLight::AfterConstruction() {
  TLight::AfterConstruction();
  // A light inside a mesh's model gets a definition of that model with the mesh objects;
  // every other light owns a definition of its own.
  if (FDef == nullptr) {
    FSelfDef = New<TLightDef>(nullptr);
    FDefIsStandalone = true;
    FDef = FSelfDef;
  }
  FAmbient = {0, 0, 0, 1};
  FSpecular = {1, 1, 1, 1};
  FIntensity = 1;
  FConstantAttenuation = 1;
  FLinearAttenuation = 0;
  FQuadraticAttenuation = 0;
  FScattering = {0.1f, 0.0034f, 1, 0.84f};
}

void TQuorvelLight::LoadFromDefinition(TLightDef* ADef) {
  FDef = ADef;
  if (GetName().empty()) SetName(ADef->GetQualifiedComponentName());
  SetLightType(ADef->GetLightType());
  SetColor(ADef->GetDiffuse().ToAlphaColor());
  SetAmbient(ADef->GetAmbient());
  SetSpecular(ADef->GetSpecular());
  SetIntensity(ADef->GetIntensity());
  SetConstantAttenuation(ADef->GetConstantAttenuation());
  SetLinearAttenuation(ADef->GetLinearAttenuation());
  SetQuadraticAttenuation(ADef->GetQuadraticAttenuation());
  SetScattering(0, ADef->GetScatteringIntensity());
  SetScattering(1, ADef->GetScatteringExposure());
  SetScattering(2, ADef->GetScatteringDecay());
  SetScattering(3, ADef->GetScatteringDensity());
  GetPosition()->SetPoint(ExtractTranslation(ADef->GetTransform()));
  // Stored files hold the direction vector here, read as angles in degrees: kept as it is.
  GetRotationAngle()->SetPoint(ADef->GetDirection());
}

void TQuorvelLight::DoDuplicate(TComponent* ASource, TQuorvelDuplicator*) {
  // The copied link would outlive the source, which frees its own definition.
  auto* source = dynamic_cast<TQuorvelLight*>(ASource);
  if (source && source->FDef == source->FSelfDef) FDef = FSelfDef;
}

void TQuorvelLight::SetIntensity(float Value) { FIntensity = std::min(10.0f, std::max(0.0f, Value)); }

float TQuorvelLight::GetScattering(int32_t AIndex) const {
  switch (AIndex) {
    case 0: return FScattering.X;
    case 1: return FScattering.Y;
    case 2: return FScattering.Z;
    case 3: return FScattering.W;
    default: return 0;
  }
}

void TQuorvelLight::SetScattering(int32_t AIndex, float AValue) {
  auto clamp = [&](float hi) { return std::min(hi, std::max(0.0f, AValue)); };
  switch (AIndex) {
    case 0: FScattering.X = clamp(10); break;
    case 1: FScattering.Y = clamp(1); break;
    case 2: FScattering.Z = clamp(2); break;
    case 3: FScattering.W = clamp(10); break;
    default: break;
  }
}

TQuorvelShaderLight TQuorvelLight::GetLightDescriptionEx() const {
  TQuorvelShaderLight l = TQuorvelShaderLight::Create(GetLightDescription());
  l.Ambient = FAmbient;
  l.Specular = FSpecular;
  l.Scattering = FScattering;
  l.ConstantAttenuation = FConstantAttenuation;
  l.LinearAttenuation = FLinearAttenuation;
  l.QuadraticAttenuation = FQuadraticAttenuation;
  l.Intensity = FIntensity;
  return l;
}

void TQuorvelLight::Render() {
  TContext3D* ctx = GetContext();
  if (ctx && ctx->Valid()) TLight::Render();
}


namespace {

void InitLightUnit() {
  RegisterClasses({TQuorvelLight::StaticClass()});
}

void FinLightUnit() { UnRegisterClasses({TQuorvelLight::StaticClass()}); }

const TUnitRegistration LightUnit{{"Quorvel.Light", {}, &InitLightUnit, &FinLightUnit}};

}  // namespace

}  // namespace quorvel
