// The pixel-format vocabulary: its tables and helpers, the GL maps, and every format taken
// through a real GL texture (create, upload, read back).
#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "framework/io/Path.h"
#include "framework/rtl/Log.h"
#include "lib/context/ContextTexturing.h"
#include "lib/context/opengl/ContextTexturingOpenGL.h"
#include "tests/context/ContextTestFixture.h"

namespace quorvel {
namespace {

using PF = TPixelFormatEx;
using DT = TQuorvelTextureDataType;

TEST(PixelFormatTable, IrregularRowsAreKept) {
  EXPECT_EQ(TPixelFormatExHelper::GetCorrespondingFormat(PF::RGB8), PF::BGR);
  EXPECT_EQ(TPixelFormatExHelper::GetCorrespondingFormat(PF::RGBA8), PF::BGRA);
  EXPECT_EQ(TPixelFormatExHelper::GetCorrespondingDataType(PF::RGBA32I), DT::dtUnsignedInt);
  EXPECT_EQ(TPixelFormatExHelper::GetCorrespondingDataType(PF::RGBA32UI), DT::dtInt);
  EXPECT_EQ(PixelFormatExBytes(PF::Depth), 1);
  EXPECT_EQ(PixelFormatExBytes(PF::StencilIndex), 4);
  EXPECT_EQ(PixelFormatExBytes(PF::Depth32Stencil8), 5);
  EXPECT_EQ(PixelFormatExBytes(PF::RGBA32F), 16);
  EXPECT_EQ(PixelFormatExBytes(static_cast<PF>(80)), 0);
}

TEST(PixelFormatTable, FirstTwentyFourMatchTheFrameworkFormats) {
  for (int i = 0; i < 24; ++i) {
    const auto f = static_cast<PF>(i);
    EXPECT_EQ(PixelFormatExBytes(f), PixelFormatBytes(static_cast<TPixelFormat>(i))) << i;
    EXPECT_EQ(TPixelFormatExHelper::ToString(f), EnumToString(static_cast<TPixelFormat>(i))) << i;
    EXPECT_EQ(TPixelFormatExHelper::ToPixelFormat(f), static_cast<TPixelFormat>(i));
  }
}

TEST(PixelFormatTable, NamesAndOutOfRangeOrdinals) {
  EXPECT_EQ(TPixelFormatExHelper::ToString(PF::Depth24Stencil8), "Depth24Stencil8");
  EXPECT_EQ(TPixelFormatExHelper::ToString(PF::R11F_G11F_B10F), "R11F_G11F_B10F");
  EXPECT_EQ(TPixelFormatExHelper::ToString(static_cast<PF>(80)), "?");
  EXPECT_EQ(TQuorvelTextureDataTypeHelper::ToString(DT::dtHalfFloat), "HalfFloat");
  EXPECT_EQ(TQuorvelTextureDataTypeHelper::ToString(DT::dt2Bytes), "2Bytes");
  EXPECT_EQ(TQuorvelTextureDataTypeHelper::ToString(static_cast<DT>(12)), "?");
}

TEST(PixelFormatTable, ToPixelFormatRefusesExtendedFormats) {
  try {
    TPixelFormatExHelper::ToPixelFormat(PF::R);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "failed to convert to TPixelFormat: R is only valid in TPixelFormatEx");
  }
}

TEST(PixelFormatTable, IntegerFormatsAreExactlyTheFourGroups) {
  int count = 0;
  for (int i = 0; i < PixelFormatExCount; ++i) {
    const bool expected = (i >= 27 && i <= 33) || (i >= 37 && i <= 43) || (i >= 52 && i <= 58) || (i >= 64 && i <= 71);
    EXPECT_EQ(TPixelFormatExHelper::IsIntegerTexture(static_cast<PF>(i)), expected) << i;
    count += expected;
    // The GL view agrees for every format.
    EXPECT_EQ(TPixelFormatExHelper::IsIntegerTexture(TPixelFormatExHelper::ToValue(static_cast<PF>(i))), expected)
        << i;
  }
  EXPECT_EQ(count, 29);
}

TEST(PixelFormatTable, CompatibleFormatPicksTheTransferFormat) {
  struct TCase {
    PF Comp, Format, Expected;
    bool Logs;
  };
  const TCase cases[] = {
      {PF::RGBA8, PF::BGRA, PF::BGRA, false},   {PF::RGBA32F, PF::BGRA, PF::RGBA, false},
      {PF::RGB16F, PF::BGR, PF::RGB, false},    {PF::RGBA8UI, PF::BGRA, PF::RGBAInteger, false},
      {PF::Depth24, PF::BGRA, PF::BGRA, true},  {PF::RGBA8, PF::RGBA, PF::RGBA, false},
      {PF::BGRA, PF::BGRA, PF::BGRA, false},    {PF::L, PF::BGR, PF::BGR, true},
  };
  for (const TCase& c : cases) {
    TLogCapture log;
    EXPECT_EQ(TPixelFormatExHelper::CompatibleFormat(c.Comp, c.Format), c.Expected)
        << TPixelFormatExHelper::ToString(c.Comp);
    EXPECT_EQ(log.Lines().size(), c.Logs ? 1u : 0u) << TPixelFormatExHelper::ToString(c.Comp);
  }
  TLogCapture log;
  TPixelFormatExHelper::CompatibleFormat(PF::Depth24, PF::BGRA);
  ASSERT_EQ(log.Lines().size(), 1u);
  EXPECT_EQ(log.Lines()[0],
            "TPixelFormatExHelper.CompatibleFormat failed, but ignored:\r\nBGRA (given) <> Depth (expected) (expected "
            "basis formats is different)");
}

TEST(PixelFormatTable, StrToTextureWrapTrimsAndIgnoresCase) {
  EXPECT_EQ(StrToTextureWrap(" Mirrored_Repeat "), TQuorvelTextureWrap::MirroredRepeat);
  EXPECT_EQ(StrToTextureWrap("CLAMP"), TQuorvelTextureWrap::Clamp);
  EXPECT_EQ(StrToTextureWrap("clamp_to_border"), TQuorvelTextureWrap::ClampToBorder);
  EXPECT_EQ(StrToTextureWrap("repeat"), TQuorvelTextureWrap::Repeated);
  EXPECT_EQ(StrToTextureWrap("wrap"), TQuorvelTextureWrap::ClampToEdge);
  EXPECT_EQ(StrToTextureWrap(""), TQuorvelTextureWrap::ClampToEdge);
}

TEST(PixelFormatGL, HelpersMapToGLConstants) {
  EXPECT_EQ(TPixelFormatExHelper::ToValue(PF::RGBA16), 0x881A);
  EXPECT_EQ(TPixelFormatExHelper::ToValue(PF::RGBA16F), 0x881A);
  EXPECT_EQ(TPixelFormatExHelper::ToValue(PF::Depth32Stencil8), 0x8CAD);
  EXPECT_EQ(TPixelFormatExHelper::ToValue(PF::None), 0);
  EXPECT_EQ(TPixelFormatExHelper::ToValue(TPixelFormat::BGRA), 0x80E1);
  EXPECT_TRUE(TPixelFormatExHelper::IsIntegerTexture(intptr_t(0x8D94)));
  EXPECT_FALSE(TPixelFormatExHelper::IsIntegerTexture(intptr_t(0x8058)));
  EXPECT_EQ(TQuorvelTextureWrapHelper::ToValue(TQuorvelTextureWrap::Clamp), 0x2900);
  EXPECT_EQ(TQuorvelTextureWrapHelper::ToValue(TQuorvelTextureWrap::Repeated), 0x2901);
  EXPECT_EQ(TQuorvelTextureWrapHelper::ToValue(TQuorvelTextureWrap::MirroredRepeat), 0x8370);
  EXPECT_EQ(TQuorvelTextureDataTypeHelper::ToValue(DT::dtUnsignedByte), 0x1401);
  EXPECT_EQ(TQuorvelTextureDataTypeHelper::ToValue(DT::dtHalfFloat), 0x140B);
  EXPECT_EQ(TQuorvelTextureDataTypeHelper::ToValue(DT::dtDouble), 0x140A);
}

TEST(PixelFormatGL, DepthStencilTransfersUsePackedTypes) {
  // GL refuses GL_DEPTH_STENCIL with GL_UNSIGNED_INT or GL_FLOAT.
  TOwned<TQuorvelTexture> tex(TQuorvelTexture::Create());
  tex->SetComponents(PF::Depth24Stencil8);
  tex->SetFormat(PF::DepthStencil);
  tex->SetDataType(DT::dtUnsignedInt);
  uint32_t comps, format, type;
  tex->GetFormatAndType(comps, format, type);
  EXPECT_EQ(comps, uint32_t(GL_DEPTH24_STENCIL8));
  EXPECT_EQ(format, uint32_t(GL_DEPTH_STENCIL));
  EXPECT_EQ(type, uint32_t(GL_UNSIGNED_INT_24_8));
  EXPECT_EQ(TextureTransferSize(tex.get(), 3, 1, 1), 12);
  tex->SetComponents(PF::Depth32Stencil8);
  tex->SetDataType(DT::dtFloat);
  tex->GetFormatAndType(comps, format, type);
  EXPECT_EQ(type, uint32_t(GL_FLOAT_32_UNSIGNED_INT_24_8_REV));
  EXPECT_EQ(TextureTransferSize(tex.get(), 3, 1, 1), 24);
}

TEST(PixelFormatGL, DefaultTextureFormatAndType) {
  TOwned<TQuorvelTexture> tex(TQuorvelTexture::Create());
  uint32_t comps, format, type;
  tex->GetFormatAndType(comps, format, type);
  EXPECT_EQ(comps, 0x8058u);
  EXPECT_EQ(format, 0x80E1u);
  EXPECT_EQ(type, 0x1401u);
}

// --- every format through GL ----------------------------------------------------------------

// Near: within 7% of the element range; Coarse: a channel of one bit (within half the range).
enum class TOutcome { Exact, Near, Coarse, Refused };

// What GL does with each row of the table (llvmpipe, GL 4.5 compatibility).
struct TFormatCase {
  PF Format;
  TOutcome Outcome;
};

constexpr TOutcome E = TOutcome::Exact, N = TOutcome::Near, C = TOutcome::Coarse, R = TOutcome::Refused;
const TFormatCase FormatCases[] = {
    {PF::RGB, E},          {PF::RGBA, E},         {PF::BGR, R},            {PF::BGRA, R},
    {PF::RGBA16, N},       {PF::BGR_565, R},      {PF::BGRA4, R},          {PF::BGR4, R},
    {PF::BGR5_A1, R},      {PF::BGR5, R},         {PF::BGR10_A2, R},       {PF::RGB10_A2, N},
    {PF::L, E},            {PF::LA, E},           {PF::LA4, E},            {PF::L16, N},
    {PF::Alpha, E},        {PF::R16F, N},         {PF::RG16F, N},          {PF::RGBA16F, N},
    {PF::R32F, E},         {PF::RG32F, E},        {PF::RGBA32F, E},        {PF::R, E},
    {PF::R8, E},           {PF::R8_SNORM, E},     {PF::RedInteger, R},     {PF::R8UI, E},
    {PF::R8I, E},          {PF::R16UI, E},        {PF::R16I, E},           {PF::R32UI, E},
    {PF::R32I, E},         {PF::RG, E},           {PF::RG8, E},            {PF::RG8_SNORM, E},
    {PF::RGInteger, R},    {PF::RG8UI, E},        {PF::RG8I, E},           {PF::RG16UI, E},
    {PF::RG16I, E},        {PF::RG32UI, E},       {PF::RG32I, E},          {PF::RGB8, E},
    {PF::SRGB8, E},        {PF::RGB565, N},       {PF::RGB8_SNORM, E},     {PF::R11F_G11F_B10F, N},
    {PF::RGB9_E5, N},      {PF::RGB16F, N},       {PF::RGB32F, E},         {PF::RGBInteger, R},
    {PF::RGB8UI, E},       {PF::RGB8I, E},        {PF::RGB16UI, E},        {PF::RGB16I, E},
    {PF::RGB32UI, E},      {PF::RGB32I, E},       {PF::RGBA8, E},          {PF::SRGB8_ALPHA8, E},
    {PF::RGBA8_SNORM, E},  {PF::RGB5_A1, C},      {PF::RGBA4, N},          {PF::RGBAInteger, R},
    {PF::RGBA8UI, E},      {PF::RGBA8I, E},       {PF::RGB10_A2UI, E},     {PF::RGBA16UI, E},
    {PF::RGBA16I, E},      {PF::RGBA32I, E},      {PF::RGBA32UI, E},       {PF::StencilIndex, E},
    {PF::Depth, N},        {PF::Depth16, N},      {PF::Depth24, N},        {PF::Depth32, N},
    {PF::Depth24Stencil8, N}, {PF::Depth32Stencil8, N}, {PF::DepthStencil, N},
};

uint16_t HalfOf(float v) {
  // Values k / 64 in [0, 1): exact in half precision.
  if (v == 0) return 0;
  int e = 0;
  const float m = std::frexp(v, &e);  // v = m * 2^e, m in [0.5, 1)
  const uint16_t exponent = static_cast<uint16_t>(e - 1 + 15);
  const uint16_t mantissa = static_cast<uint16_t>(std::lround((m * 2 - 1) * 1024));
  return static_cast<uint16_t>(exponent << 10 | mantissa);
}

float FloatOfHalf(uint16_t h) {
  const int exponent = h >> 10 & 0x1F, mantissa = h & 0x3FF;
  if (exponent == 0) return std::ldexp(float(mantissa), -24);
  return std::ldexp(1.0f + mantissa / 1024.0f, exponent - 15);
}

// Element values a texture of that transfer type holds without loss for its base format.
std::vector<uint8_t> MakePattern(GLenum AType, int64_t ASize, bool ASigned) {
  std::vector<uint8_t> bytes(static_cast<size_t>(ASize));
  switch (AType) {
    case GL_FLOAT:
      for (size_t i = 0; i * 4 < bytes.size(); ++i) {
        const float v = float((i * 7 + 3) % 64) / 64.0f;
        std::memcpy(&bytes[i * 4], &v, 4);
      }
      break;
    case GL_HALF_FLOAT:
      for (size_t i = 0; i * 2 < bytes.size(); ++i) {
        const uint16_t v = HalfOf(float((i * 7 + 3) % 64) / 64.0f);
        std::memcpy(&bytes[i * 2], &v, 2);
      }
      break;
    case GL_UNSIGNED_INT_24_8:
      for (size_t i = 0; i * 4 < bytes.size(); ++i) {
        const uint32_t v = (uint32_t((i * 97 + 5) % 4096) << 20) | (uint32_t(i * 13 + 1) & 0xFF);
        std::memcpy(&bytes[i * 4], &v, 4);
      }
      break;
    case GL_FLOAT_32_UNSIGNED_INT_24_8_REV:
      for (size_t i = 0; i * 8 < bytes.size(); ++i) {
        const float d = float((i * 7 + 3) % 64) / 64.0f;
        const uint32_t s = uint32_t(i * 13 + 1) & 0xFF;
        std::memcpy(&bytes[i * 8], &d, 4);
        std::memcpy(&bytes[i * 8 + 4], &s, 4);
      }
      break;
    case GL_UNSIGNED_INT:
    case GL_INT:
      // Within 10 bits, and the fourth component within 2 (RGB10_A2UI keeps them exactly).
      for (size_t i = 0; i * 4 < bytes.size(); ++i) {
        const uint32_t v = i % 4 == 3 ? uint32_t(i * 5 + 1) % 4 : uint32_t(i * 37 + 11) % 1024;
        std::memcpy(&bytes[i * 4], &v, 4);
      }
      break;
    default:
      // Bytes below 100 stay in range for every signed and unsigned integer element.
      for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t((i * 37 + 11) % (ASigned ? 100 : 256));
      break;
  }
  return bytes;
}

// The largest difference between two images, in units of the element type's range (floats
// and halves absolute).
double MaxDifference(GLenum AType, const std::vector<uint8_t>& A, const std::vector<uint8_t>& B) {
  double worst = 0;
  auto track = [&](double a, double b, double range) { worst = std::max(worst, std::fabs(a - b) / range); };
  const size_t n = std::min(A.size(), B.size());
  for (size_t i = 0; i < n;) {
    switch (AType) {
      case GL_FLOAT: {
        float a, b;
        std::memcpy(&a, &A[i], 4);
        std::memcpy(&b, &B[i], 4);
        track(a, b, 1);
        i += 4;
        break;
      }
      case GL_HALF_FLOAT: {
        uint16_t a, b;
        std::memcpy(&a, &A[i], 2);
        std::memcpy(&b, &B[i], 2);
        track(FloatOfHalf(a), FloatOfHalf(b), 1);
        i += 2;
        break;
      }
      case GL_UNSIGNED_INT_24_8: {
        uint32_t a, b;
        std::memcpy(&a, &A[i], 4);
        std::memcpy(&b, &B[i], 4);
        track(a >> 8, b >> 8, 16777215.0);
        track(a & 0xFF, b & 0xFF, 255);
        i += 4;
        break;
      }
      case GL_FLOAT_32_UNSIGNED_INT_24_8_REV: {
        float a, b;
        std::memcpy(&a, &A[i], 4);
        std::memcpy(&b, &B[i], 4);
        track(a, b, 1);
        track(A[i + 4], B[i + 4], 255);
        i += 8;
        break;
      }
      case GL_UNSIGNED_SHORT:
      case GL_SHORT: {
        uint16_t a, b;
        std::memcpy(&a, &A[i], 2);
        std::memcpy(&b, &B[i], 2);
        track(a, b, 65535.0);
        i += 2;
        break;
      }
      case GL_UNSIGNED_INT:
      case GL_INT: {
        uint32_t a, b;
        std::memcpy(&a, &A[i], 4);
        std::memcpy(&b, &B[i], 4);
        track(a, b, 4294967295.0);
        i += 4;
        break;
      }
      default:
        track(A[i], B[i], 255);
        ++i;
        break;
    }
  }
  return worst;
}

class PixelFormatRoundTrip : public ::testing::TestWithParam<TFormatCase> {
protected:
  void SetUp() override {
    testkit::UseSharedContext();
    // A folder of this process: test processes run side by side.
    Folder = TPath::Combine(TPath::GetTempPath(), "quorvel-pixelformat-" + std::to_string(getpid()));
    std::filesystem::create_directories(Folder);
    SystemFolders::Set(TSystemFolder::Public, Folder);
  }
  void TearDown() override {
    SystemFolders::Reset(TSystemFolder::Public);
    std::error_code ec;
    std::filesystem::remove_all(Folder, ec);
  }
  std::string Folder;
};

TEST_P(PixelFormatRoundTrip, CreatesUploadsAndReadsBack) {
  const TFormatCase c = GetParam();
  const std::string name = TPixelFormatExHelper::ToString(c.Format);
  TOwned<TQuorvelTexture> tex(TQuorvelTexture::Create());
  tex->SetSize(5, 3);  // odd width: rows of 1-, 2- and 3-byte pixels are not 4-byte aligned
  tex->SetComponents(c.Format);
  tex->SetFormat(TPixelFormatExHelper::GetCorrespondingFormat(c.Format));
  tex->SetDataType(TPixelFormatExHelper::GetCorrespondingDataType(c.Format));
  tex->SetMinFilter(TTextureFilter::Nearest);
  tex->SetMagFilter(TTextureFilter::Nearest);
  const std::string report = TPath::Combine(Folder, "quorvel3d.context.log");
  if (TFile::Exists(report)) TFile::Delete(report);
  TLogCapture log;
  bool refused = false;
  try {
    tex->Initialize();
  } catch (const EContext3DException& e) {
    refused = true;
    EXPECT_EQ(c.Outcome, TOutcome::Refused) << name << ": " << e.Message();
    EXPECT_EQ(e.Message().rfind("Textur für 'TContextOpenGLWindows (Error = ", 0), 0u) << e.Message();
    EXPECT_NE(e.Message().find(" internal-format=" + name + ", format="), std::string::npos) << e.Message();
    EXPECT_TRUE(TFile::Exists(report)) << name;
    EXPECT_EQ(tex->GetHandle(), 0u);
  }
  if (refused) return;
  ASSERT_NE(c.Outcome, TOutcome::Refused) << name << " was created";
  ASSERT_NE(tex->GetHandle(), 0u) << name;
  EXPECT_FALSE(TFile::Exists(report)) << name;

  uint32_t comps, format, type;
  tex->GetFormatAndType(comps, format, type);
  const int64_t size = TextureTransferSize(tex.get(), 5, 3, 1);
  ASSERT_GT(size, 0) << name;
  const bool signedType = type == GL_BYTE || type == GL_SHORT || type == GL_INT;
  std::vector<uint8_t> pixels = MakePattern(type, size, signedType);
  tex->UpdateTexture(pixels.data(), static_cast<int32_t>(size / 3));
  std::vector<uint8_t> back;
  int64_t backSize = -1;
  EXPECT_FALSE(tex->RequestTextureData(back, backSize, 0));
  ASSERT_EQ(backSize, size) << name;
  const double diff = MaxDifference(type, pixels, back);
  if (c.Outcome == TOutcome::Exact)
    EXPECT_EQ(diff, 0.0) << name;
  else
    EXPECT_LE(diff, c.Outcome == TOutcome::Near ? 0.07 : 0.5) << name;
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, PixelFormatRoundTrip, ::testing::ValuesIn(FormatCases),
                         [](const ::testing::TestParamInfo<TFormatCase>& info) {
                           return TPixelFormatExHelper::ToString(info.param.Format);
                         });

}  // namespace
}  // namespace quorvel
