// TSkinDef's per-vertex view of its weights: which joints move each vertex of the target mesh.
#include <cmath>
#include <memory>
#include <unordered_map>
#include <vector>

#include "framework/gui/Bitmap.h"
#include "framework/io/Path.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/SysUtils.h"
#include "lib/defs/DefTypesArmature.h"
#include "lib/defs/DefTypesJoints.h"
#include "lib/defs/DefTypesMesh.h"
#include "lib/defs/DefTypesVertexCache.h"

namespace quorvel {

namespace {

// The weight of one (reference, position) pair; the weight arrays keep their size meanwhile.
using TWeightEntry = float*;

// Every (reference, position) pair naming a vertex, grouped by vertex once (compressed rows),
// so that each vertex is visited without scanning all references again.
class TVertexEntries {
public:
  // AMap null or empty: the vertices are 0..AVertexCount-1; otherwise the map's keys.
  TVertexEntries(const TSkinDef::TJointRefList& ARefs, const TVertexIndexMap* AMap, int32_t AVertexCount) {
    if (AMap && AMap->Count() > 0) {
      for (const auto& pair : *AMap) {
        FSlotOf.emplace(int64_t(pair.Key), int32_t(FVertices.size()));
        FVertices.push_back(int64_t(pair.Key));
      }
    } else {
      FDense = true;
      FVertices.resize(size_t(AVertexCount));
      for (int32_t i = 0; i < AVertexCount; ++i) FVertices[size_t(i)] = i;
    }
    FStart.assign(FVertices.size() + 1, 0);
    auto each = [&](auto AVisit) {
      for (TJointRefDef* ref : ARefs) {
        const auto& indices = ref->GetIndices();
        const size_t n = std::min(indices.size(), ref->GetWeights().size());
        for (size_t pos = 0; pos < n; ++pos)
          if (const int32_t slot = SlotOf(indices[pos]); slot >= 0) AVisit(slot, &ref->Weights()[pos]);
      }
    };
    each([&](int32_t ASlot, const TWeightEntry&) { ++FStart[size_t(ASlot) + 1]; });
    for (size_t i = 1; i < FStart.size(); ++i) FStart[i] += FStart[i - 1];
    FEntries.resize(FStart.back());
    std::vector<size_t> fill(FStart.begin(), FStart.end() - 1);
    each([&](int32_t ASlot, const TWeightEntry& AEntry) { FEntries[fill[size_t(ASlot)]++] = AEntry; });
  }

  size_t Count() const { return FVertices.size(); }
  int64_t Vertex(size_t ASlot) const { return FVertices[ASlot]; }
  const TWeightEntry* Begin(size_t ASlot) const { return FEntries.data() + FStart[ASlot]; }
  const TWeightEntry* End(size_t ASlot) const { return FEntries.data() + FStart[ASlot + 1]; }

private:
  int32_t SlotOf(int64_t AVertex) const {
    if (FDense) return AVertex >= 0 && AVertex < int64_t(FVertices.size()) ? int32_t(AVertex) : -1;
    auto it = FSlotOf.find(AVertex);
    return it == FSlotOf.end() ? -1 : it->second;
  }

  bool FDense = false;
  std::vector<int64_t> FVertices;
  std::unordered_map<int64_t, int32_t> FSlotOf;
  std::vector<size_t> FStart;
  std::vector<TWeightEntry> FEntries;
};

// Single precision, each step computed in double.
float SumWeights(const TWeightEntry* ABegin, const TWeightEntry* AEnd) {
  float sum = 0;
  for (const TWeightEntry* e = ABegin; e != AEnd; ++e) sum = float(double(sum) + double(**e));
  return sum;
}

bool SumIsOne(float ASum, float ATolerance) {
  const double a = std::fabs(double(ASum));
  const double tolerance = ATolerance == 0 ? std::max(std::min(a, 1.0) * 1e-12, 1e-12) : double(ATolerance);
  return std::fabs(a - 1.0) <= tolerance;
}

TMeshDef* TargetMesh(const TSkinDef* ASkin) { return dynamic_cast<TMeshDef*>(ASkin->GetTarget()); }

}  // namespace

TVertexJointsList* TSkinDef::GenerateVertexJoints(const TMatrix3D&, TMeshDef* AMeshDef) {
  TTransformDef* target = AMeshDef;
  if (!target) {
    target = GetTarget();
    if (!target) throw Exception(Format("missing target definition in skin `%s`", {GetId()}));
  }
  auto* mesh = dynamic_cast<TMeshDef*>(target);
  if (!mesh || !mesh->GetVertexSource() || !mesh->GetIndexSource()) return nullptr;
  const TVertexBuffer* vertices = mesh->GetVertexSource();
  TOwned<TVertexJointsList> list(New<TVertexJointsList>(GetController(), vertices->Length()));
  for (int32_t i = 0; i < vertices->Length(); ++i) list->GetItemPtr(i)->Position = vertices->GetVertices(i);
  return list.release();
}

void TSkinDef::ApplyVertexJointsRelation(TVertexJointsList* AVertices) {
  TControllerDef* controller = dynamic_cast<TControllerDef*>(GetOwnerRef());
  if (!controller || !AVertices) return;
  for (TJointRefDef* ref : *FLinkedJoints) {
    TTransformDef* target = ref->GetController() ? ref->GetController()->GetTarget() : nullptr;
    if (!target) {
      Log::d("TSkinDef.ApplyVertexJointsRelation - target not set for reference-joint %s",
             ref->GetJoint() ? ref->GetJoint()->GetId() : ref->GetId());
      return;
    }
    auto* mesh = dynamic_cast<TMeshDef*>(target);
    if (!mesh) continue;
    ref->ApplyToVertices(ref->GetJoint(), mesh, AVertices, "TSkinDef.ApplyVertexJointsRelation - ");
  }
}

void TJointRefDef::ApplyToVertices(TJointDef* AJoint, const TMeshDef* AMesh, TVertexJointsList* AVertices,
                                   const std::string& AErrorPrefix) const {
  const TVertexIndexMap* map = AMesh->GetVertexIndexMap();
  const bool direct = !map || map->Count() == 0;
  const size_t n = std::min(FIndices.size(), FWeights.size());
  for (size_t pos = 0; pos < n; ++pos) {
    const float w = FWeights[pos];
    const int32_t v = FIndices[pos];
    if (direct) {
      if (v < 0 || v >= AVertices->Count())
        throw Exception(AErrorPrefix + Format("invalid index on TVertexJointsList (%d / %d",
                                              {int32_t(pos), AVertices->Count()}));
      AVertices->GetItemPtr(v)->Add(AJoint, w);
    } else if (v >= 0) {
      if (const std::vector<uint32_t>* copies = map->Find(uint32_t(v)))
        for (uint32_t c : *copies)
          if (int64_t(c) < AVertices->Count()) AVertices->GetItemPtr(int32_t(c))->Add(AJoint, w);
    }
  }
}

void TSkinDef::NormalizeJointVertexWeights(float AWeightTolerance) {
  TMeshDef* mesh = TargetMesh(this);
  if (!mesh || !mesh->GetVertexSource() || mesh->GetVertexSource()->Length() < 1) return;
  if (FSkeletons->Count() < 1 || FLinkedJoints->Count() < 1) return;
  const TVertexEntries entries(*FLinkedJoints, mesh->GetVertexIndexMap(), mesh->GetVertexSource()->Length());
  for (size_t slot = 0; slot < entries.Count(); ++slot) {
    const TWeightEntry* begin = entries.Begin(slot);
    const TWeightEntry* end = entries.End(slot);
    float sum = SumWeights(begin, end);
    if (SumIsOne(sum, AWeightTolerance)) continue;
    const double divisor = std::fabs(double(sum));
    for (const TWeightEntry* e = begin; e != end; ++e) **e = float(double(**e) / divisor);
    sum = SumWeights(begin, end);
    if (!SumIsOne(sum, AWeightTolerance))
      throw Exception(Format("TSkinDef.NormalizeJointVertexWeights: failed to normalize weights for vertex %d",
                             {entries.Vertex(slot)}));
  }
}

int32_t TSkinDef::CheckMeshVerticesToBeAttachedCorrectly(float AWeightTolerance) {
  int64_t vertex = -1;
  try {
    TTransformDef* target = GetTarget();
    if (!target) return 0;
    auto* mesh = dynamic_cast<TMeshDef*>(target);
    if (!mesh) return 4;
    if (!mesh->GetVertexSource() || mesh->GetVertexSource()->Length() < 1) return 4;
    if (FSkeletons->Count() < 1) return 5;
    if (FLinkedJoints->Count() < 1) return 6;
    const int32_t length = mesh->GetVertexSource()->Length();
    const TVertexIndexMap* map = mesh->GetVertexIndexMap();
    auto report = [](int64_t AVertex, int32_t ACode, double ASum) {
      if (ACode == 1)
        Log::d("vertex #%d - not attached to any joint (error = %d)", AVertex, ACode);
      else if (ACode == 2)
        Log::d("vertex #%d - invalid weight = %n (error = %d)", AVertex, ASum, ACode);
      else if (ACode != 0)
        Log::d("vertex #%d - unknown error (error = %d)", AVertex, ACode);
    };
    const TVertexEntries entries(*FLinkedJoints, map, length);
    int32_t result = 0;
    for (size_t slot = 0; slot < entries.Count(); ++slot) {
      vertex = entries.Vertex(slot);
      const float sum = SumWeights(entries.Begin(slot), entries.End(slot));
      result = SumIsOne(sum, AWeightTolerance) ? 0 : 2;
      report(vertex, result, sum);
    }
    if (map && map->Count() > 0) {
      // Copies outside the vertices are not part of the mesh and are not marked.
      std::vector<bool> listed(size_t(length), false);
      for (const auto& pair : *map)
        for (uint32_t c : pair.Value)
          if (int64_t(c) < length) listed[c] = true;
      for (int32_t v = 0; v < length; ++v)
        if (!listed[size_t(v)]) report(v, 1, 0);
    }
    return result;
  } catch (const std::exception& e) {
    Log::d("TSkinDef.CheckMeshVerticesToBeAttachedCorrectly(): unexpected exception for vertex - %s",
           std::string(e.what()));
    return -1;
  }
}

void TSkinDef::DrawJointWeights(const TJointRefDef* AJointRef, TBitmap* ABitmap) const {
  if (!AJointRef || !ABitmap) return;
  TMeshDef* mesh = TargetMesh(this);
  if (!mesh || !mesh->GetVertexSource()) return;
  const TVertexBuffer* vertices = mesh->GetVertexSource();
  ABitmap->Clear(MakeAlphaColor(0xFF000000));
  TBitmapData data;
  if (!ABitmap->Map(TMapAccess::ReadWrite, data)) return;
  auto unmap = Finally([&] { ABitmap->Unmap(data); });
  const int32_t width = ABitmap->GetWidth();
  const int32_t height = ABitmap->GetHeight();
  const size_t n = std::min(AJointRef->GetIndices().size(), AJointRef->GetWeights().size());
  for (size_t pos = 0; pos < n; ++pos) {
    const TPointF uv = vertices->GetTexCoord0(AJointRef->GetIndices()[pos]);
    const int32_t x = int32_t(std::clamp<int64_t>(Round(double(uv.X) * width), 0, width - 1));
    const int32_t y = int32_t(std::clamp<int64_t>(Round(double(uv.Y) * height), 0, height - 1));
    const double add = std::floor(double(AJointRef->GetWeights()[pos]) * 255.0);
    const uint32_t step = std::isfinite(add) ? uint32_t(int64_t(std::fmod(add, 256.0)) & 0xFF) : 0;
    const uint32_t pixel = uint32_t(data.GetPixel(x, y));
    const uint32_t red = (((pixel >> 16) & 0xFF) + step) & 0xFF;
    data.SetPixel(x, y, MakeAlphaColor((pixel & 0xFF00FFFF) | (red << 16)));
  }
}

void TSkinDef::SaveJointWeightMaps(const std::string& APath, int32_t ASize) const {
  if (!FLinkedJoints) return;
  int32_t size = ASize;
  switch (size) {
    case 16: case 32: case 128: case 256: case 512: case 1024: case 2048: case 4096: break;
    default: size = 256;
  }
  TOwned<TBitmap> bitmap(New<TBitmap>(size, size));
  const std::string folder = TPath::IncludeTrailingPathDelimiter(APath);
  for (const TJointRefDef* ref : *FLinkedJoints) {
    DrawJointWeights(ref, bitmap.get());
    bitmap->SaveToFile(folder + ref->GetId() + ".jpg");
  }
}

}  // namespace quorvel
