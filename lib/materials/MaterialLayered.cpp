#include "lib/materials/MaterialLayered.h"

#include "framework/rtl/Exceptions.h"
#include "lib/context/Context.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelLayeredMaterialItem, "Quorvel.Material.Layered")

void TQuorvelLayeredMaterialItem::Register(ClassBuilder<TQuorvelLayeredMaterialItem>& b) {
  b.Prop("DisplayName", &Self::GetDisplayName, &Self::SetDisplayName)
      .Prop("Material", &Self::GetMaterial, &Self::SetMaterial);
}
FW_CLASS_IMPL(TQuorvelLayeredMaterialCollection, "Quorvel.Material.Layered")
FW_CLASS_NO_MEMBERS(TQuorvelLayeredMaterialCollection)
FW_CLASS_IMPL(TQuorvelLayeredMaterial, "Quorvel.Material.Layered")
FW_CLASS_NO_MEMBERS(TQuorvelLayeredMaterial)
FW_CLASS_IMPL(TQuorvelLayeredMaterialSource, "Quorvel.Material.Layered")

void TQuorvelLayeredMaterialSource::Register(ClassBuilder<TQuorvelLayeredMaterialSource>& b) {
  b.Prop("Materials", &Self::GetMaterials, &Self::SetMaterials);
}

// ---- TQuorvelLayeredMaterialItem ----

TQuorvelLayeredMaterialItem::TQuorvelLayeredMaterialItem(TCollection* Collection) : TCollectionItem(Collection) {}

void TQuorvelLayeredMaterialItem::Assign(TPersistent* Source) {
  if (auto* item = dynamic_cast<TQuorvelLayeredMaterialItem*>(Source)) {
    FName = item->FName;
    SetMaterial(item->FMaterial);
    return;
  }
  TCollectionItem::Assign(Source);
}

std::string TQuorvelLayeredMaterialItem::GetDisplayName() const { return FName; }

void TQuorvelLayeredMaterialItem::SetDisplayName(const std::string& Value) {
  FName = Value;
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

void TQuorvelLayeredMaterialItem::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == opRemove && FMaterial && static_cast<TComponent*>(FMaterial) == AComponent) FMaterial = nullptr;
}

void TQuorvelLayeredMaterialCollection::Notification(TComponent* AComponent, TOperation Operation) {
  for (TCollectionItem* item : std::vector<TCollectionItem*>(ItemList()))
    item->As<TQuorvelLayeredMaterialItem>()->Notification(AComponent, Operation);
}

// ---- TQuorvelLayeredMaterial ----

std::string TQuorvelLayeredMaterial::VertexShaderText() {
  return "#version 430\r\n\r\n\r\n"
         "uniform vec4 _MVPMatrix[4];\r\n"
         "layout(location = 0) in vec3 a_Position;\r\n"
         "out vec4 v_WorldProjViewVertPos;\r\n"
         "\r\n"
         "void main() {\r\n"
         "  vec4 p = vec4(a_Position, 1.0);\r\n"
         "  vec4 l_Position = vec4(dot(_MVPMatrix[0], p), dot(_MVPMatrix[1], p), dot(_MVPMatrix[2], p), "
         "dot(_MVPMatrix[3], p));\r\n"
         "  gl_Position = l_Position;\r\n"
         "  v_WorldProjViewVertPos = l_Position;\r\n"
         "}\r\n";
}

std::string TQuorvelLayeredMaterial::PixelShaderText() {
  return "#version 430\r\n\r\n\r\n"
         "in vec4 v_WorldProjViewVertPos;\r\n"
         "layout(location = 0) out vec4 o_Albedo;\r\n"
         "layout(location = 1) out float o_Alpha;\r\n"
         "layout(location = 2) out vec4 o_Position;\r\n"
         "layout(location = 3) out vec3 o_Normals;\r\n"
         "layout(location = 4) out vec3 o_Emissive;\r\n"
         "\r\n"
         "void main() {\r\n"
         "  o_Albedo = vec4(0.0);\r\n"
         "  o_Alpha = 0.0;\r\n"
         "  o_Position = vec4(v_WorldProjViewVertPos.xyz, gl_FragCoord.z);\r\n"
         "  o_Normals = vec3(0.0);\r\n"
         "  o_Emissive = vec3(0.0);\r\n"
         "}\r\n";
}

std::string TQuorvelLayeredMaterial::ShaderName(TContextShaderKind AKind) const {
  return "Layered-" + std::to_string(reinterpret_cast<uintptr_t>(this)) +
         (AKind == TContextShaderKind::VertexShader ? ".fvs" : ".fps");
}

void TQuorvelLayeredMaterial::DoInitialize() {
  FVertexShader = TShaderManager::RegisterShaderFromData(
      ShaderName(TContextShaderKind::VertexShader), TContextShaderKind::VertexShader, "",
      {TContextShaderSource(TContextShaderArch::GLSL, TContextShaderSource::CodeFromText(VertexShaderText()),
                            {{"MVPMatrix", TContextShaderVariableKind::Matrix, 0, 4}})});
  FPixelShader = TShaderManager::RegisterShaderFromData(
      ShaderName(TContextShaderKind::PixelShader), TContextShaderKind::PixelShader, "",
      {TContextShaderSource(TContextShaderArch::GLSL, TContextShaderSource::CodeFromText(PixelShaderText()))});
}

void TQuorvelLayeredMaterial::BeforeDestruction() {
  // A later material at this address would take over the names; the cached program of the
  // pair would outlive its shaders.
  if (FVertexShader && FPixelShader) TQuorvelContext::RemoveProgram(FVertexShader, FPixelShader);
  FVertexShader = nullptr;
  FPixelShader = nullptr;
  TShaderManager::UnregisterShader(ShaderName(TContextShaderKind::VertexShader));
  TShaderManager::UnregisterShader(ShaderName(TContextShaderKind::PixelShader));
  TCustomMaterial::BeforeDestruction();
}

int32_t TQuorvelLayeredMaterial::GetMaterialsCount() const { return FSource->GetMaterials()->GetCount(); }

TQuorvelLayeredMaterialItem* TQuorvelLayeredMaterial::GetMaterialItem(TContext3D*, int32_t AIndex) const {
  TQuorvelLayeredMaterialCollection* materials = FSource ? FSource->GetMaterials() : nullptr;
  if (!materials || AIndex < 0 || AIndex >= materials->GetCount()) return nullptr;
  return materials->Items(AIndex);
}

void TQuorvelLayeredMaterial::DoApply(TContext3D* AContext) {
  TCustomMaterial::DoApply(AContext);
  auto* context = quorvel::As<TQuorvelContext>(AContext);
  if (!context) throw EInvalidCast("Invalid class typecast");
  context->SetCurrentLayeredMaterial(this);
}

// ---- TQuorvelLayeredMaterialSource ----

TQuorvelLayeredMaterialSource::TQuorvelLayeredMaterialSource(TComponent* AOwner)
    : TMaterialSource(AOwner), FMaterials(New<TQuorvelLayeredMaterialCollection>(this)) {}

TQuorvelLayeredMaterialSource::~TQuorvelLayeredMaterialSource() {
  // The layer sources hold this source among their free-notifications; the items go with it.
  for (TCollectionItem* item : FMaterials->ItemList())
    if (TMaterialSource* layer = item->As<TQuorvelLayeredMaterialItem>()->GetMaterial())
      layer->RemoveFreeNotification(this);
  Free(FMaterials);
}

void TQuorvelLayeredMaterialSource::SetMaterials(TQuorvelLayeredMaterialCollection* Value) { FMaterials->Assign(Value); }

TQuorvelLayeredMaterialItem* TQuorvelLayeredMaterialSource::AddLayer(const std::string& AName,
                                                                     TMaterialSource* AMaterial) {
  auto* item = FMaterials->AddItem<TQuorvelLayeredMaterialItem>();
  item->SetDisplayName(AName);
  item->SetMaterial(AMaterial);
  return item;
}

TMaterial* TQuorvelLayeredMaterialSource::CreateMaterial() { return New<TQuorvelLayeredMaterial>(this); }

void TQuorvelLayeredMaterialSource::Notification(TComponent* AComponent, TOperation Operation) {
  TMaterialSource::Notification(AComponent, Operation);
  if (Operation == opRemove) FMaterials->Notification(AComponent, Operation);
}

}  // namespace quorvel
