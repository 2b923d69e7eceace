// The voxelization pass on llvmpipe: geometry stage and image store into the cascaded 3D
// texture, read back with GL and compared with the addresses the cascades give.
#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <cmath>
#include <vector>

#include "framework/gui3d/Material.h"
#include "framework/gui3d/VertexBuffer.h"
#include "lib/context/ContextShader.h"
#include "lib/context/ContextTexturing.h"
#include "lib/passes/ControllerPassesVoxelize.h"
#include "lib/scene/Light.h"
#include "tests/passes/PassTestSupport.h"

namespace quorvel {
namespace {

using testkit::TViewportTest;

// A horizontal square of half-width Half with upward normals, in its own y = 0 plane (the
// control's position places it), and a line across it.
class TNormalQuad : public TQuorvelControl {
public:
  explicit TNormalQuad(TComponent* AOwner) : TQuorvelControl(AOwner) {}
  float Half = 20;
  bool WithLine = false;
  bool Diagonal = false;  // upright in the plane x = -y instead: its normal leans 45° between x and y
  bool Wall = false;      // upright in its own z = 0 plane instead, facing +Z
  void Render() override {
    TQuorvelControl::Render();
    if (!Material) Material.reset(New<TColorMaterial>());
    TVertexBuffer vb(TVertexFormats{TVertexFormat::Vertex, TVertexFormat::Normal}, 4);
    const TPoint3D flat[4] = {{-Half, 0, -Half}, {Half, 0, -Half}, {-Half, 0, Half}, {Half, 0, Half}};
    const TPoint3D upright[4] = {{-Half, Half, -Half}, {Half, -Half, -Half}, {-Half, Half, Half}, {Half, -Half, Half}};
    const TPoint3D wall[4] = {{-Half, -Half, 0}, {Half, -Half, 0}, {-Half, Half, 0}, {Half, Half, 0}};
    for (int i = 0; i < 4; ++i) {
      vb.SetVertices(i, Wall ? wall[i] : Diagonal ? upright[i] : flat[i]);
      vb.SetNormals(i, Wall       ? TPoint3D(0, 0, 1)
                       : Diagonal ? TPoint3D(float(M_SQRT1_2), float(M_SQRT1_2), 0)
                                  : TPoint3D(0, 1, 0));
    }
    TIndexBuffer ib(6);
    const uint32_t indices[6] = {0, 2, 1, 1, 2, 3};
    for (int i = 0; i < 6; ++i) ib.SetIndices(i, indices[i]);
    GetContext()->DrawTriangles(&vb, &ib, Material.get(), 1);
    if (WithLine) {
      TVertexBuffer lv(TVertexFormats{TVertexFormat::Vertex, TVertexFormat::Normal}, 2);
      lv.SetVertices(0, TPoint3D(-Half, 1, 0));
      lv.SetVertices(1, TPoint3D(Half, 1, 0));
      TIndexBuffer li(2);
      li.SetIndices(0, 0);
      li.SetIndices(1, 1);
      GetContext()->DrawLines(&lv, &li, Material.get(), 1);
    }
  }
  TOwned<TColorMaterial> Material;
};

class VoxelizeTest : public TViewportTest {
protected:
  static constexpr int32_t V = 32;
  void SetUp() override {
    TViewportTest::SetUp();
    Camera = New<TQuorvelCamera>(Form.get());
    Camera->SetParent(Viewport);
    Camera->GetPosition()->SetPoint({0, 0, -5});  // looks along +Z: the voxel centre is the origin
    Viewport->SetCamera(Camera);
    Viewport->SetUsingDesignCamera(false);
    Pass = New<TQuorvelRenderPassVoxelize>(Viewport, "voxels");
    Pass->SetVoxelSize(V);
    Pass->SetViewport(Viewport);
    Floor = New<TNormalQuad>(Form.get());
    Floor->SetWidth(40);
    Floor->SetDepth(40);
    Floor->SetHeight(0.01f);
    Floor->SetParent(Viewport);
    // Placed by its matrix, not its vertices: the model matrix must reach the vertex stage.
    Floor->GetPosition()->SetPoint({0, -1, 0});
  }
  // RGBA of the whole texture, x fastest, then y, then z.
  std::vector<uint8_t> ReadVoxels() {
    TTexture* texture = Pass->GetTexture3D();
    EXPECT_NE(texture, nullptr);
    std::vector<uint8_t> bytes(size_t(V) * V * 8 * V * 4, 0xAB);
    if (!texture) return bytes;
    GLint old = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_3D, &old);
    glBindTexture(GL_TEXTURE_3D, GLuint(texture->GetHandle()));
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_3D, 0, GL_RGBA, GL_UNSIGNED_BYTE, bytes.data());
    glBindTexture(GL_TEXTURE_3D, GLuint(old));
    return bytes;
  }
  static const uint8_t* At(const std::vector<uint8_t>& AVoxels, int32_t x, int32_t y, int32_t z) {
    return AVoxels.data() + ((size_t(z) * V + y) * V + x) * 4;
  }
  // Where a world coordinate lands in a cascade of half-width AScale, in voxels (fractional).
  static double Address(double AWorld, double AScale) { return 0.5 * (AWorld / AScale + 1) * V; }

  TQuorvelCamera* Camera = nullptr;
  TQuorvelRenderPassVoxelize* Pass = nullptr;  // owned by the viewport
  TNormalQuad* Floor = nullptr;
};

TEST_F(VoxelizeTest, AnUnlitFloorFillsItsRowOfEveryCascadeWithTheEmissivePartOnly) {
  // The voxel centre lies on the view line, at the focal length or the eye's distance from
  // the origin, whichever is less: at the origin, then off it in y and z.
  const struct {
    TPoint3D Eye;
    float FocalLength;
    TPoint3D Centre;
  } cases[] = {{{0, 0, -5}, 10, {0, 0, 0}}, {{0, -2.5f, -5}, 3, {0, -2.5f, -2}}};
  // Voxels within half a voxel of the floor's edge may go either way.
  const auto inside = [](int32_t a, double lo, double hi) { return a + 0.5 > lo + 0.5 && a + 0.5 < hi - 0.5; };
  const auto outside = [](int32_t a, double lo, double hi) { return a + 0.5 < lo - 0.5 || a + 0.5 > hi + 0.5; };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Centre.Y);
    Camera->GetPosition()->SetPoint(c.Eye);
    Pass->SetFocalLength(c.FocalLength);
    Tick();
    ASSERT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    ASSERT_NEAR((Pass->GetVoxelCenter() - c.Centre).Length(), 0, 1e-4);
    const std::vector<uint8_t> voxels = ReadVoxels();
    for (int32_t i = 0; i < 8; ++i) {
      SCOPED_TRACE(i);
      const double s = TQuorvelRenderPassVoxelize::CascadeSceneScale(i);
      const int32_t row = int32_t(std::floor(Address(-1 - c.Centre.Y, s)));
      // The floor spans ±20 in x and z.
      const double xlo = Address(-20 - c.Centre.X, s), xhi = Address(20 - c.Centre.X, s);
      const double zlo = Address(-20 - c.Centre.Z, s), zhi = Address(20 - c.Centre.Z, s);
      int32_t wrong = 0, filled = 0;
      for (int32_t z = 0; z < V; ++z)
        for (int32_t y = 0; y < V; ++y)
          for (int32_t x = 0; x < V; ++x) {
            const uint8_t* v = At(voxels, x, y, i * V + z);
            if (y == row && inside(x, xlo, xhi) && inside(z, zlo, zhi)) {
              ++filled;
              wrong += std::abs(int(v[0]) - 26) > 1 || std::abs(int(v[1]) - 26) > 1 || std::abs(int(v[2]) - 26) > 1 ||
                       v[3] != 255;
            } else if (y != row || outside(x, xlo, xhi) || outside(z, zlo, zhi)) {
              wrong += v[0] != 0 || v[1] != 0 || v[2] != 0 || v[3] != 0;
            }
          }
      EXPECT_GT(filled, 0);
      EXPECT_EQ(wrong, 0);
    }
  }
}

TEST_F(VoxelizeTest, ASpotLightBrightensOnlyTheVoxelsInsideItsCone) {
  auto* light = New<TQuorvelLight>(Form.get());
  light->SetLightType(TLightType::Spot);
  light->SetSpotCutOff(20);
  light->SetSpotExponent(0);
  light->SetParent(Viewport);
  light->GetPosition()->SetPoint({0, 5, 0});
  light->GetRotationAngle()->SetX(90);
  if (light->GetAbsoluteDirection().Y > 0) light->GetRotationAngle()->SetX(-90);
  ASSERT_LT(light->GetAbsoluteDirection().Y, -0.99f);
  Tick();
  const std::vector<uint8_t> voxels = ReadVoxels();
  // Cascade 3: one voxel per world unit; the cone meets the floor in a circle of radius
  // 6 · tan 20°.
  const int32_t cascade = 3;
  const double s = 16, radius = 6 * std::tan(20 * M_PI / 180);
  const int32_t row = int32_t(std::floor(Address(-1, s)));
  int32_t bright = 0, wrong = 0;
  for (int32_t z = 0; z < V; ++z)
    for (int32_t x = 0; x < V; ++x) {
      const double wx = ((x + 0.5) / V * 2 - 1) * s, wz = ((z + 0.5) / V * 2 - 1) * s;
      const double d = std::hypot(wx, wz);
      const uint8_t* v = At(voxels, x, row, cascade * V + z);
      if (d < radius - 1) {
        ++bright;
        wrong += v[0] != 255 || v[3] != 255;
      } else if (d > radius + 1) {
        wrong += std::abs(int(v[0]) - 26) > 1;
      }
    }
  EXPECT_GT(bright, 0);
  EXPECT_EQ(wrong, 0);
}

TEST_F(VoxelizeTest, LinesAreNotVoxelized) {
  Floor->Half = 0.5f;  // the floor covers x and z in ±0.5 only; the line crosses x at y = 0
  Floor->WithLine = true;
  Tick();
  const std::vector<uint8_t> voxels = ReadVoxels();
  // Cascade 0: the line at world y = 0 would land on row 16.
  int32_t written = 0;
  for (int32_t z = 0; z < V; ++z)
    for (int32_t x = 0; x < V; ++x) written += At(voxels, x, 16, z)[3] != 0;
  EXPECT_EQ(written, 0);
  EXPECT_FALSE(Pass->IsPrimitivesKindSupported(TPrimitivesKind::Lines));
  EXPECT_FALSE(Pass->IsPrimitivesKindSupported(TPrimitivesKind::Points));
  EXPECT_TRUE(Pass->IsPrimitivesKindSupported(TPrimitivesKind::Triangles));
}

// A face whose normal leans exactly between two axes is projected along one of them: along
// the third it would have no area and leave no voxel.
TEST_F(VoxelizeTest, AFaceLeaningEvenlyBetweenTwoAxesIsVoxelized) {
  Floor->Diagonal = true;
  Floor->Half = 4;
  Floor->GetPosition()->SetPoint({0, 0, 0});
  Tick();
  const std::vector<uint8_t> voxels = ReadVoxels();
  // Cascade 3: one voxel per world unit, the origin at voxel corner 16. The wall fills, in
  // every slice it spans, one voxel per row next to the diagonal x = -y.
  const int32_t cascade = 3;
  int32_t missing = 0, stray = 0;
  for (int32_t z = 13; z < 19; ++z)
    for (int32_t y = 13; y < 19; ++y) {
      const int32_t x = 31 - y;  // the voxel the diagonal crosses in this row
      bool found = false;
      for (int32_t dx = -1; dx <= 1; ++dx) found = found || At(voxels, x + dx, y, cascade * V + z)[3] == 255;
      missing += !found;
    }
  for (int32_t z = 0; z < V; ++z)
    for (int32_t y = 0; y < V; ++y)
      for (int32_t x = 0; x < V; ++x)
        stray += At(voxels, x, y, cascade * V + z)[3] != 0 && std::abs(x - (31 - y)) > 1;
  EXPECT_EQ(missing, 0);
  EXPECT_EQ(stray, 0);
}

// A face on the far side of a cascade's cube belongs to that cascade's last slice: stored one
// slice further it would appear in the next cascade's first slice, far from where it stands.
TEST_F(VoxelizeTest, AFaceOnACascadesFarSideStaysInThatCascade) {
  Floor->Wall = true;
  Floor->Half = 1;
  Floor->GetPosition()->SetPoint({0, 0, 2});  // the far side of cascade 0 (half-width 2)
  Tick();
  ASSERT_NEAR(Pass->GetVoxelCenter().Length(), 0, 1e-6);
  const std::vector<uint8_t> voxels = ReadVoxels();
  const auto slice = [&](int32_t z) {
    int32_t n = 0;
    for (int32_t y = 0; y < V; ++y)
      for (int32_t x = 0; x < V; ++x) n += At(voxels, x, y, z)[3] != 0;
    return n;
  };
  // Cascade 0 holds it in its last slice, cascade 1 (half-width 4) at 3/4 of its depth.
  EXPECT_GT(slice(V - 1), 0);
  EXPECT_EQ(slice(V), 0);
  EXPECT_GT(slice(V + 24), 0);
  int32_t total = 0;
  for (int32_t z = 0; z < 8 * V; ++z) total += slice(z);
  EXPECT_EQ(total, slice(V - 1) + slice(V + 24) + slice(2 * V + 20) + slice(3 * V + 18) + slice(4 * V + 17) +
                       slice(5 * V + 16) + slice(6 * V + 16) + slice(7 * V + 16));
}

TEST_F(VoxelizeTest, TheImageIsBoundOnUnitZeroAndTheBlockHasGLsLayout) {
  Tick();
  TVoxelizeMaterial* material = Pass->Material();
  ASSERT_NE(material, nullptr);
  // After the pass the texture is open for sampling again.
  auto* voxels = dynamic_cast<TQuorvelTexture*>(Pass->GetTexture3D());
  ASSERT_NE(voxels, nullptr);
  EXPECT_TRUE(voxels->GetImageAccessable());
  EXPECT_EQ(voxels->GetKind(), TQuorvelTextureKind::ImageTexture3D);
  EXPECT_EQ(voxels->GetWidth(), V);
  EXPECT_EQ(voxels->GetDepth(), 8 * V);
  GLint image = 0;
  glGetIntegeri_v(GL_IMAGE_BINDING_NAME, 0, &image);
  EXPECT_EQ(GLuint(image), GLuint(voxels->GetHandle()));
  TShaderProgram* program =
      TShaderProgramCache::Find(material->GetVertexShader()->GetHandle(), material->GetPixelShader()->GetHandle(),
                                material->GetGeometryShader()->GetHandle());
  ASSERT_NE(program, nullptr);
  const GLuint prog = GLuint(program->GetProg());
  const GLuint block = glGetUniformBlockIndex(prog, "VoxelizeShaderData");
  ASSERT_NE(block, GL_INVALID_INDEX);
  GLint size = 0;
  glGetActiveUniformBlockiv(prog, block, GL_UNIFORM_BLOCK_DATA_SIZE, &size);
  EXPECT_EQ(size, GLint(sizeof(TVoxelizeShaderData)));
  const char* names[] = {"_Material.SpecularColor", "_Material.Emissivity", "_TextureOffset", "_NumberOfLights",
                         "_Lights[0]._Diffuse", "_Lights[1]._LightType"};
  const GLint expected[] = {16, 40, 48, 60, 64 + 64, 64 + 144};
  GLuint indices[6];
  glGetUniformIndices(prog, 6, names, indices);
  GLint offsets[6];
  glGetActiveUniformsiv(prog, 6, indices, GL_UNIFORM_OFFSET, offsets);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(offsets[i], expected[i]) << names[i];
  // The fixed surface.
  const TVoxelMaterial& m = material->GetParams().Material;
  EXPECT_FLOAT_EQ(m.DiffuseReflectivity, 0.75f);
  EXPECT_FLOAT_EQ(m.SpecularReflectivity, 0.5f);
  EXPECT_FLOAT_EQ(m.Emissivity, 0.1f);
  EXPECT_FLOAT_EQ(m.SpecularColor.X, 0.5f);
  // The last iteration's cascade.
  EXPECT_FLOAT_EQ(material->GetSceneScale(), 128);
  EXPECT_FLOAT_EQ(material->GetTextureOffset().Z, float(7 * V));
}

TEST_F(VoxelizeTest, TheVoxelCentreLiesAtTheFocalLengthOrTheEyesDistanceFromTheOrigin) {
  Tick();
  EXPECT_NEAR(Pass->GetVoxelCenter().Length(), 0, 1e-4);
  Pass->SetFocalLength(3);
  Tick();
  EXPECT_NEAR(Pass->GetVoxelCenter().Z, -2, 1e-4);
  EXPECT_NEAR(Pass->GetVoxelCenter().X, 0, 1e-4);
  Pass->SetFocalLength(0);
  EXPECT_FLOAT_EQ(Pass->GetFocalLength(), 1);
  Pass->SetFocalLength(80);
  EXPECT_FLOAT_EQ(Pass->GetFocalLength(), 50);
}

TEST_F(VoxelizeTest, SizesDetailsAndLightsFollowTheirRules) {
  // Sizes on a pass without viewport (a linked one would make a 512 × 512 × 4096 texture).
  TOwned<TQuorvelRenderPassVoxelize> alone(New<TQuorvelRenderPassVoxelize>(nullptr, ""));
  const struct {
    int32_t In, Out;
  } sizes[] = {{200, 192}, {700, 512}, {64, 64}, {31, 32}, {0, 32}, {-64, 32}};
  for (const auto& c : sizes) {
    alone->SetVoxelSize(c.In);
    EXPECT_EQ(alone->GetVoxelSize(), c.Out) << c.In;
  }
  // A linked pass makes its texture again at the new size, and still runs.
  Pass->SetVoxelSize(64);
  Tick();
  EXPECT_EQ(Pass->GetVoxels()->GetWidth(), 64);
  EXPECT_EQ(Pass->GetVoxels()->GetDepth(), 8 * 64);
  EXPECT_FLOAT_EQ(Pass->Material()->GetTextureOffset().Z, 7 * 64.0f);

  int32_t detail = 7;
  EXPECT_EQ(TQuorvelRenderPassVoxelize::GetVoxelSizeFromDetail(2048, detail), 256);
  EXPECT_EQ(detail, 5);
  detail = 3;
  EXPECT_EQ(TQuorvelRenderPassVoxelize::GetVoxelSizeFromDetail(100, detail), 32);
  EXPECT_EQ(detail, 0);
  for (int32_t d : {0, 8, -1}) {
    detail = d;
    EXPECT_EQ(TQuorvelRenderPassVoxelize::GetVoxelSizeFromDetail(static_cast<TContext3D*>(nullptr), detail), 64);
    EXPECT_EQ(detail, d);
  }
  const int32_t table[8] = {0, 32, 64, 128, 192, 256, 384, 512};
  for (int32_t d = 1; d <= 7; ++d) {
    detail = d;
    EXPECT_EQ(TQuorvelRenderPassVoxelize::GetVoxelSizeFromDetail(1 << 20, detail), table[d]);
  }
  EXPECT_FLOAT_EQ(TQuorvelRenderPassVoxelize::CascadeSceneScale(5), 48);
  EXPECT_FLOAT_EQ(TQuorvelRenderPassVoxelize::CascadeSceneScale(9), 128);

  // Nine enabled lights and a disabled one: the first eight enabled are uploaded.
  Pass->SetVoxelSize(V);
  for (int32_t i = 0; i < 10; ++i) {
    auto* light = New<TQuorvelLight>(Form.get());
    light->SetParent(Viewport);
    light->SetEnabled(i != 2);
    light->SetIntensity(float(i));
  }
  Tick();
  const TVoxelizeShaderData& params = Pass->Material()->GetParams();
  EXPECT_EQ(params.NumberOfLights, 8);
  for (int32_t i = 0; i < 8; ++i) EXPECT_FLOAT_EQ(params.Lights[i].Intensity, float(i < 2 ? i : i + 1)) << i;
}

TEST_F(VoxelizeTest, DefaultsAndOutput) {
  TOwned<TQuorvelRenderPassVoxelize> alone(New<TQuorvelRenderPassVoxelize>(nullptr, ""));
  EXPECT_EQ(alone->GetVoxelSize(), 128);
  EXPECT_EQ(alone->GetIterations(), 8);
  EXPECT_EQ(alone->GetType(), TRenderPassType::Pre);
  EXPECT_EQ(alone->GetRenderProc(), TRenderPassRenderingProc::ListRendering);
  EXPECT_FLOAT_EQ(alone->GetFocalLength(), 10);
  EXPECT_EQ(alone->GetOutputTexture(), nullptr);  // no viewport
  EXPECT_EQ(Pass->GetOutputTexture(), Pass->GetTexture3D());
  EXPECT_EQ(Pass->GetRenderer()->GetSharedContext()->GetWidth(), V);
  EXPECT_EQ(Pass->GetRenderer()->GetSharedContext()->GetHeight(), V);
  TOwned<TQuorvelRenderPassEmbeddedVoxelize> embedded(New<TQuorvelRenderPassEmbeddedVoxelize>(nullptr, ""));
  EXPECT_TRUE(embedded->IsInternalRenderPass());
  EXPECT_FALSE(Pass->IsInternalRenderPass());
}

}  // namespace
}  // namespace quorvel
