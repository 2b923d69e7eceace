#include "lib/passes/ControllerPassesEnvironment.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "framework/classes/Filer.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/Units.h"
#include "lib/context/Context.h"
#include "lib/context/ContextTexturing.h"
#include "lib/scene/Camera.h"
#include "lib/scene/ControlComponents.h"
#include "lib/scene/Light.h"
#include "lib/scene/Viewport.h"

namespace quorvel {

namespace {

struct TFaceTurn {
  float RotX, RotY;
  TQuorvelCubeMapFace Face;
  TPoint3D Direction;  // of the offset; its length is the face's centre offset
  int32_t Offset;      // index into the offsets
};

// GL's cube-map convention: the face a direction falls on, seen from the camera's own turn.
constexpr TFaceTurn kFaces[6] = {
    {0, 180, TQuorvelCubeMapFace::NegativeZ, {0, 0, -1}, 0}, {0, 0, TQuorvelCubeMapFace::PositiveZ, {0, 0, 1}, 1},
    {0, -90, TQuorvelCubeMapFace::NegativeX, {-1, 0, 0}, 2}, {0, 90, TQuorvelCubeMapFace::PositiveX, {1, 0, 0}, 3},
    {90, 0, TQuorvelCubeMapFace::NegativeY, {0, -1, 0}, 4},  {-90, 0, TQuorvelCubeMapFace::PositiveY, {0, 1, 0}, 5}};

int32_t NextPowerOfTwo(int32_t AValue) {
  if (AValue <= 1) return 1;
  int32_t p = 1;
  while (p < AValue && p < (1 << 30)) p <<= 1;
  return p;
}

}  // namespace

FW_CLASS_IMPL(TQuorvelRenderPassEnvironment, "Quorvel.Controller.Passes.Environment")
void TQuorvelRenderPassEnvironment::Register(ClassBuilder<TQuorvelRenderPassEnvironment>& b) {
  b.Prop("IsDynamic", &Self::GetIsDynamic, &Self::SetIsDynamic)
      .Prop("Target", &Self::GetTarget, &Self::SetTarget)
      .Prop("UseEmbeddedLight", &Self::GetUseEmbeddedLight, &Self::SetUseEmbeddedLight)
      .Prop("CenterOffsetFront", &Self::GetCenterOffsetAt<0>, &Self::SetCenterOffsetAt<0>)
      .Prop("CenterOffsetBack", &Self::GetCenterOffsetAt<1>, &Self::SetCenterOffsetAt<1>)
      .Prop("CenterOffsetLeft", &Self::GetCenterOffsetAt<2>, &Self::SetCenterOffsetAt<2>)
      .Prop("CenterOffsetRight", &Self::GetCenterOffsetAt<3>, &Self::SetCenterOffsetAt<3>)
      .Prop("CenterOffsetTop", &Self::GetCenterOffsetAt<4>, &Self::SetCenterOffsetAt<4>)
      .Prop("CenterOffsetBottom", &Self::GetCenterOffsetAt<5>, &Self::SetCenterOffsetAt<5>);
}

TQuorvelRenderPassEnvironment::TQuorvelRenderPassEnvironment(TComponent* AOwner, const std::string& AId)
    : TQuorvelRenderPassController(AOwner, AId) {}

TQuorvelCubeMapFace TQuorvelRenderPassEnvironment::FaceOfIteration(int32_t AIteration) {
  return kFaces[size_t(std::clamp(AIteration, 0, 5))].Face;
}

void TQuorvelRenderPassEnvironment::InitializeRenderPass() {
  FMapSize = 128;
  TQuorvelRenderPassController::InitializeRenderPass();
  FType = TRenderPassType::Pre;
  FMethod = TRenderPassMethod::RenderListToFBO;
  FRenderProc = TRenderPassRenderingProc::DefaultRendering;
  FRendererFlags = TRendererFlags{TRendererFlag::IgnoreEmissiveBlur, TRendererFlag::IgnoreGlobalIllum};
  FIterations = 6;
  InvalidateMatrices();
  SetShader(nullptr);
  if (!FCamera) {
    FCamera = New<TQuorvelCamera>(this);
    FCamera->SetAngleOfView(90);
    FCamera->GetPosition()->SetPoint({0, 0, 0});
    FLight = New<TQuorvelLight>(FCamera);
    FLight->SetParent(FCamera);
    FLight->SetLightType(TLightType::Point);
    FLight->SetEnabled(false);
    FLight->GetPosition()->SetPoint({0, 0, 0});
  }
  FLightIndex = -1;
}

void TQuorvelRenderPassEnvironment::CreateRenderer() {
  FRendererFlags = TRendererFlags{TRendererFlag::IgnoreEmissiveBlur, TRendererFlag::IgnoreGlobalIllum};
  FViewportSize = TPoint(FMapSize, FMapSize);
  FOverwriteViewportSize = true;
  TQuorvelRenderPassController::CreateRenderer();
  if (!FIsDynamic) InvalidateEnvironment();
}

void TQuorvelRenderPassEnvironment::ResizeRenderer(const TPoint& ASize, float AScale) {
  // The faces keep the map's size whatever the viewport's.
  TQuorvelRenderPassController::ResizeRenderer(TPoint(FMapSize, FMapSize), AScale);
  // The registered run instance follows the new renderer's context.
  if (FViewport) UpdateRenderPass();
  if (!FIsDynamic) InvalidateEnvironment();
}

void TQuorvelRenderPassEnvironment::DoOnCreateCompositeTexture(TObject* /*ASender*/, TPoint ASize, float AScale,
                                                               TQuorvelTextureBitmap*& ATexture) {
  FCubeMap = nullptr;  // the renderer freed the previous one
  auto* cube = TQuorvelTextureBitmap::Create();
  cube->BeginSetup();
  {
    auto done = Finally([&] { cube->EndSetup(); });
    cube->SetKind(TQuorvelTextureKind::CubeMap);
    cube->SetMipMapLevels(9);
    cube->SetStyle({TTextureStyle::MipMaps, TTextureStyle::RenderTarget});
    cube->SetMinFilter(TTextureFilter::Linear);
    cube->SetMagFilter(TTextureFilter::Linear);
    cube->SetSize(std::max(ASize.X, 1), std::max(ASize.Y, 1));
    cube->SetBitmapScale(AScale);
  }
  if (TTexture* texture = cube->GetTexture()) texture->SetTextureScale(AScale);
  FCubeMap = cube;
  ATexture = cube;
}

void TQuorvelRenderPassEnvironment::SetMapSize(int32_t Value) {
  const int32_t size = NextPowerOfTwo(Value);
  FMapSize = size;
  TQuorvelRenderPassController::SetViewportSize(TPoint(size, size));
  FRecalcProjMatrix = true;
}

void TQuorvelRenderPassEnvironment::SetViewportSize(const TPoint& Value) { SetMapSize(std::max(Value.X, Value.Y)); }
void TQuorvelRenderPassEnvironment::SetViewportWidth(int32_t Value) { SetViewportSize(TPoint(Value, Value)); }
void TQuorvelRenderPassEnvironment::SetViewportHeight(int32_t Value) { SetViewportSize(TPoint(Value, Value)); }

TPoint3D TQuorvelRenderPassEnvironment::GetPosition() const {
  return FCamera ? TPoint3D(FCamera->GetAbsolutePosition()) : TPoint3D(0, 0, 0);
}

void TQuorvelRenderPassEnvironment::SetPosition(const TPoint3D& Value) {
  if (!FCamera) return;
  FCamera->SetAbsolutePosition(TVector3D(Value, 1));
  InvalidateEnvironment();
}

void TQuorvelRenderPassEnvironment::DefineProperties(TFiler* Filer) {
  TQuorvelRenderPassController::DefineProperties(Filer);
  Filer->DefineProperty(
      "PositionPoint",
      [this](TReader* r) {
        TPoint3D p;
        ReadPoint3DField(this, p, r);
        SetPosition(p);
      },
      [this](TWriter* w) { WritePoint3DField(this, GetPosition(), w); }, true);
}

void TQuorvelRenderPassEnvironment::SetTarget(TControl3D* Value) {
  if (Value == FTarget) return;
  if (FTarget) {
    // The previous target leaves the control lists as if it had been removed.
    if (FAllowedControls) FAllowedControls->Notification(FTarget, opRemove);
    if (FIgnoredControls) FIgnoredControls->Notification(FTarget, opRemove);
    FTarget->RemoveFreeNotification(this);
  }
  FTarget = Value;
  if (FTarget) {
    FTarget->FreeNotification(this);
    IgnoreControl(FTarget);
  }
}

void TQuorvelRenderPassEnvironment::SetCenterOffsets(float AFront, float ABack, float ALeft, float ARight, float ATop,
                                                     float ABottom) {
  FCenterOffset = {AFront, ABack, ALeft, ARight, ATop, ABottom};
}

void TQuorvelRenderPassEnvironment::SetCenterOffsets(float AOffset) { FCenterOffset.fill(AOffset); }

void TQuorvelRenderPassEnvironment::InvalidateEnvironment() {
  if (GetRenderer() && FViewport && !GetEnabled()) SetEnabled(true);
}

TTexture* TQuorvelRenderPassEnvironment::GetOutputTexture() { return FCubeMap ? FCubeMap->GetTexture() : nullptr; }

TMatrix3D TQuorvelRenderPassEnvironment::GetViewMatrix(TContext3D* /*AContext*/) {
  return FCamera ? FCamera->GetCameraMatrix() : TMatrix3D::Identity();
}

TMatrix3D TQuorvelRenderPassEnvironment::GetProjectionMatrix(TContext3D* /*AContext*/) {
  if (!FRecalcProjMatrix) return FProjMatrix;
  if (FOverwriteViewportSize) {
    const float angle = FCamera ? FCamera->GetAngleOfView() : 90.0f;
    FProjMatrix = TMatrix3D::CreatePerspectiveFovRH(float(angle * M_PI / 180.0), 1.0f, 0.1f, 1000.0f);
  } else {
    TContext3D* ctx = RendererContext();
    if (!ctx) return FProjMatrix;
    FProjMatrix = ctx->GetCurrentProjectionMatrix();
  }
  FRecalcProjMatrix = false;
  return FProjMatrix;
}

void TQuorvelRenderPassEnvironment::SetupMatrices(TContext3D* /*AContext*/) {
  auto* ctx = dynamic_cast<TQuorvelContext*>(RendererContext());
  if (!ctx) return;
  FViewMatrix = GetViewMatrix(ctx);
  FProjMatrix = GetProjectionMatrix(ctx);
  ctx->SetCameraMatrix(FViewMatrix);
  ctx->SetCameraAngleOfView(FCamera ? FCamera->GetAngleOfView() : 90.0f);
  ctx->SetProjectionMatrix(FProjMatrix);
  FTextureMatrix = FViewMatrix * FProjMatrix;
}

void TQuorvelRenderPassEnvironment::BeginRenderPassRendering(TContext3D* AContext, TAlphaColor AFill, float ADepth,
                                                             uint32_t AStencil) {
  auto* ctx = dynamic_cast<TQuorvelContext*>(RendererContext());
  if (!ctx) return;
  if (FCamera) {
    FStoredCameraPos = FCamera->GetPosition()->GetPoint();
    FStoredTargetPos = FStoredCameraPos;
    if (FTarget) FStoredTargetPos = FStoredCameraPos + TPoint3D(FTarget->GetAbsolutePosition());
  }
  TQuorvelRenderPassController::BeginRenderPassRendering(AContext, AFill, ADepth, AStencil);
  // After the viewport's lights are applied (they replace the context's list): added before,
  // the light would never take part.
  if (FUseEmbeddedLight && FLight) {
    FLight->SetEnabled(true);
    FAddedLight = FLight->GetLightDescriptionEx();
    FLightIndex = ctx->AddLight(FAddedLight);
  }
}

bool TQuorvelRenderPassEnvironment::HoldsEmbeddedLight(TQuorvelContext* AContext) const {
  const auto& lights = AContext->GetShaderLights();
  return FLightIndex >= 0 && size_t(FLightIndex) < lights.size() &&
         std::memcmp(&lights[size_t(FLightIndex)], &FAddedLight, sizeof(FAddedLight)) == 0;
}

void TQuorvelRenderPassEnvironment::DoOnRenderPass(int32_t ACount, TRenderPass* APass) {
  TQuorvelRenderPassController::DoOnRenderPass(ACount, APass);
  if (!FCamera) return;
  const TFaceTurn& turn = kFaces[size_t(std::clamp(ACount, 0, 5))];
  FCamera->BeginUpdate();
  {
    auto done = Finally([&] { FCamera->EndUpdate(); });
    FCamera->ResetRotationAngle();
    if (turn.RotX != 0) FCamera->GetRotationAngle()->SetX(turn.RotX);
    if (turn.RotY != 0) FCamera->GetRotationAngle()->SetY(turn.RotY);
    if (FCubeMap) FCubeMap->SetAttachedCubeMapFace(turn.Face);
    FCamera->GetPosition()->SetPoint(FStoredTargetPos + turn.Direction * FCenterOffset[size_t(turn.Offset)]);
  }
  // The renderer's composite step attaches the map again, with the face chosen here.
  auto* ctx = dynamic_cast<TQuorvelContext*>(RendererContext());
  if (!ctx) return;
  // The composite step of the face before applied the viewport's lights again: the embedded
  // light joins them anew for every face.
  if (FUseEmbeddedLight && FLight && FLightIndex >= 0 && !HoldsEmbeddedLight(ctx))
    FLightIndex = ctx->AddLight(FAddedLight);
  SetupMatrices(ctx);
}

void TQuorvelRenderPassEnvironment::DoOnEndRenderPass(int32_t ACount, TRenderPass* APass) {
  TQuorvelRenderPassController::DoOnEndRenderPass(ACount, APass);
  if (!FIsDynamic && ACount > 4) SetEnabled(false);
}

void TQuorvelRenderPassEnvironment::EndRenderPassRendering(TContext3D* AContext) {
  TQuorvelRenderPassController::EndRenderPassRendering(AContext);
  auto* ctx = dynamic_cast<TQuorvelContext*>(RendererContext());
  if (FCamera) FCamera->GetPosition()->SetPoint(FStoredCameraPos);
  if (FUseEmbeddedLight && FLight) {
    // Only while the index still holds the light added: the list may have changed since.
    if (ctx && HoldsEmbeddedLight(ctx)) ctx->RemoveLight(FLightIndex);
    FLightIndex = -1;
    FLight->SetEnabled(false);
  }
  if (!ctx) return;
  ctx->SetMemoryBarrierBits(TMemoryBarrierFlags{
      TMemoryBarrierFlag::VertexAttribArrayBarrierBit, TMemoryBarrierFlag::ElementArrayBarrierBit,
      TMemoryBarrierFlag::UniformBarrierBit, TMemoryBarrierFlag::TextureFetchBarrierBit,
      TMemoryBarrierFlag::ShaderImageAccessBarrierBit, TMemoryBarrierFlag::CommandBarrierBit,
      TMemoryBarrierFlag::PixelBufferBarrierBit, TMemoryBarrierFlag::TextureUpdateBarrierBit,
      TMemoryBarrierFlag::BufferUpdateBarrierBit, TMemoryBarrierFlag::FrameBufferBarrierBit,
      TMemoryBarrierFlag::TransformFeedbackBarrierBit, TMemoryBarrierFlag::AtomicCounterBarrierBit,
      TMemoryBarrierFlag::ShaderStorageBarrierBit});
  if (FCubeMap)
    if (auto* texture = dynamic_cast<TQuorvelTexture*>(FCubeMap->GetTexture())) texture->GenerateMipMap();
}

void TQuorvelRenderPassEnvironment::Notification(TComponent* AComponent, TOperation Operation) {
  TQuorvelRenderPassController::Notification(AComponent, Operation);
  if (Operation != opRemove || !AComponent) return;
  if (AComponent == FTarget) FTarget = nullptr;
  if (AComponent == FCamera) {
    FCamera = nullptr;
    FLight = nullptr;
  }
}

void TQuorvelRenderPassEnvironment::BeforeDestruction() {
  // The camera (and its light) is a component of the pass, the cube map the renderer's.
  FCubeMap = nullptr;
  TQuorvelRenderPassController::BeforeDestruction();
  FLight = nullptr;
  FCamera = nullptr;
}

namespace {

void InitControllerPassesEnvironmentUnit() { RegisterFwClasses({TQuorvelRenderPassEnvironment::StaticClass()}); }
void FinControllerPassesEnvironmentUnit() { UnRegisterClasses({TQuorvelRenderPassEnvironment::StaticClass()}); }

const TUnitRegistration ControllerPassesEnvironmentUnit{{"Quorvel.Controller.Passes.Environment", {}, &InitControllerPassesEnvironmentUnit, &FinControllerPassesEnvironmentUnit}};

}  // namespace

}  // namespace quorvel
