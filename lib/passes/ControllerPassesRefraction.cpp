#include "lib/passes/ControllerPassesRefraction.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelRenderPassRefraction, "Quorvel.Controller.Passes.Refraction")
FW_CLASS_NO_MEMBERS(TQuorvelRenderPassRefraction)

}  // namespace quorvel
