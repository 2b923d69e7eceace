#include "lib/passes/ControllerPassesVoxelize.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "framework/gui3d/Camera.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/SysUtils.h"
#include "lib/context/Context.h"
#include "lib/context/ContextShader.h"
#include "lib/context/ContextTexturing.h"
#include "lib/passes/PassShaders.h"
#include "lib/scene/Viewport.h"

namespace quorvel {

FW_CLASS_IMPL(TVoxelizeMaterial, "Quorvel.Controller.Passes.Voxelize")
FW_CLASS_NO_MEMBERS(TVoxelizeMaterial)
FW_CLASS_IMPL(TVoxelizeMaterialSource, "Quorvel.Controller.Passes.Voxelize")
FW_CLASS_NO_MEMBERS(TVoxelizeMaterialSource)
FW_CLASS_IMPL(TQuorvelRenderPassVoxelize, "Quorvel.Controller.Passes.Voxelize")
void TQuorvelRenderPassVoxelize::Register(ClassBuilder<TQuorvelRenderPassVoxelize>& b) {
  b.Prop("VoxelSize", &Self::GetVoxelSize, &Self::SetVoxelSize)
      .Prop("FocalLength", &Self::GetFocalLength, &Self::SetFocalLength);
}
FW_CLASS_IMPL(TQuorvelRenderPassEmbeddedVoxelize, "Quorvel.Controller.Passes.Voxelize")
FW_CLASS_NO_MEMBERS(TQuorvelRenderPassEmbeddedVoxelize)

// The voxel's world position travels beside its cascade position: lights are placed in world
// units, so they light what lies at the same place whatever the cascade.
const char* const TVoxelizeMaterial::VertexShaderText = R"(#version 430
in vec3 a_Position;
in vec3 a_Normal;
in mat4 a_ModelMatrix;
uniform mat4 _ModelViewProjectionMatrix;
uniform float _SceneScale;
uniform vec3 _VoxelCenter;
out vec3 v_WorldPositionGeom;
out vec3 v_NormalGeom;
out vec3 v_WorldGeom;
void main() {
  vec4 world = a_ModelMatrix * vec4(a_Position, 1.0);
  v_WorldGeom = world.xyz;
  v_WorldPositionGeom = (world.xyz - _VoxelCenter) / _SceneScale;
  v_NormalGeom = mat3(transpose(inverse(a_ModelMatrix))) * a_Normal;
  gl_Position = _ModelViewProjectionMatrix * vec4(a_Position, 1.0);
}
)";

// Each face is projected along the axis its normal leans towards most; a tie goes to the
// first tied axis (past both, a face leaning evenly between two would be seen edge-on and
// leave no voxel).
const char* const TVoxelizeMaterial::GeometryShaderText = R"(#version 430
layout (triangles) in;
layout (triangle_strip, max_vertices = 3) out;
in vec3 v_WorldPositionGeom[];
in vec3 v_NormalGeom[];
in vec3 v_WorldGeom[];
out vec3 v_WorldPositionFrag;
out vec3 v_NormalFrag;
out vec3 v_WorldFrag;
void main() {
  vec3 n = abs(cross(v_WorldPositionGeom[1] - v_WorldPositionGeom[0], v_WorldPositionGeom[2] - v_WorldPositionGeom[0]));
  for (int i = 0; i < 3; ++i) {
    vec3 p = v_WorldPositionGeom[i];
    v_WorldPositionFrag = p;
    v_NormalFrag = v_NormalGeom[i];
    v_WorldFrag = v_WorldGeom[i];
    if (n.x >= n.y && n.x >= n.z)
      gl_Position = vec4(p.z, p.y, p.x, 1.0);
    else if (n.y >= n.z)
      gl_Position = vec4(p.x, p.z, p.y, 1.0);
    else
      gl_Position = vec4(p.x, p.y, p.z, 1.0);
    EmitVertex();
  }
  EndPrimitive();
}
)";

const char* const TVoxelizeMaterial::PixelShaderText = "#version 430\n" QUORVEL_PASS_LIGHT_STRUCT R"(
struct VoxelMaterial {
  vec4 DiffuseColor;
  vec4 SpecularColor;
  float DiffuseReflectivity;
  float SpecularReflectivity;
  float Emissivity;
  float Transparency;
};
layout (binding=0, std140) uniform VoxelizeShaderData {
  VoxelMaterial _Material;
  vec3 _TextureOffset;
  int _NumberOfLights;
  Light _Lights[MAX_LIGHTS];
};
layout (rgba8) writeonly restrict uniform image3D _Texture3D;
in vec3 v_WorldPositionFrag;
in vec3 v_NormalFrag;
in vec3 v_WorldFrag;
)" QUORVEL_PASS_LIGHT_FUNCS R"(
void main() {
  vec3 N = normalize(v_NormalFrag);
  vec3 lightSum = vec3(0.0);
  int count = min(_NumberOfLights, MAX_LIGHTS);
  for (int i = 0; i < count; ++i) {
    vec3 L = lightDirection(_Lights[i], v_WorldFrag);
    float diffuse = max(dot(N, L), 0.0);
    lightSum += diffuse * lightAttenuation(_Lights[i], v_WorldFrag) * _Lights[i]._Diffuse.rgb;
  }
  vec3 color = (_Material.DiffuseReflectivity * _Material.DiffuseColor.rgb +
                _Material.SpecularReflectivity * _Material.SpecularColor.rgb) * lightSum +
               clamp(_Material.Emissivity, 0.0, 1.0) * _Material.DiffuseColor.rgb;
  ivec3 size = imageSize(_Texture3D);
  size.z = size.x;
  // A face on the cube's far side (position 1) belongs to its last voxel: one further would be
  // the next cascade's first slice.
  ivec3 at = min(ivec3(0.5 * (v_WorldPositionFrag + vec3(1.0)) * vec3(size)), size - 1) + ivec3(_TextureOffset);
  imageStore(_Texture3D, at, vec4(color, 1.0));
}
)";

namespace {


// The kind the engine context knows the writable 3D image by (past the framework's kinds).
constexpr auto kTexture3DKind = static_cast<TContextShaderVariableKind>(9);

}  // namespace

// ---- material -------------------------------------------------------------------------------

TVoxelizeMaterial::TVoxelizeMaterial(TQuorvelRenderPassMaterialSource* ASource) : TQuorvelRenderPassMaterial(ASource) {
  std::memset(static_cast<void*>(&FVoxelizeParams), 0, sizeof(FVoxelizeParams));
  FVoxelizeParams.Material = TVoxelMaterial{};
}

void TVoxelizeMaterial::DoInitialize() {
  using K = TContextShaderVariableKind;
  FVertexShader = RegisterPassShader(
      "Voxelize", this, TContextShaderKind::VertexShader, VertexShaderText,
      {{"ModelViewProjectionMatrix", K::Matrix, 0, 4}, {"SceneScale", K::Float, 1, 1}, {"VoxelCenter", K::Float3, 2, 1}});
  FGeometryShader =
      RegisterPassShader("Voxelize", this, static_cast<TContextShaderKind>(2), GeometryShaderText, {});
  FPixelShader = RegisterPassShader("Voxelize", this, TContextShaderKind::PixelShader, PixelShaderText,
                                    {{"Texture3D", kTexture3DKind, 1, 0}});
}

void TVoxelizeMaterial::DoApply(TContext3D* AContext) {
  auto* ctx = dynamic_cast<TQuorvelContext*>(AContext);
  if (!ctx) return;
  ctx->SetShaders(FVertexShader, FPixelShader, FGeometryShader, FTessEvalShader, nullptr);
  TShaderProgram* program = TQuorvelContext::GetCurrentProgram();
  // Registering is idempotent per program: a program made again (after a context reset)
  // gets the block too.
  if (program) {
    if (PUniformBufferStruct block = program->RegisterUniformBuffer("VoxelizeShaderData", &FVoxelizeParams,
                                                                     sizeof(FVoxelizeParams)))
      block->Data = &FVoxelizeParams;
    FParamsInitialized = true;
  }
  ctx->SetContextStates({TContextState::csZTestOff, TContextState::csAlphaBlendOff, TContextState::csColorWriteOff,
                         TContextState::csAllFace});
  // The vertex stage places vertices with a_ModelMatrix, an instance attribute: a plain draw
  // would leave it at GL's default (a matrix of four (0, 0, 0, 1) columns) and every voxel
  // at the origin. One instance with the object's matrix draws it where it is.
  if (ctx->GetInstanceCount() < 1) {
    const TMatrix3D model = ctx->GetCurrentMatrix();
    ctx->SetInstances(1, &model);
  }
  ctx->SetShaderVariable("ModelViewProjectionMatrix", ctx->GetCurrentModelViewProjectionMatrix(), true);
  const TQuorvelFrustum frustum = ctx->GetFrustum();
  const TPoint3D eye = frustum.GetPosition();
  const float focal = std::min(FFocalLength, eye.Length());
  FVoxelCenter = eye + frustum.GetDirection() * focal;
  const TVector3D center(FVoxelCenter.X, FVoxelCenter.Y, FVoxelCenter.Z, 1);
  ctx->SetShaderVariable("VoxelCenter", std::span<const TVector3D>(&center, 1));
  const TVector3D scale(FSceneScale, 0, 0, 0);
  ctx->SetShaderVariable("SceneScale", std::span<const TVector3D>(&scale, 1));
  FVoxelizeParams.NumberOfLights = CopyEnabledShaderLights(ctx->GetShaderLights(), FVoxelizeParams.Lights, 8);
  auto* pass = FSource ? dynamic_cast<TQuorvelRenderPassVoxelize*>(FSource->GetOwnerPass()) : nullptr;
  if (pass && pass->GetOutputTexture()) {
    if (auto* voxels = dynamic_cast<TQuorvelTexture*>(pass->GetTexture3D())) {
      // Bound as a writable image as well while it is not open for sampling.
      voxels->SetImageAccessable(false);
      ctx->SetShaderVariable("Texture3D", voxels);
    }
  }
  if (program) program->PushUniformBuffers();
}

TMaterial* TVoxelizeMaterialSource::CreateMaterial() {
  FHasMaterial = true;
  return New<TVoxelizeMaterial>(this);
}

// ---- pass -----------------------------------------------------------------------------------

TQuorvelRenderPassVoxelize::TQuorvelRenderPassVoxelize(TComponent* AOwner, const std::string& AId)
    : TQuorvelRenderPassController(AOwner, AId) {}

TVoxelizeMaterial* TQuorvelRenderPassVoxelize::Material() const {
  auto* source = static_cast<TVoxelizeMaterialSource*>(GetShader());
  return source ? source->Voxelize() : nullptr;
}

float TQuorvelRenderPassVoxelize::CascadeSceneScale(int32_t AIteration) {
  static constexpr float kScales[8] = {2, 4, 8, 16, 32, 48, 64, 128};
  return AIteration >= 0 && AIteration < 8 ? kScales[AIteration] : 128;
}

int32_t TQuorvelRenderPassVoxelize::GetVoxelSizeFromDetail(int32_t AMaxTexture3DSize, int32_t& ADetail) {
  static constexpr int32_t kSizes[8] = {0, 32, 64, 128, 192, 256, 384, 512};
  const auto sizeOf = [](int32_t ADetailLevel) { return ADetailLevel >= 1 && ADetailLevel <= 7 ? kSizes[ADetailLevel] : 64; };
  // The last size taken: detail 1's 32 when no level fits.
  int32_t size = sizeOf(ADetail);
  while (ADetail > 0) {
    size = sizeOf(ADetail);
    if (int64_t(size) * 8 <= AMaxTexture3DSize) break;
    --ADetail;
  }
  return size;
}

int32_t TQuorvelRenderPassVoxelize::GetVoxelSizeFromDetail(TContext3D* AContext, int32_t& ADetail) {
  if (!AContext) {
    static constexpr int32_t kSizes[8] = {0, 32, 64, 128, 192, 256, 384, 512};
    return ADetail >= 1 && ADetail <= 7 ? kSizes[ADetail] : 64;
  }
  return GetVoxelSizeFromDetail(TQuorvelContext::MaxTexture3DSize(), ADetail);
}

void TQuorvelRenderPassVoxelize::SetVoxelSize(int32_t Value) {
  // Below 32 the texture would have no voxels (or a negative size): 32 is the smallest.
  FVoxelSize = std::clamp(Value / 32 * 32, 32, 512);
  InvalidateMatrices();
  CreateRenderer();
  // The registered run instance follows the new renderer's context.
  if (FViewport) UpdateRenderPass();
}

float TQuorvelRenderPassVoxelize::GetFocalLength() const {
  TVoxelizeMaterial* material = Material();
  return material ? material->GetFocalLength() : 10;
}

void TQuorvelRenderPassVoxelize::SetFocalLength(float Value) {
  if (TVoxelizeMaterial* material = Material()) material->SetFocalLength(std::clamp(Value, 1.0f, 50.0f));
}

TPoint3D TQuorvelRenderPassVoxelize::GetVoxelCenter() const {
  TVoxelizeMaterial* material = Material();
  return material ? material->GetVoxelCenter() : TPoint3D(0, 0, 0);
}

TTexture* TQuorvelRenderPassVoxelize::GetTexture3D() const { return FVoxels ? FVoxels->GetTexture() : nullptr; }

TTexture* TQuorvelRenderPassVoxelize::GetOutputTexture() {
  if (!FViewport) return nullptr;
  if (FVoxels) return FVoxels->GetTexture();
  Log::d(Format("<WARNING> %s - Output-Texture not assigned, maybe because Viewport not linked", {ClassName()}));
  return nullptr;
}

bool TQuorvelRenderPassVoxelize::IsPrimitivesKindSupported(TPrimitivesKind AKind) const {
  return AKind == TPrimitivesKind::Triangles;
}

TMatrix3D TQuorvelRenderPassVoxelize::GetProjectionMatrix(TContext3D* /*AContext*/) {
  FProjMatrix = TMatrix3D::CreateOrthoRH(float(FVoxelSize), float(FVoxelSize), 0.1f, 1000.0f);
  FRecalcProjMatrix = false;
  return FProjMatrix;
}

void TQuorvelRenderPassVoxelize::SetupMatrices(TContext3D* /*AContext*/) {
  TContext3D* ctx = RendererContext();
  if (!ctx) return;
  FProjMatrix = GetProjectionMatrix(ctx);
  FViewMatrix = GetViewMatrix(ctx);
  ctx->SetCameraMatrix(FViewMatrix);
  if (TCamera* camera = FViewport ? FViewport->GetCurrentCamera() : nullptr)
    ctx->SetCameraAngleOfView(camera->GetAngleOfView());
  FTextureMatrix = FViewMatrix * FProjMatrix;
}

void TQuorvelRenderPassVoxelize::InitializeRenderPass() {
  FVoxelSize = 128;
  TQuorvelRenderPassController::InitializeRenderPass();
  FIterations = 8;
  FType = TRenderPassType::Pre;
  FMethod = TRenderPassMethod::RenderListToFBO;
  FRenderProc = TRenderPassRenderingProc::ListRendering;
  InvalidateMatrices();
  if (TQuorvelRenderPassMaterialSource* old = GetShader()) {
    SetShader(nullptr);
    Free(old);
  }
  SetShader(CreateMaterialSource());
}

TQuorvelRenderPassMaterialSource* TQuorvelRenderPassVoxelize::CreateMaterialSource() {
  return New<TVoxelizeMaterialSource>(this);
}

void TQuorvelRenderPassVoxelize::CreateRenderer() {
  // A raster of V × V: one fragment per voxel of the projected face (a smaller one would
  // leave rows of voxels empty).
  FViewportSize = TPoint(FVoxelSize, FVoxelSize);
  FOverwriteViewportSize = true;
  FRendererFlags = kAllRendererFlags;
  TQuorvelRenderPassController::CreateRenderer();
}

void TQuorvelRenderPassVoxelize::DoOnCreateCompositeTexture(TObject* /*ASender*/, TPoint /*ASize*/, float AScale,
                                                            TQuorvelTextureBitmap*& /*ATexture*/) {
  FVoxels.reset();
  FVoxels.reset(TQuorvelTextureBitmap::Create());
  FVoxels->BeginSetup();
  {
    auto done = Finally([&] { FVoxels->EndSetup(); });
    FVoxels->SetKind(TQuorvelTextureKind::ImageTexture3D);
    FVoxels->SetStyle({});
    FVoxels->SetDataType(TQuorvelTextureDataType::dtUnsignedByte);
    FVoxels->SetComponents(TPixelFormatEx::RGBA8);
    FVoxels->SetFormat(TPixelFormatEx::RGBA);
    FVoxels->SetMinFilter(TTextureFilter::Linear);
    FVoxels->SetMagFilter(TTextureFilter::Linear);
    FVoxels->SetWrapS(TQuorvelTextureWrap::ClampToBorder);
    FVoxels->SetWrapT(TQuorvelTextureWrap::ClampToBorder);
    FVoxels->SetWrapR(TQuorvelTextureWrap::ClampToBorder);
    FVoxels->Set3DSize(FVoxelSize, FVoxelSize, 8 * FVoxelSize);
    FVoxels->SetBitmapScale(AScale);
  }
  if (TTexture* texture = FVoxels->GetTexture()) texture->SetTextureScale(AScale);
}

void TQuorvelRenderPassVoxelize::ConfigureRenderPass(TRenderPass* APass) {
  APass->FOnApplyMaterial = [](TMaterial*, TMaterial*) {};
}

void TQuorvelRenderPassVoxelize::DoOnRenderPass(int32_t ACount, TRenderPass* APass) {
  TQuorvelRenderPassController::DoOnRenderPass(ACount, APass);
  if (!dynamic_cast<TQuorvelContext*>(RendererContext())) return;
  if (TVoxelizeMaterial* material = Material()) {
    material->SetSceneScale(CascadeSceneScale(ACount));
    material->SetTextureOffset(TPoint3D(0, 0, float(std::clamp(ACount, 0, 7) * FVoxelSize)));
  }
  SetupMatrices(RendererContext());
  if (ACount == 0)
    if (auto* voxels = dynamic_cast<TQuorvelTexture*>(GetTexture3D())) {
      if (voxels->GetHandle() == 0) voxels->Initialize();
      voxels->Clear();
    }
}

void TQuorvelRenderPassVoxelize::EndRenderPassRendering(TContext3D* AContext) {
  TQuorvelRenderPassController::EndRenderPassRendering(AContext);
  auto* ctx = dynamic_cast<TQuorvelContext*>(RendererContext());
  if (!ctx) return;
  ctx->SetContextState(TContextState::csColorWriteOn);
  ctx->SetMemoryBarrierBit(TMemoryBarrierFlag::ShaderImageAccessBarrierBit);
  if (auto* voxels = dynamic_cast<TQuorvelTexture*>(GetTexture3D())) voxels->SetImageAccessable(true);
  if (GetComponentState().Contains(csDesigning) && GetFrameCount() % 30 != 0) SkipRendering();
}

void TQuorvelRenderPassVoxelize::BeforeDestruction() {
  TQuorvelRenderPassMaterialSource* shader = GetShader();
  SetShader(nullptr);
  FreeQuietly(shader, "voxelize material source");
  TQuorvelRenderPassController::BeforeDestruction();
  FreeQuietlyAndNil(FVoxels, "voxel texture");
}

}  // namespace quorvel
