#pragma once
// Unit Quorvel.DefTypes.Cache: the baker of a model's animations. An animation definition
// hands itself to Execute, which calls back into its frame cache (PrepareAnimationData,
// InitializeCaching, StartCaching, CacheFrame, StopCaching, FinalizeCaching).
#include "framework/classes/Component.h"
#include "lib/defs/DefTypesAnimation.h"

namespace quorvel {

class TAnimationCaching : public TComponent {
  FW_CLASS(TAnimationCaching, TComponent)

public:
  // A component without owner baking the animations of ADef with AFlags; AModel is the model
  // component whose animations it drives (may be null).
  TAnimationCaching(TModelDef* ADef, TAnimationCachingFlags AFlags, TComponent* AModel = nullptr);

  TModelDef* GetDef() const noexcept { return FDef; }
  TAnimationCachingFlags GetFlags() const noexcept { return FFlags; }
  TComponent* GetModel() const noexcept { return FModel; }

  // Bakes one animation through its frame cache, on the calling thread.
  virtual void Execute(TAnimationDef* AAnimDef) = 0;

private:
  TModelDef* FDef;      // not owned
  TAnimationCachingFlags FFlags;
  TComponent* FModel;  // not owned
};

}  // namespace quorvel
