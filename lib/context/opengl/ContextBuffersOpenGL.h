#pragma once
// The OpenGL buffer object and frame buffer. The unit's initialisation installs
// TOpenGLBufferObject, TOpenGLFrameBufferObject and TOpenGLFBOTextureMap in the class
// variables of Quorvel.Context.Buffers; its finalisation puts the abstract classes back.
#include <cstdint>
#include <string>

#include "lib/context/ContextBuffers.h"
#include "lib/context/ContextBuffersFrameBuffers.h"

namespace quorvel {

uint32_t BufferUsageToGL(TBufferUsage AUsage);
uint32_t BufferTargetToGL(TBufferBindingTarget ATarget);
uint32_t BufferAccessToGL(TBufferAccessMode AMode);

class TOpenGLBufferObject : public TBufferObject {
  FW_CLASS_META(TOpenGLBufferObject, TBufferObject, TBufferObjectClass)

public:
  TOpenGLBufferObject(TBufferUsage AUsage, TBufferBindingTarget ATarget, void* AContext);
  void AfterConstruction() override;
  ~TOpenGLBufferObject() override;

  intptr_t Bind() override;
  void Unbind() override;
  void Push(const void* AData, intptr_t ASize) override;
  void* SynchronizedMap(TBufferAccessMode AMode) override;
  void SynchronizedUnmap() override;
  // Size 0, unlinked, and the store of the buffer bound to the target zero-filled.
  void Clear() override;
  void LinkWithBindingPoint(uint32_t ABindingPoint, bool AErrorCheck) override;
  // AProgram is a TShaderProgram.
  void LinkWithShaderProgram(TObject* AProgram, const std::string& ABlockName, const void* AData, uint32_t ASize,
                             bool AErrorCheck) override;
};

class TOpenGLFBOTextureMap : public TFBOTextureMap {
  FW_CLASS_META(TOpenGLFBOTextureMap, TFBOTextureMap, TFBOTextureMapClass)

public:
  using TFBOTextureMap::TFBOTextureMap;
  using TFBOTextureMap::RemoveTexture;
  // Detaches a colour target from the frame buffer bound now; depth and stencil only leave
  // the map.
  void RemoveTexture(TRenderTarget ATarget) override;
};

struct TOpenGLFrameBufferObjectClass : TFrameBufferObjectClassOf<class TOpenGLFrameBufferObject> {
  using TFrameBufferObjectClassOf::TFrameBufferObjectClassOf;
  uint32_t RenderTargetToValue(TRenderTarget ATarget) const override;
};

class TOpenGLFrameBufferObject : public TFrameBufferObject {
  FW_CLASS_META(TOpenGLFrameBufferObject, TFrameBufferObject, TFrameBufferObjectClass)

public:
  using TFrameBufferObject::TFrameBufferObject;
  using TFrameBufferObject::Clear;

  // False (no exception) for an incomplete frame buffer without attached textures.
  bool CheckStatus() override;
  void CreateHandle() override;
  void DestroyHandle() override;
  void Reset() override;
  void CheckMaxAttachments(TRenderTarget ATarget) override;
  void AttachTexture(TContext3D* AContext, TTexture* ATexture, TRenderTarget ATarget) override;
  void CreateRenderBuffer(int32_t AWidth, int32_t AHeight) override;
  void DestroyRenderBuffer() override;
  void CreateDepthBuffer(int32_t AWidth, int32_t AHeight) override;
  void DestroyDepthBuffer() override;
  void AttachDepthBuffer(uint32_t ABufId, const TPoint& ASize) override;
  // Binds; with an engine context also pushes on its frame-buffer stack. Handle 0: nothing.
  void Bind(TContext3D* AContext) override;
  // Pops the engine context's stack and binds the frame buffer now on top, or 0.
  void Unbind(TContext3D* AContext) override;
  void Resize(int32_t AWidth, int32_t AHeight) override;
  void Prepare(const TRenderTargets& ATargets) override;
  void Clear(const TRenderTargets& ATargets, const TAlphaColorF& AColor, float ADepth, uint32_t AStencil,
             bool AForceDraw) override;
};

}  // namespace quorvel
