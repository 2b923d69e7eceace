#pragma once
// What the raw-GL peers of the benchmarks share: shaders compiled and programs linked with
// plain GL calls, without the engine.
#include <epoxy/gl.h>

#include <initializer_list>
#include <stdexcept>
#include <string>
#include <utility>

namespace quorvel::bench {

// Raises with GL's log when the text does not compile: a peer drawing nothing times nothing.
inline GLuint CompileShader(GLenum AType, const std::string& AText) {
  const GLuint s = glCreateShader(AType);
  const char* text = AText.c_str();
  glShaderSource(s, 1, &text, nullptr);
  glCompileShader(s);
  GLint ok = 0;
  glGetShaderiv(s, GL_COMPILE_STATUS, &ok);
  if (!ok) {
    char log[2048];
    glGetShaderInfoLog(s, sizeof log, nullptr, log);
    glDeleteShader(s);
    throw std::runtime_error(std::string("raw GL shader: ") + log);
  }
  return s;
}

// Raises with GL's log when the program did not link.
inline void CheckLinked(GLuint AProgram) {
  GLint ok = 0;
  glGetProgramiv(AProgram, GL_LINK_STATUS, &ok);
  if (!ok) {
    char log[2048];
    glGetProgramInfoLog(AProgram, sizeof log, nullptr, log);
    throw std::runtime_error(std::string("raw GL program: ") + log);
  }
}

// A vertex, an optional geometry (empty text: none) and a pixel stage linked, with the
// attributes bound to the locations given.
inline GLuint LinkProgram(const std::string& AVertex, const std::string& AGeometry, const std::string& APixel,
                          std::initializer_list<std::pair<GLuint, const char*>> AAttributes) {
  const GLuint prog = glCreateProgram();
  const GLuint vs = CompileShader(GL_VERTEX_SHADER, AVertex);
  const GLuint gs = AGeometry.empty() ? 0 : CompileShader(GL_GEOMETRY_SHADER, AGeometry);
  const GLuint ps = CompileShader(GL_FRAGMENT_SHADER, APixel);
  glAttachShader(prog, vs);
  if (gs) glAttachShader(prog, gs);
  glAttachShader(prog, ps);
  for (const auto& [location, name] : AAttributes) glBindAttribLocation(prog, location, name);
  glLinkProgram(prog);
  glDeleteShader(vs);
  if (gs) glDeleteShader(gs);
  glDeleteShader(ps);
  CheckLinked(prog);
  return prog;
}

inline GLuint LinkProgram(const std::string& AVertex, const std::string& APixel,
                          std::initializer_list<std::pair<GLuint, const char*>> AAttributes) {
  return LinkProgram(AVertex, std::string(), APixel, AAttributes);
}

// The screen rectangle as a strip already in clip space (position at 0, texture coordinate at
// 1), bound, with the plain state a rectangle pass draws in; the matrix rows are Identity.
struct TScreenQuad {
  static constexpr float Identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  GLuint Vao = 0, Vbo = 0;
  TScreenQuad(int AWidth, int AHeight) {
    const float quad[] = {-1, -1, 0, 0, 0, 1, -1, 0, 1, 0, -1, 1, 0, 0, 1, 1, 1, 0, 1, 1};
    glGenVertexArrays(1, &Vao);
    glBindVertexArray(Vao);
    glGenBuffers(1, &Vbo);
    glBindBuffer(GL_ARRAY_BUFFER, Vbo);
    glBufferData(GL_ARRAY_BUFFER, sizeof(quad), quad, GL_STATIC_DRAW);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 20, nullptr);
    glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 20, reinterpret_cast<void*>(12));
    glEnableVertexAttribArray(0);
    glEnableVertexAttribArray(1);
    // Whatever an earlier benchmark left: no test, culling, scissor or blending; all channels.
    glViewport(0, 0, AWidth, AHeight);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_STENCIL_TEST);
    glDisable(GL_CULL_FACE);
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_BLEND);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
  }
  ~TScreenQuad() {
    glDeleteVertexArrays(1, &Vao);
    glDeleteBuffers(1, &Vbo);
  }
  TScreenQuad(const TScreenQuad&) = delete;
  TScreenQuad& operator=(const TScreenQuad&) = delete;
};

// The frame's last two steps in raw GL with the engine's shader texts: the composition of the
// seven inputs into ComposedFbo (its texture is Composed), then FXAA into SmoothedFbo. The
// uniform block is filled from Data at every run, as the engine fills it at every apply.
struct TRawComposeAndSmooth {
  GLuint Composite, Fxaa, ComposedFbo, SmoothedFbo, Composed, Block;
  const GLuint* Inputs;          // seven textures, in the order of Samplers
  const char* const* Samplers;   // the composition's seven sampler names
  const void* Data;
  GLsizeiptr DataSize;

  void Run() const {
    glBindFramebuffer(GL_FRAMEBUFFER, ComposedFbo);
    glUseProgram(Composite);
    glUniform4fv(glGetUniformLocation(Composite, "_ModelViewProjMatrix"), 4, TScreenQuad::Identity);
    for (int i = 0; i < 7; ++i) {
      glActiveTexture(GL_TEXTURE0 + GLenum(i));
      glBindTexture(GL_TEXTURE_2D, Inputs[i]);
      glUniform1i(glGetUniformLocation(Composite, Samplers[i]), i);
    }
    glBindBuffer(GL_UNIFORM_BUFFER, Block);
    glBufferSubData(GL_UNIFORM_BUFFER, 0, DataSize, Data);
    glBindBufferBase(GL_UNIFORM_BUFFER, 0, Block);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    glBindFramebuffer(GL_FRAMEBUFFER, SmoothedFbo);
    glUseProgram(Fxaa);
    glUniform4fv(glGetUniformLocation(Fxaa, "_ModelViewProjMatrix"), 4, TScreenQuad::Identity);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, Composed);
    glUniform1i(glGetUniformLocation(Fxaa, "_Input"), 0);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
  }
};

}  // namespace quorvel::bench
