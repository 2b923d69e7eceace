#pragma once
// The second target of a pass whose iterations feed one another: an iteration reads what the
// one before drew, and a texture drawn into is never the texture sampled, so results pass
// between the pass's output and this scratch texture of the output's size and format.
#include "framework/rtl/Object.h"

namespace quorvel {

class TTexture;
class TQuorvelRenderPassController;

class TPassScratch {
public:
  TPassScratch() = default;
  TPassScratch(const TPassScratch&) = delete;
  TPassScratch& operator=(const TPassScratch&) = delete;
  ~TPassScratch() { Release(); }

  // A texture of AOutput's size and format, remade when either changed; null without AOutput.
  TTexture* For(TTexture* AOutput);
  TTexture* Get() const { return FTexture.get(); }
  void Release() noexcept;

  // ATexture becomes colour target 0, the only draw buffer, of APass's renderer.
  static void AttachTarget(TQuorvelRenderPassController* APass, TTexture* ATexture);

private:
  TOwned<TTexture> FTexture;
};

}  // namespace quorvel
