#pragma once
// Unit Quorvel.DefTypes, vertex cache part: the vertex record, the importers' vertex cache
// that merges separately indexed attributes into interleaved vertices, the map from source
// positions to the vertices made from them, and the number/word tokenisers of the importers.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "framework/io/Json.h"
#include "framework/math/AlphaColor.h"
#include "framework/math/Matrix3D.h"
#include "framework/math/Point.h"
#include "framework/math/Point3D.h"
#include "framework/rtl/Containers.h"
#include "framework/rtl/Object.h"
#include "framework/rtl/Set.h"

namespace quorvel {

class TMeshDef;
class TMaterialDef;
class TMaterialRefDef;

// What a vertex record lacks and must be computed.
enum class TVertexDataFlag : uint8_t { CalcNormals = 0, CalcTangents = 1, CalcTexCoords = 2 };
using TVertexDataFlags = TSet<TVertexDataFlag>;

struct TVertexData {
  TPoint3D Position;
  TPoint3D Normal;
  TPoint3D Binormal;
  TPoint3D Tangent;
  std::vector<TPointF> TexCoords;
  std::vector<TAlphaColorF> Colors;
  int32_t SmoothGroup = 0;
  TVertexDataFlags Flags;

  static TVertexData Create() { return {}; }
  // A new object the caller owns.
  TJSONObject* ToJSON() const;
  void FromJSON(const TJSONValue* AValue);
  // CRC-32 of the packed contents (the first two texture coordinates and colours only).
  uint64_t GetHash() const;
  bool Equals(const TVertexData& V) const;
};
using PVertexData = TVertexData*;

struct TVertexIDTextures {
  int8_t Count = 0;
  std::array<int32_t, 32> Indices{};
};

struct TVertexIDColors {
  int8_t Count = 0;
  std::array<int32_t, 4> Indices{};
};

// One vertex as a file names it: indices into the separate sources (negative: none).
struct TVertexID {
  int32_t Position = -1;
  int32_t Normal = -1;
  TVertexIDTextures Textures;
  int32_t Binormal = -1;
  int32_t Tangent = -1;
  TVertexIDColors Colors;
  int32_t SmoothGroup = 0;

  // A 64-bit hash of the text "<position>;<normal>;<binormal>;<tangent>;<smooth group>;"
  // followed by each used texture and colour index and ";" (the slots beyond their counts do
  // not count).
  uint64_t GetHash() const;
};

using TTriangleID = std::array<TVertexID, 3>;
using TPolygonID = std::vector<TVertexID>;
using TTriangleIndex = std::array<uint32_t, 3>;

// Source position index -> indices of the vertices made from it. Enumerates in insertion
// order; adding a key that is present raises EDuplicateKey ("Duplicates not allowed").
class TVertexIndexMap : public TObject {
  FW_CLASS(TVertexIndexMap, TObject)
public:
  struct TPair {
    uint32_t Key;
    std::vector<uint32_t> Value;
  };

  int Count() const { return static_cast<int>(FItems.size()); }
  bool ContainsKey(uint32_t AKey) const { return FIndex.count(AKey) != 0; }
  void Add(uint32_t AKey, std::vector<uint32_t> AValue);
  void Clear();
  // The entry of AKey, or nullptr.
  const std::vector<uint32_t>* Find(uint32_t AKey) const;
  std::vector<uint32_t>* Find(uint32_t AKey);
  // EListError "Item not found" for a missing key.
  const std::vector<uint32_t>& Items(uint32_t AKey) const;
  void Reserve(size_t ACount);

  // Appends ACurrent to AOriginal's entry unless it is there already.
  void AddIndex(uint32_t AOriginal, uint32_t ACurrent);
  // Clears, then copies every entry of AMap (nothing more for nil).
  void Assign(const TVertexIndexMap* AMap);

  auto begin() const { return FItems.begin(); }
  auto end() const { return FItems.end(); }

private:
  std::vector<TPair> FItems;
  std::unordered_map<uint32_t, uint32_t> FIndex;  // key -> position in FItems
};

enum class TCacheIndexKind : uint8_t { ikTriangleIndex = 0, ikPointIndex = 1 };
enum class TVertexOrder : uint8_t { CW = 0, CCW = 1 };

inline constexpr int VertexCacheTextureSets = 32;
inline constexpr int VertexCacheColorSets = 4;

class TVertexCache : public TObject {
  FW_CLASS(TVertexCache, TObject)
public:
  explicit TVertexCache(uint32_t ADefaultCapacity = 0);
  ~TVertexCache() override;

  bool GetDestroyed() const { return FDestroyed; }
  bool GetUseBuffersAsArray() const { return FUseBuffersAsArray; }
  void SetUseBuffersAsArray(bool AValue) { FUseBuffersAsArray = AValue; }
  TCacheIndexKind GetIndexKind() const { return FIndexKind; }
  void SetIndexKind(TCacheIndexKind AValue) { FIndexKind = AValue; }
  bool GetNormalsAvailable() const { return FNormalsAvailable; }
  void SetNormalsAvailable(bool AValue) { FNormalsAvailable = AValue; }
  bool GetTangentsAvailable() const { return FTangentsAvailable; }
  void SetTangentsAvailable(bool AValue) { FTangentsAvailable = AValue; }
  bool GetBinormalsAvailable() const { return FBinormalsAvailable; }
  void SetBinormalsAvailable(bool AValue) { FBinormalsAvailable = AValue; }
  bool GetTexCoordsAvailable() const { return FTexCoordsAvailable; }
  void SetTexCoordsAvailable(bool AValue) { FTexCoordsAvailable = AValue; }
  bool GetTexCoordsST() const { return FTexCoordsST; }
  void SetTexCoordsST(bool AValue) { FTexCoordsST = AValue; }

  std::vector<TPoint3D>& GetPositionSource() { return FPositionSource; }
  std::vector<TPoint3D>& GetNormalSource() { return FNormalSource; }
  std::vector<TPoint3D>& GetBinormalSource() { return FBiNormalSource; }
  std::vector<TPoint3D>& GetTangentSource() { return FTangentSource; }
  TVertexIndexMap* GetIndexMap() const { return FIndexMap.get(); }
  std::vector<TVertexData>& GetVertices() { return FVertices; }
  const std::vector<TVertexData>& GetVertices() const { return FVertices; }
  std::vector<TTriangleIndex>& GetIndices() { return FIndices; }
  const std::vector<TTriangleIndex>& GetIndices() const { return FIndices; }
  std::vector<uint32_t>& GetPointIndices() { return FPointIndices; }
  const std::vector<uint32_t>& GetPointIndices() const { return FPointIndices; }
  // For subclasses: a vertex key to a vertex index; the base only clears it.
  std::unordered_map<uint64_t, uint32_t>& GetVertexMap() { return FVertexMap; }

  virtual void ClearBuffers();
  virtual void ClearAll();
  virtual void ClearMaps();
  virtual void ClearVirtualData();
  virtual void DoOnCreateSubMesh(TMeshDef* AMesh, TMeshDef* ASubMesh);
  virtual TMaterialDef* DoOnCreateDefaultMaterial(TMeshDef* AMesh);
  virtual TMaterialRefDef* DoOnCreateMaterialRef(TMeshDef* AMesh, TMaterialDef* AMaterial);

  // ---- sources; each adder answers the new entry's index ----
  int32_t AddPositionSource(const std::vector<float>& ASource);
  int32_t AddPositionSource(const TPoint3D& ASource);
  int32_t AddNormalSource(const std::vector<float>& ASource);
  int32_t AddNormalSource(const TPoint3D& ASource);
  int32_t AddBinormalSource(const std::vector<float>& ASource);
  int32_t AddBinormalSource(const TPoint3D& ASource);
  int32_t AddTangentSource(const std::vector<float>& ASource);
  int32_t AddTangentSource(const TPoint3D& ASource);
  // The index of the last one; -1 for an empty array.
  int32_t AddTangentSource(const std::vector<TVector3D>& ASource);
  int32_t AddTextureSource(int32_t AIndex, const std::vector<float>& ASource, bool AConvertToUV);
  int32_t AddTextureSource(int32_t AIndex, const TPointF& ASource, bool AConvertToUV);
  int32_t AddColorSource(int32_t AIndex, const std::vector<float>& ASource);
  int32_t AddColorSource(int32_t AIndex, const TAlphaColorF& ASource);
  void SetPositionSource(const std::vector<float>& ASource);
  void SetNormalSource(const std::vector<float>& ASource);
  void SetNormalSource(const std::vector<float>& ASource, const TMatrix3D& ATransform);
  void SetBiNormalSource(const std::vector<float>& ASource);
  void SetTangentSource(const std::vector<float>& ASource);
  void SetTextureSource(int32_t AIndex, const std::vector<float>& ASource, bool AConvertToUV, int32_t AStride = 2);
  void SetColorSource(int32_t AIndex, const std::vector<float>& ASource);
  // nullptr outside 0..31 (0..3).
  std::vector<TPointF>* GetTextureSourceArray(int32_t AIndex);
  std::vector<TAlphaColorF>* GetColorSourceArray(int32_t AIndex);

  // ---- producing vertices ----
  TVertexData GetVertex(const TVertexID& AVertex) const;
  // The index in AVertices of a vertex equal to AVertex, appending a copy when there is none.
  uint32_t MergeVertex(const TVertexData& AVertex, std::vector<TVertexData>& AVertices);
  int32_t AddTriangle(int32_t AIndexOffset, const TTriangleID& ATriangle, std::vector<TVertexData>& AVertices,
                      std::vector<TTriangleIndex>& AIndices, TVertexOrder AVertexOrder);
  int32_t AddPolygon(int32_t AIndexOffset, const TPolygonID& APolygon, std::vector<TVertexData>& AVertices,
                     std::vector<TTriangleIndex>& AIndices, TVertexOrder AVertexOrder);
  int32_t AddPoints(int32_t AIndexOffset, std::vector<TVertexData>& AVertices, std::vector<uint32_t>& AIndices);

protected:
  bool FDestroyed = false;
  std::vector<TPoint3D> FPositionSource;
  std::vector<TPoint3D> FNormalSource;
  std::vector<TPoint3D> FBiNormalSource;
  std::vector<TPoint3D> FTangentSource;
  std::array<std::vector<TPointF>, VertexCacheTextureSets> FTextureSources;
  std::array<std::vector<TAlphaColorF>, VertexCacheColorSets> FColorSources;
  TOwned<TVertexIndexMap> FIndexMap;
  std::unordered_map<uint64_t, uint32_t> FVertexMap;
  // GetHash -> first and last vertex of that hash; FHashNext chains the rest in order.
  struct THashChain {
    int32_t First;
    int32_t Last;
  };
  std::unordered_map<uint64_t, THashChain> FVertexHashes;
  std::vector<int32_t> FHashNext;
  std::vector<TVertexData> FVertices;
  std::vector<TTriangleIndex> FIndices;
  std::vector<uint32_t> FPointIndices;
  TCacheIndexKind FIndexKind = TCacheIndexKind::ikTriangleIndex;
  bool FUseBuffersAsArray = false;
  bool FNormalsAvailable = false;
  bool FTangentsAvailable = false;
  bool FBinormalsAvailable = false;
  bool FTexCoordsAvailable = false;
  bool FTexCoordsST = false;

private:
  void FillVertex(const TVertexID& AVertex, TVertexData& AResult) const;
  uint32_t AddCorner(const TVertexID& AVertex, std::vector<TVertexData>& AVertices);
  TVertexData FScratch;
};

// Numbers separated by blanks and control characters; "." and "," each switch the decimal
// separator from where they appear on. Unreadable tokens give 0 ("nan": 0xFFC00000, "-nan":
// 0x7FC00000 as bits). AStep is the growth step of the result.
std::vector<float> TokenizeSingles(std::string_view AText, int32_t AStep = 16);
// The same numbers without an allocation: the first ACapacity go to AValues; answers how many
// the text holds.
size_t TokenizeSingles(std::string_view AText, float* AValues, size_t ACapacity);
// Words separated by blanks and control characters.
std::vector<std::string> TokenizeStrings(std::string_view AText, int32_t AStep = 16);

}  // namespace quorvel
