#pragma once
// Unit Quorvel.DefTypes, animated tracks: TInterpolatorDef<T> (a property path, a duration, a
// loop flag and timed keys of one value type) and its five typed classes, which give the text
// form of a value and the blend of two keys.
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/gui3d/Animation.h"
#include "framework/math/Quaternion3D.h"
#include "framework/rtl/Exceptions.h"
#include "lib/defs/DefTypesBase.h"

namespace quorvel {

class TAnimationStageDef;

// A read time or duration as a Single; one beyond the Single's range raises (it could never be
// written back as a number).
float InterpolatorSingle(double AValue, const char* AWhat);

using TAnimationKeyInterpolationDynArray = std::vector<TInterpolationType>;

template <class T>
class TInterpolatorKeyDef {
public:
  // The writer and reader of one value (the track's).
  using TSerializeFunc = std::function<TJSONValue*(const T&)>;
  using TUnserializeFunc = std::function<T(const TJSONValue*)>;

  TInterpolatorKeyDef() = default;
  TInterpolatorKeyDef(float AKey, const T& AValue, TInterpolationType AInterpolation)
      : Key(AKey), Interpolation(AInterpolation), Value(AValue) {}
  virtual ~TInterpolatorKeyDef() = default;

  // The key object alone (a point array's elements are not counted).
  virtual int64_t GetSize() const { return int64_t(sizeof(*this)); }
  virtual TJSONObject* ToJSON(const TSerializeFunc& ASerializeFunc) const {
    auto obj = std::make_unique<TJSONObject>();
    obj->AddPair("Key", double(Key));
    obj->AddPair("Interpolation", int32_t(Interpolation));
    obj->AddPair("Value", ASerializeFunc(Value));
    return obj.release();
  }
  virtual void FromJSON(TModelDef*, const TJSONObject* AValue, const TUnserializeFunc& AUnserializeFunc) {
    const TJSONValue* key = AValue->GetValue("Key");
    if (!key) throw Exception("failed to load interpolator key - key value not found");
    Key = InterpolatorSingle(key->As<TJSONNumber>()->AsDouble(), "key");
    const TJSONValue* interpolation = AValue->GetValue("Interpolation");
    if (!interpolation) throw Exception("failed to load interpolator key - key interpolation method not found");
    Interpolation = TInterpolationType(JSONNumberToInteger(interpolation->As<TJSONNumber>()));
    // A key needs its value: one without would read as whatever the reader makes of nothing.
    const TJSONValue* value = AValue->GetValue("Value");
    if (!value) throw Exception("failed to load interpolator key - key value not found");
    Value = AUnserializeFunc(value);
  }

  float Key = 0;
  TInterpolationType Interpolation = TInterpolationType::Linear;
  T Value{};
};

// The part of every track that does not depend on the value type.
class TCustomInterpolatorDef : public TCustomDef {
  QUORVEL_DEF_CLASS(TCustomInterpolatorDef, TCustomDef)

public:
  explicit TCustomInterpolatorDef(TAnimationStageDef* AStage = nullptr) : FStage(AStage) {}
  ~TCustomInterpolatorDef() override { FStage = nullptr; }

  TAnimationStageDef* GetStage() const noexcept { return FStage; }
  float GetDuration() const noexcept { return FDuration; }
  void SetDuration(float AValue) noexcept { FDuration = AValue; }
  bool GetLoop() const noexcept { return FLoop; }
  void SetLoop(bool AValue) noexcept { FLoop = AValue; }
  const std::string& GetPath() const noexcept { return FPath; }
  void SetPath(std::string AValue) { FPath = std::move(AValue); }
  virtual int32_t KeyCount() const { return 0; }

  // The base pairs, the plain class name as a second "Type", "Stage", "Duration", "Loop",
  // "Path"; the typed part appends "Keys".
  TJSONObject* ToJSON() const override;
  // "Duration" (1.0 when absent), "Loop" (false when absent), "Path" (required).
  void FromJSON(TModelDef* AModel, const TJSONObject* AValue) override;

protected:
  TAnimationStageDef* FStage;  // not owned
  float FDuration = 1.0f;
  bool FLoop = true;
  std::string FPath;
};

template <class T>
class TInterpolatorDef : public TCustomInterpolatorDef {
public:
  using TKey = TInterpolatorKeyDef<T>;
  using TKeyList = std::vector<std::unique_ptr<TKey>>;

  explicit TInterpolatorDef(TAnimationStageDef* AStage = nullptr) : TCustomInterpolatorDef(AStage) {}

  // Owned, in the order added (nothing sorts them).
  const TKeyList& GetKeys() const noexcept { return FKeys; }
  int32_t KeyCount() const override { return int32_t(FKeys.size()); }

  TKey* AddKey(float AKey, const T& AValue, TInterpolationType AInterpolation) {
    FKeys.push_back(std::make_unique<TKey>(AKey, AValue, AInterpolation));
    return FKeys.back().get();
  }
  TKey* AddEmptyKey() {
    FKeys.push_back(std::make_unique<TKey>());
    return FKeys.back().get();
  }
  // One key per time; missing kinds are Linear, missing values repeat the last value. Only
  // no values at all for a different number of times raises.
  virtual void AddKeys(const std::vector<float>& AKeyTimes, const std::vector<T>& AKeyValues,
                       const TAnimationKeyInterpolationDynArray& AIntVals) {
    if (AKeyTimes.size() != AKeyValues.size() && AKeyValues.empty())
      throw Exception("failed to add multiple interpolator keys - array length differs");
    for (size_t i = 0; i < AKeyTimes.size(); ++i) {
      const TInterpolationType kind = i < AIntVals.size() ? AIntVals[i] : TInterpolationType::Linear;
      AddKey(AKeyTimes[i], i < AKeyValues.size() ? AKeyValues[i] : AKeyValues.back(), kind);
    }
  }
  // Key times as fractions of the duration (the last key's time), see the tests for the rules.
  void NormalizeKeyTimeValues() {
    if (FKeys.empty()) return;
    if (FKeys.size() == 1) {
      AddKey(1.0f, FKeys[0]->Value, FKeys[0]->Interpolation);
      if (FDuration <= 0) FDuration = 1.0f;
      return;
    }
    FDuration = FKeys.back()->Key;
    if (FDuration <= 0 || std::fabs(double(FDuration) - 1.0) <= 1e-6) return;
    for (auto& key : FKeys) key->Key = float(double(key->Key) / double(FDuration));
  }
  // The first pair of neighbours with start <= ADelta <= stop.
  bool FindKeys(float ADelta, TKey*& AKeyStart, TKey*& AKeyStop) const {
    AKeyStart = nullptr;
    AKeyStop = nullptr;
    if (FKeys.size() < 2) return false;
    for (size_t i = 0; i + 1 < FKeys.size(); ++i) {
      if (double(FKeys[i]->Key) <= double(ADelta) && double(ADelta) <= double(FKeys[i + 1]->Key)) {
        AKeyStart = FKeys[i].get();
        AKeyStop = FKeys[i + 1].get();
        return true;
      }
    }
    return false;
  }
  // The value at ADelta blended from its bracketing keys; False (outputs untouched) without.
  virtual bool ComputeInterpolatedKey(float, float&, TInterpolationType&, T&) const {
    throw EAbstractError("Abstract Error");
  }

  int64_t GetSize() const override {
    int64_t size = TCustomDef::GetSize() + int64_t(sizeof(TKeyList));
    for (const auto& key : FKeys) size += key->GetSize();
    return size;
  }
  TJSONObject* ToJSON() const override {
    std::unique_ptr<TJSONObject> obj(TCustomInterpolatorDef::ToJSON());
    auto* keys = new TJSONArray;
    obj->AddPair("Keys", keys);
    auto serialize = [this](const T& AValue) { return SerializeValue(AValue); };
    for (const auto& key : FKeys) keys->AddElement(key->ToJSON(serialize));
    return obj.release();
  }
  void FromJSON(TModelDef* AModel, const TJSONObject* AValue) override {
    TCustomInterpolatorDef::FromJSON(AModel, AValue);
    const TJSONValue* keys = AValue->GetValue("Keys");
    if (!keys) return;
    auto unserialize = [this](const TJSONValue* AJSON) { return UnserializeValue(AJSON); };
    for (const TJSONValue* element : *keys->As<TJSONArray>()) {
      const TJSONObject* item = element->As<TJSONObject>();
      AddEmptyKey()->FromJSON(AModel, item, unserialize);
    }
  }

protected:
  // The value's text form as a new JSON string, and back.
  virtual TJSONValue* SerializeValue(const T&) const { throw EAbstractError("Abstract Error"); }
  virtual T UnserializeValue(const TJSONValue*) const { throw EAbstractError("Abstract Error"); }

  // Start and stop of ADelta with the fraction between them (0 for two keys at one time).
  bool Bracket(float ADelta, const TKey*& AStart, const TKey*& AStop, double& AFraction) const {
    TKey* start;
    TKey* stop;
    if (!FindKeys(ADelta, start, stop)) return false;
    AStart = start;
    AStop = stop;
    const double span = double(stop->Key) - double(start->Key);
    AFraction = span == 0 ? 0.0 : (double(ADelta) - double(start->Key)) / span;
    return true;
  }

  TKeyList FKeys;
};

class TPoint3DInterpolatorDef : public TInterpolatorDef<TPoint3D> {
  QUORVEL_DEF_CLASS(TPoint3DInterpolatorDef, TInterpolatorDef<TPoint3D>)

public:
  using TInterpolatorDef::TInterpolatorDef;
  // Linear per component.
  bool ComputeInterpolatedKey(float ADelta, float& AKey, TInterpolationType& AInterpolation,
                              TPoint3D& AValue) const override;

protected:
  TJSONValue* SerializeValue(const TPoint3D& AValue) const override;
  TPoint3D UnserializeValue(const TJSONValue* AValue) const override;
};

// X, Y, Z, W of the vector are a quaternion.
class TVector3DInterpolatorDef : public TInterpolatorDef<TVector3D> {
  QUORVEL_DEF_CLASS(TVector3DInterpolatorDef, TInterpolatorDef<TVector3D>)

public:
  using TInterpolatorDef::TInterpolatorDef;
  // Spherical.
  bool ComputeInterpolatedKey(float ADelta, float& AKey, TInterpolationType& AInterpolation,
                              TVector3D& AValue) const override;

protected:
  TJSONValue* SerializeValue(const TVector3D& AValue) const override;
  TVector3D UnserializeValue(const TJSONValue* AValue) const override;
};

class TQuaternion3DInterpolatorDef : public TInterpolatorDef<TQuaternion3D> {
  QUORVEL_DEF_CLASS(TQuaternion3DInterpolatorDef, TInterpolatorDef<TQuaternion3D>)

public:
  using TInterpolatorDef::TInterpolatorDef;
  // Spherical, through the keys' rotation matrices.
  bool ComputeInterpolatedKey(float ADelta, float& AKey, TInterpolationType& AInterpolation,
                              TQuaternion3D& AValue) const override;

protected:
  TJSONValue* SerializeValue(const TQuaternion3D& AValue) const override;
  TQuaternion3D UnserializeValue(const TJSONValue* AValue) const override;
};

class TTransformationInterpolatorDef : public TInterpolatorDef<TMatrix3D> {
  QUORVEL_DEF_CLASS(TTransformationInterpolatorDef, TInterpolatorDef<TMatrix3D>)

public:
  using TInterpolatorDef::TInterpolatorDef;
  // Translation and scale linear, rotation spherical.
  bool ComputeInterpolatedKey(float ADelta, float& AKey, TInterpolationType& AInterpolation,
                              TMatrix3D& AValue) const override;

protected:
  TJSONValue* SerializeValue(const TMatrix3D& AValue) const override;
  TMatrix3D UnserializeValue(const TJSONValue* AValue) const override;
};

class TMeshInterpolatorDef : public TInterpolatorDef<std::vector<TPoint3D>> {
  QUORVEL_DEF_CLASS(TMeshInterpolatorDef, TInterpolatorDef<std::vector<TPoint3D>>)

public:
  using TInterpolatorDef::TInterpolatorDef;
  // Raises: vertex-array tracks are stored, not blended.
  bool ComputeInterpolatedKey(float ADelta, float& AKey, TInterpolationType& AInterpolation,
                              std::vector<TPoint3D>& AValue) const override;

protected:
  TJSONValue* SerializeValue(const std::vector<TPoint3D>& AValue) const override;
  std::vector<TPoint3D> UnserializeValue(const TJSONValue* AValue) const override;
};

}  // namespace quorvel
