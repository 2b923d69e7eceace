#include "lib/materials/MaterialDefaultGLSLVertex.h"

namespace quorvel {

namespace {
using enum TQuorvelShaderNodeVariableType;
}

void TQuorvelGLSLTransformFuncsNode::AppendText(std::string& AOut) const {
  AOut +=
      "vec4 TransformModel(in mat4 p_ModelMatrix, vec4 position){\r\n"
      "  return p_ModelMatrix * position;\r\n"
      "}\r\n\r\n"
      "vec4 TransformModelViewProjection(in mat4 p_ProjMatrix, in mat4 p_ViewMatrix, in mat4 p_ModelMatrix, "
      "vec4 position){\r\n"
      "  return p_ProjMatrix * p_ViewMatrix * p_ModelMatrix * position;\r\n"
      "}\r\n\r\n"
      "vec3 TransformModelNormal(in mat3 p_NormalMatrix, vec3 normal){\r\n"
      "  return normalize(p_NormalMatrix * normal);\r\n"
      "}\r\n\r\n";
}

TQuorvelGLSLVertexShaderLocalsStructNode::TQuorvelGLSLVertexShaderLocalsStructNode(TQuorvelNodeBuilder* ABuilder)
    : TQuorvelGLSLLocalsStructNode(ABuilder) {
  struct TMember {
    const char* Name;
    TQuorvelShaderNodeVariableType Type;
    const char* Gate;
  };
  const TMember members[] = {
      {"Position", stVec4, nullptr},     {"TransfVertexPos", stVec4, nullptr},
      {"WorldViewProjVertPos", stVec4, nullptr}, {"TexCoord0", stVec2, nullptr},
      {"TexCoord1", stVec2, "USE_TEXCOORD1"},    {"TexCoord2", stVec2, "USE_TEXCOORD2"},
      {"TexCoord3", stVec2, "USE_TEXCOORD3"},    {"Color0", stVec4, nullptr},
      {"Normal", stVec3, nullptr},       {"Tangent", stVec3, nullptr},
      {"Binormal", stVec3, nullptr},     {"Displace", stVec4, "DISPLACEMENT"},
      {"ClippingPlane", stVec4, "CLIPPINGPLANE"},
  };
  for (const TMember& m : members) {
    TQuorvelVariableNode* node = AddDeclaration(m.Name, m.Type);
    node->AddDefine("VERTEXSHADER");
    if (m.Gate) node->AddDefine(m.Gate);
  }
}

void TQuorvelGLSLMatricesOutNode::AppendText(std::string& AOut) const {
  if (!IsDefined("VERTEXSHADER")) return;
  // Two empty lines under SHADOW, kept as they are.
  AOut += "\r\n";
  if (IsDefined("SHADOW")) AOut += "\r\n";
}

void TQuorvelGLSLGetVertexPositionNode::AppendText(std::string& AOut) const {
  AOut += "  LOCALS.Position = vec4(a_Position, 1.0);\r\n";
}

void TQuorvelGLSLDisplacementMappingGetNode::AppendText(std::string& AOut) const {
  if (!IsDefined("DISPLACEMENT")) return;
  AOut +=
      "  vec4 l_DisplaceSample = vec4(tex2D(_DisplacementMapTexture, a_TexCoord0.xy).rgb, 0.0);\r\n"
      "  LOCALS.Displace = _Material[0]._Displacement.w * (vec4(a_Normal, 0.0) * l_DisplaceSample * "
      "vec4(_Material[0]._Displacement.xyz, 0.0));\r\n";
}

void TQuorvelGLSLDisplacementMappingApplyNode::AppendText(std::string& AOut) const {
  if (!IsDefined("DISPLACEMENT")) return;
  AOut += "  LOCALS.Position += LOCALS.Displace;\r\n\r\n";
}

void TQuorvelGLSLClippingPlaneGetNode::AppendText(std::string& AOut) const {
  if (!IsDefined("CLIPPINGPLANE")) return;
  AOut += "  LOCALS.ClippingPlane = _ClippingPlane;\r\n";
}

void TQuorvelGLSLVertexShaderOutputNode::AppendText(std::string& AOut) const {
  const bool structs = IsDefined("VARYING_STRUCTS");
  if (structs) {
    AOut +=
        "  LOCALS.TransfVertexPos = a_ModelMatrix * LOCALS.Position;\r\n"
        "  LOCALS.TransfVertexPos.xyz /= LOCALS.TransfVertexPos.w;\r\n"
        "  LOCALS.WorldViewProjVertPos = _ProjectionMatrix * _ViewMatrix * a_ModelMatrix * LOCALS.Position;\r\n";
  } else {
    AOut +=
        "  LOCALS.TransfVertexPos = TransformModel(a_ModelMatrix, LOCALS.Position);\r\n"
        "  LOCALS.TransfVertexPos.xyz /= LOCALS.TransfVertexPos.w;\r\n"
        "  v_ViewDir = _ViewDir;\r\n"
        "  LOCALS.WorldViewProjVertPos = TransformModelViewProjection(_ProjectionMatrix, _ViewMatrix, "
        "a_ModelMatrix, LOCALS.Position);\r\n";
  }
  AOut += "  LOCALS.TexCoord0 = a_TexCoord0;\r\n  LOCALS.Color0 = a_Color;\r\n";
  if (IsDefined("USE_TEXCOORD1")) AOut += "  LOCALS.TexCoord1 = a_TexCoord1;\r\n";
  if (IsDefined("USE_TEXCOORD2")) AOut += "  LOCALS.TexCoord2 = a_TexCoord2;\r\n";
  if (IsDefined("USE_TEXCOORD3")) AOut += "  LOCALS.TexCoord3 = a_TexCoord3;\r\n";

  if (IsDefined("POM") || IsDefined("NORMALMAP")) {
    AOut +=
        "  LOCALS.Normal = normalize(a_ModelMatrix * vec4(a_Normal, 0.0)).xyz;\r\n"
        "  LOCALS.Tangent = normalize(a_ModelMatrix * vec4(a_Tangent, 0.0)).xyz;\r\n";
  } else {
    AOut +=
        "  mat4 l_TIMMat = transpose(inverse(a_ModelMatrix));\r\n"
        "  mat3 l_NormalMatrix = mat3(l_TIMMat);\r\n";
    if (structs)
      AOut +=
          "  LOCALS.Normal = normalize(l_NormalMatrix * a_Normal);\r\n"
          "  LOCALS.Tangent = normalize(l_NormalMatrix * a_Tangent);\r\n";
    else
      AOut +=
          "  LOCALS.Normal = normalize(TransformModelNormal(l_NormalMatrix, a_Normal));\r\n"
          "  LOCALS.Tangent = normalize(TransformModelNormal(l_NormalMatrix, a_Tangent));\r\n";
  }
  AOut += "  LOCALS.Binormal = normalize(a_ModelMatrix * vec4(cross(a_Normal, a_Tangent), 0.0)).xyz;\r\n\r\n";

  if (IsDefined("REFLECTION")) {
    AOut += "  ";
    AOut += VaryingPrefix();
    AOut += "v_ReflProjTextureCoords = (_PassData[0]._ReflectTextureMatrix * a_ModelMatrix) * LOCALS.Position;\r\n";
  }
}

void TQuorvelGLSLAdjustPointSizeNode::AppendText(std::string& AOut) const {
  if (!IsDefined("USE_POINTSPRITE")) return;
  AOut +=
      "  const float SIZE_MULTIPLIER = 2.0;\r\n"
      "  float l_Dist = clamp(LOCALS.WorldViewProjVertPos.w, 0.00001, 1000.0);\r\n"
      "  float l_Size = (length(a_Color2) < 0.00001) ? 1.0 : a_Color2.x;\r\n"
      "  float l_Aspect = _ViewSize.x / _ViewSize.y;\r\n"
      "  gl_PointSize = ((l_Size * SIZE_MULTIPLIER * l_Aspect) / l_Dist) * l_Aspect;\r\n";
  if (IsDefined("VARYING_STRUCTS"))
    AOut +=
        "  vars.v_ParticleSettings = a_Color2;\r\n"
        "  vars.v_ParticleTimeInfo = a_Color3;\r\n";
  AOut += "\r\n";
}

void TQuorvelGLSLVertexPositionOutputNode::AppendText(std::string& AOut) const {
  const bool structs = IsDefined("VARYING_STRUCTS");
  const std::string_view v = structs ? "  vars." : "  ";
  auto line = [&](std::string_view AText) {
    AOut += v;
    AOut += AText;
    AOut += "\r\n";
  };
  if (IsDefined("CLIPPINGPLANE")) line("v_ClipDistance = dot(vec4(LOCALS.TransfVertexPos.xyz, 1.0), LOCALS.ClippingPlane);");
  line("v_TBN = mat3(LOCALS.Tangent, LOCALS.Binormal, LOCALS.Normal);");
  line("v_TBN_UT = mat3(a_Tangent, cross(a_Normal, a_Tangent), a_Normal);");
  AOut += "\r\n";
  line("v_TexCoord0 = LOCALS.TexCoord0;");
  if (IsDefined("USE_TEXCOORD1")) line("v_TexCoord1 = LOCALS.TexCoord1;");
  if (IsDefined("USE_TEXCOORD2")) line("v_TexCoord2 = LOCALS.TexCoord2;");
  if (IsDefined("USE_TEXCOORD3")) line("v_TexCoord3 = LOCALS.TexCoord3;");
  line("v_Color0 = LOCALS.Color0;");
  line("v_VertPos = LOCALS.Position;");
  line("v_TransfVertPos = LOCALS.TransfVertexPos.xyz;");
  line("v_WorldViewProjVertPos = LOCALS.WorldViewProjVertPos;");
  AOut += "  gl_Position = LOCALS.WorldViewProjVertPos;\r\n";
  if (!structs) return;
  AOut += "  vars.v_ModelMatrix = a_ModelMatrix;\r\n";
  if (IsDefined("DISPLACEMENT") && IsDefined("DISPLACE_VAR")) AOut += "  vars.v_Displace = LOCALS.Displace;\r\n";
}

}  // namespace quorvel
