#include "lib/passes/ControllerPassesEnvironment.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelRenderPassEnvironment, "Quorvel.Controller.Passes.Environment")
FW_CLASS_NO_MEMBERS(TQuorvelRenderPassEnvironment)

}  // namespace quorvel
