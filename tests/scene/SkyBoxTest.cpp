// The skybox: its record, its face checks and its three looks drawn on llvmpipe.
#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "framework/classes/Messages.h"
#include "lib/context/ContextShader.h"
#include "lib/defs/DefTypesMesh.h"
#include "lib/passes/ControllerPassesEnvironment.h"
#include "lib/scene/SkyBox.h"
#include "tests/scene/SceneTestSupport.h"

namespace quorvel {
namespace {

using testkit::NearColor;
using testkit::TViewportTest;

class SkyBox : public TViewportTest {
protected:
  TQuorvelSkyBox* AddSky() {
    auto* sky = New<TQuorvelSkyBox>(Form.get());
    sky->SetParent(Viewport);
    return sky;
  }
  static TOwned<TBitmap> Square(int32_t AWidth, int32_t AHeight, TAlphaColor AColor = claRed) {
    TOwned<TBitmap> b(New<TBitmap>(AWidth, AHeight));
    if (AWidth > 0 && AHeight > 0) b->Clear(AColor);
    return b;
  }
  // A square frame seen from the sky's centre through a camera of 90 degrees.
  TQuorvelCamera* CentredCamera() {
    Form->SetClientWidth(H);
    Viewport->SetWidth(H);
    auto* cam = New<TQuorvelCamera>(Form.get());
    cam->SetParent(Viewport);
    cam->SetAngleOfView(90);
    cam->GetPosition()->SetPoint({0, 0, 0});
    Viewport->SetCamera(cam);
    Viewport->SetUsingDesignCamera(false);
    return cam;
  }
  static TShaderProgram* ProgramOf(TQuorvelSkyBoxMaterial* AMaterial, TQuorvelSkyBoxMode AMode) {
    switch (AMode) {
      case TQuorvelSkyBoxMode::ProceduralSkyBox:
        return TShaderProgramCache::Find(AMaterial->ProceduralVertexShader(), AMaterial->ProceduralPixelShader());
      case TQuorvelSkyBoxMode::Blank:
        return TShaderProgramCache::Find(AMaterial->ProceduralVertexShader(), AMaterial->BlankPixelShader());
      default:
        return TShaderProgramCache::Find(AMaterial->GetVertexShader(), AMaterial->GetPixelShader());
    }
  }
};

// The six faces in enumeration order, the direction each one shows in the engine's world
// (the sky's (1, -1, 1) scale turns GL's +Y, its top, into the engine's up, -Y), and the
// camera turn that looks there.
struct TFaceView {
  TQuorvelCubeMapFace Face;
  TPoint3D Direction;
  float RotX, RotY;
  TAlphaColor Color;
};
const TFaceView FaceViews[6] = {
    {TQuorvelCubeMapFace::PositiveX, {1, 0, 0}, 0, 90, claRed},
    {TQuorvelCubeMapFace::NegativeX, {-1, 0, 0}, 0, -90, claLime},
    {TQuorvelCubeMapFace::PositiveY, {0, -1, 0}, 90, 0, claBlue},
    {TQuorvelCubeMapFace::NegativeY, {0, 1, 0}, -90, 0, claYellow},
    {TQuorvelCubeMapFace::PositiveZ, {0, 0, 1}, 0, 0, claFuchsia},
    {TQuorvelCubeMapFace::NegativeZ, {0, 0, -1}, 0, 180, claAqua},
};

// GL's cube-map rule backwards: the direction (in the cube's own space) that samples the face
// at (s, t), t = 0 being the face image's first (top) row.
TPoint3D GLDirection(TQuorvelCubeMapFace AFace, float s, float t) {
  const float sc = 2 * s - 1, tc = 2 * t - 1;
  switch (AFace) {
    case TQuorvelCubeMapFace::PositiveX: return {1, -tc, -sc};
    case TQuorvelCubeMapFace::NegativeX: return {-1, -tc, sc};
    case TQuorvelCubeMapFace::PositiveY: return {sc, 1, tc};
    case TQuorvelCubeMapFace::NegativeY: return {sc, -1, -tc};
    case TQuorvelCubeMapFace::PositiveZ: return {sc, -tc, 1};
    default: return {-sc, -tc, -1};
  }
}

// GL's cube-map rule: the face, s and t that a direction samples.
void GLFaceOf(const TPoint3D& r, int& AFace, float& s, float& t) {
  const float ax = std::fabs(r.X), ay = std::fabs(r.Y), az = std::fabs(r.Z);
  float ma, sc, tc;
  if (ax >= ay && ax >= az) {
    AFace = r.X > 0 ? 0 : 1;
    ma = ax;
    sc = r.X > 0 ? -r.Z : r.Z;
    tc = -r.Y;
  } else if (ay >= az) {
    AFace = r.Y > 0 ? 2 : 3;
    ma = ay;
    sc = r.X;
    tc = r.Y > 0 ? r.Z : -r.Z;
  } else {
    AFace = r.Z > 0 ? 4 : 5;
    ma = az;
    sc = r.Z > 0 ? r.X : -r.X;
    tc = -r.Y;
  }
  s = (sc / ma + 1) / 2;
  t = (tc / ma + 1) / 2;
}

// Each face of the sky in its own colour, with a black marker at its first texel.
void PaintMarkedFaces(TQuorvelSkyBox* ASky) {
  for (const TFaceView& v : FaceViews) {
    TOwned<TBitmap> b(New<TBitmap>(4, 4));
    b->Clear(v.Color);
    TBitmapData data;
    ASSERT_TRUE(b->Map(TMapAccess::Write, data));
    data.SetPixel(0, 0, claBlack);
    b->Unmap(data);
    ASky->SetTexture(v.Face, b.get());
  }
}

TEST_F(SkyBox, ANewSkyBoxIsAProceduralUnhittableCubeOf500) {
  auto* sky = AddSky();
  EXPECT_EQ(sky->GetMode(), TQuorvelSkyBoxMode::ProceduralSkyBox);
  EXPECT_TRUE(sky->SkyMaterial()->GetAllowFog());
  EXPECT_TRUE(sky->SkyMaterial()->GetStarsEnabled());
  EXPECT_TRUE(sky->SkyMaterial()->GetCloudsEnabled());
  EXPECT_FLOAT_EQ(sky->GetWidth(), 500);
  EXPECT_FLOAT_EQ(sky->GetHeight(), 500);
  EXPECT_FLOAT_EQ(sky->GetDepth(), 500);
  EXPECT_FLOAT_EQ(sky->GetScale()->GetY(), -1);
  EXPECT_FALSE(sky->GetHitTest());
  EXPECT_FALSE(sky->GetFrustumCullingCheck());
  EXPECT_EQ(sky->GetMaterialSource(), sky->GetSkyMaterialSource());
  // The default cube's mesh, whatever the mode.
  EXPECT_EQ(sky->GetMeshDef()->GetVertexSource()->Length(), 24);
  sky->SetMode(TQuorvelSkyBoxMode::Blank);
  EXPECT_EQ(sky->GetMeshDef()->GetVertexSource()->Length(), 24);
}

TEST_F(SkyBox, TheRecordHasItsDefaultsAndTheSettersClamp) {
  auto* sky = AddSky();
  TQuorvelSkyBoxMaterial* m = sky->SkyMaterial();
  const TSkyBoxShaderData& d = m->ShaderData();
  EXPECT_EQ(d.CloudIterations, 4);
  EXPECT_FLOAT_EQ(d.Azimuth, 0.22f);
  EXPECT_FLOAT_EQ(d.Emissive.B, 1);
  EXPECT_FLOAT_EQ(TSkyBoxShaderData::Create(1).SunAngularDiameterDegrees, 0.05f);
  m->SetSingle(&TSkyBoxShaderData::Turbidity, 500);
  EXPECT_FLOAT_EQ(d.Turbidity, 100);
  m->SetSingle(&TSkyBoxShaderData::NumMolecules, 10);
  EXPECT_FLOAT_EQ(d.NumMolecules, 100000);
  m->SetPrimaries({0, 0.5f, 2});
  EXPECT_FLOAT_EQ(d.Primaries.X, 1e-9f);
  EXPECT_FLOAT_EQ(d.Primaries.Y, 0.5f);
  EXPECT_FLOAT_EQ(d.Primaries.Z, 1);
  m->SetCloudIterations(-3);
  EXPECT_EQ(d.CloudIterations, 0);
  m->SetSingle(&TSkyBoxShaderData::Azimuth, 3);
  EXPECT_FLOAT_EQ(d.Azimuth, 1);
  // The whole record is taken as given.
  TSkyBoxShaderData props = sky->GetConfiguration();
  props.Azimuth = 3;
  sky->SetConfiguration(props);
  EXPECT_FLOAT_EQ(sky->GetConfiguration().Azimuth, 3);
  m->SetCrescent(false);
  EXPECT_FLOAT_EQ(d.CrescentMoon, -0.03f);
  EXPECT_FALSE(m->GetCrescent());
  m->SetCrescent(true);
  EXPECT_FLOAT_EQ(d.CrescentMoon, 0.03f);
}

TEST_F(SkyBox, OnlySquarePowerOfTwoFacesAreTaken) {
  auto* sky = AddSky();
  const std::string message =
      "Invalid skybox texture size! Skybox texture needs to be even and dimension must be a power of 2 (2^x).";
  sky->SetTexture(TQuorvelCubeMapFace::PositiveX, Square(256, 256).get());
  EXPECT_EQ(sky->GetTexture(TQuorvelCubeMapFace::PositiveX)->GetWidth(), 256);
  for (auto [w, h] : {std::pair{256, 128}, {100, 100}, {0, 0}}) {
    try {
      sky->SetTexture(TQuorvelCubeMapFace::PositiveX, Square(w, h).get());
      ADD_FAILURE() << w << " x " << h << " was taken";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), message);
    }
    EXPECT_EQ(sky->GetTexture(TQuorvelCubeMapFace::PositiveX)->GetWidth(), 256) << "the face stays";
  }
}

TEST_F(SkyBox, FacesOfDifferentSizesFailOnceUntilAFaceChanges) {
  auto* sky = AddSky();
  sky->SetMode(TQuorvelSkyBoxMode::Blank);
  sky->SetTexture(TQuorvelCubeMapFace::PositiveX, Square(8, 8).get());
  sky->SetTexture(TQuorvelCubeMapFace::NegativeY, Square(4, 4).get());
  try {
    sky->Render();
    ADD_FAILURE() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "All cubemap textures must have equal dimensions! (width 8 <> 4 or height 8 <> 4)");
  }
  Tick();  // no retry: the frame draws
  EXPECT_TRUE(NearColor(Probe(W / 2, H / 2), claWhite, 8));
}

TEST_F(SkyBox, BlankDrawsItsDiffuseBehindTheScene) {
  auto* sky = AddSky();
  sky->SetMode(TQuorvelSkyBoxMode::Blank);
  sky->SetDiffuse(claYellow);
  auto* cube = AddCube(claRed, 1);
  Tick();
  EXPECT_TRUE(NearColor(Probe(1, 1), claYellow, 8)) << std::hex << uint32_t(Probe(1, 1));
  EXPECT_TRUE(NearColor(Probe(W / 2, H / 2), claRed, 8)) << std::hex << uint32_t(Probe(W / 2, H / 2));
  (void)cube;
}

TEST_F(SkyBox, CubeMapFacesShowInTheirDirections) {
  auto* sky = AddSky();
  sky->SetMode(TQuorvelSkyBoxMode::CubeMapSkyBox);
  const TAlphaColor colors[6] = {claRed, claLime, claBlue, claYellow, claFuchsia, claAqua};
  for (int i = 0; i < 6; ++i) sky->SetTexture(static_cast<TQuorvelCubeMapFace>(i), Square(4, 4, colors[i]).get());
  Tick();
  // The camera looks along one axis: the middle shows one face's colour, whole and unblended.
  const TAlphaColor mid = Probe(W / 2, H / 2);
  bool found = false;
  for (TAlphaColor c : colors) found |= NearColor(mid, c, 8);
  EXPECT_TRUE(found) << std::hex << uint32_t(mid);
}

TEST_F(SkyBox, TheProceduralSkyDrawsAnOpaqueBlueishDaySky) {
  AddSky();
  Tick();
  const TAlphaColorRec top(Probe(W / 2, 1));
  EXPECT_EQ(top.A, 255);
  EXPECT_GT(int(top.B), int(top.R)) << std::hex << uint32_t(Probe(W / 2, 1));
  EXPECT_FALSE(NearColor(Probe(W / 2, 1), claBlue, 8)) << "the viewport's own colour shows through";
}

TEST_F(SkyBox, SkyBoxesGoFirstInTheRenderingListAndStayOutOfTheSceneBounds) {
  auto* cube = AddCube(claRed, 1);
  auto* group = AddCube(claLime, 1);
  auto* first = AddSky();
  auto* second = New<TQuorvelSkyBox>(Form.get());
  second->SetParent(group);
  Viewport->UpdateRenderingList();
  const auto& list = Viewport->GetRenderingList();
  ASSERT_GE(list.size(), 4u);
  EXPECT_EQ(list[0], first) << "met after the one inside the group, so first";
  EXPECT_EQ(list[1], second);
  EXPECT_NE(std::find(list.begin() + 2, list.end(), cube), list.end());
  TBoundingBox bounds = TBoundingBox::Empty();
  TQuorvelRenderingHelper::UpdateSceneBounds(first, Viewport->GetComponentState(), bounds);
  EXPECT_TRUE(bounds.IsEmpty());
  Viewport->RebuildRenderingList();
  EXPECT_EQ(Viewport->GetRenderingList()[0], first);
}

TEST_F(SkyBox, EveryProgramLinksCleanAndLaysTheBlockOutAsTheRecord) {
  auto* sky = AddSky();
  PaintMarkedFaces(sky);
#define MEMBER(N) {"_" #N, offsetof(TSkyBoxShaderData, N)}
  const std::pair<const char*, size_t> members[] = {
      MEMBER(ModelViewProjMatrix), MEMBER(ModelMatrix), MEMBER(ViewMatrix), MEMBER(ProjMatrix),
      MEMBER(TimeInfo), MEMBER(EyePos), MEMBER(Diffuse), MEMBER(Emissive), MEMBER(Resolution),
      MEMBER(CrescentOfs), MEMBER(CrescentMoon), MEMBER(MoonSurface), MEMBER(DepolarizationFactor),
      MEMBER(Luminance), MEMBER(MieCoefficient), MEMBER(MieDirectionalG), MEMBER(MieV), MEMBER(MieZenithLength),
      MEMBER(Reserve1), MEMBER(MieKCoefficient), MEMBER(Primaries), MEMBER(NumMolecules), MEMBER(Rayleigh),
      MEMBER(RayleighZenithLength), MEMBER(RefractiveIndex), MEMBER(SunAngularDiameterDegrees),
      MEMBER(SunIntensityFactor), MEMBER(SunIntensityFalloffSteepness), MEMBER(TonemapWeighting),
      MEMBER(Turbidity), MEMBER(Inclination), MEMBER(Azimuth), MEMBER(StarDensity), MEMBER(StarProbe),
      MEMBER(StarSize), MEMBER(StarSpark), MEMBER(StarBrightness), MEMBER(Reserve2), MEMBER(StarColor),
      MEMBER(CloudColor), MEMBER(CloudIterations), MEMBER(CloudFrequency), MEMBER(CloudAmplitude),
      MEMBER(FogMode), MEMBER(FogDensity), MEMBER(FogStart), MEMBER(FogEnd), MEMBER(Reserve3),
      MEMBER(FogColor), MEMBER(Settings)};
#undef MEMBER
  for (TQuorvelSkyBoxMode mode :
       {TQuorvelSkyBoxMode::ProceduralSkyBox, TQuorvelSkyBoxMode::Blank, TQuorvelSkyBoxMode::CubeMapSkyBox}) {
    sky->SetMode(mode);
    Tick();
    TShaderProgram* program = ProgramOf(sky->SkyMaterial(), mode);
    ASSERT_NE(program, nullptr) << int(mode);
    const GLuint prog = GLuint(program->GetProg());
    GLint linked = 0, logLength = 0;
    glGetProgramiv(prog, GL_LINK_STATUS, &linked);
    glGetProgramiv(prog, GL_INFO_LOG_LENGTH, &logLength);
    EXPECT_EQ(linked, GL_TRUE);
    std::string log(size_t(std::max(logLength, 1)), '\0');
    glGetProgramInfoLog(prog, GLsizei(log.size()), nullptr, log.data());
    EXPECT_EQ(log.find_first_not_of('\0'), std::string::npos) << log;

    const GLuint block = glGetUniformBlockIndex(prog, "SkyBoxShaderData");
    ASSERT_NE(block, GL_INVALID_INDEX);
    GLint size = 0;
    glGetActiveUniformBlockiv(prog, block, GL_UNIFORM_BLOCK_DATA_SIZE, &size);
    EXPECT_EQ(size, GLint(sizeof(TSkyBoxShaderData)));
    for (const auto& [name, offset] : members) {
      GLuint index = GL_INVALID_INDEX;
      glGetUniformIndices(prog, 1, &name, &index);
      ASSERT_NE(index, GL_INVALID_INDEX) << name;
      GLint glOffset = -1;
      glGetActiveUniformsiv(prog, 1, &index, GL_UNIFORM_OFFSET, &glOffset);
      EXPECT_EQ(size_t(glOffset), offset) << name << " in mode " << int(mode);
    }
    EXPECT_GE(program->IndexOfUniformBuffer("SkyBoxShaderData"), 0);
  }
}

TEST_F(SkyBox, TheFogFieldsFollowTheViewportUnlessTheSkyForbidsFog) {
  auto* sky = AddSky();
  sky->SetMode(TQuorvelSkyBoxMode::Blank);
  Viewport->SetFogStart(0);
  Viewport->SetFogEnd(0);
  Viewport->SetFogDensity(0.25f);
  const TSkyBoxShaderData& d = sky->SkyMaterial()->ShaderData();
  struct TCase {
    bool Fog, AllowFog;
    int32_t Mode;
  } cases[] = {{true, true, 3}, {true, false, 0}, {false, true, 2}, {false, false, 0}};
  for (const TCase& c : cases) {
    Viewport->SetFog(c.Fog);
    sky->SetAllowFog(c.AllowFog);
    Tick();
    EXPECT_EQ(d.FogMode, c.Mode) << c.Fog << c.AllowFog;
  }
  // The ranges the shader divides by.
  EXPECT_FLOAT_EQ(d.FogStart, 0.01f);
  EXPECT_FLOAT_EQ(d.FogEnd, 1);
  EXPECT_FLOAT_EQ(d.FogDensity, 0.25f);
  Viewport->SetFogStart(5000);
  Viewport->SetFogEnd(1e6f);
  Tick();
  EXPECT_FLOAT_EQ(d.FogStart, 1000);
  EXPECT_FLOAT_EQ(d.FogEnd, 100000);
}

TEST_F(SkyBox, TimeInfoCountsTheClocksSecondsSinceTheMaterialWasMade) {
  auto* sky = AddSky();
  sky->SetStarsEnabled(false);
  Time.AdvanceMs(2500);
  Tick();
  const TSkyBoxShaderData& d = sky->SkyMaterial()->ShaderData();
  EXPECT_FLOAT_EQ(d.TimeInfo.X, 2.5f);
  EXPECT_FLOAT_EQ(d.Settings.X, 0);
  EXPECT_FLOAT_EQ(d.Settings.Y, 1);
  EXPECT_FLOAT_EQ(d.Resolution.X, float(W));
  EXPECT_FLOAT_EQ(d.Resolution.Y, float(H));
}

TEST_F(SkyBox, ANewModeRegistersTheBlockOnItsProgramAndClearsOnlyTheSkysOwn) {
  // The other sky is drawn last, so its program is the current one when the first switches.
  auto* other = AddSky();
  auto* sky = AddSky();
  Viewport->RebuildRenderingList();
  Tick();
  TShaderProgram* procedural = ProgramOf(sky->SkyMaterial(), TQuorvelSkyBoxMode::ProceduralSkyBox);
  TShaderProgram* others = ProgramOf(other->SkyMaterial(), TQuorvelSkyBoxMode::ProceduralSkyBox);
  ASSERT_NE(procedural, nullptr);
  ASSERT_NE(others, nullptr);
  ASSERT_NE(procedural, others);
  ASSERT_EQ(TQuorvelContext::GetCurrentProgram(), others);
  ASSERT_GE(others->IndexOfUniformBuffer("SkyBoxShaderData"), 0);
  // Hidden, the other sky cannot register its block again in the next frame.
  other->SetVisible(false);
  sky->SetMode(TQuorvelSkyBoxMode::Blank);
  Tick();
  EXPECT_GE(others->IndexOfUniformBuffer("SkyBoxShaderData"), 0) << "another material's program was cleared";
  EXPECT_LT(procedural->IndexOfUniformBuffer("SkyBoxShaderData"), 0) << "the sky's previous program keeps its block";
  TShaderProgram* blank = ProgramOf(sky->SkyMaterial(), TQuorvelSkyBoxMode::Blank);
  ASSERT_NE(blank, nullptr);
  EXPECT_GE(blank->IndexOfUniformBuffer("SkyBoxShaderData"), 0);
}

TEST_F(SkyBox, AFreedMaterialLeavesNoProgramBehind) {
  auto* sky = AddSky();
  Tick();
  sky->SetMode(TQuorvelSkyBoxMode::Blank);
  Tick();
  std::vector<std::pair<uintptr_t, uintptr_t>> names;
  for (TQuorvelSkyBoxMode mode : {TQuorvelSkyBoxMode::ProceduralSkyBox, TQuorvelSkyBoxMode::Blank}) {
    TShaderProgram* program = ProgramOf(sky->SkyMaterial(), mode);
    ASSERT_NE(program, nullptr);
    names.emplace_back(program->GetVS(), program->GetPS());
  }
  Free(sky);
  // By the GL names: a later material must link programs of its own, not find these.
  for (const auto& [vs, ps] : names) EXPECT_EQ(TShaderProgramCache::Find(vs, ps), nullptr);
}

TEST_F(SkyBox, LinearFogBlendsTheFaceAtItsDistanceByTheFormula) {
  auto* sky = AddSky();
  sky->SetMode(TQuorvelSkyBoxMode::Blank);
  sky->SetDiffuse(claRed);
  CentredCamera();
  Viewport->SetFogColor(claBlue);
  Viewport->SetFogStart(100);
  Viewport->SetFogEnd(400);
  Tick();
  EXPECT_TRUE(NearColor(Probe(H / 2, H / 2), claRed, 2)) << "no fog: the Diffuse colour";
  Viewport->SetFog(true);
  Tick();
  // The face's middle lies 250 ahead: (end - 250) / (end - start) of the sky's own colour.
  const float f = (400.0f - 250.0f) / (400.0f - 100.0f);
  const TAlphaColorRec got(Probe(H / 2, H / 2));
  EXPECT_NEAR(got.R, 255 * f, 3);
  EXPECT_NEAR(got.B, 255 * (1 - f), 3);
  EXPECT_EQ(got.G, 0);
  // Further out, towards a corner, more fog.
  EXPECT_LT(TAlphaColorRec(Probe(1, 1)).R, got.R);
  sky->SetAllowFog(false);
  Tick();
  EXPECT_TRUE(NearColor(Probe(H / 2, H / 2), claRed, 2));
}

TEST_F(SkyBox, FromTheCentreEachDirectionShowsItsFaceWithTheMarkerWhereGLPutsIt) {
  auto* sky = AddSky();
  sky->SetMode(TQuorvelSkyBoxMode::CubeMapSkyBox);
  PaintMarkedFaces(sky);
  TQuorvelCamera* cam = CentredCamera();
  for (const TFaceView& v : FaceViews) {
    cam->ResetRotationAngle();
    cam->GetRotationAngle()->SetX(v.RotX);
    cam->GetRotationAngle()->SetY(v.RotY);
    const TVector3D look = cam->GetAbsoluteDirection();
    ASSERT_NEAR(look.X, v.Direction.X, 1e-4) << int(v.Face);
    ASSERT_NEAR(look.Y, v.Direction.Y, 1e-4) << int(v.Face);
    ASSERT_NEAR(look.Z, v.Direction.Z, 1e-4) << int(v.Face);
    Tick();
    ASSERT_EQ(Viewport->GetFrameBitmap()->GetWidth(), H);
    EXPECT_TRUE(NearColor(Probe(H / 2, H / 2), v.Color, 4))
        << int(v.Face) << ": " << std::hex << uint32_t(Probe(H / 2, H / 2));
    // The marker texel's middle, through GL's rule and the scale, into the world and onto the screen.
    const TPoint3D local = GLDirection(v.Face, 0.125f, 0.125f);
    const TPointF at = Viewport->WorldToScreen(TPoint3D(local.X, -local.Y, local.Z) * 250.0f);
    ASSERT_TRUE(at.X >= 0 && at.X < H && at.Y >= 0 && at.Y < H) << int(v.Face);
    // Linear filtering lets the face colour in by the pixel's offset from the texel's middle.
    EXPECT_TRUE(NearColor(Probe(int32_t(at.X), int32_t(at.Y)), claBlack, 40))
        << int(v.Face) << " at " << at.X << ", " << at.Y << ": " << std::hex
        << uint32_t(Probe(int32_t(at.X), int32_t(at.Y)));
  }
}

TEST_F(SkyBox, AnEnvironmentCubeMapDrawnFromTheCentreHoldsEachDirectionsFace) {
  auto* sky = AddSky();
  sky->SetMode(TQuorvelSkyBoxMode::CubeMapSkyBox);
  PaintMarkedFaces(sky);
  auto* pass = New<TQuorvelRenderPassEnvironment>(Viewport, "environment");
  pass->SetViewport(Viewport);
  pass->SetMapSize(16);
  Tick();
  TTexture* map = pass->GetOutputTexture();
  ASSERT_NE(map, nullptr);
  ASSERT_EQ(map->GetWidth(), 16);
  // The map's six faces as GL holds them, first row first.
  std::vector<uint8_t> faces(6 * 16 * 16 * 4);
  glBindTexture(GL_TEXTURE_CUBE_MAP, GLuint(map->GetHandle()));
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  for (int i = 0; i < 6; ++i)
    glGetTexImage(GL_TEXTURE_CUBE_MAP_POSITIVE_X + GLenum(i), 0, GL_RGBA, GL_UNSIGNED_BYTE, faces.data() + i * 1024);
  glBindTexture(GL_TEXTURE_CUBE_MAP, 0);
  auto texel = [&](int AFace, float s, float t) {
    const int x = std::clamp(int(s * 16), 0, 15), y = std::clamp(int(t * 16), 0, 15);
    const uint8_t* p = faces.data() + AFace * 1024 + (y * 16 + x) * 4;
    return MakeAlphaColor(p[0], p[1], p[2], p[3]);
  };
  for (const TFaceView& v : FaceViews) {
    // The map's face towards the sky face's direction shows that face in its middle.
    int face = 0;
    float s = 0, t = 0;
    GLFaceOf(v.Direction, face, s, t);
    EXPECT_TRUE(NearColor(texel(face, s, t), v.Color, 4))
        << int(v.Face) << " in map face " << face << ": " << std::hex << uint32_t(texel(face, s, t));
    // Sampling the map towards the marker finds it.
    const TPoint3D local = GLDirection(v.Face, 0.125f, 0.125f);
    GLFaceOf(TPoint3D(local.X, -local.Y, local.Z), face, s, t);
    EXPECT_TRUE(NearColor(texel(face, s, t), claBlack, 40))
        << int(v.Face) << " marker in map face " << face << " at " << s << ", " << t << ": " << std::hex
        << uint32_t(texel(face, s, t));
  }
}

TEST_F(SkyBox, AfterAMismatchTheFacesBeforeItShowAndAChangedFaceUploadsAgain) {
  auto* sky = AddSky();
  sky->SetMode(TQuorvelSkyBoxMode::CubeMapSkyBox);
  TQuorvelCamera* cam = CentredCamera();
  auto look = [&](const TFaceView& AView) {
    cam->ResetRotationAngle();
    cam->GetRotationAngle()->SetX(AView.RotX);
    cam->GetRotationAngle()->SetY(AView.RotY);
    Tick();
    return Probe(H / 2, H / 2);
  };
  // NegativeX and PositiveY stay empty: handed over without a size check.
  sky->SetTexture(TQuorvelCubeMapFace::PositiveX, Square(8, 8, claRed).get());
  sky->SetTexture(TQuorvelCubeMapFace::NegativeY, Square(4, 4, claYellow).get());
  try {
    sky->Render();
    ADD_FAILURE() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "All cubemap textures must have equal dimensions! (width 8 <> 4 or height 8 <> 4)");
  }
  EXPECT_TRUE(NearColor(look(FaceViews[0]), claRed, 4)) << "the face before the mismatch was uploaded";
  EXPECT_FALSE(NearColor(look(FaceViews[3]), claYellow, 4)) << "the mismatching face was not";
  sky->SetTexture(TQuorvelCubeMapFace::NegativeY, Square(8, 8, claYellow).get());
  EXPECT_TRUE(NearColor(look(FaceViews[3]), claYellow, 4)) << std::hex << uint32_t(Probe(H / 2, H / 2));
  EXPECT_TRUE(NearColor(look(FaceViews[0]), claRed, 4));
}

TEST_F(SkyBox, AContextResetHandsTheCubeMapToTheMaterialAgain) {
  const int32_t listeners = TMessageManager::DefaultManager().ListenerCount(typeid(TContextResetMessage));
  auto* sky = AddSky();
  EXPECT_EQ(TMessageManager::DefaultManager().ListenerCount(typeid(TContextResetMessage)), listeners + 1);
  sky->SetMode(TQuorvelSkyBoxMode::CubeMapSkyBox);
  PaintMarkedFaces(sky);
  Tick();
  TQuorvelSkyBoxMaterial* m = sky->SkyMaterial();
  TTexture* texture = sky->GetSkyMaterialSource()->GetCubeMap()->GetTexture();
  ASSERT_NE(texture, nullptr);
  EXPECT_EQ(m->GetCubeMap(), texture);
  m->AssignCubeMapTexture(nullptr);
  TMessageManager::DefaultManager().SendMessage(nullptr, TContextResetMessage());
  EXPECT_EQ(m->GetCubeMap(), sky->GetSkyMaterialSource()->GetCubeMap()->GetTexture());
  Free(sky);
  EXPECT_EQ(TMessageManager::DefaultManager().ListenerCount(typeid(TContextResetMessage)), listeners);
}

TEST_F(SkyBox, TheProceduralSkyIsNearWhiteTowardsItsSun) {
  auto* sky = AddSky();
  sky->SetStarsEnabled(false);
  sky->SetCloudsEnabled(false);
  sky->SetCrescentMoon(0);
  // With the eye at the centre: Azimuth 0.25 turns the sun into the Y-Z plane, Inclination 1/3
  // lifts it 30 degrees above the horizon ahead, (0, -1/2, sqrt(3)/2).
  sky->SetAzimuth(0.25f);
  sky->SetInclination(1.0f / 3.0f);
  CentredCamera();
  Tick();
  const TPointF sun = Viewport->WorldToScreen(TPoint3D(0, -0.5f, std::sqrt(3.0f) / 2) * 250.0f);
  const TAlphaColorRec bright(Probe(int32_t(sun.X), int32_t(sun.Y)));
  EXPECT_GE(std::min({bright.R, bright.G, bright.B}), 235) << std::hex << uint32_t(Probe(int32_t(sun.X), int32_t(sun.Y)));
  // At the sun's height, far to its side: the disc and its glow are gone.
  const int32_t side = int32_t(sun.X) > H / 2 ? 1 : H - 2;
  const TAlphaColorRec aside(Probe(side, int32_t(sun.Y)));
  EXPECT_LT(std::min({aside.R, aside.G, aside.B}), 200) << std::hex << uint32_t(Probe(side, int32_t(sun.Y)));
  // Below the horizon, away from the sun: far from white.
  const TAlphaColorRec low(Probe(H / 2, H - 2));
  EXPECT_LT(int(low.R) + low.G + low.B, 3 * 200) << std::hex << uint32_t(Probe(H / 2, H - 2));
}

TEST_F(SkyBox, AFreedMaterialTakesItsShaderNamesWithIt) {
  auto* sky = AddSky();
  const std::string name = Format("SkyBoxProc-%d.fps", {static_cast<int64_t>(reinterpret_cast<intptr_t>(sky->SkyMaterial()))});
  Tick();
  EXPECT_NE(TShaderManager::FindShader(name), nullptr);
  const size_t count = TShaderManager::ShaderCount();
  Free(sky);
  EXPECT_EQ(TShaderManager::FindShader(name), nullptr);
  EXPECT_EQ(TShaderManager::ShaderCount(), count - 5);
}

}  // namespace
}  // namespace quorvel
