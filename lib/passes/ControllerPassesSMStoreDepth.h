#pragma once
// Depth seen from one light: the shadow map that materials read under a shadow slot.
// So far the class only: it registers and renders as its base does, without a material.
#include <string>

#include "lib/passes/ControllerPassesCustomDepth.h"

namespace quorvel {

class TQuorvelRenderPassSMStoreDepth : public TQuorvelRenderPassCustomDepth {
  FW_CLASS(TQuorvelRenderPassSMStoreDepth, TQuorvelRenderPassCustomDepth)

public:
  explicit TQuorvelRenderPassSMStoreDepth(TComponent* AOwner, const std::string& AId = "") : TQuorvelRenderPassCustomDepth(AOwner, AId) {}
};

}  // namespace quorvel
