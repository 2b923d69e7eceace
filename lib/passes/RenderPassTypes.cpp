#include "lib/passes/RenderPassTypes.h"

#include "framework/rtl/Exceptions.h"
#include "framework/rtl/SysUtils.h"

namespace quorvel {

FW_CLASS_IMPL(TRenderPass, "Quorvel.RenderPass.Types")
FW_CLASS_NO_MEMBERS(TRenderPass)
FW_CLASS_IMPL(TRenderPasses, "Quorvel.RenderPass.Types")
FW_CLASS_NO_MEMBERS(TRenderPasses)

TRenderPass::TRenderPass(TContext3D* AContext, const std::string& AId, TRenderPassType AType)
    : FContext(AContext), FId(AId), FPassType(AType) {}

bool TRenderPass::BeginScene() {
  if (!FContext) throw Exception(Format("Cannot begin with rendering scene: %s", ClassName()));
  return false;
}

bool TRenderPass::IsPrimitivesKindSupported(TPrimitivesKind) const { return true; }

TRenderPasses::TRenderPasses(TContext3D* AContext) : FContext(AContext) {}

TRenderPasses::~TRenderPasses() { Clear(); }

void TRenderPasses::Add(TRenderPass* APass) {
  if (!APass) throw EArgumentNilException("TRenderPasses.Add: no pass");
  for (TRenderPass*& pass : FPasses)
    if (pass->GetId() == APass->GetId()) {
      if (pass == APass) return;
      TRenderPass* old = pass;
      pass = APass;
      if (!old->GetId().empty()) Free(old);
      return;
    }
  FPasses.push_back(APass);
}

bool TRenderPasses::Remove(const std::string& AId) {
  for (auto it = FPasses.begin(); it != FPasses.end(); ++it)
    if ((*it)->GetId() == AId) {
      TRenderPass* pass = *it;
      FPasses.erase(it);
      if (!AId.empty()) Free(pass);
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
    if (!pass->GetId().empty()) Free(pass);
}

std::vector<TRenderPass*> TRenderPasses::PassesOfType(TRenderPassType AType) const {
  std::vector<TRenderPass*> result;
  for (TRenderPass* pass : FPasses)
    if (pass->GetEnabled() && pass->GetPassType() == AType) result.push_back(pass);
  return result;
}

}  // namespace quorvel
