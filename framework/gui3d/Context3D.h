#pragma once
// TContext3D: the framework's 3D context. It keeps the context's size, matrices, lights and
// the process-wide render-state record, brackets scenes under the global canvas lock and
// routes every drawing operation to virtual hooks that a graphics back end overrides (the
// engine's OpenGL context). No graphics API is called here.
//
// Life cycle (two phases, see Object.h):
//   TContext3D* ctx = TContextManager::CreateFromTexture(texture, TMultisample::None, true);
//     constructor: stores the arguments; AfterConstruction: DoInitContext
//   ctx->CreateBuffer();                 // DoCreateBuffer, when the back end needs buffers
//   if (ctx->BeginScene()) { ...; ctx->EndScene(); }
//   Free(ctx);                           // BeforeDestruction: DoFreeBuffer
//
// Class functions (Valid, Style, limits, the texture and shader operations, the virtual
// constructors) live on the metaclass TContextClass. A back end declares
//
//   class TMyContext : public TContext3D {
//     FW_CLASS_META(TMyContext, TContext3D, TContextClass)
//     ...
//   };
//   struct TMyContextClass : TContextClassOf<TMyContext> {      // in the .cpp
//     using TContextClassOf::TContextClassOf;
//     bool Valid() const override { ... }
//   };
//   FW_CLASS_IMPL_META(TMyContext, "Fw.MyUnit", TMyContextClass)
//
// and registers TMyContext::StaticMeta() with TContextManager::RegisterContext.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "framework/gui3d/Light.h"
#include "framework/gui3d/Shader.h"
#include "framework/gui3d/Texture.h"
#include "framework/gui3d/VertexBuffer.h"
#include "framework/math/AlphaColor.h"
#include "framework/math/Matrix3D.h"
#include "framework/math/Point.h"
#include "framework/math/Point3D.h"
#include "framework/math/Rect.h"
#include "framework/platform/Windows.h"
#include "framework/rtl/Enum.h"
#include "framework/rtl/Object.h"
#include "framework/rtl/Set.h"

namespace quorvel {

class TContext3D;
class TMaterial;
class TColorMaterial;

using TWindowHandle = HWND;

enum class TMultisample : uint8_t { None = 0, TwoSamples = 1, FourSamples = 2 };
FW_ENUM(TMultisample, None, TwoSamples, FourSamples)

enum class TContextStyle : uint8_t { RenderTargetFlipped = 0, Fragile = 1 };
FW_ENUM(TContextStyle, RenderTargetFlipped, Fragile)
using TContextStyles = TSet<TContextStyle>;

// The order is relied on: state sets are applied in ascending ordinal order.
enum class TContextState : uint8_t {
  cs2DScene = 0,
  cs3DScene = 1,
  csZTestOn = 2,
  csZTestOff = 3,
  csZWriteOn = 4,
  csZWriteOff = 5,
  csAlphaBlendOn = 6,
  csAlphaBlendOff = 7,
  csStencilOn = 8,
  csStencilOff = 9,
  csColorWriteOn = 10,
  csColorWriteOff = 11,
  csScissorOn = 12,
  csScissorOff = 13,
  csFrontFace = 14,
  csBackFace = 15,
  csAllFace = 16
};
FW_ENUM(TContextState, cs2DScene, cs3DScene, csZTestOn, csZTestOff, csZWriteOn, csZWriteOff, csAlphaBlendOn,
        csAlphaBlendOff, csStencilOn, csStencilOff, csColorWriteOn, csColorWriteOff, csScissorOn, csScissorOff,
        csFrontFace, csBackFace, csAllFace)
using TContextStates = TSet<TContextState>;

enum class TPrimitivesKind : uint8_t { Points = 0, Lines = 1, Triangles = 2 };
FW_ENUM(TPrimitivesKind, Points, Lines, Triangles)

enum class TClearTarget : uint8_t { Color = 0, Depth = 1, Stencil = 2 };
FW_ENUM(TClearTarget, Color, Depth, Stencil)
using TClearTargets = TSet<TClearTarget>;

enum class TStencilOp : uint8_t { Keep = 0, Zero = 1, Replace = 2, Increase = 3, Decrease = 4, Invert = 5 };
FW_ENUM(TStencilOp, Keep, Zero, Replace, Increase, Decrease, Invert)

enum class TStencilFunc : uint8_t {
  Never = 0,
  Less = 1,
  Lequal = 2,
  Greater = 3,
  Gequal = 4,
  Equal = 5,
  NotEqual = 6,
  Always = 7
};
FW_ENUM(TStencilFunc, Never, Less, Lequal, Greater, Gequal, Equal, NotEqual, Always)

// The metaclass of the contexts: virtual constructors and class functions. The defaults
// are those of a context class without a graphics back end.
class TContextClass : public TClass {
public:
  using TClass::TClass;

  // Virtual constructors (New: constructor, then AfterConstruction). EAbstractError here.
  virtual TContext3D* CreateFromWindow(TWindowHandle AParent, int32_t AWidth, int32_t AHeight,
                                       TMultisample AMultisample, bool ADepthStencil) const;
  virtual TContext3D* CreateFromTexture(TTexture* ATexture, TMultisample AMultisample, bool ADepthStencil) const;

  virtual bool Valid() const { return false; }
  virtual TContextStyles Style() const { return {}; }
  virtual int32_t MaxLightCount() const { return 8; }
  virtual int32_t MaxTextureSize() const { return 0; }
  virtual int32_t TextureUnitCount() const { return 1; }
  virtual TPixelFormat PixelFormat() const { return TPixelFormat::BGRA; }
  virtual TPointF PixelToPixelPolygonOffset() const { return {0, 0}; }

  // Texture and shader operations of the class; TContext3D's static operations and
  // TContextManager reach them through the default context class. Without a back end the
  // GPU objects are never made; finalising clears the handle.
  virtual void DoInitializeTexture(TTexture* ATexture) const;
  virtual void DoFinalizeTexture(TTexture* ATexture) const;
  virtual void DoUpdateTexture(TTexture* ATexture, const void* ABits, int32_t APitch) const;
  // A new texture (owned by the caller) that took over the bitmap; null for no bitmap.
  virtual TTexture* DoBitmapToTexture(TBitmap* ABitmap) const;
  virtual void DoInitializeShader(TContextShader* AShader) const;
  virtual void DoFinalizeShader(TContextShader* AShader) const;
};

// A metaclass that constructs T; derive a back end's metaclass from it.
template <class T, class Base = TContextClass>
class TContextClassOf : public Base {
public:
  using Base::Base;
  TContext3D* CreateFromWindow(TWindowHandle AParent, int32_t AWidth, int32_t AHeight, TMultisample AMultisample,
                               bool ADepthStencil) const override {
    return New<T>(AParent, AWidth, AHeight, AMultisample, ADepthStencil);
  }
  TContext3D* CreateFromTexture(TTexture* ATexture, TMultisample AMultisample, bool ADepthStencil) const override {
    return New<T>(ATexture, AMultisample, ADepthStencil);
  }
};

class TContext3D : public TObject {
  FW_CLASS_META(TContext3D, TObject, TContextClass)

public:
  enum class TIndexBufferSupport : uint8_t { Unknown = 0, Int16 = 1, Int32 = 2 };

  // CreateFromWindow. Negative sizes raise EArgumentOutOfRangeException.
  TContext3D(TWindowHandle AParent, int32_t AWidth, int32_t AHeight, TMultisample AMultisample,
             bool ADepthStencil);
  // CreateFromTexture: the size is the texture's. A nil texture raises EArgumentNilException.
  TContext3D(TTexture* ATexture, TMultisample AMultisample, bool ADepthStencil);
  // Leaves the scene stack and frees the helper material; calls no hooks.
  ~TContext3D() override;

  // DoInitContext.
  void AfterConstruction() override;
  // DoFreeBuffer; a failure there is logged, not raised.
  void BeforeDestruction() override;

  // --- class level ---------------------------------------------------------------------
  // The metaclass of this object's class.
  const TContextClass* GetContextClass() const;
  bool Valid() const { return GetContextClass()->Valid(); }
  TContextStyles Style() const { return GetContextClass()->Style(); }
  int32_t MaxLightCount() const { return GetContextClass()->MaxLightCount(); }
  int32_t MaxTextureSize() const { return GetContextClass()->MaxTextureSize(); }
  int32_t TextureUnitCount() const { return GetContextClass()->TextureUnitCount(); }
  TPixelFormat PixelFormat() const { return GetContextClass()->PixelFormat(); }
  TPointF PixelToPixelPolygonOffset() const { return GetContextClass()->PixelToPixelPolygonOffset(); }
  virtual TIndexBufferSupport GetIndexBufferSupport() const { return TIndexBufferSupport::Int32; }

  // Go to the default context class (TContextManager); without one, to TContext3D's own.
  static void InitializeTexture(TTexture* ATexture);
  static void FinalizeTexture(TTexture* ATexture);
  static void UpdateTexture(TTexture* ATexture, const void* ABits, int32_t APitch);
  static TTexture* BitmapToTexture(TBitmap* ABitmap);

  // --- size and target -----------------------------------------------------------------
  int32_t GetWidth() const { return FWidth; }
  int32_t GetHeight() const { return FHeight; }
  float GetScale() const { return FScale; }
  // Changes the size (DoResize when it differs). Negative sizes raise.
  void SetSize(int32_t AWidth, int32_t AHeight);
  // Values <= 0 or not finite raise EArgumentOutOfRangeException.
  void SetScale(float Value);
  TWindowHandle GetParent() const { return FParent; }
  TTexture* GetTexture() const { return FTexture; }
  TMultisample GetMultisample() const { return FMultisample; }
  bool GetDepthStencil() const { return FDepthStencil; }
  // DoCreateBuffer.
  void CreateBuffer();

  // --- scenes --------------------------------------------------------------------------
  // Takes the canvas lock. The outermost begin of this context pushes the render-state
  // record when another scene is open, resets the projection and screen matrices and the
  // model matrix, and runs DoBeginScene; False (lock released) when that fails. Inner
  // begins only count.
  bool BeginScene();
  // Ends one scene: the outermost runs DoEndScene; the lock is released once per begin.
  // Without an open scene it does nothing.
  void EndScene();
  int32_t GetBeginSceneCount() const { return FBeginSceneCount; }
  // Open scenes of all contexts, and the context of the innermost one (null outside).
  static int32_t GlobalBeginSceneCount();
  static TContext3D* CurrentSceneContext();
  // Saves / restores the process-wide render-state record. A pop re-applies the restored
  // states through the current scene context; a pop without a push does nothing.
  static void PushContextStates();
  static void PopContextStates();

  // --- states --------------------------------------------------------------------------
  // The record is process-wide because every context of the process draws with one shared
  // GPU context: a state set through one context is current for all. A state already
  // recorded as current is skipped; otherwise DoSetContextState runs and the state becomes
  // current, its opposite (for the faces: the other two) not current.
  void SetContextState(TContextState AState);
  static bool GetCurrentState(TContextState AState);
  static TContextStates GetCurrentStates();
  // Forgets the record, so that the next state of each kind reaches the back end.
  static void ResetCurrentStates();

  // --- clears, stencil, scissor ---------------------------------------------------------
  void Clear(const TClearTargets& ATarget, TAlphaColor AColor, float ADepth, uint32_t AStencil);
  // Colour, depth 1 and stencil 0.
  void Clear(TAlphaColor AColor);
  void SetStencilOp(TStencilOp AFail, TStencilOp AZFail, TStencilOp AZPass);
  void SetStencilFunc(TStencilFunc AFunc, uint32_t ARef, uint32_t AMask);
  void SetScissorRect(const TRect& ARect);

  // --- matrices ------------------------------------------------------------------------
  void SetMatrix(const TMatrix3D& AMatrix) { FCurrentMatrix = AMatrix; }
  const TMatrix3D& GetCurrentMatrix() const { return FCurrentMatrix; }
  void SetCameraMatrix(const TMatrix3D& AMatrix);
  const TMatrix3D& GetCurrentCameraMatrix() const { return FCurrentCameraMatrix; }
  const TMatrix3D& GetCurrentCameraInvMatrix() const { return FCurrentCameraInvMatrix; }
  // Degrees; a change recomputes the projection.
  void SetCameraAngleOfView(float AAngle);
  float GetCurrentAngleOfView() const { return FCurrentAngleOfView; }
  // An extra matrix applied after the projection (rendering a part of the view); identity
  // by default.
  void SetRenderToMatrix(const TMatrix3D& AMatrix);
  const TMatrix3D& GetRenderToMatrix() const { return FRenderToMatrix; }
  // Moves the projection centre (in clip units).
  void SetCenterOffset(const TPointF& AOffset);
  TPointF GetCenterOffset() const { return FCenterOffset; }
  // Perspective from the angle of view and width / height, cached until something it
  // depends on changes.
  virtual TMatrix3D GetCurrentProjectionMatrix();
  // Maps context units to the whole target (2D scenes and screen-projected controls).
  virtual TMatrix3D GetCurrentScreenMatrix();
  // The planes of the projection and screen matrices (1 and 1000 here).
  virtual float ProjectionNearPlane() const;
  virtual float ProjectionFarPlane() const;
  // Model × camera × projection; in a 2D scene (cs2DScene current) model × screen matrix.
  TMatrix3D GetCurrentModelViewProjectionMatrix();

  // The ray under the point (X, Y) in context units: for Camera projection from the eye
  // through the point, for Screen projection through the screen matrix. RayDir is
  // normalised (W 0); RayPos has W 1.
  void Pick(float X, float Y, TProjection AProjection, TVector3D& RayPos, TVector3D& RayDir);
  // The context position of a point (Z: the depth in clip units).
  TPoint3D WorldToScreen(TProjection AProjection, const TPoint3D& APoint);

  // --- lights --------------------------------------------------------------------------
  const std::vector<TLightDescription>& GetLights() const { return FLights; }
  std::vector<TLightDescription>& Lights() { return FLights; }

  // --- drawing -------------------------------------------------------------------------
  // Applies the material (Apply, then its matrix variables: "MVPMatrix" and the other names
  // GetMaterialProperty reports), then DoDrawPrimitives, then resets the material, also
  // when the draw raises. Without a material the draw happens without one. Opacity is
  // readable through GetCurrentOpacity meanwhile. Negative counts raise
  // EArgumentOutOfRangeException.
  void DrawPrimitives(TPrimitivesKind AKind, const void* Vertices, const void* Indices,
                      const TVertexDeclaration& VertexDeclaration, int32_t VertexSize, int32_t VertexCount,
                      int32_t IndexSize, int32_t IndexCount, TMaterial* AMaterial, float AOpacity);
  void DrawTriangles(const TVertexBuffer* Vertices, const TIndexBuffer* Indices, TMaterial* AMaterial,
                     float AOpacity);
  void DrawLines(const TVertexBuffer* Vertices, const TIndexBuffer* Indices, TMaterial* AMaterial, float AOpacity);
  void DrawPoints(const TVertexBuffer* Vertices, const TIndexBuffer* Indices, TMaterial* AMaterial,
                  float AOpacity);
  // Helpers drawn with the context's own colour material.
  void DrawLine(const TPoint3D& AStart, const TPoint3D& AEnd, float AOpacity, TAlphaColor AColor);
  void DrawCube(const TPoint3D& ACenter, const TPoint3D& ASize, float AOpacity, TAlphaColor AColor);
  void FillCube(const TPoint3D& ACenter, const TPoint3D& ASize, float AOpacity, TAlphaColor AColor);
  float GetCurrentOpacity() const { return FCurrentOpacity; }

  // --- copies --------------------------------------------------------------------------
  // DoCopyToBitmap; nothing for a nil bitmap.
  void CopyToBitmap(TBitmap* Dest, const TRect& ARect);
  // DoCopyToBits (32-bit BGRA rows, top row first). Nil bits or an empty rectangle do
  // nothing; a pitch below ARect.Width() * 4 raises EArgumentOutOfRangeException.
  void CopyToBits(void* Bits, int32_t Pitch, const TRect& ARect);

  // --- shaders -------------------------------------------------------------------------
  // Compiles the shaders that have no handle (TContextManager::InitializeShader), then
  // DoSetVertexPixelShaders. Nothing unless both are given.
  void SetShaders(TContextShader* VertexShader, TContextShader* PixelShader);
  void SetShaderVariable(const std::string& AName, std::span<const TVector3D> AData);
  void SetShaderVariable(const std::string& AName, TTexture* ATexture);
  void SetShaderVariable(const std::string& AName, const TMatrix3D& AMatrix);
  void SetShaderVariable(const std::string& AName, TAlphaColor AColor);

protected:
  // --- hooks, in the order a back end fills them ---------------------------------------
  // Common initialisation of both constructors (after construction): matrices, angle of
  // view, opacity.
  virtual void DoInitContext();
  virtual void DoCreateBuffer() {}
  virtual void DoFreeBuffer() {}
  virtual void DoResize() {}
  // The framework's own copy: CopyToBits of the whole context, then the ARect part
  // (clipped) written into Dest at the same position (clipped to Dest).
  virtual void DoCopyToBitmap(TBitmap* Dest, const TRect& ARect);
  virtual void DoCopyToBits(void* /*Bits*/, int32_t /*Pitch*/, const TRect& /*ARect*/) {}
  // Counts the scene in the global count, makes this the current scene context and answers
  // True.
  virtual bool DoBeginScene();
  // Pops the render-state record when more than one scene is open, then undoes
  // DoBeginScene.
  virtual void DoEndScene();
  virtual void DoClear(const TClearTargets& /*ATarget*/, TAlphaColor /*AColor*/, float /*ADepth*/,
                       uint32_t /*AStencil*/) {}
  virtual void DoSetContextState(TContextState /*AState*/) {}
  virtual void DoSetStencilOp(TStencilOp /*AFail*/, TStencilOp /*AZFail*/, TStencilOp /*AZPass*/) {}
  virtual void DoSetStencilFunc(TStencilFunc /*AFunc*/, uint32_t /*ARef*/, uint32_t /*AMask*/) {}
  virtual void DoSetScissorRect(const TRect& /*ARect*/) {}
  // Sends the whole draw to DoDrawPrimitivesBatch. A back end without 32-bit indices gets
  // them narrowed to 16 bits; indices above 65535 then raise EContext3DException.
  virtual void DoDrawPrimitives(TPrimitivesKind AKind, const void* Vertices, const void* Indices,
                                const TVertexDeclaration& VertexDeclaration, int32_t VertexSize, int32_t VertexCount,
                                int32_t IndexSize, int32_t IndexCount);
  virtual void DoDrawPrimitivesBatch(TPrimitivesKind /*AKind*/, const void* /*Vertices*/, const void* /*Indices*/,
                                     const TVertexDeclaration& /*VertexDeclaration*/, int32_t /*VertexSize*/,
                                     int32_t /*VertexCount*/, int32_t /*IndexSize*/, int32_t /*IndexCount*/) {}
  virtual void DoSetVertexPixelShaders(TContextShader* /*VertexShader*/, TContextShader* /*PixelShader*/) {}
  virtual void DoSetShaderVariable(const std::string& /*AName*/, std::span<const TVector3D> /*AData*/) {}
  virtual void DoSetShaderVariable(const std::string& /*AName*/, TTexture* /*ATexture*/) {}
  // The four rows of the transposed matrix through the vector hook: vector j is column j of
  // AMatrix, so a shader forms clip component j as dot(Name[j], vec4(position, 1)).
  virtual void DoSetShaderVariableMatrix(const std::string& AName, const TMatrix3D& AMatrix);

  // --- the fields back ends read and write ---------------------------------------------
  TWindowHandle FParent = nullptr;
  TTexture* FTexture = nullptr;  // target of a texture context; not owned
  int32_t FWidth = 0;
  int32_t FHeight = 0;
  float FScale = 1;
  TMultisample FMultisample = TMultisample::None;
  bool FDepthStencil = false;
  int32_t FBeginSceneCount = 0;

  bool FRecalcScreenMatrix = true;
  bool FRecalcProjectionMatrix = true;
  TMatrix3D FScreenMatrix = TMatrix3D::Identity();
  TMatrix3D FInvScreenMatrix = TMatrix3D::Identity();
  TMatrix3D FProjectionMatrix = TMatrix3D::Identity();
  TMatrix3D FInvProjectionMatrix = TMatrix3D::Identity();
  TMatrix3D FCurrentMatrix = TMatrix3D::Identity();
  TMatrix3D FCurrentCameraMatrix = TMatrix3D::Identity();
  TMatrix3D FCurrentCameraInvMatrix = TMatrix3D::Identity();
  TMatrix3D FRenderToMatrix = TMatrix3D::Identity();
  TPointF FCenterOffset;
  float FCurrentAngleOfView = 45;
  float FCurrentOpacity = 1;
  std::vector<TLightDescription> FLights;

private:
  void ApplyMaterialMatrices(TMaterial* AMaterial);
  TColorMaterial* HelperMaterial(TAlphaColor AColor);
  void DrawHelper(TPrimitivesKind AKind, const TPoint3D* AVertices, int32_t AVertexCount, const uint16_t* AIndices,
                  int32_t AIndexCount, float AOpacity, TAlphaColor AColor);

  TOwned<TColorMaterial> FHelperMaterial;
  std::vector<uint16_t> FNarrowIndices;       // reused by DoDrawPrimitives
};

// The registry of context classes.
class TContextManager {
public:
  // Registering a class again changes nothing but, with ADefault, makes it the default.
  // Without an explicit default the first registered class is the default.
  static void RegisterContext(const TContextClass* AClass, bool ADefault);
  static void UnregisterContext(const TContextClass* AClass);
  // Null when no class is registered.
  static const TContextClass* DefaultContextClass();
  static std::vector<const TContextClass*> ContextClasses();
  // Through the default class; EContext3DException when none is registered.
  static TContext3D* CreateFromWindow(TWindowHandle AParent, int32_t AWidth, int32_t AHeight,
                                      TMultisample AMultisample, bool ADepthStencil);
  static TContext3D* CreateFromTexture(TTexture* ATexture, TMultisample AMultisample, bool ADepthStencil);
  // The default class's shader operations; without a class, initialising does nothing and
  // finalising clears the handle.
  static void InitializeShader(TContextShader* AShader);
  static void FinalizeShader(TContextShader* AShader);
};

}  // namespace quorvel
