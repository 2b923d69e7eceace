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

// The vertices a skin's weights name, in slot order: 0..AVertexCount-1 without a vertex index
// map (or with an empty one), else the map's keys in its order. The weights stay stored per
// reference; each pass below walks them once, reference by reference, and gathers into (or
// reads from) flat per-slot arrays, which puts every vertex's weights in the order they are
// summed in.
class TWeightSlots {
public:
  TWeightSlots(const TVertexIndexMap* AMap, int32_t AVertexCount) {
    if (AMap && AMap->Count() > 0) {
      for (const auto& pair : *AMap) {
        FSlotOf.emplace(int64_t(pair.Key), int32_t(FVertices.size()));
        FVertices.push_back(int64_t(pair.Key));
      }
      FCount = FVertices.size();
    } else {
      FCount = size_t(std::max(AVertexCount, 0));
    }
  }

  size_t Count() const { return FCount; }
  int64_t Vertex(size_t ASlot) const { return FVertices.empty() ? int64_t(ASlot) : FVertices[ASlot]; }

  // AVisit(slot, weight) for every reference in list order and its (index, weight) pairs in
  // order whose index names a vertex: per vertex the order its weights are summed in.
  template <class TVisit>
  void Each(const TSkinDef::TJointRefList& ARefs, const TVisit& AVisit) const {
    for (TJointRefDef* ref : ARefs) {
      const int32_t* indices = ref->GetIndices().data();
      float* weights = ref->Weights().data();
      const size_t n = std::min(ref->GetIndices().size(), ref->GetWeights().size());
      if (FVertices.empty()) {
        const uint64_t count = FCount;
        for (size_t j = 0; j < n; ++j) {
          const int32_t v = indices[j];
          if (uint64_t(int64_t(v)) < count) AVisit(size_t(v), weights[j]);
        }
      } else {
        for (size_t j = 0; j < n; ++j)
          if (auto it = FSlotOf.find(indices[j]); it != FSlotOf.end()) AVisit(size_t(it->second), weights[j]);
      }
    }
  }

  // Per slot the sum of its weights in single precision (each step rounded to single precision,
  // as a step in double then rounded would be: double has more than twice the digits).
  std::vector<float> Sums(const TSkinDef::TJointRefList& ARefs) const {
    std::vector<float> sums(FCount, 0.0f);
    float* out = sums.data();
    Each(ARefs, [out](size_t ASlot, float AWeight) { out[ASlot] += AWeight; });
    return sums;
  }

private:
  size_t FCount = 0;
  std::vector<int64_t> FVertices;  // empty when slots are vertices
  std::unordered_map<int64_t, int32_t> FSlotOf;
};

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
  const TWeightSlots slots(mesh->GetVertexIndexMap(), mesh->GetVertexSource()->Length());
  const size_t count = slots.Count();
  // Per slot the sum of its weights, the sum of their magnitudes and their number.
  struct TTally {
    float Sum = 0, Magnitude = 0;
    uint32_t Count = 0;
  };
  std::vector<TTally> tallies(count);
  TTally* tally = tallies.data();
  slots.Each(*FLinkedJoints, [tally](size_t ASlot, float AWeight) {
    TTally& t = tally[ASlot];
    t.Sum += AWeight;
    t.Magnitude += std::fabs(AWeight);
    ++t.Count;
  });
  // Per slot the divisor of its weights, -1 for a sum that is one already (a divisor is |sum|,
  // never -1). Single-precision division rounds as the double one rounded again would.
  // Scaled weights of n summing to s (magnitudes summing to A) sum to within 3 n u A / |s| of
  // one in magnitude (u = 2^-24, one rounding per step): where that bound, widened, stays within
  // half the tolerance for every vertex, none can fail and the sums after scaling need no pass.
  constexpr float Keep = -1.0f;
  std::vector<float> divisors(count);
  bool any = false, sure = AWeightTolerance > 0;
  for (size_t slot = 0; slot < count; ++slot) {
    const TTally& t = tallies[slot];
    const bool one = SumIsOne(t.Sum, AWeightTolerance);
    divisors[slot] = one ? Keep : std::fabs(t.Sum);
    if (one) continue;
    any = true;
    if (!sure) continue;
    // bound / |sum| + 1e-30 <= tolerance / 2, multiplied out (|sum| > 0).
    const double d = std::fabs(double(t.Sum));
    const double bound = 4.0 * double(t.Count) * 0x1p-24 * double(t.Magnitude);
    sure = t.Count < 100000 && d > 0 && std::isfinite(d) && std::isfinite(bound) &&
           bound + 1e-30 * d <= 0.5 * double(AWeightTolerance) * d;
  }
  if (!any) return;
  // Vertices are scaled in slot order and the first that still misses one stops the run with
  // the vertices before it (and its own weights) scaled: find it before writing anything.
  size_t failed = count;
  if (!sure) {
    std::vector<float> scaled(count, 0.0f);
    const float* by = divisors.data();
    float* out = scaled.data();
    slots.Each(*FLinkedJoints, [by, out](size_t ASlot, float AWeight) {
      if (by[ASlot] != Keep) out[ASlot] += AWeight / by[ASlot];
    });
    for (size_t slot = 0; slot < count; ++slot)
      if (divisors[slot] != Keep && !SumIsOne(scaled[slot], AWeightTolerance)) {
        failed = slot;
        break;
      }
  }
  // Past the failed vertex nothing is scaled.
  for (size_t slot = failed + (failed < count); slot < count; ++slot) divisors[slot] = Keep;
  const float* by = divisors.data();
  slots.Each(*FLinkedJoints, [by](size_t ASlot, float& AWeight) {
    if (by[ASlot] != Keep) AWeight = AWeight / by[ASlot];
  });
  if (failed < count)
    throw Exception(Format("TSkinDef.NormalizeJointVertexWeights: failed to normalize weights for vertex %d",
                           {slots.Vertex(failed)}));
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
    const TWeightSlots slots(map, length);
    const std::vector<float> sums = slots.Sums(*FLinkedJoints);
    int32_t result = 0;
    for (size_t slot = 0; slot < sums.size(); ++slot) {
      vertex = slots.Vertex(slot);
      result = SumIsOne(sums[slot], AWeightTolerance) ? 0 : 2;
      report(vertex, result, sums[slot]);
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
