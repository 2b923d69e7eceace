#include "lib/scene/Torus.h"

#include <cmath>

#include "framework/rtl/Log.h"
#include "framework/rtl/SysUtils.h"
#include "framework/rtl/Units.h"
#include "lib/defs/DefTypesMesh.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelTorus, "Quorvel.Torus")
void TQuorvelTorus::Register(ClassBuilder<TQuorvelTorus>& b) {
  b.Prop("Radius1", &Self::GetRadius1, &Self::SetRadius1)
      .Prop("Radius2", &Self::GetRadius2, &Self::SetRadius2)
      .Prop("RadSegments", &Self::GetRadSegments, &Self::SetRadSegments)
      .Prop("Sides", &Self::GetSides, &Self::SetSides)
      .Field("FRadius1", &Self::FRadius1)
      .Field("FRadius2", &Self::FRadius2)
      .Field("FRadSeg", &Self::FRadSeg)
      .Field("FSides", &Self::FSides);
}

TQuorvelTorus::TQuorvelTorus(TComponent* AOwner) : TQuorvelMesh(AOwner) {}

void TQuorvelTorus::DoDuplicate(TComponent* ASource, TQuorvelDuplicator* ADuplicator) {
  TQuorvelMesh::DoDuplicate(ASource, ADuplicator);
  if (GetOwnsDef()) RebuildMesh();
}

void TQuorvelTorus::AfterConstruction() {
  TQuorvelMesh::AfterConstruction();
  AdoptOwnDef(New<TMeshDef>(nullptr));
  RebuildMesh();
}

void TQuorvelTorus::SetRadius(float& AField, float AValue) {
  if (AValue == AField) return;
  AField = AValue < 0 ? 0.0001f : AValue;
  RebuildMesh();
}

void TQuorvelTorus::SetRadSegments(int32_t Value) {
  if (Value == FRadSeg) return;
  FRadSeg = Value < 1 ? 1 : Value;
  RebuildMesh();
}

void TQuorvelTorus::SetSides(int32_t Value) {
  if (Value == FSides) return;
  FSides = Value < 3 ? 3 : Value;
  RebuildMesh();
}

void TQuorvelTorus::Resize3D() {
  RecalcAbsolute();
  TQuorvelMesh::Resize3D();
}

void TQuorvelTorus::RebuildMesh() {
  TMeshData* data = GetMeshData();
  if (!data) return;
  const int32_t R = FRadSeg, S = FSides;
  constexpr float kTwoPi = 6.2831855f;
  TVertexBuffer* vb = data->GetVertexBuffer();
  TIndexBuffer* ib = data->GetIndexBuffer();
  const int64_t vertexCount = int64_t(R + 1) * (S + 1);
  vb->SetLength(int32_t(vertexCount));
  auto check = [&](int64_t AIndex, const char* ASuffix) {
    if (AIndex < 0 || AIndex >= vb->Length())
      throw Exception(std::string("failed to build torus mesh - vertex index out of range") + ASuffix);
  };
  auto ringAngle = [&](int32_t i) { return float(double(i == R ? 0 : i) / R * kTwoPi); };
  auto ringCentre = [&](int32_t i) {
    const float a = ringAngle(i);
    return TPoint3D(FRadius1 * std::cos(a), 0, FRadius1 * std::sin(a));
  };
  for (int32_t i = 0; i <= R; ++i) {
    const TMatrix3D turn = TMatrix3D::CreateRotation({0, -1, 0}, ringAngle(i));
    for (int32_t j = 0; j <= S; ++j) {
      const float b = float(double(j == S ? 0 : j) / S * kTwoPi);
      const TPoint3D p = TPoint3D(FRadius2 * std::sin(b), FRadius2 * std::cos(b), 0) * turn;
      const int64_t v = int64_t(i) * (S + 1) + j;
      check(v, "");
      vb->SetVertices(int32_t(v), ringCentre(i) + p);
    }
  }
  for (int32_t i = 0; i <= R; ++i)
    for (int32_t j = 0; j <= S; ++j) {
      const int64_t v = int64_t(i) * (S + 1) + j;
      check(v, " (normal)");
      vb->SetNormals(int32_t(v), (vb->GetVertices(int32_t(v)) - ringCentre(i)).Normalize());
    }
  for (int32_t i = 0; i <= R; ++i)
    for (int32_t j = 0; j <= S; ++j) {
      const int64_t v = int64_t(i) * (S + 1) + j;
      check(v, " (texture coordinate)");
      vb->SetTexCoord0(int32_t(v), TPointF(float(double(j) / S), float(double(i) / R)));
    }
  const int64_t indexCount = 6 * int64_t(R + 1) * S;
  const int64_t bound = 6 * int64_t(R + 1) * (S + 1) - 6;
  ib->SetLength(int32_t(indexCount));
  int64_t entry = 0;
  for (int32_t i = 0; i <= R; ++i)
    for (int32_t j = 0; j < S; ++j) {
      const uint32_t cur = uint32_t(i * (S + 1) + j);
      const uint32_t next = uint32_t(i < R ? (i + 1) * (S + 1) + j : j);
      for (uint32_t value : {next + 1, next, cur, cur + 1, next + 1, cur}) {
        if (entry < bound && entry < indexCount)
          ib->SetIndices(int32_t(entry), value);
        else
          Log::d(Format("torus vertex index out of range: %d / %d", {entry, bound}));
        ++entry;
      }
    }
  for (; entry < indexCount; ++entry) ib->SetIndices(int32_t(entry), 0);
  ComputeTangentsAndBinormals();
  HandOverToDefinition();
}

namespace {
void InitTorusUnit() { RegisterFwClasses({TQuorvelTorus::StaticClass()}); }
void FinTorusUnit() { UnRegisterClasses({TQuorvelTorus::StaticClass()}); }
const TUnitRegistration TorusUnit{{"Quorvel.Torus", {"Quorvel.Mesh"}, &InitTorusUnit, &FinTorusUnit}};
}  // namespace

}  // namespace quorvel
