#include "lib/passes/ControllerPassesVSMStoreDepth.h"

#include "framework/rtl/Units.h"
#include "lib/context/Context.h"
#include "lib/passes/PassShaders.h"

namespace quorvel {

FW_CLASS_IMPL(TVSMStoreDepthMaterial, "Quorvel.Controller.Passes.VSMStoreDepth")
FW_CLASS_NO_MEMBERS(TVSMStoreDepthMaterial)
FW_CLASS_IMPL(TVSMStoreDepthMaterialSource, "Quorvel.Controller.Passes.VSMStoreDepth")
FW_CLASS_NO_MEMBERS(TVSMStoreDepthMaterialSource)
FW_CLASS_IMPL(TQuorvelRenderPassVSMStoreDepth, "Quorvel.Controller.Passes.VSMStoreDepth")
void TQuorvelRenderPassVSMStoreDepth::Register(ClassBuilder<TQuorvelRenderPassVSMStoreDepth>& b) {
  b.Prop("Light", &Self::GetLight, &Self::SetLight);
}

namespace {

const char* const kMomentsVertex = R"(#version 430
in vec3 a_Position;
uniform mat4 _ModelViewProjMatrix;
out vec4 v_Position;
void main() {
  v_Position = _ModelViewProjMatrix * vec4(a_Position, 1.0);
  gl_Position = v_Position;
}
)";

const char* const kMomentsPixel = R"(#version 430
in vec4 v_Position;
layout (location = 0) out vec2 o_Moments;
void main() {
  float d = v_Position.z / v_Position.w * 0.5 + 0.5;
  float dx = dFdx(d);
  float dy = dFdy(d);
  o_Moments = vec2(d, d * d + 0.25 * (dx * dx + dy * dy));
}
)";

}  // namespace

void TVSMStoreDepthMaterial::DoInitialize() {
  using K = TContextShaderVariableKind;
  FVertexShader = RegisterPassShader("VSMStoreDepth", this, TContextShaderKind::VertexShader, kMomentsVertex,
                                     {{"ModelViewProjMatrix", K::Matrix, 0, 4}});
  FPixelShader = RegisterPassShader("VSMStoreDepth", this, TContextShaderKind::PixelShader, kMomentsPixel, {});
}

void TVSMStoreDepthMaterial::DoApply(TContext3D* AContext) {
  AContext->SetShaders(FVertexShader, FPixelShader);
  ApplyDepthStates(AContext);
}

TMaterial* TVSMStoreDepthMaterialSource::CreateMaterial() {
  FHasMaterial = true;
  return New<TVSMStoreDepthMaterial>(this);
}

void TQuorvelRenderPassVSMStoreDepth::InitializeRenderPass() {
  TQuorvelRenderPassCustomDepth::InitializeRenderPass();
  FType = TRenderPassType::Pre;
  FMethod = TRenderPassMethod::RenderListToFBO;
  FViewportSize = TPoint(1024, 1024);
  FOverwriteViewportSize = true;
}

TQuorvelRenderPassMaterialSource* TQuorvelRenderPassVSMStoreDepth::CreateMaterialSource() {
  return New<TVSMStoreDepthMaterialSource>(this);
}

void TQuorvelRenderPassVSMStoreDepth::DepthTextureFormat(TPixelFormatEx& AComponents, TPixelFormatEx& AFormat) const {
  AComponents = TPixelFormatEx::RG16F;
  AFormat = TPixelFormatEx::RG;
}

void TQuorvelRenderPassVSMStoreDepth::DoOnRenderPass(int32_t ACount, TRenderPass* APass) {
  TQuorvelRenderPassCustomDepth::DoOnRenderPass(ACount, APass);
  FRecalcViewMatrix = true;
  if (auto* ctx = dynamic_cast<TQuorvelContext*>(RendererContext())) {
    ctx->SetContextStates({TContextState::csZTestOn, TContextState::csZWriteOn, TContextState::csColorWriteOn,
                           TContextState::csFrontFace});
    SetupMatrices(ctx);
  }
}

void TQuorvelRenderPassVSMStoreDepth::DoOnEndRenderPass(int32_t ACount, TRenderPass* APass) {
  auto* ctx = dynamic_cast<TQuorvelContext*>(RendererContext());
  if (!ctx) return;
  ctx->SetContextStates({TContextState::csZTestOff, TContextState::csZWriteOff, TContextState::csFrontFace});
  TQuorvelRenderPassCustomDepth::DoOnEndRenderPass(ACount, APass);
}

namespace {

// Forms name these passes like every other pass.
void InitControllerPassesVSMStoreDepthUnit() { RegisterClasses({TQuorvelRenderPassVSMStoreDepth::StaticClass()}); }
void FinControllerPassesVSMStoreDepthUnit() { UnRegisterClasses({TQuorvelRenderPassVSMStoreDepth::StaticClass()}); }
const TUnitRegistration ControllerPassesVSMStoreDepthUnit{{"Quorvel.Controller.Passes.VSMStoreDepth", {}, &InitControllerPassesVSMStoreDepthUnit, &FinControllerPassesVSMStoreDepthUnit}};

}  // namespace

}  // namespace quorvel
