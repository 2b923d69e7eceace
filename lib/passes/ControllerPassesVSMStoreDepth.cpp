#include "lib/passes/ControllerPassesVSMStoreDepth.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelRenderPassVSMStoreDepth, "Quorvel.Controller.Passes.VSMStoreDepth")
FW_CLASS_NO_MEMBERS(TQuorvelRenderPassVSMStoreDepth)

}  // namespace quorvel
