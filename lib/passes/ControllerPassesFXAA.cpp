#include "lib/passes/ControllerPassesFXAA.h"

#include <algorithm>

#include "framework/classes/Messages.h"
#include "framework/gui3d/Camera.h"
#include "framework/rtl/Finally.h"
#include "lib/context/Context.h"
#include "lib/context/ContextBuffersFrameBuffers.h"
#include "lib/context/ContextTexturing.h"
#include "lib/passes/PassShaders.h"
#include "lib/scene/Viewport.h"

namespace quorvel {

FW_CLASS_IMPL(TFXAAMaterial, "Quorvel.Controller.Passes.FXAA")
FW_CLASS_NO_MEMBERS(TFXAAMaterial)
FW_CLASS_IMPL(TFXAAMaterialSource, "Quorvel.Controller.Passes.FXAA")
FW_CLASS_NO_MEMBERS(TFXAAMaterialSource)
FW_CLASS_IMPL(TQuorvelRenderPassFXAA, "Quorvel.Controller.Passes.FXAA")
FW_CLASS_NO_MEMBERS(TQuorvelRenderPassFXAA)

const char* const TFXAAMaterial::VertexShaderText = QUORVEL_PASS_RECT_VERTEX;

const char* const TFXAAMaterial::PixelShaderText = R"(#version 430
uniform sampler2D _Input;
in vec4 v_Position;
in vec4 TEX0;
layout (location = 0) out vec4 o_FragColor;
)" QUORVEL_PASS_LOOKUPS R"(
#define FXAA_REDUCE_MIN (1.0 / 128.0)
#define FXAA_REDUCE_MUL (1.0 / 8.0)
#define FXAA_SPAN_MAX 8.0
vec4 fxaa(sampler2D tex, vec2 uv) {
  vec2 inverse = 1.0 / vec2(textureSize(tex, 0));
  vec3 weights = vec3(0.299, 0.587, 0.114);
  float lumaNW = dot(tex2D(tex, uv + vec2(-1.0, -1.0) * inverse).rgb, weights);
  float lumaNE = dot(tex2D(tex, uv + vec2(1.0, -1.0) * inverse).rgb, weights);
  float lumaSW = dot(tex2D(tex, uv + vec2(-1.0, 1.0) * inverse).rgb, weights);
  float lumaSE = dot(tex2D(tex, uv + vec2(1.0, 1.0) * inverse).rgb, weights);
  float lumaM = dot(tex2D(tex, uv).rgb, weights);
  float lumaMin = min(lumaM, min(min(lumaNW, lumaNE), min(lumaSW, lumaSE)));
  float lumaMax = max(lumaM, max(max(lumaNW, lumaNE), max(lumaSW, lumaSE)));
  vec2 dir;
  dir.x = -((lumaNW + lumaNE) - (lumaSW + lumaSE));
  dir.y = (lumaNW + lumaSW) - (lumaNE + lumaSE);
  float dirReduce = max((lumaNW + lumaNE + lumaSW + lumaSE) * 0.25 * FXAA_REDUCE_MUL, FXAA_REDUCE_MIN);
  float rcpDirMin = 1.0 / (min(abs(dir.x), abs(dir.y)) + dirReduce);
  dir = clamp(dir * rcpDirMin, vec2(-FXAA_SPAN_MAX), vec2(FXAA_SPAN_MAX)) * inverse;
  vec4 rgbA = 0.5 * (tex2D(tex, uv + dir * (1.0 / 3.0 - 0.5)) + tex2D(tex, uv + dir * (2.0 / 3.0 - 0.5)));
  vec4 rgbB = rgbA * 0.5 + 0.25 * (tex2D(tex, uv + dir * (0.0 / 3.0 - 0.5)) + tex2D(tex, uv + dir * (3.0 / 3.0 - 0.5)));
  float lumaB = dot(rgbB.rgb, weights);
  if (lumaB < lumaMin || lumaB > lumaMax) return rgbA;
  return rgbB;
}
void main() { o_FragColor = fxaa(_Input, TEX0.xy); }
)";

// ---- material -------------------------------------------------------------------------------

void TFXAAMaterial::SetInputTexture(TTexture* Value) {
  if (FInputTexture != Value) FInputTexture = Value;
  DoChange();
}

TTexture* TFXAAMaterial::GetInputTexture(TContext3D* AContext) {
  if (FInputTexture) return FInputTexture;
  if (!FSource) return nullptr;
  if (TQuorvelRenderPassController* input = FSource->GetInputPass())
    FInputTexture = input->GetOutputTexture();
  else if (auto* ctx = dynamic_cast<TQuorvelContext*>(AContext))
    FInputTexture = ctx->GetCurrentTexture();
  return FInputTexture;
}

void TFXAAMaterial::DoInitialize() {
  using K = TContextShaderVariableKind;
  FVertexShader = RegisterPassShader("FXAA", this, TContextShaderKind::VertexShader, VertexShaderText,
                                     {{"ModelViewProjMatrix", K::Matrix, 0, 4}});
  FPixelShader =
      RegisterPassShader("FXAA", this, TContextShaderKind::PixelShader, PixelShaderText, {{"Input", K::Texture, 0, 1}});
}

void TFXAAMaterial::DoApply(TContext3D* AContext) {
  TQuorvelRenderPassMaterial::DoApply(AContext);
  auto* ctx = dynamic_cast<TQuorvelContext*>(AContext);
  if (!ctx) return;
  TQuorvelRenderPassController* pass = FSource ? FSource->GetOwnerPass() : nullptr;
  ctx->SetShaderVariable("ModelViewProjMatrix",
                         pass ? pass->GetCurrentModelViewProjectionMatrix() : ctx->GetCurrentModelViewProjectionMatrix());
  TTexture* texture = GetInputTexture(AContext);
  if (!texture) {
    if (FSource && FSource->GetComponentState().Contains(csDesigning)) return;
    throw Exception("fxaa pass - input texture empty");
  }
  ctx->SetShaderVariable("Input", texture);
}

TFXAAMaterialSource::TFXAAMaterialSource(TQuorvelRenderPassController* AOwnerPass)
    : TQuorvelRenderPassMaterialSource(AOwnerPass) {
  // A reset context made the input pass's output texture anew: the material takes it again.
  FContextResetOvrId = TMessageManager::DefaultManager().SubscribeToMessage<TContextResetMessage>(
      [this](TObject* ASender, const TMessage&) { DoPassesChanged(ASender); });
}

TFXAAMaterialSource::~TFXAAMaterialSource() {
  TMessageManager::DefaultManager().Unsubscribe<TContextResetMessage>(FContextResetOvrId);
}

TMaterial* TFXAAMaterialSource::CreateMaterial() {
  FHasMaterial = true;
  return New<TFXAAMaterial>(this);
}

void TFXAAMaterialSource::DoPassesChanged(TObject*) {
  if (FInputPass && FXAA()) FXAA()->SetInputTexture(FInputPass->GetOutputTexture());
}

// ---- pass -----------------------------------------------------------------------------------

namespace {
}

TQuorvelRenderPassFXAA::TQuorvelRenderPassFXAA(TComponent* AOwner, const std::string& AId)
    : TQuorvelRenderPassController(AOwner, AId) {}

TFXAAMaterial* TQuorvelRenderPassFXAA::Material() const {
  auto* source = static_cast<TFXAAMaterialSource*>(GetShader());
  return source ? source->FXAA() : nullptr;
}

void TQuorvelRenderPassFXAA::InitializeRenderPass() {
  TQuorvelRenderPassController::InitializeRenderPass();
  FType = TRenderPassType::Post;
  FMethod = TRenderPassMethod::RectToFBO;
  FRendererFlags = kAllRendererFlags;
  using F = TBlendFactor;
  FBlendings[0] = TBlendSetting::Create(false, TBlendEquationFunc::befAdd, F::bfOne, F::bfOne, F::bfOne, F::bfOne);
  FIterations = 1;
  if (TQuorvelRenderPassMaterialSource* old = GetShader()) {
    SetShader(nullptr);
    Free(old);
  }
  SetShader(CreateMaterialSource());
}

TQuorvelRenderPassMaterialSource* TQuorvelRenderPassFXAA::CreateMaterialSource() {
  return New<TFXAAMaterialSource>(this);
}

void TQuorvelRenderPassFXAA::CreateRenderer() {
  FRendererFlags = kAllRendererFlags;
  TQuorvelRenderPassController::CreateRenderer();
}

void TQuorvelRenderPassFXAA::SetCompositeInputTexture(TTexture* ATexture) {
  if (!GetShader()) return;
  FBaseTexture = nullptr;
  Material()->SetInputTexture(ATexture);
}

TTexture* TQuorvelRenderPassFXAA::GetFinalOutputTexture() {
  TRenderer* renderer = GetRenderer();
  if (renderer && renderer->GetCompositeTexture()) return renderer->GetCompositeTexture()->GetTexture();
  return GetOutputTexture();
}

TTexture* TQuorvelRenderPassFXAA::ScratchTexture() {
  TRenderer* renderer = GetRenderer();
  return FScratch.For(renderer && renderer->GetCompositeTexture() ? renderer->GetCompositeTexture()->GetTexture()
                                                                  : nullptr);
}

void TQuorvelRenderPassFXAA::DoOnRenderPass(int32_t ACount, TRenderPass* APass) {
  TQuorvelRenderPassController::DoOnRenderPass(ACount, APass);
  auto* ctx = dynamic_cast<TQuorvelContext*>(RendererContext());
  if (!ctx) return;
  ctx->SetContextStates({TContextState::csZTestOff, TContextState::csZWriteOff, TContextState::csColorWriteOn,
                         TContextState::csFrontFace});
  if (TCamera* camera = FViewport ? FViewport->GetCurrentCamera() : nullptr) {
    ctx->SetCameraMatrix(camera->GetCameraMatrix());
    ctx->SetCameraAngleOfView(camera->GetAngleOfView());
  }
  TTexture* composite = GetFinalOutputTexture();
  // The last iteration draws into the composite texture; the ones before alternate with the
  // scratch texture, so that each reads what the previous one drew and none reads its target.
  const int32_t iterations = std::max(FIterations, 1);
  const bool intoComposite = (iterations - 1 - ACount) % 2 == 0;
  TTexture* target = intoComposite ? composite : ScratchTexture();
  if (ACount != 0) {
    Material()->SetInputTexture(intoComposite ? ScratchTexture() : composite);
  } else {
    if (FBaseTexture)
      Material()->SetInputTexture(FBaseTexture);
    else
      FBaseTexture = Material()->GetInputTexture();
  }
  TPassScratch::AttachTarget(this, target);
  if (ACount == 0)
    if (TFrameBufferObject* fbo = GetFBO())
      fbo->Clear(TRenderTargets{TRenderTarget::Color_0}, TAlphaColorF(0, 0, 0, 0), 1.0f, 0, true);
}

void TQuorvelRenderPassFXAA::DoOnEndRenderPass(int32_t ACount, TRenderPass* APass) {
  if (auto* ctx = RendererContext()) {
    ctx->SetContextState(TContextState::csZTestOff);
    ctx->SetContextState(TContextState::csZWriteOff);
    ctx->SetContextState(TContextState::csFrontFace);
  }
  TQuorvelRenderPassController::DoOnEndRenderPass(ACount, APass);
}

void TQuorvelRenderPassFXAA::BeforeDestruction() {
  TQuorvelRenderPassMaterialSource* shader = GetShader();
  SetShader(nullptr);
  FreeQuietly(shader, "FXAA material source");
  FScratch.Release();
  TQuorvelRenderPassController::BeforeDestruction();
}

}  // namespace quorvel
