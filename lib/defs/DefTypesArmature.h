#pragma once
// Unit Quorvel.DefTypes, skeletons, first slice: TArmatureDef (a node that owns the root joint
// and knows the controllers using it) and TControllerDef (binds a target mesh node to a skin,
// known to animation code by its position in the model's list).
#include <cstdint>
#include <string>
#include <string_view>

#include "framework/rtl/Containers.h"
#include "lib/defs/DefTypesTransform.h"

namespace quorvel {

class TControllerDef;

class TArmatureDef : public TTransformDef {
  QUORVEL_DEF_CLASS(TArmatureDef, TTransformDef)

public:
  using TControllerList = TObjectList<TControllerDef>;

  // Owner (normally the model) as given; Id "default"; an empty controller list.
  explicit TArmatureDef(TCustomDef* AModel = nullptr);
  ~TArmatureDef() override;

  // Owned; setting it does not free a previous root.
  TJointDef* GetRoot() const noexcept { return FRoot; }
  void SetRoot(TJointDef* AValue) { FRoot = AValue; }
  // Not owning: the model owns its controllers.
  TControllerList* GetControllers() const noexcept { return FControllers; }
  int32_t GetJointsCount() const noexcept { return FJointsCount; }
  void IncJointsCount() noexcept { ++FJointsCount; }

  // The root when its id is AId (exact), else the first joint below it with that id.
  TJointDef* FindJointById(std::string_view AId) const;
  // Appends unless the controller is in the list already.
  void AddController(TControllerDef* ACtrl);
  TControllerDef* FindControllerByTransform(const TTransformDef* ATransform) const;

private:
  TJointDef* FRoot = nullptr;
  TControllerList* FControllers;
  int32_t FJointsCount = 0;
};

class TControllerDef : public TCustomDef {
  QUORVEL_DEF_CLASS(TControllerDef, TCustomDef)

public:
  explicit TControllerDef(TTransformDef* ATarget = nullptr) : FTarget(ATarget) {}
  ~TControllerDef() override;

  // Position in the model's controller list (-1 outside one).
  int32_t GetIndex() const noexcept { return FIndex; }
  void SetIndex(int32_t AValue) noexcept { FIndex = AValue; }
  TTransformDef* GetTarget() const noexcept { return FTarget; }
  void SetTarget(TTransformDef* AValue) noexcept { FTarget = AValue; }
  // Owned.
  TSkinDef* GetSkin() const noexcept { return FSkin; }
  void SetSkin(TSkinDef* AValue) { FSkin = AValue; }

  // The base estimate plus the skin's.
  int64_t GetSize() const override;
  // The base pairs, "Target" (the target's id or ""), "Skin" (object or null).
  TJSONObject* ToJSON() const override;

private:
  int32_t FIndex = -1;
  TTransformDef* FTarget;  // not owned
  TSkinDef* FSkin = nullptr;
};

}  // namespace quorvel
