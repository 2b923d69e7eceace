#pragma once
// The scene around a point into the six faces of a cube map, one face per iteration.
// So far the class only: it registers and renders as its base does, without a material.
#include <string>

#include "lib/passes/Controller.h"

namespace quorvel {

class TQuorvelRenderPassEnvironment : public TQuorvelRenderPassController {
  FW_CLASS(TQuorvelRenderPassEnvironment, TQuorvelRenderPassController)

public:
  explicit TQuorvelRenderPassEnvironment(TComponent* AOwner, const std::string& AId = "") : TQuorvelRenderPassController(AOwner, AId) {}

protected:
  TQuorvelRenderPassMaterialSource* CreateMaterialSource() override { return nullptr; }
};

}  // namespace quorvel
