// Engine textures and texture bitmaps: settings, CPU buffers, and the GL work of creating,
// uploading, clearing and reading back 2D, cube-map, 3D and array textures.
#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "framework/io/Path.h"
#include "framework/rtl/Encoding.h"
#include "framework/rtl/Log.h"
#include "lib/context/ContextTexturing.h"
#include "lib/context/opengl/ContextTexturingOpenGL.h"
#include "tests/context/ContextTestFixture.h"

namespace quorvel {
namespace {

using PF = TPixelFormatEx;
using DT = TQuorvelTextureDataType;
using Kind = TQuorvelTextureKind;

GLint TexLevelParam(GLenum ATarget, GLuint AName, GLenum ABinding, GLint ALevel, GLenum AParam) {
  GLint saved = 0, value = 0;
  glGetIntegerv(ABinding, &saved);
  glBindTexture(ATarget, AName);
  glGetTexLevelParameteriv(ATarget, ALevel, AParam, &value);
  glBindTexture(ATarget, static_cast<GLuint>(saved));
  return value;
}

GLint TexParam(GLenum ATarget, GLuint AName, GLenum ABinding, GLenum AParam) {
  GLint saved = 0, value = 0;
  glGetIntegerv(ABinding, &saved);
  glBindTexture(ATarget, AName);
  glGetTexParameteriv(ATarget, AParam, &value);
  glBindTexture(ATarget, static_cast<GLuint>(saved));
  return value;
}

std::vector<uint8_t> Bytes(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = uint8_t(i * 31 + seed);
  return v;
}

// --- settings without GL ----------------------------------------------------------------------

TEST(QuorvelTexture, DefaultsAndInstalledClass) {
  TOwned<TQuorvelTexture> tex(TQuorvelTexture::Create());
  EXPECT_EQ(tex->ClassName(), "TOpenGLQuorvelTexture");
  EXPECT_EQ(tex->GetKind(), Kind::Texture2D);
  EXPECT_EQ(tex->GetTextureUnit(), -1);
  EXPECT_EQ(tex->GetComponents(), PF::RGBA8);
  EXPECT_EQ(tex->GetFormat(), PF::BGRA);
  EXPECT_EQ(tex->GetWrapS(), TQuorvelTextureWrap::Repeated);
  EXPECT_EQ(tex->GetWrapR(), TQuorvelTextureWrap::Repeated);
  EXPECT_EQ(tex->GetBuffer(), nullptr);
}

TEST(QuorvelTexture, ABitmapBecomesAnEngineTextureOfItsSize) {
  EXPECT_EQ(TContextOpenGLWindows::StaticMeta()->DoBitmapToTexture(nullptr), nullptr);
  for (bool engineBitmap : {false, true}) {
    TOwned<TBitmap> bitmap(engineBitmap ? TQuorvelTextureBitmap::Create(5, 3) : New<TBitmap>(5, 3));
    TOwned<TTexture> texture(TContextOpenGLWindows::StaticMeta()->DoBitmapToTexture(bitmap.get()));
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(texture->ClassName(), "TOpenGLQuorvelTexture") << engineBitmap;
    EXPECT_EQ(texture->GetWidth(), 5);
    EXPECT_EQ(texture->GetHeight(), 3);
  }
}

TEST(QuorvelTextureBitmap, DefaultsAndFormatRules) {
  TOwned<TQuorvelTextureBitmap> bmp(TQuorvelTextureBitmap::Create(4, 4));
  EXPECT_EQ(bmp->ClassName(), "TOpenGLQuorvelTextureBitmap");
  EXPECT_EQ(bmp->GetComponents(), PF::RGBA8);
  EXPECT_EQ(bmp->GetFormat(), PF::BGRA);
  EXPECT_EQ(bmp->GetWrapT(), TQuorvelTextureWrap::ClampToEdge);
  EXPECT_EQ(bmp->GetMinFilter(), TTextureFilter::Linear);
  EXPECT_TRUE(bmp->GetBitmapStates().IsEmpty());
  try {
    bmp->SetFormat(PF::RGBA8);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "invalid texture format");
  }
  EXPECT_EQ(bmp->GetFormat(), PF::BGRA);
  bmp->SetFormat(PF::Depth);
  EXPECT_EQ(bmp->GetFormat(), PF::Depth);
}

TEST(QuorvelTextureBitmap, ValidateBufferSizesFromTheTransferFormat) {
  struct TCase {
    PF Format;
    DT Type;
    Kind TextureKind;
    int64_t Expected;
  };
  const TCase cases[] = {
      {PF::BGRA, DT::dtUnsignedByte, Kind::Texture2D, 0},          // the bitmap's own pixels
      {PF::RGB, DT::dtUnsignedByte, Kind::Texture2D, 12288},
      {PF::RGBA, DT::dtFloat, Kind::Texture2D, 65536},
      {PF::DepthStencil, DT::dtFloat, Kind::Texture2D, 32768},      // 8-byte packed depth-stencil
      {PF::RGBA, DT::dtFloat, Kind::Texture3D, 0},
  };
  for (const TCase& c : cases) {
    TOwned<TQuorvelTextureBitmap> bmp(TQuorvelTextureBitmap::Create(64, 64));
    bmp->BeginSetup();
    bmp->SetFormat(c.Format);
    bmp->SetDataType(c.Type);
    bmp->SetKind(c.TextureKind);
    bmp->EndSetup();
    EXPECT_EQ(bmp->GetBufferSize(), c.Expected) << TPixelFormatExHelper::ToString(c.Format);
    EXPECT_EQ(bmp->GetBuffer() != nullptr, c.Expected > 0);
  }
}

TEST(QuorvelTextureBitmap, BufferOfAnEarlierFormatIsDropped) {
  // A buffer kept at its old size would be preferred by uploads and read past its end.
  TOwned<TQuorvelTextureBitmap> bmp(TQuorvelTextureBitmap::Create(64, 64));
  bmp->SetFormat(PF::RGB);
  bmp->ValidateBuffer();
  ASSERT_EQ(bmp->GetBufferSize(), 12288);
  bmp->SetSize(8, 8);
  bmp->SetFormat(PF::BGRA);
  bmp->ValidateBuffer();
  EXPECT_EQ(bmp->GetBuffer(), nullptr);
  EXPECT_EQ(bmp->GetBufferSize(), 0);
}

TEST(QuorvelTextureBitmap, SetupNestsAndValidatesOnce) {
  TOwned<TQuorvelTextureBitmap> bmp(TQuorvelTextureBitmap::Create(64, 64));
  bmp->BeginSetup();
  bmp->BeginSetup();
  bmp->SetFormat(PF::RGB);
  bmp->EndSetup();
  EXPECT_FALSE(bmp->GetBitmapStates().Contains(TQuorvelTextureBitmapState::bsUpdating));
  EXPECT_EQ(bmp->GetBufferSize(), 0);
  bmp->EndSetup();
  EXPECT_EQ(bmp->GetBufferSize(), 12288);
  bmp->SetFormat(PF::RGBA);
  bmp->EndSetup();
  EXPECT_EQ(bmp->GetBufferSize(), 12288);
}

TEST(QuorvelTextureBitmap, UnknownDataTypeRaises) {
  TOwned<TQuorvelTextureBitmap> bmp(TQuorvelTextureBitmap::Create(4, 4));
  bmp->SetDataType(static_cast<DT>(12));
  try {
    bmp->ValidateBuffer();
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "failed to retrieve datatype size - unknown datatype");
  }
}

TEST(QuorvelTextureBitmap, AssignKeepsProtectedFormatSettings) {
  TOwned<TQuorvelTextureBitmap> source(TQuorvelTextureBitmap::Create(2, 2));
  source->SetComponents(PF::RGBA32F);
  source->SetFormat(PF::RGBA);
  source->SetDataType(DT::dtFloat);
  source->SetKind(Kind::CubeMap);
  source->SetWrapS(TQuorvelTextureWrap::MirroredRepeat);
  TOwned<TQuorvelTextureBitmap> dest(TQuorvelTextureBitmap::Create());
  dest->SetProtectFormatSettings(true);
  dest->Assign(source.get());
  EXPECT_EQ(dest->GetComponents(), PF::RGBA8);
  EXPECT_EQ(dest->GetFormat(), PF::BGRA);
  EXPECT_EQ(dest->GetDataType(), DT::dtUnsignedByte);
  EXPECT_EQ(dest->GetKind(), Kind::CubeMap);
  EXPECT_EQ(dest->GetWrapS(), TQuorvelTextureWrap::MirroredRepeat);
  EXPECT_EQ(dest->GetWidth(), 2);
  dest->SetProtectFormatSettings(false);
  dest->Assign(source.get());
  EXPECT_EQ(dest->GetComponents(), PF::RGBA32F);
  EXPECT_EQ(dest->GetDataType(), DT::dtFloat);
}

TEST(QuorvelTexture, AssignCopiesEngineSettings) {
  TOwned<TQuorvelTexture> source(TQuorvelTexture::Create());
  source->SetKind(Kind::Array2D);
  source->SetTextureUnit(3);
  source->SetDepth(7);
  source->SetMipMapLevels(2);
  source->SetStyle({TTextureStyle::MipMaps});
  TOwned<TQuorvelTexture> dest(TQuorvelTexture::Create());
  dest->Assign(source.get());
  EXPECT_EQ(dest->GetKind(), Kind::Array2D);
  EXPECT_EQ(dest->GetTextureUnit(), 3);
  EXPECT_EQ(dest->GetDepth(), 7);
  EXPECT_EQ(dest->GetMipMapLevels(), 2);
  EXPECT_TRUE(dest->GetStyleEx().Contains(TTextureStyle::MipMaps));
}

// --- GL -----------------------------------------------------------------------------------------

class TextureGL : public ::testing::Test, protected TGLErrorCheck {
protected:
  void SetUp() override {
    testkit::UseSharedContext();
    Folder = TPath::Combine(TPath::GetTempPath(), "quorvel-texture-" + std::to_string(getpid()));
    std::filesystem::create_directories(Folder);
    SystemFolders::Set(TSystemFolder::Public, Folder);
  }
  void TearDown() override {
    SystemFolders::Reset(TSystemFolder::Public);
    std::error_code ec;
    std::filesystem::remove_all(Folder, ec);
    CheckGLErrorsLeft();
  }
  std::string ReportPath() const { return TPath::Combine(Folder, "quorvel3d.context.log"); }

  static TQuorvelTexture* NewTexture(Kind AKind, int32_t W, int32_t H, int32_t D = 0) {
    TQuorvelTexture* tex = TQuorvelTexture::Create();
    tex->SetKind(AKind);
    tex->SetSize(W, H);
    tex->SetDepth(D);
    return tex;
  }

  std::string Folder;
};

TEST_F(TextureGL, NoneFormatCreatesNothingAndExistingHandleIsReused) {
  TOwned<TQuorvelTexture> tex(NewTexture(Kind::Texture2D, 4, 4));
  tex->SetPixelFormat(TPixelFormat::None);
  tex->Initialize();
  EXPECT_EQ(tex->GetHandle(), 0u);
  tex->SetPixelFormat(TPixelFormat::BGRA);
  GLuint name = 0;
  glGenTextures(1, &name);
  tex->SetHandle(name);
  tex->Initialize();
  EXPECT_EQ(tex->GetHandle(), name);
  EXPECT_EQ(TexLevelParam(GL_TEXTURE_2D, name, GL_TEXTURE_BINDING_2D, 0, GL_TEXTURE_WIDTH), 4);
}

TEST_F(TextureGL, StalePendingErrorIsLoggedAndTheTextureStillCreated) {
  TOwned<TQuorvelTexture> tex(NewTexture(Kind::Texture2D, 4, 4));
  glEnable(0xFFFF);  // leaves GL_INVALID_ENUM pending
  TLogCapture log;
  tex->Initialize();
  EXPECT_NE(tex->GetHandle(), 0u);
  EXPECT_TRUE(log.Contains("<WARNING> "));
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(TextureGL, FailedCreationWritesTheReportAndReplacesAnOldOne) {
  TFile::WriteAllText(ReportPath(), "an older report\r\nwith two lines\r\n");
  TOwned<TQuorvelTexture> tex(NewTexture(Kind::Texture2D, 4, 4));
  tex->SetComponents(PF::BGRA);  // GL has no BGRA internal format
  std::string message;
  try {
    tex->Initialize();
    FAIL() << "no exception";
  } catch (const EContext3DException& e) {
    message = e.Message();
  }
  EXPECT_EQ(message,
            "Textur für 'TContextOpenGLWindows (Error = 1281) internal-format=BGRA, format=BGRA, type=UnsignedByte' "
            "kann nicht erstellt werden.");
  const auto* gl = TContextOpenGLWindows::StaticMeta();
  const std::string expected = "Error: " + message + "\r\nVendor-Name: " + gl->PlatformGetVendorName() +
                               "\r\nRenderer-Name: " + gl->PlatformGetRendererName() +
                               "\r\nVersion: " + gl->PlatformGetVersion() +
                               "\r\nExtensions: " + gl->PlatformGetExtensionString() +
                               "\r\nMaxTextureSize: " + std::to_string(gl->PlatformMaxTextureSize()) +
                               "\r\nMaxTexture3DSize: " + std::to_string(gl->PlatformMaxTexture3DSize()) +
                               "\r\nTextureUnitCount: " + std::to_string(gl->PlatformTextureUnitCount()) +
                               "\r\nMaxTextureImageUnits: " + std::to_string(gl->PlatformMaxTextureImageUnits()) +
                               "\r\nMaxVertexShaderUniformBlocks: " +
                               std::to_string(gl->PlatformMaxVertexShaderUniformBlocks()) +
                               "\r\nMaxFragmentShaderUniformBlocks: " +
                               std::to_string(gl->PlatformMaxFragmentShaderUniformBlocks()) +
                               "\r\nMaxUniformBlockSize: " + std::to_string(gl->PlatformMaxUniformBlockSize()) +
                               "\r\nMaxDrawBuffers: " + std::to_string(gl->PlatformMaxDrawBuffers()) + "\r\n";
  EXPECT_EQ(TFile::ReadAllText(ReportPath(), TEncoding::ANSI()), expected);
  // ANSI: the German text is one byte per character, no byte-order mark.
  const TBytes raw = TFile::ReadAllBytes(ReportPath());
  ASSERT_GT(raw.size(), 13u);
  EXPECT_EQ(raw[15], 0xFC);  // "Error: Textur f" + 'ü'
  EXPECT_EQ(tex->GetHandle(), 0u);
}

TEST_F(TextureGL, UnwritableReportIsLoggedAndTheGLErrorRaised) {
  SystemFolders::Set(TSystemFolder::Public, TPath::Combine(Folder, "missing/folder"));
  TOwned<TQuorvelTexture> tex(NewTexture(Kind::Texture2D, 4, 4));
  tex->SetComponents(PF::BGR);
  TLogCapture log;
  try {
    tex->Initialize();
    FAIL() << "no exception";
  } catch (const EContext3DException& e) {
    EXPECT_EQ(e.Message().rfind("Textur für 'TContextOpenGLWindows (Error = ", 0), 0u) << e.Message();
  }
  EXPECT_TRUE(log.Contains("cannot write the context report"));
}

TEST_F(TextureGL, RenderTargetLosesMipMapsUnlessCubeMap) {
  TOwned<TQuorvelTexture> flat(NewTexture(Kind::Texture2D, 8, 8));
  flat->SetStyle({TTextureStyle::RenderTarget, TTextureStyle::MipMaps});
  flat->Initialize();
  EXPECT_EQ(TexParam(GL_TEXTURE_2D, GLuint(flat->GetHandle()), GL_TEXTURE_BINDING_2D, GL_TEXTURE_MIN_FILTER),
            GL_LINEAR);
  TOwned<TQuorvelTexture> cube(NewTexture(Kind::CubeMap, 8, 8));
  cube->SetStyle({TTextureStyle::RenderTarget, TTextureStyle::MipMaps});
  cube->Initialize();
  const auto name = GLuint(cube->GetHandle());
  EXPECT_EQ(TexParam(GL_TEXTURE_CUBE_MAP, name, GL_TEXTURE_BINDING_CUBE_MAP, GL_TEXTURE_MIN_FILTER),
            GL_LINEAR_MIPMAP_LINEAR);
  EXPECT_EQ(TexParam(GL_TEXTURE_CUBE_MAP, name, GL_TEXTURE_BINDING_CUBE_MAP, GL_TEXTURE_MAX_LEVEL), 9);
}

TEST_F(TextureGL, CubeMapUpdateFillsAllSixFaces) {
  TOwned<TQuorvelTexture> cube(NewTexture(Kind::CubeMap, 4, 4));
  cube->Initialize();
  const std::vector<uint8_t> pixels = Bytes(4 * 4 * 4, 5);
  cube->UpdateTexture(pixels.data(), 16);
  std::vector<uint8_t> back;
  int64_t size = 0;
  cube->RequestTextureData(back, size, 0);
  ASSERT_EQ(size, 6 * 64);
  for (int face = 0; face < 6; ++face)
    EXPECT_EQ(std::memcmp(back.data() + face * 64, pixels.data(), 64), 0) << face;
}

TEST_F(TextureGL, ImageTexture3DGetsACompleteHalvedMipChain) {
  TOwned<TQuorvelTexture> tex(NewTexture(Kind::ImageTexture3D, 16, 8, 4));
  tex->SetMipMapLevels(4);
  tex->Initialize();
  const auto name = GLuint(tex->GetHandle());
  EXPECT_EQ(TexParam(GL_TEXTURE_3D, name, GL_TEXTURE_BINDING_3D, GL_TEXTURE_MAX_LEVEL), 3);
  const GLint expected[4][3] = {{16, 8, 4}, {8, 4, 2}, {4, 2, 1}, {2, 1, 1}};
  for (int level = 0; level < 4; ++level) {
    EXPECT_EQ(TexLevelParam(GL_TEXTURE_3D, name, GL_TEXTURE_BINDING_3D, level, GL_TEXTURE_WIDTH), expected[level][0]);
    EXPECT_EQ(TexLevelParam(GL_TEXTURE_3D, name, GL_TEXTURE_BINDING_3D, level, GL_TEXTURE_HEIGHT), expected[level][1]);
    EXPECT_EQ(TexLevelParam(GL_TEXTURE_3D, name, GL_TEXTURE_BINDING_3D, level, GL_TEXTURE_DEPTH), expected[level][2]);
  }
  TOwned<TQuorvelTexture> single(NewTexture(Kind::ImageTexture3D, 4, 4, 4));
  single->SetMipMapLevels(1);
  single->Initialize();
  EXPECT_EQ(TexLevelParam(GL_TEXTURE_3D, GLuint(single->GetHandle()), GL_TEXTURE_BINDING_3D, 1, GL_TEXTURE_WIDTH), 0);
}

// Slices written through the bitmap survive a later update of the texture, which only
// re-specifies the storage when the size changed.
TEST_F(TextureGL, VolumeSlicesSurviveAnUpdate) {
  for (Kind kind : {Kind::Texture3D, Kind::Array2D}) {
    TOwned<TQuorvelTexture> tex(NewTexture(kind, 4, 4, 6));
    tex->Initialize();
    TOwned<TQuorvelTextureBitmap> bmp(TQuorvelTextureBitmap::Create(4, 4));
    bmp->SetKind(kind);
    bmp->SetTextureReference(tex.get());
    const std::vector<uint8_t> slices = Bytes(4 * 4 * 4 * 4, 9);
    bmp->Update3DSlice(4, slices.data(), int64_t(slices.size()));
    std::vector<uint8_t> back;
    int64_t size = 0;
    tex->RequestTextureData(back, size, 0);
    ASSERT_EQ(size, 4 * 4 * 4 * 6);
    EXPECT_EQ(std::memcmp(back.data(), slices.data(), slices.size()), 0);
    tex->UpdateTexture(nullptr, 16);
    tex->RequestTextureData(back, size, 0);
    EXPECT_EQ(std::memcmp(back.data(), slices.data(), slices.size()), 0) << "update erased the volume";
    // A buffer on the texture is uploaded whole.
    const std::vector<uint8_t> whole = Bytes(4 * 4 * 4 * 6, 77);
    tex->SetBuffer(const_cast<uint8_t*>(whole.data()));
    tex->SetBufferSize(int64_t(whole.size()));
    tex->UpdateTexture(nullptr, 16);
    tex->RequestTextureData(back, size, 0);
    EXPECT_EQ(back, whole);
    bmp->UnsetTextureReference();
  }
}

TEST_F(TextureGL, UpdateBufferOfOddWidthRGBReadsOnlyTheImage) {
  // Five RGB pixels a row: 15 bytes, which an alignment of 4 would read as 16.
  TOwned<TQuorvelTexture> tex(NewTexture(Kind::Texture2D, 5, 3));
  tex->SetFormat(PF::RGB);
  tex->Initialize();
  TOwned<TQuorvelTextureBitmap> bmp(TQuorvelTextureBitmap::Create(5, 3));
  bmp->SetFormat(PF::RGB);
  bmp->SetTextureReference(tex.get());
  const std::vector<uint8_t> pixels = Bytes(5 * 3 * 3, 1);
  auto* exact = new uint8_t[pixels.size()];  // no slack: ASan catches an over-read
  std::memcpy(exact, pixels.data(), pixels.size());
  bmp->UpdateBuffer(exact, int64_t(pixels.size()));
  delete[] exact;
  std::vector<uint8_t> back;
  int64_t size = 0;
  tex->RequestTextureData(back, size, 0);
  EXPECT_EQ(back, pixels);
  try {
    bmp->UpdateBuffer(pixels.data(), 44);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_NE(e.Message().find("Cannot upload texture for TOpenGLQuorvelTextureBitmap"), std::string::npos);
  }
  bmp->UnsetTextureReference();
}

// A half-float bitmap keeps its image in the upload buffer, sized by the transfer format and
// following the bitmap's size; a texture made from it uploads that buffer. Pixels that cannot
// hold the transfer format raise instead of being read past their end (ASan watches).
TEST_F(TextureGL, AHalfFloatBitmapBecomesATextureFromItsBuffer) {
  TOwned<TQuorvelTextureBitmap> bmp(TQuorvelTextureBitmap::Create(4, 4));
  bmp->BeginSetup();
  bmp->SetComponents(PF::RGBA16F);
  bmp->SetFormat(PF::RGBA);
  bmp->SetDataType(DT::dtHalfFloat);
  bmp->EndSetup();
  ASSERT_EQ(bmp->GetBufferSize(), 4 * 4 * 8);
  bmp->SetSize(8, 4);
  ASSERT_EQ(bmp->GetBufferSize(), 8 * 4 * 8);
  const std::vector<uint8_t> image = Bytes(8 * 4 * 8, 7);
  std::memcpy(bmp->GetBuffer(), image.data(), image.size());

  TOwned<TQuorvelTexture> tex(TQuorvelTexture::Create());
  tex->Assign(bmp.get());
  ASSERT_NE(tex->GetHandle(), 0u);
  std::vector<uint8_t> back;
  int64_t size = 0;
  tex->RequestTextureData(back, size, 0);
  EXPECT_EQ(back, image);

  // Components set outside a setup leave the bitmap without a buffer: its 8-bit pixels are
  // half the bytes a half-float upload reads.
  TOwned<TQuorvelTextureBitmap> plain(TQuorvelTextureBitmap::Create(4, 4));
  plain->SetComponents(PF::RGBA16F);
  plain->SetFormat(PF::RGBA);
  plain->SetDataType(DT::dtHalfFloat);
  ASSERT_EQ(plain->GetBuffer(), nullptr);
  TOwned<TQuorvelTexture> other(TQuorvelTexture::Create());
  try {
    other->Assign(plain.get());
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Cannot upload texture for TOpenGLQuorvelTexture: 64 bytes given, 128 needed");
  }
}

TEST_F(TextureGL, ClearZeroesEveryMipLevel) {
  TOwned<TQuorvelTexture> tex(NewTexture(Kind::Texture2D, 8, 8));
  tex->SetStyle({TTextureStyle::MipMaps});
  tex->SetMipMapLevels(4);
  tex->Initialize();
  const std::vector<uint8_t> pixels(8 * 8 * 4, 0xAB);
  tex->UpdateTexture(pixels.data(), 32);
  tex->Clear();
  for (int level = 0; level < 4; ++level) {
    std::vector<uint8_t> back;
    int64_t size = 0;
    EXPECT_FALSE(tex->RequestTextureData(back, size, level));
    EXPECT_EQ(size, 256);
    const int side = 8 >> level;
    for (int i = 0; i < side * side * 4; ++i) ASSERT_EQ(back[size_t(i)], 0) << "level " << level;
  }
  TOwned<TQuorvelTexture> none(TQuorvelTexture::Create());
  none->Clear();  // no GL texture: nothing
  std::vector<uint8_t> back{1, 2};
  int64_t size = 5;
  none->RequestTextureData(back, size, 0);
  EXPECT_TRUE(back.empty());
  EXPECT_EQ(size, 0);
}

TEST_F(TextureGL, CubeFaceNeedsAPowerOfTwoSquare) {
  TOwned<TQuorvelTextureBitmap> cube(TQuorvelTextureBitmap::Create(4, 4));
  cube->SetKind(Kind::CubeMap);
  for (auto size : {std::pair{256, 128}, std::pair{100, 100}}) {
    TOwned<TQuorvelTexture> face(NewTexture(Kind::Texture2D, size.first, size.second));
    try {
      cube->UpdateCubeMapFace(TQuorvelCubeMapFace::NegativeY, face.get(), nullptr, 0);
      FAIL() << "no exception";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(),
                "Invalid cube map face texture size! Cubemap texture needs to be even and dimension must be a power "
                "of 2 (2^x).");
    }
  }
  // A face written through the bitmap lands on that face only.
  TOwned<TQuorvelTexture> target(NewTexture(Kind::CubeMap, 4, 4));
  target->Initialize();
  target->Clear();
  cube->SetTextureReference(target.get());
  TOwned<TQuorvelTexture> face(NewTexture(Kind::Texture2D, 4, 4));
  const std::vector<uint8_t> pixels = Bytes(64, 3);
  face->SetBuffer(const_cast<uint8_t*>(pixels.data()));
  face->SetBufferSize(64);
  cube->UpdateCubeMapFace(TQuorvelCubeMapFace::NegativeY, face.get(), nullptr, 0);
  std::vector<uint8_t> back;
  int64_t size = 0;
  target->RequestTextureData(back, size, 0);
  EXPECT_EQ(std::memcmp(back.data() + 3 * 64, pixels.data(), 64), 0);
  EXPECT_EQ(back[2 * 64], 0);
  cube->UnsetTextureReference();
}

TEST_F(TextureGL, FinalizeReleasesTheGLTexture) {
  TOwned<TQuorvelTexture> tex(NewTexture(Kind::Texture2D, 2, 2));
  tex->Initialize();
  const auto name = GLuint(tex->GetHandle());
  ASSERT_TRUE(glIsTexture(name));
  tex->Finalize();
  EXPECT_EQ(tex->GetHandle(), 0u);
  EXPECT_FALSE(glIsTexture(name));
}

}  // namespace
}  // namespace quorvel
