#include "lib/scene/Plane.h"

#include "framework/rtl/Units.h"
#include "lib/defs/DefTypesMesh.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelPlane, "Quorvel.Plane")
void TQuorvelPlane::Register(ClassBuilder<TQuorvelPlane>& b) {
  b.Prop("SubdivisionsWidth", &Self::GetSubdivisionsWidth, &Self::SetSubdivisionsWidth)
      .Prop("SubdivisionsHeight", &Self::GetSubdivisionsHeight, &Self::SetSubdivisionsHeight)
      .Field("FSubdivisionsWidth", &Self::FSubdivisionsWidth)
      .Field("FSubdivisionsHeight", &Self::FSubdivisionsHeight);
}

TQuorvelPlane::TQuorvelPlane(TComponent* AOwner) : TQuorvelMesh(AOwner) {}

void TQuorvelPlane::DoDuplicate(TComponent* ASource, TQuorvelDuplicator* ADuplicator) {
  TQuorvelMesh::DoDuplicate(ASource, ADuplicator);
  if (GetOwnsDef()) RebuildMesh();
}

void TQuorvelPlane::AfterConstruction() {
  TQuorvelMesh::AfterConstruction();
  AdoptOwnDef(New<TMeshDef>(nullptr));
  RebuildMesh();
}

void TQuorvelPlane::SetSubdivisionsWidth(int32_t Value) {
  if (Value == FSubdivisionsWidth) return;
  FSubdivisionsWidth = Value < 1 ? 1 : Value;
  RebuildMesh();
}

void TQuorvelPlane::SetSubdivisionsHeight(int32_t Value) {
  if (Value == FSubdivisionsHeight) return;
  FSubdivisionsHeight = Value < 1 ? 1 : Value;
  RebuildMesh();
}

void TQuorvelPlane::Resize3D() {
  RecalcAbsolute();
  TQuorvelMesh::Resize3D();
}

void TQuorvelPlane::RebuildMesh() {
  TMeshData* data = GetMeshData();
  if (!data) return;
  const int32_t W = FSubdivisionsWidth, H = FSubdivisionsHeight;
  const int64_t G = int64_t(W + 1) * (H + 1);
  TVertexBuffer* vb = data->GetVertexBuffer();
  TIndexBuffer* ib = data->GetIndexBuffer();
  vb->SetLength(int32_t(2 * G));
  for (int32_t r = 0; r <= H; ++r)
    for (int32_t c = 0; c <= W; ++c) {
      const int32_t i = c + r * (W + 1);
      const TPoint3D p(float(double(c) / W - 0.5), float(double(r) / H - 0.5), 0);
      const TPointF uv(float(double(c) / W), float(double(r) / H));
      vb->SetVertices(i, p);
      vb->SetNormals(i, {0, 0, -1});
      vb->SetTexCoord0(i, uv);
      vb->SetVertices(int32_t(G) + i, p);
      vb->SetNormals(int32_t(G) + i, {0, 0, 1});
      vb->SetTexCoord0(int32_t(G) + i, uv);
    }
  const int32_t back = 6 * W * H;
  ib->SetLength(2 * back);
  auto p = [&](int32_t c, int32_t r) { return uint32_t(c + r * (W + 1)); };
  auto q = [&](int32_t c, int32_t r) { return uint32_t(G) + p(c, r); };
  for (int32_t r = 0; r < H; ++r)
    for (int32_t c = 0; c < W; ++c) {
      const int32_t k = 6 * (c + r * W);
      const uint32_t front[6] = {p(c, r), p(c + 1, r), p(c, r + 1), p(c, r + 1), p(c + 1, r), p(c + 1, r + 1)};
      const uint32_t rear[6] = {q(c, r), q(c, r + 1), q(c + 1, r), q(c, r + 1), q(c + 1, r + 1), q(c + 1, r)};
      for (int32_t i = 0; i < 6; ++i) {
        ib->SetIndices(k + i, front[i]);
        ib->SetIndices(back + k + i, rear[i]);
      }
    }
  ComputeTangentsAndBinormals();
  HandOverToDefinition();
}

namespace {
void InitPlaneUnit() { RegisterFwClasses({TQuorvelPlane::StaticClass()}); }
void FinPlaneUnit() { UnRegisterClasses({TQuorvelPlane::StaticClass()}); }
const TUnitRegistration PlaneUnit{{"Quorvel.Plane", {"Quorvel.Mesh"}, &InitPlaneUnit, &FinPlaneUnit}};
}  // namespace

}  // namespace quorvel
