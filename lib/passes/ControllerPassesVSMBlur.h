#pragma once
// Blurs a variance shadow map; materials take the texture matrix from its input pass.
// So far the class only: it registers and renders as its base does, without a material.
#include <string>

#include "lib/passes/ControllerPassesCustomBlur.h"

namespace quorvel {

class TQuorvelRenderPassVSMBlur : public TQuorvelRenderPassBlur {
  FW_CLASS(TQuorvelRenderPassVSMBlur, TQuorvelRenderPassBlur)

public:
  explicit TQuorvelRenderPassVSMBlur(TComponent* AOwner, const std::string& AId = "") : TQuorvelRenderPassBlur(AOwner, AId) {}
};

}  // namespace quorvel
