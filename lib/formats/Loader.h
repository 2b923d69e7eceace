#pragma once
// Unit Quorvel.Loader, first slice: the base class of model loaders with what every format
// reader shares for meshes: the transfer of a vertex cache into a mesh definition (with an
// optional split of large meshes) and the calculation of the normals, tangents and texture
// coordinates the file did not deliver. The registry and the load dispatch come later, in
// this class.
#include <cstdint>
#include <vector>

#include "framework/rtl/Exceptions.h"
#include "framework/rtl/Object.h"
#include "lib/defs/DefTypesLoadOptions.h"
#include "lib/defs/DefTypesVertexCache.h"

namespace quorvel {

class TStream;
class TMeshDef;
class TModelDef;
class TAnimationDef;

// Carries the "model format not supported" messages of the dispatch.
QUORVEL_EXCEPTION(EQuorvelLoaderException, Exception);

// Splitting of large meshes in LoadDefFromData: off unless an application sets both. A
// sub-mesh then holds runs of whole triangles, MeshSplitLimit div 3 of them (at least one),
// or MeshSplitLimit points (at least one), with the vertices that run uses.
extern bool MeshSplitEnabled;
extern int32_t MeshSplitLimit;

class TQuorvelLoader : public TObject {
  FW_CLASS(TQuorvelLoader, TObject)

public:
  TQuorvelLoader() = default;

  bool GetLoadFromStreamAllowed() const noexcept { return FLoadFromStreamAllowed; }

  // Each format reads a stream into a new model definition the caller owns.
  virtual TModelDef* LoadModelDefFromStream(TStream* AStream, const TQuorvelLoadOptions& AOptions) = 0;
  // Null: no registered format reads animations on their own.
  virtual TAnimationDef* LoadAnimationDefFromStream(TModelDef* AModel, TStream* AStream, const std::string& AFileName);

  // ---- class operations ----
  // Moves the cache's vertices with its point indices (ikPointIndex) or its triangles into
  // ADef, asks the cache for the default material and its reference, then computes what the
  // cache's flags say is missing. Nothing for null arguments or a cache without vertices.
  static void LoadDefFromData(TMeshDef* ADef, TVertexCache* ACache);
  static void LoadDefFromData(TMeshDef* ADef, TVertexCache* ACache, const std::vector<TVertexData>& AVertices,
                              const std::vector<TTriangleIndex>& AIndices);
  static void LoadDefFromData(TMeshDef* ADef, TVertexCache* ACache, const std::vector<TVertexData>& AVertices,
                              const std::vector<uint32_t>& AIndices);
  // Smooth normals (shared indices, sub-meshes included), tangents and spherical texture
  // coordinates, each only when the cache says the file lacked them.
  static void AutoCalculateVertexData(TMeshDef* ADef, TVertexCache* ACache);

protected:
  bool FLoadFromStreamAllowed = true;
};

}  // namespace quorvel
