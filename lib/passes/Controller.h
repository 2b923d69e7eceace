#pragma once
// Render-pass controllers: the component every pass of the engine derives from. A controller
// owns an off-screen renderer into whose composite texture the pass draws, a material source
// whose material replaces the objects' materials (or draws a screen rectangle) while the pass
// is current, the pass's camera matrices and two lists of controls that restrict what it
// draws. It registers with a viewport and, through it, as a TRenderPass in the pass registry
// of the viewport's context.
//
// Build controllers with New<T>(owner, id): the setup (which calls virtuals) runs in
// AfterConstruction.
#include <cstdint>
#include <functional>
#include <string>

#include "framework/classes/Collection.h"
#include "framework/classes/Events.h"
#include "framework/classes/FwObject.h"
#include "framework/gui3d/Context3D.h"
#include "framework/gui3d/Material.h"
#include "framework/gui3d/VertexBuffer.h"
#include "framework/math/AlphaColor.h"
#include "framework/math/Matrix3D.h"
#include "framework/math/Point.h"
#include "lib/context/ContextTypes.h"
#include "lib/passes/ContextRendering.h"
#include "lib/passes/Renderer.h"

namespace quorvel {

class TControl3D;
class TTexture;
class TQuorvelViewport;
class TQuorvelRenderPassController;
class TQuorvelRenderPassMaterialSource;

// ASender, AContext (the pass renderer's), ACount (the iteration), APass.
using TRenderPassEvent = TEvent<void(TObject* ASender, TContext3D* AContext, int32_t ACount, TRenderPass* APass)>;

// A component that can be switched off.
class TQuorvelController : public TFwObject {
  FW_CLASS(TQuorvelController, TFwObject)

public:
  explicit TQuorvelController(TComponent* AOwner);

  virtual void SetEnabled(bool Value) { FEnabled = Value; }
  virtual bool GetEnabled() const { return FEnabled; }

protected:
  bool FEnabled = true;
};

// The material a pass draws with; it knows the source (and through it the pass) it belongs to.
class TQuorvelRenderPassMaterial : public TCustomMaterial {
  FW_CLASS(TQuorvelRenderPassMaterial, TCustomMaterial)

public:
  explicit TQuorvelRenderPassMaterial(TQuorvelRenderPassMaterialSource* ASource) : FSource(ASource) {}
  TQuorvelRenderPassMaterialSource* GetSource() const { return FSource; }
  // The picture drawn before the owner pass: the attached (or own) composite texture of the
  // renderer that was current before the pass, or of the viewport's main renderer. Raises
  // EInvalidCast for a context that is not an engine context.
  virtual TTexture* GetPreviousRenderTexture(TContext3D* AContext);
  // Takes the shaders registered for this material out of the shader manager.
  void BeforeDestruction() override;

protected:
  // Makes the shaders current, sharing the GL shaders of equal texts with earlier materials.
  void DoApply(TContext3D* AContext) override;

  TQuorvelRenderPassMaterialSource* FSource;  // not owned
};

// The material source of a pass. The pass that creates it frees it.
class TQuorvelRenderPassMaterialSource : public TMaterialSource {
  FW_CLASS(TQuorvelRenderPassMaterialSource, TMaterialSource)

public:
  explicit TQuorvelRenderPassMaterialSource(TQuorvelRenderPassController* AOwnerPass);

  TQuorvelRenderPassController* GetOwnerPass() const { return FOwnerPass; }
  void SetOwnerPass(TQuorvelRenderPassController* Value) { FOwnerPass = Value; }
  TQuorvelRenderPassController* GetInputPass() const { return FInputPass; }
  // A different pass is stored and DoPassesChanged runs.
  virtual void SetInputPass(TQuorvelRenderPassController* Value);
  bool GetHasMaterial() const { return FHasMaterial; }
  void PassesChanged(TObject* Sender) { DoPassesChanged(Sender); }

protected:
  virtual void DoPassesChanged(TObject* ASender) = 0;

  TQuorvelRenderPassController* FOwnerPass;        // not owned
  TQuorvelRenderPassController* FInputPass = nullptr;  // not owned
  bool FHasMaterial = false;
};

// One control of a pass's allowed or ignored list.
class TQuorvelManagedControl : public TCollectionItem {
  FW_CLASS(TQuorvelManagedControl, TCollectionItem)

public:
  using TOwnerArg = TCollection*;
  explicit TQuorvelManagedControl(TCollection* Collection) : TCollectionItem(Collection) {}

  std::string GetDisplayName() const override { return FName; }
  void SetDisplayName(const std::string& Value) override { FName = Value; }
  TControl3D* GetControl() const { return FControl; }
  void SetControl(TControl3D* Value) { FControl = Value; }
  // The control goes away: the item forgets it.
  void Notification(TComponent* AComponent, TOperation Operation);

protected:
  // Another managed control receives the control, not the name.
  void AssignTo(TPersistent* Dest) override;

private:
  std::string FName;
  TControl3D* FControl = nullptr;  // not owned
};

class TQuorvelManagedControls : public TOwnedCollection {
  FW_CLASS(TQuorvelManagedControls, TOwnedCollection)

public:
  explicit TQuorvelManagedControls(TPersistent* AOwner);

  TQuorvelManagedControl* Item(int AIndex) const { return GetItem(AIndex)->As<TQuorvelManagedControl>(); }
  int IndexOf(const TControl3D* ACtrl) const;
  bool Contains(const TControl3D* ACtrl) const { return IndexOf(ACtrl) >= 0; }
  TQuorvelManagedControl* GetManagedControl(const TControl3D* ACtrl) const;
  void Remove(const TControl3D* ACtrl);
  // A removed control leaves every item it is in (the items stay, empty).
  void Notification(TComponent* AComponent, TOperation Operation);
};

class TQuorvelRenderPassController : public TQuorvelController {
  FW_CLASS(TQuorvelRenderPassController, TQuorvelController)

public:
  explicit TQuorvelRenderPassController(TComponent* AOwner, const std::string& AId = "");
  ~TQuorvelRenderPassController() override;
  void AfterConstruction() override;
  void BeforeDestruction() override;
  void Notification(TComponent* AComponent, TOperation Operation) override;
  void SetName(const std::string& NewName) override;
  // A pass read from a form gets its parent after its set-up looked for a viewport: it looks
  // again, and registers, once the form is loaded.
  void Loaded() override;

  // --- identity and registration -------------------------------------------------------------
  const std::string& GetId() const { return FId; }
  virtual void SetId(const std::string& Value);
  TRenderPassType GetType() const { return FType; }
  virtual void SetType(TRenderPassType Value);
  TRenderPassMethod GetMethod() const { return FMethod; }
  void SetMethod(TRenderPassMethod Value) { FMethod = Value; }
  TRenderPassRenderingProc GetRenderProc() const { return FRenderProc; }
  void SetRenderProc(TRenderPassRenderingProc Value) { FRenderProc = Value; }
  TQuorvelViewport* GetViewport() const { return FViewport; }
  virtual void SetViewport(TQuorvelViewport* Value);
  // The nearest viewport above the pass: its parents, or its owner's chain without a parent.
  TQuorvelViewport* FindViewport();
  void LinkViewport(TQuorvelViewport* AViewport);
  // Internal passes are run by a composite renderer only, never registered with a context.
  virtual bool IsInternalRenderPass() const { return false; }
  virtual void UpdateOnResize();
  virtual void UpdateRenderPass();
  // A run instance on the renderer's context, registered nowhere; the caller owns it.
  virtual TRenderPass* CreateRenderPassInstance(TContext3D* AContext);

  // --- renderer ----------------------------------------------------------------------------
  TRendererType GetRendererType() const { return FRendererType; }
  virtual void SetRendererType(TRendererType Value);
  const TRendererFlags& GetRendererFlags() const { return FRendererFlags; }
  void SetRendererFlags(const TRendererFlags& Value) { FRendererFlags = Value; }
  TRenderer* GetRenderer() const { return FRenderer.get(); }
  // A renderer handed in stays its caller's.
  void SetRenderer(TRenderer* Value);
  TRenderer* GetPreviousRenderer() const { return FPreviousRenderer; }
  virtual TFrameBufferObject* GetFBO();
  virtual TQuorvelTextureBitmap* GetFBOTexture();
  // The renderer's context, or null.
  TContext3D* RendererContext() const;

  // --- material ----------------------------------------------------------------------------
  virtual TQuorvelRenderPassMaterialSource* GetShader() const { return FShader; }
  // A source freed elsewhere is forgotten.
  virtual void SetShader(TQuorvelRenderPassMaterialSource* Value);
  virtual void SetInputPass(TQuorvelRenderPassController* APass);
  virtual TQuorvelRenderPassController* GetInputPass() const;

  // --- run ---------------------------------------------------------------------------------
  int32_t GetIterations() const { return FIterations; }
  virtual void SetIterations(int32_t Value) { FIterations = Value; }
  uint64_t GetFrameCount() const { return FFrameCount; }
  void IncFrameCount() { ++FFrameCount; }
  virtual void SkipRendering() { FDoSkipRendering = true; }
  bool GetRenderingSkipped() const { return FDoSkipRendering; }
  void ResetSkippedRendering() { FDoSkipRendering = false; }
  virtual bool IsPrimitivesKindSupported(TPrimitivesKind AKind) const { return true; }
  const TBlendSettings& GetBlendings() const { return FBlendings; }
  TBlendSettings& Blendings() { return FBlendings; }

  virtual void DoOnBeginRendering(TContext3D* AContext, int32_t ACount, TRenderPass* APass);
  virtual void DoOnEndRendering(TContext3D* AContext, int32_t ACount, TRenderPass* APass);
  virtual void BeginRenderPassRendering(TContext3D* AContext, TAlphaColor AFill, float ADepth, uint32_t AStencil);
  virtual void EndRenderPassRendering(TContext3D* AContext);
  virtual void BindRenderer();
  virtual void UnbindRenderer();
  virtual TPoint ComputeRenderingSize(TContext3D* AContext, int32_t AWidth, int32_t AHeight);
  // Draws ARect textured through the pass's material on the renderer's context (RectToFBO).
  virtual void RenderToContext(TContext3D* AContext, TTexture* ATexture, const TRect& ARect, const TPoint& ADstPos);
  virtual TTexture* GetOutputTexture();

  // --- size and colour ---------------------------------------------------------------------
  TPoint GetViewportSize() const { return FViewportSize; }
  virtual void SetViewportSize(const TPoint& Value);
  virtual int32_t GetViewportWidth();
  virtual void SetViewportWidth(int32_t Value);
  virtual int32_t GetViewportHeight();
  virtual void SetViewportHeight(int32_t Value);
  bool GetOverwriteViewportSize() const { return FOverwriteViewportSize; }
  void SetOverwriteViewportSize(bool Value) { FOverwriteViewportSize = Value; }
  bool GetScaleViewportSize() const { return FScaleViewportSize; }
  void SetScaleViewportSize(bool Value) { FScaleViewportSize = Value; }
  float GetViewportScale() const { return FViewportScale; }
  void SetViewportScale(float Value) { FViewportScale = Value; }
  void SetViewportSizeAndScaleWithoutResize(TComponent* AViewport, const TPoint& ASize, float AScale);
  bool GetOverwriteColor() const { return FOverwriteColor; }
  virtual void SetOverwriteColor(bool Value);
  TAlphaColor GetBackgroundColor() const { return FBackgroundColor; }
  virtual void SetBackgroundColor(TAlphaColor Value);

  // --- matrices ----------------------------------------------------------------------------
  virtual TMatrix3D GetViewMatrix();
  virtual TMatrix3D GetViewMatrix(TContext3D* AContext);
  virtual TMatrix3D GetProjectionMatrix();
  virtual TMatrix3D GetProjectionMatrix(TContext3D* AContext);
  virtual TMatrix3D GetCurrentModelViewProjectionMatrix();
  // The matrix for lookups into the pass's output, with the clip-to-texture bias on the right.
  virtual TMatrix3D GetTextureMatrix(TContext3D* AContext, bool AUseBias);
  const TMatrix3D& GetPrevViewMatrix() const { return FPrevViewMatrix; }
  const TMatrix3D& GetPrevProjMatrix() const { return FPrevProjMatrix; }
  const TMatrix3D& GetBiasMatrix() const { return FBiasMatrix; }

  // --- control filters ---------------------------------------------------------------------
  TQuorvelManagedControls* GetAllowedControls();
  void SetAllowedControls(TQuorvelManagedControls* Value);
  TQuorvelManagedControls* GetIgnoredControls();
  void SetIgnoredControls(TQuorvelManagedControls* Value);
  virtual void AllowControl(TControl3D* ACtrl);
  virtual void IgnoreControl(TControl3D* ACtrl);
  virtual bool IsControlIgnored(TControl3D* ACtrl);

  // --- events ------------------------------------------------------------------------------
  TRenderPassEvent OnBeginSetup, OnEndSetup, OnBeginRender, OnEndRender;

protected:
  virtual void InitializeRenderPass();
  void SetupRenderPass();
  virtual void CreateRenderer();
  virtual void ApplyRenderer();
  virtual void ResizeRenderer(const TPoint& ASize, float AScale);
  virtual void SetRendererColor(const TAlphaColorF& AColor);
  virtual void DoOnCreateCompositeTexture(TObject* ASender, TPoint ASize, float AScale,
                                          TQuorvelTextureBitmap*& ATexture) {}
  virtual void UnregisterRenderPass(TContext3D* AContext, const std::string& AOldId, const std::string& ANewId);
  virtual void UnregisterViewportRenderPass(const std::string& AOldId, const std::string& ANewId);
  virtual void ApplyBackgroundColor();
  virtual void DoOnRenderPass(int32_t ACount, TRenderPass* APass);
  virtual void DoOnEndRenderPass(int32_t ACount, TRenderPass* APass);
  virtual void RebuildRenderer(TContext3D* AContext, int32_t AWidth, int32_t AHeight);
  virtual void ResetRenderer();
  virtual void ConfigureRenderPass(TRenderPass* APass) {}
  virtual void CreateAllowedControls();
  virtual void CreateIgnoredControls();
  virtual TQuorvelRenderPassMaterialSource* CreateMaterialSource() = 0;
  void InvalidateMatrices() { FRecalcViewMatrix = FRecalcProjMatrix = true; }
  // The run handlers and identity of a pass instance, as the controller has them.
  void ConfigureInstance(TRenderPass* APass);
  // After the renderer made a new context: the registered entry, still on the freed one, is
  // made again on the new one.
  void RenewRenderPass();

  TOwned<TVertexBuffer> FRectVBuffer;
  TOwned<TIndexBuffer> FRectIBuffer;
  TPoint FRectLastSize{0, 0};
  std::string FId;
  TRenderPassType FType = TRenderPassType::Pre;
  TQuorvelViewport* FViewport = nullptr;  // not owned
  TRenderPassRenderingProc FRenderProc = TRenderPassRenderingProc::DefaultRendering;
  TRendererType FRendererType = TRendererType::ForwardRenderer;
  TRendererFlags FRendererFlags{TRendererFlag::IgnoreEmissiveBlur, TRendererFlag::IgnoreGlobalIllum};
  TMaybeOwned<TRenderer> FRenderer;
  TRenderer* FPreviousRenderer = nullptr;
  bool FOverwriteColor = false;
  TAlphaColor FBackgroundColor = claBlack;
  TQuorvelRenderPassMaterialSource* FShader = nullptr;  // freed by the descendant that made it
  int32_t FIterations = 1;
  uint64_t FFrameCount = 0;
  bool FDoSkipRendering = false;
  TRenderPassMethod FMethod = TRenderPassMethod::RenderListToFBO;
  TBlendSettings FBlendings{};
  TMatrix3D FPrevViewMatrix = TMatrix3D::Identity();
  TMatrix3D FPrevProjMatrix = TMatrix3D::Identity();
  TMatrix3D FViewMatrix = TMatrix3D::Identity();
  bool FRecalcViewMatrix = true;
  TMatrix3D FProjMatrix = TMatrix3D::Identity();
  bool FRecalcProjMatrix = true;
  TMatrix3D FTextureMatrix = TMatrix3D::Identity();
  TMatrix3D FBiasMatrix = TMatrix3D::Identity();
  TPoint FViewportSize{0, 0};
  bool FOverwriteViewportSize = false;
  bool FUseRealViewportSize = false;
  bool FScaleViewportSize = false;
  float FViewportScale = 0;
  TOwned<TQuorvelManagedControls> FAllowedControls;
  TOwned<TQuorvelManagedControls> FIgnoredControls;

private:
  // Counts the renderer contexts this controller has had; the registered entry remembers the
  // count it was made for. A context's address says nothing: a new one may reuse a freed one's.
  uint64_t FContextGeneration = 0;
  uint64_t FEntryGeneration = 0;
};

}  // namespace quorvel
