#include "lib/passes/PassScratch.h"

#include "framework/rtl/Finally.h"
#include "lib/context/Context.h"
#include "lib/context/ContextBuffersFrameBuffers.h"
#include "lib/context/ContextTexturing.h"
#include "lib/passes/Controller.h"

namespace quorvel {

namespace {

bool SameFormat(const TQuorvelTexture* A, const TQuorvelTexture* B) {
  return A->GetComponents() == B->GetComponents() && A->GetFormat() == B->GetFormat() &&
         A->GetDataType() == B->GetDataType();
}

}  // namespace

TTexture* TPassScratch::For(TTexture* AOutput) {
  if (!AOutput) return nullptr;
  auto* output = dynamic_cast<TQuorvelTexture*>(AOutput);
  auto* current = dynamic_cast<TQuorvelTexture*>(FTexture.get());
  if (current && current->GetWidth() == AOutput->GetWidth() && current->GetHeight() == AOutput->GetHeight() &&
      (!output || SameFormat(current, output)))
    return current;
  Release();
  TQuorvelTexture* texture = TQuorvelTexture::Create();
  FTexture.reset(texture);
  if (output) texture->CopyFormatFrom(*output);
  texture->SetStyle({TTextureStyle::RenderTarget});
  texture->SetMinFilter(AOutput->GetMinFilter());
  texture->SetMagFilter(AOutput->GetMagFilter());
  texture->SetSize(AOutput->GetWidth(), AOutput->GetHeight());
  return texture;
}

void TPassScratch::Release() noexcept { FreeQuietlyAndNil(FTexture, "pass scratch texture"); }

void TPassScratch::AttachTarget(TQuorvelRenderPassController* APass, TTexture* ATexture) {
  auto* ctx = dynamic_cast<TQuorvelContext*>(APass->RendererContext());
  if (!ctx) return;
  ctx->AttachTextureToDefaultBuffer(ATexture, TRenderTarget::Color_0);
  if (TFrameBufferObject* fbo = APass->GetFBO()) fbo->Prepare(TRenderTargets{TRenderTarget::Color_0});
}

}  // namespace quorvel
