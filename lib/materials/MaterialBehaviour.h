#pragma once
// Material behaviours: components that extend a default material with nodes of their own in
// both builders, and optionally a uniform block of their own, refreshed on every apply.
// Concrete behaviours derive from TQuorvelMaterialBehaviour; the engine defines none.
//
// A material holds its behaviours through items of its behaviour collection. The item holds
// a reference (the behaviour belongs to its component owner) and the memory block of the
// behaviour's uniform data, which it owns. Binding numbers: "ShaderData" is block 0, then the
// behaviours' blocks in collection order; a behaviour with data adds exactly one block node to
// each builder and returns that block's name from DoOnRegisterUniformBuffer.
#include <cstdint>
#include <string>

#include "framework/classes/Collection.h"
#include "framework/classes/Events.h"
#include "framework/classes/FwObject.h"
#include "framework/gui3d/Shader.h"

namespace quorvel {

class TContext3D;
class TCustomDef;
class TMaterial;
class TMaterialBehaviourDef;
class TQuorvelNodeBuilder;
class TQuorvelMaterialBehaviourItem;
class TShaderProgram;

class TQuorvelMaterialBehaviour : public TFwObject {
  FW_CLASS(TQuorvelMaterialBehaviour, TFwObject)

public:
  // A new GUID in its braced text form as UniqueID; no definition.
  explicit TQuorvelMaterialBehaviour(TComponent* AOwner);
  void BeforeDestruction() override;

  const std::string& GetUniqueID() const { return FUniqueID; }
  TMaterialBehaviourDef* GetDef() const { return FDef; }
  bool GetInitialized() const { return FInitialized; }
  const TNotifyEvent& GetOnAttached() const { return FOnAttached; }
  void SetOnAttached(const TNotifyEvent& Value) { FOnAttached = Value; }
  const TNotifyEvent& GetOnDetached() const { return FOnDetached; }
  void SetOnDetached(const TNotifyEvent& Value) { FOnDetached = Value; }

  // The behaviour's address: the ReferenceID of the nodes it adds.
  virtual uintptr_t GetReferenceID() const;
  // Asked once the material has a new program. True hands over the block's name and a NEW
  // block (operator new[] of char), which the item then owns; False registers nothing.
  virtual bool DoOnRegisterUniformBuffer(std::string& AName, void*& AUBO, int32_t& AUBOSize) = 0;
  // On the first apply while not Initialized; sets AInitialized.
  virtual void DoOnInitializeUniformBuffer(TMaterial* AMaterial, bool& AInitialized);
  // Attached: add nodes and defines to ABuilder. Replaced or detached: take them out again.
  virtual void DoOnCreateShader(TQuorvelNodeBuilder* ABuilder, TContextShaderKind AKind) = 0;
  virtual void DoOnUpdateShader(TQuorvelNodeBuilder* ABuilder, TContextShaderKind AKind) = 0;
  virtual void DoOnRemoveShader(TQuorvelNodeBuilder* ABuilder, TContextShaderKind AKind) = 0;
  // Every apply of the material; AItem holds the data block.
  virtual void Apply(TMaterial* AMaterial, TContext3D* AContext, TQuorvelMaterialBehaviourItem* AItem) = 0;
  // Both need a TMaterialBehaviourDef (EInvalidCast otherwise) and move only the id.
  virtual void LoadFromDefinition(TCustomDef* ADef);
  virtual void StoreToDefinition(TCustomDef* ADef);

protected:
  // Set by descendants that are built from a definition; never owned.
  TMaterialBehaviourDef* FDef = nullptr;

private:
  friend class TQuorvelMaterialBehaviourItem;
  std::string FUniqueID;
  bool FInitialized = false;
  TNotifyEvent FOnAttached, FOnDetached;
};

class TQuorvelMaterialBehaviourCollection;

class TQuorvelMaterialBehaviourItem : public TCollectionItem {
  FW_CLASS(TQuorvelMaterialBehaviourItem, TCollectionItem)

public:
  using TOwnerArg = TCollection*;
  explicit TQuorvelMaterialBehaviourItem(TCollection* Collection);
  ~TQuorvelMaterialBehaviourItem() override;
  // An item that still holds a behaviour detaches it first (hooks, rebuild request), so the
  // program never keeps the block this item is about to free.
  void BeforeDestruction() override;

  std::string GetDisplayName() const override { return FName; }
  void SetDisplayName(const std::string& Value) override;
  TQuorvelMaterialBehaviour* GetBehaviour() const { return FBehaviour; }
  // Outside a collection with a material nothing happens; otherwise the old behaviour's
  // removal hooks and OnDetached, the new one's creation hooks and OnAttached, and a
  // rebuild request (EInvalidCast when the material is not a default material).
  void SetBehaviour(TQuorvelMaterialBehaviour* Value);
  void* GetUBO() const { return FUBO; }
  int32_t GetUBOSize() const { return FUBOSize; }
  // Frees the block held (when its size is above 0), then holds AUBO.
  void SetUBO(void* AUBO, int32_t AUBOSize);

  void OnRegisterUniformBuffer(TMaterial* AMaterial, TContext3D* AContext, TShaderProgram* AProgram);
  void OnUpdateShader(TQuorvelNodeBuilder* ABuilder, TContextShaderKind AKind);
  void Apply(TMaterial* AMaterial, TContext3D* AContext);
  // A freed behaviour is forgotten without the removal hooks.
  virtual void Notification(TComponent* AComponent, TOperation AOperation);

protected:
  // Name and reference; into an item of a material's collection the reference goes through
  // SetBehaviour, so the builders hold the behaviour's nodes before its block is pushed.
  void AssignTo(TPersistent* Dest) override;

private:
  TQuorvelMaterialBehaviourCollection* Behaviours() const;

  std::string FName;
  TQuorvelMaterialBehaviour* FBehaviour = nullptr;
  void* FUBO = nullptr;
  int32_t FUBOSize = 0;
};

class TQuorvelMaterialBehaviourCollection : public TCollection {
  FW_CLASS(TQuorvelMaterialBehaviourCollection, TCollection)

public:
  explicit TQuorvelMaterialBehaviourCollection(TMaterial* AMaterial = nullptr);
  ~TQuorvelMaterialBehaviourCollection() override;

  TMaterial* GetMaterial() const { return FMaterial; }
  void SetMaterial(TMaterial* Value) { FMaterial = Value; }
  TQuorvelMaterialBehaviourItem* Items(int AIndex) const {
    return GetItem(AIndex)->As<TQuorvelMaterialBehaviourItem>();
  }
  // Every item in order.
  virtual void Notification(TComponent* AComponent, TOperation AOperation);
  // The collection hears of ABehaviour's freeing itself: a material made without a source has
  // nobody to forward the removal, and its items must never keep a freed behaviour.
  void ListenTo(TQuorvelMaterialBehaviour* ABehaviour);
  // The material is going: items drop their behaviours without hooks or rebuild requests.
  void SetDestroying() { FDestroying = true; }
  bool GetDestroying() const { return FDestroying; }

private:
  TMaterial* FMaterial;
  bool FDestroying = false;
  // A component only to receive free notifications; made on first use.
  TOwned<TComponent> FListener;
};

}  // namespace quorvel
