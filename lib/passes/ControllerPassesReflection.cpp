#include "lib/passes/ControllerPassesReflection.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelRenderPassReflection, "Quorvel.Controller.Passes.Reflection")
FW_CLASS_NO_MEMBERS(TQuorvelRenderPassReflection)

}  // namespace quorvel
