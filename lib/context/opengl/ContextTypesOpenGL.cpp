// The GL side of the unit's types: the error query and the blend enumerations in GL terms.
#include <epoxy/gl.h>

#include "lib/context/ContextTypes.h"

namespace quorvel {

uint32_t RealGLGetError() { return glGetError(); }

uint32_t BlendFactorToGL(TBlendFactor AFactor) {
  switch (AFactor) {
    case TBlendFactor::bfZero: return GL_ZERO;
    case TBlendFactor::bfOne: return GL_ONE;
    case TBlendFactor::bfSrcColor: return GL_SRC_COLOR;
    case TBlendFactor::bfOneMinusSrcColor: return GL_ONE_MINUS_SRC_COLOR;
    case TBlendFactor::bfSrcAlpha: return GL_SRC_ALPHA;
    case TBlendFactor::bfOneMinusSrcAlpha: return GL_ONE_MINUS_SRC_ALPHA;
    case TBlendFactor::bfDstAlpha: return GL_DST_ALPHA;
    case TBlendFactor::bfOneMinusDstAlpha: return GL_ONE_MINUS_DST_ALPHA;
    case TBlendFactor::bfDstColor: return GL_DST_COLOR;
    case TBlendFactor::bfOneMinusDstColor: return GL_ONE_MINUS_DST_COLOR;
    case TBlendFactor::bfSrcAlphaSaturate: return GL_SRC_ALPHA_SATURATE;
  }
  return GL_ONE;
}

uint32_t BlendEquationToGL(TBlendEquationFunc AFunc) {
  switch (AFunc) {
    case TBlendEquationFunc::befAdd: return GL_FUNC_ADD;
    case TBlendEquationFunc::befSubtract: return GL_FUNC_SUBTRACT;
    case TBlendEquationFunc::befReverseSubtract: return GL_FUNC_REVERSE_SUBTRACT;
    case TBlendEquationFunc::befMin: return GL_MIN;
    case TBlendEquationFunc::befMax: return GL_MAX;
  }
  return GL_FUNC_ADD;
}

}  // namespace quorvel
