#pragma once
// Passes for the tests: a controller that counts its runs and draws nothing of its own, a
// RectToFBO pass whose material fills the rectangle with one colour, and a fixture for forms
// read from text.
#include <epoxy/gl.h>

#include <memory>
#include <string>
#include <vector>

#include "framework/gui3d/Shader.h"
#include "lib/context/ContextShader.h"
#include "lib/materials/MaterialDefault.h"
#include "lib/passes/Controller.h"
#include "lib/passes/Renderer.h"
#include "lib/scene/Camera.h"
#include "lib/scene/Cube.h"
#include "tests/scene/SceneTestSupport.h"

namespace quorvel::testkit {

// The red channel of a 2D texture as floats, row by row.
inline std::vector<float> ReadRed(TTexture* ATexture) {
  std::vector<float> out(size_t(ATexture->GetWidth()) * ATexture->GetHeight());
  glBindTexture(GL_TEXTURE_2D, GLuint(ATexture->GetHandle()));
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RED, GL_FLOAT, out.data());
  glBindTexture(GL_TEXTURE_2D, 0);
  return out;
}

// A flat colour over the pass's rectangle (the rectangle's corners are in pixels of the
// renderer's context, mapped to clip space here).
class TSolidPassMaterial : public TQuorvelRenderPassMaterial {
public:
  using TQuorvelRenderPassMaterial::TQuorvelRenderPassMaterial;
  TAlphaColorF Color{1, 0, 0, 1};

protected:
  void DoInitialize() override {
    FVertexShader = TShaderManager::RegisterShaderFromData(
        "Tests.SolidPass.fvs", TContextShaderKind::VertexShader, "",
        {TContextShaderSource(TContextShaderArch::GLSL,
                              TContextShaderSource::CodeFromText(
                                  "#version 430\nin vec3 a_Position;\nin vec2 a_TexCoord0;\n"
                                  "void main() { gl_Position = vec4(a_TexCoord0 * 2.0 - 1.0, 0.0, 1.0); }\n"))});
    FPixelShader = TShaderManager::RegisterShaderFromData(
        "Tests.SolidPass.fps", TContextShaderKind::PixelShader, "",
        {TContextShaderSource(TContextShaderArch::GLSL,
                              TContextShaderSource::CodeFromText("#version 430\nuniform vec4 _Color;\n"
                                                                 "out vec4 o_Color;\n"
                                                                 "void main() { o_Color = _Color; }\n"),
                              {TContextShaderVariable("Color", TContextShaderVariableKind::Vector, 0, 1)})});
  }
  void DoApply(TContext3D* AContext) override {
    TQuorvelRenderPassMaterial::DoApply(AContext);
    const TVector3D color(Color.R, Color.G, Color.B, Color.A);
    AContext->SetShaderVariable("Color", std::span<const TVector3D>(&color, 1));
  }
};

class TSolidPassSource : public TQuorvelRenderPassMaterialSource {
public:
  using TQuorvelRenderPassMaterialSource::TQuorvelRenderPassMaterialSource;
  TSolidPassMaterial* Solid() const { return static_cast<TSolidPassMaterial*>(GetMaterial()); }

protected:
  TMaterial* CreateMaterial() override {
    FHasMaterial = true;
    return New<TSolidPassMaterial>(this);
  }
  void DoPassesChanged(TObject*) override {}
};

// The viewport's main pass on the forward renderer, applied; null if it is not one.
inline TForwardRenderer* UseForwardRenderer(TQuorvelViewport* AViewport) {
  AViewport->SetRendererType(TRendererType::ForwardRenderer);
  auto* renderer = dynamic_cast<TForwardRenderer*>(AViewport->GetMainPassRenderer());
  if (renderer) renderer->Apply();
  return renderer;
}

// A camera of the test's own at APosition, looking along +Z, made the viewport's current one.
inline TQuorvelCamera* UseOwnCamera(TComponent* AOwner, TQuorvelViewport* AViewport, const TPoint3D& APosition) {
  auto* cam = New<TQuorvelCamera>(AOwner);
  cam->SetParent(AViewport);
  cam->GetPosition()->SetPoint(APosition);
  AViewport->SetCamera(cam);
  AViewport->SetUsingDesignCamera(false);
  return cam;
}

// A cube mesh with the engine's unlit default material (which, unlike the context's colour
// helper, honours the clipping plane).
inline TQuorvelCube* AddMaterialCube(TComponent* AOwner, TQuorvelViewport* AViewport, TAlphaColor AColor,
                                     const TPoint3D& APosition, float ASize = 1) {
  auto* source = New<TQuorvelDefaultMaterialSource>(AOwner);
  source->SetDiffuseF(TAlphaColorF(AColor));
  auto* cube = New<TQuorvelCube>(AOwner);
  cube->SetWidth(ASize);
  cube->SetHeight(ASize);
  cube->SetDepth(ASize);
  cube->SetMaterialSource(source);
  cube->GetPosition()->SetPoint(APosition);
  cube->SetParent(AViewport);
  return cube;
}

// A form read from text as a program reads it, on the shared GL context and a manual clock.
template <class Base = ::testing::Test>
class TFormTextTest : public Base {
protected:
  void SetUp() override {
    TCustomContextWindows::SetWindowHandle(nullptr);
    TCustomContextWindows::CreateSharedContext();
    Scoped = std::make_unique<TScopedClock>(Time);
    Form.reset(New<TForm>(nullptr));
  }
  void TearDown() override {
    Form.reset();
    Scoped.reset();
  }

  TManualClock Time;
  std::unique_ptr<TScopedClock> Scoped;
  TOwned<TForm> Form;
};

// Counts its iterations; its source is its own.
class TCountingPass : public TQuorvelRenderPassController {
public:
  explicit TCountingPass(TComponent* AOwner, const std::string& AId = "") : TQuorvelRenderPassController(AOwner, AId) {}
  std::vector<int32_t> Begins, Ends;
  std::function<void(int32_t)> OnIteration;
  bool Internal = false;
  bool IsInternalRenderPass() const override { return Internal; }
  void BeforeDestruction() override {
    TQuorvelRenderPassController::BeforeDestruction();
    TQuorvelRenderPassMaterialSource* shader = GetShader();
    SetShader(nullptr);
    Free(shader);
  }
  TSolidPassSource* Source() const { return static_cast<TSolidPassSource*>(GetShader()); }
  const TVertexBuffer* RectVertices() const { return FRectVBuffer.get(); }

protected:
  void DoOnRenderPass(int32_t ACount, TRenderPass* APass) override {
    TQuorvelRenderPassController::DoOnRenderPass(ACount, APass);
    Begins.push_back(ACount);
    if (OnIteration) OnIteration(ACount);
  }
  void DoOnEndRenderPass(int32_t ACount, TRenderPass* APass) override {
    Ends.push_back(ACount);
    TQuorvelRenderPassController::DoOnEndRenderPass(ACount, APass);
  }
  TQuorvelRenderPassMaterialSource* CreateMaterialSource() override { return New<TSolidPassSource>(this); }
  void InitializeRenderPass() override {
    TQuorvelRenderPassController::InitializeRenderPass();
    // A plain target: the composite texture, without targets or embedded passes.
    FRendererFlags = TRendererFlags{TRendererFlag::IgnoreRenderTargets, TRendererFlag::IgnoreCompositeCtrl,
                                    TRendererFlag::IgnoreEmissiveBlur, TRendererFlag::IgnoreGlobalIllum};
    // The render list itself, not the viewport's phases and composite step.
    FRenderProc = TRenderPassRenderingProc::ListRendering;
    SetShader(CreateMaterialSource());
  }
};

}  // namespace quorvel::testkit
