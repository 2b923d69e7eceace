// TMeshDef: normals, tangents, texture coordinates and polygons computed from the node's own
// vertex and index buffers.
#include <cfenv>
#include <cmath>
#include <cstring>
#include <numbers>
#include <unordered_map>
#include <vector>

#include "lib/defs/DefTypesMesh.h"

namespace quorvel {

namespace {

template <class F>
void ForEachChildMesh(const TMeshDef* AMesh, F&& AFunc) {
  TTransformDef::TChildList* children = AMesh->GetChildren();
  if (!children) return;
  for (int i = 0; i < children->Count(); ++i)
    if (auto* mesh = dynamic_cast<TMeshDef*>(children->Items(i))) AFunc(mesh);
}

struct TSmoothKeyHash {
  size_t operator()(const TMeshDefVertexSmoothNormalInfo& k) const noexcept {
    uint64_t h = uint32_t(k.VertexId);
    h = h * 0x9E3779B97F4A7C15ull ^ uint32_t(k.ScaledRoundedX);
    h = h * 0x9E3779B97F4A7C15ull ^ uint32_t(k.ScaledRoundedY);
    h = h * 0x9E3779B97F4A7C15ull ^ uint32_t(k.ScaledRoundedZ);
    return size_t(h ^ (h >> 29));
  }
};

// Half to even, as the run-time rounds; values beyond the integer range saturate.
int32_t RoundToGrid(float AValue) {
  const double r = std::nearbyint(double(AValue));
  if (!(r > -2147483648.0)) return std::numeric_limits<int32_t>::min();
  if (!(r < 2147483647.0)) return std::numeric_limits<int32_t>::max();
  return int32_t(r);
}

// Direct access to the components of an interleaved vertex buffer for the loops over every
// triangle (the checked accessors cost more than the arithmetic). A component the format
// lacks reads as zero and is not written, as through the accessors.
struct TRawVertices {
  explicit TRawVertices(TVertexBuffer* ABuffer)
      : Base(ABuffer->Buffer()),
        Stride(ABuffer->VertexSize()),
        Count(ABuffer->Length()),
        Pos(ABuffer->OffsetOf(TVertexFormat::Vertex)),
        Normal(ABuffer->OffsetOf(TVertexFormat::Normal)),
        Tex(ABuffer->OffsetOf(TVertexFormat::TexCoord0)),
        Tangent(ABuffer->OffsetOf(TVertexFormat::Tangent)),
        Binormal(ABuffer->OffsetOf(TVertexFormat::BiNormal)) {}

  TPoint3D Get(int32_t AOffset, uint32_t AIndex) const {
    TPoint3D p;
    if (AOffset >= 0) std::memcpy(&p, Base + size_t(AIndex) * size_t(Stride) + size_t(AOffset), 12);
    return p;
  }
  void Set(int32_t AOffset, uint32_t AIndex, const TPoint3D& AValue) const {
    if (AOffset >= 0) std::memcpy(Base + size_t(AIndex) * size_t(Stride) + size_t(AOffset), &AValue, 12);
  }
  TPointF GetTex(uint32_t AIndex) const {
    TPointF p;
    if (Tex >= 0) std::memcpy(&p, Base + size_t(AIndex) * size_t(Stride) + size_t(Tex), 8);
    return p;
  }

  uint8_t* Base;
  int32_t Stride, Count, Pos, Normal, Tex, Tangent, Binormal;
};

// The index buffer as 32-bit values, every one checked against the vertex count (an index
// outside raises the vertex buffer's range error before anything is read).
std::vector<uint32_t> CheckedIndices(const TIndexBuffer* AIndices, const TVertexBuffer* AVertices) {
  std::vector<uint32_t> result(size_t(AIndices->Length()));
  if (AIndices->Format() == TIndexFormat::UInt32) {
    if (!result.empty()) std::memcpy(result.data(), AIndices->Buffer(), result.size() * 4);
  } else {
    const auto* p = reinterpret_cast<const uint8_t*>(AIndices->Buffer());
    for (size_t i = 0; i < result.size(); ++i) {
      uint16_t v;
      std::memcpy(&v, p + 2 * i, 2);
      result[i] = v;
    }
  }
  const uint32_t count = uint32_t(AVertices->Length());
  for (uint32_t i : result)
    if (i >= count) AVertices->GetVertices(int32_t(i));  // raises the range error
  return result;
}

}  // namespace

TPoint3D TMeshDef::GetNormalVectorFromPoints(const TPoint3D& A, const TPoint3D& B, const TPoint3D& C) {
  return (B - A).CrossProduct(C - A).Normalize();
}

void TMeshDef::CalcFaceNormals(bool PropagateFaceNormalsToVertices, bool ASubMeshes) {
  if (ASubMeshes)
    ForEachChildMesh(this, [&](TMeshDef* c) { c->CalcFaceNormals(PropagateFaceNormalsToVertices, true); });
  TVertexBuffer* vb = GetVertexSource();
  const TIndexBuffer* ib = GetIndexSource();
  if (!vb || !ib) return;
  const int32_t count = ib->Length();
  const std::vector<uint32_t> idx = CheckedIndices(ib, vb);
  const TRawVertices raw(vb);
  FFaceNormals.assign(size_t(count / 3), TPoint3D());
  for (int32_t k = 0; k + 2 < count; k += 3) {
    const uint32_t i0 = idx[size_t(k)], i1 = idx[size_t(k) + 1], i2 = idx[size_t(k) + 2];
    const TPoint3D v0 = raw.Get(raw.Pos, i0), v1 = raw.Get(raw.Pos, i1), v2 = raw.Get(raw.Pos, i2);
    const TPoint3D n = (v1 - v0).CrossProduct(v1 - v2).Normalize();
    FFaceNormals[size_t(k / 3)] = n;
    if (PropagateFaceNormalsToVertices) {
      raw.Set(raw.Normal, i0, n);
      raw.Set(raw.Normal, i2, n);
      raw.Set(raw.Normal, i1, n);
    }
  }
}

void TMeshDef::CalcSmoothNormals(TMeshDefCalculateNormalMethod Method, float WeldEpsilon, bool ASubMeshes) {
  if (ASubMeshes) ForEachChildMesh(this, [&](TMeshDef* c) { c->CalcSmoothNormals(Method, WeldEpsilon, true); });
  TVertexBuffer* vb = GetVertexSource();
  const TIndexBuffer* ib = GetIndexSource();
  if (!vb || !ib) return;
  CalcFaceNormals(false, true);
  const int32_t vertexCount = vb->Length();
  const int32_t triangles = int32_t(FFaceNormals.size());
  auto corner = [ib](int32_t t, int c) { return int32_t(ib->GetIndices(3 * t + c)); };

  switch (Method) {
    case TMeshDefCalculateNormalMethod::cnmDefault: {
      // Corner positions once, not per vertex: the loop is vertices x corners.
      std::vector<TPoint3D> corners(size_t(triangles) * 3);
      for (int32_t t = 0; t < triangles; ++t)
        for (int c = 0; c < 3; ++c) corners[size_t(3 * t + c)] = vb->GetVertices(corner(t, c));
      for (int32_t v = 0; v < vertexCount; ++v) {
        const TPoint3D p = vb->GetVertices(v);
        TPoint3D sum;
        for (int32_t t = 0; t < triangles; ++t)
          for (int c = 0; c < 3; ++c)
            if (WeldEpsilon >= corners[size_t(3 * t + c)].Distance(p)) sum += FFaceNormals[size_t(t)];
        vb->SetNormals(v, sum.Normalize());
      }
      break;
    }
    case TMeshDefCalculateNormalMethod::cnmFastest: {
      // The face normals above checked every index against the vertices.
      const std::vector<uint32_t> idx = CheckedIndices(ib, vb);
      const TRawVertices raw(vb);
      std::vector<TPoint3D> sums(static_cast<size_t>(vertexCount), TPoint3D());
      for (size_t t = 0; t < size_t(triangles); ++t) {
        const TPoint3D f = FFaceNormals[t];
        sums[idx[3 * t]] += f;
        sums[idx[3 * t + 1]] += f;
        sums[idx[3 * t + 2]] += f;
      }
      for (int32_t v = 0; v < vertexCount; ++v) raw.Set(raw.Normal, uint32_t(v), sums[size_t(v)].Normalize());
      break;
    }
    case TMeshDefCalculateNormalMethod::cnmSlowest: {
      const float scale = WeldEpsilon > 0 ? 1.0f / WeldEpsilon : 10000.0f;
      std::vector<TPoint3D> sums(static_cast<size_t>(vertexCount), TPoint3D());
      std::vector<std::pair<TMeshDefVertexSmoothNormalInfo, TPoint3D>> entries;
      std::unordered_map<TMeshDefVertexSmoothNormalInfo, size_t, TSmoothKeyHash> index;
      const int savedRounding = std::fegetround();
      std::fesetround(FE_TONEAREST);
      for (int32_t t = 0; t < triangles; ++t) {
        const TPoint3D f = FFaceNormals[size_t(t)];
        const int32_t rx = RoundToGrid(f.X * scale), ry = RoundToGrid(f.Y * scale), rz = RoundToGrid(f.Z * scale);
        for (int c = 0; c < 3; ++c) {
          const int32_t i = corner(t, c);
          if (i < 0 || i >= vertexCount) {
            std::fesetround(savedRounding);
            vb->GetVertices(i);
          }
          const TMeshDefVertexSmoothNormalInfo key{i, rx, ry, rz};
          auto [it, added] = index.try_emplace(key, entries.size());
          if (added)
            entries.emplace_back(key, f);
          else
            entries[it->second].second += f;
        }
      }
      std::fesetround(savedRounding);
      for (const auto& [key, sum] : entries) sums[size_t(key.VertexId)] += sum.Normalize();
      for (int32_t v = 0; v < vertexCount; ++v) vb->SetNormals(v, sums[size_t(v)].Normalize());
      break;
    }
  }
}

void TMeshDef::CalcTangentBinormals(TVertexBuffer* AVertexBuffer, const TIndexBuffer* AIndexBuffer) {
  if (!AVertexBuffer || !AIndexBuffer) return;
  if (!AVertexBuffer->HasFormat(TVertexFormat::Normal) || !AVertexBuffer->HasFormat(TVertexFormat::Tangent) ||
      !AVertexBuffer->HasFormat(TVertexFormat::BiNormal))
    return;
  const size_t triangles = size_t(AIndexBuffer->Length() / 3);
  const std::vector<uint32_t> idx = CheckedIndices(AIndexBuffer, AVertexBuffer);
  const TRawVertices raw(AVertexBuffer);
  for (size_t t = 0; t < triangles; ++t) {
    const uint32_t i0 = idx[3 * t], i1 = idx[3 * t + 1], i2 = idx[3 * t + 2];
    const TPoint3D p0 = raw.Get(raw.Pos, i0), p1 = raw.Get(raw.Pos, i1), p2 = raw.Get(raw.Pos, i2);
    // Without TexCoord0 the reader answers (0, 0): degenerate, so both vectors are zero.
    const TPointF t0 = raw.GetTex(i0), t1 = raw.GetTex(i1), t2 = raw.GetTex(i2);
    const TPoint3D e1 = p1 - p0, e2 = p2 - p0;
    const float du1 = t1.X - t0.X, dv1 = t1.Y - t0.Y, du2 = t2.X - t0.X, dv2 = t2.Y - t0.Y;
    const float det = float(double(du1) * dv2 - double(dv1) * du2);
    const float r = det == 0 ? 0.0f : 1.0f / det;
    const TPoint3D tangent = (e1 * dv2 - e2 * dv1) * r;
    const TPoint3D binormal = (e2 * du1 - e1 * du2) * r;
    for (uint32_t i : {i0, i1, i2}) {
      raw.Set(raw.Tangent, i, tangent);
      raw.Set(raw.Binormal, i, binormal);
    }
  }
}

void TMeshDef::CalcTangentBinormals(bool ASubMeshes) {
  if (ASubMeshes) ForEachChildMesh(this, [](TMeshDef* c) { c->CalcTangentBinormals(true); });
  CalcTangentBinormals(GetVertexSource(), GetIndexSource());
}

void TMeshDef::CalcTextureCoordinates(TVertexBuffer* AVertexBuffer, const TBoundingBox& ABoundingBox,
                                      int32_t AStartIdx, int32_t AStopIdx) {
  if (!AVertexBuffer || AStopIdx < AStartIdx) return;
  const TPoint3D c = ABoundingBox.CenterPoint();
  for (int32_t i = AStartIdx; i <= AStopIdx; ++i) {
    const TPoint3D n = (AVertexBuffer->GetVertices(i) - c).Normalize();
    const double u = std::asin(double(n.X)) / std::numbers::pi + 0.5;
    const double v = std::asin(double(n.Y)) / std::numbers::pi + 0.5;
    AVertexBuffer->SetTexCoord0(i, TPointF(float(u), float(v)));
  }
}

void TMeshDef::CalcTextureCoordinates(int32_t AStartIdx, int32_t AStopIdx) {
  if (TVertexBuffer* vb = GetVertexSource()) CalcTextureCoordinates(vb, GetBoundingBox(), AStartIdx, AStopIdx);
}

void TMeshDef::CalcTextureCoordinates() {
  if (TVertexBuffer* vb = GetVertexSource()) CalcTextureCoordinates(0, vb->Length() - 1);
}

void TMeshDef::AddPolygon(const T3DPolygon& APoly, const TPolygon& ATexCoords, const T3DPolygon& ANormals) {
  const size_t n = APoly.size();
  if (n < 3) throw Exception("invalid polygon length - at least 3 vertices needed");
  if (!ATexCoords.empty() && ATexCoords.size() != n)
    throw Exception(
        "invalid polygon texture coordinates length - number of texture coordinates not equal to number of vertices");
  if (!ANormals.empty() && ANormals.size() != n)
    throw Exception("invalid polygon normals length - number of normals not equal to number of vertices");
  const int64_t added = 3 * (int64_t(n) - 2);
  if (!FVertexSource) CreateVertexSource(FVertexFormat);
  if (!FIndexSource) CreateIndexSource(FIndexFormat);
  TVertexBuffer* vb = FVertexSource.get();
  TIndexBuffer* ib = FIndexSource.get();
  // Checked before either buffer grows: a failure leaves the mesh as it was. 16-bit indices
  // reach vertex 65,535 at most.
  const int64_t vertexLimit = ib->Format() == TIndexFormat::UInt16 ? int64_t(0xFFFF) + 1 : std::numeric_limits<int32_t>::max();
  if (int64_t(vb->Length()) + added > vertexLimit || int64_t(ib->Length()) + added > std::numeric_limits<int32_t>::max())
    throw Exception("invalid polygon length - mesh buffers would exceed their limit");
  int32_t b = vb->Length(), j = ib->Length();
  const int32_t first = b;
  vb->SetLength(b + int32_t(added));
  ib->SetLength(j + int32_t(added));
  for (size_t p = 1; p + 1 < n; ++p) {
    const size_t corners[3] = {0, p, p + 1};
    for (int c = 0; c < 3; ++c) {
      vb->SetVertices(b + c, APoly[corners[c]]);
      if (!ATexCoords.empty()) vb->SetTexCoord0(b + c, ATexCoords[corners[c]]);
      if (!ANormals.empty()) vb->SetNormals(b + c, ANormals[corners[c]]);
      ib->SetIndices(j + c, uint32_t(b + c));
    }
    if (ANormals.empty()) {
      const TPoint3D normal = GetNormalVectorFromPoints(APoly[0], APoly[p], APoly[p + 1]);
      for (int c = 0; c < 3; ++c) vb->SetNormals(b + c, normal);
    }
    b += 3;
    j += 3;
  }
  // The cached box must see the new vertices before it centres the mapping.
  FBoundingBoxUpdateNeeded = true;
  if (ATexCoords.empty()) CalcTextureCoordinates(first, vb->Length() - 1);
}

void TMeshDef::AddPolygon(const TPolygon& APoly, const TPolygon& ATexCoords, const T3DPolygon& ANormals) {
  T3DPolygon poly;
  poly.reserve(APoly.size());
  for (const TPointF& p : APoly) poly.emplace_back(p.X, p.Y, 0.0f);
  AddPolygon(poly, ATexCoords, ANormals);
}

void TMeshDef::AddPolygon(const TPolygon& APoly) {
  if (APoly.size() < 3) throw Exception("invalid polygon length - at least 3 vertices needed");
  AddPolygon(APoly, TPolygon(), T3DPolygon());
}

void TMeshDef::AddPolygon(const T3DPolygon& APoly) {
  if (APoly.size() < 3) throw Exception("invalid polygon length - at least 3 vertices needed");
  AddPolygon(APoly, TPolygon(), T3DPolygon());
}

}  // namespace quorvel
