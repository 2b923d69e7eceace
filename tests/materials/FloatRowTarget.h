#pragma once
// Evaluating GLSL functions on the GPU: one pixel per case, read back as floats.
#include <epoxy/gl.h>
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "framework/rtl/Finally.h"

namespace quorvel {

// Draws a full-screen triangle with `AProgram` into a one-row RGBA32F target `AWidth` pixels
// wide, with `AIn` uploaded as the vec4 array "u_In", and reads the row back. The frame
// buffer, viewport and program bound before are restored.
inline std::vector<std::array<float, 4>> DrawFloatRow(GLuint AProgram, GLsizei AWidth,
                                                      const std::vector<float>& AIn) {
  GLuint fbo = 0, color = 0, vao = 0;
  glGenFramebuffers(1, &fbo);
  glGenTextures(1, &color);
  glGenVertexArrays(1, &vao);
  GLint previousFbo = 0, viewport[4] = {};
  glGetIntegerv(GL_FRAMEBUFFER_BINDING, &previousFbo);
  glGetIntegerv(GL_VIEWPORT, viewport);
  auto cleanup = Finally([&] {
    glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(previousFbo));
    glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
    glUseProgram(0);
    glDeleteVertexArrays(1, &vao);
    glDeleteTextures(1, &color);
    glDeleteFramebuffers(1, &fbo);
  });
  glBindTexture(GL_TEXTURE_2D, color);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA32F, AWidth, 1, 0, GL_RGBA, GL_FLOAT, nullptr);
  glBindFramebuffer(GL_FRAMEBUFFER, fbo);
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, color, 0);
  EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
  const GLenum buffer = GL_COLOR_ATTACHMENT0;
  glDrawBuffers(1, &buffer);
  glViewport(0, 0, AWidth, 1);
  glDisable(GL_BLEND);
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_CULL_FACE);
  glDisable(GL_SCISSOR_TEST);
  glUseProgram(AProgram);
  glUniform4fv(glGetUniformLocation(AProgram, "u_In"), static_cast<GLsizei>(AIn.size() / 4), AIn.data());
  glBindVertexArray(vao);
  glDrawArrays(GL_TRIANGLES, 0, 3);
  glBindVertexArray(0);
  std::vector<std::array<float, 4>> out(static_cast<size_t>(AWidth));
  glReadBuffer(GL_COLOR_ATTACHMENT0);
  glReadPixels(0, 0, AWidth, 1, GL_RGBA, GL_FLOAT, out.data());
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  return out;
}

}  // namespace quorvel
