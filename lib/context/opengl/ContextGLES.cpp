#include "lib/context/opengl/ContextGLES.h"

#include <epoxy/gl.h>

#include <vector>

#include "framework/platform/Windows.h"
#include "framework/rtl/Log.h"

namespace quorvel {

int32_t ClientAttribStackDepth = 0;

namespace {

std::vector<uint8_t>& ReadBack() {
  static std::vector<uint8_t>* buffer = new std::vector<uint8_t>;  // outlives static destructors
  return *buffer;
}

int32_t GDirectStateAccess = 0;
TContext3D::TIndexBufferSupport GIndexBufferSupport = TContext3D::TIndexBufferSupport::Unknown;
TBlendSetting GDefaultBlending;

// Whether GL may be called at all: epoxy aborts on a call without a current context.

// IsContextAvailable for the state hot path: a current context answers at once, without
// the trip through the context-class registry (a third of a state change's cost).
bool StateContextAvailable() { return IsGLContextCurrent() || TQuorvelContext::IsContextAvailable(); }

std::string GLString(GLenum AName) {
  if (!IsGLContextCurrent()) return {};
  const GLubyte* s = glGetString(AName);
  return s ? std::string(reinterpret_cast<const char*>(s)) : std::string();
}

int32_t GLInteger(GLenum AName) {
  if (!IsGLContextCurrent()) return 0;
  GLint value = 0;
  glGetIntegerv(AName, &value);
  return value;
}

void SetCap(GLenum ACap, bool AOn) {
  if (AOn)
    glEnable(ACap);
  else
    glDisable(ACap);
}

struct TClearSetup {
  bool Depth = false;
  GLboolean SavedDepthMask = GL_TRUE;
};

// The clear values and the mask of a clear; a depth clear needs the depth mask open.
GLbitfield PrepareClear(bool ADepth, bool AStencil, bool AColor, TAlphaColor AColorValue, float ADepthValue,
                        uint32_t AStencilValue, TClearSetup& ASetup) {
  GLbitfield mask = 0;
  if (ADepth) {
    mask |= GL_DEPTH_BUFFER_BIT;
    ASetup.Depth = true;
    glGetBooleanv(GL_DEPTH_WRITEMASK, &ASetup.SavedDepthMask);
    glDepthMask(GL_TRUE);
    glClearDepthf(ADepthValue);
  }
  if (AStencil) {
    mask |= GL_STENCIL_BUFFER_BIT;
    glClearStencil(GLint(AStencilValue));
  }
  if (AColor) {
    mask |= GL_COLOR_BUFFER_BIT;
    glClearColor(RedOf(AColorValue) / 255.0f, GreenOf(AColorValue) / 255.0f, BlueOf(AColorValue) / 255.0f,
                 AlphaOf(AColorValue) / 255.0f);
  }
  return mask;
}

void ApplyBlendSetting(const TBlendSetting& S) {
  glBlendEquationSeparate(BlendEquationToGL(S.Func), BlendEquationToGL(S.AlphaFunc));
  glBlendFuncSeparate(BlendFactorToGL(S.ColorSource), BlendFactorToGL(S.ColorDest), BlendFactorToGL(S.AlphaSource),
                      BlendFactorToGL(S.AlphaDest));
}

}  // namespace

uint8_t* ReadBackBuffer(size_t ASize) {
  std::vector<uint8_t>& buffer = ReadBack();
  if (buffer.size() < ASize) buffer.resize(ASize);
  return buffer.data();
}

size_t ReadBackBufferSize() { return ReadBack().size(); }

void FreeReadBackBuffer() {
  std::vector<uint8_t>& buffer = ReadBack();
  buffer.clear();
  buffer.shrink_to_fit();
}

uint32_t StencilOpToGL(TStencilOp AOp) {
  switch (AOp) {
    case TStencilOp::Keep: return GL_KEEP;
    case TStencilOp::Zero: return GL_ZERO;
    case TStencilOp::Replace: return GL_REPLACE;
    case TStencilOp::Increase: return GL_INCR;
    case TStencilOp::Decrease: return GL_DECR;
    case TStencilOp::Invert: return GL_INVERT;
  }
  return GL_INVERT;
}

uint32_t StencilOpExToGL(TStencilOpEx AOp) {
  switch (AOp) {
    case TStencilOpEx::Keep: return GL_KEEP;
    case TStencilOpEx::Zero: return GL_ZERO;
    case TStencilOpEx::Replace: return GL_REPLACE;
    case TStencilOpEx::Increase: return GL_INCR;
    case TStencilOpEx::Decrease: return GL_DECR;
    case TStencilOpEx::Invert: return GL_INVERT;
    case TStencilOpEx::IncreaseWrap: return GL_INCR_WRAP;
    case TStencilOpEx::DecreaseWrap: return GL_DECR_WRAP;
  }
  return GL_KEEP;
}

uint32_t StencilFuncToGL(TStencilFunc AFunc) {
  switch (AFunc) {
    case TStencilFunc::Never: return GL_NEVER;
    case TStencilFunc::Less: return GL_LESS;
    case TStencilFunc::Lequal: return GL_LEQUAL;
    case TStencilFunc::Greater: return GL_GREATER;
    case TStencilFunc::Gequal: return GL_GEQUAL;
    case TStencilFunc::Equal: return GL_EQUAL;
    case TStencilFunc::NotEqual: return GL_NOTEQUAL;
    case TStencilFunc::Always: return GL_ALWAYS;
  }
  return GL_ALWAYS;
}

// --- class functions -------------------------------------------------------------------------------

FW_CLASS_IMPL_META(TQuorvelContextOpenGLES, "Quorvel.Context.GLES", TQuorvelContextOpenGLESClass)
FW_CLASS_NO_MEMBERS(TQuorvelContextOpenGLES)

bool TQuorvelContextOpenGLESClass::Valid() const { return TQuorvelContext::IsContextAvailable(); }

int32_t TQuorvelContextOpenGLESClass::PlatformDirectStateAccess() const {
  if (GDirectStateAccess <= 0) {
    TExtensions& extensions = SharedExtensions();
    GDirectStateAccess = extensions.GetExtension("GL_EXT_direct_state_access") ? 2000 : 0;
    if (GDirectStateAccess <= 0) GDirectStateAccess = extensions.GetExtension("GL_ARB_direct_state_access") ? 1000 : 1;
  }
  return GDirectStateAccess;
}

std::string TQuorvelContextOpenGLESClass::PlatformGetVendorName() const { return GLString(GL_VENDOR); }
std::string TQuorvelContextOpenGLESClass::PlatformGetRendererName() const { return GLString(GL_RENDERER); }
std::string TQuorvelContextOpenGLESClass::PlatformGetVersion() const { return GLString(GL_VERSION); }
std::string TQuorvelContextOpenGLESClass::PlatformGetExtensionString() const { return GLString(GL_EXTENSIONS); }

bool TQuorvelContextOpenGLESClass::PlatformHasAnyErrors() const { return IsGLContextCurrent() && DrainGLErrors() != 0; }

bool TQuorvelContextOpenGLESClass::PlatformHasAnyErrors(intptr_t& AError) const {
  AError = IsGLContextCurrent() ? intptr_t(DrainGLErrors()) : 0;
  return AError != 0;
}

int32_t TQuorvelContextOpenGLESClass::PlatformMaxTextureSize() const {
  return Valid() ? GLInteger(GL_MAX_TEXTURE_SIZE) : 0;
}
int32_t TQuorvelContextOpenGLESClass::PlatformMaxTexture3DSize() const {
  return Valid() ? GLInteger(GL_MAX_3D_TEXTURE_SIZE) : 0;
}
int32_t TQuorvelContextOpenGLESClass::PlatformTextureUnitCount() const {
  return Valid() ? GLInteger(GL_MAX_COMBINED_TEXTURE_IMAGE_UNITS) : 0;
}
int32_t TQuorvelContextOpenGLESClass::PlatformMaxTextureImageUnits() const {
  return GLInteger(GL_MAX_TEXTURE_IMAGE_UNITS);
}
int32_t TQuorvelContextOpenGLESClass::PlatformMaxVertexShaderUniformBlocks() const {
  return GLInteger(GL_MAX_VERTEX_UNIFORM_BLOCKS);
}
int32_t TQuorvelContextOpenGLESClass::PlatformMaxFragmentShaderUniformBlocks() const {
  return GLInteger(GL_MAX_FRAGMENT_UNIFORM_BLOCKS);
}
int32_t TQuorvelContextOpenGLESClass::PlatformMaxUniformBlockSize() const {
  return GLInteger(GL_MAX_UNIFORM_BLOCK_SIZE);
}
int32_t TQuorvelContextOpenGLESClass::PlatformMaxDrawBuffers() const { return GLInteger(GL_MAX_DRAW_BUFFERS); }

TBlendSetting TQuorvelContextOpenGLESClass::GetDefaultBlending() const {
  if (!DefaultBlendingInitialized) {
    GDefaultBlending = TBlendSetting::CreateForFramework();
    DefaultBlendingInitialized = true;
  }
  return GDefaultBlending;
}

int32_t TQuorvelContextOpenGLESClass::GetTextureByTextureIndex(int32_t ATextureIndex) const {
  return ATextureIndex >= 1 && ATextureIndex <= 31 ? int32_t(GL_TEXTURE0) + ATextureIndex : int32_t(GL_TEXTURE0);
}

// --- life cycle ------------------------------------------------------------------------------------

TQuorvelContextOpenGLES::TQuorvelContextOpenGLES(TWindowHandle AParent, int32_t AWidth, int32_t AHeight,
                                                 TMultisample AMultisample, bool ADepthStencil)
    : TQuorvelContext(AParent, AWidth, AHeight, AMultisample, ADepthStencil) {
  FPointOrigin = GL_UPPER_LEFT;
}

TQuorvelContextOpenGLES::TQuorvelContextOpenGLES(TTexture* ATexture, TMultisample AMultisample, bool ADepthStencil)
    : TQuorvelContext(ATexture, AMultisample, ADepthStencil) {
  // Before the first texture context the shared GL context may not exist yet.
  if (IsGLContextCurrent()) {
    glEnable(GL_TEXTURE_3D);
    glEnable(GL_TEXTURE_CUBE_MAP);
  }
  FPointOrigin = GL_UPPER_LEFT;
}

TQuorvelContextOpenGLES::~TQuorvelContextOpenGLES() { FreeReadBackBuffer(); }

TContext3D::TIndexBufferSupport TQuorvelContextOpenGLES::GetIndexBufferSupport() const {
  if (GIndexBufferSupport == TIndexBufferSupport::Unknown) {
    // Asked for its side effect of loading the list; 32-bit indices are core in GL.
    (void)SharedExtensions().GetExtension("GL_OES_element_index_uint");
    GIndexBufferSupport = TIndexBufferSupport::Int32;
  }
  return GIndexBufferSupport;
}

// --- single states and state sets ------------------------------------------------------------------

void TQuorvelContextOpenGLES::DoSetContextState(TContextState AState) {
  if (FMultipleSetContextState.load() > 0 || !StateContextAvailable()) return;
  using S = TContextState;
  switch (AState) {
    case S::cs2DScene:
    case S::cs3DScene: break;
    case S::csZTestOn:
      glEnable(GL_DEPTH_TEST);
      glDepthFunc(GL_LEQUAL);
      break;
    case S::csZTestOff: glDisable(GL_DEPTH_TEST); break;
    case S::csZWriteOn: glDepthMask(GL_TRUE); break;
    case S::csZWriteOff: glDepthMask(GL_FALSE); break;
    case S::csAlphaBlendOn: glEnable(GL_BLEND); break;
    case S::csAlphaBlendOff: glDisable(GL_BLEND); break;
    case S::csStencilOn: glEnable(GL_STENCIL_TEST); break;
    case S::csStencilOff: glDisable(GL_STENCIL_TEST); break;
    case S::csColorWriteOn: glColorMask(1, 1, 1, 1); break;
    case S::csColorWriteOff: glColorMask(0, 0, 0, 0); break;
    case S::csScissorOn: glEnable(GL_SCISSOR_TEST); break;
    case S::csScissorOff: glDisable(GL_SCISSOR_TEST); break;
    case S::csFrontFace:
      glFrontFace(GL_CW);
      glCullFace(GL_BACK);
      glEnable(GL_CULL_FACE);
      break;
    case S::csBackFace:
      glFrontFace(GL_CW);
      glCullFace(GL_FRONT);
      glEnable(GL_CULL_FACE);
      break;
    case S::csAllFace: glDisable(GL_CULL_FACE); break;
  }
}

void TQuorvelContextOpenGLES::DoSetContextStates(const TFwContextStates& AStates) {
  if (!StateContextAvailable()) return;
  using S = TContextState;
  auto has = [&](S s) { return AStates.Contains(s); };
  // In each pair the Off member wins.
  if (has(S::csZWriteOff))
    glDepthMask(GL_FALSE);
  else if (has(S::csZWriteOn))
    glDepthMask(GL_TRUE);
  if (has(S::csZTestOff)) {
    glDisable(GL_DEPTH_TEST);
  } else if (has(S::csZTestOn)) {
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
  }
  if (has(S::csAlphaBlendOff) || has(S::csAlphaBlendOn)) SetCap(GL_BLEND, !has(S::csAlphaBlendOff));
  if (has(S::csStencilOff) || has(S::csStencilOn)) SetCap(GL_STENCIL_TEST, !has(S::csStencilOff));
  if (has(S::csColorWriteOff))
    glColorMask(0, 0, 0, 0);
  else if (has(S::csColorWriteOn))
    glColorMask(1, 1, 1, 1);
  if (has(S::csScissorOff) || has(S::csScissorOn)) SetCap(GL_SCISSOR_TEST, !has(S::csScissorOff));
  if (has(S::csFrontFace) || has(S::csBackFace)) {
    glFrontFace(GL_CW);
    glCullFace(has(S::csFrontFace) ? GL_BACK : GL_FRONT);
    glEnable(GL_CULL_FACE);
  } else if (has(S::csAllFace)) {
    glDisable(GL_CULL_FACE);
  }
}

// --- clears ----------------------------------------------------------------------------------------

void TQuorvelContextOpenGLES::DoClear(const TClearTargets& ATarget, TAlphaColor AColor, float ADepth,
                                      uint32_t AStencil) {
  if (!Valid()) return;
  TClearSetup setup;
  glClear(PrepareClear(FDepthStencil && ATarget.Contains(TClearTarget::Depth),
                       FDepthStencil && ATarget.Contains(TClearTarget::Stencil), ATarget.Contains(TClearTarget::Color),
                       AColor, ADepth, AStencil, setup));
  uint32_t error = GLGetError();
  if (error != 0) RaiseContextException(this, &SErrorInContextMethod, {Format("DoClear (Error = %d)", error)});
  if (setup.Depth) glDepthMask(setup.SavedDepthMask);
  error = GLGetError();
  if (error != 0) RaiseContextException(this, &SErrorInContextMethod, {Format("DoClear (Error = %d)", error)});
}

void TQuorvelContextOpenGLES::DoClearEx(const TRenderTargets& ATarget, TAlphaColor AColor, float ADepth,
                                        uint32_t AStencil) {
  if (!Valid()) return;
  TClearSetup setup;
  glClear(PrepareClear(FDepthStencil && ATarget.Contains(TRenderTarget::Depth),
                       FDepthStencil && ATarget.Contains(TRenderTarget::Stencil),
                       ATarget.Contains(TRenderTarget::Color_0), AColor, ADepth, AStencil, setup));
  if (setup.Depth) glDepthMask(setup.SavedDepthMask);
  const uint32_t error = GLGetError();
  if (error != 0) RaiseContextException(this, &SErrorInContextMethodCode, {"DoClearEx", error});
}

void TQuorvelContextOpenGLES::DoClearBufferFloat(int32_t ABuf, const float* APtr) {
  glClearBufferfv(GL_COLOR, ABuf, APtr);
}

// --- stencil ---------------------------------------------------------------------------------------

void TQuorvelContextOpenGLES::DoSetStencilOp(TStencilOp AFail, TStencilOp AZFail, TStencilOp AZPass) {
  if (!Valid()) return;
  glStencilOp(StencilOpToGL(AFail), StencilOpToGL(AZFail), StencilOpToGL(AZPass));
  if (HasAnyErrors()) RaiseContextException(this, &SErrorInContextMethod, {"DoSetStencilOp"});
}

void TQuorvelContextOpenGLES::DoSetStencilFunc(TStencilFunc AFunc, uint32_t ARef, uint32_t AMask) {
  if (!Valid()) return;
  glStencilFunc(StencilFuncToGL(AFunc), GLint(ARef), AMask);
  if (HasAnyErrors()) RaiseContextException(this, &SErrorInContextMethod, {"DoSetStencilFunc"});
}

void TQuorvelContextOpenGLES::DoSetTwoSidedRendering(TStencilOpEx AFrontFaceFail, TStencilOpEx AFrontFaceZFail,
                                                     TStencilOpEx AFrontFaceZPass, TStencilOpEx ABackFaceFail,
                                                     TStencilOpEx ABackFaceZFail, TStencilOpEx ABackFaceZPass,
                                                     uint32_t AFrontStencilMask, uint32_t ABackStencilMask) {
  if (!IsGLContextCurrent()) return;
  if (SharedExtensions().GetExtension("GL_EXT_stencil_two_side")) {
    glEnable(GL_STENCIL_TEST_TWO_SIDE_EXT);
    glActiveStencilFaceEXT(GL_BACK);
    glStencilOp(StencilOpExToGL(ABackFaceFail), StencilOpExToGL(ABackFaceZFail), StencilOpExToGL(ABackFaceZPass));
    glStencilMask(ABackStencilMask);
    glActiveStencilFaceEXT(GL_FRONT);
    glStencilOp(StencilOpExToGL(AFrontFaceFail), StencilOpExToGL(AFrontFaceZFail), StencilOpExToGL(AFrontFaceZPass));
    glStencilMask(AFrontStencilMask);
    return;
  }
  // Drivers without the EXT entry point: the same effect through the core separate calls.
  glStencilOpSeparate(GL_BACK, StencilOpExToGL(ABackFaceFail), StencilOpExToGL(ABackFaceZFail),
                      StencilOpExToGL(ABackFaceZPass));
  glStencilMaskSeparate(GL_BACK, ABackStencilMask);
  glStencilOpSeparate(GL_FRONT, StencilOpExToGL(AFrontFaceFail), StencilOpExToGL(AFrontFaceZFail),
                      StencilOpExToGL(AFrontFaceZPass));
  glStencilMaskSeparate(GL_FRONT, AFrontStencilMask);
}

// --- polygon offset, smoothing, point sprites ----------------------------------------------------------

void TQuorvelContextOpenGLES::DoSetPolygonOffsetFill(TPolygonOffsetFill AMode, float AFactor, float AUnits) {
  if (!IsGLContextCurrent()) return;
  switch (AMode) {
    case TPolygonOffsetFill::pofOffsetFillOn:
      glEnable(GL_POLYGON_OFFSET_FILL);
      glPolygonOffset(AFactor, AUnits);
      break;
    case TPolygonOffsetFill::pofOffsetFillOff: glDisable(GL_POLYGON_OFFSET_FILL); break;
  }
}

void TQuorvelContextOpenGLES::DoSetSmoothMode(const TSmoothSetting& ASetting) {
  FSmoothTargets = ASetting.Targets;
  if (!IsGLContextCurrent()) return;
  SetCap(GL_POINT_SMOOTH, ASetting.Targets.Contains(TSmoothTarget::stPoints));
  SetCap(GL_LINE_SMOOTH, ASetting.Targets.Contains(TSmoothTarget::stLines));
  SetCap(GL_POLYGON_SMOOTH, ASetting.Targets.Contains(TSmoothTarget::stPolygons));
}

void TQuorvelContextOpenGLES::DoSetPointSprites(bool AEnabled) {
  if (!IsGLContextCurrent()) return;
  if (!AEnabled) {
    glDisable(GL_POINT_SPRITE);
    return;
  }
  glEnable(GL_PROGRAM_POINT_SIZE);
  glTexEnvi(GL_POINT_SPRITE, GL_COORD_REPLACE, 1);
  glPointParameterf(GL_POINT_SIZE_MIN, FPointSizeMin);
  glPointParameterf(GL_POINT_SIZE_MAX, FPointSizeMax);
  glPointParameterf(GL_POINT_FADE_THRESHOLD_SIZE, FPointThreshold);
  glPointParameteri(GL_POINT_SPRITE_COORD_ORIGIN, FPointOrigin);
  glEnable(GL_POINT_SPRITE);
}

void TQuorvelContextOpenGLES::DoSetPointSpriteTextureMode() {
  if (!IsGLContextCurrent()) return;
  glTexEnvi(GL_POINT_SPRITE, GL_COORD_REPLACE, 1);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
}

// --- blending ----------------------------------------------------------------------------------------

int32_t TQuorvelContextOpenGLES::BlendingBufferLimit() {
  return ContextMaxDrawBuffers < BlendingBufferCount ? ContextMaxDrawBuffers : BlendingBufferCount;
}

void TQuorvelContextOpenGLES::SetGlobalBlending(const TBlendSetting& AValue) {
  DisableBlendingBuffers();
  if (!IsGLContextCurrent()) {
    FBlendingBuffers[0] = AValue;
    return;
  }
  SetCap(GL_BLEND, AValue.Enabled);
  FBlendingBuffers[0] = AValue;
  // Applied also for a disabled setting, so a later enable blends as set here.
  ApplyBlendSetting(AValue);
  const uint32_t error = GLGetError();
  if (error != 0)
    Log::d(Format("(TQuorvelContextOpenGLES.SetGlobalBlending failed: %d, %d: %d > %d, %d > %d (Error = %d)",
                  BlendEquationToGL(AValue.Func), BlendEquationToGL(AValue.AlphaFunc),
                  BlendFactorToGL(AValue.ColorSource), BlendFactorToGL(AValue.ColorDest),
                  BlendFactorToGL(AValue.AlphaSource), BlendFactorToGL(AValue.AlphaDest), error));
}

void TQuorvelContextOpenGLES::SetBlendingByIndex(uint32_t AIndex, const TBlendSetting& AValue) {
  const int32_t n = BlendingBufferLimit();
  if (n <= 0 || AIndex >= uint32_t(n)) {
    if (AIndex < uint32_t(BlendingBufferCount)) FBlendingBuffers[AIndex] = TBlendSetting::Create(false);
    return;
  }
  FBlendingBuffers[AIndex] = AValue;
  if (!IsGLContextCurrent()) return;
  if (AValue.Enabled) {
    glEnablei(GL_BLEND, AIndex);
    glBlendEquationSeparatei(AIndex, BlendEquationToGL(AValue.Func), BlendEquationToGL(AValue.AlphaFunc));
    glBlendFuncSeparatei(AIndex, BlendFactorToGL(AValue.ColorSource), BlendFactorToGL(AValue.ColorDest),
                         BlendFactorToGL(AValue.AlphaSource), BlendFactorToGL(AValue.AlphaDest));
  } else {
    glDisablei(GL_BLEND, AIndex);
  }
}

void TQuorvelContextOpenGLES::EnableBlendingBuffers() {
  const TBlendSetting setting = TBlendSetting::Create(true);
  FBlendingBuffers = {};
  for (int32_t i = 0; i < BlendingBufferLimit(); ++i) FBlendingBuffers[size_t(i)] = setting;
  if (!IsGLContextCurrent()) return;
  glEnable(GL_BLEND);
  ApplyBlendSetting(setting);
}

void TQuorvelContextOpenGLES::DisableBlendingBuffers() {
  FBlendingBuffers = {};
  for (int32_t i = 0; i < BlendingBufferLimit(); ++i) SetBlendingByIndex(uint32_t(i), TBlendSetting::Create(false));
  if (IsGLContextCurrent()) glDisable(GL_BLEND);
}

// --- memory barriers, shading --------------------------------------------------------------------------

uint32_t TQuorvelContextOpenGLES::MemoryBarrierFlagToValue(TMemoryBarrierFlag AFlag) {
  using F = TMemoryBarrierFlag;
  switch (AFlag) {
    case F::VertexAttribArrayBarrierBit: return GL_VERTEX_ATTRIB_ARRAY_BARRIER_BIT;
    case F::ElementArrayBarrierBit: return GL_ELEMENT_ARRAY_BARRIER_BIT;
    case F::UniformBarrierBit: return GL_UNIFORM_BARRIER_BIT;
    case F::TextureFetchBarrierBit: return GL_TEXTURE_FETCH_BARRIER_BIT;
    case F::ShaderImageAccessBarrierBit: return GL_SHADER_IMAGE_ACCESS_BARRIER_BIT;
    case F::CommandBarrierBit: return GL_COMMAND_BARRIER_BIT;
    case F::PixelBufferBarrierBit: return GL_PIXEL_BUFFER_BARRIER_BIT;
    case F::TextureUpdateBarrierBit: return GL_TEXTURE_UPDATE_BARRIER_BIT;
    case F::BufferUpdateBarrierBit: return GL_BUFFER_UPDATE_BARRIER_BIT;
    case F::FrameBufferBarrierBit: return GL_FRAMEBUFFER_BARRIER_BIT;
    case F::TransformFeedbackBarrierBit: return GL_TRANSFORM_FEEDBACK_BARRIER_BIT;
    case F::AtomicCounterBarrierBit: return GL_ATOMIC_COUNTER_BARRIER_BIT;
    case F::ShaderStorageBarrierBit: return GL_SHADER_STORAGE_BARRIER_BIT;
  }
  return 0;
}

void TQuorvelContextOpenGLES::SetMemoryBarrierBits(const TMemoryBarrierFlags& ABits) {
  if (IsGLContextCurrent()) glMemoryBarrier(MemoryBarrierFlagsToValue(ABits));
}

void TQuorvelContextOpenGLES::SetMemoryBarrierBit(TMemoryBarrierFlag ABit) {
  if (IsGLContextCurrent()) glMemoryBarrier(MemoryBarrierFlagToValue(ABit));
}

void TQuorvelContextOpenGLES::FetchMemoryBarrierBit() {
  if (IsGLContextCurrent()) glMemoryBarrier(GL_TEXTURE_FETCH_BARRIER_BIT);
}

void TQuorvelContextOpenGLES::SetFlatShading() {
  if (IsGLContextCurrent()) glShadeModel(GL_FLAT);
}

void TQuorvelContextOpenGLES::SetSmoothShading() {
  if (IsGLContextCurrent()) glShadeModel(GL_SMOOTH);
}

// --- viewport, orthographic projection, screen rectangle -------------------------------------------------

void TQuorvelContextOpenGLES::StorePreviousContextSize() { GetContextSize(FOldViewport); }

void TQuorvelContextOpenGLES::SetContextSize(int32_t AXOfs, int32_t AYOfs, int32_t AWidth, int32_t AHeight) {
  if (IsGLContextCurrent()) glViewport(AXOfs, AYOfs, AWidth, AHeight);
}

void TQuorvelContextOpenGLES::SetContextSize(const TQuorvelContextSize& ASize) {
  SetContextSize(ASize[0], ASize[1], ASize[2], ASize[3]);
}

void TQuorvelContextOpenGLES::GetContextSize(TQuorvelContextSize& ASize) {
  if (IsGLContextCurrent()) glGetIntegerv(GL_VIEWPORT, ASize.data());
}

void TQuorvelContextOpenGLES::BeginOrtho(float ALeft, float ATop, float ARight, float ABottom, float ANear,
                                         float AFar) {
  if (IsGLContextCurrent()) glOrtho(ALeft, ARight, ABottom, ATop, ANear, AFar);
}

void TQuorvelContextOpenGLES::BeginOrtho(const TOrthographicData& AData) {
  BeginOrtho(AData.Left, AData.Top, AData.Right, AData.Bottom, AData._Near, AData._Far);
}

void TQuorvelContextOpenGLES::DrawScreenRectangle(const TAlphaColorF& AColor) {
  if (!IsGLContextCurrent()) return;
  glPushMatrix();
  glLoadIdentity();
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  glOrtho(0, 1, 1, 0, 0, 1);
  glColor4f(AColor.R, AColor.G, AColor.B, AColor.A);
  glBegin(GL_QUADS);
  glVertex2i(0, 0);
  glVertex2i(0, 1);
  glVertex2i(1, 1);
  glVertex2i(1, 0);
  glEnd();
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
  glPopMatrix();
}

}  // namespace quorvel
