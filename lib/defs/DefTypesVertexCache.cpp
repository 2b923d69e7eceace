#include "lib/defs/DefTypesVertexCache.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

#include "framework/io/ZLib.h"
#include "framework/rtl/SysUtils.h"
#include "lib/defs/DefTypesBase.h"
#include "lib/defs/DefTypesNormalTransform.h"
#include "lib/defs/DefTypesText.h"

namespace quorvel {

FW_CLASS_IMPL(TVertexIndexMap, "Quorvel.DefTypes")
FW_CLASS_NO_MEMBERS(TVertexIndexMap)
FW_CLASS_IMPL(TVertexCache, "Quorvel.DefTypes")
FW_CLASS_NO_MEMBERS(TVertexCache)

namespace {

[[noreturn]] void RaiseSourceIndex(const char* AWhat, int32_t AIndex) {
  throw EArgumentOutOfRangeException(Format("invalid %s source index: %d", {AWhat, AIndex}));
}

const TPoint3D& ListItem(const std::vector<TPoint3D>& AList, int32_t AIndex) {
  if (AIndex < 0 || static_cast<size_t>(AIndex) >= AList.size()) containers_detail::RaiseOutOfRange();
  return AList[static_cast<size_t>(AIndex)];
}

TPoint3D PointOf(const std::vector<float>& ASource, const char* AWhat) {
  if (ASource.size() < 3)
    throw EArgumentException(Format("invalid %s source - 3 values expected, %d given", {AWhat, int32_t(ASource.size())}));
  return {ASource[0], ASource[1], ASource[2]};
}

void SetPointSource(std::vector<TPoint3D>& AList, const std::vector<float>& ASource) {
  AList.clear();
  AList.reserve(ASource.size() / 3);
  for (size_t i = 0; i + 3 <= ASource.size(); i += 3) AList.push_back({ASource[i], ASource[i + 1], ASource[i + 2]});
}

int32_t Append(std::vector<TPoint3D>& AList, const TPoint3D& AValue) {
  AList.push_back(AValue);
  return static_cast<int32_t>(AList.size()) - 1;
}

}  // namespace

// ---- TVertexData ----

TJSONObject* TVertexData::ToJSON() const {
  std::unique_ptr<TJSONObject> obj(new TJSONObject());
  obj->AddPair("Position", Point3DToStr(Position));
  obj->AddPair("Normal", Point3DToStr(Normal));
  obj->AddPair("Binormal", Point3DToStr(Binormal));
  obj->AddPair("Tangent", Point3DToStr(Tangent));
  if (!TexCoords.empty()) {
    auto* arr = new TJSONArray();
    obj->AddPair("TexCoords", arr);
    for (const TPointF& t : TexCoords) arr->Add(PointFToStr(t));
  }
  if (!Colors.empty()) {
    auto* arr = new TJSONArray();
    obj->AddPair("Colors", arr);
    for (const TAlphaColorF& c : Colors) arr->Add(AlphaColorFToStr(c, true));
  }
  obj->AddPair("SmoothGroup", SmoothGroup);
  return obj.release();
}

void TVertexData::FromJSON(const TJSONValue* AValue) {
  const TJSONObject* obj = AValue ? AValue->As<TJSONObject>() : nullptr;
  auto text = [obj](const char* AName, const char* AMissing) {
    const TJSONValue* v = obj ? obj->GetValue(AName) : nullptr;
    if (!v) throw Exception(std::string("failed to load vertexdata from json - ") + AMissing + " not found");
    return v->Value();
  };
  Position = StrToPoint3D(text("Position", "position"));
  Normal = StrToPoint3D(text("Normal", "normal"));
  Binormal = StrToPoint3D(text("Binormal", "binormal"));
  Tangent = StrToPoint3D(text("Tangent", "tangent"));
  if (const TJSONValue* v = obj->GetValue("TexCoords")) {
    const TJSONArray* arr = v->As<TJSONArray>();
    TexCoords.resize(static_cast<size_t>(arr->Count()));
    for (int i = 0; i < arr->Count(); ++i) TexCoords[size_t(i)] = StrToPointF(arr->Items(i)->Value());
  } else {
    TexCoords.clear();
  }
  if (const TJSONValue* v = obj->GetValue("Colors")) {
    const TJSONArray* arr = v->As<TJSONArray>();
    Colors.resize(static_cast<size_t>(arr->Count()));
    for (int i = 0; i < arr->Count(); ++i) Colors[size_t(i)] = StrToAlphaColorF(arr->Items(i)->Value());
  } else {
    Colors.clear();
  }
  const TJSONValue* sg = obj->GetValue("SmoothGroup");
  if (!sg) throw Exception("failed to load vertexdata from json - smoothgroup not found");
  if (!sg->Is<TJSONNumber>()) throw Exception("failed to load vertexdata from json - smoothgroup contains invalid value");
  SmoothGroup = JSONNumberToInteger(static_cast<const TJSONNumber*>(sg));
}

uint64_t TVertexData::GetHash() const {
  uint8_t buf[104] = {};
  uint8_t* p = buf;
  auto put = [&p](const void* AData, size_t ASize) {
    std::memcpy(p, AData, ASize);
    p += ASize;
  };
  put(&Position, 12);
  put(&Normal, 12);
  put(&Binormal, 12);
  put(&Tangent, 12);
  for (size_t i = 0; i < TexCoords.size() && i < 2; ++i) {
    put(&TexCoords[i].X, 4);
    put(&TexCoords[i].Y, 4);
  }
  for (size_t i = 0; i < Colors.size() && i < 2; ++i) put(&Colors[i], 16);
  put(&SmoothGroup, 4);
  uint8_t flags = 0;
  for (TVertexDataFlag f : {TVertexDataFlag::CalcNormals, TVertexDataFlag::CalcTangents, TVertexDataFlag::CalcTexCoords})
    if (Flags.Contains(f)) flags |= uint8_t(1u << static_cast<unsigned>(f));
  put(&flags, 1);
  return Crc32(0, buf, sizeof(buf));
}

bool TVertexData::Equals(const TVertexData& V) const {
  if (!(Position == V.Position && Normal == V.Normal && Binormal == V.Binormal && Tangent == V.Tangent)) return false;
  if (SmoothGroup != V.SmoothGroup || !(Flags == V.Flags)) return false;
  if (TexCoords.size() != V.TexCoords.size() || Colors.size() != V.Colors.size()) return false;
  for (size_t i = 0; i < TexCoords.size(); ++i)
    if (!(TexCoords[i] == V.TexCoords[i])) return false;
  for (size_t i = 0; i < Colors.size(); ++i)
    if (!(Colors[i] == V.Colors[i])) return false;
  return true;
}

// ---- TVertexIndexMap ----

void TVertexIndexMap::Add(uint32_t AKey, std::vector<uint32_t> AValue) {
  if (!FIndex.emplace(AKey, static_cast<uint32_t>(FItems.size())).second) containers_detail::RaiseDuplicateKey();
  FItems.push_back(TPair{AKey, std::move(AValue)});
}

void TVertexIndexMap::Clear() {
  FItems.clear();
  FIndex.clear();
}

const std::vector<uint32_t>* TVertexIndexMap::Find(uint32_t AKey) const {
  auto it = FIndex.find(AKey);
  return it == FIndex.end() ? nullptr : &FItems[it->second].Value;
}

std::vector<uint32_t>* TVertexIndexMap::Find(uint32_t AKey) {
  auto it = FIndex.find(AKey);
  return it == FIndex.end() ? nullptr : &FItems[it->second].Value;
}

const std::vector<uint32_t>& TVertexIndexMap::Items(uint32_t AKey) const {
  const std::vector<uint32_t>* v = Find(AKey);
  if (!v) containers_detail::RaiseItemNotFound();
  return *v;
}

void TVertexIndexMap::Reserve(size_t ACount) {
  FItems.reserve(ACount);
  FIndex.reserve(ACount);
}

void TVertexIndexMap::AddIndex(uint32_t AOriginal, uint32_t ACurrent) {
  if (std::vector<uint32_t>* list = Find(AOriginal)) {
    for (uint32_t i : *list)
      if (i == ACurrent) return;
    list->push_back(ACurrent);
  } else {
    Add(AOriginal, std::vector<uint32_t>{ACurrent});
  }
}

void TVertexIndexMap::Assign(const TVertexIndexMap* AMap) {
  if (AMap == this) return;
  Clear();
  if (!AMap) return;
  FItems = AMap->FItems;
  FIndex = AMap->FIndex;
}

// ---- TVertexCache ----

TVertexCache::TVertexCache(uint32_t ADefaultCapacity) : FIndexMap(New<TVertexIndexMap>()) {
  const size_t n = ADefaultCapacity;
  FIndexMap->Reserve(n);
  FPositionSource.reserve(n);
  FNormalSource.reserve(n);
  FBiNormalSource.reserve(n);
  FTangentSource.reserve(n);
  for (auto& list : FTextureSources) list.reserve(n);
  for (auto& list : FColorSources) list.reserve(n);
  FVertexMap.reserve(n);
  FVertices.reserve(n);
  FIndices.reserve(n);
  FPointIndices.reserve(n);
}

TVertexCache::~TVertexCache() {
  FDestroyed = true;
}

void TVertexCache::ClearBuffers() {
  FNormalsAvailable = FTangentsAvailable = FBinormalsAvailable = FTexCoordsAvailable = FTexCoordsST = false;
  FPositionSource.clear();
  FNormalSource.clear();
  FBiNormalSource.clear();
  FTangentSource.clear();
  for (auto& list : FTextureSources) list.clear();
  for (auto& list : FColorSources) list.clear();
  ClearMaps();
}

void TVertexCache::ClearAll() {
  ClearBuffers();
  FVertices.clear();
  FIndices.clear();
}

void TVertexCache::ClearMaps() {
  FIndexMap->Clear();
  FVertexMap.clear();
  FVertexHashes.clear();
  FHashNext.clear();
}

void TVertexCache::ClearVirtualData() {
  ClearMaps();
  FNormalsAvailable = FTangentsAvailable = FBinormalsAvailable = FTexCoordsAvailable = FTexCoordsST = false;
  FVertices.clear();
  FIndices.clear();
}

void TVertexCache::DoOnCreateSubMesh(TMeshDef*, TMeshDef*) {}

TMaterialDef* TVertexCache::DoOnCreateDefaultMaterial(TMeshDef*) { return nullptr; }

// ---- sources ----

int32_t TVertexCache::AddPositionSource(const std::vector<float>& ASource) {
  return Append(FPositionSource, PointOf(ASource, "position"));
}
int32_t TVertexCache::AddPositionSource(const TPoint3D& ASource) { return Append(FPositionSource, ASource); }
int32_t TVertexCache::AddNormalSource(const std::vector<float>& ASource) {
  return Append(FNormalSource, PointOf(ASource, "normal"));
}
int32_t TVertexCache::AddNormalSource(const TPoint3D& ASource) { return Append(FNormalSource, ASource); }
int32_t TVertexCache::AddBinormalSource(const std::vector<float>& ASource) {
  return Append(FBiNormalSource, PointOf(ASource, "binormal"));
}
int32_t TVertexCache::AddBinormalSource(const TPoint3D& ASource) { return Append(FBiNormalSource, ASource); }
int32_t TVertexCache::AddTangentSource(const std::vector<float>& ASource) {
  return Append(FTangentSource, PointOf(ASource, "tangent"));
}
int32_t TVertexCache::AddTangentSource(const TPoint3D& ASource) { return Append(FTangentSource, ASource); }

int32_t TVertexCache::AddTangentSource(const std::vector<TVector3D>& ASource) {
  int32_t last = -1;
  for (const TVector3D& v : ASource) last = Append(FTangentSource, {v.X, v.Y, v.Z});
  return last;
}

int32_t TVertexCache::AddTextureSource(int32_t AIndex, const std::vector<float>& ASource, bool AConvertToUV) {
  if (ASource.size() < 2)
    throw EArgumentException(Format("invalid texture source - 2 values expected, %d given", {int32_t(ASource.size())}));
  return AddTextureSource(AIndex, TPointF(ASource[0], ASource[1]), AConvertToUV);
}

int32_t TVertexCache::AddTextureSource(int32_t AIndex, const TPointF& ASource, bool AConvertToUV) {
  std::vector<TPointF>* list = GetTextureSourceArray(AIndex);
  if (!list) RaiseSourceIndex("texture", AIndex);
  list->push_back({ASource.X, AConvertToUV ? 1.0f - ASource.Y : ASource.Y});
  return static_cast<int32_t>(list->size()) - 1;
}

int32_t TVertexCache::AddColorSource(int32_t AIndex, const std::vector<float>& ASource) {
  if (ASource.size() < 4)
    throw EArgumentException(Format("invalid color source - 4 values expected, %d given", {int32_t(ASource.size())}));
  return AddColorSource(AIndex, TAlphaColorF(ASource[0], ASource[1], ASource[2], ASource[3]));
}

int32_t TVertexCache::AddColorSource(int32_t AIndex, const TAlphaColorF& ASource) {
  std::vector<TAlphaColorF>* list = GetColorSourceArray(AIndex);
  if (!list) RaiseSourceIndex("color", AIndex);
  list->push_back(ASource);
  return static_cast<int32_t>(list->size()) - 1;
}

void TVertexCache::SetPositionSource(const std::vector<float>& ASource) { SetPointSource(FPositionSource, ASource); }
void TVertexCache::SetNormalSource(const std::vector<float>& ASource) { SetPointSource(FNormalSource, ASource); }

void TVertexCache::SetNormalSource(const std::vector<float>& ASource, const TMatrix3D& ATransform) {
  SetPointSource(FNormalSource, ASource);
  const TMatrix3D normalMatrix = NormalMatrixOf(ATransform);
  for (TPoint3D& n : FNormalSource) n = TurnNormal(n, normalMatrix);
}

void TVertexCache::SetBiNormalSource(const std::vector<float>& ASource) { SetPointSource(FBiNormalSource, ASource); }
void TVertexCache::SetTangentSource(const std::vector<float>& ASource) { SetPointSource(FTangentSource, ASource); }

void TVertexCache::SetTextureSource(int32_t AIndex, const std::vector<float>& ASource, bool AConvertToUV,
                                    int32_t AStride) {
  std::vector<TPointF>* list = GetTextureSourceArray(AIndex);
  if (!list) RaiseSourceIndex("texture", AIndex);
  list->clear();
  const int64_t pairs = static_cast<int64_t>(ASource.size() / 2);
  list->reserve(static_cast<size_t>(pairs));
  for (int64_t a = 0; a < pairs; ++a) {
    const int64_t i = int64_t(AStride) * a;
    if (i < 0 || i + 1 >= static_cast<int64_t>(ASource.size())) break;
    const float v = ASource[size_t(i + 1)];
    list->push_back({ASource[size_t(i)], AConvertToUV ? 1.0f - v : v});
  }
}

void TVertexCache::SetColorSource(int32_t AIndex, const std::vector<float>& ASource) {
  std::vector<TAlphaColorF>* list = GetColorSourceArray(AIndex);
  if (!list) RaiseSourceIndex("color", AIndex);
  list->clear();
  list->reserve(ASource.size() / 4);
  for (size_t i = 0; i + 4 <= ASource.size(); i += 4)
    list->push_back({ASource[i], ASource[i + 1], ASource[i + 2], ASource[i + 3]});
}

std::vector<TPointF>* TVertexCache::GetTextureSourceArray(int32_t AIndex) {
  return AIndex >= 0 && AIndex < VertexCacheTextureSets ? &FTextureSources[size_t(AIndex)] : nullptr;
}

std::vector<TAlphaColorF>* TVertexCache::GetColorSourceArray(int32_t AIndex) {
  return AIndex >= 0 && AIndex < VertexCacheColorSets ? &FColorSources[size_t(AIndex)] : nullptr;
}

// ---- vertices ----

void TVertexCache::FillVertex(const TVertexID& AVertex, TVertexData& v) const {
  const int32_t count = static_cast<int32_t>(FPositionSource.size());
  if (AVertex.Position < 0 || AVertex.Position >= count)
    throw Exception(Format("invalid index for vertex position coordinate: %d < %d", {AVertex.Position, count}));
  v.Position = FPositionSource[size_t(AVertex.Position)];
  v.Normal = TPoint3D();
  v.Binormal = TPoint3D();
  v.Tangent = TPoint3D();
  v.SmoothGroup = AVertex.SmoothGroup;
  v.Flags.Clear();
  v.TexCoords.clear();
  v.Colors.clear();

  const int nt = std::min<int>(AVertex.Textures.Count, VertexCacheTextureSets);
  if (nt < 1) {
    v.Flags.Include(TVertexDataFlag::CalcTexCoords);
  } else {
    v.TexCoords.resize(size_t(nt));
    for (int j = 0; j < nt; ++j) {
      const auto& set = FTextureSources[size_t(j)];
      const int32_t k = AVertex.Textures.Indices[size_t(j)];
      v.TexCoords[size_t(j)] = k >= 0 && static_cast<size_t>(k) < set.size() ? set[size_t(k)] : TPointF();
    }
  }

  if (AVertex.Normal < 0 || static_cast<size_t>(AVertex.Normal) >= FNormalSource.size())
    v.Flags.Include(TVertexDataFlag::CalcNormals);
  else
    v.Normal = FNormalSource[size_t(AVertex.Normal)];

  if (AVertex.Binormal >= 0 && !FBiNormalSource.empty()) v.Binormal = ListItem(FBiNormalSource, AVertex.Binormal);

  if (AVertex.Tangent < 0 || FTangentSource.empty())
    v.Flags.Include(TVertexDataFlag::CalcTangents);
  else
    v.Tangent = ListItem(FTangentSource, AVertex.Tangent);

  const int nc = std::min<int>(AVertex.Colors.Count, VertexCacheColorSets);
  if (nc > 0) {
    v.Colors.resize(size_t(nc));
    for (int j = 0; j < nc; ++j) {
      const auto& set = FColorSources[size_t(j)];
      const int32_t k = AVertex.Colors.Indices[size_t(j)];
      v.Colors[size_t(j)] = k >= 0 && static_cast<size_t>(k) < set.size() ? set[size_t(k)] : TAlphaColorF(0, 0, 0, 1);
    }
  }
}

TVertexData TVertexCache::GetVertex(const TVertexID& AVertex) const {
  TVertexData v;
  FillVertex(AVertex, v);
  return v;
}

uint32_t TVertexCache::MergeVertex(const TVertexData& AVertex, std::vector<TVertexData>& AVertices) {
  const uint64_t h = AVertex.GetHash();
  auto it = FVertexHashes.find(h);
  if (it != FVertexHashes.end()) {
    // A list emptied without clearing the maps leaves stale entries: never follow them.
    for (int32_t i = it->second.First; i >= 0 && static_cast<size_t>(i) < AVertices.size();
         i = static_cast<size_t>(i) < FHashNext.size() ? FHashNext[size_t(i)] : -1) {
      if (AVertices[size_t(i)].Equals(AVertex)) return static_cast<uint32_t>(i);
    }
  }
  const int32_t index = static_cast<int32_t>(AVertices.size());
  AVertices.push_back(AVertex);
  if (FHashNext.size() <= size_t(index)) FHashNext.resize(size_t(index) + 1, -1);
  FHashNext[size_t(index)] = -1;
  if (it == FVertexHashes.end()) {
    FVertexHashes.emplace(h, THashChain{index, index});
  } else {
    const int32_t last = it->second.Last;
    if (last >= 0 && static_cast<size_t>(last) < FHashNext.size()) FHashNext[size_t(last)] = index;
    it->second.Last = index;
  }
  return static_cast<uint32_t>(index);
}

uint32_t TVertexCache::AddCorner(const TVertexID& AVertex, std::vector<TVertexData>& AVertices) {
  // One scratch record for every corner: only vertices that are new get allocated.
  FillVertex(AVertex, FScratch);
  const uint32_t index = MergeVertex(FScratch, AVertices);
  FIndexMap->AddIndex(static_cast<uint32_t>(AVertex.Position), index);
  return index;
}

int32_t TVertexCache::AddTriangle(int32_t AIndexOffset, const TTriangleID& ATriangle,
                                  std::vector<TVertexData>& AVertices, std::vector<TTriangleIndex>& AIndices,
                                  TVertexOrder AVertexOrder) {
  int order[3];
  if (AVertexOrder == TVertexOrder::CW) {
    order[0] = 1, order[1] = 2, order[2] = 0;
  } else if (AVertexOrder == TVertexOrder::CCW) {
    order[0] = 0, order[1] = 2, order[2] = 1;
  } else {
    return AIndexOffset;
  }
  TTriangleIndex tri;
  for (int k = 0; k < 3; ++k) tri[size_t(k)] = AddCorner(ATriangle[size_t(order[k])], AVertices);
  AIndices.push_back(tri);
  return AIndexOffset + 3;
}

int32_t TVertexCache::AddPolygon(int32_t AIndexOffset, const TPolygonID& APolygon, std::vector<TVertexData>& AVertices,
                                 std::vector<TTriangleIndex>& AIndices, TVertexOrder AVertexOrder) {
  if (APolygon.size() < 3) return AIndexOffset;
  if (AVertexOrder != TVertexOrder::CW && AVertexOrder != TVertexOrder::CCW) return AIndexOffset;
  int32_t result = AIndexOffset;
  for (size_t p = 1; p + 1 < APolygon.size(); ++p) {
    const TVertexID* corners[3];
    if (AVertexOrder == TVertexOrder::CW) {
      corners[0] = &APolygon[p], corners[1] = &APolygon[p + 1], corners[2] = &APolygon[0];
    } else {
      corners[0] = &APolygon[0], corners[1] = &APolygon[p + 1], corners[2] = &APolygon[p];
    }
    TTriangleIndex tri;
    for (int k = 0; k < 3; ++k) tri[size_t(k)] = AddCorner(*corners[k], AVertices);
    AIndices.push_back(tri);
    result += 3;
  }
  return result;
}

int32_t TVertexCache::AddPoints(int32_t AIndexOffset, std::vector<TVertexData>& AVertices,
                                std::vector<uint32_t>& AIndices) {
  int32_t last = 0;
  const int32_t count = static_cast<int32_t>(FPositionSource.size());
  for (int32_t k = std::max(AIndexOffset, 0); k < count; ++k) {
    TVertexData v;
    v.Position = FPositionSource[size_t(k)];
    v.Normal = ListItem(FNormalSource, k);
    if (static_cast<size_t>(k) >= FTextureSources[0].size() || static_cast<size_t>(k) >= FColorSources[0].size())
      containers_detail::RaiseOutOfRange();
    v.TexCoords.assign(1, FTextureSources[0][size_t(k)]);
    v.Colors.assign(1, FColorSources[0][size_t(k)]);
    last = static_cast<int32_t>(AVertices.size());
    AVertices.push_back(std::move(v));
    AIndices.push_back(static_cast<uint32_t>(last));
  }
  return last;
}

// ---- tokenisers ----

namespace {

inline bool IsSeparator(char c) { return static_cast<unsigned char>(c) >= 1 && static_cast<unsigned char>(c) <= 32; }

// The run-time's float text: optional sign, digits with one decimal separator, optional
// exponent. No blanks, no "inf"/"nan".
bool ParseSingle(std::string_view AToken, char ASeparator, float& AValue) {
  if (AToken.empty() || AToken.size() >= 64) return false;
  size_t i = AToken[0] == '+' || AToken[0] == '-' ? 1 : 0;
  bool digits = false;
  for (size_t k = i; k < AToken.size(); ++k) {
    const char c = AToken[k];
    if (c >= '0' && c <= '9') {
      digits = true;
    } else if (c == ASeparator) {
    } else if (c == 'e' || c == 'E') {
    } else if ((c == '+' || c == '-') && k > 0 && (AToken[k - 1] == 'e' || AToken[k - 1] == 'E')) {
    } else {
      return false;
    }
  }
  if (!digits) return false;
  // from_chars takes no "+" and only "." as the separator: such tokens are read from a copy.
  char buf[64];
  const char* first = AToken.data();
  const char* last = first + AToken.size();
  if (AToken[0] == '+' || ASeparator != '.') {
    size_t n = 0;
    if (AToken[0] == '-') buf[n++] = '-';
    for (; i < AToken.size(); ++i) buf[n++] = AToken[i] == ASeparator ? '.' : AToken[i];
    first = buf;
    last = buf + n;
  }
  double d = 0;
  auto [end, ec] = std::from_chars(first, last, d);
  if (ec != std::errc() || end != last) return false;
  // Beyond the single range the conversion is undefined: such a token reads as 0.
  if (!(std::fabs(d) <= double(std::numeric_limits<float>::max()))) return false;
  AValue = static_cast<float>(d);
  return true;
}

}  // namespace

namespace {

// Calls AEmit with each number of AText in order.
template <class F>
void ForEachSingle(std::string_view AText, F&& AEmit) {
  char separator = '.';
  size_t i = 0;
  while (i < AText.size()) {
    while (i < AText.size() && IsSeparator(AText[i])) ++i;
    if (i >= AText.size()) break;
    const size_t start = i;
    while (i < AText.size() && !IsSeparator(AText[i])) {
      if (AText[i] == '.' || AText[i] == ',') separator = AText[i];
      ++i;
    }
    const std::string_view token = AText.substr(start, i - start);
    float value = 0;
    if (!ParseSingle(token, separator, value)) {
      if (token == "nan")
        value = std::bit_cast<float>(uint32_t(0xFFC00000u));
      else if (token == "-nan")
        value = std::bit_cast<float>(uint32_t(0x7FC00000u));
      else
        value = 0;
    }
    AEmit(value);
  }
}

}  // namespace

std::vector<float> TokenizeSingles(std::string_view AText, int32_t AStep) {
  std::vector<float> result;
  if (AText.empty()) return result;
  const size_t step = static_cast<size_t>(std::max(AStep, 1));
  result.reserve(step);
  ForEachSingle(AText, [&](float AValue) {
    // At least AStep more, and geometric: small steps must not make long texts quadratic.
    if (result.size() == result.capacity()) result.reserve(result.capacity() + std::max(step, result.capacity()));
    result.push_back(AValue);
  });
  result.shrink_to_fit();
  return result;
}

size_t TokenizeSingles(std::string_view AText, float* AValues, size_t ACapacity) {
  size_t count = 0;
  ForEachSingle(AText, [&](float AValue) {
    if (count < ACapacity) AValues[count] = AValue;
    ++count;
  });
  return count;
}

std::vector<std::string> TokenizeStrings(std::string_view AText, int32_t AStep) {
  std::vector<std::string> result;
  if (AText.empty()) return result;
  const size_t step = static_cast<size_t>(std::max(AStep, 1));
  size_t i = 0;
  while (i < AText.size()) {
    while (i < AText.size() && IsSeparator(AText[i])) ++i;
    if (i >= AText.size()) break;
    const size_t start = i;
    while (i < AText.size() && !IsSeparator(AText[i])) ++i;
    if (result.size() == result.capacity()) result.reserve(result.capacity() + std::max(step, result.capacity()));
    result.emplace_back(AText.substr(start, i - start));
  }
  return result;
}

}  // namespace quorvel
