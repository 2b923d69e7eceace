#include "lib/context/opengl/ContextBuffersOpenGL.h"

#include <epoxy/gl.h>

#include <algorithm>
#include <vector>

#include "framework/platform/Windows.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/ResourceStrings.h"
#include "framework/rtl/SysUtils.h"
#include "framework/rtl/Units.h"
#include "lib/context/Context.h"
#include "lib/context/ContextShader.h"
#include "lib/context/ContextTexturing.h"
#include "lib/context/ContextTypes.h"

namespace quorvel {

FW_CLASS_IMPL_META(TOpenGLBufferObject, "Quorvel.Context.Buffers.OpenGL", TBufferObjectClassOf<TOpenGLBufferObject>)
FW_CLASS_NO_MEMBERS(TOpenGLBufferObject)
FW_CLASS_IMPL_META(TOpenGLFBOTextureMap, "Quorvel.Context.Buffers.OpenGL", TFBOTextureMapClassOf<TOpenGLFBOTextureMap>)
FW_CLASS_NO_MEMBERS(TOpenGLFBOTextureMap)
FW_CLASS_IMPL_META(TOpenGLFrameBufferObject, "Quorvel.Context.Buffers.OpenGL", TOpenGLFrameBufferObjectClass)
FW_CLASS_NO_MEMBERS(TOpenGLFrameBufferObject)

namespace {

inline constexpr TResourceString SFBOErrorInContextMethod{"SFBOErrorInContextMethod",
                                                          "Error in context method \"%s\"."};

constexpr const char* StatusPrefix = "error #%d: failed to use framebuffer-object #%d\r\n";
constexpr const char* StatusTextA =
    "Not all framebuffer attachment points are framebuffer attachment complete. This means that at least one "
    "attachment point with a renderbuffer or texture attached has its attached object no longer in existence or "
    "has an attached image with a width or height of zero, or the color attachment point has a non-color-renderable "
    "image attached, or the depth attachment point has a non-depth-renderable image attached, or the stencil "
    "attachment point has a non-stencil-renderable image attached.";
constexpr const char* StatusTextB = "Not all attached images have the same width and height.";
constexpr const char* StatusTextC =
    "The combination of internal formats of the attached images violates an implementation-dependent set of "
    "restrictions.";
constexpr const char* StatusTextD = "unexpected error";

[[noreturn]] void RaiseStatus(GLenum AStatus, uint32_t AHandle, const char* AText) {
  throw Exception(Format(std::string(StatusPrefix) + AText, static_cast<int32_t>(AStatus), static_cast<int32_t>(AHandle)));
}

std::string LinkErrorText(const TObject* AObject, GLenum AError) {
  return Format("%s (Error = %d)", AObject->ClassName(), static_cast<int32_t>(AError));
}

bool IsColorTarget(TRenderTarget ATarget) { return ATarget != TRenderTarget::Depth && ATarget != TRenderTarget::Stencil; }

// Color_0 is 0, Color_k (ordinal k + 2) is k.
int32_t ColorIndex(TRenderTarget ATarget) {
  const int32_t o = static_cast<int32_t>(ATarget);
  return o == 0 ? 0 : o - 2;
}

GLenum TargetBindingQuery(GLenum ATarget) {
  switch (ATarget) {
    case GL_ARRAY_BUFFER: return GL_ARRAY_BUFFER_BINDING;
    case GL_COPY_READ_BUFFER: return GL_COPY_READ_BUFFER_BINDING;
    case GL_COPY_WRITE_BUFFER: return GL_COPY_WRITE_BUFFER_BINDING;
    case GL_DRAW_INDIRECT_BUFFER: return GL_DRAW_INDIRECT_BUFFER_BINDING;
    case GL_ELEMENT_ARRAY_BUFFER: return GL_ELEMENT_ARRAY_BUFFER_BINDING;
    case GL_PIXEL_PACK_BUFFER: return GL_PIXEL_PACK_BUFFER_BINDING;
    case GL_PIXEL_UNPACK_BUFFER: return GL_PIXEL_UNPACK_BUFFER_BINDING;
    case GL_TEXTURE_BUFFER: return GL_TEXTURE_BUFFER;
    case GL_TRANSFORM_FEEDBACK_BUFFER: return GL_TRANSFORM_FEEDBACK_BUFFER_BINDING;
    default: return GL_UNIFORM_BUFFER_BINDING;
  }
}

// GPU objects freed after their GL context is gone have nothing left to delete.

// The current draw-buffer list, up to its last entry that is not GL_NONE.
std::vector<GLenum> DrawBuffers() {
  GLint count = 0;
  glGetIntegerv(GL_MAX_DRAW_BUFFERS, &count);
  std::vector<GLenum> list;
  for (GLint i = 0; i < count; ++i) {
    GLint buffer = 0;
    glGetIntegerv(GL_DRAW_BUFFER0 + static_cast<GLenum>(i), &buffer);
    list.push_back(static_cast<GLenum>(buffer));
  }
  while (list.size() > 1 && list.back() == GL_NONE) list.pop_back();
  return list;
}

// glClearBuffer addresses a draw-buffer slot, not an attachment: the slot that holds the
// attachment in ABuffers (after a forced draw buffer that is slot 0), or -1.
GLint DrawBufferIndexOf(const std::vector<GLenum>& ABuffers, GLenum AAttachment) {
  const auto it = std::find(ABuffers.begin(), ABuffers.end(), AAttachment);
  return it == ABuffers.end() ? -1 : static_cast<GLint>(it - ABuffers.begin());
}

// The GL texture target a texture attaches with (face targets for cube maps), and the
// target and binding query it is bound with.
void TextureTargets(TTexture* ATexture, GLenum& ABindTarget, GLenum& ABinding, GLenum& AAttachTarget) {
  ABindTarget = GL_TEXTURE_2D;
  ABinding = GL_TEXTURE_BINDING_2D;
  AAttachTarget = GL_TEXTURE_2D;
  auto* tex = dynamic_cast<TQuorvelTexture*>(ATexture);
  if (!tex) return;
  if (tex->GetKind() == TQuorvelTextureKind::CubeMap) {
    ABindTarget = GL_TEXTURE_CUBE_MAP;
    ABinding = GL_TEXTURE_BINDING_CUBE_MAP;
    AAttachTarget = GL_TEXTURE_CUBE_MAP_POSITIVE_X + static_cast<GLenum>(tex->GetAttachedCubeMapFace());
    return;
  }
  uint32_t binding, kind;
  tex->GetBindingAndKind(binding, kind);
  ABindTarget = kind;
  ABinding = binding;
  AAttachTarget = kind;
}

// Bind(Context) for a scope; Unbind also when the work raises.
class TBoundScope {
public:
  explicit TBoundScope(TFrameBufferObject* AFBO) : FFBO(AFBO) { FFBO->Bind(FFBO->GetContext()); }
  ~TBoundScope() {
    Quietly("frame buffer unbind", [&] { FFBO->Unbind(FFBO->GetContext()); });
  }
  TBoundScope(const TBoundScope&) = delete;
  TBoundScope& operator=(const TBoundScope&) = delete;

private:
  TFrameBufferObject* FFBO;
};

void InitializeContextBuffersOpenGLUnit() {
  SetBufferObjectClass(TOpenGLBufferObject::StaticMeta());
  FrameBufferObjectClass = TOpenGLFrameBufferObject::StaticMeta();
  FBOTextureMapClass = TOpenGLFBOTextureMap::StaticMeta();
}

void FinalizeContextBuffersOpenGLUnit() {
  SetBufferObjectClass(nullptr);
  FrameBufferObjectClass = TFrameBufferObject::StaticMeta();
  FBOTextureMapClass = TFBOTextureMap::StaticMeta();
}

const TUnitRegistration ContextBuffersOpenGLUnit{
    {"Quorvel.Context.Buffers.OpenGL", {"Quorvel.Context.Buffers"}, &InitializeContextBuffersOpenGLUnit, &FinalizeContextBuffersOpenGLUnit}};

}  // namespace

uint32_t BufferUsageToGL(TBufferUsage AUsage) {
  constexpr uint32_t values[] = {GL_STREAM_DRAW,  GL_STREAM_READ,  GL_STREAM_COPY,  GL_STATIC_DRAW, GL_STATIC_READ,
                                 GL_STATIC_COPY, GL_DYNAMIC_DRAW, GL_DYNAMIC_READ, GL_DYNAMIC_COPY};
  const auto i = static_cast<size_t>(AUsage);
  return i < std::size(values) ? values[i] : GL_STATIC_DRAW;
}

uint32_t BufferTargetToGL(TBufferBindingTarget ATarget) {
  constexpr uint32_t values[] = {GL_ARRAY_BUFFER,         GL_COPY_READ_BUFFER,   GL_COPY_WRITE_BUFFER,
                                 GL_DRAW_INDIRECT_BUFFER, GL_ELEMENT_ARRAY_BUFFER, GL_PIXEL_PACK_BUFFER,
                                 GL_PIXEL_UNPACK_BUFFER,  GL_TEXTURE_BUFFER,     GL_TRANSFORM_FEEDBACK_BUFFER,
                                 GL_UNIFORM_BUFFER};
  const auto i = static_cast<size_t>(ATarget);
  return i < std::size(values) ? values[i] : GL_ARRAY_BUFFER;
}

uint32_t BufferAccessToGL(TBufferAccessMode AMode) {
  switch (AMode) {
    case TBufferAccessMode::ReadOnly: return GL_READ_ONLY;
    case TBufferAccessMode::WriteOnly: return GL_WRITE_ONLY;
    default: return GL_READ_WRITE;
  }
}

// --- TOpenGLBufferObject ---------------------------------------------------------------------

TOpenGLBufferObject::TOpenGLBufferObject(TBufferUsage AUsage, TBufferBindingTarget ATarget, void* AContext)
    : TBufferObject(AUsage, ATarget, AContext) {}

void TOpenGLBufferObject::AfterConstruction() {
  TBufferObject::AfterConstruction();
  GLuint name = 0;
  glGenBuffers(1, &name);
  FHandle = name;
}

TOpenGLBufferObject::~TOpenGLBufferObject() {
  if (FHandle == 0 || !IsGLContextCurrent()) return;
  GLuint name = FHandle;
  // A name never bound has no buffer object yet: invalidating it would leave GL_INVALID_VALUE.
  if (glIsBuffer(name)) glInvalidateBufferData(name);
  glDeleteBuffers(1, &name);
}

intptr_t TOpenGLBufferObject::Bind() {
  if (FBinded) throw Exception("failed to bind - buffer object already bound");
  glBindBuffer(BufferTargetToGL(FTarget), FHandle);
  FBinded = true;
  return FSize;
}

void TOpenGLBufferObject::Unbind() {
  if (!FBinded) throw Exception("failed to unbind - buffer object not bound");
  FBinded = false;
  glBindBuffer(BufferTargetToGL(FTarget), 0);
}

void TOpenGLBufferObject::Push(const void* AData, intptr_t ASize) {
  if (ASize < 0) throw EArgumentOutOfRangeException("failed to push buffer data - negative size");
  glBufferData(BufferTargetToGL(FTarget), ASize, AData, BufferUsageToGL(FUsage));
  FSize = ASize;
}

void* TOpenGLBufferObject::SynchronizedMap(TBufferAccessMode AMode) {
  return glMapBuffer(BufferTargetToGL(FTarget), BufferAccessToGL(AMode));
}

void TOpenGLBufferObject::SynchronizedUnmap() { glUnmapBuffer(BufferTargetToGL(FTarget)); }

void TOpenGLBufferObject::Clear() {
  FSize = 0;
  Unlink();
  const GLenum target = BufferTargetToGL(FTarget);
  GLint bound = 0;
  glGetIntegerv(TargetBindingQuery(target), &bound);
  // Zero-filled byte by byte; with nothing bound there is no store to clear (and no GL error
  // is left behind for the next check).
  if (bound != 0) glClearBufferData(target, GL_R8, GL_RED, GL_UNSIGNED_BYTE, nullptr);
}

void TOpenGLBufferObject::LinkWithBindingPoint(uint32_t ABindingPoint, bool AErrorCheck) {
  FBindingPoint = ABindingPoint;
  glBindBufferBase(GL_UNIFORM_BUFFER, ABindingPoint, FHandle);
  if (AErrorCheck)
    if (const GLenum error = glGetError(); error != GL_NO_ERROR)
      throw Exception("TBufferObject.LinkWithBindingPoint failed: " + LinkErrorText(this, error));
}

void TOpenGLBufferObject::LinkWithShaderProgram(TObject* AProgram, const std::string& ABlockName, const void* AData,
                                                uint32_t ASize, bool AErrorCheck) {
  auto* program = dynamic_cast<TShaderProgram*>(AProgram);
  if (!program) throw EInvalidCast("Invalid class typecast");
  const auto prog = static_cast<GLuint>(program->GetProg());
  auto check = [&] {
    if (!AErrorCheck) return;
    if (const GLenum error = glGetError(); error != GL_NO_ERROR)
      throw Exception("TBufferObject.LinkWithShaderProgram failed: " + LinkErrorText(this, error));
  };
  if (!FLinked) {
    FBlockIndex = glGetUniformBlockIndex(prog, ABlockName.c_str());
    if (FBlockIndex == GL_INVALID_INDEX)
      throw Exception(Format("TBufferObject.LinkWithShaderProgram failed: invalid uniform block index (program=%d, "
                             "index=%d, name=%s)",
                             static_cast<int32_t>(prog), static_cast<int32_t>(FBlockIndex), ABlockName));
    check();
    FLinked = true;
  }
  glUniformBlockBinding(prog, FBlockIndex, FBindingPoint);
  check();
  if (FBinded) {
    glBufferData(GL_UNIFORM_BUFFER, ASize, AData, GL_DYNAMIC_DRAW);
    check();
  }
}

// --- TOpenGLFBOTextureMap --------------------------------------------------------------------

void TOpenGLFBOTextureMap::RemoveTexture(TRenderTarget ATarget) {
  TTexture*& entry = FTargets[Slot(ATarget)];
  if (IsColorTarget(ATarget)) {
    GLenum bindTarget, binding, attachTarget;
    TextureTargets(entry, bindTarget, binding, attachTarget);
    glFramebufferTexture2DEXT(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0 + ColorIndex(ATarget), attachTarget, 0, 0);
  }
  entry = nullptr;
}

// --- TOpenGLFrameBufferObject ----------------------------------------------------------------

uint32_t TOpenGLFrameBufferObjectClass::RenderTargetToValue(TRenderTarget ATarget) const {
  switch (ATarget) {
    case TRenderTarget::Depth: return GL_DEPTH_ATTACHMENT;
    case TRenderTarget::Stencil: return GL_STENCIL_ATTACHMENT;
    default: return GL_COLOR_ATTACHMENT0 + static_cast<uint32_t>(ColorIndex(ATarget));
  }
}

bool TOpenGLFrameBufferObject::CheckStatus() {
  const GLenum status = glCheckFramebufferStatusEXT(GL_FRAMEBUFFER);
  if (status == GL_FRAMEBUFFER_COMPLETE) return true;
  const bool attached = FTextures && FTextures->Count() > 0;
  switch (status) {
    case GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT:
      if (!attached) return false;
      RaiseStatus(status, FHandle, StatusTextA);
    case GL_FRAMEBUFFER_INCOMPLETE_MISSING_ATTACHMENT:
      if (!attached) return false;
      RaiseStatus(status, FHandle, StatusTextB);
    case GL_FRAMEBUFFER_UNSUPPORTED:
      RaiseStatus(status, FHandle, StatusTextC);
    default:
      RaiseStatus(status, FHandle, StatusTextD);
  }
}

void TOpenGLFrameBufferObject::CreateHandle() {
  if (FHandle != 0) return;
  GLuint name = 0;
  glGenFramebuffersEXT(1, &name);
  FHandle = name;
}

void TOpenGLFrameBufferObject::DestroyHandle() {
  if (FHandle == 0) return;
  GLuint name = FHandle;
  if (IsGLContextCurrent()) glDeleteFramebuffers(1, &name);
  FHandle = 0;
}

void TOpenGLFrameBufferObject::Reset() {
  if (FHandle == 0 || !FTextures || FTextures->Count() == 0) return;
  TBoundScope bound(this);
  FTextures->RemoveAll();
  glFramebufferTexture2DEXT(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_TEXTURE_2D, 0, 0);
  glFramebufferTexture2DEXT(GL_FRAMEBUFFER, GL_STENCIL_ATTACHMENT, GL_TEXTURE_2D, 0, 0);
  FTextures->Clear();
}

void TOpenGLFrameBufferObject::CheckMaxAttachments(TRenderTarget ATarget) {
  if (!IsColorTarget(ATarget) || ATarget == TRenderTarget::Color_0) return;
  GLint maxAttachments = 0;
  glGetIntegerv(GL_MAX_COLOR_ATTACHMENTS, &maxAttachments);
  if (maxAttachments < ColorIndex(ATarget) + 1)
    throw Exception("failed to attach texture to FBO - not enough attachments available");
}

void TOpenGLFrameBufferObject::AttachTexture(TContext3D* AContext, TTexture* ATexture, TRenderTarget ATarget) {
  if (!ATexture) return;
  CheckMaxAttachments(ATarget);
  if (ATexture->GetHandle() == 0) {
    if (AContext)
      AContext->GetContextClass()->DoInitializeTexture(ATexture);
    else
      TContext3D::InitializeTexture(ATexture);
  }
  // A cube map attaches one face: with another face chosen since, it is attached again.
  auto* engineTexture = dynamic_cast<TQuorvelTexture*>(ATexture);
  const bool cubeMap = engineTexture && engineTexture->GetKind() == TQuorvelTextureKind::CubeMap;
  if (FTextures->TextureExists(ATarget, ATexture) && !cubeMap) return;
  if (!FContext) FContext = AContext;
  GLenum bindTarget, binding, attachTarget;
  TextureTargets(ATexture, bindTarget, binding, attachTarget);
  GLint saved = 0;
  glGetIntegerv(binding, &saved);
  struct TRestore {
    GLenum Target;
    GLint Saved;
    ~TRestore() { glBindTexture(Target, static_cast<GLuint>(Saved)); }
  } restore{bindTarget, saved};
  glBindTexture(bindTarget, static_cast<GLuint>(ATexture->GetHandle()));
  TBoundScope bound(this);
  glFramebufferTexture2DEXT(GL_FRAMEBUFFER, RenderTargetToValue(ATarget), attachTarget,
                            static_cast<GLuint>(ATexture->GetHandle()), 0);
  FTextures->AddTexture(ATexture, ATarget);
  FSize = TSize(ATexture->GetWidth(), ATexture->GetHeight());
  CheckStatus();
}

void TOpenGLFrameBufferObject::CreateRenderBuffer(int32_t AWidth, int32_t AHeight) {
  TBoundScope bound(this);
  GLuint name = 0;
  glGenRenderbuffersEXT(1, &name);
  FRenderBuf = name;
  glBindRenderbufferEXT(GL_RENDERBUFFER, FRenderBuf);
  glRenderbufferStorageMultisampleEXT(GL_RENDERBUFFER, FMSValue, GL_RGBA, AWidth, AHeight);
  glFramebufferRenderbufferEXT(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, FRenderBuf);
  glBindRenderbufferEXT(GL_RENDERBUFFER, 0);
  FOwnsRenderBuf = true;
  FSize = TSize(AWidth, AHeight);
  CheckStatus();
}

void TOpenGLFrameBufferObject::DestroyRenderBuffer() {
  if (!FOwnsRenderBuf) return;
  GLuint name = FRenderBuf;
  if (IsGLContextCurrent()) glDeleteRenderbuffers(1, &name);
  FRenderBuf = 0;
  FOwnsRenderBuf = false;
}

void TOpenGLFrameBufferObject::CreateDepthBuffer(int32_t AWidth, int32_t AHeight) {
  TBoundScope bound(this);
  GLuint name = 0;
  glGenRenderbuffersEXT(1, &name);
  FDepthBuf = name;
  glBindRenderbufferEXT(GL_RENDERBUFFER, FDepthBuf);
  if (FIsMultisampleBuffer)
    glRenderbufferStorageMultisampleEXT(GL_RENDERBUFFER, FMSValue, GL_DEPTH24_STENCIL8, AWidth, AHeight);
  else
    glRenderbufferStorageEXT(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, AWidth, AHeight);
  glFramebufferRenderbufferEXT(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, FDepthBuf);
  glFramebufferRenderbufferEXT(GL_FRAMEBUFFER, GL_STENCIL_ATTACHMENT, GL_RENDERBUFFER, FDepthBuf);
  glBindRenderbufferEXT(GL_RENDERBUFFER, 0);
  FOwnsDepthBuf = true;
  FSize = TSize(AWidth, AHeight);
  CheckStatus();
}

void TOpenGLFrameBufferObject::DestroyDepthBuffer() {
  if (!FOwnsDepthBuf) return;
  GLuint name = FDepthBuf;
  if (IsGLContextCurrent()) glDeleteRenderbuffers(1, &name);
  FDepthBuf = 0;
  FOwnsDepthBuf = false;
}

void TOpenGLFrameBufferObject::AttachDepthBuffer(uint32_t ABufId, const TPoint&) {
  // The buffer belongs to another frame buffer: attached as it is. Re-specifying its
  // storage here would discard the depth its owner rendered.
  TBoundScope bound(this);
  glFramebufferRenderbufferEXT(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, ABufId);
  glFramebufferRenderbufferEXT(GL_FRAMEBUFFER, GL_STENCIL_ATTACHMENT, GL_RENDERBUFFER, ABufId);
  CheckStatus();
}

void TOpenGLFrameBufferObject::Bind(TContext3D* AContext) {
  if (FHandle == 0) return;
  glBindFramebufferEXT(GL_FRAMEBUFFER, FHandle);
  if (auto* ctx = dynamic_cast<TQuorvelContext*>(AContext)) ctx->PushFBO(this);
}

void TOpenGLFrameBufferObject::Unbind(TContext3D* AContext) {
  // The frame buffer below the popped one becomes current again (binding the popped one
  // would leave the one being unbound bound).
  GLuint next = 0;
  if (auto* ctx = dynamic_cast<TQuorvelContext*>(AContext)) {
    ctx->PopFBO();
    if (TFrameBufferObject* top = ctx->GetCurrentlyBoundBuffer()) next = top->GetHandle();
  }
  glBindFramebufferEXT(GL_FRAMEBUFFER, next);
}

void TOpenGLFrameBufferObject::Resize(int32_t AWidth, int32_t AHeight) {
  FSize = TSize(AWidth, AHeight);
  TBoundScope bound(this);
  if (FIsMultisampleBuffer) {
    if (FRenderBuf == 0) {
      // Storage for render buffer 0 is a GL error; a missing colour buffer is made instead.
      CreateRenderBuffer(AWidth, AHeight);
    } else {
      glBindRenderbufferEXT(GL_RENDERBUFFER, FRenderBuf);
      glRenderbufferStorageMultisampleEXT(GL_RENDERBUFFER, FMSValue, GL_RGBA, AWidth, AHeight);
    }
    if (FDepthBuf != 0) {
      glBindRenderbufferEXT(GL_RENDERBUFFER, FDepthBuf);
      glRenderbufferStorageMultisampleEXT(GL_RENDERBUFFER, FMSValue, GL_DEPTH24_STENCIL8, AWidth, AHeight);
    } else {
      CreateDepthBuffer(AWidth, AHeight);
    }
  } else {
    if (FRenderBuf != 0) {
      glBindRenderbufferEXT(GL_RENDERBUFFER, FRenderBuf);
      glRenderbufferStorageEXT(GL_RENDERBUFFER, GL_RGBA, AWidth, AHeight);
    } else if (!FTextures->GetTextureByTarget(TRenderTarget::Color_0)) {
      // A texture at Color_0 (the target of a texture context) stays the colour target: a
      // render buffer made here would take its attachment point and the texture would no
      // longer receive the frames.
      CreateRenderBuffer(AWidth, AHeight);
    }
    if (FDepthBuf != 0) {
      glBindRenderbufferEXT(GL_RENDERBUFFER, FDepthBuf);
      glRenderbufferStorageEXT(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, AWidth, AHeight);
    } else {
      CreateDepthBuffer(AWidth, AHeight);
    }
  }
  glBindRenderbufferEXT(GL_RENDERBUFFER, 0);
  CheckStatus();
}

void TOpenGLFrameBufferObject::Prepare(const TRenderTargets& ATargets) {
  if (!CheckStatus()) return;
  std::vector<GLenum> buffers;
  for (TRenderTarget target : ATargets)
    if (IsColorTarget(target)) buffers.push_back(RenderTargetToValue(target));
  if (!buffers.empty()) glDrawBuffers(static_cast<GLsizei>(buffers.size()), buffers.data());
  if (TQuorvelContext::HasAnyErrors())
    RaiseContextException(FContext, &SFBOErrorInContextMethod, {"TFrameBufferObject.Prepare()"});
}

void TOpenGLFrameBufferObject::Clear(const TRenderTargets& ATargets, const TAlphaColorF& AColor, float ADepth,
                                     uint32_t AStencil, bool AForceDraw) {
  if (!CheckStatus()) return;
  for (TRenderTarget target : ATargets) {
    if (target == TRenderTarget::Depth) {
      glClearBufferfv(GL_DEPTH, 0, &ADepth);
      if (TQuorvelContext::HasAnyErrors())
        RaiseContextException(FContext, &SFBOErrorInContextMethod, {"TFrameBufferObject.Clear() - clearing depth"});
    } else if (target == TRenderTarget::Stencil) {
      const GLint stencil = static_cast<GLint>(AStencil);
      glClearBufferiv(GL_STENCIL, 0, &stencil);
      if (TQuorvelContext::HasAnyErrors())
        RaiseContextException(FContext, &SFBOErrorInContextMethod,
                              {"TFrameBufferObject.Clear() - clearing stencil"});
    } else {
      const int32_t k = ColorIndex(target);
      const GLenum buffer = GL_COLOR_ATTACHMENT0 + static_cast<GLenum>(k);
      if (AForceDraw) glDrawBuffers(1, &buffer);
      const GLfloat color[4] = {AColor.R, AColor.G, AColor.B, AColor.A};
      const std::vector<GLenum> buffers = DrawBuffers();
      const GLint index = DrawBufferIndexOf(buffers, buffer);
      if (index >= 0) {
        glClearBufferfv(GL_COLOR, index, color);
      } else {
        // Not drawn to now: slot k holds another target or none. The target is cleared as
        // the only draw buffer, and the list is put back.
        glDrawBuffers(1, &buffer);
        glClearBufferfv(GL_COLOR, 0, color);
        glDrawBuffers(static_cast<GLsizei>(buffers.size()), buffers.data());
      }
      if (TQuorvelContext::HasAnyErrors())
        RaiseContextException(FContext, &SFBOErrorInContextMethod,
                              {"TFrameBufferObject.Clear() - activating render target"});
    }
  }
}

}  // namespace quorvel
