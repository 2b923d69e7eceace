#include "lib/passes/ControllerPassesReflection.h"

#include <cmath>

#include "framework/classes/Filer.h"
#include "framework/gui3d/Camera.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/Units.h"
#include "lib/context/Context.h"
#include "lib/passes/PassViews.h"
#include "lib/scene/Camera.h"
#include "lib/scene/ControlComponents.h"
#include "lib/scene/Viewport.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelRenderPassReflection, "Quorvel.Controller.Passes.Reflection")
void TQuorvelRenderPassReflection::Register(ClassBuilder<TQuorvelRenderPassReflection>& b) {
  b.Prop("Camera", &Self::GetCamera, &Self::SetCamera)
      .Prop("Target", &Self::GetTarget, &Self::SetTarget)
      .Prop("MirrorPosition", &Self::GetMirrorPosition, &Self::SetMirrorPosition)
      .Prop("MirrorNormal", &Self::GetMirrorNormal, static_cast<void (Self::*)(TPosition3D*)>(&Self::SetMirrorNormal))
      .Prop("MirrorSize", &Self::GetMirrorSize, &Self::SetMirrorSize);
}

TQuorvelRenderPassReflection::TQuorvelRenderPassReflection(TComponent* AOwner, const std::string& AId)
    : TQuorvelRenderPassController(AOwner, AId) {}

void TQuorvelRenderPassReflection::InitializeRenderPass() {
  TQuorvelRenderPassController::InitializeRenderPass();
  if (!FPassCamera) {
    FPassCamera = New<TQuorvelCamera>(nullptr);
    FPassCamera->FreeNotification(this);
  }
  FType = TRenderPassType::Pre;
  FMethod = TRenderPassMethod::RenderListToFBO;
  FMirrorPosition.reset(New<TPosition3D>(TPoint3D(0, 0, 0)));
  FMirrorNormal.reset(New<TPosition3D>(TPoint3D(0, -1, 0)));
  FMirrorSize = 10;
  FAngleOfView = 45;
}

void TQuorvelRenderPassReflection::SetCamera(TCamera* Value) {
  if (Value == FOrigCamera) return;
  if (FOrigCamera) FOrigCamera->RemoveFreeNotification(this);
  FOrigCamera = Value;
  if (FOrigCamera) FOrigCamera->FreeNotification(this);
}

void TQuorvelRenderPassReflection::SetTarget(TControl3D* Value) {
  if (Value == FTarget) return;
  if (FTarget) FTarget->RemoveFreeNotification(this);
  FTarget = Value;
  if (FTarget) FTarget->FreeNotification(this);
}

void TQuorvelRenderPassReflection::SetMirrorPosition(TPosition3D* Value) {
  if (Value && FMirrorPosition) FMirrorPosition->SetPoint(Value->GetPoint());
}

void TQuorvelRenderPassReflection::SetMirrorNormal(TPosition3D* Value) {
  if (Value) SetMirrorNormal(Value->GetPoint());
}

void TQuorvelRenderPassReflection::SetMirrorNormal(const TPoint3D& Value) {
  if (FMirrorNormal) FMirrorNormal->SetPoint(Value.Normalize());
}

void TQuorvelRenderPassReflection::DefineProperties(TFiler* Filer) {
  TQuorvelRenderPassController::DefineProperties(Filer);
  Filer->DefineProperty(
      "MirrorPositionPoint",
      [this](TReader* r) {
        TPoint3D p;
        ReadPoint3DField(this, p, r);
        FMirrorPosition->SetPoint(p);
      },
      nullptr, false);
  Filer->DefineProperty(
      "MirrorNormalVector",
      [this](TReader* r) {
        TPoint3D p;
        ReadPoint3DField(this, p, r);
        SetMirrorNormal(p);
      },
      nullptr, false);
}

void TQuorvelRenderPassReflection::DoOnRenderPass(int32_t ACount, TRenderPass* APass) {
  TQuorvelRenderPassController::DoOnRenderPass(ACount, APass);
  auto* ctx = dynamic_cast<TQuorvelContext*>(RendererContext());
  if (!ctx) return;
  if (FTarget) FMirrorPosition->SetPoint(FTarget->GetPosition()->GetPoint());
  FSwitchedCamera = false;
  if (FViewport) {
    if (!FOrigCamera) SetCamera(FViewport->GetCurrentCamera());
    if (FOrigCamera && FPassCamera) {
      FPassCamera->AssignFrom(FOrigCamera);
      // Restored at the iteration's end to what it is now, whatever was mirrored.
      FViewportCamera = FViewport->GetCamera();
      FViewport->SetCamera(FPassCamera);
      FSwitchedCamera = true;
    }
  }
  if (FPassCamera) {
    ctx->SetCameraMatrix(FPassCamera->GetCameraMatrix());
    ctx->SetCameraAngleOfView(FPassCamera->GetAngleOfView());
  }
  ctx->SetContextStates({TContextState::csZTestOff, TContextState::csZWriteOff, TContextState::csBackFace});
  const TPoint3D n = FMirrorNormal->GetPoint(), m = FMirrorPosition->GetPoint();
  ctx->ActivateClipPlane(0, TPlaneF::Create(n, -m.DotProduct(n)));
  SetupMatrices(ctx);
}

TMatrix3D TQuorvelRenderPassReflection::FlippedMainView(TContext3D* AContext) {
  auto* ctx = dynamic_cast<TQuorvelContext*>(AContext);
  const TMatrix3D original = ctx ? ctx->GetOriginalCameraMatrix() : TMatrix3D::Identity();
  TCamera* current = FViewport ? FViewport->GetCurrentCamera() : nullptr;
  if (current) FAngleOfView = current->GetAngleOfView();
  // The world mirrored first, then seen by the main camera.
  return TMatrix3D::CreateScaling(TPoint3D(1, -1, 1)) * original;
}

TMatrix3D TQuorvelRenderPassReflection::GetViewMatrix(TContext3D* AContext) {
  TContext3D* ctx = AContext ? AContext : RendererContext();
  if (!FPassCamera) return FViewMatrix = FlippedMainView(ctx);
  const TPoint3D c(FPassCamera->GetAbsolutePosition());
  TPoint3D v;
  if (TControl3D* target = FPassCamera->GetTarget())
    v = TPoint3D(target->GetAbsolutePosition()) - c;
  else
    v = TPoint3D(FPassCamera->GetAbsoluteDirection());
  const TPoint3D m = FMirrorPosition->GetPoint(), normal = FMirrorNormal->GetPoint();
  TPoint3D h = m;
  RayCastPlaneIntersect(c, v.Normalize(), m, normal, h);
  const float dist = (h - c).Length();
  const TPoint3D d = (h - c).Normalize();
  const TPoint3D n = -1.0f * normal.Normalize();
  if (n.DotProduct(d) <= 0 || dist <= 0) return FViewMatrix = FlippedMainView(ctx);
  const TPoint3D r = d - 2.0f * d.DotProduct(n) * n;
  const TPoint3D mirrored = h - r * dist;
  FAngleOfView = float(2.0 * std::atan(double(FMirrorSize) / 2.0 / double(dist)) * 180.0 / M_PI);
  // Looking straight along the vertical turns the up away from it.
  FViewMatrix = PassLookAtRH(mirrored, h, TPoint3D(0, 1, 0));
  FPassCamera->SetAbsolutePosition(TVector3D(mirrored, 1));
  return FViewMatrix;
}

TMatrix3D TQuorvelRenderPassReflection::GetProjectionMatrix(TContext3D* /*AContext*/) { return FProjMatrix; }

void TQuorvelRenderPassReflection::SetupMatrices(TContext3D* /*AContext*/) {
  auto* ctx = dynamic_cast<TQuorvelContext*>(RendererContext());
  if (!ctx) return;
  FViewMatrix = GetViewMatrix(ctx);
  ctx->SetCameraMatrix(FViewMatrix);
  ctx->SetCameraAngleOfView(FAngleOfView);
  // Taken after the angle of view is the mirror's: the picture is drawn with this projection,
  // and the texture matrix must map it.
  FProjMatrix = ctx->GetCurrentProjectionMatrix();
  FTextureMatrix = FViewMatrix * FProjMatrix;
}

TMatrix3D TQuorvelRenderPassReflection::GetCurrentModelViewProjectionMatrix() {
  TContext3D* ctx = RendererContext();
  return ctx ? ctx->GetCurrentModelViewProjectionMatrix() : TMatrix3D::Identity();
}

void TQuorvelRenderPassReflection::DoOnEndRenderPass(int32_t ACount, TRenderPass* APass) {
  auto* ctx = dynamic_cast<TQuorvelContext*>(RendererContext());
  if (!ctx) return;
  ctx->DeactivateClipPlane(0);
  ctx->SetContextState(TContextState::csFrontFace);
  if (FViewport && FSwitchedCamera) FViewport->SetCamera(FViewportCamera);
  FSwitchedCamera = false;
  TQuorvelRenderPassController::DoOnEndRenderPass(ACount, APass);
}

void TQuorvelRenderPassReflection::Notification(TComponent* AComponent, TOperation Operation) {
  TQuorvelRenderPassController::Notification(AComponent, Operation);
  if (Operation != opRemove || !AComponent) return;
  if (AComponent == FPassCamera) FPassCamera = nullptr;
  if (AComponent == FOrigCamera) FOrigCamera = nullptr;
  if (AComponent == FTarget) FTarget = nullptr;
  if (AComponent == FViewportCamera) FViewportCamera = nullptr;
}

void TQuorvelRenderPassReflection::BeforeDestruction() {
  TQuorvelRenderPassController::BeforeDestruction();
  TQuorvelCamera* camera = FPassCamera;
  FPassCamera = nullptr;
  FreeQuietly(camera, "reflection camera");
  FreeQuietlyAndNil(FMirrorPosition, "mirror position");
  FreeQuietlyAndNil(FMirrorNormal, "mirror normal");
}

namespace {

void InitControllerPassesReflectionUnit() { RegisterFwClasses({TQuorvelRenderPassReflection::StaticClass()}); }
void FinControllerPassesReflectionUnit() { UnRegisterClasses({TQuorvelRenderPassReflection::StaticClass()}); }

const TUnitRegistration ControllerPassesReflectionUnit{{"Quorvel.Controller.Passes.Reflection", {}, &InitControllerPassesReflectionUnit, &FinControllerPassesReflectionUnit}};

}  // namespace

}  // namespace quorvel
