#pragma once
// TQuorvelLight: the engine's light. Beside the framework light's type, colour, cone and
// place it has ambient and specular colours, an intensity, three attenuation factors and four
// light-scattering values, and gives the 144-byte shader-light record the context hands to
// materials (LightDescriptionEx).
#include "framework/gui3d/Light.h"
#include "lib/context/ContextTypesLights.h"
#include "lib/scene/Duplication.h"

namespace quorvel {

class TLightDef;

class TQuorvelLight : public TLight, public IDuplicatable {
  FW_CLASS(TQuorvelLight, TLight)

public:
  explicit TQuorvelLight(TComponent* AOwner);
  ~TQuorvelLight() override;
  void AfterConstruction() override;

  // The definition in use: the light's own until LoadFromDefinition names another (which
  // belongs to its model and is never freed by the light).
  TLightDef* GetDef() const { return FDef; }
  // Type, colours, intensity, attenuation and scattering through the setters (clamped),
  // position from the transform and the definition's Direction as RotationAngle degrees;
  // the light keeps its own cone. An unnamed light takes the definition's component name.
  virtual void LoadFromDefinition(TLightDef* ADef);

  virtual TQuorvelShaderLight GetLightDescriptionEx() const;
  virtual TAlphaColorF GetAmbient() const { return FAmbient; }
  virtual void SetAmbient(const TAlphaColorF& Value) { FAmbient = Value; }
  virtual TAlphaColorF GetSpecular() const { return FSpecular; }
  virtual void SetSpecular(const TAlphaColorF& Value) { FSpecular = Value; }
  float GetIntensity() const { return FIntensity; }
  // Clamped to 0..10.
  void SetIntensity(float Value);
  float GetConstantAttenuation() const { return FConstantAttenuation; }
  virtual void SetConstantAttenuation(float Value) { FConstantAttenuation = Value; }
  float GetLinearAttenuation() const { return FLinearAttenuation; }
  virtual void SetLinearAttenuation(float Value) { FLinearAttenuation = Value; }
  float GetQuadraticAttenuation() const { return FQuadraticAttenuation; }
  virtual void SetQuadraticAttenuation(float Value) { FQuadraticAttenuation = Value; }
  // 0 intensity (0..10), 1 exposure (0..1), 2 decay (0..2), 3 density (0..10); another index
  // reads 0 and writes nothing.
  virtual float GetScattering(int32_t AIndex) const;
  virtual void SetScattering(int32_t AIndex, float AValue);
  float GetScatteringIntensity() const { return GetScattering(0); }
  void SetScatteringIntensity(float V) { SetScattering(0, V); }
  float GetScatteringExposure() const { return GetScattering(1); }
  void SetScatteringExposure(float V) { SetScattering(1, V); }
  float GetScatteringDecay() const { return GetScattering(2); }
  void SetScatteringDecay(float V) { SetScattering(2, V); }
  float GetScatteringDensity() const { return GetScattering(3); }
  void SetScatteringDensity(float V) { SetScattering(3, V); }

  // On a copy: a light that used its own definition uses the copy's own, never the source's.
  void DoDuplicate(TComponent* ASource, TQuorvelDuplicator* ADuplicator) override;

  // Drawn (the framework's light gizmo) only with a valid context.
  void Render() override;

private:
  TLightDef* FDef = nullptr;
  TLightDef* FSelfDef = nullptr;
  bool FDefIsStandalone = false;
  TAlphaColorF FAmbient{0, 0, 0, 1};
  TAlphaColorF FSpecular{1, 1, 1, 1};
  float FIntensity = 1;
  float FConstantAttenuation = 1;
  float FLinearAttenuation = 0;
  float FQuadraticAttenuation = 0;
  TVector3D FScattering{0.1f, 0.0034f, 1, 0.84f};
};

}  // namespace quorvel
