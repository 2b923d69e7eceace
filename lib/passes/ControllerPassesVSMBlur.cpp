#include "lib/passes/ControllerPassesVSMBlur.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelRenderPassVSMBlur, "Quorvel.Controller.Passes.VSMBlur")
FW_CLASS_NO_MEMBERS(TQuorvelRenderPassVSMBlur)

}  // namespace quorvel
