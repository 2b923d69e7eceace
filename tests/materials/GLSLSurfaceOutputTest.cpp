// The surface and output snippets: sampler declarations, and the fog, tone-mapping and bump
// functions evaluated on llvmpipe against the formulas computed here.
#include <epoxy/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "framework/rtl/Finally.h"
#include "lib/materials/MaterialDefaultGLSL.h"
#include "lib/materials/MaterialDefaultShaderData.h"
#include "tests/context/ShaderTestSupport.h"
#include "tests/materials/FloatRowTarget.h"
#include "tests/materials/PointLightExpect.h"

using namespace quorvel;
using namespace quorvel::shader_test;

namespace {

// Every piece occurs, each after the end of the one before it.
void ExpectInOrder(const std::string& AText, const std::vector<std::string>& APieces, const std::string& ACase) {
  size_t at = 0;
  for (const std::string& piece : APieces) {
    const size_t found = AText.find(piece, at);
    if (found == std::string::npos) {
      ADD_FAILURE() << ACase << ": missing or out of order:\n" << piece << "\n--- in ---\n" << AText;
      return;
    }
    at = found + piece.size();
  }
}

void ExpectAbsent(const std::string& AText, const std::vector<std::string>& APieces, const std::string& ACase) {
  for (const std::string& piece : APieces)
    EXPECT_EQ(AText.find(piece), std::string::npos) << ACase << ": unexpected\n" << piece;
}

TEST(GLSLSurface, SamplerDeclarationFollowsKindAndSign) {
  using enum TQuorvelTextureKind;
  struct TCase {
    TQuorvelTextureKind Kind;
    bool Unsigned;
    const char* Text;
  };
  const TCase cases[] = {
      {Texture2D, false, "uniform sampler2D _Texture0;\r\n"},
      {Texture2D, true, "uniform sampler2D _Texture0;\r\n"},
      {Texture3D, false, "uniform sampler3D _Texture0;\r\n"},
      {Texture3D, true, "uniform usampler3D _Texture0;\r\n"},
      {CubeMap, false, "uniform samplerCube _Texture0;\r\n"},
      // The image kinds end without a line break.
      {ImageTexture3D, false, "layout(rgba8) uniform image3D _Texture0;"},
      {ImageTexture3D, true, "layout(rgba8) uniform uimage3D _Texture0;"},
      {Array2D, false, "uniform sampler2DArray _Texture0;\r\n"},
  };
  TOwned<TQuorvelGLSLFragmentShader> b(New<TQuorvelGLSLFragmentShader>(nullptr));
  for (const TCase& c : cases) {
    TOwned<TQuorvelGLSLTextureUniformNode> node = MakeNode<TQuorvelGLSLTextureUniformNode>(b.get());
    EXPECT_EQ(node->GetId(), "Texture0");
    node->SetTextureKind(c.Kind);
    node->SetIsUnsigned(c.Unsigned);
    EXPECT_EQ(node->ToString(), c.Text) << static_cast<int>(c.Kind) << " " << c.Unsigned;
  }
}

// Pieces of the fragment main, by defines: what must appear in order and what must not.
TEST(GLSLSurface, FragmentPiecesFollowTheirDefines) {
  struct TCase {
    const char* Name;
    std::vector<const char*> Defines;
    std::vector<std::string> InOrder;
    std::vector<std::string> Absent;
  };
  const TCase cases[] = {
      {"unlit material colour",
       {},
       {"  LOCALS.Emissive = (_Material[0]._Emissive.rgb * _Material[0]._Emissive.a);\r\n",
        "  LOCALS.Normal = vars.v_TBN[2];\r\n", "  LOCALS.BaseColor = _Material[0]._Diffuse;\r\n",
        "  LOCALS.SumColor = LOCALS.SumColor * LOCALS.BaseColor.rgb;\r\n", "  LOCALS.SumColor *= _Brightness;\r\n",
        "  o_Albedo = vec4(LOCALS.SumColor, LOCALS.Alpha);\r\n", "computeFog(_FogMode",
        "    o_Alpha = 1.0;\r\n"},
       {"tex2D(", "toneMap(", "ShadowSum", "discard;\r\n  }\r\n  LOCALS"}},
      // The lit alpha takes the vertex alpha twice, the unlit one once.
      {"lit texture and vertex colour",
       {"LIGHTING", "USE_TEXTURE", "USE_TEXTURE0", "USE_VERTEXCOLOR"},
       {"  vec2 l_Tiling0 = _Material[0]._Texture[0]._Tiling;\r\n",
        "  LOCALS.BaseColor = tex2D(_Texture0, LOCALS.TexCoord0) * vars.v_Color0;\r\n"
        "  LOCALS.Alpha = LOCALS.BaseColor.a * vars.v_Color0.a;\r\n"},
       {}},
      {"unlit texture and vertex colour",
       {"USE_TEXTURE", "USE_TEXTURE0", "USE_VERTEXCOLOR"},
       {"  LOCALS.BaseColor = tex2D(_Texture0, LOCALS.TexCoord0) * vars.v_Color0;\r\n"
        "  LOCALS.Alpha = LOCALS.BaseColor.a;\r\n"},
       {}},
      {"bump replaces the plain normal",
       {"LIGHTING", "NORMALMAP", "BUMP", "USE_TEXTURE", "USE_TEXTURE0"},
       {"  LOCALS.Normal = CalcBumpedNormal(vars.v_TBN, _PassData[0]._NormalIntensity, _NormalMapTexture, "
        "LOCALS.TexCoord0);\r\n",
        "  LOCALS.BaseColor = BumpSum(_Texture0, LOCALS.TexCoord0, LOCALS.Normal);\r\n"},
       {"  LOCALS.Normal = vars.v_TBN[2];\r\n"}},
      {"tone map without physical shading",
       {"LIGHTING", "TONEMAP_FILMIC"},
       {"  LOCALS.SumColor += LOCALS.Emissive;\r\n",
        "  LOCALS.SumColor = toneMap(LOCALS.SumColor, _Material[0]._ToneMapExp);\r\n",
        "  LOCALS.SumColor *= _Brightness;\r\n"},
       {}},
      // Averaged before the clamp: two lit lights add 2.0 and one shadowed light 1.5, which
      // the clamp alone turned into no shadow at all.
      {"shadow factor averaged over the lights",
       {"LIGHTING", "SHADOW", "SHADOWMAPPING"},
       {"  LOCALS.SumColor += LOCALS.Emissive;\r\n"
        "  LOCALS.ShadowSum = LOCALS.ShadowSum / float(max(1, _LightsCount));\r\n"
        "  LOCALS.ShadowSum = clamp(LOCALS.ShadowSum, 0.0, 1.0);\r\n"
        "  LOCALS.SumColor *= LOCALS.ShadowSum;\r\n"},
       {}},
      {"physically based merge tone-maps once",
       {"LIGHTING", "PBR", "TONEMAP_EXPOSURE"},
       {"  vec3 l_Albedo = LOCALS.BaseColor.rgb;\r\n", "  float l_GrayScaleFlt",
        "    LOCALS.Diffuse += l_LightRad * BRDF_lambertian(",
        "  LOCALS.SumColor = toneMap(LOCALS.SumColor, _Material[0]._ToneMapExp);\r\n"
        "  LOCALS.SumColor *= l_LightIntensity;\r\n",
        "  LOCALS.SumColor *= _Brightness;\r\n"},
       {"linearTosRGB(LOCALS.SumColor)"}},
      {"deferred writes the extra outputs",
       {"LIGHTING", "DEFERRED"},
       {"  o_Ambient = _Material[0]._Ambient.rgb;\r\n",
        "  o_Components = vec4(vars.v_TexCoord0.x, vars.v_TexCoord0.y, 1.0, 1.0);\r\n"},
       {}},
      {"deprecated writes the legacy output",
       {"DEPRECATED"},
       {"  gl_FragColor = vec4(LOCALS.SumColor, LOCALS.Alpha);\r\n", "  gl_FragColor = mix(gl_FragColor, _FogColor"},
       {"o_Albedo", "c_IsTranslucent"}},
  };
  for (const TCase& c : cases) {
    TOwned<TQuorvelGLSLFragmentShader> b(New<TQuorvelGLSLFragmentShader>(nullptr));
    for (const char* d : c.Defines) b->AddDefine(d);
    const std::string text = b->ToString();
    ExpectInOrder(text, c.InOrder, c.Name);
    ExpectAbsent(text, c.Absent, c.Name);
  }
}

// --- functions evaluated on GL ---------------------------------------------------------------

const char* const kSurfaceFullScreenVS =
    "#version 430\n"
    "void main(){\n"
    "  gl_Position = vec4(float(gl_VertexID & 1) * 4.0 - 1.0, float(gl_VertexID >> 1) * 4.0 - 1.0, 0.0, 1.0);\n"
    "}\n";

class SurfaceFunctions : public GLSuite {
protected:
  // The builder's function section followed by AMain, which reads two vec4 inputs per case
  // (u_In[2 * case], u_In[2 * case + 1]) for case int(gl_FragCoord.x) and writes o_Albedo.
  static std::string Shader(const TQuorvelGLSLFragmentShader& ABuilder, size_t ACases, const std::string& AMain) {
    std::string text = ABuilder.ToString();
    text.erase(text.find("void main(){"));
    text += "uniform vec4 u_In[" + std::to_string(2 * ACases) + "];\r\nvoid main(){\r\n  int b = int(gl_FragCoord.x) * 2;\r\n";
    text += AMain;
    text += "}\r\n";
    return text;
  }

  // Draws one pixel per case into a float target and reads the results back.
  std::vector<std::array<float, 4>> Evaluate(const std::string& AFragment, const std::vector<float>& AIn) {
    std::unique_ptr<TCompiledShader> vs = VertexShader(kSurfaceFullScreenVS);
    std::unique_ptr<TCompiledShader> ps = PixelShader(AFragment);
    TOwned<TShaderProgram> program = Link(vs->Get(), ps->Get());
    const auto prog = static_cast<GLuint>(program->GetProg());
    return DrawFloatRow(prog, static_cast<GLsizei>(AIn.size() / 8), AIn);
  }
};

TEST_F(SurfaceFunctions, FogKeepsTheFractionItsModeGives) {
  struct TCase {
    int Mode;
    float Density;
    float Distance;
    double Kept;
  };
  // Start 100 and end 500 throughout, the block's initial values.
  const TCase cases[] = {
      {3, 0.01f, 300, 0.5},                  // linear, halfway
      {3, 0.01f, 50, 1.0},                   // nearer than the start
      {3, 0.01f, 600, 0.0},                  // beyond the end
      {0, 0.01f, 300, 1.0},                  // off
      {2, 0.01f, 300, 1.0},                  // an even mode is off too
      {6, 0.01f, 300, 1.0},
      {1, 0.001f, 1000, std::exp(-1.0)},     // the flag alone is exp2
      {5, 0.001f, 1000, std::exp(-1.0)},     // exp
      {9, 0.002f, 300, std::exp(-0.36)},     // exp2
      {7, 0.01f, 300, 0.5},                  // linear wins over exp
  };
  std::vector<float> in;
  for (const TCase& c : cases) {
    const float v[8] = {static_cast<float>(c.Mode), 100, 500, c.Density, 0, 0, c.Distance, 0};
    in.insert(in.end(), v, v + 8);
  }
  TOwned<TQuorvelGLSLFragmentShader> b(New<TQuorvelGLSLFragmentShader>(nullptr));
  const auto out = Evaluate(Shader(*b, std::size(cases),
                                   "  o_Albedo = vec4(computeFog(int(u_In[b].x), u_In[b].y, u_In[b].z, u_In[b].w, "
                                   "u_In[b + 1].xyz, vec3(0.0)));\r\n"),
                            in);
  ASSERT_EQ(out.size(), std::size(cases));
  for (size_t i = 0; i < out.size(); ++i)
    EXPECT_NEAR(out[i][0], cases[i].Kept, 1e-4) << "mode " << cases[i].Mode << " at " << cases[i].Distance;
}

double Gamma(double AValue) { return std::pow(AValue, 1.0 / 2.2); }

TEST_F(SurfaceFunctions, ToneMapsComputeTheirOperators) {
  struct TCase {
    std::vector<const char*> Defines;
    double (*Expected)(double AColor, double AExposure);
  };
  const TCase cases[] = {
      {{"TONEMAP_EXPOSURE"}, [](double c, double e) { return c * e; }},
      {{"TONEMAP_EXPOSURE", "PBR"}, [](double c, double e) { return Gamma(c * e); }},
      {{"TONEMAP_ACES_NARKOWICZ"},
       [](double c, double e) {
         c *= e;
         return std::clamp((c * (2.51 * c + 0.03)) / (c * (2.43 * c + 0.59) + 0.14), 0.0, 1.0);
       }},
      // Reinhard is tested before filmic, so it wins.
      {{"TONEMAP_REINHARD", "TONEMAP_FILMIC"},
       [](double c, double e) {
         const double x = e * 1.5;
         return Gamma(c * x / (1.0 + c / x));
       }},
      {{"TONEMAP_FILMIC"},
       [](double c, double e) {
         c = std::max(0.0, c * e - 0.004);
         return (c * (6.2 * c + 0.5)) / (c * (6.2 * c + 1.7) + 0.06);
       }},
      {{"TONEMAP_ROMBINDAHOUSE"}, [](double c, double e) { return Gamma(std::exp(-1.0 / (2.72 * c * e + 0.15))); }},
      {{"TONEMAP_UNCHARTED2"},
       [](double c, double e) {
         auto f = [](double x) {
           return ((x * (0.15 * x + 0.10 * 0.50) + 0.20 * 0.02) / (x * (0.15 * x + 0.50) + 0.20 * 0.30)) - 0.02 / 0.30;
         };
         return Gamma(f(c * 2.0 * e) / f(11.2));
       }},
  };
  const std::array<float, 2> inputs[] = {{0.25f, 1.0f}, {0.5f, 1.0f}, {0.8f, 2.0f}, {2.0f, 0.5f}};
  std::vector<float> in;
  for (const auto& [color, exposure] : inputs) {
    const float v[8] = {color, color, color, exposure, 0, 0, 0, 0};
    in.insert(in.end(), v, v + 8);
  }
  for (const TCase& c : cases) {
    TOwned<TQuorvelGLSLFragmentShader> b(New<TQuorvelGLSLFragmentShader>(nullptr));
    for (const char* d : c.Defines) b->AddDefine(d);
    const auto out =
        Evaluate(Shader(*b, std::size(inputs), "  o_Albedo = vec4(toneMap(u_In[b].rgb, u_In[b].w), 1.0);\r\n"), in);
    if (HasFailure()) return;
    for (size_t i = 0; i < std::size(inputs); ++i)
      EXPECT_NEAR(out[i][0], c.Expected(inputs[i][0], inputs[i][1]), 2e-4) << c.Defines[0] << ", input " << i;
  }
}

TEST_F(SurfaceFunctions, BumpedNormalFromMapOrFromTheFrameWhenTheMapIsBlack) {
  // Two 1x1 maps: black (no normal map) and the flat normal (0.5, 0.5, 1.0).
  GLuint textures[2] = {};
  glGenTextures(2, textures);
  auto cleanup = Finally([&] {
    glActiveTexture(GL_TEXTURE1);
    glBindTexture(GL_TEXTURE_2D, 0);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, 0);
    glDeleteTextures(2, textures);
  });
  const uint8_t texels[2][4] = {{0, 0, 0, 255}, {128, 128, 255, 255}};
  for (int i = 0; i < 2; ++i) {
    glActiveTexture(GL_TEXTURE0 + i);
    glBindTexture(GL_TEXTURE_2D, textures[i]);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels[i]);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  }
  glActiveTexture(GL_TEXTURE0);
  TOwned<TQuorvelGLSLFragmentShader> b(New<TQuorvelGLSLFragmentShader>(nullptr));
  b->AddDefine("BUMP");
  std::string text = Shader(*b, 2,
                            "  mat3 l_TBN = mat3(vec3(1.0, 0.0, 0.0), vec3(0.0, 1.0, 0.0), vec3(0.0, 0.0, 1.0));\r\n"
                            "  vec3 n = (b == 0) ? CalcBumpedNormal(l_TBN, 2.0, u_Black, vec2(0.5))\r\n"
                            "                    : CalcBumpedNormal(l_TBN, 2.0, u_Flat, vec2(0.5));\r\n"
                            "  o_Albedo = vec4(n, 1.0);\r\n");
  text.insert(text.find("uniform vec4 u_In"),
              "layout(binding = 0) uniform sampler2D u_Black;\r\nlayout(binding = 1) uniform sampler2D u_Flat;\r\n");
  const auto out = Evaluate(text, std::vector<float>(16, 0.0f));
  ASSERT_EQ(out.size(), 2u);
  // Black: the frame's own normal unpacked, b scaled by the intensity: (-1, -1, 2) normalised.
  const double k = 1.0 / std::sqrt(6.0);
  EXPECT_NEAR(out[0][0], -k, 1e-4);
  EXPECT_NEAR(out[0][1], -k, 1e-4);
  EXPECT_NEAR(out[0][2], 2 * k, 1e-4);
  // The flat texel points along b, which the matrix (normal, binormal, tangent) sends along
  // the tangent.
  EXPECT_NEAR(out[1][0], 1.0, 2e-2);
  EXPECT_NEAR(out[1][1], 0.0, 2e-2);
  EXPECT_NEAR(out[1][2], 0.0, 2e-2);
}

// --- both generated stages drawing a quad ----------------------------------------------------

// The quad covers the target; with identity matrices its world position equals the clip
// position, so pixel (i, j) of an N x N target lies at ((2i + 1) / N - 1, (2j + 1) / N - 1, 0).
constexpr int QuadSize = 8;

struct TPixel {
  float R, G, B, A;
};

class GeneratedQuad : public GLSuite {
protected:
  // Both stages with ADefines; Texture0 declared where asked. AData goes to binding 0; ATexels
  // (2 x 2 RGBA) to unit 0 where given.
  std::vector<TPixel> Draw(std::initializer_list<const char*> ADefines, const TQuorvelShaderData& AData,
                           const uint8_t* ATexels = nullptr) {
    TOwned<TQuorvelGLSLVertexShader> vertex(New<TQuorvelGLSLVertexShader>(nullptr));
    TOwned<TQuorvelGLSLFragmentShader> fragment(New<TQuorvelGLSLFragmentShader>(nullptr));
    for (TQuorvelNodeBuilder* b : {static_cast<TQuorvelNodeBuilder*>(vertex.get()),
                                   static_cast<TQuorvelNodeBuilder*>(fragment.get())}) {
      for (const char* d : ADefines) b->AddDefine(d);
      // Both read unit 0.
      for (const char* sampler : {"Texture0", "ShadowMapTexture0"})
        b->GetGlobals()->GetUniforms()->GetTextures()->AddNew<TQuorvelGLSLTextureUniformNode>()->SetId(sampler);
    }
    std::unique_ptr<TCompiledShader> vs = VertexShader(vertex->ToString());
    std::unique_ptr<TCompiledShader> ps = PixelShader(fragment->ToString());
    TOwned<TShaderProgram> program = Link(vs->Get(), ps->Get());
    const auto prog = static_cast<GLuint>(program->GetProg());

    GLuint fbo = 0, color = 0, vao = 0, vbo = 0, ubo = 0, texture = 0;
    glGenFramebuffers(1, &fbo);
    glGenTextures(1, &color);
    glGenTextures(1, &texture);
    glGenVertexArrays(1, &vao);
    glGenBuffers(1, &vbo);
    glGenBuffers(1, &ubo);
    GLint previousFbo = 0, viewport[4] = {};
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &previousFbo);
    glGetIntegerv(GL_VIEWPORT, viewport);
    auto cleanup = Finally([&] {
      glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(previousFbo));
      glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
      glUseProgram(0);
      glBindVertexArray(0);
      glBindBufferBase(GL_UNIFORM_BUFFER, 0, 0);
      glBindTexture(GL_TEXTURE_2D, 0);
      glDeleteBuffers(1, &ubo);
      glDeleteBuffers(1, &vbo);
      glDeleteVertexArrays(1, &vao);
      glDeleteTextures(1, &texture);
      glDeleteTextures(1, &color);
      glDeleteFramebuffers(1, &fbo);
    });
    glBindTexture(GL_TEXTURE_2D, color);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA32F, QuadSize, QuadSize, 0, GL_RGBA, GL_FLOAT, nullptr);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, color, 0);
    EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
    const GLenum buffer = GL_COLOR_ATTACHMENT0;
    glDrawBuffers(1, &buffer);
    glViewport(0, 0, QuadSize, QuadSize);
    glDisable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glDisable(GL_SCISSOR_TEST);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);

    if (ATexels) {
      glActiveTexture(GL_TEXTURE0);
      glBindTexture(GL_TEXTURE_2D, texture);
      glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 2, 2, 0, GL_RGBA, GL_UNSIGNED_BYTE, ATexels);
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    }
    glBindBuffer(GL_UNIFORM_BUFFER, ubo);
    glBufferData(GL_UNIFORM_BUFFER, sizeof(AData), &AData, GL_STREAM_DRAW);
    glBindBufferBase(GL_UNIFORM_BUFFER, 0, ubo);

    // Position xyz and texture coordinate uv per vertex, two triangles.
    const float quad[] = {-1, -1, 0, 0, 0, 1, -1, 0, 1, 0, 1, 1, 0, 1, 1,
                          -1, -1, 0, 0, 0, 1, 1,  0, 1, 1, -1, 1, 0, 0, 1};
    glBindVertexArray(vao);
    glBindBuffer(GL_ARRAY_BUFFER, vbo);
    glBufferData(GL_ARRAY_BUFFER, sizeof(quad), quad, GL_STATIC_DRAW);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 5 * sizeof(float), nullptr);
    glEnableVertexAttribArray(6);
    glVertexAttribPointer(6, 2, GL_FLOAT, GL_FALSE, 5 * sizeof(float), reinterpret_cast<void*>(3 * sizeof(float)));
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    // The rest are constant: normal +z, white vertex colour, tangent +x, identity model matrix.
    glVertexAttrib3f(1, 0, 0, 1);
    glVertexAttrib4f(2, 1, 1, 1, 1);
    glVertexAttrib3f(10, 0, 1, 0);
    glVertexAttrib3f(11, 1, 0, 0);
    for (GLuint c = 0; c < 4; ++c) glVertexAttrib4f(12 + c, c == 0, c == 1, c == 2, c == 3);
    glUseProgram(prog);
    glDrawArrays(GL_TRIANGLES, 0, 6);
    glDisableVertexAttribArray(0);
    glDisableVertexAttribArray(6);

    std::vector<TPixel> out(QuadSize * QuadSize);
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    glReadPixels(0, 0, QuadSize, QuadSize, GL_RGBA, GL_FLOAT, out.data());
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    return out;
  }

  static TQuorvelShaderData Block() {
    TQuorvelShaderData d = TQuorvelShaderData::Create();
    d.ModelViewProjectionMatrix = TMatrix3D::Identity();
    d.ViewMatrix = TMatrix3D::Identity();
    d.ProjectionMatrix = TMatrix3D::Identity();
    d.Material.Emissive = TAlphaColorF(0, 0, 0, 0);
    d.Material.Ambient = TAlphaColorF(0, 0, 0, 1);
    d.Material.Diffuse = TAlphaColorF(0.8f, 0.6f, 0.4f, 1);
    d.Material.Specular = TAlphaColorF(0, 0, 0, 1);
    d.Material.Features = TVector3D(1, 0, 0, 0);
    d.Material.Texture[0].Tiling = TPointF(1, 1);
    d.FogMode = 0;
    return d;
  }

  static double Coordinate(int AIndex) { return (2.0 * AIndex + 1.0) / QuadSize - 1.0; }
};

TEST_F(GeneratedQuad, PointLightGivesBlinnPhongAndLambertHasNoHighlight) {
  TQuorvelShaderData d = Block();
  d.EyePos = TVector3D(0, 0, 3, 1);
  d.Material.Ambient = TAlphaColorF(0.2f, 0.2f, 0.2f, 1);
  d.Material.Specular = TAlphaColorF(0.5f, 0.5f, 0.5f, 1);
  d.Material.Shininess = 16;
  d.Material.Features = TVector3D(0.5f, 0, 0, 0);  // opacity
  d.LightsCount = 1;
  TQuorvelShaderLight& light = d.Lights[0];
  light.LightType = 1;
  light.Position = TVector3D(0.3f, 0.2f, 1.5f, 1);
  light.Ambient = TAlphaColorF(0.1f, 0.1f, 0.1f, 1);
  light.Diffuse = TAlphaColorF(1, 1, 1, 1);
  light.Specular = TAlphaColorF(1, 1, 1, 1);
  light.Intensity = 1;
  light.ConstantAttenuation = 1;
  light.LinearAttenuation = 0.25f;
  light.Enabled = 1;
  for (bool blinn : {true, false}) {
    const std::vector<TPixel> out = blinn ? Draw({"LIGHTING", "BLINNPHONG", "USE_SPECULAR"}, d)
                                          : Draw({"LIGHTING", "USE_SPECULAR"}, d);
    if (HasFailure()) return;
    double highest = 0;
    for (int j = 0; j < QuadSize; ++j)
      for (int i = 0; i < QuadSize; ++i) {
        highest = std::max(highest, point_light::Specular(Coordinate(i), Coordinate(j), blinn));
        const TPixel& px = out[static_cast<size_t>(j * QuadSize + i)];
        const float got[3] = {px.R, px.G, px.B};
        for (int c = 0; c < 3; ++c)
          EXPECT_NEAR(got[c], point_light::Expected(Coordinate(i), Coordinate(j), blinn, c), 1.0 / 255)
              << (blinn ? "Blinn" : "Lambert") << " at " << i << "," << j << " channel " << c;
        EXPECT_NEAR(px.A, 0.5, 1e-6);
      }
    if (blinn) {
      EXPECT_GT(highest, 0.3) << "the light should make a highlight on the quad";
    }
  }
}

TEST_F(GeneratedQuad, LinearFogAtThreeHundredUnitsKeepsHalf) {
  TQuorvelShaderData d = Block();
  d.EyePos = TVector3D(0, 0, 300, 1);
  d.FogMode = ShaderDataFogEnabled | ShaderDataFogLinear;  // start 100, end 500
  d.FogColor = TAlphaColorF(0, 0, 1, 1);
  d.Material.Features = TVector3D(0.5f, 0, 0, 0);
  const std::vector<TPixel> out = Draw({}, d);
  if (HasFailure()) return;
  const double unlit[3] = {0.8 * 0.8, 0.6 * 0.6, 0.4 * 0.4};
  const TPixel& px = out[static_cast<size_t>(3 * QuadSize + 3)];
  const double kept = (500.0 - std::sqrt(300.0 * 300.0 + 2 * Coordinate(3) * Coordinate(3))) / 400.0;
  EXPECT_NEAR(px.R, unlit[0] * kept, 1e-4);
  EXPECT_NEAR(px.G, unlit[1] * kept, 1e-4);
  EXPECT_NEAR(px.B, unlit[2] * kept + (1 - kept), 1e-4);
  // The fog colour's alpha blends into the opacity.
  EXPECT_NEAR(px.A, 0.5 * kept + (1 - kept), 1e-4);
}

TEST_F(GeneratedQuad, TiledTextureRepeatsAcrossTheQuad) {
  TQuorvelShaderData d = Block();
  d.Material.Diffuse = TAlphaColorF(1, 1, 1, 1);
  d.Material.Texture[0].Tiling = TPointF(2, 2);
  const uint8_t texels[16] = {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 255};
  const std::vector<TPixel> out = Draw({"USE_TEXTURE", "USE_TEXTURE0"}, d, texels);
  if (HasFailure()) return;
  for (int j = 0; j < QuadSize; ++j)
    for (int i = 0; i < QuadSize; ++i) {
      const double u = std::fmod((i + 0.5) / QuadSize * 2.0, 1.0), v = std::fmod((j + 0.5) / QuadSize * 2.0, 1.0);
      const int texel = (v < 0.5 ? 0 : 2) + (u < 0.5 ? 0 : 1);
      const TPixel& px = out[static_cast<size_t>(j * QuadSize + i)];
      EXPECT_NEAR(px.R, texels[texel * 4] / 255.0, 1e-4) << i << "," << j;
      EXPECT_NEAR(px.G, texels[texel * 4 + 1] / 255.0, 1e-4) << i << "," << j;
      EXPECT_NEAR(px.B, texels[texel * 4 + 2] / 255.0, 1e-4) << i << "," << j;
    }
}

TEST_F(GeneratedQuad, ShadowOfTwoLightsIsAveragedNotClampedAway) {
  TQuorvelShaderData d = Block();
  d.EyePos = TVector3D(0, 0, 3, 1);
  d.Material.Diffuse = TAlphaColorF(1, 1, 1, 1);
  d.LightsCount = 2;
  for (int k = 0; k < 2; ++k) {
    TQuorvelShaderLight& light = d.Lights[k];
    light.LightType = 0;
    light.Direction = TVector3D(0, 0, -1, 0);
    light.Diffuse = TAlphaColorF(0.25f, 0.25f, 0.25f, 1);
    light.Intensity = 1;
    light.Enabled = 1;
  }
  // Shadow map 0 moves the quad to depth 0.5, behind the stored depth 0: every light's lookup
  // says "in shadow" (0.5).
  float shadow[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0.5f, 1};
  std::memcpy(static_cast<void*>(&d.PassData.ShadowMapMatrix[0]), shadow, sizeof(shadow));
  const uint8_t depth[16] = {};
  const std::vector<TPixel> lit = Draw({"LIGHTING", "USE_TEXTURE"}, d, depth);
  const std::vector<TPixel> shadowed = Draw({"LIGHTING", "USE_TEXTURE", "SHADOW", "SHADOWMAPPING"}, d, depth);
  if (HasFailure()) return;
  for (size_t i = 0; i < lit.size(); ++i) {
    EXPECT_NEAR(lit[i].R, 0.5, 1e-4) << i;
    // Two lookups of 0.5 sum to 1.0, which clamped alone left no shadow at all.
    EXPECT_NEAR(shadowed[i].R, 0.25, 1e-4) << i;
  }
}

}  // namespace
