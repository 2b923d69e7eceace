#include "lib/passes/ControllerPassesDeferredComposite.h"

#include <algorithm>
#include <cstring>

#include "framework/gui3d/Camera.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/SysUtils.h"
#include "lib/context/Context.h"
#include "lib/context/ContextBuffersFrameBuffers.h"
#include "lib/context/ContextShader.h"
#include "lib/passes/PassShaders.h"
#include "lib/scene/Viewport.h"

namespace quorvel {

FW_CLASS_IMPL(TDeferredCompositeMaterial, "Quorvel.Controller.Passes.Deferred.Composite")
FW_CLASS_NO_MEMBERS(TDeferredCompositeMaterial)
FW_CLASS_IMPL(TDeferredCompositeMaterialSource, "Quorvel.Controller.Passes.Deferred.Composite")
FW_CLASS_NO_MEMBERS(TDeferredCompositeMaterialSource)
FW_CLASS_IMPL(TQuorvelRenderPassDeferredComposite, "Quorvel.Controller.Passes.Deferred.Composite")
void TQuorvelRenderPassDeferredComposite::Register(ClassBuilder<TQuorvelRenderPassDeferredComposite>& b) {
  b.Prop("EmissiveBlur", &Self::GetEmissiveBlur, &Self::SetEmissiveBlur);
}

const char* const TDeferredCompositeMaterial::VertexShaderText = R"(#version 430
in vec3 a_Position;
in vec2 a_TexCoord0;
// The matrix arrives as four rows (the context's matrix convention).
uniform vec4 _ModelViewProjMatrix[4];
out vec4 TEX0;
void main() {
  TEX0 = vec4(a_TexCoord0, 0.0, 1.0);
  vec4 p = vec4(a_Position, 1.0);
  gl_Position = vec4(dot(_ModelViewProjMatrix[0], p), dot(_ModelViewProjMatrix[1], p), dot(_ModelViewProjMatrix[2], p),
                     dot(_ModelViewProjMatrix[3], p));
}
)";

const char* const TDeferredCompositeMaterial::PixelShaderText = R"(#version 430
struct Light {
  int _LightType;
  vec4 _Position;
  vec4 _Direction;
  vec4 _Ambient;
  vec4 _Diffuse;
  vec4 _Specular;
  vec4 _Scattering;
  float _SpotCutOff;
  float _SpotCosCutoff;
  float _SpotExponent;
  float _ConstantAttenuation;
  float _LinearAttenuation;
  float _QuadraticAttenuation;
  float _Intensity;
  int _Enabled;
};
#define MAX_LIGHTS 8
layout (binding=0, std140) uniform CompositeShaderData {
  vec3 _VoxelCenter;
  int _GlobalIllum;
  vec3 _Saturation;
  int _EmissiveBlur;
  int _VoxelSize;
  float _ShadowLimit;
  float _Reflection;
  int _NumberOfLights;
  Light _Lights[MAX_LIGHTS];
};
uniform sampler2D _AlbedoTexture;
uniform sampler2D _TranslucentAlbedoTexture;
uniform sampler2D _AlphaTexture;
uniform sampler2D _PositionTexture;
uniform sampler2D _NormalsTexture;
uniform sampler2D _EmissiveTexture;
uniform sampler2D _GlobalIllumination;
in vec4 TEX0;
layout (location = 0) out vec4 o_FragColor;
)" QUORVEL_PASS_LOOKUPS R"(
const vec3 W = vec3(0.2125, 0.7154, 0.0721);
vec3 saturate(vec3 c, float s) { return mix(vec3(dot(c, W)), c, s); }
void main() {
  vec2 uv = TEX0.xy;
  vec4 accum = tex2D(_TranslucentAlbedoTexture, uv);
  float weight = accum.a;
  vec3 color = tex2D(_AlbedoTexture, uv).rgb;
  if (_Saturation.x > 0.001) color = saturate(color, _Saturation.x);
  if (weight > 0.00000001) {
    float alpha = tex2D(_AlphaTexture, uv).r;
    accum.rgb = accum.rgb / weight;
    if (_Saturation.y > 0.001) accum.rgb = saturate(accum.rgb, _Saturation.y);
    color = color * (1.0 - alpha) + accum.rgb * alpha;
    if (_Saturation.z > 0.001) color = saturate(color, _Saturation.z);
  }
  if (_EmissiveBlur > 0) color += tex2D(_EmissiveTexture, uv).rgb;
  if (_GlobalIllum > 0) {
    vec4 gi = tex2D(_GlobalIllumination, uv);
    color += gi.rgb * _Reflection;
    color *= clamp(1.0 - gi.a, _ShadowLimit, 1.0);
  }
  o_FragColor = vec4(color, 1.0);
}
)";

// ---- material -------------------------------------------------------------------------------

TDeferredCompositeMaterial::TDeferredCompositeMaterial(TQuorvelRenderPassMaterialSource* ASource)
    : TQuorvelRenderPassMaterial(ASource) {
  std::memset(static_cast<void*>(&FShaderData), 0, sizeof(FShaderData));
  FShaderData.ShadowLimit = 0.1f;
  FShaderData.Reflection = 1.0f;
  FShaderData.NumberOfLights = 0;
}

TDeferredCompositeMaterial::~TDeferredCompositeMaterial() {
  FAlbedoTexture = FTranslucentAlbedoTexture = FAlphaTexture = nullptr;
  FPositionTexture = FNormalsTexture = FEmissiveTexture = nullptr;
}

void TDeferredCompositeMaterial::Store(TTexture*& AField, TTexture* Value) {
  if (AField != Value) AField = Value;
  DoChange();
}

void TDeferredCompositeMaterial::SetAlbedoTexture(TTexture* Value) { Store(FAlbedoTexture, Value); }
void TDeferredCompositeMaterial::SetTranslucentAlbedoTexture(TTexture* Value) {
  Store(FTranslucentAlbedoTexture, Value);
}
void TDeferredCompositeMaterial::SetAlphaTexture(TTexture* Value) { Store(FAlphaTexture, Value); }
void TDeferredCompositeMaterial::SetPositionTexture(TTexture* Value) { Store(FPositionTexture, Value); }
void TDeferredCompositeMaterial::SetNormalsTexture(TTexture* Value) { Store(FNormalsTexture, Value); }
void TDeferredCompositeMaterial::SetEmissiveTexture(TTexture* Value) { Store(FEmissiveTexture, Value); }

void TDeferredCompositeMaterial::DoInitialize() {
  using K = TContextShaderVariableKind;
  FVertexShader = RegisterPassShader("deferred.composite", this, TContextShaderKind::VertexShader, VertexShaderText,
                                     {{"ModelViewProjMatrix", K::Matrix, 0, 4}});
  FPixelShader = RegisterPassShader("deferred.composite", this, TContextShaderKind::PixelShader, PixelShaderText,
                                    {{"AlbedoTexture", K::Texture, 0, 1},
                                     {"TranslucentAlbedoTexture", K::Texture, 1, 1},
                                     {"AlphaTexture", K::Texture, 2, 1},
                                     {"PositionTexture", K::Texture, 3, 1},
                                     {"NormalsTexture", K::Texture, 4, 1},
                                     {"EmissiveTexture", K::Texture, 5, 1},
                                     {"GlobalIllumination", K::Texture, 6, 1}});
}

void TDeferredCompositeMaterial::DoApply(TContext3D* AContext) {
  auto* ctx = dynamic_cast<TQuorvelContext*>(AContext);
  if (!ctx) throw EInvalidCast("Invalid class typecast");
  TQuorvelRenderPassMaterial::DoApply(AContext);
  TShaderProgram* program = TQuorvelContext::GetCurrentProgram();
  if (program) {
    // A program made from equal texts may be shared: the block always reads this material's record.
    if (PUniformBufferStruct block = program->RegisterUniformBuffer("CompositeShaderData", &FShaderData,
                                                                     sizeof(FShaderData)))
      block->Data = &FShaderData;
    FShaderDataRegistered = true;
  }
  auto* pass = FSource ? dynamic_cast<TQuorvelRenderPassDeferredComposite*>(FSource->GetOwnerPass()) : nullptr;
  if (!pass) return;
  int32_t count = 0;
  for (const TQuorvelShaderLight& light : ctx->GetShaderLights()) {
    if (count == 8) break;
    if (light.IsEnabled()) FShaderData.Lights[count++] = light;
  }
  FShaderData.NumberOfLights = count;
  ctx->SetShaderVariable("ModelViewProjMatrix", pass->GetCurrentModelViewProjectionMatrix());
  ctx->SetShaderVariable("AlbedoTexture", FAlbedoTexture);
  ctx->SetShaderVariable("TranslucentAlbedoTexture", FTranslucentAlbedoTexture);
  ctx->SetShaderVariable("AlphaTexture", FAlphaTexture);
  ctx->SetShaderVariable("PositionTexture", FPositionTexture);
  ctx->SetShaderVariable("NormalsTexture", FNormalsTexture);
  ctx->SetShaderVariable("EmissiveTexture", FEmissiveTexture);
  if (TQuorvelRenderPassController* gi = pass->GetGlobalIllumPass()) {
    FShaderData.GlobalIllum = 1;
    ctx->SetShaderVariable("GlobalIllumination", gi->GetOutputTexture());
  } else {
    FShaderData.VoxelCenter = TPoint3D(0, 0, 0);
    FShaderData.GlobalIllum = 0;
  }
  if (program) program->PushUniformBuffers();
}

TMaterial* TDeferredCompositeMaterialSource::CreateMaterial() {
  FHasMaterial = true;
  return GetMaterial() ? GetMaterial() : New<TDeferredCompositeMaterial>(this);
}

// ---- pass -----------------------------------------------------------------------------------

TQuorvelRenderPassDeferredComposite::TQuorvelRenderPassDeferredComposite(TComponent* AOwner, const std::string& AId)
    : TQuorvelRenderPassController(AOwner, AId) {}

TDeferredCompositeMaterial* TQuorvelRenderPassDeferredComposite::Material() const {
  auto* source = static_cast<TDeferredCompositeMaterialSource*>(GetShader());
  return source->Composite();
}

void TQuorvelRenderPassDeferredComposite::InitializeRenderPass() {
  TQuorvelRenderPassController::InitializeRenderPass();
  FType = TRenderPassType::Post;
  FBlendings = TBlendSettings{};
  SetRenderer(nullptr);
  FMethod = TRenderPassMethod::RectToFBO;
  using F = TBlendFactor;
  FBlendings[0] = TBlendSetting::Create(false, TBlendEquationFunc::befAdd, F::bfOne, F::bfOne, F::bfOne, F::bfOne);
  SetShader(CreateMaterialSource());
}

TQuorvelRenderPassMaterialSource* TQuorvelRenderPassDeferredComposite::CreateMaterialSource() {
  return GetShader() ? GetShader() : New<TDeferredCompositeMaterialSource>(this);
}

// The pass draws with the renderer it is given and never owns one.
void TQuorvelRenderPassDeferredComposite::CreateRenderer() {}

void TQuorvelRenderPassDeferredComposite::SetEmissiveBlur(int32_t Value) {
  Material()->SetEmissiveBlur(std::clamp(Value, 0, 15));
}

void TQuorvelRenderPassDeferredComposite::SetGlobalIllumPass(TQuorvelRenderPassController* Value) {
  if (FGlobalIllumPass == Value) return;
  if (FGlobalIllumPass) FGlobalIllumPass->RemoveFreeNotification(this);
  FGlobalIllumPass = Value;
  if (Value) Value->FreeNotification(this);
}

void TQuorvelRenderPassDeferredComposite::DoOnRenderPass(int32_t ACount, TRenderPass* APass) {
  TQuorvelRenderPassController::DoOnRenderPass(ACount, APass);
  auto* ctx = dynamic_cast<TQuorvelContext*>(RendererContext());
  if (!ctx) return;
  if (TFrameBufferObject* fbo = GetFBO())
    fbo->Clear(TRenderTargets{TRenderTarget::Color_0, TRenderTarget::Depth}, TAlphaColorF(0, 0, 0, 1), 1.0f, 0,
               false);
  if (TFrameBufferObject* fbo = GetFBO()) fbo->Prepare(TRenderTargets{TRenderTarget::Color_0});
  ctx->SetCameraMatrix(TMatrix3D::Identity());
  TCamera* camera = FViewport ? FViewport->GetCurrentCamera() : nullptr;
  if (camera) ctx->SetCameraAngleOfView(camera->GetAngleOfView());
}

void TQuorvelRenderPassDeferredComposite::Notification(TComponent* AComponent, TOperation Operation) {
  TQuorvelRenderPassController::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent && AComponent == FGlobalIllumPass) FGlobalIllumPass = nullptr;
}

void TQuorvelRenderPassDeferredComposite::BeforeDestruction() {
  TQuorvelRenderPassMaterialSource* shader = GetShader();
  SetShader(nullptr);
  FreeQuietly(shader, "composition material source");
  TQuorvelRenderPassController::BeforeDestruction();
}

}  // namespace quorvel
