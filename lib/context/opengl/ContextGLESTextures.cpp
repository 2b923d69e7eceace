// Texture creation, upload, filtering and the copies of the OpenGL context.
#include <epoxy/gl.h>

#include <algorithm>
#include <cstring>

#include "framework/gui/Canvas.h"
#include "framework/io/Path.h"
#include "framework/platform/Windows.h"
#include "framework/rtl/Encoding.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/ResourceStrings.h"
#include "lib/context/ContextBuffersFrameBuffers.h"
#include "lib/context/ContextTexturing.h"
#include "lib/context/opengl/ContextGLES.h"
#include "lib/context/opengl/ContextTexturingOpenGL.h"

namespace quorvel {

namespace {

constexpr const char* ReportFileName = "quorvel3d.context.log";


void SetCubeMapLevels(GLuint AName) {
  glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_BASE_LEVEL, 0);
  glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_MAX_LEVEL, 9);
  if (const uint32_t error = DrainGLErrors(); error != 0)
    throw EContext3DException(Format("failed to create texture storage for cubemap @%d (error = %d)",
                                     static_cast<int32_t>(AName), static_cast<int32_t>(error)));
}

bool IsFloatPixelFormat(TPixelFormat AFormat) {
  return static_cast<int>(AFormat) >= static_cast<int>(TPixelFormat::R16F) &&
         static_cast<int>(AFormat) <= static_cast<int>(TPixelFormat::RGBA32F);
}

// What the operations read of a texture; a plain TTexture gets the defaults of a 2D RGBA8
// texture uploaded as BGRA bytes, unless it names a float format.
struct TTextureSetup {
  TTexture* Plain = nullptr;
  TQuorvelTexture* Engine = nullptr;
  int32_t Unit = 0;
  TQuorvelTextureKind Kind = TQuorvelTextureKind::Texture2D;
  uint32_t Binding = GL_TEXTURE_BINDING_2D;
  uint32_t Target = GL_TEXTURE_2D;
  int32_t Depth = 0;
  TTextureStyles Styles;
  uint32_t Comps = 0, Format = 0, Type = 0;
  int32_t BytesPerPixel = 0;

  explicit TTextureSetup(TTexture* ATexture) : Plain(ATexture) {
    Engine = dynamic_cast<TQuorvelTexture*>(ATexture);
    Styles = ATexture->GetStyle();
    if (Engine) {
      Unit = std::max(Engine->GetTextureUnit(), 0);
      Kind = Engine->GetKind();
      Engine->GetBindingAndKind(Binding, Target);
      Depth = Engine->GetDepth();
      Styles = Styles + Engine->GetStyleEx();
      BytesPerPixel = PixelFormatExBytes(Engine->GetComponents());
    } else {
      BytesPerPixel = PixelFormatBytes(ATexture->GetPixelFormat());
    }
    if (Kind != TQuorvelTextureKind::CubeMap && Styles.Contains(TTextureStyle::RenderTarget))
      Styles.Exclude(TTextureStyle::MipMaps);
  }

  void ReadFormats() {
    if (Engine) {
      Engine->GetFormatAndType(Comps, Format, Type);
    } else if (const TPixelFormat pf = Plain->GetPixelFormat(); IsFloatPixelFormat(pf)) {
      // A float target named by the framework (a filter run into RGBA16F): the format's own
      // storage, filled with the format's transfer type.
      const auto ex = static_cast<TPixelFormatEx>(pf);
      Comps = static_cast<uint32_t>(TPixelFormatExHelper::ToValue(ex));
      Format = static_cast<uint32_t>(TPixelFormatExHelper::ToValue(TPixelFormatExHelper::GetCorrespondingFormat(ex)));
      Type = static_cast<uint32_t>(
          TQuorvelTextureDataTypeHelper::ToValue(TPixelFormatExHelper::GetCorrespondingDataType(ex)));
    } else {
      Comps = static_cast<uint32_t>(TPixelFormatExHelper::ToValue(TPixelFormatEx::RGBA8));
      Format = static_cast<uint32_t>(TPixelFormatExHelper::ToValue(TPixelFormatEx::BGRA));
      Type = static_cast<uint32_t>(TQuorvelTextureDataTypeHelper::ToValue(TQuorvelTextureDataType::dtUnsignedByte));
    }
  }

  // Binds the texture and sets its parameters: wraps, border colour, filtering and, for a
  // cube map, its levels. Reads the formats on the way.
  void BindWithParameters(TTexture* ATexture, GLuint AName) {
    glBindTexture(Target, AName);
    SetWraps();
    ReadFormats();
    if (Engine) {
      const TAlphaColorF border = Engine->GetBorderColor();
      const GLfloat color[4] = {border.R, border.G, border.B, border.A};
      glTexParameterfv(Target, GL_TEXTURE_BORDER_COLOR, color);
    }
    TQuorvelContext::DoSetTextureFiltering(ATexture, Styles, Target, Comps);
    if (Kind == TQuorvelTextureKind::CubeMap) SetCubeMapLevels(AName);
  }

  // A plain texture holds a picture (a bitmap, a filter's input or output): clamped to its
  // edges, so that a sample at a border never reads the opposite border.
  void SetWraps() const {
    const auto wrap = [this](TQuorvelTextureWrap AEngineWrap) {
      return static_cast<GLint>(
          TQuorvelTextureWrapHelper::ToValue(Engine ? AEngineWrap : TQuorvelTextureWrap::ClampToEdge));
    };
    const TQuorvelTextureWrap none = TQuorvelTextureWrap::ClampToEdge;
    glTexParameteri(Target, GL_TEXTURE_WRAP_S, wrap(Engine ? Engine->GetWrapS() : none));
    glTexParameteri(Target, GL_TEXTURE_WRAP_T, wrap(Engine ? Engine->GetWrapT() : none));
    if (IsVolumeTextureKind(Kind)) glTexParameteri(Target, GL_TEXTURE_WRAP_R, wrap(Engine ? Engine->GetWrapR() : none));
  }

  // The argument of the cannot-create / cannot-upload messages.
  std::string Describe(const TQuorvelContextOpenGLESClass* AClass, uint32_t AError, TTexture* ATexture) const {
    if (Engine)
      return quorvel::Format("%s (Error = %d) internal-format=%s, format=%s, type=%s", AClass->ClassName(),
                    static_cast<int32_t>(AError), TPixelFormatExHelper::ToString(Engine->GetComponents()),
                    TPixelFormatExHelper::ToString(Engine->GetFormat()),
                    TQuorvelTextureDataTypeHelper::ToString(Engine->GetDataType()));
    (void)ATexture;
    return quorvel::Format("%s (Error = %d) internal-format=%d, format=%d", AClass->ClassName(), static_cast<int32_t>(AError),
                  static_cast<int32_t>(Comps), static_cast<int32_t>(Format));
  }
};


// Level-0 storage of a 3D or array texture: the mipmap chain of an image texture halves
// every size down to 1 and ends at MAX_LEVEL = levels - 1, so the texture is complete.
void Specify3DStorage(const TTextureSetup& ASetup, int32_t AWidth, int32_t AHeight) {
  glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
  const int32_t levels = ASetup.Engine ? ASetup.Engine->GetMipMapLevels() : 0;
  if (ASetup.Kind == TQuorvelTextureKind::ImageTexture3D && levels > 1) {
    glTexParameteri(ASetup.Target, GL_TEXTURE_BASE_LEVEL, 0);
    glTexParameteri(ASetup.Target, GL_TEXTURE_MAX_LEVEL, levels - 1);
    for (int32_t level = 0; level < levels; ++level)
      glTexImage3D(ASetup.Target, level, static_cast<GLint>(ASetup.Comps), std::max(AWidth >> level, 1),
                   std::max(AHeight >> level, 1), std::max(ASetup.Depth >> level, 1), 0, ASetup.Format, ASetup.Type,
                   nullptr);
  } else {
    glTexImage3D(ASetup.Target, 0, static_cast<GLint>(ASetup.Comps), AWidth, AHeight, ASetup.Depth, 0, ASetup.Format,
                 ASetup.Type, nullptr);
  }
}

std::string ReportText(const TQuorvelContextOpenGLESClass* AClass, const std::string& AMessage) {
  return Format(
      "Error: %s\r\nVendor-Name: %s\r\nRenderer-Name: %s\r\nVersion: %s\r\nExtensions: %s\r\nMaxTextureSize: "
      "%d\r\nMaxTexture3DSize: %d\r\nTextureUnitCount: %d\r\nMaxTextureImageUnits: %d\r\n"
      "MaxVertexShaderUniformBlocks: %d\r\nMaxFragmentShaderUniformBlocks: %d\r\nMaxUniformBlockSize: "
      "%d\r\nMaxDrawBuffers: %d\r\n",
      AMessage, AClass->PlatformGetVendorName(), AClass->PlatformGetRendererName(), AClass->PlatformGetVersion(),
      AClass->PlatformGetExtensionString(), AClass->PlatformMaxTextureSize(), AClass->PlatformMaxTexture3DSize(),
      AClass->PlatformTextureUnitCount(), AClass->PlatformMaxTextureImageUnits(),
      AClass->PlatformMaxVertexShaderUniformBlocks(), AClass->PlatformMaxFragmentShaderUniformBlocks(),
      AClass->PlatformMaxUniformBlockSize(), AClass->PlatformMaxDrawBuffers());
}

void WriteReport(const TQuorvelContextOpenGLESClass* AClass, const std::string& AMessage) {
  const std::string path = TPath::IncludeTrailingPathDelimiter(TPath::GetPublicPath()) + ReportFileName;
  TFile::WriteAllText(path, ReportText(AClass, AMessage), TEncoding::ANSI());
}

void CreateTexture(const TQuorvelContextOpenGLESClass* AClass, TTexture* Texture) {
  if (!AClass->Valid()) throw EContext3DException("TQuorvelContextOpenGLES.CreateFromTexture failed - invalid context");
  if (!IsGLContextCurrent() || !Texture || Texture->GetPixelFormat() == TPixelFormat::None) return;
  // An error left over from unrelated work is not this texture's: reported, then the texture
  // is made all the same (returning would leave it without a GL object, reported as success).
  if (const uint32_t stale = DrainGLErrors(); stale != 0)
    Log::d(Format("<WARNING> TQuorvelContextOpenGLES.DoInitializeTexture: pending GL error %d before creating a "
                  "texture for %s",
                  static_cast<int32_t>(stale), Texture->ClassName()));
  TTextureSetup setup(Texture);
  TGLTextureBindingRestore saved(setup.Binding, setup.Target);
  glActiveTexture(static_cast<GLenum>(AClass->GetTextureByTextureIndex(setup.Unit)));
  const bool generated = Texture->GetHandle() == 0;
  GLuint name = static_cast<GLuint>(Texture->GetHandle());
  if (generated) glGenTextures(1, &name);
  {
    auto undo = Finally([&] {
      saved.Restore();
      // A name made here for a texture that could not be created would only leak.
      if (generated) glDeleteTextures(1, &name);
    });
    setup.BindWithParameters(Texture, name);
    const int32_t width = Texture->GetWidth(), height = Texture->GetHeight();
    {
      TGLPixelStateScope pixelState(width, height, setup.Depth, setup.BytesPerPixel, 0);
      if (IsVolumeTextureKind(setup.Kind)) {
        Specify3DStorage(setup, width, height);
      } else if (setup.Kind == TQuorvelTextureKind::CubeMap) {
        for (GLenum face = 0; face < 6; ++face)
          glTexImage2D(GL_TEXTURE_CUBE_MAP_POSITIVE_X + face, 0, static_cast<GLint>(setup.Comps), width, height, 0,
                       setup.Format, setup.Type, nullptr);
      } else {
        glTexImage2D(setup.Target, 0, static_cast<GLint>(setup.Comps), width, height, 0, setup.Format, setup.Type,
                     nullptr);
      }
      if (const uint32_t error = DrainGLErrors(); error != 0)
        RaiseContextException(nullptr, &SCannotCreateTexture, {setup.Describe(AClass, error, Texture)});
    }
    if (setup.Styles.Contains(TTextureStyle::MipMaps)) glGenerateMipmap(setup.Target);
    saved.Restore();
    if (const uint32_t error = DrainGLErrors(); error != 0)
      RaiseContextException(nullptr, &SCannotCreateTexture,
                            {Format("%s (Error = %d)", AClass->ClassName(), static_cast<int32_t>(error))});
    undo.Dismiss();
  }
  if (auto* access = dynamic_cast<ITextureAccess*>(Texture)) access->SetHandle(name);
}

// The engine texture's own buffer when it holds the whole image; a buffer smaller than the
// image (left from another size) would be read past its end, so Bits is used then.
const void* UploadSource(const TTextureSetup& ASetup, TTexture* ATexture, const void* ABits, int64_t ANeeded) {
  if (!ASetup.Engine || !ASetup.Engine->GetBuffer()) return ABits;
  const int64_t size = ASetup.Engine->GetBufferSize();
  if (size > 0 && size < ANeeded) {
    Log::d(Format("TQuorvelContextOpenGLES.DoUpdateTexture: buffer of %d bytes ignored for %s, %d needed", size,
                  ATexture->ClassName(), ANeeded));
    return ABits;
  }
  return ASetup.Engine->GetBuffer();
}

// Updates a 3D or array texture without erasing it: the storage is re-specified only when
// its size or format differ from the texture's, and the engine buffer (when set) is uploaded.
void Update3DTexture(const TTextureSetup& ASetup, TTexture* ATexture, const void* ASource) {
  GLint width = 0, height = 0, depth = 0, format = 0;
  glGetTexLevelParameteriv(ASetup.Target, 0, GL_TEXTURE_WIDTH, &width);
  glGetTexLevelParameteriv(ASetup.Target, 0, GL_TEXTURE_HEIGHT, &height);
  glGetTexLevelParameteriv(ASetup.Target, 0, GL_TEXTURE_DEPTH, &depth);
  glGetTexLevelParameteriv(ASetup.Target, 0, GL_TEXTURE_INTERNAL_FORMAT, &format);
  if (width != ATexture->GetWidth() || height != ATexture->GetHeight() || depth != ASetup.Depth ||
      static_cast<uint32_t>(format) != ASetup.Comps)
    glTexImage3D(ASetup.Target, 0, static_cast<GLint>(ASetup.Comps), ATexture->GetWidth(), ATexture->GetHeight(),
                 ASetup.Depth, 0, ASetup.Format, ASetup.Type, nullptr);
  const void* buffer = ASetup.Engine ? ASetup.Engine->GetBuffer() : nullptr;
  if (buffer && buffer == ASource)
    glTexSubImage3D(ASetup.Target, 0, 0, 0, 0, ATexture->GetWidth(), ATexture->GetHeight(), ASetup.Depth,
                    ASetup.Format, ASetup.Type, buffer);
}

}  // namespace

void TQuorvelContextOpenGLESClass::DoInitializeTexture(TTexture* ATexture) const {
  try {
    CreateTexture(this, ATexture);
  } catch (const std::exception& e) {
    // The report must not hide the error it reports: a report that cannot be written is
    // logged and the original error goes on.
    try {
      WriteReport(this, e.what());
    } catch (const std::exception& reportError) {
      Log::d(Format("TQuorvelContextOpenGLES.DoInitializeTexture: cannot write the context report: %s",
                    std::string(reportError.what())));
    }
    throw;
  }
}

void TQuorvelContextOpenGLESClass::DoFinalizeTexture(TTexture* ATexture) const {
  if (!ATexture) return;
  auto clearHandle = Finally([ATexture] {
    if (auto* access = dynamic_cast<ITextureAccess*>(ATexture)) access->SetHandle(0);
  });
  if (IsGLContextCurrent()) {
    const auto name = static_cast<GLuint>(ATexture->GetHandle());
    if (name != 0) glDeleteTextures(1, &name);
    if (TQuorvelContext::HasAnyErrors()) RaiseContextException(nullptr, &SErrorInContextMethod, {"DoFinalizeTexture"});
  }
}

void TQuorvelContextOpenGLESClass::DoUpdateTexture(TTexture* ATexture, const void* ABits, int32_t APitch) const {
  if (!IsGLContextCurrent() || !ATexture) return;
  TTextureSetup setup(ATexture);
  {
    // Restored when the block ends, on every way out.
    TGLTextureBindingRestore saved(setup.Binding, setup.Target);
    glActiveTexture(static_cast<GLenum>(GetTextureByTextureIndex(setup.Unit)));
    setup.BindWithParameters(ATexture, static_cast<GLuint>(ATexture->GetHandle()));
    const int32_t width = ATexture->GetWidth(), height = ATexture->GetHeight();
    if (!setup.Styles.Contains(TTextureStyle::RenderTarget)) {
      const int64_t needed =
          setup.Engine
              ? TextureTransferSize(setup.Engine, width, height, IsVolumeTextureKind(setup.Kind) ? setup.Depth : 1)
              : int64_t(width) * height * (IsFloatPixelFormat(ATexture->GetPixelFormat()) ? setup.BytesPerPixel : 4);
      const void* source = UploadSource(setup, ATexture, ABits, needed);
      {
        // The pixel state derives the row length from Pitch and the bytes per pixel, which must
        // then be those of the transfer format (an RGBA32F row is not Pitch / 4 pixels long).
        const int32_t transferBytes =
            setup.Engine ? static_cast<int32_t>(TPixelFormatExHelper::TransferPixelSize(setup.Format, setup.Type))
                         : setup.BytesPerPixel;
        // Pixels handed in hold Pitch bytes a row: fewer than the transfer format reads (8-bit
        // pixels of a half-float texture without its buffer) would be read past their end.
        if (source && source == ABits && APitch > 0 && !IsVolumeTextureKind(setup.Kind) &&
            int64_t(APitch) * height < needed)
          throw Exception(Format("Cannot upload texture for %s: %d bytes given, %d needed", ATexture->ClassName(),
                                 int64_t(APitch) * height, needed));
        TGLPixelStateScope pixelState(width, height, setup.Depth, transferBytes, APitch);
        switch (setup.Kind) {
          case TQuorvelTextureKind::CubeMap:
            for (GLenum face = 0; face < 6; ++face)
              glTexSubImage2D(GL_TEXTURE_CUBE_MAP_POSITIVE_X + face, 0, 0, 0, width, height, setup.Format, setup.Type,
                              source);
            break;
          case TQuorvelTextureKind::Texture3D:
          case TQuorvelTextureKind::Array2D:
            Update3DTexture(setup, ATexture, source);
            break;
          case TQuorvelTextureKind::ImageTexture3D:
            break;
          default:
            glTexSubImage2D(setup.Target, 0, 0, 0, width, height, setup.Format, setup.Type, source);
            break;
        }
      }
      if (const uint32_t error = DrainGLErrors(); error != 0)
        RaiseContextException(nullptr, &SCannotUploadTexture, {setup.Describe(this, error, ATexture)});
    }
    if (setup.Styles.Contains(TTextureStyle::MipMaps)) glGenerateMipmap(setup.Target);
  }
  if (TQuorvelContext::HasAnyErrors()) RaiseContextException(nullptr, &SCannotUploadTexture, {ClassName()});
}

void TQuorvelContextOpenGLESClass::PlatformSetTextureFiltering(TTexture* ATexture, TTextureStyles AStyles,
                                                               uint32_t ATextureKind, uint32_t AInternalFormat) const {
  SetGLTextureFiltering(ATexture, AStyles, ATextureKind, AInternalFormat);
}

void TQuorvelContextOpenGLESClass::PlatformUnsetPixelState() const {
  if (ClientAttribStackDepth <= 0 || !IsGLContextCurrent()) return;
  glPopClientAttrib();
  GLint depth = 0;
  glGetIntegerv(GL_CLIENT_ATTRIB_STACK_DEPTH, &depth);
  ClientAttribStackDepth = depth;
}

void TQuorvelContextOpenGLES::DoCopyToBitmap(TBitmap* Dest, const TRect& ARect) {
  if (!Valid() || !Dest || FWidth <= 0 || FHeight <= 0) return;
  const TRect r(std::max(ARect.Left, 0), std::max(ARect.Top, 0), std::min(ARect.Right, FWidth),
                std::min(ARect.Bottom, FHeight));
  if (r.IsEmpty()) return;
  // The frame goes from the read-back buffer straight into the bitmap's rows: a frame-sized
  // buffer in between would be allocated, cleared and copied once more on every frame. A frame
  // that cannot be read leaves zeros, as that cleared buffer did.
  const uint8_t* frame = ReadFrame(TRect(0, 0, FWidth, FHeight));
  TBitmapData data;
  if (!Dest->Map(TMapAccess::ReadWrite, data)) return;
  auto unmap = Finally([&] { Dest->Unmap(data); });
  const size_t rowBytes = size_t(FWidth) * 4;
  const int32_t right = std::min(r.Right, data.Width);
  const int32_t bottom = std::min(r.Bottom, data.Height);
  for (int32_t y = r.Top; y < bottom && r.Left < right; ++y) {
    uint8_t* row = static_cast<uint8_t*>(data.GetScanline(y)) + size_t(r.Left) * 4;
    const size_t bytes = size_t(right - r.Left) * 4;
    // GL's rows run bottom-up.
    if (frame)
      std::memcpy(row, frame + size_t(FHeight - 1 - y) * rowBytes + size_t(r.Left) * 4, bytes);
    else
      std::memset(row, 0, bytes);
  }
}

void TQuorvelContextOpenGLES::DoCopyToBits(void* Bits, int32_t Pitch, const TRect& ARect) {
  if (!Bits) return;
  const uint8_t* frame = ReadFrame(ARect);
  if (!frame) return;
  const size_t rowBytes = size_t(FWidth) * 4;
  const int32_t rows = ARect.Height();
  const size_t copy = static_cast<size_t>(ARect.Width()) * 4;
  auto* dest = static_cast<uint8_t*>(Bits);
  for (int32_t i = 0; i < rows; ++i)
    std::memcpy(dest + static_cast<ptrdiff_t>(rows - 1 - i) * Pitch, frame + static_cast<size_t>(i) * rowBytes, copy);
}

const uint8_t* TQuorvelContextOpenGLES::ReadFrame(const TRect& ARect) {
  try {
    if (!Valid() || !FDefaultFrameBuf) return nullptr;
    const TSize size = FDefaultFrameBuf->GetSize();
    if (size.Width != FWidth || size.Height != FHeight)
      throw EAbort(Format("context default framebuffer size is not equal to context size: width=%d<>%d, height=%d<>%d",
                          size.Width, FWidth, size.Height, FHeight));
    if (size.Width != ARect.Width() || size.Height != ARect.Height())
      throw EAbort(Format(
          "context default framebuffer size is not equal to destination render size: width=%d<>%d, height=%d<>%d",
          size.Width, ARect.Width(), size.Height, ARect.Height()));
    const size_t rowBytes = static_cast<size_t>(size.Width) * PixelFormatExBytes(TPixelFormatEx::RGBA8);
    uint8_t* buffer = ReadBackBuffer(rowBytes * static_cast<size_t>(size.Height));
    {
      FDefaultFrameBuf->Bind(this);
      auto unbind = Finally([&] { FDefaultFrameBuf->Unbind(this); });
      TGLTightPixelStore store(true);
      glReadPixels(0, 0, size.Width, size.Height, static_cast<GLenum>(TPixelFormatExHelper::ToValue(TPixelFormatEx::BGRA)),
                   GL_UNSIGNED_BYTE, buffer);
    }
    if (HasAnyErrors()) RaiseContextException(this, &SErrorInContextMethod, {"DoCopyToBits"});
    return buffer;
  } catch (const std::exception& e) {
    Log::d(Format("TQuorvelContextOpenGLES.DoCopyToBits: %s", std::string(e.what())));
    return nullptr;
  }
}

}  // namespace quorvel
