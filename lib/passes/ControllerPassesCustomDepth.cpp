#include "lib/passes/ControllerPassesCustomDepth.h"

#include <algorithm>

#include "framework/gui3d/Camera.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/Units.h"
#include "lib/context/Context.h"
#include "lib/context/ContextBuffersFrameBuffers.h"
#include "lib/context/ContextTexturing.h"
#include "lib/passes/PassShaders.h"
#include "lib/passes/PassViews.h"
#include "lib/scene/Viewport.h"

namespace quorvel {

FW_CLASS_IMPL(TCustomDepthMaterial, "Quorvel.Controller.Passes.CustomDepth")
FW_CLASS_NO_MEMBERS(TCustomDepthMaterial)
FW_CLASS_IMPL(TCustomDepthMaterialSource, "Quorvel.Controller.Passes.CustomDepth")
FW_CLASS_NO_MEMBERS(TCustomDepthMaterialSource)
FW_CLASS_IMPL(TQuorvelRenderPassCustomDepth, "Quorvel.Controller.Passes.CustomDepth")
void TQuorvelRenderPassCustomDepth::Register(ClassBuilder<TQuorvelRenderPassCustomDepth>& b) {
  b.Prop("DepthMethod", &Self::GetDepthMethod, &Self::SetDepthMethod);
}

namespace {

const char* const kDepthVertex = R"(#version 430
in vec3 a_Position;
uniform mat4 _ModelViewProjMatrix;
void main() { gl_Position = _ModelViewProjMatrix * vec4(a_Position, 1.0); }
)";

const char* const kDepthMVZVertex = R"(#version 430
in vec3 a_Position;
uniform mat4 _ModelViewProjMatrix;
uniform mat4 _ModelMatrix;
uniform mat4 _ViewMatrix;
out vec4 v_Position;
void main() {
  // Row vectors: the model matrix acts first.
  v_Position = (_ViewMatrix * _ModelMatrix) * vec4(a_Position, 1.0);
  gl_Position = _ModelViewProjMatrix * vec4(a_Position, 1.0);
}
)";

const char* const kDepthMVPZVertex = R"(#version 430
in vec3 a_Position;
uniform mat4 _ModelViewProjMatrix;
out vec4 v_Position;
void main() {
  v_Position = _ModelViewProjMatrix * vec4(a_Position, 1.0);
  gl_Position = v_Position;
}
)";

const char* const kDepthPixel = R"(#version 430
layout (location = 0) out float o_Depth;
void main() { o_Depth = gl_FragCoord.z; }
)";

const char* const kDepthZPixel = R"(#version 430
in vec4 v_Position;
layout (location = 0) out float o_Depth;
void main() { o_Depth = v_Position.z; }
)";


}  // namespace

// ---- material -------------------------------------------------------------------------------

void TCustomDepthMaterial::DoInitialize() {
  using K = TContextShaderVariableKind;
  const TContextShaderVariables mvp{{"ModelViewProjMatrix", K::Matrix, 0, 4}};
  FVertexShader = RegisterPassShader("CustomDepth", this, TContextShaderKind::VertexShader, kDepthVertex, mvp);
  FVertexShaderMVZ = RegisterPassShader(
      "CustomDepthMVZ", this, TContextShaderKind::VertexShader, kDepthMVZVertex,
      {{"ModelViewProjMatrix", K::Matrix, 0, 4}, {"ModelMatrix", K::Matrix, 1, 4}, {"ViewMatrix", K::Matrix, 2, 4}});
  FVertexShaderMVPZ = RegisterPassShader("CustomDepthMVPZ", this, TContextShaderKind::VertexShader, kDepthMVPZVertex, mvp);
  FPixelShader = RegisterPassShader("CustomDepth", this, TContextShaderKind::PixelShader, kDepthPixel, {});
  // One name for every instance: the shader manager hands them all one shader.
  FPixelShaderZ = TShaderManager::RegisterShaderFromData(
      "CustomDepthZ.fps", TContextShaderKind::PixelShader, "",
      {TContextShaderSource(TContextShaderArch::GLSL, TContextShaderSource::CodeFromText(kDepthZPixel), {})});
}

void TCustomDepthMaterial::ApplyDepthStates(TContext3D* AContext) {
  auto* ctx = dynamic_cast<TQuorvelContext*>(AContext);
  if (!ctx) return;
  // Blending off: the depth shaders write no alpha, and a blended store summed the depths of
  // overlapping surfaces (the nearest never won).
  ctx->SetContextStates({TContextState::csZTestOn, TContextState::csZWriteOn, TContextState::csFrontFace,
                         TContextState::csAlphaBlendOff});
  TQuorvelRenderPassController* pass = FSource ? FSource->GetOwnerPass() : nullptr;
  ctx->SetShaderVariable("ModelViewProjMatrix",
                         pass ? pass->GetCurrentModelViewProjectionMatrix() : ctx->GetCurrentModelViewProjectionMatrix(),
                         true);
}

void TCustomDepthMaterial::DoApply(TContext3D* AContext) {
  switch (FDepthMethod) {
    case TDepthMethod::dmMVPPosZ:
      AContext->SetShaders(FVertexShaderMVPZ, FPixelShaderZ);
      break;
    case TDepthMethod::dmModelViewPosZ:
      AContext->SetShaders(FVertexShaderMVZ, FPixelShaderZ);
      break;
    default:
      AContext->SetShaders(FVertexShader, FPixelShader);
      break;
  }
  auto* ctx = dynamic_cast<TQuorvelContext*>(AContext);
  if (!ctx) return;
  ApplyDepthStates(ctx);
  if (FDepthMethod == TDepthMethod::dmModelViewPosZ) {
    ctx->SetShaderVariable("ModelMatrix", ctx->GetCurrentMatrix(), true);
    ctx->SetShaderVariable("ViewMatrix", ctx->GetCurrentCameraMatrix(), true);
  }
}

TDepthMethod TCustomDepthMaterialSource::GetDepthMethod() const {
  return static_cast<TCustomDepthMaterial*>(GetMaterial())->GetDepthMethod();
}

void TCustomDepthMaterialSource::SetDepthMethod(TDepthMethod Value) {
  static_cast<TCustomDepthMaterial*>(GetMaterial())->SetDepthMethod(Value);
}

TMaterial* TCustomDepthMaterialSource::CreateMaterial() {
  FHasMaterial = true;
  return New<TCustomDepthMaterial>(this);
}

// ---- pass -----------------------------------------------------------------------------------

TQuorvelRenderPassCustomDepth::TQuorvelRenderPassCustomDepth(TComponent* AOwner, const std::string& AId)
    : TQuorvelRenderPassController(AOwner, AId) {}

void TQuorvelRenderPassCustomDepth::BeforeDestruction() {
  TQuorvelRenderPassMaterialSource* shader = GetShader();
  SetShader(nullptr);
  FreeQuietly(shader, "depth material source");
  TQuorvelRenderPassController::BeforeDestruction();
}

TDepthMethod TQuorvelRenderPassCustomDepth::GetDepthMethod() const {
  auto* source = dynamic_cast<TCustomDepthMaterialSource*>(GetShader());
  return source ? source->GetDepthMethod() : TDepthMethod::dmDefault;
}

void TQuorvelRenderPassCustomDepth::SetDepthMethod(TDepthMethod Value) {
  if (auto* source = dynamic_cast<TCustomDepthMaterialSource*>(GetShader())) source->SetDepthMethod(Value);
}

void TQuorvelRenderPassCustomDepth::SetMapSize(const TPoint& Value) {
  SetViewportSize(Value);
  FRecalcProjMatrix = true;
}

void TQuorvelRenderPassCustomDepth::InitializeRenderPass() {
  TQuorvelRenderPassController::InitializeRenderPass();
  FType = TRenderPassType::Pre;
  FMethod = TRenderPassMethod::RenderListToFBO;
  FRenderProc = TRenderPassRenderingProc::ListRendering;
  FRendererFlags = kAllRendererFlags;
  InvalidateMatrices();
  FDefaultColor = claBlack;
  FDefaultDepth = 1.0f;
  if (TQuorvelRenderPassMaterialSource* old = GetShader()) {
    SetShader(nullptr);
    Free(old);
  }
  SetShader(CreateMaterialSource());
}

TQuorvelRenderPassMaterialSource* TQuorvelRenderPassCustomDepth::CreateMaterialSource() {
  return New<TCustomDepthMaterialSource>(this);
}

void TQuorvelRenderPassCustomDepth::CreateRenderer() {
  TQuorvelRenderPassController::CreateRenderer();
  if (FRenderer) FRenderer->SetRenderTargets(TRenderTargets{TRenderTarget::Color_0});
}

void TQuorvelRenderPassCustomDepth::DepthTextureFormat(TPixelFormatEx& AComponents, TPixelFormatEx& AFormat) const {
  AComponents = TPixelFormatEx::R16F;
  AFormat = TPixelFormatEx::R;
}

TQuorvelTextureBitmap* CreateDepthTexture(const TPoint& ASize, float AScale, TPixelFormatEx AComponents,
                                          TPixelFormatEx AFormat) {
  TQuorvelTextureBitmap* texture = TQuorvelTextureBitmap::Create();
  {
    texture->BeginSetup();
    auto done = Finally([&] { texture->EndSetup(); });
    texture->SetStyle({TTextureStyle::RenderTarget});
    texture->SetDataType(TQuorvelTextureDataType::dtHalfFloat);
    texture->SetComponents(AComponents);
    texture->SetFormat(AFormat);
    texture->SetMinFilter(TTextureFilter::Linear);
    texture->SetMagFilter(TTextureFilter::Linear);
    texture->SetWrapS(TQuorvelTextureWrap::ClampToBorder);
    texture->SetWrapT(TQuorvelTextureWrap::ClampToBorder);
    texture->SetBorderColor(TAlphaColorF(1, 1, 1, 1));
    texture->SetSize(std::max(ASize.X, 1), std::max(ASize.Y, 1));
    texture->SetBitmapScale(AScale);
  }
  texture->GetTexture()->SetTextureScale(AScale);
  return texture;
}

void TQuorvelRenderPassCustomDepth::DoOnCreateCompositeTexture(TObject*, TPoint ASize, float AScale,
                                                               TQuorvelTextureBitmap*& ATexture) {
  TPixelFormatEx components, format;
  DepthTextureFormat(components, format);
  ATexture = CreateDepthTexture(ASize, AScale, components, format);
}

void TQuorvelRenderPassCustomDepth::SetupMatrices(TContext3D* AContext) {
  const TMatrix3D view = GetViewMatrix(AContext);
  const TMatrix3D projection = GetProjectionMatrix(AContext);
  FTextureMatrix = view * projection;
  AContext->SetCameraMatrix(view);
  if (TCamera* camera = FViewport ? FViewport->GetCurrentCamera() : nullptr)
    AContext->SetCameraAngleOfView(camera->GetAngleOfView());
}

void TQuorvelRenderPassCustomDepth::DoOnRenderPass(int32_t ACount, TRenderPass* APass) {
  TQuorvelRenderPassController::DoOnRenderPass(ACount, APass);
  auto* ctx = dynamic_cast<TQuorvelContext*>(RendererContext());
  if (!ctx) return;
  ctx->SetContextStates({TContextState::csZTestOn, TContextState::csZWriteOn, TContextState::csColorWriteOn,
                         TContextState::csScissorOff, TContextState::csFrontFace});
  ctx->ClearEx(TRenderTargets{TRenderTarget::Color_0, TRenderTarget::Depth}, FDefaultColor, FDefaultDepth, 0);
  if (TFrameBufferObject* fbo = GetFBO()) fbo->Prepare(TRenderTargets{TRenderTarget::Color_0});
  SetupMatrices(ctx);
}

TMatrix3D TQuorvelRenderPassCustomDepth::LightView(TLight* ALight, TContext3D* AContext) {
  if (!ALight) return TQuorvelRenderPassController::GetViewMatrix(AContext);
  const TQuorvelFrustum* frustum = FViewport ? &FViewport->GetCurrentFrustum() : nullptr;
  FViewMatrix = quorvel::LightView(ALight->GetLightDescription(), frustum).Matrix;
  return FViewMatrix;
}

TLight* TQuorvelRenderPassCustomDepth::SourceLight() const {
  auto* source = dynamic_cast<IDepthLightSource*>(GetShader());
  return source ? source->LightField() : nullptr;
}

void TQuorvelRenderPassCustomDepth::SetSourceLight(TLight* Value) {
  auto* source = dynamic_cast<IDepthLightSource*>(GetShader());
  if (!source || source->LightField() == Value) return;
  if (TLight* old = source->LightField()) old->RemoveFreeNotification(this);
  source->LightField() = Value;
  if (Value) Value->FreeNotification(this);
}

void TQuorvelRenderPassCustomDepth::Notification(TComponent* AComponent, TOperation Operation) {
  TQuorvelRenderPassController::Notification(AComponent, Operation);
  if (Operation != opRemove || !AComponent) return;
  if (auto* source = dynamic_cast<IDepthLightSource*>(GetShader()))
    if (source->LightField() == AComponent) source->LightField() = nullptr;
}

namespace {

void InitControllerPassesCustomDepthUnit() { RegisterClasses({TQuorvelRenderPassCustomDepth::StaticClass()}); }
void FinControllerPassesCustomDepthUnit() { UnRegisterClasses({TQuorvelRenderPassCustomDepth::StaticClass()}); }
const TUnitRegistration ControllerPassesCustomDepthUnit{{"Quorvel.Controller.Passes.CustomDepth", {}, &InitControllerPassesCustomDepthUnit, &FinControllerPassesCustomDepthUnit}};

}  // namespace

}  // namespace quorvel
