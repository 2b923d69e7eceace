#include "lib/defs/DefTypesArmature.h"

#include <memory>

#include "framework/rtl/Finally.h"

namespace quorvel {

FW_CLASS_IMPL(TArmatureDef, "Quorvel.DefTypes")
FW_CLASS_NO_MEMBERS(TArmatureDef)
FW_CLASS_IMPL(TControllerDef, "Quorvel.DefTypes")
FW_CLASS_NO_MEMBERS(TControllerDef)

TArmatureDef::TArmatureDef(TCustomDef* AModel) : TTransformDef(AModel), FControllers(new TControllerList(false)) {
  SetId("default");
}

TArmatureDef::~TArmatureDef() {
  FreeQuietly(FRoot, "armature root joint");
  FreeQuietly(FControllers, "armature controller list");
}

TJointDef* TArmatureDef::FindJointById(std::string_view AId) const {
  if (!FRoot) return nullptr;
  if (FRoot->GetId() == AId) return FRoot;
  TJointDef* found = nullptr;
  FRoot->Traverse(true, [&](TTransformDef*, int32_t, TTransformDef* AChild) {
    if (auto* joint = dynamic_cast<TJointDef*>(AChild); joint && joint->GetId() == AId) found = joint;
    return found == nullptr;
  });
  return found;
}

void TArmatureDef::AddController(TControllerDef* ACtrl) {
  if (ACtrl && !FControllers->Contains(ACtrl)) FControllers->Add(ACtrl);
}

TControllerDef* TArmatureDef::FindControllerByTransform(const TTransformDef* ATransform) const {
  for (TControllerDef* ctrl : *FControllers)
    if (ctrl->GetTarget() == ATransform) return ctrl;
  return nullptr;
}

TControllerDef::~TControllerDef() {
  FTarget = nullptr;
  FreeQuietly(FSkin, "controller skin");
}

int64_t TControllerDef::GetSize() const { return TCustomDef::GetSize() + (FSkin ? FSkin->GetSize() : 0); }

TJSONObject* TControllerDef::ToJSON() const {
  std::unique_ptr<TJSONObject> obj(TCustomDef::ToJSON());
  obj->AddPair("Target", FTarget ? FTarget->GetId() : std::string());
  if (FSkin)
    obj->AddPair("Skin", FSkin->ToJSON());
  else
    obj->AddPair("Skin", new TJSONNull);
  return obj.release();
}

}  // namespace quorvel
