// The global illumination pass: its settings, its voxel source and its uniform block against
// GL's layout, drawn once on llvmpipe over small position and normal textures.
#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <cmath>
#include <vector>

#include "lib/context/ContextShader.h"
#include "lib/context/ContextTexturing.h"
#include "lib/passes/ControllerPassesGlobalIllumBlur.h"
#include "lib/passes/ControllerPassesGlobalIllumination.h"
#include "lib/passes/ControllerPassesVoxelize.h"
#include "lib/passes/Renderer.h"
#include "lib/scene/Light.h"
#include "tests/passes/PassTestSupport.h"

namespace quorvel {
namespace {

using testkit::TViewportTest;

class GlobalIllumTest : public TViewportTest {
protected:
  void SetUp() override {
    TViewportTest::SetUp();
    Context = dynamic_cast<TQuorvelContext*>(Viewport->GetContext());
    ASSERT_NE(Context, nullptr);
    Pass = New<TQuorvelRenderPassGlobalIllum>(Viewport, "gi");
    ASSERT_NE(Pass->GetRenderer(), nullptr);
    for (auto* t : {&Position, &Normals}) {
      t->reset(TQuorvelTexture::Create());
      (*t)->SetSize(W, H);
      (*t)->Initialize();
    }
  }
  void TearDown() override {
    Instance.reset();
    Position.reset();
    Normals.reset();
    TViewportTest::TearDown();
  }
  void Run() {
    if (!Instance) Instance.reset(Pass->CreateRenderPassInstance(Context));
    TRenderContext frame;
    frame.Viewport = Viewport;
    Context->ExecuteRenderPass(Instance.get(), &frame);
  }
  TQuorvelContext* Context = nullptr;
  TQuorvelRenderPassGlobalIllum* Pass = nullptr;  // owned by the viewport
  TOwned<TQuorvelTexture> Position, Normals;
  TOwned<TRenderPass> Instance;
};

TEST_F(GlobalIllumTest, SettingsAndTheVoxelSource) {
  EXPECT_FLOAT_EQ(Pass->GetShadowStrength(), 0.4f);
  EXPECT_FLOAT_EQ(Pass->GetReflectionStrength(), 0);
  EXPECT_EQ(Pass->GetType(), TRenderPassType::Post);
  EXPECT_EQ(Pass->GetMethod(), TRenderPassMethod::RectToFBO);
  EXPECT_TRUE(Pass->IsInternalRenderPass());
  Pass->SetShadowStrength(25);  // unclamped on the pass itself
  EXPECT_FLOAT_EQ(Pass->GetShadowStrength(), 25);
  auto* other = New<TQuorvelRenderPassGlobalIllum>(Viewport, "other");
  Pass->SetVoxelGeometry(other);
  EXPECT_EQ(Pass->GetVoxelGeometry(), nullptr);
  auto* voxels = New<TQuorvelRenderPassVoxelize>(Viewport, "voxels");
  voxels->SetVoxelSize(32);
  Pass->SetVoxelGeometry(voxels);
  EXPECT_EQ(Pass->GetVoxelGeometry(), voxels);
  Free(voxels);
  EXPECT_EQ(Pass->GetVoxelGeometry(), nullptr);
}

TEST_F(GlobalIllumTest, TheBlockHasGLsLayoutAndWithoutVoxelsTheOutputIsUnshadowed) {
  Pass->SetPosition(Position.get());
  Pass->SetNormals(Normals.get());
  Run();
  ASSERT_EQ(glGetError(), GLenum(GL_NO_ERROR));
  TGlobalIllumMaterial* material = Pass->Material();
  ASSERT_NE(material, nullptr);
  EXPECT_EQ(material->ShaderData().GlobalIllum, 0);
  TShaderProgram* program =
      TShaderProgramCache::Find(material->GetVertexShader()->GetHandle(), material->GetPixelShader()->GetHandle());
  ASSERT_NE(program, nullptr);
  const GLuint prog = GLuint(program->GetProg());
  const GLuint block = glGetUniformBlockIndex(prog, "GlobalIllumShaderData");
  ASSERT_NE(block, GL_INVALID_INDEX);
  GLint size = 0;
  glGetActiveUniformBlockiv(prog, block, GL_UNIFORM_BLOCK_DATA_SIZE, &size);
  EXPECT_EQ(size, GLint(sizeof(TGlobalIllumShaderData)));
  const char* names[] = {"_ProjMatrix", "_VoxelCenter", "_VoxelSize", "_Reflection", "_NumberOfLights",
                         "_Lights[0]._LightType"};
  const GLint expected[] = {64, 144, 160, 168, 172, 176};
  GLuint indices[6];
  glGetUniformIndices(prog, 6, names, indices);
  GLint offsets[6];
  glGetActiveUniformsiv(prog, 6, indices, GL_UNIFORM_OFFSET, offsets);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(offsets[i], expected[i]) << names[i];
  // No lights and no reflection: nothing added and nothing shadowed.
  TOwned<TBitmap> bitmap(New<TBitmap>(W, H));
  Pass->GetRenderer()->GetSharedContext()->CopyToBitmap(bitmap.get(), TRect(0, 0, W, H));
  EXPECT_EQ(uint32_t(testkit::PixelOf(bitmap.get(), W / 2, H / 2)) & 0xFFFFFFu, 0u);
}

// Occupied voxels between a point and its light shadow it; empty ones do not.
TEST_F(GlobalIllumTest, OccupiedVoxelsTowardsTheLightGiveAlphaEmptyOnesNone) {
  auto* light = New<TQuorvelLight>(Form.get());
  light->SetParent(Viewport);
  light->SetLightType(TLightType::Point);
  light->GetPosition()->SetPoint({0, -5, 0});
  auto* voxels = New<TQuorvelRenderPassVoxelize>(Viewport, "voxels");
  voxels->SetVoxelSize(32);
  Pass->SetVoxelGeometry(voxels);
  Pass->SetPosition(Position.get());  // every pixel at the origin
  Pass->SetNormals(Normals.get());
  std::vector<uint32_t> zeros(size_t(W) * H, 0);
  Position->UpdateTexture(zeros.data(), W * 4);
  Normals->UpdateTexture(zeros.data(), W * 4);
  TTexture* volume = voxels->GetTexture3D();
  ASSERT_NE(volume, nullptr);
  if (volume->GetHandle() == 0) volume->Initialize();
  uint32_t colour = 0;
  const auto alphaAfter = [&](uint8_t AFill) {
    std::vector<uint8_t> bytes(size_t(32) * 32 * 256 * 4, AFill);
    glBindTexture(GL_TEXTURE_3D, GLuint(volume->GetHandle()));
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexSubImage3D(GL_TEXTURE_3D, 0, 0, 0, 0, 32, 32, 256, GL_RGBA, GL_UNSIGNED_BYTE, bytes.data());
    glBindTexture(GL_TEXTURE_3D, 0);
    Run();
    TOwned<TBitmap> bitmap(New<TBitmap>(W, H));
    Pass->GetRenderer()->GetSharedContext()->CopyToBitmap(bitmap.get(), TRect(0, 0, W, H));
    colour = uint32_t(testkit::PixelOf(bitmap.get(), W / 2, H / 2));
    return int((colour >> 24) & 0xFF);
  };
  ASSERT_NE(Pass->Material(), nullptr);
  const int open = alphaAfter(0);
  const int blocked = alphaAfter(255);
  EXPECT_LE(open, 1);
  EXPECT_GT(blocked, 10);
  EXPECT_NE(colour & 0xFFFFFFu, 0u);  // the default scattering adds colour
  // Without scattering the light adds no colour, and still its shadow.
  light->SetScatteringIntensity(0);
  EXPECT_EQ(alphaAfter(255), blocked);
  EXPECT_EQ(colour & 0xFFFFFFu, 0u) << std::hex << colour;
}

// Voxels glowing 0.1 as an unlit floor leaves them: a quad whose normal points into them
// gathers their glow; the same quad with them behind it gathers nothing. No light: no shadow.
TEST_F(GlobalIllumTest, AQuadFacingAWallGathersItsVoxelsAndFacingOpenSpaceNothing) {
  auto* voxels = New<TQuorvelRenderPassVoxelize>(Viewport, "voxels");
  voxels->SetVoxelSize(32);
  Pass->SetVoxelGeometry(voxels);
  Pass->SetReflectionStrength(1);
  Pass->SetPosition(Position.get());  // every pixel at the voxel centre
  Pass->SetNormals(Normals.get());    // facing +X (red in the BGRA texels)
  std::vector<uint32_t> zeros(size_t(W) * H, 0), right(size_t(W) * H, 0xFFFF0000u);
  Position->UpdateTexture(zeros.data(), W * 4);
  Normals->UpdateTexture(right.data(), W * 4);
  TTexture* volume = voxels->GetTexture3D();
  ASSERT_NE(volume, nullptr);
  if (volume->GetHandle() == 0) volume->Initialize();
  constexpr int32_t V = 32, Slices = V * 8;
  const uint8_t glow = uint8_t(std::lround(0.1 * 255));
  // Fills every cascade on one side of the centre (texel columns from AFrom to ATo - 1).
  const auto gathered = [&](int32_t AFrom, int32_t ATo) {
    std::vector<uint8_t> bytes(size_t(V) * V * Slices * 4, 0);
    for (int32_t z = 0; z < Slices; ++z)
      for (int32_t y = 0; y < V; ++y)
        for (int32_t x = AFrom; x < ATo; ++x) {
          uint8_t* p = &bytes[((size_t(z) * V + y) * V + x) * 4];
          p[0] = p[1] = p[2] = glow;
          p[3] = 255;
        }
    glBindTexture(GL_TEXTURE_3D, GLuint(volume->GetHandle()));
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexSubImage3D(GL_TEXTURE_3D, 0, 0, 0, 0, V, V, Slices, GL_RGBA, GL_UNSIGNED_BYTE, bytes.data());
    glBindTexture(GL_TEXTURE_3D, 0);
    Run();
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    TOwned<TBitmap> bitmap(New<TBitmap>(W, H));
    Pass->GetRenderer()->GetSharedContext()->CopyToBitmap(bitmap.get(), TRect(0, 0, W, H));
    return testkit::PixelOf(bitmap.get(), W / 2, H / 2);
  };
  const TAlphaColor wall = gathered(V / 2, V);
  const TAlphaColor open = gathered(0, V / 2);
  const auto channel = [](TAlphaColor c, int shift) { return int((uint32_t(c) >> shift) & 0xFF); };
  for (int shift : {16, 8, 0}) {
    EXPECT_LE(channel(open, shift), 1) << std::hex << uint32_t(open);
    EXPECT_GT(channel(wall, shift), channel(open, shift) + 2) << std::hex << uint32_t(wall);
    EXPECT_LE(channel(wall, shift), glow + 1) << std::hex << uint32_t(wall);  // never more than the glow
  }
  EXPECT_EQ(channel(wall, 24), 0);
  EXPECT_EQ(channel(open, 24), 0);
}

// Beyond the outer cascade nothing is gathered: a point 200 units behind the centre lies
// outside every cascade, though its coordinate in the outer one (between -1 and 0) would
// address the slices of the cascade before it. Every voxel glows.
TEST_F(GlobalIllumTest, PointsBeyondTheOuterCascadeGatherNothingFromTheSlicesBeforeIt) {
  auto* voxels = New<TQuorvelRenderPassVoxelize>(Viewport, "voxels");
  voxels->SetVoxelSize(32);
  Pass->SetVoxelGeometry(voxels);
  Pass->SetReflectionStrength(1);
  Pass->SetPosition(Position.get());
  Pass->SetNormals(Normals.get());
  std::vector<uint32_t> right(size_t(W) * H, 0xFFFF0000u);  // facing +X
  Normals->UpdateTexture(right.data(), W * 4);
  TTexture* volume = voxels->GetTexture3D();
  ASSERT_NE(volume, nullptr);
  if (volume->GetHandle() == 0) volume->Initialize();
  constexpr int32_t V = 32;
  const uint8_t glow = uint8_t(std::lround(0.1 * 255));
  std::vector<uint8_t> bytes(size_t(V) * V * 8 * V * 4);
  for (size_t i = 0; i < bytes.size(); i += 4) bytes[i] = bytes[i + 1] = bytes[i + 2] = glow, bytes[i + 3] = 255;
  glBindTexture(GL_TEXTURE_3D, GLuint(volume->GetHandle()));
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glTexSubImage3D(GL_TEXTURE_3D, 0, 0, 0, 0, V, V, 8 * V, GL_RGBA, GL_UNSIGNED_BYTE, bytes.data());
  glBindTexture(GL_TEXTURE_3D, 0);
  const struct {
    float Z;
    bool Gathers;
  } cases[] = {{-100, true}, {-200, false}, {200, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Z);
    // World positions need a float texture: the same texture object, specified as floats.
    std::vector<float> position(size_t(W) * H * 4);
    for (size_t i = 0; i < position.size(); i += 4) position[i + 2] = c.Z, position[i + 3] = 1;
    glBindTexture(GL_TEXTURE_2D, GLuint(Position->GetHandle()));
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA32F, W, H, 0, GL_RGBA, GL_FLOAT, position.data());
    glBindTexture(GL_TEXTURE_2D, 0);
    Run();
    ASSERT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    TOwned<TBitmap> bitmap(New<TBitmap>(W, H));
    Pass->GetRenderer()->GetSharedContext()->CopyToBitmap(bitmap.get(), TRect(0, 0, W, H));
    const int gathered = int((uint32_t(testkit::PixelOf(bitmap.get(), W / 2, H / 2)) >> 16) & 0xFF);
    if (c.Gathers)
      EXPECT_GT(gathered, glow / 2);
    else
      EXPECT_EQ(gathered, 0);
  }
}

// Scattering marches from each pixel towards the light's place on the screen and darkens by
// what the normals texture holds on the way: a bright vertical stripe changes only the pixels
// whose march crosses it, on the side away from the light. The light's place is the camera's
// projection of it (the view applied before the projection).
TEST_F(GlobalIllumTest, AStripeInTheNormalsChangesScatteringOnlyWhereMarchesToTheLightCrossIt) {
  auto* camera = New<TQuorvelCamera>(Form.get());
  camera->SetParent(Viewport);
  camera->GetPosition()->SetPoint({0, 0, -10});
  Viewport->SetCamera(camera);
  Viewport->SetUsingDesignCamera(false);
  auto* light = New<TQuorvelLight>(Form.get());
  light->SetParent(Viewport);
  light->SetLightType(TLightType::Point);
  light->SetScatteringIntensity(0.5f);  // mid grey: room to darken
  auto* voxels = New<TQuorvelRenderPassVoxelize>(Viewport, "voxels");
  voxels->SetVoxelSize(32);
  Pass->SetVoxelGeometry(voxels);
  Pass->SetPosition(Position.get());  // every pixel at the origin
  Pass->SetNormals(Normals.get());
  constexpr int32_t S0 = 29, S1 = 35;  // the stripe's columns [S0, S1)
  std::vector<uint32_t> zeros(size_t(W) * H, 0), stripe(size_t(W) * H, 0);
  for (int32_t y = 0; y < H; ++y)
    for (int32_t x = S0; x < S1; ++x) stripe[size_t(y) * W + x] = 0xFFFFFFFFu;
  Position->UpdateTexture(zeros.data(), W * 4);
  const auto red = [&](const std::vector<uint32_t>& ANormals) {
    Normals->UpdateTexture(ANormals.data(), W * 4);
    Tick();  // the voxel pass takes the camera's view
    Run();
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    TOwned<TBitmap> bitmap(New<TBitmap>(W, H));
    Pass->GetRenderer()->GetSharedContext()->CopyToBitmap(bitmap.get(), TRect(0, 0, W, H));
    std::vector<int> r(size_t(W) * H);
    for (int32_t y = 0; y < H; ++y)
      for (int32_t x = 0; x < W; ++x)
        r[size_t(y) * W + x] = int((uint32_t(testkit::PixelOf(bitmap.get(), x, y)) >> 16) & 0xFF);
    return r;
  };
  const float density = light->GetScatteringDensity();
  for (float lightX : {-4.0f, 4.0f}) {
    SCOPED_TRACE(lightX);
    light->GetPosition()->SetPoint({lightX, 1, 5});  // beyond the origin, as the camera sees it
    Tick();
    const double lx = Viewport->WorldToScreen({lightX, 1, 5}).X;
    ASSERT_TRUE(lightX < 0 ? lx < S0 - 8 : lx > S1 + 8) << lx;
    const std::vector<int> plain = red(zeros), striped = red(stripe);
    EXPECT_GT(plain[size_t(H / 2) * W + W / 2], 100);
    int32_t crossing = 0, clear = 0, wrong = 0, nearSide = 0;
    for (int32_t x = 0; x < W; ++x) {
      // The march covers `density` of the way from the pixel's centre to the light.
      const double from = x + 0.5, to = from - density * (from - lx);
      const double lo = std::min(from, to), hi = std::max(from, to);
      const double overlap = std::min(hi, double(S1)) - std::max(lo, double(S0));
      const bool crosses = overlap >= 2, misses = lo > S1 + 1.5 || hi < S0 - 1.5;
      for (int32_t y = 0; y < H; ++y) {
        const int change = std::abs(striped[size_t(y) * W + x] - plain[size_t(y) * W + x]);
        if (crosses) {
          ++crossing;
          wrong += change <= 3;
        } else if (misses) {
          ++clear;
          wrong += change > 1;
        }
        // Between the light and the stripe nothing changes.
        if ((lightX < 0 && x < S0 - 1) || (lightX > 0 && x > S1)) nearSide += change > 1;
      }
    }
    EXPECT_GT(crossing, 10 * H);
    EXPECT_GT(clear, 10 * H);
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(nearSide, 0);
  }
}

// ---- through the composite renderer ------------------------------------------------------------

// A whole frame of the forward renderer. The reflection cone weighs a sample by where along the
// cone it lies (a few hundredths at a few units): a layer of voxels glowing 0.1 adds about one
// step of eight bits at strength 1, a lit layer about ten. So: slabs stacked over half of a
// floor, lit from below and from above, six lit layers over the floor.
class ComposedGlobalIllumTest : public TViewportTest {
protected:
  void SetUp() override {
    TViewportTest::SetUp();
    Renderer = testkit::UseForwardRenderer(Viewport);
    ASSERT_NE(Renderer, nullptr);
    Renderer->SetFXAA(0);
    Renderer->SetGlobalIllumSoftness(0);
    Renderer->SetShadowStrength(0);  // the colour alone: no shadow darkens it
    Renderer->SetReflectionStrength(1);
    auto* camera = New<TQuorvelCamera>(Form.get());
    camera->SetParent(Viewport);
    camera->GetPosition()->SetPoint({0, -2, -8});  // looks along +Z; y points down
    Viewport->SetCamera(camera);
    Viewport->SetUsingDesignCamera(false);
    const TAlphaColor grey = MakeAlphaColor(0x40, 0x40, 0x40, 0xFF);
    auto* floor = testkit::AddMaterialCube(Form.get(), Viewport, grey, {0, 0.5f, 10});
    floor->SetWidth(40);
    floor->SetDepth(40);
    for (float bottom : {-6.0f, -8.0f, -10.0f}) {  // over x < -1 only
      auto* slab = testkit::AddMaterialCube(Form.get(), Viewport, grey, {-10.5f, bottom - 0.6f, 10});
      slab->SetWidth(19);
      slab->SetHeight(1.2f);
      slab->SetDepth(40);
    }
    for (float y : {-3.0f, -14.0f}) {
      auto* light = New<TQuorvelLight>(Form.get());
      light->SetParent(Viewport);
      light->SetLightType(TLightType::Point);
      light->SetScatteringIntensity(0);
      light->GetPosition()->SetPoint({-4, y, 6});
    }
  }
  TForwardRenderer* Renderer = nullptr;
};

TEST_F(ComposedGlobalIllumTest, TheFloorUnderLitSlabsComposesBrighterThanAtDetailZeroAndTheOpenFloorAlike) {
  const auto channel = [](TAlphaColor c, int shift) { return int((uint32_t(c) >> shift) & 0xFF); };
  Tick();
  Tick();
  const TPointF under = Viewport->WorldToScreen({-3, 0, 6}), open = Viewport->WorldToScreen({3, 0, 6});
  const auto pixel = [](TPointF p) { return TPoint(int32_t(std::lround(p.X)), int32_t(std::lround(p.Y))); };
  const TPoint u = pixel(under), o = pixel(open);
  ASSERT_TRUE(u.X >= 0 && u.X < W && u.Y >= 0 && u.Y < H && o.X >= 0 && o.X < W && o.Y >= 0 && o.Y < H);
  const TAlphaColor plainUnder = Probe(u.X, u.Y), plainOpen = Probe(o.X, o.Y);
  ASSERT_NE(plainUnder, claBlue);  // the floor, not the background
  for (int32_t detail : {1, 2}) {
    SCOPED_TRACE(detail);
    Renderer->SetGlobalIllumDetail(detail);
    Tick();
    Tick();
    // Unblurred (softness 0): the composition adds the illumination pass's own texel.
    TTexture* output = Renderer->GetGlobalIllumCtrl()->GetOutputTexture();
    ASSERT_NE(output, nullptr);
    std::vector<uint8_t> texels(size_t(W) * H * 4);
    glBindTexture(GL_TEXTURE_2D, GLuint(output->GetHandle()));
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
    glBindTexture(GL_TEXTURE_2D, 0);
    const uint8_t* gi = &texels[(size_t(H - 1 - u.Y) * W + size_t(u.X)) * 4];  // rows bottom-up
    const TAlphaColor litUnder = Probe(u.X, u.Y), litOpen = Probe(o.X, o.Y);
    const int shifts[3] = {16, 8, 0};
    for (int i = 0; i < 3; ++i) {
      const int added = channel(litUnder, shifts[i]) - channel(plainUnder, shifts[i]);
      EXPECT_GT(added, 20) << std::hex << uint32_t(litUnder) << " over " << uint32_t(plainUnder);
      EXPECT_NEAR(added, int(gi[i]), 2);
      EXPECT_NEAR(channel(litOpen, shifts[i]), channel(plainOpen, shifts[i]), 1) << std::hex << uint32_t(litOpen);
    }
    EXPECT_EQ(gi[3], 0);
  }
}

// Pixels without geometry have no position: before, they read as the world origin, whose
// shadow cones towards the lights darkened the whole background.
TEST_F(ComposedGlobalIllumTest, TheBackgroundKeepsTheViewportColourWithShadows) {
  Renderer->SetShadowStrength(1);
  Renderer->SetReflectionStrength(0);
  auto* third = New<TQuorvelLight>(Form.get());
  third->SetParent(Viewport);
  third->SetLightType(TLightType::Point);
  third->SetScatteringIntensity(0);
  third->GetPosition()->SetPoint({4, -3, 6});
  Tick();
  Tick();
  std::vector<TPoint> background;
  for (int32_t y = 0; y < H; y += 2)
    for (int32_t x = 0; x < W; x += 2)
      if (Probe(x, y) == claBlue) background.push_back(TPoint(x, y));
  ASSERT_GT(background.size(), size_t(W * H / 40));
  for (int32_t detail : {1, 2}) {
    SCOPED_TRACE(detail);
    Renderer->SetGlobalIllumDetail(detail);
    Tick();
    Tick();
    int32_t darker = 0;
    TAlphaColor worst = claBlue;
    for (const TPoint& p : background)
      if (!testkit::NearColor(Probe(p.X, p.Y), claBlue, 2)) {
        ++darker;
        worst = Probe(p.X, p.Y);
      }
    EXPECT_EQ(darker, 0) << "of " << background.size() << ", e.g. " << std::hex << uint32_t(worst);
  }
}

// The renderer's own passes: the voxelizer rasterises at the voxel size, not the frame's
// (48 rows would leave rows of 64 voxels empty); strengths arrive clamped whenever they
// change; targets made again by a resize and a freed camera leave nothing dangling; detail 0
// leaves no pass of the three behind.
TEST_F(ComposedGlobalIllumTest, TheEmbeddedPassesRasteriseAtTheVoxelSizeAndFollowTheRenderer) {
  constexpr int32_t V = 64;
  Renderer->SetGlobalIllumDetail(2);
  Tick();
  TQuorvelRenderPassVoxelize* voxelize = Renderer->GetVoxelizeCtrl();
  ASSERT_NE(voxelize, nullptr);
  EXPECT_EQ(voxelize->GetRenderer()->GetSharedContext()->GetWidth(), V);
  EXPECT_EQ(voxelize->GetRenderer()->GetSharedContext()->GetHeight(), V);
  TTexture* volume = voxelize->GetTexture3D();
  ASSERT_NE(volume, nullptr);
  std::vector<uint8_t> bytes(size_t(V) * V * 8 * V * 4);
  glBindTexture(GL_TEXTURE_3D, GLuint(volume->GetHandle()));
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glGetTexImage(GL_TEXTURE_3D, 0, GL_RGBA, GL_UNSIGNED_BYTE, bytes.data());
  glBindTexture(GL_TEXTURE_3D, 0);
  // Cascade 1 (half-width 4 around the centre 2 above the floor) lies wholly over the floor:
  // its top face fills row 48 (or 47, on the boundary) at every x and z.
  ASSERT_NEAR(voxelize->GetVoxelCenter().Y, -2, 1e-4);
  const auto alpha = [&](int32_t x, int32_t y, int32_t z) { return bytes[((size_t(V + z) * V + y) * V + x) * 4 + 3]; };
  int32_t empty = 0;
  for (int32_t z = 0; z < V; ++z)
    for (int32_t x = 0; x < V; ++x) empty += alpha(x, 48, z) != 255 && alpha(x, 47, z) != 255;
  EXPECT_EQ(empty, 0);

  const struct {
    float In, Out;
  } strengths[] = {{25, 10}, {-1, 0}, {2.5f, 2.5f}};
  for (const auto& c : strengths) {
    Renderer->SetShadowStrength(c.In);
    Renderer->SetReflectionStrength(c.In);
    EXPECT_FLOAT_EQ(Renderer->GetGlobalIllumCtrl()->GetShadowStrength(), c.Out) << c.In;
    EXPECT_FLOAT_EQ(Renderer->GetGlobalIllumCtrl()->GetReflectionStrength(), c.Out) << c.In;
  }

  Form->SetClientWidth(W + 8);
  Viewport->SetWidth(W + 8);
  Tick();
  ASSERT_NE(Renderer->GetGlobalIllumCtrl(), nullptr);
  EXPECT_EQ(Renderer->GetGlobalIllumCtrl()->GetPosition(), Renderer->GetPositionTexture());
  EXPECT_EQ(Renderer->GetGlobalIllumCtrl()->GetNormals(), Renderer->GetNormalsTexture());
  EXPECT_EQ(Renderer->GetGlobalIllumCtrl()->GetOutputTexture()->GetWidth(), W + 8);
  Free(Viewport->GetCamera());
  Tick();

  Renderer->SetGlobalIllumDetail(0);
  Tick();
  int32_t left = 0;
  for (TComponent* c : Viewport->ComponentList())
    left += dynamic_cast<TQuorvelRenderPassVoxelize*>(c) || dynamic_cast<TQuorvelRenderPassGlobalIllum*>(c) ||
            dynamic_cast<TQuorvelRenderPassGlobalIllumBlur*>(c);
  EXPECT_EQ(left, 0);
}

}  // namespace
}  // namespace quorvel
