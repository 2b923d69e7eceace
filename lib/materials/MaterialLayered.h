#pragma once
// The layered material: a mesh drawn once as a base and then once more per layer, each layer
// with the material of its item, blended over the result. The material itself generates no
// text and has no block: its two fixed shaders write only position and depth, with zero
// colour. The context does the extra draws: applying the material marks it as the context's
// current layered material, which the next primitive draw reads.
#include <cstdint>
#include <string>

#include "framework/classes/Collection.h"
#include "framework/gui3d/Material.h"

namespace quorvel {

class TContext3D;
class TQuorvelLayeredMaterialSource;

class TQuorvelLayeredMaterialItem : public TCollectionItem {
  FW_CLASS(TQuorvelLayeredMaterialItem, TCollectionItem)

public:
  using TOwnerArg = TCollection*;
  explicit TQuorvelLayeredMaterialItem(TCollection* Collection);

  // From another layered item: the name and the material reference.
  void Assign(TPersistent* Source) override;
  std::string GetDisplayName() const override;
  void SetDisplayName(const std::string& Value) override;
  // The layer's material; null skips the layer. Not owned: the layered source forgets it
  // when that source is freed.
  TMaterialSource* GetMaterial() const { return FMaterial; }
  void SetMaterial(TMaterialSource* Value);
  void Notification(TComponent* AComponent, TOperation Operation);

private:
  std::string FName;
  TMaterialSource* FMaterial = nullptr;
};

class TQuorvelLayeredMaterialCollection : public TOwnedCollection {
  FW_CLASS(TQuorvelLayeredMaterialCollection, TOwnedCollection)

public:
  explicit TQuorvelLayeredMaterialCollection(TPersistent* AOwner)
      : TOwnedCollection(AOwner, TQuorvelLayeredMaterialItem::StaticClass()) {}
  TQuorvelLayeredMaterialItem* Items(int AIndex) const { return GetItem(AIndex)->As<TQuorvelLayeredMaterialItem>(); }
  // Every item in order.
  void Notification(TComponent* AComponent, TOperation Operation);
};

class TQuorvelLayeredMaterial : public TCustomMaterial {
  FW_CLASS(TQuorvelLayeredMaterial, TCustomMaterial)

public:
  // The shaders are registered by the build, before the source is known.
  explicit TQuorvelLayeredMaterial(TQuorvelLayeredMaterialSource* ASource) : FSource(ASource) {}
  // Drops the program and unregisters the two names (they carry the address).
  void BeforeDestruction() override;

  TQuorvelLayeredMaterialSource* GetSource() const { return FSource; }
  // The number of items in the source's Materials.
  int32_t GetMaterialsCount() const;
  // The item at AIndex, or null when AIndex is outside the collection. AContext is not used.
  TQuorvelLayeredMaterialItem* GetMaterialItem(TContext3D* AContext, int32_t AIndex) const;
  // "Layered-<address in decimal>.fvs" / ".fps".
  std::string ShaderName(TContextShaderKind AKind) const;

  // The fixed texts ("#version 430" and three line breaks, then the stage's body).
  static std::string VertexShaderText();
  static std::string PixelShaderText();

protected:
  void DoInitialize() override;
  // Makes the shaders current, then, on an engine context, marks itself as the context's
  // current layered material (another context: EInvalidCast, after the shaders are set).
  void DoApply(TContext3D* AContext) override;

private:
  TQuorvelLayeredMaterialSource* FSource;
};

class TQuorvelLayeredMaterialSource : public TMaterialSource {
  FW_CLASS(TQuorvelLayeredMaterialSource, TMaterialSource)

public:
  explicit TQuorvelLayeredMaterialSource(TComponent* AOwner);
  ~TQuorvelLayeredMaterialSource() override;

  TQuorvelLayeredMaterialCollection* GetMaterials() const { return FMaterials; }
  // Assigns the items of Value to the owned collection.
  void SetMaterials(TQuorvelLayeredMaterialCollection* Value);
  // A new item named AName with AMaterial; nothing checks either.
  TQuorvelLayeredMaterialItem* AddLayer(const std::string& AName, TMaterialSource* AMaterial);
  // Forgets a layer source that is being freed.
  void Notification(TComponent* AComponent, TOperation Operation) override;

protected:
  TMaterial* CreateMaterial() override;

private:
  TQuorvelLayeredMaterialCollection* FMaterials;
};

}  // namespace quorvel
