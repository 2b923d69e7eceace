#include "lib/materials/MaterialDefaultGLSLOutput.h"

namespace quorvel {

void TQuorvelGLSLMergedColorOutputNode::AppendText(std::string& AOut) const {
  if (!IsDefined("LIGHTING")) {
    AOut +=
        "  LOCALS.SumColor = (_Material[0]._Emissive.rgb * _Material[0]._Emissive.a) + _Material[0]._Ambient.rgb + "
        "_Material[0]._Diffuse.rgb + _Material[0]._Specular.rgb;\r\n"
        "  LOCALS.SumColor = LOCALS.SumColor * LOCALS.BaseColor.rgb;\r\n";
    return;
  }
  if (IsDefined("PBR")) {
    AppendPBRMerge(AOut, *this);
  } else {
    AOut +=
        "  LOCALS.Specular *= LOCALS.SpecularColor;\r\n"
        "  LOCALS.SumColor = (_Material[0]._Ambient.rgb * LOCALS.Ambient) + (_Material[0]._Diffuse.rgb * "
        "LOCALS.Diffuse) + LOCALS.Specular;\r\n"
        "  LOCALS.SumColor = clamp(LOCALS.SceneAttenuation, 0.0, 1.0) * (LOCALS.SumColor * LOCALS.BaseColor.rgb);\r\n"
        "  LOCALS.SumColor += LOCALS.Emissive;\r\n";
  }
  if (IsDefined("SHADOW"))
    // Every light adds its lookup, so the sum is averaged first; clamped alone, two lights gave
    // 2.0 or 1.5 and clamped to 1, and the shadow vanished.
    AOut +=
        "  LOCALS.ShadowSum = LOCALS.ShadowSum / float(max(1, _LightsCount));\r\n"
        "  LOCALS.ShadowSum = clamp(LOCALS.ShadowSum, 0.0, 1.0);\r\n"
        "  LOCALS.SumColor *= LOCALS.ShadowSum;\r\n";
}

void TQuorvelGLSLTonemappingNode::AppendText(std::string& AOut) const {
  if (IsDefined("PBR") || !HasToneMapDefine(*this)) return;
  AOut += "  LOCALS.SumColor = toneMap(LOCALS.SumColor, _Material[0]._ToneMapExp);\r\n";
}

void TQuorvelGLSLBrightnessColorNode::AppendText(std::string& AOut) const {
  AOut += "  LOCALS.SumColor *= _Brightness;\r\n";
}

void TQuorvelGLSLFragColorOutputNode::AppendText(std::string& AOut) const {
  AOut += "  LOCALS.Alpha *= _Material[0]._Features.x;\r\n";
  AOut += IsDefined("DEPRECATED") ? "  gl_FragColor = vec4(LOCALS.SumColor, LOCALS.Alpha);\r\n"
                                  : "  o_Albedo = vec4(LOCALS.SumColor, LOCALS.Alpha);\r\n";
}

void TQuorvelGLSLColorClipNode::AppendText(std::string& AOut) const {
  if (!IsDefined("USE_COLORCLIP")) return;
  const std::string c = IsDefined("DEPRECATED") ? "gl_FragColor" : "o_Albedo";
  AOut += "  if((abs(" + c + ".r - _Material[0]._Clipping.r) < _Material[0]._Clipping.a) && (abs(" + c +
          ".g - _Material[0]._Clipping.g) < _Material[0]._Clipping.a) && (abs(" + c +
          ".b - _Material[0]._Clipping.b) < _Material[0]._Clipping.a)){\r\n"
          "    discard;\r\n"
          "  }\r\n";
}

void TQuorvelGLSLFogApplyNode::AppendText(std::string& AOut) const {
  // Chosen like the colour output, so the fog always blends the output that was written.
  const char* c = IsDefined("DEPRECATED") ? "gl_FragColor" : "o_Albedo";
  AOut += std::string("  ") + c + " = mix(" + c +
          ", _FogColor, 1.0 - computeFog(_FogMode, _FogStart, _FogEnd, _FogDensity, LOCALS.TransfVertPos.xyz, "
          "_EyePos.xyz));\r\n";
}

void TQuorvelGLSLWeightedBlendedOITNode::AppendText(std::string& AOut) const {
  if (IsDefined("DEPRECATED")) return;
  // The varying is named through the prefix, so the loose form compiles too.
  const std::string v = VaryingPrefix();
  AOut += "  const int c_IsTranslucent = 0x02;\r\n";
  if (!IsDefined("DEFERRED")) {
    AOut +=
        "  if((_Options & c_IsTranslucent) == c_IsTranslucent){\r\n"
        "    if(LOCALS.Alpha >= 0.003){\r\n"
        "      o_Position = vec4(LOCALS.TransfVertPos.xyz, LOCALS.FragDepth);\r\n"
        "      o_Normals = LOCALS.Normal.xyz;\r\n"
        "      o_Emissive = LOCALS.Emissive;\r\n"
        "    }else{\r\n"
        "      discard;\r\n"
        "    }\r\n"
        "  }\r\n";
  } else {
    AOut +=
        std::string("  if((_Options & c_IsTranslucent) == c_IsTranslucent){\r\n"
        "    if(LOCALS.Alpha >= 0.003){\r\n"
        "      o_Position = vec4(LOCALS.TransfVertPos.xyz, ") + v + "v_WorldViewProjVertPos.z);\r\n"
        "      o_Normals = LOCALS.Normal.xyz;\r\n"
        "    }else{\r\n"
        "      discard;\r\n"
        "    }\r\n"
        "  }\r\n"
        "  o_Ambient = _Material[0]._Ambient.rgb;\r\n"
        "  o_Emissive = LOCALS.Emissive;\r\n"
        "  o_Specular = LOCALS.Specular.rgb;\r\n"
        "\r\n";
    if (IsDefined("USE_TEXTURE_ATLAS") && IsDefined("USE_TEXTURE"))
      AOut += "  o_Components = vec4(LOCALS.TexCoord0.x, LOCALS.TexCoord0.y, 1.0, 1.0);\r\n";
    else
      AOut += std::string("  o_Components = vec4(") + VaryingPrefix() + "v_TexCoord0.x, " + VaryingPrefix() +
              "v_TexCoord0.y, 1.0, 1.0);\r\n";
  }
  AOut +=
      std::string("  if((_Options & c_IsTranslucent) == c_IsTranslucent){\r\n"
      "    vec4 l_WBOITColor = o_Albedo;\r\n"
      "    float l_Depth = abs(") + v + "v_WorldViewProjVertPos.z / _EyePos.z);\r\n"
      "    float l_DistWeight = clamp(0.03 / (1e-5 + pow(l_Depth, 4.0)), 1e-2, 3e3);\r\n"
      "    float l_Weight = max(min(1.0, max(max(l_WBOITColor.r, l_WBOITColor.g), l_WBOITColor.b) * LOCALS.Alpha), "
      "LOCALS.Alpha) * l_DistWeight;\r\n"
      "    o_Albedo = vec4(l_WBOITColor.rgb * LOCALS.Alpha, LOCALS.Alpha) * l_Weight;\r\n"
      "    o_Alpha = LOCALS.Alpha;\r\n"
      "    o_Emissive = LOCALS.Emissive;\r\n"
      "  }else{\r\n"
      "    o_Position = vec4(LOCALS.TransfVertPos.xyz, " + v + "v_WorldViewProjVertPos.z);\r\n"
      "    o_Normals = LOCALS.Normal.xyz;\r\n"
      "    o_Emissive = LOCALS.Emissive;\r\n"
      "    o_Alpha = 1.0;\r\n"
      "  }\r\n"
      "\r\n";
}

// --- function libraries ----------------------------------------------------------------------

void TQuorvelGLSLFogFuncNode::AppendText(std::string& AOut) const {
  AOut +=
      "#define GLI_FOG_ENABLED        1\r\n"
      "#define GLI_FOG_MODE_LINEAR    2\r\n"
      "#define GLI_FOG_MODE_EXP       4\r\n"
      "#define GLI_FOG_MODE_EXP2      8\r\n\r\n"
      "float computeFog(in int p_FogMode, in float p_FogStart, in float p_FogEnd, in float p_FogDensity, vec3 "
      "p_VertPos, vec3 p_EyePos){\r\n"
      "  if((p_FogMode & GLI_FOG_ENABLED) != GLI_FOG_ENABLED){\r\n"
      "    return 1.0;\r\n"
      "  }\r\n"
      "  float l_Dist = length(p_VertPos - p_EyePos);\r\n"
      "  float l_Fog;\r\n"
      "  if((p_FogMode & GLI_FOG_MODE_LINEAR) == GLI_FOG_MODE_LINEAR){\r\n"
      "    l_Fog = (p_FogEnd - l_Dist) / (p_FogEnd - p_FogStart);\r\n"
      "  }else if((p_FogMode & GLI_FOG_MODE_EXP) == GLI_FOG_MODE_EXP){\r\n"
      "    l_Fog = exp(-(l_Dist * p_FogDensity));\r\n"
      "  }else{\r\n"
      "    l_Fog = exp(-((l_Dist * p_FogDensity) * (l_Dist * p_FogDensity)));\r\n"
      "  }\r\n"
      "  return clamp(l_Fog, 0.0, 1.0);\r\n"
      "}\r\n\r\n";
}

namespace {

const char* const AcesHillFuncs =
    "const mat3 ACESInputMat = mat3(0.59719, 0.07600, 0.02840, 0.35458, 0.90834, 0.13383, 0.04823, 0.01566, "
    "0.83777);\r\n\r\n"
    "const mat3 ACESOutputMat = mat3(1.60475, -0.10208, -0.00327, -0.53108, 1.10813, -0.07276, -0.07367, -0.00605, "
    "1.07602);\r\n\r\n"
    "vec3 RRTAndODTFit(vec3 color){\r\n"
    "  vec3 a = color * (color + 0.0245786) - 0.000090537;\r\n"
    "  vec3 b = color * (0.983729 * color + 0.4329510) + 0.238081;\r\n"
    "  return a / b;\r\n"
    "}\r\n\r\n"
    "vec3 toneMapACES_Hill(vec3 color){\r\n"
    "  color = ACESInputMat * color;\r\n"
    "  color = RRTAndODTFit(color);\r\n"
    "  color = ACESOutputMat * color;\r\n"
    "  return clamp(color, 0.0, 1.0);\r\n"
    "}\r\n\r\n";

}  // namespace

void TQuorvelGLSLToneMappingFuncsNode::AppendText(std::string& AOut) const {
  const bool pbr = IsDefined("PBR");
  // The physically based variants end in gamma, since the merge sends their result out as is.
  auto toneMap = [&](const char* ABody) {
    AOut += "vec3 toneMap(vec3 color, in float exposure){\r\n";
    AOut += ABody;
    AOut += "}\r\n\r\n";
  };
  if (IsDefined("TONEMAP_EXPOSURE")) {
    toneMap(pbr ? "  return linearTosRGB(color * exposure);\r\n" : "  return color * exposure;\r\n");
  } else if (IsDefined("TONEMAP_ACES_NARKOWICZ")) {
    AOut +=
        "vec3 toneMapACES_Narkowicz(vec3 color){\r\n"
        "  const float A = 2.51;\r\n"
        "  const float B = 0.03;\r\n"
        "  const float C = 2.43;\r\n"
        "  const float D = 0.59;\r\n"
        "  const float E = 0.14;\r\n"
        "  return clamp((color * (A * color + B)) / (color * (C * color + D) + E), 0.0, 1.0);\r\n"
        "}\r\n\r\n";
    toneMap(pbr ? "  return linearTosRGB(toneMapACES_Narkowicz(color * exposure));\r\n"
                : "  return toneMapACES_Narkowicz(color * exposure);\r\n");
  } else if (IsDefined("TONEMAP_ACES_HILL")) {
    AOut += AcesHillFuncs;
    toneMap(pbr ? "  return linearTosRGB(toneMapACES_Hill(color * exposure));\r\n"
                : "  return toneMapACES_Hill(color * exposure);\r\n");
  } else if (IsDefined("TONEMAP_ACES_HILL_EXPOSURE_BOOST")) {
    AOut += AcesHillFuncs;
    toneMap(pbr ? "  return linearTosRGB(toneMapACES_Hill(color * exposure / 0.6));\r\n"
                : "  return toneMapACES_Hill(color * exposure / 0.6);\r\n");
  } else if (IsDefined("TONEMAP_REINHARD")) {
    toneMap(
        "  float l_Exposure = exposure * 1.5;\r\n"
        "  color = color * l_Exposure / (1.0 + color / l_Exposure);\r\n"
        "  return pow(color, vec3(INV_GAMMA));\r\n");
  } else if (IsDefined("TONEMAP_LUMABASED_REINHARD")) {
    toneMap(
        "  color *= exposure;\r\n"
        "  float l_Luma = dot(color, vec3(0.2126, 0.7152, 0.0722));\r\n"
        "  float l_ToneMappedLuma = l_Luma / (1.0 + l_Luma);\r\n"
        "  color *= l_ToneMappedLuma / l_Luma;\r\n"
        "  return pow(color, vec3(INV_GAMMA));\r\n");
  } else if (IsDefined("TONEMAP_WP_LUMABASED_REINHARD")) {
    toneMap(
        "  color *= exposure;\r\n"
        "  float l_White = 2.0;\r\n"
        "  float l_Luma = dot(color, vec3(0.2126, 0.7152, 0.0722));\r\n"
        "  float l_ToneMappedLuma = l_Luma * (1.0 + l_Luma / (l_White * l_White)) / (1.0 + l_Luma);\r\n"
        "  color *= l_ToneMappedLuma / l_Luma;\r\n"
        "  return pow(color, vec3(INV_GAMMA));\r\n");
  } else if (IsDefined("TONEMAP_ROMBINDAHOUSE")) {
    toneMap(
        "  color *= exposure;\r\n"
        "  color = exp(-1.0 / (2.72 * color + 0.15));\r\n"
        "  return pow(color, vec3(INV_GAMMA));\r\n");
  } else if (IsDefined("TONEMAP_FILMIC")) {
    toneMap(
        "  color = max(vec3(0.0), color * exposure - 0.004);\r\n"
        "  return (color * (6.2 * color + 0.5)) / (color * (6.2 * color + 1.7) + 0.06);\r\n");
  } else if (IsDefined("TONEMAP_UNCHARTED2")) {
    AOut +=
        "vec3 Uncharted2Curve(vec3 x){\r\n"
        "  const float A = 0.15;\r\n"
        "  const float B = 0.50;\r\n"
        "  const float C = 0.10;\r\n"
        "  const float D = 0.20;\r\n"
        "  const float E = 0.02;\r\n"
        "  const float F = 0.30;\r\n"
        "  return ((x * (A * x + C * B) + D * E) / (x * (A * x + B) + D * F)) - E / F;\r\n"
        "}\r\n\r\n";
    toneMap(
        "  const float W = 11.2;\r\n"
        "  color = Uncharted2Curve(color * 2.0 * exposure) / Uncharted2Curve(vec3(W));\r\n"
        "  return pow(color, vec3(INV_GAMMA));\r\n");
  }
}

}  // namespace quorvel
