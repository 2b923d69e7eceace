#include "lib/passes/ControllerPassesGlobalIllumination.h"

#include <cstring>

#include "framework/gui3d/Camera.h"
#include "framework/rtl/Finally.h"
#include "lib/context/Context.h"
#include "lib/context/ContextBuffersFrameBuffers.h"
#include "lib/context/ContextShader.h"
#include "lib/passes/ControllerPassesVoxelize.h"
#include "lib/passes/PassShaders.h"
#include "lib/scene/Viewport.h"

namespace quorvel {

FW_CLASS_IMPL(TGlobalIllumMaterial, "Quorvel.Controller.Passes.GlobalIllumination")
FW_CLASS_NO_MEMBERS(TGlobalIllumMaterial)
FW_CLASS_IMPL(TGlobalIllumMaterialSource, "Quorvel.Controller.Passes.GlobalIllumination")
FW_CLASS_NO_MEMBERS(TGlobalIllumMaterialSource)
FW_CLASS_IMPL(TQuorvelRenderPassGlobalIllum, "Quorvel.Controller.Passes.GlobalIllumination")
void TQuorvelRenderPassGlobalIllum::Register(ClassBuilder<TQuorvelRenderPassGlobalIllum>& b) {
  b.Prop("ShadowStrength", &Self::GetShadowStrength, &Self::SetShadowStrength)
      .Prop("ReflectionStrength", &Self::GetReflectionStrength, &Self::SetReflectionStrength);
}
FW_CLASS_IMPL(TQuorvelRenderPassEmbeddedGlobalIllum, "Quorvel.Controller.Passes.GlobalIllumination")
FW_CLASS_NO_MEMBERS(TQuorvelRenderPassEmbeddedGlobalIllum)

const char* const TGlobalIllumMaterial::VertexShaderText = QUORVEL_PASS_RECT_VERTEX;

// Cascade coordinates count as inside strictly between 0 and 1: between -1 and 0 they would
// read the previous cascade's slices. Screen positions apply the view, then the projection.
const char* const TGlobalIllumMaterial::PixelShaderText = "#version 430\n" QUORVEL_PASS_LIGHT_STRUCT R"(
layout (binding=0, std140) uniform GlobalIllumShaderData {
  mat4 _ViewMatrix;
  mat4 _ProjMatrix;
  vec4 _CanvasSize;
  vec3 _VoxelCenter;
  int _GlobalIllum;
  int _VoxelSize;
  float _ShadowStrength;
  float _Reflection;
  int _NumberOfLights;
  Light _Lights[MAX_LIGHTS];
};
uniform sampler2D _PositionTexture;
uniform sampler2D _NormalsTexture;
uniform sampler3D _VoxelGeometry;
in vec4 v_Position;
in vec4 TEX0;
layout (location = 0) out vec4 o_FragColor;
)" QUORVEL_PASS_LIGHT_FUNCS R"(
#define VOXEL_LEVEL_HARDCAP 7
const float SCALES[8] = float[8](2.0, 4.0, 8.0, 16.0, 32.0, 48.0, 64.0, 128.0);
int levelOf(vec3 p) {
  float d = length(p);
  if (d > 64.0) return 7;
  if (d > 48.0) return 6;
  if (d > 32.0) return 5;
  if (d > 16.0) return 4;
  if (d > 8.0) return 3;
  if (d > 4.0) return 2;
  if (d > 2.0) return 1;
  return 0;
}
vec3 cascadeCoord(vec3 p, int l) { return (p / SCALES[l] + vec3(1.0)) / 2.0; }
bool inside(vec3 c) { return all(greaterThan(c, vec3(0.0))) && all(lessThan(c, vec3(1.0))); }
vec4 voxelAt(int l, vec3 c) {
  return texture(_VoxelGeometry, vec3(c.x, c.y, c.z / 8.0 + float(l) / 8.0));
}
float stepOf(int l, float floorValue) { return max(floorValue, SCALES[l] / float(max(_VoxelSize, 1))); }
float shadowCone(vec3 P, vec3 L, float m) {
  L = normalize(L);
  float occlusion = 0.0;
  float t = 0.1;
  float cone = tan(0.75 / 2.0);
  m = min(128.0, m);
  P = P - _VoxelCenter;
  while (t < m && occlusion < 0.95) {
    vec3 q = P + L * t;
    int l = levelOf(q);
    float s = stepOf(l, 0.015);
    vec3 c = cascadeCoord(q, l);
    if (!inside(c)) break;
    float read = voxelAt(l, c).a * smoothstep(0.0, m, sqrt(t) * 8.0);
    occlusion += (1.0 - occlusion) * read;
    t += max(s, s * t * cone);
  }
  return occlusion * _ShadowStrength;
}
vec3 reflectionCone(vec3 P, vec3 N) {
  N = normalize(N);
  vec3 color = vec3(0.0);
  float t = 0.1;
  float cone = tan(0.65 / 2.0);
  P = P - _VoxelCenter;
  float alpha = 0.0;
  while (t < 128.0 && alpha < 1.0) {
    vec3 q = P + N * t;
    int l = levelOf(q);
    float w = 0.5 * t * cone;
    float s = stepOf(l, 0.025);
    vec3 c = cascadeCoord(q, l);
    if (!inside(c)) break;
    vec4 v = voxelAt(l, c) * smoothstep(0.0, 128.0, sqrt(t) * 4.0);
    color += v.rgb;
    alpha += v.a;
    t += max(s, s * w);
  }
  return clamp(color, 0.0, 1.0);
}
vec2 toScreen(vec3 x) {
  vec4 s = _ProjMatrix * _ViewMatrix * vec4(x, 1.0);
  return clamp(s.xy / s.w * 0.5 + 0.5, 0.0, 1.0);
}
vec3 gray(vec3 c) { return vec3(dot(c, vec3(0.299, 0.587, 0.114))); }
vec3 scattering(Light l, vec3 L, float dist, float att) {
  float intensity = l._Scattering.x;
  if (intensity < 0.0001) return vec3(0.0);
  float exposure = l._Scattering.y, decay = l._Scattering.z, density = l._Scattering.w;
  vec2 dir;
  if (l._LightType == 1)
    dir = TEX0.xy - toScreen(l._Position.xyz);
  else
    dir = (_ProjMatrix * _ViewMatrix * -vec4(L, 1.0)).xy;
  vec2 stepUV = dir * density / 100.0;
  vec2 uv = TEX0.xy;
  vec3 sum = vec3(0.0);
  float factor = 1.0;
  for (int i = 0; i < 100; ++i) {
    uv -= stepUV;
    sum += abs(texture(_NormalsTexture, uv).rgb) * factor * 5.56;
    factor *= decay;
  }
  return (vec3(1.0) - gray(sum) * exposure) * l._Diffuse.rgb * l._Intensity * att * intensity;
}
void main() {
  vec4 color = vec4(0.0);
  vec4 position = texture(_PositionTexture, TEX0.xy);
  // Nothing drawn here: no light to gather and no shadow on the background.
  if (position.a < -30000.0) {
    o_FragColor = color;
    return;
  }
  vec3 P = position.xyz;
  if (_Reflection > 0.0001) color.rgb += reflectionCone(P, texture(_NormalsTexture, TEX0.xy).xyz) * _Reflection;
  float shadow = 0.0;
  vec3 scatter = vec3(0.0);
  int count = min(_NumberOfLights, MAX_LIGHTS);
  for (int i = 0; i < count; ++i) {
    float dist = distance(_Lights[i]._Position.xyz, P);
    vec3 L = lightDirection(_Lights[i], P);
    float att = lightAttenuation(_Lights[i], P);
    shadow += shadowCone(P, L, dist);
    scatter += scattering(_Lights[i], L, dist, att);
  }
  color.rgb += scatter;
  color.a = clamp(shadow * 0.4, 0.0, 1.0);
  o_FragColor = color;
}
)";

// ---- material -------------------------------------------------------------------------------

TGlobalIllumMaterial::TGlobalIllumMaterial(TQuorvelRenderPassMaterialSource* ASource)
    : TQuorvelRenderPassMaterial(ASource) {
  std::memset(static_cast<void*>(&FShaderData), 0, sizeof(FShaderData));
  FShaderData.ShadowStrength = 0.4f;
  FShaderData.Reflection = 0;
  FShaderData.NumberOfLights = 0;
}

TGlobalIllumMaterial::~TGlobalIllumMaterial() {
  FPositionTexture = nullptr;
  FNormalsTexture = nullptr;
}

void TGlobalIllumMaterial::SetPositionTexture(TTexture* Value) {
  if (FPositionTexture != Value) FPositionTexture = Value;
  DoChange();
}

void TGlobalIllumMaterial::SetNormalsTexture(TTexture* Value) {
  if (FNormalsTexture != Value) FNormalsTexture = Value;
  DoChange();
}

void TGlobalIllumMaterial::DoInitialize() {
  using K = TContextShaderVariableKind;
  FVertexShader = RegisterPassShader("global.illum", this, TContextShaderKind::VertexShader, VertexShaderText,
                                     {{"ModelViewProjMatrix", K::Matrix, 0, 4}});
  FPixelShader = RegisterPassShader(
      "global.illum", this, TContextShaderKind::PixelShader, PixelShaderText,
      {{"PositionTexture", K::Texture, 1, 0}, {"NormalsTexture", K::Texture, 2, 0}, {"VoxelGeometry", K::Texture, 3, 0}});
}

void TGlobalIllumMaterial::DoApply(TContext3D* AContext) {
  auto* ctx = dynamic_cast<TQuorvelContext*>(AContext);
  if (!ctx) return;
  TQuorvelRenderPassMaterial::DoApply(AContext);
  TShaderProgram* program = TQuorvelContext::GetCurrentProgram();
  if (program) {
    if (PUniformBufferStruct block = program->RegisterUniformBuffer("GlobalIllumShaderData", &FShaderData,
                                                                     sizeof(FShaderData)))
      block->Data = &FShaderData;
    FShaderDataRegistered = true;
  }
  auto* pass = FSource ? dynamic_cast<TQuorvelRenderPassGlobalIllum*>(FSource->GetOwnerPass()) : nullptr;
  if (!pass) return;
  FShaderData.NumberOfLights = CopyEnabledShaderLights(ctx->GetShaderLights(), FShaderData.Lights, 8);
  ctx->SetShaderVariable("ModelViewProjMatrix", pass->GetCurrentModelViewProjectionMatrix());
  FShaderData.CanvasSize = TVector3D(float(ctx->GetWidth()), float(ctx->GetHeight()), 0, 0);
  ctx->SetShaderVariable("PositionTexture", FPositionTexture);
  ctx->SetShaderVariable("NormalsTexture", FNormalsTexture);
  if (auto* voxels = dynamic_cast<TQuorvelRenderPassVoxelize*>(pass->GetVoxelGeometry())) {
    FShaderData.GlobalIllum = 1;
    ctx->SetShaderVariable("VoxelGeometry", voxels->GetTexture3D());
    FShaderData.VoxelCenter = voxels->GetVoxelCenter();
    FShaderData.VoxelSize = voxels->GetVoxelSize();
    FShaderData.ViewMatrix = voxels->GetViewMatrix();
  } else {
    FShaderData.ViewMatrix = ctx->GetCurrentCameraMatrix();
    FShaderData.VoxelCenter = TPoint3D(0, 0, 0);
    FShaderData.GlobalIllum = 0;
  }
  FShaderData.ProjMatrix = ctx->GetCurrentProjectionMatrix();
  if (program) program->PushUniformBuffers();
}

TMaterial* TGlobalIllumMaterialSource::CreateMaterial() {
  FHasMaterial = true;
  return GetMaterial() ? GetMaterial() : New<TGlobalIllumMaterial>(this);
}

// ---- pass -----------------------------------------------------------------------------------

namespace {
}

TQuorvelRenderPassGlobalIllum::TQuorvelRenderPassGlobalIllum(TComponent* AOwner, const std::string& AId)
    : TQuorvelRenderPassController(AOwner, AId) {}

TGlobalIllumMaterial* TQuorvelRenderPassGlobalIllum::Material() const {
  auto* source = static_cast<TGlobalIllumMaterialSource*>(GetShader());
  return source ? static_cast<TGlobalIllumMaterial*>(TMaterialSource::ValidMaterial(source)) : nullptr;
}

void TQuorvelRenderPassGlobalIllum::InitializeRenderPass() {
  TQuorvelRenderPassController::InitializeRenderPass();
  FType = TRenderPassType::Post;
  FBlendings = TBlendSettings{};
  FMethod = TRenderPassMethod::RectToFBO;
  FRendererFlags = kAllRendererFlags;
  if (!GetShader()) SetShader(New<TGlobalIllumMaterialSource>(this));
}

void TQuorvelRenderPassGlobalIllum::CreateRenderer() {
  FRendererFlags = kAllRendererFlags;
  TQuorvelRenderPassController::CreateRenderer();
}

TTexture* TQuorvelRenderPassGlobalIllum::GetPosition() const { return Material() ? Material()->GetPositionTexture() : nullptr; }
void TQuorvelRenderPassGlobalIllum::SetPosition(TTexture* Value) {
  if (TGlobalIllumMaterial* m = Material()) m->SetPositionTexture(Value);
}
TTexture* TQuorvelRenderPassGlobalIllum::GetNormals() const { return Material() ? Material()->GetNormalsTexture() : nullptr; }
void TQuorvelRenderPassGlobalIllum::SetNormals(TTexture* Value) {
  if (TGlobalIllumMaterial* m = Material()) m->SetNormalsTexture(Value);
}

void TQuorvelRenderPassGlobalIllum::SetVoxelGeometry(TQuorvelRenderPassController* Value) {
  if (Value && !Value->Is<TQuorvelRenderPassVoxelize>()) Value = nullptr;
  if (Value == FVoxelGeometryPass) return;
  if (FVoxelGeometryPass) FVoxelGeometryPass->RemoveFreeNotification(this);
  FVoxelGeometryPass = Value;
  if (FVoxelGeometryPass) FVoxelGeometryPass->FreeNotification(this);
}

float TQuorvelRenderPassGlobalIllum::GetShadowStrength() const {
  return Material() ? Material()->ShaderData().ShadowStrength : 0.4f;
}
void TQuorvelRenderPassGlobalIllum::SetShadowStrength(float Value) {
  if (TGlobalIllumMaterial* m = Material()) m->ShaderData().ShadowStrength = Value;
}
float TQuorvelRenderPassGlobalIllum::GetReflectionStrength() const {
  return Material() ? Material()->ShaderData().Reflection : 0.0f;
}
void TQuorvelRenderPassGlobalIllum::SetReflectionStrength(float Value) {
  if (TGlobalIllumMaterial* m = Material()) m->ShaderData().Reflection = Value;
}

void TQuorvelRenderPassGlobalIllum::DoOnRenderPass(int32_t ACount, TRenderPass* APass) {
  TQuorvelRenderPassController::DoOnRenderPass(ACount, APass);
  auto* ctx = dynamic_cast<TQuorvelContext*>(RendererContext());
  if (!ctx) return;
  ctx->SetContextStates({TContextState::cs2DScene, TContextState::csZTestOff, TContextState::csZWriteOff,
                         TContextState::csAlphaBlendOff, TContextState::csStencilOff, TContextState::csScissorOff,
                         TContextState::csFrontFace});
  if (TFrameBufferObject* fbo = GetFBO()) {
    fbo->Clear(TRenderTargets{TRenderTarget::Color_0, TRenderTarget::Depth}, TAlphaColorF(0, 0, 0, 1), 1.0f, 0, false);
    fbo->Prepare(TRenderTargets{TRenderTarget::Color_0});
  }
  ctx->SetCameraMatrix(TMatrix3D::Identity());
  if (TCamera* camera = FViewport ? FViewport->GetCurrentCamera() : nullptr)
    ctx->SetCameraAngleOfView(camera->GetAngleOfView());
}

void TQuorvelRenderPassGlobalIllum::Notification(TComponent* AComponent, TOperation Operation) {
  TQuorvelRenderPassController::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent && AComponent == FVoxelGeometryPass) FVoxelGeometryPass = nullptr;
}

void TQuorvelRenderPassGlobalIllum::BeforeDestruction() {
  TQuorvelRenderPassMaterialSource* shader = GetShader();
  SetShader(nullptr);
  FreeQuietly(shader, "global illumination material source");
  TQuorvelRenderPassController::BeforeDestruction();
}

}  // namespace quorvel
