#pragma once
// Unit Quorvel.Loader: the base class of model loaders, their registry by extension and the
// load dispatch (a package's model asset that holds a definition answers without reading),
// and what every format reader shares: the per-thread record of the running loader, the
// transfer of a vertex cache into a mesh definition (with an optional split of large meshes),
// the calculation of the normals, tangents and texture coordinates the file did not deliver,
// and the package steps of a read.
#include <cstdint>
#include <string>
#include <vector>

#include "framework/math/Point.h"

#include "framework/rtl/Exceptions.h"
#include "framework/rtl/Object.h"
#include "lib/defs/DefTypesLoadOptions.h"
#include "lib/defs/DefTypesVertexCache.h"

namespace quorvel {

class TStream;
class TMeshDef;
class TModelDef;
class TAnimationDef;
class TBitmap;
class TComponent;
class TQuorvelLoader;
class TQuorvelAssetsPackage;
class TQuorvelModelAsset;
class TQuorvelModel;

// The loader reading on this thread and the options of its load. Texture assets read the
// options' texture limits from it while Loader is set.
struct TQuorvelLoaderThreadInfo {
  TQuorvelLoader* Loader = nullptr;
  TQuorvelLoadOptions Options;
};

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

  // Opens the options' file as LoadUndefinedModelDefFromFile does, then reads the stream.
  virtual TModelDef* LoadModelDefFromFile(const TQuorvelLoadOptions& AOptions);
  TModelDef* LoadModelDefFromStream(TStream* AStream, TObject* APackage, const std::string& APath);
  TModelDef* LoadModelDefFromFile(TObject* APackage, const std::string& AFilename);
  // Opens AFilename read only and reads it with LoadAnimationDefFromStream.
  virtual TAnimationDef* LoadAnimationDefFromFile(TModelDef* AModel, const std::string& AFilename);

  // ---- models: a definition read as above, built into a model component that frees it, and
  // with the options' Caching set every animation baked into that model ----
  // Opens the file read-write and shared (nothing is opened, a nil stream read, for a loader
  // that reads its files itself).
  virtual TQuorvelModel* LoadModelFromFile(TComponent* AOwner, const TQuorvelLoadOptions& AOptions);
  // Opens the file read only, not shared: the road of the model component, so a model file
  // the user may not write loads all the same. A nil AModel raises before the file is read.
  virtual void LoadExistingModelFromFile(TQuorvelModel* AModel, const TQuorvelLoadOptions& AOptions);
  virtual void LoadExistingModelFromFile(TQuorvelModel* AModel, TObject* APackage, const std::string& AFilename,
                                         const TAnimationCachingFlags& ACaching);
  virtual TQuorvelModel* LoadModelFromStream(TComponent* AOwner, TStream* AStream, const TQuorvelLoadOptions& AOptions);
  // A nil AModel raises before anything is read (a package's asset may own what a read gives).
  virtual void LoadExistingModelFromStream(TQuorvelModel* AModel, TStream* AStream, const TQuorvelLoadOptions& AOptions);
  // Short forms: options of the path, the caching flags and the package, no asset.
  TQuorvelModel* LoadModelFromFile(TComponent* AOwner, TObject* APackage, const std::string& AFilename,
                                   const TAnimationCachingFlags& ACaching);
  TQuorvelModel* LoadModelFromStream(TComponent* AOwner, TObject* APackage, TStream* AStream, const std::string& APath,
                                     const TAnimationCachingFlags& ACaching);
  void LoadExistingModelFromStream(TQuorvelModel* AModel, TObject* APackage, TStream* AStream, const std::string& APath,
                                   const TAnimationCachingFlags& ACaching);
  // The caller keeps ADef; nil (nothing) for a nil ADef.
  static TQuorvelModel* LoadModelFromDef(TComponent* AOwner, TModelDef* ADef, const TQuorvelLoadOptions& AOptions);
  static TQuorvelModel* LoadModelFromDef(TComponent* AOwner, TModelDef* ADef, const TAnimationCachingFlags& ACaching);
  static void LoadExistingModelFromDef(TQuorvelModel* AModel, TModelDef* ADef, const TQuorvelLoadOptions& AOptions);
  static void LoadExistingModelFromDef(TQuorvelModel* AModel, TModelDef* ADef, const TAnimationCachingFlags& ACaching);

  // ---- registry: one loader per lower-cased extension with its dot; not owned ----
  // A second loader for the same extension raises EDuplicateKey.
  static void RegisterLoader(const std::string& AExt, TQuorvelLoader* ALoader);
  // Nothing when AExt is not registered.
  static void UnregisterLoader(const std::string& AExt);
  static TQuorvelLoader* GetLoaderByExtension(const std::string& AExt);

  // ---- the calling thread's record ----
  static void SetCurrentThreadLoader(TQuorvelLoader* ALoader, const TQuorvelLoadOptions& AOptions);
  // Clears Loader; the options stay until the next set.
  static void UnsetCurrentThreadLoader();
  static TQuorvelLoaderThreadInfo GetCurrentLoaderThreadInfo();

  // ---- dispatch by extension ----
  static TModelDef* LoadUndefinedModelDefFromFile(TObject* APackage, const std::string& AFilename);
  static TModelDef* LoadUndefinedModelDefFromFile(const TQuorvelLoadOptions& AOptions);
  static TModelDef* LoadUndefinedModelDefFromStream(TStream* AStream, TObject* APackage, const std::string& APath,
                                                    const std::string& AExt);
  static TModelDef* LoadUndefinedModelDefFromStream(TStream* AStream, const TQuorvelLoadOptions& AOptions);
  // Models by extension: a package's model asset that holds its definition answers without
  // reading; else the extension's loader reads ("model format not supported: %s" without one)
  // and an asset found without definition takes the new one. The short forms build options
  // of the path, the caching flags and the package.
  static TQuorvelModel* LoadUndefinedModelFromFile(TComponent* AOwner, TObject* APackage, const std::string& AFilename,
                                                   const TAnimationCachingFlags& ACaching);
  static TQuorvelModel* LoadUndefinedModelFromFile(TComponent* AOwner, const TQuorvelLoadOptions& AOptions);
  // An explicit ".q3m" is dropped first, so that the file's own extension picks the reader: a
  // package model whose file is not in the package yet is read from that file.
  static void LoadUndefinedExistingModelFromFile(TQuorvelModel* AModel, TObject* APackage, const std::string& AFilename,
                                                 const TAnimationCachingFlags& ACaching);
  static void LoadUndefinedExistingModelFromFile(TQuorvelModel* AModel, TQuorvelLoadOptions AOptions);
  static TQuorvelModel* LoadUndefinedModelFromStream(TComponent* AOwner, TObject* APackage, TStream* AStream,
                                                     const std::string& APath, const TAnimationCachingFlags& ACaching);
  static TQuorvelModel* LoadUndefinedModelFromStream(TComponent* AOwner, TStream* AStream,
                                                     const TQuorvelLoadOptions& AOptions);
  static void LoadUndefinedExistingModelFromStream(TQuorvelModel* AModel, TObject* APackage, TStream* AStream,
                                                   const std::string& APath, const TAnimationCachingFlags& ACaching);
  static void LoadUndefinedExistingModelFromStream(TQuorvelModel* AModel, TStream* AStream,
                                                   const TQuorvelLoadOptions& AOptions);
  static TAnimationDef* LoadUndefinedAnimationDefFromFile(TModelDef* AModel, const std::string& AFilename);
  // The extension comes from the model's own Filename.
  static TAnimationDef* LoadUndefinedAnimationDefFromStream(TModelDef* AModel, TStream* AStream,
                                                            const std::string& AFileName);
  // The options' model asset, else the package's model asset for the options' file (a
  // package without archive is refreshed first); null when neither.
  static TQuorvelModelAsset* FindExistingAssetInPackage(const TQuorvelLoadOptions& AOptions);

  // ---- texture limits: a limit of 0 leaves that axis free ----
  // Shrinks ABitmap, keeping its aspect, until it fits; whether it changed.
  static bool LimitTextureSize(TBitmap* ABitmap, const TPoint& ALimits);
  // Saves the file back when it changed.
  static bool LimitTextureSize(const std::string& AFileName, const TPoint& ALimits);
  // Every "*.jpg;*.jpeg;*.png" file (any case) in ADir and its subfolders.
  static void LimitTextureSizes(const std::string& ADir, const TPoint& ALimits);

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
  // What a format reader does with a package. The options' package (another class raises
  // EInvalidCast), or null.
  static TQuorvelAssetsPackage* ReaderPackage(const TQuorvelLoadOptions& AOptions);
  // The model asset that takes the reader's definition: the options' asset, else the one of
  // the options' file in the package's model group; null without a package.
  static TQuorvelModelAsset* ReaderAsset(const TQuorvelLoadOptions& AOptions, TQuorvelAssetsPackage* APackage);
  // A new empty model asset for the options' file in the package's model group.
  static TQuorvelModelAsset* AddReaderAsset(const TQuorvelLoadOptions& AOptions, TQuorvelAssetsPackage* APackage);
  // With a package, the asset takes the definition over (and stores it); ADef is returned.
  enum class TModelRoad { NewFromFile, ExistingFromFile, NewFromStream, ExistingFromStream };
  // The dispatch the four model forms share; answers the new model, or AModel.
  static TQuorvelModel* DispatchModel(TModelRoad ARoad, TComponent* AOwner, TQuorvelModel* AModel, TStream* AStream,
                                      const TQuorvelLoadOptions& AOptions);
  static TModelDef* HandToAsset(TModelDef* ADef, TQuorvelAssetsPackage* APackage, TQuorvelModelAsset* AAsset);

  bool FLoadFromStreamAllowed = true;
};

}  // namespace quorvel
