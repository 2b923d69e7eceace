#include "lib/materials/MaterialDefaultGLSLSurface.h"

#include "framework/rtl/SysUtils.h"
#include "lib/materials/MaterialDefaultGLSLPBR.h"

namespace quorvel {

namespace {

// Appends ATemplate with every "$V" replaced by the varying prefix of ANode.
void AppendWithVaryings(std::string& AOut, const char* APrefix, std::string_view ATemplate) {
  for (size_t i = 0; i < ATemplate.size(); ++i) {
    if (ATemplate[i] == '$' && i + 1 < ATemplate.size() && ATemplate[i + 1] == 'V') {
      AOut += APrefix;
      ++i;
      continue;
    }
    AOut += ATemplate[i];
  }
}

}  // namespace

// --- sampler declarations --------------------------------------------------------------------

TQuorvelGLSLTextureUniformNode::TQuorvelGLSLTextureUniformNode(TQuorvelNodeBuilder* ABuilder)
    : TQuorvelNodeEntity(ABuilder) {
  SetId("Texture0");
}

void TQuorvelGLSLTextureUniformNode::AppendText(std::string& AOut) const {
  using enum TQuorvelTextureKind;
  switch (FTextureKind) {
    case Texture2D:
      AOut += "uniform sampler2D _" + GetId() + ";\r\n";
      break;
    case Texture3D:
      AOut += (FIsUnsigned ? "uniform usampler3D _" : "uniform sampler3D _") + GetId() + ";\r\n";
      break;
    case CubeMap:
      AOut += "uniform samplerCube _" + GetId() + ";\r\n";
      break;
    case ImageTexture3D:
      AOut += (FIsUnsigned ? "layout(rgba8) uniform uimage3D _" : "layout(rgba8) uniform image3D _") + GetId() + ";";
      break;
    case Array2D:
      AOut += "uniform sampler2DArray _" + GetId() + ";\r\n";
      break;
  }
}

// --- fragment preparation --------------------------------------------------------------------

void TQuorvelGLSLClippingPlaneNode::AppendText(std::string& AOut) const {
  if (!IsDefined("FRAGMENTSHADER") || !IsDefined("CLIPPINGPLANE")) return;
  AOut += "  const int c_ClipPlaneFlag = 0x01;\r\n";
  AppendWithVaryings(AOut, VaryingPrefix(),
                     "  if(((_Options & c_ClipPlaneFlag) == c_ClipPlaneFlag) && ($Vv_ClipDistance < 0.0)){ discard; }\r\n");
}

void TQuorvelGLSLSpecularColorNode::AppendText(std::string& AOut) const {
  if (!IsDefined("LIGHTING")) return;
  AOut += IsDefined("USE_SPECULAR") ? "  LOCALS.SpecularColor = _Material[0]._Specular.rgb;\r\n"
                                    : "  LOCALS.SpecularColor = vec3(0.0);\r\n";
}

void TQuorvelGLSLEmissiveColorNode::AppendText(std::string& AOut) const {
  AOut += IsDefined("USE_EMISSIVE") ? "  LOCALS.Emissive = (_Material[0]._Emissive.rgb * _Material[0]._Emissive.a);\r\n"
                                    : "  LOCALS.Emissive = vec3(0.0);\r\n";
}

void TQuorvelGLSLGetTransfVertPosNode::AppendText(std::string& AOut) const {
  AppendWithVaryings(AOut, VaryingPrefix(),
                     "  LOCALS.TransfVertPos = $Vv_TransfVertPos.xyz;\r\n"
                     "  LOCALS.FragDepth = gl_FragCoord.z;\r\n");
}

void TQuorvelGLSLGetNormalNode::AppendText(std::string& AOut) const {
  if (IsDefined("BUMP")) return;
  AppendWithVaryings(AOut, VaryingPrefix(), "  LOCALS.Normal = $Vv_TBN[2];\r\n");
}

void TQuorvelGLSLGetFragViewDirNode::AppendText(std::string& AOut) const {
  AOut += "  LOCALS.FragViewDir = normalize(_EyePos.xyz - LOCALS.TransfVertPos.xyz);\r\n";
}

void TQuorvelGLSLTextureCoordsNode::AppendText(std::string& AOut) const {
  if (!IsDefined("USE_TEXTURE")) return;
  // Sets 1 to 3 take the tiling of texture entry 0 as well; stored materials rely on it.
  for (int set = 0; set < 4; ++set) {
    if (set > 0 && !IsDefined("USE_TEXCOORD" + IntToStr(set))) continue;
    const std::string n = IntToStr(set);
    const std::string coord = "LOCALS.TexCoord" + n;
    AOut += "  " + coord + " = " + VaryingPrefix() + "v_TexCoord" + n + ";\r\n";
    AOut += "  vec2 l_Tiling" + n + " = _Material[0]._Texture[0]._Tiling;\r\n";
    AOut += "  " + coord + " = vec2(mod(" + coord + ".x * l_Tiling" + n + ".x, 1.0), mod(" + coord + ".y * l_Tiling" +
            n + ".y, 1.0));\r\n";
  }
}

void TQuorvelGLSLPOMApplyNode::AppendText(std::string& AOut) const {
  if (!IsDefined("POM")) return;
  // This step names the varying struct unless DEPRECATED, whatever VARYING_STRUCTS says.
  const char* tbn = IsDefined("DEPRECATED") ? "v_TBN" : "vars.v_TBN";
  AOut += std::string("  LOCALS.Normal = ") + tbn + "[2];\r\n";
  AOut += std::string("  mat3 l_TBN2 = ") + tbn + ";\r\n";
  AOut +=
      "  vec3 l_TanViewPos = _EyePos.xyz * l_TBN2;\r\n"
      "  vec3 l_TanFragPos = LOCALS.TransfVertPos.xyz * l_TBN2;\r\n"
      "  vec3 l_POMViewDir = normalize(l_TanViewPos - l_TanFragPos);\r\n";
  if (!IsDefined("USE_TEXTURE")) return;
  AOut +=
      "  vec2 l_POM_UV = vec2(LOCALS.TexCoord0.x, 1.0 - LOCALS.TexCoord0.y);\r\n"
      "  LOCALS.TexCoord0 = ParallaxOcclusionMapping(_PassData[0]._NormalIntensity, _PassData[0]._ParallaxLevels, "
      "_POMTexture, l_POM_UV, l_POMViewDir.xyz, 0.0);\r\n";
  if (IsDefined("POM_DISCARD"))
    AOut +=
        "  if((LOCALS.TexCoord0.x > 1.0) || (LOCALS.TexCoord0.y > 1.0) || (LOCALS.TexCoord0.x < 0.0) || "
        "(LOCALS.TexCoord0.y < 0.0)){\r\n"
        "    discard;\r\n"
        "  }\r\n";
}

void TQuorvelGLSLGetBumpNormalNode::AppendText(std::string& AOut) const {
  if (!IsDefined("LIGHTING") || !IsDefined("NORMALMAP") || !IsDefined("BUMP")) return;
  AppendWithVaryings(AOut, VaryingPrefix(),
                     IsDefined("USE_TEXTURE")
                         ? "  LOCALS.Normal = CalcBumpedNormal($Vv_TBN, _PassData[0]._NormalIntensity, "
                           "_NormalMapTexture, LOCALS.TexCoord0);\r\n"
                         : "  LOCALS.Normal = CalcBumpedNormal($Vv_TBN, _PassData[0]._NormalIntensity, "
                           "_NormalMapTexture, $Vv_TexCoord0);\r\n");
}

// --- base colour -----------------------------------------------------------------------------

void TQuorvelGLSLGetBaseColorNode::AppendText(std::string& AOut) const {
  const char* v = VaryingPrefix();
  const bool lighting = IsDefined("LIGHTING");
  const bool texture0 = IsDefined("USE_TEXTURE") && IsDefined("USE_TEXTURE0");
  const bool bump = IsDefined("BUMP");
  if (bump && IsDefined("PBR") && lighting) return;
  if (bump && !IsDefined("PBR")) {
    AOut += texture0 ? "  LOCALS.BaseColor = BumpSum(_Texture0, LOCALS.TexCoord0, LOCALS.Normal);\r\n"
                     : "  LOCALS.BaseColor = _Material[0]._Diffuse;\r\n";
    AOut += "  LOCALS.Alpha = LOCALS.BaseColor.a;\r\n";
    return;
  }
  if (!bump && IsDefined("USE_TEXTURE_ATLAS")) {
    const bool deprecated = IsDefined("DEPRECATED");
    if (IsDefined("USE_POINTSPRITE")) {
      AOut += deprecated
                  ? "  if(!GetTextureAtlasColor(_Texture0, LOCALS.TexCoord0, vec4(0.0, 1.0, 0.0, 1.0), gl_PointCoord, "
                    "_TextureSize, LOCALS.BaseColor)){\r\n"
                  : "  if(!GetTextureAtlasColor(_Texture0, LOCALS.TexCoord0, vars.v_ParticleSettings, gl_PointCoord, "
                    "_TextureSize, LOCALS.BaseColor)){\r\n";
    } else {
      AOut +=
          "  vec2 l_OfsTexCoord0 = LOCALS.TexCoord0 / _TextureSize + _TextureOfs;\r\n"
          "  vec4 l_PointSettings = vec4(0.0, 1.0, 0.0, 1.0);\r\n"
          "  if(!GetTextureAtlasColor(_Texture0, l_OfsTexCoord0, l_PointSettings, vec2(0.0, 0.0), _TextureSize, "
          "LOCALS.BaseColor)){\r\n";
    }
    AOut += "    discard;\r\n  }\r\n";
    AOut += deprecated ? "  gl_FragColor = LOCALS.BaseColor;\r\n" : "  o_Albedo = LOCALS.BaseColor;\r\n";
    AOut += "  LOCALS.Alpha = LOCALS.BaseColor.a;\r\n";
    return;
  }
  const bool vertexColor = IsDefined("USE_VERTEXCOLOR");
  if (texture0 && vertexColor) {
    AppendWithVaryings(AOut, v, "  LOCALS.BaseColor = tex2D(_Texture0, LOCALS.TexCoord0) * $Vv_Color0;\r\n");
    // The lit alpha takes the vertex alpha a second time; stored scenes are tuned to it.
    if (lighting)
      AppendWithVaryings(AOut, v, "  LOCALS.Alpha = LOCALS.BaseColor.a * $Vv_Color0.a;\r\n");
    else
      AOut += "  LOCALS.Alpha = LOCALS.BaseColor.a;\r\n";
    return;
  }
  if (texture0)
    AOut += "  LOCALS.BaseColor = tex2D(_Texture0, LOCALS.TexCoord0);\r\n";
  else if (vertexColor)
    AppendWithVaryings(AOut, v, "  LOCALS.BaseColor = $Vv_Color0;\r\n");
  else
    AOut += "  LOCALS.BaseColor = _Material[0]._Diffuse;\r\n";
  AOut += "  LOCALS.Alpha = LOCALS.BaseColor.a;\r\n";
}

// --- surface modifiers -----------------------------------------------------------------------

void TQuorvelGLSLAlphaCutoffNode::AppendText(std::string& AOut) const {
  if (!IsDefined("USE_ALPHACUTOFF")) return;
  AOut +=
      "  if( (_Material[0]._AlphaCutoff.x > 0.01) && (LOCALS.BaseColor.a < _Material[0]._AlphaCutoff.y)){\r\n"
      "    discard;\r\n"
      "  }\r\n";
}

void TQuorvelGLSLSpecularMapNode::AppendText(std::string& AOut) const {
  if (!IsDefined("LIGHTING") || !IsDefined("SPECULARMAP")) return;
  AOut += "  LOCALS.SpecularColor += tex2D(_SpecularMapTexture, LOCALS.TexCoord0).rgb;\r\n";
}

void TQuorvelGLSLAddEnvironmentNode::AppendText(std::string& AOut) const {
  if (!IsDefined("ENVIRONMENT")) return;
  if (IsDefined("PBR")) {
    if (IsDefined("LIGHTING")) AppendPBREnvironment(AOut, *this);
    return;
  }
  AppendWithVaryings(AOut, VaryingPrefix(),
                     "  vec3 l_InvFragViewDir = normalize(LOCALS.FragViewDir.xyz);\r\n"
                     "  vec3 l_EnvNormal = $Vv_TBN[2];\r\n"
                     "  vec4 l_EnvTex;\r\n"
                     "  if(_PassData[0]._RefractionPower > 0.0){\r\n"
                     "    float l_RefrRatio = 1.0 / 1.52;\r\n"
                     "    vec3 l_RefrViewDir = $Vv_TransfVertPos.xyz + refract(l_InvFragViewDir, l_EnvNormal, "
                     "l_RefrRatio);\r\n"
                     "    l_EnvTex = texCube(_EnvironmentTexture, l_RefrViewDir);\r\n"
                     "    LOCALS.BaseColor = mix(LOCALS.BaseColor, l_EnvTex, _PassData[0]._RefractionPower);\r\n"
                     "  }\r\n"
                     "\r\n"
                     "  if(_PassData[0]._ReflectionPower > 0.0){\r\n"
                     "    vec3 l_ReflViewDir = $Vv_TransfVertPos.xyz + reflect(l_InvFragViewDir, l_EnvNormal);\r\n"
                     "    l_EnvTex = texCube(_EnvironmentTexture, l_ReflViewDir);\r\n"
                     "    LOCALS.BaseColor = mix(LOCALS.BaseColor, l_EnvTex, _PassData[0]._ReflectionPower);\r\n"
                     "  }\r\n");
}

void TQuorvelGLSLAddReflectionNode::AppendText(std::string& AOut) const {
  if (!IsDefined("REFLECTION")) return;
  AppendWithVaryings(AOut, VaryingPrefix(),
                     "  if(_PassData[0]._ReflectionPower > 0.0){\r\n"
                     "    vec4 l_ReflTex = tex2DProj(_ReflectionTexture, $Vv_ReflProjTextureCoords);\r\n"
                     "    LOCALS.BaseColor = mix(LOCALS.BaseColor, l_ReflTex, _PassData[0]._ReflectionPower);\r\n"
                     "  }\r\n");
}

void TQuorvelGLSLAddRefractionNode::AppendText(std::string& AOut) const {
  if (!IsDefined("REFRACTION")) return;
  AppendWithVaryings(AOut, VaryingPrefix(),
                     "  if(_PassData[0]._RefractionPower > 0.0){\r\n"
                     "    vec4 l_RefrTex = tex2D(_RefractionTexture, $Vv_TexCoord0);\r\n"
                     "    LOCALS.BaseColor = mix(LOCALS.BaseColor, l_RefrTex, _PassData[0]._RefractionPower);\r\n"
                     "  }\r\n");
}

// --- function libraries ----------------------------------------------------------------------

void TQuorvelGLSLPackingFuncsNode::AppendText(std::string& AOut) const {
  if (!IsDefined("LIGHTING") || !IsDefined("PACKED_NORMAL")) return;
  AOut +=
      "vec3 Common_UnpackNormal(in vec3 norm){\r\n"
      "  return norm * 2.0 - 1.0;\r\n"
      "}\r\n\r\n"
      "vec3 Common_UnpackNormalLA(in vec4 norm){\r\n"
      "  vec3 n = norm.agb;\r\n"
      "  n.b = sqrt(1.0 - (n.x * n.x) - (n.y * n.y));\r\n"
      "  return n * 2.0 - 1.0;\r\n"
      "}\r\n\r\n"
      "vec3 Common_PackNormal(in vec3 norm){\r\n"
      "  return norm * 0.5 + 0.5;\r\n"
      "}\r\n\r\n";
}

void TQuorvelGLSLGetTextureFuncsNode::AppendText(std::string& AOut) const {
  AOut +=
      "const float GAMMA = 2.2;\r\n"
      "const float INV_GAMMA = 1.0 / GAMMA;\r\n\r\n"
      "vec3 linearTosRGB(vec3 color){\r\n"
      "  return pow(color, vec3(INV_GAMMA));\r\n"
      "}\r\n\r\n"
      "vec3 sRGBToLinear(vec3 srgbIn){\r\n"
      "  return vec3(pow(srgbIn.xyz, vec3(GAMMA)));\r\n"
      "}\r\n\r\n"
      "vec4 sRGBToLinear(vec4 srgbIn){\r\n"
      "  return vec4(sRGBToLinear(srgbIn.xyz), srgbIn.w);\r\n"
      "}\r\n\r\n"
      "float sFloatToLinear(float srgbIn){\r\n"
      "  return pow(srgbIn, GAMMA);\r\n"
      "}\r\n\r\n";
  if (IsDefined("USE_TEXTURE") || IsDefined("ENVIRONMENT") || IsDefined("DISPLACEMENT")) {
    if (IsDefined("DEPRECATED"))
      AOut +=
          "vec4 tex2D(in sampler2D p_Texture, in vec2 p_TexCoord){\r\n"
          "  return texture2D(p_Texture, p_TexCoord);\r\n"
          "}\r\n\r\n"
          "vec4 tex2DProj(in sampler2D p_Texture, in vec4 p_TexCoord){\r\n"
          "  return texture2DProj(p_Texture, p_TexCoord);\r\n"
          "}\r\n\r\n"
          "vec4 texCube(in samplerCube p_Texture, in vec3 p_TexCoord){\r\n"
          "  return texture(p_Texture, p_TexCoord);\r\n"
          "}\r\n\r\n";
    else
      AOut +=
          "vec4 tex2D(in sampler2D p_Texture, in vec2 p_TexCoord){\r\n"
          "  return texture(p_Texture, p_TexCoord);\r\n"
          "}\r\n\r\n"
          "vec4 tex2DProj(in sampler2D p_Texture, in vec4 p_TexCoord){\r\n"
          "  return textureProj(p_Texture, p_TexCoord);\r\n"
          "}\r\n\r\n"
          "vec4 tex3D(in sampler3D p_Texture, in vec3 p_TexCoord){\r\n"
          "  return texture(p_Texture, p_TexCoord);\r\n"
          "}\r\n\r\n"
          "vec4 texCube(in samplerCube p_Texture, in vec3 p_TexCoord){\r\n"
          "  return texture(p_Texture, p_TexCoord);\r\n"
          "}\r\n\r\n";
  }
  // The unpacking these call exists only in a lit fragment stage; elsewhere they would not compile.
  if (IsDefined("PACKED_NORMAL") && IsDefined("LIGHTING") && IsDefined("FRAGMENTSHADER"))
    AOut +=
        "vec3 Texture_GetNormal(in sampler2D normalMap, in vec2 texCoord){\r\n"
        "  return Common_UnpackNormal(texture(normalMap, texCoord).rgb);\r\n"
        "}\r\n\r\n"
        "vec4 Texture_GetColor(in sampler2D colorMap, in vec2 texCoord){\r\n"
        "  return texture(colorMap, texCoord);\r\n"
        "}\r\n\r\n";
}

void TQuorvelGLSLGetTextureAtlasFuncNode::AppendText(std::string& AOut) const {
  if (!IsDefined("USE_TEXTURE_ATLAS")) return;
  AOut +=
      "bool GetTextureAtlasColor(in sampler2D p_Texture, in vec2 p_TexCoord0, in vec4 p_Settings, in vec2 "
      "p_PointCoord, in vec2 p_TexSize, out vec4 p_Color){\r\n"
      "  vec2 l_Point = p_PointCoord;\r\n"
      "  if(abs(p_Settings.y) > 0.0001){\r\n"
      "    float l_R = radians(p_Settings.y);\r\n"
      "    float l_C = cos(l_R);\r\n"
      "    float l_S = sin(l_R);\r\n"
      "    l_Point = vec2(l_C * (p_PointCoord.x - 0.5) + l_S * (p_PointCoord.y - 0.5) + 0.5,\r\n"
      "                   l_C * (p_PointCoord.y - 0.5) - l_S * (p_PointCoord.x - 0.5) + 0.5);\r\n"
      "  }\r\n"
      "  p_Color = texture(p_Texture, p_TexCoord0 + l_Point * p_TexSize);\r\n"
      "  p_Color.a = clamp(log(1.0 + p_Color.a), 0.0, 1.0) * p_Settings.z;\r\n"
      "  if(p_Settings.w > 0.1){\r\n"
      "    p_Color.a *= clamp(pow(1.0 - distance(l_Point, vec2(0.5, 0.5)), p_Settings.w), 0.0, 1.0);\r\n"
      "  }\r\n"
      "  return p_Color.a > 0.04;\r\n"
      "}\r\n\r\n";
}

void TQuorvelGLSLBumpFuncsNode::AppendText(std::string& AOut) const {
  if (!IsDefined("BUMP")) return;
  const bool pom = IsDefined("POM");
  AOut +=
      "vec3 CalcBumpedNormal(in mat3 p_TBN, in float p_NormalIntensity, sampler2D p_NormalMap, vec2 p_TexCoord){\r\n"
      "  vec3 l_Normal = texture(p_NormalMap, p_TexCoord).rgb;\r\n"
      "  if(length(l_Normal) < 0.001){\r\n"
      "    l_Normal = p_TBN[2].xyz * 2.0 - 1.0;\r\n"
      "    l_Normal.b *= p_NormalIntensity;\r\n"
      "    return normalize(l_Normal);\r\n"
      "  }\r\n"
      "  l_Normal = normalize(l_Normal * 2.0 - 1.0);\r\n";
  // With parallax occlusion the intensity already scaled the parallax step.
  if (!pom)
    AOut +=
        "  l_Normal.b *= p_NormalIntensity;\r\n"
        "  l_Normal = normalize(l_Normal);\r\n";
  AOut +=
      "  mat3 l_NBT = mat3(p_TBN[2], p_TBN[1], p_TBN[0]);\r\n"
      "  return normalize(l_NBT * l_Normal);\r\n"
      "}\r\n\r\n"
      "vec4 BumpSum(sampler2D p_BaseTex, vec2 p_TexCoord, vec3 p_Normal){\r\n"
      "  return texture(p_BaseTex, p_TexCoord);\r\n"
      "}\r\n\r\n";
  if (!pom)
    AOut +=
        "vec3 ConvertDirectXNormalToOpenGL(vec3 p_Normal){\r\n"
        "  return vec3(p_Normal.x, p_Normal.y, sqrt(1.0 - dot(p_Normal.xy, p_Normal.xy)));\r\n"
        "}\r\n\r\n";
}

void TQuorvelGLSLPOMFuncsNode::AppendText(std::string& AOut) const {
  if (!IsDefined("POM")) return;
  AOut +=
      "vec2 ParallaxOcclusionMapping(in float p_NormalIntensity, in int p_ParallaxLevels, sampler2D p_DepthMap, "
      "vec2 p_Uv, vec3 p_FragViewDir, float p_Pivot){\r\n"
      "  float l_NumLayers = mix(float(p_ParallaxLevels), 4.0, max(dot(vec3(0.0, 0.0, 1.0), p_FragViewDir), 0.0));\r\n"
      "  float l_LayerDepth = 1.0 / l_NumLayers;\r\n"
      "  vec2 l_Delta = (p_FragViewDir.xy / p_FragViewDir.z) / l_NumLayers * p_NormalIntensity;\r\n"
      "  vec2 l_Uv = p_Uv + p_Pivot * l_Delta;\r\n"
      "  float l_Depth = texture(p_DepthMap, l_Uv).r;\r\n"
      "  float l_Layer = 0.0;\r\n"
      "  int l_Steps = int(l_NumLayers);\r\n"
      "  for(int i = 0; i < l_Steps; i++){\r\n"
      "    if(l_Layer > l_Depth){\r\n"
      "      break;\r\n"
      "    }\r\n"
      "    l_Uv -= l_Delta;\r\n"
      "    l_Depth = texture(p_DepthMap, l_Uv).r;\r\n"
      "    l_Layer += l_LayerDepth;\r\n"
      "  }\r\n"
      "  vec2 l_PrevUv = l_Uv + l_Delta;\r\n"
      "  float l_After = l_Depth - l_Layer;\r\n"
      "  float l_Before = texture(p_DepthMap, l_PrevUv).r - l_Layer + l_LayerDepth;\r\n"
      "  float l_Weight = l_After / (l_After - l_Before);\r\n"
      "  return mix(l_Uv, l_PrevUv, l_Weight);\r\n"
      "}\r\n\r\n";
}

}  // namespace quorvel
