#include "lib/animation/DefTypesCache.h"

namespace quorvel {

FW_CLASS_IMPL(TAnimationCaching, "Quorvel.DefTypes.Cache")
FW_CLASS_NO_MEMBERS(TAnimationCaching)

TAnimationCaching::TAnimationCaching(TModelDef* ADef, TAnimationCachingFlags AFlags, TComponent* AModel)
    : TComponent(nullptr), FDef(ADef), FFlags(AFlags), FModel(AModel) {}

}  // namespace quorvel
