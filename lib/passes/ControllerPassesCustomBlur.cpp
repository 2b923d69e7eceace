#include "lib/passes/ControllerPassesCustomBlur.h"

#include <algorithm>
#include <string>

#include "framework/classes/Messages.h"
#include "framework/gui3d/Camera.h"
#include "framework/rtl/Finally.h"
#include "lib/context/Context.h"
#include "lib/context/ContextBuffersFrameBuffers.h"
#include "lib/context/ContextTexturing.h"
#include "lib/passes/PassShaders.h"
#include "lib/scene/Viewport.h"

namespace quorvel {

FW_CLASS_IMPL(TBlurMaterial, "Quorvel.Controller.Passes.CustomBlur")
FW_CLASS_NO_MEMBERS(TBlurMaterial)
FW_CLASS_IMPL(TBlurMaterialSource, "Quorvel.Controller.Passes.CustomBlur")
FW_CLASS_NO_MEMBERS(TBlurMaterialSource)
FW_CLASS_IMPL(TQuorvelRenderPassBlur, "Quorvel.Controller.Passes.CustomBlur")
FW_CLASS_NO_MEMBERS(TQuorvelRenderPassBlur)

const float TBlurMaterial::FastBlurWeights[19] = {
    0.03887254f,   0.0431734808f, 0.0473619401f, 0.0513192490f, 0.0549249202f, 0.0580626540f, 0.0606265292f,
    0.0625268966f, 0.0636955872f, 0.03887254f,   0.0636955872f, 0.0625268966f, 0.0606265292f, 0.0580626540f,
    0.0549249202f, 0.0513192490f, 0.0473619401f, 0.0431734808f, 0.03887254f};

namespace {

const char* const kPixelHead = R"(#version 430
uniform sampler2D _Input;
in vec4 v_Position;
in vec4 TEX0;
layout (location = 0) out vec4 o_FragColor;
)" QUORVEL_PASS_LOOKUPS;

const char* const kRadial = R"(
uniform vec2 _Radius;
uniform float _Exposure;
vec3 ACESFilm(vec3 color) {
  return clamp(color * (2.51 * color + 0.03) / (color * (2.43 * color + 0.59) + 0.14), 0.0, 1.0);
}
void main() {
  vec4 color = tex2D(_Input, TEX0.xy);
  for (int d = 0; d < 32; ++d) {
    float angle = float(d) * (6.28318530718 / 32.0);
    vec2 step = vec2(cos(angle), sin(angle)) * _Radius;
    for (int i = 1; i <= 8; ++i) color += tex2D(_Input, TEX0.xy + step * (float(i) / 8.0));
  }
  // 8 x 32 - 15: brighter than the average of the 257 samples, as the look asks.
  color /= 241.0;
  o_FragColor = vec4(pow(ACESFilm(color.rgb * _Exposure), vec3(1.0 / 2.2)), color.a);
}
)";

// Taps at -9 .. +9 steps of 1 / _Width along BLUR_DIR, clamped into the texture.
std::string FastBlurText(const char* ADirection) {
  std::string weights;
  for (int i = 0; i < 19; ++i) weights += (i ? ", " : "") + std::to_string(double(TBlurMaterial::FastBlurWeights[i]));
  return std::string(kPixelHead) + "#define BLUR_DIR " + ADirection + "\nuniform float _Width;\n" +
         "const float Weights[19] = float[19](" + weights + R"();
void main() {
  vec4 sum = vec4(0.0);
  for (int i = 0; i < 19; ++i) {
    vec2 uv = clamp(TEX0.xy + BLUR_DIR * (float(i - 9) / _Width), 0.0, 1.0);
    sum += tex2D(_Input, uv) * Weights[i];
  }
  o_FragColor = sum;
}
)";
}

std::string GaussBlurText(const char* ADirection) {
  return std::string(kPixelHead) + "#define BLUR_DIR " + ADirection + "\n" + R"(uniform float _Width;
#define KERNEL_SIZE 35
const float sigma = 7.0;
float gauss(float x) { return 1.0 / (2.0 * 3.14159265 * sigma * sigma) * exp(-(x * x) / (2.0 * sigma * sigma)); }
void main() {
  vec2 step = vec2(1.0 / _Width);
  vec4 sum = vec4(0.0);
  float total = 0.0;
  for (int k = -KERNEL_SIZE / 2; k <= KERNEL_SIZE / 2; ++k) {
    float w = gauss(float(k)) + gauss(float(k) + 1.0);
    sum += tex2D(_Input, TEX0.xy + float(k) * step * BLUR_DIR) * w;
    total += w;
  }
  o_FragColor = sum / total;
}
)";
}

bool IsDesigningBlur(const TComponent* AComponent) {
  return AComponent && AComponent->GetComponentState().Contains(csDesigning);
}

bool IsSeparable(TPassBlurType AType) {
  return AType == TPassBlurType::FastBlur || AType == TPassBlurType::GaussianBlur;
}


}  // namespace

// ---- material -------------------------------------------------------------------------------

TBlurMaterial::TBlurMaterial(TQuorvelRenderPassMaterialSource* ASource) : TQuorvelRenderPassMaterial(ASource) {}

void TBlurMaterial::SetBlurAmount(float Value) { FBlurAmount = std::clamp(Value, 0.0f, 15.0f); }

void TBlurMaterial::SetInputTexture(TTexture* Value) {
  if (FInputTexture != Value) FInputTexture = Value;
  DoChange();
}

TQuorvelRenderPassBlur* TBlurMaterial::OwnerBlur() const {
  return FSource ? dynamic_cast<TQuorvelRenderPassBlur*>(FSource->GetOwnerPass()) : nullptr;
}

bool TBlurMaterial::InSecondStep() const {
  TQuorvelRenderPassBlur* pass = OwnerBlur();
  auto* source = dynamic_cast<TBlurMaterialSource*>(FSource);
  return pass && source && pass->GetPingPongMode() && source->GetIteration() % 2 == 1;
}

TTexture* TBlurMaterial::GetInputTexture(TContext3D* AContext) {
  // The vertical step blurs what the horizontal one drew, never the input again.
  if (IsSeparable(FBlurType) && InSecondStep()) return FInputTexture;
  if (TQuorvelRenderPassController* input = FSource ? FSource->GetInputPass() : nullptr)
    FInputTexture = input->GetOutputTexture();
  else
    FInputTexture = AContext ? AContext->GetTexture() : nullptr;
  return FInputTexture;
}

TContextShader* TBlurMaterial::ChoosePixelShader() const {
  if (!IsSeparable(FBlurType)) return FPixelShader;
  TQuorvelRenderPassBlur* pass = OwnerBlur();
  bool vertical;
  if (pass && pass->GetPingPongMode()) {
    auto* source = dynamic_cast<TBlurMaterialSource*>(FSource);
    vertical = source && source->GetIteration() % 2 != 0;
  } else {
    vertical = FBlurMode == TPassBlurMode::Vertical;
  }
  if (FBlurType == TPassBlurType::FastBlur) return vertical ? FFastBlurV : FFastBlurH;
  return vertical ? FGaussBlurV : FGaussBlurH;
}

void TBlurMaterial::DoInitialize() {
  using K = TContextShaderVariableKind;
  static const std::string fastH = FastBlurText("vec2(1.0, 0.0)"), fastV = FastBlurText("vec2(0.0, 1.0)");
  static const std::string gaussH = GaussBlurText("vec2(1.0, 0.0)"), gaussV = GaussBlurText("vec2(0.0, 1.0)");
  static const std::string radial = std::string(kPixelHead) + kRadial;
  const TContextShaderVariables separable{{"Input", K::Texture, 0, 0}, {"Width", K::Float, 1, 1}};
  FVertexShader = RegisterPassShader("CustomBlur", this, TContextShaderKind::VertexShader, QUORVEL_PASS_RECT_VERTEX,
                                     {{"ModelViewProjMatrix", K::Matrix, 0, 4}});
  FPixelShader = RegisterPassShader(
      "CustomRadialBlurH", this, TContextShaderKind::PixelShader, radial.c_str(),
      {{"Input", K::Texture, 0, 0}, {"Radius", K::Float2, 1, 1}, {"Exposure", K::Float, 2, 1}});
  FFastBlurH = RegisterPassShader("CustomFastBlurH", this, TContextShaderKind::PixelShader, fastH.c_str(), separable);
  FFastBlurV = RegisterPassShader("CustomFastBlurV", this, TContextShaderKind::PixelShader, fastV.c_str(), separable);
  FGaussBlurH = RegisterPassShader("CustomGaussBlurH", this, TContextShaderKind::PixelShader, gaussH.c_str(), separable);
  FGaussBlurV = RegisterPassShader("CustomGaussBlurV", this, TContextShaderKind::PixelShader, gaussV.c_str(), separable);
}

void TBlurMaterial::DoApply(TContext3D* AContext) {
  AContext->SetShaders(FVertexShader, ChoosePixelShader());
  TQuorvelRenderPassController* pass = FSource ? FSource->GetOwnerPass() : nullptr;
  if (auto* ctx = dynamic_cast<TQuorvelContext*>(AContext))
    ctx->SetShaderVariable("ModelViewProjMatrix",
                           pass ? pass->GetCurrentModelViewProjectionMatrix() : ctx->GetCurrentModelViewProjectionMatrix());
  TTexture* input = GetInputTexture(AContext);
  if (!input && !IsDesigningBlur(FSource)) throw Exception("blur pass - input texture empty");
  AContext->SetShaderVariable("Input", input);
  const TVector3D exposure(FExposure, 0, 0, 0);
  AContext->SetShaderVariable("Exposure", std::span<const TVector3D>(&exposure, 1));
  const bool sized = input && FBlurAmount > 0;
  if (IsSeparable(FBlurType)) {
    float width = 32;
    if (sized)
      width = float(FBlurMode == TPassBlurMode::Horizontal ? input->GetWidth() : input->GetHeight()) / FBlurAmount;
    const TVector3D value(width, 0, 0, 0);
    AContext->SetShaderVariable("Width", std::span<const TVector3D>(&value, 1));
  } else {
    const float r = FBlurAmount * 4;
    const float w = float(sized ? input->GetWidth() : AContext->GetWidth());
    const float h = float(sized ? input->GetHeight() : AContext->GetHeight());
    const TVector3D radius(r / w, r / h, 0, 0);
    AContext->SetShaderVariable("Radius", std::span<const TVector3D>(&radius, 1));
  }
}

// ---- material source ------------------------------------------------------------------------

TBlurMaterialSource::TBlurMaterialSource(TQuorvelRenderPassController* AOwnerPass)
    : TQuorvelRenderPassMaterialSource(AOwnerPass) {
  FContextResetOvrId = TMessageManager::DefaultManager().SubscribeToMessage<TContextResetMessage>(
      [this](TObject* Sender, const TMessage&) { DoPassesChanged(Sender); });
}

void TBlurMaterialSource::BeforeDestruction() {
  TMessageManager::DefaultManager().Unsubscribe<TContextResetMessage>(FContextResetOvrId);
  TQuorvelRenderPassMaterialSource::BeforeDestruction();
}

TMaterial* TBlurMaterialSource::CreateMaterial() {
  FHasMaterial = true;
  return New<TBlurMaterial>(this);
}

void TBlurMaterialSource::DoPassesChanged(TObject*) {
  if (FInputPass) Blur()->SetInputTexture(FInputPass->GetOutputTexture());
}

// ---- pass -----------------------------------------------------------------------------------

TQuorvelRenderPassBlur::TQuorvelRenderPassBlur(TComponent* AOwner, const std::string& AId)
    : TQuorvelRenderPassController(AOwner, AId) {}

TBlurMaterial* TQuorvelRenderPassBlur::Material() const { return BlurSource() ? BlurSource()->Blur() : nullptr; }

TPassBlurType TQuorvelRenderPassBlur::GetBlurType() const { return Material()->GetBlurType(); }

void TQuorvelRenderPassBlur::SetBlurType(TPassBlurType Value) {
  Material()->SetBlurType(Value);
  SetIterations(IsSeparable(Value) ? 2 : 1);
}

TPassBlurMode TQuorvelRenderPassBlur::GetBlurMode() const { return Material()->GetBlurMode(); }
void TQuorvelRenderPassBlur::SetBlurMode(TPassBlurMode Value) { Material()->SetBlurMode(Value); }
float TQuorvelRenderPassBlur::GetBlurAmount() const { return Material()->GetBlurAmount(); }
void TQuorvelRenderPassBlur::SetBlurAmount(float Value) { Material()->SetBlurAmount(Value); }
float TQuorvelRenderPassBlur::GetExposure() const { return BlurSource()->GetExposure(); }
void TQuorvelRenderPassBlur::SetExposure(float Value) { BlurSource()->SetExposure(Value); }

void TQuorvelRenderPassBlur::SetIterations(int32_t Value) {
  TQuorvelRenderPassController::SetIterations(Material() && GetBlurType() == TPassBlurType::RadialBlur ? 1 : Value);
}

TTexture* TQuorvelRenderPassBlur::GetFinalOutputTexture() {
  TRenderer* renderer = GetRenderer();
  if (FPingPongMode && renderer && renderer->GetCompositeTexture()) return renderer->GetCompositeTexture()->GetTexture();
  return GetOutputTexture();
}

TQuorvelRenderPassMaterialSource* TQuorvelRenderPassBlur::CreateMaterialSource() {
  return New<TBlurMaterialSource>(this);
}

void TQuorvelRenderPassBlur::InitializeRenderPass() {
  TQuorvelRenderPassController::InitializeRenderPass();
  FType = TRenderPassType::Post;
  FMethod = TRenderPassMethod::RectToFBO;
  FRendererFlags = kAllRendererFlags;
  using F = TBlendFactor;
  FBlendings = TBlendSettings{};
  FBlendings[0] = TBlendSetting::Create(false, TBlendEquationFunc::befAdd, F::bfOne, F::bfOne, F::bfOne, F::bfOne);
  if (TQuorvelRenderPassMaterialSource* old = GetShader()) {
    SetShader(nullptr);
    Free(old);
  }
  SetShader(CreateMaterialSource());
  FIterations = 1;
  FPingPongMode = true;
}

void TQuorvelRenderPassBlur::CreateRenderer() {
  FRendererFlags = kAllRendererFlags;
  TQuorvelRenderPassController::CreateRenderer();
}

void TQuorvelRenderPassBlur::DoOnRenderPass(int32_t ACount, TRenderPass* APass) {
  TQuorvelRenderPassController::DoOnRenderPass(ACount, APass);
  auto* ctx = dynamic_cast<TQuorvelContext*>(RendererContext());
  if (!ctx) return;
  ctx->SetMemoryBarrierBits(
      TMemoryBarrierFlags::FromBits((uint64_t(1) << (int(TMemoryBarrierFlag::ShaderStorageBarrierBit) + 1)) - 1));
  ctx->SetContextStates({TContextState::csZTestOff, TContextState::csZWriteOff, TContextState::csColorWriteOn,
                         TContextState::csFrontFace});
  if (TCamera* camera = FViewport ? FViewport->GetCurrentCamera() : nullptr) {
    ctx->SetCameraMatrix(camera->GetCameraMatrix());
    ctx->SetCameraAngleOfView(camera->GetAngleOfView());
  }
  BlurSource()->SetIteration(ACount);
  if (!FPingPongMode) return;
  TBlurMaterial* material = Material();
  TTexture* output = GetFinalOutputTexture();
  // The first step of a pair draws into the scratch texture and the second reads it there:
  // no iteration samples the texture it draws into. The last iteration draws the output.
  if (ACount % 2 == 1) {
    material->SetInputTexture(FScratch.For(output));
    TPassScratch::AttachTarget(this, output);
    return;
  }
  if (FBaseTexture)
    material->SetInputTexture(FBaseTexture);
  else
    FBaseTexture = material->GetInputTexture();
  const bool last = ACount >= std::max(FIterations, 1) - 1;
  TPassScratch::AttachTarget(this, last ? output : FScratch.For(output));
  if (TFrameBufferObject* fbo = GetFBO())
    fbo->Clear(TRenderTargets{TRenderTarget::Color_0}, TAlphaColorF(0, 0, 0, 0), 1.0f, 0, true);
}

void TQuorvelRenderPassBlur::DoOnEndRenderPass(int32_t ACount, TRenderPass* APass) {
  if (RendererContext() && dynamic_cast<TQuorvelContext*>(RendererContext())) {
    TContext3D* ctx = RendererContext();
    ctx->SetContextState(TContextState::csZTestOff);
    ctx->SetContextState(TContextState::csZWriteOff);
    ctx->SetContextState(TContextState::csFrontFace);
  }
  TQuorvelRenderPassController::DoOnEndRenderPass(ACount, APass);
}

void TQuorvelRenderPassBlur::BeforeDestruction() {
  TQuorvelRenderPassMaterialSource* shader = GetShader();
  SetShader(nullptr);
  FreeQuietly(shader, "blur material source");
  FScratch.Release();
  TQuorvelRenderPassController::BeforeDestruction();
}

}  // namespace quorvel
