#pragma once
// The first two moments of depth seen from one light: the variance shadow map.
// So far the class only: it registers and renders as its base does, without a material.
#include <string>

#include "lib/passes/ControllerPassesCustomDepth.h"

namespace quorvel {

class TQuorvelRenderPassVSMStoreDepth : public TQuorvelRenderPassCustomDepth {
  FW_CLASS(TQuorvelRenderPassVSMStoreDepth, TQuorvelRenderPassCustomDepth)

public:
  explicit TQuorvelRenderPassVSMStoreDepth(TComponent* AOwner, const std::string& AId = "") : TQuorvelRenderPassCustomDepth(AOwner, AId) {}
};

}  // namespace quorvel
