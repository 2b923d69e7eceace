#pragma once
// Unit Quorvel.Model: TQuorvelModel, the scene component of one loaded model. It draws nothing
// of its own; from its model definition it builds, as children it owns, the cameras, lights,
// meshes, segments and groups of the model, and one animation per animation definition under
// its animation manager. It owns its definition unless a package holds it.
//
// Stored with the form: the published settings, "TextureCache" and "BinaryData" (the embedded
// model data; an empty one clears the model).
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "framework/io/Stream.h"
#include "lib/defs/DefTypesLoadOptions.h"
#include "lib/scene/Mesh.h"

namespace quorvel {

class TModelDef;
class TModelMetaDef;
class TQuorvelAnimation;
class TQuorvelAnimationManager;
class TQuorvelArmature;
class TQuorvelBitmapCache;
class TAnimationDef;
class TQuorvelAssetsManager;
class TQuorvelAssetsPackage;

class TQuorvelModel : public TQuorvelMesh {
  FW_CLASS(TQuorvelModel, TQuorvelMesh)

public:
  // Named key animations (the framework's property animations), not owned.
  using TInterpolators = std::map<std::string, TComponent*>;

  explicit TQuorvelModel(TComponent* AOwner);
  ~TQuorvelModel() override;
  void AfterConstruction() override;
  void BeforeDestruction() override;
  void DefineProperties(TFiler* Filer) override;
  void Notification(TComponent* AComponent, TOperation Operation) override;
  // On a copy: the source's loaded definitions are shared (the last model holding one frees
  // it) and the copied animations join the copy's animation manager under their ids.
  void DoDuplicate(TComponent* ASource, TQuorvelDuplicator* ADuplicator) override;

  bool GetWireframe() const { return FWireframe; }
  void SetWireframe(bool Value) { FWireframe = Value; }
  TMaterialSource* GetWireframeMaterial() const { return FWireframeMat; }
  TQuorvelAnimationManager* GetAnimationManager() const { return FAnimationManager; }
  const TInterpolators& GetInterpolators() const { return FInterpolators; }
  const std::string& GetSource() const { return FSource; }
  void SetSourceValue(const std::string& Value) { FSource = Value; }
  // Reloads. Without a package name: from the embedded copy when it holds bytes, else
  // (outside form reading) from the file, then embeds a zipped copy; a failure shows in a
  // message box. With one: from the package's model asset once the manager, the package and
  // the source are known (failures reach the caller).
  void SetSource(const std::string& Value);
  const std::string& GetPackageName() const { return FPackageName; }
  // Each of the three package setters reloads when all three are known, else clears.
  void SetPackageName(const std::string& Value);
  TQuorvelAssetsManager* GetAssetsManager() const { return FAssetsManager; }
  void SetAssetsManager(TQuorvelAssetsManager* Value);
  // The definition's package, else the manager's package of PackageName; null when neither.
  TQuorvelAssetsPackage* GetPackage();
  TModelMetaDef* GetMetaData() const;
  TModelDef* GetModelDef() const;
  TBytesStream* GetBinaryData() const { return FBinaryData.get(); }
  // Takes a copy of AValue's bytes; empty bytes clear the model (the loaders that fill it
  // from the bytes come with the model storage formats).
  void SetBinaryData(TStream* AValue);
  // Clears, then rebuilds the model from the embedded copy when it holds bytes.
  void LoadFromBinaryData();
  // Embeds the current definition (and its texture bitmaps); failures reach the caller.
  void UpdateBinaryData();
  TQuorvelBitmapCache* GetTextureCache() const { return FTextureCache.get(); }

  void ResetWireframeMaterial() { FWireframeMat = nullptr; }
  void ResetInterpolators() { FInterpolators.clear(); }
  void ResetAnimationManager() { FAnimationManager = nullptr; }
  void FreeAnimationManager();
  void FreeInterpolators() { FInterpolators.clear(); }
  void FreeWireframeMaterial();
  void CreateAnimationManager();
  void CreateInterpolators() { FInterpolators.clear(); }
  void CreateWireframeMaterial();
  void CreateModelComponents();

  // Drops everything built from the definition; the settings, sources and caches stay.
  virtual void Clear();
  // ---- loading through the loader registry ----
  // The format by the file extension; the model owns the definition it gets unless a package
  // holds it, and with caching flags bakes every animation. LoadFromFile opens the file read
  // only. A package's model asset that holds its definition answers without reading. Does not
  // clear first.
  void LoadFromFile(TQuorvelAssetsPackage* APackage, const std::string& AFilename,
                    const TAnimationCachingFlags& ACaching);
  void LoadFromFile(const std::string& AFilename);
  void LoadFromFile(const TQuorvelLoadOptions& AOptions);
  void LoadFromStream(TQuorvelAssetsPackage* APackage, TStream* AStream, const std::string& APath,
                      const TAnimationCachingFlags& ACaching);
  void LoadFromStream(TStream* AStream, const std::string& APath);
  void LoadFromStream(TStream* AStream, const TQuorvelLoadOptions& AOptions);
  // A new model owned by AOwner.
  static TQuorvelModel* LoadNewModelFromFile(TComponent* AOwner, TQuorvelAssetsPackage* APackage,
                                             const std::string& AFilename, const TAnimationCachingFlags& ACaching);
  static TQuorvelModel* LoadNewModelFromFile(TComponent* AOwner, const TQuorvelLoadOptions& AOptions);
  static TQuorvelModel* LoadNewModelFromStream(TComponent* AOwner, TQuorvelAssetsPackage* APackage, TStream* AStream,
                                               const std::string& APath, const TAnimationCachingFlags& ACaching);
  static TQuorvelModel* LoadNewModelFromStream(TComponent* AOwner, TStream* AStream,
                                               const TQuorvelLoadOptions& AOptions);
  // ADef stays the caller's; nil for a nil ADef.
  static TQuorvelModel* LoadNewModelFromDef(TComponent* AOwner, TModelDef* ADef, const TAnimationCachingFlags& ACaching);
  static TQuorvelModel* LoadNewModelFromDef(TComponent* AOwner, TModelDef* ADef, const TQuorvelLoadOptions& AOptions);
  // An animation read for the model's definition (the file's extension picks the loader; for
  // a stream, the extension of the definition's own file) as a new animation component, baked
  // when ACaching is set and it is not cached yet. Nil without animation manager, or when the
  // format reads no animations on their own.
  TQuorvelAnimation* AddAnimationFromFile(const std::string& AFilename, const TAnimationCachingFlags& ACaching);
  TQuorvelAnimation* AddAnimationFromStream(TStream* AStream, const std::string& AFileName,
                                            const TAnimationCachingFlags& ACaching);
  // Builds from ADef and takes it over (as the loaders hand it); a package's definition stays
  // its model asset's.
  void LoadFromOwnedDefinition(TModelDef* ADef);
  // A definition given here stays its caller's.
  virtual void LoadFromDefinition(TModelDef* ADef);
  void LoadFromDefinition(TCustomDef* ADef) override;
  void StoreToDefinition(TCustomDef* ADef) override;
  void LoadPropertiesFromDefinition(TTransformDef* ADef) override;

  // Raises "interpolator %s already exists in %s" for a taken name.
  void AddInterpolator(const std::string& AName, TComponent* AInterpolator);
  TComponent* FindInterpolator(const std::string& AName) const;
  TComponent* FindControlByDeepSearch(const std::string& AName) override;
  void FindControlsByDeepSearch(const std::string& AName, std::map<TComponent*, bool>* AResult) override;

  // Through the armatures: read from the first, written to all.
  TQuorvelArmature* GetFirstArmature() const;
  bool GetShowJoints() const;
  void SetShowJoints(bool Value);
  TAlphaColor GetJointsColor() const;
  void SetJointsColor(TAlphaColor Value);
  // Diagnostics into the debug log: the owned-component tree, or the children tree with the
  // absolute matrices.
  void DebugOut(bool ACompHierarchy);

  // ---- definitions of interpolators and placeholder segments ----
  // The first interpolator (in name order) built from ADef; null when none is.
  TComponent* FindInterpolatorByDef(TCustomDef* ADef) const;
  TComponent* FindControlByDefDeepSearch(TCustomDef* ADef) override;
  // A segment "<AId>_Seg" stands in for the joint or armature AObj: everything it owns moves to
  // AObj (so its meshes follow AObj) and the segment goes. Nothing without such a segment.
  void ResolvingSegment(const std::string& AId, TQuorvelTransform* AObj);

protected:
  TQuorvelAnimation* CreateAnimationFromDef(TAnimationDef* ADef);
  // Source step with a package: the package's asset answers, else its file is read.
  void LoadFromPackage();
  // Options for Source in APackage; Asset is null when the package holds no such model.
  TQuorvelLoadOptions PackageLoadOptions(TQuorvelAssetsPackage* APackage) const;
  // A package's definition about to be freed or the package about to go: the model lets go
  // of it (cleared); once the package holds new definitions it loads from them again.
  void PackageDefinitionFreeing(TObject* ADef);
  void PackageFreeing(TQuorvelAssetsPackage* APackage);
  void PackageDefinitionsChanged(TQuorvelAssetsPackage* APackage);
  // Reload when manager, package and source are known; clear when no package is.
  void ReloadFromPackage();
  // Frees or unlinks the definition as ownership says; the links over the children tree go.
  void ReleaseDef();
  // Cache entries that only point at texture assets' bitmaps get copies of their own.
  void KeepTextureCacheBitmaps();
  // A cache whose entries own copies of the texture cache's bitmaps.
  TOwned<TQuorvelBitmapCache> CopyTextureCache();

  bool FWireframe = false;
  TMaterialSource* FWireframeMat = nullptr;  // owned while it has no owner
  TInterpolators FInterpolators;
  TQuorvelAnimationManager* FAnimationManager = nullptr;  // owned as a component
  TQuorvelAssetsManager* FAssetsManager = nullptr;  // a reference, cleared on its removal
  TQuorvelAssetsPackage* FPackage = nullptr;        // a reference into the manager
  std::string FPackageName;
  std::string FSource;
  TOwned<TBytesStream> FBinaryData;
  TOwned<TQuorvelBitmapCache> FTextureCache;
  // Definitions this model loaded from files or streams (loading again without Clear keeps
  // the earlier ones alive for the children built from them): freed by Clear and with it.
  std::vector<TModelDef*> FOwnedDefs;
  // Package definitions the model shows (their model assets own them); released by Clear.
  std::vector<TModelDef*> FPackageDefs;
  bool FPackageReloadPending = false;
  class TPackageWatch;
  std::unique_ptr<TPackageWatch> FPackageWatch;
};

}  // namespace quorvel
