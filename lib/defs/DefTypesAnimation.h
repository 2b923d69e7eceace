#pragma once
// Unit Quorvel.DefTypes, animations: the caching flags that travel with a load and the first
// slice of TAnimationDef (an animation of a model, known by its id).
#include <cstdint>

#include "framework/rtl/Set.h"
#include "lib/defs/DefTypesBase.h"

namespace quorvel {

enum class TAnimationCachingFlag : uint8_t { AllAttributes = 0, Compressed = 1, VertexPosition = 2 };
FW_ENUM(TAnimationCachingFlag, AllAttributes, Compressed, VertexPosition)
using TAnimationCachingFlags = TSet<TAnimationCachingFlag>;

enum class TAnimationBufferingState : uint8_t { None = 0, Started = 1, Caching = 2, Cached = 3, Ready = 4 };
FW_ENUM(TAnimationBufferingState, None, Started, Caching, Cached, Ready)

class TAnimationDef : public TCustomDef {
  QUORVEL_DEF_CLASS(TAnimationDef, TCustomDef)

public:
  // The model owns the animation once it is in its list (AddAnimation); not added here.
  explicit TAnimationDef(TModelDef* AModel = nullptr) : FModel(AModel) {}

  TModelDef* GetModel() const noexcept { return FModel; }
  TAnimationBufferingState GetBufferingState() const noexcept { return FBufferingState; }
  int32_t GetFrameRate() const noexcept { return FFrameRate; }
  void SetFrameRate(int32_t AValue) { FFrameRate = AValue; }

private:
  TModelDef* FModel;  // not owned
  TAnimationBufferingState FBufferingState = TAnimationBufferingState::None;
  int32_t FFrameRate = 60;
};

}  // namespace quorvel
