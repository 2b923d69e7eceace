#include "lib/passes/ControllerPassesCustomDepth.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelRenderPassCustomDepth, "Quorvel.Controller.Passes.CustomDepth")
FW_CLASS_NO_MEMBERS(TQuorvelRenderPassCustomDepth)

}  // namespace quorvel
