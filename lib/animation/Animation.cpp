#include "lib/animation/Animation.h"

#include <algorithm>

#include "framework/rtl/Units.h"
#include "lib/defs/DefTypesAnimation.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelAnimation, "Quorvel.Animation")
FW_CLASS_NO_MEMBERS(TQuorvelAnimation)
FW_CLASS_IMPL(TQuorvelAnimationManager, "Quorvel.Animation")
FW_CLASS_NO_MEMBERS(TQuorvelAnimationManager)

TQuorvelAnimation::TQuorvelAnimation(TComponent* AOwner) : TFwObject(AOwner) {}

TQuorvelAnimation* TQuorvelAnimation::CreateEx(TQuorvelAnimationManager* AManager) {
  auto* animation = New<TQuorvelAnimation>(AManager);
  animation->SetStored(false);
  return animation;
}

std::string TQuorvelAnimation::GetId() const { return FDef ? FDef->GetId() : std::string(); }

TMeshBufferObject* TQuorvelAnimation::GetCurrentCachedFrame(TMeshDef*) {
  if (!FRunning || GetComponentState().Contains(csDestroying) || !FDef) return nullptr;
  return nullptr;
}

TQuorvelAnimationManager::TQuorvelAnimationManager(TComponent* AOwner) : TComponent(AOwner) {}

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

TQuorvelAnimation* TQuorvelAnimationManager::AddAnimation(const std::string& AId, TQuorvelAnimation* AAnimation) {
  if (TQuorvelAnimation* existing = Find(AId)) return existing;
  FAnimations.emplace_back(AId, AAnimation);
  return nullptr;
}

TQuorvelAnimation* TQuorvelAnimationManager::PlayAnimation(const std::string& AId) {
  if (FCurrent && FCurrent->GetId() == AId && Find(AId) == FCurrent) {
    if (!FCurrent->GetRunning()) FCurrent->Start();
    return FCurrent;
  }
  TQuorvelAnimation* next = Find(AId);
  if (!next) return nullptr;
  if (FCurrent) FCurrent->Stop();
  FCurrent = next;
  FCurrent->Start();
  return FCurrent;
}

TQuorvelAnimation* TQuorvelAnimationManager::GetCurrent() {
  if (!FCurrent && !FAnimations.empty()) FCurrent = FAnimations.front().second;
  return FCurrent;
}

namespace {
void InitUnit() { RegisterClasses({TQuorvelAnimation::StaticClass(), TQuorvelAnimationManager::StaticClass()}); }
void FinUnit() { UnRegisterClasses({TQuorvelAnimation::StaticClass(), TQuorvelAnimationManager::StaticClass()}); }
const TUnitRegistration Unit{{"Quorvel.Animation", {}, &InitUnit, &FinUnit}};
}  // namespace

}  // namespace quorvel
