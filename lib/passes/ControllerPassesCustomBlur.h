#pragma once
// Blurs a texture into the pass's own output: a radial blur with tone mapping in one
// iteration, or a fixed 19-tap or a 35-tap Gaussian kernel applied horizontally and then
// vertically in alternating iterations ("ping-pong"). The base of the emissive,
// global-illumination and variance-shadow-map blurs.
#include <cstdint>
#include <string>

#include "framework/math/Point3D.h"
#include "lib/passes/Controller.h"
#include "lib/passes/PassScratch.h"

namespace quorvel {

// Ordinals are streamed: keep them.
enum class TPassBlurType : uint8_t { RadialBlur = 0, FastBlur = 1, GaussianBlur = 2 };
FW_ENUM(TPassBlurType, RadialBlur, FastBlur, GaussianBlur)
enum class TPassBlurMode : uint8_t { Horizontal = 0, Vertical = 1 };
FW_ENUM(TPassBlurMode, Horizontal, Vertical)

class TQuorvelRenderPassBlur;

class TBlurMaterial : public TQuorvelRenderPassMaterial {
  FW_CLASS(TBlurMaterial, TQuorvelRenderPassMaterial)

public:
  explicit TBlurMaterial(TQuorvelRenderPassMaterialSource* ASource);

  // The weights of the fixed kernel, for the taps at -9 .. +9 texel steps.
  static const float FastBlurWeights[19];

  TPassBlurType GetBlurType() const { return FBlurType; }
  virtual void SetBlurType(TPassBlurType Value) { FBlurType = Value; }
  TPassBlurMode GetBlurMode() const { return FBlurMode; }
  void SetBlurMode(TPassBlurMode Value) { FBlurMode = Value; }
  float GetBlurAmount() const { return FBlurAmount; }
  // Clamped to 0 .. 15.
  virtual void SetBlurAmount(float Value);
  float GetExposure() const { return FExposure; }
  void SetExposure(float Value) { FExposure = Value; }
  TTexture* GetInputTexture() const { return FInputTexture; }
  void SetInputTexture(TTexture* Value);
  // What the next rectangle blurs: the input pass's output, or without one the texture the
  // context draws into (either is stored). While a separable blur's ping-pong pair runs, its
  // second step blurs the first step's result that the pass handed over instead.
  virtual TTexture* GetInputTexture(TContext3D* AContext);
  // The pixel shader the next rectangle is drawn with (after initialisation).
  TContextShader* ChoosePixelShader() const;
  TContextShader* GetFastBlurH() const { return FFastBlurH; }
  TContextShader* GetFastBlurV() const { return FFastBlurV; }
  TContextShader* GetGaussBlurH() const { return FGaussBlurH; }
  TContextShader* GetGaussBlurV() const { return FGaussBlurV; }

protected:
  void DoInitialize() override;
  void DoApply(TContext3D* AContext) override;
  TQuorvelRenderPassBlur* OwnerBlur() const;
  // The zero-based iteration of the owning pass and whether the pass alternates directions.
  bool InSecondStep() const;

  TPassBlurType FBlurType = TPassBlurType::RadialBlur;
  TPassBlurMode FBlurMode = TPassBlurMode::Horizontal;
  TContextShader* FFastBlurH = nullptr;  // owned by the shader manager
  TContextShader* FFastBlurV = nullptr;
  TContextShader* FGaussBlurH = nullptr;
  TContextShader* FGaussBlurV = nullptr;
  float FBlurAmount = 3.0f;
  TTexture* FInputTexture = nullptr;  // not owned
  float FExposure = 1.0f;
};

class TBlurMaterialSource : public TQuorvelRenderPassMaterialSource {
  FW_CLASS(TBlurMaterialSource, TQuorvelRenderPassMaterialSource)

public:
  explicit TBlurMaterialSource(TQuorvelRenderPassController* AOwnerPass);
  void BeforeDestruction() override;

  TBlurMaterial* Blur() const { return static_cast<TBlurMaterial*>(GetMaterial()); }
  TPassBlurType GetBlurType() const { return Blur()->GetBlurType(); }
  void SetBlurType(TPassBlurType Value) { Blur()->SetBlurType(Value); }
  int32_t GetIteration() const { return FIteration; }
  void SetIteration(int32_t Value) { FIteration = Value; }
  float GetExposure() const { return Blur()->GetExposure(); }
  void SetExposure(float Value) { Blur()->SetExposure(Value); }

protected:
  TMaterial* CreateMaterial() override;
  void DoPassesChanged(TObject* ASender) override;

  int32_t FContextResetOvrId = 0;
  int32_t FIteration = 0;
};

class TQuorvelRenderPassBlur : public TQuorvelRenderPassController {
  FW_CLASS(TQuorvelRenderPassBlur, TQuorvelRenderPassController)

public:
  explicit TQuorvelRenderPassBlur(TComponent* AOwner, const std::string& AId = "");
  void BeforeDestruction() override;

  TBlurMaterialSource* BlurSource() const { return static_cast<TBlurMaterialSource*>(GetShader()); }
  TBlurMaterial* Material() const;
  TPassBlurType GetBlurType() const;
  // FastBlur and GaussianBlur run two iterations, RadialBlur one.
  void SetBlurType(TPassBlurType Value);
  TPassBlurMode GetBlurMode() const;
  void SetBlurMode(TPassBlurMode Value);
  float GetBlurAmount() const;
  void SetBlurAmount(float Value);
  float GetExposure() const;
  void SetExposure(float Value);
  bool GetPingPongMode() const { return FPingPongMode; }
  void SetPingPongMode(bool Value) { FPingPongMode = Value; }
  // A radial blur keeps one iteration.
  void SetIterations(int32_t Value) override;
  // In ping-pong mode with a renderer, the renderer's composite texture; else GetOutputTexture.
  virtual TTexture* GetFinalOutputTexture();
  // Where the first step of a ping-pong pair draws (null before the first run).
  TTexture* GetScratchTexture() const { return FScratch.Get(); }

protected:
  void InitializeRenderPass() override;
  void CreateRenderer() override;
  TQuorvelRenderPassMaterialSource* CreateMaterialSource() override;
  void DoOnRenderPass(int32_t ACount, TRenderPass* APass) override;
  void DoOnEndRenderPass(int32_t ACount, TRenderPass* APass) override;

  bool FPingPongMode = true;
  TTexture* FBaseTexture = nullptr;  // not owned
  TPassScratch FScratch;
};

}  // namespace quorvel
