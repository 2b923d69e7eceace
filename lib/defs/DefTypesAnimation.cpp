#include "lib/defs/DefTypesAnimation.h"

namespace quorvel {

FW_CLASS_IMPL(TAnimationDef, "Quorvel.DefTypes")
FW_CLASS_NO_MEMBERS(TAnimationDef)

}  // namespace quorvel
