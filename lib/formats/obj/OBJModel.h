#pragma once
// Unit Quorvel.OBJ.Model: the Wavefront OBJ text reader and its MTL material-library reader.
// A TOBJModel fills itself from the text: faces become fans of triangles with the winding
// reversed and three vertices of their own, groups and material switches become a tree of
// mesh definitions under the model.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "lib/defs/DefTypesMaterial.h"
#include "lib/defs/DefTypesModel.h"
#include "lib/defs/DefTypesVertexCache.h"

namespace quorvel {

class TStream;

inline constexpr int OBJMaxPolygonCorners = 12;
// The name of a group statement that gives none.
inline constexpr const char* OBJDefaultGroupName = "default";

// One face corner; indices are zero-based, -1 absent.
struct TOBJVertexID {
  int32_t Position = 0;
  int32_t Normal = 0;
  int32_t UVCoords = 0;
  int32_t SmoothGroup = 0;
  void Clear() { *this = {}; }
};

struct TOBJPolygonID {
  uint8_t Count = 0;
  std::array<TOBJVertexID, OBJMaxPolygonCorners> Vertices{};
};

// A face corner as a segment stores it: the smoothing group is always 0, so large files keep
// 12 bytes per corner instead of a whole 12-corner record per face.
struct TOBJCorner {
  int32_t Position = 0;
  int32_t Normal = 0;
  int32_t UVCoords = 0;
};

class TOBJCache : public TVertexCache {
  FW_CLASS(TOBJCache, TVertexCache)
public:
  explicit TOBJCache(uint32_t ADefaultCapacity = 65535);

  // The OBJ model registers its materials itself.
  TMaterialDef* DoOnCreateDefaultMaterial(TMeshDef* AMesh) override;
  TMaterialRefDef* DoOnCreateMaterialRef(TMeshDef* AMesh, TMaterialDef* AMaterial) override;

  // Fan from the first corner, corners reversed; answers AIndexOffset + 3 per triangle.
  int32_t AddPolygon(int32_t AIndexOffset, const TOBJPolygonID& APolygon, std::vector<TVertexData>& AVertices,
                     std::vector<TTriangleIndex>& AIndices);
  using TVertexCache::GetVertex;
  TVertexData GetVertex(const TOBJVertexID& AVertex) const;

  // The sources a corner names: its position (an index outside the list raises), its normal
  // (null: to be calculated) and its texture coordinate (HasUV false: to be calculated).
  struct TCornerData {
    const TPoint3D* Position;
    const TPoint3D* Normal;
    TPointF UV;
    bool HasUV;
  };
  TCornerData Resolve(int32_t APosition, int32_t ANormal, int32_t AUVCoords) const;
};

// One group of the file; owns its children.
class TOBJSegment {
public:
  TOBJSegment(TOBJSegment* AParent, std::string AName);

  const std::string& GetName() const noexcept { return FName; }
  TOBJSegment* GetParent() const noexcept { return FParent; }
  TMaterialDef* GetMaterial() const noexcept { return FMaterial; }
  void SetMaterial(TMaterialDef* AValue) noexcept { FMaterial = AValue; }
  int32_t SegmentCount() const noexcept { return int32_t(FSegments.size()); }
  TOBJSegment* GetSegment(int32_t AIndex) const { return FSegments.at(size_t(AIndex)).get(); }
  int32_t FaceCount() const noexcept { return int32_t(FCornerCounts.size()); }

  // A new last child.
  TOBJSegment* AddChild(std::string AName);
  // This segment or the first descendant (depth first) of that name, ASCII case ignored.
  TOBJSegment* FindSegmentByName(std::string_view AName);
  void AddPolygon(const TOBJPolygonID& APolygon);
  void AddPolygon(const TOBJCorner* ACorners, uint8_t ACount);
  // This segment's mesh (added to AParent when given) with the meshes of its children.
  TMeshDef* GetMesh(TMeshDef* AParent, TOBJCache* ACache);

private:
  // The mesh's buffers written straight from the corners, without a vertex record each.
  void WriteBuffers(TMeshDef* AMesh, TOBJCache* ACache, int64_t ATriangles) const;
  // Through the cache's vertex records (for meshes the loader splits).
  void AddThroughCache(TMeshDef* AMesh, TOBJCache* ACache) const;

  std::string FName;
  TOBJSegment* FParent;
  std::vector<std::unique_ptr<TOBJSegment>> FSegments;
  TMaterialDef* FMaterial = nullptr;
  // Faces in file order: the corner count of each, and all their corners one after another.
  std::vector<uint8_t> FCornerCounts;
  std::vector<TOBJCorner> FCorners;
};

class TOBJModel : public TModelDef {
  QUORVEL_DEF_CLASS(TOBJModel, TModelDef)
public:
  explicit TOBJModel(TMeshDef* AOwner = nullptr, TObject* APackage = nullptr);
  ~TOBJModel() override;

  TMaterialDef* GetDefaultMaterial() const noexcept { return FDefaultMaterial; }

  // Opens the file read only and reads it.
  virtual void LoadFromFile(const std::string& AFileName);
  // APath names the OBJ file: its folder holds the material libraries and relative textures.
  virtual void LoadFromStream(TStream* AStream, const std::string& APath);
  // Reads one MTL library into this model's materials.
  void LoadMaterialLibrary(TStream* AStream);

private:
  struct TReadState;
  void ReadLine(TReadState& S, const std::string& ALine, bool AAfterFace, bool& AIsFace);
  void ReadVertexData(TReadState& S, std::string_view ALine);
  void ReadFace(TReadState& S, std::string_view ALine);
  void AddSegment(TReadState& S, const std::string& AName);
  void ReadMaterialLibraryStatement(const std::string& ALine);
  void ReadTextureMap(TMaterialDef* AMaterial, const std::string& ALine, int32_t ARow);
  std::string ModelFolder() const;

  TMaterialDef* FDefaultMaterial = nullptr;  // owned by the material dictionary
};

}  // namespace quorvel
