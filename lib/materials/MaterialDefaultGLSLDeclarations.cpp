#include "lib/materials/MaterialDefaultGLSLDeclarations.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "framework/math/AlphaColor.h"
#include "framework/math/Matrix3D.h"
#include "framework/math/Point.h"
#include "framework/math/Point3D.h"
#include "framework/rtl/SysUtils.h"

namespace quorvel {

namespace {

using enum TQuorvelShaderNodeVariableType;

// std::to_chars, unlike printf, never reads the process locale: a German locale must not
// turn "0.5" into "0,5" in the generated GLSL.
void AppendInteger(std::string& AOut, int64_t AValue) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof(buf), AValue);
  AOut.append(buf, r.ptr);
}

[[noreturn]] void RaiseNotFinite() { throw EAbort("invalid constant value: not a finite number"); }

// 15 significant digits, trailing zeros dropped; fixed notation for decimal exponents -4 to 14,
// exponent form outside; a point always, in the mantissa too ("1.0E-5").
void AppendFloat(std::string& AOut, double AValue) {
  if (!std::isfinite(AValue)) RaiseNotFinite();
  if (AValue == 0) {
    AOut += "0.0";
    return;
  }
  char buf[40];
  const auto r = std::to_chars(buf, buf + sizeof(buf), AValue, std::chars_format::scientific, 14);
  const std::string_view text(buf, static_cast<size_t>(r.ptr - buf));
  const bool negative = text[0] == '-';
  const size_t first = negative ? 1 : 0;
  const size_t e = text.find('e');
  std::string digits;
  digits += text[first];
  digits.append(text.substr(first + 2, e - first - 2));
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  int exponent = 0;
  std::from_chars(text.data() + e + 1 + (text[e + 1] == '+' ? 1 : 0), text.data() + text.size(), exponent);

  if (negative) AOut += '-';
  if (exponent < -4 || exponent >= 15) {
    AOut += digits[0];
    AOut += '.';
    if (digits.size() > 1)
      AOut.append(digits, 1);
    else
      AOut += '0';
    AOut += 'E';
    AppendInteger(AOut, exponent);
    return;
  }
  if (exponent < 0) {
    AOut += "0.";
    AOut.append(static_cast<size_t>(-exponent - 1), '0');
    AOut += digits;
    return;
  }
  const size_t intDigits = static_cast<size_t>(exponent) + 1;
  if (digits.size() <= intDigits) {
    AOut += digits;
    AOut.append(intDigits - digits.size(), '0');
    AOut += ".0";
  } else {
    AOut.append(digits, 0, intDigits);
    AOut += '.';
    AOut.append(digits, intDigits);
  }
}

// A record component: two decimals when they read back as the same single, so that neither a
// grouping comma nor a lost digit can reach the GLSL; the float form otherwise.
void AppendComponent(std::string& AOut, float AValue) {
  if (!std::isfinite(AValue)) RaiseNotFinite();
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof(buf), static_cast<double>(AValue), std::chars_format::fixed, 2);
  if (r.ec == std::errc()) {
    float back = 0;
    const auto parsed = std::from_chars(buf, r.ptr, back);
    if (parsed.ec == std::errc() && back == AValue) {
      AOut.append(buf, r.ptr);
      return;
    }
  }
  AppendFloat(AOut, AValue);
}

void AppendComponents(std::string& AOut, const char* AConstructor, std::initializer_list<float> AValues) {
  AOut += AConstructor;
  AOut += '(';
  bool first = true;
  for (float v : AValues) {
    if (!first) AOut += ", ";
    first = false;
    AppendComponent(AOut, v);
  }
  AOut += ')';
}

bool AppendRecord(std::string& AOut, const TValue& AValue) {
  if (AValue.HoldsType<TPoint>()) {
    const auto p = AValue.AsType<TPoint>();
    AOut += "ivec2(";
    AppendInteger(AOut, p.X);
    AOut += ", ";
    AppendInteger(AOut, p.Y);
    AOut += ')';
  } else if (AValue.HoldsType<TPointF>()) {
    const auto p = AValue.AsType<TPointF>();
    AppendComponents(AOut, "vec2", {p.X, p.Y});
  } else if (AValue.HoldsType<TPoint3D>()) {
    const auto p = AValue.AsType<TPoint3D>();
    AppendComponents(AOut, "vec3", {p.X, p.Y, p.Z});
  } else if (AValue.HoldsType<TVector3D>()) {
    const auto v = AValue.AsType<TVector3D>();
    AppendComponents(AOut, "vec4", {v.X, v.Y, v.Z, v.W});
  } else if (AValue.HoldsType<TAlphaColorF>()) {
    const auto c = AValue.AsType<TAlphaColorF>();
    AppendComponents(AOut, "vec4", {c.R, c.G, c.B, c.A});
  } else if (AValue.HoldsType<TMatrix>()) {
    const auto m = AValue.AsType<TMatrix>();
    AppendComponents(AOut, "mat3", {m.m11, m.m12, m.m13, m.m21, m.m22, m.m23, m.m31, m.m32, m.m33});
  } else if (AValue.HoldsType<TMatrix3D>()) {
    const auto m = AValue.AsType<TMatrix3D>();
    AppendComponents(AOut, "mat4", {m.m11, m.m12, m.m13, m.m14, m.m21, m.m22, m.m23, m.m24, m.m31, m.m32, m.m33,
                                    m.m34, m.m41, m.m42, m.m43, m.m44});
  } else {
    return false;
  }
  return true;
}

void AppendValue(std::string& AOut, const TValue& AValue) {
  switch (AValue.Kind()) {
    case tkInteger:
    case tkInt64: AppendInteger(AOut, AValue.AsInt64()); return;
    case tkFloat: AppendFloat(AOut, AValue.AsExtended()); return;
    case tkEnumeration:
      if (!AValue.IsBoolean()) throw EAbort("invalid constant value type");
      AOut += AValue.AsBoolean() ? "true" : "false";
      return;
    case tkRecord:
      if (!AppendRecord(AOut, AValue)) throw EAbort("invalid constant value type");
      return;
    default:
      throw EAbort(Format("invalid constant value type \"%s\" [%d]", AValue.TypeName(), static_cast<int>(AValue.Kind())));
  }
}

void AppendMember(std::string& AOut, const TQuorvelNodeEntity* ANode, bool AWithValue) {
  const TQuorvelVariableNode& member = AsVariableNode(ANode);
  AOut += "  ";
  AppendVariableToGLSL(AOut, member.Definition, AWithValue ? member.GetConditionalValue() : TValue(), true,
                       AWithValue);
  AOut += ";\r\n";
}

template <class F>
void ForEachMember(const TQuorvelCompositeNode& AParent, F AAction) {
  for (const auto& node : AParent.GetNodes())
    if (node && node->ConditionsHold()) AAction(node.get());
}

}  // namespace

// --- text forms ------------------------------------------------------------------------------

std::string_view GLSLTypeName(TQuorvelShaderNodeVariableType AType, std::string_view ACustomTypeName) {
  switch (AType) {
    case stCustom: return ACustomTypeName;
    case stInt: return "int";
    case stFloat: return "float";
    case stBool: return "bool";
    case stBVec2: return "bvec2";
    case stBVec3: return "bvec3";
    case stBVec4: return "bvec4";
    case stIVec2: return "ivec2";
    case stIVec3: return "ivec3";
    case stIVec4: return "ivec4";
    case stUVec2: return "uvec2";
    case stUVec3: return "uvec3";
    case stUVec4: return "uvec4";
    case stVec2: return "vec2";
    case stVec3: return "vec3";
    case stVec4: return "vec4";
    case stMat33: return "mat3";
    case stMat44: return "mat4";
    case stSampler2D: return "sampler2D";
    case stSamplerCube: return "samplerCube";
    case stSampler3D: return "sampler3D";
    case stStruct: return "struct";
  }
  throw Exception("failed to serialize variable type - invalid variable type");
}

void AppendVariableToGLSL(std::string& AOut, const TQuorvelShaderNodeVariable& AVariable, const TValue& AValue,
                          bool AWithType, bool AWithValue) {
  if (AWithType) {
    AOut += GLSLTypeName(AVariable._Type, AVariable.TypeName);
    AOut += ' ';
  }
  AOut += AVariable.Name;
  if (AVariable.IsArray) {
    AOut += '[';
    AppendInteger(AOut, AVariable.ArrayCount);
    AOut += ']';
  } else if (AVariable._Type == stStruct) {
    AOut += "{}";
  }
  if (!AWithValue) return;
  const TValue& value = !AValue.IsEmpty() ? AValue : AVariable.Value;
  if (value.IsEmpty()) return;
  AOut += " = ";
  AppendValueToGLSL(AOut, value);
}

std::string VariableToGLSL(const TQuorvelShaderNodeVariable& AVariable, const TValue& AValue, bool AWithType,
                           bool AWithValue) {
  std::string out;
  AppendVariableToGLSL(out, AVariable, AValue, AWithType, AWithValue);
  return out;
}

void AppendValueToGLSL(std::string& AOut, const TValue& AValue) {
  try {
    AppendValue(AOut, AValue);
  } catch (const Exception& e) {
    throw Exception("failed to serialize constant value: " + e.Message());
  }
}

std::string ValueToGLSL(const TValue& AValue) {
  std::string out;
  AppendValueToGLSL(out, AValue);
  return out;
}

// --- nodes -----------------------------------------------------------------------------------

void TQuorvelGLSLPragma::AppendText(std::string& AOut) const { AOut += "#version 430\r\n\r\n\r\n"; }

TQuorvelGLSLVariable::TQuorvelGLSLVariable(TQuorvelNodeBuilder* ABuilder) : TQuorvelVariableNode(ABuilder) {
  Definition._Type = stInt;
}

TOwned<TQuorvelGLSLVariable> TQuorvelGLSLVariable::Build(TQuorvelNodeBuilder* ABuilder, std::string AName,
                                                         TQuorvelShaderNodeVariableType AType) {
  TOwned<TQuorvelGLSLVariable> node = MakeNode<TQuorvelGLSLVariable>(ABuilder);
  node->SetId(AName);
  node->Definition = TQuorvelShaderNodeVariable{};
  node->Definition.Name = std::move(AName);
  node->Definition._Type = AType;
  return node;
}

void TQuorvelGLSLVariable::AppendText(std::string& AOut) const {
  AppendVariableToGLSL(AOut, Definition, GetConditionalValue(), true, true);
}

TOwned<TQuorvelGLSLConstantValue> TQuorvelGLSLConstantValue::Build(TQuorvelNodeBuilder* ABuilder, std::string AName,
                                                                   const TValue& AValue) {
  TOwned<TQuorvelGLSLConstantValue> node = MakeNode<TQuorvelGLSLConstantValue>(ABuilder);
  node->SetId(std::move(AName));
  node->Value = AValue;
  return node;
}

void TQuorvelGLSLConstantValue::AppendText(std::string& AOut) const { AppendValueToGLSL(AOut, Value); }

void TQuorvelGLSLLayoutLocation::AppendText(std::string& AOut) const {
  if (!Variable) throw Exception("layout location, missing variable declaration");
  const char* direction;
  switch (Kind) {
    case TQuorvelGLSLLayoutKind::LayoutOutput: direction = "out "; break;
    case TQuorvelGLSLLayoutKind::LayoutInput: direction = "in "; break;
    default: throw Exception("invalid kind of layout location");
  }
  if (IsLayout) {
    AOut += "layout (location = ";
    AppendInteger(AOut, Index);
    AOut += ") ";
  }
  AOut += direction;
  Variable->AppendText(AOut);
  AOut += ";\r\n\r\n";
}

void TQuorvelGLSLStructType::AppendText(std::string& AOut) const {
  AOut += "struct ";
  AOut += GetId();
  AOut += "{\r\n";
  ForEachMember(*this, [&](const TQuorvelNodeEntity* n) { AppendMember(AOut, n, false); });
  AOut += "};\r\n\r\n";
}

TQuorvelGLSLLightType::TQuorvelGLSLLightType(TQuorvelNodeBuilder* ABuilder) : TQuorvelGLSLStructType(ABuilder) {
  SetId("Light");
  AddDeclaration("_LightType", stInt);
  for (const char* name : {"_Position", "_Direction", "_Ambient", "_Diffuse", "_Specular", "_Scattering"})
    AddDeclaration(name, stVec4);
  for (const char* name : {"_SpotCutOff", "_SpotCosCutoff", "_SpotExponent", "_ConstantAttenuation",
                           "_LinearAttenuation", "_QuadraticAttenuation", "_Intensity"})
    AddDeclaration(name, stFloat);
  AddDeclaration("_Enabled", stInt);
}

TQuorvelGLSLTextureType::TQuorvelGLSLTextureType(TQuorvelNodeBuilder* ABuilder) : TQuorvelGLSLStructType(ABuilder) {
  SetId("Texture");
  AddDeclaration("_Feature", stVec4);
  AddDeclaration("_Tiling", stVec2);
}

TQuorvelGLSLMaterialType::TQuorvelGLSLMaterialType(TQuorvelNodeBuilder* ABuilder)
    : TQuorvelGLSLStructType(ABuilder) {
  SetId("Material");
  for (const char* name : {"_Emissive", "_Ambient", "_Diffuse", "_Specular", "_Clipping"}) AddDeclaration(name, stVec4);
  AddDeclaration("_AlphaCutoff", stVec2);
  AddDeclaration("_ToneMapExp", stFloat);
  AddDeclaration("_Displacement", stVec4);
  AddDeclaration("_Features", stVec4);
  AddDeclaration("_Shininess", stFloat);
  AddDeclaration("_Textures", stInt);
  AddDeclaration("_PoolTexturesOffset", stInt);
  AddDeclaration("_PoolTextures", stInt);
  AddDeclaration("_Texture", stCustom, "Texture", true, 16, TValue());
}

TQuorvelGLSLPassDataType::TQuorvelGLSLPassDataType(TQuorvelNodeBuilder* ABuilder)
    : TQuorvelGLSLStructType(ABuilder) {
  SetId("PassData");
  AddDeclaration("_ShadowMapMatrix", stMat44, "", true, 8, TValue());
  AddDeclaration("_ReflectTextureMatrix", stMat44);
  AddDeclaration("_RefractTextureMatrix", stMat44);
  for (const char* name : {"_ReflectionPower", "_RefractionPower", "_TranslucentDistance", "_NormalIntensity"})
    AddDeclaration(name, stFloat);
  AddDeclaration("_ParallaxLevels", stInt);
  for (const char* name : {"_PBRMetallic", "_PBRRoughness", "_PBRAO"}) AddDeclaration(name, stFloat);
}

TQuorvelGLSLUBO::TQuorvelGLSLUBO(TQuorvelNodeBuilder* ABuilder, uintptr_t AReferenceID)
    : TQuorvelDeclarationNode(ABuilder), FBinding(0) {
  SetReferenceID(AReferenceID);
  FBinding = ABuilder->IncNumberOfUBOs();
}

void TQuorvelGLSLUBO::AppendText(std::string& AOut) const {
  AOut += "layout (binding=";
  AppendInteger(AOut, FBinding);
  AOut += ", std140) uniform ";
  AOut += GetId();
  AOut += "{\r\n";
  ForEachMember(*this, [&](const TQuorvelNodeEntity* n) { AppendMember(AOut, n, true); });
  AOut += "};\r\n\r\n";
}

TQuorvelGLSLUBOShaderData::TQuorvelGLSLUBOShaderData(TQuorvelNodeBuilder* ABuilder, uintptr_t AReferenceID)
    : TQuorvelGLSLUBO(ABuilder, AReferenceID) {
  SetId("ShaderData");
  for (const char* name : {"_ModelViewProjectionMatrix", "_ViewMatrix", "_ProjectionMatrix"})
    AddDeclaration(name, stMat44);
  AddDeclaration("_TimeInfo", stVec4);
  AddDeclaration("_EyePos", stVec4);
  AddDeclaration("_ViewDir", stVec3);
  AddDeclaration("_ShadingModel", stInt);
  AddDeclaration("_Material", stCustom, "Material", true, 1, TValue());
  AddDeclaration("_Lights", stCustom, "Light", true, 32, TValue());
  AddDeclaration("_LightsCount", stInt);
  AddDeclaration("_Options", stInt);
  AddDeclaration("_ShadingIntensity", stFloat);
  AddDeclaration("_Brightness", stFloat);
  AddDeclaration("_FogMode", stInt);
  for (const char* name : {"_FogDensity", "_FogStart", "_FogEnd"}) AddDeclaration(name, stFloat);
  for (const char* name : {"_FogColor", "_FrustumMin", "_FrustumMax", "_SceneMin", "_SceneMax", "_BoundaryMin",
                           "_BoundaryMax", "_ViewSize", "_ClippingPlane"})
    AddDeclaration(name, stVec4);
  AddDeclaration("_PassData", stCustom, "PassData", true, 1, TValue());
}

void TQuorvelGLSLLocalsNode::AppendText(std::string& AOut) const {
  if (!Struct) {
    ForEachMember(*this, [&](const TQuorvelNodeEntity* n) { AppendMember(AOut, n, true); });
    return;
  }
  ForEachMember(*Struct, [&](const TQuorvelNodeEntity* n) {
    const TQuorvelVariableNode& member = AsVariableNode(n);
    const TValue conditional = member.GetConditionalValue();
    if (conditional.IsEmpty() && member.Definition.Value.IsEmpty()) return;
    AOut += "  LOCALS.";
    AppendVariableToGLSL(AOut, member.Definition, conditional, false, true);
    AOut += ";\r\n";
  });
}

TQuorvelGLSLAttributesNode::TQuorvelGLSLAttributesNode(TQuorvelNodeBuilder* ABuilder)
    : TQuorvelDeclarationNode(ABuilder) {
  AddDeclaration("a_Position", stVec3);
  AddDeclaration("a_Normal", stVec3);
  for (const char* name : {"a_Color", "a_Color1", "a_Color2", "a_Color3"}) AddDeclaration(name, stVec4);
  for (const char* name : {"a_TexCoord0", "a_TexCoord1", "a_TexCoord2", "a_TexCoord3"}) AddDeclaration(name, stVec2);
  AddDeclaration("a_Binormal", stVec3);
  AddDeclaration("a_Tangent", stVec3);
  AddDeclaration("a_ModelMatrix", stMat44);
}

void TQuorvelGLSLAttributesNode::AppendText(std::string& AOut) const {
  const char* qualifier = IsDefined("INOUTVARS") ? "in " : "attribute ";
  ForEachMember(*this, [&](const TQuorvelNodeEntity* n) {
    const TQuorvelVariableNode& member = AsVariableNode(n);
    AOut += qualifier;
    AppendVariableToGLSL(AOut, member.Definition, member.GetConditionalValue(), true, true);
    AOut += ";\r\n";
  });
  AOut += "\r\n";
}

TQuorvelGLSLInOutNode::TQuorvelGLSLInOutNode(TQuorvelNodeBuilder* ABuilder, TQuorvelGLSLInOutMode AMode)
    : TQuorvelGLSLStructType(ABuilder), Mode(AMode) {
  struct TVarying {
    const char* Name;
    TQuorvelShaderNodeVariableType Type;
    std::initializer_list<const char*> Defines;
    const char* NotDefine;
  };
  const TVarying varyings[] = {
      {"v_VertPos", stVec4, {}, nullptr},
      {"v_TransfVertPos", stVec3, {}, nullptr},
      {"v_WorldViewProjVertPos", stVec4, {}, nullptr},
      {"v_TexCoord0", stVec2, {}, nullptr},
      {"v_TexCoord1", stVec2, {"USE_TEXCOORD1"}, nullptr},
      {"v_TexCoord2", stVec2, {"USE_TEXCOORD2"}, nullptr},
      {"v_TexCoord3", stVec2, {"USE_TEXCOORD3", "VARYING_STRUCTS"}, nullptr},
      {"v_Color0", stVec4, {}, nullptr},
      {"v_TBN", stMat33, {}, nullptr},
      {"v_TBN_UT", stMat33, {}, nullptr},
      {"v_ModelMatrix", stMat44, {}, nullptr},
      {"v_ReflProjTextureCoords", stVec4, {"REFLECTION"}, nullptr},
      {"v_ClipDistance", stFloat, {"CLIPPINGPLANE"}, nullptr},
      {"v_Displace", stVec4, {"DISPLACEMENT", "DISPLACE_VAR", "VARYING_STRUCTS"}, nullptr},
      {"v_ViewDir", stVec3, {}, "VARYING_STRUCTS"},
      {"v_ParticleSettings", stVec4, {"USE_POINTSPRITE", "VARYING_STRUCTS"}, nullptr},
      {"v_ParticleTimeInfo", stVec4, {"USE_POINTSPRITE", "VARYING_STRUCTS"}, nullptr},
  };
  for (const TVarying& v : varyings) {
    TQuorvelVariableNode* node = AddDeclaration(v.Name, v.Type);
    for (const char* d : v.Defines) node->AddDefine(d);
    if (v.NotDefine) node->AddNotDefine(v.NotDefine);
  }
}

void TQuorvelGLSLInOutNode::AppendText(std::string& AOut) const {
  const char* qualifier = "varying ";
  if (IsDefined("INOUTVARS")) {
    switch (Mode) {
      case TQuorvelGLSLInOutMode::VaryingIn: qualifier = "in "; break;
      case TQuorvelGLSLInOutMode::VaryingOut: qualifier = "out "; break;
      default: throw Exception("invalid output/input indicator");
    }
  }
  if (IsDefined("VARYING_STRUCTS")) {
    AOut += "struct TVaryingStruct{\r\n";
    ForEachMember(*this, [&](const TQuorvelNodeEntity* n) { AppendMember(AOut, n, true); });
    AOut += "};\r\n";
    AOut += qualifier;
    AOut += "TVaryingStruct vars;\r\n";
    return;
  }
  ForEachMember(*this, [&](const TQuorvelNodeEntity* n) {
    const TQuorvelVariableNode& member = AsVariableNode(n);
    AOut += qualifier;
    AppendVariableToGLSL(AOut, member.Definition, member.GetConditionalValue(), true, true);
    AOut += ";\r\n";
  });
}

void TQuorvelGLSLMainNode::AppendText(std::string& AOut) const {
  AOut += "void main(){\r\n  TLocals LOCALS;\r\n";
  TQuorvelEntryPointNode::AppendText(AOut);
  AOut += "}\r\n";
}

}  // namespace quorvel
