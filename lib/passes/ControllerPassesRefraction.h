#pragma once
// The scene from the viewing camera clipped at a surface plane, before the main pass.
// So far the class only: it registers and renders as its base does, without a material.
#include <string>

#include "lib/passes/Controller.h"

namespace quorvel {

class TQuorvelRenderPassRefraction : public TQuorvelRenderPassController {
  FW_CLASS(TQuorvelRenderPassRefraction, TQuorvelRenderPassController)

public:
  explicit TQuorvelRenderPassRefraction(TComponent* AOwner, const std::string& AId = "") : TQuorvelRenderPassController(AOwner, AId) {}

protected:
  TQuorvelRenderPassMaterialSource* CreateMaterialSource() override { return nullptr; }
};

}  // namespace quorvel
