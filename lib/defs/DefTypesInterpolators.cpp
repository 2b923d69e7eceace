#include "lib/defs/DefTypesInterpolators.h"

#include <cmath>
#include <memory>

#include "lib/defs/DefTypesAnimation.h"
#include "framework/rtl/SysUtils.h"
#include "lib/defs/DefTypesText.h"
#include "lib/utils/UtilsMath.h"
#include "lib/utils/UtilsQuaternions.h"

namespace quorvel {

FW_CLASS_IMPL(TCustomInterpolatorDef, "Quorvel.DefTypes")
FW_CLASS_NO_MEMBERS(TCustomInterpolatorDef)
FW_CLASS_IMPL(TPoint3DInterpolatorDef, "Quorvel.DefTypes")
FW_CLASS_NO_MEMBERS(TPoint3DInterpolatorDef)
FW_CLASS_IMPL(TVector3DInterpolatorDef, "Quorvel.DefTypes")
FW_CLASS_NO_MEMBERS(TVector3DInterpolatorDef)
FW_CLASS_IMPL(TQuaternion3DInterpolatorDef, "Quorvel.DefTypes")
FW_CLASS_NO_MEMBERS(TQuaternion3DInterpolatorDef)
FW_CLASS_IMPL(TTransformationInterpolatorDef, "Quorvel.DefTypes")
FW_CLASS_NO_MEMBERS(TTransformationInterpolatorDef)
FW_CLASS_IMPL(TMeshInterpolatorDef, "Quorvel.DefTypes")
FW_CLASS_NO_MEMBERS(TMeshInterpolatorDef)

namespace {

TPoint3D Lerp(const TPoint3D& A, const TPoint3D& B, double F) {
  return TPoint3D(float(A.X + (double(B.X) - A.X) * F), float(A.Y + (double(B.Y) - A.Y) * F),
                  float(A.Z + (double(B.Z) - A.Z) * F));
}

}  // namespace

float InterpolatorSingle(double AValue, const char* AWhat) {
  const float value = DoubleToSingle(AValue);
  if (!std::isfinite(value))
    throw Exception(Format("failed to load interpolator %s - value out of range", {std::string(AWhat)}));
  return value;
}

// ---------------------------------------------------------------------------------------
// TCustomInterpolatorDef

TJSONObject* TCustomInterpolatorDef::ToJSON() const {
  std::unique_ptr<TJSONObject> obj(TCustomDef::ToJSON());
  obj->AddPair("Type", ClassName());
  if (FStage)
    obj->AddPair("Stage", FStage->GetId());
  else
    obj->AddPair("Stage", new TJSONNull);
  obj->AddPair("Duration", double(FDuration));
  obj->AddPair("Loop", FLoop);
  obj->AddPair("Path", FPath);
  return obj.release();
}

void TCustomInterpolatorDef::FromJSON(TModelDef* AModel, const TJSONObject* AValue) {
  TCustomDef::FromJSON(AModel, AValue);
  FDuration = InterpolatorSingle(ReadJSONFloat(AValue, "Duration", 1.0), "duration");
  FLoop = ReadJSONBoolean(AValue, "Loop", false);
  if (!JSONValueIs<TJSONString>(AValue, "Path"))
    throw Exception("failed to load interpolator path - property path value not found");
  FPath = AValue->GetValue("Path")->Value();
}

// ---------------------------------------------------------------------------------------
// Typed tracks

bool TPoint3DInterpolatorDef::ComputeInterpolatedKey(float ADelta, float& AKey, TInterpolationType& AInterpolation,
                                                     TPoint3D& AValue) const {
  const TKey *start, *stop;
  double f;
  if (!Bracket(ADelta, start, stop, f)) return false;
  AKey = ADelta;
  AInterpolation = TInterpolationType::Linear;
  AValue = Lerp(start->Value, stop->Value, f);
  return true;
}

TJSONValue* TPoint3DInterpolatorDef::SerializeValue(const TPoint3D& AValue) const {
  return new TJSONString(Point3DToStr(AValue));
}

TPoint3D TPoint3DInterpolatorDef::UnserializeValue(const TJSONValue* AValue) const {
  return StrToPoint3D(AValue->Value());
}

bool TVector3DInterpolatorDef::ComputeInterpolatedKey(float ADelta, float& AKey, TInterpolationType& AInterpolation,
                                                      TVector3D& AValue) const {
  const TKey *start, *stop;
  double f;
  if (!Bracket(ADelta, start, stop, f)) return false;
  AKey = ADelta;
  AInterpolation = TInterpolationType::Linear;
  AValue = TQuat::Slerp(float(f), TQuat::Create(start->Value), TQuat::Create(stop->Value)).ToVector3D();
  return true;
}

TJSONValue* TVector3DInterpolatorDef::SerializeValue(const TVector3D& AValue) const {
  return new TJSONString(Vector3DToStr(AValue));
}

TVector3D TVector3DInterpolatorDef::UnserializeValue(const TJSONValue* AValue) const {
  return StrToVector3D(AValue->Value());
}

bool TQuaternion3DInterpolatorDef::ComputeInterpolatedKey(float ADelta, float& AKey,
                                                          TInterpolationType& AInterpolation,
                                                          TQuaternion3D& AValue) const {
  const TKey *start, *stop;
  double f;
  if (!Bracket(ADelta, start, stop, f)) return false;
  AKey = ADelta;
  AInterpolation = TInterpolationType::Linear;
  // Through the keys' matrices, read back in the framework's convention so that a key
  // comes back as itself (not as its inverse turn).
  const TQuat a = TQuat::FromRotationMatrix(start->Value.ToMatrix3D());
  const TQuat b = TQuat::FromRotationMatrix(stop->Value.ToMatrix3D());
  AValue = TQuat::Slerp(float(f), a, b).ToQuaternion3D();
  return true;
}

TJSONValue* TQuaternion3DInterpolatorDef::SerializeValue(const TQuaternion3D& AValue) const {
  return new TJSONString(Quaternion3DToStr(AValue));
}

TQuaternion3D TQuaternion3DInterpolatorDef::UnserializeValue(const TJSONValue* AValue) const {
  return StrToQuaternion3D(AValue->Value());
}

bool TTransformationInterpolatorDef::ComputeInterpolatedKey(float ADelta, float& AKey,
                                                            TInterpolationType& AInterpolation,
                                                            TMatrix3D& AValue) const {
  const TKey *start, *stop;
  double f;
  if (!Bracket(ADelta, start, stop, f)) return false;
  AKey = ADelta;
  AInterpolation = TInterpolationType::Linear;
  const TPoint3D t = Lerp(ExtractTranslation(start->Value), ExtractTranslation(stop->Value), f);
  const TPoint3D s = Lerp(ExtractScale(start->Value), ExtractScale(stop->Value), f);
  // FromMatrix reads each matrix as its opposite turn; the transpose turns the blend back.
  const TQuat r = TQuat::Slerp(float(f), TQuat::FromMatrix(start->Value), TQuat::FromMatrix(stop->Value));
  const TMatrix3D rotation = r.ToQuaternion3D().ToMatrix3D().Transpose();
  AValue = TMatrix3D::CreateScaling(s) * rotation * TMatrix3D::CreateTranslation(t);
  return true;
}

TJSONValue* TTransformationInterpolatorDef::SerializeValue(const TMatrix3D& AValue) const {
  return new TJSONString(Matrix3DToStr(AValue));
}

TMatrix3D TTransformationInterpolatorDef::UnserializeValue(const TJSONValue* AValue) const {
  return StrToMatrix3D(AValue->Value());
}

bool TMeshInterpolatorDef::ComputeInterpolatedKey(float, float&, TInterpolationType&, std::vector<TPoint3D>&) const {
  throw Exception("TMeshInterpolatorDef.ComputeInterpolatedKey not implemented yet");
}

TJSONValue* TMeshInterpolatorDef::SerializeValue(const std::vector<TPoint3D>& AValue) const {
  return new TJSONString(Point3DArrayToStr(AValue));
}

std::vector<TPoint3D> TMeshInterpolatorDef::UnserializeValue(const TJSONValue* AValue) const {
  return StrToPoint3DArray(AValue->Value());
}

}  // namespace quorvel
