#include "lib/passes/ControllerPassesVSMBlur.h"

#include "framework/rtl/Units.h"
#include "lib/passes/ControllerPassesCustomDepth.h"
#include "lib/passes/PassShaders.h"

namespace quorvel {

FW_CLASS_IMPL(TVSMBlurMaterial, "Quorvel.Controller.Passes.VSMBlur")
FW_CLASS_NO_MEMBERS(TVSMBlurMaterial)
FW_CLASS_IMPL(TVSMBlurMaterialSource, "Quorvel.Controller.Passes.VSMBlur")
FW_CLASS_NO_MEMBERS(TVSMBlurMaterialSource)
FW_CLASS_IMPL(TQuorvelRenderPassVSMBlur, "Quorvel.Controller.Passes.VSMBlur")
void TQuorvelRenderPassVSMBlur::Register(ClassBuilder<TQuorvelRenderPassVSMBlur>& b) {
  b.Prop("VSMStoreDepth", &Self::GetVSMStoreDepth, &Self::SetVSMStoreDepth);
}

namespace {

const char* const kMeanRadial = R"(#version 430
uniform sampler2D _Input;
uniform vec2 _Radius;
uniform float _Exposure;
in vec4 v_Position;
in vec4 TEX0;
layout (location = 0) out vec4 o_FragColor;
void main() {
  vec4 sum = texture(_Input, TEX0.xy);
  for (int d = 0; d < 32; ++d) {
    float angle = float(d) * (6.28318530718 / 32.0);
    vec2 step = vec2(cos(angle), sin(angle)) * _Radius;
    for (int i = 1; i <= 8; ++i) sum += texture(_Input, TEX0.xy + step * (float(i) / 8.0));
  }
  o_FragColor = sum / 257.0;
}
)";

}  // namespace

void TVSMBlurMaterial::DoInitialize() {
  TBlurMaterial::DoInitialize();
  using K = TContextShaderVariableKind;
  FPixelShader =
      RegisterPassShader("VSMRadialBlur", this, TContextShaderKind::PixelShader, kMeanRadial,
                         {{"Input", K::Texture, 0, 0}, {"Radius", K::Float2, 1, 1}, {"Exposure", K::Float, 2, 1}});
}

TMaterial* TVSMBlurMaterialSource::CreateMaterial() { return New<TVSMBlurMaterial>(this); }

void TQuorvelRenderPassVSMBlur::InitializeRenderPass() {
  TQuorvelRenderPassBlur::InitializeRenderPass();
  FType = TRenderPassType::Pre;
  FMethod = TRenderPassMethod::RectToFBO;
  FViewportSize = TPoint(1024, 1024);
  FOverwriteViewportSize = true;
  FIterations = 2;
  FPingPongMode = true;
}

TQuorvelRenderPassMaterialSource* TQuorvelRenderPassVSMBlur::CreateMaterialSource() {
  return New<TVSMBlurMaterialSource>(this);
}

void TQuorvelRenderPassVSMBlur::DoOnCreateCompositeTexture(TObject*, TPoint ASize, float AScale,
                                                           TQuorvelTextureBitmap*& ATexture) {
  ATexture = CreateDepthTexture(ASize, AScale, TPixelFormatEx::RG16F, TPixelFormatEx::RG);
}

namespace {

// Forms name these passes like every other pass.
void InitControllerPassesVSMBlurUnit() { RegisterClasses({TQuorvelRenderPassVSMBlur::StaticClass()}); }
void FinControllerPassesVSMBlurUnit() { UnRegisterClasses({TQuorvelRenderPassVSMBlur::StaticClass()}); }
const TUnitRegistration ControllerPassesVSMBlurUnit{{"Quorvel.Controller.Passes.VSMBlur", {}, &InitControllerPassesVSMBlurUnit, &FinControllerPassesVSMBlurUnit}};

}  // namespace

}  // namespace quorvel
