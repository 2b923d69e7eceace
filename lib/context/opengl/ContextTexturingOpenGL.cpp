#include "lib/context/opengl/ContextTexturingOpenGL.h"

#include <epoxy/gl.h>

#include <cmath>
#include <cstring>

#include "framework/rtl/Exceptions.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/SysUtils.h"
#include "framework/rtl/Units.h"
#include "lib/context/Context.h"
#include "lib/context/ContextTypes.h"

namespace quorvel {

FW_CLASS_IMPL(TOpenGLQuorvelTexture, "Quorvel.Context.Texturing.OpenGL")
FW_CLASS_NO_MEMBERS(TOpenGLQuorvelTexture)
FW_CLASS_IMPL(TOpenGLQuorvelTextureBitmap, "Quorvel.Context.Texturing.OpenGL")
FW_CLASS_NO_MEMBERS(TOpenGLQuorvelTextureBitmap)

namespace {

using PF = TPixelFormatEx;

constexpr intptr_t GLFormatValues[PixelFormatExCount] = {
    0,                       // None
    GL_RGB, GL_RGBA, GL_BGR, GL_BGRA,
    GL_RGBA16F,              // RGBA16: the float format
    GL_BGR, GL_BGRA, GL_BGR, GL_BGRA, GL_BGR, GL_BGRA,  // BGR_565 .. BGR10_A2
    GL_RGBA,                 // RGB10_A2
    GL_LUMINANCE, GL_LUMINANCE_ALPHA, GL_LUMINANCE_ALPHA, GL_LUMINANCE, GL_ALPHA,  // L .. Alpha
    GL_R16F, GL_RG16F, GL_RGBA16F, GL_R32F, GL_RG32F, GL_RGBA32F,
    GL_RED, GL_R8, GL_R8_SNORM, GL_RED_INTEGER, GL_R8UI, GL_R8I, GL_R16UI, GL_R16I, GL_R32UI, GL_R32I,
    GL_RG, GL_RG8, GL_RG8_SNORM, GL_RG_INTEGER, GL_RG8UI, GL_RG8I, GL_RG16UI, GL_RG16I, GL_RG32UI, GL_RG32I,
    GL_RGB8, GL_SRGB8, GL_RGB565, GL_RGB8_SNORM, GL_R11F_G11F_B10F, GL_RGB9_E5, GL_RGB16F, GL_RGB32F,
    GL_RGB_INTEGER, GL_RGB8UI, GL_RGB8I, GL_RGB16UI, GL_RGB16I, GL_RGB32UI, GL_RGB32I,
    GL_RGBA8, GL_SRGB8_ALPHA8, GL_RGBA8_SNORM, GL_RGB5_A1, GL_RGBA4,
    GL_RGBA_INTEGER, GL_RGBA8UI, GL_RGBA8I, GL_RGB10_A2UI, GL_RGBA16UI, GL_RGBA16I, GL_RGBA32I, GL_RGBA32UI,
    GL_STENCIL_INDEX, GL_DEPTH_COMPONENT, GL_DEPTH_COMPONENT16, GL_DEPTH_COMPONENT24, GL_DEPTH_COMPONENT32,
    GL_DEPTH24_STENCIL8, GL_DEPTH32F_STENCIL8, GL_DEPTH_STENCIL,
};

bool HasClearTexImage() { return epoxy_gl_version() >= 44 || epoxy_has_gl_extension("GL_ARB_clear_texture"); }

void RaiseTextureDataError(GLenum AError) {
  throw Exception(Format("failed to request texture data [error = %d]", static_cast<int32_t>(AError)));
}

inline constexpr TResourceString SCannotUploadTextureFor{"SCannotUploadTextureFor", "Cannot upload texture for %s"};

[[noreturn]] void RaiseUploadError(TObject* ASender) {
  RaiseContextException(ASender, &SCannotUploadTextureFor, {ASender->ClassName()});
}

GLenum GLTextureUnit(int32_t AUnit) {
  return static_cast<GLenum>(TQuorvelContext::PlatformClass()->GetTextureByTextureIndex(AUnit));
}


void InitializeContextTexturingOpenGLUnit() {
  PixelFormatExHelperClass = TOpenGLPixelFormatExHelper::Instance();
  TextureWrapHelperClass = TOpenGLQuorvelTextureWrapHelper::Instance();
  TextureDataTypeHelperClass = TOpenGLQuorvelTextureDataTypeHelper::Instance();
  TextureClass = TOpenGLQuorvelTexture::StaticClass();
  TextureBitmapClass = TOpenGLQuorvelTextureBitmap::StaticClass();
}

void FinalizeContextTexturingOpenGLUnit() {
  PixelFormatExHelperClass = TPixelFormatExHelper::Base();
  TextureWrapHelperClass = TQuorvelTextureWrapHelper::Base();
  TextureDataTypeHelperClass = TQuorvelTextureDataTypeHelper::Base();
  TextureClass = TQuorvelTexture::StaticClass();
  TextureBitmapClass = TQuorvelTextureBitmap::StaticClass();
}

const TUnitRegistration ContextTexturingOpenGLUnit{{"Quorvel.Context.Texturing.OpenGL", {}, &InitializeContextTexturingOpenGLUnit, &FinalizeContextTexturingOpenGLUnit}};

}  // namespace

// --- helpers ------------------------------------------------------------------------------

const TOpenGLPixelFormatExHelper* TOpenGLPixelFormatExHelper::Instance() {
  static const TOpenGLPixelFormatExHelper helper;
  return &helper;
}

intptr_t TOpenGLPixelFormatExHelper::DoToValue(TPixelFormatEx AFormat) const {
  const auto i = static_cast<size_t>(AFormat);
  return i < std::size(GLFormatValues) ? GLFormatValues[i] : 0;
}

bool TOpenGLPixelFormatExHelper::DoIsIntegerTexture(intptr_t AFormat) const {
  switch (AFormat) {
    case GL_RED_INTEGER: case GL_RG_INTEGER: case GL_RGB_INTEGER: case GL_RGBA_INTEGER:
    case GL_RGBA32UI: case GL_RGB32UI: case GL_RGBA16UI: case GL_RGB16UI: case GL_RGBA8UI: case GL_RGB8UI:
    case GL_RGBA32I: case GL_RGB32I: case GL_RGBA16I: case GL_RGB16I: case GL_RGBA8I: case GL_RGB8I:
    case GL_RGB10_A2UI:
      return true;
    default:
      return AFormat >= GL_R8I && AFormat <= GL_RG32UI;  // 0x8231 .. 0x823C
  }
}

intptr_t TOpenGLPixelFormatExHelper::DoTransferType(TPixelFormatEx AComponents, intptr_t AFormat,
                                                    intptr_t AType) const {
  if (AFormat != GL_DEPTH_STENCIL) return AType;
  if (AComponents == PF::Depth32Stencil8 || AType == GL_FLOAT || AType == GL_FLOAT_32_UNSIGNED_INT_24_8_REV)
    return GL_FLOAT_32_UNSIGNED_INT_24_8_REV;
  return GL_UNSIGNED_INT_24_8;
}

int64_t TOpenGLPixelFormatExHelper::DoTransferPixelSize(intptr_t AFormat, intptr_t AType) const {
  switch (AType) {
    case GL_UNSIGNED_BYTE_3_3_2: case GL_UNSIGNED_BYTE_2_3_3_REV:
      return 1;
    case GL_UNSIGNED_SHORT_5_6_5: case GL_UNSIGNED_SHORT_5_6_5_REV: case GL_UNSIGNED_SHORT_4_4_4_4:
    case GL_UNSIGNED_SHORT_4_4_4_4_REV: case GL_UNSIGNED_SHORT_5_5_5_1: case GL_UNSIGNED_SHORT_1_5_5_5_REV:
      return 2;
    case GL_UNSIGNED_INT_8_8_8_8: case GL_UNSIGNED_INT_8_8_8_8_REV: case GL_UNSIGNED_INT_10_10_10_2:
    case GL_UNSIGNED_INT_2_10_10_10_REV: case GL_UNSIGNED_INT_24_8: case GL_UNSIGNED_INT_10F_11F_11F_REV:
    case GL_UNSIGNED_INT_5_9_9_9_REV:
      return 4;
    case GL_FLOAT_32_UNSIGNED_INT_24_8_REV:
      return 8;
    default:
      break;
  }
  int64_t element = 0;
  switch (AType) {
    case GL_BYTE: case GL_UNSIGNED_BYTE: element = 1; break;
    case GL_SHORT: case GL_UNSIGNED_SHORT: case GL_HALF_FLOAT: case GL_2_BYTES: element = 2; break;
    case GL_3_BYTES: element = 3; break;
    case GL_INT: case GL_UNSIGNED_INT: case GL_FLOAT: case GL_4_BYTES: element = 4; break;
    case GL_DOUBLE: element = 8; break;
    default: return 0;
  }
  switch (AFormat) {
    case GL_RED: case GL_GREEN: case GL_BLUE: case GL_ALPHA: case GL_LUMINANCE: case GL_DEPTH_COMPONENT:
    case GL_STENCIL_INDEX: case GL_RED_INTEGER: case GL_GREEN_INTEGER: case GL_BLUE_INTEGER:
    case GL_ALPHA_INTEGER:
      return element;
    case GL_RG: case GL_LUMINANCE_ALPHA: case GL_RG_INTEGER: case GL_DEPTH_STENCIL:
      return 2 * element;
    case GL_RGB: case GL_BGR: case GL_RGB_INTEGER: case GL_BGR_INTEGER:
      return 3 * element;
    case GL_RGBA: case GL_BGRA: case GL_RGBA_INTEGER: case GL_BGRA_INTEGER:
      return 4 * element;
    default:
      return 0;
  }
}

const TOpenGLQuorvelTextureWrapHelper* TOpenGLQuorvelTextureWrapHelper::Instance() {
  static const TOpenGLQuorvelTextureWrapHelper helper;
  return &helper;
}

intptr_t TOpenGLQuorvelTextureWrapHelper::DoToValue(TQuorvelTextureWrap AType) const {
  switch (AType) {
    case TQuorvelTextureWrap::Clamp: return GL_CLAMP;
    case TQuorvelTextureWrap::ClampToEdge: return GL_CLAMP_TO_EDGE;
    case TQuorvelTextureWrap::ClampToBorder: return GL_CLAMP_TO_BORDER;
    case TQuorvelTextureWrap::MirroredRepeat: return GL_MIRRORED_REPEAT;
    default: return GL_REPEAT;
  }
}

const TOpenGLQuorvelTextureDataTypeHelper* TOpenGLQuorvelTextureDataTypeHelper::Instance() {
  static const TOpenGLQuorvelTextureDataTypeHelper helper;
  return &helper;
}

intptr_t TOpenGLQuorvelTextureDataTypeHelper::DoToValue(TQuorvelTextureDataType AType) const {
  using DT = TQuorvelTextureDataType;
  switch (AType) {
    case DT::dtByte: return GL_BYTE;
    case DT::dtShort: return GL_SHORT;
    case DT::dtUnsignedShort: return GL_UNSIGNED_SHORT;
    case DT::dtInt: return GL_INT;
    case DT::dtUnsignedInt: return GL_UNSIGNED_INT;
    case DT::dtFloat: return GL_FLOAT;
    case DT::dtHalfFloat: return GL_HALF_FLOAT;
    case DT::dt2Bytes: return GL_2_BYTES;
    case DT::dt3Bytes: return GL_3_BYTES;
    case DT::dt4Bytes: return GL_4_BYTES;
    case DT::dtDouble: return GL_DOUBLE;
    default: return GL_UNSIGNED_BYTE;
  }
}

// --- shared GL pieces -----------------------------------------------------------------------

bool IsVolumeTextureKind(TQuorvelTextureKind AKind) {
  return AKind == TQuorvelTextureKind::Texture3D || AKind == TQuorvelTextureKind::ImageTexture3D ||
         AKind == TQuorvelTextureKind::Array2D;
}

TGLPixelStateScope::TGLPixelStateScope(int32_t AWidth, int32_t AHeight, int32_t ADepth, int32_t ABytesPerPixel,
                                       int32_t APitch) {
  TQuorvelContext::SetPixelState(AWidth, AHeight, ADepth, ABytesPerPixel, APitch);
}

TGLPixelStateScope::~TGLPixelStateScope() {
  Quietly("pixel store reset", [] { TQuorvelContext::UnsetPixelState(); });
}

TGLTextureBindingRestore::TGLTextureBindingRestore(uint32_t ABinding, uint32_t ATarget) : FTarget(ATarget) {
  glGetIntegerv(ABinding, &FSaved);
}

void TGLTextureBindingRestore::Restore() const { glBindTexture(FTarget, static_cast<GLuint>(FSaved)); }

int64_t TextureTransferSize(const TQuorvelTexture* ATexture, int64_t AWidth, int64_t AHeight, int64_t ADepth) {
  uint32_t comps, format, type;
  ATexture->GetFormatAndType(comps, format, type);
  const int64_t pixel = TPixelFormatExHelper::TransferPixelSize(format, type);
  return pixel * std::max<int64_t>(AWidth, 0) * std::max<int64_t>(AHeight, 0) * std::max<int64_t>(ADepth, 0);
}

uint32_t CubeMapFaceTarget(TQuorvelCubeMapFace AFace) {
  return GL_TEXTURE_CUBE_MAP_POSITIVE_X + static_cast<uint32_t>(AFace);
}

void SetGLTextureFiltering(TTexture* ATexture, const TTextureStyles& AStyles, uint32_t ATarget,
                           uint32_t AInternalFormat) {
  const bool mipmaps = AStyles.Contains(TTextureStyle::MipMaps);
  if (TPixelFormatExHelper::IsIntegerTexture(static_cast<intptr_t>(AInternalFormat))) {
    glTexParameteri(ATarget, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(ATarget, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  } else {
    const bool magNearest = ATexture && ATexture->GetMagFilter() == TTextureFilter::Nearest;
    const bool minNearest = ATexture && ATexture->GetMinFilter() == TTextureFilter::Nearest;
    glTexParameteri(ATarget, GL_TEXTURE_MAG_FILTER, magNearest ? GL_NEAREST : GL_LINEAR);
    if (mipmaps)
      glTexParameteri(ATarget, GL_TEXTURE_MIN_FILTER, minNearest ? GL_NEAREST_MIPMAP_NEAREST : GL_LINEAR_MIPMAP_LINEAR);
    else
      glTexParameteri(ATarget, GL_TEXTURE_MIN_FILTER, minNearest ? GL_NEAREST : GL_LINEAR);
  }
  if (mipmaps) {
    glTexParameteri(ATarget, GL_TEXTURE_BASE_LEVEL, 0);
    glTexParameteri(ATarget, GL_TEXTURE_MAX_LEVEL, 16);
  }
}

namespace {
constexpr GLenum PackNames[6] = {GL_PACK_ALIGNMENT,   GL_PACK_ROW_LENGTH, GL_PACK_IMAGE_HEIGHT,
                                 GL_PACK_SKIP_PIXELS, GL_PACK_SKIP_ROWS,  GL_PACK_SKIP_IMAGES};
constexpr GLenum UnpackNames[6] = {GL_UNPACK_ALIGNMENT,   GL_UNPACK_ROW_LENGTH, GL_UNPACK_IMAGE_HEIGHT,
                                   GL_UNPACK_SKIP_PIXELS, GL_UNPACK_SKIP_ROWS,  GL_UNPACK_SKIP_IMAGES};
}  // namespace

TGLTightPixelStore::TGLTightPixelStore(bool APack) : FPack(APack) {
  const GLenum* names = FPack ? PackNames : UnpackNames;
  for (int i = 0; i < 6; ++i) {
    glGetIntegerv(names[i], &FSaved[i]);
    glPixelStorei(names[i], i == 0 ? 1 : 0);
  }
}

TGLTightPixelStore::~TGLTightPixelStore() {
  const GLenum* names = FPack ? PackNames : UnpackNames;
  for (int i = 0; i < 6; ++i) glPixelStorei(names[i], FSaved[i]);
}

// --- TOpenGLQuorvelTexture -----------------------------------------------------------------

void TOpenGLQuorvelTexture::GetBindingAndKind(uint32_t& ABinding, uint32_t& AKind) const {
  switch (FKind) {
    case TQuorvelTextureKind::Texture3D:
    case TQuorvelTextureKind::ImageTexture3D:
      ABinding = GL_TEXTURE_BINDING_3D;
      AKind = GL_TEXTURE_3D;
      break;
    case TQuorvelTextureKind::CubeMap:
      ABinding = GL_TEXTURE_BINDING_CUBE_MAP;
      AKind = GL_TEXTURE_CUBE_MAP;
      break;
    case TQuorvelTextureKind::Array2D:
      ABinding = GL_TEXTURE_BINDING_2D_ARRAY;
      AKind = GL_TEXTURE_2D_ARRAY;
      break;
    default:
      ABinding = GL_TEXTURE_BINDING_2D;
      AKind = GL_TEXTURE_2D;
      break;
  }
}

void TOpenGLQuorvelTexture::Clear() {
  if (FHandle == 0) return;
  uint32_t comps, format, type;
  GetFormatAndType(comps, format, type);
  const auto name = static_cast<GLuint>(FHandle);
  if (HasClearTexImage()) {
    glClearTexImage(name, 0, format, type, nullptr);
    for (int32_t level = 1; level < FMipMapLevels; ++level) glClearTexImage(name, level, format, type, nullptr);
    return;
  }
  uint32_t binding, target;
  GetBindingAndKind(binding, target);
  TGLTextureBindingRestore restore(binding, target);
  glBindTexture(target, name);
  TGLTightPixelStore store(false);
  const bool volume = IsVolumeTextureKind(FKind);
  // Sized from the transfer format and type the upload reads, in 64 bits.
  const int64_t size = TextureTransferSize(this, FWidth, FHeight, volume ? FDepth : 1);
  std::vector<uint8_t> block(static_cast<size_t>(std::max<int64_t>(size, 0)), 0);
  if (volume) {
    glTexSubImage3D(target, FCurrentMipMapLevel, 0, 0, 0, FWidth, FHeight, FDepth, format, type, block.data());
  } else if (FKind == TQuorvelTextureKind::CubeMap) {
    for (uint32_t face = 0; face < 6; ++face)
      glTexSubImage2D(GL_TEXTURE_CUBE_MAP_POSITIVE_X + face, 0, 0, 0, FWidth, FHeight, format, type, block.data());
  } else {
    glTexSubImage2D(target, FCurrentMipMapLevel, 0, 0, FWidth, FHeight, format, type, block.data());
  }
}

void TOpenGLQuorvelTexture::GenerateMipMap() {
  if (FHandle == 0) return;
  uint32_t binding, target;
  GetBindingAndKind(binding, target);
  {
    TGLTextureBindingRestore restore(binding, target);
    glBindTexture(target, static_cast<GLuint>(FHandle));
    glGenerateMipmap(target);
  }
  if (const GLenum error = glGetError(); error != GL_NO_ERROR) RaiseTextureDataError(error);
}

bool TOpenGLQuorvelTexture::RequestTextureData(std::vector<uint8_t>& ABytes, int64_t& ASize, int32_t ALevel) {
  if (FHandle == 0) {
    ABytes.clear();
    ASize = 0;
    return false;
  }
  uint32_t binding, target;
  GetBindingAndKind(binding, target);
  uint32_t comps, format, type;
  GetFormatAndType(comps, format, type);
  const bool volume = IsVolumeTextureKind(FKind);
  const bool cube = FKind == TQuorvelTextureKind::CubeMap;
  // The base level's size bounds every level. glGetTexImage writes in the transfer format
  // and type, so that sizes the buffer (tight rows: the pack store is set so).
  const int64_t face = TextureTransferSize(this, FWidth, FHeight, volume ? FDepth : 1);
  ASize = cube ? 6 * face : face;
  ABytes.assign(static_cast<size_t>(ASize), 0);
  {
    TGLTextureBindingRestore restore(binding, target);
    glBindTexture(target, static_cast<GLuint>(FHandle));
    TGLTightPixelStore store(true);
    if (cube) {
      for (uint32_t i = 0; i < 6; ++i)
        glGetTexImage(GL_TEXTURE_CUBE_MAP_POSITIVE_X + i, ALevel, format, type, ABytes.data() + i * face);
    } else {
      glGetTexImage(target, ALevel, format, type, ABytes.data());
    }
  }
  if (const GLenum error = glGetError(); error != GL_NO_ERROR) RaiseTextureDataError(error);
  return false;
}

// --- TOpenGLQuorvelTextureBitmap -----------------------------------------------------------

void TOpenGLQuorvelTextureBitmap::UpdateCubeMapFace(TQuorvelCubeMapFace ASide, TTexture* ATexture, const void* ABits,
                                                    int32_t) {
  if (FKind != TQuorvelTextureKind::CubeMap || !ATexture) return;
  const int32_t side = ATexture->GetWidth();
  if (side <= 0 || side != ATexture->GetHeight() || (side & (side - 1)) != 0)
    throw Exception(
        "Invalid cube map face texture size! Cubemap texture needs to be even and dimension must be a power of 2 "
        "(2^x).");
  if (FWidth != side || FHeight != ATexture->GetHeight()) SetSize(side, ATexture->GetHeight());
  TTexture* cube = GetTexture();
  if (!cube) return;
  if (cube->GetHandle() == 0) {
    cube->SetTextureScale(ATexture->GetTextureScale());
    SetSize(ATexture->GetWidth(), ATexture->GetHeight());
    if (cube->GetHandle() == 0) cube->Initialize();
  }
  uint32_t comps, format, type;
  GetFormatAndType(ATexture, comps, format, type);
  const void* pixels = ABits;
  if (auto* qtex = dynamic_cast<TQuorvelTexture*>(ATexture); qtex && qtex->GetBuffer()) pixels = qtex->GetBuffer();
  TGLTextureBindingRestore restore(GL_TEXTURE_BINDING_CUBE_MAP, GL_TEXTURE_CUBE_MAP);
  glBindTexture(GL_TEXTURE_CUBE_MAP, static_cast<GLuint>(cube->GetHandle()));
  TGLTightPixelStore store(false);
  glTexSubImage2D(CubeMapFaceTarget(ASide), 0, 0, 0, ATexture->GetWidth(), ATexture->GetHeight(), format, type,
                  pixels);
  if (DrainGLErrors() != 0) RaiseUploadError(this);
}

void TOpenGLQuorvelTextureBitmap::UpdateBuffer(const void* ABuffer, int64_t ASize) {
  if (FKind == TQuorvelTextureKind::CubeMap) return;
  TQuorvelTexture* tex = GetQuorvelTexture();
  if (tex->GetHandle() == 0) tex->Initialize();
  uint32_t binding, target;
  tex->GetBindingAndKind(binding, target);
  uint32_t comps, format, type;
  GetFormatAndType(tex, comps, format, type);
  const bool volume = IsVolumeTextureKind(tex->GetKind());
  const int32_t depth = volume ? tex->GetDepth() : 0;
  const int64_t needed = TextureTransferSize(tex, tex->GetWidth(), tex->GetHeight(), volume ? depth : 1);
  if (ABuffer && ASize > 0 && ASize < needed)
    throw Exception(Format("Cannot upload texture for %s: %d bytes given, %d needed", ClassName(), ASize, needed));
  TGLTextureBindingRestore restore(binding, target);
  glActiveTexture(GLTextureUnit(std::max(tex->GetTextureUnit(), 0)));
  glBindTexture(target, static_cast<GLuint>(tex->GetHandle()));
  TGLPixelStateScope pixelState(tex->GetWidth(), tex->GetHeight(), depth, PixelFormatExBytes(tex->GetComponents()), 0);
  // The buffer holds tight rows whatever the pixel state chose (alignment 4 would read past
  // the end of odd-width RGB rows).
  TGLTightPixelStore store(false);
  if (volume)
    glTexImage3D(target, 0, comps, tex->GetWidth(), tex->GetHeight(), depth, 0, format, type, ABuffer);
  else
    glTexSubImage2D(target, 0, 0, 0, tex->GetWidth(), tex->GetHeight(), format, type, ABuffer);
  if (DrainGLErrors() != 0) RaiseUploadError(this);
  const TTextureStyles styles = tex->GetStyle() + tex->GetStyleEx();
  TQuorvelContext::DoSetTextureFiltering(tex, styles, target, comps);
  if (styles.Contains(TTextureStyle::MipMaps)) {
    glGenerateMipmap(target);
    if (const GLenum error = glGetError(); error != GL_NO_ERROR)
      throw Exception(Format("failed to generate mipmaps by UpdateBuffer (Error = %d)", static_cast<int32_t>(error)));
  }
}

void TOpenGLQuorvelTextureBitmap::Update3DSlice(int32_t ASlice, const void* ABuffer, int64_t ASize) {
  if (!IsVolumeTextureKind(FKind)) return;
  TQuorvelTexture* tex = GetQuorvelTexture();
  if (tex->GetHandle() == 0) tex->Initialize();
  const bool array = FKind == TQuorvelTextureKind::Array2D;
  const uint32_t target = array ? GL_TEXTURE_2D_ARRAY : GL_TEXTURE_3D;
  const uint32_t binding = array ? GL_TEXTURE_BINDING_2D_ARRAY : GL_TEXTURE_BINDING_3D;
  uint32_t comps, format, type;
  GetFormatAndType(tex, comps, format, type);
  const int64_t needed = TextureTransferSize(tex, tex->GetWidth(), tex->GetHeight(), ASlice);
  if (ABuffer && ASize > 0 && ASize < needed)
    throw Exception(Format("Cannot upload texture for %s: %d bytes given, %d needed", ClassName(), ASize, needed));
  TGLTextureBindingRestore restore(binding, target);
  glBindTexture(target, static_cast<GLuint>(tex->GetHandle()));
  {
    TGLTightPixelStore store(false);
    glTexSubImage3D(target, 0, 0, 0, 0, tex->GetWidth(), tex->GetHeight(), ASlice, format, type, ABuffer);
  }
  if (DrainGLErrors() != 0) RaiseUploadError(this);
  if ((tex->GetStyle() + tex->GetStyleEx()).Contains(TTextureStyle::MipMaps)) {
    glGenerateMipmap(target);
    if (const GLenum error = glGetError(); error != GL_NO_ERROR)
      throw Exception(
          Format("failed to generate mipmaps by Update3DSlice (Error = %d)", static_cast<int32_t>(error)));
  }
}

}  // namespace quorvel
