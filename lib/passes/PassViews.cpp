#include "lib/passes/PassViews.h"

#include <cmath>

#include "lib/utils/ContextFrustum.h"

namespace quorvel {

TPoint3D PassViewCeiling(const TPoint3D& ADirection, const TPoint3D& ACeiling) {
  const TPoint3D d = ADirection.Normalize(), up = ACeiling.Normalize();
  if (std::fabs(d.DotProduct(up)) <= 0.999f) return ACeiling;
  const TPoint3D other{0, 0, 1};
  // A view along (0, 0, 1) whose up was that already turns to the usual one.
  return std::fabs(d.DotProduct(other)) <= 0.999f ? other : kPassViewCeiling;
}

TMatrix3D PassLookAtDirRH(const TPoint3D& AEye, const TPoint3D& ADirection, const TPoint3D& ACeiling) {
  return TMatrix3D::CreateLookAtDirRH(AEye, ADirection, PassViewCeiling(ADirection, ACeiling));
}

TMatrix3D PassLookAtRH(const TPoint3D& AEye, const TPoint3D& ATarget, const TPoint3D& ACeiling) {
  return PassLookAtDirRH(AEye, ATarget - AEye, ACeiling);
}

namespace {

TLightView ViewFrom(const TLightDescription& ALight, const TPoint3D& AEye) {
  TLightView view;
  view.Eye = AEye;
  if (ALight.LightType == TLightType::Directional || ALight.LightType == TLightType::Spot) {
    view.Direction = ALight.Direction.Normalize();
    view.Matrix = PassLookAtDirRH(AEye, view.Direction);
  } else {
    // At the origin itself there is no way towards it: such a light looks along -Z.
    view.Direction = AEye.LengthSquared() > 0 ? (-AEye).Normalize() : TPoint3D(0, 0, -1);
    view.Matrix = AEye.LengthSquared() > 0 ? PassLookAtRH(AEye, TPoint3D(0, 0, 0)) : PassLookAtDirRH(AEye, view.Direction);
  }
  return view;
}

}  // namespace

TLightView LightView(const TLightDescription& ALight, const TQuorvelFrustum* AFrustum) {
  TLightView view = ViewFrom(ALight, ALight.Position);
  if (!AFrustum) return view;
  TVector3D plane;
  if (AFrustum->IsPointInFrustum(view.Eye, plane)) return view;
  const TPoint3D normal{plane.X, plane.Y, plane.Z};
  TPoint3D hit;
  if (!RayCastPlaneIntersect(view.Eye, view.Direction, normal * -plane.W, normal, hit)) return view;
  // A point light keeps looking at the origin from its new place.
  return ViewFrom(ALight, hit);
}

}  // namespace quorvel
