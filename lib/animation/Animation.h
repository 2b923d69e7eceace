#pragma once
// Unit Quorvel.Animation, first slice: the animation manager (a dictionary id -> animation that
// frees what it removes, and the current animation) and the animation component with its id,
// its running state and the baked frame it hands to a mesh's draw.
#include <map>
#include <string>
#include <vector>

#include "framework/classes/FwObject.h"

namespace quorvel {

class TAnimationDef;
class TMeshDef;
class TMeshBufferObject;
class TQuorvelAnimationManager;

class TQuorvelAnimation : public TFwObject {
  FW_CLASS(TQuorvelAnimation, TFwObject)

public:
  explicit TQuorvelAnimation(TComponent* AOwner);
  // Owned by the manager, not stored.
  static TQuorvelAnimation* CreateEx(TQuorvelAnimationManager* AManager);

  // The definition's id; empty without one.
  std::string GetId() const;
  TAnimationDef* GetDef() const { return FDef; }
  void SetDef(TAnimationDef* Value) { FDef = Value; }
  bool GetRunning() const { return FRunning; }
  void Start() { FRunning = true; }
  void Stop() { FRunning = false; }
  // The baked buffer of AMeshDef at the current frame; nil while not running or being
  // destroyed, and without a definition or a baked frame (none are baked yet).
  virtual TMeshBufferObject* GetCurrentCachedFrame(TMeshDef* AMeshDef);

private:
  TAnimationDef* FDef = nullptr;  // the model definition's
  bool FRunning = false;
};

class TQuorvelAnimationManager : public TComponent {
  FW_CLASS(TQuorvelAnimationManager, TComponent)

public:
  explicit TQuorvelAnimationManager(TComponent* AOwner);
  void BeforeDestruction() override;
  void Notification(TComponent* AComponent, TOperation Operation) override;

  // Current := nil; every animation freed.
  void Clear();
  // Registers AAnimation under AId unless the id is taken; the animation registered before
  // under it, nil when newly added.
  TQuorvelAnimation* AddAnimation(const std::string& AId, TQuorvelAnimation* AAnimation);
  // Restarts the current one of that id when stopped, else makes the named one current
  // (stopping the old) and starts it; nil for an unknown id.
  TQuorvelAnimation* PlayAnimation(const std::string& AId);
  // The current animation; the first one becomes current when none is; nil without any.
  TQuorvelAnimation* GetCurrent();
  const std::vector<std::pair<std::string, TQuorvelAnimation*>>& GetAnimations() const { return FAnimations; }
  int32_t AnimationCount() const { return int32_t(FAnimations.size()); }

private:
  TQuorvelAnimation* Find(const std::string& AId) const;

  // In insertion order: the order "first animation" refers to.
  std::vector<std::pair<std::string, TQuorvelAnimation*>> FAnimations;  // owned
  TQuorvelAnimation* FCurrent = nullptr;
};

}  // namespace quorvel
