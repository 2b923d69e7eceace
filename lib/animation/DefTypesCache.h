#pragma once
// Unit Quorvel.DefTypes.Cache: the baker of a model's animations. An animation definition
// hands itself to Execute, which plays the animation frame by frame with a fixed step, skins
// the model's meshes for each frame and stores the vertex data through the definition's frame
// cache (PrepareAnimationData, InitializeCaching, StartCaching, CacheFrame, StopCaching,
// FinalizeCaching).
#include <functional>
#include <map>

#include "framework/classes/Component.h"
#include "lib/defs/DefTypesAnimation.h"

namespace quorvel {

class TQuorvelModel;
class TQuorvelMesh;

enum class TAnimationCachingState : uint8_t { Started = 0, Finished = 1 };

using TOnAnimationNotify = std::function<void(TAnimationDef* ADef, TObject* AInstance, TAnimationCachingState AState)>;
using TOnAnimationFrameNotifiy =
    std::function<void(TAnimationDef* ADef, TObject* AInstance, int32_t ACurrent, int32_t ATotal)>;
using TOnAnimationCachedNotify =
    std::function<void(TAnimationDef* ADef, TObject* AInstance, int32_t AFrame, TAnimationBuffer* ABuffer)>;

class TAnimationCaching : public TComponent {
  FW_CLASS(TAnimationCaching, TComponent)

public:
  // A component without owner baking the animations of ADef with AFlags into the model
  // component AModel; AModel must be a TQuorvelModel (else "failed to cache model animations -
  // model not a valid TQuorvelModel"); without one the baker builds a model of its own from
  // ADef when it first bakes, and frees it with itself.
  TAnimationCaching(TModelDef* ADef, TAnimationCachingFlags AFlags, TComponent* AModel = nullptr);
  ~TAnimationCaching() override;

  TModelDef* GetDef() const noexcept { return FModelDef; }
  TAnimationCachingFlags GetFlags() const noexcept { return FFlags; }
  TComponent* GetModel() const noexcept;

  TOnAnimationNotify OnBeginAnimation;
  TOnAnimationNotify OnEndAnimation;
  TOnAnimationFrameNotifiy OnBeginFrame;
  TOnAnimationFrameNotifiy OnEndFrame;
  TOnAnimationCachedNotify OnCached;

  // Bakes one animation on the calling thread. A bake that raises leaves the definition short
  // of Ready (its frames are not all there), the armatures skinning again.
  virtual void Execute(TAnimationDef* AAnimDef);
  void BeginFrame(int32_t ACurrent, int32_t ATotal);
  void EndFrame(int32_t ACurrent, int32_t ATotal);

private:
  TQuorvelModel* Model();
  // The model first, then every mesh's sub-meshes, depth first.
  void ForEachMesh(const std::function<void(TQuorvelMesh*)>& AProc) const;

  TModelDef* FModelDef;  // not owned
  TAnimationDef* FAnimDef = nullptr;
  TAnimationCachingFlags FFlags;
  TComponent* FModel;  // not owned unless FIsModelTemp
  bool FIsModelTemp = false;
  TComponent* FAnimation = nullptr;  // the TQuorvelAnimation being baked
  double FLastTime = 0;
  double FTotalTime = 0;
  double FFrameTime = 0;
  // Position-only buffers per mesh definition while a bake with VertexPosition runs.
  std::map<TMeshDef*, TOwned<TVertexBuffer>> FMeshBuffers;
};

}  // namespace quorvel
