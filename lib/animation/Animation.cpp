#include "lib/animation/Animation.h"

#include <algorithm>
#include <cmath>

#include "framework/gui/TimerService.h"
#include "framework/io/Path.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/SysUtils.h"
#include "framework/rtl/Units.h"
#include "lib/animation/KeyAnimation.h"
#include "lib/defs/DefTypesAnimation.h"
#include "lib/defs/DefTypesModel.h"
#include "lib/defs/DefTypesText.h"
#include "framework/classes/StoredProperties.h"
#include "lib/formats/Loader.h"
#include "lib/scene/Model.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelAnimation, "Quorvel.Animation")
void TQuorvelAnimation::Register(ClassBuilder<TQuorvelAnimation>& b) {
  b.Prop("UseTransform", [](const TQuorvelAnimation* a) { return a->UseTransform; },
         [](TQuorvelAnimation* a, bool v) { a->UseTransform = v; })
      .Prop("TransformMatrix", [](const TQuorvelAnimation* a) { return a->TransformMatrix; },
            [](TQuorvelAnimation* a, const TMatrix3D& v) { a->TransformMatrix = v; })
      .Prop("Source", &Self::GetSource, &Self::SetSource)
      .Prop("Manager", &Self::GetManager, &Self::SetManager);
  // The model that makes the animation gives it its manager; a form never holds it.
  SetPropertyNotStored(&b.Class(), "Manager");
}
FW_CLASS_IMPL(TQuorvelAnimationManager, "Quorvel.Animation")
void TQuorvelAnimationManager::Register(ClassBuilder<TQuorvelAnimationManager>& b) {
  b.Prop("CurrentAnimationName", &Self::GetCurrentAnimationName, &Self::SetCurrentAnimationName);
}

namespace {

// The control of AModel that a track animates, by definition or by name.
TQuorvelControl* TargetControl(TQuorvelModel* AModel, TCustomDef* AReference, bool AByDef) {
  TComponent* found = AByDef ? AModel->FindControlByDefDeepSearch(AReference)
                             : AModel->FindControlByDeepSearch(AReference->GetId());
  return dynamic_cast<TQuorvelControl*>(found);
}

template <class K>
void BuildKeyAnimation(TQuorvelAnimation* AOwner, TQuorvelControl* ATarget, TCustomInterpolatorDef* AInter) {
  auto* key = New<K>(AOwner);
  key->SetStored(false);
  if (!AInter->GetPath().empty()) key->PropertyName = AInter->GetPath();
  key->SetParent(ATarget);
  AOwner->GetSkeleton()->AddInterpolator(key);
  key->AddElement(ATarget, true);
  key->LoadFromInterpolatorDef(AInter);
}

double GForcedTick = 0;

}  // namespace

// ---- animation ----------------------------------------------------------------------------------

TQuorvelAnimation::TQuorvelAnimation(TComponent* AOwner) : TFwObject(AOwner) {
  SetStored(false);
  FSkeleton = New<TSkeletonKeyAnimation>(this);
  FSkeleton->SetStored(false);
  FSkeleton->FreeNotification(this);
}

void TQuorvelAnimation::BeforeDestruction() {
  if (FManager) FManager->RemoveFreeNotification(this);
  TFwObject::BeforeDestruction();
}

void TQuorvelAnimation::Notification(TComponent* AComponent, TOperation Operation) {
  TFwObject::Notification(AComponent, Operation);
  if (Operation != opRemove) return;
  if (AComponent == FSkeleton) FSkeleton = nullptr;
  if (AComponent == FManager) FManager = nullptr;
}

TQuorvelAnimation* TQuorvelAnimation::CreateEx(TQuorvelAnimationManager* AManager) {
  auto* animation = New<TQuorvelAnimation>(AManager);
  animation->FManager = AManager;
  if (AManager) AManager->FreeNotification(animation);
  return animation;
}

std::string TQuorvelAnimation::GetId() const { return FDef ? FDef->GetId() : std::string(); }

bool TQuorvelAnimation::GetRunning() const { return FSkeleton && FSkeleton->GetRunning(); }

bool TQuorvelAnimation::GetPaused() const { return FSkeleton && FSkeleton->Pause; }

void TQuorvelAnimation::SetManager(TQuorvelAnimationManager* Value) {
  if (Value == FManager) return;
  const std::string key = GetSource();
  if (FManager) {
    FManager->ExtractAnimation(this);
    FManager->RemoveFreeNotification(this);
  }
  FManager = Value;
  if (FManager) {
    FManager->FreeNotification(this);
    FManager->SetAnimation(key, this);
  }
}

void TQuorvelAnimation::LoadFromAnimationDef(TAnimationDef* ADef) {
  if (!ADef) return;
  FDef = ADef;
  SetName(GetUniqueComponentName(this, ADef->GetId()));
  if (!GetParent()) return;
  auto* model = GetParent()->As<TQuorvelModel>();
  for (TAnimationStageDef* stage : *ADef->GetStages()) {
    if (!stage || !stage->GetInterpolators()) continue;
    for (TCustomDef* def : *stage->GetInterpolators()) {
      auto* inter = dynamic_cast<TCustomInterpolatorDef*>(def);
      if (!inter) continue;
      TCustomDef* ref = stage->GetReference();
      if (dynamic_cast<TTransformationInterpolatorDef*>(inter)) {
        if (!ref) throw Exception(Format("transformation interpolator definition %s reference not set", {stage->GetId()}));
        TQuorvelControl* target = TargetControl(model, ref, true);
        if (!target) {
          Log::d("%s interpolator - target %s not found", GetName(), ref->GetId());
          continue;
        }
        BuildKeyAnimation<TTransformationKeyAnimation>(this, target, inter);
        continue;
      }
      const char* refText = nullptr;
      const char* targetText = nullptr;
      if (dynamic_cast<TPoint3DInterpolatorDef*>(inter)) {
        refText = "point3d interpolator definition %s reference not set";
        targetText = "position interpolator - target %s not found";
      } else if (dynamic_cast<TVector3DInterpolatorDef*>(inter)) {
        refText = "vector3D interpolator definition %s reference not set";
        targetText = "orientation interpolator - target %s not found";
      } else if (dynamic_cast<TQuaternion3DInterpolatorDef*>(inter)) {
        refText = "Quaternion3D interpolator definition %s reference not set";
        targetText = "orientation interpolator - target %s not found";
      } else if (dynamic_cast<TMeshInterpolatorDef*>(inter)) {
        refText = "mesh interpolator definition %s reference not set";
        targetText = "vertex interpolator - target %s not found";
      } else {
        continue;
      }
      if (!ref) throw Exception(Format(refText, {stage->GetId()}));
      TQuorvelControl* target = TargetControl(model, ref, false);
      if (!target) throw Exception(Format(targetText, {ref->GetId()}));
      if (dynamic_cast<TPoint3DInterpolatorDef*>(inter))
        BuildKeyAnimation<TPoint3DKeyAnimation>(this, target, inter);
      else if (dynamic_cast<TVector3DInterpolatorDef*>(inter))
        BuildKeyAnimation<TVector3DKeyAnimation>(this, target, inter);
      else if (dynamic_cast<TQuaternion3DInterpolatorDef*>(inter))
        BuildKeyAnimation<TQuaternion3DKeyAnimation>(this, target, inter);
      else
        BuildKeyAnimation<TCoordinateKeyAnimation>(this, target, inter);
    }
  }
  FDuration = ADef->GetDurationInSeconds();
  FFrameRate = 60;
  // The duration is a Single's: 0.1 s gives 7 frames, as the baked cache counts them.
  const double frames = FDuration * FFrameRate;
  FFrameCount = int32_t(frames) + (frames - std::trunc(frames) > 0 ? 1 : 0);
  if (FSkeleton) {
    FSkeleton->SetParent(model);
    FSkeleton->Duration = float(FDuration);
  }
}

void TQuorvelAnimation::SetSource(const std::string& AValue) {
  if (FDef) {
    Log::d("<WARNING> Existing TQuorvelAnimation \"%s\" cannot be replaced with \"%s\"", GetSource(), AValue);
    return;
  }
  auto* model = dynamic_cast<TQuorvelModel*>(GetParent());
  if (!model) {
    Log::d("<WARNING> Owner of TQuorvelAnimation \"%s\" not a TQuorvelModel", AValue);
    return;
  }
  TQuorvelAnimationManager* manager = model->GetAnimationManager();
  if (!manager) {
    Log::d("<WARNING> Missing AnimationManager in TQuorvelModel \"%s\"", AValue);
    return;
  }
  if (manager->GetAnimation(AValue)) {
    Log::d("<WARNING> Animation \"%s\" already exists in TQuorvelModel", AValue);
    return;
  }
  if (!FManager) {
    FManager = manager;
    FManager->FreeNotification(this);
  }
  FManager->SetAnimation(AValue, this);
  TModelDef* modelDef = model->GetModelDef();
  if (!modelDef) {
    Log::d("<WARNING> TQuorvelModel definition of animation \"%s\" not assigned", AValue);
    return;
  }
  const std::string path = TPath::IncludeTrailingPathDelimiter(TPath::GetDirectoryName(modelDef->GetFilename())) + AValue;
  try {
    LoadFromAnimationDef(TQuorvelLoader::LoadUndefinedAnimationDefFromFile(modelDef, path));
  } catch (const std::exception&) {
    Log::d("<ERROR> failed to auto-load TQuorvelAnimation \"%s\" from \"%s\"", AValue, path);
  }
}

void TQuorvelAnimation::Start() {
  if (FSkeleton) FSkeleton->SetEnabled(true);
  if (FManager) FManager->MakeCurrent(this);
}

void TQuorvelAnimation::Stop() {
  if (FSkeleton) FSkeleton->SetEnabled(false);
}

void TQuorvelAnimation::Reset() {
  if (FSkeleton) FSkeleton->Reset();
}

void TQuorvelAnimation::SetSpeed(float ASpeed) {
  if (FSkeleton) FSkeleton->SetSpeed(ASpeed);
}

void TQuorvelAnimation::SetFixedCacheFrame(int32_t AFrameNr) {
  FFixedCacheFrame = AFrameNr < 0 ? -1 : (AFrameNr >= FFrameCount ? 0 : AFrameNr);
}

int32_t TQuorvelAnimation::GetCurrentFrameIndex() const {
  if (FFixedCacheFrame >= 0) return FFixedCacheFrame;
  if (!FDef || !FSkeleton) return 0;
  // The cache's own frame count: a cache baked at another rate is indexed at its rate. Halves
  // round to even.
  return int32_t(std::nearbyint(double(FDef->GetFrameCount()) * double(FSkeleton->GetTransitionTime())));
}

TMeshBufferObject* TQuorvelAnimation::GetCurrentCachedFrame(TMeshDef* AMeshDef) {
  if (GetComponentState().Contains(csDestroying) || !AMeshDef || !GetRunning() || !FDef || !FSkeleton) return nullptr;
  return FDef->GetNextCacheFrame(AMeshDef, GetCurrentFrameIndex());
}

void TQuorvelAnimation::DoDuplicate(TComponent* ASource, TQuorvelDuplicator* ADuplicator) {
  auto* source = dynamic_cast<TQuorvelAnimation*>(ASource);
  if (FSkeleton && !FSkeleton->GetParent() && source && source->FSkeleton && source->FSkeleton->GetParent() &&
      ADuplicator) {
    const auto& map = ADuplicator->ObjectMap();
    if (auto it = map.find(source->FSkeleton->GetParent()); it != map.end())
      if (auto* parent = dynamic_cast<TFwObject*>(it->second)) FSkeleton->SetParent(parent);
  }
  // A copy without a manager takes the copy of its source's manager.
  if (!FManager && source && source->FManager && ADuplicator) {
    const auto& map = ADuplicator->ObjectMap();
    if (auto it = map.find(source->FManager); it != map.end())
      if (auto* manager = dynamic_cast<TQuorvelAnimationManager*>(it->second)) {
        FManager = manager;
        FManager->FreeNotification(this);
      }
  }
  if (!FManager) throw Exception("failed to duplicate animation - missing animation manager reference");
  for (const auto& entry : FManager->GetAnimations())
    if (entry.second == this) return;  // already listed (the model's duplication step)
  FManager->AddAnimation(GetId(), this);
}

// ---- manager ------------------------------------------------------------------------------------

TQuorvelAnimationManager::TQuorvelAnimationManager(TComponent* AOwner) : TComponent(AOwner) {
  if (AOwner && !dynamic_cast<TQuorvelMesh*>(AOwner)) throw EInvalidCast("Invalid class typecast");
}

void TQuorvelAnimationManager::BeforeDestruction() {
  Clear();
  TComponent::BeforeDestruction();
}

void TQuorvelAnimationManager::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation != opRemove) return;
  std::erase_if(FAnimations, [&](const auto& p) { return p.second == AComponent; });
  if (FCurrent == AComponent) FCurrent = nullptr;
}

void TQuorvelAnimationManager::Clear() {
  FCurrent = nullptr;
  auto animations = std::move(FAnimations);
  FAnimations.clear();
  for (auto& [id, animation] : animations) Free(animation);
}

TQuorvelAnimation* TQuorvelAnimationManager::Find(const std::string& AId) const {
  for (const auto& [id, animation] : FAnimations)
    if (id == AId) return animation;
  return nullptr;
}

int32_t TQuorvelAnimationManager::IndexOf(const TQuorvelAnimation* AAnimation) const {
  for (size_t i = 0; i < FAnimations.size(); ++i)
    if (FAnimations[i].second == AAnimation) return int32_t(i);
  return -1;
}

TQuorvelAnimation* TQuorvelAnimationManager::AddAnimation(const std::string& AId, TQuorvelAnimation* AAnimation) {
  if (TQuorvelAnimation* existing = Find(AId)) return existing;
  FAnimations.emplace_back(AId, AAnimation);
  if (AAnimation) AAnimation->FreeNotification(this);
  return nullptr;
}

void TQuorvelAnimationManager::SetAnimation(const std::string& AId, TQuorvelAnimation* AAnimation) {
  for (auto& [id, animation] : FAnimations)
    if (id == AId) {
      TQuorvelAnimation* old = animation;
      if (old == AAnimation) return;
      animation = AAnimation;
      if (AAnimation) AAnimation->FreeNotification(this);
      if (FCurrent == old) FCurrent = nullptr;
      Free(old);
      return;
    }
  AddAnimation(AId, AAnimation);
}

void TQuorvelAnimationManager::ExtractAnimation(TQuorvelAnimation* AAnimation) {
  std::erase_if(FAnimations, [&](const auto& p) { return p.second == AAnimation; });
  if (FCurrent == AAnimation) FCurrent = nullptr;
}

TQuorvelAnimation* TQuorvelAnimationManager::PlayAnimation(const std::string& AId) {
  if (FCurrent && FCurrent->GetId() == AId && Find(AId) == FCurrent) return PlayAnimation(FCurrent);
  TQuorvelAnimation* next = Find(AId);
  if (!next) return nullptr;
  return PlayAnimation(next);
}

TQuorvelAnimation* TQuorvelAnimationManager::PlayAnimation(TQuorvelAnimation* AAnim) {
  if (!AAnim) return nullptr;
  if (AAnim == FCurrent) {
    if (!FCurrent->GetRunning()) {
      FCurrent->Stop();
      FCurrent->Start();
    }
    return FCurrent;
  }
  SetCurrent(AAnim);
  AAnim->Start();
  return AAnim;
}

TQuorvelAnimation* TQuorvelAnimationManager::PlayNextAnimation() {
  if (!FCurrent) return PlayAnimation(GetFirstAnimation());
  const int32_t i = IndexOf(FCurrent);
  if (i < 0) return nullptr;
  return PlayAnimation(FAnimations[size_t(i + 1) % FAnimations.size()].second);
}

TQuorvelAnimation* TQuorvelAnimationManager::PlayPreviousAnimation() {
  if (!FCurrent) return PlayAnimation(GetFirstAnimation());
  const int32_t i = IndexOf(FCurrent);
  if (i < 0) return nullptr;
  return PlayAnimation(FAnimations[i == 0 ? FAnimations.size() - 1 : size_t(i - 1)].second);
}

TQuorvelAnimation* TQuorvelAnimationManager::GetCurrent() {
  if (!FCurrent) FCurrent = GetFirstAnimation();
  return FCurrent;
}

void TQuorvelAnimationManager::SetCurrent(TQuorvelAnimation* Value) {
  if (FCurrent && FCurrent != Value) FCurrent->Stop();
  FCurrent = Value;
}

std::string TQuorvelAnimationManager::GetCurrentAnimationName() const { return FCurrent ? FCurrent->GetId() : std::string(); }

TQuorvelAnimation* TQuorvelAnimationManager::GetFirstAnimation() const {
  return FAnimations.empty() ? nullptr : FAnimations.front().second;
}

TQuorvelAnimation* TQuorvelAnimationManager::GetLastAnimation() const {
  return FAnimations.empty() ? nullptr : FAnimations.back().second;
}

TQuorvelAnimation* TQuorvelAnimationManager::GetAnimation(const std::string& AId) const { return Find(AId); }

TQuorvelAnimation* TQuorvelAnimationManager::GetAnimation(const TAnimationDef* ADef) const {
  return ADef ? Find(ADef->GetId()) : nullptr;
}

bool TQuorvelAnimationManager::ForceStep(double AMinDeltaTime) {
  // Stepping must not make the thread: without one there is nothing to step.
  if (!TAniThread::Exists()) return true;
  IFwTimerService* service = TPlatformServices::Current().GetTimerService();
  if (!service) return true;
  const double tick = service->GetTick();
  if (AMinDeltaTime > std::fabs(tick - GForcedTick)) return false;
  TAniThread::Instance().ProcessStep(tick);
  GForcedTick = tick;
  return true;
}

void TQuorvelAnimationManager::ResetForcedStep() { GForcedTick = 0; }

namespace {
void InitAnimationUnit() {
  RegisterClasses({TQuorvelAnimation::StaticClass(), TPropertyKeyAnimation::StaticClass(),
                   TPoint3DKeyAnimation::StaticClass(), TVector3DKeyAnimation::StaticClass(),
                   TQuaternion3DKeyAnimation::StaticClass(), TCoordinateKeyAnimation::StaticClass(),
                   TSkeletonKeyAnimation::StaticClass(), TTransformationKeyAnimation::StaticClass(),
                   TPoint3DAnimation::StaticClass(), TQuorvelAnimationManager::StaticClass()});
}
void FinAnimationUnit() {
  UnRegisterClasses({TQuorvelAnimation::StaticClass(), TPropertyKeyAnimation::StaticClass(),
                     TPoint3DKeyAnimation::StaticClass(), TVector3DKeyAnimation::StaticClass(),
                     TQuaternion3DKeyAnimation::StaticClass(), TCoordinateKeyAnimation::StaticClass(),
                     TSkeletonKeyAnimation::StaticClass(), TTransformationKeyAnimation::StaticClass(),
                     TPoint3DAnimation::StaticClass(), TQuorvelAnimationManager::StaticClass()});
}
const TUnitRegistration AnimationUnit{{"Quorvel.Animation", {}, &InitAnimationUnit, &FinAnimationUnit}};
}  // namespace

}  // namespace quorvel
