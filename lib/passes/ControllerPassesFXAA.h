#pragma once
// Fast approximate anti-aliasing of the composed frame: one screen rectangle into the pass's own
// renderer, which then becomes the picture the viewport shows. Run by a composite renderer.
#include <cstdint>
#include <string>

#include "lib/passes/Controller.h"
#include "lib/passes/PassScratch.h"

namespace quorvel {

class TFXAAMaterial : public TQuorvelRenderPassMaterial {
  FW_CLASS(TFXAAMaterial, TQuorvelRenderPassMaterial)

public:
  using TQuorvelRenderPassMaterial::TQuorvelRenderPassMaterial;
  static const char* const VertexShaderText;
  static const char* const PixelShaderText;

  TTexture* GetInputTexture() const { return FInputTexture; }
  void SetInputTexture(TTexture* Value);
  // The stored input; else the input pass's output, or the context's target without input
  // pass (either is then stored).
  virtual TTexture* GetInputTexture(TContext3D* AContext);

protected:
  void DoInitialize() override;
  void DoApply(TContext3D* AContext) override;

private:
  TTexture* FInputTexture = nullptr;  // not owned
};

class TFXAAMaterialSource : public TQuorvelRenderPassMaterialSource {
  FW_CLASS(TFXAAMaterialSource, TQuorvelRenderPassMaterialSource)

public:
  explicit TFXAAMaterialSource(TQuorvelRenderPassController* AOwnerPass);
  ~TFXAAMaterialSource() override;
  TFXAAMaterial* FXAA() const { return static_cast<TFXAAMaterial*>(GetMaterial()); }

protected:
  TMaterial* CreateMaterial() override;
  void DoPassesChanged(TObject* ASender) override;

private:
  int32_t FContextResetOvrId = 0;
};

class TQuorvelRenderPassFXAA : public TQuorvelRenderPassController {
  FW_CLASS(TQuorvelRenderPassFXAA, TQuorvelRenderPassController)

public:
  explicit TQuorvelRenderPassFXAA(TComponent* AOwner, const std::string& AId = "");
  void BeforeDestruction() override;
  bool IsInternalRenderPass() const override { return true; }

  void SetCompositeInputTexture(TTexture* ATexture);
  // The renderer's composite texture (the smoothed frame), or GetOutputTexture without one.
  virtual TTexture* GetFinalOutputTexture();
  TFXAAMaterial* Material() const;

protected:
  void InitializeRenderPass() override;
  void CreateRenderer() override;
  TQuorvelRenderPassMaterialSource* CreateMaterialSource() override;
  void DoOnRenderPass(int32_t ACount, TRenderPass* APass) override;
  void DoOnEndRenderPass(int32_t ACount, TRenderPass* APass) override;

private:
  // Intermediate iterations draw here, so that no iteration samples the texture it draws into.
  TTexture* ScratchTexture();

  TTexture* FBaseTexture = nullptr;  // not owned
  TPassScratch FScratch;
  int32_t FIteration = 0;
};

}  // namespace quorvel
