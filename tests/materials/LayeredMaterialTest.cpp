// The layered material's own pass (zero colour and alpha, position and depth), its shader
// names, and its layer collection. The layer passes themselves are drawn by the context
// (tests/context/DrawTest.cpp).
#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <array>
#include <string>
#include <vector>

#include "framework/rtl/Finally.h"
#include "lib/context/ContextShader.h"
#include "lib/materials/MaterialLayered.h"
#include "tests/context/ContextTestFixture.h"

namespace quorvel {
namespace {

class LayeredMaterial : public quorvel::testkit::TSharedGLTest {
protected:
  void SetUp() override {
    TSharedGLTest::SetUp();
    if (HasFatalFailure()) return;
    Layered.reset(New<TQuorvelLayeredMaterialSource>(nullptr));
  }
  void TearDown() override {
    Layered.reset();
    glUseProgram(0);
    TSharedGLTest::TearDown();
  }
  TQuorvelLayeredMaterial* Material() const { return static_cast<TQuorvelLayeredMaterial*>(Layered->GetMaterial()); }

  TOwned<TQuorvelLayeredMaterialSource> Layered;
};

TEST_F(LayeredMaterial, EachMaterialRegistersItsOwnPairOfNamesAndTakesThemAlong) {
  TOwned<TQuorvelLayeredMaterialSource> other(New<TQuorvelLayeredMaterialSource>(nullptr));
  TQuorvelLayeredMaterial* a = Material();
  auto* b = static_cast<TQuorvelLayeredMaterial*>(other->GetMaterial());
  const std::string address = std::to_string(reinterpret_cast<uintptr_t>(a));
  ASSERT_NE(a->GetVertexShader(), nullptr);
  EXPECT_EQ(a->GetVertexShader()->GetName(), "Layered-" + address + ".fvs");
  EXPECT_EQ(a->GetPixelShader()->GetName(), "Layered-" + address + ".fps");
  EXPECT_NE(a->GetVertexShader()->GetName(), b->GetVertexShader()->GetName());
  EXPECT_EQ(a->GetMaterialProperty(TMaterial::TProperty::ModelViewProjection), "MVPMatrix");
  EXPECT_EQ(a->GetSource(), Layered.get());
  const std::string vsName = b->GetVertexShader()->GetName(), psName = b->GetPixelShader()->GetName();
  other.reset();
  EXPECT_EQ(TShaderManager::FindShader(vsName), nullptr);
  EXPECT_EQ(TShaderManager::FindShader(psName), nullptr);
  EXPECT_EQ(TQuorvelLayeredMaterial::VertexShaderText().substr(0, 18), "#version 430\r\n\r\n\r\n");
}

// The base pass on a frame buffer with the renderer's first outputs: zero albedo and alpha,
// the clip position and the window depth; nothing else is written.
TEST_F(LayeredMaterial, TheBasePassWritesZeroColourAndAlphaThePositionAndTheDepth) {
  const GLenum formats[3] = {GL_RGBA32F, GL_R32F, GL_RGBA32F};
  GLuint fbo = 0, textures[3] = {};
  glGenFramebuffers(1, &fbo);
  glGenTextures(3, textures);
  auto cleanup = Finally([&] {
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDeleteTextures(3, textures);
    glDeleteFramebuffers(1, &fbo);
  });
  glBindFramebuffer(GL_FRAMEBUFFER, fbo);
  for (int i = 0; i < 3; ++i) {
    glBindTexture(GL_TEXTURE_2D, textures[i]);
    glTexImage2D(GL_TEXTURE_2D, 0, formats[i], 16, 16, 0, formats[i] == GL_R32F ? GL_RED : GL_RGBA, GL_FLOAT, nullptr);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0 + i, GL_TEXTURE_2D, textures[i], 0);
  }
  glBindTexture(GL_TEXTURE_2D, 0);
  ASSERT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
  const GLenum buffers[3] = {GL_COLOR_ATTACHMENT0, GL_COLOR_ATTACHMENT1, GL_COLOR_ATTACHMENT2};
  glDrawBuffers(3, buffers);
  const float grey[4] = {0.5f, 0.5f, 0.5f, 0.5f};
  for (int i = 0; i < 3; ++i) glClearBufferfv(GL_COLOR, i, grey);

  Context->SetProjectionMatrix(TMatrix3D::Identity());
  Context->SetContextState(TContextState::csAlphaBlendOff);
  Context->SetContextState(TContextState::csZTestOff);
  // A quad over the left half, at clip depth 0.5.
  const float quad[4][3] = {{-1, -1, 0.5f}, {0, -1, 0.5f}, {0, 1, 0.5f}, {-1, 1, 0.5f}};
  const uint16_t indices[6] = {0, 1, 2, 0, 2, 3};
  Context->DrawPrimitives(TPrimitivesKind::Triangles, quad, indices, TVertexDeclaration{{TVertexFormat::Vertex, 0}},
                          sizeof(quad[0]), 4, 2, 6, Material(), 1);
  EXPECT_EQ(Context->GetCurrentLayeredMaterial(), nullptr) << "cleared at the end of the draw";

  auto read = [&](int AAttachment, int x, int y) {
    std::array<float, 4> px{};
    glReadBuffer(GL_COLOR_ATTACHMENT0 + AAttachment);
    glReadPixels(x, y, 1, 1, AAttachment == 1 ? GL_RED : GL_RGBA, GL_FLOAT, px.data());
    return px;
  };
  const int x = 3, y = 12;  // pixel centre in clip space: (x + 0.5) / 8 - 1
  EXPECT_EQ(read(0, x, y), (std::array<float, 4>{0, 0, 0, 0}));
  EXPECT_EQ(read(1, x, y)[0], 0.0f);
  const std::array<float, 4> position = read(2, x, y);
  EXPECT_NEAR(position[0], (x + 0.5) / 8 - 1, 1e-5);
  EXPECT_NEAR(position[1], (y + 0.5) / 8 - 1, 1e-5);
  EXPECT_NEAR(position[2], 0.5, 1e-6);
  EXPECT_NEAR(position[3], 0.75, 1e-6) << "window depth of clip z 0.5";
  // Outside the quad every output keeps its clear value.
  EXPECT_EQ(read(0, 12, 12), (std::array<float, 4>{0.5f, 0.5f, 0.5f, 0.5f}));
  EXPECT_EQ(read(2, 12, 12), (std::array<float, 4>{0.5f, 0.5f, 0.5f, 0.5f}));
}

TEST_F(LayeredMaterial, LayersAreNamedForgottenWhenFreedAndCopiedByReference) {
  TOwned<TColorMaterialSource> lime(New<TColorMaterialSource>(nullptr));
  TOwned<TColorMaterialSource> blue(New<TColorMaterialSource>(nullptr));
  EXPECT_EQ(Material()->GetMaterialsCount(), 0);
  EXPECT_EQ(Material()->GetMaterialItem(nullptr, 0), nullptr);
  TQuorvelLayeredMaterialItem* first = Layered->AddLayer("Glow", lime.get());
  Layered->AddLayer("", blue.get());
  ASSERT_EQ(Material()->GetMaterialsCount(), 2);
  EXPECT_EQ(first->GetDisplayName(), "Glow");
  EXPECT_EQ(Material()->GetMaterialItem(nullptr, 1)->GetMaterial(), blue.get());
  EXPECT_EQ(Material()->GetMaterialItem(nullptr, 2), nullptr) << "an index equal to the count";
  EXPECT_EQ(Material()->GetMaterialItem(nullptr, -1), nullptr);

  // A copy of the collection refers to the same sources, and hears of their removal too.
  TOwned<TQuorvelLayeredMaterialSource> copy(New<TQuorvelLayeredMaterialSource>(nullptr));
  copy->SetMaterials(Layered->GetMaterials());
  ASSERT_EQ(copy->GetMaterials()->GetCount(), 2);
  EXPECT_EQ(copy->GetMaterials()->Items(0)->GetDisplayName(), "Glow");
  EXPECT_EQ(copy->GetMaterials()->Items(0)->GetMaterial(), lime.get());

  lime.reset();
  EXPECT_EQ(first->GetMaterial(), nullptr);
  EXPECT_EQ(Material()->GetMaterialsCount(), 2) << "the item stays";
  EXPECT_EQ(copy->GetMaterials()->Items(0)->GetMaterial(), nullptr);
  EXPECT_EQ(copy->GetMaterials()->Items(1)->GetMaterial(), blue.get());
}

}  // namespace
}  // namespace quorvel
