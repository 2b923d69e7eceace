#pragma once
// TQuorvelContext: the engine's 3D context. It adds to the framework context a frame-buffer
// stack with default off-screen frame buffers, a scene bracket that holds the canvas lock,
// the render-pass registry, per-draw-buffer blend settings, clip planes, the view frustum and
// scene boundary, an instancing buffer and the class functions that ask the installed
// platform for its capabilities. Abstract: TQuorvelContextOpenGLES does the GL work and
// TContextOpenGLWindows, the registered class, binds it to the shared GL context.
#include <array>
#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "framework/gui/Bitmap.h"
#include "framework/gui3d/Context3D.h"
#include "framework/gui3d/Material.h"
#include "framework/math/BoundingBox.h"
#include "framework/rtl/RecordInfo.h"
#include "lib/context/ContextBuffers.h"
#include "lib/context/ContextExtension.h"
#include "lib/context/ContextTypes.h"
#include "lib/context/ContextTypesLights.h"
#include "lib/passes/ContextRendering.h"
#include "lib/utils/ContextFrustum.h"

namespace quorvel {

class TFrameBufferObject;
class TQuorvelContext;
class TShaderProgram;

// x, y, width, height.
using TQuorvelContextSize = std::array<int32_t, 4>;

// --- process-wide values ---------------------------------------------------------------------

extern float DefaultNearPlane;   // 0.1 after unit initialisation
extern float DefaultFarPlane;    // 10000 after unit initialisation
extern bool ContextDesignTime;   // set by every viewport constructor
extern bool RaiseShaderCompileErrors;  // True after unit initialisation
extern TContextMessageCallback ContextMessageCallback;
// GL_MAX_DRAW_BUFFERS, read when the shared GL context is made; 0 before.
extern int32_t ContextMaxDrawBuffers;
// Whether the default blend setting of the OpenGL context has been made.
extern bool DefaultBlendingInitialized;

// The extension list of the process, made on first use through ExtensionsClass.
TExtensions& SharedExtensions();
// Frees the shared extension list (the next SharedExtensions makes a new one).
void FreeSharedExtensions();

// --- metaclass -------------------------------------------------------------------------------

// Class functions of the engine contexts. The Platform… functions are abstract here
// (EAbstractError) and answered by the OpenGL classes.
class TQuorvelContextClass : public TContextClass {
public:
  using TContextClass::TContextClass;

  virtual void CreateSharedContext() const;
  virtual void DestroySharedContext() const;

  virtual int32_t PlatformDirectStateAccess() const;
  virtual void PlatformSetTextureFiltering(TTexture* ATexture, TTextureStyles AStyles, uint32_t ATextureKind,
                                           uint32_t AInternalFormat) const;
  virtual void PlatformSetPixelState(int32_t AWidth, int32_t AHeight, int32_t ADepth, int32_t ABytesPerPixel,
                                     int32_t APitch) const;
  virtual void PlatformUnsetPixelState() const;
  virtual bool PlatformIsContextAvailable() const;
  virtual std::string PlatformGetVendorName() const;
  virtual std::string PlatformGetRendererName() const;
  virtual std::string PlatformGetVersion() const;
  virtual std::string PlatformGetExtensionString() const;
  virtual bool PlatformHasAnyErrors() const;
  virtual bool PlatformHasAnyErrors(intptr_t& AError) const;
  virtual TContextShaderArch PlatformGetShaderArch() const;
  virtual int32_t PlatformMaxTextureSize() const;
  virtual int32_t PlatformMaxTexture3DSize() const;
  virtual int32_t PlatformTextureUnitCount() const;
  virtual int32_t PlatformMaxTextureImageUnits() const;
  virtual int32_t PlatformMaxVertexShaderUniformBlocks() const;
  virtual int32_t PlatformMaxFragmentShaderUniformBlocks() const;
  virtual int32_t PlatformMaxUniformBlockSize() const;
  virtual int32_t PlatformMaxDrawBuffers() const;
  virtual int32_t PlatformMaxLightCount() const;
  virtual TContextStyles PlatformStyle() const;
  virtual bool PlatformTextureCompressionAllowed() const;

  // Forwards to the platform class.
  virtual bool TextureCompressionAllowed() const;
  virtual TBlendSetting GetDefaultBlending() const;
  virtual int32_t GetTextureByTextureIndex(int32_t ATextureIndex) const;

  // The framework's class functions: Style, MaxLightCount and MaxTextureSize ask the platform
  // class; TextureUnitCount (8) and PixelFormat (BGRA) are fixed.
  TContextStyles Style() const override;
  int32_t MaxLightCount() const override;
  int32_t MaxTextureSize() const override;
  int32_t TextureUnitCount() const override { return 8; }
  TPixelFormat PixelFormat() const override { return TPixelFormat::BGRA; }
  // A new texture of the installed engine texture class holding a copy of ABitmap.
  TTexture* DoBitmapToTexture(TBitmap* ABitmap) const override;
};

// --- the context -----------------------------------------------------------------------------

class TQuorvelContext : public TContext3D {
  FW_CLASS_META(TQuorvelContext, TContext3D, TQuorvelContextClass)

public:
  TQuorvelContext(TWindowHandle AParent, int32_t AWidth, int32_t AHeight, TMultisample AMultisample,
                  bool ADepthStencil);
  TQuorvelContext(TTexture* ATexture, TMultisample AMultisample, bool ADepthStencil);
  ~TQuorvelContext() override;
  // The rest of construction: from a texture, the validity check, the render-pass registry
  // and the buffers (an invalid platform raises and the object is freed again).
  void AfterConstruction() override;

  // --- class functions (asked of the default context class, whatever class they are called on)
  static const TQuorvelContextClass* PlatformClass();
  static int32_t DirectStateAccess();
  static void DoSetTextureFiltering(TTexture* ATexture, TTextureStyles AStyles, uint32_t ATextureKind,
                                    uint32_t AInternalFormat);
  static void SetPixelState(int32_t AWidth, int32_t AHeight, int32_t ADepth, int32_t ABytesPerPixel, int32_t APitch);
  static void UnsetPixelState();
  static bool IsContextAvailable();
  static std::string GetVendorName();
  static std::string GetRendererName();
  static std::string GetVersion();
  static std::string GetExtensionString();
  static bool HasAnyErrors();
  static bool HasAnyErrors(intptr_t& AError);
  static TContextShaderArch GetShaderArch();
  static int32_t MaxTexture3DSize();
  static int32_t MaxTextureImageUnits();
  static int32_t MaxVertexShaderUniformBlocks();
  static int32_t MaxFragmentShaderUniformBlocks();
  static int32_t MaxUniformBlockSize();
  static int32_t MaxDrawBuffers();
  static bool TextureCompressionAllowed();
  static bool IsDesignTime() { return ContextDesignTime; }
  static void ResetDrawCallDiagnostics();

  // The metaclass of this object's class as an engine metaclass.
  const TQuorvelContextClass* GetQuorvelClass() const;

  // --- scenes ------------------------------------------------------------------------------
  // The engine's scene bracket under the canvas lock. A begin that answers False (or raises)
  // leaves the count and the lock as they were.
  bool BeginSceneRendering();
  void EndSceneRendering();

  // --- frame buffers -----------------------------------------------------------------------
  void BindDefaultBuffer();
  void UnbindDefaultBuffer();
  void PushFBO(TFrameBufferObject* AFBO);
  TFrameBufferObject* PopFBO();
  TFrameBufferObject* GetCurrentlyBoundBuffer() const;
  const std::vector<TFrameBufferObject*>& GetFBOStack() const { return FFBOStack; }
  TTexture* GetCurrentTexture() const;
  TTexture* GetDefaultTexture() const;
  void AttachTextureToDefaultBuffer(TTexture* ATexture, TRenderTarget ATarget);
  void AttachTextureToTranslucentBuffer(TTexture* ATexture, TRenderTarget ATarget);
  void LinkDepthBufferToTranslucentBuffer();
  TFrameBufferObject* GetDefaultFrameBuf() const { return FDefaultFrameBuf.get(); }
  TFrameBufferObject* GetDefaultMSFrameBuf() const { return FDefaultMSFrameBuf.get(); }
  TFrameBufferObject* GetTranslucentBuf() const { return FTranslucentBuf.get(); }

  // --- matrices ----------------------------------------------------------------------------
  void SetProjectionMatrix(const TMatrix3D& AMat);
  // The projection and screen matrices use the context's own near and far planes.
  float ProjectionNearPlane() const override { return FNearPlane; }
  float ProjectionFarPlane() const override { return FFarPlane; }
  TPoint3D ScreenToWorld(const TPointF& AScreenPos, TProjection AProjection);

  // --- viewport ----------------------------------------------------------------------------
  virtual void StorePreviousContextSize() = 0;
  virtual void SetContextSize(int32_t AXOfs, int32_t AYOfs, int32_t AWidth, int32_t AHeight) = 0;
  virtual void SetContextSize(const TQuorvelContextSize& ASize) = 0;
  virtual void GetContextSize(TQuorvelContextSize& ASize) = 0;
  const TQuorvelContextSize& GetOldViewport() const { return FOldViewport; }

  // --- render states -----------------------------------------------------------------------
  // Every state through the framework (which records them, the GL hook staying silent while
  // the set is applied), then the whole set at once.
  void SetContextStates(const TFwContextStates& AStates);
  void ClearEx(const TRenderTargets& ATarget, TAlphaColor AColor, float ADepth, uint32_t AStencil);
  void ClearBufferFloat(int32_t ABuf, const float* APtr);
  void SetTwoSidedRendering(TStencilOpEx AFrontFaceFail, TStencilOpEx AFrontFaceZFail, TStencilOpEx AFrontFaceZPass,
                            TStencilOpEx ABackFaceFail, TStencilOpEx ABackFaceZFail, TStencilOpEx ABackFaceZPass,
                            uint32_t AFrontStencilMask, uint32_t ABackStencilMask);
  void SetPolygonOffsetFill(TPolygonOffsetFill AMode, float AFactor, float AUnits);
  void SetSmoothMode(const TSmoothSetting& ASetting);
  void SetPointSprites(bool AEnabled);
  void SetPointSpriteTextureMode();
  virtual void SetMemoryBarrierBits(const TMemoryBarrierFlags& ABits) = 0;
  virtual void SetMemoryBarrierBit(TMemoryBarrierFlag ABit) = 0;
  virtual void FetchMemoryBarrierBit() = 0;
  virtual void SetFlatShading() = 0;
  virtual void SetSmoothShading() = 0;
  virtual void DrawScreenRectangle(const TAlphaColorF& AColor) = 0;
  void DrawScreenRectangle(TAlphaColor AColor) { DrawScreenRectangle(TAlphaColorF::Create(AColor)); }
  virtual void BeginOrtho(float ALeft, float ATop, float ARight, float ABottom, float ANear, float AFar) = 0;
  virtual void BeginOrtho(const TOrthographicData& AData) = 0;
  virtual void EndOrtho() = 0;

  // --- blending ----------------------------------------------------------------------------
  TBlendSetting GetGlobalBlending() const;
  virtual void SetGlobalBlending(const TBlendSetting& AValue) = 0;
  TBlendSettings GetBlendings();
  void SetBlendings(const TBlendSettings& AValue);
  TBlendSetting GetBlendingByIndex(uint32_t AIndex) const;
  virtual void SetBlendingByIndex(uint32_t AIndex, const TBlendSetting& AValue) = 0;
  virtual void EnableBlendingBuffers() = 0;
  virtual void DisableBlendingBuffers() = 0;
  TSmoothTargets GetSmoothTargets() const { return FSmoothTargets; }

  // --- clip planes (index clamped to 0..7) -------------------------------------------------
  void ActivateClipPlane(int32_t AIndex, const TPlaneF& APlane);
  void DeactivateClipPlane(int32_t AIndex);
  PClipPlaneF GetClippingPlane(int32_t AIndex);
  bool IsClippingPlaneActive(int32_t AIndex) const;

  // --- frustum and boundary ----------------------------------------------------------------
  TBoundingBox GetSceneBoundary() const { return FBoundary; }
  void SetSceneBoundary(const TBoundingBox& ABounds) { FBoundary = ABounds; }
  TQuorvelFrustum GetFrustum() const { return FFrustum; }
  void SetFrustum(const TQuorvelFrustum& AFrustum);
  TBoundingBox GetFrustumBoundary() const { return FFrustumBox; }

  // --- instancing --------------------------------------------------------------------------
  // AInstances matrices of 64 bytes from AData; fewer than 1 only sets the count.
  virtual void SetInstances(int32_t AInstances, const void* AData);
  virtual void UnsetInstances() { FInstanceCount = 0; }
  int32_t GetInstanceCount() const { return FInstanceCount; }
  TBufferObject* GetInstanceBuffer() const { return FInstanceVAO.get(); }

  // --- shader variables --------------------------------------------------------------------
  using TContext3D::SetShaderVariable;
  void SetShaderVariable(const std::string& AName, const TMatrix3D& AMatrix, bool AAsMat4);
  void SetShaderVariableInt(const std::string& AName, std::span<const int32_t> AValue);
  // Uploads ACount records of type AType (a record described with FW_RECORD) from AData,
  // field by field as "AName[i].Field"; arrays of records inside become "AName[i].F[j].G".
  void SetShaderVariableArrayOfStruct(const std::string& AName, const TRecordFieldType* AType, int32_t ACount,
                                      const void* AData);
  template <class R>
  void SetShaderVariableArrayOfStruct(const std::string& AName, std::span<const R> AData) {
    SetShaderVariableArrayOfStruct(AName, RecordFieldTypeOf<R>(), static_cast<int32_t>(AData.size()), AData.data());
  }

  // --- lights (the shader lights run parallel to the framework's light list) ----------------
  // Both answer the index of the new entry.
  int32_t AddLight(const TLightDescription& ALight);
  int32_t AddLight(const TQuorvelShaderLight& ALight);
  // An index outside either list raises EArgumentOutOfRangeException and changes nothing.
  void RemoveLight(int32_t AIdx);
  void ClearLights();
  const std::vector<TQuorvelShaderLight>& GetShaderLights() const { return FShaderLights; }

  // --- shader programs (the process-wide cache) -------------------------------------------
  static TShaderProgram* GetCurrentProgram();
  // The cached program of VS and PS; null unless both are compiled and a GL context is current.
  static TShaderProgram* GetProgram(TContextShader* VS, TContextShader* PS);
  static void RemoveProgram(TShaderProgram* AShaderProgram);
  static void RemoveProgram(TContextShader* VS, TContextShader* PS);
  // Compiles the given shaders that have no handle yet, then makes their program current.
  void SetShaders(TContextShader* VertexShader, TContextShader* PixelShader, TContextShader* GeometryShader = nullptr,
                  TContextShader* TessEvalShader = nullptr, TContextShader* TessCtrlShader = nullptr);
  int32_t BuildShader(int32_t AType, const TContextShaderCode& ACode);

  // --- drawing -----------------------------------------------------------------------------
  // Apply, then the matrices the material names; nothing without a material.
  void ApplyMaterial(TMaterial* AMaterial);
  void ResetMaterial(TMaterial* AMaterial);
  // The draw without the framework's material step (the render passes draw through these).
  void DirectDrawPrimitives(TPrimitivesKind AKind, const void* Vertices, const void* Indices,
                            const TVertexDeclaration& VertexDeclaration, int32_t VertexSize, int32_t VertexCount,
                            int32_t IndexSize, int32_t IndexCount);
  void DirectDrawPrimitives(TQuorvelPrimitivesKind AKind, const void* Vertices, const void* Indices,
                            const TVertexDeclaration& VertexDeclaration, int32_t VertexSize, int32_t VertexCount,
                            int32_t IndexSize, int32_t IndexCount);

  // --- render passes -----------------------------------------------------------------------
  void BeginRenderPass(TRenderPass* APass);
  void EndRenderPass();
  void ResetRenderPasses() { FCurrentPass = nullptr; }
  TRenderPass* GetCurrentRenderPass() const { return FCurrentPass; }
  void AddIntermediatePass(TRenderPass* APass);
  // Runs APass with all its iterations; nothing without a pass, its begin handler or ARenderContext.
  void ExecuteRenderPass(TRenderPass* APass, PRenderContext ARenderContext);
  virtual bool PreProcessing(PRenderContext ARenderContext);
  virtual bool PostProcessing(PRenderContext ARenderContext);

  // --- properties --------------------------------------------------------------------------
  bool IsTranslucentRendering() const { return FTranslucentRendering; }
  void SetTranslucentRendering(bool AValue) { FTranslucentRendering = AValue; }
  float GetTranslucentDistance() const { return FTranslucentDistance; }
  void SetTranslucentDistance(float AValue) { FTranslucentDistance = AValue; }
  float GetNearPlane() const { return FNearPlane; }
  void SetNearPlane(float AValue) { FNearPlane = AValue; }
  float GetFarPlane() const { return FFarPlane; }
  void SetFarPlane(float AValue) { FFarPlane = AValue; }
  const TMatrix3D& GetOriginalCameraMatrix() const { return FOriginalCameraMatrix; }
  void SetOriginalCameraMatrix(const TMatrix3D& AValue) { FOriginalCameraMatrix = AValue; }
  const TQuorvelFogSettings& GetFog() const { return FFog; }
  void SetFog(const TQuorvelFogSettings& AValue) { FFog = AValue; }
  bool GetActivity() const { return FActivity; }
  void SetActivity(bool AValue) { FActivity = AValue; }
  TRenderPasses* GetRenderPasses() const { return FPasses.get(); }
  const std::vector<TRenderPass*>& GetIntermediatePasses() const { return FIntermediatePasses; }
  TRenderPass* GetCurrentPass() const { return FCurrentPass; }
  TMeshBufferObject* GetCurrentCache() const { return FCurrentCache; }
  void SetCurrentCache(TMeshBufferObject* AValue) { FCurrentCache = AValue; }
  TObject* GetCurrentLayeredMaterial() const { return FCurrentLayeredMaterial; }
  void SetCurrentLayeredMaterial(TObject* AValue) { FCurrentLayeredMaterial = AValue; }
  bool GetDefaultBufferFallbackBind() const { return FDefaultBufferFallbackBind; }

protected:
  // --- framework hooks ---------------------------------------------------------------------
  void DoInitContext() override;
  void DoFreeBuffer() override;
  void DoResize() override;
  bool DoBeginScene() override;
  void DoEndScene() override;

  virtual bool CanBeginScene() { return true; }

  static TShaderProgram* GetOrCreateProgram(TContextShader* VS, TContextShader* GS, TContextShader* TSE,
                                            TContextShader* TSC, TContextShader* PS);
  static void DoSetShaders(TContextShader* VS, TContextShader* GS, TContextShader* TSE, TContextShader* TSC,
                           TContextShader* PS);
  static void ClearProgramCache();
  void DoSetVertexPixelShaders(TContextShader* VertexShader, TContextShader* PixelShader) override;
  // The current pass filters the draw and may substitute its material; every intermediate
  // pass with a material draws the same primitives again.
  void DoDrawPrimitives(TPrimitivesKind AKind, const void* Vertices, const void* Indices,
                        const TVertexDeclaration& VertexDeclaration, int32_t VertexSize, int32_t VertexCount,
                        int32_t IndexSize, int32_t IndexCount) override;
  virtual void DoDirectDrawPrimitives(TPrimitivesKind AKind, const void* Vertices, const void* Indices,
                                      const TVertexDeclaration& VertexDeclaration, int32_t VertexSize,
                                      int32_t VertexCount, int32_t IndexSize, int32_t IndexCount);
  virtual void DoDirectDrawPrimitives(TQuorvelPrimitivesKind AKind, const void* Vertices, const void* Indices,
                                      const TVertexDeclaration& VertexDeclaration, int32_t VertexSize,
                                      int32_t VertexCount, int32_t IndexSize, int32_t IndexCount);
  // Runs the enabled passes of one type (none for Intermediate); False without a render
  // context or without passes.
  virtual bool ProcessRenderPasses(TRenderPassType AType, PRenderContext ARenderContext);
  // Makes the pass registry (once) and has it report the passes it frees.
  void CreateRenderPasses();
  // Drops a pass about to be freed from the intermediate list and the pass stack.
  void ForgetRenderPass(TRenderPass* APass);
  virtual void CreateInstanceBuffer();
  virtual void FreeInstanceBuffer();
  // Saves ABitmap as APrefix + a random 8.3 name + ".bmp" (a debugging aid).
  virtual void SaveBitmapToFile(TBitmap* ABitmap, const std::string& APrefix);

  virtual void DoSetContextStates(const TFwContextStates& AStates) = 0;
  virtual void DoClearEx(const TRenderTargets& ATarget, TAlphaColor AColor, float ADepth, uint32_t AStencil) = 0;
  virtual void DoClearBufferFloat(int32_t ABuf, const float* APtr) = 0;
  virtual uint32_t MemoryBarrierFlagToValue(TMemoryBarrierFlag AFlag) = 0;
  virtual uint32_t MemoryBarrierFlagsToValue(const TMemoryBarrierFlags& AFlags);
  virtual void DoSetTwoSidedRendering(TStencilOpEx AFrontFaceFail, TStencilOpEx AFrontFaceZFail,
                                      TStencilOpEx AFrontFaceZPass, TStencilOpEx ABackFaceFail,
                                      TStencilOpEx ABackFaceZFail, TStencilOpEx ABackFaceZPass,
                                      uint32_t AFrontStencilMask, uint32_t ABackStencilMask) = 0;
  virtual void DoSetPolygonOffsetFill(TPolygonOffsetFill AMode, float AFactor, float AUnits) = 0;
  virtual void DoSetSmoothMode(const TSmoothSetting& ASetting) = 0;
  virtual void DoSetPointSprites(bool AEnabled) = 0;
  virtual void DoSetPointSpriteTextureMode() = 0;
  virtual void DoSetShaderVariableMatrix4(const std::string& AName, const TMatrix3D& AMatrix) = 0;
  virtual void DoSetShaderVariableInt(const std::string& AName, std::span<const int32_t> AValues) = 0;
  // AData is a cursor: it stands after the last record sent when the upload returns.
  virtual void DoSetShaderVariableArrayOfStruct(const std::string& AName, const TRecordFieldType* AType,
                                                int32_t ACount, const void*& AData);
  // The number after a leading "texture" (any case), e.g. 3 for "Texture3"; 0 otherwise.
  virtual int32_t TextureUnitFromName(const std::string& AName);
  // One debug-log line naming the program, texture (by hash code) and unit of a binding.
  static void LogTextureBinding(const std::string& APrefix, TObject* AProgram, TObject* ATexture, int32_t AIndex);

  // --- fields ------------------------------------------------------------------------------
  TOwned<TFrameBufferObject> FDefaultFrameBuf;
  TOwned<TFrameBufferObject> FDefaultMSFrameBuf;  // never made (FSupportMS is False)
  bool FSupportMS = false;
  TOwned<TFrameBufferObject> FTranslucentBuf;
  bool FTranslucentRendering = false;
  float FTranslucentDistance = 0;
  float FNearPlane = 0.1f;
  float FFarPlane = 10000;
  TBlendSettings FBlendingBuffers{};
  TSmoothTargets FSmoothTargets;
  TQuorvelContextSize FOldViewport{};
  TMatrix3D FOriginalCameraMatrix = TMatrix3D::Identity();
  TBoundingBox FBoundary;
  TBoundingBox FFrustumBox;
  TQuorvelFrustum FFrustum;
  TQuorvelFogSettings FFog;
  bool FActivity = false;
  std::vector<TQuorvelShaderLight> FShaderLights;
  TOwned<TRenderPasses> FPasses;  // texture contexts only
  TRenderPass* FCurrentPass = nullptr;
  std::vector<TRenderPass*> FIntermediatePasses;  // not owning
  std::vector<TRenderPass*> FRenderPassStack;
  std::vector<TFrameBufferObject*> FFBOStack;  // not owning; innermost last
  bool FDefaultBufferFallbackBind = false;
  TMeshBufferObject* FCurrentCache = nullptr;
  TOwned<TBufferObject> FInstanceVAO;
  int32_t FInstanceCount = 0;
  TObject* FCurrentLayeredMaterial = nullptr;
  std::array<TClipPlaneF, ClipPlaneCount> FClippingPlanes{};
  int32_t FPointOrigin = 0;
  float FPointThreshold = 5.0f;
  float FPointSizeMin = 1.0f;
  float FPointSizeMax = 512.0f;
  std::atomic<int32_t> FMultipleSetContextState{0};

private:
  TFrameBufferObject* DefaultBuffer() const { return FDefaultMSFrameBuf ? FDefaultMSFrameBuf.get() : FDefaultFrameBuf.get(); }
  void SceneSize(int32_t& AWidth, int32_t& AHeight) const;
};

}  // namespace quorvel
