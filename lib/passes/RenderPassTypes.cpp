#include "lib/passes/RenderPassTypes.h"

#include "framework/rtl/Exceptions.h"
#include "framework/rtl/SysUtils.h"

namespace quorvel {

FW_CLASS_IMPL(TRenderPass, "Quorvel.RenderPass.Types")
FW_CLASS_NO_MEMBERS(TRenderPass)
FW_CLASS_IMPL(TQuorvelRenderPassController, "Quorvel.RenderPass.Types")
FW_CLASS_NO_MEMBERS(TQuorvelRenderPassController)
FW_CLASS_IMPL(TRenderPasses, "Quorvel.RenderPass.Types")
FW_CLASS_NO_MEMBERS(TRenderPasses)

TRenderPass::TRenderPass(TContext3D* AContext, const std::string& AId, TRenderPassType AType)
    : FContext(AContext), FId(AId), FPassType(AType) {}

bool TRenderPass::BeginScene() {
  if (!FContext) throw Exception(Format("Cannot begin with rendering scene: %s", ClassName()));
  return false;
}

namespace {
TQuorvelRenderPassController* ControllerOf(TObject* AController) {
  return dynamic_cast<TQuorvelRenderPassController*>(AController);
}
}  // namespace

bool TRenderPass::IsPrimitivesKindSupported(TPrimitivesKind AKind) const {
  TQuorvelRenderPassController* controller = ControllerOf(FController);
  return !controller || controller->IsPrimitivesKindSupported(AKind);
}

int32_t TRenderPass::GetIterations() const {
  TQuorvelRenderPassController* controller = ControllerOf(FController);
  return controller ? controller->FIterations : 0;
}

TObject* TRenderPass::GetControllerShader() const {
  TQuorvelRenderPassController* controller = ControllerOf(FController);
  return controller ? controller->FShader : nullptr;
}

TRenderPasses::TRenderPasses(TContext3D* AContext) : FContext(AContext) {}

TRenderPasses::~TRenderPasses() { Clear(); }

void TRenderPasses::Add(TRenderPass* APass) {
  if (!APass) throw EArgumentNilException("TRenderPasses.Add: no pass");
  for (TRenderPass*& pass : FPasses)
    if (pass->GetId() == APass->GetId()) {
      if (pass == APass) return;
      TRenderPass* old = pass;
      pass = APass;
      if (!old->GetId().empty()) FreePass(old);
      return;
    }
  FPasses.push_back(APass);
}

bool TRenderPasses::Remove(const std::string& AId) {
  for (auto it = FPasses.begin(); it != FPasses.end(); ++it)
    if ((*it)->GetId() == AId) {
      TRenderPass* pass = *it;
      FPasses.erase(it);
      if (!AId.empty()) FreePass(pass);
      return true;
    }
  return false;
}

TRenderPass* TRenderPasses::Find(const std::string& AId) const {
  for (TRenderPass* pass : FPasses)
    if (pass->GetId() == AId) return pass;
  return nullptr;
}

void TRenderPasses::Clear() {
  std::vector<TRenderPass*> passes;
  passes.swap(FPasses);
  for (TRenderPass* pass : passes)
    if (!pass->GetId().empty()) FreePass(pass);
}

void TRenderPasses::FreePass(TRenderPass* APass) {
  if (OnPassFreed) OnPassFreed(APass);
  Free(APass);
}

std::vector<TRenderPass*> TRenderPasses::PassesOfType(TRenderPassType AType) const {
  std::vector<TRenderPass*> result;
  for (TRenderPass* pass : FPasses)
    if (pass->GetEnabled() && pass->GetPassType() == AType) result.push_back(pass);
  return result;
}

}  // namespace quorvel
