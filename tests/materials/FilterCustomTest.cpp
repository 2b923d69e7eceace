// The engine's image filters: their registry, records, matrix routines and output sizes, and
// what they draw on llvmpipe through the framework's filter runner.
#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "framework/gui3d/Filter.h"
#include "framework/rtl/Finally.h"
#include "lib/materials/FilterCustom.h"
#include "tests/context/ContextTestFixture.h"

namespace quorvel {
namespace {

// A matrix written by mathematical rows.
TAffineMatrix Rows(float a11, float a12, float a13, float a21, float a22, float a23, float a31, float a32, float a33) {
  TAffineMatrix m;
  m.m11 = a11, m.m12 = a12, m.m13 = a13;
  m.m21 = a21, m.m22 = a22, m.m23 = a23;
  m.m31 = a31, m.m32 = a32, m.m33 = a33;
  return m;
}

void ExpectMatrixNear(const TAffineMatrix& A, const TAffineMatrix& B, float ATolerance = 1e-6f) {
  const float* a = &A.m11;
  const float* b = &B.m11;
  for (int i = 0; i < 9; ++i) EXPECT_NEAR(a[i], b[i], ATolerance) << "stored element " << i;
}

template <class T>
TOwned<T> NewFilter() {
  return TOwned<T>(static_cast<T*>(T::StaticMeta()->CreateFilter()));
}

// ---- registry and records --------------------------------------------------------------------

TEST(FilterRegistry, HoldsExactlyTheEightEngineFiltersByCategoryInOrder) {
  EXPECT_EQ(TFilterManager::Categories(), (std::vector<std::string>{"Geometry", "Blur", "Style", "Transition"}));
  const std::vector<const TFilterClass*> expected{
      TQuorvelAffineFilter::StaticMeta(),     TQuorvelPerspectiveFilter::StaticMeta(),
      TQuorvelCropFilter::StaticMeta(),       TQuorvelGaussianBlurFilter::StaticMeta(),
      TQuorvelGlowFilter::StaticMeta(),       TQuorvelInnerGlowFilter::StaticMeta(),
      TQuorvelReflectionFilter::StaticMeta(), TQuorvelSwipeFilter::StaticMeta()};
  EXPECT_EQ(TFilterManager::FilterClasses(), expected);
  EXPECT_EQ(TFilterManager::FiltersOfCategory("Style").size(), 3u);
  EXPECT_EQ(TFilterManager::FilterByName("gaussianblur"), TQuorvelGaussianBlurFilter::StaticMeta());
  EXPECT_EQ(TFilterManager::FilterByName("Pixelate"), nullptr);

  // The swap is repeatable: a second run leaves the same eight, not sixteen.
  TFilterManager::RegisterFilter("Extra", TQuorvelCropFilter::StaticMeta());  // already listed: stays put
  TFilterManagerHack::ReregisterFilters();
  EXPECT_EQ(TFilterManager::FilterClasses(), expected);
}

struct TValueCase {
  const TFilterClass* Class;
  const char* Name;
  TFilterValueType Type;
  TValue Default, Min, Max;
  const char* Desc;
};

TEST(FilterRecords, NamesDescriptionsAndValuesAreTheSystemsOwn) {
  const struct {
    const TFilterClass* Class;
    const char* Name;
    const char* Desc;
  } records[] = {
      {TQuorvelAffineFilter::StaticMeta(), "AffineTransform", "Applies an affine transform to an image."},
      {TQuorvelPerspectiveFilter::StaticMeta(), "PerspectiveTransform",
       "Applies an perspective transform to an image."},
      {TQuorvelCropFilter::StaticMeta(), "Crop",
       "The size and shape of the cropped image depend on the rectangle you specify."},
      {TQuorvelGaussianBlurFilter::StaticMeta(), "GaussianBlur", "An effect that GaussianBlurs."},
      {TQuorvelGlowFilter::StaticMeta(), "GlowFilter", "An effect that add glow."},
      {TQuorvelInnerGlowFilter::StaticMeta(), "InnerGlowFilter", "An effect that add glow."},
      {TQuorvelReflectionFilter::StaticMeta(), "ReflectionFilter", "An reflection effect."},
      {TQuorvelSwipeFilter::StaticMeta(), "SwipeTransition", "A swipe transition effect."},
  };
  for (const auto& r : records) {
    const TFilterRec rec = r.Class->FilterAttr();
    EXPECT_EQ(rec.Name, r.Name);
    EXPECT_EQ(rec.Desc, r.Desc);
  }

  using VT = TFilterValueType;
  const TPointF zero(0, 0), top(65535, 65535);
  const TValue none;
  const TValueCase values[] = {
      {TQuorvelAffineFilter::StaticMeta(), "Center", VT::Point, TPointF(150, 150), zero, top,
       "The center point of the rotation."},
      {TQuorvelAffineFilter::StaticMeta(), "Rotation", VT::Float, 0.0f, -180.0f, 180.0f, "Rotation angle in degrees."},
      {TQuorvelAffineFilter::StaticMeta(), "Scale", VT::Float, 1.0f, 0.05f, 4.0f, "Scale value as floating."},
      {TQuorvelPerspectiveFilter::StaticMeta(), "TopLeft", VT::Point, zero, zero, top,
       "Top left point of result transformation."},
      {TQuorvelPerspectiveFilter::StaticMeta(), "TopRight", VT::Point, TPointF(300, 0), zero, top,
       "Top right point of result transformation."},
      {TQuorvelPerspectiveFilter::StaticMeta(), "BottomRight", VT::Point, TPointF(350, 300), zero, top,
       "Bottom right point of result transformation."},
      {TQuorvelPerspectiveFilter::StaticMeta(), "BottomLeft", VT::Point, TPointF(0, 300), zero, top,
       "Bottom left point of result transformation."},
      {TQuorvelCropFilter::StaticMeta(), "LeftTop", VT::Point, zero, zero, top, "Left-top corner of cropping rect"},
      {TQuorvelCropFilter::StaticMeta(), "RightBottom", VT::Point, TPointF(150, 150), zero, top,
       "Left-top corner of cropping rect"},
      {TQuorvelGaussianBlurFilter::StaticMeta(), "BlurAmount", VT::Float, 1.0f, 0.01f, 10.0f,
       "The GaussianBlur factor."},
      {TQuorvelGlowFilter::StaticMeta(), "BlurAmount", VT::Float, 0.7f, 0.01f, 10.0f, "The blur factor."},
      {TQuorvelGlowFilter::StaticMeta(), "Color", VT::Color, TAlphaColor(0xFFFFD700u), TAlphaColor(0), TAlphaColor(0),
       "The glow color."},
      {TQuorvelInnerGlowFilter::StaticMeta(), "BlurAmount", VT::Float, 0.7f, 0.01f, 10.0f, "The blur factor."},
      {TQuorvelInnerGlowFilter::StaticMeta(), "Color", VT::Color, TAlphaColor(0xFFFFD700u), TAlphaColor(0),
       TAlphaColor(0), "The glow color."},
      {TQuorvelReflectionFilter::StaticMeta(), "Opacity", VT::Float, 1.0f, 0.0f, 1.0f, "The opacity of result image."},
      {TQuorvelReflectionFilter::StaticMeta(), "Length", VT::Float, 0.5f, 0.0f, 1.0f, "The length of reflection."},
      {TQuorvelSwipeFilter::StaticMeta(), "MousePoint", VT::Point, TPointF(5, 5), zero, top, "The point of coursor"},
      {TQuorvelSwipeFilter::StaticMeta(), "CornerPoint", VT::Point, zero, zero, top, "The point of corner"},
      {TQuorvelSwipeFilter::StaticMeta(), "Deep", VT::Float, 50.0f, 0.0f, 100.0f, "The deep of fold"},
      {TQuorvelSwipeFilter::StaticMeta(), "Target", VT::Bitmap, none, none, none, "Target desription"},
      {TQuorvelSwipeFilter::StaticMeta(), "Back", VT::Bitmap, none, none, none, "Back page texture"},
  };
  const auto same = [](VT AType, const TValue& A, const TValue& B) {
    switch (AType) {
      case VT::Float: return A.AsType<float>() == B.AsType<float>();
      case VT::Point: return A.AsType<TPointF>() == B.AsType<TPointF>();
      case VT::Color: return A.AsType<TAlphaColor>() == B.AsType<TAlphaColor>();
      case VT::Bitmap: return A.IsEmpty() && B.IsEmpty();
    }
    return false;
  };
  size_t counted = 0;
  for (const auto& r : records) {
    const TFilterRec rec = r.Class->FilterAttr();
    size_t i = 0;
    for (const TValueCase& v : values) {
      if (v.Class != r.Class) continue;
      SCOPED_TRACE(std::string(r.Name) + "." + v.Name);
      ASSERT_LT(i, rec.Values.size());
      const TFilterValueRec& got = rec.Values[i++];
      EXPECT_EQ(got.Name, v.Name);
      EXPECT_EQ(got.Desc, v.Desc);
      EXPECT_EQ(got.ValueType, v.Type);
      EXPECT_TRUE(same(v.Type, got.Default, v.Default));
      EXPECT_TRUE(same(v.Type, got.Value, v.Default));
      EXPECT_TRUE(same(v.Type, got.Min, v.Min));
      EXPECT_TRUE(same(v.Type, got.Max, v.Max));
      ++counted;
    }
    EXPECT_EQ(i, rec.Values.size()) << r.Name;
  }
  EXPECT_EQ(counted, std::size(values));
}

TEST(FilterRecords, InstancesTakeTheDefaultsAndClampFloatsToTheirRange) {
  TOwned<TQuorvelAffineFilter> affine = NewFilter<TQuorvelAffineFilter>();
  EXPECT_EQ(affine->GetPoint("Center"), TPointF(150, 150));
  affine->SetValue("Scale", 9.0f);
  EXPECT_EQ(affine->GetFloat("Scale"), 4.0f);
  affine->SetValue("Rotation", -200.0f);
  EXPECT_EQ(affine->GetFloat("Rotation"), -180.0f);
  EXPECT_THROW(affine->SetValue("Angle", 1.0f), EArgumentException);
  EXPECT_THROW(affine->GetValue("Angle"), EArgumentException);
  EXPECT_TRUE(affine->GetAntiAlias());
  EXPECT_EQ(affine->GetPassCount(), 1);
  EXPECT_EQ(affine->GetShader(0)->GetName(), "affine.fps");

  TOwned<TQuorvelInnerGlowFilter> inner = NewFilter<TQuorvelInnerGlowFilter>();
  EXPECT_EQ(inner->GetPassCount(), 2);
  EXPECT_FALSE(inner->GetAntiAlias());
  EXPECT_EQ(inner->GetShader(0)->GetName(), "innerglowh.fps");
  EXPECT_EQ(inner->GetShader(1)->GetName(), "innerglowv.fps");
  EXPECT_TRUE(inner->GetShader(1)->GetSourceByArch(TContextShaderArch::Mac).IsDefined());
  EXPECT_EQ(inner->GetShader(1)->GetSourceByArch(TContextShaderArch::GLSL).FindVariable("Original")->Index, 1);

  TOwned<TQuorvelSwipeFilter> swipe = NewFilter<TQuorvelSwipeFilter>();
  EXPECT_EQ(swipe->GetNeedInternalSecondTex(), "");
  const TContextShaderSource& s = swipe->GetShader(0)->GetSourceByArch(TContextShaderArch::GLSL);
  EXPECT_EQ(s.FindVariable("Back")->Index, 2);
  EXPECT_EQ(s.FindVariable("Back")->Size, 0);
  EXPECT_EQ(s.FindVariable("K")->Size, 1);
  // Old dialect: no version line, the varying "TEX0", gl_FragColor.
  const std::string text = s.CodeAsText();
  EXPECT_EQ(text.find("#version"), std::string::npos);
  EXPECT_NE(text.find("varying vec4 TEX0;"), std::string::npos);
  EXPECT_NE(text.find("gl_FragColor"), std::string::npos);
  EXPECT_EQ(std::string(TFilterManager::FilterVertexShaderText()).find("#version"), std::string::npos);
}

// ---- matrices ----------------------------------------------------------------------------------

TEST(AffineMatrix, RoutinesGiveTheHandValues) {
  const TAffineMatrix A = Rows(1, 2, 0, 0, 1, 0, 3, 4, 1), B = Rows(2, 0, 0, 1, 3, 0, 5, 6, 1);
  EXPECT_EQ(AffineMatrixMultiply(A, B), Rows(4, 6, 0, 1, 3, 0, 15, 18, 1));

  ExpectMatrixNear(CreateAffineRotation(std::numbers::pi_v<float> / 2), Rows(0, 1, 0, -1, 0, 0, 0, 0, 1));

  const TAffineMatrix M = Rows(2, 0, 1, 1, 3, 2, 1, 1, 2);
  EXPECT_FLOAT_EQ(AffineDeterminant(M), 6);
  TAffineMatrix adj = M;
  AffineAdjoint(adj);
  EXPECT_EQ(adj, Rows(4, 1, -3, 0, 3, -3, -2, -2, 6));
  TAffineMatrix scaled = M;
  AffineScale(scaled, 0.5f);
  EXPECT_EQ(scaled, Rows(1, 0, 0.5f, 0.5f, 1.5f, 1, 0.5f, 0.5f, 1));
  TAffineMatrix inv = M;
  AffineInvert(inv);
  ExpectMatrixNear(AffineMatrixMultiply(M, inv), TAffineMatrix::Identity());

  // A determinant below 1e-40 gives the identity.
  TAffineMatrix tiny = Rows(1e-41f, 0, 0, 0, 1, 0, 0, 0, 1);
  AffineInvert(tiny);
  EXPECT_EQ(tiny, TAffineMatrix::Identity());
}

TEST(AffineMatrix, TransformPointDividesOnlyWhenWIsNeitherZeroNorOne) {
  const struct {
    TAffineMatrix M;
    TPointF In, Out;
  } cases[] = {
      {Rows(1, 0, 0, 0, 1, 0, 5, 7, 1), TPointF(2, 3), TPointF(7, 10)},          // w = 1
      {Rows(1, 0, 0.5f, 0, 1, 0, 1, 0, 1), TPointF(2, 3), TPointF(1.5f, 1.5f)},  // w = 2
      {Rows(1, 0, -0.5f, 0, 1, 0, 1, 0, 1), TPointF(2, 3), TPointF(3, 3)},       // w = 0: undivided
  };
  for (const auto& c : cases) EXPECT_EQ(AffineTransformPoint(c.In, c.M), c.Out);
}

// ---- output sizes ------------------------------------------------------------------------------

// An input of a size, without pixels (CalcSize reads only the size).
TOwned<TTexture> SizedTexture(int32_t W, int32_t H) {
  TOwned<TTexture> t(New<TTexture>());
  t->SetSize(W, H);
  return t;
}

TEST(FilterSizes, CalcSizeFollowsTheGeometry) {
  struct TCase {
    const char* What;
    const TFilterClass* Class;
    int32_t InW, InH;
    std::vector<std::pair<const char*, TValue>> Values;
    int32_t W, H;
  };
  const TCase cases[] = {
      {"affine 90", TQuorvelAffineFilter::StaticMeta(), 200, 100, {{"Rotation", 90.0f}}, 100, 200},
      {"affine scale", TQuorvelAffineFilter::StaticMeta(), 200, 100, {{"Scale", 0.5f}}, 100, 50},
      {"perspective defaults", TQuorvelPerspectiveFilter::StaticMeta(), 300, 300, {}, 350, 300},
      {"crop", TQuorvelCropFilter::StaticMeta(), 300, 300,
       {{"LeftTop", TPointF(10, 20)}, {"RightBottom", TPointF(110, 70)}}, 100, 50},
      {"crop halves to even", TQuorvelCropFilter::StaticMeta(), 300, 300,
       {{"LeftTop", TPointF(0, 0)}, {"RightBottom", TPointF(10.5f, 11.5f)}}, 10, 12},
      {"perspective collinear", TQuorvelPerspectiveFilter::StaticMeta(), 300, 300,
       {{"TopLeft", TPointF(0, 0)}, {"TopRight", TPointF(100, 0)}, {"BottomRight", TPointF(200, 0)},
        {"BottomLeft", TPointF(300, 0)}},
       0, 0},
      {"swipe keeps the input size", TQuorvelSwipeFilter::StaticMeta(), 64, 32, {}, 64, 32},
      {"blur keeps the input size", TQuorvelGaussianBlurFilter::StaticMeta(), 64, 32, {}, 64, 32},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    TOwned<TFilter> f(c.Class->CreateFilter());
    for (const auto& [name, value] : c.Values) f->SetValue(name, value);
    TOwned<TTexture> input = SizedTexture(c.InW, c.InH);
    f->SetInputTexture(input.get());
    int32_t w = -1, h = -1;
    f->CalcSize(w, h);
    EXPECT_EQ(w, c.W);
    EXPECT_EQ(h, c.H);
  }
  // The collinear perspective: a zero matrix, whose inverse is the identity.
  TOwned<TQuorvelPerspectiveFilter> p = NewFilter<TQuorvelPerspectiveFilter>();
  p->SetValue("TopRight", TPointF(100, 0));
  p->SetValue("BottomRight", TPointF(200, 0));
  p->SetValue("BottomLeft", TPointF(300, 0));
  TOwned<TTexture> input = SizedTexture(300, 300);
  p->SetInputTexture(input.get());
  int32_t w = 0, h = 0;
  p->CalcSize(w, h);
  EXPECT_EQ(p->GetInvMatrix(), TAffineMatrix::Identity());
}

TEST(FilterSizes, SwipeSnapsItsCornerAndKeepsTheMouseInside) {
  struct TCase {
    TPointF Mouse, Corner;
    TPointF A, A1;  // unit coordinates after CalcSize
  };
  const TCase cases[] = {
      {TPointF(50, 25), TPointF(60, 30), TPointF(0.5f, 0.5f), TPointF(1, 1)},   // both above half: (W, H)
      {TPointF(50, 25), TPointF(50, 30), TPointF(0.5f, 0.5f), TPointF(0, 1)},   // x exactly W/2: 0
      {TPointF(100, 25), TPointF(0, 0), TPointF(0.999f, 0.5f), TPointF(0, 0)},  // on the right edge: 0.1 inside
      {TPointF(0, 25), TPointF(90, 0), TPointF(0.001f, 0.5f), TPointF(1, 0)},   // on the left edge
  };
  TOwned<TTexture> input = SizedTexture(100, 50);
  for (const TCase& c : cases) {
    TOwned<TQuorvelSwipeFilter> f = NewFilter<TQuorvelSwipeFilter>();
    f->SetInputTexture(input.get());
    f->SetValue("MousePoint", c.Mouse);
    f->SetValue("CornerPoint", c.Corner);
    int32_t w = 0, h = 0;
    f->CalcSize(w, h);
    EXPECT_NEAR(f->GetAPoint().X, c.A.X, 1e-5f);
    EXPECT_NEAR(f->GetAPoint().Y, c.A.Y, 1e-5f);
    EXPECT_EQ(f->GetA1Point(), c.A1);
    EXPECT_FLOAT_EQ(f->GetK(), 2);
    EXPECT_FLOAT_EQ(f->GetLength(), 0.5f);  // Deep 50 / W 100
  }
}

// The mouse far right of a corner on the image's last row: the fold's direction has no
// vertical part. Its slopes are not taken (they divided by zero and left NaN in every value).
TEST(FilterSizes, SwipeWithAFoldAlongTheCornersRowStopsWithoutNaN) {
  // 2^21 rows: 0.1 below the last row rounds back onto it in single precision.
  TOwned<TTexture> input = SizedTexture(4, 2097152);
  TOwned<TQuorvelSwipeFilter> f = NewFilter<TQuorvelSwipeFilter>();
  f->SetInputTexture(input.get());
  f->SetValue("MousePoint", TPointF(100, 2097152));
  f->SetValue("CornerPoint", TPointF(0, 2097152));
  int32_t w = 0, h = 0;
  f->CalcSize(w, h);
  for (const TPointF& p : {f->GetAPoint(), f->GetA1Point(), f->GetBPoint(), f->GetCPoint(), f->GetLineAB(),
                           f->GetLineAB1()}) {
    EXPECT_TRUE(std::isfinite(p.X) && std::isfinite(p.Y));
  }
  // Stopped before the division by the size: the points stay in pixels.
  EXPECT_EQ(f->GetA1Point(), TPointF(0, 2097152));
}

// ---- pixels on llvmpipe ------------------------------------------------------------------------

class FilterPixels : public testkit::TSharedGLTest {
protected:
  void TearDown() override {
    TFilterManager::ResetContexts();
    glUseProgram(0);
    TSharedGLTest::TearDown();
  }

  // W × H opaque texels, each distinct: red = x * AStep, green = y * AStep.
  static TOwned<TBitmap> Distinct(int32_t W, int32_t H, int32_t AStep = 1) {
    TOwned<TBitmap> b(New<TBitmap>(W, H));
    TBitmapData d;
    EXPECT_TRUE(b->Map(TMapAccess::Write, d));
    for (int32_t y = 0; y < H; ++y)
      for (int32_t x = 0; x < W; ++x) d.SetPixel(x, y, MakeAlphaColor(uint8_t(x * AStep), uint8_t(y * AStep), 77));
    b->Unmap(d);
    return b;
  }

  static TAlphaColor Pixel(TBitmap* B, int32_t x, int32_t y) {
    TBitmapData d;
    EXPECT_TRUE(B->Map(TMapAccess::Read, d));
    const TAlphaColor c = d.GetPixel(x, y);
    B->Unmap(d);
    return c;
  }

  // An RGBA16F texture from floats, rows bottom first.
  static TOwned<TTexture> FloatTexture(int32_t W, int32_t H, const std::vector<float>& ARGBA) {
    TOwned<TTexture> t(New<TTexture>());
    t->SetSize(W, H);
    t->SetPixelFormat(TPixelFormat::RGBA16F);
    t->SetMinFilter(TTextureFilter::Nearest);
    t->SetMagFilter(TTextureFilter::Nearest);
    t->Initialize();
    glBindTexture(GL_TEXTURE_2D, GLuint(t->GetHandle()));
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, W, H, GL_RGBA, GL_FLOAT, ARGBA.data());
    glBindTexture(GL_TEXTURE_2D, 0);
    return t;
  }

  static std::vector<float> ReadFloats(TTexture* ATexture) {
    std::vector<float> out(size_t(ATexture->GetWidth()) * ATexture->GetHeight() * 4);
    glBindTexture(GL_TEXTURE_2D, GLuint(ATexture->GetHandle()));
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_FLOAT, out.data());
    glBindTexture(GL_TEXTURE_2D, 0);
    return out;
  }
};

void ExpectColorNear(TAlphaColor AGot, TAlphaColor AWant, int ATolerance, const std::string& AWhere) {
  const TAlphaColorRec g(AGot), w(AWant);
  EXPECT_TRUE(std::abs(g.R - w.R) <= ATolerance && std::abs(g.G - w.G) <= ATolerance &&
              std::abs(g.B - w.B) <= ATolerance && std::abs(g.A - w.A) <= ATolerance)
      << AWhere << ": got " << std::hex << uint32_t(AGot) << ", want " << uint32_t(AWant);
}

TEST_F(FilterPixels, CropShowsTheRectanglesTexelsAndTransparentBeyondTheInput) {
  TOwned<TBitmap> input = Distinct(200, 100);
  TOwned<TQuorvelCropFilter> crop = NewFilter<TQuorvelCropFilter>();
  crop->SetValue("LeftTop", TPointF(10, 20));
  crop->SetValue("RightBottom", TPointF(110, 70));
  TOwned<TBitmap> out(TFilterManager::ApplyToBitmap(crop.get(), input.get()));
  ASSERT_EQ(out->GetWidth(), 100);
  ASSERT_EQ(out->GetHeight(), 50);
  for (auto [x, y] : std::initializer_list<std::pair<int, int>>{{0, 0}, {99, 0}, {0, 49}, {99, 49}, {37, 21}})
    ExpectColorNear(Pixel(out.get(), x, y), MakeAlphaColor(uint8_t(x + 10), uint8_t(y + 20), 77), 0,
                    "crop " + std::to_string(x) + "," + std::to_string(y));

  // A rectangle reaching past the right and bottom edges: transparent there.
  crop->SetValue("LeftTop", TPointF(150, 50));
  crop->SetValue("RightBottom", TPointF(250, 150));
  out.reset(TFilterManager::ApplyToBitmap(crop.get(), input.get()));
  ASSERT_EQ(out->GetWidth(), 100);
  ExpectColorNear(Pixel(out.get(), 10, 10), MakeAlphaColor(160, 60, 77), 0, "inside");
  EXPECT_EQ(Pixel(out.get(), 60, 10), TAlphaColor(0));
  EXPECT_EQ(Pixel(out.get(), 10, 60), TAlphaColor(0));
}

TEST_F(FilterPixels, AffineQuarterTurnShowsTheTexelTheInverseMatrixNames) {
  const int32_t W = 20, H = 10;
  TOwned<TBitmap> input = Distinct(W, H, 10);
  TOwned<TQuorvelAffineFilter> affine = NewFilter<TQuorvelAffineFilter>();
  affine->SetValue("Rotation", 90.0f);
  affine->SetValue("Center", TPointF(10, 5));
  TOwned<TBitmap> out(TFilterManager::ApplyToBitmap(affine.get(), input.get()));
  ASSERT_EQ(out->GetWidth(), H);
  ASSERT_EQ(out->GetHeight(), W);
  const TAffineMatrix& inv = affine->GetInvMatrix();
  int checked = 0;
  for (int32_t y = 0; y < W; ++y)
    for (int32_t x = 0; x < H; ++x) {
      // Image coordinates of the pixel centre (y down), through the inverse.
      const TPointF c((x + 0.5f) / H, (y + 0.5f) / W);
      const float u = c.X * inv.m11 + c.Y * inv.m21 + inv.m31, v = c.X * inv.m12 + c.Y * inv.m22 + inv.m32;
      const int32_t tx = int32_t(std::floor(u * W)), ty = int32_t(std::floor(v * H));
      ASSERT_TRUE(tx >= 0 && tx < W && ty >= 0 && ty < H);
      ExpectColorNear(Pixel(out.get(), x, y), MakeAlphaColor(uint8_t(tx * 10), uint8_t(ty * 10), 77), 1,
                      std::to_string(x) + "," + std::to_string(y));
      ++checked;
    }
  EXPECT_EQ(checked, W * H);
  // Turned a quarter about its centre: the output's top-left texel is the input's bottom-left.
  ExpectColorNear(Pixel(out.get(), 0, 0), MakeAlphaColor(0, 90, 77), 1, "corner");

  // Half a quarter turn: the output's corners lie outside the turned picture.
  affine->SetValue("Rotation", 45.0f);
  out.reset(TFilterManager::ApplyToBitmap(affine.get(), input.get()));
  EXPECT_EQ(Pixel(out.get(), 0, 0), TAlphaColor(0));
  EXPECT_EQ(Pixel(out.get(), out->GetWidth() - 1, out->GetHeight() - 1), TAlphaColor(0));
  EXPECT_EQ(TAlphaColorRec(Pixel(out.get(), out->GetWidth() / 2, out->GetHeight() / 2)).A, 255);
}

TEST_F(FilterPixels, PerspectiveCornersLandWhereTheyAreNamed) {
  // Four quadrants of distinct colours; in texture coordinates (v = 0 at the bottom row).
  const int32_t N = 32;
  TOwned<TBitmap> input(New<TBitmap>(N, N));
  TBitmapData d;
  ASSERT_TRUE(input->Map(TMapAccess::Write, d));
  const TAlphaColor quad[4] = {MakeAlphaColor(255, 0, 0), MakeAlphaColor(0, 255, 0), MakeAlphaColor(0, 0, 255),
                               MakeAlphaColor(255, 255, 0)};
  for (int32_t y = 0; y < N; ++y)
    for (int32_t x = 0; x < N; ++x) d.SetPixel(x, y, quad[(y < N / 2 ? 0 : 2) + (x < N / 2 ? 0 : 1)]);
  input->Unmap(d);
  TOwned<TQuorvelPerspectiveFilter> p = NewFilter<TQuorvelPerspectiveFilter>();
  p->SetValue("TopLeft", TPointF(0, 0));
  p->SetValue("TopRight", TPointF(32, 8));
  p->SetValue("BottomRight", TPointF(40, 24));
  p->SetValue("BottomLeft", TPointF(0, 32));
  TOwned<TBitmap> out(TFilterManager::ApplyToBitmap(p.get(), input.get()));
  ASSERT_EQ(out->GetWidth(), 40);
  ASSERT_EQ(out->GetHeight(), 32);
  // The program maps TEX0 directly (no flip): each named corner, in texture coordinates of
  // the output, shows the input's corner of the same texture coordinates. Bitmap rows run top
  // down, so texture v is 1 - row.
  const auto at = [&](float u, float v) {
    return Pixel(out.get(), int32_t(u * 40), int32_t((1 - v) * 32));
  };
  const auto inputAt = [&](float u, float v) { return quad[(v < 0.5f ? 2 : 0) + (u < 0.5f ? 0 : 1)]; };
  // Unit square corner (0,0) -> TopLeft (0,0); (1,0) -> TopRight; (1,1) -> BottomRight; (0,1) -> BottomLeft.
  const struct {
    float OutU, OutV, InU, InV;
  } corners[] = {{0.05f, 0.05f, 0.02f, 0.02f},
                 {0.76f, 0.3f, 0.98f, 0.02f},
                 {0.95f, 0.73f, 0.98f, 0.98f},
                 {0.03f, 0.95f, 0.02f, 0.98f}};
  for (const auto& c : corners)
    ExpectColorNear(at(c.OutU, c.OutV), inputAt(c.InU, c.InV), 0, "corner " + std::to_string(c.InU));
  // Past the BottomLeft-TopLeft edge pair's far side: nothing.
  EXPECT_EQ(at(0.98f, 0.02f), TAlphaColor(0));
}

TEST_F(FilterPixels, ReflectionMirrorsAndFadesByOpacityOverItsLength) {
  const int32_t W = 4, H = 16;
  TOwned<TBitmap> input = Distinct(W, H, 16);
  TOwned<TQuorvelReflectionFilter> r = NewFilter<TQuorvelReflectionFilter>();
  r->SetValue("Opacity", 0.8f);
  r->SetValue("Length", 0.5f);
  TOwned<TBitmap> out(TFilterManager::ApplyToBitmap(r.get(), input.get()));
  ASSERT_EQ(out->GetWidth(), W);
  for (int32_t y = 0; y < H; ++y) {
    const float texV = 1 - (y + 0.5f) / H;                      // TEX0.y of the row
    const float t = std::clamp((1 - texV) / 0.5f, 0.0f, 1.0f);  // fades towards the top
    const float f = (1 - t) * 0.8f;
    for (int32_t x = 0; x < W; ++x) {
      const int32_t mirrored = H - 1 - y;
      const auto s = [&](int v) { return uint8_t(std::lround(v * f)); };
      ExpectColorNear(Pixel(out.get(), x, y), MakeAlphaColor(s(x * 16), s(mirrored * 16), s(77), s(255)), 1,
                      std::to_string(x) + "," + std::to_string(y));
    }
  }
  EXPECT_EQ(Pixel(out.get(), 0, H - 1), TAlphaColor(0));
}

// The swipe's page at p: the CPU twin of the program, answering 0 (current page), 1 (the page
// below) or 2 (the back of the turning page).
int SwipePage(const TQuorvelSwipeFilter& F, TPointF p) {
  const auto cross = [](TPointF u, TPointF v) { return u.X * v.Y - v.X * u.Y; };
  const auto inTri = [&](TPointF X, TPointF Y, TPointF Z, TPointF q) {
    const float a = cross(X - q, Y - q), b = cross(Y - q, Z - q), c = cross(Z - q, X - q);
    return a * b > 0 && b * c > 0;
  };
  const auto page = [&](TPointF q) {
    if (inTri(F.GetAPoint(), F.GetBPoint(), F.GetCPoint(), q)) return 2;
    if (inTri(F.GetA1Point(), F.GetBPoint(), F.GetCPoint(), q)) return 1;
    return 0;
  };
  const TPointF ab = F.GetLineAB(), ab1 = F.GetLineAB1();
  const float y0 = ab.X * p.X + ab.Y, y1 = ab1.X * p.X + ab1.Y;
  if ((y0 <= p.Y && p.Y <= y1) || (y0 >= p.Y && p.Y >= y1)) return -1;  // the bent band: not probed
  return page(p);
}

TEST_F(FilterPixels, SwipeShowsItsThreePagesWhereTheFoldPutsThem) {
  const int32_t W = 64, H = 32;
  TOwned<TBitmap> red(New<TBitmap>(W, H));
  red->Clear(MakeAlphaColor(255, 0, 0));
  TOwned<TBitmap> green(New<TBitmap>(W, H)), blue(New<TBitmap>(W, H));
  green->Clear(MakeAlphaColor(0, 255, 0));
  blue->Clear(MakeAlphaColor(0, 0, 255));
  TOwned<TTexture> target(TFilterManager::TextureFromBitmap(green.get()));
  TOwned<TTexture> back(TFilterManager::TextureFromBitmap(blue.get()));
  TOwned<TQuorvelSwipeFilter> f = NewFilter<TQuorvelSwipeFilter>();
  f->SetValue("MousePoint", TPointF(40, 20));
  f->SetValue("CornerPoint", TPointF(60, 30));
  f->SetValue("Deep", 2.0f);
  f->SetValue("Target", target.get());
  f->SetValue("Back", back.get());
  TOwned<TBitmap> out(TFilterManager::ApplyToBitmap(f.get(), red.get()));
  ASSERT_EQ(out->GetWidth(), W);
  const TAlphaColor colours[3] = {MakeAlphaColor(255, 0, 0), MakeAlphaColor(0, 255, 0), MakeAlphaColor(0, 0, 255)};
  int seen[3] = {};
  for (int32_t y = 0; y < H; ++y)
    for (int32_t x = 0; x < W; ++x) {
      // Probe only where the page is the same a little to every side.
      int page = -2;
      bool stable = true;
      for (auto [dx, dy] : std::initializer_list<std::pair<float, float>>{{0, 0}, {-1, 0}, {1, 0}, {0, -1}, {0, 1}}) {
        const int p = SwipePage(*f, TPointF((x + 0.5f + dx) / W, 1 - (y + 0.5f + dy) / H));
        if (page == -2) page = p;
        stable = stable && p == page && p >= 0;
      }
      if (!stable) continue;
      ++seen[page];
      ExpectColorNear(Pixel(out.get(), x, y), colours[page], 0, std::to_string(x) + "," + std::to_string(y));
    }
  EXPECT_GT(seen[0], 50);
  EXPECT_GT(seen[1], 5);
  EXPECT_GT(seen[2], 5);
}

TEST_F(FilterPixels, GaussianImpulseGivesTheKernelsOuterProductAndAFlatImageStays) {
  const int32_t N = 32, C = 16;
  std::vector<float> impulse(size_t(N) * N * 4, 0.0f);
  for (int k = 0; k < 4; ++k) impulse[(size_t(C) * N + C) * 4 + k] = 1.0f;
  TOwned<TTexture> input = FloatTexture(N, N, impulse);
  TOwned<TQuorvelGaussianBlurFilter> blur = NewFilter<TQuorvelGaussianBlurFilter>();
  TTexture* out = TFilterManager::Apply(blur.get(), input.get(), TPixelFormat::RGBA16F);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out->GetPixelFormat(), TPixelFormat::RGBA16F);
  const std::vector<float> got = ReadFloats(out);
  // Taps at -9 .. +9 with the weights in table order; the kernel is symmetric, so the
  // impulse's picture is centred on it.
  const auto weight = [](int d) { return std::abs(d) <= 9 ? GaussianBlurWeights[9 + d] : 0.0f; };
  for (int32_t y = 0; y < N; ++y)
    for (int32_t x = 0; x < N; ++x) {
      const float want = weight(x - C) * weight(y - C);
      for (int k = 0; k < 4; ++k)
        ASSERT_NEAR(got[(size_t(y) * N + x) * 4 + k], want, 1e-3f) << x << "," << y << " channel " << k;
    }
  EXPECT_NEAR(got[(size_t(C) * N + C + 9) * 4], got[(size_t(C) * N + C - 9) * 4], 1e-4f);
  EXPECT_GT(got[(size_t(C) * N + C + 9) * 4], 1e-4f);
  EXPECT_EQ(got[(size_t(C) * N + C + 10) * 4], 0.0f);

  // A flat image stays flat, borders included.
  std::vector<float> flat(size_t(N) * N * 4);
  for (size_t i = 0; i < flat.size(); i += 4) flat[i] = 0.25f, flat[i + 1] = 0.5f, flat[i + 2] = 0.75f, flat[i + 3] = 1;
  TOwned<TTexture> flatInput = FloatTexture(N, N, flat);
  blur->SetValue("BlurAmount", 2.5f);
  const std::vector<float> flatOut =
      ReadFloats(TFilterManager::Apply(blur.get(), flatInput.get(), TPixelFormat::RGBA16F));
  for (size_t i = 0; i < flatOut.size(); ++i) ASSERT_NEAR(flatOut[i], flat[i], 1e-3f) << i;
}

TEST_F(FilterPixels, GlowAlphaFollowsTheTwoPassFormula) {
  const int32_t N = 32;
  // An opaque 8 x 8 square in a transparent image.
  std::vector<float> alpha(size_t(N) * N, 0.0f), rgba(size_t(N) * N * 4, 0.0f);
  for (int32_t y = 12; y < 20; ++y)
    for (int32_t x = 12; x < 20; ++x) {
      alpha[size_t(y) * N + x] = 1;
      for (int k = 0; k < 4; ++k) rgba[(size_t(y) * N + x) * 4 + k] = 1;
    }
  TOwned<TTexture> input = FloatTexture(N, N, rgba);
  TOwned<TQuorvelGlowFilter> glow = NewFilter<TQuorvelGlowFilter>();
  glow->SetValue("BlurAmount", 2.0f / 3.0f);  // "Width" = 32 / (2/3) / 1.5 = 32: one texel per tap
  const std::vector<float> got = ReadFloats(TFilterManager::Apply(glow.get(), input.get(), TPixelFormat::RGBA16F));
  const auto clampi = [&](int v) { return std::clamp(v, 0, N - 1); };
  std::vector<float> pass1(size_t(N) * N, 0.0f);
  for (int32_t y = 0; y < N; ++y)
    for (int32_t x = 0; x < N; ++x)
      for (int k = -7; k <= 7; ++k)
        pass1[size_t(y) * N + x] += GlowWeights[k + 7] * alpha[size_t(y) * N + clampi(x + k)];
  const TAlphaColorRec gold(TAlphaColor(0xFFFFD700u));
  float deepest = 0;
  for (int32_t y = 0; y < N; ++y)
    for (int32_t x = 0; x < N; ++x) {
      float a = 0;
      for (int k = -7; k <= 7; ++k) a += GlowWeights[k + 7] * pass1[size_t(clampi(y + k)) * N + x];
      const float* px = &got[(size_t(y) * N + x) * 4];
      ASSERT_NEAR(px[3], a, 2e-3f) << x << "," << y;
      ASSERT_NEAR(px[0], a * gold.R / 255.0f, 2e-3f);
      ASSERT_NEAR(px[1], a * gold.G / 255.0f, 2e-3f);
      deepest = std::max(deepest, px[3]);
    }
  EXPECT_GT(deepest, 0.3f);
  EXPECT_EQ(got[3], 0.0f);  // beyond 7 taps of the square

  // The inner glow blurs the transparency instead and keeps it inside the original's alpha.
  TOwned<TQuorvelInnerGlowFilter> inner = NewFilter<TQuorvelInnerGlowFilter>();
  inner->SetValue("BlurAmount", 2.0f / 3.0f);
  const std::vector<float> in = ReadFloats(TFilterManager::Apply(inner.get(), input.get(), TPixelFormat::RGBA16F));
  for (int32_t y = 0; y < N; ++y)
    for (int32_t x = 0; x < N; ++x) {
      float a = 0;
      for (int k = -7; k <= 7; ++k) a += GlowWeights[k + 7] * (1 - pass1[size_t(clampi(y + k)) * N + x]);
      ASSERT_NEAR(in[(size_t(y) * N + x) * 4 + 3], a * alpha[size_t(y) * N + x], 2e-3f) << "inner " << x << "," << y;
    }
  EXPECT_GT(in[(size_t(12) * N + 12) * 4 + 3], 0.3f);  // the square's corner glows inwards

  // Inside a wide opaque area the factor is the square of the weights' sum, above 1.
  TOwned<TTexture> opaque = FloatTexture(N, N, std::vector<float>(size_t(N) * N * 4, 1.0f));
  const std::vector<float> full = ReadFloats(TFilterManager::Apply(glow.get(), opaque.get(), TPixelFormat::RGBA16F));
  float sum = 0;
  for (float w : GlowWeights) sum += w;
  EXPECT_GT(sum * sum, 1.14f);
  EXPECT_NEAR(full[(size_t(N / 2) * N + N / 2) * 4 + 3], sum * sum, 2e-3f);
  EXPECT_NEAR(full[3], sum * sum, 2e-3f);
}

TEST_F(FilterPixels, AZeroSizedOutputGivesAnEmptyBitmapAndNoTexture) {
  TOwned<TBitmap> input = Distinct(8, 8);
  TOwned<TQuorvelCropFilter> crop = NewFilter<TQuorvelCropFilter>();
  crop->SetValue("LeftTop", TPointF(4, 4));
  crop->SetValue("RightBottom", TPointF(4, 6));
  TOwned<TBitmap> out(TFilterManager::ApplyToBitmap(crop.get(), input.get()));
  EXPECT_TRUE(out->IsEmpty());
  TOwned<TTexture> texture(TFilterManager::TextureFromBitmap(input.get()));
  EXPECT_EQ(TFilterManager::Apply(crop.get(), texture.get()), nullptr);
  EXPECT_THROW(TFilterManager::Apply(crop.get(), nullptr), EArgumentNilException);
}

TEST_F(FilterPixels, TargetsAreKeptForTheSameSizeAndForgottenOnReset) {
  TOwned<TBitmap> input = Distinct(16, 8);
  TOwned<TTexture> texture(TFilterManager::TextureFromBitmap(input.get()));
  TOwned<TQuorvelGaussianBlurFilter> blur = NewFilter<TQuorvelGaussianBlurFilter>();
  TTexture* first = TFilterManager::Apply(blur.get(), texture.get());
  EXPECT_EQ(TFilterManager::GetContextCount(), 2);  // one per pass, ping-pong
  EXPECT_EQ(TFilterManager::GetCurrentContext(), 1);
  EXPECT_EQ(TFilterManager::FilterContext(), nullptr);  // only while a pass draws
  EXPECT_EQ(TFilterManager::Apply(blur.get(), texture.get()), first);
  EXPECT_EQ(blur->GetInputTexture(), texture.get());
  EXPECT_EQ(blur->GetOriginalTexture(), texture.get());
  TFilterManager::ResetContexts();
  EXPECT_EQ(TFilterManager::GetContextCount(), 0);
  EXPECT_EQ(TFilterManager::GetCurrentContext(), 0);
  TOwned<TBitmap> none(TFilterManager::ReadBack());
  EXPECT_TRUE(none->IsEmpty());
}

}  // namespace
}  // namespace quorvel
