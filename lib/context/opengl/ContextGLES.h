#pragma once
// TQuorvelContextOpenGLES: the engine context on OpenGL 4.3 (compatibility profile). It
// fills the engine context's virtual operations with GL calls: render states, clears,
// stencil, blending and the capability queries here (ContextGLES.cpp), primitive drawing
// (ContextGLESDraw.cpp), textures and copies (ContextGLESTextures.cpp), shader objects and
// variables (ContextGLESShaders.cpp). GL state is not cached beyond the mirrors the engine
// reads back (blend table, smoothing set, point-sprite parameters).
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "lib/context/Context.h"

namespace quorvel {

// Class functions answered with glGetString / glGetIntegerv, and the class-level texture and
// shader operations of the framework.
class TQuorvelContextOpenGLESClass : public TQuorvelContextClass {
public:
  using TQuorvelContextClass::TQuorvelContextClass;

  // A GL context is current (IsContextAvailable).
  bool Valid() const override;

  int32_t PlatformDirectStateAccess() const override;
  std::string PlatformGetVendorName() const override;
  std::string PlatformGetRendererName() const override;
  std::string PlatformGetVersion() const override;
  std::string PlatformGetExtensionString() const override;
  bool PlatformHasAnyErrors() const override;
  bool PlatformHasAnyErrors(intptr_t& AError) const override;
  int32_t PlatformMaxTextureSize() const override;
  int32_t PlatformMaxTexture3DSize() const override;
  int32_t PlatformTextureUnitCount() const override;
  int32_t PlatformMaxTextureImageUnits() const override;
  int32_t PlatformMaxVertexShaderUniformBlocks() const override;
  int32_t PlatformMaxFragmentShaderUniformBlocks() const override;
  int32_t PlatformMaxUniformBlockSize() const override;
  int32_t PlatformMaxDrawBuffers() const override;
  TBlendSetting GetDefaultBlending() const override;
  int32_t GetTextureByTextureIndex(int32_t ATextureIndex) const override;

  // Textures (ContextGLESTextures.cpp).
  void DoInitializeTexture(TTexture* ATexture) const override;
  void DoFinalizeTexture(TTexture* ATexture) const override;
  void DoUpdateTexture(TTexture* ATexture, const void* ABits, int32_t APitch) const override;
  void PlatformSetTextureFiltering(TTexture* ATexture, TTextureStyles AStyles, uint32_t ATextureKind,
                                   uint32_t AInternalFormat) const override;
  void PlatformUnsetPixelState() const override;

  // Shader objects (ContextGLESShaders.cpp).
  void DoInitializeShader(TContextShader* AShader) const override;
  void DoFinalizeShader(TContextShader* AShader) const override;
};

// --- process-wide values of the OpenGL context ----------------------------------------------

// The host buffer of DoCopyToBits, shared by all contexts: grown to at least ASize bytes and
// kept; freed when a context is destroyed.
uint8_t* ReadBackBuffer(size_t ASize);
size_t ReadBackBufferSize();
void FreeReadBackBuffer();

// The client-attribute stack depth recorded when the pixel state was pushed (0 at start).
extern int32_t ClientAttribStackDepth;

class TQuorvelLayeredMaterial;

class TQuorvelContextOpenGLES : public TQuorvelContext {
  FW_CLASS_META(TQuorvelContextOpenGLES, TQuorvelContext, TQuorvelContextOpenGLESClass)

public:
  TQuorvelContextOpenGLES(TWindowHandle AParent, int32_t AWidth, int32_t AHeight, TMultisample AMultisample,
                          bool ADepthStencil);
  TQuorvelContextOpenGLES(TTexture* ATexture, TMultisample AMultisample, bool ADepthStencil);
  ~TQuorvelContextOpenGLES() override;

  TIndexBufferSupport GetIndexBufferSupport() const override;

  // --- capability and fixed-function operations -----------------------------------------------
  void SetMemoryBarrierBits(const TMemoryBarrierFlags& ABits) override;
  void SetMemoryBarrierBit(TMemoryBarrierFlag ABit) override;
  void FetchMemoryBarrierBit() override;
  void SetFlatShading() override;
  void SetSmoothShading() override;
  void StorePreviousContextSize() override;
  void SetContextSize(int32_t AXOfs, int32_t AYOfs, int32_t AWidth, int32_t AHeight) override;
  void SetContextSize(const TQuorvelContextSize& ASize) override;
  void GetContextSize(TQuorvelContextSize& ASize) override;
  void BeginOrtho(float ALeft, float ATop, float ARight, float ABottom, float ANear, float AFar) override;
  void BeginOrtho(const TOrthographicData& AData) override;
  void EndOrtho() override {}
  using TQuorvelContext::DrawScreenRectangle;
  void DrawScreenRectangle(const TAlphaColorF& AColor) override;

  // --- blending ---------------------------------------------------------------------------------
  void SetGlobalBlending(const TBlendSetting& AValue) override;
  void SetBlendingByIndex(uint32_t AIndex, const TBlendSetting& AValue) override;
  void EnableBlendingBuffers() override;
  void DisableBlendingBuffers() override;

  // GL_MAX_DRAW_BUFFERS as the blend operations use it: limited to the table's 32 entries.
  static int32_t BlendingBufferLimit();

protected:
  // --- states, clears, stencil ------------------------------------------------------------------
  void DoSetContextState(TContextState AState) override;
  void DoSetContextStates(const TFwContextStates& AStates) override;
  void DoClear(const TClearTargets& ATarget, TAlphaColor AColor, float ADepth, uint32_t AStencil) override;
  void DoClearEx(const TRenderTargets& ATarget, TAlphaColor AColor, float ADepth, uint32_t AStencil) override;
  void DoClearBufferFloat(int32_t ABuf, const float* APtr) override;
  void DoSetStencilOp(TStencilOp AFail, TStencilOp AZFail, TStencilOp AZPass) override;
  void DoSetStencilFunc(TStencilFunc AFunc, uint32_t ARef, uint32_t AMask) override;
  void DoSetTwoSidedRendering(TStencilOpEx AFrontFaceFail, TStencilOpEx AFrontFaceZFail,
                              TStencilOpEx AFrontFaceZPass, TStencilOpEx ABackFaceFail, TStencilOpEx ABackFaceZFail,
                              TStencilOpEx ABackFaceZPass, uint32_t AFrontStencilMask,
                              uint32_t ABackStencilMask) override;
  void DoSetPolygonOffsetFill(TPolygonOffsetFill AMode, float AFactor, float AUnits) override;
  void DoSetSmoothMode(const TSmoothSetting& ASetting) override;
  void DoSetPointSprites(bool AEnabled) override;
  void DoSetPointSpriteTextureMode() override;
  uint32_t MemoryBarrierFlagToValue(TMemoryBarrierFlag AFlag) override;

  // --- primitive drawing (ContextGLESDraw.cpp) ----------------------------------------------------
  void DoDrawPrimitivesBatch(TPrimitivesKind AKind, const void* Vertices, const void* Indices,
                             const TVertexDeclaration& VertexDeclaration, int32_t VertexSize, int32_t VertexCount,
                             int32_t IndexSize, int32_t IndexCount) override;
  // The layered material set for this draw; EInvalidCast (and forgotten) when it is not one.
  TQuorvelLayeredMaterial* CurrentLayeredMaterial();
  // Every pass of one batched draw (one per layer of a layered material) with the arrays set.
  void DrawBatchPasses(TMeshBufferObject* ACache, TQuorvelPrimitivesKind AKind, float ALineWidth, const void* AIndices,
                       int32_t AIndexSize, int32_t AIndexCount, int32_t AVertexCount);
  // One draw call, instanced when instances are set; AMode is a GL primitive mode.
  void DrawBatchElements(uint32_t AMode, int32_t AIndexSize, int32_t AIndexCount, const void* AIndices,
                         int32_t AVertexCount);
  void DrawBatchInstanced(uint32_t AMode, int32_t AIndexSize, int32_t AIndexCount, const void* AIndices);

  // --- copies (ContextGLESTextures.cpp) -----------------------------------------------------------
  void DoCopyToBitmap(TBitmap* Dest, const TRect& ARect) override;
  void DoCopyToBits(void* Bits, int32_t Pitch, const TRect& ARect) override;
  // The default frame buffer read into the shared read-back buffer (rows bottom-up, BGRA) for a
  // destination of ARect's size; null, logged, when it cannot be read or the sizes differ.
  const uint8_t* ReadFrame(const TRect& ARect);

  // --- shader variables (ContextGLESShaders.cpp) --------------------------------------------------
  void DoSetShaderVariable(const std::string& AName, std::span<const TVector3D> AData) override;
  void DoSetShaderVariable(const std::string& AName, TTexture* ATexture) override;
  void DoSetShaderVariableMatrix4(const std::string& AName, const TMatrix3D& AMatrix) override;
  void DoSetShaderVariableInt(const std::string& AName, std::span<const int32_t> AValues) override;
};

// GL values of the stencil enumerations (out-of-range values: GL_INVERT, GL_KEEP, GL_ALWAYS).
uint32_t StencilOpToGL(TStencilOp AOp);
uint32_t StencilOpExToGL(TStencilOpEx AOp);
uint32_t StencilFuncToGL(TStencilFunc AFunc);

}  // namespace quorvel
