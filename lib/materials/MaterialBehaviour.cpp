#include "lib/materials/MaterialBehaviour.h"

#include "framework/rtl/Exceptions.h"
#include "framework/rtl/Guid.h"
#include "lib/context/ContextShader.h"
#include "lib/defs/DefTypesProperties.h"
#include "lib/materials/MaterialDefault.h"
#include "lib/materials/MaterialPresetProperties.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelMaterialBehaviour, "Quorvel.Material.Behaviour")

void TQuorvelMaterialBehaviour::Register(ClassBuilder<TQuorvelMaterialBehaviour>& b) {
  b.Prop("OnAttached", &Self::GetOnAttached, &Self::SetOnAttached)
      .Prop("OnDetached", &Self::GetOnDetached, &Self::SetOnDetached);
}

namespace {
const TUnitRegistration MaterialBehaviourUnit{
    StreamedClassUnit("Quorvel.Material.Behaviour", &TQuorvelMaterialBehaviour::StaticClass)};
}  // namespace

FW_CLASS_IMPL(TQuorvelMaterialBehaviourItem, "Quorvel.Material.Behaviour")

void TQuorvelMaterialBehaviourItem::Register(ClassBuilder<TQuorvelMaterialBehaviourItem>& b) {
  b.Prop("DisplayName", &Self::GetDisplayName, &Self::SetDisplayName)
      .Prop("Behaviour", &Self::GetBehaviour, &Self::SetBehaviour);
}

FW_CLASS_IMPL(TQuorvelMaterialBehaviourCollection, "Quorvel.Material.Behaviour")
FW_CLASS_NO_MEMBERS(TQuorvelMaterialBehaviourCollection)

namespace {

TMaterialBehaviourDef* BehaviourDef(TCustomDef* ADef) {
  auto* def = dynamic_cast<TMaterialBehaviourDef*>(ADef);
  if (!def) throw EInvalidCast("Invalid class typecast");
  return def;
}

}  // namespace

// ===== TQuorvelMaterialBehaviour =============================================================

TQuorvelMaterialBehaviour::TQuorvelMaterialBehaviour(TComponent* AOwner)
    : TFwObject(AOwner), FUniqueID(GUIDToString(CreateGUID())) {}

void TQuorvelMaterialBehaviour::BeforeDestruction() {
  FDef = nullptr;
  TFwObject::BeforeDestruction();
}

uintptr_t TQuorvelMaterialBehaviour::GetReferenceID() const { return reinterpret_cast<uintptr_t>(this); }

void TQuorvelMaterialBehaviour::DoOnInitializeUniformBuffer(TMaterial* /*AMaterial*/, bool& AInitialized) {
  AInitialized = true;
}

void TQuorvelMaterialBehaviour::LoadFromDefinition(TCustomDef* ADef) { FUniqueID = BehaviourDef(ADef)->GetId(); }

void TQuorvelMaterialBehaviour::StoreToDefinition(TCustomDef* ADef) { BehaviourDef(ADef)->SetId(FUniqueID); }

// ===== TQuorvelMaterialBehaviourItem =========================================================

TQuorvelMaterialBehaviourItem::TQuorvelMaterialBehaviourItem(TCollection* Collection) : TCollectionItem(Collection) {}

TQuorvelMaterialBehaviourItem::~TQuorvelMaterialBehaviourItem() { SetUBO(nullptr, 0); }

void TQuorvelMaterialBehaviourItem::BeforeDestruction() {
  if (FBehaviour) {
    TQuorvelMaterialBehaviourCollection* behaviours = Behaviours();
    if (behaviours && behaviours->GetMaterial() && !behaviours->GetDestroying())
      SetBehaviour(nullptr);
    else
      FBehaviour = nullptr;
  }
  TCollectionItem::BeforeDestruction();
}

TQuorvelMaterialBehaviourCollection* TQuorvelMaterialBehaviourItem::Behaviours() const {
  return dynamic_cast<TQuorvelMaterialBehaviourCollection*>(GetCollection());
}

void TQuorvelMaterialBehaviourItem::SetDisplayName(const std::string& Value) {
  FName = Value;
  TCollectionItem::SetDisplayName(Value);
}

void TQuorvelMaterialBehaviourItem::SetBehaviour(TQuorvelMaterialBehaviour* Value) {
  TQuorvelMaterialBehaviourCollection* behaviours = Behaviours();
  if (!behaviours || !behaviours->GetMaterial()) return;
  auto* material = dynamic_cast<TQuorvelDefaultMaterial*>(behaviours->GetMaterial());
  if (!material) throw EInvalidCast("Invalid class typecast");
  TQuorvelNodeBuilder* vs = material->GetVertexShaderNode();
  TQuorvelNodeBuilder* fs = material->GetFragmentShaderNode();
  if (FBehaviour && FBehaviour != Value) {
    TQuorvelMaterialBehaviour* old = FBehaviour;
    old->DoOnRemoveShader(vs, TContextShaderKind::VertexShader);
    old->DoOnRemoveShader(fs, TContextShaderKind::PixelShader);
    if (old->FOnDetached) old->FOnDetached(material);
  }
  FBehaviour = Value;
  if (Value) {
    // The source forwards the behaviour's removal to this collection; the collection also
    // hears of it itself, for a material without a source.
    if (TQuorvelDefaultMaterialSource* source = material->GetSource()) Value->FreeNotification(source);
    behaviours->ListenTo(Value);
    Value->DoOnCreateShader(vs, TContextShaderKind::VertexShader);
    Value->DoOnCreateShader(fs, TContextShaderKind::PixelShader);
    if (Value->FOnAttached) Value->FOnAttached(material);
  }
  material->UpdateShaderProgram();
}

void TQuorvelMaterialBehaviourItem::SetUBO(void* AUBO, int32_t AUBOSize) {
  if (FUBO && FUBOSize > 0) delete[] static_cast<char*>(FUBO);
  FUBO = AUBO;
  FUBOSize = AUBOSize;
}

void TQuorvelMaterialBehaviourItem::OnRegisterUniformBuffer(TMaterial* /*AMaterial*/, TContext3D* /*AContext*/,
                                                            TShaderProgram* AProgram) {
  if (!FBehaviour) return;
  std::string name;
  void* ubo = nullptr;
  int32_t size = 0;
  if (!FBehaviour->DoOnRegisterUniformBuffer(name, ubo, size)) return;
  SetUBO(ubo, size);
  if (!AProgram) return;
  // A program that still lists the name would keep the pointer it was given, the block just
  // freed: the entry takes the new block in place, so the bindings keep their order.
  if (PUniformBufferStruct entry = AProgram->GetUniformBufferByName(name); entry && entry->Size == size) {
    entry->Data = ubo;
    return;
  }
  if (AProgram->IndexOfUniformBuffer(name) >= 0) AProgram->UnregisterUniformBufferByName(name);
  AProgram->RegisterUniformBuffer(name, ubo, size);
}

void TQuorvelMaterialBehaviourItem::OnUpdateShader(TQuorvelNodeBuilder* ABuilder, TContextShaderKind AKind) {
  if (FBehaviour) FBehaviour->DoOnUpdateShader(ABuilder, AKind);
}

void TQuorvelMaterialBehaviourItem::Apply(TMaterial* AMaterial, TContext3D* AContext) {
  if (!FBehaviour) return;
  if (!FBehaviour->FInitialized) FBehaviour->DoOnInitializeUniformBuffer(AMaterial, FBehaviour->FInitialized);
  FBehaviour->Apply(AMaterial, AContext, this);
}

void TQuorvelMaterialBehaviourItem::Notification(TComponent* AComponent, TOperation AOperation) {
  if (AOperation == opRemove && FBehaviour && static_cast<TComponent*>(FBehaviour) == AComponent) FBehaviour = nullptr;
}

void TQuorvelMaterialBehaviourItem::AssignTo(TPersistent* Dest) {
  auto* item = dynamic_cast<TQuorvelMaterialBehaviourItem*>(Dest);
  if (!item) {
    TCollectionItem::AssignTo(Dest);
    return;
  }
  item->FName = FName;
  TQuorvelMaterialBehaviourCollection* behaviours = item->Behaviours();
  if (behaviours && behaviours->GetMaterial())
    item->SetBehaviour(FBehaviour);
  else
    item->FBehaviour = FBehaviour;
}

// ===== TQuorvelMaterialBehaviourCollection ===================================================

namespace {

// Passes the removal of a component it was told about to its collection.
class TBehaviourFreeListener : public TComponent {
public:
  explicit TBehaviourFreeListener(TQuorvelMaterialBehaviourCollection* ACollection)
      : TComponent(nullptr), FCollection(ACollection) {}
  void Notification(TComponent* AComponent, TOperation Operation) override {
    TComponent::Notification(AComponent, Operation);
    if (FCollection && Operation == opRemove) FCollection->Notification(AComponent, Operation);
  }
  void Detach() { FCollection = nullptr; }

private:
  TQuorvelMaterialBehaviourCollection* FCollection;
};

}  // namespace

TQuorvelMaterialBehaviourCollection::TQuorvelMaterialBehaviourCollection(TMaterial* AMaterial)
    : TCollection(TQuorvelMaterialBehaviourItem::StaticClass()), FMaterial(AMaterial) {}

TQuorvelMaterialBehaviourCollection::~TQuorvelMaterialBehaviourCollection() {
  // The listener goes first, without calling back into a collection that is going.
  if (auto* listener = static_cast<TBehaviourFreeListener*>(FListener.get())) listener->Detach();
  FListener.reset();
}

void TQuorvelMaterialBehaviourCollection::ListenTo(TQuorvelMaterialBehaviour* ABehaviour) {
  if (!ABehaviour) return;
  if (!FListener) FListener.reset(New<TBehaviourFreeListener>(this));
  ABehaviour->FreeNotification(FListener.get());
}

void TQuorvelMaterialBehaviourCollection::Notification(TComponent* AComponent, TOperation AOperation) {
  for (TCollectionItem* item : std::vector<TCollectionItem*>(ItemList()))
    if (auto* behaviour = dynamic_cast<TQuorvelMaterialBehaviourItem*>(item))
      behaviour->Notification(AComponent, AOperation);
}

}  // namespace quorvel
