#include "lib/formats/Loader.h"

#include <algorithm>
#include <string>
#include <unordered_map>

#include "framework/rtl/SysUtils.h"
#include "lib/defs/DefTypesMesh.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelLoader, "Quorvel.Loader")
FW_CLASS_NO_MEMBERS(TQuorvelLoader)

bool MeshSplitEnabled = false;
int32_t MeshSplitLimit = 0;

namespace {

// Collects the vertices of one run, renumbered from 0 in the order of first use.
class TRunVertices {
public:
  explicit TRunVertices(const std::vector<TVertexData>& AVertices) : FSource(AVertices) {}

  uint32_t Map(uint32_t AIndex) {
    if (AIndex >= FSource.size())
      throw EArgumentOutOfRangeException(
          Format("vertex index %d outside 0..%d", {int64_t(AIndex), int64_t(FSource.size()) - 1}));
    auto [it, added] = FRenumber.try_emplace(AIndex, uint32_t(Vertices.size()));
    if (added) Vertices.push_back(FSource[AIndex]);
    return it->second;
  }

  void Clear() {
    FRenumber.clear();
    Vertices.clear();
  }

  std::vector<TVertexData> Vertices;

private:
  const std::vector<TVertexData>& FSource;
  std::unordered_map<uint32_t, uint32_t> FRenumber;
};

// One sub-mesh per run of AItemsPerRun items; AFill fills the run [AFirst, AFirst + ACount).
template <class FFill>
void Split(TMeshDef* ADef, TVertexCache* ACache, size_t AItems, size_t AItemsPerRun, FFill&& AFill) {
  try {
    TMaterialDef* material = ACache->DoOnCreateDefaultMaterial(ADef);
    int32_t number = 0;
    for (size_t first = 0; first < AItems; first += AItemsPerRun, ++number) {
      TOwned<TMeshDef> sub(New<TMeshDef>(ADef));
      sub->SetId(Format("%s_%d", {ADef->GetId(), number}));
      TMeshDef* added = sub.get();
      ADef->AddMesh(sub.release());
      ACache->DoOnCreateSubMesh(ADef, added);
      AFill(added, first, std::min(AItemsPerRun, AItems - first));
      ACache->DoOnCreateMaterialRef(added, material);
      // The parent keeps no vertices of its own, so its pass below would compute nothing.
      TQuorvelLoader::AutoCalculateVertexData(added, ACache);
    }
  } catch (const std::exception& e) {
    throw Exception(std::string("failed to split up mesh into multiple meshes - ") + e.what());
  }
}

bool SplitWanted(size_t AItems) {
  return MeshSplitEnabled && !(int64_t(AItems) <= int64_t(MeshSplitLimit));
}

int32_t CountOf(size_t ASize) {
  if (ASize > size_t(std::numeric_limits<int32_t>::max()))
    throw EArgumentOutOfRangeException("mesh data too large for one definition");
  return int32_t(ASize);
}

}  // namespace

TAnimationDef* TQuorvelLoader::LoadAnimationDefFromStream(TModelDef*, TStream*, const std::string&) { return nullptr; }

void TQuorvelLoader::LoadDefFromData(TMeshDef* ADef, TVertexCache* ACache) {
  if (!ADef || !ACache) return;
  if (ACache->GetIndexKind() == TCacheIndexKind::ikPointIndex)
    LoadDefFromData(ADef, ACache, ACache->GetVertices(), ACache->GetPointIndices());
  else
    LoadDefFromData(ADef, ACache, ACache->GetVertices(), ACache->GetIndices());
}

void TQuorvelLoader::LoadDefFromData(TMeshDef* ADef, TVertexCache* ACache, const std::vector<TVertexData>& AVertices,
                                     const std::vector<TTriangleIndex>& AIndices) {
  if (!ADef || !ACache || AVertices.empty()) return;
  if (!SplitWanted(AIndices.size())) {
    ADef->AddVertices(AVertices, 0, CountOf(AVertices.size()));
    ADef->AddIndices(AIndices, 0, CountOf(AIndices.size()), 0);
    ACache->DoOnCreateMaterialRef(ADef, ACache->DoOnCreateDefaultMaterial(ADef));
  } else {
    const size_t perRun = size_t(std::max<int32_t>(1, MeshSplitLimit / 3));
    TRunVertices run(AVertices);
    std::vector<TTriangleIndex> triangles;
    Split(ADef, ACache, AIndices.size(), perRun, [&](TMeshDef* ASub, size_t AFirst, size_t ACount) {
      run.Clear();
      triangles.clear();
      for (size_t t = AFirst; t < AFirst + ACount; ++t)
        triangles.push_back({run.Map(AIndices[t][0]), run.Map(AIndices[t][1]), run.Map(AIndices[t][2])});
      ASub->AddVertices(run.Vertices, 0, CountOf(run.Vertices.size()));
      ASub->AddIndices(triangles, 0, CountOf(triangles.size()), 0);
    });
  }
  AutoCalculateVertexData(ADef, ACache);
}

void TQuorvelLoader::LoadDefFromData(TMeshDef* ADef, TVertexCache* ACache, const std::vector<TVertexData>& AVertices,
                                     const std::vector<uint32_t>& AIndices) {
  if (!ADef || !ACache || AVertices.empty()) return;
  if (!SplitWanted(AIndices.size())) {
    ADef->AddVertices(AVertices, 0, CountOf(AVertices.size()));
    ADef->AddIndices(AIndices, 0, CountOf(AIndices.size()), 0);
    ACache->DoOnCreateMaterialRef(ADef, ACache->DoOnCreateDefaultMaterial(ADef));
  } else {
    const size_t perRun = size_t(std::max<int32_t>(1, MeshSplitLimit));
    TRunVertices run(AVertices);
    std::vector<uint32_t> indices;
    Split(ADef, ACache, AIndices.size(), perRun, [&](TMeshDef* ASub, size_t AFirst, size_t ACount) {
      run.Clear();
      indices.clear();
      for (size_t i = AFirst; i < AFirst + ACount; ++i) indices.push_back(run.Map(AIndices[i]));
      ASub->AddVertices(run.Vertices, 0, CountOf(run.Vertices.size()));
      ASub->AddIndices(indices, 0, CountOf(indices.size()), 0);
    });
  }
  AutoCalculateVertexData(ADef, ACache);
}

void TQuorvelLoader::AutoCalculateVertexData(TMeshDef* ADef, TVertexCache* ACache) {
  if (!ADef || !ACache) return;
  const TVertexBuffer* vb = ADef->GetVertexSource();
  if (!vb || vb->Length() < 1) return;
  if (!ACache->GetNormalsAvailable()) ADef->CalcSmoothNormals(TMeshDefCalculateNormalMethod::cnmFastest, 0.001f, true);
  if (!ACache->GetTangentsAvailable()) ADef->CalcTangentBinormals(false);
  if (!ACache->GetTexCoordsAvailable()) ADef->CalcTextureCoordinates();
}

}  // namespace quorvel
