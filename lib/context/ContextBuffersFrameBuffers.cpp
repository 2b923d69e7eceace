#include "lib/context/ContextBuffersFrameBuffers.h"

#include "framework/rtl/Finally.h"
#include "framework/rtl/Log.h"

namespace quorvel {

FW_CLASS_IMPL_META(TFBOTextureMap, "Quorvel.Context.Buffers", TFBOTextureMapClassOf<TFBOTextureMap>)
FW_CLASS_NO_MEMBERS(TFBOTextureMap)
FW_CLASS_IMPL_META(TFrameBufferObject, "Quorvel.Context.Buffers", TFrameBufferObjectClassOf<TFrameBufferObject>)
FW_CLASS_NO_MEMBERS(TFrameBufferObject)

const TFrameBufferObjectClass* FrameBufferObjectClass = TFrameBufferObject::StaticMeta();
const TFBOTextureMapClass* FBOTextureMapClass = TFBOTextureMap::StaticMeta();

namespace {
}  // namespace

TFBOTextureMap* TFBOTextureMapClass::Create(TFrameBufferObject* AFBO) const { return New<TFBOTextureMap>(AFBO); }

TFrameBufferObject* TFrameBufferObjectClass::Create(TContext3D* AContext, bool AIsMultisampleBuffer,
                                                    TMultisample AMultisample, void* AOwnerContext) const {
  return New<TFrameBufferObject>(AContext, AIsMultisampleBuffer, AMultisample, AOwnerContext);
}

uint32_t TFrameBufferObjectClass::RenderTargetToValue(TRenderTarget) const { RaiseAbstractError(); }

// --- TFBOTextureMap --------------------------------------------------------------------------

TFBOTextureMap::TFBOTextureMap(TFrameBufferObject* AFBO) : FFBO(AFBO) {}

size_t TFBOTextureMap::Slot(TRenderTarget ATarget) {
  const auto i = static_cast<size_t>(ATarget);
  if (i >= static_cast<size_t>(RenderTargetCount))
    throw EArgumentOutOfRangeException("invalid render target " + std::to_string(i));
  return i;
}

void TFBOTextureMap::AddTexture(TTexture* ATexture, TRenderTarget ATarget) { FTargets[Slot(ATarget)] = ATexture; }

void TFBOTextureMap::RemoveTexture(TRenderTarget) { RaiseAbstractError(); }

void TFBOTextureMap::RemoveTexture(TTexture* ATexture) {
  for (size_t i = 0; i < FTargets.size(); ++i)
    if (FTargets[i] && FTargets[i] == ATexture) {
      RemoveTexture(static_cast<TRenderTarget>(i));
      return;
    }
}

bool TFBOTextureMap::TextureExists(TRenderTarget ATarget, TTexture* ATexture) const {
  TTexture* tex = FTargets[Slot(ATarget)];
  return tex && tex == ATexture;
}

TTexture* TFBOTextureMap::GetTextureByTarget(TRenderTarget ATarget) const { return FTargets[Slot(ATarget)]; }

void TFBOTextureMap::Clear() { RemoveAll(); }

int32_t TFBOTextureMap::Count() const {
  int32_t n = 0;
  for (TTexture* tex : FTargets) n += tex ? 1 : 0;
  return n;
}

void TFBOTextureMap::RemoveAll() {
  for (size_t i = 0; i < FTargets.size(); ++i)
    if (FTargets[i]) RemoveTexture(static_cast<TRenderTarget>(i));
}

// --- TFrameBufferObject ----------------------------------------------------------------------

TFrameBufferObject::TFrameBufferObject(TContext3D* AContext, bool AIsMultisampleBuffer, TMultisample AMultisample,
                                       void* AOwnerContext)
    : FOwnerContext(AOwnerContext), FContext(AContext), FIsMultisampleBuffer(AIsMultisampleBuffer) {
  switch (AMultisample) {
    case TMultisample::TwoSamples: FMSValue = 2; break;
    case TMultisample::FourSamples: FMSValue = 4; break;
    default: FMSValue = 0; break;
  }
}

void TFrameBufferObject::AfterConstruction() {
  TObject::AfterConstruction();
  FTextures.reset(FBOTextureMapClass->Create(this));
  CreateHandle();
}

void TFrameBufferObject::BeforeDestruction() {
  // The GL objects go first; a failure here must not leak the texture map.
  Quietly("TFrameBufferObject: releasing the frame buffer", [&] {
    DestroyRenderBuffer();
    DestroyDepthBuffer();
    DestroyHandle();
  });
  TObject::BeforeDestruction();
}

TFrameBufferObject::~TFrameBufferObject() {
  FreeQuietlyAndNil(FTextures, "TFrameBufferObject destructor: texture map");
}

bool TFrameBufferObject::CheckStatus() { RaiseAbstractError(); }
void TFrameBufferObject::CreateHandle() { RaiseAbstractError(); }
void TFrameBufferObject::DestroyHandle() { RaiseAbstractError(); }
void TFrameBufferObject::Reset() { RaiseAbstractError(); }
void TFrameBufferObject::CheckMaxAttachments(TRenderTarget) { RaiseAbstractError(); }
void TFrameBufferObject::AttachTexture(TContext3D*, TTexture*, TRenderTarget) { RaiseAbstractError(); }

void TFrameBufferObject::DetachTexture(TTexture* ATexture) {
  if (FTextures && ATexture) FTextures->RemoveTexture(ATexture);
}

TTexture* TFrameBufferObject::GetTextureByRenderTarget(TRenderTarget ATarget) const {
  return FTextures ? FTextures->GetTextureByTarget(ATarget) : nullptr;
}

void TFrameBufferObject::CreateRenderBuffer(int32_t, int32_t) { RaiseAbstractError(); }
void TFrameBufferObject::DestroyRenderBuffer() { RaiseAbstractError(); }
void TFrameBufferObject::CreateDepthBuffer(int32_t, int32_t) { RaiseAbstractError(); }
void TFrameBufferObject::DestroyDepthBuffer() { RaiseAbstractError(); }
void TFrameBufferObject::AttachDepthBuffer(uint32_t, const TPoint&) { RaiseAbstractError(); }
void TFrameBufferObject::Bind(TContext3D*) { RaiseAbstractError(); }
void TFrameBufferObject::Unbind(TContext3D*) { RaiseAbstractError(); }

uint32_t TFrameBufferObject::RenderTargetToValue(TRenderTarget ATarget) const {
  const auto* meta = ClassType()->MetaAs<TFrameBufferObjectClass>();
  if (!meta) throw EAbstractError("Abstract Error");
  return meta->RenderTargetToValue(ATarget);
}

void TFrameBufferObject::Resize(int32_t, int32_t) { RaiseAbstractError(); }
void TFrameBufferObject::Prepare(const TRenderTargets&) { RaiseAbstractError(); }

void TFrameBufferObject::Clear(TRenderTarget ATarget, const TAlphaColorF& AColor, float ADepth, uint32_t AStencil,
                               bool AForceDraw) {
  Clear(TRenderTargets{ATarget}, AColor, ADepth, AStencil, AForceDraw);
}

void TFrameBufferObject::Clear(const TRenderTargets&, const TAlphaColorF&, float, uint32_t, bool) { RaiseAbstractError(); }

}  // namespace quorvel
