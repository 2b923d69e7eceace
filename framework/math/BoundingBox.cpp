#include "framework/math/BoundingBox.h"

#include <algorithm>
#include <cmath>

namespace quorvel {

TBoundingBox TBoundingBox::Create(std::span<const TPoint3D> APoints) {
  if (APoints.empty()) return {};
  TPoint3D lo = APoints[0], hi = APoints[0];
  for (const TPoint3D& p : APoints.subspan(1)) {
    lo = {std::min(lo.X, p.X), std::min(lo.Y, p.Y), std::min(lo.Z, p.Z)};
    hi = {std::max(hi.X, p.X), std::max(hi.Y, p.Y), std::max(hi.Z, p.Z)};
  }
  return {lo, hi};
}

bool TBoundingBox::IsEmpty(float AEpsilon) const {
  auto flat = [AEpsilon](float lo, float hi) { return lo > hi || std::fabs(hi - lo) <= AEpsilon; };
  return flat(Left, Right) || flat(Top, Bottom) || flat(Near, Far);
}

TBoundingBox TBoundingBox::Normalize() const {
  return {std::min(Left, Right), std::min(Top, Bottom), std::min(Near, Far),
          std::max(Left, Right), std::max(Top, Bottom), std::max(Near, Far)};
}

TBoundingBox TBoundingBox::Union(const TBoundingBox& b) const {
  return {std::min(Left, b.Left),   std::min(Top, b.Top),       std::min(Near, b.Near),
          std::max(Right, b.Right), std::max(Bottom, b.Bottom), std::max(Far, b.Far)};
}

TBoundingBox TBoundingBox::FitInto(const TBoundingBox& ADest, float& ARatio) const {
  // The largest ratio of extents decides; a flat axis of this box never limits the fit.
  float ratio = 0;
  auto consider = [&ratio](float src, float dst) {
    if (src > 0 && dst > 0) ratio = std::max(ratio, src / dst);
  };
  consider(Width(), ADest.Width());
  consider(Height(), ADest.Height());
  consider(Depth(), ADest.Depth());
  if (ratio <= 0) ratio = 1;
  ARatio = ratio;
  const TPoint3D half = TPoint3D(Width(), Height(), Depth()) / (2 * ratio);
  const TPoint3D c = ADest.CenterPoint();
  return {c - half, c + half};
}

}  // namespace quorvel
