#include "framework/gui3d/MeshData.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <unordered_map>

#include "framework/gui3d/Context3D.h"

namespace quorvel {

FW_CLASS_IMPL(TMeshData, "Fw.Controls3D")
FW_CLASS_NO_MEMBERS(TMeshData)

namespace {

bool IsFinite(const TPoint3D& p) { return std::isfinite(p.X) && std::isfinite(p.Y) && std::isfinite(p.Z); }

// Raw access to one TPoint3D component of every vertex; the format's offset is checked once.
class TPointColumn {
public:
  TPointColumn(TVertexBuffer& ABuffer, TVertexFormat AFormat)
      : FData(ABuffer.Buffer()), FStride(size_t(ABuffer.VertexSize())), FOffset(ABuffer.OffsetOf(AFormat)) {}
  bool Exists() const { return FOffset >= 0; }
  void Set(uint32_t AIndex, const TPoint3D& AValue) const {
    std::memcpy(FData + AIndex * FStride + size_t(FOffset), &AValue, sizeof AValue);
  }

private:
  uint8_t* FData;
  size_t FStride;
  int32_t FOffset;
};

TPoint3D ReadPoint(const uint8_t* AData, size_t AStride, int32_t AOffset, uint32_t AIndex) {
  TPoint3D p;
  std::memcpy(&p, AData + AIndex * AStride + size_t(AOffset), sizeof p);
  return p;
}

[[noreturn]] void RaiseIndexValue(uint32_t AValue, int32_t ALength) {
  throw EArgumentOutOfRangeException("Argument out of range: index value " + std::to_string(AValue) +
                                     " outside 0.." + std::to_string(int64_t(ALength) - 1));
}

// Index values, checked against the vertex count as they are read.
class TIndexReader {
public:
  TIndexReader(const TIndexBuffer& ABuffer, int32_t AVertexCount)
      : FData(ABuffer.Buffer()), FWide(ABuffer.Format() == TIndexFormat::UInt32), FVertexCount(AVertexCount) {}
  uint32_t operator[](int32_t AIndex) const {
    uint32_t v;
    if (FWide) {
      std::memcpy(&v, FData + size_t(AIndex) * 4, 4);
    } else {
      uint16_t s;
      std::memcpy(&s, FData + size_t(AIndex) * 2, 2);
      v = s;
    }
    if (v >= uint32_t(FVertexCount)) RaiseIndexValue(v, FVertexCount);
    return v;
  }

private:
  const uint8_t* FData;
  bool FWide;
  int32_t FVertexCount;
};

TPoint3D FaceNormal(const TPoint3D& v0, const TPoint3D& v1, const TPoint3D& v2) {
  return (v1 - v0).CrossProduct(v1 - v2).Normalize();
}

struct TCellKey {
  int64_t X, Y, Z;
  friend bool operator==(const TCellKey&, const TCellKey&) = default;
};

struct TCellHash {
  size_t operator()(const TCellKey& k) const {
    uint64_t h = uint64_t(k.X) * 0x9E3779B97F4A7C15ull;
    h ^= uint64_t(k.Y) + 0x7F4A7C159E3779B9ull + (h << 6) + (h >> 2);
    h ^= uint64_t(k.Z) + 0x94D049BB133111EBull + (h << 6) + (h >> 2);
    return size_t(h);
  }
};

int64_t CellOf(double v, double cell) {
  constexpr double kLimit = 4.0e18;
  return int64_t(std::clamp(std::floor(v / cell), -kLimit, kLimit));
}

// Round half to even into the Integer range; NaN reads as 0.
int32_t RoundedScaled(float v, double scale) {
  const double x = std::nearbyint(double(v) * scale);
  if (std::isnan(x)) return 0;
  return int32_t(std::clamp(x, double(std::numeric_limits<int32_t>::min()), double(std::numeric_limits<int32_t>::max())));
}

// Corner indices grouped by a key id (0..AKeyCount-1), each group in corner order.
struct TGroups {
  std::vector<uint32_t> Start;   // AKeyCount + 1 offsets into Items
  std::vector<uint32_t> Items;
};

TGroups GroupBy(const std::vector<uint32_t>& AKeyOf, size_t AKeyCount) {
  TGroups g;
  g.Start.assign(AKeyCount + 1, 0);
  for (uint32_t k : AKeyOf)
    if (k != UINT32_MAX) ++g.Start[k + 1];
  for (size_t i = 0; i < AKeyCount; ++i) g.Start[i + 1] += g.Start[i];
  g.Items.resize(g.Start[AKeyCount]);
  std::vector<uint32_t> fill(g.Start.begin(), g.Start.end() - 1);
  for (size_t c = 0; c < AKeyOf.size(); ++c)
    if (AKeyOf[c] != UINT32_MAX) g.Items[fill[AKeyOf[c]]++] = uint32_t(c);
  return g;
}

// Default method: every corner within AEpsilon of a vertex adds its face normal. Corners are
// bucketed on a grid of cells eight times the distance wide: the ball around a vertex touches
// at most two cells per axis, mostly one (any cell size serves epsilon 0).
void SumWelded(const std::vector<TPoint3D>& APos, const std::vector<uint32_t>& ATri,
               const std::vector<TPoint3D>& AFaces, float AEpsilon, std::vector<TPoint3D>& ASums) {
  const double cell = AEpsilon > 0 ? 8.0 * double(AEpsilon) : 1.0;
  const double reach = AEpsilon > 0 ? double(AEpsilon) : 0.0;
  // Cells per vertex (a corner lies where its vertex does), then corners grouped by cell.
  std::unordered_map<TCellKey, uint32_t, TCellHash> cells;
  cells.reserve(APos.size());
  std::vector<uint32_t> vertexCell(APos.size(), UINT32_MAX);
  for (size_t v = 0; v < APos.size(); ++v) {
    const TPoint3D& p = APos[v];
    if (!IsFinite(p)) continue;
    const TCellKey key{CellOf(p.X, cell), CellOf(p.Y, cell), CellOf(p.Z, cell)};
    vertexCell[v] = cells.try_emplace(key, uint32_t(cells.size())).first->second;
  }
  std::vector<uint32_t> cellOf(ATri.size());
  for (size_t c = 0; c < ATri.size(); ++c) cellOf[c] = vertexCell[ATri[c]];
  const TGroups groups = GroupBy(cellOf, cells.size());
  for (size_t v = 0; v < APos.size(); ++v) {
    const TPoint3D& p = APos[v];
    if (!IsFinite(p)) continue;
    const auto range = [&](float x) {
      return std::pair(CellOf(double(x) - reach, cell), CellOf(double(x) + reach, cell));
    };
    const auto [x0, x1] = range(p.X);
    const auto [y0, y1] = range(p.Y);
    const auto [z0, z1] = range(p.Z);
    TPoint3D sum;
    for (int64_t x = x0; x <= x1; ++x)
      for (int64_t y = y0; y <= y1; ++y)
        for (int64_t z = z0; z <= z1; ++z) {
          const auto it = cells.find({x, y, z});
          if (it == cells.end()) continue;
          for (uint32_t i = groups.Start[it->second]; i < groups.Start[it->second + 1]; ++i) {
            const uint32_t c = groups.Items[i];
            if (AEpsilon >= APos[ATri[c]].Distance(p)) sum += AFaces[c / 3];
          }
        }
    ASums[v] = sum;
  }
}

// Slowest method: per vertex, the face directions rounded to the grid count once each (the
// normalised sum of the faces sharing a direction), in order of first appearance.
void SumDirectionsOnce(const std::vector<uint32_t>& ATri, const std::vector<TPoint3D>& AFaces, float AEpsilon,
                       std::vector<TPoint3D>& ASums) {
  const double scale = AEpsilon > 0 ? 1.0 / double(AEpsilon) : 10000.0;
  const TGroups groups = GroupBy(ATri, ASums.size());
  struct TEntry {
    int32_t X, Y, Z;
    TPoint3D Sum;
  };
  std::vector<TEntry> entries;
  // Vertices with many corners (fan centres) look their directions up in a map instead.
  constexpr uint32_t kScanLimit = 32;
  std::unordered_map<TCellKey, size_t, TCellHash> lookup;
  for (size_t v = 0; v < ASums.size(); ++v) {
    entries.clear();
    const bool many = groups.Start[v + 1] - groups.Start[v] > kScanLimit;
    if (many) lookup.clear();
    for (uint32_t i = groups.Start[v]; i < groups.Start[v + 1]; ++i) {
      const TPoint3D& f = AFaces[groups.Items[i] / 3];
      const int32_t x = RoundedScaled(f.X, scale), y = RoundedScaled(f.Y, scale), z = RoundedScaled(f.Z, scale);
      size_t found = entries.size();
      if (many) {
        found = lookup.try_emplace({x, y, z}, entries.size()).first->second;
      } else {
        for (size_t e = 0; e < entries.size(); ++e)
          if (entries[e].X == x && entries[e].Y == y && entries[e].Z == z) {
            found = e;
            break;
          }
      }
      if (found == entries.size())
        entries.push_back({x, y, z, f});
      else
        entries[found].Sum += f;
    }
    TPoint3D sum;
    for (const TEntry& e : entries) sum += e.Sum.Normalize();
    ASums[v] = sum;
  }
}

}  // namespace

TMeshData::TMeshData()
    : FVertexBuffer(New<TVertexBuffer>(
          TVertexFormats{TVertexFormat::Vertex, TVertexFormat::Normal, TVertexFormat::TexCoord0})),
      FIndexBuffer(New<TIndexBuffer>(0, TIndexFormat::UInt32)) {}

void TMeshData::SetVertexBuffer(const TVertexBuffer* Value) {
  if (Value)
    FVertexBuffer->Assign(*Value);
  else
    FVertexBuffer->SetLength(0);
  BoundingBoxNeedsUpdate();
}

void TMeshData::SetIndexBuffer(const TIndexBuffer* Value) {
  if (Value)
    FIndexBuffer->Assign(*Value);
  else
    FIndexBuffer->SetLength(0);
}

void TMeshData::Clear() {
  FVertexBuffer->SetLength(0);
  FIndexBuffer->SetLength(0);
  FFaceNormals.clear();
  BoundingBoxNeedsUpdate();
}

void TMeshData::Assign(TPersistent* Source) {
  if (auto* source = dynamic_cast<TMeshData*>(Source)) {
    if (source == this) return;
    FVertexBuffer->Assign(*source->FVertexBuffer);
    FIndexBuffer->Assign(*source->FIndexBuffer);
    FFaceNormals = source->FFaceNormals;
    BoundingBoxNeedsUpdate();
    return;
  }
  TPersistent::Assign(Source);
}

TVertexBuffer* TMeshData::ExchangeVertexBuffer(TVertexBuffer* AValue) {
  TVertexBuffer* old = FVertexBuffer.release();
  FVertexBuffer.reset(AValue);
  BoundingBoxNeedsUpdate();
  return old;
}

void TMeshData::Render(TContext3D* AContext, TMaterial* AMaterial, float AOpacity) const {
  if (!AContext || FVertexBuffer->Length() == 0 || FIndexBuffer->Length() < 3) return;
  AContext->DrawTriangles(FVertexBuffer.get(), FIndexBuffer.get(), AMaterial, AOpacity);
}

std::vector<TPoint3D> TMeshData::ReadPositions() const {
  const int32_t n = FVertexBuffer->Length();
  std::vector<TPoint3D> result(static_cast<size_t>(n));
  const int32_t offset = FVertexBuffer->OffsetOf(TVertexFormat::Vertex);
  if (offset < 0) return result;
  const uint8_t* data = FVertexBuffer->Buffer();
  const size_t stride = size_t(FVertexBuffer->VertexSize());
  for (int32_t i = 0; i < n; ++i) result[size_t(i)] = ReadPoint(data, stride, offset, uint32_t(i));
  return result;
}

std::vector<uint32_t> TMeshData::ReadTriangles() const {
  const int32_t count = FIndexBuffer->Length() / 3 * 3;
  const TIndexReader indices(*FIndexBuffer, FVertexBuffer->Length());
  std::vector<uint32_t> result(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) result[size_t(i)] = indices[i];
  return result;
}

TBoundingBox TMeshData::GetBoundingBox() const {
  if (FBoundingBoxValid) return FBoundingBox;
  bool any = false;
  TPoint3D lo, hi;
  for (const TPoint3D& p : ReadPositions()) {
    if (!IsFinite(p)) continue;
    if (!any) {
      lo = hi = p;
      any = true;
      continue;
    }
    lo = {std::min(lo.X, p.X), std::min(lo.Y, p.Y), std::min(lo.Z, p.Z)};
    hi = {std::max(hi.X, p.X), std::max(hi.Y, p.Y), std::max(hi.Z, p.Z)};
  }
  FBoundingBox = any ? TBoundingBox(lo, hi) : TBoundingBox::Empty();
  FBoundingBoxValid = true;
  return FBoundingBox;
}

void TMeshData::CalcFaceNormals(bool APropagateToVertices) {
  const std::vector<TPoint3D> pos = ReadPositions();
  const std::vector<uint32_t> tri = ReadTriangles();
  FFaceNormals.resize(tri.size() / 3);
  const TPointColumn normals(*FVertexBuffer, TVertexFormat::Normal);
  for (size_t t = 0; t < FFaceNormals.size(); ++t) {
    const uint32_t i0 = tri[3 * t], i1 = tri[3 * t + 1], i2 = tri[3 * t + 2];
    const TPoint3D n = FaceNormal(pos[i0], pos[i1], pos[i2]);
    FFaceNormals[t] = n;
    if (APropagateToVertices && normals.Exists()) {
      normals.Set(i0, n);
      normals.Set(i2, n);
      normals.Set(i1, n);
    }
  }
}

void TMeshData::CalcSmoothNormals(TCalculateNormalMethod AMethod, float AWeldEpsilon) {
  CalcFaceNormals(false);
  const TPointColumn normals(*FVertexBuffer, TVertexFormat::Normal);
  if (!normals.Exists()) return;
  const std::vector<TPoint3D> pos = ReadPositions();
  const std::vector<uint32_t> tri = ReadTriangles();
  std::vector<TPoint3D> sums(pos.size());

  switch (AMethod) {
    case TCalculateNormalMethod::Default:
      SumWelded(pos, tri, FFaceNormals, AWeldEpsilon, sums);
      break;
    case TCalculateNormalMethod::Fastest:
      for (size_t c = 0; c < tri.size(); ++c) sums[tri[c]] += FFaceNormals[c / 3];
      break;
    case TCalculateNormalMethod::Slowest:
      SumDirectionsOnce(tri, FFaceNormals, AWeldEpsilon, sums);
      break;
  }
  for (size_t v = 0; v < sums.size(); ++v) normals.Set(uint32_t(v), sums[v].Normalize());
}

void TMeshData::CalcTangentBinormals() {
  TVertexBuffer& vb = *FVertexBuffer;
  if (!vb.HasFormat(TVertexFormat::Normal) || !vb.HasFormat(TVertexFormat::Tangent) ||
      !vb.HasFormat(TVertexFormat::BiNormal))
    return;
  const std::vector<TPoint3D> pos = ReadPositions();
  const std::vector<uint32_t> tri = ReadTriangles();
  const TPointColumn tangents(vb, TVertexFormat::Tangent);
  const TPointColumn binormals(vb, TVertexFormat::BiNormal);
  const bool hasUV = vb.HasFormat(TVertexFormat::TexCoord0);
  for (size_t t = 0; t + 2 < tri.size(); t += 3) {
    const uint32_t i0 = tri[t], i1 = tri[t + 1], i2 = tri[t + 2];
    const TPoint3D e1 = pos[i1] - pos[i0];
    const TPoint3D e2 = pos[i2] - pos[i0];
    TPointF uv0, uv1, uv2;
    if (hasUV) {
      uv0 = vb.GetTexCoord0(int32_t(i0));
      uv1 = vb.GetTexCoord0(int32_t(i1));
      uv2 = vb.GetTexCoord0(int32_t(i2));
    }
    const float du1 = uv1.X - uv0.X, dv1 = uv1.Y - uv0.Y;
    const float du2 = uv2.X - uv0.X, dv2 = uv2.Y - uv0.Y;
    const float det = static_cast<float>(double(du1) * dv2 - double(dv1) * du2);
    const float r = det == 0 ? 0.0f : 1.0f / det;
    const TPoint3D tangent = (e1 * dv2 - e2 * dv1) * r;
    const TPoint3D binormal = (e2 * du1 - e1 * du2) * r;
    for (uint32_t i : {i0, i1, i2}) {
      tangents.Set(i, tangent);
      binormals.Set(i, binormal);
    }
  }
}

bool TMeshData::RayCastIntersect(const TPoint3D& RayPos, const TPoint3D& RayDir, TPoint3D& Intersection) const {
  if (RayDir.LengthSquared() == 0 || FIndexBuffer->Length() < 3) return false;
  // Bounding box first: most rays of a pick miss most meshes.
  const TBoundingBox box = GetBoundingBox();
  {
    const float pos[3] = {RayPos.X, RayPos.Y, RayPos.Z}, dir[3] = {RayDir.X, RayDir.Y, RayDir.Z};
    const float lo[3] = {box.Left, box.Top, box.Near}, hi[3] = {box.Right, box.Bottom, box.Far};
    const float slack = 1e-4f * std::max({1.0f, std::fabs(box.Width()), std::fabs(box.Height()), std::fabs(box.Depth())});
    float tNear = -std::numeric_limits<float>::infinity(), tFar = std::numeric_limits<float>::infinity();
    for (int a = 0; a < 3; ++a) {
      const float l = lo[a] - slack, h = hi[a] + slack;
      if (dir[a] == 0) {
        if (pos[a] < l || pos[a] > h) return false;
        continue;
      }
      float t1 = (l - pos[a]) / dir[a], t2 = (h - pos[a]) / dir[a];
      if (t1 > t2) std::swap(t1, t2);
      tNear = std::max(tNear, t1);
      tFar = std::min(tFar, t2);
      if (!(tNear <= tFar) || tFar < 0) return false;
    }
  }
  const int32_t offset = FVertexBuffer->OffsetOf(TVertexFormat::Vertex);
  if (offset < 0) return false;
  const uint8_t* data = FVertexBuffer->Buffer();
  const size_t stride = size_t(FVertexBuffer->VertexSize());
  const TIndexReader indices(*FIndexBuffer, FVertexBuffer->Length());
  const int32_t count = FIndexBuffer->Length() / 3 * 3;
  float best = std::numeric_limits<float>::infinity();
  for (int32_t t = 0; t < count; t += 3) {
    // Moller-Trumbore, both sides.
    const TPoint3D v0 = ReadPoint(data, stride, offset, indices[t]);
    const TPoint3D e1 = ReadPoint(data, stride, offset, indices[t + 1]) - v0;
    const TPoint3D e2 = ReadPoint(data, stride, offset, indices[t + 2]) - v0;
    const TPoint3D p = RayDir.CrossProduct(e2);
    const float det = e1.DotProduct(p);
    if (det == 0 || !std::isfinite(det)) continue;
    const float inv = 1.0f / det;
    const TPoint3D s = RayPos - v0;
    const float u = s.DotProduct(p) * inv;
    if (u < 0 || u > 1) continue;
    const TPoint3D q = s.CrossProduct(e1);
    const float v = RayDir.DotProduct(q) * inv;
    if (v < 0 || u + v > 1) continue;
    const float dist = e2.DotProduct(q) * inv;
    if (dist >= 0 && dist < best) best = dist;
  }
  if (!(best < std::numeric_limits<float>::infinity())) return false;
  Intersection = RayPos + RayDir * best;
  return true;
}

}  // namespace quorvel
