#include "framework/gui3d/Material.h"

#include <algorithm>

#include "framework/gui3d/Context3D.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/Units.h"

namespace quorvel {

FW_CLASS_IMPL(TMaterial, "Fw.Materials")
FW_CLASS_NO_MEMBERS(TMaterial)
FW_CLASS_IMPL(TCustomMaterial, "Fw.Materials")
FW_CLASS_NO_MEMBERS(TCustomMaterial)
FW_CLASS_IMPL(TColorMaterial, "Fw.Materials")
FW_CLASS_NO_MEMBERS(TColorMaterial)
FW_CLASS_IMPL(TMaterialSource, "Fw.Materials")
FW_CLASS_NO_MEMBERS(TMaterialSource)
FW_CLASS_IMPL(TColorMaterialSource, "Fw.Materials")

void TColorMaterialSource::Register(ClassBuilder<TColorMaterialSource>& b) {
  b.Prop("Color", &Self::GetColor, &Self::SetColor);
}

namespace {
void InitMaterialUnit() { RegisterClass(TColorMaterialSource::StaticClass()); }
void FinMaterialUnit() { UnRegisterClass(TColorMaterialSource::StaticClass()); }
const TUnitRegistration MaterialUnit{{"Fw.Materials", {"Fw.Shaders"}, &InitMaterialUnit, &FinMaterialUnit}};
}  // namespace

// --- TMaterial ------------------------------------------------------------------------------

void TMaterial::AfterConstruction() {
  TObject::AfterConstruction();
  DoInitialize();
}

void TMaterial::Apply(TContext3D* AContext) { DoApply(AContext); }

void TMaterial::Reset(TContext3D* AContext) { DoReset(AContext); }

std::string TMaterial::GetMaterialProperty(TProperty) const { return {}; }

void TMaterial::DoChange() {
  FModified = true;
  if (FOwnerSource) FOwnerSource->DoChange();
}

// --- TCustomMaterial ------------------------------------------------------------------------

std::string TCustomMaterial::GetMaterialProperty(TProperty AProperty) const {
  return AProperty == TProperty::ModelViewProjection ? "MVPMatrix" : "";
}

void TCustomMaterial::DoApply(TContext3D* AContext) {
  if (AContext) AContext->SetShaders(FVertexShader, FPixelShader);
}

// --- TColorMaterial -------------------------------------------------------------------------

const char* const TColorMaterial::VertexShaderText =
    "#version 430\r\n"
    "\r\n"
    "uniform vec4 _MVPMatrix[4];\r\n"
    "layout(location = 0) in vec3 a_Position;\r\n"
    "\r\n"
    "void main() {\r\n"
    "  vec4 p = vec4(a_Position, 1.0);\r\n"
    "  gl_Position = vec4(dot(_MVPMatrix[0], p), dot(_MVPMatrix[1], p), dot(_MVPMatrix[2], p), "
    "dot(_MVPMatrix[3], p));\r\n"
    "}\r\n";

const char* const TColorMaterial::PixelShaderText =
    "#version 430\r\n"
    "\r\n"
    "uniform vec4 _Color;\r\n"
    "layout(location = 0) out vec4 o_Albedo;\r\n"
    "\r\n"
    "void main() {\r\n"
    "  o_Albedo = _Color;\r\n"
    "}\r\n";

void TColorMaterial::DoInitialize() {
  // Every colour material has the same texts, so they share one pair of shaders.
  FVertexShader = TShaderManager::RegisterShaderFromData(
      "Fw.ColorMaterial.fvs", TContextShaderKind::VertexShader, "",
      {TContextShaderSource(TContextShaderArch::GLSL, TContextShaderSource::CodeFromText(VertexShaderText),
                            {{"MVPMatrix", TContextShaderVariableKind::Matrix, 0, 4}})});
  FPixelShader = TShaderManager::RegisterShaderFromData(
      "Fw.ColorMaterial.fps", TContextShaderKind::PixelShader, "",
      {TContextShaderSource(TContextShaderArch::GLSL, TContextShaderSource::CodeFromText(PixelShaderText),
                            {{"Color", TContextShaderVariableKind::Vector, 0, 1}})});
}

void TColorMaterial::SetColor(TAlphaColor Value) {
  if (Value == FColor) return;
  FColor = Value;
  DoChange();
}

void TColorMaterial::DoApply(TContext3D* AContext) {
  TCustomMaterial::DoApply(AContext);
  if (!AContext) return;
  TAlphaColorF c(FColor);
  const float a = std::clamp(c.A * AContext->GetCurrentOpacity(), 0.0f, 1.0f);
  const TVector3D color(c.R * a, c.G * a, c.B * a, a);
  AContext->SetShaderVariable("Color", std::span<const TVector3D>(&color, 1));
}

// --- TMaterialSource ------------------------------------------------------------------------

TMaterialSource::TMaterialSource(TComponent* AOwner) : TFwObject(AOwner) {}

TMaterialSource::~TMaterialSource() {
  FNotifiers.clear();
  TMaterial* material = FMaterial;
  FMaterial = nullptr;
  if (!material) return;
  material->FOwnerSource = nullptr;
  FreeQuietly(material, "TMaterialSource: material");
}

void TMaterialSource::AfterConstruction() {
  TFwObject::AfterConstruction();
  SetMaterial(CreateMaterial());
}

void TMaterialSource::SetMaterial(TMaterial* AMaterial) {
  if (AMaterial == FMaterial) return;
  TMaterial* old = FMaterial;
  FMaterial = AMaterial;
  if (FMaterial) FMaterial->FOwnerSource = this;
  if (old) {
    old->FOwnerSource = nullptr;
    Free(old);
  }
}

int32_t TMaterialSource::AddChangeNotifier(TMaterialChangeHandler AHandler, TComponent* AListener) {
  const int32_t id = FNextNotifierId++;
  FNotifiers.push_back({id, std::move(AHandler), AListener});
  if (AListener) AListener->FreeNotification(this);
  return id;
}

void TMaterialSource::Notification(TComponent* AComponent, TOperation Operation) {
  TFwObject::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent)
    std::erase_if(FNotifiers, [AComponent](const TNotifier& n) { return n.Listener == AComponent; });
}

void TMaterialSource::RemoveChangeNotifier(int32_t AId) {
  std::erase_if(FNotifiers, [AId](const TNotifier& n) { return n.Id == AId; });
}

void TMaterialSource::DoChange() {
  // By id over a snapshot: a handler may add or remove handlers (itself included).
  std::vector<int32_t> ids;
  ids.reserve(FNotifiers.size());
  for (const TNotifier& n : FNotifiers) ids.push_back(n.Id);
  for (int32_t id : ids) {
    auto it = std::find_if(FNotifiers.begin(), FNotifiers.end(), [id](const TNotifier& n) { return n.Id == id; });
    if (it == FNotifiers.end()) continue;
    TMaterialChangeHandler handler = it->Handler;  // the entry may go while it runs
    if (handler) handler(this);
  }
}

// --- TColorMaterialSource -------------------------------------------------------------------

TMaterial* TColorMaterialSource::CreateMaterial() { return New<TColorMaterial>(); }

TAlphaColor TColorMaterialSource::GetColor() const {
  auto* m = dynamic_cast<TColorMaterial*>(FMaterial);
  return m ? m->GetColor() : claBlue;
}

void TColorMaterialSource::SetColor(TAlphaColor Value) {
  if (auto* m = dynamic_cast<TColorMaterial*>(FMaterial)) m->SetColor(Value);
}

}  // namespace quorvel
