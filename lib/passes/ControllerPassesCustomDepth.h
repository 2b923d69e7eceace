#pragma once
// Depth of the render list into a single-channel texture; the base of the shadow-map passes.
// So far the class only: it registers and renders as its base does, without a material.
#include <string>

#include "lib/passes/Controller.h"

namespace quorvel {

class TQuorvelRenderPassCustomDepth : public TQuorvelRenderPassController {
  FW_CLASS(TQuorvelRenderPassCustomDepth, TQuorvelRenderPassController)

public:
  explicit TQuorvelRenderPassCustomDepth(TComponent* AOwner, const std::string& AId = "") : TQuorvelRenderPassController(AOwner, AId) {}

protected:
  TQuorvelRenderPassMaterialSource* CreateMaterialSource() override { return nullptr; }
};

}  // namespace quorvel
