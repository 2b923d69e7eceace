#include "lib/materials/FilterCustom.h"

#include <cmath>
#include <charconv>
#include <numbers>

#include "framework/gui3d/Context3D.h"
#include "framework/rtl/Units.h"
#include "lib/passes/ControllerPassesCustomBlur.h"

namespace quorvel {

namespace {
constexpr const char* kUnit = "Quorvel.Filter.Custom";
}

FW_CLASS_IMPL_META(TQuorvelAffineFilter, kUnit, TFilterClassOf<TQuorvelAffineFilter>)
FW_CLASS_NO_MEMBERS(TQuorvelAffineFilter)
FW_CLASS_IMPL_META(TQuorvelPerspectiveFilter, kUnit, TFilterClassOf<TQuorvelPerspectiveFilter>)
FW_CLASS_NO_MEMBERS(TQuorvelPerspectiveFilter)
FW_CLASS_IMPL_META(TQuorvelCropFilter, kUnit, TFilterClassOf<TQuorvelCropFilter>)
FW_CLASS_NO_MEMBERS(TQuorvelCropFilter)
FW_CLASS_IMPL_META(TQuorvelGaussianBlurFilter, kUnit, TFilterClassOf<TQuorvelGaussianBlurFilter>)
FW_CLASS_NO_MEMBERS(TQuorvelGaussianBlurFilter)
FW_CLASS_IMPL_META(TQuorvelGlowFilter, kUnit, TFilterClassOf<TQuorvelGlowFilter>)
FW_CLASS_NO_MEMBERS(TQuorvelGlowFilter)
FW_CLASS_IMPL_META(TQuorvelInnerGlowFilter, kUnit, TFilterClassOf<TQuorvelInnerGlowFilter>)
FW_CLASS_NO_MEMBERS(TQuorvelInnerGlowFilter)
FW_CLASS_IMPL_META(TQuorvelReflectionFilter, kUnit, TFilterClassOf<TQuorvelReflectionFilter>)
FW_CLASS_NO_MEMBERS(TQuorvelReflectionFilter)
FW_CLASS_IMPL_META(TQuorvelSwipeFilter, kUnit, TFilterClassOf<TQuorvelSwipeFilter>)
FW_CLASS_NO_MEMBERS(TQuorvelSwipeFilter)

// The same kernel as the render passes' fast blur: one table, one tap layout.
const float (&GaussianBlurWeights)[19] = TBlurMaterial::FastBlurWeights;

const float GlowWeights[15] = {0.034537863f, 0.0481169038f, 0.0599573553f, 0.0717819855f, 0.082568936f,
                               0.0912527889f, 0.0968955457f, 0.0988529697f, 0.0968955457f, 0.0912527889f,
                               0.082568936f, 0.0717819855f, 0.0599573553f, 0.0481169038f, 0.034537863f};

// --- matrices -----------------------------------------------------------------------------------

namespace {

// Row r, column c (0-based) of the mathematical matrix.
float& At(TAffineMatrix& M, int r, int c) {
  float* rows[3][3] = {{&M.m11, &M.m12, &M.m13}, {&M.m21, &M.m22, &M.m23}, {&M.m31, &M.m32, &M.m33}};
  return *rows[r][c];
}
float At(const TAffineMatrix& M, int r, int c) { return At(const_cast<TAffineMatrix&>(M), r, c); }

TAffineMatrix Translation(float X, float Y) {
  TAffineMatrix m = TAffineMatrix::Identity();
  m.m31 = X;
  m.m32 = Y;
  return m;
}

TAffineMatrix Scaling(float X, float Y) {
  TAffineMatrix m = TAffineMatrix::Identity();
  m.m11 = X;
  m.m22 = Y;
  return m;
}

// Rounds half to even, as the run-time's Round.
int32_t RoundHalfEven(double AValue) { return int32_t(std::nearbyint(AValue)); }

// CalcSize of the affine and perspective filters on their matrix.
void FitMatrix(TAffineMatrix& AMatrix, TAffineMatrix& AInvMatrix, float AInW, float AInH, int32_t& W, int32_t& H) {
  float left = 100, top = 100, right = -100, bottom = -100;
  for (const TPointF corner : {TPointF(1, 1), TPointF(0, 1), TPointF(0, 0), TPointF(1, 0)}) {
    const TPointF p = AffineTransformPoint(corner, AMatrix);
    left = std::min(left, p.X);
    top = std::min(top, p.Y);
    right = std::max(right, p.X);
    bottom = std::max(bottom, p.Y);
  }
  W = RoundHalfEven(double(right - left) * AInW);
  H = RoundHalfEven(double(bottom - top) * AInH);
  TAffineMatrix fit = TAffineMatrix::Identity();
  fit.m11 = W != 0 ? AInW / float(W) : 0;
  fit.m22 = H != 0 ? AInH / float(H) : 0;
  fit.m31 = -left * fit.m11;
  fit.m32 = -top * fit.m22;
  AMatrix = AffineMatrixMultiply(AMatrix, fit);
  AInvMatrix = AMatrix;
  AffineInvert(AInvMatrix);
}

}  // namespace

TAffineMatrix AffineMatrixMultiply(const TAffineMatrix& A, const TAffineMatrix& B) {
  TAffineMatrix r{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      double sum = 0;
      for (int k = 0; k < 3; ++k) sum += double(At(A, i, k)) * double(At(B, k, j));
      At(r, i, j) = float(sum);
    }
  return r;
}

TAffineMatrix CreateAffineRotation(float AAngle) {
  TAffineMatrix m = TAffineMatrix::Identity();
  const float c = std::cos(AAngle), s = std::sin(AAngle);
  m.m11 = c;
  m.m12 = s;
  m.m21 = -s;
  m.m22 = c;
  return m;
}

TPointF AffineTransformPoint(const TPointF& P, const TAffineMatrix& M) {
  const float x = P.X * M.m11 + P.Y * M.m21 + M.m31;
  const float y = P.X * M.m12 + P.Y * M.m22 + M.m32;
  const float w = P.X * M.m13 + P.Y * M.m23 + 1;
  if (w == 0 || w == 1) return TPointF(x, y);
  return TPointF(x / w, y / w);
}

float AffineDeterminant(const TAffineMatrix& M) {
  return M.m11 * (M.m22 * M.m33 - M.m23 * M.m32) - M.m12 * (M.m21 * M.m33 - M.m23 * M.m31) +
         M.m13 * (M.m21 * M.m32 - M.m22 * M.m31);
}

void AffineAdjoint(TAffineMatrix& M) {
  const TAffineMatrix a = M;
  M.m11 = a.m22 * a.m33 - a.m23 * a.m32;
  M.m12 = -(a.m12 * a.m33 - a.m13 * a.m32);
  M.m13 = a.m12 * a.m23 - a.m13 * a.m22;
  M.m21 = -(a.m21 * a.m33 - a.m23 * a.m31);
  M.m22 = a.m11 * a.m33 - a.m13 * a.m31;
  M.m23 = -(a.m11 * a.m23 - a.m13 * a.m21);
  M.m31 = a.m21 * a.m32 - a.m22 * a.m31;
  M.m32 = -(a.m11 * a.m32 - a.m12 * a.m31);
  M.m33 = a.m11 * a.m22 - a.m12 * a.m21;
}

void AffineScale(TAffineMatrix& M, float AFactor) {
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) At(M, r, c) *= AFactor;
}

void AffineInvert(TAffineMatrix& M) {
  const float d = AffineDeterminant(M);
  if (std::fabs(d) < 1e-40f) {
    M = TAffineMatrix::Identity();
    return;
  }
  AffineAdjoint(M);
  AffineScale(M, 1 / d);
}

// --- GLSL ---------------------------------------------------------------------------------------

namespace {

using VK = TContextShaderVariableKind;

TContextShaderVariable Tex(const char* AName, int32_t AUnit) { return {AName, VK::Texture, AUnit, 0}; }
TContextShaderVariable Var(const char* AName, VK AKind) { return {AName, AKind, 0, 1}; }

// The shortest text that reads back as the same float, always with a decimal point.
std::string Number(float AValue) {
  char buffer[32];
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, AValue).ptr;
  std::string s(buffer, end);
  if (s.find_first_of(".e") == std::string::npos) s += ".0";
  return s;
}

// The taps of a separable blur: ARead(k) is the sample expression of offset k (a clamped
// coordinate shifted by k / _Width along the axis).
std::string Taps(bool AVertical, int AFirst, const float* AWeights, int ACount, const char* ASwizzle) {
  std::string s;
  for (int i = 0; i < ACount; ++i) {
    const int k = AFirst + i;
    const std::string step = Number(float(k)) + " / _Width";
    const std::string offset = AVertical ? "vec2(0.0, " + step + ")" : "vec2(" + step + ", 0.0)";
    s += "  sum += texture2D(_Input, clamp(TEX0.xy + " + offset + ", 0.0, 1.0))" + ASwizzle + " * " +
         Number(AWeights[i]) + ";\r\n";
  }
  return s;
}

std::string GaussianText(bool AVertical) {
  return "uniform sampler2D _Input;\r\nuniform float _Width;\r\nvarying vec4 TEX0;\r\nvoid main() {\r\n"
         "  vec4 sum = vec4(0.0);\r\n" +
         Taps(AVertical, -9, GaussianBlurWeights, 19, "") + "  gl_FragColor = sum;\r\n}\r\n";
}

// AHead declares what AResult uses besides _Input, _Width and the alpha sum a.
std::string GlowText(bool AVertical, const std::string& AHead, const std::string& AResult) {
  return "uniform sampler2D _Input;\r\nuniform float _Width;\r\n" + AHead +
         "varying vec4 TEX0;\r\nvoid main() {\r\n  float sum = 0.0;\r\n" + Taps(AVertical, -7, GlowWeights, 15, ".a") +
         "  float a = sum;\r\n  gl_FragColor = " + AResult + ";\r\n}\r\n";
}

const char* const kAffine = R"(uniform sampler2D _Input;
uniform vec3 _Matrix1;
uniform vec3 _Matrix2;
varying vec4 TEX0;
void main() {
  vec2 c = vec2(TEX0.x, 1.0 - TEX0.y);
  float u = c.x * _Matrix1.x + c.y * _Matrix1.y + _Matrix1.z;
  float v = c.x * _Matrix2.x + c.y * _Matrix2.y + _Matrix2.z;
  if (u >= 0.0 && u <= 1.0 && v >= 0.0 && v <= 1.0)
    gl_FragColor = texture2D(_Input, vec2(u, 1.0 - v));
  else
    gl_FragColor = vec4(0.0);
}
)";

const char* const kProjective = R"(uniform sampler2D _Input;
uniform vec3 _Matrix1;
uniform vec3 _Matrix2;
uniform vec3 _Matrix3;
varying vec4 TEX0;
void main() {
  vec2 c = TEX0.xy;
  float z = _Matrix3.x * c.x + _Matrix3.y * c.y + _Matrix3.z;
  float u = c.x * _Matrix1.x + c.y * _Matrix1.y + _Matrix1.z;
  float v = c.x * _Matrix2.x + c.y * _Matrix2.y + _Matrix2.z;
  if (z != 1.0) {
    u = u / z;
    v = v / z;
  }
  if (u >= 0.0 && u <= 1.0 && v >= 0.0 && v <= 1.0)
    gl_FragColor = texture2D(_Input, vec2(u, v));
  else
    gl_FragColor = vec4(0.0);
}
)";

const char* const kCrop = R"(uniform sampler2D _Input;
uniform vec2 _LeftTop;
uniform vec2 _RightBottom;
varying vec4 TEX0;
void main() {
  vec2 size = _RightBottom - _LeftTop;
  vec2 c = vec2(TEX0.x, 1.0 - TEX0.y) * size + _LeftTop;
  c.y = 1.0 - c.y;
  if (c.x >= 0.0 && c.x <= 1.0 && c.y >= 0.0 && c.y <= 1.0)
    gl_FragColor = texture2D(_Input, c);
  else
    gl_FragColor = vec4(0.0);
}
)";

const char* const kReflection = R"(uniform sampler2D _Input;
uniform float _Opacity;
uniform float _Length;
varying vec4 TEX0;
void main() {
  vec4 color = texture2D(_Input, vec2(TEX0.x, 1.0 - TEX0.y));
  float t = clamp((1.0 - TEX0.y) / _Length, 0.0, 1.0);
  gl_FragColor = color * (1.0 - t) * _Opacity;
}
)";

const char* const kSwipe = R"(uniform vec2 _APoint;
uniform vec2 _A1Point;
uniform vec2 _BPoint;
uniform vec2 _CPoint;
uniform vec2 _LineAB;
uniform vec2 _LineAB1;
uniform float _K;
uniform float _Len;
uniform sampler2D _Input;
uniform sampler2D _Target;
uniform sampler2D _Back;
varying vec4 TEX0;
float cross2(vec2 u, vec2 v) { return u.x * v.y - v.x * u.y; }
bool inTri(vec2 X, vec2 Y, vec2 Z, vec2 q) {
  float a = cross2(X - q, Y - q);
  float b = cross2(Y - q, Z - q);
  float c = cross2(Z - q, X - q);
  return a * b > 0.0 && b * c > 0.0;
}
vec4 page(vec2 q) {
  if (inTri(_APoint, _BPoint, _CPoint, q)) {
    vec2 k = vec2(_K, 1.0);
    vec2 a = _APoint * k;
    vec2 a1 = _A1Point * k;
    vec2 qk = q * k;
    vec2 n = normalize(a - a1);
    vec2 s = qk - 2.0 * n * dot(n, qk);
    s = s - ((a1 - 2.0 * n * dot(n, a1)) - a);
    s.y = 1.0 - s.y;
    s.x = s.x / _K;
    return texture2D(_Back, s);
  }
  if (inTri(_A1Point, _BPoint, _CPoint, q)) return texture2D(_Target, TEX0.xy);
  return texture2D(_Input, q);
}
void main() {
  vec2 p = TEX0.xy;
  vec4 result;
  float y0 = _LineAB.x * p.x + _LineAB.y;
  float y1 = _LineAB1.x * p.x + _LineAB1.y;
  if ((y0 <= p.y && p.y <= y1) || (y0 >= p.y && p.y >= y1)) {
    vec2 c = vec2((p.y - _LineAB1.y) / _LineAB1.x, p.y);
    float kx = length(_APoint - _A1Point) / (_CPoint - _A1Point).x;
    float l = kx * (c - p).x;
    float d = ((((((l / _Len) * l) / _Len) * l) / _Len) * l) / _Len * _Len * 0.1;
    vec2 p1 = p + d * normalize(_A1Point - _APoint);
    if (p1.x < 0.0 || p1.y < 0.0 || p1.x > 1.0 || p1.y > 1.0)
      result = texture2D(_Target, p);
    else
      result = page(p1);
  } else {
    result = page(p);
  }
  if (abs(_LineAB1.x * p.x + _LineAB1.y - p.y) < 0.001) result = page(p);
  gl_FragColor = result;
}
)";

TFilterValueRec PointValue(const char* AName, const char* ADesc, TPointF ADefault) {
  return TFilterValueRec::Point(AName, ADesc, ADefault, TPointF(0, 0), TPointF(65535, 65535));
}

// Selects the filter vertex shader and the pass's program on the filter context.
TContext3D* SelectShaders(TFilter* AFilter) {
  TContext3D* context = TFilterManager::FilterContext();
  if (context) context->SetShaders(TFilterManager::FilterVertexShader(), AFilter->GetShader(AFilter->GetPass()));
  return context;
}

void SetVector(TContext3D* AContext, const std::string& AName, float X, float Y = 0, float Z = 0, float W = 0) {
  const TVector3D data[1] = {TVector3D(X, Y, Z, W)};
  AContext->SetShaderVariable(AName, data);
}

// The geometry programs' inverse matrix by columns: "Matrix1" and "Matrix2" give u and v,
// "Matrix3" the perspective divisor.
void LoadMatrixShaders(TFilter* AFilter, const TAffineMatrix& AInv, bool AProjective) {
  TContext3D* context = SelectShaders(AFilter);
  if (!context) return;
  SetVector(context, "Matrix1", AInv.m11, AInv.m21, AInv.m31);
  SetVector(context, "Matrix2", AInv.m12, AInv.m22, AInv.m32);
  if (AProjective) SetVector(context, "Matrix3", AInv.m13, AInv.m23, AInv.m33);
}

// The glows' passes: "Width" along the pass's axis, and the fill colour in pass 1.
TContext3D* LoadGlowShaders(TFilter* AFilter) {
  TContext3D* context = SelectShaders(AFilter);
  if (!context) return nullptr;
  const TPointF size = AFilter->InputSize();
  const float amount = AFilter->GetFloat("BlurAmount");
  if (AFilter->GetPass() == 0) {
    SetVector(context, "Width", size.X / amount / 1.5f);
  } else {
    SetVector(context, "Width", size.Y / amount / 1.5f);
    const TAlphaColorRec c(AFilter->GetColor("Color"));
    SetVector(context, "FillColor", c.R / 255.0f, c.G / 255.0f, c.B / 255.0f, c.A / 255.0f);
  }
  return context;
}

std::vector<TFilterValueRec> GlowValues() {
  return {TFilterValueRec::Float("BlurAmount", "The blur factor.", 0.7f, 0.01f, 10),
          TFilterValueRec::Color("Color", "The glow color.", TAlphaColor(0xFFFFD700u))};
}

}  // namespace

// --- geometry -----------------------------------------------------------------------------------

TQuorvelAffineFilter::TQuorvelAffineFilter() {
  RegisterPass(0, "affine.fps", kAffine, {Tex("Input", 0), Var("Matrix1", VK::Float3), Var("Matrix2", VK::Float3)});
  FAntiAlias = true;
}

TFilterRec TQuorvelAffineFilter::FilterAttr() {
  return {"AffineTransform",
          "Applies an affine transform to an image.",
          {PointValue("Center", "The center point of the rotation.", TPointF(150, 150)),
           TFilterValueRec::Float("Rotation", "Rotation angle in degrees.", 0, -180, 180),
           TFilterValueRec::Float("Scale", "Scale value as floating.", 1, 0.05f, 4)}};
}

void TQuorvelAffineFilter::CalcMatrix(int32_t W, int32_t H) {
  const float w = float(W), h = float(H);
  const TPointF c = GetPoint("Center");
  const float scale = GetFloat("Scale");
  TAffineMatrix m = Translation(-c.X / w, -c.Y / h);
  m = AffineMatrixMultiply(m, Scaling(w, h));
  m = AffineMatrixMultiply(m, CreateAffineRotation(GetFloat("Rotation") * (std::numbers::pi_v<float> / 180.0f)));
  m = AffineMatrixMultiply(m, Scaling(1 / w, 1 / h));
  m = AffineMatrixMultiply(m, Translation(c.X / w, c.Y / h));
  FMatrix = AffineMatrixMultiply(m, Scaling(scale, scale));
}

void TQuorvelAffineFilter::CalcSize(int32_t& W, int32_t& H) {
  const TPointF size = InputSize();
  CalcMatrix(int32_t(size.X), int32_t(size.Y));
  FitMatrix(FMatrix, FInvMatrix, size.X, size.Y, W, H);
}

void TQuorvelAffineFilter::LoadShaders() { LoadMatrixShaders(this, FInvMatrix, false); }

TQuorvelPerspectiveFilter::TQuorvelPerspectiveFilter() {
  RegisterPass(0, "projective.fps", kProjective,
               {Tex("Input", 0), Var("Matrix1", VK::Float3), Var("Matrix2", VK::Float3), Var("Matrix3", VK::Float3)});
  FAntiAlias = true;
}

TFilterRec TQuorvelPerspectiveFilter::FilterAttr() {
  return {"PerspectiveTransform",
          "Applies an perspective transform to an image.",
          {PointValue("TopLeft", "Top left point of result transformation.", TPointF(0, 0)),
           PointValue("TopRight", "Top right point of result transformation.", TPointF(300, 0)),
           PointValue("BottomRight", "Bottom right point of result transformation.", TPointF(350, 300)),
           PointValue("BottomLeft", "Bottom left point of result transformation.", TPointF(0, 300))}};
}

void TQuorvelPerspectiveFilter::CalcMatrix(int32_t W, int32_t H) {
  const float w = float(W), h = float(H);
  const auto unit = [&](const char* AName) {
    const TPointF p = GetPoint(AName);
    return TPointF(p.X / w, p.Y / h);
  };
  const TPointF p0 = unit("TopLeft"), p1 = unit("TopRight"), p2 = unit("BottomRight"), p3 = unit("BottomLeft");
  const float dx1 = p1.X - p2.X, dx2 = p3.X - p2.X, dy1 = p1.Y - p2.Y, dy2 = p3.Y - p2.Y;
  const float sx = p0.X - p1.X + p2.X - p3.X, sy = p0.Y - p1.Y + p2.Y - p3.Y;
  const float den = dx1 * dy2 - dx2 * dy1;
  if (den == 0) {
    FMatrix = TAffineMatrix{};
    return;
  }
  const float g = (sx * dy2 - sy * dx2) / den, hh = (dx1 * sy - dy1 * sx) / den;
  FMatrix.m11 = p1.X - p0.X + g * p1.X;
  FMatrix.m12 = p1.Y - p0.Y + g * p1.Y;
  FMatrix.m13 = g;
  FMatrix.m21 = p3.X - p0.X + hh * p3.X;
  FMatrix.m22 = p3.Y - p0.Y + hh * p3.Y;
  FMatrix.m23 = hh;
  FMatrix.m31 = p0.X;
  FMatrix.m32 = p0.Y;
  FMatrix.m33 = 1;
}

void TQuorvelPerspectiveFilter::CalcSize(int32_t& W, int32_t& H) {
  const TPointF size = InputSize();
  CalcMatrix(int32_t(size.X), int32_t(size.Y));
  FitMatrix(FMatrix, FInvMatrix, size.X, size.Y, W, H);
}

void TQuorvelPerspectiveFilter::LoadShaders() { LoadMatrixShaders(this, FInvMatrix, true); }

TQuorvelCropFilter::TQuorvelCropFilter() {
  RegisterPass(0, "crop.fps", kCrop, {Tex("Input", 0), Var("LeftTop", VK::Float2), Var("RightBottom", VK::Float2)});
}

TFilterRec TQuorvelCropFilter::FilterAttr() {
  return {"Crop",
          "The size and shape of the cropped image depend on the rectangle you specify.",
          {PointValue("LeftTop", "Left-top corner of cropping rect", TPointF(0, 0)),
           PointValue("RightBottom", "Left-top corner of cropping rect", TPointF(150, 150))}};
}

void TQuorvelCropFilter::CalcSize(int32_t& W, int32_t& H) {
  const TPointF lt = GetPoint("LeftTop"), rb = GetPoint("RightBottom");
  W = RoundHalfEven(double(rb.X - lt.X));
  H = RoundHalfEven(double(rb.Y - lt.Y));
}

// --- blur and style -----------------------------------------------------------------------------

TQuorvelGaussianBlurFilter::TQuorvelGaussianBlurFilter() {
  const TContextShaderVariables vars{Tex("Input", 0), Var("Width", VK::Float)};
  RegisterPass(0, "gaussianblurh.fps", GaussianText(false), vars);
  RegisterPass(1, "gaussianblurv.fps", GaussianText(true), vars);
  FPassCount = 2;
}

TFilterRec TQuorvelGaussianBlurFilter::FilterAttr() {
  return {"GaussianBlur",
          "An effect that GaussianBlurs.",
          {TFilterValueRec::Float("BlurAmount", "The GaussianBlur factor.", 1, 0.01f, 10)}};
}

void TQuorvelGaussianBlurFilter::LoadShaders() {
  TContext3D* context = SelectShaders(this);
  if (!context) return;
  const TPointF size = InputSize();
  SetVector(context, "Width", (GetPass() == 0 ? size.X : size.Y) / GetFloat("BlurAmount"));
}

TQuorvelGlowFilter::TQuorvelGlowFilter() {
  RegisterPass(0, "glowh.fps", GlowText(false, "", "vec4(0.0, 0.0, 0.0, a)"),
               {Tex("Input", 0), Var("Width", VK::Float)});
  RegisterPass(1, "glowv.fps", GlowText(true, "uniform vec4 _FillColor;\r\n", "_FillColor * a"),
               {Tex("Input", 0), Var("Width", VK::Float), Var("FillColor", VK::Vector)});
  FPassCount = 2;
}

TFilterRec TQuorvelGlowFilter::FilterAttr() { return {"GlowFilter", "An effect that add glow.", GlowValues()}; }

void TQuorvelGlowFilter::LoadShaders() { LoadGlowShaders(this); }

TQuorvelInnerGlowFilter::TQuorvelInnerGlowFilter() {
  RegisterPass(0, "innerglowh.fps", GlowText(false, "", "vec4(0.0, 0.0, 0.0, 1.0 - a)"),
               {Tex("Input", 0), Var("Width", VK::Float)});
  const std::string head = "uniform sampler2D _Original;\r\nuniform vec4 _FillColor;\r\n";
  const TContextShaderVariables vars{Tex("Input", 0), Tex("Original", 1), Var("Width", VK::Float),
                                     Var("FillColor", VK::Vector)};
  const std::string glsl = GlowText(true, head, "_FillColor * a * texture2D(_Original, TEX0.xy).a");
  const std::string mac =
      GlowText(true, head, "_FillColor * a * texture2D(_Original, vec2(TEX0.x, 1.0 - TEX0.y)).a");
  RegisterPass(1, "innerglowv.fps",
               {TContextShaderSource(TContextShaderArch::GLSL, TContextShaderSource::CodeFromText(glsl), vars),
                TContextShaderSource(TContextShaderArch::Mac, TContextShaderSource::CodeFromText(mac), vars)});
  FPassCount = 2;
}

TFilterRec TQuorvelInnerGlowFilter::FilterAttr() {
  return {"InnerGlowFilter", "An effect that add glow.", GlowValues()};
}

void TQuorvelInnerGlowFilter::LoadShaders() {
  TContext3D* context = LoadGlowShaders(this);
  if (context && GetPass() == 1) context->SetShaderVariable("Original", GetOriginalTexture());
}

TQuorvelReflectionFilter::TQuorvelReflectionFilter() {
  RegisterPass(0, "Reflection.fps", kReflection,
               {Tex("Input", 0), Var("Opacity", VK::Float), Var("Length", VK::Float)});
}

TFilterRec TQuorvelReflectionFilter::FilterAttr() {
  return {"ReflectionFilter",
          "An reflection effect.",
          {TFilterValueRec::Float("Opacity", "The opacity of result image.", 1, 0, 1),
           TFilterValueRec::Float("Length", "The length of reflection.", 0.5f, 0, 1)}};
}

// --- swipe --------------------------------------------------------------------------------------

TQuorvelSwipeFilter::TQuorvelSwipeFilter() {
  RegisterPass(0, "SwipeFlatTransition.fps", kSwipe,
               {Var("APoint", VK::Float2), Var("A1Point", VK::Float2), Var("BPoint", VK::Float2),
                Var("CPoint", VK::Float2), Var("LineAB", VK::Float2), Var("LineAB1", VK::Float2),
                Var("K", VK::Float), Var("Len", VK::Float), Tex("Input", 0), Tex("Target", 1), Tex("Back", 2)});
}

void TQuorvelSwipeFilter::AfterConstruction() {
  TFilter::AfterConstruction();
  FNeedInternalSecondTex.clear();
}

TFilterRec TQuorvelSwipeFilter::FilterAttr() {
  return {"SwipeTransition",
          "A swipe transition effect.",
          {PointValue("MousePoint", "The point of coursor", TPointF(5, 5)),
           PointValue("CornerPoint", "The point of corner", TPointF(0, 0)),
           TFilterValueRec::Float("Deep", "The deep of fold", 50, 0, 100),
           TFilterValueRec::Bitmap("Target", "Target desription"),
           TFilterValueRec::Bitmap("Back", "Back page texture")}};
}

void TQuorvelSwipeFilter::CalcSize(int32_t& W, int32_t& H) {
  TFilter::CalcSize(W, H);
  if (W == 0 || H == 0) return;
  const float w = float(W), h = float(H);
  FK = w / h;
  TPointF& A = FAPoint;
  TPointF& A1 = FA1Point;
  A = GetPoint("MousePoint");
  A1 = GetPoint("CornerPoint");
  if (A.X == w) A.X = w - 0.1f;
  if (A.X == 0) A.X = 0.1f;
  if (A.Y == h) A.Y = h - 0.1f;
  if (A.Y == 0) A.Y = 0.1f;
  A1.X = A1.X - w / 2 > 0 ? w : 0;
  A1.Y = A1.Y - h / 2 > 0 ? h : 0;
  FLength = GetFloat("Deep");
  TPointF M((A.X + A1.X) / 2, (A.Y + A1.Y) / 2);
  if (M.X < 0 || M.Y < 0 || M.X > w || M.Y > h) {
    TPointF b(0, 0);
    if (A1.X > M.X && M.X < 0) b.X = w;
    if (A1.Y > M.Y && M.Y < 0) b.Y = h;
    if (M.X > A1.X && M.X > w) b.X = -w;
    if (M.Y > A1.Y && M.Y > h) b.Y = -h;
    b = TPointF(b.X + A1.X, b.Y + A1.Y);
    const TPointF d(M.X - A1.X, M.Y - A1.Y);
    // Both slopes divide by a component of d: a fold along an axis stops here, as below.
    if (d.X == 0 || d.Y == 0) return;
    const float f = -d.X / d.Y, e = d.Y / d.X;
    TPointF a;
    a.X = (M.Y - M.X * f - (b.Y - b.X * e)) / (e - f);
    a.Y = e * a.X + b.Y - b.X * e;
    A = TPointF(2 * a.X - b.X, 2 * a.Y - b.Y);
    A1 = b;
    M = TPointF((A.X + A1.X) / 2, (A.Y + A1.Y) / 2);
  }
  const TPointF D((A.X - A1.X) / 2, (A.Y - A1.Y) / 2);
  if (D.Y == 0) return;
  const float k = -D.X / D.Y, c = M.Y - M.X * k;
  FBPoint = TPointF(A1.X, k * A1.X + c);
  if (k == 0) return;
  FCPoint = TPointF((A1.Y - c) / k, A1.Y);
  const float len = D.Length();
  const TPointF F(M.X + FLength * D.X / len, M.Y + FLength * D.Y / len);
  A = TPointF(A.X / w, A.Y / h);
  A1 = TPointF(A1.X / w, A1.Y / h);
  FBPoint = TPointF(FBPoint.X / w, FBPoint.Y / h);
  FCPoint = TPointF(FCPoint.X / w, FCPoint.Y / h);
  FLineAB = TPointF(k * w / h, c / h);
  FLineAB1 = TPointF(k * w / h, (F.Y - F.X * k) / h);
  FK = w / h;
  FLength = FLength / w;
}

void TQuorvelSwipeFilter::LoadShaders() {
  if (TContext3D* context = SelectShaders(this)) {
    SetVector(context, "APoint", FAPoint.X, FAPoint.Y);
    SetVector(context, "A1Point", FA1Point.X, FA1Point.Y);
    SetVector(context, "BPoint", FBPoint.X, FBPoint.Y);
    SetVector(context, "CPoint", FCPoint.X, FCPoint.Y);
    SetVector(context, "LineAB", FLineAB.X, FLineAB.Y);
    SetVector(context, "LineAB1", FLineAB1.X, FLineAB1.Y);
    SetVector(context, "K", FK);
    SetVector(context, "Len", FLength);
  }
  TFilter::LoadShaders();
}

// --- registration -------------------------------------------------------------------------------

void TFilterManagerHack::ReregisterFilters() {
  TFilterManager::UnInitialize();
  TFilterManager::RegisterFilter("Geometry", TQuorvelAffineFilter::StaticMeta());
  TFilterManager::RegisterFilter("Geometry", TQuorvelPerspectiveFilter::StaticMeta());
  TFilterManager::RegisterFilter("Geometry", TQuorvelCropFilter::StaticMeta());
  TFilterManager::RegisterFilter("Blur", TQuorvelGaussianBlurFilter::StaticMeta());
  TFilterManager::RegisterFilter("Style", TQuorvelGlowFilter::StaticMeta());
  TFilterManager::RegisterFilter("Style", TQuorvelInnerGlowFilter::StaticMeta());
  TFilterManager::RegisterFilter("Style", TQuorvelReflectionFilter::StaticMeta());
  TFilterManager::RegisterFilter("Transition", TQuorvelSwipeFilter::StaticMeta());
}

namespace {
// The finalisation leaves the registry as it is.
const TUnitRegistration FilterCustomUnit{{kUnit, {"Fw.Filter"}, &TFilterManagerHack::ReregisterFilters, {}}};
}  // namespace

}  // namespace quorvel
