#include "lib/passes/ContextRendering.h"

#include <utility>

#include "framework/rtl/Exceptions.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/SysUtils.h"
#include "lib/context/Context.h"
#include "lib/passes/Controller.h"

namespace quorvel {

FW_CLASS_IMPL(TRenderPass, "Quorvel.Context.Rendering")
FW_CLASS_NO_MEMBERS(TRenderPass)
FW_CLASS_IMPL(TRenderPasses, "Quorvel.Context.Rendering")
FW_CLASS_NO_MEMBERS(TRenderPasses)

TRenderPass::TRenderPass(TContext3D* AContext, TObject* AController)
    : FController(AController), FContext(AContext) {}

namespace {

constexpr TResourceString SCannotBeginWithRenderingScene{"SCannotBeginWithRenderingScene",
                                                         "Cannot begin with rendering scene: %s"};
constexpr TResourceString SFailedToEndRenderingScene{"SFailedToEndRenderingScene",
                                                     "Failed to end rendering scene: %s"};

TQuorvelRenderPassController* ControllerOf(TObject* AController) {
  return dynamic_cast<TQuorvelRenderPassController*>(AController);
}

}  // namespace

bool TRenderPass::GetEnabled() const {
  TQuorvelRenderPassController* controller = ControllerOf(FController);
  return controller && controller->GetEnabled();
}

void TRenderPass::SetEnabled(bool AValue) {
  if (TQuorvelRenderPassController* controller = ControllerOf(FController)) controller->SetEnabled(AValue);
}

bool TRenderPass::BeginScene() {
  if (!FContext) RaiseContextException(this, &SCannotBeginWithRenderingScene, {ClassName()});
  auto* context = dynamic_cast<TQuorvelContext*>(FContext);
  if (!context || !GetEnabled()) return false;
  TQuorvelRenderPassController* controller = ControllerOf(FController);
  if (controller) {
    controller->IncFrameCount();
    if (controller->GetRenderingSkipped()) {
      controller->ResetSkippedRendering();
      return false;
    }
  }
  context->GetContextSize(FOldViewport);
  if (controller) controller->BeginRenderPassRendering(context, TAlphaColor(0xFF0000FF), 1.0f, 0);
  const TPoint size = controller ? controller->ComputeRenderingSize(context, context->GetWidth(), context->GetHeight())
                                 : TPoint(context->GetWidth(), context->GetHeight());
  context->SetContextSize(0, 0, size.X, size.Y);
  if (TQuorvelContext::HasAnyErrors()) {
    // Not begun, so nobody ends it: the target and the viewport go back here.
    if (controller) controller->EndRenderPassRendering(context);
    context->SetContextSize(FOldViewport);
    RaiseContextException(this, &SCannotBeginWithRenderingScene, {ClassName()});
  }
  context->BeginRenderPass(this);
  FInScene = true;
  return true;
}

void TRenderPass::EndScene() {
  // Whatever the pass's handlers changed meanwhile (its Enabled flag), a begun scene is ended:
  // otherwise the pass would stay current and its target bound.
  auto* context = dynamic_cast<TQuorvelContext*>(FContext);
  if (!context || !FInScene) return;
  FInScene = false;
  const bool failed = TQuorvelContext::HasAnyErrors();
  {
    auto restore = Finally([&] {
      context->SetContextSize(FOldViewport);
      context->EndRenderPass();
    });
    if (TQuorvelRenderPassController* controller = ControllerOf(FController))
      controller->EndRenderPassRendering(context);
  }
  if (failed) RaiseContextException(this, &SFailedToEndRenderingScene, {ClassName()});
}

bool TRenderPass::IsPrimitivesKindSupported(TPrimitivesKind AKind) const {
  TQuorvelRenderPassController* controller = ControllerOf(FController);
  return !controller || controller->IsPrimitivesKindSupported(AKind);
}

int32_t TRenderPass::GetIterations() const {
  TQuorvelRenderPassController* controller = ControllerOf(FController);
  return controller ? controller->GetIterations() : 0;
}

TObject* TRenderPass::GetControllerShader() const {
  TQuorvelRenderPassController* controller = ControllerOf(FController);
  return controller ? controller->GetShader() : nullptr;
}

TRenderPasses::TRenderPasses(TContext3D* AContext) : FContext(AContext) {}

TRenderPasses::~TRenderPasses() { Clear(); }

void TRenderPasses::Add(TRenderPass* APass) {
  if (!APass) throw EArgumentNilException("TRenderPasses.Add: no pass");
  TMaybeOwned<TRenderPass> entry = APass->GetId().empty() ? TMaybeOwned<TRenderPass>::Borrowed(APass)
                                                          : TMaybeOwned<TRenderPass>::Owned(APass);
  for (TMaybeOwned<TRenderPass>& pass : FPasses)
    if (pass->GetId() == APass->GetId()) {
      if (pass.get() == APass) {
        entry.Release();
        return;
      }
      std::swap(pass, entry);
      FreePass(entry);
      return;
    }
  FPasses.push_back(std::move(entry));
}

bool TRenderPasses::Remove(const std::string& AId) {
  for (auto it = FPasses.begin(); it != FPasses.end(); ++it)
    if ((*it)->GetId() == AId) {
      TMaybeOwned<TRenderPass> pass = std::move(*it);
      FPasses.erase(it);
      FreePass(pass);
      return true;
    }
  return false;
}

TRenderPass* TRenderPasses::Find(const std::string& AId) const {
  for (const TMaybeOwned<TRenderPass>& pass : FPasses)
    if (pass->GetId() == AId) return pass.get();
  return nullptr;
}

void TRenderPasses::Clear() {
  std::vector<TMaybeOwned<TRenderPass>> passes;
  passes.swap(FPasses);
  for (TMaybeOwned<TRenderPass>& pass : passes) FreePass(pass);
}

// Holders hear of a pass only when the registry frees it; a borrowed one is just dropped.
void TRenderPasses::FreePass(TMaybeOwned<TRenderPass>& APass) {
  if (APass.Owns() && OnPassFreed) OnPassFreed(APass.get());
  APass.Reset();
}

std::vector<TRenderPass*> TRenderPasses::PassesOfType(TRenderPassType AType) const {
  std::vector<TRenderPass*> result;
  for (const TMaybeOwned<TRenderPass>& pass : FPasses)
    if (pass->GetEnabled() && pass->GetPassType() == AType) result.push_back(pass.get());
  return result;
}

}  // namespace quorvel
