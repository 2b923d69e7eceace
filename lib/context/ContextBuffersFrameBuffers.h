#pragma once
// Frame buffers without a graphics API: the abstract TFrameBufferObject, the map of the
// textures attached at each render target, and the class variables through which every
// frame buffer is made (FrameBufferObjectClass->Create(...)). The OpenGL unit installs its
// classes there at start-up.
#include <array>
#include <cstdint>

#include "framework/gui3d/Context3D.h"
#include "framework/gui3d/Texture.h"
#include "framework/math/AlphaColor.h"
#include "framework/math/Point.h"
#include "framework/rtl/Object.h"
#include "lib/context/ContextTypes.h"

namespace quorvel {

class TFrameBufferObject;
class TFBOTextureMap;

inline constexpr int RenderTargetCount = 18;

struct TFBOTextureMapClass : TClass {
  using TClass::TClass;
  virtual TFBOTextureMap* Create(TFrameBufferObject* AFBO) const;
};
template <class T>
struct TFBOTextureMapClassOf : TFBOTextureMapClass {
  using TFBOTextureMapClass::TFBOTextureMapClass;
  TFBOTextureMap* Create(TFrameBufferObject* AFBO) const override { return New<T>(AFBO); }
};

// Which texture sits at which render target; the textures are not owned.
class TFBOTextureMap : public TObject {
  FW_CLASS_META(TFBOTextureMap, TObject, TFBOTextureMapClass)

public:
  explicit TFBOTextureMap(TFrameBufferObject* AFBO);

  virtual void AddTexture(TTexture* ATexture, TRenderTarget ATarget);
  // The API detach; EAbstractError here.
  virtual void RemoveTexture(TRenderTarget ATarget);
  // The first target (lowest ordinal) that holds ATexture.
  virtual void RemoveTexture(TTexture* ATexture);
  virtual bool TextureExists(TRenderTarget ATarget, TTexture* ATexture) const;
  virtual TTexture* GetTextureByTarget(TRenderTarget ATarget) const;
  virtual void Clear();
  virtual int32_t Count() const;
  virtual void RemoveAll();

  TFrameBufferObject* GetFBO() const { return FFBO; }

protected:
  static size_t Slot(TRenderTarget ATarget);
  TFrameBufferObject* FFBO;
  std::array<TTexture*, RenderTargetCount> FTargets{};
};

struct TFrameBufferObjectClass : TClass {
  using TClass::TClass;
  virtual TFrameBufferObject* Create(TContext3D* AContext, bool AIsMultisampleBuffer, TMultisample AMultisample,
                                     void* AOwnerContext) const;
  // The API value of an attachment point; EAbstractError here.
  virtual uint32_t RenderTargetToValue(TRenderTarget ATarget) const;
};
template <class T, class Base = TFrameBufferObjectClass>
struct TFrameBufferObjectClassOf : Base {
  using Base::Base;
  TFrameBufferObject* Create(TContext3D* AContext, bool AIsMultisampleBuffer, TMultisample AMultisample,
                             void* AOwnerContext) const override {
    return New<T>(AContext, AIsMultisampleBuffer, AMultisample, AOwnerContext);
  }
};

// An off-screen render target. The API operations raise EAbstractError here.
class TFrameBufferObject : public TObject {
  FW_CLASS_META(TFrameBufferObject, TObject, TFrameBufferObjectClass)

public:
  TFrameBufferObject(TContext3D* AContext, bool AIsMultisampleBuffer, TMultisample AMultisample,
                     void* AOwnerContext);
  ~TFrameBufferObject() override;
  // CreateHandle.
  void AfterConstruction() override;
  // DestroyRenderBuffer, DestroyDepthBuffer, DestroyHandle.
  void BeforeDestruction() override;

  bool HasHandle() const { return FHandle != 0; }
  virtual bool CheckStatus();
  virtual void CreateHandle();
  virtual void DestroyHandle();
  virtual void Reset();
  virtual void CheckMaxAttachments(TRenderTarget ATarget);
  virtual void AttachTexture(TContext3D* AContext, TTexture* ATexture, TRenderTarget ATarget);
  virtual void DetachTexture(TTexture* ATexture);
  virtual TTexture* GetTextureByRenderTarget(TRenderTarget ATarget) const;
  virtual void CreateRenderBuffer(int32_t AWidth, int32_t AHeight);
  virtual void DestroyRenderBuffer();
  virtual void CreateDepthBuffer(int32_t AWidth, int32_t AHeight);
  virtual void DestroyDepthBuffer();
  // Attaches a depth-stencil render buffer that someone else owns.
  virtual void AttachDepthBuffer(uint32_t ABufId, const TPoint& ASize);
  virtual void DetachDepthBuffer() {}
  virtual void Bind(TContext3D* AContext);
  virtual void Unbind(TContext3D* AContext);
  uint32_t RenderTargetToValue(TRenderTarget ATarget) const;
  virtual void Resize(int32_t AWidth, int32_t AHeight);
  virtual void Prepare(const TRenderTargets& ATargets);
  void Clear(TRenderTarget ATarget, const TAlphaColorF& AColor, float ADepth, uint32_t AStencil, bool AForceDraw);
  virtual void Clear(const TRenderTargets& ATargets, const TAlphaColorF& AColor, float ADepth, uint32_t AStencil,
                     bool AForceDraw);

  TContext3D* GetContext() const { return FContext; }
  void SetContext(TContext3D* Value) { FContext = Value; }
  uint32_t GetHandle() const { return FHandle; }
  bool GetIsMultisampleBuffer() const { return FIsMultisampleBuffer; }
  uint32_t GetDepthBuf() const { return FDepthBuf; }
  bool GetOwnsDepthBuf() const { return FOwnsDepthBuf; }
  uint32_t GetRenderBuf() const { return FRenderBuf; }
  bool GetOwnsRenderBuf() const { return FOwnsRenderBuf; }
  TSize GetSize() const { return FSize; }
  int32_t GetMSValue() const { return FMSValue; }
  TFBOTextureMap* GetTextures() const { return FTextures.get(); }

protected:
  void* FOwnerContext = nullptr;
  uint32_t FHandle = 0;
  TContext3D* FContext = nullptr;
  TSize FSize;
  uint32_t FDepthBuf = 0;
  bool FOwnsDepthBuf = false;
  uint32_t FStencilBuf = 0;
  uint32_t FRenderBuf = 0;
  bool FOwnsRenderBuf = false;
  bool FIsMultisampleBuffer = false;
  int32_t FMSValue = 0;
  TOwned<TFBOTextureMap> FTextures;
};

// The installed classes (the abstract ones until a graphics unit starts).
extern const TFrameBufferObjectClass* FrameBufferObjectClass;
extern const TFBOTextureMapClass* FBOTextureMapClass;

}  // namespace quorvel
