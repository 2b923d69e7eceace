#include "lib/defs/DefTypesLights.h"

#include <cstdint>
#include <memory>

#include "lib/defs/DefTypesModel.h"
#include "lib/defs/DefTypesText.h"

namespace quorvel {

FW_CLASS_IMPL(TLightDef, "Quorvel.DefTypes")
void TLightDef::Register(ClassBuilder<TLightDef>& b) {
  b.Prop("LightType", &Self::GetLightType, &Self::SetLightType)
      .Prop("Direction", &Self::GetDirection, &Self::SetDirection)
      .Prop("Diffuse", &Self::GetDiffuse, &Self::SetDiffuse)
      .Prop("Ambient", &Self::GetAmbient, &Self::SetAmbient)
      .Prop("Specular", &Self::GetSpecular, &Self::SetSpecular)
      .Prop("Intensity", &Self::GetIntensity, &Self::SetIntensity)
      .Prop("ConstantAttenuation", &Self::GetConstantAttenuation, &Self::SetConstantAttenuation)
      .Prop("LinearAttenuation", &Self::GetLinearAttenuation, &Self::SetLinearAttenuation)
      .Prop("QuadraticAttenuation", &Self::GetQuadraticAttenuation, &Self::SetQuadraticAttenuation)
      .Prop("ScatteringIntensity", &Self::GetScatteringIntensity, &Self::SetScatteringIntensity)
      .Prop("ScatteringExposure", &Self::GetScatteringExposure, &Self::SetScatteringExposure)
      .Prop("ScatteringDecay", &Self::GetScatteringDecay, &Self::SetScatteringDecay)
      .Prop("ScatteringDensity", &Self::GetScatteringDensity, &Self::SetScatteringDensity)
      .Prop("SpotCutOff", &Self::GetSpotCutOff, &Self::SetSpotCutOff)
      .Prop("SpotExponent", &Self::GetSpotExponent, &Self::SetSpotExponent)
      .Prop("Owner", [](const TLightDef* s) { return s->GetOwnerRef(); })
      .Prop("Model", [](const TLightDef* s) { return s->GetModel(); });
}

FW_CLASS_IMPL(TCameraDef, "Quorvel.DefTypes")
void TCameraDef::Register(ClassBuilder<TCameraDef>& b) {
  b.Prop("_Type", &Self::GetType, &Self::SetType)
      .Prop("Target", &Self::GetTarget, &Self::SetTarget)
      .Prop("FOV", &Self::GetFOV, &Self::SetFOV)
      .Prop("AspectRatio", &Self::GetAspectRatio, &Self::SetAspectRatio)
      .Prop("NearPlane", &Self::GetNearPlane, &Self::SetNearPlane)
      .Prop("FarPlane", &Self::GetFarPlane, &Self::SetFarPlane)
      .Prop("Owner", [](const TCameraDef* s) { return s->GetOwnerRef(); })
      .Prop("Model", [](const TCameraDef* s) { return s->GetModel(); });
}

namespace {

std::string OwnerIdText(const TCustomDef* AOwner) { return AOwner ? AOwner->GetId() : std::string(); }

std::string InstanceName(const char* APrefix, const void* AInstance) {
  return APrefix + std::to_string(reinterpret_cast<uintptr_t>(AInstance));
}

float ReadSingle(const TJSONObject* AValue, std::string_view AName, float ADefault) {
  return TCustomDef::ReadJSONSingle(AValue, AName, ADefault);
}

// The owner named by OwnerId, for a node read before its owner was known.
void ResolveOwner(TTransformDef* ANode, TModelDef* AModel) {
  if (!AModel || ANode->GetOwnerId().empty() || ANode->GetOwnerRef()) return;
  const std::string id = ANode->GetOwnerId();
  if (TCustomDef* owner = AModel->FindDefById(id)) {
    ANode->SetOwnerRef(owner);
    ANode->SetOwnerId(id);
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------
// TLightDef

TLightDef::TLightDef(TCustomDef* AOwner) : TTransformDef(AOwner) {}

void TLightDef::AfterConstruction() {
  TTransformDef::AfterConstruction();
  if (TModelDef* model = GetModel()) model->AddLight(this);
}

TLightDef::~TLightDef() {
  if (FRegisteredIn) FRegisteredIn->ExtractLight(this);
}

TJSONObject* TLightDef::ToJSON() const {
  std::unique_ptr<TJSONObject> obj(TTransformDef::ToJSON());
  obj->AddPair("Owner", OwnerIdText(GetOwnerRef()));
  switch (FLightType) {
    case TLightType::Directional: obj->AddPair("LightType", "Directional"); break;
    case TLightType::Point: obj->AddPair("LightType", "Point"); break;
    case TLightType::Spot: obj->AddPair("LightType", "Spot"); break;
  }
  obj->AddPair("Direction", Point3DToStr(FDirection));
  obj->AddPair("Diffuse", AlphaColorFToStr(FDiffuse, true));
  obj->AddPair("Ambient", AlphaColorFToStr(FAmbient, true));
  obj->AddPair("Specular", AlphaColorFToStr(FSpecular, true));
  obj->AddPair("Intensity", double(FIntensity));
  obj->AddPair("ConstantAttenuation", double(FConstantAttenuation));
  obj->AddPair("LinearAttenuation", double(FLinearAttenuation));
  obj->AddPair("QuadraticAttenuation", double(FQuadraticAttenuation));
  obj->AddPair("ScatteringIntensity", double(FScatteringIntensity));
  obj->AddPair("ScatteringExposure", double(FScatteringExposure));
  obj->AddPair("ScatteringDecay", double(FScatteringDecay));
  obj->AddPair("ScatteringDensity", double(FScatteringDensity));
  obj->AddPair("SpotCutOff", double(FSpotCutOff));
  obj->AddPair("SpotExponent", double(FSpotExponent));
  return obj.release();
}

void TLightDef::FromJSON(TModelDef* AModel, const TJSONObject* AValue) {
  TTransformDef::FromJSON(AModel, AValue);
  // Case-sensitive on purpose: files name the types exactly; anything else is a point light.
  const std::string type = ReadJSONString(AValue, "LightType", "");
  if (type == "Directional")
    FLightType = TLightType::Directional;
  else if (type == "Spot")
    FLightType = TLightType::Spot;
  else
    FLightType = TLightType::Point;
  FDirection = ReadJSONPoint3D(AValue, "Direction", FDirection);
  FDiffuse = ReadJSONAlphaColorF(AValue, "Diffuse", FDiffuse);
  FAmbient = ReadJSONAlphaColorF(AValue, "Ambient", FAmbient);
  FSpecular = ReadJSONAlphaColorF(AValue, "Specular", FSpecular);
  FIntensity = ReadSingle(AValue, "Intensity", FIntensity);
  FConstantAttenuation = ReadSingle(AValue, "ConstantAttenuation", FConstantAttenuation);
  FLinearAttenuation = ReadSingle(AValue, "LinearAttenuation", FLinearAttenuation);
  FQuadraticAttenuation = ReadSingle(AValue, "QuadraticAttenuation", FQuadraticAttenuation);
  FSpotCutOff = ReadSingle(AValue, "SpotCutOff", FSpotCutOff);
  FSpotExponent = ReadSingle(AValue, "SpotExponent", FSpotExponent);
  FScatteringIntensity = ReadSingle(AValue, "ScatteringIntensity", FScatteringIntensity);
  FScatteringExposure = ReadSingle(AValue, "ScatteringExposure", FScatteringExposure);
  FScatteringDecay = ReadSingle(AValue, "ScatteringDecay", FScatteringDecay);
  FScatteringDensity = ReadSingle(AValue, "ScatteringDensity", FScatteringDensity);
}

bool TLightDef::LateResolveFromJSON(TModelDef* AModel, const TJSONObject*) {
  ResolveOwner(this, AModel);
  return true;
}

std::string TLightDef::GetQualifiedComponentName() const {
  std::string name = SanitizeIdentifier(GetId());
  return name.empty() ? InstanceName("Light_", this) : name;
}

// ---------------------------------------------------------------------------------------
// TCameraDef

TCameraDef::TCameraDef(TCustomDef* AOwner) : TTransformDef(AOwner) {}

void TCameraDef::AfterConstruction() {
  TTransformDef::AfterConstruction();
  if (TModelDef* model = GetModel()) model->AddCamera(this);
}

TCameraDef::~TCameraDef() {
  if (FRegisteredIn) FRegisteredIn->ExtractCamera(this);
}

TJSONObject* TCameraDef::ToJSON() const {
  std::unique_ptr<TJSONObject> obj(TTransformDef::ToJSON());
  obj->AddPair("Owner", OwnerIdText(GetOwnerRef()));
  obj->AddPair("Type", FType == TCameraType::OrthographicCamera ? "Orthographic" : "Perspective");
  obj->AddPair("Target", FTarget);
  obj->AddPair("FOV", double(FFOV));
  obj->AddPair("AspectRatio", double(FAspectRatio));
  obj->AddPair("NearPlane", double(FNearPlane));
  obj->AddPair("FarPlane", double(FFarPlane));
  return obj.release();
}

void TCameraDef::FromJSON(TModelDef* AModel, const TJSONObject* AValue) {
  TTransformDef::FromJSON(AModel, AValue);
  const std::string ownerId = ReadJSONString(AValue, "Owner", "");
  SetOwnerRef(nullptr);
  SetOwnerId(ownerId);
  // The class name takes the first "Type" pair; the camera's kind is a later one.
  bool orthographic = false;
  if (AValue) {
    for (int i = 0; i < AValue->Count(); ++i) {
      const TJSONPair* pair = AValue->Pairs(i);
      if (pair->GetName() != "Type") continue;
      if (const auto* s = dynamic_cast<const TJSONString*>(pair->GetJsonValue()); s && s->Value() == "Orthographic")
        orthographic = true;
    }
  }
  FType = orthographic ? TCameraType::OrthographicCamera : TCameraType::PerspectiveCamera;
  FTarget = ReadJSONString(AValue, "Target", FTarget);
  FFOV = ReadSingle(AValue, "FOV", FFOV);
  FAspectRatio = ReadSingle(AValue, "AspectRatio", FAspectRatio);
  FNearPlane = ReadSingle(AValue, "NearPlane", FNearPlane);
  FFarPlane = ReadSingle(AValue, "FarPlane", FFarPlane);
}

bool TCameraDef::LateResolveFromJSON(TModelDef* AModel, const TJSONObject*) {
  ResolveOwner(this, AModel);
  return true;
}

std::string TCameraDef::GetQualifiedComponentName() const {
  std::string name = SanitizeIdentifier(GetId());
  return name.empty() ? InstanceName("Camera_", this) : name;
}

}  // namespace quorvel
