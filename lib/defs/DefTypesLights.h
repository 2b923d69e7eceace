#pragma once
// Unit Quorvel.DefTypes, lights and cameras: TLightDef and TCameraDef, nodes of the definition
// tree that also register in their model's Lights / Cameras list.
//
// Ownership: a light or camera that is a child of a tree node is freed by that node's child
// list; the model's list frees only those that are not in its tree when the model goes. Either
// way a freed one takes itself out of the model's list, so the list never holds a dead entry.
#include <cstdint>
#include <string>

#include "framework/gui3d/Light.h"
#include "framework/math/AlphaColor.h"
#include "framework/math/Point3D.h"
#include "lib/defs/DefTypesTransform.h"

namespace quorvel {

enum class TCameraType : uint8_t { PerspectiveCamera = 0, OrthographicCamera = 1 };
FW_ENUM(TCameraType, PerspectiveCamera, OrthographicCamera)

class TLightDef : public TTransformDef {
  QUORVEL_DEF_CLASS(TLightDef, TTransformDef)

public:
  // Registers in the model that AOwner belongs to (AOwner itself or a node inside it).
  explicit TLightDef(TCustomDef* AOwner = nullptr);
  ~TLightDef() override;
  void AfterConstruction() override;

  TJSONObject* ToJSON() const override;
  void FromJSON(TModelDef* AModel, const TJSONObject* AValue) override;
  // Finds an owner named by OwnerId that was not known while reading.
  bool LateResolveFromJSON(TModelDef* AModel, const TJSONObject* AValue) override;
  // The sanitised id, else "Light_" and a number unique to the instance.
  std::string GetQualifiedComponentName() const override;

  TLightType GetLightType() const noexcept { return FLightType; }
  void SetLightType(TLightType AValue) { FLightType = AValue; }
  const TPoint3D& GetDirection() const noexcept { return FDirection; }
  void SetDirection(const TPoint3D& AValue) { FDirection = AValue; }
  const TAlphaColorF& GetDiffuse() const noexcept { return FDiffuse; }
  void SetDiffuse(const TAlphaColorF& AValue) { FDiffuse = AValue; }
  const TAlphaColorF& GetAmbient() const noexcept { return FAmbient; }
  void SetAmbient(const TAlphaColorF& AValue) { FAmbient = AValue; }
  const TAlphaColorF& GetSpecular() const noexcept { return FSpecular; }
  void SetSpecular(const TAlphaColorF& AValue) { FSpecular = AValue; }
  float GetIntensity() const noexcept { return FIntensity; }
  void SetIntensity(float AValue) { FIntensity = AValue; }
  float GetConstantAttenuation() const noexcept { return FConstantAttenuation; }
  void SetConstantAttenuation(float AValue) { FConstantAttenuation = AValue; }
  float GetLinearAttenuation() const noexcept { return FLinearAttenuation; }
  void SetLinearAttenuation(float AValue) { FLinearAttenuation = AValue; }
  float GetQuadraticAttenuation() const noexcept { return FQuadraticAttenuation; }
  void SetQuadraticAttenuation(float AValue) { FQuadraticAttenuation = AValue; }
  float GetScatteringIntensity() const noexcept { return FScatteringIntensity; }
  void SetScatteringIntensity(float AValue) { FScatteringIntensity = AValue; }
  float GetScatteringExposure() const noexcept { return FScatteringExposure; }
  void SetScatteringExposure(float AValue) { FScatteringExposure = AValue; }
  float GetScatteringDecay() const noexcept { return FScatteringDecay; }
  void SetScatteringDecay(float AValue) { FScatteringDecay = AValue; }
  float GetScatteringDensity() const noexcept { return FScatteringDensity; }
  void SetScatteringDensity(float AValue) { FScatteringDensity = AValue; }
  float GetSpotCutOff() const noexcept { return FSpotCutOff; }
  void SetSpotCutOff(float AValue) { FSpotCutOff = AValue; }
  float GetSpotExponent() const noexcept { return FSpotExponent; }
  void SetSpotExponent(float AValue) { FSpotExponent = AValue; }

  // The model whose list holds this light (null once that model is gone or lets it go).
  TModelDef* GetRegisteredModel() const noexcept { return FRegisteredIn; }
  // Kept by the model's list operations only.
  void SetRegisteredModel(TModelDef* AModel) noexcept { FRegisteredIn = AModel; }

private:
  TModelDef* FRegisteredIn = nullptr;
  TLightType FLightType = TLightType::Point;
  TPoint3D FDirection{0, 1, 0};
  TAlphaColorF FDiffuse{1, 1, 1, 1};
  TAlphaColorF FAmbient{0, 0, 0, 1};
  TAlphaColorF FSpecular{1, 1, 1, 1};
  float FIntensity = 100;
  float FConstantAttenuation = 1;
  float FLinearAttenuation = 0;
  float FQuadraticAttenuation = 0;
  float FScatteringIntensity = 0.1f;
  float FScatteringExposure = 0.0034f;
  float FScatteringDecay = 1;
  float FScatteringDensity = 0.84f;
  float FSpotCutOff = 180;
  float FSpotExponent = 0;
};

class TCameraDef : public TTransformDef {
  QUORVEL_DEF_CLASS(TCameraDef, TTransformDef)

public:
  explicit TCameraDef(TCustomDef* AOwner = nullptr);
  ~TCameraDef() override;
  void AfterConstruction() override;

  TJSONObject* ToJSON() const override;
  // Drops the owner and keeps only its id: the late pass finds it again.
  void FromJSON(TModelDef* AModel, const TJSONObject* AValue) override;
  bool LateResolveFromJSON(TModelDef* AModel, const TJSONObject* AValue) override;
  // The sanitised id, else "Camera_" and a number unique to the instance.
  std::string GetQualifiedComponentName() const override;

  TCameraType GetType() const noexcept { return FType; }
  void SetType(TCameraType AValue) { FType = AValue; }
  const std::string& GetTarget() const noexcept { return FTarget; }
  void SetTarget(std::string AValue) { FTarget = std::move(AValue); }
  float GetFOV() const noexcept { return FFOV; }
  void SetFOV(float AValue) { FFOV = AValue; }
  float GetAspectRatio() const noexcept { return FAspectRatio; }
  void SetAspectRatio(float AValue) { FAspectRatio = AValue; }
  float GetNearPlane() const noexcept { return FNearPlane; }
  void SetNearPlane(float AValue) { FNearPlane = AValue; }
  float GetFarPlane() const noexcept { return FFarPlane; }
  void SetFarPlane(float AValue) { FFarPlane = AValue; }

  TModelDef* GetRegisteredModel() const noexcept { return FRegisteredIn; }
  // Kept by the model's list operations only.
  void SetRegisteredModel(TModelDef* AModel) noexcept { FRegisteredIn = AModel; }

private:
  TModelDef* FRegisteredIn = nullptr;
  TCameraType FType = TCameraType::PerspectiveCamera;
  std::string FTarget;
  float FFOV = 45;
  float FAspectRatio = 1.777778f;
  float FNearPlane = 1;
  float FFarPlane = 1000;
};

}  // namespace quorvel
