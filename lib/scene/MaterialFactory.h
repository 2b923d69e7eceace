#pragma once
// Material sources made from material definitions when a model is built: one source per
// definition within a model, of the preset kind the definition asks for.
#include "lib/defs/DefTypesMaterial.h"

namespace quorvel {

class TMaterialSource;
class TModelDef;
class TQuorvelControl;

class TQuorvelMaterial {
public:
  TQuorvelMaterial() = delete;

  // The source for a mesh's material reference: one already made for the same definition
  // under AOwner (under its model when AOwner is a mesh of a model), else a new one. Null
  // when AModel or ADef is null or the model has no material of the reference's id.
  static TMaterialSource* CreateMaterial(TQuorvelControl* AOwner, TModelDef* AModel, TMaterialRefDef* ADef);
  // A new source owned by AOwner and parented to it, not stored; null for a null ADef.
  static TMaterialSource* CreateMaterial(TQuorvelControl* AOwner, TMaterialDef* ADef);
};

}  // namespace quorvel
