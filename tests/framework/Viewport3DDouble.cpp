#include "tests/framework/Viewport3DDouble.h"

namespace quorvel::testing3d {

FW_CLASS_IMPL(TC3dViewport, "Quorvel.Test.Controls3D")
FW_CLASS_NO_MEMBERS(TC3dViewport)

}  // namespace quorvel::testing3d
