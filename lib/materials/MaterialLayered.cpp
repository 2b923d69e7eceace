#include "lib/materials/MaterialLayered.h"

#include "lib/context/Context.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelLayeredMaterialItem, "Quorvel.Material.Layered")

void TQuorvelLayeredMaterialItem::Register(ClassBuilder<TQuorvelLayeredMaterialItem>& b) {
  b.Prop("DisplayName", &Self::GetDisplayName, &Self::SetDisplayName)
      .Prop("Material", &Self::GetMaterial, &Self::SetMaterial);
}
FW_CLASS_IMPL(TQuorvelLayeredMaterial, "Quorvel.Material.Layered")
FW_CLASS_NO_MEMBERS(TQuorvelLayeredMaterial)
FW_CLASS_IMPL(TQuorvelLayeredMaterialSource, "Quorvel.Material.Layered")
FW_CLASS_NO_MEMBERS(TQuorvelLayeredMaterialSource)

// ---- TQuorvelLayeredMaterialItem ----

TQuorvelLayeredMaterialItem::TQuorvelLayeredMaterialItem(TCollection* Collection) : TCollectionItem(Collection) {}

std::string TQuorvelLayeredMaterialItem::GetDisplayName() const {
  return FDisplayName.empty() ? TCollectionItem::GetDisplayName() : FDisplayName;
}

void TQuorvelLayeredMaterialItem::SetDisplayName(const std::string& Value) {
  FDisplayName = Value;
  TCollectionItem::SetDisplayName(Value);
}

void TQuorvelLayeredMaterialItem::SetMaterial(TMaterialSource* Value) {
  if (FMaterial == Value) return;
  FMaterial = Value;
  // The owning layered source hears of the layer source's removal and clears this item.
  if (Value && GetCollection())
    if (auto* owner = dynamic_cast<TComponent*>(GetCollection()->GetOwner())) Value->FreeNotification(owner);
  Changed(false);
}

// ---- TQuorvelLayeredMaterial ----

TCollection* TQuorvelLayeredMaterial::Materials() const {
  auto* source = dynamic_cast<TQuorvelLayeredMaterialSource*>(GetOwnerSource());
  return source ? source->GetMaterials() : nullptr;
}

int32_t TQuorvelLayeredMaterial::GetMaterialsCount() const {
  TCollection* materials = Materials();
  return materials ? materials->GetCount() : 0;
}

TQuorvelLayeredMaterialItem* TQuorvelLayeredMaterial::GetMaterialItem(TContext3D*, int32_t AIndex) const {
  TCollection* materials = Materials();
  if (!materials || AIndex < 0 || AIndex >= materials->GetCount()) return nullptr;
  return materials->GetItem(AIndex)->As<TQuorvelLayeredMaterialItem>();
}

void TQuorvelLayeredMaterial::DoApply(TContext3D* AContext) {
  auto* context = quorvel::As<TQuorvelContext>(AContext);
  if (!context) throw EInvalidCast("Invalid class typecast");
  // The colour material's apply makes the shaders current through the context's SetShaders.
  TColorMaterial::DoApply(AContext);
  context->SetCurrentLayeredMaterial(this);
}

// ---- TQuorvelLayeredMaterialSource ----

TQuorvelLayeredMaterialSource::TQuorvelLayeredMaterialSource(TComponent* AOwner)
    : TMaterialSource(AOwner),
      FMaterials(New<TOwnedCollection>(this, TQuorvelLayeredMaterialItem::StaticClass())) {}

TQuorvelLayeredMaterialSource::~TQuorvelLayeredMaterialSource() {
  // The items hold no free-notification of their own; the collection goes with them.
  for (TCollectionItem* item : FMaterials->ItemList())
    if (auto* layer = dynamic_cast<TQuorvelLayeredMaterialItem*>(item); layer && layer->FMaterial)
      layer->FMaterial->RemoveFreeNotification(this);
  Free(FMaterials);
}

TAlphaColor TQuorvelLayeredMaterialSource::GetColor() const {
  return static_cast<TColorMaterial*>(FMaterial)->GetColor();
}

void TQuorvelLayeredMaterialSource::SetColor(TAlphaColor Value) {
  static_cast<TColorMaterial*>(FMaterial)->SetColor(Value);
}

TMaterial* TQuorvelLayeredMaterialSource::CreateMaterial() { return New<TQuorvelLayeredMaterial>(); }

void TQuorvelLayeredMaterialSource::Notification(TComponent* AComponent, TOperation Operation) {
  TMaterialSource::Notification(AComponent, Operation);
  if (Operation != opRemove) return;
  for (TCollectionItem* item : FMaterials->ItemList())
    if (auto* layer = dynamic_cast<TQuorvelLayeredMaterialItem*>(item); layer && layer->FMaterial == AComponent)
      layer->FMaterial = nullptr;
}

}  // namespace quorvel
