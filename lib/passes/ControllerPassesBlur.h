#pragma once
// Blurs its input pass's output; the base of the emissive, global-illumination and shadow blurs.
// So far the class only: it registers and renders as its base does, without a material.
#include <string>

#include "lib/passes/Controller.h"

namespace quorvel {

class TQuorvelRenderPassBlur : public TQuorvelRenderPassController {
  FW_CLASS(TQuorvelRenderPassBlur, TQuorvelRenderPassController)

public:
  explicit TQuorvelRenderPassBlur(TComponent* AOwner, const std::string& AId = "") : TQuorvelRenderPassController(AOwner, AId) {}

protected:
  TQuorvelRenderPassMaterialSource* CreateMaterialSource() override { return nullptr; }
};

}  // namespace quorvel
