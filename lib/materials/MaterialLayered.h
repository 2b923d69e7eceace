#pragma once
// The layered material: a mesh drawn once with the material's own shaders and then once more
// per layer, each layer with the material of its item, blended over the base. The context
// does the extra draws: applying the material marks it as the context's current layered
// material, which the next primitive draw reads.
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

  std::string GetDisplayName() const override;
  void SetDisplayName(const std::string& Value) override;
  // The layer's material; null skips the layer. Not owned: the layered source forgets it
  // when that source is freed.
  TMaterialSource* GetMaterial() const { return FMaterial; }
  void SetMaterial(TMaterialSource* Value);

private:
  friend class TQuorvelLayeredMaterialSource;
  std::string FDisplayName;
  TMaterialSource* FMaterial = nullptr;
};

// The base draw uses the colour material's shaders and colour.
class TQuorvelLayeredMaterial : public TColorMaterial {
  FW_CLASS(TQuorvelLayeredMaterial, TColorMaterial)

public:
  // The number of items in the source's Materials collection (0 without a source).
  int32_t GetMaterialsCount() const;
  // The item at AIndex, or null when AIndex is outside the collection. AContext is not used.
  // An item of another class raises EInvalidCast.
  TQuorvelLayeredMaterialItem* GetMaterialItem(TContext3D* AContext, int32_t AIndex) const;

protected:
  // Needs an engine context (EInvalidCast otherwise): makes the shaders current, then
  // marks itself as the context's current layered material.
  void DoApply(TContext3D* AContext) override;

private:
  TCollection* Materials() const;
};

class TQuorvelLayeredMaterialSource : public TMaterialSource {
  FW_CLASS(TQuorvelLayeredMaterialSource, TMaterialSource)

public:
  explicit TQuorvelLayeredMaterialSource(TComponent* AOwner);
  ~TQuorvelLayeredMaterialSource() override;

  // Items of TQuorvelLayeredMaterialItem, owned by this source.
  TOwnedCollection* GetMaterials() const { return FMaterials; }
  TAlphaColor GetColor() const;
  void SetColor(TAlphaColor Value);
  // Forgets a layer source that is being freed.
  void Notification(TComponent* AComponent, TOperation Operation) override;

protected:
  TMaterial* CreateMaterial() override;

private:
  TOwnedCollection* FMaterials;
};

}  // namespace quorvel
