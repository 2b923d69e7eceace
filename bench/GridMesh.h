#pragma once
// A generated mesh definition with 1M vertices (a 1000 x 1000 grid, default vertex layout with
// colours, 32-bit indices, 6M of them), shared by the benchmarks of stored forms.
#include <vector>

#include "lib/defs/DefTypes.h"

namespace quorvel {

inline constexpr int GridSide = 1000;

inline TMeshDef* MakeGridMesh() {
  auto* mesh = New<TMeshDef>();
  mesh->SetId("grid");
  mesh->CreateVertexSource(VertexFormatsFromMask(DefaultMeshVertexFormatMask));
  TVertexBuffer* vb = mesh->GetVertexSource();
  vb->SetLength(GridSide * GridSide);
  for (int y = 0; y < GridSide; ++y)
    for (int x = 0; x < GridSide; ++x) {
      const int i = y * GridSide + x;
      const float fx = x * 0.013f, fy = y * 0.017f;
      vb->SetVertices(i, {fx, fy, 0.25f * fx * fy});
      vb->SetNormals(i, TPoint3D(-0.25f * fy, -0.25f * fx, 1).Normalize());
      vb->SetTexCoord(0, i, {x / float(GridSide), y / float(GridSide)});
      vb->SetBiNormals(i, {0, 1, 0.25f * fx});
      vb->SetTangents(i, {1, 0, 0.25f * fy});
      // 8-bit channels: the stored form keeps colours as 32-bit values.
      vb->SetColor(0, i, MakeAlphaColor(uint8_t(x), uint8_t(y), 128, 255));
    }
  std::vector<uint32_t> idx;
  idx.reserve(size_t(GridSide - 1) * (GridSide - 1) * 6);
  for (uint32_t y = 0; y + 1 < GridSide; ++y)
    for (uint32_t x = 0; x + 1 < GridSide; ++x) {
      const uint32_t a = y * GridSide + x, b = a + 1, c = a + GridSide, d = c + 1;
      idx.insert(idx.end(), {a, b, d, a, d, c});
    }
  mesh->AddIndices(idx, 0, int32_t(idx.size()), 0);
  return mesh;
}

}  // namespace quorvel
