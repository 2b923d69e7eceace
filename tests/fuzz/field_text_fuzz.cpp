// libFuzzer target for the short stream texts of points, vectors, quaternions, colours and planes
// ("(1,0.5,-2.25)"): whatever the text, reading never raises, crashes or hangs, and a value
// that was read writes a text that reads back to the same value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "lib/scene/ControlComponents.h"

using namespace quorvel;

namespace {

template <class T>
bool SameBits(const T& a, const T& b) {
  return std::memcmp(&a, &b, sizeof(T)) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  TPoint p{7, 8};
  ReadPointText(text, p);
  TPointF pf{1, 2};
  ReadPointFText(text, pf);
  TPoint3D p3{1, 2, 3};
  ReadPoint3DText(text, p3);
  TSize3D s3{1, 2, 3};
  ReadSize3DText(text, s3);
  TVector3D v{1, 2, 3, 4};
  ReadVector3DText(text, v);
  TQuaternion3D q{1, 2, 3, 4};
  ReadQuaternionText(text, q);
  TAlphaColorF c{0.1f, 0.2f, 0.3f, 0.4f};
  ReadAlphaColorFText(text, c);
  TPlaneF plane{1, 2, 3, 4};
  ReadPlaneFText(text, plane);

  // Written texts read back exactly (finite values only: NaN never equals itself).
  TPoint p2{};
  ReadPointText(PointFieldText(p), p2);
  if (!SameBits(p, p2)) std::abort();
  TSize3D s2{};
  ReadSize3DText(Size3DFieldText(s3), s2);
  if (!SameBits(s3, s2)) std::abort();
  if (std::isfinite(v.X) && std::isfinite(v.Y) && std::isfinite(v.Z) && std::isfinite(v.W)) {
    TVector3D back{};
    ReadVector3DText(Vector3DFieldText(v), back);
    if (back.X != v.X || back.Y != v.Y || back.Z != v.Z || back.W != v.W) std::abort();
  }
  if (std::isfinite(plane.NX) && std::isfinite(plane.NY) && std::isfinite(plane.NZ) && std::isfinite(plane.D)) {
    TPlaneF back{};
    ReadPlaneFText(PlaneFFieldText(plane), back);
    if (back.NX != plane.NX || back.NY != plane.NY || back.NZ != plane.NZ || back.D != plane.D) std::abort();
  }
  return 0;
}
