#include "lib/utils/ContextFrustum.h"

#include <cmath>
#include <memory>
#include <numbers>
#include <string>

#include "framework/gui3d/VertexBuffer.h"
#include "framework/rtl/Exceptions.h"

#include "lib/utils/UtilsMath.h"

namespace quorvel {

namespace {

inline float PlaneSide(const TVector3D& p, const TPoint3D& v) { return p.X * v.X + p.Y * v.Y + p.Z * v.Z + p.W; }

struct TProjectionScalars {
  float FOV, Ratio, Near, Far;
};

TProjectionScalars ScalarsOf(const TMatrix3D& m) {
  TProjectionScalars s;
  s.FOV = std::atan(1 / m.m22) * 360 / std::numbers::pi_v<float>;
  s.Ratio = m.m22 / m.m11;
  s.Near = 2 * m.m43 / (2 * m.m33 - 2);
  s.Far = (m.m33 - 1) * s.Near / (m.m33 + 1);
  return s;
}

}  // namespace

TQuorvelFrustum::TQuorvelFrustum(const TMatrix3D& AProjMatrix, const TMatrix3D& AViewMatrix, const TPoint3D& ACamPos) {
  TPoint3D pos, dir, up, right;
  GetViewVectors(AViewMatrix, pos, dir, up, right);
  Calculate(AProjMatrix, ACamPos, dir, up, right);
}

TQuorvelFrustum::TQuorvelFrustum(float AFOV, float AAspectRatio, float ANearDist, float AFarDist,
                                 const TPoint3D& ACameraPos, const TPoint3D& ACameraDir, const TPoint3D& AUp,
                                 const TPoint3D& ARight) {
  Calculate(AFOV, AAspectRatio, ANearDist, AFarDist, ACameraPos, ACameraDir, AUp, ARight);
}

TQuorvelFrustum::TQuorvelFrustum(const TMatrix3D& AProjMatrix, const TPoint3D& ACameraPos,
                                 const TPoint3D& ACameraDir, const TPoint3D& AUp, const TPoint3D& ARight) {
  Calculate(AProjMatrix, ACameraPos, ACameraDir, AUp, ARight);
}

void TQuorvelFrustum::Calculate(float AFOV, float AAspectRatio, float ANearDist, float AFarDist,
                                const TPoint3D& ACameraPos, const TPoint3D& ACameraDir, const TPoint3D& AUp,
                                const TPoint3D& ARight) {
  FFOV = AFOV;
  FRatio = AAspectRatio;
  FNearD = ANearDist;
  FFarD = AFarDist;
  FPos = ACameraPos;
  FDir = ACameraDir;
  FUp = AUp;
  FRight = ARight;
  const float tanHalf = std::tan(FFOV * std::numbers::pi_v<float> / 180 * 0.5f);
  FNearH = FNearD * 2 * tanHalf;
  FNearW = FNearH * FRatio;
  FFarH = FFarD * 2 * tanHalf;
  FFarW = FFarH * FRatio;

  const TPoint3D nc = FPos + FDir * FNearD;
  const TPoint3D fc = FPos + FDir * FFarD;
  const TPoint3D nu = FUp * (FNearH / 2), nr = FRight * (FNearW / 2);
  const TPoint3D fu = FUp * (FFarH / 2), fr = FRight * (FFarW / 2);
  FCorners[0] = fc + fu - fr;
  FCorners[1] = fc + fu + fr;
  FCorners[2] = fc - fu - fr;
  FCorners[3] = fc - fu + fr;
  FCorners[4] = nc + nu - nr;
  FCorners[5] = nc + nu + nr;
  FCorners[6] = nc - nu - nr;
  FCorners[7] = nc - nu + nr;

  static constexpr int kPlaneCorners[6][3] = {{5, 4, 0}, {6, 7, 3}, {4, 6, 2}, {7, 5, 3}, {4, 5, 7}, {1, 0, 2}};
  for (int k = 0; k < 6; ++k) {
    const TPoint3D& p1 = FCorners[kPlaneCorners[k][0]];
    const TPoint3D& p2 = FCorners[kPlaneCorners[k][1]];
    const TPoint3D& p3 = FCorners[kPlaneCorners[k][2]];
    const TPoint3D n = (p2 - p1).CrossProduct(p3 - p1).Normalize();
    FPlanes[k] = {n.X, n.Y, n.Z, -p1.DotProduct(n)};
  }
}

void TQuorvelFrustum::Calculate(const TMatrix3D& AProjMatrix, const TPoint3D& ACameraPos,
                                const TPoint3D& ACameraDir, const TPoint3D& AUp, const TPoint3D& ARight) {
  const TProjectionScalars s = ScalarsOf(AProjMatrix);
  Calculate(s.FOV, s.Ratio, s.Near, s.Far, ACameraPos, ACameraDir, AUp, ARight);
}

void TQuorvelFrustum::Calculate(const TMatrix3D& AProjMatrix, const TMatrix3D& AViewMatrix) {
  TPoint3D pos, dir, up, right;
  GetViewVectors(AViewMatrix, pos, dir, up, right);
  const TProjectionScalars s = ScalarsOf(AProjMatrix);
  Calculate(s.FOV, s.Ratio, s.Near, s.Far, pos, dir, up, right);
}

void TQuorvelFrustum::NormalizePlane(TQuorvelFrustumType& AFrustum, int32_t ASide) {
  if (ASide < 0 || ASide > 5) return;
  TVector3D& p = AFrustum[ASide];
  const float len = std::sqrt(p.X * p.X + p.Y * p.Y + p.Z * p.Z);
  p = {p.X / len, p.Y / len, p.Z / len, p.W / len};
}

bool TQuorvelFrustum::IsPointInFrustum(const TPoint3D& APoint) const {
  for (const TVector3D& p : FPlanes)
    if (!(PlaneSide(p, APoint) > 0)) return false;
  return true;
}

bool TQuorvelFrustum::IsPointInFrustum(const TPoint3D& APoint, TVector3D& APlane) const {
  for (const TVector3D& p : FPlanes)
    if (!(PlaneSide(p, APoint) > 0)) {
      APlane = p;
      return false;
    }
  APlane = {0, 0, 0, 0};
  return true;
}

bool TQuorvelFrustum::IsAABBInFrustum(const TBoundingBox& b) const {
  const TPoint3D corners[8] = {{b.Left, b.Top, b.Near},     {b.Left, b.Top, b.Far},      {b.Left, b.Bottom, b.Near},
                               {b.Left, b.Bottom, b.Far},   {b.Right, b.Top, b.Near},    {b.Right, b.Top, b.Far},
                               {b.Right, b.Bottom, b.Near}, {b.Right, b.Bottom, b.Far}};
  for (const TVector3D& p : FPlanes) {
    int out = 0, in = 0;
    for (const TPoint3D& c : corners) {
      if (PlaneSide(p, c) <= 0)
        ++out;
      else
        ++in;
      // Straddling one plane is enough, whatever the later planes say.
      if (out > 0 && in > 0) return true;
    }
    if (in == 0) return false;
  }
  return true;
}

bool TQuorvelFrustum::IsSphereInFrustum(const TPoint3D& ACenter, float ARadius) const {
  for (const TVector3D& p : FPlanes)
    if (PlaneSide(p, ACenter) <= -ARadius) return false;
  return true;
}

bool TQuorvelFrustum::IsCubeInFrustum(const TPoint3D& c, float s) const {
  for (const TVector3D& p : FPlanes) {
    bool any = false;
    for (int k = 0; k < 8 && !any; ++k) {
      const TPoint3D v(c.X + ((k & 1) ? s : -s), c.Y + ((k & 2) ? s : -s), c.Z + ((k & 4) ? s : -s));
      any = PlaneSide(p, v) > 0;
    }
    if (!any) return false;
  }
  return true;
}

TBoundingBox TQuorvelFrustum::ToBoundingBox() const { return TBoundingBox::Create(FCorners); }

void TQuorvelFrustum::ToGeometry(TVertexBuffer*& AVertexBuffer, TIndexBuffer*& AIndexBuffer) const {
  static constexpr int32_t kVertexCorners[8] = {4, 5, 7, 6, 0, 1, 3, 2};
  static constexpr uint16_t kIndices[48] = {0, 1, 1, 2, 2, 3, 3, 0, 4, 5, 5, 6, 6, 7, 7, 4,
                                            1, 2, 2, 6, 6, 5, 5, 1, 0, 3, 3, 7, 7, 4, 4, 0,
                                            0, 1, 1, 5, 5, 4, 4, 0, 2, 3, 3, 7, 7, 6, 6, 2};
  // Checked before anything is created or written, so a bad buffer leaves both untouched.
  if (AVertexBuffer) {
    if (AVertexBuffer->Length() < 8)
      throw EArgumentException("TQuorvelFrustum.ToGeometry: the vertex buffer holds " +
                               std::to_string(AVertexBuffer->Length()) + " vertices, 8 needed");
    if (!AVertexBuffer->HasFormat(TVertexFormat::Vertex))
      throw EArgumentException("TQuorvelFrustum.ToGeometry: the vertex buffer holds no positions");
  }
  if (AIndexBuffer && AIndexBuffer->Length() < 48)
    throw EArgumentException("TQuorvelFrustum.ToGeometry: the index buffer holds " +
                             std::to_string(AIndexBuffer->Length()) + " indices, 48 needed");
  TOwned<TVertexBuffer> newVertices;
  TOwned<TIndexBuffer> newIndices;
  if (!AVertexBuffer) newVertices.reset(New<TVertexBuffer>(TVertexFormats{TVertexFormat::Vertex}, 8));
  if (!AIndexBuffer) newIndices.reset(New<TIndexBuffer>(48, TIndexFormat::UInt16));
  TVertexBuffer& vb = newVertices ? *newVertices : *AVertexBuffer;
  TIndexBuffer& ib = newIndices ? *newIndices : *AIndexBuffer;
  for (int32_t i = 0; i < 8; ++i) vb.SetVertices(i, FCorners[kVertexCorners[i]]);
  for (int32_t i = 0; i < 48; ++i) ib.SetIndices(i, kIndices[i]);
  if (newVertices) AVertexBuffer = newVertices.release();
  if (newIndices) AIndexBuffer = newIndices.release();
}

}  // namespace quorvel
