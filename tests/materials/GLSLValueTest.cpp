#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>

#include "framework/math/AlphaColor.h"
#include "framework/math/Matrix3D.h"
#include "framework/math/Point.h"
#include "framework/math/Point3D.h"
#include "framework/math/Rect.h"
#include "framework/rtl/Finally.h"
#include "lib/materials/MaterialDefaultGLSLDeclarations.h"
#include "tests/materials/NodeTestSupport.h"

using namespace quorvel;
using namespace quorvel::node_test;

namespace {

using enum TQuorvelShaderNodeVariableType;

struct TVariableCase {
  TQuorvelShaderNodeVariable Variable;
  TValue Value;
  bool WithType;
  bool WithValue;
  const char* Expected;
};

TQuorvelShaderNodeVariable Var(const char* AName, TQuorvelShaderNodeVariableType AType, TValue AValue = {},
                               const char* ATypeName = "", bool AIsArray = false, int32_t ACount = 0) {
  return {AName, AType, ATypeName, AValue, AIsArray, ACount};
}

const TVariableCase VariableCases[] = {
    {Var("_Material", stCustom, {}, "Material", true, 1), {}, true, true, "Material _Material[1]"},
    {Var("i", stInt, TValue(int32_t(0))), {}, true, true, "int i = 0"},
    {Var("i", stInt, TValue(int32_t(0))), TValue(2.5), false, true, "i = 2.5"},
    {Var("i", stInt, TValue(int32_t(0))), {}, true, false, "int i"},
    {Var("o_Albedo", stVec4), {}, true, true, "vec4 o_Albedo"},
    {Var("s", stStruct), {}, true, true, "struct s{}"},
    {Var("m", stMat44, {}, "", true, 8), {}, true, true, "mat4 m[8]"},
    {Var("t", stSamplerCube), {}, true, true, "samplerCube t"},
    {Var("u", stUVec3), {}, true, true, "uvec3 u"},
    {Var("b", stBool, TValue(true)), {}, true, true, "bool b = true"},
};

TEST(GLSLText, VariableDeclarations) {
  for (const TVariableCase& c : VariableCases)
    EXPECT_EQ(VariableToGLSL(c.Variable, c.Value, c.WithType, c.WithValue), c.Expected);
  EXPECT_EQ(GLSLTypeName(stSampler3D, ""), "sampler3D");
  const auto bad = Var("x", static_cast<TQuorvelShaderNodeVariableType>(22));
  EXPECT_EQ(MessageOf([&] { VariableToGLSL(bad, {}, true, false); }),
            "failed to serialize variable type - invalid variable type");
  // Without the type the kind is never looked at.
  EXPECT_EQ(VariableToGLSL(bad, {}, false, false), "x");
}

struct TValueCase {
  TValue Value;
  const char* Expected;
};

TMatrix3D CountingMatrix() {
  TMatrix3D m;
  float* f = &m.m11;
  for (int i = 0; i < 16; ++i) f[i] = static_cast<float>(i) * 0.5f;
  return m;
}

const TValueCase ValueCases[] = {
    {TValue(int32_t(3)), "3"},
    {TValue(int32_t(-3)), "-3"},
    {TValue(int64_t(7)), "7"},
    {TValue(uint32_t(4000000000u)), "4000000000"},
    {TValue(3.0), "3.0"},
    {TValue(0.5), "0.5"},
    {TValue(-0.25), "-0.25"},
    {TValue(0.0), "0.0"},
    {TValue(2.5), "2.5"},
    {TValue(1234.5), "1234.5"},
    {TValue(0.1f), "0.100000001490116"},  // a single prints the digits of its double
    {TValue(0.1), "0.1"},
    {TValue(0.0001), "0.0001"},
    {TValue(1e14), "100000000000000.0"},
    // The exponent form keeps a point in the mantissa.
    {TValue(1e-5), "1.0E-5"},
    {TValue(-2.5e-7), "-2.5E-7"},
    {TValue(1e15), "1.0E15"},
    {TValue(1.25e20), "1.25E20"},
    {TValue(true), "true"},
    {TValue(false), "false"},
    {TValue(TPoint(2, -3)), "ivec2(2, -3)"},
    {TValue(TPointF(0.5f, 1)), "vec2(0.50, 1.00)"},
    {TValue(TPoint3D(1, 0.5f, 0)), "vec3(1.00, 0.50, 0.00)"},
    // No thousands grouping (it would split the arguments) and no lost digits.
    {TValue(TPoint3D(1234.5f, -1234567.0f, 0.25f)), "vec3(1234.50, -1234567.00, 0.25)"},
    {TValue(TPoint3D(0.004f, 0.1f, 0.125f)), "vec3(0.00400000018998981, 0.10, 0.125)"},
    {TValue(TVector3D(1, 2, 3, 1)), "vec4(1.00, 2.00, 3.00, 1.00)"},
    {TValue(TAlphaColorF(0.25f, 0.5f, 0.75f, 1)), "vec4(0.25, 0.50, 0.75, 1.00)"},
    {TValue(TMatrix::Identity()), "mat3(1.00, 0.00, 0.00, 0.00, 1.00, 0.00, 0.00, 0.00, 1.00)"},
    {TValue(CountingMatrix()),
     "mat4(0.00, 0.50, 1.00, 1.50, 2.00, 2.50, 3.00, 3.50, 4.00, 4.50, 5.00, 5.50, 6.00, 6.50, 7.00, 7.50)"},
};

void ExpectValueCases() {
  for (const TValueCase& c : ValueCases) EXPECT_EQ(ValueToGLSL(c.Value), c.Expected) << c.Value.ToString();
}

TEST(GLSLText, Constants) { ExpectValueCases(); }

TEST(GLSLText, ConstantsIgnoreTheProcessLocale) {
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  auto restore = Finally([&] { std::setlocale(LC_ALL, saved.c_str()); });
  if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "no German locale installed";
  ExpectValueCases();
}

TEST(GLSLText, ConstantErrorsAreWrapped) {
  struct TCase {
    TValue Value;
    std::string Inner;
  };
  const TValue text(std::string("abc"));
  const TCase cases[] = {
      {text, "invalid constant value type \"" + text.TypeName() + "\" [" + std::to_string(int(tkString)) + "]"},
      {TValue(), "invalid constant value type \"\" [0]"},
      {TValue(TRectF()), "invalid constant value type"},
      {TValue(TQuorvelGLSLLayoutKind::LayoutOutput), "invalid constant value type"},
      {TValue(std::numeric_limits<double>::quiet_NaN()), "invalid constant value: not a finite number"},
      {TValue(TPoint3D(0, std::numeric_limits<float>::infinity(), 0)), "invalid constant value: not a finite number"},
  };
  for (const TCase& c : cases) {
    try {
      ValueToGLSL(c.Value);
      ADD_FAILURE() << "no error for " << c.Inner;
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), "failed to serialize constant value: " + c.Inner);
      EXPECT_STREQ(e.ClassName(), "Exception");
    }
  }
}

}  // namespace
