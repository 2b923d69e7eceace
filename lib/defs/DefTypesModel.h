#pragma once
// Unit Quorvel.DefTypes, the model: TModelDef, the root of a loaded model. Besides its node
// tree it keeps registries of what is shared or referenced by id (materials, behaviours,
// lights, cameras, armatures), the metadata and, while a model is read, the late-resolution
// list of definitions whose references may point forward in the file.
#include <cstdint>
#include <string>
#include <string_view>

#include <vector>

#include "framework/rtl/Containers.h"
#include "lib/defs/DefTypesAnimation.h"
#include "lib/defs/DefTypesArmature.h"
#include "lib/defs/DefTypesBase.h"
#include "lib/defs/DefTypesLights.h"
#include "lib/defs/DefTypesMesh.h"
#include "lib/defs/DefTypesProperties.h"
#include "lib/defs/DefTypesTransform.h"

namespace quorvel {

class TMaterialDef;
class TBehaviourRefDef;
class TQuorvelTextureAsset;
class TQuorvelBitmapCache;

class TModelDef : public TMeshDef {
  QUORVEL_DEF_CLASS(TModelDef, TMeshDef)

public:
  // Definition -> the JSON object it was read from; exists only while a model is read.
  using TLateResolveList = TDictionary<TCustomDef*, const TJSONObject*>;
  // Material id (exact) -> material; a material is freed when it leaves the dictionary.
  using TMaterialDictionary = TObjectDictionary<std::string, TMaterialDef*>;
  using TBehaviourList = TObjectList<TBehaviourDef>;
  using TLightList = TObjectList<TLightDef>;
  using TCameraList = TObjectList<TCameraDef>;
  using TArmatureList = TObjectList<TArmatureDef>;
  using TControllerList = TObjectList<TControllerDef>;
  using TAnimationList = TObjectList<TAnimationDef>;

  // Id "Model_" plus a number unique to the instance.
  explicit TModelDef(TMeshDef* AOwner = nullptr, TObject* APackage = nullptr);
  ~TModelDef() override;

  TObject* GetPackage() const noexcept { return FPackage; }
  void SetPackage(TObject* AValue) { FPackage = AValue; }
  TObject* GetAsset() const noexcept { return FAsset; }
  void SetAsset(TObject* AValue) { FAsset = AValue; }
  bool GetIsStandalone() const noexcept { return FIsStandalone; }
  void SetIsStandalone(bool AValue) { FIsStandalone = AValue; }
  const std::string& GetFilename() const noexcept { return FFilename; }
  void SetFilename(std::string AValue) { FFilename = std::move(AValue); }
  TModelMetaDef* GetMetaData() const noexcept { return FMetaData.get(); }

  // The mesh's estimate plus the file name, the materials (keys included), the armatures,
  // controllers and animations.
  int64_t GetSize() const override;

  // ---- the whole model's JSON form (DefTypesModelJSON.cpp) ----
  // The mesh's pairs, then "Filename" (URL-encoded), "Behaviours", "Materials" (top-level ones:
  // sub-materials are written inside their parents), "Lights", "Cameras", "Armatures",
  // "Controllers", "Animations", "MetaData".
  TJSONObject* ToJSON() const override;
  // Reads a whole model into this one (without clearing it) and resolves forward references in
  // one late pass; the late-resolution list is freed however the read ends.
  void FromJSON(const TJSONObject* AValue);
  using TMeshDef::FromJSON;

  // Any definition by id, the first hit of: the model itself, the node tree ("#" + id and
  // ASCII case ignored), lights, cameras, animations, controllers ("#" + id, case ignored),
  // armatures, joints; null when none.
  virtual TCustomDef* FindDefById(std::string_view AId) const;

  // ---- model-wide normals: each direct child mesh (sub-meshes included), not the model's
  // own vertices ----
  using TMeshDef::CalcFaceNormals;
  using TMeshDef::CalcSmoothNormals;
  using TMeshDef::CalcTangentBinormals;
  virtual void CalcFaceNormals(bool PropagateFaceNormalsToVertices);
  virtual void CalcSmoothNormals(TMeshDefCalculateNormalMethod Method, float WeldEpsilon);
  virtual void CalcTangentBinormals();

  // ---- materials ----
  // Raises EDuplicateKey for an id that is registered already.
  void AddMaterial(const std::string& AId, TMaterialDef* AMaterial);
  TMaterialDef* GetMaterial(const std::string& AId) const;
  TMaterialDef* FindMaterialById(const std::string& AId) const { return GetMaterial(AId); }
  // Takes a material out of the dictionary without freeing it; null when it is not there.
  TMaterialDef* ExtractMaterial(const std::string& AId);
  const TMaterialDictionary& GetMaterials() const noexcept { return *FMaterials; }

  // ---- behaviours ----
  // Appends; a behaviour that is listed already is not listed again (the list owns its items).
  void AddBehaviour(TBehaviourDef* ABehaviour);
  TMaterialBehaviourDef* AddNewMaterialBehaviour();
  // The behaviour with the reference's id (exact), not the one it points to; null for null.
  TBehaviourDef* GetBehaviour(const TBehaviourRefDef* ARef) const;
  TBehaviourDef* FindBehaviourById(std::string_view AUniqueId) const;
  int32_t IndexOfBehaviourById(std::string_view AUniqueId) const;
  // Frees the first behaviour with that id; nothing when there is none (or for a null
  // reference). The references of the model's materials to a freed behaviour are cleared.
  void RemoveBehaviour(const TBehaviourRefDef* ARef);
  void RemoveBehaviourById(std::string_view AUniqueId);
  void ClearBehaviours();
  TBehaviourList* GetBehaviours() const noexcept { return FBehaviours; }

  // ---- lights, cameras, armatures: lists made on first use; an item already in its list is
  // not added again. The light and camera lists free, when the model goes, only the items
  // that are not nodes of its tree (those go with their parent); a light or camera that is
  // freed leaves its list. ----
  void AddLight(TLightDef* ALight);
  // Takes a light out of the list without freeing it; null when it is not there.
  TLightDef* ExtractLight(TLightDef* ALight);
  TLightDef* GetLight(int32_t AIndex) const;
  TLightDef* FindLightById(std::string_view AId) const;
  TLightList* GetLights() const noexcept { return FLights; }
  void AddCamera(TCameraDef* ACamera);
  TCameraDef* GetCamera(int32_t AIndex) const;
  TCameraDef* FindCameraById(std::string_view AId) const;
  TCameraDef* ExtractCamera(TCameraDef* ACamera);
  TCameraList* GetCameras() const noexcept { return FCameras; }
  // Appends unless the armature is in the list already.
  void AddArmature(TArmatureDef* AArmature);
  TArmatureDef* FindArmatureById(std::string_view AId) const;
  TArmatureList* GetArmatures() const noexcept { return FArmatures; }
  // Null for null; else the first armature whose root is ASkeletonJoint.
  TArmatureDef* GetArmatureBySkeleton(const TJointDef* ASkeletonJoint) const;
  // The same operations under their older names.
  void AddHumanoid(TArmatureDef* AArmature) { AddArmature(AArmature); }
  TArmatureDef* FindHumanoidById(std::string_view AId) const { return FindArmatureById(AId); }
  TArmatureDef* GetHumanoidBySkeleton(const TJointDef* AJoint) const { return GetArmatureBySkeleton(AJoint); }
  TArmatureList* GetHumanoids() const noexcept { return FArmatures; }
  // The first answer of the armatures in list order.
  virtual TJointDef* FindJointById(std::string_view AName) const;

  // ---- controllers: an owning list made on first use ----
  // Appends and stores the position in the controller's Index.
  void AddController(TControllerDef* AController);
  // "#" + id or the id, ASCII case ignored. Raises "controller with id "<AName>" not found"
  // when none matches and AThrowException is set.
  virtual TControllerDef* FindControllerById(std::string_view AName, bool AThrowException) const;
  // The first controller whose target is ATransform. Raises, when none and AThrowException,
  // "controller for mesh "<id>" not found" (with a list) or "controller for transform "<id>"
  // not found" (without).
  virtual TControllerDef* FindControllerByTransform(const TTransformDef* ATransform, bool AThrowException) const;
  TControllerList* GetControllers() const noexcept { return FControllers; }

  // ---- animations: an owning list made on first use; no duplicate check ----
  void AddAnimation(TAnimationDef* AAnimation);
  TAnimationDef* AddEmptyAnimation(const std::string& AId);
  virtual TAnimationDef* FindAnimationById(std::string_view AName) const;
  TAnimationList* GetAnimations() const noexcept { return FAnimations; }
  // A plain reference for the components that play animations.
  TAnimationDef* GetCurrentAnimation() const noexcept { return FCurrentAnimation; }
  void SetCurrentAnimation(TAnimationDef* AValue) noexcept { FCurrentAnimation = AValue; }
  // Bakes every selected animation that is not cached yet (ASelected empty: all; else the ids
  // among its string values) into AModel (a model of the baker's own when nil) and logs the
  // count and the time taken; answers the count. Errors of baking propagate.
  int32_t CacheAnimations(const std::vector<TValue>& ASelected, TAnimationCachingFlags AFlags,
                          TComponent* AModel = nullptr);

  // ---- texture assets: a non-owning registry; standalone assets are freed with it ----
  // The registered asset that is AAsset, else has the same OriginalFilename ("/" and "\"
  // alike, doubled separators once), else the same file-name part of Filename; null when
  // none or when AAsset is not a texture asset.
  TQuorvelTextureAsset* TryGetTextureAsset(const TObject* AAsset) const;
  // Exact test: the same object, OriginalFilename or Filename.
  bool TextureAssetExists(const TObject* AAsset) const;
  // Appends unless it exists; null is ignored; another kind of object raises EInvalidCast.
  void RegisterTextureAsset(TObject* AAsset);
  // Takes exactly that asset out of the registry (not freed); anything else is ignored.
  void UnregisterTextureAsset(const TObject* AAsset);
  // The textures of the model's materials that show AAsset let go of it without freeing it
  // (it goes elsewhere), and it leaves the registry.
  void DetachTextureAsset(const TObject* AAsset);
  // Frees the standalone assets and empties the registry; package assets stay alive.
  void ClearTextureAssets();
  const std::vector<TQuorvelTextureAsset*>& GetTextureAssets() const noexcept { return FTextureAssets; }

  // ---- bitmap cache exchange ----
  // Refills ACache with reference entries (the assets keep their bitmaps), decoding
  // textures that are not loaded yet.
  void RequestBitmapCache(TQuorvelBitmapCache* ACache);
  // Each entry becomes a new standalone texture asset that takes over the entry's bitmap.
  void ApplyBitmapCache(TQuorvelBitmapCache* ACache);

  // ---- late resolution (the whole-model reader) ----
  // Starts a read: a new, empty list.
  void BeginLateResolve();
  // Enters a definition with its JSON object (again: the newer object). Nothing outside a read.
  // Both must live until the pass; a read that fails ends without it (EndLateResolve).
  void AddLateResolve(TCustomDef* ADef, const TJSONObject* AJSON);
  // Takes a definition out of the list (a definition leaves it when it is freed).
  void RemoveLateResolve(TCustomDef* ADef);
  // Calls LateResolveFromJSON once for every entry; entries answering True are dropped.
  void LateResolve();
  // Ends a read: frees the list (also after a failed read).
  void EndLateResolve();
  TLateResolveList* GetLateResolveList() const noexcept { return FLateResolveList; }

private:
  // Whether ANode hangs in this model's node tree.
  bool IsTreeNode(const TTransformDef* ANode) const;
  // Whether ANode hangs below another light or camera of the lists: that one carries it.
  bool IsBelowListedNode(const TTransformDef* ANode) const;
  void ReleaseLightsAndCameras();
  // Clears the references of the model's materials to ABehaviour (to every behaviour when null).
  void UnlinkBehaviour(const TBehaviourDef* ABehaviour);

  TLateResolveList* FLateResolveList = nullptr;
  TObject* FPackage = nullptr;  // not owned
  TObject* FAsset = nullptr;    // not owned
  bool FIsStandalone = false;
  std::string FFilename;
  TMaterialDictionary* FMaterials;
  TBehaviourList* FBehaviours;
  TLightList* FLights = nullptr;
  TCameraList* FCameras = nullptr;
  TArmatureList* FArmatures = nullptr;
  TControllerList* FControllers = nullptr;
  TAnimationList* FAnimations = nullptr;
  TAnimationDef* FCurrentAnimation = nullptr;  // not owned
  std::vector<TQuorvelTextureAsset*> FTextureAssets;  // not owned, except standalone ones
  TOwned<TModelMetaDef> FMetaData;
};

// Scope of one whole-model read: the late-resolution list lives as long as the scope.
class TLateResolveScope {
public:
  explicit TLateResolveScope(TModelDef* AModel) : FModel(AModel) { FModel->BeginLateResolve(); }
  ~TLateResolveScope() { FModel->EndLateResolve(); }
  TLateResolveScope(const TLateResolveScope&) = delete;
  TLateResolveScope& operator=(const TLateResolveScope&) = delete;

private:
  TModelDef* FModel;
};

}  // namespace quorvel
