#pragma once
// Unit Quorvel.Mesh: TQuorvelMesh (the drawable mesh: framework mesh data or, when static, its
// definition's GPU buffers, a material source, instance transforms and its direct sub-meshes),
// the instance collection, the read-only listings a mesh publishes about its subtree, and
// TQuorvelVertexGroup (an index list drawn over its parent mesh's vertices).
//
// A mesh never draws its children: the viewport's render list draws every mesh on its own.
// Subtree setters apply to the mesh and then to every mesh of Meshes, recursively.
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "framework/classes/Collection.h"
#include "framework/gui3d/Material.h"
#include "framework/gui3d/MeshData.h"
#include "framework/math/Position3D.h"
#include "lib/defs/DefTypesJoints.h"
#include "lib/defs/DefTypesVertexCache.h"
#include "lib/materials/MaterialBehaviour.h"
#include "lib/scene/Transform.h"

namespace quorvel {

class TQuorvelMesh;
class TMeshDef;
class TModelDef;
class TMaterialRefDef;
class TVertexJointsList;
class TControllerDef;
class TQuorvelDefaultMaterialSource;

// Ordinals are stored in definitions ("WrapMode"): keep them.
enum class TMeshWrapMode : uint8_t { Original = 0, Fit = 1, Stretch = 2, Resize = 3 };
FW_ENUM(TMeshWrapMode, Original, Fit, Stretch, Resize)

// ---- instances ------------------------------------------------------------------------------

class TQuorvelMeshInstance : public TCollectionItem {
  FW_CLASS(TQuorvelMeshInstance, TCollectionItem)

public:
  explicit TQuorvelMeshInstance(TCollection* Collection);
  ~TQuorvelMeshInstance() override;
  void AfterConstruction() override;
  void BeforeDestruction() override;

  std::string GetDisplayName() const override { return FName; }
  void SetDisplayName(const std::string& Value) override { FName = Value; }
  TPosition3D* GetPosition() const { return FPosition.get(); }
  TPosition3D* GetScale() const { return FScale.get(); }
  TPosition3D* GetRotationAngle() const { return FRotationAngle.get(); }
  TPosition3D* GetRotationCenter() const { return FRotationCenter.get(); }
  const TMatrix3D& GetTransform() const { return FTransform; }
  const TQuaternion3D& GetQuaternion() const { return FQuaternion; }

  // Transform kept as given; position, scale and rotation derived from it without notice.
  void SetTransform(const TMatrix3D& ATransform);
  virtual void MatrixChanged(TObject* Sender);
  virtual void ResetRotationAngle();
  void AssignTo(TPersistent* Dest) override;

protected:
  virtual void RotationChanged(TObject* Sender);
  virtual void RotationXChanged(TObject* Sender);
  virtual void RotationYChanged(TObject* Sender);
  virtual void RotationZChanged(TObject* Sender);

private:
  void NotifyCollection();

  std::string FName;
  TMatrix3D FTransform = TMatrix3D::Identity();
  TOwned<TPosition3D> FPosition;
  TQuaternion3D FQuaternion = TQuaternion3D::Identity();
  TOwned<TPosition3D> FRotationAngle;
  TPoint3D FSavedRotationAngle;
  TOwned<TPosition3D> FScale;
  TOwned<TPosition3D> FRotationCenter;
  int32_t FUpdating = 0;
};

// Cache entry 0 is the base transform (the mesh's draw overwrites it with its model matrix);
// entries 1..N are the instances, so a mesh with N instances is drawn N + 1 times.
class TQuorvelMeshInstances : public TOwnedCollection {
  FW_CLASS(TQuorvelMeshInstances, TOwnedCollection)

public:
  TQuorvelMeshInstances(TPersistent* AOwner, const TClass* AItemClass);

  bool GetCacheUpdated() const { return FCacheUpdated; }
  void SetCacheUpdated(bool Value) { FCacheUpdated = Value; }
  const TMatrix3D* GetCachedInstancesPtr();
  int32_t GetCachedInstancesCount();
  const std::vector<TMatrix3D>& GetCachedInstances() const { return FCachedInstances; }

  // Stale cache rebuilt from the items, the owner mesh's subtree updated.
  void InstancesChanged();
  void UpdateInstanceCache();
  // The cache := AInstances[i] x ABaseTransform; the owner is not told.
  void UpdateInstanceCache(const TMatrix3D& ABaseTransform, const std::vector<TMatrix3D>& AInstances);
  const std::vector<TMatrix3D>& ToArray();
  TMatrix3D GetInstance(int32_t AIndex) const;
  void SetInstance(int32_t AIndex, const TMatrix3D& AValue);
  int32_t AddInstance(const TMatrix3D& ATransform, bool ACreateItem, const std::string& AName);
  bool DeleteInstance(int32_t AIndex);
  void ClearInstances();

protected:
  void Update(TCollectionItem* Item) override;

private:
  std::vector<TMatrix3D> FCachedInstances;
  bool FCacheUpdated = false;
};

// ---- read-only listings -----------------------------------------------------------------------

class TQuorvelReadOnlyCollection : public TOwnedCollection {
  FW_CLASS(TQuorvelReadOnlyCollection, TOwnedCollection)

public:
  using TOwnedCollection::TOwnedCollection;
  // The removal of AComponent clears every item's reference to it.
  virtual void Notification(TComponent* AComponent, TOperation AOperation);

protected:
  // The object an item refers to (for the identity searches and notifications).
  virtual TObject* Referenced(TCollectionItem* AItem) const = 0;
  virtual void ClearReference(TCollectionItem* AItem) = 0;
  bool Lists(const TObject* AObject) const;
};

class TQuorvelMeshMaterialCollectionItem : public TCollectionItem {
  FW_CLASS(TQuorvelMeshMaterialCollectionItem, TCollectionItem)

public:
  using TCollectionItem::TCollectionItem;
  TMaterialSource* GetMaterial() const { return FMaterial; }
  std::string GetDisplayName() const override { return FMaterial ? FMaterial->GetName() : std::string(); }
  void SetDisplayName(const std::string&) override {}
  void AssignTo(TPersistent* Dest) override;

private:
  friend class TQuorvelMeshMaterialCollection;
  TMaterialSource* FMaterial = nullptr;  // weak
};

class TQuorvelMeshMaterialCollection : public TQuorvelReadOnlyCollection {
  FW_CLASS(TQuorvelMeshMaterialCollection, TQuorvelReadOnlyCollection)

public:
  using TQuorvelReadOnlyCollection::TQuorvelReadOnlyCollection;
  static void Update(TQuorvelMeshMaterialCollection* ACollection, TQuorvelMesh* AMesh);
  bool MaterialExists(const TMaterialSource* AMaterial) const { return Lists(AMaterial); }
  // Always enters the framework bracket; False when already inside an update.
  bool BeginUpdateEx();
  void EndUpdateEx();

protected:
  TObject* Referenced(TCollectionItem* AItem) const override;
  void ClearReference(TCollectionItem* AItem) override;

private:
  int32_t FUpdating = 0;
};

class TQuorvelMeshCollectionItem : public TCollectionItem {
  FW_CLASS(TQuorvelMeshCollectionItem, TCollectionItem)

public:
  using TCollectionItem::TCollectionItem;
  TQuorvelMesh* GetMesh() const { return FMesh; }
  std::string GetDisplayName() const override;
  void SetDisplayName(const std::string&) override {}
  void AssignTo(TPersistent* Dest) override;

private:
  friend class TQuorvelMeshCollection;
  TQuorvelMesh* FMesh = nullptr;  // weak
};

class TQuorvelMeshCollection : public TQuorvelReadOnlyCollection {
  FW_CLASS(TQuorvelMeshCollection, TQuorvelReadOnlyCollection)

public:
  using TQuorvelReadOnlyCollection::TQuorvelReadOnlyCollection;
  // The direct sub-meshes of AMesh; not while the collection is in an update.
  static void Update(TQuorvelMeshCollection* ACollection, TQuorvelMesh* AMesh);
  bool MeshExists(const TQuorvelMesh* AMesh) const { return Lists(reinterpret_cast<const TObject*>(AMesh)); }
  void BeginUpdateEx() { ++FUpdating; }
  void EndUpdateEx() { --FUpdating; }

protected:
  TObject* Referenced(TCollectionItem* AItem) const override;
  void ClearReference(TCollectionItem* AItem) override;

private:
  int32_t FUpdating = 0;
};

class TQuorvelMeshBehaviourCollectionItem : public TCollectionItem {
  FW_CLASS(TQuorvelMeshBehaviourCollectionItem, TCollectionItem)

public:
  using TCollectionItem::TCollectionItem;
  TQuorvelMaterialBehaviour* GetBehaviour() const { return FBehaviour; }
  // Detaches the old behaviour from the owning mesh's tree and attaches the new one.
  void SetBehaviour(TQuorvelMaterialBehaviour* Value);
  std::string GetDisplayName() const override;
  void SetDisplayName(const std::string&) override {}
  void AssignTo(TPersistent* Dest) override;

private:
  friend class TQuorvelMeshBehaviourCollection;
  TQuorvelMaterialBehaviour* FBehaviour = nullptr;  // weak
};

class TQuorvelMeshBehaviourCollection : public TQuorvelReadOnlyCollection {
  FW_CLASS(TQuorvelMeshBehaviourCollection, TQuorvelReadOnlyCollection)

public:
  using TQuorvelReadOnlyCollection::TQuorvelReadOnlyCollection;
  // The behaviours of the default material sources of AMesh's tree, each once.
  static void Update(TQuorvelMeshBehaviourCollection* ACollection, TQuorvelMesh* AMesh);
  bool BehaviourExists(const TQuorvelMaterialBehaviour* ABehaviour) const { return Lists(ABehaviour); }
  // Always enters the framework bracket; False when already inside an update.
  bool BeginUpdateEx();
  void EndUpdateEx();

protected:
  TObject* Referenced(TCollectionItem* AItem) const override;
  void ClearReference(TCollectionItem* AItem) override;

private:
  int32_t FUpdating = 0;
};

// ---- mesh -------------------------------------------------------------------------------------

class TQuorvelMesh : public TQuorvelTransform {
  FW_CLASS(TQuorvelMesh, TQuorvelTransform)

public:
  explicit TQuorvelMesh(TComponent* AOwner);
  ~TQuorvelMesh() override;
  void AfterConstruction() override;
  void BeforeDestruction() override;
  void Loaded() override;
  void Notification(TComponent* AComponent, TOperation Operation) override;

  TQuorvelControl* GetModel();
  void SetModel(TQuorvelControl* Value) { FModel = Value; }
  virtual TMeshData* GetMeshData() { return FData.get(); }
  TQuorvelMeshInstances* GetInstances() const { return FInstances.get(); }
  void SetInstances(TQuorvelMeshInstances* Value);
  const std::vector<TQuorvelMesh*>& GetMeshes() const { return FMeshes; }
  TQuorvelMeshMaterialCollection* GetMaterials() const { return FMaterials.get(); }
  TQuorvelMeshCollection* GetMeshCollection() const { return FMeshCollection.get(); }
  TQuorvelMeshBehaviourCollection* GetBehaviours() const { return FBehaviours.get(); }
  TVertexJointsList* GetVertexJoints() const { return FVertexJoints; }
  const std::string& GetReferencedNameValue() const { return FReferencedName; }
  void SetReferencedName(const std::string& Value) { FReferencedName = Value; }
  std::string GetReferencedName() const override { return FReferencedName; }
  TMeshDef* GetMeshDef() const;
  // Whether the definition in use is one this mesh made (and so frees).
  bool GetOwnsDef() const;

  TMeshWrapMode GetWrapMode() const { return FWrapMode; }
  virtual void SetWrapMode(TMeshWrapMode Value);
  bool GetShowNormals() const { return FShowNormals; }
  void SetShowNormals(bool Value) { FShowNormals = Value; }
  TAlphaColor GetNormalsColor() const { return FNormalsColor; }
  void SetNormalsColor(TAlphaColor Value) { FNormalsColor = Value; }
  bool GetFlatShading() const { return FFlatShading; }
  void SetFlatShading(bool Value);
  virtual TMaterialSource* GetMaterialSource() const { return FMaterialSource; }
  virtual void SetMaterialSource(TMaterialSource* Value);
  virtual bool GetIsStatic() const;
  virtual void SetIsStatic(bool Value);

  void SetFrustumCullingCheck(bool Value) override;
  virtual void SetTwoSideValue(bool AValue);
  virtual void SetOpacityValue(float AValue);
  virtual void SetVisibility(bool AValue);
  virtual void SetHitTestValue(bool AValue);
  void SetWidth(float Value) override;
  void SetHeight(float Value) override;
  void SetDepth(float Value) override;

  // ---- instances (Instances; cache index 0 is the mesh itself) ----
  int32_t AddInstance(const TMatrix3D& ATransform);
  int32_t AddInstanceItem(const std::string& AName, const TMatrix3D& ATransform);
  TQuorvelMeshInstance* AddInstanceItem(const std::string& AName);
  bool DeleteInstance(int32_t AIndex);
  void ClearInstances();
  TMatrix3D GetInstance(int32_t AIndex) const;
  void SetInstance(int32_t AIndex, const TMatrix3D& AValue);
  virtual void UpdateInstanceCaches(const TMatrix3D& ABaseTransform, const std::vector<TMatrix3D>& AInstances);

  static TVertexBuffer* CreateVertexBuffer();
  virtual void RegisterWithParentMesh();
  virtual void UnregisterFromParentMesh();

  // ---- geometry ----
  virtual TMatrix3D GetMeshMatrix();
  TBoundingBox GetBoundingBox() override;
  virtual TBoundingBox GetUnwrappedBoundingBox();
  virtual bool RayCastIntersect(const TPoint3D& ARayPos, const TPoint3D& ARayDir, TPoint3D& AIntersection,
                                TPoint3D& ANormal);

  // ---- definitions ----
  void LoadFromDefinition(TCustomDef* ADef) override;
  void StoreToDefinition(TCustomDef* ADef) override;
  void LoadHierarchyFromDefinition(TTransformDef* ADef) override;
  void LoadPropertiesFromDefinition(TTransformDef* ADef) override;
  virtual void LoadMeshDataFromDefinition(TMeshDef* ADef, TMeshData* AData);
  // Takes ADef as a definition this mesh made: freed with the mesh (never copied by duplication).
  void AdoptOwnDef(TMeshDef* ADef);
  // On a copy: the copy's registry, its place in the parent mesh's Meshes, the source's mesh
  // data, its own definition where the source drew from one it made, and its own helper hook.
  void DoDuplicate(TComponent* ASource, TQuorvelDuplicator* ADuplicator) override;

  void ComputeTangentsAndBinormals();
  void ComputeAllNormalsAndTangents();
  void SolveTangents(TMeshData* AData);

  std::vector<TPoint3D> GetCoordinates();
  // Raises "failed to set vertices in mesh - invalid index" for an index outside the buffer.
  void SetCoordinates(const std::vector<TPoint3D>& Value);
  void SetVertices(const std::map<uint32_t, TVertexData>& Value);

  // Made by AController's skin for this mesh's definition when none exists yet (may stay nil
  // without vertex or index data); an existing list stays.
  void GenerateVertexJoints(TControllerDef* AController, const TMatrix3D& ABindShapeMatrix);
  bool VertexJointsExist() const { return FVertexJoints != nullptr; }
  void ClearVertexJoints();

  void ApplyMaterialSource(TMaterialSource* ASource);
  void ApplyMaterialToAll(TMaterialSource* AMaterial);
  // On the default material sources of the subtree. ARenderPass must be a render pass
  // controller; anything else changes nothing anywhere.
  void SetEnvironmentMapping(TComponent* ARenderPass, float AReflections, float ARefractions);
  // Only sources whose environment pass is ARenderPass are reset.
  void UnsetEnvironmentMapping(TComponent* ARenderPass);
  void UnsetAllEnvironmentMappings();
  void SetPBRProperties(float AReflections, float ARefractions, float AAOBias, float ARoughness, float AMetalness);
  void AttachMaterialBehaviour(TQuorvelMaterialBehaviour* ABehaviour);
  void DetachMaterialBehaviour(TQuorvelMaterialBehaviour* ABehaviour);
  // Whether the default material source of this mesh or of any mesh below it holds ABehaviour.
  bool MaterialBehaviourAttached(TQuorvelMaterialBehaviour* ABehaviour) const;

  void Render() override;
  virtual void DoRenderHelpers(TObject* ASender, TContext3D* AContext);

protected:
  void DoAddObject(TFwObject* AObject) override;
  void DoInsertObject(int Index, TFwObject* AObject) override;
  void DoRemoveObject(TFwObject* AObject) override;
  bool DoRayCastIntersect(const TPoint3D& RayPos, const TPoint3D& RayDir, TPoint3D& Intersection) override;
  void SolveMeshDataTangents();
  // A primitive's build goes to its definition: the mesh data's buffers are copied into it and
  // emptied, and the definition is static again (its GPU copy made) however the copy ends.
  void HandOverToDefinition();
  void UpdateMaterialsCollection();
  void UpdateMeshCollection();
  void UpdateBehavioursCollection();
  void UpdateListings();
  // Clears Def on this control and every TQuorvelControl below it.
  void UnlinkDefs();
  void ChildrenChanged();
  // AApply on the default material source of every mesh of the subtree, depth first.
  void ForEachDefaultSource(const std::function<void(TQuorvelDefaultMaterialSource*)>& AApply);

  TQuorvelControl* FModel = nullptr;  // cache, not owned
  TOwned<TMeshData> FData;
  TOwned<TQuorvelMeshInstances> FInstances;
  TMeshWrapMode FWrapMode = TMeshWrapMode::Original;
  bool FShowNormals = false;
  TAlphaColor FNormalsColor = MakeAlphaColor(0xFFFF0000);
  TMaterialSource* FMaterialSource = nullptr;  // not owned
  std::string FReferencedName;
  TVertexJointsList* FVertexJoints = nullptr;  // owned
  std::vector<TQuorvelMesh*> FMeshes;          // not owned
  bool FFlatShading = false;
  TOwned<TQuorvelMeshMaterialCollection> FMaterials;
  TOwned<TQuorvelMeshCollection> FMeshCollection;
  TOwned<TQuorvelMeshBehaviourCollection> FBehaviours;
  // The definition this mesh made (primitives): freed with the mesh; not copied.
  TMeshDef* FOwnDef = nullptr;
  // Built into the definition while no GL context existed: made static at the first draw.
  bool FStaticPending = false;
};

class TQuorvelVertexGroup : public TQuorvelMesh {
  FW_CLASS(TQuorvelVertexGroup, TQuorvelMesh)

public:
  explicit TQuorvelVertexGroup(TComponent* AOwner);
  void BeforeDestruction() override;
  // A copy of a group that draws over its parent's vertices draws over its parent copy's.
  void DoDuplicate(TComponent* ASource, TQuorvelDuplicator* ADuplicator) override;
  // The group's own indices; the vertex buffer is the parent mesh's (EInvalidCast without a
  // mesh parent).
  void LoadMeshDataFromDefinition(TMeshDef* ADef, TMeshData* AData) override;

private:
  TVertexBuffer* FStoredVertexBuffer = nullptr;  // the group's own, freed by its mesh data
};

}  // namespace quorvel
