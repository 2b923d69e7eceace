#include "lib/animation/KeyAnimation.h"

#include "framework/gui/Control.h"
#include "framework/gui3d/Control3D.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/Log.h"
#include "lib/animation/Joint.h"
#include "lib/defs/DefTypesInterpolators.h"
#include "lib/defs/DefTypesText.h"
#include "lib/scene/Mesh.h"
#include "lib/utils/UtilsQuaternions.h"

namespace quorvel {

FW_CLASS_IMPL(TPropertyKeyAnimation, "Quorvel.Animation")
FW_CLASS_NO_MEMBERS(TPropertyKeyAnimation)
FW_CLASS_IMPL(TPoint3DKeyAnimation, "Quorvel.Animation")
FW_CLASS_NO_MEMBERS(TPoint3DKeyAnimation)
FW_CLASS_IMPL(TVector3DKeyAnimation, "Quorvel.Animation")
FW_CLASS_NO_MEMBERS(TVector3DKeyAnimation)
FW_CLASS_IMPL(TQuaternion3DKeyAnimation, "Quorvel.Animation")
FW_CLASS_NO_MEMBERS(TQuaternion3DKeyAnimation)
FW_CLASS_IMPL(TTransformationKeyAnimation, "Quorvel.Animation")
FW_CLASS_NO_MEMBERS(TTransformationKeyAnimation)
FW_CLASS_IMPL(TCoordinateKeyAnimation, "Quorvel.Animation")
FW_CLASS_NO_MEMBERS(TCoordinateKeyAnimation)
FW_CLASS_IMPL(TSkeletonKeyAnimation, "Quorvel.Animation")
FW_CLASS_NO_MEMBERS(TSkeletonKeyAnimation)
FW_CLASS_IMPL(TPoint3DAnimation, "Quorvel.Animation")
FW_CLASS_NO_MEMBERS(TPoint3DAnimation)

namespace {

bool ParentHidden(TFwObject* AParent) {
  auto* control = dynamic_cast<IControl*>(AParent);
  return control && !control->GetVisible();
}

template <class D>
D* DefAs(TCustomDef* ADef) {
  auto* def = dynamic_cast<D*>(ADef);
  if (!def) throw EInvalidCast("Invalid class typecast");
  return def;
}

std::string TransformNotSupported(const char* AKind) { return std::string(AKind) + ".Transform not supported yet"; }

}  // namespace

// ---- base ---------------------------------------------------------------------------------------

TPropertyKeyAnimation::TPropertyKeyAnimation(TComponent* AOwner)
    : TCustomPropertyAnimation(AOwner), FKeys(New<TKeys>()) {}

TPropertyKeyAnimation::~TPropertyKeyAnimation() = default;

void TPropertyKeyAnimation::Notification(TComponent* AComponent, TOperation Operation) {
  TCustomPropertyAnimation::Notification(AComponent, Operation);
  if (Operation != opRemove) return;
  // A freed target leaves nothing behind that a later step could write through.
  FElements.erase(AComponent);
  FCPIBuffer.erase(AComponent);
  if (FTarget.Instance == AComponent) FTarget = {};
}

void TPropertyKeyAnimation::AddElement(TComponent* AElement, bool AValue) {
  FElements[AElement] = AValue;
  if (AElement) AElement->FreeNotification(this);
}

void TPropertyKeyAnimation::AddElements(const std::map<TComponent*, bool>& AElements) {
  for (const auto& [element, value] : AElements) AddElement(element, value);
}

TPropertyTarget TPropertyKeyAnimation::FindElementProperty(TComponent* AElement) {
  if (auto it = FCPIBuffer.find(AElement); it != FCPIBuffer.end()) return it->second;
  const TPropertyTarget found = ResolvePropertyPath(AElement, PropertyName);
  if (found) FCPIBuffer[AElement] = found;
  return found;
}

void TPropertyKeyAnimation::LoadCommon(TCustomDef* ADef, const std::string& AId, float ADuration, bool ALoop) {
  FDef = ADef;
  if (QualifiedName.empty()) QualifiedName = AId;
  SetName(GetUniqueComponentName(this, AId));
  Duration = ADuration;
  Loop = ALoop;
  SetEnabled(false);
  if (ADuration < 0) Inverse = true;
  if (FKeys->Count() > 0) {
    Log::d("<WARNING> Keys already filled in %s - clearing now", QualifiedName);
    FKeys->Clear();
  }
}

void TPropertyKeyAnimation::ProcessCachingTick(float, float ADeltaTime) {
  const TComponentState& state = GetComponentState();
  if (state.Contains(csDestroying) || state.Contains(csDesigning)) return;
  if (ParentHidden(GetParent())) Stop();
  ProcessExplicitTick(ADeltaTime);
}

void TPropertyKeyAnimation::ResetCaching() {
  FCPIBuffer.clear();
  ResetClock();
}

void TPropertyKeyAnimation::Stop() {
  TCustomPropertyAnimation::Stop();
  FCPIBuffer.clear();
}

// ---- typed kinds --------------------------------------------------------------------------------

template <class T>
bool TTypedKeyAnimation<T>::Accepts(const TPropInfo* AProp) const {
  if (!AProp || !AProp->IsWritable()) return false;
  // Exact type: a record of another type would be overwritten with foreign bytes.
  return (AProp->Kind == tkRecord || AProp->Kind == tkDynArray) && AProp->TypeName == FTypeName;
}

template <class T>
void TTypedKeyAnimation<T>::ProcessAnimation() {
  const float t = NormalizedTime();
  TKey *k1, *k2;
  if (!FKeys->FindKeys(t, k1, k2) || k1->Key == k2->Key) return;
  FTransitionTime = t;
  const float f = (t - k1->Key) / (k2->Key - k1->Key);
  auto* a = static_cast<TKeyType*>(k1);
  auto* b = static_cast<TKeyType*>(k2);
  if (!FElements.empty() || !GetParent()) {
    // A copy: a setter may free targets (they then leave FElements).
    std::vector<TComponent*> targets;
    for (const auto& [element, value] : FElements)
      if (element) targets.push_back(element);
    for (TComponent* element : targets) {
      if (!FElements.contains(element)) continue;
      const TPropertyTarget p = FindElementProperty(element);
      if (!p || !Accepts(p.Prop)) continue;
      p.Prop->SetValue(p.Instance, TValue::From(Interpolate(a->GetValue(element), b->GetValue(element), f)));
    }
  } else if (FTarget && Accepts(FTarget.Prop)) {
    FTarget.Prop->SetValue(FTarget.Instance, TValue::From(Interpolate(a->GetDefaultValue(), b->GetDefaultValue(), f)));
  }
}

template <class T>
void TTypedKeyAnimation<T>::FirstFrame() {
  if (!StartFromCurrent || FKeys->Count() == 0) return;
  for (const auto& [element, value] : FElements) {
    if (!element) continue;
    const TPropertyTarget p = StartProperty(element);
    if (!p || !Accepts(p.Prop) || !p.Prop->IsReadable()) continue;
    KeyAt(0)->SetValue(element, p.Prop->GetValue(p.Instance).template AsType<T>());
  }
}

template <class T>
template <class D>
void TTypedKeyAnimation<T>::LoadKeys(TCustomDef* ADef) {
  if (!ADef) return;
  D* def = DefAs<D>(ADef);
  LoadCommon(def, def->GetId(), def->GetDuration(), def->GetLoop());
  for (const auto& k : def->GetKeys()) {
    TKeyType* key = AddKey(k->Key);
    for (const auto& [element, value] : FElements) key->SetValue(element, k->Value);
  }
}

namespace {
TPropertyTarget SkinnedJointProperty(TComponent* AElement, const char* AName,
                                     const std::function<TPropertyTarget(TComponent*)>& AOtherwise) {
  auto* joint = dynamic_cast<TQuorvelJoint*>(AElement);
  if (joint && joint->GetSkinned()) {
    const TPropInfo* prop = joint->ClassType()->FindProperty(AName);
    return prop ? TPropertyTarget{joint, prop} : TPropertyTarget{};
  }
  return AOtherwise(AElement);
}
}  // namespace

TPoint3DKeyAnimation::TPoint3DKeyAnimation(TComponent* AOwner)
    : TTypedKeyAnimation(AOwner, "Position.Point", "TPoint3D", TPoint3D{}) {}

TPoint3D TPoint3DKeyAnimation::Interpolate(const TPoint3D& A, const TPoint3D& B, float AFraction) const {
  return A + (B - A) * AFraction;
}

void TPoint3DKeyAnimation::LoadFromInterpolatorDef(TCustomDef* ADef) { LoadKeys<TPoint3DInterpolatorDef>(ADef); }

void TPoint3DKeyAnimation::Transform(const TMatrix3D&) {
  throw Exception(TransformNotSupported("TPoint3DKeyAnimation"));
}

TVector3DKeyAnimation::TVector3DKeyAnimation(TComponent* AOwner)
    : TTypedKeyAnimation(AOwner, "RotationAngle.Vector", "TVector3D", TVector3D{}) {}

TVector3D TVector3DKeyAnimation::Interpolate(const TVector3D& A, const TVector3D& B, float AFraction) const {
  return TQuat::Slerp(AFraction, TQuat::Create(A), TQuat::Create(B)).ToVector3D();
}

void TVector3DKeyAnimation::LoadFromInterpolatorDef(TCustomDef* ADef) { LoadKeys<TVector3DInterpolatorDef>(ADef); }

void TVector3DKeyAnimation::Transform(const TMatrix3D&) {
  throw Exception(TransformNotSupported("TVector3DKeyAnimation"));
}

TPropertyTarget TVector3DKeyAnimation::StartProperty(TComponent* AElement) {
  return SkinnedJointProperty(AElement, "Rotation", [this](TComponent* e) { return FindElementProperty(e); });
}

TQuaternion3DKeyAnimation::TQuaternion3DKeyAnimation(TComponent* AOwner)
    : TTypedKeyAnimation(AOwner, "Quaternion", "TQuaternion3D", TQuaternion3D(0, 0, 0, 0)) {}

TQuaternion3D TQuaternion3DKeyAnimation::Interpolate(const TQuaternion3D& A, const TQuaternion3D& B,
                                                     float AFraction) const {
  // Read back through the keys' rotation matrices in the framework's convention, so that a key
  // comes back as itself and not as its inverse turn.
  const TQuat a = TQuat::FromRotationMatrix(A.ToMatrix3D());
  const TQuat b = TQuat::FromRotationMatrix(B.ToMatrix3D());
  return TQuat::Slerp(AFraction, a, b).ToQuaternion3D();
}

void TQuaternion3DKeyAnimation::LoadFromInterpolatorDef(TCustomDef* ADef) {
  LoadKeys<TQuaternion3DInterpolatorDef>(ADef);
}

void TQuaternion3DKeyAnimation::Transform(const TMatrix3D&) {
  throw Exception(TransformNotSupported("TQuaternion3DKeyAnimation"));
}

TPropertyTarget TQuaternion3DKeyAnimation::StartProperty(TComponent* AElement) {
  return SkinnedJointProperty(AElement, "Quaternion", [this](TComponent* e) { return FindElementProperty(e); });
}

TTransformationKeyAnimation::TTransformationKeyAnimation(TComponent* AOwner)
    : TTypedKeyAnimation(AOwner, "TransformMatrix", "TMatrix3D", TMatrix3D::Identity()) {}

TMatrix3D TTransformationKeyAnimation::Interpolate(const TMatrix3D& A, const TMatrix3D& B, float AFraction) const {
  TMatrix3D r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) r.At(i, j) = A.Get(i, j) + (B.Get(i, j) - A.Get(i, j)) * AFraction;
  return r;
}

void TTransformationKeyAnimation::LoadFromInterpolatorDef(TCustomDef* ADef) {
  LoadKeys<TTransformationInterpolatorDef>(ADef);
}

void TTransformationKeyAnimation::Transform(const TMatrix3D& AMat) {
  for (int32_t i = 0; i < FKeys->Count(); ++i)
    for (auto& [element, m] : KeyAt(i)->Values()) m = m * AMat;
}

TCoordinateKeyAnimation::TCoordinateKeyAnimation(TComponent* AOwner)
    : TTypedKeyAnimation(AOwner, "Coordinates", "TArray<TPoint3D>", std::vector<TPoint3D>{}) {}

std::vector<TPoint3D> TCoordinateKeyAnimation::Interpolate(const std::vector<TPoint3D>& A,
                                                           const std::vector<TPoint3D>& B, float AFraction) const {
  std::vector<TPoint3D> r = A;
  const size_t n = std::min(A.size(), B.size());
  for (size_t i = 0; i < n; ++i) r[i] = A[i] + (B[i] - A[i]) * AFraction;
  return r;
}

void TCoordinateKeyAnimation::LoadFromInterpolatorDef(TCustomDef* ADef) { LoadKeys<TMeshInterpolatorDef>(ADef); }

void TCoordinateKeyAnimation::Transform(const TMatrix3D&) {
  throw Exception(TransformNotSupported("TCoordinateKeyAnimation"));
}

template class TTypedKeyAnimation<TPoint3D>;
template class TTypedKeyAnimation<TVector3D>;
template class TTypedKeyAnimation<TQuaternion3D>;
template class TTypedKeyAnimation<TMatrix3D>;
template class TTypedKeyAnimation<std::vector<TPoint3D>>;

// ---- skeleton -----------------------------------------------------------------------------------

TSkeletonKeyAnimation::TSkeletonKeyAnimation(TComponent* AOwner) : TPropertyKeyAnimation(AOwner) {
  Loop = true;
  Duration = 2.0f;
  PropertyName = "Vertices";
}

void TSkeletonKeyAnimation::Notification(TComponent* AComponent, TOperation Operation) {
  TPropertyKeyAnimation::Notification(AComponent, Operation);
  if (Operation == opRemove) std::erase(FInterpolators, AComponent);
}

void TSkeletonKeyAnimation::AddInterpolator(TPropertyKeyAnimation* AInter) {
  if (!AInter) return;
  FInterpolators.push_back(AInter);
  AInter->FreeNotification(this);
  AInter->FindProperty();
}

void TSkeletonKeyAnimation::ProcessAnimation() {
  FTransitionTime = NormalizedTime();
  if (FInterpolators.empty()) return;
  auto* mesh = GetParent() ? GetParent()->As<TQuorvelMesh>() : nullptr;
  if (!mesh) throw EInvalidCast("Invalid class typecast");
  mesh->BeginUpdate();
  auto done = Finally([&] {
    mesh->EndUpdate();
    if (AutoRepaint) mesh->Repaint();
  });
  const std::vector<TPropertyKeyAnimation*> list = FInterpolators;
  for (TPropertyKeyAnimation* inter : list) {
    if (std::find(FInterpolators.begin(), FInterpolators.end(), inter) == FInterpolators.end()) continue;
    inter->CopyClockFrom(*this);
    inter->StepProcess();
  }
}

void TSkeletonKeyAnimation::ProcessAnimationRemote(float ATime, float ADeltaTime) {
  FTransitionTime = NormalizedTime();
  if (FInterpolators.empty()) return;
  auto* mesh = GetParent() ? GetParent()->As<TQuorvelMesh>() : nullptr;
  if (!mesh) throw EInvalidCast("Invalid class typecast");
  mesh->BeginUpdate();
  auto done = Finally([&] { mesh->EndUpdate(); });
  const std::vector<TPropertyKeyAnimation*> list = FInterpolators;
  for (TPropertyKeyAnimation* inter : list)
    if (std::find(FInterpolators.begin(), FInterpolators.end(), inter) != FInterpolators.end())
      inter->ProcessCachingTick(ATime, ADeltaTime);
}

void TSkeletonKeyAnimation::Reset() {
  const std::vector<TPropertyKeyAnimation*> list = FInterpolators;
  for (TPropertyKeyAnimation* inter : list) inter->ProcessTick(0, 0);
  ResetCaching();
}

void TSkeletonKeyAnimation::SetSpeed(float ASpeed) {
  for (TPropertyKeyAnimation* inter : FInterpolators) inter->Duration *= ASpeed;
}

void TSkeletonKeyAnimation::Start() {
  if (ParentHidden(GetParent())) Log::d("animation not started, because parent control not visible");
  TPropertyKeyAnimation::Start();
}

void TSkeletonKeyAnimation::Transform(const TMatrix3D& AMat) {
  for (TPropertyKeyAnimation* inter : FInterpolators) inter->Transform(AMat);
}

// ---- two-value point animation ------------------------------------------------------------------

TPoint3DAnimation::TPoint3DAnimation(TComponent* AOwner)
    : TCustomPropertyAnimation(AOwner), FStartValue(New<TPosition3D>(TPoint3D{})), FStopValue(New<TPosition3D>(TPoint3D{})) {
  Duration = 0.2f;
}

void TPoint3DAnimation::Assign(const TPoint3DAnimation* ASource) {
  if (!ASource) return;
  FStartValue->Assign(*ASource->FStartValue);
  FStopValue->Assign(*ASource->FStopValue);
  StartFromCurrent = ASource->StartFromCurrent;
  Duration = ASource->Duration;
  Delay = ASource->Delay;
  Loop = ASource->Loop;
  AutoReverse = ASource->AutoReverse;
  Inverse = ASource->Inverse;
  Interpolation = ASource->Interpolation;
  AnimationType = ASource->AnimationType;
  PropertyName = ASource->PropertyName;
}

void TPoint3DAnimation::FirstFrame() {
  if (StartFromCurrent && FTarget && IsRecordProperty(FTarget.Prop, "TPoint3D"))
    FStartValue->SetPoint(FTarget.Prop->GetValue(FTarget.Instance).AsType<TPoint3D>());
}

void TPoint3DAnimation::ProcessAnimation() {
  if (!FTarget || !IsRecordProperty(FTarget.Prop, "TPoint3D") || !FTarget.Prop->IsWritable()) return;
  const TPoint3D a = FStartValue->GetPoint();
  const TPoint3D b = FStopValue->GetPoint();
  FTarget.Prop->SetValue(FTarget.Instance, TValue::From(a + (b - a) * NormalizedTime()));
}

}  // namespace quorvel
