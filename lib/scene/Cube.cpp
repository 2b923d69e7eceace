#include "lib/scene/Cube.h"

#include "framework/rtl/Units.h"
#include "lib/defs/DefTypesMesh.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelCube, "Quorvel.Cube")
void TQuorvelCube::Register(ClassBuilder<TQuorvelCube>& b) {
  b.Prop("SubdivisionsWidth", &Self::GetSubdivisionsWidth, &Self::SetSubdivisionsWidth)
      .Prop("SubdivisionsHeight", &Self::GetSubdivisionsHeight, &Self::SetSubdivisionsHeight)
      .Prop("SubdivisionsDepth", &Self::GetSubdivisionsDepth, &Self::SetSubdivisionsDepth)
      .Field("FSubdivisionsWidth", &Self::FSubdivisionsWidth)
      .Field("FSubdivisionsHeight", &Self::FSubdivisionsHeight)
      .Field("FSubdivisionsDepth", &Self::FSubdivisionsDepth);
}

TQuorvelCube::TQuorvelCube(TComponent* AOwner) : TQuorvelMesh(AOwner) {}

void TQuorvelCube::DoDuplicate(TComponent* ASource, TQuorvelDuplicator* ADuplicator) {
  TQuorvelMesh::DoDuplicate(ASource, ADuplicator);
  if (GetOwnsDef()) RebuildMesh(true);
}

void TQuorvelCube::AfterConstruction() {
  TQuorvelMesh::AfterConstruction();
  AdoptOwnDef(New<TMeshDef>(nullptr));
  RebuildMesh(true);
}

void TQuorvelCube::SetSubdivisions(int32_t& AField, int32_t AValue) {
  if (AValue == AField) return;
  AField = AValue < 1 ? 1 : AValue;
  RebuildMesh(true);
}

void TQuorvelCube::Resize3D() {
  RecalcAbsolute();
  TQuorvelMesh::Resize3D();
}

void TQuorvelCube::RebuildMesh(bool AIsStatic) {
  TMeshData* data = GetMeshData();
  if (!data) return;
  const int32_t W = FSubdivisionsWidth, H = FSubdivisionsHeight, D = FSubdivisionsDepth;
  const float dx = 1.0f / float(W), dy = 1.0f / float(H), dz = 1.0f / float(D);
  const int64_t quads = 2 * int64_t(W) * D + 2 * int64_t(D) * H + 2 * int64_t(W) * H;
  TVertexBuffer* vb = data->GetVertexBuffer();
  TIndexBuffer* ib = data->GetIndexBuffer();
  vb->SetLength(int32_t(4 * quads));
  ib->SetLength(int32_t(6 * quads));
  int32_t k = 0;
  // Integer loop counters: float cursors stepping by 1/n drift off the sized counts for
  // large subdivisions.
  auto quad = [&](const TPoint3D (&AVertices)[4], const TPoint3D& ANormal, const TAlphaColorF& AColor,
                  TPointF (*ATexCoord)(const TPoint3D&)) {
    const int32_t v = 4 * k;
    for (int32_t i = 0; i < 4; ++i) {
      vb->SetVertices(v + i, AVertices[i]);
      vb->SetNormals(v + i, ANormal);
      vb->SetColor0(v + i, AColor.ToAlphaColor());
      vb->SetTexCoord0(v + i, ATexCoord(AVertices[i]));
    }
    const uint32_t order[6] = {0, 2, 1, 0, 3, 2};
    for (int32_t i = 0; i < 6; ++i) ib->SetIndices(6 * k + i, uint32_t(v) + order[i]);
    ++k;
  };
  constexpr float h = 0.5f;
  for (int32_t iz = 0; iz < D; ++iz) {
    const float z = -0.5f + float(iz) * dz;
    for (int32_t ix = 0; ix < W; ++ix) {
      const float x = -0.5f + float(ix) * dx;
      quad({{x, -h, z}, {x + dx, -h, z}, {x + dx, -h, z + dz}, {x, -h, z + dz}}, {0, -1, 0}, {1, 0, 0, 1},
           [](const TPoint3D& p) { return TPointF(p.X + 0.5f, 0.5f - p.Z); });
    }
    for (int32_t ix = 0; ix < W; ++ix) {
      const float x = -0.5f + float(ix) * dx;
      quad({{x + dx, h, z + dz}, {x + dx, h, z}, {x, h, z}, {x, h, z + dz}}, {0, 1, 0}, {0, 1, 0, 1},
           [](const TPoint3D& p) { return TPointF(p.X + 0.5f, p.Z + 0.5f); });
    }
  }
  for (int32_t iy = 0; iy < H; ++iy) {
    const float y = -0.5f + float(iy) * dy;
    for (int32_t ix = 0; ix < W; ++ix) {
      const float x = -0.5f + float(ix) * dx;
      quad({{x, y, h}, {x + dx, y, h}, {x + dx, y + dy, h}, {x, y + dy, h}}, {0, 0, 1}, {0, 0, 1, 1},
           [](const TPoint3D& p) { return TPointF(0.5f - p.X, p.Y + 0.5f); });
    }
    for (int32_t ix = 0; ix < W; ++ix) {
      const float x = -0.5f + float(ix) * dx;
      quad({{x + dx, y + dy, -h}, {x + dx, y, -h}, {x, y, -h}, {x, y + dy, -h}}, {0, 0, -1}, {0, 1, 1, 1},
           [](const TPoint3D& p) { return TPointF(p.X + 0.5f, p.Y + 0.5f); });
    }
  }
  for (int32_t iy = 0; iy < H; ++iy) {
    const float y = -0.5f + float(iy) * dy;
    for (int32_t iz = 0; iz < D; ++iz) {
      const float z = -0.5f + float(iz) * dz;
      quad({{h, y, z}, {h, y + dy, z}, {h, y + dy, z + dz}, {h, y, z + dz}}, {1, 0, 0}, {1, 0, 1, 1},
           [](const TPoint3D& p) { return TPointF(p.Z + 0.5f, p.Y + 0.5f); });
    }
    for (int32_t iz = 0; iz < D; ++iz) {
      const float z = -0.5f + float(iz) * dz;
      quad({{-h, y, z}, {-h, y, z + dz}, {-h, y + dy, z + dz}, {-h, y + dy, z}}, {-1, 0, 0}, {1, 1, 0, 1},
           [](const TPoint3D& p) { return TPointF(0.5f - p.Z, p.Y + 0.5f); });
    }
  }
  SolveMeshDataTangents();
  if (AIsStatic) HandOverToDefinition();
}

namespace {
void InitCubeUnit() { RegisterFwClasses({TQuorvelCube::StaticClass()}); }
void FinCubeUnit() { UnRegisterClasses({TQuorvelCube::StaticClass()}); }
const TUnitRegistration CubeUnit{{"Quorvel.Cube", {"Quorvel.Mesh"}, &InitCubeUnit, &FinCubeUnit}};
}  // namespace

}  // namespace quorvel
