#include "lib/passes/ControllerPassesBlur.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelRenderPassBlur, "Quorvel.Controller.Passes.Blur")
FW_CLASS_NO_MEMBERS(TQuorvelRenderPassBlur)

}  // namespace quorvel
