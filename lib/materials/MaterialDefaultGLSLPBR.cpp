#include "lib/materials/MaterialDefaultGLSLPBR.h"

namespace quorvel {

namespace {

const char* const ToneMapDefines[] = {
    "TONEMAP_EXPOSURE",          "TONEMAP_ACES_NARKOWICZ",        "TONEMAP_ACES_HILL",
    "TONEMAP_ACES_HILL_EXPOSURE_BOOST", "TONEMAP_REINHARD",       "TONEMAP_LUMABASED_REINHARD",
    "TONEMAP_WP_LUMABASED_REINHARD",    "TONEMAP_ROMBINDAHOUSE",  "TONEMAP_FILMIC",
    "TONEMAP_UNCHARTED2",
};

}  // namespace

bool HasToneMapDefine(const TQuorvelNodeEntity& ANode) {
  for (const char* d : ToneMapDefines)
    if (ANode.IsDefined(d)) return true;
  return false;
}

void TQuorvelGLSLPBRFuncsNode::AppendText(std::string& AOut) const {
  if (!IsDefined("PBR")) return;
  AOut +=
      "const float PBR_PI = 3.141592653589793;\r\n"
      "const float PBR_Epsilon = 0.002;\r\n"
      "const float PBR_EmissiveFac = 0.3;\r\n"
      "const vec3 Fdielectric = vec3(0.04);\r\n\r\n"
      "vec2 getIBLSamplePointGGXLUT(float NdotV, float roughness){\r\n"
      "  return clamp(vec2(NdotV, roughness), vec2(0.0, 0.0), vec2(1.0, 1.0));\r\n"
      "}\r\n\r\n"
      "vec3 getIBLRadianceLambertian(vec3 irradiance, float NdotV, float roughness, vec3 diffuseColor, vec3 F0, "
      "float specularWeight){\r\n"
      "  vec3 Fr = max(vec3(1.0 - roughness), F0) - F0;\r\n"
      "  vec3 k_S = F0 + Fr * pow(clamp(1.0 - NdotV, 0.0, 1.0), 5.0);\r\n"
      "  vec3 FssEss = specularWeight * k_S;\r\n"
      "  float Ems = 1.0;\r\n"
      "  vec3 F_avg = specularWeight * (F0 + (1.0 - F0) / 21.0);\r\n"
      "  vec3 FmsEms = Ems * FssEss * F_avg / (1.0 - F_avg * Ems);\r\n"
      "  vec3 k_D = diffuseColor * (1.0 - FssEss + FmsEms);\r\n"
      "  return (FmsEms + k_D) * irradiance;\r\n"
      "}\r\n\r\n"
      "vec3 getIBLRadianceGGX(vec3 specularLight, float NdotV, float roughness, vec3 F0, float specularWeight){\r\n"
      "  vec3 Fr = max(vec3(1.0 - roughness), F0) - F0;\r\n"
      "  vec3 k_S = F0 + Fr * pow(clamp(1.0 - NdotV, 0.0, 1.0), 5.0);\r\n"
      "  return specularWeight * specularLight * k_S;\r\n"
      "}\r\n\r\n"
      "float applyIorToRoughness(float roughness, float ior){\r\n"
      "  return roughness * clamp(ior * 2.0 - 2.0, 0.0, 1.0);\r\n"
      "}\r\n\r\n"
      "vec3 F_Schlick(vec3 f0, vec3 f90, float VdotH){\r\n"
      "  return f0 + (f90 - f0) * pow(clamp(1.0 - VdotH, 0.0, 1.0), 5.0);\r\n"
      "}\r\n\r\n"
      "float F_Schlick(float f0, float f90, float VdotH){\r\n"
      "  float x = clamp(1.0 - VdotH, 0.0, 1.0);\r\n"
      "  float x2 = x * x;\r\n"
      "  float x5 = x * x2 * x2;\r\n"
      "  return f0 + (f90 - f0) * x5;\r\n"
      "}\r\n\r\n"
      "float F_Schlick(float f0, float VdotH){\r\n"
      "  return F_Schlick(f0, 1.0, VdotH);\r\n"
      "}\r\n\r\n"
      "vec3 F_Schlick(vec3 f0, float f90, float VdotH){\r\n"
      "  float x = clamp(1.0 - VdotH, 0.0, 1.0);\r\n"
      "  float x2 = x * x;\r\n"
      "  float x5 = x * x2 * x2;\r\n"
      "  return f0 + (f90 - f0) * x5;\r\n"
      "}\r\n\r\n"
      "vec3 F_Schlick(vec3 f0, float VdotH){\r\n"
      "  return F_Schlick(f0, 1.0, VdotH);\r\n"
      "}\r\n\r\n"
      "vec3 Schlick_to_F0(vec3 f, vec3 f90, float VdotH){\r\n"
      "  float x = clamp(1.0 - VdotH, 0.0, 1.0);\r\n"
      "  float x2 = x * x;\r\n"
      "  float x5 = clamp(x * x2 * x2, 0.0, 0.9999);\r\n"
      "  return (f - f90 * x5) / (1.0 - x5);\r\n"
      "}\r\n\r\n"
      "float Schlick_to_F0(float f, float f90, float VdotH){\r\n"
      "  float x = clamp(1.0 - VdotH, 0.0, 1.0);\r\n"
      "  float x2 = x * x;\r\n"
      "  float x5 = clamp(x * x2 * x2, 0.0, 0.9999);\r\n"
      "  return (f - f90 * x5) / (1.0 - x5);\r\n"
      "}\r\n\r\n"
      "vec3 Schlick_to_F0(vec3 f, float VdotH){\r\n"
      "  return Schlick_to_F0(f, vec3(1.0), VdotH);\r\n"
      "}\r\n\r\n"
      "float Schlick_to_F0(float f, float VdotH){\r\n"
      "  return Schlick_to_F0(f, 1.0, VdotH);\r\n"
      "}\r\n\r\n"
      "float V_GGX(float NdotL, float NdotV, float alphaRoughness){\r\n"
      "  float alphaRoughnessSq = alphaRoughness * alphaRoughness;\r\n"
      "  float GGXV = NdotL * sqrt(NdotV * NdotV * (1.0 - alphaRoughnessSq) + alphaRoughnessSq);\r\n"
      "  float GGXL = NdotV * sqrt(NdotL * NdotL * (1.0 - alphaRoughnessSq) + alphaRoughnessSq);\r\n"
      "  float GGX = GGXV + GGXL;\r\n"
      "  if(GGX > 0.0){\r\n"
      "    return 0.5 / GGX;\r\n"
      "  }\r\n"
      "  return 0.0;\r\n"
      "}\r\n\r\n"
      "float D_GGX(float NdotH, float alphaRoughness){\r\n"
      "  float alphaRoughnessSq = alphaRoughness * alphaRoughness;\r\n"
      "  float f = (NdotH * NdotH) * (alphaRoughnessSq - 1.0) + 1.0;\r\n"
      "  return alphaRoughnessSq / (PBR_PI * f * f);\r\n"
      "}\r\n\r\n"
      "float lambdaSheenNumericHelper(float x, float alphaG){\r\n"
      "  float oneMinusAlphaSq = (1.0 - alphaG) * (1.0 - alphaG);\r\n"
      "  float a = mix(21.5473, 25.3245, oneMinusAlphaSq);\r\n"
      "  float b = mix(3.82987, 3.32435, oneMinusAlphaSq);\r\n"
      "  float c = mix(0.19823, 0.16801, oneMinusAlphaSq);\r\n"
      "  float d = mix(-1.97760, -1.27393, oneMinusAlphaSq);\r\n"
      "  float e = mix(-4.32054, -4.85967, oneMinusAlphaSq);\r\n"
      "  return a / (1.0 + b * pow(x, c)) + d * x + e;\r\n"
      "}\r\n\r\n"
      "float lambdaSheen(float cosTheta, float alphaG){\r\n"
      "  if(abs(cosTheta) < 0.5){\r\n"
      "    return exp(lambdaSheenNumericHelper(cosTheta, alphaG));\r\n"
      "  }\r\n"
      "  return exp(2.0 * lambdaSheenNumericHelper(0.5, alphaG) - lambdaSheenNumericHelper(1.0 - cosTheta, alphaG));\r\n"
      "}\r\n\r\n"
      "float V_Sheen(float NdotL, float NdotV, float sheenRoughness){\r\n"
      "  sheenRoughness = max(sheenRoughness, 0.000001);\r\n"
      "  float alphaG = sheenRoughness * sheenRoughness;\r\n"
      "  return clamp(1.0 / ((1.0 + lambdaSheen(NdotV, alphaG) + lambdaSheen(NdotL, alphaG)) * (4.0 * NdotV * "
      "NdotL)), 0.0, 1.0);\r\n"
      "}\r\n\r\n"
      "float D_Charlie(float sheenRoughness, float NdotH){\r\n"
      "  sheenRoughness = max(sheenRoughness, 0.000001);\r\n"
      "  float alphaG = sheenRoughness * sheenRoughness;\r\n"
      "  float invR = 1.0 / alphaG;\r\n"
      "  float cos2h = NdotH * NdotH;\r\n"
      "  float sin2h = 1.0 - cos2h;\r\n"
      "  return (2.0 + invR) * pow(sin2h, invR * 0.5) / (2.0 * PBR_PI);\r\n"
      "}\r\n\r\n"
      "vec3 BRDF_lambertian(vec3 f0, vec3 f90, vec3 diffuseColor, float specularWeight, float VdotH){\r\n"
      "  return (1.0 - specularWeight * F_Schlick(f0, f90, VdotH)) * (diffuseColor / PBR_PI);\r\n"
      "}\r\n\r\n"
      "vec3 BRDF_specularGGX(vec3 f0, vec3 f90, float alphaRoughness, float specularWeight, float VdotH, float "
      "NdotL, float NdotV, float NdotH){\r\n"
      "  vec3 F = F_Schlick(f0, f90, VdotH);\r\n"
      "  float Vis = V_GGX(NdotL, NdotV, alphaRoughness);\r\n"
      "  float D = D_GGX(NdotH, alphaRoughness);\r\n"
      "  return specularWeight * F * Vis * D;\r\n"
      "}\r\n\r\n"
      "vec3 BRDF_specularSheen(vec3 sheenColor, float sheenRoughness, float NdotL, float NdotV, float NdotH){\r\n"
      "  float sheenDistribution = D_Charlie(sheenRoughness, NdotH);\r\n"
      "  float sheenVisibility = V_Sheen(NdotL, NdotV, sheenRoughness);\r\n"
      "  return sheenColor * sheenDistribution * sheenVisibility;\r\n"
      "}\r\n\r\n";
}

void TQuorvelGLSLPBRPrepareNode::AppendText(std::string& AOut) const {
  if (!IsDefined("LIGHTING") || !IsDefined("PBR")) return;
  const bool tex = IsDefined("PBR_TEX");
  const bool metallicTex = tex && IsDefined("PBR_TEX_METALLIC");
  const bool roughnessTex = tex && IsDefined("PBR_TEX_ROUGHNESS");
  const bool aoTex = tex && IsDefined("PBR_TEX_AO");
  if (tex) {
    if (IsDefined("PBR_TEX_ALBEDO") && IsDefined("USE_TEXTURE0"))
      AOut +=
          "  vec4 l_AlbedoTexColor = tex2D(_Texture0, LOCALS.TexCoord0).rgba;\r\n"
          "  LOCALS.BaseColor = sRGBToLinear(l_AlbedoTexColor);\r\n"
          "  LOCALS.Alpha = LOCALS.BaseColor.a;\r\n";
    else
      AOut +=
          "  LOCALS.BaseColor = _Material[0]._Diffuse.rgba;\r\n"
          "  LOCALS.Alpha = LOCALS.BaseColor.a;\r\n";
  }
  AOut += "  vec3 l_Albedo = LOCALS.BaseColor.rgb;\r\n";
  if (!(metallicTex && roughnessTex && aoTex))
    AOut += "  float l_GrayScaleFlt = (0.299 * l_Albedo.r + 0.587 * l_Albedo.g + 0.114 * l_Albedo.b) * 2.25;\r\n";
  if (metallicTex)
    AOut +=
        "  float l_Metallic = tex2D(_MetalnessTexture, LOCALS.TexCoord0).b;\r\n"
        "  if(l_Metallic > PBR_Epsilon){\r\n"
        "    l_Metallic *= _PassData[0]._PBRMetallic;\r\n"
        "  }\r\n";
  else
    AOut += "  float l_Metallic = l_GrayScaleFlt * _PassData[0]._PBRMetallic;\r\n";
  AOut += "  l_Metallic = max(l_Metallic, PBR_Epsilon);\r\n";
  if (roughnessTex)
    AOut +=
        "  float l_Roughness = tex2D(_RoughnessTexture, LOCALS.TexCoord0).g;\r\n"
        "  if(l_Roughness > PBR_Epsilon){\r\n"
        "    l_Roughness *= _PassData[0]._PBRRoughness;\r\n"
        "  }\r\n";
  else
    AOut += "  float l_Roughness = l_GrayScaleFlt * _PassData[0]._PBRRoughness;\r\n";
  AOut += "  l_Roughness = max(l_Roughness, PBR_Epsilon);\r\n";
  if (aoTex)
    AOut +=
        "  float l_AO = tex2D(_AmbientOcclusionTexture, LOCALS.TexCoord0).r;\r\n"
        "  if(l_AO > PBR_Epsilon){\r\n"
        "    l_AO *= _PassData[0]._PBRAO;\r\n"
        "  }\r\n";
  else
    AOut += "  float l_AO = _PassData[0]._PBRAO;\r\n";
  AOut += "  l_AO = max(l_AO, PBR_Epsilon);\r\n";
  AOut += tex && IsDefined("PBR_TEX_EMISSIVE")
              ? "  LOCALS.Emissive = LOCALS.Emissive * tex2D(_EmissiveTexture, LOCALS.TexCoord0).rgb * "
                "PBR_EmissiveFac;\r\n"
              : "  LOCALS.Emissive *= PBR_EmissiveFac;\r\n";
  AOut +=
      "  vec3 N = LOCALS.Normal.xyz;\r\n"
      "  vec3 V = LOCALS.FragViewDir.xyz;\r\n"
      "  float l_NdotV = max(0.0, dot(N, V));\r\n"
      "  float l_Shininess = _Material[0]._Shininess;\r\n"
      "  if(l_Shininess > 1.0){\r\n"
      "    l_Shininess = l_Shininess / 100.0;\r\n"
      "  }\r\n"
      "  float l_SpecularWeight = 1.0;\r\n"
      "  vec3 F90 = vec3(1.0);\r\n"
      "  float ior = 1.5;\r\n"
      "  LOCALS.Shading = vec2(1.0, 1.0);\r\n"
      "  float l_LightIntensity = 0.0;\r\n";
  if (IsDefined("SpecularMapTexture"))
    AOut +=
        "  vec3 F0 = _Material[0]._Specular.rgb;\r\n"
        "  l_Roughness = l_Shininess;\r\n"
        "  vec4 l_SGSample = sRGBToLinear(tex2D(_SpecularMapTexture, LOCALS.TexCoord0));\r\n"
        "  l_Roughness *= l_SGSample.a;\r\n"
        "  F0 *= l_SGSample.rgb;\r\n"
        "  float l_F0Max = max(max(F0.r, F0.g), F0.b);\r\n"
        "  l_Roughness = 1.0 - l_Roughness;\r\n"
        "  vec3 l_CDiff = l_Albedo * (1.0 - l_F0Max);\r\n";
  else
    AOut +=
        "  vec3 l_CDiff = mix(l_Albedo, vec3(0.0), l_Metallic);\r\n"
        "  l_Roughness = applyIorToRoughness(l_Roughness, ior);\r\n"
        "  vec3 F0 = mix(Fdielectric, l_Albedo, l_Metallic);\r\n";
  AOut +=
      "  float l_AlphaRoughness = l_Roughness * l_Roughness;\r\n"
      "  LOCALS.Diffuse = vec3(0.0);\r\n"
      "  LOCALS.Specular = vec3(0.0);\r\n"
      "  LOCALS.Ambient = vec3(0.0);\r\n"
      "\r\n";
}

void AppendPBRLightTerms(std::string& AOut, const TQuorvelNodeEntity& ANode) {
  // The loose form accumulates no physically based light; no material makes that combination.
  if (!ANode.IsDefined("VARYING_STRUCTS")) return;
  AOut +=
      "    vec3 L = LOCALS.LightDir.xyz;\r\n"
      "    vec3 H = normalize(V + L);\r\n"
      "    l_LightIntensity += _Lights[i]._Intensity;\r\n"
      "    float l_NdotL = max(0.0, dot(N, L));\r\n"
      "    float l_NdotH = max(0.0, dot(N, H));\r\n"
      "    float l_VdotH = max(0.0, dot(V, H));\r\n"
      "    vec3 l_LightRad = _Lights[i]._Diffuse.rgb * LOCALS.Attenuation * l_NdotL;\r\n"
      "    LOCALS.Diffuse += l_LightRad * BRDF_lambertian(F0, F90, l_CDiff, l_SpecularWeight, l_VdotH);\r\n"
      "    LOCALS.Specular += l_LightRad * BRDF_specularGGX(F0, F90, l_AlphaRoughness, l_SpecularWeight, l_VdotH, "
      "l_NdotL, l_NdotV, l_NdotH);\r\n"
      "\r\n"
      "    LOCALS.Shading *= (vec2(LOCALS.Attenuation) * vec2(l_Falloff));\r\n";
}

void AppendPBREnvironment(std::string& AOut, const TQuorvelNodeEntity& ANode) {
  const std::string v = ANode.IsDefined("VARYING_STRUCTS") ? "vars." : "";
  AOut += "  float l_MipMapLevel = l_Roughness * 8.0;";
  AOut += "  vec3 l_InvFragViewDir = normalize(LOCALS.FragViewDir.xyz);\r\n";
  AOut += "  vec3 l_EnvNormal = " + v + "v_TBN[2];\r\n";
  AOut += "  vec4 l_EnvTex;\r\n";
  AOut +=
      "  if(_PassData[0]._RefractionPower > 0.0){\r\n"
      "    vec3 l_RefrViewDir = " +
      v +
      "v_TransfVertPos.xyz + refract(l_InvFragViewDir, l_EnvNormal, 1.0 / 1.52);\r\n"
      "    l_EnvTex = texture(_EnvironmentTexture, l_RefrViewDir, l_MipMapLevel);\r\n"
      "    LOCALS.Diffuse += (l_EnvTex.rgb * _PassData[0]._RefractionPower) * l_AO;\r\n"
      "  }\r\n";
  AOut +=
      "  if(_PassData[0]._ReflectionPower > 0.0){\r\n"
      "    vec3 l_ReflViewDir = " +
      v +
      "v_TransfVertPos.xyz + (-reflect(l_InvFragViewDir, l_EnvNormal));\r\n"
      "    l_EnvTex = texture(_EnvironmentTexture, l_ReflViewDir, l_MipMapLevel);\r\n"
      "    l_EnvTex.rgb *= _PassData[0]._ReflectionPower;\r\n"
      "    vec3 l_Radiance = getIBLRadianceGGX(l_EnvTex.rgb, l_NdotV, l_Roughness, F0, l_SpecularWeight);\r\n"
      "    LOCALS.Specular += l_Radiance;\r\n"
      "  }\r\n";
}

void AppendPBRMerge(std::string& AOut, const TQuorvelNodeEntity& ANode) {
  AOut += "  LOCALS.Diffuse *= _Material[0]._Diffuse.rgb * l_AO;\r\n";
  AOut += ANode.IsDefined("SpecularMapTexture") ? "  LOCALS.Specular *= l_AO;\r\n"
                                                : "  LOCALS.Specular *= _Material[0]._Specular.rgb * l_Shininess * l_AO;\r\n";
  AOut += "  LOCALS.Ambient = LOCALS.Diffuse * (_Material[0]._Ambient.rgb * l_AO);\r\n";
  if (!ANode.IsDefined("ENVIRONMENT"))
    AOut +=
        "  vec3 l_Radiance = getIBLRadianceGGX(F0, l_NdotV, l_Roughness, F0, l_SpecularWeight);\r\n"
        "  LOCALS.Specular += l_Radiance;\r\n";
  AOut +=
      "  if(_LightsCount > 0){\r\n"
      "    l_LightIntensity = l_LightIntensity / float(_LightsCount);\r\n"
      "  }else{\r\n"
      "    l_LightIntensity = 1.0;\r\n"
      "  }\r\n"
      "  LOCALS.Diffuse += LOCALS.Specular;\r\n"
      "  LOCALS.Diffuse += LOCALS.Ambient * LOCALS.Shading.y;\r\n"
      "  LOCALS.SumColor = LOCALS.Diffuse * _ShadingIntensity * LOCALS.Shading.x;\r\n";
  AOut += HasToneMapDefine(ANode) ? "  LOCALS.SumColor = toneMap(LOCALS.SumColor, _Material[0]._ToneMapExp);\r\n"
                                  : "  LOCALS.SumColor = linearTosRGB(LOCALS.SumColor);\r\n";
  AOut +=
      "  LOCALS.SumColor *= l_LightIntensity;\r\n"
      "  LOCALS.SumColor *= clamp(LOCALS.SceneAttenuation, 0.0, 1.0);\r\n"
      "  LOCALS.SumColor += LOCALS.Emissive;\r\n"
      "\r\n";
}

}  // namespace quorvel
