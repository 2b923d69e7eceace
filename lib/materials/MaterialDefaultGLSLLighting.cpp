#include "lib/materials/MaterialDefaultGLSLLighting.h"

#include "framework/math/Point.h"
#include "framework/math/Point3D.h"
#include "lib/materials/MaterialDefaultGLSLPBR.h"

namespace quorvel {

namespace {

using enum TQuorvelShaderNodeVariableType;

// Appends ATemplate with "$P" replaced by the light parameter and "$L" by the light access:
// the light record itself where the varyings are a struct, the loop index into _Lights in the
// loose form.
void AppendLightText(std::string& AOut, const TQuorvelNodeEntity& ANode, std::string_view ATemplate) {
  const bool structs = ANode.IsDefined("VARYING_STRUCTS");
  const std::string_view param = structs ? "in Light p_Light" : "in int i";
  const std::string_view access = structs ? "p_Light." : "_Lights[i].";
  for (size_t i = 0; i < ATemplate.size(); ++i) {
    if (ATemplate[i] == '$' && i + 1 < ATemplate.size()) {
      if (ATemplate[i + 1] == 'P') {
        AOut += param;
        ++i;
        continue;
      }
      if (ATemplate[i + 1] == 'L') {
        AOut += access;
        ++i;
        continue;
      }
    }
    AOut += ATemplate[i];
  }
}

}  // namespace

TQuorvelGLSLFragmentShaderLocalsStructNode::TQuorvelGLSLFragmentShaderLocalsStructNode(
    TQuorvelNodeBuilder* ABuilder)
    : TQuorvelGLSLLocalsStructNode(ABuilder) {
  const TValue black = TPoint3D(0, 0, 0);
  const TValue white = TPoint3D(1, 1, 1);
  struct TMember {
    const char* Name;
    TQuorvelShaderNodeVariableType Type;
    TValue Value;
    TValue Deferred;
    std::initializer_list<const char*> Gates;
  };
  const TMember members[] = {
      {"LightDir", stVec4, {}, {}, {"LIGHTING"}},
      {"LightVec", stVec3, {}, {}, {"LIGHTING"}},
      {"LightType", stInt, {}, {}, {"LIGHTING"}},
      {"LightDist", stFloat, {}, {}, {"LIGHTING"}},
      {"Attenuation", stFloat, 1.0, {}, {"LIGHTING"}},
      {"SceneAttenuation", stFloat, 0.0, {}, {"LIGHTING"}},
      {"Ambient", stVec3, black, white, {"LIGHTING"}},
      {"Diffuse", stVec3, black, white, {"LIGHTING"}},
      {"Specular", stVec3, black, white, {"LIGHTING"}},
      {"Emissive", stVec3, black, black, {}},
      {"TexCoord0", stVec2, {}, {}, {"USE_TEXTURE"}},
      {"TexCoord1", stVec2, {}, {}, {"USE_TEXCOORD1", "USE_TEXTURE"}},
      {"TexCoord2", stVec2, {}, {}, {"USE_TEXCOORD2", "USE_TEXTURE"}},
      {"TexCoord3", stVec2, {}, {}, {"USE_TEXCOORD3", "USE_TEXTURE"}},
      {"TransfVertPos", stVec3, {}, {}, {}},
      {"FragDepth", stFloat, {}, {}, {}},
      {"Normal", stVec3, {}, {}, {}},
      {"FragViewDir", stVec3, {}, {}, {}},
      {"SpecularColor", stVec3, black, {}, {"LIGHTING"}},
      {"BaseColor", stVec4, TVector3D(1, 1, 1, 1), {}, {}},
      {"SumColor", stVec3, white, {}, {}},
      {"Alpha", stFloat, 1.0, {}, {}},
      {"Shading", stVec2, {}, {}, {"LIGHTING"}},
      {"ShadowSum", stFloat, 0.0, {}, {"LIGHTING", "SHADOW"}},
      // Read by no snippet; kept so that user functions may use it.
      {"BumpSum", stVec2, TPointF(1, 1), {}, {}},
  };
  for (const TMember& m : members) {
    TQuorvelVariableNode* node = AddDeclaration(m.Name, m.Type, "", false, 0, m.Value);
    for (const char* gate : m.Gates) node->AddDefine(gate);
    if (!m.Deferred.IsEmpty()) node->SetConditionalValue("DEFERRED", m.Deferred);
  }
}

// --- loops -----------------------------------------------------------------------------------

void TQuorvelGLSLForLoopNode::AppendLoop(std::string& AOut) const {
  AOut += "  for(";
  if (LoopVariable) LoopVariable->AppendText(AOut);
  AOut += "; ";
  if (Condition) Condition->AppendText(AOut);
  AOut += "; ";
  if (LoopOp) LoopOp->AppendText(AOut);
  AOut += "){\r\n";
  TQuorvelCompositeNode::AppendText(AOut);
  AOut += "  }\r\n";
}

void TQuorvelGLSLForLoopNode::AppendText(std::string& AOut) const { AppendLoop(AOut); }

TQuorvelGLSLLightsLoopNode::TQuorvelGLSLLightsLoopNode(TQuorvelNodeBuilder* ABuilder)
    : TQuorvelGLSLForLoopNode(ABuilder) {
  using enum TQuorvelShaderNodeOperator;
  TOwned<TQuorvelGLSLVariable> index = TQuorvelGLSLVariable::Build(ABuilder, "i", stInt);
  TQuorvelGLSLVariable* i = index.get();
  LoopVariable = TQuorvelOperationNode::Build(ABuilder, snopAssign, std::move(index),
                                              TQuorvelGLSLConstantValue::Build(ABuilder, "", TValue(int32_t(0))));
  TQuorvelNodeEntity* count = nullptr;
  if (TQuorvelGlobalsNode* globals = ABuilder->GetGlobals())
    count = globals->FindNode<TQuorvelVariableNode>("_LightsCount", true);
  Condition = TQuorvelOperationNode::Build(ABuilder, snopLT, TQuorvelReferenceNode::Build(ABuilder, i),
                                           TQuorvelReferenceNode::Build(ABuilder, count));
  LoopOp = TQuorvelOperationNode::Build(ABuilder, snopPostInc, TQuorvelReferenceNode::Build(ABuilder, i), nullptr);
}

void TQuorvelGLSLLightsLoopNode::AppendText(std::string& AOut) const {
  if (!IsDefined("LIGHTING") || IsDefined("DEFERRED")) return;
  AppendLoop(AOut);
}

// --- per-light terms -------------------------------------------------------------------------

void TQuorvelGLSLGetLightShadingNode::AppendText(std::string& AOut) const {
  if (!IsDefined("LIGHTING")) return;
  const bool structs = IsDefined("VARYING_STRUCTS");
  AOut += "    LOCALS.LightType = _Lights[i]._LightType;\r\n";
  AOut += structs ? "    LOCALS.LightDist = GetLightDir(_Lights[i], vars.v_TransfVertPos, LOCALS.LightDir, "
                    "LOCALS.LightVec);\r\n"
                  : "    LOCALS.LightDist = GetLightDir(i, v_TransfVertPos, LOCALS.LightDir, LOCALS.LightVec);\r\n";
  AOut +=
      "    float l_Falloff = 1.0;\r\n"
      "    if(LOCALS.LightType == 2){\r\n"
      "      l_Falloff = computeSpotFalloff(LOCALS.LightDir, LOCALS.LightVec);\r\n"
      "    }\r\n"
      "    if(LOCALS.LightType == 0){\r\n"
      "      LOCALS.Attenuation = 1.0;\r\n"
      "    }else{\r\n";
  AOut += structs ? "      LOCALS.Attenuation = getAttenuation(_Lights[i], LOCALS.LightDist, LOCALS.LightVec);\r\n"
                  : "      LOCALS.Attenuation = getAttenuation(i, LOCALS.LightDist, LOCALS.LightVec);\r\n";
  AOut +=
      "    }\r\n"
      "    LOCALS.SceneAttenuation += LOCALS.Attenuation;\r\n"
      "\r\n";
  if (IsDefined("PBR")) {
    AppendPBRLightTerms(AOut, *this);
    return;
  }

  AOut +=
      "    LOCALS.Shading.x = lightComputeDiffuse(LOCALS.Normal, LOCALS.LightDir.xyz);\r\n"
      "    LOCALS.Shading.y = 0.0;\r\n";
  const char* specular = IsDefined("PHONG") ? "lightComputeSpecularPhong"
                         : IsDefined("BLINNPHONG") ? "lightComputeSpecular"
                                                   : nullptr;
  if (specular) {
    AOut +=
        "    if(_Material[0]._Shininess <= 0.001){\r\n"
        "      LOCALS.Shading.y = 0.0;\r\n"
        "    }else{\r\n"
        "      LOCALS.Shading.y = ";
    AOut += specular;
    AOut +=
        "(LOCALS.Normal, LOCALS.FragViewDir, LOCALS.LightDir.xyz, _Material[0]._Shininess);\r\n"
        "    }\r\n";
  }
  AOut += "    LOCALS.Shading = LOCALS.Shading * vec2(LOCALS.Attenuation) * vec2(l_Falloff);\r\n";
}

void TQuorvelGLSLLightingSumNode::AppendText(std::string& AOut) const {
  if (!IsDefined("LIGHTING") || IsDefined("PBR")) return;
  AOut +=
      "    LOCALS.Shading *= _ShadingIntensity;\r\n"
      "    LOCALS.Ambient += _Lights[i]._Ambient.rgb;\r\n"
      "    LOCALS.Diffuse += _Lights[i]._Diffuse.rgb * _Lights[i]._Intensity * LOCALS.Shading.x;\r\n";
  if (IsDefined("USE_SPECULAR")) AOut += "    LOCALS.Specular += _Lights[i]._Specular.rgb * LOCALS.Shading.y;\r\n";
  AOut += "\r\n";
}

void TQuorvelGLSLAddShadowNode::AppendText(std::string& AOut) const {
  if (!IsDefined("LIGHTING") || !IsDefined("SHADOW")) return;
  // Every light adds the lookup of shadow map 0; the merge clamps the sum.
  if (IsDefined("SHADOWMAPPING"))
    AOut +=
        "    LOCALS.ShadowSum += ShadowCalculation(_ShadowMapTexture0, _PassData[0]._ShadowMapMatrix[0], "
        "vars.v_ModelMatrix, LOCALS.LightDir);\r\n";
  else if (IsDefined("VARIANCESHADOWMAPPING"))
    AOut +=
        "    LOCALS.ShadowSum += ShadowCalculation(_ShadowMapTexture0, _PassData[0]._ShadowMapMatrix[0], "
        "vars.v_ModelMatrix);\r\n";
}

// --- function library ------------------------------------------------------------------------

void TQuorvelGLSLGetDirLightDirectionFuncNode::AppendText(std::string& AOut) const {
  if (!IsDefined("LIGHTING")) return;
  AppendLightText(AOut, *this,
                  "float GetDirLightDir($P, in vec3 p_TransVertPos, inout vec4 p_LightDir){\r\n"
                  "  vec3 l_VP = $L_Position.xyz - p_TransVertPos;\r\n"
                  "  p_LightDir = -$L_Direction;\r\n"
                  "  return length(l_VP);\r\n"
                  "}\r\n\r\n");
}

void TQuorvelGLSLGetPointLightDirectionFuncNode::AppendText(std::string& AOut) const {
  if (!IsDefined("LIGHTING")) return;
  AppendLightText(AOut, *this,
                  "float GetPointLightDir($P, in vec3 p_TransVertPos, inout vec4 p_LightDir, inout vec3 "
                  "p_HalfVector){\r\n"
                  "  vec3 l_VP = $L_Position.xyz - p_TransVertPos;\r\n"
                  "  p_LightDir = vec4(normalize(l_VP), 0.0);\r\n"
                  "  p_HalfVector = normalize(l_VP + (-p_TransVertPos));\r\n"
                  "  return length(l_VP);\r\n"
                  "}\r\n\r\n");
}

void TQuorvelGLSLGetSpotLightDirectionFuncNode::AppendText(std::string& AOut) const {
  if (!IsDefined("LIGHTING")) return;
  AppendLightText(AOut, *this,
                  "float GetSpotLightDir($P, in vec3 p_TransVertPos, inout vec4 p_LightDir, inout vec3 "
                  "p_HalfVector){\r\n"
                  "  vec3 l_VP = $L_Position.xyz - p_TransVertPos.xyz;\r\n"
                  "  p_LightDir = -$L_Direction;\r\n"
                  "  p_HalfVector = normalize(l_VP);\r\n"
                  "  return length(l_VP);\r\n"
                  "}\r\n\r\n");
}

void TQuorvelGLSLGetLightDirectionFuncNode::AppendText(std::string& AOut) const {
  if (!IsDefined("LIGHTING")) return;
  const bool structs = IsDefined("VARYING_STRUCTS");
  AppendLightText(AOut, *this,
                  "float GetLightDir($P, in vec3 p_TransVertPos, out vec4 p_LightDir, out vec3 p_HalfVector){\r\n"
                  "  if($L_LightType == 0){\r\n"
                  "    p_HalfVector = vec3(0.0);\r\n");
  const char* arg = structs ? "p_Light" : "i";
  AOut += "    return GetDirLightDir(";
  AOut += arg;
  AOut += ", p_TransVertPos, p_LightDir);\r\n";
  AppendLightText(AOut, *this, "  }else if($L_LightType == 1){\r\n");
  AOut += "    return GetPointLightDir(";
  AOut += arg;
  AOut += ", p_TransVertPos, p_LightDir, p_HalfVector);\r\n  }\r\n  return GetSpotLightDir(";
  AOut += arg;
  AOut += ", p_TransVertPos, p_LightDir, p_HalfVector);\r\n}\r\n\r\n";
}

void TQuorvelGLSLGetSpotFalloffFuncNode::AppendText(std::string& AOut) const {
  if (!IsDefined("LIGHTING")) return;
  // w packs the inner cone cosine in thousandths (integer part) and the outer one (fraction);
  // at or below 0.001 the lower bound is 1, so there is no cone.
  AOut +=
      "float computeSpotFalloff(in vec4 p_LightDirection, in vec3 p_HalfVector){\r\n"
      "  vec3 l_L = normalize(p_HalfVector);\r\n"
      "  vec3 l_SpotDir = normalize(p_LightDirection.xyz);\r\n"
      "  float l_Cur = dot(-l_L, l_SpotDir);\r\n"
      "  float l_W = p_LightDirection.w;\r\n"
      "  float l_Inner = floor(l_W) * 0.001;\r\n"
      "  float l_Outer = fract(l_W);\r\n"
      "  return clamp((l_Cur - l_Outer) / (l_Inner - l_Outer), step(l_W, 0.001), 1.0);\r\n"
      "}\r\n\r\n";
}

void TQuorvelGLSLGetLightAttenuationFuncNode::AppendText(std::string& AOut) const {
  if (!IsDefined("LIGHTING")) return;
  AppendLightText(AOut, *this,
                  "float getAttenuation($P, in float p_Distance, in vec3 p_HalfVector){\r\n"
                  "  float l_Att = 1.0 / ($L_ConstantAttenuation + $L_LinearAttenuation * p_Distance + "
                  "$L_QuadraticAttenuation * p_Distance * p_Distance);\r\n"
                  "  if($L_LightType == 2){\r\n"
                  "    float l_Spot = dot(-p_HalfVector, normalize($L_Direction.xyz));\r\n"
                  "    if(l_Spot < $L_SpotCosCutoff){\r\n"
                  "      l_Att = 0.0;\r\n"
                  "    }else{\r\n"
                  "      l_Att *= pow(l_Spot, $L_SpotExponent);\r\n"
                  "    }\r\n"
                  "  }\r\n"
                  "  return l_Att;\r\n"
                  "}\r\n\r\n");
}

void TQuorvelGLSLGetShadingFuncsNode::AppendText(std::string& AOut) const {
  if (!IsDefined("LIGHTING")) return;
  AOut +=
      "float lightComputeDiffuse(in vec3 p_Normal, in vec3 p_LightDir){\r\n"
      "  return max(0.0, dot(p_Normal, p_LightDir));\r\n"
      "}\r\n\r\n";
  if (IsDefined("PHONG"))
    AOut +=
        "float lightComputeSpecularPhong(in vec3 p_Normal, in vec3 p_ViewDir, in vec3 p_LightDir, in float "
        "p_Shiny){\r\n"
        "  vec3 l_R = -reflect(p_LightDir, p_Normal);\r\n"
        "  return pow(max(dot(l_R, p_ViewDir), 0.0), p_Shiny);\r\n"
        "}\r\n\r\n";
  else if (IsDefined("BLINNPHONG"))
    AOut +=
        "float lightComputeSpecular(in vec3 p_Normal, in vec3 p_ViewDir, in vec3 p_LightDir, in float p_Shiny){\r\n"
        "  vec3 l_H = normalize(p_ViewDir + p_LightDir);\r\n"
        "  return pow(max(0.0, dot(l_H, p_Normal)), p_Shiny);\r\n"
        "}\r\n\r\n";
}

void TQuorvelGLSLBasicShadowFuncsNode::AppendText(std::string& AOut) const {
  if (!IsDefined("SHADOW")) return;
  const bool structs = IsDefined("VARYING_STRUCTS");
  if (IsDefined("SHADOWMAPPING")) {
    AOut +=
        "float ShadowCalculation(sampler2D p_ShadowMapTexture, mat4 p_ShadowMapMatrix, mat4 p_ModelMatrix, vec4 "
        "p_LightDir){\r\n"
        "  const float c_MinVal = 0.5;\r\n";
    if (structs) {
      AOut +=
          "  vec4 l_P = p_ShadowMapMatrix * (p_ModelMatrix * vars.v_VertPos);\r\n"
          "  vec3 l_C = l_P.xyz / l_P.w;\r\n"
          "  if(l_C.z > 1.0){\r\n"
          "    return 0.5;\r\n"
          "  }\r\n"
          "  float l_Closest = texture(p_ShadowMapTexture, l_C.xy).r;\r\n"
          "  float l_Bias = max(0.05 * (1.0 - dot(vars.v_TBN[2], p_LightDir.xyz)), 0.005);\r\n";
    } else {
      AOut +=
          "  vec4 l_P = p_ShadowMapMatrix * (p_ModelMatrix * v_VertPos);\r\n"
          "  vec3 l_C = l_P.xyz / l_P.w;\r\n"
          "  float l_Closest = texture(p_ShadowMapTexture, l_C.xy).r;\r\n"
          "  if(l_C.z > 1.0){\r\n"
          "    return 0.5;\r\n"
          "  }\r\n"
          "  float l_Bias = max(0.05 * (1.0 - dot(v_TBN[2], p_LightDir.xyz)), 0.005);\r\n";
    }
    AOut +=
        "  return (l_C.z - l_Bias > l_Closest) ? c_MinVal : 1.0;\r\n"
        "}\r\n\r\n";
  } else if (IsDefined("VARIANCESHADOWMAPPING")) {
    AOut += "float ShadowCalculation(sampler2D p_ShadowMapTexture, mat4 p_ShadowMapMatrix, mat4 p_ModelMatrix){\r\n";
    AOut += structs ? "  vec4 l_P = p_ShadowMapMatrix * vec4(vars.v_TransfVertPos, 1.0);\r\n"
                    : "  vec4 l_P = p_ShadowMapMatrix * (p_ModelMatrix * v_VertPos);\r\n";
    // The moments are half floats, rounded by the store and again by a blur, each time by up to
    // 2^-10 of their value (GL may round towards zero). Near a window depth of 1 that outweighs
    // the variance of a soft edge: M2 - M1^2 came out as noise of either sign and banded lit
    // ground. A depth or a variance within the rounding is no evidence of an occluder.
    AOut +=
        "  vec3 l_C = l_P.xyz / l_P.w;\r\n"
        "  vec2 l_Moments = texture(p_ShadowMapTexture, l_C.xy).rg;\r\n"
        "  const float c_Rounding = 1.0 / 512.0;\r\n"
        "  float l_D = l_C.z - l_Moments.x * (1.0 + c_Rounding);\r\n"
        "  if(l_D <= 0.0){\r\n"
        "    return 1.0;\r\n"
        "  }\r\n"
        "  float l_Square = l_Moments.x * l_Moments.x;\r\n"
        "  float l_Noise = (l_Moments.y + 2.0 * l_Square) * c_Rounding;\r\n";
    AOut += structs ? "  float l_Variance = max(l_Moments.y - l_Square - l_Noise, 0.00002);\r\n"
                    : "  float l_Variance = max(l_Moments.y - l_Square - l_Noise, 0.0008);\r\n";
    AOut +=
        "  return l_Variance / (l_Variance + l_D * l_D);\r\n"
        "}\r\n\r\n";
  }
}

}  // namespace quorvel
