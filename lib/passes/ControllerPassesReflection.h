#pragma once
// The scene as seen in a planar mirror, before the main pass.
// So far the class only: it registers and renders as its base does, without a material.
#include <string>

#include "lib/passes/Controller.h"

namespace quorvel {

class TQuorvelRenderPassReflection : public TQuorvelRenderPassController {
  FW_CLASS(TQuorvelRenderPassReflection, TQuorvelRenderPassController)

public:
  explicit TQuorvelRenderPassReflection(TComponent* AOwner, const std::string& AId = "") : TQuorvelRenderPassController(AOwner, AId) {}

protected:
  TQuorvelRenderPassMaterialSource* CreateMaterialSource() override { return nullptr; }
};

}  // namespace quorvel
