#pragma once
// What the render context knows of the renderer's passes: the registry of a context's
// passes, the pass with the fields the context reads, the per-frame render context and the
// fog settings the context stores. The renderer builds the passes' work on these.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "framework/gui3d/Context3D.h"
#include "framework/gui3d/Material.h"
#include "framework/math/AlphaColor.h"
#include "framework/rtl/Object.h"

namespace quorvel {

class TRenderPass;
struct TRenderContext;
using PRenderContext = TRenderContext*;

enum class TRenderPassType : uint8_t { Pre, Intermediate, Post };
enum class TRenderPassMethod : uint8_t { RenderListToFBO, RectToFBO };
enum class TRenderPassRenderingProc : uint8_t { DefaultRendering, ListRendering };

using TOnRenderingPass = std::function<void(TContext3D* AContext, int32_t ACount, TRenderPass* APass)>;
using TOnRenderPassApplyMaterial = std::function<void(TMaterial* AOriginal, TMaterial* ANew)>;
using TRenderListProc = std::function<void(PRenderContext ARenderContext)>;

struct TRenderContext {
  TObject* Viewport = nullptr;
  TRenderListProc DefaultRenderingProc;
  TRenderListProc ListRenderingProc;
};

struct TQuorvelFogSettings {
  bool Enabled = false;
  uint8_t Mode = 0;  // bits 2 linear, 4 exponential, 8 squared exponential
  float Density = 0;
  float FogStart = 0;
  float FogEnd = 0;
  TAlphaColorF Color;
};

class TTexture;
class TMaterialSource;

// What a pass's controller answers the context: how the pass renders, how often, with which
// material and which primitive kinds it takes. The renderer's controllers derive from it.
class TQuorvelRenderPassController : public TObject {
  FW_CLASS(TQuorvelRenderPassController, TObject)
public:
  TRenderPassRenderingProc FRenderProc = TRenderPassRenderingProc::DefaultRendering;
  TRenderPassMethod FMethod = TRenderPassMethod::RenderListToFBO;
  int32_t FIterations = 0;
  TMaterialSource* FShader = nullptr;  // not owned

  uint64_t FFrameCount = 0;         // frames in which the pass was begun
  bool FDoSkipRendering = false;    // skip the next run once

  virtual bool IsPrimitivesKindSupported(TPrimitivesKind) const { return true; }
  // The texture the pass renders into; none here.
  virtual TTexture* GetOutputTexture() { return nullptr; }
  // Draws ARect textured through the pass's material into the context's current target.
  virtual void RenderToContext(TContext3D*, TTexture*, const TRect&, const TPoint&) {}
  // Make the pass's own target current around its iterations; nothing here.
  virtual void BeginRenderPassRendering(TContext3D* /*AContext*/, TAlphaColor /*AFill*/, float /*ADepth*/,
                                        uint32_t /*AStencil*/) {}
  virtual void EndRenderPassRendering(TContext3D* /*AContext*/) {}
  // The next run of the pass is skipped (its frame still counts).
  virtual void SkipRendering() { FDoSkipRendering = true; }

  bool GetRenderingSkipped() const { return FDoSkipRendering; }
  void ResetSkippedRendering() { FDoSkipRendering = false; }
  void IncFrameCount() { ++FFrameCount; }
  // The size the pass renders at: AWidth x AHeight when both are positive, else the context's.
  TPoint ComputeRenderingSize(TContext3D* AContext, int32_t AWidth, int32_t AHeight) const;
};

// One pass of a context. The renderer's passes derive from it and fill in the frame work;
// this base has no controller, so it never renders.
class TRenderPass : public TObject {
  FW_CLASS(TRenderPass, TObject)
public:
  TRenderPass(TContext3D* AContext, const std::string& AId, TRenderPassType AType);

  TContext3D* GetContext() const { return FContext; }
  const std::string& GetId() const { return FId; }
  TRenderPassType GetPassType() const { return FPassType; }
  bool GetEnabled() const { return FEnabled; }
  void SetEnabled(bool AValue) { FEnabled = AValue; }

  // Without a context raises "Cannot begin with rendering scene: %s" (class name). False for a
  // context that is not an engine context, a disabled pass or a run the controller skips;
  // otherwise the controller's target is bound, the viewport set to its rendering size and
  // the pass made the context's current pass.
  virtual bool BeginScene();
  // Undoes a begun scene: the controller's target, the viewport, the current pass. Pending GL
  // errors raise "Failed to end rendering scene: %s" after that.
  virtual void EndScene();
  // The controller's answer; True without a controller.
  virtual bool IsPrimitivesKindSupported(TPrimitivesKind AKind) const;
  // The controller's iterations; 0 without a controller.
  virtual int32_t GetIterations() const;
  // The controller's material source; null without a controller.
  virtual TObject* GetControllerShader() const;

  TObject* FController = nullptr;  // not owned
  TOnRenderingPass FOnBeginRendering;
  TOnRenderingPass FOnEndRendering;
  TOnRenderPassApplyMaterial FOnApplyMaterial;

protected:
  TContext3D* FContext;
  std::string FId;
  TRenderPassType FPassType;
  bool FEnabled = true;
  std::array<int32_t, 4> FOldViewport{};  // x, y, width, height saved by BeginScene
  bool FInScene = false;
};

// The passes of one context by id, in insertion order. Owns the passes that have an id: a
// removed (or replaced) pass with a non-empty id is freed, one without an id is not.
class TRenderPasses : public TObject {
  FW_CLASS(TRenderPasses, TObject)
public:
  explicit TRenderPasses(TContext3D* AContext);
  ~TRenderPasses() override;

  TContext3D* GetContext() const { return FContext; }
  // Takes ownership; a pass with the same id is replaced (and freed).
  void Add(TRenderPass* APass);
  // Frees the pass with that id; False when there is none.
  bool Remove(const std::string& AId);
  TRenderPass* Find(const std::string& AId) const;
  int32_t Count() const { return int32_t(FPasses.size()); }
  void Clear();

  // Told of every pass just before the registry frees it, so that holders can drop it.
  std::function<void(TRenderPass*)> OnPassFreed;

  std::vector<TRenderPass*> GetPreProcessingPasses() const { return PassesOfType(TRenderPassType::Pre); }
  std::vector<TRenderPass*> GetPostProcessingPasses() const { return PassesOfType(TRenderPassType::Post); }

private:
  std::vector<TRenderPass*> PassesOfType(TRenderPassType AType) const;
  void FreePass(TRenderPass* APass);

  TContext3D* FContext;
  std::vector<TRenderPass*> FPasses;  // owned
};

}  // namespace quorvel
