#include "lib/scene/SkyBox.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>
#include <vector>

#include "framework/classes/Messages.h"
#include "framework/io/Json.h"
#include "framework/io/Stream.h"
#include "framework/rtl/Encoding.h"
#include "framework/rtl/SysUtils.h"
#include "framework/rtl/Units.h"
#include "lib/context/Context.h"
#include "lib/context/ContextShader.h"
#include "lib/passes/ContextRendering.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelSkyBoxMaterial, "Quorvel.SkyBox")
void TQuorvelSkyBoxMaterial::Register(ClassBuilder<TQuorvelSkyBoxMaterial>&) {}
FW_CLASS_IMPL(TQuorvelSkyBoxMaterialSource, "Quorvel.SkyBox")
void TQuorvelSkyBoxMaterialSource::Register(ClassBuilder<TQuorvelSkyBoxMaterialSource>& b) {
  b.Prop("Mode", &Self::GetMode, &Self::SetMode)
      .Prop("CubeMap", &Self::GetCubeMap, &Self::SetCubeMap)
      .Prop("AllowFog", &Self::GetAllowFog, &Self::SetAllowFog)
      .Prop("Diffuse", &Self::GetDiffuse, &Self::SetDiffuse)
      .Prop("Emissive", &Self::GetEmissive, &Self::SetEmissive);
}
FW_CLASS_IMPL(TQuorvelSkyBox, "Quorvel.SkyBox")
void TQuorvelSkyBox::Register(ClassBuilder<TQuorvelSkyBox>& b) {
  using F = TQuorvelCubeMapFace;
  b.Prop("Mode", &Self::GetMode, &Self::SetMode)
      .Prop("AllowFog", &Self::GetAllowFog, &Self::SetAllowFog)
      .Prop("RightSide", [](const Self* s) { return s->GetTexture(F::PositiveX); },
            [](Self* s, TBitmap* v) { s->SetTexture(F::PositiveX, v); })
      .Prop("LeftSide", [](const Self* s) { return s->GetTexture(F::NegativeX); },
            [](Self* s, TBitmap* v) { s->SetTexture(F::NegativeX, v); })
      .Prop("TopSide", [](const Self* s) { return s->GetTexture(F::PositiveY); },
            [](Self* s, TBitmap* v) { s->SetTexture(F::PositiveY, v); })
      .Prop("BottomSide", [](const Self* s) { return s->GetTexture(F::NegativeY); },
            [](Self* s, TBitmap* v) { s->SetTexture(F::NegativeY, v); })
      .Prop("BackSide", [](const Self* s) { return s->GetTexture(F::PositiveZ); },
            [](Self* s, TBitmap* v) { s->SetTexture(F::PositiveZ, v); })
      .Prop("FrontSide", [](const Self* s) { return s->GetTexture(F::NegativeZ); },
            [](Self* s, TBitmap* v) { s->SetTexture(F::NegativeZ, v); })
      .Prop("Diffuse", &Self::GetDiffuse, &Self::SetDiffuse)
      .Prop("Emissive", &Self::GetEmissive, &Self::SetEmissive)
      .Prop("StarColor", &Self::GetStarColor, &Self::SetStarColor)
      .Prop("CloudColor", &Self::GetCloudColor, &Self::SetCloudColor);
#define QUORVEL_SKYBOX_SINGLE_PROP(N) b.Prop(#N, &Self::Get##N, &Self::Set##N);
  QUORVEL_SKYBOX_SINGLES(QUORVEL_SKYBOX_SINGLE_PROP)
#undef QUORVEL_SKYBOX_SINGLE_PROP
  b.Prop("CrescentOfsX", &Self::GetCrescentOfsX, &Self::SetCrescentOfsX)
      .Prop("CrescentOfsY", &Self::GetCrescentOfsY, &Self::SetCrescentOfsY)
      .Prop("MieKCoefficientX", [](const Self* s) { return s->GetMieKCoefficientAt(0); },
            [](Self* s, float v) { s->SetMieKCoefficientAt(0, v); })
      .Prop("MieKCoefficientY", [](const Self* s) { return s->GetMieKCoefficientAt(1); },
            [](Self* s, float v) { s->SetMieKCoefficientAt(1, v); })
      .Prop("MieKCoefficientZ", [](const Self* s) { return s->GetMieKCoefficientAt(2); },
            [](Self* s, float v) { s->SetMieKCoefficientAt(2, v); })
      .Prop("MieKCoefficientW", [](const Self* s) { return s->GetMieKCoefficientAt(3); },
            [](Self* s, float v) { s->SetMieKCoefficientAt(3, v); })
      .Prop("PrimariesA", [](const Self* s) { return s->GetPrimariesAt(0); },
            [](Self* s, float v) { s->SetPrimariesAt(0, v); })
      .Prop("PrimariesB", [](const Self* s) { return s->GetPrimariesAt(1); },
            [](Self* s, float v) { s->SetPrimariesAt(1, v); })
      .Prop("PrimariesC", [](const Self* s) { return s->GetPrimariesAt(2); },
            [](Self* s, float v) { s->SetPrimariesAt(2, v); })
      .Prop("Crescent", &Self::GetCrescent, &Self::SetCrescent)
      .Prop("StarsEnabled", &Self::GetStarsEnabled, &Self::SetStarsEnabled)
      .Prop("CloudsEnabled", &Self::GetCloudsEnabled, &Self::SetCloudsEnabled)
      .Prop("CloudIterations", &Self::GetCloudIterations, &Self::SetCloudIterations);
}

void TSkyBoxShaderData::Reset(int32_t AStyle) {
  std::memset(static_cast<void*>(this), 0, sizeof(*this));
  Diffuse = TAlphaColorF(1, 1, 1, 1);
  Emissive = TAlphaColorF(0.2f, 0.2f, 1, 0);
  CrescentOfs = TPointF(-0.5f, 0);
  CrescentMoon = 0.03f;
  MoonSurface = 0.5f;
  DepolarizationFactor = 0.01f;
  Luminance = 1.1735f;
  MieCoefficient = 0.0191f;
  MieDirectionalG = 0.793f;
  MieV = 4.042f;
  MieZenithLength = 1600;
  MieKCoefficient = TVector3D(0.686f, 0.678f, 0.666f, 1.0f);
  Primaries = TPoint3D(4.5e-7f, 5.5e-7f, 6.8e-7f);
  NumMolecules = 2.542e25f;
  Rayleigh = 6.77f;
  RayleighZenithLength = 1425;
  RefractiveIndex = 1.000633f;
  SunAngularDiameterDegrees = AStyle == 0 ? 0.1f : 0.05f;
  SunIntensityFactor = 2069;
  SunIntensityFalloffSteepness = 2.26f;
  TonemapWeighting = 10;
  Turbidity = 4.75f;
  Inclination = 0.4f;
  Azimuth = 0.22f;
  StarDensity = 100;
  StarProbe = 32;
  StarSize = 120;
  StarSpark = 0.2f;
  StarBrightness = 3;
  StarColor = TAlphaColorF(1, 1, 1, 1);
  CloudColor = TAlphaColorF(1, 1, 1, 1);
  CloudIterations = 4;
  CloudFrequency = 0.02f;
  CloudAmplitude = 4;
}

namespace {

// The JSON keys in the order they are written, with the record's floats behind each.
struct TJsonKey {
  const char* Name;
  size_t Offset;
  int Count;  // 0: the one integer field; 1: a number; more: an array
};
#define KEY(N, C) {#N, offsetof(TSkyBoxShaderData, N), C}
const TJsonKey JsonKeys[] = {
    KEY(Diffuse, 4), KEY(Emissive, 4), KEY(CrescentMoon, 1), KEY(MoonSurface, 1), KEY(CrescentOfs, 2),
    KEY(DepolarizationFactor, 1), KEY(Luminance, 1), KEY(MieCoefficient, 1), KEY(MieDirectionalG, 1),
    KEY(MieV, 1), KEY(MieZenithLength, 1), KEY(MieKCoefficient, 4), KEY(Primaries, 3), KEY(NumMolecules, 1),
    KEY(Rayleigh, 1), KEY(RayleighZenithLength, 1), KEY(RefractiveIndex, 1), KEY(SunAngularDiameterDegrees, 1),
    KEY(SunIntensityFactor, 1), KEY(SunIntensityFalloffSteepness, 1), KEY(TonemapWeighting, 1),
    KEY(Turbidity, 1), KEY(Inclination, 1), KEY(Azimuth, 1), KEY(StarDensity, 1), KEY(StarProbe, 1),
    KEY(StarSize, 1), KEY(StarSpark, 1), KEY(StarBrightness, 1), KEY(StarColor, 4), KEY(CloudColor, 4),
    KEY(CloudIterations, 0), KEY(CloudFrequency, 1), KEY(CloudAmplitude, 1)};
#undef KEY
static_assert(std::size(JsonKeys) == 34);

float ComponentOf(const TSkyBoxShaderData& AData, size_t AOffset, int AIndex) {
  float v;
  std::memcpy(&v, reinterpret_cast<const uint8_t*>(&AData) + AOffset + size_t(AIndex) * sizeof(float), sizeof v);
  return v;
}

void SetComponent(TSkyBoxShaderData& AData, size_t AOffset, int AIndex, const TJSONNumber* ANumber,
                  const char* AKey) {
  double d = ANumber->AsDouble();
  // Converting a double beyond a Single's range is undefined: refuse it. The largest Single
  // written with 15 digits lies just above it and must read back.
  const double largest = std::numeric_limits<float>::max();
  if (!(std::fabs(d) < largest + std::ldexp(1.0, 103)))
    throw EConvertError(Format("'%s' of \"%s\" is out of the range of a Single", {ANumber->Value(), AKey}));
  d = std::clamp(d, -largest, largest);
  const float v = static_cast<float>(d);
  std::memcpy(reinterpret_cast<uint8_t*>(&AData) + AOffset + size_t(AIndex) * sizeof(float), &v, sizeof v);
}

// The number text of a component. A negative zero is written with its sign: the plain text
// of the double is "0", which reads back as a positive zero.
TJSONNumber* NumberOf(float AValue) {
  if (AValue == 0 && std::signbit(AValue)) return TJSONNumber::FromText("-0");
  return new TJSONNumber(double(AValue));
}

}  // namespace

TJSONObject* TSkyBoxShaderData::ToJSON() const {
  TOwned<TJSONObject> r(new TJSONObject());
  for (const TJsonKey& k : JsonKeys) {
    if (k.Count == 0) {
      r->AddPair(k.Name, new TJSONNumber(CloudIterations));
    } else if (k.Count == 1) {
      r->AddPair(k.Name, NumberOf(ComponentOf(*this, k.Offset, 0)));
    } else {
      auto* a = new TJSONArray();
      r->AddPair(k.Name, a);
      for (int i = 0; i < k.Count; ++i) a->Add(NumberOf(ComponentOf(*this, k.Offset, i)));
    }
  }
  return r.release();
}

void TSkyBoxShaderData::FromJSON(const TJSONObject* AJSON) {
  Reset(0);
  if (!AJSON) return;
  for (const TJsonKey& k : JsonKeys) {
    TJSONValue* v = AJSON->GetValue(k.Name);
    if (!v) continue;
    if (k.Count <= 1) {
      auto* n = dynamic_cast<TJSONNumber*>(v);
      if (!n) continue;
      if (k.Count == 0)
        CloudIterations = n->AsInt();
      else
        SetComponent(*this, k.Offset, 0, n, k.Name);
      continue;
    }
    auto* a = dynamic_cast<TJSONArray*>(v);
    if (!a) continue;
    for (int i = 0; i < std::min(a->Count(), k.Count); ++i)
      if (auto* n = dynamic_cast<TJSONNumber*>(a->Items(i))) SetComponent(*this, k.Offset, i, n, k.Name);
  }
}

namespace {

#define NL "\r\n"
const char* const Version = "#version 430" NL NL NL;

const char* const UniformBlock =
    "layout (binding=0, std140) uniform SkyBoxShaderData{" NL
    "  mat4 _ModelViewProjMatrix;" NL "  mat4 _ModelMatrix;" NL "  mat4 _ViewMatrix;" NL "  mat4 _ProjMatrix;" NL
    "  vec4 _TimeInfo;" NL "  vec4 _EyePos;" NL "  vec4 _Diffuse;" NL "  vec4 _Emissive;" NL "  vec4 _Resolution;" NL
    "  vec2 _CrescentOfs;" NL "  float _CrescentMoon;" NL "  float _MoonSurface;" NL
    "  float _DepolarizationFactor;" NL "  float _Luminance;" NL "  float _MieCoefficient;" NL
    "  float _MieDirectionalG;" NL "  float _MieV;" NL "  float _MieZenithLength;" NL "  vec2 _Reserve1;" NL
    "  vec4 _MieKCoefficient;" NL "  vec3 _Primaries;" NL "  float _NumMolecules;" NL "  float _Rayleigh;" NL
    "  float _RayleighZenithLength;" NL "  float _RefractiveIndex;" NL "  float _SunAngularDiameterDegrees;" NL
    "  float _SunIntensityFactor;" NL "  float _SunIntensityFalloffSteepness;" NL "  float _TonemapWeighting;" NL
    "  float _Turbidity;" NL "  float _Inclination;" NL "  float _Azimuth;" NL "  float _StarDensity;" NL
    "  float _StarProbe;" NL "  float _StarSize;" NL "  float _StarSpark;" NL "  float _StarBrightness;" NL
    "  float _Reserve2;" NL "  vec4 _StarColor;" NL "  vec4 _CloudColor;" NL "  int _CloudIterations;" NL
    "  float _CloudFrequency;" NL "  float _CloudAmplitude;" NL "  int _FogMode;" NL "  float _FogDensity;" NL
    "  float _FogStart;" NL "  float _FogEnd;" NL "  float _Reserve3;" NL "  vec4 _FogColor;" NL
    "  vec4 _Settings;" NL "};" NL
    "struct TCloudParams {" NL "  vec3 EyeVertPos;" NL "  vec3 Fade;" NL "  vec4 CloudColor;" NL
    "  int CloudIterations;" NL "  float CloudFrequency;" NL "  float CloudAmplitude;" NL "};" NL
    "struct TStarsParams {" NL "  vec3 EyeVertPos;" NL "  vec2 TexCoord;" NL "  float TimeInfo;" NL
    "  float StarDensity;" NL "  float StarProbe;" NL "  float StarSize;" NL "  float StarSpark;" NL
    "  float StarBrightness;" NL "  vec4 StarColor;" NL "};" NL NL;

const char* const FogDefines =
    "#define GLI_FOG_ENABLED 1" NL "#define GLI_FOG_MODE_LINEAR 2" NL "#define GLI_FOG_MODE_EXP 4" NL
    "#define GLI_FOG_MODE_EXP2 8" NL NL;

const char* const TextureHelpers =
    "vec4 tex2D(sampler2D s, vec2 c) { return texture(s, c); }" NL
    "vec4 tex2DProj(sampler2D s, vec4 c) { return textureProj(s, c); }" NL
    "vec4 tex3D(sampler3D s, vec3 c) { return texture(s, c); }" NL
    "vec4 texCube(samplerCube s, vec3 c) { return texture(s, c); }" NL NL;

const char* const FogFunction =
    "float computeFog(int p_FogMode, float p_FogStart, float p_FogEnd, float p_FogDensity, vec4 p_VertPos, "
    "vec4 p_EyePos) {" NL
    "  if ((p_FogMode & GLI_FOG_ENABLED) == 0) return 1.0;" NL
    "  float d = distance(p_VertPos.xyz, p_EyePos.xyz);" NL
    "  float f;" NL
    "  if ((p_FogMode & GLI_FOG_MODE_LINEAR) != 0) f = (p_FogEnd - d) / (p_FogEnd - p_FogStart);" NL
    "  else if ((p_FogMode & GLI_FOG_MODE_EXP) != 0) f = exp(-d * p_FogDensity);" NL
    "  else f = exp(-(d * p_FogDensity) * (d * p_FogDensity));" NL
    "  return clamp(f, 0.0, 1.0);" NL "}" NL NL;

const char* const CubeMapVertex =
    "layout(location = 0) in vec3 a_Position;" NL "layout(location = 1) in vec3 a_Normal;" NL
    "out vec3 v_TexCoord0;" NL "out vec4 v_Position;" NL "out vec4 v_EyeVertPos;" NL "out vec3 v_Normal;" NL NL;
const char* const ProceduralVertex =
    "layout(location = 0) in vec3 a_Position;" NL "layout(location = 1) in vec3 a_Normal;" NL
    "layout(location = 3) in vec2 a_TexCoord0;" NL
    "out vec3 v_TexCoord0;" NL "out vec4 v_Position;" NL "out vec4 v_EyeVertPos;" NL "out vec3 v_Normal;" NL NL;
const char* const CubeMapVertexMain =
    "void main() {" NL "  vec4 p = vec4(a_Position, 1.0);" NL "  v_TexCoord0 = a_Position;" NL
    "  v_Position = _ModelViewProjMatrix * p;" NL "  v_EyeVertPos = _ModelMatrix * p;" NL
    "  v_Normal = (_ModelMatrix * vec4(a_Normal, 1.0)).xyz;" NL "  gl_Position = v_Position;" NL "}" NL;
const char* const ProceduralVertexMain =
    "void main() {" NL "  vec4 p = vec4(a_Position, 1.0);" NL "  v_TexCoord0 = vec3(a_TexCoord0, 1.0);" NL
    "  v_Position = _ModelViewProjMatrix * p;" NL "  v_EyeVertPos = _ModelMatrix * p;" NL
    "  v_Normal = normalize((_ModelMatrix * vec4(a_Normal, 1.0)).xyz);" NL "  gl_Position = v_Position;" NL "}" NL;

const char* const FragmentInterface =
    "in vec3 v_TexCoord0;" NL "in vec4 v_Position;" NL "in vec4 v_EyeVertPos;" NL "in vec3 v_Normal;" NL
    "layout(location = 0) out vec4 o_Albedo;" NL "layout(location = 1) out float o_Alpha;" NL
    "layout(location = 2) out vec4 o_Position;" NL "layout(location = 3) out vec3 o_Normals;" NL
    "layout(location = 4) out vec3 o_Emissive;" NL NL;
// Every main ends alike: fog, then the other targets.
#define FRAGMENT_TAIL                                                                                        \
  "  float fog = computeFog(_FogMode, _FogStart, _FogEnd, _FogDensity, v_EyeVertPos, _EyePos);" NL          \
  "  o_Albedo = mix(color, _FogColor, 1.0 - fog);" NL "  o_Alpha = 0.0;" NL                         \
  "  o_Position = vec4(v_EyeVertPos.xyz, v_Position.z);" NL "  o_Normals = v_Normal;" NL "}" NL
const char* const CubeMapFragmentMain =
    "void main() {" NL "  vec4 color = texCube(_CubeMap, v_TexCoord0) * _Diffuse;" NL
    "  o_Emissive = color.rgb * (_Emissive.rgb * _Emissive.a);" NL FRAGMENT_TAIL;
const char* const BlankFragmentMain =
    "void main() {" NL "  vec4 color = _Diffuse;" NL "  o_Emissive = vec3(0.0);" NL FRAGMENT_TAIL;

const char* const ProceduralConstants =
    "const float SB_PI = 3.141592653589793238462643383279502884197169;" NL
    "const vec3 UP = vec3(0.0, -1.0, 0.0);" NL NL;

const char* const RandomHashes =
    "float hash(vec3 p) {" NL
    "  return fract(sin(p.x * 15.32758341 + p.y * 39.786792357 + p.z * 59.4583127 + 7.5312) * 43758.236237153) - 0.5;" NL
    "}" NL
    "vec3 hash3(vec3 p) {" NL
    "  return fract(sin(vec3(dot(p, vec3(1.0, 57.0, 113.0)), dot(p, vec3(57.0, 113.0, 1.0)), dot(p, vec3(113.0, 1.0, "
    "57.0)))) * 43758.5453);" NL
    "}" NL
    "float rand(vec2 st) { return fract(sin(dot(st, vec2(12.9898, 78.233))) * 43758.5453123); }" NL
    "vec2 rhash(vec2 uv) {" NL
    "  const mat2 t = mat2(.12121212, .13131313, -.13131313, .12121212);" NL
    "  const vec2 s = vec2(1e4, 1e6);" NL
    "  uv = t * uv * s;" NL
    "  return fract(fract(uv / s) * uv);" NL "}" NL NL;

const char* const CellNoise =
    "vec3 voronoi3(vec3 x, float density, float probe, float size) {" NL
    "  vec3 p = floor(x);" NL "  vec3 f = fract(x);" NL
    "  float id = 0.0;" NL "  vec2 res = vec2(100.0);" NL
    "  for (int k = -1; k <= 1; k++)" NL "    for (int j = -1; j <= 1; j++)" NL
    "      for (int i = -1; i <= 1; i++) {" NL
    "        vec3 b = vec3(float(i), float(j), float(k));" NL
    "        vec3 r = b - f + hash3(p + b);" NL
    "        float d = dot(r, r) * density;" NL
    "        if (d < res.x) {" NL "          id = dot(p + b, vec3(1.0, 57.0, 113.0));" NL
    "          res = vec2(d, res.x);" NL "        } else if (d < res.y) {" NL "          res.y = d;" NL "        }" NL
    "      }" NL
    "  return vec3(pow(1.0 / sqrt(res.x), size * probe), sqrt(res.y), abs(id));" NL "}" NL NL;

// The octave loop stops at the setter's largest count: a count given through the whole record
// must not keep the GPU looping for every pixel.
const char* const GradientNoiseAndClouds =
    "float fade(float t) { return t * t * t * (t * (t * 6.0 - 15.0) + 10.0); }" NL
    "float grad3D(float hash, vec3 pos) {" NL
    "  int h = int(1e4 * hash) & 15;" NL
    "  float u = h < 8 ? pos.x : pos.y;" NL
    "  float v = h < 4 ? pos.y : ((h == 12 || h == 14) ? pos.x : pos.z);" NL
    "  return ((h & 1) == 0 ? u : -u) + ((h & 2) == 0 ? v : -v);" NL "}" NL
    "float perlinNoise3D(vec3 pos) {" NL
    "  vec3 pi = floor(pos);" NL "  vec3 pf = pos - pi;" NL
    "  float u = fade(pf.x), v = fade(pf.y), w = fade(pf.z);" NL
    "  float n000 = grad3D(hash(pi), pf);" NL
    "  float n100 = grad3D(hash(pi + vec3(1.0, 0.0, 0.0)), pf - vec3(1.0, 0.0, 0.0));" NL
    "  float n010 = grad3D(hash(pi + vec3(0.0, 1.0, 0.0)), pf - vec3(0.0, 1.0, 0.0));" NL
    "  float n110 = grad3D(hash(pi + vec3(1.0, 1.0, 0.0)), pf - vec3(1.0, 1.0, 0.0));" NL
    "  float n001 = grad3D(hash(pi + vec3(0.0, 0.0, 1.0)), pf - vec3(0.0, 0.0, 1.0));" NL
    "  float n101 = grad3D(hash(pi + vec3(1.0, 0.0, 1.0)), pf - vec3(1.0, 0.0, 1.0));" NL
    "  float n011 = grad3D(hash(pi + vec3(0.0, 1.0, 1.0)), pf - vec3(0.0, 1.0, 1.0));" NL
    "  float n111 = grad3D(hash(pi + vec3(1.0, 1.0, 1.0)), pf - vec3(1.0, 1.0, 1.0));" NL
    "  float y0 = mix(mix(n000, n100, u), mix(n010, n110, u), v);" NL
    "  float y1 = mix(mix(n001, n101, u), mix(n011, n111, u), v);" NL
    "  return mix(y0, y1, w);" NL "}" NL
    "float fbm(vec3 p, int iterations, float frequency, float amplitude) {" NL
    "  float sum = 0.0;" NL
    "  for (int i = 0; i < min(iterations, 16); i++) {" NL
    "    sum += perlinNoise3D(p * frequency) * amplitude;" NL
    "    amplitude *= 0.5;" NL "    frequency *= 2.0;" NL "  }" NL
    "  return sum;" NL "}" NL
    "vec3 clouds(TCloudParams params) {" NL
    "  if (params.CloudIterations <= 0 || params.CloudColor.a <= 0.0001) return vec3(0.0);" NL
    "  float n = fbm(params.EyeVertPos, params.CloudIterations, params.CloudFrequency, params.CloudAmplitude);" NL
    "  return params.CloudColor.rgb * n * params.Fade * params.CloudColor.a;" NL "}" NL NL;

const char* const ScatteringFunctions =
    "const float SunCoeff = 450000.0;" NL
    "vec3 totalRayleigh(vec3 l, float n, float pn, float N) {" NL
    "  return (8.0 * pow(SB_PI, 3.0) * pow(n * n - 1.0, 2.0) * (6.0 + 3.0 * pn)) /" NL
    "         (3.0 * N * pow(l, vec3(4.0)) * (6.0 - 7.0 * pn));" NL "}" NL
    "vec3 totalMie(vec3 l, vec3 K, float T, float v) {" NL
    "  float c = 0.2 * T * 10e-18;" NL
    "  return 0.434 * c * SB_PI * pow((2.0 * SB_PI) / l, vec3(v - 2.0)) * K;" NL "}" NL
    "float rayleighPhase(float c) { return (3.0 / (16.0 * SB_PI)) * (1.0 + c * c); }" NL
    "float henyeyGreensteinPhase(float c, float g) {" NL
    "  return (1.0 / (4.0 * SB_PI)) * ((1.0 - g * g) / pow(1.0 - 2.0 * g * c + g * g, 1.5));" NL "}" NL
    "float sunIntensity(float z, float f, float s) {" NL
    "  return f * max(0.0, 1.0 - exp(-((SB_PI / 1.95) - acos(z)) / s));" NL "}" NL
    "vec3 Uncharted2Tonemap(vec3 W) {" NL
    "  const float A = 0.15, B = 0.50, C = 0.10, D = 0.20, E = 0.02, F = 0.30;" NL
    "  return ((W * (A * W + C * B) + D * E) / (W * (A * W + B) + D * F)) - E / F;" NL "}" NL NL;

const char* const Stars =
    "vec3 stars(TStarsParams params) {" NL
    "  if (params.StarDensity < 1.0 || params.StarSize < 0.0001) return vec3(0.0);" NL
    "  float sparkle = max(sin((params.TimeInfo * params.StarSpark + hash(params.EyeVertPos)) * 4.0), 0.1);" NL
    "  vec3 intensity = voronoi3(params.EyeVertPos / (params.StarSize * 0.1), 1000.0 - params.StarDensity," NL
    "                            params.StarProbe, sparkle);" NL
    "  return params.StarColor.rgb * intensity.x * params.StarBrightness;" NL "}" NL NL;

// The scattering sky with its sun and moon discs.
const char* const SkyFunction1 =
    "vec3 ProceduralSky(inout vec3 emissive) {" NL
    "  vec3 view = normalize(v_EyeVertPos.xyz - _EyePos.xyz);" NL
    "  float theta = SB_PI * (_Inclination - _EyePos.y / _Resolution.y - 0.5);" NL
    "  float phi = 2.0 * SB_PI * (_Azimuth - _EyePos.x / _Resolution.x - 0.5);" NL
    "  float d = 400000.0;" NL
    "  vec3 sun = vec3(d * cos(phi), -d * sin(phi) * sin(theta), -d * sin(phi) * cos(theta));" NL
    "  float sunfade = 1.0 - clamp(1.0 - exp(sun.y / SunCoeff), 0.0, 1.0);" NL
    "  float rc = _Rayleigh - (1.0 - sunfade);" NL
    "  vec3 bR = totalRayleigh(_Primaries, _RefractiveIndex, _DepolarizationFactor, _NumMolecules) * rc;" NL
    "  vec3 bM = totalMie(_Primaries, _MieKCoefficient.xyz, _Turbidity, _MieV) * _MieCoefficient;" NL
    "  float zenith = acos(max(0.0, dot(UP, view)));" NL
    "  float den = cos(zenith) + 0.15 * pow(93.885 - ((zenith * 180.0) / SB_PI), -1.253);" NL
    "  vec3 Fex = exp(-(bR * (_RayleighZenithLength / den) + bM * (_MieZenithLength / den)));" NL
    "  vec3 sunDir = normalize(sun);" NL
    "  float cosT = dot(view, sunDir);" NL
    "  vec3 bRt = bR * rayleighPhase(cosT * 0.5 + 0.5);" NL
    "  vec3 bMt = bM * henyeyGreensteinPhase(cosT, _MieDirectionalG);" NL
    "  float sunE = sunIntensity(dot(sunDir, UP), _SunIntensityFactor, _SunIntensityFalloffSteepness);" NL
    "  vec3 ratio = (bRt + bMt) / (bR + bM);" NL
    "  vec3 Lin = pow(sunE * ratio * (1.0 - Fex), vec3(1.5));" NL
    "  Lin *= mix(vec3(1.0), pow(sunE * ratio * Fex, vec3(0.5)), clamp(pow(1.0 - dot(UP, sunDir), 5.0), 0.0, "
    "1.0));" NL
    // The diameter goes to cos() as it is: a value in degrees taken as radians.
    "  float c0 = cos(_SunAngularDiameterDegrees);" NL
    "  float disc = smoothstep(c0, c0 + 0.00002, cosT);" NL
    "  if (abs(_CrescentMoon) > 0.0001) {" NL
    "    if (_MoonSurface > 0.0) {" NL
    "      float s = perlinNoise3D(v_EyeVertPos.xyz);" NL
    "      disc *= 1.0 - clamp(smoothstep(s, s + 1.0, _MoonSurface), 0.0, 1.0);" NL "    }" NL
    "    vec3 shadowDir = normalize(sun + vec3((400000.0 / 10.0) * _CrescentOfs, 0.0));" NL
    "    float c1 = cos(0.98 * _SunAngularDiameterDegrees);" NL
    "    float shadow = smoothstep(c1, c1 + 0.00002, dot(view, shadowDir));" NL
    "    float shadowTerm = disc * _CrescentMoon * 0.005;" NL
    "    disc *= _CrescentMoon > 0.0 ? 1.0 - shadow : shadow;" NL
    "    disc += shadowTerm;" NL "  }" NL;
const char* const SkyFunction2 =
    "  vec3 L0 = 0.1 * Fex + sunE * 19000.0 * Fex * disc;" NL
    "  vec3 color = (Lin + L0) * 0.04 + vec3(0.0, 0.001, 0.0025) * 0.3;" NL
    "  if (_Settings.x > 0.1) {" NL
    "    TStarsParams sp = TStarsParams(v_EyeVertPos.xyz, v_TexCoord0.xy, _TimeInfo.x, _StarDensity, _StarProbe," NL
    "                                   _StarSize, _StarSpark, _StarBrightness, _StarColor);" NL
    "    emissive = stars(sp);" NL "    color += emissive;" NL "  }" NL
    "  if (_Settings.y > 0.1) {" NL
    "    TCloudParams cp = TCloudParams(v_EyeVertPos.xyz, vec3(1.0 - sunfade), _CloudColor, _CloudIterations," NL
    "                                   _CloudFrequency, _CloudAmplitude);" NL
    "    color += clouds(cp);" NL "  }" NL
    "  vec3 white = Uncharted2Tonemap(vec3(_TonemapWeighting));" NL
    "  vec3 mapped = Uncharted2Tonemap(log2(2.0 / pow(_Luminance, 4.0)) * color) / white;" NL
    "  return pow(max(mapped, vec3(0.0)), vec3(1.0 / (1.2 + 1.2 * sunfade)));" NL "}" NL NL;
const char* const ProceduralFragmentMain =
    "void main() {" NL "  vec3 emissive = vec3(0.0);" NL
    "  vec4 color = vec4(ProceduralSky(emissive), 1.0) * _Diffuse;" NL
    "  o_Emissive = emissive * (_Emissive.rgb * _Emissive.a);" NL FRAGMENT_TAIL;
#undef FRAGMENT_TAIL
#undef NL

std::string Join(std::initializer_list<const char*> APieces) {
  std::string r;
  for (const char* p : APieces) r += p;
  return r;
}

std::string ShaderName(const char* APattern, const void* AMaterial) {
  return Format(APattern, {static_cast<int64_t>(reinterpret_cast<intptr_t>(AMaterial))});
}

const char* const ShaderPatterns[] = {"SkyBox-%d.fvs", "SkyBoxProc-%d.fvs", "SkyBox-%d.fps", "SkyBoxProc-%d.fps",
                                      "SkyBoxBlank-%d.fps"};

TContextShader* RegisterSkyShader(const char* APattern, const void* AMaterial, TContextShaderKind AKind,
                         const std::string& ACode, std::vector<TContextShaderVariable> AVariables = {}) {
  return TShaderManager::RegisterShaderFromData(
      ShaderName(APattern, AMaterial), AKind, "",
      {TContextShaderSource(TContextShaderArch::GLSL, TContextShaderSource::CodeFromText(ACode),
                            std::move(AVariables))});
}

}  // namespace

// ---- material ----

TQuorvelSkyBoxMaterial::TQuorvelSkyBoxMaterial(TQuorvelSkyBoxMaterialSource* ASource) : FSource(ASource) {
  FStopWatch.Start();
}

TQuorvelSkyBoxMaterial::~TQuorvelSkyBoxMaterial() {
  for (TContextShader* vs : {FVertexShader, FVertexShader2})
    for (TContextShader* ps : {FPixelShader, FPixelShader2, FPixelShader3})
      if (vs && ps) TQuorvelContext::RemoveProgram(vs, ps);
  for (const char* pattern : ShaderPatterns) TShaderManager::UnregisterShader(ShaderName(pattern, this));
}

void TQuorvelSkyBoxMaterial::DoInitialize() {
  using K = TContextShaderKind;
  FVertexShader = RegisterSkyShader(ShaderPatterns[0], this, K::VertexShader,
                           Join({Version, CubeMapVertex, UniformBlock, CubeMapVertexMain}));
  FVertexShader2 = RegisterSkyShader(ShaderPatterns[1], this, K::VertexShader,
                            Join({Version, ProceduralVertex, UniformBlock, ProceduralVertexMain}));
  FPixelShader = RegisterSkyShader(ShaderPatterns[2], this, K::PixelShader,
                          Join({Version, FogDefines, TextureHelpers, UniformBlock,
                                "uniform samplerCube _CubeMap;\r\n", FogFunction, FragmentInterface,
                                CubeMapFragmentMain}),
                          {{"CubeMap", TContextShaderVariableKind::Texture, 0, 0}});
  FPixelShader2 = RegisterSkyShader(ShaderPatterns[3], this, K::PixelShader,
                           Join({Version, FogDefines, TextureHelpers, UniformBlock, FogFunction, ProceduralConstants,
                                 FragmentInterface, RandomHashes, CellNoise, GradientNoiseAndClouds,
                                 ScatteringFunctions, Stars, SkyFunction1, SkyFunction2, ProceduralFragmentMain}));
  FPixelShader3 = RegisterSkyShader(ShaderPatterns[4], this, K::PixelShader,
                           Join({Version, FogDefines, TextureHelpers, UniformBlock, FogFunction, FragmentInterface,
                                 BlankFragmentMain}));
}

void TQuorvelSkyBoxMaterial::DoApply(TContext3D* AContext) {
  TContextShader* vs = FVertexShader;
  TContextShader* ps = FPixelShader;
  if (FMode == TQuorvelSkyBoxMode::ProceduralSkyBox) {
    vs = FVertexShader2;
    ps = FPixelShader2;
  } else if (FMode == TQuorvelSkyBoxMode::Blank) {
    vs = FVertexShader2;
    ps = FPixelShader3;
  }
  auto* context = quorvel::As<TQuorvelContext>(AContext);
  if (vs != FPrevVS || ps != FPrevFS) {
    // Only the previous program of this material loses its blocks, never another material's.
    if (context && FPrevVS && FPrevFS)
      if (TShaderProgram* prev = TShaderProgramCache::Find(FPrevVS, FPrevFS)) prev->ClearUniformBuffers();
    FShaderDataRegistered = false;
    FPrevVS = vs;
    FPrevFS = ps;
  }
  AContext->SetShaders(vs, ps);
  if (!context) return;
  FShaderData.ModelViewProjMatrix = context->GetCurrentModelViewProjectionMatrix();
  FShaderData.ModelMatrix = context->GetCurrentMatrix();
  FShaderData.ViewMatrix = context->GetCurrentCameraMatrix();
  FShaderData.ProjMatrix = context->GetCurrentProjectionMatrix();
  FShaderData.Resolution =
      TVector3D(static_cast<float>(context->GetWidth()), static_cast<float>(context->GetHeight()), 0, 0);
  FShaderData.TimeInfo = TVector3D(static_cast<float>(FStopWatch.GetElapsedMilliseconds()) / 1000.0f, 0, 0, 0);
  if (FMode == TQuorvelSkyBoxMode::CubeMapSkyBox) context->SetShaderVariable("CubeMap", FCubeMap);
  const TPoint3D eye = FShaderData.ViewMatrix.EyePosition();
  FShaderData.EyePos = TVector3D(eye.X, eye.Y, eye.Z, 1);
  const TQuorvelFogSettings& fog = context->GetFog();
  FShaderData.FogMode = FAllowFog ? ((fog.Enabled ? 1 : 0) | fog.Mode) : 0;
  FShaderData.FogDensity = fog.Density;
  FShaderData.FogStart = std::clamp(fog.FogStart, 0.01f, 1000.0f);
  FShaderData.FogEnd = std::clamp(fog.FogEnd, 1.0f, 100000.0f);
  FShaderData.FogColor = fog.Color;
  FShaderData.Settings = TVector3D(FStarsEnabled ? 1.0f : 0.0f, FCloudsEnabled ? 1.0f : 0.0f, 0, 0);
  if (TShaderProgram* program = TQuorvelContext::GetCurrentProgram()) {
    if (!FShaderDataRegistered || program->IndexOfUniformBuffer("SkyBoxShaderData") < 0) {
      program->RegisterUniformBuffer("SkyBoxShaderData", &FShaderData, sizeof(FShaderData));
      FShaderDataRegistered = true;
    }
    program->PushUniformBuffers();
  }
}

void TQuorvelSkyBoxMaterial::AssignCubeMapTexture(TTexture* Value) {
  if (FCubeMap != Value) FCubeMap = Value;
  DoChange();
}

namespace {
struct TClamp {
  float TSkyBoxShaderData::*Field;
  float Min, Max;
};
const TClamp Clamps[] = {
    {&TSkyBoxShaderData::CrescentMoon, 0, 1},
    {&TSkyBoxShaderData::MoonSurface, 0, 1},
    {&TSkyBoxShaderData::DepolarizationFactor, 0, 1},
    {&TSkyBoxShaderData::Luminance, 0, 10},
    {&TSkyBoxShaderData::MieCoefficient, 0, 1},
    {&TSkyBoxShaderData::MieDirectionalG, 0, 2},
    {&TSkyBoxShaderData::MieV, 0, 10},
    {&TSkyBoxShaderData::MieZenithLength, 0, 10000},
    {&TSkyBoxShaderData::NumMolecules, 100000, std::numeric_limits<float>::max()},
    {&TSkyBoxShaderData::Rayleigh, 0, 100},
    {&TSkyBoxShaderData::RayleighZenithLength, 0, 10000},
    {&TSkyBoxShaderData::RefractiveIndex, 0, 2},
    {&TSkyBoxShaderData::SunAngularDiameterDegrees, 0, 1},
    {&TSkyBoxShaderData::SunIntensityFactor, 0, 10000},
    {&TSkyBoxShaderData::SunIntensityFalloffSteepness, 0, 10},
    {&TSkyBoxShaderData::TonemapWeighting, 0, 100},
    {&TSkyBoxShaderData::Turbidity, 0, 100},
    {&TSkyBoxShaderData::Inclination, -1, 1},
    {&TSkyBoxShaderData::Azimuth, -1, 1},
    {&TSkyBoxShaderData::StarDensity, 0, 1000},
    {&TSkyBoxShaderData::StarProbe, 0, 100},
    {&TSkyBoxShaderData::StarSize, 0, 1000},
    {&TSkyBoxShaderData::StarSpark, 0, 1},
    {&TSkyBoxShaderData::StarBrightness, 0, 10},
    {&TSkyBoxShaderData::CloudFrequency, 0, 1},
    {&TSkyBoxShaderData::CloudAmplitude, -10, 10},
};
}  // namespace

void TQuorvelSkyBoxMaterial::SetSingle(float TSkyBoxShaderData::*AField, float AValue) {
  for (const TClamp& c : Clamps)
    if (c.Field == AField) {
      FShaderData.*AField = std::clamp(AValue, c.Min, c.Max);
      return;
    }
  FShaderData.*AField = AValue;
}

void TQuorvelSkyBoxMaterial::SetCloudIterations(int32_t AValue) {
  FShaderData.CloudIterations = std::clamp(AValue, 0, 16);
}

void TQuorvelSkyBoxMaterial::SetMieKCoefficient(const TVector3D& AValue) {
  FShaderData.MieKCoefficient = TVector3D(std::clamp(AValue.X, 0.0f, 1.0f), std::clamp(AValue.Y, 0.0f, 1.0f),
                                          std::clamp(AValue.Z, 0.0f, 1.0f), std::clamp(AValue.W, 0.0f, 1.0f));
}

void TQuorvelSkyBoxMaterial::SetPrimaries(const TPoint3D& AValue) {
  FShaderData.Primaries = TPoint3D(std::clamp(AValue.X, 1e-9f, 1.0f), std::clamp(AValue.Y, 1e-9f, 1.0f),
                                   std::clamp(AValue.Z, 1e-9f, 1.0f));
}

void TQuorvelSkyBoxMaterial::SetCrescent(bool AValue) {
  const float m = std::fabs(FShaderData.CrescentMoon);
  FShaderData.CrescentMoon = AValue ? m : -m;
}

// ---- source ----

TQuorvelSkyBoxMaterialSource::TQuorvelSkyBoxMaterialSource(TComponent* AOwner) : TMaterialSource(AOwner) {}

void TQuorvelSkyBoxMaterialSource::AfterConstruction() {
  TMaterialSource::AfterConstruction();
  FCubeMap = TQuorvelTextureBitmap::Create();
  FCubeMap->BeginSetup();
  FCubeMap->SetKind(TQuorvelTextureKind::CubeMap);
  FCubeMap->OnChange = [this](TObject*) { CubeMapChanged(); };
  FCubeMap->EndSetup();
  // A new context makes new textures: the material must sample the one made for it.
  FContextResetOvrId = TMessageManager::DefaultManager().SubscribeToMessage<TContextResetMessage>(
      [this](TObject*, const TMessage&) { CubeMapChanged(); });
}

void TQuorvelSkyBoxMaterialSource::BeforeDestruction() {
  if (FContextResetOvrId >= 0) TMessageManager::DefaultManager().Unsubscribe<TContextResetMessage>(FContextResetOvrId);
  FContextResetOvrId = -1;
  TMaterialSource::BeforeDestruction();
}

TQuorvelSkyBoxMaterialSource::~TQuorvelSkyBoxMaterialSource() { Free(FCubeMap); }

void TQuorvelSkyBoxMaterialSource::SetCubeMap(TQuorvelTextureBitmap* Value) { FCubeMap->Assign(Value); }

TMaterial* TQuorvelSkyBoxMaterialSource::CreateMaterial() { return New<TQuorvelSkyBoxMaterial>(this); }

void TQuorvelSkyBoxMaterialSource::CubeMapChanged() {
  if (auto* m = SkyMaterial()) m->AssignCubeMapTexture(FCubeMap->IsEmpty() ? nullptr : FCubeMap->GetTexture());
}

// ---- skybox ----

TQuorvelSkyBox::TQuorvelSkyBox(TComponent* AOwner) : TQuorvelCube(AOwner) {}

void TQuorvelSkyBox::AfterConstruction() {
  TQuorvelCube::AfterConstruction();
  SetDesignLocked(true);
  SetHitTest(false);
  SetOpaque(true);
  SetTwoSide(false);
  SetWidth(500);
  SetHeight(500);
  SetDepth(500);
  GetScale()->SetPoint({1, -1, 1});
  SetFrustumCullingCheck(false);
  CreateFaceBitmaps();
  FMaterial = New<TQuorvelSkyBoxMaterialSource>(this);
  FMaterial->SetStored(false);
  SetMaterialSource(FMaterial);
}

TQuorvelSkyBox::~TQuorvelSkyBox() {
  FreeFaceBitmaps();
  SetMaterialSource(nullptr);
}

void TQuorvelSkyBox::CreateFaceBitmaps() {
  for (auto& face : FTextures)
    if (!face) {
      face = TQuorvelTextureBitmap::Create();
      face->OnChange = [this](TObject*) { FDoUpdateCubeMap = true; };
    }
}

void TQuorvelSkyBox::FreeFaceBitmaps() {
  for (auto& face : FTextures) {
    Free(face);
    face = nullptr;
  }
}

void TQuorvelSkyBox::SetTexture(TQuorvelCubeMapFace AIndex, TBitmap* AValue) {
  // A 0 x 0 image takes the size message too: log2 of 0 has no fraction to test.
  const int32_t w = AValue ? AValue->GetWidth() : 0;
  const bool ok = AValue && w > 0 && w == AValue->GetHeight() && (w & (w - 1)) == 0;
  if (!ok)
    throw Exception(
        "Invalid skybox texture size! Skybox texture needs to be even and dimension must be a power of 2 (2^x).");
  FTextures[size_t(AIndex)]->Assign(AValue);
}

void TQuorvelSkyBox::SetMode(TQuorvelSkyBoxMode Value) {
  SkyMaterial()->SetMode(Value);
  RebuildMesh(true);
}

void TQuorvelSkyBox::UpdateCubeMap() {
  if (!FDoUpdateCubeMap || !FMaterial) return;
  FDoUpdateCubeMap = false;
  int32_t w = 0, h = 0;
  for (size_t i = 0; i < FTextures.size(); ++i) {
    TQuorvelTextureBitmap* face = FTextures[i];
    if (w != 0 && face->GetWidth() != 0 && (face->GetWidth() != w || face->GetHeight() != h))
      throw Exception(Format("All cubemap textures must have equal dimensions! (width %d <> %d or height %d <> %d)",
                             {w, face->GetWidth(), h, face->GetHeight()}));
    FMaterial->GetCubeMap()->UpdateCubeMapFace(static_cast<TQuorvelCubeMapFace>(i), face);
    if (face->GetWidth() > 0) {
      w = face->GetWidth();
      h = face->GetHeight();
    }
  }
}

void TQuorvelSkyBox::SetSize(const TPoint3D& Value) {
  SetWidth(Value.X);
  SetHeight(Value.Y);
  SetDepth(Value.Z);
  UpdateParent(GetParent());
}

namespace {
float& ComponentAt(TVector3D& AVector, int32_t AIndex) {
  return AIndex == 0 ? AVector.X : AIndex == 1 ? AVector.Y : AIndex == 2 ? AVector.Z : AVector.W;
}
}  // namespace

float TQuorvelSkyBox::GetMieKCoefficientAt(int32_t AIndex) const {
  TVector3D v = Data().MieKCoefficient;
  return ComponentAt(v, AIndex);
}

void TQuorvelSkyBox::SetMieKCoefficientAt(int32_t AIndex, float Value) {
  TVector3D v = Data().MieKCoefficient;
  ComponentAt(v, AIndex) = Value;
  SkyMaterial()->SetMieKCoefficient(v);
}

float TQuorvelSkyBox::GetPrimariesAt(int32_t AIndex) const {
  const TPoint3D& p = Data().Primaries;
  return AIndex == 0 ? p.X : AIndex == 1 ? p.Y : p.Z;
}

void TQuorvelSkyBox::SetPrimariesAt(int32_t AIndex, float Value) {
  TPoint3D p = Data().Primaries;
  (AIndex == 0 ? p.X : AIndex == 1 ? p.Y : p.Z) = Value;
  SkyMaterial()->SetPrimaries(p);
}

void TQuorvelSkyBox::LoadCubeMapFacesFromPath(const std::string& APath, const std::string& AFileExt) {
  using F = TQuorvelCubeMapFace;
  static const std::pair<const char*, F> order[] = {{"negz", F::NegativeZ}, {"posz", F::PositiveZ},
                                                    {"posy", F::PositiveY}, {"negy", F::NegativeY},
                                                    {"negx", F::NegativeX}, {"posx", F::PositiveX}};
  TOwned<TBitmap> bitmap(New<TBitmap>());
  for (const auto& [word, face] : order) {
    bitmap->LoadFromFile(APath + word + AFileExt);
    SetTexture(face, bitmap.get());
  }
}

void TQuorvelSkyBox::FromJSON(const TJSONObject* AJSON) {
  TSkyBoxShaderData props = TSkyBoxShaderData::Create(0);
  props.FromJSON(AJSON);
  SetConfiguration(props);
}

void TQuorvelSkyBox::WriteConfiguration(const TSkyBoxShaderData& AData, TStream* AStream) {
  TOwned<TJSONObject> json(AData.ToJSON());
  const std::string text = json->ToJSON();
  AStream->WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
}

TSkyBoxShaderData TQuorvelSkyBox::ReadConfiguration(TStream* AStream) {
  // From the position on: a buffer of the whole size read from the middle came up short.
  const int64_t count = std::max<int64_t>(AStream->GetSize() - AStream->GetPosition(), 0);
  std::vector<uint8_t> bytes(static_cast<size_t>(count));
  if (count > 0) AStream->ReadBuffer(bytes.data(), count);
  const std::string text = TEncoding::UTF8().GetString(bytes);
  // Unparsable text raises here rather than leaving a reset configuration behind.
  TOwned<TJSONValue> value(ParseJSONValue(text, true));
  TSkyBoxShaderData r = TSkyBoxShaderData::Create(0);
  r.FromJSON(value->As<TJSONObject>());
  return r;
}

void TQuorvelSkyBox::SaveToStream(TStream* AStream) const { WriteConfiguration(Data(), AStream); }

void TQuorvelSkyBox::LoadFromStream(TStream* AStream) { SetConfiguration(ReadConfiguration(AStream)); }

void TQuorvelSkyBox::SaveToFile(const std::string& AFileName) const {
  TOwned<TFileStream> stream(New<TFileStream>(AFileName, fmCreate));
  SaveToStream(stream.get());
}

void TQuorvelSkyBox::LoadFromFile(const std::string& AFileName) {
  TOwned<TFileStream> stream(New<TFileStream>(AFileName, uint16_t(fmOpenRead | fmShareDenyNone)));
  LoadFromStream(stream.get());
}

void TQuorvelSkyBox::Render() {
  UpdateCubeMap();
  TQuorvelCube::Render();
}

namespace {
void InitSkyBoxUnit() { RegisterFwClasses({TQuorvelSkyBox::StaticClass()}); }
void FinSkyBoxUnit() { UnRegisterClasses({TQuorvelSkyBox::StaticClass()}); }
const TUnitRegistration SkyBoxUnit{{"Quorvel.SkyBox", {"Quorvel.Cube"}, &InitSkyBoxUnit, &FinSkyBoxUnit}};
}  // namespace

}  // namespace quorvel
