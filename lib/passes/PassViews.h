#pragma once
// The views passes draw from: a look-at that never degenerates, and the view of a light.
#include "framework/gui3d/Light.h"
#include "framework/math/Matrix3D.h"

namespace quorvel {

class TQuorvelFrustum;

// The up the passes' views use.
inline constexpr TPoint3D kPassViewCeiling{0, -1, 0};

// ACeiling, or (0, 0, 1) when ADirection lies within 0.999 of it (either way): the cross
// product of a view straight along its up is zero and the view would be NaN.
TPoint3D PassViewCeiling(const TPoint3D& ADirection, const TPoint3D& ACeiling);
// Right-handed views looking along ADirection, or at ATarget, with PassViewCeiling's up.
TMatrix3D PassLookAtDirRH(const TPoint3D& AEye, const TPoint3D& ADirection, const TPoint3D& ACeiling = kPassViewCeiling);
TMatrix3D PassLookAtRH(const TPoint3D& AEye, const TPoint3D& ATarget, const TPoint3D& ACeiling = kPassViewCeiling);

// Where a light looks from and where to: directional and spot lights along their Direction,
// point lights (and any other kind) towards the world origin. With AFrustum, a light outside
// it is moved along that direction onto the first plane it fails (kept where it is when the
// ray misses that plane).
struct TLightView {
  TPoint3D Eye;
  TPoint3D Direction;
  TMatrix3D Matrix;
};
TLightView LightView(const TLightDescription& ALight, const TQuorvelFrustum* AFrustum);

}  // namespace quorvel
