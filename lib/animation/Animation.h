#pragma once
// Unit Quorvel.Animation: the animation component (a named animation of a model: a skeleton
// clock with one key animation per track of its definition, the frame count of its baked
// frames and the baked frame of the moment) and the model's animation manager (a dictionary
// id -> animation that frees what it removes, the current animation, play, next, previous).
#include <map>
#include <string>
#include <vector>

#include "framework/classes/FwObject.h"
#include "framework/math/Matrix3D.h"
#include "lib/scene/ControlComponents.h"
#include "lib/scene/Duplication.h"

namespace quorvel {

class TAnimationDef;
class TMeshDef;
class TMeshBufferObject;
class TQuorvelAnimationManager;
class TSkeletonKeyAnimation;

class TQuorvelAnimation : public TFwObject, public IDuplicatable {
  FW_CLASS(TQuorvelAnimation, TFwObject)

public:
  explicit TQuorvelAnimation(TComponent* AOwner);
  void BeforeDestruction() override;

  // The component routines, asked from the animation.
  TFwObject* FindViewport() { return quorvel::FindViewport(this); }
  TFwObject* FindTopOwner() { return quorvel::FindTopOwner(this); }
  TFwObject* FindComponentUpwards(const TClass* AClass) { return quorvel::FindComponentUpwards(this, AClass); }
  TFwObject* FindComponentUpwards(const std::string& AQualifiedName) {
    return quorvel::FindComponentUpwards(this, AQualifiedName);
  }
  void Notification(TComponent* AComponent, TOperation Operation) override;
  // Owned by the manager and its Manager, not stored.
  static TQuorvelAnimation* CreateEx(TQuorvelAnimationManager* AManager);

  // The definition's id; empty without one.
  std::string GetId() const;
  TAnimationDef* GetDef() const { return FDef; }
  // The definition a copy shares with its source (the duplicator's step).
  void SetDef(TAnimationDef* Value) { FDef = Value; }
  TQuorvelAnimationManager* GetManager() const { return FManager; }
  // Moves the animation's entry (under its source key) from the old manager to the new one.
  void SetManager(TQuorvelAnimationManager* Value);
  TSkeletonKeyAnimation* GetSkeleton() const { return FSkeleton; }
  double GetDuration() const { return FDuration; }
  int32_t GetFrameCount() const { return FFrameCount; }
  int32_t GetFrameRate() const { return FFrameRate; }
  bool GetRunning() const;
  bool GetPaused() const;
  bool UseTransform = false;
  TMatrix3D TransformMatrix = TMatrix3D::Identity();
  std::string GetSource() const { return GetId(); }
  // Registers the animation under AValue with its model's manager and loads the animation file
  // AValue beside the model's file; never raises, every problem is logged.
  void SetSource(const std::string& AValue);

  // Builds one key animation per track of ADef against the parent model's controls.
  virtual void LoadFromAnimationDef(TAnimationDef* ADef);
  // Enables the skeleton and becomes the manager's current animation (the previous one keeps
  // running); without manager only the skeleton starts.
  virtual void Start();
  virtual void Stop();
  virtual void Reset();
  void SetSpeed(float ASpeed);
  // A frame not below FrameCount becomes 0; a negative one means unset.
  void SetFixedCacheFrame(int32_t AFrameNr);
  void UnsetFixedCacheFrame() { FFixedCacheFrame = -1; }
  int32_t GetFixedCacheFrame() const { return FFixedCacheFrame; }
  // The baked frame index of the moment (the fixed one when set).
  int32_t GetCurrentFrameIndex() const;
  // The baked buffer of AMeshDef at the current frame; nil while not running or being
  // destroyed, and without a definition, a skeleton or a ready cache.
  virtual TMeshBufferObject* GetCurrentCachedFrame(TMeshDef* AMeshDef);
  void DoDuplicate(TComponent* ASource, TQuorvelDuplicator* ADuplicator) override;

private:
  TAnimationDef* FDef = nullptr;  // the model definition's
  TQuorvelAnimationManager* FManager = nullptr;
  TSkeletonKeyAnimation* FSkeleton = nullptr;  // owned component
  double FDuration = 0;
  int32_t FFrameCount = 0;
  int32_t FFrameRate = 60;
  int32_t FFixedCacheFrame = -1;
};

class TQuorvelAnimationManager : public TComponent, public IDuplicatable {
  FW_CLASS(TQuorvelAnimationManager, TComponent)

public:
  // AOwner must be a mesh or nil (else EInvalidCast).
  explicit TQuorvelAnimationManager(TComponent* AOwner);

  // The component routines, asked from the manager.
  TComponent* FindComponentDeepSearch(const std::string& AName) { return quorvel::FindComponentDeepSearch(this, AName); }
  TComponent* FindComponentDeepSearchByClass(const TClass* AClass) {
    return quorvel::FindComponentDeepSearchByClass(this, AClass);
  }
  TComponent* FindComponentDeepSearchByFilter(const TComponentSearchFunc& ACallback) {
    return quorvel::FindComponentDeepSearchByFilter(this, ACallback);
  }
  void FindAllComponentsByClass(const TClass* AClass, std::vector<TComponent*>& AReturn) {
    quorvel::FindAllComponentsByClass(this, AClass, AReturn);
  }
  std::string LogComponentHierarchy(const std::string& AIndent) { return quorvel::LogComponentHierarchy(this, AIndent); }
  void ReadPointField(TPoint& AField, TReader* Reader) { quorvel::ReadPointField(this, AField, Reader); }
  void WritePointField(const TPoint& AField, TWriter* Writer) { quorvel::WritePointField(this, AField, Writer); }
  void ReadPointFField(TPointF& AField, TReader* Reader) { quorvel::ReadPointFField(this, AField, Reader); }
  void WritePointFField(const TPointF& AField, TWriter* Writer) { quorvel::WritePointFField(this, AField, Writer); }
  void ReadPoint3DField(TPoint3D& AField, TReader* Reader) { quorvel::ReadPoint3DField(this, AField, Reader); }
  void WritePoint3DField(const TPoint3D& AField, TWriter* Writer) { quorvel::WritePoint3DField(this, AField, Writer); }
  void ReadSize3DField(TSize3D& AField, TReader* Reader) { quorvel::ReadSize3DField(this, AField, Reader); }
  void WriteSize3DField(const TSize3D& AField, TWriter* Writer) { quorvel::WriteSize3DField(this, AField, Writer); }
  void ReadVector3DField(TVector3D& AField, TReader* Reader) { quorvel::ReadVector3DField(this, AField, Reader); }
  void WriteVector3DField(const TVector3D& AField, TWriter* Writer) { quorvel::WriteVector3DField(this, AField, Writer); }
  void ReadQuaternionField(TQuaternion3D& AField, TReader* Reader) { quorvel::ReadQuaternionField(this, AField, Reader); }
  void WriteQuaternionField(const TQuaternion3D& AField, TWriter* Writer) { quorvel::WriteQuaternionField(this, AField, Writer); }
  void ReadAlphaColorFField(TAlphaColorF& AField, TReader* Reader) { quorvel::ReadAlphaColorFField(this, AField, Reader); }
  void WriteAlphaColorFField(const TAlphaColorF& AField, TWriter* Writer) { quorvel::WriteAlphaColorFField(this, AField, Writer); }
  void ReadPlaneFField(TPlaneF& AField, TReader* Reader) { quorvel::ReadPlaneFField(this, AField, Reader); }
  void WritePlaneFField(const TPlaneF& AField, TWriter* Writer) { quorvel::WritePlaneFField(this, AField, Writer); }
  void EnableDesigning() { quorvel::EnableDesigning(this); }
  void DisableDesigning() { quorvel::DisableDesigning(this); }
  void BeforeDestruction() override;
  void Notification(TComponent* AComponent, TOperation Operation) override;

  TComponent* GetMesh() const { return Owner(); }
  // Current := nil; every animation freed.
  virtual void Clear();
  // Registers AAnimation under AId unless the id is taken; the animation registered before
  // under it, nil when newly added.
  TQuorvelAnimation* AddAnimation(const std::string& AId, TQuorvelAnimation* AAnimation);
  // Registers under AId, freeing an animation registered there before (unless it is this one).
  void SetAnimation(const std::string& AId, TQuorvelAnimation* AAnimation);
  // Takes AAnimation out without freeing it.
  void ExtractAnimation(TQuorvelAnimation* AAnimation);
  // Restarts the current one of that id when stopped, else makes the named one current
  // (stopping the old) and starts it; nil for an unknown id.
  TQuorvelAnimation* PlayAnimation(const std::string& AId);
  TQuorvelAnimation* PlayAnimation(TQuorvelAnimation* AAnim);
  // After the current one, wrapping to the first; nil when the current one is not registered.
  TQuorvelAnimation* PlayNextAnimation();
  TQuorvelAnimation* PlayPreviousAnimation();
  // The current animation; the first one becomes current when none is; nil without any.
  TQuorvelAnimation* GetCurrent();
  // A previous current animation other than Value is stopped.
  void SetCurrent(TQuorvelAnimation* Value);
  // Becomes current without stopping the previous one.
  void MakeCurrent(TQuorvelAnimation* Value) { FCurrent = Value; }
  std::string GetCurrentAnimationName() const;
  void SetCurrentAnimationName(const std::string& Value) { PlayAnimation(Value); }
  TQuorvelAnimation* GetFirstAnimation() const;
  TQuorvelAnimation* GetLastAnimation() const;
  TQuorvelAnimation* GetAnimation(const std::string& AId) const;
  TQuorvelAnimation* GetAnimation(const TAnimationDef* ADef) const;
  const std::vector<std::pair<std::string, TQuorvelAnimation*>>& GetAnimations() const { return FAnimations; }
  int32_t AnimationCount() const { return int32_t(FAnimations.size()); }
  void DoDuplicate(TComponent*, TQuorvelDuplicator*) override {}

  // One step of the animation thread on the timer service's tick, unless the last forced step
  // lies less than AMinDeltaTime seconds back (then false).
  static bool ForceStep(double AMinDeltaTime);
  // The tick of the last forced step back to 0 (tests).
  static void ResetForcedStep();

private:
  TQuorvelAnimation* Find(const std::string& AId) const;
  int32_t IndexOf(const TQuorvelAnimation* AAnimation) const;

  // In insertion order: the order "first", "next" and "previous" refer to.
  std::vector<std::pair<std::string, TQuorvelAnimation*>> FAnimations;  // owned
  TQuorvelAnimation* FCurrent = nullptr;
};

}  // namespace quorvel
