#include "lib/passes/ControllerPassesSMStoreDepth.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelRenderPassSMStoreDepth, "Quorvel.Controller.Passes.SMStoreDepth")
FW_CLASS_NO_MEMBERS(TQuorvelRenderPassSMStoreDepth)

}  // namespace quorvel
