#include "lib/passes/ControllerPassesRefraction.h"

#include "framework/classes/Filer.h"
#include "framework/gui/Dialogs.h"
#include "framework/gui3d/Camera.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/Units.h"
#include "lib/context/Context.h"
#include "lib/scene/ControlComponents.h"
#include "lib/scene/Viewport.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelRenderPassRefraction, "Quorvel.Controller.Passes.Refraction")
void TQuorvelRenderPassRefraction::Register(ClassBuilder<TQuorvelRenderPassRefraction>& b) {
  b.Prop("SurfacePosition", &Self::GetSurfacePosition, &Self::SetSurfacePosition)
      .Prop("SurfaceNormal", &Self::GetSurfaceNormal,
            static_cast<void (Self::*)(TPosition3D*)>(&Self::SetSurfaceNormal))
      .Prop("SurfaceCutOff", &Self::GetSurfaceCutOff, &Self::SetSurfaceCutOff)
      .Prop("ClippingEnabled", &Self::GetClippingEnabled, &Self::SetClippingEnabled);
}

TQuorvelRenderPassRefraction::TQuorvelRenderPassRefraction(TComponent* AOwner, const std::string& AId)
    : TQuorvelRenderPassController(AOwner, AId) {}

void TQuorvelRenderPassRefraction::InitializeRenderPass() {
  TQuorvelRenderPassController::InitializeRenderPass();
  FType = TRenderPassType::Pre;
  FMethod = TRenderPassMethod::RenderListToFBO;
  FClippingEnabled = true;
  FSurfacePosition.reset(New<TPosition3D>(TPoint3D(0, 0, 0)));
  FSurfaceNormal.reset(New<TPosition3D>(TPoint3D(0, 1, 0)));
  FSurfaceCutOff = 0;
}

void TQuorvelRenderPassRefraction::SetSurfacePosition(TPosition3D* Value) {
  if (Value && FSurfacePosition) FSurfacePosition->SetPoint(Value->GetPoint());
}

void TQuorvelRenderPassRefraction::SetSurfaceNormal(TPosition3D* Value) {
  if (Value) SetSurfaceNormal(Value->GetPoint());
}

void TQuorvelRenderPassRefraction::SetSurfaceNormal(const TPoint3D& Value) {
  if (FSurfaceNormal) FSurfaceNormal->SetPoint(Value.Normalize());
}

void TQuorvelRenderPassRefraction::DefineProperties(TFiler* Filer) {
  TQuorvelRenderPassController::DefineProperties(Filer);
  Filer->DefineProperty(
      "SurfacePositionPoint",
      [this](TReader* r) {
        TPoint3D p;
        ReadPoint3DField(this, p, r);
        FSurfacePosition->SetPoint(p);
      },
      nullptr, false);
  Filer->DefineProperty(
      "SurfaceNormalVector",
      [this](TReader* r) {
        TPoint3D p;
        ReadPoint3DField(this, p, r);
        SetSurfaceNormal(p);
      },
      nullptr, false);
}

void TQuorvelRenderPassRefraction::DoOnRenderPass(int32_t ACount, TRenderPass* APass) {
  TQuorvelRenderPassController::DoOnRenderPass(ACount, APass);
  auto* ctx = dynamic_cast<TQuorvelContext*>(RendererContext());
  if (!ctx) return;
  try {
    ctx->SetContextStates({TContextState::csZTestOn, TContextState::csZWriteOn, TContextState::csColorWriteOn,
                           TContextState::csScissorOff, TContextState::csFrontFace});
    if (FClippingEnabled) {
      const TPoint3D n = FSurfaceNormal->GetPoint(), p = FSurfacePosition->GetPoint();
      ctx->ActivateClipPlane(0, TPlaneF::Create(n, -p.DotProduct(n) + FSurfaceCutOff));
    } else {
      ctx->DeactivateClipPlane(0);
    }
    SetupMatrices(ctx);
  } catch (const std::exception& e) {
    // Drawing goes on with the state reached; the text is shown once, repeats go to the log.
    const std::string text = std::string("TQuorvelRenderPassRefraction.DoOnRenderPass: ") + e.what();
    if (FShownErrors.insert(text).second)
      ShowMessage(text);
    else
      Log::d(text);
  }
}

void TQuorvelRenderPassRefraction::SetupMatrices(TContext3D* /*AContext*/) {
  TContext3D* ctx = RendererContext();
  if (!ctx) return;
  FProjMatrix = GetProjectionMatrix(ctx);
  FViewMatrix = GetViewMatrix(ctx);
  ctx->SetCameraMatrix(FViewMatrix);
  if (TCamera* camera = FViewport ? FViewport->GetCurrentCamera() : nullptr)
    ctx->SetCameraAngleOfView(camera->GetAngleOfView());
}

void TQuorvelRenderPassRefraction::DoOnEndRenderPass(int32_t ACount, TRenderPass* APass) {
  TQuorvelRenderPassController::DoOnEndRenderPass(ACount, APass);
  auto* ctx = dynamic_cast<TQuorvelContext*>(RendererContext());
  if (!ctx) return;
  if (FClippingEnabled) ctx->DeactivateClipPlane(0);
  ctx->SetContextState(TContextState::csFrontFace);
}

TMatrix3D TQuorvelRenderPassRefraction::GetTextureMatrix(TContext3D* /*AContext*/, bool /*AUseBias*/) {
  return FBiasMatrix;
}

TTexture* TQuorvelRenderPassRefraction::GetOutputDepthTexture() {
  TRenderer* renderer = GetRenderer();
  if (!renderer) return nullptr;
  auto* composite = dynamic_cast<TCompositeRenderer*>(renderer);
  if (!composite) throw EInvalidCast("Invalid class typecast");
  return composite->GetPositionTexture();
}

void TQuorvelRenderPassRefraction::BeforeDestruction() {
  TQuorvelRenderPassController::BeforeDestruction();
  FreeQuietlyAndNil(FSurfacePosition, "surface position");
  FreeQuietlyAndNil(FSurfaceNormal, "surface normal");
}

namespace {

void InitControllerPassesRefractionUnit() { RegisterFwClasses({TQuorvelRenderPassRefraction::StaticClass()}); }
void FinControllerPassesRefractionUnit() { UnRegisterClasses({TQuorvelRenderPassRefraction::StaticClass()}); }

const TUnitRegistration ControllerPassesRefractionUnit{{"Quorvel.Controller.Passes.Refraction", {}, &InitControllerPassesRefractionUnit, &FinControllerPassesRefractionUnit}};

}  // namespace

}  // namespace quorvel
