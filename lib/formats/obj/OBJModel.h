#pragma once
// Unit Quorvel.OBJ.Model: the Wavefront OBJ text reader and its MTL material-library reader.
// A TOBJModel fills itself from the text: faces become fans of triangles with the winding
// reversed and three vertices of their own, groups and material switches become a tree of
// mesh definitions under the model.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
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
  const std::vector<TOBJPolygonID>& GetFaces() const noexcept { return FFaceVertices; }

  // A new last child.
  TOBJSegment* AddChild(std::string AName);
  // This segment or the first descendant (depth first) of that name, ASCII case ignored.
  TOBJSegment* FindSegmentByName(std::string_view AName);
  void AddPolygon(const TOBJPolygonID& APolygon) { FFaceVertices.push_back(APolygon); }
  // This segment's mesh (added to AParent when given) with the meshes of its children.
  TMeshDef* GetMesh(TMeshDef* AParent, TOBJCache* ACache);

private:
  std::string FName;
  TOBJSegment* FParent;
  std::vector<std::unique_ptr<TOBJSegment>> FSegments;
  TMaterialDef* FMaterial = nullptr;
  std::vector<TOBJPolygonID> FFaceVertices;
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
  void ReadVertexData(TReadState& S, const std::string& ALine, const std::string& ALower);
  void ReadFace(TReadState& S, const std::string& ALine);
  void AddSegment(TReadState& S, const std::string& AName);
  void ReadMaterialLibraryStatement(const std::string& ALine);
  void ReadTextureMap(TMaterialDef* AMaterial, const std::string& ALine, int32_t ARow);
  std::string ModelFolder() const;

  TMaterialDef* FDefaultMaterial = nullptr;  // owned by the material dictionary
};

}  // namespace quorvel
