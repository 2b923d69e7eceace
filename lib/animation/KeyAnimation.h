#pragma once
// Key animations of a model: one property per target component driven from timed keys that
// hold a value per target (points, rotation vectors, quaternions, matrices, vertex arrays),
// the skeleton clock that steps them together, and a plain two-value point animation.
#include <map>
#include <string>
#include <vector>

#include "framework/gui3d/Animation.h"
#include "framework/math/Matrix3D.h"
#include "framework/math/Position3D.h"
#include "framework/math/Quaternion3D.h"
#include "lib/scene/Duplication.h"

namespace quorvel {

class TCustomDef;

// A key with one value per target; the entry under nil is the key's default.
template <class T>
class TValueKey : public TKey {
public:
  explicit TValueKey(float AKey, const T& AFallback) : TKey(AKey), FFallback(AFallback) {}
  // The target's value, else the default, else the kind's fallback.
  const T& GetValue(TComponent* AIndex) const {
    auto it = FValues.find(AIndex);
    if (it == FValues.end()) it = FValues.find(nullptr);
    return it == FValues.end() ? FFallback : it->second;
  }
  void SetValue(TComponent* AIndex, const T& AValue) { FValues[AIndex] = AValue; }
  void SetDefaultValue(const T& AValue) { FValues[nullptr] = AValue; }
  const T& GetDefaultValue() const { return GetValue(nullptr); }
  void RemoveValue(TComponent* AIndex) { FValues.erase(AIndex); }
  std::map<TComponent*, T>& Values() { return FValues; }

private:
  std::map<TComponent*, T> FValues;
  T FFallback;
};

using TPoint3DKey = TValueKey<TPoint3D>;
using TVector3DKey = TValueKey<TVector3D>;
using TQuaternion3DKey = TValueKey<TQuaternion3D>;
using TTransformationKey = TValueKey<TMatrix3D>;
using TCoordinateKey = TValueKey<std::vector<TPoint3D>>;

class TPropertyKeyAnimation : public TCustomPropertyAnimation, public IDuplicatable {
  FW_CLASS(TPropertyKeyAnimation, TCustomPropertyAnimation)

public:
  explicit TPropertyKeyAnimation(TComponent* AOwner);
  ~TPropertyKeyAnimation() override;
  void Notification(TComponent* AComponent, TOperation Operation) override;

  std::string QualifiedName;
  bool StartFromCurrent = false;
  const std::map<TComponent*, bool>& GetElements() const { return FElements; }
  TObject* GetDef() const { return FDef; }
  TKeys* GetKeys() const { return FKeys.get(); }
  float GetTransitionTime() const { return FTransitionTime; }

  void AddElement(TComponent* AElement, bool AValue);
  void AddElements(const std::map<TComponent*, bool>& AElements);

  // The definition must be the kind's interpolator class (else EInvalidCast); keys get values
  // for the targets present now.
  virtual void LoadFromInterpolatorDef(TCustomDef* ADef) = 0;
  // The clock's explicit step for baking; a hidden parent control stops the animation, the
  // step is processed all the same.
  void ProcessCachingTick(float ATime, float ADeltaTime);
  // The resolved properties forgotten, the clock at 0, then the first frame.
  void ResetCaching();
  virtual void Transform(const TMatrix3D& AMat) = 0;
  void Stop() override;
  void DoDuplicate(TComponent*, TQuorvelDuplicator*) override {}

protected:
  // AElement's property along PropertyName, cached; empty when it cannot be resolved.
  TPropertyTarget FindElementProperty(TComponent* AElement);
  // Reads ADef's common settings and clears keys that were there; ADef is the kind's class.
  void LoadCommon(TCustomDef* ADef, const std::string& AId, float ADuration, bool ALoop);

  std::map<TComponent*, bool> FElements;
  TObject* FDef = nullptr;  // the interpolator definition, the model definition's
  TOwned<TKeys> FKeys;
  float FTransitionTime = 0;

private:
  std::map<TComponent*, TPropertyTarget> FCPIBuffer;
};

// The part every kind shares, by value type: key search, the type test, the write per target
// and start-from-current.
template <class T>
class TTypedKeyAnimation : public TPropertyKeyAnimation {
public:
  using TValueType = T;
  using TKeyType = TValueKey<T>;

  TTypedKeyAnimation(TComponent* AOwner, const char* APropertyName, const char* ATypeName, const T& AFallback)
      : TPropertyKeyAnimation(AOwner), FTypeName(ATypeName), FFallback(AFallback) {
    PropertyName = APropertyName;
  }

  TKeyType* AddKey(float AKey) { return static_cast<TKeyType*>(FKeys->Add(new TKeyType(AKey, FFallback))); }
  TKeyType* KeyAt(int32_t AIndex) const { return static_cast<TKeyType*>(FKeys->Items(AIndex)); }
  bool Accepts(const TPropInfo* AProp) const;
  virtual T Interpolate(const T& A, const T& B, float AFraction) const = 0;

protected:
  void ProcessAnimation() override;
  void FirstFrame() override;
  // The property start-from-current reads on a target: the rotation kinds read a skinned
  // joint's own rotation.
  virtual TPropertyTarget StartProperty(TComponent* AElement) { return FindElementProperty(AElement); }
  template <class D>
  void LoadKeys(TCustomDef* ADef);

private:
  const char* FTypeName;
  T FFallback;
};

class TPoint3DKeyAnimation : public TTypedKeyAnimation<TPoint3D> {
  FW_CLASS(TPoint3DKeyAnimation, TPropertyKeyAnimation)

public:
  explicit TPoint3DKeyAnimation(TComponent* AOwner);
  TPoint3D Interpolate(const TPoint3D& A, const TPoint3D& B, float AFraction) const override;
  void LoadFromInterpolatorDef(TCustomDef* ADef) override;
  void Transform(const TMatrix3D& AMat) override;
};

// A quaternion held as X, Y, Z, W.
class TVector3DKeyAnimation : public TTypedKeyAnimation<TVector3D> {
  FW_CLASS(TVector3DKeyAnimation, TPropertyKeyAnimation)

public:
  explicit TVector3DKeyAnimation(TComponent* AOwner);
  TVector3D Interpolate(const TVector3D& A, const TVector3D& B, float AFraction) const override;
  void LoadFromInterpolatorDef(TCustomDef* ADef) override;
  void Transform(const TMatrix3D& AMat) override;

protected:
  TPropertyTarget StartProperty(TComponent* AElement) override;
};

class TQuaternion3DKeyAnimation : public TTypedKeyAnimation<TQuaternion3D> {
  FW_CLASS(TQuaternion3DKeyAnimation, TPropertyKeyAnimation)

public:
  explicit TQuaternion3DKeyAnimation(TComponent* AOwner);
  TQuaternion3D Interpolate(const TQuaternion3D& A, const TQuaternion3D& B, float AFraction) const override;
  void LoadFromInterpolatorDef(TCustomDef* ADef) override;
  void Transform(const TMatrix3D& AMat) override;

protected:
  TPropertyTarget StartProperty(TComponent* AElement) override;
};

// Element by element, no re-orthogonalisation.
class TTransformationKeyAnimation : public TTypedKeyAnimation<TMatrix3D> {
  FW_CLASS(TTransformationKeyAnimation, TPropertyKeyAnimation)

public:
  explicit TTransformationKeyAnimation(TComponent* AOwner);
  TMatrix3D Interpolate(const TMatrix3D& A, const TMatrix3D& B, float AFraction) const override;
  void LoadFromInterpolatorDef(TCustomDef* ADef) override;
  // Every stored matrix (per target and default) becomes M x AMat.
  void Transform(const TMatrix3D& AMat) override;
};

class TCoordinateKeyAnimation : public TTypedKeyAnimation<std::vector<TPoint3D>> {
  FW_CLASS(TCoordinateKeyAnimation, TPropertyKeyAnimation)

public:
  explicit TCoordinateKeyAnimation(TComponent* AOwner);
  // As long as A; elements beyond a shorter B stay A's.
  std::vector<TPoint3D> Interpolate(const std::vector<TPoint3D>& A, const std::vector<TPoint3D>& B,
                                    float AFraction) const override;
  void LoadFromInterpolatorDef(TCustomDef* ADef) override;
  void Transform(const TMatrix3D& AMat) override;
};

// The clock of one named animation: drives its interpolators from its own time.
class TSkeletonKeyAnimation : public TPropertyKeyAnimation {
  FW_CLASS(TSkeletonKeyAnimation, TPropertyKeyAnimation)

public:
  explicit TSkeletonKeyAnimation(TComponent* AOwner);
  void Notification(TComponent* AComponent, TOperation Operation) override;

  bool AutoRepaint = true;
  const std::vector<TPropertyKeyAnimation*>& GetInterpolators() const { return FInterpolators; }
  // Appends and resolves AInter's path against its parent.
  void AddInterpolator(TPropertyKeyAnimation* AInter);
  // Every interpolator advanced by ADeltaTime and written; the skeleton's own time stays.
  void ProcessAnimationRemote(float ATime, float ADeltaTime);
  void Reset();
  // Every interpolator's duration times ASpeed; the skeleton's stays.
  void SetSpeed(float ASpeed);
  void Start() override;
  void LoadFromInterpolatorDef(TCustomDef*) override {}
  void Transform(const TMatrix3D& AMat) override;

protected:
  void ProcessAnimation() override;

private:
  std::vector<TPropertyKeyAnimation*> FInterpolators;  // components of the animation
};

// From StartValue to StopValue.
class TPoint3DAnimation : public TCustomPropertyAnimation {
  FW_CLASS(TPoint3DAnimation, TCustomPropertyAnimation)

public:
  explicit TPoint3DAnimation(TComponent* AOwner);
  TPosition3D* GetStartValue() const { return FStartValue.get(); }
  TPosition3D* GetStopValue() const { return FStopValue.get(); }
  bool StartFromCurrent = false;
  void Assign(const TPoint3DAnimation* ASource);

protected:
  void FirstFrame() override;
  void ProcessAnimation() override;

private:
  TOwned<TPosition3D> FStartValue;
  TOwned<TPosition3D> FStopValue;
};

}  // namespace quorvel
